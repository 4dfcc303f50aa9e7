// Actions on controls: the links, the click, the dispatch through the
// application window, the hint action and the idle-time updates.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ActnList.h"
#include "Forms.h"
#include "ShortCuts.h"
#include "StdActns.h"
#include "StdCtrls.h"

namespace {

// A control that shows hint actions (as a status line does).
class THintShower : public TGraphicControl {
  FW_CLASS(THintShower, TGraphicControl)
 public:
  using TGraphicControl::TGraphicControl;
  std::vector<std::string> shown;
  bool ExecuteAction(TBasicAction* action) override {
    if (auto* hint = dynamic_cast<THintAction*>(action)) {
      shown.push_back(hint->GetHint());
      return true;
    }
    return inherited::ExecuteAction(action);
  }
};

struct Counter : TComponent {
  using TComponent::TComponent;
  int executed = 0, updated = 0, hooked = 0;
  void Execute(TObject*) { ++executed; }
  void Update(TObject*) { ++updated; }
  bool Hook(TMessage& msg) {
    if (msg.Msg == CM_ACTIONEXECUTE) ++hooked;
    return false;
  }
};

}  // namespace

FW_IMPLEMENT_CLASS(THintShower)

namespace {

class ActionsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    InitForms();
    counter = New<Counter>(nullptr);
    form = TCustomForm::CreateNew<TForm>(Application);
    form->SetBounds(100, 100, 300, 200);
    button = New<TButton>(form);
    button->SetName("Button1");
    button->SetParent(form);
    label = New<TLabel>(form);
    label->SetName("Label1");
    label->SetParent(form);
    action = New<TAction>(form);
    action->SetCaption("&Connect");
    action->SetHint("Connect|Looks for the phone");
    action->SetOnExecute(TNotifyEvent::Bind<&Counter::Execute>(counter));
  }
  void TearDown() override {
    form->Free();
    counter->Free();
  }
  Counter* counter = nullptr;
  TForm* form = nullptr;
  TButton* button = nullptr;
  TLabel* label = nullptr;
  TAction* action = nullptr;
};

TEST_F(ActionsTest, ControlsFollowTheirActionWhileTheirValueIsTheActions) {
  button->SetAction(action);
  label->SetAction(action);
  EXPECT_EQ(button->GetCaption(), "&Connect");
  EXPECT_EQ(label->GetHint(), "Connect|Looks for the phone");
  EXPECT_STREQ(button->ActionLink()->ClassName(), "TButtonActionLink");
  EXPECT_STREQ(label->ActionLink()->ClassName(), "TControlActionLink");

  action->SetCaption("&Search");
  EXPECT_EQ(button->GetCaption(), "&Search");
  EXPECT_EQ(label->GetCaption(), "&Search");
  label->SetCaption("By hand");
  action->SetCaption("&Again");
  EXPECT_EQ(button->GetCaption(), "&Again");
  EXPECT_EQ(label->GetCaption(), "&Again") << "a change notification applies the action again";
  action->SetEnabled(false);
  EXPECT_FALSE(button->GetEnabled());

  action->SetEnabled(true);
  button->Click();
  EXPECT_EQ(counter->executed, 1);
  action->Free();
  EXPECT_EQ(button->GetAction(), nullptr);
  button->Click();  // the click handler it took over stays its own
  EXPECT_EQ(counter->executed, 2);
}

TEST_F(ActionsTest, ActionsSetWhileLoadingKeepTheControlsOwnValues) {
  label->SetCaption("Own text");
  action->SetState(csLoading, true);
  label->SetAction(action);
  action->SetState(csLoading, false);
  EXPECT_EQ(label->GetCaption(), "Own text");
  EXPECT_EQ(label->GetHint(), "Connect|Looks for the phone") << "an empty hint takes the action's";
}

TEST_F(ActionsTest, ApplicationHintRunsAHintActionThroughTheWindowToAControl) {
  auto* shower = New<THintShower>(form);
  shower->SetParent(form);
  form->Show();
  Application->SetMainForm(form);
  Application->HookMainWindow(TWindowHook::Bind<&Counter::Hook>(counter));
  Application->SetHint("Ready");
  Application->SetHint("Ready");  // unchanged: nothing runs
  Application->UnhookMainWindow(TWindowHook::Bind<&Counter::Hook>(counter));
  Application->SetHint("Done");
  EXPECT_EQ(shower->shown, (std::vector<std::string>{"Ready", "Done"}));
  EXPECT_EQ(counter->hooked, 1);
  Application->SetHint("");
  Application->SetMainForm(nullptr);
}

TEST_F(ActionsTest, IdleTimeUpdatesReachTheActionsOfVisibleFormsOnly) {
  action->OnUpdate = TNotifyEvent::Bind<&Counter::Update>(counter);
  button->SetAction(action);
  Application->UpdateFormActions();
  EXPECT_EQ(counter->updated, 0) << "the form is hidden";
  form->Show();
  Application->UpdateFormActions();
  EXPECT_EQ(counter->updated, 1);
  button->Hide();
  Application->UpdateFormActions();
  EXPECT_EQ(counter->updated, 1);
}

TEST_F(ActionsTest, ShortCutTextsNameOtherKeysByTheKeyboard) {
  EXPECT_EQ(ShortCutToText(scShift | scCtrl | 'Z'), "Shift+Ctrl+Z");
  EXPECT_FALSE(ShortCutToText(scCtrl | 0xBA).empty()) << "the key of ';' has a keyboard name";
  action->SetShortCut(scCtrl | 'K');
  label->SetAction(action);
  std::string hint = "Connect";
  EXPECT_TRUE(label->ActionLink()->DoShowHint(hint));
  EXPECT_EQ(hint, "Connect (Ctrl+K)");
}

}  // namespace
