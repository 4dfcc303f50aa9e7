#include "JUtils.h"

#include <gtest/gtest.h>

#include <string>

namespace {

int gAlive = 0;

class TCounted : public TObject {
 public:
  TCounted() { ++gAlive; }
  ~TCounted() override { --gAlive; }
};

class TRecorder {
 public:
  std::string log;
  void Change(TObject*) { log += "C"; }
  void Empty(TObject*) { log += "E"; }
};

TJObjectList* MakeList(TRecorder& r) {
  auto* list = New<TJObjectList>();
  list->OnChange = TNotifyEvent::Bind<&TRecorder::Change>(&r);
  list->OnEmpty = TNotifyEvent::Bind<&TRecorder::Empty>(&r);
  return list;
}

}  // namespace

TEST(TJObjectList, EventsAndOwnership) {
  TRecorder r;
  TJObjectList* list = MakeList(r);
  list->Add(New<TCounted>());
  list->Insert(0, New<TCounted>());
  EXPECT_EQ(r.log, "CC");
  EXPECT_EQ(gAlive, 2);

  TObject* kept = list->GetItem(1);
  list->DeleteAt(1);  // removes without freeing
  EXPECT_EQ(gAlive, 2);
  EXPECT_EQ(r.log, "CCC");
  kept->Free();

  list->SetItem(0, list->GetItem(0));  // no notification
  EXPECT_EQ(r.log, "CCC");

  r.log.clear();
  list->FreeAndDelete(0);  // the last object: change, then empty
  EXPECT_EQ(gAlive, 0);
  EXPECT_EQ(r.log, "CE");

  r.log.clear();
  list->ClearAll();  // on an empty list, both events as well
  EXPECT_EQ(r.log, "CE");

  list->Add(New<TCounted>());
  list->Add(New<TCounted>());
  r.log.clear();
  list->ClearAll();
  EXPECT_EQ(gAlive, 0);
  EXPECT_EQ(list->Count(), 0);
  EXPECT_EQ(r.log, "CE");

  list->Add(New<TCounted>());
  list->Free();  // destroying frees the objects
  EXPECT_EQ(gAlive, 0);
}

TEST(TJObjectList, IndexErrors) {
  TOwned<TJObjectList> list(New<TJObjectList>());
  EXPECT_THROW(list->GetItem(0), EListError);
  EXPECT_THROW(list->FreeAndDelete(0), EListError);
  EXPECT_THROW(list->DeleteAt(-1), EListError);
}
