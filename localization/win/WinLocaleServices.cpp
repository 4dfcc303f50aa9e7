#include "WinLocaleServices.h"

#include <windows.h>

#include <mutex>

#include "WinPlatform.h"

namespace {

// EnumSystemLocalesA gives no context pointer: the callback collects into
// this list under the lock.
std::mutex gEnumLock;
std::vector<std::string>* gEnumTarget = nullptr;

BOOL CALLBACK CollectLocale(LPSTR text) {
  try {
    if (gEnumTarget && text) gEnumTarget->emplace_back(text);
  } catch (...) {
    return FALSE;
  }
  return TRUE;
}

}  // namespace

int TWinLocaleServices::QueryLocaleInfo(std::uint32_t locale, std::uint32_t lcType, char* buffer, int size) {
  return ::GetLocaleInfoA(locale, lcType, buffer, size);
}

std::vector<std::string> TWinLocaleServices::EnumSupportedLocales() {
  std::vector<std::string> out;
  std::lock_guard<std::mutex> lock(gEnumLock);
  gEnumTarget = &out;
  ::EnumSystemLocalesA(CollectLocale, LCID_SUPPORTED);
  gEnumTarget = nullptr;
  return out;
}

bool TWinLocaleServices::IsValidCodePage(std::uint32_t codePage) {
  return ::IsValidCodePage(codePage) != 0;
}

std::uint32_t TWinLocaleServices::AnsiCodePage() {
  return ::GetACP();
}

bool TWinLocaleServices::AnsiToWide(std::uint32_t codePage, const std::string& text, std::u16string& out) {
  int length = static_cast<int>(text.size());
  int size = ::MultiByteToWideChar(codePage, 0, text.data(), length, nullptr, 0);
  if (size <= 0) return false;
  out.assign(static_cast<std::size_t>(size), u'\0');
  int got = ::MultiByteToWideChar(codePage, 0, text.data(), length, reinterpret_cast<wchar_t*>(out.data()), size);
  out.resize(static_cast<std::size_t>(got > 0 ? got : 0));
  return true;
}

bool TWinLocaleServices::WideToAnsi(std::uint32_t codePage, const std::u16string& text, std::string& out) {
  const auto* wide = reinterpret_cast<const wchar_t*>(text.data());
  int length = static_cast<int>(text.size());
  int size = ::WideCharToMultiByte(codePage, 0, wide, length, nullptr, 0, nullptr, nullptr);
  if (size <= 0) return false;
  out.assign(static_cast<std::size_t>(size), '\0');
  int got = ::WideCharToMultiByte(codePage, 0, wide, length, out.data(), size, nullptr, nullptr);
  out.resize(static_cast<std::size_t>(got > 0 ? got : 0));
  return true;
}

bool TWinLocaleServices::CharsetOfCodePage(std::uint32_t codePage, std::uint32_t& charset) {
  CHARSETINFO info{};
  if (!::TranslateCharsetInfo(reinterpret_cast<DWORD*>(static_cast<std::uintptr_t>(codePage)), &info, TCI_SRCCODEPAGE))
    return false;
  charset = info.ciCharset;
  return true;
}

int TWinLocaleServices::MapSortKey(std::uint32_t locale, const char* text, int length, char* buffer, int size) {
  return ::LCMapStringA(locale, LCMAP_SORTKEY | NORM_IGNORECASE, text, length, buffer, size);
}

bool TWinLocaleServices::StringTypeC2(std::uint32_t locale, const char* text, int length, std::uint16_t* types) {
  return ::GetStringTypeExA(locale, CT_CTYPE2, text, length, reinterpret_cast<WORD*>(types)) != 0;
}

bool TWinLocaleServices::IsNtPlatform() {
  OSVERSIONINFOA info{};
  info.dwOSVersionInfoSize = sizeof info;
  if (!::GetVersionExA(&info)) return true;
  return info.dwPlatformId == VER_PLATFORM_WIN32_NT;
}

std::uint16_t TWinLocaleServices::UserDefaultLangId() {
  return ::GetUserDefaultLangID();
}

int TWinLocaleServices::CompareWideText(std::u16string_view a, std::u16string_view b, bool ignoreCase) {
  DWORD flags = ignoreCase ? NORM_IGNORECASE : 0;
  ::SetLastError(0);
  int result = ::CompareStringW(LOCALE_USER_DEFAULT, flags, reinterpret_cast<const wchar_t*>(a.data()),
                                static_cast<int>(a.size()), reinterpret_cast<const wchar_t*>(b.data()),
                                static_cast<int>(b.size()));
  DWORD error = ::GetLastError();
  if (error == ERROR_CALL_NOT_IMPLEMENTED) {
    // The 9x line: compare the ANSI forms.
    std::string ansiA, ansiB;
    WideToAnsi(CP_ACP, std::u16string(a), ansiA);
    WideToAnsi(CP_ACP, std::u16string(b), ansiB);
    ::SetLastError(0);
    result = ::CompareStringA(LOCALE_USER_DEFAULT, flags, ansiA.data(), static_cast<int>(ansiA.size()), ansiB.data(),
                              static_cast<int>(ansiB.size()));
    error = ::GetLastError();
  }
  // A comparison that failed is an error, never a "less than" result.
  if (result == 0 || (error != 0 && error != ERROR_CALL_NOT_IMPLEMENTED)) RaiseSystemError(error);
  return result - 2;
}

void InstallWinLocaleServices() {
  static TWinLocaleServices services;
  static std::once_flag once;
  std::call_once(once, [] { SetLocaleServices(&services); });
}
