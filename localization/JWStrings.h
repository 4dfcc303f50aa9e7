// Small routines under the engine's platform code: a wide-text comparison that works on both Windows lines, a test for
// texts made only of digits and punctuation, and the record of the running
// system's version.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "Exceptions.h"
#include "ResStrings.h"

// A failed system call raises the framework's EOSError (message and code).
// Its texts, resource strings of the program: with a code, the code and the
// system's text for it; without one, the plain failure.
inline constexpr ResString SSystemErrorCode{65237, 0, "System Error. Code: %d.\r\n%s"};
inline constexpr ResString SOSFunctionFailed{65238, 0, "A call to an OS function failed"};

// -1, 0 or 1 in the user's default locale (through LocaleServices()).
int CompareWideText(std::u16string_view a, std::u16string_view b, bool ignoreCase);
inline int CompareWideCase(std::u16string_view a, std::u16string_view b) {
  return CompareWideText(a, b, false);
}

// True when some character lies outside the codes 33..64, 91..96 and 123..126
// (space, letters and everything above 126 count); false for an empty text.
bool HasNonSymbolChars(std::u16string_view text);

// The running system's version, filled once at start-up on Windows
// (InitPlatformInfo in win/); all zero when it could not be read.
struct TPlatformInfo {
  std::uint32_t platformId = 0;
  std::uint32_t majorVersion = 0;
  std::uint32_t minorVersion = 0;
  std::uint32_t buildNumber = 0;
  std::string servicePack;  // up to 128 characters
};

TPlatformInfo& PlatformInfo();
// True when `info`'s version is at or above major.minor.
bool TestWinVersion(const TPlatformInfo& info, std::uint32_t major, std::uint32_t minor);
inline bool TestWinVersion(std::uint32_t major, std::uint32_t minor) {
  return TestWinVersion(PlatformInfo(), major, minor);
}
