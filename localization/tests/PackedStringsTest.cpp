#include "PackedStrings.h"

#include <gtest/gtest.h>

#include "Exceptions.h"
#include "TestBytes.h"

TEST(PackedStrings, LengthEncodings) {
  struct Case {
    std::uint32_t length;
    int format;
    const char* hex;
  } cases[] = {
      {0, 6, "00"},
      {127, 6, "7F"},
      {128, 6, "80 01"},
      {16383, 6, "FF 7F"},
      {16384, 6, "80 80 01 00"},
      {0x3FFFFFFF, 6, "FF FF FF FF"},
      {0x12345, 7, "C5 C6 04 00"},
      {127, 5, "7F 00"},
      {128, 5, "80 00"},
      {16383, 5, "FF 3F"},
      {16384, 5, "00 40"},
      {0xFFFF, 1, "FF FF"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.length);
    std::string out;
    WritePackedLength(out, c.length, c.format);
    EXPECT_EQ(ToHex(out), c.hex);
    EXPECT_EQ(out.size(), PackedLengthSize(c.length, c.format));
    ByteReader r(out);
    EXPECT_EQ(ReadPackedLength(r, c.format), c.length);
    EXPECT_TRUE(r.AtEnd());
  }
}

TEST(PackedStrings, LengthsThatDoNotFitAreRefused) {
  std::string out;
  EXPECT_THROW(WritePackedLength(out, 0x10000, 5), EWriteError);
  EXPECT_THROW(WritePackedLength(out, 0x40000000, 6), EWriteError);
  EXPECT_TRUE(out.empty());
}

TEST(PackedStrings, RoundTrips) {
  const std::string ansi[] = {
      "", "a", std::string(127, 'x'), std::string(128, 'y'), std::string(20000, 'z'), std::string("nul\0inside", 10)};
  const std::u16string wide[] = {u"", u"\u05D0\u05D1", std::u16string(200, u'\u0416'), std::u16string(17000, u'w')};
  for (int format : {1, 5, 6, 7}) {
    for (const auto& s : ansi) {
      std::string out;
      WritePackedAnsiString(out, s, format);
      ByteReader r(out);
      EXPECT_EQ(ReadPackedAnsiString(r, format), s);
      EXPECT_TRUE(r.AtEnd());
    }
    for (const auto& s : wide) {
      std::string out;
      WritePackedWideString(out, s, format);
      ByteReader r(out);
      EXPECT_EQ(ReadResourceWideString(format, r), s);
      EXPECT_TRUE(r.AtEnd());
    }
  }
  std::string out;
  WritePackedWideString(out, u"ab", 6);
  EXPECT_EQ(ToHex(out), "02 61 00 62 00");
}

TEST(PackedStrings, LyingLengthsAreRejected) {
  struct Case {
    const char* name;
    std::string bytes;
    int format;
    bool wide;
  } cases[] = {
      {"short length",
       std::string("\x05"
                   "abc",
                   4),
       6, false},
      {"huge 4-byte length",
       std::string("\xFF\xFF\xFF\xFF"
                   "abc",
                   7),
       6, false},
      {"huge wide length",
       std::string("\xFF\xFF\xFF\x3F"
                   "ab",
                   6),
       6, true},
      {"odd wide bytes",
       std::string("\x02"
                   "abc",
                   4),
       6, true},
      {"cut length", std::string("\x80", 1), 6, false},
      {"cut 4-byte length", std::string("\x80\x80\x01", 3), 6, false},
      {"cut 16-bit length", std::string("\x01", 1), 5, false},
      {"16-bit length past end",
       std::string("\xFF\xFF"
                   "a",
                   3),
       5, false},
      {"empty", std::string(), 6, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ByteReader r(c.bytes);
    if (c.wide)
      EXPECT_THROW(ReadPackedWideString(r, c.format), EReadError);
    else
      EXPECT_THROW(ReadPackedAnsiString(r, c.format), EReadError);
  }
}
