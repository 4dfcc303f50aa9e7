#include "MemoryBlocks.h"

#include <cstdint>
#include <cstring>

bool SameBytes(const void* a, const void* b, std::ptrdiff_t count) {
  if (count <= 0) return true;
  const auto* pa = static_cast<const unsigned char*>(a);
  const auto* pb = static_cast<const unsigned char*>(b);
  const std::size_t n = static_cast<std::size_t>(count);
  std::size_t i = 0;
  for (; i + sizeof(std::uint32_t) <= n; i += sizeof(std::uint32_t)) {
    std::uint32_t wa, wb;
    std::memcpy(&wa, pa + i, sizeof wa);  // unaligned blocks are fine
    std::memcpy(&wb, pb + i, sizeof wb);
    if (wa != wb) return false;
  }
  for (; i < n; ++i)
    if (pa[i] != pb[i]) return false;
  return true;
}

void* OffsetPointer(void* p, std::ptrdiff_t count) {
  return static_cast<unsigned char*>(p) + count;
}

const void* OffsetPointer(const void* p, std::ptrdiff_t count) {
  return static_cast<const unsigned char*>(p) + count;
}

void CopyBytes(void* dest, const void* source, std::ptrdiff_t count) {
  if (count > 0) std::memmove(dest, source, static_cast<std::size_t>(count));
}

std::string PassResourceText(const std::string& text) {
  return text;
}
