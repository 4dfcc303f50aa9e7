// Source locations of code addresses: module, unit, class, procedure and
// line. The module's own compact line table (the debug data of its VLDATA
// block) is asked first, then the module's debug-information source (EDebug),
// last its exported functions.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "ECallStack.h"
#include "EDebug.h"
#include "ESystem.h"
#include "ExceptionLog.h"

// What the lookups need of the running process. The Win32 half installs the
// real one; tests install fakes.
class LocationEnvironment {
 public:
  virtual ~LocationEnvironment() = default;
  // The modules-list entry of the module that holds `address`, or null.
  virtual TVantorModuleInfo* ModuleEntryOf(std::uint64_t address) = 0;
  // Whether a unit is one of the library's own (hidden from call stacks).
  virtual bool IsOwnUnit(const std::string& unitName) = 0;
  // Whether the library is reporting a failure of its own code right now.
  virtual bool ReportingOwnFailure() = 0;
  // The process's code, for measuring functions and reading prologues; may be null.
  virtual MemoryReader* Memory() = 0;
};
void SetLocationEnvironment(LocationEnvironment* environment);
LocationEnvironment* GetLocationEnvironment();

// Fills `location` for `address`: its module entry, the thread id and the
// caller's flags, then the first lookup that names it.
void LocateAddress(std::uint64_t address, std::int32_t threadId, TVLLocationInfo& location,
                   std::uint8_t faultingThread = 0, std::uint8_t firstEntry = 0);
// The walk of the line table in the debug data of `location.Module`.
bool LocateInOwnDebugData(std::uint64_t address, TVLLocationInfo& location);
// The module's debug-information source.
bool LocateInDebugInfoSource(std::uint64_t address, TVLLocationInfo& location);
// The exported function of `module` that holds `address` (its length measured
// to its first return once and kept); false when none does.
bool FindFunctionAt(TVantorModuleInfo& module, std::uint64_t address, int& index);
// Names from an export name: decorated "@Unit@Class@Method$params" forms
// give unit, class and procedure (kind 3); a plain name is the procedure (kind 2).
void SplitExportName(std::string_view name, TVLLocationInfo& location);

// Our modules link the framework statically.
inline bool UsesRuntimePackages() {
  return false;
}
