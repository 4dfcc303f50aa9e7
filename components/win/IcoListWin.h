// An ordered list of icons that a component publishes as one property. It
// streams itself into form data as the raw-bytes property "Icons" (the
// layout of IcoList.h) and reports every change of the list, and of the
// icons it holds, through OnListChange. An entry may be absent.
#pragma once

#include <windows.h>

#include <vector>

#include "Graphics.h"
#include "IcoList.h"

class TIconList : public TPersistent {
  FW_CLASS(TIconList, TPersistent)
 public:
  TIconList() = default;
  void Destroy() override;
  // None clears the list; another list or an icon replaces the entries (an
  // absent entry of a list source becomes an empty icon); a list assigned to
  // itself stays as it is.
  void Assign(TPersistent* source) override;
  void DefineProperties(TFiler& filer) override;

  // Changes inside LockUpdates ... UnlockUpdates report once, at the end.
  void LockUpdates() { ++updateCount_; }
  void UnlockUpdates();

  virtual void NotifyChange();
  // The entry (null when absent); an index outside the list raises EListError.
  virtual TIcon* IconAt(int index) const;
  virtual int IconCount() const { return static_cast<int>(icons_.size()); }
  // The entry becomes a copy of `icon` (an empty icon for null); an index
  // equal to the count appends one.
  virtual void SetIconAt(int index, TIcon* icon);
  // A copy of `icon` (an empty icon for null); the index it got.
  virtual int AppendIcon(TIcon* icon);
  virtual int AppendResourceIcon(HINSTANCE instance, const char* resName);
  virtual void RemoveAll();
  virtual void RemoveIcon(int index);
  virtual void SwapIcons(int index1, int index2);
  // The index of that icon object, or -1.
  virtual int FindIcon(TIcon* icon) const;
  virtual void InsertIcon(int index, TIcon* icon);
  virtual void InsertResourceIcon(int index, HINSTANCE instance, const char* resName);
  // The "Icons" layout: reading replaces the entries (those read before a
  // failure stay); writing saves each present, non-empty icon as an icon file.
  virtual void ReadIcons(TStream& stream);
  virtual void MoveIcon(int curIndex, int newIndex);
  virtual void WriteIcons(TStream& stream);

  TNotifyEvent OnListChange;

 private:
  friend class TIconListReader;
  void CheckIndex(int index, int limit) const;
  TIcon* NewIcon(TIcon* source);
  TIcon* ResourceIcon(HINSTANCE instance, const char* resName);
  void Adopt(int index, TIcon* icon);
  void IconChanged(TObject* sender);
  std::vector<TIcon*> icons_;
  int updateCount_ = 0;
};
