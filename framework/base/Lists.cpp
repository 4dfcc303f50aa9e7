#include "Lists.h"

#include <algorithm>

#include "Component.h"
#include "SysUtils.h"

FW_IMPLEMENT_CLASS(TList)
FW_IMPLEMENT_CLASS(TObjectList)
FW_IMPLEMENT_CLASS(TComponentList)
FW_IMPLEMENT_CLASS(TThreadList)

void TList::Destroy() {
  Clear();
  inherited::Destroy();
}

void TList::CheckIndex(int index, bool allowEnd) const {
  if (index < 0 || index > Count() || (index == Count() && !allowEnd))
    throw EListError(Format("List index out of bounds (%d)", index));
}

void* TList::Get(int index) const {
  CheckIndex(index);
  return items_[static_cast<std::size_t>(index)];
}

void TList::Put(int index, void* item) {
  CheckIndex(index);
  void* old = items_[static_cast<std::size_t>(index)];
  if (old == item) return;
  items_[static_cast<std::size_t>(index)] = item;
  if (old) Notify(old, lnDeleted);
  if (item) Notify(item, lnAdded);
}

int TList::Add(void* item) {
  items_.push_back(item);
  if (item) Notify(item, lnAdded);
  return Count() - 1;
}

void TList::Insert(int index, void* item) {
  CheckIndex(index, true);
  items_.insert(items_.begin() + index, item);
  if (item) Notify(item, lnAdded);
}

void TList::Delete(int index) {
  CheckIndex(index);
  void* item = items_[static_cast<std::size_t>(index)];
  items_.erase(items_.begin() + index);
  if (item) Notify(item, lnDeleted);
}

int TList::Remove(void* item) {
  int i = IndexOf(item);
  if (i >= 0) Delete(i);
  return i;
}

void* TList::Extract(void* item) {
  int i = IndexOf(item);
  if (i < 0) return nullptr;
  items_.erase(items_.begin() + i);
  Notify(item, lnExtracted);
  return item;
}

int TList::IndexOf(const void* item) const {
  auto it = std::find(items_.begin(), items_.end(), item);
  return it == items_.end() ? -1 : static_cast<int>(it - items_.begin());
}

void TList::Exchange(int a, int b) {
  CheckIndex(a);
  CheckIndex(b);
  std::swap(items_[static_cast<std::size_t>(a)], items_[static_cast<std::size_t>(b)]);
}

void TList::Move(int from, int to) {
  if (from == to) return;
  CheckIndex(from);
  CheckIndex(to);
  void* item = items_[static_cast<std::size_t>(from)];
  items_.erase(items_.begin() + from);
  items_.insert(items_.begin() + to, item);
}

void TList::Pack() {
  items_.erase(std::remove(items_.begin(), items_.end(), nullptr), items_.end());
}

void TList::Clear() {
  while (!items_.empty()) Delete(Count() - 1);
}

void TList::Sort(int (*compare)(void*, void*)) {
  std::stable_sort(items_.begin(), items_.end(), [compare](void* a, void* b) { return compare(a, b) < 0; });
}

void TList::Notify(void*, TListNotification) {}

void TObjectList::Notify(void* item, TListNotification action) {
  if (OwnsObjects && action == lnDeleted) static_cast<TObject*>(item)->Free();
  TList::Notify(item, action);
}

// The helper that receives the free notifications of a TComponentList's components.
class TComponentListNexus : public TComponent {
  FW_CLASS(TComponentListNexus, TComponent)
 public:
  explicit TComponentListNexus(TComponent* owner) : TComponent(owner) {}
  TComponentList* list_ = nullptr;

 protected:
  void Notification(TComponent* c, TOperation op) override {
    if (op == opRemove && list_) list_->ComponentFreed(c);
    inherited::Notification(c, op);
  }
};
FW_IMPLEMENT_CLASS(TComponentListNexus)

TComponentList::TComponentList(bool ownsObjects) : TObjectList(ownsObjects) {}

void TComponentList::Destroy() {
  inherited::Destroy();  // clears the list (freeing owned components)
  FreeAndNil(nexus_);
}

TComponent* TComponentList::Items(int index) const {
  return static_cast<TComponent*>(static_cast<TObject*>(Get(index)));
}

int TComponentList::Add(TComponent* item) {
  return TList::Add(static_cast<TObject*>(item));
}

int TComponentList::IndexOf(const TComponent* item) const {
  return TList::IndexOf(static_cast<const TObject*>(item));
}

void TComponentList::ComponentFreed(TComponent* c) {
  // the component is going away on its own: drop it without freeing it again
  while (Extract(static_cast<TObject*>(c))) {
  }
}

void TComponentList::Notify(void* item, TListNotification action) {
  auto* c = static_cast<TComponent*>(static_cast<TObject*>(item));
  if (action == lnAdded) {
    if (!nexus_) {
      auto* nexus = New<TComponentListNexus>(nullptr);
      nexus->list_ = this;
      nexus_ = nexus;
    }
    c->FreeNotification(nexus_);
  } else if (nexus_ && IndexOf(c) < 0) {
    c->RemoveFreeNotification(nexus_);
  }
  inherited::Notify(item, action);
}

void TThreadList::Destroy() {
  {
    std::lock_guard<std::recursive_mutex> g(lock_);
    FreeAndNil(list_);
  }
  inherited::Destroy();
}

TList* TThreadList::LockList() {
  lock_.lock();
  if (!list_) list_ = New<TList>();
  return list_;
}

void TThreadList::UnlockList() {
  lock_.unlock();
}

void TThreadList::Add(void* item) {
  TList* l = LockList();
  if (l->IndexOf(item) < 0) l->Add(item);
  UnlockList();
}

void TThreadList::Remove(void* item) {
  TList* l = LockList();
  l->Remove(item);
  UnlockList();
}

void TThreadList::Clear() {
  TList* l = LockList();
  l->Clear();
  UnlockList();
}
