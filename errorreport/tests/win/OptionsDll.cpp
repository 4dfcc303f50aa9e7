// VantorLogDll.dll: a library with its own copy of the exception-reporting
// library, started and ended with the DLL. With a data block of its own it
// publishes its options for the other modules of the process.
#include <windows.h>

#include "ECoreWin.h"
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
