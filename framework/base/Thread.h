// Threads and the process-wide synchronous-call queue.
//
// A worker thread hands work to the main thread with Synchronize: the call is
// queued, the main thread is woken (MainThreadWaker: on Win32 a message posted
// to the application window, so modal loops serve it too), and the caller
// waits until the main thread has run it. An exception thrown by the call is
// carried back and re-thrown in the caller. The main thread serves the queue
// in CheckSynchronize, which is re-entrant: a call that pumps messages serves
// later requests in nested CheckSynchronize calls.
//
// Threads are created through a small platform interface (ThreadApi); the
// native implementation here runs them on std::thread.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>

#include "Object.h"

using ThreadId = std::uint32_t;

// --- Platform interface ------------------------------------------------------------------------

class NativeThread {
 public:
  virtual ~NativeThread() = default;
  virtual void Join() = 0;    // waits for the thread to end (never called on the thread itself)
  virtual void Detach() = 0;  // lets the thread end on its own
  virtual ThreadId Id() const = 0;
  virtual std::uintptr_t Handle() const = 0;
  virtual void SetPriority(int priority) = 0;  // a TThreadPriority value; may be ignored
};

class ThreadApi {
 public:
  virtual ~ThreadApi() = default;
  // Starts a thread running entry(arg). Throws when the thread cannot be created.
  virtual std::unique_ptr<NativeThread> Start(void (*entry)(void*), void* arg) = 0;
  virtual ThreadId CurrentThreadId() = 0;
};

// Wakes the main thread after a synchronous call was queued, and whenever a
// condition the main thread may be waiting for changed (SignalSyncWaiters).
class MainThreadWaker {
 public:
  virtual ~MainThreadWaker() = default;
  virtual void Wake() = 0;
};

// How the main thread waits for other threads (WaitFor, freeing a running
// thread, ServeSynchronizeUntil). The default serves synchronous calls and
// blocks in between; a platform with window messages installs one that
// handles them too, so that a worker that sends a message to a main-thread
// window is answered while the main thread waits for it.
class MainThreadWaiter {
 public:
  virtual ~MainThreadWaiter() = default;
  // Returns once done() holds, serving synchronous calls meanwhile. It is
  // woken through the MainThreadWaker for every queued call and every
  // SignalSyncWaiters.
  virtual void WaitUntil(const std::function<bool()>& done) = 0;
};

// The std::thread implementation.
class NativeThreadApi : public ThreadApi {
 public:
  std::unique_ptr<NativeThread> Start(void (*entry)(void*), void* arg) override;
  ThreadId CurrentThreadId() override;
};

// The process's thread API (the native one until another is set).
void SetThreadApi(ThreadApi* api);
ThreadApi& GetThreadApi();
void SetMainThreadWaker(MainThreadWaker* waker);     // null: no wake-up besides the queue's own signal
void SetMainThreadWaiter(MainThreadWaiter* waiter);  // null restores the default

ThreadId CurrentThreadID();
// The main thread: the one that serves synchronous calls. Set at start-up.
void SetMainThreadID(ThreadId id);
ThreadId MainThreadID();
bool IsMainThread();

// --- The synchronous-call queue ----------------------------------------------------------------

// Runs `call` on the main thread and waits for it; on the main thread it runs
// at once. An exception from the call is re-thrown here.
void SynchronizeCall(const std::function<void()>& call);
// The same for a call that belongs to `owner`: false when RemoveQueuedCalls
// dropped it before it ran.
bool SynchronizeCallFor(const void* owner, const std::function<void()>& call);
// Drops the waiting calls that belong to `owner` (an object being freed):
// their callers go on without them having run.
void RemoveQueuedCalls(const void* owner);

// Main thread only (elsewhere it does nothing and returns false): waits up to
// `timeoutMs` for a request, then runs the queued requests one at a time.
// True when at least one ran.
bool CheckSynchronize(int timeoutMs = 0);

// Queues `call` for the main thread without waiting for it (on the main
// thread too: it runs at the next CheckSynchronize). The call must handle its
// own errors: an exception that escapes it is dropped.
void QueueMainThreadCall(std::function<void()> call);

// True when a request (synchronous or queued) waits in the queue.
bool SynchronizePending();

// Main thread: waits with the installed MainThreadWaiter (synchronous calls,
// and on Windows messages) until `done()` is true. Elsewhere: just waits until
// it is. Whoever makes `done` true calls SignalSyncWaiters() afterwards.
void ServeSynchronizeUntil(const std::function<bool()>& done);
void SignalSyncWaiters();

// --- TThread -----------------------------------------------------------------------------------

enum TThreadPriority { tpIdle, tpLowest, tpLower, tpNormal, tpHigher, tpHighest, tpTimeCritical };
using TThreadMethod = Method<void()>;

// A thread object. The thread starts in AfterConstruction (so it runs before
// New<> hands the object back, and never sees a half-built object) unless it
// was created suspended; Resume starts it then. Once started, Suspend and
// Resume are a cooperative pause: the thread stops at its next safe point
// (CheckSuspended, or at once when it suspends itself) until resumed or
// terminated. Each Suspend counts; each Resume takes one back.
//
// When Execute ends (an escaping exception is kept as FatalException), the
// thread runs OnTerminate on the main thread, is marked finished, and frees
// itself when FreeOnTerminate is set. Freeing a running thread terminates it
// and waits for it.
//
// A self-freeing thread may be gone at any moment after its Execute ends: it
// cannot be waited for (WaitFor raises EThread) and nobody else frees it.
// FreeOnTerminate may be set from any thread until Execute has returned.
class TThread;
// The thread entry runs a thread's Execute through this slot (exceptions
// that leave it become the thread's FatalException). A reporting library may
// put its own runner here; the runner ends by calling TThread::CallExecute.
using TThreadExecuteProc = void (*)(TThread* thread);
extern TThreadExecuteProc ThreadExecuteHook;

class TThread : public TObject {
  FW_CLASS(TThread, TObject)

 public:
  explicit TThread(bool createSuspended);
  ~TThread() override;
  void AfterConstruction() override;
  void Destroy() override;

  void Resume();
  void Suspend();
  bool Suspended() const;
  void Terminate();
  bool Terminated() const { return terminated_.load(); }
  // Waits until the thread has finished and returns its ReturnValue. On the
  // main thread synchronous calls (and on Windows messages) are served
  // meanwhile. Raises EThread for a thread that waits for itself, that was
  // never started, or that frees itself.
  int WaitFor();
  bool Finished() const { return finished_.load(); }
  std::exception_ptr FatalException() const { return fatal_; }
  int ReturnValue() const { return returnValue_; }
  ThreadId ThreadID() const;
  std::uintptr_t Handle() const;
  TThreadPriority Priority() const { return priority_; }
  void SetPriority(TThreadPriority p);

  // Runs `method` on the main thread while the calling thread waits (at once
  // on the main thread); its exception is re-thrown here. `thread` may be null.
  static void Synchronize(TThread* thread, TThreadMethod method);
  static void Synchronize(TThread* thread, const std::function<void()>& call);

  std::atomic<bool> FreeOnTerminate{false};
  TNotifyEvent OnTerminate;

  // Runs the thread's Execute (what the default ThreadExecuteHook does).
  static void CallExecute(TThread* thread) { thread->Execute(); }
  // The thread object that a ThreadApi entry and argument start, when the
  // entry is a TThread's thread procedure; else null.
  static TThread* FromThreadEntry(void (*entry)(void*), void* arg) {
    return entry == &TThread::ThreadProc ? static_cast<TThread*>(arg) : nullptr;
  }

 protected:
  virtual void Execute() = 0;
  virtual void DoTerminate();  // calls OnTerminate through Synchronize
  void Synchronize(TThreadMethod method) { Synchronize(this, method); }
  void Synchronize(const std::function<void()>& call) { Synchronize(this, call); }
  // A safe point: blocks while the thread is suspended and not terminated.
  void CheckSuspended();
  void SetReturnValue(int v) { returnValue_ = v; }

 private:
  static void ThreadProc(void* self);
  void Start();

  std::mutex startGate_;  // held while the native thread is created and recorded
  mutable std::mutex lock_;
  std::condition_variable resumed_;
  std::unique_ptr<NativeThread> native_;
  std::atomic<bool> started_{false};
  std::atomic<bool> finished_{false};
  std::atomic<bool> terminated_{false};
  int suspendCount_ = 0;
  TThreadPriority priority_ = tpNormal;
  int returnValue_ = 0;
  std::exception_ptr fatal_;
};

// --- Locks -------------------------------------------------------------------------------------

// A recursive lock: the owning thread may enter again.
class TCriticalSection : public TObject {
  FW_CLASS(TCriticalSection, TObject)

 public:
  void Acquire() { lock_.lock(); }
  void Release() { lock_.unlock(); }
  void Enter() { Acquire(); }
  void Leave() { Release(); }
  bool TryEnter() { return lock_.try_lock(); }

 private:
  std::recursive_mutex lock_;
};

enum class TWaitResult { wrSignaled, wrTimeout, wrAbandoned, wrError };
constexpr unsigned kWaitInfinite = ~0u;

// A manual-reset event.
class TSimpleEvent : public TObject {
  FW_CLASS(TSimpleEvent, TObject)

 public:
  void SetEvent();
  void ResetEvent();
  TWaitResult WaitFor(unsigned timeoutMs = kWaitInfinite);

 private:
  std::mutex lock_;
  std::condition_variable cv_;
  bool signaled_ = false;
};
