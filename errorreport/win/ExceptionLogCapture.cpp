#include "ExceptionLogCapture.h"

#include <cstdlib>
#include <cstring>
#include <exception>
#include <mutex>
#include <new>
#include <typeinfo>

#include "ECoreWin.h"
#include "EHookWin.h"
#include "EPipelineWin.h"
#include "ExceptionLogWin.h"
#include "Forms.h"
#include "Swallow.h"
#include "Thread.h"
#include "Units.h"

extern "C" IMAGE_DOS_HEADER __ImageBase;

namespace {

HMODULE ThisModule() {
  HMODULE module = nullptr;
  GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                     reinterpret_cast<LPCSTR>(&ThisModule), &module);
  return module;
}

bool IsActive() {
  return VantorLogFlags().Initialized == 1;
}

}  // namespace

void SnapshotFrom(std::uintptr_t savedStackPointer, std::uintptr_t currentStackPointer, std::uintptr_t address,
                  bool isReturnAddress) {
  TStackSnapshotFacts facts;
  std::uintptr_t limit = 0, top = 0;
  CurrentStackBounds(limit, top);
  facts.SavedStackPointer = savedStackPointer;
  facts.StackLimit = limit;
  facts.StackTop = top;
  facts.CurrentStackPointer = currentStackPointer;
  facts.ThreadId = GetCurrentThreadId();
  SnapshotRaisingThreadStack(ProcessMemory(), facts, address, isReturnAddress);
}

namespace {

std::uint8_t g_lastLanguage = 0;

// The thread's saved CONTEXT and EXCEPTION_RECORD of a language raise: the
// raise's return address (the CALL starts 5 bytes before it), the caller's
// stack and frame pointers and the object.
void FillLanguageRaise(TVantorThreadBlock& block, void* object, std::uintptr_t returnAddress,
                       std::uintptr_t stackPointer, std::uintptr_t framePointer) {
  block.RecordedStackPosition = reinterpret_cast<void*>(stackPointer);
  block.RaiseStackPosition = reinterpret_cast<void*>(stackPointer);
  block.RaiseAddress = reinterpret_cast<void*>(returnAddress);
  std::memset(&block.SavedContext, 0, sizeof block.SavedContext);
  std::memset(&block.SavedRecord, 0, sizeof block.SavedRecord);
#if defined(__i386__)
  CONTEXT& c = block.SavedContext;
  c.Edx = static_cast<DWORD>(returnAddress);
  c.Ecx = static_cast<DWORD>(block.RaiseEcx);
  c.Eax = static_cast<DWORD>(reinterpret_cast<std::uintptr_t>(object));
  c.Ebp = static_cast<DWORD>(framePointer);
  c.Eip = static_cast<DWORD>(returnAddress - 5);
  c.Esp = static_cast<DWORD>(stackPointer);
  c.ContextFlags = 0x10003;  // i386: control and integer registers
#elif defined(__x86_64__)
  CONTEXT& c = block.SavedContext;
  c.Rdx = returnAddress;
  c.Rax = reinterpret_cast<std::uintptr_t>(object);
  c.Rbp = framePointer;
  c.Rip = returnAddress - 5;
  c.Rsp = stackPointer;
  c.ContextFlags = CONTEXT_CONTROL | CONTEXT_INTEGER;
#endif
  EXCEPTION_RECORD& r = block.SavedRecord;
  r.ExceptionCode = kLanguageRaiseCode;
  r.ExceptionFlags = 1;
  r.ExceptionAddress = reinterpret_cast<void*>(returnAddress);
  r.NumberParameters = 7;
  r.ExceptionInformation[0] = returnAddress;
  r.ExceptionInformation[1] = reinterpret_cast<ULONG_PTR>(object);
  r.ExceptionInformation[5] = framePointer;
}

// --- The framework's slots -----------------------------------------------------------------------
THandleExceptionProc g_savedHandleException = nullptr;
TShowExceptionProc g_savedShowException = nullptr;
TThreadExecuteProc g_savedThreadExecute = nullptr;
std::terminate_handler g_savedTerminate = nullptr;
TUnitExceptionProc g_savedUnitException = nullptr;
void* g_faultHandler = nullptr;
bool g_installed = false;

std::shared_ptr<const TExceptionObjectRecord> RecordOf(const std::exception_ptr& error, std::uintptr_t address) {
  // Naming the exception rethrows and catches it: those catch clauses are the
  // library's own and report nothing as handled.
  TVantorThreadBlock& block = CurrentThreadBlock();
  const std::uint8_t saved = block.InReport;
  block.InReport = 1;
  try {
    auto record = std::make_shared<const TExceptionObjectRecord>(MakeExceptionObjectRecord(error, address));
    block.InReport = saved;
    return record;
  } catch (...) {
    block.InReport = saved;
    throw;
  }
}

std::uintptr_t ThreadRaiseAddress() {
  return reinterpret_cast<std::uintptr_t>(CurrentThreadBlock().RaiseAddress);
}

// A report through ExceptionManager that never throws; 1 when nothing was reported.
std::uint8_t ReportFromHandler(const std::exception_ptr& error, std::uint8_t mode, std::uint8_t handlerKind) {
  if (!error || !IsActive()) return 1;
  try {
    std::uintptr_t address = ThreadRaiseAddress();
    return ExceptionManagerCall(RecordOf(error, address), address, mode, ThisModule(), handlerKind);
  } catch (...) {
    return 1;
  }
}

void ApplicationHandleExceptionHook(TApplication* app, TObject* sender, std::exception_ptr error) {
  if (ReportFromHandler(error, kModeApplication, 0) == 0) return;
  TVantorThreadBlock& block = CurrentThreadBlock();
  block.HandlingMarker = 1;
  try {
    if (g_savedHandleException) g_savedHandleException(app, sender, error);
  } catch (...) {
    block.HandlingMarker = 0;
    throw;
  }
  block.HandlingMarker = 0;
}

void ApplicationShowExceptionHook(TApplication* app, std::exception_ptr error) {
  if (!CurrentThreadBlock().HandlingMarker && ReportFromHandler(error, kModeApplication, 0) == 0) return;
  if (g_savedShowException) g_savedShowException(app, error);
}

bool IsThreadNamingFault(const std::exception_ptr& error) {
  try {
    std::rethrow_exception(error);
  } catch (const EExternal& e) {
    return e.ExceptionRecord.ExceptionCode == kThreadNamingCode;
  } catch (...) {
  }
  return false;
}

// Runs a framework thread's Execute: the thread's record learns its stack
// top; an exception that leaves Execute is reported (mode 0, handler kind 2)
// and passes on, so that it still becomes the thread's FatalException.
void RunThreadExecute(TThread* thread) {
  if (IsActive()) {
    if (TVantorThreadsList* list = VantorThreadsList()) {
      std::uintptr_t limit = 0, top = 0;
      CurrentStackBounds(limit, top);
      list->LockForWrite();
      int i = list->IndexOfThreadObject(thread);
      if (i >= 0) list->GetThreadInfo(i)->StackTop = top;
      list->UnlockWrite();
    }
  }
  try {
    TThread::CallExecute(thread);
  } catch (...) {
    std::exception_ptr error = std::current_exception();
    if (!IsThreadNamingFault(error)) ReportFromHandler(error, kModeServer, 2);
    throw;
  }
}

// An exception leaving a unit's initialization or finalization is reported
// (mode 0) before the unit runner passes it on.
void ReportUnitException(const UnitEntry&, bool, std::exception_ptr error) {
  ReportFromHandler(error, kModeServer, 0);
}

// What nothing caught: reported (unless that address was just reported),
// then the thread ends with exit code 1, or the program on its main thread.
[[noreturn]] void ReportAndTerminate() {
  try {
    std::exception_ptr error = std::current_exception();
    if (error && IsActive()) {
      TVantorThreadBlock& block = CurrentThreadBlock();
      std::uintptr_t address = reinterpret_cast<std::uintptr_t>(block.RaiseAddress);
      if (address == 0 || address != LastReportedAddress()) {
        auto record = RecordOf(error, address);
        ProcessException(record, address, IsLanguageException(record.get()), false, 0, ThisModule(), kModeServer,
                         &block.SavedRecord, &block.SavedContext, CurrentStackSnapshot().Size);
      }
    }
  } catch (...) {
  }
  if (GetCurrentThreadId() == VantorLogFlags().MainThreadId) std::exit(1);
  ExitThread(1);
}

// Keeps an operating-system fault's record and CONTEXT in the faulting
// thread's block (and a stack snapshot, except for a stack overflow, which
// leaves no room for one); it never handles the fault.
LONG CALLBACK FaultCopyHandler(EXCEPTION_POINTERS* info) {
  if (!IsActive() || !info || !info->ExceptionRecord) return EXCEPTION_CONTINUE_SEARCH;
  DWORD code = info->ExceptionRecord->ExceptionCode;
  if (code < 0xC0000005u || code > 0xC000013Au) return EXCEPTION_CONTINUE_SEARCH;
  DWORD lastError = GetLastError();
  TVantorThreadBlock& block = CurrentThreadBlock();
  block.SavedRecord = *info->ExceptionRecord;
  block.RaiseAddress = info->ExceptionRecord->ExceptionAddress;
  if (info->ContextRecord) {
    block.SavedContext = *info->ContextRecord;
#if defined(__i386__)
    std::uintptr_t sp = info->ContextRecord->Esp;
#else
    std::uintptr_t sp = info->ContextRecord->Rsp;
#endif
    block.RecordedStackPosition = reinterpret_cast<void*>(sp);
    if (code != EXCEPTION_STACK_OVERFLOW) {
      try {
        SnapshotFrom(sp, reinterpret_cast<std::uintptr_t>(__builtin_frame_address(0)),
                     reinterpret_cast<std::uintptr_t>(block.RaiseAddress), false);
      } catch (...) {
      }
    }
  }
  SetLastError(lastError);
  return EXCEPTION_CONTINUE_SEARCH;
}

}  // namespace

// The stack of the calling thread, from its thread information block.
void CurrentStackBounds(std::uintptr_t& limit, std::uintptr_t& top) {
#if defined(__i386__)
  asm volatile("movl %%fs:4, %0" : "=r"(top));    // NT_TIB.StackBase
  asm volatile("movl %%fs:8, %0" : "=r"(limit));  // NT_TIB.StackLimit
#elif defined(__x86_64__)
  asm volatile("movq %%gs:8, %0" : "=r"(top));
  asm volatile("movq %%gs:16, %0" : "=r"(limit));
#endif
}

bool IsThreadActive(const TVantorThreadInfo& record) {
  return IsThreadHandleActive(reinterpret_cast<HANDLE>(record.ThreadHandle));
}

bool WillBeHandled(const TExceptionObjectRecord* object, std::uint8_t& handlerKind) {
  (void)handlerKind;  // no safecall boundary or thread-procedure handler is found from a raise
  // A stack overflow is reported while its thread still has the stack it
  // needs; the program could not handle it anyway.
  if (object && object->DescendsFrom("EStackOverflow")) return false;
  // Every other raise is left to the program: the library reports it where
  // the program's handling ends (the handler hooks, the thread slot, the
  // terminate handler, the unhandled filter), and in a module whose main
  // program carries the library, the main module's copy reports it.
  return true;
}

void CaptureException(std::shared_ptr<const TExceptionObjectRecord> object, std::uintptr_t address, bool language) {
  DWORD lastError = GetLastError();
  TVantorThreadBlock& block = CurrentThreadBlock();
  std::uint8_t expected = 0;
  if (!__atomic_compare_exchange_n(&block.CaptureReentry, &expected, 1, false, __ATOMIC_ACQ_REL, __ATOMIC_ACQUIRE)) {
    SetLastError(lastError);
    return;  // a capture inside a capture on this thread
  }
  try {
    g_lastLanguage = language ? 1 : 0;
    NoteExceptionObject(object, address, language);
    std::uint8_t kind = 0;
    if (IsCatchingEnabled() && IsThreadNotExcluded(GetCurrentThreadId()) && IsReportableException(object.get()) &&
        !WillBeHandled(object.get(), kind)) {
      if (!block.RecordedStackPosition) block.RecordedStackPosition = block.RaiseStackPosition;
      ProcessException(object, address, language, false, kind, ThisModule(), kModeServer, &block.SavedRecord,
                       &block.SavedContext, CurrentStackSnapshot().Size);
    }
  } catch (...) {
  }
  __atomic_store_n(&block.CaptureReentry, 0, __ATOMIC_RELEASE);
  SetLastError(lastError);
}

std::uint8_t ExceptionManagerCall(std::shared_ptr<const TExceptionObjectRecord> object, std::uintptr_t address,
                                  std::uint8_t mode, HMODULE module, std::uint8_t handlerKind) {
  if (!IsActive()) return 1;
  try {
    std::lock_guard<std::recursive_mutex> guard(VantorReportLock());
    TVantorLogFlags& flags = VantorLogFlags();
    if (flags.MainModuleHasLibrary) {
      HMODULE main = VantorMainInstance();
      auto forward = main ? reinterpret_cast<decltype(&ExceptionManager)>(
                                reinterpret_cast<void*>(GetProcAddress(main, "ExceptionManager")))
                          : nullptr;
      if (forward && forward != &ExceptionManager)
        return forward(object.get(), reinterpret_cast<void*>(address), mode, module);
    }
    if (!IsCatchingEnabled() || !IsThreadNotExcluded(GetCurrentThreadId())) return 1;
    TCurrentExceptionInfo current = CurrentExceptionInfo();
    if (!IsReportableException(object.get()) && !IsReportableException(current.LastObject.get())) return 1;
    // Only an object that is not a sound one is replaced: an EAbort stays
    // itself (and goes unreported), never an older exception in its place.
    if (!object || object->ClassChain.empty()) {
      object = current.LastObject;
      address = current.LastAddress;
    }
    TVantorThreadBlock& block = CurrentThreadBlock();
    if (!block.RecordedStackPosition) block.RecordedStackPosition = __builtin_frame_address(0);
    // Whether the raising module's last exception was a language one, from its own export.
    HMODULE raiser = nullptr;
    if (address &&
        GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                           reinterpret_cast<LPCSTR>(address), &raiser)) {
      if (auto language = reinterpret_cast<decltype(&VantorLog_LastLunderException)>(
              reinterpret_cast<void*>(GetProcAddress(raiser, "VantorLog_LastLunderException"))))
        g_lastLanguage = language();
    }
    return ProcessException(object, address, g_lastLanguage != 0, false, handlerKind, module, mode, nullptr, nullptr,
                            0);
  } catch (...) {
    return 1;
  }
}

void InstallCaptureHooks() {
  if (g_installed) return;
  g_installed = true;
  g_savedHandleException = HandleExceptionHook;
  HandleExceptionHook = &ApplicationHandleExceptionHook;
  g_savedShowException = ShowExceptionHook;
  ShowExceptionHook = &ApplicationShowExceptionHook;
  g_savedThreadExecute = ThreadExecuteHook;
  ::ThreadExecuteHook = &RunThreadExecute;
  g_savedUnitException = UnitExceptionHook;
  UnitExceptionHook = &ReportUnitException;
  g_savedTerminate = std::set_terminate(&ReportAndTerminate);
  g_faultHandler = AddVectoredExceptionHandler(1, &FaultCopyHandler);
}

void RemoveCaptureHooks() {
  if (!g_installed) return;
  g_installed = false;
  // The slots go back only where they still hold the library's hooks.
  if (HandleExceptionHook == &ApplicationHandleExceptionHook) HandleExceptionHook = g_savedHandleException;
  if (ShowExceptionHook == &ApplicationShowExceptionHook) ShowExceptionHook = g_savedShowException;
  if (::ThreadExecuteHook == &RunThreadExecute) ::ThreadExecuteHook = g_savedThreadExecute;
  if (UnitExceptionHook == &ReportUnitException) UnitExceptionHook = g_savedUnitException;
  std::set_terminate(g_savedTerminate);
  if (g_faultHandler) RemoveVectoredExceptionHandler(g_faultHandler);
  g_faultHandler = nullptr;
}

bool CaptureHooksInstalled() {
  return g_installed;
}

// --- Language raises ---------------------------------------------------------------------------------
void NoteLanguageRaise(void* object, const std::type_info* type, std::uintptr_t returnAddress, std::uintptr_t* frame) {
  if (!IsActive()) return;
  DWORD lastError = GetLastError();
  // Above the saved frame pointer and the return address lies the caller's stack.
  std::uintptr_t callerStack = reinterpret_cast<std::uintptr_t>(frame + 2);
  TVantorThreadBlock& block = CurrentThreadBlock();
  // A raise inside a capture or a report of this thread is the library's own.
  if (!block.CaptureReentry && !block.InReport) {
    try {
      FillLanguageRaise(block, object, returnAddress, callerStack, frame[0]);
      SnapshotFrom(callerStack, reinterpret_cast<std::uintptr_t>(frame), returnAddress, true);
      CaptureException(
          std::make_shared<const TExceptionObjectRecord>(DescribeThrownObject(object, type, returnAddress)),
          returnAddress, true);
    } catch (...) {
      // Nothing of the library's own may replace the program's exception.
    }
  }
  SetLastError(lastError);
}

// --- Handled exceptions ------------------------------------------------------------------------------
namespace {
// Whether the options ask for handled exceptions to be reported, and this
// one is not the thread's last reported exception again.
bool ShouldReportHandledException(const TExceptionObjectRecord& current, std::uintptr_t address) {
  if (!VantorModulesList() || !IsCatchingEnabled() || !IsThreadNotExcluded(GetCurrentThreadId())) return false;
  TVantorModuleOptionsEx* options = CurrentVantorLogOptions();
  if (!options || !(options->BehaviourFlags() & 0x100)) return false;
  TVantorThreadBlock& block = CurrentThreadBlock();
  return !(current.ClassName() == block.LastExceptionClass &&
           address == reinterpret_cast<std::uintptr_t>(block.LastExceptionAddress));
}
// Whether the options ask for handled exceptions to be reported, read
// without a rethrow, an allocation or an exception of its own: every catch
// clause of the program asks it.
bool HandledExceptionsAsked() {
  if (!IsCatchingEnabled()) return false;
  const TVantorModulesList* modules = VantorModulesList();
  const TVantorModuleInfo* entry =
      modules ? modules->FindModule(reinterpret_cast<ModuleHandle>(&__ImageBase)) : nullptr;
  return entry && entry->Options && (entry->Options->BehaviourFlags() & 0x100);
}

// Whether this thread's raise-time snapshot is the one of the exception raised at `address`.
bool IsSnapshotOf(const TStackSnapshot& snapshot, std::uintptr_t address) {
  if (snapshot.ThreadId != GetCurrentThreadId() || snapshot.Size == 0 || address == 0) return false;
  return snapshot.Address == address || snapshot.Address + 5 == address;  // a language raise's is its CALL
}
}  // namespace

void NoteEndOfCatch() {
  if (!IsActive()) return;
  TVantorThreadBlock& block = CurrentThreadBlock();
  if (block.InReport) return;  // the library's own catch clauses while it reports
  if (!HandledExceptionsAsked()) return;
  DWORD lastError = GetLastError();
  block.InReport = 1;
  try {
    std::exception_ptr error = std::current_exception();
    std::uintptr_t address = reinterpret_cast<std::uintptr_t>(block.RaiseAddress);
    if (error && !IsThreadNamingFault(error)) {
      auto record = RecordOf(error, address);
      if (IsReportableException(record.get()) && ShouldReportHandledException(*record, address)) {
        // The stack below this catch clause has been reused since the raise:
        // the call stack comes from the copy the raise took.
        const TStackSnapshot snapshot = CurrentStackSnapshot();
        const bool raised = IsSnapshotOf(snapshot, address);
        ProcessException(record, address, IsLanguageException(record.get()), true, 0, ThisModule(), kModeServer,
                         nullptr, nullptr, raised ? snapshot.Size : 0, raised ? &snapshot : nullptr);
      }
    }
  } catch (...) {
  }
  block.InReport = 0;
  SetLastError(lastError);
}

// --- Exports -----------------------------------------------------------------------------------------
// A dormant module made none of the locks and lists: each export gives its neutral answer.
extern "C" {

BYTE __stdcall ExceptionManager(const void* object, void* address, BYTE mode, HMODULE module) {
  if (!IsActive()) return 1;
  try {
    std::shared_ptr<const TExceptionObjectRecord> record;
    if (object) {
      // Another module's record: its names, message and address (its exception
      // belongs to that module's run-time and is not shared).
      const auto* given = static_cast<const TExceptionObjectRecord*>(object);
      auto copy = std::make_shared<TExceptionObjectRecord>();
      copy->ClassChain = given->ClassChain;
      copy->Message = given->Message;
      copy->Address = given->Address;
      copy->IsActiveX = given->IsActiveX;
      copy->ActiveXClassNames = given->ActiveXClassNames;
      record = std::move(copy);
    }
    return ExceptionManagerCall(record, reinterpret_cast<std::uintptr_t>(address), mode, module);
  } catch (...) {
    return 1;
  }
}

BYTE __stdcall VantorLog_LastLunderException() {
  return IsActive() ? g_lastLanguage : 0;
}

void __stdcall VantorLog_CallGeneralRaise(DWORD code, DWORD flags, DWORD argumentCount, void* raiseStackPosition,
                                          const ULONG_PTR* arguments) {
  if (!IsActive()) return;
  CurrentThreadBlock().RaiseStackPosition = raiseStackPosition;
  RunRaiseHandler(code, flags, argumentCount, arguments, false);
}

}  // extern "C"

void RunRaiseHandler(DWORD code, DWORD flags, DWORD argumentCount, const ULONG_PTR* arguments, bool report) {
  TVantorThreadBlock& block = CurrentThreadBlock();
  void* raiseStackPosition = block.RaiseStackPosition;
  if (code == kLanguageRaiseCode && flags == 1 && argumentCount == 7 && arguments &&
      ProcessMemory().IsReadable(reinterpret_cast<std::uintptr_t>(arguments), 7 * sizeof(ULONG_PTR))) {
    FillLanguageRaise(block, reinterpret_cast<void*>(arguments[1]), arguments[0],
                      reinterpret_cast<std::uintptr_t>(raiseStackPosition), arguments[5]);
    // The raised object belongs to another run-time and is not read: the
    // capture notes a record of the address alone.
    if (report) {
      auto record = std::make_shared<TExceptionObjectRecord>();
      record->Address = arguments[0];
      CaptureException(std::move(record), arguments[0], true);
    }
  }
  if (VantorLogFlags().MainModuleHasLibrary) {
    if (HMODULE main = VantorMainInstance()) {
      auto forward = reinterpret_cast<decltype(&VantorLog_CallGeneralRaise)>(
          reinterpret_cast<void*>(GetProcAddress(main, "VantorLog_CallGeneralRaise")));
      if (forward && forward != &VantorLog_CallGeneralRaise)
        forward(code, flags, argumentCount, raiseStackPosition, arguments);
    }
  }
}

extern "C" {

void* __stdcall VantorLog_CallExceptObject(EXCEPTION_RECORD* record, CONTEXT* context, BYTE report) {
  if (!IsActive() || !record) return nullptr;
  const void* result = nullptr;
  try {
    if (!ProcessMemory().IsReadable(reinterpret_cast<std::uintptr_t>(record), sizeof *record)) return nullptr;
    if (record->ExceptionCode == kThreadNamingCode) return nullptr;
    // The exception the fault stands for; it stays alive as the library's
    // last noted exception, so the pointer handed out is sound until the
    // next exception is noted.
    std::shared_ptr<const TExceptionObjectRecord> object = UnhandledFilterObject(record);
    result = object.get();
    TVantorThreadBlock& block = CurrentThreadBlock();
    block.SavedRecord = *record;
    if (context && ProcessMemory().IsReadable(reinterpret_cast<std::uintptr_t>(context), sizeof *context)) {
      block.SavedContext = *context;
#if defined(__i386__)
      block.RecordedStackPosition = reinterpret_cast<void*>(static_cast<std::uintptr_t>(context->Esp));
      block.SavedContext.ContextFlags = 0x10003;
#else
      block.RecordedStackPosition = reinterpret_cast<void*>(context->Rsp);
#endif
    } else {
      std::memset(&block.SavedContext, 0, sizeof block.SavedContext);
      block.RecordedStackPosition = nullptr;
    }
    const auto address = reinterpret_cast<std::uintptr_t>(record->ExceptionAddress);
    const TVantorLogFlags& flags = VantorLogFlags();
    const bool mainThread = GetCurrentThreadId() == flags.MainThreadId;
    if (mainThread && !flags.StartupRunning && !flags.ShutdownBegun)
      NoteExceptionObject(object, address, false);
    else if (report)
      CaptureException(object, address, false);
    else
      NoteExceptionObject(object, address, false);
    // The main module's copy learns of it too (and reports nothing itself).
    if (flags.MainModuleHasLibrary) {
      if (HMODULE main = VantorMainInstance()) {
        auto forward = reinterpret_cast<decltype(&VantorLog_CallExceptObject)>(
            reinterpret_cast<void*>(GetProcAddress(main, "VantorLog_CallExceptObject")));
        if (forward && forward != &VantorLog_CallExceptObject) forward(record, context, 0);
      }
    }
  } catch (...) {
    SwallowException("VantorLog_CallExceptObject");
  }
  return const_cast<void*>(result);
}

void __stdcall VantorLog_CallCreateThread(const void* threadRecord) {
  TVantorThreadsList* list = VantorThreadsList();
  if (!IsActive() || !list || !threadRecord) return;
  try {
    list->RemoveEndedThreads(&IsThreadActive);
    const auto* given = static_cast<const TVantorThreadInfo*>(threadRecord);
    list->LockForWrite();
    TVantorThreadInfo* info = list->NewThreadInfo(true);
    *info = *given;
    info->ResumerStack = nullptr;  // the stack copy stays the sender's
    info->ResumerStackSize = 0;
    info->Forwarded = 0;
    list->UnlockWrite();
  } catch (...) {
  }
}

void __stdcall VantorLog_CallResumeThread(HANDLE thread, const void* threadRecord) {
  TVantorThreadsList* list = VantorThreadsList();
  if (!IsActive() || !list || !threadRecord || CurrentThreadBlock().Reporting) return;
  const auto* given = static_cast<const TVantorThreadInfo*>(threadRecord);
  // The sender frees its stack copy when the thread is resumed again or ends:
  // this list keeps a copy of its own (the sender holds its list's write lock
  // while it calls here, so the bytes are sound for the copy).
  std::uint8_t* copy = nullptr;
  std::uint32_t size = 0;
  if (given->ResumerStack && given->ResumerStackSize &&
      ProcessMemory().IsReadable(reinterpret_cast<std::uintptr_t>(given->ResumerStack), given->ResumerStackSize)) {
    copy = new (std::nothrow) std::uint8_t[given->ResumerStackSize];
    if (copy) {
      size = given->ResumerStackSize;
      std::memcpy(copy, given->ResumerStack, size);
    }
  }
  list->LockForWrite();
  int i = list->IndexOfHandle(reinterpret_cast<std::uintptr_t>(thread));
  if (i >= 0) {
    TVantorThreadInfo* own = list->GetThreadInfo(i);
    if (!own->Forwarded) delete[] own->ResumerStack;
    own->ResumerThreadId = given->ResumerThreadId;
    own->ResumerStack = copy;
    own->ResumerStackSize = size;
    own->Forwarded = 0;
    copy = nullptr;
  }
  list->UnlockWrite();
  delete[] copy;
}

void __stdcall VantorLog_CallExitThread() {
  TVantorThreadsList* list = VantorThreadsList();
  if (!IsActive() || !list) return;
  list->RemoveCurrentThread(GetCurrentThreadId());
}

}  // extern "C"
