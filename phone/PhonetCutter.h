// Cutting the byte stream of an infrared socket or a DKU-2 USB device into the
// PhoNet frames the phone sends: media 10 00 type len(2, big-endian) payload.
// Every frame starts with the link's resync sequence (media byte, this program,
// the phone); bytes before it are dropped. Used by the links' reader thread.
// The serial links (FBUS, Bluetooth PhoNet) cut their bytes with TFrameCutter
// (LinkFrames.h), which follows other rules.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// Consecutive empty polls of an infrared socket after which a partial frame is
// given up (at one poll every 30 ms, about 4.5 s).
inline constexpr int kIrEmptyPollLimit = 150;

// The three bytes every frame from the phone starts with on a link of this media
// byte (0x14 infrared, 0x1B DKU-2).
std::string PhonetResyncSequence(std::uint8_t media);

// Not thread-safe: one reader thread owns it.
class TPhonetCutter {
 public:
  explicit TPhonetCutter(std::uint8_t media);

  // Takes the next received bytes; returns the frames they completed, in order.
  // A frame is the whole frame, header included.
  std::vector<std::string> Feed(std::string_view bytes);
  // A poll found nothing waiting: after more than kIrEmptyPollLimit of them in
  // a row, and at each further one, the partial frame is dropped. True when it was.
  bool EmptyPoll();
  // Forgets the partial frame.
  void Clear();

  // The bytes held: a frame being assembled, or the start of a resync sequence.
  const std::string& Pending() const { return buffer_; }
  // The payload length of the frame being assembled; 0 while not yet known.
  std::size_t ExpectedLength() const { return expected_; }
  std::uint8_t Media() const { return resync_.empty() ? 0 : static_cast<std::uint8_t>(resync_[0]); }

 private:
  bool Resync();

  std::string resync_;
  std::string buffer_;
  std::size_t expected_ = 0;
  int emptyPolls_ = 0;
};
