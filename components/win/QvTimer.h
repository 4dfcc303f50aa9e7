// TQvTimer: a timer component that fires OnTimer from a thread of its own
// (the default) or from a window timer on a hidden window of the main thread.
//
// Thread mode: the thread waits Interval milliseconds on a condition that a
// re-arm or the timer's end wakes (an unbounded wait while disarmed), then
// fires; the period is Interval plus the handler's own time. With SyncEvent
// (the default) the event runs on the main thread while the thread waits for
// it, else on the timer thread. Window mode: WM_TIMER of a hidden window.
//
// The timer is armed only while Interval is not 0, Enabled holds and OnTimer
// is set. An exception from OnTimer goes to Application->HandleException and
// the timer keeps ticking, in every mode. Freeing the timer stops and wakes
// its thread, drops its waiting calls to the main thread and waits for the
// thread to end (serving the main thread's synchronous calls meanwhile):
// no OnTimer runs once Free has returned.
#pragma once

#include <windows.h>

#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>

#include "Component.h"
#include "Messages.h"
#include "Thread.h"
#include "TimerArming.h"

// The thread priorities by name, so that ThreadPriority streams.
inline const TypeInfo* FwEnumTypeInfo(TThreadPriority*) {
  static const TypeInfo info =
      MakeEnumTypeInfo("TThreadPriority", "tpIdle, tpLowest, tpLower, tpNormal, tpHigher, tpHighest, tpTimeCritical");
  return &info;
}

class TQvTimer;

class TTimerThread : public TThread {
  FW_CLASS(TTimerThread, TThread)
 public:
  explicit TTimerThread(TQvTimer* owner);

 protected:
  void Execute() override;

 private:
  TQvTimer* owner_;
};

class TQvTimer : public TComponent {
  FW_CLASS(TQvTimer, TComponent)
 public:
  explicit TQvTimer(TComponent* owner);
  void AfterConstruction() override;
  void Destroy() override;

  bool GetEnabled() const { return enabled_.load(); }
  void SetEnabled(bool v);
  unsigned GetInterval() const { return interval_.load(); }
  void SetInterval(unsigned v);
  bool GetSyncEvent() const { return syncEvent_.load(); }
  void SetSyncEvent(bool v) { syncEvent_.store(v); }  // read again at the next event; no re-arm
  bool GetThreaded() const { return threaded_; }
  void SetThreaded(bool v);
  TThreadPriority GetThreadPriority() const { return priority_; }
  void SetThreadPriority(TThreadPriority v);
  TNotifyEvent GetOnTimer() const;
  void SetOnTimer(TNotifyEvent v);

  // Runs `call` on the main thread while the calling (timer) thread waits; on
  // the main thread at once. False when it did not run: the timer is being
  // freed and dropped it.
  bool CallSynchronized(const std::function<void()>& call);

  // The mode the timer is armed in now.
  TTimerMode Mode() const { return mode_; }
  // The timer thread's id (0 before it started).
  ThreadId TimerThreadID() const;

 protected:
  // Fires OnTimer while Enabled and not being destroyed.
  virtual void FireTimer();

 private:
  friend class TTimerThread;
  void Rearm();
  void HandleTimerMessage(TMessage& msg);
  void FireHandlingErrors();  // FireTimer with its exception handed to the application
  // Timer thread: waits for the next tick; false when the thread is to end.
  bool WaitForTick();
  void Tick();  // timer thread: one event

  std::atomic<bool> enabled_{true};
  std::atomic<unsigned> interval_{1000};
  std::atomic<bool> syncEvent_{true};
  bool threaded_ = true;
  TThreadPriority priority_ = tpNormal;
  mutable std::mutex lock_;  // guards the handler and the thread's schedule
  TNotifyEvent onTimer_;
  std::condition_variable wake_;
  unsigned armedInterval_ = 0;  // thread's period; 0 disarmed (under lock_)
  unsigned generation_ = 0;     // bumped by every re-arm (under lock_)
  bool stopping_ = false;       // under lock_
  std::atomic<bool> destroying_{false};
  TTimerMode mode_ = TTimerMode::Off;
  HWND window_ = nullptr;
  TTimerThread* thread_ = nullptr;
};
