#include "PhoneLink.h"

#include "Thread.h"

#include <atomic>
#include <chrono>

namespace {

class TDefaultPhonePlatform : public TPhonePlatform {
 public:
  std::unique_ptr<TPhoneLink> CreateLink(const TPhoneLinkParams&, std::uint16_t& failureCode) override {
    failureCode = 20;
    return nullptr;
  }
  std::unique_ptr<TPhoneWait> CreateWait() override { return std::make_unique<TEventPhoneWait>(); }
  std::unique_ptr<TPhoneTimer> CreateTimer(std::uint32_t intervalMs, TNotifyEvent) override {
    return std::make_unique<TInertPhoneTimer>(intervalMs);
  }
};

std::atomic<TPhonePlatform*> g_platform{nullptr};

}  // namespace

void SetPhonePlatform(TPhonePlatform* platform) {
  g_platform.store(platform);
}

TPhonePlatform& GetPhonePlatform() {
  if (TPhonePlatform* p = g_platform.load()) return *p;
  static TDefaultPhonePlatform platform;
  return platform;
}

void TEventPhoneWait::WaitUntil(const std::function<bool()>& done, std::uint32_t timeoutMs) {
  using Clock = std::chrono::steady_clock;
  const Clock::time_point end = Clock::now() + std::chrono::milliseconds(timeoutMs);
  if (IsMainThread()) {
    // Replies reach the main thread as synchronous calls: serve them until done.
    while (!done()) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now()).count();
      if (left <= 0) return;
      CheckSynchronize(static_cast<int>(left));
    }
    return;
  }
  std::unique_lock<std::mutex> lk(lock_);
  changed_.wait_until(lk, end, done);
}

void TEventPhoneWait::Signal() {
  { std::lock_guard<std::mutex> g(lock_); }
  changed_.notify_all();
}

void CallOnMainThread(const std::function<void()>& call) {
  if (MainThreadID() == 0 || IsMainThread()) {
    call();
    return;
  }
  SynchronizeCall(call);
}
