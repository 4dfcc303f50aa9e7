// Extra controls: TTimer.
#pragma once

#include <windows.h>

#include <atomic>

#include "Component.h"
#include "Messages.h"

// A timer whose OnTimer runs on the main thread every Interval milliseconds
// while Enabled. Its hidden window belongs to the main thread, and only that
// thread calls SetTimer/KillTimer: Enabled and Interval may be changed from
// any thread, and a change made elsewhere posts a request that the main
// thread carries out (OnTimer is set on the main thread). A WM_TIMER that arrives after the timer was
// disabled is ignored.
class TTimer : public TComponent {
  FW_CLASS(TTimer, TComponent)
public:
  explicit TTimer(TComponent* owner);
  void Destroy() override;

  bool GetEnabled() const { return enabled_.load(); }
  void SetEnabled(bool value);
  unsigned GetInterval() const { return interval_.load(); }
  void SetInterval(unsigned value);
  TNotifyEvent GetOnTimer() const { return onTimer_; }
  void SetOnTimer(TNotifyEvent value);

  HWND WindowHandle() const { return wnd_; }

protected:
  virtual void Timer();  // fires OnTimer

private:
  void WndProc(TMessage& msg);
  void Changed();      // carries out the settings (on the main thread) or posts a request
  void UpdateTimer();  // main thread only

  HWND wnd_ = nullptr;
  std::atomic<bool> enabled_{true};
  std::atomic<unsigned> interval_{1000};
  TNotifyEvent onTimer_;
  bool armed_ = false;
};
