#include "NokiaUtils.h"

std::string RemoveChar(std::string_view s, char ch) {
  std::string out;
  out.reserve(s.size());
  for (char c : s) {
    if (c != ch) out += c;
  }
  return out;
}

std::string ReplaceSubstring(std::string_view s, std::string_view oldPattern, std::string_view newPattern) {
  if (s.empty() || oldPattern.empty()) return {};
  std::string out;
  std::size_t from = 0;
  for (;;) {
    const std::size_t at = s.find(oldPattern, from);
    if (at == std::string_view::npos) break;
    out.append(s.substr(from, at - from));
    out.append(newPattern);
    from = at + oldPattern.size();
  }
  out.append(s.substr(from));
  return out;
}

std::string TrimLeftSpaces(std::string_view s) {
  const std::size_t first = s.find_first_not_of(' ');
  return first == std::string_view::npos ? std::string() : std::string(s.substr(first));
}

std::string TrimRightSpaces(std::string_view s) {
  const std::size_t last = s.find_last_not_of(' ');
  return last == std::string_view::npos ? std::string() : std::string(s.substr(0, last + 1));
}

std::string TrimSpaces(std::string_view s) {
  return TrimLeftSpaces(TrimRightSpaces(s));
}

std::string ExtractNthField(int index, std::string_view s, std::string_view separator) {
  std::string_view rest = s;
  std::string_view field;
  int i = 0;
  while (i < index && !rest.empty()) {
    const std::size_t at = separator.empty() ? std::string_view::npos : rest.find(separator);
    if (at == std::string_view::npos) {
      field = rest;
      rest = {};
    } else {
      field = rest.substr(0, at);
      rest = rest.substr(at + separator.size());
    }
    ++i;
  }
  return i == index && index >= 1 ? std::string(field) : std::string();
}

bool IsProductCode(std::string_view s) {
  return !s.empty() && !(s[0] >= '0' && s[0] <= '9');
}

std::uint8_t ClassifyLocaleIds(std::uint32_t userLcid, std::uint32_t systemLcid) {
  const std::uint32_t u = userLcid & 0xFFFF;
  const std::uint32_t sy = systemLcid & 0xFFFF;
  std::uint8_t r = 0;
  if (u == 0x0419 || sy == 0x0419) r = 1;
  if (u == 0x0408 || sy == 0x0408) r = 2;
  if ((u & 0xFF) == 0x04) {
    r = 3;
  } else if ((sy & 0xFF) == 0x04 && u != 0x1004 && sy != 0x1004) {
    r = 3;
  }
  return r;
}
