#include "LangRes.h"

#include <gtest/gtest.h>

#include "LocaleServices.h"

namespace {

constexpr std::uint16_t kEnglish = 0x0409, kGerman = 0x0407, kRussian = 0x0419;

class LangResTest : public ::testing::Test {
 protected:
  void SetUp() override {
    previous_ = SetLocaleServices(&table_);
    store_ = New<TLangResource>();
    store_->SetNativeLocale(kEnglish);
  }
  void TearDown() override {
    store_->Free();
    SetLocaleServices(previous_);
  }

  // A store with one unit constant, one form property, one component property and one external item.
  void Fill() {
    constant_ = store_->Units()->FindOrAdd("Main")->Constants()->FindOrAdd(10, "SHello", 4001);
    constant_->GetNativeValue()->SetWideText(u"Hello");
    formProp_ = store_->Forms()->FindOrAdd("Form1")->AddProperty("", 20, "Caption", lvkWideString);
    formProp_->GetNativeValue()->SetWideText(u"Wizard");
    compProp_ = store_->Forms()->FindOrAdd("Form1")->AddProperty("Button1", 30, "Caption", lvkWideString);
    compProp_->GetNativeValue()->SetWideText(u"Next");
    external_ = store_->ExtGroups()->FindOrAdd("Extra")->Items()->FindOrAdd(40, "Note");
    external_->GetNativeValue()->SetWideText(u"Note text");
  }

  TTableLocaleServices table_;
  TLocaleServices* previous_ = nullptr;
  TLangResource* store_ = nullptr;
  TLResConstantItem* constant_ = nullptr;
  TLResPropertyItem* formProp_ = nullptr;
  TLResPropertyItem* compProp_ = nullptr;
  TLResExternalItem* external_ = nullptr;
};

}  // namespace

TEST_F(LangResTest, NewStore) {
  TOwned<TLangResource> fresh(New<TLangResource>());
  EXPECT_EQ(fresh->GetLanguageCount(), 1);
  EXPECT_EQ(fresh->GetLanguageLocale(0), table_.UserDefaultLangId());
  EXPECT_EQ(fresh->GetLanguageLocale(1), 0);
  EXPECT_EQ(fresh->GetLanguageLocale(-1), 0);
}

TEST_F(LangResTest, NamedListsStaySortedAndCacheTheLastPosition) {
  TLResUnitList* units = store_->Units();
  TLResUnitItem* b = units->FindOrAdd("Beta");
  TLResUnitItem* d = units->FindOrAdd("delta");
  units->FindOrAdd("Alpha");
  TLResUnitItem* c = units->FindOrAdd("Charlie");
  ASSERT_EQ(units->Count(), 4);
  const char* order[] = {"Alpha", "Beta", "Charlie", "delta"};
  for (int i = 0; i < 4; ++i) EXPECT_EQ(units->GetUnit(i)->Name(), order[i]);
  EXPECT_EQ(units->LastFound(), 2);  // points at the item just inserted
  EXPECT_EQ(units->FindOrAdd("BETA"), b);
  EXPECT_EQ(units->FindOrAdd("DELTA"), d);
  EXPECT_EQ(units->FindOrAdd("charlie"), c);
  EXPECT_EQ(units->Count(), 4);
  int index = -1;
  EXPECT_FALSE(units->Find("Bravo", index));
  EXPECT_EQ(index, 2);  // insertion position
  EXPECT_EQ(units->IndexOfName("alpha"), 0);
  EXPECT_EQ(units->IndexOfName("zulu"), -1);
  // Existing names read in sorted order move the cache along.
  units->FindOrAdd("alpha");
  EXPECT_EQ(units->LastFound(), 0);
  EXPECT_EQ(units->FindOrAdd("beta"), b);
  EXPECT_EQ(units->LastFound(), 1);
  units->Clear();
  EXPECT_EQ(units->LastFound(), -1);
  EXPECT_EQ(units->Count(), 0);
}

TEST_F(LangResTest, ItemsKeepTheirIDAndNames) {
  Fill();
  TLResConstantList* constants = store_->Units()->FindOrAdd("main")->Constants();
  EXPECT_EQ(constants->FindOrAdd(99, "shello", 1), constant_);
  EXPECT_EQ(constant_->ID(), 10);
  EXPECT_EQ(constant_->StringID(), 4001);
  EXPECT_EQ(constant_->GetFullName(), "Main.SHello");
  EXPECT_EQ(formProp_->GetFullName(), "Form1.Caption");
  EXPECT_EQ(compProp_->GetFullName(), "Form1.Button1.Caption");
  EXPECT_EQ(external_->GetFullName(), "Extra.Note");
  EXPECT_EQ(compProp_->GetFormItem(), store_->Forms()->FindOrAdd("Form1"));
  EXPECT_EQ(formProp_->GetFormItem(), store_->Forms()->FindOrAdd("Form1"));
  EXPECT_EQ(constant_->GetValueKind(), lvkWideString);
  EXPECT_EQ(constant_->GetNativeValue()->LangID(), kEnglish);

  TLResFormItem* form = store_->Forms()->FindOrAdd("Form1");
  EXPECT_EQ(form->FindComponentItem(""), form);
  EXPECT_EQ(form->FindProperty("button1", "CAPTION"), compProp_);
  EXPECT_EQ(form->FindProperty("", "Caption"), formProp_);
  EXPECT_EQ(form->FindProperty("Button2", "Caption"), nullptr);
  EXPECT_EQ(store_->Forms()->Count(), 1);
  EXPECT_EQ(form->Components()->Count(), 1);  // FindProperty created nothing

  EXPECT_EQ(store_->FindConstantByID(10), constant_);
  EXPECT_EQ(store_->FindPropertyByID(30), compProp_);
  EXPECT_EQ(store_->FindPropertyByID(20), formProp_);
  EXPECT_EQ(store_->FindPropertyByID(10), nullptr);
  EXPECT_EQ(store_->FindExternalItem("EXTRA", "note"), external_);
  EXPECT_EQ(store_->FindExternalItem("Extra", "None"), nullptr);
}

TEST_F(LangResTest, AddAndRemoveLanguages) {
  Fill();
  EXPECT_EQ(store_->AddLanguage(0, kGerman), 1);
  EXPECT_EQ(store_->AddLanguage(0, kRussian), 2);
  EXPECT_EQ(store_->GetLanguageCount(), 3);
  EXPECT_EQ(store_->IndexOfLocale(kRussian), 2);
  EXPECT_EQ(store_->IndexOfLocale(0x0411), -1);
  for (TLResItem* item : {static_cast<TLResItem*>(constant_), static_cast<TLResItem*>(formProp_),
                          static_cast<TLResItem*>(compProp_), static_cast<TLResItem*>(external_)}) {
    SCOPED_TRACE(item->GetFullName());
    ASSERT_EQ(item->Values()->Count(), 3);
    EXPECT_EQ(item->GetValue(1)->WideText(), item->GetNativeValue()->WideText());
    EXPECT_EQ(item->GetValue(1)->Stamp(), -1);
    EXPECT_EQ(item->GetValue(1)->LangID(), kGerman);
    EXPECT_EQ(item->GetValue(2)->LangID(), kRussian);
  }
  // Items made later get a value per language as well.
  TLResConstantItem* late = store_->Units()->FindOrAdd("Main")->Constants()->FindOrAdd(11, "SLate", 4002);
  ASSERT_EQ(late->Values()->Count(), 3);
  EXPECT_EQ(late->GetValue(2)->LangID(), kRussian);

  constant_->SetLanguageValue(1, u"Hallo", 5);
  constant_->SetLanguageValue(2, u"\u041F\u0440\u0438\u0432\u0435\u0442", 5);
  store_->RemoveLanguage(1);
  EXPECT_EQ(store_->GetLanguageCount(), 2);
  EXPECT_EQ(store_->GetLanguageLocale(1), kRussian);
  ASSERT_EQ(constant_->Values()->Count(), 2);
  EXPECT_EQ(constant_->GetValue(1)->WideText(), u"\u041F\u0440\u0438\u0432\u0435\u0442");
  EXPECT_EQ(late->Values()->Count(), 2);
}

TEST_F(LangResTest, LanguageTableErrors) {
  Fill();
  struct Case {
    const char* name;
    int base;
  } adds[] = {{"base below 0", -1}, {"base at the count", 1}};
  for (const auto& c : adds) {
    SCOPED_TRACE(c.name);
    try {
      store_->AddLanguage(c.base, kGerman);
      FAIL();
    } catch (const ELangResError& e) {
      EXPECT_STREQ(e.what(), "Could not add language");
    }
    EXPECT_EQ(store_->GetLanguageCount(), 1);
    EXPECT_EQ(constant_->Values()->Count(), 1);
  }
  for (int index : {0, 1, -1}) {
    try {
      store_->RemoveLanguage(index);  // only the native language is there
      FAIL();
    } catch (const ELangResError& e) {
      EXPECT_STREQ(e.what(), "Could not remove language");
    }
  }
  store_->AddLanguage(0, kGerman);
  EXPECT_THROW(store_->RemoveLanguage(0), ELangResError);
  EXPECT_THROW(store_->RemoveLanguage(2), ELangResError);
  EXPECT_EQ(store_->GetLanguageCount(), 2);

  store_->Languages()->Clear();
  try {
    store_->AddLanguage(0, kGerman);
    FAIL();
  } catch (const ELangResError& e) {
    EXPECT_STREQ(e.what(), "Empty dictionary");
  }
}

TEST_F(LangResTest, StampRules) {
  Fill();
  store_->AddLanguage(0, kGerman);   // follows (-1)
  store_->AddLanguage(0, kGerman);   // will be made current
  store_->AddLanguage(0, kRussian);  // will be outdated
  TLResValue* native = constant_->GetNativeValue();
  native->SetStamp(3);
  constant_->SetLanguageValue(2, u"Hallo", 3);
  constant_->SetLanguageValue(3, u"\u041F\u0440\u0438\u0432\u0435\u0442", 2);
  EXPECT_EQ(constant_->GetValue(1)->Stamp(), -1);
  EXPECT_EQ(constant_->GetValue(2)->Stamp(), 3);

  native->SetWideText(u"Hello again");
  native->SetStamp(4);
  struct Case {
    int index;
    std::u16string text;
  } cases[] = {{1, u"Hello again"}, {2, u"Hallo"}, {3, u"\u041F\u0440\u0438\u0432\u0435\u0442"}};
  for (const auto& c : cases) EXPECT_EQ(constant_->GetValue(c.index)->WideText(), c.text) << c.index;

  // A translation that follows takes the native text's ANSI bytes, read in its own code page.
  compProp_->GetNativeValue()->SetWideText(u"Caf\u00E9");
  EXPECT_EQ(compProp_->GetValue(1)->WideText(), u"Caf\u00E9");
  EXPECT_EQ(compProp_->GetValue(3)->WideText(), u"Caf\u0439");
  EXPECT_EQ(compProp_->GetValue(3)->GetAnsiText(), compProp_->GetNativeValue()->GetAnsiText());

  // Setting a translation never passes anything on.
  constant_->GetValue(1)->SetWideText(u"Own");
  EXPECT_EQ(constant_->GetValue(2)->WideText(), u"Hallo");
  // A value set with stamp -1 keeps its stamp.
  constant_->SetLanguageValue(2, u"Hallo!", -1);
  EXPECT_EQ(constant_->GetValue(2)->Stamp(), 3);
  // The same text changes nothing, not even the stamp.
  constant_->SetLanguageValue(2, u"Hallo!", 9);
  EXPECT_EQ(constant_->GetValue(2)->Stamp(), 3);
}

TEST_F(LangResTest, SameAsByKind) {
  TOwned<TLResValueList> list(New<TLResValueList>(lvkFloat));
  TLResValue* v = list->GetValue(0);
  struct Case {
    std::uint8_t kind;
    std::u16string own, other;
    bool same;
  } cases[] = {
      {lvkFloat, u"1.0", u"1", true},
      {lvkFloat, u"1.5", u"1.50", true},
      {lvkFloat, u"2", u"1", false},
      {lvkInteger, u"7", u"07", true},
      {lvkInteger, u"7", u"8", false},
      {lvkWideString, u"a", u"A", false},
      {lvkWideString4, u"a", u"a", true},
      {lvkWideString, u"", u"", true},
      {lvkWideString, u"", u"x", false},
      {lvkWideString, u"x", u"", false},
      {3, u"a", u"a", false},
  };
  for (const auto& c : cases) {
    list->SetKind(c.kind);
    v->SetWideText(c.own);
    EXPECT_EQ(v->SameAs(c.other), c.same) << int(c.kind);
  }
  list->SetKind(lvkInteger);
  v->SetWideText(u"seven");
  EXPECT_THROW(v->SameAs(u"7"), EConvertError);
}

TEST_F(LangResTest, ValueTextsAndFlags) {
  Fill();
  store_->AddLanguage(0, kRussian);
  TLResValue* ru = constant_->GetValue(1);
  ru->SetAnsiText("\xCF\xF0\xE8");
  EXPECT_EQ(ru->WideText(), u"\u041F\u0440\u0438");
  EXPECT_EQ(ru->GetAnsiText(), "\xCF\xF0\xE8");
  EXPECT_FALSE(ru->SortKey().empty());

  TLResValue* native = constant_->GetNativeValue();
  native->SetWideText(u"one\r\ntwo");
  EXPECT_EQ(native->GetLines()->Count(), 2);
  native->SetWideText(u" 42 ");
  EXPECT_EQ(native->GetAsInteger(), 42);
  native->SetWideText(u"x42");
  EXPECT_EQ(native->GetAsInteger(), 0);

  constant_->ChangeFlags(0x0101, true);
  EXPECT_TRUE(constant_->HasFlags(0x0100));
  EXPECT_TRUE(constant_->HasFlags(0x0101));
  constant_->ChangeFlags(0x0001, false);
  EXPECT_FALSE(constant_->HasFlags(0x0101));
  EXPECT_TRUE(native->HasFlags(0x0100));

  // Numbers set as variants become text.
  TLResPropertyItem* width = store_->Forms()->FindOrAdd("Form1")->AddProperty("", 21, "Width", lvkInteger);
  width->SetLanguageValue(0, 120, 1);
  EXPECT_EQ(width->GetNativeValue()->WideText(), u"120");
  EXPECT_EQ(width->GetNativeValue()->Stamp(), 1);
}

TEST_F(LangResTest, SetLanguageLocale) {
  Fill();
  store_->AddLanguage(0, kGerman);
  store_->SetLanguageLocale(1, kRussian);
  EXPECT_EQ(store_->GetLanguageLocale(1), kRussian);
  EXPECT_EQ(compProp_->GetValue(1)->LangID(), kRussian);
  EXPECT_EQ(external_->GetValue(1)->LangID(), kRussian);
  store_->SetLanguageLocale(7, kGerman);  // outside the table: nothing
  store_->SetNativeLocale(kGerman);
  EXPECT_EQ(store_->NativeLocale(), kGerman);
  EXPECT_EQ(constant_->GetNativeValue()->LangID(), kGerman);
}

TEST_F(LangResTest, ActiveValueFollowsTheCurrentLanguageForProperties) {
  Fill();
  store_->AddLanguage(0, kGerman);
  compProp_->SetLanguageValue(1, u"Weiter", 0);
  constant_->SetLanguageValue(1, u"Hallo", 0);
  store_->CurrentLanguage = 1;
  EXPECT_EQ(compProp_->GetActiveValue()->WideText(), u"Weiter");
  EXPECT_EQ(formProp_->GetLangIndex(), 1);
  EXPECT_EQ(constant_->GetActiveValue()->WideText(), u"Hello");  // constants always 0
  EXPECT_EQ(external_->GetLangIndex(), 0);
}

TEST_F(LangResTest, LinearLists) {
  TLResFormItem* form = store_->Forms()->FindOrAdd("Form1");
  form->AddProperty("", 50, "Caption", lvkWideString);
  form->AddProperty("Label1", -3, "Caption", lvkWideString);
  form->AddProperty("Label1", 7, "Hint", lvkWideString);
  store_->Forms()->FindOrAdd("About")->AddProperty("", 1, "Caption", lvkWideString);

  TLinearPropertyList* list = New<TLinearPropertyList>();
  store_->Forms()->CollectProperties(list, false);
  ASSERT_EQ(list->Count(), 4);
  EXPECT_FALSE(list->Sorted());
  EXPECT_EQ(list->GetItem(0)->GetFullName(), "About.Caption");
  EXPECT_EQ(list->GetItem(1)->GetFullName(), "Form1.Caption");
  EXPECT_EQ(list->GetItem(2)->GetFullName(), "Form1.Label1.Caption");
  EXPECT_EQ(list->IndexOfID(7), 3);
  EXPECT_EQ(list->IndexOfPath("form1", "LABEL1", "hint"), 3);
  EXPECT_EQ(list->IndexOfPath("Form1", "", "Caption"), 1);
  EXPECT_EQ(list->IndexOfPath("Form1", "Label2", "Caption"), -1);

  store_->Forms()->CollectProperties(list, true);
  EXPECT_TRUE(list->Sorted());
  std::int32_t ids[] = {-3, 1, 7, 50};
  for (int i = 0; i < 4; ++i) EXPECT_EQ(list->GetItem(i)->ID(), ids[i]);
  for (int i = 0; i < 4; ++i) EXPECT_EQ(list->IndexOfID(ids[i]), i) << ids[i];
  for (std::int32_t missing : {-4, 0, 2, 8, 51}) EXPECT_EQ(list->IndexOfID(missing), -1) << missing;

  // Two entries: either ID is found.
  list->Clear();
  list->Add(form->FindProperty("Label1", "Caption"));
  list->Add(form->FindProperty("Label1", "Hint"));
  list->Finish(true);
  EXPECT_EQ(list->IndexOfID(-3), 0);
  EXPECT_EQ(list->IndexOfID(7), 1);
  EXPECT_EQ(list->IndexOfID(5), -1);
  list->Free();

  TLResConstantList* constants = store_->Units()->FindOrAdd("Consts")->Constants();
  constants->FindOrAdd(2, "SOne", 100);
  constants->FindOrAdd(1, "STwo", 101);
  TLinearConstantList* clist = New<TLinearConstantList>();
  store_->Units()->CollectConstants(clist, true);
  EXPECT_EQ(clist->IndexOfID(1), 0);
  EXPECT_EQ(clist->IndexOfName("consts", "stwo"), 0);
  EXPECT_EQ(clist->IndexOfName("Other", "STwo"), -1);
  clist->Free();

  store_->ExtGroups()->FindOrAdd("G")->Items()->FindOrAdd(9, "X");
  TOwned<TLinearExternalList> elist(New<TLinearExternalList>());
  store_->ExtGroups()->CollectItems(elist.get(), false);
  EXPECT_EQ(elist->IndexOfID(9), 0);
}

TEST_F(LangResTest, ModifiedAndPack) {
  Fill();
  TLResFormItem* form = store_->Forms()->FindOrAdd("Form1");
  TLResPropertyItem* hint = form->AddProperty("Button1", 31, "Hint", lvkWideString);
  store_->Forms()->FindOrAdd("Unused")->AddProperty("", 60, "Caption", lvkWideString);
  store_->Units()->FindOrAdd("Stale")->Constants()->FindOrAdd(70, "SOld", 1);

  form->SetModified(true);  // the form, its properties, its components and theirs
  EXPECT_TRUE(compProp_->Modified());
  EXPECT_TRUE(hint->Modified());
  hint->SetModified(false);
  store_->Units()->FindOrAdd("Main")->SetModified(true);
  store_->ExtGroups()->FindOrAdd("Extra")->SetModified(false);

  store_->Forms()->Pack();
  store_->Units()->Pack();
  store_->ExtGroups()->Pack();
  EXPECT_EQ(store_->Forms()->IndexOfName("Unused"), -1);
  EXPECT_EQ(form->FindProperty("Button1", "Hint"), nullptr);
  EXPECT_EQ(form->FindProperty("Button1", "Caption"), compProp_);
  EXPECT_EQ(form->FindProperty("", "Caption"), formProp_);
  EXPECT_EQ(store_->Units()->IndexOfName("Stale"), -1);
  EXPECT_EQ(store_->FindConstantByID(10), constant_);
  EXPECT_EQ(store_->ExtGroups()->Count(), 0);
}
