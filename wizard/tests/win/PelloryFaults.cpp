// PelloryFaults.exe: the program with a fault raised during its start-up, for
// the exit-code tests of the unhandled-exception filter. PELLORY_FAULT names
// the fault: "null" (a write to address 0), "div" (an integer division by
// zero), "stack" (a stack overflow) or "raise" (RaiseException 0xE0000123);
// PELLORY_FAULT_THREAD=worker raises it on a thread of its own;
// PELLORY_FAULT_WHEN=end raises it after every unit's shut-down (the
// library's among them) instead of during the start-up. Without a
// fault the program closes its form at once and ends 0 when every unit was
// shut down and the library saw its shut-down begin, else 0x55.
// PELLORY_FAULT=threads ends the start-up with 0x77 when every unit's
// initialization (the library's among them) left the process with the threads
// it had on entry, else 0x78 plus the number of threads added.
#include <windows.h>
// after windows.h
#include <tlhelp32.h>

#include <cstdlib>
#include <cstring>

#include "ExceptionLog.h"
#include "Forms.h"
#include "Pellory.h"
#include "Units.h"

namespace {

volatile int g_zero = 0;
volatile int g_hundred = 100;
volatile int* volatile g_nowhere = nullptr;
volatile bool g_stop = false;
int g_threadsOnEntry = 0;

int CountOwnThreads() {
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
  if (snapshot == INVALID_HANDLE_VALUE) return -1;
  int count = 0;
  THREADENTRY32 entry{};
  entry.dwSize = sizeof entry;
  for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry))
    if (entry.th32OwnerProcessID == GetCurrentProcessId()) ++count;
  CloseHandle(snapshot);
  return count;
}

__attribute__((noinline)) int Recurse(int depth) {
  volatile char frame[4096];
  frame[0] = static_cast<char>(depth);
  if (g_stop) return frame[0];
  return Recurse(depth + 1) + frame[0];
}

void RaiseFault(const char* fault) {
  if (std::strcmp(fault, "null") == 0) *g_nowhere = 1;
  if (std::strcmp(fault, "div") == 0) g_zero = g_hundred / g_zero;
  if (std::strcmp(fault, "stack") == 0) g_zero = Recurse(0);
  if (std::strcmp(fault, "raise") == 0) RaiseException(0xE0000123u, 0, 0, nullptr);
}

DWORD WINAPI FaultThread(void* fault) {
  RaiseFault(static_cast<const char*>(fault));
  return 0;
}

bool FaultAtEnd() {
  const char* when = std::getenv("PELLORY_FAULT_WHEN");
  return when && std::strcmp(when, "end") == 0;
}

void RaiseNamedFault() {
  const char* fault = std::getenv("PELLORY_FAULT");
  if (!fault || !*fault) return;
  if (std::strcmp(fault, "threads") == 0) {
    const int added = CountOwnThreads() - g_threadsOnEntry;
    ExitProcess(g_threadsOnEntry > 0 && added == 0 ? 0x77 : 0x78 + (added > 0 ? added : 0));
  }
  const char* where = std::getenv("PELLORY_FAULT_THREAD");
  if (where && std::strcmp(where, "worker") == 0) {
    HANDLE thread = CreateThread(nullptr, 0, FaultThread, const_cast<char*>(fault), 0, nullptr);
    if (thread) {
      WaitForSingleObject(thread, 10000);
      CloseHandle(thread);
    }
    ExitProcess(0x66);  // the fault did not end the process
  }
  RaiseFault(fault);
  ExitProcess(0x66);
}

void FaultAtStartup() {
  if (!FaultAtEnd()) RaiseNamedFault();
}

void CloseAtOnce(TCustomForm*) {
  Application->Terminate();
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  g_threadsOnEntry = CountOwnThreads();
  int code = RunPellory(FaultAtStartup, CloseAtOnce);
  if (FaultAtEnd()) RaiseNamedFault();
  if (code != 0) return code;
  const bool allShutDown = InitializedUnitCount() == 0 && VantorLogFlags().ShutdownBegun == 1 &&
                           VantorLogFlags().StartupRunning == 0 && VantorLogFlags().Initialized == 0;
  return allShutDown ? 0 : 0x55;
}
