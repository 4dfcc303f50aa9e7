// Random bytes as code for the length decoder, the measuring of code up to
// its return and the trampoline builder: every call ends, reads only the
// bytes it was given (the image is an exact-size region), and every length
// stays within what the bytes can hold.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "EHook.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // An exact-size heap copy, so that a read past the end is caught.
  std::vector<std::uint8_t> code(data, data + size);
  for (std::size_t i = 0; i < size && i < 64; ++i) {
    int length = -1;
    const bool ok = GetInstructionLength(code.data() + i, size - i, length);
    // The decoder reads no immediates: a length may pass the bytes, by at most the operand bytes.
    if (ok && (length < 1 || static_cast<std::size_t>(length) > size - i + 10)) std::abort();
    if (!ok && length != 0 && length != 1) std::abort();
  }
  RegionMemoryReader memory;
  memory.AddRegion(0x401000, code);
  const std::size_t maxLength = size > 0 ? data[0] : 0;
  const std::size_t measured = MeasureCodeToReturn(memory, 0x401000, maxLength);
  if (maxLength == 0 ? measured != 0 : (measured < 1 || measured > maxLength + kMaxDecodedBytes)) std::abort();
  if (size >= 5) GetTrampolineSize(code.data(), size < 32 ? size : 32);
  try {
    const TCodeTrampoline t = BuildCodeTrampoline(memory, 0x401000, 0x00500000, "fuzz");
    if (t.CopiedLength < 5 || t.CopiedLength > size || t.Code.size() < t.CopiedLength + 5) std::abort();
  } catch (const EHookingError&) {
  }
  return 0;
}
