#include "NokiaPhone.h"

#include "Debug.h"
#include "LinkFrames.h"
#include "NokiaUtils.h"
#include "PhoneFamilies.h"
#include "Scope.h"
#include "Swallow.h"
#include "SysUtils.h"
#include "Timers.h"

#include <cmath>
#include <stdexcept>

FW_BEGIN_CLASS(TNokiaPhone)
  FW_EVENT(Socket, Socket)
  FW_EVENT(InLogName, InLogName)
  FW_EVENT(OutLogName, OutLogName)
  FW_EVENT(ExpireDate, ExpireDate)
  FW_EVENT(OnChangePhone, OnChangePhone)
  FW_EVENT(OnMMSReceived, OnMMSReceived)
FW_END_CLASS

namespace {

const char* const kBusy = "BUSY";
const char* const kOk = "OK";
const char* const kFailed = "FAILED";
const char* const kNone = "NONE";

// Milliseconds left until a tick deadline expires (at least 1).
std::uint32_t MsUntilExpired(const TTickTimer& t) {
  const std::uint32_t end = static_cast<std::uint32_t>(t.Stop + 1) * 55u;
  const std::int32_t left = static_cast<std::int32_t>(end - CurrentMilliseconds());
  return left > 0 ? static_cast<std::uint32_t>(left) : 1u;
}

std::optional<int> ByteAt(const std::string& frame, std::size_t offset) {
  if (offset >= frame.size()) return std::nullopt;
  return static_cast<unsigned char>(frame[offset]);
}

}  // namespace

TDateTime PhoneEncodeDateTime(const TPhoneDateTime& v) {
  try {
    return EncodeDate(v.year, v.month, v.day) + EncodeTime(v.hour, v.minute, v.second, 0);
  } catch (const Exception&) {
    return 0;  // not a date
  }
}

TPhoneDateTime PhoneDecodeDateTime(TDateTime value) {
  TPhoneDateTime r;
  int msec = 0;
  DecodeDate(value, r.year, r.month, r.day);
  DecodeTime(value, r.hour, r.minute, r.second, msec);
  return r;
}

// --- Request table ---------------------------------------------------------------------------------

std::string TNokiaPhone::TRequestTable::State(const std::string& key) const {
  std::lock_guard<std::mutex> g(lock_);
  const auto it = states_.find(key);
  return it == states_.end() ? std::string() : it->second;
}

void TNokiaPhone::TRequestTable::SetState(const std::string& key, const std::string& state) {
  std::lock_guard<std::mutex> g(lock_);
  states_[key] = state;
}

std::string TNokiaPhone::TRequestTable::Result(const std::string& key) const {
  std::lock_guard<std::mutex> g(lock_);
  const auto it = results_.find(key);
  return it == results_.end() ? std::string() : it->second;
}

bool TNokiaPhone::TRequestTable::Begin(const std::string& key, bool force) {
  std::lock_guard<std::mutex> g(lock_);
  std::string& state = states_[key];
  if (!force && state == kBusy) return false;
  state = kBusy;
  return true;
}

void TNokiaPhone::TRequestTable::Answer(const std::string& key, bool ok, const std::string& frame) {
  std::lock_guard<std::mutex> g(lock_);
  states_[key] = ok ? kOk : kFailed;
  results_[key] = ok ? frame : std::string();
}

// --- Construction ------------------------------------------------------------------------------------

TNokiaPhone::TNokiaPhone(TComponent* owner) : TNokiaPhone(owner, GetPhonePlatform()) {}

TNokiaPhone::TNokiaPhone(TComponent* owner, TPhonePlatform& platform)
    : TBasicPhoneData(owner),
      platform_(platform),
      wait_(platform.CreateWait()),
      timer_(platform.CreateTimer(kKeepAliveIntervalMs, TNotifyEvent::Bind<&TNokiaPhone::KeepAlive>(this))) {
  if (!wait_) wait_ = std::make_unique<TEventPhoneWait>();
  if (!timer_) timer_ = std::make_unique<TInertPhoneTimer>(kKeepAliveIntervalMs);
  timer_->SetEnabled(false);
}

void TNokiaPhone::Destroy() {
  try {
    timer_->SetEnabled(false);
  } catch (...) {
    SwallowException("TNokiaPhone.Destroy: stopping the keep-alive timer");
  }
  try {
    Disconnect();
  } catch (...) {
    SwallowException("TNokiaPhone.Destroy: disconnecting");
  }
  try {
    timer_.reset();
  } catch (...) {
    SwallowException("TNokiaPhone.Destroy: freeing the keep-alive timer");
  }
  inherited::Destroy();
}

// --- Link ----------------------------------------------------------------------------------------------

std::shared_ptr<TPhoneLink> TNokiaPhone::Link() const {
  std::lock_guard<std::mutex> g(linkLock_);
  return link_;
}

std::shared_ptr<TPhoneLink> TNokiaPhone::TakeLink() {
  std::lock_guard<std::mutex> g(linkLock_);
  return std::move(link_);
}

bool TNokiaPhone::HasLink() const {
  std::lock_guard<std::mutex> g(linkLock_);
  return link_ != nullptr;
}

std::string TNokiaPhone::RequestState(const std::string& key) const {
  return requests_.State(key);
}

std::string TNokiaPhone::RequestResult(const std::string& key) const {
  return requests_.Result(key);
}

// --- Request engine ------------------------------------------------------------------------------------
//
// Tries: 1 for types D9 and DB, 3 for the others. Each try sends the message
// (refused while the same key is BUSY or a frame is being written, unless a
// reconnect probe runs), then waits until the dispatcher answers the key or the
// deadline passes. A time-out counts; three in a row (any keys but "SYS_GET",
// which is tried once per call and does not clear the count) disconnect the
// phone unless it still answered the reconnect probe, a forced model read;
// an answered request clears the count.
// A request that timed out or failed stays so: a frame still being assembled
// on the link is not an answer.

bool TNokiaPhone::Request(const TPhoneRequest& request, std::string& reply) {
  return Request(request.msgType, request.payload, false, reply, request.timeoutSec, request.key);
}

bool TNokiaPhone::Request(std::uint8_t msgType, const std::string& payload, bool noRetry, std::string& reply,
                          int timeoutSec, const std::string& key) {
  if (!IsActive()) return false;
  const int tries = RequestTries(msgType);
  bool result = false;
  for (int attempt = 0; attempt < tries; ++attempt) {
    // The busy flag is cleared when a try ends, whatever happens.
    TScopeExit clearBusy([this] { busy_.store(false); });
    try {
      result = false;
      const std::shared_ptr<TPhoneLink> link = Link();
      const bool probing = reconnecting_.load();
      const bool permitted = probing || (IsActive() && link && !link->Sending());
      if (!permitted || !requests_.Begin(key, probing)) {
        reply.clear();
        return false;
      }
      busy_.store(true);
      try {
        if (!link) throw std::runtime_error("no link");
        link->SendPhoneMessage(msgType, payload);
      } catch (...) {
        GiveUp();
        return false;
      }
      if (msgType == 0xF0) {
        requests_.SetState(key, kNone);
        return true;
      }

      TTickTimer deadline;
      StartTickTimer(deadline, RequestDeadlineTicks(msgType, timeoutSec));
      // Also ends when the phone is disconnected meanwhile (by the other thread).
      const auto answered = [&] { return requests_.State(key) != kBusy || TickTimerExpired(deadline) || !IsActive(); };
      while (!answered()) wait_->WaitUntil(answered, MsUntilExpired(deadline));

      std::string state = requests_.State(key);
      if (state != kOk && state != kFailed && timeoutSec != 0 && !noRetry) {
        if (disconnecting_.load()) {
          requests_.SetState(key, kNone);
          return false;
        }
        reply.clear();
        requests_.SetState(key, kNone);
        const int count = timeouts_.fetch_add(1) + 1;
        if (count >= 3 || tries == 1) {
          timeouts_.store(0);
          if (reconnectOk_.load() || tries == 1) return false;
          GiveUp();
          return false;
        }
        reconnecting_.store(true);
        reconnectOk_.store(false);
        try {
          if (link) link->ClearReceived();
        } catch (...) {
          SwallowException("TNokiaPhone.Request: clearing the link's received bytes before the probe");
        }
        if (msgType != 0xD1) {
          try {
            if (!ReadModel(true).empty()) reconnectOk_.store(true);
          } catch (...) {
            SwallowException("TNokiaPhone.Request: reading the model as the reconnect probe");
          }
        }
        reconnecting_.store(false);
        busy_.store(false);
      } else if (key != "SYS_GET" && (state == kOk || state == kFailed)) {
        // Only an answer breaks a run of time-outs: a message sent without
        // waiting proves nothing about a silent phone.
        timeouts_.store(0);
      }

      state = requests_.State(key);
      if (state == kOk) {
        result = true;
        reply = requests_.Result(key);
      } else if (state == kFailed) {
        reply.clear();
      }
      if (timeoutSec == 0) result = true;
      requests_.SetState(key, kNone);
      if (timeouts_.load() == 0 || key == "SYS_GET") return result;
    } catch (...) {
      // the next try follows
      SwallowException("TNokiaPhone.Request: a failed try (the next one follows)");
    }
  }
  return result;
}

// --- Dispatcher ------------------------------------------------------------------------------------------

int TNokiaPhone::ModelNumberOf(const std::string& code) const {
  if (code.empty()) return 0;
  return ParseModelNumber(ModelNameFromCode(code, ModelNumberHint));
}

void TNokiaPhone::DispatchFrame(std::uint8_t msgType, const std::string& frame) {
  try {
    const std::string code = ProductCode();
    const TDecodedReply d = DecodeReply(msgType, frame, TReplyContext{code, ModelNumberOf(code)});
    if (d.rawIdentity) SetRawIdentity(*d.rawIdentity);
    for (const TKeyOutcome& o : d.outcomes) requests_.Answer(o.key, o.ok, frame);
    if (!d.outcomes.empty()) wait_->Signal();
    if (d.battery) ChangeBattery(*d.battery, true);
    if (d.signal) ChangeSignal(*d.signal, true);
  } catch (...) {
    // a handler of the link: nothing escapes
    SwallowException("TNokiaPhone.DispatchFrame: decoding a frame from the link");
  }
}

// --- Connect and disconnect ------------------------------------------------------------------------------

void TNokiaPhone::Delay(std::uint32_t ms) {
  wait_->WaitUntil([] { return false; }, ms);
}

bool TNokiaPhone::Connect(bool syncClock) {
  timeouts_.store(0);
  if (!ConnectPrerequisitesMet(LinkMethod, Socket, comPort_.load())) return false;
  // A new connection starts clear of the last one's disconnect: a flag left set
  // would cut every time-out short and keep the keep-alive off.
  disconnecting_.store(false);
  connecting_.store(true);
  failureCode_.store(0);

  TPhoneLinkParams params;
  params.linkMethod = LinkMethod;
  params.inLogName = InLogName;
  params.outLogName = OutLogName;
  params.socket = Socket;
  params.comPort = comPort_.load();
  params.onFrame = TPhoneFrameEvent::Bind<&TNokiaPhone::DispatchFrame>(this);
  params.onLinkClosed = TPhoneLinkClosedEvent::Bind<&TNokiaPhone::LinkClosed>(this);
  std::uint16_t code = 0;
  std::unique_ptr<TPhoneLink> made;
  try {
    made = platform_.CreateLink(params, code);
  } catch (...) {
    if (code == 0) code = 20;
  }
  if (DebugEngine) DebugEngine->LogEvent("Created with code " + std::to_string(code), 0, code);
  if (made) {
    TPhoneLink* raw = made.release();
    // The link is released on the main thread, where its handlers run.
    std::shared_ptr<TPhoneLink> link(raw, [](TPhoneLink* l) {
      try {
        CallOnMainThread([l] { delete l; });
      } catch (...) {
        SwallowException("TNokiaPhone.Connect: releasing the link on the main thread");
      }
    });
    std::lock_guard<std::mutex> g(linkLock_);
    link_ = std::move(link);
    reportable_.store(true);
  } else if (code == 0) {
    code = 20;
  }

  bool result = false;
  const auto finish = [&] {
    try {
      if (syncClock) SetDateTime(Now());
    } catch (...) {
      SwallowException("TNokiaPhone.Connect: setting the phone's clock");
    }
    timer_->SetEnabled(true);
  };
  if (LinkMethod == kLinkInfrared) {
    SetProductCode("");
    if (code == 0 && !GetModel().empty() && HasLink()) {
      result = true;
      InitFamily();
      connected_.store(true);
      finish();
    } else {
      Disconnect();
      if (code != 0) failureCode_.store(static_cast<std::uint8_t>(code & 0xFF));
    }
  } else {
    if (code == 0) {
      SetProductCode("");
      std::string model = GetModel();
      if (model.empty()) model = GetModel();
      if (!model.empty()) {
        Delay(20);
        InitFamily();
        Delay(30);
        if (GetIMEI().empty()) code = 13;
      } else {
        code = 13;
      }
      // Disconnected meanwhile (by the other thread or after three time-outs).
      if (code == 0 && !HasLink()) code = 13;
    }
    if (code != 0) {
      Disconnect();
      failureCode_.store(static_cast<std::uint8_t>(code & 0xFF));
    } else {
      result = true;
      connected_.store(true);
      timer_->SetInterval(static_cast<std::uint32_t>(KeepAliveIntervalMs(GetModelNumber(), GetModel(), LinkMethod)));
      finish();
    }
  }
  connecting_.store(false);
  return result;
}

void TNokiaPhone::Disconnect() {
  reportable_.store(false);
  if (connected_.load() && !disconnecting_.exchange(true)) {
    try {
      DeinitFamily();
    } catch (...) {
      SwallowException("TNokiaPhone.Disconnect: closing the family's session");
    }
  }
  connected_.store(false);
  connecting_.store(false);
  try {
    wait_->Signal();  // a request waiting on another thread gives up at once
  } catch (...) {
    SwallowException("TNokiaPhone.Disconnect: waking a waiting request");
  }
  try {
    std::shared_ptr<TPhoneLink> link = TakeLink();
    link.reset();
  } catch (...) {
    SwallowException("TNokiaPhone.Disconnect: releasing the link");
  }
}

void TNokiaPhone::GiveUp() {
  // Only the call that ends the connection reports it.
  const bool report = reportable_.exchange(false);
  Disconnect();
  ChangeBattery(0, false);
  ChangeSignal(0, false);
  if (report) FireDisconnect();
}

void TNokiaPhone::FireDisconnect() {
  try {
    CallOnMainThread([this] {
      if (OnDisconnect) OnDisconnect(this);
    });
  } catch (...) {
    SwallowException("TNokiaPhone.FireDisconnect: calling OnDisconnect on the main thread");
  }
}

void TNokiaPhone::LinkClosed() {
  try {
    if (!connected_.load()) return;
    GiveUp();
  } catch (...) {
    SwallowException("TNokiaPhone.LinkClosed: giving the phone up");
  }
}

void TNokiaPhone::InitFamily() {
  std::string reply;
  for (const TPhoneRequest& r : InitFamilyRequests(Family())) Request(r, reply);
}

void TNokiaPhone::DeinitFamily() {
  timer_->SetEnabled(false);
  std::string reply;
  for (const TPhoneRequest& r : DeinitFamilyRequests(familyCache_.load())) Request(r, reply);
}

// --- Keep-alive and status ---------------------------------------------------------------------------------

void TNokiaPhone::KeepAlive(TObject*) {
  try {
    const std::shared_ptr<TPhoneLink> link = Link();
    if (!IsActive() || disconnecting_.load() || busy_.load() || !link || link->Sending() || State() != 0) return;
    timer_->SetEnabled(false);
    std::string reply;
    if (NeedsDaCheck(ProductCode())) Request(DaRequest("DA_CHECK"), reply);
    if (!GetIMEI().empty()) UpdateStatus();
    if (!disconnecting_.load()) timer_->SetEnabled(true);
  } catch (...) {
    // a timer handler: nothing escapes
    SwallowException("TNokiaPhone.KeepAlive: keep-alive and status tick");
  }
}

void TNokiaPhone::StoreLevel(const std::string& key, const std::string& reply) {
  if (key == "7110_BAT") {
    if (const auto b = ByteAt(reply, 11)) ChangeBattery(*b, false);
  } else if (key == "7110_SIG") {
    if (const auto b = ByteAt(reply, 10)) ChangeSignal(*b, false);
  } else if (key == "8310_BAT") {
    if (const auto level = Battery8310Value(reply, ProductCode())) ChangeBattery(*level, false);
  }
}

void TNokiaPhone::UpdateStatus() {
  if (!IsActive()) return;
  for (const TPhoneRequest& r : StatusRequests(Family(), GetModelNumber())) {
    std::string reply;
    if (Request(r, reply)) StoreLevel(r.key, reply);
  }
}

// --- Identity -------------------------------------------------------------------------------------------------

int TNokiaPhone::Family() {
  const int cached = familyCache_.load();
  if (cached > 0) return cached;
  const int family = PhoneFamily(cached, GetModelNumber(), ProductCode());
  familyCache_.store(family);
  return family;
}

std::string TNokiaPhone::ReadModel(bool force) {
  std::string code = ProductCode();
  if (!((code.empty() || force) && IsActive())) return code;
  std::string reply;
  if (const auto pre = PreModelReadRequest(LinkMethod)) Request(*pre, reply);
  std::string read;
  if (Request(SysGetRequest(), reply)) {
    const TSysGetReply sys = ParseSysGetReply(reply);
    SetSwVersion(sys.swVersion);
    read = NormalizeProductCode(sys.productCode);
    if (!read.empty()) SetProductCode(read);
  }
  // A forced read gives only what the phone answered now.
  return force ? read : ProductCode();
}

std::string TNokiaPhone::GetModel() {
  return ReadModel(false);
}

std::string TNokiaPhone::GetSWVersion() {
  return SwVersion();
}

int TNokiaPhone::GetModelNumber() {
  return ModelNumberOf(GetModel());
}

std::string TNokiaPhone::GetIMEI() {
  if (!IsActive()) return {};
  const std::string code = GetModel();
  const auto kind = IdentityRequestFor(code, Family(), GetModelNumber());
  if (!kind) return {};
  std::string reply;
  if (!Request(ImeiRequest(*kind), reply)) return {};
  const std::string imei = ImeiFromReply(*kind, reply);
  if (imei.empty()) return imei;
  const std::string last = LastImei();
  if (imei != last && !last.empty() && OnChangePhone) OnChangePhone(this, last, imei);
  SetLastImei(imei);
  return imei;
}

std::string TNokiaPhone::GetHWVersion() {
  if (!IsActive()) return {};
  const int family = Family();
  std::string reply;
  std::string version;
  for (const TPhoneRequest& r : HwVersionRequests(family)) {
    const bool ok = Request(r, reply);
    if (r.timeoutSec != 0 && ok) version = HwVersionFromReply(family == 4, reply);
  }
  return version;
}

int TNokiaPhone::GetPort() {
  return comPort_.load();
}

void TNokiaPhone::SetPort(int comPort) {
  comPort_.store(comPort);
}

// --- Clock and alarm -----------------------------------------------------------------------------------------

TDateTime TNokiaPhone::GetDateTime() {
  try {
    if (!IsActive() || !CanReadClock(GetModelNumber())) return 0;
    const int family = Family();
    const auto request = TimeGetRequest(family);
    if (!request) return 0;
    std::string reply;
    if (!Request(*request, reply)) return 0;
    const auto value = DateTimeFromReply(family, reply);
    return value ? PhoneEncodeDateTime(*value) : 0;
  } catch (...) {
    return 0;
  }
}

void TNokiaPhone::SetDateTime(TDateTime value) {
  if (!IsActive() || !CanSetClock(GetModelNumber())) return;
  const auto request = TimeSetRequest(Family(), PhoneDecodeDateTime(value));
  if (!request) return;
  std::string reply;
  if (!Request(*request, reply)) throw Exception("");
}

TDateTime TNokiaPhone::GetAlarm() {
  try {
    if (!IsActive() || !CanReadAlarm(GetModelNumber())) return 0;
    const int family = Family();
    const TDateTime today = std::floor(Now());
    std::string reply;
    if (family >= 1 && family <= 3) {
      if (!Request(*AlarmGetRequest(family), reply)) return 0;
      const auto alarm = AlarmFromReply(reply);
      if (!alarm) return 0;
      alarmOn_.store(alarm->on);
      return today + (alarm->hour * 60.0 + alarm->minute) / 1440.0;
    }
    if (family == 4) {
      if (Request(AlarmStateGetRequest(), reply)) {
        if (const auto on = AlarmStateFromReply(reply)) alarmOn_.store(*on);
      }
      if (!Request(*AlarmGetRequest(family), reply)) return 0;
      const auto alarm = AlarmTimeFromReply4(reply);
      if (!alarm) return 0;
      return today + (alarm->hour * 60.0 + alarm->minute) / 1440.0;
    }
    return 0;
  } catch (...) {
    return 0;
  }
}

void TNokiaPhone::SetAlarm(TDateTime value) {
  try {
    if (!IsActive() || !CanSetAlarm(GetModelNumber())) return;
    const int family = Family();
    const TPhoneDateTime t = PhoneDecodeDateTime(value);
    const auto request = AlarmSetRequest(family, alarmOn_.load(), t.hour, t.minute);
    if (!request) return;
    std::string reply;
    Request(*request, reply);
    if (family == 1 || family == 2 || family == 4) alarmOn_.store(true);
  } catch (...) {
    SwallowException("TNokiaPhone.SetAlarm: setting the alarm");
  }
}
