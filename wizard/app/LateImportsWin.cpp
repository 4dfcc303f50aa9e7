// System functions that older Windows lacks, taken at their first call: the
// program and the libraries linked into it call each through its import slot,
// and the slots are defined here instead of being imported, so that the
// loader of an older system (Windows 98 SE lacks them all, or has them only as
// failing stubs) starts the program. The first call through a slot takes the
// system's function where its DLL exports one, and otherwise the stand-in of
// OlderWindows.h; later calls go straight to the one chosen.
#include <windows.h>

#include "OlderWindows.h"

namespace {

template <typename Fn>
Fn Choose(const char* dll, const char* name, Fn standIn) {
  Fn f = nullptr;
  // The ANSI call: the wide one is a failing stub on the 9x line.
  if (HMODULE module = GetModuleHandleA(dll))
    f = reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(module, name)));
  return f ? f : standIn;
}

}  // namespace

// The slot's linker name (32-bit names carry the stdcall decoration: the bytes of the arguments).
#if defined(__i386__)
#define PELLORY_SLOT_NAME(name, bytes) "__imp__" #name "@" #bytes
#else
#define PELLORY_SLOT_NAME(name, bytes) "__imp_" #name
#endif

// The slot of `name` from `dll`, first pointing at a function that chooses and
// then calls; threads that race there all store the same function
// (a pointer-sized store).
#define PELLORY_LATE_IMPORT(dll, name, bytes, Result, parameters, arguments)                                         \
  namespace {                                                                                                        \
  Result WINAPI First##name parameters;                                                                              \
  }                                                                                                                  \
  extern "C" {                                                                                                       \
  [[gnu::used]] decltype(&older_windows::name) g_##name##Slot __asm__(PELLORY_SLOT_NAME(name, bytes)) = First##name; \
  }                                                                                                                  \
  namespace {                                                                                                        \
  Result WINAPI First##name parameters {                                                                             \
    const auto chosen_ = Choose(dll, #name, &older_windows::name);                                                   \
    __atomic_store_n(&g_##name##Slot, chosen_, __ATOMIC_RELEASE);                                                    \
    return chosen_ arguments;                                                                                        \
  }                                                                                                                  \
  }

PELLORY_LATE_IMPORT("kernel32.dll", GetModuleHandleExA, 12, BOOL, (DWORD f, LPCSTR n, HMODULE* m), (f, n, m))
PELLORY_LATE_IMPORT("kernel32.dll", GetModuleHandleExW, 12, BOOL, (DWORD f, LPCWSTR n, HMODULE* m), (f, n, m))
PELLORY_LATE_IMPORT("kernel32.dll", AddVectoredExceptionHandler, 8, PVOID,
                    (ULONG first, PVECTORED_EXCEPTION_HANDLER handler), (first, handler))
PELLORY_LATE_IMPORT("kernel32.dll", RemoveVectoredExceptionHandler, 4, ULONG, (PVOID handle), (handle))
PELLORY_LATE_IMPORT("kernel32.dll", GetFileSizeEx, 8, BOOL, (HANDLE file, PLARGE_INTEGER size), (file, size))
PELLORY_LATE_IMPORT("kernel32.dll", SetFilePointerEx, 20, BOOL,
                    (HANDLE file, LARGE_INTEGER distance, PLARGE_INTEGER position, DWORD method),
                    (file, distance, position, method))
PELLORY_LATE_IMPORT("kernel32.dll", OpenThread, 12, HANDLE, (DWORD access, BOOL inherit, DWORD id),
                    (access, inherit, id))
PELLORY_LATE_IMPORT("kernel32.dll", SystemTimeToTzSpecificLocalTime, 12, BOOL,
                    (const TIME_ZONE_INFORMATION* zone, const SYSTEMTIME* utc, LPSYSTEMTIME local), (zone, utc, local))
PELLORY_LATE_IMPORT("kernel32.dll", TryEnterCriticalSection, 4, BOOL, (LPCRITICAL_SECTION section), (section))
PELLORY_LATE_IMPORT("kernel32.dll", GetProcessAffinityMask, 12, BOOL, (HANDLE p, PDWORD_PTR mine, PDWORD_PTR all),
                    (p, mine, all))
PELLORY_LATE_IMPORT("kernel32.dll", SetProcessAffinityMask, 8, BOOL, (HANDLE p, DWORD_PTR mask), (p, mask))
PELLORY_LATE_IMPORT("kernel32.dll", GetProcessTimes, 20, BOOL,
                    (HANDLE p, LPFILETIME c, LPFILETIME e, LPFILETIME k, LPFILETIME u), (p, c, e, k, u))
PELLORY_LATE_IMPORT("kernel32.dll", GetThreadTimes, 20, BOOL,
                    (HANDLE t, LPFILETIME c, LPFILETIME e, LPFILETIME k, LPFILETIME u), (t, c, e, k, u))
PELLORY_LATE_IMPORT("kernel32.dll", GetSystemTimeAdjustment, 12, BOOL, (PDWORD a, PDWORD i, PBOOL d), (a, i, d))
PELLORY_LATE_IMPORT("kernel32.dll", GetHandleInformation, 8, BOOL, (HANDLE h, LPDWORD flags), (h, flags))
PELLORY_LATE_IMPORT("advapi32.dll", OpenProcessToken, 12, BOOL, (HANDLE p, DWORD access, PHANDLE token),
                    (p, access, token))
PELLORY_LATE_IMPORT("advapi32.dll", GetTokenInformation, 20, BOOL,
                    (HANDLE t, TOKEN_INFORMATION_CLASS k, LPVOID d, DWORD s, PDWORD n), (t, k, d, s, n))
PELLORY_LATE_IMPORT("advapi32.dll", LookupPrivilegeNameA, 16, BOOL, (LPCSTR s, PLUID l, LPSTR n, LPDWORD z),
                    (s, l, n, z))
