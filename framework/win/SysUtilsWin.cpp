#include "SysUtilsWin.h"

#include <string>

#include "Exceptions.h"
#include "SysUtils.h"
#include "Win32Platform.h"

void InitPlatformVersion() {
  OSVERSIONINFOA info{};
  info.dwOSVersionInfoSize = sizeof info;
  if (!::GetVersionExA(&info)) return;
  Win32Platform = static_cast<int>(info.dwPlatformId);
  Win32MajorVersion = static_cast<int>(info.dwMajorVersion);
  Win32MinorVersion = static_cast<int>(info.dwMinorVersion);
}

std::string SystemLibraryPath(const char* fileName) {
  char folder[MAX_PATH];
  const UINT n = ::GetSystemDirectoryA(folder, MAX_PATH);
  if (n == 0 || n >= MAX_PATH) return {};
  std::string path(folder, n);
  if (path.back() != '\\') path += '\\';
  return path + fileName;
}

HMODULE LoadSystemLibrary(const char* fileName) {
  const std::string path = SystemLibraryPath(fileName);
  return path.empty() ? nullptr : ::LoadLibraryA(path.c_str());
}

void RaiseOSError(DWORD code) {
  if (code == 0) throw EOSError("A call to an OS function failed", 0u);
  throw EOSError("System Error.  Code: " + std::to_string(code) + ".\n" + SysErrorMessage(code),
                 static_cast<unsigned>(code));
}

void RaiseLastOSError() {
  RaiseOSError(::GetLastError());
}
