// The stand-ins the program takes where older Windows lacks a system
// function: each answers as the system's own function does, checked beside
// it (which this system has).
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "OlderWindows.h"

namespace {

int g_inThisModule = 0;

TEST(OlderWindows, ModuleHandleOfAnAddressOrANameAsTheSystemGivesIt) {
  constexpr DWORD kKeep = GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT;
  constexpr DWORD kAt = GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | kKeep;
  const HMODULE self = GetModuleHandleA(nullptr);
  const HMODULE kernel = GetModuleHandleA("kernel32.dll");
  const struct {
    const char* what;
    DWORD flags;
    LPCSTR name;
    HMODULE expected;
  } cases[] = {
      {"a variable of the program", kAt, reinterpret_cast<LPCSTR>(&g_inThisModule), self},
      {"a function of kernel32", kAt, reinterpret_cast<LPCSTR>(reinterpret_cast<void*>(&GetTickCount)), kernel},
      {"the program by a null name", kKeep, nullptr, self},
      {"kernel32 by name", kKeep, "KERNEL32.DLL", kernel},
      {"kernel32 by name, with a reference", 0, "kernel32.dll", kernel},
  };
  for (const auto& c : cases) {
    HMODULE system = nullptr, standIn = nullptr;
    EXPECT_TRUE(::GetModuleHandleExA(c.flags, c.name, &system)) << c.what;
    EXPECT_TRUE(older_windows::GetModuleHandleExA(c.flags, c.name, &standIn)) << c.what;
    EXPECT_EQ(standIn, c.expected) << c.what;
    EXPECT_EQ(standIn, system) << c.what;
    if (!(c.flags & kKeep)) {
      FreeLibrary(system);
      FreeLibrary(standIn);
    }
  }
  HMODULE wide = nullptr;
  EXPECT_TRUE(older_windows::GetModuleHandleExW(kKeep, L"kernel32.dll", &wide));
  EXPECT_EQ(wide, kernel);

  // A null address is the program, as a null name is.
  HMODULE program = nullptr;
  EXPECT_TRUE(older_windows::GetModuleHandleExA(kAt, nullptr, &program));
  EXPECT_EQ(program, self);

  // Memory of no module, and a module not loaded: nothing, as from the system.
  void* heap = VirtualAlloc(nullptr, 4096, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
  ASSERT_NE(heap, nullptr);
  HMODULE system = self, standIn = self;
  EXPECT_EQ(::GetModuleHandleExA(kAt, static_cast<LPCSTR>(heap), &system), FALSE);
  EXPECT_EQ(older_windows::GetModuleHandleExA(kAt, static_cast<LPCSTR>(heap), &standIn), FALSE);
  EXPECT_EQ(standIn, nullptr);
  EXPECT_EQ(system, nullptr);
  VirtualFree(heap, 0, MEM_RELEASE);
  HMODULE none = self;
  EXPECT_EQ(older_windows::GetModuleHandleExA(kKeep, "no-such-module.dll", &none), FALSE);
  EXPECT_EQ(none, nullptr);
}

// A reference taken by the stand-in keeps a library loaded after its own load is given back.
TEST(OlderWindows, ModuleHandleWithAReferenceKeepsTheLibraryLoaded) {
  constexpr const char* kLibrary = "cabinet.dll";  // one that nothing here loads
  ASSERT_EQ(GetModuleHandleA(kLibrary), nullptr);
  HMODULE library = LoadLibraryA(kLibrary);
  ASSERT_NE(library, nullptr);
  HMODULE held = nullptr;
  ASSERT_TRUE(older_windows::GetModuleHandleExA(0, kLibrary, &held));
  EXPECT_EQ(held, library);
  FreeLibrary(library);
  EXPECT_EQ(GetModuleHandleA(kLibrary), library);
  FreeLibrary(held);
  EXPECT_EQ(GetModuleHandleA(kLibrary), nullptr);
}

TEST(OlderWindows, FileSizeAndPositionThroughTheirHalves) {
  char folder[MAX_PATH], name[MAX_PATH];
  ASSERT_NE(GetTempPathA(sizeof folder, folder), 0u);
  ASSERT_NE(GetTempFileNameA(folder, "olw", 0, name), 0u);
  HANDLE file =
      CreateFileA(name, GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_TEMPORARY, nullptr);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  DWORD written = 0;
  ASSERT_TRUE(WriteFile(file, "0123456789", 10, &written, nullptr));
  LARGE_INTEGER size{}, systemSize{};
  EXPECT_TRUE(older_windows::GetFileSizeEx(file, &size));
  EXPECT_TRUE(::GetFileSizeEx(file, &systemSize));
  EXPECT_EQ(size.QuadPart, 10);
  EXPECT_EQ(size.QuadPart, systemSize.QuadPart);

  const struct {
    LONGLONG distance;
    DWORD method;
    LONGLONG position;
  } moves[] = {
      {3, FILE_BEGIN, 3},
      {4, FILE_CURRENT, 7},
      {-2, FILE_CURRENT, 5},
      {-1, FILE_END, 9},
      {0x100000000LL, FILE_BEGIN, 0x100000000LL},  // beyond 4 GB: the high half counts
      {-0x100000000LL + 1, FILE_CURRENT, 1},
  };
  for (const auto& m : moves) {
    LARGE_INTEGER distance, position{};
    distance.QuadPart = m.distance;
    EXPECT_TRUE(older_windows::SetFilePointerEx(file, distance, &position, m.method)) << m.distance;
    EXPECT_EQ(position.QuadPart, m.position) << m.distance;
    LARGE_INTEGER none{}, systemPosition{};
    EXPECT_TRUE(::SetFilePointerEx(file, none, &systemPosition, FILE_CURRENT));
    EXPECT_EQ(systemPosition.QuadPart, m.position) << m.distance;
  }
  // Before the start: refused, and the position stays.
  LARGE_INTEGER before, position{};
  before.QuadPart = -5;
  EXPECT_FALSE(older_windows::SetFilePointerEx(file, before, &position, FILE_BEGIN));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NEGATIVE_SEEK));
  EXPECT_TRUE(older_windows::SetFilePointerEx(file, LARGE_INTEGER{}, &position, FILE_CURRENT));
  EXPECT_EQ(position.QuadPart, 1);
  CloseHandle(file);
  DeleteFileA(name);
  EXPECT_FALSE(older_windows::GetFileSizeEx(file, &size));
}

TEST(OlderWindows, LocalTimeOfNowAsTheSystemConvertsIt) {
  SYSTEMTIME utc, local{}, systemLocal{};
  GetSystemTime(&utc);
  ASSERT_TRUE(older_windows::SystemTimeToTzSpecificLocalTime(nullptr, &utc, &local));
  ASSERT_TRUE(::SystemTimeToTzSpecificLocalTime(nullptr, &utc, &systemLocal));
  FILETIME a, b;
  ASSERT_TRUE(SystemTimeToFileTime(&local, &a));
  ASSERT_TRUE(SystemTimeToFileTime(&systemLocal, &b));
  EXPECT_EQ(a.dwHighDateTime, b.dwHighDateTime);
  EXPECT_EQ(a.dwLowDateTime, b.dwLowDateTime);
  TIME_ZONE_INFORMATION zone{};
  EXPECT_FALSE(older_windows::SystemTimeToTzSpecificLocalTime(&zone, &utc, &local));
}

TEST(OlderWindows, TheNtLinesOwnFunctionsAnswerAsTheNineXStubsDo) {
  FILETIME t[4];
  DWORD value = 0, other = 0;
  BOOL flag = FALSE;
  HANDLE token = nullptr;
  LUID luid{};
  char name[64];
  DWORD size = sizeof name;
  // False, with the error of a function the system does not implement.
  auto fails = [](BOOL result) { return !result && GetLastError() == ERROR_CALL_NOT_IMPLEMENTED; };
  const struct {
    const char* what;
    bool fails;
  } calls[] = {
      {"GetProcessTimes",
       (SetLastError(0), fails(older_windows::GetProcessTimes(GetCurrentProcess(), &t[0], &t[1], &t[2], &t[3])))},
      {"GetThreadTimes",
       (SetLastError(0), fails(older_windows::GetThreadTimes(GetCurrentThread(), &t[0], &t[1], &t[2], &t[3])))},
      {"GetSystemTimeAdjustment",
       (SetLastError(0), fails(older_windows::GetSystemTimeAdjustment(&value, &other, &flag)))},
      {"GetHandleInformation",
       (SetLastError(0), fails(older_windows::GetHandleInformation(GetCurrentProcess(), &value)))},
      {"OpenProcessToken",
       (SetLastError(0), fails(older_windows::OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)))},
      {"GetTokenInformation",
       (SetLastError(0), fails(older_windows::GetTokenInformation(token, TokenPrivileges, nullptr, 0, &value)))},
      {"LookupPrivilegeNameA",
       (SetLastError(0), fails(older_windows::LookupPrivilegeNameA(nullptr, &luid, name, &size)))},
  };
  for (const auto& c : calls) EXPECT_TRUE(c.fails) << c.what;
  SetLastError(0);
  EXPECT_EQ(older_windows::AddVectoredExceptionHandler(1, nullptr), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_CALL_NOT_IMPLEMENTED));
  EXPECT_EQ(older_windows::RemoveVectoredExceptionHandler(nullptr), 0u);
  SetLastError(0);
  EXPECT_EQ(older_windows::OpenThread(THREAD_TERMINATE, FALSE, GetCurrentThreadId()), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_CALL_NOT_IMPLEMENTED));
}

DWORD WINAPI TryFromAnotherThread(LPVOID section) {
  if (!::TryEnterCriticalSection(static_cast<LPCRITICAL_SECTION>(section))) return 0;
  LeaveCriticalSection(static_cast<LPCRITICAL_SECTION>(section));
  return 1;
}

TEST(OlderWindows, OneProcessorAndATryThatWaits) {
  DWORD_PTR mine = 0, all = 0;
  EXPECT_TRUE(older_windows::GetProcessAffinityMask(GetCurrentProcess(), &mine, &all));
  EXPECT_EQ(mine, 1u);
  EXPECT_EQ(all, 1u);
  EXPECT_TRUE(older_windows::SetProcessAffinityMask(GetCurrentProcess(), 1));
  EXPECT_FALSE(older_windows::SetProcessAffinityMask(GetCurrentProcess(), 2));

  CRITICAL_SECTION section;
  InitializeCriticalSection(&section);
  ASSERT_TRUE(older_windows::TryEnterCriticalSection(&section));
  // Held by this thread: another thread's try fails.
  HANDLE other = CreateThread(nullptr, 0, &TryFromAnotherThread, &section, 0, nullptr);
  ASSERT_NE(other, nullptr);
  ASSERT_EQ(WaitForSingleObject(other, 60000), WAIT_OBJECT_0);
  DWORD code = 2;
  GetExitCodeThread(other, &code);
  CloseHandle(other);
  EXPECT_EQ(code, 0u);
  LeaveCriticalSection(&section);
  DeleteCriticalSection(&section);
}

}  // namespace
