// Fakes for the finder's tests: a phone platform whose links answer by port
// (a phone, an absent port, a mute one...), and the infrared and DKU-2 devices.
//
// A phone's replies are handed to its link's frame handler on the main thread,
// synchronously, from inside the send; so when a request starts waiting,
// either its answer is in or none will come, and the wait lets the time-out
// pass on the virtual millisecond clock at once. A platform made with real
// waits keeps the portable event wait instead (a mute phone then takes real
// seconds).
#pragma once

#include "FakePhoneLink.h"
#include "PhoneFind.h"

#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <vector>

enum class TPortAnswer {
  Phone,      // a phone answers
  Absent,     // no such port: code 12
  InUse,      // port in use: code 11
  Alternate,  // codes 11 and 20 by turns
  Mute,       // the link comes up, the phone says nothing
  Held,       // opening the link waits until Release() (20 s at most), then the port is absent
};

struct TLinkAttempt {
  std::uint8_t linkMethod;
  int port;
  std::intptr_t socket;
  std::chrono::steady_clock::time_point at;
};

class TFinderFakeEnv : public TPhonePlatform {
 public:
  explicit TFinderFakeEnv(bool realWaits = false) : realWaits_(realWaits) {
    if (!realWaits_) SetMillisecondClock(&FakeMilliseconds);
  }
  ~TFinderFakeEnv() override {
    if (!realWaits_) SetMillisecondClock(nullptr);
  }

  // How COM port `port` answers (serial link methods); unknown ports are absent.
  void Port(int port, TPortAnswer answer, std::string imei = "350612345678901") {
    std::lock_guard<std::mutex> g(lock_);
    ports_[port] = {answer, std::move(imei)};
  }
  // How the infrared socket or DKU-2 handle `socket` answers.
  void Socket(std::intptr_t socket, TPortAnswer answer, std::string imei = "350612345678901") {
    std::lock_guard<std::mutex> g(lock_);
    sockets_[socket] = {answer, std::move(imei)};
  }

  std::vector<TLinkAttempt> Attempts() const {
    std::lock_guard<std::mutex> g(lock_);
    return attempts_;
  }
  int AttemptsOn(int port) const {
    int n = 0;
    for (const auto& a : Attempts()) n += a.port == port && a.socket == 0;
    return n;
  }
  int LinksAlive() const { return linksAlive_.load(); }

  // An attempt on a Held port is waiting for Release().
  bool Holding() const {
    std::lock_guard<std::mutex> g(lock_);
    return holding_ > 0;
  }
  // Lets held attempts (and later ones) go on.
  void Release() {
    {
      std::lock_guard<std::mutex> g(lock_);
      released_ = true;
    }
    releasedWake_.notify_all();
  }

  // --- TPhonePlatform ---
  std::unique_ptr<TPhoneLink> CreateLink(const TPhoneLinkParams& params, std::uint16_t& failureCode) override;
  std::unique_ptr<TPhoneWait> CreateWait() override;
  std::unique_ptr<TPhoneTimer> CreateTimer(std::uint32_t intervalMs, TNotifyEvent) override {
    return std::make_unique<TInertPhoneTimer>(intervalMs);
  }

  std::atomic<int> linksAlive_{0};

 private:
  struct TAnswer {
    TPortAnswer answer = TPortAnswer::Absent;
    std::string imei;
  };
  bool realWaits_;
  mutable std::mutex lock_;
  std::map<int, TAnswer> ports_;
  std::map<std::intptr_t, TAnswer> sockets_;
  std::vector<TLinkAttempt> attempts_;
  int alternate_ = 0;
  int holding_ = 0;
  bool released_ = false;
  std::condition_variable releasedWake_;
};

// The 6310 (NPE-4) as it answers the connect sequence on every link.
inline std::vector<TFakeReply> Npe4Replies(std::uint8_t type, const std::string& payload, const std::string& imei) {
  const auto reply = [](std::uint8_t t, const std::string& p) { return TFakeReply{t, PhoneFbusFrame(t, p)}; };
  const auto starts = [&](std::uint8_t t, const char* hex) { return type == t && payload.rfind(FromHex(hex), 0) == 0; };
  if (starts(0xD1, "00 01 00 03")) return {reply(0xD2, FromHex("00 01 00 03") + "V 05.10\n12-03-02\nNPE-4\n")};
  if (starts(0x1B, "00 01 00 00 41"))
    return {reply(0x1B, FromHex("00 01 00 01 00 01 41 00 00") + static_cast<char>(imei.size()) + imei + '\0')};
  if (starts(0xDA, "00 01 00 00")) return {reply(0xDA, FromHex("00 01 00 01"))};
  return {};
}

class TFinderFakeLink : public TPhoneLink {
 public:
  TFinderFakeLink(TFinderFakeEnv& env, TPhoneLinkParams params, bool answers, std::string imei)
      : env_(env), params_(std::move(params)), answers_(answers), imei_(std::move(imei)) {
    ++env_.linksAlive_;
  }
  ~TFinderFakeLink() override { --env_.linksAlive_; }
  void SendPhoneMessage(std::uint8_t msgType, const std::string& payload) override {
    if (!answers_) return;
    for (const TFakeReply& r : Npe4Replies(msgType, payload, imei_))
      CallOnMainThread([&] { params_.onFrame(r.type, r.frame); });
  }
  bool Sending() const override { return false; }
  void ClearReceived() override {}

 private:
  TFinderFakeEnv& env_;
  TPhoneLinkParams params_;
  bool answers_;
  std::string imei_;
};

// Lets a request's time-out pass at once: its answer, if any, is already in.
class TVirtualWait : public TPhoneWait {
 public:
  void WaitUntil(const std::function<bool()>& done, std::uint32_t timeoutMs) override {
    if (!done()) g_fakeMs += timeoutMs;
  }
  void Signal() override {}
};

inline std::unique_ptr<TPhoneWait> TFinderFakeEnv::CreateWait() {
  if (realWaits_) return std::make_unique<TEventPhoneWait>();
  return std::make_unique<TVirtualWait>();
}

inline std::unique_ptr<TPhoneLink> TFinderFakeEnv::CreateLink(const TPhoneLinkParams& params,
                                                              std::uint16_t& failureCode) {
  TAnswer answer;
  {
    std::unique_lock<std::mutex> g(lock_);
    const bool bySocket = params.linkMethod == kLinkInfrared || params.linkMethod == kLinkDku2;
    attempts_.push_back({params.linkMethod, bySocket ? 0 : params.comPort, bySocket ? params.socket : 0,
                         std::chrono::steady_clock::now()});
    if (bySocket) {
      if (auto it = sockets_.find(params.socket); it != sockets_.end()) answer = it->second;
    } else if (auto it = ports_.find(params.comPort); it != ports_.end()) {
      answer = it->second;
    }
    if (answer.answer == TPortAnswer::Held) {
      ++holding_;
      releasedWake_.wait_for(g, std::chrono::seconds(20), [this] { return released_; });
      --holding_;
      answer.answer = TPortAnswer::Absent;
    }
    if (answer.answer == TPortAnswer::Alternate) {
      failureCode = (alternate_++ % 2) ? 20 : 11;
      return nullptr;
    }
  }
  switch (answer.answer) {
    case TPortAnswer::Absent:
      failureCode = 12;
      return nullptr;
    case TPortAnswer::InUse:
      failureCode = 11;
      return nullptr;
    default:
      failureCode = 0;
      return std::make_unique<TFinderFakeLink>(*this, params, answer.answer == TPortAnswer::Phone, answer.imei);
  }
}

// Infrared devices in range and DKU-2 devices.
struct TFakeIrDevice {
  std::string name;
  std::intptr_t socket;
};

class TFakeIrDiscovery : public TIrDiscovery {
 public:
  TFakeIrDiscovery(std::vector<TFakeIrDevice> devices, std::uint16_t code, std::atomic<int>& calls)
      : devices_(std::move(devices)), code_(code), calls_(calls) {}
  int ConnectAllDevices() override {
    ++calls_;
    for (const auto& d : devices_)
      if (OnDeviceConnected) OnDeviceConnected(d.name, d.socket);
    return static_cast<int>(devices_.size());
  }
  std::uint16_t ErrorCode() const override { return code_; }

 private:
  std::vector<TFakeIrDevice> devices_;
  std::uint16_t code_;
  std::atomic<int>& calls_;
};

class TFakeFinderDevices : public TFinderDevices {
 public:
  struct TDku2Device {
    std::string path;
    std::intptr_t handle;  // 0: the open fails with `error`
    std::uint32_t error;
  };
  std::vector<TFakeIrDevice> irDevices;
  std::uint16_t irCode = 0;
  std::vector<TDku2Device> dku2;
  std::atomic<int> irCalls{0};
  std::atomic<int> dku2Lists{0};

  std::unique_ptr<TIrDiscovery> CreateIrDiscovery() override {
    return std::make_unique<TFakeIrDiscovery>(irDevices, irCode, irCalls);
  }
  std::vector<std::string> ListDku2DevicePaths() override {
    ++dku2Lists;
    std::vector<std::string> paths;
    for (const auto& d : dku2) paths.push_back(d.path);
    return paths;
  }
  std::intptr_t OpenDku2Device(const std::string& path, std::uint32_t& systemError) override {
    std::lock_guard<std::mutex> g(lock_);
    opened_.push_back(path);
    for (const auto& d : dku2)
      if (d.path == path) {
        systemError = d.error;
        return d.handle;
      }
    systemError = 2;
    return 0;
  }
  std::vector<std::string> Opened() const {
    std::lock_guard<std::mutex> g(lock_);
    return opened_;
  }
  int OpenedCount(const std::string& path) const {
    int n = 0;
    for (const auto& p : Opened()) n += p == path;
    return n;
  }

 private:
  mutable std::mutex lock_;
  std::vector<std::string> opened_;
};
