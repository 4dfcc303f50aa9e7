// A font's character set (0-255) and the identifiers that name its values in
// form data ("DEFAULT_CHARSET", "RUSSIAN_CHARSET"). Portable, so code that
// rewrites form text outside a window system names charsets the same way the
// font property streams them.
#pragma once

#include <cstdint>
#include <string>

#include "IdentMaps.h"

struct TFontCharsetTag {
  static const TypeInfo* Info();
};
using TFontCharset = TNamedInt<TFontCharsetTag, std::uint8_t>;

// The identifier of a charset value through every map of TFontCharset; false when it has none.
bool CharsetToIdent(std::int64_t charset, std::string& ident);
bool IdentToCharset(const std::string& ident, std::int64_t& charset);
