// The capture hooks in a program linked with the throw wrapper: a throw
// fills the thread block as a language raise, the framework's application
// handler and thread-entry slots and the terminate handler report (to the
// recording pipeline entry), a fault leaves its record and CONTEXT in the
// faulting thread's block, and a dormant module's exports answer neutrally.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstring>
#include <string>

#include "ExceptionLogCapture.h"
#include "ExceptionLogWin.h"
#include "Forms.h"
#include "Thread.h"
#include "Units.h"

extern "C" void __wrap___cxa_throw(void*, std::type_info*, void (*)(void*));

namespace {

int g_handled = 0;
int g_shown = 0;

class CaptureTest : public ::testing::Test {
 protected:
  void SetUp() override {
    VantorLogFlags().Initialized = 1;
    VantorLogFlags().MainThreadId = GetCurrentThreadId();
    VantorLogFlags().CatchingEnabled = 1;
    // The framework's own handlers would show boxes: these count instead.
    savedHandle_ = HandleExceptionHook;
    savedShow_ = ShowExceptionHook;
    HandleExceptionHook = [](TApplication*, TObject*, std::exception_ptr) { ++g_handled; };
    ShowExceptionHook = [](TApplication*, std::exception_ptr) { ++g_shown; };
    g_handled = g_shown = 0;
    InstallCaptureHooks();
    ClearProcessExceptionCalls();
  }
  void TearDown() override {
    RemoveCaptureHooks();
    HandleExceptionHook = savedHandle_;
    ShowExceptionHook = savedShow_;
    VantorLogFlags().Initialized = 0;
    ClearCurrentExceptionInfo();
    ClearExcludedThreads();
    SetCatchingEnabled(true);
  }
  THandleExceptionProc savedHandle_ = nullptr;
  TShowExceptionProc savedShow_ = nullptr;
};

[[gnu::noinline]] void ThrowConvertError() {
  throw EConvertError("'x' is not a valid integer value");
}

TEST_F(CaptureTest, AThrowFillsTheThreadBlockAsALanguageRaise) {
  std::uintptr_t wrapper = reinterpret_cast<std::uintptr_t>(&__wrap___cxa_throw);
  try {
    ThrowConvertError();
  } catch (const EConvertError&) {
  }
  TVantorThreadBlock& block = CurrentThreadBlock();
  EXPECT_EQ(block.SavedRecord.ExceptionCode, kLanguageRaiseCode);
  EXPECT_EQ(block.SavedRecord.ExceptionFlags, 1u);
  EXPECT_EQ(block.SavedRecord.NumberParameters, 7u);
  std::uintptr_t address = reinterpret_cast<std::uintptr_t>(block.SavedRecord.ExceptionAddress);
  EXPECT_EQ(reinterpret_cast<std::uintptr_t>(block.RaiseAddress), address);
#if defined(__i386__)
  EXPECT_EQ(block.SavedContext.ContextFlags, 0x10003u);
  std::uintptr_t eip = block.SavedContext.Eip;
  EXPECT_EQ(block.SavedContext.Esp, reinterpret_cast<std::uintptr_t>(block.RaiseStackPosition));
#else
  std::uintptr_t eip = block.SavedContext.Rip;
#endif
  // The saved instruction is the CALL of the throw wrapper (E8 rel32).
  EXPECT_EQ(eip, address - 5);
  const auto* code = reinterpret_cast<const std::uint8_t*>(eip);
  ASSERT_EQ(code[0], 0xE8);
  std::int32_t rel = 0;
  std::memcpy(&rel, code + 1, 4);
  EXPECT_EQ(eip + 5 + static_cast<std::uintptr_t>(static_cast<std::intptr_t>(rel)), wrapper);

  // The raise is noted, not reported: the program may still handle it.
  TCurrentExceptionInfo current = CurrentExceptionInfo();
  ASSERT_NE(current.Object, nullptr);
  EXPECT_EQ(current.Object->ClassName(), "EConvertError");
  EXPECT_EQ(current.Address, address);
  EXPECT_EQ(VantorLog_LastLunderException(), 1);
  EXPECT_TRUE(ProcessExceptionCalls().empty());
  TStackSnapshot snapshot = CurrentStackSnapshot();
  EXPECT_EQ(snapshot.ThreadId, GetCurrentThreadId());
  EXPECT_EQ(snapshot.Address, address - 5);
  EXPECT_GT(snapshot.Size, 0u);
}

TEST_F(CaptureTest, TheApplicationHandlerReportsWithModeOneOnce) {
  try {
    ThrowConvertError();
  } catch (...) {
    Application->HandleException(nullptr);
  }
  std::vector<TProcessExceptionCall> calls = ProcessExceptionCalls();
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_EQ(calls[0].Mode, kModeApplication);
  EXPECT_EQ(calls[0].HandlerKind, 0);
  EXPECT_FALSE(calls[0].Handled);
  ASSERT_NE(calls[0].Object, nullptr);
  EXPECT_EQ(calls[0].Object->ClassName(), "EConvertError");
  EXPECT_EQ(calls[0].Object->Message, "'x' is not a valid integer value");
  EXPECT_EQ(calls[0].Address, reinterpret_cast<std::uintptr_t>(CurrentThreadBlock().RaiseAddress));
  // The answer 1 lets the framework's handler go on; inside it, showing reports nothing again.
  EXPECT_EQ(g_handled, 1);
  EXPECT_STREQ(CurrentThreadBlock().LastExceptionClass, "EConvertError");

  // EAbort is not reportable.
  ClearProcessExceptionCalls();
  ClearCurrentExceptionInfo();
  try {
    throw EAbort("quiet");
  } catch (...) {
    Application->HandleException(nullptr);
  }
  EXPECT_TRUE(ProcessExceptionCalls().empty());
  EXPECT_EQ(g_handled, 2);

  ClearProcessExceptionCalls();
  try {
    ThrowConvertError();
  } catch (...) {
    Application->ShowException(std::current_exception());
  }
  ASSERT_EQ(ProcessExceptionCalls().size(), 1u);
  EXPECT_EQ(g_shown, 1);
}

class TFailingThread : public TThread {
 public:
  TFailingThread() : TThread(false) {}

 protected:
  void Execute() override {
    ExecutingThreadId = GetCurrentThreadId();
    throw EListError("List index out of bounds (5)");
  }

 public:
  DWORD ExecutingThreadId = 0;
};

TEST_F(CaptureTest, AnExceptionLeavingExecuteIsReportedAndStaysTheFatalException) {
  TFailingThread* thread = New<TFailingThread>();
  thread->WaitFor();
  std::vector<TProcessExceptionCall> calls = ProcessExceptionCalls();
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_EQ(calls[0].Mode, kModeServer);
  EXPECT_EQ(calls[0].HandlerKind, 2);
  EXPECT_EQ(calls[0].ThreadId, thread->ExecutingThreadId);
  EXPECT_EQ(calls[0].Object->ClassName(), "EListError");
  ASSERT_TRUE(thread->FatalException());
  EXPECT_THROW(std::rethrow_exception(thread->FatalException()), EListError);
  thread->Free();
}

void FailingUnitInit() {
  throw EConvertError("the unit cannot start");
}

TEST_F(CaptureTest, AnExceptionLeavingAUnitIsReportedBeforeItPassesOn) {
  UnitEntry table[] = {{"Failing", FailingUnitInit, nullptr}};
  SetUnitTable(table, 1);
  EXPECT_THROW(RunUnitInitializations(), EConvertError);
  RunUnitFinalizations();
  SetUnitTable(nullptr, 0);
  std::vector<TProcessExceptionCall> calls = ProcessExceptionCalls();
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_EQ(calls[0].Mode, kModeServer);
  EXPECT_EQ(calls[0].Object->Message, "the unit cannot start");
}

DWORD WINAPI UncaughtThrow(void*) {
  throw EInvalidOperation("nobody catches this");
}

TEST_F(CaptureTest, AnUncaughtExceptionEndsOnlyItsThreadWithExitCodeOne) {
  DWORD id = 0;
  HANDLE h = CreateThread(nullptr, 0, &UncaughtThrow, nullptr, 0, &id);
  ASSERT_NE(h, nullptr);
  ASSERT_EQ(WaitForSingleObject(h, 20000), WAIT_OBJECT_0);
  DWORD code = 0;
  ASSERT_TRUE(GetExitCodeThread(h, &code));
  CloseHandle(h);
  EXPECT_EQ(code, 1u);
  std::vector<TProcessExceptionCall> calls = ProcessExceptionCalls();
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_EQ(calls[0].ThreadId, id);
  EXPECT_EQ(calls[0].Mode, kModeServer);
  EXPECT_TRUE(calls[0].HasRecord);
  EXPECT_EQ(calls[0].Object->ClassName(), "EInvalidOperation");
}

#if defined(__i386__)
// After the library's handler, the test's: it checks the faulting thread's
// block and ends the thread.
std::uintptr_t g_faultEip = 0, g_blockEip = 0;
DWORD g_blockCode = 0;

LONG CALLBACK EndFaultingThread(EXCEPTION_POINTERS* info) {
  if (info->ExceptionRecord->ExceptionCode != EXCEPTION_ACCESS_VIOLATION) return EXCEPTION_CONTINUE_SEARCH;
  TVantorThreadBlock& block = CurrentThreadBlock();
  g_faultEip = info->ContextRecord->Eip;
  g_blockEip = block.SavedContext.Eip;
  g_blockCode = block.SavedRecord.ExceptionCode;
  ExitThread(0xC0000005u);
}

DWORD WINAPI WriteToAddressZero(void*) {
  *static_cast<volatile int*>(nullptr) = 1;
  return 0;
}

TEST_F(CaptureTest, AFaultLeavesItsRecordAndContextInTheThreadBlock) {
  void* last = AddVectoredExceptionHandler(0, &EndFaultingThread);
  HANDLE h = CreateThread(nullptr, 0, &WriteToAddressZero, nullptr, 0, nullptr);
  ASSERT_NE(h, nullptr);
  ASSERT_EQ(WaitForSingleObject(h, 20000), WAIT_OBJECT_0);
  DWORD code = 0;
  GetExitCodeThread(h, &code);
  CloseHandle(h);
  RemoveVectoredExceptionHandler(last);
  EXPECT_EQ(code, 0xC0000005u);
  EXPECT_EQ(g_blockCode, 0xC0000005u);
  EXPECT_NE(g_faultEip, 0u);
  EXPECT_EQ(g_blockEip, g_faultEip);
  EXPECT_TRUE(ProcessExceptionCalls().empty());  // a fault is not reported where it arises
}
#endif

TEST(DormantExports, AnswerNeutrallyAndTouchNothing) {
  VantorLogFlags().Initialized = 0;
  ClearProcessExceptionCalls();
  TExceptionObjectRecord record = MakeExceptionObjectRecord(std::make_exception_ptr(EConvertError("x")), 0x1000);
  EXPECT_EQ(ExceptionManager(&record, reinterpret_cast<void*>(0x1000), 1, nullptr), 1);
  EXPECT_EQ(VantorLog_LastLunderException(), 0);
  ULONG_PTR args[7] = {};
  VantorLog_CallGeneralRaise(kLanguageRaiseCode, 1, 7, nullptr, args);
  EXCEPTION_RECORD er{};
  er.ExceptionCode = 0xC0000005u;
  EXPECT_EQ(VantorLog_CallExceptObject(&er, nullptr, 1), nullptr);
  TVantorThreadInfo info;
  VantorLog_CallCreateThread(&info);
  VantorLog_CallResumeThread(GetCurrentThread(), &info);
  VantorLog_CallExitThread();
  EXPECT_TRUE(ProcessExceptionCalls().empty());

  // Looked up by name, as another module finds them.
  HMODULE self = GetModuleHandleA(nullptr);
  for (const char* name :
       {"ExceptionManager", "VantorLog_CallGeneralRaise", "VantorLog_CallExceptObject", "VantorLog_LastLunderException",
        "VantorLog_CallCreateThread", "VantorLog_CallResumeThread", "VantorLog_CallExitThread"})
    EXPECT_NE(GetProcAddress(self, name), nullptr) << name;
  auto manager =
      reinterpret_cast<decltype(&ExceptionManager)>(reinterpret_cast<void*>(GetProcAddress(self, "ExceptionManager")));
  ASSERT_NE(manager, nullptr);
  EXPECT_EQ(manager(&record, nullptr, 0, nullptr), 1);
}

TEST_F(CaptureTest, TheExportedManagerReportsACopyOfAnotherModulesRecord) {
  TExceptionObjectRecord record = MakeExceptionObjectRecord(std::make_exception_ptr(EConvertError("x")), 0x1000);
  EXPECT_EQ(ExceptionManager(&record, reinterpret_cast<void*>(0x1000), kModeServer, nullptr), 1);
  std::vector<TProcessExceptionCall> calls = ProcessExceptionCalls();
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_EQ(calls[0].Object->ClassName(), "EConvertError");
  EXPECT_FALSE(calls[0].Object->Error);  // the other module's exception stays its own
  EXPECT_EQ(calls[0].Address, 0x1000u);
}

// --- Excluded threads ----------------------------------------------------------------------------

std::shared_ptr<const TExceptionObjectRecord> StackOverflowRecord() {
  return std::make_shared<const TExceptionObjectRecord>(
      MakeExceptionObjectRecord(std::make_exception_ptr(EStackOverflow("Stack overflow")), 0x1000));
}

struct ReportAttempt {
  DWORD ThreadId = 0;
  BYTE ManagerAnswer = 0;
};

DWORD WINAPI ReportFromWorker(void* attempt) {
  auto* a = static_cast<ReportAttempt*>(attempt);
  a->ThreadId = GetCurrentThreadId();
  TExceptionObjectRecord record = MakeExceptionObjectRecord(std::make_exception_ptr(EConvertError("w")), 0x2000);
  a->ManagerAnswer = ExceptionManager(&record, reinterpret_cast<void*>(0x2000), kModeServer, nullptr);
  CaptureException(StackOverflowRecord(), 0x2000, false);
  return 0;
}

ReportAttempt RunWorkerReport() {
  ReportAttempt attempt;
  HANDLE thread = CreateThread(nullptr, 0, ReportFromWorker, &attempt, 0, nullptr);
  EXPECT_NE(thread, nullptr);
  if (thread) {
    EXPECT_EQ(WaitForSingleObject(thread, 60000), WAIT_OBJECT_0);
    CloseHandle(thread);
  }
  return attempt;
}

TEST_F(CaptureTest, AnExcludedThreadIsNeverReportedOthersStillAre) {
  TExceptionObjectRecord record = MakeExceptionObjectRecord(std::make_exception_ptr(EConvertError("x")), 0x1000);
  const DWORD self = GetCurrentThreadId();
  ExcludeThreadFromReports(self);
  // The manager leaves it to the program and a stack overflow goes unreported.
  EXPECT_EQ(ExceptionManager(&record, reinterpret_cast<void*>(0x1000), kModeServer, nullptr), 1);
  CaptureException(StackOverflowRecord(), 0x1000, false);
  EXPECT_TRUE(ProcessExceptionCalls().empty());
  // Another thread is reported both ways.
  ReportAttempt worker = RunWorkerReport();
  std::vector<TProcessExceptionCall> calls = ProcessExceptionCalls();
  ASSERT_EQ(calls.size(), 2u);
  for (const TProcessExceptionCall& call : calls) EXPECT_EQ(call.ThreadId, worker.ThreadId);
  EXPECT_EQ(calls[0].Object->ClassName(), "EConvertError");
  EXPECT_EQ(calls[1].Object->ClassName(), "EStackOverflow");

  // Included again, this thread is reported.
  IncludeThreadInReports(self);
  ClearProcessExceptionCalls();
  CaptureException(StackOverflowRecord(), 0x1000, false);
  calls = ProcessExceptionCalls();
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_EQ(calls[0].ThreadId, self);
  // With catching off nothing is reported on any thread.
  ClearProcessExceptionCalls();
  SetCatchingEnabled(false);
  EXPECT_EQ(ExceptionManager(&record, reinterpret_cast<void*>(0x1000), kModeServer, nullptr), 1);
  CaptureException(StackOverflowRecord(), 0x1000, false);
  worker = RunWorkerReport();
  EXPECT_EQ(worker.ManagerAnswer, 1);
  SetCatchingEnabled(true);
  EXPECT_TRUE(ProcessExceptionCalls().empty());
  ClearExcludedThreads();
}

// --- The mapping export ------------------------------------------------------------------------------

struct MappingCase {
  DWORD Code = 0;
  BYTE Report = 0;
  // What the worker saw.
  void* Object = nullptr;
  std::string ClassName;
  bool IsCurrent = false;
  DWORD SavedCode = 0;
  DWORD SavedContextFlags = 0;
  void* RecordedStackPosition = nullptr;
};

alignas(16) CONTEXT g_mappingContext;

void MapOnThisThread(MappingCase& c) {
  EXCEPTION_RECORD record{};
  record.ExceptionCode = c.Code;
  record.ExceptionAddress = reinterpret_cast<void*>(0x401234);
  record.NumberParameters = 2;
  record.ExceptionInformation[0] = 1;
  record.ExceptionInformation[1] = 0x10;
  std::memset(&g_mappingContext, 0, sizeof g_mappingContext);
#if defined(__i386__)
  g_mappingContext.Esp = 0x0012F000;
#else
  g_mappingContext.Rsp = 0x0012F000;
#endif
  c.Object = VantorLog_CallExceptObject(&record, &g_mappingContext, c.Report);
  if (c.Object) c.ClassName = static_cast<const TExceptionObjectRecord*>(c.Object)->ClassName();
  c.IsCurrent = c.Object && CurrentExceptionInfo().Object.get() == c.Object;
  TVantorThreadBlock& block = CurrentThreadBlock();
  c.SavedCode = block.SavedRecord.ExceptionCode;
  c.SavedContextFlags = block.SavedContext.ContextFlags;
  c.RecordedStackPosition = block.RecordedStackPosition;
}

DWORD WINAPI MapOnWorker(void* c) {
  MapOnThisThread(*static_cast<MappingCase*>(c));
  return 0;
}

TEST_F(CaptureTest, TheMappingExportMakesTheObjectAndReportsOnlyWhereAsked) {
  const struct {
    DWORD code;
    BYTE report;
    bool worker;
    const char* className;
    std::size_t calls;  // reports reached the pipeline
  } cases[] = {
      // A fault the program may still handle is noted, never reported here.
      {0xC0000005u, 1, true, "EAccessViolation", 0},
      // A stack overflow is reported at once on another thread when asked...
      {0xC00000FDu, 1, true, "EStackOverflow", 1},
      {0xC00000FDu, 0, true, "EStackOverflow", 0},
      // ...and only noted on the main thread.
      {0xC00000FDu, 1, false, "EStackOverflow", 0},
      {0xC0000094u, 1, false, "EExternalException", 0},
  };
  for (const auto& k : cases) {
    ClearProcessExceptionCalls();
    ClearCurrentExceptionInfo();
    MappingCase c;
    c.Code = k.code;
    c.Report = k.report;
    DWORD threadId = GetCurrentThreadId();
    if (k.worker) {
      HANDLE thread = CreateThread(nullptr, 0, MapOnWorker, &c, 0, &threadId);
      ASSERT_NE(thread, nullptr);
      ASSERT_EQ(WaitForSingleObject(thread, 60000), WAIT_OBJECT_0);
      CloseHandle(thread);
    } else {
      MapOnThisThread(c);
    }
    SCOPED_TRACE(std::to_string(k.code) + (k.worker ? " worker" : " main") + " report " + std::to_string(k.report));
    ASSERT_NE(c.Object, nullptr);
    EXPECT_EQ(c.ClassName, k.className);
    EXPECT_TRUE(c.IsCurrent);
    EXPECT_EQ(c.SavedCode, k.code);
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(c.RecordedStackPosition), 0x0012F000u);
#if defined(__i386__)
    EXPECT_EQ(c.SavedContextFlags, 0x10003u);
#endif
    std::vector<TProcessExceptionCall> calls = ProcessExceptionCalls();
    ASSERT_EQ(calls.size(), k.calls);
    if (!calls.empty()) {
      EXPECT_EQ(calls[0].ThreadId, threadId);
      EXPECT_EQ(calls[0].Address, 0x401234u);
      EXPECT_FALSE(calls[0].Language);
    }
  }
  // No object for a thread-naming notification, a record that cannot be read or none.
  EXCEPTION_RECORD naming{};
  naming.ExceptionCode = kThreadNamingCode;
  EXPECT_EQ(VantorLog_CallExceptObject(&naming, nullptr, 1), nullptr);
  EXPECT_EQ(VantorLog_CallExceptObject(reinterpret_cast<EXCEPTION_RECORD*>(0x10), nullptr, 1), nullptr);
  EXPECT_EQ(VantorLog_CallExceptObject(nullptr, nullptr, 1), nullptr);
}

}  // namespace
