#include "QhrHshTb.h"

namespace {

constexpr std::int32_t Weight(int code) {
  if (code == 0) return 0;
  switch (code) {
    case 33:
      return 11;  // !
    case 46:
      return 12;  // .
    case 48:
      return 10;  // 0
    case 91:
      return 11;  // [
    case 92:
      return 12;  // backslash
    case 93:
      return 13;  // ]
    case 94:
      return 14;  // ^
    case 95:
      return 13;  // _
    case 96:
      return 16;  // `
    default:
      break;
  }
  if (code <= 31 || (code >= 35 && code <= 37) || code == 42 || code == 43) return code + 208;
  if (code <= 90 || (code >= 145 && code <= 151)) return code - 48;
  if (code >= 97 && code <= 127) return code - 80;
  return code - 304;  // 128-144, 152-255
}

constexpr std::array<std::int32_t, 256> MakeWeights() {
  std::array<std::int32_t, 256> t{};
  for (int c = 0; c < 256; ++c) t[static_cast<std::size_t>(c)] = Weight(c);
  return t;
}

}  // namespace

const std::array<std::int32_t, 256> HelpNameWeights = MakeWeights();

std::int32_t HashHelpName(std::string_view name) {
  std::uint32_t h = 0;
  for (unsigned char c : name) h = static_cast<std::uint32_t>(HelpNameWeights[c]) + h * 43u;
  return static_cast<std::int32_t>(h);
}
