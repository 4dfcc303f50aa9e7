// Small routines on byte strings and locale identifiers shared by the wizard's
// units. The routines that ask Windows about a locale live with the Win32 code.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

// `s` with every occurrence of `ch` deleted.
std::string RemoveChar(std::string_view s, char ch);
// Every occurrence of `oldPattern` in `s`, found case-sensitively from left to
// right without overlapping, replaced by `newPattern`; inserted text is not
// searched again. An empty `s` or an empty `oldPattern` gives an empty result.
std::string ReplaceSubstring(std::string_view s, std::string_view oldPattern, std::string_view newPattern);
// Leading, trailing or both blanks (character 32 only) removed.
std::string TrimLeftSpaces(std::string_view s);
std::string TrimRightSpaces(std::string_view s);
std::string TrimSpaces(std::string_view s);
// The index-th field (counting from 1) of `s` split at `separator`; empty when
// there are fewer fields or the index is below 1. A trailing separator does not
// make a last empty field count.
std::string ExtractNthField(int index, std::string_view s, std::string_view separator);
// True when `s` is non-empty and does not start with a decimal digit: a product
// code such as "RM-123" rather than a model number such as "6310".
bool IsProductCode(std::string_view s);
// The language group of the user's and the system's default locale identifiers:
// 1 Russian, 2 Greek, 3 Chinese (any sub-language but Singapore on the system
// side only), 0 any other.
std::uint8_t ClassifyLocaleIds(std::uint32_t userLcid, std::uint32_t systemLcid);

// --- Locales -------------------------------------------------------------------------------------

// The system's national-language calls that the locale routines make. The
// Win32 ones are installed by the unit's Win32 initialization
// (InitNokiaUtilsWin); until then a stand-in serves that knows one locale,
// English (United States), whose code page 1252 it gives for every locale.
class TLocaleCalls {
 public:
  virtual ~TLocaleCalls() = default;
  // The locale's default ANSI code page as the system writes it (decimal
  // text of at most five digits); empty when the system cannot tell.
  virtual std::string DefaultAnsiCodePageText(std::uint32_t locale) = 0;
  // The system's ANSI code page.
  virtual std::uint32_t AnsiCodePage() = 0;
  // The whole of `text` in `codePage`; false when it cannot be converted.
  virtual bool WideToAnsi(std::uint32_t codePage, std::u16string_view text, std::string& out) = 0;
  // Case-insensitive comparisons in `locale`: 1 less, 2 equal, 3 greater, 0
  // when the system cannot compare.
  virtual int CompareAnsiIgnoreCase(std::uint32_t locale, std::string_view a, std::string_view b) = 0;
  virtual int CompareWideIgnoreCase(std::uint32_t locale, std::u16string_view a, std::u16string_view b) = 0;
  // The user's and the system's default locale identifiers.
  virtual std::uint32_t UserDefaultLcid() = 0;
  virtual std::uint32_t SystemDefaultLcid() = 0;
};

// The calls in use, and the installer (not owned; null puts the stand-in
// back). Returns the calls installed before.
TLocaleCalls& LocaleCalls();
TLocaleCalls* SetLocaleCalls(TLocaleCalls* calls);

// The locale's default ANSI code page; the system's ANSI code page when the
// locale's is not a decimal number.
int LocaleCodePage(std::uint32_t locale);
// Case-insensitive comparisons of two texts in `locale`: -1 less, 0 equal, 1
// greater, -2 when the comparison fails. The ANSI one converts both texts to
// the locale's code page first (a text that cannot be converted fails the
// comparison); the native one compares the wide texts.
int CompareWideTextAnsi(std::u16string_view a, std::u16string_view b, std::uint32_t locale);
int CompareWideTextNative(std::u16string_view a, std::u16string_view b, std::uint32_t locale);

// The comparison the platform line can do: CompareWideTextNative on the NT
// line (platform identifier 2), CompareWideTextAnsi on any other.
using TWideTextCompare = int (*)(std::u16string_view a, std::u16string_view b, std::uint32_t locale);
TWideTextCompare WideTextCompareFor(int platformId);
// The comparison of the running platform line, chosen once by the unit's
// initialization (InitNokiaUtils); the NT line's until then.
extern TWideTextCompare WideTextCompare;

// ClassifyLocaleIds of the user's and the system's default locales.
std::uint8_t ClassifyLocale();

// The unit's initialization: chooses WideTextCompare for the platform line
// that GetPlatformId reports, so it runs after the platform line is known.
void InitNokiaUtils();

// The product-code model table: product codes as phones report them ("NPE-4")
// to the model names users know ("6310"), model numbers parsed from either, and
// the model classes and special cases the phone engine sorts phones by.

// One line of the model table: product code and model name.
struct TModelEntry {
  const char* code;
  const char* name;
};

// The model table in its fixed order (duplicated codes included; the first line wins).
const std::vector<TModelEntry>& ModelTable();

// The model name of a product code (case ignored), or empty when the table does
// not know it. A name "7210" becomes `hintNumber` in decimal when that is not 0,
// and the numbers 9992 to 9999 become the names of those models.
std::string ModelNameFromCode(std::string_view code, int hintNumber);
// The model number of a model name or product code: "6310i" gives 6310, "NPL-1"
// gives 6310 (from "6310i"), the C-, X- and Vertu models fixed numbers; 0 for none.
int ParseModelNumber(std::string_view s);
// The model class 0 to 5 of a model number, or of a name or code.
int ModelClassOfNumber(int n);
int ModelClassOf(std::string_view s);
// True unless the model answers identity requests only in the non-standard way.
bool UsesStandardImei(std::string_view s);
// True when the model needs the DA message as keep-alive.
bool NeedsDaCheck(std::string_view s);
// True for the series models that count as the highest capability level.
bool IsSeriesModel(std::string_view s);
// Capability level 0 to 5; only models of class 5 have one above 0.
int CapabilityLevel(std::string_view s);
// Multiplier from the raw battery reading of the newest models to a level.
double BatteryFactor(std::string_view s);
