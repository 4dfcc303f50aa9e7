// The control under the mouse (enter and leave), hints, and cursors from Screen->Cursors.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "Forms.h"
#include "PumpingWait.h"
#include "StdCtrls.h"

namespace {

struct EventLog {
  std::vector<std::string> events;
  void Enter(TObject* sender) { events.push_back("enter " + static_cast<TComponent*>(sender)->Name()); }
  void Leave(TObject* sender) { events.push_back("leave " + static_cast<TComponent*>(sender)->Name()); }
};

class MouseHintTest : public ::testing::Test {
 protected:
  void SetUp() override {
    InitForms();
    form = TCustomForm::CreateNew<TForm>(Application);
    form->SetName("Form");
    form->SetBounds(100, 100, 300, 200);
    label = New<TLabel>(form);
    label->SetName("Link");
    label->SetParent(form);
    label->SetAutoSize(false);
    label->SetBounds(10, 10, 100, 20);
    button = New<TButton>(form);
    button->SetName("Button");
    button->SetParent(form);
    button->SetBounds(10, 100, 75, 25);
    for (TControl* c : std::initializer_list<TControl*>{form, label, button}) {
      c->OnMouseEnter = TNotifyEvent::Bind<&EventLog::Enter>(&log);
      c->OnMouseLeave = TNotifyEvent::Bind<&EventLog::Leave>(&log);
    }
    form->Show();
  }
  void TearDown() override {
    form->Free();
    EXPECT_EQ(MouseControl(), nullptr) << "a freed control is no longer the mouse control";
    Application->HintPause = 500;
  }
  static void Move(HWND wnd, int x, int y) { SendMessageA(wnd, WM_MOUSEMOVE, 0, MAKELPARAM(x, y)); }
  EventLog log;
  TForm* form = nullptr;
  TLabel* label = nullptr;
  TButton* button = nullptr;
};

TEST_F(MouseHintTest, EnterAndLeaveFollowTheMouseOverGraphicAndWindowedControls) {
  struct Step {
    const char* what;
    int window;  // 0: the form's window, 1: the button's; -1: the mouse leaves the button's window
    int x, y;
    std::vector<std::string> expected;
  };
  const Step steps[] = {
      {"onto the label", 0, 20, 15, {"enter Link"}},
      {"within the label", 0, 30, 15, {}},
      {"off the label onto the form", 0, 200, 150, {"leave Link", "enter Form"}},
      {"onto the button's window", 1, 5, 5, {"leave Form", "enter Button"}},
      {"the form's late leave changes nothing", 2, 0, 0, {}},
      {"out of the button", -1, 0, 0, {"leave Button"}},
      {"back onto the label", 0, 15, 12, {"enter Link"}},
  };
  for (const Step& s : steps) {
    SCOPED_TRACE(s.what);
    log.events.clear();
    if (s.window == 0) Move(form->WindowHandle(), s.x, s.y);
    if (s.window == 1) Move(button->WindowHandle(), s.x, s.y);
    if (s.window == 2) SendMessageA(form->WindowHandle(), WM_MOUSELEAVE, 0, 0);
    if (s.window == -1) SendMessageA(button->WindowHandle(), WM_MOUSELEAVE, 0, 0);
    EXPECT_EQ(log.events, s.expected);
  }
  EXPECT_EQ(MouseControl(), label);
}

TEST_F(MouseHintTest, ShowHintFollowsTheParentUntilSetItself) {
  struct Case {
    bool formShowHint;
    int labelShowHint;  // -1: left to the parent
    bool expected, parentShowHint;
  };
  const Case cases[] = {
      {false, -1, false, true},
      {true, -1, true, true},
      {true, 0, false, false},
      {false, 1, true, false},
  };
  for (const Case& c : cases) {
    label->SetParentShowHint(true);
    form->SetShowHint(c.formShowHint);
    if (c.labelShowHint >= 0) label->SetShowHint(c.labelShowHint == 1);
    EXPECT_EQ(label->GetShowHint(), c.expected);
    EXPECT_EQ(label->GetParentShowHint(), c.parentShowHint);
    EXPECT_EQ(label->IsShowHintStored(), !c.parentShowHint);
  }
}

// A label that changes its hint when asked (CM_HINTSHOW).
struct HintChanger {
  TWndMethod original;
  int asked = 0;
  void Handle(TMessage& msg) {
    if (msg.Msg == CM_HINTSHOW) {
      ++asked;
      reinterpret_cast<THintInfo*>(msg.LParam)->HintStr += " (more)";
    }
    original(msg);
  }
};

TEST_F(MouseHintTest, AHintShowsWhenTheMouseRestsAndGoesWhenItMovesOn) {
  Application->HintPause = 1;
  form->SetShowHint(true);
  label->SetHint("Not sure what type is yours?");
  HintChanger changer{label->WindowProc};
  label->WindowProc = TWndMethod::Bind<&HintChanger::Handle>(&changer);

  // Hints ask where the mouse really is: put it on the label.
  POINT at = label->ClientToScreen(POINT{5, 5});
  SetCursorPos(at.x, at.y);
  Move(form->WindowHandle(), label->GetLeft() + 5, label->GetTop() + 5);
  EXPECT_EQ(Application->GetHint(), "Not sure what type is yours?");
  PumpingWaitUntil(5000, [] { return Application->HintWindow() && Application->HintWindow()->GetVisible(); });
  ASSERT_NE(Application->HintWindow(), nullptr);
  THintWindow* hint = Application->HintWindow();
  EXPECT_TRUE(IsWindowVisible(hint->WindowHandle()));
  EXPECT_EQ(changer.asked, 1);
  char text[128] = {};
  GetWindowTextA(hint->WindowHandle(), text, sizeof text);
  EXPECT_STREQ(text, "Not sure what type is yours? (more)");
  EXPECT_GE(hint->GetTop(), at.y) << "below the mouse";

  Move(form->WindowHandle(), 200, 150);  // onto the form, which has no hint
  EXPECT_FALSE(IsWindowVisible(hint->WindowHandle()));
  EXPECT_EQ(Application->GetHint(), "");
  label->WindowProc = changer.original;
}

TEST_F(MouseHintTest, NoHintWithoutShowHintOrText) {
  Application->HintPause = 1;
  label->SetHint("hidden");
  label->SetShowHint(false);
  button->SetShowHint(true);  // but no text
  Move(form->WindowHandle(), label->GetLeft() + 5, label->GetTop() + 5);
  Move(button->WindowHandle(), 5, 5);
  PumpingWait(50);
  EXPECT_TRUE(!Application->HintWindow() || !Application->HintWindow()->GetVisible());
}

// A control that answers CM_HINTSHOW for a band it paints outside its client area.
struct BandHint {
  TWndMethod original;
  int asked = 0;
  POINT cursor{};
  void Handle(TMessage& msg) {
    if (msg.Msg == CM_HINTSHOW) {
      ++asked;
      auto* info = reinterpret_cast<THintInfo*>(msg.LParam);
      cursor = info->CursorPos;
      info->HintStr = "band";
    }
    original(msg);
  }
};

TEST_F(MouseHintTest, ANonClientMoveAsksForAHintThatAClientLeaveKeepsAndTheControlEnds) {
  Application->HintPause = 1;
  button->SetShowHint(true);  // no Hint text: the band's answer gives it
  BandHint band{button->WindowProc};
  button->WindowProc = TWndMethod::Bind<&BandHint::Handle>(&band);
  auto shown = [] { return Application->HintWindow() && Application->HintWindow()->GetVisible(); };

  // The pointer away from the form, and the system's moves over it handled first: a client move ends the request.
  SetCursorPos(form->GetLeft() + form->GetWidth() + 50, form->GetTop() + form->GetHeight() + 50);
  PumpingWait(50);
  Application->NonClientHintMouseMove(button, POINT{7, -6});
  SetMouseControl(nullptr);  // the client area's leave, as the mouse enters the band
  PumpingWaitUntil(5000, shown);
  ASSERT_TRUE(shown());
  EXPECT_EQ(band.asked, 1);
  EXPECT_EQ(band.cursor.x, 7);
  EXPECT_EQ(band.cursor.y, -6);
  char text[32] = {};
  GetWindowTextA(Application->HintWindow()->WindowHandle(), text, sizeof text);
  EXPECT_STREQ(text, "band");

  Application->EndNonClientHint(form);  // not the asking control: nothing ends
  EXPECT_TRUE(shown());
  Application->EndNonClientHint(button);
  EXPECT_FALSE(shown());
  PumpingWait(50);
  EXPECT_FALSE(shown());
  EXPECT_EQ(band.asked, 1);

  // A control that goes while its hint waits is forgotten: no hint shows for it.
  Application->HintPause = 30;
  Application->NonClientHintMouseMove(button, POINT{7, -6});
  button->WindowProc = band.original;
  FreeAndNil(button);
  PumpingWait(100);
  EXPECT_FALSE(shown());
  EXPECT_EQ(band.asked, 1);
}

TEST_F(MouseHintTest, ControlCursorsComeFromScreenCursors) {
  constexpr TCursor crLink = 5;  // a program's own cursor
  HCURSOR cross = LoadCursorA(nullptr, reinterpret_cast<LPCSTR>(IDC_CROSS));
  Screen->SetCursors(crLink, cross);
  button->SetCursor(crLink);
  HWND bw = button->WindowHandle();
  EXPECT_EQ(SendMessageA(bw, WM_SETCURSOR, reinterpret_cast<WPARAM>(bw), MAKELPARAM(HTCLIENT, WM_MOUSEMOVE)), TRUE);
  EXPECT_EQ(GetCursor(), cross);
  button->SetCursor(crHandPoint);
  SendMessageA(bw, WM_SETCURSOR, reinterpret_cast<WPARAM>(bw), MAKELPARAM(HTCLIENT, WM_MOUSEMOVE));
  EXPECT_EQ(GetCursor(), LoadCursorA(nullptr, reinterpret_cast<LPCSTR>(IDC_HAND)));
}

}  // namespace
