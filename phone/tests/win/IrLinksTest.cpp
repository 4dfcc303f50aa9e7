// The infrared and DKU-2 links on Windows: the reader thread over a loopback
// socket and a named pipe, the real device providers under Wine, and (LinkSim*,
// run by with-link-sims) the finder against simulated phones behind the fakes.
#include <windows.h>
#include <winsock2.h>

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "ConnSender.h"
#include "Dku2.h"
#include "FakeLinkDevices.h"
#include "FinderDevicesWin.h"
#include "IrThread.h"
#include "IrdaWin.h"
#include "LinkFrames.h"
#include "NokiaPhone.h"
#include "OverlappedIo.h"
#include "PhoneFind.h"
#include "PhonePlatformWin.h"
#include "TestFrames.h"
#include "Win32Platform.h"
#include "WinTestSupport.h"
#include "WndProc.h"

namespace {

class TLinksEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    InitWin32Platform();
    WSADATA data;
    WSAStartup(MAKEWORD(2, 2), &data);
  }
};
[[maybe_unused]] const ::testing::Environment* gLinksEnvironment =
    ::testing::AddGlobalTestEnvironment(new TLinksEnvironment);

// What the link sender hands on (on the main thread, by the reader thread's synchronous call).
struct TLinkSink {
  std::vector<std::string> frames;
  std::vector<int> types;
  int closed = 0;
  bool offMainThread = false;
  TConnectionSender** releaseOnClose = nullptr;  // the end notice releases this sender
  void Frame(std::uint8_t type, const std::string& frame) {
    offMainThread |= !IsMainThread();
    types.push_back(type);
    frames.push_back(frame);
  }
  void Closed(TConnectionSender*) {
    offMainThread |= !IsMainThread();
    ++closed;
    if (releaseOnClose) FreeAndNil(*releaseOnClose);
  }
};

TConnectionSender* NewLinkSender(std::uint8_t method, std::intptr_t handle, TLinkSink& sink, std::uint16_t& code) {
  TConnectionSender* sender = New<TConnectionSender>(method, TFrameEvent::Bind<&TLinkSink::Frame>(&sink), "", "",
                                                     handle, static_cast<std::uint8_t>(0), code);
  sender->OnLinkClosed = TLinkClosedEvent::Bind<&TLinkSink::Closed>(&sink);
  return sender;
}

// Two connected loopback sockets: `ours` for the link, `theirs` plays the phone.
bool SocketPair(SOCKET& ours, SOCKET& theirs) {
  ours = theirs = INVALID_SOCKET;
  SOCKET listener = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  if (listener == INVALID_SOCKET) return false;
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  int len = sizeof(addr);
  bool ok = bind(listener, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) == 0 && listen(listener, 1) == 0 &&
            getsockname(listener, reinterpret_cast<sockaddr*>(&addr), &len) == 0;
  if (ok) {
    ours = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    ok = ours != INVALID_SOCKET && connect(ours, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) == 0;
  }
  if (ok) {
    theirs = accept(listener, nullptr, nullptr);
    ok = theirs != INVALID_SOCKET;
  }
  closesocket(listener);
  return ok;
}

// Reads what arrives on `s` within `ms`; stops early once `want` bytes came or the peer closed.
std::string ReceiveSome(SOCKET s, std::size_t want, int ms, bool* peerClosed = nullptr) {
  std::string got;
  WaitUntil(
      [&] {
        fd_set readable;
        FD_ZERO(&readable);
        FD_SET(s, &readable);
        timeval none{0, 0};
        if (select(0, &readable, nullptr, nullptr, &none) <= 0) return false;
        char buffer[512];
        const int n = recv(s, buffer, sizeof(buffer), 0);
        if (n <= 0) {
          if (peerClosed) *peerClosed = true;
          return true;
        }
        got.append(buffer, static_cast<std::size_t>(n));
        return got.size() >= want;
      },
      ms);
  return got;
}

// Runs `work` on a thread of its own while this thread handles messages.
template <class F>
void RunOnOtherThread(F work) {
  std::atomic<bool> finished{false};
  std::thread worker([&] {
    work();
    finished = true;
  });
  EXPECT_TRUE(WaitUntil([&] { return finished.load(); }, 30000));
  worker.join();
}

// --- IrDA addresses, interface class identifiers ---------------------------------------------------

TEST(IrdaAddress, CarriesTheDeviceIdAndAZeroTerminatedServiceName) {
  const struct {
    std::string service;
    std::string expected;
  } cases[] = {
      {"Nokia:PhoNet", "Nokia:PhoNet"},
      {"", ""},
      {std::string(30, 's'), std::string(24, 's')},  // cut to the field, zero kept
  };
  for (const auto& c : cases) {
    const TIrdaSockAddr addr = MakeIrdaAddress({0xA1, 0xB2, 0xC3, 0xD4}, c.service);
    EXPECT_EQ(addr.family, 26);
    EXPECT_EQ(Bytes({addr.deviceId[0], addr.deviceId[1], addr.deviceId[2], addr.deviceId[3]}),
              Bytes({0xA1, 0xB2, 0xC3, 0xD4}));
    EXPECT_EQ(std::string(addr.serviceName), c.expected) << c.service;
    EXPECT_EQ(addr.serviceName[sizeof(addr.serviceName) - 1], '\0');
  }
}

TEST(Dku2Classes, GuidTextsParseAndBadOnesAreRefused) {
  GUID g{};
  ASSERT_TRUE(ParseGuidText("{4F919102-4ADF-11D5-882D-00B0D02FE381}", g));
  EXPECT_EQ(g.Data1, 0x4F919102u);
  EXPECT_EQ(g.Data2, 0x4ADF);
  EXPECT_EQ(g.Data3, 0x11D5);
  EXPECT_EQ(g.Data4[0], 0x88);
  EXPECT_EQ(g.Data4[1], 0x2D);
  EXPECT_EQ(g.Data4[7], 0x81);
  for (const auto& cls : kDku2InterfaceClasses) EXPECT_TRUE(ParseGuidText(cls.guid, g)) << cls.guid;
  for (const char* bad : {"", "{4F919102-4ADF-11D5-882D-00B0D02FE381", "4F919102-4ADF-11D5-882D-00B0D02FE381}",
                          "{4F919102-4ADF-11D5-882D-00B0D02FE38G}", "{4F919102+4ADF-11D5-882D-00B0D02FE381}",
                          "{4F919102-4ADF-11D5-882D-00B0D02FE3810}"})
    EXPECT_FALSE(ParseGuidText(bad, g)) << bad;
}

// --- The real providers under Wine -----------------------------------------------------------------

TEST(WinDku2, NoDriverMeansNoDevicePathAndAMissingDeviceGivesError2) {
  TSetupApiDku2Source source;
  EXPECT_TRUE(CollectDku2DevicePaths(source, true).empty());
  EXPECT_TRUE(CollectDku2DevicePaths(source, false).empty());
  std::uint32_t error = 0;
  EXPECT_EQ(OpenDku2Device("\\\\.\\PelloryNoSuchDevice", error), INVALID_HANDLE_VALUE);
  EXPECT_EQ(error, 2u);
}

struct TFinderRecorder {
  std::vector<TNokiaPhone*> phones;
  std::vector<std::pair<std::int32_t, std::uint16_t>> failures;
  std::vector<std::uint16_t> passes;
  bool offMainThread = false;
  void Found(TNokiaPhone* phone) {
    offMainThread |= !IsMainThread();
    phones.push_back(phone);
  }
  void Failure(std::int32_t port, std::uint16_t code) {
    offMainThread |= !IsMainThread();
    failures.emplace_back(port, code);
  }
  void Pass(const TFinderPass& pass) {
    offMainThread |= !IsMainThread();
    passes.push_back(pass.Count);
  }
  bool Failed(std::int32_t port, std::uint16_t code) const {
    for (const auto& f : failures)
      if (f.first == port && f.second == code) return true;
    return false;
  }
  ~TFinderRecorder() {
    for (TNokiaPhone* p : phones) {
      p->Disconnect();
      p->Free();
    }
  }
};

// A finder whose events go to a recorder; shut down and freed at the end of
// the scope, before the found phones are.
class TFinderScope {
 public:
  TFinderScope() {
    finder = New<TPhoneFinder>(false);
    finder->OnFound = TPhoneFoundEvent::Bind<&TFinderRecorder::Found>(&rec);
    finder->OnFailure = TPhoneFailureEvent::Bind<&TFinderRecorder::Failure>(&rec);
    finder->OnPass = TFinderPassEvent::Bind<&TFinderRecorder::Pass>(&rec);
  }
  ~TFinderScope() { End(); }
  void End() {
    if (!finder) return;
    finder->Shutdown();
    EXPECT_TRUE(finder->Finished());
    FreeAndNil(finder);
  }

  TFinderRecorder rec;
  TPhoneFinder* finder = nullptr;
};

TEST(WinFinderDevices, UnderWineIrdaFailsWithCode2AndDku2WithCode12) {
  UseWinFinderDevices();
  UseWinPhonePlatform();
  TFinderScope scope;
  TFinderRecorder& rec = scope.rec;
  TPhoneFinder* finder = scope.finder;
  finder->ScanIrDA = true;
  finder->ScanDku2 = true;
  finder->SetActive(true);
  EXPECT_TRUE(WaitUntil(
      [&] { return rec.Failed(0, 2) && rec.Failed(-2, 12) && !rec.passes.empty() && rec.passes.back() > 0; }, 30000));
  EXPECT_EQ(finder->IrDAState.load(), 255) << "IrDA is not tried again after code 2";
  EXPECT_TRUE(rec.phones.empty());
  EXPECT_FALSE(rec.offMainThread);
  scope.End();
}

// --- The reader on a socket (link method 2) --------------------------------------------------------

TEST(IrReader, SocketFramesReachTheMainThreadWholeAndInOrder) {
  SOCKET ours, theirs;
  ASSERT_TRUE(SocketPair(ours, theirs));
  TLinkSink sink;
  std::uint16_t code = 99;
  TConnectionSender* sender = NewLinkSender(kLinkInfrared, static_cast<std::intptr_t>(ours), sink, code);
  EXPECT_EQ(code, 0);

  const std::string a = PhonePhonetFrame(0x14, 0xD2, Bytes({0x01, 0x00, 0x03, 0x00}));
  const std::string b = PhonePhonetFrame(0x14, 0x1B, std::string(2500, 'b'));  // more than one receive
  const std::string c = PhonePhonetFrame(0x14, 0x7F, "");
  const struct {
    const char* name;
    std::vector<std::string> sends;
    std::vector<std::string> frames;
  } cases[] = {
      {"one frame", {a}, {a}},
      {"two frames in one send", {a + c}, {a, c}},
      {"garbage before a frame", {"noise" + a}, {a}},
      {"a frame split in its resync sequence", {a.substr(0, 2), a.substr(2)}, {a}},
      {"garbage ending in part of the sequence", {"xx" + a.substr(0, 2), a.substr(2)}, {a}},
      {"a long frame split in its payload", {b.substr(0, 1000), b.substr(1000)}, {b}},
  };
  for (const auto& cs : cases) {
    sink.frames.clear();
    for (const std::string& piece : cs.sends) {
      ASSERT_EQ(send(theirs, piece.data(), static_cast<int>(piece.size()), 0), static_cast<int>(piece.size()));
      DelayWithMessages(80);  // lets the reader take the pieces apart
    }
    EXPECT_TRUE(WaitUntil([&] { return sink.frames.size() >= cs.frames.size(); }, 5000)) << cs.name;
    DelayWithMessages(50);
    EXPECT_EQ(sink.frames, cs.frames) << cs.name;
  }
  EXPECT_FALSE(sink.offMainThread);

  // Frames go out as PhoNet with the infrared media byte.
  sender->SendPhoneMessage(0xD1, Bytes({0x00, 0x01, 0x00, 0x03, 0x00}));
  const std::string expected = Bytes({0x14, 0x00, 0x10, 0xD1, 0x00, 0x05, 0x00, 0x01, 0x00, 0x03, 0x00});
  EXPECT_EQ(ToHex(ReceiveSome(theirs, expected.size(), 5000)), ToHex(expected));

  // Releasing the sender ends the reader, which closes the socket; the freed
  // sender hears nothing of it.
  FreeAndNil(sender);
  bool closed = false;
  ReceiveSome(theirs, 1 << 20, 5000, &closed);
  EXPECT_TRUE(closed) << "the link's socket was closed";
  DelayWithMessages(100);
  EXPECT_EQ(sink.closed, 0);
  closesocket(theirs);
}

TEST(IrReader, AnUnusableHandleFailsTheLinkSetUp) {
  for (const std::intptr_t handle : {std::intptr_t{0}, std::intptr_t{-1}}) {
    for (const std::uint8_t method : {kLinkInfrared, kLinkDku2}) {
      TLinkSink sink;
      std::uint16_t code = 0;
      TConnectionSender* sender = NewLinkSender(method, handle, sink, code);
      EXPECT_EQ(code, kFailLinkSetup) << int(method) << " " << handle;
      EXPECT_FALSE(sender->ReaderRunning());
      sender->SendPhoneMessage(0xD1, "x");  // nothing to write on: swallowed
      sender->Free();
      EXPECT_EQ(sink.closed, 0);
    }
  }
}

// --- The reader on a device handle (link method 5) -------------------------------------------------

struct TPipe {
  HANDLE server = INVALID_HANDLE_VALUE;  // plays the phone (blocking)
  HANDLE client = INVALID_HANDLE_VALUE;  // opened as a DKU-2 device is: overlapped
  explicit TPipe(DWORD bufferSize = 65536) {
    static std::atomic<int> serial{0};
    const std::string name =
        "\\\\.\\pipe\\pellory-dku2-" + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(++serial);
    server = CreateNamedPipeA(name.c_str(), PIPE_ACCESS_DUPLEX, PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT, 1,
                              bufferSize, bufferSize, 0, nullptr);
    client = CreateFileA(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                         FILE_FLAG_OVERLAPPED | FILE_ATTRIBUTE_NORMAL, nullptr);
  }
  ~TPipe() {
    if (server != INVALID_HANDLE_VALUE) CloseHandle(server);
  }
  bool Ok() const { return server != INVALID_HANDLE_VALUE && client != INVALID_HANDLE_VALUE; }
  void Write(const std::string& bytes) {
    DWORD n = 0;
    WriteFile(server, bytes.data(), static_cast<DWORD>(bytes.size()), &n, nullptr);
  }
  // What the link wrote, once `want` bytes are there (or what came within 5 s).
  std::string Read(std::size_t want) {
    std::string got;
    WaitUntil(
        [&] {
          DWORD avail = 0;
          if (!PeekNamedPipe(server, nullptr, 0, nullptr, &avail, nullptr)) return true;
          if (avail > 0) {
            std::string chunk(avail, '\0');
            DWORD n = 0;
            ReadFile(server, &chunk[0], avail, &n, nullptr);
            got.append(chunk, 0, n);
          }
          return got.size() >= want;
        },
        5000);
    return got;
  }
  // True once the link's end of the pipe is closed.
  bool ClientClosed() {
    DWORD avail = 0;
    return !PeekNamedPipe(server, nullptr, 0, nullptr, &avail, nullptr);
  }
};

TEST(Dku2Reader, DeviceFramesArriveAndFramesGoOutWithTheUsbMediaByte) {
  TPipe pipe;
  ASSERT_TRUE(pipe.Ok());
  TLinkSink sink;
  std::uint16_t code = 99;
  TOwned<TConnectionSender> sender(NewLinkSender(kLinkDku2, reinterpret_cast<std::intptr_t>(pipe.client), sink, code));
  EXPECT_EQ(code, 0);
  EXPECT_TRUE(sender->ReaderRunning());

  const std::string a = PhonePhonetFrame(0x1B, 0xD2, Bytes({0x01, 0x02}));
  const std::string b = PhonePhonetFrame(0x1B, 0x1B, Bytes({0x07}));
  // The infrared media byte is garbage on this link.
  pipe.Write("zz" + PhonePhonetFrame(0x14, 0xD2, "q") + a);
  DelayWithMessages(80);
  pipe.Write(b.substr(0, 4));
  DelayWithMessages(80);
  pipe.Write(b.substr(4));
  EXPECT_TRUE(WaitUntil([&] { return sink.frames.size() >= 2; }, 5000));
  EXPECT_EQ(sink.frames, (std::vector<std::string>{a, b}));
  EXPECT_EQ(sink.types, (std::vector<int>{0xD2, 0x1B}));
  EXPECT_FALSE(sink.offMainThread);

  sender->SendPhoneMessage(0xD1, Bytes({0x00, 0x01, 0x00, 0x03, 0x00}));
  const std::string expected = Bytes({0x1B, 0x00, 0x10, 0xD1, 0x00, 0x05, 0x00, 0x01, 0x00, 0x03, 0x00});
  EXPECT_EQ(ToHex(pipe.Read(expected.size())), ToHex(expected));

  // The device goes away: the reader ends, closes the handle and tells the sender once.
  CloseHandle(pipe.server);
  pipe.server = INVALID_HANDLE_VALUE;
  EXPECT_TRUE(WaitUntil([&] { return sink.closed > 0; }, 5000));
  DelayWithMessages(100);
  EXPECT_EQ(sink.closed, 1);
  EXPECT_FALSE(sender->ReaderRunning());
  EXPECT_FALSE(sink.offMainThread);
  sender->SendPhoneMessage(0xD1, "x");  // the link is gone: swallowed
}

TEST(Dku2Reader, ReleasingTheSenderCancelsThePendingReadAndClosesTheDeviceOnce) {
  for (int round = 0; round < 3; ++round) {
    TPipe pipe;
    ASSERT_TRUE(pipe.Ok());
    TLinkSink sink;
    std::uint16_t code = 99;
    TConnectionSender* sender = NewLinkSender(kLinkDku2, reinterpret_cast<std::intptr_t>(pipe.client), sink, code);
    ASSERT_EQ(code, 0);
    if (round == 1) pipe.Write(PhonePhonetFrame(0x1B, 0xD2, "a"));  // a frame on its way during release
    if (round == 2) {
      pipe.Write(PhonePhonetFrame(0x1B, 0xD2, "a"));
      WaitUntil([&] { return !sink.frames.empty(); }, 5000);
    }
    FreeAndNil(sender);
    EXPECT_TRUE(WaitUntil([&] { return pipe.ClientClosed(); }, 5000)) << "round " << round;
    DelayWithMessages(100);
    EXPECT_EQ(sink.closed, 0) << "a released sender gets no end notice";
    EXPECT_LE(sink.frames.size(), 1u);
  }
}

TEST(Dku2Reader, AWriteTheDeviceDoesNotTakeIsCancelledAndTheLinkStaysUsable) {
  TPipe pipe(1);  // the phone reads nothing: a long frame cannot go through
  ASSERT_TRUE(pipe.Ok());
  TLinkSink sink;
  std::uint16_t code = 99;
  TConnectionSender* sender = NewLinkSender(kLinkDku2, reinterpret_cast<std::intptr_t>(pipe.client), sink, code);
  ASSERT_EQ(code, 0);
  std::atomic<bool> sent{false};
  RunOnOtherThread([&] {
    sender->SendPhoneMessage(0x40, std::string(60000, 'w'));
    sent = true;
  });
  EXPECT_TRUE(sent.load());
  EXPECT_FALSE(sender->Sending());
  // Frames still arrive, and the link is released cleanly.
  pipe.Write(PhonePhonetFrame(0x1B, 0xD2, "a"));
  EXPECT_TRUE(WaitUntil([&] { return !sink.frames.empty(); }, 5000));
  FreeAndNil(sender);
  EXPECT_TRUE(WaitUntil([&] { return pipe.ClientClosed(); }, 5000));
}

// The driver ignores the cancel of the pending read: the reader gives the read
// up after its bound, ends and closes the device, instead of waiting for ever.
TEST(Dku2Reader, ADriverThatNeverCompletesACancelledReadDoesNotHoldTheReader) {
  TPipe pipe;
  ASSERT_TRUE(pipe.Ok());
  TDeafToCancelDku2Device deaf(pipe.client);
  const int ignoredBefore = TDeafToCancelDku2Device::Ignored();
  const int givenUpBefore = OverlappedRecordsGivenUp();
  TLinkSink sink;
  std::uint16_t code = 99;
  TConnectionSender* sender = NewLinkSender(kLinkDku2, reinterpret_cast<std::intptr_t>(pipe.client), sink, code);
  ASSERT_EQ(code, 0);
  // One frame through, then the reader is back in its next read (after one
  // poll pause) and stays there: nothing more comes.
  pipe.Write(PhonePhonetFrame(0x1B, 0xD2, "a"));
  ASSERT_TRUE(WaitUntil([&] { return !sink.frames.empty(); }, 5000));
  DelayWithMessages(300);
  FreeAndNil(sender);
  EXPECT_TRUE(WaitUntil([&] { return pipe.ClientClosed(); }, static_cast<int>(kIoCancelWaitMs) + 5000))
      << "the reader still waits for the cancelled read";
  EXPECT_EQ(TDeafToCancelDku2Device::Ignored(), ignoredBefore + 1);
  EXPECT_EQ(OverlappedRecordsGivenUp(), givenUpBefore + 1);
  EXPECT_EQ(sink.closed, 0);
}

// A driver request that is not answered in time, and whose cancel is ignored,
// is given up within the bound too.
TEST(WinDku2, ADriverRequestWhoseCancelIsIgnoredIsGivenUp) {
  TPipe pipe;
  ASSERT_TRUE(pipe.Ok());
  TDeafToCancelDku2Device deaf(pipe.client);
  // A read on the empty pipe stands in for a driver request that stays pending.
  std::atomic<bool> back{false};
  TIoResult result;
  std::thread worker([&] {
    TOverlappedIo io(pipe.client);
    io.Buffer().assign(16, '\0');
    result = io.Run([&](OVERLAPPED* ov) { return ReadFile(pipe.client, &io.Buffer()[0], 16, nullptr, ov); }, 20);
    back = true;
  });
  EXPECT_TRUE(WaitUntil([&] { return back.load(); }, static_cast<int>(kIoCancelWaitMs) + 5000));
  worker.join();
  EXPECT_EQ(result.end, TIoResult::ioTimedOut);
  EXPECT_TRUE(result.givenUp);
  EXPECT_FALSE(result.Succeeded());
  // The request ends when the device goes; it writes into the record kept for it.
  CloseHandle(pipe.client);
  pipe.client = INVALID_HANDLE_VALUE;
  DelayWithMessages(50);
}

// Threads that, before they run, ask a window of the creating thread for an
// answer (as a thread whose start needs the main thread does): the reader's
// creator must handle its messages while it waits for the reader to start.
class TAskingThreadApi : public ThreadApi {
 public:
  TAskingThreadApi(ThreadApi& real, HWND window) : real_(real), window_(window) {}
  std::unique_ptr<NativeThread> Start(void (*entry)(void*), void* arg) override {
    auto* start = new TStart{this, entry, arg};
    try {
      return real_.Start(&Run, start);
    } catch (...) {
      delete start;
      throw;
    }
  }
  ThreadId CurrentThreadId() override { return real_.CurrentThreadId(); }
  std::atomic<bool> answered{false};

 private:
  struct TStart {
    TAskingThreadApi* api;
    void (*entry)(void*);
    void* arg;
  };
  static void Run(void* p) {
    const TStart start = *static_cast<TStart*>(p);
    delete static_cast<TStart*>(p);
    DWORD_PTR result = 0;
    start.api->answered =
        SendMessageTimeoutA(start.api->window_, WM_APP, 0, 0, SMTO_NORMAL, 5000, &result) != 0 && result == 1;
    start.entry(start.arg);
  }
  ThreadApi& real_;
  HWND window_;
};

struct TAnsweringWindow {
  HWND wnd = nullptr;
  TAnsweringWindow() { wnd = AllocateHWnd(TWndMethod::Bind<&TAnsweringWindow::WndProc>(this)); }
  ~TAnsweringWindow() { DeallocateHWnd(wnd); }
  void WndProc(TMessage& msg) {
    if (msg.Msg == WM_APP)
      msg.Result = 1;
    else
      HandleDefault(wnd, msg);
  }
};

TEST(Dku2Reader, TheReadersStartHandlesTheCreatorsMessages) {
  TPipe pipe;
  ASSERT_TRUE(pipe.Ok());
  TAnsweringWindow window;
  ASSERT_NE(window.wnd, nullptr);
  ThreadApi& real = GetThreadApi();
  TAskingThreadApi asking(real, window.wnd);
  SetThreadApi(&asking);
  TLinkSink sink;
  std::uint16_t code = 99;
  TConnectionSender* sender = NewLinkSender(kLinkDku2, reinterpret_cast<std::intptr_t>(pipe.client), sink, code);
  SetThreadApi(&real);
  EXPECT_EQ(code, 0);
  EXPECT_TRUE(asking.answered.load()) << "the creator did not answer while the reader started";
  EXPECT_TRUE(sender->ReaderRunning());
  FreeAndNil(sender);
  EXPECT_TRUE(WaitUntil([&] { return pipe.ClientClosed(); }, 5000));
}

TEST(Dku2Reader, TheEndNoticeMayReleaseTheSender) {
  TPipe pipe;
  ASSERT_TRUE(pipe.Ok());
  TLinkSink sink;
  std::uint16_t code = 99;
  TConnectionSender* sender = NewLinkSender(kLinkDku2, reinterpret_cast<std::intptr_t>(pipe.client), sink, code);
  ASSERT_EQ(code, 0);
  sink.releaseOnClose = &sender;
  CloseHandle(pipe.server);
  pipe.server = INVALID_HANDLE_VALUE;
  EXPECT_TRUE(WaitUntil([&] { return sender == nullptr; }, 5000));
  DelayWithMessages(100);
  EXPECT_EQ(sink.closed, 1);
  if (sender) sender->Free();
}

// --- The finder against simulated phones behind the fakes (with-link-sims) ---------------------------

TEST(LinkSimIrda, TheFinderFindsThe6310AndDoesNotTryIrdaAgain) {
  if (!UseFakeLinkDevices() || !FakeIrProvider())
    GTEST_FAIL() << "no simulated infrared phone: run this test through phone/tests/win/with-link-sims";
  UseWinPhonePlatform();
  TFakeIrProvider& ir = *FakeIrProvider();
  TFinderScope scope;
  TFinderRecorder& rec = scope.rec;
  TPhoneFinder* finder = scope.finder;
  finder->ScanIrDA = true;
  finder->SetActive(true);
  ASSERT_TRUE(WaitUntil([&] { return !rec.phones.empty(); }, 60000)) << "no phone found over IrDA";
  TNokiaPhone* phone = rec.phones[0];
  EXPECT_EQ(phone->LinkMethod, kLinkInfrared);
  EXPECT_EQ(phone->ModelNumberHint, 6310);
  EXPECT_EQ(phone->GetIMEI(), "350612345678901");
  EXPECT_EQ(phone->GetModelNumber(), 6310);
  EXPECT_EQ(finder->IrDAState.load(), 1);
  for (const std::string& s : ir.Services()) EXPECT_EQ(s, "Nokia:PhoNet");

  const int enumerations = ir.Enumerations();
  const std::size_t passes = rec.passes.size();
  EXPECT_TRUE(WaitUntil([&] { return rec.passes.size() >= passes + 3; }, 30000));
  EXPECT_EQ(ir.Enumerations(), enumerations) << "IrDA was tried again after the find";
  EXPECT_EQ(rec.phones.size(), 1u);
  EXPECT_FALSE(rec.offMainThread);

  // The simulator saw PhoNet frames with the infrared media byte.
  int phonet = 0;
  for (const std::string& line : SimulatorLogIn("PELLORY_FAKE_IRDA_LOG")) phonet += line.rfind("14 00 10 ", 0) == 0;
  EXPECT_GT(phonet, 0);
}

TEST(LinkSimDku2, TheFinderFindsThePhoneAndNeverRetriesItsPath) {
  if (!UseFakeLinkDevices() || !FakeDku2Devices())
    GTEST_FAIL() << "no simulated DKU-2 phone: run this test through phone/tests/win/with-link-sims";
  UseWinPhonePlatform();
  const std::string path = ComDevicePath(std::atoi(std::getenv("PELLORY_FAKE_DKU2_PORT")));
  TFakeDku2FinderDevices& dku2 = *FakeDku2Devices();
  TFinderScope scope;
  TFinderRecorder& rec = scope.rec;
  TPhoneFinder* finder = scope.finder;
  finder->ScanDku2 = true;
  finder->SetActive(true);
  ASSERT_TRUE(WaitUntil([&] { return !rec.phones.empty(); }, 60000)) << "no phone found over DKU-2";
  TNokiaPhone* phone = rec.phones[0];
  EXPECT_EQ(phone->LinkMethod, kLinkDku2);
  EXPECT_EQ(phone->Dku2Path, path);
  EXPECT_EQ(phone->GetIMEI(), "350612345678901");

  const std::size_t opened = dku2.Opened().size();
  const std::size_t passes = rec.passes.size();
  EXPECT_TRUE(WaitUntil([&] { return rec.passes.size() >= passes + 3; }, 30000));
  EXPECT_EQ(dku2.Opened().size(), opened) << "the found path was tried again";
  EXPECT_EQ(rec.phones.size(), 1u);
  EXPECT_FALSE(rec.offMainThread);
  scope.End();

  // Once the phone lets go of the link, its reader has closed the device.
  phone->Disconnect();
  HANDLE again = INVALID_HANDLE_VALUE;
  EXPECT_TRUE(WaitUntil(
      [&] {
        again = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
        return again != INVALID_HANDLE_VALUE;
      },
      5000))
      << "the device is still held";
  if (again != INVALID_HANDLE_VALUE) CloseHandle(again);
}

}  // namespace
