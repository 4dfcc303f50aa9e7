#include "JLocales.h"

#include <array>
#include <mutex>
#include <optional>

#include "JStrings.h"
#include "LocaleServices.h"
#include "SysUtils.h"

namespace {

struct TLanguageName {
  std::uint16_t langId;
  const char* name;
};

const TLanguageName kLanguageNames[] = {
    {0x0401, "Arabic (Saudi Arabia)"},
    {0x0402, "Bulgarian"},
    {0x0403, "Catalan"},
    {0x0404, "Chinese (Taiwan)"},
    {0x0405, "Czech"},
    {0x0406, "Danish"},
    {0x0407, "German (Germany)"},
    {0x0408, "Greek"},
    {0x0409, "English (United States)"},
    {0x040A, "Spanish (Traditional Sort)"},
    {0x040B, "Finnish"},
    {0x040C, "French (France)"},
    {0x040D, "Hebrew"},
    {0x040E, "Hungarian"},
    {0x040F, "Icelandic"},
    {0x0410, "Italian (Italy)"},
    {0x0411, "Japanese"},
    {0x0412, "Korean"},
    {0x0413, "Dutch (Netherlands)"},
    {0x0414, "Norwegian (Bokmal)"},
    {0x0415, "Polish"},
    {0x0416, "Portuguese (Brazil)"},
    {0x0418, "Romanian"},
    {0x0419, "Russian"},
    {0x041A, "Croatian"},
    {0x041B, "Slovak"},
    {0x041C, "Albanian"},
    {0x041D, "Swedish"},
    {0x041E, "Thai"},
    {0x041F, "Turkish"},
    {0x0420, "Urdu"},
    {0x0421, "Indonesian"},
    {0x0422, "Ukrainian"},
    {0x0423, "Belarusian"},
    {0x0424, "Slovenian"},
    {0x0425, "Estonian"},
    {0x0426, "Latvian"},
    {0x0427, "Lithuanian"},
    {0x0429, "Farsi"},
    {0x042A, "Vietnamese"},
    {0x042B, "Armenian"},
    {0x042C, "Azeri (Latin)"},
    {0x042D, "Basque"},
    {0x042F, "Macedonian (FYROM)"},
    {0x0436, "Afrikaans"},
    {0x0437, "Georgian"},
    {0x0438, "Faeroese"},
    {0x0439, "Hindi"},
    {0x043E, "Malay (Malaysia)"},
    {0x043F, "Kazakh"},
    {0x0440, "Kyrgyz (Cyrillic)"},
    {0x0441, "Swahili"},
    {0x0443, "Uzbek (Latin)"},
    {0x0444, "Tatar"},
    {0x0446, "Punjabi"},
    {0x0447, "Gujarati"},
    {0x0449, "Tamil"},
    {0x044A, "Telugu"},
    {0x044B, "Kannada"},
    {0x044E, "Marathi"},
    {0x044F, "Sanskrit"},
    {0x0450, "Mongolian (Cyrillic)"},
    {0x0456, "Galician"},
    {0x0457, "Konkani"},
    {0x045A, "Syriac"},
    {0x0465, "Divehi"},
    {0x0801, "Arabic (Iraq)"},
    {0x0804, "Chinese (PRC)"},
    {0x0807, "German (Switzerland)"},
    {0x0809, "English (United Kingdom)"},
    {0x080A, "Spanish (Mexico)"},
    {0x080C, "French (Belgium)"},
    {0x0810, "Italian (Switzerland)"},
    {0x0813, "Dutch (Belgium)"},
    {0x0814, "Norwegian (Nynorsk)"},
    {0x0816, "Portuguese (Portugal)"},
    {0x081A, "Serbian (Latin)"},
    {0x081D, "Swedish (Finland)"},
    {0x082C, "Azeri (Cyrillic)"},
    {0x083E, "Malay (Brunei Darussalam)"},
    {0x0843, "Uzbek (Cyrillic)"},
    {0x0C01, "Arabic (Egypt)"},
    {0x0C04, "Chinese (Hong Kong)"},
    {0x0C07, "German (Austria)"},
    {0x0C09, "English (Australia)"},
    {0x0C0A, "Spanish (International Sort)"},
    {0x0C0C, "French (Canada)"},
    {0x0C1A, "Serbian (Cyrillic)"},
    {0x1001, "Arabic (Libya)"},
    {0x1004, "Chinese (Singapore)"},
    {0x1007, "German (Luxembourg)"},
    {0x1009, "English (Canada)"},
    {0x100A, "Spanish (Guatemala)"},
    {0x100C, "French (Switzerland)"},
    {0x1401, "Arabic (Algeria)"},
    {0x1404, "Chinese (Macau)"},
    {0x1407, "German (Liechtenstein)"},
    {0x1409, "English (New Zealand)"},
    {0x140A, "Spanish (Costa Rica)"},
    {0x140C, "French (Luxembourg)"},
    {0x1801, "Arabic (Morocco)"},
    {0x1809, "English (Ireland)"},
    {0x180A, "Spanish (Panama)"},
    {0x180C, "French (Monaco)"},
    {0x1C01, "Arabic (Tunisia)"},
    {0x1C09, "English (South Africa)"},
    {0x1C0A, "Spanish (Dominican Republic)"},
    {0x2001, "Arabic (Oman)"},
    {0x2009, "English (Jamaica)"},
    {0x200A, "Spanish (Venezuela)"},
    {0x2401, "Arabic (Yemen)"},
    {0x2409, "English (Caribbean)"},
    {0x240A, "Spanish (Colombia)"},
    {0x2801, "Arabic (Syria)"},
    {0x2809, "English (Belize)"},
    {0x280A, "Spanish (Peru)"},
    {0x2C01, "Arabic (Jordan)"},
    {0x2C09, "English (Trinidad)"},
    {0x2C0A, "Spanish (Argentina)"},
    {0x3001, "Arabic (Lebanon)"},
    {0x3009, "English (Zimbabwe)"},
    {0x300A, "Spanish (Ecuador)"},
    {0x3401, "Arabic (Kuwait)"},
    {0x3409, "English (Philippines)"},
    {0x340A, "Spanish (Chile)"},
    {0x3801, "Arabic (U.A.E.)"},
    {0x380A, "Spanish (Uruguay)"},
    {0x3C01, "Arabic (Bahrain)"},
    {0x3C0A, "Spanish (Paraguay)"},
    {0x4001, "Arabic (Qatar)"},
    {0x400A, "Spanish (Bolivia)"},
    {0x440A, "Spanish (El Salvador)"},
    {0x480A, "Spanish (Honduras)"},
    {0x4C0A, "Spanish (Nicaragua)"},
    {0x500A, "Spanish (Puerto Rico)"},
};

std::mutex gListsLock;
std::array<std::optional<TLocaleNameList>, 3> gLists;

TTableLocaleServices gTableServices;
TLocaleServices* gServices = nullptr;

std::string_view TrimView(std::string_view s) {
  std::size_t b = 0, e = s.size();
  while (b < e && static_cast<unsigned char>(s[b]) <= ' ') ++b;
  while (e > b && static_cast<unsigned char>(s[e - 1]) <= ' ') --e;
  return s.substr(b, e - b);
}

// The text before the first "(", trimmed.
std::string BeforeParenthesis(const std::string& name) {
  std::size_t pos = name.find('(');
  return std::string(TrimView(std::string_view(name).substr(0, pos)));
}

TLocaleNameList EnumerateLocales() {
  TLocaleNameList list;
  for (const std::string& hex : LocaleServices().EnumSupportedLocales()) {
    try {
      std::uint32_t locale = HexTextToInt(hex);
      std::uint32_t codePage =
          static_cast<std::uint32_t>(TextToIntOrZero(GetLocaleText(locale, kLocaleIDefaultAnsiCodePage)));
      if (!LocaleServices().IsValidCodePage(codePage)) continue;
      std::string name = GetLocaleText(locale, kLocaleSLanguage);
      if (!name.empty()) list.emplace_back(std::move(name), locale);
    } catch (const std::exception&) {
      // A locale whose texts cannot be read is left out.
    }
  }
  return list;
}

TLocaleNameList OnePerLanguage(TLocaleNameList list) {
  for (std::size_t i = 0; i < list.size(); ++i) {
    std::uint32_t primary = PrimaryLanguageOf(list[i].second);
    bool removed = false;
    for (std::size_t j = list.size(); j-- > i + 1;) {
      if (PrimaryLanguageOf(list[j].second) == primary) {
        list.erase(list.begin() + static_cast<std::ptrdiff_t>(j));
        removed = true;
      }
    }
    if (removed) list[i] = {BeforeParenthesis(list[i].first), primary};
  }
  return list;
}

TLocaleNameList WithPrimaries(TLocaleNameList list) {
  for (std::size_t i = 0; i + 1 < list.size(); ++i) {
    std::uint32_t primary = PrimaryLanguageOf(list[i].second);
    bool present = false;
    for (const auto& e : list)
      if (e.second == primary) present = true;
    if (present) continue;
    bool later = false;
    for (std::size_t j = i + 1; j < list.size() && !later; ++j) later = PrimaryLanguageOf(list[j].second) == primary;
    if (!later) continue;
    list.insert(list.begin() + static_cast<std::ptrdiff_t>(i), {BeforeParenthesis(list[i].first), primary});
    ++i;  // step past the entry the primary language was inserted for
  }
  return list;
}

// A copy of the cached list of a mode, built on the first request.
TLocaleNameList CachedList(int mode) {
  std::size_t slot = mode == 0 ? 0 : mode == 2 ? 2 : 1;
  std::lock_guard<std::mutex> lock(gListsLock);
  if (!gLists[slot]) {
    TLocaleNameList all = EnumerateLocales();
    if (slot == 0)
      gLists[slot] = OnePerLanguage(std::move(all));
    else if (slot == 2)
      gLists[slot] = WithPrimaries(std::move(all));
    else
      gLists[slot] = std::move(all);
  }
  return *gLists[slot];
}

}  // namespace

TLocaleServices& LocaleServices() {
  return gServices ? *gServices : gTableServices;
}

TLocaleServices* SetLocaleServices(TLocaleServices* services) {
  TLocaleServices* old = gServices;
  gServices = services;
  ResetLocaleListCache();
  return old;
}

void ResetLocaleListCache() {
  std::lock_guard<std::mutex> lock(gListsLock);
  for (auto& l : gLists) l.reset();
}

std::string GetLocaleText(std::uint32_t locale, std::uint32_t lcType) {
  TLocaleServices& s = LocaleServices();
  int size = s.QueryLocaleInfo(locale, lcType, nullptr, 0);
  if (size <= 0) return std::string();
  std::string buffer(static_cast<std::size_t>(size), '\0');
  int got = s.QueryLocaleInfo(locale, lcType, buffer.data(), size);
  if (got != size) throw ELocalesError("Can not get locale info");
  std::size_t zero = buffer.find('\0');
  if (zero != std::string::npos) buffer.resize(zero);
  return buffer;
}

std::string LanguageNameFromTable(std::uint16_t langId) {
  for (const auto& e : kLanguageNames)
    if (e.langId == langId) return e.name;
  std::string name = GetLocaleText(langId, kLocaleSEnglishLanguage);
  if (langId != PrimaryLanguageOf(langId)) {
    std::size_t pos = name.find(" (");
    std::string base = pos == std::string::npos ? name : std::string(TrimView(std::string_view(name).substr(0, pos)));
    name = base + " (" + GetLocaleText(langId, kLocaleSAbbrevLangName) + ")";
  }
  return name;
}

void LocaleList(TLocaleNameList& list, int mode) {
  list = CachedList(mode);
}

void LocaleList(TStrings& list, int mode) {
  list.Clear();
  for (const auto& [name, locale] : CachedList(mode))
    list.AddObject(name, reinterpret_cast<TObject*>(static_cast<std::uintptr_t>(locale)));
}

std::string LocaleFileAbbreviation(std::uint32_t locale) {
  std::string text = GetLocaleText(locale, kLocaleSAbbrevLangName);
  if (locale == PrimaryLanguageOf(locale)) text = text.substr(0, 2);
  return text;
}

std::uint32_t LocaleFromAbbreviation(std::string_view abbreviation) {
  for (const auto& [name, locale] : CachedList(llmWithPrimaries))
    if (AnsiCompareText(LocaleFileAbbreviation(locale), abbreviation) == 0) return locale;
  return 0;
}

std::u16string AnsiToWideCodePage(const std::string& text, std::uint32_t codePage) {
  std::u16string out;
  if (text.empty()) return out;
  if (!LocaleServices().AnsiToWide(codePage, text, out)) return AnsiToWide(text);
  return out;
}

std::string WideToAnsiCodePage(const std::u16string& text, std::uint32_t codePage) {
  std::string out;
  if (text.empty()) return out;
  if (!LocaleServices().WideToAnsi(codePage, text, out)) return WideToAnsi(text);
  return out;
}

std::uint32_t DefaultCodePageOfLocale(std::uint32_t locale) {
  std::string text = GetLocaleText(locale, kLocaleIDefaultAnsiCodePage);
  if (text.empty()) return LocaleServices().AnsiCodePage();
  return static_cast<std::uint32_t>(TextToIntOrZero(text));
}

std::u16string AnsiToWideForLocale(const std::string& text, std::uint32_t locale) {
  return AnsiToWideCodePage(text, DefaultCodePageOfLocale(locale));
}

std::string WideToAnsiForLocale(const std::u16string& text, std::uint32_t locale) {
  return WideToAnsiCodePage(text, DefaultCodePageOfLocale(locale));
}

std::uint32_t CharsetOfCodePage(std::uint32_t codePage) {
  std::uint32_t charset = 0;
  if (LocaleServices().CharsetOfCodePage(codePage, charset)) return charset;
  if (LocaleServices().CharsetOfCodePage(LocaleServices().AnsiCodePage(), charset)) return charset;
  return kDefaultCharset;
}

std::uint32_t CharsetOfLocale(std::uint32_t locale) {
  return CharsetOfCodePage(DefaultCodePageOfLocale(locale));
}

int MakeSortKey(const std::string& text, std::uint32_t locale, std::string& buffer) {
  buffer.clear();
  TLocaleServices& s = LocaleServices();
  int length = static_cast<int>(text.size()) + 1;  // with the terminating zero
  int size = s.MapSortKey(locale, text.c_str(), length, nullptr, 0);
  if (size <= 0) return 0;
  buffer.assign(static_cast<std::size_t>(size), '\0');
  int got = s.MapSortKey(locale, text.c_str(), length, buffer.data(), size);
  if (got <= 0) {
    buffer.clear();
    return 0;
  }
  buffer.resize(static_cast<std::size_t>(got));
  return got;
}

bool IsRightToLeftLocale(std::uint32_t locale) {
  TLocaleServices& s = LocaleServices();
  if (s.IsNtPlatform()) {
    char chars[128];
    std::uint16_t types[128] = {};
    for (int i = 0; i < 128; ++i) chars[i] = static_cast<char>(128 + i);
    if (!s.StringTypeC2(locale, chars, 128, types)) return false;
    for (std::uint16_t t : types)
      if (t == kC2RightToLeft) return true;
    return false;
  }
  switch (PrimaryLanguageOf(locale)) {
    case 1:
    case 13:
    case 30:
    case 32:
    case 41:
      return true;
    default:
      return false;
  }
}
