// The kernel32 procedures the library takes over in the modules that carry
// the framework (start-up step 15): RaiseException, RtlUnwind and WriteFile
// learn where raises and unwinds start and what a CGI program writes;
// CreateThread, ResumeThread and ExitThread keep the threads list.
//
// CreateThread creates every thread suspended (the caller's flags plus
// CREATE_SUSPENDED), so that its record is listed and its start wrapped
// before it runs, and resumes it unless the caller asked for a suspended
// thread. A framework thread is recognised by the framework's Win32 thread
// start routine and its start pair (Win32Platform.h): its record keeps the
// thread object, whose Execute runs through the framework's thread slot
// (ExceptionLogCapture.h). Another start pair's function and a plain
// thread's start routine are wrapped, so that the thread's record learns its
// stack top. The library's own thread classes get no record.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

class TObject;

// The debugger notification that carries a CONTEXT block (its first dword is
// the block's CONTEXT flags, 0x1003F for a full i386 CONTEXT).
constexpr DWORD kDebuggerNotificationCode = 0x0EEDFAE4u;
constexpr DWORD kFullContextFlags = 0x1003Fu;

// The library's own thread classes (by class name, so that a copy of the
// library in another module is recognised too).
bool IsLibraryThreadObject(const TObject* thread);

// Patches the six imports in this module (each original from kernel32),
// and HttpExtensionProc's code when this module exports it. Import patches
// stay in place until the hooking unit's shut-down; while the library is not
// initialized every hook only runs the original.
void InstallImportHooks();
// Whether an import of `procName` now reaches the library's hook.
bool ImportHookInstalled(const char* procName);

// The handlers outside the framework's slots, patched in their code (which
// needs the 32-bit build): the data block's symbols 5 and 4 (the program's
// report-then-maybe-go-on handlers, mode 2), and the handlers of a web
// framework (ids 6-8), of the service class (9) and of a network package's
// threads (10), each found as a block symbol (every framework is linked
// into its module, so there is no package to search). A patched handler reports the current
// exception through ExceptionManager; the original runs with the same
// registers and stack when the answer is 1 (always for id 9), else the
// answer is returned, with the handler's stack arguments removed as its own
// return would: their byte count is the symbol's value, and a symbol whose
// value names no such count (not a multiple of 4, or above 1020) is left
// unpatched. Targets 6 and 8 are only kept: their handlers work on the web
// framework's own objects.
using TSymbolAddressLookup = void* (*)(std::uint8_t id);
using TSymbolValueLookup = bool (*)(std::uint8_t id, std::uint32_t& value);
void HookClassLibraryHandlers(TSymbolAddressLookup symbolAddress, TSymbolValueLookup symbolValue = nullptr);
// Whether a handler symbol's value is a count of stack argument bytes a
// patched entry can remove.
bool IsHandlerArgumentSize(std::uint32_t bytes);
struct TClassLibraryTarget {
  void* Address = nullptr;  // null: not found
  bool Patched = false;
};
TClassLibraryTarget ClassLibraryTarget(int id);
// Whether the network package's thread handler (id 10) was patched.
bool NetworkThreadHookInstalled();

// A server extension's entry (the module's export HttpExtensionProc, patched
// at start-up): the client's WriteClient of each request is swapped for one
// that keeps the written text as the last HTML page, unless the library
// itself is sending its error page. False when the code cannot be patched.
bool HookHttpExtensionProc(void* procedure);
// The control block of the server extension's current request (kept by the
// hooked entry; null before the first request), as an EXTENSION_CONTROL_BLOCK*.
void* KeptExtensionControlBlock();
void SetSendingErrorPage(bool sending);

// The last HTML page: what a CGI program wrote to its standard output, or a
// server extension to its client.
std::string LastHtmlPage();
void SetLastHtmlPage(const std::string& page);
