// UTF-8 and UTF-7 (RFC 2152) conversion of wide strings, the wide command
// line, and the ANSI code page of the keyboard layout.
//
// UTF-8 here works per UTF-16 unit: surrogate halves are not combined (a pair
// gives six bytes), and the decoder accepts overlong forms and stray lead
// bytes; only a missing or bad continuation byte makes input malformed.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "Types.h"

// The code page WideCharFitsAnsi converts to; 0 (the system ANSI code page)
// from the unit's start.
extern unsigned ConversionCodePage;

void InitUcxSystem();
void DoneUcxSystem();  // resets ConversionCodePage

// Results of the UTF-7 buffer routines.
constexpr int kConvOk = 0;
constexpr int kConvIllegal = 1;
constexpr int kConvTargetFull = 2;

// Encodes `count` units into `dest` (at most maxBytes - 1 bytes and a 0),
// stopping before a unit that would not fit; returns the bytes written plus 1.
// Without a destination returns the bytes needed plus 1. A destination of 0
// bytes gets nothing and gives 0.
std::size_t Utf8EncodeBuffer(char* dest, std::size_t maxBytes, const char16_t* source, std::size_t count);
// Decodes `length` bytes into `dest` (at most maxUnits - 1 units and a 0);
// returns the units written plus 1, or -1 for malformed input. Without a
// destination returns the units needed plus 1. A four-byte sequence of a
// character beyond U+FFFF gives its surrogate pair (the encoder writes such a
// character as two three-byte halves, which read back the same).
std::ptrdiff_t Utf8DecodeBuffer(char16_t* dest, std::size_t maxUnits, const char* source, std::size_t length);

std::string Utf8FromWide(const WideString& s);
// Empty for malformed input.
WideString WideFromUtf8(std::string_view s);

// UTF-7 of `count` units into at most `maxBytes` bytes (no terminator);
// `written` gets the bytes written. `optional` writes the characters of set O
// directly; `verbose` closes every base64 run with "-".
int Utf7EncodeBuffer(char* dest, std::size_t maxBytes, const char16_t* source, std::size_t count, bool optional,
                     bool verbose, std::size_t& written);
// Decodes UTF-7 into at most `maxUnits` units; reads to the end and gives the
// last error, or stops at a full target.
int Utf7DecodeBuffer(char16_t* dest, std::size_t maxUnits, const char* source, std::size_t length,
                     std::size_t& written);

// Optional direct characters on, verbose off; raises EUcxInternalError
// "Buffer overflow" should the buffer be too small.
std::string Utf7FromWide(const WideString& s);
// Raises EUcxGeneralError "Invalid UTF7" for bad input (after reading all of
// it) and EUcxInternalError "Buffer overflow" for a full target.
WideString WideFromUtf7(std::string_view s);

// Reads the parameter at the start of `text`: blanks and control characters
// (1..32) and pairs of double quotes are skipped, then units are collected up
// to the first unit of 32 or less outside quotes; a double quote opens a
// stretch taken without its quotes up to the closing quote or the end. A 0
// unit ends the text. Returns the number of units read.
std::size_t NextWideParam(std::u16string_view text, WideString& param);
// 0: the program's full path; n: the n-th parameter of the wide command line,
// empty when there are fewer.
WideString WideCommandLineParam(std::size_t index);

// The default ANSI code page of the language of the thread's keyboard layout
// (the system ANSI code page when the locale gives no number).
unsigned KeyboardCodePage();
// Codes above 255 as they are; others one byte of KeyboardCodePage converted
// with glyph characters (0 when the conversion gives nothing).
char16_t WideCharFromKeyboardChar(unsigned code);
