#include "Collection.h"

#include <algorithm>

#include "Scope.h"
#include "SysUtils.h"

FW_IMPLEMENT_CLASS(TCollectionItem)
FW_IMPLEMENT_CLASS(TCollection)
FW_IMPLEMENT_CLASS(TOwnedCollection)

TCollectionItem::TCollectionItem(TCollection* collection) {
  SetCollection(collection);
}

void TCollectionItem::Destroy() {
  SetCollection(nullptr);
  inherited::Destroy();
}

void TCollectionItem::SetCollection(TCollection* collection) {
  if (collection_ == collection) return;
  if (collection_) collection_->RemoveItem(this);
  if (collection) collection->InsertItem(this);
}

int TCollectionItem::Index() const {
  if (!collection_) return -1;
  auto& list = collection_->items_;
  auto it = std::find(list.begin(), list.end(), this);
  return it == list.end() ? -1 : static_cast<int>(it - list.begin());
}

void TCollectionItem::SetIndex(int index) {
  if (collection_ && index != Index()) {
    collection_->MoveItem(this, index);
    Changed(true);
  }
}

TPersistent* TCollectionItem::GetOwner() {
  return collection_;
}

std::string TCollectionItem::GetNamePath() {
  if (!collection_) return ClassName();
  return collection_->GetNamePath() + "[" + std::to_string(Index()) + "]";
}

void TCollectionItem::Changed(bool allItems) {
  if (collection_ && collection_->updateCount_ == 0) collection_->Update(allItems ? nullptr : this);
}

TCollection::TCollection(const ClassInfo& itemClass) : itemClass_(&itemClass) {}

void TCollection::Destroy() {
  updateCount_ = 1;  // no change reports while the items go
  while (!items_.empty()) items_.back()->Free();
  inherited::Destroy();
}

TCollectionItem* TCollection::Items(int index) const {
  if (index < 0 || index >= Count()) throw EListError(Format("List index out of bounds (%d)", index));
  return items_[static_cast<std::size_t>(index)];
}

TCollectionItem* TCollection::Add() {
  if (!itemClass_->create || itemClass_->family != ClassInfo::Family::CollectionItem)
    throw EInvalidOperation(std::string("Cannot create an item of class ") + itemClass_->Name());
  TObject* obj = itemClass_->create(this);
  auto* item = static_cast<TCollectionItem*>(obj);
  Changed();
  return item;
}

TCollectionItem* TCollection::Insert(int index) {
  if (index < 0 || index > Count()) throw EListError(Format("List index out of bounds (%d)", index));
  TUpdateScope update(*this);
  TCollectionItem* item = Add();
  item->SetIndex(index);
  return item;
}

void TCollection::Delete(int index) {
  Items(index)->Free();
}

void TCollection::Clear() {
  if (items_.empty()) return;
  TUpdateScope update(*this);
  while (!items_.empty()) items_.back()->Free();
}

TCollectionItem* TCollection::FindItemID(int id) const {
  for (TCollectionItem* it : items_)
    if (it->id_ == id) return it;
  return nullptr;
}

void TCollection::Assign(TPersistent* source) {
  if (source && source->Is<TCollection>()) {
    auto* src = static_cast<TCollection*>(source);
    if (src == this) return;
    TUpdateScope update(*this);
    Clear();
    for (TCollectionItem* it : src->items_) Add()->Assign(it);
    return;
  }
  inherited::Assign(source);
}

void TCollection::BeginUpdate() {
  ++updateCount_;
}

void TCollection::EndUpdate() {
  if (updateCount_ > 0 && --updateCount_ == 0) Changed();
}

std::string TCollection::GetNamePath() {
  TPersistent* owner = GetOwner();
  if (!owner) return ClassName();
  std::string ownerPath = owner->GetNamePath();
  if (ownerPath.empty() || PropName.empty()) return ClassName();
  return ownerPath + "." + PropName;
}

void TCollection::Update(TCollectionItem*) {}

void TCollection::Changed() {
  if (updateCount_ == 0) Update(nullptr);
}

void TCollection::InsertItem(TCollectionItem* item) {
  items_.push_back(item);
  item->collection_ = this;
  item->id_ = nextId_++;
}

void TCollection::RemoveItem(TCollectionItem* item) {
  items_.erase(std::remove(items_.begin(), items_.end(), item), items_.end());
  item->collection_ = nullptr;
  Changed();
}

void TCollection::MoveItem(TCollectionItem* item, int index) {
  if (index < 0 || index >= Count()) throw EListError(Format("List index out of bounds (%d)", index));
  items_.erase(std::remove(items_.begin(), items_.end(), item), items_.end());
  items_.insert(items_.begin() + index, item);
}
