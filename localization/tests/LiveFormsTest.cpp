#include "LiveForms.h"
#include "LiveFormsFakes.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include "LocaleServices.h"

namespace {

constexpr std::uint16_t kNative = 9, kRussian = 0x0419, kHebrew = 0x040D;
constexpr std::int32_t kStamp = 92;

class LiveFormsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    previous_ = SetLocaleServices(&table_);
    Build();
  }
  // A fresh store (native English, Russian column active) and form.
  void Build() {
    gLog.clear();
    owned_.reset();
    host_ = FakeHost();
    tr_ = TLiveTranslator();
    store_.reset(New<TLangResource>());
    store_->SetNativeLocale(kNative);
    store_->AddLanguage(0, kRussian);
    store_->CurrentLanguage = 1;
    tr_.Store = store_.get();
    tr_.CurrentLocale = kRussian;
    tr_.Host = &host_;
    TFakeTree tree = BuildFakeTree();
    owned_.reset(tree.Form);
    form_ = tree.Form;
    panel_ = tree.Panel;
    rg_ = tree.RadioGroup;
    grid_ = tree.Grid;
    styled_ = tree.Styled;
    book_ = tree.Book;
  }
  void TearDown() override {
    owned_.reset();
    store_.reset();
    SetLocaleServices(previous_);
  }

  // A property item of `formName` with its native text and translation (stamp: the translation's).
  TLResPropertyItem* Put(const std::string& formName, const std::string& component, const std::string& property,
                         const std::u16string& native, const std::u16string& translated, std::int32_t stamp = kStamp) {
    TLResPropertyItem* item =
        store_->Forms()->FindOrAdd(formName)->AddProperty(component, ++lastId_, property, lvkWideString);
    if (item->Values()->Count() < 2) item->AddLanguageValues();
    item->GetNativeValue()->SetWideText(native);
    item->GetNativeValue()->SetStamp(kStamp);
    item->GetValue(1)->SetWideText(translated);
    item->GetValue(1)->SetStamp(stamp);
    return item;
  }
  TLResPropertyItem* Put(const std::string& component, const std::string& property, const std::u16string& text) {
    return Put("Form1", component, property, u"native", text);
  }
  void Translate() { tr_.TranslateLiveComponent(nullptr, form_); }

  TTableLocaleServices table_;
  TLocaleServices* previous_ = nullptr;
  TOwned<TLangResource> store_;
  TLiveTranslator tr_;
  FakeHost host_;
  TOwned<TComponent> owned_;
  TForm1* form_ = nullptr;
  TTestControl* panel_ = nullptr;
  TTestControl* rg_ = nullptr;
  TTestGrid* grid_ = nullptr;
  TTestStyled* styled_ = nullptr;
  TTabbedNotebook* book_ = nullptr;
  std::int32_t lastId_ = 0;
};

TEST_F(LiveFormsTest, DerivedFormGetsTheBaseClassTextsFirstThenItsOwn) {
  TOwned<TForm2> form(New<TForm2>(nullptr));
  auto* label = New<TTestControl>(form.get());
  label->SetName("Label1");
  Put("Form1", "", "Caption", u"Base", u"Base RU");
  Put("Form1", "Label1", "Caption", u"Label", u"Label RU");
  Put("Form2", "", "Caption", u"Derived", u"Derived RU");
  gLog.clear();
  tr_.TranslateLiveComponent(nullptr, form.get());
  EXPECT_EQ(gLog, (std::vector<std::string>{"form.Caption=Base RU", "Label1.Caption=Label RU", "charset=204",
                                            "form.Caption=Derived RU"}));
}

TEST_F(LiveFormsTest, FormsAreScaledAndGivenTheirReadingOrderButDataModulesAreNot) {
  TOwned<TDataModule1> module(New<TDataModule1>(nullptr));
  module->SetName("DM");
  Put("Form1", "", "Caption", u"Wizard", u"Master");
  Put("DataModule1", "", "Caption", u"Data", u"Daten");
  form_->PixelsPerInch = 120;
  host_.Forms = {form_};
  host_.Modules = {module.get()};
  tr_.ApplyBiDiMode = true;
  tr_.CurrentLocale = kHebrew;
  for (int round = 0; round < 2; ++round) {
    tr_.RetranslateForms(nullptr);
    tr_.RetranslateDataModules(nullptr);
  }
  EXPECT_EQ(form_->GetCaption(), "Master");
  EXPECT_EQ(module->Caption, "Daten");
  // scaled once: afterwards the form counts as made at the screen's PixelsPerInch
  EXPECT_EQ(host_.Calls, (std::vector<std::string>{"scale Form1 96/120", "rtl Form1", "rtl Form1"}));
}

TEST_F(LiveFormsTest, LeftToRightLocaleAndBiDiModeOff) {
  Put("", "Caption", u"Master");
  tr_.ApplyBiDiMode = true;
  Translate();
  tr_.ApplyBiDiMode = false;
  Translate();
  EXPECT_EQ(host_.Calls, (std::vector<std::string>{"ltr Form1"}));
}

TEST_F(LiveFormsTest, FramesAreTranslatedFirstByTheirOwnClass) {
  auto* frame = New<TFrame1>(form_);
  frame->SetName("Frame");
  auto* inner = New<TTestControl>(frame);
  inner->SetName("Inner");
  Put("Frame1", "Inner", "Caption", u"Inner", u"From frame");
  Put("Form1", "Panel1", "Caption", u"Panel", u"From form");
  Put("Form1", "Inner", "Caption", u"Inner", u"Form wins");
  tr_.ApplyCharset = false;
  gLog.clear();
  Translate();
  EXPECT_EQ(gLog, (std::vector<std::string>{"Inner.Caption=From frame", "Inner.Caption=Form wins",
                                            "Panel1.Caption=From form"}));
}

TEST_F(LiveFormsTest, Paths) {
  Put("Panel1", "Caption", u"Панель");
  Put("rgType", "Items.Strings", u"Кабель\r\nИК-порт");
  Put("Book.TTabPage2", "Caption", u"Вторая");
  Put("Book.TTabPage7", "Caption", u"Новая");
  Put("Book.TTabPage0", "Caption", u"no page 0");  // skipped, as is a page part that is no number
  Put("Book.TTabPagex", "Caption", u"no number");
  std::vector<std::string> custom;
  struct Recorder {
    std::vector<std::string>* out;
    void Custom(TObject* obj, const std::string& path, bool& handled, TLResValue*) {
      out->push_back(std::string(obj->ClassName()) + ":" + path);
      handled = path == "Missing.Caption";
    }
  } recorder{&custom};
  tr_.OnCustomObject = TCustomObjectEvent::Bind<&Recorder::Custom>(&recorder);
  Put("Panel1.Missing", "Caption", u"x");
  Translate();
  EXPECT_EQ(panel_->GetCaption(), "\xcf\xe0\xed\xe5\xeb\xfc");  // in code page 1251
  EXPECT_EQ(rg_->GetItems()->Count(), 2);
  EXPECT_EQ(rg_->GetItems()->Strings(1), "\xc8\xca-\xef\xee\xf0\xf2");
  // the unresolved tail goes before the property name: page 2 replaced, page 7 appended
  EXPECT_EQ(book_->GetPages()->Count(), 4);
  EXPECT_EQ(book_->GetPages()->Strings(1), "\xc2\xf2\xee\xf0\xe0\xff");
  EXPECT_EQ(book_->GetPages()->Strings(2), "Three");
  EXPECT_EQ(book_->GetPages()->Strings(3), "\xcd\xee\xe2\xe0\xff");
  EXPECT_NE(std::find(custom.begin(), custom.end(), "TTestControl:Missing.Caption"), custom.end());
}

TEST_F(LiveFormsTest, ResolvingPathsReachesHeldObjects) {
  std::string tail;
  EXPECT_EQ(ResolveComponentPath(form_, "Panel1.Font", tail), panel_->GetFont());
  EXPECT_EQ(tail, "");
  EXPECT_EQ(ResolveComponentPath(form_, "rgType.Items", tail), rg_->GetItems());
  EXPECT_EQ(ResolveComponentPath(form_, "Panel1.Nothing.Deeper", tail), panel_);
  EXPECT_EQ(tail, "Nothing.Deeper");
  EXPECT_EQ(ResolveComponentPath(form_, "NoSuch.Font", tail), nullptr);
  EXPECT_EQ(FindLiveComponent(form_, "PANEL1"), panel_);
}

TEST_F(LiveFormsTest, CollectionsAndMalformedIndexedPaths) {
  Put("Grid.Columns[1]", "Caption", u"Second");
  Put("Grid.Columns[0].Lines[2]", "Caption", u"Nested");
  Put("Grid.Columns[0].Lines[3]", "Caption", u"past the count");
  Put("Grid.Columns[2]", "Caption", u"past the count");
  Put("Grid.Columns[1].Lines", "Caption", u"no index after the dot");
  // the bad shapes; Panel1 sorts after them and must still be applied
  for (const char* bad : {"Grid.Columns[1", "Grid.Columns[x]", "Grid.Columns[-1]", "Grid.Columns[]", "Grid.Columns[1]x",
                          "Grid.Columns[99999999999]", "Grid.Columns[0].Lines[1", "Grid.Columns[0].Lines[y]"})
    Put(bad, "Caption", u"bad");
  Put("Panel1", "Caption", u"after");
  Translate();
  EXPECT_EQ(grid_->Column(0)->Caption, "");
  EXPECT_EQ(grid_->Column(1)->Caption, "Second");
  auto line = [&](int c, int l) { return static_cast<TLineItem*>(grid_->Column(c)->GetLines()->Items(l))->Caption; };
  EXPECT_EQ(line(0, 2), "Nested");
  for (int c = 0; c < 2; ++c)
    for (int l = 0; l < 3; ++l)
      if (c != 0 || l != 2) {
        EXPECT_EQ(line(c, l), "") << c << "," << l;
      }
  EXPECT_EQ(panel_->GetCaption(), "after");
}

TEST_F(LiveFormsTest, ParsingIndexedPaths) {
  struct Case {
    const char* path;
    bool ok;
    const char* object = "";
    const char* name = "";
    int index = 0;
    const char* rest = "";
  };
  for (const Case& c : std::vector<Case>{{"Grid.Columns[1]", true, "Grid", "Columns", 1, ""},
                                         {"A.B.Items[12].Sub[0]", true, "A.B", "Items", 12, "Sub[0]"},
                                         {"Grid[3]", true, "Grid", "", 3, ""},
                                         {"Grid.Columns[1].", true, "Grid", "Columns", 1, ""},
                                         {"Grid.Columns[1", false},
                                         {"Grid.Columns[+1]", false},
                                         {"Grid.Columns[-1]", false},
                                         {"Grid.Columns[2147483648]", false},
                                         {"Grid.Columns[1]]", false},
                                         {"Grid.Columns", false}}) {
    std::string object;
    TIndexStep step;
    ASSERT_EQ(ParseFirstIndex(c.path, object, step), c.ok) << c.path;
    if (!c.ok) continue;
    EXPECT_EQ(object, c.object) << c.path;
    EXPECT_EQ(step.Name, c.name) << c.path;
    EXPECT_EQ(step.Index, c.index) << c.path;
    EXPECT_EQ(step.Rest, c.rest) << c.path;
  }
  TIndexStep step;
  EXPECT_TRUE(ParseNextIndex("Sub[0].Deep[4]", step));
  EXPECT_EQ(step.Name, "Sub");
  EXPECT_EQ(step.Rest, "Deep[4]");
  EXPECT_FALSE(ParseNextIndex("Title", step));
}

TEST_F(LiveFormsTest, Values) {
  // counted: the item counts for the charset step (the panel's font takes the
  // Russian charset, 204; else it keeps 1).
  struct Case {
    const char* property;
    std::u16string native, translated;
    std::int32_t stamp;
    bool showOutdated;
    std::uint16_t nativeFlags, valueFlags;
    const char* caption;  // expected Caption, or null
    int number, align;    // expected Number and Align
    bool counted;
  };
  const std::vector<Case> cases = {
      {"Caption", u"Old", u"New", kStamp, false, 0, 0, "New", 7, 1, true},
      {"Caption", u"Old", u"Stale", kStamp - 1, false, 0, 0, "Old", 7, 1, true},
      {"Caption", u"Old", u"Stale", kStamp - 1, true, 0, 0, "Stale", 7, 1, true},
      // Only the flags of the value applied matter.
      {"Caption", u"Old", u"New", kStamp, false, 0x0008, 0, "New", 7, 1, true},
      {"Caption", u"Old", u"New", kStamp, false, 0, 0x0008, "", 7, 1, false},
      {"Caption", u"Old", u"Stale", kStamp - 1, false, 0x0008, 0, "", 7, 1, false},
      {"Number", u"1", u"42", kStamp, false, 0, 0, "", 42, 1, true},
      {"Number", u"1", u"forty", kStamp, false, 0, 0, "", 0, 1, true},
      {"Align", u"0", u"2", kStamp, false, 0, 0, "", 7, 2, true},
      {"Align", u"0", u"text", kStamp, false, 0, 0, "", 7, 0, true},
      {"Align", u"0", u"9", kStamp, false, 0, 0, "", 7, 1, true},  // no such value: left alone, yet found
      {"NoSuchProperty", u"0", u"9", kStamp, false, 0, 0, "", 7, 1, false},
  };
  for (const Case& c : cases) {
    Build();
    TLResPropertyItem* item = Put("Form1", "Panel1", c.property, c.native, c.translated, c.stamp);
    item->GetNativeValue()->ChangeFlags(c.nativeFlags, true);
    item->GetValue(1)->ChangeFlags(c.valueFlags, true);
    tr_.ShowOutdated = c.showOutdated;
    Translate();
    SCOPED_TRACE(std::string(c.property) + " " + std::to_string(c.stamp) + " " + std::to_string(c.nativeFlags) + "/" +
                 std::to_string(c.valueFlags));
    EXPECT_EQ(panel_->GetCaption(), c.caption);
    EXPECT_EQ(panel_->Number, c.number);
    EXPECT_EQ(int(panel_->Align), c.align);
    EXPECT_EQ(int(panel_->GetFont()->GetCharset()), c.counted ? 204 : 1);
  }
}

TEST_F(LiveFormsTest, WideStringPropertyReceivesTheWideTextItself) {
  ASSERT_EQ(table_.AnsiCodePage(), 1252u);
  Put("Panel1", "WideCaption", u"Ждите, пожалуйста");
  Translate();
  EXPECT_EQ(panel_->GetWideCaption(), u"Ждите, пожалуйста");
}

TEST_F(LiveFormsTest, CharsetStep) {
  Put("Panel1", "NoSuchProperty", u"x");
  Put("rgType.Items", "Strings", u"only\r\nspecial");
  Put("Book.TTabPage1", "Caption", u"page");
  Put("Styled", "Caption", u"styled");
  Translate();
  EXPECT_EQ(int(panel_->GetFont()->GetCharset()), 1);
  EXPECT_EQ(rg_->GetItems()->Text(), "only\r\nspecial\r\n");
  EXPECT_EQ(int(rg_->GetFont()->GetCharset()), 1);
  EXPECT_EQ(book_->GetPages()->Strings(0), "page");
  EXPECT_EQ(int(book_->GetFont()->GetCharset()), 1);
  EXPECT_EQ(int(styled_->GetStyle()->GetFont()->GetCharset()), 204);

  Put("Panel1", "Caption", u"applied");
  Translate();
  EXPECT_EQ(int(panel_->GetFont()->GetCharset()), 204);
}

TEST_F(LiveFormsTest, CharsetOffAndCharsetsWithoutAnIdentifier) {
  Put("Panel1", "Caption", u"applied");
  tr_.ApplyCharset = false;
  Translate();
  EXPECT_EQ(int(panel_->GetFont()->GetCharset()), 1);
  EXPECT_FALSE(SetFontCharset(panel_, 123));  // the font's charset type has no name for it
  EXPECT_EQ(int(panel_->GetFont()->GetCharset()), 1);
  EXPECT_FALSE(SetFontCharset(grid_->Column(0), 204));  // no font at all
  tr_.ApplyCharset = true;
  tr_.ApplyScreenCharset();
  EXPECT_EQ(host_.Calls, (std::vector<std::string>{"screen fonts 204"}));
}

TEST_F(LiveFormsTest, EventsAreAskedInOrder) {
  // "Thing" has no "Parts": the collection event is asked, then the special path
  // event, whose object is asked once more for its item; that item's property
  // goes to the custom-object event before it is set.
  auto* thing = New<TTestControl>(form_);
  thing->SetName("Thing");
  auto* holder = New<TTestControl>(form_);
  holder->SetName("Holder");
  struct Events {
    TTestControl *thing, *holder, *item;
    std::vector<std::string> log;
    void Collection(TObject* obj, const std::string& name, TObject*& result, int index) {
      log.push_back("collection " + static_cast<TComponent*>(obj)->Name() + " " + name + " " + std::to_string(index));
      if (obj == holder) result = item;
    }
    void Special(TObject* obj, const std::string& name, TObject*& result, int index) {
      log.push_back("special " + static_cast<TComponent*>(obj)->Name() + " " + name + " " + std::to_string(index));
      if (obj == thing) result = holder;
    }
    void Custom(TObject* obj, const std::string& path, bool&, TLResValue*) {
      log.push_back("custom " + static_cast<TComponent*>(obj)->Name() + " " + path);
    }
  } ev{thing, holder, panel_, {}};
  tr_.OnCollectionItem = TIndexedObjectEvent::Bind<&Events::Collection>(&ev);
  tr_.OnSpecialPath = TIndexedObjectEvent::Bind<&Events::Special>(&ev);
  tr_.OnCustomObject = TCustomObjectEvent::Bind<&Events::Custom>(&ev);
  Put("Thing.Parts[3]", "Caption", u"reached");
  Translate();
  EXPECT_EQ(ev.log, (std::vector<std::string>{"collection Thing Parts 3", "special Thing Parts 3",
                                              "collection Holder Parts 3", "custom Panel1 Caption"}));
  EXPECT_EQ(panel_->GetCaption(), "reached");
}

TEST_F(LiveFormsTest, ClassNamesAlongTheChain) {
  EXPECT_TRUE(ClassNameInList(form_, {"tform"}));
  EXPECT_TRUE(ClassNameInList(grid_, {"TPanel", "TTestControl"}));
  EXPECT_TRUE(ClassNameInList(rg_->GetItems(), {"TStrings"}));
  EXPECT_FALSE(ClassNameInList(panel_, {"TTestGrid"}));
  EXPECT_FALSE(ClassNameInList(nullptr, {"TObject"}));
}

}  // namespace
