// The phone finder as the program runs it on Windows: started by the unit's
// initialization after the platform hooks of the start-up block, searching on
// its own thread over real COM ports (a simulated phone on one of them), its
// events arriving on the main thread, and ended by the unit's finalization.
#include <windows.h>

#include <gtest/gtest.h>
#include <tlhelp32.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <string>
#include <vector>

#include "Forms.h"
#include "NokiaUtilsWin.h"
#include "PhoneFind.h"
#include "PhonePlatformWin.h"
#include "PlatformIdWin.h"
#include "Registry.h"
#include "SerialPorts.h"
#include "TimersWin.h"
#include "Win32Platform.h"
#include "WinTestSupport.h"
#include "WndProc.h"

namespace {

// A COM port that no device stands behind in the test's Wine prefix.
constexpr int kAbsentPort = 250;
// Long enough for a few passes with two connect attempts each.
constexpr int kSearchMs = 60000;

const char* const kImei = "350612345678901";  // the answering simulator's persona (NPE-4)

// The number of threads this process runs now.
int ProcessThreadCount() {
  HANDLE snap = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
  if (snap == INVALID_HANDLE_VALUE) return -1;
  int n = 0;
  THREADENTRY32 entry{};
  entry.dwSize = sizeof entry;
  for (BOOL ok = Thread32First(snap, &entry); ok; ok = Thread32Next(snap, &entry)) {
    if (entry.th32OwnerProcessID == GetCurrentProcessId()) ++n;
    entry.dwSize = sizeof entry;
  }
  CloseHandle(snap);
  return n;
}

int LogLinesEqualTo(const std::vector<std::string>& lines, std::size_t from, const std::string& line) {
  int n = 0;
  for (std::size_t i = from; i < lines.size(); ++i) n += lines[i] == line;
  return n;
}

// The wizard's side of the search: what the three events delivered.
struct TFinderEvents {
  struct TFound {
    std::string imei;
    std::string model;
    int port;
    bool onMainThread;
  };
  struct TFailure {
    std::int32_t port;
    std::uint16_t code;
    bool onMainThread;
  };
  DWORD mainThread = GetCurrentThreadId();
  std::vector<TFound> found;
  std::vector<TFailure> failures;
  std::vector<std::uint16_t> passes;
  bool passOffMainThread = false;

  void Found(TNokiaPhone* phone) {
    found.push_back({phone->GetIMEI(), phone->GetModel(), phone->GetPort(), GetCurrentThreadId() == mainThread});
    phone->Free();  // the handler owns the phone
  }
  void Failure(std::int32_t port, std::uint16_t code) {
    failures.push_back({port, code, GetCurrentThreadId() == mainThread});
  }
  void Pass(const TFinderPass& pass) {
    passOffMainThread |= GetCurrentThreadId() != mainThread;
    passes.push_back(pass.Count);
  }
  int FailuresOf(std::int32_t port) const {
    return static_cast<int>(
        std::count_if(failures.begin(), failures.end(), [&](const TFailure& f) { return f.port == port; }));
  }
  void Hook(TPhoneFinder& finder) {
    finder.OnFound = TPhoneFoundEvent::Bind<&TFinderEvents::Found>(this);
    finder.OnFailure = TPhoneFailureEvent::Bind<&TFinderEvents::Failure>(this);
    finder.OnPass = TFinderPassEvent::Bind<&TFinderEvents::Pass>(this);
  }
};

// The start-up block's hooks, in its order, then the finder unit's
// initialization; the unit's finalization and the defaults back at the end.
class FinderProgram : public ::testing::Test {
 protected:
  void SetUp() override {
    InitForms();  // the framework's first unit: the Win32 platform and the application
    InitPlatformId();
    UseMultimediaClock();
    UseWinPhonePlatform();
    InitNokiaUtilsWin();
    PhoneFindInitialization();
    ASSERT_NE(PhoneFinder, nullptr);
    ASSERT_NE(FoundDku2Paths, nullptr);
  }
  void TearDown() override {
    PhoneFindFinalization();
    SetFinderDevices(nullptr);
    SetPhonePlatform(nullptr);
    SetMillisecondClock(nullptr);
  }

  // Handles messages until `n` more end-of-pass reports came.
  bool Passes(std::size_t n, int ms = kSearchMs) {
    const std::size_t target = events_.passes.size() + n;
    return WaitUntil([&] { return events_.passes.size() >= target; }, ms);
  }

  TFinderEvents events_;
};

#define SIMULATOR_OR_FAIL()                                                                      \
  do {                                                                                           \
    if (SimulatorPort() == 0)                                                                    \
      GTEST_FAIL() << "no simulated phone: run this test through phone/tests/win/with-phonesim"; \
  } while (0)

// --- With the simulated phone ----------------------------------------------------------------------

using PhoneSimFinder = FinderProgram;

TEST_F(PhoneSimFinder, FindsThePhoneAndDisablesTheAbsentPort) {
  SIMULATOR_OR_FAIL();
  const int simPort = SimulatorPort();
  const std::size_t logFrom = SimulatorLog().size();
  events_.Hook(*PhoneFinder);
  PhoneFinder->SetPortMethod(simPort, kMarkFbusCable);
  PhoneFinder->SetPortMethod(kAbsentPort, kMarkFbusCable);
  PhoneFinder->SetActive(true);

  ASSERT_TRUE(WaitUntil([&] { return !events_.found.empty() && events_.FailuresOf(kAbsentPort) > 0; }, kSearchMs))
      << "found " << events_.found.size() << ", failures " << events_.failures.size();
  // The pass that found the phone ends, then two passes that have nothing left to try.
  ASSERT_TRUE(Passes(3));

  ASSERT_EQ(events_.found.size(), 1u);
  const auto& found = events_.found.front();
  EXPECT_EQ(found.imei, kImei);
  EXPECT_EQ(found.model, "NPE-4");
  EXPECT_EQ(found.port, simPort);
  EXPECT_TRUE(found.onMainThread);
  EXPECT_EQ(PhoneFinder->GetPortEnabled(simPort), 0) << "a found port is not tried again";
  EXPECT_EQ(PhoneFinder->LastCode(simPort), 0);
  EXPECT_EQ(events_.FailuresOf(simPort), 0);

  // The absent port: one report of code 12, then it is left alone.
  ASSERT_EQ(events_.FailuresOf(kAbsentPort), 1);
  for (const auto& f : events_.failures) {
    EXPECT_EQ(f.code, 12) << "port " << f.port;
    EXPECT_TRUE(f.onMainThread);
  }
  EXPECT_EQ(PhoneFinder->GetPortEnabled(kAbsentPort), 0);
  EXPECT_EQ(PhoneFinder->LastCode(kAbsentPort), 12);

  // The simulator saw one session only: the found one (freed by the handler).
  // (A simulator's first session is not logged as an OPEN line; later ones are.)
  EXPECT_LE(LogLinesEqualTo(SimulatorLog(), logFrom, "OPEN"), 1);
  EXPECT_TRUE(WaitForLogLine(logFrom, "CLOSE") >= 0) << "the handler's phone closed its port";
  EXPECT_EQ(LogLinesEqualTo(SimulatorLog(), logFrom, "CLOSE"), 1);
  const std::size_t afterFind = SimulatorLog().size();
  ASSERT_TRUE(Passes(2));
  EXPECT_EQ(LogLinesEqualTo(SimulatorLog(), afterFind, "OPEN"), 0) << "the found port was tried again";

  // The count of passes that tried something: it rose while the ports were
  // tried (one pass, or two when the marks fell in the middle of a pass), by
  // one at a time, and stays once nothing is left to try.
  EXPECT_FALSE(events_.passOffMainThread);
  ASSERT_GE(events_.passes.size(), 5u);
  for (std::size_t i = 1; i < events_.passes.size(); ++i) {
    EXPECT_TRUE(events_.passes[i] == events_.passes[i - 1] || events_.passes[i] == events_.passes[i - 1] + 1)
        << "report " << i << ": " << events_.passes[i - 1] << " then " << events_.passes[i];
  }
  const std::uint16_t last = events_.passes.back();
  EXPECT_GE(last, 1);
  EXPECT_LE(last, 2);
  EXPECT_EQ(events_.passes[events_.passes.size() - 4], last) << "passes with nothing to try are not counted";
  EXPECT_EQ(PhoneFinder->PassCount(), last);
}

// A DKU-5 virtual COM port as the Nokia USB serial driver lists it, standing
// with a friendly name in the serial-port map; removed again at the end.
class TDku5Seed {
 public:
  explicit TDku5Seed(int port) : portName_("COM" + std::to_string(port)) {
    Remove();
    Set(kMap, kMapValue, portName_);
    Set(kInstance, "FriendlyName", "Nokia 6230 USB Modem (" + portName_ + ")");
    Set(std::string(kInstance) + "\\Device Parameters", "PortName", portName_);
  }
  ~TDku5Seed() { Remove(); }
  TDku5Seed(const TDku5Seed&) = delete;
  TDku5Seed& operator=(const TDku5Seed&) = delete;

 private:
  static constexpr const char* kMap = "HARDWARE\\DEVICEMAP\\SERIALCOMM";
  static constexpr const char* kMapValue = "\\Device\\PelloryFinderVsp0";
  static constexpr const char* kDevice = "SYSTEM\\CurrentControlSet\\Enum\\USBVSP\\PelloryFinder";
  static constexpr const char* kInstance = "SYSTEM\\CurrentControlSet\\Enum\\USBVSP\\PelloryFinder\\1";

  static void Set(const std::string& path, const char* name, const std::string& data) {
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS,
                              nullptr, &key, nullptr),
              ERROR_SUCCESS)
        << path;
    EXPECT_EQ(RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(data.c_str()),
                             static_cast<DWORD>(data.size() + 1)),
              ERROR_SUCCESS);
    RegCloseKey(key);
  }
  static void Remove() {
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kMap, 0, KEY_ALL_ACCESS, &key) == ERROR_SUCCESS) {
      RegDeleteValueA(key, kMapValue);
      RegCloseKey(key);
    }
    TRegistry* reg = New<TRegistry>();
    reg->SetRootKey(RegLocalMachine);
    reg->DeleteKey(kDevice);
    reg->Free();
  }

  std::string portName_;
};

TEST_F(PhoneSimFinder, FindsThePhoneOnADku5PortThroughTheAtSwitch) {
  SIMULATOR_OR_FAIL();
  const int simPort = SimulatorPort();
  TDku5Seed seed(simPort);
  const std::size_t logFrom = SimulatorLog().size();
  events_.Hook(*PhoneFinder);
  PhoneFinder->ScanDku5 = true;  // the wizard's DKU-5 choice: no port is marked
  PhoneFinder->SetActive(true);

  ASSERT_TRUE(WaitUntil([&] { return !events_.found.empty(); }, kSearchMs))
      << "failures " << events_.failures.size() << ", DKU-5 ports " << PhoneFinder->UsbComPorts().size();
  ASSERT_TRUE(Passes(2));
  ASSERT_EQ(events_.found.size(), 1u);
  EXPECT_EQ(events_.found.front().imei, kImei);
  EXPECT_EQ(events_.found.front().port, simPort);
  EXPECT_TRUE(events_.found.front().onMainThread);
  EXPECT_EQ(events_.FailuresOf(simPort), 0);
  EXPECT_EQ(PhoneFinder->UsbComPorts(), std::vector<std::int32_t>{simPort});
  EXPECT_EQ(PhoneFinder->GetPortMethod(simPort), kMarkDlr3Cable) << "the DKU-5 port is marked as a DLR-3 cable";
  EXPECT_EQ(PhoneFinder->GetPortEnabled(simPort), 0);
  const auto log = SimulatorLog();
  EXPECT_EQ(LogLinesEqualTo(log, logFrom, "AT at*nokiafbus"), 1) << "the cable is switched to FBUS once";
}

// --- Without a phone ----------------------------------------------------------------------------------

using PhoneFinderWin = FinderProgram;

TEST_F(PhoneFinderWin, IrDAAndDku2PassesReportTheirCodesOnce) {
  events_.Hook(*PhoneFinder);
  PhoneFinder->ScanIrDA = true;
  PhoneFinder->ScanDku2 = true;
  ASSERT_TRUE(WaitUntil([&] { return events_.FailuresOf(0) > 0 && events_.FailuresOf(-2) > 0; }, kSearchMs));
  ASSERT_TRUE(Passes(3));
  ASSERT_EQ(events_.FailuresOf(0), 1);
  ASSERT_EQ(events_.FailuresOf(-2), 1);
  for (const auto& f : events_.failures) {
    EXPECT_EQ(f.code, f.port == 0 ? 2 : 12) << "port " << f.port;
    EXPECT_TRUE(f.onMainThread);
  }
  EXPECT_EQ(PhoneFinder->IrDAState.load(), 255) << "IrDA is not tried again until the state is cleared";
  EXPECT_EQ(PhoneFinder->IrDALastCode(), 2);
  EXPECT_EQ(PhoneFinder->LastCode(0), 12);
  EXPECT_GE(PhoneFinder->PassCount(), 3) << "the DKU-2 step counts as a try in every pass";
}

// --- Closing the program while a search runs ---------------------------------------------------------

// Ends the unit at once or after a while, with nothing marked, an absent port
// marked, or (with the simulator) the phone's port marked so that a connect is
// under way: the search thread ends, no thread stays behind, and a port the
// search had open is closed.
void CloseDuringSearch(TFinderEvents& events, int port, int afterMs) {
  const int threadsBefore = ProcessThreadCount();
  ASSERT_GT(threadsBefore, 0);
  PhoneFindInitialization();
  ASSERT_NE(PhoneFinder, nullptr);
  events.Hook(*PhoneFinder);
  PhoneFinder->SetActive(true);
  if (port != 0) PhoneFinder->SetPortMethod(port, kMarkFbusCable);
  if (afterMs > 0) DelayWithMessages(afterMs);
  PhoneFindFinalization();
  EXPECT_EQ(PhoneFinder, nullptr);
  EXPECT_EQ(FoundDku2Paths, nullptr);
  // The thread's own exit is the last thing it does; give the system a moment to reap it.
  EXPECT_TRUE(WaitUntil([&] { return ProcessThreadCount() <= threadsBefore; }, 5000))
      << "threads before " << threadsBefore << ", after " << ProcessThreadCount();
  // Handled messages after the end reach nobody that is gone.
  DelayWithMessages(100);
}

using PhoneFinderClose = FinderProgram;

TEST_F(PhoneFinderClose, EndsTheSearchThreadAtOnceOrAfterAWhile) {
  PhoneFindFinalization();  // each case makes its own
  struct {
    int port;
    int afterMs;
  } const cases[] = {{0, 0}, {0, 50}, {0, 700}, {kAbsentPort, 0}, {kAbsentPort, 120}, {kAbsentPort, 700}};
  for (const auto& c : cases) {
    SCOPED_TRACE("port " + std::to_string(c.port) + " after " + std::to_string(c.afterMs) + " ms");
    CloseDuringSearch(events_, c.port, c.afterMs);
  }
  // Finalization without the unit (already ended) does nothing.
  PhoneFindFinalization();
}

// DKU-2 devices whose listing, once the program is closing, needs an answer
// from a window of the main thread (as a driver call that sends the main
// thread a message does).
class TDevicesAskingTheMainThread : public TFinderDevices {
 public:
  TDevicesAskingTheMainThread() : closing_(CreateEventA(nullptr, TRUE, FALSE, nullptr)) {
    window_ = AllocateHWnd(TWndMethod::Bind<&TDevicesAskingTheMainThread::WndProc>(this));
  }
  ~TDevicesAskingTheMainThread() override {
    DeallocateHWnd(window_);
    CloseHandle(closing_);
  }
  std::unique_ptr<TIrDiscovery> CreateIrDiscovery() override { return nullptr; }
  std::vector<std::string> ListDku2DevicePaths() override {
    listing = true;
    if (WaitForSingleObject(closing_, 30000) == WAIT_OBJECT_0 && !asked.exchange(true)) {
      DWORD_PTR result = 0;
      answered = SendMessageTimeoutA(window_, WM_APP, 0, 0, SMTO_NORMAL, 10000, &result) != 0 && result == 1;
    }
    return {};
  }
  std::intptr_t OpenDku2Device(const std::string&, std::uint32_t& systemError) override {
    systemError = 2;
    return 0;
  }
  void Closing() { SetEvent(closing_); }

  std::atomic<bool> listing{false};
  std::atomic<bool> asked{false};
  std::atomic<bool> answered{false};

 private:
  void WndProc(TMessage& msg) {
    if (msg.Msg == WM_APP)
      msg.Result = 1;
    else
      HandleDefault(window_, msg);
  }

  HANDLE closing_;
  HWND window_ = nullptr;
};

TEST_F(PhoneFinderClose, HandlesTheMainThreadsMessagesWhileTheSearchEnds) {
  TDevicesAskingTheMainThread devices;
  SetFinderDevices(&devices);
  PhoneFinder->ScanDku2 = true;
  ASSERT_TRUE(WaitUntil([&] { return devices.listing.load(); }, kSearchMs));
  devices.Closing();
  PhoneFindFinalization();
  EXPECT_TRUE(devices.asked.load());
  EXPECT_TRUE(devices.answered.load()) << "the main thread's window did not answer during the shut-down";
}

TEST_F(PhoneSimFinder, ClosingWhileConnectingEndsTheSearchAndClosesThePort) {
  SIMULATOR_OR_FAIL();
  PhoneFindFinalization();
  const int simPort = SimulatorPort();
  for (int afterMs : {0, 30, 150, 400, 2000}) {
    SCOPED_TRACE("after " + std::to_string(afterMs) + " ms");
    const std::size_t logFrom = SimulatorLog().size();
    CloseDuringSearch(events_, simPort, afterMs);
    // Whatever reached the phone, the port was closed again.
    if (SimulatorLog().size() > logFrom) {
      EXPECT_GE(WaitForLogLine(logFrom, "CLOSE"), 0) << "the port was left open";
    }
    // A phone handed over meanwhile was freed by the handler.
    for (auto& f : events_.found) EXPECT_EQ(f.imei, kImei);
    events_.found.clear();
  }
}

// A phone that never answers holds the search in its request waits: closing
// cuts the wait short, and nothing more reaches the phone after the port closed.
TEST_F(PhoneSimFinder, ClosingWhileWaitingForAMutePhone) {
  const char* port = std::getenv("PELLORY_PHONESIM_MUTE_PORT");
  if (!port) GTEST_FAIL() << "no mute simulated phone: run this test through phone/tests/win/with-phonesim";
  PhoneFindFinalization();
  const int mutePort = std::atoi(port);
  const char* const logVariable = "PELLORY_PHONESIM_MUTE_LOG";
  for (int afterMs : {300, 1500}) {
    SCOPED_TRACE("after " + std::to_string(afterMs) + " ms");
    const std::size_t logFrom = SimulatorLogIn(logVariable).size();
    CloseDuringSearch(events_, mutePort, afterMs);
    ASSERT_TRUE(WaitUntil([&] { return LogLinesEqualTo(SimulatorLogIn(logVariable), logFrom, "CLOSE") == 1; }, 5000))
        << "the port was left open";
    DelayWithMessages(300);
    const auto log = SimulatorLogIn(logVariable);
    EXPECT_EQ(log.back(), "CLOSE") << "the search went on after the end";
    EXPECT_TRUE(events_.found.empty());
  }
}

}  // namespace
