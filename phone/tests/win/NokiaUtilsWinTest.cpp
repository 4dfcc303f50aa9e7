// The locale routines on the system's own calls.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "NokiaUtils.h"
#include "NokiaUtilsWin.h"
#include "SerialPorts.h"

namespace {

class NokiaLocalesWin : public ::testing::Test {
 protected:
  void SetUp() override { previous_ = SetLocaleCalls(&WinLocaleCalls()); }
  void TearDown() override { SetLocaleCalls(previous_); }

 private:
  TLocaleCalls* previous_ = nullptr;
};

TEST_F(NokiaLocalesWin, LocaleCodePageAsksTheSystem) {
  EXPECT_EQ(LocaleCodePage(0x0419), 1251);
  EXPECT_EQ(LocaleCodePage(0x0408), 1253);
  EXPECT_EQ(LocaleCodePage(0x0804), 936);
  EXPECT_EQ(LocaleCodePage(0x0409), 1252);
  // A locale the system does not know has no code page text: the system's.
  EXPECT_EQ(LocaleCodePage(0x7FFF), static_cast<int>(GetACP()));
}

TEST_F(NokiaLocalesWin, BothComparisonsIgnoreCaseInTheLocale) {
  const struct {
    const char16_t *a, *b;
    std::uint32_t locale;
    int result;
  } cases[] = {
      {u"abc", u"ABC", 0x0409, 0},
      {u"abc", u"ABD", 0x0409, -1},
      {u"b", u"A", 0x0409, 1},
      {u"", u"", 0x0409, 0},
      {u"", u"a", 0x0409, -1},
      {u"\u043F\u0440\u0438\u0432\u0435\u0442", u"\u041F\u0420\u0418\u0412\u0415\u0422", 0x0419, 0},
      {u"\u03B1\u03B2", u"\u0391\u0392", 0x0408, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.locale));
    EXPECT_EQ(CompareWideTextNative(c.a, c.b, c.locale), c.result);
    EXPECT_EQ(CompareWideTextAnsi(c.a, c.b, c.locale), c.result);
  }
}

// In a double-byte code page every Chinese character takes two bytes: the
// texts are converted whole, so texts that differ only in their last
// character still differ.
TEST_F(NokiaLocalesWin, DoubleByteTextsAreConvertedWhole) {
  std::string bytes;
  ASSERT_TRUE(WinLocaleCalls().WideToAnsi(936, u"\u4E2D\u6587", bytes));
  EXPECT_EQ(bytes.size(), 4u);
  EXPECT_NE(CompareWideTextAnsi(u"\u4E2D\u6587", u"\u4E2D\u56FD", 0x0804), 0);
  EXPECT_EQ(CompareWideTextAnsi(u"\u4E2D\u6587", u"\u4E2D\u6587", 0x0804), 0);
  EXPECT_EQ(CompareWideTextAnsi(u"\u4E2D\u6587x", u"\u4E2D\u6587X", 0x0804), 0);
}

TEST_F(NokiaLocalesWin, ClassifyLocaleReadsTheSystemsDefaults) {
  EXPECT_EQ(ClassifyLocale(), ClassifyLocaleIds(GetUserDefaultLCID(), GetSystemDefaultLCID()));
}

TEST(NokiaUtilsWinUnit, StartUpInstallsTheSystemsCallsAndChoosesTheComparison) {
  TLocaleCalls* previous = SetLocaleCalls(nullptr);
  SetPlatformId(PlatformWin9x);
  InitNokiaUtilsWin();
  EXPECT_EQ(&LocaleCalls(), &WinLocaleCalls());
  EXPECT_EQ(WideTextCompare, &CompareWideTextAnsi);
  DoneNokiaUtilsWin();
  EXPECT_NE(&LocaleCalls(), &WinLocaleCalls()) << "the stand-in is back";

  SetPlatformId(PlatformNT);
  InitNokiaUtilsWin();
  EXPECT_EQ(WideTextCompare, &CompareWideTextNative);
  EXPECT_EQ(WideTextCompare(u"abc", u"ABC", 0x0409), 0);
  DoneNokiaUtilsWin();
  SetLocaleCalls(previous);
}

}  // namespace
