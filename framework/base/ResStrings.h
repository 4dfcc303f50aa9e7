// Resource strings: texts kept in a module's string table and loaded at each
// use through the module list, so a language library that replaces the
// program's resource instance translates every later lookup.
//
// A string table is stored as RT_STRING blocks of 16 strings: block id/16+1
// holds the strings id/16*16 .. id/16*16+15, each a u16 length followed by
// that many UTF-16 units (a length of 0 for an unused id). The blocks come
// from outside the program (language libraries are built and loaded at run
// time), so the walk is bounds-checked: a missing or truncated entry reads as
// empty text.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "Modules.h"

struct ResString {
  std::uint16_t id = 0;
  ModuleHandle module = 0;  // the module whose string table holds it; 0 = the program
  // The text the string was written with, in ASCII. It serves when no string
  // table holds the id: a tool or a test that carries no program resources.
  const char* native = nullptr;
};

// The RT_STRING block that holds `id`, and the string's index in it.
constexpr std::uint16_t StringBlockId(std::uint16_t id) {
  return static_cast<std::uint16_t>(id / 16 + 1);
}
constexpr unsigned StringBlockIndex(std::uint16_t id) {
  return id % 16u;
}

// Walks a block to entry `index` (0..15). Nothing when the block ends before
// the entry or the entry runs past the block.
std::optional<std::u16string> StringBlockEntry(std::string_view block, unsigned index);

// Builds a block from up to 16 strings (used by tools and tests).
std::string MakeStringBlock(const std::u16string* strings, std::size_t count);

// The text of a resource string as UTF-16, read from the resource instance of
// its module; when the block or entry is missing, malformed or empty, the
// string's native text, or empty when it has none.
std::u16string LoadResStringW(const ResString& rs);
std::u16string LoadStrW(ModuleHandle module, std::uint16_t id);

// The same converted to ANSI (the active code page).
std::string LoadResString(const ResString& rs);
std::string LoadStr(ModuleHandle module, std::uint16_t id);
inline std::string LoadStr(std::uint16_t id) {
  return LoadStr(0, id);
}

// UTF-16 to ANSI conversion used for resource strings. The default is
// WideToAnsi (Windows-1252, '?' for characters it lacks); the Win32 platform
// layer installs the system code page's conversion.
using WideToAnsiFunc = std::string (*)(const std::u16string&);
void SetResStringConverter(WideToAnsiFunc fn);  // null restores the default
