#include "UcxSysUtils.h"

#include <gtest/gtest.h>

#include "Object.h"
#include "RecordingWidePlatform.h"
#include "UcxSystem.h"
#include "UcxTypInfo.h"
#include "UcxWindows.h"

namespace {

TEST(PlatformFlags, FollowTheVersionAtTheUnitsStart) {
  const struct {
    unsigned platformId, major, minor;
    bool ok, unicode, xp;
  } cases[] = {
      {1, 4, 10, true, false, false},  // the 9x line
      {2, 4, 0, true, true, false},   {2, 5, 0, true, true, false},   {2, 5, 1, true, true, true},
      {2, 6, 0, true, true, true},    {2, 6, 1, false, false, false},  // the query failed
  };
  for (const auto& c : cases) {
    RecordingWidePlatform platform;
    platform.version = {c.platformId, c.major, c.minor};
    platform.versionOk = c.ok;
    WidePlatformScope scope(&platform, !c.unicode, !c.xp);
    InitUcxSysUtils();
    EXPECT_EQ(IsUnicodePlatform, c.unicode) << c.platformId << " " << c.major << "." << c.minor;
    EXPECT_EQ(IsXPOrLater, c.xp) << c.platformId << " " << c.major << "." << c.minor;
  }
}

TEST(WideHelpers, DelimitersAndFileNameParts) {
  const struct {
    std::u16string delimiters, s;
    std::size_t last;
  } delimiterCases[] = {
      {u"\\:", u"", 0},           {u"\\:", u"name.txt", 0},
      {u"\\:", u"C:name.txt", 2}, {u"\\:", u"C:\\dir\\x", 7},
      {u".", u"a.b.c", 4},        {std::u16string(u"x\0", 2), std::u16string(u"a\0b", 3), 0},  // a 0 unit never matches
  };
  for (const auto& c : delimiterCases) EXPECT_EQ(LastWideDelimiter(c.delimiters, c.s), c.last);

  const struct {
    std::u16string path, name;
  } nameCases[] = {
      {u"C:name.txt", u"name.txt"},
      {u"name.txt", u"name.txt"},
      {u"C:\\\u041F\u0430\u043F\u043A\u0430\\file", u"file"},
      {u"C:\\dir\\", u""},
  };
  for (const auto& c : nameCases) EXPECT_EQ(WideFileNamePart(c.path), c.name);
}

TEST(WideHelpers, BuffersAndCharacterSearch) {
  const char16_t text[] = u"abcab";
  EXPECT_EQ(FindWideChar(text, u'b'), text + 1);
  EXPECT_EQ(FindWideChar(text, u'z'), nullptr);
  EXPECT_EQ(FindWideChar(text, 0), nullptr);
  EXPECT_EQ(FindWideChar(nullptr, u'a'), nullptr);

  char16_t dest[4] = {u'x', u'x', u'x', u'x'};
  EXPECT_EQ(WideCopyChars(dest, text, 2), dest);
  EXPECT_EQ(WideString(dest), u"ab");
  EXPECT_EQ(dest[3], u'x');

  EXPECT_EQ(WideFromBuffer(text, -1), u"abcab");
  EXPECT_EQ(WideFromBuffer(text, 3), u"abc");
  EXPECT_EQ(WideFromBuffer(nullptr, -1), u"");
}

TEST(WideHelpers, ResourceNumbersAreTestedOverThePointerWidth) {
  const struct {
    std::uintptr_t value;
    bool number;
  } cases[] = {
      {0, true},
      {0xFFFF, true},
      {0x10000, false},
      {static_cast<std::uintptr_t>(-1), false},
      {sizeof(void*) > 4 ? static_cast<std::uintptr_t>(0xFFFFFFFFu) + 1 : 0x10000, false},
  };
  for (const auto& c : cases)
    EXPECT_EQ(IsIntResourceValue(reinterpret_cast<const void*>(c.value)), c.number) << c.value;
}

TEST(WideHelpers, FormatWideFormatsTheNarrowedText) {
  EXPECT_EQ(FormatWide(u"%d files in %s \u00E9", 3, "C:"), u"3 files in C: \u00E9");
}

TEST(WideHelpers, FitsAnsiAsksTheConversionCodePage) {
  RecordingWidePlatform platform;
  WidePlatformScope scope(&platform, true);
  const struct {
    char16_t unit;
    bool fits;
  } cases[] = {{u'a', true}, {u'?', true}, {u'\u00E9', true}, {u'\u20AC', true}, {u'\u0416', false}, {0xD800, false}};
  for (const auto& c : cases) EXPECT_EQ(WideCharFitsAnsi(c.unit), c.fits) << int(c.unit);
}

TEST(WideHelpers, CheckWin32ResultRaisesTheLastError) {
  RecordingWidePlatform platform;
  platform.failWithError = 5;
  WidePlatformScope scope(&platform, true);
  EXPECT_EQ(CheckWin32Result(7), 7);
  try {
    ModuleFileNameWide(nullptr);
    ADD_FAILURE();
  } catch (const EOSError& e) {
    EXPECT_EQ(e.ErrorCode, 5u);
    EXPECT_EQ(e.Message.rfind("System Error.  Code: 5.", 0), 0u) << e.Message;
  }
}

struct Named {
  virtual ~Named() = default;
};
struct Thing : TObject, Named {};

TEST(WideHelpers, SupportsInterfaceAsksTheObject) {
  Thing thing;
  TObject plain;
  EXPECT_TRUE(SupportsInterface<Named>(static_cast<TObject*>(&thing)));
  EXPECT_FALSE(SupportsInterface<Named>(&plain));
}

// --- the wrappers ------------------------------------------------------------------------------

TEST(Wrappers, TheNtLineCallsTheWideFunctions) {
  RecordingWidePlatform platform;
  WidePlatformScope scope(&platform, true);
  EXPECT_EQ(SetWindowTextWide(nullptr, u"\u0416x"), 1);
  EXPECT_EQ(DrawTextWide(nullptr, u"\u0416xyz", 2, nullptr, 16), 7);
  char16_t upper[] = u"ab";
  CharUpperWide(upper);
  CharUpperBuffWide(upper, 1);
  CompareStringWide(0x419, 1, u"a", -1, u"b", -1);
  EXPECT_EQ(platform.calls, (std::vector<std::string>{"SetWindowTextW \xD0\x96x", "DrawTextW \xD0\x96x 2 16",
                                                      "CharUpperW", "CharUpperBuffW 1", "CompareStringW 1"}));
}

TEST(Wrappers, The9xLineNarrowsForTheAnsiFunctions) {
  RecordingWidePlatform platform;
  WidePlatformScope scope(&platform, false);
  EXPECT_EQ(SetWindowTextWide(nullptr, u"Caf\u00E9 \u0416"), 1);
  EXPECT_EQ(DrawTextWide(nullptr, u"abc\u00E9", 3, nullptr, 4), 8);
  EXPECT_EQ(DrawTextWide(nullptr, u"abc\u00E9", -1, nullptr, 4), 8);
  EXPECT_EQ(platform.calls,
            (std::vector<std::string>{"SetWindowTextA Caf\xE9 ?", "DrawTextA abc -1 4", "DrawTextA abc\xE9 -1 4"}));
}

TEST(Wrappers, The9xLineComparesByUnitsWithoutFlags) {
  RecordingWidePlatform platform;
  WidePlatformScope scope(&platform, false);
  const struct {
    std::u16string a;
    int na;
    std::u16string b;
    int nb;
    int result;
  } cases[] = {
      {u"B", -1, u"a", -1, 1}, {u"a", -1, u"B", -1, 3}, {u"a", -1, u"a", -1, 2},      {u"ab", -1, u"a", -1, 3},
      {u"", -1, u"a", -1, 1},  {u"ab", 1, u"a", 1, 2},  {u"\u0416", -1, u"z", -1, 3},
  };
  for (const auto& c : cases)
    EXPECT_EQ(CompareStringWide(0x409, 0, c.a.c_str(), c.na, c.b.c_str(), c.nb), c.result) << WideToUtf8(c.a);
  EXPECT_TRUE(platform.calls.empty());
  EXPECT_EQ(WideCompareByLocale(u"B", u"a"), -1);
  EXPECT_FALSE(WideEqualByLocale(u"a", u"A"));

  // With flags the ANSI comparison decides, on the narrowed texts.
  platform.locale = 0x419;
  EXPECT_TRUE(WideEqualByLocaleNoCase(u"caf\u00E9", u"CAF\u00C9"));
  EXPECT_EQ(platform.calls, (std::vector<std::string>{"CompareStringA 1 caf\xE9 -1 CAF\xC9 -1"}));
  EXPECT_EQ(platform.lastCompareLocale, 0x419u);
}

TEST(Wrappers, The9xLineUpperCasesWhatFitsTheAnsiCodePage) {
  RecordingWidePlatform platform;
  WidePlatformScope scope(&platform, false);
  auto asValue = [](char16_t c) { return reinterpret_cast<char16_t*>(static_cast<std::uintptr_t>(c)); };
  auto asUnit = [](char16_t* v) { return static_cast<char16_t>(reinterpret_cast<std::uintptr_t>(v)); };
  EXPECT_EQ(asUnit(CharUpperWide(asValue(u'a'))), u'A');
  EXPECT_EQ(asUnit(CharUpperWide(asValue(u'\u00E9'))), u'\u00C9');
  EXPECT_EQ(platform.calls.size(), 2u);
  platform.calls.clear();
  EXPECT_EQ(asUnit(CharUpperWide(asValue(u'\u0436'))), u'\u0436');  // not in the ANSI code page
  EXPECT_TRUE(platform.calls.empty());

  char16_t text[] = u"ab\u00E9\u0436";
  EXPECT_EQ(CharUpperWide(text), text);
  EXPECT_EQ(WideString(text), u"AB\u00C9\u0436");

  char16_t buff[] = u"abc";
  EXPECT_EQ(CharUpperBuffWide(buff, 2), 2u);
  EXPECT_EQ(WideString(buff), u"ABc");
  EXPECT_EQ(UpperCaseWide(u"x\u00FFy"), u"X\u0178Y");
}

TEST(Wrappers, The9xLineCopiesTheWidenedModuleName) {
  RecordingWidePlatform platform;
  platform.moduleAnsi = "C:\\a\\\xE9.exe";  // 10 bytes
  WidePlatformScope scope(&platform, false);
  const struct {
    unsigned size, result;
    std::u16string text;
    bool terminated;
  } cases[] = {
      {11, 10, u"C:\\a\\\u00E9.exe", true},
      {10, 10, u"C:\\a\\\u00E9.exe", false},
      {4, 4, u"C:\\a", false},
      {0, 0, u"", false},
  };
  for (const auto& c : cases) {
    char16_t buffer[16];
    for (auto& u : buffer) u = u'#';
    EXPECT_EQ(GetModuleFileNameWide(nullptr, buffer, c.size), c.result) << c.size;
    EXPECT_EQ(WideString(buffer, c.result), c.text) << c.size;
    EXPECT_EQ(buffer[c.result], c.terminated ? u'\0' : u'#') << c.size;
  }
  EXPECT_EQ(platform.calls.front(), "GetModuleFileNameA 260");
  EXPECT_EQ(ModuleFileNameWide(nullptr), u"C:\\a\\\u00E9.exe");

  platform.failWithError = 2;
  char16_t buffer[4] = {u'#', u'#', u'#', u'#'};
  EXPECT_EQ(GetModuleFileNameWide(nullptr, buffer, 4), 0u);
  EXPECT_EQ(platform.LastError(), 2u);
  EXPECT_THROW(ModuleFileNameWide(nullptr), EOSError);
}

// --- WideString properties by their property information -------------------------------------

class TWideHolder : public TObject {
  FW_CLASS(TWideHolder, TObject)
 public:
  WideString Text;
  WideString GetShown() const { return u"[" + Text + u"]"; }
  void SetShown(const WideString& v) { Text = v.substr(1); }
  int Count = 0;
  WideString GetFixed() const { return u"fixed"; }
};

}  // namespace

FW_BEGIN_CLASS(TWideHolder)
  FW_PROP(Text, Text, Text)
  FW_PROP(Shown, GetShown, SetShown)
  FW_PROP(Count, Count, Count)
  FW_PROP_RO(Fixed, GetFixed)
FW_END_CLASS

namespace {

TEST(WideStringProperty, GoesThroughTheFieldOrTheAccessors) {
  TWideHolder h;
  const PropInfo* text = GetPropInfo(&h, "Text");
  const PropInfo* shown = GetPropInfo(&h, "Shown");
  SetWideStringProperty(&h, *text, u"\u0416");
  EXPECT_EQ(h.Text, u"\u0416");
  EXPECT_EQ(GetWideStringProperty(&h, *shown), u"[\u0416]");
  SetWideStringProperty(&h, *shown, u"x\u0434");
  EXPECT_EQ(h.Text, u"\u0434");
  EXPECT_EQ(GetWideStringProperty(&h, *GetPropInfo(&h, "Fixed")), u"fixed");
  EXPECT_THROW(SetWideStringProperty(&h, *GetPropInfo(&h, "Fixed"), u"x"), EPropertyError);
  EXPECT_THROW(GetWideStringProperty(&h, *GetPropInfo(&h, "Count")), EPropertyError);
}

}  // namespace
