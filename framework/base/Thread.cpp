#include "Thread.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

#include "Swallow.h"

namespace {

class StdNativeThread : public NativeThread {
 public:
  StdNativeThread(void (*entry)(void*), void* arg) {
    std::atomic<ThreadId> id{0};
    std::mutex m;
    std::condition_variable cv;
    thread_ = std::thread([entry, arg, &id, &m, &cv] {
      {
        std::lock_guard<std::mutex> g(m);
        id = CurrentThreadID();
        cv.notify_one();  // under the lock: the creator's locals live until it is released
      }
      entry(arg);
    });
    std::unique_lock<std::mutex> lk(m);
    cv.wait(lk, [&] { return id.load() != 0; });
    id_ = id.load();
  }
  ~StdNativeThread() override {
    if (thread_.joinable()) thread_.detach();
  }
  void Join() override {
    if (thread_.joinable()) thread_.join();
  }
  void Detach() override {
    if (thread_.joinable()) thread_.detach();
  }
  ThreadId Id() const override { return id_; }
  std::uintptr_t Handle() const override { return id_; }
  void SetPriority(int) override {}

 private:
  std::thread thread_;
  ThreadId id_ = 0;
};

std::atomic<ThreadId> g_nextThreadId{1};
std::atomic<ThreadApi*> g_threadApi{nullptr};
std::atomic<MainThreadWaker*> g_waker{nullptr};
std::atomic<MainThreadWaiter*> g_waiter{nullptr};
std::atomic<ThreadId> g_mainThreadId{0};

// A synchronous request lives on its caller's stack until it is done; a
// queued one is owned by the queue and freed once it has run.
struct SyncRequest {
  const std::function<void()>* call;
  std::exception_ptr error;
  bool done = false;
  std::function<void()> queued;
  const void* owner = nullptr;  // the object the call belongs to (RemoveQueuedCalls)
  bool dropped = false;         // removed unrun
};

struct SyncQueue {
  std::mutex lock;
  std::condition_variable signal;  // a request was queued, or a waited-for condition changed
  std::condition_variable done;    // a request was served
  std::deque<SyncRequest*> requests;
};

SyncQueue& Queue() {
  static SyncQueue q;  // built on first use, not at start-up
  return q;
}

}  // namespace

std::unique_ptr<NativeThread> NativeThreadApi::Start(void (*entry)(void*), void* arg) {
  return std::make_unique<StdNativeThread>(entry, arg);
}

ThreadId NativeThreadApi::CurrentThreadId() {
  thread_local ThreadId id = g_nextThreadId.fetch_add(1);
  return id;
}

void SetThreadApi(ThreadApi* api) {
  g_threadApi.store(api);
}

ThreadApi& GetThreadApi() {
  if (ThreadApi* api = g_threadApi.load()) return *api;
  static NativeThreadApi native;
  return native;
}

void SetMainThreadWaker(MainThreadWaker* waker) {
  g_waker.store(waker);
}

void SetMainThreadWaiter(MainThreadWaiter* waiter) {
  g_waiter.store(waiter);
}

ThreadId CurrentThreadID() {
  return GetThreadApi().CurrentThreadId();
}
void SetMainThreadID(ThreadId id) {
  g_mainThreadId.store(id);
}
ThreadId MainThreadID() {
  return g_mainThreadId.load();
}
bool IsMainThread() {
  ThreadId main = g_mainThreadId.load();
  return main != 0 && main == CurrentThreadID();
}

void SynchronizeCall(const std::function<void()>& call) {
  SynchronizeCallFor(nullptr, call);
}

bool SynchronizeCallFor(const void* owner, const std::function<void()>& call) {
  if (IsMainThread()) {
    call();
    return true;
  }
  SyncQueue& q = Queue();
  SyncRequest req{&call, nullptr, false, {}, owner, false};
  {
    std::lock_guard<std::mutex> g(q.lock);
    q.requests.push_back(&req);
  }
  q.signal.notify_all();
  if (MainThreadWaker* w = g_waker.load()) w->Wake();
  {
    std::unique_lock<std::mutex> lk(q.lock);
    q.done.wait(lk, [&] { return req.done; });
  }
  if (req.error) std::rethrow_exception(req.error);
  return !req.dropped;
}

void RemoveQueuedCalls(const void* owner) {
  if (!owner) return;
  SyncQueue& q = Queue();
  {
    std::lock_guard<std::mutex> g(q.lock);
    for (auto it = q.requests.begin(); it != q.requests.end();) {
      SyncRequest* req = *it;
      if (req->owner != owner) {
        ++it;
        continue;
      }
      it = q.requests.erase(it);
      if (!req->call) {
        delete req;
        continue;
      }
      req->dropped = true;
      req->done = true;
    }
  }
  q.done.notify_all();
}

bool CheckSynchronize(int timeoutMs) {
  if (!IsMainThread()) return false;
  SyncQueue& q = Queue();
  bool ran = false;
  std::unique_lock<std::mutex> lk(q.lock);
  if (q.requests.empty() && timeoutMs > 0)
    q.signal.wait_for(lk, std::chrono::milliseconds(timeoutMs), [&] { return !q.requests.empty(); });
  while (!q.requests.empty()) {
    SyncRequest* req = q.requests.front();
    q.requests.pop_front();
    lk.unlock();
    if (!req->call) {
      // A queued call: nobody waits for it, nobody is told of its failure.
      try {
        req->queued();
      } catch (...) {
        SwallowException("CheckSynchronize: running a queued call");
      }
      delete req;
      ran = true;
      lk.lock();
      continue;
    }
    std::exception_ptr error;
    try {
      (*req->call)();
    } catch (...) {
      error = std::current_exception();
    }
    ran = true;
    lk.lock();
    req->error = error;
    req->done = true;
    q.done.notify_all();
  }
  return ran;
}

void QueueMainThreadCall(std::function<void()> call) {
  SyncQueue& q = Queue();
  auto req = std::make_unique<SyncRequest>();
  req->call = nullptr;
  req->queued = std::move(call);
  {
    std::lock_guard<std::mutex> g(q.lock);
    q.requests.push_back(req.get());
  }
  req.release();  // the queue's now
  q.signal.notify_all();
  if (MainThreadWaker* w = g_waker.load()) w->Wake();
}

bool SynchronizePending() {
  SyncQueue& q = Queue();
  std::lock_guard<std::mutex> g(q.lock);
  return !q.requests.empty();
}

void ServeSynchronizeUntil(const std::function<bool()>& done) {
  SyncQueue& q = Queue();
  const bool main = IsMainThread();
  if (main) {
    if (MainThreadWaiter* waiter = g_waiter.load()) {
      waiter->WaitUntil(done);
      return;
    }
  }
  for (;;) {
    {
      std::unique_lock<std::mutex> lk(q.lock);
      q.signal.wait(lk, [&] { return done() || (main && !q.requests.empty()); });
      if (done()) return;
    }
    CheckSynchronize();
  }
}

void SignalSyncWaiters() {
  SyncQueue& q = Queue();
  { std::lock_guard<std::mutex> g(q.lock); }
  q.signal.notify_all();
  if (MainThreadWaker* w = g_waker.load()) w->Wake();
}

// --- TThread -----------------------------------------------------------------------------------

FW_IMPLEMENT_CLASS(TThread)
FW_IMPLEMENT_CLASS(TCriticalSection)
FW_IMPLEMENT_CLASS(TSimpleEvent)

TThread::TThread(bool createSuspended) : suspendCount_(createSuspended ? 1 : 0) {}

TThread::~TThread() = default;

void TThread::AfterConstruction() {
  TObject::AfterConstruction();
  if (suspendCount_ == 0) Start();
}

TThreadExecuteProc ThreadExecuteHook = &TThread::CallExecute;

void TThread::Start() {
  std::lock_guard<std::mutex> gate(startGate_);
  native_ = GetThreadApi().Start(&TThread::ThreadProc, this);
  native_->SetPriority(priority_);
  started_ = true;
}

void TThread::ThreadProc(void* self) {
  TThread* t = static_cast<TThread*>(self);
  { std::lock_guard<std::mutex> gate(t->startGate_); }  // wait until Start has recorded the thread
  try {
    if (!t->Terminated()) ThreadExecuteHook(t);
  } catch (...) {
    t->fatal_ = std::current_exception();
  }
  try {
    t->DoTerminate();
  } catch (...) {
    if (!t->fatal_) t->fatal_ = std::current_exception();
  }
  // Read while the object surely lives: a thread that is not self-freeing may
  // be freed by its waiter as soon as it is marked finished.
  const bool freeThread = t->FreeOnTerminate.load();
  t->finished_ = true;  // from here on a waiter may free the object
  SignalSyncWaiters();
  if (freeThread) {
    try {
      t->Free();
    } catch (...) {
      SwallowException("TThread.ThreadProc: freeing a self-freeing thread");
    }
  }
}

void TThread::DoTerminate() {
  if (OnTerminate) Synchronize([this] { OnTerminate(this); });
}

void TThread::Destroy() {
  if (started_ && !finished_ && ThreadID() != CurrentThreadID()) {
    Terminate();
    WaitFor();
  }
  if (native_) {
    if (native_->Id() == CurrentThreadID())
      native_->Detach();  // a thread freeing itself cannot join itself
    else
      native_->Join();
  }
  inherited::Destroy();
}

void TThread::Resume() {
  bool start = false;
  {
    std::lock_guard<std::mutex> g(lock_);
    if (suspendCount_ > 0 && --suspendCount_ == 0) {
      if (started_)
        resumed_.notify_all();
      else
        start = true;
    }
  }
  if (start) Start();
}

void TThread::Suspend() {
  std::unique_lock<std::mutex> lk(lock_);
  ++suspendCount_;
  if (started_ && ThreadID() == CurrentThreadID())
    resumed_.wait(lk, [this] { return suspendCount_ == 0 || terminated_.load(); });
}

bool TThread::Suspended() const {
  std::lock_guard<std::mutex> g(lock_);
  return suspendCount_ > 0;
}

void TThread::CheckSuspended() {
  std::unique_lock<std::mutex> lk(lock_);
  resumed_.wait(lk, [this] { return suspendCount_ == 0 || terminated_.load(); });
}

void TThread::Terminate() {
  {
    std::lock_guard<std::mutex> g(lock_);
    terminated_ = true;
  }
  resumed_.notify_all();
}

int TThread::WaitFor() {
  if (!started_) throw EThread("Cannot wait for a thread that was never started");
  // It may free itself (and its finished flag with it) while we wait.
  if (FreeOnTerminate.load()) throw EThread("Cannot wait for a thread that frees itself");
  if (!finished_ && ThreadID() == CurrentThreadID()) throw EThread("A thread cannot wait for itself");
  ServeSynchronizeUntil([this] { return finished_.load(); });
  return returnValue_;
}

ThreadId TThread::ThreadID() const {
  return started_ ? native_->Id() : 0;
}
std::uintptr_t TThread::Handle() const {
  return started_ ? native_->Handle() : 0;
}

void TThread::SetPriority(TThreadPriority p) {
  priority_ = p;
  if (started_) native_->SetPriority(p);
}

void TThread::Synchronize(TThread*, TThreadMethod method) {
  SynchronizeCall([&method] { method(); });
}

void TThread::Synchronize(TThread*, const std::function<void()>& call) {
  SynchronizeCall(call);
}

// --- TSimpleEvent ------------------------------------------------------------------------------

void TSimpleEvent::SetEvent() {
  {
    std::lock_guard<std::mutex> g(lock_);
    signaled_ = true;
  }
  cv_.notify_all();
}

void TSimpleEvent::ResetEvent() {
  std::lock_guard<std::mutex> g(lock_);
  signaled_ = false;
}

TWaitResult TSimpleEvent::WaitFor(unsigned timeoutMs) {
  std::unique_lock<std::mutex> lk(lock_);
  if (timeoutMs == kWaitInfinite) {
    cv_.wait(lk, [this] { return signaled_; });
    return TWaitResult::wrSignaled;
  }
  return cv_.wait_for(lk, std::chrono::milliseconds(timeoutMs), [this] { return signaled_; }) ? TWaitResult::wrSignaled
                                                                                              : TWaitResult::wrTimeout;
}
