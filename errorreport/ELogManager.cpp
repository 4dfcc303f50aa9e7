#include "ELogManager.h"

#include <algorithm>
#include <vector>

#include "ECore.h"
#include "EXMLBuilder.h"
#include "FileApi.h"
#include "Streams.h"
#include "SysUtils.h"

FW_IMPLEMENT_CLASS(TLogItem)

namespace {

constexpr const char* kCrLf = "\r\n";

// Every lone CR and lone LF becomes CRLF.
std::string NormalizeLineBreaks(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '\r') {
      out += kCrLf;
      if (i + 1 < text.size() && text[i + 1] == '\n') ++i;
    } else if (c == '\n') {
      out += kCrLf;
    } else {
      out += c;
    }
  }
  return out;
}

}  // namespace

std::vector<std::string> SplitLogLines(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t at = 0;
  while (true) {
    const std::size_t end = text.find(kCrLf, at);
    if (end == std::string::npos) {
      lines.push_back(text.substr(at));
      return lines;
    }
    lines.push_back(text.substr(at, end - at));
    at = end + 2;
  }
}

bool IsBlankLogLine(const std::string& line) {
  return std::all_of(line.begin(), line.end(), [](char c) { return c == ' ' || c == '\t'; });
}

bool IsLogTitleLine(const std::string& line) {
  return !line.empty() && line[0] != ' ' && line.find(':') == line.size() - 1;
}

std::string EscapeLogValue(const std::string& value) {
  std::string text = NormalizeLineBreaks(value);
  if (text.find(kCrLf) == std::string::npos) return text;
  std::vector<std::string> lines = SplitLogLines(text);
  while (lines.size() > 1 && lines.back().empty()) lines.pop_back();
  text.clear();
  for (std::size_t i = 0; i < lines.size(); ++i) {
    std::string line = lines[i];
    for (std::size_t at = line.find(": "); at != std::string::npos; at = line.find(": ", at + 2)) line[at + 1] = '_';
    if (IsBlankLogLine(line)) line = ".";
    if (i > 0) text += kCrLf + std::string(" ");
    text += line;
  }
  return text;
}

void TLogItem::Clear() {
  fText.clear();
  fSection = fFirstSection;
  fItem = 0;
}

void TLogItem::AddSection(const std::string& title) {
  ++fSection;
  fItem = 0;
  if (!fText.empty()) fText += "\r\n\r\n";
  fText += title + ":" + kCrLf + "-";
}

void TLogItem::AddLine(const std::string& label, const std::string& value, bool shown) {
  ++fItem;
  if (!shown) return;
  const std::string text = EscapeLogValue(value);
  fText += kCrLf + std::string("  ") + IntToStr(fSection) + "." + IntToStr(fItem) + " " + label + ": " + text;
}

void TLogItem::GetFormattedText(std::string& text) const {
  std::vector<std::string> lines = SplitLogLines(fText);
  if (fText.empty()) lines.clear();
  // 1. Sections without lines drop out with their rule and the blank line after them.
  for (std::size_t i = 0; i < lines.size();) {
    if (IsLogTitleLine(lines[i]) && (i + 2 >= lines.size() || lines[i + 2].empty())) {
      lines.erase(lines.begin() + static_cast<std::ptrdiff_t>(i),
                  lines.begin() + static_cast<std::ptrdiff_t>(std::min(i + 3, lines.size())));
    } else {
      ++i;
    }
  }
  // A last section that dropped out leaves the blank line before it.
  while (!lines.empty() && lines.back().empty()) lines.pop_back();
  // 2. and 3. The ": " of each section in one column, and its rule as wide as its widest line.
  for (std::size_t i = 0; i < lines.size(); ++i) {
    if (!IsLogTitleLine(lines[i]) || i + 1 >= lines.size()) continue;
    std::size_t end = i + 2;
    while (end < lines.size() && !lines[end].empty()) ++end;
    std::size_t column = 0;
    for (std::size_t k = i + 2; k < end; ++k) {
      const std::size_t at = lines[k].find(": ");
      if (at != std::string::npos) column = std::max(column, at);
    }
    std::size_t widest = lines[i].size();
    for (std::size_t k = i + 2; k < end; ++k) {
      std::string& line = lines[k];
      const std::size_t at = line.find(": ");
      if (at != std::string::npos)
        line.insert(at, column - at, ' ');
      else
        line.insert(0, column, ' ');
      widest = std::max(widest, line.size());
    }
    lines[i + 1] = std::string(widest, '-');
    i = end - 1;
  }
  text.clear();
  // Every line ends in CRLF, as in a string list's text.
  for (const std::string& line : lines) text += line + kCrLf;
}

// --- The log file ---------------------------------------------------------------------------------

FW_IMPLEMENT_CLASS(TLogFile)

namespace {

constexpr const char* kEntryEnd = "\r\n\r\n\r\n";
constexpr const char* kSeparator = "\r\n\r\n\r\n\r\n";
constexpr const char* kTableMark = "-\r\n|";

bool EndsWith(const std::string& text, std::string_view tail) {
  return text.size() >= tail.size() && text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

// The line that starts at `at`: its end (before CRLF, or the text's end).
std::size_t LineEnd(const std::string& text, std::size_t at) {
  const std::size_t end = text.find(kCrLf, at);
  return end == std::string::npos ? text.size() : end;
}

// The start of the line after the one that ends at `end`, or npos at the text's end.
std::size_t NextLine(const std::string& text, std::size_t end) {
  return end + 2 <= text.size() && end < text.size() ? end + 2 : std::string::npos;
}

std::size_t LineStart(const std::string& text, std::size_t at) {
  if (at == 0) return 0;
  const std::size_t before = text.rfind(kCrLf, at - 1);
  return before == std::string::npos ? 0 : before + 2;
}

bool IsBlankRange(const std::string& text, std::size_t from, std::size_t to) {
  for (std::size_t i = from; i < to; ++i)
    if (text[i] != ' ' && text[i] != '\t') return false;
  return true;
}

// Where header item `number` stands in an entry.
struct TFieldSpot {
  bool found = false;
  std::size_t lineStart = 0;   // the "  " that opens the line
  std::size_t valueStart = 0;  // after ": "
  std::size_t valueEnd = 0;    // the end of the last continuation line
};

TFieldSpot FindField(const std::string& entry, const std::string& number) {
  TFieldSpot spot;
  if (number.empty()) return spot;
  const std::string key = std::string(kCrLf) + "  " + number + " ";
  const std::size_t at = entry.find(key);
  if (at == std::string::npos) return spot;
  const std::size_t lineEnd = LineEnd(entry, at + 2);
  const std::size_t colon = entry.find(": ", at + key.size());
  if (colon == std::string::npos || colon >= lineEnd) return spot;
  spot.found = true;
  spot.lineStart = at + 2;
  spot.valueStart = colon + 2;
  spot.valueEnd = lineEnd;
  // Continuation lines start with blanks deeper than a numbered line's "  n".
  for (std::size_t next = NextLine(entry, lineEnd); next != std::string::npos;) {
    const std::size_t end = LineEnd(entry, next);
    if (IsBlankRange(entry, next, end)) break;
    if (entry[next] != ' ') break;
    if (end - next >= 4 && entry[next + 1] == ' ' && entry[next + 3] != ' ') break;
    spot.valueEnd = end;
    next = NextLine(entry, end);
  }
  return spot;
}

// The stored value with the continuation lines' column blanks cut to the one
// blank of the escaped form.
std::string RawFieldValue(const std::string& entry, const TFieldSpot& spot) {
  const std::vector<std::string> lines = SplitLogLines(entry.substr(spot.valueStart, spot.valueEnd - spot.valueStart));
  std::string out;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    if (i == 0) {
      out += lines[i];
    } else {
      out += kCrLf + std::string(" ") + TrimLeft(lines[i]);
    }
  }
  return out;
}

std::string UnescapeValue(const std::string& raw) {
  std::vector<std::string> lines = SplitLogLines(raw);
  std::string out;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    std::string line = i == 0 ? lines[i] : TrimLeft(lines[i]);
    if (lines.size() > 1 && line == ".") {
      line = " ";
    } else {
      for (std::size_t at = line.find(":_"); at != std::string::npos; at = line.find(":_", at + 2)) line[at + 1] = ' ';
    }
    if (i > 0) out += kCrLf;
    out += line;
  }
  return out;
}

}  // namespace

TLogFile::TLogFile(const std::string& fileName, bool readOnly) : fFileName(fileName) {
  ResolveWritableFile(fFileName, true, readOnly);
  if (!FileExists(fFileName)) return;
  fStream = New<TFileStream>(fFileName, (readOnly ? fmOpenRead : fmOpenReadWrite) | fmShareDenyNone);
  const std::int64_t size = fStream->Seek(0, SeekOrigin::End);
  const std::int64_t take = std::min<std::int64_t>(size, static_cast<std::int64_t>(kMaxReadBytes));
  fStream->Seek(size - take, SeekOrigin::Beginning);
  std::string text(static_cast<std::size_t>(std::max<std::int64_t>(take, 0)), '\0');
  const std::int64_t got = text.empty() ? 0 : fStream->Read(text.data(), take);
  text.resize(static_cast<std::size_t>(std::max<std::int64_t>(got, 0)));
  if (take < size) {
    // The cut leaves a partial entry at the front: start after the first separator.
    const std::size_t cut = text.find(kSeparator);
    text = cut == std::string::npos ? std::string() : text.substr(cut + 8);
  }
  fEntries = ParseEntries(std::move(text));
}

TLogFile::~TLogFile() {
  if (fStream) fStream->Free();
}

std::vector<std::string> TLogFile::ParseEntries(std::string text) {
  std::vector<std::string> entries;
  if (text.size() < 8) return entries;
  text = NormalizeLineBreaks(text);
  if (!EndsWith(text, kSeparator)) text += kSeparator;
  std::size_t at = 0;
  while (at < text.size()) {
    const std::size_t run = text.find(kSeparator, at);
    if (run == std::string::npos) break;
    if (!(run == at && at == 0)) {
      std::string candidate = text.substr(at, run - at) + kEntryEnd;
      if (candidate.find(kTableMark) != std::string::npos) entries.push_back(std::move(candidate));
    }
    at = run + 8;
  }
  return entries;
}

void TLogFile::AppendEntry(const std::string& text, int maximum) {
  if (maximum != -1 && static_cast<int>(fEntries.size()) >= maximum) {
    const std::size_t drop =
        std::min(fEntries.size(), static_cast<std::size_t>(static_cast<int>(fEntries.size()) - maximum + 1));
    fEntries.erase(fEntries.begin(), fEntries.begin() + static_cast<std::ptrdiff_t>(drop));
  }
  fEntries.push_back(text + kEntryEnd);
}

void TLogFile::GetAllText(std::string& text) const {
  text.clear();
  for (const std::string& entry : fEntries) text += entry + kCrLf;
}

void TLogFile::WriteBack() {
  if (!fStream && fFileName.empty()) return;  // an in-memory log
  if (!fStream) fStream = New<TFileStream>(fFileName, fmCreate);
  std::string text;
  GetAllText(text);
  const bool whole = text.size() >= 10 && text.compare(text.size() - 10, 2, kCrLf) == 0;
  if (!whole && EndsWith(text, kCrLf)) text.resize(text.size() - 2);
  fStream->Seek(0, SeekOrigin::Beginning);
  fStream->WriteBuffer(text.data(), static_cast<std::int64_t>(text.size()));
  fStream->SetSize(static_cast<std::int64_t>(text.size()));
}

void TLogFile::GetEntryField(const std::string& number, int entryIndex, std::string& value) const {
  value.clear();
  if (entryIndex < 0 || entryIndex >= GetEntryCount()) return;
  const std::string& entry = fEntries[static_cast<std::size_t>(entryIndex)];
  const TFieldSpot spot = FindField(entry, number);
  if (!spot.found) return;
  value = Trim(UnescapeValue(entry.substr(spot.valueStart, spot.valueEnd - spot.valueStart)));
}

void TLogFile::SetEntryField(const std::string& number, const std::string& value, int entryIndex,
                             const std::string& label) {
  if (entryIndex < 0 || entryIndex >= GetEntryCount()) return;
  std::string& entry = fEntries[static_cast<std::size_t>(entryIndex)];
  const auto placed = [&](std::size_t column) {
    // Continuation lines start under the value column.
    std::string text = EscapeLogValue(value);
    std::string out;
    for (std::size_t at = 0; at < text.size();) {
      const std::size_t br = text.find(kCrLf, at);
      if (br == std::string::npos) {
        out += text.substr(at);
        break;
      }
      out += text.substr(at, br - at) + kCrLf + std::string(column, ' ');
      at = br + 2;
    }
    return out;
  };
  const TFieldSpot spot = FindField(entry, number);
  if (spot.found) {
    const std::size_t column = spot.valueStart - 2 - spot.lineStart;
    entry.replace(spot.valueStart, spot.valueEnd - spot.valueStart, placed(column));
    if (!EndsWith(entry, kEntryEnd)) entry += kCrLf;
    return;
  }
  const std::size_t dot = number.find('.');
  if (dot == std::string::npos) return;
  const std::string section = number.substr(0, dot + 1);
  TFieldSpot sibling;
  for (int item = 1; item <= 19; ++item) {
    const TFieldSpot s = FindField(entry, section + IntToStr(item));
    if (s.found) sibling = s;
  }
  if (!sibling.found) return;
  const std::size_t width = sibling.valueStart - 2 - sibling.lineStart - 2;
  std::string name = number + " " + label;
  if (name.size() < width) name.append(width - name.size(), ' ');
  const std::string line = std::string(kCrLf) + "  " + name + ": " + placed(2 + name.size() + 1);
  entry.insert(sibling.valueEnd, line);
}

int TLogFile::FindMatchingField(const std::vector<std::string>& numbers, int lastIndex,
                                const std::vector<std::string>& values, int* entryIndex) const {
  int result = -1;
  if (entryIndex) *entryIndex = -1;
  const int pairs = std::min({lastIndex + 1, static_cast<int>(numbers.size()), static_cast<int>(values.size())});
  for (int i = 0; i < GetEntryCount(); ++i) {
    const std::string& entry = fEntries[static_cast<std::size_t>(i)];
    for (int j = 0; j < pairs; ++j) {
      const TFieldSpot spot = FindField(entry, numbers[static_cast<std::size_t>(j)]);
      if (!spot.found) continue;
      if (Trim(RawFieldValue(entry, spot)) == Trim(EscapeLogValue(values[static_cast<std::size_t>(j)]))) {
        result = j;
        if (entryIndex) *entryIndex = i;
        break;
      }
    }
  }
  return result;
}

// --- Sections of one entry ------------------------------------------------------------------------

namespace {

// The first table: the start of its rule line and the end of its closing rule.
struct TTableSpot {
  bool found = false;
  std::size_t titleStart = 0;
  std::size_t ruleStart = 0;
  std::size_t end = 0;
};

TTableSpot FindFirstTable(const std::string& entry) {
  TTableSpot spot;
  const std::size_t mark = entry.find(kTableMark);
  if (mark == std::string::npos) return spot;
  spot.found = true;
  spot.ruleStart = LineStart(entry, mark);
  spot.titleStart = spot.ruleStart >= 2 ? LineStart(entry, spot.ruleStart - 2) : 0;
  // Header row, its rule, the rows (all starting with "|"), then the closing rule.
  std::size_t at = NextLine(entry, LineEnd(entry, spot.ruleStart));
  int line = 0;
  spot.end = LineEnd(entry, spot.ruleStart);
  while (at != std::string::npos && at < entry.size()) {
    const std::size_t end = LineEnd(entry, at);
    ++line;
    if (line == 2 || entry[at] == '|') {
      spot.end = end;
    } else if (entry[at] == '-') {
      spot.end = end;
      break;
    } else {
      break;
    }
    at = NextLine(entry, end);
  }
  return spot;
}

// The n-th section (1-based) that starts after `from`: the start of its rule line,
// or npos.
std::size_t FindSectionRule(const std::string& entry, std::size_t from, int n) {
  std::size_t at = from;
  for (int i = 0; i < n; ++i) {
    const std::size_t mark = entry.find(":\r\n-", at);
    if (mark == std::string::npos) return std::string::npos;
    at = mark + 3;
  }
  return at;
}

// From `at` up to the next blank line (without it).
std::string UpToBlankLine(const std::string& entry, std::size_t at) {
  std::size_t end = at;
  for (std::size_t line = at; line != std::string::npos && line < entry.size();) {
    const std::size_t e = LineEnd(entry, line);
    if (IsBlankRange(entry, line, e)) break;
    end = e;
    line = NextLine(entry, e);
  }
  return entry.substr(at, end - at);
}

}  // namespace

std::string TLogFile::EntryVersion(const std::string& entry) {
  const std::size_t end = LineEnd(entry, 0);
  return end > 10 ? entry.substr(10, end - 10) : std::string();
}

std::string TLogFile::EntryHeader(const std::string& entry) {
  const TTableSpot table = FindFirstTable(entry);
  if (!table.found) return {};
  std::string header = entry.substr(0, table.titleStart);
  while (!header.empty() && (header.back() == ' ' || header.back() == '\r' || header.back() == '\n')) header.pop_back();
  return header;
}

std::string TLogFile::EntryCallStack(const std::string& entry) {
  const TTableSpot table = FindFirstTable(entry);
  return table.found ? entry.substr(table.ruleStart, table.end - table.ruleStart) : std::string();
}

namespace {
std::string SectionAfterCallStack(const std::string& entry, int n, bool withRule) {
  const TTableSpot table = FindFirstTable(entry);
  if (!table.found) return {};
  const std::size_t rule = FindSectionRule(entry, table.end, n);
  if (rule == std::string::npos) return {};
  if (withRule) return UpToBlankLine(entry, rule);
  const std::size_t next = NextLine(entry, LineEnd(entry, rule));
  return next == std::string::npos ? std::string() : UpToBlankLine(entry, next);
}
}  // namespace

std::string TLogFile::EntryModules(const std::string& entry) {
  return SectionAfterCallStack(entry, 1, true);
}

std::string TLogFile::EntryProcesses(const std::string& entry) {
  if (EntryVersion(entry) < "6.0") return {};
  return SectionAfterCallStack(entry, 2, true);
}

std::string TLogFile::EntryAssembler(const std::string& entry) {
  if (EntryVersion(entry) < "6.0") return {};
  return SectionAfterCallStack(entry, 3, false);
}

std::string TLogFile::EntryCpu(const std::string& entry) {
  const TTableSpot table = FindFirstTable(entry);
  if (!table.found) return {};
  const int blanks = EntryVersion(entry) < "6.0" ? 2 : 4;
  std::size_t at = NextLine(entry, table.end);
  int seen = 0;
  while (at != std::string::npos && at < entry.size() && seen < blanks) {
    const std::size_t end = LineEnd(entry, at);
    if (IsBlankRange(entry, at, end)) ++seen;
    at = NextLine(entry, end);
  }
  if (seen < blanks || at == std::string::npos || at >= entry.size()) return {};
  const std::string first = UpToBlankLine(entry, at);
  std::string cpu = first;
  std::size_t second = NextLine(entry, at + first.size());
  if (second != std::string::npos && second < entry.size()) {
    second = NextLine(entry, LineEnd(entry, second));  // past the blank line
    if (second != std::string::npos && second < entry.size()) cpu += "\r\n\r\n" + UpToBlankLine(entry, second);
  }
  return cpu.find("EAX") == std::string::npos ? std::string() : cpu;
}

std::string TLogFile::EntryReproduceText(const std::string& entry) {
  if (EntryVersion(entry) >= "5.0") return {};
  const std::size_t title = entry.find("\r\nRequest:\r\n-");
  if (title == std::string::npos) return {};
  const std::size_t next = NextLine(entry, LineEnd(entry, title + 12));
  return next == std::string::npos ? std::string() : UpToBlankLine(entry, next);
}

void TLogFile::GetXmlText(std::string& text) const {
  BuildLogXml(*this, text);
}

void TLogFile::ExportXml(const std::string& fileName) const {
  std::string text;
  GetXmlText(text);
  WithFileStream(fileName, fmCreate,
                 [&](TFileStream& file) { file.WriteBuffer(text.data(), static_cast<std::int64_t>(text.size())); });
}
