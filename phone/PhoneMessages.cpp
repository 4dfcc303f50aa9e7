#include "PhoneMessages.h"

#include "ByteReader.h"
#include "NokiaUtils.h"
#include "Timers.h"

#include <algorithm>
#include <initializer_list>

namespace {

std::string B(std::initializer_list<int> bytes) {
  std::string s;
  for (int b : bytes) s += static_cast<char>(b & 0xFF);
  return s;
}

TPhoneRequest R(const char* key, std::uint8_t type, std::string payload, int timeoutSec) {
  return TPhoneRequest{key, type, std::move(payload), timeoutSec};
}

std::string Year(int year) {
  return B({(year >> 8) & 0xFF, year & 0xFF});
}

// Bounds-checked view of a received frame.
class TFrameBytes {
 public:
  explicit TFrameBytes(std::string_view frame) : frame_(frame), reader_(frame) {}
  std::optional<int> At(std::size_t offset) const {
    if (!reader_.Fits(offset, 1)) return std::nullopt;
    return reader_.U8At(offset);
  }
  bool Is(std::size_t offset, int value) const {
    const auto b = At(offset);
    return b && *b == value;
  }
  std::optional<int> U16At(std::size_t offset) const {
    if (!reader_.Fits(offset, 2)) return std::nullopt;
    return reader_.U16BEAt(offset);
  }
  // Up to `count` bytes from `offset`, fewer at the frame's end.
  std::string Clamped(std::size_t offset, std::size_t count) const {
    if (offset >= frame_.size()) return {};
    ByteReader r(frame_);
    r.Seek(offset);
    return r.Bytes(std::min(count, r.Remaining()));
  }
  // Exactly `count` bytes from `offset`, or nothing.
  std::optional<std::string> Exact(std::size_t offset, std::size_t count) const {
    if (!reader_.Fits(offset, count)) return std::nullopt;
    return std::string(frame_.substr(offset, count));
  }
  std::string Tail(std::size_t offset) const { return Clamped(offset, frame_.size()); }

 private:
  std::string_view frame_;
  ByteReader reader_;
};

void Ok(TDecodedReply& d, const char* key) {
  d.outcomes.push_back({key, true});
}
void Failed(TDecodedReply& d, const char* key) {
  d.outcomes.push_back({key, false});
}

// The replies to clock and alarm requests shared by types 11 and 19.
void DecodeClockReply(TDecodedReply& d, const TFrameBytes& f) {
  const auto b9 = f.At(9);
  if (!b9) return;
  switch (*b9) {
    case 0x61:
      if (const auto b10 = f.At(10)) d.outcomes.push_back({"TIME_SET", *b10 == 0x01});
      break;
    case 0x63:
      Ok(d, "TIME_GET");
      break;
    case 0x6C:
      if (const auto b10 = f.At(10)) d.outcomes.push_back({"ALARM_SET", *b10 == 0x01});
      break;
    case 0x6E:
      Ok(d, "ALARM_GET");
      break;
    default:
      break;
  }
}

}  // namespace

// --- Requests ------------------------------------------------------------------------------------

TPhoneRequest SysGetRequest() {
  return R("SYS_GET", 0xD1, B({0x00, 0x01, 0x00, 0x03, 0x00}), 1);
}

TPhoneRequest DaRequest(std::string_view key) {
  return TPhoneRequest{std::string(key), 0xDA, B({0x00, 0x01, 0x00, 0x00}), 0};
}

TPhoneRequest Init5110Request() {
  return R("5110_INIT", 0x40, B({0x00, 0x01, 0x64, 0x01}), 0);
}

TPhoneRequest SmsInit7110Request() {
  return R("SMS_INIT7110", 0x02, B({0x00, 0x01, 0x00, 0x67, 0x1F}), 0);
}

TPhoneRequest SmsInitSmsRequest() {
  return R("SMS_INITSMS", 0x10, B({0x00, 0x01, 0x00, 0x10, 0x06, 0x01, 0x02, 0x0A, 0x14, 0x17, 0x39}), 0);
}

std::vector<TPhoneRequest> Family4PhonebookInit() {
  return {R("", 0x02, B({0x00, 0x01, 0x00, 0x1A, 0x00, 0x01}), 0),
          R("", 0x02, B({0x00, 0x01, 0x00, 0x1A, 0x01, 0x00}), 0)};
}

TPhoneRequest Deinit7110Request() {
  return R("7110_DEINIT", 0x10, B({0x00, 0x01, 0x00, 0x10, 0x00}), 0);
}

TPhoneRequest StatInfoRequest() {
  return R("STAT_INFO", 0x04, B({0x00, 0x01, 0x00, 0x01}), 1);
}

TPhoneRequest Bat7110Request() {
  return R("7110_BAT", 0x17, B({0x00, 0x01, 0x00, 0x02}), 1);
}

TPhoneRequest Sig7110Request() {
  return R("7110_SIG", 0x0A, B({0x00, 0x01, 0x00, 0x81}), 1);
}

TPhoneRequest Bat8310Request() {
  return R("8310_BAT", 0x17, B({0x00, 0x01, 0x00, 0x0A, 0x02, 0x00}), 1);
}

TPhoneRequest ImeiRequest(TIdentityRequest kind) {
  switch (kind) {
    case TIdentityRequest::ir5110:
      return R("5110_IMEI", 0x40, B({0x00, 0x01, 0x66}), 2);
    case TIdentityRequest::ir7110:
      return R("7110_IMEI", 0x1B, B({0x00, 0x01, 0x00, 0x01}), 1);
    case TIdentityRequest::ir8310:
      return R("8310_IMEI", 0x1B, B({0x00, 0x01, 0x00, 0x00, 0x41}), 2);
    case TIdentityRequest::ir6360:
      break;
  }
  return R("6360_IMEI", 0x1B, B({0x00, 0x01, 0x00, 0x00, 0x44}), 1);
}

TPhoneRequest Hw5110Request() {
  return R("5110_HW", 0x40, B({0x00, 0x01, 0xC8, 0x05}), 2);
}

TPhoneRequest Hw8310Request() {
  return R("8310_HW", 0x1B, B({0x00, 0x01, 0x00, 0x07, 0x00, 0x02}), 1);
}

std::optional<TPhoneRequest> TimeGetRequest(int family) {
  if (family == 1 || family == 2) return R("TIME_GET", 0x11, B({0x00, 0x01, 0x00, 0x62}), 1);
  if (family == 3) return R("TIME_GET", 0x19, B({0x00, 0x01, 0x00, 0x62}), 1);
  if (family == 4) return R("TIME_GET", 0x19, B({0x00, 0x01, 0x00, 0x0A, 0x00, 0x00}), 1);
  return std::nullopt;
}

std::optional<TPhoneRequest> TimeSetRequest(int family, const TPhoneDateTime& v) {
  if (family >= 1 && family <= 3) {
    std::string p =
        B({0x00, 0x01, 0x00, 0x60, 0x01, 0x01, 0x07}) + Year(v.year) + B({v.month, v.day, v.hour, v.minute, 0x00});
    return R("TIME_SET", family == 3 ? 0x19 : 0x11, std::move(p), 1);
  }
  if (family == 4) {
    std::string p = B({0x00, 0x01, 0x00, 0x01, 0x00, 0x01, 0x01, 0x0C, 0x01, 0x03}) + Year(v.year) +
                    B({v.month, v.day, v.hour, v.minute, v.second, 0x00});
    return R("TIME_SET", 0x19, std::move(p), 1);
  }
  return std::nullopt;
}

std::optional<TPhoneRequest> AlarmGetRequest(int family) {
  if (family == 1 || family == 2) return R("ALARM_GET", 0x11, B({0x00, 0x01, 0x00, 0x6D}), 1);
  if (family == 3) return R("ALARM_GET", 0x19, B({0x00, 0x01, 0x00, 0x6D}), 1);
  if (family == 4) return R("ALARM_GET", 0x19, B({0x00, 0x01, 0x00, 0x19, 0x00, 0x02}), 1);
  return std::nullopt;
}

TPhoneRequest AlarmStateGetRequest() {
  return R("ALARMSTATE_GET", 0x19, B({0x00, 0x01, 0x00, 0x1F, 0x01, 0x00}), 1);
}

std::optional<TPhoneRequest> AlarmSetRequest(int family, bool on, int hour, int minute) {
  if (family == 1 || family == 2) {
    return R("ALARM_SET", 0x11, B({0x00, 0x01, 0x00, 0x6B, 0x01, 0x20, 0x03, on ? 0x02 : 0x01, hour, minute, 0x00}), 1);
  }
  if (family == 3) {
    std::string p = B({0x00, 0x01, 0x00, 0x6B, 0x01, 0x32, 0x03});
    p += on ? B({0x02, hour, minute, 0x00}) : B({0x01, 0x00, 0x00, 0x00});
    return R("ALARM_SET", 0x19, std::move(p), 1);
  }
  if (family == 4) {
    return R("ALARM_SET", 0x19,
             B({0x00, 0x01, 0x00, 0x11, 0x00, 0x01, 0x01, 0x0C, 0x02, 0x01, 0x00, 0x00, 0x00, 0x00, hour, minute, 0x00,
                0x00, 0x00}),
             1);
  }
  return std::nullopt;
}

int RequestTries(std::uint8_t msgType) {
  return msgType == 0xD9 || msgType == 0xDB ? 1 : 3;
}

std::int32_t RequestDeadlineTicks(std::uint8_t msgType, int timeoutSec) {
  if (timeoutSec == 1 && msgType == 0x1B) return 25;
  if (timeoutSec > 0) return SecondsToTicks(timeoutSec);
  return 5;
}

// --- Decoding ------------------------------------------------------------------------------------------

std::optional<int> Battery8310Value(std::string_view frame, std::string_view productCode) {
  const int cls = ModelClassOf(productCode);
  if (cls != 4 && cls != 5) return 0;
  const TFrameBytes f(frame);
  const auto full = f.At(14);
  const auto reading = f.At(15);
  if (!full || !reading) return std::nullopt;
  if (*full >= *reading && *full != 0) return *reading * 100 / *full;
  return static_cast<int>(BatteryFactor(productCode) * *reading);
}

TDecodedReply DecodeReply(std::uint8_t msgType, std::string_view frame, const TReplyContext& context) {
  TDecodedReply d;
  const TFrameBytes f(frame);
  const auto b9 = f.At(9);
  switch (msgType) {
    case 0x02:
      if (f.Is(9, 0x0E)) Ok(d, "SMS_INITNEW");
      break;
    case 0x04:
      if (f.Is(9, 0x02)) Ok(d, "STAT_INFO");
      if (const auto b14 = f.At(14)) d.battery = *b14 * 25;
      if (const auto b11 = f.At(11)) d.signal = *b11 * 25;
      break;
    case 0x0A: {
      const auto b10 = f.At(10);
      if (!b9) break;
      if (*b9 == 0x13 && b10) {
        d.signal = UsesStandardImei(context.productCode) ? *b10 : std::min((*b10 + 3) * 2, 100);
      } else if (*b9 == 0x16 && b10) {
        if (context.modelNumber / 100 == 35) d.signal = *b10;
      } else if (*b9 == 0x1E && b10) {
        d.signal = *b10;
      } else if (*b9 == 0x82 && b10) {
        d.signal = *b10;
        Ok(d, "7110_SIG");
      } else if (*b9 == 0x83) {
        Failed(d, "7110_SIG");
      }
      break;
    }
    case 0x11:
      DecodeClockReply(d, f);
      break;
    case 0x17:
      if (f.Is(9, 0x03)) {
        if (const auto b11 = f.At(11)) {
          Ok(d, "7110_BAT");
          d.battery = *b11;
        }
      } else if (f.Is(9, 0x04)) {
        Failed(d, "7110_BAT");
      } else if (f.Is(9, 0x0B)) {
        if (const auto level = Battery8310Value(frame, context.productCode)) {
          Ok(d, "8310_BAT");
          d.battery = *level;
        }
      }
      break;
    case 0x19:
      if (!b9) break;
      switch (*b9) {
        case 0x02:
          Ok(d, "TIME_SET");
          break;
        case 0x0B:
          Ok(d, "TIME_GET");
          break;
        case 0x12:
          Ok(d, "ALARM_SET");
          break;
        case 0x1A:
          Ok(d, "ALARM_GET");
          break;
        case 0x20:
          Ok(d, "ALARMSTATE_GET");
          break;
        default:
          DecodeClockReply(d, f);
          break;
      }
      break;
    case 0x1B:
      if (!b9) break;
      if (*b9 == 0x01) {
        if (f.Is(12, 0x44)) Ok(d, "6360_IMEI");
        Ok(d, "8310_IMEI");
        d.rawIdentity = f.Tail(9);
      } else if (*b9 == 0x02) {
        Ok(d, "7110_IMEI");
        d.rawIdentity = f.Tail(3);
      } else if (*b9 == 0x08) {
        Ok(d, "8310_HW");
      } else if (*b9 == 0x16) {
        Ok(d, "GET_PNAME");
      }
      break;
    case 0x40:
      if (f.Is(8, 0x64)) Ok(d, "5110_INIT");
      if (f.Is(8, 0x7E)) Ok(d, "NET_MON");
      if (f.Is(9, 0x01)) {
        Ok(d, "5110_IMEI");
        d.rawIdentity = f.Tail(3);
      }
      if (f.Is(9, 0x05)) Ok(d, "5110_HW");
      break;
    case 0x61:
      Ok(d, "GET_CAMERA");
      break;
    case 0x64:
      Ok(d, "SYS_GET");
      break;
    case 0x7A:
      if (f.Is(9, 0xED)) Ok(d, "GET_SECCODE");
      break;
    case 0xD2:
      Ok(d, "SYS_GET");
      break;
    case 0xD7:
      if (f.Is(9, 0x0A)) Ok(d, "GET_BT");
      break;
    case 0xD9:
      if (f.Is(9, 0x60)) Ok(d, "APP3");
      if (f.Is(9, 0x61)) Ok(d, "APP2");
      break;
    case 0xDA:
      if (f.Is(9, 0x01)) Ok(d, "DA_CHECK");
      break;
    case 0xDB:
      Ok(d, "APP1");
      break;
    default:
      break;
  }
  return d;
}

// --- Reply fields ------------------------------------------------------------------------------------

TSysGetReply ParseSysGetReply(std::string_view frame) {
  TSysGetReply reply;
  const std::string text = TFrameBytes(frame).Tail(10);
  std::string* fields[] = {&reply.swVersion, &reply.date, &reply.productCode};
  std::size_t from = 0;
  for (int i = 0; i < 3 && from < text.size(); ++i) {
    const std::size_t end = text.find('\x0A', from);
    if (end == std::string::npos) {
      if (i < 2) *fields[i] = text.substr(from);  // the product code counts only when its line is ended
      break;
    }
    *fields[i] = text.substr(from, end - from);
    from = end + 1;
  }
  return reply;
}

std::string ImeiFromReply(TIdentityRequest kind, std::string_view frame) {
  const TFrameBytes f(frame);
  switch (kind) {
    case TIdentityRequest::ir5110:
      return f.Exact(10, 15).value_or("");
    case TIdentityRequest::ir7110: {
      const auto bytes = f.Exact(10, 15);
      if (!bytes) return {};
      std::string digits = bytes->substr(0, bytes->find_first_not_of("0123456789"));
      if (digits.size() == 11) digits += "0000";
      return digits;
    }
    case TIdentityRequest::ir8310:
      return f.Exact(16, 15).value_or("");
    case TIdentityRequest::ir6360:
      return f.Clamped(16, 11);
  }
  return {};
}

std::string HwVersionFromReply(bool family4, std::string_view frame) {
  return TFrameBytes(frame).Clamped(family4 ? 16 : 11, 4);
}

std::optional<TPhoneDateTime> DateTimeFromReply(int family, std::string_view frame) {
  const TFrameBytes f(frame);
  const std::size_t base = family == 4 ? 16 : 14;
  const auto year = f.U16At(base);
  const auto second = f.At(base + 6);
  if (!year || !second) return std::nullopt;
  return TPhoneDateTime{*year, *f.At(base + 2), *f.At(base + 3), *f.At(base + 4), *f.At(base + 5), *second};
}

std::optional<TAlarmReply> AlarmFromReply(std::string_view frame) {
  const TFrameBytes f(frame);
  const auto minute = f.At(16);
  if (!minute) return std::nullopt;
  return TAlarmReply{f.Is(14, 0x02), *f.At(15), *minute};
}

std::optional<bool> AlarmStateFromReply(std::string_view frame) {
  const auto b = TFrameBytes(frame).At(43);
  if (!b) return std::nullopt;
  return *b == 0x02;
}

std::optional<TAlarmReply> AlarmTimeFromReply4(std::string_view frame) {
  const TFrameBytes f(frame);
  const auto minute = f.At(21);
  if (!minute) return std::nullopt;
  return TAlarmReply{false, *f.At(20), *minute};
}
