// Feeds arbitrary bytes to one phone-logo reader (LOGO_FORMAT names it). A
// reader may only raise ENokiaLogoError; a picture it accepts must write back
// in the same format and read again unchanged.
#include "NokiaLogos.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  constexpr TLogoFormat format = TLogoFormat::LOGO_FORMAT;
  TMonoBitmap picture;
  try {
    picture = ReadLogo(format, std::string_view(reinterpret_cast<const char*>(data), size));
  } catch (const ENokiaLogoError&) {
    return 0;
  }
  std::string file = WriteLogo(format, picture);
  if (!(ReadLogo(format, file) == picture)) __builtin_trap();
  return 0;
}
