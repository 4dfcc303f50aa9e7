#include "ExceptionLogImports.h"

#include <httpext.h>

#include <cstring>
#include <exception>
#include <iterator>
#include <memory>
#include <mutex>

#include "ECoreWin.h"
#include "EHookWin.h"
#include "EReportBuilderWin.h"
#include "ExceptionLogCapture.h"
#include "ExceptionLogWin.h"
#include "Object.h"
#include "Thread.h"
#include "Win32Platform.h"

namespace {

using RaiseExceptionProc = void(WINAPI*)(DWORD, DWORD, DWORD, const ULONG_PTR*);
using RtlUnwindProc = void(WINAPI*)(PVOID, PVOID, PEXCEPTION_RECORD, PVOID);
using WriteFileProc = BOOL(WINAPI*)(HANDLE, LPCVOID, DWORD, LPDWORD, LPOVERLAPPED);
using CreateThreadProc = HANDLE(WINAPI*)(LPSECURITY_ATTRIBUTES, SIZE_T, LPTHREAD_START_ROUTINE, LPVOID, DWORD, LPDWORD);
using ResumeThreadProc = DWORD(WINAPI*)(HANDLE);
using ExitThreadProc = void(WINAPI*)(DWORD);

// The codes of the x86_64 run-time's raises for a C++ throw and for its unwinding.
constexpr DWORD kRuntimeThrowCode = 0x20474343u;
constexpr DWORD kRuntimeUnwindCode = 0x21474343u;

void* g_raiseException = nullptr;
void* g_rtlUnwind = nullptr;
void* g_writeFile = nullptr;
void* g_createThread = nullptr;
void* g_resumeThread = nullptr;
void* g_exitThread = nullptr;

// The hooks that reached an import slot, by procedure name.
struct InstalledHook {
  const char* name;
  bool installed;
};
InstalledHook g_installedHooks[] = {{"RaiseException", false}, {"RtlUnwind", false},    {"WriteFile", false},
                                    {"CreateThread", false},   {"ResumeThread", false}, {"ExitThread", false}};

std::mutex g_htmlLock;
std::string g_lastHtmlPage;

// An original still unknown when its hook runs is taken from kernel32 then.
template <class Proc>
Proc Original(void*& saved, const char* name) {
  void* proc = __atomic_load_n(&saved, __ATOMIC_ACQUIRE);
  if (!proc) {
    proc = reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("kernel32.dll"), name));
    __atomic_store_n(&saved, proc, __ATOMIC_RELEASE);
  }
  return reinterpret_cast<Proc>(proc);
}

bool IsActive() {
  return VantorLogFlags().Initialized == 1;
}

// The main module's export `name` when the main program carries the library too (else null).
template <class Proc>
Proc MainModuleExport(const char* name, Proc own) {
  if (!VantorLogFlags().MainModuleHasLibrary) return nullptr;
  HMODULE main = VantorMainInstance();
  Proc proc = main ? reinterpret_cast<Proc>(reinterpret_cast<void*>(GetProcAddress(main, name))) : nullptr;
  return proc == own ? nullptr : proc;
}

std::uintptr_t StackTop() {
  std::uintptr_t limit = 0, top = 0;
  CurrentStackBounds(limit, top);
  return top;
}

// --- Raises and unwinds --------------------------------------------------------------------------

// Whether a notification for a debugger carries its CONTEXT block.
bool IsDebuggerContextNotification(DWORD code, DWORD flags, DWORD argumentCount, const ULONG_PTR* arguments) {
  if (code != kDebuggerNotificationCode || flags != 0 || argumentCount != 2 || !arguments) return false;
  if (!ProcessMemory().IsReadable(reinterpret_cast<std::uintptr_t>(arguments), 2 * sizeof(ULONG_PTR))) return false;
  DWORD first = 0;
  return ProcessMemory().IsReadable(arguments[0], 80) && ProcessMemory().Read(arguments[0], &first, sizeof first) &&
         first == kFullContextFlags;
}

void RaiseExceptionWork(std::uintptr_t ecx, void* raiseStackPosition, DWORD code, DWORD flags, DWORD argumentCount,
                        const ULONG_PTR* arguments) {
  auto original = Original<RaiseExceptionProc>(g_raiseException, "RaiseException");
  // On x86_64 the run-time carries each C++ throw and its unwinding in a
  // raise of its own; the throw wrapper has noted the throw already.
  if (code == kRuntimeThrowCode || code == kRuntimeUnwindCode) return original(code, flags, argumentCount, arguments);
  if (IsActive()) {
    TVantorThreadBlock& block = CurrentThreadBlock();
    block.RaiseStackPosition = raiseStackPosition;
    block.RaiseEcx = ecx;
  }
  // A thread-naming notification is the debugger's business alone.
  if (code == kThreadNamingCode && argumentCount == 4) {
    NoteThreadNamingRaise(argumentCount, arguments);
    return original(code, flags, argumentCount, arguments);
  }
  // Without a debugger nobody reads this notification; raised, it would end the program.
  if (IsDebuggerContextNotification(code, flags, argumentCount, arguments) && !IsDebuggerAttached()) return;
  if (IsActive()) {
    try {
      RunRaiseHandler(code, flags, argumentCount, arguments, true);
    } catch (...) {
      // Nothing of the library's own may stop the raise.
    }
  }
  original(code, flags, argumentCount, arguments);
}

void WINAPI RtlUnwindHook(PVOID targetFrame, PVOID targetIp, PEXCEPTION_RECORD record, PVOID returnValue) {
  auto original = Original<RtlUnwindProc>(g_rtlUnwind, "RtlUnwind");
  if (IsActive()) {
    DWORD lastError = GetLastError();
    auto caller = reinterpret_cast<std::uintptr_t>(__builtin_dwarf_cfa());
    TVantorThreadBlock& block = CurrentThreadBlock();
    block.RaiseStackPosition = reinterpret_cast<void*>(caller);
    if (record && ProcessMemory().IsReadable(reinterpret_cast<std::uintptr_t>(record), sizeof *record) &&
        record->ExceptionCode >= 0xC0000005u && record->ExceptionCode <= 0xC000013Au && record->ExceptionFlags == 2) {
      try {
        SnapshotFrom(caller, caller, reinterpret_cast<std::uintptr_t>(record->ExceptionAddress), false);
      } catch (...) {
      }
    }
    SetLastError(lastError);
  }
  original(targetFrame, targetIp, record, returnValue);
}

// --- Output of a CGI program ---------------------------------------------------------------------

BOOL WINAPI WriteFileHook(HANDLE file, LPCVOID buffer, DWORD count, LPDWORD written, LPOVERLAPPED overlapped) {
  auto original = Original<WriteFileProc>(g_writeFile, "WriteFile");
  if (IsActive() && buffer && count && IsWebApp() && IsConsoleApp() && file == GetStdHandle(STD_OUTPUT_HANDLE)) {
    DWORD lastError = GetLastError();
    try {
      if (ProcessMemory().IsReadable(reinterpret_cast<std::uintptr_t>(buffer), count))
        SetLastHtmlPage(std::string(static_cast<const char*>(buffer), count));
    } catch (...) {
    }
    SetLastError(lastError);
  }
  return original(file, buffer, count, written, overlapped);
}

// --- Threads -------------------------------------------------------------------------------------

// What a wrapped start runs. It travels with the thread, so that the thread
// runs even when its record is gone (a record whose handle the caller has
// closed is dropped at the next creation).
struct TWrappedStart {
  LPTHREAD_START_ROUTINE Routine = nullptr;  // a plain thread's start routine
  void (*Function)(void*) = nullptr;         // or a start pair's function
  void* Parameter = nullptr;
};

// The calling thread's record learns its stack top.
void NoteOwnStackTop() {
  TVantorThreadsList* list = VantorThreadsList();
  if (!IsActive() || !list) return;
  const std::uintptr_t top = StackTop();
  list->LockForWrite();
  int i = list->IndexOfThreadId(GetCurrentThreadId());
  if (i >= 0) list->GetThreadInfo(i)->StackTop = top;
  list->UnlockWrite();
}

DWORD WINAPI WrappedThreadStart(LPVOID parameter) {
  TWrappedStart start = *static_cast<TWrappedStart*>(parameter);
  delete static_cast<TWrappedStart*>(parameter);
  NoteOwnStackTop();
  DWORD result = start.Routine(start.Parameter);
  FreeCurrentThreadBlock();
  return result;
}

void WrappedThreadFunction(void* parameter) {
  TWrappedStart start = *static_cast<TWrappedStart*>(parameter);
  delete static_cast<TWrappedStart*>(parameter);
  NoteOwnStackTop();
  start.Function(start.Parameter);
  FreeCurrentThreadBlock();
}

// A thread's handle in the list, from another module (forwarded records have no stack copy of their own).
void ForwardCreatedThread(const TVantorThreadInfo& record) {
  if (auto forward = MainModuleExport("VantorLog_CallCreateThread", &VantorLog_CallCreateThread)) forward(&record);
}

HANDLE WINAPI CreateThreadHook(LPSECURITY_ATTRIBUTES attributes, SIZE_T stackSize, LPTHREAD_START_ROUTINE start,
                               LPVOID parameter, DWORD flags, LPDWORD idOut) {
  auto original = Original<CreateThreadProc>(g_createThread, "CreateThread");
  TVantorThreadsList* list = VantorThreadsList();
  if (!IsActive() || !list) return original(attributes, stackSize, start, parameter, flags, idOut);

  list->RemoveEndedThreads(&IsThreadActive);
  TVantorThreadInfo* record = list->NewThreadInfo(false);
  record->StartParameter = parameter;
  bool ownThread = false;
  LPTHREAD_START_ROUTINE createdStart = start;
  LPVOID createdParameter = parameter;
  TWrappedStart* wrapped = nullptr;
  auto* pair = static_cast<TThreadStartPair*>(parameter);
  TThreadStartPair keptPair{};
  if (start == FrameworkThreadStartRoutine() && pair &&
      ProcessMemory().IsReadable(reinterpret_cast<std::uintptr_t>(pair), sizeof *pair)) {
    keptPair = *pair;
    record->FrameworkThreadFunction = reinterpret_cast<void*>(pair->entry);
    record->StartParameter = pair->arg;
    if (TThread* thread = TThread::FromThreadEntry(pair->entry, pair->arg)) {
      // Its Execute runs through the framework's thread slot, which the library holds.
      record->ThreadObject = thread;
      record->OriginalExecute = reinterpret_cast<void*>(&TThread::CallExecute);
      ownThread = IsLibraryThreadObject(thread);
    } else {
      wrapped = new TWrappedStart{nullptr, pair->entry, pair->arg};
      pair->entry = &WrappedThreadFunction;
      pair->arg = wrapped;
    }
  } else {
    record->StartRoutine = reinterpret_cast<void*>(start);
    wrapped = new TWrappedStart{start, nullptr, parameter};
    createdStart = &WrappedThreadStart;
    createdParameter = wrapped;
  }

  // Created suspended whatever the caller asked, so that the record is in
  // the list before the thread runs; the caller's other flags are kept.
  DWORD localId = 0;
  if (!idOut) idOut = &localId;
  HANDLE handle = original(attributes, stackSize, createdStart, createdParameter, flags | CREATE_SUSPENDED, idOut);
  if (!handle) {
    if (wrapped && wrapped->Function) *pair = keptPair;
    delete wrapped;
  }
  if (!handle || ownThread) {
    delete record;
  } else {
    record->ThreadId = *idOut;
    record->ThreadHandle = reinterpret_cast<std::uintptr_t>(handle);
    list->LockForWrite();
    list->Add(record);
    list->UnlockWrite();
    ForwardCreatedThread(*record);
  }
  // Resumed through the hook, so that its record names this thread as the resumer.
  if (handle && !(flags & CREATE_SUSPENDED)) ResumeThread(handle);
  return handle;
}

DWORD WINAPI ResumeThreadHook(HANDLE thread) {
  auto original = Original<ResumeThreadProc>(g_resumeThread, "ResumeThread");
  TVantorThreadsList* list = VantorThreadsList();
  if (IsActive() && list && !CurrentThreadBlock().Reporting) {
    DWORD lastError = GetLastError();
    // The resumer's stack from here to its top.
    auto from = reinterpret_cast<std::uintptr_t>(__builtin_frame_address(0));
    std::uintptr_t top = StackTop();
    std::uint8_t* copy = nullptr;
    std::uint32_t size = 0;
    if (top > from && ProcessMemory().IsReadable(from, top - from)) {
      size = static_cast<std::uint32_t>(top - from);
      copy = new (std::nothrow) std::uint8_t[size];
      if (copy)
        std::memcpy(copy, reinterpret_cast<const void*>(from), size);
      else
        size = 0;
    }
    // Changed under the write lock: two resumers of one thread must not free one copy twice.
    list->LockForWrite();
    int i = list->IndexOfHandle(reinterpret_cast<std::uintptr_t>(thread));
    if (i >= 0) {
      TVantorThreadInfo* record = list->GetThreadInfo(i);
      record->ResumerThreadId = GetCurrentThreadId();
      if (copy) {
        if (!record->Forwarded) delete[] record->ResumerStack;
        record->ResumerStack = copy;
        record->ResumerStackSize = size;
        record->Forwarded = 0;
        copy = nullptr;
      }
      if (auto forward = MainModuleExport("VantorLog_CallResumeThread", &VantorLog_CallResumeThread))
        forward(thread, record);
    }
    list->UnlockWrite();
    delete[] copy;
    SetLastError(lastError);
  }
  return original(thread);
}

void WINAPI ExitThreadHook(DWORD code) {
  auto original = Original<ExitThreadProc>(g_exitThread, "ExitThread");
  if (IsActive()) {
    if (TVantorThreadsList* list = VantorThreadsList()) list->RemoveCurrentThread(GetCurrentThreadId());
    if (!VantorLogFlags().ShutdownBegun) {
      if (auto forward = MainModuleExport("VantorLog_CallExitThread", &VantorLog_CallExitThread)) forward();
    }
    FreeCurrentThreadBlock();
  }
  original(code);
}

}  // namespace

// --- The RaiseException entry ----------------------------------------------------------------------
// On i386 the hook's entry passes the caller's ECX on: it puts it before the
// four arguments, so that the body (five arguments, stdcall) removes it with them.
#if defined(__i386__)
extern "C" void __stdcall VantorRaiseExceptionEntry(DWORD code, DWORD flags, DWORD argumentCount,
                                                    const ULONG_PTR* arguments);
extern "C" void __stdcall VantorRaiseExceptionBody(std::uintptr_t ecx, DWORD code, DWORD flags, DWORD argumentCount,
                                                   const ULONG_PTR* arguments) {
  // Above the return address and ECX lies the caller's stack.
  void* caller = static_cast<char*>(__builtin_dwarf_cfa()) + sizeof(std::uintptr_t);
  RaiseExceptionWork(ecx, caller, code, flags, argumentCount, arguments);
}
asm(".text\n"
    ".globl _VantorRaiseExceptionEntry@16\n"
    "_VantorRaiseExceptionEntry@16:\n"
    "  popl %eax\n"
    "  pushl %ecx\n"
    "  pushl %eax\n"
    "  jmp _VantorRaiseExceptionBody@20\n");
#else
extern "C" void WINAPI VantorRaiseExceptionEntry(DWORD code, DWORD flags, DWORD argumentCount,
                                                 const ULONG_PTR* arguments) {
  RaiseExceptionWork(0, __builtin_dwarf_cfa(), code, flags, argumentCount, arguments);
}
#endif

bool IsLibraryThreadObject(const TObject* thread) {
  static const char* const kLibraryThreadClasses[] = {"TExceptionThread", "TFreezeThread", "TSendDialogThread",
                                                      "TSendThread"};
  if (!thread) return false;
  for (const char* name : kLibraryThreadClasses)
    if (thread->ClassNameIs(name)) return true;
  return false;
}

std::string LastHtmlPage() {
  std::lock_guard<std::mutex> guard(g_htmlLock);
  return g_lastHtmlPage;
}

void SetLastHtmlPage(const std::string& page) {
  std::lock_guard<std::mutex> guard(g_htmlLock);
  g_lastHtmlPage = page;
}

namespace {

void HookImport(const std::vector<std::string>& modules, const char* name, void*& original, void* hook) {
  try {
    void* old = nullptr;
    bool patched = HookImportInModules(modules, "kernel32.dll", true, old, hook, name);
    if (old) __atomic_store_n(&original, old, __ATOMIC_RELEASE);
    for (InstalledHook& h : g_installedHooks)
      if (std::strcmp(h.name, name) == 0) h.installed = h.installed || patched;
  } catch (...) {
    // A module that cannot be patched keeps its import.
  }
}

}  // namespace

void InstallImportHooks() {
  // The modules: an empty name, the module that holds the framework's root class, an empty name.
  HMODULE rootModule = nullptr;
  GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                     reinterpret_cast<LPCSTR>(reinterpret_cast<void*>(&TObject::StaticClass)), &rootModule);
  const std::vector<std::string> modules = {std::string(), GetModuleFileNameOf(rootModule), std::string()};
  HookImport(modules, "RaiseException", g_raiseException, reinterpret_cast<void*>(&VantorRaiseExceptionEntry));
  HookImport(modules, "RtlUnwind", g_rtlUnwind, reinterpret_cast<void*>(&RtlUnwindHook));
  HookImport(modules, "WriteFile", g_writeFile, reinterpret_cast<void*>(&WriteFileHook));
  if (void* extension = reinterpret_cast<void*>(GetProcAddress(rootModule, "HttpExtensionProc")))
    HookHttpExtensionProc(extension);
  HookImport(modules, "CreateThread", g_createThread, reinterpret_cast<void*>(&CreateThreadHook));
  HookImport(modules, "ResumeThread", g_resumeThread, reinterpret_cast<void*>(&ResumeThreadHook));
  HookImport(modules, "ExitThread", g_exitThread, reinterpret_cast<void*>(&ExitThreadHook));
}

bool ImportHookInstalled(const char* procName) {
  for (const InstalledHook& h : g_installedHooks)
    if (std::strcmp(h.name, procName) == 0) return h.installed;
  return false;
}

// --- Handler patches -------------------------------------------------------------------------------
// A patched handler's descriptor: the code that runs the original (first:
// the entry thunk jumps through it), the mode it reports with, whether the
// original runs whatever the answer, and the bytes of stack arguments the
// handler removes when it returns (at offset 12: the entry thunk reads it).
struct TPatchedHandler {
  void* Original;
  std::uint32_t Mode;
  std::uint32_t AlwaysOriginal;
  std::uint32_t ArgumentBytes;
};

extern "C" {
TPatchedHandler VantorPatchedHandler4 = {nullptr, kModeWeb, 0, 0};
TPatchedHandler VantorPatchedHandler5 = {nullptr, kModeWeb, 0, 0};
TPatchedHandler VantorPatchedHandler9 = {nullptr, kModeServer, 1, 0};
TPatchedHandler VantorPatchedHandler10 = {nullptr, kModeServer, 0, 0};

// Reports the exception at hand; 1 when the original is to run.
std::uint32_t VantorReportFromPatchedHandler(const TPatchedHandler* handler) {
  if (VantorLogFlags().Initialized != 1) return 1;
  DWORD lastError = GetLastError();
  std::uint32_t result = 1;
  try {
    std::shared_ptr<const TExceptionObjectRecord> object;
    std::uintptr_t address = 0;
    if (std::exception_ptr error = std::current_exception()) {
      address = reinterpret_cast<std::uintptr_t>(CurrentThreadBlock().RaiseAddress);
      object = std::make_shared<const TExceptionObjectRecord>(MakeExceptionObjectRecord(error, address));
    } else {
      TCurrentExceptionInfo current = CurrentExceptionInfo();
      object = current.Object;
      address = current.Address;
    }
    if (object) {
      HMODULE module = nullptr;
      GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                         reinterpret_cast<LPCSTR>(&VantorReportFromPatchedHandler), &module);
      result = ExceptionManagerCall(object, address, static_cast<std::uint8_t>(handler->Mode), module);
    }
  } catch (...) {
    result = 1;
  }
  SetLastError(lastError);
  return handler->AlwaysOriginal ? 1 : result;
}
}  // extern "C"

#if defined(__i386__)
// Each entry keeps every register and the stack as the caller left them: it
// asks the report, then jumps to the original (same arguments) or returns
// the answer in EAX, removing the handler's stack arguments as the handler's
// own return does (through ECX and EDX, which no calling convention keeps
// across a call).
#define VANTOR_PATCH_ENTRY(N)                \
  ".globl _VantorPatchedEntry" #N            \
  "\n"                                       \
  "_VantorPatchedEntry" #N                   \
  ":\n"                                      \
  "  pushal\n"                               \
  "  pushl $_VantorPatchedHandler" #N        \
  "\n"                                       \
  "  call _VantorReportFromPatchedHandler\n" \
  "  addl $4, %esp\n"                        \
  "  cmpl $1, %eax\n"                        \
  "  jne 1f\n"                               \
  "  popal\n"                                \
  "  jmp *_VantorPatchedHandler" #N          \
  "\n"                                       \
  "1:\n"                                     \
  "  movl %eax, 28(%esp)\n"                  \
  "  popal\n"                                \
  "  movl _VantorPatchedHandler" #N          \
  "+12, %ecx\n"                              \
  "  popl %edx\n"                            \
  "  addl %ecx, %esp\n"                      \
  "  jmp *%edx\n"
asm(".text\n" VANTOR_PATCH_ENTRY(4) VANTOR_PATCH_ENTRY(5) VANTOR_PATCH_ENTRY(9) VANTOR_PATCH_ENTRY(10));
extern "C" void VantorPatchedEntry4();
extern "C" void VantorPatchedEntry5();
extern "C" void VantorPatchedEntry9();
extern "C" void VantorPatchedEntry10();
#endif

namespace {

TClassLibraryTarget g_targets[11];

[[maybe_unused]] void PatchHandler(int id, TPatchedHandler* handler, void (*entry)(), TSymbolValueLookup symbolValue) {
  TClassLibraryTarget& target = g_targets[id];
  if (!target.Address || !entry) return;
  // Returning for the handler needs to know how much of the stack it owns.
  std::uint32_t bytes = 0;
  if (symbolValue && !symbolValue(static_cast<std::uint8_t>(id), bytes)) bytes = 0;
  if (!IsHandlerArgumentSize(bytes)) return;
  handler->ArgumentBytes = bytes;
  try {
    handler->Original =
        HookProcedureCode(target.Address, reinterpret_cast<void*>(entry), "handler " + std::to_string(id));
    target.Patched = true;
  } catch (...) {
    // Code that cannot be moved (or a build without code hooks) keeps its handler.
  }
}

}  // namespace

bool IsHandlerArgumentSize(std::uint32_t bytes) {
  return bytes % 4 == 0 && bytes <= 1020;
}

void HookClassLibraryHandlers(TSymbolAddressLookup symbolAddress, TSymbolValueLookup symbolValue) {
  for (TClassLibraryTarget& t : g_targets) t = TClassLibraryTarget();
  auto symbol = [symbolAddress](std::uint8_t id) { return symbolAddress ? symbolAddress(id) : nullptr; };
  g_targets[5].Address = symbol(5);
  g_targets[4].Address = symbol(4);
  // The web and network frameworks' handlers are found as block symbols only:
  // our modules link every framework statically, so there is no run-time
  // package of theirs to look them up in.
  g_targets[6].Address = symbol(6);
  g_targets[7].Address = symbol(7);
  g_targets[8].Address = symbol(8);
  g_targets[9].Address = symbol(9);
  g_targets[10].Address = symbol(10);
#if defined(__i386__)
  PatchHandler(5, &VantorPatchedHandler5, &VantorPatchedEntry5, symbolValue);
  PatchHandler(4, &VantorPatchedHandler4, &VantorPatchedEntry4, symbolValue);
  PatchHandler(9, &VantorPatchedHandler9, &VantorPatchedEntry9, symbolValue);
  PatchHandler(10, &VantorPatchedHandler10, &VantorPatchedEntry10, symbolValue);
#else
  (void)symbolValue;
#endif
}

TClassLibraryTarget ClassLibraryTarget(int id) {
  return id >= 0 && id < static_cast<int>(std::size(g_targets)) ? g_targets[id] : TClassLibraryTarget();
}

bool NetworkThreadHookInstalled() {
  return g_targets[10].Patched;
}

// --- The server extension's entry ------------------------------------------------------------------
namespace {

using HttpExtensionProcFn = DWORD(WINAPI*)(EXTENSION_CONTROL_BLOCK*);
using WriteClientFn = BOOL(WINAPI*)(HCONN, LPVOID, LPDWORD, DWORD);

void* g_httpExtensionOriginal = nullptr;
EXTENSION_CONTROL_BLOCK* g_keptControlBlock = nullptr;
WriteClientFn g_keptWriteClient = nullptr;
bool g_sendingErrorPage = false;

// What the extension writes to its client is the last HTML page (unless it is the library's error page).
BOOL WINAPI WriteClientHook(HCONN connection, LPVOID buffer, LPDWORD bytes, DWORD reserved) {
  if (!g_sendingErrorPage && buffer && bytes &&
      ProcessMemory().IsReadable(reinterpret_cast<std::uintptr_t>(bytes), sizeof *bytes) &&
      ProcessMemory().IsReadable(reinterpret_cast<std::uintptr_t>(buffer), *bytes)) {
    try {
      SetLastHtmlPage(std::string(static_cast<const char*>(buffer), *bytes));
    } catch (...) {
    }
  }
  return g_keptWriteClient ? g_keptWriteClient(connection, buffer, bytes, reserved) : FALSE;
}

DWORD WINAPI HttpExtensionProcHook(EXTENSION_CONTROL_BLOCK* block) {
  if (block && ProcessMemory().IsReadable(reinterpret_cast<std::uintptr_t>(block), sizeof *block)) {
    g_keptControlBlock = block;
    if (block->WriteClient != &WriteClientHook) {
      g_keptWriteClient = block->WriteClient;
      block->WriteClient = &WriteClientHook;
    }
  }
  return reinterpret_cast<HttpExtensionProcFn>(g_httpExtensionOriginal)(block);
}

}  // namespace

void* KeptExtensionControlBlock() {
  return g_keptControlBlock;
}

bool HookHttpExtensionProc(void* procedure) {
  if (!procedure) return false;
  try {
    g_httpExtensionOriginal =
        HookProcedureCode(procedure, reinterpret_cast<void*>(&HttpExtensionProcHook), "HttpExtensionProc");
    return true;
  } catch (...) {
    return false;  // a build without code hooks keeps the entry
  }
}

void SetSendingErrorPage(bool sending) {
  g_sendingErrorPage = sending;
}
