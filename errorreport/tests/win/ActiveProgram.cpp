// VantorLogProbe.exe: a program with the library's units and one probe unit
// last, for the start-up tests: it prints what the library decided (active or
// dormant, the options of its own module entry, whether the unit table was
// wrapped, the start-up-running and shut-down-begun flags at the probe's
// initialization and finalization), one "key=value" a line, ending in "end".
// With --write-options FILE it saves a set of changed options (SaveToFile) and
// ends; with --fault it faults on a worker thread; with --load-dll DLL it starts, loads the DLL and prints the options
// that the DLL published in its shared block and where the DLL's reports went.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <string>

#include "ECoreWin.h"
#include "ExceptionLogCapture.h"
#include "ExceptionLogWin.h"
#include "ProbeLines.h"
#include "Units.h"

namespace {

void ProbeInit() {
  Line("startup-running-in-last-init", std::to_string(VantorLogFlags().StartupRunning));
}

void ProbeFini() {
  Line("shutdown-begun-in-last-fini", std::to_string(VantorLogFlags().ShutdownBegun));
}

DWORD WINAPI WriteToAddressZero(void*) {
  *static_cast<volatile int*>(nullptr) = 1;
  return 0;
}

UnitEntry g_units[] = {
    {"ECore", InitECoreWin, DoneECoreWin},
    {"ExceptionLog", InitExceptionLog, DoneExceptionLog},
    {"Probe", ProbeInit, ProbeFini},
};

}  // namespace

int main(int argc, char** argv) {
  if (argc == 3 && std::strcmp(argv[1], "--write-options") == 0) {
    TOwned<TVantorModuleOptions> options(New<TVantorModuleOptions>(""));
    options->SetMailHost("mx.probe.example.com");
    options->SetFreezeSeconds(42);
    options->SetCustomText(3, "Probe error");
    options->SetBehaviourFlags(0x100);  // handled exceptions are reported
    options->SaveToFile(argv[2]);
    return 0;
  }
  if (argc == 2 && std::strcmp(argv[1], "--fault") == 0) {
    // A write to address 0 on a worker thread: the library's unhandled filter
    // ends the process with the fault's code.
    SetUnitTable(g_units, std::size(g_units));
    RunUnitInitializations();
    HANDLE worker = CreateThread(nullptr, 0, &WriteToAddressZero, nullptr, 0, nullptr);
    if (worker) WaitForSingleObject(worker, 20000);
    std::printf("the fault did not end the program\n");
    return 3;
  }
  if (argc == 3 && std::strcmp(argv[1], "--load-dll") == 0) {
    // The program starts its own copy first (active when it carries a block).
    SetUnitTable(g_units, std::size(g_units));
    RunUnitInitializations();
    UseWin32CoreSystem();
    HMODULE dll = LoadLibraryA(argv[2]);
    Line("dll-loaded", dll ? "1" : "0");
    using Probe = int (*)();
    auto mainInstance =
        dll ? reinterpret_cast<Probe>(reinterpret_cast<void*>(GetProcAddress(dll, "ProbeMainInstance"))) : nullptr;
    auto hasLibrary =
        dll ? reinterpret_cast<Probe>(reinterpret_cast<void*>(GetProcAddress(dll, "ProbeMainModuleHasLibrary")))
            : nullptr;
    Line("dll-main-instance", mainInstance ? std::to_string(mainInstance()) : "?");
    Line("dll-main-has-library", hasLibrary ? std::to_string(hasLibrary()) : "?");
    auto probe = [dll](const char* name) {
      auto fn = dll ? reinterpret_cast<Probe>(reinterpret_cast<void*>(GetProcAddress(dll, name))) : nullptr;
      return fn ? std::to_string(fn()) : std::string("?");
    };
    Line("dll-forward-answer", probe("ProbeForwardException"));
    Line("dll-own-calls", probe("ProbeOwnCalls"));
    Line("program-calls", std::to_string(ProcessExceptionCalls().size()));
    // A thread of the DLL in the program's threads list (when the program is active).
    auto listedRecord = [](DWORD id, TVantorThreadInfo& copy) {
      TVantorThreadsList* list = VantorThreadsList();
      if (!list) return false;
      list->LockForRead();
      int i = list->IndexOfThreadId(id);
      if (i >= 0) copy = *list->GetThreadInfo(i);
      list->UnlockRead();
      return i >= 0;
    };
    const DWORD dllThread = static_cast<DWORD>(std::strtoul(probe("ProbeStartThread").c_str(), nullptr, 10));
    TVantorThreadInfo record;
    Line("dll-thread-listed", listedRecord(dllThread, record) ? "1" : "0");
    Line("dll-thread-resumed", probe("ProbeResumeThread"));
    // The program's record names the resumer and is not marked forwarded: what it holds is its own.
    Line("dll-thread-resumer",
         listedRecord(dllThread, record) && record.ResumerThreadId == GetCurrentThreadId() && !record.Forwarded ? "1"
                                                                                                                : "0");
    Line("dll-thread-exit-code", probe("ProbeEndThread"));
    Line("dll-thread-gone", listedRecord(dllThread, record) ? "0" : "1");
    Line("dll-program-exports-neutral", probe("ProbeCallProgramExports"));
    TOwned<TVantorModuleOptions> published(New<TVantorModuleOptions>(""));
    published->AssignModuleHandle(reinterpret_cast<ModuleHandle>(dll));
    LoadPublishedModuleOptions(*published);
    Line("dll-mail-host", published->MailHost());
    Line("dll-block-name", SharedBlockName(GetCurrentProcessId(), dll));
    if (dll) FreeLibrary(dll);
    RunUnitFinalizations();
    std::printf("end\n");
    return 0;
  }
  SetUnitTable(g_units, std::size(g_units));
  RunUnitInitializations();
  Line("initialized", std::to_string(VantorLogFlags().Initialized));
  Line("hosted-by-ide", IsHostedByIde() ? "1" : "0");
  Line("startup-running-after", std::to_string(VantorLogFlags().StartupRunning));
  Line("fini-wrapped", g_units[2].fini != ProbeFini ? "1" : "0");
  Line("hooks-installed", CaptureHooksInstalled() ? "1" : "0");
  // A caught exception, and one caught again after a rethrow: each reported
  // once as handled when the options ask for it.
  try {
    throw EConvertError("caught by the probe");
  } catch (const EConvertError&) {
  }
  try {
    try {
      throw EConvertError("caught by the probe");  // the last raise
    } catch (const EConvertError&) {
      throw;
    }
  } catch (const EConvertError&) {
  }
  int handled = 0;
  for (const TProcessExceptionCall& call : ProcessExceptionCalls())
    if (call.Handled && call.Object && call.Object->Message == "caught by the probe") ++handled;
  Line("handled-reports", std::to_string(handled));
  // The saved instruction pointer of the latest throw, relative to the program's base.
#if defined(__i386__)
  std::uintptr_t eip = CurrentThreadBlock().SavedContext.Eip;
#else
  std::uintptr_t eip = CurrentThreadBlock().SavedContext.Rip;
#endif
  char rva[32];
  std::snprintf(
      rva, sizeof rva, "%llx",
      static_cast<unsigned long long>(eip ? eip - reinterpret_cast<std::uintptr_t>(GetModuleHandleA(nullptr)) : 0));
  Line("raise-rva", rva);
  try {
    TVantorModuleOptionsEx* options = CurrentVantorLogOptions();
    Line("mail-host", options->MailHost());
    Line("freeze-seconds", std::to_string(options->FreezeSeconds()));
    Line("text-3", options->RawCustomText(3));
    TVantorModuleInfo* entry =
        VantorModulesList()->FindModule(reinterpret_cast<ModuleHandle>(GetModuleHandleA(nullptr)));
    Line("data-version", std::to_string(entry ? entry->DataVersion : 0));
    Line("debug-data", entry && entry->DebugData ? entry->DebugData->DataString() : "");
    // The options this module published, read back through the shared block.
    TOwned<TVantorModuleOptions> published(New<TVantorModuleOptions>(""));
    published->AssignModuleHandle(reinterpret_cast<ModuleHandle>(GetModuleHandleA(nullptr)));
    options->SetMailSubject("published subject");
    LoadPublishedModuleOptions(*published);
    Line("published-subject", published->MailSubject());
  } catch (const Exception& e) {
    std::string message = e.Message;
    for (char& c : message)
      if (c == '\r' || c == '\n') c = ' ';
    Line("options-error", message);
  }
  RunUnitFinalizations();
  Line("initialized-after-shutdown", std::to_string(VantorLogFlags().Initialized));
  std::printf("end\n");
  return 0;
}
