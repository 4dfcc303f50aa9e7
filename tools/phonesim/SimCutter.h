// Cuts the bytes the host sends into frames: FBUS frames (start byte 1E,
// checked by their XOR checksums), PhoNet frames of one media byte, and AT
// command lines. Everything else (the 0x55 preamble, the C1 sync byte, line
// noise) is reported as skipped bytes. The cutter never waits for more than
// one frame's worth of bytes: a header that does not address the phone from
// the host or announces an over-long block is not a frame start, and a frame
// whose checksum does not match is reported and rescanned from its second
// byte, so a good frame behind damaged bytes is still found.
#pragma once

#include <cstdint>
#include <deque>
#include <string>
#include <string_view>
#include <vector>

enum class TSimEventKind {
  seFrame,     // a complete frame (FBUS with a good checksum, or PhoNet)
  seBadFrame,  // an FBUS frame whose checksum does not match
  seSkipped,   // bytes that belong to no frame
  seAtLine,    // an AT command line, without its line end
};

struct TSimEvent {
  TSimEventKind Kind;
  std::string Bytes;
};

class TSimCutter {
 public:
  // Longest block length accepted in a frame header.
  static constexpr std::size_t kMaxFbusBlock = 0x400;
  static constexpr std::size_t kMaxPhonetPayload = 0x1000;
  static constexpr std::size_t kMaxAtLine = 128;
  static constexpr std::size_t kMaxSkippedRun = 4096;

  // What to look for; by default FBUS frames only.
  void AcceptFbus(bool on) { fbus_ = on; }
  void AcceptPhonet(bool on, std::uint8_t media = 0x19) {
    phonet_ = on;
    media_ = media;
  }
  void AcceptAtLines(bool on) { at_ = on; }
  bool AcceptsFbus() const { return fbus_; }
  bool AcceptsPhonet() const { return phonet_; }
  bool AcceptsAtLines() const { return at_; }

  // Adds received bytes.
  void Add(std::string_view bytes);
  // Takes the next complete event; false when more bytes are needed. The
  // settings may change between calls: they apply to the bytes not yet cut.
  bool Next(TSimEvent& event);
  // Add, then every event that completes, in order.
  std::vector<TSimEvent> Feed(std::string_view bytes);
  // Gives up on what is buffered (called after a quiet spell on the line):
  // an unfinished frame or line is dropped byte by byte and reported as
  // skipped, frames found behind it are still reported, and pending skipped
  // bytes are reported.
  std::vector<TSimEvent> Flush();
  // True while bytes are buffered or skipped bytes are not yet reported.
  bool Pending() const { return pos_ < buf_.size() || !skipped_.empty() || !ready_.empty(); }
  // Drops everything buffered without reporting it.
  void Reset();

 private:
  enum class TScan { scNeedMore, scConsumed };
  using TOut = std::deque<TSimEvent>;
  TScan ScanOne(TOut& out);
  void Skip(std::size_t count, TOut& out);
  void Emit(TSimEventKind kind, std::string bytes, TOut& out);
  void Consume(std::size_t count);
  void FlushSkipped(TOut& out);
  void Compact();

  bool fbus_ = true;
  bool phonet_ = false;
  bool at_ = false;
  std::uint8_t media_ = 0x19;
  std::string buf_;
  std::size_t pos_ = 0;  // start of the unscanned bytes in buf_
  std::string skipped_;
  TOut ready_;  // events cut but not yet taken
  // Bytes of the last bad frame still ahead; skipping them is not reported
  // again (the bad frame's line already shows them).
  std::size_t quiet_ = 0;
  bool eatFill_ = false;  // just after an AT line: its line end bytes follow
};
