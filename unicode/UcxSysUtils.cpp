#include "UcxSysUtils.h"

#include "UcxSystem.h"
#include "UcxWindows.h"
#include "WidePlatform.h"

bool IsUnicodePlatform = false;
bool IsXPOrLater = false;
bool IsFarEastSystem = false;

namespace {

constexpr unsigned kMaxPath = 260;

}  // namespace

void InitUcxSysUtils() {
  IsFarEastSystem = CurrentWidePlatform().DbcsEnabled();
  WideVersionInfo v;
  if (!CurrentWidePlatform().Version(v)) {
    IsUnicodePlatform = false;
    IsXPOrLater = false;
    return;
  }
  IsUnicodePlatform = v.platformId == kPlatformWin32NT;
  IsXPOrLater = (v.major == 5 && v.minor > 0) || v.major > 5;
}

std::string NarrowToAnsi(std::u16string_view text) {
  return CurrentWidePlatform().ToAnsi(kCodePageAnsi, text, nullptr);
}

WideString WidenFromAnsi(std::string_view text) {
  return CurrentWidePlatform().FromAnsi(kCodePageAnsi, text, 0);
}

void RaiseLastWin32Failure() {
  WidePlatform& p = CurrentWidePlatform();
  const unsigned code = p.LastError();
  if (code == 0) throw EOSError("A call to an OS function failed", 0);
  throw EOSError(Format("System Error.  Code: %d.\r\n%s", code, p.ErrorMessage(code)), code);
}

WideString FormatWideV(const WideString& format, const std::vector<TVarRec>& args) {
  return WidenFromAnsi(FormatV(NarrowToAnsi(format), args));
}

namespace {

int CompareInThreadLocale(const WideString& s1, const WideString& s2, unsigned flags) {
  return CompareStringWide(CurrentWidePlatform().ThreadLocale(), flags, s1.data(), static_cast<int>(s1.size()),
                           s2.data(), static_cast<int>(s2.size())) -
         2;
}

}  // namespace

int WideCompareByLocale(const WideString& s1, const WideString& s2) {
  return CompareInThreadLocale(s1, s2, 0);
}

int WideCompareByLocaleNoCase(const WideString& s1, const WideString& s2) {
  return CompareInThreadLocale(s1, s2, kNormIgnoreCase);
}

bool WideEqualByLocale(const WideString& s1, const WideString& s2) {
  return WideCompareByLocale(s1, s2) == 0;
}

bool WideEqualByLocaleNoCase(const WideString& s1, const WideString& s2) {
  return WideCompareByLocaleNoCase(s1, s2) == 0;
}

char16_t* WideCopyChars(char16_t* dest, const char16_t* source, std::size_t count) {
  for (std::size_t i = 0; i < count; ++i) dest[i] = source[i];
  dest[count] = 0;
  return dest;
}

const char16_t* FindWideChar(const char16_t* text, char16_t unit) {
  if (!text) return nullptr;
  for (; *text; ++text)
    if (*text == unit) return text;
  return nullptr;
}

WideString UpperCaseWide(const WideString& s) {
  WideString out = s;
  if (!out.empty()) CharUpperBuffWide(out.data(), static_cast<unsigned>(out.size()));
  return out;
}

std::size_t LastWideDelimiter(const WideString& delimiters, const WideString& s) {
  for (std::size_t i = s.size(); i > 0; --i) {
    const char16_t c = s[i - 1];
    if (c != 0 && delimiters.find(c) != WideString::npos) return i;
  }
  return 0;
}

WideString WideFileNamePart(const WideString& path) {
  return path.substr(LastWideDelimiter(u"\\:", path));
}

WideString ModuleFileNameWide(void* module) {
  char16_t buffer[kMaxPath + 1] = {};
  CheckWin32Result(GetModuleFileNameWide(module, buffer, kMaxPath));
  return WideFromBuffer(buffer, -1);
}

bool WideCharFitsAnsi(char16_t unit) {
  bool usedDefault = true;
  CurrentWidePlatform().ToAnsi(ConversionCodePage, std::u16string_view(&unit, 1), &usedDefault);
  return !usedDefault;
}

WideString WideFromBuffer(const char16_t* buffer, std::ptrdiff_t count) {
  if (!buffer) return {};
  if (count < 0) return WideString(buffer);
  return WideString(buffer, static_cast<std::size_t>(count));
}

bool IsIntResourceValue(const void* value) {
  return (reinterpret_cast<std::uintptr_t>(value) >> 16) == 0;
}
