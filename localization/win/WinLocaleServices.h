// The national-language-support calls of the system for the locale routines.
#pragma once

#include "LocaleServices.h"

class TWinLocaleServices : public TLocaleServices {
 public:
  int QueryLocaleInfo(std::uint32_t locale, std::uint32_t lcType, char* buffer, int size) override;
  std::vector<std::string> EnumSupportedLocales() override;
  bool IsValidCodePage(std::uint32_t codePage) override;
  std::uint32_t AnsiCodePage() override;
  bool AnsiToWide(std::uint32_t codePage, const std::string& text, std::u16string& out) override;
  bool WideToAnsi(std::uint32_t codePage, const std::u16string& text, std::string& out) override;
  bool CharsetOfCodePage(std::uint32_t codePage, std::uint32_t& charset) override;
  int MapSortKey(std::uint32_t locale, const char* text, int length, char* buffer, int size) override;
  bool StringTypeC2(std::uint32_t locale, const char* text, int length, std::uint16_t* types) override;
  bool IsNtPlatform() override;
  std::uint16_t UserDefaultLangId() override;
  int CompareWideText(std::u16string_view a, std::u16string_view b, bool ignoreCase) override;
};

// Installs the system's services for the locale routines (once per process).
void InstallWinLocaleServices();
