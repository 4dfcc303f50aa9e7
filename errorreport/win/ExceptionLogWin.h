// The library's start-up and shut-down in a module, its data block in loaded
// modules, the options it publishes for the other modules of the process and
// the process-wide unhandled-exception filter.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

#include "ExceptionLog.h"

// The unit entries ("ExceptionLog.Init" / "ExceptionLog.Done"); nested calls count.
void InitExceptionLog();
void DoneExceptionLog();

bool ModuleHasDataBlock(HMODULE module);
bool ModuleDataBlockIsCurrent(HMODULE module);
// The raw version word of the resource, else of the trailer; 0 without a block.
std::uint16_t GetDataBlockVersion(HMODULE module);

bool BuildModuleEntry(HMODULE module, const std::string& fileName, bool full);
bool AddModuleEntry(HMODULE module);
bool LoadModuleDataBlock(TVantorModuleInfo& entry);
// Exports of a loaded module, sorted by address.
bool ReadExportTable(HMODULE module, TVantorFunctionsList& list);

// The modules list of this module's library (null while dormant).
TVantorModulesList* VantorModulesList();
// The library's own default options (null while dormant).
TVantorModuleOptionsEx* DefaultVantorLogOptions();
// The options of this module's own entry; an assertion failure while the library is off.
TVantorModuleOptionsEx* CurrentVantorLogOptions();

void PublishModuleOptions(const TVantorModuleOptions& options);
void LoadPublishedModuleOptions(TVantorModuleOptions& options);
// The name of a module's shared options block: process id and module handle, 8 hex digits each.
std::string SharedBlockName(DWORD processId, HMODULE module);

void SetCloseAction(std::uint8_t action);

// The filter installed at every start-up: ends the process with the exception code.
LONG WINAPI VantorLogUnhandledFilter(EXCEPTION_POINTERS* info);
