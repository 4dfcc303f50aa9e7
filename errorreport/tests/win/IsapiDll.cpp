// A server extension with its own copy of the exception-reporting library
// (and its block): its request entry reports an exception, whose error page
// goes back through the request's control block.
#include <windows.h>

#include <httpext.h>

#include <cstdio>
#include <memory>

#include "ECore.h"
#include "ECoreWin.h"
#include "EHookWin.h"
#include "ExceptionLogCapture.h"
#include "ExceptionLogWin.h"

namespace {

std::exception_ptr Raised() {
  try {
    throw EConvertError("Extension <failure>");
  } catch (...) {
    return std::current_exception();
  }
}

HMODULE OwnModule() {
  HMODULE module = nullptr;
  GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                     reinterpret_cast<LPCSTR>(&OwnModule), &module);
  return module;
}

}  // namespace

BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID) {
  try {
    if (reason == DLL_PROCESS_ATTACH) {
      InitEHook();
      InitECoreWin();
      InitExceptionLog();
    } else if (reason == DLL_PROCESS_DETACH) {
      DoneExceptionLog();
      DoneECoreWin();
      DoneEHook();
    }
  } catch (...) {
    return reason == DLL_PROCESS_ATTACH ? FALSE : TRUE;
  }
  return TRUE;
}

extern "C" __declspec(dllexport) BOOL WINAPI GetExtensionVersion(HSE_VERSION_INFO* info) {
  if (info) info->dwExtensionVersion = HSE_VERSION;
  return TRUE;
}

extern "C" __declspec(dllexport) DWORD WINAPI HttpExtensionProc(EXTENSION_CONTROL_BLOCK*) {
  try {
    TVantorModuleOptionsEx* options = CurrentVantorLogOptions();
    options->SetDialogKind(1);
    options->SetWriteLogFile(false);
    options->SetMailMode(0);
    options->SetWebMode(0);
    options->SetSendFlags(static_cast<std::uint16_t>(options->SendFlags() & ~0x10));
    const std::uintptr_t address = reinterpret_cast<std::uintptr_t>(&HttpExtensionProc);
    ExceptionManagerCall(std::make_shared<const TExceptionObjectRecord>(MakeExceptionObjectRecord(Raised(), address)),
                         address, kModeServer, OwnModule());
    std::printf("extension-active=%d\nextension-web=%d\nextension-warning=%s\n", int(VantorLogFlags().Initialized),
                int(IsWebApp()), LastLibraryErrorMessage().c_str());
    std::fflush(stdout);
  } catch (...) {
    return HSE_STATUS_ERROR;
  }
  return HSE_STATUS_SUCCESS;
}
