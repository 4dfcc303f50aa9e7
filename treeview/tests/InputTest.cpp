// The window-free input decisions: scroll codes and the wheel, the check
// image table, line and band kinds, click and band selection, and the
// keyboard controller, each on small trees built node by node.
#include <gtest/gtest.h>

#include <functional>
#include <set>
#include <string>

#include "TreeTestSupport.h"
#include "VirtualTreeInput.h"
#include "VirtualTreeOptions.h"

namespace {

constexpr int kRow = 18;

std::set<TVTNode*> Pick(const std::vector<TVTNode*>& nodes, std::initializer_list<int> which) {
  std::set<TVTNode*> result;
  for (int i : which) result.insert(nodes[std::size_t(i)]);
  return result;
}

}  // namespace

// --- Scroll bars and the wheel ---------------------------------------------------------------------

TEST(ScrollCodes, EachCodeGivesItsOffset) {
  struct Case {
    int code;
    std::optional<int> expected;
  } cases[] = {
      {kSbLineUp, -80},    {kSbLineDown, -120},     {kSbPageUp, -100 + 300},
      {kSbPageDown, -400}, {kSbThumbPosition, -77}, {kSbThumbTrack, -77},
      {kSbTop, 0},         {kSbBottom, -5000},      {kSbEndScroll, std::nullopt},
      {42, std::nullopt},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ScrollCodeOffset(c.code, -100, 20, 300, 5000, 77), c.expected) << "code " << c.code;
  }
}

TEST(ScrollCodes, BottomScrollsToMinusTheRootsTotalHeight) {
  RecordingTree tree;
  tree.ownHost.clientHeight = 90;
  tree.ownHost.clientWidth = 200;
  BuildTreeFromLevels(tree, {0, 1, 1, 0, 0, 0, 0, 0});
  tree.FullExpand();
  tree.RefreshScrollBars(false);
  const auto offset = ScrollCodeOffset(kSbBottom, tree.OffsetY(), 20, 90, int(tree.TotalHeight()), 0);
  ASSERT_TRUE(offset);
  EXPECT_EQ(*offset, -8 * kRow);
  tree.SetOffsetY(*offset);
  EXPECT_EQ(tree.OffsetY(), 90 - 8 * kRow);  // clamped to the range
}

TEST(Wheel, NotchesScrollRowsOrIndentsAndCtrlAPage) {
  struct Case {
    int delta;
    bool ctrl;
    int clientW, clientH, virtualW, virtualH;
    int dx, dy;
  } cases[] = {
      {240, false, 200, 100, 400, 1000, 0, 36},  // two default heights toward the top
      {-240, false, 200, 100, 400, 1000, 0, -36},         {119, false, 200, 100, 400, 1000, 0, 0},  // less than a notch
      {-359, false, 200, 100, 400, 1000, 0, -36},   // truncated toward zero
      {120, true, 200, 100, 400, 1000, 0, 5 * 18},  // a page: whole rows in the client height
      {120, false, 200, 1000, 400, 100, 18, 0},     // nothing to scroll vertically: one indent
      {-240, true, 200, 1000, 400, 100, -2 * 11 * 18, 0},
  };
  for (const Case& c : cases) {
    const TVTWheelScroll s = WheelScrollAmount(c.delta, c.ctrl, c.clientW, c.clientH, c.virtualW, c.virtualH, 18, 18);
    EXPECT_EQ(s.DeltaX, c.dx) << c.delta << (c.ctrl ? " ctrl" : "");
    EXPECT_EQ(s.DeltaY, c.dy) << c.delta << (c.ctrl ? " ctrl" : "");
  }
}

// --- Check images ----------------------------------------------------------------------------------

TEST(CheckImages, TableByTypeStateEnabledAndPressed) {
  struct Case {
    std::uint8_t type, state;
    bool enabled, pressed;
    int index;
  } cases[] = {
      {ctCheckBox, csUncheckedNormal, true, false, 9},
      {ctCheckBox, csUncheckedNormal, true, true, 10},
      {ctCheckBox, csUncheckedPressed, true, false, 11},
      {ctCheckBox, csCheckedNormal, true, true, 14},
      {ctCheckBox, csMixedNormal, true, false, 17},
      {ctCheckBox, csMixedPressed, true, true, 19},
      {ctCheckBox, csCheckedPressed, false, true, 16},
      {ctCheckBox, csMixedNormal, false, false, 20},
      {ctRadioButton, csUncheckedNormal, true, true, 2},
      {ctRadioButton, csCheckedNormal, true, false, 5},
      {ctRadioButton, csCheckedNormal, false, false, 8},
      {ctRadioButton, csUncheckedPressed, false, false, 4},
      {ctButton, csCheckedNormal, true, true, 22},
      {ctButton, csUncheckedPressed, true, false, 23},
      {ctButton, csCheckedNormal, false, false, 24},
      {ctButton, csMixedNormal, false, false, 20},
      {ctNone, csCheckedNormal, true, false, -1},
      {7, csCheckedNormal, true, false, -1},
      {ctCheckBox, 6, true, false, -1},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(CheckImageIndex(c.type, c.state, c.enabled, c.pressed), c.index)
        << "type " << int(c.type) << " state " << int(c.state) << " enabled " << c.enabled << " pressed " << c.pressed;
  }
  // The tri-state box shares the plain box's images.
  for (std::uint8_t state = 0; state <= csMixedPressed; ++state) {
    for (int flags = 0; flags < 4; ++flags) {
      EXPECT_EQ(CheckImageIndex(ctTriStateCheckBox, state, flags & 1, flags & 2),
                CheckImageIndex(ctCheckBox, state, flags & 1, flags & 2));
    }
  }
}

TEST(CheckImages, ThemedPartsAndCycling) {
  struct Case {
    int index, part, state;
    bool overlay;
  } cases[] = {{0, 0, 0, false},
               {1, kThemeRadioButton, 1, false},
               {8, kThemeRadioButton, 8, false},
               {9, kThemeCheckBox, 1, false},
               {20, kThemeCheckBox, 12, false},
               {21, kThemePushButton, 1, true},
               {24, kThemePushButton, 4, true},
               {25, 0, 0, false},
               {-1, 0, 0, false}};
  for (const Case& c : cases) {
    const TVTThemedCheck t = ThemedCheckPart(c.index);
    EXPECT_EQ(t.Part, c.part) << c.index;
    EXPECT_EQ(t.State, c.state) << c.index;
    EXPECT_EQ(t.UtilityOverlay, c.overlay) << c.index;
  }
  EXPECT_EQ(NextCheckStateFor(ctTriStateCheckBox, csMixedNormal), csCheckedNormal);
  EXPECT_EQ(NextCheckStateFor(ctTriStateCheckBox, csCheckedNormal), csUncheckedNormal);
  EXPECT_EQ(NextCheckStateFor(ctCheckBox, csUncheckedNormal), csCheckedNormal);
  EXPECT_EQ(NextCheckStateFor(ctRadioButton, csCheckedNormal), csCheckedNormal);
  EXPECT_EQ(NextCheckStateFor(ctButton, csCheckedNormal), csUncheckedNormal);
  EXPECT_EQ(NextCheckStateFor(ctNone, csCheckedNormal), csMixedNormal);
  EXPECT_EQ(PressedCheckState(csUncheckedNormal), csUncheckedPressed);
  EXPECT_EQ(PressedCheckState(csCheckedNormal), csCheckedPressed);
  EXPECT_EQ(PressedCheckState(csMixedNormal), csMixedPressed);
  EXPECT_EQ(PressedCheckState(csCheckedPressed), csCheckedPressed);
}

// --- Line kinds ------------------------------------------------------------------------------------

namespace {
std::string Kinds(RecordingTree& tree, TVTNode* node, int* selectedAncestors = nullptr) {
  std::vector<std::uint8_t> kinds;
  const int count = ComputeLineImages(tree, node, kinds);
  if (selectedAncestors) *selectedAncestors = count;
  std::string s;
  for (std::uint8_t k : kinds) s += char('0' + k);
  return s;
}
}  // namespace

TEST(LineKinds, SmallTreeWithAndWithoutRoot) {
  RecordingTree tree;
  //  0 A            1 A1             2 A1a       3 A2      4 B      5 B1     6 C (hidden)
  auto n = BuildTreeFromLevels(tree, {0, 1, 2, 1, 0, 1, 0});
  tree.FullExpand();
  n[6]->States &= std::uint16_t(~vsVisible);
  tree.OptionBits.Paint |= voShowTreeLines | voShowRoot;
  // With the root shown: entry 0 is the top-level ancestor.
  EXPECT_EQ(Kinds(tree, n[0]), "1");    // first of two visible top-level nodes
  EXPECT_EQ(Kinds(tree, n[1]), "23");   // A has B below; A1 has A2 below
  EXPECT_EQ(Kinds(tree, n[2]), "225");  // A1 has A2 below; A1a is last
  EXPECT_EQ(Kinds(tree, n[3]), "25");
  EXPECT_EQ(Kinds(tree, n[4]), "5");  // C is hidden: B is the last visible one
  EXPECT_EQ(Kinds(tree, n[5]), "05");
  // Without the root: top-level nodes have no entry.
  tree.OptionBits.Paint &= std::uint16_t(~voShowRoot);
  EXPECT_EQ(Kinds(tree, n[0]), "");
  EXPECT_EQ(Kinds(tree, n[1]), "3");
  EXPECT_EQ(Kinds(tree, n[2]), "25");
  EXPECT_EQ(Kinds(tree, n[5]), "5");
  // Without tree lines the array is there and all nothing; the count still comes.
  tree.OptionBits.Paint = std::uint16_t((tree.OptionBits.Paint & ~voShowTreeLines) | voShowRoot);
  tree.SetNodeSelected(n[0], true);
  int selected = -1;
  EXPECT_EQ(Kinds(tree, n[2], &selected), "000");
  EXPECT_EQ(selected, 1);
  EXPECT_EQ(Kinds(tree, n[0], &selected), "0");
  EXPECT_EQ(selected, 0);  // the node itself is no ancestor
}

TEST(LineKinds, OnlyAndMiddleTopLevelNodes) {
  RecordingTree tree;
  auto n = BuildTreeFromLevels(tree, {0});
  tree.OptionBits.Paint |= voShowTreeLines | voShowRoot;
  EXPECT_EQ(Kinds(tree, n[0]), "4");
  RecordingTree three;
  auto m = BuildTreeFromLevels(three, {0, 0, 0});
  three.OptionBits.Paint |= voShowTreeLines | voShowRoot;
  EXPECT_EQ(Kinds(three, m[0]) + Kinds(three, m[1]) + Kinds(three, m[2]), "135");
}

TEST(LineKinds, BandKinds) {
  struct Case {
    std::string in;
    bool expanded;
    std::string out;
  } cases[] = {
      {"225", false, "666"},  // collapsed: every level is an edge
      {"3", true, "7"},      {"5", true, "6"},   {"4", true, "7"},
      {"1", true, "7"},      {"25", true, "66"},  // 2 before 5 copies the next band kind
      {"05", true, "66"},    {"23", true, "67"},  // 2 before 3: other combination
      {"003", true, "667"},  {"", true, ""},
  };
  for (const Case& c : cases) {
    std::vector<std::uint8_t> kinds;
    for (char ch : c.in) kinds.push_back(std::uint8_t(ch - '0'));
    ToBandLineKinds(kinds, c.expanded);
    std::string s;
    for (std::uint8_t k : kinds) s += char('0' + k);
    EXPECT_EQ(s, c.out) << c.in << (c.expanded ? " expanded" : " collapsed");
  }
}

// --- Click selection -------------------------------------------------------------------------------

TEST(ClickSelection, ModifiersOnAFlatTree) {
  RecordingTree tree;
  auto n = BuildTreeFromLevels(tree, {0, 0, 0, 0, 0, 0});
  tree.SetMultiSelect(true);
  // No modifier: the target joins and becomes the anchor.
  HandleClickSelection(tree, n[1], 0);
  EXPECT_EQ(SelectedNodes(tree), Pick(n, {1}));
  EXPECT_EQ(tree.RangeAnchor(), n[1]);
  // Ctrl adds and moves the anchor; Ctrl on a selected node removes it.
  HandleClickSelection(tree, n[3], kKeyCtrl);
  EXPECT_EQ(SelectedNodes(tree), Pick(n, {1, 3}));
  EXPECT_EQ(tree.RangeAnchor(), n[3]);
  HandleClickSelection(tree, n[1], kKeyCtrl);
  EXPECT_EQ(SelectedNodes(tree), Pick(n, {3}));
  // Shift replaces the selection by the range from the anchor.
  tree.SetRangeAnchor(n[3]);
  HandleClickSelection(tree, n[5], kKeyShift);
  EXPECT_EQ(SelectedNodes(tree), Pick(n, {3, 4, 5}));
  HandleClickSelection(tree, n[2], kKeyShift);
  EXPECT_EQ(SelectedNodes(tree), Pick(n, {2, 3}));
  // Ctrl+Shift adds the range to what is there.
  HandleClickSelection(tree, n[0], kKeyCtrl);  // anchor 0
  EXPECT_EQ(SelectedNodes(tree), Pick(n, {0, 2, 3}));
  tree.SetRangeAnchor(n[5]);
  HandleClickSelection(tree, n[4], kKeyCtrl | kKeyShift);
  EXPECT_EQ(SelectedNodes(tree), Pick(n, {0, 2, 3, 4, 5}));
  // Shift with no anchor starts at the first top-level node.
  tree.ClearSelectionAndRepaint();
  tree.SetRangeAnchor(nullptr);
  HandleClickSelection(tree, n[2], kKeyShift);
  EXPECT_EQ(SelectedNodes(tree), Pick(n, {0, 1, 2}));
  CheckTreeInvariants(tree);
}

TEST(ClickSelection, SingleSelectKeepsOneNode) {
  RecordingTree tree;
  auto n = BuildTreeFromLevels(tree, {0, 0, 0, 0});
  HandleClickSelection(tree, n[0], 0);
  HandleClickSelection(tree, n[2], kKeyShift);
  EXPECT_EQ(SelectedNodes(tree), Pick(n, {2}));
  HandleClickSelection(tree, n[3], kKeyCtrl);
  EXPECT_EQ(SelectedNodes(tree), Pick(n, {3}));
  HandleClickSelection(tree, n[1], kKeyCtrl | kKeyShift);
  EXPECT_EQ(SelectedNodes(tree), Pick(n, {1}));
}

TEST(ClickSelection, SiblingConstraintKeepsTheAnchor) {
  RecordingTree tree;
  auto n = BuildTreeFromLevels(tree, {0, 1, 1, 0});
  tree.FullExpand();
  tree.SetMultiSelect(true);
  tree.SetSiblingSelectConstraint(true);
  HandleClickSelection(tree, n[1], 0);
  HandleClickSelection(tree, n[3], kKeyCtrl);  // another parent: refused
  HandleClickSelection(tree, n[2], kKeyCtrl);
  EXPECT_EQ(SelectedNodes(tree), Pick(n, {1, 2}));
  EXPECT_EQ(tree.RangeAnchor(), n[1]);
}

// --- Band selection --------------------------------------------------------------------------------

namespace {
// Labels 40 pixels wide, one indent (18) per level, after a 4-pixel margin.
TVTLabelExtent Label(RecordingTree& tree, TVTNode* node) {
  const int left = 4 + 18 * tree.NodeLevel(node);
  return {left, left + 40};
}
}  // namespace

TEST(BandSelection, GrowingShrinkingTogglingAndMerging) {
  RecordingTree tree;
  auto n = BuildTreeFromLevels(tree, {0, 0, 0, 0, 0, 0, 0, 0});
  tree.SetMultiSelect(true);
  auto label = [&](TVTNode* node) { return Label(tree, node); };
  // Not drawn yet: nothing happens.
  EXPECT_FALSE(UpdateRectangleSelection(tree, {10, 5, 10, 5}, {30, 5, 50, 60}, false, label));
  tree.SetTreeState(tsDrawSelecting, true);
  // From a point to rows 0..3 (y 5..60), drawn from the bottom right up.
  TVTRect start{30, 5, 30, 5};
  TVTRect band{30, 60, 10, 5};
  EXPECT_TRUE(UpdateRectangleSelection(tree, start, band, false, label));
  EXPECT_EQ(SelectedNodes(tree), Pick(n, {0, 1, 2, 3}));
  // Growing adds rows 4 and 5 only.
  TVTRect grown{10, 5, 30, 100};
  EXPECT_TRUE(UpdateRectangleSelection(tree, band, grown, false, label));
  EXPECT_EQ(SelectedNodes(tree), Pick(n, {0, 1, 2, 3, 4, 5}));
  // Shrinking takes rows 3..5 off again.
  TVTRect shrunk{10, 5, 30, 50};
  EXPECT_TRUE(UpdateRectangleSelection(tree, grown, shrunk, false, label));
  EXPECT_EQ(SelectedNodes(tree), Pick(n, {0, 1, 2}));
  // A band right of the labels meets nothing.
  EXPECT_FALSE(UpdateRectangleSelection(tree, {50, 0, 50, 0}, {50, 0, 90, 140}, false, label));
  // With Ctrl, rows inside toggle: selected ones leave, others join; an
  // earlier selection outside the band stays.
  tree.SetNodeSelected(n[7], true);
  EXPECT_TRUE(UpdateRectangleSelection(tree, {10, 40, 10, 40}, {10, 40, 30, 100}, true, label));
  EXPECT_EQ(SelectedNodes(tree), Pick(n, {0, 1, 3, 4, 5, 7}));
  CheckTreeInvariants(tree);
  EXPECT_FALSE(tree.changes.empty());
}

TEST(BandSelection, ExistingSelectionIsMergedNotReplaced) {
  RecordingTree tree;
  auto n = BuildTreeFromLevels(tree, {0, 1, 1, 0, 0});
  tree.FullExpand();
  tree.SetMultiSelect(true);
  tree.SetTreeState(tsDrawSelecting, true);
  tree.SetNodeSelected(n[4], true);
  tree.SetNodeSelected(n[1], true);
  auto label = [&](TVTNode* node) { return Label(tree, node); };
  // Children's labels start at 22: a band from x 0 to 10 meets only top-level rows.
  EXPECT_TRUE(UpdateRectangleSelection(tree, {0, 0, 0, 0}, {0, 0, 10, 90}, false, label));
  EXPECT_EQ(SelectedNodes(tree), Pick(n, {0, 1, 3, 4}));
  CheckTreeInvariants(tree);
}

// --- Keyboard --------------------------------------------------------------------------------------

namespace {
// Ten top-level nodes; node 2 has three children (collapsed). The client
// shows five rows.
struct KeyTree {
  RecordingTree tree;
  TVTKeyboardController keys{tree};
  std::vector<TVTNode*> n;  // 0..9 top level, 10..12 the children of 2
  KeyTree() {
    tree.ownHost.clientHeight = 5 * kRow;
    tree.ownHost.clientWidth = 100;
    auto built = BuildTreeFromLevels(tree, {0, 0, 0, 1, 1, 1, 0, 0, 0, 0, 0, 0, 0});
    for (int i : {0, 1, 2, 6, 7, 8, 9, 10, 11, 12}) n.push_back(built[std::size_t(i)]);
    for (int i : {3, 4, 5}) n.push_back(built[std::size_t(i)]);
    tree.RefreshScrollBars(false);
  }
  void FocusAt(int i) {
    tree.SetFocusedNode(n[std::size_t(i)]);
    tree.ClearSelectionAndRepaint();
    tree.SetNodeSelected(n[std::size_t(i)], true);
    tree.SetRangeAnchor(n[std::size_t(i)]);
    tree.BringNodeIntoView(n[std::size_t(i)], false, false);
  }
  int Focused() const {
    for (std::size_t i = 0; i < n.size(); ++i) {
      if (n[i] == tree.FocusedNode()) return int(i);
    }
    return -1;
  }
};
}  // namespace

TEST(Keyboard, NavigationTable) {
  struct Case {
    const char* name;
    int focus;  // -1: none
    bool multi, grid;
    std::vector<std::pair<int, std::uint8_t>> keys;
    int focused;
    std::set<int> selected;
    int offsetY;
  } cases[] = {
      {"down", 0, false, false, {{vtkey::Down, 0}}, 1, {1}, 0},
      {"down without focus", -1, false, false, {{vtkey::Down, 0}}, 0, {0}, 0},
      {"up at the top", 0, false, false, {{vtkey::Up, 0}}, 0, {0}, 0},
      {"up without focus", -1, false, false, {{vtkey::Up, 0}}, 9, {9}, -5 * kRow},
      {"down past the client", 4, false, false, {{vtkey::Down, 0}}, 5, {5}, -kRow},
      {"shift down extends", 0, true, false, {{vtkey::Down, kKeyShift}, {vtkey::Down, kKeyShift}}, 2, {0, 1, 2}, 0},
      {"shift back toward the anchor",
       0,
       true,
       false,
       {{vtkey::Down, kKeyShift}, {vtkey::Down, kKeyShift}, {vtkey::Up, kKeyShift}},
       1,
       {0, 1},
       0},
      {"shift up past the anchor",
       2,
       true,
       false,
       {{vtkey::Down, kKeyShift}, {vtkey::Up, kKeyShift}, {vtkey::Up, kKeyShift}},
       1,
       {1, 2},
       0},
      {"shift down in single select", 0, false, false, {{vtkey::Down, kKeyShift}}, 1, {1}, 0},
      {"ctrl down scrolls only", 0, true, false, {{vtkey::Down, kKeyCtrl}}, 0, {0}, -kRow},
      {"end", 0, false, false, {{vtkey::End, 0}}, 9, {9}, -5 * kRow},
      {"shift end selects the range", 3, true, false, {{vtkey::End, kKeyShift}}, 9, {3, 4, 5, 6, 7, 8, 9}, -5 * kRow},
      {"shift home selects the range", 3, true, false, {{vtkey::Home, kKeyShift}}, 0, {0, 1, 2, 3}, 0},
      {"ctrl end without grid scrolls only", 0, false, false, {{vtkey::End, kKeyCtrl}}, 0, {0}, -5 * kRow},
      {"ctrl end with grid moves", 0, false, true, {{vtkey::End, kKeyCtrl}}, 9, {9}, -5 * kRow},
      {"end with grid and no columns stays", 0, false, true, {{vtkey::End, 0}}, 0, {0}, 0},
      {"ctrl home without grid", 9, false, false, {{vtkey::Home, kKeyCtrl}}, 9, {9}, 0},
      {"page down", 0, false, false, {{vtkey::Next, 0}}, 5, {5}, -kRow},
      {"page down twice", 0, false, false, {{vtkey::Next, 0}, {vtkey::Next, 0}}, 9, {9}, -5 * kRow},
      {"page up", 9, false, false, {{vtkey::Prior, 0}}, 4, {4}, -4 * kRow},
      {"page down without focus", -1, false, false, {{vtkey::Next, 0}}, 9, {9}, -5 * kRow},
      {"ctrl page down scrolls a client height", 0, false, false, {{vtkey::Next, kKeyCtrl}}, 0, {0}, -5 * kRow},
      {"shift page down", 1, true, false, {{vtkey::Next, kKeyShift}}, 6, {1, 2, 3, 4, 5, 6}, -2 * kRow},
      {"right expands then enters",
       2,
       false,
       false,
       {{vtkey::Right, 0}, {vtkey::Right, 0}},
       10,
       {10},
       -kRow},  // the expansion scrolls its children in
      {"left goes to the parent",
       2,
       false,
       false,
       {{vtkey::Right, 0}, {vtkey::Right, 0}, {vtkey::Down, 0}, {vtkey::Left, 0}},
       2,
       {2},
       -kRow},
      {"backspace focuses the parent",
       2,
       false,
       false,
       {{vtkey::Right, 0}, {vtkey::Right, 0}, {vtkey::Down, 0}, {vtkey::Back, 0}},
       2,
       {2},
       -kRow},
      {"left without focus", -1, false, false, {{vtkey::Left, 0}}, 0, {0}, 0},
  };
  for (const Case& c : cases) {
    KeyTree k;
    k.tree.SetMultiSelect(c.multi);
    if (c.grid) k.tree.OptionBits.Misc |= voGridExtensions;
    if (c.focus >= 0) k.FocusAt(c.focus);
    for (auto [key, shift] : c.keys) k.keys.KeyDown(key, shift);
    std::set<TVTNode*> expected;
    for (int i : c.selected) expected.insert(k.n[std::size_t(i)]);
    EXPECT_EQ(k.Focused(), c.focused) << c.name;
    EXPECT_EQ(SelectedNodes(k.tree), expected) << c.name;
    EXPECT_EQ(k.tree.OffsetY(), c.offsetY) << c.name;
    CheckTreeInvariants(k.tree);
  }
}

TEST(Keyboard, LeftCollapsesAndPlusMinusStarSlash) {
  KeyTree k;
  k.FocusAt(2);
  TVTNode* two = k.n[2];
  k.keys.KeyDown(vtkey::Right, 0);
  EXPECT_TRUE(two->States & vsExpanded);
  k.keys.KeyDown(vtkey::Left, 0);
  EXPECT_FALSE(two->States & vsExpanded);
  EXPECT_EQ(k.Focused(), 2);
  k.keys.KeyDown(vtkey::Add, 0);
  EXPECT_TRUE(two->States & vsExpanded);
  k.keys.KeyDown(vtkey::OemMinus, 0);
  EXPECT_FALSE(two->States & vsExpanded);
  k.keys.KeyDown(vtkey::Multiply, 0);
  EXPECT_TRUE(two->States & vsExpanded);
  k.keys.KeyDown(vtkey::Divide, 0);
  EXPECT_FALSE(two->States & vsExpanded);
  k.keys.KeyDown(vtkey::OemPlus, kKeyCtrl | kKeyShift);
  EXPECT_TRUE(two->States & vsExpanded);
  k.keys.KeyDown(vtkey::Subtract, kKeyCtrl | kKeyShift);
  EXPECT_FALSE(two->States & vsExpanded);
  // '+' on an expanded node and '-' on a collapsed one leave it alone.
  k.keys.KeyDown(vtkey::Subtract, 0);
  EXPECT_FALSE(two->States & vsExpanded);
  // Without a focused node '*' expands nothing.
  k.tree.SetFocusedNode(nullptr);
  k.keys.KeyDown(vtkey::Multiply, 0);
  EXPECT_FALSE(two->States & vsExpanded);
}

TEST(Keyboard, SpacePressAndRelease) {
  KeyTree k;
  k.tree.OptionBits.Misc |= voCheckSupport;
  k.FocusAt(0);
  TVTNode* node = k.n[0];
  k.tree.SetCheckType(node, ctCheckBox);
  k.tree.SetCheckState(node, csCheckedNormal);
  k.tree.events.clear();
  // The press shows the pressed checked look; the release applies unchecked.
  k.keys.KeyDown(vtkey::Space, 0);
  EXPECT_EQ(node->CheckState, csCheckedPressed);
  EXPECT_EQ(k.keys.PendingCheckNode(), node);
  EXPECT_EQ(k.keys.PendingCheckState(), csUncheckedNormal);
  k.keys.KeyDown(vtkey::Space, 0, true);  // auto-repeat: nothing more
  EXPECT_EQ(k.tree.events, std::vector<std::string>{"checking"});
  k.keys.KeyUp(vtkey::Space);
  EXPECT_EQ(node->CheckState, csUncheckedNormal);
  EXPECT_EQ(k.keys.PendingCheckNode(), nullptr);
  EXPECT_EQ(k.tree.events, (std::vector<std::string>{"checking", "checked"}));
  // Released on another focused node: nothing is applied and the look comes back.
  k.keys.KeyDown(vtkey::Space, 0);
  EXPECT_EQ(node->CheckState, csUncheckedPressed);
  k.tree.SetFocusedNode(k.n[1]);
  k.keys.KeyUp(vtkey::Space);
  EXPECT_EQ(node->CheckState, csUncheckedNormal);
  // A refusing checking event leaves everything as it was.
  k.tree.SetFocusedNode(node);
  k.tree.checking = [](TVTNode*, std::uint8_t&) { return false; };
  k.keys.KeyDown(vtkey::Space, 0);
  EXPECT_EQ(node->CheckState, csUncheckedNormal);
  EXPECT_EQ(k.keys.PendingCheckNode(), nullptr);
  // Without a check type, space starts the incremental search.
  k.tree.checking = nullptr;
  k.tree.SetFocusedNode(k.n[1]);
  k.keys.KeyDown(vtkey::Space, 0);
  EXPECT_TRUE(k.tree.HasTreeState(tsIncrementalSearchPending));
}

TEST(Keyboard, OtherKeys) {
  KeyTree k;
  k.tree.SetMultiSelect(true);
  k.FocusAt(0);
  k.keys.KeyDown('A', kKeyCtrl);
  EXPECT_EQ(k.tree.SelectedCount(), 10u);  // the ten shown nodes
  k.keys.KeyDown(vtkey::Down, 0);
  EXPECT_EQ(SelectedNodes(k.tree), std::set<TVTNode*>{k.n[1]});
  EXPECT_FALSE(k.tree.HasTreeState(tsIncrementalSearchPending));
  k.keys.KeyDown('X', kKeyCtrl);
  EXPECT_FALSE(k.tree.HasTreeState(tsIncrementalSearchPending));
  k.keys.KeyDown('X', 0);
  EXPECT_TRUE(k.tree.HasTreeState(tsIncrementalSearchPending));
  k.tree.SetTreeState(tsDrawSelecting, true);
  k.keys.KeyDown(vtkey::Escape, 0);
  EXPECT_FALSE(k.tree.HasTreeState(tsDrawSelecting));
}

TEST(Keyboard, AnchorDefaultsToTheFocusedNode) {
  // With no anchor and nothing selected, Shift+End selects from the focused
  // node, not from the first node.
  KeyTree k;
  k.tree.SetMultiSelect(true);
  k.tree.SetFocusedNode(k.n[6]);
  k.tree.SetRangeAnchor(nullptr);
  k.keys.KeyDown(vtkey::End, kKeyShift);
  std::set<TVTNode*> expected{k.n[6], k.n[7], k.n[8], k.n[9]};
  EXPECT_EQ(SelectedNodes(k.tree), expected);
}

// --- Mouse -----------------------------------------------------------------------------------------

namespace {
// Ten top-level rows of 18 pixels, multi-select, a client of five rows; a
// mouse controller that measures labels 40 pixels wide from x 4 and counts
// the repaints it asks for.
struct MouseTree {
  struct Controller : TVTMouseController {
    using TVTMouseController::TVTMouseController;
    int focusTaken = 0;
    std::vector<TVTRect> repaints;
    void TakeFocus() override { ++focusTaken; }
    void RepaintRect(const TVTRect& r) override { repaints.push_back(r); }
  };
  RecordingTree tree;
  Controller mouse{tree};
  std::vector<TVTNode*> n;
  explicit MouseTree(std::vector<int> levels = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0}) {
    tree.ownHost.clientHeight = 5 * kRow;
    tree.ownHost.clientWidth = 200;
    n = BuildTreeFromLevels(tree, levels);
    tree.SetMultiSelect(true);
    tree.RefreshScrollBars(false);
    mouse.DragThresholdX = mouse.DragThresholdY = 4;
    mouse.LabelExtent = [this](TVTNode* node) { return Label(tree, node); };
  }
  // A hit on row `row`'s caption (or beside it), as the window's hit test gives it.
  TVTHitInfo Caption(int row) const { return {n[std::size_t(row)], std::uint16_t(hiOnItem | hiOnItemLabel), NoColumn}; }
  TVTHitInfo Beside(int row) const { return {n[std::size_t(row)], std::uint16_t(hiOnItem | hiOnItemRight), NoColumn}; }
  void Click(const TVTHitInfo& hit, std::uint8_t shift = 0) {
    mouse.ButtonDown(kMouseLeft, hit, 20, 5, shift);
    mouse.ButtonUp(kMouseLeft, hit);
  }
};
}  // namespace

TEST(MouseClicks, CaptionPressesWithAndWithoutModifiers) {
  struct Step {
    const char* what;
    int row;
    std::uint8_t shift;
    bool multi;
    std::set<int> selected;
    int focused;
  };
  // Each step starts from rows 1 and 2 selected, 2 focused and the anchor.
  const Step steps[] = {
      {"plain on an unselected row", 5, 0, true, {5}, 5},
      {"plain on a selected row keeps it alone", 1, 0, true, {1}, 1},
      {"Ctrl adds", 4, kKeyCtrl, true, {1, 2, 4}, 4},
      {"Ctrl on a selected row takes it off", 1, kKeyCtrl, true, {2}, 1},
      {"Shift: the range from the anchor", 5, kKeyShift, true, {2, 3, 4, 5}, 5},
      {"Ctrl+Shift adds the range", 4, kKeyCtrl | kKeyShift, true, {1, 2, 3, 4}, 4},
      {"single select: Ctrl acts as a plain press", 4, kKeyCtrl, false, {4}, 4},
      {"single select: Shift acts as a plain press", 6, kKeyShift, false, {6}, 6},
  };
  for (const Step& s : steps) {
    MouseTree m;
    m.tree.SetMultiSelect(true);
    m.tree.SetNodeSelected(m.n[1], true);
    m.tree.SetNodeSelected(m.n[2], true);
    m.tree.SetFocusedNode(m.n[2]);
    m.tree.SetRangeAnchor(m.n[2]);
    m.tree.SetMultiSelect(s.multi);
    m.Click(m.Caption(s.row), s.shift);
    std::set<TVTNode*> expected;
    for (int i : s.selected) expected.insert(m.n[std::size_t(i)]);
    EXPECT_EQ(SelectedNodes(m.tree), expected) << s.what;
    EXPECT_EQ(m.tree.FocusedNode(), m.n[std::size_t(s.focused)]) << s.what;
    EXPECT_EQ(m.mouse.focusTaken, 1) << s.what;
    EXPECT_FALSE(m.mouse.BandShown()) << s.what;
    CheckTreeInvariants(m.tree);
  }
}

TEST(MouseClicks, BesideTheCaptionsClearsAndButtonsToggle) {
  MouseTree m({0, 1, 1, 0, 0});
  m.tree.SetNodeSelected(m.n[3], true);
  m.tree.SetFocusedNode(m.n[3]);
  // Beside the captions in a multi-select tree: the selection goes, the focus stays.
  m.Click(m.Beside(4));
  EXPECT_TRUE(m.tree.Selection().empty());
  EXPECT_EQ(m.tree.FocusedNode(), m.n[3]);
  // With Ctrl held nothing is cleared.
  m.tree.SetNodeSelected(m.n[3], true);
  m.Click(m.Beside(4), kKeyCtrl);
  EXPECT_EQ(SelectedNodes(m.tree), Pick(m.n, {3}));
  // The expand button toggles and selects nothing.
  const TVTHitInfo button{m.n[0], std::uint16_t(hiOnItem | hiOnItemButton), NoColumn};
  m.Click(button);
  EXPECT_TRUE(m.n[0]->States & vsExpanded);
  m.Click(button);
  EXPECT_FALSE(m.n[0]->States & vsExpanded);
  EXPECT_EQ(SelectedNodes(m.tree), Pick(m.n, {3}));
  // A press on the empty area below the rows clears as well.
  m.mouse.ButtonDown(kMouseLeft, TVTHitInfo{nullptr, hiNowhere, NoColumn}, 10, 150, 0);
  m.mouse.ButtonUp(kMouseLeft, TVTHitInfo{});
  EXPECT_TRUE(m.tree.Selection().empty());
}

TEST(MouseClicks, CheckBoxPressedUntilReleasedOverIt) {
  MouseTree m;
  m.tree.OptionBits.Misc |= voCheckSupport;
  for (TVTNode* node : m.n) m.tree.SetCheckType(node, ctCheckBox);
  const TVTHitInfo box{m.n[1], std::uint16_t(hiOnItem | hiOnItemCheckbox), NoColumn};
  // Released over the box: checked.
  m.mouse.ButtonDown(kMouseLeft, box, 20, 20, 0);
  EXPECT_EQ(m.n[1]->CheckState, csUncheckedPressed);
  EXPECT_EQ(m.mouse.PressedCheckNode(), m.n[1]);
  m.mouse.ButtonUp(kMouseLeft, box);
  EXPECT_EQ(m.n[1]->CheckState, csCheckedNormal);
  EXPECT_EQ(m.mouse.PressedCheckNode(), nullptr);
  EXPECT_TRUE(m.tree.Selection().empty());  // a check press selects nothing
  // Released elsewhere: the box shows its old state again.
  m.mouse.ButtonDown(kMouseLeft, box, 20, 20, 0);
  EXPECT_EQ(m.n[1]->CheckState, csCheckedPressed);
  m.mouse.ButtonUp(kMouseLeft, m.Caption(1));
  EXPECT_EQ(m.n[1]->CheckState, csCheckedNormal);
  // A double click presses it again; a disabled node's box does not press.
  m.mouse.DoubleClick(kMouseLeft, box);
  EXPECT_EQ(m.n[1]->CheckState, csCheckedPressed);
  m.mouse.ButtonUp(kMouseLeft, box);
  EXPECT_EQ(m.n[1]->CheckState, csUncheckedNormal);
  m.n[2]->States |= vsDisabled;
  m.mouse.ButtonDown(kMouseLeft, {m.n[2], std::uint16_t(hiOnItem | hiOnItemCheckbox), NoColumn}, 20, 40, 0);
  EXPECT_EQ(m.mouse.PressedCheckNode(), nullptr);
  EXPECT_EQ(m.n[2]->CheckState, csUncheckedNormal);
}

TEST(MouseClicks, ANodeRemovedWhileItsCheckIsHeldIsForgotten) {
  MouseTree m;
  m.tree.OptionBits.Misc |= voCheckSupport;
  m.tree.SetCheckType(m.n[3], ctCheckBox);
  const TVTHitInfo box{m.n[3], std::uint16_t(hiOnItem | hiOnItemCheckbox), NoColumn};
  m.mouse.ButtonDown(kMouseLeft, box, 20, 60, 0);
  ASSERT_EQ(m.mouse.PressedCheckNode(), m.n[3]);
  m.tree.RemoveNode(m.n[3]);
  EXPECT_EQ(m.mouse.PressedCheckNode(), nullptr);
  // The release reads no freed node (the sanitizers watch this run).
  m.mouse.ButtonUp(kMouseLeft, TVTHitInfo{});
  // The hot node goes the same way.
  m.mouse.Move(m.Caption(4), 20, 75);
  EXPECT_EQ(m.tree.HotNode(), m.n[4]);
  m.tree.RemoveNode(m.n[4]);
  EXPECT_EQ(m.tree.HotNode(), nullptr);
}

TEST(MouseBand, DragAcrossRowsSelectsThemAndReleaseEndsTheBand) {
  MouseTree m;
  m.tree.SetNodeSelected(m.n[8], true);
  // Pressed beside row 0's caption at (100, 5): the selection goes, a band is pending.
  m.mouse.ButtonDown(kMouseLeft, m.Beside(0), 100, 5, 0);
  EXPECT_TRUE(m.tree.Selection().empty());
  EXPECT_TRUE(m.tree.HasTreeState(tsDrawSelPending));
  // Within the drag threshold nothing is selected yet.
  m.mouse.Move(m.Beside(0), 97, 8);
  EXPECT_TRUE(m.tree.HasTreeState(tsDrawSelPending));
  EXPECT_TRUE(m.tree.Selection().empty());
  // Dragged left and down over five rows (y 5 to 85): rows 0 to 4.
  m.mouse.Move(TVTHitInfo{}, 20, 85);
  EXPECT_TRUE(m.tree.HasTreeState(tsDrawSelecting));
  EXPECT_FALSE(m.tree.HasTreeState(tsDrawSelPending));
  EXPECT_EQ(SelectedNodes(m.tree), Pick(m.n, {0, 1, 2, 3, 4}));
  EXPECT_EQ(m.mouse.BandRect().Left, 100);
  EXPECT_EQ(m.mouse.BandRect().Bottom, 85);
  // Back up to row 2: rows 3 and 4 leave again.
  m.mouse.Move(TVTHitInfo{}, 20, 45);
  EXPECT_EQ(SelectedNodes(m.tree), Pick(m.n, {0, 1, 2}));
  // A move that changes nothing repaints the band's area only.
  m.mouse.repaints.clear();
  m.mouse.Move(TVTHitInfo{}, 21, 46);
  ASSERT_EQ(m.mouse.repaints.size(), 1u);
  EXPECT_LE(m.mouse.repaints[0].Top, 5);
  EXPECT_GE(m.mouse.repaints[0].Bottom, 46);
  // The release ends the band and keeps the selection.
  m.mouse.ButtonUp(kMouseLeft, TVTHitInfo{});
  EXPECT_FALSE(m.mouse.BandShown());
  EXPECT_EQ(SelectedNodes(m.tree), Pick(m.n, {0, 1, 2}));
  CheckTreeInvariants(m.tree);
}

TEST(MouseBand, CtrlBandTogglesInTreeCoordinatesAfterScrolling) {
  MouseTree m;
  m.tree.SetOffsetY(-2 * kRow);  // rows 2 to 6 show
  m.tree.SetNodeSelected(m.n[3], true);
  m.tree.SetNodeSelected(m.n[9], true);
  // Client y 5 is tree y 41 (row 2); the band runs to client y 60 (row 5).
  m.mouse.ButtonDown(kMouseLeft, m.Beside(2), 60, 5, kKeyCtrl);
  EXPECT_EQ(m.mouse.BandRect().Top, 5 + 2 * kRow);
  m.mouse.Move(TVTHitInfo{}, 10, 60);
  // Rows 2, 4 and 5 join, row 3 toggles off, row 9 outside stays.
  EXPECT_EQ(SelectedNodes(m.tree), Pick(m.n, {2, 4, 5, 9}));
  // Escape cancels the band; the selection made so far stays.
  m.tree.SetFocusedNode(m.n[2]);
  TVTKeyboardController keys{m.tree};
  keys.KeyDown(vtkey::Escape, 0);
  EXPECT_FALSE(m.mouse.BandShown());
  EXPECT_EQ(SelectedNodes(m.tree), Pick(m.n, {2, 4, 5, 9}));
}

TEST(MouseBand, NoBandInSingleSelectOrWithDrawSelectionDisabled) {
  for (bool multi : {false, true}) {
    MouseTree m;
    m.tree.SetMultiSelect(multi);
    if (multi) m.tree.OptionBits.Selection |= voDisableDrawSelection;
    m.mouse.ButtonDown(kMouseLeft, m.Beside(0), 100, 5, 0);
    m.mouse.Move(TVTHitInfo{}, 20, 85);
    EXPECT_FALSE(m.mouse.BandShown()) << multi;
    EXPECT_TRUE(m.tree.Selection().empty()) << multi;
  }
}

TEST(MouseHot, TheHotNodeFollowsCaptionsOrWholeRowsWithFullRowSelect) {
  MouseTree m;
  m.mouse.Move(m.Caption(2), 20, 40);
  EXPECT_EQ(m.tree.HotNode(), m.n[2]);
  m.mouse.Move(m.Beside(2), 150, 40);
  EXPECT_EQ(m.tree.HotNode(), nullptr);
  m.tree.OptionBits.Selection |= voFullRowSelect;
  m.mouse.Move(m.Beside(3), 150, 60);
  EXPECT_EQ(m.tree.HotNode(), m.n[3]);
}

// --- Hints -----------------------------------------------------------------------------------------

TEST(Hints, RefusalsAndTheFourModes) {
  RecordingTree tree;
  auto n = BuildTreeFromLevels(tree, {0, 0, 0});
  const TVTHitInfo onNode{n[1], std::uint16_t(hiOnItem | hiOnItemLabel), NoColumn};
  const TVTHitInfo nowhere{nullptr, hiNowhere, NoColumn};
  using S = TVTHintShow;
  struct Case {
    const char* what;
    int mode;
    TVTHitInfo hit;
    bool truncated;
    S expected;
  };
  const Case cases[] = {
      {"mode 0: the control's hint", 0, onNode, false, S::ControlHint},
      {"mode 1 over a node", 1, onNode, false, S::NodeHint},
      {"mode 1 over no node", 1, nowhere, false, S::Refused},
      {"mode 2 over a node", 2, onNode, false, S::NodeHint},
      {"mode 2 over no node: the control's", 2, nowhere, false, S::ControlHint},
      {"mode 3, text fits", 3, onNode, false, S::Refused},
      {"mode 3, text cut off", 3, onNode, true, S::NodeText},
      {"mode 3 over no node", 3, nowhere, true, S::Refused},
      {"an unknown mode", 7, onNode, true, S::Refused},
  };
  for (const Case& c : cases) {
    TVTHintQuestion q;
    q.FocusNearby = true;
    q.HintMode = c.mode;
    q.Hit = c.hit;
    q.TextTruncated = c.truncated;
    EXPECT_EQ(DecideHint(tree, q), c.expected) << c.what;
    const bool shown = c.expected != S::Refused;
    EXPECT_EQ(tree.HasTreeState(tsHint), shown) << c.what;
    EXPECT_EQ(tree.HasTreeState(tsHintPreparing), shown) << c.what;
  }
  // Each refusal reason on its own, with a hint that would show otherwise.
  const std::function<void(TVTHintQuestion&)> reasons[] = {
      [](TVTHintQuestion& q) { q.FocusNearby = false; },
      [](TVTHintQuestion& q) { q.MouseCaptured = true; },
      [](TVTHintQuestion& q) { q.ShowHint = false; },
      [](TVTHintQuestion& q) { q.HeaderBusy = true; },
      [&](TVTHintQuestion&) { tree.SetTreeState(tsDrawSelecting, true); },
      [&](TVTHintQuestion&) { tree.SetTreeState(tsDrawSelPending, true); },
      [&](TVTHintQuestion&) { tree.SetTreeState(tsScrollPending, true); },
      [&](TVTHintQuestion&) { tree.SetTreeState(tsOLEDragPending, true); },
  };
  int index = 0;
  for (const auto& reason : reasons) {
    for (int bit : std::initializer_list<int>{tsDrawSelecting, tsDrawSelPending, tsScrollPending, tsOLEDragPending})
      tree.SetTreeState(bit, false);
    TVTHintQuestion q;
    q.FocusNearby = true;
    q.HintMode = 0;
    q.Hit = onNode;
    reason(q);
    EXPECT_EQ(DecideHint(tree, q), S::Refused) << "reason " << index;
    EXPECT_FALSE(tree.HasTreeState(tsHint)) << "reason " << index;
    ++index;
  }
}

TEST(Hints, OverTheHeaderTheColumnHintComesFirstThenACutOffCaption) {
  RecordingTree tree;
  BuildTreeFromLevels(tree, {0, 0});
  using S = TVTHeaderHintShow;
  struct Case {
    const char* what;
    TVTHeaderHintColumn column;
    bool mouseCaptured;
    S expected;
  };
  const Case cases[] = {
      {"a column with a hint", {1, true, false}, false, S::ColumnHint},
      {"the hint wins over a cut-off caption", {1, true, true}, false, S::ColumnHint},
      {"no hint, the caption cut off", {0, false, true}, false, S::Caption},
      {"no hint, the caption fits", {0, false, false}, false, S::Refused},
      {"no column under the mouse", {-1, true, true}, false, S::Refused},
      {"the mouse captured", {1, true, true}, true, S::Refused},
  };
  for (const Case& c : cases) {
    TVTHintQuestion q;
    q.FocusNearby = true;
    q.HintMode = 3;  // the client area's mode plays no part over the header
    q.MouseCaptured = c.mouseCaptured;
    EXPECT_EQ(DecideHeaderHint(tree, q, c.column), c.expected) << c.what;
    EXPECT_EQ(tree.HasTreeState(tsHint), c.expected != S::Refused) << c.what;
    EXPECT_EQ(tree.HasTreeState(tsHintPreparing), c.expected != S::Refused) << c.what;
  }
  TVTHintQuestion unfocused;
  EXPECT_EQ(DecideHeaderHint(tree, unfocused, {1, true, false}), S::Refused);
}
