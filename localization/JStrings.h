// String routines of the localization engine on ANSI byte strings: search,
// replace, split, join, hexadecimal conversion, form-text quoting, list
// look-up and a "*"/"?" wildcard matcher. Positions are 1-based; 0 means
// "not found".
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "Exceptions.h"
#include "Strings.h"

// Raised by the hexadecimal conversion.
FW_EXCEPTION(EJStringsError, Exception);

bool ContainsLetters(std::string_view text);
std::string SpacesString(int count);
int FindOccurrence(std::string_view sub, std::string_view text, int start, int n);
int FindTextNoCase(std::string_view sub, std::string_view text);
std::string SubstituteAllText(std::string_view text, std::string_view oldText, std::string_view newText);
std::string TextBeforeDelimiter(std::string_view delimiter, std::string_view text);
int TextToIntOrZero(std::string_view text);
int HexDigitValue(char c);
std::uint32_t HexTextToInt(std::string_view text);
std::string JoinWithSeparator(std::string_view first, std::string_view second, char separator);
std::string ConcatPath(std::string_view first, std::string_view second);
std::string JoinWithDot(std::string_view first, std::string_view second);
std::string QuoteFormString(std::string_view text, char quote);
int IndexOfTextNoCase(const TStrings& list, std::string_view text);
int IndexOfTextNoCase(const std::vector<std::string>& list, std::string_view text);
void SplitAtSeparator(std::string_view separator, std::string_view text, std::string& before, std::string& after);
bool TextInList(std::string_view text, const std::vector<std::string>& list);
bool MatchMask(std::string_view text, std::string_view mask);
bool MatchWildcard(std::string_view text, std::string_view mask, bool caseSensitive);
