#include "BasicAction.h"

#include <algorithm>

#include "Exceptions.h"
#include "SysUtils.h"

FW_IMPLEMENT_CLASS(TBasicActionLink)
FW_IMPLEMENT_CLASS(TBasicAction)

void TBasicActionLink::Destroy() {
  if (action_) action_->UnRegisterChanges(this);
  action_ = nullptr;
  inherited::Destroy();
}

void TBasicActionLink::SetAction(TBasicAction* value) {
  if (value == action_) return;
  if (action_) action_->UnRegisterChanges(this);
  action_ = value;
  if (action_) action_->RegisterChanges(this);
}

bool TBasicActionLink::Execute(TComponent* target) {
  if (!action_) return false;
  TBasicAction* action = action_;
  action->SetActionComponent(target);
  try {
    const bool done = action->Execute();
    // The execution may have freed the action (its link then lost it).
    if (action_ == action) action->SetActionComponent(nullptr);
    return done;
  } catch (...) {
    if (action_ == action) action->SetActionComponent(nullptr);
    throw;
  }
}

bool TBasicActionLink::Update() {
  return action_ && action_->Update();
}

void TBasicActionLink::Change() {
  if (OnChange) OnChange(action_);
}

void TBasicAction::Destroy() {
  // Clients lose their action; their links stay with them.
  while (!clients_.empty()) {
    TBasicActionLink* link = clients_.back();
    clients_.pop_back();
    link->action_ = nullptr;
  }
  SetActionComponent(nullptr);
  inherited::Destroy();
}

bool TBasicAction::Execute() {
  if (!onExecute_) return false;
  onExecute_(this);
  return true;
}

bool TBasicAction::Update() {
  if (!OnUpdate) return false;
  OnUpdate(this);
  return true;
}

void TBasicAction::SetActionComponent(TComponent* value) {
  if (value == actionComponent_) return;
  if (actionComponent_) actionComponent_->RemoveFreeNotification(this);
  actionComponent_ = value;
  if (actionComponent_) actionComponent_->FreeNotification(this);
}

void TBasicAction::Notification(TComponent* component, TOperation operation) {
  inherited::Notification(component, operation);
  if (operation == opRemove && component == actionComponent_) actionComponent_ = nullptr;
}

void TBasicAction::SetOnExecute(const TNotifyEvent& value) {
  if (value == onExecute_) return;
  // A client whose click handler was the old handler follows.
  for (TBasicActionLink* link : std::vector<TBasicActionLink*>(clients_)) link->SetOnExecute(value);
  onExecute_ = value;
  Change();
}

void TBasicAction::RegisterChanges(TBasicActionLink* link) {
  if (std::find(clients_.begin(), clients_.end(), link) == clients_.end()) clients_.push_back(link);
  link->action_ = this;
}

void TBasicAction::UnRegisterChanges(TBasicActionLink* link) {
  auto it = std::find(clients_.begin(), clients_.end(), link);
  if (it == clients_.end()) return;
  clients_.erase(it);
  link->action_ = nullptr;
}

void TBasicAction::Change() {
  // A link may leave the list while it is told (its client drops the action).
  for (TBasicActionLink* link : std::vector<TBasicActionLink*>(clients_))
    if (std::find(clients_.begin(), clients_.end(), link) != clients_.end()) link->Change();
  if (OnChange) OnChange(this);
}

TBasicActionLink* CreateActionLink(TBasicActionLinkClass cls, TObject* client) {
  if (!cls || !cls->InheritsFrom(TBasicActionLink::StaticClass()) || !cls->create)
    throw EInvalidOperation(Format("Cannot create an action link of class %s", cls ? cls->Name() : "(none)"));
  auto* link = As<TBasicActionLink>(cls->create(nullptr));
  try {
    link->AssignClient(client);
  } catch (...) {
    link->Free();
    throw;
  }
  return link;
}
