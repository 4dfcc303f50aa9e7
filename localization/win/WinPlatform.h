// Process and system information for the engine on Windows: the version
// record, the process-status library's module enumeration (when the library
// is there) and the engine's system error.
#pragma once

#include <windows.h>

#include <cstdint>

// Fills PlatformInfo() from GetVersionExA; leaves it zero when that fails.
void InitPlatformInfo();
// EnumProcessModules from PSAPI.dll; 0 when the library or the entry point is missing.
BOOL PsapiEnumProcessModules(HANDLE process, HMODULE* modules, DWORD size, DWORD* needed);
// Raises EOSError for the last system error.
[[noreturn]] void RaiseLastSystemError();
[[noreturn]] void RaiseSystemError(DWORD code);
