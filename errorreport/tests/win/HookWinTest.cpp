// The hooking engine in a running program: an import of kernel32 patched
// and put back at the unit's shut-down, pointer slots, and (32-bit build)
// a code hook whose trampoline runs the original.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstring>

#include "ECore.h"
#include "ECoreWin.h"
#include "EHookWin.h"

namespace {

std::string ExeName() {
  char buf[MAX_PATH + 1];
  const DWORD n = GetModuleFileNameA(nullptr, buf, MAX_PATH);
  return std::string(buf, n);
}

DWORD WINAPI FakeTickCount() {
  return 424242;
}

// Each call reads the import slot again (within one function the compiler
// may keep the imported address it loaded once).
__attribute__((noinline)) DWORD TickCountThroughImport() {
  asm volatile("" ::: "memory");
  return GetTickCount();
}

TEST(ImportHooks, TheProgramsImportIsPatchedAndPutBack) {
  UseWin32CoreSystem();
  InitEHook();
  void* original = nullptr;
  ASSERT_TRUE(HookImportInModules({"", ExeName()}, "kernel32.dll", false, original,
                                  reinterpret_cast<void*>(&FakeTickCount), "GetTickCount"));
  EXPECT_EQ(original, reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("kernel32.dll"), "GetTickCount")));
  EXPECT_EQ(TickCountThroughImport(), 424242u);

  // A DLL that no listed module imports: false, and an error only without noError.
  ASSERT_TRUE(LoadLibraryA("psapi.dll"));
  void* other = nullptr;
  EXPECT_FALSE(HookImportInModules({ExeName()}, "psapi.dll", true, other, reinterpret_cast<void*>(&FakeTickCount),
                                   "EnumProcesses"));
  EXPECT_NE(other, nullptr);
  try {
    HookImportInModules({ExeName()}, "psapi.dll", false, other, reinterpret_cast<void*>(&FakeTickCount),
                        "EnumProcesses");
    ADD_FAILURE() << "no error";
  } catch (const EHookingError& e) {
    EXPECT_EQ(e.Message, "Cannot hook the procedure \"psapi.dll.EnumProcesses\".");
  }
  EXPECT_THROW(PatchImportInModule(GetModuleHandleA(nullptr), "kernel32.dll", nullptr, false, true, "X", nullptr),
               EProcNull);

  DoneEHook();
  EXPECT_NE(TickCountThroughImport(), 424242u);
}

void* g_table[3];
int g_a, g_b, g_c;

TEST(PointerSlots, HookedTwiceWithOneReplacementRecordedOnce) {
  UseWin32CoreSystem();
  g_table[0] = &g_a;
  g_table[1] = &g_b;
  EXPECT_EQ(HookPointerSlot(g_table, 1, &g_c), nullptr);  // no unit: nothing done
  EXPECT_EQ(g_table[1], &g_b);
  InitEHook();
  EXPECT_EQ(HookPointerSlot(g_table, 1, &g_c), &g_b);
  EXPECT_EQ(g_table[1], &g_c);
  EXPECT_EQ(HookPointerSlot(g_table, 1, &g_c), &g_b);  // the original again, nothing recorded
  EXPECT_TRUE(UnhookPointerSlot(g_table, 1));
  EXPECT_EQ(g_table[1], &g_b);
  EXPECT_FALSE(UnhookPointerSlot(g_table, 1));  // one record only
  // Shut-down writes the originals back.
  HookPointerSlot(g_table, 0, &g_c);
  DoneEHook();
  EXPECT_EQ(g_table[0], &g_a);
  EXPECT_FALSE(UnhookPointerSlot(g_table, 0));
}

TEST(CodeBytes, WritingRestoresTheProtection) {
  void* page = VirtualAlloc(nullptr, 4096, MEM_COMMIT | MEM_RESERVE, PAGE_READONLY);
  ASSERT_NE(page, nullptr);
  const std::uint8_t bytes[3] = {1, 2, 3};
  EXPECT_TRUE(WriteCodeBytes(page, bytes, 3));
  EXPECT_EQ(std::memcmp(page, bytes, 3), 0);
  MEMORY_BASIC_INFORMATION mbi{};
  VirtualQuery(page, &mbi, sizeof mbi);
  EXPECT_EQ(mbi.Protect, static_cast<DWORD>(PAGE_READONLY));
  VirtualFree(page, 0, MEM_RELEASE);
  // Memory that is not there: a failure, not a fault.
  void* reserved = VirtualAlloc(nullptr, 4096, MEM_RESERVE, PAGE_NOACCESS);
  EXPECT_FALSE(WriteCodeBytes(reserved, bytes, 3));
  EXPECT_FALSE(WritePointerSlot(static_cast<void**>(reserved), 0, nullptr));
  VirtualFree(reserved, 0, MEM_RELEASE);
}

#if defined(__i386__)
extern "C" int __attribute__((fastcall)) HookTarget(int x);
using TargetFn = int(__attribute__((fastcall)) *)(int);
TargetFn g_original = nullptr;

int __attribute__((fastcall)) Replacement(int x) {
  return 10 * g_original(x);
}

TEST(CodeHooks, AnEntryWithAShortConditionalJump) {
  UseWin32CoreSystem();
  InitEHook();
  volatile TargetFn target = &HookTarget;
  EXPECT_EQ(target(0), 1);
  EXPECT_EQ(target(7), 2);
  std::uint8_t before[8];
  std::memcpy(before, reinterpret_cast<void*>(&HookTarget), sizeof before);
  ASSERT_EQ(before[0], 0xE3);  // jecxz

  g_original = reinterpret_cast<TargetFn>(
      HookProcedureCode(reinterpret_cast<void*>(&HookTarget), reinterpret_cast<void*>(&Replacement), "HookTarget"));
  ASSERT_NE(g_original, nullptr);
  EXPECT_EQ(reinterpret_cast<std::uint8_t*>(&HookTarget)[0], 0xE9);
  EXPECT_EQ(target(0), 10);  // both branches of the moved jump
  EXPECT_EQ(target(7), 20);
  EXPECT_EQ(g_original(0), 1);
  // Hooking the entry again gives the same trampoline.
  EXPECT_EQ(
      HookProcedureCode(reinterpret_cast<void*>(&HookTarget), reinterpret_cast<void*>(&Replacement), "HookTarget"),
      reinterpret_cast<void*>(g_original));

  EXPECT_TRUE(UnhookProcedureCode(reinterpret_cast<void*>(&HookTarget)));
  EXPECT_EQ(std::memcmp(before, reinterpret_cast<void*>(&HookTarget), sizeof before), 0);
  EXPECT_EQ(target(0), 1);
  EXPECT_FALSE(UnhookProcedureCode(reinterpret_cast<void*>(&HookTarget)));
  EXPECT_THROW(HookProcedureCode(nullptr, reinterpret_cast<void*>(&Replacement), "Nothing"), EProcNull);
  DoneEHook();
}
#else
int Plain(int x) {
  return x + 1;
}

TEST(CodeHooks, RefusedInThe64BitBuild) {
  InitEHook();
  try {
    HookProcedureCode(reinterpret_cast<void*>(&Plain), reinterpret_cast<void*>(&Plain), "Plain");
    ADD_FAILURE() << "hooked";
  } catch (const EHookingError& e) {
    EXPECT_EQ(e.Message, "Cannot hook the procedure \"Plain\".");
  }
  DoneEHook();
}
#endif

}  // namespace
