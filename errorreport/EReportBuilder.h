// Pieces of the plain-text error report that need nothing but memory and
// names: the framed tables, the assembler listing around the exception
// address, and the registers with the stack and memory dump. Memory is read
// through a MemoryReader and tested before every read, so an unreadable
// byte shortens a section instead of faulting.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

class MemoryReader;
class TStrings;
struct TVLLocationInfo;

// --- Tables ---------------------------------------------------------------------------------------------
// A cell taken from outside text: CR, LF and "|" become "?".
std::string CleanTableCell(const std::string& text);

struct TReportTable {
  std::vector<std::string> Heads;
  std::vector<std::size_t> MinWidths;  // per column, may be shorter than Heads
  std::vector<std::vector<std::string>> Rows;
};

// The width of each column: its head, its minimum and its longest cell.
std::vector<std::size_t> ReportTableWidths(const TReportTable& table);
// The section: title + ":", the rule, the head row, the rule, the rows, the
// rule and an empty line. Cells are written as they are (clean them first).
std::string FormatReportTable(const std::string& title, const TReportTable& table);
// A section with no content: title + ":", its rule, an empty line.
std::string EmptyReportSection(const std::string& title);

class TVantorModuleOptions;
class TVantorModulesList;
class TVantorProcessesList;
// The modules and processes sections, titled and headed by the option set's texts.
std::string BuildModulesTable(const TVantorModuleOptions& texts, const TVantorModulesList& modules);
std::string BuildProcessesTable(const TVantorModuleOptions& texts, const TVantorProcessesList& processes);

// --- Assembler listing -------------------------------------------------------------------------------
// What the listing needs besides memory: code locations and object classes.
struct TAssemblerSources {
  MemoryReader* Memory = nullptr;
  // Locates a code address (opening the module's debug source when needed);
  // false or a kind below 2 when it names nothing.
  std::function<bool(std::uint32_t address, TVLLocationInfo& location)> Locate;
  // The class name of a sound object at the address, else empty.
  std::function<std::string(std::uint32_t address)> ObjectClassName;
};

// At most this many instructions are listed before the exception address, and after it.
constexpr int kListedInstructionsBefore = 10;
constexpr int kListedInstructionsAfter = 10;
// The listing looks this many bytes before and after the exception address.
constexpr std::uint32_t kListingReach = 70;

// The listing lines (each ending in CRLF) around `address`; empty when the 4
// bytes there cannot be read. `title` gets the title line and its rule
// (`titleText` + ":"), or stays empty with the listing.
std::string BuildAssemblerSection(const TAssemblerSources& sources, std::uint32_t address, const std::string& titleText,
                                  std::string& title);

// The name of a code or data address for an operand: the location's unit,
// class and procedure, or an object's class name; empty when there is none.
std::string ResolveCodeName(const TAssemblerSources& sources, std::uint32_t address);

// --- Registers, stack and memory ---------------------------------------------------------------------
struct TReportRegisters {
  std::uint32_t Eax = 0, Edi = 0, Ebx = 0, Esi = 0, Ecx = 0, Esp = 0, Edx = 0, Eip = 0;
};

struct TCpuTexts {
  std::string Registers = "Registers";
  std::string Stack = "Stack";
  std::string MemoryDump = "Memory Dump";
};

// The 16 dump lines: the stack's dwords beside the memory at the exception
// address; empty unless 64 bytes at the stack pointer and 256 at the address can be read.
std::string BuildMemoryDump(MemoryReader& memory, std::uint32_t stackPointer, std::uint32_t address);
// The registers (or "????    " for each when `registers` is null), then the stack and memory dump.
std::string BuildCpuText(const TCpuTexts& texts, const TReportRegisters* registers, MemoryReader& memory,
                         std::uint32_t stackPointer, std::uint32_t address);

// --- Header ------------------------------------------------------------------------------------------
// The system facts of the header, as the probes find them.
struct TReportHeaderFacts {
  double StartTime = 0;  // the application's start, local date-time
  std::string ApplicationTitle;
  std::string ApplicationVersion;
  std::string Parameters;
  std::string CompilationDate;
  std::string ExceptionModuleTitle;
  std::string ExceptionModuleVersion;
  std::string ExceptionClassText;
  std::string ExceptionMessageText;
  std::string UserId;
  std::string UserName;
  std::string UserEmail;
  std::string Company;
  std::string Privileges;
  std::string FormClass;  // the foreground window
  std::string FormText;
  // Neither a web application nor a console program: the active controls are shown.
  bool GuiProgram = true;
  std::string ComputerName;
  std::uint64_t TotalMemory = 0;  // bytes
  std::uint64_t FreeMemory = 0;
  std::uint64_t TotalDisk = 0;
  std::uint64_t FreeDisk = 0;
  std::uint64_t TickCount = 0;  // milliseconds since the system started
  std::string Processor;
  int ScreenWidth = 0;
  int ScreenHeight = 0;
  int BitsPerPixel = 0;
  int DisplayDpi = 0;
  std::string VideoCard;
  std::string Printer;
  std::string OsType;
  std::string OsBuild;
  std::string OsUpdate;
  std::string Language;
  int Charset = 0;
  std::string IpAddress;
  std::string Submask;
  std::string Gateway;
  std::string Dns1;
  std::string Dns2;
  std::string Dhcp;
};

// Where the header's system facts come from.
class ReportProbes {
 public:
  virtual ~ReportProbes() = default;
  virtual void Collect(TReportHeaderFacts& facts) = 0;
};

// The report's clock: local date-time and local time minus UTC in minutes.
class ReportClock {
 public:
  virtual ~ReportClock() = default;
  virtual double Now() = 0;
  virtual std::int32_t BiasMinutes() = 0;
};

constexpr const char* kReportProductLine = "VantorLog 6.0.22";

// The product line, an empty line and the numbered tree of the shown fields.
std::string BuildReportHeader(const TVantorModuleOptions& options, const TReportHeaderFacts& facts,
                              std::uint64_t address, const std::string& bugId, double exceptionTime,
                              std::int32_t biasMinutes, const std::string& focusClass, const std::string& focusText);

// --- Text report -------------------------------------------------------------------------------------
class TVantorStackList;
class TVantorThreadsList;
class StackGroupFacts;
struct TStackGroupEntry;

// The group-row fields of the entry that starts a group: its thread and role,
// or for a memory leak the leak's type, total size and count.
TStackGroupEntry StackGroupOfEntry(const TVLLocationInfo& entry);

// The call-stack section: the listed entries grouped by thread.
std::string BuildCallStackTable(const TVantorModuleOptions& options, const TVantorStackList* list,
                                TVantorThreadsList* threads, StackGroupFacts& groupFacts);

// What one report is built from.
struct TTextReportFrame {
  const TVantorModuleOptions* Options = nullptr;
  // Memory, code locations and object classes of the listing; Memory also serves the dump.
  TAssemblerSources Sources;
  // The listing is made of 32-bit code only; otherwise the section keeps its title alone.
  bool ListingAvailable = true;
  std::uint64_t Address = 0;
  const TReportRegisters* Registers = nullptr;  // null: no context record
  std::uint64_t StackPointer = 0;
  const TVantorStackList* CallStack = nullptr;
  TVantorThreadsList* Threads = nullptr;
  StackGroupFacts* GroupFacts = nullptr;
  const TVantorModulesList* Modules = nullptr;
  const TVantorProcessesList* Processes = nullptr;
  ReportProbes* Probes = nullptr;
  ReportClock* Clock = nullptr;
  std::string FocusClass;
  std::string FocusText;
  std::string BugId;
  bool Duplicate = false;
};

// The report's texts, rebuilt by each BuildTextReport.
struct TReportTexts {
  std::string General;
  std::string Header;
  std::string Stack;
  std::string AssemblerTitle;
  std::string Assembler;
  std::string Cpu;
  std::string Report;
  std::string LastReport;
};
TReportTexts& ReportTexts();

// Extra sections (custom data, the user's steps to reproduce) go right after the report header of the given texts:
// into the report text and its last-report copy, and the header text grows to cover them. The text form holds one
// value without a label, the list form a line per "name=value" item with the trimmed name as its label. An empty
// text or list inserts nothing.
void InsertHeaderTextSection(TReportTexts& texts, int number, const std::string& title, const std::string& text);
void InsertHeaderValuesSection(TReportTexts& texts, int number, const std::string& title, const TStrings& values);

// The section being built; a failing report step names it.
int& ReportStepMarker();

// Builds every text of `texts` and returns the report text.
const std::string& BuildTextReport(const TTextReportFrame& frame, TReportTexts& texts);
