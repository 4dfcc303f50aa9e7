// The pieces of the mark-up language that need no drawing: preparing a text
// for layout (entities, the placeholder, line breaks), the entities of text
// runs, attribute values and numbers in tags, colours by "#RRGGBB" or by name,
// the plain text shown in hints, and the band arithmetic of colour gradients.
//
// Colours are 32-bit framework colours: $00BBGGRR, $80000000 plus a system
// colour index, kHtmlClNone ($1FFFFFFF) for no colour.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

using HtmlColor = std::int32_t;
inline constexpr HtmlColor kHtmlClNone = 0x1FFFFFFF;
inline constexpr HtmlColor kHtmlClBlack = 0x000000;
inline constexpr HtmlColor kHtmlClRed = 0x0000FF;
inline constexpr HtmlColor kHtmlClHighlight = static_cast<HtmlColor>(0x8000000Du);
inline constexpr HtmlColor kHtmlClHighlightText = static_cast<HtmlColor>(0x8000000Eu);

// Entities ("&amp;" and the others, case ignored) until a pass replaces
// nothing, the first "<#...>" placeholder opened to "#...", line feeds
// dropped and carriage returns made "<BR>".
std::string PrepareHtmlText(std::string_view text);
// Inside a run: "&nbsp;", "&lt;" and "&gt;" (case ignored, in that order).
std::string ApplyRunEntities(std::string_view run);

// Two hexadecimal digits (upper case) as a number; 0 for a text shorter than two.
int HexPairValue(std::string_view pair);
// "#RRGGBB" as a colour (red + green * 256 + blue * 65536).
HtmlColor ParseHexColor(std::string_view text);
// A colour name ("clred", or "red" without the prefix), lower case; 0 (black) when unknown.
HtmlColor ColorFromName(std::string_view name);
// A tag's colour value: "#..." by ParseHexColor, anything else by name.
HtmlColor HtmlColorValue(std::string_view value);

// An integer after optional blanks: decimal, or hexadecimal after "$" or "x"
// (32 bits, wrapping, so "$FFFFFFFF" is -1). The first character that is not
// part of the number ends it, and then a leading minus is lost.
int HtmlNumber(std::string_view text);
// The same, only for a text that is a number as a whole.
bool HtmlWholeNumber(std::string_view text, int& value);

// The value of an attribute in tag text: the text between the first two
// double quotes after the first occurrence of `name` (empty without them).
// The name is found ignoring case; the value keeps the text's case.
std::string TagAttribute(std::string_view tagText, std::string_view name);
// Whether the tag text holds the name (case ignored).
bool TagHasAttribute(std::string_view tagText, std::string_view name);
// SIZE also takes an unquoted value: the leading number after "=" and an optional quote.
int TagSizeValue(std::string_view tagText);
// A FONT SIZE: 1 to 5 are 8 to 16 points, any other number is the size itself.
int FontSizePoints(int size);

// The text without mark-up, for hints: "<BR>" and "<HR>" become CR LF, "<z>"
// and "<Z>" sections go, then every "<...>".
std::string StripHtml(std::string_view text);

// One band of a gradient: its colour ($00BBGGRR) and its extent along the
// gradient's direction [start, end).
struct GradientBand {
  std::uint32_t color;
  int start, end;
};
// The bands of a gradient over [first, last) from one RGB colour to another in
// `steps` bands (0 counts as 1).
std::vector<GradientBand> GradientBands(std::uint32_t fromRgb, std::uint32_t toRgb, int first, int last, int steps);

// Case-insensitive search (ASCII letters); npos when missing.
std::size_t FindNoCase(std::string_view text, std::string_view what, std::size_t from = 0);
