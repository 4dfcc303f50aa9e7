#include "PhoneMessages.h"

#include "LinkFrames.h"

#include <gtest/gtest.h>

#include <map>
#include <string>

#include "TestBytes.h"
#include "TestFrames.h"

void PrintTo(const TKeyOutcome& o, std::ostream* os) {
  *os << o.key << (o.ok ? "=OK" : "=FAILED");
}

namespace {

// A frame whose bytes at the given offsets are set, `size` bytes long.
std::string Frame(std::uint8_t type, std::size_t size, const std::map<std::size_t, int>& bytes) {
  std::string f(size, '\0');
  if (size > 3) f[3] = static_cast<char>(type);
  for (const auto& [offset, value] : bytes) f[offset] = static_cast<char>(value);
  return f;
}

const TReplyContext kStandard{"NPE-4", 6310};     // class 4, standard identity
const TReplyContext kNonStandard{"NPW-2", 6360};  // non-standard identity
const TReplyContext kModel35{"RH-21", 3520};

}  // namespace

// --- Requests ------------------------------------------------------------------------------------

TEST(PhoneMessages, RequestBytes) {
  struct Case {
    TPhoneRequest request;
    const char* key;
    int type;
    std::string payload;
    int timeout;
  };
  const Case cases[] = {
      {SysGetRequest(), "SYS_GET", 0xD1, Bytes({0, 1, 0, 3, 0}), 1},
      {DaRequest(""), "", 0xDA, Bytes({0, 1, 0, 0}), 0},
      {DaRequest("DA_CHECK"), "DA_CHECK", 0xDA, Bytes({0, 1, 0, 0}), 0},
      {Init5110Request(), "5110_INIT", 0x40, Bytes({0, 1, 0x64, 1}), 0},
      {SmsInit7110Request(), "SMS_INIT7110", 0x02, Bytes({0, 1, 0, 0x67, 0x1F}), 0},
      {SmsInitSmsRequest(), "SMS_INITSMS", 0x10, Bytes({0, 1, 0, 0x10, 6, 1, 2, 0x0A, 0x14, 0x17, 0x39}), 0},
      {Family4PhonebookInit()[0], "", 0x02, Bytes({0, 1, 0, 0x1A, 0, 1}), 0},
      {Family4PhonebookInit()[1], "", 0x02, Bytes({0, 1, 0, 0x1A, 1, 0}), 0},
      {Deinit7110Request(), "7110_DEINIT", 0x10, Bytes({0, 1, 0, 0x10, 0}), 0},
      {StatInfoRequest(), "STAT_INFO", 0x04, Bytes({0, 1, 0, 1}), 1},
      {Bat7110Request(), "7110_BAT", 0x17, Bytes({0, 1, 0, 2}), 1},
      {Sig7110Request(), "7110_SIG", 0x0A, Bytes({0, 1, 0, 0x81}), 1},
      {Bat8310Request(), "8310_BAT", 0x17, Bytes({0, 1, 0, 0x0A, 2, 0}), 1},
      {ImeiRequest(TIdentityRequest::ir5110), "5110_IMEI", 0x40, Bytes({0, 1, 0x66}), 2},
      {ImeiRequest(TIdentityRequest::ir7110), "7110_IMEI", 0x1B, Bytes({0, 1, 0, 1}), 1},
      {ImeiRequest(TIdentityRequest::ir8310), "8310_IMEI", 0x1B, Bytes({0, 1, 0, 0, 0x41}), 2},
      {ImeiRequest(TIdentityRequest::ir6360), "6360_IMEI", 0x1B, Bytes({0, 1, 0, 0, 0x44}), 1},
      {Hw5110Request(), "5110_HW", 0x40, Bytes({0, 1, 0xC8, 5}), 2},
      {Hw8310Request(), "8310_HW", 0x1B, Bytes({0, 1, 0, 7, 0, 2}), 1},
      {*TimeGetRequest(1), "TIME_GET", 0x11, Bytes({0, 1, 0, 0x62}), 1},
      {*TimeGetRequest(3), "TIME_GET", 0x19, Bytes({0, 1, 0, 0x62}), 1},
      {*TimeGetRequest(4), "TIME_GET", 0x19, Bytes({0, 1, 0, 0x0A, 0, 0}), 1},
      {*AlarmGetRequest(2), "ALARM_GET", 0x11, Bytes({0, 1, 0, 0x6D}), 1},
      {*AlarmGetRequest(4), "ALARM_GET", 0x19, Bytes({0, 1, 0, 0x19, 0, 2}), 1},
      {AlarmStateGetRequest(), "ALARMSTATE_GET", 0x19, Bytes({0, 1, 0, 0x1F, 1, 0}), 1},
      {*TimeSetRequest(2, {2005, 3, 4, 13, 45, 30}), "TIME_SET", 0x11,
       Bytes({0, 1, 0, 0x60, 1, 1, 7, 0x07, 0xD5, 3, 4, 13, 45, 0}), 1},
      {*TimeSetRequest(4, {2005, 3, 4, 13, 45, 30}), "TIME_SET", 0x19,
       Bytes({0, 1, 0, 1, 0, 1, 1, 0x0C, 1, 3, 0x07, 0xD5, 3, 4, 13, 45, 30, 0}), 1},
      {*AlarmSetRequest(1, true, 7, 30), "ALARM_SET", 0x11, Bytes({0, 1, 0, 0x6B, 1, 0x20, 3, 2, 7, 30, 0}), 1},
      {*AlarmSetRequest(1, false, 7, 30), "ALARM_SET", 0x11, Bytes({0, 1, 0, 0x6B, 1, 0x20, 3, 1, 7, 30, 0}), 1},
      {*AlarmSetRequest(3, true, 7, 30), "ALARM_SET", 0x19, Bytes({0, 1, 0, 0x6B, 1, 0x32, 3, 2, 7, 30, 0}), 1},
      {*AlarmSetRequest(3, false, 7, 30), "ALARM_SET", 0x19, Bytes({0, 1, 0, 0x6B, 1, 0x32, 3, 1, 0, 0, 0}), 1},
      {*AlarmSetRequest(4, true, 7, 30), "ALARM_SET", 0x19,
       Bytes({0, 1, 0, 0x11, 0, 1, 1, 0x0C, 2, 1, 0, 0, 0, 0, 7, 30, 0, 0, 0}), 1},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(c.request.key, c.key);
    EXPECT_EQ(c.request.msgType, c.type) << c.key;
    EXPECT_EQ(c.request.payload, c.payload) << c.key;
    EXPECT_EQ(c.request.timeoutSec, c.timeout) << c.key;
  }
  for (int family : {-1, 0, 5}) {
    EXPECT_FALSE(TimeGetRequest(family).has_value());
    EXPECT_FALSE(TimeSetRequest(family, {}).has_value());
    EXPECT_FALSE(AlarmGetRequest(family).has_value());
    EXPECT_FALSE(AlarmSetRequest(family, true, 1, 2).has_value());
  }
}

TEST(PhoneMessages, TriesAndDeadlines) {
  EXPECT_EQ(RequestTries(0xD9), 1);
  EXPECT_EQ(RequestTries(0xDB), 1);
  EXPECT_EQ(RequestTries(0xD1), 3);
  EXPECT_EQ(RequestDeadlineTicks(0x1B, 1), 25);
  EXPECT_EQ(RequestDeadlineTicks(0x1B, 2), 36);
  EXPECT_EQ(RequestDeadlineTicks(0xD1, 1), 18);
  EXPECT_EQ(RequestDeadlineTicks(0x40, 2), 36);
  EXPECT_EQ(RequestDeadlineTicks(0x40, 0), 5);
}

// --- Decoding ---------------------------------------------------------------------------------------

TEST(PhoneMessages, DecodesKeysOfEveryRow) {
  struct Case {
    int type;
    std::map<std::size_t, int> bytes;
    std::vector<TKeyOutcome> outcomes;
  };
  const Case cases[] = {
      {0x02, {{9, 0x0E}}, {{"SMS_INITNEW", true}}},
      {0x02, {{9, 0x0F}}, {}},
      {0x04, {{9, 0x02}}, {{"STAT_INFO", true}}},
      {0x04, {{9, 0x05}}, {}},
      {0x0A, {{9, 0x82}, {10, 50}}, {{"7110_SIG", true}}},
      {0x0A, {{9, 0x83}}, {{"7110_SIG", false}}},
      {0x11, {{9, 0x61}, {10, 0x01}}, {{"TIME_SET", true}}},
      {0x11, {{9, 0x61}, {10, 0x02}}, {{"TIME_SET", false}}},
      {0x11, {{9, 0x63}}, {{"TIME_GET", true}}},
      {0x11, {{9, 0x6C}, {10, 0x01}}, {{"ALARM_SET", true}}},
      {0x11, {{9, 0x6C}, {10, 0x00}}, {{"ALARM_SET", false}}},
      {0x11, {{9, 0x6E}}, {{"ALARM_GET", true}}},
      {0x17, {{9, 0x03}, {11, 70}}, {{"7110_BAT", true}}},
      {0x17, {{9, 0x04}}, {{"7110_BAT", false}}},
      {0x17, {{9, 0x0B}, {14, 7}, {15, 5}}, {{"8310_BAT", true}}},
      {0x19, {{9, 0x02}}, {{"TIME_SET", true}}},
      {0x19, {{9, 0x0B}}, {{"TIME_GET", true}}},
      {0x19, {{9, 0x12}}, {{"ALARM_SET", true}}},
      {0x19, {{9, 0x1A}}, {{"ALARM_GET", true}}},
      {0x19, {{9, 0x20}}, {{"ALARMSTATE_GET", true}}},
      {0x19, {{9, 0x61}, {10, 0x01}}, {{"TIME_SET", true}}},
      {0x19, {{9, 0x63}}, {{"TIME_GET", true}}},
      {0x19, {{9, 0x6C}, {10, 0x05}}, {{"ALARM_SET", false}}},
      {0x19, {{9, 0x6E}}, {{"ALARM_GET", true}}},
      {0x1B, {{9, 0x01}, {12, 0x44}}, {{"6360_IMEI", true}, {"8310_IMEI", true}}},
      {0x1B, {{9, 0x01}, {12, 0x41}}, {{"8310_IMEI", true}}},
      {0x1B, {{9, 0x02}}, {{"7110_IMEI", true}}},
      {0x1B, {{9, 0x08}}, {{"8310_HW", true}}},
      {0x1B, {{9, 0x16}}, {{"GET_PNAME", true}}},
      {0x40, {{8, 0x64}}, {{"5110_INIT", true}}},
      {0x40, {{8, 0x7E}}, {{"NET_MON", true}}},
      {0x40, {{8, 0x64}, {9, 0x01}}, {{"5110_INIT", true}, {"5110_IMEI", true}}},
      {0x40, {{9, 0x05}}, {{"5110_HW", true}}},
      {0x61, {}, {{"GET_CAMERA", true}}},
      {0x64, {}, {{"SYS_GET", true}}},
      {0x7A, {{9, 0xED}}, {{"GET_SECCODE", true}}},
      {0xD2, {}, {{"SYS_GET", true}}},
      {0xD7, {{9, 0x0A}}, {{"GET_BT", true}}},
      {0xD9, {{9, 0x60}}, {{"APP3", true}}},
      {0xD9, {{9, 0x61}}, {{"APP2", true}}},
      {0xDA, {{9, 0x01}}, {{"DA_CHECK", true}}},
      {0xDA, {{9, 0x02}}, {}},
      {0xDB, {}, {{"APP1", true}}},
      {0x55, {{9, 0x01}}, {}},
  };
  for (const Case& c : cases) {
    const std::string frame = Frame(static_cast<std::uint8_t>(c.type), 48, c.bytes);
    EXPECT_EQ(DecodeReply(static_cast<std::uint8_t>(c.type), frame, kStandard).outcomes, c.outcomes)
        << std::hex << c.type;
  }
}

TEST(PhoneMessages, RowsBeyondTheFrameDoNotMatch) {
  struct Case {
    int type;
    std::size_t size;
    std::map<std::size_t, int> bytes;
  };
  const Case cases[] = {
      {0x02, 9, {}},
      {0x11, 10, {{9, 0x61}}},
      {0x11, 10, {{9, 0x6C}}},
      {0x17, 11, {{9, 0x03}}},
      {0x17, 15, {{9, 0x0B}, {14, 5}}},
      {0x0A, 10, {{9, 0x82}}},
      {0x1B, 9, {}},
      {0x40, 8, {}},
      {0xDA, 9, {}},
      {0x19, 10, {{9, 0x61}}},
  };
  for (const Case& c : cases) {
    const TDecodedReply d = DecodeReply(static_cast<std::uint8_t>(c.type),
                                        Frame(static_cast<std::uint8_t>(c.type), c.size, c.bytes), kStandard);
    EXPECT_TRUE(d.outcomes.empty()) << std::hex << c.type << " size " << std::dec << c.size;
    EXPECT_FALSE(d.battery.has_value());
    EXPECT_FALSE(d.signal.has_value());
  }
  // Zero-length and header-only frames decode to nothing, even for the "any" rows' fields.
  EXPECT_FALSE(DecodeReply(0x04, "", kStandard).battery.has_value());
  EXPECT_TRUE(DecodeReply(0x64, "", kStandard).outcomes.size() == 1);  // the row needs no byte
}

TEST(PhoneMessages, LevelsFromReplies) {
  // Type 04 updates the levels whatever its [9] says.
  TDecodedReply d = DecodeReply(0x04, Frame(0x04, 20, {{9, 0x05}, {11, 3}, {14, 4}}), kStandard);
  EXPECT_TRUE(d.outcomes.empty());
  EXPECT_EQ(d.battery, 100);
  EXPECT_EQ(d.signal, 75);

  struct Case {
    int b9, b10;
    TReplyContext context;
    std::optional<int> signal;
  };
  const Case signals[] = {
      {0x13, 60, kNonStandard, 100}, {0x13, 10, kNonStandard, 26},        {0x13, 60, kStandard, 60},
      {0x16, 40, kModel35, 40},      {0x16, 40, kStandard, std::nullopt}, {0x1E, 33, kStandard, 33},
      {0x82, 44, kStandard, 44},     {0x83, 44, kStandard, std::nullopt},
  };
  for (const Case& c : signals) {
    EXPECT_EQ(DecodeReply(0x0A, Frame(0x0A, 12, {{9, c.b9}, {10, c.b10}}), c.context).signal, c.signal)
        << std::hex << c.b9 << std::dec << " " << c.b10;
  }

  EXPECT_EQ(DecodeReply(0x17, Frame(0x17, 12, {{9, 0x03}, {11, 66}}), kStandard).battery, 66);
  // 8310 battery: [15] x 100 / [14] when [14] is the larger, else the factor.
  EXPECT_EQ(DecodeReply(0x17, Frame(0x17, 16, {{9, 0x0B}, {14, 7}, {15, 5}}), kStandard).battery, 71);
  EXPECT_EQ(DecodeReply(0x17, Frame(0x17, 16, {{9, 0x0B}, {14, 0}, {15, 5}}), kStandard).battery, 71);  // 14.29 x 5
  EXPECT_EQ(DecodeReply(0x17, Frame(0x17, 16, {{9, 0x0B}, {14, 3}, {15, 4}}), TReplyContext{"NHM-7", 8310}).battery,
            100);
  EXPECT_EQ(DecodeReply(0x17, Frame(0x17, 16, {{9, 0x0B}, {14, 7}, {15, 5}}), TReplyContext{"NSE-3", 6110}).battery,
            0);  // model class 1
}

// --- Identity replies recorded from each family ------------------------------------------------------

TEST(PhoneMessages, IdentityReplies) {
  // 5110 style: type 40, [9] = 01, the IMEI at offset 10.
  const std::string r5110 =
      PhoneFbusMessage(0x40, Bytes({0x01, 0x01, 0x67, 0x01}) + "350612345678901" + Bytes({0x00}), 0x42);
  TDecodedReply d = DecodeReply(0x40, r5110, kStandard);
  EXPECT_EQ(d.outcomes, (std::vector<TKeyOutcome>{{"5110_IMEI", true}}));
  EXPECT_EQ(d.rawIdentity, r5110.substr(3));
  EXPECT_EQ(ImeiFromReply(TIdentityRequest::ir5110, r5110), "350612345678901");

  // 7110 style: type 1B, [9] = 02, eleven digits ended by NUL, padded to 15.
  const std::string r7110 =
      PhoneFbusMessage(0x1B, Bytes({0x01, 0x01, 0x00, 0x02}) + "35061234567" + Bytes({0, 0, 0, 0, 0}), 0x42);
  d = DecodeReply(0x1B, r7110, kStandard);
  EXPECT_EQ(d.outcomes, (std::vector<TKeyOutcome>{{"7110_IMEI", true}}));
  EXPECT_EQ(ImeiFromReply(TIdentityRequest::ir7110, r7110), "350612345670000");
  const std::string r7110full =
      PhoneFbusMessage(0x1B, Bytes({0x01, 0x01, 0x00, 0x02}) + "350612345678901" + Bytes({0}), 0x42);
  EXPECT_EQ(ImeiFromReply(TIdentityRequest::ir7110, r7110full), "350612345678901");

  // 8310 style: type 1B, [9] = 01, the IMEI at offset 16.
  const std::string r8310 = PhoneFbusMessage(
      0x1B, Bytes({0x01, 0x01, 0x00, 0x01, 0x00, 0x41, 0x01, 0x00, 0x10, 0x00}) + "350612345678901" + Bytes({0x00}),
      0x42);
  d = DecodeReply(0x1B, r8310, kStandard);
  EXPECT_EQ(d.outcomes, (std::vector<TKeyOutcome>{{"8310_IMEI", true}}));
  EXPECT_EQ(d.rawIdentity, r8310.substr(9));
  EXPECT_EQ(ImeiFromReply(TIdentityRequest::ir8310, r8310), "350612345678901");

  // 6360 style: type 1B, [9] = 01, [12] = 44, an 11-character ESN at offset 16.
  const std::string r6360 = PhoneFbusMessage(
      0x1B, Bytes({0x01, 0x01, 0x00, 0x01, 0x00, 0x00, 0x44, 0x00, 0x0B, 0x00}) + "A1B2C3D4E5F" + Bytes({0x00}), 0x42);
  d = DecodeReply(0x1B, r6360, kNonStandard);
  EXPECT_EQ(d.outcomes, (std::vector<TKeyOutcome>{{"6360_IMEI", true}, {"8310_IMEI", true}}));
  EXPECT_EQ(ImeiFromReply(TIdentityRequest::ir6360, r6360), "A1B2C3D4E5F");
}

TEST(PhoneMessages, ShortIdentityReplies) {
  const std::string head = Bytes({0x1E, 0x10, 0x00, 0x40, 0x00, 0x10, 0x01, 0x01, 0x67, 0x01});
  EXPECT_EQ(ImeiFromReply(TIdentityRequest::ir5110, head + "35061234567890"), "");  // 14 bytes
  EXPECT_EQ(ImeiFromReply(TIdentityRequest::ir7110, head + "35061234567"), "");     // fewer than 15 bytes
  EXPECT_EQ(ImeiFromReply(TIdentityRequest::ir7110, head + "3506123x5678901"), "3506123");
  EXPECT_EQ(ImeiFromReply(TIdentityRequest::ir7110, head + std::string("\0abcdefghijklmn", 15)), "");
  EXPECT_EQ(ImeiFromReply(TIdentityRequest::ir8310, head + "012345"), "");
  EXPECT_EQ(ImeiFromReply(TIdentityRequest::ir6360, head + "012345ABCD"), "ABCD");  // clamped at the end
  EXPECT_EQ(ImeiFromReply(TIdentityRequest::ir6360, head), "");
  EXPECT_EQ(ImeiFromReply(TIdentityRequest::ir5110, ""), "");
}

// --- Other reply fields -----------------------------------------------------------------------------------

TEST(PhoneMessages, SysGetReply) {
  const std::string frame =
      PhoneFbusMessage(0xD2, Bytes({0x00, 0x01, 0x00, 0x03}) + "V 05.10\n12-03-02\nNPE-4\n(c) NMP.", 0x42);
  const TSysGetReply r = ParseSysGetReply(frame);
  EXPECT_EQ(r.swVersion, "V 05.10");
  EXPECT_EQ(r.date, "12-03-02");
  EXPECT_EQ(r.productCode, "NPE-4");

  const TSysGetReply unended = ParseSysGetReply(Frame(0xD2, 10, {}) + "V 1\n01-01-01\nNSE-3");
  EXPECT_EQ(unended.swVersion, "V 1");
  EXPECT_EQ(unended.productCode, "");
  EXPECT_EQ(ParseSysGetReply(Frame(0xD2, 10, {}) + "V 1").swVersion, "V 1");
  const TSysGetReply empty = ParseSysGetReply(Frame(0xD2, 8, {}));
  EXPECT_EQ(empty.swVersion, "");
  EXPECT_EQ(empty.productCode, "");
}

TEST(PhoneMessages, HardwareClockAndAlarmFields) {
  EXPECT_EQ(HwVersionFromReply(false, Frame(0x40, 11, {}) + "0525xx"), "0525");
  EXPECT_EQ(HwVersionFromReply(true, Frame(0x1B, 16, {}) + "0700"), "0700");
  EXPECT_EQ(HwVersionFromReply(true, Frame(0x1B, 16, {}) + "07"), "07");
  EXPECT_EQ(HwVersionFromReply(true, Frame(0x1B, 10, {})), "");

  const std::map<std::size_t, int> clock13 = {{14, 0x07}, {15, 0xD5}, {16, 3}, {17, 4}, {18, 13}, {19, 45}, {20, 30}};
  EXPECT_EQ(DateTimeFromReply(1, Frame(0x11, 21, clock13)), (TPhoneDateTime{2005, 3, 4, 13, 45, 30}));
  EXPECT_FALSE(DateTimeFromReply(1, Frame(0x11, 20, {})));
  const std::map<std::size_t, int> clock4 = {{16, 0x07}, {17, 0xD6}, {18, 12}, {19, 31}, {20, 23}, {21, 59}, {22, 58}};
  EXPECT_EQ(DateTimeFromReply(4, Frame(0x19, 23, clock4)), (TPhoneDateTime{2006, 12, 31, 23, 59, 58}));
  EXPECT_FALSE(DateTimeFromReply(4, Frame(0x19, 22, {})));

  const auto alarm = AlarmFromReply(Frame(0x11, 17, {{14, 2}, {15, 7}, {16, 30}}));
  ASSERT_TRUE(alarm);
  EXPECT_TRUE(alarm->on);
  EXPECT_EQ(alarm->hour, 7);
  EXPECT_EQ(alarm->minute, 30);
  EXPECT_FALSE(AlarmFromReply(Frame(0x11, 17, {{14, 1}}))->on);
  EXPECT_FALSE(AlarmFromReply(Frame(0x11, 16, {})));
  EXPECT_EQ(AlarmStateFromReply(Frame(0x19, 44, {{43, 2}})), true);
  EXPECT_EQ(AlarmStateFromReply(Frame(0x19, 44, {})), false);
  EXPECT_FALSE(AlarmStateFromReply(Frame(0x19, 43, {})).has_value());
  const auto alarm4 = AlarmTimeFromReply4(Frame(0x19, 22, {{20, 6}, {21, 15}}));
  ASSERT_TRUE(alarm4);
  EXPECT_EQ(alarm4->hour, 6);
  EXPECT_EQ(alarm4->minute, 15);
  EXPECT_FALSE(AlarmTimeFromReply4(Frame(0x19, 21, {})));
}
