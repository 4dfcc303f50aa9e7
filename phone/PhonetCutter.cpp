#include "PhonetCutter.h"

#include <algorithm>

#include "ByteReader.h"
#include "LinkFrames.h"

namespace {
constexpr std::size_t kHeader = 6;
}  // namespace

std::string PhonetResyncSequence(std::uint8_t media) {
  return {static_cast<char>(media), static_cast<char>(kDeviceHost), static_cast<char>(kDevicePhone)};
}

TPhonetCutter::TPhonetCutter(std::uint8_t media) : resync_(PhonetResyncSequence(media)) {}

void TPhonetCutter::Clear() {
  buffer_.clear();
  expected_ = 0;
}

bool TPhonetCutter::EmptyPoll() {
  if (emptyPolls_ <= kIrEmptyPollLimit) ++emptyPolls_;
  if (emptyPolls_ <= kIrEmptyPollLimit) return false;
  const bool dropped = !buffer_.empty();
  Clear();
  return dropped;
}

// Brings the buffer to start with the resync sequence. False when it holds no
// whole sequence: then only a tail that may be the sequence's first bytes is
// kept, so garbage never lingers and no split sequence is lost.
bool TPhonetCutter::Resync() {
  const std::size_t at = buffer_.find(resync_);
  if (at != std::string::npos) {
    if (at > 0) {
      buffer_.erase(0, at);
      expected_ = 0;
    }
    return true;
  }
  // The sequence may be split between this read and the next: keep its start.
  std::size_t keep = std::min(buffer_.size(), resync_.size() - 1);
  while (keep > 0 && buffer_.compare(buffer_.size() - keep, keep, resync_, 0, keep) != 0) --keep;
  buffer_.erase(0, buffer_.size() - keep);
  expected_ = 0;
  return false;
}

std::vector<std::string> TPhonetCutter::Feed(std::string_view bytes) {
  std::vector<std::string> frames;
  if (bytes.empty()) return frames;
  emptyPolls_ = 0;
  buffer_.append(bytes);
  while (!buffer_.empty()) {
    if (!Resync()) break;
    if (expected_ == 0 && buffer_.size() >= kHeader) expected_ = ByteReader(buffer_).U16BEAt(4);
    if (buffer_.size() < kHeader || buffer_.size() < expected_ + kHeader) break;
    const std::size_t whole = expected_ + kHeader;
    frames.push_back(buffer_.substr(0, whole));
    buffer_.erase(0, whole);
    expected_ = 0;
  }
  return frames;
}
