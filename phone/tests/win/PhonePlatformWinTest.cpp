#include "PhonePlatformWin.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <thread>

#include "ExtCtrls.h"
#include "LinkFrames.h"
#include "NokiaPhone.h"
#include "Thread.h"
#include "Win32Platform.h"
#include "WinTestSupport.h"

namespace {

// Runs `work` on a thread of its own (as the finder's search thread) while this
// thread, the main thread, handles messages and synchronous calls.
template <class F>
void RunOnWorker(F work, int ms = 60000) {
  std::atomic<bool> finished{false};
  std::thread worker([&] {
    try {
      work();
    } catch (...) {
      ADD_FAILURE() << "the worker raised";
    }
    finished = true;
  });
  EXPECT_TRUE(WaitUntil([&] { return finished.load(); }, ms)) << "the worker did not finish";
  worker.join();
}

TNokiaPhone* NewPhone(TPhonePlatform& platform) {
  return New<TNokiaPhone>(static_cast<TComponent*>(nullptr), platform);
}

// --- The wait ----------------------------------------------------------------------------------

TEST(PumpingPhoneWait, OneSignalWakesEveryWaiterOnOtherThreads) {
  TPumpingPhoneWait wait;
  std::atomic<bool> done{false};
  std::atomic<int> returned{0};
  std::atomic<int> sawDone{0};
  std::vector<std::thread> waiters;
  for (int i = 0; i < 2; ++i) {
    waiters.emplace_back([&] {
      wait.WaitUntil([&] { return done.load(); }, 30000);
      if (done) ++sawDone;
      ++returned;
    });
  }
  DelayWithMessages(100);  // both are waiting by now
  EXPECT_EQ(returned.load(), 0) << "nothing ends the wait before it is signalled";
  done = true;
  wait.Signal();
  EXPECT_TRUE(WaitUntil([&] { return returned.load() == 2; }, 15000)) << "the signal, not the time-out, ends the waits";
  for (auto& t : waiters) t.join();
  EXPECT_EQ(sawDone.load(), 2);
}

TEST(PumpingPhoneWait, OnTheMainThreadServesSynchronousCalls) {
  TPumpingPhoneWait wait;
  std::atomic<bool> done{false};
  std::thread worker([&] {
    SynchronizeCall([&] {
      done = true;
      wait.Signal();
    });
  });
  wait.WaitUntil([&] { return done.load(); }, 30000);
  EXPECT_TRUE(done.load()) << "the synchronous call ran during the wait";
  worker.join();
}

TEST(PumpingPhoneWait, EndsAtTheTimeOutAndAtOnceWhenAlreadyDone) {
  TPumpingPhoneWait wait;
  struct {
    bool main;
  } const cases[] = {{true}, {false}};
  for (const auto& c : cases) {
    std::uint64_t elapsed = 0;
    const auto run = [&] {
      const std::uint64_t start = MonotonicMilliseconds();
      wait.WaitUntil([] { return false; }, 200);
      elapsed = MonotonicMilliseconds() - start;
    };
    if (c.main) {
      run();
    } else {
      RunOnWorker(run);
    }
    EXPECT_GE(elapsed, 180u) << (c.main ? "main thread" : "worker");
    int calls = 0;
    wait.WaitUntil(
        [&] {
          ++calls;
          return true;
        },
        30000);
    EXPECT_EQ(calls, 1);
  }
  wait.Signal();  // no waiter: nothing to do
}

// --- The keep-alive timer ------------------------------------------------------------------------

struct TTimerSink {
  std::atomic<int> fired{0};
  std::atomic<DWORD> thread{0};
  void OnTimer(TObject*) {
    ++fired;
    thread = GetCurrentThreadId();
  }
};

TEST(WinPhoneTimer, MadeAndArmedOnAWorkerItFiresOnTheMainThread) {
  TWinPhonePlatform platform;
  TTimerSink sink;
  std::unique_ptr<TPhoneTimer> timer;
  RunOnWorker([&] {
    timer = platform.CreateTimer(30, TNotifyEvent::Bind<&TTimerSink::OnTimer>(&sink));
    EXPECT_FALSE(timer->Enabled()) << "made disabled";
    EXPECT_EQ(timer->Interval(), 30u);
    timer->SetEnabled(true);
  });
  ASSERT_TRUE(WaitUntil([&] { return sink.fired.load() >= 2; }, 10000)) << "the timer never fired";
  EXPECT_EQ(sink.thread.load(), GetCurrentThreadId());
  RunOnWorker([&] { timer->SetEnabled(false); });
  DelayWithMessages(100);  // the disarming request reaches the timer's window
  const int fired = sink.fired.load();
  DelayWithMessages(200);
  EXPECT_EQ(sink.fired.load(), fired) << "a disabled timer stays quiet";
  RunOnWorker([&] { timer.reset(); });
}

// --- The platform --------------------------------------------------------------------------------

TEST(WinPhonePlatform, IsInstalledForNewPhones) {
  UseWinPhonePlatform();
  EXPECT_NE(dynamic_cast<TWinPhonePlatform*>(&GetPhonePlatform()), nullptr);
  SetPhonePlatform(nullptr);
  EXPECT_EQ(dynamic_cast<TWinPhonePlatform*>(&GetPhonePlatform()), nullptr);
}

TEST(WinPhonePlatform, ConnectingOnAMissingPortFailsWithItsCode) {
  TWinPhonePlatform platform;
  struct {
    std::uint8_t method;
    std::uint8_t code;
  } const cases[] = {{kLinkFbusCable, kFailNoDevice}, {kLinkAtSwitch, kFailNoDevice}, {kLinkBluetooth, kFailNoDevice}};
  for (const auto& c : cases) {
    TNokiaPhone* phone = NewPhone(platform);
    phone->LinkMethod = c.method;
    phone->SetPort(250);
    EXPECT_FALSE(phone->Connect(false));
    EXPECT_EQ(phone->FailureCode(), c.code) << "link method " << int(c.method);
    EXPECT_FALSE(phone->HasLink());
    phone->Free();
  }
}

// --- With the simulated phones -------------------------------------------------------------------

// A simulator the test driver started: the environment variables of its port and log.
struct TSimulator {
  const char* portVariable;
  const char* logVariable;
};
const TSimulator kNpe4{"PELLORY_PHONESIM_PORT", "PELLORY_PHONESIM_LOG"};  // the driver's answering phone
const TSimulator kNse3{"PELLORY_PHONESIM_NSE3_PORT", "PELLORY_PHONESIM_NSE3_LOG"};
const TSimulator kNpw2{"PELLORY_PHONESIM_NPW2_PORT", "PELLORY_PHONESIM_NPW2_LOG"};
const TSimulator kMute{"PELLORY_PHONESIM_MUTE_PORT", "PELLORY_PHONESIM_MUTE_LOG"};

int PortOf(const TSimulator& sim) {
  const char* port = std::getenv(sim.portVariable);
  return port ? std::atoi(port) : 0;
}

// Received frames in a simulator's log (from line `from` on) that start with `prefix`.
int CountFrames(const TSimulator& sim, std::size_t from, const std::string& prefix) {
  const auto lines = SimulatorLogIn(sim.logVariable);
  int n = 0;
  for (std::size_t i = from; i < lines.size(); ++i) {
    if (lines[i].compare(0, prefix.size(), prefix) == 0) ++n;
  }
  return n;
}

class PhoneSimPlatform : public ::testing::Test {
 protected:
  void TearDown() override { Close(); }

  // A phone on the simulator's port; null (the test skips) when the driver did not start it.
  TNokiaPhone* Open(const TSimulator& sim, std::uint8_t method) {
    if (PortOf(sim) == 0) return nullptr;
    sim_ = &sim;
    from_ = SimulatorLogIn(sim.logVariable).size();
    phone_ = NewPhone(platform_);
    phone_->LinkMethod = method;
    phone_->SetPort(PortOf(sim));
    return phone_;
  }
  // Frees the phone; the simulator has seen the line close before the next test opens it.
  void Close() {
    if (!phone_) return;
    const bool hadLink = phone_->HasLink();
    FreeAndNil(phone_);
    if (!hadLink) return;
    EXPECT_TRUE(WaitUntil(
        [&] {
          const auto lines = SimulatorLogIn(sim_->logVariable);
          for (std::size_t i = from_; i < lines.size(); ++i) {
            if (lines[i] == "CLOSE") return true;
          }
          return false;
        },
        5000))
        << "the link was not closed";
  }
  std::vector<std::string> LogSinceOpen() const {
    auto lines = SimulatorLogIn(sim_->logVariable);
    lines.erase(lines.begin(), lines.begin() + static_cast<std::ptrdiff_t>(std::min(from_, lines.size())));
    return lines;
  }

  TWinPhonePlatform platform_;
  TNokiaPhone* phone_ = nullptr;
  const TSimulator* sim_ = nullptr;
  std::size_t from_ = 0;
};

#define OPEN_OR_FAIL(sim, method)                                                                                      \
  do {                                                                                                                 \
    if (!Open(sim, method)) GTEST_FAIL() << "no simulated phone: run this test through phone/tests/win/with-phonesim"; \
  } while (0)

TEST_F(PhoneSimPlatform, Npe4IdentifiesOnTheFbusCable) {
  OPEN_OR_FAIL(kNpe4, kLinkFbusCable);
  ASSERT_TRUE(phone_->Connect(false)) << "failure code " << int(phone_->FailureCode());
  EXPECT_TRUE(phone_->Connected());
  EXPECT_EQ(phone_->FailureCode(), 0);
  EXPECT_EQ(phone_->GetModel(), "NPE-4");
  EXPECT_EQ(phone_->Family(), 4);
  EXPECT_EQ(phone_->GetSWVersion(), "V 05.10");
  EXPECT_EQ(phone_->GetIMEI(), "350612345678901");
  EXPECT_TRUE(phone_->KeepAliveTimer().Enabled()) << "the keep-alive runs once connected";
  phone_->Disconnect();
  EXPECT_FALSE(phone_->Connected());
  EXPECT_FALSE(phone_->HasLink());
  phone_->Disconnect();  // a second call does nothing
}

TEST_F(PhoneSimPlatform, Nse3ConnectsFromTheSearchThreadWithThe5110Requests) {
  OPEN_OR_FAIL(kNse3, kLinkFbusCable);
  bool connected = false;
  RunOnWorker([&] { connected = phone_->Connect(false); });
  ASSERT_TRUE(connected) << "failure code " << int(phone_->FailureCode());
  EXPECT_EQ(phone_->GetModel(), "NSE-3");
  EXPECT_EQ(phone_->Family(), 1);
  EXPECT_EQ(phone_->GetIMEI(), "449123456789012");
  // FBUS frames of type 40: the initialisation 00 01 64 01 and the identity request 00 01 66.
  EXPECT_GE(CountFrames(kNse3, from_, "1E 00 10 40 00 06 00 01 64 01 "), 1) << "no 5110 initialisation";
  EXPECT_GE(CountFrames(kNse3, from_, "1E 00 10 40 00 05 00 01 66 "), 1) << "no 5110 identity request";
}

TEST_F(PhoneSimPlatform, Npw2GivesAnElevenCharacterEsn) {
  OPEN_OR_FAIL(kNpw2, kLinkFbusCable);
  ASSERT_TRUE(phone_->Connect(false)) << "failure code " << int(phone_->FailureCode());
  EXPECT_EQ(phone_->GetModel(), "NPW-2");
  EXPECT_EQ(phone_->Family(), 4);
  const std::string esn = phone_->GetIMEI();
  EXPECT_EQ(esn.size(), 11u);
  EXPECT_EQ(esn, "12345678901");
}

TEST_F(PhoneSimPlatform, AMutePhoneFailsWithCode13) {
  OPEN_OR_FAIL(kMute, kLinkFbusCable);
  bool connected = true;
  RunOnWorker([&] { connected = phone_->Connect(false); });
  EXPECT_FALSE(connected);
  EXPECT_EQ(phone_->FailureCode(), 13);
  EXPECT_FALSE(phone_->Connected());
  EXPECT_FALSE(phone_->IsActive());
  EXPECT_FALSE(phone_->HasLink()) << "the link is released";
  EXPECT_FALSE(phone_->KeepAliveTimer().Enabled());
  // The model read was sent again before the phone was given up.
  EXPECT_GE(CountFrames(kMute, from_, "1E 00 10 D1 00 07 00 01 00 03 00 "), 2);
  EXPECT_TRUE(WaitUntil(
      [&] {
        const auto lines = LogSinceOpen();
        return std::find(lines.begin(), lines.end(), "CLOSE") != lines.end();
      },
      5000))
      << "the port was closed";
}

TEST_F(PhoneSimPlatform, AtSwitchIdentifiesNse3) {
  OPEN_OR_FAIL(kNse3, kLinkAtSwitch);
  ASSERT_TRUE(phone_->Connect(false)) << "failure code " << int(phone_->FailureCode());
  EXPECT_EQ(phone_->GetModel(), "NSE-3");
  EXPECT_EQ(phone_->GetIMEI(), "449123456789012");
  const auto lines = LogSinceOpen();
  EXPECT_NE(std::find(lines.begin(), lines.end(), "AT at*nokiafbus"), lines.end()) << "the cable was switched";
}

TEST_F(PhoneSimPlatform, BluetoothPhonetIdentifiesNpe4) {
  OPEN_OR_FAIL(kNpe4, kLinkBluetooth);
  ASSERT_TRUE(phone_->Connect(false)) << "failure code " << int(phone_->FailureCode());
  EXPECT_EQ(phone_->GetModel(), "NPE-4");
  EXPECT_EQ(phone_->GetSWVersion(), "V 05.10");
  EXPECT_EQ(phone_->GetIMEI(), "350612345678901");
  EXPECT_GE(CountFrames(kNpe4, from_, "19 00 10 D0 00 01 04"), 1) << "the PhoNet set-up frame went first";
}

}  // namespace
