// What the phone object needs from the world around it, as small interfaces so
// that the phone engine stays portable: the link to the phone (the link sender
// on Windows), the wait a request uses for its answer, and the keep-alive
// timer. A platform object makes them; the Windows program installs its own,
// tests install scripted ones.
#pragma once

#include "Method.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

// A received message: its type and the whole frame, header included.
using TPhoneFrameEvent = Method<void(std::uint8_t msgType, const std::string& frame)>;
// The link has closed on its own (the reader thread ended).
using TPhoneLinkClosedEvent = Method<void()>;

// What a link is made with.
struct TPhoneLinkParams {
  std::uint8_t linkMethod = 0;
  std::string inLogName;     // log of frames received, empty for none
  std::string outLogName;    // log of frames sent, empty for none
  std::intptr_t socket = 0;  // infrared socket or DKU-2 handle
  int comPort = 0;           // COM number of the serial links
  // Called on the main thread for every received frame the phone should see.
  TPhoneFrameEvent onFrame;
  // Called on the main thread when the link closed by itself.
  TPhoneLinkClosedEvent onLinkClosed;
};

// One link to the phone, made for one connect attempt and released on disconnect.
class TPhoneLink {
 public:
  virtual ~TPhoneLink() = default;
  // Frames and sends one phone message. May throw when the link is broken.
  virtual void SendPhoneMessage(std::uint8_t msgType, const std::string& payload) = 0;
  // True while a frame is being written.
  virtual bool Sending() const = 0;
  // Forgets a frame still being assembled.
  virtual void ClearReceived() = 0;
};

// How a request waits for its answer. The dispatcher calls Signal after it
// changed the state of a request; WaitUntil returns as soon as `done` holds or
// `timeoutMs` has passed, without spinning. On the main thread the wait keeps
// handling the thread's messages (that is how replies arrive there).
class TPhoneWait {
 public:
  virtual ~TPhoneWait() = default;
  virtual void WaitUntil(const std::function<bool()>& done, std::uint32_t timeoutMs) = 0;
  virtual void Signal() = 0;
};

// A periodic timer that calls its handler on the main thread. Enable and
// disable may be called from any thread: the timer arms itself on its own
// thread.
class TPhoneTimer {
 public:
  virtual ~TPhoneTimer() = default;
  virtual void SetInterval(std::uint32_t ms) = 0;
  virtual std::uint32_t Interval() const = 0;
  virtual void SetEnabled(bool enabled) = 0;
  virtual bool Enabled() const = 0;
};

class TPhonePlatform {
 public:
  virtual ~TPhonePlatform() = default;
  // Makes the link; `failureCode` is 0 when it came up, else the reason
  // (10, 11, 12, 13, 20). A link is returned even when it failed, or null.
  virtual std::unique_ptr<TPhoneLink> CreateLink(const TPhoneLinkParams& params, std::uint16_t& failureCode) = 0;
  virtual std::unique_ptr<TPhoneWait> CreateWait() = 0;
  // A disabled timer of the given interval that calls `onTimer`.
  virtual std::unique_ptr<TPhoneTimer> CreateTimer(std::uint32_t intervalMs, TNotifyEvent onTimer) = 0;
};

// The platform new phone objects use. Until one is installed: no links (every
// connect fails with code 20), the event wait below and timers that never fire.
void SetPhonePlatform(TPhonePlatform* platform);  // null restores the default
TPhonePlatform& GetPhonePlatform();

// The portable wait: a condition variable for threads other than the main
// thread; on the main thread it serves the framework's synchronous calls while
// it waits (replies handed over from other threads arrive that way).
class TEventPhoneWait : public TPhoneWait {
 public:
  void WaitUntil(const std::function<bool()>& done, std::uint32_t timeoutMs) override;
  void Signal() override;

 private:
  std::mutex lock_;
  std::condition_variable changed_;
};

// A timer that keeps its settings and never fires.
class TInertPhoneTimer : public TPhoneTimer {
 public:
  explicit TInertPhoneTimer(std::uint32_t intervalMs) : interval_(intervalMs) {}
  void SetInterval(std::uint32_t ms) override { interval_ = ms; }
  std::uint32_t Interval() const override { return interval_; }
  void SetEnabled(bool enabled) override { enabled_ = enabled; }
  bool Enabled() const override { return enabled_; }

 private:
  std::atomic<std::uint32_t> interval_;
  std::atomic<bool> enabled_{false};
};

// Runs `call` on the main thread and waits for it (at once on the main thread,
// and when no main thread has been declared).
void CallOnMainThread(const std::function<void()>& call);
