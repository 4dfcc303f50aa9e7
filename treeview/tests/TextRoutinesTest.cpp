// Shortening and line splitting of wide text, and the growing text buffers.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "VirtualTrees.h"

namespace {

// Every character 10 pixels wide; '.' 3 pixels (so "..." is 9), 'W' 20.
int FixedWidth(std::u16string_view text) {
  int w = 0;
  for (char16_t c : text) w += c == u'.' ? 3 : c == u'W' ? 20 : 10;
  return w;
}

TEST(ShortenWideText, CutsToTheWidthWithTheEllipsis) {
  struct Case {
    std::u16string text;
    int width;
    int ellipsisWidth;
    bool inFront;
    std::u16string expected;
  } cases[] = {
      {u"abcdefgh", 50, 0, false, u"abcd..."},  // the search ends at 5 chars: one less is kept
      {u"abcdefgh", 49, 0, false, u"abcd..."},  // exactly the width counts as fitting
      {u"abcdefgh", 48, 0, false, u"ab..."},    // the search ends at 3: the result stays on the safe side
      {u"abcdefgh", 50, 0, true, u"...abcd"},
      {u"abcdefgh", 35, 20, false, u"a..."},  // a given ellipsis width
      {u"abc", 1000, 0, false, u"ab..."},     // fits as a whole and is still cut
      {u"a", 1000, 0, false, u"..."},
      {u"aWa", 40, 0, false, u"aW..."},  // wide characters: "aW" + 9 = 39
      {u"abcdefgh", 9, 0, false, u""},   // the ellipsis alone does not fit (not below the width)
      {u"abcdefgh", 10, 0, false, u"..."},
      {u"abcdefgh", 30, 40, false, u""},  // an ellipsis wider than the space
      {u"", 100, 0, false, u""},
      {u"abc", 0, 0, false, u""},
      {u"abc", -5, 0, false, u""},
  };
  for (const Case& c : cases) {
    const std::u16string got = ShortenWideText(FixedWidth, c.text, c.width, c.ellipsisWidth, c.inFront);
    EXPECT_EQ(got, c.expected) << "width " << c.width << " ellipsis " << c.ellipsisWidth;
    if (!got.empty()) {
      EXPECT_LE(FixedWidth(got) - 9 + (c.ellipsisWidth ? c.ellipsisWidth : 9), c.width);
    }
  }
}

TEST(SplitWideTextLines, BreaksAtNulCrLfCrLfAndLineSeparator) {
  using Lines = std::vector<std::u16string>;
  struct Case {
    std::u16string text;
    Lines expected;
  } cases[] = {
      {u"one", {u"one"}},
      {u"a\rb", {u"a", u"b"}},
      {u"a\nb", {u"a", u"b"}},
      {u"a\r\nb", {u"a", u"b"}},
      {u"a\n\rb", {u"a", u"", u"b"}},
      {u"a\r\n\r\nb", {u"a", u"", u"b"}},
      {std::u16string(u"a\0b", 3), {u"a", u"b"}},
      {u"a\u2028b\u2028c", {u"a", u"b", u"c"}},
      {u"a\u2029b", {u"a\u2029b"}},  // a paragraph separator is no break
      {u"end\r\n", {u"end"}},
      {u"\nstart", {u"", u"start"}},
      {u"\r", {u""}},
      {u"", {}},
  };
  for (const Case& c : cases) {
    Lines got;
    for (std::u16string_view l : SplitWideTextLines(c.text)) got.emplace_back(l);
    EXPECT_EQ(got, c.expected) << got.size() << " lines";
  }
}

template <class Buffer, class Char>
void CheckBuffer(std::size_t step) {
  Buffer buffer;
  EXPECT_EQ(buffer.Capacity(), 0u);
  EXPECT_TRUE(buffer.ExtractText().empty());
  std::basic_string<Char> expected;
  const std::size_t sizes[] = {1, 4095, 1, 1 << 20, 0, step - 1, step, step + 1, 3};
  Char fill = Char('a');
  for (std::size_t n : sizes) {
    const std::basic_string<Char> piece(n, fill);
    fill = fill == Char('z') ? Char('a') : Char(fill + 1);
    buffer.AppendText(piece);
    expected += piece;
    buffer.AppendLineBreak();
    expected += Char('\r');
    expected += Char('\n');
    ASSERT_EQ(buffer.Length(), expected.size());
    ASSERT_GE(buffer.Capacity(), buffer.Length());
  }
  EXPECT_EQ(buffer.ExtractText(), expected);
  // Growth at least doubles: far fewer blocks than steps for the megabyte.
  EXPECT_LT(buffer.Capacity(), 4 * expected.size());
}

TEST(TextBuffers, AppendsOfAnySizeKeepEveryByteInOrder) {
  CheckBuffer<TBufferedString, char>(4096);
  CheckBuffer<TWideBufferedString, char16_t>(4096);
}

TEST(TextBuffers, OnlyLineBreaksAndEmptyTexts) {
  TWideBufferedString wide;
  wide.AppendText(u"");
  EXPECT_EQ(wide.Capacity(), 0u) << "nothing appended, no block";
  for (int i = 0; i < 5000; ++i) wide.AppendLineBreak();
  std::u16string breaks;
  for (int i = 0; i < 5000; ++i) breaks += u"\r\n";
  EXPECT_EQ(wide.ExtractText(), breaks);
}

}  // namespace
