// The Win32 half of the system routines: the platform and version variables
// (Win32Platform, Win32MajorVersion, Win32MinorVersion of SysUtils.h) from
// the system, and the framework's error for a failed system call.
#pragma once

#include <windows.h>

#include <string>

// Reads the platform and version variables from GetVersionExA; leaves them
// unchanged when the query fails. InitWin32Platform calls it; calling it again
// reads them again.
void InitPlatformVersion();

// The full name of a library in the system folder ("" when the folder cannot
// be read), and the library loaded by that name. System libraries are never
// loaded by their bare name: the search would look in the program's folder and
// the current folder first, where anybody may have put a file of that name.
std::string SystemLibraryPath(const char* fileName);
HMODULE LoadSystemLibrary(const char* fileName);

// Raises EOSError for the calling thread's last system error: "System Error.
// Code: N." and the system's text, the code in ErrorCode.
[[noreturn]] void RaiseLastOSError();
[[noreturn]] void RaiseOSError(DWORD code);
