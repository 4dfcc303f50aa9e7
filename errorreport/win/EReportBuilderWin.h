// The text report of a running report: the exception thread's registers from
// its CONTEXT, the header's system facts as the library already knows them,
// the local clock, the process's memory and the source locations of its code.
#pragma once

#include <windows.h>

#include <string>

#include "ECallStack.h"
#include "EReportBuilder.h"

struct TReportRun;

// The register record of a CONTEXT with its integer and control registers;
// false (nothing filled) without a context or in a 64-bit program, whose
// registers the report does not show.
bool ReportRegistersFromContext(const CONTEXT* context, TReportRegisters& registers);

// The header's facts that this library finds itself; the others stay empty.
class Win32ReportProbes : public ReportProbes {
 public:
  explicit Win32ReportProbes(const TReportRun& run) : run_(run) {}
  void Collect(TReportHeaderFacts& facts) override;

 private:
  const TReportRun& run_;
};

class Win32ReportClock : public ReportClock {
 public:
  double Now() override;
  std::int32_t BiasMinutes() override;
};

// Names the stack entries by their source locations (with details), or
// makes bare entries naming the module.
class LocatingStackEntryMaker : public StackEntryMaker {
 public:
  void Make(std::uint64_t address, bool details, TVLLocationInfo& entry) override;
};
LocatingStackEntryMaker& DefaultStackEntryMaker();

// Keeps the name that a thread-naming raise (0x406D1388: type 0x1000, the
// name's address, the thread id or -1 for the raising thread, flags) gives,
// for the thread's group rows. The name is read only where it is readable.
void NoteThreadNamingRaise(DWORD argumentCount, const ULONG_PTR* arguments) noexcept;

// Builds every report text for the run and returns the report text.
std::string BuildRunReportText(TReportRun& run);

// The custom data (a "name=value" line each) and the steps to reproduce, as
// sections after the header of the run's report; the report text takes them.
// A report text built by another builder has no header known here and stays
// as it is.
void InsertRunValuesSection(TReportRun& run, int number, const std::string& title, const TStrings& values);
void InsertRunTextSection(TReportRun& run, int number, const std::string& title, const std::string& text);
