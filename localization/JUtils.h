// TJObjectList: a pointer list that owns its objects and reports every change
// and the moment it becomes empty through two events.
#pragma once

#include "Lists.h"
#include "Method.h"
#include "Object.h"

class TJObjectList : public TList {
  FW_CLASS(TJObjectList, TList)
 public:
  TJObjectList() = default;

  // Called with the list after it has become empty.
  TNotifyEvent OnEmpty;
  // Called with the list after every change.
  TNotifyEvent OnChange;

  int Add(TObject* object);
  void Insert(int index, TObject* object);
  TObject* GetItem(int index) const { return static_cast<TObject*>(Get(index)); }
  // Stores without notification (and without freeing what was there).
  void SetItem(int index, TObject* object) { Put(index, object); }
  // Removes the entry without freeing its object.
  void DeleteAt(int index);
  // Frees the object, then removes its entry.
  virtual void FreeAndDelete(int index);
  // Frees every object, empties the list and reports the change.
  void ClearAll() { Clear(); }
  void Clear() override;

 protected:
  // Frees every object from the first to the last, leaving empty entries.
  virtual void FreeItems();
  virtual void DoEmpty();
  virtual void Changed();
};
