// The simulated phone itself: who it claims to be (product code, software
// version and date, IMEI or ESN, hardware version, levels) and which request
// messages it answers. Each protocol family answers its own message set and
// nothing else, so a host that picks the wrong family for a model gets no
// answer, as from a real phone.
#pragma once

#include <cstdint>
#include <ctime>
#include <string>
#include <string_view>
#include <vector>

struct TSimMessage {
  std::uint8_t Type;
  std::string Payload;
};

enum class TSimImeiStyle {
  isStandard,  // the family's own identity request
  is6360,      // the identity request of the non-standard models (1B ... 44), 11-character ESN
};

struct TSimPersonaData {
  std::string Name;   // the persona's name on the command line (the product code)
  std::string Model;  // the model name, for the listing
  std::string Code;   // product code reported in the model reply
  int Family = 4;     // 1 and 2: the 5110 message set, 3: the 7110 set, 4: the newest set
  TSimImeiStyle ImeiStyle = TSimImeiStyle::isStandard;
  std::string SwVersion;
  std::string SwDate;  // day-month-two-digit year
  std::string Imei;    // IMEI, or the ESN of the non-standard models
  std::string HwVersion;
  int Battery = 75;  // percent
  int Signal = 50;   // percent
};

// The built-in personas.
const std::vector<TSimPersonaData>& SimPersonas();
// A built-in persona by name or model name, case ignored; null when unknown.
const TSimPersonaData* SimFindPersona(std::string_view name);

class TSimPersona {
 public:
  explicit TSimPersona(TSimPersonaData data);

  const TSimPersonaData& Data() const { return data_; }
  TSimPersonaData& Data() { return data_; }

  // When not 0: after the first request, the phone expects a DA message at
  // least every `ms` milliseconds and, while one is overdue, answers nothing
  // but the DA message itself.
  void SetDaTimeout(int ms) { daTimeoutMs_ = ms; }

  // The replies to one complete request message (payload without FBUS block
  // bytes); empty when the phone does not answer it. `nowMs` is a monotonic
  // clock in milliseconds, `wallNow` the wall clock for the phone's clock.
  std::vector<TSimMessage> Answer(std::uint8_t type, std::string_view payload, std::int64_t nowMs, std::time_t wallNow);

  // The phone's clock and alarm, as the host last set them.
  std::time_t PhoneTime(std::time_t wallNow) const { return wallNow + clockOffset_; }
  bool AlarmOn() const { return alarmOn_; }
  int AlarmHour() const { return alarmHour_; }
  int AlarmMinute() const { return alarmMinute_; }

 private:
  std::vector<TSimMessage> AnswerFamily12(std::uint8_t type, std::string_view p, std::time_t wallNow);
  std::vector<TSimMessage> AnswerFamily3(std::uint8_t type, std::string_view p, std::time_t wallNow);
  std::vector<TSimMessage> AnswerFamily4(std::uint8_t type, std::string_view p, std::time_t wallNow);
  std::vector<TSimMessage> AnswerOldClock(std::uint8_t type, std::string_view p, std::time_t wallNow);
  std::vector<TSimMessage> AnswerOldIdentity(std::uint8_t type, std::string_view p);
  bool SetClock(int year, int month, int day, int hour, int minute, int second, std::time_t wallNow);

  TSimPersonaData data_;
  int daTimeoutMs_ = 0;
  bool sawRequest_ = false;
  std::int64_t lastDaMs_ = 0;
  std::time_t clockOffset_ = 0;
  bool alarmOn_ = false;
  int alarmHour_ = 7;
  int alarmMinute_ = 30;
};
