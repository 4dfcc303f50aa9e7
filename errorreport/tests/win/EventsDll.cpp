// VantorLogEvents.dll: a library with its own copy of the exception-reporting
// library (its block is appended by the test). Its exception-notify callback
// notes the library's file name in the file named by PIPELINE_NOTES, and its
// password handler answers a 300-character password.
#include <windows.h>

#include <cstdlib>
#include <string>

#include "ECoreWin.h"
#include "EEvents.h"
#include "ExceptionLogWin.h"

namespace {

std::string OwnName() {
  HMODULE module = nullptr;
  GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                     reinterpret_cast<LPCSTR>(&OwnName), &module);
  char buffer[MAX_PATH + 1] = {};
  GetModuleFileNameA(module, buffer, MAX_PATH);
  std::string name = buffer;
  return name.substr(name.find_last_of("\\/") + 1);
}

void Note(const std::string& line) {
  const char* path = std::getenv("PIPELINE_NOTES");
  if (!path) return;
  HANDLE f = CreateFileA(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
  if (f == INVALID_HANDLE_VALUE) return;
  const std::string text = line + "\n";
  DWORD written = 0;
  WriteFile(f, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
  CloseHandle(f);
}

void DllNotify(const TVantorExceptionRecord& record, bool&) {
  Note("dll-callback " + OwnName() + " msg=" + record.Text);
}

void DllPassword(const TVantorExceptionRecord&, std::string& password) {
  password = std::string(300, 'k');
}

}  // namespace

BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID) {
  try {
    if (reason == DLL_PROCESS_ATTACH) {
      InitECoreWin();
      InitExceptionLog();
      VantorLogCallbacks().ExceptionNotify = &DllNotify;
      VantorLogCallbacks().PasswordRequest = &DllPassword;
    } else if (reason == DLL_PROCESS_DETACH) {
      DoneExceptionLog();
      DoneECoreWin();
    }
  } catch (...) {
    return reason == DLL_PROCESS_ATTACH ? FALSE : TRUE;
  }
  return TRUE;
}

// The code at whose address the program reports "an exception of this library".
extern "C" __declspec(dllexport) int DllFunction() {
  return 42;
}
