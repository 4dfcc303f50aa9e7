#include "OlderWindows.h"

#include <string>

namespace older_windows {
namespace {

BOOL NotImplemented() {
  SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
  return FALSE;
}

// The module found (null when none), with a reference taken unless the flags say otherwise.
BOOL HandOver(DWORD flags, HMODULE found, HMODULE* module) {
  if (!found) return FALSE;
  if (!(flags & (GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT))) {
    char path[MAX_PATH];
    const DWORD n = GetModuleFileNameA(found, path, sizeof path);
    if (n == 0 || n >= sizeof path || !LoadLibraryA(path)) return FALSE;
  }
  *module = found;
  return TRUE;
}

// The module that holds an address: the start of its allocation, when that is a loaded module.
HMODULE ModuleAt(const void* address) {
  MEMORY_BASIC_INFORMATION info;
  if (VirtualQuery(address, &info, sizeof info) == 0 || !info.AllocationBase) return nullptr;
  HMODULE base = static_cast<HMODULE>(info.AllocationBase);
  char path[MAX_PATH];
  if (GetModuleFileNameA(base, path, sizeof path) == 0) return nullptr;
  return base;
}

}  // namespace

BOOL WINAPI GetModuleHandleExA(DWORD flags, LPCSTR name, HMODULE* module) {
  if (!module) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  *module = nullptr;
  // A null name is the program, with an address too.
  HMODULE found = (flags & GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS) && name ? ModuleAt(name) : GetModuleHandleA(name);
  if (!found) SetLastError(ERROR_MOD_NOT_FOUND);
  return HandOver(flags, found, module);
}

BOOL WINAPI GetModuleHandleExW(DWORD flags, LPCWSTR name, HMODULE* module) {
  if ((flags & GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS) || !name)
    return older_windows::GetModuleHandleExA(flags, reinterpret_cast<LPCSTR>(name), module);
  // A name: in the ANSI code page (the 9x line's wide functions are stubs).
  const int n = WideCharToMultiByte(CP_ACP, 0, name, -1, nullptr, 0, nullptr, nullptr);
  if (n <= 0) {
    if (module) *module = nullptr;
    return FALSE;
  }
  std::string narrow(static_cast<std::size_t>(n), '\0');
  WideCharToMultiByte(CP_ACP, 0, name, -1, narrow.data(), n, nullptr, nullptr);
  return older_windows::GetModuleHandleExA(flags, narrow.c_str(), module);
}

PVOID WINAPI AddVectoredExceptionHandler(ULONG, PVECTORED_EXCEPTION_HANDLER) {
  SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
  return nullptr;
}

ULONG WINAPI RemoveVectoredExceptionHandler(PVOID) {
  return 0;
}

BOOL WINAPI GetFileSizeEx(HANDLE file, PLARGE_INTEGER size) {
  DWORD high = 0;
  SetLastError(NO_ERROR);
  const DWORD low = GetFileSize(file, &high);
  if (low == INVALID_FILE_SIZE && GetLastError() != NO_ERROR) return FALSE;
  size->LowPart = low;
  size->HighPart = static_cast<LONG>(high);
  return TRUE;
}

BOOL WINAPI SetFilePointerEx(HANDLE file, LARGE_INTEGER distance, PLARGE_INTEGER position, DWORD method) {
  LONG high = distance.HighPart;
  SetLastError(NO_ERROR);
  const DWORD low = SetFilePointer(file, static_cast<LONG>(distance.LowPart), &high, method);
  if (low == INVALID_SET_FILE_POINTER && GetLastError() != NO_ERROR) return FALSE;
  if (position) {
    position->LowPart = low;
    position->HighPart = high;
  }
  return TRUE;
}

HANDLE WINAPI OpenThread(DWORD, BOOL, DWORD) {
  SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
  return nullptr;
}

BOOL WINAPI SystemTimeToTzSpecificLocalTime(const TIME_ZONE_INFORMATION* zone, const SYSTEMTIME* utc,
                                            LPSYSTEMTIME local) {
  if (zone) return NotImplemented();
  FILETIME universal, here;
  return SystemTimeToFileTime(utc, &universal) && FileTimeToLocalFileTime(&universal, &here) &&
         FileTimeToSystemTime(&here, local);
}

BOOL WINAPI TryEnterCriticalSection(LPCRITICAL_SECTION section) {
  EnterCriticalSection(section);
  return TRUE;
}

BOOL WINAPI GetProcessAffinityMask(HANDLE, PDWORD_PTR processMask, PDWORD_PTR systemMask) {
  if (!processMask || !systemMask) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  *processMask = *systemMask = 1;
  return TRUE;
}

BOOL WINAPI SetProcessAffinityMask(HANDLE, DWORD_PTR mask) {
  if (mask & 1) return TRUE;
  SetLastError(ERROR_INVALID_PARAMETER);
  return FALSE;
}

BOOL WINAPI GetProcessTimes(HANDLE, LPFILETIME, LPFILETIME, LPFILETIME, LPFILETIME) {
  return NotImplemented();
}
BOOL WINAPI GetThreadTimes(HANDLE, LPFILETIME, LPFILETIME, LPFILETIME, LPFILETIME) {
  return NotImplemented();
}
BOOL WINAPI GetSystemTimeAdjustment(PDWORD, PDWORD, PBOOL) {
  return NotImplemented();
}
BOOL WINAPI GetHandleInformation(HANDLE, LPDWORD) {
  return NotImplemented();
}
BOOL WINAPI OpenProcessToken(HANDLE, DWORD, PHANDLE) {
  return NotImplemented();
}
BOOL WINAPI GetTokenInformation(HANDLE, TOKEN_INFORMATION_CLASS, LPVOID, DWORD, PDWORD) {
  return NotImplemented();
}
BOOL WINAPI LookupPrivilegeNameA(LPCSTR, PLUID, LPSTR, LPDWORD) {
  return NotImplemented();
}

}  // namespace older_windows
