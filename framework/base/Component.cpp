#include "Component.h"

#include <algorithm>

#include "Filer.h"
#include "SharedLock.h"
#include "SysUtils.h"

FW_BEGIN_CLASS(TComponent)
  FW_PROP(Name, GetName, SetName)
  FW_NOT_STORED
  FW_PROP(Tag, Tag, Tag)
  FW_DEFAULT(0)
FW_END_CLASS

bool IsValidIdent(const std::string& ident) {
  if (ident.empty()) return false;
  auto alpha = [](char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_'; };
  if (!alpha(ident[0])) return false;
  for (char c : ident)
    if (!alpha(c) && !(c >= '0' && c <= '9')) return false;
  return true;
}

TComponent::TComponent(TComponent* owner) {
  if (owner) owner->InsertComponent(this);
}

TComponent* TComponent::Components(int index) const {
  if (index < 0 || index >= ComponentCount()) throw EListError(Format("List index out of bounds (%d)", index));
  return components_[static_cast<std::size_t>(index)];
}

int TComponent::ComponentIndex() const {
  if (!owner_) return -1;
  auto& list = owner_->components_;
  auto it = std::find(list.begin(), list.end(), this);
  return it == list.end() ? -1 : static_cast<int>(it - list.begin());
}

TComponent* TComponent::FindComponent(const std::string& name) const {
  if (name.empty()) return nullptr;
  for (TComponent* c : components_)
    if (SameText(c->name_, name)) return c;
  return nullptr;
}

void TComponent::SetState(TComponentStateItem item, bool on) {
  if (on)
    state_.Include(item);
  else
    state_.Exclude(item);
}

void TComponent::ValidateRename(TComponent* component, const std::string& curName, const std::string& newName) {
  if (!component || newName.empty() || SameText(curName, newName)) return;
  TComponent* existing = FindComponent(newName);
  if (existing && existing != component) throw EComponentError("A component named " + newName + " already exists");
}

void TComponent::SetName(const std::string& name) {
  if (name_ == name) return;
  if (!name.empty() && !IsValidIdent(name)) throw EComponentError("'" + name + "' is not a valid component name");
  if (owner_)
    owner_->ValidateRename(this, name_, name);
  else
    ValidateRename(nullptr, name_, name);
  SetReference(false);
  name_ = name;
  SetReference(true);
}

void TComponent::SetReference(bool enable) {
  if (!owner_ || name_.empty()) return;
  const FieldEntry* field = owner_->ClassType().FindField(name_);
  if (!field) return;
  if (enable) {
    if (field->classType && !InheritsFrom(field->classType())) return;  // a field of another class keeps its value
    field->set(owner_, this);
  } else if (field->get(owner_) == this) {
    field->set(owner_, nullptr);
  }
}

void TComponent::Insert(TComponent* component) {
  components_.push_back(component);
  component->owner_ = this;
  if (state_.Contains(csDesigning)) component->SetDesigning(true);
}

void TComponent::SetDesigning(bool on) {
  SetState(csDesigning, on);
  for (TComponent* c : components_) c->SetDesigning(on);
}

void TComponent::Remove(TComponent* component) {
  components_.erase(std::remove(components_.begin(), components_.end(), component), components_.end());
  component->owner_ = nullptr;
}

void TComponent::InsertComponent(TComponent* component) {
  if (!component) return;
  if (component->owner_) component->owner_->RemoveComponent(component);
  ValidateRename(component, "", component->name_);
  Insert(component);
  component->SetReference(true);
  NotifyAll(component, opInsert);
}

void TComponent::RemoveComponent(TComponent* component) {
  if (!component || component->owner_ != this) return;
  NotifyAll(component, opRemove);
  component->SetReference(false);
  Remove(component);
}

void TComponent::NotifyAll(TComponent* component, TOperation operation) {
  Notification(component, operation);
}

void TComponent::Notification(TComponent* component, TOperation operation) {
  if (operation == opRemove && component) RemoveFreeNotification(component);
  // Owned components hear about it too; the list may change while they react.
  std::vector<TComponent*> snapshot = components_;
  for (TComponent* c : snapshot)
    if (std::find(components_.begin(), components_.end(), c) != components_.end() && c != component)
      c->Notification(component, operation);
}

void TComponent::FreeNotification(TComponent* component) {
  if (!component || component == this) return;
  if (std::find(freeNotifies_.begin(), freeNotifies_.end(), component) == freeNotifies_.end()) {
    freeNotifies_.push_back(component);
    component->FreeNotification(this);
  }
  state_.Include(csFreeNotification);
}

void TComponent::RemoveFreeNotification(TComponent* component) {
  auto it = std::find(freeNotifies_.begin(), freeNotifies_.end(), component);
  if (it == freeNotifies_.end()) return;
  freeNotifies_.erase(it);
  if (freeNotifies_.empty()) state_.Exclude(csFreeNotification);
  component->RemoveFreeNotification(this);
}

void TComponent::Destroying() {
  if (state_.Contains(csDestroying)) return;
  state_.Include(csDestroying);
  for (TComponent* c : components_) c->Destroying();
}

void TComponent::BeforeDestruction() {
  if (!state_.Contains(csDestroying)) Destroying();
}

void TComponent::Destroy() {
  Destroying();
  while (!freeNotifies_.empty()) {
    TComponent* other = freeNotifies_.back();
    freeNotifies_.pop_back();
    auto& back = other->freeNotifies_;
    back.erase(std::remove(back.begin(), back.end(), this), back.end());
    other->Notification(this, opRemove);
  }
  state_.Exclude(csFreeNotification);
  DestroyComponents();
  if (owner_) owner_->RemoveComponent(this);
  inherited::Destroy();
}

void TComponent::DestroyComponents() {
  while (!components_.empty()) {
    TComponent* c = components_.back();
    RemoveComponent(c);
    c->Free();
  }
}

void TComponent::DefineProperties(TFiler& filer) {
  inherited::DefineProperties(filer);
  filer.DefineProperty(
      "Left", [this](TReader& r) { DesignLeft = r.ReadInteger(); }, [this](TWriter& w) { w.WriteInteger(DesignLeft); },
      DesignLeft != 0);
  filer.DefineProperty(
      "Top", [this](TReader& r) { DesignTop = r.ReadInteger(); }, [this](TWriter& w) { w.WriteInteger(DesignTop); },
      DesignTop != 0);
}

void TComponent::Loaded() {
  state_.Exclude(csLoading);
}

void TComponent::ReadState(TReader& reader) {
  reader.ReadData(this);
}

void TComponent::GetChildren(const Method<void(TComponent*)>&, TComponent*) {}

std::shared_mutex& GlobalNameSpace() {
  static TSharedLock lock;
  return lock;
}
