// Stand-ins for system functions that older Windows lacks: Windows 98 SE has
// none of the first group (they came with Windows 2000, ME or XP), and the
// second group belongs to the NT line (the 9x line exports them, if at all,
// as stubs that fail). The program takes each from the system at its first
// call where the system has it (app/LateImportsWin.cpp) and falls back on
// these, so that its import table names none of them and older loaders start
// it.
#pragma once

#include <windows.h>

namespace older_windows {

// The module at an address (GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS) or of a
// name; a reference is taken unless the flags say UNCHANGED_REFCOUNT (PIN
// takes one that is never given back). A null name is the program's; false
// for an address in no module.
BOOL WINAPI GetModuleHandleExA(DWORD flags, LPCSTR name, HMODULE* module);
BOOL WINAPI GetModuleHandleExW(DWORD flags, LPCWSTR name, HMODULE* module);
// No vectored handlers: none is added (null, ERROR_CALL_NOT_IMPLEMENTED).
PVOID WINAPI AddVectoredExceptionHandler(ULONG first, PVECTORED_EXCEPTION_HANDLER handler);
ULONG WINAPI RemoveVectoredExceptionHandler(PVOID handle);
// Through the 32-bit halves of GetFileSize and SetFilePointer.
BOOL WINAPI GetFileSizeEx(HANDLE file, PLARGE_INTEGER size);
BOOL WINAPI SetFilePointerEx(HANDLE file, LARGE_INTEGER distance, PLARGE_INTEGER position, DWORD method);
// No thread can be opened by its identifier: null, ERROR_CALL_NOT_IMPLEMENTED.
HANDLE WINAPI OpenThread(DWORD access, BOOL inherit, DWORD threadId);
// Only for the current time zone (a null zone): through the local file time,
// which applies the bias in force now, not the one of the date converted.
BOOL WINAPI SystemTimeToTzSpecificLocalTime(const TIME_ZONE_INFORMATION* zone, const SYSTEMTIME* utc,
                                            LPSYSTEMTIME local);
// Waits for the section and then holds it (true). The one user, the thread
// library's condition-variable destruction, tries the lock of a condition
// that no thread may wait on any more: waiting for it comes to the same.
BOOL WINAPI TryEnterCriticalSection(LPCRITICAL_SECTION section);
// One processor: masks of 1; a mask without it is refused.
BOOL WINAPI GetProcessAffinityMask(HANDLE process, PDWORD_PTR processMask, PDWORD_PTR systemMask);
BOOL WINAPI SetProcessAffinityMask(HANDLE process, DWORD_PTR mask);

// The NT line's own functions: false with ERROR_CALL_NOT_IMPLEMENTED, as the
// 9x line's stubs answer; every caller has a road for that answer.
BOOL WINAPI GetProcessTimes(HANDLE process, LPFILETIME created, LPFILETIME exited, LPFILETIME kernel, LPFILETIME user);
BOOL WINAPI GetThreadTimes(HANDLE thread, LPFILETIME created, LPFILETIME exited, LPFILETIME kernel, LPFILETIME user);
BOOL WINAPI GetSystemTimeAdjustment(PDWORD adjustment, PDWORD increment, PBOOL disabled);
BOOL WINAPI GetHandleInformation(HANDLE object, LPDWORD flags);
BOOL WINAPI OpenProcessToken(HANDLE process, DWORD access, PHANDLE token);
BOOL WINAPI GetTokenInformation(HANDLE token, TOKEN_INFORMATION_CLASS kind, LPVOID data, DWORD size, PDWORD needed);
BOOL WINAPI LookupPrivilegeNameA(LPCSTR system, PLUID luid, LPSTR name, LPDWORD size);

}  // namespace older_windows
