#include "ByteReader.h"

#include <gtest/gtest.h>

TEST(ByteReader, ReadsBothByteOrders) {
  const unsigned char data[] = {0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08, 0x09};
  ByteReader r(data, sizeof data);
  EXPECT_EQ(r.U8(), 0x01);
  EXPECT_EQ(r.U16LE(), 0x0302);
  EXPECT_EQ(r.U16BE(), 0x0405);
  EXPECT_EQ(r.U32LE(), 0x09080706u);
  EXPECT_TRUE(r.AtEnd());
  EXPECT_EQ(r.U32LEAt(0), 0x04030201u);
  EXPECT_EQ(r.U16BEAt(7), 0x0809);
}

TEST(ByteReader, NeverReadsPastTheData) {
  const unsigned char data[] = {0xFF, 0xFE, 0xFD};
  ByteReader r(data, sizeof data);
  EXPECT_THROW(r.U32LE(), EByteRange);
  EXPECT_EQ(r.Position(), 0u) << "a failed read must not move the position";
  EXPECT_THROW(r.Bytes(4), EByteRange);
  EXPECT_THROW(r.U16LEAt(2), EByteRange);
  EXPECT_THROW(r.U8At(SIZE_MAX), EByteRange);
  EXPECT_FALSE(r.Fits(2, SIZE_MAX)) << "offset + count must not wrap around";
  EXPECT_THROW(r.Seek(4), EByteRange);
  r.Seek(3);
  EXPECT_THROW(r.U8(), EByteRange);

  ByteReader empty;
  EXPECT_THROW(empty.U8(), EByteRange);
  EXPECT_EQ(empty.Bytes(0), "");
}
