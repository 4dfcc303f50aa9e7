// The system calls the Unicode layer stands on, behind one small interface:
// the version query, the wide (W) and ANSI (A) forms of the window, drawing,
// module-name, comparison and case calls, and every conversion between UTF-16
// and an ANSI code page. The Win32 build installs the real calls at start-up
// (UseWin32WidePlatform); until then, and in the native build, a portable
// stand-in answers: it reports the NT line at version 5.1, converts through
// Windows-1252, compares by UTF-16 units and has no windows.
//
// Handles (windows, device contexts, modules) and the drawing rectangle are
// passed through untouched as opaque pointers.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// Platform identifiers of the version query.
constexpr unsigned kPlatformWin32Windows = 1;  // the 9x line
constexpr unsigned kPlatformWin32NT = 2;

// Code-page and conversion flags with their system values.
constexpr unsigned kCodePageAnsi = 0;                    // CP_ACP
constexpr unsigned kUseGlyphChars = 4;                   // MB_USEGLYPHCHARS
constexpr unsigned kNormIgnoreCase = 1;                  // NORM_IGNORECASE
constexpr unsigned kLocaleDefaultAnsiCodePage = 0x1004;  // LOCALE_IDEFAULTANSICODEPAGE

struct WideVersionInfo {
  unsigned platformId = kPlatformWin32NT;
  unsigned major = 5;
  unsigned minor = 1;
};

class WidePlatform {
 public:
  virtual ~WidePlatform() = default;

  // The operating system's version; false when the query fails.
  virtual bool Version(WideVersionInfo& info) = 0;

  // UTF-16 to bytes of `codePage` without best-fit mapping; `usedDefault` (may be
  // null) tells whether a character had to be replaced by the default character.
  virtual std::string ToAnsi(unsigned codePage, std::u16string_view text, bool* usedDefault) = 0;
  // Bytes of `codePage` to UTF-16 with the conversion flags (kUseGlyphChars).
  virtual std::u16string FromAnsi(unsigned codePage, std::string_view bytes, unsigned flags) = 0;

  virtual int SetWindowTextW(void* wnd, const char16_t* text) = 0;
  virtual int SetWindowTextA(void* wnd, const char* text) = 0;
  virtual int DrawTextW(void* dc, const char16_t* text, int count, void* rect, unsigned format) = 0;
  virtual int DrawTextA(void* dc, const char* text, int count, void* rect, unsigned format) = 0;
  virtual unsigned GetModuleFileNameW(void* module, char16_t* buffer, unsigned size) = 0;
  virtual unsigned GetModuleFileNameA(void* module, char* buffer, unsigned size) = 0;
  virtual int CompareStringW(unsigned locale, unsigned flags, const char16_t* s1, int n1, const char16_t* s2,
                             int n2) = 0;
  virtual int CompareStringA(unsigned locale, unsigned flags, const char* s1, int n1, const char* s2, int n2) = 0;
  // The character forms of the upper-case calls: a value below 0x10000 is a
  // character, anything else a pointer to a 0-terminated text changed in place.
  virtual char16_t* CharUpperW(char16_t* value) = 0;
  virtual char* CharUpperA(char* value) = 0;
  virtual unsigned CharUpperBuffW(char16_t* text, unsigned count) = 0;

  virtual unsigned ThreadLocale() = 0;
  virtual unsigned LastError() = 0;
  virtual std::string ErrorMessage(unsigned code) = 0;
  virtual std::u16string CommandLine() = 0;
  virtual std::uintptr_t KeyboardLayout() = 0;
  // The locale's information of `type` as the ANSI call gives it into a buffer
  // of `maxChars` characters (terminator included); empty when it fails.
  virtual std::string LocaleInfoA(unsigned locale, unsigned type, int maxChars) = 0;
  virtual unsigned AnsiCodePage() = 0;
  // The system's double-byte character set is enabled (a Far East system).
  virtual bool DbcsEnabled() = 0;
};

// The platform in use; never null.
WidePlatform& CurrentWidePlatform();
// Installs `platform` (not owned; it must outlive its use); null restores the
// portable stand-in. Returns the one that was installed before.
WidePlatform* SetWidePlatform(WidePlatform* platform);

// The portable stand-in, also a base for test doubles that change a few calls.
class PortableWidePlatform : public WidePlatform {
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
  unsigned ThreadLocale() override { return 0x0409; }
  unsigned LastError() override { return lastError_; }
  std::string ErrorMessage(unsigned code) override;
  std::u16string CommandLine() override { return {}; }
  std::uintptr_t KeyboardLayout() override { return 0x04090409; }
  std::string LocaleInfoA(unsigned locale, unsigned type, int maxChars) override;
  unsigned AnsiCodePage() override { return 1252; }
  bool DbcsEnabled() override { return false; }

 protected:
  unsigned lastError_ = 0;
};
