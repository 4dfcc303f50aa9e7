#include "EPipelineWin.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "ECoreWin.h"
#include "EHookWin.h"
#include "EReportBuilderWin.h"
#include "EReportDialogsWin.h"
#include "EReportFilesWin.h"
#include "EScreenshotWin.h"
#include "ESendReportWin.h"
#include "ESystemWin.h"
#include "EWebOutputWin.h"
#include "ExceptionLogImports.h"
#include "ExceptionLogLeaks.h"
#include "ExceptionLogWin.h"
#include "SysUtils.h"

extern "C" IMAGE_DOS_HEADER __ImageBase;

FW_IMPLEMENT_CLASS(TExceptionThread)

namespace {

// The report header's sections are numbered 1 to 7 (Network); the sections put after it follow them.
constexpr int kCustomDataSection = 8;
constexpr int kReproduceSection = 9;

HMODULE ThisModule() {
  return reinterpret_cast<HMODULE>(&__ImageBase);
}

// --- What reached the pipeline (kept for the library's own checks) --------------------------------
constexpr std::size_t kKeptCalls = 64;
std::mutex g_callsLock;
std::vector<TProcessExceptionCall> g_calls;
std::uintptr_t g_lastReportedAddress = 0;

void RecordCall(const std::shared_ptr<const TExceptionObjectRecord>& object, std::uintptr_t address, bool language,
                bool handled, std::uint8_t handlerKind, HMODULE module, std::uint8_t mode,
                const EXCEPTION_RECORD* record, const CONTEXT* context, std::uint32_t stackBytes) {
  TProcessExceptionCall call;
  call.Object = object;
  call.Address = address;
  call.Language = language;
  call.Handled = handled;
  call.HandlerKind = handlerKind;
  call.Module = module;
  call.Mode = mode;
  call.HasRecord = record != nullptr;
  call.HasContext = context != nullptr;
  call.StackBytes = stackBytes;
  call.ThreadId = GetCurrentThreadId();
  std::lock_guard<std::mutex> guard(g_callsLock);
  if (g_calls.size() >= kKeptCalls) g_calls.erase(g_calls.begin());
  g_calls.push_back(std::move(call));
  g_lastReportedAddress = address;
}

// --- Report state ------------------------------------------------------------------------------------
std::atomic<DWORD> g_reportThread{0};
std::string g_lastMessage;
int g_reportCount = 0;
TStringList* g_crashTimes = nullptr;
// The marker of a thread that runs ProcessException (its in-report byte).
DWORD InReportSlot() {
  static const DWORD slot = TlsAlloc();
  return slot;
}

std::uint32_t CurrentThreadIdForEvents() {
  return static_cast<std::uint32_t>(GetCurrentThreadId());
}
void SleepTenMs() {
  Sleep(10);
}
TReportRun* g_currentRun = nullptr;

// After each event: the duplicate test without counting, and the options
// again as the module published them (a handler may have changed them).
void AfterEvent() {
  if (g_currentRun)
    g_currentRun->Duplicate = ReportSteps().CheckDuplicate ? ReportSteps().CheckDuplicate(*g_currentRun, false)
                                                           : CheckDuplicateError(*g_currentRun, false);
  if (TVantorModuleOptionsEx* options = DefaultVantorLogOptions()) options->ReloadOptions();
}
void InstallEventThreadApi() {
  static const bool done = [] {
    TFaultingThreadApi api;
    api.CurrentThreadId = &CurrentThreadIdForEvents;
    api.Sleep10 = &SleepTenMs;
    api.AfterEvent = &AfterEvent;
    SetFaultingThreadApi(api);
    return true;
  }();
  (void)done;
}

bool DescendsFrom(const TExceptionObjectRecord* object, const char* name) {
  return object && object->DescendsFrom(name);
}

std::string ModuleFileNameOf(HMODULE module) {
  char buf[MAX_PATH + 1];
  DWORD n = GetModuleFileNameA(module, buf, MAX_PATH);
  return std::string(buf, n);
}

// The focused window's class and (for a plain single-line window) its text.
void FillFocusFacts(TReportJob& job) {
  job.Focus = GetFocus();
  job.Cursor = GetCursor();
  if (!job.Focus) return;
  char name[257] = {};
  GetClassNameA(job.Focus, name, 256);
  job.FocusClassName = name;
  if (IsWindowUnicode(job.Focus)) return;
  const LONG style = GetWindowLongA(job.Focus, GWL_STYLE);
  const std::string upper = UpperCase(job.FocusClassName);
  const bool editLike = upper.find("EDIT") != std::string::npos || upper.find("MEMO") != std::string::npos;
  if (editLike && (style & 0x4)) return;  // multi-line
  char text[257] = {};
  // The focus window belongs to this thread: the text is read without waiting on another thread.
  GetWindowTextA(job.Focus, text, 256);
  job.FocusText = text;
  if (upper.find("EDIT") != std::string::npos && (style & 0x20))
    job.FocusText.assign(job.FocusText.size(), '*');  // a password
}

bool Fits32(std::uintptr_t value) {
  return (static_cast<std::uint64_t>(value) >> 16 >> 16) == 0;
}

void ScanInto(TVantorStackList& list, MemoryReader& memory, std::uintptr_t start, std::uintptr_t stackStart,
              std::uintptr_t stackTop, DWORD threadId, bool faulting) {
  if (!Fits32(start) || !Fits32(stackStart) || !Fits32(stackTop) || stackStart >= stackTop) return;
  TStackScan scan;
  scan.StartAddress = static_cast<std::uint32_t>(start);
  scan.StackStart = static_cast<std::uint32_t>(stackStart);
  scan.StackTop = static_cast<std::uint32_t>(stackTop);
  scan.Kinds = 31;
  scan.Details = ReportSteps().EntryMaker != nullptr;
  scan.FollowCalls = true;
  scan.FaultingThread = faulting;
  scan.ThreadId = static_cast<std::int32_t>(threadId);
  ScanStackForCalls(list, memory, ReportSteps().EntryMaker, scan);
}

// The stack copy of the thread that resumed a thread, as its own group.
void AddResumerStack(TVantorStackList& list, const TVantorThreadInfo& record) {
  if (!record.ResumerStack || record.ResumerStackSize < sizeof(std::uint32_t)) return;
  std::vector<std::uint8_t> bytes(record.ResumerStack, record.ResumerStack + record.ResumerStackSize);
  // The copy is scanned at an address of its own, outside the process's stacks.
  const std::uintptr_t base = reinterpret_cast<std::uintptr_t>(record.ResumerStack);
  StackCopyReader memory(base, bytes.data(), bytes.size());
  const int first = list.Count();
  ScanInto(list, memory, 0, base, base + bytes.size(), record.ResumerThreadId, false);
  for (int i = first; i < list.Count(); ++i) list.Items(i)->OwnStack = 0;
}

#if defined(__i386__)
std::uintptr_t ContextIp(const CONTEXT& c) {
  return c.Eip;
}
std::uintptr_t ContextSp(const CONTEXT& c) {
  return c.Esp;
}
#else
std::uintptr_t ContextIp(const CONTEXT& c) {
  return c.Rip;
}
std::uintptr_t ContextSp(const CONTEXT& c) {
  return c.Rsp;
}
#endif
constexpr DWORD kContextFlags = 0x10003 | (sizeof(void*) == 8 ? 0x100000 : 0);  // control and integer registers

// The other listed threads whose stacks are shown, and those that
// BehaviourFlags freeze: suspended together, the shown ones' registers and
// stacks copied into buffers made beforehand, all resumed, then the copies
// scanned. Nothing that takes a lock runs while they are suspended (a
// suspended thread may hold the heap's lock, the threads list's or the
// system's own): the frozen threads stand still while the stacks are copied,
// so that every stack of the report shows one moment, and go on before the
// report is built.
void CollectOtherThreadStacks(TVantorStackList& list, TVantorThreadsList& threads, DWORD jobThread,
                              std::uint8_t stackFlags, bool showStacks, std::uint16_t freezeFlags) {
  struct Copy {
    const TVantorThreadInfo* Record = nullptr;
    HANDLE Handle = nullptr;
    bool Shown = false;
    bool Suspended = false;
    CONTEXT Context{};
    std::uintptr_t Sp = 0;
    std::vector<std::uint8_t> Bytes;
    std::size_t Size = 0;
  };
  std::vector<Copy> copies;
  const DWORD self = GetCurrentThreadId();
  for (int i = 0; i < threads.Count(); ++i) {
    const TVantorThreadInfo* r = threads.GetThreadInfo(i);
    if (!r || r->ThreadId == self || r->ThreadId == jobThread || !r->ThreadHandle) continue;
    const bool shown = showStacks && ShouldShowThreadStack(*r, stackFlags);
    if (!shown && !ShouldFreezeThread(*r, freezeFlags)) continue;
    Copy c;
    c.Record = r;
    c.Handle = reinterpret_cast<HANDLE>(r->ThreadHandle);
    c.Shown = shown;
    if (shown) c.Bytes.resize(kMaxScannedStack);  // written now: no page of it is first touched later
    copies.push_back(std::move(c));
  }
  for (Copy& c : copies) c.Suspended = SuspendThread(c.Handle) != static_cast<DWORD>(-1);
  for (Copy& c : copies) {
    if (!c.Suspended || !c.Shown) continue;
    c.Context.ContextFlags = kContextFlags;
    if (!GetThreadContext(c.Handle, &c.Context) || ContextIp(c.Context) == 0 || ContextSp(c.Context) == 0) continue;
    c.Sp = ContextSp(c.Context);
    c.Size = CopyStoppedThreadStack(c.Sp, c.Record->StackTop, c.Bytes.data(), c.Bytes.size());
  }
  for (Copy& c : copies)
    if (c.Suspended) ResumeThread(c.Handle);
  for (Copy& c : copies) {
    if (c.Size == 0) continue;
    StackCopyReader memory(c.Sp, c.Bytes.data(), c.Size);
    ScanInto(list, memory, ContextIp(c.Context), c.Sp, c.Sp + c.Size, c.Record->ThreadId, false);
    AddResumerStack(list, *c.Record);
  }
}

void SetVariable(const char* name, const std::string& value) {
  SetEnvironmentVariableA(name, value.c_str());
}

void SetReportVariables(const TReportRun& run) {
  HMODULE main = GetModuleHandleA(nullptr);
  const std::string mainFile = ModuleFileNameOf(main);
  std::string description, version;
  ReadVersionInfo(mainFile, description, version);
  SetVariable("_MainModuleName", ExtractFileName(mainFile));
  SetVariable("_MainModuleDesc", description);
  SetVariable("_MainModuleVer", version);
  HMODULE exceptModule = GetModuleBaseOfAddress(reinterpret_cast<const void*>(run.Address));
  std::string exceptFile = exceptModule ? ModuleFileNameOf(exceptModule) : std::string();
  description.clear();
  version.clear();
  if (!exceptFile.empty()) ReadVersionInfo(exceptFile, description, version);
  SetVariable("_ExceptModuleName", ExtractFileName(exceptFile));
  SetVariable("_ExceptModuleDesc", description);
  SetVariable("_ExceptModuleVer", version);
  SetVariable("_ExceptMsg", run.Object ? run.Object->Message : std::string());
  SetVariable("_BugReport", run.ReportText);
  SetVariable("_LineBreak", "\r\n");
}

std::string ShownMessage(const TReportRun& run) {
  if (!run.CustomMessage.empty()) return run.CustomMessage;
  return run.Object ? run.Object->Message : std::string();
}

// Restores a minimised main window without waiting on its thread.
void RestoreMainWindow(const TReportRun& run) {
  if (run.Job && run.Job->Freeze) return;  // the main thread does not answer: nothing may wait on it
  RestoreMinimizedMainWindow();
}

bool WriteConsoleReport(const std::string& text) {
  HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
  if (!out || out == INVALID_HANDLE_VALUE) return false;
  const std::string line = text + "\r\n";
  DWORD written = 0;
  return WriteFile(out, line.data(), static_cast<DWORD>(line.size()), &written, nullptr) && written == line.size();
}

void PumpMessages(bool& stopped) {
  if (stopped) return;
  try {
    MSG msg;
    for (int i = 0; i < kMessagesPerPass && PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE); ++i) {
      switch (ClassifyPumpedMessage(msg.message)) {
        case TPumpAction::Drop:
          break;
        case TPumpAction::DropWithBeep:
          MessageBeep(0);
          break;
        case TPumpAction::Dispatch:
          TranslateMessage(&msg);
          DispatchMessageA(&msg);
          break;
      }
    }
  } catch (...) {
    stopped = true;  // no more pumping in this wait
  }
}

struct InReportGuard {
  InReportGuard() : block(CurrentThreadBlock()), saved(block.InReport) {
    TlsSetValue(InReportSlot(), reinterpret_cast<void*>(1));
    block.InReport = 1;
  }
  ~InReportGuard() {
    block.InReport = saved;
    TlsSetValue(InReportSlot(), nullptr);
  }
  TVantorThreadBlock& block;
  std::uint8_t saved;
};

}  // namespace

// --- Interfaces -------------------------------------------------------------------------------------------
TReportSteps& ReportSteps() {
  static TReportSteps steps = [] {
    TReportSteps named;
    named.EntryMaker = &DefaultStackEntryMaker();
    named.ShowDialog = &ShowReportDialogStep;
    named.AskReproduce = &AskReproduceStep;
    named.DialogShowing = &ReportDialogShowing;
    named.StartSending = &StartReportSending;
    named.FinishReport = &FinishReport;
    return named;
  }();
  return steps;
}

std::recursive_mutex& VantorReportLock() {
  static std::recursive_mutex lock;
  return lock;
}

std::uintptr_t LastReportedAddress() {
  std::lock_guard<std::mutex> guard(g_callsLock);
  return g_lastReportedAddress;
}

std::string LastReportedMessage() {
  return g_lastMessage;
}

int ReportedErrorsCount() {
  return g_reportCount;
}

DWORD ReportThreadId() {
  return g_reportThread.load();
}

TStringList& CrashTimes() {
  if (!g_crashTimes) g_crashTimes = New<TStringList>();
  return *g_crashTimes;
}

void ReleaseReportHistory() {
  ClearProcessExceptionCalls();
  std::string().swap(g_lastMessage);
  FreeAndNil(g_crashTimes);
}

std::vector<TProcessExceptionCall> ProcessExceptionCalls() {
  std::lock_guard<std::mutex> guard(g_callsLock);
  return g_calls;
}

void ClearProcessExceptionCalls() {
  std::lock_guard<std::mutex> guard(g_callsLock);
  std::vector<TProcessExceptionCall>().swap(g_calls);  // its memory too: a leak report may follow
  g_lastReportedAddress = 0;
}

std::uint8_t ProcessException(std::shared_ptr<const TExceptionObjectRecord> object, std::uintptr_t address,
                              bool language, bool handled, std::uint8_t handlerKind, HMODULE module, std::uint8_t mode,
                              const EXCEPTION_RECORD* record, const CONTEXT* context, std::uint32_t stackBytes,
                              const TStackSnapshot* stackCopy) {
  RecordCall(object, address, language, handled, handlerKind, module, mode, record, context, stackBytes);
  // The thread's last exception, also for a handled one: a catch clause
  // reached again after a rethrow does not report the same exception twice.
  TVantorThreadBlock& block = CurrentThreadBlock();
  StoreClassNameText(block.LastExceptionClass, object ? object->ClassName() : std::string());
  block.LastExceptionAddress = reinterpret_cast<void*>(address);
  return ProcessExceptionEx(std::move(object), address, language, nullptr, handled, handlerKind, module, mode, record,
                            context, 0, 0, false, stackCopy);
}

bool StackCopyReader::IsReadable(std::uint64_t address, std::size_t length) {
  if (Inside(address, length)) return true;
  return ProcessMemory().IsReadable(address, length);
}

bool StackCopyReader::Read(std::uint64_t address, void* buffer, std::size_t length) {
  if (Inside(address, length)) {
    std::memcpy(buffer, bytes_ + (address - base_), length);
    return true;
  }
  return ProcessMemory().Read(address, buffer, length);
}

std::size_t CopyStoppedThreadStack(std::uintptr_t sp, std::uintptr_t top, std::uint8_t* buffer, std::size_t capacity) {
  if (!sp || top <= sp || !buffer) return 0;
  std::size_t size = static_cast<std::size_t>(top - sp);
  if (size > capacity) size = capacity;
  // Through the system's own copy: a query of the address space may wait for
  // a lock the stopped thread holds, a read of it never does.
  SIZE_T read = 0;
  if (ReadProcessMemory(GetCurrentProcess(), reinterpret_cast<const void*>(sp), buffer, size, &read) && read == size)
    return size;
  // Part of the range cannot be read: what can be, page by page from the stack pointer up.
  std::size_t done = 0;
  while (done < size) {
    const std::uintptr_t at = sp + done;
    std::size_t step = 4096 - (at & 4095);
    if (step > size - done) step = size - done;
    read = 0;
    if (!ReadProcessMemory(GetCurrentProcess(), reinterpret_cast<const void*>(at), buffer + done, step, &read) ||
        read != step)
      break;
    done += step;
  }
  return done;
}

TExceptionThread::TExceptionThread(TReportRun* run) : TThread(true), run_(run) {}

void TExceptionThread::Execute() {
  Win32Id = GetCurrentThreadId();
  g_reportThread = GetCurrentThreadId();
  TVantorThreadBlock& block = CurrentThreadBlock();
  // Raises and catches of the report itself are the library's own.
  block.InReport = 1;
  block.Reporting = 1;
  try {
    Result = RunReport(*run_);
  } catch (...) {
    Result = run_->Result;
  }
  block.Reporting = 0;
  block.InReport = 0;
  g_reportThread = 0;
  Running = 0;
}

std::uint8_t ProcessExceptionEx(std::shared_ptr<const TExceptionObjectRecord> object, std::uintptr_t address,
                                bool language, TVantorStackList* stackList, bool handled, std::uint8_t handlerKind,
                                HMODULE module, std::uint8_t mode, const EXCEPTION_RECORD* record,
                                const CONTEXT* context, std::uintptr_t stackStart, std::uintptr_t stackTop, bool freeze,
                                const TStackSnapshot* stackCopy) {
  // 1.
  std::uint8_t result = 1;
  if (VantorLogFlags().Initialized != 1 || !object || DescendsFrom(object.get(), "EAbort")) return result;
  if (!VantorModulesList() || !DefaultVantorLogOptions()) return result;  // set up only in part
  InstallEventThreadApi();
  // 2.
  ReleaseEmergencyMemory();
  const std::uint16_t defaultBehaviour = DefaultVantorLogOptions()->BehaviourFlags();
  const bool pump = ShouldPumpWhileWaiting(DescendsFrom(object.get(), "EStackOverflow"), defaultBehaviour);
  // 3. The report lock; on leaving it the emergency memory is reserved again.
  struct LockGuard {
    LockGuard() { VantorReportLock().lock(); }
    ~LockGuard() {
      VantorReportLock().unlock();
      ReserveEmergencyMemory();
    }
  } lock;
  // 4.
  if (TlsGetValue(InReportSlot())) return 0;  // a report on this thread is running: dropped
  InReportGuard inReport;
  TVantorThreadBlock& block = inReport.block;
  TVantorModuleOptionsEx* current = nullptr;
  try {
    current = CurrentVantorLogOptions();
  } catch (...) {
    return result;
  }
  if (!(current->BehaviourFlags() & 0x40) && object->Message.rfind(kSafeCallPrefix, 0) == 0) return 0;
  if (!current->ActiveFlag()) return result;

  TReportJob job;
  job.Handled = handled ? 1 : 0;
  job.Context = context;
  job.Record = record;
  job.StackList = stackList;
  job.StackStart = stackStart;
  job.StackTop = stackTop;
  job.Freeze = freeze;
  if (stackCopy && stackCopy->Size && stackCopy->Bytes.size() >= stackCopy->Size) {
    job.StackCopy = stackCopy;
    if (!job.StackStart) job.StackStart = static_cast<std::uintptr_t>(stackCopy->Start);
    if (!job.StackTop) job.StackTop = static_cast<std::uintptr_t>(stackCopy->Start + stackCopy->Size);
  }
  job.ThreadId = freeze ? VantorLogFlags().MainThreadId : GetCurrentThreadId();
  if (!freeze) FillFocusFacts(job);
  if (!job.Context && (block.SavedContext.ContextFlags & 0x10000)) {
    job.SavedContext = block.SavedContext;
    job.HasSavedContext = true;
  }
  if (!job.Record && block.SavedRecord.ExceptionCode) {
    job.SavedRecord = block.SavedRecord;
    job.HasSavedRecord = true;
  }
  if (!job.StackTop && !freeze) job.StackTop = GetThreadStackTop();
  if (!job.StackStart) {
    if (block.RecordedStackPosition)
      job.StackStart = reinterpret_cast<std::uintptr_t>(block.RecordedStackPosition);
    else if (job.HasSavedContext)
      job.StackStart = ContextSp(job.SavedContext);
  }
  if (!handled) {
    StoreClassNameText(block.LastExceptionClass, object->ClassName());
    block.LastExceptionAddress = reinterpret_cast<void*>(address);
  }

  TReportRun run;
  run.Object = object;
  run.Address = address;
  run.Language = language;
  run.HandlerKind = handlerKind;
  run.Module = module;
  run.Mode = mode;
  run.Job = &job;

  TVantorLogFlags& flags = VantorLogFlags();
  const bool duringStartOrEnd = flags.StartupRunning || flags.ShutdownBegun;
  if (DescendsFrom(object.get(), "EMemoryLeak") || (IsModuleDll(ThisModule()) && duringStartOrEnd)) {
    flags.ReportOnFaultingThread = 1;
    SetPollingThreadId(0);
    g_reportThread = GetCurrentThreadId();
    result = RunReport(run);
    g_reportThread = 0;
  } else {
    flags.ReportOnFaultingThread = 0;
    SetPollingThreadId(GetCurrentThreadId());
    TExceptionThread* thread = nullptr;
    try {
      thread = New<TExceptionThread>(&run);
      thread->SetPriority(tpHighest);
      thread->Resume();
      const bool mainThread = GetCurrentThreadId() == flags.MainThreadId;
      bool pumpStopped = false;
      while (thread->Running.load()) {
        if (mainThread && pump && ReportSteps().DialogShowing && ReportSteps().DialogShowing())
          PumpMessages(pumpStopped);
        RunParkedEvent();
        Sleep(10);
      }
      result = thread->Result;
      thread->Free();  // waits for the thread's end
      thread = nullptr;
    } catch (...) {
      // The report thread is ended; the lock and the in-report byte are released by their guards.
      if (thread) {
        for (int i = 0; i < 500 && !thread->Win32Id.load() && !thread->Finished(); ++i) Sleep(10);
        DWORD id = thread->Win32Id.load();
        HANDLE h = id ? OpenThread(THREAD_TERMINATE | SYNCHRONIZE, FALSE, id) : nullptr;
        if (h) {
          TerminateThread(h, 1);
          WaitForSingleObject(h, INFINITE);
          CloseHandle(h);
        }
        // Its object is left: the ended thread never recorded its end.
      }
      ClearParkedEvent();  // an event the ended thread parked would block the next report
      g_reportThread = 0;
      result = 1;
    }
    SetPollingThreadId(0);
  }
  // Afterwards.
  SetCurrentExceptionInfo(nullptr, 0, false);
  block.RecordedStackPosition = nullptr;
  block.SavedContext.ContextFlags = 0;
  std::memset(&block.SavedRecord, 0, sizeof block.SavedRecord);
  VantorEventState().HasCurrent = false;
  if (handlerKind == 1) {
    auto* mutableObject = const_cast<TExceptionObjectRecord*>(object.get());
    mutableObject->Message = WithSafeCallPrefix(mutableObject->Message);
  }
  return result;
}

// The dialog output of step h.6: the dialog of the current type, shown again
// while a showing leaves another non-zero type (without the first showing's beep).
static void ShowDialogOutput(TReportRun& run) {
  TReportSteps& steps = ReportSteps();
  run.AskReproduce = run.DialogType == 3;
  bool first = true;
  while (run.DialogType != 0 && steps.ShowDialog) {
    const std::uint8_t before = run.DialogType;
    if (!steps.ShowDialog(run, first)) {
      run.Show = false;
      ReportLibraryWarning(eeShowError, "GUI");
      break;
    }
    first = false;
    if (run.DialogType == before) break;  // shown once; shown again only when changed
  }
}

std::uint8_t RunReport(TReportRun& run) {
  TVantorLogFlags& flags = VantorLogFlags();
  int progress = rpStarted;
  run.Result = 0;
  TVantorThreadsList* snapshot = nullptr;
  TReportSteps& steps = ReportSteps();
  bool send = false;
  try {
    // 1.
    g_currentRun = &run;
    SetCurrentExceptionInfo(run.Object, run.Address, run.Language);
    // 2.
    CurrentThreadBlock().Reporting = 1;
    if (TVantorThreadsList* live = VantorThreadsList()) snapshot = New<TVantorThreadsList>(live);
    if (run.Address) {
      if (run.Language && run.Address >= 5) run.Address -= 5;
      std::lock_guard<std::mutex> guard(g_callsLock);
      g_lastReportedAddress = run.Address;
    }
    // 3. Entries of modules whose file changed are read again on demand.
    if (TVantorModulesList* modules = VantorModulesList()) {
      for (int i = modules->Count(); i-- > 0;) {
        TVantorModuleInfo* e = modules->Items(i);
        if (e->Handle == reinterpret_cast<ModuleHandle>(ThisModule()) || e->FileName.empty()) continue;
        if (GetFileModifiedTime(e->FileName) != e->FileTime) modules->DeleteModule(i);
      }
    }
    // 4. The options of this report.
    HMODULE mainModule = VantorMainInstance() ? VantorMainInstance() : GetModuleHandleA(nullptr);
    HMODULE other = run.Module == ThisModule() ? mainModule : ThisModule();
    TVantorEventState& events = VantorEventState();
    events.Current = TVantorExceptionRecord{};
    events.Current.ExceptionObject = run.Object.get();
    events.Current.ExceptionAddress = run.Address;
    events.Current.ThreadId = run.Job->ThreadId;
    SetRecordText(events.Current, run.Object ? run.Object->Message : std::string());
    TVantorModuleOptionsEx* options = DefaultVantorLogOptions();
    TVantorModuleInfo* chosen = nullptr;
    if (flags.UseApplicationModuleOptions) {
      // The program asked for the application module's options (the host
      // program's) whatever module raised.
      chosen = GetModuleEntry(GetModuleHandleA(nullptr));
      if (chosen && chosen->Options) options->Assign(chosen->Options);
    } else {
      TOptionsChoice choice = ChooseReportOptionsEntry(
          GetModuleEntryOfAddress(reinterpret_cast<const void*>(run.Address)), GetModuleEntry(run.Module),
          other && other != run.Module ? GetModuleEntry(other) : nullptr, other && other != run.Module);
      progress = choice.Progress;
      chosen = choice.Entry;
      if (chosen && chosen->Options) {
        options->Assign(chosen->Options);
        if (options->BehaviourFlags() & 0x08) {
          TVantorModuleInfo* otherEntry = other && other != run.Module ? GetModuleEntry(other) : nullptr;
          if (otherEntry && otherEntry->DebugData && otherEntry->Options) {
            options->Assign(otherEntry->Options);
            chosen = otherEntry;
          }
        }
      }
    }
    if (chosen && chosen->Options) {
      options->AssignModuleName(chosen->FileName);
      options->AssignModuleHandle(chosen->Handle);
    }
    run.Options = options;
    // 5. Texts 154 and 155 become the messages of the next multiple-free and overrun reports.
    progress = rpOptionsChosen;
    KeepLeakFaultMessages(options->GetCustomText(154), options->GetCustomText(155));
    if (IsHostedByIde()) {
      options->SetDialogFlags(static_cast<std::uint16_t>(options->DialogFlags() & ~0x40));
      options->SetCustomText(26, "The IDE has raised an exception.\r\n ");
      options->SetCustomText(27, "Restart the IDE");
    }
    // 6.
    progress = rpFilters;
    SetMessageOverride(std::string());
    run.Handling = rhReport;
    std::uint8_t filterTerminate = 0;
    run.DialogType = options->DialogKind();
    run.FilterMatched = false;
    // 7.
    if (run.HandlerKind != 2 && options->CatchEnabled() && options->FilterList()) {
      TExceptionIdentity identity;
      identity.ClassChain = run.Object->ClassChain;
      identity.IsActiveX = run.Object->IsActiveX;
      identity.ActiveXClassNames = run.Object->ActiveXClassNames;
      const int index = options->FilterList()->FindMatchingExceptionFilter(identity, run.Job->Handled != 0);
      progress = rpFiltersDone;
      if (index >= 0) {
        const TVantorExceptionFilter* filter = options->FilterList()->GetFilter(index);
        TFilterDecision d = ApplyExceptionFilter(filter, options->DialogKind());
        filterTerminate = d.TerminateAction;
        run.Handling = d.Handling;
        run.DialogType = d.DialogType;
        run.FilterMatched = true;
        const std::string message = ExpandPercentVariables(filter->ExceptionMessage);
        if (!message.empty()) {
          run.CustomMessage = message;
          SetMessageOverride(message);
        }
      }
    }
    // 8.
    auto sendingDue = [&] {
      return IsSendingDue(options->MailMode(), options->WebMode(), run.Duplicate, run.SendChosen, run.DialogType);
    };
    send = sendingDue();
    progress = rpSendingDecided;
    // 9.
    if (run.Handling == rhProgramHandles) {
      run.Result = 1;
    } else if (run.Handling == rhReport) {
      TReportJob& job = *run.Job;
      // a.
      if (job.Context && !ProcessMemory().IsReadable(reinterpret_cast<std::uintptr_t>(job.Context), sizeof(CONTEXT)))
        job.Context = nullptr;
      if (job.Record &&
          !ProcessMemory().IsReadable(reinterpret_cast<std::uintptr_t>(job.Record), sizeof(EXCEPTION_RECORD)))
        job.Record = nullptr;
      if (!job.Context && job.HasSavedContext) job.Context = &job.SavedContext;
      if (!job.Record && job.HasSavedRecord) job.Record = &job.SavedRecord;
      if (job.Record) events.Current.OsExceptionRecord = job.Record;
      progress = rpStacks;
      // b.
      if (!job.StackTop) {
        if (TVantorThreadsList* threads = snapshot) {
          const int i = threads->IndexOfThreadId(job.ThreadId);
          if (i >= 0) job.StackTop = threads->GetThreadInfo(i)->StackTop;
        }
      }
      if (job.StackList) {
        run.CallStack = job.StackList;
      } else if (job.StackCopy) {
        run.CallStack = New<TVantorStackList>();
        const TStackSnapshot& copy = *job.StackCopy;
        StackCopyReader memory(copy.Start, copy.Bytes.data(), std::min<std::size_t>(copy.Size, copy.Bytes.size()));
        ScanInto(*run.CallStack, memory, run.Address, job.StackStart, job.StackTop, job.ThreadId, true);
      } else {
        run.CallStack = New<TVantorStackList>();
        ScanInto(*run.CallStack, ProcessMemory(), run.Address, job.StackStart, job.StackTop, job.ThreadId, true);
      }
      HMODULE exceptModule = GetModuleBaseOfAddress(reinterpret_cast<const void*>(run.Address));
      const std::string appTitle = ChangeFileExt(ExtractFileName(ModuleFileNameOf(mainModule)), "");
      const std::string moduleTitle = exceptModule ? ExtractFileName(ModuleFileNameOf(exceptModule)) : std::string();
      run.BugId = BugIdentifier(BugIdentifierText(appTitle, moduleTitle, run.Object->ClassName(), run.CallStack));
      if (snapshot) {
        const int i = snapshot->IndexOfThreadId(job.ThreadId);
        if (i >= 0) AddResumerStack(*run.CallStack, *snapshot->GetThreadInfo(i));
        // c. The threads that BehaviourFlags freeze stand still while the stacks are copied.
        CollectOtherThreadStacks(*run.CallStack, *snapshot, job.ThreadId, options->StackFlags(), !job.Freeze,
                                 run.HandlerKind != 2 ? options->BehaviourFlags() : std::uint16_t{0});
      }
      progress = rpThreadsFrozen;
      // d.
      progress = rpListsRefreshed;
      bool cont = true;
      if (options->LogFlags() & 0x10) {
        flags.LightScan = true;
        try {
          RefreshModulesList();
        } catch (...) {
          flags.LightScan = false;
          throw;
        }
        flags.LightScan = false;
        RefreshProcessesList();
      }
      progress = rpReportText;
      ReportStepMarker() = rpReportText;
      run.ReportText = steps.BuildReportText ? steps.BuildReportText(run) : BuildRunReportText(run);
      progress = rpReportTextBuilt;
      // e.
      progress = rpDuplicate;
      events.HasCurrent = true;
      run.Duplicate = steps.CheckDuplicate ? steps.CheckDuplicate(run, true) : CheckDuplicateError(run, true);
      progress = rpDuplicateDone;
      progress = rpWarningCleared;
      ClearLibraryWarning();
      progress = rpEnvironment;
      SetReportVariables(run);
      // f.
      if (IsWebApp() && IsConsoleApp()) SaveLastHtmlPage(run, LastHtmlPage());
      // g. The events, on the faulting thread.
      const bool guiProgram = !IsConsoleApp();
      if (ShouldRestoreMainWindow(run.Mode, guiProgram, options->DialogKind(), send, options->SendFlags()))
        RestoreMainWindow(run);
      events.Handled = false;
      RunEventOnFaultingThread(job.Handled ? &FireHandledExceptionNotify : &NotifyExceptionEvent);
      if (events.Handled) cont = false;
      // h.
      progress = rpEventsFired;
      if (cont) {
        steps.TakeScreenshot ? steps.TakeScreenshot(run) : TakeReportScreenshot(run);
        if (options->CrashAction() != 0) AddCrashTime(CrashTimes(), FormatReportDateTime(Now()), options->CrashCount());
        CustomDataLines().Clear();
        RunEventOnFaultingThread(&FireCustomDataRequest);
        const std::uint8_t* fields = options->ReportFields();
        if (CustomDataLines().Count() > 0 && (fields[5] & 0x80)) {
          if (steps.InsertSection)
            steps.InsertSection(run, 91, CustomDataLines().Text());
          else
            InsertRunValuesSection(run, kCustomDataSection, options->GetCustomText(91), CustomDataLines());
        }
        progress = rpCounted;
        ++g_reportCount;
        progress = rpLastMessage;
        g_lastMessage = CollapseControlChars(run.Object->Message);
        SetLastExceptionMessage(g_lastMessage);
        progress = rpDialogType;
        if (!run.FilterMatched) run.DialogType = options->DialogKind();
        if (!run.Job->Freeze) run.WorkArea = GetWindowMonitorWorkArea(GetForegroundWindow());
        const TReportOutput output = ChooseReportOutput(run.Mode, IsWebApp(), IsConsoleApp());
        run.SendChosen = options->MailMode() != 0 || options->WebMode() != 0;
        run.AttachScreenshot = (options->SendFlags() & 0x10) != 0;
        if (run.DialogType != 0) {
          progress = rpDialog;
          run.Show = true;
          ClearLibraryWarning();
          FireShowingDialogAction(run.Show);
          if (run.Show) {
            progress = rpOutput;
            switch (output) {
              case TReportOutput::Console:
                if (!WriteConsoleReport(run.ReportText)) {
                  run.Show = false;
                  ReportLibraryWarning(eeShowError, "Console");
                }
                break;
              case TReportOutput::WebPage:
                if (steps.ShowWebPage)
                  steps.ShowWebPage(run, run.ReportText);
                else
                  ShowReportWebPage(run, run.ReportText);
                break;
              case TReportOutput::Dialog:
                ShowDialogOutput(run);
                break;
            }
            progress = rpOutputDone;
            bool execute = true;
            FireDialogShownAction(execute);
          }
        } else if (IsWebApp()) {
          if (steps.ShowWebPage)
            steps.ShowWebPage(run, ShownMessage(run));
          else
            ShowReportWebPage(run, ShownMessage(run));
        }
        // 7.
        if (run.AskReproduce && steps.AskReproduce) {
          steps.AskReproduce(run);
          if (options->LogFlags() & 0x02) {
            if (steps.InsertSection)
              steps.InsertSection(run, 123, options->ReproduceSteps());
            else
              InsertRunTextSection(run, kReproduceSection, options->GetCustomText(123), options->ReproduceSteps());
          }
        }
        // 8.
        steps.SaveAndFreeScreenshot ? steps.SaveAndFreeScreenshot(run) : SaveAndFreeReportScreenshot(run);
        // 9. The XML form of the log's last entry (nothing is deleted).
        progress = rpLog;
        if (options->LogFlags() & 0x04) steps.WriteXmlLog ? steps.WriteXmlLog(run) : SaveXmlLogBesideLog(run);
        // 10.
        send = sendingDue();
        if (options->WriteLogFile()) steps.AppendLog ? steps.AppendLog(run) : SaveReportToLogFile(run);
        if (run.CopyToClipboard) CopyTextToClipboard(run.ReportText);
        progress = rpSending;
        if (send && steps.StartSending) steps.StartSending(run);
        if ((!send || !(options->SendFlags() & 0x80)) && steps.FinishReport) steps.FinishReport(run);
      } else {
        run.Result = 1;
      }
      // i.
      progress = rpCleanUp;
      if (!send || !(options->SendFlags() & 0x80)) {
        if (run.CallStack != job.StackList) FreeAndNil(run.CallStack);
        run.CallStack = nullptr;
      }
      if (!flags.TerminationRequested && filterTerminate != 0) SetCloseAction(filterTerminate);
      // j.
      if (options->BehaviourFlags() & 0x80) run.Result = 1;
    }
    // 10.
    progress = rpTermination;
    if (run.HandlerKind != 2 && (!send || !(run.Options->SendFlags() & 0x80)) && flags.TerminationRequested)
      RestartApplication(run.Options->TerminateAction() == 2);
  } catch (...) {
    // 12.
    // A failure while the text is built names the builder's section.
    const int section = progress == rpReportText ? ReportStepMarker() : progress;
    ReportInternalFailure(std::to_string(section), std::current_exception(), IsDebuggerPresent() != 0);
  }
  // 11.
  if (run.CallStack && run.Job && run.CallStack != run.Job->StackList && (!send || !(run.Options->SendFlags() & 0x80)))
    FreeAndNil(run.CallStack);
  FreeAndNil(snapshot);
  CurrentThreadBlock().Reporting = 0;
  g_currentRun = nullptr;
  return run.Result;
}

// --- The unhandled filter's report --------------------------------------------------------------------
// In the form the report keeps as the last message, so that the two compare.
std::string FilterMessageText(const TExceptionObjectRecord* object) {
  if (!object) return std::string();
  return CollapseControlChars(object->Message);
}

std::shared_ptr<const TExceptionObjectRecord> UnhandledFilterObject(const EXCEPTION_RECORD* record) {
  if (!record) return nullptr;
  TExternalExceptionRecord copy;
  copy.ExceptionCode = record->ExceptionCode;
  copy.ExceptionFlags = record->ExceptionFlags;
  copy.ExceptionAddress = reinterpret_cast<std::uintptr_t>(record->ExceptionAddress);
  for (DWORD i = 0; i < record->NumberParameters && i < EXCEPTION_MAXIMUM_PARAMETERS; ++i)
    copy.Parameters.push_back(record->ExceptionInformation[i]);
  return std::make_shared<const TExceptionObjectRecord>(
      MakeExceptionObjectRecord(MapFaultRecord(copy), reinterpret_cast<std::uintptr_t>(record->ExceptionAddress)));
}

std::uint8_t ReportFromUnhandledFilter(std::shared_ptr<const TExceptionObjectRecord> object, std::uintptr_t address,
                                       const EXCEPTION_RECORD* record, const CONTEXT* context) {
  if (VantorLogFlags().Initialized != 1) return 0;
  TVantorThreadBlock& block = CurrentThreadBlock();
  if (!block.RecordedStackPosition) {
    std::memset(&block.SavedContext, 0, sizeof block.SavedContext);
    std::memset(&block.SavedRecord, 0, sizeof block.SavedRecord);
    block.RecordedStackPosition = context ? reinterpret_cast<void*>(ContextSp(*context)) : __builtin_frame_address(0);
  }
  const bool language = IsLanguageException(object.get());
  RecordCall(object, address, language, false, 0, ThisModule(), kModeServer, record, context, 0);
  ProcessExceptionEx(object, address, language, nullptr, false, 0, ThisModule(), kModeServer, record, context,
                     context ? ContextSp(*context) : 0, 0);
  return 1;
}
