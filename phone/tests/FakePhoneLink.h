// A scripted phone for the phone object's tests: a link that answers each
// request message with recorded reply frames, a wait that hands those frames
// over as the main thread's message loop would, and a timer that only records.
//
// Two modes. Virtual time (the default): everything runs on the test thread,
// the millisecond clock is a counter that a wait with nothing to deliver moves
// forward by its whole time-out, so time-outs cost no real time. Threaded: a
// device thread delivers the replies through the framework's synchronous
// calls to the main thread, and the phone uses the portable event wait.
#pragma once

#include "LinkFrames.h"
#include "PhoneLink.h"
#include "TestBytes.h"
#include "TestFrames.h"
#include "Thread.h"
#include "Timers.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <utility>
#include <vector>

struct TFakeReply {
  std::uint8_t type;
  std::string frame;
};

struct TSentMessage {
  std::uint8_t type;
  std::string payload;
};

// The virtual millisecond clock.
inline std::atomic<std::uint32_t> g_fakeMs{1000000};
inline std::uint32_t FakeMilliseconds() {
  return g_fakeMs.load();
}

class TFakeEnv;

class TFakeLink : public TPhoneLink {
 public:
  TFakeLink(TFakeEnv& env, TPhoneLinkParams params, int id) : env_(env), params_(std::move(params)), id_(id) {}
  ~TFakeLink() override;
  void SendPhoneMessage(std::uint8_t msgType, const std::string& payload) override;
  bool Sending() const override;
  void ClearReceived() override {}
  const TPhoneLinkParams& Params() const { return params_; }

 private:
  TFakeEnv& env_;
  TPhoneLinkParams params_;
  int id_;
};

// The keep-alive timer keeps its settings for the tests to read and never fires.
using TFakeTimer = TInertPhoneTimer;

class TFakeWait : public TPhoneWait {
 public:
  explicit TFakeWait(TFakeEnv& env) : env_(env) {}
  void WaitUntil(const std::function<bool()>& done, std::uint32_t timeoutMs) override;
  void Signal() override { ++signals; }
  std::atomic<int> signals{0};

 private:
  TFakeEnv& env_;
};

class TFakeEnv : public TPhonePlatform {
 public:
  explicit TFakeEnv(bool threaded = false) : threaded_(threaded) {
    if (!threaded_) SetMillisecondClock(&FakeMilliseconds);
    if (threaded_) worker_ = std::thread([this] { Work(); });
  }
  ~TFakeEnv() override {
    if (threaded_) {
      {
        std::lock_guard<std::mutex> g(lock_);
        stop_ = true;
      }
      cv_.notify_all();
      // The worker may be handing a frame to the main thread: serve it until it ends.
      ServeSynchronizeUntil([this] { return workerDone_.load(); });
      worker_.join();
    } else {
      SetMillisecondClock(nullptr);
    }
  }

  // --- Script ---
  // Replies to messages of `type` whose payload starts with `prefix`; a later
  // line overrides an earlier one.
  void On(std::uint8_t type, const std::string& prefix, std::vector<TFakeReply> replies) {
    std::lock_guard<std::mutex> g(lock_);
    script_.insert(script_.begin(), TScriptLine{type, prefix, std::move(replies)});
  }
  void Mute(bool mute) { mute_ = mute; }
  // The first `count` messages of `type` whose payload starts with `prefix`
  // go unanswered: a phone whose reply comes too late.
  void Late(std::uint8_t type, const std::string& prefix, int count) {
    std::lock_guard<std::mutex> g(lock_);
    late_.push_back(TLateLine{type, prefix, count});
  }
  std::uint16_t createCode = 0;
  bool failSends = false;
  bool sending = false;
  // Runs once, from inside the next wait (as a message handled during it).
  std::function<void()> duringWait;

  // --- Observations ---
  std::vector<TSentMessage> Sent() const {
    std::lock_guard<std::mutex> g(lock_);
    return sent_;
  }
  int CountSent(std::uint8_t type, const std::string& prefix) const {
    int n = 0;
    for (const auto& m : Sent()) n += m.type == type && m.payload.rfind(prefix, 0) == 0;
    return n;
  }
  void ClearSent() {
    std::lock_guard<std::mutex> g(lock_);
    sent_.clear();
  }
  int LinksAlive() const { return linksAlive_.load(); }
  int LinksMade() const { return linksMade_.load(); }
  TFakeTimer* Timer() const { return timer_; }
  TFakeLink* CurrentLink() const {
    std::lock_guard<std::mutex> g(lock_);
    return current_;
  }

  // --- TPhonePlatform ---
  std::unique_ptr<TPhoneLink> CreateLink(const TPhoneLinkParams& params, std::uint16_t& failureCode) override {
    failureCode = createCode;
    const int id = ++linksMade_;
    ++linksAlive_;
    auto link = std::make_unique<TFakeLink>(*this, params, id);
    std::lock_guard<std::mutex> g(lock_);
    alive_.insert(id);
    current_ = link.get();
    return link;
  }
  std::unique_ptr<TPhoneWait> CreateWait() override {
    if (threaded_) return std::make_unique<TEventPhoneWait>();
    return std::make_unique<TFakeWait>(*this);
  }
  std::unique_ptr<TPhoneTimer> CreateTimer(std::uint32_t intervalMs, TNotifyEvent) override {
    auto timer = std::make_unique<TFakeTimer>(intervalMs);
    timer_ = timer.get();
    return timer;
  }

  // --- Used by the fakes ---
  void LinkGone(int id) {
    --linksAlive_;
    std::lock_guard<std::mutex> g(lock_);
    alive_.erase(id);
    if (current_ && alive_.empty()) current_ = nullptr;
  }
  void Received(int id, std::uint8_t type, const std::string& payload) {
    if (failSends) throw std::runtime_error("write failed");
    std::vector<TFakeReply> replies;
    {
      std::lock_guard<std::mutex> g(lock_);
      sent_.push_back({type, payload});
      if (mute_) return;
      for (auto& l : late_) {
        if (l.count > 0 && l.type == type && payload.rfind(l.prefix, 0) == 0) {
          --l.count;
          return;
        }
      }
      for (const auto& s : script_) {
        if (s.type == type && payload.rfind(s.prefix, 0) == 0) {
          replies = s.replies;
          break;
        }
      }
      for (auto& r : replies) pending_.push_back({id, std::move(r)});
    }
    cv_.notify_all();
  }
  // Virtual mode: hands the pending frames to their links' handlers. True when one was handed over.
  bool DeliverOne() {
    std::pair<int, TFakeReply> item;
    TFakeLink* link = nullptr;
    {
      std::lock_guard<std::mutex> g(lock_);
      if (pending_.empty()) return false;
      item = std::move(pending_.front());
      pending_.pop_front();
      if (alive_.count(item.first)) link = current_;
    }
    if (link) link->Params().onFrame(item.second.type, item.second.frame);
    return true;
  }
  void RunDuringWait() {
    if (!duringWait) return;
    auto hook = std::move(duringWait);
    duringWait = nullptr;
    hook();
  }

 private:
  struct TScriptLine {
    std::uint8_t type;
    std::string prefix;
    std::vector<TFakeReply> replies;
  };
  struct TLateLine {
    std::uint8_t type;
    std::string prefix;
    int count;
  };

  void Work() {
    std::unique_lock<std::mutex> lk(lock_);
    for (;;) {
      cv_.wait(lk, [this] { return stop_ || !pending_.empty(); });
      if (stop_) break;
      auto item = std::move(pending_.front());
      pending_.pop_front();
      lk.unlock();
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
      // Frames reach the phone on the main thread, from a link that still exists.
      CallOnMainThread([this, &item] {
        TFakeLink* link = nullptr;
        {
          std::lock_guard<std::mutex> g(lock_);
          if (alive_.count(item.first)) link = current_;
        }
        if (link) link->Params().onFrame(item.second.type, item.second.frame);
      });
      lk.lock();
    }
    workerDone_ = true;
    lk.unlock();
    SignalSyncWaiters();
  }

  bool threaded_;
  mutable std::mutex lock_;
  std::condition_variable cv_;
  std::vector<TScriptLine> script_;
  std::vector<TLateLine> late_;
  std::deque<std::pair<int, TFakeReply>> pending_;
  std::vector<TSentMessage> sent_;
  std::set<int> alive_;
  TFakeLink* current_ = nullptr;
  TFakeTimer* timer_ = nullptr;
  std::atomic<bool> mute_{false};
  std::atomic<int> linksAlive_{0};
  std::atomic<int> linksMade_{0};
  bool stop_ = false;
  std::atomic<bool> workerDone_{false};
  std::thread worker_;
};

inline TFakeLink::~TFakeLink() {
  env_.LinkGone(id_);
}
inline void TFakeLink::SendPhoneMessage(std::uint8_t msgType, const std::string& payload) {
  env_.Received(id_, msgType, payload);
}
inline bool TFakeLink::Sending() const {
  return env_.sending;
}

inline void TFakeWait::WaitUntil(const std::function<bool()>& done, std::uint32_t timeoutMs) {
  env_.RunDuringWait();
  // Messages first, as the message loop would hand them over.
  while (!done() && env_.DeliverOne()) {
  }
  if (done()) return;
  // Nothing more will come: the time passes.
  g_fakeMs += timeoutMs;
}
