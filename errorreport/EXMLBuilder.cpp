#include "EXMLBuilder.h"

#include <algorithm>
#include <cstdint>
#include <initializer_list>
#include <string_view>

#include "EBase64.h"
#include "EEncrypt.h"
#include "ELogManager.h"
#include "SysUtils.h"

namespace {

constexpr const char* kCrLf = "\r\n";

}  // namespace

// --- Elements ---------------------------------------------------------------------------------

FW_IMPLEMENT_CLASS(TXMLItem)

namespace {

std::string CharRef(unsigned code) {
  std::string digits = IntToStr(static_cast<int>(code));
  while (digits.size() < 3) digits.insert(0, "0");
  return "&#" + digits + ";";
}

std::u16string DefaultAnsiDecoder(const std::string& text) {
  const WideString wide = AnsiToWide(text);
  return std::u16string(wide.begin(), wide.end());
}

TXmlAnsiDecoder gAnsiDecoder = &DefaultAnsiDecoder;

}  // namespace

void SetXmlAnsiDecoder(TXmlAnsiDecoder decoder) {
  gAnsiDecoder = decoder ? decoder : &DefaultAnsiDecoder;
}

std::string XmlEscape(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  const bool ascii =
      std::all_of(text.begin(), text.end(), [](char ch) { return static_cast<unsigned char>(ch) < 0x80; });
  const std::u16string wide = ascii ? std::u16string() : gAnsiDecoder(text);
  const std::size_t count = ascii ? text.size() : wide.size();
  for (std::size_t i = 0; i < count; ++i) {
    unsigned c = ascii ? static_cast<unsigned char>(text[i]) : wide[i];
    if (c >= 0xD800 && c < 0xDC00 && i + 1 < count && wide[i + 1] >= 0xDC00 && wide[i + 1] < 0xE000) {
      c = 0x10000 + ((c - 0xD800) << 10) + (wide[i + 1] - 0xDC00u);
      ++i;
    } else if (c >= 0xD800 && c < 0xE000) {
      c = 0;  // a broken pair
    }
    if (c == 9 || c == 10 || c == 13 || c == '"' || c == '&' || c == '\'' || c == '<' || c == '>' || c == 0x7F) {
      out += CharRef(c);
    } else if (c < 0x20 || (c >= 0x80 && c < 0xA0) || c == 0xFFFD || c == 0xFFFE || c == 0xFFFF) {
      out += '?';
    } else if (c >= 0x80) {
      out += CharRef(c);
    } else {
      out += static_cast<char>(c);
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
  for (const std::string& line : SplitLogLines(block)) {
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
  const std::vector<std::string> lines = SplitLogLines(header);
  TXMLItem* group = nullptr;
  std::string title;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    const std::string& line = lines[i];
    if (IsLogTitleLine(line)) {
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
      if (next.empty() || next[0] != ' ' || IsBlankLogLine(next) ||
          (next.size() >= 4 && next[1] == ' ' && next[3] != ' '))
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
  for (const std::string& line : SplitLogLines(block)) {
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
  for (const std::string& line : SplitLogLines(block)) {
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
  const std::vector<std::string> lines = SplitLogLines(block.substr(second + 4));
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

void BuildLogXml(const TLogFile& logFile, std::string& text) {
  text = "<Doc>\r\n";
  for (int i = 0; i < logFile.GetEntryCount(); ++i) {
    const std::string& entry = logFile.Entry(i);
    const std::string version = TLogFile::EntryVersion(entry);
    const bool before5 = version < "5.0";
    TOwned<TXMLItem> log(New<TXMLItem>("Log"));
    log->AddAttribute("Version", version);
    AddGeneral(*log, TLogFile::EntryHeader(entry));
    AddCallStack(*log, TLogFile::EntryCallStack(entry), before5, !logFile.Password().empty());
    AddTable(*log, "Modules", "Module", TLogFile::EntryModules(entry),
             {"Handle", "Name", "Description", "Version", "Size", "Modified", "Path"});
    if (version >= "6.0") {
      AddTable(*log, "Processes", "Process", TLogFile::EntryProcesses(entry),
               {"ID", "Name", "Description", "Version", "Memory", "Priority", "Threads", "Path"});
      AddAssembler(*log, TLogFile::EntryAssembler(entry));
    }
    AddCpu(*log, TLogFile::EntryCpu(entry));
    if (before5) log->AddChild("HoToReproduce")->AddAttribute("Text", TLogFile::EntryReproduceText(entry));
    std::string part;
    log->GetXmlText(part);
    // Every line of a Log element stands two blanks in.
    for (const std::string& line : SplitLogLines(part))
      if (!line.empty()) text += "  " + line + kCrLf;
  }
  text += "</Doc>";
}
