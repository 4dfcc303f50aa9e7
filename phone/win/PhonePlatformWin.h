// The phone engine's Windows platform: links over the link sender, request
// waits that keep the thread's messages flowing, and the keep-alive timer on
// the framework's TTimer. The program installs it once at start-up with
// UseWinPhonePlatform(); every phone object made afterwards uses it.
#pragma once

#include <windows.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

#include "PhoneLink.h"

class TTimer;

// A request wait on the framework's pumping wait. Each waiter blocks on an
// auto-reset event of its own, which Signal sets; in between, on the main
// thread, the wait serves synchronous calls and the thread's messages (the
// port events that carry the replies), and on any other thread only that
// thread's own queue. No polling: the thread sleeps until a message, a
// synchronous call, a signal or the time-out.
class TPumpingPhoneWait : public TPhoneWait {
 public:
  TPumpingPhoneWait() = default;
  TPumpingPhoneWait(const TPumpingPhoneWait&) = delete;
  TPumpingPhoneWait& operator=(const TPumpingPhoneWait&) = delete;

  void WaitUntil(const std::function<bool()>& done, std::uint32_t timeoutMs) override;
  void Signal() override;

 private:
  std::mutex lock_;
  std::vector<HANDLE> waiters_;  // one event per wait in progress (several threads, or nested waits)
};

// The keep-alive timer as a TTimer: its window belongs to the main thread, so
// it may be enabled from the search thread and always fires on the main thread.
class TWinPhoneTimer : public TPhoneTimer {
 public:
  TWinPhoneTimer(std::uint32_t intervalMs, TNotifyEvent onTimer);
  ~TWinPhoneTimer() override;
  TWinPhoneTimer(const TWinPhoneTimer&) = delete;
  TWinPhoneTimer& operator=(const TWinPhoneTimer&) = delete;

  void SetInterval(std::uint32_t ms) override;
  std::uint32_t Interval() const override;
  void SetEnabled(bool enabled) override;
  bool Enabled() const override;
  TTimer* Timer() const { return timer_; }

 private:
  TTimer* timer_ = nullptr;
};

class TWinPhonePlatform : public TPhonePlatform {
 public:
  // A link sender for the link method; its failure code is handed on.
  std::unique_ptr<TPhoneLink> CreateLink(const TPhoneLinkParams& params, std::uint16_t& failureCode) override;
  std::unique_ptr<TPhoneWait> CreateWait() override;
  std::unique_ptr<TPhoneTimer> CreateTimer(std::uint32_t intervalMs, TNotifyEvent onTimer) override;
};

// Makes the Windows platform the one new phone objects use.
void UseWinPhonePlatform();
