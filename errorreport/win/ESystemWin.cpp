#include "ESystemWin.h"

#include <tlhelp32.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "ECoreWin.h"
#include "ExceptionLogWin.h"
#include "SysUtils.h"

extern "C" IMAGE_DOS_HEADER __ImageBase;

FW_IMPLEMENT_CLASS(THModuleStream)

namespace {

std::vector<HWND> g_windowSnapshot;
TVantorProcessesList* g_processes = nullptr;
bool g_refreshingModules = false;

std::string ClassNameOf(HWND window) {
  char buf[256];
  const int n = GetClassNameA(window, buf, sizeof buf);
  return n > 0 ? std::string(buf, static_cast<std::size_t>(n)) : std::string();
}

bool IsToolWindow(HWND window) {
  return (GetWindowLongPtrA(window, GWL_EXSTYLE) & WS_EX_TOOLWINDOW) != 0;
}

bool IsMainWindowCandidate(HWND window) {
  if (!IsWindowVisible(window)) return false;
  RECT r;
  if (!GetWindowRect(window, &r) || IsRectEmpty(&r)) return false;
  HWND desktop = GetDesktopWindow();
  HWND owner = GetWindow(window, GW_OWNER);
  // One owner that is a tool window (not the framework's hidden window, not the desktop) is skipped.
  if (owner && owner != desktop && IsToolWindow(owner) && ClassNameOf(owner) != "TApplication")
    owner = GetWindow(owner, GW_OWNER);
  if (owner && owner != desktop && ClassNameOf(owner) != "TApplication") return false;
  const LONG_PTR ex = GetWindowLongPtrA(window, GWL_EXSTYLE);
  if ((ex & WS_EX_TOOLWINDOW) && !(ex & WS_EX_APPWINDOW)) return false;
  return true;
}

template <class F>
struct EnumContext {
  DWORD pid;
  F* f;
};

template <class F>
BOOL CALLBACK EnumTopWindow(HWND w, LPARAM p) {
  auto* c = reinterpret_cast<EnumContext<F>*>(p);
  DWORD pid = 0;
  GetWindowThreadProcessId(w, &pid);
  if (pid != c->pid) return TRUE;
  return (*c->f)(w) ? TRUE : FALSE;
}

// Calls f for each top-level window of the process until it returns false.
template <class F>
void ForEachTopWindowOf(DWORD processId, F f) {
  EnumContext<F> ctx{processId, &f};
  EnumWindows(EnumTopWindow<F>, reinterpret_cast<LPARAM>(&ctx));
}

template <class Fn>
Fn LookUp(HMODULE module, const char* name) {
  return module ? reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(module, name))) : nullptr;
}

std::string ModuleFileNameOf(HMODULE module) {
  char buf[MAX_PATH + 1];
  const DWORD n = GetModuleFileNameA(module, buf, MAX_PATH);
  return std::string(buf, n);
}

}  // namespace

// --- Windows ------------------------------------------------------------------------------------------
HWND FindProcessMainWindow(DWORD processId) {
  HWND found = nullptr;
  ForEachTopWindowOf(processId, [&](HWND w) {
    if (!IsMainWindowCandidate(w)) return true;
    found = w;
    return false;
  });
  return found;
}

bool IsIdeProcess(DWORD processId) {
  if (processId == 0) return false;
  bool found = false;
  ForEachTopWindowOf(processId, [&](HWND w) {
    if (ClassNameOf(w) != kIdeMainWindowClass) return true;
    found = true;
    return false;
  });
  return found;
}

bool GetProcessWindowsBounds(DWORD processId, RECT& bounds) {
  bool any = false;
  RECT all{};
  ForEachTopWindowOf(processId, [&](HWND w) {
    RECT r;
    if (IsWindowVisible(w) && GetWindowRect(w, &r) && r.right - r.left > 0) {
      if (!any)
        all = r;
      else
        UnionRect(&all, &all, &r);
      any = true;
    }
    return true;
  });
  bounds = any ? all : RECT{-1, -1, -1, -1};
  return any;
}

void SnapshotProcessWindows() {
  g_windowSnapshot.clear();
  ForEachTopWindowOf(GetCurrentProcessId(), [](HWND w) {
    g_windowSnapshot.push_back(w);
    return true;
  });
}

bool IsOwnProcessWindow(HWND window) {
  DWORD pid = 0;
  GetWindowThreadProcessId(window, &pid);
  return pid == GetCurrentProcessId();
}

bool IsWindowNotInSnapshot(HWND window) {
  return std::find(g_windowSnapshot.begin(), g_windowSnapshot.end(), window) == g_windowSnapshot.end();
}

namespace {
using MonitorFromPointFn = HMONITOR(WINAPI*)(POINT, DWORD);
using MonitorFromWindowFn = HMONITOR(WINAPI*)(HWND, DWORD);
using GetMonitorInfoFn = BOOL(WINAPI*)(HMONITOR, MONITORINFO*);
}  // namespace

bool SpanMonitorsOfRect(RECT& rect) {
  HMODULE user = GetModuleHandleA("user32.dll");
  auto info = LookUp<GetMonitorInfoFn>(user, "GetMonitorInfoA");
  auto fromPoint = LookUp<MonitorFromPointFn>(user, "MonitorFromPoint");
  if (!info || !fromPoint) return false;
  MONITORINFO a{}, b{};
  a.cbSize = b.cbSize = sizeof(MONITORINFO);
  if (!info(fromPoint(POINT{rect.left, rect.top}, MONITOR_DEFAULTTONEAREST), &a) ||
      !info(fromPoint(POINT{rect.right, rect.bottom}, MONITOR_DEFAULTTONEAREST), &b))
    return false;
  UnionRect(&rect, &a.rcMonitor, &b.rcMonitor);
  return true;
}

RECT GetWindowMonitorWorkArea(HWND window) {
  HMODULE user = GetModuleHandleA("user32.dll");
  auto info = LookUp<GetMonitorInfoFn>(user, "GetMonitorInfoA");
  auto fromWindow = LookUp<MonitorFromWindowFn>(user, "MonitorFromWindow");
  RECT area{};
  if (info && fromWindow) {
    MONITORINFO mi{};
    mi.cbSize = sizeof mi;
    if (info(fromWindow(window, MONITOR_DEFAULTTONEAREST), &mi)) return mi.rcWork;
  }
  SystemParametersInfoA(SPI_GETWORKAREA, 0, &area, 0);
  return area;
}

RECT GetForegroundMonitorWorkArea() {
  HWND w = GetForegroundWindow();
  return GetWindowMonitorWorkArea(w ? w : GetDesktopWindow());
}

// --- Clipboard and process ----------------------------------------------------------------------------
void CopyTextToClipboard(const std::string& text) {
  if (text.empty()) return;
  if (!OpenClipboard(nullptr)) return;
  HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE | GMEM_DDESHARE, text.size() + 1);
  if (memory) {
    if (void* p = GlobalLock(memory)) {
      std::memcpy(p, text.c_str(), text.size() + 1);
      GlobalUnlock(memory);
      EmptyClipboard();
      if (!SetClipboardData(CF_TEXT, memory)) GlobalFree(memory);
    } else {
      GlobalFree(memory);
    }
  }
  CloseClipboard();
}

void RestartApplication(bool restart) {
  if (restart) {
    STARTUPINFOA si{};
    si.cb = sizeof si;
    GetStartupInfoA(&si);
    PROCESS_INFORMATION pi{};
    std::string commandLine = GetCommandLineA();
    const std::string folder = StartupDirectory();
    if (CreateProcessA(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0x220, nullptr,
                       folder.empty() ? nullptr : folder.c_str(), &si, &pi)) {
      CloseHandle(pi.hThread);
      CloseHandle(pi.hProcess);
    }
  }
  TerminateProcess(GetCurrentProcess(), 1);
  ExitProcess(1);
}

DWORD GetParentProcessId() {
  HANDLE snap = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  if (snap == INVALID_HANDLE_VALUE) return 0;
  PROCESSENTRY32 entry{};
  entry.dwSize = sizeof entry;
  DWORD parent = 0;
  const DWORD self = GetCurrentProcessId();
  for (BOOL ok = Process32First(snap, &entry); ok; ok = Process32Next(snap, &entry)) {
    if (entry.th32ProcessID == self) {
      parent = entry.th32ParentProcessID;
      break;
    }
  }
  CloseHandle(snap);
  return parent;
}

// --- Modules ------------------------------------------------------------------------------------------
THModuleStream::THModuleStream(const void* address) : TReadOnlyMemoryStream(address, 0x7FFFFFFF) {}

std::int64_t THModuleStream::Read(void* buffer, std::int64_t count) {
  if (count <= 0) return 0;
  const std::int64_t left = Size() - static_cast<std::int64_t>(pos_);
  if (count > left) return 0;
  const std::uint8_t* from = data_ + pos_;
  if (!IsReadableMemory(from, static_cast<std::size_t>(count))) return 0;
  std::memcpy(buffer, from, static_cast<std::size_t>(count));
  pos_ += static_cast<std::size_t>(count);
  return count;
}

HMODULE GetModuleBaseOfAddress(const void* address) {
  MEMORY_BASIC_INFORMATION mbi{};
  if (VirtualQuery(address, &mbi, sizeof mbi) == 0 || mbi.State != MEM_COMMIT) return nullptr;
  return static_cast<HMODULE>(mbi.AllocationBase);
}

TVantorModuleInfo* GetModuleEntry(HMODULE module) {
  TVantorModulesList* list = VantorModulesList();
  if (!module || !list) return nullptr;
  const auto handle = reinterpret_cast<ModuleHandle>(module);
  for (int i = 0; i < list->Count(); ++i) {
    TVantorModuleInfo* entry = list->Items(i);
    if (entry->Handle != handle) continue;
    if (entry->Kind != 0 || g_refreshingModules) return entry;
    list->DeleteModule(i);  // made during a light scan: rebuilt with its details
    break;
  }
  AddModuleEntry(module);
  return list->FindModule(handle);
}

TVantorModuleInfo* GetModuleEntryOfAddress(const void* address) {
  return GetModuleEntry(GetModuleBaseOfAddress(address));
}

bool IsModuleDll(HMODULE module) {
  try {
    TOwned<THModuleStream> s(New<THModuleStream>(module));
    std::uint8_t dos[64];
    if (s->Read(dos, 64) == 64 && dos[0] == 'M' && dos[1] == 'Z') {
      std::uint32_t offset;
      std::memcpy(&offset, dos + 60, 4);
      std::uint8_t header[24];
      if (offset != 0) {
        s->SetPosition(offset);
        if (s->Read(header, 24) == 24 && std::memcmp(header, "PE\0\0", 4) == 0) {
          std::uint16_t characteristics;
          std::memcpy(&characteristics, header + 4 + 18, 2);
          return (characteristics & IMAGE_FILE_DLL) != 0;
        }
      }
    }
  } catch (const Exception&) {
  }
  // The runtime's own answer for this module.
  if (module == reinterpret_cast<HMODULE>(&__ImageBase)) {
    const IMAGE_NT_HEADERS* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(
        reinterpret_cast<const std::uint8_t*>(&__ImageBase) + __ImageBase.e_lfanew);
    return (nt->FileHeader.Characteristics & IMAGE_FILE_DLL) != 0;
  }
  return false;
}

std::uint8_t GetModuleKind(HMODULE module) {
  auto base = reinterpret_cast<const std::uint8_t*>(module);
  if (!module || !IsReadableMemory(base, 64)) return 0;
  if (!IsModuleDll(module)) return 1;
  const std::string file = ModuleFileNameOf(module);
  HMODULE data = LoadLibraryExA(file.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
  if (!data) return 3;
  const bool package = FindResourceA(data, "PACKAGEINFO", MAKEINTRESOURCEA(10)) &&
                       FindResourceA(data, "PACKAGEOPTIONS", MAKEINTRESOURCEA(10));
  FreeLibrary(data);
  return package ? 2 : 3;
}

namespace {
using EnumProcessModulesFn = BOOL(WINAPI*)(HANDLE, HMODULE*, DWORD, DWORD*);
using EnumProcessesFn = BOOL(WINAPI*)(DWORD*, DWORD, DWORD*);
using GetModuleFileNameExFn = DWORD(WINAPI*)(HANDLE, HMODULE, LPSTR, DWORD);

std::vector<HMODULE> LoadedModules() {
  std::vector<HMODULE> modules;
  HMODULE psapi = LoadLibraryA("psapi.dll");
  auto enumModules = LookUp<EnumProcessModulesFn>(psapi, "EnumProcessModules");
  if (enumModules && !GetCoreSystemApi().IsWin9x()) {
    HANDLE self = OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, GetCurrentProcessId());
    if (self) {
      DWORD needed = 0;
      if (enumModules(self, nullptr, 0, &needed) && needed > 0) {
        modules.resize(needed / sizeof(HMODULE));
        if (!enumModules(self, modules.data(), static_cast<DWORD>(modules.size() * sizeof(HMODULE)), &needed))
          modules.clear();
        else
          modules.resize(std::min<std::size_t>(modules.size(), needed / sizeof(HMODULE)));
      }
      CloseHandle(self);
    }
  }
  if (psapi) FreeLibrary(psapi);
  if (!modules.empty()) return modules;
  HANDLE snap = CreateToolhelp32Snapshot(TH32CS_SNAPMODULE, GetCurrentProcessId());
  if (snap == INVALID_HANDLE_VALUE) return modules;
  MODULEENTRY32 entry{};
  entry.dwSize = sizeof entry;
  for (BOOL ok = Module32First(snap, &entry); ok; ok = Module32Next(snap, &entry)) modules.push_back(entry.hModule);
  CloseHandle(snap);
  return modules;
}

bool IsLoaded(HMODULE module) {
  char buf[4];
  return GetModuleFileNameA(module, buf, sizeof buf) != 0;
}
}  // namespace

void RefreshModulesList() {
  TVantorModulesList* list = VantorModulesList();
  if (!list) return;
  for (int i = list->Count() - 1; i >= 0; --i)
    if (!IsLoaded(reinterpret_cast<HMODULE>(list->Items(i)->Handle))) list->DeleteModule(i);
  const bool wasLight = VantorLogFlags().LightScan;
  g_refreshingModules = true;
  VantorLogFlags().LightScan = true;
  try {
    for (HMODULE m : LoadedModules())
      if (!list->FindModule(reinterpret_cast<ModuleHandle>(m))) BuildModuleEntry(m, ModuleFileNameOf(m), true);
  } catch (...) {
    VantorLogFlags().LightScan = wasLight;
    g_refreshingModules = false;
    throw;
  }
  VantorLogFlags().LightScan = wasLight;
  g_refreshingModules = false;
  list->Sort([](void* a, void* b) {
    auto x = static_cast<TVantorModuleInfo*>(a)->Handle, y = static_cast<TVantorModuleInfo*>(b)->Handle;
    return x < y ? -1 : x > y ? 1 : 0;
  });
}

UnitEntry* GetUnitInitTable() {
  return UnitTableEntries();
}

TVantorProcessesList* VantorProcessesList() {
  return g_processes;
}

void SetVantorProcessesList(TVantorProcessesList* list) {
  g_processes = list;
}

void RefreshProcessesList() {
  TVantorProcessesList* list = g_processes;
  if (!list) return;
  list->Clear();
  HANDLE snap = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  if (snap == INVALID_HANDLE_VALUE) return;
  PROCESSENTRY32 entry{};
  entry.dwSize = sizeof entry;
  for (BOOL ok = Process32First(snap, &entry); ok; ok = Process32Next(snap, &entry)) {
    auto* info = new TVantorProcessInfo;
    info->ProcessId = entry.th32ProcessID;
    info->FileName = entry.szExeFile;
    info->PriorityClass = PriorityClassFromBasePriority(entry.pcPriClassBase);
    info->Threads = entry.cntThreads;
    if (!ExtractFileExt(info->FileName).empty()) {
      // The full path from a module snapshot of that process, when it can be taken.
      HANDLE modules = CreateToolhelp32Snapshot(TH32CS_SNAPMODULE, entry.th32ProcessID);
      if (modules != INVALID_HANDLE_VALUE) {
        MODULEENTRY32 m{};
        m.dwSize = sizeof m;
        for (BOOL more = Module32First(modules, &m); more; more = Module32Next(modules, &m)) {
          if (SameText(m.szModule, info->FileName)) {
            info->FileName = m.szExePath;
            break;
          }
        }
        CloseHandle(modules);
      }
      ReadVersionInfo(info->FileName, info->Description, info->Version);
    }
    list->AddProcess(info);
  }
  CloseHandle(snap);
  list->SortById();
}

// --- Files --------------------------------------------------------------------------------------------
void ReadVersionInfo(const std::string& fileName, std::string& description, std::string& version) {
  description.clear();
  version.clear();
  DWORD handle = 0;
  const DWORD size = GetFileVersionInfoSizeA(fileName.c_str(), &handle);
  if (size == 0) return;
  std::vector<char> data(size);
  if (!GetFileVersionInfoA(fileName.c_str(), 0, size, data.data())) return;
  void* p = nullptr;
  UINT len = 0;
  if (VerQueryValueA(data.data(), "\\VarFileInfo\\Translation", &p, &len) && p && len >= 4) {
    WORD lang[2];
    std::memcpy(lang, p, 4);
    const std::string key = "\\StringFileInfo\\" + IntToHex(lang[0], 4) + IntToHex(lang[1], 4) + "\\FileDescription";
    if (VerQueryValueA(data.data(), key.c_str(), &p, &len) && p && len > 0) {
      std::string text(static_cast<const char*>(p), strnlen(static_cast<const char*>(p), len));
      if (text.size() > 1) description = text;
    }
  }
  if (VerQueryValueA(data.data(), "\\", &p, &len) && p && len >= sizeof(VS_FIXEDFILEINFO)) {
    VS_FIXEDFILEINFO fixed;
    std::memcpy(&fixed, p, sizeof fixed);
    const std::string text =
        std::to_string(HIWORD(fixed.dwFileVersionMS)) + "." + std::to_string(LOWORD(fixed.dwFileVersionMS)) + "." +
        std::to_string(HIWORD(fixed.dwFileVersionLS)) + "." + std::to_string(LOWORD(fixed.dwFileVersionLS));
    if (text != "0.0.0.0") version = text;
  }
}

std::string GetExeFileVersion() {
  std::string description, version;
  ReadVersionInfo(ModuleFileNameOf(nullptr), description, version);
  return version;
}

std::uint32_t GetFileSizeByName(const std::string& fileName) {
  WIN32_FIND_DATAA data;
  HANDLE h = FindFirstFileA(fileName.c_str(), &data);
  if (h == INVALID_HANDLE_VALUE) return 0;
  FindClose(h);
  return data.nFileSizeLow;
}

bool ForceDeleteFile(const std::string& fileName) {
  const DWORD attrs = GetFileAttributesA(fileName.c_str());
  if (attrs != INVALID_FILE_ATTRIBUTES && (attrs & FILE_ATTRIBUTE_READONLY))
    SetFileAttributesA(fileName.c_str(), attrs & ~FILE_ATTRIBUTE_READONLY);
  return DeleteFileA(fileName.c_str()) != 0;
}
