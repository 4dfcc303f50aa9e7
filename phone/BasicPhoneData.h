// The abstract phone: the operations and state that the wizard and the finder
// use without knowing the phone's make.
#pragma once

#include "Component.h"
#include "Types.h"

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>

class TBasicPhoneData : public TComponent {
  FW_CLASS(TBasicPhoneData, TComponent)

 public:
  explicit TBasicPhoneData(TComponent* owner);  // levels 0, state byte 0

  virtual std::string GetModel() = 0;  // the product code
  virtual std::string GetIMEI() = 0;
  virtual std::string GetSWVersion() = 0;
  virtual std::string GetHWVersion() = 0;
  virtual TDateTime GetDateTime() = 0;
  virtual void SetDateTime(TDateTime value) = 0;
  virtual TDateTime GetAlarm();            // 0
  virtual void SetAlarm(TDateTime value);  // nothing
  virtual int GetPort();                   // 0
  virtual void SetPort(int comPort);       // nothing
  virtual int GetModelNumber() = 0;

  int BatteryLevel() const { return batteryLevel_.load(); }
  int SignalLevel() const { return signalLevel_.load(); }

  TNotifyEvent OnBatteryChange;
  TNotifyEvent OnSignalChange;
  TNotifyEvent OnDisconnect;

  // The link method the finder sets before connecting.
  std::uint8_t LinkMethod = 0;

  bool Busy() const { return busy_.load(); }
  // Non-zero suspends the keep-alive.
  std::uint8_t State() const { return state_.load(); }
  void SetState(std::uint8_t state) { state_.store(state); }

  // The tail of the last identity reply.
  std::string RawIdentity() const;

 protected:
  // A level is stored only when it changed; then its event fires (when `notify`).
  void ChangeBattery(int level, bool notify);
  void ChangeSignal(int level, bool notify);
  void SetRawIdentity(const std::string& raw);

  // Texts read on one thread and written on another.
  std::string LastImei() const;
  void SetLastImei(const std::string& imei);
  std::string ProductCode() const;
  void SetProductCode(const std::string& code);
  std::string SwVersion() const;
  void SetSwVersion(const std::string& version);

  std::atomic<bool> busy_{false};

 private:
  mutable std::mutex textLock_;
  std::string lastImei_;
  std::string productCode_;
  std::string swVersion_;
  std::string rawIdentity_;
  std::atomic<int> batteryLevel_{0};
  std::atomic<int> signalLevel_{0};
  std::atomic<std::uint8_t> state_{0};
};
