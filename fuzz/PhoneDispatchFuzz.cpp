// Feeds arbitrary frames to the phone object's frame dispatcher, for a phone of
// every family: the dispatcher records request outcomes, levels and the identity
// tail without reading past the frame, and a frame never leaves a request in a
// state other than OK or FAILED.
#include "NokiaPhone.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

namespace {

void Check(bool ok) {
  if (!ok) std::abort();
}

// A phone whose model read answered with `code` (no link: every read stays local).
class TFuzzPhone : public TNokiaPhone {
 public:
  TFuzzPhone(const char* code) : TNokiaPhone(nullptr) { SetProductCode(code); }
};

const char* const kCodes[] = {"NSE-3", "NHM-5NX", "NSE-5", "NPE-4", "NPW-2", "RHV-3", "RH-21", "NHM-7", "", "RM-233"};

const char* const kKeys[] = {"SMS_INITNEW", "STAT_INFO",  "7110_SIG",  "TIME_SET",       "TIME_GET",  "ALARM_SET",
                             "ALARM_GET",   "7110_BAT",   "8310_BAT",  "ALARMSTATE_GET", "6360_IMEI", "8310_IMEI",
                             "7110_IMEI",   "8310_HW",    "GET_PNAME", "5110_INIT",      "NET_MON",   "5110_IMEI",
                             "5110_HW",     "GET_CAMERA", "SYS_GET",   "GET_SECCODE",    "GET_BT",    "APP3",
                             "APP2",        "DA_CHECK",   "APP1"};

TFuzzPhone** Phones() {
  static TFuzzPhone* phones[sizeof(kCodes) / sizeof(kCodes[0])] = {};
  if (!phones[0]) {
    for (std::size_t i = 0; i < sizeof(kCodes) / sizeof(kCodes[0]); ++i) phones[i] = New<TFuzzPhone>(kCodes[i]);
  }
  return phones;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  const std::uint8_t msgType = data[0];
  const std::string frame(reinterpret_cast<const char*>(data + 1), size - 1);
  TFuzzPhone** phones = Phones();
  for (std::size_t i = 0; i < sizeof(kCodes) / sizeof(kCodes[0]); ++i) {
    TFuzzPhone* phone = phones[i];
    phone->DispatchFrame(msgType, frame);
    Check(phone->BatteryLevel() >= 0 && phone->SignalLevel() >= 0);
    for (const char* key : kKeys) {
      const std::string state = phone->RequestState(key);
      Check(state.empty() || state == "OK" || state == "FAILED");
      const std::string result = phone->RequestResult(key);
      Check(state != "FAILED" || result.empty());
    }
  }
  return 0;
}
