#include "WinLocOnFly.h"

#include <windows.h>
// The tool-help declarations need <windows.h> first.
#include <tlhelp32.h>

#include <algorithm>
#include <vector>

#include "Forms.h"
#include "ScreenFormsHost.h"
#include "SysUtilsWin.h"

namespace {

using TSwitchToFileProc = BOOL(WINAPI*)(const char* path, TSwitchRecord* record);
using TBackToModuleResProc = void(WINAPI*)(HMODULE module);
using TEnumProcessModulesProc = BOOL(WINAPI*)(HANDLE process, HMODULE* modules, DWORD size, DWORD* needed);

// The process-status enumeration is asked for room for this many modules.
constexpr DWORD kMaxProcessModules = 1024;
constexpr DWORD kProcessQueryAndRead = PROCESS_QUERY_INFORMATION | PROCESS_VM_READ;  // 0x410

bool NtBeforeFive() {
  OSVERSIONINFOA version{};
  version.dwOSVersionInfoSize = sizeof version;
  if (!GetVersionExA(&version)) return false;
  return version.dwPlatformId == VER_PLATFORM_WIN32_NT && version.dwMajorVersion < 5;
}

}  // namespace

void TWinLocOnFlyPlatform::ShowErrorBox(const std::string& message, const std::string& caption) {
  HWND owner = nullptr;
  if (Application && Application->MainForm()) owner = Application->MainForm()->Handle();
  MessageBoxA(owner, message.c_str(), caption.c_str(), MB_OK);
}

bool TWinLocOnFlyPlatform::UsesProcessStatus() {
  return NtBeforeFive();
}

std::vector<ModuleHandle> TWinLocOnFlyPlatform::SnapshotModules() {
  std::vector<ModuleHandle> out;
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPMODULE, GetCurrentProcessId());
  if (snapshot == INVALID_HANDLE_VALUE) return out;
  MODULEENTRY32 entry{};
  entry.dwSize = sizeof entry;
  for (BOOL more = Module32First(snapshot, &entry); more; more = Module32Next(snapshot, &entry))
    out.push_back(reinterpret_cast<ModuleHandle>(entry.hModule));
  CloseHandle(snapshot);
  return out;
}

std::vector<ModuleHandle> TWinLocOnFlyPlatform::ProcessStatusModules() {
  std::vector<ModuleHandle> out;
  HMODULE psapi = LoadSystemLibrary("psapi.dll");
  if (!psapi) return out;
  auto enumModules =
      reinterpret_cast<TEnumProcessModulesProc>(reinterpret_cast<void*>(GetProcAddress(psapi, "EnumProcessModules")));
  HANDLE process = enumModules ? OpenProcess(kProcessQueryAndRead, FALSE, GetCurrentProcessId()) : nullptr;
  if (process) {
    std::vector<HMODULE> modules(kMaxProcessModules);
    DWORD needed = 0;
    if (enumModules(process, modules.data(), static_cast<DWORD>(modules.size() * sizeof(HMODULE)), &needed)) {
      const std::size_t count = std::min<std::size_t>(needed / sizeof(HMODULE), modules.size());
      for (std::size_t i = 0; i < count; ++i) out.push_back(reinterpret_cast<ModuleHandle>(modules[i]));
    }
    CloseHandle(process);
  }
  FreeLibrary(psapi);
  return out;
}

std::vector<ModuleHandle> TWinLocOnFlyPlatform::ProcessModules() {
  return UsesProcessStatus() ? ProcessStatusModules() : SnapshotModules();
}

bool TWinLocOnFlyPlatform::HasExport(ModuleHandle module, const char* name) {
  return GetProcAddress(reinterpret_cast<HMODULE>(module), name) != nullptr;
}

bool TWinLocOnFlyPlatform::SwitchToFile(ModuleHandle module, const std::string& path, TSwitchRecord& record) {
  auto proc = reinterpret_cast<TSwitchToFileProc>(
      reinterpret_cast<void*>(GetProcAddress(reinterpret_cast<HMODULE>(module), "SwitchToFile")));
  return proc && proc(path.c_str(), &record);
}

void TWinLocOnFlyPlatform::BackToModuleRes(ModuleHandle module) {
  auto proc = reinterpret_cast<TBackToModuleResProc>(
      reinterpret_cast<void*>(GetProcAddress(reinterpret_cast<HMODULE>(module), "BackToModuleRes")));
  if (proc) proc(reinterpret_cast<HMODULE>(module));
}

void InitWinLocOnFly() {
  static TWinLocOnFlyPlatform platform;
  SetLocOnFlyPlatform(&platform);
  InitLocOnFly();
  LocalizerOnFly()->Host = &ScreenForms();
}
