// One link session of the simulated phone, independent of the transport:
// cuts the host's bytes into frames and AT lines, answers the AT switch,
// acknowledges FBUS frames, reassembles multi-block messages, asks the
// persona for replies and frames them (FBUS with the phone's own sequence
// counter, or PhoNet), with the fault modes tests ask for (mute, no
// acknowledgements, corrupted checksums, reply delay, ignored types).
#pragma once

#include <cstdint>
#include <ctime>
#include <deque>
#include <functional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "SimCutter.h"
#include "SimPersona.h"

enum class TSimLinkKind {
  lkAuto,      // whatever the host speaks first: AT switch, FBUS or PhoNet
  lkFbus,      // FBUS cable (DAU-9P): FBUS only
  lkAtSwitch,  // DLR-3 cable or DKU-5 port: AT commands until "at*nokiafbus", then FBUS
  lkPhonet,    // Bluetooth serial: PhoNet frames, answered after the set-up frame
};

// A message the phone sends on its own, `DelayMs` after its first reply of a session.
struct TSimPush {
  std::uint8_t Type = 0;
  std::string Payload;
  int DelayMs = 0;
};

struct TSimLinkOptions {
  TSimLinkKind Kind = TSimLinkKind::lkAuto;
  std::uint8_t PhonetMedia = 0x19;
  bool Mute = false;              // send nothing at all
  bool NoAcks = false;            // answer, but never acknowledge
  bool Corrupt = false;           // every FBUS frame sent gets a wrong checksum
  int CorruptEvery = 0;           // when > 0: every n-th FBUS frame sent gets a wrong checksum
  int ReplyDelayMs = 0;           // delay between a request's acknowledgement and its reply
  int MuteAfter = -1;             // when >= 0: fall silent after answering this many messages
  std::set<std::uint8_t> Ignore;  // message types never answered (still acknowledged)
  std::uint8_t SeqStart = 0;      // the phone's first sequence counter (0..7)
  std::vector<TSimPush> Push;     // unsolicited messages of each session
};

// Bytes to write, not before `DueMs`; `What` describes them for the log.
struct TSimOutput {
  std::int64_t DueMs;
  std::string Bytes;
  std::string What;
};

class TSimLink {
 public:
  using TLogFn = std::function<void(const std::string&)>;

  TSimLink(TSimPersona& persona, TSimLinkOptions options, TLogFn log);

  // Bytes from the host, at monotonic time `nowMs`.
  void Receive(std::string_view bytes, std::int64_t nowMs, std::time_t wallNow);
  // The line has been quiet: give up on a partial frame or line.
  void Idle(std::int64_t nowMs, std::time_t wallNow);
  // True while the cutter holds bytes that Idle would settle.
  bool HasPartial() const { return cutter_.Pending(); }

  // Outputs due at `nowMs`, in order; the earliest due time of the rest, or -1.
  std::vector<TSimOutput> TakeDue(std::int64_t nowMs);
  std::int64_t NextDue() const { return out_.empty() ? -1 : out_.front().DueMs; }

  // The host went away: forget the session (partial frames, queued replies,
  // the AT switch, the sequence counter); modes and the persona stay.
  void Reset();

  bool Mute() const { return opt_.Mute; }
  void SetMute(bool on) { opt_.Mute = on; }
  bool Corrupt() const { return opt_.Corrupt; }
  void SetCorrupt(bool on) { opt_.Corrupt = on; }

  // Counters for tests and the exit summary.
  int FramesReceived() const { return framesReceived_; }
  int BadFrames() const { return badFrames_; }
  int MessagesAnswered() const { return answered_; }

 private:
  enum class TState { stOpen, stCommand, stFbus, stPhonet };
  void ConfigureCutter();
  void Handle(const TSimEvent& e, std::int64_t nowMs, std::time_t wallNow);
  void HandleAtLine(const std::string& line, std::int64_t nowMs);
  void HandleFbus(const std::string& frame, std::int64_t nowMs, std::time_t wallNow);
  void HandlePhonet(const std::string& frame, std::int64_t nowMs, std::time_t wallNow);
  void Answer(bool fbus, std::uint8_t type, std::string_view payload, std::int64_t nowMs, std::time_t wallNow);
  void Queue(std::int64_t dueMs, std::string bytes, std::string what);
  void QueueMessage(bool fbus, const TSimMessage& m, std::int64_t dueMs, const char* what);
  std::string FbusFrame(std::uint8_t type, std::string_view block);

  TSimPersona& persona_;
  TSimLinkOptions opt_;
  TLogFn log_;
  TSimCutter cutter_;
  TState state_ = TState::stOpen;
  bool phonetSetup_ = false;
  bool pushed_ = false;  // this session's unsolicited messages are queued
  std::uint8_t seq_ = 0;
  std::string partial_;  // blocks of a multi-block message so far
  std::int16_t partialType_ = -1;
  std::deque<TSimOutput> out_;
  int fbusSent_ = 0;
  int framesReceived_ = 0;
  int badFrames_ = 0;
  int answered_ = 0;
};

// Parses a link kind name: auto, fbus, at, phonet (also dau9p, dlr3, dku5, bt).
bool SimParseLinkKind(std::string_view name, TSimLinkKind& kind);
