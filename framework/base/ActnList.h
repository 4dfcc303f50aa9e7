// Action lists and the actions with a caption, hint, shortcut and state that
// controls and menu items take over through their links.
//
// Executing a contained action asks, in order: its action list (OnExecute),
// the application (its own handler), the action's OnExecute, and last the
// application's dispatch of CM_ACTIONEXECUTE to the active form and its
// controls. Updating goes the same way (CM_ACTIONUPDATE).
//
// A custom action tells its links of a new value before it stores it (so a
// link that asks the action during the notification still sees the old value),
// then fires its change.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "BasicAction.h"

class TCustomActionList;

// A shortcut: the virtual key in the low byte, scShift, scCtrl, scAlt above.
using TShortCut = std::uint16_t;
constexpr TShortCut scShift = 0x2000, scCtrl = 0x4000, scAlt = 0x8000, scNone = 0;

// The application's part in running actions (installed by the forms unit; none natively).
struct ActionApplication {
  virtual ~ActionApplication() = default;
  // The application's own handler (OnActionExecute / OnActionUpdate).
  virtual bool ExecuteAction(TBasicAction* action) = 0;
  virtual bool UpdateAction(TBasicAction* action) = 0;
  // CM_ACTIONEXECUTE / CM_ACTIONUPDATE to the application window, which hands
  // the action to the active form and its controls; true when one took it.
  virtual bool DispatchExecute(TBasicAction* action) = 0;
  virtual bool DispatchUpdate(TBasicAction* action) = 0;
};
ActionApplication* SetActionApplication(ActionApplication* app);  // returns the one it replaces
ActionApplication* CurrentActionApplication();

class TContainedAction : public TBasicAction {
  FW_CLASS(TContainedAction, TBasicAction)
 public:
  explicit TContainedAction(TComponent* owner) : TBasicAction(owner) {}
  void Destroy() override;

  bool Execute() override;
  bool Update() override;

  TCustomActionList* ActionList() const { return actionList_; }
  void SetActionList(TCustomActionList* list);
  int GetIndex() const;
  void SetIndex(int value);
  std::string Category;

  // Streaming: an action is a child of its list.
  bool HasParent() const override { return true; }
  TComponent* GetParentComponent() const override;
  void SetParentComponent(TComponent* parent) override;

 private:
  friend class TCustomActionList;
  TCustomActionList* actionList_ = nullptr;
};

using TActionEvent = Method<void(TBasicAction* action, bool& handled)>;

class TCustomActionList : public TComponent {
  FW_CLASS(TCustomActionList, TComponent)
 public:
  explicit TCustomActionList(TComponent* owner) : TComponent(owner) {}
  void Destroy() override;

  int ActionCount() const { return static_cast<int>(actions_.size()); }
  TContainedAction* Actions(int index) const { return actions_.at(static_cast<std::size_t>(index)); }
  void AddAction(TContainedAction* action);
  void RemoveAction(TContainedAction* action);
  int IndexOfAction(const TContainedAction* action) const;
  void MoveAction(TContainedAction* action, int index);

  // OnExecute / OnUpdate of the list; true when the handler marked it handled.
  virtual bool ExecuteAction(TBasicAction* action);
  virtual bool UpdateAction(TBasicAction* action);
  TActionEvent OnExecute, OnUpdate;
  TNotifyEvent OnChange;

  // The actions are written as the list's children.
  void GetChildren(const Method<void(TComponent*)>& proc, TComponent* root) override;
  void SetChildOrder(TComponent* child, int order) override;

 protected:
  void Notification(TComponent* component, TOperation operation) override;

 private:
  std::vector<TContainedAction*> actions_;
};

class TActionList : public TCustomActionList {
  FW_CLASS(TActionList, TCustomActionList)
 public:
  explicit TActionList(TComponent* owner) : TCustomActionList(owner) {}
};

// The link of a client that shows a custom action's properties. Each Is*Linked
// answers whether the client takes that property from the action; the Set*
// operations hand the client a new value (a client's link class overrides them).
class TActionLink : public TBasicActionLink {
  FW_CLASS(TActionLink, TBasicActionLink)
 public:
  TActionLink() = default;
  virtual bool IsCaptionLinked();
  virtual bool IsCheckedLinked();
  virtual bool IsEnabledLinked();
  virtual bool IsHelpContextLinked();
  virtual bool IsHintLinked();
  virtual bool IsImageIndexLinked();
  virtual bool IsShortCutLinked();
  virtual bool IsVisibleLinked();
  virtual void SetCaption(const std::string& value) { (void)value; }
  virtual void SetChecked(bool value) { (void)value; }
  virtual void SetEnabled(bool value) { (void)value; }
  virtual void SetHelpContext(int value) { (void)value; }
  virtual void SetHint(const std::string& value) { (void)value; }
  virtual void SetImageIndex(int value) { (void)value; }
  virtual void SetShortCut(TShortCut value) { (void)value; }
  virtual void SetVisible(bool value) { (void)value; }
  // The hint a client shows for the action: false when the action refuses it;
  // with the application's HintShortCuts the shortcut text is added.
  virtual bool DoShowHint(std::string& hint);
};

using THintEvent = Method<void(std::string& hint, bool& canShow)>;

class TCustomAction : public TContainedAction {
  FW_CLASS(TCustomAction, TContainedAction)
 public:
  explicit TCustomAction(TComponent* owner) : TContainedAction(owner) {}
  void Assign(TPersistent* source) override;

  // Updates first; runs only while enabled.
  bool Execute() override;
  // Without any handler an action that DisableIfNoHandler disables itself
  // when it has no execute handler.
  bool Update() override;

  std::string GetCaption() const { return caption_; }
  virtual void SetCaption(const std::string& value);
  std::string GetHint() const { return hint_; }
  virtual void SetHint(const std::string& value);
  bool GetChecked() const { return checked_; }
  void SetChecked(bool value);
  bool GetEnabled() const { return enabled_; }
  void SetEnabled(bool value);
  int GetHelpContext() const { return helpContext_; }
  void SetHelpContext(int value);
  int GetImageIndex() const { return imageIndex_; }
  void SetImageIndex(int value);
  TShortCut GetShortCut() const { return shortCut_; }
  void SetShortCut(TShortCut value);
  bool GetVisible() const { return visible_; }
  void SetVisible(bool value);
  bool DisableIfNoHandler = true;

  // OnHint may change the hint or refuse it; true when it shows.
  virtual bool DoHint(std::string& hint);
  THintEvent OnHint;

 private:
  template <class F>
  void ForEachLink(F f);
  std::string caption_;
  std::string hint_;
  bool checked_ = false;
  bool enabled_ = true;
  int helpContext_ = 0;
  int imageIndex_ = -1;
  TShortCut shortCut_ = scNone;
  bool visible_ = true;
};

class TAction : public TCustomAction {
  FW_CLASS(TAction, TCustomAction)
 public:
  explicit TAction(TComponent* owner) : TCustomAction(owner) {}
};

// Whether the shortcut text joins an action's hint (Application->HintShortCuts).
extern bool ActionHintShortCuts;
// The shortcut text used for hints; set by the menus unit (empty without it).
using ShortCutTextFunc = std::string (*)(TShortCut);
void SetActionShortCutText(ShortCutTextFunc fn);
