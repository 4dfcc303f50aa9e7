#include "SimFrames.h"

#include <gtest/gtest.h>

#include "SimTestUtil.h"

TEST(SimFrames, GoldenFramesOfTheHostAndThePhone) {
  // The host's first model request, and its acknowledgement of a D2 frame with sequence 0x41.
  EXPECT_EQ(SimBuildFbusFrame(0x00, 0x10, 0xD1, FromHex("00 01 00 03 00 01 60")),
            FromHex("1E 00 10 D1 00 07 00 01 00 03 00 01 60 00 6E D5"));
  EXPECT_EQ(SimBuildFbusAck(0x00, 0x10, 0xD2, 0x41), FromHex("1E 00 10 7F 00 02 D2 01 DC 7C"));
  // The phone's acknowledgement of that request carries the low nibble of 0x60.
  const std::string ack = SimBuildFbusAck(0x10, 0x00, 0xD1, 0x60);
  EXPECT_EQ(SimHex(ack.substr(0, 8)), "1E 10 00 7F 00 02 D1 00");
  EXPECT_TRUE(HostCutFbus(ack).at(0).ChecksumOk);
  EXPECT_EQ(SimBuildPhonetFrame(0x19, 0x00, 0x10, 0xD0, FromHex("04")), FromHex("19 00 10 D0 00 01 04"));
}

TEST(SimFrames, ChecksumCoversThePadByte) {
  // Odd block: a 00 pad before the checksum, counted at its even/odd offset.
  const std::string f = SimBuildFbusFrame(0x10, 0x00, 0x40, FromHex("01 02 03"));
  EXPECT_EQ(f.size(), 6u + 3 + 1 + 2);
  EXPECT_EQ(U8(f, 9), 0x00);
  EXPECT_EQ(SimFbusChecksum(f.substr(0, f.size() - 2)), (U8(f, f.size() - 2) << 8) | U8(f, f.size() - 1));
  EXPECT_TRUE(HostCutFbus(f).at(0).ChecksumOk);
}

TEST(SimFrames, SplitsBlocksAndCountsSequences) {
  struct Case {
    std::size_t payload;
    std::uint8_t counter;
    std::vector<std::pair<std::size_t, std::string>> blocks;  // chunk size, then "left seq"
    std::uint8_t counterAfter;
  };
  const Case cases[] = {
      {0, 0, {{0, "01 40"}}, 1},
      {5, 7, {{5, "01 47"}}, 0},
      {120, 2, {{120, "01 42"}}, 3},
      {121, 1, {{120, "02 41"}, {1, "01 02"}}, 3},
      {241, 6, {{120, "03 46"}, {120, "02 07"}, {1, "01 00"}}, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE("payload " + std::to_string(c.payload));
    std::uint8_t counter = c.counter;
    const auto blocks = SimSplitFbusBlocks(std::string(c.payload, 'x'), counter);
    ASSERT_EQ(blocks.size(), c.blocks.size());
    for (std::size_t i = 0; i < blocks.size(); ++i) {
      EXPECT_EQ(blocks[i].size(), c.blocks[i].first + 2);
      EXPECT_EQ(SimHex(blocks[i].substr(blocks[i].size() - 2)), c.blocks[i].second);
    }
    EXPECT_EQ(counter, c.counterAfter);
  }
}

TEST(SimFrames, HexText) {
  EXPECT_EQ(SimHex(FromHex("00 7F ff")), "00 7F FF");
  EXPECT_EQ(SimHexRuns(std::string(200, 'U') + "\xC1"), "55*200 C1");
  EXPECT_EQ(SimHexRuns(FromHex("01 01 01 02 02 02 02")), "01 01 01 02*4");
  EXPECT_EQ(SimHexRuns(""), "");
  std::string out;
  EXPECT_TRUE(SimParseHex("1e 00:10,D1", out));
  EXPECT_EQ(out, FromHex("1E 00 10 D1"));
  EXPECT_FALSE(SimParseHex("1E 0", out));
  EXPECT_FALSE(SimParseHex("1G", out));
  EXPECT_FALSE(SimParseHex("1 E", out));
}
