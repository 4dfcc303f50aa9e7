// The tree view's unit under Wine: start-up and shut-down, the image lists
// from the "VT_" strips, the GDI text drawing and the blending on DIB sections.
#include <gtest/gtest.h>

#include <ole2.h>

#include <string>
#include <thread>
#include <vector>

#include "Forms.h"
#include "StdActns.h"
#include "SysUtils.h"
#include "Themes.h"
#include "VirtualTreesWin.h"
#include "Win32Platform.h"

namespace {

class VirtualTreesWinTest : public ::testing::Test {
 protected:
  void SetUp() override { InitWin32Platform(); }
};

std::string FormatName(std::uint16_t id) {
  if (id == CF_TEXT) return "CF_TEXT";
  if (id == CF_UNICODETEXT) return "CF_UNICODETEXT";
  char name[256] = {};
  GetClipboardFormatNameA(id, name, sizeof name);
  return name;
}

TEST_F(VirtualTreesWinTest, StartUpMakesTheSharedResourcesAndShutDownFreesThemTwice) {
  for (int round = 0; round < 2; ++round) {
    SCOPED_TRACE(round);
    ASSERT_FALSE(VirtualTreesInitialized());
    InitVirtualTrees();
    InitVirtualTrees();  // counted: the second call does nothing
    ASSERT_TRUE(VirtualTreesInitialized());

    EXPECT_NE(CF_VTREFERENCE, 0);
    EXPECT_EQ(FormatName(CF_VTREFERENCE), "Virtual Tree Reference");
    std::vector<std::string> names;
    for (const TFormatEtc& f : ClipboardFormats()->CollectFormatsForClass(TCustomVirtualStringTree::StaticClass()))
      names.push_back(FormatName(f.cfFormat));
    EXPECT_EQ(names, (std::vector<std::string>{"Virtual Tree Data", "HTML Format", "Rich Text Format Without Objects",
                                               "Rich Text Format", "CSV", "CF_UNICODETEXT", "CF_TEXT"}));
    EXPECT_EQ(ClipboardFormats()->CollectFormatsForClass(TBaseVirtualTree::StaticClass()).size(), 1u);

    const int cells[kTreeImageListCount] = {25, 25, 25, 25, 25, 25, 9};
    for (int i = 0; i < kTreeImageListCount; ++i) {
      TImageList* list = TreeImageList(i);
      ASSERT_NE(list, nullptr) << i;
      EXPECT_EQ(list->Count(), cells[i]) << TreeImageListResource(i);
      EXPECT_EQ(list->GetWidth(), 16);
      EXPECT_EQ(list->GetHeight(), 16);
    }
    EXPECT_EQ(TreeImageList(7), nullptr);
    EXPECT_TRUE(MMXAvailable());
    EXPECT_EQ(IsWinNT, Win32Platform == PlatformNT);
    EXPECT_EQ(IsWinXP, IsNTVersionAtLeast(5, 1));
    EXPECT_EQ(ThemeLibraryLoaded(), IsWinXP);

    DoneVirtualTrees();
    EXPECT_TRUE(VirtualTreesInitialized()) << "one start-up is still open";
    DoneVirtualTrees();
    EXPECT_FALSE(VirtualTreesInitialized());
    EXPECT_EQ(ClipboardFormats(), nullptr);
    EXPECT_EQ(CF_VIRTUALTREE, 0);
    for (int i = 0; i < kTreeImageListCount; ++i) EXPECT_EQ(TreeImageList(i), nullptr);
    EXPECT_FALSE(ThemeLibraryLoaded());
    // OLE is left uninitialised on this thread: a new initialisation is the first.
    EXPECT_EQ(OleInitialize(nullptr), S_OK);
    OleUninitialize();
    DoneVirtualTrees();  // unbalanced: nothing happens
  }
}

TEST_F(VirtualTreesWinTest, AFailingStartUpUndoesItsStepsAndRaises) {
  // A thread whose COM apartment is multithreaded refuses OleInitialize.
  bool raised = false, clean = false;
  std::thread worker([&] {
    CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    try {
      InitVirtualTrees();
    } catch (const EOSError&) {
      raised = true;
    }
    clean = !VirtualTreesInitialized() && !ClipboardFormats() && !TreeImageList(0) && CF_VTREFERENCE == 0;
    CoUninitialize();
  });
  worker.join();
  EXPECT_TRUE(raised);
  EXPECT_TRUE(clean);
  InitVirtualTrees();  // and a later start-up works
  EXPECT_TRUE(VirtualTreesInitialized());
  DoneVirtualTrees();
}

// A 32-bit top-down DIB section selected into a memory DC.
struct Dib {
  Dib(int w, int h, std::uint32_t fill) : width(w), height(h) {
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = w;
    info.bmiHeader.biHeight = -h;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    dc = CreateCompatibleDC(nullptr);
    bitmap = CreateDIBSection(dc, &info, DIB_RGB_COLORS, reinterpret_cast<void**>(&bits), nullptr, 0);
    old = SelectObject(dc, bitmap);
    for (int i = 0; i < w * h; ++i) bits[i] = fill;
  }
  ~Dib() {
    SelectObject(dc, old);
    DeleteObject(bitmap);
    DeleteDC(dc);
  }
  std::uint32_t& At(int x, int y) { return bits[y * width + x]; }
  int width, height;
  HDC dc;
  HBITMAP bitmap;
  HGDIOBJ old;
  std::uint32_t* bits = nullptr;
};

std::uint32_t Pixel(COLORREF c) {
  return (GetRValue(c) << 16) | (GetGValue(c) << 8) | GetBValue(c);
}

TEST_F(VirtualTreesWinTest, StripsAreMaskedByTheirTopLeftPixelAndRemappedToSystemColours) {
  InitVirtualTrees();
  // Cell 9 (an unchecked box) of the light strip over a red background: the
  // corner is masked, the inside is the window colour, the frame's shadow the
  // button shadow colour.
  Dib target(16, 16, 0xFF0000);
  ImageList_Draw(LightCheckImages->Handle(), 9, target.dc, 0, 0, ILD_TRANSPARENT);
  GdiFlush();
  EXPECT_EQ(target.At(0, 0) & 0xFFFFFF, 0xFF0000u);
  EXPECT_EQ(target.At(7, 7) & 0xFFFFFF, Pixel(GetSysColor(COLOR_WINDOW)));
  EXPECT_EQ(target.At(1, 1) & 0xFFFFFF, Pixel(GetSysColor(COLOR_BTNSHADOW)));

  // Refilling a list from a missing resource leaves it empty; a list reloads.
  TOwned<TImageList> list(New<TImageList>(nullptr));
  LoadImageListStrip(list.get(), "VT_CHECK_LIGHT", true);
  EXPECT_EQ(list->Count(), 25);
  LoadImageListStrip(list.get(), "VT_NO_SUCH_STRIP", true);
  EXPECT_EQ(list->Count(), 0);
  LoadImageListStrip(list.get(), "VT_UTILITIES", false);
  EXPECT_EQ(list->Count(), 9);
  ReloadTreeImageLists();
  EXPECT_EQ(UtilityImages->Count(), 9);
  EXPECT_EQ(XPImages->Count(), 25);
  DoneVirtualTrees();
}

TEST_F(VirtualTreesWinTest, ThePanningCursorsAndButtonsAreThere) {
  const char* cursors[] = {"VT_MOVEALL", "VT_MOVEEW", "VT_MOVENS", "VT_MOVEN",  "VT_MOVES", "VT_MOVEE",
                           "VT_MOVEW",   "VT_MOVENE", "VT_MOVENW", "VT_MOVESE", "VT_MOVESW"};
  for (const char* name : cursors) {
    HCURSOR cursor = LoadCursorA(GetModuleHandleA(nullptr), name);
    EXPECT_NE(cursor, nullptr) << name;
    ICONINFO info{};
    if (cursor && GetIconInfo(cursor, &info)) {
      EXPECT_EQ(info.xHotspot, 16u) << name;
      EXPECT_EQ(info.yHotspot, 16u) << name;
      DeleteObject(info.hbmMask);
      if (info.hbmColor) DeleteObject(info.hbmColor);
    }
  }
  for (const char* name : {"VT_XPBUTTONPLUS", "VT_XPBUTTONMINUS", "VT_MOVEALL", "VT_MOVEEW", "VT_MOVENS"}) {
    HBITMAP bitmap = LoadBitmapA(GetModuleHandleA(nullptr), name);
    ASSERT_NE(bitmap, nullptr) << name;
    BITMAP info{};
    GetObjectA(bitmap, sizeof info, &info);
    EXPECT_EQ(info.bmWidth, name[3] == 'X' ? 9 : 32) << name;
    DeleteObject(bitmap);
  }
}

TEST_F(VirtualTreesWinTest, ColoursForImageLists) {
  struct Case {
    TColor colour;
    std::uint32_t expected;
  } cases[] = {
      {clNone, 0xFFFFFFFFu}, {clDefault, 0xFF000000u}, {clRed, 0x0000FFu}, {clBtnFace, GetSysColor(COLOR_BTNFACE)}};
  for (const Case& c : cases) EXPECT_EQ(ColorToImageListRGB(c.colour), c.expected) << std::hex << c.colour;
}

// Rows of the DIB that hold a pixel other than the background.
std::vector<int> InkRows(Dib& d, std::uint32_t background, int& leftmost, int& rightmost) {
  std::vector<int> rows;
  leftmost = d.width;
  rightmost = -1;
  for (int y = 0; y < d.height; ++y) {
    bool ink = false;
    for (int x = 0; x < d.width; ++x)
      if ((d.At(x, y) & 0xFFFFFF) != background) {
        ink = true;
        leftmost = std::min(leftmost, x);
        rightmost = std::max(rightmost, x);
      }
    if (ink) rows.push_back(y);
  }
  return rows;
}

TEST_F(VirtualTreesWinTest, DrawWideTextLinesDrawsRightAlignedLinesOneLineHeightApart) {
  Dib d(200, 100, 0xFFFFFF);
  HGDIOBJ font = SelectObject(d.dc, GetStockObject(DEFAULT_GUI_FONT));
  SetTextColor(d.dc, RGB(0, 0, 0));
  SetBkMode(d.dc, TRANSPARENT);
  TEXTMETRICA tm{};
  GetTextMetricsA(d.dc, &tm);
  const int lineHeight = tm.tmHeight;
  const std::u16string text = u"Wide\r\nlines\u2028drawn";

  RECT measure{10, 5, 10, 5};
  DrawWideTextLines(d.dc, text, true, DT_CALCRECT, measure);
  EXPECT_EQ(measure.bottom, 5 + 3 * lineHeight);
  SIZE widest{};
  GetTextExtentPoint32W(d.dc, L"lines", 5, &widest);
  EXPECT_GE(measure.right - measure.left, widest.cx);
  EXPECT_LT(measure.right - measure.left, 200);
  RECT noWidth{10, 5, 77, 5};
  DrawWideTextLines(d.dc, text, false, DT_CALCRECT, noWidth);
  EXPECT_EQ(noWidth.right, 77) << "without measure width the right edge stays";
  GdiFlush();
  for (int i = 0; i < 200 * 100; ++i) ASSERT_EQ(d.bits[i] & 0xFFFFFF, 0xFFFFFFu) << "measuring draws nothing";

  RECT r{0, 10, 180, 100};
  DrawWideTextLines(d.dc, text, false, DT_RIGHT, r);
  GdiFlush();
  int left = 0, right = 0;
  const std::vector<int> rows = InkRows(d, 0xFFFFFF, left, right);
  ASSERT_FALSE(rows.empty());
  // Three bands, each within its own line height.
  int bands[3] = {0, 0, 0};
  for (int y : rows) {
    const int band = (y - 10) / lineHeight;
    ASSERT_GE(band, 0);
    ASSERT_LT(band, 3) << "ink below the third line at " << y;
    ++bands[band];
  }
  for (int b : bands) EXPECT_GT(b, 0);
  EXPECT_LE(right, 179) << "right-aligned to the right edge";
  EXPECT_GE(right, 170);
  EXPECT_GT(left, 100);
  SelectObject(d.dc, font);
}

TEST_F(VirtualTreesWinTest, DrawingStopsAtTheBottomAndShorteningFitsTheFont) {
  Dib d(120, 40, 0xFFFFFF);
  SelectObject(d.dc, GetStockObject(DEFAULT_GUI_FONT));
  SetBkMode(d.dc, TRANSPARENT);
  TEXTMETRICA tm{};
  GetTextMetricsA(d.dc, &tm);
  RECT r{0, 0, 120, tm.tmHeight};  // room for one line only
  DrawWideTextLines(d.dc, u"first\nsecond\nthird", false, 0, r);
  GdiFlush();
  int left = 0, right = 0;
  for (int y : InkRows(d, 0xFFFFFF, left, right)) EXPECT_LT(y, tm.tmHeight);

  const std::u16string shortened = ShortenWideText(d.dc, u"A caption far too wide for its column", 60, 0, false);
  ASSERT_GE(shortened.size(), 3u);
  EXPECT_EQ(shortened.substr(shortened.size() - 3), u"...");
  SIZE size{};
  GetTextExtentPoint32W(d.dc, reinterpret_cast<const wchar_t*>(shortened.c_str()), static_cast<int>(shortened.size()),
                        &size);
  EXPECT_LE(size.cx, 60);
}

TEST_F(VirtualTreesWinTest, AlphaBlendRectBlendsDibSectionsAndClips) {
  Dib src(8, 8, 0x00FF0000), dst(8, 8, 0x000000FF);
  AlphaBlendRect(src.dc, dst.dc, RECT{0, 0, 4, 4}, POINT{6, 6}, 0, 128, 0);  // clipped to 2 x 2
  EXPECT_EQ(dst.At(6, 6), 0x007F007Fu);                                      // blue: 255 + floor(-255 * 128 / 256)
  EXPECT_EQ(dst.At(7, 7), 0x007F007Fu);
  EXPECT_EQ(dst.At(5, 5), 0x000000FFu);
  // Mode 3 needs no source: a colour at constant alpha.
  AlphaBlendRect(nullptr, dst.dc, RECT{0, 0, 2, 1}, POINT{0, 0}, 3, 256, RGB(0x11, 0x22, 0x33));
  EXPECT_EQ(dst.At(0, 0), 0x00112233u);
  EXPECT_EQ(dst.At(1, 0), 0x00112233u);
  EXPECT_EQ(dst.At(2, 0), 0x000000FFu);
  // Without a DIB section in the source, or for an empty rectangle: nothing.
  HDC plain = CreateCompatibleDC(nullptr);
  AlphaBlendRect(plain, dst.dc, RECT{0, 0, 8, 8}, POINT{0, 0}, 0, 255, 0);
  DeleteDC(plain);
  AlphaBlendRect(src.dc, dst.dc, RECT{3, 3, 3, 8}, POINT{0, 0}, 0, 255, 0);
  EXPECT_EQ(dst.At(4, 4), 0x000000FFu);
}

TEST_F(VirtualTreesWinTest, AlphaBlendRectFindsTheRowsOfTopDownAndBottomUpSections) {
  // The system reports a positive height for both kinds: the rows are found by where pixel 0, 0 lives.
  for (int height : {8, -8}) {
    SCOPED_TRACE(height);
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = 8;
    info.bmiHeader.biHeight = height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    HDC dc = CreateCompatibleDC(nullptr);
    std::uint32_t* bits = nullptr;
    HBITMAP bitmap = CreateDIBSection(dc, &info, DIB_RGB_COLORS, reinterpret_cast<void**>(&bits), nullptr, 0);
    HGDIOBJ old = SelectObject(dc, bitmap);
    for (int i = 0; i < 64; ++i) bits[i] = 0;
    SetViewportOrgEx(dc, 3, 2, nullptr);  // the probe works in device pixels
    AlphaBlendRect(nullptr, dc, RECT{0, 0, 8, 1}, POINT{0, 0}, 3, 256, RGB(0xFF, 0, 0));
    const int topRow = height < 0 ? 0 : 7;  // where y = 0 is in memory
    for (int y = 0; y < 8; ++y) EXPECT_EQ(bits[y * 8 + 5], y == topRow ? 0x00FF0000u : 0u) << "memory row " << y;
    SetViewportOrgEx(dc, 0, 0, nullptr);
    EXPECT_EQ(GetPixel(dc, 5, 0), RGB(0xFF, 0, 0));
    SelectObject(dc, old);
    DeleteObject(bitmap);
    DeleteDC(dc);
  }
}

}  // namespace

namespace {

TEST_F(VirtualTreesWinTest, ATreeOnAFormHasItsConstructionDefaults) {
  InitVirtualTrees();
  {
    TOwned<TForm> form(New<TForm>(Application));
    auto* tree = New<TBaseVirtualTree>(form.get());
    tree->SetParent(form.get());
    EXPECT_EQ(tree->GetWidth(), 200);
    EXPECT_EQ(tree->GetHeight(), 100);
    EXPECT_TRUE(tree->GetTabStop());
    EXPECT_FALSE(tree->GetParentColor());
    EXPECT_EQ(tree->GetDefaultNodeHeight(), 18);
    EXPECT_EQ(tree->GetIndent(), 18);
    EXPECT_TRUE(tree->ControlStyle.Contains(csOpaque));
    EXPECT_FALSE(tree->ControlStyle.Contains(csSetCaption));
    EXPECT_EQ(tree->Tree().NodeDataSize(), -1);
    EXPECT_EQ(tree->Tree().FocusedColumn(), -1);
    EXPECT_EQ(tree->Tree().LastSelectionLevel(), -1);
    ASSERT_NE(tree->TreeOptions(), nullptr);
    EXPECT_EQ(tree->TreeOptions()->PaintOptions(), kDefaultPaintOptions);
    EXPECT_EQ(tree->TreeOptions()->MiscOptions(), kDefaultMiscOptions);
    EXPECT_EQ(tree->Colors()->ColorAt(TVTColors::BorderColor), clBtnFace);
    EXPECT_EQ(tree->Colors()->ColorAt(TVTColors::HotColor), clWindowText);
    EXPECT_EQ(tree->ScrollBarOptions()->GetScrollBars(), ssBoth);
    EXPECT_EQ(tree->ScrollBarOptions()->VerticalIncrement, 20);
    tree->SetRootNodeCount(5000);
    EXPECT_EQ(OwnerTreeOfNode(tree->Tree().FirstNodeRaw()), tree);
    EXPECT_EQ(tree->Tree().VisibleCount(), 5000u);
  }
  DoneVirtualTrees();
}

TEST_F(VirtualTreesWinTest, TheFormHandsTheEditActionsToItsTree) {
  InitVirtualTrees();
  {
    TOwned<TForm> form(New<TForm>(Application));
    auto* tree = New<TBaseVirtualTree>(form.get());
    tree->SetParent(form.get());
    tree->SetRootNodeCount(5);
    tree->Tree().SetMultiSelect(true);
    TOwned<TEditSelectAll> all(New<TEditSelectAll>(nullptr));
    TOwned<TEditDelete> del(New<TEditDelete>(nullptr));
    const auto send = [&](UINT msg, TBasicAction* action) {
      return SendMessageA(form->Handle(), msg, 0, reinterpret_cast<LPARAM>(action));
    };
    EXPECT_EQ(send(CM_ACTIONUPDATE, del.get()), 1);
    EXPECT_FALSE(del->GetEnabled());
    EXPECT_EQ(send(CM_ACTIONEXECUTE, all.get()), 1);
    EXPECT_EQ(tree->Tree().SelectedCount(), 5u);
    EXPECT_EQ(send(CM_ACTIONUPDATE, del.get()), 1);
    EXPECT_TRUE(del->GetEnabled());
    EXPECT_EQ(send(CM_ACTIONEXECUTE, del.get()), 1);
    EXPECT_EQ(tree->Tree().RootChildCount(), 0u);
    TOwned<TAction> other(New<TAction>(nullptr));
    EXPECT_EQ(send(CM_ACTIONEXECUTE, other.get()), 0);  // nobody on the form takes it
  }
  DoneVirtualTrees();
}

TEST_F(VirtualTreesWinTest, TwoTreesLeaveNoWorkerBehind) {
  EXPECT_EQ(WorkerThread(), nullptr);
  TBaseVirtualTree* a = New<TBaseVirtualTree>(nullptr);
  TBaseVirtualTree* b = New<TCustomVirtualStringTree>(nullptr);
  EXPECT_NE(WorkerThread(), nullptr);
  EXPECT_EQ(WorkerThreadReferences(), 2);
  a->SetRootNodeCount(10000);  // keeps the worker busy with a cache
  b->SetRootNodeCount(3);
  a->Free();
  EXPECT_NE(WorkerThread(), nullptr);
  b->Free();
  EXPECT_EQ(WorkerThread(), nullptr);
  EXPECT_EQ(WorkerEvent(), nullptr);
}

// Whether the window has a pending repaint; the pending one is taken away.
bool TakeRepaint(TBaseVirtualTree* tree) {
  RECT r;
  const bool pending = GetUpdateRect(tree->WindowHandle(), &r, FALSE);
  ValidateRect(tree->WindowHandle(), nullptr);
  return pending;
}

TEST_F(VirtualTreesWinTest, ImageListChangesRepaintEveryTreeThatShowsThem) {
  InitVirtualTrees();
  {
    TOwned<TForm> form(New<TForm>(Application));
    auto* a = New<TBaseVirtualTree>(form.get());
    auto* b = New<TBaseVirtualTree>(form.get());
    a->SetParent(form.get());
    b->SetParent(form.get());
    form->Show();
    auto* shared = New<TImageList>(form.get());
    a->SetImages(shared);
    b->SetStateImages(shared);
    a->SetCustomCheckImages(shared);
    TakeRepaint(a);
    TakeRepaint(b);
    TOwned<TBitmap> bmp(New<TBitmap>());
    bmp->SetDib(TDib(16, 16, 24));
    shared->AddMasked(bmp.get(), clFuchsia);
    EXPECT_TRUE(TakeRepaint(a));
    EXPECT_TRUE(TakeRepaint(b));

    // Unlinked lists no longer reach the tree.
    b->SetStateImages(nullptr);
    TakeRepaint(b);
    shared->Clear();
    EXPECT_TRUE(TakeRepaint(a));
    EXPECT_FALSE(TakeRepaint(b));

    // Removing the list from the form makes the trees forget it, and repaints them.
    b->SetImages(shared);
    TakeRepaint(a);
    TakeRepaint(b);
    shared->Free();
    EXPECT_EQ(a->GetImages(), nullptr);
    EXPECT_EQ(a->GetCustomCheckImages(), nullptr);
    EXPECT_EQ(b->GetImages(), nullptr);
    EXPECT_TRUE(TakeRepaint(a));
    EXPECT_TRUE(TakeRepaint(b));

    // The check image kinds pick the unit's lists, others the custom list.
    EXPECT_EQ(a->CheckImages(), LightCheckImages);
    a->SetCheckImageKind(4);
    EXPECT_EQ(a->CheckImages(), FlatImages);
    EXPECT_TRUE(TakeRepaint(a));
    a->SetCheckImageKind(6);
    EXPECT_EQ(a->CheckImages(), nullptr);
    TakeRepaint(a);

    // Writers repaint only on a change; the border style rebuilds the window.
    a->SetMargin(4);
    EXPECT_FALSE(TakeRepaint(a));
    a->SetMargin(6);
    EXPECT_TRUE(TakeRepaint(a));
    EXPECT_TRUE(GetWindowLongA(a->WindowHandle(), GWL_EXSTYLE) & WS_EX_CLIENTEDGE);
    a->SetBorderStyle(bsNone);
    EXPECT_FALSE(GetWindowLongA(a->WindowHandle(), GWL_EXSTYLE) & WS_EX_CLIENTEDGE);
    // No header is shown yet: its area is empty.
    const RECT header = a->ComputeHeaderArea();
    EXPECT_TRUE(IsRectEmpty(&header));
    EXPECT_FALSE(a->PopupApplies(nullptr, -1, POINT{0, 0}));
  }
  DoneVirtualTrees();
}

TEST_F(VirtualTreesWinTest, ScrollBarsFollowTheNodesAndOffsetsStayInTheirRange) {
  InitVirtualTrees();
  {
    TOwned<TForm> form(New<TForm>(Application));
    form->SetBounds(0, 0, 400, 400);
    auto* tree = New<TBaseVirtualTree>(form.get());
    tree->SetParent(form.get());
    tree->SetBounds(0, 0, 300, 200);
    form->Show();
    tree->SetRootNodeCount(1000);
    HWND window = tree->WindowHandle();
    RECT client;
    GetClientRect(window, &client);
    const int clientHeight = client.bottom;
    ASSERT_GT(clientHeight, 100);
    SCROLLINFO si{};
    si.cbSize = sizeof si;
    si.fMask = SIF_ALL;
    ASSERT_TRUE(GetScrollInfo(window, SB_VERT, &si));
    EXPECT_EQ(si.nMin, 0);
    EXPECT_EQ(si.nMax, 1000 * 18);  // the root's total height below its own row
    EXPECT_EQ(int(si.nPage), clientHeight + 1);
    EXPECT_EQ(si.nPos, 0);

    // An offset far past the end stops at the last page, as the bottom of the bar.
    tree->SetOffsetY(-10000000);
    EXPECT_EQ(tree->GetOffsetY(), clientHeight - 1000 * 18);
    si.fMask = SIF_POS;
    GetScrollInfo(window, SB_VERT, &si);
    EXPECT_EQ(si.nPos, -tree->GetOffsetY());
    tree->SetOffsetY(500);
    EXPECT_EQ(tree->GetOffsetY(), 0);

    // Node 900 comes into view: its row lies inside the client area.
    TVTNode* node = tree->Tree().FirstNodeRaw();
    for (int i = 0; i < 900; ++i) node = node->NextSibling;
    EXPECT_TRUE(tree->Tree().BringNodeIntoView(node, false, false));
    const TVTRect row = tree->Tree().ComputeNodeCellRect(node, NoColumn, false, false);
    EXPECT_GE(row.Top, 0);
    EXPECT_LE(row.Bottom, clientHeight);
    GetScrollInfo(window, SB_VERT, &si);
    EXPECT_EQ(si.nPos, -tree->GetOffsetY());

    // Fewer rows than fit: no bar; with AlwaysVisible a disabled one.
    tree->SetRootNodeCount(3);
    EXPECT_EQ(tree->GetOffsetY(), 0);
    EXPECT_FALSE(GetWindowLongA(window, GWL_STYLE) & WS_VSCROLL);
    tree->ScrollBarOptions()->SetAlwaysVisible(true);
    window = tree->WindowHandle();
    EXPECT_TRUE(GetWindowLongA(window, GWL_STYLE) & WS_VSCROLL);

    // Update blocks switch the window's redrawing off and on.
    tree->Tree().BeginUpdate();
    tree->Tree().BeginUpdate();
    tree->Tree().EndUpdate();
    tree->Tree().EndUpdate();
    EXPECT_EQ(tree->Tree().UpdateCount(), 0);

    // Another tree takes the settings through the writers.
    auto* copy = New<TBaseVirtualTree>(form.get());
    copy->SetParent(form.get());
    tree->SetIndent(24);
    tree->SetMargin(7);
    tree->SetBorderStyle(bsNone);
    copy->Assign(tree);
    EXPECT_EQ(copy->GetIndent(), 24);
    EXPECT_EQ(copy->GetMargin(), 7);
    EXPECT_EQ(copy->GetBorderStyle(), bsNone);
    EXPECT_EQ(copy->GetRootNodeCount(), 3u);
    EXPECT_TRUE(copy->ScrollBarOptions()->GetAlwaysVisible());
  }
  DoneVirtualTrees();
}

}  // namespace
