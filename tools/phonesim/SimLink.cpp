#include "SimLink.h"

#include <algorithm>
#include <cctype>

#include "ByteReader.h"
#include "SimFrames.h"

namespace {
std::string Lower(std::string_view s) {
  std::string out(s);
  for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

// AT line text for the log: printable characters as they are, others as \xNN.
std::string Printable(std::string_view s) {
  static const char kDigits[] = "0123456789ABCDEF";
  std::string out;
  for (char c : s) {
    const auto u = static_cast<unsigned char>(c);
    if (u >= 0x20 && u < 0x7F && c != '\\') {
      out += c;
    } else {
      out += "\\x";
      out += kDigits[u >> 4];
      out += kDigits[u & 15];
    }
  }
  return out;
}

const char kAtOk[] = "\r\nOK\r\n";
// Longest message joined from blocks; a longer run of blocks starts over.
constexpr std::size_t kMaxMessage = 64 * 1024;
const char kAtError[] = "\r\nERROR\r\n";
}  // namespace

bool SimParseLinkKind(std::string_view name, TSimLinkKind& kind) {
  const std::string n = Lower(name);
  if (n == "auto") {
    kind = TSimLinkKind::lkAuto;
  } else if (n == "fbus" || n == "dau9p" || n == "dau-9p") {
    kind = TSimLinkKind::lkFbus;
  } else if (n == "at" || n == "dlr3" || n == "dlr-3" || n == "dku5" || n == "dku-5") {
    kind = TSimLinkKind::lkAtSwitch;
  } else if (n == "phonet" || n == "bt" || n == "bluetooth") {
    kind = TSimLinkKind::lkPhonet;
  } else {
    return false;
  }
  return true;
}

TSimLink::TSimLink(TSimPersona& persona, TSimLinkOptions options, TLogFn log)
    : persona_(persona), opt_(std::move(options)), log_(std::move(log)) {
  Reset();
}

void TSimLink::Reset() {
  cutter_.Reset();
  out_.clear();
  partial_.clear();
  partialType_ = -1;
  phonetSetup_ = false;
  pushed_ = false;
  seq_ = static_cast<std::uint8_t>(opt_.SeqStart & 7);
  switch (opt_.Kind) {
    case TSimLinkKind::lkAuto:
      state_ = TState::stOpen;
      break;
    case TSimLinkKind::lkFbus:
      state_ = TState::stFbus;
      break;
    case TSimLinkKind::lkAtSwitch:
      state_ = TState::stCommand;
      break;
    case TSimLinkKind::lkPhonet:
      state_ = TState::stPhonet;
      break;
  }
  ConfigureCutter();
}

void TSimLink::ConfigureCutter() {
  cutter_.AcceptAtLines(state_ == TState::stOpen || state_ == TState::stCommand);
  cutter_.AcceptFbus(state_ == TState::stOpen || state_ == TState::stFbus);
  cutter_.AcceptPhonet(state_ == TState::stOpen || state_ == TState::stPhonet, opt_.PhonetMedia);
}

void TSimLink::Receive(std::string_view bytes, std::int64_t nowMs, std::time_t wallNow) {
  cutter_.Add(bytes);
  TSimEvent e;
  while (cutter_.Next(e)) {
    const TState before = state_;
    Handle(e, nowMs, wallNow);
    // A switch (AT to FBUS, or the first frame in auto mode) applies to the
    // bytes after the event that caused it.
    if (state_ != before) ConfigureCutter();
  }
}

void TSimLink::Idle(std::int64_t nowMs, std::time_t wallNow) {
  for (const TSimEvent& e : cutter_.Flush()) {
    const TState before = state_;
    Handle(e, nowMs, wallNow);
    if (state_ != before) ConfigureCutter();
  }
}

void TSimLink::Handle(const TSimEvent& e, std::int64_t nowMs, std::time_t wallNow) {
  switch (e.Kind) {
    case TSimEventKind::seSkipped:
      log_("SKIP " + SimHexRuns(e.Bytes));
      break;
    case TSimEventKind::seBadFrame:
      ++badFrames_;
      log_("BAD " + SimHex(e.Bytes));
      break;
    case TSimEventKind::seAtLine:
      log_("AT " + Printable(e.Bytes));
      HandleAtLine(e.Bytes, nowMs);
      break;
    case TSimEventKind::seFrame:
      ++framesReceived_;
      log_(SimHex(e.Bytes));
      if (static_cast<std::uint8_t>(e.Bytes[0]) == kSimFbusStart)
        HandleFbus(e.Bytes, nowMs, wallNow);
      else
        HandlePhonet(e.Bytes, nowMs, wallNow);
      break;
  }
}

void TSimLink::HandleAtLine(const std::string& line, std::int64_t nowMs) {
  const std::string cmd = Lower(line);
  if (cmd == "at*nokiafbus") {
    Queue(nowMs, kAtOk, "AT OK");
    state_ = TState::stFbus;
    return;
  }
  static const char* const kAccepted[] = {"at", "at&f", "atz", "ate0", "ate1", "atq0", "atv1", "at&c1", "at&d2"};
  const bool ok = std::find(std::begin(kAccepted), std::end(kAccepted), cmd) != std::end(kAccepted);
  Queue(nowMs, ok ? kAtOk : kAtError, ok ? "AT OK" : "AT ERROR");
}

std::string TSimLink::FbusFrame(std::uint8_t type, std::string_view block) {
  std::string f = SimBuildFbusFrame(kSimHostAddr, kSimPhoneAddr, type, block);
  ++fbusSent_;
  if (opt_.Corrupt || (opt_.CorruptEvery > 0 && fbusSent_ % opt_.CorruptEvery == 0)) f[f.size() - 2] ^= 0xFF;
  return f;
}

void TSimLink::HandleFbus(const std::string& frame, std::int64_t nowMs, std::time_t wallNow) {
  state_ = TState::stFbus;
  ByteReader r(frame);
  const std::uint8_t type = r.U8At(3);
  const std::size_t len = r.U16BEAt(4);
  if (type == kSimTypeAck || len < 2) return;  // acknowledgements (and blocks without sequence) are not answered
  const std::uint8_t left = r.U8At(6 + len - 2);
  const std::uint8_t seq = r.U8At(6 + len - 1);
  if (!opt_.NoAcks) {
    Queue(nowMs, FbusFrame(kSimTypeAck, SimBytes({type, seq & 0x0F})), "ack");
  }
  const std::string_view chunk = std::string_view(frame).substr(6, len - 2);
  if (partialType_ != type || partial_.size() + chunk.size() > kMaxMessage) partial_.clear();
  partial_.append(chunk);
  if (left > 1) {
    partialType_ = type;
    return;
  }
  const std::string payload = std::move(partial_);
  partial_.clear();
  partialType_ = -1;
  Answer(true, type, payload, nowMs, wallNow);
}

void TSimLink::HandlePhonet(const std::string& frame, std::int64_t nowMs, std::time_t wallNow) {
  state_ = TState::stPhonet;
  const std::uint8_t type = static_cast<std::uint8_t>(frame[3]);
  const std::string_view payload = std::string_view(frame).substr(6);
  if (type == kSimTypePhonetSetup) {
    phonetSetup_ = true;
    if (!opt_.Mute)
      Queue(nowMs, SimBuildPhonetFrame(opt_.PhonetMedia, kSimHostAddr, kSimPhoneAddr, kSimTypePhonetSetup, "\x05"),
            "set-up reply");
    return;
  }
  // A Bluetooth link answers nothing before the set-up frame; infrared and
  // DKU-2 links have none.
  if (opt_.Kind == TSimLinkKind::lkPhonet && opt_.PhonetMedia == kSimMediaBluetooth && !phonetSetup_) return;
  Answer(false, type, payload, nowMs, wallNow);
}

void TSimLink::Answer(bool fbus, std::uint8_t type, std::string_view payload, std::int64_t nowMs, std::time_t wallNow) {
  if (opt_.Mute || opt_.Ignore.count(type)) return;
  std::vector<TSimMessage> replies = persona_.Answer(type, payload, nowMs, wallNow);
  if (replies.empty()) return;
  if (opt_.MuteAfter >= 0 && answered_ >= opt_.MuteAfter) {
    opt_.Mute = true;
    return;
  }
  ++answered_;
  const std::int64_t due = nowMs + std::max(0, opt_.ReplyDelayMs);
  for (const TSimMessage& m : replies) QueueMessage(fbus, m, due, "reply");
  if (!pushed_) {
    pushed_ = true;
    for (const TSimPush& p : opt_.Push) QueueMessage(fbus, TSimMessage{p.Type, p.Payload}, due + p.DelayMs, "push");
  }
}

void TSimLink::QueueMessage(bool fbus, const TSimMessage& m, std::int64_t dueMs, const char* what) {
  if (fbus) {
    for (const std::string& block : SimSplitFbusBlocks(m.Payload, seq_)) Queue(dueMs, FbusFrame(m.Type, block), what);
  } else {
    Queue(dueMs, SimBuildPhonetFrame(opt_.PhonetMedia, kSimHostAddr, kSimPhoneAddr, m.Type, m.Payload), what);
  }
}

void TSimLink::Queue(std::int64_t dueMs, std::string bytes, std::string what) {
  if (opt_.Mute) return;
  // Keep the order of the wire: nothing overtakes what was queued before it.
  if (!out_.empty()) dueMs = std::max(dueMs, out_.back().DueMs);
  out_.push_back({dueMs, std::move(bytes), std::move(what)});
}

std::vector<TSimOutput> TSimLink::TakeDue(std::int64_t nowMs) {
  std::vector<TSimOutput> due;
  while (!out_.empty() && out_.front().DueMs <= nowMs) {
    due.push_back(std::move(out_.front()));
    out_.pop_front();
  }
  return due;
}
