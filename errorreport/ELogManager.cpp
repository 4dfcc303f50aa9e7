#include "ELogManager.h"

#include <algorithm>
#include <vector>

#include "EBase64.h"
#include "ECore.h"
#include "EEncrypt.h"
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

std::vector<std::string> SplitLines(const std::string& text) {
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

bool IsBlank(const std::string& line) {
  return std::all_of(line.begin(), line.end(), [](char c) { return c == ' ' || c == '\t'; });
}

// A title line ends in its first ":"; field and continuation lines start with a blank.
bool IsTitleLine(const std::string& line) {
  return !line.empty() && line[0] != ' ' && line.find(':') == line.size() - 1;
}

}  // namespace

std::string EscapeLogValue(const std::string& value) {
  std::string text = NormalizeLineBreaks(value);
  if (text.find(kCrLf) == std::string::npos) return text;
  std::vector<std::string> lines = SplitLines(text);
  while (lines.size() > 1 && lines.back().empty()) lines.pop_back();
  text.clear();
  for (std::size_t i = 0; i < lines.size(); ++i) {
    std::string line = lines[i];
    for (std::size_t at = line.find(": "); at != std::string::npos; at = line.find(": ", at + 2)) line[at + 1] = '_';
    if (IsBlank(line)) line = ".";
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
  std::vector<std::string> lines = SplitLines(fText);
  if (fText.empty()) lines.clear();
  // 1. Sections without lines drop out with their rule and the blank line after them.
  for (std::size_t i = 0; i < lines.size();) {
    if (IsTitleLine(lines[i]) && (i + 2 >= lines.size() || lines[i + 2].empty())) {
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
    if (!IsTitleLine(lines[i]) || i + 1 >= lines.size()) continue;
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
  const std::vector<std::string> lines = SplitLines(entry.substr(spot.valueStart, spot.valueEnd - spot.valueStart));
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
  std::vector<std::string> lines = SplitLines(raw);
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

// --- The XML form ---------------------------------------------------------------------------------

FW_IMPLEMENT_CLASS(TXMLItem)

namespace {

// The Unicode code points of windows-1252's 0x80-0x9F; 0 marks an unassigned byte.
constexpr std::uint16_t kAnsiHigh[32] = {0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                                         0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0,      0x017D, 0,
                                         0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                                         0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};

std::string CharRef(unsigned code) {
  std::string digits = IntToStr(static_cast<int>(code));
  while (digits.size() < 3) digits.insert(0, "0");
  return "&#" + digits + ";";
}

}  // namespace

std::string XmlEscape(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (const char ch : text) {
    const auto c = static_cast<unsigned char>(ch);
    if (c == 9 || c == 10 || c == 13 || c == '"' || c == '&' || c == '\'' || c == '<' || c == '>' || c == 0x7F) {
      out += CharRef(c);
    } else if (c < 0x20) {
      out += '?';
    } else if (c >= 0x80 && c < 0xA0) {
      const unsigned code = kAnsiHigh[c - 0x80];
      out += code ? CharRef(code) : std::string("?");
    } else if (c >= 0xA0) {
      out += CharRef(c);
    } else {
      out += ch;
    }
  }
  return out;
}

TXMLItem::~TXMLItem() {
  for (TXMLItem* child : fChildren) child->Free();
}

TXMLItem* TXMLItem::AddChild(const std::string& name) {
  TXMLItem* child = New<TXMLItem>(name, this);
  fChildren.push_back(child);
  return child;
}

void TXMLItem::AddAttribute(const std::string& name, const std::string& value) {
  fAttributes += " " + name + "=\"" + XmlEscape(value) + "\"";
}

void TXMLItem::SetValue(const std::string& value) {
  fValue = XmlEscape(value);
}

void TXMLItem::GetXmlText(std::string& text) const {
  text.clear();
  Write(text, "");
}

void TXMLItem::Write(std::string& text, const std::string& indent) const {
  text += indent + "<" + fName + fAttributes;
  if (fValue.empty() && fChildren.empty()) {
    text += "/>\r\n";
    return;
  }
  text += ">" + fValue;
  if (!fChildren.empty()) {
    text += kCrLf;
    for (const TXMLItem* child : fChildren) child->Write(text, indent + "  ");
    text += indent;
  }
  text += "</" + fName + ">\r\n";
}

namespace {

std::vector<std::string> TableCells(const std::string& row) {
  std::vector<std::string> cells;
  if (row.size() < 2 || row[0] != '|') return cells;
  std::size_t at = 1;
  while (at < row.size()) {
    const std::size_t bar = row.find('|', at);
    if (bar == std::string::npos) break;
    cells.push_back(Trim(row.substr(at, bar - at)));
    at = bar + 1;
  }
  return cells;
}

std::string CellAt(const std::vector<std::string>& cells, std::size_t i) {
  return i < cells.size() ? cells[i] : std::string();
}

// The data rows of a table block (rule, header row, rule, rows, rule).
std::vector<std::vector<std::string>> TableRows(const std::string& block) {
  std::vector<std::vector<std::string>> rows;
  bool header = true;
  for (const std::string& line : SplitLines(block)) {
    if (line.empty() || line[0] != '|') continue;
    if (header) {
      header = false;
      continue;
    }
    rows.push_back(TableCells(line));
  }
  return rows;
}

bool IsAllowedNameChar(unsigned char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
         std::string_view("_.$@<>:\\/-~ ,()[]{}#+=").find(static_cast<char>(c)) != std::string_view::npos;
}

// A cell "?" + mark + Base64 of a name enciphered with the cipher key in force;
// the raw cell when it deciphers to anything but a plain name.
bool DecipherCell(const std::string& cell, std::string& name) {
  if (cell.size() < 3 || cell[0] != '?') return false;
  std::string bytes;
  Base64DecodeText(cell.substr(2), bytes);
  if (bytes.empty()) return false;
  DecryptBufferCbc(reinterpret_cast<const std::uint8_t*>(bytes.data()), reinterpret_cast<std::uint8_t*>(bytes.data()),
                   bytes.size());
  if (!std::all_of(bytes.begin(), bytes.end(), [](char c) { return IsAllowedNameChar(static_cast<unsigned char>(c)); }))
    return false;
  name = bytes;
  return true;
}

void AddGeneral(TXMLItem& log, const std::string& header) {
  TXMLItem* general = log.AddChild("General");
  const std::vector<std::string> lines = SplitLines(header);
  TXMLItem* group = nullptr;
  std::string title;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    const std::string& line = lines[i];
    if (IsTitleLine(line)) {
      title = line.substr(0, line.size() - 1);
      group = nullptr;
      continue;
    }
    if (line.size() < 4 || line[0] != ' ' || line[1] != ' ' || line[2] < '0' || line[2] > '9') continue;
    const std::size_t blank = line.find(' ', 2);
    const std::size_t colon = line.find(": ", 2);
    if (blank == std::string::npos || colon == std::string::npos || colon < blank) continue;
    const std::string id = line.substr(2, blank - 2);
    const std::string section = id.substr(0, id.find('.'));
    if (!group) {
      group = general->AddChild("Group");
      group->AddAttribute("ID", section);
      group->AddAttribute("Label", title);
    }
    std::vector<std::string> value{line.substr(colon + 2)};
    while (i + 1 < lines.size()) {
      const std::string& next = lines[i + 1];
      if (next.empty() || next[0] != ' ' || IsBlank(next) || (next.size() >= 4 && next[1] == ' ' && next[3] != ' '))
        break;
      value.push_back(TrimLeft(next));
      ++i;
    }
    if (value.size() > 1 && value.front() == ".") value.erase(value.begin());
    if (value.size() > 1 && value.back() == ".") value.pop_back();
    std::string joined;
    for (std::size_t k = 0; k < value.size(); ++k) {
      std::string part = value[k];
      if (value.size() > 1 && part == ".") part.clear();
      for (std::size_t at = part.find(":_"); at != std::string::npos; at = part.find(":_", at + 2)) part[at + 1] = ' ';
      if (k > 0) joined += kCrLf;
      joined += part;
    }
    TXMLItem* item = group->AddChild("Line");
    item->AddAttribute("ID", id);
    item->AddAttribute("Label", Trim(line.substr(blank + 1, colon - blank - 1)));
    item->AddAttribute("Value", joined);
  }
}

void AddThreadAttributes(TXMLItem& thread, const std::string& head) {
  const std::size_t colon = head.find(": ");
  std::vector<std::string> parts;
  if (colon != std::string::npos) {
    const std::string rest = head.substr(colon + 2);
    for (std::size_t at = 0; at <= rest.size();) {
      const std::size_t sep = rest.find("; ", at);
      parts.push_back(rest.substr(at, sep == std::string::npos ? std::string::npos : sep - at));
      if (sep == std::string::npos) break;
      at = sep + 2;
    }
  }
  for (const char* key : {"ID", "Priority", "Class"}) {
    for (const std::string& part : parts) {
      const std::size_t eq = part.find('=');
      if (eq != std::string::npos && Trim(part.substr(0, eq)) == key)
        thread.AddAttribute(key, Trim(part.substr(eq + 1)));
    }
  }
  thread.AddAttribute("MainThread", parts.size() >= 5 ? "True" : "False");
}

void AddCallStack(TXMLItem& log, const std::string& block, bool old, bool decipher) {
  TXMLItem* stack = log.AddChild("CallStack");
  TXMLItem* top = old ? stack->AddChild("ExceptionThread") : nullptr;
  TXMLItem* current = top;
  bool newBlock = false;
  bool header = true;
  for (const std::string& line : SplitLines(block)) {
    if (line.empty() || line[0] != '|') continue;
    if (header) {
      header = false;
      continue;
    }
    if (line.size() >= 3 && line[1] == '-') {
      continue;  // a rule between blocks
    }
    const std::vector<std::string> cells = TableCells(line);
    if (cells.size() == 1) {
      if (cells[0].empty()) {
        newBlock = true;
        continue;
      }
      if (!top) {
        top = stack->AddChild("ExceptionThread");
        current = top;
      } else if (newBlock) {
        top = stack->AddChild("RunningThread");
        current = top;
      } else {
        current = top->AddChild("CallingThread");
      }
      newBlock = false;
      AddThreadAttributes(*current, cells[0]);
      continue;
    }
    if (!current) {
      top = stack->AddChild("ExceptionThread");
      current = top;
    }
    std::string unit = CellAt(cells, 2), cls = CellAt(cells, 3), proc = CellAt(cells, 4);
    if (decipher) {
      std::string name;
      if (DecipherCell(unit, name)) {
        if (ExtractFileExt(name).empty()) name += unit[1] == 'p' ? ".pas" : ".cpp";
        unit = name;
      }
      if (DecipherCell(cls, name)) cls = name;
      if (DecipherCell(proc, name)) {
        const std::size_t dot = name.find('.');
        if (dot != std::string::npos) {
          cls = name.substr(0, dot);
          proc = name.substr(dot + 1);
        } else {
          proc = name;
        }
      }
    }
    const std::string lineCell = CellAt(cells, 5);
    const std::size_t bracket = lineCell.find('[');
    std::string number = lineCell.substr(0, bracket), offset;
    if (bracket != std::string::npos) {
      offset = lineCell.substr(bracket + 1);
      if (!offset.empty() && offset.back() == ']') offset.pop_back();
    }
    TXMLItem* item = current->AddChild("Line");
    item->AddAttribute("Address", CellAt(cells, 0));
    item->AddAttribute("Module", CellAt(cells, 1));
    item->AddAttribute("Unit", unit);
    item->AddAttribute("Class", cls);
    item->AddAttribute("Procedure", proc);
    item->AddAttribute("Number", number);
    item->AddAttribute("Offset", offset);
  }
}

void AddTable(TXMLItem& log, const char* element, const char* row, const std::string& block,
              std::initializer_list<const char*> names) {
  TXMLItem* list = log.AddChild(element);
  for (const std::vector<std::string>& cells : TableRows(block)) {
    TXMLItem* item = list->AddChild(row);
    std::size_t i = 0;
    for (const char* name : names) item->AddAttribute(name, CellAt(cells, i++));
  }
}

void AddAssembler(TXMLItem& log, const std::string& block) {
  TXMLItem* list = log.AddChild("Assembler");
  for (const std::string& line : SplitLines(block)) {
    if (line.empty()) continue;
    TXMLItem* item = list->AddChild("Line");
    if (line[0] == ';') {
      item->AddAttribute("Comment", line);
      continue;
    }
    const std::size_t gap = line.find("  ");
    const std::string address = line.substr(0, gap);
    std::string rest = gap == std::string::npos ? std::string() : line.substr(gap);
    std::string comment;
    const std::size_t semi = rest.find("  ; ");
    if (semi != std::string::npos) {
      comment = rest.substr(semi + 4);
      rest.resize(semi);
    }
    item->AddAttribute("Address", Trim(address));
    item->AddAttribute("Command", Trim(rest));
    item->AddAttribute("Comment", Trim(comment));
  }
}

void AddCpu(TXMLItem& log, const std::string& block) {
  TXMLItem* cpu = log.AddChild("CPU");
  TXMLItem* registers = cpu->AddChild("Registers");
  for (const char* name : {"EAX", "EBX", "ECX", "EDX", "EDI", "ESI", "ESP", "EIP"}) {
    const std::size_t at = block.find(std::string(name) + ": ");
    if (at == std::string::npos) continue;
    const std::string value = block.substr(at + 5, 8);
    if (value == "????    ") continue;
    registers->AddAttribute(name, Trim(value));
  }
  TXMLItem* stack = cpu->AddChild("Stack");
  TXMLItem* dump = cpu->AddChild("MemoryDump");
  const std::size_t second = block.find("\r\n\r\n");
  if (second == std::string::npos) return;
  const std::vector<std::string> lines = SplitLines(block.substr(second + 4));
  for (std::size_t i = 2; i < lines.size(); ++i) {
    std::string line = lines[i];
    if (!line.empty() && line[0] != ' ') {
      const std::size_t colon = line.find(": ");
      const std::size_t end = line.find("   ", colon == std::string::npos ? 0 : colon);
      if (colon != std::string::npos) {
        TXMLItem* item = stack->AddChild("Line");
        item->AddAttribute("Address", line.substr(0, colon));
        item->AddAttribute(
            "Value", Trim(line.substr(colon + 2, end == std::string::npos ? std::string::npos : end - colon - 2)));
      }
      line = end == std::string::npos ? std::string() : line.substr(end);
    }
    line = TrimLeft(line);
    const std::size_t colon = line.find(": ");
    if (colon == std::string::npos) continue;
    const std::string rest = line.substr(colon + 2);
    const std::size_t gap = rest.find("  ");
    TXMLItem* item = dump->AddChild("Line");
    item->AddAttribute("Address", line.substr(0, colon));
    item->AddAttribute("Bytes", rest.substr(0, gap));
    item->AddAttribute("Chars", gap == std::string::npos ? std::string() : rest.substr(gap + 2));
  }
}

}  // namespace

void TLogFile::GetXmlText(std::string& text) const {
  text = "<Doc>\r\n";
  for (const std::string& entry : fEntries) {
    const std::string version = EntryVersion(entry);
    const bool before5 = version < "5.0";
    TOwned<TXMLItem> log(New<TXMLItem>("Log"));
    log->AddAttribute("Version", version);
    AddGeneral(*log, EntryHeader(entry));
    AddCallStack(*log, EntryCallStack(entry), before5, !fPassword.empty());
    AddTable(*log, "Modules", "Module", EntryModules(entry),
             {"Handle", "Name", "Description", "Version", "Size", "Modified", "Path"});
    if (version >= "6.0") {
      AddTable(*log, "Processes", "Process", EntryProcesses(entry),
               {"ID", "Name", "Description", "Version", "Memory", "Priority", "Threads", "Path"});
      AddAssembler(*log, EntryAssembler(entry));
    }
    AddCpu(*log, EntryCpu(entry));
    if (before5) log->AddChild("HoToReproduce")->AddAttribute("Text", EntryReproduceText(entry));
    std::string part;
    log->GetXmlText(part);
    // Every line of a Log element stands two blanks in.
    for (const std::string& line : SplitLines(part))
      if (!line.empty()) text += "  " + line + kCrLf;
  }
  text += "</Doc>";
}

void TLogFile::ExportXml(const std::string& fileName) const {
  std::string text;
  GetXmlText(text);
  WithFileStream(fileName, fmCreate,
                 [&](TFileStream& file) { file.WriteBuffer(text.data(), static_cast<std::int64_t>(text.size())); });
}
