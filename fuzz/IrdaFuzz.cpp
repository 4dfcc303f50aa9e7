// Feeds arbitrary bytes to the PhoNet cutter of the infrared and DKU-2 reader,
// in reads of varying size with empty polls between them, and checks every
// frame: it starts with the resync sequence, its length fits its size, and the
// frames do not depend on how the bytes were split into reads. The same bytes
// also go through the infrared device-list and DKU-2 detail-record readers.
#include "Dku2Devices.h"
#include "IrDiscovery.h"
#include "PhonetCutter.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>
#include <vector>

namespace {

void Check(bool ok) {
  if (!ok) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 2) return 0;
  const std::uint8_t media = data[0] & 1 ? 0x1B : 0x14;
  const std::size_t step = data[1] % 23 + 1;
  const std::string_view bytes(reinterpret_cast<const char*>(data + 2), size - 2);
  const std::string resync = PhonetResyncSequence(media);

  TPhonetCutter whole(media);
  const std::vector<std::string> once = whole.Feed(bytes);

  TPhonetCutter split(media);
  std::vector<std::string> pieces;
  for (std::size_t i = 0; i < bytes.size(); i += step) {
    for (auto& f : split.Feed(bytes.substr(i, step))) pieces.push_back(std::move(f));
  }
  Check(once == pieces);
  Check(whole.Pending() == split.Pending());

  std::size_t total = 0;
  for (const std::string& f : once) {
    Check(f.size() >= 6 && f.compare(0, 3, resync) == 0);
    const std::size_t length =
        (static_cast<std::size_t>(static_cast<std::uint8_t>(f[4])) << 8) | static_cast<std::uint8_t>(f[5]);
    Check(f.size() == 6 + length);
    total += f.size();
  }
  Check(total + whole.Pending().size() <= bytes.size());
  Check(whole.Pending().size() <= 6 + 0xFFFF + step);
  for (int i = 0; i <= kIrEmptyPollLimit; ++i) whole.EmptyPoll();
  Check(whole.Pending().empty() && whole.ExpectedLength() == 0);

  const std::vector<TIrDevice> devices = ParseIrDeviceList(bytes);
  Check(devices.size() * kIrDeviceRecordSize + kIrDeviceListHeader <= bytes.size() || devices.empty());
  for (const TIrDevice& d : devices) Check(d.name.size() <= kIrDeviceNameSize);
  Check(Dku2DetailPath(bytes, data[1] % 9).size() <= bytes.size());
  return 0;
}
