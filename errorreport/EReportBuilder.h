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
