#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "Object.h"
#include "SysUtils.h"

namespace {

std::vector<std::string> g_log;

FW_ENUM(TShade, shLight, shMedium, shDark);
using TShades = Set<TShade>;

class TBase : public TObject {
  FW_CLASS(TBase, TObject)
 public:
  TBase() { g_log.push_back("ctor TBase"); }
  ~TBase() override { g_log.push_back("~TBase"); }
  void AfterConstruction() override { g_log.push_back(std::string("after ") + Kind()); }
  void BeforeDestruction() override { g_log.push_back("before"); }
  void Destroy() override {
    g_log.push_back(std::string("destroy TBase sees ") + Kind());
    inherited::Destroy();
  }
  virtual const char* Kind() const { return "base"; }

  int Count = 0;
  AnsiString GetTitle() const { return title_; }
  void SetTitle(const AnsiString& t) { title_ = t; }
  TShade Shade = shLight;
  TShades Shades;
  bool Flag = false;
  double Ratio = 0;
  WideString Wide;
  TNotifyEvent OnPing;

 private:
  AnsiString title_;
};

class TDerived : public TBase {
  FW_CLASS(TDerived, TBase)
 public:
  void Destroy() override {
    g_log.push_back("destroy TDerived");
    inherited::Destroy();
  }
  const char* Kind() const override { return "derived"; }
  void Ping(TObject*) { ++pings; }
  void Pong(TObject*) { pongs += 2; }
  int pings = 0, pongs = 0;
  TBase* Link = nullptr;
};

class TFailing : public TBase {
  FW_CLASS(TFailing, TBase)
 public:
  void AfterConstruction() override { throw EConvertError("no"); }
};

}  // namespace

FW_BEGIN_CLASS(TBase)
  FW_PROP(Count, Count, Count)
  FW_DEFAULT(0)
  FW_PROP(Title, GetTitle, SetTitle)
  FW_PROP(Shade, Shade, Shade)
  FW_PROP(Shades, Shades, Shades)
  FW_PROP(Flag, Flag, Flag)
  FW_PROP(Ratio, Ratio, Ratio)
  FW_PROP(Wide, Wide, Wide)
  FW_EVENT(OnPing, OnPing)
FW_END_CLASS

FW_BEGIN_CLASS(TDerived)
  FW_PROP(Link, Link, Link)
  FW_METHOD(Ping)
  FW_METHOD(Pong)
FW_END_CLASS

FW_IMPLEMENT_CLASS(TFailing)

TEST(Object, TwoPhaseLifecycleSeesTheFinalClass) {
  g_log.clear();
  TDerived* d = New<TDerived>();
  d->Free();
  std::vector<std::string> want = {
      "ctor TBase", "after derived", "before", "destroy TDerived", "destroy TBase sees derived", "~TBase"};
  EXPECT_EQ(g_log, want);

  g_log.clear();
  EXPECT_THROW(New<TFailing>(), EConvertError);
  EXPECT_EQ(g_log.back(), "~TBase") << "a failed AfterConstruction frees the object";
}

TEST(Object, ClassMetadataAndRegistry) {
  TOwned<TDerived> d(New<TDerived>());
  EXPECT_STREQ(d->ClassName(), "TDerived");
  EXPECT_EQ(d->ClassParent(), &TBase::StaticClass());
  EXPECT_TRUE(d->Is<TBase>());
  EXPECT_TRUE(d->InheritsFrom(TObject::StaticClass()));
  EXPECT_FALSE(d->Is<TFailing>());
  EXPECT_THROW(As<TFailing>(d.get()), EInvalidCast);

  EXPECT_EQ(GetClass("TDerived"), nullptr);
  RegisterClasses({&TDerived::StaticClass(), &TBase::StaticClass()});
  EXPECT_EQ(GetClass("tderived"), &TDerived::StaticClass());
  TObject* made = FindClass("TDerived").create(nullptr);
  EXPECT_STREQ(made->ClassName(), "TDerived");
  made->Free();
  UnRegisterClass(TDerived::StaticClass());
  try {
    FindClass("TDerived");
    FAIL();
  } catch (const EClassNotFound& e) {
    EXPECT_STREQ(e.what(), "Class TDerived not found");
  }
}

TEST(Object, PropertiesByNameAndKind) {
  TOwned<TDerived> d(New<TDerived>());
  auto list = GetPropList(TDerived::StaticClass());
  ASSERT_EQ(list.size(), 9u);
  EXPECT_EQ(list.front()->name, "Count") << "ancestors first, declaration order";
  EXPECT_EQ(list.back()->name, "Link");

  SetOrdProp(d.get(), "count", 42);
  EXPECT_EQ(d->Count, 42);
  SetStrProp(d.get(), "Title", "Hello");
  EXPECT_EQ(GetStrProp(d.get(), "TITLE"), "Hello");
  const PropInfo* shade = GetPropInfo(d.get(), "Shade");
  EXPECT_EQ(GetEnumValue(*shade->type, "shdark"), 2);
  SetOrdProp(d.get(), *shade, 2);
  EXPECT_EQ(d->Shade, shDark);
  EXPECT_THROW(SetOrdProp(d.get(), *shade, 3), EPropertyError);
  const PropInfo* shades = GetPropInfo(d.get(), "Shades");
  SetOrdProp(d.get(), *shades, static_cast<std::int64_t>(StringToSet(*shades->type, "[shLight, shDark]")));
  EXPECT_TRUE(d->Shades.Contains(shDark) && !d->Shades.Contains(shMedium));
  EXPECT_EQ(SetToString(*shades->type, d->Shades.Bits()), "[shLight,shDark]");
  EXPECT_EQ(GetPropInfo(d.get(), "Flag")->type->names[1], "True");
  SetFloatProp(d.get(), *GetPropInfo(d.get(), "Ratio"), 1.5);
  EXPECT_EQ(d->Ratio, 1.5);
  SetStrProp(d.get(), "Wide", "caf\xE9");
  EXPECT_EQ(d->Wide, u"caf\u00E9");
  EXPECT_THROW(SetOrdProp(d.get(), "Title", 1), EPropertyError);
  EXPECT_THROW(SetOrdProp(d.get(), "Missing", 1), EPropertyError);

  TBase* other = New<TBase>();
  SetObjectProp(d.get(), *GetPropInfo(d.get(), "Link"), other);
  EXPECT_EQ(d->Link, other);
  TObject* plain = New<TObject>();
  EXPECT_THROW(SetObjectProp(d.get(), *GetPropInfo(d.get(), "Link"), plain), EPropertyError)
      << "a class property checks the class";
  plain->Free();
  other->Free();

  // handlers bound by name
  MethodRef ping = d->MethodAddress("ping");
  ASSERT_TRUE(ping);
  SetMethodProp(d.get(), *GetPropInfo(d.get(), "OnPing"), ping);
  d->OnPing(d.get());
  EXPECT_EQ(d->pings, 1);
  EXPECT_EQ(d->ClassType().MethodName(GetMethodProp(d.get(), *GetPropInfo(d.get(), "OnPing")), d.get()), "Ping");
}

TEST(Method, EqualityNamesObjectAndHandler) {
  TOwned<TDerived> a(New<TDerived>());
  TOwned<TDerived> b(New<TDerived>());
  auto aPing = TNotifyEvent::Bind<&TDerived::Ping>(a.get());
  struct Case {
    TNotifyEvent x, y;
    bool equal;
  } cases[] = {
      {aPing, TNotifyEvent::Bind<&TDerived::Ping>(a.get()), true},
      {aPing, TNotifyEvent::Bind<&TDerived::Ping>(b.get()), false},
      {aPing, TNotifyEvent::Bind<&TDerived::Pong>(a.get()), false},
      {aPing, TNotifyEvent(), false},
      {TNotifyEvent(), nullptr, true},
  };
  for (const Case& c : cases) EXPECT_EQ(c.x == c.y, c.equal);
  EXPECT_FALSE(TNotifyEvent());
  MethodRef r = aPing.Ref();
  EXPECT_EQ(TNotifyEvent::FromRef(r), aPing);
  EXPECT_FALSE(Method<void(int)>::FromRef(r)) << "a reference of another delegate type does not convert";
}

TEST(SysUtils, FormatAndConversions) {
  struct Case {
    std::string got, want;
  } cases[] = {
      {Format("%s has %d items", "list", 3), "list has 3 items"},
      {Format("%.8X|%x|%5d|%-5d|", 0xBEEFu, -1, 42, 42), "0000BEEF|FFFFFFFF|   42|42   |"},
      {Format("%1:s %0:s %%", "a", "b"), "b a %"},
      {Format("%.2f %n", 3.14159, 1234567.0), "3.14 1,234,567.00"},
      {Format("%*d", 4, 7), "   7"},
      {IntToHex(255, 4), "00FF"},
  };
  for (const Case& c : cases) EXPECT_EQ(c.got, c.want);
  EXPECT_THROW(Format("%d", "text"), EConvertError);
  EXPECT_THROW(Format("%s %s", "one"), EConvertError);
  EXPECT_EQ(StrToInt(" $1F "), 31);
  EXPECT_EQ(StrToInt("-12"), -12);
  EXPECT_EQ(StrToIntDef("12a", -1), -1);
  EXPECT_THROW(StrToInt("99999999999"), EConvertError);
  try {
    StrToInt("x");
    FAIL();
  } catch (const EConvertError& e) {
    EXPECT_EQ(e.Message, "'x' is not a valid integer value");
  }
  EXPECT_EQ(StrToFloat(FloatToStr(0.1)), 0.1);
  EXPECT_LT(CompareText("abc", "ABD"), 0);
  EXPECT_TRUE(AnsiSameText("\xC9t\xE9", "\xE9T\xC9"));
  EXPECT_EQ(ExtractFileName("C:\\dir\\file.txt"), "file.txt");
  EXPECT_EQ(ExtractFilePath("C:\\dir\\file.txt"), "C:\\dir\\");
  EXPECT_EQ(ChangeFileExt("a.b\\c.txt", ".ini"), "a.b\\c.ini");
  EXPECT_EQ(WideToUtf8(Utf8ToWide("\xF0\x9F\x98\x80 \xC3\xA9")), "\xF0\x9F\x98\x80 \xC3\xA9");
  EXPECT_EQ(Utf8ToWide("\xC0\x80"), u"\uFFFD\uFFFD") << "overlong forms are refused";
  EXPECT_EQ(WideToAnsi(AnsiToWide("\x80\xE9")), "\x80\xE9");
}

// Numbers read from outside text: the edges of 64 bits are read or refused, never overflowed.
TEST(SysUtils, Int64TextAtItsLimits) {
  struct {
    const char* text;
    bool ok;
    std::int64_t value;
  } cases[] = {
      {"9223372036854775807", true, INT64_MAX},
      {"-9223372036854775808", true, INT64_MIN},
      {"9223372036854775808", false, 0},
      {"-9223372036854775809", false, 0},
      // hexadecimal text is a bit pattern, its sign negates in 64 bits
      {"$8000000000000000", true, INT64_MIN},
      {"-$8000000000000000", true, INT64_MIN},
      {"-0x8000000000000000", true, INT64_MIN},
      {"$FFFFFFFFFFFFFFFF", true, -1},
      {"-$FFFFFFFFFFFFFFFF", true, 1},
      {" -0x7FFFFFFFFFFFFFFF ", true, -INT64_MAX},
      {"$10000000000000000", false, 0},
      {"-", false, 0},
      {"-$", false, 0},
      {"0x", false, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    std::int64_t value = 12345;
    EXPECT_EQ(TryStrToInt64(c.text, value), c.ok);
    if (c.ok) {
      EXPECT_EQ(value, c.value);
    }
  }
  int small = 0;
  EXPECT_TRUE(TryStrToInt("-$80000000", small));
  EXPECT_EQ(small, INT32_MIN);
  EXPECT_FALSE(TryStrToInt("-$8000000000000000", small));
}

TEST(Exceptions, ClassNamesAndAbort) {
  try {
    Abort();
  } catch (const Exception& e) {
    EXPECT_STREQ(e.ClassName(), "EAbort");
  }
  EReadError r("Stream read error");
  const EStreamError& base = r;
  EXPECT_STREQ(base.ClassName(), "EReadError");
  EXPECT_THROW(FW_ASSERT(false, "broken"), EAssertionFailed);
}

TEST(SysUtils, DatesAndTimes) {
  EXPECT_EQ(EncodeDate(1899, 12, 30), 0.0);
  EXPECT_EQ(EncodeDate(2000, 1, 1), 36526.0);
  EXPECT_EQ(EncodeDate(1600, 3, 1), EncodeDate(1600, 2, 29) + 1) << "1600 is a leap year";
  EXPECT_THROW(EncodeDate(1900, 2, 29), EConvertError);
  int y, m, d, h, n, s, ms;
  DecodeDate(EncodeDate(2024, 12, 31) + 0.75, y, m, d);
  EXPECT_EQ(y * 10000 + m * 100 + d, 20241231);
  DecodeDate(-1.5, y, m, d);  // before the epoch: the floor is the day
  EXPECT_EQ(y * 10000 + m * 100 + d, 18991228);
  TDateTime t = EncodeTime(13, 5, 9, 7);
  DecodeTime(t, h, n, s, ms);
  EXPECT_EQ(h * 10000000 + n * 100000 + s * 1000 + ms, 130509007);
  EXPECT_EQ(TimeToStr(t), "13:05:09");
  EXPECT_EQ(FormatTime("h:nn:ss.zzz AM/PM 'at'", t), "1:05:09.007 PM at");
  EXPECT_GT(Now(), EncodeDate(2020, 1, 1));
}
