// A platform for the Unicode layer's tests: the portable stand-in with the
// ANSI and wide calls recorded and the system's answers set by the test, and a
// scope that installs it with chosen platform flags and restores both.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "SysUtils.h"
#include "UcxSysUtils.h"
#include "WidePlatform.h"

class RecordingWidePlatform : public PortableWidePlatform {
 public:
  // What the system answers.
  WideVersionInfo version;
  bool versionOk = true;
  std::u16string commandLine;
  std::u16string moduleWide;
  std::string moduleAnsi;
  unsigned failWithError = 0;  // the module-name calls fail with this error when not 0
  std::uintptr_t layout = 0x04090409;
  std::string localeInfo = "1252";
  unsigned acp = 1252;
  unsigned locale = 0x0409;

  // What was called, one line a call ("SetWindowTextA Caf\xE9").
  std::vector<std::string> calls;
  unsigned lastCompareLocale = 0;

  bool Version(WideVersionInfo& info) override {
    info = version;
    return versionOk;
  }
  int SetWindowTextW(void*, const char16_t* text) override {
    calls.push_back("SetWindowTextW " + WideToUtf8(text ? text : u""));
    return 1;
  }
  int SetWindowTextA(void*, const char* text) override {
    calls.push_back(std::string("SetWindowTextA ") + (text ? text : ""));
    return 1;
  }
  int DrawTextW(void*, const char16_t* text, int count, void*, unsigned format) override {
    const std::u16string s = count < 0 ? std::u16string(text) : std::u16string(text, count);
    calls.push_back("DrawTextW " + WideToUtf8(s) + " " + IntToStr(count) + " " + IntToStr(format));
    return 7;
  }
  int DrawTextA(void*, const char* text, int count, void*, unsigned format) override {
    calls.push_back(std::string("DrawTextA ") + text + " " + IntToStr(count) + " " + IntToStr(format));
    return 8;
  }
  unsigned GetModuleFileNameW(void*, char16_t* buffer, unsigned size) override {
    calls.push_back("GetModuleFileNameW");
    if (failWithError) return Fail();
    unsigned n = 0;
    for (; n < moduleWide.size() && n < size; ++n) buffer[n] = moduleWide[n];
    if (n < size) buffer[n] = 0;
    return n;
  }
  unsigned GetModuleFileNameA(void*, char* buffer, unsigned size) override {
    calls.push_back("GetModuleFileNameA " + IntToStr(size));
    if (failWithError) return Fail();
    unsigned n = 0;
    for (; n < moduleAnsi.size() && n < size; ++n) buffer[n] = moduleAnsi[n];
    if (n < size) buffer[n] = 0;
    return n;
  }
  int CompareStringW(unsigned loc, unsigned flags, const char16_t* s1, int n1, const char16_t* s2, int n2) override {
    lastCompareLocale = loc;
    calls.push_back("CompareStringW " + IntToStr(flags));
    return PortableWidePlatform::CompareStringW(loc, flags, s1, n1, s2, n2);
  }
  int CompareStringA(unsigned loc, unsigned flags, const char* s1, int n1, const char* s2, int n2) override {
    lastCompareLocale = loc;
    calls.push_back("CompareStringA " + IntToStr(flags) + " " + s1 + " " + IntToStr(n1) + " " + s2 + " " +
                    IntToStr(n2));
    return PortableWidePlatform::CompareStringA(loc, flags, s1, n1, s2, n2);
  }
  char* CharUpperA(char* value) override {
    calls.push_back("CharUpperA");
    return PortableWidePlatform::CharUpperA(value);
  }
  char16_t* CharUpperW(char16_t* value) override {
    calls.push_back("CharUpperW");
    return PortableWidePlatform::CharUpperW(value);
  }
  unsigned CharUpperBuffW(char16_t* text, unsigned count) override {
    calls.push_back("CharUpperBuffW " + IntToStr(count));
    return PortableWidePlatform::CharUpperBuffW(text, count);
  }
  unsigned ThreadLocale() override { return locale; }
  std::u16string CommandLine() override { return commandLine; }
  std::uintptr_t KeyboardLayout() override { return layout; }
  std::string LocaleInfoA(unsigned loc, unsigned type, int maxChars) override {
    calls.push_back("LocaleInfoA " + IntToHex(loc, 4) + " " + IntToHex(type, 4) + " " + IntToStr(maxChars));
    return localeInfo;
  }
  unsigned AnsiCodePage() override { return acp; }

 private:
  unsigned Fail() {
    lastError_ = failWithError;
    return 0;
  }
};

// Installs `platform` and the two platform flags for one test.
class WidePlatformScope {
 public:
  WidePlatformScope(WidePlatform* platform, bool unicode, bool xp = true)
      : old_(SetWidePlatform(platform)), unicode_(IsUnicodePlatform), xp_(IsXPOrLater) {
    IsUnicodePlatform = unicode;
    IsXPOrLater = xp;
  }
  ~WidePlatformScope() {
    SetWidePlatform(old_);
    IsUnicodePlatform = unicode_;
    IsXPOrLater = xp_;
  }
  WidePlatformScope(const WidePlatformScope&) = delete;
  WidePlatformScope& operator=(const WidePlatformScope&) = delete;

 private:
  WidePlatform* old_;
  bool unicode_;
  bool xp_;
};
