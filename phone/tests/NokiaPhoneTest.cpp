#include "NokiaPhone.h"

#include "FakePhoneLink.h"
#include "LinkFrames.h"
#include "MainThreadScope.h"
#include "PhoneFamilies.h"
#include "Swallow.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

namespace {

// --- Recorded replies of the phones ------------------------------------------------------------------

TFakeReply Reply(std::uint8_t type, const std::string& payload) {
  return {type, PhoneFbusFrame(type, payload)};
}

TFakeReply SysGetReply(const char* sw, const char* date, const char* code) {
  return Reply(0xD2, FromHex("00 01 00 03") + sw + "\n" + date + "\n" + code + "\n");
}

void ScriptNpe4(TFakeEnv& env) {  // 6310, family 4
  env.On(0xD1, FromHex("00 01 00 03"), {SysGetReply("V 05.10", "12-03-02", "NPE-4")});
  env.On(0x1B, FromHex("00 01 00 00 41"),
         {Reply(0x1B, FromHex("00 01 00 01 00 01 41 00 00 0F") + "350612345678901" + std::string(1, '\0'))});
  env.On(0x17, FromHex("00 01 00 0A 02 00"), {Reply(0x17, FromHex("00 01 00 0B 00 01 00 00 64 4B 00"))});
  env.On(0x1B, FromHex("00 01 00 07 00 02"), {Reply(0x1B, FromHex("00 01 00 08 00 01 00 00 00 04") + "0800" + '\0')});
  env.On(0xDA, FromHex("00 01 00 00"), {Reply(0xDA, FromHex("00 01 00 01"))});
}

void ScriptNse3(TFakeEnv& env) {  // 6110, family 1
  env.On(0xD1, FromHex("00 01 00 03"), {SysGetReply("V 05.24", "30-06-98", "NSE-3")});
  env.On(0x40, FromHex("00 01 64"), {Reply(0x40, FromHex("00 01 64 00"))});
  env.On(0x40, FromHex("00 01 66"), {Reply(0x40, FromHex("00 01 66 01") + "449123456789012" + std::string(1, '\0'))});
  env.On(0x04, FromHex("00 01 00 01"), {Reply(0x04, FromHex("00 01 00 02 01 02 00 01 03 00"))});
}

void ScriptNpw2(TFakeEnv& env) {  // 6360, identity by ESN
  env.On(0xD1, FromHex("00 01 00 03"), {SysGetReply("V 04.60", "05-09-01", "NPW-2")});
  env.On(0x1B, FromHex("00 01 00 00 44"),
         {Reply(0x1B, FromHex("00 01 00 01 00 01 44 00 00 0B") + "12345678901" + std::string(1, '\0'))});
}

void ScriptNse5(TFakeEnv& env) {  // 7110, family 3
  env.On(0xD1, FromHex("00 01 00 03"), {SysGetReply("V 04.94", "16-03-00", "NSE-5")});
  env.On(0x1B, FromHex("00 01 00 01"),
         {Reply(0x1B, FromHex("00 01 00 02") + "449234567890123" + std::string(1, '\0'))});
}

void ScriptRhv3(TFakeEnv& env) {  // 9998, family 4, needs the DA check
  env.On(0xD1, FromHex("00 01 00 03"), {SysGetReply("V 03.10", "20-11-06", "RHV-3")});
  env.On(0x1B, FromHex("00 01 00 00 41"),
         {Reply(0x1B, FromHex("00 01 00 01 00 01 41 00 00 0F") + "357123456789012" + std::string(1, '\0'))});
  env.On(0xDA, FromHex("00 01 00 00"), {Reply(0xDA, FromHex("00 01 00 01"))});
}

struct TEvents {
  int disconnects = 0;
  int battery = 0;
  int signal = 0;
  std::vector<std::pair<std::string, std::string>> changes;
  void Disconnected(TObject*) { ++disconnects; }
  void Battery(TObject*) { ++battery; }
  void Signal(TObject*) { ++signal; }
  void Changed(TObject*, const std::string& oldImei, const std::string& newImei) {
    changes.emplace_back(oldImei, newImei);
  }
};

class TPhoneHolder {
 public:
  explicit TPhoneHolder(TPhonePlatform& platform, std::uint8_t link = kLinkFbusCable)
      : phone(New<TNokiaPhone>(static_cast<TComponent*>(nullptr), platform)) {
    phone->LinkMethod = link;
    phone->SetPort(4);
    phone->Socket = link == kLinkInfrared ? 7 : 0;
    phone->OnDisconnect = TNotifyEvent::Bind<&TEvents::Disconnected>(&events);
    phone->OnBatteryChange = TNotifyEvent::Bind<&TEvents::Battery>(&events);
    phone->OnSignalChange = TNotifyEvent::Bind<&TEvents::Signal>(&events);
    phone->OnChangePhone = TChangeNotifyEvent::Bind<&TEvents::Changed>(&events);
  }
  ~TPhoneHolder() {
    if (phone) phone->Free();
  }
  TNokiaPhone* operator->() const { return phone; }
  TNokiaPhone* phone;
  TEvents events;
};

// --- The abstract phone ------------------------------------------------------------------------------------

class TPlainPhone : public TBasicPhoneData {
 public:
  using TBasicPhoneData::TBasicPhoneData;
  std::string GetModel() override { return {}; }
  std::string GetIMEI() override { return {}; }
  std::string GetSWVersion() override { return {}; }
  std::string GetHWVersion() override { return {}; }
  TDateTime GetDateTime() override { return 0; }
  void SetDateTime(TDateTime) override {}
  int GetModelNumber() override { return 0; }
};

}  // namespace

TEST(BasicPhoneData, Defaults) {
  TOwned<TPlainPhone> p(New<TPlainPhone>(static_cast<TComponent*>(nullptr)));
  EXPECT_EQ(p->BatteryLevel(), 0);
  EXPECT_EQ(p->SignalLevel(), 0);
  EXPECT_EQ(p->State(), 0);
  EXPECT_EQ(p->GetAlarm(), 0);
  p->SetAlarm(45000.5);
  EXPECT_EQ(p->GetAlarm(), 0);
  p->SetPort(5);
  EXPECT_EQ(p->GetPort(), 0);
  EXPECT_TRUE(p->InheritsFrom(TComponent::StaticClass()));
}

TEST(NokiaPhone, DateTimeConversion) {
  EXPECT_EQ(PhoneEncodeDateTime({1899, 12, 30, 0, 0, 0}), 0);
  EXPECT_EQ(PhoneEncodeDateTime({2000, 1, 1, 12, 0, 0}), 36526.5);
  const TPhoneDateTime t{2026, 2, 28, 23, 59, 58};
  EXPECT_EQ(PhoneDecodeDateTime(PhoneEncodeDateTime(t)), t);
}

// --- Connect per persona ----------------------------------------------------------------------------------

TEST(NokiaPhone, ConnectIdentifiesEachPersona) {
  struct Case {
    const char* name;
    void (*script)(TFakeEnv&);
    std::uint8_t link;
    const char* model;
    const char* sw;
    const char* imei;
    int family;
  };
  const Case cases[] = {
      {"NPE-4", ScriptNpe4, kLinkFbusCable, "NPE-4", "V 05.10", "350612345678901", 4},
      {"NPE-4 AT switch", ScriptNpe4, kLinkAtSwitch, "NPE-4", "V 05.10", "350612345678901", 4},
      {"NPE-4 Bluetooth", ScriptNpe4, kLinkBluetooth, "NPE-4", "V 05.10", "350612345678901", 4},
      {"NSE-3", ScriptNse3, kLinkFbusCable, "NSE-3", "V 05.24", "449123456789012", 1},
      {"NSE-5", ScriptNse5, kLinkFbusCable, "NSE-5", "V 04.94", "449234567890123", 3},
      {"NPW-2", ScriptNpw2, kLinkFbusCable, "NPW-2", "V 04.60", "12345678901", 4},
      {"RHV-3", ScriptRhv3, kLinkAtSwitch, "RHV-3", "V 03.10", "357123456789012", 4},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TFakeEnv env;
    c.script(env);
    TPhoneHolder phone(env, c.link);
    ASSERT_TRUE(phone->Connect(false));
    EXPECT_TRUE(phone->Connected());
    EXPECT_EQ(phone->FailureCode(), 0);
    EXPECT_EQ(phone->GetModel(), c.model);
    EXPECT_EQ(phone->Family(), c.family);
    EXPECT_EQ(phone->GetSWVersion(), c.sw);
    EXPECT_EQ(phone->GetIMEI(), c.imei);
    EXPECT_TRUE(phone->KeepAliveTimer().Enabled());
    EXPECT_EQ(phone.events.disconnects, 0);
    ASSERT_NE(env.CurrentLink(), nullptr);
    EXPECT_EQ(env.CurrentLink()->Params().comPort, 4);
    EXPECT_EQ(env.CurrentLink()->Params().linkMethod, c.link);
  }
}

TEST(NokiaPhone, FamilyOneSendsTheOldInitAndIdentity) {
  TFakeEnv env;
  ScriptNse3(env);
  TPhoneHolder phone(env);
  ASSERT_TRUE(phone->Connect(false));
  EXPECT_EQ(env.CountSent(0x40, FromHex("00 01 64 01")), 1);  // 5110_INIT
  EXPECT_EQ(env.CountSent(0x40, FromHex("00 01 66")), 1);     // 5110_IMEI
  EXPECT_EQ(env.CountSent(0x1B, ""), 0);
  // The FBUS cable reads the model with one extra "SYS_GET" first.
  EXPECT_EQ(env.CountSent(0xD1, FromHex("00 01 00 03 00")), 2);
}

TEST(NokiaPhone, FamilyFourInitAndTheAtSwitchDaMessage) {
  TFakeEnv env;
  ScriptNpe4(env);
  TPhoneHolder phone(env, kLinkAtSwitch);
  ASSERT_TRUE(phone->Connect(false));
  const auto sent = env.Sent();
  ASSERT_GE(sent.size(), 6u);
  EXPECT_EQ(sent[0].type, 0xDA);  // before the model read
  EXPECT_EQ(sent[1].type, 0xD1);
  EXPECT_EQ(env.CountSent(0x10, FromHex("00 01 00 10 06")), 1);  // SMS_INITSMS
  EXPECT_EQ(env.CountSent(0x02, FromHex("00 01 00 1A 00 01")), 1);
  EXPECT_EQ(env.CountSent(0x02, FromHex("00 01 00 1A 01 00")), 1);
  EXPECT_EQ(env.CountSent(0x1B, FromHex("00 01 00 00 41")), 1);
}

// A phone that answers at once costs a connect only the fixed waits of its road
// (virtual time): the pauses of 20 ms before the initialisation and 30 ms before
// the identity, and a full deadline of 5 ticks (275 to 330 ms on the tick clock)
// for each message sent without waiting that no reply of its own can end:
// "SMS_INIT7110", "SMS_INITSMS", the messages with the empty key. Answered
// requests, "5110_INIT" included, end at their reply; none runs out a time-out.
TEST(NokiaPhone, ConnectCostsOnlyTheFixedWaitsOfItsRoad) {
  struct Case {
    const char* name;
    void (*script)(TFakeEnv&);
    std::uint8_t link;
    int unansweredMessages;
  };
  const Case cases[] = {
      {"NSE-3", ScriptNse3, kLinkFbusCable, 0},
      {"NSE-3 AT switch", ScriptNse3, kLinkAtSwitch, 1},  // the DA message with the empty key
      {"NSE-5", ScriptNse5, kLinkFbusCable, 3},
      {"NPE-4", ScriptNpe4, kLinkFbusCable, 3},
      {"NPE-4 AT switch", ScriptNpe4, kLinkAtSwitch, 4},
      {"NPE-4 Bluetooth", ScriptNpe4, kLinkBluetooth, 3},
      {"NPW-2", ScriptNpw2, kLinkFbusCable, 3},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TFakeEnv env;
    c.script(env);
    TPhoneHolder phone(env, c.link);
    const std::uint32_t start = g_fakeMs;
    ASSERT_TRUE(phone->Connect(false));
    const std::uint32_t spent = g_fakeMs - start;
    EXPECT_GE(spent, 50u + c.unansweredMessages * 5u * 55u);
    EXPECT_LE(spent, 50u + c.unansweredMessages * 6u * 55u);
    EXPECT_EQ(phone->TimeoutCount(), 0);
  }
}

TEST(NokiaPhone, InfraredConnectsWithoutReadingTheIdentity) {
  TFakeEnv env;
  ScriptNpe4(env);
  TPhoneHolder phone(env, kLinkInfrared);
  ASSERT_TRUE(phone->Connect(false));
  EXPECT_EQ(env.CountSent(0x1B, ""), 0);
  EXPECT_EQ(env.CurrentLink()->Params().socket, 7);
}

TEST(NokiaPhone, ConnectPrerequisitesAndLinkFailures) {
  {
    TFakeEnv env;
    TPhoneHolder phone(env);
    phone->SetPort(0);
    EXPECT_FALSE(phone->Connect(false));
    EXPECT_EQ(env.LinksMade(), 0);
  }
  for (std::uint16_t code : {10, 11, 12, 13, 20}) {
    SCOPED_TRACE(code);
    TFakeEnv env;
    ScriptNpe4(env);
    env.createCode = code;
    TPhoneHolder phone(env);
    EXPECT_FALSE(phone->Connect(false));
    EXPECT_EQ(phone->FailureCode(), code);
    EXPECT_FALSE(phone->HasLink());
    EXPECT_EQ(env.LinksAlive(), 0);
    EXPECT_TRUE(env.Sent().empty());
  }
}

TEST(NokiaPhone, MuteSerialPhoneFailsWithCode13) {
  struct Case {
    std::uint8_t link;
    int sysGets;
  };
  // Each "SYS_GET" is tried once per call and waits 1 s. The FBUS cable sends an
  // extra one before each model read; its third time-out gives the phone up.
  for (const Case c : {Case{kLinkFbusCable, 3}, Case{kLinkAtSwitch, 2}, Case{kLinkBluetooth, 2}}) {
    const std::uint8_t link = c.link;
    SCOPED_TRACE(static_cast<int>(link));
    TFakeEnv env;
    env.Mute(true);
    TPhoneHolder phone(env, link);
    const std::uint32_t start = g_fakeMs;
    EXPECT_FALSE(phone->Connect(false));
    EXPECT_EQ(phone->FailureCode(), 13);
    EXPECT_FALSE(phone->IsActive());
    EXPECT_FALSE(phone->HasLink());
    EXPECT_EQ(env.LinksAlive(), 0);
    EXPECT_FALSE(phone->KeepAliveTimer().Enabled());
    EXPECT_LE(phone.events.disconnects, 1);
    EXPECT_EQ(env.CountSent(0xD1, ""), c.sysGets);
    EXPECT_LT(g_fakeMs - start, 4000u);
  }
}

TEST(NokiaPhone, PhoneWithoutImeiFailsWithCode13) {
  TFakeEnv env;
  env.On(0xD1, FromHex("00 01 00 03"), {SysGetReply("V 05.10", "12-03-02", "NPE-4")});
  TPhoneHolder phone(env);
  EXPECT_FALSE(phone->Connect(false));
  EXPECT_EQ(phone->FailureCode(), 13);
  EXPECT_FALSE(phone->HasLink());
}

// --- The request engine -------------------------------------------------------------------------------------

namespace {
// A connected NPE-4 on the FBUS cable.
struct TConnected {
  TFakeEnv env;
  TPhoneHolder phone{env};
  TConnected() {
    ScriptNpe4(env);
    EXPECT_TRUE(phone->Connect(false));
    env.ClearSent();
  }
};
}  // namespace

TEST(NokiaPhone, ThreeUnansweredRequestsDisconnectOnce) {
  for (std::uint8_t link : {kLinkFbusCable, kLinkAtSwitch}) {
    SCOPED_TRACE(static_cast<int>(link));
    TFakeEnv env;
    ScriptNpe4(env);
    TPhoneHolder phone(env, link);
    ASSERT_TRUE(phone->Connect(false));
    env.Mute(true);
    phone->UpdateStatus();
    EXPECT_EQ(phone.events.disconnects, 1);
    EXPECT_FALSE(phone->Connected());
    EXPECT_EQ(phone->TimeoutCount(), 0);
    EXPECT_FALSE(phone->HasLink());
    EXPECT_EQ(env.LinksAlive(), 0);
    EXPECT_EQ(phone->BatteryLevel(), 0);
    // Nothing more is sent and nothing more is reported.
    const auto sent = env.Sent().size();
    EXPECT_EQ(phone->GetIMEI(), "");
    phone->UpdateStatus();
    phone->Disconnect();
    EXPECT_EQ(env.Sent().size(), sent);
    EXPECT_EQ(phone.events.disconnects, 1);
  }
}

namespace {
std::vector<std::pair<std::string, std::string>> g_swallowed;
void RecordSwallowed(const char* where, const std::exception_ptr& error) {
  std::string message;
  try {
    std::rethrow_exception(error);
  } catch (const Exception& e) {
    message = e.Message;
  } catch (...) {
  }
  g_swallowed.emplace_back(where, message);
}
struct TRaisingHandler {
  void Disconnected(TObject*) { throw EInvalidOperation("the window is gone"); }
};
}  // namespace

TEST(NokiaPhone, AnErrorOfTheDisconnectHandlerIsNamedAndDoesNotStopTheDisconnection) {
  const TSwallowedExceptionHook previous = SetSwallowedExceptionHook(&RecordSwallowed);
  g_swallowed.clear();
  TFakeEnv env;
  ScriptNpe4(env);
  TPhoneHolder phone(env);
  TRaisingHandler handler;
  phone->OnDisconnect = TNotifyEvent::Bind<&TRaisingHandler::Disconnected>(&handler);
  ASSERT_TRUE(phone->Connect(false));
  env.Mute(true);
  phone->UpdateStatus();
  EXPECT_FALSE(phone->Connected());
  EXPECT_FALSE(phone->HasLink());
  SetSwallowedExceptionHook(previous);
  const std::pair<std::string, std::string> expected{
      "TNokiaPhone.FireDisconnect: calling OnDisconnect on the main thread", "the window is gone"};
  EXPECT_EQ(std::count(g_swallowed.begin(), g_swallowed.end(), expected), 1);
}

TEST(NokiaPhone, PhoneAnsweringTheProbeStaysConnected) {
  TConnected c;
  // Only the model read is answered.
  TFakeEnv& env = c.env;
  std::string reply;
  env.ClearSent();
  EXPECT_FALSE(c.phone->Request(0x17, FromHex("00 01 00 02"), false, reply, 1, "7110_BAT"));
  EXPECT_EQ(env.CountSent(0x17, ""), 3);
  EXPECT_TRUE(c.phone->Connected());
  EXPECT_EQ(c.phone.events.disconnects, 0);
  EXPECT_EQ(c.phone->TimeoutCount(), 0);
}

TEST(NokiaPhone, RequestOutcomes) {
  TConnected c;
  std::string reply = "stale";
  // A reply decoded as FAILED returns at once.
  c.env.On(0x17, FromHex("00 01 00 02"), {Reply(0x17, FromHex("00 01 00 04 00"))});
  const std::uint32_t start = g_fakeMs;
  EXPECT_FALSE(c.phone->Request(0x17, FromHex("00 01 00 02"), false, reply, 1, "7110_BAT"));
  EXPECT_EQ(reply, "");
  EXPECT_EQ(g_fakeMs, start);
  EXPECT_EQ(c.phone->RequestState("7110_BAT"), "NONE");
  EXPECT_EQ(c.phone->TimeoutCount(), 0);

  // An answered request gives the whole frame.
  EXPECT_TRUE(c.phone->Request(0x17, FromHex("00 01 00 0A 02 00"), false, reply, 1, "8310_BAT"));
  EXPECT_EQ(reply, PhoneFbusFrame(0x17, FromHex("00 01 00 0B 00 01 00 00 64 4B 00")));

  // Fire-and-forget: true even when nothing answers, after about 5 ticks.
  c.env.ClearSent();
  EXPECT_TRUE(c.phone->Request(0x10, FromHex("00 01 00 10 00"), false, reply, 0, "7110_DEINIT"));
  EXPECT_EQ(c.env.CountSent(0x10, ""), 1);
  EXPECT_EQ(c.phone->TimeoutCount(), 0);

  // Type D9 is tried once.
  c.env.ClearSent();
  EXPECT_FALSE(c.phone->Request(0xD9, FromHex("00 01 00 60"), false, reply, 1, "APP3"));
  EXPECT_EQ(c.env.CountSent(0xD9, ""), 1);
  EXPECT_TRUE(c.phone->Connected());

  // Type F0 does not wait.
  const std::uint32_t before = g_fakeMs;
  EXPECT_TRUE(c.phone->Request(0xF0, "", false, reply, 1, "F0"));
  EXPECT_EQ(g_fakeMs, before);

  // Not while a frame is being written.
  c.env.sending = true;
  reply = "x";
  EXPECT_FALSE(c.phone->Request(0x17, FromHex("00 01 00 0A 02 00"), false, reply, 1, "8310_BAT"));
  EXPECT_EQ(reply, "");
  c.env.sending = false;
  EXPECT_FALSE(c.phone->Busy());
}

TEST(NokiaPhone, SameKeyWhileBusyIsRefusedAndSendsNothing) {
  TConnected c;
  bool inner = true;
  std::string innerReply = "x";
  int sentDuring = -1;
  c.env.duringWait = [&] {
    const int before = c.env.CountSent(0x17, "");
    inner = c.phone->Request(0x17, FromHex("00 01 00 0A 02 00"), false, innerReply, 1, "8310_BAT");
    sentDuring = c.env.CountSent(0x17, "") - before;
  };
  std::string reply;
  EXPECT_TRUE(c.phone->Request(0x17, FromHex("00 01 00 0A 02 00"), false, reply, 1, "8310_BAT"));
  EXPECT_FALSE(inner);
  EXPECT_EQ(innerReply, "");
  EXPECT_EQ(sentDuring, 0);
}

TEST(NokiaPhone, TimedOutRequestIsNotTurnedIntoSuccess) {
  TConnected c;
  // The phone sends only a cut-off frame for this request and answers the probe.
  c.env.On(0x1B, FromHex("00 01 00 07"),
           {{0x1B, FromHex("1E 10 00 1B 00")}, {0x1B, FromHex("1E 10 00 1B 00 0A 00 01 00")}});
  std::string reply = "stale";
  EXPECT_FALSE(c.phone->Request(0x1B, FromHex("00 01 00 07 00 02"), false, reply, 1, "8310_HW"));
  EXPECT_EQ(reply, "");
  EXPECT_EQ(c.phone->RequestResult("8310_HW"), "");
  EXPECT_EQ(c.phone->RequestState("8310_HW"), "NONE");
  EXPECT_EQ(c.phone->GetHWVersion(), "");
}

TEST(NokiaPhone, SendFailureDisconnectsAndReportsOnce) {
  TConnected c;
  c.env.failSends = true;
  std::string reply;
  EXPECT_FALSE(c.phone->Request(0x17, FromHex("00 01 00 0A 02 00"), false, reply, 1, "8310_BAT"));
  EXPECT_FALSE(c.phone->Connected());
  EXPECT_EQ(c.phone.events.disconnects, 1);
  EXPECT_EQ(c.env.LinksAlive(), 0);
}

TEST(NokiaPhone, NotConnectedRequestsReturnAtOnce) {
  TFakeEnv env;
  TPhoneHolder phone(env);
  std::string reply = "untouched";
  EXPECT_FALSE(phone->Request(0xD1, FromHex("00 01 00 03 00"), false, reply, 1, "SYS_GET"));
  EXPECT_EQ(reply, "untouched");
  EXPECT_EQ(phone->GetIMEI(), "");
  EXPECT_EQ(phone->GetHWVersion(), "");
  EXPECT_EQ(phone->GetDateTime(), 0);
  EXPECT_EQ(phone->GetAlarm(), 0);
}

// --- Dispatcher -----------------------------------------------------------------------------------------

TEST(NokiaPhone, DispatcherLevelsAndRecords) {
  TConnected c;
  TNokiaPhone* p = c.phone.phone;
  // Type 04, [9] = 05: levels change, "STAT_INFO" does not.
  p->DispatchFrame(0x04, PhoneFbusFrame(0x04, FromHex("00 01 00 05 01 02 00 01 03 00")));
  EXPECT_EQ(p->BatteryLevel(), 75);
  EXPECT_EQ(p->SignalLevel(), 50);
  EXPECT_EQ(p->RequestState("STAT_INFO"), "");
  EXPECT_EQ(c.phone.events.battery, 1);
  EXPECT_EQ(c.phone.events.signal, 1);
  // The same levels again fire nothing.
  p->DispatchFrame(0x04, PhoneFbusFrame(0x04, FromHex("00 01 00 02 01 02 00 01 03 00")));
  EXPECT_EQ(c.phone.events.battery, 1);
  EXPECT_EQ(c.phone.events.signal, 1);
  EXPECT_EQ(p->RequestState("STAT_INFO"), "OK");
  // A camera frame is recorded whole.
  const std::string camera = PhoneFbusFrame(0x61, FromHex("00 01 00 01"));
  p->DispatchFrame(0x61, camera);
  EXPECT_EQ(p->RequestResult("GET_CAMERA"), camera);
  // Frames too short for their rows change nothing and read nothing beyond them.
  p->DispatchFrame(0x1B, FromHex("1E 10 00 1B"));
  p->DispatchFrame(0x04, FromHex("1E"));
  p->DispatchFrame(0x40, "");
  EXPECT_EQ(p->BatteryLevel(), 75);
  // An identity reply keeps its tail.
  p->DispatchFrame(0x1B, PhoneFbusFrame(0x1B, FromHex("00 01 00 01 00 01 41")));
  EXPECT_EQ(p->RawIdentity(), PhoneFbusFrame(0x1B, FromHex("00 01 00 01 00 01 41")).substr(9));
}

TEST(NokiaPhone, ImeiChangeIsReported) {
  TConnected c;
  EXPECT_EQ(c.phone->GetIMEI(), "350612345678901");
  EXPECT_TRUE(c.phone.events.changes.empty());
  c.env.On(0x1B, FromHex("00 01 00 00 41"),
           {Reply(0x1B, FromHex("00 01 00 01 00 01 41 00 00 0F") + "350612345678902" + std::string(1, '\0'))});
  EXPECT_EQ(c.phone->GetIMEI(), "350612345678902");
  ASSERT_EQ(c.phone.events.changes.size(), 1u);
  EXPECT_EQ(c.phone.events.changes[0].first, "350612345678901");
  EXPECT_EQ(c.phone.events.changes[0].second, "350612345678902");
}

// --- Keep-alive, disconnect, lifetime ------------------------------------------------------------------------

TEST(NokiaPhone, KeepAliveInterval) {
  struct Case {
    void (*script)(TFakeEnv&);
    std::uint8_t link;
    std::uint32_t interval;
  };
  const Case cases[] = {
      {ScriptRhv3, kLinkAtSwitch, 3000},
      {ScriptRhv3, kLinkFbusCable, 15000},
      {ScriptNpe4, kLinkAtSwitch, 15000},
  };
  for (const Case& c : cases) {
    TFakeEnv env;
    c.script(env);
    TPhoneHolder phone(env, c.link);
    ASSERT_TRUE(phone->Connect(false));
    EXPECT_EQ(phone->KeepAliveTimer().Interval(), c.interval);
    EXPECT_TRUE(phone->KeepAliveTimer().Enabled());
    phone->Disconnect();
    EXPECT_FALSE(phone->KeepAliveTimer().Enabled());
  }
}

TEST(NokiaPhone, KeepAliveChecksAndReadsStatus) {
  TFakeEnv env;
  ScriptRhv3(env);
  env.On(0x17, FromHex("00 01 00 0A 02 00"), {Reply(0x17, FromHex("00 01 00 0B 00 01 00 00 64 4B 00"))});
  TPhoneHolder phone(env, kLinkAtSwitch);
  ASSERT_TRUE(phone->Connect(false));
  env.ClearSent();
  phone->KeepAlive(nullptr);
  EXPECT_EQ(env.CountSent(0xDA, ""), 1);                         // DA_CHECK
  EXPECT_EQ(env.CountSent(0x1B, FromHex("00 01 00 00 41")), 1);  // identity
  EXPECT_EQ(env.CountSent(0x17, ""), 1);                         // battery
  EXPECT_EQ(phone->BatteryLevel(), 75);
  EXPECT_EQ(phone.events.battery, 1);
  EXPECT_TRUE(phone->KeepAliveTimer().Enabled());
  // Suspended by the state byte, and by a request in progress.
  env.ClearSent();
  phone->SetState(1);
  phone->KeepAlive(nullptr);
  EXPECT_TRUE(env.Sent().empty());
}

TEST(NokiaPhone, DisconnectTwiceAndFreeWhileConnected) {
  {
    TConnected c;
    c.phone->Disconnect();
    EXPECT_EQ(c.env.CountSent(0x10, FromHex("00 01 00 10 00")), 1);  // 7110_DEINIT of family 4
    EXPECT_FALSE(c.phone->IsActive());
    EXPECT_TRUE(c.phone->Disconnecting());
    EXPECT_EQ(c.env.LinksAlive(), 0);
    c.phone->Disconnect();
    EXPECT_EQ(c.env.CountSent(0x10, FromHex("00 01 00 10 00")), 1);
    EXPECT_EQ(c.phone.events.disconnects, 0);
  }
  {
    // Handed over and ignored: whoever holds it frees it.
    TFakeEnv env;
    ScriptNpe4(env);
    TNokiaPhone* phone = New<TNokiaPhone>(static_cast<TComponent*>(nullptr), static_cast<TPhonePlatform&>(env));
    phone->LinkMethod = kLinkFbusCable;
    phone->SetPort(3);
    ASSERT_TRUE(phone->Connect(false));
    phone->Free();
    EXPECT_EQ(env.LinksAlive(), 0);
    EXPECT_EQ(env.CountSent(0x10, FromHex("00 01 00 10 00")), 1);
  }
}

// The finder keeps one phone object for all its attempts. An infrared phone that
// answers the model but not the identity is dropped by the next attempt's
// Disconnect; the phone that object finds next must still get its retries and
// its keep-alive.
TEST(NokiaPhone, AConnectAfterADroppedConnectionRetriesAndKeepsAlive) {
  TFakeEnv env;
  env.On(0xD1, FromHex("00 01 00 03"), {SysGetReply("V 05.10", "12-03-02", "NPE-4")});
  TPhoneHolder phone(env, kLinkInfrared);
  ASSERT_TRUE(phone->Connect(false));
  EXPECT_EQ(phone->GetIMEI(), "");
  phone->Disconnect();
  ASSERT_TRUE(phone->Disconnecting());

  // The next candidate: a 6310 on the cable whose first identity reply is late.
  ScriptNpe4(env);
  env.Late(0x1B, FromHex("00 01 00 00 41"), 1);
  phone->LinkMethod = kLinkFbusCable;
  phone->Socket = 0;
  phone->SetPort(4);
  ASSERT_TRUE(phone->Connect(false));
  EXPECT_FALSE(phone->Disconnecting());
  EXPECT_EQ(phone->GetIMEI(), "350612345678901");
  EXPECT_EQ(phone->FailureCode(), 0);
  EXPECT_GE(env.CountSent(0x1B, FromHex("00 01 00 00 41")), 2);
  EXPECT_TRUE(phone->KeepAliveTimer().Enabled());

  env.ClearSent();
  phone->KeepAlive(nullptr);
  EXPECT_EQ(env.CountSent(0x1B, FromHex("00 01 00 00 41")), 1);  // identity
  EXPECT_EQ(env.CountSent(0x17, ""), 1);                         // battery
  EXPECT_EQ(phone->BatteryLevel(), 75);
  EXPECT_TRUE(phone->KeepAliveTimer().Enabled());
  EXPECT_EQ(phone.events.disconnects, 0);
}

TEST(NokiaPhone, LinkClosedReportsOnce) {
  TConnected c;
  c.phone->LinkClosed();
  c.phone->LinkClosed();
  EXPECT_EQ(c.phone.events.disconnects, 1);
  EXPECT_FALSE(c.phone->Connected());
  EXPECT_EQ(c.env.LinksAlive(), 0);
}

TEST(NokiaPhone, ClockAndAlarmFamily4) {
  TConnected c;
  c.env.On(0x19, FromHex("00 01 00 0A 00 00"),
           {Reply(0x19, FromHex("00 01 00 0B 00 01 01 0C 01 03 07 EA 03 0F 0A 1E 2D 00"))});
  c.env.On(0x19, FromHex("00 01 00 01 00 01 01 0C 01 03"), {Reply(0x19, FromHex("00 01 00 02 00"))});
  const TPhoneDateTime t = PhoneDecodeDateTime(c.phone->GetDateTime());
  EXPECT_EQ(t, (TPhoneDateTime{2026, 3, 15, 10, 30, 45}));
  c.env.ClearSent();
  c.phone->SetDateTime(PhoneEncodeDateTime({2026, 4, 1, 8, 5, 7}));
  const auto sent = c.env.Sent();
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(sent[0].payload, FromHex("00 01 00 01 00 01 01 0C 01 03 07 EA 04 01 08 05 07 00"));
  // A clock set that fails raises.
  c.env.Mute(true);
  EXPECT_ANY_THROW(c.phone->SetDateTime(PhoneEncodeDateTime({2026, 4, 1, 8, 5, 7})));
}

// --- Two threads ------------------------------------------------------------------------------------------------

namespace {

class TConnectThread : public TThread {
 public:
  TConnectThread(TNokiaPhone* phone) : TThread(true), phone_(phone) {}
  bool result = false;
  std::string imei;

 protected:
  void Execute() override {
    result = phone_->Connect(false);
    imei = phone_->GetIMEI();
  }

 private:
  TNokiaPhone* phone_;
};

}  // namespace

TEST(NokiaPhoneThreads, ConnectOnASearchThreadWithRepliesOnTheMainThread) {
  TMainThreadScope main;
  TFakeEnv env(true);
  ScriptNpe4(env);
  TPhoneHolder phone(env);
  auto* thread = New<TConnectThread>(phone.phone);
  thread->Resume();
  thread->WaitFor();  // serves the replies meanwhile
  EXPECT_TRUE(thread->result);
  EXPECT_EQ(thread->imei, "350612345678901");
  thread->Free();
  EXPECT_EQ(phone->GetModel(), "NPE-4");
  EXPECT_EQ(phone->Family(), 4);
  // Read on the main thread, the replies handed over while it waits.
  EXPECT_EQ(phone->GetIMEI(), "350612345678901");
  phone->Free();
  phone.phone = nullptr;
  EXPECT_EQ(env.LinksAlive(), 0);
}

TEST(NokiaPhoneThreads, DisconnectFromTheMainThreadDuringAConnect) {
  TMainThreadScope main;
  TFakeEnv env(true);
  env.Mute(true);
  TPhoneHolder phone(env);
  auto* thread = New<TConnectThread>(phone.phone);
  thread->Resume();
  // Let the search thread get into its first wait, serving calls meanwhile.
  for (int i = 0; i < 20 && env.Sent().empty(); ++i) CheckSynchronize(10);
  phone->Disconnect();
  phone->Disconnect();
  thread->WaitFor();
  EXPECT_FALSE(thread->result);
  EXPECT_FALSE(phone->IsActive());
  thread->Free();
  EXPECT_EQ(env.LinksAlive(), 0);
}

namespace {
// A holder on another thread that was handed a connected phone and ignores it.
class TFreeThread : public TThread {
 public:
  explicit TFreeThread(TNokiaPhone* phone) : TThread(true), phone_(phone) {}

 protected:
  void Execute() override {
    phone_->Disconnect();
    phone_->Free();
  }

 private:
  TNokiaPhone* phone_;
};
}  // namespace

TEST(NokiaPhoneThreads, PhoneFreedOnTheSearchThreadReleasesItsLinkOnTheMainThread) {
  TMainThreadScope main;
  TFakeEnv env(true);
  ScriptNpe4(env);
  TNokiaPhone* phone = New<TNokiaPhone>(static_cast<TComponent*>(nullptr), static_cast<TPhonePlatform&>(env));
  phone->LinkMethod = kLinkFbusCable;
  phone->SetPort(2);
  ASSERT_TRUE(phone->Connect(false));
  auto* thread = New<TFreeThread>(phone);
  thread->Resume();
  thread->WaitFor();
  thread->Free();
  EXPECT_EQ(env.LinksAlive(), 0);
  EXPECT_EQ(env.CountSent(0x10, FromHex("00 01 00 10 00")), 1);
}

TEST(NokiaPhone, HardwareVersionStatusAndAlarmOfTheOlderFamilies) {
  {
    TFakeEnv env;
    ScriptNse3(env);
    env.On(0x40, FromHex("00 01 C8 05"), {Reply(0x40, FromHex("00 01 C8 05 01") + "0501" + '\0')});
    env.On(0x11, FromHex("00 01 00 6D"), {Reply(0x11, FromHex("00 01 00 6E 01 20 03 01 02 07 1E 00"))});
    TPhoneHolder phone(env);
    ASSERT_TRUE(phone->Connect(false));
    EXPECT_EQ(phone->GetHWVersion(), "0501");
    phone->UpdateStatus();  // "STAT_INFO": battery 3 bars, signal 2 bars
    EXPECT_EQ(phone->BatteryLevel(), 75);
    EXPECT_EQ(phone->SignalLevel(), 50);
    const TDateTime alarm = phone->GetAlarm();
    EXPECT_NEAR(alarm - std::floor(alarm), (7 * 60 + 30) / 1440.0, 1e-9);
  }
  {
    TFakeEnv env;
    ScriptNse5(env);
    env.On(0x17, FromHex("00 01 00 02"), {Reply(0x17, FromHex("00 01 00 03 01 4B 00"))});
    env.On(0x0A, FromHex("00 01 00 81"), {Reply(0x0A, FromHex("00 01 00 82 32 00"))});
    TPhoneHolder phone(env);
    ASSERT_TRUE(phone->Connect(false));
    EXPECT_EQ(env.CountSent(0x02, FromHex("00 01 00 67 1F")), 1);  // SMS_INIT7110
    phone->UpdateStatus();
    EXPECT_EQ(phone->BatteryLevel(), 75);
    EXPECT_EQ(phone->SignalLevel(), 50);
    EXPECT_EQ(phone.events.battery, 1);
    EXPECT_EQ(phone.events.signal, 1);
  }
  {
    TConnected c;
    EXPECT_EQ(c.phone->GetHWVersion(), "0800");
  }
}
