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

void RaiseOSError(DWORD code) {
  if (code == 0) throw EOSError("A call to an OS function failed", 0u);
  throw EOSError("System Error.  Code: " + std::to_string(code) + ".\n" + SysErrorMessage(code),
                 static_cast<unsigned>(code));
}

void RaiseLastOSError() {
  RaiseOSError(::GetLastError());
}
