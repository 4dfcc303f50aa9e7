#include "ByteWriter.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "ByteReader.h"

namespace {

// True when the writer's 16-bit field accepts a run-time value of type V as it is.
template <class V>
concept Takes16 = requires(ByteWriter& w, V v) {
  w.U16LE(v);
};
template <class V>
concept Takes32 = requires(ByteWriter& w, V v) {
  w.U32BE(v);
};
template <class V>
concept Patches16 = requires(ByteWriter& w, V v) {
  w.U16LEAt(0, v);
};

}  // namespace

TEST(ByteWriter, WritesBothByteOrdersAsTheReaderReadsThem) {
  std::string out = "x";
  ByteWriter w(out);
  w.U8(0x01);
  w.U16LE(0x0302);
  w.U16BE(0x0405);
  w.U32LE(0x09080706u);
  w.U32BE(0x0A0B0C0Du);
  w.U64LE(0x1112131415161718ull);
  w.WideLE(u"\u0416A");
  w.Bytes("ok");
  w.Zeros(2);
  EXPECT_EQ(w.Size(), out.size());
  EXPECT_EQ(out, std::string("x\x01\x02\x03\x04\x05\x06\x07\x08\x09\x0A\x0B\x0C\x0D"
                             "\x18\x17\x16\x15\x14\x13\x12\x11\x16\x04\x41\x00ok\0\0",
                             30));

  ByteReader r(out);
  r.Skip(1);
  EXPECT_EQ(r.U8(), 0x01);
  EXPECT_EQ(r.U16LE(), 0x0302);
  EXPECT_EQ(r.U16BE(), 0x0405);
  EXPECT_EQ(r.U32LE(), 0x09080706u);
  EXPECT_EQ(r.U32BE(), 0x0A0B0C0Du);
  EXPECT_EQ(r.U64LE(), 0x1112131415161718ull);
}

TEST(ByteWriter, PatchesBytesWrittenBefore) {
  std::string out(8, '\0');
  ByteWriter w(out);
  w.U16LEAt(0, 0xBEEF);
  w.U16BEAt(2, 0xBEEF);
  w.U32LEAt(4, 0x01020304u);
  EXPECT_EQ(out, std::string("\xEF\xBE\xBE\xEF\x04\x03\x02\x01", 8));
  w.U32BEAt(4, 0x01020304u);
  w.U8At(0, 0x7F);
  w.BytesAt(1, "ab");
  EXPECT_EQ(out, std::string("\x7F"
                             "ab\xEF\x01\x02\x03\x04",
                             8));
  w.U16LE(0xFFFF);  // the end moves; the last bytes can be patched now
  w.U16LEAt(8, 0x1234);
  EXPECT_EQ(out.substr(8), "\x34\x12");
}

TEST(ByteWriter, NeverPatchesPastTheWrittenBytes) {
  std::string out(6, 'z');
  ByteWriter w(out);
  EXPECT_THROW(w.U32LEAt(3, 1u), EByteRange);
  EXPECT_THROW(w.U16BEAt(5, 1), EByteRange);
  EXPECT_THROW(w.U8At(6, 1), EByteRange);
  EXPECT_THROW(w.U16LEAt(SIZE_MAX, 1), EByteRange) << "offset + width must not wrap around";
  EXPECT_THROW(w.BytesAt(4, "abc"), EByteRange);
  EXPECT_EQ(out, "zzzzzz") << "a refused patch writes nothing";
  w.BytesAt(6, "");  // nothing at the end is inside
}

TEST(ByteWriter, FieldsTakeValuesOfTheirOwnWidth) {
  // Narrower or equal unsigned types go in whole.
  static_assert(Takes16<std::uint8_t>);
  static_assert(Takes16<std::uint16_t>);
  static_assert(Takes16<char16_t>);
  static_assert(Takes32<std::uint16_t>);
  static_assert(Takes32<std::uint32_t>);
  static_assert(Patches16<std::uint16_t>);
  // A wider or signed run-time value must be narrowed by the caller.
  static_assert(!Takes16<std::uint32_t>);
  static_assert(!Takes16<std::uint64_t>);
  static_assert(!Takes16<std::size_t>);
  static_assert(!Takes16<std::int16_t>);
  static_assert(!Takes16<bool>);
  static_assert(!Takes32<std::uint64_t>);
  static_assert(!Takes32<std::int64_t>);
  static_assert(!Patches16<std::uint32_t>);

  // Constants that fit are taken as they are, with their full value.
  std::string out;
  ByteWriter w(out);
  w.U16LE(0xFFFF);
  w.U32LE(0x7FFFFFFF);
  w.U8(255);
  EXPECT_EQ(out, std::string("\xFF\xFF\xFF\xFF\xFF\x7F\xFF", 7));
}
