// Arbitrary text as a MAP file: parsed once, then asked about a few offsets.
#include <cstddef>
#include <cstdint>
#include <string>

#include "EDebug.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  TVLMapScanner scanner(std::string(reinterpret_cast<const char*>(data), size));
  for (std::uint32_t offset : {0u, 0x10u, 0x200u, 0x21Cu, 0xFFFFFFFFu}) {
    std::uint32_t a, b;
    scanner.UnitNameAt(offset);
    scanner.ProcedureNameAt(offset, a);
    scanner.LineNumberAt(offset, b);
    scanner.SourceNameAt(offset);
  }
  return 0;
}
