// The Nokia phone object: connects over a link, sorts the phone into its
// protocol family, initialises it, reads model, IMEI or ESN and software
// version, keeps the link alive and disconnects.
//
// Threads: Connect runs on the finder's search thread, the keep-alive and the
// frame dispatcher on the main thread, the wizard's reads on the main thread.
// The request states and results, the phone's texts and flags are guarded, so
// a request waiting on one thread sees what the dispatcher writes on the other.
// A request waits on its wait object, which the dispatcher signals.
#pragma once

#include "BasicPhoneData.h"
#include "PhoneLink.h"
#include "PhoneMessages.h"

#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>

// OnChangePhone: the phone's IMEI changed from OldIMEI to NewIMEI.
using TChangeNotifyEvent = Method<void(TObject* sender, const std::string& oldImei, const std::string& newImei)>;

class TNokiaPhone : public TBasicPhoneData {
  FW_CLASS(TNokiaPhone, TBasicPhoneData)

 public:
  // A phone that makes its links, wait and timer with the installed platform.
  explicit TNokiaPhone(TComponent* owner);
  TNokiaPhone(TComponent* owner, TPhonePlatform& platform);
  // Disables the keep-alive, disconnects (errors swallowed) and releases the link.
  void Destroy() override;

  // Connects on LinkMethod; false with FailureCode() set when the phone did not
  // answer or the link did not come up.
  bool Connect(bool syncClock);
  // Leaves the connected state and releases the link. Safe to call at any
  // time, more than once, and from either thread.
  void Disconnect();
  // The protocol family: 0 to 4, -1 when no rule matches.
  int Family();
  // The product code, read from the phone when none is stored or `force` is set.
  std::string ReadModel(bool force);
  // The link's own end (its reader thread ended).
  void LinkClosed();
  // Handler of every received frame (main thread).
  void DispatchFrame(std::uint8_t msgType, const std::string& frame);
  // Sends a message and waits for the answer of `key`; see the request rules in
  // NokiaPhone.cpp. TimeoutSec 0 sends without waiting for an answer.
  bool Request(std::uint8_t msgType, const std::string& payload, bool noRetry, std::string& reply, int timeoutSec,
               const std::string& key);
  bool Request(const TPhoneRequest& request, std::string& reply);
  // The keep-alive timer's handler (main thread).
  void KeepAlive(TObject* sender);
  // Reads battery and signal.
  void UpdateStatus();

  std::string GetModel() override;
  std::string GetIMEI() override;
  std::string GetSWVersion() override;
  std::string GetHWVersion() override;
  TDateTime GetDateTime() override;
  void SetDateTime(TDateTime value) override;
  TDateTime GetAlarm() override;
  void SetAlarm(TDateTime value) override;
  int GetPort() override;
  void SetPort(int comPort) override;
  int GetModelNumber() override;

  bool IsActive() const { return connected_.load() || connecting_.load(); }
  bool Connected() const { return connected_.load(); }
  bool Disconnecting() const { return disconnecting_.load(); }
  std::uint8_t FailureCode() const { return failureCode_.load(); }
  int TimeoutCount() const { return timeouts_.load(); }
  bool HasLink() const;
  TPhoneTimer& KeepAliveTimer() { return *timer_; }
  // The state ("BUSY", "OK", "FAILED", "NONE", empty) and last result of a request key.
  std::string RequestState(const std::string& key) const;
  std::string RequestResult(const std::string& key) const;

  // Published.
  std::intptr_t Socket = 0;  // infrared socket or DKU-2 device handle
  std::string InLogName;
  std::string OutLogName;
  TDateTime ExpireDate = 0;
  TChangeNotifyEvent OnChangePhone;
  TNotifyEvent OnMMSReceived;

  // Set by the finder.
  int ModelNumberHint = 0;  // from the infrared device name
  std::string Dku2Path;

 private:
  // The request states and results, written by the dispatcher on the main
  // thread while a request on the search thread reads them.
  class TRequestTable {
   public:
    std::string State(const std::string& key) const;
    void SetState(const std::string& key, const std::string& state);
    std::string Result(const std::string& key) const;
    // Marks `key` BUSY unless it already is (and `force` is not set).
    bool Begin(const std::string& key, bool force);
    void Answer(const std::string& key, bool ok, const std::string& frame);

   private:
    mutable std::mutex lock_;
    std::map<std::string, std::string> states_;
    std::map<std::string, std::string> results_;
  };

  std::shared_ptr<TPhoneLink> Link() const;
  std::shared_ptr<TPhoneLink> TakeLink();
  void InitFamily();
  void DeinitFamily();
  // Disconnects and tells OnDisconnect, once, when this call ended the connection.
  void GiveUp();
  void FireDisconnect();
  void Delay(std::uint32_t ms);
  void StoreLevel(const std::string& key, const std::string& reply);
  int ModelNumberOf(const std::string& code) const;

  TPhonePlatform& platform_;
  std::unique_ptr<TPhoneWait> wait_;
  std::unique_ptr<TPhoneTimer> timer_;
  mutable std::mutex linkLock_;
  std::shared_ptr<TPhoneLink> link_;
  TRequestTable requests_;

  std::atomic<int> comPort_{0};
  std::atomic<std::uint8_t> failureCode_{0};
  std::atomic<int> familyCache_{-1};
  std::atomic<bool> connected_{false};
  std::atomic<bool> connecting_{false};
  std::atomic<bool> disconnecting_{false};
  std::atomic<bool> reconnecting_{false};
  std::atomic<bool> reconnectOk_{false};
  std::atomic<bool> alarmOn_{false};
  std::atomic<bool> reportable_{false};  // a connection whose end OnDisconnect has not told yet
  std::atomic<int> timeouts_{0};
};

// The framework's day count (days since 30 December 1899, time as the fraction).
TDateTime PhoneEncodeDateTime(const TPhoneDateTime& value);
TPhoneDateTime PhoneDecodeDateTime(TDateTime value);
