// Collections: an owned, ordered set of items of one class, streamed as a
// collection value. Changes reach the virtual Update(item) unless updates are
// suspended by BeginUpdate/EndUpdate (then one Update(nullptr) at the end).
#pragma once

#include <string>
#include <vector>

#include "Persistent.h"

class TCollection;

class TCollectionItem : public TPersistent {
  FW_CLASS(TCollectionItem, TPersistent)
 public:
  static constexpr int FwFamily = 2;  // created from metadata with its collection
  explicit TCollectionItem(TCollection* collection);
  void Destroy() override;

  TCollection* Collection() const { return collection_; }
  void SetCollection(TCollection* collection);
  int ID() const { return id_; }
  int Index() const;
  virtual void SetIndex(int index);
  virtual std::string DisplayName() const { return ClassName(); }
  TPersistent* GetOwner() override;
  std::string GetNamePath() override;

 protected:
  // Reports a change of this item (or, with allItems, of the whole collection).
  void Changed(bool allItems);

 private:
  friend class TCollection;
  TCollection* collection_ = nullptr;
  int id_ = 0;
};

class TCollection : public TPersistent {
  FW_CLASS(TCollection, TPersistent)
 public:
  explicit TCollection(const ClassInfo& itemClass);
  void Destroy() override;

  const ClassInfo& ItemClass() const { return *itemClass_; }
  int Count() const { return static_cast<int>(items_.size()); }
  TCollectionItem* Items(int index) const;  // raises EListError out of range
  TCollectionItem* Add();
  TCollectionItem* Insert(int index);
  void Delete(int index);
  void Clear();
  TCollectionItem* FindItemID(int id) const;
  void Assign(TPersistent* source) override;

  virtual void BeginUpdate();
  virtual void EndUpdate();
  int UpdateCount() const { return updateCount_; }

  TPersistent* GetOwner() override { return nullptr; }
  std::string GetNamePath() override;
  // The property name under which the owner publishes this collection (for the name path).
  std::string PropName;

 protected:
  // Called after a change of `item`, or of the whole collection when null.
  virtual void Update(TCollectionItem* item);
  void Changed();

 private:
  friend class TCollectionItem;
  void InsertItem(TCollectionItem* item);
  void RemoveItem(TCollectionItem* item);
  void MoveItem(TCollectionItem* item, int index);

  const ClassInfo* itemClass_;
  std::vector<TCollectionItem*> items_;
  int updateCount_ = 0;
  int nextId_ = 0;
};

// A collection that knows the persistent object holding it.
class TOwnedCollection : public TCollection {
  FW_CLASS(TOwnedCollection, TCollection)
 public:
  TOwnedCollection(TPersistent* owner, const ClassInfo& itemClass) : TCollection(itemClass), owner_(owner) {}
  TPersistent* GetOwner() override { return owner_; }

 private:
  TPersistent* owner_;
};
