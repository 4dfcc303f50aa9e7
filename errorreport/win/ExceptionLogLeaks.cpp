#include "ExceptionLogLeaks.h"

#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>

#include "ECallStack.h"
#include "ECore.h"
#include "ECoreWin.h"
#include "EDebugWin.h"
#include "ELeaksWin.h"
#include "ELocation.h"
#include "EPipelineWin.h"
#include "ESystemWin.h"
#include "ExceptionLog.h"
#include "ExceptionLogCapture.h"
#include "ExceptionLogWin.h"
#include "SysUtils.h"

extern "C" IMAGE_DOS_HEADER __ImageBase;

namespace {

HMODULE ThisModule() {
  return reinterpret_cast<HMODULE>(&__ImageBase);
}

constexpr std::size_t kLeakTypeNameLength = 64;

// The multiple-free and overrun messages, kept off the heap (the leak report
// looks through it) and cut to their room.
constexpr std::size_t kFaultMessageRoom = 256;
std::mutex g_faultMessagesLock;
char g_multiFreeMessage[kFaultMessageRoom] = "Multi Free memory leak";
char g_overrunMessage[kFaultMessageRoom] = "Memory Overrun leak";

void KeepMessage(char (&target)[kFaultMessageRoom], const std::string& text) {
  if (text.empty()) return;
  const std::size_t n = std::min(text.size(), kFaultMessageRoom - 1);
  std::memcpy(target, text.data(), n);
  target[n] = 0;
}

// The leaks of the report being gathered.
TVantorStackList* g_leakStack = nullptr;
std::int64_t g_totalSize = 0;
std::int64_t g_totalCount = 0;
std::uintptr_t g_leakAddress = 0;
bool g_firstLeak = true;
bool g_restarted = false;
// The debug-data temporary file, named at start-up; kept off the heap, which
// the leak report looks through.
char g_optionsFile[MAX_PATH + 1] = {};

bool CatchingEnabled() {
  return VantorLogFlags().CatchingEnabled != 0;
}

// The overrun and multi-free raisers: the fault is reported where the block
// was released, and the program goes on (a release cannot pass an exception on).
void ReportLeakFault(const std::exception_ptr& error) {
  if (VantorLogFlags().Initialized != 1 || !CatchingEnabled()) return;
  try {
    const auto address = reinterpret_cast<std::uintptr_t>(__builtin_return_address(0));
    auto object = std::make_shared<const TExceptionObjectRecord>(MakeExceptionObjectRecord(error, address));
    ProcessException(object, address, true, false, 0, ThisModule(), kModeApplication, nullptr, nullptr, 0);
  } catch (...) {
  }
}

void RaiseMemoryOverrun(void*) {
  ReportLeakFault(std::make_exception_ptr(EMemoryOverrun(MemoryOverrunMessage())));
}

void RaiseMultiFree(void*) {
  ReportLeakFault(std::make_exception_ptr(EMultiFree(MultiFreeMessage())));
}

}  // namespace

void KeepLeakFaultMessages(const std::string& multiFree, const std::string& overrun) {
  std::lock_guard<std::mutex> guard(g_faultMessagesLock);
  KeepMessage(g_multiFreeMessage, multiFree);
  KeepMessage(g_overrunMessage, overrun);
}

std::string MultiFreeMessage() {
  std::lock_guard<std::mutex> guard(g_faultMessagesLock);
  return g_multiFreeMessage;
}

std::string MemoryOverrunMessage() {
  std::lock_guard<std::mutex> guard(g_faultMessagesLock);
  return g_overrunMessage;
}

namespace {

// Restart: the library's state again, after its shut-down, for the report.
void LeakModeRestart() {
  g_totalSize = g_totalCount = 0;
  g_leakAddress = 0;
  g_firstLeak = true;
  if (!CatchingEnabled()) return;
  try {
    InitECoreWin();
    InitEDebug();
    g_restarted = RestartLibraryForLeaks();
    // The options as the program left them.
    TVantorModuleInfo* entry = GetModuleEntry(ThisModule());
    if (g_restarted && entry && entry->Options && g_optionsFile[0] &&
        GetFileAttributesA(g_optionsFile) != INVALID_FILE_ATTRIBUTES)
      entry->Options->LoadFromFile(g_optionsFile);
    g_leakStack = New<TVantorStackList>();
  } catch (...) {
    ReportInternalFailure("Internal_ResetLeaks", std::current_exception(), IsDebuggerAttached());
  }
}

// Add leak: the leak's call addresses named; kept only when the first named
// entry has a line.
void LeakModeAddLeak(const std::string& typeName, std::int64_t size, int count, const std::uintptr_t* addresses) {
  if (!CatchingEnabled() || !g_leakStack) return;
  try {
    std::vector<TVLLocationInfo*> kept;
    for (int i = 0; i < kLeakStackEntries && addresses[i]; ++i) {
      auto* entry = new TVLLocationInfo();
      LocateAddress(addresses[i], static_cast<std::int32_t>(GetCurrentThreadId()), *entry, 1, kept.empty() ? 1 : 0);
      if (entry->Kind < 2 || entry->Kind > 4) {
        delete entry;
        continue;
      }
      kept.push_back(entry);
    }
    if (kept.empty() || kept.front()->Kind != 4) {
      for (TVLLocationInfo* entry : kept) delete entry;
      return;
    }
    const std::string name = typeName.substr(0, kLeakTypeNameLength);
    for (TVLLocationInfo* entry : kept) {
      entry->LeakEntry = 1;
      entry->LeakType = name;
      entry->LeakSize = size;
      entry->LeakCount = count;
      g_leakStack->AddEntry(entry);
    }
    g_totalSize += size;
    g_totalCount += count;
    // The report's address: the first leak's, while every leak shares it.
    if (g_firstLeak)
      g_leakAddress = addresses[0];
    else if (g_leakAddress != addresses[0])
      g_leakAddress = 0;
    g_firstLeak = false;
  } catch (...) {
    ReportInternalFailure("Internal_AddLeak", std::current_exception(), IsDebuggerAttached());
  }
}

// Report leaks: one EMemoryLeak with the leaks as its call stack; then the
// library is shut down again.
void LeakModeReportLeaks() {
  if (CatchingEnabled() && g_totalSize > 0 && g_leakStack && g_leakStack->Count() > 0) {
    try {
      VantorLogFlags().LeakReportRunning = 1;
      TVantorModuleOptionsEx* options = CurrentVantorLogOptions();
      options->SetLogFlags(static_cast<std::uint8_t>(options->LogFlags() & ~0x20));
      // "%s: %s=%d - %s=%d"
      const std::string message = options->GetCustomText(105) + ": " + options->GetCustomText(108) + "=" +
                                  std::to_string(g_totalSize) + " - " + options->GetCustomText(109) + "=" +
                                  std::to_string(g_totalCount);
      auto object = std::make_shared<const TExceptionObjectRecord>(
          MakeExceptionObjectRecord(std::make_exception_ptr(EMemoryLeak(message)), g_leakAddress));
      ProcessExceptionEx(object, g_leakAddress, true, g_leakStack, false, 0, ThisModule(), kModeApplication, nullptr,
                         nullptr, 0, 0);
    } catch (...) {
      ReportInternalFailure("Internal_ShowLeaks", std::current_exception(), IsDebuggerAttached());
    }
    VantorLogFlags().LeakReportRunning = 0;
  }
  FreeAndNil(g_leakStack);
  try {
    if (g_restarted) EndLibraryAfterLeaks();
    g_restarted = false;
    DoneEDebug();
    DoneECoreWin();
  } catch (...) {
    MessageBoxA(nullptr, "Error in Internal_ShowLeaks Finalization.", "Error", 0x242030);
  }
}

// Clean-up: the debug-data temporary file goes.
void LeakModeCleanUp() {
  if (g_optionsFile[0]) DeleteFileA(g_optionsFile);
}

}  // namespace

std::string DebugDataTempFilePath() {
  char name[32];
  std::snprintf(name, sizeof name, "%08lX%08lX.bin", static_cast<unsigned long>(GetCurrentProcessId()),
                static_cast<unsigned long>(reinterpret_cast<std::uintptr_t>(ThisModule())));
  return GetTempFolderPath() + name;
}

void SaveOptionsForLeakReport(TVantorModulesList* modules) {
  if (!IsLeakCatcherActive() || !modules || !g_optionsFile[0]) return;
  TVantorModuleInfo* entry = modules->FindModule(reinterpret_cast<ModuleHandle>(ThisModule()));
  if (entry && entry->Options) entry->Options->SaveToFile(g_optionsFile);
}

void InstallLeakMode() {
  TLeakCatcher* catcher = ProcessLeakCatcher();
  if (!catcher) return;
  TLeakHandlers& h = catcher->Handlers();
  h.Overrun = &RaiseMemoryOverrun;
  h.MultiFree = &RaiseMultiFree;
  h.LeaksBegin = &LeakModeRestart;
  h.Leak = &LeakModeAddLeak;
  h.LeaksEnd = &LeakModeReportLeaks;
  h.EndOfRun = &LeakModeCleanUp;
  const std::string path = DebugDataTempFilePath();
  if (path.size() < sizeof g_optionsFile) std::memcpy(g_optionsFile, path.c_str(), path.size() + 1);
}
