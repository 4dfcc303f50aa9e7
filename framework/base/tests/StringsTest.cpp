#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "BrittleStrings.h"
#include "Streams.h"
#include "Strings.h"

namespace {

struct ChangeCounter {
  int changes = 0, changing = 0;
  void OnChange(TObject*) { ++changes; }
  void OnChanging(TObject*) { ++changing; }
};

std::vector<std::string> Items(const TStrings& s) {
  std::vector<std::string> v;
  for (int i = 0; i < s.Count(); ++i) v.push_back(s[i]);
  return v;
}

}  // namespace

TEST(StringList, ValuesAndNames) {
  TOwned<TStringList> s(New<TStringList>());
  s->SetText("Port=COM1\r\nspeed=115200\nNoValue\rEmpty=");
  EXPECT_EQ(s->Count(), 4);
  EXPECT_EQ(s->Values("port"), "COM1");
  EXPECT_EQ(s->Values("Speed"), "115200");
  EXPECT_EQ(s->Values("NoValue"), "");
  EXPECT_EQ(s->Names(3), "Empty");
  EXPECT_EQ(s->Names(2), "");
  s->SetValue("Port", "COM2");
  EXPECT_EQ(s->Strings(0), "Port=COM2");
  s->SetValue("New", "1");
  EXPECT_EQ(s->Strings(4), "New=1");
  s->SetValue("speed", "");
  EXPECT_EQ(s->IndexOfName("speed"), -1) << "an empty value removes the entry";
  EXPECT_EQ(s->Text(), "Port=COM2\r\nNoValue\r\nEmpty=\r\nNew=1\r\n");
}

TEST(StringList, SortingDuplicatesAndCase) {
  struct Case {
    TDuplicates dup;
    bool caseSensitive;
    std::vector<std::string> want;
  } cases[] = {
      {dupIgnore, false, {"alpha", "Beta", "gamma"}},
      {dupAccept, false, {"alpha", "Beta", "beta", "gamma"}},
      {dupIgnore, true, {"alpha", "beta", "Beta", "gamma"}},
  };
  for (const Case& c : cases) {
    TOwned<TStringList> s(New<TStringList>());
    s->SetCaseSensitive(c.caseSensitive);
    s->Duplicates = c.dup;
    s->SetSorted(true);
    for (const char* w : {"gamma", "Beta", "alpha", "beta"}) s->Add(w);
    EXPECT_EQ(Items(*s), c.want);
    int at = -1;
    EXPECT_TRUE(s->Find("GAMMA", at) || c.caseSensitive);
    EXPECT_THROW(s->Insert(0, "x"), EStringListError);
  }
  TOwned<TStringList> s(New<TStringList>());
  s->Duplicates = dupError;
  s->SetSorted(true);
  s->Add("a");
  try {
    s->Add("A");
    FAIL();
  } catch (const EStringListError& e) {
    EXPECT_EQ(e.Message, "String list does not allow duplicates");
  }
  s->SetSorted(false);
  s->Add("0");
  s->Add("b");
  s->SetSorted(true);
  EXPECT_EQ(Items(*s), (std::vector<std::string>{"0", "a", "b"})) << "turning Sorted on sorts";
  EXPECT_THROW(s->Get(3), EStringListError);
}

TEST(StringList, CommaTextObjectsAndChangeEvents) {
  TOwned<TStringList> s(New<TStringList>());
  ChangeCounter counter;
  s->OnChange = TNotifyEvent::Bind<&ChangeCounter::OnChange>(&counter);
  s->OnChanging = TNotifyEvent::Bind<&ChangeCounter::OnChanging>(&counter);
  s->SetCommaText(R"(one, "two words",three "say ""hi""",)");
  EXPECT_EQ(Items(*s), (std::vector<std::string>{"one", "two words", "three", "say \"hi\"", ""}));
  EXPECT_EQ(counter.changes, 1) << "one change for a batch";
  EXPECT_EQ(counter.changing, 1);
  EXPECT_EQ(s->CommaText(), R"(one,"two words",three,"say ""hi""",)");
  s->Clear();
  s->Add("");
  EXPECT_EQ(s->CommaText(), "\"\"");

  TStringList* owner = New<TStringList>();
  owner->OwnsObjects = true;
  owner->AddObject("x", New<TStringList>());
  EXPECT_TRUE(owner->Objects(0)->Is<TStringList>());
  TStringList* copy = New<TStringList>();
  copy->Assign(owner);
  EXPECT_EQ(copy->Objects(0), owner->Objects(0));
  copy->Free();
  owner->Free();  // frees the attached list
}

TEST(Streams, ExactReadsRaiseReadError) {
  TOwned<TMemoryStream> m(New<TMemoryStream>());
  m->WriteU32(0x01020304);
  m->WriteBytes("xy");
  EXPECT_EQ(m->Size(), 6);
  m->SetPosition(0);
  EXPECT_EQ(m->ReadU32(), 0x01020304u);
  char buf[4];
  try {
    m->ReadBuffer(buf, 4);
    FAIL();
  } catch (const EReadError& e) {
    EXPECT_EQ(e.Message, "Stream read error");
  }
  m->SetPosition(4);
  EXPECT_THROW(m->ReadBytes(1LL << 40), EReadError) << "no huge allocation for a bad length";
  EXPECT_THROW(m->Seek(-1, SeekOrigin::Beginning), EStreamError);

  TReadOnlyMemoryStream* ro = New<TReadOnlyMemoryStream>(m->Memory(), 6);
  EXPECT_EQ(ro->ReadBytes(6).substr(4), "xy");
  EXPECT_THROW(ro->WriteU8(1), EStreamError);

  TStringStream* ss = New<TStringStream>();
  ro->SetPosition(0);
  EXPECT_EQ(ss->CopyFrom(*ro, 0), 6);
  EXPECT_EQ(ss->DataString().substr(4), "xy");
  ss->Free();
  ro->Free();

  std::string path = ::testing::TempDir() + "fw_stream_test.bin";
  m->SaveToFile(path);
  TOwned<TMemoryStream> back(New<TMemoryStream>());
  back->LoadFromFile(path);
  EXPECT_EQ(back->DataString(), m->DataString());
  TFileStream* f = New<TFileStream>(path, fmOpenReadWrite);
  f->Seek(0, SeekOrigin::End);
  f->WriteBytes("z");
  f->SetSize(3);
  EXPECT_EQ(f->Size(), 3);
  f->Free();
  EXPECT_THROW(New<TFileStream>(path + ".missing/none", fmOpenRead), EFOpenError);
  std::remove(path.c_str());
}

namespace {

// A list left out of its update reports the next change at once.
void ExpectNotStuck(TStringList* list, ChangeCounter& counter) {
  EXPECT_EQ(list->UpdateCount(), 0);
  EXPECT_EQ(counter.changing, counter.changes) << "every OnChanging is followed by an OnChange";
  const int before = counter.changes;
  list->Add("later");
  EXPECT_EQ(counter.changes, before + 1) << "a change after the error is reported";
}

}  // namespace

TEST(StringList, AnErrorInTheMiddleOfABatchEndsTheUpdate) {
  struct Case {
    const char* name;
    void (*run)(TStringList* list);
  } cases[] = {
      {"Assign from a source that fails on its second entry",
       [](TStringList* list) {
         auto* src = New<TBrittleSource>();
         src->SetText("one\ntwo\nthree");
         try {
           list->Assign(src);
         } catch (...) {
           src->Free();
           throw;
         }
         src->Free();
       }},
      {"AddStrings from a source that fails on its second entry",
       [](TStringList* list) {
         auto* src = New<TBrittleSource>();
         src->SetText("one\ntwo");
         try {
           list->AddStrings(*src);
         } catch (...) {
           src->Free();
           throw;
         }
         src->Free();
       }},
      {"SetText with a duplicate in a list that refuses them",
       [](TStringList* list) {
         list->SetSorted(true);
         list->Duplicates = dupError;
         list->SetText("a\nb\nA");
       }},
      {"SetCommaText with a duplicate in a list that refuses them",
       [](TStringList* list) {
         list->SetSorted(true);
         list->Duplicates = dupError;
         list->SetCommaText("a,b,a");
       }},
      {"Move from an index out of bounds", [](TStringList* list) { list->Move(7, 0); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ChangeCounter counter;
    TStringList* list = New<TStringList>();
    list->Add("old");
    list->OnChange = TNotifyEvent::Bind<&ChangeCounter::OnChange>(&counter);
    list->OnChanging = TNotifyEvent::Bind<&ChangeCounter::OnChanging>(&counter);
    EXPECT_THROW(c.run(list), EStringListError);
    list->SetSorted(false);
    ExpectNotStuck(list, counter);
    list->Free();
  }
}

TEST(StringList, AssignKeepsWhatWasCopiedBeforeTheError) {
  TOwned<TBrittleSource> src(New<TBrittleSource>());
  src->SetText("one\ntwo\nthree");
  TOwned<TStringList> list(New<TStringList>());
  list->SetText("old");
  EXPECT_THROW(list->Assign(src.get()), EStringListError);
  EXPECT_EQ(Items(*list), std::vector<std::string>{"one"});
  EXPECT_EQ(list->UpdateCount(), 0);
}

TEST(StringList, CommaTextKeepsTheListsDelimiterAndQuoteAfterAnError) {
  TOwned<TBrittleSource> src(New<TBrittleSource>());
  src->SetText("one\ntwo");
  src->Delimiter = ';';
  src->QuoteChar = '\'';
  EXPECT_THROW(src->CommaText(), EStringListError);
  EXPECT_EQ(src->Delimiter, ';');
  EXPECT_EQ(src->QuoteChar, '\'');
  src->failAt = -1;
  EXPECT_EQ(src->CommaText(), "one,two");
  EXPECT_EQ(src->DelimitedText(), "one;two");

  TOwned<TStringList> list(New<TStringList>());
  list->SetSorted(true);
  list->Duplicates = dupError;
  list->Delimiter = ';';
  EXPECT_THROW(list->SetCommaText("a,a"), EStringListError);
  EXPECT_EQ(list->Delimiter, ';');
  EXPECT_EQ(list->QuoteChar, '"');
}
