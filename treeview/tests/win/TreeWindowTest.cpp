// The tree's window under Wine: the styles it is made with, and the keyboard,
// scroll-bar, wheel and dialog-code messages sent to it.
#include <gtest/gtest.h>

#include "Forms.h"
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
