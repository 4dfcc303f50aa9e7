// Pointer lists. TList keeps untyped pointers and tells its virtual Notify
// about every addition and removal; TObjectList frees the objects it owns.
#pragma once

#include <cstddef>
#include <mutex>
#include <vector>

#include "Object.h"

FW_ENUM(TListNotification, lnAdded, lnExtracted, lnDeleted);

class TList : public TObject {
  FW_CLASS(TList, TObject)
 public:
  TList() = default;
  void Destroy() override;

  int Count() const { return static_cast<int>(items_.size()); }
  void* Get(int index) const;
  void Put(int index, void* item);
  void* operator[](int index) const { return Get(index); }
  int Add(void* item);
  void Insert(int index, void* item);
  void Delete(int index);
  int Remove(void* item);     // index it had, or -1
  void* Extract(void* item);  // removes without "deleting" (lnExtracted)
  int IndexOf(const void* item) const;
  void Exchange(int a, int b);
  void Move(int from, int to);
  void* First() const { return Get(0); }
  void* Last() const { return Get(Count() - 1); }
  void Pack();  // drops null entries
  virtual void Clear();
  // Stable sort by `compare` (<0, 0, >0).
  void Sort(int (*compare)(void*, void*));
  const std::vector<void*>& List() const { return items_; }

 protected:
  virtual void Notify(void* item, TListNotification action);
  void CheckIndex(int index, bool allowEnd = false) const;

 private:
  std::vector<void*> items_;
};

// A list of objects; when OwnsObjects (the default) it frees the objects it deletes or clears.
class TObjectList : public TList {
  FW_CLASS(TObjectList, TList)
 public:
  explicit TObjectList(bool ownsObjects = true) : OwnsObjects(ownsObjects) {}
  bool OwnsObjects;

  TObject* Items(int index) const { return static_cast<TObject*>(Get(index)); }
  int Add(TObject* item) { return TList::Add(item); }
  void Insert(int index, TObject* item) { TList::Insert(index, item); }
  int Remove(TObject* item) { return TList::Remove(item); }
  TObject* Extract(TObject* item) { return static_cast<TObject*>(TList::Extract(item)); }
  int IndexOf(const TObject* item) const { return TList::IndexOf(item); }

 protected:
  void Notify(void* item, TListNotification action) override;
};

class TComponent;

// A list of components that drops a component freed elsewhere (it asks each
// for a free notification through a hidden helper component).
class TComponentList : public TObjectList {
  FW_CLASS(TComponentList, TObjectList)
 public:
  explicit TComponentList(bool ownsObjects = true);
  void Destroy() override;
  TComponent* Items(int index) const;
  int Add(TComponent* item);
  int IndexOf(const TComponent* item) const;

 protected:
  void Notify(void* item, TListNotification action) override;

 private:
  friend class TComponentListNexus;
  void ComponentFreed(TComponent* c);
  TComponent* nexus_ = nullptr;
};

// A pointer list shared between threads: LockList gives the list under the lock.
class TThreadList : public TObject {
  FW_CLASS(TThreadList, TObject)
 public:
  TThreadList() = default;
  void Destroy() override;
  void Add(void* item);  // dupIgnore semantics: an item already present is not added again
  void Remove(void* item);
  void Clear();
  TList* LockList();
  void UnlockList();

 private:
  std::recursive_mutex lock_;
  TList* list_ = nullptr;
};
