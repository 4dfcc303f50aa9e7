// The string tree's portable half: cell texts, the cached text width,
// spanning over empty cells, the editor's rectangles and the caption chunk.
#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <map>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "Streams.h"
#include "TreeTestSupport.h"
#include "VirtualStringTreeCore.h"

namespace {

class TextTree : public TVirtualStringTreeCore {
 public:
  TextTree() : TVirtualStringTreeCore(nullptr, &host) {
    SetFreeNodeVirtual(true);
    SetNodeDataSize(8);
  }
  ~TextTree() override { Shutdown(); }
  RecordingHost host;
  std::map<std::pair<TVTNode*, int>, std::u16string> texts, statics;
  std::vector<std::u16string> defaultsSeen;
  int measures = 0;
  int initialised = 0;

  TVTNode* Add(TVTNode* parent) {
    TVTNode* node = AllocateNode();
    node->States |= vsInitialized;
    LinkNode(node, parent, 4);
    return node;
  }

 protected:
  void DoGetText(TVTNode* node, int column, int kind, std::u16string& text) override {
    if (kind == ttNormal) defaultsSeen.push_back(text);
    auto& table = kind == ttNormal ? texts : statics;
    auto it = table.find({node, column});
    if (it != table.end()) text = it->second;
  }
  void DoNewText(TVTNode* node, int column, const std::u16string& text) override { texts[{node, column}] = text; }
  int MeasureTextExtent(TVTNode*, int, const std::u16string& text) override {
    ++measures;
    return 7 * int(text.size());
  }
  void DoInitNode(TVTNode*, TVTNode*, std::uint8_t&) override { ++initialised; }
  void DoFreeNode(TVTNode* node) override {
    auto it = texts.lower_bound({node, INT_MIN});
    while (it != texts.end() && it->first.first == node) it = texts.erase(it);
  }
  void FireSaveNode(TVTNode* node, TStream& stream) override {
    if (node) stream.WriteBuffer(NodeData(node), 8);
  }
  void FireLoadNode(TVTNode* node, TStream& stream) override {
    if (node) stream.ReadBuffer(NodeData(node), 8);
  }
};

TEST(StringTreeCore, CellTextStartsFromTheDefaultText) {
  TextTree tree;
  TVTNode* node = tree.AllocateNode();
  tree.LinkNode(node, nullptr, 4);
  EXPECT_EQ(tree.CellText(node, 0), u"Node");
  EXPECT_EQ(tree.initialised, 1);  // initialised on the first request
  tree.DefaultText = u"\u03A9";
  tree.texts[{node, 1}] = u"one";
  EXPECT_EQ(tree.CellText(node, 0), u"\u03A9");
  EXPECT_EQ(tree.CellText(node, 1), u"one");
  EXPECT_EQ(tree.defaultsSeen.back(), u"\u03A9");
  EXPECT_EQ(tree.StaticText(node, 1), u"");
  tree.statics[{node, 1}] = u"static";
  EXPECT_EQ(tree.StaticText(node, 1), u"static");
  EXPECT_EQ(tree.initialised, 1);
}

TEST(StringTreeCore, MainColumnWidthIsCachedUntilReset) {
  TextTree tree;
  TVTNode* a = tree.Add(nullptr);
  TVTNode* b = tree.Add(nullptr);
  tree.texts[{a, -1}] = u"abc";
  tree.texts[{a, 0}] = u"abcd";
  tree.texts[{b, -1}] = u"";
  EXPECT_EQ(tree.MeasureNodeWidth(a, -1), 8 + 21);
  EXPECT_EQ(tree.CachedTextWidth(a), 29u);
  EXPECT_EQ(tree.MeasureNodeWidth(a, -1), 29);
  EXPECT_EQ(tree.measures, 1);
  EXPECT_EQ(tree.MeasureNodeWidth(a, 0), 8 + 28);  // not the main column: measured each time
  EXPECT_EQ(tree.MeasureNodeWidth(a, 0), 36);
  EXPECT_EQ(tree.measures, 3);
  EXPECT_EQ(tree.MeasureNodeWidth(b, -1), 8);  // empty text: the margins only, not measured
  EXPECT_EQ(tree.measures, 3);

  tree.texts[{a, -1}] = u"abcdef";
  tree.InvalidateNodeArea(a);
  EXPECT_EQ(tree.CachedTextWidth(a), 0u);
  EXPECT_EQ(tree.MeasureNodeWidth(a, -1), 8 + 42);
  tree.ResetNodeCaches();
  EXPECT_EQ(tree.CachedTextWidth(a), 0u);
  EXPECT_EQ(tree.CachedTextWidth(b), 0u);
  tree.MeasureNodeWidth(a, -1);
  tree.RedoNodeInitialization(a, false);
  EXPECT_EQ(tree.CachedTextWidth(a), 0u);
}

TEST(StringTreeCore, SpanningRunsOverEmptyCells) {
  struct Case {
    const char* name;
    bool spanning;
    std::vector<bool> rightToLeft;
    std::vector<const char16_t*> texts;
    std::size_t from;
    std::size_t next;
    int right;
  } cases[] = {
      {"two empty cells joined", true, {false, false, false, false}, {u"a", u"", u"", u"d"}, 0, 3, 60},
      {"off without the option", false, {false, false, false, false}, {u"a", u"", u"", u"d"}, 0, 1, 10},
      {"a full neighbour stops it", true, {false, false, false}, {u"a", u"b", u""}, 0, 1, 10},
      {"to the last column", true, {false, false, false}, {u"a", u"", u""}, 1, 3, 60},
      {"a right-to-left neighbour stops it", true, {false, true, false}, {u"a", u"", u""}, 0, 1, 10},
      {"a right-to-left cell does not span", true, {true, false, false}, {u"a", u"", u""}, 0, 1, 10},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TextTree tree;
    TVTNode* node = tree.Add(nullptr);
    if (c.spanning)
      tree.OptionBits.Auto |= 1u << 5;
    else
      tree.OptionBits.Auto &= ~(1u << 5);
    int left = 0;
    for (std::size_t i = 0; i < c.texts.size(); ++i) {
      const int width = 10 * int(i + 1);
      tree.ColumnLayout.Columns.push_back({int(i), left, width, kAlignLeft, bool(c.rightToLeft[i])});
      left += width;
      tree.texts[{node, int(i)}] = c.texts[i];
    }
    const TVTColumnInfo& from = tree.ColumnLayout.Columns[c.from];
    TVTRect cell{from.Left, 0, from.Left + from.Width, 18};
    EXPECT_EQ(tree.AdvancePaintColumn(node, c.from, cell), c.next);
    EXPECT_EQ(cell.Right, c.right);
  }
}

TEST(StringTreeCore, EditorIsNeverNarrowerThan30NorPastTheClient) {
  struct Case {
    TVTRect in;
    bool right;
    int client;
    TVTRect out;
  } cases[] = {
      {{10, 0, 100, 18}, false, 200, {10, 0, 100, 18}}, {{10, 0, 20, 18}, false, 200, {10, 0, 40, 18}},
      {{50, 0, 60, 18}, true, 200, {30, 0, 60, 18}},    {{-5, 0, 60, 18}, false, 200, {0, 0, 60, 18}},
      {{5, 0, 15, 18}, true, 200, {0, 0, 30, 18}},      {{180, 0, 190, 18}, false, 200, {170, 0, 200, 18}},
      {{50, 0, 400, 18}, false, 200, {50, 0, 200, 18}},
  };
  for (const Case& c : cases) EXPECT_EQ(TVirtualStringTreeCore::PlaceEditorBounds(c.in, c.right, c.client), c.out);
  std::mt19937 random(30);
  for (int i = 0; i < 10000; ++i) {
    const int client = 30 + int(random() % 500);
    const int left = int(random() % 700) - 100;
    const TVTRect in{left, 0, left + int(random() % 200), 18};
    const TVTRect out = TVirtualStringTreeCore::PlaceEditorBounds(in, random() % 2, client);
    ASSERT_GE(out.Left, 0);
    ASSERT_LE(out.Right, client);
    ASSERT_GE(out.Width(), 30);
  }
}

TEST(StringTreeCore, EditorTextRectangles) {
  EXPECT_EQ(TVirtualStringTreeCore::CenterEditRect({0, 10, 50, 28}, 14, false), (TVTRect{0, 12, 50, 26}));
  EXPECT_EQ(TVirtualStringTreeCore::CenterEditRect({0, 10, 50, 28}, 14, true), (TVTRect{0, 11, 50, 26}));
  EXPECT_EQ(TVirtualStringTreeCore::CenterEditRect({0, 10, 50, 20}, 16, false), (TVTRect{0, 7, 50, 23}));
  EXPECT_EQ(TVirtualStringTreeCore::EditorFormatRect({0, 0, 100, 20}, 4, false, 12, 10), (TVTRect{2, 0, 98, 24}));
  EXPECT_EQ(TVirtualStringTreeCore::EditorFormatRect({0, 0, 100, 20}, 4, true, 10, 10), (TVTRect{1, -3, 99, 23}));
}

// A large tree's captions (some above U+FFFF) and user data survive a save and a load.
TEST(StringTreeCore, CaptionsRoundTrip) {
  TextTree source;
  std::mt19937 random(145);
  std::vector<TVTNode*> nodes;
  // Inside an update the worker leaves the tree alone while the loop sets node fields directly.
  source.BeginUpdate();
  for (int i = 0; i < 100000; ++i) {
    TVTNode* parent = nodes.empty() || random() % 3 == 0 ? nullptr : nodes[random() % nodes.size()];
    TVTNode* node = source.Add(parent);
    if (random() % 2) node->States |= vsExpanded;
    node->CheckType = ctCheckBox;
    node->CheckState = std::uint8_t(random() % 2 ? csCheckedNormal : csUncheckedNormal);
    std::u16string text = i % 4 ? u"n" + std::u16string(1, char16_t(u'a' + i % 26)) : u"\U00010348\u03A9";
    if (i % 10 == 0) text.clear();
    source.texts[{node, -1}] = text;
    const std::uint64_t data = std::uint64_t(i) * 0x9E3779B97F4A7C15ull;
    std::memcpy(source.NodeData(node), &data, 8);
    nodes.push_back(node);
  }
  source.EndUpdate();
  TMemoryStream stream;
  source.SaveTreeToStream(stream);
  stream.SetPosition(0);
  TextTree target;
  target.LoadTreeFromStream(stream);
  ASSERT_EQ(CheckTreeInvariants(target), 100000u);
  int mismatches = 0;
  TVTNode* b = target.FirstNodeRaw();
  for (TVTNode* a = source.FirstNodeRaw(); a; a = source.NextNodeRaw(a), b = target.NextNodeRaw(b)) {
    const std::u16string expected = source.texts[{a, -1}];
    const auto found = target.texts.find({b, -1});
    const std::u16string loaded = found == target.texts.end() ? u"" : found->second;
    if (loaded != expected || a->ChildCount != b->ChildCount || a->States != b->States ||
        a->CheckState != b->CheckState || std::memcmp(source.NodeData(a), target.NodeData(b), 8) != 0)
      ++mismatches;
  }
  EXPECT_EQ(mismatches, 0);
  EXPECT_EQ(b, nullptr);
}

TEST(StringTreeCore, CaptionsAreLeftOutWithoutTheOption) {
  TextTree source;
  TVTNode* node = source.Add(nullptr);
  source.texts[{node, -1}] = u"kept";
  TStringStream with, without;
  source.SaveNodeToStream(with, node);
  source.StringOptionBits &= ~toSaveCaptions;
  source.SaveNodeToStream(without, node);
  EXPECT_EQ(with.DataString().size(), without.DataString().size() + 16);
  EXPECT_EQ(with.DataString().substr(without.DataString().size(), 8), std::string("\3\0\0\0\10\0\0\0", 8));
}

}  // namespace
