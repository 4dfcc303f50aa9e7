#include <gtest/gtest.h>

#include "JLocales.h"
#include "JWStrings.h"
#include "Modules.h"
#include "ResStrings.h"
#include "WinLocaleServices.h"
#include "WinPlatform.h"

namespace {

class WinLocalesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    InstallWinLocaleServices();
    InitPlatformInfo();
  }
};

}  // namespace

TEST_F(WinLocalesTest, Abbreviations) {
  EXPECT_EQ(LocaleFileAbbreviation(0x407), "DEU");
  EXPECT_EQ(LocaleFileAbbreviation(9), "EN");
  EXPECT_EQ(LocaleFromAbbreviation("en"), 9u);
  EXPECT_EQ(LocaleFromAbbreviation("EN"), 9u);
  EXPECT_EQ(LocaleFromAbbreviation("deu"), 0x407u);
  EXPECT_EQ(LocaleFromAbbreviation("no such"), 0u);
}

TEST_F(WinLocalesTest, NamesAndLists) {
  EXPECT_EQ(LanguageNameFromTable(1033), "English (United States)");
  EXPECT_EQ(GetLocaleText(0x407, kLocaleSEnglishLanguage).substr(0, 6), "German");
  TLocaleNameList all, primaries;
  LocaleList(all, llmAll);
  LocaleList(primaries, llmWithPrimaries);
  EXPECT_GT(all.size(), 10u);
  EXPECT_GT(primaries.size(), all.size());
}

TEST_F(WinLocalesTest, RightToLeftAndCodePages) {
  EXPECT_TRUE(IsRightToLeftLocale(0x040D));   // Hebrew
  EXPECT_TRUE(IsRightToLeftLocale(0x0401));   // Arabic (Saudi Arabia)
  EXPECT_FALSE(IsRightToLeftLocale(0x0407));  // German
  EXPECT_EQ(DefaultCodePageOfLocale(0x0419), 1251u);
  EXPECT_EQ(CharsetOfLocale(0x0419), 204u);  // RUSSIAN_CHARSET
  EXPECT_EQ(AnsiToWideForLocale("\xC0\xE1", 0x0419), u"\u0410\u0431");
  EXPECT_EQ(WideToAnsiForLocale(u"\u0410\u0431", 0x0419), "\xC0\xE1");
  std::string key;
  EXPECT_GT(MakeSortKey("Hello", 0x409, key), 0);
}

TEST_F(WinLocalesTest, PlatformAndComparison) {
  EXPECT_TRUE(TestWinVersion(5, 0));
  EXPECT_NE(CompareWideCase(u"a", u"A"), 0);
  EXPECT_EQ(CompareWideText(u"a", u"A", true), 0);
  EXPECT_EQ(CompareWideText(u"a", u"b", false), -1);
  DWORD needed = 0;
  HMODULE modules[64];
  EXPECT_TRUE(PsapiEnumProcessModules(::GetCurrentProcess(), modules, sizeof modules, &needed));
  EXPECT_GT(needed, 0u);
}

TEST(WinPlatform, SystemErrors) {
  try {
    RaiseSystemError(ERROR_FILE_NOT_FOUND);
  } catch (const EOSError& e) {
    EXPECT_EQ(e.ErrorCode, static_cast<std::uint32_t>(ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(std::string(e.what()).rfind("System Error. Code: 2.\r\n", 0), 0u) << e.what();
  }
  try {
    RaiseSystemError(0);
  } catch (const EOSError& e) {
    EXPECT_STREQ(e.what(), "A call to an OS function failed");
  }
}

// Both texts are resource strings: a table that translates them gives the
// translation, with the code and the system's text in their places. Codes
// with the top bit set read as unsigned numbers.
TEST(WinPlatform, SystemErrorTextsComeFromTheStringTable) {
  try {
    RaiseSystemError(0xC0000005u);
  } catch (const EOSError& e) {
    EXPECT_EQ(std::string(e.what()).rfind("System Error. Code: 3221225477.\r\n", 0), 0u) << e.what();
  }

  std::u16string texts[16];
  texts[StringBlockIndex(SSystemErrorCode.id)] = u"Systemfehler %d: %s";
  texts[StringBlockIndex(SOSFunctionFailed.id)] = u"Ein Systemaufruf ist fehlgeschlagen";
  ASSERT_EQ(StringBlockId(SSystemErrorCode.id), StringBlockId(SOSFunctionFailed.id));
  MemoryResourceSource translated;
  translated.Add(FindResourceHInstance(MainInstance()), rtString, StringBlockId(SSystemErrorCode.id),
                 MakeStringBlock(texts, 16));
  struct TRestore {
    ResourceSource* previous = GetResourceSource();
    ~TRestore() { SetResourceSource(previous); }
  } restore;
  SetResourceSource(&translated);
  try {
    RaiseSystemError(ERROR_FILE_NOT_FOUND);
  } catch (const EOSError& e) {
    EXPECT_EQ(std::string(e.what()).rfind("Systemfehler 2: ", 0), 0u) << e.what();
    EXPECT_GT(std::string(e.what()).size(), std::string("Systemfehler 2: ").size()) << "the system's text follows";
  }
  try {
    RaiseSystemError(0);
  } catch (const EOSError& e) {
    EXPECT_STREQ(e.what(), "Ein Systemaufruf ist fehlgeschlagen");
  }
}
