// String lists that fail on purpose, for tests of what an error in the middle
// of a batch leaves behind.
#pragma once

#include <string>

#include "Exceptions.h"
#include "Strings.h"

// A list whose Get raises for one index.
class TBrittleSource : public TStringList {
 public:
  int failAt = 1;
  std::string Get(int index) const override {
    if (index == failAt) throw EStringListError("unreadable entry");
    return TStringList::Get(index);
  }
};

// A list that refuses every entry after the first `room` ones.
class TBrittleTarget : public TStringList {
 public:
  int room = 1;
  int AddObject(const std::string& s, TObject* obj) override {
    if (Count() >= room) throw EStringListError("list is full");
    return TStringList::AddObject(s, obj);
  }
};
