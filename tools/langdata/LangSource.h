// The text source of the language data tool: a native source that lists
// every translatable item with its identifiers and English text, and
// translation sources that give other languages' texts by item ID.
//
// UTF-8 text, one statement per line, "#" starts a comment line; numbers are
// decimal or 0x-hexadecimal; texts are double-quoted, with the escapes
// backslash-quote, two backslashes, backslash-n, -r and -t.
//
//   language <LANGID> "<English name>" "<localized name>"
//   version <n>            build <n>            attributes <n>
//   based-on <LANGID>      flags <n> (value flags for the statements that follow)
//   unit <name> [<flags>]
//     const <name> <string-table id> <ID> "<text>"
//   form <name> [<flags>]          (the form's object name, as its form text names it)
//     component <name> [<flags>]     (flags of a component)
//     prop [<component>.]<property> <ID> <kind> "<text>"
//                                    (the property as the form text streams it, dots and all:
//                                     "rgCableType.Items.Strings" is property "Items.Strings"
//                                     of the component "rgCableType")
//   group <name>
//     item <name> <ID> "<text>"
//
// A translation source has the same header lines and then
//   const <ID> "<text>"   prop <ID> "<text>"   item <ID> "<text>"
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "Exceptions.h"
#include "LangFileWriter.h"
#include "LangRes.h"

FW_EXCEPTION(ELangSourceError, Exception);

struct TLangSourceText {
  std::string Kind;  // "const", "prop" or "item"
  std::int32_t ID = 0;
  std::u16string Text;
  int Line = 0;
};

// One line of a source: its words, quoted texts unescaped (still UTF-8).
struct TLangStatement {
  int Line = 0;
  std::vector<std::string> Words;
  std::vector<bool> Quoted;
};

struct TLangSource {
  TLangFileHeader Header;
  // The item statements of a native source, in order.
  std::vector<TLangStatement> Statements;
  // The texts of a translation source.
  std::vector<TLangSourceText> Texts;
  std::string FileName;
};

// Parses a source; raises ELangSourceError "<file>:<line>: <problem>".
TLangSource ParseLangSource(const std::string& text, const std::string& fileName);
TLangSource LoadLangSource(const std::string& fileName);

// Fills a store from a native source (its native language, every item with its
// ID and text, stamp = the version).
void BuildNativeStore(const TLangSource& native, TLangResource& store);
// Adds a column for a translation source and fills it; every ID must name an
// item of the native source. Returns the language index.
int AddTranslation(const TLangSource& translation, TLangResource& store);

// UTF-8 to UTF-16; raises ELangSourceError on malformed input.
std::u16string Utf8ToUtf16(const std::string& text);
