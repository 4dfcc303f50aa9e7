#include "FontCharsets.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

TEST(FontCharsets, EveryNamedCharsetHasTheSystemsCodePage) {
  const struct {
    const char* ident;
    std::uint32_t codePage;
  } cases[] = {
      {"ANSI_CHARSET", 1252},    {"DEFAULT_CHARSET", 0},    {"SYMBOL_CHARSET", 0},
      {"MAC_CHARSET", 10000},    {"SHIFTJIS_CHARSET", 932}, {"HANGEUL_CHARSET", 949},
      {"JOHAB_CHARSET", 1361},   {"GB2312_CHARSET", 936},   {"CHINESEBIG5_CHARSET", 950},
      {"GREEK_CHARSET", 1253},   {"TURKISH_CHARSET", 1254}, {"VIETNAMESE_CHARSET", 1258},
      {"HEBREW_CHARSET", 1255},  {"ARABIC_CHARSET", 1256},  {"BALTIC_CHARSET", 1257},
      {"RUSSIAN_CHARSET", 1251}, {"THAI_CHARSET", 874},     {"EASTEUROPE_CHARSET", 1250},
      {"OEM_CHARSET", 0},
  };
  for (const auto& c : cases) {
    std::int64_t charset = -1;
    ASSERT_TRUE(IdentToCharset(c.ident, charset)) << c.ident;
    EXPECT_EQ(CodePageOfCharset(charset), c.codePage) << c.ident;
  }
  // Values without a name (and outside a byte) name no code page.
  for (std::int64_t charset = -1; charset <= 256; ++charset) {
    std::string ident;
    if (!CharsetToIdent(charset, ident)) {
      EXPECT_EQ(CodePageOfCharset(charset), 0u) << charset;
    }
  }
}

TEST(FontCharsets, OnlyAForeignCodePageOnTheNTLineTakesTheWideRoad) {
  const struct {
    std::int64_t charset;
    std::uint32_t system;
    bool nt;
    std::uint32_t expected;
  } cases[] = {
      {204, 1252, true, 1251},  // Russian under an English system
      {204, 1251, true, 0},     // Russian under a Russian system: the system's road is right
      {204, 1252, false, 0},    // the 9x line: the font's charset picks the glyphs
      {0, 1251, true, 1252},    // Western texts under a Russian system
      {0, 1252, true, 0},       //
      {238, 1252, true, 1250},  // Romanian under an English system
      {1, 1252, true, 0},       // DEFAULT_CHARSET: the system's
      {255, 1251, true, 0},     // OEM_CHARSET: the system's
      {2, 1252, true, 0},       // SYMBOL_CHARSET has no code page of characters
      {128, 1252, true, 932},   // a double-byte one
      {123, 1252, true, 0},     // no such charset
  };
  for (const auto& c : cases)
    EXPECT_EQ(ForeignTextCodePage(c.charset, c.system, c.nt), c.expected)
        << c.charset << " under " << c.system << (c.nt ? " (NT)" : " (9x)");
}
