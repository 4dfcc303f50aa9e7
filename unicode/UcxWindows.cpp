#include "UcxWindows.h"

#include <string>
#include <string_view>

#include "UcxSysUtils.h"
#include "WidePlatform.h"

namespace {

constexpr unsigned kAnsiPathBytes = 260;

std::u16string_view Counted(const char16_t* s, int n) {
  if (!s) return {};
  if (n < 0) return std::u16string_view(s);
  return std::u16string_view(s, static_cast<std::size_t>(n));
}

// The 9x line's upper case of one unit: through the ANSI call when the unit
// fits the conversion code page and has a one-byte ANSI form that comes back
// as one unit. (A unit that fits a conversion code page other than the ANSI
// one would narrow to the default character and come back as that.)
char16_t UpperOneUnit(char16_t c) {
  if (!WideCharFitsAnsi(c)) return c;
  bool usedDefault = true;
  const std::string ansi = CurrentWidePlatform().ToAnsi(kCodePageAnsi, std::u16string_view(&c, 1), &usedDefault);
  if (usedDefault || ansi.size() != 1) return c;
  const auto byte = static_cast<unsigned char>(ansi[0]);
  char* upper = CurrentWidePlatform().CharUpperA(reinterpret_cast<char*>(static_cast<std::uintptr_t>(byte)));
  const char back = static_cast<char>(reinterpret_cast<std::uintptr_t>(upper) & 0xFF);
  const WideString wide = WidenFromAnsi(std::string_view(&back, 1));
  return wide.size() == 1 ? wide[0] : c;
}

}  // namespace

int SetWindowTextWide(void* wnd, const char16_t* text) {
  WidePlatform& p = CurrentWidePlatform();
  if (IsUnicodePlatform) return p.SetWindowTextW(wnd, text);
  return p.SetWindowTextA(wnd, NarrowToAnsi(Counted(text, -1)).c_str());
}

int DrawTextWide(void* dc, const char16_t* text, int count, void* rect, unsigned format) {
  WidePlatform& p = CurrentWidePlatform();
  if (IsUnicodePlatform) return p.DrawTextW(dc, text, count, rect, format);
  return p.DrawTextA(dc, NarrowToAnsi(Counted(text, count)).c_str(), -1, rect, format);
}

unsigned GetModuleFileNameWide(void* module, char16_t* buffer, unsigned size) {
  WidePlatform& p = CurrentWidePlatform();
  if (IsUnicodePlatform) return p.GetModuleFileNameW(module, buffer, size);
  char ansi[kAnsiPathBytes + 1] = {};
  unsigned n = p.GetModuleFileNameA(module, ansi, kAnsiPathBytes);
  if (n == 0) {
    // The failure is the caller's to report: nothing may reset the last error.
    if (size > 0) buffer[0] = 0;
    return 0;
  }
  if (n > kAnsiPathBytes) n = kAnsiPathBytes;
  const WideString wide = WidenFromAnsi(std::string_view(ansi, n));
  if (wide.size() < size) {
    WideCopyChars(buffer, wide.data(), wide.size());
    return static_cast<unsigned>(wide.size());
  }
  for (unsigned i = 0; i < size; ++i) buffer[i] = wide[i];
  return size;
}

int CompareStringWide(unsigned locale, unsigned flags, const char16_t* s1, int n1, const char16_t* s2, int n2) {
  WidePlatform& p = CurrentWidePlatform();
  if (IsUnicodePlatform) return p.CompareStringW(locale, flags, s1, n1, s2, n2);
  const std::u16string_view a = Counted(s1, n1);
  const std::u16string_view b = Counted(s2, n2);
  if (flags != 0) return p.CompareStringA(locale, flags, NarrowToAnsi(a).c_str(), -1, NarrowToAnsi(b).c_str(), -1);
  const int order = a.compare(b);
  return order < 0 ? 1 : order == 0 ? 2 : 3;
}

char16_t* CharUpperWide(char16_t* value) {
  if (IsUnicodePlatform) return CurrentWidePlatform().CharUpperW(value);
  if (!IsIntResourceValue(value)) {
    for (char16_t* c = value; *c; ++c) *c = UpperOneUnit(*c);
    return value;
  }
  const auto unit = static_cast<char16_t>(reinterpret_cast<std::uintptr_t>(value));
  return reinterpret_cast<char16_t*>(static_cast<std::uintptr_t>(UpperOneUnit(unit)));
}

unsigned CharUpperBuffWide(char16_t* text, unsigned count) {
  if (IsUnicodePlatform) return CurrentWidePlatform().CharUpperBuffW(text, count);
  for (unsigned i = 0; i < count; ++i) text[i] = UpperOneUnit(text[i]);
  return count;
}
