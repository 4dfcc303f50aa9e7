#include "JStrings.h"

#include <gtest/gtest.h>

TEST(JStrings, FindOccurrence) {
  struct Case {
    const char *sub, *text;
    int start, n, expected;
  } cases[] = {
      {"aa", "aaaa", 1, 1, 1}, {"aa", "aaaa", 1, 2, 2},  {"aa", "aaaa", 1, 3, 3}, {"aa", "aaaa", 1, 4, 0},
      {"aa", "aaaa", 0, 1, 1}, {"aa", "aaaa", -5, 2, 2}, {"aa", "aaaa", 3, 1, 3}, {"aa", "aaaa", 4, 1, 0},
      {"", "abc", 1, 1, 0},    {"a", "", 1, 1, 0},       {"c", "abc", 4, 1, 0},   {"b", "abcb", 3, 1, 4},
  };
  for (const auto& c : cases)
    EXPECT_EQ(FindOccurrence(c.sub, c.text, c.start, c.n), c.expected) << c.sub << " in " << c.text << " @" << c.start;
}

TEST(JStrings, SearchReplaceSplit) {
  EXPECT_EQ(FindTextNoCase("WORLD", "Hello world"), 7);
  EXPECT_EQ(FindTextNoCase("x", "Hello"), 0);
  EXPECT_EQ(SubstituteAllText("aaa", "aa", "b"), "ba");
  EXPECT_EQ(SubstituteAllText("a.b.c", ".", "::"), "a::b::c");
  EXPECT_EQ(SubstituteAllText("abc", "", "x"), "abc");
  EXPECT_EQ(TextBeforeDelimiter("(", "  English (United States)"), "English");
  EXPECT_EQ(TextBeforeDelimiter("(", "  English "), "  English ");
  std::string before = "x", after = "y";
  SplitAtSeparator("=", "key=va=lue", before, after);
  EXPECT_EQ(before, "key");
  EXPECT_EQ(after, "va=lue");
  SplitAtSeparator("=", "novalue", before, after);
  EXPECT_EQ(before, "");
  EXPECT_EQ(after, "");
  EXPECT_EQ(SpacesString(3), "   ");
  EXPECT_EQ(SpacesString(0), "");
  EXPECT_EQ(SpacesString(-2), "");
  EXPECT_TRUE(ContainsLetters("12a"));
  EXPECT_TRUE(ContainsLetters("1\xE9"));
  EXPECT_FALSE(ContainsLetters("12-!"));
  EXPECT_EQ(IndexOfTextNoCase(std::vector<std::string>{"One", "Two", "two"}, "TWO"), 1);
  EXPECT_EQ(IndexOfTextNoCase(std::vector<std::string>{"One"}, "Three"), -1);
  TStringList* list = New<TStringList>();
  list->Add("Deutsch");
  list->Add("English");
  EXPECT_EQ(IndexOfTextNoCase(*list, "ENGLISH"), 1);
  EXPECT_EQ(IndexOfTextNoCase(*list, "Russian"), -1);
  list->Free();
  EXPECT_TRUE(TextInList("ntv", {"exe", "NTV"}));
  EXPECT_FALSE(TextInList("deu", {"exe", "ntv"}));
}

TEST(JStrings, Numbers) {
  struct Case {
    const char* text;
    int expected;
  } ints[] = {{" 42 ", 42}, {"-7", -7}, {"", 0}, {"12a", 0}, {"99999999999", 0}, {"+5", 5}, {"0x10", 0}};
  for (const auto& c : ints) EXPECT_EQ(TextToIntOrZero(c.text), c.expected) << c.text;
  EXPECT_EQ(HexTextToInt("1aF"), 431u);
  EXPECT_EQ(HexTextToInt(""), 0u);
  EXPECT_EQ(HexTextToInt("00000409"), 0x409u);
  EXPECT_EQ(HexTextToInt("FFFFFFFF"), 0xFFFFFFFFu);
  EXPECT_EQ(HexTextToInt("100000001"), 1u);  // 32-bit arithmetic
  try {
    HexTextToInt("1G");
    FAIL() << "no error";
  } catch (const EJStringsError& e) {
    EXPECT_STREQ(e.what(), "G is not a hex digit");
  }
}

TEST(JStrings, Joins) {
  struct Case {
    const char *a, *b, *expected;
  } paths[] = {{"C:\\dir\\", "\\file", "C:\\dir\\file"},
               {"C:\\dir", "file", "C:\\dir\\file"},
               {"C:\\dir\\", "file", "C:\\dir\\file"},
               {"C:\\dir", "\\file", "C:\\dir\\file"},
               {"", "file", "file"},
               {"dir", "", "dir"}};
  for (const auto& c : paths) EXPECT_EQ(ConcatPath(c.a, c.b), c.expected);
  EXPECT_EQ(JoinWithDot("Form1", "Caption"), "Form1.Caption");
  EXPECT_EQ(JoinWithDot("", "Caption"), "Caption");
  EXPECT_EQ(JoinWithDot("Form1", ""), "Form1");
}

TEST(JStrings, QuoteFormString) {
  struct Case {
    const char* text;
    const char* expected;
  } cases[] = {
      {"It's\r\n", "'It''s'#13#10"}, {"", "''"}, {"a\tb", "'a'#9'b'"}, {"\x01x", "''#1'x'"}, {"plain", "'plain'"},
  };
  for (const auto& c : cases) EXPECT_EQ(QuoteFormString(c.text, '\''), c.expected) << c.text;
}

TEST(JStrings, Wildcards) {
  struct Case {
    const char *text, *mask;
    bool caseSensitive, expected;
  } cases[] = {
      {"", "", true, true},
      {"anything", "*", true, true},
      {"", "*", true, true},
      {"Lang1.ext", "Lang?.*", true, true},
      {"LANG1.ext", "lang?.*", false, true},
      {"LANG1.ext", "lang?.*", true, false},
      {"Lang12.ext", "Lang?.*", true, false},
      {"ab", "a?", true, true},
      {"a", "a?", true, true},
      {"abc", "a?", true, false},
      {"b", "a?", true, false},
      {"file.lng", "*.lng", true, true},
      {"file.lng.bak", "*.lng", true, false},
      {"x.lng.lng", "*.lng", true, true},
      {"xxholdxx", "*hold*", true, true},
      {"xxhelpxx", "*hold*", true, false},
      {"abc", "*?", true, false},
      {"abc", "a**", true, false},
      {"abc", "abc", true, true},
      {"abcd", "abc", true, false},
      {"abc", "a*c", true, true},
      {"abcbc", "a*bc", true, true},
  };
  for (const auto& c : cases)
    EXPECT_EQ(MatchWildcard(c.text, c.mask, c.caseSensitive), c.expected) << c.text << " ~ " << c.mask;
}
