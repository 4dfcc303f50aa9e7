#include "SimCutter.h"

#include <iterator>

#include "ByteReader.h"
#include "SimFrames.h"

namespace {
bool IsA(char c) {
  return c == 'a' || c == 'A';
}
bool IsT(char c) {
  return c == 't' || c == 'T';
}
bool IsLineFill(char c) {
  return c == '\r' || c == '\n' || c == '\0';
}
}  // namespace

void TSimCutter::Reset() {
  ready_.clear();
  buf_.clear();
  pos_ = 0;
  skipped_.clear();
  quiet_ = 0;
  eatFill_ = false;
}

void TSimCutter::Consume(std::size_t count) {
  pos_ += count;
  quiet_ = quiet_ > count ? quiet_ - count : 0;
}

void TSimCutter::FlushSkipped(TOut& out) {
  if (skipped_.empty()) return;
  out.push_back({TSimEventKind::seSkipped, std::move(skipped_)});
  skipped_.clear();
}

void TSimCutter::Emit(TSimEventKind kind, std::string bytes, TOut& out) {
  FlushSkipped(out);
  out.push_back({kind, std::move(bytes)});
}

void TSimCutter::Skip(std::size_t count, TOut& out) {
  for (std::size_t i = 0; i < count; ++i) {
    if (quiet_ == 0) {
      skipped_ += buf_[pos_];
      if (skipped_.size() >= kMaxSkippedRun) FlushSkipped(out);
    }
    Consume(1);
  }
}

TSimCutter::TScan TSimCutter::ScanOne(TOut& out) {
  ByteReader r(std::string_view(buf_).substr(pos_));
  const std::uint8_t b = r.U8At(0);
  const std::size_t avail = r.Size();

  if (eatFill_ && IsLineFill(static_cast<char>(b))) {
    // The rest of an AT line's end (CR, LF and the NUL the host sends after it).
    Consume(1);
    return TScan::scConsumed;
  }
  eatFill_ = false;
  if (at_ && IsA(static_cast<char>(b))) {
    if (avail < 2) return TScan::scNeedMore;
    if (IsT(static_cast<char>(r.U8At(1)))) {
      for (std::size_t i = 2; i < avail && i <= kMaxAtLine; ++i) {
        const char c = static_cast<char>(r.U8At(i));
        if (c == '\r' || c == '\n') {
          Emit(TSimEventKind::seAtLine, buf_.substr(pos_, i), out);
          Consume(i + 1);
          eatFill_ = true;
          return TScan::scConsumed;
        }
      }
      if (avail <= kMaxAtLine) return TScan::scNeedMore;
    }
    Skip(1, out);
    return TScan::scConsumed;
  }
  // The header FBUS and PhoNet frames share: start byte, phone and host
  // addresses, a big-endian length at offset 4. Garbage is skipped as soon as
  // it shows, not held back. False (with what to return) when no frame starts.
  auto header = [&](std::size_t maxLen, std::size_t& len, TScan& scan) {
    if (avail < 6) {
      if ((avail >= 2 && r.U8At(1) != kSimPhoneAddr) || (avail >= 3 && r.U8At(2) != kSimHostAddr)) {
        Skip(1, out);
        scan = TScan::scConsumed;
      } else {
        scan = TScan::scNeedMore;
      }
      return false;
    }
    len = r.U16BEAt(4);
    if (r.U8At(1) != kSimPhoneAddr || r.U8At(2) != kSimHostAddr || len > maxLen) {
      Skip(1, out);
      scan = TScan::scConsumed;
      return false;
    }
    return true;
  };
  if (fbus_ && b == kSimFbusStart) {
    std::size_t len = 0;
    TScan scan{};
    if (!header(kMaxFbusBlock, len, scan)) return scan;
    const std::size_t total = 6 + len + (len % 2) + 2;
    if (avail < total) return TScan::scNeedMore;
    const std::string frame = buf_.substr(pos_, total);
    const std::uint16_t want = SimFbusChecksum(std::string_view(frame).substr(0, total - 2));
    if (r.U16BEAt(total - 2) == want) {
      Emit(TSimEventKind::seFrame, frame, out);
      Consume(total);
    } else {
      Emit(TSimEventKind::seBadFrame, frame, out);
      Consume(1);
      quiet_ = total - 1;
    }
    return TScan::scConsumed;
  }
  if (phonet_ && b == media_) {
    std::size_t len = 0;
    TScan scan{};
    if (!header(kMaxPhonetPayload, len, scan)) return scan;
    if (avail < 6 + len) return TScan::scNeedMore;
    Emit(TSimEventKind::seFrame, buf_.substr(pos_, 6 + len), out);
    Consume(6 + len);
    return TScan::scConsumed;
  }
  Skip(1, out);
  return TScan::scConsumed;
}

void TSimCutter::Compact() {
  if (pos_ == 0) return;
  buf_.erase(0, pos_);
  pos_ = 0;
}

void TSimCutter::Add(std::string_view bytes) {
  Compact();
  buf_.append(bytes);
}

bool TSimCutter::Next(TSimEvent& event) {
  while (ready_.empty() && pos_ < buf_.size()) {
    if (ScanOne(ready_) == TScan::scNeedMore) break;
  }
  if (ready_.empty()) return false;
  event = std::move(ready_.front());
  ready_.pop_front();
  return true;
}

std::vector<TSimEvent> TSimCutter::Feed(std::string_view bytes) {
  Add(bytes);
  std::vector<TSimEvent> out;
  TSimEvent e;
  while (Next(e)) out.push_back(std::move(e));
  return out;
}

std::vector<TSimEvent> TSimCutter::Flush() {
  // The first buffered byte cannot start a frame that will ever complete:
  // drop it and look again, so that a whole frame behind a truncated one is
  // still found.
  TOut out = std::move(ready_);
  ready_.clear();
  while (pos_ < buf_.size()) {
    Skip(1, out);
    while (pos_ < buf_.size()) {
      if (ScanOne(out) == TScan::scNeedMore) break;
    }
  }
  buf_.clear();
  pos_ = 0;
  quiet_ = 0;
  FlushSkipped(out);
  return {std::make_move_iterator(out.begin()), std::make_move_iterator(out.end())};
}
