// The national-language-support calls the localization engine makes, behind
// a small interface: the Win32 implementation lives in win/, and a table of
// locales and code pages (TTableLocaleServices) stands in for it elsewhere.
// Signatures follow the system calls so the callers' algorithms stay the same
// on either side.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// LCTYPE values used by the engine.
inline constexpr std::uint32_t kLocaleSLanguage = 0x0002;
inline constexpr std::uint32_t kLocaleSAbbrevLangName = 0x0003;
inline constexpr std::uint32_t kLocaleSNativeLangName = 0x0004;
inline constexpr std::uint32_t kLocaleSEnglishLanguage = 0x1001;
inline constexpr std::uint32_t kLocaleIDefaultAnsiCodePage = 0x1004;
inline constexpr std::uint16_t kC2RightToLeft = 2;
inline constexpr std::uint32_t kDefaultCharset = 1;

class TLocaleServices {
 public:
  virtual ~TLocaleServices() = default;
  // GetLocaleInfoA: with size 0 the count needed (terminating zero included);
  // otherwise the count written; 0 on failure.
  virtual int QueryLocaleInfo(std::uint32_t locale, std::uint32_t lcType, char* buffer, int size) = 0;
  // EnumSystemLocalesA(LCID_SUPPORTED): each locale as hexadecimal text.
  virtual std::vector<std::string> EnumSupportedLocales() = 0;
  virtual bool IsValidCodePage(std::uint32_t codePage) = 0;
  virtual std::uint32_t AnsiCodePage() = 0;
  // MultiByteToWideChar / WideCharToMultiByte: the converted text, or false
  // when the call gives 0 (unknown code page).
  virtual bool AnsiToWide(std::uint32_t codePage, const std::string& text, std::u16string& out) = 0;
  virtual bool WideToAnsi(std::uint32_t codePage, const std::u16string& text, std::string& out) = 0;
  // TranslateCharsetInfo(TCI_SRCCODEPAGE).
  virtual bool CharsetOfCodePage(std::uint32_t codePage, std::uint32_t& charset) = 0;
  // LCMapStringA(LCMAP_SORTKEY | NORM_IGNORECASE): like GetLocaleInfo, size 0 asks for the size.
  virtual int MapSortKey(std::uint32_t locale, const char* text, int length, char* buffer, int size) = 0;
  // GetStringTypeExA(CT_CTYPE2).
  virtual bool StringTypeC2(std::uint32_t locale, const char* text, int length, std::uint16_t* types) = 0;
  // True on the NT line.
  virtual bool IsNtPlatform() = 0;
  // GetUserDefaultLangID.
  virtual std::uint16_t UserDefaultLangId() = 0;
  // CompareStringW in the user's default locale: -1, 0 or 1; raises EOSError
  // when the system cannot compare.
  virtual int CompareWideText(std::u16string_view a, std::u16string_view b, bool ignoreCase) = 0;
};

// The services in use. Until one is installed, the table services serve.
TLocaleServices& LocaleServices();
// Installs `services` (not owned; nullptr goes back to the table) and drops
// the cached locale lists. Returns the one installed before.
TLocaleServices* SetLocaleServices(TLocaleServices* services);

// A table of common locales and the single-byte Windows code pages
// 1250 to 1257; the ANSI code page is 1252 and the platform counts as NT.
class TTableLocaleServices : public TLocaleServices {
 public:
  int QueryLocaleInfo(std::uint32_t locale, std::uint32_t lcType, char* buffer, int size) override;
  std::vector<std::string> EnumSupportedLocales() override;
  bool IsValidCodePage(std::uint32_t codePage) override;
  std::uint32_t AnsiCodePage() override { return 1252; }
  bool AnsiToWide(std::uint32_t codePage, const std::string& text, std::u16string& out) override;
  bool WideToAnsi(std::uint32_t codePage, const std::u16string& text, std::string& out) override;
  bool CharsetOfCodePage(std::uint32_t codePage, std::uint32_t& charset) override;
  int MapSortKey(std::uint32_t locale, const char* text, int length, char* buffer, int size) override;
  bool StringTypeC2(std::uint32_t locale, const char* text, int length, std::uint16_t* types) override;
  bool IsNtPlatform() override { return nt_; }
  std::uint16_t UserDefaultLangId() override { return 0x0409; }
  // Code-unit order, with ASCII and Latin-1 letters folded when ignoring case.
  int CompareWideText(std::u16string_view a, std::u16string_view b, bool ignoreCase) override;

  void SetNtPlatform(bool nt) { nt_ = nt; }

 private:
  bool nt_ = true;
};
