#include "NokiaUtils.h"

#include <algorithm>
#include <atomic>
#include <charconv>
#include <initializer_list>

#include "SerialPorts.h"
#include "SysUtils.h"

std::string RemoveChar(std::string_view s, char ch) {
  std::string out;
  out.reserve(s.size());
  for (char c : s) {
    if (c != ch) out += c;
  }
  return out;
}

std::string ReplaceSubstring(std::string_view s, std::string_view oldPattern, std::string_view newPattern) {
  if (s.empty() || oldPattern.empty()) return {};
  return StringReplaceAll(s, oldPattern, newPattern);
}

std::string TrimLeftSpaces(std::string_view s) {
  const std::size_t first = s.find_first_not_of(' ');
  return first == std::string_view::npos ? std::string() : std::string(s.substr(first));
}

std::string TrimRightSpaces(std::string_view s) {
  const std::size_t last = s.find_last_not_of(' ');
  return last == std::string_view::npos ? std::string() : std::string(s.substr(0, last + 1));
}

std::string TrimSpaces(std::string_view s) {
  return TrimLeftSpaces(TrimRightSpaces(s));
}

std::string ExtractNthField(int index, std::string_view s, std::string_view separator) {
  std::string_view rest = s;
  std::string_view field;
  int i = 0;
  while (i < index && !rest.empty()) {
    const std::size_t at = separator.empty() ? std::string_view::npos : rest.find(separator);
    if (at == std::string_view::npos) {
      field = rest;
      rest = {};
    } else {
      field = rest.substr(0, at);
      rest = rest.substr(at + separator.size());
    }
    ++i;
  }
  return i == index && index >= 1 ? std::string(field) : std::string();
}

bool IsProductCode(std::string_view s) {
  return !s.empty() && !(s[0] >= '0' && s[0] <= '9');
}

std::uint8_t ClassifyLocaleIds(std::uint32_t userLcid, std::uint32_t systemLcid) {
  const std::uint32_t u = userLcid & 0xFFFF;
  const std::uint32_t sy = systemLcid & 0xFFFF;
  std::uint8_t r = 0;
  if (u == 0x0419 || sy == 0x0419) r = 1;
  if (u == 0x0408 || sy == 0x0408) r = 2;
  if ((u & 0xFF) == 0x04) {
    r = 3;
  } else if ((sy & 0xFF) == 0x04 && u != 0x1004 && sy != 0x1004) {
    r = 3;
  }
  return r;
}

// --- Locales -------------------------------------------------------------------------------------

namespace {

// English (United States) with code page 1252 everywhere; comparisons fold
// ASCII letters and then go by character code.
class TStandInLocaleCalls : public TLocaleCalls {
 public:
  std::string DefaultAnsiCodePageText(std::uint32_t) override { return "1252"; }
  std::uint32_t AnsiCodePage() override { return 1252; }
  bool WideToAnsi(std::uint32_t codePage, std::u16string_view text, std::string& out) override {
    if (codePage != 1252 && codePage != 0) return false;
    out = ::WideToAnsi(WideString(text));
    return true;
  }
  int CompareAnsiIgnoreCase(std::uint32_t, std::string_view a, std::string_view b) override {
    return Compare(a, b, [](char c) { return static_cast<unsigned>(static_cast<unsigned char>(c)); });
  }
  int CompareWideIgnoreCase(std::uint32_t, std::u16string_view a, std::u16string_view b) override {
    return Compare(a, b, [](char16_t c) { return static_cast<unsigned>(c); });
  }
  std::uint32_t UserDefaultLcid() override { return 0x0409; }
  std::uint32_t SystemDefaultLcid() override { return 0x0409; }

 private:
  template <typename Text, typename Code>
  static int Compare(Text a, Text b, Code code) {
    auto folded = [&code](auto c) {
      unsigned u = code(c);
      return u >= 'a' && u <= 'z' ? u - 'a' + 'A' : u;
    };
    const bool less = std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(),
                                                   [&folded](auto x, auto y) { return folded(x) < folded(y); });
    const bool greater = std::lexicographical_compare(b.begin(), b.end(), a.begin(), a.end(),
                                                      [&folded](auto x, auto y) { return folded(x) < folded(y); });
    return less ? 1 : greater ? 3 : 2;
  }
};

TStandInLocaleCalls g_standInLocaleCalls;
std::atomic<TLocaleCalls*> g_localeCalls{nullptr};

}  // namespace

TLocaleCalls& LocaleCalls() {
  TLocaleCalls* calls = g_localeCalls.load();
  return calls ? *calls : g_standInLocaleCalls;
}

TLocaleCalls* SetLocaleCalls(TLocaleCalls* calls) {
  return g_localeCalls.exchange(calls);
}

int LocaleCodePage(std::uint32_t locale) {
  TLocaleCalls& calls = LocaleCalls();
  const std::string text = calls.DefaultAnsiCodePageText(locale);
  int codePage = 0;
  const char* end = text.data() + text.size();
  const auto [stop, ec] = std::from_chars(text.data(), end, codePage);
  if (text.empty() || ec != std::errc() || stop != end || codePage < 0) return static_cast<int>(calls.AnsiCodePage());
  return codePage;
}

int CompareWideTextAnsi(std::u16string_view a, std::u16string_view b, std::uint32_t locale) {
  TLocaleCalls& calls = LocaleCalls();
  const auto codePage = static_cast<std::uint32_t>(LocaleCodePage(locale));
  std::string ansiA, ansiB;
  if (!calls.WideToAnsi(codePage, a, ansiA) || !calls.WideToAnsi(codePage, b, ansiB)) return -2;
  return calls.CompareAnsiIgnoreCase(locale, ansiA, ansiB) - 2;
}

int CompareWideTextNative(std::u16string_view a, std::u16string_view b, std::uint32_t locale) {
  return LocaleCalls().CompareWideIgnoreCase(locale, a, b) - 2;
}

TWideTextCompare WideTextCompareFor(int platformId) {
  return platformId == PlatformNT ? CompareWideTextNative : CompareWideTextAnsi;
}

TWideTextCompare WideTextCompare = CompareWideTextNative;

std::uint8_t ClassifyLocale() {
  TLocaleCalls& calls = LocaleCalls();
  return ClassifyLocaleIds(calls.UserDefaultLcid(), calls.SystemDefaultLcid());
}

void InitNokiaUtils() {
  WideTextCompare = WideTextCompareFor(GetPlatformId());
}

// --- Model table ---------------------------------------------------------------------------------

namespace {

bool In(int n, std::initializer_list<int> list) {
  return std::find(list.begin(), list.end(), n) != list.end();
}

// Product codes compare with ASCII letters folded.
bool SameCode(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    char x = a[i], y = b[i];
    if (x >= 'a' && x <= 'z') x = static_cast<char>(x - 'a' + 'A');
    if (y >= 'a' && y <= 'z') y = static_cast<char>(y - 'a' + 'A');
    if (x != y) return false;
  }
  return true;
}

}  // namespace

const std::vector<TModelEntry>& ModelTable() {
  static const std::vector<TModelEntry> table = {
      {"RH-18", "1100"},
      {"RH-38", "1100/1108"},
      {"RH-36", "1100B"},
      {"RH-75", "1101"},
      {"RH-70", "1110"},
      {"RH-69", "1110B"},
      {"RH-92", "1112B"},
      {"RH-93", "1110i/1112/1112B"},
      {"RH-94", "1112i"},
      {"RH-95", "1112B"},
      {"NKC-1", "1220"},
      {"NKW-1", "1260"},
      {"NKW-1C", "1261"},
      {"RH-96", "1315"},
      {"RH-104", "1325"},
      {"RH-64", "1600"},
      {"RH-65", "1600B"},
      {"RM-305", "1605"},
      {"RM-306", "1605b"},
      {"RM-394", "1680 classic"},
      {"RM-395", "1680 classic"},
      {"RM-490", "1680 classic"},
      {"NAM-2", "2100"},
      {"RH-57", "2112"},
      {"RH-66", "2115/2115i/2116/2116i"},
      {"RH-89", "2115i"},
      {"RH-77", "2118"},
      {"RH-76", "2122"},
      {"RH-71", "2125/2125i/2126/2126i/2128i"},
      {"RH-90", "2127i"},
      {"RH-40", "2220"},
      {"RH-42", "2220"},
      {"RM-97", "2255"},
      {"RH-39", "2260"},
      {"RH-41", "2260"},
      {"RH-3P", "2270/2272"},
      {"RH-3DNG", "2275"},
      {"RH-17", "2280"},
      {"RH-17NA", "2280"},
      {"RH-17R", "2280"},
      {"RH-3", "2285"},
      {"RM-4", "2300"},
      {"RM-5", "2300B"},
      {"RM-189", "2310"},
      {"RM-514", "2320 classic"},
      {"RM-515", "2320 classic"},
      {"RM-543", "2323 classic"},
      {"RM-512", "2330 classic"},
      {"RM-513", "2330 classic"},
      {"RM-121", "2355"},
      {"RM-155", "2362/2365i/2366i/2367i"},
      {"RM-307", "2505"},
      {"RM-340", "2600 classic"},
      {"RM-341", "2600 classic"},
      {"RM-376", "2608"},
      {"RH-86", "2610"},
      {"RH-87", "2610B"},
      {"RM-291", "2626"},
      {"RM-298", "2630"},
      {"RM-299", "2630"},
      {"RH-53", "2650/2652"},
      {"RH-54", "2651"},
      {"RM-292", "2660"},
      {"RM-293", "2660"},
      {"RM-392", "2680 slide"},
      {"RM-393", "2680 slide"},
      {"RM-500", "2680 slide"},
      {"RM-635", "2690"},
      {"RM-561", "2700 classic"},
      {"RM-586", "2700 classic"},
      {"RM-519", "2720 fold"},
      {"RM-520", "2720 fold"},
      {"RM-578", "2730 classic"},
      {"RM-579", "2730 classic"},
      {"RM-258", "2760"},
      {"RM-259", "2760"},
      {"RM-391", "2760"},
      {"RM-124", "2855/2855i"},
      {"RM-193", "2865/2865i"},
      {"RH-19", "3100/3120"},
      {"RH-50", "3100B/3120B"},
      {"RH-46", "3105"},
      {"RH-48", "3105"},
      {"RH-6", "3108"},
      {"RM-274", "3109 classic"},
      {"RM-237", "3110 classic"},
      {"RM-364", "3120 classic"},
      {"RM-365", "3120 classic"},
      {"RM-366", "3120 classic"},
      {"RH-61", "3125"},
      {"RH-72", "3128/3129"},
      {"RM-61", "3152"},
      {"RM-41", "3155/3155i"},
      {"RH-30", "3200"},
      {"RH-31", "3200B"},
      {"RM-11", "3205"},
      {"RM-572", "3208 classic"},
      {"NSE-8", "3210"},
      {"NSE-9", "3210"},
      {"RH-37", "3220"},
      {"RH-49", "3220B"},
      {"NEM-1", "3300"},
      {"NEM-2", "3300B"},
      {"NHM-5NX", "3310"},
      {"NHM-5NY", "3315"},
      {"NPC-1", "3320"},
      {"NPC-1BG", "3321"},
      {"NHM-6", "3330"},
      {"NHM-9", "3350"},
      {"NPW-1", "3360"},
      {"NPW-1PA", "3361"},
      {"NPB-1NB", "3390/3391"},
      {"NPB-1RB", "3390B"},
      {"NPB-1BB", "3395"},
      {"NHM-2", "3410"},
      {"RM-272", "3500 classic"},
      {"NHM-8", "3510"},
      {"RH-9", "3510i"},
      {"RH-21", "3520"},
      {"RM-257", "3555"},
      {"RM-270", "3555"},
      {"RM-277", "3555"},
      {"RH-14", "3560"},
      {"NPD-1FW", "3570/3570i"},
      {"NPD-1GW", "3580"},
      {"NPD-1AW", "3585"},
      {"NPD-4AW", "3585i"},
      {"RH-44", "3586/3586i/3587/3587i/3588i/3589i"},
      {"NPM-8", "3590"},
      {"NPM-10", "3595/6010"},
      {"RM-352", "3600 slide"},
      {"RM-353", "3600 slide"},
      {"RM-375", "3606"},
      {"RM-385", "3608"},
      {"NAM-1", "3610"},
      {"RM-429", "3610 fold"},
      {"RM-509", "3710 fold"},
      {"RM-510", "3710 fold"},
      {"RM-511", "3710 fold"},
      {"RM-518", "3720 classic"},
      {"RM-362", "5000"},
      {"RM-363", "5000"},
      {"NPM-6", "5100"},
      {"NPM-6X", "5100A"},
      {"NSE-1", "5110"},
      {"NSE-1NY", "5110i"},
      {"NSE-2NY", "5110i"},
      {"RM-495", "5130 XpressMusic"},
      {"RM-496", "5130 XpressMusic"},
      {"NPL-4", "5140B"},
      {"NPL-5", "5140"},
      {"RM-104", "5140i"},
      {"NSB-1", "5190"},
      {"RM-174", "5200"},
      {"RM-181", "5200B"},
      {"NSM-5", "5210"},
      {"RM-410", "5220 XpressMusic"},
      {"RM-411", "5220 XpressMusic"},
      {"RM-146", "5300"},
      {"RM-147", "5300B"},
      {"RM-303", "5310 XpressMusic"},
      {"RM-304", "5310 XpressMusic"},
      {"RM-478", "5330 XpressMusic"},
      {"RM-479", "5330 XpressMusic"},
      {"RM-615", "5330 XpressMusic"},
      {"NPM-5", "5510"},
      {"RM-242", "5610 XpressMusic"},
      {"RM-279", "5610 XpressMusic"},
      {"RM-358", "5610 XpressMusic"},
      {"RM-359", "5610 XpressMusic"},
      {"NPM-10X", "3595/6010"},
      {"RTE-2RH", "6011"},
      {"RH-58", "6011i"},
      {"RM-20", "6012"},
      {"RH-55", "6015/6015i/6016i/6019i"},
      {"RM-30", "6020"},
      {"RM-31", "6020B"},
      {"RM-94", "6021"},
      {"RM-74", "6030"},
      {"RM-75", "6030B"},
      {"RM-225", "6030B"},
      {"RM-229", "6030"},
      {"RH-73", "6060"},
      {"RH-97", "6060v"},
      {"RH-74", "6061"},
      {"RH-80", "6062"},
      {"RM-211", "6066"},
      {"RM-166", "5070/6070/6080"},
      {"RM-167", "5070B/6070B/6080B"},
      {"RM-198", "6085"},
      {"RM-198H", "6085h"},
      {"RM-188", "6086"},
      {"RM-260", "6086B"},
      {"RM-218", "6088"},
      {"NPL-2", "6100"},
      {"NPM-6X", "6100"},
      {"RM-76", "6101/6102"},
      {"RM-77", "6101B"},
      {"RM-77H", "6101h"},
      {"RM-77X", "6102B"},
      {"RM-77XH", "6102h"},
      {"RM-162X", "6102i"},
      {"RM-161", "6103"},
      {"RM-162", "6103B"},
      {"RH-4", "6108"},
      {"NSE-3", "6110"},
      {"RM-82", "6111"},
      {"RM-83", "6112"},
      {"RM-178", "6125"},
      {"RM-126", "6126"},
      {"RM-126H", "6126h"},
      {"NSK-1", "6130"},
      {"RM-115", "6131/6133"},
      {"RM-216V", "6131 NFC"},
      {"RM-126", "6133B"},
      {"RM-126H", "6133h"},
      {"RM-98", "6135"},
      {"RM-106", "6136"},
      {"RM-199", "6136B"},
      {"NSK-3", "6138"},
      {"NSM-1", "6150"},
      {"RM-200", "6151"},
      {"RM-96", "6152"},
      {"RM-59", "6155/6155i"},
      {"RM-125", "6165/6165i"},
      {"RM-47", "6170"},
      {"RM-48", "6170B"},
      {"RM-120", "6175i"},
      {"RM-201", "6178i"},
      {"NSB-3", "6190"},
      {"NPL-3", "6200"},
      {"NPE-3", "6210"},
      {"RM-396", "6212 classic"},
      {"RM-214", "6215i"},
      {"RM-531", "6216 classic"},
      {"RH-20", "6220"},
      {"RH-27", "6225"},
      {"RH-12", "6230"},
      {"RH-28", "6230B"},
      {"RM-72", "6230i"},
      {"RM-73", "6230i"},
      {"RM-145", "6233"},
      {"RM-123", "6234"},
      {"RM-60", "6235/6235i/6236i"},
      {"RM-134", "6245i"},
      {"NHM-3", "6250"},
      {"RM-19", "6255/6255i/6256/6256i"},
      {"RM-368", "6260 slide"},
      {"RM-207", "6263"},
      {"RM-66", "6265/6265i/6268"},
      {"RM-210", "6267"},
      {"RM-56", "6270"},
      {"RM-154", "6275/6275i"},
      {"RM-78", "6280/6288"},
      {"RM-268", "6288"},
      {"RM-79", "6282"},
      {"RM-268", "6288"},
      {"RM-217", "6300"},
      {"RM-222", "6300B"},
      {"RM-337", "6300i"},
      {"RM-322", "6301"},
      {"RM-323", "6301"},
      {"RM-433", "6303 classic"},
      {"RM-443", "6303 classic"},
      {"RM-638", "6303i classic"},
      {"NPE-4", "6310"},
      {"NPL-1", "6310i"},
      {"RM-215", "6315i"},
      {"NPC-2", "6320"},
      {"NPM-2", "6340"},
      {"RH-13", "6340i"},
      {"RM-455", "6350"},
      {"NPW-2", "6360"},
      {"NHP-2", "6370"},
      {"NHP-2AX", "6385"},
      {"RM-265", "6500 classic"},
      {"RM-397", "6500 classic"},
      {"RM-240", "6500 slide"},
      {"RM-278", "6500 slide"},
      {"NPM-9", "6510"},
      {"RM-271", "6555"},
      {"RM-289", "6555b"},
      {"RM-276", "6555c"},
      {"RH-25", "6560"},
      {"RH-34", "6585"},
      {"NSM-9", "6590/6590i"},
      {"RM-325", "6600 fold"},
      {"RM-325", "6600 slide"},
      {"RM-414", "6600 slide"},
      {"RM-415", "6600 slide"},
      {"NHL-4U", "6610"},
      {"RM-37", "6610i"},
      {"NHM-1", "6650"},
      {"NMM-1", "6651"},
      {"RM-470", "6700 classic"},
      {"RM-576", "6700 classic"},
      {"RM-381", "6750 Mural"},
      {"NHL-6", "6800"},
      {"NSB-9", "6800A"},
      {"RM-2", "6810"},
      {"NHL-9", "6820"},
      {"RH-26", "6820B/6820i"},
      {"RM-68", "6822B"},
      {"RM-69", "6822A"},
      {"RM-497", "7020"},
      {"RH-116", "7070 Prism"},
      {"RH-117", "7070 Prism"},
      {"RM-219", "7088"},
      {"RM-438", "7100 Supernova"},
      {"RM-439", "7100 Supernova"},
      {"NSE-5", "7110"},
      {"NSW-5", "7160"},
      {"NSB-5", "7190"},
      {"RH-23", "7200"},
      {"RH-33", "7200B"},
      {"NHL-4", "7210"},
      {"RM-436", "7210 Supernova"},
      {"RM-640", "7230"},
      {"RM-598", "7230"},
      {"RM-604", "7230"},
      {"NHL-4J", "7250"},
      {"NHL-4JX", "7250i"},
      {"RM-17", "7260"},
      {"RM-8", "7270"},
      {"RM-9", "7270B"},
      {"RM-14", "7280"},
      {"RM-34", "7280B"},
      {"RM-378", "7310 Supernova"},
      {"RM-379", "7310 Supernova"},
      {"RM-127", "7360"},
      {"RM-70", "7370"},
      {"RM-209", "7373"},
      {"RM-111", "7380"},
      {"RM-140", "7390"},
      {"RM-249", "7500 Prism"},
      {"RM-398", "7510 Supernova"},
      {"RM-399", "7510 Supernova"},
      {"NMM-3", "7600"},
      {"RM-354", "7610 Supernova"},
      {"RM-355", "7610 Supernova"},
      {"RM-264", "7900 Prism"},
      {"RM-384", "8208"},
      {"NSM-3", "8210"},
      {"NSM-3D", "8250"},
      {"NSB-7", "8290"},
      {"NHM-7", "8310"},
      {"NSB-8", "8390"},
      {"RM-164", "8600 Luna"},
      {"RM-13", "8800"},
      {"RM-165", "8800 Sirocco"},
      {"RM-233", "8800 Arte"},
      {"RM-451", "8800 Arte"},
      {"RM-33", "8801"},
      {"NSE-6", "8810"},
      {"NSM-2", "8850"},
      {"NSM-4", "8855"},
      {"NSB-6", "8890"},
      {"NHM-4", "8910"},
      {"NHM-4NX", "8910i"},
      {"RM-689", "C1-00"},
      {"RM-607", "C1-01"},
      {"RM-608", "C1-01"},
      {"RM-643", "C1-02"},
      {"RM-644", "C1-02"},
      {"RM-704", "C2-00"},
      {"RM-721", "C2-01"},
      {"RM-722", "C2-01"},
      {"RM-614", "C3-00"},
      {"RM-662", "C3-01"},
      {"RM-618", "X2-00"},
      {"RM-709", "X2-01"},
      {"RM-717", "X2-01"},
      {"RM-540", "X3-00"},
      {"RM-687", "X3-01"},
      {"RM-639", "X3-02"},
      {"RHV-1", "Ascent"},
      {"RHV-3", "AscentM"},
      {"RHV-5", "AscentM"},
      {"RHV-2", "Signature 2006"},
      {"RHV-8", "Constellation"},
      {"RM-267V", "Ascent Ti"},
      {"RM-467V", "Ascent Ti-C"},
      {"RM-266V", "Signature 2008"},
      {"RM-389V", "Constellation F"},
  };
  return table;
}

std::string ModelNameFromCode(std::string_view code, int hintNumber) {
  std::string name;
  for (const TModelEntry& e : ModelTable()) {
    if (SameCode(e.code, code)) {
      name = e.name;
      break;
    }
  }
  if (name == "7210" && hintNumber != 0) name = std::to_string(hintNumber);
  static constexpr std::pair<const char*, const char*> kVertu[] = {
      {"9999", "Ascent"},    {"9998", "AscentM"},     {"9997", "Signature 2006"}, {"9996", "Constellation"},
      {"9995", "Ascent Ti"}, {"9994", "Ascent Ti-C"}, {"9993", "Signature 2008"}, {"9992", "Constellation F"},
  };
  for (const auto& [number, vertu] : kVertu) {
    if (name == number) return vertu;
  }
  return name;
}

int ParseModelNumber(std::string_view s) {
  if (s.empty()) return 0;
  static constexpr std::pair<const char*, int> kFixed[] = {
      {"C1-00", 4100},   {"RM-689", 4100},         {"C1-01", 4101},   {"RM-607", 4101},
      {"RM-608", 4101},  {"C1-02", 4102},          {"RM-643", 4102},  {"RM-644", 4102},
      {"C2-00", 4200},   {"RM-704", 4200},         {"C2-01", 4201},   {"RM-721", 4201},
      {"RM-722", 4201},  {"C3-00", 4300},          {"RM-614", 4300},  {"C3-01", 4301},
      {"RM-662", 4301},  {"X2-00", 9200},          {"RM-618", 9200},  {"X2-01", 9201},
      {"RM-709", 9201},  {"RM-717", 9201},         {"X3-00", 9300},   {"RM-540", 9300},
      {"X3-01", 9301},   {"RM-687", 9301},         {"X3-02", 9302},   {"RM-639", 9302},
      {"Ascent", 9999},  {"RHV-1", 9999},          {"AscentM", 9998}, {"RHV-3", 9998},
      {"RHV-5", 9998},   {"Signature 2006", 9997}, {"RHV-2", 9997},   {"Constellation", 9996},
      {"RHV-8", 9996},   {"Ascent Ti", 9995},      {"RM-267V", 9995}, {"Ascent Ti-C", 9994},
      {"RM-467V", 9994}, {"Signature 2008", 9993}, {"RM-266V", 9993}, {"Constellation F", 9992},
      {"RM-389V", 9992},
  };
  for (const auto& [text, number] : kFixed) {
    if (s == text) return number;
  }
  const std::string text = IsProductCode(s) ? ModelNameFromCode(s, 0) : std::string(s);
  std::size_t digits = 0;
  while (digits < text.size() && text[digits] >= '0' && text[digits] <= '9') ++digits;
  int value = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + digits, value);
  if (digits == 0 || ec != std::errc() || end != text.data() + digits) return 0;
  return value;
}

int ModelClassOfNumber(int n) {
  if (n < 1000) return 0;
  const int h = n / 100;
  int c = 1;
  if (In(h, {83, 65, 63, 35, 36}) || n == 8910) c = 4;
  if (h == 71 || n == 6210 || n == 6250) c = 3;
  if (In(n, {5100, 5140, 6100, 6108, 6170, 6200, 6220, 6225, 6230, 6255, 6560, 6585, 6610,
             6650, 6651, 6800, 6810, 6820, 6822, 7200, 7210, 7250, 7260, 7270, 7280, 7600}))
    c = 5;
  if (In(n, {6010, 6011, 6012, 6015, 6020, 6021})) c = 5;
  if (In(n, {3155, 6021, 6030, 6101, 6102, 6155, 6235})) c = 5;
  if (h == 31) c = 5;
  if (h == 32 && !In(n, {3210, 3280, 3285})) c = 5;
  if (n == 3300) c = 5;
  if (In(n, {1220, 1260, 1261, 2100})) c = 1;
  if (h == 22) c = 4;
  if (n == 2300) c = 4;
  if (In(n, {2112, 2115})) c = 4;
  if (In(n, {1100, 1101, 1108, 1110, 1112})) c = 4;
  if (In(n, {3320, 3321, 3360, 3361})) c = 4;
  if (n / 10 == 265) c = 5;
  if (In(n, {8600, 8800, 8801})) c = 5;
  if (In(n, {2255, 6060, 6061, 6062, 6066})) c = 5;
  if (In(n, {6111, 6112, 6165, 6265, 6270, 6280, 6282, 6288})) c = 5;
  if (In(n, {7360, 7370, 7373, 7380, 7390})) c = 5;
  if (n == 9999) c = 3;
  if (In(n, {9998, 9997, 9996, 9995, 9994, 9993, 9992})) c = 5;
  if (n == 1600) c = 0;
  if (In(n, {2355, 2855})) c = 5;
  if (In(n, {6102, 6103, 6131, 6136})) c = 5;
  if (In(n, {6085, 6086, 6125, 6126, 6151, 6175, 6178, 6233, 6234, 6275})) c = 5;
  if (In(n, {6070, 6080})) c = 5;
  if (n == 2610) c = 5;
  if (In(n, {5200, 5300})) c = 5;
  if (In(n, {2112, 2115, 2118, 2122, 2125, 2127})) c = 4;
  if (In(n, {2255, 6152})) c = 5;
  if (In(n, {2626, 2630, 6088, 6300, 7070, 7088})) c = 5;
  if (n == 6315) c = 5;
  if (In(n, {3109, 3110})) c = 5;
  if (In(n, {2600, 2660, 2760, 3500, 5070})) c = 5;
  if (In(n, {6263, 6267, 6555, 7070, 7500})) c = 5;
  if (n == 2310) c = 4;
  if (In(n, {1680, 2320, 2323, 2330, 2605, 2608, 2680, 2690, 2700, 2710, 2720, 2730, 3120, 3208, 3555, 3600,
             3606, 3608, 3610, 3710, 3720, 5000, 5130, 5220, 5310, 5330, 5610, 6212, 6216, 6260, 6300, 6301,
             6303, 6350, 6500, 6600, 6700, 6750, 7020, 7100, 7210, 7230, 7310, 7510, 7610, 7900, 8208, 8800}) ||
      n / 1000 == 4 || (n >= 9000 && n <= 9799))
    c = 5;
  return c;
}

int ModelClassOf(std::string_view s) {
  return ModelClassOfNumber(ParseModelNumber(s));
}

bool UsesStandardImei(std::string_view s) {
  const int n = ParseModelNumber(s);
  if (n / 100 == 22) return false;
  return !In(n, {1220, 1260, 1261, 2112, 2115, 2118, 2122, 2125, 2127, 2255, 2355, 2605, 2608, 2855,
                 3105, 3125, 3128, 3152, 3155, 3205, 3320, 3321, 3360, 3361, 3520, 3560, 3570, 3580,
                 3585, 3586, 3588, 3589, 3606, 3608, 6012, 6015, 6066, 6088, 6152, 6155, 6165, 6175,
                 6178, 6225, 6235, 6255, 6265, 6275, 6360, 6370, 6385, 6560, 6585, 7088, 7160, 8208});
}

bool NeedsDaCheck(std::string_view s) {
  const int n = ParseModelNumber(s);
  return In(n, {9998, 9997, 3220, 6220, 6101, 6102, 6103, 5140, 6030, 5070, 6070, 6080}) || n / 10 == 602;
}

bool IsSeriesModel(std::string_view s) {
  for (const char* code : {"RM-337", "RM-436", "RM-233", "RM-451", "RM-429", "RM-265", "RM-397", "RM-325"}) {
    if (s == code) return true;
  }
  const int n = ParseModelNumber(s);
  return In(n, {2700, 2710, 2730, 3555, 3710, 3720, 5330, 5610, 6212, 6216, 6260, 6303,
                6350, 6700, 6750, 7020, 7230, 7310, 7510, 7610, 7900, 9992, 9993, 9994}) ||
         n / 1000 == 4 || (n >= 9000 && n <= 9800);
}

int CapabilityLevel(std::string_view s) {
  if (ModelClassOf(s) != 5) return 0;
  const int n = ParseModelNumber(s);
  int level =
      In(n, {2255, 2310, 2855, 3152, 3155, 3220, 5070, 5140, 6020, 6021, 6030, 6060, 6061, 6062, 6066, 6070, 6080, 6101,
             6102, 6103, 6126, 6152, 6155, 6170, 6230, 6235, 6255, 6822, 7260, 7270, 7280, 8800, 8801, 9997, 9998})
          ? 2
          : 1;
  if (s == "RM-165" ||
      In(n, {2610, 3109, 3110, 5200, 5300, 6085, 6086, 6111, 6112, 6125, 6126, 6131, 6136, 6151, 6165,
             6233, 6234, 6265, 6270, 6275, 6280, 6282, 6288, 6300, 7370, 7373, 7390, 8600, 9995, 9996}))
    level = 3;
  if (In(n, {2626, 6152, 7360, 7380})) level = 2;
  if (In(n, {2660, 2760, 3500, 6086, 6088, 7088, 8600})) level = 3;
  if (s == "RM-233" || In(n, {5310, 5610, 6263, 6267, 6301, 6500, 6555, 7500, 7900})) level = 5;
  if (s == "RM-340" || s == "RM-341" || In(n, {2320, 2330, 2630, 2660, 2680, 2720, 2760, 3120, 3600, 3606,
                                               3608, 5000, 5130, 5220, 6600, 7070, 7100, 8208, 9992, 9993}))
    level = 5;
  if (IsSeriesModel(s) || n / 1000 == 4 || (n >= 9000 && n <= 9800)) level = 5;
  return level;
}

double BatteryFactor(std::string_view s) {
  const int n = ParseModelNumber(s);
  double factor = (n / 100 == 83 || In(n, {3320, 3321, 3360, 3361, 6101, 6102, 6103, 6170, 7270, 7370})) ? 25.0 : 14.29;
  if (n / 100 == 12 || s == "NHM-4" || CapabilityLevel(s) >= 3) factor = 25.0;
  if (n == 9998 || n == 9997) factor = 20.0;
  return factor;
}
