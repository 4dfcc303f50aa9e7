// The report's framed tables, the assembler listing around an exception
// address over fake code images with injected locations, and the registers
// with the stack and memory dump.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "ECallStack.h"
#include "ECore.h"
#include "EHook.h"
#include "ELogManager.h"
#include "EReportBuilder.h"
#include "ESystem.h"
#include "ExceptionLog.h"
#include "GoldenReport.h"
#include "Scope.h"
#include "Strings.h"

namespace {

using namespace report_fixtures;

TEST(ReportTables, FramedRowsWithWidthsFromHeadsMinimumsAndCells) {
  struct Case {
    TReportTable table;
    std::string expected;
  } cases[] = {
      {{{"Handle", "Name"}, {8}, {{"00400000", "app.exe"}, {"7C800000", "kernel32.dll"}}},
       "T:\r\n"
       "-----------------------\r\n"
       "|Handle  |Name        |\r\n"
       "-----------------------\r\n"
       "|00400000|app.exe     |\r\n"
       "|7C800000|kernel32.dll|\r\n"
       "-----------------------\r\n\r\n"},
      // A head wider than every cell sets the width; a short row leaves blanks.
      {{{"ID", "Description"}, {}, {{"4", "x"}, {"12"}}},
       "T:\r\n"
       "----------------\r\n"
       "|ID|Description|\r\n"
       "----------------\r\n"
       "|4 |x          |\r\n"
       "|12|           |\r\n"
       "----------------\r\n\r\n"},
      {{{"A"}, {}, {}}, "T:\r\n---\r\n|A|\r\n---\r\n---\r\n\r\n"},
  };
  for (const Case& c : cases) EXPECT_EQ(FormatReportTable("T", c.table), c.expected);
  EXPECT_EQ(ReportTableWidths({{"Handle      "}, {8}, {{"1"}}}), std::vector<std::size_t>{12});
}

TEST(ReportTables, OutsideTextIsCleanedAndNeverReadAsAFormat) {
  EXPECT_EQ(CleanTableCell("a|b\r\nc"), "a?b??c");
  EXPECT_EQ(CleanTableCell("%s%n%d"), "%s%n%d");
  TReportTable table{{"Name"}, {}, {{CleanTableCell("evil|%s.dll")}}};
  EXPECT_EQ(FormatReportTable("Modules Information", table),
            "Modules Information:\r\n-------------\r\n|Name       |\r\n-------------\r\n|evil?%s.dll|\r\n"
            "-------------\r\n\r\n");
  EXPECT_EQ(EmptyReportSection("Processes Information"), "Processes Information:\r\n----------------------\r\n\r\n");
}

TEST(ReportTables, ModulesAndProcesses) {
  TOwned<TVantorModuleOptions> texts(New<TVantorModuleOptions>(""));
  TOwned<TVantorModulesList> modules(New<TVantorModulesList>());
  auto* app = new TVantorModuleInfo;
  app->Handle = 0x00400000;
  app->FileName = "C:\\Program Files\\App\\App|1.exe";
  app->Description = "Line\r\nbreak";
  app->Version = "1.0.0.2";
  app->FileSize = 123456;
  modules->AddModule(app);
  const std::string plain = BuildModulesTable(*texts, *modules);
  EXPECT_EQ(plain.substr(0, plain.find("\r\n", plain.find("|Handle"))),
            "Modules Information:\r\n"
            "----------------------------------------------------------------------------------------\r\n"
            "|Handle  |Name     |Description|Version|Size  |Modified           |Path                |");
  EXPECT_NE(plain.find("|00400000|App?1.exe|Line??break|1.0.0.2|123456|"), std::string::npos) << plain;
  EXPECT_NE(plain.find("|C:\\Program Files\\App|\r\n"), std::string::npos) << plain;
  // A 10-character Handle head gives 10 hex digits.
  texts->SetCustomText(126, "Handle1234");
  EXPECT_NE(BuildModulesTable(*texts, *modules).find("|0000400000|App?1.exe|"), std::string::npos);

  TOwned<TVantorProcessesList> processes(New<TVantorProcessesList>());
  auto* p = new TVantorProcessInfo;
  p->ProcessId = 4242;
  p->FileName = "C:\\Windows\\explorer.exe";
  p->Description = "Shell";
  p->Version = "6.0";
  p->PriorityClass = 0x20;
  p->Memory = 5000000;
  p->Threads = 0;
  processes->AddProcess(p);
  const std::string table = BuildProcessesTable(*texts, *processes);
  EXPECT_EQ(table.substr(0, table.find("\r\n")), "Processes Information:");
  EXPECT_NE(table.find("|ID  |Name        |Description|Version|Memory |Priority|Threads|Path      |"),
            std::string::npos)
      << table;
  EXPECT_NE(table.find("|4242|explorer.exe|Shell      |6.0    |5000000|" + GetPriorityClassName(0x20)),
            std::string::npos)
      << table;
  EXPECT_NE(table.find("|??     |C:\\Windows|"), std::string::npos) << table;
}

// --- The listing ---
struct Listing {
  RegionMemoryReader memory;
  FakeDebug debug;
  TAssemblerSources Sources() {
    TAssemblerSources s;
    s.Memory = &memory;
    s.Locate = [this](std::uint32_t a, TVLLocationInfo& l) { return debug.Locate(a, l); };
    s.ObjectClassName = [](std::uint32_t a) { return a == 0x00405000 ? std::string("TForm1") : std::string(); };
    return s;
  }
  std::string Build(std::uint32_t address, std::string& title) {
    return BuildAssemblerSection(Sources(), address, "Assembler Information", title);
  }
};

// Two procedures: Helper (0x401000, 8 bytes) and TForm1.Button1Click
// (0x401008), which calls Helper, loads a string's address, faults and returns.
void AddTwoProcedures(Listing& l) {
  l.memory.AddRegion(kImage, TwoProcedures());
  l.memory.AddRegion(0x402000, {'H', 'e', 'l', 'l', 'o', '\n', 0});
  l.debug.procedures = {{0x401000, 0x401008, "Unit1.pas", "", "Helper", 20},
                        {0x401008, 0x40101D, "Unit1.pas", "TForm1", "Button1Click", 30}};
  l.debug.lines = {{0x401000, 0}, {0x401003, 1}, {0x401005, 2}, {0x401008, 0},
                   {0x40100B, 1}, {0x401015, 2}, {0x40101B, 3}};
}

TEST(AssemblerListing, StartsAtTheProcedureHeadingAndEndsAtItsReturn) {
  Listing l;
  AddTwoProcedures(l);
  std::string title;
  const std::string text = l.Build(0x401015, title);
  EXPECT_EQ(text,
            "; Unit1.TForm1.Button1Click (Line=30 - Offset=0)\r\n"
            "; ----------------------------------------------\r\n"
            "00401008  push    ebp\r\n"
            "00401009  mov     ebp, esp\r\n"
            ";\r\n"
            "; Line=31 - Offset=1\r\n"
            "; ------------------\r\n"
            "0040100B  call    Unit1.Helper\r\n"
            "00401010  mov     eax, $00402000              ; 'Hello.'\r\n"
            ";\r\n"
            "; Line=32 - Offset=2\r\n"
            "; ------------------\r\n"
            "00401015  mov     dword ptr [eax], $00000000  ; <-- EXCEPTION\r\n"
            ";\r\n"
            "; Line=33 - Offset=3\r\n"
            "; ------------------\r\n"
            "0040101B  pop     ebp\r\n"
            "0040101C  ret\r\n");
  EXPECT_EQ(title, "Assembler Information:\r\n" + std::string(61, '-'));
}

TEST(AssemblerListing, CasesAroundTheExceptionAddress) {
  struct Case {
    const char* what;
    Bytes code;
    std::uint32_t exceptionOffset;
    std::vector<std::string> firstAndLast;  // the first and the last instruction line's address
    std::size_t instructionLines;
  } cases[] = {
      // 30 one-byte instructions before the fault: 10 listed before it, 10 after.
      {"ten before, ten after", Bytes(60, 0x90), 30, {"00401014", "00401028"}, 21},
      // A return right after the fault ends the listing there.
      {"return after", {0x90, 0x90, 0x8B, 0x00, 0xC3, 0x90, 0x90}, 2, {"00401000", "00401004"}, 4},
      // A byte the length decoder refuses (0F of 0F 04) is stepped over on the way to the fault.
      {"undecodable before", {0x90, 0x0F, 0x04, 0x90, 0x8B, 0x00, 0xC3, 0x90}, 4, {"00401000", "00401006"}, 5},
      // Code at the start of a region: the listing starts at its first byte.
      {"region start", {0x8B, 0x00, 0x90, 0xC3}, 0, {"00401000", "00401003"}, 3},
  };
  for (const Case& c : cases) {
    Listing l;
    l.memory.AddRegion(kImage, c.code);
    std::string title;
    const std::string text = l.Build(kImage + c.exceptionOffset, title);
    std::vector<std::string> addresses;
    for (std::size_t at = 0; at < text.size(); at = text.find("\r\n", at) + 2)
      if (text[at] != ';') addresses.push_back(text.substr(at, 8));
    ASSERT_FALSE(addresses.empty()) << c.what;
    EXPECT_EQ(addresses.front(), c.firstAndLast[0]) << c.what;
    EXPECT_EQ(addresses.back(), c.firstAndLast[1]) << c.what;
    EXPECT_EQ(addresses.size(), c.instructionLines) << c.what;
    char marked[16];
    std::snprintf(marked, sizeof marked, "%08X  ", kImage + c.exceptionOffset);
    const std::size_t line = text.find(marked);
    ASSERT_NE(line, std::string::npos) << c.what;
    EXPECT_NE(text.find("; <-- EXCEPTION", line), std::string::npos) << c.what;
  }
}

TEST(AssemblerListing, UnreadableMemoryShortensOrEmptiesIt) {
  // The four bytes at the address cannot be read: no listing, no title.
  {
    Listing l;
    l.memory.AddRegion(kImage, {0x90, 0x90, 0x8B});
    std::string title = "old";
    EXPECT_EQ(l.Build(kImage + 2, title), "");
    EXPECT_EQ(title, "");
  }
  // The region ends inside the instruction after the fault: the listing ends before it.
  {
    Listing l;
    l.memory.AddRegion(kImage, {0x90, 0x8B, 0x00, 0x90, 0xC7, 0x05, 0x00});
    std::string title;
    EXPECT_EQ(l.Build(kImage + 1, title),
              "00401000  nop\r\n"
              "00401001  mov     eax, [eax]  ; <-- EXCEPTION\r\n"
              "00401003  nop\r\n");
  }
  // A string comment stops at the readable end and marks that no zero ended it.
  {
    Listing l;
    l.memory.AddRegion(kImage, {0x68, 0xFD, 0x2F, 0x40, 0x00, 0xC3});
    l.memory.AddRegion(0x402FFD, {'a', 'b', 'c'});
    std::string title;
    EXPECT_EQ(l.Build(kImage, title), "00401000  push    $00402FFD  ; 'abc'...  ; <-- EXCEPTION\r\n00401005  ret\r\n");
  }
}

TEST(AssemblerListing, OperandNamesFromLocationsImportsAndObjects) {
  Listing l;
  AddTwoProcedures(l);
  // An import jump at 0x403000 through the slot at 0x404000 to Helper; an object at 0x405000.
  l.memory.AddRegion(0x403000, {0xFF, 0x25, 0x00, 0x40, 0x40, 0x00, 0x90, 0x90});
  l.memory.AddRegion(0x404000, {0x03, 0x10, 0x40, 0x00});
  const TAssemblerSources sources = l.Sources();
  EXPECT_EQ(ResolveCodeName(sources, 0x401000), "Unit1.Helper");
  EXPECT_EQ(ResolveCodeName(sources, 0x403000), "Unit1.Helper");  // through the import jump
  EXPECT_EQ(ResolveCodeName(sources, 0x401015), "Unit1.TForm1.Button1Click (Line=32)");
  EXPECT_EQ(ResolveCodeName(sources, 0x405000), "TForm1");
  EXPECT_EQ(ResolveCodeName(sources, 0x406000), "");
}

// --- Registers, stack and memory ---
TEST(CpuText, RegistersStackAndDump) {
  RegionMemoryReader memory;
  Bytes stack(64);
  for (std::size_t i = 0; i < 16; ++i) {
    const std::uint32_t v = 0x00401000 + static_cast<std::uint32_t>(i);
    std::memcpy(stack.data() + 4 * i, &v, 4);
  }
  memory.AddRegion(0x0012FF00, stack);
  Bytes code(256);
  for (std::size_t i = 0; i < code.size(); ++i) code[i] = static_cast<std::uint8_t>(i);
  memory.AddRegion(0x00401000, code);
  TReportRegisters regs{1, 2, 3, 4, 5, 0x0012FF00, 7, 0x00401000};
  const std::string text = BuildCpuText(TCpuTexts{}, &regs, memory, 0x0012FF00, 0x00401000);
  const std::string head =
      "Registers:\r\n-----------------------------\r\n"
      "EAX: 00000001   EDI: 00000002\r\n"
      "EBX: 00000003   ESI: 00000004\r\n"
      "ECX: 00000005   ESP: 0012FF00\r\n"
      "EDX: 00000007   EIP: 00401000\r\n\r\n"
      "Stack:               Memory Dump:\r\n"
      "------------------   ---------------------------------------------------------------------------\r\n";
  ASSERT_EQ(text.substr(0, head.size()), head);
  const std::string dump = text.substr(head.size());
  EXPECT_EQ(dump.substr(0, 98),
            "0012FF00: 00401000   00401000: 00 01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F  ................\r\n");
  EXPECT_NE(
      dump.find("0012FF08: 00401002   00401020: 20 21 22 23 24 25 26 27 28 29 2A 2B 2C 2D 2E 2F   !\"#$%&'()*+,-./"),
      std::string::npos);
  EXPECT_NE(dump.find("0012FF3C: 0040100F   004010F0: F0 F1"), std::string::npos);
  EXPECT_EQ(std::count(dump.begin(), dump.end(), '\n'), 16);

  // No context: eight unknown registers. An unreadable stack or code: no dump.
  const std::string unknown = BuildCpuText(TCpuTexts{}, nullptr, memory, 0x0012FF08, 0x00401000);
  EXPECT_NE(unknown.find("EAX: ????       EDI: ????    \r\nEBX: ????       ESI: ????    \r\n"), std::string::npos);
  EXPECT_NE(unknown.find("EDX: ????       EIP: ????    \r\n"), std::string::npos);
  EXPECT_EQ(BuildMemoryDump(memory, 0x0012FF08, 0x00401000), "");  // 8 stack bytes short
  EXPECT_EQ(BuildMemoryDump(memory, 0x0012FF00, 0x00401001), "");  // 1 code byte short
  // Texts from the option set are written as they are, never read as a format.
  TCpuTexts percent{"Reg%s%n", "St%d", "Mem%s"};
  const std::string literal = BuildCpuText(percent, &regs, memory, 0x0012FF00, 0x00401000);
  EXPECT_EQ(literal.substr(0, literal.find("\r\n")), "Reg%s%n:");
  EXPECT_NE(literal.find("\r\nSt%d:                Mem%s:\r\n"), std::string::npos);
}

#if defined(PELLORY_I686_OBJDUMP) && defined(PELLORY_LISTING_SAMPLE)
// objdump's instructions of the sample: address -> (length, mnemonic).
std::map<std::uint32_t, std::pair<int, std::string>> ObjdumpInstructions(std::uint32_t base) {
  char command[512];
  std::snprintf(command, sizeof command, "%s -D -b binary -m i386 -M intel --insn-width=16 --adjust-vma=0x%X '%s' 2>&1",
                PELLORY_I686_OBJDUMP, base, PELLORY_LISTING_SAMPLE);
  std::map<std::uint32_t, std::pair<int, std::string>> out;
  FILE* pipe = popen(command, "r");
  if (!pipe) return out;
  char line[512];
  while (std::fgets(line, sizeof line, pipe)) {
    const std::string text(line);
    const std::size_t colon = text.find(":\t");
    if (colon == std::string::npos || text.compare(0, 2, "  ") != 0) continue;
    const std::size_t tab = text.find('\t', colon + 2);
    if (tab == std::string::npos) continue;
    std::istringstream bytes(text.substr(colon + 2, tab - colon - 2)), words(text.substr(tab + 1));
    std::string token, mnemonic;
    int count = 0;
    while (bytes >> token) ++count;
    words >> mnemonic;
    out[static_cast<std::uint32_t>(std::stoul(text.substr(0, colon), nullptr, 16))] = {count, mnemonic};
  }
  pclose(pipe);
  return out;
}

TEST(AssemblerListing, AgreesWithObjdumpOnACompiledFunction) {
  std::ifstream in(PELLORY_LISTING_SAMPLE, std::ios::binary);
  const Bytes code((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  ASSERT_GT(code.size(), 64u);
  const std::map<std::uint32_t, std::pair<int, std::string>> theirs = ObjdumpInstructions(kImage);
  ASSERT_GT(theirs.size(), 20u);
  // The exception at the instruction in the middle of the function.
  auto middle = theirs.begin();
  std::advance(middle, static_cast<std::ptrdiff_t>(theirs.size() / 2));
  Listing l;
  l.memory.AddRegion(kImage, code);
  std::string title;
  const std::string text = l.Build(middle->first, title);
  std::vector<std::pair<std::uint32_t, std::string>> ours;  // address, mnemonic
  std::istringstream lines(text);
  std::string line;
  while (std::getline(lines, line)) {
    if (line.empty() || line[0] == ';') continue;
    std::istringstream words(line.substr(10));
    std::string mnemonic;
    words >> mnemonic;
    ours.emplace_back(static_cast<std::uint32_t>(std::stoul(line.substr(0, 8), nullptr, 16)), mnemonic);
  }
  ASSERT_GE(ours.size(), 11u) << text;
  // The same instructions over the same range, line by line.
  auto first = theirs.find(ours.front().first);
  ASSERT_NE(first, theirs.end()) << text;
  auto it = first;
  int before = 0;
  for (std::size_t i = 0; i < ours.size(); ++i, ++it) {
    ASSERT_NE(it, theirs.end()) << text;
    EXPECT_EQ(ours[i].first, it->first) << text;
    EXPECT_EQ(ours[i].second, it->second.second) << text;
    if (i + 1 < ours.size()) {
      EXPECT_EQ(ours[i + 1].first - ours[i].first, static_cast<std::uint32_t>(it->second.first));
    }
    if (ours[i].first < middle->first) ++before;
  }
  EXPECT_EQ(before, std::min<int>(10, static_cast<int>(std::distance(theirs.begin(), middle))));
  EXPECT_NE(text.find("  ; <-- EXCEPTION"), std::string::npos);
}
#endif

}  // namespace

namespace {

// --- The header tree ---
TEST(LogItem, NumberedLinesAlignedColonsAndGaps) {
  TOwned<TLogItem> item(New<TLogItem>(0));
  item->AddSection("Application");
  item->AddLine("Name", "App", true);
  item->AddLine("Hidden", "x", false);
  item->AddLine("Version Number", "1.0", true);
  item->AddSection("Empty");
  item->AddLine("Gone", "y", false);
  item->AddSection("Notes");
  item->AddLine("Text", "first: one\r\n\r\nthird", true);
  item->AddSection("Last");
  std::string text;
  item->GetFormattedText(text);
  EXPECT_EQ(text,
            "Application:\r\n"
            "-------------------------\r\n"
            "  1.1 Name          : App\r\n"
            "  1.3 Version Number: 1.0\r\n"
            "\r\n"
            "Notes:\r\n"
            "----------------------\r\n"
            "  3.1 Text: first:_one\r\n"
            "           .\r\n"
            "           third\r\n");
  // A continuation line that ends in ":" is no section title.
  item->Clear();
  item->AddSection("Paths");
  item->AddLine("List", "C:\r\nD:", true);
  item->GetFormattedText(text);
  EXPECT_EQ(text, "Paths:\r\n--------------\r\n  1.1 List: C:\r\n           D:\r\n");
  item->Clear();
  item->AddSection("Again");
  item->AddLine("A", "b", true);
  item->GetFormattedText(text);
  EXPECT_EQ(text, "Again:\r\n----------\r\n  1.1 A: b\r\n");
}

}  // namespace

namespace {

// --- The whole report ---
std::string ReadGolden() {
  std::ifstream in(PELLORY_GOLDEN_REPORT, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// Shows where two texts part: the line of the first difference in each.
std::string FirstDifference(const std::string& a, const std::string& b) {
  std::size_t i = 0;
  while (i < a.size() && i < b.size() && a[i] == b[i]) ++i;
  const std::size_t from = a.rfind('\n', i == 0 ? 0 : i - 1);
  const std::size_t start = from == std::string::npos ? 0 : from + 1;
  return "at " + std::to_string(i) + ":\n  got:    " + a.substr(start, a.find('\r', i) - start) +
         "\n  wanted: " + b.substr(start, b.find('\r', i) - start);
}

TEST(TextReport, GoldenReport) {
  GoldenReport g;
  const std::string report = g.Build();
  const std::string golden = ReadGolden();
  if (report != golden) {
    std::ofstream out("golden-report.actual.txt", std::ios::binary);
    out << report;
  }
  ASSERT_FALSE(golden.empty()) << PELLORY_GOLDEN_REPORT;
  EXPECT_TRUE(report == golden) << FirstDifference(report, golden)
                                << "\n(the built report is in golden-report.actual.txt)";
}

}  // namespace

namespace {

void SetFieldBit(TVantorModuleOptions& options, int bit, bool on) {
  std::uint8_t fields[6];
  std::memcpy(fields, options.ReportFields(), 6);
  if (on)
    fields[bit / 8] = static_cast<std::uint8_t>(fields[bit / 8] | (1u << (bit % 8)));
  else
    fields[bit / 8] = static_cast<std::uint8_t>(fields[bit / 8] & ~(1u << (bit % 8)));
  options.SetReportFields(fields);
}

bool Has(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

// The listing lines between the assembler rule and the registers.
std::string ListingOf(const std::string& report) {
  const std::size_t title = report.find("Assembler Information:\r\n");
  const std::size_t start = report.find("\r\n", title + 24) + 2;
  return report.substr(start, report.find("\r\nRegisters:") - start);
}

TEST(TextReport, OneChangeFromTheGoldenReport) {
  const std::string cleanModules = "|Handle  |Name        |";
  struct Case {
    const char* what;
    std::function<void(GoldenReport&)> change;
    std::function<bool(const std::string&)> holds;
  } cases[] = {
      {"every show bit off: the product line alone",
       [](GoldenReport& g) {
         const std::uint8_t none[6] = {};
         g.options->SetReportFields(none);
       },
       [](const std::string& r) { return r.rfind("VantorLog 6.0.22\r\n\r\n\r\nCall Stack Information:\r\n", 0) == 0; }},
      {"a hidden Compilation Date leaves 1.5 unused", [](GoldenReport& g) { SetFieldBit(*g.options, 4, false); },
       [](const std::string& r) {
         return Has(r, "  1.4 Parameters      : /debug\r\n  1.6 Up Time         : 1 hour") && !Has(r, "1.5 ") &&
                !Has(r, "Compilation Date");
       }},
      {"bit 20 hides Company, the fourth line", [](GoldenReport& g) { SetFieldBit(*g.options, 20, false); },
       [](const std::string& r) { return !Has(r, "Company") && Has(r, "  3.5 Privileges: SeShutdownPrivilege"); }},
      {"bit 19 hides Privileges, the fifth line", [](GoldenReport& g) { SetFieldBit(*g.options, 19, false); },
       [](const std::string& r) { return Has(r, "  3.4 Company: Example Ltd\r\n\r\n") && !Has(r, "Privileges"); }},
      {"no active controls outside a windowed program, the numbering goes on",
       [](GoldenReport& g) { g.probes.facts.GuiProgram = false; },
       [](const std::string& r) {
         return !Has(r, "Active Controls") && Has(r, "Computer:\r\n") && Has(r, "  5.1 Name");
       }},
      {"memory rounded to the nearest megabyte",
       [](GoldenReport& g) {
         g.probes.facts.TotalMemory = 4095ull * 1048576 + 524289;
         g.probes.facts.FreeMemory = 1234ull * 1048576 + 524288;  // a half: to the even number
       },
       [](const std::string& r) { return Has(r, "Total Memory  : 4096 Mb") && Has(r, "Free Memory   : 1234 Mb"); }},
      {"a half megabyte above an odd number goes up",
       [](GoldenReport& g) { g.probes.facts.FreeMemory = 1235ull * 1048576 + 524288; },
       [](const std::string& r) { return Has(r, "Free Memory   : 1236 Mb"); }},
      {"a 10-character Handle head gives 10 hex digits",
       [](GoldenReport& g) { g.options->SetCustomText(126, "HandleHead"); },
       [](const std::string& r) { return Has(r, "|HandleHead|") && Has(r, "|0000400000|sample.exe"); }},
      {"a | in a module name shows ?",
       [](GoldenReport& g) { g.modules->Items(1)->FileName = "C:\\WINDOWS\\system32\\ker|nel32.dll"; },
       [](const std::string& r) { return Has(r, "|7C800000|ker?nel32.dll|Windows NT") && !Has(r, "ker|nel"); }},
      {"an exception at a procedure's first instruction: the listing starts at its heading",
       [](GoldenReport& g) { g.frame.Address = 0x401008; },
       [](const std::string& r) {
         const std::string l = ListingOf(r);
         return l.rfind("; Unit1.TForm1.Button1Click (Line=30 - Offset=0)\r\n", 0) == 0 &&
                Has(l, "00401008  push    ebp                         ; <-- EXCEPTION\r\n");
       }},
      {"a ret right after the exception ends the listing", [](GoldenReport& g) { g.frame.Address = 0x40101B; },
       [](const std::string& r) {
         const std::string l = ListingOf(r);
         return Has(l, "0040101B  pop     ebp") && l.size() >= 15 && l.substr(l.size() - 15) == "0040101C  ret\r\n" &&
                !Has(l, "0040101D");
       }},
      {"log options 0x10 and 0x20 off: four titles with rules and no content",
       [](GoldenReport& g) { g.options->SetLogFlags(0); },
       [](const std::string& r) {
         return Has(r,
                    "Modules Information:\r\n--------------------\r\n\r\n"
                    "Processes Information:\r\n----------------------\r\n\r\n"
                    "Assembler Information:\r\n----------------------\r\n\r\n"
                    "Registers:\r\n----------\r\n\r\n") &&
                r.substr(r.size() - 14) == "----------\r\n\r\n";
       }},
      {"a missing context record: ???? for all eight registers", [](GoldenReport& g) { g.frame.Registers = nullptr; },
       [](const std::string& r) {
         return Has(r,
                    "EAX: ????       EDI: ????    \r\nEBX: ????       ESI: ????    \r\n"
                    "ECX: ????       ESP: ????    \r\nEDX: ????       EIP: ????    \r\n");
       }},
      {"no 32-bit listing: the assembler title and rule alone",
       [](GoldenReport& g) { g.frame.ListingAvailable = false; },
       [](const std::string& r) {
         return Has(r, "Assembler Information:\r\n----------------------\r\n\r\nRegisters:\r\n") &&
                !Has(r, "EXCEPTION");
       }},
      {"unreadable code: no listing and no assembler title", [](GoldenReport& g) { g.frame.Address = 0x00500000; },
       [](const std::string& r) {
         return !Has(r, "Assembler Information") && Has(r, "-\r\n\r\n\r\n\r\nRegisters:\r\n") &&
                Has(r, "Memory Dump:\r\n---") && r.substr(r.size() - 5) == "---\r\n";
       }},
  };
  for (const Case& c : cases) {
    GoldenReport g;
    c.change(g);
    const std::string report = g.Build();
    EXPECT_TRUE(c.holds(report)) << c.what << "\n" << report;
  }
}

TEST(TextReport, TextsAndStepMarker) {
  GoldenReport g;
  TReportTexts texts;
  const std::string& report = BuildTextReport(g.frame, texts);
  EXPECT_EQ(texts.General, g.options->GetCustomText(4) + "\r\n\r\n");
  EXPECT_EQ(texts.LastReport, report);
  EXPECT_EQ(report,
            texts.Header + "\r\n" + texts.Stack + texts.AssemblerTitle + "\r\n" + texts.Assembler + "\r\n" + texts.Cpu);
  EXPECT_EQ(texts.Header.substr(0, 20), "VantorLog 6.0.22\r\n\r\n");
  EXPECT_EQ(ReportStepMarker(), 7040);
}

TEST(TextReport, CallStackGroupsAndCutHeads) {
  GoldenReport g;
  // The stack of the thread that created the running thread: a calling-thread group without an empty row.
  g.AddEntry(0x401028, 300, false, false);
  g.stack->Items(3)->OwnStack = 0;
  // An entry of a kind that is not listed (a bare address).
  g.AddEntry(0x401003, 200, false, false);
  g.stack->Items(4)->Kind = 1;
  const std::string table = BuildCallStackTable(*g.options, g.stack.get(), g.threads.get(), g.groupFacts);
  EXPECT_TRUE(Has(table, std::string("|00401003|sample.exe|Unit1.pas |      |Helper          |21[1]|\r\n"
                                     "|------------------------------------------------------------|\r\n") +
                             "|" + PadRightToWidth("Calling Thread: ID=300; Priority=??", 60) + "|\r\n" +
                             "|------------------------------------------------------------|\r\n"
                             "|00401028|sample.exe|Sample.dpr|      |Main            |12[2]|\r\n"
                             "--------------------------------------------------------------\r\n\r\n"))
      << table;
  // A group head wider than the row is cut at the row's end.
  g.options->SetCustomText(99, std::string(100, 'X'));
  const std::string wide = BuildCallStackTable(*g.options, g.stack.get(), g.threads.get(), g.groupFacts);
  EXPECT_TRUE(Has(wide, "\r\n|" + std::string(60, 'X') + "|\r\n")) << wide;
  // An empty list: the head and the rules alone.
  EXPECT_EQ(BuildCallStackTable(*g.options, nullptr, nullptr, g.groupFacts),
            "Call Stack Information:\r\n"
            "--------------------------------------------------\r\n"
            "|Address |Module|Unit|Class|Procedure/Method|Line|\r\n"
            "--------------------------------------------------\r\n"
            "--------------------------------------------------\r\n\r\n");
}

TEST(TextReport, NamedThreadsCarryTheirNameInTheGroupRow) {
  ClearThreadNames();
  RecordThreadName(200, "Port reader");
  RecordThreadName(300, "Other");
  GoldenReport g;
  const std::string table = BuildCallStackTable(*g.options, g.stack.get(), g.threads.get(), g.groupFacts);
  EXPECT_TRUE(Has(table, "|Running Thread: ID=200; Priority=2 (Port reader)            |\r\n")) << table;
  EXPECT_TRUE(Has(table, "|Exception Thread: ID=100; Priority=0                        |\r\n")) << table;
  EXPECT_FALSE(Has(table, "Other"));
  ClearThreadNames();
}

TEST(ThreadNames, LastNameWinsEmptyForgetsAndTheListIsBounded) {
  ClearThreadNames();
  RecordThreadName(7, "first");
  RecordThreadName(7, "second");
  EXPECT_EQ(ThreadNameOf(7), "second");
  RecordThreadName(7, "");
  EXPECT_EQ(ThreadNameOf(7), "");
  RecordThreadName(8, std::string(300, 'n'));
  EXPECT_EQ(ThreadNameOf(8), std::string(255, 'n'));
  for (std::uint32_t id = 1000; id < 1000 + kMaxNamedThreads; ++id) RecordThreadName(id, "t");
  EXPECT_EQ(ThreadNameOf(8), "") << "the oldest named thread makes room";
  EXPECT_EQ(ThreadNameOf(1000), "t");
  EXPECT_EQ(ThreadNameOf(1000 + kMaxNamedThreads - 1), "t");
  ClearThreadNames();
}

TEST(TextReport, LeakGroupRowsSayWhatLeaked) {
  GoldenReport g;
  g.stack->Clear();
  // Two leaks, each a group of its call addresses: three data blocks of 16
  // bytes, and one object.
  auto leak = [&](std::uint32_t address, bool first, const char* type, std::int64_t size, std::int32_t count) {
    g.AddEntry(address, 100, false, first);
    TVLLocationInfo* e = g.stack->Items(g.stack->Count() - 1);
    e->LeakEntry = 1;
    e->LeakType = type;
    e->LeakSize = size;
    e->LeakCount = count;
  };
  leak(0x401015, true, "Data", 48, 3);
  leak(0x401028, false, "Data", 48, 3);
  leak(0x401003, true, "TStringList", 52, 1);
  g.options->SetCustomText(106, "Bytes");
  const std::string table = BuildCallStackTable(*g.options, g.stack.get(), g.threads.get(), g.groupFacts);
  // Each leak its group, with the empty row before a group of a thread's own stack.
  EXPECT_EQ(table,
            "Call Stack Information:\r\n"
            "--------------------------------------------------------------\r\n"
            "|Address |Module    |Unit      |Class |Procedure/Method|Line |\r\n"
            "--------------------------------------------------------------\r\n"
            "|Memory Leak: Type=Bytes; Total size=48; Count=3             |\r\n"
            "|------------------------------------------------------------|\r\n"
            "|00401015|sample.exe|Unit1.pas |TForm1|Button1Click    |32[2]|\r\n"
            "|00401028|sample.exe|Sample.dpr|      |Main            |12[2]|\r\n"
            "|------------------------------------------------------------|\r\n"
            "|                                                            |\r\n"
            "|Memory Leak: Type=TStringList; Total size=52; Count=1       |\r\n"
            "|------------------------------------------------------------|\r\n"
            "|00401003|sample.exe|Unit1.pas |      |Helper          |21[1]|\r\n"
            "--------------------------------------------------------------\r\n\r\n");
}

}  // namespace

TEST(TextReport, SectionsInsertedAfterTheHeader) {
  const std::string header = "Product 1.0\r\n\r\nApplication:\r\n---\r\n  1.1 Start: now";
  TReportTexts texts;
  texts.Header = header;
  texts.Report = header + "\r\nSTACK";
  texts.LastReport = texts.Report;

  InsertHeaderTextSection(texts, 4, "Custom Data", "");
  TStringList empty;
  InsertHeaderValuesSection(texts, 5, "Steps", empty);
  EXPECT_EQ(texts.Report, header + "\r\nSTACK") << "empty text and list insert nothing";
  EXPECT_EQ(texts.Header, header);

  InsertHeaderTextSection(texts, 4, "Custom Data", "abc");
  const std::string custom = "Custom Data:\r\n------------\r\n  4.1 : abc\r\n\r\n";
  EXPECT_EQ(texts.Report, header + "\r\n" + custom + "STACK");
  EXPECT_EQ(texts.LastReport, texts.Report);
  EXPECT_EQ(texts.Header, header + "\r\n" + custom.substr(0, custom.size() - 2)) << "the header covers the section";

  // The next section goes after the first; names and values are trimmed; a line without "=" keeps its text.
  TStringList steps;
  steps.Add(" Step = open the file ");
  steps.Add("then wait");
  InsertHeaderValuesSection(texts, 5, "Steps", steps);
  const std::string stepsText =
      "Steps:\r\n" + std::string(25, '-') + "\r\n  5.1 Step: open the file\r\n  5.2     : then wait\r\n\r\n";
  EXPECT_EQ(texts.Report, header + "\r\n" + custom + stepsText + "STACK");

  // A copy the log step replaced by something shorter than the header is appended to, never written past its end.
  texts.LastReport = "log";
  InsertHeaderTextSection(texts, 6, "More", "x");
  EXPECT_EQ(texts.LastReport, "logMore:\r\n---------\r\n  6.1 : x\r\n\r\n");
}
