#include "FontCharsets.h"

#include <iterator>

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
