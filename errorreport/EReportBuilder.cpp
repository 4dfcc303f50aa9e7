#include "EReportBuilder.h"

#include <algorithm>

#include "ECallStack.h"
#include "ECore.h"
#include "EDisAsm.h"
#include "EHook.h"
#include "ELogManager.h"
#include "ESystem.h"
#include "ExceptionLog.h"
#include "Scope.h"
#include "Strings.h"
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

// --- Header ------------------------------------------------------------------------------------------
namespace {

bool FieldShown(const TVantorModuleOptions& options, int bit) {
  return (options.ReportFields()[bit / 8] & (1u << (bit % 8))) != 0;
}

std::string Cut(std::string text, std::size_t length) {
  if (text.size() > length) text.resize(length);
  return text;
}

// Gigabytes with at most two decimals ("0.##"), a point as separator.
std::string FormatGigabytes(std::uint64_t bytes) {
  const auto hundredths = static_cast<std::uint64_t>(static_cast<double>(bytes) / 1073741824.0 * 100.0 + 0.5);
  std::string text = IntToStr(static_cast<std::int64_t>(hundredths / 100));
  const std::uint64_t fraction = hundredths % 100;
  if (fraction != 0) {
    text += '.';
    text += static_cast<char>('0' + fraction / 10);
    if (fraction % 10 != 0) text += static_cast<char>('0' + fraction % 10);
  }
  return text;
}

// Whole megabytes, rounded to the nearest (halves to even).
std::string Megabytes(std::uint64_t bytes) {
  const std::uint64_t whole = bytes / 1048576u, rest = bytes % 1048576u;
  const std::uint64_t mb = whole + (rest > 524288u || (rest == 524288u && (whole & 1) != 0) ? 1 : 0);
  return IntToStr(static_cast<std::int64_t>(mb)) + " Mb";
}

}  // namespace

std::string BuildReportHeader(const TVantorModuleOptions& options, const TReportHeaderFacts& facts,
                              std::uint64_t address, const std::string& bugId, double exceptionTime,
                              std::int32_t biasMinutes, const std::string& focusClass, const std::string& focusText) {
  ReportStepMarker() = 702200;
  auto text = [&](int index) { return options.GetCustomText(index); };
  auto shown = [&](int bit) { return FieldShown(options, bit); };
  TOwned<TLogItem> item(New<TLogItem>(0));
  item->AddSection(text(37));
  item->AddLine(text(38), FormatMailDate(facts.StartTime, biasMinutes), shown(0));
  item->AddLine(text(39), facts.ApplicationTitle, shown(1));
  item->AddLine(text(40), facts.ApplicationVersion, shown(2));
  item->AddLine(text(41), facts.Parameters, shown(3));
  item->AddLine(text(42), facts.CompilationDate, shown(4));
  item->AddLine(text(43), FormatElapsedTime(exceptionTime - facts.StartTime), shown(5));

  item->AddSection(text(44));
  item->AddLine(text(45), FormatMailDate(exceptionTime, biasMinutes), shown(6));
  item->AddLine(text(46), address ? IntToHex(address, 8) : std::string(), shown(7));
  item->AddLine(text(47), facts.ExceptionModuleTitle, shown(8));
  item->AddLine(text(48), facts.ExceptionModuleVersion, shown(9));
  item->AddLine(text(49), facts.ExceptionClassText, shown(10));
  item->AddLine(text(50), facts.ExceptionMessageText, shown(11));
  item->AddLine(text(51), bugId, shown(12));
  item->AddLine(text(52), "1", shown(13));
  item->AddLine(text(53), "New", shown(14));
  item->AddLine(text(54), std::string(), shown(15));

  item->AddSection(text(55));
  item->AddLine(text(56), facts.UserId, shown(16));
  item->AddLine(text(57), facts.UserName, shown(17));
  item->AddLine(text(58), facts.UserEmail, shown(18));
  // Company comes first, while its bit follows that of Privileges.
  item->AddLine(text(59), facts.Company, shown(20));
  item->AddLine(text(60), facts.Privileges, shown(19));

  item->AddSection(text(61));
  const bool controls = facts.GuiProgram;
  item->AddLine(text(62), Cut(facts.FormClass, 256), controls && shown(21));
  item->AddLine(text(63), CollapseControlChars(Cut(facts.FormText, 256)), controls && shown(22));
  item->AddLine(text(64), focusClass, controls && shown(23));
  item->AddLine(text(65), CollapseControlChars(focusText), controls && shown(24));

  item->AddSection(text(66));
  item->AddLine(text(67), facts.ComputerName, shown(25));
  item->AddLine(text(68), Megabytes(facts.TotalMemory), shown(26));
  item->AddLine(text(69), Megabytes(facts.FreeMemory), shown(27));
  item->AddLine(text(70), FormatGigabytes(facts.TotalDisk) + " Gb", shown(28));
  item->AddLine(text(71), FormatGigabytes(facts.FreeDisk) + " Gb", shown(29));
  item->AddLine(text(72), FormatElapsedTime(static_cast<double>(facts.TickCount) / 86400000.0), shown(30));
  item->AddLine(text(73), facts.Processor, shown(31));
  item->AddLine(
      text(74),
      IntToStr(facts.ScreenWidth) + " x " + IntToStr(facts.ScreenHeight) + ", " + IntToStr(facts.BitsPerPixel) + " bit",
      shown(32));
  item->AddLine(text(75), IntToStr(facts.DisplayDpi), shown(33));
  item->AddLine(text(76), facts.VideoCard, shown(34));
  item->AddLine(text(77), facts.Printer, shown(35));

  item->AddSection(text(78));
  item->AddLine(text(79), facts.OsType, shown(36));
  item->AddLine(text(80), facts.OsBuild, shown(37));
  item->AddLine(text(81), Trim(facts.OsUpdate), shown(38));
  item->AddLine(text(82), facts.Language, shown(39));
  item->AddLine(text(83), IntToStr(facts.Charset), shown(40));

  item->AddSection(text(84));
  item->AddLine(text(85), facts.IpAddress, shown(41));
  item->AddLine(text(86), facts.Submask, shown(42));
  item->AddLine(text(87), facts.Gateway, shown(43));
  item->AddLine(text(88), facts.Dns1, shown(44));
  item->AddLine(text(89), facts.Dns2, shown(45));
  item->AddLine(text(90), facts.Dhcp, shown(46));

  std::string tree;
  item->GetFormattedText(tree);
  ReportStepMarker() = 702233;
  return std::string(kReportProductLine) + kCrLf + kCrLf + tree;
}

// --- Call stack ----------------------------------------------------------------------------------------
namespace {

// Whether `entry` starts a thread group after `previous` (null for the first listed entry).
bool StartsGroup(const TVLLocationInfo& entry, const TVLLocationInfo* previous) {
  return !previous || entry.ThreadId != previous->ThreadId || entry.OwnStack != previous->OwnStack ||
         entry.FaultingThread != previous->FaultingThread || entry.FirstEntry;
}

}  // namespace

TStackGroupEntry StackGroupOfEntry(const TVLLocationInfo& entry) {
  TStackGroupEntry group;
  group.ThreadId = entry.ThreadId;
  group.HasRole = entry.OwnStack != 0;
  group.IsExceptionThread = entry.FaultingThread != 0;
  group.IsLeakGroup = entry.LeakEntry != 0;
  if (!group.IsLeakGroup && entry.ThreadId > 0)
    group.ThreadName = ThreadNameOf(static_cast<std::uint32_t>(entry.ThreadId));
  if (group.IsLeakGroup) {
    group.LeakTypeName = entry.LeakType;
    group.LeakTotalSize = entry.LeakSize;
    group.LeakCount = entry.LeakCount;
  }
  return group;
}

std::string BuildCallStackTable(const TVantorModuleOptions& options, const TVantorStackList* list,
                                TVantorThreadsList* threads, StackGroupFacts& groupFacts) {
  ReportStepMarker() = 7027;
  TReportTable table;
  for (int text = 92; text <= 97; ++text) table.Heads.push_back(options.GetCustomText(text));
  table.MinWidths = {8};
  ReportStepMarker() = 7028;

  // The rows, and before each group's first row its head text.
  ReportStepMarker() = 7029;
  const std::uint8_t kinds = GetListedStackEntryKinds(options);
  std::vector<std::string> groupHeads;  // parallel to the rows: the head of the group a row starts
  std::vector<std::uint8_t> groupOwnStack;
  const TVLLocationInfo* previous = nullptr;
  ReportStepMarker() = 7030;
  for (int i = 0; list && i < list->Count(); ++i) {
    const TVLLocationInfo* e = list->Items(i);
    if (!e || e->Kind > 7 || !(kinds & (1u << e->Kind))) continue;
    ReportStepMarker() = 7031;
    if (StartsGroup(*e, previous)) {
      ReportStepMarker() = 7032;
      groupHeads.push_back(FormatStackGroupHeader(StackGroupOfEntry(*e), false, options, threads, groupFacts));
    } else {
      groupHeads.push_back(std::string());
    }
    groupOwnStack.push_back(e->OwnStack);
    ReportStepMarker() = 7033;
    std::vector<std::string> row(6);
    row[0] = IntToHex(e->Address, 8);
    ReportStepMarker() = 7034;
    if (e->Kind != 0 && e->Module) row[1] = CleanTableCell(ExtractFileName(e->Module->FileName));
    ReportStepMarker() = 7035;
    row[2] = CleanTableCell(Cut(e->UnitName, 255));
    ReportStepMarker() = 7036;
    row[3] = CleanTableCell(Cut(e->ClassName, 255));
    ReportStepMarker() = 7037;
    row[4] = CleanTableCell(Cut(e->ProcedureName, 255));
    ReportStepMarker() = 7038;
    if (e->Line != 0) row[5] = IntToStr(e->Line) + "[" + IntToStr(e->LineInProcedure) + "]";
    table.Rows.push_back(std::move(row));
    ReportStepMarker() = 7039;
    previous = e;
  }
  ReportStepMarker() = 7040;

  const std::vector<std::size_t> widths = ReportTableWidths(table);
  std::size_t rowWidth = widths.size() + 1;
  for (std::size_t w : widths) rowWidth += w;
  const std::size_t lineWidth = rowWidth + 2;
  std::size_t groups = 0;
  for (const std::string& head : groupHeads) groups += head.empty() ? 0 : 1;
  // Each group takes at most four rows of its own: dash, empty, head and dash.
  std::string rows(lineWidth * (table.Rows.size() + 4 * groups), ' ');
  std::size_t at = 0;
  auto frame = [&](std::size_t line) {
    rows[line] = '|';
    rows[line + rowWidth - 1] = '|';
    rows[line + rowWidth] = '\r';
    rows[line + rowWidth + 1] = '\n';
  };
  auto wholeRow = [&](const std::string& content) {
    frame(at);
    // A head longer than the row is cut at its end.
    rows.replace(at + 1, std::min(content.size(), rowWidth - 2), content, 0, std::min(content.size(), rowWidth - 2));
    at += lineWidth;
  };
  const std::string dashes(rowWidth - 2, '-');
  bool first = true;
  for (std::size_t r = 0; r < table.Rows.size(); ++r) {
    if (!groupHeads[r].empty()) {
      if (!first) {
        wholeRow(dashes);
        if (groupOwnStack[r]) wholeRow(std::string());
      }
      wholeRow(groupHeads[r]);
      wholeRow(dashes);
      first = false;
    }
    frame(at);
    std::size_t x = at + 1;
    for (std::size_t c = 0; c < widths.size(); ++c) {
      rows.replace(x, table.Rows[r][c].size(), table.Rows[r][c]);
      x += widths[c];
      rows[x++] = '|';
    }
    at += lineWidth;
  }
  rows.resize(at);

  // The section as FormatReportTable makes it, with the group rows among the entry rows.
  const std::string rule(rowWidth, '-');
  std::string section = options.GetCustomText(8) + ":" + kCrLf + rule + kCrLf + "|";
  for (std::size_t c = 0; c < widths.size(); ++c) {
    section += table.Heads[c];
    section.append(widths[c] - table.Heads[c].size(), ' ');
    section += '|';
  }
  section += kCrLf + rule + kCrLf;
  section += rows;
  section += rule + kCrLf + kCrLf;
  return section;
}

// --- Text report -------------------------------------------------------------------------------------
TReportTexts& ReportTexts() {
  static TReportTexts texts;
  return texts;
}

namespace {

// Puts a formatted section after the header and the line break that follows it. A copy that no longer starts with
// the header (the log step may have put the whole log there) gets the section at the same place only when it is
// long enough; nothing is ever written past a text's end.
void InsertAfterHeader(TReportTexts& texts, const TLogItem& item) {
  std::string section;
  item.GetFormattedText(section);
  if (section.empty()) return;
  section += kCrLf;
  const std::size_t at = texts.Header.size() + 2;
  for (std::string* text : {&texts.Report, &texts.LastReport}) text->insert(std::min(at, text->size()), section);
  texts.Header = texts.Report.substr(0, std::min(texts.Report.size(), texts.Header.size() + section.size()));
}

}  // namespace

void InsertHeaderTextSection(TReportTexts& texts, int number, const std::string& title, const std::string& text) {
  if (text.empty()) return;
  TLogItem item(number - 1);
  item.AddSection(title);
  item.AddLine("", text, true);
  InsertAfterHeader(texts, item);
}

void InsertHeaderValuesSection(TReportTexts& texts, int number, const std::string& title, const TStrings& values) {
  if (values.Count() == 0) return;
  TLogItem item(number - 1);
  item.AddSection(title);
  for (int i = 0; i < values.Count(); ++i) {
    // A line without "=" keeps its text as the value rather than losing it.
    const std::string line = values[i];
    if (line.find('=') == std::string::npos)
      item.AddLine("", Trim(line), true);
    else
      item.AddLine(Trim(values.Names(i)), Trim(values.ValueFromIndex(i)), true);
  }
  InsertAfterHeader(texts, item);
}

int& ReportStepMarker() {
  static int marker = 0;
  return marker;
}

namespace {

class NoThreadFacts : public StackGroupFacts {
 public:
  std::int32_t ThreadPriority(const TVantorThreadInfo&) override { return 0; }
  std::string ThreadClassName(const TObject*) override { return std::string(); }
};

bool Fits32(std::uint64_t value) {
  return value <= 0xFFFFFFFFu;
}

}  // namespace

const std::string& BuildTextReport(const TTextReportFrame& frame, TReportTexts& texts) {
  ReportStepMarker() = 7021;
  const TVantorModuleOptions& options = *frame.Options;
  texts.General = options.GetCustomText(4) + kCrLf + kCrLf;
  texts.Header.clear();
  texts.Stack.clear();
  texts.Cpu.clear();
  texts.Assembler.clear();
  texts.AssemblerTitle.clear();

  ReportStepMarker() = 7022;
  TReportHeaderFacts facts;
  if (frame.Probes) frame.Probes->Collect(facts);
  const double now = frame.Clock ? frame.Clock->Now() : 0;
  const std::int32_t bias = frame.Clock ? frame.Clock->BiasMinutes() : 0;
  texts.Header =
      BuildReportHeader(options, facts, frame.Address, frame.BugId, now, bias, frame.FocusClass, frame.FocusText);

  const std::string assemblerText = options.GetCustomText(14);
  const std::string registersText = options.GetCustomText(141);
  const std::string emptyAssemblerTitle = assemblerText + ":" + kCrLf + Rule(assemblerText.size() + 1);
  RegionMemoryReader noMemory;
  MemoryReader& memory = frame.Sources.Memory ? *frame.Sources.Memory : noMemory;
  if (options.LogFlags() & 0x20) {
    if (frame.ListingAvailable && Fits32(frame.Address))
      texts.Assembler = BuildAssemblerSection(frame.Sources, static_cast<std::uint32_t>(frame.Address), assemblerText,
                                              texts.AssemblerTitle);
    else
      texts.AssemblerTitle = emptyAssemblerTitle;
    const TCpuTexts cpu{registersText, options.GetCustomText(142), options.GetCustomText(143)};
    // The dump shows 32-bit addresses; wider ones leave it empty.
    const bool dump = Fits32(frame.StackPointer + 64) && Fits32(frame.Address + 256);
    texts.Cpu = BuildCpuText(cpu, frame.Registers, dump ? memory : noMemory,
                             static_cast<std::uint32_t>(frame.StackPointer), static_cast<std::uint32_t>(frame.Address));
  } else {
    texts.AssemblerTitle = emptyAssemblerTitle;
    texts.Cpu = EmptyReportSection(registersText);
  }

  NoThreadFacts noFacts;
  texts.Stack =
      BuildCallStackTable(options, frame.CallStack, frame.Threads, frame.GroupFacts ? *frame.GroupFacts : noFacts);
  if (options.LogFlags() & 0x10) {
    TOwned<TVantorModulesList> noModules(frame.Modules ? nullptr : New<TVantorModulesList>());
    TOwned<TVantorProcessesList> noProcesses(frame.Processes ? nullptr : New<TVantorProcessesList>());
    texts.Stack += BuildModulesTable(options, frame.Modules ? *frame.Modules : *noModules);
    texts.Stack += BuildProcessesTable(options, frame.Processes ? *frame.Processes : *noProcesses);
  } else {
    texts.Stack += EmptyReportSection(options.GetCustomText(10));
    texts.Stack += EmptyReportSection(options.GetCustomText(12));
  }

  texts.Report =
      texts.Header + kCrLf + texts.Stack + texts.AssemblerTitle + kCrLf + texts.Assembler + kCrLf + texts.Cpu;
  texts.LastReport = texts.Report;
  return texts.Report;
}
