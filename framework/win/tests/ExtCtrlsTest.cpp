// TTimer: armed from any thread, fired on the main thread, exceptions contained.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "ExtCtrls.h"
#include "PumpingWait.h"
#include "Win32Platform.h"

namespace {

class TimerTest : public ::testing::Test {
 protected:
  void SetUp() override { InitWin32Platform(); }
};

struct TimerSink {
  std::atomic<int> fired{0};
  std::atomic<DWORD> thread{0};
  bool throwing = false;
  void OnTimer(TObject*) {
    ++fired;
    thread = GetCurrentThreadId();
    if (throwing) throw EConvertError("timer handler failed");
  }
};

std::atomic<int> g_handled{0};
void CountException(std::exception_ptr) {
  ++g_handled;
}

TEST_F(TimerTest, EnabledFromAWorkerThreadFiresOnTheMainThread) {
  TimerSink sink;
  TOwned<TTimer> timer(New<TTimer>(nullptr));
  timer->SetEnabled(false);
  timer->SetInterval(20);
  timer->SetOnTimer(TNotifyEvent::Bind<&TimerSink::OnTimer>(&sink));
  PumpingWait(60);
  EXPECT_EQ(sink.fired.load(), 0);

  std::thread([&timer] { timer->SetEnabled(true); }).join();
  EXPECT_TRUE(PumpingWaitUntil(3000, [&] { return sink.fired.load() >= 2; }));
  EXPECT_EQ(sink.thread.load(), GetCurrentThreadId());

  std::thread([&timer] { timer->SetEnabled(false); }).join();
  PumpingWait(60);  // the request is served; a WM_TIMER already queued is ignored
  const int stopped = sink.fired.load();
  PumpingWait(100);
  EXPECT_EQ(sink.fired.load(), stopped);
}

TEST_F(TimerTest, AThrowingHandlerIsHandledAndTheTimerGoesOn) {
  SetCallbackExceptionHandler(&CountException);
  g_handled = 0;
  TimerSink sink;
  sink.throwing = true;
  TTimer* timer = New<TTimer>(nullptr);
  timer->SetInterval(10);
  timer->SetOnTimer(TNotifyEvent::Bind<&TimerSink::OnTimer>(&sink));
  EXPECT_TRUE(PumpingWaitUntil(3000, [&] { return sink.fired.load() >= 3; }));
  timer->Free();
  SetCallbackExceptionHandler(nullptr);
  EXPECT_GE(g_handled.load(), 3);
}

TEST_F(TimerTest, AHandlerSetFromAWorkerThreadWhileTheTimerFiresTakesOver) {
  TimerSink first, second;
  const TNotifyEvent toFirst = TNotifyEvent::Bind<&TimerSink::OnTimer>(&first);
  const TNotifyEvent toSecond = TNotifyEvent::Bind<&TimerSink::OnTimer>(&second);
  TOwned<TTimer> timer(New<TTimer>(nullptr));
  timer->SetInterval(5);
  timer->SetOnTimer(toFirst);
  EXPECT_TRUE(PumpingWaitUntil(3000, [&] { return first.fired.load() >= 1; }));
  std::atomic<bool> done{false};
  std::thread setter([&] {
    for (int i = 0; i < 200; ++i) timer->SetOnTimer(i % 2 ? toFirst : toSecond);
    timer->SetOnTimer(toSecond);
    done = true;
  });
  EXPECT_TRUE(PumpingWaitUntil(3000, [&] { return done.load(); }));  // fires meanwhile
  setter.join();
  EXPECT_EQ(timer->GetOnTimer(), toSecond);
  const int firstAfter = first.fired.load();
  const int secondAfter = second.fired.load();
  EXPECT_TRUE(PumpingWaitUntil(3000, [&] { return second.fired.load() >= secondAfter + 2; }));
  EXPECT_EQ(first.fired.load(), firstAfter);
  EXPECT_EQ(second.thread.load(), GetCurrentThreadId());
}

TEST_F(TimerTest, CreatedAndFreedOnAWorkerThreadStillRunsOnTheMainThread) {
  TimerSink sink;
  std::atomic<TTimer*> timer{nullptr};
  std::thread maker([&] {
    TTimer* t = New<TTimer>(nullptr);
    t->SetInterval(10);
    t->SetOnTimer(TNotifyEvent::Bind<&TimerSink::OnTimer>(&sink));
    timer = t;
  });
  EXPECT_TRUE(PumpingWaitUntil(3000, [&] { return sink.fired.load() >= 1; }));
  maker.join();
  EXPECT_EQ(sink.thread.load(), GetCurrentThreadId());
  std::atomic<bool> freed{false};
  std::thread freer([&] {
    timer.load()->Free();
    freed = true;
  });
  EXPECT_TRUE(PumpingWaitUntil(3000, [&] { return freed.load(); }));
  freer.join();
}

}  // namespace
