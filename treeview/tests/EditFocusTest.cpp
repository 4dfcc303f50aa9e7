// Editing through the edit link (start, cancel, end, the missing link, the
// edited node freed) and moving the focus, on small trees with a recording
// host.
#include <gtest/gtest.h>

#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "TreeTestSupport.h"
#include "VirtualTreeOptions.h"

namespace {

// An edit link that records its calls and answers as told.
class FakeLink : public IVTEditLink {
 public:
  bool prepare = true, start = true, abandon = true, finish = true;
  std::vector<std::string> calls;
  TVTRect placed{};
  bool StartEditing() override { return calls.push_back("start"), start; }
  bool AbandonEditing() override { return calls.push_back("abandon"), abandon; }
  bool FinishEditing() override { return calls.push_back("finish"), finish; }
  bool PrepareEditing(TObject*, TVTNode*, int) override { return calls.push_back("prepare"), prepare; }
  TVTRect EditorBounds() override { return placed; }
  void PlaceEditor(const TVTRect& r) override {
    calls.push_back("place");
    placed = r;
  }
};

struct EditTree {
  struct Events {
    std::shared_ptr<FakeLink> link = std::make_shared<FakeLink>();
    bool giveLink = true;
    std::vector<std::string> log;
    void CreateEditor(TObject*, TVTNode*, int, std::shared_ptr<IVTEditLink>& l) {
      log.push_back("create");
      if (giveLink) l = link;
    }
    void Cancelled(TObject*, int column) { log.push_back("cancelled " + std::to_string(column)); }
    void Edited(TObject*, TVTNode*, int column) { log.push_back("edited " + std::to_string(column)); }
  } events;
  RecordingTree tree;
  std::vector<TVTNode*> n;
  explicit EditTree(bool withEvent = true) {
    tree.ownHost.clientWidth = 200;
    tree.ownHost.clientHeight = 100;
    n = BuildTreeFromLevels(tree, {0, 0, 0});
    tree.RefreshScrollBars(false);
    tree.OptionBits.Misc |= voEditable;
    if (withEvent) tree.OnCreateEditor = decltype(tree.OnCreateEditor)::Bind<&Events::CreateEditor>(&events);
    tree.OnEditCancelled = decltype(tree.OnEditCancelled)::Bind<&Events::Cancelled>(&events);
    tree.OnEdited = decltype(tree.OnEdited)::Bind<&Events::Edited>(&events);
    tree.SetFocusedNode(n[1]);
  }
};

}  // namespace

TEST(Editing, StartAsksPreparesPlacesAndBegins) {
  struct Case {
    const char* what;
    bool prepare, start;
    bool editing;
    std::vector<std::string> calls;
  } cases[] = {
      {"all agree", true, true, true, {"prepare", "place", "start"}},
      {"prepare refuses", false, true, false, {"prepare"}},
      {"begin refuses", true, false, false, {"prepare", "place", "start"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EditTree e;
    e.events.link->prepare = c.prepare;
    e.events.link->start = c.start;
    e.tree.SetTreeState(tsEditPending, true);
    e.tree.ownHost.timers[kEditTimer] = 1000;
    e.tree.ownHost.timers[kScrollTimer] = 20;
    e.tree.StartEditNode();
    EXPECT_FALSE(e.tree.HasTreeState(tsEditPending));
    EXPECT_FALSE(e.tree.ownHost.TimerRunning(kEditTimer));
    EXPECT_FALSE(e.tree.ownHost.TimerRunning(kScrollTimer));
    EXPECT_EQ(e.tree.HasTreeState(tsEditing), c.editing);
    EXPECT_EQ(e.tree.EditedNode, c.editing ? e.n[1] : nullptr);
    EXPECT_EQ(e.events.link->calls, c.calls);
    EXPECT_EQ(e.tree.EditLink(), e.events.link);
  }
  // The editor lies on the focused cell's text rectangle.
  EditTree e;
  e.tree.StartEditNode();
  EXPECT_EQ(e.events.link->placed, e.tree.ComputeNodeCellRect(e.n[1], NoColumn, true, false));
}

TEST(Editing, CellsAndTheEditorFollowHorizontalScrolling) {
  // Columns 0 at 0..199 and 1 at 200..499, the tree scrolled 150 px left.
  EditTree e;
  e.tree.ColumnLayout.Columns = {TVTColumnInfo{0, 0, 200}, TVTColumnInfo{1, 200, 300}};
  e.tree.ColumnLayout.MainColumn = 0;
  e.tree.RefreshScrollBars(false);
  e.tree.SetOffsetX(-150);
  ASSERT_EQ(e.tree.OffsetX(), -150);
  const int top = e.tree.ComputeNodeCellRect(e.n[1], NoColumn, false, false).Top;
  EXPECT_EQ(e.tree.ComputeNodeCellRect(e.n[1], 1, false, false), (TVTRect{50, top, 349, top + 18}));
  EXPECT_EQ(e.tree.ComputeNodeCellRect(e.n[1], 0, false, false), (TVTRect{-150, top, 49, top + 18}));
  // The editor of column 1 lies on that cell as the client shows it.
  e.tree.SetFocusedColumnRaw(1);
  e.tree.StartEditNode();
  ASSERT_TRUE(e.tree.HasTreeState(tsEditing));
  const TVTRect& placed = e.events.link->placed;
  EXPECT_EQ(placed.Left, 50 + e.tree.Margin);
  EXPECT_LE(placed.Right, 349);
  EXPECT_EQ(placed.Top, top);
  e.tree.CancelEditNode();
  // Bringing column 0's text into view scrolls back until it shows.
  e.tree.SetFocusedColumnRaw(0);
  EXPECT_TRUE(e.tree.BringNodeIntoView(e.n[1], false, true));
  EXPECT_GT(e.tree.OffsetX(), -150);
  EXPECT_EQ(e.tree.ComputeNodeCellRect(e.n[1], 0, true, true).Left, 0);
}

TEST(Editing, NoEventNoEditAndAnEventWithoutALinkRaises2000) {
  EditTree none(false);
  none.tree.StartEditNode();
  EXPECT_FALSE(none.tree.HasTreeState(tsEditing));
  EXPECT_EQ(none.tree.EditLink(), nullptr);

  EditTree e;
  e.events.giveLink = false;
  try {
    e.tree.StartEditNode();
    ADD_FAILURE() << "no error";
  } catch (const EVirtualTreeError& error) {
    EXPECT_EQ(error.HelpContext, 2000);
    EXPECT_NE(std::string(error.what()).find("Edit link must not be nil."), std::string::npos);
  }
  EXPECT_FALSE(e.tree.HasTreeState(tsEditing));

  // A disabled focused node, or none, is not edited; nor is a tree without voEditable.
  EditTree d;
  d.n[1]->States |= vsDisabled;
  d.tree.StartEditNode();
  EXPECT_TRUE(d.events.log.empty());
  EditTree o;
  EXPECT_TRUE(o.tree.CanEditNode(o.n[0], NoColumn));
  o.tree.OptionBits.Misc &= std::uint16_t(~voEditable);
  EXPECT_FALSE(o.tree.CanEditNode(o.n[0], NoColumn));
  o.tree.OptionBits.Misc |= voEditable;
  o.tree.ownHost.enabled = false;
  EXPECT_FALSE(o.tree.CanEditNode(o.n[0], NoColumn));
}

TEST(Editing, CancelAndEndFollowTheLink) {
  struct Case {
    const char* what;
    bool cancel;  // else end
    bool linkAgrees;
    bool result;
    std::vector<std::string> log;
    int posts;
  } cases[] = {
      {"cancel agreed", true, true, true, {"create", "cancelled -1"}, 1},
      {"cancel refused", true, false, false, {"create"}, 0},
      {"end agreed", false, true, true, {"create", "edited -1"}, 1},
      {"end refused", false, false, false, {"create"}, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EditTree e;
    e.tree.StartEditNode();
    ASSERT_TRUE(e.tree.HasTreeState(tsEditing));
    e.events.link->abandon = e.events.link->finish = c.linkAgrees;
    e.tree.SetTreeState(tsEditPending, true);
    EXPECT_EQ(c.cancel ? e.tree.CancelEditNode() : e.tree.EndEditNode(), c.result);
    EXPECT_EQ(e.tree.HasTreeState(tsEditing), !c.result);
    EXPECT_FALSE(e.tree.HasTreeState(tsEditPending)) << "a pending edit goes in every case";
    EXPECT_EQ(e.events.log, c.log);
    EXPECT_EQ(e.tree.ownHost.releasePosts, c.posts);
    EXPECT_EQ(e.tree.ownHost.focusRequests, c.posts);
    // The link stays until the posted message lets go of it, and only once the edit is over.
    e.tree.ReleaseEditLink();
    EXPECT_EQ(e.tree.EditLink() == nullptr, c.result);
  }
}

TEST(Editing, FreeingTheEditedNodeEndsTheEditEvenWhenTheLinkRefuses) {
  for (bool agrees : {true, false}) {
    SCOPED_TRACE(agrees);
    EditTree e;
    e.tree.StartEditNode();
    e.events.link->abandon = agrees;
    e.tree.RemoveNode(e.n[1]);
    EXPECT_EQ(e.tree.EditedNode, nullptr);
    EXPECT_FALSE(e.tree.HasTreeState(tsEditing));
    EXPECT_GE(e.tree.ownHost.releasePosts, 1);
    e.tree.ReleaseEditLink();
    EXPECT_EQ(e.tree.EditLink(), nullptr);
  }
}

TEST(Focus, ChangeFocusedNode) {
  struct Recorder {
    bool allow = true;
    int asked = 0;
    void Changing(TObject*, TVTNode*, TVTNode*, int, int, bool& allowed) {
      ++asked;
      allowed = allow;
    }
  };
  // 0 (1, 2), 3 (4): two parents with children.
  {
    RecordingTree tree;
    tree.ownHost.clientHeight = 100;
    tree.ownHost.clientWidth = 100;
    std::vector<TVTNode*> n = BuildTreeFromLevels(tree, {0, 1, 1, 0, 1});
    Recorder r;
    tree.OnFocusChanging = decltype(tree.OnFocusChanging)::Bind<&Recorder::Changing>(&r);
    tree.OptionBits.Auto |= voAutoExpand;
    tree.ChangeFocusedNode(n[0], true);
    EXPECT_EQ(tree.FocusedNode(), n[0]);
    EXPECT_TRUE(n[0]->States & vsExpanded) << "auto-expand opens the focused node";
    EXPECT_EQ(tree.RangeAnchor(), n[0]) << "nothing selected: the anchor follows";
    tree.ChangeFocusedNode(n[3], true);
    EXPECT_FALSE(n[0]->States & vsExpanded) << "the old sibling closes";
    EXPECT_TRUE(n[3]->States & vsExpanded);
    // A refusal keeps the focus; without asking there is no refusal.
    r.allow = false;
    tree.ChangeFocusedNode(n[0], true);
    EXPECT_EQ(tree.FocusedNode(), n[3]);
    const int asked = r.asked;
    tree.ChangeFocusedNode(n[0], false);
    EXPECT_EQ(tree.FocusedNode(), n[0]);
    EXPECT_EQ(r.asked, asked);
    // With a selection the anchor stays.
    tree.SetNodeSelected(n[3], true);
    tree.SetRangeAnchor(n[3]);
    tree.ChangeFocusedNode(n[4], false);
    EXPECT_EQ(tree.RangeAnchor(), n[3]);
  }
  // The hot node is cleared; a negative column becomes 0 with columns; an edit that cannot end keeps the focus.
  {
    EditTree e;
    e.tree.ColumnLayout.Columns = {{0, 0, 100, kAlignLeft, false}};
    e.tree.ColumnLayout.MainColumn = 0;
    e.tree.SetHotNode(e.n[2]);
    e.tree.ChangeFocusedNode(e.n[0], true);
    EXPECT_EQ(e.tree.HotNode(), nullptr);
    EXPECT_EQ(e.tree.FocusedColumn(), 0);
    e.tree.StartEditNode();
    ASSERT_TRUE(e.tree.HasTreeState(tsEditing));
    e.events.link->finish = false;
    e.tree.ChangeFocusedNode(e.n[2], true);
    EXPECT_EQ(e.tree.FocusedNode(), e.n[0]);
    e.events.link->finish = true;
    e.tree.ChangeFocusedNode(nullptr, true);
    EXPECT_EQ(e.tree.FocusedNode(), nullptr);
    EXPECT_EQ(e.events.log.back(), "edited 0");
  }
}

TEST(OleDrag, EffectsFromTheOperations) {
  struct Case {
    std::uint8_t operations;
    std::uint32_t effects;
  } cases[] = {{0, 7}, {1, 1}, {2, 2}, {4, 4}, {3, 3}, {5, 5}, {7, 7}};
  for (const Case& c : cases) EXPECT_EQ(TVirtualTreeCore::AllowedDragEffects(c.operations), c.effects);
}

TEST(OleDrag, TheDragSelectionAndAMoveThatDeletesTheDraggedNodes) {
  struct Case {
    const char* what;
    std::uint32_t effect;
    bool deleteMoved;
    std::uint32_t nodesLeft;
  } cases[] = {
      {"a move with the delete option removes the dragged nodes and their children", 2, true, 2},
      {"a copy keeps them", 1, true, 6},
      {"a move without the option keeps them", 2, false, 6},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    RecordingTree tree;
    //                                    0  1  2  3  4  5
    std::vector<TVTNode*> n = BuildTreeFromLevels(tree, {0, 1, 0, 0, 1, 0});
    if (c.deleteMoved)
      tree.OptionBits.Auto |= voAutoDeleteMovedNodes;
    else
      tree.OptionBits.Auto &= std::uint16_t(~voAutoDeleteMovedNodes);
    tree.SetMultiSelect(true);
    tree.DragOperations = 0;
    tree.SetNodeSelected(n[0], true);
    tree.SetNodeSelected(n[1], true);  // goes with its parent
    tree.SetFocusedNode(n[3]);         // joins the selection
    tree.SetHotNode(n[5]);
    std::uint32_t offered = 0;
    const std::uint32_t effect = tree.StartOleDrag([&](std::uint32_t allowed) {
      offered = allowed;
      EXPECT_TRUE(tree.HasTreeState(tsOLEDragging));
      EXPECT_EQ(tree.DragSelection(), (std::vector<TVTNode*>{n[0], n[1], n[3]}));
      EXPECT_EQ(tree.HotNode(), nullptr);
      return c.effect;
    });
    EXPECT_EQ(effect, c.effect);
    EXPECT_EQ(offered, 7u) << "an empty operations set offers copy, move and link";
    EXPECT_FALSE(tree.HasTreeState(tsOLEDragging));
    EXPECT_TRUE(tree.DragSelection().empty());
    EXPECT_EQ(tree.TotalNodeCount(), c.nodesLeft);
  }
}

TEST(OleDrag, NodesFreedDuringTheDragLeaveItAndAFailureClearsTheState) {
  RecordingTree tree;
  tree.OptionBits.Auto |= voAutoDeleteMovedNodes;
  std::vector<TVTNode*> n = BuildTreeFromLevels(tree, {0, 0, 0});
  tree.SetMultiSelect(true);
  tree.SetNodeSelected(n[0], true);
  tree.SetNodeSelected(n[2], true);
  tree.StartOleDrag([&](std::uint32_t) {
    tree.RemoveNode(n[0]);  // the drop target was this tree, and it moved the node itself
    EXPECT_EQ(tree.DragSelection(), std::vector<TVTNode*>{n[2]});
    return std::uint32_t(2);
  });
  EXPECT_EQ(tree.TotalNodeCount(), 1u);
  EXPECT_THROW(tree.StartOleDrag([](std::uint32_t) -> std::uint32_t { throw std::runtime_error("drag"); }),
               std::runtime_error);
  EXPECT_FALSE(tree.HasTreeState(tsOLEDragging));
  EXPECT_TRUE(tree.DragSelection().empty());
}
