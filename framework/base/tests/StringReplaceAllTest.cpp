#include <gtest/gtest.h>

#include "SysUtils.h"

TEST(StringReplaceAll, ReplacesEveryOccurrenceOnce) {
  struct Case {
    const char *s, *from, *to, *result;
  };
  const Case cases[] = {
      {"1=COM1 (COM1)", "COM", "", "1=1 (1)"},
      {"aaa", "aa", "b", "ba"},    // left to right, no overlaps
      {"abc", "b", "bb", "abbc"},  // inserted text is not searched again
      {"COMCOM", "COM", "x", "xx"},
      {"Com1", "COM", "x", "Com1"},  // case-sensitive
      {"", "a", "b", ""},
      {"abc", "", "x", "abc"},  // an empty pattern changes nothing
      {"abc", "abcd", "x", "abc"},
  };
  for (const Case& c : cases) EXPECT_EQ(StringReplaceAll(c.s, c.from, c.to), c.result) << c.s;
  // Bytes, not C strings: a zero byte is an ordinary character.
  EXPECT_EQ(StringReplaceAll(std::string_view("a\0b\0b", 5), std::string_view("\0b", 2), "-"), "a--");
}
