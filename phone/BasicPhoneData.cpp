#include "BasicPhoneData.h"

FW_IMPLEMENT_CLASS(TBasicPhoneData)

TBasicPhoneData::TBasicPhoneData(TComponent* owner) : TComponent(owner) {}

TDateTime TBasicPhoneData::GetAlarm() {
  return 0;
}

void TBasicPhoneData::SetAlarm(TDateTime) {}

int TBasicPhoneData::GetPort() {
  return 0;
}

void TBasicPhoneData::SetPort(int) {}

void TBasicPhoneData::ChangeBattery(int level, bool notify) {
  if (batteryLevel_.exchange(level) == level) return;
  if (notify && OnBatteryChange) OnBatteryChange(this);
}

void TBasicPhoneData::ChangeSignal(int level, bool notify) {
  if (signalLevel_.exchange(level) == level) return;
  if (notify && OnSignalChange) OnSignalChange(this);
}

std::string TBasicPhoneData::RawIdentity() const {
  std::lock_guard<std::mutex> g(textLock_);
  return rawIdentity_;
}

void TBasicPhoneData::SetRawIdentity(const std::string& raw) {
  std::lock_guard<std::mutex> g(textLock_);
  rawIdentity_ = raw;
}

std::string TBasicPhoneData::LastImei() const {
  std::lock_guard<std::mutex> g(textLock_);
  return lastImei_;
}

void TBasicPhoneData::SetLastImei(const std::string& imei) {
  std::lock_guard<std::mutex> g(textLock_);
  lastImei_ = imei;
}

std::string TBasicPhoneData::ProductCode() const {
  std::lock_guard<std::mutex> g(textLock_);
  return productCode_;
}

void TBasicPhoneData::SetProductCode(const std::string& code) {
  std::lock_guard<std::mutex> g(textLock_);
  productCode_ = code;
}

std::string TBasicPhoneData::SwVersion() const {
  std::lock_guard<std::mutex> g(textLock_);
  return swVersion_;
}

void TBasicPhoneData::SetSwVersion(const std::string& version) {
  std::lock_guard<std::mutex> g(textLock_);
  swVersion_ = version;
}
