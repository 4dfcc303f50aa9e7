#include "CommP.h"

#include <gtest/gtest.h>

#include <cstdint>

#include "Win32Platform.h"
#include "WinTestSupport.h"

namespace {

class TWin32Environment : public ::testing::Environment {
 public:
  void SetUp() override { InitWin32Platform(); }
};
[[maybe_unused]] const ::testing::Environment* gEnvironment =
    ::testing::AddGlobalTestEnvironment(new TWin32Environment);

// A COM number that no prefix maps.
constexpr std::uint8_t kMissingPort = 250;

TEST(CommP, ConstructorValues) {
  TOwned<TCustComPort> port(New<TCustComPort>(nullptr));
  EXPECT_EQ(port->BaudRate, br9600);
  EXPECT_EQ(port->Port, 1);
  EXPECT_EQ(port->GetDataBits(), 8);
  EXPECT_EQ(EventMaskOf(port->Events), static_cast<DWORD>(EV_RXCHAR | EV_TXEMPTY | EV_RXFLAG | EV_RING | EV_BREAK |
                                                          EV_CTS | EV_DSR | EV_ERR | EV_RLSD));
  EXPECT_TRUE(port->EnableDTR);
  EXPECT_EQ(port->WriteBufSize, 2048);
  EXPECT_FALSE(port->GetDTR());
  EXPECT_FALSE(port->Connected());
  EXPECT_EQ(port->DeviceName(), "\\\\.\\COM1");
}

TEST(CommP, DataBitsAreKeptBetweenFiveAndEight) {
  struct {
    int in, stored;
  } const cases[] = {{4, 5}, {0, 5}, {5, 5}, {7, 7}, {8, 8}, {9, 8}, {255, 8}};
  TOwned<TCustComPort> port(New<TCustComPort>(nullptr));
  for (const auto& c : cases) {
    port->StoreDataBits(static_cast<std::uint8_t>(c.in));
    EXPECT_EQ(port->GetDataBits(), c.stored) << "DataBits := " << c.in;
  }
}

TEST(CommP, LinesOfAClosedPortAreOnlyStored) {
  TOwned<TCustComPort> port(New<TCustComPort>(nullptr));
  port->StoreDTR(true);
  port->StoreRTS(true);
  EXPECT_TRUE(port->GetDTR());
  EXPECT_TRUE(port->GetRTS());
}

TEST(CommP, WritesWaitThreeMillisecondsAByteWithinBounds) {
  struct {
    std::size_t bytes;
    DWORD ms;
  } const cases[] = {{0, 100},     {10, 100},    {33, 100},    {34, 102},       {500, 1500},
                     {1066, 3198}, {1067, 3200}, {2000, 3200}, {SIZE_MAX, 3200}};
  for (const auto& c : cases) EXPECT_EQ(WriteWaitMilliseconds(c.bytes), c.ms) << c.bytes << " bytes";
}

TEST(CommP, EnumerationsMapToTheirWin32Values) {
  EXPECT_EQ(BaudRateValue(br110), 110u);
  EXPECT_EQ(BaudRateValue(br19200), 19200u);
  EXPECT_EQ(BaudRateValue(br115200), 115200u);
  EXPECT_EQ(BaudRateValue(brTooMuch), 230400u);
  EXPECT_EQ(EventMaskOf(TEvents{evRxChar, evCTS}), static_cast<DWORD>(EV_RXCHAR | EV_CTS));
  EXPECT_EQ(EventMaskOf(TEvents{}), 0u);
  EXPECT_EQ(EventMaskOf(TEvents{evError, evRLSD}), static_cast<DWORD>(EV_ERR | EV_RLSD));
}

TEST(CommP, OpeningAMissingPortRaisesWithTheErrorNumber) {
  TOwned<TCustComPort> port(New<TCustComPort>(nullptr));
  port->Port = kMissingPort;
  bool opened = false;
  port->OnOpen = TNotifyEvent::FromFunction(&opened, [](void* flag, TObject*) { *static_cast<bool*>(flag) = true; });
  try {
    port->OpenPort();
    ADD_FAILURE() << "opened COM" << int(kMissingPort);
  } catch (const EComHandle& e) {
    EXPECT_EQ(e.Message, "Unable to open com port: 2");
    EXPECT_EQ(e.ErrorCode, 2u);
  }
  EXPECT_FALSE(port->Connected());
  EXPECT_FALSE(opened);
  EXPECT_EQ(port->Handle(), INVALID_HANDLE_VALUE);
  port->ClosePort();  // nothing to do
}

TEST(CommP, ClosedPortIoFailsQuietly) {
  TOwned<TCustComPort> port(New<TCustComPort>(nullptr));
  std::string data = "left";
  EXPECT_EQ(port->WriteData("abc"), 0);
  EXPECT_EQ(port->InputCount(), 0);
  EXPECT_EQ(port->ReadData(data, 10), 0);
  EXPECT_TRUE(data.empty());
  EXPECT_FALSE(port->WaitForEvent());
  EXPECT_THROW(port->ApplySettings(), EComState);
}

// --- With the simulated phone ------------------------------------------------------------------

class PhoneSimPort : public ::testing::Test {
 protected:
  void SetUp() override {
    if (SimulatorPort() == 0) GTEST_FAIL() << "no simulated phone: run this test through phone/tests/win/with-phonesim";
    port_ = New<TCustComPort>(nullptr);
    port_->Port = static_cast<std::uint8_t>(SimulatorPort());
    port_->BaudRate = br115200;
    port_->Events = TEvents{evRxChar, evCTS};
  }
  void TearDown() override {
    if (port_) port_->Free();
  }
  TCustComPort* port_ = nullptr;
};

struct TRxLog {
  std::string bytes;
  int calls = 0;
  bool offMainThread = false;
  void OnRxChar(TObject* sender, int inQue) {
    ++calls;
    if (!IsMainThread()) offMainThread = true;
    std::string chunk;
    static_cast<TCustComPort*>(sender)->ReadData(chunk, inQue);
    bytes += chunk;
  }
};

TEST_F(PhoneSimPort, OpensWritesAndReceivesOnTheMainThread) {
  TRxLog rx;
  port_->OnRxChar = TRxCharEvent::Bind<&TRxLog::OnRxChar>(&rx);
  port_->OpenPort();
  ASSERT_TRUE(port_->Connected());
  const std::size_t from = SimulatorLog().size();
  // The simulator answers the Bluetooth set-up frame.
  const std::string setup = Bytes({0x19, 0x00, 0x10, 0xD0, 0x00, 0x01, 0x04});
  EXPECT_EQ(port_->WriteData(setup), 7);
  EXPECT_GE(WaitForLogLine(from, ToHex(setup)), 0);
  ASSERT_TRUE(WaitUntil([&] { return rx.bytes.size() >= 7; })) << "received " << ToHex(rx.bytes);
  EXPECT_EQ(ToHex(rx.bytes), "19 10 00 D0 00 01 05");
  EXPECT_FALSE(rx.offMainThread);
  port_->ClosePort();
  EXPECT_FALSE(port_->Connected());
}

TEST_F(PhoneSimPort, FailedSettingsCloseTheHandle) {
  port_->StopBits = static_cast<TStopBits>(7);  // no such setting
  try {
    port_->OpenPort();
    ADD_FAILURE() << "the driver took stop-bit code 7";
  } catch (const EComState& e) {
    EXPECT_EQ(e.Message, "Unable to set com state: " + std::to_string(e.ErrorCode));
    EXPECT_NE(e.ErrorCode, 0u);
  }
  EXPECT_FALSE(port_->Connected());
  EXPECT_EQ(port_->Handle(), INVALID_HANDLE_VALUE) << "the handle was left open";
  port_->StopBits = sbOneStopBit;
  port_->OpenPort();
  EXPECT_TRUE(port_->Connected());
}

TEST_F(PhoneSimPort, ReadsOnlyWhatIsQueuedAndWaitsBoundedForEvents) {
  port_->OpenPort();
  std::string data;
  EXPECT_EQ(port_->ReadData(data, 100), 0) << "an empty queue does not block";
  EXPECT_FALSE(port_->WaitForEvent()) << "nothing arrives: the wait ends after its bound";
  port_->WriteData(Bytes({0x19, 0x00, 0x10, 0xD0, 0x00, 0x01, 0x04}));
  EXPECT_TRUE(WaitUntil([&] { return port_->WaitForEvent(); }));
}

// The answer to the last write ends a line-event wait even when OnRxChar has
// already read it during a pause that handled messages; one answer ends one
// wait, and an answer to an earlier write ends none.
TEST_F(PhoneSimPort, AnAnswerReadBeforeTheWaitStillEndsIt) {
  TRxLog rx;
  port_->OnRxChar = TRxCharEvent::Bind<&TRxLog::OnRxChar>(&rx);
  port_->OpenPort();
  EXPECT_EQ(port_->LineEventWaitsRunOut(), 0);
  const std::string setup = Bytes({0x19, 0x00, 0x10, 0xD0, 0x00, 0x01, 0x04});
  struct {
    const char* what;
    bool answeredWrite;  // write the set-up frame and let the handler read the answer
    bool silentWrite;    // then write a byte the phone does not answer
    bool seen;
    int runOut;  // waits run out so far
  } const steps[] = {
      {"the answer to the last write, read already", true, false, true, 0},
      {"no write since the last wait", false, false, false, 1},
      {"an answer to an earlier write", true, true, false, 2},
      {"the answer again", true, false, true, 2},
  };
  for (const auto& s : steps) {
    if (s.answeredWrite) {
      const std::size_t before = rx.bytes.size();
      ASSERT_EQ(port_->WriteData(setup), 7) << s.what;
      ASSERT_TRUE(WaitUntil([&] { return rx.bytes.size() >= before + 7; })) << s.what << ": " << ToHex(rx.bytes);
      ASSERT_EQ(port_->InputCount(), 0) << s.what << ": the handler left bytes in the queue";
    }
    if (s.silentWrite) {
      ASSERT_EQ(port_->WriteData(std::string(1, '\0')), 1) << s.what;
    }
    EXPECT_EQ(port_->WaitForEvent(), s.seen) << s.what;
    EXPECT_EQ(port_->LineEventWaitsRunOut(), s.runOut) << s.what;
  }
}

TEST_F(PhoneSimPort, ClosingFromItsOwnHandlerNeitherHangsNorRunsLaterHandlers) {
  struct TCloser {
    TCustComPort* port;
    int calls = 0;
    void OnRxChar(TObject*, int) {
      ++calls;
      port->ClosePort();
    }
  } closer{port_};
  port_->OnRxChar = TRxCharEvent::Bind<&TCloser::OnRxChar>(&closer);
  port_->OpenPort();
  port_->WriteData(Bytes({0x19, 0x00, 0x10, 0xD0, 0x00, 0x01, 0x04}));
  ASSERT_TRUE(WaitUntil([&] { return closer.calls > 0; }));
  EXPECT_FALSE(port_->Connected());
  DelayWithMessages(100);
  EXPECT_EQ(closer.calls, 1);
  // The port opens again once the orphaned thread has let the handle go.
  EXPECT_TRUE(WaitUntil([&] {
    try {
      port_->OpenPort();
      return true;
    } catch (const EComHandle&) {
      return false;
    }
  }));
}

}  // namespace
