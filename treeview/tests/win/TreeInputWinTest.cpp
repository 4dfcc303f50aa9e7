// The tree's input through its window under Wine: typing to search, the
// space key on a tri-state child, wheel panning with its popup window and
// timer 4, hot tracking with the hot cursor, the popup menu event, and
// failing event handlers that stay inside the window procedure; scrolling by
// the scroll bar and the wheel, which moves the painted rows and the tree's
// child windows.
#include <gtest/gtest.h>

#include <cctype>
#include <stdexcept>
#include <string>
#include <vector>

#include "DisplayAttempts.h"
#include "Forms.h"
#include "Graphics.h"
#include "Menus.h"
#include "PaintCanvas.h"
#include "TreeOnForm.h"
#include "VirtualTreeTransferWin.h"
#include "VirtualTreesWin.h"
#include "Win32Platform.h"

namespace {

constexpr int kRow = 18;

// Labels 60 pixels wide; every node named by its index from a list.
class TNamedTree : public TBaseVirtualTree {
  FW_CLASS(TNamedTree, TBaseVirtualTree)
 public:
  explicit TNamedTree(TComponent* owner) : TBaseVirtualTree(owner) {}

 protected:
  int MeasureNodeWidth(TVTNode*, int) override { return 60; }
};

// clang-format off
FW_BEGIN_CLASS(TNamedTree)
FW_END_CLASS
// clang-format on

// What reaches the application's handling from a window procedure.
std::vector<std::exception_ptr> handled;
void RecordCallbackException(std::exception_ptr error) {
  handled.push_back(error);
}
void RecordException(TApplication*, TObject*, std::exception_ptr error) {
  handled.push_back(error);
}

class TreeInputTest : public TreeOnFormTest<TNamedTree> {
 protected:
  void SetUp() override {
    TreeOnFormTest::SetUp();
    tree_->SetRootNodeCount(50);
    for (TVTNode* n = Core().FirstNode(); n; n = Core().NextSiblingOf(n)) rows_.push_back(n);
    tree_->OnIncrementalSearch = decltype(tree_->OnIncrementalSearch)::Bind<&TreeInputTest::Search>(this);
    savedHook_ = HandleExceptionHook;
    HandleExceptionHook = &RecordException;
    savedCallbackHandler_ = SetCallbackExceptionHandler(&RecordCallbackException);
    handled.clear();
  }
  void TearDown() override {
    HandleExceptionHook = savedHook_;
    SetCallbackExceptionHandler(savedCallbackHandler_);
    TreeOnFormTest::TearDown();
  }
  TVirtualTreeCore& Core() { return tree_->Tree(); }
  HWND Window() { return tree_->WindowHandle(); }
  void Send(UINT msg, WPARAM keys, int x, int y) { SendMessageW(Window(), msg, keys, MAKELPARAM(x, y)); }
  // The real mouse goes to a client point too, so that the system's own moves agree.
  void MoveMouse(int x, int y) {
    POINT p{x, y};
    ClientToScreen(Window(), &p);
    SetCursorPos(p.x, p.y);
    Send(WM_MOUSEMOVE, 0, x, y);
  }
  void Type(char ch) {
    SendMessageW(Window(), WM_KEYDOWN, WPARAM(std::toupper(ch)), 1);
    SendMessageW(Window(), WM_CHAR, WPARAM(ch), 1);
    SendMessageW(Window(), WM_KEYUP, WPARAM(std::toupper(ch)), LPARAM(0xC0000001u));
  }
  // Runs the message loop until `done` holds or about five seconds passed.
  template <class F>
  bool PumpUntil(F done) {
    for (int i = 0; i < 500 && !done(); ++i) {
      MSG msg;
      while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
      }
      Sleep(10);
    }
    return done();
  }
  // Names: "apple" for row 0, "bean" for rows 3 and 7, "cherry" for the rest.
  void Search(TObject*, TVTNode* node, const std::u16string& text, int& result) {
    if (failSearch) throw std::runtime_error("search handler failed");
    const std::u16string name = node->Index == 0                         ? u"apple"
                                : (node->Index == 3 || node->Index == 7) ? u"bean"
                                                                         : u"cherry";
    result = name.compare(0, text.size(), text) == 0 ? 0 : 1;
  }
  bool failSearch = false;
  std::vector<TVTNode*> rows_;
  THandleExceptionProc savedHook_ = nullptr;
  CallbackExceptionHandler savedCallbackHandler_ = nullptr;
};

}  // namespace

TEST_F(TreeInputTest, TypingTheSameLetterTwiceFocusesTheSecondMatch) {
  tree_->IncrementalSearch = isAll;
  Type('b');
  EXPECT_EQ(Core().FocusedNode(), rows_[3]);
  Type('b');
  EXPECT_EQ(Core().FocusedNode(), rows_[7]);
  EXPECT_EQ(Core().Selection(), std::vector<TVTNode*>{rows_[7]});
  EXPECT_EQ(tree_->Search().SearchText(), u"b");
  // Timer 7 ends the search: the text empties.
  EXPECT_TRUE(PumpUntil([&] { return tree_->Search().SearchText().empty(); }));
  EXPECT_FALSE(Core().HasTreeState(tsIncrementalSearching));

  // Search mode 1 (the default) ignores typed characters.
  tree_->IncrementalSearch = isNone;
  Type('a');
  EXPECT_EQ(Core().FocusedNode(), rows_[7]);
}

TEST_F(TreeInputTest, ARaisingSearchHandlerGoesToTheApplication) {
  tree_->IncrementalSearch = isAll;
  failSearch = true;
  Type('b');
  ASSERT_EQ(handled.size(), 1u);
  EXPECT_THROW(std::rethrow_exception(handled[0]), std::runtime_error);
  EXPECT_TRUE(IsWindow(Window()));
}

TEST_F(TreeInputTest, SpaceOnATriStateChildMixesItsParentWithThePressedLookBetween) {
  TVirtualTreeCore& tree = Core();
  tree.OptionBits.Misc |= voCheckSupport;
  tree.SetChildCount(rows_[0], 2);
  tree.SetExpanded(rows_[0], true);
  TVTNode* first = tree.FirstChildOf(rows_[0]);
  TVTNode* second = tree.NextSiblingOf(first);
  tree.SetCheckType(rows_[0], ctTriStateCheckBox);
  tree.SetCheckType(first, ctTriStateCheckBox);
  tree.SetCheckType(second, ctTriStateCheckBox);
  tree.SetCheckState(rows_[0], csCheckedNormal);
  ASSERT_EQ(first->CheckState, csCheckedNormal);
  tree.SetFocusedNode(first);
  SendMessageW(Window(), WM_KEYDOWN, VK_SPACE, 1);
  EXPECT_EQ(first->CheckState, csCheckedPressed);
  SendMessageW(Window(), WM_KEYUP, VK_SPACE, LPARAM(0xC0000001u));
  EXPECT_EQ(first->CheckState, csUncheckedNormal);
  EXPECT_EQ(rows_[0]->CheckState, csMixedNormal);
}

TEST_F(TreeInputTest, TheMiddleButtonPansWithItsWindowAndTimerFour) {
  TVirtualTreeCore& tree = Core();
  tree.AutoScrollDelay = 0;
  ASSERT_TRUE(tree.OptionBits.Misc & voWheelPanning);
  // The pan reads the pointer on every tick and ends when the program loses
  // the foreground: it is tried again when another program took either.
  RunHoldingTheDisplay(Window(), 10, [&](TDisplayAttempt& display) {
    tree_->EndWheelPanning();
    tree.SetOffsetY(0);
    POINT anchor{150, 60};
    ClientToScreen(Window(), &anchor);
    display.MovePointer(anchor);
    Send(WM_MBUTTONDOWN, MK_MBUTTON, 150, 60);
    HWND panning = tree_->PanningWindow();
    ASSERT_NE(panning, nullptr);
    char name[64] = {};
    GetClassNameA(panning, name, sizeof name);
    EXPECT_STREQ(name, "VTPanningWindow");
    EXPECT_TRUE(GetWindowLongA(panning, GWL_EXSTYLE) & WS_EX_TOOLWINDOW);
    RECT bounds;
    GetWindowRect(panning, &bounds);
    EXPECT_EQ(bounds.right - bounds.left, 32);
    EXPECT_EQ(bounds.bottom - bounds.top, 32);
    EXPECT_EQ(bounds.left, anchor.x - 16);
    EXPECT_EQ(bounds.top, anchor.y - 16);
    // The region leaves out the picture's magenta pixels: smaller than the square.
    HRGN region = CreateRectRgn(0, 0, 0, 0);
    EXPECT_NE(GetWindowRgn(panning, region), ERROR);
    RECT box;
    GetRgnBox(region, &box);
    EXPECT_LE(box.right - box.left, 32);
    EXPECT_FALSE(PtInRegion(region, 0, 0)) << "the picture's corner is transparent";
    DeleteObject(region);
    EXPECT_EQ(GetCapture(), Window());
    EXPECT_NE(tree_->PanningCursor(), nullptr);

    // The release keeps panning; the mouse below the anchor scrolls down on timer 4.
    Send(WM_MBUTTONUP, 0, 150, 60);
    EXPECT_TRUE(tree.HasTreeState(tsWheelScrolling));
    POINT below{150, 150};
    ClientToScreen(Window(), &below);
    display.MovePointer(below);
    Send(WM_MOUSEMOVE, 0, 150, 150);
    EXPECT_EQ(tree.AutoScrollDirections, 8);
    EXPECT_TRUE(PumpUntil([&] { return tree.OffsetY() < 0 || display.Disturbed(); }));
    EXPECT_LT(tree.OffsetY(), 0);

    // Any press ends it: the window goes and the mouse is free.
    Send(WM_LBUTTONDOWN, MK_LBUTTON, 150, 150);
    Send(WM_LBUTTONUP, 0, 150, 150);
    EXPECT_EQ(tree_->PanningWindow(), nullptr);
    EXPECT_FALSE(IsWindow(panning));
    EXPECT_FALSE(tree.HasTreeState(tsWheelPanning) || tree.HasTreeState(tsWheelScrolling));
    EXPECT_NE(GetCapture(), Window());
  });
}

// The client area's pixels as the screen shows them now.
void Snapshot(HWND window, Canvas& canvas) {
  HDC dc = GetDC(window);
  BitBlt(canvas.dc, 0, 0, canvas.width, canvas.height, dc, 0, 0, SRCCOPY);
  ReleaseDC(window, dc);
  GdiFlush();
}

// Left of the child window: whether every pixel row y of `after` shows row y + shift of `before`.
bool ShiftedUp(const Canvas& before, const Canvas& after, int shift, int width) {
  for (int y = 0; y + shift < before.height; ++y)
    if (after.Block(0, y, width, 1) != before.Block(0, y + shift, width, 1)) return false;
  return true;
}

TEST_F(TreeInputTest, ScrollingMovesThePaintedRowsTheScrollBarAndTheChildWindows) {
  struct Case {
    const char* name;
    bool wheel;
    bool picture;  // a background picture: children move, everything is painted anew
    int distance;
  };
  const Case cases[] = {
      {"scroll bar line down", false, false, 20},
      {"wheel notch down", true, false, kRow},
      {"scroll bar with a background picture", false, true, 20},
  };
  TVirtualTreeCore& tree = Core();
  tree.OptionBits.Paint |= voPopupMode;  // the selection shows without the focus
  tree.SetNodeSelected(rows_[2], true);
  tree.SetNodeSelected(rows_[5], true);
  RECT client;
  GetClientRect(Window(), &client);
  const int width = 180;  // left of the child window
  ASSERT_GT(client.right, 250);
  Canvas source(7, 5);
  for (int i = 0; i < 7 * 5; ++i) source.bits[i] = std::uint32_t(0x203040 + i * 0x050301);
  TOwned<TBitmap> bitmap(New<TBitmap>());
  SelectObject(source.dc, source.old);
  bitmap->SetHandle(source.bitmap);
  source.bitmap = CreateBitmap(1, 1, 1, 1, nullptr);  // the bitmap owns the section now
  source.old = SelectObject(source.dc, source.bitmap);
  TOwned<TPicture> picture(New<TPicture>());
  picture->SetGraphic(bitmap.get());
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    if (c.picture) {
      tree_->SetBackgroundPicture(picture.get());
      tree.OptionBits.Paint |= voShowBackground;
    }
    tree.SetOffsetY(0);
    HWND child = CreateWindowExW(0, L"STATIC", L"", WS_CHILD | WS_VISIBLE, 200, 100, 40, 20, Window(), nullptr,
                                 GetModuleHandleW(nullptr), nullptr);
    ASSERT_NE(child, nullptr);
    RedrawWindow(Window(), nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN);
    Canvas before(client.right, client.bottom);
    Snapshot(Window(), before);

    if (c.wheel)
      SendMessageW(Window(), WM_MOUSEWHEEL, MAKEWPARAM(0, WORD(-WHEEL_DELTA)), MAKELPARAM(100, 100));
    else
      SendMessageW(Window(), WM_VSCROLL, SB_LINEDOWN, 0);
    EXPECT_EQ(tree.OffsetY(), -c.distance);
    EXPECT_EQ(GetScrollPos(Window(), SB_VERT), c.distance);
    RECT moved;
    GetWindowRect(child, &moved);
    MapWindowPoints(nullptr, Window(), reinterpret_cast<POINT*>(&moved), 2);
    EXPECT_EQ(moved.left, 200);
    EXPECT_EQ(moved.top, 100 - c.distance);

    // Scrolled, the rows' pixels have moved before any painting and only the
    // uncovered strip waits; a picture behind them leaves everything to paint.
    HRGN pending = CreateRectRgn(0, 0, 0, 0);
    ASSERT_NE(GetUpdateRgn(Window(), pending, FALSE), ERROR);
    EXPECT_TRUE(PtInRegion(pending, 50, client.bottom - 3));
    EXPECT_EQ(bool(PtInRegion(pending, 50, 40)), c.picture);
    DeleteObject(pending);
    Canvas after(client.right, client.bottom);
    if (!c.picture) {
      Snapshot(Window(), after);
      EXPECT_TRUE(ShiftedUp(before, after, c.distance, width));
    }
    UpdateWindow(Window());
    Snapshot(Window(), after);
    EXPECT_TRUE(ShiftedUp(before, after, c.distance, width));
    EXPECT_FALSE(ShiftedUp(before, after, 0, width)) << "the rows differ from each other";
    DestroyWindow(child);
  }
}

TEST_F(TreeInputTest, MovingOverACaptionMakesTheHotNodeAndShowsTheHotCursor) {
  TVirtualTreeCore& tree = Core();
  tree.OptionBits.Paint |= voHotTrack;
  tree_->HotCursor = crHandPoint;
  struct Hot {
    std::vector<TVTNode*> nodes;
    void Changed(TObject*, TVTNode*, TVTNode* node) { nodes.push_back(node); }
  } hot;
  tree.OnHotChange = decltype(tree.OnHotChange)::Bind<&Hot::Changed>(&hot);
  MoveMouse(40, 2 * kRow + 9);
  EXPECT_EQ(tree.HotNode(), rows_[2]);
  SendMessageW(Window(), WM_SETCURSOR, WPARAM(Window()), MAKELPARAM(HTCLIENT, WM_MOUSEMOVE));
  EXPECT_EQ(GetCursor(), ScreenCursorHandle(crHandPoint));
  MoveMouse(200, 2 * kRow + 9);  // right of the caption
  EXPECT_EQ(tree.HotNode(), nullptr);
  EXPECT_EQ(hot.nodes, (std::vector<TVTNode*>{rows_[2], nullptr}));
}

TEST_F(TreeInputTest, ThePopupMenuEventIsAskedForTheNodeThenItsParents) {
  TVirtualTreeCore& tree = Core();
  tree.SetChildCount(rows_[0], 1);
  tree.SetExpanded(rows_[0], true);
  TVTNode* child = tree.FirstChildOf(rows_[0]);
  struct Menus {
    TPopupMenu* menu = nullptr;
    TVTNode* owner = nullptr;  // the node whose question gives the menu
    bool stopAtChild = false;
    std::vector<TVTNode*> asked;
    void Get(TObject*, TVTNode* node, int, POINT, bool& askParent, TComponent*& result) {
      asked.push_back(node);
      if (node == owner) result = menu;
      if (stopAtChild) askParent = false;
    }
  } menus;
  menus.menu = New<TPopupMenu>(form_);
  menus.owner = rows_[0];
  tree_->OnGetPopupMenu = decltype(tree_->OnGetPopupMenu)::Bind<&Menus::Get>(&menus);
  EXPECT_EQ(tree_->GetNodePopupMenu(child, NoColumn, POINT{5, 5}), menus.menu);
  EXPECT_EQ(menus.asked, (std::vector<TVTNode*>{child, rows_[0]}));
  menus.asked.clear();
  menus.stopAtChild = true;
  EXPECT_EQ(tree_->GetNodePopupMenu(child, NoColumn, POINT{5, 5}), nullptr);
  EXPECT_EQ(menus.asked, std::vector<TVTNode*>{child});
  menus.asked.clear();
  EXPECT_EQ(tree_->GetNodePopupMenu(nullptr, NoColumn, POINT{5, 5}), nullptr);
  EXPECT_EQ(menus.asked, std::vector<TVTNode*>{nullptr});
}

TEST_F(TreeInputTest, HintAnimationKindAndKeyboardCharacters) {
  for (int kind : {0, 1, 2}) {
    tree_->HintAnimation = kind;
    EXPECT_EQ(tree_->GetHintAnimationKind(), kind);
  }
  tree_->HintAnimation = 3;
  const int system = tree_->GetHintAnimationKind();
  EXPECT_TRUE(system >= 0 && system <= 2);

  EXPECT_EQ(KeyboardCharToWide('b'), u'b');
  // The US keyboard's language reads Windows-1252: 0xE9 is e acute, 0x80 the euro sign.
  EXPECT_EQ(KeyboardCharToWide(char(0xE9)), u'\u00E9');
  EXPECT_EQ(KeyboardCharToWide(char(0x80)), u'\u20AC');
}

TEST_F(TreeInputTest, AnAutomaticDragStartsBeyondTheThresholdAndEndsWithoutADragManager) {
  TVirtualTreeCore& tree = Core();
  struct Ends {
    int count = 0;
    void Ended(TObject*, TObject*, int, int) { ++count; }
  } ends;
  tree_->OnEndDrag = decltype(tree_->OnEndDrag)::Bind<&Ends::Ended>(&ends);
  tree_->SetDragMode(dmAutomatic);
  Send(WM_LBUTTONDOWN, MK_LBUTTON, 40, 2 * kRow + 9);
  EXPECT_TRUE(tree.HasTreeState(tsOLEDragPending));
  EXPECT_EQ(tree.FocusedNode(), rows_[2]);
  Send(WM_MOUSEMOVE, MK_LBUTTON, 40, 2 * kRow + 9 + tree.DragThreshold());
  EXPECT_FALSE(tree.HasTreeState(tsOLEDragPending));
  EXPECT_FALSE(tree.HasTreeState(tsOLEDragging));
  EXPECT_EQ(ends.count, 1) << "the framework's end of drag";
  EXPECT_EQ(tree.Selection(), std::vector<TVTNode*>{rows_[2]});
  Send(WM_LBUTTONUP, 0, 40, 40);
}

namespace {

TEST_F(TreeInputTest, TheTimingSettingsReachTheTimersThatUseThemAndAreAssigned) {
  tree_->SetAutoScrollDelay(310);
  tree_->SetAutoScrollInterval(7);
  tree_->SetEditDelay(620);
  tree_->SetAnimationDuration(90);
  tree_->SetAutoExpandDelay(450);
  EXPECT_EQ(Core().AutoScrollDelay, 310u);
  EXPECT_EQ(Core().AutoScrollInterval, 7u);
  EXPECT_EQ(tree_->MouseInput().EditDelay, 620u);
  EXPECT_EQ(Core().AnimationDuration, 90u);
  EXPECT_EQ(tree_->DropHandler().ExpandDelay, 450u) << "a drop handler made after the setting";
  tree_->SetAutoExpandDelay(460);
  EXPECT_EQ(tree_->DropHandler().ExpandDelay, 460u) << "a drop handler made before it";
  auto* copy = New<TNamedTree>(form_);
  copy->SetParent(form_);
  copy->Assign(tree_);
  EXPECT_EQ(copy->Tree().AutoScrollDelay, 310u);
  EXPECT_EQ(copy->Tree().AutoScrollInterval, 7u);
  EXPECT_EQ(copy->MouseInput().EditDelay, 620u);
  EXPECT_EQ(copy->Tree().AnimationDuration, 90u);
  EXPECT_EQ(copy->DropHandler().ExpandDelay, 460u);
}

}  // namespace
