// The header's column arithmetic: positions and edges, the position map
// through inserts and deletes, clamping, auto-sizing, hit tests, the cell
// layout and the looks of the styles.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <numeric>
#include <vector>

#include "VirtualTreeHeader.h"

namespace {

// Columns in index order, owned, with the span the arithmetic takes.
struct Columns {
  std::vector<std::unique_ptr<TVTColumnMetrics>> items;
  std::vector<TVTColumnMetrics*> view;
  TVTColumnPositions map;
  void Sync() {
    view.clear();
    for (auto& c : items) view.push_back(c.get());
  }
  TVTColumnSpan Span() { return TVTColumnSpan(view); }
  // A new column goes last, as a fresh collection item does.
  void Insert(int index, int width = 50) {
    auto c = std::make_unique<TVTColumnMetrics>();
    c->Width = width;
    c->Position = static_cast<std::uint32_t>(items.size());
    items.insert(items.begin() + index, std::move(c));
    Changed();
  }
  void Delete(int index) {
    items.erase(items.begin() + index);
    Changed();
  }
  void Changed() {
    Sync();
    map.Adjust(Span());
    map.ComputeEdges(Span());
  }
  std::vector<int> Lefts() {
    std::vector<int> out;
    for (auto& c : items) out.push_back(c->Left);
    return out;
  }
};

Columns Make(std::vector<int> widths, std::vector<int> positionOrder = {}) {
  Columns cs;
  for (int w : widths) cs.Insert(static_cast<int>(cs.items.size()), w);
  if (!positionOrder.empty()) {
    cs.map.Entries = positionOrder;
    cs.map.ComputeEdges(cs.Span());
  }
  return cs;
}

TEST(HeaderPositions, EdgesFollowPositionsAndSkipInvisibleColumns) {
  struct Case {
    std::vector<int> widths;
    std::vector<int> order;      // position -> index
    std::vector<int> invisible;  // indices
    std::vector<int> lefts;      // by index
    int total;
  } cases[] = {
      {{50, 50, 50}, {0, 1, 2}, {}, {0, 50, 100}, 150},
      {{50, 50, 50}, {0, 1, 2}, {1}, {0, 50, 50}, 100},  // the hidden one shares the next one's edge
      {{0, 50, 100}, {0, 1, 2}, {}, {0, 0, 50}, 150},
      {{0, 50, 100}, {2, 0, 1}, {}, {100, 100, 0}, 150},
      {{0, 50, 100}, {2, 1, 0}, {2}, {50, 0, 0}, 50},
      {{50, 50, 50}, {0, 1, 2}, {0, 1, 2}, {0, 0, 0}, 0},
      {{}, {}, {}, {}, 0},
  };
  for (const Case& c : cases) {
    Columns cs = Make(c.widths);
    for (int i : c.invisible) cs.items[static_cast<std::size_t>(i)]->Options &= ~kColumnVisible;
    cs.map.Entries = c.order;
    cs.map.ComputeEdges(cs.Span());
    EXPECT_EQ(cs.Lefts(), c.lefts);
    EXPECT_EQ(TotalVisibleWidth(cs.map, cs.Span()), c.total);
    for (std::size_t p = 0; p < c.order.size(); ++p)
      EXPECT_EQ(cs.items[static_cast<std::size_t>(c.order[p])]->Position, p);
  }
}

TEST(HeaderPositions, MoveEntryShiftsTheEntriesBetween) {
  struct Case {
    int column, position;
    std::vector<int> after;
  } cases[] = {
      {0, 3, {1, 2, 3, 0}}, {0, 1, {1, 0, 2, 3}}, {3, 0, {3, 0, 1, 2}},
      {2, 1, {0, 2, 1, 3}}, {1, 1, {0, 1, 2, 3}},  // unchanged
      {1, 4, {0, 1, 2, 3}},                        // out of range: nothing
      {4, 0, {0, 1, 2, 3}},
  };
  for (const Case& c : cases) {
    Columns cs = Make({50, 50, 50, 50});
    cs.map.MoveEntry(cs.Span(), c.column, c.position);
    EXPECT_EQ(cs.map.Entries, c.after) << c.column << " -> " << c.position;
  }
  // From a shuffled map: column 2 stands at position 0 and goes to position 2.
  Columns cs = Make({50, 50, 50, 50}, {2, 0, 3, 1});
  cs.map.MoveEntry(cs.Span(), 2, 2);
  EXPECT_EQ(cs.map.Entries, (std::vector<int>{0, 3, 2, 1}));
  cs.map.ComputeEdges(cs.Span());
  EXPECT_EQ(cs.Lefts(), (std::vector<int>{0, 150, 100, 50}));
}

// Every insert and delete at every index, from every order of four columns,
// against a list of column identities in display order.
TEST(HeaderPositions, InsertAndDeleteKeepThePermutationAndTheOrder) {
  std::vector<int> order{0, 1, 2, 3};
  int checked = 0;
  do {
    for (int op = 0; op < 2; ++op) {
      for (int at = 0; at <= 4; ++at) {
        if (op == 1 && at == 4) continue;
        Columns cs = Make({10, 20, 30, 40}, order);
        cs.map.Adjust(cs.Span());
        // Identities: the width tells a column apart.
        std::vector<int> shown;
        for (int index : order) shown.push_back(cs.items[static_cast<std::size_t>(index)]->Width);
        if (op == 0) {
          cs.Insert(at, 99);
          shown.push_back(99);  // a new column goes last
        } else {
          const int width = cs.items[static_cast<std::size_t>(at)]->Width;
          cs.Delete(at);
          shown.erase(std::find(shown.begin(), shown.end(), width));
        }
        std::vector<int> sorted = cs.map.Entries;
        std::sort(sorted.begin(), sorted.end());
        std::vector<int> identity(cs.items.size());
        std::iota(identity.begin(), identity.end(), 0);
        ASSERT_EQ(sorted, identity) << (op ? "delete " : "insert ") << at;
        EXPECT_TRUE(cs.map.Consistent(cs.Span()));
        std::vector<int> got;
        int left = 0;
        for (int index : cs.map.Entries) {
          got.push_back(cs.items[static_cast<std::size_t>(index)]->Width);
          EXPECT_EQ(cs.items[static_cast<std::size_t>(index)]->Left, left);
          left += cs.items[static_cast<std::size_t>(index)]->Width;
        }
        EXPECT_EQ(got, shown) << (op ? "delete " : "insert ") << at;
        ++checked;
      }
    }
  } while (std::next_permutation(order.begin(), order.end()));
  EXPECT_EQ(checked, 24 * 9);
}

TEST(HeaderPositions, DeletingTheFirstOfAReversedHeaderKeepsBothOthers) {
  Columns cs = Make({10, 20, 30}, {2, 1, 0});
  cs.Delete(0);
  EXPECT_EQ(cs.map.Entries, (std::vector<int>{1, 0}));
  EXPECT_EQ(cs.Lefts(), (std::vector<int>{30, 0}));
}

TEST(HeaderPositions, RebuildRanksStreamedPositionsIntoAPermutation) {
  struct Case {
    std::vector<std::uint32_t> positions;
    std::vector<int> map;
  } cases[] = {
      {{2, 0, 1}, {1, 2, 0}},
      {{0, 0, 0}, {0, 1, 2}},            // duplicates: by index
      {{7, 4000000000u, 1}, {2, 0, 1}},  // out of range: by rank
      {{1, 0}, {1, 0}},
  };
  for (const Case& c : cases) {
    Columns cs = Make(std::vector<int>(c.positions.size(), 50));
    for (std::size_t i = 0; i < c.positions.size(); ++i) cs.items[i]->Position = c.positions[i];
    cs.map.Rebuild(cs.Span());
    EXPECT_EQ(cs.map.Entries, c.map);
    EXPECT_TRUE(cs.map.Consistent(cs.Span()));
  }
}

TEST(HeaderPositions, WalksByPositionGiveMinusTwoAtTheEnds) {
  Columns cs = Make({50, 50, 50, 50}, {3, 1, 0, 2});
  cs.items[0]->Options &= ~kColumnVisible;
  auto s = cs.Span();
  EXPECT_EQ(FirstVisibleColumn(cs.map, s), 3);
  EXPECT_EQ(LastVisibleColumn(cs.map, s), 2);
  EXPECT_EQ(NextColumn(cs.map, s, 1), 0);
  EXPECT_EQ(NextVisibleColumn(cs.map, s, 1), 2);
  EXPECT_EQ(PreviousVisibleColumn(cs.map, s, 2), 1);
  EXPECT_EQ(PreviousColumn(cs.map, s, 3), InvalidColumn);
  EXPECT_EQ(NextColumn(cs.map, s, 2), InvalidColumn);
  EXPECT_EQ(NextColumn(cs.map, s, -1), InvalidColumn);
  EXPECT_EQ(NextVisibleColumn(cs.map, s, 2), InvalidColumn);
  Columns none;
  EXPECT_EQ(FirstVisibleColumn(none.map, none.Span()), InvalidColumn);
  EXPECT_EQ(TotalVisibleWidth(none.map, none.Span()), 0);
}

TEST(HeaderClamping, WidthMinAndMaxAndMargin) {
  struct Case {
    int min, max, request, width;
  } widths[] = {{10, 10000, 50, 50}, {10, 10000, 5, 10}, {10, 10000, -3, 10},      {10, 100, 150, 100},
                {30, 30, 0, 30},     {0, 10000, 0, 0},   {10, 10000, 20000, 10000}};
  for (const auto& c : widths) {
    TVTColumnMetrics m;
    m.MinWidth = c.min;
    m.MaxWidth = c.max;
    EXPECT_EQ(ClampColumnWidth(m, c.request), c.width) << c.request;
  }
  EXPECT_EQ(ClampMaxWidth(5, 10), 10);
  EXPECT_EQ(ClampMaxWidth(20000, 10), 10000);
  EXPECT_EQ(ClampMaxWidth(300, 10), 300);
  EXPECT_EQ(ClampMinWidth(-5, 100), 0);
  EXPECT_EQ(ClampMinWidth(500, 100), 100);
  EXPECT_EQ(ClampMinWidth(40, 100), 40);
  EXPECT_EQ(ClampMargin(-1), 4);
  EXPECT_EQ(ClampMargin(0), 0);
  EXPECT_EQ(ClampMargin(9), 9);
}

TEST(HeaderAutoSize, TheTargetTakesTheRemainingWidth) {
  struct Case {
    int autoSizeIndex, changed, target;
    int hidden;  // an invisible column's index, or -1
    int maxWidth, minWidth, room, width;
  } cases[] = {
      {1, -2, 1, -1, 10000, 10, 300, 200},  {1, -2, 1, 0, 10000, 10, 300, 250},  // an invisible column takes no room
      {1, -2, 1, -1, 120, 10, 300, 120},    {1, -2, 1, -1, 10000, 220, 300, 220},
      {1, -2, 1, -1, 10000, 10, 50, 10},                                         // less room than the others: MinWidth
      {5, -2, 2, -1, 10000, 10, 300, 200},                                       // out of range: the highest index
      {-1, -2, 2, -1, 10000, 10, 300, 200}, {1, 0, 1, -1, 10000, 10, 300, 200},  // a resize left of the target
      {1, 1, 2, -1, 10000, 10, 300, 200},                                        // at the target: the next visible one
      {0, 0, 2, 1, 10000, 10, 300, 250},                                         // ... skipping an invisible one
  };
  for (const Case& c : cases) {
    Columns cs = Make({50, 50, 50});
    if (c.hidden >= 0) cs.items[static_cast<std::size_t>(c.hidden)]->Options &= ~kColumnVisible;
    const int target = AutoSizeTarget(cs.map, cs.Span(), c.autoSizeIndex, c.changed);
    ASSERT_EQ(target, c.target) << c.autoSizeIndex << " " << c.changed;
    cs.items[static_cast<std::size_t>(target)]->MaxWidth = c.maxWidth;
    cs.items[static_cast<std::size_t>(target)]->MinWidth = c.minWidth;
    EXPECT_EQ(AutoSizeWidth(cs.Span(), target, c.room), c.width);
  }
  Columns cs = Make({50, 50, 50});
  EXPECT_EQ(AutoSizeTarget(cs.map, cs.Span(), 1, 2), InvalidColumn);  // nothing right of the last
  Columns none;
  EXPECT_EQ(AutoSizeTarget(none.map, none.Span(), 0, -2), InvalidColumn);
}

TEST(HeaderHitTests, EdgesGapsAndPastTheLastColumn) {
  Columns cs = Make({50, 100, 100});
  cs.items[1]->Options &= ~kColumnVisible;
  cs.map.ComputeEdges(cs.Span());
  TVTColumnLayout layout;
  FillColumnLayout(cs.map, cs.Span(), layout);
  layout.HeaderHeight = 17;
  struct Case {
    int x, y;
    bool scrolled;
    int offset, column, left, right;
  } cases[] = {
      {0, 0, false, 0, 0, 0, 50},      {49, 8, false, 0, 0, 0, 50},   {50, 8, false, 0, 2, 50, 150},
      {149, 17, false, 0, 2, 50, 150}, {150, 8, false, 0, -2, 0, 0},  {-1, 8, false, 0, -2, 0, 0},
      {10, -1, false, 0, -2, 0, 0},    {10, 18, false, 0, -2, 0, 0},  {29, 8, true, -20, 0, -20, 30},
      {30, 8, true, -20, 2, 30, 130},  {130, 8, true, -20, -2, 0, 0},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(layout.ColumnAtPoint(c.x, c.y, c.scrolled, c.offset), c.column) << c.x << "," << c.y;
    if (c.y >= 0 && c.y <= 17) {
      int left, right;
      EXPECT_EQ(layout.ColumnAndBoundsAtX(c.x, c.scrolled, c.offset, left, right), c.column);
      EXPECT_EQ(left, c.left) << c.x;
      EXPECT_EQ(right, c.right) << c.x;
    }
  }
  TVTColumnLayout empty;
  empty.HeaderHeight = 17;
  EXPECT_EQ(empty.ColumnAtPoint(5, 5, false, 0), InvalidColumn);
}

TEST(HeaderLayout, ImageCaptionAndGlyphForEachAlignmentAndLayout) {
  struct Case {
    const char* name;
    int width, height, alignment, layout;
    bool rtl, image, glyph;
    int imageX, imageY, glyphX, glyphY;
    TVTRect caption;
  } cases[] = {
      {"left, image left", 120, 20, kAlignLeft, kGlyphLeft, false, true, true, 4, 2, 60, 2, {24, 4, 56, 16}},
      {"centre, image left", 120, 20, kAlignCenter, kGlyphLeft, false, true, true, 34, 2, 90, 2, {54, 4, 86, 16}},
      {"right, image left", 120, 20, kAlignRight, kGlyphLeft, false, true, true, 44, 2, 100, 2, {64, 4, 96, 16}},
      {"left, image right", 120, 20, kAlignLeft, kGlyphRight, false, true, true, 40, 2, 60, 2, {4, 4, 36, 16}},
      {"left, image top", 120, 40, kAlignLeft, kGlyphTop, false, true, true, 52, 4, 72, 12, {4, 24, 36, 36}},
      {"centre, image bottom", 120, 40, kAlignCenter, kGlyphBottom, false, true, true, 52, 20, 72, 12, {36, 4, 68, 16}},
      {"right, image top", 120, 40, kAlignRight, kGlyphTop, false, true, true, 52, 4, 100, 12, {64, 24, 96, 36}},
      {"right-to-left, left", 120, 20, kAlignLeft, kGlyphLeft, true, true, true, 64, 2, 44, 2, {84, 4, 116, 16}},
      {"narrow, left", 40, 20, kAlignLeft, kGlyphLeft, false, true, true, 4, 2, 20, 2, {24, 4, 16, 16}},
      {"narrow, centre", 40, 20, kAlignCenter, kGlyphLeft, false, true, true, 4, 2, 20, 2, {24, 4, 16, 16}},
      {"narrow, right", 40, 20, kAlignRight, kGlyphLeft, false, true, true, 4, 2, 20, 2, {24, 4, 16, 16}},
      {"caption only, centre", 120, 20, kAlignCenter, kGlyphLeft, false, false, false, 0, 0, 0, 0, {46, 4, 78, 16}},
      {"caption and glyph, right", 120, 20, kAlignRight, kGlyphLeft, false, false, true, 0, 0, 100, 2, {64, 4, 96, 16}},
  };
  for (const Case& c : cases) {
    TVTHeaderLayoutInput in;
    in.Width = c.width;
    in.Height = c.height;
    in.HasCaption = true;
    in.TextWidth = 30;
    in.TextHeight = 12;
    in.ShowImage = c.image;
    in.ImageWidth = in.ImageHeight = 16;
    in.ShowGlyph = c.glyph;
    in.GlyphWidth = in.GlyphHeight = 16;
    in.Alignment = c.alignment;
    in.Layout = c.layout;
    in.RightToLeft = c.rtl;
    // The results are moved by the cell's corner.
    const TVTHeaderLayout out = ComputeHeaderLayout(in, 10, 5);
    ASSERT_TRUE(out.Computed) << c.name;
    if (c.image) {
      EXPECT_EQ(out.ImageX, c.imageX + 10) << c.name;
      EXPECT_EQ(out.ImageY, c.imageY + 5) << c.name;
    }
    if (c.glyph) {
      EXPECT_EQ(out.GlyphX, c.glyphX + 10) << c.name;
      EXPECT_EQ(out.GlyphY, c.glyphY + 5) << c.name;
    }
    const TVTRect expected{c.caption.Left + 10, c.caption.Top + 5, c.caption.Right + 10, c.caption.Bottom + 5};
    EXPECT_EQ(out.Caption, expected) << c.name;
  }
}

TEST(HeaderLayout, AGlyphAloneIsCentredAndNothingComputesNothing) {
  TVTHeaderLayoutInput in;
  in.Width = 120;
  in.Height = 20;
  in.ShowGlyph = true;
  in.GlyphWidth = in.GlyphHeight = 16;
  TVTHeaderLayout out = ComputeHeaderLayout(in, 0, 0);
  EXPECT_TRUE(out.Computed);
  EXPECT_EQ(out.GlyphX, 52);
  EXPECT_EQ(out.GlyphY, 2);
  in.ShowGlyph = false;
  EXPECT_FALSE(ComputeHeaderLayout(in, 0, 0).Computed);
}

TEST(HeaderLooks, FramesOfTheStyles) {
  struct Case {
    int style, state;
    unsigned edge, flags;
  } cases[] = {
      {kHeaderThickButtons, 0, 5, 0x380B}, {kHeaderThickButtons, 1, 5, 0x780F}, {kHeaderThickButtons, 2, 5, 0x380B},
      {kHeaderFlatButtons, 0, 4, 0x280B},  {kHeaderFlatButtons, 1, 2, 0x280F},  {kHeaderPlates, 0, 4, 0x380F},
      {kHeaderPlates, 1, 2, 0x280F},       {kHeaderPlates, 2, 4, 0x280B},
  };
  for (const Case& c : cases) {
    const TVTHeaderFrame f = HeaderFrame(c.style, c.state);
    EXPECT_EQ(f.Edge, c.edge) << c.style << "/" << c.state;
    EXPECT_EQ(f.Flags, c.flags) << c.style << "/" << c.state;
  }
}

TEST(HeaderLooks, XPStyleGradientAndHotBar) {
  std::uint32_t lines[3];
  XPStyleGradient(xpheader::kFillNormal, xpheader::kGradientEnd, lines);
  EXPECT_EQ(lines[0], Rgb(224, 222, 207));
  EXPECT_EQ(lines[1], Rgb(213, 210, 195));
  EXPECT_EQ(lines[2], Rgb(203, 199, 184));

  struct Case {
    int left, right;
    std::vector<TVTBarPiece> pieces;
  } cases[] = {
      {0, 80, {{6, 0, 16}, {7, 16, 16}, {7, 32, 16}, {7, 48, 16}, {8, 64, 16}}},
      {10, 43, {{6, 10, 16}, {7, 26, 16}, {8, 27, 16}}},
      {0, 32, {{8, 16, 16}, {6, 0, 16}}},
      {0, 20, {{8, 4, 16}, {6, 0, 10}}},
  };
  for (const Case& c : cases) {
    const auto got = XPStyleHotBar(c.left, c.right);
    ASSERT_EQ(got.size(), c.pieces.size()) << c.left << ".." << c.right;
    for (std::size_t i = 0; i < got.size(); ++i) {
      EXPECT_EQ(got[i].Image, c.pieces[i].Image);
      EXPECT_EQ(got[i].X, c.pieces[i].X);
      EXPECT_EQ(got[i].Width, c.pieces[i].Width);
    }
  }
  EXPECT_EQ(SortGlyphImage(sdAscending, false), 3);
  EXPECT_EQ(SortGlyphImage(sdDescending, false), 2);
  EXPECT_EQ(SortGlyphImage(sdAscending, true), 5);
  EXPECT_EQ(SortGlyphImage(sdDescending, true), 4);
}

TEST(HeaderNames, DisplayNameAndResizeStep) {
  EXPECT_EQ(ColumnDisplayName(u"Name", 2), "Name");
  EXPECT_EQ(ColumnDisplayName(u"Gr\u00f6\u00dfe", 2),
            "Gr\xf6\xdf"
            "e");
  EXPECT_EQ(ColumnDisplayName(u"\u0418\u043c\u044f", 2), "Column 2");
  EXPECT_EQ(ColumnDisplayName(u"", 0), "");
  EXPECT_EQ(AnimatedResizeStep(50, 114), 2);
  EXPECT_EQ(AnimatedResizeStep(114, 50), -2);
  EXPECT_EQ(AnimatedResizeStep(50, 81), 0);
  EXPECT_EQ(AnimatedResizeStep(50, 18), -1);
}

}  // namespace
