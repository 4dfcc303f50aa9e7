// An active program (an RCDATA block) whose reports take their call stacks
// from copies of a stack: the copy a raise takes, and the copy the hang
// detector takes of the main thread while it stands still. It prints
// "key=value" lines and ends with "end". Modes:
//   --handled-callers   a handled exception raised three calls deep, the stack
//                       below the catch clause written over before it ends:
//                       "entry=RVA" for each entry of the report's call stack
//   --freeze-allocating the main thread allocates and frees in a tight loop
//                       while another thread reports it frozen again and again
#include <windows.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "ECoreWin.h"
#include "EDebugWin.h"
#include "EFreezeWin.h"
#include "EPipelineWin.h"
#include "EReportBuilderWin.h"
#include "ExceptionLogCapture.h"
#include "ExceptionLogWin.h"
#include "ProbeLines.h"
#include "SysUtils.h"
#include "Units.h"

extern "C" IMAGE_DOS_HEADER __ImageBase;

namespace {

std::uintptr_t ImageBase() {
  return reinterpret_cast<std::uintptr_t>(&__ImageBase);
}

std::string Hex(std::uint64_t value) {
  char text[32];
  std::snprintf(text, sizeof text, "%llX", static_cast<unsigned long long>(value));
  return text;
}

// --- A handled exception three calls deep ----------------------------------------------------------
std::string g_entries;  // the faulting thread's entries of the last report, one "entry=RVA" line each

std::string RecordCallStack(TReportRun& run) {
  g_entries.clear();
  if (run.CallStack)
    for (int i = 0; i < run.CallStack->Count(); ++i) {
      const TVLLocationInfo* e = run.CallStack->Items(i);
      if (e->Kind != 0 && e->FaultingThread && e->Address >= ImageBase())
        g_entries += "entry=" + Hex(e->Address - ImageBase()) + "\n";
    }
  return BuildRunReportText(run);
}

// Each call is followed by a store: a call right before the epilogue would
// leave its return address on the epilogue, where the 64-bit unwinder takes
// the frame as already left and never asks its catch clause.
volatile int g_depth = 0;

[[gnu::noinline]] void RaiseThird(int depth) {
  if (depth >= 0) throw EConvertError("raised three calls deep");
}
[[gnu::noinline]] void CallSecond(int depth) {
  RaiseThird(depth + 1);
  g_depth = depth;
}
[[gnu::noinline]] void CallFirst(int depth) {
  CallSecond(depth + 1);
  g_depth = depth;
}

// Writes over the stack the raise used, as the catch clause's own calls do.
[[gnu::noinline]] void OverwriteStack() {
  volatile std::uint8_t area[32768];
  for (std::size_t i = 0; i < sizeof area; ++i) area[i] = 0;
}

[[gnu::noinline]] void CatchHandled() {
  try {
    CallFirst(0);
    g_depth = -1;
  } catch (const EConvertError&) {
    OverwriteStack();
  }
}

void HandledCallers() {
  TVantorModuleOptionsEx* options = CurrentVantorLogOptions();
  options->SetBehaviourFlags(static_cast<std::uint16_t>(options->BehaviourFlags() | 0x100));
  ReportSteps().BuildReportText = &RecordCallStack;
  std::uintptr_t limit = 0, top = 0;
  CurrentStackBounds(limit, top);
  Line("stack-fits-32", (static_cast<std::uint64_t>(top) >> 16 >> 16) == 0 ? "1" : "0");
  Line("raise", Hex(reinterpret_cast<std::uintptr_t>(&RaiseThird) - ImageBase()));
  CatchHandled();
  std::printf("%s", g_entries.c_str());
  Line("handled-reports", std::to_string(ReportedErrorsCount()));
}

// --- Freeze reports of a main thread inside the heap -----------------------------------------------
std::atomic<int> g_freezeReports{0};
std::atomic<bool> g_freezesDone{false};
constexpr int kFreezeReports = 40;

DWORD WINAPI ReportFreezes(void*) {
  for (int i = 0; i < kFreezeReports; ++i) {
    ReportFreeze();
    ++g_freezeReports;
  }
  g_freezesDone = true;
  return 0;
}

// Blocks of many sizes, the large ones past the heap's small-block caches,
// so that the thread is stopped inside the heap's locked paths again and
// again; until the reports are done. The number of allocations.
unsigned long long AllocateUntilDone(std::uint32_t seed) {
  unsigned long long allocations = 0;
  void* kept[16] = {};
  while (!g_freezesDone.load()) {
    seed = seed * 1103515245u + 12345u;
    const std::size_t size = (seed >> 8) % 4 == 0 ? 16 + (seed >> 12) % 200 : 20000 + (seed >> 12) % 80000;
    void*& slot = kept[(seed >> 4) % 16];
    std::free(slot);
    slot = std::malloc(size);
    if (slot) static_cast<volatile char*>(slot)[0] = 1;
    ++allocations;
  }
  for (void* p : kept) std::free(p);
  return allocations;
}

std::atomic<unsigned long long> g_workerAllocations{0};
DWORD WINAPI AllocatingWorker(void*) {
  g_workerAllocations = AllocateUntilDone(777);
  return 0;
}

// The main thread and a worker allocate; every report stops the main thread
// to copy its stack, and freezes the worker (BehaviourFlags 0x04).
void FreezeAllocating() {
  TVantorModuleOptionsEx* options = CurrentVantorLogOptions();
  options->SetBehaviourFlags(static_cast<std::uint16_t>(options->BehaviourFlags() | 0x05));
  options->SetCrashAction(0);  // so many reports in a minute would otherwise end the program
  HANDLE worker = CreateThread(nullptr, 0, &AllocatingWorker, nullptr, 0, nullptr);
  HANDLE reporter = CreateThread(nullptr, 0, &ReportFreezes, nullptr, 0, nullptr);
  Line("threads", worker && reporter ? "1" : "0");
  if (!worker || !reporter) return;
  const unsigned long long allocations = AllocateUntilDone(12345);
  WaitForSingleObject(reporter, INFINITE);
  WaitForSingleObject(worker, INFINITE);
  CloseHandle(reporter);
  CloseHandle(worker);
  Line("freeze-reports", std::to_string(g_freezeReports.load()));
  Line("reported", std::to_string(ReportedErrorsCount()));
  Line("allocating", allocations > 0 && g_workerAllocations.load() > 0 ? "1" : "0");
}

UnitEntry g_units[] = {
    {"ECore", InitECoreWin, DoneECoreWin},
    {"EDebug", InitEDebug, DoneEDebug},
    {"ExceptionLog", InitExceptionLog, DoneExceptionLog},
};

}  // namespace

int main(int argc, char** argv) {
  if (!StartUnits(g_units)) return 2;
  TVantorModuleOptionsEx* options = CurrentVantorLogOptions();
  options->SetDialogKind(0);
  options->SetWriteLogFile(false);
  const std::string mode = argc >= 2 ? argv[1] : "";
  if (mode == "--handled-callers")
    HandledCallers();
  else if (mode == "--freeze-allocating")
    FreezeAllocating();
  RunUnitFinalizations();
  std::printf("end\n");
  std::fflush(stdout);
  return 0;
}
