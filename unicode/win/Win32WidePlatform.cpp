#include "Win32WidePlatform.h"

#include <windows.h>

#include <vector>

#include "Win32Platform.h"

static_assert(sizeof(wchar_t) == sizeof(char16_t), "UTF-16 units are wchar_t at the W calls");

namespace {

const wchar_t* W(const char16_t* s) {
  return reinterpret_cast<const wchar_t*>(s);
}
wchar_t* W(char16_t* s) {
  return reinterpret_cast<wchar_t*>(s);
}

// The UTF code pages take no default character.
bool TakesDefaultChar(unsigned codePage) {
  return codePage != CP_UTF7 && codePage != CP_UTF8;
}

}  // namespace

bool Win32WidePlatform::Version(WideVersionInfo& info) {
  OSVERSIONINFOA v{};
  v.dwOSVersionInfoSize = sizeof v;
  if (!GetVersionExA(&v)) return false;
  info.platformId = v.dwPlatformId;
  info.major = v.dwMajorVersion;
  info.minor = v.dwMinorVersion;
  return true;
}

std::string Win32WidePlatform::ToAnsi(unsigned codePage, std::u16string_view text, bool* usedDefault) {
  if (usedDefault) *usedDefault = false;
  if (text.empty()) return {};
  const int length = static_cast<int>(text.size());
  BOOL used = FALSE;
  BOOL* usedArg = usedDefault && TakesDefaultChar(codePage) ? &used : nullptr;
  const int needed = WideCharToMultiByte(codePage, 0, W(text.data()), length, nullptr, 0, nullptr, usedArg);
  if (needed <= 0) {
    if (usedDefault) *usedDefault = true;  // nothing came out: the text has no form there
    return {};
  }
  std::string out(static_cast<std::size_t>(needed), '\0');
  used = FALSE;
  const int n = WideCharToMultiByte(codePage, 0, W(text.data()), length, out.data(), needed, nullptr, usedArg);
  out.resize(n > 0 ? static_cast<std::size_t>(n) : 0);
  if (usedDefault) *usedDefault = used != FALSE || n <= 0;
  return out;
}

std::u16string Win32WidePlatform::FromAnsi(unsigned codePage, std::string_view bytes, unsigned flags) {
  if (bytes.empty()) return {};
  const int length = static_cast<int>(bytes.size());
  const int needed = MultiByteToWideChar(codePage, flags, bytes.data(), length, nullptr, 0);
  if (needed <= 0) return {};
  std::u16string out(static_cast<std::size_t>(needed), u'\0');
  const int n = MultiByteToWideChar(codePage, flags, bytes.data(), length, W(out.data()), needed);
  out.resize(n > 0 ? static_cast<std::size_t>(n) : 0);
  return out;
}

int Win32WidePlatform::SetWindowTextW(void* wnd, const char16_t* text) {
  return ::SetWindowTextW(static_cast<HWND>(wnd), W(text));
}

int Win32WidePlatform::SetWindowTextA(void* wnd, const char* text) {
  return ::SetWindowTextA(static_cast<HWND>(wnd), text);
}

int Win32WidePlatform::DrawTextW(void* dc, const char16_t* text, int count, void* rect, unsigned format) {
  return ::DrawTextW(static_cast<HDC>(dc), W(text), count, static_cast<RECT*>(rect), format);
}

int Win32WidePlatform::DrawTextA(void* dc, const char* text, int count, void* rect, unsigned format) {
  return ::DrawTextA(static_cast<HDC>(dc), text, count, static_cast<RECT*>(rect), format);
}

unsigned Win32WidePlatform::GetModuleFileNameW(void* module, char16_t* buffer, unsigned size) {
  return ::GetModuleFileNameW(static_cast<HMODULE>(module), W(buffer), size);
}

unsigned Win32WidePlatform::GetModuleFileNameA(void* module, char* buffer, unsigned size) {
  return ::GetModuleFileNameA(static_cast<HMODULE>(module), buffer, size);
}

int Win32WidePlatform::CompareStringW(unsigned locale, unsigned flags, const char16_t* s1, int n1, const char16_t* s2,
                                      int n2) {
  return ::CompareStringW(locale, flags, W(s1), n1, W(s2), n2);
}

int Win32WidePlatform::CompareStringA(unsigned locale, unsigned flags, const char* s1, int n1, const char* s2, int n2) {
  return ::CompareStringA(locale, flags, s1, n1, s2, n2);
}

char16_t* Win32WidePlatform::CharUpperW(char16_t* value) {
  return reinterpret_cast<char16_t*>(::CharUpperW(W(value)));
}

char* Win32WidePlatform::CharUpperA(char* value) {
  return ::CharUpperA(value);
}

unsigned Win32WidePlatform::CharUpperBuffW(char16_t* text, unsigned count) {
  return ::CharUpperBuffW(W(text), count);
}

unsigned Win32WidePlatform::ThreadLocale() {
  return GetThreadLocale();
}

unsigned Win32WidePlatform::LastError() {
  return GetLastError();
}

std::string Win32WidePlatform::ErrorMessage(unsigned code) {
  return SysErrorMessage(code);
}

std::u16string Win32WidePlatform::CommandLine() {
  const wchar_t* line = GetCommandLineW();
  return line ? std::u16string(reinterpret_cast<const char16_t*>(line)) : std::u16string();
}

std::uintptr_t Win32WidePlatform::KeyboardLayout() {
  return reinterpret_cast<std::uintptr_t>(GetKeyboardLayout(0));
}

std::string Win32WidePlatform::LocaleInfoA(unsigned locale, unsigned type, int maxChars) {
  if (maxChars <= 0) return {};
  std::vector<char> buffer(static_cast<std::size_t>(maxChars), '\0');
  const int n = GetLocaleInfoA(locale, type, buffer.data(), maxChars);
  if (n <= 0) return {};
  return std::string(buffer.data());
}

unsigned Win32WidePlatform::AnsiCodePage() {
  return GetACP();
}

void UseWin32WidePlatform() {
  static Win32WidePlatform platform;
  SetWidePlatform(&platform);
}

bool Win32WidePlatform::DbcsEnabled() {
  return GetSystemMetrics(SM_DBCSENABLED) != 0;
}
