// Arbitrary text for the Base64 decoder: the result has the size the decoder
// announces, and a text the encoder made decodes back to its bytes.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "EBase64.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const char* text = reinterpret_cast<const char*>(data);
  std::string decoded;
  Base64DecodeText(std::string_view(text, size), decoded);
  if (decoded.size() != Base64DecodedSize(text, size)) std::abort();
  std::string encoded, back;
  Base64EncodeBuffer(data, size, encoded);
  Base64DecodeText(encoded, back);
  if (back != std::string(text, size)) std::abort();
  return 0;
}
