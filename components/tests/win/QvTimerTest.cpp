// The thread timer in both modes: ticking, arming, the event's thread, errors
// and freeing while events are under way.
#include "QvTimer.h"

#include <gtest/gtest.h>

#include <atomic>

#include "FormFromText.h"
#include "Forms.h"
#include "ObjectConvert.h"
#include "PumpingWait.h"

namespace {

struct Sink : TObject {
  std::atomic<int> ticks{0};
  std::atomic<ThreadId> lastThread{0};
  std::atomic<int> throwEvery{0};
  void OnTick(TObject*) {
    const int n = ++ticks;
    lastThread = CurrentThreadID();
    if (throwEvery && n % throwEvery == 0) throw EConvertError("tick failed");
  }
  void Other(TObject*) { ++ticks; }
};

// Runs the message loop for `ms` milliseconds (synchronous calls and window timers are served).
void Pump(unsigned ms) {
  PumpingWait(ms);
}

struct Errors {
  static inline std::atomic<int> seen{0};
  static void Hook(TApplication*, TObject*, std::exception_ptr) { ++seen; }
};

TEST(QvTimerTest, AboutTenEventsInHalfASecondInEitherModeAndNoneWithoutIntervalOrHandler) {
  InitForms();
  for (bool threaded : {true, false}) {
    SCOPED_TRACE(threaded ? "thread" : "window");
    Sink sink;
    TOwned<TQvTimer> timer(New<TQvTimer>(nullptr));
    timer->SetThreaded(threaded);
    timer->SetInterval(50);
    Pump(150);
    EXPECT_EQ(sink.ticks, 0) << "no handler yet";
    EXPECT_EQ(timer->Mode(), TTimerMode::Off);
    timer->SetOnTimer(TNotifyEvent::Bind<&Sink::OnTick>(&sink));
    EXPECT_EQ(timer->Mode(), threaded ? TTimerMode::Thread : TTimerMode::Window);
    Pump(500);
    EXPECT_GE(sink.ticks, 5);
    EXPECT_LE(sink.ticks, 12);
    EXPECT_EQ(sink.lastThread.load(), CurrentThreadID()) << "SyncEvent: on the main thread";
    timer->SetInterval(0);
    const int stopped = sink.ticks;
    Pump(200);
    EXPECT_EQ(sink.ticks, stopped) << "Interval 0 stops it";
    EXPECT_EQ(timer->Mode(), TTimerMode::Off);
  }
}

TEST(QvTimerTest, ArmingFollowsTheSettingsAndSwitchingModeKeepsTicking) {
  InitForms();
  Sink sink;
  TOwned<TQvTimer> timer(New<TQvTimer>(nullptr));
  timer->SetInterval(30);
  timer->SetOnTimer(TNotifyEvent::Bind<&Sink::OnTick>(&sink));
  timer->SetOnTimer(TNotifyEvent::Bind<&Sink::Other>(&sink));  // handler to handler
  EXPECT_EQ(timer->Mode(), TTimerMode::Thread);
  timer->SetEnabled(false);
  EXPECT_EQ(timer->Mode(), TTimerMode::Off);
  Pump(120);
  EXPECT_EQ(sink.ticks, 0) << "disabled";
  timer->SetEnabled(true);
  Pump(200);
  const int threadTicks = sink.ticks;
  EXPECT_GT(threadTicks, 0);
  timer->SetThreaded(false);  // while running
  EXPECT_EQ(timer->Mode(), TTimerMode::Window);
  timer->SetThreadPriority(tpLower);  // window mode: nothing else changes
  EXPECT_EQ(timer->Mode(), TTimerMode::Window);
  Pump(200);
  EXPECT_GT(sink.ticks, threadTicks) << "still ticking after the switch";
  timer->SetThreaded(true);
  const int windowTicks = sink.ticks;
  Pump(200);
  EXPECT_GT(sink.ticks, windowTicks);
  timer->SetOnTimer(TNotifyEvent());
  EXPECT_EQ(timer->Mode(), TTimerMode::Off);
}

TEST(QvTimerTest, WithoutSyncEventTheEventRunsOnTheTimerThread) {
  InitForms();
  Sink sink;
  TOwned<TQvTimer> timer(New<TQvTimer>(nullptr));
  timer->SetSyncEvent(false);
  timer->SetInterval(20);
  timer->SetOnTimer(TNotifyEvent::Bind<&Sink::OnTick>(&sink));
  for (int i = 0; i < 100 && sink.ticks < 3; ++i) Sleep(10);  // no message loop needed
  EXPECT_GE(sink.ticks, 3);
  EXPECT_EQ(sink.lastThread.load(), timer->TimerThreadID());
  EXPECT_NE(sink.lastThread.load(), CurrentThreadID());
}

TEST(QvTimerTest, AnEventErrorGoesToTheApplicationAndTheTimerKeepsTicking) {
  InitForms();
  THandleExceptionProc old = HandleExceptionHook;
  HandleExceptionHook = &Errors::Hook;
  for (bool threaded : {true, false}) {
    SCOPED_TRACE(threaded ? "thread" : "window");
    Errors::seen = 0;
    Sink sink;
    sink.throwEvery = 1;
    TOwned<TQvTimer> timer(New<TQvTimer>(nullptr));
    timer->SetThreaded(threaded);
    timer->SetInterval(20);
    timer->SetOnTimer(TNotifyEvent::Bind<&Sink::OnTick>(&sink));
    Pump(300);
    EXPECT_GE(sink.ticks, 4) << "the errors do not stop it";
    EXPECT_GE(Errors::seen, 4);
  }
  HandleExceptionHook = old;
}

TEST(QvTimerTest, FreeingWhileEventsAreDueNeverFiresAfterwards) {
  InitForms();
  for (bool sync : {true, false}) {
    SCOPED_TRACE(sync ? "synchronised" : "on the thread");
    Sink sink;
    for (int i = 0; i < 50; ++i) {
      auto* timer = New<TQvTimer>(nullptr);
      timer->SetSyncEvent(sync);
      timer->SetInterval(1);
      timer->SetOnTimer(TNotifyEvent::Bind<&Sink::OnTick>(&sink));
      Sleep(i % 5);  // a call may be queued for the main thread now
      timer->Free();
      const int after = sink.ticks;
      Pump(5);
      EXPECT_EQ(sink.ticks, after) << "round " << i;
    }
  }
}

}  // namespace

TEST(QvTimerTest, ThreadPriorityIsStreamedAndReadBack) {
  RegisterClasses({&TQvTimer::StaticClass()});
  const std::string text =
      "object Form1: TForm\r\n"
      "  object Timer: TQvTimer\r\n"
      "    Enabled = False\r\n"
      "    ThreadPriority = tpHigher\r\n"
      "  end\r\n"
      "  object Plain: TQvTimer\r\n"
      "    Enabled = False\r\n"
      "  end\r\n"
      "end\r\n";
  TOwned<TForm> form(ReadFormText(text));
  auto* timer = dynamic_cast<TQvTimer*>(form->FindComponent("Timer"));
  auto* plain = dynamic_cast<TQvTimer*>(form->FindComponent("Plain"));
  ASSERT_NE(timer, nullptr);
  ASSERT_NE(plain, nullptr);
  EXPECT_EQ(timer->GetThreadPriority(), tpHigher);
  EXPECT_EQ(plain->GetThreadPriority(), tpNormal);

  TOwned<TMemoryStream> out(New<TMemoryStream>());
  TOwned<TWriter> writer(New<TWriter>(*out));
  writer->WriteRootComponent(form.get());
  writer.reset();
  const std::string written = ObjectBinaryToText(out->DataString());
  // The default is not written.
  EXPECT_EQ(written.find("ThreadPriority"), written.rfind("ThreadPriority")) << written;
  EXPECT_NE(written.find("ThreadPriority = tpHigher"), std::string::npos) << written;
  TOwned<TForm> copy(ReadFormText(written));
  auto* back = dynamic_cast<TQvTimer*>(copy->FindComponent("Timer"));
  ASSERT_NE(back, nullptr);
  EXPECT_EQ(back->GetThreadPriority(), tpHigher);
}
