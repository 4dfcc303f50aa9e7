#include "PhonetCutter.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "TestBytes.h"
#include "TestFrames.h"

namespace {

using Frames = std::vector<std::string>;

// Feeds the reads one after the other and collects every frame.
Frames FeedAll(TPhonetCutter& c, const std::vector<std::string>& reads) {
  Frames all;
  for (const std::string& r : reads) {
    for (std::string& f : c.Feed(r)) all.push_back(std::move(f));
  }
  return all;
}

}  // namespace

TEST(PhonetCutter, CutsFramesWhateverTheReads) {
  const std::string a = PhonePhonetFrame(0x14, 0xD2, Bytes({0x01, 0x00, 0x03, 0x00, 0x56, 0x20}));
  const std::string b = PhonePhonetFrame(0x14, 0x1B, std::string(300, 'x'));
  const std::string empty = PhonePhonetFrame(0x14, 0x7F, "");
  struct Case {
    const char* name;
    std::vector<std::string> reads;
    Frames frames;
    std::string pending;
  };
  const std::vector<Case> cases = {
      {"one frame", {a}, {a}, ""},
      {"two frames in one read, in order", {a + b}, {a, b}, ""},
      {"a frame without payload", {empty + a}, {empty, a}, ""},
      {"split in the header", {a.substr(0, 4), a.substr(4)}, {a}, ""},
      {"split in the resync sequence", {a.substr(0, 2), a.substr(2)}, {a}, ""},
      {"split after the first byte", {a.substr(0, 1), a.substr(1)}, {a}, ""},
      {"split in the payload", {b.substr(0, 100), b.substr(100, 150), b.substr(250)}, {b}, ""},
      {"a frame and the start of the next", {a + b.substr(0, 7)}, {a}, b.substr(0, 7)},
      {"garbage before a frame is dropped", {Bytes({0x55, 0x55, 0x14, 0x00, 0x10}) + a}, {a}, ""},
      {"garbage between frames", {a + "junk" + b}, {a, b}, ""},
      {"another media byte is garbage", {PhonePhonetFrame(0x1B, 0x10, "abc") + a}, {a}, ""},
      {"garbage alone is emptied", {"garbage"}, {}, ""},
      {"short garbage is not held", {"ab"}, {}, ""},
      {"the start of a sequence is held", {"\x14"}, {}, "\x14"},
      {"garbage ending in the first byte keeps it", {"garbage\x14"}, {}, "\x14"},
      {"garbage ending in two bytes of the sequence keeps them",
       {std::string("garbage\x14\x10")},
       {},
       std::string("\x14\x10")},
      {"a resync sequence split over reads after garbage", {std::string("garbage\x14\x10"), a.substr(2)}, {a}, ""},
      {"a resync sequence split at one byte after garbage", {std::string("xyz\x14"), a.substr(1)}, {a}, ""},
      {"a short tail after a frame waits", {a + "\x14\x10", a.substr(2)}, {a, a}, ""},
  };
  for (const Case& c : cases) {
    TPhonetCutter cutter(0x14);
    EXPECT_EQ(FeedAll(cutter, c.reads), c.frames) << c.name;
    EXPECT_EQ(cutter.Pending(), c.pending) << c.name;
  }
}

TEST(PhonetCutter, EveryReadSizeGivesTheSameFrames) {
  const std::string a = PhonePhonetFrame(0x1B, 0xD2, "hello");
  const std::string b = PhonePhonetFrame(0x1B, 0x1B, std::string(40, '\x1B'));
  const std::string stream = "\x1B\x10" + a + "noise\x1B" + b + a + "\x1B";
  for (std::size_t step = 1; step <= stream.size(); ++step) {
    TPhonetCutter cutter(0x1B);
    std::vector<std::string> reads;
    for (std::size_t i = 0; i < stream.size(); i += step) reads.push_back(stream.substr(i, step));
    EXPECT_EQ(FeedAll(cutter, reads), (Frames{a, b, a})) << "step " << step;
  }
}

TEST(PhonetCutter, LengthIsBigEndianAndTakenOncePerFrame) {
  TPhonetCutter cutter(0x14);
  const std::string big = PhonePhonetFrame(0x14, 0x40, std::string(0x0102, 'p'));
  EXPECT_TRUE(cutter.Feed(big.substr(0, 6)).empty());
  EXPECT_EQ(cutter.ExpectedLength(), 0x0102u);
  EXPECT_TRUE(cutter.Feed(big.substr(6, 0x100)).empty());
  EXPECT_EQ(cutter.Feed(big.substr(6 + 0x100)), Frames{big});
  EXPECT_EQ(cutter.ExpectedLength(), 0u);
}

TEST(PhonetCutter, PartialFrameGivenUpAfterTheEmptyPollLimit) {
  TPhonetCutter cutter(0x14);
  const std::string a = PhonePhonetFrame(0x14, 0xD2, "abcdef");
  cutter.Feed(a.substr(0, 8));
  for (int i = 0; i < kIrEmptyPollLimit; ++i) EXPECT_FALSE(cutter.EmptyPoll());
  EXPECT_EQ(cutter.Pending(), a.substr(0, 8));
  EXPECT_TRUE(cutter.EmptyPoll());
  EXPECT_TRUE(cutter.Pending().empty());
  EXPECT_EQ(cutter.ExpectedLength(), 0u);
  // The rest of the dropped frame is garbage now; the next frame still comes through.
  EXPECT_EQ(cutter.Feed(a.substr(8) + a), Frames{a});

  // Data resets the count; further empty polls past the limit keep the buffer empty.
  cutter.Feed(a.substr(0, 3));
  for (int i = 0; i < kIrEmptyPollLimit; ++i) cutter.EmptyPoll();
  cutter.Feed(a.substr(3, 2));
  EXPECT_FALSE(cutter.EmptyPoll());
  EXPECT_EQ(cutter.Pending(), a.substr(0, 5));
  for (int i = 0; i < kIrEmptyPollLimit; ++i) cutter.EmptyPoll();
  EXPECT_TRUE(cutter.Pending().empty());
}
