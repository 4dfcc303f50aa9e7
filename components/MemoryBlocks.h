// Raw memory routines of the component library (the zero-filled global
// blocks live with the drawing routines, DrawUtils).
#pragma once

#include <cstddef>
#include <string>

// True when the first `count` bytes of the two blocks are equal (compared a
// 32-bit word at a time, then the last 0 to 3 bytes); a count of 0 (or less) is true.
bool SameBytes(const void* a, const void* b, std::ptrdiff_t count);
// `p` advanced by `count` bytes.
void* OffsetPointer(void* p, std::ptrdiff_t count);
const void* OffsetPointer(const void* p, std::ptrdiff_t count);
// Copies `count` bytes; the blocks may overlap. Nothing for a count of 0 or less.
void CopyBytes(void* dest, const void* source, std::ptrdiff_t count);
// The text as it is (a marker for texts that come from resources).
std::string PassResourceText(const std::string& text);
