// Key events on windowed controls, the dialog code respected by the dialog
// keys, the wheel to the focus window's controls, double clicks, mouse
// capture and the colour and look notices.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ExtCtrls.h"
#include "Forms.h"
#include "StdCtrls.h"

namespace {

// A control that records what reaches it and answers its dialog code.
class TProbe : public TCustomControl {
  FW_CLASS(TProbe, TCustomControl)
 public:
  explicit TProbe(TComponent* owner) : TCustomControl(owner) { SetTabStop(true); }
  LRESULT dialogCode = DLGC_WANTARROWS;
  bool takeWheel = false;
  std::vector<std::string> seen;
  void Dispatch(TMessage& msg) override {
    switch (msg.Msg) {
      case WM_GETDLGCODE:
        msg.Result = dialogCode;
        return;
      case CM_MOUSEWHEEL:
        seen.push_back("wheel " + std::to_string(short(HIWORD(msg.WParam))));
        msg.Result = takeWheel ? 1 : 0;
        return;
      case CM_SYSCOLORCHANGE:
        seen.push_back("syscolor");
        break;
      case CM_CTL3DCHANGED:
        seen.push_back("ctl3d");
        break;
      case WM_KEYDOWN:
        inherited::Dispatch(msg);
        seen.push_back("keydown " + std::to_string(msg.WParam));
        return;
      default:
        break;
    }
    inherited::Dispatch(msg);
  }
};
// clang-format off
FW_BEGIN_CLASS(TProbe)
FW_END_CLASS
// clang-format on

struct Handlers {
  std::vector<std::string> calls;
  std::uint16_t replaceKey = 0xFFFF;  // 0xFFFF: keep
  char replaceChar = 1;               // 1: keep
  void Down(TObject*, std::uint16_t& key, TShiftState shift) {
    calls.push_back("down " + std::to_string(key) + (shift.Contains(ssCtrl) ? " ctrl" : "") +
                    (shift.Contains(ssShift) ? " shift" : ""));
    if (replaceKey != 0xFFFF) key = replaceKey;
  }
  void Up(TObject*, std::uint16_t& key, TShiftState) { calls.push_back("up " + std::to_string(key)); }
  void Press(TObject*, char& key) {
    calls.push_back(std::string("press ") + key);
    if (replaceChar != 1) key = replaceChar;
  }
  void Double(TObject*) { calls.push_back("double"); }
};

class KeyWheelTest : public ::testing::Test {
 protected:
  void SetUp() override {
    InitForms();
    form = TCustomForm::CreateNew<TForm>(Application);
    form->SetBounds(100, 100, 300, 200);
    panel = New<TPanel>(form);
    panel->SetParent(form);
    panel->SetBounds(0, 0, 200, 150);
    probe = New<TProbe>(form);
    probe->SetParent(panel);
    probe->SetBounds(10, 10, 100, 50);
    other = New<TProbe>(form);
    other->SetParent(form);
    other->SetBounds(210, 10, 50, 50);
    form->Show();
    probe->SetFocus();
  }
  void TearDown() override { form->Free(); }
  static void SetModifiers(bool ctrl, bool shift) {
    BYTE keys[256];
    GetKeyboardState(keys);
    keys[VK_CONTROL] = ctrl ? 0x80 : 0;
    keys[VK_SHIFT] = shift ? 0x80 : 0;
    SetKeyboardState(keys);
  }
  TForm* form = nullptr;
  TPanel* panel = nullptr;
  TProbe* probe = nullptr;
  TProbe* other = nullptr;
  Handlers handlers;
};

TEST_F(KeyWheelTest, KeyEventsSeeTheShiftStateAndMayChangeOrSwallowTheKey) {
  probe->OnKeyDown = TKeyEvent::Bind<&Handlers::Down>(&handlers);
  probe->OnKeyUp = TKeyEvent::Bind<&Handlers::Up>(&handlers);
  probe->OnKeyPress = TKeyPressEvent::Bind<&Handlers::Press>(&handlers);
  HWND window = probe->WindowHandle();
  SetModifiers(true, false);
  SendMessageA(window, WM_KEYDOWN, VK_DOWN, 1);
  SetModifiers(false, true);
  SendMessageA(window, WM_KEYDOWN, 'A', 1);
  SetModifiers(false, false);
  SendMessageA(window, WM_KEYUP, 'A', 0xC0000001);
  SendMessageA(window, WM_CHAR, 'x', 1);
  // A changed key reaches the control's own handling changed; a zeroed one
  // as 0, and the window's default handling not at all.
  handlers.replaceKey = VK_UP;
  SendMessageA(window, WM_KEYDOWN, VK_DOWN, 1);
  handlers.replaceKey = 0;
  SendMessageA(window, WM_KEYDOWN, VK_DOWN, 1);
  handlers.replaceChar = 0;
  SendMessageA(window, WM_CHAR, 'y', 1);
  const std::vector<std::string> calls{"down 40 ctrl", "down 65 shift", "up 65",  "press x",
                                       "down 40",      "down 40",       "press y"};
  EXPECT_EQ(handlers.calls, calls);
  const std::vector<std::string> seen{"keydown 40", "keydown 65", "keydown 38", "keydown 0"};
  EXPECT_EQ(probe->seen, seen);
}

TEST_F(KeyWheelTest, TheDialogKeysLeaveAKeyToAControlWhoseDialogCodeAsksForIt) {
  auto press = [](TWinControl* control, WPARAM key) {
    PostMessageA(control->WindowHandle(), WM_KEYDOWN, key, 1);
    Application->ProcessMessages();
  };
  // Without DLGC_WANTTAB the form moves the focus on; the control never sees the key.
  press(probe, VK_TAB);
  EXPECT_FALSE(probe->Focused());
  EXPECT_TRUE(probe->seen.empty());
  // With it the key stays with the control.
  other->SetFocus();
  other->dialogCode = DLGC_WANTARROWS | DLGC_WANTTAB;
  press(other, VK_TAB);
  EXPECT_TRUE(other->Focused());
  EXPECT_EQ(other->seen, std::vector<std::string>{"keydown 9"});
  // Enter reaches a control that wants all keys.
  other->dialogCode = DLGC_WANTALLKEYS;
  press(other, VK_RETURN);
  EXPECT_EQ(other->seen.back(), "keydown 13");
}

TEST_F(KeyWheelTest, TheWheelGoesToTheFocusWindowsControlThenItsParents) {
  // Not taken: it travels up to the form and on to the default handling.
  SendMessageA(probe->WindowHandle(), WM_MOUSEWHEEL, MAKEWPARAM(0, WORD(-240)), MAKELPARAM(150, 150));
  EXPECT_EQ(probe->seen, std::vector<std::string>{"wheel -240"});
  probe->takeWheel = true;
  SendMessageA(probe->WindowHandle(), WM_MOUSEWHEEL, MAKEWPARAM(MK_CONTROL, 120), MAKELPARAM(150, 150));
  EXPECT_EQ(probe->seen.back(), "wheel 120");
  EXPECT_TRUE(other->seen.empty());
  // Sent to the panel's window, only the panel and its parents are asked.
  probe->seen.clear();
  SendMessageA(panel->WindowHandle(), WM_MOUSEWHEEL, MAKEWPARAM(0, 120), MAKELPARAM(150, 150));
  EXPECT_TRUE(probe->seen.empty());
}

TEST_F(KeyWheelTest, DoubleClicksCaptureAndNotices) {
  probe->OnDblClick = TNotifyEvent::Bind<&Handlers::Double>(&handlers);
  SendMessageA(probe->WindowHandle(), WM_LBUTTONDBLCLK, MK_LBUTTON, MAKELPARAM(5, 5));
  SendMessageA(probe->WindowHandle(), WM_LBUTTONUP, 0, MAKELPARAM(5, 5));
  EXPECT_EQ(handlers.calls, std::vector<std::string>{"double"});

  EXPECT_FALSE(probe->GetMouseCapture());
  probe->SetMouseCapture(true);
  EXPECT_EQ(GetCapture(), probe->WindowHandle());
  EXPECT_TRUE(probe->GetMouseCapture());
  probe->SetMouseCapture(false);
  EXPECT_EQ(GetCapture(), nullptr);
  // A graphic control captures through its parent's window.
  auto* label = New<TLabel>(form);
  label->SetParent(panel);
  label->SetBounds(10, 100, 50, 20);
  label->SetMouseCapture(true);
  EXPECT_EQ(GetCapture(), panel->WindowHandle());
  EXPECT_TRUE(label->GetMouseCapture());
  label->SetMouseCapture(false);
  EXPECT_FALSE(label->GetMouseCapture());
  EXPECT_EQ(GetCapture(), nullptr);

  // The system colour change reaches nested controls; Ctl3D tells only on a change.
  SendMessageA(form->WindowHandle(), WM_SYSCOLORCHANGE, 0, 0);
  EXPECT_EQ(probe->seen, std::vector<std::string>{"syscolor"});
  EXPECT_EQ(other->seen, std::vector<std::string>{"syscolor"});
  probe->SetCtl3D(true);
  probe->SetCtl3D(false);
  EXPECT_EQ(probe->seen.back(), "ctl3d");
  EXPECT_EQ(probe->seen.size(), 2u);
  EXPECT_GE(Mouse->DragThreshold, 1);
  EXPECT_EQ(Mouse->DragThreshold, GetSystemMetrics(SM_CXDRAG));
}

}  // namespace
