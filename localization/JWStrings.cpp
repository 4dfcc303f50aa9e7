#include "JWStrings.h"

#include "LocaleServices.h"

int CompareWideText(std::u16string_view a, std::u16string_view b, bool ignoreCase) {
  return LocaleServices().CompareWideText(a, b, ignoreCase);
}

bool HasNonSymbolChars(std::u16string_view text) {
  for (char16_t c : text) {
    bool symbol = (c >= 33 && c <= 64) || (c >= 91 && c <= 96) || (c >= 123 && c <= 126);
    if (!symbol) return true;
  }
  return false;
}

TPlatformInfo& PlatformInfo() {
  static TPlatformInfo info;
  return info;
}

bool TestWinVersion(const TPlatformInfo& info, std::uint32_t major, std::uint32_t minor) {
  return info.majorVersion > major || (info.majorVersion == major && info.minorVersion >= minor);
}
