// The portable rules of the Unicode edit and label: the selection of an edit
// on the 9x line, where the window counts bytes of the ANSI text and the
// control counts UTF-16 units, the password character's ANSI form, and the
// label's accelerator test.
#pragma once

#include <cstddef>
#include <string>

#include "Types.h"

// UTF-16 position of a byte offset into the ANSI text (the first `ansiPos`
// bytes converted to wide, counted); a position past the end counts the whole text.
std::size_t WideSelStartFromAnsi(const std::string& ansiText, std::size_t ansiPos);
// Byte offset of the first `widePos` units of the wide text (converted to ANSI, counted).
std::size_t AnsiSelStartFromWide(const WideString& wideText, std::size_t widePos);
// Byte length of `wideLength` units of the wide text from the unit `wideStart` on.
std::size_t AnsiSelLengthFromWide(const WideString& wideText, std::size_t wideStart, std::size_t wideLength);

// The ANSI password character a wide one shows as: above 255 "*", else the same value.
char AnsiPasswordChar(char16_t wide);

// A key character (codes above 255 are wide characters already; others one
// byte of the keyboard's code page) is the hot key of the caption, ignoring case.
bool IsWideCharAccel(unsigned charCode, const WideString& caption);
