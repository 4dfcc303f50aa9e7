// Arbitrary bytes as the leak bytes of data blocks: the first byte splits the
// rest into a module's own block and the main module's block; reading must
// stay inside the bytes whatever they claim.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "ELeaks.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  std::string_view rest(reinterpret_cast<const char*>(data + 1), size - 1);
  const std::size_t cut = rest.empty() ? 0 : data[0] % (rest.size() + 1);
  TLeakBlockOptions read;
  ReadLeakBlockOptions(rest, read);
  ChooseLeakOptions(rest.substr(0, cut), rest.substr(cut), (data[0] & 0x80) != 0);
  return 0;
}
