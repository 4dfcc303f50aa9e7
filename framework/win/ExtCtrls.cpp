#include "ExtCtrls.h"

#include "Thread.h"
#include "Win32Platform.h"
#include "WndProc.h"

FW_BEGIN_CLASS(TTimer)
  FW_PROP(Enabled, GetEnabled, SetEnabled) FW_DEFAULT(1)
  FW_PROP(Interval, GetInterval, SetInterval) FW_DEFAULT(1000)
  FW_PROP(OnTimer, GetOnTimer, SetOnTimer)
FW_END_CLASS

namespace {
constexpr UINT_PTR kTimerId = 1;
}

TTimer::TTimer(TComponent* owner) : TComponent(owner) {
  // The window must belong to the main thread, which runs the timer.
  SynchronizeCall([this] { wnd_ = AllocateHWnd(TWndMethod::Bind<&TTimer::WndProc>(this)); });
}

void TTimer::Destroy() {
  enabled_ = false;
  if (wnd_) {
    HWND wnd = wnd_;
    wnd_ = nullptr;
    SynchronizeCall([wnd] {
      KillTimer(wnd, kTimerId);
      DeallocateHWnd(wnd);
    });
  }
  inherited::Destroy();
}

void TTimer::SetEnabled(bool value) {
  if (enabled_.exchange(value) != value) Changed();
}

void TTimer::SetInterval(unsigned value) {
  if (interval_.exchange(value) != value) Changed();
}

void TTimer::SetOnTimer(TNotifyEvent value) {
  onTimer_ = value;
  Changed();
}

void TTimer::Changed() {
  if (!wnd_) return;
  if (IsMainThread())
    UpdateTimer();
  else
    PostMessageA(wnd_, CM_TIMERUPDATE, 0, 0);
}

void TTimer::UpdateTimer() {
  if (armed_) KillTimer(wnd_, kTimerId);
  armed_ = false;
  const unsigned interval = interval_.load();
  if (enabled_.load() && interval != 0 && onTimer_) {
    if (!SetTimer(wnd_, kTimerId, interval, nullptr)) {
      enabled_ = false;
      throw EOutOfResources("Not enough timers available");
    }
    armed_ = true;
  }
}

void TTimer::Timer() {
  if (onTimer_) onTimer_(this);
}

void TTimer::WndProc(TMessage& msg) {
  switch (msg.Msg) {
    case WM_TIMER:
      if (msg.WParam == kTimerId && enabled_.load()) Timer();
      break;
    case CM_TIMERUPDATE:
      UpdateTimer();
      break;
    default:
      HandleDefault(wnd_, msg);
  }
}
