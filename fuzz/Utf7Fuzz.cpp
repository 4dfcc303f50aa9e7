// UTF-7 decoding of arbitrary bytes: bad input raises the layer's error, never
// more; whatever decodes re-encodes without error and decodes to the same
// text. The same bytes read as UTF-16 units survive a round trip.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "UcxSysUtils.h"
#include "UcxSystem.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  try {
    const WideString text = WideFromUtf7(bytes);
    if (WideFromUtf7(Utf7FromWide(text)) != text) std::abort();
  } catch (const EUcxGeneralError&) {
  }
  WideString units(size / 2, u'\0');
  for (std::size_t i = 0; i < units.size(); ++i) units[i] = static_cast<char16_t>(data[2 * i] | (data[2 * i + 1] << 8));
  if (WideFromUtf7(Utf7FromWide(units)) != units) std::abort();
  return 0;
}
