// Arbitrary bytes as a DNS answer: the MX reader and the name reader end,
// stay inside the packet and give names of at most 255 characters.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "ESockets.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view packet(reinterpret_cast<const char*>(data), size);
  std::string host;
  if (ParseMxAnswer(packet, host) == host.empty()) std::abort();
  if (host.size() > 255) std::abort();
  for (std::size_t start = 0; start < size && start < 64; ++start) {
    std::size_t at = start;
    std::string name;
    const bool ok = ReadDnsName(packet, at, name);
    if (ok ? (at > size || at <= start || name.size() > 255) : (at != start || !name.empty())) std::abort();
  }
  return 0;
}
