// Feeds arbitrary received bytes to the frame cutter of a serial link, in reads of
// varying size, and checks every frame it gives: it starts like a frame from the
// phone, its length fits its size, an FBUS frame's checksum matches, and the
// frames do not depend on how the bytes were split into reads.
#include "LinkFrames.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>
#include <vector>

namespace {

void Check(bool ok) {
  if (!ok) std::abort();
}

void CheckFrame(std::uint8_t method, const std::string& f, std::uint8_t start) {
  Check(f.size() >= 6);
  Check(static_cast<std::uint8_t>(f[0]) == start);
  Check(static_cast<std::uint8_t>(f[1]) == kDeviceHost);
  const std::size_t length =
      (static_cast<std::size_t>(static_cast<std::uint8_t>(f[4])) << 8) | static_cast<std::uint8_t>(f[5]);
  const auto type = static_cast<std::uint8_t>(f[3]);
  if (method == kLinkBluetooth) {
    Check(f.size() == 6 + length);
  } else {
    Check(FbusChecksumValid(f));
    const bool fixedSize = (type == kMsgFixed40 && f.size() == 40) || (type == kMsgAck && f.size() == 10);
    Check(fixedSize || (length <= kFbusMaxReceivedBlock && f.size() == 6 + length + length % 2 + 2));
  }
  const TReceivedFrameAction action = DecideReceivedFrame(method, f);
  if (action.ack) Check(action.ack->size() == 10);
  if (action.autoReply) Check(type == kMsgAutoReply);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 2) return 0;
  static constexpr std::uint8_t kMethods[] = {kLinkFbusCable, kLinkAtSwitch, kLinkBluetooth};
  const std::uint8_t method = kMethods[data[0] % 3];
  const std::size_t step = data[1] % 17 + 1;
  const std::string_view bytes(reinterpret_cast<const char*>(data + 2), size - 2);

  TFrameCutter whole(method);
  const std::vector<std::string> once = whole.Feed(bytes);

  TFrameCutter split(method);
  std::vector<std::string> pieces;
  for (std::size_t i = 0; i < bytes.size(); i += step) {
    for (auto& f : split.Feed(bytes.substr(i, step))) pieces.push_back(std::move(f));
  }
  Check(once == pieces);
  Check(whole.Pending() == split.Pending());

  std::size_t total = 0;
  for (const auto& f : once) {
    CheckFrame(method, f, whole.StartByte());
    total += f.size();
  }
  Check(total + whole.Pending().size() <= bytes.size());
  if (method != kLinkBluetooth) Check(whole.Pending().size() <= 6 + kFbusMaxReceivedBlock + 3);
  return 0;
}
