// Arbitrary bytes as binary debug data ("JDBG"), read with and without its
// cache: the tables' numbers must end within the data, names at any position.
#include <cstddef>
#include <cstdint>
#include <string>

#include "EDebug.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  for (bool cached : {true, false}) {
    TVLBinDebugScanner scanner(bytes, cached);
    // A file whose check sum is wrong is still walked, to reach the tables.
    std::string unchecked = bytes;
    if (unchecked.size() > 33) unchecked[33] = 0;
    TVLBinDebugScanner walked(unchecked, cached);
    for (TVLBinDebugScanner* s : {&scanner, &walked}) {
      for (std::uint32_t address : {0u, 0x10u, 0x96u, 0x250u, 0xFFFFFFFFu}) {
        std::uint32_t a, b;
        s->UnitNameAt(address);
        s->ProcedureNameAt(address, a);
        s->LineNumberAt(address, b);
        s->SourceNameAt(address);
      }
      for (std::uint32_t position : {1u, 7u, 0xFFFFFFFFu}) s->NameAt(position);
    }
  }
  return 0;
}
