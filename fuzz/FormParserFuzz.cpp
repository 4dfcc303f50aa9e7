// Feeds arbitrary text to the form text parser. Text that converts must come
// back from its binary form as text that converts to the same binary form.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "ObjectConvert.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string text(reinterpret_cast<const char*>(data), size);
  std::string binary;
  try {
    binary = ObjectTextToBinary(text);
  } catch (const Exception&) {
    return 0;
  }
  std::string again = ObjectTextToBinary(ObjectBinaryToText(binary));
  if (again != binary) std::abort();
  return 0;
}
