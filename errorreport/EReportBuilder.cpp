#include "EReportBuilder.h"

#include <algorithm>

#include "ECallStack.h"
#include "EDisAsm.h"
#include "EHook.h"
#include "ESystem.h"
#include "ExceptionLog.h"
#include "SysUtils.h"

namespace {

constexpr const char* kCrLf = "\r\n";

std::string Hex8(std::uint32_t value) {
  return IntToHex(value, 8);
}

std::string Rule(std::size_t length) {
  return std::string(length, '-');
}

}  // namespace

// --- Tables ---------------------------------------------------------------------------------------------
std::string CleanTableCell(const std::string& text) {
  std::string out = text;
  for (char& c : out)
    if (c == '\r' || c == '\n' || c == '|') c = '?';
  return out;
}

std::vector<std::size_t> ReportTableWidths(const TReportTable& table) {
  std::vector<std::size_t> widths(table.Heads.size());
  for (std::size_t i = 0; i < widths.size(); ++i) {
    widths[i] = table.Heads[i].size();
    if (i < table.MinWidths.size()) widths[i] = std::max(widths[i], table.MinWidths[i]);
  }
  for (const auto& row : table.Rows)
    for (std::size_t i = 0; i < widths.size() && i < row.size(); ++i) widths[i] = std::max(widths[i], row[i].size());
  return widths;
}

std::string FormatReportTable(const std::string& title, const TReportTable& table) {
  const std::vector<std::size_t> widths = ReportTableWidths(table);
  std::size_t rowWidth = widths.size() + 1;
  for (std::size_t w : widths) rowWidth += w;
  const std::string rule = Rule(rowWidth);
  // The rows go into one blank-filled buffer sized up front.
  const std::size_t lineWidth = rowWidth + 2;
  std::string rows(lineWidth * table.Rows.size(), ' ');
  auto writeRow = [&](std::string& buffer, std::size_t at, const std::vector<std::string>& cells) {
    buffer[at] = '|';
    std::size_t x = at + 1;
    for (std::size_t i = 0; i < widths.size(); ++i) {
      if (i < cells.size()) buffer.replace(x, cells[i].size(), cells[i]);
      x += widths[i];
      buffer[x++] = '|';
    }
    buffer[x] = '\r';
    buffer[x + 1] = '\n';
  };
  for (std::size_t r = 0; r < table.Rows.size(); ++r) writeRow(rows, r * lineWidth, table.Rows[r]);
  std::string head(lineWidth, ' ');
  writeRow(head, 0, table.Heads);
  std::string out = title + ":" + kCrLf + rule + kCrLf;
  out += head;
  out += rule + kCrLf;
  out += rows;
  out += rule + kCrLf + kCrLf;
  return out;
}

std::string EmptyReportSection(const std::string& title) {
  return title + ":" + kCrLf + Rule(title.size() + 1) + kCrLf + kCrLf;
}

std::string BuildModulesTable(const TVantorModuleOptions& texts, const TVantorModulesList& modules) {
  TReportTable table;
  for (int text = 126; text <= 132; ++text) table.Heads.push_back(texts.GetCustomText(text));
  table.MinWidths = {8};
  // The handle takes as many hex digits as its column is wide.
  const int handleDigits = static_cast<int>(std::max<std::size_t>(table.Heads[0].size(), 8));
  for (int i = 0; i < modules.Count(); ++i) {
    const TVantorModuleInfo* m = modules.Items(i);
    table.Rows.push_back({IntToHex(static_cast<std::uint64_t>(m->Handle), handleDigits),
                          CleanTableCell(ExtractFileName(m->FileName)), CleanTableCell(m->Description),
                          CleanTableCell(m->Version), IntToStr(m->FileSize), FormatReportDateTime(m->FileTime),
                          CleanTableCell(GetFolderOfPath(m->FileName))});
  }
  return FormatReportTable(texts.GetCustomText(10), table);
}

std::string BuildProcessesTable(const TVantorModuleOptions& texts, const TVantorProcessesList& processes) {
  TReportTable table;
  for (int text = 133; text <= 140; ++text) table.Heads.push_back(texts.GetCustomText(text));
  for (int i = 0; i < processes.Count(); ++i) {
    const TVantorProcessInfo* p = processes.Items(i);
    table.Rows.push_back({IntToStr(p->ProcessId), CleanTableCell(ExtractFileName(p->FileName)),
                          CleanTableCell(p->Description), CleanTableCell(p->Version),
                          IntToStr(static_cast<std::int64_t>(p->Memory)), GetPriorityClassName(p->PriorityClass),
                          FormatNumberOrUnknown(p->Threads), CleanTableCell(GetFolderOfPath(p->FileName))});
  }
  return FormatReportTable(texts.GetCustomText(12), table);
}

// --- Assembler listing -------------------------------------------------------------------------------
namespace {

std::string StripUnitExtension(std::string unit) {
  const std::size_t dot = unit.rfind('.');
  if (dot != std::string::npos) unit.erase(dot);
  return unit;
}

// The unit (without extension), class and procedure of a location, joined by ".".
std::string LocationName(const TVLLocationInfo& location) {
  const std::string unit = StripUnitExtension(location.UnitName);
  std::string name;
  for (const std::string* part : {&unit, &location.ClassName, &location.ProcedureName}) {
    if (part->empty()) continue;
    if (!name.empty()) name += '.';
    name += *part;
  }
  return name;
}

bool LocateNamed(const TAssemblerSources& sources, std::uint32_t address, TVLLocationInfo& location) {
  return sources.Locate && sources.Locate(address, location) && location.Kind >= 2 && location.Kind <= 4;
}

// The length decoder's step at `address`: the instruction's length (counted),
// 1 for a byte it does not decode (not counted), 0 when the bytes run into unreadable memory.
int StepAt(MemoryReader& memory, std::uint32_t address, bool& counted) {
  std::uint8_t bytes[kMaxDecodedBytes];
  const std::size_t available = memory.ReadUpTo(address, bytes, sizeof bytes);
  int length = 0;
  counted = GetInstructionLength(bytes, available, length);
  return length;
}

struct Walk {
  bool landed = false;
  int instructions = 0;
};

Walk WalkTo(MemoryReader& memory, std::uint32_t from, std::uint32_t address) {
  Walk walk;
  std::uint32_t at = from;
  while (at < address) {
    bool counted = false;
    const int length = StepAt(memory, at, counted);
    if (length <= 0) return walk;
    if (counted) ++walk.instructions;
    at += static_cast<std::uint32_t>(length);
  }
  walk.landed = at == address;
  return walk;
}

struct ListingHooks {
  const TAssemblerSources* sources;
};

void NameTarget(void* data, std::uint32_t, std::uint32_t target, std::string& text) {
  const std::string name = ResolveCodeName(*static_cast<ListingHooks*>(data)->sources, target);
  if (!name.empty()) text = name;
}

// A 4-byte plain immediate that points at readable bytes gets them as a string comment.
void StringComment(void* data, std::uint32_t, int size, bool isSigned, std::string& text) {
  if (size != 4 || isSigned) return;
  std::int64_t value = 0;
  if (!TryStrToInt64(text, value)) return;
  MemoryReader& memory = *static_cast<ListingHooks*>(data)->sources->Memory;
  std::uint8_t bytes[32];
  const std::size_t readable = memory.ReadUpTo(static_cast<std::uint32_t>(value), bytes, sizeof bytes);
  if (readable == 0) return;
  std::string shown;
  bool ended = false;
  for (std::size_t i = 0; i < readable; ++i) {
    if (bytes[i] == 0) {
      ended = true;
      break;
    }
    shown += bytes[i] < 32 ? '.' : static_cast<char>(bytes[i]);
  }
  text += "  ; '" + shown + "'";
  if (!ended) text += "...";
}

}  // namespace

std::string ResolveCodeName(const TAssemblerSources& sources, std::uint32_t address) {
  const std::uint32_t target = sources.Memory ? FollowImportJumpIn(*sources.Memory, address) : address;
  TVLLocationInfo location;
  if (LocateNamed(sources, target, location)) {
    std::string name = LocationName(location);
    if (location.LineInProcedure > 1) name += " (Line=" + IntToStr(location.Line) + ")";
    return name;
  }
  if (sources.ObjectClassName) return sources.ObjectClassName(address);
  return std::string();
}

std::string BuildAssemblerSection(const TAssemblerSources& sources, std::uint32_t address, const std::string& titleText,
                                  std::string& title) {
  title.clear();
  if (!sources.Memory || !sources.Memory->IsReadable(address, 4)) return std::string();
  MemoryReader& memory = *sources.Memory;

  // The first readable byte from (address - reach) on, then the first start
  // whose walk with the length decoder lands on the address.
  const std::uint32_t low = address >= kListingReach ? address - kListingReach : 0;
  std::uint32_t start = low;
  while (start < address && !memory.IsReadable(start, 1)) ++start;
  Walk walk;
  for (; start < address; ++start) {
    walk = WalkTo(memory, start, address);
    if (walk.landed) break;
  }
  if (start >= address) walk = Walk{true, 0};
  for (int skip = walk.instructions - kListedInstructionsBefore; skip > 0;) {
    bool counted = false;
    const int length = StepAt(memory, start, counted);
    if (length <= 0) break;
    if (counted) --skip;
    start += static_cast<std::uint32_t>(length);
  }
  // The last readable byte up to (address + reach).
  std::uint32_t end = address > 0xFFFFFFFFu - kListingReach ? 0xFFFFFFFFu : address + kListingReach;
  while (end > address && !memory.IsReadable(end, 1)) --end;

  ListingHooks hooks{&sources};
  TDisAsm disasm;
  disasm.OnJumpTarget = NameTarget;
  disasm.OnCallTarget = NameTarget;
  disasm.OnAddressValue = NameTarget;
  disasm.OnImmediate = StringComment;
  disasm.UserData = &hooks;

  std::vector<std::string> lines;
  std::size_t remembered = 0;
  std::string previousName, previousLineText;
  int after = 0;
  for (std::uint32_t at = start; at <= end;) {
    int length = 0;
    std::string text;
    // An instruction cut off by unreadable memory ends the listing.
    if (!DisassembleInstruction(disasm, memory, at, length, text) || length <= 0) break;
    std::string line = Hex8(at) + "  " + text;
    if (at == address) line += "  ; <-- EXCEPTION";

    TVLLocationInfo location;
    std::string name, lineText;
    if (LocateNamed(sources, at, location)) {
      name = LocationName(location) + " ";
      lineText = "Line=" + IntToStr(location.Line) + " - Offset=" + IntToStr(location.LineInProcedure);
    }
    std::string heading;
    if (name != previousName) {
      heading = name;
      if (at <= address) remembered = lines.size();
    }
    if (lineText != previousLineText) heading = heading.empty() ? lineText : heading + "(" + lineText + ")";
    previousName = name;
    previousLineText = lineText;
    if (!heading.empty()) {
      if (!lines.empty()) lines.push_back(";");
      lines.push_back("; " + heading);
      lines.push_back("; " + Rule(heading.size()));
    }
    lines.push_back(line);

    std::uint8_t first = 0;
    memory.Read(at, &first, 1);
    if (at > address && (++after >= kListedInstructionsAfter || (first >= 0xC2 && first <= 0xCB))) break;
    if (at > 0xFFFFFFFFu - static_cast<std::uint32_t>(length)) break;
    at += static_cast<std::uint32_t>(length);
  }

  // The listing starts at the heading of the procedure that holds the exception.
  lines.erase(lines.begin(), lines.begin() + static_cast<std::ptrdiff_t>(std::min(remembered, lines.size())));
  if (!lines.empty() && lines.front() == ";") lines.erase(lines.begin());

  // Comments aligned two blanks after the longest code part.
  std::size_t column = 0;
  for (const std::string& line : lines) column = std::max(column, Trim(line.substr(0, line.find(';'))).size());
  column += 2;
  std::size_t longest = 0;
  std::string out;
  for (std::string& line : lines) {
    const std::size_t semicolon = line.find(';');
    if (semicolon != std::string::npos && semicolon > 0 && semicolon < column)
      line.insert(semicolon, column - semicolon, ' ');
    longest = std::max(longest, line.size());
    out += line + kCrLf;
  }
  const std::string head = titleText + ":";
  title = head + kCrLf + Rule(std::max(head.size(), longest));
  return out;
}

// --- Registers, stack and memory ---------------------------------------------------------------------
std::string BuildMemoryDump(MemoryReader& memory, std::uint32_t stackPointer, std::uint32_t address) {
  std::uint8_t stack[64], bytes[256];
  if (!memory.Read(stackPointer, stack, sizeof stack) || !memory.Read(address, bytes, sizeof bytes))
    return std::string();
  std::string out;
  for (std::uint32_t i = 0; i < 16; ++i) {
    const std::uint32_t dword =
        static_cast<std::uint32_t>(stack[4 * i]) | (static_cast<std::uint32_t>(stack[4 * i + 1]) << 8) |
        (static_cast<std::uint32_t>(stack[4 * i + 2]) << 16) | (static_cast<std::uint32_t>(stack[4 * i + 3]) << 24);
    out += Hex8(stackPointer + 4 * i) + ": " + Hex8(dword) + "   " + Hex8(address + 16 * i) + ": ";
    std::string chars;
    for (std::uint32_t j = 0; j < 16; ++j) {
      const std::uint8_t b = bytes[16 * i + j];
      out += IntToHex(b, 2) + " ";
      chars += b < 32 || b > 126 ? '.' : static_cast<char>(b);
    }
    out += " " + chars + kCrLf;
  }
  return out;
}

std::string BuildCpuText(const TCpuTexts& texts, const TReportRegisters* registers, MemoryReader& memory,
                         std::uint32_t stackPointer, std::uint32_t address) {
  auto reg = [&](std::uint32_t TReportRegisters::*field) {
    return registers ? Hex8(registers->*field) : std::string("????    ");
  };
  std::string stackHead = texts.Stack + ":";
  if (stackHead.size() < 21) stackHead.resize(21, ' ');
  std::string out = texts.Registers + ":\r\n-----------------------------\r\n";
  out += "EAX: " + reg(&TReportRegisters::Eax) + "   EDI: " + reg(&TReportRegisters::Edi) + kCrLf;
  out += "EBX: " + reg(&TReportRegisters::Ebx) + "   ESI: " + reg(&TReportRegisters::Esi) + kCrLf;
  out += "ECX: " + reg(&TReportRegisters::Ecx) + "   ESP: " + reg(&TReportRegisters::Esp) + kCrLf;
  out += "EDX: " + reg(&TReportRegisters::Edx) + "   EIP: " + reg(&TReportRegisters::Eip) + kCrLf;
  out += kCrLf;
  out += stackHead + texts.MemoryDump + ":\r\n";
  out += "------------------   ---------------------------------------------------------------------------\r\n";
  out += BuildMemoryDump(memory, stackPointer, address);
  return out;
}
