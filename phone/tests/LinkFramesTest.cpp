#include "LinkFrames.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "TestBytes.h"
#include "TestFrames.h"

namespace {}  // namespace

TEST(LinkFrames, FirstSysGetOnTheCable) {
  TFbusSequence seq;
  const std::string payload = Bytes({0x00, 0x01, 0x00, 0x03, 0x00});
  const auto blocks = seq.SplitMessage(payload);
  ASSERT_EQ(blocks.size(), 1u);
  EXPECT_TRUE(FbusNeedsPreamble(kLinkFbusCable, 0xD1));
  const std::string wire = FbusPreamble() + BuildFbusFrame(0xD1, blocks[0]);
  std::string expected(200, '\x55');
  expected += '\xC1';
  expected += Bytes({0x1E, 0x00, 0x10, 0xD1, 0x00, 0x07, 0x00, 0x01, 0x00, 0x03, 0x00, 0x01, 0x60, 0x00, 0x6E, 0xD5});
  EXPECT_EQ(wire, expected);

  // The second message carries 0x41.
  const auto second = seq.SplitMessage(payload);
  ASSERT_EQ(second.size(), 1u);
  EXPECT_EQ(second[0], payload + Bytes({0x01, 0x41}));
}

TEST(LinkFrames, EncoderPerLinkMethod) {
  const std::string payload = Bytes({0x00, 0x01, 0x00, 0x03, 0x00});
  TFrameEncoder cable(kLinkFbusCable);
  const auto first = cable.Encode(0xD1, payload);
  ASSERT_EQ(first.size(), 1u);
  EXPECT_EQ(first[0].preamble, FbusPreamble());
  EXPECT_EQ(first[0].frame,
            Bytes({0x1E, 0x00, 0x10, 0xD1, 0x00, 0x07, 0x00, 0x01, 0x00, 0x03, 0x00, 0x01, 0x60, 0x00, 0x6E, 0xD5}));
  // An acknowledgement goes out as it is, without preamble or sequence.
  const auto ack = cable.Encode(kMsgAck, Bytes({0xD2, 0x01}));
  ASSERT_EQ(ack.size(), 1u);
  EXPECT_EQ(ack[0], (TWireFrame{"", Bytes({0x1E, 0x00, 0x10, 0x7F, 0x00, 0x02, 0xD2, 0x01, 0xDC, 0x7C})}));
  const auto second = cable.Encode(0xD1, payload);
  EXPECT_EQ(second[0].frame, BuildFbusFrame(0xD1, payload + Bytes({0x01, 0x41})));
  // 121 bytes: two frames, each behind its own preamble.
  const auto split = cable.Encode(0x40, std::string(121, 'a'));
  ASSERT_EQ(split.size(), 2u);
  EXPECT_EQ(split[1].preamble, FbusPreamble());
  EXPECT_EQ(split[1].frame, BuildFbusFrame(0x40, Bytes({'a', 0x01, 0x03})));

  TFrameEncoder atSwitch(kLinkAtSwitch);
  EXPECT_EQ(atSwitch.Encode(0xD1, payload)[0].preamble, "");

  TFrameEncoder bluetooth(kLinkBluetooth);
  const std::string longPayload(300, 'b');
  const auto bt = bluetooth.Encode(0xD1, longPayload);
  ASSERT_EQ(bt.size(), 1u);
  EXPECT_EQ(bt[0], (TWireFrame{"", BuildPhonetFrame(0x19, 0xD1, longPayload)}));
  EXPECT_EQ(TFrameEncoder(kLinkDku2).Encode(0x1B, "x")[0].frame, BuildPhonetFrame(0x1B, 0x1B, "x"));
}

TEST(LinkFrames, PreambleOnlyOnTheCableForDataFrames) {
  EXPECT_FALSE(FbusNeedsPreamble(kLinkFbusCable, kMsgAck));
  EXPECT_FALSE(FbusNeedsPreamble(kLinkFbusCable, 0xF0));
  EXPECT_FALSE(FbusNeedsPreamble(kLinkAtSwitch, 0xD1));
  EXPECT_FALSE(FbusNeedsPreamble(kLinkBluetooth, 0xD1));
}

TEST(LinkFrames, SequenceBytesRunThroughEightValues) {
  TFbusSequence seq;
  const std::vector<int> expected = {0x60, 0x41, 0x42, 0x43, 0x44, 0x45, 0x46, 0x47, 0x40, 0x41};
  for (int want : expected) {
    const auto blocks = seq.SplitMessage("x");
    ASSERT_EQ(blocks.size(), 1u);
    EXPECT_EQ(static_cast<std::uint8_t>(blocks[0].back()), want);
  }
}

TEST(LinkFrames, SplitsLongMessagesIntoBlocksOf120) {
  struct Case {
    std::size_t length;
    std::vector<std::size_t> chunks;
  };
  const Case cases[] = {{0, {0}}, {1, {1}}, {120, {120}}, {121, {120, 1}}, {240, {120, 120}}, {241, {120, 120, 1}}};
  for (const Case& c : cases) {
    TFbusSequence seq;
    seq.SplitMessage("");  // counter 1 from here on
    std::string payload;
    for (std::size_t i = 0; i < c.length; ++i) payload += static_cast<char>(i);
    const auto blocks = seq.SplitMessage(payload);
    ASSERT_EQ(blocks.size(), c.chunks.size()) << c.length;
    std::string joined;
    for (std::size_t i = 0; i < blocks.size(); ++i) {
      ASSERT_EQ(blocks[i].size(), c.chunks[i] + 2);
      joined += blocks[i].substr(0, c.chunks[i]);
      EXPECT_EQ(static_cast<std::size_t>(static_cast<std::uint8_t>(blocks[i][c.chunks[i]])), blocks.size() - i);
      const int seqByte = static_cast<std::uint8_t>(blocks[i].back());
      EXPECT_EQ(seqByte, i == 0 ? 0x41 : static_cast<int>(1 + i)) << c.length << " block " << i;
    }
    EXPECT_EQ(joined, payload);
  }
}

TEST(LinkFrames, EmptyPayloadIsOneBlock) {
  TFbusSequence seq;
  EXPECT_EQ(seq.SplitMessage(""), std::vector<std::string>{Bytes({0x01, 0x60})});
}

TEST(LinkFrames, AcknowledgementOfAD2Frame) {
  const std::string ack = Bytes({0x1E, 0x00, 0x10, 0x7F, 0x00, 0x02, 0xD2, 0x01, 0xDC, 0x7C});
  EXPECT_EQ(BuildFbusAck(0xD2, 0x41), ack);
  const std::string reply = PhoneFbusFrame(0xD2, Bytes({0x00, 0x01, 0x00, 0x03, 'V', ' ', '5', 0x01, 0x41}));
  EXPECT_EQ(FbusAckFor(reply), ack);
  EXPECT_FALSE(FbusAckFor(Bytes({0x1E, 0x10, 0x00, 0xD2, 0x00, 0x00, 0x00, 0x00})).has_value());
  EXPECT_FALSE(FbusAckFor(Bytes({0x1E, 0x10, 0x00, 0xD2, 0x00, 0x09, 0x00})).has_value());
}

TEST(LinkFrames, FrameTooLongForTheLengthField) {
  EXPECT_THROW(BuildFbusFrame(0xD1, std::string(0x10000, 'a')), EFrameTooLong);
  EXPECT_THROW(BuildPhonetFrame(0x19, 0xD1, std::string(0x10000, 'a')), EFrameTooLong);
  EXPECT_EQ(BuildPhonetFrame(0x14, 0xD1, std::string(0xFFFF, 'a')).size(), 0xFFFFu + 6);
}

TEST(LinkFrames, PhonetFrames) {
  EXPECT_EQ(BluetoothSetupFrame(), Bytes({0x19, 0x00, 0x10, 0xD0, 0x00, 0x01, 0x04}));
  EXPECT_EQ(BuildPhonetFrame(PhonetMediaOf(kLinkInfrared), 0xD1, Bytes({0x00, 0x01, 0x00, 0x03, 0x00})),
            Bytes({0x14, 0x00, 0x10, 0xD1, 0x00, 0x05, 0x00, 0x01, 0x00, 0x03, 0x00}));
  EXPECT_EQ(BuildPhonetFrame(PhonetMediaOf(kLinkDku2), 0x1B, ""), Bytes({0x1B, 0x00, 0x10, 0x1B, 0x00, 0x00}));
  EXPECT_EQ(PhonetMediaOf(kLinkBluetooth), 0x19);
  EXPECT_FALSE(IsPhonetLink(kLinkFbusCable));
  EXPECT_FALSE(IsPhonetLink(kLinkAtSwitch));
  EXPECT_TRUE(IsPhonetLink(kLinkBluetooth));
}

TEST(LinkFrames, AtSwitchBytes) {
  EXPECT_EQ(kAtSwitchReset, std::string_view("at&f\r\n\0", 7));
  EXPECT_EQ(kAtSwitchReset.size(), 7u);
  EXPECT_EQ(kAtSwitchFbus.size(), 15u);
  EXPECT_EQ(kAtSwitchFbus.back(), '\0');
  EXPECT_EQ(kAtSwitchSync, std::string(8, '\x55'));
}

TEST(LinkFrames, SetupFailureCodes) {
  struct Case {
    std::uint8_t method;
    std::uint32_t error;
    std::uint16_t code;
  };
  const Case cases[] = {{0, 5, 11}, {1, 5, 11}, {3, 5, 11}, {0, 2, 12},  {1, 2, 12},   {0, 4, 13},
                        {3, 4, 13}, {1, 4, 20}, {0, 0, 20}, {0, 87, 20}, {0, 1167, 20}};
  for (const Case& c : cases)
    EXPECT_EQ(LinkSetupFailureCode(c.method, c.error), c.code) << int(c.method) << " " << c.error;
  EXPECT_EQ(ErrorNumberInMessage("Unable to open com port: 5"), 5u);
  EXPECT_EQ(ErrorNumberInMessage("Unable to set com state: 121"), 121u);
  EXPECT_FALSE(ErrorNumberInMessage("Unable to open com port").has_value());
  EXPECT_FALSE(ErrorNumberInMessage("Unable: x").has_value());
}

// --- Cutting received bytes -------------------------------------------------------------------------

TEST(FrameCutter, CompleteFramesByLength) {
  // Odd length 9: 6 + 9 + pad + 2 = 18 bytes.
  const std::string odd = PhoneFbusFrame(0xD2, Bytes({1, 2, 3, 4, 5, 6, 7, 0x01, 0x41}));
  ASSERT_EQ(odd.size(), 18u);
  const std::string even = PhoneFbusFrame(0x40, Bytes({0x01, 0x01, 0x00, 0x01, 0x01, 0x42}));
  const std::string ack = PhoneFbusFrame(kMsgAck, Bytes({0xD1, 0x00}));  // the phone's acknowledgement
  std::string long300(300, 'z');
  const std::string big = PhoneFbusFrame(0x1B, long300);  // length above 255: the high byte counts
  const std::string fixed40 = PhoneFbusFrame(0xF1, std::string(32, 'q'));

  TFrameCutter cutter(kLinkFbusCable);
  const auto frames = cutter.Feed(odd + even + big + fixed40 + ack);
  EXPECT_EQ(frames, (std::vector<std::string>{odd, even, big, fixed40, ack}));
  EXPECT_TRUE(cutter.Pending().empty());
  EXPECT_EQ(cutter.BadFrames(), 0u);
}

TEST(FrameCutter, SplitReadsGiveTheSameFrames) {
  const std::string a = PhoneFbusFrame(0xD2, Bytes({0x00, 0x01, 0x00, 0x03, 'V', 0x0A, 0x01, 0x42}));
  const std::string b = PhoneFbusFrame(0x1B, std::string(150, '7'));
  const std::string stream = a + b + a;
  for (std::size_t step : {1u, 2u, 3u, 7u, 64u}) {
    TFrameCutter cutter(kLinkAtSwitch);
    std::vector<std::string> frames;
    for (std::size_t i = 0; i < stream.size(); i += step) {
      for (auto& f : cutter.Feed(std::string_view(stream).substr(i, step))) frames.push_back(f);
    }
    EXPECT_EQ(frames, (std::vector<std::string>{a, b, a})) << step;
  }
}

TEST(FrameCutter, GarbageBeforeAndBetweenFrames) {
  const std::string a = PhoneFbusFrame(0xD2, Bytes({0x01, 0x41}));
  const std::string b = PhoneFbusFrame(0x40, Bytes({0x01, 0x42}));
  struct Case {
    const char* name;
    std::string stream;
    std::vector<std::string> frames;
  };
  const Case cases[] = {
      {"line noise", Bytes({0x00, 0x55, 0x55, 0xC1, 0x10}) + a, {a}},
      // 1E 1E 10: the first 1E starts a frame, the second drops it, 10 is dropped.
      {"doubled start", Bytes({0x1E, 0x1E, 0x10}) + b, {b}},
      {"start without address", Bytes({0x1E, 0x00}) + a + Bytes({0x1E, 0x33}) + b, {a, b}},
      // A header that promises a huge frame is noise; the frame behind it survives.
      {"impossible length", Bytes({0x1E, 0x10, 0x00, 0xD2, 0xFF, 0xFF}) + a, {a}},
      // A false header whose length swallows the next frame: the checksum fails and
      // the frame inside is found again.
      {"false header", Bytes({0x1E, 0x10, 0x00, 0xD2, 0x00, 0x0E}) + a + std::string(8, '\0'), {a}},
  };
  for (const Case& c : cases) {
    TFrameCutter cutter(kLinkFbusCable);
    EXPECT_EQ(cutter.Feed(c.stream), c.frames) << c.name;
  }
}

TEST(FrameCutter, DropsFramesWithBadChecksums) {
  const std::string good = PhoneFbusFrame(0xD2, Bytes({0x00, 0x01, 0x01, 0x41}));
  std::string bad = good;
  bad[7] ^= 0x20;
  std::string badSum = good;
  badSum.back() ^= 1;
  TFrameCutter cutter(kLinkFbusCable);
  EXPECT_EQ(cutter.Feed(bad + badSum + good), std::vector<std::string>{good});
  EXPECT_EQ(cutter.BadFrames(), 2u);
  EXPECT_TRUE(cutter.Pending().empty());
}

TEST(FrameCutter, KeepsThePartialFrame) {
  const std::string f = PhoneFbusFrame(0xD2, Bytes({0x00, 0x01, 0x01, 0x41}));
  TFrameCutter cutter(kLinkFbusCable);
  EXPECT_TRUE(cutter.Feed(f.substr(0, 7)).empty());
  EXPECT_EQ(cutter.Pending(), f.substr(0, 7));
  cutter.Clear();
  EXPECT_TRUE(cutter.Pending().empty());
  EXPECT_TRUE(cutter.Feed(f.substr(7)).empty());  // the tail alone is no frame
}

TEST(FrameCutter, BluetoothFrames) {
  const std::string f = Bytes({0x19, 0x10, 0x00, 0xD2, 0x00, 0x03, 0x01, 0x02, 0x03});
  const std::string empty = Bytes({0x19, 0x10, 0x00, 0xD0, 0x00, 0x00});
  TFrameCutter cutter(kLinkBluetooth);
  EXPECT_EQ(cutter.StartByte(), 0x19);
  EXPECT_EQ(cutter.Feed(Bytes({0x1E, 0x19, 0x00}) + f + empty + f), (std::vector<std::string>{f, empty, f}));
}

// --- Decisions on received frames --------------------------------------------------------------------

TEST(ReceivedFrames, AckAndAutoReply) {
  const std::string d9 = PhoneFbusFrame(0xD9, Bytes({0x00, 0x01, 0x00, 0x42, 0x00, 0x01, 0x44}));
  const TReceivedFrameAction onCable = DecideReceivedFrame(kLinkFbusCable, d9);
  EXPECT_TRUE(onCable.dispatch);
  EXPECT_EQ(onCable.ack, BuildFbusAck(0xD9, 0x44));
  EXPECT_EQ(onCable.autoReply, Bytes({0x00, 0x11, 0x00, 0x43, 0x00, 0x00}));

  const TReceivedFrameAction ackFromPhone = DecideReceivedFrame(kLinkFbusCable, BuildFbusAck(0xD1, 0x60));
  EXPECT_FALSE(ackFromPhone.dispatch);
  EXPECT_FALSE(ackFromPhone.ack.has_value());

  const std::string f1 = PhoneFbusFrame(0xF1, std::string(32, 'q'));
  const TReceivedFrameAction fixed = DecideReceivedFrame(kLinkAtSwitch, f1);
  EXPECT_TRUE(fixed.dispatch);
  EXPECT_FALSE(fixed.ack.has_value());

  const std::string btD9 = Bytes({0x19, 0x10, 0x00, 0xD9, 0x00, 0x04, 0x00, 0x01, 0x00, 0x61});
  const TReceivedFrameAction onBluetooth = DecideReceivedFrame(kLinkBluetooth, btD9);
  EXPECT_TRUE(onBluetooth.dispatch);
  EXPECT_FALSE(onBluetooth.ack.has_value());
  EXPECT_EQ(onBluetooth.autoReply, Bytes({0x00, 0x11, 0x00, 0x60, 0x00, 0x05, 0x01, 0x00, 0x00, 0xFF, 0xFF}));

  const TReceivedFrameAction onInfrared = DecideReceivedFrame(kLinkInfrared, btD9);
  EXPECT_TRUE(onInfrared.dispatch);
  EXPECT_FALSE(onInfrared.autoReply.has_value());
}

TEST(ReceivedFrames, AutoReplyTable) {
  auto frame = [](int b9) { return Bytes({0x19, 0x10, 0x00, 0xD9, 0x00, 0x04, 0x00, 0x01, 0x00, b9}); };
  EXPECT_EQ(AutoReplyPayload(frame(0x40)), Bytes({0x00, 0x11, 0x00, 0x41, 0x00, 0x00}));
  EXPECT_FALSE(AutoReplyPayload(frame(0x41)).has_value());
  EXPECT_FALSE(AutoReplyPayload(frame(0x40).substr(0, 9)).has_value());
  std::string other = frame(0x40);
  other[3] = '\xD2';
  EXPECT_FALSE(AutoReplyPayload(other).has_value());
}
