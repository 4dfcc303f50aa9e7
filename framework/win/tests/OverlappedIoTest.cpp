// Handle owners and the overlapped-I/O policy, over a named pipe.
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>

#include "KernelHandles.h"
#include "OverlappedIo.h"

namespace {

bool IsOpenHandle(HANDLE h) {
  DWORD flags = 0;
  return GetHandleInformation(h, &flags) != 0;
}

TEST(KernelHandles, EventsKeepTheirResetRuleAndOwnersCloseWhatTheyHold) {
  TManualResetEvent manual;
  TAutoResetEvent automatic;
  ASSERT_TRUE(manual.Valid());
  ASSERT_TRUE(automatic.Valid());
  EXPECT_FALSE(manual.Signalled());
  EXPECT_FALSE(automatic.Signalled());
  manual.Set();
  automatic.Set();
  EXPECT_TRUE(manual.Signalled());
  EXPECT_TRUE(manual.Signalled()) << "a manual-reset event stays set";
  EXPECT_TRUE(automatic.Signalled());
  EXPECT_FALSE(automatic.Signalled()) << "an auto-reset event resets itself";
  manual.Reset();
  EXPECT_FALSE(manual.Signalled());
  EXPECT_EQ(WaitForSingleObject(manual, 0), static_cast<DWORD>(WAIT_TIMEOUT));  // converts for the waits

  HANDLE first = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  HANDLE second = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  {
    TOwnedHandle owner(first);
    owner.Replace(second);
    EXPECT_FALSE(IsOpenHandle(first)) << "the handle replaced is closed";
    EXPECT_EQ(owner.Release(), second);
    EXPECT_FALSE(owner.Valid());
  }
  EXPECT_TRUE(IsOpenHandle(second)) << "a released handle is not closed";
  { TOwnedHandle owner(second); }
  EXPECT_FALSE(IsOpenHandle(second));
  TOwnedHandle none(INVALID_HANDLE_VALUE);
  EXPECT_FALSE(none.Valid());
}

// A pipe: `server` plays the device's far side, `client` is opened for overlapped I/O.
struct Pipe {
  HANDLE server = INVALID_HANDLE_VALUE;
  HANDLE client = INVALID_HANDLE_VALUE;
  Pipe() {
    static std::atomic<int> serial{0};
    const std::string name =
        "\\\\.\\pipe\\pellory-io-" + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(++serial);
    server = CreateNamedPipeA(name.c_str(), PIPE_ACCESS_DUPLEX, PIPE_TYPE_BYTE | PIPE_WAIT, 1, 4096, 4096, 0, nullptr);
    client = CreateFileA(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, FILE_FLAG_OVERLAPPED,
                         nullptr);
  }
  ~Pipe() {
    if (client != INVALID_HANDLE_VALUE) CloseHandle(client);
    if (server != INVALID_HANDLE_VALUE) CloseHandle(server);
  }
  bool Ok() const { return server != INVALID_HANDLE_VALUE && client != INVALID_HANDLE_VALUE; }
};

TIoResult ReadSome(HANDLE handle, std::string& got, DWORD waitMs, HANDLE stop = nullptr) {
  TOverlappedIo io(handle);
  io.Buffer().assign(8, '\0');
  TIoResult r = io.Run([&](OVERLAPPED* ov) { return ReadFile(handle, &io.Buffer()[0], 8, nullptr, ov); }, waitMs, stop);
  if (!r.givenUp) got.assign(io.Buffer(), 0, r.bytes);
  return r;
}

TEST(OverlappedIo, EveryWayARequestEnds) {
  enum Setup { dataWaiting, nothingComes, stopped, badHandle };
  struct {
    const char* name;
    Setup setup;
    TIoResult::TEnd end;
    DWORD error;
    const char* got;
  } const cases[] = {
      {"data", dataWaiting, TIoResult::ioDone, 0, "abc"},
      {"time-out", nothingComes, TIoResult::ioTimedOut, ERROR_OPERATION_ABORTED, ""},
      {"stop", stopped, TIoResult::ioStopped, ERROR_OPERATION_ABORTED, ""},
      {"refused at once", badHandle, TIoResult::ioFailed, ERROR_INVALID_HANDLE, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Pipe pipe;
    ASSERT_TRUE(pipe.Ok());
    TManualResetEvent stop;
    if (c.setup == dataWaiting) {
      DWORD n = 0;
      WriteFile(pipe.server, "abc", 3, &n, nullptr);
    }
    if (c.setup == stopped) stop.Set();
    std::string got = "unchanged";
    const HANDLE target = c.setup == badHandle ? INVALID_HANDLE_VALUE : pipe.client;
    const TIoResult r = ReadSome(target, got, c.setup == stopped ? INFINITE : 50, stop);
    EXPECT_EQ(r.end, c.end);
    EXPECT_EQ(r.error, c.error);
    EXPECT_FALSE(r.givenUp);
    EXPECT_EQ(r.Succeeded(), c.end == TIoResult::ioDone);
    if (c.setup != badHandle) {
      EXPECT_EQ(got, c.got);
    }
  }
}

void IgnoreCancel(HANDLE, OVERLAPPED*) {}

TEST(OverlappedIo, ACancelThatNeverComesBackIsGivenUpAndTheRecordOutlivesTheRequest) {
  Pipe pipe;
  ASSERT_TRUE(pipe.Ok());
  const TIoCanceller saved = SetIoCanceller(&IgnoreCancel);
  const int givenUpBefore = OverlappedRecordsGivenUp();
  std::atomic<bool> back{false};
  TIoResult r;
  std::thread reader([&] {
    std::string got;
    r = ReadSome(pipe.client, got, 20);
    back = true;
  });
  // Bounded: the cancel wait, not for ever. Ten seconds is only a watchdog.
  for (int i = 0; i < 1000 && !back; ++i) Sleep(10);
  SetIoCanceller(saved);
  ASSERT_TRUE(back.load()) << "the request was waited for after its cancel";
  reader.join();
  EXPECT_EQ(r.end, TIoResult::ioTimedOut);
  EXPECT_TRUE(r.givenUp);
  EXPECT_EQ(OverlappedRecordsGivenUp(), givenUpBefore + 1);
  // The request given up ended with its thread (into the record kept alive
  // for it); the pipe goes on working for new requests.
  DWORD n = 0;
  WriteFile(pipe.server, "next", 4, &n, nullptr);
  std::string got;
  const TIoResult next = ReadSome(pipe.client, got, 2000);
  EXPECT_EQ(next.end, TIoResult::ioDone);
  EXPECT_EQ(got, "next");
}

}  // namespace
