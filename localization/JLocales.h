// Locale information: English language names, the abbreviations that name
// language files and libraries, code pages, charsets, conversions in a
// locale's code page, sort keys and right-to-left scripts. Locales are
// Windows LCIDs; the engine keys languages by LANGID (low 16 bits) and a
// primary language is the low 10 bits. The system calls go through
// LocaleServices().
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "Exceptions.h"
#include "Strings.h"

FW_EXCEPTION(ELocalesError, Exception);

// One entry of a locale list: the name and the locale (or primary language) it carries.
using TLocaleListEntry = std::pair<std::string, std::uint32_t>;
using TLocaleNameList = std::vector<TLocaleListEntry>;

enum TLocaleListMode { llmOnePerLanguage = 0, llmAll = 1, llmWithPrimaries = 2 };

std::string GetLocaleText(std::uint32_t locale, std::uint32_t lcType);
std::string LanguageNameFromTable(std::uint16_t langId);
// Fills `list` (replacing its contents) with the supported locales in the given mode.
void LocaleList(TLocaleNameList& list, int mode);
// The same into a string list: each name carries its locale in its object slot
// (read it back with LocaleOfListObject).
void LocaleList(TStrings& list, int mode);
inline std::uint32_t LocaleOfListObject(TObject* object) {
  return static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(object));
}
std::uint32_t LocaleFromAbbreviation(std::string_view abbreviation);
std::string LocaleFileAbbreviation(std::uint32_t locale);

std::u16string AnsiToWideCodePage(const std::string& text, std::uint32_t codePage);
std::string WideToAnsiCodePage(const std::u16string& text, std::uint32_t codePage);
std::u16string AnsiToWideForLocale(const std::string& text, std::uint32_t locale);
std::string WideToAnsiForLocale(const std::u16string& text, std::uint32_t locale);
std::uint32_t DefaultCodePageOfLocale(std::uint32_t locale);
std::uint32_t CharsetOfCodePage(std::uint32_t codePage);
std::uint32_t CharsetOfLocale(std::uint32_t locale);
// The sort key of `text` in `buffer`; returns its length, 0 (and an empty buffer) on failure.
int MakeSortKey(const std::string& text, std::uint32_t locale, std::string& buffer);
inline std::uint32_t PrimaryLanguageOf(std::uint32_t locale) {
  return locale & 0x3FF;
}
bool IsRightToLeftLocale(std::uint32_t locale);

// Drops the cached locale lists (they are rebuilt on the next request).
void ResetLocaleListCache();
