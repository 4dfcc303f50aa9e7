// The writer of the compact line table that a data block carries as its
// debug data, and the readers of a linked module's line rows and symbols
// (the cross binutils' "objdump --dwarf=decodedline" and "nm -C" output).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// One row of a line program: from `Offset` on, code belongs to `Line` of
// `File`, up to the next row. An end row closes the run of rows before it.
struct TVLLineRow {
  std::string File;  // without folder
  std::uint32_t Line = 0;
  std::uint32_t Offset = 0;  // from module base + 4096
  bool End = false;
};

struct TVLFunctionSymbol {
  std::uint32_t Offset = 0;  // from module base + 4096
  std::string ClassName;     // empty for a free function
  std::string Name;
};

struct TVLLineTableInput {
  std::vector<TVLLineRow> Rows;  // in any order; at one offset the last row given wins
  std::vector<TVLFunctionSymbol> Functions;
  std::uint16_t Version = 6022;
  std::string Password;  // for versions from 500 on
};

// The line table: unit records that each hold a run of rows whose lines and
// offsets only grow; a row that would go backwards starts a new record of
// the same file, and rows that carry no new line are dropped.
std::string MakeLineTable(const TVLLineTableInput& input);

// "ns::Foo::bar(int) const" -> class "ns::Foo", name "bar"; "main" -> name "main".
void SplitDemangledName(const std::string& demangled, std::string& className, std::string& name);

// The rows of "objdump --dwarf=decodedline" output, offsets relative to `codeBase`.
std::vector<TVLLineRow> ParseDecodedLines(const std::string& text, std::uint64_t codeBase);
// The code symbols (T/t) of "nm -C" output, offsets relative to `codeBase`.
std::vector<TVLFunctionSymbol> ParseNmSymbols(const std::string& text, std::uint64_t codeBase, bool stripUnderscore);
