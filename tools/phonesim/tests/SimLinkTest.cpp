#include "SimLink.h"

#include <gtest/gtest.h>

#include "SimFrames.h"
#include "SimTestUtil.h"

namespace {
const std::string kPreamble = std::string(200, 'U') + "\xC1";
const std::string kSysGet = FromHex("1E 00 10 D1 00 07 00 01 00 03 00 01 60 00 6E D5");

struct Harness {
  explicit Harness(TSimLinkOptions o = {}, const char* persona = "NPE-4")
      : phone(*SimFindPersona(persona)),
        link(phone, std::move(o), [this](const std::string& l) { log.push_back(l); }) {}

  // Sends bytes at time `now` and returns everything due by `now`.
  std::string Send(const std::string& bytes, std::int64_t now = 0) {
    link.Receive(bytes, now, 1700000000);
    return Due(now);
  }
  std::string Due(std::int64_t now) {
    std::string out;
    for (const TSimOutput& o : link.TakeDue(now)) out += o.Bytes;
    return out;
  }

  TSimPersona phone;
  std::vector<std::string> log;
  TSimLink link;
};
}  // namespace

TEST(SimLink, MethodZeroModelReadIsAcknowledgedAndAnswered) {
  Harness h;
  std::string rest;
  const auto frames = HostCutFbus(h.Send(kPreamble + kSysGet), &rest);
  EXPECT_TRUE(rest.empty());
  ASSERT_EQ(frames.size(), 2u);
  // The acknowledgement first: type D1, sequence 0x60 & 0x0F.
  EXPECT_EQ(frames[0].Bytes, SimBuildFbusAck(0x10, 0x00, 0xD1, 0x00));
  EXPECT_TRUE(frames[0].ChecksumOk);
  EXPECT_EQ(frames[1].Type, 0xD2);
  EXPECT_TRUE(frames[1].ChecksumOk);
  EXPECT_EQ(ModelLines(frames[1].Bytes), (std::vector<std::string>{"V 05.10", "12-03-02", "NPE-4"}));
  // The block ends with 01 and the phone's first sequence byte 0x40; the next message carries 0x41.
  const std::string& d2 = frames[1].Bytes;
  const std::size_t len = (U8(d2, 4) << 8) | U8(d2, 5);
  EXPECT_EQ(U8(d2, 6 + len - 2), 0x01);
  EXPECT_EQ(U8(d2, 6 + len - 1), 0x40);
  const auto second = HostCutFbus(h.Send(HostFbusMessage(0xD1, FromHex("00 01 00 03 00"), 0x41)));
  ASSERT_EQ(second.size(), 2u);
  EXPECT_EQ(U8(second[0].Bytes, 7), 0x01);
  EXPECT_EQ(U8(second[1].Bytes, second[1].Bytes.size() - 3 - (len % 2)), 0x41);
  // The host's acknowledgement of that reply is logged and not answered.
  EXPECT_TRUE(h.Send(FromHex("1E 00 10 7F 00 02 D2 01 DC 7C")).empty());
  EXPECT_EQ(h.log, (std::vector<std::string>{"SKIP 55*200 C1", SimHex(kSysGet),
                                             SimHex(HostFbusMessage(0xD1, FromHex("00 01 00 03 00"), 0x41)),
                                             "1E 00 10 7F 00 02 D2 01 DC 7C"}));
}

TEST(SimLink, AtSwitchThenFbus) {
  TSimLinkOptions o;
  o.Kind = TSimLinkKind::lkAtSwitch;
  Harness h(o);
  // FBUS before the switch is line noise to a cable in command mode.
  EXPECT_EQ(h.Send(kSysGet), "");
  EXPECT_EQ(h.Send(std::string("at&f\r\n\0", 7)), "\r\nOK\r\n");
  EXPECT_EQ(h.Send(std::string("at+cgmi\r\n\0", 10)), "\r\nERROR\r\n");
  EXPECT_EQ(h.Send(std::string("at*nokiafbus\r\n\0", 15)), "\r\nOK\r\n");
  const auto frames = HostCutFbus(h.Send("UUUUUUUU" + HostFbusMessage(0x1B, FromHex("00 01 00 00 41"), 0x42)));
  ASSERT_EQ(frames.size(), 2u);
  EXPECT_EQ(frames[1].Type, 0x1B);
  EXPECT_EQ(frames[1].Bytes.substr(16, 15), "350612345678901");
  // Once in FBUS, AT lines are noise.
  EXPECT_EQ(h.Send(std::string("at&f\r\n\0", 7)), "");
  h.link.Idle(0, 0);
  EXPECT_EQ(h.log, (std::vector<std::string>{
                       "SKIP " + SimHex(kSysGet), "AT at&f", "AT at+cgmi", "AT at*nokiafbus", "SKIP 55*8",
                       SimHex(HostFbusMessage(0x1B, FromHex("00 01 00 00 41"), 0x42)), "SKIP 61 74 26 66 0D 0A 00"}));
}

TEST(SimLink, AutoModeFollowsTheHost) {
  Harness at;
  EXPECT_EQ(at.Send(std::string("at*nokiafbus\r\n\0", 15) + "UUUUUUUU" + kSysGet).substr(0, 6), "\r\nOK\r\n");
  Harness fbus;
  EXPECT_EQ(HostCutFbus(fbus.Send(kPreamble + kSysGet)).size(), 2u);
  Harness bt;
  const std::string out =
      bt.Send(FromHex("19 00 10 D0 00 01 04") + HostPhonetFrame(0x19, 0xD1, FromHex("00 01 00 03 00")));
  const auto frames = HostCutPhonet(out);
  ASSERT_EQ(frames.size(), 2u);
  EXPECT_EQ(frames[0].Bytes, FromHex("19 10 00 D0 00 01 05"));
  EXPECT_EQ(frames[1].Type, 0xD2);
  EXPECT_EQ(ModelLines(frames[1].Bytes).at(2), "NPE-4");
  // Only the PhoNet frame's own bytes: no block, sequence or checksum.
  EXPECT_EQ(frames[1].Bytes.back(), '\n');
}

TEST(SimLink, BluetoothAnswersAfterTheSetupFrame) {
  TSimLinkOptions o;
  o.Kind = TSimLinkKind::lkPhonet;
  Harness h(o);
  EXPECT_EQ(h.Send(HostPhonetFrame(0x19, 0xD1, FromHex("00 01 00 03 00"))), "");
  EXPECT_EQ(h.Send(kSysGet), "");  // FBUS is noise on this link
  EXPECT_EQ(h.Send(FromHex("19 00 10 D0 00 01 04")), FromHex("19 10 00 D0 00 01 05"));
  EXPECT_EQ(HostCutPhonet(h.Send(HostPhonetFrame(0x19, 0x1B, FromHex("00 01 00 00 41")))).at(0).Bytes.substr(16, 15),
            "350612345678901");
}

TEST(SimLink, FaultModes) {
  {
    SCOPED_TRACE("mute: logs, sends nothing, not even AT replies");
    TSimLinkOptions o;
    o.Mute = true;
    Harness h(o);
    EXPECT_EQ(h.Send(std::string("at&f\r\n\0", 7) + kPreamble + kSysGet), "");
    EXPECT_EQ(h.log.back(), SimHex(kSysGet));
    h.link.SetMute(false);
    EXPECT_EQ(HostCutFbus(h.Send(kSysGet)).size(), 2u);
  }
  {
    SCOPED_TRACE("corrupt: every frame's checksum is wrong, the rest is right");
    TSimLinkOptions o;
    o.Corrupt = true;
    Harness h(o);
    const auto frames = HostCutFbus(h.Send(kSysGet));
    ASSERT_EQ(frames.size(), 2u);
    EXPECT_FALSE(frames[0].ChecksumOk);
    EXPECT_FALSE(frames[1].ChecksumOk);
    EXPECT_EQ(frames[1].Type, 0xD2);
  }
  {
    SCOPED_TRACE("corrupt every second frame");
    TSimLinkOptions o;
    o.CorruptEvery = 2;
    Harness h(o);
    const auto frames = HostCutFbus(h.Send(kSysGet + kSysGet));
    ASSERT_EQ(frames.size(), 4u);
    EXPECT_TRUE(frames[0].ChecksumOk);
    EXPECT_FALSE(frames[1].ChecksumOk);
    EXPECT_TRUE(frames[2].ChecksumOk);
    EXPECT_FALSE(frames[3].ChecksumOk);
  }
  {
    SCOPED_TRACE("no acknowledgements");
    TSimLinkOptions o;
    o.NoAcks = true;
    Harness h(o);
    const auto frames = HostCutFbus(h.Send(kSysGet));
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(frames[0].Type, 0xD2);
  }
  {
    SCOPED_TRACE("reply delay: the acknowledgement at once, the reply later");
    TSimLinkOptions o;
    o.ReplyDelayMs = 500;
    Harness h(o);
    EXPECT_EQ(HostCutFbus(h.Send(kSysGet, 1000)).size(), 1u);
    EXPECT_EQ(h.link.NextDue(), 1500);
    EXPECT_TRUE(h.Due(1499).empty());
    EXPECT_EQ(HostCutFbus(h.Due(1500)).at(0).Type, 0xD2);
  }
  {
    SCOPED_TRACE("ignored type is acknowledged, not answered");
    TSimLinkOptions o;
    o.Ignore = {0x1B};
    Harness h(o);
    const auto frames = HostCutFbus(h.Send(HostFbusMessage(0x1B, FromHex("00 01 00 00 41"), 0x41)));
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(frames[0].Type, 0x7F);
  }
  {
    SCOPED_TRACE("mute after one answer");
    TSimLinkOptions o;
    o.MuteAfter = 1;
    Harness h(o);
    EXPECT_EQ(HostCutFbus(h.Send(kSysGet)).size(), 2u);
    EXPECT_EQ(HostCutFbus(h.Send(kSysGet)).size(), 1u);  // the ack was queued before the phone fell silent
    EXPECT_EQ(h.Send(kSysGet), "");
  }
}

TEST(SimLink, BadChecksumsAreNeitherAcknowledgedNorAnswered) {
  Harness h;
  std::string bad = kSysGet;
  bad[bad.size() - 1] ^= 0x01;
  EXPECT_EQ(h.Send(bad), "");
  EXPECT_EQ(h.log.at(0), "BAD " + SimHex(bad));
  EXPECT_EQ(h.link.BadFrames(), 1);
  // The line recovers at once.
  EXPECT_EQ(HostCutFbus(h.Send(FromHex("00 FF") + kSysGet)).size(), 2u);
}

TEST(SimLink, MultiBlockMessagesAreJoined) {
  Harness h;
  // A model request split into two blocks (02 then 01), each acknowledged; answered once.
  std::string block1 = FromHex("00 01 00");
  std::string f1 = SimBuildFbusFrame(0x00, 0x10, 0xD1, block1 + FromHex("02 41"));
  std::string f2 = SimBuildFbusFrame(0x00, 0x10, 0xD1, FromHex("03 00") + FromHex("01 02"));
  const auto a = HostCutFbus(h.Send(f1));
  ASSERT_EQ(a.size(), 1u);
  EXPECT_EQ(a[0].Type, 0x7F);
  const auto b = HostCutFbus(h.Send(f2));
  ASSERT_EQ(b.size(), 2u);
  EXPECT_EQ(b[1].Type, 0xD2);
}

TEST(SimLink, ResetStartsANewSession) {
  TSimLinkOptions o;
  o.Kind = TSimLinkKind::lkAtSwitch;
  o.ReplyDelayMs = 100;
  Harness h(o);
  h.Send(std::string("at*nokiafbus\r\n\0", 15));
  EXPECT_EQ(HostCutFbus(h.Send(HostFbusMessage(0xD1, FromHex("00 01 00 03 00"), 0x41))).size(), 1u);
  h.Send(kSysGet.substr(0, 5));
  EXPECT_TRUE(h.link.HasPartial());
  h.link.Reset();
  EXPECT_EQ(h.Due(1000), "");  // queued replies are dropped with the session
  EXPECT_FALSE(h.link.HasPartial());
  EXPECT_EQ(h.Send(kSysGet), "");  // back in command mode
  EXPECT_EQ(h.Send(std::string("at*nokiafbus\r\n\0", 15)), "\r\nOK\r\n");
  std::string out = h.Send(kSysGet, 0);
  out += h.Due(200);
  const auto frames = HostCutFbus(out);
  ASSERT_EQ(frames.size(), 2u);
  EXPECT_EQ(frames[1].Bytes[frames[1].Bytes.size() - 3 - 1], '\x40') << "sequence counter starts again";
}

TEST(SimLink, PushesUnsolicitedMessagesOncePerSession) {
  TSimLinkOptions o;
  o.Push = {{0xD9, FromHex("00 01 00 42"), 100}};
  Harness h(o);
  EXPECT_EQ(HostCutFbus(h.Send(kSysGet)).size(), 2u);
  const auto pushed = HostCutFbus(h.Due(100));
  ASSERT_EQ(pushed.size(), 1u);
  EXPECT_EQ(pushed[0].Type, 0xD9);
  EXPECT_EQ(U8(pushed[0].Bytes, 9), 0x42);
  EXPECT_EQ(U8(pushed[0].Bytes, 11), 0x41) << "the phone's second message carries sequence 0x41";
  h.Send(kSysGet, 200);
  EXPECT_EQ(h.Due(1000), "");
  h.link.Reset();
  h.Send(kSysGet, 2000);
  EXPECT_EQ(HostCutFbus(h.Due(2100)).size(), 1u);
}

TEST(SimLink, OtherPhonetMediaNeedNoSetupFrame) {
  TSimLinkOptions o;
  o.Kind = TSimLinkKind::lkPhonet;
  o.PhonetMedia = 0x1B;
  Harness h(o);
  EXPECT_EQ(h.Send(HostPhonetFrame(0x19, 0xD1, FromHex("00 01 00 03 00"))), "");  // another medium is noise
  const auto frames = HostCutPhonet(h.Send(HostPhonetFrame(0x1B, 0xD1, FromHex("00 01 00 03 00"))), 0x1B);
  ASSERT_EQ(frames.size(), 1u);
  EXPECT_EQ(frames[0].Type, 0xD2);
}
