// The numbered header tree of a report: sections with a title and a rule,
// and numbered "label: value" lines whose ": " stand in one column.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "Object.h"

class TLogItem : public TObject {
  FW_CLASS(TLogItem, TObject)
 public:
  // The first section added is numbered firstSection + 1.
  explicit TLogItem(int firstSection) : fFirstSection(firstSection), fSection(firstSection) {}

  void Clear();
  void AddSection(const std::string& title);
  // Always takes the next item number; a hidden line leaves its number unused.
  void AddLine(const std::string& label, const std::string& value, bool shown);
  // The tree with its empty sections dropped, the ": " aligned and the rules stretched;
  // each line ends in CRLF.
  void GetFormattedText(std::string& text) const;
  const std::string& Text() const { return fText; }

 private:
  std::string fText;
  int fFirstSection;
  int fSection;
  int fItem = 0;
};

// The escaped form of a header value as the tree stores it: line breaks made
// CRLF; for a multi-line value ": " written ":_", blank lines written "." and
// each line after the first led by one blank, with no trailing CRLF.
std::string EscapeLogValue(const std::string& value);

// The lines of a header text split at CRLF (a text ending in CRLF ends in an empty line).
std::vector<std::string> SplitLogLines(const std::string& text);
// A line of blanks and tabs only (written "." inside a multi-line value).
bool IsBlankLogLine(const std::string& line);
// A title line ends in its first ":"; field and continuation lines start with a blank.
bool IsLogTitleLine(const std::string& line);

class TFileStream;

// The text log of error reports: entries (one report text each, ending in three
// CRLF) separated by runs of four CRLF. Reading never trusts the file: a damaged
// or foreign file gives the entries that can be recognised, and none else.
class TLogFile : public TObject {
  FW_CLASS(TLogFile, TObject)
 public:
  // A file larger than this is read from its last kMaxReadBytes only.
  static constexpr std::size_t kMaxReadBytes = 32u << 20;

  // Opens an existing file (sharing read and write) and loads its entries; a
  // missing file is created by the first WriteBack. Open errors raise EFOpenError.
  TLogFile(const std::string& fileName, bool readOnly);
  ~TLogFile() override;
  // An in-memory log with no file; LoadText fills it as a file of that content would.
  TLogFile() = default;
  void LoadText(const std::string& text) { fEntries = ParseEntries(text); }

  const std::string& FileName() const { return fFileName; }
  void SetPassword(const std::string& password) { fPassword = password; }
  const std::string& Password() const { return fPassword; }

  // Drops the oldest entries so that at most max(maximum, 1) remain with the new
  // one (no limit for -1), then adds text + three CRLF as the newest entry.
  void AppendEntry(const std::string& text, int maximum);
  // Writes the entries from position 0 and cuts the file after them (nothing for an in-memory log).
  void WriteBack();
  int GetEntryCount() const { return static_cast<int>(fEntries.size()); }
  const std::string& Entry(int index) const { return fEntries.at(static_cast<std::size_t>(index)); }
  void GetAllText(std::string& text) const;

  // The value of header item `number` ("2.7") of an entry, with its escapes undone
  // and trimmed; empty for a missing entry or item.
  void GetEntryField(const std::string& number, int entryIndex, std::string& value) const;
  // Replaces the item's value, or inserts a new line labelled `label` after the
  // item's last existing sibling. Does nothing when neither is possible.
  void SetEntryField(const std::string& number, const std::string& value, int entryIndex, const std::string& label);
  // For each entry, pairs 0..lastIndex are tried in order: a pair matches when the
  // item numbers[j] holds values[j]. The pair index of the first match in the
  // last entry that has one, or -1; `entryIndex` (when given) gets that entry.
  int FindMatchingField(const std::vector<std::string>& numbers, int lastIndex, const std::vector<std::string>& values,
                        int* entryIndex = nullptr) const;

  // The sections of one entry (empty when missing).
  static std::string EntryVersion(const std::string& entry);
  static std::string EntryHeader(const std::string& entry);
  static std::string EntryCallStack(const std::string& entry);
  static std::string EntryModules(const std::string& entry);
  static std::string EntryProcesses(const std::string& entry);
  static std::string EntryAssembler(const std::string& entry);
  static std::string EntryCpu(const std::string& entry);
  static std::string EntryReproduceText(const std::string& entry);

  // The XML form of all entries.
  void GetXmlText(std::string& text) const;
  void ExportXml(const std::string& fileName) const;

  // Splits file text into its kept entries.
  static std::vector<std::string> ParseEntries(std::string text);

 private:
  std::string fFileName;
  TFileStream* fStream = nullptr;
  std::vector<std::string> fEntries;
  std::string fPassword;
};
