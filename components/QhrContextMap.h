// THelpContextMap: turns a help project's map file (topic names with help
// contexts) into a table of {name hash, context} records sorted by hash, kept
// in the form file as the binary property "FileData".
//
// Map file text, line by line, each line trimmed of blanks and control
// characters:
//   - a main file is read only inside a section that starts with a line
//     beginning "[MAP]"; an empty line ends that section;
//   - a line beginning "[" ends the file;
//   - "#include <name>" reads the file of that name (relative names against the
//     including file's folder) as a part of the map; a file already being read,
//     or one nested deeper than MaxMapIncludeDepth, is skipped with a message
//     (as is, once, every include past MaxMapIncludeFiles);
//   - "#define" is dropped in front of a name;
//   - otherwise the line gives a name and a value split at the first blank or
//     tab after the name, or at "="; blanks and tabs are dropped, "#" and ";"
//     start a comment. The value is decimal or "$"-hexadecimal; a value that
//     does not convert, or a name whose hash is 0, gives no record.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "Component.h"
#include "Streams.h"

// One record of the table: 8 bytes, little-endian, in this order.
struct THelpMapEntry {
  std::int32_t Hash = 0;
  std::int32_t Context = 0;
  bool operator==(const THelpMapEntry&) const = default;
};

// -1, 0 or 1 by the signed hashes.
int CompareMapEntries(const THelpMapEntry& a, const THelpMapEntry& b);

constexpr int MaxMapIncludeDepth = 16;
// Include files read for one map at most (files that include one another
// many times over would otherwise take exponential time); past it every
// further include is skipped, with one message.
constexpr int MaxMapIncludeFiles = 4096;

// Appends the records of a map file (`included`: read as an include file,
// which needs no "[MAP]" line). A file that cannot be read raises EInOutError.
void ParseMapFile(const std::string& path, bool included, std::vector<THelpMapEntry>& entries);

// The map's messages to the user: the information after a design-time update
// and the error for an include file that is skipped. Replaceable (the Windows
// build shows message boxes with an OK button); the default shows nothing.
enum class HelpMapMessageKind { Information, Error };
using HelpMapMessageFunc = void (*)(HelpMapMessageKind kind, const std::string& text);
extern HelpMapMessageFunc HelpMapMessage;

class THelpContextMap : public TComponent {
  FW_CLASS(THelpContextMap, TComponent)
 public:
  explicit THelpContextMap(TComponent* owner);
  void Destroy() override;

  std::string GetFileName() const { return fileName_; }
  // A new, non-empty name outside loading and reading must name an existing
  // file ("File <name> not found." otherwise, the table as it was); the file
  // is parsed and replaces the table. The name is kept in every case.
  void SetFileName(const std::string& value);

  void DefineProperties(TFiler& filer) override;
  // "FileData": a 32-bit byte length, then that many bytes of records.
  virtual void LoadFileData(TStream& stream);
  virtual void StoreFileData(TStream& stream);

  TMemoryStream& Table() { return *table_; }
  int Count() const;
  THelpMapEntry Entry(int index) const;

 private:
  TMemoryStream* table_ = nullptr;
  std::string fileName_;
};

// The unit's initialization: registers the class for form streaming.
void InitQhrContextMap();
