// GetTickCount64 for the whole program, Windows XP included: the thread
// library linked in calls it through its import slot, and Windows before Vista
// has no such function, so its loader would refuse to start the program. The
// slot is defined here instead of being imported: its first call takes the
// system's function where kernel32 has one, and otherwise counts on from
// GetTickCount.
#include <windows.h>

#include <atomic>
#include <cstdint>

#include "TickCount64.h"

namespace {

using TickCount64Function = ULONGLONG(WINAPI*)();

std::atomic<std::uint64_t> g_kept{0};

ULONGLONG WINAPI TickCount64FromTickCount() {
  return ExtendTickCount(g_kept, GetTickCount());
}

ULONGLONG WINAPI FirstTickCount64();

}  // namespace

// The import slot by its linker name (32-bit names carry the stdcall decoration).
#if defined(__i386__)
#define PELLORY_TICKCOUNT64_SLOT "__imp__GetTickCount64@0"
#else
#define PELLORY_TICKCOUNT64_SLOT "__imp_GetTickCount64"
#endif
extern "C" {
[[gnu::used]] TickCount64Function g_tickCount64Slot __asm__(PELLORY_TICKCOUNT64_SLOT) = FirstTickCount64;
}

namespace {

ULONGLONG WINAPI FirstTickCount64() {
  TickCount64Function f = nullptr;
  if (HMODULE kernel = GetModuleHandleW(L"kernel32.dll"))
    f = reinterpret_cast<TickCount64Function>(reinterpret_cast<void*>(GetProcAddress(kernel, "GetTickCount64")));
  if (!f) f = TickCount64FromTickCount;
  // A pointer-sized store: threads that race here all store the same function.
  __atomic_store_n(&g_tickCount64Slot, f, __ATOMIC_RELEASE);
  return f();
}

}  // namespace
