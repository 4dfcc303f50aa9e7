#include "MemoryBlocks.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "MaxMin.h"

namespace {

TEST(MemoryBlocksTest, SameBytesComparesWordsThenTheRemainingBytes) {
  const unsigned char a[] = {1, 2, 3, 4, 5, 6, 7, 8, 9};
  struct Case {
    std::ptrdiff_t count;
    int differAt;  // -1: equal blocks
    bool same;
  };
  const Case cases[] = {
      {0, 0, true},  {-3, 0, true}, {5, -1, true}, {5, 4, false}, {5, 5, true},  // past the count
      {5, 1, false}, {9, 8, false}, {3, 2, false}, {8, 7, false},
  };
  for (const Case& c : cases) {
    unsigned char b[sizeof a];
    std::memcpy(b, a, sizeof a);
    if (c.differAt >= 0) b[c.differAt] ^= 0x80;
    EXPECT_EQ(SameBytes(a, b, c.count), c.same) << "count " << c.count << " differ at " << c.differAt;
  }
  // Unaligned starts.
  EXPECT_TRUE(SameBytes(a + 1, a + 1, 7));
  EXPECT_FALSE(SameBytes(a + 1, a + 2, 5));
  EXPECT_TRUE(SameBytes(nullptr, a, 0)) << "a count of 0 reads nothing";
}

TEST(MemoryBlocksTest, CopyBytesHandlesOverlapAndOffsetPointerMovesByBytes) {
  char buf[] = "abcdefgh";
  CopyBytes(buf + 2, buf, 5);
  EXPECT_EQ(std::string(buf), "ababcdeh");
  CopyBytes(buf, buf + 3, 4);
  EXPECT_EQ(std::string(buf), "bcdecdeh");
  CopyBytes(buf, "zz", 0);
  CopyBytes(buf, "zz", -1);
  EXPECT_EQ(std::string(buf), "bcdecdeh");
  EXPECT_EQ(OffsetPointer(static_cast<void*>(buf), 3), buf + 3);
  EXPECT_EQ(OffsetPointer(static_cast<const void*>(buf + 3), -2), buf + 1);
  EXPECT_EQ(PassResourceText("Function not yet implemented"), "Function not yet implemented");
}

TEST(MemoryBlocksTest, IntMaxAndIntMin) {
  struct Case {
    int a, b, max, min;
  };
  for (const Case& c :
       {Case{1, 2, 2, 1}, Case{2, 1, 2, 1}, Case{-5, -5, -5, -5}, Case{INT32_MIN, INT32_MAX, INT32_MAX, INT32_MIN}}) {
    EXPECT_EQ(IntMax(c.a, c.b), c.max);
    EXPECT_EQ(IntMin(c.a, c.b), c.min);
  }
}

}  // namespace
