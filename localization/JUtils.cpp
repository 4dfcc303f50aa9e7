#include "JUtils.h"

FW_IMPLEMENT_CLASS(TJObjectList)

int TJObjectList::Add(TObject* object) {
  int index = TList::Add(object);
  Changed();
  return index;
}

void TJObjectList::Insert(int index, TObject* object) {
  TList::Insert(index, object);
  Changed();
}

void TJObjectList::DeleteAt(int index) {
  TList::Delete(index);
  Changed();
}

void TJObjectList::FreeAndDelete(int index) {
  TObject* object = GetItem(index);
  Put(index, nullptr);
  FreeObject(object);
  DeleteAt(index);
}

void TJObjectList::Clear() {
  FreeItems();
  TList::Clear();
  Changed();
}

void TJObjectList::FreeItems() {
  for (int i = 0; i < Count(); ++i) {
    TObject* object = GetItem(i);
    Put(i, nullptr);
    FreeObject(object);
  }
}

void TJObjectList::DoEmpty() {
  if (OnEmpty) OnEmpty(this);
}

void TJObjectList::Changed() {
  if (OnChange) OnChange(this);
  if (Count() == 0) DoEmpty();
}
