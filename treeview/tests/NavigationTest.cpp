// Walks, positions, hit tests, update blocks, deleting, sorting, expansion
// and scrolling, checked on random trees against a plain model: the nodes in
// tree order, each with whether it is shown and where its row starts.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <random>
#include <set>

#include "ActnList.h"
#include "StdActns.h"
#include "TreeTestSupport.h"

namespace {

// The model: every node in tree order, read from the links alone.
struct Model {
  std::vector<TVTNode*> order;
  std::vector<bool> shown;
  std::vector<int> top;  // row top of shown nodes (tree coordinates)
  std::vector<TVTNode*> shownNodes;
  std::map<TVTNode*, std::size_t> position;
  int totalHeight = 0;
};

Model Read(const RecordingTree& tree) {
  Model m;
  std::function<void(TVTNode*, bool)> visit = [&](TVTNode* parent, bool parentShowsChildren) {
    for (TVTNode* c = parent->FirstChild; c; c = c->NextSibling) {
      const bool shown = parentShowsChildren && (c->States & vsVisible);
      m.position[c] = m.order.size();
      m.order.push_back(c);
      m.shown.push_back(shown);
      m.top.push_back(shown ? m.totalHeight : -1);
      if (shown) {
        m.totalHeight += c->NodeHeight;
        m.shownNodes.push_back(c);
      }
      visit(c, shown && (c->States & vsExpanded));
    }
  };
  if (TVTNode* first = tree.FirstNodeRaw()) visit(first->Parent, true);
  return m;
}

// A random tree: up to `depth` levels, some nodes hidden, some collapsed,
// rows of different heights, every node initialised.
void BuildRandom(RecordingTree& tree, std::mt19937& random, int topLevel, int depth, int maxChildren) {
  std::function<void(TVTNode*, int)> grow = [&](TVTNode* parent, int level) {
    const int count = level == 0 ? topLevel : std::uniform_int_distribution<int>(0, maxChildren)(random);
    for (int i = 0; i < count; ++i) {
      TVTNode* n = tree.AllocateNode();
      n->States |= vsInitialized;
      if (std::uniform_int_distribution<int>(0, 9)(random) == 0) n->States &= std::uint16_t(~vsVisible);
      const int height = std::uniform_int_distribution<int>(0, 3)(random) == 0 ? 30 : 18;
      n->NodeHeight = std::uint16_t(height);
      n->TotalHeight = std::uint32_t(height);
      tree.LinkNode(n, parent, 4);
      if (level + 1 < depth) grow(n, level + 1);
    }
  };
  grow(nullptr, 0);
  // Expand about two thirds of the nodes with children.
  std::vector<TVTNode*> all;
  for (TVTNode* n = tree.FirstNodeRaw(); n; n = tree.NextNodeRaw(n)) all.push_back(n);
  for (TVTNode* n : all) {
    if (n->ChildCount && std::uniform_int_distribution<int>(0, 2)(random) != 0) tree.ToggleExpansion(n);
  }
}

TVTNode* ModelNext(const Model& m, std::size_t i, bool shownOnly) {
  for (std::size_t j = i + 1; j < m.order.size(); ++j) {
    if (!shownOnly || m.shown[j]) return m.order[j];
  }
  return nullptr;
}

TVTNode* ModelPrevious(const Model& m, std::size_t i, bool shownOnly) {
  for (std::size_t j = i; j-- > 0;) {
    if (!shownOnly || m.shown[j]) return m.order[j];
  }
  return nullptr;
}

struct UpdateRecorder {
  void Updating(TObject*, int state) { states.push_back(state); }
  std::vector<int> states;
};

// A tree with images, check boxes and a fixed text width, for the geometry.
class GeometryTree : public RecordingTree {
 public:
  // The worker may be validating this tree: it stops before this class's
  // members and overrides go.
  ~GeometryTree() override { Shutdown(); }
  int textWidth = 50;
  int stateWidth = 16, normalWidth = 16, checkWidth = 16;
  std::function<int(TVTNode*, TVTNode*)> compare;

 protected:
  int DoGetNodeWidth(TVTNode*, int) override { return textWidth; }
  int NodeImageWidth(TVTNode*, int, bool state) override { return state ? stateWidth : normalWidth; }
  int CheckImageWidth() const override { return checkWidth; }
  int DoCompare(TVTNode* a, TVTNode* b, int) override { return compare ? compare(a, b) : 0; }
};

}  // namespace

TEST(TreeNavigation, BothWalkFamiliesFollowTheModel) {
  for (unsigned seed : {1u, 2u, 3u, 4u}) {
    SCOPED_TRACE(seed);
    std::mt19937 random(seed);
    RecordingTree tree;
    BuildRandom(tree, random, 12, 4, 5);
    const Model m = Read(tree);
    CheckTreeInvariants(tree);
    ASSERT_FALSE(m.order.empty());
    EXPECT_EQ(tree.VisibleCount(), m.shownNodes.size());
    EXPECT_EQ(tree.FirstNode(), m.order.front());
    EXPECT_EQ(tree.FirstNodeRaw(), m.order.front());
    EXPECT_EQ(tree.LastNodeOfRaw(nullptr), m.order.back());
    EXPECT_EQ(tree.LastNodeOf(nullptr), m.order.back());
    EXPECT_EQ(tree.FirstVisibleNode(), m.shownNodes.front());
    EXPECT_EQ(tree.FirstVisibleNodeRaw(), m.shownNodes.front());
    EXPECT_EQ(tree.LastVisibleNodeOfRaw(nullptr), m.shownNodes.back());
    EXPECT_EQ(tree.LastVisibleNodeOf(nullptr), m.shownNodes.back());
    EXPECT_EQ(tree.NextNode(nullptr), nullptr);
    EXPECT_EQ(tree.PreviousVisibleNode(nullptr), nullptr);
    for (std::size_t i = 0; i < m.order.size(); ++i) {
      TVTNode* n = m.order[i];
      SCOPED_TRACE(i);
      EXPECT_EQ(tree.NextNodeRaw(n), ModelNext(m, i, false));
      EXPECT_EQ(tree.NextNode(n), ModelNext(m, i, false));
      EXPECT_EQ(tree.PreviousNodeRaw(n), ModelPrevious(m, i, false));
      EXPECT_EQ(tree.PreviousNode(n), ModelPrevious(m, i, false));
      // Hidden starts count from their place in tree order too.
      EXPECT_EQ(tree.NextVisibleNodeRaw(n), ModelNext(m, i, true));
      EXPECT_EQ(tree.NextVisibleNode(n), ModelNext(m, i, true));
      EXPECT_EQ(tree.PreviousVisibleNodeRaw(n), ModelPrevious(m, i, true));
      EXPECT_EQ(tree.PreviousVisibleNode(n), ModelPrevious(m, i, true));
      EXPECT_EQ(tree.NodeFullyShown(n), bool(m.shown[i]));
      // The deepest last descendant, and the nearest shown ancestor.
      TVTNode* deepest = nullptr;
      for (std::size_t j = i + 1; j < m.order.size() && tree.NodeHasAncestor(m.order[j], n); ++j) deepest = m.order[j];
      EXPECT_EQ(tree.LastNodeOfRaw(n), deepest);
      EXPECT_EQ(tree.LastNodeOf(n), deepest);
      TVTNode* ancestor = nullptr;
      int level = 0;
      for (TVTNode* p = n->Parent; p != tree.FirstNodeRaw()->Parent; p = p->Parent, ++level) {
        if (!ancestor && m.shown[m.position.at(p)]) ancestor = p;
        EXPECT_TRUE(tree.NodeHasAncestor(n, p));
      }
      EXPECT_EQ(tree.VisibleAncestorOf(n), ancestor);
      EXPECT_EQ(tree.NodeLevel(n), level);
      EXPECT_FALSE(tree.NodeHasAncestor(n, n));
      EXPECT_FALSE(tree.NodeHasAncestor(n, nullptr));
      // Siblings.
      TVTNode* nextShownSibling = n->NextSibling;
      while (nextShownSibling && !(nextShownSibling->States & vsVisible))
        nextShownSibling = nextShownSibling->NextSibling;
      TVTNode* previousShownSibling = n->PrevSibling;
      while (previousShownSibling && !(previousShownSibling->States & vsVisible))
        previousShownSibling = previousShownSibling->PrevSibling;
      EXPECT_EQ(tree.NextSiblingOf(n), n->NextSibling);
      EXPECT_EQ(tree.PreviousSiblingOf(n), n->PrevSibling);
      EXPECT_EQ(tree.NextVisibleSibling(n), nextShownSibling);
      EXPECT_EQ(tree.PreviousVisibleSibling(n), previousShownSibling);
      EXPECT_EQ(tree.PreviousVisibleSiblingRaw(n), previousShownSibling);
      // Children.
      TVTNode* firstShownChild = n->FirstChild;
      while (firstShownChild && !(firstShownChild->States & vsVisible)) firstShownChild = firstShownChild->NextSibling;
      EXPECT_EQ(tree.FirstChildOf(n), n->FirstChild);
      EXPECT_EQ(tree.LastChildOf(n), n->LastChild);
      EXPECT_EQ(tree.LastChildOfRaw(n), n->LastChild);
      EXPECT_EQ(tree.FirstVisibleChild(n), firstShownChild);
      TVTNode* lastShownChild = nullptr;
      if (m.shown[i] && (n->States & vsExpanded)) {
        for (TVTNode* c = n->LastChild; c && !lastShownChild; c = c->PrevSibling) {
          if (c->States & vsVisible) lastShownChild = c;
        }
      }
      EXPECT_EQ(tree.LastVisibleChildOf(n), lastShownChild);
      EXPECT_EQ(tree.LastVisibleChildOfRaw(n), lastShownChild);
      if (::testing::Test::HasFailure()) return;
    }
    // Selected, marked and initialised nodes, in tree order.
    tree.SetMultiSelect(true);
    std::vector<TVTNode*> selected;
    for (TVTNode* n : m.order) {
      if (std::uniform_int_distribution<int>(0, 3)(random) == 0 && tree.AddOneToSelection(n, false))
        selected.push_back(n);
    }
    std::vector<TVTNode*> walked;
    for (TVTNode* n = tree.FirstSelectedNode(); n; n = tree.NextSelectedNode(n)) walked.push_back(n);
    EXPECT_EQ(walked, selected);
    EXPECT_EQ(tree.CollectSelectedNodes(false), selected);
    std::vector<TVTNode*> outermost;
    for (TVTNode* n : selected) {
      if (outermost.empty() || !tree.NodeHasAncestor(n, outermost.back())) outermost.push_back(n);
    }
    EXPECT_EQ(tree.CollectSelectedNodes(true), outermost);
    EXPECT_EQ(tree.FirstClipboardMarkedNode(), nullptr);  // no cut or copy pending
    tree.CopyToClipboard();
    walked.clear();
    for (TVTNode* n = tree.FirstClipboardMarkedNode(); n; n = tree.NextClipboardMarkedNode(n)) walked.push_back(n);
    EXPECT_EQ(walked, selected);
    EXPECT_EQ(tree.CollectClipboardMarkedNodes(true), outermost);
    tree.CancelClipboardMarks();
    EXPECT_EQ(tree.FirstClipboardMarkedNode(), nullptr);
    walked.clear();
    for (TVTNode* n = tree.FirstInitializedNode(); n; n = tree.NextInitializedNode(n)) walked.push_back(n);
    EXPECT_EQ(walked, m.order);
  }
}

TEST(TreeNavigation, InitialisingWalksMakeLazyChildrenAndRawWalksDoNot) {
  RecordingTree tree;
  int inits = 0;
  tree.initNode = [&](TVTNode* parent, TVTNode*, std::uint8_t& states) {
    ++inits;
    if (!parent) states |= ivsHasChildren;
  };
  tree.initChildren = [](TVTNode*, std::uint32_t& count) { count = 3; };
  tree.SetRootChildCount(4);
  std::vector<TVTNode*> raw;
  for (TVTNode* n = tree.FirstNodeRaw(); n; n = tree.NextNodeRaw(n)) raw.push_back(n);
  EXPECT_EQ(raw.size(), 4u);
  EXPECT_EQ(inits, 0);
  int walked = 0;
  for (TVTNode* n = tree.FirstNode(); n; n = tree.NextNode(n)) {
    EXPECT_TRUE(n->States & vsInitialized);
    ++walked;
  }
  EXPECT_EQ(walked, 4 + 4 * 3);
  EXPECT_EQ(inits, walked);
  // Visible walks do not enter collapsed nodes.
  walked = 0;
  for (TVTNode* n = tree.FirstVisibleNode(); n; n = tree.NextVisibleNode(n)) ++walked;
  EXPECT_EQ(walked, 4);
  EXPECT_EQ(tree.NodeLevel(tree.FirstNodeRaw()), 0);
  EXPECT_EQ(tree.NodeLevel(nullptr), 0);
  CheckTreeInvariants(tree);
}

TEST(TreeGeometry, NodeAtOffsetAndRowTopsWithAndWithoutTheCache) {
  std::mt19937 random(11);
  RecordingTree tree;
  // Enough shown rows for a cache of several entries.
  BuildRandom(tree, random, 400, 3, 12);
  const Model m = Read(tree);
  ASSERT_GT(m.shownNodes.size(), 3 * kCacheThreshold);
  auto check = [&](const char* what) {
    SCOPED_TRACE(what);
    // Every y of the first and last rows, and each row's first, middle and last pixel.
    std::size_t row = 0;
    for (int y = 0; y < m.totalHeight; ++y) {
      while (row + 1 < m.shownNodes.size() && m.top[m.position.at(m.shownNodes[row + 1])] <= y) ++row;
      TVTNode* expected = m.shownNodes[row];
      const int top = m.top[m.position.at(expected)];
      const bool sample = y < 400 || y > m.totalHeight - 400 || y == top || y == top + expected->NodeHeight / 2 ||
                          y == top + expected->NodeHeight - 1;
      if (!sample) continue;
      int nodeTop = -1;
      ASSERT_EQ(tree.NodeAtOffset(y, false, &nodeTop), expected) << y;
      ASSERT_EQ(nodeTop, top);
    }
    EXPECT_EQ(tree.NodeAtOffset(m.totalHeight, false), nullptr);
    EXPECT_EQ(tree.NodeAtOffset(-5, false), m.shownNodes.front());
    for (std::size_t i = 0; i < m.order.size(); i += 3) {
      const TVTRect r = tree.ComputeNodeCellRect(m.order[i], NoColumn, false, false);
      if (m.shown[i]) {
        // Client coordinates: moved by the scroll offset.
        ASSERT_EQ(r.Top - tree.OffsetY(), m.top[i]) << i;
        ASSERT_EQ(r.Bottom - tree.OffsetY(), m.top[i] + m.order[i]->NodeHeight);
      } else {
        ASSERT_TRUE(r.IsEmpty());
      }
    }
  };
  // Inside an update block a change leaves the cache stale until the block ends.
  tree.BeginUpdate();
  TVTNode* some = m.shownNodes[1];
  while (!some->FirstChild) some = tree.NextVisibleNodeRaw(some);
  tree.ToggleExpansion(some);
  tree.ToggleExpansion(some);
  ASSERT_FALSE(tree.HasTreeState(tsValidated));
  check("without a cache");
  tree.EndUpdate();
  tree.QueueCacheValidation();
  tree.WaitForBackgroundValidation();
  ASSERT_TRUE(tree.HasTreeState(tsValidated));
  ASSERT_GE(tree.ValidCacheEntries(), 3u);
  check("with the cache");
  // Relative offsets are client coordinates.
  tree.ownHost.clientHeight = 200;
  tree.RefreshScrollBars(false);
  tree.SetOffsetY(-100);
  int nodeTop = 0;
  EXPECT_EQ(tree.NodeAtOffset(0, true, &nodeTop), tree.NodeAtOffset(100, false));
  EXPECT_LE(nodeTop, 0);
}

namespace {

// A tree of two top-level nodes; the first has children (level 1) and the
// second none. Client 400 x 200, rows of 18.
struct HitTree {
  GeometryTree tree;
  TVTNode* parent;
  TVTNode* child;
  TVTNode* leaf;
  HitTree() {
    tree.ownHost.clientWidth = 400;
    tree.ownHost.clientHeight = 200;
    tree.OptionBits.Misc |= 1u << 1;  // check support
    tree.SetRootChildCount(2);
    parent = tree.FirstNodeRaw();
    leaf = parent->NextSibling;
    tree.SetChildCount(parent, 2);
    tree.ToggleExpansion(parent);
    child = parent->FirstChild;
    for (TVTNode* n : {parent, child, leaf}) {
      tree.InitializeNodeOnDemand(n);
      tree.SetCheckType(n, ctCheckBox);
    }
    tree.SetChildCount(child, 1);  // collapsed, with children: it has a button
  }
};

}  // namespace

TEST(TreeGeometry, HitTestFlagsAcrossARow) {
  HitTree h;
  GeometryTree& tree = h.tree;
  // The child's row: level 1 with the root shown, so its indentation ends at 36.
  const int y = 18 + 5;
  struct Case {
    int x;
    std::uint16_t flags;
    const char* what;
  } cases[] = {
      {5, hiOnItem, "indentation"},
      {20, hiOnItem | hiOnItemButton, "button"},
      {36, hiOnItem | hiOnItemCheckbox, "check box"},
      {36 + 18, hiOnItem | hiOnStateIcon, "state image"},
      {36 + 36, hiOnItem | hiOnNormalIcon, "normal image"},
      {36 + 54, hiOnItem | hiOnItemLabel, "caption start"},
      {36 + 54 + 49, hiOnItem | hiOnItemLabel, "caption end"},
      {36 + 54 + 50, hiOnItem | hiOnItemRight, "right of the text"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const TVTHitInfo hit = tree.HitTestPoint(c.x, y, true);
    EXPECT_EQ(hit.HitNode, h.child);
    EXPECT_EQ(hit.HitPositions, c.flags);
    EXPECT_EQ(hit.HitColumn, NoColumn);
  }
  // A top-level node without children has no button in its indentation.
  EXPECT_EQ(tree.HitTestPoint(5, 3 * 18 + 2, true).HitPositions, hiOnItem);
  EXPECT_EQ(tree.HitTestPoint(5, 3 * 18 + 2, true).HitNode, h.leaf);
  // Below the last row, outside the tree's area.
  const TVTHitInfo below = tree.HitTestPoint(50, 4 * 18 + 3, true);
  EXPECT_EQ(below.HitNode, nullptr);
  EXPECT_EQ(below.HitPositions, hiNowhere);
  EXPECT_EQ(tree.HitTestPoint(-1, 5, true).HitPositions, hiToLeft);
  EXPECT_EQ(tree.HitTestPoint(5, -1, true).HitPositions, hiAbove);
  EXPECT_EQ(tree.HitTestPoint(401, 201, true).HitPositions, hiToRight | hiBelow);

  // The text rectangle: margin, two indents, check box, state and normal image, then 50 pixels of text.
  const TVTRect text = tree.ComputeNodeCellRect(h.child, NoColumn, true, false);
  EXPECT_EQ(text, (TVTRect{4 + 36 + 18 + 18 + 18, 18, 4 + 36 + 54 + 50, 36}));
  const TVTRect row = tree.ComputeNodeCellRect(h.child, NoColumn, false, false);
  EXPECT_EQ(row, (TVTRect{0, 18, 400, 36}));
  // A text wider than its space keeps the space when clipped and takes its width unclipped.
  tree.textWidth = 1000;
  EXPECT_EQ(tree.ComputeNodeCellRect(h.child, NoColumn, true, false).Right, 400);
  EXPECT_EQ(tree.ComputeNodeCellRect(h.child, NoColumn, true, true).Right, 4 + 36 + 54 + 1000);
  // A hidden node has no rectangle.
  tree.ToggleExpansion(h.parent);
  EXPECT_TRUE(tree.ComputeNodeCellRect(h.child, NoColumn, false, false).IsEmpty());
}

TEST(TreeGeometry, ColumnsPlaceCellsAndTheHeaderEndsAtItsHeight) {
  HitTree h;
  GeometryTree& tree = h.tree;
  tree.ColumnLayout.Columns = {{0, 0, 150, kAlignLeft, false}, {1, 150, 150, kAlignRight, false}};
  tree.ColumnLayout.MainColumn = 0;
  tree.ColumnLayout.HeaderHeight = 20;
  // The second column: no indentation, images then the right-aligned text.
  const int y = 18 + 5;
  EXPECT_EQ(tree.HitTestPoint(150 + 5, y, true).HitPositions, hiOnItem | hiOnStateIcon);
  EXPECT_EQ(tree.HitTestPoint(150 + 40, y, true).HitPositions, hiOnItem | hiOnItemLeft);
  const TVTHitInfo label = tree.HitTestPoint(150 + 150 - 10, y, true);
  EXPECT_EQ(label.HitPositions, hiOnItem | hiOnItemLabel);
  EXPECT_EQ(label.HitColumn, 1);
  const TVTHitInfo past = tree.HitTestPoint(350, y, true);
  EXPECT_EQ(past.HitColumn, InvalidColumn);
  EXPECT_EQ(past.HitPositions, hiNowhere);
  const TVTRect cell = tree.ComputeNodeCellRect(h.child, 1, true, false);
  EXPECT_EQ(cell.Right, 150 + 149);
  EXPECT_EQ(cell.Left, cell.Right - 50);

  // A point lies in a column only within the header's own height, not the tree's.
  EXPECT_EQ(tree.ColumnLayout.ColumnAtPoint(10, 0, false, 0), 0);
  EXPECT_EQ(tree.ColumnLayout.ColumnAtPoint(160, 20, false, 0), 1);
  EXPECT_EQ(tree.ColumnLayout.ColumnAtPoint(160, 21, false, 0), InvalidColumn);
  EXPECT_EQ(tree.ColumnLayout.ColumnAtPoint(160, 90, false, 0), InvalidColumn);
  EXPECT_EQ(tree.ColumnLayout.ColumnAtPoint(-1, 5, false, 0), InvalidColumn);
  EXPECT_EQ(tree.ColumnLayout.ColumnAtPoint(120, 5, true, -50), 1);  // scrolled by 50
  int left, right;
  EXPECT_EQ(tree.ColumnLayout.ColumnAndBoundsAtX(299, false, 0, left, right), 1);
  EXPECT_EQ(left, 150);
  EXPECT_EQ(right, 300);
}

TEST(TreeUpdates, NestedBlocksReportAndDeferOnce) {
  RecordingTree tree;
  UpdateRecorder recorder;
  tree.OnUpdating = TVTUpdatingEvent::Bind<&UpdateRecorder::Updating>(&recorder);
  RecordingHost& host = tree.ownHost;
  tree.EnterUpdateBlock();
  tree.EnterUpdateBlock();
  tree.SetRootChildCount(10);
  tree.RemoveNode(tree.FirstNodeRaw());
  tree.LeaveUpdateBlock();
  EXPECT_EQ(recorder.states, (std::vector<int>{usBegin, usUpdate, usUpdate, usUpdate, usUpdate}));
  EXPECT_EQ(host.redraw, (std::vector<bool>{false}));
  EXPECT_TRUE(tree.structureChanges.empty());
  const int barsBefore = host.scrollBarUpdates;
  tree.LeaveUpdateBlock();
  EXPECT_EQ(recorder.states.back(), usEnd);
  EXPECT_EQ(host.redraw, (std::vector<bool>{false, true}));
  // One structure-change report and one scroll-bar refresh for the whole block.
  EXPECT_EQ(tree.structureChanges.size(), 1u);
  EXPECT_EQ(tree.structureChanges[0].second, crAccumulated);
  EXPECT_EQ(host.scrollBarUpdates, barsBefore + 1);
  // The inner SetRootChildCount opened and closed its own level: the first
  // enter gave begin, every deeper one update.
  tree.LeaveUpdateBlock();  // unbalanced: nothing
  EXPECT_EQ(recorder.states.back(), usEnd);
}

TEST(TreeDeleting, AncestorsAndDescendantsSelectedTogetherAreFreedOnce) {
  for (unsigned seed : {5u, 6u, 7u}) {
    SCOPED_TRACE(seed);
    std::mt19937 random(seed);
    RecordingTree tree;
    BuildRandom(tree, random, 20, 4, 4);
    tree.SetMultiSelect(true);
    const Model before = Read(tree);
    std::set<TVTNode*> removed;
    // Select nodes with some of their descendants.
    for (TVTNode* n : before.order) {
      if (std::uniform_int_distribution<int>(0, 4)(random) != 0) continue;
      tree.AddOneToSelection(n, false);
      if (TVTNode* d = tree.LastNodeOfRaw(n)) tree.AddOneToSelection(d, false);
    }
    for (TVTNode* n : before.order) {
      for (TVTNode* p = n; p != tree.FirstNodeRaw()->Parent; p = p->Parent) {
        if (p->States & vsSelected) {
          removed.insert(n);
          break;
        }
      }
    }
    ASSERT_FALSE(removed.empty());
    tree.freed.clear();
    tree.DeleteSelectedNodes();
    const std::set<TVTNode*> freed(tree.freed.begin(), tree.freed.end());
    EXPECT_EQ(freed.size(), tree.freed.size());  // each node once
    EXPECT_EQ(freed, removed);
    EXPECT_EQ(CheckTreeInvariants(tree), before.order.size() - removed.size());
    EXPECT_TRUE(tree.Selection().empty());
  }
}

TEST(TreeDeleting, CutNodesAreCollectedFirstAndRemovedLastToFirst) {
  std::mt19937 random(9);
  RecordingTree tree;
  BuildRandom(tree, random, 20, 4, 4);
  tree.SetMultiSelect(true);
  const Model before = Read(tree);
  for (TVTNode* n : before.order) {
    if (std::uniform_int_distribution<int>(0, 3)(random) == 0) tree.AddOneToSelection(n, false);
  }
  // A refused clipboard leaves nodes and states alone.
  tree.ownHost.clipboardWorks = false;
  tree.CutToClipboard();
  EXPECT_FALSE(tree.HasTreeState(tsCutPending));
  tree.ownHost.clipboardWorks = true;
  tree.CutToClipboard();
  ASSERT_TRUE(tree.HasTreeState(tsCutPending));
  std::set<TVTNode*> removed;
  for (TVTNode* n : before.order) {
    for (TVTNode* p = n; p != tree.FirstNodeRaw()->Parent; p = p->Parent) {
      if (p->States & vsCutOrCopy) {
        removed.insert(n);
        break;
      }
    }
  }
  tree.freed.clear();
  tree.DeleteCutNodes();
  EXPECT_FALSE(tree.HasTreeState(tsCutPending));
  EXPECT_EQ(std::set<TVTNode*>(tree.freed.begin(), tree.freed.end()), removed);
  EXPECT_EQ(tree.freed.size(), removed.size());
  EXPECT_EQ(CheckTreeInvariants(tree), before.order.size() - removed.size());
  // Clearing with a cut pending empties the clipboard.
  tree.AddOneToSelection(tree.FirstNodeRaw(), false);
  tree.CutToClipboard();
  tree.ownHost.clipboardCalls.clear();
  tree.Clear();
  EXPECT_EQ(tree.ownHost.clipboardCalls, (std::vector<bool>{true}));
  EXPECT_FALSE(tree.HasTreeState(tsCutPending));
  EXPECT_EQ(CheckTreeInvariants(tree), 0u);
}

TEST(TreeSorting, MergeSortIsStableBothWaysAndRebuildsLinks) {
  GeometryTree tree;
  tree.SetNodeDataSize(2 * sizeof(int));
  auto key = [&](TVTNode* n) { return static_cast<int*>(tree.NodeData(n))[0]; };
  auto order = [&](TVTNode* n) { return static_cast<int*>(tree.NodeData(n))[1]; };
  tree.compare = [&](TVTNode* a, TVTNode* b) { return key(a) - key(b); };
  std::mt19937 random(3);
  for (std::uint32_t count : {1u, 2u, 7u, 1000u}) {
    for (int direction : {sdAscending, sdDescending}) {
      SCOPED_TRACE(count);
      tree.SetRootChildCount(0);
      tree.SetRootChildCount(count);
      int i = 0;
      for (TVTNode* n = tree.FirstNodeRaw(); n; n = n->NextSibling, ++i) {
        static_cast<int*>(tree.NodeData(n))[0] = std::uniform_int_distribution<int>(0, 9)(random);
        static_cast<int*>(tree.NodeData(n))[1] = i;
      }
      tree.QueueCacheValidation();
      tree.WaitForBackgroundValidation();
      tree.SortChildren(nullptr, 0, direction, true);
      std::vector<TVTNode*> sorted;
      for (TVTNode* n = tree.FirstNodeRaw(); n; n = n->NextSibling) sorted.push_back(n);
      ASSERT_EQ(sorted.size(), count);
      for (std::size_t k = 1; k < sorted.size(); ++k) {
        const int a = key(sorted[k - 1]), b = key(sorted[k]);
        ASSERT_TRUE(direction == sdAscending ? a <= b : a >= b);
        if (a == b) {
          ASSERT_LT(order(sorted[k - 1]), order(sorted[k]));
        }
      }
      CheckTreeInvariants(tree);
    }
  }
  // One child: nothing changes and the cache stays valid.
  tree.SetRootChildCount(0);
  tree.SetRootChildCount(1);
  tree.QueueCacheValidation();
  tree.WaitForBackgroundValidation();
  ASSERT_TRUE(tree.HasTreeState(tsValidated));
  tree.SortChildren(nullptr, 0, sdAscending, true);
  EXPECT_TRUE(tree.HasTreeState(tsValidated));
}

TEST(TreeSorting, AThrowingCompareHandlerLeavesTheSiblingsWholeAndInOrder) {
  GeometryTree tree;
  tree.SetNodeDataSize(sizeof(int));
  auto key = [&](TVTNode* n) { return *static_cast<int*>(tree.NodeData(n)); };
  struct Refused {};
  // Children of the root and of a nested node; the handler throws at call k.
  for (std::uint32_t count : {2u, 7u, 1000u}) {
    for (std::uint64_t k : {std::uint64_t(1), std::uint64_t(count / 2 + 1), std::uint64_t(count) * 4}) {
      for (bool nested : {false, true}) {
        SCOPED_TRACE(testing::Message() << count << " children, throw at call " << k << (nested ? ", nested" : ""));
        tree.SetRootChildCount(0);
        tree.SetRootChildCount(3);
        TVTNode* parent = nested ? tree.FirstNodeRaw()->NextSibling : nullptr;
        if (nested) {
          tree.InitializeNodeOnDemand(parent);
          tree.SetChildCount(parent, count);
        } else {
          tree.SetRootChildCount(count);
        }
        std::vector<TVTNode*> original;
        int i = 0;
        for (TVTNode* n = tree.FirstChildOf(parent); n; n = n->NextSibling) {
          *static_cast<int*>(tree.NodeData(n)) = (i++ * 7919) % 101;
          original.push_back(n);
        }
        std::uint64_t calls = 0;
        tree.compare = [&](TVTNode* a, TVTNode* b) {
          if (++calls == k) throw Refused{};
          return key(a) - key(b);
        };
        const std::uint32_t total = tree.TotalNodeCount();
        bool thrown = false;
        try {
          tree.SortAllLevels(0, sdAscending, true);
        } catch (const Refused&) {
          thrown = true;
        }
        std::vector<TVTNode*> after;
        for (TVTNode* n = tree.FirstChildOf(parent); n; n = n->NextSibling) after.push_back(n);
        if (thrown) {
          EXPECT_EQ(after, original);
        } else {
          // The handler was never called k times: the sort simply finished.
          EXPECT_GT(k, calls);
          EXPECT_TRUE(
              std::is_sorted(after.begin(), after.end(), [&](TVTNode* a, TVTNode* b) { return key(a) < key(b); }));
        }
        EXPECT_EQ(tree.TotalNodeCount(), total);
        EXPECT_EQ(tree.UpdateCount(), 0);
        CheckTreeInvariants(tree);
        // The tree sorts again once the handler stops throwing.
        tree.compare = [&](TVTNode* a, TVTNode* b) { return key(a) - key(b); };
        tree.SortChildren(parent, 0, sdAscending, true);
        after.clear();
        for (TVTNode* n = tree.FirstChildOf(parent); n; n = n->NextSibling) after.push_back(n);
        ASSERT_EQ(after.size(), count);
        EXPECT_TRUE(
            std::is_sorted(after.begin(), after.end(), [&](TVTNode* a, TVTNode* b) { return key(a) < key(b); }));
        CheckTreeInvariants(tree);
        if (testing::Test::HasFailure()) return;
      }
    }
  }
}

TEST(TreeSorting, AllLevelsSortsOnlyInitialisedLevels) {
  GeometryTree tree;
  tree.SetNodeDataSize(sizeof(int));
  auto key = [&](TVTNode* n) { return *static_cast<int*>(tree.NodeData(n)); };
  tree.compare = [&](TVTNode* a, TVTNode* b) { return key(a) - key(b); };
  tree.SetRootChildCount(3);
  int next = 100;
  // Keys fall within each sibling list.
  std::function<void(TVTNode*, int)> fill = [&](TVTNode* parent, int depth) {
    for (TVTNode* c = parent ? parent->FirstChild : tree.FirstNodeRaw(); c; c = c->NextSibling) {
      *static_cast<int*>(tree.NodeData(c)) = next--;
      if (depth > 0) {
        tree.SetChildCount(c, 4);
        fill(c, depth - 1);
      }
    }
  };
  fill(nullptr, 1);
  TVTNode* initialised = tree.FirstNodeRaw();
  tree.InitializeNodeOnDemand(initialised);
  for (TVTNode* c = tree.FirstNodeRaw(); c; c = c->NextSibling) {
    if (c != initialised) c->States &= std::uint16_t(~vsInitialized);
  }
  tree.SortAllLevels(0, sdAscending, false);
  auto keys = [&](TVTNode* parent) {
    std::vector<int> k;
    for (TVTNode* c = parent ? parent->FirstChild : tree.FirstNodeRaw(); c; c = c->NextSibling) k.push_back(key(c));
    return k;
  };
  const std::vector<int> top = keys(nullptr);
  EXPECT_TRUE(std::is_sorted(top.begin(), top.end()));
  for (TVTNode* c = tree.FirstNodeRaw(); c; c = c->NextSibling) {
    const std::vector<int> k = keys(c);
    if (c->States & vsInitialized)
      EXPECT_TRUE(std::is_sorted(k.begin(), k.end()));
    else
      EXPECT_TRUE(std::is_sorted(k.rbegin(), k.rend()));  // left as it was
  }
  CheckTreeInvariants(tree);
}

TEST(TreeExpansion, LazyThousandByThousand) {
  RecordingTree tree;
  tree.record = false;
  tree.initNode = [](TVTNode* parent, TVTNode*, std::uint8_t& states) {
    if (!parent) states |= ivsHasChildren;
  };
  tree.initChildren = [](TVTNode*, std::uint32_t& count) { count = 1000; };
  tree.SetRootChildCount(1000);
  EXPECT_EQ(tree.VisibleCount(), 1000u);
  TVTNode* first = tree.FirstNode();
  tree.ToggleExpansion(first);
  EXPECT_EQ(tree.VisibleCount(), 2000u);
  EXPECT_EQ(tree.TotalHeight(), 2000u * 18);
  tree.FullExpand();
  EXPECT_EQ(tree.VisibleCount(), 1001000u);
  EXPECT_EQ(tree.TotalHeight(), 1001000u * 18);
  EXPECT_EQ(tree.TotalNodeCount(), 1001000u);
  tree.FullCollapse();
  EXPECT_EQ(tree.VisibleCount(), 1000u);
  EXPECT_EQ(tree.TotalHeight(), 1000u * 18);
  EXPECT_FALSE(tree.HasTreeState(tsExpanding));
  EXPECT_FALSE(tree.HasTreeState(tsCollapsing));
  CheckTreeInvariants(tree);
}

TEST(TreeExpansion, EventsRefusalsAndTheBeingDeletedBit) {
  RecordingTree tree;
  struct Answers {
    bool allow = true;
    std::vector<std::string> seen;
    void Expanding(TObject*, TVTNode*, bool& allowed) {
      seen.push_back("expanding");
      allowed = allow;
    }
    void Collapsing(TObject*, TVTNode*, bool& allowed) {
      seen.push_back("collapsing");
      allowed = allow;
    }
    void Expanded(TObject*, TVTNode*) { seen.push_back("expanded"); }
    void Collapsed(TObject*, TVTNode*) { seen.push_back("collapsed"); }
  } answers;
  tree.OnExpanding = TVTAllowEvent::Bind<&Answers::Expanding>(&answers);
  tree.OnCollapsing = TVTAllowEvent::Bind<&Answers::Collapsing>(&answers);
  tree.OnExpanded = TVTNodeEvent::Bind<&Answers::Expanded>(&answers);
  tree.OnCollapsed = TVTNodeEvent::Bind<&Answers::Collapsed>(&answers);
  tree.SetRootChildCount(2);
  TVTNode* n = tree.FirstNodeRaw();
  tree.SetChildCount(n, 3);
  tree.ToggleExpansion(n);
  tree.ToggleExpansion(n);
  EXPECT_EQ(answers.seen, (std::vector<std::string>{"expanding", "expanded", "collapsing", "collapsed"}));
  // A refused collapse changes and repaints nothing.
  tree.ToggleExpansion(n);
  answers.allow = false;
  const int invalidations = tree.ownHost.invalidations;
  tree.ToggleExpansion(n);
  EXPECT_TRUE(n->States & vsExpanded);
  EXPECT_EQ(tree.ownHost.invalidations, invalidations);
  // State bit 4 means the node is being deleted: it is not toggled.
  answers.allow = true;
  answers.seen.clear();
  n->States |= vsDeleting;
  tree.ToggleExpansion(n);
  EXPECT_TRUE(n->States & vsExpanded);
  EXPECT_TRUE(answers.seen.empty());
  n->States &= std::uint16_t(~vsDeleting);
  CheckTreeInvariants(tree);
}

TEST(TreeScrolling, BringNodeIntoViewArithmetic) {
  RecordingTree tree;
  RecordingHost& host = tree.ownHost;
  host.clientWidth = 400;
  host.clientHeight = 100;
  tree.SetRootChildCount(100);
  std::vector<TVTNode*> nodes;
  for (TVTNode* n = tree.FirstNodeRaw(); n; n = n->NextSibling) nodes.push_back(n);
  EXPECT_EQ(tree.RangeY(), 1800);
  EXPECT_TRUE(host.verticalBar.shown);
  EXPECT_EQ(host.verticalBar.info.Max, 1800);
  EXPECT_EQ(host.verticalBar.info.Page, 101);
  struct Case {
    int startOffset;
    int node;
    bool center;
    bool scrolls;
    int offset;
    const char* what;
  } cases[] = {
      {0, 2, false, false, 0, "already visible"},
      {0, 50, false, true, 100 - 51 * 18, "below: its bottom at the client's bottom"},
      {-818, 2, false, true, -36, "above: its top at the client's top"},
      {0, 50, true, true, 50 - 51 * 18, "below, centred: its bottom at the middle"},
      {-1000, 10, true, true, -180 + 50, "above, centred: its top at the middle"},
      {0, 99, false, true, 100 - 1800, "the last row"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    tree.SetOffsetY(c.startOffset);
    ASSERT_EQ(tree.OffsetY(), c.startOffset);
    EXPECT_EQ(tree.BringNodeIntoView(nodes[c.node], c.center, false), c.scrolls);
    EXPECT_EQ(tree.OffsetY(), c.offset);
    const TVTRect r = tree.ComputeNodeCellRect(nodes[c.node], NoColumn, false, false);
    EXPECT_GE(r.Top, 0);
    EXPECT_LE(r.Bottom, 100);
  }
  // Offsets clamp to the range.
  tree.SetOffsetY(-100000);
  EXPECT_EQ(tree.OffsetY(), 100 - 1800);
  tree.SetOffsetY(50);
  EXPECT_EQ(tree.OffsetY(), 0);
  EXPECT_FALSE(tree.BringNodeIntoView(nullptr, false, false));
  // A node below a collapsed parent is opened first.
  tree.SetChildCount(nodes[30], 2);
  tree.BringNodeIntoView(nodes[30]->LastChild, false, false);
  EXPECT_TRUE(nodes[30]->States & vsExpanded);
  EXPECT_TRUE(tree.NodeFullyShown(nodes[30]->LastChild));
  const TVTRect opened = tree.ComputeNodeCellRect(nodes[30]->LastChild, NoColumn, false, false);
  EXPECT_GE(opened.Top, 0);
  EXPECT_LE(opened.Bottom, 100);
  // Without scroll bars the bar goes and the offset stays in the range.
  tree.ScrollBars = 0;
  tree.RefreshScrollBars(false);
  EXPECT_FALSE(host.verticalBar.shown);
  tree.ScrollBars = 3;
  tree.ScrollBarsAlwaysVisible = true;
  tree.SetRootChildCount(1);
  tree.RefreshScrollBars(false);
  EXPECT_TRUE(host.verticalBar.shown);
  EXPECT_TRUE(host.verticalBar.info.DisableNoScroll);
}

TEST(TreeSelection, SelectEveryNodeAndClearingTheSelection) {
  RecordingTree tree;
  tree.SetRootChildCount(50);
  tree.SetChildCount(tree.FirstNodeRaw(), 5);  // collapsed
  tree.SelectEveryNode(false);
  EXPECT_TRUE(tree.Selection().empty());  // only with multi-selection
  tree.SetMultiSelect(true);
  tree.SelectEveryNode(true);
  EXPECT_EQ(tree.Selection().size(), 50u);
  tree.SelectEveryNode(false);
  EXPECT_EQ(tree.Selection().size(), 55u);
  tree.changes.clear();
  tree.ClearSelectionAndRepaint();
  EXPECT_TRUE(tree.Selection().empty());
  EXPECT_EQ(tree.changes, (std::vector<TVTNode*>{nullptr}));
  CheckTreeInvariants(tree);
}

TEST(TreeActions, TheEditActionsActOnTheTreeAndFollowItsState) {
  RecordingTree tree;
  tree.SetRootChildCount(10);
  tree.SetMultiSelect(true);
  TOwned<TEditCut> cut(New<TEditCut>(nullptr));
  TOwned<TEditCopy> copy(New<TEditCopy>(nullptr));
  TOwned<TEditPaste> paste(New<TEditPaste>(nullptr));
  TOwned<TEditDelete> del(New<TEditDelete>(nullptr));
  TOwned<TEditSelectAll> all(New<TEditSelectAll>(nullptr));
  TOwned<TAction> other(New<TAction>(nullptr));
  TEditAction* const edits[] = {cut.get(), copy.get(), paste.get(), del.get(), all.get()};
  auto enabled = [&] {
    std::string e;
    for (TEditAction* a : edits) {
      EXPECT_TRUE(tree.UpdateEditAction(a));
      e += a->GetEnabled() ? '1' : '0';
    }
    return e;
  };
  EXPECT_EQ(enabled(), "00101");  // nothing selected: paste and select-all only
  tree.SetMultiSelect(false);
  EXPECT_EQ(enabled(), "00100");
  tree.SetMultiSelect(true);
  EXPECT_FALSE(tree.UpdateEditAction(other.get()));
  EXPECT_FALSE(tree.ExecuteEditAction(other.get()));
  EXPECT_FALSE(tree.ExecuteEditAction(nullptr));

  ASSERT_TRUE(tree.ExecuteEditAction(all.get()));
  EXPECT_EQ(tree.SelectedCount(), 10u);
  EXPECT_EQ(enabled(), "11111");
  ASSERT_TRUE(tree.ExecuteEditAction(copy.get()));
  EXPECT_TRUE(tree.HasTreeState(tsCopyPending));
  EXPECT_NE(tree.FirstClipboardMarkedNode(), nullptr);
  ASSERT_TRUE(tree.ExecuteEditAction(cut.get()));
  EXPECT_TRUE(tree.HasTreeState(tsCutPending));
  EXPECT_TRUE(tree.ExecuteEditAction(paste.get()));
  ASSERT_TRUE(tree.ExecuteEditAction(del.get()));
  EXPECT_EQ(tree.RootChildCount(), 0u);
  EXPECT_EQ(enabled(), "00100");  // an empty tree has nothing to select
  CheckTreeInvariants(tree);
}

TEST(TreeSelection, DropMarkedEntriesKeepsTheOrderOfTheRest) {
  TVTNode nodes[5]{};
  auto tag = [](TVTNode* n) { return reinterpret_cast<TVTNode*>(reinterpret_cast<std::uintptr_t>(n) | 1); };
  TVTNode* array[5] = {&nodes[0], tag(&nodes[1]), &nodes[2], tag(&nodes[3]), &nodes[4]};
  EXPECT_EQ(TVirtualTreeCore::DropMarkedEntries(array, 5), 3);
  EXPECT_EQ(array[0], &nodes[0]);
  EXPECT_EQ(array[1], &nodes[2]);
  EXPECT_EQ(array[2], &nodes[4]);
  EXPECT_EQ(TVirtualTreeCore::DropMarkedEntries(array, 0), -1);
  TVTNode* allTagged[2] = {tag(&nodes[0]), tag(&nodes[1])};
  EXPECT_EQ(TVirtualTreeCore::DropMarkedEntries(allTagged, 2), 0);
}

TEST(TreeDragging, InitiateDragWaitsForTheThresholdOrStartsTheFrameworksDrag) {
  RecordingTree tree;
  tree.InitiateDrag(false, -1);
  EXPECT_TRUE(tree.HasTreeState(tsOLEDragPending));
  EXPECT_TRUE(tree.IsDragInProgress());
  EXPECT_EQ(tree.DragThreshold(), 5);  // the system's
  tree.InitiateDrag(false, 12);        // one pending already: nothing changes
  EXPECT_EQ(tree.DragThreshold(), 5);
  tree.SetTreeState(tsOLEDragPending, false);
  tree.InitiateDrag(false, 12);
  EXPECT_EQ(tree.DragThreshold(), 12);
  tree.SetTreeState(tsOLEDragPending, false);
  tree.DragType = 1;
  tree.InitiateDrag(true, 0);
  EXPECT_TRUE(tree.HasTreeState(tsFrameworkDragging));
  EXPECT_FALSE(tree.HasTreeState(tsOLEDragPending));
}

TEST(TreeSorting, SortingAndTogglingStopTheWorkerFirst) {
  // The worker builds the cache of a large tree while the main thread sorts
  // and toggles; every change takes the tree from the worker first, so the
  // cache always ends equal to a recomputed one (run under ThreadSanitizer too).
  GeometryTree tree;
  tree.record = false;
  tree.SetNodeDataSize(sizeof(int));
  tree.compare = [&](TVTNode* a, TVTNode* b) {
    return *static_cast<int*>(tree.NodeData(a)) - *static_cast<int*>(tree.NodeData(b));
  };
  tree.SetRootChildCount(30000);
  std::mt19937 random(2);
  TVTNode* parent = tree.FirstNodeRaw();
  tree.SetChildCount(parent, 3000);
  for (TVTNode* n = tree.FirstNodeRaw(); n; n = tree.NextNodeRaw(n))
    *static_cast<int*>(tree.NodeData(n)) = std::uniform_int_distribution<int>(0, 1000)(random);
  for (int round = 0; round < 20; ++round) {
    tree.QueueCacheValidation();  // the worker starts on the tree
    if (round % 2)
      tree.SortChildren(nullptr, 0, round % 4 == 1 ? sdAscending : sdDescending, false);
    else
      tree.ToggleExpansion(parent);
  }
  tree.WaitForBackgroundValidation();
  if (!tree.HasTreeState(tsValidated)) {
    tree.QueueCacheValidation();
    tree.WaitForBackgroundValidation();
  }
  const std::vector<TVTCacheEntry> expected = tree.ComputePositionCache();
  ASSERT_EQ(tree.PositionCache().size(), expected.size());
  for (std::size_t i = 0; i < expected.size(); ++i) {
    EXPECT_EQ(tree.PositionCache()[i].Node, expected[i].Node);
    EXPECT_EQ(tree.PositionCache()[i].AbsoluteTop, expected[i].AbsoluteTop);
  }
  CheckTreeInvariants(tree);
}

namespace {

class CursorHost : public RecordingHost {
 public:
  bool CursorPos(int& px, int& py) const override {
    px = x;
    py = y;
    return true;
  }
  int x = 0, y = 0;
};

}  // namespace

TEST(TreeScrolling, AutoScrollTickStepsByDirectionAndStopsAtTheEnds) {
  CursorHost host;
  host.clientWidth = 200;
  host.clientHeight = 100;
  RecordingTree tree(nullptr, &host);
  tree.SetRootChildCount(100);  // 1800 pixels of rows
  tree.SetTreeState(tsScrolling, true);
  host.timers[kScrollTimer] = 20;
  struct Case {
    std::uint8_t directions;
    int x, y, start, offset;
    const char* what;
  } cases[] = {
      {8, 50, 90, 0, -20, "down, inside: one increment"},
      {8, 50, 103, 0, -60, "down, outside: the increment per pixel below"},
      {2, 50, 5, -200, -180, "up, inside"},
      {2, 50, -2, -200, -160, "up, outside"},
      {2, 50, 5, 0, 0, "up at the top: dropped"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    tree.SetOffsetY(c.start);
    tree.SetTreeState(tsDrawSelecting, true);  // a selection rectangle keeps scrolling outside the window
    tree.AutoScrollDirections = c.directions;
    host.x = c.x;
    host.y = c.y;
    tree.AutoScrollTick();
    EXPECT_EQ(tree.OffsetY(), c.offset);
  }
  // With no direction left and no panning the timer stops.
  EXPECT_FALSE(host.TimerRunning(kScrollTimer));
  EXPECT_FALSE(tree.HasTreeState(tsScrolling));
  // Panning follows the distance from the anchor.
  tree.SetTreeState(tsDrawSelecting, false);
  tree.SetTreeState(tsWheelPanning, true);
  tree.SetOffsetY(-500);
  tree.PanningAnchorX = 50;
  tree.PanningAnchorY = 50;
  tree.AutoScrollDirections = 8;
  host.x = 50;
  host.y = 80;
  tree.AutoScrollTick();
  EXPECT_EQ(tree.OffsetY(), -500 + 50 - 80 + 8);
  // At the bottom end the direction is dropped.
  tree.SetTreeState(tsWheelPanning, false);
  tree.SetOffsetY(-100000);
  tree.AutoScrollDirections = 8;
  host.y = 50;
  tree.AutoScrollTick();
  EXPECT_EQ(tree.AutoScrollDirections, 0);
  EXPECT_EQ(tree.OffsetY(), 100 - 1800);
}

TEST(TreeGeometry, ContentWidthsTakeTheWidestRow) {
  HitTree h;
  // The child at level 1 with the root shown: two indents, its check box, both images and the text, plus both margins.
  EXPECT_EQ(h.tree.MeasureColumnContentWidth(NoColumn), 36 + 18 + 18 + 18 + 50 + 8);
  EXPECT_EQ(h.tree.MeasureVisibleContentWidth(), 36 + 18 + 18 + 18 + 50 + 8);
  // Collapsed, the level-1 rows no longer count.
  h.tree.ToggleExpansion(h.parent);
  EXPECT_EQ(h.tree.MeasureColumnContentWidth(NoColumn), 18 + 18 + 18 + 18 + 50 + 8);
}
