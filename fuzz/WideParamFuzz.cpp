// The wide command-line splitter on arbitrary UTF-16 text: every call stays
// inside the text and moves on, and no parameter holds more than the text.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "UcxSystem.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::u16string text(size / 2, u'\0');
  for (std::size_t i = 0; i < text.size(); ++i) text[i] = static_cast<char16_t>(data[2 * i] | (data[2 * i + 1] << 8));
  std::u16string_view rest(text);
  for (;;) {
    WideString param;
    const std::size_t used = NextWideParam(rest, param);
    if (used > rest.size() || param.size() > rest.size()) std::abort();
    if (param.empty()) break;
    if (used == 0) std::abort();
    rest.remove_prefix(used);
  }
  return 0;
}
