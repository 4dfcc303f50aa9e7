#include "UcxClasses.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "Component.h"
#include "ObjectConvert.h"
#include "Streams.h"
#include "TestBytes.h"
#include "UcxSystem.h"

namespace {

// A component with wide properties of both kinds, as the Unicode controls have.
class TWidePropsPart : public TComponent {
  FW_CLASS(TWidePropsPart, TComponent)
 public:
  using TComponent::TComponent;
  void DefineProperties(TFiler& filer) override {
    inherited::DefineProperties(filer);
    DefineWideProperties(filer, this);
  }
  WideString Caption;
  WideString Hint;
  bool HintStored = true;
  bool IsHintStored() const { return HintStored; }
  char16_t Accel = u'A';  // declared default 'A'
  char16_t Mark = 0;      // no declared default
  int Width = 0;
};

class TWidePropsForm : public TComponent {
  FW_CLASS(TWidePropsForm, TComponent)
 public:
  using TComponent::TComponent;
  void GetChildren(const Method<void(TComponent*)>& proc, TComponent*) override {
    for (int i = 0; i < ComponentCount(); ++i) proc(Components(i));
  }
  TWidePropsPart* Part1 = nullptr;
};

}  // namespace

FW_BEGIN_CLASS(TWidePropsPart)
  FW_PROP(Caption, Caption, Caption)
  FW_PROP(Hint, Hint, Hint)
  FW_STORED(IsHintStored)
  FW_PROP(Accel, Accel, Accel)
  FW_DEFAULT(u'A')
  FW_PROP(Mark, Mark, Mark)
  FW_PROP(Width, Width, Width)
FW_END_CLASS
FW_BEGIN_CLASS(TWidePropsForm)
  FW_FIELD(Part1)
FW_END_CLASS

namespace {

class WideStreaming : public ::testing::Test {
 protected:
  void SetUp() override { RegisterClasses({&TWidePropsForm::StaticClass(), &TWidePropsPart::StaticClass()}); }
  void TearDown() override { ExtraPropertiesEnabled = true; }

  // The form with one part, written as binary form data.
  static std::string WriteForm(const WideString& caption, char16_t accel = u'A', char16_t mark = 0) {
    TOwned<TWidePropsForm> form(New<TWidePropsForm>(nullptr));
    form->SetName("Form1");
    TWidePropsPart* part = New<TWidePropsPart>(form.get());
    part->SetName("Part1");
    part->Caption = caption;
    part->Accel = accel;
    part->Mark = mark;
    return WriteRoot(form.get(), nullptr);
  }
  static std::string WriteRoot(TComponent* root, TComponent* ancestor) {
    TOwned<TStringStream> out(New<TStringStream>(""));
    TOwned<TWriter> writer(New<TWriter>(*out));
    writer->WriteDescendent(root, ancestor);
    return out->DataString();
  }
  // Reads form text into a new form; returns its part.
  TWidePropsPart* ReadText(const std::string& text) {
    const std::string binary = ObjectTextToBinary(text);
    form_.reset(New<TWidePropsForm>(nullptr));
    ReadComponentData(binary.data(), binary.size(), form_.get());
    return form_->Part1;
  }
  static std::string PartText(const std::string& props) {
    return "object Form1: TWidePropsForm\n  object Part1: TWidePropsPart\n" + props + "  end\nend\n";
  }

  TOwned<TWidePropsForm> form_;
};

TEST_F(WideStreaming, ACaptionWithCyrillicIsWrittenAsUtf7AndReadBack) {
  const std::string binary = WriteForm(u"\u0416\u0434\u0438\u0442\u0435");
  const std::string text = ObjectBinaryToText(binary);
  EXPECT_NE(text.find("Caption_UTF7 = '+BBYENAQ4BEIENQ'"), std::string::npos) << text;
  EXPECT_EQ(text.find("CaptionW"), std::string::npos) << text;

  // Binary, and through the form text.
  for (const std::string& data : {binary, ObjectTextToBinary(text)}) {
    TOwned<TWidePropsForm> form(New<TWidePropsForm>(nullptr));
    ReadComponentData(data.data(), data.size(), form.get());
    ASSERT_NE(form->Part1, nullptr);
    EXPECT_EQ(form->Part1->Caption, u"\u0416\u0434\u0438\u0442\u0435");
  }
  // The extra entry alone carries the value.
  EXPECT_EQ(ReadText(PartText("    Caption = 'x'\n    Caption_UTF7 = '+BBYENAQ4BEIENQ'\n"))->Caption,
            u"\u0416\u0434\u0438\u0442\u0435");
}

std::string FileBytes(const char* path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

std::string WithoutCarriageReturns(std::string s) {
  std::erase(s, '\r');
  return s;
}

// The form text compiled by formc at build time reads into the components and
// writes back to the same text.
TEST_F(WideStreaming, AFormCompiledByFormcReadsAndWritesBack) {
  const std::string binary = FileBytes(UNICODE_WIDE_PROPS_BIN);
  ASSERT_FALSE(binary.empty());
  TOwned<TWidePropsForm> form(New<TWidePropsForm>(nullptr));
  ReadComponentData(binary.data(), binary.size(), form.get());
  ASSERT_NE(form->Part1, nullptr);
  EXPECT_EQ(form->Part1->Caption, u"\u0416\u0434\u0438\u0442\u0435");
  EXPECT_EQ(form->Part1->Accel, u'\u0416');
  EXPECT_EQ(form->Part1->Mark, u'x');
  EXPECT_EQ(WithoutCarriageReturns(ObjectBinaryToText(WriteRoot(form.get(), nullptr))),
            WithoutCarriageReturns(FileBytes(UNICODE_WIDE_PROPS_FORM)));
}

TEST_F(WideStreaming, OnlyValuesBeyondAsciiGetTheExtraEntry) {
  const struct {
    WideString caption;
    bool extra;
  } cases[] = {{u"Wait, please!", false}, {u"", false}, {u"caf\u00E9", true}, {u"\U0001F600", true}};
  for (const auto& c : cases) {
    const std::string text = ObjectBinaryToText(WriteForm(c.caption));
    EXPECT_EQ(text.find("Caption_UTF7") != std::string::npos, c.extra) << text;
  }
  // A property whose stored test fails gets none either.
  TOwned<TWidePropsForm> form(New<TWidePropsForm>(nullptr));
  TWidePropsPart* part = New<TWidePropsPart>(form.get());
  part->SetName("Part1");
  part->Hint = u"\u0416";
  part->HintStored = false;
  EXPECT_EQ(ObjectBinaryToText(WriteRoot(form.get(), nullptr)).find("Hint"), std::string::npos);
}

TEST_F(WideStreaming, BothExtraEntriesApplyInStreamOrder) {
  const std::string utf8One = "#208#190#208#180#208#184#208#189";  // "один" as UTF-8 bytes
  const std::string utf7Two = "'+BDQEMgQw'";                       // "два"
  EXPECT_EQ(ReadText(PartText("    CaptionW = " + utf8One + "\n    Caption_UTF7 = " + utf7Two + "\n"))->Caption,
            u"\u0434\u0432\u0430");
  EXPECT_EQ(ReadText(PartText("    Caption_UTF7 = " + utf7Two + "\n    CaptionW = " + utf8One + "\n"))->Caption,
            u"\u043E\u0434\u0438\u043D");
  // Malformed UTF-8 gives the empty text; bad UTF-7 is a read error.
  EXPECT_EQ(ReadText(PartText("    Caption = 'x'\n    CaptionW = #195'('\n"))->Caption, u"");
  try {
    ReadText(PartText("    Caption_UTF7 = '+ZZZ'\n"));
    ADD_FAILURE();
  } catch (const EReadError& e) {
    EXPECT_NE(e.Message.find("Invalid UTF7"), std::string::npos) << e.Message;
  }
}

// The extra entries read straight from a property stream by a reader that
// may have no owner.
TEST_F(WideStreaming, ValuesApplyOnlyWithAnOwnerThatDesignsOrWithExtrasEnabled) {
  TOwned<TStringStream> data(New<TStringStream>(""));
  {
    TOwned<TWriter> w(New<TWriter>(*data));
    w->WritePropName("CaptionW");
    w->WriteString(Utf8FromWide(u"\u0416"));
    w->WritePropName("Caption_UTF7");
    w->WriteString(Utf7FromWide(u"\u0434"));
    w->WritePropName("AccelW");
    w->WriteWideString(u"\u0436");
    w->WritePropName("Mark_UTF7");
    w->WriteString(Utf7FromWide(u"\u0437"));
    w->WritePropName("Width");
    w->WriteInteger(5);
  }
  TOwned<TWidePropsForm> designer(New<TWidePropsForm>(nullptr));
  designer->SetState(csDesigning, true);
  TOwned<TWidePropsForm> running(New<TWidePropsForm>(nullptr));
  const struct {
    TComponent* owner;
    bool extrasEnabled;
    bool applied;
  } cases[] = {{nullptr, true, false},
               {running.get(), true, true},
               {running.get(), false, false},
               {designer.get(), false, true}};
  for (const auto& c : cases) {
    ExtraPropertiesEnabled = c.extrasEnabled;
    TOwned<TWidePropsPart> part(New<TWidePropsPart>(nullptr));
    data->SetPosition(0);
    TOwned<TReader> reader(New<TReader>(*data));
    reader->Owner = c.owner;
    for (int i = 0; i < 5; ++i) reader->ReadProperty(part.get());
    EXPECT_EQ(part->Width, 5);  // every value was read, applied or not
    EXPECT_EQ(part->Caption, c.applied ? u"\u0434" : u"");
    EXPECT_EQ(part->Accel, c.applied ? u'\u0436' : u'A');
    EXPECT_EQ(part->Mark, c.applied ? u'\u0437' : u'\0');
  }
}

TEST_F(WideStreaming, WideCharValuesMustBeOneUnitOfText) {
  const struct {
    const char* props;
    char16_t accel;  // 0xFFFF: an error
  } cases[] = {
      {"    AccelW = #1046\n", u'\u0416'},        {"    AccelW = 'q'\n", u'q'},     {"    AccelW = ''\n", u'\0'},
      {"    AccelW = #1046#1047\n", 0xFFFF},      {"    AccelW = 'ab'\n", 0xFFFF},  {"    AccelW = 65\n", 0xFFFF},
      {"    Accel_UTF7 = '+BBY-x'\n", u'\u0416'}, {"    Accel_UTF7 = ''\n", u'\0'},
  };
  for (const auto& c : cases) {
    if (c.accel == 0xFFFF) {
      try {
        ReadText(PartText(c.props));
        ADD_FAILURE() << c.props;
      } catch (const EReadError& e) {
        EXPECT_NE(e.Message.find("Invalid property value"), std::string::npos) << e.Message;
      }
    } else {
      EXPECT_EQ(ReadText(PartText(c.props))->Accel, c.accel) << c.props;
    }
  }
}

TEST_F(WideStreaming, WideCharsAreWrittenWhenTheyDifferFromTheDefault) {
  const struct {
    char16_t accel, mark;
    bool accelW;
  } cases[] = {{u'A', 0, false}, {u'\u0416', 0, true}, {u'B', u'\u0417', true}};
  for (const auto& c : cases) {
    const std::string binary = WriteForm(u"", c.accel, c.mark);
    const std::string text = ObjectBinaryToText(binary);
    EXPECT_EQ(text.find("AccelW") != std::string::npos, c.accelW) << text;
    EXPECT_NE(text.find("MarkW"), std::string::npos) << text;  // no declared default: always written
    EXPECT_EQ(text.find("_UTF7"), std::string::npos) << text;
    TOwned<TWidePropsForm> form(New<TWidePropsForm>(nullptr));
    ReadComponentData(binary.data(), binary.size(), form.get());
    EXPECT_EQ(form->Part1->Accel, c.accel);
    EXPECT_EQ(form->Part1->Mark, c.mark);
  }
  // The "W" entry is a wide-string value of one unit.
  const std::string binary = WriteForm(u"", u'\u0416');
  EXPECT_NE(binary.find(Bytes({6, 'A', 'c', 'c', 'e', 'l', 'W', 18, 1, 0, 0, 0, 0x16, 0x04})), std::string::npos);
}

TEST_F(WideStreaming, ValuesEqualToTheAncestorsAreNotWritten) {
  TOwned<TWidePropsPart> ancestor(New<TWidePropsPart>(nullptr));
  ancestor->Caption = u"\u0416";
  ancestor->Accel = u'\u0436';
  const struct {
    WideString caption;
    char16_t accel;
    bool captionUtf7, accelW;
  } cases[] = {
      {u"\u0416", u'\u0436', false, false},
      {u"\u0417", u'\u0436', true, false},
      {u"\u0416", u'A', false, true},  // differs from the ancestor's, though it is the declared default
  };
  for (const auto& c : cases) {
    TOwned<TWidePropsPart> part(New<TWidePropsPart>(nullptr));
    part->SetName("Part1");
    part->Caption = c.caption;
    part->Accel = c.accel;
    const std::string text = ObjectBinaryToText(WriteRoot(part.get(), ancestor.get()));
    EXPECT_EQ(text.find("Caption_UTF7") != std::string::npos, c.captionUtf7) << text;
    EXPECT_EQ(text.find("AccelW") != std::string::npos, c.accelW) << text;
  }
}

int CompareInts(void* item, const void* target) {
  const auto a = reinterpret_cast<std::intptr_t>(item);
  const auto b = *static_cast<const std::intptr_t*>(target);
  return a < b ? -1 : a > b ? 1 : 0;
}

TEST(FindInSortedList, GivesTheLeftmostEqualItemOrTheInsertionPoint) {
  TOwned<TList> list(New<TList>());
  for (std::intptr_t v : {1, 2, 2, 2, 5, 7, 7, 7, 7}) list->Add(reinterpret_cast<void*>(v));
  const struct {
    std::intptr_t target;
    bool found;
    int index;
  } cases[] = {{0, false, 0}, {1, true, 0}, {2, true, 1}, {3, false, 4}, {5, true, 4}, {7, true, 5}, {8, false, 9}};
  for (const auto& c : cases) {
    int index = -1;
    EXPECT_EQ(FindInSortedList(*list, CompareInts, &c.target, index), c.found) << c.target;
    EXPECT_EQ(index, c.index) << c.target;
  }
  TOwned<TList> empty(New<TList>());
  int index = -1;
  const std::intptr_t t = 3;
  EXPECT_FALSE(FindInSortedList(*empty, CompareInts, &t, index));
  EXPECT_EQ(index, 0);
}

}  // namespace
