// The Unicode layer's platform on Win32: the real version query, wide and ANSI
// calls, and conversions by WideCharToMultiByte / MultiByteToWideChar (no
// best-fit mapping). A program installs it once at start-up, before the
// layer's units start (InitUcxSysUtils reads the version from it).
#pragma once

#include "WidePlatform.h"

class Win32WidePlatform : public WidePlatform {
 public:
  bool Version(WideVersionInfo& info) override;
  std::string ToAnsi(unsigned codePage, std::u16string_view text, bool* usedDefault) override;
  std::u16string FromAnsi(unsigned codePage, std::string_view bytes, unsigned flags) override;
  int SetWindowTextW(void* wnd, const char16_t* text) override;
  int SetWindowTextA(void* wnd, const char* text) override;
  int DrawTextW(void* dc, const char16_t* text, int count, void* rect, unsigned format) override;
  int DrawTextA(void* dc, const char* text, int count, void* rect, unsigned format) override;
  unsigned GetModuleFileNameW(void* module, char16_t* buffer, unsigned size) override;
  unsigned GetModuleFileNameA(void* module, char* buffer, unsigned size) override;
  int CompareStringW(unsigned locale, unsigned flags, const char16_t* s1, int n1, const char16_t* s2, int n2) override;
  int CompareStringA(unsigned locale, unsigned flags, const char* s1, int n1, const char* s2, int n2) override;
  char16_t* CharUpperW(char16_t* value) override;
  char* CharUpperA(char* value) override;
  unsigned CharUpperBuffW(char16_t* text, unsigned count) override;
  unsigned ThreadLocale() override;
  unsigned LastError() override;
  std::string ErrorMessage(unsigned code) override;
  std::u16string CommandLine() override;
  std::uintptr_t KeyboardLayout() override;
  std::string LocaleInfoA(unsigned locale, unsigned type, int maxChars) override;
  unsigned AnsiCodePage() override;
  bool DbcsEnabled() override;
};

// Makes the Win32 platform the one the Unicode layer uses.
void UseWin32WidePlatform();
