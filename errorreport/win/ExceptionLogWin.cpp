#include "ExceptionLogWin.h"

#include <cstdio>
#include <cstring>
#include <exception>
#include <new>
#include <vector>

#include "ECallStack.h"
#include "ECore.h"
#include "ECoreWin.h"
#include "EDebug.h"
#include "EDebugWin.h"
#include "EEventsWin.h"
#include "EFreezeWin.h"
#include "EHookWin.h"
#include "ELeaksWin.h"
#include "ELocation.h"
#include "EPipelineWin.h"
#include "ESendReportWin.h"
#include "ESystemWin.h"
#include "EWebOutputWin.h"
#include "ExceptionLogCapture.h"
#include "ExceptionLogImports.h"
#include "ExceptionLogLeaks.h"
#include "Swallow.h"
#include "SysUtils.h"
#include "Units.h"

extern "C" IMAGE_DOS_HEADER __ImageBase;

namespace {

HMODULE ThisModule() {
  return reinterpret_cast<HMODULE>(&__ImageBase);
}

constexpr SIZE_T kEmergencyReserve = 0x500000;

int g_initCount = 0;
int g_handCursor = 32649;
std::string g_startDirectory;
double g_startTime = 0;
void* g_emergencyReserve = nullptr;
LPTOP_LEVEL_EXCEPTION_FILTER g_previousFilter = nullptr;
bool g_filterInstalled = false;
TVantorModulesList* g_modules = nullptr;
TVantorModuleOptionsEx* g_defaultOptions = nullptr;
TVantorThreadsList* g_threads = nullptr;
HANDLE g_mainThreadHandle = nullptr;
std::uintptr_t g_mainStackTop = 0;
TStringList* g_ownUnitNames = nullptr;
HMODULE g_mainInstance = nullptr;
TRuntimeHandlerAddresses g_handlers;
// The per-thread block lives in a TLS slot that points at process-heap
// memory: the run-time's thread-local variables allocate on first use, which
// the capture hooks (running inside a raise or a fault) must not do.
DWORD ThreadBlockSlot() {
  static const DWORD slot = TlsAlloc();
  return slot;
}

// The library's own source units, whose frames a report hides.
const char* const kOwnUnitNames[] = {
    "EBase64",
    "ECallStack",
    "ECore",
    "ECoreWin",
    "EDebug",
    "EDebugWin",
    "EDetailedDialogWin",
    "EDisAsm",
    "EEncrypt",
    "EEvents",
    "EEventsWin",
    "EFreezeWin",
    "EHash",
    "EHook",
    "EHookWin",
    "ELeaks",
    "ELeaksWin",
    "EListView",
    "EListViewWin",
    "ELocation",
    "ELogManager",
    "EPipeline",
    "EPipelineWin",
    "EPngImage",
    "EProbes",
    "EProbesWin",
    "EReportBuilder",
    "EReportBuilderWin",
    "EReportDialogs",
    "EReportDialogsWin",
    "EReportFiles",
    "EReportFilesWin",
    "EReportSteps",
    "EScreenshotWin",
    "ESendFiles",
    "ESmtpMail",
    "ESockets",
    "ESocketsWin",
    "ESystem",
    "ESystemWin",
    "EWebOutputWin",
    "EWebPage",
    "EWebTools",
    "EWebToolsWin",
    "EXMLBuilder",
    "EZip",
    "EZlib2",
    "ExceptionLog",
    "ExceptionLogCapture",
    "ExceptionLogImports",
    "ExceptionLogLeaks",
    "ExceptionLogThrow",
    "ExceptionLogWin",
    "VantorLogConsts",
};

void LoadOwnUnitNames() {
  g_ownUnitNames = New<TStringList>();
  for (const char* name : kOwnUnitNames) g_ownUnitNames->Add(name);
  g_ownUnitNames->SetSorted(true);
}

// Step 6: the runtime's handler entry points, each after its import jump.
extern "C" void* __cxa_begin_catch(void*) noexcept;
extern "C" void __cxa_end_catch();
#if defined(__SEH__)
extern "C" int __gxx_personality_seh0(...);
#define PELLORY_PERSONALITY __gxx_personality_seh0
#else
extern "C" int __gxx_personality_v0(...);
#define PELLORY_PERSONALITY __gxx_personality_v0
#endif

void FindRuntimeHandlers() {
  g_handlers.CatchAll = FollowImportJump(reinterpret_cast<const void*>(&__cxa_begin_catch));
  g_handlers.Typed = FollowImportJump(reinterpret_cast<const void*>(&PELLORY_PERSONALITY));
  g_handlers.EndExcept = FollowImportJump(reinterpret_cast<const void*>(&__cxa_end_catch));
  // The safecall handler is the one a safe object's method hands its exceptions to.
  TSafeObject probe;
  (void)probe;
  g_handlers.SafeCall = FollowImportJump(reinterpret_cast<const void*>(&SafeCallExceptionHandler));
}

// Step 18: the first loaded program module that carries a data block.
HMODULE ChooseMainInstance() {
  if (!g_modules) return nullptr;
  for (int i = 0; i < g_modules->Count(); ++i) {
    HMODULE m = reinterpret_cast<HMODULE>(g_modules->Items(i)->Handle);
    if (!IsModuleDll(m) && ModuleHasDataBlock(m)) return m;
  }
  return nullptr;
}

// --- Unit-table wrapping ---
UnitEntry* g_wrappedInitCell = nullptr;
void (*g_keptInit)() = nullptr;
UnitEntry* g_wrappedFiniCell = nullptr;
void (*g_keptFini)() = nullptr;

void StartupEndHook() {
  void (*kept)() = g_keptInit;
  UnitEntry* cell = g_wrappedInitCell;
  auto done = [&] {
    VantorLogFlags().StartupRunning = 0;
    if (cell) cell->init = kept;
    g_wrappedInitCell = nullptr;
  };
  try {
    if (kept) kept();
  } catch (...) {
    done();
    throw;
  }
  done();
}

void ShutdownBeginHook() {
  VantorLogFlags().ShutdownBegun = 1;
  if (g_keptFini) g_keptFini();
}

void WrapLastUnitEntries() {
  UnitEntry* table = UnitTableEntries();
  const std::size_t count = UnitTableCount();
  if (!table) return;
  for (std::size_t i = count; i-- > 0;) {
    if (!table[i].init) continue;
    if (table[i].init != StartupEndHook) {
      g_keptInit = table[i].init;
      g_wrappedInitCell = &table[i];
      table[i].init = StartupEndHook;
    }
    break;
  }
  for (std::size_t i = count; i-- > 0;) {
    if (!table[i].fini) continue;
    if (table[i].fini != ShutdownBeginHook) {
      g_keptFini = table[i].fini;
      g_wrappedFiniCell = &table[i];
      table[i].fini = ShutdownBeginHook;
    }
    break;
  }
}

void UnwrapUnitEntries() {
  if (g_wrappedInitCell && g_wrappedInitCell->init == StartupEndHook) g_wrappedInitCell->init = g_keptInit;
  if (g_wrappedFiniCell && g_wrappedFiniCell->fini == ShutdownBeginHook) g_wrappedFiniCell->fini = g_keptFini;
  g_wrappedInitCell = g_wrappedFiniCell = nullptr;
}

// --- Internal failures ---
// The error hook of the guarded steps (it runs inside their catch clause).
void ReportStepFailure(const std::string& text) {
  ::ReportInternalFailure(text, std::current_exception(), IsDebuggerAttached());
}

// The location of a code address: its module's handle and file name, and
// its unit, class, procedure and lines where the module's data names them.
TInternalFailureLocation LocationOf(std::uint64_t address) {
  TInternalFailureLocation location;
  location.Address = address;
  HMODULE module = nullptr;
  if (address &&
      GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                         reinterpret_cast<LPCSTR>(static_cast<std::uintptr_t>(address)), &module)) {
    location.Module = reinterpret_cast<std::uintptr_t>(module);
    location.ModuleFileName = GetModuleFileNameOf(module);
    try {
      TVLLocationInfo found;
      LocateAddress(address, static_cast<std::int32_t>(GetCurrentThreadId()), found);
      if (found.Kind >= 2) {
        location.UnitName = found.UnitName;
        location.ClassName = found.ClassName;
        location.ProcedureName = found.ProcedureName;
        location.ProcedureLine = found.LineInProcedure;
        location.Line = found.Line;
        location.HasLine = found.Kind >= 4;
      }
    } catch (...) {
      SwallowException("internal failure location");
    }
  }
  return location;
}

// The ".log" file of an internal failure to the library's maker, by the
// simple mail interface.
bool SendInternalFailureMail(const std::string& logFile) {
  const std::string subject = std::string("VantorLog ") + kLibraryVersionText + " critical bug.";
  return SendMapiMessage(kLibrarySupportAddress, subject, subject, {logFile}, nullptr, 0);
}

// An internal failure's details: completed here, saved as the program's
// file name with ".log" where that can be written, and offered for sending.
void WriteInternalFailureDetails(TInternalFailureFacts& facts) {
  facts.DateText = FormatMailDate(Now(), GetUtcOffsetMinutes());
  facts.OsName = GetWindowsVersionName(GetOsVersionFacts());
  std::uint8_t dump[32];
  if (facts.Where.Address && ProcessMemory().Read(facts.Where.Address, dump, sizeof dump))
    facts.Dump.assign(dump, dump + sizeof dump);
  const std::uint64_t address = facts.Where.Address;
  facts.Where = LocationOf(address);
#if defined(__i386__)
  // This thread's stack: from here in IDE mode, else from where the exception left it.
  auto here = reinterpret_cast<std::uintptr_t>(__builtin_frame_address(0));
  auto recorded = reinterpret_cast<std::uintptr_t>(CurrentThreadBlock().RecordedStackPosition);
  TStackScan scan;
  scan.StackStart = static_cast<std::uint32_t>(IsHostedByIde() || !recorded ? here : recorded);
  scan.StackTop = static_cast<std::uint32_t>(GetThreadStackTop());
  scan.ThreadId = static_cast<std::int32_t>(GetCurrentThreadId());
  TOwned<TVantorStackList> stack(CollectCallStack(ProcessMemory(), nullptr, scan));
  for (int i = 0; i < stack->Count(); ++i)
    if (stack->Items(i)->Kind != 0) facts.CallStack.push_back(LocationOf(stack->Items(i)->Address));
#endif
  const std::string text = FormatInternalFailureText(facts);
  const std::string logFile = ChangeFileExt(GetExeFileName(), ".log");
  if (CanUseFile(logFile, false)) {
    if (std::FILE* file = std::fopen(logFile.c_str(), "wb")) {
      std::fwrite(text.data(), 1, text.size(), file);
      std::fclose(file);
    }
  }
  LibraryOutput& output = CurrentLibraryOutput();
  if (output.AskQuestion(InternalFailureQuestion(facts.Message), "Probably internal bug")) {
    // Sent through the user's mail client; without one the user is told
    // where the file is and where to send it.
    bool sent = false;
    try {
      sent = FileExists(logFile) && SendInternalFailureMail(logFile);
    } catch (...) {
      SwallowException("internal failure mail");
    }
    if (!sent) output.InformationBox(InternalFailureSendManually(logFile), "Information");
  }
}

// --- Shared options blocks ---
struct SharedBlock {
  HANDLE mapping = nullptr;
  std::uint8_t* view = nullptr;
  std::uint32_t dataSize = 0;
  std::uint8_t* Data() const { return view ? view + 4 : nullptr; }
};

void CloseSharedBlock(SharedBlock& block) {
  if (block.view) UnmapViewOfFile(block.view);
  if (block.mapping) CloseHandle(block.mapping);
  block = SharedBlock{};
}

// Bytes that the view of a mapping really holds.
std::size_t ViewSize(const void* view) {
  MEMORY_BASIC_INFORMATION mbi;
  if (!view || VirtualQuery(view, &mbi, sizeof mbi) == 0) return 0;
  return mbi.RegionSize;
}

// Opens (or with size > 0 creates) the block of a module; the stored size is
// trusted only as far as the mapping reaches.
SharedBlock OpenSharedBlock(HMODULE module, std::uint32_t size) {
  SharedBlock block;
  const std::string name = SharedBlockName(GetCurrentProcessId(), module);
  bool existed = true;
  if (size == 0) {
    block.mapping = OpenFileMappingA(FILE_MAP_READ | FILE_MAP_WRITE, FALSE, name.c_str());
  } else {
    block.mapping = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, size + 4, name.c_str());
    existed = block.mapping && GetLastError() == ERROR_ALREADY_EXISTS;
  }
  if (!block.mapping) return SharedBlock{};
  block.view = static_cast<std::uint8_t*>(MapViewOfFile(block.mapping, FILE_MAP_READ | FILE_MAP_WRITE, 0, 0, 0));
  const std::size_t reach = ViewSize(block.view);
  if (!block.view || reach < 4) {
    CloseSharedBlock(block);
    return block;
  }
  std::uint32_t stored;
  std::memcpy(&stored, block.view, 4);
  if (existed) {
    if (stored < 4 || stored > reach) {
      CloseSharedBlock(block);
      return block;
    }
    block.dataSize = stored - 4;
  } else {
    if (size + 4u > reach) {
      CloseSharedBlock(block);
      return block;
    }
    stored = size + 4;
    std::memcpy(block.view, &stored, 4);
    block.dataSize = size;
  }
  return block;
}

SharedBlock g_ownShared;

class SharedMemoryOptionsStore : public PublishedOptionsStore {
 public:
  void Publish(const TVantorModuleOptions& options) override { PublishModuleOptions(options); }
  void Load(TVantorModuleOptions& options) override { LoadPublishedModuleOptions(options); }
};
SharedMemoryOptionsStore g_sharedStore;

// --- Data blocks in modules ---
bool FindResourceBlock(HMODULE module, std::string_view& bytes) {
  HRSRC res = FindResourceA(module, "VLDATA", MAKEINTRESOURCEA(10));
  if (!res) return false;
  const DWORD size = SizeofResource(module, res);
  HGLOBAL loaded = LoadResource(module, res);
  const void* data = loaded ? LockResource(loaded) : nullptr;
  if (!data || size < 4) return false;
  std::uint32_t magic;
  std::memcpy(&magic, data, 4);
  if (!IsDataBlockMagic(magic)) return false;
  bytes = std::string_view(static_cast<const char*>(data), size);
  return true;
}

std::string ModuleFileName(HMODULE module) {
  char buf[MAX_PATH + 1];
  DWORD n = GetModuleFileNameA(module, buf, MAX_PATH);
  return std::string(buf, n);
}

bool FindTrailer(const std::string& fileName, std::uint16_t& version) {
  try {
    TOwned<TFileStream> f(New<TFileStream>(fileName, fmOpenRead | fmShareDenyNone));
    return FindTrailerDataBlock(*f, version);
  } catch (const Exception&) {
    return false;
  }
}

std::uint32_t FileSizeOf(const std::string& fileName) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  return GetFileAttributesExA(fileName.c_str(), GetFileExInfoStandard, &data) ? data.nFileSizeLow : 0;
}

// --- Start-up and shut-down bodies ---
// Steps 9-14: the lists, options, threads and locks of an active library
// (also rebuilt for the leak report after the library's shut-down).
void BuildLibraryState() {
  TVantorLogFlags& flags = VantorLogFlags();
  // 9.
  if (!g_modules) g_modules = New<TVantorModulesList>();
  SetVantorProcessesList(New<TVantorProcessesList>());
  g_ownShared = OpenSharedBlock(ThisModule(), 1);
  if (g_ownShared.Data() && g_ownShared.dataSize >= 1) g_ownShared.Data()[0] = 0;
  // 10.
  g_defaultOptions = New<TVantorModuleOptionsEx>(std::string());
  g_mainStackTop = GetThreadStackTop();
  // 11.
  flags.TerminationRequested = 0;
  g_startTime = Now();
  g_mainThreadHandle = nullptr;
  DuplicateHandle(GetCurrentProcess(), GetCurrentThread(), GetCurrentProcess(), &g_mainThreadHandle, 74, FALSE, 0);
  // 12.
  g_threads = New<TVantorThreadsList>();
  flags.MainThreadId = GetCurrentThreadId();
  TVantorThreadInfo* main = g_threads->NewThreadInfo(true);
  main->ThreadId = flags.MainThreadId;
  main->ThreadHandle = reinterpret_cast<std::uintptr_t>(g_mainThreadHandle);
  main->StackTop = g_mainStackTop;
  // 13. The exclusion list keeps a lock of its own (ExceptionLog.h); the
  // raise-time snapshot's room is made now, so that a raise allocates none.
  ClearExcludedThreads();
  ReserveStackSnapshot();
  LoadOwnUnitNames();
  // 14. The report lock is VantorReportLock (EPipelineWin.h).
  flags.CatchingEnabled = 1;
  AddModuleEntry(ThisModule());
}

void StartupBody() {
  TVantorLogFlags& flags = VantorLogFlags();
  OSVERSIONINFOA vi{};
  vi.dwOSVersionInfoSize = sizeof vi;
  GetVersionExA(&vi);
  const bool oldHand = vi.dwMajorVersion == 4 && vi.dwMinorVersion == 0;
  g_handCursor = oldHand ? 32512 : 32649;
  SetGuardedStepErrorHook(ReportStepFailure);
  SetInternalFailureDetailsProc(WriteInternalFailureDetails);
  SetLibraryModuleHandle(reinterpret_cast<ModuleHandle>(ThisModule()));
  SetPublishedOptionsStore(&g_sharedStore);

  // 2. A program module that carries the library owns the process-wide hooks.
  HMODULE mainModule = GetModuleHandleA(nullptr);
  g_mainInstance = IsModuleDll(ThisModule()) ? reinterpret_cast<HMODULE>(MainInstance()) : ThisModule();
  flags.MainModuleHasLibrary = mainModule != ThisModule() && ModuleDataBlockIsCurrent(mainModule);
  flags.HooksAllowed = 1;

  // 3.
  flags.Initialized = 1;
  flags.PendingStartupException = 0;
  flags.LeakReportRunning = 0;
  flags.ReportOnFaultingThread = 0;
  g_startDirectory = GetCoreSystemApi().CurrentDirectory();
  flags.StartupRunning = 1;
  flags.ShutdownBegun = 0;
  ResetVantorEvents();

  // 4. This thread's saved exception state.
  TVantorThreadBlock& block = CurrentThreadBlock();
  std::memset(&block.SavedContext, 0, sizeof block.SavedContext);
  std::memset(&block.SavedRecord, 0, sizeof block.SavedRecord);

  // 5. The stack snapshot's room comes with the active library's state
  // (step 13); no handler chain is walked, so there is no scan cache.

  // 6. (Step 7's debugger-hook flag has no counterpart in this run-time.)
  FindRuntimeHandlers();

  // 8.
  if (!IsHostedByIde()) {
    WrapLastUnitEntries();
    if (!ModuleHasDataBlock(ThisModule())) {
      flags.Initialized = 0;
      return;
    }
  }

  BuildLibraryState();
  // 15. The capture hooks (ExceptionLogCapture.h), outside IDE mode and when this module may own them.
  if (!IsHostedByIde() && flags.HooksAllowed) {
    InstallCaptureHooks();
    HookClassLibraryHandlers(&GetDataBlockSymbolAddress, &GetDataBlockSymbolValue);
    InstallImportHooks();
  }
  InstallPeerExportFinder();
  InstallFreezeDetectionApi();
  // 16.
  if (!IsHostedByIde()) StartFreezeDetection();

  // 17.
  if (IsHostedByIde()) RefreshModulesList();
  // 18.
  if (IsModuleDll(ThisModule()) && !g_mainInstance && g_modules) {
    RefreshModulesList();
    g_mainInstance = ChooseMainInstance();
    flags.MainModuleHasLibrary =
        g_mainInstance && g_mainInstance != ThisModule() && ModuleDataBlockIsCurrent(g_mainInstance);
  }
  // 19. 20.
  if (!IsHostedByIde() && IsLeakCatcherActive()) InstallLeakMode();
}

void ShutdownBody() {
  TVantorLogFlags& flags = VantorLogFlags();
  if (flags.Initialized == 0) return;
  // Waits for a running report.
  VantorReportLock().lock();
  VantorReportLock().unlock();
  RemoveCaptureHooks();
  StopFreezeDetection();
  ResetVantorEvents();
  // What the reports left behind goes too: a leak report runs after the
  // shut-down and must list the program's blocks only.
  ReleaseReportHistory();
  ReleaseExceptionState();
  if (g_mainThreadHandle) CloseHandle(g_mainThreadHandle);
  g_mainThreadHandle = nullptr;
  // Catching stays on only for a thread that is not excluded.
  if (IsCatchingEnabled() && !IsThreadNotExcluded(GetCurrentThreadId())) SetCatchingEnabled(false);
  ClearExcludedThreads();
  FreeAndNil(g_ownUnitNames);
  FreeAndNil(g_threads);
  // Leak mode: the options for the leak report's restart.
  SaveOptionsForLeakReport(g_modules);
  FreeAndNil(g_modules);
  TVantorProcessesList* processes = VantorProcessesList();
  SetVantorProcessesList(nullptr);
  FreeAndNil(processes);
  FreeAndNil(g_defaultOptions);
  CloseSharedBlock(g_ownShared);
  flags.Initialized = 0;
}

}  // namespace

bool RestartLibraryForLeaks() {
  TVantorLogFlags& flags = VantorLogFlags();
  if (flags.Initialized == 1) return false;  // never shut down: nothing to rebuild
  flags.Initialized = 1;
  BuildLibraryState();
  ReserveEmergencyMemory();
  return true;
}

void EndLibraryAfterLeaks() {
  ShutdownBody();
  ReleaseEmergencyMemory();
}

void ReserveEmergencyMemory() {
  if (!g_emergencyReserve) g_emergencyReserve = VirtualAlloc(nullptr, kEmergencyReserve, MEM_RESERVE, PAGE_NOACCESS);
}

void ReleaseEmergencyMemory() {
  if (g_emergencyReserve) VirtualFree(g_emergencyReserve, 0, MEM_RELEASE);
  g_emergencyReserve = nullptr;
}

// --- Interfaces -----------------------------------------------------------------------------------
TVantorThreadBlock& CurrentThreadBlock() {
  DWORD slot = ThreadBlockSlot();
  DWORD lastError = GetLastError();  // TlsGetValue clears it
  auto* block = static_cast<TVantorThreadBlock*>(TlsGetValue(slot));
  if (!block) {
    void* memory = HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, sizeof(TVantorThreadBlock));
    if (!memory) {
      // Without memory the thread shares one block rather than failing inside a capture.
      static TVantorThreadBlock fallback;
      SetLastError(lastError);
      return fallback;
    }
    block = new (memory) TVantorThreadBlock();
    TlsSetValue(slot, block);
  }
  SetLastError(lastError);
  return *block;
}

void FreeCurrentThreadBlock() {
  DWORD slot = ThreadBlockSlot();
  if (void* block = TlsGetValue(slot)) {
    TlsSetValue(slot, nullptr);
    HeapFree(GetProcessHeap(), 0, block);
  }
}

const TRuntimeHandlerAddresses& RuntimeHandlerAddresses() {
  return g_handlers;
}

long SafeCallExceptionHandler() noexcept {
  return static_cast<long>(0x8000FFFFu);  // E_UNEXPECTED
}

long TSafeObject::SafeCallMethod(void (*body)()) {
  try {
    if (body) body();
    return 0;
  } catch (...) {
    return SafeCallExceptionHandler();
  }
}

bool IsConsoleApp() {
  const IMAGE_NT_HEADERS* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(
      reinterpret_cast<const std::uint8_t*>(GetModuleHandleA(nullptr)) +
      reinterpret_cast<const IMAGE_DOS_HEADER*>(GetModuleHandleA(nullptr))->e_lfanew);
  return nt->OptionalHeader.Subsystem == IMAGE_SUBSYSTEM_WINDOWS_CUI;
}

bool IsWebApp() {
  // An ISAPI extension: a library exporting HttpExtensionProc.
  if (IsModuleDll(ThisModule()) && GetProcAddress(ThisModule(), "HttpExtensionProc")) return true;
  // A CGI program: a console program started with a request method.
  if (IsConsoleApp() && GetEnvironmentVariableA("REQUEST_METHOD", nullptr, 0) != 0) return true;
  // A WinCGI program: a windowed program started with a request file.
  return IsWinCgiApp();
}

int VantorHandCursorId() {
  return g_handCursor;
}

std::string StartupDirectory() {
  return g_startDirectory;
}

HANDLE MainThreadHandle() {
  return g_mainThreadHandle;
}

TVantorThreadsList* VantorThreadsList() {
  return g_threads;
}

bool IsOwnUnitName(const std::string& unitName) {
  if (!g_ownUnitNames) return false;
  const std::string name = ChangeFileExt(ExtractFileName(unitName), "");
  int index;
  return g_ownUnitNames->Find(name, index);
}

HMODULE VantorMainInstance() {
  return g_mainInstance;
}

std::string SharedBlockName(DWORD processId, HMODULE module) {
  return IntToHex(processId, 8) + IntToHex(static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(module)), 8);
}

bool ModuleHasDataBlock(HMODULE module) {
  std::string_view bytes;
  if (FindResourceBlock(module, bytes)) return true;
  std::uint16_t version;
  return FindTrailer(ModuleFileName(module), version);
}

std::uint16_t GetDataBlockVersion(HMODULE module) {
  std::string_view bytes;
  if (FindResourceBlock(module, bytes)) {
    if (bytes.size() < 6) return 0;
    return static_cast<std::uint16_t>(static_cast<std::uint8_t>(bytes[4]) | (static_cast<std::uint8_t>(bytes[5]) << 8));
  }
  std::uint16_t version = 0;
  return FindTrailer(ModuleFileName(module), version) ? version : 0;
}

bool ModuleDataBlockIsCurrent(HMODULE module) {
  return ModuleHasDataBlock(module) && DataBlockVersionIsCurrent(GetDataBlockVersion(module));
}

// The password-request handlers and callback of this module, on the
// faulting thread when a report runs; their answer is the shared password.
static void AskPasswordHandlers() {
  TVantorEventState& events = VantorEventState();
  CallPasswordRequestHandlers(events.Current, events.Password);
}

bool LoadModuleDataBlock(TVantorModuleInfo& entry) {
  try {
    HMODULE module = reinterpret_cast<HMODULE>(entry.Handle);
    TDataBlockReading how;
    how.LightScan = VantorLogFlags().LightScan;
    how.IsOwnModule = module == ThisModule();
    // The password of the block's protected part: first what this module's
    // handlers answer, then (for another module) that module's own
    // password-request export.
    how.FirstPasswordSource = [] {
      VantorEventState().Password.clear();
      RunEventOnFaultingThread(&AskPasswordHandlers);
      return VantorEventState().Password;
    };
    if (!how.IsOwnModule)
      how.SecondPasswordSource = [module] { return CallPasswordRequestExport(module, VantorEventState().Password); };
    bool ok = false;
    std::string_view bytes;
    std::uint16_t version;
    if (FindResourceBlock(module, bytes)) {
      ok = ReadResourceDataBlock(bytes, entry, how);
    } else if (FindTrailer(entry.FileName, version)) {
      TOwned<TFileStream> f(New<TFileStream>(entry.FileName, fmOpenRead | fmShareDenyNone));
      ok = ReadTrailerDataBlock(*f, entry, how);
    }
    if (ok && !how.IsOwnModule && entry.Options) LoadPublishedModuleOptions(*entry.Options);
    return ok;
  } catch (...) {
    return false;
  }
}

bool BuildModuleEntry(HMODULE module, const std::string& fileName, bool full) {
  auto* entry = new TVantorModuleInfo;
  entry->Handle = reinterpret_cast<ModuleHandle>(module);
  entry->FileName = fileName;
  entry->FileTime = GetFileModifiedTime(fileName);
  ReadVersionInfo(fileName, entry->Description, entry->Version);
  entry->FileSize = FileSizeOf(fileName);
  entry->Exports = New<TVantorFunctionsList>();
  const bool light = VantorLogFlags().LightScan;
  if (full && !light) {
    if (module != GetModuleHandleA(nullptr)) ReadExportTable(module, *entry->Exports);
    entry->Kind = GetModuleKind(module);
  }
  entry->Options = New<TVantorModuleOptionsEx>(fileName);
  if (!full || !LoadModuleDataBlock(*entry)) {
    entry->DataVersion = kCurrentDataVersion;
    entry->BuildTime = 0;
    FreeAndNil(entry->DebugData);
    entry->Options->SetDefaults();
    if (full && !light) OpenDebugInfoSource(reinterpret_cast<ModuleHandle>(module), entry->DebugSource);
  }
  if (!g_modules) g_modules = New<TVantorModulesList>();
  g_modules->AddModule(entry);
  return true;
}

bool AddModuleEntry(HMODULE module) {
  const std::string fileName = ModuleFileName(module);
  return BuildModuleEntry(module, fileName, !fileName.empty());
}

bool ReadExportTable(HMODULE module, TVantorFunctionsList& list) {
  auto base = reinterpret_cast<const std::uint8_t*>(module);
  if (!module || !IsReadableMemory(base, 64)) return false;
  auto dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
  if (dos->e_magic != IMAGE_DOS_SIGNATURE || dos->e_lfanew <= 0) return false;
  auto nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
  if (!IsReadableMemory(nt, sizeof(IMAGE_NT_HEADERS)) || nt->Signature != IMAGE_NT_SIGNATURE) return false;
  const std::size_t imageSize = nt->OptionalHeader.SizeOfImage;
  if (!IsReadableMemory(base + nt->OptionalHeader.BaseOfCode, nt->OptionalHeader.SizeOfCode)) return false;
  if (!IsReadableMemory(base, imageSize)) return false;
  const bool win9x = GetCoreSystemApi().IsWin9x();
  bool ok = ReadExportTableFromImage(
      base, imageSize, reinterpret_cast<std::uintptr_t>(base), list, [module](const std::string& name) {
        return reinterpret_cast<std::uintptr_t>(reinterpret_cast<void*>(GetProcAddress(module, name.c_str())));
      });
  if (ok && win9x) {
    // Exports of the 9x line may point at a push-then-jump stub.
    for (int i = 0; i < list.Count(); ++i) {
      auto p = reinterpret_cast<const std::uint8_t*>(list.Items(i)->Address);
      if (IsReadableMemory(p, 10) && p[0] == 0x68 && p[5] == 0xE9) {
        std::uint32_t pushed;
        std::memcpy(&pushed, p + 1, 4);
        list.Items(i)->Address = pushed;
      }
    }
    list.SortByAddress();
  }
  return ok;
}

TVantorModulesList* VantorModulesList() {
  return g_modules;
}

TVantorModuleOptionsEx* DefaultVantorLogOptions() {
  return g_defaultOptions;
}

TVantorModuleOptionsEx* CurrentVantorLogOptions() {
  TVantorModuleInfo* entry = g_modules ? g_modules->FindModule(reinterpret_cast<ModuleHandle>(ThisModule())) : nullptr;
  if (!entry || !entry->Options) {
    throw EAssertionFailed(
        Format("\r\nCannot use 'CurrentVantorLogOptions' function in module \"%s\" without activate VantorLog.\r\nTo "
               "activate VantorLog use the new IDE \"Project/VantorLog Options...\" menu. (ExceptionLog)",
               ExtractFileName(ModuleFileName(ThisModule()))));
  }
  return entry->Options;
}

void PublishModuleOptions(const TVantorModuleOptions& options) {
  if (!options.OwnerModuleHandle()) return;
  try {
    TOwned<TMemoryStream> s(New<TMemoryStream>());
    s->WriteU8(1);
    options.SaveToStream(*s);
    HMODULE module = reinterpret_cast<HMODULE>(options.OwnerModuleHandle());
    if (module == ThisModule()) CloseSharedBlock(g_ownShared);
    SharedBlock block = OpenSharedBlock(module, static_cast<std::uint32_t>(s->Size()));
    if (block.Data() && block.dataSize >= s->Size())
      std::memcpy(block.Data(), s->Memory(), static_cast<std::size_t>(s->Size()));
    if (module == ThisModule())
      g_ownShared = block;
    else
      CloseSharedBlock(block);
  } catch (...) {
    SwallowException("ExceptionLog.PublishModuleOptions");
  }
}

void LoadPublishedModuleOptions(TVantorModuleOptions& options) {
  SharedBlock block = OpenSharedBlock(reinterpret_cast<HMODULE>(options.OwnerModuleHandle()), 0);
  if (!block.Data() || block.dataSize < 1 || block.Data()[0] == 0) {
    CloseSharedBlock(block);
    return;
  }
  const std::uint16_t saved = OptionStreamVersion();
  SetOptionStreamVersion(kCurrentDataVersion);
  try {
    TOwned<TReadOnlyMemoryStream> s(New<TReadOnlyMemoryStream>(block.Data() + 1, block.dataSize - 1));
    options.LoadFromStream(*s);
  } catch (...) {
    SwallowException("ExceptionLog.LoadPublishedModuleOptions");
  }
  SetOptionStreamVersion(saved);
  CloseSharedBlock(block);
}

void SetCloseAction(std::uint8_t action) {
  if (VantorLogFlags().Initialized != 1) return;
  VantorLogFlags().TerminationRequested = 1;
  TVantorModuleOptionsEx* options = VantorEventState().HasCurrent ? g_defaultOptions : CurrentVantorLogOptions();
  if (options) options->SetTerminateAction(action);
}

LONG WINAPI VantorLogUnhandledFilter(EXCEPTION_POINTERS* info) {
  VantorLogFlags().ReportOnFaultingThread = 1;
  const EXCEPTION_RECORD* record = info ? info->ExceptionRecord : nullptr;
  const DWORD code = record ? record->ExceptionCode : 0;
  // A dormant library allocates nothing here (the heap may be what failed);
  // an active one reports the exception, unless its message is the one
  // reported last, before the process ends.
  if (VantorLogFlags().Initialized == 1 && record) {
    try {
      std::shared_ptr<const TExceptionObjectRecord> object;
      std::uintptr_t address = reinterpret_cast<std::uintptr_t>(record->ExceptionAddress);
      TCurrentExceptionInfo current = CurrentExceptionInfo();
      // A language raise that nothing caught (the 64-bit run-time raises its
      // exceptions as system exceptions): the exception the throw noted.
      if ((code == kLanguageRaiseCode || code == kRuntimeRaiseCode) && current.Object) {
        object = current.Object;
        address = current.Address;
      } else {
        object = UnhandledFilterObject(record);
      }
      if (object && FilterMessageText(object.get()) != LastReportedMessage())
        ReportFromUnhandledFilter(object, address, record, info->ContextRecord);
    } catch (...) {
    }
  }
  TerminateProcess(GetCurrentProcess(), code);
  return EXCEPTION_EXECUTE_HANDLER;
}

void InitExceptionLog() {
  if (g_initCount++ > 0) return;
  try {
    RunGuardedStep(StartupBody, "ExceptionLog.Init");
  } catch (const EAbort&) {
    // Reported through the internal-failure hook; the library stays off.
    VantorLogFlags().Initialized = 0;
  }
  ReserveEmergencyMemory();
  LPTOP_LEVEL_EXCEPTION_FILTER previous = SetUnhandledExceptionFilter(VantorLogUnhandledFilter);
  if (!g_filterInstalled) g_previousFilter = previous;  // a program's start-up after its shut-down keeps the first
  g_filterInstalled = true;
}

void DoneExceptionLog() {
  if (g_initCount == 0 || --g_initCount > 0) return;
  try {
    RunGuardedStep(ShutdownBody, "ExceptionLog.Done");
  } catch (const EAbort&) {
    VantorLogFlags().Initialized = 0;
  }
  UnwrapUnitEntries();
  ReleaseEmergencyMemory();
  std::string().swap(g_startDirectory);  // its memory too: the leak report comes later
  // A program keeps its filter to the end: a fault in the shut-downs and
  // destructors that run after this one still ends the process with the
  // fault's code (the filter reports nothing once the library is off). A DLL
  // that is unloaded must not leave its filter behind.
  if (g_filterInstalled && IsModuleDll(ThisModule())) {
    LPTOP_LEVEL_EXCEPTION_FILTER current = SetUnhandledExceptionFilter(g_previousFilter);
    if (current != VantorLogUnhandledFilter) SetUnhandledExceptionFilter(current);
    g_filterInstalled = false;
  }
}
