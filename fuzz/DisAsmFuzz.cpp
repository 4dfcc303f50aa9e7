// Random bytes as code for the disassembler, with every hook set: each
// instruction ends, reads only the bytes it was given (the image is an
// exact-size region followed by unreadable memory), and its length stays
// within them.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "EDisAsm.h"
#include "EHook.h"

namespace {

void Target(void*, std::uint32_t, std::uint32_t target, std::string& text) {
  text = "%s#@^" + std::to_string(target);
}
void Value(void*, std::uint32_t, std::uint32_t, std::string& text) {
  text += "#Ev @c2";
}
void MemoryOperand(void*, const TDisAsmState& state, int size, std::string& text) {
  if (state.Length > kDisAsmMaxBytes || size < 0 || size > 10) std::abort();
  text += "%c";
}
void Immediate(void*, std::uint32_t, int size, bool, std::string& text) {
  if (size != 1 && size != 2 && size != 4) std::abort();
  text += "^9";
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  RegionMemoryReader memory;
  memory.AddRegion(0x401000, std::vector<std::uint8_t>(data, data + size));
  TDisAsm plain, hooked;
  hooked.OnJumpTarget = Target;
  hooked.OnCallTarget = Target;
  hooked.OnAddressValue = Value;
  hooked.OnMemoryOperand = MemoryOperand;
  hooked.OnImmediate = Immediate;
  for (TDisAsm* disasm : {&plain, &hooked}) {
    std::size_t at = 0;
    while (at < size) {
      int length = -1;
      std::string text;
      const bool whole =
          DisassembleInstruction(*disasm, memory, 0x401000 + static_cast<std::uint32_t>(at), length, text);
      if (length < 1 || static_cast<std::size_t>(length) > size - at ||
          static_cast<std::size_t>(length) > kDisAsmMaxBytes)
        std::abort();
      if (!whole && at + static_cast<std::size_t>(length) != size) std::abort();
      if (text.empty()) std::abort();
      at += static_cast<std::size_t>(length);
    }
  }
  return 0;
}
