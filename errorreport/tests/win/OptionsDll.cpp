// VantorLogDll.dll: a library with its own copy of the exception-reporting
// library, started and ended with the DLL. With a data block of its own it
// publishes its options for the other modules of the process, and forwards
// the exceptions it reports to the program's copy when the program has one.
#include <windows.h>

#include "ECoreWin.h"
#include "ExceptionLogCapture.h"
#include "ExceptionLogWin.h"

BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID) {
  try {
    if (reason == DLL_PROCESS_ATTACH) {
      InitECoreWin();
      InitExceptionLog();
    } else if (reason == DLL_PROCESS_DETACH) {
      DoneExceptionLog();
      DoneECoreWin();
    }
  } catch (...) {
    return reason == DLL_PROCESS_ATTACH ? FALSE : TRUE;
  }
  return TRUE;
}

// The DLL's choice of the main program module: 1 when it is the program that
// loaded it, 0 when none was chosen; and whether that module carries the library.
extern "C" __declspec(dllexport) int ProbeMainInstance() {
  HMODULE main = VantorMainInstance();
  return main == nullptr ? 0 : main == GetModuleHandleA(nullptr) ? 1 : 2;
}
extern "C" __declspec(dllexport) int ProbeMainModuleHasLibrary() {
  return VantorLogFlags().MainModuleHasLibrary;
}

HMODULE ThisDll() {
  HMODULE module = nullptr;
  GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                     reinterpret_cast<LPCSTR>(&ThisDll), &module);
  return module;
}

// Reports an exception through the DLL's own ExceptionManager: its answer.
extern "C" __declspec(dllexport) int ProbeForwardException() {
  TExceptionObjectRecord record = MakeExceptionObjectRecord(std::make_exception_ptr(EConvertError("from the DLL")), 0);
  return ExceptionManager(&record, nullptr, kModeServer, ThisDll());
}

// The DLL's own pipeline calls (the DLL's copy records them).
extern "C" __declspec(dllexport) int ProbeOwnCalls() {
  return static_cast<int>(ProcessExceptionCalls().size());
}

// Calls every export of the program: 1 when each gave its neutral answer
// (none of them may touch the program's locks and lists while it is dormant).
extern "C" __declspec(dllexport) int ProbeCallProgramExports() {
  HMODULE program = GetModuleHandleA(nullptr);
  auto find = [program](const char* name) { return reinterpret_cast<void*>(GetProcAddress(program, name)); };
  auto manager = reinterpret_cast<decltype(&ExceptionManager)>(find("ExceptionManager"));
  auto language = reinterpret_cast<decltype(&VantorLog_LastLunderException)>(find("VantorLog_LastLunderException"));
  auto raise = reinterpret_cast<decltype(&VantorLog_CallGeneralRaise)>(find("VantorLog_CallGeneralRaise"));
  auto object = reinterpret_cast<decltype(&VantorLog_CallExceptObject)>(find("VantorLog_CallExceptObject"));
  auto create = reinterpret_cast<decltype(&VantorLog_CallCreateThread)>(find("VantorLog_CallCreateThread"));
  auto resume = reinterpret_cast<decltype(&VantorLog_CallResumeThread)>(find("VantorLog_CallResumeThread"));
  auto exit = reinterpret_cast<decltype(&VantorLog_CallExitThread)>(find("VantorLog_CallExitThread"));
  if (!manager || !language || !raise || !object || !create || !resume || !exit) return 0;
  TExceptionObjectRecord record = MakeExceptionObjectRecord(std::make_exception_ptr(EConvertError("x")), 0);
  ULONG_PTR args[7] = {};
  EXCEPTION_RECORD er{};
  er.ExceptionCode = 0xC0000005u;
  TVantorThreadInfo info;
  bool neutral = manager(&record, nullptr, 0, ThisDll()) == 1 && language() == 0;
  raise(kLanguageRaiseCode, 1, 7, nullptr, args);
  neutral = neutral && object(&er, nullptr, 1) == nullptr;
  create(&info);
  resume(GetCurrentThread(), &info);
  exit();
  return neutral ? 1 : 0;
}

// A thread made, resumed and ended by the DLL: its record, its resumer and
// its end are forwarded to the program's copy when the program carries one.
namespace {
HANDLE g_thread = nullptr;
HANDLE g_release = nullptr;

DWORD WINAPI WaitThenExit(void*) {
  WaitForSingleObject(g_release, 10000);
  ExitThread(3);
}
}  // namespace

extern "C" __declspec(dllexport) int ProbeStartThread() {
  g_release = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  DWORD id = 0;
  g_thread = CreateThread(nullptr, 0, &WaitThenExit, nullptr, CREATE_SUSPENDED, &id);
  return g_thread ? static_cast<int>(id) : 0;
}

extern "C" __declspec(dllexport) int ProbeResumeThread() {
  return g_thread && ResumeThread(g_thread) == 1 ? 1 : 0;
}

extern "C" __declspec(dllexport) int ProbeEndThread() {
  SetEvent(g_release);
  DWORD code = 0;
  const bool ended = WaitForSingleObject(g_thread, 10000) == WAIT_OBJECT_0 && GetExitCodeThread(g_thread, &code);
  CloseHandle(g_thread);
  CloseHandle(g_release);
  return ended ? static_cast<int>(code) : -1;
}
