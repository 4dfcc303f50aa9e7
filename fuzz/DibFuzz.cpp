// Reads arbitrary bytes as a BMP file and as packed DIB data. A valid image
// must survive a write and a second read unchanged; anything else must be
// refused with EInvalidGraphic.
#include "Dib.h"

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "Exceptions.h"

namespace {
void Check(const TDib& d) {
  for (int y = 0; y < d.Height(); y += 7)
    for (int x = 0; x < d.Width(); x += 7) (void)d.Pixel(x, y);
  if (!(TDib::LoadFromBmp(d.SaveToBmp()) == d)) __builtin_trap();
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view bytes(reinterpret_cast<const char*>(data), size);
  try {
    Check(TDib::LoadFromBmp(bytes));
  } catch (const EInvalidGraphic&) {
  }
  try {
    Check(TDib::LoadFromDibData(bytes));
  } catch (const EInvalidGraphic&) {
  }
  return 0;
}
