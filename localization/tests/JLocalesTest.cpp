#include "JLocales.h"

#include <gtest/gtest.h>

#include "LocaleServices.h"

namespace {

// Runs each test on the locale table, whatever services the platform installed.
class JLocalesTest : public ::testing::Test {
 protected:
  void SetUp() override { previous_ = SetLocaleServices(&table_); }
  void TearDown() override { SetLocaleServices(previous_); }
  TTableLocaleServices table_;
  TLocaleServices* previous_ = nullptr;
};

// Answers the size query with one count and the fetch with another.
class TShiftyServices : public TTableLocaleServices {
 public:
  int QueryLocaleInfo(std::uint32_t locale, std::uint32_t lcType, char* buffer, int size) override {
    int n = TTableLocaleServices::QueryLocaleInfo(locale, lcType, buffer, size);
    return size == 0 ? n + 1 : n;
  }
};

}  // namespace

TEST_F(JLocalesTest, Names) {
  struct Case {
    std::uint16_t langId;
    const char* name;
  } cases[] = {
      {1033, "English (United States)"},
      {0x0407, "German (Germany)"},
      {0x500A, "Spanish (Puerto Rico)"},
      {0x0481, "Maori (MRI)"},  // outside the built-in table: the system's name with the abbreviation
      {0x0081, "Maori"},        // a bare primary language: the system's name alone
      {0x7FFF, " ()"},          // unknown everywhere
  };
  for (const auto& c : cases) EXPECT_EQ(LanguageNameFromTable(c.langId), c.name) << c.langId;
}

TEST_F(JLocalesTest, LocaleText) {
  EXPECT_EQ(GetLocaleText(0x0407, kLocaleSAbbrevLangName), "DEU");
  EXPECT_EQ(GetLocaleText(0x7FFF, kLocaleSAbbrevLangName), "");
  EXPECT_EQ(GetLocaleText(0x0407, 0x7777), "");
  TShiftyServices shifty;
  SetLocaleServices(&shifty);
  EXPECT_THROW(GetLocaleText(0x0407, kLocaleSAbbrevLangName), ELocalesError);
}

TEST_F(JLocalesTest, Abbreviations) {
  EXPECT_EQ(LocaleFileAbbreviation(0x0407), "DEU");
  EXPECT_EQ(LocaleFileAbbreviation(9), "EN");
  struct Case {
    const char* text;
    std::uint32_t locale;
  } cases[] = {{"en", 9}, {"EN", 9},       {"enu", 0x0409}, {"ENG", 0x0809}, {"deu", 0x0407},
               {"de", 7}, {"rus", 0x0419}, {"ru", 0},       {"xx", 0},       {"", 0}};
  for (const auto& c : cases) EXPECT_EQ(LocaleFromAbbreviation(c.text), c.locale) << c.text;
}

TEST_F(JLocalesTest, Lists) {
  TLocaleNameList all, one, primaries;
  LocaleList(all, llmAll);
  LocaleList(one, llmOnePerLanguage);
  LocaleList(primaries, llmWithPrimaries);
  // Japanese (code page 932) is not a valid code page in the table and is left out.
  for (const auto& e : all) EXPECT_NE(e.second, 0x0411u);
  ASSERT_EQ(all.size(), 16u);
  EXPECT_EQ(all[2], TLocaleListEntry("German (Germany)", 0x0407));

  auto find = [](const TLocaleNameList& l, std::uint32_t locale) {
    for (std::size_t i = 0; i < l.size(); ++i)
      if (l[i].second == locale) return static_cast<int>(i);
    return -1;
  };
  // One per language: English and German collapse into their primary languages.
  EXPECT_EQ(one.size(), all.size() - 3);
  ASSERT_GE(find(one, 9), 0);
  EXPECT_EQ(one[static_cast<std::size_t>(find(one, 9))].first, "English");
  EXPECT_EQ(one[static_cast<std::size_t>(find(one, 7))].first, "German");
  EXPECT_EQ(find(one, 0x0409), -1);
  EXPECT_EQ(one[static_cast<std::size_t>(find(one, 0x0419))].first, "Russian");
  // With primaries: each primary language sits just before its first locale.
  EXPECT_EQ(primaries.size(), all.size() + 2);
  EXPECT_EQ(find(primaries, 9) + 1, find(primaries, 0x0409));
  EXPECT_EQ(find(primaries, 7) + 1, find(primaries, 0x0407));
  EXPECT_EQ(primaries[static_cast<std::size_t>(find(primaries, 7))].first, "German");
  EXPECT_EQ(find(primaries, 0x19), -1);

  TOwned<TStringList> strings(New<TStringList>());
  strings->Add("old entry");
  LocaleList(*strings, llmWithPrimaries);
  ASSERT_EQ(strings->Count(), static_cast<int>(primaries.size()));
  for (int i = 0; i < strings->Count(); ++i) {
    EXPECT_EQ(strings->Strings(i), primaries[static_cast<std::size_t>(i)].first);
    EXPECT_EQ(LocaleOfListObject(strings->Objects(i)), primaries[static_cast<std::size_t>(i)].second);
  }
}

TEST_F(JLocalesTest, CodePagesAndConversions) {
  EXPECT_EQ(DefaultCodePageOfLocale(0x0419), 1251u);
  EXPECT_EQ(DefaultCodePageOfLocale(0x7FFF), 1252u);  // unknown: the ANSI code page
  EXPECT_EQ(CharsetOfLocale(0x0419), 204u);
  EXPECT_EQ(CharsetOfCodePage(1255), 177u);
  EXPECT_EQ(CharsetOfCodePage(932), 0u);  // unknown: the ANSI code page's charset
  EXPECT_EQ(AnsiToWideForLocale("\xC0\xE1", 0x0419), u"\u0410\u0431");
  EXPECT_EQ(WideToAnsiForLocale(u"\u0410\u0431", 0x0419), "\xC0\xE1");
  EXPECT_EQ(AnsiToWideForLocale("\x80", 0x0407), u"\u20AC");
  EXPECT_EQ(WideToAnsiForLocale(u"\u0410", 0x0407), "?");
  // An unknown code page falls back to the plain conversion.
  EXPECT_EQ(AnsiToWideCodePage("\xE9", 932), u"\u00E9");
  EXPECT_EQ(WideToAnsiCodePage(u"\u00E9\u4E00", 932), "\xE9?");
  EXPECT_EQ(AnsiToWideCodePage("", 1252), u"");
}

TEST_F(JLocalesTest, SortKeys) {
  std::string a, b;
  int na = MakeSortKey("Hello", 0x0409, a);
  int nb = MakeSortKey("HELLO", 0x0409, b);
  EXPECT_GT(na, 0);
  EXPECT_EQ(static_cast<std::size_t>(na), a.size());
  EXPECT_EQ(nb, na);
  EXPECT_EQ(a, b);
  EXPECT_EQ(MakeSortKey("Hello", 0x7FFF, a), 0);
  EXPECT_TRUE(a.empty());
}

TEST_F(JLocalesTest, RightToLeft) {
  struct Case {
    std::uint32_t locale;
    bool rtl;
  } cases[] = {{0x040D, true}, {0x0401, true}, {0x0407, false}, {0x0419, false}, {0x7FFF, false}};
  for (bool nt : {true, false}) {
    table_.SetNtPlatform(nt);
    for (const auto& c : cases) EXPECT_EQ(IsRightToLeftLocale(c.locale), c.rtl) << c.locale << " nt=" << nt;
  }
  table_.SetNtPlatform(false);
  EXPECT_TRUE(IsRightToLeftLocale(0x0429));  // Farsi by its primary language on the 9x line
}
