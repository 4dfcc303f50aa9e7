#include "Thread.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "MainThreadScope.h"

namespace {

std::atomic<int> g_destroyedThreads{0};

// A thread that runs a function object as its Execute.
class TTestThread : public TThread {
 public:
  TTestThread(bool suspended, std::function<void(TTestThread&)> body) : TThread(suspended), body_(std::move(body)) {}
  ~TTestThread() override { ++g_destroyedThreads; }
  using TThread::CheckSuspended;
  using TThread::SetReturnValue;
  using TThread::Synchronize;

 protected:
  void Execute() override { body_(*this); }

 private:
  std::function<void(TTestThread&)> body_;
};

struct ThreadTest : ::testing::Test {
  TMainThreadScope mainThread;
};

TEST_F(ThreadTest, SynchronizeFromSeveralThreadsCarriesExceptionsBackAndWaitForServesTheQueue) {
  constexpr int kThreads = 4, kCalls = 20;
  const ThreadId mainId = CurrentThreadID();
  std::atomic<int> ranOnMain{0}, caught{0};
  std::vector<TTestThread*> threads;
  for (int t = 0; t < kThreads; ++t)
    threads.push_back(New<TTestThread>(false, [&, t](TTestThread& self) {
      for (int i = 0; i < kCalls; ++i) {
        try {
          self.Synchronize([&, i] {
            if (CurrentThreadID() == mainId) ++ranOnMain;
            if (i % 4 == 0) throw EConvertError("call " + std::to_string(t));
          });
        } catch (const EConvertError& e) {
          if (e.Message == "call " + std::to_string(t)) ++caught;
        }
      }
      self.SetReturnValue(t + 100);
    }));
  // Nothing pumps but WaitFor: it must serve every thread's calls, not only its own thread's.
  for (int t = 0; t < kThreads; ++t) {
    EXPECT_EQ(threads[t]->WaitFor(), t + 100);
    EXPECT_FALSE(threads[t]->FatalException());
    threads[t]->Free();
  }
  EXPECT_EQ(ranOnMain, kThreads * kCalls);
  EXPECT_EQ(caught, kThreads * kCalls / 4);
  EXPECT_FALSE(SynchronizePending());
}

TEST_F(ThreadTest, NestedRequestIsServedWhileTheMainThreadPumpsInsideASynchronousCall) {
  std::atomic<bool> outerRunning{false}, innerDone{false};
  std::string order;
  TOwned<TTestThread> outer(New<TTestThread>(false, [&](TTestThread& self) {
    self.Synchronize([&] {
      order += "outer{";
      outerRunning = true;
      while (!innerDone) CheckSynchronize(10);  // pumping, as a handler inside a modal loop does
      order += "}";
    });
  }));
  TOwned<TTestThread> inner(New<TTestThread>(false, [&](TTestThread& self) {
    while (!outerRunning) std::this_thread::yield();
    self.Synchronize([&] { order += "inner"; });
    innerDone = true;
  }));
  outer->WaitFor();
  inner->WaitFor();
  EXPECT_EQ(order, "outer{inner}");
}

struct TerminateSink {
  std::atomic<int> calls{0};
  ThreadId on = 0;
  void Terminated(TObject*) {
    on = CurrentThreadID();
    ++calls;
  }
};

TEST_F(ThreadTest, LifecycleSuspendedStartFatalExceptionAndOnTerminateOnTheMainThread) {
  // Created suspended: nothing runs until Resume.
  std::atomic<bool> ran{false};
  auto* t = New<TTestThread>(true, [&](TTestThread&) { ran = true; });
  EXPECT_TRUE(t->Suspended());
  EXPECT_THROW(t->WaitFor(), EThread);
  EXPECT_FALSE(ran);
  t->Resume();
  t->WaitFor();
  EXPECT_TRUE(ran);
  t->Free();

  // An escaping exception is kept; OnTerminate runs on the main thread.
  TerminateSink sink;
  t = New<TTestThread>(true, [](TTestThread&) { throw std::runtime_error("boom"); });
  t->OnTerminate = TNotifyEvent::Bind<&TerminateSink::Terminated>(&sink);
  t->Resume();
  t->WaitFor();
  EXPECT_EQ(sink.calls, 1);
  EXPECT_EQ(sink.on, CurrentThreadID());
  ASSERT_TRUE(t->FatalException());
  EXPECT_THROW(std::rethrow_exception(t->FatalException()), std::runtime_error);
  t->Free();

  // A self-freeing thread frees itself after OnTerminate; its last call is served by pumping.
  TerminateSink sink2;
  const int destroyedBefore = g_destroyedThreads;
  t = New<TTestThread>(true, [](TTestThread&) {});
  t->FreeOnTerminate = true;
  t->OnTerminate = TNotifyEvent::Bind<&TerminateSink::Terminated>(&sink2);
  t->Resume();
  while (sink2.calls == 0) CheckSynchronize(10);
  while (g_destroyedThreads == destroyedBefore) std::this_thread::yield();
}

TEST_F(ThreadTest, CooperativeSuspendStopsAtSafePointsAndFreeingTerminatesAndWaits) {
  std::atomic<int> ticks{0};
  auto* t = New<TTestThread>(false, [&](TTestThread& self) {
    while (!self.Terminated()) {
      self.CheckSuspended();
      ++ticks;
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
  });
  while (ticks < 3) std::this_thread::yield();
  t->Suspend();
  t->Suspend();
  std::this_thread::sleep_for(std::chrono::milliseconds(20));  // let it reach the safe point
  const int paused = ticks;
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  EXPECT_LE(ticks - paused, 0);
  t->Resume();
  EXPECT_TRUE(t->Suspended());  // two suspends need two resumes
  t->Resume();
  EXPECT_FALSE(t->Suspended());
  while (ticks < paused + 3) std::this_thread::yield();
  t->Suspend();
  t->Free();  // terminates a paused thread and waits for it
}

TEST_F(ThreadTest, FreeingAThreadThatWaitsInSynchronizeServesTheCallInsteadOfDeadlocking) {
  std::atomic<int> calls{0};
  auto* t = New<TTestThread>(false, [&](TTestThread& self) {
    while (!self.Terminated()) self.Synchronize([&] { ++calls; });
  });
  while (!SynchronizePending()) std::this_thread::yield();
  t->Free();  // terminates, then waits while serving the pending call
  EXPECT_GE(calls, 1);
  EXPECT_FALSE(SynchronizePending());
}

// A platform's main-thread wait: blocks on its own signal (the waker's), serving
// synchronous calls between wake-ups. A wait that was never woken within 5 s
// is counted as lost.
struct TestWaiter : MainThreadWaiter, MainThreadWaker {
  std::atomic<int> waits{0}, wakes{0}, lost{0};
  std::mutex m;
  std::condition_variable cv;
  bool woken = false;
  void Wake() override {
    {
      std::lock_guard<std::mutex> g(m);
      woken = true;
    }
    ++wakes;
    cv.notify_all();
  }
  void WaitUntil(const std::function<bool()>& done) override {
    ++waits;
    for (;;) {
      CheckSynchronize();
      if (done()) return;
      std::unique_lock<std::mutex> lk(m);
      if (!cv.wait_for(lk, std::chrono::seconds(5), [&] { return woken; })) ++lost;
      woken = false;
    }
  }
};

struct InstalledWaiter {
  TestWaiter waiter;
  InstalledWaiter() {
    SetMainThreadWaker(&waiter);
    SetMainThreadWaiter(&waiter);
  }
  ~InstalledWaiter() {
    SetMainThreadWaiter(nullptr);
    SetMainThreadWaker(nullptr);
  }
};

TEST_F(ThreadTest, WaitForAndFreeOnTheMainThreadWaitWithThePlatformsWaiterAndAreWokenAtTheEnd) {
  enum Way { waitFor, freeRunning };
  for (const Way way : {waitFor, freeRunning}) {
    SCOPED_TRACE(way == waitFor ? "WaitFor" : "Free");
    InstalledWaiter installed;
    std::atomic<bool> release{false}, running{false};
    std::atomic<int> calls{0};
    auto* t = New<TTestThread>(false, [&](TTestThread& self) {
      running = true;
      while (!release && !self.Terminated()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
      self.Synchronize([&] { ++calls; });
      self.SetReturnValue(7);
    });
    while (!running) std::this_thread::yield();
    if (way == waitFor) {
      release = true;
      EXPECT_EQ(t->WaitFor(), 7);
      t->Free();
    } else {
      t->Free();  // terminates it, then waits
    }
    EXPECT_EQ(installed.waiter.waits.load(), 1);
    EXPECT_EQ(calls.load(), 1);
    EXPECT_EQ(installed.waiter.lost.load(), 0) << "the thread's end did not wake the waiter";
  }
  // Off the main thread the waiter is not used.
  InstalledWaiter installed;
  auto* t = New<TTestThread>(false, [](TTestThread&) {});
  std::thread([t] { t->WaitFor(); }).join();
  t->Free();  // finished: nothing to wait for
  EXPECT_EQ(installed.waiter.waits.load(), 0);
}

TEST_F(ThreadTest, ASelfFreeingThreadCannotBeWaitedForAndMayBeMadeSelfFreeingWhileItRuns) {
  const int destroyedBefore = g_destroyedThreads;
  std::atomic<bool> release{false};
  auto* t = New<TTestThread>(false, [&](TTestThread&) {
    while (!release) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  });
  t->FreeOnTerminate = true;  // set by another thread while the worker runs
  EXPECT_THROW(t->WaitFor(), EThread);
  release = true;
  // It frees itself; nothing here touches it any more.
  for (int i = 0; i < 5000 && g_destroyedThreads == destroyedBefore; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  EXPECT_EQ(g_destroyedThreads, destroyedBefore + 1);
}

TEST_F(ThreadTest, QueuedCallsRunOnTheMainThreadInOrderWithoutBlockingTheCaller) {
  const ThreadId mainId = CurrentThreadID();
  std::vector<std::string> order;
  std::atomic<bool> queued{false};
  std::atomic<ThreadId> ranOn{0};
  auto* t = New<TTestThread>(false, [&](TTestThread& self) {
    QueueMainThreadCall([&] {
      ranOn = CurrentThreadID();
      order.push_back("first");
    });
    QueueMainThreadCall([] { throw std::runtime_error("dropped"); });
    queued = true;  // reached without the main thread serving anything
    self.Synchronize([&] { order.push_back("sync"); });
  });
  while (!queued) std::this_thread::yield();
  EXPECT_TRUE(order.empty());
  t->WaitFor();
  t->Free();
  EXPECT_EQ(ranOn.load(), mainId);
  EXPECT_EQ(order, (std::vector<std::string>{"first", "sync"}));
  // Queued on the main thread itself: runs at the next serving, not at once.
  bool ran = false;
  QueueMainThreadCall([&] { ran = true; });
  EXPECT_FALSE(ran);
  EXPECT_TRUE(SynchronizePending());
  EXPECT_TRUE(CheckSynchronize());
  EXPECT_TRUE(ran);
  EXPECT_FALSE(SynchronizePending());
}

TEST_F(ThreadTest, RemovingAnOwnersQueuedCallsReleasesItsCallersUnrunAndKeepsOtherOwnersCalls) {
  int owner = 0, other = 0;
  std::atomic<int> waiting{0};
  std::atomic<bool> ownerRan{false}, otherRan{false}, ownerResult{true}, otherResult{false};
  auto* a = New<TTestThread>(false, [&](TTestThread&) {
    ++waiting;
    ownerResult = SynchronizeCallFor(&owner, [&] { ownerRan = true; });
  });
  auto* b = New<TTestThread>(false, [&](TTestThread&) {
    ++waiting;
    otherResult = SynchronizeCallFor(&other, [&] { otherRan = true; });
  });
  // Both calls are queued (nothing serves the queue yet).
  while (waiting < 2 || !SynchronizePending()) std::this_thread::yield();
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  RemoveQueuedCalls(&owner);
  RemoveQueuedCalls(nullptr);  // no owner: nothing is dropped
  a->WaitFor();
  b->WaitFor();
  a->Free();
  b->Free();
  EXPECT_FALSE(ownerRan);
  EXPECT_FALSE(ownerResult) << "the caller learns that its call was dropped";
  EXPECT_TRUE(otherRan);
  EXPECT_TRUE(otherResult);
  EXPECT_TRUE(SynchronizeCallFor(&owner, [] {})) << "on the main thread the call runs at once";
  EXPECT_FALSE(SynchronizePending());
}

TEST_F(ThreadTest, EventAndRecursiveLock) {
  auto* ev = New<TSimpleEvent>();
  EXPECT_EQ(ev->WaitFor(1), TWaitResult::wrTimeout);
  std::thread setter([ev] { ev->SetEvent(); });
  EXPECT_EQ(ev->WaitFor(), TWaitResult::wrSignaled);
  setter.join();
  EXPECT_EQ(ev->WaitFor(0), TWaitResult::wrSignaled);  // manual reset
  ev->ResetEvent();
  EXPECT_EQ(ev->WaitFor(0), TWaitResult::wrTimeout);
  ev->Free();

  TOwned<TCriticalSection> cs(New<TCriticalSection>());
  cs->Enter();
  EXPECT_TRUE(cs->TryEnter());  // re-entrant
  bool otherGot = true;
  std::thread([&] { otherGot = cs->TryEnter(); }).join();
  EXPECT_FALSE(otherGot);
  cs->Leave();
  cs->Leave();
}

}  // namespace
