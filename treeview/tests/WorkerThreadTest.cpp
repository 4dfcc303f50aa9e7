// The shared worker thread with fake trees: queueing, one tree per signal,
// stopping a tree while it is validated, and the last release while busy.
#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <vector>

#include "VirtualTrees.h"

namespace {

// A tree whose validation can be held open until the test lets it go or the
// tree's stop flag is set.
class FakeTree : public WorkerTree {
 public:
  void ValidateCache() override {
    std::unique_lock<std::mutex> hold(lock_);
    ++validations_;
    validating_ = true;
    changed_.notify_all();
    changed_.wait(hold, [this] { return !holdOpen_ || stop_; });
    stopped_ = stop_;
    validating_ = false;
    changed_.notify_all();
  }
  void StopBackgroundValidation() override {
    if (TWorkerThread* worker = WorkerThread()) worker->TakeTreeAway(this, [this] { RequestStop(); });
  }

  void RequestStop() {
    std::lock_guard<std::mutex> hold(lock_);
    stop_ = true;
    changed_.notify_all();
  }
  void HoldOpen(bool v) {
    std::lock_guard<std::mutex> hold(lock_);
    holdOpen_ = v;
    changed_.notify_all();
  }
  void WaitUntilValidating() {
    std::unique_lock<std::mutex> hold(lock_);
    changed_.wait(hold, [this] { return validating_; });
  }
  void WaitForValidations(int n) {
    std::unique_lock<std::mutex> hold(lock_);
    changed_.wait(hold, [&] { return validations_ >= n && !validating_; });
  }
  int Validations() {
    std::lock_guard<std::mutex> hold(lock_);
    return validations_;
  }
  bool Stopped() {
    std::lock_guard<std::mutex> hold(lock_);
    return stopped_;
  }

 private:
  std::mutex lock_;
  std::condition_variable changed_;
  int validations_ = 0;
  bool validating_ = false;
  bool holdOpen_ = false;
  bool stop_ = false;
  bool stopped_ = false;
};

void ExpectNoWorker() {
  EXPECT_EQ(WorkerThread(), nullptr);
  EXPECT_EQ(WorkerEvent(), nullptr);
  EXPECT_EQ(WorkerThreadReferences(), 0);
}

TEST(WorkerThread, TwoTreesMakeOneWorkerAndLeaveNoThreadNorEvent) {
  FakeTree a, b;
  ExpectNoWorker();
  ReleaseWorkerThread(&a);  // no worker: nothing happens
  ExpectNoWorker();
  AcquireWorkerThread();
  TWorkerThread* worker = WorkerThread();
  ASSERT_NE(worker, nullptr);
  AcquireWorkerThread();
  EXPECT_EQ(WorkerThread(), worker) << "one worker for every tree";
  EXPECT_EQ(WorkerThreadReferences(), 2);
  ReleaseWorkerThread(&a);
  EXPECT_EQ(WorkerThread(), worker);
  ReleaseWorkerThread(&b);
  ExpectNoWorker();
  // And again: a new worker after the last one ended.
  AcquireWorkerThread();
  EXPECT_NE(WorkerThread(), nullptr);
  ReleaseWorkerThread(&a);
  ExpectNoWorker();
}

TEST(WorkerThread, EachSignalServesOneTreeInQueueOrder) {
  FakeTree a, b, c;
  for (int i = 0; i < 3; ++i) AcquireWorkerThread();
  TWorkerThread* worker = WorkerThread();
  a.HoldOpen(true);  // the worker stays on a until released
  worker->AddTree(&a);
  worker->AddTree(&b);
  worker->AddTree(&b);  // already waiting: not twice
  worker->AddTree(&c);
  WorkerEvent()->Set();
  a.WaitUntilValidating();
  EXPECT_EQ(worker->CurrentTree(), &a);
  EXPECT_TRUE(worker->IsWaiting(&b));
  EXPECT_TRUE(worker->IsWaiting(&c));
  a.HoldOpen(false);
  a.WaitForValidations(1);
  worker->WaitWhileValidating(&a);
  EXPECT_EQ(b.Validations(), 0) << "one signal, one tree";
  EXPECT_TRUE(worker->IsWaiting(&b));

  WorkerEvent()->Set();
  b.WaitForValidations(1);
  worker->WaitWhileValidating(&b);
  EXPECT_EQ(c.Validations(), 0);
  worker->RemoveTree(&c);
  WorkerEvent()->Set();  // a signal with an empty queue serves nobody
  QueueWithWorker(&a);   // queue and signal in one step
  a.WaitForValidations(2);
  EXPECT_EQ(b.Validations(), 1);
  EXPECT_EQ(c.Validations(), 0);

  ReleaseWorkerThread(&a);
  ReleaseWorkerThread(&b);
  ReleaseWorkerThread(&c);
  ExpectNoWorker();
}

TEST(WorkerThread, StoppingATreeWhileItIsValidatedWaitsForTheWorkerToLeaveIt) {
  FakeTree busy, queued;
  AcquireWorkerThread();
  AcquireWorkerThread();
  TWorkerThread* worker = WorkerThread();
  busy.HoldOpen(true);
  QueueWithWorker(&busy);
  busy.WaitUntilValidating();
  worker->AddTree(&queued);

  busy.StopBackgroundValidation();  // sets the stop flag and blocks until the worker leaves
  EXPECT_TRUE(busy.Stopped());
  EXPECT_NE(worker->CurrentTree(), &busy);

  queued.StopBackgroundValidation();  // only waiting: taken out of the queue
  EXPECT_FALSE(worker->IsWaiting(&queued));
  EXPECT_EQ(queued.Validations(), 0);

  ReleaseWorkerThread(&busy);
  ReleaseWorkerThread(&queued);
  ExpectNoWorker();
}

TEST(WorkerThread, ReleasingTheLastReferenceWhileTheWorkerIsBusyEndsIt) {
  FakeTree tree;
  AcquireWorkerThread();
  tree.HoldOpen(true);
  QueueWithWorker(&tree);
  tree.WaitUntilValidating();
  ReleaseWorkerThread(&tree);  // stops the validation, then terminates and joins
  EXPECT_TRUE(tree.Stopped());
  EXPECT_EQ(tree.Validations(), 1);
  ExpectNoWorker();
}

TEST(WorkerThread, ReleasingWithTreesStillQueuedEndsTheWorker) {
  FakeTree a, b;
  AcquireWorkerThread();
  TWorkerThread* worker = WorkerThread();
  worker->AddTree(&b);  // b never took a reference; it is never served
  ReleaseWorkerThread(&a);
  ExpectNoWorker();
  EXPECT_EQ(b.Validations(), 0);
}

}  // namespace
