// Wide Windows calls that work on both Windows lines. With IsUnicodePlatform
// each calls the wide function with the caller's arguments and returns its
// result; otherwise wide text is narrowed to the ANSI code page, the ANSI
// function called and its results widened. Handles and rectangles pass through
// as opaque pointers (HWND, HDC, HMODULE, RECT*).
#pragma once

#include <cstdint>

// SetWindowTextW, or SetWindowTextA with the narrowed text.
int SetWindowTextWide(void* wnd, const char16_t* text);
// DrawTextW with `count`, or the first `count` units (all up to the 0 when
// count is negative) narrowed and drawn by DrawTextA with length -1.
int DrawTextWide(void* dc, const char16_t* text, int count, void* rect, unsigned format);
// GetModuleFileNameW, or GetModuleFileNameA into 260 bytes, widened: a path
// shorter than `size` is copied with a terminating 0 and its length returned,
// a longer one is cut to `size` units without terminator and `size` returned.
unsigned GetModuleFileNameWide(void* module, char16_t* buffer, unsigned size);
// CompareStringW, or with flags: CompareStringA on the narrowed texts; without
// flags: the order of the UTF-16 units, 1 (less), 2 (equal) or 3 (greater).
int CompareStringWide(unsigned locale, unsigned flags, const char16_t* s1, int n1, const char16_t* s2, int n2);
// CharUpperW, or: a value with bits above the low 16 is a 0-terminated text,
// upper-cased in place unit by unit and returned; a character value is
// upper-cased by CharUpperA when it fits the ANSI code page and stays one
// character, else returned unchanged.
char16_t* CharUpperWide(char16_t* value);
// CharUpperBuffW, or each of the `count` units by the character rule above;
// returns count.
unsigned CharUpperBuffWide(char16_t* text, unsigned count);
