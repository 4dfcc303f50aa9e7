#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "Collection.h"
#include "FormTextSamples.h"
#include "ObjectConvert.h"
#include "Parser.h"
#include "Strings.h"
#include "SysUtils.h"

namespace {

std::string Lines(std::initializer_list<const char*> lines) {
  std::string s;
  for (const char* l : lines) s += std::string(l) + "\r\n";
  return s;
}

FW_ENUM(TTestAlign, taNone, taLeft, taRight);
FW_ENUM(TTestOption, toBold, toItalic, toUnderline);
using TTestOptions = Set<TTestOption>;

std::vector<std::string> g_loaded;

class TTestFont : public TPersistent {
  FW_CLASS(TTestFont, TPersistent)
 public:
  AnsiString Name;
  int Size = 8;
  TTestOptions Style;
};

class TTestControl;

class TTestItem : public TCollectionItem {
  FW_CLASS(TTestItem, TCollectionItem)
 public:
  using TCollectionItem::TCollectionItem;
  int Width = 0;
  WideString Caption;
  TTestControl* Target = nullptr;
};

class TTestControl : public TComponent {
  FW_CLASS(TTestControl, TComponent)
 public:
  explicit TTestControl(TComponent* owner) : TComponent(owner) {
    Font = New<TTestFont>();
    Items = New<TStringList>();
    Columns = New<TCollection>(TTestItem::StaticClass());
  }
  void Destroy() override {
    Font->Free();
    Items->Free();
    Columns->Free();
    inherited::Destroy();
  }
  void Loaded() override {
    inherited::Loaded();
    g_loaded.push_back(Name() + (Buddy ? " buddy=" + Buddy->Name() : ""));
  }
  void SetParentComponent(TComponent* p) override { ParentSeen = p; }
  void DefineProperties(TFiler& filer) override {
    inherited::DefineProperties(filer);
    filer.DefineBinaryProperty(
        "Data", [this](TStream& s) { Data = s.ReadBytes(s.Size()); }, [this](TStream& s) { s.WriteBytes(Data); },
        !Data.empty());
  }

  int Left = 0;
  TTestAlign Align = taNone;
  bool Visible = true;
  double Ratio = 0;
  AnsiString Caption;
  WideString Hint;
  char16_t Accel = 0;
  std::int64_t Big = 0;
  TTestOptions Options;
  TTestFont* Font;
  TStringList* Items;
  TCollection* Columns;
  TTestControl* Buddy = nullptr;
  TNotifyEvent OnClick;
  std::string Data;
  TComponent* ParentSeen = nullptr;

  TTestFont* GetFont() const { return Font; }
  void SetFont(TTestFont* f) { Font->Assign(f); }
  TStringList* GetItems() const { return Items; }
  TCollection* GetColumns() const { return Columns; }
};

class TTestForm : public TComponent {
  FW_CLASS(TTestForm, TComponent)
 public:
  using TComponent::TComponent;
  TTestControl* Button1 = nullptr;
  TTestControl* Button2 = nullptr;
  int clicks = 0;
  void Button1Click(TObject*) { ++clicks; }
  void Loaded() override {
    inherited::Loaded();
    g_loaded.push_back("form");
  }
  void GetChildren(const Method<void(TComponent*)>& proc, TComponent* root) override {
    if (root == this)
      for (int i = 0; i < ComponentCount(); ++i) proc(Components(i));
  }
};

}  // namespace

FW_BEGIN_CLASS(TTestFont)
  FW_PROP(Name, Name, Name)
  FW_PROP(Size, Size, Size)
  FW_DEFAULT(8)
  FW_PROP(Style, Style, Style)
  FW_DEFAULT(0)
FW_END_CLASS
FW_BEGIN_CLASS(TTestItem)
  FW_PROP(Width, Width, Width)
  FW_DEFAULT(0)
  FW_PROP(Caption, Caption, Caption)
  FW_PROP(Target, Target, Target)
FW_END_CLASS
FW_BEGIN_CLASS(TTestControl)
  FW_PROP(Left, Left, Left)
  FW_DEFAULT(0)
  FW_PROP(Align, Align, Align)
  FW_DEFAULT(taNone)
  FW_PROP(Visible, Visible, Visible)
  FW_DEFAULT(true)
  FW_PROP(Ratio, Ratio, Ratio)
  FW_PROP(Caption, Caption, Caption)
  FW_PROP(Hint, Hint, Hint)
  FW_PROP(Accel, Accel, Accel)
  FW_DEFAULT(0)
  FW_PROP(Big, Big, Big)
  FW_DEFAULT(0)
  FW_PROP(Options, Options, Options)
  FW_DEFAULT(0)
  FW_PROP(Font, GetFont, SetFont)
  FW_PROP_RO(Items, GetItems)
  FW_PROP_RO(Columns, GetColumns)
  FW_PROP(Buddy, Buddy, Buddy)
  FW_EVENT(OnClick, OnClick)
FW_END_CLASS
FW_BEGIN_CLASS(TTestForm)
  FW_FIELD(Button1)
  FW_FIELD(Button2)
  FW_METHOD(Button1Click)
FW_END_CLASS

class Filer : public ::testing::Test {
 protected:
  void SetUp() override {
    RegisterClasses({&TTestForm::StaticClass(), &TTestControl::StaticClass()});
    g_loaded.clear();
  }
  void TearDown() override {
    UnRegisterClass(TTestForm::StaticClass());
    UnRegisterClass(TTestControl::StaticClass());
  }
  static TTestForm* Load(const std::string& text, TTestForm* root = nullptr) {
    std::string bin = ObjectTextToBinary(text);
    return static_cast<TTestForm*>(ReadComponentData(bin.data(), bin.size(), root));
  }
};

TEST_F(Filer, ReaderWriterRoundTripPerValueKind) {
  struct Case {
    const char* kind;
    std::function<void(TWriter&)> write;
    std::function<void(TReader&)> check;
  } cases[] = {
      {"int8", [](TWriter& w) { w.WriteInteger(-128); }, [](TReader& r) { EXPECT_EQ(r.ReadInteger(), -128); }},
      {"int16", [](TWriter& w) { w.WriteInteger(-129); },
       [](TReader& r) {
         EXPECT_EQ(r.NextValue(), vaInt16);
         EXPECT_EQ(r.ReadInteger(), -129);
       }},
      {"int32", [](TWriter& w) { w.WriteInteger(70000); },
       [](TReader& r) {
         EXPECT_EQ(r.NextValue(), vaInt32);
         EXPECT_EQ(r.ReadInteger(), 70000);
       }},
      {"int64", [](TWriter& w) { w.WriteInteger(-5000000000LL); },
       [](TReader& r) {
         EXPECT_EQ(r.NextValue(), vaInt64);
         EXPECT_EQ(r.ReadInt64(), -5000000000LL);
       }},
      {"extended", [](TWriter& w) { w.WriteFloat(-1234.5e-300); },
       [](TReader& r) { EXPECT_EQ(r.ReadFloat(), -1234.5e-300); }},
      {"single", [](TWriter& w) { w.WriteSingle(2.25f); }, [](TReader& r) { EXPECT_EQ(r.ReadSingle(), 2.25f); }},
      {"currency", [](TWriter& w) { w.WriteCurrency(12.3456); },
       [](TReader& r) { EXPECT_DOUBLE_EQ(r.ReadCurrency(), 12.3456); }},
      {"date", [](TWriter& w) { w.WriteDate(45000.25); }, [](TReader& r) { EXPECT_EQ(r.ReadDate(), 45000.25); }},
      {"string", [](TWriter& w) { w.WriteString("abc"); },
       [](TReader& r) {
         EXPECT_EQ(r.NextValue(), vaString);
         EXPECT_EQ(r.ReadString(), "abc");
       }},
      {"long string", [](TWriter& w) { w.WriteString(std::string(300, 'x')); },
       [](TReader& r) {
         EXPECT_EQ(r.NextValue(), vaLString);
         EXPECT_EQ(r.ReadString(), std::string(300, 'x'));
       }},
      {"wide string", [](TWriter& w) { w.WriteWideString(u"\u0424x"); },
       [](TReader& r) { EXPECT_EQ(r.ReadWideString(), u"\u0424x"); }},
      {"utf8 string", [](TWriter& w) { w.WriteUTF8String("\xD0\xA4"); },
       [](TReader& r) { EXPECT_EQ(r.ReadWideString(), u"\u0424"); }},
      {"ident", [](TWriter& w) { w.WriteIdent("taLeft"); }, [](TReader& r) { EXPECT_EQ(r.ReadIdent(), "taLeft"); }},
      {"booleans",
       [](TWriter& w) {
         w.WriteBoolean(true);
         w.WriteIdent("false");
       },
       [](TReader& r) {
         EXPECT_TRUE(r.ReadBoolean());
         EXPECT_FALSE(r.ReadBoolean());
       }},
      {"nil", [](TWriter& w) { w.WriteIdent("nil"); },
       [](TReader& r) {
         EXPECT_EQ(r.NextValue(), vaNil);
         EXPECT_EQ(r.ReadIdent(), "nil");
       }},
      {"binary", [](TWriter& w) { w.WriteBinary(std::string("\0\1\xFF", 3)); },
       [](TReader& r) { EXPECT_EQ(r.ReadBinary(), std::string("\0\1\xFF", 3)); }},
      {"set", [](TWriter& w) { w.WriteSet(GetPropInfo(TTestControl::StaticClass(), "Options")->type, 5); },
       [](TReader& r) {
         r.CheckValue(vaSet);
         EXPECT_EQ(r.ReadSet(GetPropInfo(TTestControl::StaticClass(), "Options")->type), 5u);
       }},
      {"list",
       [](TWriter& w) {
         w.WriteListBegin();
         w.WriteInteger(1);
         w.WriteString("s");
         w.WriteListEnd();
       },
       [](TReader& r) {
         r.ReadListBegin();
         EXPECT_EQ(r.ReadInteger(), 1);
         EXPECT_EQ(r.ReadString(), "s");
         EXPECT_TRUE(r.EndOfList());
         r.ReadListEnd();
       }},
      {"wide char", [](TWriter& w) { w.WriteWideChar(u'\u0424'); },
       [](TReader& r) { EXPECT_EQ(r.ReadWideChar(), u'\u0424'); }},
      {"skip",
       [](TWriter& w) {
         w.WriteValue(vaCollection);
         w.WriteInteger(1);
         w.WriteListBegin();
         w.WritePropName("A");
         w.WriteBinary("xy");
         w.WriteListEnd();
         w.WriteListEnd();
         w.WriteInteger(7);
       },
       [](TReader& r) {
         r.SkipValue();
         EXPECT_EQ(r.ReadInteger(), 7);
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.kind);
    TMemoryStream* m = New<TMemoryStream>();
    TWriter* w = New<TWriter>(*m);
    c.write(*w);
    w->Free();
    m->SetPosition(0);
    TReader* r = New<TReader>(*m);
    c.check(*r);
    EXPECT_EQ(r->Position(), m->Size()) << "the reader consumed exactly the value";
    r->Free();
    m->Free();
  }
}

TEST(FilerFloat, ExtendedConversionIsExact) {
  for (double v : {0.0, -0.0, 1.0, -2.5, 1e-310, 1.7976931348623157e308, 0.1, 3.0e-320}) {
    std::uint8_t b[10];
    DoubleToExtended(v, b);
    EXPECT_EQ(ExtendedToDouble(b), v);
    EXPECT_EQ(std::signbit(ExtendedToDouble(b)), std::signbit(v));
  }
  std::uint8_t one[10];
  DoubleToExtended(1.0, one);
  const std::uint8_t want[10] = {0, 0, 0, 0, 0, 0, 0, 0x80, 0xFF, 0x3F};
  EXPECT_EQ(std::memcmp(one, want, 10), 0);
  std::uint8_t inf[10];
  DoubleToExtended(HUGE_VAL, inf);
  EXPECT_TRUE(std::isinf(ExtendedToDouble(inf)));
}

TEST(FormText, TextToBinaryToTextIsIdentity) {
  std::string text = kEveryValueFormText;
  std::string bin = ObjectTextToBinary(text);
  EXPECT_EQ(bin.substr(0, 4), "TPF0");
  EXPECT_EQ(ObjectBinaryToText(bin), text);

  // the same through the resource wrapper
  TOwned<TStringStream> in(New<TStringStream>(text));
  TOwned<TMemoryStream> res(New<TMemoryStream>());
  ObjectTextToResource(*in, *res);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(res->Memory()), 3), std::string("\xFF\x0A\x00", 3));
  res->SetPosition(0);
  EXPECT_EQ(TestStreamFormat(*res), sofResource);
  std::string name;
  EXPECT_EQ(ReadResourceHeader(*res, name), bin.size());
  EXPECT_EQ(name, "TTESTFORM");
  res->SetPosition(0);
  TOwned<TStringStream> back(New<TStringStream>());
  ObjectResourceToText(*res, *back);
  EXPECT_EQ(back->DataString(), text);
}

// A writer that keeps every string as a wide one, and counts the strings it was given.
class TWideOnlyWriter : public TWriter {
  FW_CLASS(TWideOnlyWriter, TWriter)
 public:
  using TWriter::TWriter;
  void WriteString(const std::string& s) override {
    ++strings;
    TWriter::WriteWideString(AnsiToWide(s));
  }
  void WriteWideString(const WideString& s) override {
    ++wides;
    TWriter::WriteWideString(s);
  }
  int strings = 0, wides = 0;
};
FW_IMPLEMENT_CLASS(TWideOnlyWriter)

TEST(FormText, TextToBinaryWritesThroughTheCallersWriter) {
  std::string text = Lines({"object A: TA", "  S = 'ab'", "  W = #1060", "  L = (", "    'x')", "  N = 5", "end"});
  TOwned<TStringStream> in(New<TStringStream>(text));
  TOwned<TStringStream> out(New<TStringStream>());
  TOwned<TWideOnlyWriter> writer(New<TWideOnlyWriter>(*out));
  ObjectTextToBinary(*in, *writer);
  EXPECT_EQ(writer->strings, 2);
  EXPECT_EQ(writer->wides, 1);
  const std::string& bin = out->DataString();
  // 'ab' went in as a wide string: type 18, length 2, UTF-16 units.
  EXPECT_NE(bin.find(std::string("\x01S\x12\x02\0\0\0a\0b\0", 11)), std::string::npos);
  EXPECT_EQ(ObjectBinaryToText(bin), text);
}

TEST(FormText, SkipLineGivesUpTheRestOfTheLineAndAlwaysMovesOn) {
  TOwned<TParser> p(New<TParser>(std::string("a b c\r\nd 'open\r\nz\n\nlast")));
  EXPECT_EQ(p->SkipLine(), toSymbol);
  EXPECT_EQ(p->TokenString(), "d");
  EXPECT_THROW(p->NextToken(), EParserError);  // after the error the reading stands inside the line
  EXPECT_EQ(p->SkipLine(), toSymbol);
  EXPECT_EQ(p->TokenString(), "z");
  EXPECT_EQ(p->SourceLine(), 3);
  EXPECT_EQ(p->SkipLine(), toSymbol);  // the empty line is passed too
  EXPECT_EQ(p->TokenString(), "last");
  EXPECT_EQ(p->SourceLine(), 5);
  EXPECT_EQ(p->SkipLine(), toEOF);
  EXPECT_EQ(p->SkipLine(), toEOF);
}

TEST(FormText, ParserErrorsNameTheLine) {
  struct Case {
    const char* text;
    const char* message;
  } cases[] = {
      {"object A: TA\r\n  X = 'open\r\nend\r\n", "Unterminated string on line 2"},
      {"object A: TA\n  X = ?\nend\n", "Invalid property value on line 2"},
      {"object A: TA\n  X = {0G}\nend\n", "Invalid binary value on line 2"},
      {"object A: TA\n  X = 1\n", "end expected on line 3"},
      {"thing A: TA\nend\n", "object expected on line 1"},
      {"object A: TA\nend\nobject B: TB\nend\n", "End of file expected on line 3"},
      {"object A: TA\n  X = (1, 2)\nend\n", "Invalid property value on line 2"},
      {"object A: TA\n  X = #99999\nend\n", "Invalid string constant on line 2"},
      {"object A: TA\n  X = 99999999999999999999\nend\n", "Invalid integer value: 99999999999999999999 on line 2"},
  };
  for (const Case& c : cases) {
    try {
      ObjectTextToBinary(c.text);
      ADD_FAILURE() << c.text;
    } catch (const EParserError& e) {
      EXPECT_EQ(e.Message, c.message);
    }
  }
  std::string deep = "object A: TA\n  X = " + std::string(100, '(') + std::string(100, ')') + "\nend\n";
  EXPECT_THROW(ObjectTextToBinary(deep), EParserError);
}

TEST_F(Filer, ReadsAFormIntoLiveComponents) {
  std::string text = Lines({
      "object Main: TTestForm",
      "  object Button1: TTestControl",
      "    Left = -5",
      "    Align = taRight",
      "    Visible = False",
      "    Ratio = 0.5",
      "    Caption = 'Go'",
      "    Hint = #1060",
      "    Accel = 'A'",
      "    Big = 5000000000",
      "    Options = [toItalic]",
      "    Font.Name = 'Arial'",
      "    Font.Style = [toBold]",
      "    Items.Strings = (",
      "      'one'",
      "      'two')",
      "    Columns = <",
      "      item",
      "        Width = 10",
      "      end>",
      "    Buddy = Button2",
      "    OnClick = Button1Click",
      "    Data = {",
      "      CAFE}",
      "  end",
      "  object Button2: TTestControl",
      "  end",
      "end",
  });
  TOwned<TTestForm> form(Load(text));
  ASSERT_NE(form.get(), nullptr);
  EXPECT_EQ(form->Name(), "Main");
  ASSERT_NE(form->Button1, nullptr) << "the name binds the form's field";
  TTestControl* b = form->Button1;
  EXPECT_EQ(b->Left, -5);
  EXPECT_EQ(b->Align, taRight);
  EXPECT_FALSE(b->Visible);
  EXPECT_EQ(b->Ratio, 0.5);
  EXPECT_EQ(b->Caption, "Go");
  EXPECT_EQ(b->Hint, u"\u0424");
  EXPECT_EQ(b->Accel, u'A');
  EXPECT_EQ(b->Big, 5000000000LL);
  EXPECT_TRUE(b->Options == TTestOptions{toItalic});
  EXPECT_EQ(b->Font->Name, "Arial");
  EXPECT_TRUE(b->Font->Style.Contains(toBold));
  EXPECT_EQ(b->Items->Text(), "one\r\ntwo\r\n");
  ASSERT_EQ(b->Columns->Count(), 1);
  EXPECT_EQ(static_cast<TTestItem*>(b->Columns->Items(0))->Width, 10);
  EXPECT_EQ(b->Buddy, form->Button2) << "a reference to a later component is fixed up";
  EXPECT_EQ(b->Data, "\xCA\xFE");
  EXPECT_EQ(b->ParentSeen, form.get());
  b->OnClick(b);
  EXPECT_EQ(form->clicks, 1);
  EXPECT_FALSE(form->ComponentState().Contains(csLoading));
}

TEST_F(Filer, ALaterCollectionValueDropsTheReferencesOfTheItemsItReplaces) {
  // The first value's item refers to a later component; the second value frees that item
  // before references are fixed up.
  struct Case {
    const char* second;
    const char* target;  // what the surviving item refers to, or null
  } cases[] = {
      {"        Width = 3", nullptr},
      {"        Target = Button1", "Button1"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.second);
    std::string text = Lines({
        "object Main: TTestForm",
        "  object Button1: TTestControl",
        "    Columns = <",
        "      item",
        "        Target = Button2",
        "      end",
        "      item",
        "        Target = Button1",
        "      end>",
        "    Columns = <",
        "      item",
        c.second,
        "      end>",
        "  end",
        "  object Button2: TTestControl",
        "  end",
        "end",
    });
    TTestForm* form = Load(text);
    ASSERT_EQ(form->Button1->Columns->Count(), 1);
    auto* item = static_cast<TTestItem*>(form->Button1->Columns->Items(0));
    EXPECT_EQ(item->Target, c.target ? form->FindComponent(c.target) : nullptr);
    form->Free();
  }
}

TEST_F(Filer, SecondInstanceOfAFormGetsANumberedName) {
  std::string text = Lines({"object Main: TTestForm", "end"});
  TOwned<TComponent> app(New<TComponent>(nullptr));
  TTestForm* one = Load(text, New<TTestForm>(app.get()));
  TTestForm* two = Load(text, New<TTestForm>(app.get()));
  EXPECT_EQ(one->Name(), "Main");
  EXPECT_EQ(two->Name(), "Main_1");
}

TEST_F(Filer, LoadedRunsAfterFixupsInReadingOrder) {
  std::string text = Lines({
      "object Main: TTestForm",
      "  object Button1: TTestControl",
      "    Buddy = Button2",
      "  end",
      "  object Button2: TTestControl",
      "  end",
      "end",
  });
  TOwned<TTestForm> form(Load(text));
  EXPECT_EQ(g_loaded, (std::vector<std::string>{"form", "Button1 buddy=Button2", "Button2"}));
}

TEST_F(Filer, WriterWritesWhatTheReaderRead) {
  std::string text = Lines({
      "object Main: TTestForm",
      "  object Button1: TTestControl",
      "    Left = 300",
      "    Align = taLeft",
      "    Visible = False",
      "    Ratio = 0.25",
      "    Caption = 'Go'",
      "    Hint = #1060",
      "    Options = [toBold, toUnderline]",
      "    Font.Name = 'Arial'",
      "    Font.Size = 10",
      "    Items.Strings = (",
      "      'one')",
      "    Columns = <",
      "      item",
      "        Width = 10",
      "        Caption = 'c'",
      "      end>",
      "    Buddy = Button2",
      "    OnClick = Button1Click",
      "    Data = {",
      "      00FF}",
      "  end",
      "  object Button2: TTestControl",
      "  end",
      "  object Plain: TComponent",
      "    Tag = 7",
      "    Left = 8",
      "    Top = 16",
      "  end",
      "end",
  });
  RegisterClass(TComponent::StaticClass());
  TOwned<TTestForm> form(Load(text));
  UnRegisterClass(TComponent::StaticClass());
  TComponent* plain = form->FindComponent("Plain");
  ASSERT_NE(plain, nullptr);
  EXPECT_EQ(plain->DesignLeft, 8) << "a non-visual component keeps its design position";
  EXPECT_EQ(plain->DesignTop, 16);
  TOwned<TMemoryStream> m(New<TMemoryStream>());
  TWriter* w = New<TWriter>(*m);
  w->WriteRootComponent(form.get());
  w->Free();
  EXPECT_EQ(ObjectBinaryToText(m->DataString()), text);
}

TEST_F(Filer, BadFormDataRaisesReadErrorsNamingTheCulprit) {
  struct Case {
    std::string text;
    std::string message;
  } cases[] = {
      {Lines({"object Main: TTestForm", "  Colour = 1", "end"}),
       "Error reading Main.Colour: Property Colour does not exist"},
      {Lines({"object Main: TTestForm", "  object B: TNoSuchClass", "  end", "end"}),
       "Error reading B: Class TNoSuchClass not found"},
      {Lines({"object Main: TTestForm", "  object B: TTestControl", "    Left = 'x'", "  end", "end"}),
       "Error reading B.Left: Invalid property value"},
      {Lines({"object Main: TTestForm", "  object B: TTestControl", "    Align = taMiddle", "  end", "end"}),
       "Error reading B.Align: Invalid property value"},
      {Lines({"object Main: TTestForm", "  object B: TTestControl", "    Options = [toStrike]", "  end", "end"}),
       "Error reading B.Options: Invalid property value"},
      {Lines({"object Main: TTestForm", "  object B: TTestControl", "    OnClick = Missing", "  end", "end"}),
       "Error reading B.OnClick: Method Missing not found"},
      {Lines({"object Main: TTestForm", "  object B: TTestControl", "    Buddy = Ghost", "  end", "end"}),
       "Error reading B.Buddy: Component Ghost not found"},
      {Lines({"object Main: TTestForm", "  object B: TTestControl", "    Columns.Count = 1", "  end", "end"}),
       "Error reading B.Columns.Count: Property Columns.Count does not exist"},
      {Lines(
           {"object Main: TTestForm", "  object B: TTestControl", "  end", "  object B: TTestControl", "  end", "end"}),
       "Error reading B: A component named B already exists"},
      {Lines({"object Main: TTestForm", "  object B: TTestControl", "    Buddy = Main", "  end", "end"}),
       "Error reading B.Buddy: Invalid property value: Buddy cannot hold a TTestForm"},
      {Lines({"object Main: TTestControl", "end"}),
       "Error reading Main: the stream holds a TTestControl, not a TTestForm"},
  };
  for (const Case& c : cases) {
    TTestForm* root = New<TTestForm>(nullptr);
    try {
      Load(c.text, root);
      ADD_FAILURE() << c.text;
    } catch (const EReadError& e) {
      EXPECT_EQ(e.Message, c.message);
    }
    EXPECT_FALSE(root->ComponentState().Contains(csLoading));
    root->Free();
  }
}

TEST_F(Filer, TruncatedOrCorruptBinaryNeverReadsPastTheData) {
  std::string bin = ObjectTextToBinary(Lines({
      "object Main: TTestForm",
      "  object B: TTestControl",
      "    Caption = 'Go'",
      "    Items.Strings = (",
      "      'one')",
      "    Data = {",
      "      00FF}",
      "  end",
      "end",
  }));
  for (std::size_t n = 0; n < bin.size(); ++n) {
    std::string cut = bin.substr(0, n);
    TReadOnlyMemoryStream* in = New<TReadOnlyMemoryStream>(cut.data(), cut.size());
    TReader* r = New<TReader>(*in);
    EXPECT_THROW(r->ReadRootComponent(nullptr), EReadError) << n;
    r->Free();
    in->Free();
    EXPECT_THROW(ObjectBinaryToText(cut), EReadError) << n;
  }
  std::string huge = bin;
  std::size_t at = huge.find("Data") + 4;  // the vaBinary length follows
  ASSERT_EQ(huge[at], vaBinary);
  huge[at + 4] = '\x7F';
  EXPECT_THROW(ObjectBinaryToText(huge), EReadError);
  std::string badType = bin;
  badType[badType.find("Caption") + 7] = '\x63';
  EXPECT_THROW(ObjectBinaryToText(badType), EReadError);
}
