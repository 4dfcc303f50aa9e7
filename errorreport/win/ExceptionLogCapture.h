// Where exceptions are caught as they arise. The program's code is compiled
// by a compiler whose 32-bit exceptions unwind by tables (no frames on the
// system's handler chain, no RtlUnwind), so the library catches:
// - language raises by wrapping the run-time's throw entry (the link option
//   --wrap=__cxa_throw, added by the CMake helper pellory_capture_exceptions):
//   the wrapper fills the thread's saved CONTEXT and EXCEPTION_RECORD as a
//   language raise record (code 0x0EEDFADE) would, snapshots the stack and
//   notes the exception;
// - the places where the program's own handling ends: the framework's
//   application handler slots (mode 1), the slot through which a framework
//   thread runs its Execute (mode 0, handler kind 2; the exception is then
//   still the thread's FatalException), the unit runner's slot for an
//   exception leaving a unit's initialization or finalization (mode 0), and
//   the terminate handler that ends
//   a thread (or the program) whose exception nothing caught;
// - operating-system faults by a vectored handler that keeps the fault's
//   record and CONTEXT in the thread block (it never reports: the system's
//   own code sees first-chance faults too; the unhandled filter reports).
// Whether a raise will be handled cannot be learnt from a handler chain, so
// a raise is left to the program, except a stack overflow, which is reported
// at once. Every road ends in the report pipeline (EPipelineWin.h).
#pragma once

#include <windows.h>

#include <cstdint>
#include <memory>
#include <typeinfo>
#include <vector>

#include "ECore.h"

struct TVantorThreadInfo;

// Mode numbers of ExceptionManager.
constexpr std::uint8_t kModeServer = 0;       // a server, service, thread or network component caught it
constexpr std::uint8_t kModeApplication = 1;  // the application framework's handler caught it
constexpr std::uint8_t kModeWeb = 2;          // a web framework caught it

// The code of a language raise, and the thread-naming notification.
constexpr DWORD kLanguageRaiseCode = 0x0EEDFADEu;
constexpr DWORD kThreadNamingCode = 0x406D1388u;

struct TProcessExceptionCall {
  std::shared_ptr<const TExceptionObjectRecord> Object;
  std::uintptr_t Address = 0;
  bool Language = false;
  bool Handled = false;
  std::uint8_t HandlerKind = 0;
  HMODULE Module = nullptr;
  std::uint8_t Mode = 0;
  bool HasRecord = false;
  bool HasContext = false;
  std::uint32_t StackBytes = 0;
  DWORD ThreadId = 0;
};

// The entry of the report pipeline (EPipelineWin.cpp); the calls that reached
// it are kept (the last 64) for the library's own checks. With `stackCopy`
// the call stack is scanned from that copy of the thread's stack (taken when
// the exception was raised) instead of the live stack.
std::uint8_t ProcessException(std::shared_ptr<const TExceptionObjectRecord> object, std::uintptr_t address,
                              bool language, bool handled, std::uint8_t handlerKind, HMODULE module, std::uint8_t mode,
                              const EXCEPTION_RECORD* record, const CONTEXT* context, std::uint32_t stackBytes,
                              const TStackSnapshot* stackCopy = nullptr);
std::vector<TProcessExceptionCall> ProcessExceptionCalls();
void ClearProcessExceptionCalls();

// The handled-or-not decision of a raise: true when it is left to the
// program. No handler chain can be walked from a raise of this run-time, so
// only a stack overflow is not (`handlerKind` stays as it is).
bool WillBeHandled(const TExceptionObjectRecord* object, std::uint8_t& handlerKind);

// A raise seen by a hook: noted as the current exception; while catching is
// on, the thread is not excluded and the exception is reportable, one that
// WillBeHandled does not leave to the program is reported at once. Keeps the
// thread's last-error value.
void CaptureException(std::shared_ptr<const TExceptionObjectRecord> object, std::uintptr_t address, bool language);

// The throw wrapper's work (ExceptionLogThrow.cpp, linked in by
// --wrap=__cxa_throw): `frame` is the wrapper's frame (saved frame pointer,
// then the return address into the throwing code).
void NoteLanguageRaise(void* object, const std::type_info* type, std::uintptr_t returnAddress, std::uintptr_t* frame);

// The end of a catch clause (--wrap=__cxa_end_catch): with BehaviourFlags
// 0x100 a handled exception is reported (handled 1), unless it is the one
// this thread reported last (same class name and address). Its call stack is
// scanned from the stack snapshot its raise took (the live stack below the
// catch clause has been reused since). Without the switch a catch clause
// costs a few tests: nothing is rethrown or allocated.
void NoteEndOfCatch();

// ExceptionManager in C++ form (the handler kind is 2 for a thread's Execute).
std::uint8_t ExceptionManagerCall(std::shared_ptr<const TExceptionObjectRecord> object, std::uintptr_t address,
                                  std::uint8_t mode, HMODULE module, std::uint8_t handlerKind = 0);

// The raise handler (behind the RaiseException hook, with report set, and
// behind VantorLog_CallGeneralRaise): a language raise record (code
// 0x0EEDFADE, flags 1, 7 arguments) fills the thread's saved CONTEXT and
// EXCEPTION_RECORD from the thread's raise stack position and the
// arguments, and with `report` is captured; in a module whose main program
// carries the library the raise is forwarded to the main module's export.
void RunRaiseHandler(DWORD code, DWORD flags, DWORD argumentCount, const ULONG_PTR* arguments, bool report);

// Takes the raise-time snapshot of the calling thread's stack from the saved
// stack pointer (the current one when the saved one lies outside the stack).
void SnapshotFrom(std::uintptr_t savedStackPointer, std::uintptr_t currentStackPointer, std::uintptr_t address,
                  bool isReturnAddress);
// The calling thread's stack: its lowest committed address and its top.
void CurrentStackBounds(std::uintptr_t& limit, std::uintptr_t& top);
// Whether a thread record's thread still runs.
bool IsThreadActive(const TVantorThreadInfo& record);

// Start-up step 15's hooks (the framework slots, the thread slot, the
// terminate handler, the vectored fault handler), and their removal.
void InstallCaptureHooks();
void RemoveCaptureHooks();
bool CaptureHooksInstalled();

// The exports through which copies of the library in other modules forward
// to the main module's copy (undecorated names from the library's .def file).
extern "C" {
BYTE __stdcall ExceptionManager(const void* object, void* address, BYTE mode, HMODULE module);
BYTE __stdcall VantorLog_LastLunderException();
void __stdcall VantorLog_CallGeneralRaise(DWORD code, DWORD flags, DWORD argumentCount, void* raiseStackPosition,
                                          const ULONG_PTR* arguments);
// The exception object of a system exception record (sound until the next
// exception is noted; null for a thread-naming notification or no record):
// the record and CONTEXT are kept in the thread block; on the main thread
// outside start-up and shut-down the object is only noted, elsewhere with
// `report` it is captured.
void* __stdcall VantorLog_CallExceptObject(EXCEPTION_RECORD* record, CONTEXT* context, BYTE report);
void __stdcall VantorLog_CallCreateThread(const void* threadRecord);
void __stdcall VantorLog_CallResumeThread(HANDLE thread, const void* threadRecord);
void __stdcall VantorLog_CallExitThread();
}
