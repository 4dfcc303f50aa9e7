#include "Thread.h"

#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace {

struct MainThreadFixture : ::testing::Test {
  void SetUp() override { SetMainThreadID(CurrentThreadID()); }
};

using SyncQueueTest = MainThreadFixture;

TEST_F(SyncQueueTest, CallsFromSeveralThreadsRunOnTheMainThreadAndCarryExceptionsBack) {
  constexpr int kThreads = 4, kCalls = 25;
  const ThreadId mainId = CurrentThreadID();
  std::atomic<int> ranOnMain{0}, caught{0}, finished{0};
  std::vector<std::thread> workers;
  for (int t = 0; t < kThreads; ++t)
    workers.emplace_back([&, t] {
      for (int i = 0; i < kCalls; ++i) {
        try {
          SynchronizeCall([&, i] {
            if (CurrentThreadID() == mainId) ++ranOnMain;
            if (i % 5 == 0) throw std::runtime_error("call " + std::to_string(t));
          });
        } catch (const std::runtime_error& e) {
          if (e.what() == "call " + std::to_string(t)) ++caught;
        }
      }
      ++finished;
      SignalSyncWaiters();
    });
  ServeSynchronizeUntil([&] { return finished == kThreads; });
  for (auto& w : workers) w.join();
  EXPECT_EQ(ranOnMain, kThreads * kCalls);
  EXPECT_EQ(caught, kThreads * kCalls / 5);
  EXPECT_FALSE(SynchronizePending());
}

TEST_F(SyncQueueTest, NestedRequestIsServedWhileAnOuterCallPumps) {
  std::atomic<bool> outerRunning{false}, innerDone{false};
  std::string order;
  std::thread inner;
  std::thread outer([&] {
    SynchronizeCall([&] {
      order += "outer{";
      outerRunning = true;
      // The outer call pumps until the other thread's call has been served.
      while (!innerDone) CheckSynchronize(10);
      order += "}";
    });
  });
  inner = std::thread([&] {
    while (!outerRunning) std::this_thread::yield();
    SynchronizeCall([&] { order += "inner"; });
    innerDone = true;
    SignalSyncWaiters();
  });
  ServeSynchronizeUntil([&] { return innerDone.load(); });
  outer.join();
  inner.join();
  EXPECT_EQ(order, "outer{inner}");
}

TEST_F(SyncQueueTest, MainThreadCallsRunAtOnceAndOtherThreadsCannotServe) {
  int n = 0;
  SynchronizeCall([&] { ++n; });
  EXPECT_EQ(n, 1);
  EXPECT_THROW(SynchronizeCall([] { throw std::logic_error("x"); }), std::logic_error);
  bool served = true;
  std::thread([&] { served = CheckSynchronize(); }).join();
  EXPECT_FALSE(served);
}

}  // namespace
