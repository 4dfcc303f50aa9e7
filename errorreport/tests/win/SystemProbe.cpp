// VantorSystemProbe.exe: the system routines that end or inspect the whole
// process, for the system-probe script.
//   --restart MARKER   restarts itself (RestartApplication(true)); the second
//                      copy, which finds PELLORY_RESTARTED set, writes MARKER
//                      and ends 0; the first ends with exit code 1.
//   --stack-chain      scans its stack inside the innermost of three calls
//                      (32-bit build) and prints each listed address as the
//                      linked file places it ("entry=<hex>"), then "end".
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "ECallStack.h"
#include "ECoreWin.h"
#include "EHookWin.h"
#include "ESystemWin.h"
#include "ExceptionLogWin.h"

namespace {

#if defined(__i386__)
std::uintptr_t ThreadStackTop() {
  std::uintptr_t top = 0;
#if defined(__i386__)
  asm volatile("movl %%fs:4, %0" : "=r"(top));
#elif defined(__x86_64__)
  asm volatile("movq %%gs:8, %0" : "=r"(top));
#endif
  return top;
}

// The address as the file's preferred image base places it (what addr2line reads).
std::uintptr_t AsLinked(std::uint64_t address) {
  auto base = reinterpret_cast<std::uintptr_t>(GetModuleHandleA(nullptr));
  auto dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
  auto nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
  return static_cast<std::uintptr_t>(address) - base + static_cast<std::uintptr_t>(nt->OptionalHeader.ImageBase);
}

volatile int g_sink = 0;

__attribute__((noinline)) void ChainInner() {
  int marker = 0;
  TVantorStackList* list = New<TVantorStackList>();
  TStackScan scan;
  scan.StackStart = static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(&marker));
  scan.StackTop = static_cast<std::uint32_t>(ThreadStackTop());
  ScanStackForCalls(*list, ProcessMemory(), nullptr, scan);
  for (int i = 0; i < list->Count(); ++i) {
    const std::uint64_t a = list->Items(i)->Address;
    if (GetModuleBaseOfAddress(reinterpret_cast<void*>(static_cast<std::uintptr_t>(a))) == GetModuleHandleA(nullptr))
      std::printf("entry=%08lx\n", static_cast<unsigned long>(AsLinked(a)));
  }
  list->Free();
  g_sink = g_sink + marker;
}

__attribute__((noinline)) void ChainMiddle() {
  ChainInner();
  g_sink = g_sink + 1;
}

__attribute__((noinline)) void ChainOuter() {
  ChainMiddle();
  g_sink = g_sink + 2;
}
#endif

}  // namespace

int main(int argc, char** argv) {
  UseWin32CoreSystem();
  if (argc == 3 && std::strcmp(argv[1], "--restart") == 0) {
    if (std::getenv("PELLORY_RESTARTED")) {
      if (FILE* f = std::fopen(argv[2], "w")) {
        std::fputs("restarted\n", f);
        std::fclose(f);
      }
      return 0;
    }
    SetEnvironmentVariableA("PELLORY_RESTARTED", "1");
    RestartApplication(true);
  }
  if (argc == 2 && std::strcmp(argv[1], "--stack-chain") == 0) {
#if defined(__i386__)
    ChainOuter();
#endif
    std::printf("end\n");
    return 0;
  }
  std::printf("usage: VantorSystemProbe --restart MARKER | --stack-chain\n");
  return 2;
}
