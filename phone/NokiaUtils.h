// Small routines on byte strings and locale identifiers shared by the wizard's
// units. The routines that ask Windows about a locale live with the Win32 code.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// `s` with every occurrence of `ch` deleted.
std::string RemoveChar(std::string_view s, char ch);
// Every occurrence of `oldPattern` in `s`, found case-sensitively from left to
// right without overlapping, replaced by `newPattern`. An empty `s` or an empty
// `oldPattern` gives an empty result.
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
