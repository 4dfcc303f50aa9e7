#include "PhoneFind.h"

#include "FakeFinder.h"
#include "MainThreadScope.h"
#include "RegistrySeed.h"
#include "Strings.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <stdexcept>
#include <thread>

namespace {

// Serves the search thread's synchronous calls until `done` holds (false after 20 s).
bool ServeUntil(const std::function<bool()>& done) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (!done()) {
    if (std::chrono::steady_clock::now() > end) return false;
    CheckSynchronize(5);
  }
  return true;
}

struct TFound {
  std::string imei;
  int port;
  int modelHint;
  std::string dku2Path;
  bool onMainThread;
};

struct TFailure {
  std::int32_t port;
  std::uint16_t code;
  bool operator==(const TFailure& o) const { return port == o.port && code == o.code; }
};

// The wizard's side: records the events (all on the main thread).
struct TRecorder {
  std::vector<TFound> found;
  std::vector<TFailure> failures;
  std::vector<std::uint16_t> passes;
  std::vector<TFinderPass> reports;
  // Looked at when each pass reports, if set.
  std::function<int()> probe;
  std::vector<int> probed;
  bool offMainThread = false;
  bool throwOnFailure = false;

  void Found(TNokiaPhone* phone) {
    offMainThread |= !IsMainThread();
    found.push_back({phone->GetIMEI(), phone->GetPort(), phone->ModelNumberHint, phone->Dku2Path, IsMainThread()});
    phone->Free();
  }
  void Failure(std::int32_t port, std::uint16_t code) {
    offMainThread |= !IsMainThread();
    failures.push_back({port, code});
    if (throwOnFailure) throw std::runtime_error("handler failed");
  }
  void Pass(const TFinderPass& pass) {
    offMainThread |= !IsMainThread();
    passes.push_back(pass.Count);
    reports.push_back(pass);
    probed.push_back(probe ? probe() : -1);
  }
  int FailuresOf(std::int32_t port) const {
    int n = 0;
    for (const auto& f : failures) n += f.port == port;
    return n;
  }
};

// A finder with the recorder hooked; freed (and its thread ended) at scope end.
class TFinderHolder {
 public:
  TFinderHolder(TFinderFakeEnv& env, TFinderDevices* devices = nullptr, RegistryBackend* registry = nullptr) {
    TFinderSetup setup;
    setup.phones = &env;
    setup.devices = devices;
    setup.registry = registry ? registry : &emptyRegistry_;
    finder = New<TPhoneFinder>(true, setup);
    finder->OnFound = TPhoneFoundEvent::Bind<&TRecorder::Found>(&events);
    finder->OnFailure = TPhoneFailureEvent::Bind<&TRecorder::Failure>(&events);
    finder->OnPass = TFinderPassEvent::Bind<&TRecorder::Pass>(&events);
  }
  ~TFinderHolder() { FreeAndNil(finder); }
  TPhoneFinder* operator->() { return finder; }
  // Waits for `n` more end-of-pass reports.
  bool Passes(std::size_t n) {
    const std::size_t target = events.passes.size() + n;
    return ServeUntil([&] { return events.passes.size() >= target; });
  }

  TRecorder events;
  TPhoneFinder* finder = nullptr;

 private:
  MemoryRegistryBackend emptyRegistry_;
};

TEST(PhoneFinder, TablesAndAccessors) {
  TMainThreadScope main;
  TFinderFakeEnv env;
  TFinderHolder f(env);
  EXPECT_EQ(f->LastCode(0), 0);
  for (int n = 1; n <= 255; ++n) {
    ASSERT_EQ(f->LastCode(n), 255) << n;
    ASSERT_EQ(f->GetPortMethod(n), 0) << n;
    ASSERT_EQ(f->GetPortEnabled(n), 1) << n;
  }
  EXPECT_EQ(f->IrDALastCode(), 255);
  // Outside 1 to 255: no mark, enabled, nothing stored.
  for (int port : {0, -2, 256, 1000}) {
    f->SetPortMethod(port, 2);
    f->SetPortEnabled(port, 0);
    EXPECT_EQ(f->GetPortMethod(port), 0) << port;
    EXPECT_EQ(f->GetPortEnabled(port), 1) << port;
  }
  // The search thread runs meanwhile: keep the port it could try disabled.
  f->SetPortEnabled(255, 0);
  f->SetPortMethod(255, 3);
  EXPECT_EQ(f->GetPortMethod(255), 3);
  f->ScanIrDA = true;
  f->ScanDku2 = true;
  f->ScanDku5 = true;
  f->ClearScanFlags();
  EXPECT_FALSE(f->ScanIrDA);
  EXPECT_FALSE(f->ScanDku2);
  EXPECT_TRUE(f->ScanDku5);
  for (int n = 1; n <= 255; ++n) ASSERT_EQ(f->GetPortEnabled(n), 0) << n;
  f->ScanDku5 = false;

  // Nothing marked: passes try nothing, the count stays as it was and is still
  // reported. A pass already under way while the IrDA and DKU-2 flags were
  // briefly set may have tried them; let it end first.
  ASSERT_TRUE(f.Passes(1));
  const auto countBefore = f->PassCount();
  const auto attemptsBefore = env.Attempts().size();
  const std::size_t reportsBefore = f.events.passes.size();
  ASSERT_TRUE(f.Passes(2));
  for (std::size_t i = reportsBefore; i < f.events.passes.size(); ++i) EXPECT_EQ(f.events.passes[i], countBefore);
  EXPECT_EQ(f->PassCount(), countBefore);
  EXPECT_EQ(env.Attempts().size(), attemptsBefore);
  EXPECT_FALSE(f.events.offMainThread);
}

TEST(PhoneFinder, PhoneOnOnePortAndAnAbsentPort) {
  TMainThreadScope main;
  TFinderFakeEnv env;
  env.Port(3, TPortAnswer::Phone, "350612345678901");
  env.Port(5, TPortAnswer::Absent);
  TFinderHolder f(env);
  for (int port : {3, 5}) {
    f->SetPortMethod(port, kMarkFbusCable);
    f->SetPortEnabled(port, 1);
  }
  ASSERT_TRUE(ServeUntil([&] { return !f.events.found.empty() && f.events.FailuresOf(5) > 0; }));
  ASSERT_EQ(f.events.found.size(), 1u);
  EXPECT_EQ(f.events.found[0].imei, "350612345678901");
  EXPECT_EQ(f.events.found[0].port, 3);
  EXPECT_TRUE(f.events.found[0].onMainThread);
  EXPECT_EQ(f.events.failures, (std::vector<TFailure>{{5, 12}}));

  // The absent port is disabled, the found one too with its last code cleared.
  EXPECT_EQ(f->GetPortEnabled(5), 0);
  EXPECT_EQ(f->LastCode(5), 12);
  EXPECT_EQ(f->GetPortEnabled(3), 0);
  EXPECT_EQ(f->LastCode(3), 0);

  // Later passes try neither port again; the pass count stays at the one pass that tried.
  ASSERT_TRUE(f.Passes(3));
  EXPECT_EQ(env.AttemptsOn(3), 1);
  EXPECT_EQ(env.AttemptsOn(5), 1);
  EXPECT_EQ(f.events.found.size(), 1u);
  EXPECT_EQ(f.events.failures.size(), 1u);
  EXPECT_EQ(f.events.passes.back(), 1);
  EXPECT_EQ(f->PassCount(), 1);
  for (const auto& a : env.Attempts()) EXPECT_EQ(a.linkMethod, kLinkFbusCable);

  // Enabled anew, the absent port is tried again; its unchanged code is not reported again.
  f->SetPortEnabled(5, 1);
  ASSERT_TRUE(ServeUntil([&] { return env.AttemptsOn(5) >= 2; }));
  ASSERT_TRUE(f.Passes(1));
  EXPECT_EQ(f->GetPortEnabled(5), 0);
  EXPECT_EQ(f.events.failures.size(), 1u);
  EXPECT_EQ(env.AttemptsOn(3), 1);
  EXPECT_FALSE(f.events.offMainThread);
}

TEST(PhoneFinder, MarkedPortsAreTriedTwiceEveryPassWithTheirLinkMethod) {
  TMainThreadScope main;
  TFinderFakeEnv env;
  struct Case {
    int port;
    std::uint8_t mark;
    std::uint8_t linkMethod;
  };
  const Case cases[] = {
      {7, kMarkFbusCable, kLinkFbusCable}, {8, kMarkDlr3Cable, kLinkAtSwitch}, {9, kMarkBluetooth, kLinkBluetooth}};
  for (const Case& c : cases) env.Port(c.port, TPortAnswer::Mute);
  env.Port(10, TPortAnswer::Phone);
  TFinderHolder f(env);
  for (const Case& c : cases) f->SetPortMethod(c.port, c.mark);
  f->SetPortMethod(10, kMarkDku5);  // not a COM-port kind: never tried as one
  ASSERT_TRUE(f.Passes(3));
  const std::uint16_t count = f->PassCount();
  ASSERT_GE(count, 2);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.port);
    // Two attempts in each pass that counted (the first may have begun before
    // the marks were all set); the one under way may add some.
    EXPECT_GE(env.AttemptsOn(c.port), 2 * (count - 1));
    EXPECT_LE(env.AttemptsOn(c.port), 2 * (count + 1));
    EXPECT_EQ(f->GetPortEnabled(c.port), 1);
    // A mute phone fails with code 13, reported once.
    EXPECT_EQ(f.events.FailuresOf(c.port), 1);
    EXPECT_EQ(f->LastCode(c.port), 13);
  }
  for (const auto& a : env.Attempts())
    for (const Case& c : cases)
      if (a.port == c.port) {
        EXPECT_EQ(a.linkMethod, c.linkMethod) << c.port;
      }
  EXPECT_EQ(env.AttemptsOn(10), 0);
  // Each report carries the passes that tried something, rising by one.
  for (std::size_t i = 1; i < f.events.passes.size(); ++i) EXPECT_EQ(f.events.passes[i], f.events.passes[i - 1] + 1);
}

TEST(PhoneFinder, Dku5PortFoundThroughTheAtSwitch) {
  TMainThreadScope main;
  PlatformScope nt(PlatformNT);
  MemoryRegistryBackend reg;
  const std::string vsp = "SYSTEM\\CurrentControlSet\\Enum\\USBVSP\\Vid_0421&Pid_0802";
  PutValue(reg, RegLocalMachine, vsp + "\\5&1", "FriendlyName", Sz("Nokia 6230 USB Modem"));
  PutValue(reg, RegLocalMachine, vsp + "\\5&1\\Device Parameters", "PortName", Sz("COM6"));
  // Listed by the driver, but not in the serial-port map: never tried.
  PutValue(reg, RegLocalMachine, vsp + "\\5&2", "FriendlyName", Sz("Nokia 6230 USB Modem"));
  PutValue(reg, RegLocalMachine, vsp + "\\5&2\\Device Parameters", "PortName", Sz("COM9"));
  PutValue(reg, RegLocalMachine, "HARDWARE\\DEVICEMAP\\SERIALCOMM", "\\Device\\UsbSer0", Sz("COM6"));
  const std::string dev = "SYSTEM\\CurrentControlSet\\Enum\\USB\\Vid_0421&Pid_0802\\1";
  PutValue(reg, RegLocalMachine, dev, "FriendlyName", Sz("Nokia 6230 USB Modem (COM6)"));
  PutValue(reg, RegLocalMachine, dev + "\\Device Parameters", "PortName", Sz("COM6"));

  TFinderFakeEnv env;
  env.Port(6, TPortAnswer::Phone, "357123456789012");
  env.Port(9, TPortAnswer::Phone);
  TFinderHolder f(env, nullptr, &reg);
  EXPECT_EQ(f->UsbComPorts(), std::vector<std::int32_t>{6});
  f->ScanDku5 = true;
  ASSERT_TRUE(ServeUntil([&] { return !f.events.found.empty(); }));
  EXPECT_EQ(f.events.found[0].imei, "357123456789012");
  EXPECT_EQ(f.events.found[0].port, 6);
  ASSERT_GE(env.Attempts().size(), 1u);
  EXPECT_EQ(env.Attempts()[0].linkMethod, kLinkAtSwitch);
  EXPECT_EQ(f->GetPortMethod(6), kMarkDlr3Cable);
  EXPECT_EQ(f->GetPortEnabled(6), 0);
  ASSERT_TRUE(f.Passes(2));
  EXPECT_EQ(env.AttemptsOn(6), 1);
  EXPECT_EQ(env.AttemptsOn(9), 0);
  EXPECT_EQ(f.events.found.size(), 1u);
}

TEST(PhoneFinder, IrDAAndDku2WithoutTheirDevicesReportTheirCodesOnce) {
  TMainThreadScope main;
  TFinderFakeEnv env;
  TFinderHolder f(env);  // the default devices: none installed
  f->ScanIrDA = true;
  f->ScanDku2 = true;
  ASSERT_TRUE(f.Passes(3));
  EXPECT_EQ(f.events.failures, (std::vector<TFailure>{{0, 2}, {-2, 12}}));
  EXPECT_EQ(f->IrDAState, 255);  // IrDA not tried again until cleared
  EXPECT_EQ(f->IrDALastCode(), 2);
  EXPECT_EQ(f->LastCode(0), 12);
  EXPECT_GE(f->PassCount(), 3);
  EXPECT_TRUE(env.Attempts().empty());
}

TEST(PhoneFinder, IrDAPhoneFoundByDiscovery) {
  TMainThreadScope main;
  TFinderFakeEnv env;
  env.Socket(77, TPortAnswer::Phone, "351234567890123");
  TFakeFinderDevices devices;
  devices.irDevices = {{"Nokia 6310", 77}};
  TFinderHolder f(env, &devices);
  f->ScanIrDA = true;
  ASSERT_TRUE(ServeUntil([&] { return !f.events.found.empty(); }));
  EXPECT_EQ(f.events.found[0].imei, "351234567890123");
  EXPECT_EQ(f.events.found[0].modelHint, 6310);
  EXPECT_TRUE(f.events.found[0].onMainThread);
  EXPECT_EQ(env.Attempts().at(0).linkMethod, kLinkInfrared);
  EXPECT_EQ(env.Attempts().at(0).socket, 77);
  EXPECT_EQ(f->IrDAState, 1);
  EXPECT_EQ(f->IrDALastCode(), 0);
  ASSERT_TRUE(f.Passes(2));
  EXPECT_EQ(devices.irCalls.load(), 1);  // not tried again after the find
  EXPECT_TRUE(f.events.failures.empty());
}

TEST(PhoneFinder, Dku2DevicesOneFailingOneMuteOneWithAPhone) {
  TMainThreadScope main;
  TFinderFakeEnv env;
  env.Socket(41, TPortAnswer::Mute);
  env.Socket(42, TPortAnswer::Phone, "352222222222222");
  TFakeFinderDevices devices;
  devices.dku2 = {{"usb#mute", 41, 0}, {"usb#denied", 0, 5}, {"usb#phone", 42, 0}};
  TFinderHolder f(env, &devices);
  f->ScanDku2 = true;
  ASSERT_TRUE(ServeUntil([&] { return !f.events.found.empty(); }));
  EXPECT_EQ(f.events.found[0].imei, "352222222222222");
  EXPECT_EQ(f.events.found[0].dku2Path, "usb#phone");
  // The denied device counts as the DKU-2 candidate, also after another was opened.
  EXPECT_EQ(f.events.failures, (std::vector<TFailure>{{-2, 11}}));
  EXPECT_EQ(f->LastCode(0), 11);
  EXPECT_EQ(f->IrDALastCode(), 0);
  EXPECT_EQ(f->IrDAState, 1);
  ASSERT_TRUE(f.Passes(2));
  // The device with the phone is never opened again; the others are, without new reports.
  EXPECT_EQ(devices.OpenedCount("usb#phone"), 1);
  EXPECT_GE(devices.OpenedCount("usb#mute"), 2);
  EXPECT_GE(devices.OpenedCount("usb#denied"), 2);
  EXPECT_EQ(f.events.failures.size(), 1u);
  for (const auto& a : env.Attempts()) EXPECT_EQ(a.linkMethod, kLinkDku2);
}

TEST(PhoneFinder, PassEndedByAnErrorKeepsItsPause) {
  TMainThreadScope main;
  TFinderFakeEnv env;
  env.Port(4, TPortAnswer::Alternate);  // a new code on every attempt
  TFinderHolder f(env);
  f.events.throwOnFailure = true;  // so every attempt ends its pass
  f->SetPortMethod(4, kMarkFbusCable);
  ASSERT_TRUE(ServeUntil([&] { return env.AttemptsOn(4) >= 4; }));
  const auto attempts = env.Attempts();
  for (std::size_t i = 1; i < attempts.size(); ++i)
    EXPECT_GE(attempts[i].at - attempts[i - 1].at, std::chrono::milliseconds(100)) << i;
  // Such passes are not counted nor reported (a first pass may have run before the mark).
  EXPECT_EQ(f->PassCount(), 0);
  EXPECT_LE(f.events.passes.size(), 1u);
  for (std::uint16_t count : f.events.passes) EXPECT_EQ(count, 0);
}

TEST(PhoneFinder, ErrorsInTheFoundHandlerAreSwallowed) {
  struct TThrowingReceiver {
    int found = 0;
    void Found(TNokiaPhone* phone) {
      ++found;
      phone->Free();
      throw std::runtime_error("handler failed");
    }
  } receiver;
  TMainThreadScope main;
  TFinderFakeEnv env;
  env.Port(2, TPortAnswer::Phone);
  env.Port(3, TPortAnswer::Phone);
  TFinderHolder f(env);
  f->OnFound = TPhoneFoundEvent::Bind<&TThrowingReceiver::Found>(&receiver);
  f->SetPortMethod(2, kMarkFbusCable);
  f->SetPortMethod(3, kMarkFbusCable);
  ASSERT_TRUE(f.Passes(2));
  EXPECT_EQ(receiver.found, 2);  // the pass went on to the next port
  EXPECT_GE(f->PassCount(), 1);
}

TEST(PhoneFinder, FreedWhileAConnectIsUnderWay) {
  TMainThreadScope main;
  TFinderFakeEnv env(true);  // real waits: a mute phone takes seconds
  env.Port(4, TPortAnswer::Mute);
  TFinderHolder f(env);
  f->SetPortMethod(4, kMarkDlr3Cable);
  ASSERT_TRUE(ServeUntil([&] { return env.AttemptsOn(4) >= 1; }));
  const auto start = std::chrono::steady_clock::now();
  FreeAndNil(f.finder);
  // The attempt is cut short instead of running its time-outs out.
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
  EXPECT_EQ(env.LinksAlive(), 0);
  EXPECT_EQ(env.AttemptsOn(4), 1);
}

TEST(PhoneFinder, ShutdownOfASuspendedFinderAndTwice) {
  TMainThreadScope main;
  TFinderFakeEnv env;
  TFinderHolder f(env);
  f->SetActive(false);
  EXPECT_FALSE(f->Active());
  f->Shutdown();
  EXPECT_TRUE(f->Finished());
  f->Shutdown();
  // Unhooked: nothing more is reported.
  EXPECT_FALSE(f->OnFound);
  EXPECT_FALSE(f->OnPass);
}

// The platform's main-thread wait (on Windows it handles messages too): counts
// its calls and serves synchronous calls as the default does.
struct TCountingMainWait : MainThreadWaiter {
  std::atomic<int> waits{0};
  void WaitUntil(const std::function<bool()>& done) override {
    ++waits;
    while (!done()) CheckSynchronize(5);
  }
};

TEST(PhoneFinder, ShutdownWaitsWithThePlatformsMainThreadWait) {
  TMainThreadScope main;
  TCountingMainWait counting;
  std::atomic<int>& g_mainWaits = counting.waits;
  SetMainThreadWaiter(&counting);
  struct {
    const char* name;
    bool searching;  // a marked port: the thread is in its synchronous calls
  } const cases[] = {{"idle", false}, {"searching", true}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    g_mainWaits = 0;
    int afterShutdown = 0;
    TFinderFakeEnv env;
    env.Port(3, TPortAnswer::Absent);
    {
      TFinderHolder f(env);
      if (c.searching) {
        f->SetPortMethod(3, kMarkFbusCable);
        ASSERT_TRUE(ServeUntil([&] { return f.events.FailuresOf(3) > 0; }));
      }
      f->Shutdown();
      EXPECT_TRUE(f->Finished());
      afterShutdown = g_mainWaits.load();
      EXPECT_GE(afterShutdown, 1);
      EXPECT_LE(afterShutdown, 2) << "the finder's wait, then at most the thread's own";
    }
    EXPECT_EQ(g_mainWaits.load(), afterShutdown) << "a finder shut down once is not waited for again";
  }
  SetMainThreadWaiter(nullptr);
}

TEST(PhoneFinder, MarksWrittenWhileTheSearchRuns) {
  TMainThreadScope main;
  TFinderFakeEnv env;
  for (int port = 1; port <= 8; ++port) env.Port(port, port % 2 ? TPortAnswer::InUse : TPortAnswer::Absent);
  TFinderHolder f(env);
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(600);
  int round = 0;
  while (std::chrono::steady_clock::now() < end) {
    for (int port = 1; port <= 8; ++port) {
      f->SetPortMethod(port, static_cast<std::uint8_t>((port + round) % 4));
      f->SetPortEnabled(port, 1);
    }
    if (++round % 3 == 0) f->ClearScanFlags();
    CheckSynchronize(2);
  }
  // However the rounds fell on a loaded machine, a port left marked is taken up.
  f->SetPortMethod(1, 1);
  f->SetPortEnabled(1, 1);
  ASSERT_TRUE(ServeUntil([&] { return !env.Attempts().empty(); }));
  ASSERT_TRUE(f.Passes(1));
  EXPECT_FALSE(f.events.offMainThread);
}

// A report of each pass, by the mark generation it began with: the pass under
// way when new marks are set reports the generation before them, even when it
// goes on to try them; the next pass reports theirs.
TEST(PhoneFinder, APassReportsTheMarkGenerationItBeganWith) {
  TMainThreadScope main;
  TFinderFakeEnv env;
  env.Port(1, TPortAnswer::Held);
  env.Port(3, TPortAnswer::Mute);
  TFinderHolder f(env);
  f.events.probe = [&] { return env.AttemptsOn(3); };
  f->SetPortMethod(1, kMarkFbusCable);
  ASSERT_TRUE(ServeUntil([&] { return env.Holding(); }));
  const std::uint32_t before = f->PassGeneration();
  EXPECT_EQ(before, f->MarkGeneration());
  const std::size_t reportsBefore = f.events.reports.size();
  // The pass is held in its attempt on port 1 while the next search is set up.
  f->SetPortMethod(1, 0);
  f->SetPortMethod(3, kMarkFbusCable);
  const std::uint32_t marks = f->NewMarkGeneration();
  EXPECT_EQ(marks, before + 1);
  EXPECT_EQ(f->MarkGeneration(), marks);
  env.Release();
  ASSERT_TRUE(f.Passes(2));
  ASSERT_GE(f.events.reports.size(), reportsBefore + 2);
  const TFinderPass& underWay = f.events.reports[reportsBefore];
  const TFinderPass& next = f.events.reports[reportsBefore + 1];
  EXPECT_EQ(underWay.MarkGeneration, before);
  EXPECT_TRUE(underWay.Tried);
  EXPECT_EQ(next.MarkGeneration, marks);
  EXPECT_TRUE(next.Tried);
  EXPECT_EQ(next.Count, underWay.Count + 1);
  // Port 3 was tried in both passes, twice each.
  EXPECT_EQ(f.events.probed[reportsBefore], 2);
  EXPECT_EQ(f.events.probed[reportsBefore + 1], 4);
}

// What a pass says it did with the candidates marked for it, once the first
// attempts have had their effect: tried them, or passed them over because they
// are disabled (absent, found, IrDA without device enumeration), or neither
// when nothing is marked.
TEST(PhoneFinder, APassSaysWhetherItTriedOrPassedOverItsCandidates) {
  TMainThreadScope main;
  PlatformScope nt(PlatformNT);
  MemoryRegistryBackend reg;
  // A DKU-5 port, COM6, as the USB serial driver and the serial-port map list it.
  const std::string vsp = "SYSTEM\\CurrentControlSet\\Enum\\USBVSP\\Vid_0421&Pid_0802\\5&1";
  PutValue(reg, RegLocalMachine, vsp, "FriendlyName", Sz("Nokia 6230 USB Modem"));
  PutValue(reg, RegLocalMachine, vsp + "\\Device Parameters", "PortName", Sz("COM6"));
  PutValue(reg, RegLocalMachine, "HARDWARE\\DEVICEMAP\\SERIALCOMM", "\\Device\\UsbSer0", Sz("COM6"));
  const std::string dev = "SYSTEM\\CurrentControlSet\\Enum\\USB\\Vid_0421&Pid_0802\\1";
  PutValue(reg, RegLocalMachine, dev, "FriendlyName", Sz("Nokia 6230 USB Modem (COM6)"));
  PutValue(reg, RegLocalMachine, dev + "\\Device Parameters", "PortName", Sz("COM6"));

  enum class TMark { Nothing, Port3, IrDA, Dku2, Dku5 };
  const struct {
    const char* name;
    TMark mark;
    TPortAnswer answer;      // of the port (COM3 or COM6)
    std::uint16_t irCode;    // of infrared discovery
    bool tried, passedOver;  // in a pass after the first attempts
  } cases[] = {
      {"nothing marked", TMark::Nothing, TPortAnswer::Mute, 3, false, false},
      {"mute port", TMark::Port3, TPortAnswer::Mute, 3, true, false},
      {"absent port", TMark::Port3, TPortAnswer::Absent, 3, false, true},
      {"port with a phone", TMark::Port3, TPortAnswer::Phone, 3, false, true},
      {"no infrared device in range", TMark::IrDA, TPortAnswer::Mute, 3, true, false},
      {"no infrared device enumeration", TMark::IrDA, TPortAnswer::Mute, 2, false, true},
      {"no DKU-2 device", TMark::Dku2, TPortAnswer::Mute, 3, true, false},
      {"mute DKU-5 port", TMark::Dku5, TPortAnswer::Mute, 3, true, false},
      {"absent DKU-5 port", TMark::Dku5, TPortAnswer::Absent, 3, false, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TFinderFakeEnv env;
    env.Port(3, c.answer);
    env.Port(6, c.answer);
    TFakeFinderDevices devices;
    devices.irCode = c.irCode;
    TFinderHolder f(env, &devices, &reg);
    switch (c.mark) {
      case TMark::Port3:
        f->SetPortMethod(3, kMarkFbusCable);
        break;
      case TMark::IrDA:
        f->ScanIrDA = true;
        break;
      case TMark::Dku2:
        f->ScanDku2 = true;
        break;
      case TMark::Dku5:
        f->ScanDku5 = true;
        break;
      case TMark::Nothing:
        break;
    }
    const std::uint32_t marks = f->NewMarkGeneration();
    // The first pass with these marks may find them tried already by the one
    // under way; the second sees what the attempts left.
    ASSERT_TRUE(ServeUntil([&] {
      int n = 0;
      for (const TFinderPass& r : f.events.reports) n += r.MarkGeneration == marks;
      return n >= 2;
    }));
    std::vector<TFinderPass> ours;
    for (const TFinderPass& r : f.events.reports)
      if (r.MarkGeneration == marks) ours.push_back(r);
    EXPECT_TRUE(ours[0].Tried || ours[0].PassedOver || c.mark == TMark::Nothing);
    EXPECT_EQ(ours[1].Tried, c.tried);
    EXPECT_EQ(ours[1].PassedOver, c.passedOver);
  }
}

TEST(PhoneFinder, UnitMakesAndFreesTheGlobals) {
  TMainThreadScope main;
  ASSERT_EQ(PhoneFinder, nullptr);
  PhoneFindInitialization();
  ASSERT_NE(PhoneFinder, nullptr);
  ASSERT_NE(FoundDku2Paths, nullptr);
  EXPECT_FALSE(PhoneFinder->Finished());
  PhoneFindFinalization();
  EXPECT_EQ(PhoneFinder, nullptr);
  EXPECT_EQ(FoundDku2Paths, nullptr);
}

}  // namespace
