#include "EReportBuilderWin.h"

#include <algorithm>
#include <cstring>

#include "ECore.h"
#include "ECoreWin.h"
#include "EDebug.h"
#include "EHookWin.h"
#include "ELocation.h"
#include "EPipelineWin.h"
#include "EProbes.h"
#include "EProbesWin.h"
#include "ESystemWin.h"
#include "ExceptionLogWin.h"
#include "Swallow.h"
#include "SysUtils.h"

bool ReportRegistersFromContext(const CONTEXT* context, TReportRegisters& registers) {
#if defined(__i386__)
  if (!context) return false;
  registers.Eax = context->Eax;
  registers.Edi = context->Edi;
  registers.Ebx = context->Ebx;
  registers.Esi = context->Esi;
  registers.Ecx = context->Ecx;
  registers.Esp = context->Esp;
  registers.Edx = context->Edx;
  registers.Eip = context->Eip;
  return true;
#else
  (void)context;
  (void)registers;
  return false;
#endif
}

namespace {

// A FILETIME in UTC as a local date-time.
double LocalDateTimeOf(const FILETIME& utc) {
  FILETIME local;
  SYSTEMTIME st;
  if (!FileTimeToLocalFileTime(&utc, &local) || !FileTimeToSystemTime(&local, &st)) return 0;
  // Days since 1899-12-30: the FILETIME epoch (1601-01-01) lies 109205 days before it.
  ULARGE_INTEGER ticks;
  ticks.LowPart = local.dwLowDateTime;
  ticks.HighPart = local.dwHighDateTime;
  return static_cast<double>(ticks.QuadPart) / 864000000000.0 - 109205.0;
}

std::string WindowClassText(HWND window) {
  char name[257] = {};
  const int n = GetClassNameA(window, name, sizeof name);
  return n > 0 ? std::string(name, static_cast<std::size_t>(n)) : std::string();
}

// The window's own text, asked of the default procedure (no message reaches another thread).
std::string WindowOwnText(HWND window) {
  char text[257] = {};
  const LRESULT n = DefWindowProcA(window, WM_GETTEXT, sizeof text, reinterpret_cast<LPARAM>(text));
  return n > 0 ? std::string(text, static_cast<std::size_t>(n < 256 ? n : 256)) : std::string();
}

// "C:" of a path on a drive; empty for other paths.
std::string DriveOfPath(const std::string& path) {
  return path.size() >= 2 && path[1] == ':' ? path.substr(0, 2) : std::string();
}

bool IsWindowedProgram() {
  const auto* base = reinterpret_cast<const std::uint8_t*>(GetModuleHandleA(nullptr));
  const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
  const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
  return nt->OptionalHeader.Subsystem == IMAGE_SUBSYSTEM_WINDOWS_GUI;
}

std::string ModuleFileOfAddress(std::uintptr_t address) {
  HMODULE module = GetModuleBaseOfAddress(reinterpret_cast<const void*>(address));
  return module ? GetModuleFileNameOf(module) : std::string();
}

// An access violation's message rebuilt from its record, naming the module
// that holds the faulting address; other messages unchanged.
std::string AccessViolationMessage(const TReportRun& run, const std::string& message) {
  const EXCEPTION_RECORD* record = nullptr;
  if (run.Job) record = run.Job->Record ? run.Job->Record : run.Job->HasSavedRecord ? &run.Job->SavedRecord : nullptr;
  if (!record || !IsReadableMemory(record, sizeof *record) || record->ExceptionCode != EXCEPTION_ACCESS_VIOLATION ||
      record->NumberParameters < 2)
    return message;
  TAccessViolationRaw raw;
  raw.Address = reinterpret_cast<std::uintptr_t>(record->ExceptionAddress);
  raw.ModuleFile = ModuleFileOfAddress(raw.Address);
  raw.Write = record->ExceptionInformation[0] == 1;
  raw.Target = static_cast<std::uintptr_t>(record->ExceptionInformation[1]);
  raw.OwnMessage = message;
  return FormatAccessViolationMessage(raw, [](const std::string& path) { return ExpandLongPathName(path); });
}

}  // namespace

void Win32ReportProbes::Collect(TReportHeaderFacts& facts) {
  FILETIME created, exited, kernel, user;
  if (GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user))
    facts.StartTime = LocalDateTimeOf(created);
  const std::string exe = GetOwnModuleFileName();
  std::string appDescription, appVersion;
  ReadVersionInfo(exe, appDescription, appVersion);
  facts.ApplicationTitle = FormatModuleTitle(ExtractFileName(exe), appDescription);
  facts.ApplicationVersion = GetExeFileVersion();
  facts.Parameters = FormatCommandParameters(GetCommandLineText());
  if (TVantorModulesList* modules = VantorModulesList())
    if (const TVantorModuleInfo* entry = modules->FindModule(reinterpret_cast<ModuleHandle>(GetModuleHandleA(nullptr))))
      facts.CompilationDate = FormatCompilationDate(entry->BuildTime, GetUtcOffsetHours(), GetUtcOffsetMinutes());

  const std::string module = ModuleFileOfAddress(run_.Address);
  std::string description;
  if (!module.empty()) ReadVersionInfo(module, description, facts.ExceptionModuleVersion);
  facts.ExceptionModuleTitle = FormatModuleTitle(ExtractFileName(module), description);
  facts.ExceptionClassText = run_.Object ? run_.Object->ClassName() : std::string();
  facts.ExceptionMessageText = !run_.CustomMessage.empty() ? run_.CustomMessage
                               : run_.Object               ? run_.Object->Message
                                                           : std::string();
  if (run_.CustomMessage.empty()) facts.ExceptionMessageText = AccessViolationMessage(run_, facts.ExceptionMessageText);

  facts.UserId = GetUserNameText();
  facts.UserName = GetRegisteredOwnerText();

  facts.GuiProgram = IsWindowedProgram();
  if (HWND foreground = GetForegroundWindow()) {
    facts.FormClass = WindowClassText(foreground);
    facts.FormText = WindowOwnText(foreground);
  }

  facts.ComputerName = GetComputerNameText();
  // The memory and disk functions are looked up: a system without the first
  // takes GlobalMemoryStatus, one without the second leaves the disk empty.
  HMODULE kernel32 = GetModuleHandleA("kernel32.dll");
  using TMemoryStatusEx = BOOL(WINAPI*)(LPMEMORYSTATUSEX);
  using TDiskFreeSpaceEx = BOOL(WINAPI*)(LPCSTR, PULARGE_INTEGER, PULARGE_INTEGER, PULARGE_INTEGER);
  auto memoryStatusEx =
      kernel32
          ? reinterpret_cast<TMemoryStatusEx>(reinterpret_cast<void*>(GetProcAddress(kernel32, "GlobalMemoryStatusEx")))
          : nullptr;
  auto diskFreeSpaceEx =
      kernel32
          ? reinterpret_cast<TDiskFreeSpaceEx>(reinterpret_cast<void*>(GetProcAddress(kernel32, "GetDiskFreeSpaceExA")))
          : nullptr;
  MEMORYSTATUSEX memory{};
  memory.dwLength = sizeof memory;
  if (memoryStatusEx && memoryStatusEx(&memory)) {
    facts.TotalMemory = memory.ullTotalPhys;
    facts.FreeMemory = memory.ullAvailPhys;
  } else if (!memoryStatusEx) {
    MEMORYSTATUS old{};
    old.dwLength = sizeof old;
    GlobalMemoryStatus(&old);
    facts.TotalMemory = old.dwTotalPhys;
    facts.FreeMemory = old.dwAvailPhys;
  }
  const std::string drive = DriveOfPath(exe);
  ULARGE_INTEGER freeToCaller{}, total{}, totalFree{};
  if (diskFreeSpaceEx && !drive.empty() && diskFreeSpaceEx((drive + "\\").c_str(), &freeToCaller, &total, &totalFree)) {
    facts.TotalDisk = total.QuadPart;
    facts.FreeDisk = freeToCaller.QuadPart;
  }
  facts.TickCount = GetTickCount();
  if (HDC screen = GetDC(nullptr)) {
    facts.ScreenWidth = GetDeviceCaps(screen, HORZRES);
    facts.ScreenHeight = GetDeviceCaps(screen, VERTRES);
    facts.BitsPerPixel = GetDeviceCaps(screen, BITSPIXEL);
    facts.DisplayDpi = GetDeviceCaps(screen, LOGPIXELSY);
    ReleaseDC(nullptr, screen);
  }
  const TOsVersionFacts os = GetOsVersionFacts();
  facts.OsType = GetWindowsVersionName(os);
  facts.OsBuild = GetWindowsBuildText(os);
  facts.OsUpdate = os.ServicePack;
  facts.Charset = GetLocaleCharset();
  CollectSystemProbes(facts);
}

double Win32ReportClock::Now() {
  FILETIME now;
  GetSystemTimeAsFileTime(&now);
  return LocalDateTimeOf(now);
}

std::int32_t Win32ReportClock::BiasMinutes() {
  return GetUtcOffsetMinutes();
}

void LocatingStackEntryMaker::Make(std::uint64_t address, bool details, TVLLocationInfo& entry) {
  if (details) {
    LocateAddress(address, 0, entry);
    return;
  }
  entry.Kind = 1;
  entry.Module = GetModuleEntryOfAddress(reinterpret_cast<const void*>(static_cast<std::uintptr_t>(address)));
}

LocatingStackEntryMaker& DefaultStackEntryMaker() {
  static LocatingStackEntryMaker maker;
  return maker;
}

namespace {

// Locates a code address for the listing, opening the module's debug source when nothing names it yet.
bool LocateForListing(std::uint32_t address, TVLLocationInfo& location) {
  LocateAddress(address, 0, location);
  if (location.Kind <= 1 && location.Module && !location.Module->DebugSource) {
    TObject* source = nullptr;
    if (OpenDebugInfoSource(location.Module->Handle, source) && source) {
      location.Module->DebugSource = source;
      location = TVLLocationInfo();
      LocateAddress(address, 0, location);
    }
  }
  return location.Kind >= 2 && location.Kind <= 4;
}

class ThreadFacts : public StackGroupFacts {
 public:
  std::int32_t ThreadPriority(const TVantorThreadInfo& record) override {
    HANDLE h = reinterpret_cast<HANDLE>(record.ThreadHandle);
    const int priority = h ? GetThreadPriority(h) : THREAD_PRIORITY_ERROR_RETURN;
    return priority == THREAD_PRIORITY_ERROR_RETURN ? 0 : priority;
  }
  std::string ThreadClassName(const TObject* threadObject) override {
    return threadObject ? threadObject->ClassName() : std::string();
  }
};

}  // namespace

std::string BuildRunReportText(TReportRun& run) {
  TReportRegisters registers;
  const CONTEXT* context = run.Job ? run.Job->Context : nullptr;
  const bool hasRegisters = ReportRegistersFromContext(context, registers);
  Win32ReportProbes probes(run);
  Win32ReportClock clock;
  ThreadFacts threadFacts;

  TTextReportFrame frame;
  frame.Options = run.Options;
  // The job's stack copy serves the stack dump: the live stack has moved on since.
  const TStackSnapshot* copy = run.Job ? run.Job->StackCopy : nullptr;
  StackCopyReader copied(copy ? copy->Start : 0, copy ? copy->Bytes.data() : nullptr,
                         copy ? std::min<std::size_t>(copy->Size, copy->Bytes.size()) : 0);
  frame.Sources.Memory = copy ? static_cast<MemoryReader*>(&copied) : &ProcessMemory();
  frame.Sources.Locate = &LocateForListing;
  frame.ListingAvailable = sizeof(void*) == 4;
  frame.Address = run.Address;
  frame.Registers = hasRegisters ? &registers : nullptr;
  frame.StackPointer = hasRegisters ? registers.Esp : 0;
  frame.CallStack = run.CallStack;
  frame.Threads = VantorThreadsList();
  frame.GroupFacts = &threadFacts;
  frame.Modules = VantorModulesList();
  frame.Processes = VantorProcessesList();
  frame.Probes = &probes;
  frame.Clock = &clock;
  if (run.Job) {
    frame.FocusClass = run.Job->FocusClassName;
    frame.FocusText = run.Job->FocusText;
  }
  frame.BugId = run.BugId;
  frame.Duplicate = run.Duplicate;
  return BuildTextReport(frame, ReportTexts());
}

void InsertRunValuesSection(TReportRun& run, int number, const std::string& title, const TStrings& values) {
  TReportTexts& texts = ReportTexts();
  if (texts.Report != run.ReportText) return;
  InsertHeaderValuesSection(texts, number, title, values);
  run.ReportText = texts.Report;
}

void InsertRunTextSection(TReportRun& run, int number, const std::string& title, const std::string& text) {
  TReportTexts& texts = ReportTexts();
  if (texts.Report != run.ReportText) return;
  InsertHeaderTextSection(texts, number, title, text);
  run.ReportText = texts.Report;
}

void NoteThreadNamingRaise(DWORD argumentCount, const ULONG_PTR* arguments) noexcept {
  try {
    if (argumentCount != 4 || !arguments || static_cast<std::uint32_t>(arguments[0]) != 0x1000) return;
    char name[256] = {};
    const std::size_t read = arguments[1] ? ProcessMemory().ReadUpTo(arguments[1], name, sizeof name - 1) : 0;
    const std::size_t length = strnlen(name, read);
    const auto id = static_cast<std::uint32_t>(arguments[2]);
    RecordThreadName(id == 0xFFFFFFFFu ? GetCurrentThreadId() : id, std::string(name, length));
  } catch (...) {
    SwallowException("NoteThreadNamingRaise");
  }
}
