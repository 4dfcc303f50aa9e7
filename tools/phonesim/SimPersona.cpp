#include "SimPersona.h"

#include <algorithm>
#include <cctype>

#include "SimFrames.h"
#include "SysUtils.h"

namespace {
// Frame offsets on the wire count the 6 header bytes; payload index = offset - 6.
constexpr std::size_t kHeader = 6;

bool StartsWith(std::string_view p, std::initializer_list<int> prefix) {
  if (p.size() < prefix.size()) return false;
  std::size_t i = 0;
  for (int b : prefix) {
    if (static_cast<std::uint8_t>(p[i++]) != b) return false;
  }
  return true;
}

// Byte at a frame offset of the request, or -1 past its end.
int At(std::string_view p, std::size_t frameOffset) {
  const std::size_t i = frameOffset - kHeader;
  return i < p.size() ? static_cast<std::uint8_t>(p[i]) : -1;
}

// A reply payload with `bytes` at the given frame offsets, zero-filled
// between, at least `minSize` payload bytes long.
class TReply {
 public:
  explicit TReply(std::string start) : p_(std::move(start)) {}
  TReply& Put(std::size_t frameOffset, int value) {
    const std::size_t i = frameOffset - kHeader;
    if (p_.size() <= i) p_.append(i + 1 - p_.size(), '\0');
    p_.replace(i, 1, 1, static_cast<char>(value & 0xFF));
    return *this;
  }
  TReply& Append(std::string_view bytes) {
    p_.append(bytes);
    return *this;
  }
  TReply& PadTo(std::size_t frameOffset) {
    if (p_.size() < frameOffset - kHeader) p_.resize(frameOffset - kHeader, '\0');
    return *this;
  }
  std::string Take() { return std::move(p_); }

 private:
  std::string p_;
};

int Bars(int percent) {
  return std::clamp(percent, 0, 100) / 25;
}

std::vector<TSimMessage> One(std::uint8_t type, std::string payload) {
  return {TSimMessage{type, std::move(payload)}};
}

bool EqualNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i]))) return false;
  }
  return true;
}
}  // namespace

const std::vector<TSimPersonaData>& SimPersonas() {
  static const std::vector<TSimPersonaData> personas = {
      {"NSE-3", "6110", "NSE-3", 1, TSimImeiStyle::isStandard, "V 05.24", "30-06-98", "449123456789012", "0501", 75,
       50},
      {"NSE-5", "7110", "NSE-5", 3, TSimImeiStyle::isStandard, "V 04.94", "16-03-00", "449234567890123", "0702", 75,
       50},
      {"NPE-4", "6310", "NPE-4", 4, TSimImeiStyle::isStandard, "V 05.10", "12-03-02", "350612345678901", "0800", 75,
       50},
      {"NPW-2", "6360", "NPW-2", 4, TSimImeiStyle::is6360, "V 04.60", "05-09-01", "12345678901", "0700", 75, 50},
      {"RHV-3", "AscentM", "RHV-3", 4, TSimImeiStyle::isStandard, "V 03.10", "20-11-06", "357123456789012", "1000", 75,
       50},
  };
  return personas;
}

const TSimPersonaData* SimFindPersona(std::string_view name) {
  for (const TSimPersonaData& p : SimPersonas()) {
    if (EqualNoCase(p.Name, name) || EqualNoCase(p.Model, name)) return &p;
  }
  return nullptr;
}

TSimPersona::TSimPersona(TSimPersonaData data) : data_(std::move(data)) {}

bool TSimPersona::SetClock(int year, int month, int day, int hour, int minute, int second, std::time_t wallNow) {
  if (year < 1980 || year > 2099 || month < 1 || month > 12 || day < 1 || day > 31 || hour > 23 || minute > 59 ||
      second > 59)
    return false;
  std::tm t{};
  t.tm_year = year - 1900;
  t.tm_mon = month - 1;
  t.tm_mday = day;
  t.tm_hour = hour;
  t.tm_min = minute;
  t.tm_sec = second;
  t.tm_isdst = -1;
  const std::time_t when = std::mktime(&t);
  if (when == static_cast<std::time_t>(-1)) return false;
  clockOffset_ = when - wallNow;
  return true;
}

std::vector<TSimMessage> TSimPersona::Answer(std::uint8_t type, std::string_view p, std::int64_t nowMs,
                                             std::time_t wallNow) {
  const bool isDa = type == 0xDA && StartsWith(p, {0x00, 0x01, 0x00, 0x00});
  if (daTimeoutMs_ > 0) {
    if (!sawRequest_) {
      sawRequest_ = true;
      lastDaMs_ = nowMs;
    }
    if (isDa) {
      lastDaMs_ = nowMs;
    } else if (nowMs - lastDaMs_ > daTimeoutMs_) {
      return {};
    }
  }
  // Messages every family answers: the model and version read, the DA check.
  if (type == 0xD1 && StartsWith(p, {0x00, 0x01, 0x00, 0x03})) {
    return One(0xD2, TReply(SimBytes({0x00, 0x01, 0x00, 0x03}))
                         .Append(data_.SwVersion + "\n" + data_.SwDate + "\n" + data_.Code + "\n")
                         .Take());
  }
  if (isDa) return One(0xDA, SimBytes({0x00, 0x01, 0x00, 0x01}));

  switch (data_.Family) {
    case 0:
    case 1:
    case 2:
      return AnswerFamily12(type, p, wallNow);
    case 3:
      return AnswerFamily3(type, p, wallNow);
    case 4:
      return AnswerFamily4(type, p, wallNow);
    default:
      return {};
  }
}

// Type 40: initialisation, identity and hardware version of the older sets.
std::vector<TSimMessage> TSimPersona::AnswerOldIdentity(std::uint8_t type, std::string_view p) {
  if (type != 0x40) return {};
  if (StartsWith(p, {0x00, 0x01, 0x64})) return One(0x40, SimBytes({0x00, 0x01, 0x64, 0x00}));
  if (StartsWith(p, {0x00, 0x01, 0xC8, 0x05}))
    return One(0x40, TReply(SimBytes({0x00, 0x01, 0xC8, 0x05, 0x01})).Append(data_.HwVersion).Append({"\0", 1}).Take());
  return {};
}

// Clock and alarm of families 1 to 3 (type 11, or 19 on family 3), subcommands 60, 62, 6B, 6D.
std::vector<TSimMessage> TSimPersona::AnswerOldClock(std::uint8_t type, std::string_view p, std::time_t wallNow) {
  if (StartsWith(p, {0x00, 0x01, 0x00, 0x62})) {
    const std::time_t t = PhoneTime(wallNow);
    const std::tm tm = LocalTime(t);
    const int year = tm.tm_year + 1900;
    return One(type, TReply(SimBytes({0x00, 0x01, 0x00, 0x63, 0x01, 0x01, 0x07, 0x01}))
                         .Put(14, year >> 8)
                         .Put(15, year)
                         .Put(16, tm.tm_mon + 1)
                         .Put(17, tm.tm_mday)
                         .Put(18, tm.tm_hour)
                         .Put(19, tm.tm_min)
                         .Put(20, tm.tm_sec)
                         .Put(21, 0)
                         .Take());
  }
  if (StartsWith(p, {0x00, 0x01, 0x00, 0x60})) {
    // 00 01 00 60 01 01 07, year (2), month, day, hour, minute, 00
    bool ok = false;
    if (At(p, 18) >= 0) {
      ok = SetClock((At(p, 13) << 8) | At(p, 14), At(p, 15), At(p, 16), At(p, 17), At(p, 18), 0, wallNow);
    }
    return One(type, SimBytes({0x00, 0x01, 0x00, 0x61, ok ? 0x01 : 0x00}));
  }
  if (StartsWith(p, {0x00, 0x01, 0x00, 0x6D})) {
    return One(type, TReply(SimBytes({0x00, 0x01, 0x00, 0x6E, 0x01, 0x20, 0x03, 0x01}))
                         .Put(14, alarmOn_ ? 0x02 : 0x01)
                         .Put(15, alarmHour_)
                         .Put(16, alarmMinute_)
                         .Put(17, 0)
                         .Take());
  }
  if (StartsWith(p, {0x00, 0x01, 0x00, 0x6B})) {
    // 00 01 00 6B 01 xx 03, on (02) or off, hour, minute, 00
    const int on = At(p, 13), hour = At(p, 14), minute = At(p, 15);
    const bool ok = on >= 0 && (on != 0x02 || (hour >= 0 && hour < 24 && minute >= 0 && minute < 60));
    if (ok) {
      alarmOn_ = on == 0x02;
      if (alarmOn_) {
        alarmHour_ = hour;
        alarmMinute_ = minute;
      }
    }
    return One(type, SimBytes({0x00, 0x01, 0x00, 0x6C, ok ? 0x01 : 0x00}));
  }
  return {};
}

std::vector<TSimMessage> TSimPersona::AnswerFamily12(std::uint8_t type, std::string_view p, std::time_t wallNow) {
  if (type == 0x40 && StartsWith(p, {0x00, 0x01, 0x66}) && data_.ImeiStyle == TSimImeiStyle::isStandard)
    return One(0x40, TReply(SimBytes({0x00, 0x01, 0x66, 0x01})).Append(data_.Imei).Append({"\0", 1}).Take());
  if (type == 0x40) return AnswerOldIdentity(type, p);
  if (type == 0x04 && StartsWith(p, {0x00, 0x01, 0x00, 0x01})) {
    return One(0x04, TReply(SimBytes({0x00, 0x01, 0x00, 0x02, 0x01}))
                         .Put(11, Bars(data_.Signal))
                         .Put(13, 0x01)
                         .Put(14, Bars(data_.Battery))
                         .Put(15, 0)
                         .Take());
  }
  if (type == 0x11) return AnswerOldClock(type, p, wallNow);
  if (type == 0x1B && data_.ImeiStyle == TSimImeiStyle::is6360 && StartsWith(p, {0x00, 0x01, 0x00, 0x00, 0x44}))
    return AnswerFamily4(type, p, wallNow);
  return {};
}

std::vector<TSimMessage> TSimPersona::AnswerFamily3(std::uint8_t type, std::string_view p, std::time_t wallNow) {
  if (type == 0x1B && StartsWith(p, {0x00, 0x01, 0x00, 0x01}) && data_.ImeiStyle == TSimImeiStyle::isStandard)
    return One(0x1B, TReply(SimBytes({0x00, 0x01, 0x00, 0x02})).Append(data_.Imei).Append({"\0", 1}).Take());
  if (type == 0x1B && data_.ImeiStyle == TSimImeiStyle::is6360 && StartsWith(p, {0x00, 0x01, 0x00, 0x00, 0x44}))
    return AnswerFamily4(type, p, wallNow);
  if (type == 0x40) return AnswerOldIdentity(type, p);
  if (type == 0x17 && StartsWith(p, {0x00, 0x01, 0x00, 0x02}))
    return One(0x17, TReply(SimBytes({0x00, 0x01, 0x00, 0x03, 0x01})).Put(11, data_.Battery).Put(12, 0).Take());
  if (type == 0x0A && StartsWith(p, {0x00, 0x01, 0x00, 0x81}))
    return One(0x0A, TReply(SimBytes({0x00, 0x01, 0x00, 0x82})).Put(10, data_.Signal).Put(11, 0).Take());
  if (type == 0x19) return AnswerOldClock(type, p, wallNow);
  return {};
}

std::vector<TSimMessage> TSimPersona::AnswerFamily4(std::uint8_t type, std::string_view p, std::time_t wallNow) {
  if (type == 0x1B) {
    const bool std41 = StartsWith(p, {0x00, 0x01, 0x00, 0x00, 0x41});
    const bool esn44 = StartsWith(p, {0x00, 0x01, 0x00, 0x00, 0x44});
    if ((std41 && data_.ImeiStyle == TSimImeiStyle::isStandard) ||
        (esn44 && data_.ImeiStyle == TSimImeiStyle::is6360)) {
      // 00 01 00 01, then [10..15] 00 01 <41|44> 00 00 <length>, identity from offset 16.
      return One(0x1B, TReply(SimBytes({0x00, 0x01, 0x00, 0x01, 0x00, 0x01, std41 ? 0x41 : 0x44, 0x00, 0x00,
                                        static_cast<int>(data_.Imei.size())}))
                           .Append(data_.Imei)
                           .Append({"\0", 1})
                           .Take());
    }
    if (StartsWith(p, {0x00, 0x01, 0x00, 0x07, 0x00, 0x02})) {
      return One(0x1B, TReply(SimBytes({0x00, 0x01, 0x00, 0x08, 0x00, 0x01, 0x00, 0x00, 0x00,
                                        static_cast<int>(data_.HwVersion.size())}))
                           .Append(data_.HwVersion)
                           .Append({"\0", 1})
                           .Take());
    }
    return {};
  }
  if (type == 0x17 && StartsWith(p, {0x00, 0x01, 0x00, 0x0A, 0x02, 0x00})) {
    // [14] the scale, [15] the level on it.
    return One(0x17, TReply(SimBytes({0x00, 0x01, 0x00, 0x0B, 0x00, 0x01, 0x00, 0x00}))
                         .Put(14, 100)
                         .Put(15, std::clamp(data_.Battery, 0, 100))
                         .Put(16, 0)
                         .Take());
  }
  if (type != 0x19) return {};
  if (StartsWith(p, {0x00, 0x01, 0x00, 0x0A, 0x00, 0x00})) {
    const std::time_t t = PhoneTime(wallNow);
    const std::tm tm = LocalTime(t);
    const int year = tm.tm_year + 1900;
    return One(0x19, TReply(SimBytes({0x00, 0x01, 0x00, 0x0B, 0x00, 0x01, 0x01, 0x0C, 0x01, 0x03}))
                         .Put(16, year >> 8)
                         .Put(17, year)
                         .Put(18, tm.tm_mon + 1)
                         .Put(19, tm.tm_mday)
                         .Put(20, tm.tm_hour)
                         .Put(21, tm.tm_min)
                         .Put(22, tm.tm_sec)
                         .Put(23, 0)
                         .Take());
  }
  if (StartsWith(p, {0x00, 0x01, 0x00, 0x01, 0x00, 0x01, 0x01, 0x0C, 0x01, 0x03})) {
    // ... year (2), month, day, hour, minute, second, 00
    if (At(p, 22) >= 0 &&
        SetClock((At(p, 16) << 8) | At(p, 17), At(p, 18), At(p, 19), At(p, 20), At(p, 21), At(p, 22), wallNow))
      return One(0x19, SimBytes({0x00, 0x01, 0x00, 0x02, 0x00}));
    return {};
  }
  if (StartsWith(p, {0x00, 0x01, 0x00, 0x1F, 0x01, 0x00}))
    return One(0x19, TReply(SimBytes({0x00, 0x01, 0x00, 0x20})).Put(43, alarmOn_ ? 0x02 : 0x01).Put(44, 0).Take());
  if (StartsWith(p, {0x00, 0x01, 0x00, 0x19, 0x00, 0x02})) {
    return One(0x19,
               TReply(SimBytes({0x00, 0x01, 0x00, 0x1A})).Put(20, alarmHour_).Put(21, alarmMinute_).Put(22, 0).Take());
  }
  if (StartsWith(p, {0x00, 0x01, 0x00, 0x11, 0x00, 0x01, 0x01, 0x0C, 0x02, 0x01})) {
    // ... 00 00 00 00, hour, minute, 00 00 00
    const int hour = At(p, 20), minute = At(p, 21);
    if (hour < 0 || hour > 23 || minute < 0 || minute > 59) return {};
    alarmOn_ = true;
    alarmHour_ = hour;
    alarmMinute_ = minute;
    return One(0x19, SimBytes({0x00, 0x01, 0x00, 0x12, 0x00}));
  }
  return {};
}
