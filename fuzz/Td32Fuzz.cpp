// Arbitrary bytes as a ".tds" file: the TD32 block at its end is read, and
// asked about a few offsets. The format's assertion failure (a directory
// entry size other than 12) is an answer; anything else must not escape.
// The bytes are also read as a mapped image whose debug directory or
// "JCLDEBUG" section holds the data.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "EDebug.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  // The same bytes as a mapped image: its debug directory and its sections.
  FindImageTd32Block(data, size);
  std::size_t offset, length;
  FindImageSection(data, size, "JCLDEBUG", offset, length);
  const std::string_view block = FindTd32Block(bytes);
  if (block.empty()) return 0;
  try {
    TVLTD32InfoScanner scanner(block);
    if (!scanner.ValidData()) return 0;
    for (std::uint32_t offset : {0u, 0x100u, 0x10Au, 0x150u, 0xFFFFFFFFu}) {
      const TVLModuleInfo* m = scanner.FindModuleAt(offset);
      if (m) scanner.Name(m->NameIndex);
      const TVLSourceModuleInfo* s = scanner.FindSourceModuleAt(offset);
      std::int32_t line;
      std::uint32_t lineOffset;
      if (s) s->LineNumberAt(offset, line, lineOffset);
      const TVLProcSymbolInfo* p = scanner.FindProcedureAt(offset);
      if (p) TVLTD32InfoScanner::CleanProcedureName(scanner.Name(p->NameIndex), "Unit1");
    }
  } catch (const EAssertionFailed&) {
  }
  return 0;
}
