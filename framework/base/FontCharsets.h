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

// The ANSI code page whose characters a font of this charset shows (204 ->
// 1251, 238 -> 1250, 128 -> 932, ...); 0 for a charset that names none of its
// own: DEFAULT_CHARSET and OEM_CHARSET (the system's), SYMBOL_CHARSET, and any
// value without a name.
std::uint32_t CodePageOfCharset(std::int64_t charset);

// The code page through which a control's ANSI text must reach the system so
// that its window holds the characters the font's charset means, when that is
// not the system's ANSI code page: on the NT line a standard control widens its
// ANSI text with the system's code page before any font sees it. 0 when the
// system's own road is right: the 9x line (the font's charset picks the glyphs
// there), a charset of no code page, or the system's own code page.
std::uint32_t ForeignTextCodePage(std::int64_t charset, std::uint32_t systemCodePage, bool ntLine);
