#include "NokiaUtils.h"

#include <gtest/gtest.h>

TEST(NokiaUtils, RemoveChar) {
  EXPECT_EQ(RemoveChar(".NOL", '.'), "NOL");
  EXPECT_EQ(RemoveChar("a.b.c.", '.'), "abc");
  EXPECT_EQ(RemoveChar("", '.'), "");
  EXPECT_EQ(RemoveChar("...", '.'), "");
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
