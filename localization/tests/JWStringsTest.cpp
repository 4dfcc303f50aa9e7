#include "JWStrings.h"

#include <gtest/gtest.h>

#include "LocaleServices.h"

TEST(JWStrings, HasNonSymbolChars) {
  struct Case {
    const char16_t* text;
    bool expected;
  } cases[] = {{u"", false}, {u"12-!", false},  {u"12 3", true}, {u"[]{}~@", false},
               {u"a", true}, {u"\u00E9", true}, {u"\x7F", true}, {u"\t", true}};
  for (const auto& c : cases) EXPECT_EQ(HasNonSymbolChars(c.text), c.expected);
}

TEST(JWStrings, TestWinVersion) {
  struct Case {
    std::uint32_t major, minor;
    bool expected50;
  } cases[] = {{5, 0, true}, {5, 1, true}, {4, 0, false}, {6, 0, true}, {4, 90, false}};
  for (const auto& c : cases) {
    TPlatformInfo info;
    info.majorVersion = c.major;
    info.minorVersion = c.minor;
    EXPECT_EQ(TestWinVersion(info, 5, 0), c.expected50) << c.major << "." << c.minor;
  }
  TPlatformInfo xp;
  xp.majorVersion = 5;
  xp.minorVersion = 1;
  EXPECT_FALSE(TestWinVersion(xp, 5, 2));
}

TEST(JWStrings, CompareWideTextOnTheTable) {
  TTableLocaleServices table;
  TLocaleServices* previous = SetLocaleServices(&table);
  EXPECT_NE(CompareWideCase(u"a", u"A"), 0);
  EXPECT_EQ(CompareWideText(u"a", u"A", true), 0);
  EXPECT_EQ(CompareWideText(u"abc", u"abd", true), -1);
  EXPECT_EQ(CompareWideText(u"ab", u"a", false), 1);
  SetLocaleServices(previous);
}
