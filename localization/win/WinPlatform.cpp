#include "WinPlatform.h"

#include <string>

#include "JWStrings.h"
#include "SysUtils.h"
#include "SysUtilsWin.h"

void InitPlatformInfo() {
  TPlatformInfo& info = PlatformInfo();
  info = TPlatformInfo();
  OSVERSIONINFOA version{};
  version.dwOSVersionInfoSize = sizeof version;
  if (!::GetVersionExA(&version)) return;
  info.platformId = version.dwPlatformId;
  info.majorVersion = version.dwMajorVersion;
  info.minorVersion = version.dwMinorVersion;
  info.buildNumber = version.dwBuildNumber;
  version.szCSDVersion[sizeof version.szCSDVersion - 1] = '\0';
  info.servicePack = version.szCSDVersion;
}

BOOL PsapiEnumProcessModules(HANDLE process, HMODULE* modules, DWORD size, DWORD* needed) {
  using TEnum = BOOL(WINAPI*)(HANDLE, HMODULE*, DWORD, LPDWORD);
  HMODULE library = LoadSystemLibrary("PSAPI.dll");
  if (reinterpret_cast<std::uintptr_t>(library) < 32) return FALSE;
  BOOL result = FALSE;
  auto entry = reinterpret_cast<TEnum>(reinterpret_cast<void*>(::GetProcAddress(library, "EnumProcessModules")));
  if (entry) result = entry(process, modules, size, needed);
  ::FreeLibrary(library);
  return result;
}

[[noreturn]] void RaiseSystemError(DWORD code) {
  if (code == 0) throw EOSError(LoadResString(SOSFunctionFailed), 0u);
  char* text = nullptr;
  DWORD n =
      ::FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                       nullptr, code, 0, reinterpret_cast<LPSTR>(&text), 0, nullptr);
  std::string systemText = n && text ? std::string(text, n) : std::string();
  if (text) ::LocalFree(text);
  throw EOSError(Format(LoadResString(SSystemErrorCode), static_cast<unsigned>(code), systemText),
                 static_cast<unsigned>(code));
}

[[noreturn]] void RaiseLastSystemError() {
  RaiseSystemError(::GetLastError());
}
