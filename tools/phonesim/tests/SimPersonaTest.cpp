#include "SimPersona.h"

#include <functional>

#include <gtest/gtest.h>

#include "SimTestUtil.h"

namespace {
// The reply as the host sees it: a frame whose payload starts at offset 6.
std::string AsFrame(const TSimMessage& m) {
  return FrameHeader(0x1E, kTestHostAddress, kTestPhoneAddress, m.Type, m.Payload.size()) + m.Payload;
}

TSimPersona Make(const char* name) {
  return TSimPersona(*SimFindPersona(name));
}

const std::time_t kWall = 1700000000;

std::vector<TSimMessage> Ask(TSimPersona& p, std::uint8_t type, const char* hex, std::int64_t nowMs = 0) {
  return p.Answer(type, FromHex(hex), nowMs, kWall);
}

using Check = std::function<void(const std::string& frame)>;
}  // namespace

TEST(SimPersona, BuiltInPersonas) {
  ASSERT_NE(SimFindPersona("npe-4"), nullptr);
  EXPECT_EQ(SimFindPersona("6310")->Name, "NPE-4");
  EXPECT_EQ(SimFindPersona("NPE-4")->Imei, "350612345678901");
  EXPECT_EQ(SimFindPersona("NPE-4")->SwVersion, "V 05.10");
  EXPECT_EQ(SimFindPersona("NPW-2")->Imei.size(), 11u);
  EXPECT_EQ(SimFindPersona("NSE-3")->Family, 1);
  EXPECT_EQ(SimFindPersona("NSE-5")->Family, 3);
  EXPECT_EQ(SimFindPersona("RHV-3")->Code, "RHV-3");
  EXPECT_EQ(SimFindPersona("NXX-9"), nullptr);
}

// Each persona answers its family's identity requests with the fields where
// the host reads them, and ignores the other families' requests.
TEST(SimPersona, AnswersItsFamilysRequestsOnly) {
  struct Case {
    const char* persona;
    const char* what;
    std::uint8_t type;
    const char* payload;
    int replyType;  // -1: no answer
    Check check;
  };
  const auto imeiAt = [](std::size_t offset, std::string imei) {
    return [offset, imei](const std::string& f) { EXPECT_EQ(f.substr(offset, imei.size()), imei); };
  };
  const Case cases[] = {
      {"NSE-3", "SYS_GET", 0xD1, "00 01 00 03 00", 0xD2,
       [](const std::string& f) {
         EXPECT_EQ(ModelLines(f), (std::vector<std::string>{"V 05.24", "30-06-98", "NSE-3"}));
       }},
      {"NSE-3", "5110_INIT", 0x40, "00 01 64 01", 0x40,
       [](const std::string& f) {
         EXPECT_EQ(U8(f, 8), 0x64);
         EXPECT_NE(U8(f, 9), 0x01);
       }},
      {"NSE-3", "5110_IMEI", 0x40, "00 01 66", 0x40,
       [&](const std::string& f) {
         EXPECT_EQ(U8(f, 9), 0x01);
         EXPECT_NE(U8(f, 8), 0x64);
         imeiAt(10, "449123456789012")(f);
       }},
      {"NSE-3", "5110_HW", 0x40, "00 01 C8 05", 0x40,
       [](const std::string& f) {
         EXPECT_EQ(U8(f, 9), 0x05);
         EXPECT_EQ(f.substr(11, 4), "0501");
       }},
      {"NSE-3", "STAT_INFO", 0x04, "00 01 00 01", 0x04,
       [](const std::string& f) {
         EXPECT_EQ(U8(f, 9), 0x02);
         EXPECT_EQ(U8(f, 14) * 25, 75);
         EXPECT_EQ(U8(f, 11) * 25, 50);
       }},
      {"NSE-3", "7110_IMEI", 0x1B, "00 01 00 01", -1, nullptr},
      {"NSE-3", "8310_IMEI", 0x1B, "00 01 00 00 41", -1, nullptr},
      {"NSE-5", "SYS_GET", 0xD1, "00 01 00 03 00", 0xD2,
       [](const std::string& f) { EXPECT_EQ(ModelLines(f).at(2), "NSE-5"); }},
      {"NSE-5", "7110_IMEI", 0x1B, "00 01 00 01", 0x1B,
       [&](const std::string& f) {
         EXPECT_EQ(U8(f, 9), 0x02);
         imeiAt(10, "449234567890123")(f);
       }},
      {"NSE-5", "5110_HW", 0x40, "00 01 C8 05", 0x40, [](const std::string& f) { EXPECT_EQ(f.substr(11, 4), "0702"); }},
      {"NSE-5", "7110_BAT", 0x17, "00 01 00 02", 0x17,
       [](const std::string& f) {
         EXPECT_EQ(U8(f, 9), 0x03);
         EXPECT_EQ(U8(f, 11), 75);
       }},
      {"NSE-5", "7110_SIG", 0x0A, "00 01 00 81", 0x0A,
       [](const std::string& f) {
         EXPECT_EQ(U8(f, 9), 0x82);
         EXPECT_EQ(U8(f, 10), 50);
       }},
      {"NSE-5", "5110_IMEI", 0x40, "00 01 66", -1, nullptr},
      {"NSE-5", "8310_IMEI", 0x1B, "00 01 00 00 41", -1, nullptr},
      {"NPE-4", "SYS_GET", 0xD1, "00 01 00 03 00", 0xD2,
       [](const std::string& f) {
         EXPECT_EQ(ModelLines(f), (std::vector<std::string>{"V 05.10", "12-03-02", "NPE-4"}));
       }},
      {"NPE-4", "8310_IMEI", 0x1B, "00 01 00 00 41", 0x1B,
       [&](const std::string& f) {
         EXPECT_EQ(U8(f, 9), 0x01);
         EXPECT_NE(U8(f, 12), 0x44);
         imeiAt(16, "350612345678901")(f);
       }},
      {"NPE-4", "8310_HW", 0x1B, "00 01 00 07 00 02", 0x1B,
       [](const std::string& f) {
         EXPECT_EQ(U8(f, 9), 0x08);
         EXPECT_EQ(f.substr(16, 4), "0800");
       }},
      {"NPE-4", "8310_BAT", 0x17, "00 01 00 0A 02 00", 0x17,
       [](const std::string& f) {
         EXPECT_EQ(U8(f, 9), 0x0B);
         ASSERT_GE(U8(f, 14), U8(f, 15));
         EXPECT_EQ(U8(f, 15) * 100 / U8(f, 14), 75);
       }},
      {"NPE-4", "6360_IMEI", 0x1B, "00 01 00 00 44", -1, nullptr},
      {"NPE-4", "7110_IMEI", 0x1B, "00 01 00 01", -1, nullptr},
      {"NPE-4", "5110_IMEI", 0x40, "00 01 66", -1, nullptr},
      {"NPE-4", "7110_DEINIT", 0x10, "00 01 00 10 00", -1, nullptr},
      {"NPW-2", "6360_IMEI", 0x1B, "00 01 00 00 44", 0x1B,
       [&](const std::string& f) {
         EXPECT_EQ(U8(f, 9), 0x01);
         EXPECT_EQ(U8(f, 12), 0x44);
         imeiAt(16, "12345678901")(f);
       }},
      {"NPW-2", "8310_IMEI", 0x1B, "00 01 00 00 41", -1, nullptr},
      {"RHV-3", "SYS_GET", 0xD1, "00 01 00 03 00", 0xD2,
       [](const std::string& f) { EXPECT_EQ(ModelLines(f).at(2), "RHV-3"); }},
      {"RHV-3", "DA_CHECK", 0xDA, "00 01 00 00", 0xDA, [](const std::string& f) { EXPECT_EQ(U8(f, 9), 0x01); }},
      {"RHV-3", "8310_IMEI", 0x1B, "00 01 00 00 41", 0x1B, imeiAt(16, "357123456789012")},
      {"NPE-4", "unknown type", 0x55, "00 01 00 03 00", -1, nullptr},
      {"NPE-4", "short SYS_GET", 0xD1, "00 01", -1, nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.persona) + " " + c.what);
    TSimPersona p = Make(c.persona);
    const auto replies = Ask(p, c.type, c.payload);
    if (c.replyType < 0) {
      EXPECT_TRUE(replies.empty());
      continue;
    }
    ASSERT_EQ(replies.size(), 1u);
    EXPECT_EQ(replies[0].Type, c.replyType);
    c.check(AsFrame(replies[0]));
  }
}

TEST(SimPersona, ClockAndAlarmRoundTrips) {
  // Families 1 to 3 (types 11 and 19, subcommands 60/62/6B/6D) and family 4.
  for (const char* name : {"NSE-3", "NSE-5"}) {
    SCOPED_TRACE(name);
    TSimPersona p = Make(name);
    const std::uint8_t t = p.Data().Family == 3 ? 0x19 : 0x11;
    auto set = Ask(p, t, "00 01 00 60 01 01 07 07 D4 02 1D 17 3B 00");  // 2004-02-29 23:59
    ASSERT_EQ(set.size(), 1u);
    EXPECT_EQ(set[0].Type, t);
    EXPECT_EQ(U8(AsFrame(set[0]), 9), 0x61);
    EXPECT_EQ(U8(AsFrame(set[0]), 10), 0x01);
    const std::string get = AsFrame(Ask(p, t, "00 01 00 62").at(0));
    EXPECT_EQ(U8(get, 9), 0x63);
    EXPECT_EQ((U8(get, 14) << 8) | U8(get, 15), 2004);
    EXPECT_EQ(U8(get, 16), 2);
    EXPECT_EQ(U8(get, 17), 29);
    EXPECT_EQ(U8(get, 18), 23);
    EXPECT_EQ(U8(get, 19), 59);
    // A date that does not exist is refused.
    EXPECT_EQ(U8(AsFrame(Ask(p, t, "00 01 00 60 01 01 07 07 D4 0D 01 00 00 00").at(0)), 10), 0x00);

    const std::uint8_t kind = t == 0x11 ? 0x20 : 0x32;
    const std::string on = "00 01 00 6B 01 " + ToHex(Bytes({kind})) + " 03 02 06 2D 00";
    EXPECT_EQ(U8(AsFrame(Ask(p, t, on.c_str()).at(0)), 10), 0x01);
    const std::string alarm = AsFrame(Ask(p, t, "00 01 00 6D").at(0));
    EXPECT_EQ(U8(alarm, 9), 0x6E);
    EXPECT_EQ(U8(alarm, 14), 0x02);
    EXPECT_EQ(U8(alarm, 15), 6);
    EXPECT_EQ(U8(alarm, 16), 45);
    // Family 4 messages are not this family's.
    EXPECT_TRUE(Ask(p, 0x19, "00 01 00 0A 00 00").empty());
  }
  TSimPersona p = Make("NPE-4");
  EXPECT_EQ(U8(AsFrame(Ask(p, 0x19, "00 01 00 01 00 01 01 0C 01 03 07 E7 0C 1F 17 3B 3A 00").at(0)), 9), 0x02);
  const std::string get = AsFrame(Ask(p, 0x19, "00 01 00 0A 00 00").at(0));
  EXPECT_EQ(U8(get, 9), 0x0B);
  EXPECT_EQ((U8(get, 16) << 8) | U8(get, 17), 2023);
  EXPECT_EQ(U8(get, 18), 12);
  EXPECT_EQ(U8(get, 19), 31);
  EXPECT_EQ(U8(get, 20), 23);
  EXPECT_EQ(U8(get, 21), 59);
  EXPECT_EQ(U8(get, 22), 58);
  EXPECT_EQ(U8(AsFrame(Ask(p, 0x19, "00 01 00 1F 01 00").at(0)), 43), 0x01);
  EXPECT_EQ(U8(AsFrame(Ask(p, 0x19, "00 01 00 11 00 01 01 0C 02 01 00 00 00 00 05 0A 00 00 00").at(0)), 9), 0x12);
  EXPECT_EQ(U8(AsFrame(Ask(p, 0x19, "00 01 00 1F 01 00").at(0)), 43), 0x02);
  const std::string alarm = AsFrame(Ask(p, 0x19, "00 01 00 19 00 02").at(0));
  EXPECT_EQ(U8(alarm, 9), 0x1A);
  EXPECT_EQ(U8(alarm, 20), 5);
  EXPECT_EQ(U8(alarm, 21), 10);
  // Truncated requests are not answered and do not read past their end.
  EXPECT_TRUE(Ask(p, 0x19, "00 01 00 11 00 01 01 0C 02 01 00 00").empty());
  EXPECT_TRUE(Ask(p, 0x19, "00 01 00 01 00 01 01 0C 01 03 07").empty());
}

TEST(SimPersona, DaTimeoutSilencesAllButTheDaCheck) {
  TSimPersona p = Make("RHV-3");
  p.SetDaTimeout(3000);
  EXPECT_EQ(Ask(p, 0xD1, "00 01 00 03 00", 0).size(), 1u);
  EXPECT_EQ(Ask(p, 0xD1, "00 01 00 03 00", 2900).size(), 1u);
  EXPECT_TRUE(Ask(p, 0xD1, "00 01 00 03 00", 3100).empty());
  EXPECT_EQ(Ask(p, 0xDA, "00 01 00 00", 3200).size(), 1u);
  EXPECT_EQ(Ask(p, 0x1B, "00 01 00 00 41", 3300).size(), 1u);
  EXPECT_EQ(Ask(p, 0x1B, "00 01 00 00 41", 6100).size(), 1u);
  EXPECT_TRUE(Ask(p, 0x1B, "00 01 00 00 41", 6300).empty());
}
