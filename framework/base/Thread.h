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

#include <cstdint>
#include <exception>
#include <functional>
#include <memory>

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

// Wakes the main thread after a synchronous call was queued.
class MainThreadWaker {
public:
  virtual ~MainThreadWaker() = default;
  virtual void Wake() = 0;
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
void SetMainThreadWaker(MainThreadWaker* waker);  // null: no wake-up besides the queue's own signal

ThreadId CurrentThreadID();
// The main thread: the one that serves synchronous calls. Set at start-up.
void SetMainThreadID(ThreadId id);
ThreadId MainThreadID();
bool IsMainThread();

// --- The synchronous-call queue ----------------------------------------------------------------

// Runs `call` on the main thread and waits for it; on the main thread it runs
// at once. An exception from the call is re-thrown here.
void SynchronizeCall(const std::function<void()>& call);

// Main thread only (elsewhere it does nothing and returns false): waits up to
// `timeoutMs` for a request, then runs the queued requests one at a time.
// True when at least one ran.
bool CheckSynchronize(int timeoutMs = 0);

// True when a request waits in the queue.
bool SynchronizePending();

// Main thread: serves synchronous calls until `done()` is true. Elsewhere: just
// waits until it is. `done` is evaluated under the queue's lock; whoever makes
// it true calls SignalSyncWaiters() afterwards.
void ServeSynchronizeUntil(const std::function<bool()>& done);
void SignalSyncWaiters();
