#include "PrjProcs.h"

#include <gtest/gtest.h>

#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "ByteReader.h"
#include "FormTextSamples.h"
#include "LangRes.h"
#include "ObjectConvert.h"
#include "ResProc.h"
#include "Streams.h"
#include "SysUtils.h"

namespace {

using TStorePtr = TOwned<TLangResource>;
using TProcessorPtr = TOwned<TFormProcessor>;

constexpr int kGerman = 1, kRussian = 2, kHebrew = 3;

std::string Lines(std::initializer_list<std::string> lines) {
  std::string s;
  for (const std::string& l : lines) s += l + "\r\n";
  return s;
}

std::string ReadSourceFile(const std::string& relative) {
  std::ifstream in(std::string(PELLORY_SOURCE_DIR) + "/" + relative, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

std::string ToResource(const std::string& text) {
  TOwned<TStringStream> in(New<TStringStream>(text));
  TOwned<TStringStream> out(New<TStringStream>());
  ObjectTextToResource(*in, *out);
  return out->DataString();
}

// A form in one of the three kinds.
enum TKind { kText, kBinary, kResource };
std::string InKind(const std::string& text, TKind kind) {
  return kind == kText ? text : kind == kBinary ? ObjectTextToBinary(text) : ToResource(text);
}

// A store with English (native), German, Russian and Hebrew columns and no items.
TStorePtr MakeStore() {
  TStorePtr s(New<TLangResource>());
  s->SetNativeLocale(9);
  s->AddLanguage(0, 0x0407);
  s->AddLanguage(0, 0x0419);
  s->AddLanguage(0, 0x040D);
  return s;
}

// A property of form "Form1" with its native text and one translation (the other columns follow the native).
TLResPropertyItem* AddProp(TLangResource* s, const std::string& component, const std::string& name, std::uint8_t kind,
                           const std::u16string& native, int index, const std::u16string& translation,
                           std::uint16_t flags = 0, const std::string& form = "Form1") {
  static std::int32_t id = 0;
  TLResPropertyItem* item = s->Forms()->FindOrAdd(form)->AddProperty(component, ++id, name, kind);
  item->GetNativeValue()->SetWideText(native);
  item->GetNativeValue()->SetStamp(5);
  for (int i = 1; i < s->GetLanguageCount(); ++i) {
    item->GetValue(i)->SetWideText(i == index ? translation : native);
    item->GetValue(i)->SetStamp(5);
  }
  item->ChangeFlags(flags, true);
  return item;
}

TProcessorPtr MakeProcessor(TLangResource* store, int index) {
  TProcessorPtr p(New<TFormProcessor>());
  p->Store = store;
  p->LanguageIndex = index;
  p->TargetLocale = store->GetLanguageLocale(index);
  return p;
}

std::string Translate(TFormProcessor& p, const std::string& form) {
  TOwned<TMemoryStream> s(New<TMemoryStream>());
  s->WriteBytes(form);
  p.TranslateFormStream(*s);
  return s->DataString();
}

std::string ErrorOf(const std::function<void()>& f) {
  try {
    f();
  } catch (const EPrjProcsError& e) {
    return e.Message;
  } catch (const Exception& e) {
    return std::string("(other exception) ") + e.Message;
  }
  return "(no error)";
}

const std::string kEveryValue = kEveryValueFormText;

TEST(FormProcessor, UntouchedFormsComeBackByteForByteInTheirOwnKind) {
  const std::string wizard = ReadSourceFile("resources/WizardForm.form");
  ASSERT_NE(wizard.find("object WizardForm: TWizardForm"), std::string::npos);
  struct Case {
    const char* name;
    std::string text;
  } cases[] = {{"wizard form", wizard}, {"every value type", kEveryValue}};
  for (const Case& c : cases) {
    for (TKind kind : {kText, kBinary, kResource}) {
      SCOPED_TRACE(std::string(c.name) + " kind " + std::to_string(kind));
      TStorePtr store = MakeStore();
      TProcessorPtr p = MakeProcessor(store.get(), kRussian);
      p->ApplyCharset = false;
      const std::string form = InKind(c.text, kind);
      EXPECT_EQ(Translate(*p, form), form);
      // The form's own item is made; its own charset line is rewritten once charsets apply.
      p->ApplyCharset = true;
      std::string charset = Translate(*p, InKind(c.text, kText));
      EXPECT_EQ(charset == c.text, c.text.find("  Font.Charset = DEFAULT_CHARSET") == std::string::npos);
    }
  }
  TStorePtr store = MakeStore();
  TProcessorPtr p = MakeProcessor(store.get(), kRussian);
  std::string out = Translate(*p, wizard);
  std::size_t at = out.find("          Font.Charset = RUSSIAN_CHARSET");
  ASSERT_NE(at, std::string::npos);
  EXPECT_LT(at, out.find("  object ImageMain"));  // the form's own, and only that one
  EXPECT_EQ(out.find("RUSSIAN_CHARSET", at + 30), std::string::npos);
  EXPECT_NE(store->Forms()->FindOrAdd("WizardForm"), nullptr);
}

const std::string kForm = Lines({
    "object Form1: TForm1",
    "  Caption = 'Hello'",
    "  Font.Charset = DEFAULT_CHARSET",
    "  Tag = 1",
    "  Ratio = 1.5",
    "  object Button1: TButton",
    "    Caption = 'OK'",
    "    Font.Charset = DEFAULT_CHARSET",
    "    Hint = 'keep'",
    "  end",
    "  object Label1: TLabel",
    "    Caption = 'Gone'",
    "  end",
    "  object Memo1: TMemo",
    "    Lines.Strings = (",
    "      'one'",
    "      'two')",
    "  end",
    "  object NB: TNotebook",
    "    object TPage",
    "      Caption = 'Page'",
    "    end",
    "  end",
    "  object Grid: TGrid",
    "    Columns = <",
    "      item",
    "        Title = 'A'",
    "      end",
    "      item [5]",
    "        Title = 'B'",
    "      end>",
    "  end",
    "  inline Frame1: TFrame1",
    "    inherited Edit1: TEdit",
    "      Text = 'in frame'",
    "    end",
    "  end",
    "end",
});

// kForm's translatable items, translated in column `index`.
void FillFormStore(TLangResource* s, int index) {
  AddProp(s, "", "Caption", lvkWideString, u"Hello", index, u"Hallo");
  AddProp(s, "", "Tag", lvkInteger, u"1", index, u"7");
  AddProp(s, "", "Ratio", lvkFloat, u"1.5", index, u"2.5");
  AddProp(s, "", "HelpFile", lvkWideString, u"help.chm", index, u"hilfe.chm", kLResFlagAppended);
  AddProp(s, "Button1", "Caption", lvkWideString, u"OK", index, u"Gut");
  AddProp(s, "Button1", "Hint", lvkWideString, u"keep", index, u"xx", kLResFlagNotTranslated);
  AddProp(s, "Label1", "Caption", lvkWideString, u"Gone", index, u"");
  AddProp(s, "Memo1", "Lines.Strings", lvkWideString4, u"one\r\ntwo", index, u"eins\r\nzwei\r\ndrei");
  AddProp(s, "NB.TPage1", "Caption", lvkWideString, u"Page", index, u"Seite");
  AddProp(s, "Grid.Columns[1]", "Title", lvkWideString, u"B", index, u"Bee");
  AddProp(s, "Frame1.Edit1", "Text", lvkWideString, u"in frame", index, u"im Rahmen");
}

// kForm with each of its lines named here given way to the lines after it (none: the line goes).
std::string Edited(const std::string& form,
                   std::initializer_list<std::pair<std::string, std::vector<std::string>>> edits) {
  std::string out = form;
  for (const auto& [line, replacement] : edits) {
    std::string with;
    for (const std::string& l : replacement) with += l + "\r\n";
    std::size_t at = out.find(line + "\r\n");
    EXPECT_NE(at, std::string::npos) << line;
    if (at != std::string::npos) out.replace(at, line.size() + 2, with);
  }
  return out;
}

const std::string kGermanForm =
    Edited(kForm, {
                      {"  Caption = 'Hello'", {"  Caption = 'Hallo'"}},
                      {"  Font.Charset = DEFAULT_CHARSET", {"          Font.Charset = ANSI_CHARSET"}},
                      {"  Tag = 1", {"  Tag = 7"}},
                      {"  Ratio = 1.5", {"  Ratio = 1.5", "  HelpFile = 'hilfe.chm'"}},
                      {"    Caption = 'OK'", {"    Caption = 'Gut'"}},
                      {"    Font.Charset = DEFAULT_CHARSET", {"          Font.Charset = ANSI_CHARSET"}},
                      {"    Caption = 'Gone'", {}},
                      {"      'two')", {"      'zwei'", "      'drei')"}},
                      {"      'one'", {"      'eins'"}},
                      {"      Caption = 'Page'", {"      Caption = 'Seite'"}},
                      {"        Title = 'B'", {"        Title = 'Bee'"}},
                      {"      Text = 'in frame'", {"      Text = 'im Rahmen'"}},
                  });

TEST(FormProcessor, TranslatesPropertiesChildrenCollectionsAndFrames) {
  for (TKind kind : {kText, kBinary, kResource}) {
    SCOPED_TRACE(kind);
    TStorePtr store = MakeStore();
    FillFormStore(store.get(), kGerman);
    TProcessorPtr p = MakeProcessor(store.get(), kGerman);
    EXPECT_EQ(Translate(*p, InKind(kForm, kind)), InKind(kGermanForm, kind));
  }
}

TEST(FormProcessor, RightToLeftTargetsEndTheFormsOwnBlockWithBiDiMode) {
  struct Case {
    int index;
    bool applyBiDiMode;
    bool expected;
  } cases[] = {{kHebrew, true, true}, {kHebrew, false, false}, {kGerman, true, false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.index);
    TStorePtr store = MakeStore();
    FillFormStore(store.get(), c.index);
    TProcessorPtr p = MakeProcessor(store.get(), c.index);
    p->ApplyBiDiMode = c.applyBiDiMode;
    std::string out = Translate(*p, kForm);
    const std::string line = "          BiDiMode = bdRightToLeft\r\n";
    EXPECT_EQ(out.find(line + "  object Button1") != std::string::npos, c.expected) << out;
    EXPECT_EQ(out.find(line) == out.rfind(line), true);
    if (c.index == kHebrew) {
      EXPECT_NE(out.find("Font.Charset = HEBREW_CHARSET"), std::string::npos);
    }
  }
  // A BiDiMode property of a translated component takes the line in its place.
  TStorePtr store = MakeStore();
  FillFormStore(store.get(), kHebrew);
  TProcessorPtr p = MakeProcessor(store.get(), kHebrew);
  std::string form = kForm;
  form.insert(form.find("    Hint"), "    Font.BiDiMode = bdLeftToRight\r\n");
  std::string out = Translate(*p, form);
  EXPECT_NE(out.find("HEBREW_CHARSET\r\n          BiDiMode = bdRightToLeft\r\n    Hint"), std::string::npos) << out;
  EXPECT_EQ(out.find("bdLeftToRight"), std::string::npos);
  // The form's own block was closed before its children were read: it has its line too.
  EXPECT_NE(out.find("bdRightToLeft\r\n  object Button1"), std::string::npos);
}

TEST(FormProcessor, ValuesTheFormTextCannotTakeAsTheyStandKeepTheirLines) {
  // A float value, an integer or identifier translation that is not one token, a broken value.
  const std::string form = Lines({
      "object Form1: TForm1",
      "  Ratio = 1.5",
      "  Tag = 1",
      "  Cursor = crDefault",
      "  Hint = 'unterminated",
      "  Caption = 'x'",
      "end",
  });
  TStorePtr store = MakeStore();
  AddProp(store.get(), "", "Ratio", lvkFloat, u"1.5", kGerman, u"2.5");
  AddProp(store.get(), "", "Tag", lvkInteger, u"1", kGerman, u"7\r\nobject X: TX");
  AddProp(store.get(), "", "Cursor", kLResKindIdentifier, u"crDefault", kGerman, u"crArrow end");
  AddProp(store.get(), "", "Hint", lvkWideString, u"h", kGerman, u"Tipp");
  AddProp(store.get(), "", "Caption", lvkWideString, u"x", kGerman, u"y");
  AddProp(store.get(), "", "L", lvkWideString4, u"a", kGerman, u"b");
  TProcessorPtr p = MakeProcessor(store.get(), kGerman);
  p->ApplyBiDiMode = false;
  EXPECT_EQ(Translate(*p, form), Lines({
                                     "object Form1: TForm1",
                                     "  Ratio = 1.5",
                                     "  Tag = 1",
                                     "  Cursor = crDefault",
                                     "  Caption = 'y'",
                                     "end",
                                 }));
  // Values broken inside lists, more of them than the nesting allows, leave no nesting behind.
  std::string lists = "object Form1: TForm1\r\n";
  for (int i = 0; i < 100; ++i) lists += "  L = (('open\r\n";
  lists += "  object B: TB\r\n    Caption = 'x'\r\n  end\r\nend\r\n";
  EXPECT_EQ(Translate(*p, lists), "object Form1: TForm1\r\n  object B: TB\r\n    Caption = 'x'\r\n  end\r\nend\r\n")
      << "(the broken lines go only when the store has an item; here it has L)";
  // Without a store item the broken line stays as it was.
  TStorePtr empty = MakeStore();
  TProcessorPtr q = MakeProcessor(empty.get(), kGerman);
  q->ApplyCharset = false;
  EXPECT_EQ(Translate(*q, form), form);
}

TEST(FormProcessor, OutdatedTranslationsEventsAndTheFormNameTemplate) {
  const std::string form = Lines({"object Form1: TForm1", "  Caption = 'Hello'", "end"});
  TStorePtr store = MakeStore();
  TLResPropertyItem* caption =
      AddProp(store.get(), "", "Caption", lvkWideString, u"Hello", kGerman, u"Hallo", 0, "Main_Form1");
  caption->GetValue(kGerman)->SetStamp(4);  // made against an older native text
  TProcessorPtr p = MakeProcessor(store.get(), kGerman);
  p->FormNameTemplate = "Main_${FormName}";
  EXPECT_NE(Translate(*p, form).find("'Hallo'"), std::string::npos);
  p->ShowOutdated = false;
  EXPECT_NE(Translate(*p, form).find("'Hello'"), std::string::npos);

  struct TEvents : TObject {
    std::string log;
    bool process = true;
    void Before(TObject*, const std::string& name, bool& go) {
      log += "before " + name + ";";
      go = process;
    }
    void After(TObject*, const std::string& name) { log += "after " + name + ";"; }
  } events;
  p->ShowOutdated = true;
  p->OnBeforeForm = TFormProcessEvent::Bind<&TEvents::Before>(&events);
  p->OnAfterForm = TFormDoneEvent::Bind<&TEvents::After>(&events);
  EXPECT_NE(Translate(*p, form).find("'Hallo'"), std::string::npos);
  events.process = false;
  EXPECT_EQ(Translate(*p, form), form);
  EXPECT_EQ(events.log, "before Main_Form1;after Main_Form1;before Main_Form1;");
}

// The value of the n-th property `name` of a binary form: its type byte and its bytes.
std::pair<int, std::string> ValueOf(const std::string& bin, const std::string& name, int n = 0) {
  std::string key = std::string(1, static_cast<char>(name.size())) + name;
  std::size_t at = bin.find(key);
  for (; n > 0 && at != std::string::npos; --n) at = bin.find(key, at + 1);
  if (at == std::string::npos) return {-1, ""};
  ByteReader r(bin);
  r.Seek(at + key.size());
  int type = r.U8();
  std::size_t length = type == vaString ? r.U8() : r.U32LE();
  return {type, r.Bytes(type == vaWString ? 2 * length : length)};
}

TEST(FormProcessor, StringsAreWrittenAsTheWriterSettingsSay) {
  const std::u16string privet = u"\u041F\u0440\u0438\u0432\u0435\u0442";
  const std::string utf8 = "\xD0\x9F\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82";
  const std::string cp1251 = "\xCF\xF0\xE8\xE2\xE5\xF2";
  const std::string utf16("\x1F\x04\x40\x04\x38\x04\x32\x04\x35\x04\x42\x04", 12);
  struct Case {
    int index;
    bool useUtf8;
    std::uint16_t flags;
    std::u16string text;
    int type;
    std::string bytes;
  } cases[] = {
      {kRussian, true, 0, privet, vaUTF8String, utf8},
      {kRussian, false, 0, privet, vaString, cp1251},
      {kRussian, false, kLResFlagWideString, privet, vaWString, utf16},
      {kRussian, true, kLResFlagWideString, privet, vaUTF8String, utf8},
      {kRussian, true, 0, u"OK", vaString, "OK"},
      {kGerman, true, 0, u"M\u00F6chten", vaUTF8String,
       "M\xC3\xB6"
       "chten"},
      {kGerman, false, 0, u"M\u00F6chten", vaString,
       "M\xF6"
       "chten"},
      {kRussian, false, 0, std::u16string(300, u'\u0416'), vaLString, std::string(300, '\xC6')},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.index) + (c.useUtf8 ? " utf8 " : " ansi ") + std::to_string(c.flags) + " " +
                 std::to_string(c.text.size()));
    TStorePtr store = MakeStore();
    AddProp(store.get(), "", "Caption", lvkWideString, u"Hello", c.index, c.text, c.flags);
    TProcessorPtr p = MakeProcessor(store.get(), c.index);
    p->UseUTF8 = c.useUtf8;
    std::string bin = Translate(*p, ObjectTextToBinary(Lines({"object Form1: TForm1", "  Caption = 'Hello'", "end"})));
    EXPECT_EQ(ValueOf(bin, "Caption"), std::make_pair(c.type, c.bytes));
  }
  // String lists quote their lines the same way.
  TStorePtr store = MakeStore();
  AddProp(store.get(), "List", "Items.Strings", lvkWideString4, u"a", kRussian, privet + u"\r\nOK");
  TProcessorPtr p = MakeProcessor(store.get(), kRussian);
  p->UseUTF8 = true;
  std::string bin = Translate(*p, ObjectTextToBinary(Lines({"object Form1: TForm1", "  object List: TListBox",
                                                            "    Items.Strings = (", "      'a')", "  end", "end"})));
  std::size_t at = bin.find("\x0DItems.Strings\x01");
  ASSERT_NE(at, std::string::npos);
  const std::string values = std::string("\x14\x0C\0\0\0", 5) + utf8 + "\x06\x02OK" + std::string(1, '\0');
  EXPECT_EQ(bin.substr(at + 15, values.size()), values);
}

TEST(FormProcessor, ResourceHeaderNamesTheRootClass) {
  struct Case {
    std::string text;
    std::string name;
  } cases[] = {
      {Lines({"object Form1: TForm1", "end"}), "TFORM1"},
      {Lines({"inherited Form1: TMyForm [2]", "end"}), "TMYFORM"},
      {Lines({"object Form1: T" + std::string(68, 'a'), "end"}), "T" + std::string(68, 'A')},
  };
  for (const Case& c : cases) {
    TOwned<TStringStream> in(New<TStringStream>(c.text));
    TOwned<TStringStream> out(New<TStringStream>());
    FormTextToResource(*in, *out, false, 9);
    const std::string bin = ObjectTextToBinary(c.text);
    std::string header = std::string("\xFF\x0A\x00", 3) + c.name + std::string("\0\x30\x10", 3);
    for (int i = 0; i < 4; ++i) header += static_cast<char>((bin.size() >> (8 * i)) & 0xFF);
    EXPECT_EQ(out->DataString(), header + bin);
  }
  TOwned<TStringStream> in(New<TStringStream>(Lines({"object Form1: T" + std::string(69, 'a'), "end"})));
  TOwned<TStringStream> out(New<TStringStream>());
  try {
    FormTextToResource(*in, *out, false, 9);
    ADD_FAILURE();
  } catch (const EParserError& e) {
    EXPECT_EQ(e.Message, "Component name is too long: \"T" + std::string(69, 'a') + "\"");
  }
}

TEST(FormProcessor, TheDecimalSeparatorIsAPointDuringTheConversionOnly) {
  const char saved = DecimalSeparator;
  DecimalSeparator = ',';
  for (const std::string& text : {Lines({"object A: TA", "  R = 1.5", "  S = 2.5s", "end"}),
                                  Lines({"object A: TA", "  R = 1.5", "  S = ?", "end"})}) {
    TOwned<TStringStream> in(New<TStringStream>(text));
    TOwned<TStringStream> out(New<TStringStream>());
    try {
      FormTextToBinary(*in, *out, true, 0x0419);
      EXPECT_EQ(ObjectBinaryToText(out->DataString()), text);
    } catch (const EParserError& e) {
      EXPECT_EQ(e.Message, "Invalid property value on line 3");
    }
    EXPECT_EQ(DecimalSeparator, ',');
  }
  DecimalSeparator = saved;
}

TEST(FormProcessor, ProcessFormsTranslatesTheNamedFormsOfTheRCDataBlock) {
  TStorePtr store = MakeStore();
  AddProp(store.get(), "", "Caption", lvkWideString, u"Wizard", kGerman, u"Assistent", 0, "WizardForm");
  AddProp(store.get(), "", "Caption", lvkWideString, u"Other", kGerman, u"Andere", 0, "Other");
  TOwned<TResProcessor> resources(New<TResProcessor>());
  auto* rcdata = New<TResRCData>(resources.get());
  resources->AddBlock(rcdata);
  const std::string wizard =
      ObjectTextToBinary(Lines({"object WizardForm: TWizardForm", "  Caption = 'Wizard'", "end"}));
  const std::string other = ToResource(Lines({"object Other: TOther", "  Caption = 'Other'", "end"}));
  const std::string settings = "JLIB....";
  rcdata->AddItem("TWIZARDFORM", false)->SetData(wizard);
  rcdata->AddItem("TMEOTHER", false)->SetData(other);
  rcdata->AddItem("WQM_LIBSETTINGS_", false)->SetData(settings);
  TProcessorPtr p = MakeProcessor(store.get(), kGerman);
  for (const char* name : {"WizardForm", "Other", "Missing"}) p->FormNames()->Add(name);
  p->ProcessForms(resources.get());
  EXPECT_EQ(rcdata->FindItem("TWIZARDFORM")->Data(),
            ObjectTextToBinary(Lines({"object WizardForm: TWizardForm", "  Caption = 'Assistent'", "end"})));
  EXPECT_EQ(rcdata->FindItem("TMEOTHER")->Data(),
            ToResource(Lines({"object Other: TOther", "  Caption = 'Andere'", "end"})));
  EXPECT_EQ(rcdata->FindItem("WQM_LIBSETTINGS_")->Data(), settings);

  TOwned<TResProcessor> bare(New<TResProcessor>());
  EXPECT_EQ(ErrorOf([&] { p->ProcessForms(bare.get()); }), "Can't find RCDATA block");
}

TEST(FormProcessor, BadFormsRaiseTheirErrorWithLineAndForm) {
  const std::string good = ObjectTextToBinary(Lines({"object Form1: TForm1", "  Caption = 'Hello'", "end"}));
  const std::string wrong = "Wrong DFM Format\r\nLine#: ";
  std::string deep = "object F: TF\r\n";
  for (int i = 0; i < 100; ++i) deep += "object A: TA\r\n";
  auto during = [](const std::string& form, const std::string& rest) {
    return "Error while processing form \"" + form + "\"\r\nError during processing form " + form + "\r\n" + rest;
  };
  struct Case {
    const char* name;
    std::string form;
    std::string message;
  } cases[] = {
      {"truncated binary", good.substr(0, good.size() - 6), "Error while processing form \"\"\r\nStream read error"},
      {"no final end", "object Form1: TForm1\r\n  Caption = 'x'\r\n", during("Form1", wrong + "3\r\nForm: Form1")},
      {"child without end", "object Form1: TForm1\r\n  object B: TB\r\nend\r\n",
       during("Form1", wrong + "4\r\nForm: Form1")},
      {"header without a name", "object : TForm1\r\nend\r\n", during("", wrong + "1\r\nForm: ")},
      {"child header without a name", "object Form1: TForm1\r\n  object : TB\r\n  end\r\nend\r\n",
       during("Form1", wrong + "2\r\nForm: Form1")},
      {"property without =", "object Form1: TForm1\r\n  Caption 'x'\r\nend\r\n",
       during("Form1", wrong + "2\r\nForm: Form1")},
      {"collection closed by end", "object F: TF\r\n  C = <\r\n    item\r\n    end\r\nend\r\n",
       during("F", wrong + "5\r\nForm: F")},
      {"collection at the end", "object F: TF\r\n  C = <\r\n    item\r\n      W = 1\r\n",
       during("F", wrong + "5\r\nForm: F")},
      {"list at the end", "object F: TF\r\n  L = (\r\n    1\r\n", during("F", wrong + "4\r\nForm: F")},
      {"set at the end", "object F: TF\r\n  S = [a, b", during("F", wrong + "2\r\nForm: F")},
      {"binary at the end", "object F: TF\r\n  D = {00", during("F", wrong + "2\r\nForm: F")},
      {"not a form", "123", "Error while processing form \"\"\r\nWrong DFM Format\r\nLine#: 1\r\nForm: "},
      {"empty", "", "Error while processing form \"\"\r\nWrong DFM Format\r\nLine#: 1\r\nForm: "},
      {"class name of 70 bytes", ToResource(Lines({"object Form1: T" + std::string(69, 'a'), "end"})),
       "Error while processing form \"Form1\"\r\nComponent name is too long: \"T" + std::string(69, 'a') + "\""},
      {"nested too deeply", deep, during("F", "Form text is nested too deeply on line 66")},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TStorePtr store = MakeStore();
    TProcessorPtr p = MakeProcessor(store.get(), kGerman);
    EXPECT_EQ(ErrorOf([&] { Translate(*p, c.form); }), c.message);
  }
}

TEST(FormProcessor, QuoteWideFormStringQuotesPrintableRunsAndCodesTheRest) {
  struct Case {
    std::u16string text;
    const char* quoted;
  } cases[] = {
      {u"", "''"},
      {u"abc", "'abc'"},
      {u"it's", "'it'#39's'"},
      {u"a\r\nb", "'a'#13#10'b'"},
      {u"\u041F!", "#1055'!'"},
      {u"\u007F~ ", "'\x7F~ '"},
      {u"\u00E9", "#233"},
  };
  for (const Case& c : cases) EXPECT_EQ(QuoteWideFormString(c.text), c.quoted);
}

}  // namespace
