#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ActnList.h"
#include "StdActns.h"

namespace {

// A client link that records what the action tells it and what the action
// holds at that moment.
class TRecordingLink : public TActionLink {
  FW_CLASS(TRecordingLink, TActionLink)
 public:
  std::vector<std::string> log;
  void SetCaption(const std::string& v) override {
    log.push_back("caption " + v + " (action has " + As<TCustomAction>(action_)->GetCaption() + ")");
  }
  void SetHint(const std::string& v) override { log.push_back("hint " + v); }
  void SetEnabled(bool v) override { log.push_back(v ? "enabled" : "disabled"); }
  void SetShortCut(TShortCut v) override { log.push_back("shortcut " + std::to_string(v)); }

 protected:
  void Change() override {
    log.push_back("change");
    inherited::Change();
  }
};

}  // namespace

FW_IMPLEMENT_CLASS(TRecordingLink)

namespace {

struct Handlers : TComponent {
  using TComponent::TComponent;
  int executed = 0, updated = 0;
  std::vector<std::string> order;
  bool listHandles = false;
  void Execute(TObject*) {
    ++executed;
    order.push_back("execute");
  }
  void Update(TObject*) { ++updated; }
  void ListExecute(TBasicAction*, bool& handled) {
    order.push_back("list");
    handled = listHandles;
  }
};

struct FakeApplication : ActionApplication {
  std::vector<std::string>& order;
  bool dispatchTakes = false;
  explicit FakeApplication(std::vector<std::string>& o) : order(o) {}
  bool ExecuteAction(TBasicAction*) override {
    order.push_back("application");
    return false;
  }
  bool UpdateAction(TBasicAction*) override { return false; }
  bool DispatchExecute(TBasicAction*) override {
    order.push_back("dispatch");
    return dispatchTakes;
  }
  bool DispatchUpdate(TBasicAction*) override { return false; }
};

TEST(ActnList, LinksHearOfANewValueBeforeTheActionStoresIt) {
  auto* owner = New<TComponent>(nullptr);
  auto* action = New<TAction>(owner);
  action->SetCaption("Old");
  auto* link = As<TRecordingLink>(CreateActionLink(&TRecordingLink::StaticClass(), nullptr));
  link->SetAction(action);
  action->SetCaption("New");
  action->SetCaption("New");  // no change, nothing told
  action->SetHint("Help");
  action->SetShortCut(scCtrl | 'Z');
  EXPECT_EQ(link->log, (std::vector<std::string>{"caption New (action has Old)", "change", "hint Help", "change",
                                                 "shortcut 16474", "change"}));
  EXPECT_EQ(action->GetCaption(), "New");
  // A freed action leaves its clients without an action; a freed link leaves the action.
  auto* link2 = As<TRecordingLink>(CreateActionLink(&TRecordingLink::StaticClass(), nullptr));
  link2->SetAction(action);
  EXPECT_EQ(action->ClientCount(), 2);
  link2->Free();
  EXPECT_EQ(action->ClientCount(), 1);
  owner->Free();
  EXPECT_EQ(link->Action(), nullptr);
  link->Free();
}

TEST(ActnList, ExecutionAsksTheListTheApplicationTheHandlerThenTheDispatch) {
  auto* owner = New<Handlers>(nullptr);
  FakeApplication app(owner->order);
  ActionApplication* old = SetActionApplication(&app);
  auto* list = New<TActionList>(owner);
  auto* action = New<TAction>(owner);
  action->SetActionList(list);
  list->OnExecute = TActionEvent::Bind<&Handlers::ListExecute>(owner);

  EXPECT_FALSE(action->Execute());  // no handler: disabled on its update, so nothing runs
  EXPECT_FALSE(action->GetEnabled());
  EXPECT_TRUE(owner->order.empty());

  action->SetOnExecute(TNotifyEvent::Bind<&Handlers::Execute>(owner));
  EXPECT_TRUE(action->Execute());
  EXPECT_EQ(owner->order, (std::vector<std::string>{"list", "application", "execute"}));

  owner->order.clear();
  owner->listHandles = true;
  EXPECT_TRUE(action->Execute());
  EXPECT_EQ(owner->order, (std::vector<std::string>{"list"}));

  // A hint action without a handler stays enabled and reaches the dispatch.
  owner->order.clear();
  auto* hint = New<THintAction>(owner);
  app.dispatchTakes = true;
  EXPECT_TRUE(hint->Execute());
  EXPECT_EQ(owner->order, (std::vector<std::string>{"application", "dispatch"}));
  EXPECT_TRUE(hint->GetEnabled());

  SetActionApplication(old);
  owner->Free();
}

TEST(ActnList, ListKeepsItsActionsInOrderAndForgetsFreedOnes) {
  auto* owner = New<TComponent>(nullptr);
  auto* list = New<TActionList>(owner);
  auto* a = New<TAction>(owner);
  auto* b = New<TAction>(owner);
  auto* c = New<TAction>(owner);
  for (TAction* x : {a, b, c}) x->SetActionList(list);
  c->SetIndex(0);
  EXPECT_EQ(list->Actions(0), c);
  EXPECT_EQ(a->GetIndex(), 1);
  EXPECT_EQ(b->GetParentComponent(), list);
  b->Free();
  EXPECT_EQ(list->ActionCount(), 2);
  list->Free();
  EXPECT_EQ(a->ActionList(), nullptr);
  owner->Free();
}

TEST(ActnList, AssignCopiesACustomActionAndRefusesOthers) {
  auto* owner = New<TComponent>(nullptr);
  auto* a = New<TAction>(owner);
  auto* b = New<TAction>(owner);
  a->SetCaption("&Open");
  a->SetHint("Open|Opens a file");
  a->SetShortCut(scCtrl | 'O');
  a->SetChecked(true);
  a->SetImageIndex(3);
  b->Assign(a);
  EXPECT_EQ(b->GetCaption(), "&Open");
  EXPECT_EQ(b->GetHint(), "Open|Opens a file");
  EXPECT_EQ(b->GetShortCut(), scCtrl | 'O');
  EXPECT_TRUE(b->GetChecked());
  EXPECT_EQ(b->GetImageIndex(), 3);
  EXPECT_THROW(b->Assign(owner), EConvertError);
  owner->Free();
}

TEST(ActnList, ShownHintCarriesTheShortCutText) {
  auto* owner = New<TComponent>(nullptr);
  auto* action = New<TAction>(owner);
  action->SetShortCut(scCtrl | 'S');
  TActionLink* link = As<TActionLink>(CreateActionLink(&TActionLink::StaticClass(), nullptr));
  link->SetAction(action);
  SetActionShortCutText([](TShortCut) { return std::string("Ctrl+S"); });
  std::string hint = "Save";
  EXPECT_TRUE(link->DoShowHint(hint));
  EXPECT_EQ(hint, "Save (Ctrl+S)");
  ActionHintShortCuts = false;
  hint = "Save";
  EXPECT_TRUE(link->DoShowHint(hint));
  EXPECT_EQ(hint, "Save");
  ActionHintShortCuts = true;
  SetActionShortCutText(nullptr);
  EXPECT_THROW(CreateActionLink(&TAction::StaticClass(), nullptr), EInvalidOperation);
  link->Free();
  owner->Free();
}

}  // namespace

#include "ShortCuts.h"

namespace {

TEST(ShortCuts, ModifiersInOrderThenTheKeyName) {
  SetShortCutKeyNames([](std::uint8_t key) { return key == 0xBA ? std::string(";") : std::string(); });
  const struct {
    TShortCut shortCut;
    const char* text;
  } cases[] = {
      {scCtrl | 'S', "Ctrl+S"},
      {scShift | scCtrl | 'Z', "Shift+Ctrl+Z"},
      {scAlt | scShift | 0x08, "Shift+Alt+BkSp"},
      {0x74, "F5"},
      {scCtrl | 0x87, "Ctrl+F24"},
      {0x65, "5"},  // numeric pad 5
      {'7', "7"},
      {0x2E, "Del"},
      {scCtrl | 0x20, "Ctrl+Space"},
      {scCtrl | 0xBA, "Ctrl+;"},  // from the key-name source
      {scCtrl | 0xBB, ""},        // no name: no text at all
      {scNone, ""},
  };
  for (const auto& c : cases) EXPECT_EQ(ShortCutToText(c.shortCut), c.text) << c.shortCut;
  SetShortCutKeyNames(nullptr);
  EXPECT_EQ(ShortCutToText(scCtrl | 0xBA), "");
}

}  // namespace
