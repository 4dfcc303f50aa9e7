// The tree's header under Wine: the band printed through WM_PRINT in the XP
// look, the flat and thick styles and the Light theme; the non-client size;
// the column writers; fitting columns to their content; and a form text whose
// captions carry characters above U+00FF.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "Filer.h"
#include "Forms.h"
#include "ObjectConvert.h"
#include "PaintCanvas.h"
#include "Streams.h"
#include "Themes.h"
#include "VirtualTreeColumns.h"
#include "VirtualTreeHeaderPaint.h"
#include "VirtualTreesWin.h"
#include "Win32Platform.h"

namespace {

// A tree whose nodes are as wide as their column and index say.
class TMeasuredTree : public TBaseVirtualTree {
  FW_CLASS(TMeasuredTree, TBaseVirtualTree)
 public:
  explicit TMeasuredTree(TComponent* owner) : TBaseVirtualTree(owner) {}
  static int WidthOf(int column, int index) {
    static const int base[] = {40, 70, 15};
    return base[column < 0 ? 0 : column % 3] + (column == 0 ? 10 * index : 0);
  }

 protected:
  int MeasureNodeWidth(TVTNode* node, int column) override { return WidthOf(column, int(node->Index)); }
};

// clang-format off
FW_BEGIN_CLASS(TMeasuredTree)
FW_END_CLASS
// clang-format on

class HeaderWinTest : public ::testing::Test {
 protected:
  void SetUp() override {
    InitWin32Platform();
    InitForms();
    InitVirtualTrees();
    form_ = New<TForm>(Application);
    form_->SetBounds(0, 0, 400, 400);
    tree_ = New<TMeasuredTree>(form_);
    tree_->SetParent(form_);
    tree_->SetBounds(0, 0, 320, 200);
    form_->Show();
    header_ = tree_->GetHeader();
    static const char16_t* captions[] = {u"Name", u"Size", u"Type"};
    for (int i = 0; i < 3; ++i) {
      auto* column = static_cast<TVirtualTreeColumn*>(header_->GetColumns()->Add());
      column->SetText(captions[i]);
      column->SetWidth(100 - 20 * i);
    }
    header_->SetOptions(header_->GetOptions() + TVTHeaderOptions{hoVisible, hoShowSortGlyphs});
    Classic();
  }
  void TearDown() override {
    FreeAndNil(form_);
    DoneVirtualTrees();
  }
  void Classic() {
    tree_->Tree().OptionBits.Paint &= std::uint16_t(~voPaintThemed);
    SendMessageW(tree_->WindowHandle(), WM_THEMECHANGED, 0, 0);
    ASSERT_FALSE(tree_->Tree().HasTreeState(tsUseThemes));
  }
  // The whole window printed with its non-client area.
  std::unique_ptr<Canvas> Print() {
    RECT w;
    GetWindowRect(tree_->WindowHandle(), &w);
    auto canvas = std::make_unique<Canvas>(w.right - w.left, w.bottom - w.top);
    SendMessageW(tree_->WindowHandle(), WM_PRINT, WPARAM(canvas->dc), PRF_NONCLIENT);
    GdiFlush();
    return canvas;
  }
  TForm* form_ = nullptr;
  TMeasuredTree* tree_ = nullptr;
  TVTHeader* header_ = nullptr;
};

TEST_F(HeaderWinTest, TheClientAreaStartsBelowTheBandAndFollowsHeightAndVisibility) {
  RECT window, client;
  GetWindowRect(tree_->WindowHandle(), &window);
  GetClientRect(tree_->WindowHandle(), &client);
  POINT origin{0, 0};
  ClientToScreen(tree_->WindowHandle(), &origin);
  const RECT band = tree_->ComputeHeaderArea();
  EXPECT_EQ(band.bottom - band.top, 17);
  EXPECT_EQ(origin.y - window.top, band.bottom);  // the client area starts right below the band
  header_->SetHeight(30);
  ClientToScreen(tree_->WindowHandle(), &(origin = POINT{0, 0}));
  EXPECT_EQ(origin.y - window.top, tree_->ComputeHeaderArea().top + 30);
  header_->SetOptions(header_->GetOptions() - TVTHeaderOptions{hoVisible});
  RECT hidden;
  GetClientRect(tree_->WindowHandle(), &hidden);
  EXPECT_EQ(hidden.bottom, client.bottom + 17);
  EXPECT_EQ(tree_->Tree().ColumnLayout.HeaderHeight, 0);
}

TEST_F(HeaderWinTest, XPStyleCellsHaveTheGradientTheSeparatorAndTheSortGlyph) {
  header_->SetStyle(hsXPStyle);
  header_->SetSortColumn(1);
  auto canvas = Print();
  const RECT band = tree_->ComputeHeaderArea();
  const int mid = band.left + 50;
  EXPECT_EQ(canvas->At(mid, band.bottom - 3), RGB(224, 222, 207));
  EXPECT_EQ(canvas->At(mid, band.bottom - 2), RGB(213, 210, 195));
  EXPECT_EQ(canvas->At(mid, band.bottom - 1), RGB(203, 199, 184));
  EXPECT_EQ(canvas->At(mid, band.top + 1), RGB(235, 234, 219));
  // The separator at the first cell's right edge, from top + 3 to bottom - 5.
  for (int y = band.top + 3; y < band.bottom - 5; ++y) {
    EXPECT_EQ(canvas->At(band.left + 98, y), RGB(199, 197, 178)) << y;
    EXPECT_EQ(canvas->At(band.left + 99, y), RGB(255, 255, 255)) << y;
  }
  EXPECT_EQ(canvas->At(band.left + 98, band.bottom - 5), RGB(235, 234, 219));
  // Right of the last cell the band continues in the XP look without a separator.
  const int rest = band.left + 100 + 80 + 60 + 10;
  EXPECT_EQ(canvas->At(rest, band.top + 5), RGB(235, 234, 219));
  EXPECT_EQ(canvas->At(rest, band.bottom - 1), RGB(203, 199, 184));

  // The sort column (1, cell 100..180): the glyph stands right of its caption.
  TVirtualTreeColumn* sorted = static_cast<TVirtualTreeColumn*>(header_->GetColumns()->Items(1));
  HDC measure = CreateCompatibleDC(nullptr);
  HGDIOBJ oldFont = SelectObject(measure, header_->GetFont()->Handle());
  RECT inner{band.left + 100 + 2, band.top + 2, band.left + 180 - 2, band.bottom - 2};
  const TVTHeaderLayout layout = sorted->ComputeHeaderLayout(measure, inner, true, false);
  SelectObject(measure, oldFont);
  DeleteDC(measure);
  ASSERT_TRUE(layout.Computed);
  EXPECT_GT(layout.GlyphX, layout.Caption.Right);
  auto nonFill = [&](int left, int right) {
    int count = 0;
    for (int x = left; x < right; ++x)
      for (int y = band.top + 2; y < band.bottom - 3; ++y) count += canvas->At(x, y) != RGB(235, 234, 219);
    return count;
  };
  EXPECT_GT(nonFill(layout.GlyphX, layout.GlyphX + 16), 0);
  // Clearing the sort column clears the glyph.
  header_->SetSortColumn(-1);
  auto plain = Print();
  EXPECT_EQ(plain->Block(layout.GlyphX, band.top + 2, 16, 10), std::vector<COLORREF>(160, RGB(235, 234, 219)));
}

TEST_F(HeaderWinTest, XPStylePressedHotAndDropMarkCells) {
  header_->SetStyle(hsXPStyle);
  const RECT band = tree_->ComputeHeaderArea();
  const int left = band.left, mid = (band.top + band.bottom) / 2;
  auto normal = Print();
  TVirtualTreeColumns* columns = header_->GetColumns();
  columns->DownColumn = 0;
  auto pressed = Print();
  EXPECT_EQ(pressed->At(left + 50, mid), RGB(222, 223, 216));
  EXPECT_EQ(pressed->At(left, mid), RGB(165, 165, 151));
  EXPECT_EQ(pressed->At(left + 50, band.bottom - 1), RGB(165, 165, 151));
  EXPECT_EQ(pressed->At(left + 99, mid), RGB(165, 165, 151));
  EXPECT_EQ(pressed->At(left + 1, mid), RGB(193, 194, 184));
  EXPECT_EQ(pressed->At(left + 50, band.top), RGB(193, 194, 184));
  EXPECT_EQ(pressed->At(left + 2, mid), RGB(208, 209, 201));
  EXPECT_EQ(pressed->At(left + 50, band.top + 1), RGB(208, 209, 201));
  columns->DownColumn = -1;
  // Hot only with hot tracking: the light fill, no separator, the hot bar at the bottom.
  columns->HoverColumn = 0;
  auto notTracking = Print();
  EXPECT_EQ(notTracking->Block(left, band.top, 100, 17), normal->Block(left, band.top, 100, 17));
  header_->SetOptions(header_->GetOptions() + TVTHeaderOptions{hoHotTrack});
  auto hot = Print();
  EXPECT_EQ(hot->At(left + 50, band.top + 2), RGB(250, 248, 243));
  EXPECT_EQ(hot->At(left + 98, band.top + 5), RGB(250, 248, 243));
  EXPECT_NE(hot->Block(left, band.bottom - 3, 100, 3), normal->Block(left, band.bottom - 3, 100, 3));
  columns->HoverColumn = -1;
  // A drop mark before column 1 while column 0 is dragged; none on the dragged column itself.
  columns->DragColumn = 0;
  columns->DropTarget = 1;
  columns->DropBefore = true;
  auto before = Print();
  EXPECT_NE(before->Block(left + 100, band.top, 16, 17), normal->Block(left + 100, band.top, 16, 17));
  EXPECT_EQ(before->Block(left + 164, band.top, 16, 17), normal->Block(left + 164, band.top, 16, 17));
  columns->DropTarget = 0;
  auto self = Print();
  EXPECT_EQ(self->Block(left, band.top, 100, 17), normal->Block(left, band.top, 100, 17));
  columns->DragColumn = columns->DropTarget = -1;
}

TEST_F(HeaderWinTest, ButtonTextIsShortenedEngravedWhenDisabledAndShadowedWhenHot) {
  Canvas canvas(200, 40);
  HGDIOBJ oldFont = SelectObject(canvas.dc, header_->GetFont()->Handle());
  auto paint = [&](const std::u16string& text, const RECT& cell, bool hot, bool enabled) {
    const RECT all{0, 0, 200, 40};
    FillRectColor(canvas.dc, all, clGreen);
    DrawButtonText(canvas.dc, text, cell, hot, enabled, 0, clRed);
    GdiFlush();
  };
  auto count = [&](COLORREF colour, int left, int right) {
    int n = 0;
    for (int y = 0; y < 40; ++y)
      for (int x = left; x < right; ++x) n += canvas.At(x, y) == colour;
    return n;
  };
  const COLORREF red = RGB(255, 0, 0), shadow = ColorToRGB(clBtnShadow), light = ColorToRGB(clBtnHighlight);
  paint(u"A caption far too long for its cell", RECT{10, 5, 60, 25}, false, true);
  EXPECT_GT(count(red, 10, 60), 0);
  EXPECT_EQ(count(red, 60, 200), 0);  // shortened with "..." to fit
  paint(u"Hot", RECT{10, 5, 100, 25}, true, true);
  EXPECT_EQ(count(red, 0, 200), 0);
  EXPECT_GT(count(shadow, 10, 100), 0);
  paint(u"Off", RECT{10, 5, 100, 25}, false, false);
  EXPECT_GT(count(shadow, 10, 100), 0);
  EXPECT_GT(count(light, 10, 101), 0);  // the engraving one pixel down and right
  SelectObject(canvas.dc, oldFont);
}

TEST_F(HeaderWinTest, FlatAndThickStylesDrawTheirEdges) {
  const COLORREF light = ColorToRGB(clBtnHighlight), shadow = ColorToRGB(clBtnShadow), dark = ColorToRGB(cl3DDkShadow),
                 face = ColorToRGB(clBtnFace);
  const RECT band = tree_->ComputeHeaderArea();
  const int y = (band.top + band.bottom) / 2;
  header_->SetStyle(hsFlatButtons);
  auto flat = Print();
  EXPECT_EQ(flat->At(band.left, y), light);
  EXPECT_EQ(flat->At(band.left + 99, y), shadow);
  EXPECT_EQ(flat->At(band.left + 50, band.bottom - 1), shadow);
  EXPECT_EQ(flat->At(band.left + 50, band.top + 3), face);
  header_->SetStyle(hsThickButtons);
  auto thick = Print();
  EXPECT_EQ(thick->At(band.left + 50, band.bottom - 1), dark);
  EXPECT_EQ(thick->At(band.left + 50, band.bottom - 2), shadow);
  EXPECT_EQ(thick->At(band.left + 99, y), dark);
  EXPECT_EQ(thick->At(band.left + 98, y), shadow);
  EXPECT_NE(flat->Block(band.left, band.top, 100, 17), thick->Block(band.left, band.top, 100, 17));
  // A pressed cell takes the pressed frame.
  header_->GetColumns()->DownColumn = 0;
  auto pressed = Print();
  EXPECT_NE(pressed->Block(band.left, band.top, 100, 17), thick->Block(band.left, band.top, 100, 17));
}

// Owner-drawn cells go to the header-draw event, and only those.
struct HeaderDrawRecorder {
  std::vector<int> columns;
  RECT cell{};
  void Draw(TVTHeader*, TCanvas* canvas, TVirtualTreeColumn* column, const RECT& r, bool, bool, int) {
    columns.push_back(column->Index());
    cell = r;
    FillRectColor(canvas->Handle(), r, clRed);
  }
};

TEST_F(HeaderWinTest, OwnerDrawnCellsAreDrawnByTheEvent) {
  HeaderDrawRecorder recorder;
  tree_->OnHeaderDraw = Method<void(TVTHeader*, TCanvas*, TVirtualTreeColumn*, const RECT&, bool, bool,
                                    int)>::Bind<&HeaderDrawRecorder::Draw>(&recorder);
  static_cast<TVirtualTreeColumn*>(header_->GetColumns()->Items(2))->SetStyle(vsOwnerDraw);
  const RECT band = tree_->ComputeHeaderArea();
  auto plain = Print();
  EXPECT_TRUE(recorder.columns.empty());  // without hoOwnerDraw the column is drawn as any other
  header_->SetOptions(header_->GetOptions() + TVTHeaderOptions{hoOwnerDraw});
  auto drawn = Print();
  ASSERT_EQ(recorder.columns, std::vector<int>{2});
  EXPECT_EQ(recorder.cell.left, band.left + 180);
  EXPECT_EQ(recorder.cell.right, band.left + 240);
  EXPECT_EQ(drawn->At(band.left + 200, band.top + 8), RGB(255, 0, 0));
  EXPECT_EQ(drawn->Block(band.left, band.top, 180, 17), plain->Block(band.left, band.top, 180, 17));
  tree_->OnHeaderDraw = nullptr;
}

// Wine's prefix comes with its "Light" visual style active.
TEST_F(HeaderWinTest, TheLightThemeDrawsTheThemedHeaderParts) {
  ASSERT_TRUE(UseThemes());
  const RECT band = tree_->ComputeHeaderArea();
  auto classic = Print();
  tree_->Tree().OptionBits.Paint |= voPaintThemed;
  SendMessageW(tree_->WindowHandle(), WM_THEMECHANGED, 0, 0);
  ASSERT_TRUE(tree_->Tree().HasTreeState(tsUseThemes));
  EXPECT_NE(header_->GetColumns()->HeaderTheme(), nullptr);
  auto themed = Print();
  EXPECT_NE(themed->Block(band.left, band.top, 100, 17), classic->Block(band.left, band.top, 100, 17));
  Classic();
  EXPECT_EQ(header_->GetColumns()->HeaderTheme(), nullptr);
  auto again = Print();
  EXPECT_EQ(again->Block(band.left, band.top, 240, 17), classic->Block(band.left, band.top, 240, 17));
}

TEST_F(HeaderWinTest, AutoFitColumnsFitsTheWidestContentAndRestoreGoesBack) {
  tree_->SetRootNodeCount(5);
  TVirtualTreeColumns* columns = header_->GetColumns();
  auto width = [&](int i) { return static_cast<TVirtualTreeColumn*>(columns->Items(i))->GetWidth(); };
  const int margins = 2 * tree_->Tree().Margin;
  const int indent = tree_->Tree().Indent;  // the main column's nodes stand one indent in (root shown)
  header_->AutoFitColumns();
  EXPECT_EQ(width(0), indent + margins + TMeasuredTree::WidthOf(0, 4));
  EXPECT_EQ(width(1), margins + TMeasuredTree::WidthOf(1, 0));
  EXPECT_EQ(width(2), margins + TMeasuredTree::WidthOf(2, 0));
  EXPECT_EQ(columns->TotalVisibleWidth(), width(0) + width(1) + width(2));
  header_->RestoreColumnWidths();
  EXPECT_EQ(width(0), 100);
  EXPECT_EQ(width(1), 80);
  EXPECT_EQ(width(2), 60);
  // Ctrl with plus fits them again, Ctrl with minus restores them.
  tree_->Keyboard().KeyDown(VK_ADD, kKeyCtrl);
  EXPECT_EQ(width(1), margins + TMeasuredTree::WidthOf(1, 0));
  tree_->Keyboard().KeyDown(VK_OEM_MINUS, kKeyCtrl);
  EXPECT_EQ(width(1), 80);
  // A column that is not resizable keeps its width.
  auto* fixed = static_cast<TVirtualTreeColumn*>(columns->Items(1));
  fixed->SetOptions(fixed->GetOptions() - TVTColumnOptions{coResizable});
  header_->AutoFitColumns();
  EXPECT_EQ(width(1), 80);
}

TEST_F(HeaderWinTest, WritersClampAndKeepThePositionMapAndTheCoreLayout) {
  TVirtualTreeColumns* columns = header_->GetColumns();
  auto column = [&](int i) { return static_cast<TVirtualTreeColumn*>(columns->Items(i)); };
  EXPECT_EQ(header_->GetMainColumn(), 0);
  column(0)->SetWidth(3);
  EXPECT_EQ(column(0)->GetWidth(), 10);
  EXPECT_EQ(column(0)->LastWidth(), 100);
  column(1)->SetMinWidth(120);
  EXPECT_EQ(column(1)->GetWidth(), 120);
  column(1)->SetMaxWidth(20000);
  EXPECT_EQ(column(1)->GetMaxWidth(), 10000);
  column(2)->SetPosition(0xFFFFFFFFu);  // a negative position: the last place
  EXPECT_EQ(column(2)->GetPosition(), 2u);
  column(2)->SetPosition(0);
  EXPECT_EQ(columns->PositionToIndex(), (std::vector<int>{2, 0, 1}));
  EXPECT_EQ(column(0)->Left(), 60);
  // The core's hit tests see the same order.
  const auto& layout = tree_->Tree().ColumnLayout;
  ASSERT_EQ(layout.Columns.size(), 3u);
  EXPECT_EQ(layout.Columns[0].Index, 2);
  EXPECT_EQ(layout.Columns[1].Left, 60);
  EXPECT_EQ(columns->ColumnAtPoint(POINT{65, 5}, false), 0);
  EXPECT_EQ(columns->ColumnAtPoint(POINT{1000, 5}, false), InvalidColumn);
  // Inside an update of the collection a position does not move.
  columns->BeginUpdate();
  column(0)->SetPosition(0);
  EXPECT_EQ(column(0)->GetPosition(), 1u);
  columns->EndUpdate();
  EXPECT_EQ(columns->PositionToIndex(), (std::vector<int>{2, 0, 1}));
  // Deleting the first column keeps the others in their order; a main
  // column that goes with it falls back to the last column.
  header_->SetMainColumn(2);
  columns->Delete(2);
  EXPECT_EQ(header_->GetMainColumn(), 1);
  EXPECT_EQ(tree_->Tree().ColumnLayout.MainColumn, 1);
  EXPECT_EQ(columns->PositionToIndex(), (std::vector<int>{0, 1}));
  EXPECT_EQ(column(0)->Left(), 0);
  EXPECT_EQ(column(1)->Left(), 10);
  // A hidden column takes no room.
  column(0)->SetOptions(column(0)->GetOptions() - TVTColumnOptions{coVisible});
  EXPECT_EQ(column(1)->Left(), 0);
  EXPECT_EQ(columns->TotalVisibleWidth(), 120);
  EXPECT_EQ(column(1)->DisplayName(), "Size");
  column(1)->SetText(u"\u0420\u0430\u0437\u043c\u0435\u0440");
  EXPECT_EQ(column(1)->DisplayName(), "Column 1");
  header_->SetMainColumn(7);
  EXPECT_EQ(header_->GetMainColumn(), 1);
  header_->SetSortColumn(5);
  EXPECT_EQ(header_->GetSortColumn(), 1);
  columns->Clear();
  EXPECT_EQ(header_->GetMainColumn(), NoColumn);
  EXPECT_TRUE(tree_->Tree().ColumnLayout.Columns.empty());
}

TEST_F(HeaderWinTest, AssignCopiesTheColumnsTheirOrderAndTheSettings) {
  TVirtualTreeColumns* columns = header_->GetColumns();
  static_cast<TVirtualTreeColumn*>(columns->Items(2))->SetPosition(0);
  header_->SetStyle(hsPlates);
  header_->SetSortColumn(1);
  auto* other = New<TBaseVirtualTree>(form_);
  other->SetParent(form_);
  other->GetHeader()->Assign(header_);
  TVTHeader* copy = other->GetHeader();
  ASSERT_EQ(copy->GetColumns()->Count(), 3);
  EXPECT_EQ(copy->GetColumns()->PositionToIndex(), columns->PositionToIndex());
  EXPECT_EQ(static_cast<TVirtualTreeColumn*>(copy->GetColumns()->Items(1))->GetText(), u"Size");
  EXPECT_EQ(static_cast<TVirtualTreeColumn*>(copy->GetColumns()->Items(0))->Left(), 60);
  EXPECT_EQ(copy->GetStyle(), hsPlates);
  EXPECT_EQ(copy->OptionBits(), header_->OptionBits());
  EXPECT_EQ(copy->GetSortColumn(), -1);  // not copied
}

TEST_F(HeaderWinTest, AFreedImageListOrPopupMenuIsForgotten) {
  auto* images = New<TImageList>(form_);
  auto* menu = New<TPopupMenu>(form_);
  header_->SetImages(images);
  header_->SetPopupMenu(menu);
  images->Free();
  menu->Free();
  EXPECT_EQ(header_->GetImages(), nullptr);
  EXPECT_EQ(header_->GetPopupMenu(), nullptr);
  Print();  // painting after the list went does not touch it
}

// Compares nodes by their place in a list taken before sorting (descending).
struct ReverseOrder {
  std::vector<TVTNode*> original;
  std::vector<int> columns;
  int Rank(TVTNode* n) const { return int(std::find(original.begin(), original.end(), n) - original.begin()); }
  void Compare(TObject*, TVTNode* a, TVTNode* b, int column, int& result) {
    columns.push_back(column);
    result = Rank(b) - Rank(a);
  }
};

TEST_F(HeaderWinTest, TheAutoSortFollowsTheHeadersSortColumnAndDirection) {
  TVirtualTreeCore& tree = tree_->Tree();
  tree_->SetRootNodeCount(4);
  ReverseOrder order;
  for (TVTNode* n = tree.FirstNode(); n; n = tree.NextSiblingOf(n)) order.original.push_back(n);
  tree.OnCompareNodes = TVTCompareEvent::Bind<&ReverseOrder::Compare>(&order);
  auto shown = [&] {
    std::vector<int> ranks;
    for (TVTNode* n = tree.FirstNode(); n; n = tree.NextSiblingOf(n)) ranks.push_back(order.Rank(n));
    return ranks;
  };
  header_->SetSortColumn(1);  // without the auto sort option nothing is sorted
  EXPECT_EQ(shown(), (std::vector<int>{0, 1, 2, 3}));
  tree.OptionBits.Auto |= voAutoSort;
  header_->SetSortColumn(2);
  EXPECT_EQ(shown(), (std::vector<int>{3, 2, 1, 0}));
  ASSERT_FALSE(order.columns.empty());
  EXPECT_EQ(order.columns.back(), 2);
  header_->SetSortDirection(vt::sdDescending);
  EXPECT_EQ(shown(), (std::vector<int>{0, 1, 2, 3}));
  // The end of an update block sorts by the header's column and direction too.
  header_->SetSortDirection(vt::sdAscending);
  std::reverse(order.original.begin(), order.original.end());
  order.columns.clear();
  tree.BeginUpdate();
  tree.EndUpdate();
  EXPECT_EQ(shown(), (std::vector<int>{3, 2, 1, 0}));
  ASSERT_FALSE(order.columns.empty());
  EXPECT_EQ(order.columns.back(), 2);
  tree.OnCompareNodes = nullptr;
}

TEST_F(HeaderWinTest, AutoResizeGivesTheRestOfTheClientWidth) {
  header_->SetAutoSizeIndex(1);
  header_->SetOptions(header_->GetOptions() + TVTHeaderOptions{hoAutoResize});
  RECT client;
  GetClientRect(tree_->WindowHandle(), &client);
  TVirtualTreeColumns* columns = header_->GetColumns();
  auto column = [&](int i) { return static_cast<TVirtualTreeColumn*>(columns->Items(i)); };
  EXPECT_EQ(column(1)->GetWidth(), client.right - 100 - 60);
  EXPECT_EQ(columns->TotalVisibleWidth(), client.right);
  // Widening the first column takes the room from the auto-size column.
  column(0)->SetWidth(120);
  EXPECT_EQ(column(1)->GetWidth(), client.right - 120 - 60);
  // A wider window widens the auto-size column.
  tree_->SetBounds(0, 0, 380, 200);
  RECT wider;
  GetClientRect(tree_->WindowHandle(), &wider);
  EXPECT_EQ(wider.right, client.right + 60);
  EXPECT_EQ(column(1)->GetWidth(), wider.right - 120 - 60);
  tree_->SetBounds(0, 0, 320, 200);
  // The auto-size column cannot be sized itself: the room goes to the next column.
  column(1)->SetWidth(50);
  EXPECT_EQ(column(1)->GetWidth(), client.right - 120 - 60);
  EXPECT_EQ(column(1)->LastWidth(), client.right - 120 - 60);
  // A resize right of the auto-size column with nothing after it takes no room
  // from a column to its right (there is none); the auto-size column only
  // follows when the window's size changes (here the scroll bar may come).
  column(2)->SetWidth(70);
  EXPECT_EQ(column(2)->GetWidth(), 70);
}

// Rows of 18 pixels under columns at 0, 100 and 180 (widths 100, 80, 60).
TEST_F(HeaderWinTest, RowsArePaintedColumnByColumn) {
  tree_->SetRootNodeCount(5);
  TVirtualTreeCore& tree = tree_->Tree();
  TVirtualTreeColumns* columns = header_->GetColumns();
  auto* coloured = static_cast<TVirtualTreeColumn*>(columns->Items(1));
  coloured->SetColor(clYellow);
  EXPECT_FALSE(coloured->HasOption(kColumnParentColor));
  tree.OptionBits.Paint |= voShowVertGridLines | voPopupMode;
  tree_->Colors()->Set<TVTColors::GridLineColor>(clRed);
  TVTNode* first = tree.FirstNode();
  tree.SetFocusedNode(first);
  tree.SetNodeSelected(first, true);
  tree_->SetFocusedColumn(2);
  RECT client;
  GetClientRect(tree_->WindowHandle(), &client);
  Canvas canvas(client.right, client.bottom);
  // The paint handler's flags (printing leaves the column colours out).
  tree_->RenderTreeToCanvas(canvas.dc, client, 0x3F, POINT{0, 0});
  GdiFlush();
  const COLORREF back = ColorToRGB(tree_->GetColor());
  const COLORREF yellow = RGB(255, 255, 0);
  const COLORREF selection = ColorToRGB(tree_->Colors()->Get<TVTColors::FocusedSelectionColor>());
  const COLORREF grid = ColorToRGB(tree_->Colors()->Get<TVTColors::GridLineColor>());
  ASSERT_NE(grid, back);
  // The coloured column, in the rows and below them; the others and the rest keep the tree's colour.
  EXPECT_EQ(canvas.At(140, 2 * 18 + 9), yellow);
  EXPECT_EQ(canvas.At(140, 150), yellow);
  EXPECT_EQ(canvas.At(60, 2 * 18 + 9), back);
  EXPECT_EQ(canvas.At(60, 150), back);
  EXPECT_EQ(canvas.At(280, 150), back);
  // The selection shows in the focused column only: column 2's content starts at 184.
  EXPECT_EQ(canvas.At(190, 9), selection);
  EXPECT_EQ(canvas.At(60, 9), back);
  EXPECT_EQ(canvas.At(140, 9), yellow);
  // Vertical grid lines at each column's right edge, dotted, only in the rows.
  auto gridDots = [&](int x) {
    int dots = 0;
    for (int y = 18; y < 5 * 18; ++y) dots += canvas.At(x, y) == grid;
    return dots;
  };
  EXPECT_GT(gridDots(99), 20);
  EXPECT_LT(gridDots(99), 5 * 18 - 18);
  EXPECT_GT(gridDots(179), 20);
  EXPECT_EQ(gridDots(60), 0);
  EXPECT_EQ(canvas.At(99, 150), back);
  // Moving the coloured column to the front moves its cells.
  coloured->SetPosition(0);
  Canvas moved(client.right, client.bottom);
  tree_->RenderTreeToCanvas(moved.dc, client, 0x3F, POINT{0, 0});
  GdiFlush();
  EXPECT_EQ(moved.At(40, 2 * 18 + 9), yellow);
  EXPECT_EQ(moved.At(140, 2 * 18 + 9), back);
}

TEST_F(HeaderWinTest, AFormTextWithWideCaptionsReadsAndWritesTheSameWideText) {
  RegisterClasses({&TBaseVirtualTree::StaticClass()});
  const std::string text =
      "object Host: TForm\r\n"
      "  object Tree: TBaseVirtualTree\r\n"
      "    Left = 0\r\n"
      "    Top = 0\r\n"
      "    Width = 300\r\n"
      "    Height = 200\r\n"
      "    Header.Columns = <\r\n"
      "      item\r\n"
      "        Position = 1\r\n"
      "        Width = 120\r\n"
      "        WideText = 'Name '#1048#1084#1103\r\n"
      "        WideHint = #26085#26412\r\n"
      "      end\r\n"
      "      item\r\n"
      "        Position = 0\r\n"
      "        WideText = 'Plain'\r\n"
      "      end>\r\n"
      "    Header.MainColumn = 1\r\n"
      "    Header.Options = [hoColumnResize, hoDrag, hoVisible]\r\n"
      "  end\r\n"
      "end\r\n";
  TOwned<TForm> form(TCustomForm::CreateNew<TForm>(nullptr));
  const std::string data = ObjectTextToBinary(text);
  ReadComponentData(data.data(), data.size(), form.get());
  auto* tree = dynamic_cast<TBaseVirtualTree*>(form->FindComponent("Tree"));
  ASSERT_NE(tree, nullptr);
  TVirtualTreeColumns* columns = tree->GetHeader()->GetColumns();
  ASSERT_EQ(columns->Count(), 2);
  auto* first = static_cast<TVirtualTreeColumn*>(columns->Items(0));
  auto* second = static_cast<TVirtualTreeColumn*>(columns->Items(1));
  EXPECT_EQ(first->GetText(), u"Name \u0418\u043c\u044f");
  EXPECT_EQ(first->GetHint(), u"\u65e5\u672c");
  EXPECT_EQ(second->GetText(), u"Plain");
  EXPECT_EQ(columns->PositionToIndex(), (std::vector<int>{1, 0}));
  EXPECT_EQ(first->Left(), 50);
  EXPECT_EQ(tree->GetHeader()->GetMainColumn(), 1);
  EXPECT_TRUE(tree->GetHeader()->HasOption(kHeaderVisible));

  TStringStream binary;
  TWriter writer(binary);
  writer.WriteRootComponent(form.get());
  const std::string written = ObjectBinaryToText(binary.DataString());
  EXPECT_NE(written.find("WideText = 'Name '#1048#1084#1103\r\n"), std::string::npos) << written;
  EXPECT_NE(written.find("WideHint = #26085#26412\r\n"), std::string::npos) << written;
  EXPECT_NE(written.find("WideText = 'Plain'\r\n"), std::string::npos) << written;
  EXPECT_EQ(written.find(" Text = "), std::string::npos);
  EXPECT_EQ(written.find(" Hint = "), std::string::npos);
  // A header saved right after construction stores its Options (they differ
  // from the stream default); a stream without them reads back the constructor's.
  TOwned<TForm> other(TCustomForm::CreateNew<TForm>(nullptr));
  auto* fresh = New<TBaseVirtualTree>(other.get());
  fresh->SetName("Fresh");
  fresh->SetParent(other.get());
  EXPECT_EQ(fresh->GetHeader()->OptionBits(), kHeaderOptionsOnCreate);
  EXPECT_EQ(fresh->GetHeader()->GetMainColumn(), NoColumn);
  TStringStream freshBinary;
  TWriter freshWriter(freshBinary);
  freshWriter.WriteRootComponent(other.get());
  const std::string freshText = ObjectBinaryToText(freshBinary.DataString());
  EXPECT_NE(freshText.find("Header.Options = [hoColumnResize, hoDrag]\r\n"), std::string::npos) << freshText;
  UnRegisterClass(TBaseVirtualTree::StaticClass());
}

// The header inside the tree's own frame: the band lies within the border
// width and bevel, answers as border, and is painted before the border.
TEST_F(HeaderWinTest, TheBandSitsInsideTheBorderWidthAndBevelAndIsPaintedBeforeTheBorder) {
  HWND window = tree_->WindowHandle();
  const COLORREF border = RGB(0, 160, 0), background = RGB(0, 0, 200);
  header_->SetBackground(TColor(std::int32_t(background)));
  tree_->SetBorderWidth(3);
  tree_->BevelKind = bkFlat;
  tree_->BevelInner = bvNone;
  tree_->BevelOuter = bvLowered;
  tree_->Colors()->Set<TVTColors::BorderColor>(TColor(std::int32_t(border)));
  SetWindowPos(window, nullptr, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOZORDER | SWP_FRAMECHANGED);
  // Client edge 2, bevel 1, border width 3, then the 17-pixel band.
  const RECT band = tree_->ComputeHeaderArea();
  EXPECT_EQ(band.top, 6);
  EXPECT_EQ(band.left, 6);
  EXPECT_EQ(band.bottom, 6 + 17);
  RECT bounds;
  GetWindowRect(window, &bounds);
  POINT origin{0, 0};
  ClientToScreen(window, &origin);
  EXPECT_EQ(origin.y - bounds.top, band.bottom);
  EXPECT_EQ(origin.x - bounds.left, 6);
  EXPECT_EQ(SendMessageW(window, WM_NCHITTEST, 0, MAKELPARAM(bounds.left + 150, bounds.top + band.top + 8)), HTBORDER);
  EXPECT_EQ(SendMessageW(window, WM_NCHITTEST, 0, MAKELPARAM(bounds.left + 150, bounds.top + band.bottom + 8)),
            HTCLIENT);
  // Non-client painting: the band right of the last column in the header's background, the border around it.
  RedrawWindow(window, nullptr, nullptr, RDW_FRAME | RDW_INVALIDATE | RDW_UPDATENOW);
  HDC dc = GetWindowDC(window);
  const COLORREF rest = GetPixel(dc, band.left + 280, band.top + 8);
  const COLORREF frame = GetPixel(dc, 3, band.top + 8);
  const COLORREF above = GetPixel(dc, band.left + 280, 4);
  ReleaseDC(window, dc);
  EXPECT_EQ(rest, background);
  EXPECT_EQ(frame, border);
  EXPECT_EQ(above, border);
}

// With columns every cell of a row has its before- and after-cell events,
// also the cells that show no selection.
TEST_F(HeaderWinTest, EveryCellOfARowHasItsCellEvents) {
  tree_->SetRootNodeCount(4);
  tree_->SetFocusedColumn(2);
  struct Recorder {
    std::vector<std::string> calls;
    void Before(TObject*, HDC, TVTNode* node, int column, RECT cell) {
      calls.push_back("b" + std::to_string(node->Index) + ":" + std::to_string(column) + "@" +
                      std::to_string(cell.left));
    }
    void After(TObject*, HDC, TVTNode* node, int column, RECT) {
      calls.push_back("a" + std::to_string(node->Index) + ":" + std::to_string(column));
    }
  } recorder;
  tree_->OnBeforeCellPaint = decltype(tree_->OnBeforeCellPaint)::Bind<&Recorder::Before>(&recorder);
  tree_->OnAfterCellPaint = decltype(tree_->OnAfterCellPaint)::Bind<&Recorder::After>(&recorder);
  static_cast<TVirtualTreeColumn*>(header_->GetColumns()->Items(2))->SetPosition(0);  // order 2, 0, 1
  RECT client;
  GetClientRect(tree_->WindowHandle(), &client);
  Canvas canvas(client.right, client.bottom);
  tree_->RenderTreeToCanvas(canvas.dc, client, 0x3F, POINT{0, 0});
  std::vector<std::string> expected;
  for (int row = 0; row < 4; ++row) {
    const std::string r = std::to_string(row);
    for (const auto& [column, left] : std::vector<std::pair<int, int>>{{2, 0}, {0, 60}, {1, 160}}) {
      expected.push_back("b" + r + ":" + std::to_string(column) + "@" + std::to_string(left));
      expected.push_back("a" + r + ":" + std::to_string(column));
    }
  }
  EXPECT_EQ(recorder.calls, expected);
}

// While the header tracks or drags a column the tree ignores right presses.
TEST_F(HeaderWinTest, MousePressesWaitWhileTheHeaderTracksOrDragsAColumn) {
  tree_->SetRootNodeCount(4);
  TVirtualTreeCore& tree = tree_->Tree();
  tree.OptionBits.Selection |= voRightClickSelect;
  HWND window = tree_->WindowHandle();
  TVTNode* row = tree.FirstNode();
  const TVTHitInfo hit = tree.HitTestPoint(30, 9, true);
  ASSERT_EQ(hit.HitNode, row);
  for (std::uint8_t busy : {kHeaderTracking, kHeaderDragging}) {
    header_->States = busy;
    SendMessageW(window, WM_RBUTTONDOWN, MK_RBUTTON, MAKELPARAM(30, 9));
    SendMessageW(window, WM_RBUTTONUP, 0, MAKELPARAM(30, 9));
    EXPECT_FALSE(row->States & vsSelected) << int(busy);
  }
  header_->States = 0;
  SendMessageW(window, WM_RBUTTONDOWN, MK_RBUTTON, MAKELPARAM(30, 9));
  SendMessageW(window, WM_RBUTTONUP, 0, MAKELPARAM(30, 9));
  EXPECT_TRUE(row->States & vsSelected);
}

}  // namespace
