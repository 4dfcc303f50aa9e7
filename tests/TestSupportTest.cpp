// The shared test helpers against bytes taken from the wire, so that an
// oracle the other tests lean on cannot drift unnoticed.
#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

#include "TestBytes.h"
#include "TestFrames.h"

TEST(TestBytes, HexBothWays) {
  EXPECT_EQ(FromHex("1e 00 10\nFF"), Bytes({0x1E, 0x00, 0x10, 0xFF}));
  EXPECT_EQ(FromHex("1E0010"), Bytes({0x1E, 0x00, 0x10}));
  EXPECT_EQ(FromHex(""), "");
  EXPECT_EQ(ToHex(Bytes({0x06, 0x61, 0x00, 0xAB})), "06 61 00 AB");
  EXPECT_EQ(ToHex(""), "");
  EXPECT_EQ(FromHex(ToHex(std::string("\x00\x7F\x80\xFF", 4))), std::string("\x00\x7F\x80\xFF", 4));
}

TEST(TestBytes, FromHexRefusesWhatIsNotHex) {
  for (const char* bad : {"1E 0", "1E,00", "0x1E", "G0"}) {
    SCOPED_TRACE(bad);
    EXPECT_THROW(FromHex(bad), std::invalid_argument);
  }
}

TEST(TestFrames, BuildersGiveTheBytesSeenOnTheWire) {
  struct Case {
    const char* what;
    std::string frame;
    const char* wire;
  } cases[] = {
      {"host's model read (odd block: padded)", HostFbusMessage(0xD1, FromHex("00 01 00 03 00"), 0x60),
       "1E 00 10 D1 00 07 00 01 00 03 00 01 60 00 6E D5"},
      {"host's acknowledgement (even block)", FbusFrame(0x00, 0x10, 0x7F, FromHex("D2 01")),
       "1E 00 10 7F 00 02 D2 01 DC 7C"},
      {"phone's acknowledgement", PhoneFbusFrame(0x7F, FromHex("D1 00")), "1E 10 00 7F 00 02 D1 00 CF 6D"},
      {"phone's one-block message", PhoneFbusMessage(0x7F, FromHex(""), 0x00), "1E 10 00 7F 00 02 01 00 1F 6D"},
      {"host's PhoNet frame on a cable", HostPhonetFrame(0x19, 0xD1, FromHex("00 01 00 03 00")),
       "19 00 10 D1 00 05 00 01 00 03 00"},
      {"phone's PhoNet frame over Bluetooth", PhonePhonetFrame(0x1B, 0xD2, FromHex("AA")), "1B 10 00 D2 00 01 AA"},
      {"length above 255: the high byte counts", FrameHeader(0x1E, 0x10, 0x00, 0x1B, 300), "1E 10 00 1B 01 2C"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(ToHex(c.frame), c.wire);
  }
}
