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

// The 5 MB emergency reserve: released at the start of every report, reserved again afterwards.
// Leak mode: the library's state rebuilt after its shut-down for the leak
// report (false when it was never shut down), and shut down again.
bool RestartLibraryForLeaks();
void EndLibraryAfterLeaks();

void ReserveEmergencyMemory();
void ReleaseEmergencyMemory();

// Per-thread data of the library (each thread has its own; all start zeroed).
struct TVantorThreadBlock {
  void* RecordedStackPosition = nullptr;
  void* RaiseStackPosition = nullptr;
  std::uintptr_t RaiseEcx = 0;
  CONTEXT SavedContext{};
  EXCEPTION_RECORD SavedRecord{};
  std::uint8_t InReport = 0;
  std::uint8_t Reporting = 0;
  std::uint8_t CaptureReentry = 0;
  char LastExceptionClass[65] = {};
  void* LastExceptionAddress = nullptr;
  // The code address of this thread's last raise (where the throw returns to).
  void* RaiseAddress = nullptr;
  // The handling marker of the application handler hook.
  std::uint8_t HandlingMarker = 0;
};
TVantorThreadBlock& CurrentThreadBlock();
// Gives back the calling thread's block (at its end).
void FreeCurrentThreadBlock();

// The runtime's exception-handling entry points, found at start-up: the
// catch-all handler (entering a catch clause), the typed handler (the
// personality routine that matches a clause by type), the safecall handler
// (which turns an exception into an error code at an interface boundary) and
// the end-of-except procedure (leaving a catch clause).
struct TRuntimeHandlerAddresses {
  const void* CatchAll = nullptr;
  const void* Typed = nullptr;
  const void* SafeCall = nullptr;
  const void* EndExcept = nullptr;
};
const TRuntimeHandlerAddresses& RuntimeHandlerAddresses();

// The object whose safecall method names the safecall handler.
class TSafeObject {
 public:
  virtual ~TSafeObject() = default;
  // Runs `body`; an exception becomes the error code of the safecall handler.
  virtual long SafeCallMethod(void (*body)());
};
// The safecall handler: the error code of an exception that reached an interface boundary.
long SafeCallExceptionHandler() noexcept;

// Whether the program is a console program, and one that answers web-server
// requests (an ISAPI extension module or a CGI program).
bool IsConsoleApp();
bool IsWebApp();

// The cursor the library's dialogs show over their links: the standard hand,
// or the arrow on systems that have no hand cursor (Windows 95 and NT 4).
int VantorHandCursorId();

// The folder that was current when the library started.
std::string StartupDirectory();
// The handle of the main thread duplicated at start-up (null while dormant).
HANDLE MainThreadHandle();
// The live threads list (null while dormant).
TVantorThreadsList* VantorThreadsList();
// Whether a unit name (a file name, its extension ignored) is one of the library's own.
bool IsOwnUnitName(const std::string& unitName);
// The main program module as the library knows it: this program, or for a
// DLL in a process whose runtime names no main module, the first loaded
// program module that carries a data block (null when there is none).
HMODULE VantorMainInstance();

// The filter installed at every start-up: ends the process with the exception code.
LONG WINAPI VantorLogUnhandledFilter(EXCEPTION_POINTERS* info);
