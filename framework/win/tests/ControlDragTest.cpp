// The framework's control drag: a drag from one control to another on a
// shown form, accepted or refused by the target's drag-over handler,
// dropped, cancelled with Escape, or never started below the threshold.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "DisplayAttempts.h"
#include "ExtCtrls.h"
#include "Forms.h"

namespace {

struct DragLog {
  std::vector<std::string> events;
  bool accept = true;
  void Over(TObject* sender, TObject* source, int x, int y, TDragState state, bool& accepted) {
    const char* names[] = {"enter", "leave", "move"};
    events.push_back(std::string(names[state]) + " " + static_cast<TComponent*>(sender)->Name() + " from " +
                     static_cast<TComponent*>(source)->Name() + " at " + std::to_string(x) + "," + std::to_string(y));
    accepted = accept;
  }
  void Drop(TObject* sender, TObject*, int x, int y) {
    events.push_back("drop " + static_cast<TComponent*>(sender)->Name() + " at " + std::to_string(x) + "," +
                     std::to_string(y));
  }
  void End(TObject*, TObject* target, int, int) {
    events.push_back(std::string("end ") + (target ? static_cast<TComponent*>(target)->Name() : "nowhere"));
  }
};

class ControlDragTest : public ::testing::Test {
 protected:
  void SetUp() override {
    InitForms();
    form = TCustomForm::CreateNew<TForm>(Application);
    form->SetBounds(100, 100, 400, 200);
    source = New<TPanel>(form);
    source->SetName("Source");
    source->SetParent(form);
    source->SetBounds(10, 10, 100, 100);
    target = New<TPanel>(form);
    target->SetName("Target");
    target->SetParent(form);
    target->SetBounds(200, 10, 100, 100);
    target->OnDragOver = TDragOverEvent::Bind<&DragLog::Over>(&log);
    target->OnDragDrop = TDragDropEvent::Bind<&DragLog::Drop>(&log);
    source->OnEndDrag = TEndDragEvent::Bind<&DragLog::End>(&log);
    form->Show();
    Application->ProcessMessages();
    // A drag begins where the mouse is: every test starts with it over the source,
    // wherever an earlier test left it.
    PlaceCursor(source, 50, 50);
  }
  void TearDown() override { form->Free(); }
  // Puts the mouse on the control's client point (x, y) and waits until the
  // system reports it there: under load the display takes its time, and a
  // drag that begins reads the mouse's place from the system.
  static POINT PlaceCursor(TWinControl* control, int x, int y) {
    POINT p{x, y};
    ClientToScreen(control->WindowHandle(), &p);
    for (int tries = 0; tries < 200; ++tries) {
      SetCursorPos(p.x, p.y);
      POINT now{};
      if (GetCursorPos(&now) && now.x == p.x && now.y == p.y) break;
      Sleep(10);
    }
    return p;
  }
  // Moves the mouse over the target's client point (x, y); the message goes
  // to the window that holds the mouse, in its client coordinates.
  void MoveOverTarget(int x, int y, TDisplayAttempt* display = nullptr) {
    POINT p = PlaceCursor(target, x, y);
    if (display) display->MovePointer(p);
    ScreenToClient(source->WindowHandle(), &p);
    SendMessageA(source->WindowHandle(), WM_MOUSEMOVE, MK_LBUTTON, MAKELPARAM(p.x, p.y));
  }
  DragLog log;
  TForm* form = nullptr;
  TPanel* source = nullptr;
  TPanel* target = nullptr;
};

// A drag holds the mouse: another program of the display that takes the
// foreground ends it (as it must), so such an attempt is run again.
TEST_F(ControlDragTest, AnAcceptedDragDropsOnTheTarget) {
  RunHoldingTheDisplay(form->WindowHandle(), 10, [&](TDisplayAttempt& display) {
    log.events.clear();
    display.MovePointer(PlaceCursor(source, 50, 50));
    source->BeginDrag(true);
    EXPECT_TRUE(source->Dragging());
    EXPECT_EQ(GetCapture(), source->WindowHandle());
    MoveOverTarget(20, 30, &display);
    MoveOverTarget(25, 35, &display);
    SendMessageA(source->WindowHandle(), WM_LBUTTONUP, 0, 0);
    EXPECT_FALSE(source->Dragging());
    EXPECT_NE(GetCapture(), source->WindowHandle());
    const std::vector<std::string> expected{"enter Target from Source at 20,30", "move Target from Source at 20,30",
                                            "move Target from Source at 25,35", "drop Target at 25,35", "end Target"};
    EXPECT_EQ(log.events, expected);
    if (source->Dragging()) source->EndDrag(false);
  });
}

TEST_F(ControlDragTest, RefusedOrCancelledDragsEndNowhere) {
  RunHoldingTheDisplay(form->WindowHandle(), 10, [&](TDisplayAttempt& display) {
    log.accept = false;
    log.events.clear();
    display.MovePointer(PlaceCursor(source, 50, 50));
    source->BeginDrag(true);
    MoveOverTarget(20, 30, &display);
    SendMessageA(source->WindowHandle(), WM_LBUTTONUP, 0, 0);
    ASSERT_FALSE(log.events.empty());
    EXPECT_EQ(log.events.front(), "enter Target from Source at 20,30");
    EXPECT_EQ(log.events.back(), "end nowhere");
    // Escape cancels an accepted drag (started over the source again).
    log.accept = true;
    log.events.clear();
    display.MovePointer(PlaceCursor(source, 50, 50));
    source->BeginDrag(true);
    MoveOverTarget(20, 30, &display);
    SendMessageA(source->WindowHandle(), WM_KEYDOWN, VK_ESCAPE, 1);
    EXPECT_FALSE(source->Dragging());
    const std::vector<std::string> expected{"enter Target from Source at 20,30", "move Target from Source at 20,30",
                                            "end nowhere"};
    EXPECT_EQ(log.events, expected);
    if (source->Dragging()) source->EndDrag(false);
  });
}

TEST_F(ControlDragTest, BelowTheThresholdNothingIsDraggedAndTheReleaseGoesOn) {
  source->BeginDrag(false, 50);
  SendMessageA(source->WindowHandle(), WM_MOUSEMOVE, MK_LBUTTON, MAKELPARAM(52, 53));
  EXPECT_TRUE(source->Dragging());
  SendMessageA(source->WindowHandle(), WM_LBUTTONUP, 0, MAKELPARAM(52, 53));
  EXPECT_FALSE(source->Dragging());
  EXPECT_EQ(log.events, std::vector<std::string>{"end nowhere"});
  // Automatic drag mode starts a pending drag on a left press.
  source->SetDragMode(dmAutomatic);
  SendMessageA(source->WindowHandle(), WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(50, 50));
  EXPECT_TRUE(source->Dragging());
  source->EndDrag(false);
  EXPECT_FALSE(source->Dragging());
}

TEST_F(ControlDragTest, AFreedTargetLeavesTheDrag) {
  source->BeginDrag(true);
  MoveOverTarget(20, 30);
  FreeAndNil(target);
  SendMessageA(source->WindowHandle(), WM_LBUTTONUP, 0, 0);
  EXPECT_EQ(log.events.back(), "end nowhere");
}

}  // namespace
