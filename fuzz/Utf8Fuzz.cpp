// UTF-8 decoding of arbitrary bytes: never raises; whatever decodes re-encodes
// and decodes to the same text. The same bytes read as UTF-16 units survive a
// round trip.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "UcxSystem.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  const WideString text = WideFromUtf8(bytes);
  if (WideFromUtf8(Utf8FromWide(text)) != text) std::abort();
  WideString units(size / 2, u'\0');
  for (std::size_t i = 0; i < units.size(); ++i) units[i] = static_cast<char16_t>(data[2 * i] | (data[2 * i + 1] << 8));
  if (WideFromUtf8(Utf8FromWide(units)) != units) std::abort();
  return 0;
}
