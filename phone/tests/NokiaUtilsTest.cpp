#include "NokiaUtils.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "SerialPorts.h"

TEST(NokiaUtils, RemoveChar) {
  EXPECT_EQ(RemoveChar(".NOL", '.'), "NOL");
  EXPECT_EQ(RemoveChar("a.b.c.", '.'), "abc");
  EXPECT_EQ(RemoveChar("", '.'), "");
  EXPECT_EQ(RemoveChar("...", '.'), "");
}

TEST(NokiaUtils, ReplaceSubstring) {
  struct Case {
    const char *s, *oldPattern, *newPattern, *result;
  };
  const Case cases[] = {
      {"1=COM1 (COM1)", "COM", "", "1=1 (1)"},
      {"aaa", "aa", "b", "ba"},
      {"abc", "b", "bb", "abbc"},  // inserted text is not searched again
      {"COMCOM", "COM", "x", "xx"},
      {"Com1", "COM", "x", "Com1"},  // case-sensitive
      {"", "a", "b", ""},
      {"abc", "", "x", ""},  // no pattern: nothing is left
      {"abc", "abcd", "x", "abc"},
  };
  for (const Case& c : cases) EXPECT_EQ(ReplaceSubstring(c.s, c.oldPattern, c.newPattern), c.result) << c.s;
}

TEST(NokiaUtils, TrimBlanksOnly) {
  EXPECT_EQ(TrimSpaces("  x\t "), "x\t");
  EXPECT_EQ(TrimLeftSpaces("  x "), "x ");
  EXPECT_EQ(TrimRightSpaces("  x "), "  x");
  EXPECT_EQ(TrimLeftSpaces("\t x"), "\t x");
  EXPECT_EQ(TrimSpaces("   "), "");
  EXPECT_EQ(TrimSpaces(""), "");
}

TEST(NokiaUtils, ExtractNthField) {
  struct Case {
    int index;
    const char *s, *separator, *result;
  };
  const Case cases[] = {
      {1, "a=b", "=", "a"},  {2, "a=b", "=", "b"},      {3, "a=b", "=", ""},   {2, "a=", "=", ""},
      {0, "a=b", "=", ""},   {-1, "a=b", "=", ""},      {1, "", "=", ""},      {2, "a==c", "=", ""},
      {3, "a==c", "=", "c"}, {2, "x::y::z", "::", "y"}, {1, "abc", "", "abc"}, {2, "abc", "", ""},
      {1, "=b", "=", ""},    {2, "=b", "=", "b"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ExtractNthField(c.index, c.s, c.separator), c.result) << c.index << " " << c.s << " " << c.separator;
  }
}

TEST(NokiaUtils, IsProductCode) {
  EXPECT_TRUE(IsProductCode("RM-123"));
  EXPECT_TRUE(IsProductCode("NPE-4"));
  EXPECT_FALSE(IsProductCode("6310i"));
  EXPECT_FALSE(IsProductCode("0"));
  EXPECT_FALSE(IsProductCode(""));
}

TEST(NokiaUtils, ClassifyLocale) {
  struct Case {
    std::uint32_t user, system;
    int result;
  };
  const Case cases[] = {
      {0x0804, 0x0419, 3}, {0x0409, 0x1004, 0},     {0x0408, 0x0419, 2}, {0x0419, 0x0409, 1},
      {0x0409, 0x0409, 0}, {0x0409, 0x0404, 3},     {0x1004, 0x0409, 3}, {0x1004, 0x0804, 3},
      {0x0409, 0x1004, 0}, {0x00010419, 0x0409, 1},  // only the low 16 bits count
  };
  for (const Case& c : cases)
    EXPECT_EQ(ClassifyLocaleIds(c.user, c.system), c.result) << std::hex << c.user << " " << c.system;
}

// --- Locales -------------------------------------------------------------------------------------

namespace {

// Scripted answers of the system, with a record of what was asked.
class TFakeLocaleCalls : public TLocaleCalls {
 public:
  std::map<std::uint32_t, std::string> codePageTexts;
  std::uint32_t ansiCodePage = 1252;
  std::uint32_t userLcid = 0x0409, systemLcid = 0x0409;
  // Conversion: each unit becomes "<code page>:<unit>" in decimal; a unit of
  // 0xFFFF cannot be converted.
  std::vector<std::uint32_t> convertedWith;
  int ansiResult = 2, wideResult = 2;
  std::string lastA, lastB;
  std::uint32_t lastLocale = 0;

  std::string DefaultAnsiCodePageText(std::uint32_t locale) override {
    auto it = codePageTexts.find(locale);
    return it == codePageTexts.end() ? std::string() : it->second;
  }
  std::uint32_t AnsiCodePage() override { return ansiCodePage; }
  bool WideToAnsi(std::uint32_t codePage, std::u16string_view text, std::string& out) override {
    convertedWith.push_back(codePage);
    out.clear();
    for (char16_t c : text) {
      if (c == 0xFFFF) return false;
      out += std::to_string(codePage) + ":" + std::to_string(static_cast<unsigned>(c)) + " ";
    }
    return true;
  }
  int CompareAnsiIgnoreCase(std::uint32_t locale, std::string_view a, std::string_view b) override {
    lastLocale = locale;
    lastA = a;
    lastB = b;
    return ansiResult;
  }
  int CompareWideIgnoreCase(std::uint32_t locale, std::u16string_view, std::u16string_view) override {
    lastLocale = locale;
    return wideResult;
  }
  std::uint32_t UserDefaultLcid() override { return userLcid; }
  std::uint32_t SystemDefaultLcid() override { return systemLcid; }
};

class NokiaLocales : public ::testing::Test {
 protected:
  void SetUp() override { previous_ = SetLocaleCalls(&calls); }
  void TearDown() override {
    SetLocaleCalls(previous_);
    SetPlatformId(PlatformNT);
    WideTextCompare = CompareWideTextNative;
  }
  TFakeLocaleCalls calls;

 private:
  TLocaleCalls* previous_ = nullptr;
};

}  // namespace

TEST_F(NokiaLocales, LocaleCodePageIsTheLocalesDecimalTextOrTheSystemsCodePage) {
  calls.ansiCodePage = 874;
  const struct {
    const char* text;
    int codePage;
  } cases[] = {
      {"1251", 1251}, {"936", 936},  {"0", 0},    {"65001", 65001}, {"", 874},        {"abc", 874},
      {"12a", 874},   {" 866", 874}, {"-5", 874}, {"0x4E4", 874},   {"99999", 99999},
  };
  for (const auto& c : cases) {
    calls.codePageTexts[0x0419] = c.text;
    EXPECT_EQ(LocaleCodePage(0x0419), c.codePage) << '"' << c.text << '"';
  }
}

TEST_F(NokiaLocales, AnsiComparisonConvertsToTheLocalesCodePage) {
  calls.codePageTexts[0x0419] = "1251";
  const struct { int system, result; } cases[] = {{1, -1}, {2, 0}, {3, 1}, {0, -2}};
  for (const auto& c : cases) {
    calls.ansiResult = c.system;
    calls.convertedWith.clear();
    EXPECT_EQ(CompareWideTextAnsi(u"ab", u"\u0430", 0x0419), c.result) << c.system;
    EXPECT_EQ(calls.convertedWith, (std::vector<std::uint32_t>{1251, 1251}));
    EXPECT_EQ(calls.lastLocale, 0x0419u);
    EXPECT_EQ(calls.lastA, "1251:97 1251:98 ") << "the whole text is compared";
    EXPECT_EQ(calls.lastB, "1251:1072 ");
  }
  // A text the code page cannot hold fails the comparison instead of
  // comparing what was left of it.
  calls.ansiResult = 2;
  EXPECT_EQ(CompareWideTextAnsi(u"a\uFFFF", u"a", 0x0419), -2);
  EXPECT_EQ(CompareWideTextAnsi(u"a", u"\uFFFF", 0x0419), -2);
}

TEST_F(NokiaLocales, NativeComparisonGivesTheSystemsResultMinusTwo) {
  const struct { int system, result; } cases[] = {{1, -1}, {2, 0}, {3, 1}, {0, -2}};
  for (const auto& c : cases) {
    calls.wideResult = c.system;
    EXPECT_EQ(CompareWideTextNative(u"a", u"B", 0x0408), c.result) << c.system;
    EXPECT_EQ(calls.lastLocale, 0x0408u);
  }
  EXPECT_TRUE(calls.convertedWith.empty());
}

TEST_F(NokiaLocales, TheComparisonIsChosenByThePlatformLineAtStartUp) {
  EXPECT_EQ(WideTextCompareFor(PlatformNT), &CompareWideTextNative);
  EXPECT_EQ(WideTextCompareFor(PlatformWin9x), &CompareWideTextAnsi);
  EXPECT_EQ(WideTextCompareFor(0), &CompareWideTextAnsi);
  EXPECT_EQ(WideTextCompare, &CompareWideTextNative) << "the NT line's until the unit starts";
  SetPlatformId(PlatformWin9x);
  InitNokiaUtils();
  EXPECT_EQ(WideTextCompare, &CompareWideTextAnsi);
  SetPlatformId(PlatformNT);
  InitNokiaUtils();
  EXPECT_EQ(WideTextCompare, &CompareWideTextNative);
}

TEST_F(NokiaLocales, ClassifyLocaleReadsTheUsersAndTheSystemsLocale) {
  const struct {
    std::uint32_t user, system;
    int result;
  } cases[] = {{0x0804, 0x0419, 3}, {0x0409, 0x1004, 0}, {0x0408, 0x0419, 2}, {0x0409, 0x0419, 1}};
  for (const auto& c : cases) {
    calls.userLcid = c.user;
    calls.systemLcid = c.system;
    EXPECT_EQ(ClassifyLocale(), c.result) << std::hex << c.user << " " << c.system;
  }
}

TEST(NokiaLocaleStandIn, KnowsEnglishWithCodePage1252) {
  TLocaleCalls* previous = SetLocaleCalls(nullptr);
  EXPECT_EQ(LocaleCodePage(0x0419), 1252);
  EXPECT_EQ(ClassifyLocale(), 0);
  EXPECT_EQ(CompareWideTextNative(u"abc", u"ABC", 0x0409), 0);
  EXPECT_EQ(CompareWideTextNative(u"abc", u"ABD", 0x0409), -1);
  EXPECT_EQ(CompareWideTextNative(u"b", u"A", 0x0409), 1);
  EXPECT_EQ(CompareWideTextAnsi(u"ab", u"ABC", 0x0409), -1);
  EXPECT_EQ(CompareWideTextAnsi(u"\u00E9", u"\u00E9", 0x0409), 0);
  SetLocaleCalls(previous);
}
