// The tree's input decisions with a recording host, its manual timers and a
// clock that moves only when read: row classification both ways, check
// propagation through clicks, auto-scroll, the panning cursor, the timed
// animation, change scheduling, the scroll offset, the ordered decisions of a
// button press and the incremental search.
#include <gtest/gtest.h>

#include <cctype>
#include <functional>
#include <map>
#include <set>
#include <string>

#include "TreeTestSupport.h"
#include "VirtualTreeInput.h"
#include "VirtualTreeOptions.h"

namespace {

constexpr int kRow = 18;

// A tree with check images, state and normal images and a fixed text width.
class ImageTree : public RecordingTree {
 public:
  ~ImageTree() override { Shutdown(); }
  int textWidth = 50;
  bool endEditRefuses = false;
  bool canEdit = true;
  bool vetoFocus = false;

 protected:
  int DoGetNodeWidth(TVTNode*, int) override { return textWidth; }
  int NodeImageWidth(TVTNode*, int, bool) override { return 16; }
  int CheckImageWidth() const override { return 16; }
  bool EndEditNode() override { return !endEditRefuses; }
  bool DoCanEdit(TVTNode*, int) override { return canEdit; }
  bool DoFocusChanging(TVTNode*, TVTNode*, int, int) override { return !vetoFocus; }
};

}  // namespace

// --- Row classification ----------------------------------------------------------------------------

namespace {
// Two top-level nodes: the first has children (its child has a child of its
// own, collapsed), the second none. Client 400 x 200, all with check boxes.
struct RowTree {
  ImageTree tree;
  std::vector<TVTNode*> n;
  RowTree() {
    tree.ownHost.clientWidth = 400;
    tree.ownHost.clientHeight = 200;
    tree.OptionBits.Misc |= voCheckSupport;
    n = BuildTreeFromLevels(tree, {0, 1, 2, 0});
    tree.SetExpanded(n[0], true);
    for (TVTNode* node : n) tree.SetCheckType(node, ctCheckBox);
  }
};
}  // namespace

TEST(RowHits, LeftToRightAndMirroredRightToLeft) {
  // The child's row (row 1): level 1 with the root shown, so its indentation
  // ends at 36; then check box, state image, normal image (18 each), 50 of text.
  struct Case {
    int x;
    int row;
    int node;
    std::uint16_t flags;
    const char* what;
  } cases[] = {
      {5, 1, 1, hiOnItem, "indentation of a node with children, left of its button"},
      {20, 1, 1, hiOnItem | hiOnItemButton, "button"},
      {5, 2, 3, hiOnItem, "indentation of a childless node gives only on-item"},
      {20, 0, 0, hiOnItem | hiOnItemCheckbox, "check box area: exactly on-item and the box"},
      {40, 1, 1, hiOnItem | hiOnItemCheckbox, "check box"},
      {36 + 20, 1, 1, hiOnItem | hiOnStateIcon, "state image"},
      {36 + 40, 1, 1, hiOnItem | hiOnNormalIcon, "normal image"},
      {36 + 60, 1, 1, hiOnItem | hiOnItemLabel, "caption"},
      {36 + 54 + 60, 1, 1, hiOnItem | hiOnItemRight, "beyond the caption"},
  };
  for (bool rtl : {false, true}) {
    RowTree r;
    r.tree.RightToLeft = rtl;
    for (const Case& c : cases) {
      SCOPED_TRACE(std::string(c.what) + (rtl ? " (right to left)" : ""));
      const int x = rtl ? 399 - c.x : c.x;
      const TVTHitInfo hit = r.tree.HitTestPoint(x, c.row * kRow + 5, true);
      EXPECT_EQ(hit.HitNode, r.n[std::size_t(c.node)]);
      // Right to left, what lies beyond the caption lies left of it.
      const std::uint16_t flags = rtl && c.flags == (hiOnItem | hiOnItemRight) ? hiOnItem | hiOnItemLeft : c.flags;
      EXPECT_EQ(hit.HitPositions, flags);
    }
  }
}

TEST(RowHits, CaptionAlignmentsOutsideTheMainColumnBothWays) {
  // Column 1 is 150 wide at 150: no indentation, two images (36), text 50.
  struct Case {
    int alignment;
    int x;  // within the column, left to right
    std::uint16_t part;
  } cases[] = {
      {kAlignLeft, 40, hiOnItemLabel},    {kAlignLeft, 90, hiOnItemRight},  {kAlignRight, 90, hiOnItemLeft},
      {kAlignRight, 110, hiOnItemLabel},  {kAlignCenter, 60, hiOnItemLeft}, {kAlignCenter, 80, hiOnItemLabel},
      {kAlignCenter, 130, hiOnItemRight},
  };
  for (bool rtl : {false, true}) {
    for (const Case& c : cases) {
      RowTree r;
      // A right-to-left column is the mirror image: the same distance from
      // its right edge gives the same part, with left and right exchanged.
      r.tree.ColumnLayout.Columns = {{0, 0, 150, kAlignLeft, false}, {1, 150, 150, c.alignment, rtl}};
      r.tree.ColumnLayout.MainColumn = 0;
      SCOPED_TRACE(testing::Message() << "alignment " << c.alignment << " x " << c.x << (rtl ? " rtl" : ""));
      const int x = rtl ? 150 + 149 - c.x : 150 + c.x;
      std::uint16_t part = c.part;
      if (rtl && part != hiOnItemLabel) part = part == hiOnItemLeft ? hiOnItemRight : hiOnItemLeft;
      const TVTHitInfo hit = r.tree.HitTestPoint(x, kRow + 5, true);
      EXPECT_EQ(hit.HitColumn, 1);
      EXPECT_EQ(hit.HitPositions, hiOnItem | part);
      // The middle of the painted caption is on the caption.
      const TVTRect text = r.tree.ComputeNodeCellRect(r.n[1], 1, true, false);
      EXPECT_EQ(r.tree.HitTestPoint((text.Left + text.Right) / 2, kRow + 5, true).HitPositions,
                hiOnItem | hiOnItemLabel);
    }
  }
}

// --- Check boxes -----------------------------------------------------------------------------------

namespace {
struct CheckTree {
  struct Controller : TVTMouseController {
    using TVTMouseController::TVTMouseController;
  };
  RecordingTree tree;
  Controller mouse{tree};
  std::vector<TVTNode*> n;
  CheckTree() {
    n = BuildTreeFromLevels(tree, {0, 1, 1, 1});
    tree.SetExpanded(n[0], true);
    tree.SetCheckType(n[0], ctTriStateCheckBox);
    tree.SetCheckType(n[1], ctTriStateCheckBox);
    tree.SetCheckType(n[2], ctCheckBox);
    tree.SetCheckType(n[3], ctRadioButton);  // not counted for the parent
  }
  TVTHitInfo Box(int i) const { return {n[std::size_t(i)], std::uint16_t(hiOnItem | hiOnItemCheckbox), NoColumn}; }
};
}  // namespace

TEST(CheckClicks, ChildrenDecideTheParentAndThePressedLookShowsBetween) {
  CheckTree c;
  c.mouse.ButtonDown(kMouseLeft, c.Box(1), 5, 5, 0);
  EXPECT_EQ(c.n[1]->CheckState, csUncheckedPressed);
  EXPECT_EQ(c.mouse.PressedCheckState(), csCheckedNormal);
  c.mouse.ButtonUp(kMouseLeft, c.Box(1));
  EXPECT_EQ(c.n[1]->CheckState, csCheckedNormal);
  EXPECT_EQ(c.n[0]->CheckState, csMixedNormal) << "one of two boxes checked";

  c.mouse.ButtonDown(kMouseLeft, c.Box(2), 5, 5, 0);
  EXPECT_EQ(c.n[2]->CheckState, csUncheckedPressed);
  c.mouse.ButtonUp(kMouseLeft, c.Box(2));
  EXPECT_EQ(c.n[0]->CheckState, csCheckedNormal) << "both boxes checked; the radio button does not count";

  // A refusal of the parent's change leaves the parent and the child as they are.
  c.tree.checking = [&c](TVTNode* node, std::uint8_t&) { return node != c.n[0]; };
  c.mouse.ButtonDown(kMouseLeft, c.Box(2), 5, 5, 0);
  c.mouse.ButtonUp(kMouseLeft, c.Box(2));
  EXPECT_EQ(c.n[0]->CheckState, csCheckedNormal);
  EXPECT_EQ(c.n[2]->CheckState, csCheckedNormal);

  // Released off the box: the press is undone.
  c.tree.checking = nullptr;
  c.mouse.ButtonDown(kMouseLeft, c.Box(3), 5, 5, 0);
  c.mouse.ButtonUp(kMouseLeft, TVTHitInfo{c.n[3], hiOnItem | hiOnItemLabel, NoColumn});
  EXPECT_EQ(c.n[3]->CheckState, csUncheckedNormal);
  EXPECT_EQ(c.mouse.PressedCheckNode(), nullptr);
}

// --- Auto-scroll -----------------------------------------------------------------------------------

TEST(AutoScroll, CanAutoScrollByOptionStatesAndHeader) {
  struct Case {
    bool autoScrollOption;
    int state;  // -1 none
    bool dropTarget;
    bool header;
    bool expected;
  } cases[] = {
      {true, -1, false, false, false},
      {true, tsDrawSelPending, false, false, true},
      {true, tsDrawSelecting, false, false, true},
      {true, -1, true, false, true},
      {true, tsDrawSelecting, false, true, false},
      {false, tsDrawSelecting, false, false, false},
      {false, tsWheelPanning, false, false, true},
      {false, tsWheelScrolling, false, false, true},
      {false, 36, false, false, true},  // a framework drag image shows
  };
  for (const Case& c : cases) {
    RecordingTree tree;
    tree.OptionBits.Auto = c.autoScrollOption ? voAutoScroll : 0;
    if (c.state >= 0) tree.SetTreeState(c.state, true);
    tree.ownHost.currentDropTarget = c.dropTarget;
    tree.ownHost.headerInAction = c.header;
    SCOPED_TRACE(testing::Message() << "option " << c.autoScrollOption << " state " << c.state << " drop "
                                    << c.dropTarget << " header " << c.header);
    EXPECT_EQ(tree.CanAutoScroll(), c.expected);
  }
}

TEST(AutoScroll, EdgeBandsPanningAndTheDelay) {
  RecordingTree tree;
  tree.ownHost.clientWidth = 100;
  tree.ownHost.clientHeight = 5 * kRow;
  BuildTreeFromLevels(tree, std::vector<int>(20, 0));
  tree.RefreshScrollBars(false);
  tree.OptionBits.Auto |= voAutoScroll;
  tree.SetTreeState(tsDrawSelecting, true);
  tree.AutoScrollDelay = 0;
  struct Case {
    int offsetY;
    int x, y;
    std::uint8_t directions;
    const char* what;
  } cases[] = {
      {0, 50, 3, 0, "top band with offset 0 does nothing"},
      {-36, 50, 3, 2, "top band scrolled down"},
      {0, 50, 5 * kRow - 3, 8, "bottom band with more below"},
      {0, 50, 40, 0, "middle"},
      {-(20 - 5) * kRow, 50, 5 * kRow - 3, 0, "bottom band at the end"},
      {0, 3, 40, 0, "left band without a horizontal offset"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    tree.SetOffsetY(c.offsetY);
    EXPECT_EQ(tree.GetAutoScrollDirections(c.x, c.y), c.directions);
  }

  // Panning: beyond 8 pixels of the anchor, whatever the bands.
  tree.SetTreeState(tsDrawSelecting, false);
  tree.SetTreeState(tsWheelPanning, true);
  tree.PanningAnchorX = 50;
  tree.PanningAnchorY = 40;
  EXPECT_EQ(tree.GetAutoScrollDirections(58, 48), 0);
  EXPECT_EQ(tree.GetAutoScrollDirections(41, 49), 1 | 8);
  EXPECT_EQ(tree.GetAutoScrollDirections(59, 31), 4 | 2);
  tree.SetTreeState(tsWheelPanning, false);

  // The delay counts from the first request over the tree (a point outside
  // the bands forgets earlier requests).
  tree.SetTreeState(tsDrawSelecting, true);
  tree.SetOffsetY(0);
  tree.UpdateAutoScroll(50, 40);
  tree.AutoScrollDelay = 100;
  tree.ownHost.clock = 1000;
  tree.UpdateAutoScroll(50, 5 * kRow - 3);
  EXPECT_EQ(tree.AutoScrollDirections, 0) << "the delay has not passed";
  EXPECT_FALSE(tree.ownHost.TimerRunning(kScrollTimer));
  tree.ownHost.clock = 1099;
  tree.UpdateAutoScroll(50, 5 * kRow - 3);
  EXPECT_EQ(tree.AutoScrollDirections, 0);
  tree.ownHost.clock = 1100;
  tree.UpdateAutoScroll(50, 5 * kRow - 3);
  EXPECT_EQ(tree.AutoScrollDirections, 8);
  EXPECT_TRUE(tree.HasTreeState(tsScrolling));
  EXPECT_EQ(tree.ownHost.timers[kScrollTimer], 100u);
  // Leaving the bands stops it, and the next request waits again.
  tree.UpdateAutoScroll(50, 40);
  EXPECT_FALSE(tree.ownHost.TimerRunning(kScrollTimer));
  EXPECT_FALSE(tree.HasTreeState(tsScrolling));
  tree.ownHost.clock = 5000;
  tree.UpdateAutoScroll(50, 5 * kRow - 3);
  EXPECT_EQ(tree.AutoScrollDirections, 0);
  // Over another window (and not the drop target) there is no delay to wait.
  tree.ownHost.windowIsTree = false;
  tree.UpdateAutoScroll(50, 5 * kRow - 3);
  EXPECT_EQ(tree.AutoScrollDirections, 8);
}

TEST(AutoScroll, TheTimerRunsAtTheIntervalAfterTheFirstDelay) {
  struct CursorHost : RecordingHost {
    int cursorX = 50, cursorY = 0;
    bool CursorPos(int& x, int& y) const override {
      x = cursorX;
      y = cursorY;
      return true;
    }
  } host;
  host.clientWidth = 100;
  host.clientHeight = 5 * kRow;
  RecordingTree tree(nullptr, &host);
  BuildTreeFromLevels(tree, std::vector<int>(40, 0));
  tree.RefreshScrollBars(false);
  tree.OptionBits.Auto |= voAutoScroll;
  tree.SetTreeState(tsDrawSelecting, true);
  tree.AutoScrollInterval = 7;
  host.cursorY = 5 * kRow - 3;
  tree.AutoScrollDelay = 300;
  host.windowIsTree = false;  // no wait in the band: only the timer's delay
  tree.UpdateAutoScroll(host.cursorX, host.cursorY);
  ASSERT_EQ(tree.AutoScrollDirections, 8);
  EXPECT_EQ(host.timers[kScrollTimer], 300u) << "armed with the delay";
  EXPECT_TRUE(tree.HasTreeState(tsScrolling));
  EXPECT_FALSE(tree.HasTreeState(tsScrollPending));
  // The first expiry: one step, and the timer goes on at the interval.
  tree.ScrollTimerFired();
  EXPECT_EQ(tree.OffsetY(), -20);
  EXPECT_EQ(host.timers[kScrollTimer], 7u);
  EXPECT_TRUE(tree.HasTreeState(tsScrollPending));
  EXPECT_FALSE(tree.HasTreeState(tsScrolling));
  // Later expiries step at the interval; moving within the band re-arms nothing.
  host.timers[kScrollTimer] = 0;
  tree.UpdateAutoScroll(host.cursorX, host.cursorY);
  tree.ScrollTimerFired();
  EXPECT_EQ(tree.OffsetY(), -40);
  EXPECT_EQ(host.timers[kScrollTimer], 0u) << "not restarted";
  // Leaving the band ends both states and the timer.
  tree.UpdateAutoScroll(50, 40);
  EXPECT_FALSE(host.TimerRunning(kScrollTimer));
  EXPECT_FALSE(tree.HasTreeState(tsScrollPending));
  EXPECT_FALSE(tree.HasTreeState(tsScrolling));
}

TEST(Panning, CursorAndPictureByOffsetAndScrollableDirections) {
  struct Case {
    int dx, dy;
    bool h, v;
    const char* cursor;
  } cases[] = {
      {3, -7, false, true, "VT_MOVENS"},  {0, 0, true, true, "VT_MOVEALL"},  {7, 7, true, false, "VT_MOVEEW"},
      {-9, -9, true, true, "VT_MOVENW"},  {-9, 8, true, true, "VT_MOVEW"},   {-9, 9, true, true, "VT_MOVESW"},
      {-8, -20, true, true, "VT_MOVEN"},  {8, 20, true, true, "VT_MOVES"},   {9, -9, true, true, "VT_MOVENE"},
      {9, 0, true, true, "VT_MOVEE"},     {9, 9, true, true, "VT_MOVESE"},   {-20, 30, true, false, "VT_MOVEW"},
      {20, -30, true, false, "VT_MOVEE"}, {30, -8, false, true, "VT_MOVEN"}, {-30, 8, false, true, "VT_MOVES"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.dx << "," << c.dy << " h" << c.h << " v" << c.v);
    EXPECT_STREQ(PanningCursorName(c.dx, c.dy, c.h, c.v), c.cursor);
  }
  EXPECT_STREQ(PanningBitmapName(true, true), "VT_MOVEALL");
  EXPECT_STREQ(PanningBitmapName(true, false), "VT_MOVEEW");
  EXPECT_STREQ(PanningBitmapName(false, true), "VT_MOVENS");
  EXPECT_STREQ(PanningBitmapName(false, false), "VT_MOVENS");
}

// --- Animation -------------------------------------------------------------------------------------

TEST(Animation, StepsPacingAndTheLastCall) {
  struct Case {
    int distance, duration;
    std::uint64_t tick;
    std::vector<std::pair<int, int>> calls;  // position, step
  } cases[] = {
      // 10 pixels over 5 ms: steps of 2, one per ms; the position is what is done.
      {10, 5, 1, {{0, 2}, {2, 2}, {4, 2}, {6, 2}, {8, 2}, {0, 0}}},
      // 10 pixels over 20 ms: steps of 1, two ms each.
      {10, 20, 1, {{0, 1}, {1, 1}, {2, 1}, {3, 1}, {4, 1}, {5, 1}, {6, 1}, {7, 1}, {8, 1}, {9, 1}, {0, 0}}},
      {0, 50, 1, {{0, 0}}},
      {100, 0, 1, {}},
  };
  for (const Case& c : cases) {
    RecordingTree tree;
    tree.ownHost.tick = c.tick;
    std::vector<std::pair<int, int>> calls;
    tree.RunTimedAnimation(c.distance, c.duration, [&](int position, int step) {
      calls.push_back({position, step});
      return true;
    });
    SCOPED_TRACE(testing::Message() << c.distance << " over " << c.duration);
    EXPECT_EQ(calls, c.calls);
    EXPECT_FALSE(tree.HasTreeState(tsAnimating));
  }

  RecordingTree tree;
  tree.ownHost.tick = 1;
  std::vector<int> steps;
  tree.RunTimedAnimation(100, 50, [&](int, int step) {
    steps.push_back(step);
    // Nothing starts while one runs.
    int nested = 0;
    tree.RunTimedAnimation(10, 10, [&](int, int) { return ++nested, true; });
    EXPECT_EQ(nested, 0);
    return true;
  });
  ASSERT_EQ(steps.size(), 51u);
  EXPECT_EQ(steps.front(), 2);
  EXPECT_EQ(steps.back(), 0);

  // A false result ends it; the last call still comes. A terminating program ends it without one.
  int calls = 0;
  tree.RunTimedAnimation(100, 50, [&](int, int) { return ++calls, calls < 3; });
  EXPECT_EQ(calls, 4);
  tree.ownHost.terminating = true;
  calls = 0;
  tree.RunTimedAnimation(100, 50, [&](int, int) { return ++calls, true; });
  EXPECT_EQ(calls, 0);
  // A failing step clears the running state.
  tree.ownHost.terminating = false;
  EXPECT_THROW(tree.RunTimedAnimation(100, 50, [](int, int) -> bool { throw std::runtime_error("step"); }),
               std::runtime_error);
  EXPECT_FALSE(tree.HasTreeState(tsAnimating));
}

// --- Change events ---------------------------------------------------------------------------------

TEST(ChangeEvents, DelayUpdatesAndTheLastChange) {
  RecordingTree tree;
  std::vector<TVTNode*> n = BuildTreeFromLevels(tree, {0, 0, 0});
  // No delay: at once.
  tree.AddToSelectionAndNotify(n[0]);
  EXPECT_EQ(tree.changes, std::vector<TVTNode*>{n[0]});
  // Already selected: nothing added, nothing fired.
  tree.AddToSelectionAndNotify(n[0]);
  EXPECT_EQ(tree.changes.size(), 1u);
  // Inside an update: only once the update ends.
  tree.changes.clear();
  tree.BeginUpdate();
  tree.AddToSelectionAndNotify(n[1]);
  EXPECT_TRUE(tree.changes.empty());
  EXPECT_TRUE(tree.HasTreeState(tsChangePending));
  tree.EndUpdate();
  EXPECT_EQ(tree.changes, std::vector<TVTNode*>{n[1]});
  // With a delay: the timer restarts with every change and one event fires for the last.
  tree.changes.clear();
  tree.SetChangeDelay(300);
  tree.ScheduleChangeEvent(n[0]);
  tree.ScheduleChangeEvent(n[2]);
  EXPECT_TRUE(tree.changes.empty());
  EXPECT_EQ(tree.ownHost.timers[kChangeTimer], 300u);
  tree.TimerFired(kChangeTimer);
  EXPECT_EQ(tree.changes, std::vector<TVTNode*>{n[2]});
  EXPECT_FALSE(tree.ownHost.TimerRunning(kChangeTimer));
  EXPECT_FALSE(tree.HasTreeState(tsChangePending));
  // Several nodes at once report no node.
  tree.SetChangeDelay(0);
  tree.changes.clear();
  TVTNode* many[] = {n[0], n[1], n[2]};
  tree.DropAllSelected();
  tree.AddManyToSelectionAndNotify(many, 3, false);
  EXPECT_EQ(tree.changes, std::vector<TVTNode*>{nullptr});
  EXPECT_EQ(tree.SelectedCount(), 3u);
}

TEST(ChangeEvents, StructureReasonsAccumulateAndAFreedPendingNodeIsForgotten) {
  RecordingTree tree;
  std::vector<TVTNode*> n = BuildTreeFromLevels(tree, {0, 1, 0});
  tree.NotePendingChange(true, n[1], crChildAdded);
  EXPECT_EQ(tree.PendingStructureChangeReason(), crChildAdded);
  tree.NotePendingChange(true, n[1], crIgnore);
  EXPECT_EQ(tree.PendingStructureChangeReason(), crChildAdded);
  tree.NotePendingChange(true, n[1], crChildDeleted);
  EXPECT_EQ(tree.PendingStructureChangeReason(), crAccumulated);

  tree.SetChangeDelay(100);
  tree.ScheduleChangeEvent(n[1]);
  EXPECT_EQ(tree.PendingChangeNode(), n[1]);
  tree.RemoveNode(n[1]);
  EXPECT_EQ(tree.PendingChangeNode(), nullptr);
  tree.TimerFired(kChangeTimer);
  EXPECT_EQ(tree.changes, std::vector<TVTNode*>{nullptr}) << "the event never names a freed node";
}

// --- Scroll offset ---------------------------------------------------------------------------------

TEST(ScrollOffset, ClampingTheHostsWorkAndTheScrollEvent) {
  struct Recorder {
    std::vector<std::pair<int, int>> scrolls;
    void Scroll(TObject*, int dx, int dy) { scrolls.push_back({dx, dy}); }
  } recorder;
  RecordingTree tree;
  tree.OnScroll = decltype(tree.OnScroll)::Bind<&Recorder::Scroll>(&recorder);
  tree.ownHost.clientWidth = 100;
  tree.ownHost.clientHeight = 5 * kRow;
  BuildTreeFromLevels(tree, std::vector<int>(10, 0));
  tree.RefreshScrollBars(false);
  const int bottom = 5 * kRow - 10 * kRow;  // the last row ends at the client area's bottom
  struct Case {
    int y;
    int expected;
    bool changed;
  } cases[] = {{-20, -20, true}, {-1000, bottom, true}, {-1000, bottom, false}, {25, 0, true}, {0, 0, false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.y);
    EXPECT_EQ(tree.ApplyScrollOffset(0, c.y, suoScrollClientArea | suoUpdateNCArea), c.changed);
    EXPECT_EQ(tree.OffsetY(), c.expected);
  }
  EXPECT_EQ(recorder.scrolls, (std::vector<std::pair<int, int>>{{0, -20}, {0, bottom + 20}, {0, -bottom}}));
  EXPECT_EQ(tree.ownHost.scrolls.size(), 3u);
  EXPECT_EQ(tree.ownHost.scrolls[0], (RecordingHost::Scroll{0, -20, false}));
  // Inside an update only the offsets and the event.
  tree.BeginUpdate();
  EXPECT_TRUE(tree.ApplyScrollOffset(0, -30, suoScrollClientArea));
  EXPECT_EQ(tree.ownHost.scrolls.size(), 3u);
  EXPECT_EQ(recorder.scrolls.size(), 4u);
  tree.EndUpdate();
}

// --- Button presses --------------------------------------------------------------------------------

namespace {
struct PressTree {
  struct Controller : TVTMouseController {
    using TVTMouseController::TVTMouseController;
    int focusTaken = 0;
    int panningEnded = 0;
    bool dragAllowed = false;
    std::vector<int> columnClicks;
    void TakeFocus() override { ++focusTaken; }
    void EndWheelPanning() override {
      ++panningEnded;
      TVTMouseController::EndWheelPanning();
    }
    bool AskDragAllowed(TVTNode*, int) override { return dragAllowed; }
    void ColumnClick(int column) override { columnClicks.push_back(column); }
  };
  ImageTree tree;
  Controller mouse{tree};
  std::vector<TVTNode*> n;
  PressTree() {
    tree.ownHost.clientHeight = 10 * kRow;
    tree.ownHost.clientWidth = 200;
    n = BuildTreeFromLevels(tree, {0, 1, 1, 0, 0});
    tree.SetExpanded(n[0], true);
    tree.SetMultiSelect(true);
    tree.RefreshScrollBars(false);
  }
  TVTHitInfo On(int row, std::uint16_t part = hiOnItemLabel, int column = NoColumn) const {
    return {n[std::size_t(row)], std::uint16_t(hiOnItem | part), column};
  }
};
}  // namespace

TEST(ButtonDown, TheOrderedDecisions) {
  struct Row {
    const char* decision;
    std::function<void(PressTree&)> setUp;
    std::function<void(PressTree&)> act;
    std::function<void(PressTree&)> check;
  };
  const Row rows[] = {
      {"1. a press while panning only ends the panning",
       [](PressTree& p) { p.tree.SetTreeState(tsWheelPanning, true); },
       [](PressTree& p) { p.mouse.ButtonDown(kMouseLeft, p.On(3), 5, 5, 0); },
       [](PressTree& p) {
         EXPECT_EQ(p.mouse.panningEnded, 1);
         EXPECT_FALSE(p.tree.HasTreeState(tsWheelPanning));
         EXPECT_EQ(p.tree.FocusedNode(), nullptr);
         EXPECT_EQ(p.mouse.focusTaken, 0);
       }},
      {"2. an edit that cannot end keeps the press from acting",
       [](PressTree& p) {
         p.tree.SetTreeState(tsEditing, true);
         p.tree.endEditRefuses = true;
       },
       [](PressTree& p) { p.mouse.ButtonDown(kMouseLeft, p.On(3), 5, 5, 0); },
       [](PressTree& p) {
         EXPECT_TRUE(p.tree.HasTreeState(tsEditing));
         EXPECT_EQ(p.tree.FocusedNode(), nullptr);
       }},
      {"2. with auto option bit 9 the edit is cancelled instead",
       [](PressTree& p) {
         p.tree.SetTreeState(tsEditing, true);
         p.tree.endEditRefuses = true;
         p.tree.OptionBits.Auto |= 1u << 9;
       },
       [](PressTree& p) { p.mouse.ButtonDown(kMouseLeft, p.On(3), 5, 5, 0); },
       [](PressTree& p) {
         EXPECT_FALSE(p.tree.HasTreeState(tsEditing));
         EXPECT_EQ(p.tree.FocusedNode(), p.n[3]);
       }},
      {"3. the hit column is the clicked column; extended focus focuses it",
       [](PressTree& p) {
         p.tree.ColumnLayout.Columns = {{0, 0, 100, kAlignLeft, false}, {1, 100, 100, kAlignLeft, false}};
         p.tree.ColumnLayout.MainColumn = 0;
         p.tree.OptionBits.Selection |= voExtendedFocus;
       },
       [](PressTree& p) { p.mouse.ButtonDown(kMouseLeft, p.On(3, hiOnItemLabel, 1), 150, 5, 0); },
       [](PressTree& p) {
         EXPECT_EQ(p.mouse.ClickedColumn(), 1);
         EXPECT_EQ(p.tree.FocusedColumn(), 1);
       }},
      {"4. Alt is no modifier: a plain press", [](PressTree& p) { p.tree.SetNodeSelected(p.n[4], true); },
       [](PressTree& p) { p.mouse.ButtonDown(kMouseLeft, p.On(3), 5, 5, kKeyAlt); },
       [](PressTree& p) {
         EXPECT_EQ(SelectedNodes(p.tree), std::set<TVTNode*>{p.n[3]});
         EXPECT_EQ(p.tree.RangeAnchor(), p.n[3]);
       }},
      {"5/14. an automatic drag mode makes a press on a node wait for the drag threshold",
       [](PressTree& p) { p.mouse.AutomaticDrag = true; },
       [](PressTree& p) { p.mouse.ButtonDown(kMouseLeft, p.On(3), 5, 5, 0); },
       [](PressTree& p) {
         EXPECT_TRUE(p.tree.HasTreeState(tsOLEDragPending));
         EXPECT_EQ(p.tree.FocusedNode(), p.n[3]);
       }},
      {"5. a manual drag mode asks the drag-allowed event; not on a full-row hit",
       [](PressTree& p) {
         p.mouse.dragAllowed = true;
         p.tree.OptionBits.Selection |= voFullRowSelect;
       },
       [](PressTree& p) { p.mouse.ButtonDown(kMouseLeft, p.On(3, hiOnItemRight), 5, 5, 0); },
       [](PressTree& p) {
         EXPECT_FALSE(p.tree.HasTreeState(tsOLEDragPending));
         EXPECT_EQ(p.tree.FocusedNode(), p.n[3]);
       }},
      {"6. the button toggles and nothing else happens", [](PressTree&) {},
       [](PressTree& p) { p.mouse.ButtonDown(kMouseLeft, p.On(0, hiOnItemButton), 5, 5, 0); },
       [](PressTree& p) {
         EXPECT_FALSE(p.n[0]->States & vsExpanded);
         EXPECT_EQ(p.tree.FocusedNode(), nullptr);
         EXPECT_EQ(p.mouse.focusTaken, 0);
       }},
      {"6. the check box shows its pressed look and nothing else happens",
       [](PressTree& p) { p.tree.SetCheckType(p.n[3], ctCheckBox); },
       [](PressTree& p) { p.mouse.ButtonDown(kMouseLeft, p.On(3, hiOnItemCheckbox), 5, 5, 0); },
       [](PressTree& p) {
         EXPECT_EQ(p.n[3]->CheckState, csUncheckedPressed);
         EXPECT_EQ(p.tree.FocusedNode(), nullptr);
       }},
      {"7. the selection level becomes the hit node's", [](PressTree&) {},
       [](PressTree& p) { p.mouse.ButtonDown(kMouseLeft, p.On(1), 5, 5, 0); },
       [](PressTree& p) { EXPECT_EQ(p.tree.LastSelectionLevel(), 1); }},
      {"8. a plain press on a selected node that may be dragged keeps the others until the release",
       [](PressTree& p) {
         p.mouse.AutomaticDrag = true;
         p.tree.SetNodeSelected(p.n[3], true);
         p.tree.SetNodeSelected(p.n[4], true);
       },
       [](PressTree& p) {
         p.mouse.ButtonDown(kMouseLeft, p.On(3), 5, 5, 0);
         EXPECT_TRUE(p.tree.HasTreeState(tsClearPending));
         EXPECT_EQ(p.tree.SelectedCount(), 2u);
         p.mouse.ButtonUp(kMouseLeft, p.On(3));
       },
       [](PressTree& p) {
         EXPECT_FALSE(p.tree.HasTreeState(tsClearPending));
         EXPECT_EQ(SelectedNodes(p.tree), std::set<TVTNode*>{p.n[3]});
       }},
      {"9a. a press beside the items clears the selection", [](PressTree& p) { p.tree.SetNodeSelected(p.n[4], true); },
       [](PressTree& p) { p.mouse.ButtonDown(kMouseLeft, p.On(3, hiOnItemRight), 150, 5, 0); },
       [](PressTree& p) { EXPECT_EQ(p.tree.SelectedCount(), 0u); }},
      {"9b. a plain press on a selected node that may not be dragged keeps only it",
       [](PressTree& p) {
         p.tree.SetNodeSelected(p.n[3], true);
         p.tree.SetNodeSelected(p.n[4], true);
       },
       [](PressTree& p) { p.mouse.ButtonDown(kMouseLeft, p.On(3), 5, 5, 0); },
       [](PressTree& p) { EXPECT_EQ(SelectedNodes(p.tree), std::set<TVTNode*>{p.n[3]}); }},
      {"10. a press on the selected caption waits to edit, and the release starts timer 2",
       [](PressTree& p) {
         p.tree.SetNodeSelected(p.n[3], true);
         p.tree.SetFocusedNode(p.n[3]);
         p.mouse.EditDelay = 700;
       },
       [](PressTree& p) {
         p.mouse.ButtonDown(kMouseLeft, p.On(3), 5, 5, 0);
         EXPECT_TRUE(p.tree.HasTreeState(tsEditPending));
         p.mouse.ButtonUp(kMouseLeft, p.On(3));
       },
       [](PressTree& p) {
         EXPECT_EQ(p.tree.ownHost.timers[kEditTimer], 700u);
         EXPECT_EQ(p.tree.EditColumn(), p.tree.FocusedColumn());
       }},
      {"10. no edit waits for an unselected node or with a modifier",
       [](PressTree& p) { p.tree.SetNodeSelected(p.n[4], true); },
       [](PressTree& p) {
         p.mouse.ButtonDown(kMouseLeft, p.On(3), 5, 5, 0);
         EXPECT_FALSE(p.tree.HasTreeState(tsEditPending));
         p.mouse.ButtonDown(kMouseLeft, p.On(3), 5, 5, kKeyCtrl);
       },
       [](PressTree& p) { EXPECT_FALSE(p.tree.HasTreeState(tsEditPending)); }},
      {"11. the tree takes the focus", [](PressTree&) {},
       [](PressTree& p) { p.mouse.ButtonDown(kMouseLeft, p.On(3, hiOnItemRight), 150, 5, 0); },
       [](PressTree& p) { EXPECT_EQ(p.mouse.focusTaken, 1); }},
      {"12. a press beside the captions starts a pending band in tree coordinates",
       [](PressTree& p) {
         p.tree.ownHost.clientHeight = 2 * kRow;
         p.tree.RefreshScrollBars(false);
         p.tree.SetOffsetY(-kRow);
       },
       [](PressTree& p) { p.mouse.ButtonDown(kMouseLeft, p.On(3, hiOnItemRight), 150, 5, 0); },
       [](PressTree& p) {
         EXPECT_TRUE(p.tree.HasTreeState(tsDrawSelPending));
         EXPECT_EQ(p.mouse.BandRect(), (TVTRect{150, 5 + kRow, 150, 5 + kRow}));
         EXPECT_EQ(p.tree.FocusedNode(), nullptr);
       }},
      {"13. the press point is kept; the focus-changing event may veto", [](PressTree& p) { p.tree.vetoFocus = true; },
       [](PressTree& p) { p.mouse.ButtonDown(kMouseLeft, p.On(3), 33, 44, 0); },
       [](PressTree& p) {
         EXPECT_EQ(p.mouse.MouseDownX(), 33);
         EXPECT_EQ(p.mouse.MouseDownY(), 44);
         EXPECT_EQ(p.tree.FocusedNode(), nullptr);
         EXPECT_EQ(p.tree.SelectedCount(), 0u);
       }},
      {"13. a plain press focuses, anchors and selects", [](PressTree&) {},
       [](PressTree& p) { p.mouse.ButtonDown(kMouseLeft, p.On(4), 5, 5, 0); },
       [](PressTree& p) {
         EXPECT_EQ(p.tree.FocusedNode(), p.n[4]);
         EXPECT_EQ(p.tree.RangeAnchor(), p.n[4]);
         EXPECT_EQ(SelectedNodes(p.tree), std::set<TVTNode*>{p.n[4]});
         EXPECT_EQ(p.tree.changes, std::vector<TVTNode*>{p.n[4]});
         EXPECT_FALSE(p.tree.HasTreeState(tsOLEDragPending)) << "no drag without a drag mode";
       }},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.decision);
    PressTree p;
    row.setUp(p);
    row.act(p);
    row.check(p);
  }
}

TEST(ButtonUp, AReleaseOnTheClickedColumnClicksIt) {
  PressTree p;
  p.tree.ColumnLayout.Columns = {{0, 0, 100, kAlignLeft, false}, {1, 100, 100, kAlignLeft, false}};
  p.tree.ColumnLayout.MainColumn = 0;
  p.mouse.ButtonDown(kMouseLeft, p.On(3, hiOnItemLabel, 1), 150, 5, 0);
  p.mouse.ButtonUp(kMouseLeft, p.On(3, hiOnItemLabel, 0));
  EXPECT_TRUE(p.mouse.columnClicks.empty());
  p.mouse.ButtonDown(kMouseLeft, p.On(3, hiOnItemLabel, 1), 150, 5, 0);
  p.mouse.ButtonUp(kMouseLeft, p.On(3, hiOnItemLabel, 1));
  EXPECT_EQ(p.mouse.columnClicks, std::vector<int>{1});
}

TEST(MouseMove, TheDragStartsBeyondTheThresholdAndTheHotNodeFires) {
  PressTree p;
  struct Hot {
    std::vector<std::pair<TVTNode*, TVTNode*>> changes;
    void Changed(TObject*, TVTNode* o, TVTNode* n) { changes.push_back({o, n}); }
  } hot;
  p.tree.OnHotChange = decltype(p.tree.OnHotChange)::Bind<&Hot::Changed>(&hot);
  p.mouse.Move(p.On(3), 5, 5);
  p.mouse.Move(p.On(3), 6, 5);
  p.mouse.Move(p.On(3, hiOnItemRight), 150, 5);
  EXPECT_EQ(hot.changes, (std::vector<std::pair<TVTNode*, TVTNode*>>{{nullptr, p.n[3]}, {p.n[3], nullptr}}));

  p.mouse.AutomaticDrag = true;
  p.mouse.ButtonDown(kMouseLeft, p.On(3), 20, 20, 0);
  ASSERT_TRUE(p.tree.HasTreeState(tsOLEDragPending));
  p.mouse.Move(p.On(3), 24, 16);
  EXPECT_TRUE(p.tree.HasTreeState(tsOLEDragPending)) << "within the threshold of 5";
  p.mouse.Move(p.On(3), 25, 20);
  EXPECT_FALSE(p.tree.HasTreeState(tsOLEDragPending));
}

// --- Incremental search ----------------------------------------------------------------------------

namespace {
struct SearchTree {
  struct Search : TVTIncrementalSearch {
    using TVTIncrementalSearch::TVTIncrementalSearch;
    std::map<TVTNode*, std::u16string> names;
    std::set<TVTNode*> asked;
    int beeps = 0;
    int FireIncrementalSearch(TVTNode* node, const std::u16string& text) override {
      asked.insert(node);
      const std::u16string& name = names[node];
      if (name.size() < text.size()) return 1;
      for (std::size_t i = 0; i < text.size(); ++i) {
        if (std::tolower(int(name[i])) != std::tolower(int(text[i]))) return 1;
      }
      return 0;
    }
    void Beep() override { ++beeps; }
  };
  RecordingTree tree;
  Search search{tree};
  std::vector<TVTNode*> n;
  // "apple", "banana" (child "blueberry", collapsed), "cherry", "bean".
  SearchTree() {
    n = BuildTreeFromLevels(tree, {0, 0, 1, 0, 0});
    const char16_t* names[] = {u"apple", u"banana", u"blueberry", u"cherry", u"bean"};
    for (std::size_t i = 0; i < n.size(); ++i) search.names[n[i]] = names[i];
    search.Mode = isAll;
  }
  void Type(const char16_t* text) {
    for (const char16_t* c = text; *c; ++c) search.ProcessSearchKeystroke(*c);
  }
};
}  // namespace

TEST(IncrementalSearch, TypedTextRepeatsWrapsAndBeeps) {
  struct Case {
    const char* what;
    int mode, direction, start;
    int focused;  // -1 none
    const char16_t* typed;
    int found;  // -1 none
    int beeps;
    const char16_t* text;
  } cases[] = {
      {"a letter finds the first node after the focused one", isAll, sdForward, ssFocusedNode, -1, u"b", 1, 0, u"b"},
      {"more letters extend the text", isAll, sdForward, ssFocusedNode, -1, u"bl", 2, 0, u"bl"},
      {"the same letter twice steps to the next match", isAll, sdForward, ssFocusedNode, -1, u"bb", 2, 0, u"b"},
      {"three times steps again", isAll, sdForward, ssFocusedNode, -1, u"bbb", 4, 0, u"b"},
      {"stepping wraps at the end", isAll, sdForward, ssFocusedNode, -1, u"bbbb", 1, 0, u"b"},
      {"visible nodes only skip the collapsed child", isVisibleOnly, sdForward, ssFocusedNode, -1, u"bb", 4, 0, u"b"},
      {"backward from the focused node", isAll, sdBackward, ssFocusedNode, 3, u"b", 2, 0, u"b"},
      {"the search starts after the focused node and wraps", isAll, sdForward, ssFocusedNode, 4, u"a", 0, 0, u"a"},
      {"from the beginning", isAll, sdForward, ssAlwaysStartOver, 4, u"b", 1, 0, u"b"},
      {"a first letter that nothing matches beeps", isAll, sdForward, ssFocusedNode, -1, u"z", -1, 1, u""},
      {"a miss keeps quiet while the start node still matches the text so far", isAll, sdForward, ssFocusedNode, -1,
       u"bx", 1, 0, u"b"},
      {"a miss beeps when the start node fails the text so far too", isAll, sdForward, ssAlwaysStartOver, -1, u"bx", 1,
       1, u"b"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    SearchTree s;
    s.search.Mode = c.mode;
    s.search.Direction = c.direction;
    s.search.Start = c.start;
    if (c.focused >= 0) s.tree.SetFocusedNode(s.n[std::size_t(c.focused)]);
    s.Type(c.typed);
    if (c.found >= 0) {
      EXPECT_EQ(s.tree.FocusedNode(), s.n[std::size_t(c.found)]);
      EXPECT_EQ(SelectedNodes(s.tree), std::set<TVTNode*>{s.n[std::size_t(c.found)]});
      EXPECT_EQ(s.tree.SearchNode, s.n[std::size_t(c.found)]);
    }
    EXPECT_EQ(s.search.beeps, c.beeps);
    EXPECT_EQ(s.search.SearchText(), std::u16string(c.text));
    EXPECT_EQ(s.tree.ownHost.timers[kIncrementalSearchTimer], 1000u);
    EXPECT_TRUE(s.tree.HasTreeState(tsIncrementalSearching));
  }
}

TEST(IncrementalSearch, ModeOffTimeoutAndAFreedLastHit) {
  SearchTree s;
  s.search.Mode = isNone;
  s.tree.ownHost.timers[kIncrementalSearchTimer] = 1;
  s.Type(u"b");
  EXPECT_FALSE(s.tree.ownHost.TimerRunning(kIncrementalSearchTimer)) << "stopped, and none started";
  EXPECT_EQ(s.tree.FocusedNode(), nullptr);
  EXPECT_TRUE(s.search.asked.empty());

  // A character 0 only restarts the timeout.
  s.search.Mode = isAll;
  s.search.Timeout = 400;
  s.search.ProcessSearchKeystroke(0);
  EXPECT_EQ(s.tree.ownHost.timers[kIncrementalSearchTimer], 400u);
  EXPECT_TRUE(s.search.asked.empty());

  // The timeout empties the text: the next letter starts a new search.
  s.Type(u"ch");
  EXPECT_EQ(s.tree.FocusedNode(), s.n[3]);
  s.search.TimeoutExpired();
  EXPECT_TRUE(s.search.SearchText().empty());
  EXPECT_FALSE(s.tree.HasTreeState(tsIncrementalSearching));

  // The last found node goes: a search from the last hit starts over, never from freed memory.
  s.search.Start = ssLastHit;
  s.Type(u"be");
  EXPECT_EQ(s.tree.SearchNode, s.n[4]);
  s.search.TimeoutExpired();
  s.tree.RemoveNode(s.n[4]);
  EXPECT_EQ(s.tree.SearchNode, nullptr);
  s.search.asked.clear();
  s.Type(u"b");
  EXPECT_EQ(s.tree.FocusedNode(), s.n[1]);
  EXPECT_EQ(s.search.asked.count(s.n[4]), 0u);
}

// --- Node references and levels --------------------------------------------------------------------

TEST(NodeReferences, AFreedEditedNodeCancelsTheEdit) {
  RecordingTree tree;
  std::vector<TVTNode*> n = BuildTreeFromLevels(tree, {0, 1, 0});
  tree.EditedNode = n[1];
  tree.SetTreeState(tsEditing, true);
  tree.RemoveNode(n[0]);
  EXPECT_EQ(tree.EditedNode, nullptr);
  EXPECT_FALSE(tree.HasTreeState(tsEditing));
}

TEST(NodeLevels, CompareNodeLevelsStopsAtTheRoot) {
  RecordingTree tree;
  //                                  0  1  2  3  4  5
  std::vector<TVTNode*> n = BuildTreeFromLevels(tree, {0, 1, 2, 3, 0, 1});
  struct Case {
    int a, b;
    int expected;
  } cases[] = {
      {0, 1, 1},                           // a is b's parent
      {2, 2, -1},                          // one step up from a reaches b's parent
      {3, 2, -2}, {3, 1, -3}, {3, 5, -4},  // unrelated: the walk ends at the root
      {5, 3, -2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.a << " vs " << c.b);
    EXPECT_EQ(tree.CompareNodeLevels(n[std::size_t(c.a)], n[std::size_t(c.b)]), c.expected);
  }
}

TEST(NodeData, ReserveInternalNodeDataOnlyWithoutNodes) {
  RecordingTree tree;
  EXPECT_EQ(tree.ReserveInternalNodeData(5), sizeof(TVTNode));
  EXPECT_EQ(tree.ReserveInternalNodeData(4), sizeof(TVTNode) + 8);
  EXPECT_EQ(tree.InternalDataSize(), 12u);
  BuildTreeFromLevels(tree, {0});
  EXPECT_THROW(tree.ReserveInternalNodeData(4), EVirtualTreeError);
}

TEST(NodeCounts, CountVisibleDescendantsSkipsHiddenAndCollapsed) {
  RecordingTree tree;
  std::vector<TVTNode*> n = BuildTreeFromLevels(tree, {0, 1, 2, 1, 1});
  EXPECT_EQ(tree.CountVisibleDescendants(n[0]), 0u) << "collapsed";
  tree.SetExpanded(n[0], true);
  EXPECT_EQ(tree.CountVisibleDescendants(n[0]), 3u);
  tree.SetExpanded(n[1], true);
  EXPECT_EQ(tree.CountVisibleDescendants(n[0]), 4u);
  n[3]->States &= ~vsVisible;
  EXPECT_EQ(tree.CountVisibleDescendants(n[0]), 3u);
}
