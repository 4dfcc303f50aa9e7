#include "QvTimer.h"

#include <chrono>

#include "Forms.h"
#include "Win32Platform.h"
#include "WndProc.h"

// clang-format off
FW_BEGIN_CLASS(TQvTimer)
  FW_PROP(Enabled, GetEnabled, SetEnabled)
  FW_DEFAULT(1)
  FW_PROP(Interval, GetInterval, SetInterval)
  FW_DEFAULT(1000)
  FW_PROP(SyncEvent, GetSyncEvent, SetSyncEvent)
  FW_DEFAULT(1)
  FW_PROP(Threaded, GetThreaded, SetThreaded)
  FW_DEFAULT(1)
  FW_PROP(ThreadPriority, GetThreadPriority, SetThreadPriority)
  FW_DEFAULT(tpNormal)
  FW_PROP(OnTimer, GetOnTimer, SetOnTimer)
FW_END_CLASS
FW_IMPLEMENT_CLASS(TTimerThread)
// clang-format on

namespace {
constexpr UINT_PTR kTimerId = 1;
}

TTimerThread::TTimerThread(TQvTimer* owner) : TThread(false), owner_(owner) {}

void TTimerThread::Execute() {
  try {
    while (owner_->WaitForTick()) owner_->Tick();
  } catch (...) {
    HandleCallbackException(std::current_exception());
  }
}

TQvTimer::TQvTimer(TComponent* owner) : TComponent(owner) {}

void TQvTimer::AfterConstruction() {
  inherited::AfterConstruction();
  thread_ = New<TTimerThread>(this);  // waits, disarmed, until a writer arms it
}

void TQvTimer::Destroy() {
  destroying_ = true;
  enabled_ = false;
  {
    std::lock_guard<std::mutex> g(lock_);
    onTimer_ = TNotifyEvent();
    stopping_ = true;
    ++generation_;
  }
  wake_.notify_all();
  RemoveQueuedCalls(this);
  if (thread_) {
    thread_->Terminate();
    thread_->WaitFor();  // serves the main thread's synchronous calls meanwhile
    FreeAndNil(thread_);
  }
  if (window_) {
    KillTimer(window_, kTimerId);
    DeallocateHWnd(window_);
    window_ = nullptr;
  }
  inherited::Destroy();
}

void TQvTimer::SetEnabled(bool v) {
  if (enabled_ == v) return;
  enabled_ = v;
  Rearm();
}

void TQvTimer::SetInterval(unsigned v) {
  if (interval_ == v) return;
  interval_ = v;
  Rearm();
}

void TQvTimer::SetThreaded(bool v) {
  if (threaded_ == v) return;
  threaded_ = v;
  Rearm();
}

void TQvTimer::SetThreadPriority(TThreadPriority v) {
  if (priority_ == v) return;
  priority_ = v;
  if (PriorityChangeRearms(TTimerSettings{enabled_, interval_, static_cast<bool>(GetOnTimer()), threaded_})) Rearm();
}

TNotifyEvent TQvTimer::GetOnTimer() const {
  std::lock_guard<std::mutex> g(lock_);
  return onTimer_;
}

void TQvTimer::SetOnTimer(TNotifyEvent v) {
  bool had;
  {
    std::lock_guard<std::mutex> g(lock_);
    had = static_cast<bool>(onTimer_);
    onTimer_ = v;
  }
  if (HandlerChangeRearms(had, static_cast<bool>(v))) Rearm();
}

ThreadId TQvTimer::TimerThreadID() const {
  return thread_ ? thread_->ThreadID() : 0;
}

void TQvTimer::Rearm() {
  if (destroying_) return;
  const TTimerMode mode = ArmedMode(TTimerSettings{enabled_, interval_, static_cast<bool>(GetOnTimer()), threaded_});
  // The thread: disarmed unless thread mode fires; a re-arm starts a new period.
  {
    std::lock_guard<std::mutex> g(lock_);
    armedInterval_ = mode == TTimerMode::Thread ? interval_.load() : 0;
    ++generation_;
  }
  if (mode == TTimerMode::Thread && thread_) thread_->SetPriority(priority_);
  wake_.notify_all();
  // The window timer.
  if (threaded_) {
    if (window_) {
      KillTimer(window_, kTimerId);
      DeallocateHWnd(window_);
      window_ = nullptr;
    }
  } else {
    if (!window_)
      window_ = AllocateHWnd(TWndMethod::Bind<&TQvTimer::HandleTimerMessage>(this));
    else
      KillTimer(window_, kTimerId);
    if (mode == TTimerMode::Window && !SetTimer(window_, kTimerId, interval_, nullptr)) {
      mode_ = TTimerMode::Off;
      throw EOutOfResources("Not enough timers available");
    }
  }
  mode_ = mode;
}

void TQvTimer::HandleTimerMessage(TMessage& msg) {
  if (msg.Msg == WM_TIMER) {
    FireHandlingErrors();
    msg.Result = 0;
    return;
  }
  HandleDefault(window_, msg);
}

void TQvTimer::FireTimer() {
  if (!enabled_ || destroying_ || ComponentState().Contains(csDestroying)) return;
  const TNotifyEvent handler = GetOnTimer();
  if (handler) handler(this);
}

void TQvTimer::FireHandlingErrors() {
  try {
    FireTimer();
  } catch (...) {
    if (Application)
      Application->HandleException(this, std::current_exception());
    else
      HandleCallbackException(std::current_exception());
  }
}

bool TQvTimer::CallSynchronized(const std::function<void()>& call) {
  if (destroying_ && !IsMainThread()) return false;
  return SynchronizeCallFor(this, call);
}

bool TQvTimer::WaitForTick() {
  std::unique_lock<std::mutex> lk(lock_);
  for (;;) {
    if (stopping_) return false;
    const unsigned generation = generation_;
    const unsigned interval = armedInterval_;
    auto changed = [&] { return stopping_ || generation_ != generation; };
    if (interval == 0) {
      wake_.wait(lk, changed);
      continue;
    }
    if (wake_.wait_for(lk, std::chrono::milliseconds(interval), changed)) continue;  // a new period
    return true;
  }
}

void TQvTimer::Tick() {
  if (!enabled_ || destroying_) return;
  if (syncEvent_)
    CallSynchronized([this] { FireHandlingErrors(); });
  else
    FireHandlingErrors();
}
