#include "ActnList.h"

#include <algorithm>

#include "SysUtils.h"

FW_IMPLEMENT_CLASS(TContainedAction)

FW_BEGIN_CLASS(TCustomActionList)
  FW_EVENT(OnChange, OnChange)
  FW_EVENT(OnExecute, OnExecute)
  FW_EVENT(OnUpdate, OnUpdate)
FW_END_CLASS

FW_IMPLEMENT_CLASS(TActionList)
FW_IMPLEMENT_CLASS(TActionLink)
FW_IMPLEMENT_CLASS(TCustomAction)

FW_BEGIN_CLASS(TAction)
  FW_PROP(Caption, GetCaption, SetCaption)
  FW_PROP(Category, Category, Category)
  FW_PROP(Checked, GetChecked, SetChecked)
  FW_DEFAULT(false)
  FW_PROP(Enabled, GetEnabled, SetEnabled)
  FW_DEFAULT(true)
  FW_PROP(HelpContext, GetHelpContext, SetHelpContext)
  FW_DEFAULT(0)
  FW_PROP(Hint, GetHint, SetHint)
  FW_PROP(ImageIndex, GetImageIndex, SetImageIndex)
  FW_DEFAULT(-1)
  FW_PROP(ShortCut, GetShortCut, SetShortCut)
  FW_DEFAULT(0)
  FW_PROP(Visible, GetVisible, SetVisible)
  FW_DEFAULT(true)
  FW_PROP(OnExecute, GetOnExecute, SetOnExecute)
  FW_EVENT(OnHint, OnHint)
  FW_EVENT(OnUpdate, OnUpdate)
FW_END_CLASS

bool ActionHintShortCuts = true;

namespace {
ActionApplication* g_actionApp = nullptr;
ShortCutTextFunc g_shortCutText = nullptr;
}  // namespace

ActionApplication* SetActionApplication(ActionApplication* app) {
  ActionApplication* old = g_actionApp;
  g_actionApp = app;
  return old;
}

ActionApplication* CurrentActionApplication() {
  return g_actionApp;
}

void SetActionShortCutText(ShortCutTextFunc fn) {
  g_shortCutText = fn;
}

// --- TContainedAction --------------------------------------------------------------------------

void TContainedAction::Destroy() {
  if (actionList_) actionList_->RemoveAction(this);
  inherited::Destroy();
}

bool TContainedAction::Execute() {
  if (actionList_ && actionList_->ExecuteAction(this)) return true;
  if (g_actionApp && g_actionApp->ExecuteAction(this)) return true;
  if (inherited::Execute()) return true;
  return g_actionApp && g_actionApp->DispatchExecute(this);
}

bool TContainedAction::Update() {
  if (actionList_ && actionList_->UpdateAction(this)) return true;
  if (g_actionApp && g_actionApp->UpdateAction(this)) return true;
  if (inherited::Update()) return true;
  return g_actionApp && g_actionApp->DispatchUpdate(this);
}

void TContainedAction::SetActionList(TCustomActionList* list) {
  if (list == actionList_) return;
  if (actionList_) actionList_->RemoveAction(this);
  if (list) list->AddAction(this);
}

int TContainedAction::GetIndex() const {
  return actionList_ ? actionList_->IndexOfAction(this) : -1;
}

void TContainedAction::SetIndex(int value) {
  if (actionList_) actionList_->MoveAction(this, value);
}

TComponent* TContainedAction::GetParentComponent() const {
  return actionList_;
}

void TContainedAction::SetParentComponent(TComponent* parent) {
  if (auto* list = dynamic_cast<TCustomActionList*>(parent)) SetActionList(list);
}

// --- TCustomActionList -------------------------------------------------------------------------

void TCustomActionList::Destroy() {
  // The actions stay with their owner; they only leave the list.
  while (!actions_.empty()) RemoveAction(actions_.back());
  inherited::Destroy();
}

void TCustomActionList::AddAction(TContainedAction* action) {
  if (!action || action->actionList_ == this) return;
  if (action->actionList_) action->actionList_->RemoveAction(action);
  actions_.push_back(action);
  action->actionList_ = this;
  action->FreeNotification(this);
  if (OnChange) OnChange(this);
}

void TCustomActionList::RemoveAction(TContainedAction* action) {
  auto it = std::find(actions_.begin(), actions_.end(), action);
  if (it == actions_.end()) return;
  actions_.erase(it);
  action->actionList_ = nullptr;
  action->RemoveFreeNotification(this);
  if (OnChange && !IsDestroying()) OnChange(this);
}

int TCustomActionList::IndexOfAction(const TContainedAction* action) const {
  auto it = std::find(actions_.begin(), actions_.end(), action);
  return it == actions_.end() ? -1 : static_cast<int>(it - actions_.begin());
}

void TCustomActionList::MoveAction(TContainedAction* action, int index) {
  const int cur = IndexOfAction(action);
  if (cur < 0) return;
  index = std::clamp(index, 0, ActionCount() - 1);
  if (index == cur) return;
  actions_.erase(actions_.begin() + cur);
  actions_.insert(actions_.begin() + index, action);
  if (OnChange) OnChange(this);
}

bool TCustomActionList::ExecuteAction(TBasicAction* action) {
  bool handled = false;
  if (OnExecute) OnExecute(action, handled);
  return handled;
}

bool TCustomActionList::UpdateAction(TBasicAction* action) {
  bool handled = false;
  if (OnUpdate) OnUpdate(action, handled);
  return handled;
}

void TCustomActionList::GetChildren(const Method<void(TComponent*)>& proc, TComponent* root) {
  for (TContainedAction* action : std::vector<TContainedAction*>(actions_))
    if (action->Owner() == root) proc(action);
}

void TCustomActionList::SetChildOrder(TComponent* child, int order) {
  if (auto* action = dynamic_cast<TContainedAction*>(child)) MoveAction(action, order);
}

void TCustomActionList::Notification(TComponent* component, TOperation operation) {
  inherited::Notification(component, operation);
  if (operation != opRemove) return;
  auto it = std::find(actions_.begin(), actions_.end(), component);
  if (it != actions_.end()) {
    (*it)->actionList_ = nullptr;
    actions_.erase(it);
  }
}

// --- TActionLink -------------------------------------------------------------------------------

namespace {
bool IsCustom(TBasicAction* action) {
  return dynamic_cast<TCustomAction*>(action) != nullptr;
}
}  // namespace

bool TActionLink::IsCaptionLinked() {
  return IsCustom(action_);
}
bool TActionLink::IsCheckedLinked() {
  return IsCustom(action_);
}
bool TActionLink::IsEnabledLinked() {
  return IsCustom(action_);
}
bool TActionLink::IsHelpContextLinked() {
  return IsCustom(action_);
}
bool TActionLink::IsHintLinked() {
  return IsCustom(action_);
}
bool TActionLink::IsImageIndexLinked() {
  return IsCustom(action_);
}
bool TActionLink::IsShortCutLinked() {
  return IsCustom(action_);
}
bool TActionLink::IsVisibleLinked() {
  return IsCustom(action_);
}

bool TActionLink::DoShowHint(std::string& hint) {
  auto* action = dynamic_cast<TCustomAction*>(action_);
  if (!action) return true;
  if (!action->DoHint(hint)) return false;
  if (ActionHintShortCuts && action->GetShortCut() != scNone && !hint.empty() && g_shortCutText) {
    const std::string keys = g_shortCutText(action->GetShortCut());
    if (!keys.empty()) hint += " (" + keys + ")";
  }
  return true;
}

// --- TCustomAction -----------------------------------------------------------------------------

template <class F>
void TCustomAction::ForEachLink(F f) {
  for (TBasicActionLink* link : std::vector<TBasicActionLink*>(clients_))
    if (auto* actionLink = dynamic_cast<TActionLink*>(link)) f(actionLink);
}

void TCustomAction::Assign(TPersistent* source) {
  auto* from = dynamic_cast<TCustomAction*>(source);
  if (!from) {
    inherited::Assign(source);
    return;
  }
  SetCaption(from->GetCaption());
  SetChecked(from->GetChecked());
  SetEnabled(from->GetEnabled());
  SetHelpContext(from->GetHelpContext());
  SetHint(from->GetHint());
  SetImageIndex(from->GetImageIndex());
  SetShortCut(from->GetShortCut());
  SetVisible(from->GetVisible());
}

bool TCustomAction::Execute() {
  Update();
  return enabled_ && inherited::Execute();
}

bool TCustomAction::Update() {
  const bool done = inherited::Update();
  if (!done && DisableIfNoHandler) SetEnabled(static_cast<bool>(onExecute_));
  return done;
}

// Each setter informs the links first and stores afterwards.
void TCustomAction::SetCaption(const std::string& value) {
  if (value == caption_) return;
  ForEachLink([&](TActionLink* l) { l->SetCaption(value); });
  caption_ = value;
  Change();
}

void TCustomAction::SetHint(const std::string& value) {
  if (value == hint_) return;
  ForEachLink([&](TActionLink* l) { l->SetHint(value); });
  hint_ = value;
  Change();
}

void TCustomAction::SetChecked(bool value) {
  if (value == checked_) return;
  ForEachLink([&](TActionLink* l) { l->SetChecked(value); });
  checked_ = value;
  Change();
}

void TCustomAction::SetEnabled(bool value) {
  if (value == enabled_) return;
  ForEachLink([&](TActionLink* l) { l->SetEnabled(value); });
  enabled_ = value;
  Change();
}

void TCustomAction::SetHelpContext(int value) {
  if (value == helpContext_) return;
  ForEachLink([&](TActionLink* l) { l->SetHelpContext(value); });
  helpContext_ = value;
  Change();
}

void TCustomAction::SetImageIndex(int value) {
  if (value == imageIndex_) return;
  ForEachLink([&](TActionLink* l) { l->SetImageIndex(value); });
  imageIndex_ = value;
  Change();
}

void TCustomAction::SetShortCut(TShortCut value) {
  if (value == shortCut_) return;
  ForEachLink([&](TActionLink* l) { l->SetShortCut(value); });
  shortCut_ = value;
  Change();
}

void TCustomAction::SetVisible(bool value) {
  if (value == visible_) return;
  ForEachLink([&](TActionLink* l) { l->SetVisible(value); });
  visible_ = value;
  Change();
}

bool TCustomAction::DoHint(std::string& hint) {
  bool canShow = true;
  if (OnHint) OnHint(hint, canShow);
  return canShow;
}
