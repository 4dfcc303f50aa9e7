// The drag image on the screen, a column drag that loses the mouse or whose
// tree goes in the middle, and the tree's hint window when its tree goes.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdint>
#include <cstdlib>
#include <vector>

#include "DisplayAttempts.h"
#include "Forms.h"
#include "VirtualTreeColumns.h"
#include "VirtualTreeDragImage.h"
#include "VirtualTreeHintWindow.h"
#include "VirtualTreesWin.h"
#include "Win32Platform.h"

namespace {

// The screen's pixels in a rectangle (32-bit, top-down).
std::vector<std::uint32_t> Grab(const RECT& r) {
  const int w = r.right - r.left, h = r.bottom - r.top;
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof info.bmiHeader;
  info.bmiHeader.biWidth = w;
  info.bmiHeader.biHeight = -h;
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  HDC dc = CreateCompatibleDC(nullptr);
  void* bits = nullptr;
  HBITMAP section = CreateDIBSection(dc, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  HGDIOBJ old = SelectObject(dc, section);
  HDC screen = GetDC(nullptr);
  BitBlt(dc, 0, 0, w, h, screen, r.left, r.top, SRCCOPY);
  ReleaseDC(nullptr, screen);
  GdiFlush();
  std::vector<std::uint32_t> out(static_cast<const std::uint32_t*>(bits),
                                 static_cast<const std::uint32_t*>(bits) + std::size_t(w) * std::size_t(h));
  SelectObject(dc, old);
  DeleteObject(section);
  DeleteDC(dc);
  return out;
}

// The largest difference of one colour channel between two pictures.
int MaxChannelDifference(const std::vector<std::uint32_t>& a, const std::vector<std::uint32_t>& b) {
  int worst = 0;
  for (std::size_t i = 0; i < a.size() && i < b.size(); ++i)
    for (int shift : {0, 8, 16})
      worst = std::max(worst, std::abs(int((a[i] >> shift) & 0xFF) - int((b[i] >> shift) & 0xFF)));
  return worst;
}

// A picture with a different colour in each quarter.
HBITMAP MakePicture(int w, int h) {
  HDC screen = GetDC(nullptr);
  HBITMAP bitmap = CreateCompatibleBitmap(screen, w, h);
  ReleaseDC(nullptr, screen);
  HDC dc = CreateCompatibleDC(nullptr);
  HGDIOBJ old = SelectObject(dc, bitmap);
  const COLORREF colours[] = {RGB(200, 30, 30), RGB(30, 200, 30), RGB(30, 30, 200), RGB(220, 220, 40)};
  for (int q = 0; q < 4; ++q) {
    HBRUSH brush = CreateSolidBrush(colours[q]);
    const RECT r{(q % 2) * w / 2, (q / 2) * h / 2, (q % 2 + 1) * w / 2, (q / 2 + 1) * h / 2};
    FillRect(dc, &r, brush);
    DeleteObject(brush);
  }
  SelectObject(dc, old);
  DeleteDC(dc);
  return bitmap;
}

void Pump() {
  for (int i = 0; i < 5; ++i) {
    Application->ProcessMessages();
    Sleep(10);
  }
}

class DragImageWinTest : public ::testing::Test {
 protected:
  void SetUp() override {
    InitWin32Platform();
    InitForms();
    InitVirtualTrees();
    form_ = New<TForm>(Application);
    form_->SetBounds(0, 0, 400, 300);
    tree_ = New<TBaseVirtualTree>(form_);
    tree_->SetParent(form_);
    tree_->SetBounds(0, 0, 360, 240);
    form_->Show();
    TVTHeader* header = tree_->GetHeader();
    for (int i = 0; i < 3; ++i) static_cast<TVirtualTreeColumn*>(header->GetColumns()->Add())->SetWidth(100);
    header->SetOptions(header->GetOptions() + TVTHeaderOptions{hoVisible});
    tree_->SetRootNodeCount(30);
    SetForegroundWindow(form_->WindowHandle());
    Pump();
  }
  void TearDown() override {
    FreeAndNil(form_);
    DoneVirtualTrees();
  }
  // A non-client message at a client point of the band.
  void SendNC(UINT msg, int x) {
    POINT p{x, -8};
    ClientToScreen(tree_->WindowHandle(), &p);
    SendMessageW(tree_->WindowHandle(), msg, HTBORDER, MAKELPARAM(p.x, p.y));
  }
  void Move(int x) { SendMessageW(tree_->WindowHandle(), WM_MOUSEMOVE, MK_LBUTTON, MAKELPARAM(x, -8 & 0xFFFF)); }
  // Presses on column 2's caption and drags it onto column 0.
  void StartDrag() {
    SendNC(WM_NCLBUTTONDOWN, 250);
    Move(230);
    Move(40);
  }
  TForm* form_ = nullptr;
  TBaseVirtualTree* tree_ = nullptr;
};

TEST_F(DragImageWinTest, TwoIncrementalMovesLeaveWhatAFreshDrawAtTheSecondPointShows) {
  // The checks read the screen: an attempt that another program's window
  // came over (it takes the foreground) is made again.
  TVTDragImage* image = nullptr;
  RunHoldingTheDisplay(form_->WindowHandle(), 10, [&](TDisplayAttempt&) {
    if (image) image->Free();
    image = New<TVTDragImage>(tree_);
    image->Transparency = 200;
    HBITMAP picture = MakePicture(40, 20);
    POINT origin{60, 60};
    ClientToScreen(tree_->WindowHandle(), &origin);
    image->PrepareDrag(picture, origin, nullptr, POINT{origin.x + 10, origin.y + 10});
    DeleteObject(picture);
    RECT area{origin.x - 20, origin.y - 20, origin.x + 80, origin.y + 60};
    const std::vector<std::uint32_t> before = Grab(area);
    image->ShowImage();
    ASSERT_TRUE(image->Visible());
    EXPECT_GT(MaxChannelDifference(Grab(area), before), 40) << "the picture shows";
    EXPECT_TRUE(image->DragTo(POINT{origin.x + 13, origin.y + 8}, false));
    EXPECT_TRUE(image->DragTo(POINT{origin.x + 17, origin.y + 14}, false));
    const std::vector<std::uint32_t> moved = Grab(area);
    const RECT at = image->ScreenRect();
    EXPECT_EQ(at.left, origin.x + 7);
    EXPECT_EQ(at.top, origin.y + 4);
    // Hiding puts the screen back as it was before the picture came.
    image->HideImage();
    EXPECT_LE(MaxChannelDifference(Grab(area), before), 2);
    // A fresh draw at the second point.
    image->ShowImage();
    EXPECT_LE(MaxChannelDifference(Grab(area), moved), 2);
    image->FinishDrag();
    EXPECT_EQ(image->States() & (kDragImageInDrag | kDragImagePrepared), 0);
    EXPECT_LE(MaxChannelDifference(Grab(area), before), 2);
  });
  if (image) image->Free();
}

TEST_F(DragImageWinTest, WithTheHorizontalRestrictionAVerticalMoveAloneMovesNothing) {
  TVTDragImage* image = New<TVTDragImage>(tree_);
  image->MoveRestriction = kDragMoveHorizontal;
  HBITMAP picture = MakePicture(30, 16);
  image->PrepareDrag(picture, POINT{100, 100}, nullptr, POINT{110, 105});
  DeleteObject(picture);
  image->ShowImage();
  EXPECT_FALSE(image->WillMove(POINT{110, 160}));
  EXPECT_FALSE(image->DragTo(POINT{110, 160}, false));
  EXPECT_EQ(image->ScreenRect().top, 100);
  EXPECT_TRUE(image->DragTo(POINT{130, 160}, false));
  EXPECT_EQ(image->ScreenRect().left, 120);
  EXPECT_EQ(image->ScreenRect().top, 100);
  image->Free();  // ends the drag
}

TEST_F(DragImageWinTest, AColumnDragShowsTheSelfDrawnPictureAndCancelModeEndsItUnchanged) {
  TVTHeader* header = tree_->GetHeader();
  StartDrag();
  ASSERT_TRUE(header->States & kHeaderDragging);
  EXPECT_TRUE(header->DragImage()->Visible());
  EXPECT_EQ(header->DragImage()->States() & kDragImageSystemSupport, 0);
  EXPECT_EQ(GetCapture(), tree_->WindowHandle());
  EXPECT_EQ(header->GetColumns()->DropTarget, 0);
  SendMessageW(tree_->WindowHandle(), WM_CANCELMODE, 0, 0);
  EXPECT_EQ(header->States, 0);
  EXPECT_FALSE(header->DragImage()->Visible());
  EXPECT_EQ(GetCapture(), nullptr);
  EXPECT_EQ(header->GetColumns()->DropTarget, NoColumn);
  SendMessageW(tree_->WindowHandle(), WM_LBUTTONUP, 0, MAKELPARAM(40, -8 & 0xFFFF));
  for (int i = 0; i < 3; ++i)
    EXPECT_EQ(static_cast<TVirtualTreeColumn*>(header->GetColumns()->Items(i))->GetPosition(), std::uint32_t(i));
}

TEST_F(DragImageWinTest, ATreeFreedInTheMiddleOfAColumnDragTakesItsPictureAndTheCaptureAlong) {
  POINT origin{0, -17};
  ClientToScreen(tree_->WindowHandle(), &origin);
  const RECT area{origin.x, origin.y, origin.x + 340, origin.y + 40};
  const std::vector<std::uint32_t> before = Grab(area);
  StartDrag();
  ASSERT_TRUE(tree_->GetHeader()->DragImage()->Visible());
  EXPECT_GT(MaxChannelDifference(Grab(area), before), 10) << "the picture shows over the band";
  FreeAndNil(tree_);
  EXPECT_EQ(GetCapture(), nullptr);
  Pump();
  // The band went with the tree; what shows there now is the form, with no picture left over it.
  form_->Invalidate();
  UpdateWindow(form_->WindowHandle());
  const std::vector<std::uint32_t> after = Grab(area);
  HDC screen = GetDC(nullptr);
  const COLORREF formColour = GetPixel(screen, area.left + 200, area.top + 30);
  ReleaseDC(nullptr, screen);
  int others = 0;
  for (std::uint32_t p : after)
    if ((p & 0xFFFFFF) != (((formColour & 0xFF) << 16) | (formColour & 0xFF00) | ((formColour >> 16) & 0xFF))) ++others;
  EXPECT_EQ(others, 0);
}

TEST_F(DragImageWinTest, AHintShowsWholeWithEachAnimationAndGoesWithItsTree) {
  Application->HintPause = 1;
  Application->HintHidePause = 0;
  FreeAndNil(tree_);
  for (int kind : {0, 1, 2}) {  // none, fade, slide
    SCOPED_TRACE(kind);
    // Hints need the focus in the program and the pointer on the tree, and the
    // face is read from the screen: an attempt that another program disturbed
    // is made again.
    TBaseVirtualTree* tree = nullptr;
    RunHoldingTheDisplay(form_->WindowHandle(), 10, [&](TDisplayAttempt& display) {
      if (tree) tree->Free();
      tree = New<TBaseVirtualTree>(form_);
      tree->SetParent(form_);
      tree->SetBounds(0, 0, 360, 240);
      tree->HintAnimation = kind;
      tree->SetHint("The tree");
      tree->SetShowHint(true);
      tree->SetFocus();  // the tree shows hints while focus is in the program
      POINT p{150, 100};
      ClientToScreen(tree->WindowHandle(), &p);
      auto shown = [] {
        return Application->HintWindow() && IsWindowVisible(Application->HintWindow()->WindowHandle());
      };
      for (int i = 0; i < 100 && !shown() && !display.Disturbed(); ++i) {
        // The real pointer too: the hint is asked for where the cursor is.
        display.MovePointer(p);
        SendMessageW(tree->WindowHandle(), WM_MOUSEMOVE, 0, MAKELPARAM(150, 100));
        Pump();
      }
      auto* hint = dynamic_cast<TVirtualTreeHintWindow*>(Application->HintWindow());
      char under[64] = "";
      GetClassNameA(WindowFromPoint(p), under, sizeof under);
      ASSERT_NE(hint, nullptr) << "the tree's hints show in its own hint window; under the pointer: " << under
                               << ", capture " << GetCapture() << ", focus " << GetFocus() << " (tree "
                               << tree->WindowHandle() << ")";
      ASSERT_TRUE(IsWindowVisible(hint->WindowHandle()));
      EXPECT_EQ(hint->Tree(), tree);
      // Whatever the animation, the hint ends whole: its face is the info colour.
      UpdateWindow(hint->WindowHandle());
      RECT r;
      GetWindowRect(hint->WindowHandle(), &r);
      HDC screen = GetDC(nullptr);
      const COLORREF face = GetPixel(screen, r.left + 2, r.top + 2);
      ReleaseDC(nullptr, screen);
      EXPECT_EQ(face, ColorToRGB(clInfoBk));
      tree->Free();
      tree = nullptr;
      EXPECT_FALSE(IsWindowVisible(hint->WindowHandle()));
      EXPECT_EQ(hint->Tree(), nullptr);
      // Painting the window now reads nothing of the tree.
      RedrawWindow(hint->WindowHandle(), nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW);
      Pump();
    });
    if (tree) tree->Free();
  }
}

TEST_F(DragImageWinTest, TheNodePictureHoldsOnlyTheSelectedRowsAndGoesWithItsTree) {
  TVirtualTreeCore& core = tree_->Tree();
  TVTNode* third = core.NextSiblingOf(core.NextSiblingOf(core.FirstNode()));
  core.SetNodeSelected(third, true);
  const int row = core.DefaultNodeHeight();
  tree_->DragWidth = 120;
  tree_->DragHeight = 6 * row;
  POINT position{};
  HBITMAP picture = tree_->RenderDragImage(POINT{60, 2 * row + row / 2}, position);
  ASSERT_NE(picture, nullptr);
  BITMAP info{};
  GetObject(picture, sizeof info, &info);
  EXPECT_EQ(info.bmWidth, 120);
  EXPECT_EQ(info.bmHeight, 6 * row);
  POINT expected{0, 0};  // centred on x 60 and held inside the client area: from client x 0
  ClientToScreen(tree_->WindowHandle(), &expected);
  EXPECT_EQ(position.x, expected.x);
  // Rows are painted only where a node is selected: the selected row (the picture's middle) and nothing else.
  HDC dc = CreateCompatibleDC(nullptr);
  HGDIOBJ old = SelectObject(dc, picture);
  const COLORREF background = ColorToRGB(tree_->GetColor());
  int paintedInRow = 0, paintedElsewhere = 0;
  for (int y = 0; y < info.bmHeight; ++y)
    for (int x = 0; x < info.bmWidth; x += 3) {
      const bool painted = GetPixel(dc, x, y) != background;
      const int top = y - (info.bmHeight / 2 - row / 2);  // the middle row
      (top >= 0 && top < row ? paintedInRow : paintedElsewhere) += painted ? 1 : 0;
    }
  SelectObject(dc, old);
  DeleteDC(dc);
  DeleteObject(picture);
  EXPECT_GT(paintedInRow, 0);
  EXPECT_EQ(paintedElsewhere, 0);

  tree_->BeginNodeDragImage(POINT{60, 2 * row + row / 2}, nullptr);
  EXPECT_TRUE(tree_->NodeDragImage()->Visible());
  FreeAndNil(tree_);  // the picture and its bitmaps go with the tree
  Pump();
}

TEST_F(DragImageWinTest, ARepaintUnderThePictureIsTakenIntoTheSavedScreen) {
  TVirtualTreeCore& core = tree_->Tree();
  const int row = core.DefaultNodeHeight();
  core.SetNodeSelected(core.NextSiblingOf(core.FirstNode()), true);
  tree_->DragWidth = 200;
  tree_->DragHeight = 5 * row;
  tree_->BeginNodeDragImage(POINT{120, row + row / 2}, nullptr);
  TVTDragImage* image = tree_->NodeDragImage();
  ASSERT_TRUE(image->Visible());
  const RECT area = image->ScreenRect();
  // The tree changes under the picture and paints over it.
  tree_->SetColor(clYellow);
  RedrawWindow(tree_->WindowHandle(), nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW);
  RECT client;
  GetClientRect(tree_->WindowHandle(), &client);
  image->RecaptureBackground(tree_, client, nullptr, true, false);
  const std::vector<std::uint32_t> withPicture = Grab(area);
  // Taken away, the picture leaves what the tree paints now.
  image->HideImage();
  const std::vector<std::uint32_t> left = Grab(area);
  RedrawWindow(tree_->WindowHandle(), nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW);
  EXPECT_LE(MaxChannelDifference(left, Grab(area)), 2);
  // And drawn afresh over that, it looks as it did after the recapture.
  image->ShowImage();
  EXPECT_LE(MaxChannelDifference(Grab(area), withPicture), 2);
  image->FinishDrag();
}

TEST(VirtualTreeHintWindowTest, NonClientMovesLeaveTheHintAloneWhilePressesEndIt) {
  InitWin32Platform();
  InitForms();
  auto* window = New<TVirtualTreeHintWindow>(Application);
  MSG move{}, press{};
  move.message = WM_NCMOUSEMOVE;
  press.message = WM_LBUTTONDOWN;
  EXPECT_FALSE(window->IsHintMsg(press)) << "not while hidden";
  ShowWindow(window->Handle(), SW_SHOWNOACTIVATE);
  EXPECT_TRUE(window->IsHintMsg(press));
  EXPECT_FALSE(window->IsHintMsg(move));
  THintWindow* plain = New<THintWindow>(Application);
  EXPECT_TRUE(plain->IsHintMsg(move));
  plain->Free();
  window->Free();
}

}  // namespace
