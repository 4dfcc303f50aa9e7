#include "FontCharsets.h"

#include <iterator>
#include <utility>

namespace {

// The system's charset numbers under their system names.
const TIdentMapEntry kCharsetNames[] = {
    {0, "ANSI_CHARSET"},          {1, "DEFAULT_CHARSET"},      {2, "SYMBOL_CHARSET"},    {77, "MAC_CHARSET"},
    {128, "SHIFTJIS_CHARSET"},    {129, "HANGEUL_CHARSET"},    {130, "JOHAB_CHARSET"},   {134, "GB2312_CHARSET"},
    {136, "CHINESEBIG5_CHARSET"}, {161, "GREEK_CHARSET"},      {162, "TURKISH_CHARSET"}, {163, "VIETNAMESE_CHARSET"},
    {177, "HEBREW_CHARSET"},      {178, "ARABIC_CHARSET"},     {186, "BALTIC_CHARSET"},  {204, "RUSSIAN_CHARSET"},
    {222, "THAI_CHARSET"},        {238, "EASTEUROPE_CHARSET"}, {255, "OEM_CHARSET"},
};

}  // namespace

const TypeInfo* TFontCharsetTag::Info() {
  static const TypeInfo info = MakeIntegerTypeInfo("TFontCharset", 0, 255, kCharsetNames, std::size(kCharsetNames));
  return &info;
}

bool CharsetToIdent(std::int64_t charset, std::string& ident) {
  return FindIntToIdent(TFontCharsetTag::Info(), charset, ident);
}

bool IdentToCharset(const std::string& ident, std::int64_t& charset) {
  return FindIdentToInt(TFontCharsetTag::Info(), ident, charset);
}

std::uint32_t CodePageOfCharset(std::int64_t charset) {
  // The pairs the system's charset translation gives (TCI_SRCCHARSET).
  static const std::pair<std::int64_t, std::uint32_t> kCodePages[] = {
      {0, 1252},   {77, 10000}, {128, 932},  {129, 949},  {130, 1361}, {134, 936},  {136, 950}, {161, 1253},
      {162, 1254}, {163, 1258}, {177, 1255}, {178, 1256}, {186, 1257}, {204, 1251}, {222, 874}, {238, 1250},
  };
  for (const auto& [cs, cp] : kCodePages)
    if (cs == charset) return cp;
  return 0;
}

std::uint32_t ForeignTextCodePage(std::int64_t charset, std::uint32_t systemCodePage, bool ntLine) {
  if (!ntLine) return 0;
  const std::uint32_t codePage = CodePageOfCharset(charset);
  return codePage == systemCodePage ? 0 : codePage;
}
