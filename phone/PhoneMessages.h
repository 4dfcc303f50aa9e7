// The phone messages of the Nokia phones: the requests the phone object sends
// (key, message type, payload, wait), the decoding of every received frame into
// request outcomes and level changes, and the reply fields the requesting
// operations read. Received frames come from the phone: every offset is checked,
// a row whose byte lies beyond the frame does not match, field copies stop at the
// frame's end.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// One request: its key in the request lists, message type, payload and wait in
// seconds (0: sent without waiting for an answer).
struct TPhoneRequest {
  std::string key;
  std::uint8_t msgType = 0;
  std::string payload;
  int timeoutSec = 0;

  bool operator==(const TPhoneRequest&) const = default;
};

// Date and time fields as the phone carries them.
struct TPhoneDateTime {
  int year = 0;
  int month = 0;
  int day = 0;
  int hour = 0;
  int minute = 0;
  int second = 0;

  bool operator==(const TPhoneDateTime&) const = default;
};

// The identity requests.
enum class TIdentityRequest { ir5110, ir7110, ir8310, ir6360 };

// --- Requests ------------------------------------------------------------------------------------

TPhoneRequest SysGetRequest();                      // "SYS_GET": model, software version, date
TPhoneRequest DaRequest(std::string_view key);      // type DA with the empty key or "DA_CHECK"
TPhoneRequest Init5110Request();                    // "5110_INIT"
TPhoneRequest SmsInit7110Request();                 // "SMS_INIT7110"
TPhoneRequest SmsInitSmsRequest();                  // "SMS_INITSMS"
std::vector<TPhoneRequest> Family4PhonebookInit();  // the two type-02 messages of family 4
TPhoneRequest Deinit7110Request();                  // "7110_DEINIT"
TPhoneRequest StatInfoRequest();                    // "STAT_INFO"
TPhoneRequest Bat7110Request();                     // "7110_BAT"
TPhoneRequest Sig7110Request();                     // "7110_SIG"
TPhoneRequest Bat8310Request();                     // "8310_BAT"
TPhoneRequest ImeiRequest(TIdentityRequest kind);   // "5110_IMEI", "7110_IMEI", "8310_IMEI", "6360_IMEI"
TPhoneRequest Hw5110Request();                      // "5110_HW"
TPhoneRequest Hw8310Request();                      // "8310_HW"
// Clock and alarm requests of a family 1 to 4; nothing for other families.
std::optional<TPhoneRequest> TimeGetRequest(int family);
std::optional<TPhoneRequest> TimeSetRequest(int family, const TPhoneDateTime& value);
std::optional<TPhoneRequest> AlarmGetRequest(int family);
TPhoneRequest AlarmStateGetRequest();  // family 4 only
std::optional<TPhoneRequest> AlarmSetRequest(int family, bool on, int hour, int minute);

// Tries of one request: 1 for message types D9 and DB, 3 for the others.
int RequestTries(std::uint8_t msgType);
// Ticks a request waits for its answer: 25 for type 1B with 1 s, the seconds in
// ticks otherwise, 5 for requests sent without waiting.
std::int32_t RequestDeadlineTicks(std::uint8_t msgType, int timeoutSec);

// --- Decoding received frames ----------------------------------------------------------------------

// What the phone knows when it decodes a frame.
struct TReplyContext {
  std::string productCode;
  int modelNumber = 0;
};

// A request key answered: "OK" (the frame becomes the key's result) or "FAILED".
struct TKeyOutcome {
  std::string key;
  bool ok = false;

  bool operator==(const TKeyOutcome&) const = default;
};

struct TDecodedReply {
  std::vector<TKeyOutcome> outcomes;
  std::optional<int> battery;
  std::optional<int> signal;
  std::optional<std::string> rawIdentity;  // the tail of an identity reply
};

// Decodes one received frame of `msgType` (offsets count from the frame's first byte).
TDecodedReply DecodeReply(std::uint8_t msgType, std::string_view frame, const TReplyContext& context);

// The battery level of an "8310_BAT" reply ([14] full scale, [15] reading).
std::optional<int> Battery8310Value(std::string_view frame, std::string_view productCode);

// --- Reply fields ------------------------------------------------------------------------------------

// The "SYS_GET" reply from offset 10: software version, date and product code,
// lines ended by 0A. The product code is empty unless its line is ended.
struct TSysGetReply {
  std::string swVersion;
  std::string date;
  std::string productCode;
};
TSysGetReply ParseSysGetReply(std::string_view frame);

// The IMEI (or ESN) in an identity reply; empty when the reply is too short.
std::string ImeiFromReply(TIdentityRequest kind, std::string_view frame);
// The hardware version of a "5110_HW" (family4 false) or "8310_HW" reply.
std::string HwVersionFromReply(bool family4, std::string_view frame);
// The clock of a "TIME_GET" reply; nothing when the frame is too short.
std::optional<TPhoneDateTime> DateTimeFromReply(int family, std::string_view frame);

struct TAlarmReply {
  bool on = false;
  int hour = 0;
  int minute = 0;
};
// "ALARM_GET" of families 1 to 3: on/off, hour and minute.
std::optional<TAlarmReply> AlarmFromReply(std::string_view frame);
// Family 4: "ALARMSTATE_GET" gives on/off, "ALARM_GET" the time.
std::optional<bool> AlarmStateFromReply(std::string_view frame);
std::optional<TAlarmReply> AlarmTimeFromReply4(std::string_view frame);
