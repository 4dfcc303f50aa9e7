// The bottom of the Unicode layer: the platform flags, the layer's exception
// classes and the wide-string helpers everything above it uses. Conversions to
// and from ANSI go through the installed WidePlatform (WidePlatform.h).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "Exceptions.h"
#include "SysUtils.h"
#include "Types.h"

// Set by InitUcxSysUtils from the system's version and kept from then on
// (tests may set them to take the other branches).
// The NT line (platform id 2): every wrapper takes the wide call.
extern bool IsUnicodePlatform;
// Version 5.1 or later.
extern bool IsXPOrLater;
// The system uses a double-byte character set (hot keys may be written "(&X)").
extern bool IsFarEastSystem;

// The unit's start: reads the version from the installed platform. A failed
// query leaves both flags off.
void InitUcxSysUtils();

FW_EXCEPTION(EUcxGeneralError, Exception);   // bad input ("Invalid UTF7")
FW_EXCEPTION(EUcxInternalError, Exception);  // a fault of the layer itself ("Buffer overflow")

// Narrowing to and widening from the system's ANSI code page.
std::string NarrowToAnsi(std::u16string_view text);
WideString WidenFromAnsi(std::string_view text);

// Raises EOSError for the platform's last error code.
[[noreturn]] void RaiseLastWin32Failure();
// `value` when it is not zero (or null), else RaiseLastWin32Failure.
template <class T>
T CheckWin32Result(T value) {
  if (!value) RaiseLastWin32Failure();
  return value;
}

// Format on the narrowed format string; the result widened.
WideString FormatWideV(const WideString& format, const std::vector<TVarRec>& args);
template <class... A>
WideString FormatWide(const WideString& format, A&&... args) {
  return FormatWideV(format, std::vector<TVarRec>{TVarRec(std::forward<A>(args))...});
}

// CompareStringWide in the thread locale over the full lengths: -1, 0 or 1.
int WideCompareByLocale(const WideString& s1, const WideString& s2);
int WideCompareByLocaleNoCase(const WideString& s1, const WideString& s2);
bool WideEqualByLocale(const WideString& s1, const WideString& s2);
bool WideEqualByLocaleNoCase(const WideString& s1, const WideString& s2);

// Whether `object` implements the interface I.
template <class I, class T>
bool SupportsInterface(T* object) {
  return dynamic_cast<I*>(object) != nullptr;
}

// Copies `count` units, then a 0 (dest holds count + 1 units); returns dest.
char16_t* WideCopyChars(char16_t* dest, const char16_t* source, std::size_t count);
// The first `unit` of a 0-terminated text; null when there is none (the
// terminator itself is never found).
const char16_t* FindWideChar(const char16_t* text, char16_t unit);
// A copy upper-cased with CharUpperBuffWide.
WideString UpperCaseWide(const WideString& s);
// The 1-based index of the last unit of `s` that is one of `delimiters`; 0 when
// none. A 0 unit never counts as a delimiter.
std::size_t LastWideDelimiter(const WideString& delimiters, const WideString& s);
// The part of a path after its last backslash or colon.
WideString WideFileNamePart(const WideString& path);
// The file name of a module (null: the program), at most 260 units; raises
// EOSError when the system call fails.
WideString ModuleFileNameWide(void* module);
// The unit converts to ConversionCodePage without the default character.
bool WideCharFitsAnsi(char16_t unit);
// `count` units of `buffer`, or up to its terminating 0 when count is -1.
WideString WideFromBuffer(const char16_t* buffer, std::ptrdiff_t count);
// The value's bits above the low 16 are all 0 (over the whole pointer width):
// a resource number rather than a name pointer.
bool IsIntResourceValue(const void* value);
