// Arbitrary bytes as LZJ tokens: the decoder must either decode them or raise
// EJCompressError, never read outside its window. Prefix mode must agree with
// the full decode wherever both succeed, and compressing the bytes must give
// them back unchanged.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "JCompress.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view bytes(reinterpret_cast<const char*>(data), size);
  std::string full, prefix;
  bool fullOk = false;
  try {
    full = LzjDecodeTokens(bytes);
    fullOk = true;
  } catch (const EJCompressError&) {
  }
  try {
    prefix = LzjDecodeTokens(bytes, true);
    if (fullOk && prefix != full) std::abort();
  } catch (const EJCompressError&) {
    if (fullOk) std::abort();
  }
  if (LzjDecompress(LzjCompress(bytes)) != bytes) std::abort();
  return 0;
}
