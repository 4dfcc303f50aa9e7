#include "PhonePlatformWin.h"

#include <algorithm>

#include "ConnSender.h"
#include "ExtCtrls.h"
#include "KernelHandles.h"
#include "PumpingWait.h"
#include "Swallow.h"
#include "Win32Platform.h"

// --- TPumpingPhoneWait -----------------------------------------------------------------------------

void TPumpingPhoneWait::WaitUntil(const std::function<bool()>& done, std::uint32_t timeoutMs) {
  if (done()) return;
  const TAutoResetEvent changed;
  if (!changed.Valid()) {
    // Without an event only messages and the time-out end the wait.
    PumpingWaitUntil(timeoutMs, done);
    return;
  }
  {
    std::lock_guard<std::mutex> g(lock_);
    waiters_.push_back(changed.Get());
  }
  const auto forget = [&] {
    {
      std::lock_guard<std::mutex> g(lock_);
      waiters_.erase(std::remove(waiters_.begin(), waiters_.end(), changed.Get()), waiters_.end());
    }
  };
  try {
    const std::uint64_t end = MonotonicMilliseconds() + timeoutMs;
    while (!done()) {
      const std::uint64_t now = MonotonicMilliseconds();
      if (now >= end) break;
      const std::uint64_t left = end - now;
      PumpingWaitForObjects(changed.Address(), 1,
                            static_cast<std::uint32_t>(std::min<std::uint64_t>(left, 0x7FFFFFFFu)));
    }
  } catch (...) {
    forget();
    throw;
  }
  forget();
}

void TPumpingPhoneWait::Signal() {
  std::lock_guard<std::mutex> g(lock_);
  for (HANDLE h : waiters_) SetEvent(h);
}

// --- TWinPhoneTimer --------------------------------------------------------------------------------

TWinPhoneTimer::TWinPhoneTimer(std::uint32_t intervalMs, TNotifyEvent onTimer) {
  timer_ = New<TTimer>(nullptr);
  try {
    timer_->SetEnabled(false);
    timer_->SetInterval(intervalMs);
    timer_->SetOnTimer(onTimer);
  } catch (...) {
    timer_->Free();
    throw;
  }
}

TWinPhoneTimer::~TWinPhoneTimer() {
  try {
    FreeAndNil(timer_);
  } catch (...) {
    SwallowException("TWinPhoneTimer.Destroy: freeing the timer");
  }
}

void TWinPhoneTimer::SetInterval(std::uint32_t ms) {
  timer_->SetInterval(ms);
}

std::uint32_t TWinPhoneTimer::Interval() const {
  return timer_->GetInterval();
}

void TWinPhoneTimer::SetEnabled(bool enabled) {
  timer_->SetEnabled(enabled);
}

bool TWinPhoneTimer::Enabled() const {
  return timer_->GetEnabled();
}

// --- TWinPhonePlatform -----------------------------------------------------------------------------

std::unique_ptr<TPhoneLink> TWinPhonePlatform::CreateLink(const TPhoneLinkParams& params, std::uint16_t& failureCode) {
  return std::make_unique<TSenderPhoneLink>(params, failureCode);
}

std::unique_ptr<TPhoneWait> TWinPhonePlatform::CreateWait() {
  return std::make_unique<TPumpingPhoneWait>();
}

std::unique_ptr<TPhoneTimer> TWinPhonePlatform::CreateTimer(std::uint32_t intervalMs, TNotifyEvent onTimer) {
  return std::make_unique<TWinPhoneTimer>(intervalMs, onTimer);
}

void UseWinPhonePlatform() {
  static TWinPhonePlatform platform;
  SetPhonePlatform(&platform);
}
