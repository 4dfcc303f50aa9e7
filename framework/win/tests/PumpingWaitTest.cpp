// The pumping wait: timing, message dispatch, synchronous calls, other threads.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "PumpingWait.h"
#include "Thread.h"
#include "Win32Platform.h"
#include "WndProc.h"

namespace {

class PumpingWaitTest : public ::testing::Test {
 protected:
  void SetUp() override { InitWin32Platform(); }
};

struct Receiver {
  std::atomic<int> count{0};
  std::atomic<DWORD> thread{0};
  HWND wnd = nullptr;
  void WndProc(TMessage& msg) {
    if (msg.Msg == WM_APP) {
      ++count;
      thread = GetCurrentThreadId();
    } else {
      HandleDefault(wnd, msg);
    }
  }
};

TEST_F(PumpingWaitTest, WaitsItsTimeAndDispatchesAMessagePostedMeanwhile) {
  Receiver r;
  r.wnd = AllocateHWnd(TWndMethod::Bind<&Receiver::WndProc>(&r));
  std::thread poster([&] {
    Sleep(50);
    PostMessageA(r.wnd, WM_APP, 0, 0);
  });
  const std::uint64_t start = MonotonicMilliseconds();
  PumpingWait(200);
  const std::uint64_t took = MonotonicMilliseconds() - start;
  poster.join();
  EXPECT_GE(took, 165u);
  EXPECT_LE(took, 220u);
  EXPECT_EQ(r.count.load(), 1);
  EXPECT_EQ(r.thread.load(), GetCurrentThreadId());
  DeallocateHWnd(r.wnd);
}

TEST_F(PumpingWaitTest, ServesSynchronousCallsOnTheMainThreadAndEndsWhenDone) {
  std::atomic<bool> ran{false};
  std::thread worker([&] { SynchronizeCall([&] { ran = true; }); });
  const std::uint64_t start = MonotonicMilliseconds();
  EXPECT_TRUE(PumpingWaitUntil(5000, [&] { return ran.load(); }));
  EXPECT_LT(MonotonicMilliseconds() - start, 2000u);
  worker.join();
  EXPECT_FALSE(PumpingWaitUntil(30, [] { return false; }));
}

TEST_F(PumpingWaitTest, AWorkerPumpsOnlyItsOwnQueueAndNeverRunsSynchronousCalls) {
  std::atomic<bool> syncRan{false}, syncRanDuringWorkerWait{false};
  std::atomic<int> workerMessages{0};
  std::thread requester([&] { SynchronizeCall([&] { syncRan = true; }); });
  std::thread worker([&] {
    Receiver r;
    r.wnd = AllocateHWnd(TWndMethod::Bind<&Receiver::WndProc>(&r));
    PostMessageA(r.wnd, WM_APP, 0, 0);
    PumpingWait(100);
    ProcessThreadMessages();
    workerMessages = r.count.load();
    syncRanDuringWorkerWait = syncRan.load();
    EXPECT_EQ(r.thread.load(), GetCurrentThreadId());
    DeallocateHWnd(r.wnd);
  });
  worker.join();
  EXPECT_EQ(workerMessages.load(), 1);
  EXPECT_FALSE(syncRanDuringWorkerWait.load());
  EXPECT_TRUE(PumpingWaitUntil(5000, [&] { return syncRan.load(); }));
  requester.join();
}

TEST_F(PumpingWaitTest, WaitForObjectsReturnsTheSignalledHandle) {
  HANDLE events[2] = {CreateEventA(nullptr, TRUE, FALSE, nullptr), CreateEventA(nullptr, TRUE, FALSE, nullptr)};
  std::thread setter([&] {
    Sleep(30);
    SetEvent(events[1]);
  });
  EXPECT_EQ(PumpingWaitForObjects(events, 2, 5000), 1);
  setter.join();
  ResetEvent(events[1]);
  EXPECT_EQ(PumpingWaitForObjects(events, 2, 20), -1);
  CloseHandle(events[0]);
  CloseHandle(events[1]);
}

TEST_F(PumpingWaitTest, AQuitMessageTakenDuringTheWaitIsPostedAgain) {
  // Without an application loop to end (one made by another test is set aside).
  QuitMessageHandler saved = SetQuitMessageHandler(nullptr);
  PostQuitMessage(7);
  PumpingWait(20);
  SetQuitMessageHandler(saved);
  MSG msg;
  ASSERT_TRUE(PeekMessageA(&msg, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));
  EXPECT_EQ(msg.wParam, 7u);
}

}  // namespace
