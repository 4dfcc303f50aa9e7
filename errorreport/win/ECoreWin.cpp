#include "ECoreWin.h"

#include <richedit.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include "ECore.h"
#include "SysUtils.h"
#include "SysUtilsWin.h"

namespace {

class Win32CoreSystem : public CoreSystemApi {
 public:
  bool GetEnvironment(const std::string& name, std::string& value) override {
    if (name.empty()) return false;
    std::vector<char> buf(1024);
    DWORD n = GetEnvironmentVariableA(name.c_str(), buf.data(), static_cast<DWORD>(buf.size()));
    if (n >= buf.size()) {
      buf.resize(n + 1);
      n = GetEnvironmentVariableA(name.c_str(), buf.data(), static_cast<DWORD>(buf.size()));
    }
    if (n == 0 || n >= buf.size()) return false;
    value.assign(buf.data(), n);
    return true;
  }
  std::string CurrentDateText() override {
    char buf[128];
    int n = GetDateFormatA(LOCALE_USER_DEFAULT, DATE_SHORTDATE, nullptr, nullptr, buf, sizeof buf);
    return n > 0 ? std::string(buf) : std::string();
  }
  std::string CurrentTimeText() override {
    char buf[128];
    int n = GetTimeFormatA(LOCALE_USER_DEFAULT, 0, nullptr, nullptr, buf, sizeof buf);
    return n > 0 ? std::string(buf) : std::string();
  }
  std::string CurrentDirectory() override {
    char buf[MAX_PATH + 1];
    DWORD n = GetCurrentDirectoryA(sizeof buf, buf);
    return n > 0 && n < sizeof buf ? std::string(buf, n) : std::string();
  }
  std::string ExeFileName() override {
    char buf[MAX_PATH + 1];
    DWORD n = GetModuleFileNameA(nullptr, buf, MAX_PATH);
    return std::string(buf, n);
  }
  std::string ShellAppDataFolder() override {
    HMODULE lib = LoadSystemLibrary("shfolder.dll");
    if (!lib) return {};
    using Fn = HRESULT(WINAPI*)(HWND, int, HANDLE, DWORD, LPSTR);
    auto fn = reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(lib, "SHGetFolderPathA")));
    std::string folder;
    char buf[MAX_PATH + 1] = {};
    if (fn && fn(nullptr, 26, nullptr, 0, buf) == S_OK) folder = buf;
    FreeLibrary(lib);
    return folder;
  }
  std::string WindowsFolder() override {
    char buf[256];
    UINT n = GetWindowsDirectoryA(buf, sizeof buf);
    return n > 0 && n < sizeof buf ? std::string(buf, n) : std::string();
  }
  bool IsWin9x() override {
    OSVERSIONINFOA vi{};
    vi.dwOSVersionInfoSize = sizeof vi;
    return GetVersionExA(&vi) && vi.dwPlatformId == VER_PLATFORM_WIN32_WINDOWS;
  }
  bool IsExistingFolder(const std::string& path) override {
    DWORD attrs = GetFileAttributesA(path.c_str());
    return attrs != INVALID_FILE_ATTRIBUTES && (attrs & FILE_ATTRIBUTE_DIRECTORY);
  }
  bool CreateFolder(const std::string& path) override { return CreateDirectoryA(path.c_str(), nullptr) != 0; }
  bool CanOpenForWriting(const std::string& fileName) override {
    HANDLE h = CreateFileA(fileName.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                           OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    bool existed = GetLastError() == ERROR_ALREADY_EXISTS;
    CloseHandle(h);
    if (!existed) DeleteFileA(fileName.c_str());
    return true;
  }
  bool CanOpenForReading(const std::string& fileName) override {
    HANDLE h = CreateFileA(fileName.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    CloseHandle(h);
    return true;
  }
  std::string ComputerName() override {
    char buf[16] = {};
    DWORD size = sizeof buf;
    return GetComputerNameA(buf, &size) ? std::string(buf, size) : std::string();
  }
  ModuleHandle ModuleHandleOf(const std::string& name) override {
    return name.empty() ? 0 : reinterpret_cast<ModuleHandle>(GetModuleHandleA(name.c_str()));
  }
};

Win32CoreSystem g_win32System;

bool IsReadableProtection(DWORD protect) {
  switch (protect) {
    case PAGE_READONLY:
    case PAGE_READWRITE:
    case PAGE_WRITECOPY:
    case PAGE_EXECUTE:
    case PAGE_EXECUTE_READ:
    case PAGE_EXECUTE_READWRITE:
    case PAGE_EXECUTE_WRITECOPY:
      return true;
    default:
      return false;
  }
}

// The file part placed in the data folder when the name has no folder.
std::string PlaceInDataFolder(const std::string& fileName) {
  if (!ExtractFilePath(fileName).empty()) return fileName;
  return AddTrailingBackslash(GetDataFolder()) + fileName;
}

}  // namespace

void UseWin32CoreSystem() {
  SetCoreSystemApi(&g_win32System);
}

void InitECoreWin() {
  UseWin32CoreSystem();
  SetLibraryOutput(&Win32LibraryOutputInstance());
  InitECore();
}

void DoneECoreWin() {
  DoneECore();
}

std::size_t ReadableRangeLength(const void* address, std::size_t length) {
  if (!address) return 0;
  std::size_t total = 0;
  auto at = static_cast<const std::uint8_t*>(address);
  do {
    MEMORY_BASIC_INFORMATION mbi;
    if (VirtualQuery(at, &mbi, sizeof mbi) == 0) return 0;
    if (mbi.State != MEM_COMMIT || !IsReadableProtection(mbi.Protect)) return 0;
    const auto regionEnd = static_cast<const std::uint8_t*>(mbi.BaseAddress) + mbi.RegionSize;
    total += static_cast<std::size_t>(regionEnd - at);
    at = regionEnd;
  } while (total < length);
  return total;
}

bool IsReadableMemory(const void* address, std::size_t length) {
  return ReadableRangeLength(address, length) >= length && address != nullptr;
}

const void* FollowImportJump(const void* address) {
  auto p = static_cast<const std::uint8_t*>(address);
  if (!IsReadableMemory(p, 8) || p[0] != 0xFF || p[1] != 0x25) return address;
  std::int32_t operand;
  std::memcpy(&operand, p + 2, 4);
#if defined(__x86_64__)
  const std::uint8_t* slot = p + 6 + operand;  // relative to the next instruction
#else
  const std::uint8_t* slot =
      reinterpret_cast<const std::uint8_t*>(static_cast<std::uintptr_t>(static_cast<std::uint32_t>(operand)));
#endif
  if (!IsReadableMemory(slot, sizeof(void*))) return address;
  const void* target;
  std::memcpy(&target, slot, sizeof target);
  return target;
}

bool ReadIniValue(std::string fileName, const std::string& section, const std::string& key, std::string& result,
                  const std::string& fallback) {
  result = fallback;
  fileName = PlaceInDataFolder(fileName);
  if (!ResolveWritableFile(fileName, false, false)) return false;
  std::vector<char> buf(2048);
  DWORD n = GetPrivateProfileStringA(section.c_str(), key.c_str(), fallback.c_str(), buf.data(),
                                     static_cast<DWORD>(buf.size()), fileName.c_str());
  result.assign(buf.data(), n);
  return true;
}

bool WriteIniValue(std::string fileName, const std::string& section, const std::string& key, const std::string& value) {
  fileName = PlaceInDataFolder(fileName);
  if (!ResolveWritableFile(fileName, false, false)) return false;
  return WritePrivateProfileStringA(section.c_str(), key.c_str(), value.c_str(), fileName.c_str()) != 0;
}

std::string ReadRegistryText(HKEY rootKey, std::string subKey, const std::string& valueName) {
  if (!subKey.empty() && subKey[0] == '\\') subKey.erase(0, 1);
  HKEY key;
  if (RegOpenKeyExA(rootKey, subKey.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return {};
  DWORD size = 0;
  std::string value;
  if (RegQueryValueExA(key, valueName.c_str(), nullptr, nullptr, nullptr, &size) == ERROR_SUCCESS && size > 0) {
    std::string buf(size, '\0');
    if (RegQueryValueExA(key, valueName.c_str(), nullptr, nullptr, reinterpret_cast<BYTE*>(buf.data()), &size) ==
        ERROR_SUCCESS) {
      buf.resize(size > 0 ? size - 1 : 0);
      value = buf;
    }
  }
  RegCloseKey(key);
  return value;
}

int GetUtcOffsetMinutes() {
  SYSTEMTIME utc, local;
  GetSystemTime(&utc);
  if (!SystemTimeToTzSpecificLocalTime(nullptr, &utc, &local)) return 0;
  FILETIME fu, fl;
  SystemTimeToFileTime(&utc, &fu);
  SystemTimeToFileTime(&local, &fl);
  const double u = static_cast<double>((static_cast<std::uint64_t>(fu.dwHighDateTime) << 32) | fu.dwLowDateTime);
  const double l = static_cast<double>((static_cast<std::uint64_t>(fl.dwHighDateTime) << 32) | fl.dwLowDateTime);
  return static_cast<int>(std::lround((l - u) / 600000000.0));
}

int GetUtcOffsetHours() {
  return static_cast<int>(std::lround(GetUtcOffsetMinutes() / 60.0));
}

int GetLocaleCharset() {
  char buf[6] = {};
  UINT codePage = 0;
  if (GetLocaleInfoA(LOCALE_USER_DEFAULT, LOCALE_IDEFAULTANSICODEPAGE, buf, sizeof buf) > 0) {
    int cp = 0;
    if (TryStrToInt(buf, cp)) codePage = static_cast<UINT>(cp);
  }
  if (codePage == 0) codePage = GetACP();
  CHARSETINFO info{};
  if (!TranslateCharsetInfo(reinterpret_cast<DWORD*>(static_cast<std::uintptr_t>(codePage)), &info, TCI_SRCCODEPAGE))
    return ANSI_CHARSET;
  return static_cast<int>(info.ciCharset);
}

double GetFileModifiedTime(const std::string& fileName) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!GetFileAttributesExA(fileName.c_str(), GetFileExInfoStandard, &data)) return 0;
  FILETIME local;
  WORD date, time;
  if (!FileTimeToLocalFileTime(&data.ftLastWriteTime, &local) || !FileTimeToDosDateTime(&local, &date, &time)) return 0;
  try {
    return EncodeDate(1980 + (date >> 9), (date >> 5) & 15, date & 31) +
           EncodeTime(time >> 11, (time >> 5) & 63, (time & 31) * 2, 0);
  } catch (const Exception&) {
    return 0;
  }
}

std::string ExpandLongPathName(const std::string& path) {
  return ExpandLongPathNameWith(
      path,
      [](const std::string& p) {
        char buf[MAX_PATH + 1];
        DWORD n = GetFullPathNameA(p.c_str(), sizeof buf, buf, nullptr);
        return n > 0 && n < sizeof buf ? std::string(buf, n) : p;
      },
      [](const std::string& p, std::string& longName) {
        WIN32_FIND_DATAA data;
        HANDLE h = FindFirstFileA(p.c_str(), &data);
        if (h == INVALID_HANDLE_VALUE) return false;
        FindClose(h);
        longName = data.cFileName;
        return true;
      });
}

// --- System facts -------------------------------------------------------------------------------------
namespace {
template <class Fn>
Fn Kernel32Procedure(const char* name) {
  return reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("kernel32.dll"), name)));
}
}  // namespace

TOsVersionFacts GetOsVersionFacts() {
  TOsVersionFacts facts;
  OSVERSIONINFOEXA vi{};
  vi.dwOSVersionInfoSize = sizeof vi;
  if (!GetVersionExA(reinterpret_cast<OSVERSIONINFOA*>(&vi))) {
    vi = {};
    vi.dwOSVersionInfoSize = sizeof(OSVERSIONINFOA);
    if (!GetVersionExA(reinterpret_cast<OSVERSIONINFOA*>(&vi))) return facts;
  }
  facts.Platform = vi.dwPlatformId == VER_PLATFORM_WIN32_WINDOWS ? 1 : 2;
  facts.Major = vi.dwMajorVersion;
  facts.Minor = vi.dwMinorVersion;
  facts.Build = vi.dwBuildNumber;
  facts.ServicePack = vi.szCSDVersion;
  facts.ProductType = vi.dwOSVersionInfoSize == sizeof vi ? vi.wProductType : 0;
  using IsWow64Fn = BOOL(WINAPI*)(HANDLE, PBOOL);
  BOOL wow64 = FALSE;
  if (auto isWow64 = Kernel32Procedure<IsWow64Fn>("IsWow64Process"))
    facts.IsWow64 = isWow64(GetCurrentProcess(), &wow64) && wow64;
  return facts;
}

std::string GetComputerNameText() {
  char buf[MAX_COMPUTERNAME_LENGTH + 1] = {};
  DWORD size = sizeof buf;
  return GetComputerNameA(buf, &size) ? std::string(buf, size) : std::string();
}

std::string GetUserNameText() {
  char buf[257] = {};
  DWORD size = sizeof buf;
  if (!GetUserNameA(buf, &size)) return {};
  return std::string(buf);
}

std::string GetRegisteredOwnerText() {
  const struct {
    const char* key;
    const char* value;
  } places[] = {{"\\SOFTWARE\\MICROSOFT\\WINDOWS NT\\CURRENTVERSION", "RegisteredOwner"},
                {"\\SOFTWARE\\MICROSOFT\\WINDOWS\\CURRENTVERSION", "RegisteredOwner"},
                {"\\SOFTWARE\\MICROSOFT\\MS SETUP (ACME)\\USER INFO", "DefName"}};
  const bool vistaOrLater = RunningOnVistaOrLater(GetOsVersionFacts());
  for (const auto& place : places) {
    std::string owner = ReadRegistryText(HKEY_LOCAL_MACHINE, place.key, place.value);
    // From Vista on the system writes this name when the user gave none.
    if (vistaOrLater && owner == "Microsoft") owner.clear();
    if (!owner.empty()) return owner;
  }
  return {};
}

bool IsDebuggerAttached() {
  HMODULE kernel = GetModuleHandleA("kernel32.dll");
  using Probe = BOOL(WINAPI*)();
  if (auto present = Kernel32Procedure<Probe>("IsDebuggerPresent")) return present() != FALSE;
  // A debugger of the old line hands out its own GetProcAddress, below kernel32.
  return reinterpret_cast<std::uintptr_t>(GetProcAddress(kernel, "GetProcAddress")) <
         reinterpret_cast<std::uintptr_t>(kernel);
}

bool IsThreadHandleActive(HANDLE thread) {
  if (!thread) return false;
  if (GetCoreSystemApi().IsWin9x()) {
    HANDLE copy = nullptr;
    if (!DuplicateHandle(GetCurrentProcess(), thread, GetCurrentProcess(), &copy, 0, FALSE, DUPLICATE_SAME_ACCESS))
      return false;
    CloseHandle(copy);
  } else {
    DWORD flags = 0;
    if (!GetHandleInformation(thread, &flags)) return false;
  }
  DWORD code = 0;
  return GetExitCodeThread(thread, &code) && code == STILL_ACTIVE;
}

std::uintptr_t GetThreadStackTop() {
  std::uintptr_t top = 0;
#if defined(__i386__)
  asm volatile("movl %%fs:4, %0" : "=r"(top));  // NT_TIB.StackBase
#elif defined(__x86_64__)
  asm volatile("movq %%gs:8, %0" : "=r"(top));
#endif
  return top;
}

std::string GetModuleFileNameOf(HMODULE module) {
  char buf[MAX_PATH + 1] = {};
  const DWORD n = GetModuleFileNameA(module, buf, MAX_PATH);
  if (n == 0) return {};
  return ExpandLongPathName(CutNtPathPrefix(std::string(buf, n)));
}

bool IsModuleLoaded(HMODULE module) {
  return !GetModuleFileNameOf(module).empty();
}

std::string GetOwnModuleFileName() {
  HMODULE own = nullptr;
  GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                     reinterpret_cast<LPCSTR>(&GetOwnModuleFileName), &own);
  return GetModuleFileNameOf(own);
}

std::string GetCommandLineText() {
  const char* line = GetCommandLineA();
  return line ? std::string(line) : std::string();
}

DWORD GetOwnProcessId() {
  return GetCurrentProcessId();
}

HANDLE GetOwnProcessHandle() {
  return GetCurrentProcess();
}

std::string GetTempFolderPath() {
  char buf[MAX_PATH + 1] = {};
  const DWORD n = GetTempPathA(MAX_PATH, buf);
  if (n == 0 || n > MAX_PATH) return {};
  return AddTrailingBackslash(std::string(buf, n));
}

// --- The library's lines and boxes ------------------------------------------------------------------
namespace {
class Win32LibraryOutput : public LibraryOutput {
 public:
  void DebugLine(const std::string& line) override { OutputDebugStringA((line + "\r\n").c_str()); }
  void WarningBox(const std::string& message, const std::string& caption) override {
    MessageBoxA(nullptr, message.c_str(), caption.c_str(), 0x242010);
  }
  bool ErrorDisplayEnabled() override { return true; }
  bool AskQuestion(const std::string& message, const std::string& caption) override {
    return MessageBoxA(nullptr, message.c_str(), caption.c_str(), 0x242014) == IDYES;
  }
  void InformationBox(const std::string& message, const std::string& caption) override {
    MessageBoxA(nullptr, message.c_str(), caption.c_str(), 0x242030);
  }
};
Win32LibraryOutput g_win32Output;
}  // namespace

LibraryOutput& Win32LibraryOutputInstance() {
  return g_win32Output;
}

// --- Rich edit controls -----------------------------------------------------------------------------
namespace {
struct RtfSource {
  const std::string* text;
  std::size_t position;
};

DWORD CALLBACK ReadRtfSource(DWORD_PTR cookie, LPBYTE buffer, LONG size, LONG* read) {
  auto* source = reinterpret_cast<RtfSource*>(cookie);
  const std::size_t left = source->text->size() - source->position;
  const std::size_t n = std::min<std::size_t>(left, size > 0 ? static_cast<std::size_t>(size) : 0);
  std::memcpy(buffer, source->text->data() + source->position, n);
  source->position += n;
  *read = static_cast<LONG>(n);
  return 0;
}
}  // namespace

void RichEditLoadRtf(HWND window, const std::string& rtf) {
  RtfSource source{&rtf, 0};
  EDITSTREAM stream{};
  stream.dwCookie = reinterpret_cast<DWORD_PTR>(&source);
  stream.pfnCallback = &ReadRtfSource;
  SendMessageA(window, EM_STREAMIN, SF_RTF, reinterpret_cast<LPARAM>(&stream));
}

COLORREF RichEditSetBackColor(HWND window, std::int32_t colour) {
  const COLORREF value = colour < 0 ? GetSysColor(colour & 0xFF) : static_cast<COLORREF>(colour);
  return static_cast<COLORREF>(SendMessageA(window, EM_SETBKGNDCOLOR, 0, static_cast<LPARAM>(value)));
}
