// Arbitrary bytes as LZJ tokens: the decoder must either decode them or raise
// EJCompressError, never read outside its window. The byte-string decoder and
// the streaming one must agree, prefix mode must agree with the full decode
// wherever both succeed, and compressing the bytes must give them back.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>

#include "JCompress.h"

namespace {

std::optional<std::string> Decode(std::string_view bytes, bool prefix, bool streaming) {
  try {
    if (!streaming) return LzjDecodeTokens(bytes, prefix);
    // A progress callback sends the byte-string decoder through the streaming core.
    return LzjDecodeTokens(bytes, prefix, [](std::uint64_t, std::uint64_t) {});
  } catch (const EJCompressError&) {
    return std::nullopt;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view bytes(reinterpret_cast<const char*>(data), size);
  for (bool prefix : {false, true})
    if (Decode(bytes, prefix, false) != Decode(bytes, prefix, true)) std::abort();
  auto full = Decode(bytes, false, false);
  auto prefix = Decode(bytes, true, false);
  if (full && prefix != full) std::abort();
  if (LzjDecompress(LzjCompress(bytes)) != bytes) std::abort();
  return 0;
}
