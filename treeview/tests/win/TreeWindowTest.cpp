// The tree's window under Wine: the styles it is made with, and the keyboard,
// scroll-bar, wheel and dialog-code messages sent to it.
#include <gtest/gtest.h>

#include "Forms.h"
#include "PaintCanvas.h"
#include "Themes.h"
#include "VirtualTreesWin.h"
#include "Win32Platform.h"

namespace {

constexpr int kRow = 18;

class TreeWindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    InitWin32Platform();
    InitVirtualTrees();
    form_ = New<TForm>(Application);
    form_->SetBounds(0, 0, 400, 400);
    tree_ = New<TBaseVirtualTree>(form_);
    tree_->SetParent(form_);
    tree_->SetBounds(0, 0, 300, 200);
    form_->Show();
  }
  void TearDown() override {
    FreeAndNil(form_);
    DoneVirtualTrees();
  }
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
  TForm* form_ = nullptr;
  TBaseVirtualTree* tree_ = nullptr;
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

 protected:
  int MeasureNodeWidth(TVTNode*, int) override { return 60; }
};

// clang-format off
FW_BEGIN_CLASS(TWideTree)
FW_END_CLASS
// clang-format on

class TreePaintTest : public ::testing::Test {
 protected:
  void SetUp() override {
    InitWin32Platform();
    InitVirtualTrees();
    form_ = New<TForm>(Application);
    form_->SetBounds(0, 0, 400, 400);
    tree_ = New<TWideTree>(form_);
    tree_->SetParent(form_);
    tree_->SetBounds(0, 0, 300, 200);
    form_->Show();
  }
  void TearDown() override {
    FreeAndNil(form_);
    DoneVirtualTrees();
  }
  TForm* form_ = nullptr;
  TWideTree* tree_ = nullptr;
};

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

}  // namespace
