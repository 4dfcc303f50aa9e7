// The tree's window under Wine: the styles it is made with, and the keyboard,
// scroll-bar, wheel and dialog-code messages sent to it.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "ExtCtrls.h"
#include "Forms.h"
#include "PaintCanvas.h"
#include "Themes.h"
#include "TreeOnForm.h"
#include "VirtualTreesWin.h"
#include "Win32Platform.h"

namespace {

constexpr int kRow = 18;

class TreeWindowTest : public TreeOnFormTest<TBaseVirtualTree> {
 protected:
  HWND Window() { return tree_->WindowHandle(); }
  int ClientHeight() {
    RECT r;
    GetClientRect(Window(), &r);
    return r.bottom;
  }
  LRESULT Key(WPARAM key) {
    SendMessageW(Window(), WM_KEYDOWN, key, 1);
    return SendMessageW(Window(), WM_KEYUP, key, LPARAM(0xC0000001u));
  }
  int IndexOfFocused() {
    TVTNode* focused = tree_->Tree().FocusedNode();
    return focused ? int(focused->Index) : -1;
  }
};

TEST_F(TreeWindowTest, StylesFollowTheBorderCtl3DScrollBarsAndReadingOrder) {
  const LONG style = GetWindowLongW(Window(), GWL_STYLE);
  const LONG exStyle = GetWindowLongW(Window(), GWL_EXSTYLE);
  EXPECT_EQ(style & (WS_CLIPCHILDREN | WS_CLIPSIBLINGS), WS_CLIPCHILDREN | WS_CLIPSIBLINGS);
  EXPECT_FALSE(style & WS_BORDER);
  EXPECT_TRUE(exStyle & WS_EX_CLIENTEDGE);
  EXPECT_FALSE(exStyle & WS_EX_LAYOUTRTL);
  // Full repaint on resize is on by default: the class redraws on size.
  EXPECT_EQ(GetClassLongW(Window(), GCL_STYLE) & (CS_HREDRAW | CS_VREDRAW), UINT(CS_HREDRAW | CS_VREDRAW));

  // Without Ctl3D the single border is a plain border; without a border neither.
  tree_->SetCtl3D(false);
  tree_->RecreateWnd();
  EXPECT_TRUE(GetWindowLongW(Window(), GWL_STYLE) & WS_BORDER);
  EXPECT_FALSE(GetWindowLongW(Window(), GWL_EXSTYLE) & WS_EX_CLIENTEDGE);
  tree_->SetBorderStyle(bsNone);
  EXPECT_FALSE(GetWindowLongW(Window(), GWL_STYLE) & WS_BORDER);
  EXPECT_FALSE(GetWindowLongW(Window(), GWL_EXSTYLE) & WS_EX_CLIENTEDGE);

  // Right to left mirrors the layout and moves the scroll bar.
  tree_->SetBiDiMode(bdRightToLeft);
  tree_->RecreateWnd();
  EXPECT_EQ(GetWindowLongW(Window(), GWL_EXSTYLE) & 0x00406000, 0x00406000);
}

TEST_F(TreeWindowTest, DialogCodeAndNoErase) {
  EXPECT_EQ(SendMessageW(Window(), WM_GETDLGCODE, 0, 0), 0x81);
  tree_->Keyboard().WantTabs = true;
  EXPECT_EQ(SendMessageW(Window(), WM_GETDLGCODE, 0, 0), 0x83);
  HDC dc = GetDC(Window());
  EXPECT_EQ(SendMessageW(Window(), WM_ERASEBKGND, WPARAM(dc), 0), 1);
  ReleaseDC(Window(), dc);
}

TEST_F(TreeWindowTest, KeysMoveTheFocusExpandAndScroll) {
  tree_->SetRootNodeCount(50);
  TVirtualTreeCore& tree = tree_->Tree();
  TVTNode* first = tree.FirstNode();
  tree.SetChildCount(first, 3);
  ASSERT_FALSE(first->States & vsExpanded);
  const int clientHeight = ClientHeight();
  ASSERT_GT(clientHeight, 5 * kRow);

  Key(VK_DOWN);  // nothing focused: the first node
  EXPECT_EQ(tree.FocusedNode(), first);
  Key(VK_RIGHT);  // expands
  EXPECT_TRUE(first->States & vsExpanded);
  EXPECT_EQ(tree.FocusedNode(), first);
  Key(VK_RIGHT);  // into the first child
  EXPECT_EQ(tree.FocusedNode(), first->FirstChild);
  Key(VK_DOWN);
  EXPECT_EQ(tree.FocusedNode(), first->FirstChild->NextSibling);
  Key(VK_LEFT);  // to the parent
  EXPECT_EQ(tree.FocusedNode(), first);
  Key(VK_LEFT);  // collapses
  EXPECT_FALSE(first->States & vsExpanded);
  EXPECT_EQ(tree.Selection(), std::vector<TVTNode*>{first});

  Key(VK_END);
  EXPECT_EQ(IndexOfFocused(), 49);
  EXPECT_EQ(tree_->GetOffsetY(), clientHeight - 50 * kRow);
  // Page Up walks back over a client height of rows.
  Key(VK_PRIOR);
  const int rows = (clientHeight + kRow - 1) / kRow;
  EXPECT_EQ(IndexOfFocused(), 49 - rows);
  EXPECT_EQ(tree.Selection().size(), 1u);
}

TEST_F(TreeWindowTest, WheelAndScrollBarCodes) {
  tree_->SetRootNodeCount(50);
  const int clientHeight = ClientHeight();
  // A delta of -240 is two notches down: two default rows.
  SendMessageW(Window(), WM_MOUSEWHEEL, MAKEWPARAM(0, WORD(-240)), 0);
  EXPECT_EQ(tree_->GetOffsetY(), -2 * kRow);
  SendMessageW(Window(), WM_MOUSEWHEEL, MAKEWPARAM(0, WORD(120)), 0);
  EXPECT_EQ(tree_->GetOffsetY(), -kRow);
  SendMessageW(Window(), WM_VSCROLL, SB_LINEDOWN, 0);
  EXPECT_EQ(tree_->GetOffsetY(), -kRow - 20);
  SendMessageW(Window(), WM_VSCROLL, SB_BOTTOM, 0);
  EXPECT_EQ(tree_->GetOffsetY(), clientHeight - 50 * kRow);
  SCROLLINFO si{};
  si.cbSize = sizeof si;
  si.fMask = SIF_POS;
  GetScrollInfo(Window(), SB_VERT, &si);
  EXPECT_EQ(si.nPos, 50 * kRow - clientHeight);
  SendMessageW(Window(), WM_VSCROLL, SB_PAGEUP, 0);
  EXPECT_EQ(tree_->GetOffsetY(), 2 * clientHeight - 50 * kRow);
  SendMessageW(Window(), WM_VSCROLL, SB_TOP, 0);
  EXPECT_EQ(tree_->GetOffsetY(), 0);
  SendMessageW(Window(), WM_VSCROLL, SB_ENDSCROLL, 0);
  EXPECT_EQ(tree_->GetOffsetY(), 0);
  EXPECT_FALSE(tree_->Tree().HasTreeState(tsThumbTracking));
}

}  // namespace

namespace {

// A tree whose labels are 60 pixels wide, so that selection and focus show.
class TWideTree : public TBaseVirtualTree {
  FW_CLASS(TWideTree, TBaseVirtualTree)
 public:
  explicit TWideTree(TComponent* owner) : TBaseVirtualTree(owner) {}
  using TBaseVirtualTree::PaintBorder;

 protected:
  int MeasureNodeWidth(TVTNode*, int) override { return 60; }
};

// clang-format off
FW_BEGIN_CLASS(TWideTree)
FW_END_CLASS
// clang-format on

class TreePaintTest : public TreeOnFormTest<TWideTree> {};

// Rows: T0 (expanded, two children C0 C1), T1, T2, T3 (collapsed, children),
// T4 (selected, focused), T5 T6 T7 (check boxes 0, 2, 4), ... 50 top-level
// nodes. Margin 4, indent 18, the root shown: a top-level node's content
// starts at 22 and its button and tree line sit at x 13.
TEST_F(TreePaintTest, PrintClientDrawsSelectionFocusLinesButtonsAndChecks) {
  TVirtualTreeCore& tree = tree_->Tree();
  tree_->SetRootNodeCount(50);
  std::vector<TVTNode*> top;
  for (TVTNode* n = tree.FirstNode(); n; n = tree.NextSiblingOf(n)) top.push_back(n);
  ASSERT_EQ(top.size(), 50u);
  tree.SetChildCount(top[0], 2);
  tree.ToggleExpansion(top[0]);
  tree.SetChildCount(top[3], 2);
  tree.OptionBits.Paint |= voPopupMode;  // selection and focus look active without the focus
  tree.OptionBits.Misc |= voCheckSupport;
  for (int i = 0; i < 3; ++i) {
    tree.SetCheckType(top[std::size_t(5 + i)], ctCheckBox);
    top[std::size_t(5 + i)]->CheckState = std::uint8_t(2 * i);
  }
  tree.SetFocusedNode(top[4]);
  tree.SetNodeSelected(top[4], true);
  // The classic look: no themed painting.
  tree.OptionBits.Paint &= std::uint16_t(~voPaintThemed);
  SendMessageW(tree_->WindowHandle(), WM_THEMECHANGED, 0, 0);
  ASSERT_FALSE(tree.HasTreeState(tsUseThemes));

  RECT client;
  GetClientRect(tree_->WindowHandle(), &client);
  Canvas canvas(client.right, client.bottom);
  SendMessageW(tree_->WindowHandle(), WM_PRINTCLIENT, WPARAM(canvas.dc), PRF_CLIENT);
  GdiFlush();

  const COLORREF back = ColorToRGB(tree_->GetColor());
  const COLORREF selection = ColorToRGB(tree_->Colors()->Get<TVTColors::FocusedSelectionColor>());
  const COLORREF lines = ColorToRGB(tree_->Colors()->Get<TVTColors::TreeLineColor>());
  const COLORREF glyph = ColorToRGB(tree_->GetFont()->GetColor());
  ASSERT_NE(back, selection);
  ASSERT_NE(back, lines);
  // Only the visible rows were painted.
  EXPECT_EQ(tree_->RowsPainted(), std::uint32_t((client.bottom + kRow - 1) / kRow));

  // The selected row (T4, y 108) has the selection colour inside its label,
  // the background beyond it, and the dotted focus rectangle on its edge.
  const int selTop = 6 * kRow;
  EXPECT_EQ(canvas.At(50, selTop + 9), selection);
  EXPECT_EQ(canvas.At(150, selTop + 9), back);
  int dotted = 0;
  for (int x = 22; x < 82; ++x) dotted += canvas.At(x, selTop) != selection;
  EXPECT_GT(dotted, 10);
  EXPECT_LT(dotted, 50);

  // The tree line at x 13 through T4's row alternates dots and background.
  int alternations = 0, lineDots = 0;
  for (int y = selTop + 1; y < selTop + 4; ++y) {
    alternations += canvas.At(13, y) != canvas.At(13, y + 1);
    lineDots += canvas.At(13, y) == lines;
  }
  EXPECT_EQ(alternations, 3);
  EXPECT_GE(lineDots, 1);

  // Buttons (9 x 9, top at 5 in their row): T0 is expanded (minus), T3
  // collapsed (plus). The centre is a glyph pixel in both; above the centre
  // only the plus has its vertical stroke.
  EXPECT_EQ(canvas.At(13, 9), glyph);
  EXPECT_NE(canvas.At(13, 7), glyph);
  const int plusTop = 5 * kRow;
  EXPECT_EQ(canvas.At(13, plusTop + 9), glyph);
  EXPECT_EQ(canvas.At(13, plusTop + 7), glyph);
  // The button frame is in the tree line colour.
  EXPECT_EQ(canvas.At(9, plusTop + 9), lines);

  // Check boxes in states 0, 2 and 4 (rows 7, 8 and 9, at x 22) differ, and
  // are not plain background.
  const auto c0 = canvas.Block(22, 7 * kRow + 1, 16, 16);
  const auto c2 = canvas.Block(22, 8 * kRow + 1, 16, 16);
  const auto c4 = canvas.Block(22, 9 * kRow + 1, 16, 16);
  EXPECT_NE(c0, c2);
  EXPECT_NE(c2, c4);
  EXPECT_NE(c0, c4);
  EXPECT_NE(c0, std::vector<COLORREF>(c0.size(), back));
}

// Wine's prefix comes with its "Light" visual style active: the themed path
// opens both themes and draws the buttons and check boxes through them.
TEST_F(TreePaintTest, ThemedButtonsAndChecksComeFromTheTheme) {
  ASSERT_TRUE(UseThemes());
  TVirtualTreeCore& tree = tree_->Tree();
  tree_->SetRootNodeCount(10);
  TVTNode* first = tree.FirstNode();
  tree.SetChildCount(first, 2);
  tree.OptionBits.Misc |= voCheckSupport;
  tree.SetCheckType(first, ctCheckBox);
  RECT client;
  GetClientRect(tree_->WindowHandle(), &client);
  auto render = [&](bool themed) {
    if (themed)
      tree.OptionBits.Paint |= voPaintThemed;
    else
      tree.OptionBits.Paint &= std::uint16_t(~voPaintThemed);
    SendMessageW(tree_->WindowHandle(), WM_THEMECHANGED, 0, 0);
    EXPECT_EQ(tree.HasTreeState(tsUseThemes), themed);
    EXPECT_EQ(tree_->TreeTheme() != nullptr, themed);
    EXPECT_EQ(tree_->ButtonTheme() != nullptr, themed);
    Canvas canvas(client.right, client.bottom);
    SendMessageW(tree_->WindowHandle(), WM_PRINTCLIENT, WPARAM(canvas.dc), PRF_CLIENT);
    GdiFlush();
    // The button (x 9, y 5) and the check box (x 22, y 1) of the first row.
    return std::make_pair(canvas.Block(9, 5, 9, 9), canvas.Block(22, 1, 16, 16));
  };
  const auto classic = render(false);
  const auto themed = render(true);
  EXPECT_NE(classic.first, themed.first);
  EXPECT_NE(classic.second, themed.second);
  const auto again = render(false);
  EXPECT_EQ(again, classic);
}

// A 7 x 5 picture whose pixels name their own place tiles the rows and the
// area below them, its phase following the scrolled tree.
TEST_F(TreePaintTest, TheBackgroundPictureTilesFromTheScrolledPhase) {
  constexpr int w = 7, h = 5;
  Canvas source(w, h);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) source.bits[y * w + x] = std::uint32_t((x * 30) << 16 | (y * 40) << 8 | 0x50);
  TOwned<TBitmap> bitmap(New<TBitmap>());
  SelectObject(source.dc, source.old);
  bitmap->SetHandle(source.bitmap);
  source.bitmap = CreateBitmap(1, 1, 1, 1, nullptr);  // the bitmap owns the section now
  source.old = SelectObject(source.dc, source.bitmap);
  TOwned<TPicture> picture(New<TPicture>());
  picture->SetGraphic(bitmap.get());
  tree_->SetBackgroundPicture(picture.get());
  tree_->Tree().OptionBits.Paint |= voShowBackground;
  tree_->Tree().OptionBits.Paint &= std::uint16_t(~voShowTreeLines);
  tree_->SetRootNodeCount(12);  // 216 pixels: a little more than the client
  RECT client;
  GetClientRect(tree_->WindowHandle(), &client);
  const int scrolled = client.bottom - 12 * kRow;  // to the bottom
  ASSERT_LT(scrolled, -3);
  tree_->SetOffsetY(scrolled);
  ASSERT_EQ(tree_->GetOffsetY(), scrolled);
  Canvas canvas(client.right, client.bottom);
  SendMessageW(tree_->WindowHandle(), WM_PRINTCLIENT, WPARAM(canvas.dc), PRF_CLIENT);
  GdiFlush();
  int checked = 0;
  for (int y = 0; y < client.bottom; y += 7) {
    for (int x = 100; x < client.right; x += 11) {
      const int sx = x % w, sy = (y - scrolled) % h;
      EXPECT_EQ(canvas.At(x, y), RGB(sx * 30, sy * 40, 0x50)) << x << "," << y;
      ++checked;
    }
  }
  EXPECT_GT(checked, 100);

  // Three rows: the area below them goes on in the same phase.
  tree_->SetRootNodeCount(3);
  ASSERT_EQ(tree_->GetOffsetY(), 0);
  Canvas few(client.right, client.bottom);
  SendMessageW(tree_->WindowHandle(), WM_PRINTCLIENT, WPARAM(few.dc), PRF_CLIENT);
  GdiFlush();
  for (int y = 3 * kRow - 6; y < 3 * kRow + 20; ++y)
    EXPECT_EQ(few.At(150, y), RGB((150 % w) * 30, (y % h) * 40, 0x50)) << y;
}

TEST_F(TreePaintTest, TheSelectionIsPaintedAtTheScrolledPlace) {
  TVirtualTreeCore& tree = tree_->Tree();
  tree_->SetRootNodeCount(50);
  tree.OptionBits.Paint |= voPopupMode;
  TVTNode* node = tree.FirstNode();
  for (int i = 0; i < 20; ++i) node = tree.NextSiblingOf(node);
  tree.SetNodeSelected(node, true);
  tree_->SetOffsetY(-15 * kRow - 5);
  RECT client;
  GetClientRect(tree_->WindowHandle(), &client);
  Canvas canvas(client.right, client.bottom);
  SendMessageW(tree_->WindowHandle(), WM_PRINTCLIENT, WPARAM(canvas.dc), PRF_CLIENT);
  GdiFlush();
  const COLORREF selection = ColorToRGB(tree_->Colors()->Get<TVTColors::FocusedSelectionColor>());
  // Node 20's row starts at 20 * 18 - (15 * 18 + 5) = 85.
  EXPECT_NE(canvas.At(50, 84), selection);
  EXPECT_EQ(canvas.At(50, 86), selection);
  EXPECT_EQ(canvas.At(50, 85 + kRow - 2), selection);
  EXPECT_NE(canvas.At(50, 85 + kRow), selection);
}

// --- The mouse -------------------------------------------------------------------------------------

class TreeMouseTest : public TreePaintTest {
 protected:
  void SetUp() override {
    TreePaintTest::SetUp();
    tree_->SetRootNodeCount(50);
    tree_->Tree().SetMultiSelect(true);
    for (TVTNode* n = tree_->Tree().FirstNode(); n; n = tree_->Tree().NextSiblingOf(n)) rows_.push_back(n);
  }
  HWND Window() { return tree_->WindowHandle(); }
  void Send(UINT msg, WPARAM keys, int x, int y) { SendMessageW(Window(), msg, keys, MAKELPARAM(x, y)); }
  void Click(int x, int y, WPARAM keys = 0) {
    Send(WM_LBUTTONDOWN, MK_LBUTTON | keys, x, y);
    Send(WM_LBUTTONUP, keys, x, y);
  }
  std::vector<TVTNode*> Rows(std::initializer_list<int> which) {
    std::vector<TVTNode*> result;
    for (int i : which) result.push_back(rows_[std::size_t(i)]);
    return result;
  }
  std::vector<TVTNode*> rows_;
};

// A top-level caption runs from x 18 to 78 in its row (the root shown, labels 60 wide).
TEST_F(TreeMouseTest, ACaptionClickSelectsAndCtrlClickAdds) {
  TVirtualTreeCore& tree = tree_->Tree();
  const TVTHitInfo hit = tree.HitTestPoint(40, 2 * kRow + 9, true);
  ASSERT_EQ(hit.HitNode, rows_[2]);
  ASSERT_TRUE(hit.HitPositions & hiOnItemLabel);

  Click(40, 2 * kRow + 9);
  EXPECT_EQ(tree.Selection(), Rows({2}));
  EXPECT_EQ(tree.FocusedNode(), rows_[2]);
  EXPECT_TRUE(tree_->Focused());
  EXPECT_NE(GetCapture(), Window());  // the release gave the mouse back
  Click(40, 5 * kRow + 9, MK_CONTROL);
  EXPECT_EQ(tree.Selection().size(), 2u);
  EXPECT_TRUE(rows_[2]->States & vsSelected);
  EXPECT_TRUE(rows_[5]->States & vsSelected);
  EXPECT_EQ(tree.FocusedNode(), rows_[5]);
  // A plain click replaces the selection; Shift extends from the anchor.
  Click(40, 3 * kRow + 9);
  EXPECT_EQ(tree.Selection(), Rows({3}));
  Click(40, 6 * kRow + 9, MK_SHIFT);
  EXPECT_EQ(tree.Selection().size(), 4u);
  EXPECT_FALSE(tree.HasTreeState(tsLeftButtonDown));
}

TEST_F(TreeMouseTest, ADragAcrossFiveRowsSelectsThemByBand) {
  TVirtualTreeCore& tree = tree_->Tree();
  tree_->DrawSelectionMode = 1;
  tree_->Colors()->Set<TVTColors::SelectionRectangleBorderColor>(TColor(std::int32_t(RGB(255, 0, 0))));
  tree.SetNodeSelected(rows_[20], true);
  // Pressed right of row 1's caption, dragged left and down to row 5.
  Send(WM_LBUTTONDOWN, MK_LBUTTON, 150, kRow + 4);
  EXPECT_EQ(GetCapture(), Window());
  EXPECT_TRUE(tree.Selection().empty());
  Send(WM_MOUSEMOVE, MK_LBUTTON, 148, kRow + 6);  // within the drag threshold
  EXPECT_TRUE(tree.Selection().empty());
  Send(WM_MOUSEMOVE, MK_LBUTTON, 60, 5 * kRow + 9);
  EXPECT_TRUE(tree.HasTreeState(tsDrawSelecting));
  EXPECT_EQ(tree.Selection(), Rows({1, 2, 3, 4, 5}));

  // The band shows while it is drawn: framed in its border colour.
  RECT client;
  GetClientRect(Window(), &client);
  Canvas canvas(client.right, client.bottom);
  SendMessageW(Window(), WM_PRINTCLIENT, WPARAM(canvas.dc), PRF_CLIENT);
  GdiFlush();
  EXPECT_EQ(canvas.At(100, kRow + 4), RGB(255, 0, 0));
  EXPECT_EQ(canvas.At(60, 3 * kRow), RGB(255, 0, 0));
  EXPECT_NE(canvas.At(100, 3 * kRow + 9), RGB(255, 0, 0));

  Send(WM_LBUTTONUP, 0, 60, 5 * kRow + 9);
  EXPECT_FALSE(tree.HasTreeState(tsDrawSelecting));
  EXPECT_NE(GetCapture(), Window());
  EXPECT_EQ(tree.Selection(), Rows({1, 2, 3, 4, 5}));
  Canvas after(client.right, client.bottom);
  SendMessageW(Window(), WM_PRINTCLIENT, WPARAM(after.dc), PRF_CLIENT);
  GdiFlush();
  EXPECT_NE(after.At(100, kRow + 4), RGB(255, 0, 0));
}

TEST_F(TreeMouseTest, ButtonsChecksAndDoubleClicks) {
  TVirtualTreeCore& tree = tree_->Tree();
  tree.SetChildCount(rows_[0], 2);
  // The button of a top-level node sits in the root's indent (x 0 to 17).
  Click(13, 9);
  EXPECT_TRUE(rows_[0]->States & vsExpanded);
  Click(13, 9);
  EXPECT_FALSE(rows_[0]->States & vsExpanded);
  // With toggle on double click, a double click on the caption expands.
  tree.OptionBits.Misc |= voToggleOnDblClick;
  Send(WM_LBUTTONDBLCLK, MK_LBUTTON, 40, 9);
  Send(WM_LBUTTONUP, 0, 40, 9);
  EXPECT_TRUE(rows_[0]->States & vsExpanded);
  // A check box (x 18 to 33 of a top-level row) checks on release over it.
  tree.OptionBits.Misc |= voCheckSupport;
  tree.SetCheckType(rows_[3], ctCheckBox);
  const int y = 5 * kRow + 9;  // row 3 is the sixth row now
  ASSERT_TRUE(tree.HitTestPoint(24, y, true).HitPositions & hiOnItemCheckbox);
  Send(WM_LBUTTONDOWN, MK_LBUTTON, 24, y);
  EXPECT_EQ(rows_[3]->CheckState, csUncheckedPressed);
  Send(WM_LBUTTONUP, 0, 24, y);
  EXPECT_EQ(rows_[3]->CheckState, csCheckedNormal);
  Send(WM_LBUTTONDOWN, MK_LBUTTON, 24, y);
  Send(WM_LBUTTONUP, 0, 150, y);  // released away from it
  EXPECT_EQ(rows_[3]->CheckState, csCheckedNormal);
  // Right presses select only with right-click selection.
  Send(WM_RBUTTONDOWN, MK_RBUTTON, 40, 7 * kRow + 9);
  Send(WM_RBUTTONUP, 0, 40, 7 * kRow + 9);
  EXPECT_FALSE(rows_[5]->States & vsSelected);
  tree.OptionBits.Selection |= voRightClickSelect;
  Send(WM_RBUTTONDOWN, MK_RBUTTON, 40, 7 * kRow + 9);
  Send(WM_RBUTTONUP, 0, 40, 7 * kRow + 9);
  EXPECT_TRUE(rows_[5]->States & vsSelected);
  EXPECT_FALSE(tree.HasTreeState(tsRightButtonDown));
}

// --- The frame, the cursor and the other messages ---------------------------------------------------

namespace {
// A tree with a header band of 20 pixels, as the header part will give it.
class THeaderedTree : public TWideTree {
  FW_CLASS(THeaderedTree, TWideTree)
 public:
  explicit THeaderedTree(TComponent* owner) : TWideTree(owner) {}
  bool HeaderVisible() const override { return true; }
  int HeaderHeight() const override { return 20; }
  int bandsPainted = 0;
  int linksReleased = 0;

 protected:
  void PaintHeaderBand(HDC, const RECT&) override { ++bandsPainted; }
  void ReleaseEditLink() override { ++linksReleased; }
};
// clang-format off
FW_BEGIN_CLASS(THeaderedTree)
FW_END_CLASS
// clang-format on

COLORREF WindowPixel(HWND window, int x, int y) {
  HDC dc = GetWindowDC(window);
  const COLORREF c = GetPixel(dc, x, y);
  ReleaseDC(window, dc);
  return c;
}
}  // namespace

TEST_F(TreePaintTest, TheHeaderBandIsReservedAndAnswersAsBorder) {
  auto* headered = New<THeaderedTree>(form_);
  headered->SetParent(form_);
  headered->SetBounds(0, 210, 200, 150);
  HWND window = headered->WindowHandle();
  RECT client, bounds;
  GetClientRect(window, &client);
  GetWindowRect(window, &bounds);
  // The client edge takes 2 on each side, the band 20 more at the top.
  EXPECT_EQ(client.bottom, 150 - 4 - 20);
  EXPECT_EQ(client.right,
            200 - 4 - (GetWindowLongW(window, GWL_STYLE) & WS_VSCROLL ? GetSystemMetrics(SM_CXVSCROLL) : 0));
  const RECT band = headered->ComputeHeaderArea();
  EXPECT_EQ(band.top, 2);
  EXPECT_EQ(band.bottom, 22);
  EXPECT_EQ(SendMessageW(window, WM_NCHITTEST, 0, MAKELPARAM(bounds.left + 50, bounds.top + 10)), HTBORDER);
  EXPECT_EQ(SendMessageW(window, WM_NCHITTEST, 0, MAKELPARAM(bounds.left + 50, bounds.top + 40)), HTCLIENT);
  // Non-client painting and WM_PRINT paint the band.
  const int painted = headered->bandsPainted;
  RedrawWindow(window, nullptr, nullptr, RDW_FRAME | RDW_INVALIDATE | RDW_UPDATENOW);
  EXPECT_GT(headered->bandsPainted, painted);
  Canvas canvas(200, 150);
  SendMessageW(window, WM_PRINT, WPARAM(canvas.dc), PRF_NONCLIENT);
  EXPECT_GT(headered->bandsPainted, painted + 1);
  // The edit link goes when no edit is active.
  SendMessageW(window, 0x801F, 0, 0);
  EXPECT_EQ(headered->linksReleased, 1);
}

TEST_F(TreePaintTest, BorderWidthAndBevelArePaintedInTheBorderColour) {
  HWND window = tree_->WindowHandle();
  RECT before;
  GetClientRect(window, &before);
  tree_->SetBorderWidth(3);
  tree_->BevelKind = bkFlat;
  tree_->BevelInner = bvNone;
  tree_->BevelOuter = bvLowered;
  tree_->Colors()->Set<TVTColors::BorderColor>(TColor(std::int32_t(RGB(0, 160, 0))));
  SetWindowPos(window, nullptr, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOZORDER | SWP_FRAMECHANGED);
  RECT after;
  GetClientRect(window, &after);
  // Three for the border width and one for the bevel on each side.
  EXPECT_EQ(before.bottom - after.bottom, 8);
  RedrawWindow(window, nullptr, nullptr, RDW_FRAME | RDW_INVALIDATE | RDW_UPDATENOW);
  // Client edge 2, bevel 1, then the 3-pixel band in the border colour.
  RECT bounds;
  GetWindowRect(window, &bounds);
  const int middle = (bounds.bottom - bounds.top) / 2;
  EXPECT_EQ(WindowPixel(window, 3, middle), RGB(0, 160, 0));
  EXPECT_EQ(WindowPixel(window, 5, middle), RGB(0, 160, 0));
  EXPECT_NE(WindowPixel(window, 2, middle), RGB(0, 160, 0));
}

TEST_F(TreePaintTest, DropMarksAndTheDropTarget) {
  TVirtualTreeCore& tree = tree_->Tree();
  tree_->SetRootNodeCount(20);
  TVTNode* target = tree.FirstNode();
  for (int i = 0; i < 3; ++i) target = tree.NextSiblingOf(target);
  tree.DropTargetNode = target;
  tree_->Colors()->Set<TVTColors::DropMarkColor>(TColor(std::int32_t(RGB(0, 0, 200))));
  tree_->Colors()->Set<TVTColors::DropTargetColor>(TColor(std::int32_t(RGB(200, 200, 0))));
  RECT client;
  GetClientRect(tree_->WindowHandle(), &client);
  auto render = [&](int mode) {
    tree_->DropMode = mode;
    auto canvas = std::make_unique<Canvas>(client.right, client.bottom);
    SendMessageW(tree_->WindowHandle(), WM_PRINTCLIENT, WPARAM(canvas->dc), PRF_CLIENT);
    GdiFlush();
    return canvas;
  };
  const int top = 3 * kRow;
  const auto above = render(1);
  EXPECT_EQ(above->At(100, top + 1), RGB(0, 0, 200));
  EXPECT_NE(above->At(100, top + kRow - 2), RGB(0, 0, 200));
  const auto below = render(3);
  EXPECT_EQ(below->At(100, top + kRow - 2), RGB(0, 0, 200));
  EXPECT_NE(below->At(100, top + 1), RGB(0, 0, 200));
  // Mode 2 (on the node) draws no mark but the drop target's colour.
  const auto on = render(2);
  EXPECT_NE(on->At(100, top + 1), RGB(0, 0, 200));
  EXPECT_EQ(on->At(50, top + 9), RGB(200, 200, 0));
  // A removed drop target is forgotten: painting reads no freed node.
  tree.RemoveNode(target);
  EXPECT_EQ(tree.DropTargetNode, nullptr);
  render(1);
}

TEST_F(TreePaintTest, CursorTimersLeaveAndColourMessages) {
  TVirtualTreeCore& tree = tree_->Tree();
  HWND window = tree_->WindowHandle();
  tree_->SetRootNodeCount(10);
  // The control's cursor, or the hot cursor over a hot node with hot tracking.
  tree_->SetCursor(crHandPoint);
  EXPECT_EQ(SendMessageW(window, WM_SETCURSOR, WPARAM(window), MAKELPARAM(HTCLIENT, WM_MOUSEMOVE)), 1);
  EXPECT_EQ(GetCursor(), ScreenCursorHandle(crHandPoint));
  tree.OptionBits.Paint |= voHotTrack;
  tree_->HotCursor = crCross;
  SendMessageW(window, WM_MOUSEMOVE, 0, MAKELPARAM(40, 9));
  EXPECT_EQ(tree.HotNode(), tree.FirstNode());
  SendMessageW(window, WM_SETCURSOR, WPARAM(window), MAKELPARAM(HTCLIENT, WM_MOUSEMOVE));
  EXPECT_EQ(GetCursor(), ScreenCursorHandle(crCross));
  // The get-cursor event has the last word.
  struct Handler {
    void Get(TObject*, TCursor& cursor) { cursor = crIBeam; }
  } handler;
  tree_->OnGetCursor = decltype(tree_->OnGetCursor)::Bind<&Handler::Get>(&handler);
  SendMessageW(window, WM_SETCURSOR, WPARAM(window), MAKELPARAM(HTCLIENT, WM_MOUSEMOVE));
  EXPECT_EQ(GetCursor(), ScreenCursorHandle(crIBeam));
  // The mouse leaving forgets the hot node.
  SendMessageW(window, CM_MOUSELEAVE, 0, 0);
  EXPECT_EQ(tree.HotNode(), nullptr);

  // Timer 1 expands the drop target.
  TVTNode* first = tree.FirstNode();
  tree.SetChildCount(first, 2);
  tree.DropTargetNode = first;
  SendMessageW(window, WM_TIMER, 1, 0);
  EXPECT_TRUE(first->States & vsExpanded);
  // System colours refill the image lists and leave the tree working.
  SendMessageW(window, CM_SYSCOLORCHANGE, 0, 0);
  EXPECT_GT(ImageList_GetImageCount(TreeImageList(0)->Handle()), 0);
  // WM_COPY marks the selection for the clipboard.
  tree.SetNodeSelected(first, true);
  SendMessageW(window, WM_COPY, 0, 0);
  SendMessageW(window, WM_CUT, 0, 0);
  SendMessageW(window, WM_PASTE, 0, 0);
  EXPECT_EQ(tree.Selection().size(), 1u);
}

TEST_F(TreePaintTest, ToggleAnimationStepMovesRowsAndFillsTheStrip) {
  Canvas canvas(40, 40);
  for (int y = 0; y < 40; ++y)
    for (int x = 0; x < 40; ++x) canvas.bits[y * 40 + x] = std::uint32_t(y);  // a row's number in blue
  tree_->SetColor(TColor(std::int32_t(RGB(10, 20, 30))));
  const RECT area{0, 10, 40, 40};
  EXPECT_TRUE(tree_->ToggleAnimationStep(canvas.dc, area, true, 4));
  GdiFlush();
  EXPECT_EQ(canvas.At(5, 5), RGB(0, 0, 5));      // above the area: untouched
  EXPECT_EQ(canvas.At(5, 11), RGB(10, 20, 30));  // the uncovered strip
  EXPECT_EQ(canvas.At(5, 20), RGB(0, 0, 16));    // moved down by 4
  EXPECT_TRUE(tree_->ToggleAnimationStep(canvas.dc, area, false, 6));
  GdiFlush();
  EXPECT_EQ(canvas.At(5, 20), RGB(0, 0, 22));
  EXPECT_EQ(canvas.At(5, 37), RGB(10, 20, 30));
}

TEST_F(TreePaintTest, PaintEventsComeInOrderAndARowPaintedByItsHandlerIsLeftAlone) {
  TVirtualTreeCore& tree = tree_->Tree();
  tree_->SetRootNodeCount(3);
  tree.OptionBits.Paint |= voPopupMode;
  tree.SetNodeSelected(tree.FirstNode(), true);
  struct Recorder {
    std::vector<std::string> calls;
    void Before(TObject*, HDC) { calls.push_back("tree"); }
    void After(TObject*, HDC) { calls.push_back("/tree"); }
    void Row(TObject*, HDC dc, TVTNode* node, RECT r, bool& handled) {
      calls.push_back("row" + std::to_string(node->Index));
      handled = node->Index == 0;
      if (handled) {
        HBRUSH brush = CreateSolidBrush(RGB(1, 2, 3));
        FillRect(dc, &r, brush);
        DeleteObject(brush);
      }
    }
    void AfterRow(TObject*, HDC, TVTNode* node, RECT) { calls.push_back("/row" + std::to_string(node->Index)); }
    void Cell(TObject*, HDC, TVTNode* node, int, RECT) { calls.push_back("cell" + std::to_string(node->Index)); }
    void Back(TObject*, HDC dc, RECT r, bool& handled) {
      calls.push_back("below");
      HBRUSH brush = CreateSolidBrush(RGB(4, 5, 6));
      FillRect(dc, &r, brush);
      DeleteObject(brush);
      handled = true;
    }
  } recorder;
  tree_->OnBeforePaint = decltype(tree_->OnBeforePaint)::Bind<&Recorder::Before>(&recorder);
  tree_->OnAfterPaint = decltype(tree_->OnAfterPaint)::Bind<&Recorder::After>(&recorder);
  tree_->OnBeforeItemPaint = decltype(tree_->OnBeforeItemPaint)::Bind<&Recorder::Row>(&recorder);
  tree_->OnAfterItemPaint = decltype(tree_->OnAfterItemPaint)::Bind<&Recorder::AfterRow>(&recorder);
  tree_->OnBeforeCellPaint = decltype(tree_->OnBeforeCellPaint)::Bind<&Recorder::Cell>(&recorder);
  tree_->OnPaintBackground = decltype(tree_->OnPaintBackground)::Bind<&Recorder::Back>(&recorder);
  RECT client;
  GetClientRect(tree_->WindowHandle(), &client);
  Canvas canvas(client.right, client.bottom);
  SendMessageW(tree_->WindowHandle(), WM_PRINTCLIENT, WPARAM(canvas.dc), PRF_CLIENT);
  GdiFlush();
  const std::vector<std::string> expected{"tree", "row0",  "row1",  "cell1", "/row1",
                                          "row2", "cell2", "/row2", "below", "/tree"};
  EXPECT_EQ(recorder.calls, expected);
  // Row 0 is the handler's: no selection colour on it, its own fill instead.
  EXPECT_EQ(canvas.At(50, 9), RGB(1, 2, 3));
  EXPECT_EQ(canvas.At(50, 3 * kRow + 5), RGB(4, 5, 6));
}

namespace {
// A drop target that counts its references; it accepts nothing.
class CountingDropTarget : public IDropTarget {
 public:
  LONG references = 1;
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IDropTarget)) {
      *object = this;
      AddRef();
      return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ULONG(++references); }
  ULONG STDMETHODCALLTYPE Release() override { return ULONG(--references); }
  HRESULT STDMETHODCALLTYPE DragEnter(IDataObject*, DWORD, POINTL, DWORD* effect) override {
    *effect = DROPEFFECT_NONE;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE DragOver(DWORD, POINTL, DWORD* effect) override {
    *effect = DROPEFFECT_NONE;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE DragLeave() override { return S_OK; }
  HRESULT STDMETHODCALLTYPE Drop(IDataObject*, DWORD, POINTL, DWORD* effect) override {
    *effect = DROPEFFECT_NONE;
    return S_OK;
  }
};

class TDropTree : public TWideTree {
  FW_CLASS(TDropTree, TWideTree)
 public:
  explicit TDropTree(TComponent* owner) : TWideTree(owner) {}
  CountingDropTarget target;

 protected:
  IDropTarget* ObtainDropTarget() override { return &target; }
};
// clang-format off
FW_BEGIN_CLASS(TDropTree)
FW_END_CLASS
// clang-format on

bool Registered(HWND window) {
  // A second registration fails while one is in place.
  CountingDropTarget probe;
  const HRESULT result = RegisterDragDrop(window, &probe);
  if (result == S_OK) RevokeDragDrop(window);
  return result == DRAGDROP_E_ALREADYREGISTERED;
}
}  // namespace

TEST_F(TreePaintTest, MiscOptionBitZeroRegistersTheDropTarget) {
  auto* tree = New<TDropTree>(form_);
  tree->TreeOptions()->SetMiscOptions(tree->TreeOptions()->MiscOptions() & std::uint16_t(~voAcceptOLEDrop));
  tree->SetParent(form_);
  tree->SetBounds(0, 210, 100, 100);
  HWND window = tree->WindowHandle();
  EXPECT_FALSE(tree->DropTargetRegistered());
  EXPECT_FALSE(Registered(window));
  // Switched on with a window: registered at once.
  tree->TreeOptions()->SetMiscOptions(tree->TreeOptions()->MiscOptions() | voAcceptOLEDrop);
  EXPECT_TRUE(tree->DropTargetRegistered());
  EXPECT_TRUE(Registered(window));
  EXPECT_GT(tree->target.references, 1);
  // A new window registers again; the old one's registration went with it.
  tree->RecreateWnd();
  HWND renewed = tree->WindowHandle();
  EXPECT_TRUE(tree->DropTargetRegistered());
  EXPECT_TRUE(Registered(renewed));
  // Switched off: revoked, and the references given back.
  tree->TreeOptions()->SetMiscOptions(tree->TreeOptions()->MiscOptions() & std::uint16_t(~voAcceptOLEDrop));
  EXPECT_FALSE(tree->DropTargetRegistered());
  EXPECT_FALSE(Registered(renewed));
  EXPECT_EQ(tree->target.references, 1);
  FreeAndNil(tree);
}

TEST_F(TreePaintTest, HintsByModeWithTheNodeInTheHintData) {
  TVirtualTreeCore& tree = tree_->Tree();
  tree_->SetRootNodeCount(5);
  tree_->SetHint("the tree");
  tree_->SetShowHint(true);
  tree_->SetFocus();
  struct Hints {
    // Cyrillic: the hint string of the code page cannot hold it, the hint data does.
    void Get(TObject*, TVTNode* node, int, std::u16string& hint) {
      hint = u"\u0443\u0437\u0435\u043b ";
      hint += char16_t(u'0' + node->Index);
    }
  } hints;
  tree_->OnGetHint = decltype(tree_->OnGetHint)::Bind<&Hints::Get>(&hints);
  auto ask = [&](int mode, int x, int y, std::string& text) {
    tree_->HintMode = mode;
    THintInfo info{tree_, POINT{x, y}, tree_->GetHint(), POINT{0, 0}, 300};
    const LRESULT refused = SendMessageW(tree_->WindowHandle(), CM_HINTSHOW, 0, LPARAM(&info));
    text = info.HintStr;
    if (!refused) {
      EXPECT_EQ(info.HintData, &tree_->HintData());
    }
    return refused == 0;
  };
  std::string text;
  EXPECT_TRUE(ask(0, 40, 2 * kRow + 9, text));
  EXPECT_EQ(text, "the tree");
  EXPECT_TRUE(ask(1, 40, 2 * kRow + 9, text));
  EXPECT_EQ(tree_->HintData().Text, u"\u0443\u0437\u0435\u043b 2");
  EXPECT_FALSE(text.empty());
  EXPECT_EQ(tree_->HintData().Node, tree.FirstNode()->NextSibling->NextSibling);
  EXPECT_TRUE(tree.HasTreeState(tsHint));
  EXPECT_FALSE(ask(1, 40, 150, text));  // below the rows
  EXPECT_FALSE(tree.HasTreeState(tsHint));
  EXPECT_TRUE(ask(2, 40, 150, text));
  EXPECT_EQ(text, "the tree");
  // Mode 3: a 60-pixel caption fits the cell: no hint.
  EXPECT_FALSE(ask(3, 40, 9, text));
  // The hinted node is forgotten when it goes.
  ASSERT_TRUE(ask(1, 40, 3 * kRow + 9, text));
  TVTNode* hinted = tree_->HintData().Node;
  ASSERT_NE(hinted, nullptr);
  tree.RemoveNode(hinted);
  EXPECT_EQ(tree_->HintData().Node, nullptr);
  // No hint while the mouse is captured.
  SetCapture(tree_->WindowHandle());
  EXPECT_FALSE(ask(0, 40, 9, text));
  ReleaseCapture();
}

TEST_F(TreePaintTest, AFrameworkDragOverTheTreeFollowsTheDropTargetAndDrops) {
  TVirtualTreeCore& tree = tree_->Tree();
  tree_->SetRootNodeCount(10);
  auto* source = New<TPanel>(form_);
  source->SetParent(form_);
  source->SetBounds(310, 10, 60, 60);
  struct Log {
    std::vector<std::string> events;
    void Over(TObject*, TObject*, int, int, TDragState state, bool& accept) {
      events.push_back("over " + std::to_string(int(state)));
      accept = true;
    }
    void Drop(TObject*, TObject*, int x, int y) {
      events.push_back("drop " + std::to_string(x) + "," + std::to_string(y));
    }
  } log;
  tree_->OnDragOver = TDragOverEvent::Bind<&Log::Over>(&log);
  tree_->OnDragDrop = TDragDropEvent::Bind<&Log::Drop>(&log);
  auto moveTo = [&](int x, int y) {
    POINT p{x, y};
    ClientToScreen(tree_->WindowHandle(), &p);
    SetCursorPos(p.x, p.y);
    ScreenToClient(source->WindowHandle(), &p);
    SendMessageW(source->WindowHandle(), WM_MOUSEMOVE, MK_LBUTTON, MAKELPARAM(p.x, p.y));
  };
  POINT start{30, 30};
  ClientToScreen(source->WindowHandle(), &start);
  SetCursorPos(start.x, start.y);
  source->BeginDrag(true);
  moveTo(40, 2 * kRow + 9);
  EXPECT_TRUE(tree.HasTreeState(tsFrameworkDragOver));
  ASSERT_NE(tree.DropTargetNode, nullptr);
  EXPECT_EQ(tree.DropTargetNode->Index, 2u);
  moveTo(40, 4 * kRow + 9);
  EXPECT_EQ(tree.DropTargetNode->Index, 4u);
  SendMessageW(source->WindowHandle(), WM_LBUTTONUP, 0, 0);
  EXPECT_FALSE(source->Dragging());
  EXPECT_EQ(tree.DropTargetNode, nullptr);
  EXPECT_FALSE(tree.HasTreeState(tsFrameworkDragOver));
  const std::vector<std::string> expected{"over 0", "over 2", "over 2", "drop 40,81"};
  EXPECT_EQ(log.events, expected);
}

// The client edge: drawn through the "treeview" theme when themed, left to
// the system otherwise; the band inside it stays untouched either way.
TEST_F(TreePaintTest, TheThemedClientEdgeComesFromTheTheme) {
  ASSERT_TRUE(UseThemes());
  TVirtualTreeCore& tree = tree_->Tree();
  ASSERT_TRUE(GetWindowLongW(tree_->WindowHandle(), GWL_EXSTYLE) & WS_EX_CLIENTEDGE);
  auto border = [&](bool themed) {
    if (themed)
      tree.OptionBits.Paint |= voPaintThemed;
    else
      tree.OptionBits.Paint &= std::uint16_t(~voPaintThemed);
    SendMessageW(tree_->WindowHandle(), WM_THEMECHANGED, 0, 0);
    auto canvas = std::make_unique<Canvas>(300, 200);
    for (int i = 0; i < 300 * 200; ++i) canvas->bits[i] = 0x00123456;
    tree_->PaintBorder(canvas->dc);
    GdiFlush();
    return canvas;
  };
  const auto classic = border(false);
  const auto themed = border(true);
  int changed = 0;
  for (int y = 0; y < 200; y += 5) changed += themed->At(0, y) != RGB(0x12, 0x34, 0x56);
  EXPECT_GT(changed, 20);
  for (int y = 0; y < 200; y += 5) EXPECT_EQ(classic->At(0, y), RGB(0x12, 0x34, 0x56));
  EXPECT_EQ(themed->At(150, 100), RGB(0x12, 0x34, 0x56));
}

}  // namespace
