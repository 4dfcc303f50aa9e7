// Walks arbitrary bytes as an RT_STRING block: every entry must come back
// whole or not at all, never read past the block.
#include "ResStrings.h"

#include <cstddef>
#include <cstdint>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view block(reinterpret_cast<const char*>(data), size);
  for (unsigned i = 0; i <= 16; ++i) {
    auto s = StringBlockEntry(block, i);
    if (s && s->size() * 2 > size) __builtin_trap();
  }
  return 0;
}
