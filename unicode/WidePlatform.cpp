#include "WidePlatform.h"

#include <atomic>
#include <cstring>

#include "SysUtils.h"

namespace {

constexpr unsigned kErrorCallNotImplemented = 120;

PortableWidePlatform g_portable;
std::atomic<WidePlatform*> g_platform{nullptr};

// The upper-case form of one unit: the letters of ASCII and Windows-1252.
char16_t UpperUnit(char16_t c) {
  if (c >= u'a' && c <= u'z') return static_cast<char16_t>(c - 32);
  if (c >= 0xE0 && c <= 0xFE && c != 0xF7) return static_cast<char16_t>(c - 32);
  switch (c) {
    case 0xFF:
      return 0x178;
    case 0x161:
    case 0x153:
    case 0x17E:
      return static_cast<char16_t>(c - 1);
    default:
      return c;
  }
}

std::u16string_view Counted(const char16_t* s, int n) {
  if (!s) return {};
  if (n < 0) return std::u16string_view(s);
  return std::u16string_view(s, static_cast<std::size_t>(n));
}

std::string_view Counted(const char* s, int n) {
  if (!s) return {};
  if (n < 0) return std::string_view(s);
  return std::string_view(s, static_cast<std::size_t>(n));
}

// 1 less, 2 equal, 3 greater, by units (folded to upper case when asked).
template <class View, class Fold>
int CompareUnits(View a, View b, Fold fold) {
  const std::size_t n = a.size() < b.size() ? a.size() : b.size();
  for (std::size_t i = 0; i < n; ++i) {
    const auto x = fold(a[i]);
    const auto y = fold(b[i]);
    if (x != y) return x < y ? 1 : 3;
  }
  if (a.size() == b.size()) return 2;
  return a.size() < b.size() ? 1 : 3;
}

bool IsCharacterValue(const void* value) {
  return (reinterpret_cast<std::uintptr_t>(value) >> 16) == 0;
}

}  // namespace

WidePlatform& CurrentWidePlatform() {
  WidePlatform* p = g_platform.load(std::memory_order_acquire);
  return p ? *p : g_portable;
}

WidePlatform* SetWidePlatform(WidePlatform* platform) {
  WidePlatform* old = g_platform.exchange(platform, std::memory_order_acq_rel);
  return old ? old : &g_portable;
}

bool PortableWidePlatform::Version(WideVersionInfo& info) {
  info = WideVersionInfo{};
  return true;
}

std::string PortableWidePlatform::ToAnsi(unsigned, std::u16string_view text, bool* usedDefault) {
  const WideString wide(text);
  std::string out = WideToAnsi(wide);
  if (usedDefault) {
    *usedDefault = false;
    for (std::size_t i = 0; i < wide.size(); ++i)
      if (out[i] == '?' && wide[i] != u'?') *usedDefault = true;
  }
  return out;
}

std::u16string PortableWidePlatform::FromAnsi(unsigned, std::string_view bytes, unsigned) {
  return AnsiToWide(bytes);
}

int PortableWidePlatform::SetWindowTextW(void*, const char16_t*) {
  lastError_ = kErrorCallNotImplemented;
  return 0;
}

int PortableWidePlatform::SetWindowTextA(void*, const char*) {
  lastError_ = kErrorCallNotImplemented;
  return 0;
}

int PortableWidePlatform::DrawTextW(void*, const char16_t*, int, void*, unsigned) {
  lastError_ = kErrorCallNotImplemented;
  return 0;
}

int PortableWidePlatform::DrawTextA(void*, const char*, int, void*, unsigned) {
  lastError_ = kErrorCallNotImplemented;
  return 0;
}

unsigned PortableWidePlatform::GetModuleFileNameW(void*, char16_t*, unsigned) {
  lastError_ = kErrorCallNotImplemented;
  return 0;
}

unsigned PortableWidePlatform::GetModuleFileNameA(void*, char*, unsigned) {
  lastError_ = kErrorCallNotImplemented;
  return 0;
}

int PortableWidePlatform::CompareStringW(unsigned, unsigned flags, const char16_t* s1, int n1, const char16_t* s2,
                                         int n2) {
  const bool fold = (flags & kNormIgnoreCase) != 0;
  return CompareUnits(Counted(s1, n1), Counted(s2, n2), [fold](char16_t c) { return fold ? UpperUnit(c) : c; });
}

int PortableWidePlatform::CompareStringA(unsigned, unsigned flags, const char* s1, int n1, const char* s2, int n2) {
  const bool fold = (flags & kNormIgnoreCase) != 0;
  return CompareUnits(Counted(s1, n1), Counted(s2, n2), [fold](char c) {
    const auto u = static_cast<unsigned char>(c);
    return fold ? UpperUnit(u) : static_cast<char16_t>(u);
  });
}

char16_t* PortableWidePlatform::CharUpperW(char16_t* value) {
  if (IsCharacterValue(value)) {
    const auto c = static_cast<char16_t>(reinterpret_cast<std::uintptr_t>(value));
    return reinterpret_cast<char16_t*>(static_cast<std::uintptr_t>(UpperUnit(c)));
  }
  for (char16_t* p = value; *p; ++p) *p = UpperUnit(*p);
  return value;
}

char* PortableWidePlatform::CharUpperA(char* value) {
  // Through the Windows-1252 table, so that the upper case may leave Latin-1.
  auto upper = [](unsigned char c) {
    const std::string back = WideToAnsi(WideString(1, UpperUnit(AnsiToWide(std::string(1, static_cast<char>(c)))[0])));
    return back[0] == '?' ? c : static_cast<unsigned char>(back[0]);
  };
  if (IsCharacterValue(value)) {
    const auto c = static_cast<unsigned char>(reinterpret_cast<std::uintptr_t>(value));
    return reinterpret_cast<char*>(static_cast<std::uintptr_t>(upper(c)));
  }
  for (char* p = value; *p; ++p) *p = static_cast<char>(upper(static_cast<unsigned char>(*p)));
  return value;
}

unsigned PortableWidePlatform::CharUpperBuffW(char16_t* text, unsigned count) {
  for (unsigned i = 0; i < count; ++i) text[i] = UpperUnit(text[i]);
  return count;
}

std::string PortableWidePlatform::ErrorMessage(unsigned code) {
  return code == kErrorCallNotImplemented ? "This function is not supported on this system."
                                          : "System error " + IntToStr(code) + ".";
}

std::string PortableWidePlatform::LocaleInfoA(unsigned, unsigned type, int maxChars) {
  if (type != kLocaleDefaultAnsiCodePage || maxChars < 5) return {};
  return "1252";
}
