// The library's kernel32 hooks in a program that carries a data block: the
// real start-up patches the imports, threads are created suspended and
// listed before they run, resumed unless the caller asked for a suspended
// thread, lose their record at ExitThread and learn who resumed them; the
// RaiseException hook passes thread names on and swallows the debugger's
// CONTEXT notification; a CGI program's output is kept as the last page.
#include <gtest/gtest.h>
#include <windows.h>
// (after windows.h)
#include <httpext.h>

#include <algorithm>
#include <cstring>
#include <iterator>
#include <memory>

#include "ECallStack.h"
#include "ECoreWin.h"
#include "EHookWin.h"
#include "ExceptionLogCapture.h"
#include "ExceptionLogImports.h"
#include "ExceptionLogWin.h"
#include "Thread.h"
#include "Units.h"
#include "Win32Platform.h"

namespace {

UnitEntry g_units[] = {
    {"ECore", InitECoreWin, DoneECoreWin},
    {"EHook", InitEHook, DoneEHook},
    {"ExceptionLog", InitExceptionLog, DoneExceptionLog},
};

class ActiveLibrary : public ::testing::Environment {
 public:
  void SetUp() override {
    InitWin32Platform();
    SetUnitTable(g_units, std::size(g_units));
    RunUnitInitializations();
  }
  void TearDown() override { RunUnitFinalizations(); }
};
const auto* const g_environment = ::testing::AddGlobalTestEnvironment(new ActiveLibrary);

std::uintptr_t OwnStackTop() {
  std::uintptr_t limit = 0, top = 0;
  CurrentStackBounds(limit, top);
  return top;
}

// A copy of the listed record of a handle (false when it is not listed).
bool RecordOfHandle(HANDLE handle, TVantorThreadInfo& copy) {
  TVantorThreadsList* list = VantorThreadsList();
  list->LockForRead();
  int i = list->IndexOfHandle(reinterpret_cast<std::uintptr_t>(handle));
  if (i >= 0) copy = *list->GetThreadInfo(i);
  list->UnlockRead();
  return i >= 0;
}

struct Started {
  HANDLE ran = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  std::uintptr_t stackTop = 0;
  ~Started() { CloseHandle(ran); }
};

DWORD WINAPI SignalAndReturn42(void* parameter) {
  auto* started = static_cast<Started*>(parameter);
  started->stackTop = OwnStackTop();
  SetEvent(started->ran);
  return 42;
}

DWORD WINAPI EndWithExitThread(void*) {
  ExitThread(7);
}

DWORD WINAPI Return5(void*) {
  return 5;
}

DWORD ExitCodeAfterEnd(HANDLE thread) {
  EXPECT_EQ(WaitForSingleObject(thread, 10000), WAIT_OBJECT_0);
  DWORD code = 0;
  GetExitCodeThread(thread, &code);
  return code;
}

TEST(ImportHooks, StartUpPatchesTheImports) {
  ASSERT_EQ(VantorLogFlags().Initialized, 1) << "the program's data block did not make the library active";
  for (const char* name : {"RaiseException", "WriteFile", "CreateThread", "ResumeThread", "ExitThread"})
    EXPECT_TRUE(ImportHookInstalled(name)) << name;
}

TEST(ImportHooks, CreationFlagsDecideWhetherTheThreadRuns) {
  const struct {
    DWORD flags;
    bool runsAtOnce;
  } cases[] = {
      {0, true},
      {CREATE_SUSPENDED, false},
      {STACK_SIZE_PARAM_IS_A_RESERVATION, true},
      {STACK_SIZE_PARAM_IS_A_RESERVATION | CREATE_SUSPENDED, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.flags);
    Started started;
    DWORD id = 0;
    HANDLE thread = CreateThread(nullptr, 256 * 1024, &SignalAndReturn42, &started, c.flags, &id);
    ASSERT_NE(thread, nullptr);
    TVantorThreadInfo record;
    ASSERT_TRUE(RecordOfHandle(thread, record));
    EXPECT_EQ(record.ThreadId, id);
    EXPECT_EQ(record.StartRoutine, reinterpret_cast<void*>(&SignalAndReturn42));
    EXPECT_EQ(record.StartParameter, &started);
    EXPECT_EQ(record.ThreadObject, nullptr);
    if (c.runsAtOnce) {
      EXPECT_EQ(WaitForSingleObject(started.ran, 10000), WAIT_OBJECT_0);
    } else {
      EXPECT_EQ(WaitForSingleObject(started.ran, 300), static_cast<DWORD>(WAIT_TIMEOUT));
      EXPECT_EQ(ResumeThread(thread), 1u);  // it was suspended once
      EXPECT_EQ(WaitForSingleObject(started.ran, 10000), WAIT_OBJECT_0);
    }
    // The caller's routine ran inside the wrapped start and gave its result.
    EXPECT_EQ(ExitCodeAfterEnd(thread), 42u);
    ASSERT_TRUE(RecordOfHandle(thread, record));
    EXPECT_EQ(record.StackTop, started.stackTop);
    EXPECT_EQ(record.ResumerThreadId, GetCurrentThreadId());
    CloseHandle(thread);
  }
}

TEST(ImportHooks, RecordsGoAtExitThreadAndEndedThreadsAtTheNextCreation) {
  HANDLE exiting = CreateThread(nullptr, 0, &EndWithExitThread, nullptr, 0, nullptr);
  HANDLE returning = CreateThread(nullptr, 0, &Return5, nullptr, 0, nullptr);
  ASSERT_NE(exiting, nullptr);
  ASSERT_NE(returning, nullptr);
  TVantorThreadInfo record;
  EXPECT_EQ(ExitCodeAfterEnd(exiting), 7u);
  EXPECT_FALSE(RecordOfHandle(exiting, record));
  EXPECT_EQ(ExitCodeAfterEnd(returning), 5u);
  EXPECT_TRUE(RecordOfHandle(returning, record));  // no ExitThread of its own
  HANDLE next = CreateThread(nullptr, 0, &Return5, nullptr, 0, nullptr);
  ASSERT_NE(next, nullptr);
  EXPECT_FALSE(RecordOfHandle(returning, record));
  ExitCodeAfterEnd(next);
  for (HANDLE h : {exiting, returning, next}) CloseHandle(h);
}

TEST(ImportHooks, AThreadWhoseRecordWentStillRuns) {
  // The caller keeps only a copy of the handle: the listed one is closed, so
  // the next creation drops the record while the thread waits to be resumed.
  Started started;
  DWORD id = 0;
  HANDLE listed = CreateThread(nullptr, 0, &SignalAndReturn42, &started, CREATE_SUSPENDED, &id);
  ASSERT_NE(listed, nullptr);
  HANDLE kept = nullptr;
  ASSERT_TRUE(
      DuplicateHandle(GetCurrentProcess(), listed, GetCurrentProcess(), &kept, 0, FALSE, DUPLICATE_SAME_ACCESS));
  CloseHandle(listed);
  HANDLE next = CreateThread(nullptr, 0, &Return5, nullptr, 0, nullptr);
  ASSERT_NE(next, nullptr);
  TVantorThreadsList* list = VantorThreadsList();
  list->LockForRead();
  const bool stillListed = list->IndexOfThreadId(id) >= 0;
  list->UnlockRead();
  EXPECT_FALSE(stillListed);
  EXPECT_EQ(ResumeThread(kept), 1u);
  EXPECT_EQ(WaitForSingleObject(started.ran, 10000), WAIT_OBJECT_0);
  EXPECT_EQ(ExitCodeAfterEnd(kept), 42u);
  ExitCodeAfterEnd(next);
  CloseHandle(kept);
  CloseHandle(next);
}

constexpr std::uint32_t kStackMark[] = {0x5EC0DE01u, 0x5EC0DE02u, 0x5EC0DE03u, 0x5EC0DE04u};

struct Resumer {
  HANDLE target = nullptr;
  bool reporting = false;
  DWORD id = 0;
};

DWORD WINAPI ResumeTarget(void* parameter) {
  auto* resumer = static_cast<Resumer*>(parameter);
  volatile std::uint32_t mark[std::size(kStackMark)];
  for (std::size_t i = 0; i < std::size(kStackMark); ++i) mark[i] = kStackMark[i];
  resumer->id = GetCurrentThreadId();
  CurrentThreadBlock().Reporting = resumer->reporting ? 1 : 0;
  ResumeThread(resumer->target);
  CurrentThreadBlock().Reporting = 0;
  return mark[0] == kStackMark[0] ? 0 : 1;
}

TEST(ImportHooks, ResumeThreadRecordsTheResumerAndItsStack) {
  for (bool reporting : {false, true}) {
    SCOPED_TRACE(reporting);
    Started started;
    HANDLE target = CreateThread(nullptr, 0, &SignalAndReturn42, &started, CREATE_SUSPENDED, nullptr);
    ASSERT_NE(target, nullptr);
    Resumer resumer{target, reporting};
    HANDLE other = CreateThread(nullptr, 0, &ResumeTarget, &resumer, 0, nullptr);
    ASSERT_NE(other, nullptr);
    EXPECT_EQ(ExitCodeAfterEnd(other), 0u);
    EXPECT_EQ(WaitForSingleObject(started.ran, 10000), WAIT_OBJECT_0);
    ExitCodeAfterEnd(target);
    TVantorThreadInfo record;
    ASSERT_TRUE(RecordOfHandle(target, record));
    if (reporting) {
      // A thread that runs a report resumes others without leaving a trace.
      EXPECT_EQ(record.ResumerThreadId, 0u);
      EXPECT_EQ(record.ResumerStack, nullptr);
    } else {
      EXPECT_EQ(record.ResumerThreadId, resumer.id);
      ASSERT_NE(record.ResumerStack, nullptr);
      ASSERT_GT(record.ResumerStackSize, sizeof kStackMark);
      EXPECT_LT(record.ResumerStackSize, 1024u * 1024u);
      const std::uint8_t* begin = record.ResumerStack;
      const std::uint8_t* end = begin + record.ResumerStackSize;
      const auto* markBytes = reinterpret_cast<const std::uint8_t*>(kStackMark);
      EXPECT_NE(std::search(begin, end, markBytes, markBytes + sizeof kStackMark), end)
          << "the copy does not hold the resumer's stack";
    }
    CloseHandle(other);
    CloseHandle(target);
  }
}

class TRecordedWorker : public TThread {
  FW_CLASS(TRecordedWorker, TThread)
 public:
  TRecordedWorker() : TThread(false) {}
  std::uintptr_t StackTop = 0;

 protected:
  void Execute() override { StackTop = OwnStackTop(); }
};
FW_IMPLEMENT_CLASS(TRecordedWorker)

// Named as one of the library's own thread classes.
class TSendThread : public TThread {
  FW_CLASS(TSendThread, TThread)
 public:
  TSendThread() : TThread(false) {}
  bool Ran = false;

 protected:
  void Execute() override { Ran = true; }
};
FW_IMPLEMENT_CLASS(TSendThread)

void RunWithArgument(void* argument) {
  auto* started = static_cast<Started*>(argument);
  started->stackTop = OwnStackTop();
  SetEvent(started->ran);
}

TEST(ImportHooks, FrameworkThreadsAreRecognisedByTheirStartPair) {
  TRecordedWorker* worker = New<TRecordedWorker>();
  TVantorThreadInfo record;
  ASSERT_TRUE(RecordOfHandle(reinterpret_cast<HANDLE>(worker->Handle()), record));
  EXPECT_EQ(record.ThreadObject, worker);
  EXPECT_EQ(record.StartParameter, worker);
  EXPECT_EQ(record.StartRoutine, nullptr);
  EXPECT_NE(record.FrameworkThreadFunction, nullptr);
  worker->WaitFor();
  ASSERT_TRUE(RecordOfHandle(reinterpret_cast<HANDLE>(worker->Handle()), record));
  EXPECT_EQ(record.StackTop, worker->StackTop);
  EXPECT_EQ(worker->FatalException(), nullptr);
  worker->Free();

  // The library's own thread classes run unlisted.
  TSendThread* own = New<TSendThread>();
  EXPECT_FALSE(RecordOfHandle(reinterpret_cast<HANDLE>(own->Handle()), record));
  own->WaitFor();
  EXPECT_TRUE(own->Ran);
  own->Free();

  // Another function started by the thread interface runs wrapped with its own argument.
  Started started;
  std::unique_ptr<NativeThread> plain = GetThreadApi().Start(&RunWithArgument, &started);
  ASSERT_TRUE(RecordOfHandle(reinterpret_cast<HANDLE>(plain->Handle()), record));
  EXPECT_EQ(record.FrameworkThreadFunction, reinterpret_cast<void*>(&RunWithArgument));
  EXPECT_EQ(record.StartParameter, &started);
  EXPECT_EQ(record.ThreadObject, nullptr);
  EXPECT_EQ(WaitForSingleObject(started.ran, 10000), WAIT_OBJECT_0);
  plain->Join();
  ASSERT_TRUE(RecordOfHandle(reinterpret_cast<HANDLE>(plain->Handle()), record));
  EXPECT_EQ(record.StackTop, started.stackTop);
}

TEST(ImportHooks, ADormantLibraryLeavesNewThreadsAlone) {
  // (Looked up by id: an ended thread's record keeps its closed handle's value until the next creation.)
  auto listed = [](DWORD id) {
    TVantorThreadsList* list = VantorThreadsList();
    list->LockForRead();
    bool found = list->IndexOfThreadId(id) >= 0;
    list->UnlockRead();
    return found;
  };
  VantorLogFlags().Initialized = 0;
  Started started;
  DWORD id = 0;
  HANDLE suspended = CreateThread(nullptr, 0, &SignalAndReturn42, &started, CREATE_SUSPENDED, &id);
  VantorLogFlags().Initialized = 1;
  ASSERT_NE(suspended, nullptr);
  EXPECT_FALSE(listed(id));
  EXPECT_EQ(WaitForSingleObject(started.ran, 300), static_cast<DWORD>(WAIT_TIMEOUT));
  EXPECT_EQ(ResumeThread(suspended), 1u);
  EXPECT_EQ(ExitCodeAfterEnd(suspended), 42u);
  EXPECT_FALSE(listed(id));
  CloseHandle(suspended);
}

// --- Handler patches --------------------------------------------------------------------------------
#if defined(__i386__)
// A handler of the register convention: EAX + 0x77 (its first instructions are 5 bytes long).
asm(".text\n"
    "_PatchedHandlerTarget:\n"
    "  nop\n"
    "  nop\n"
    "  leal 0x77(%eax), %eax\n"
    "  ret\n");
extern "C" void PatchedHandlerTarget();

std::uint32_t CallTarget(std::uint32_t argument) {
  std::uint32_t result;
  asm volatile("call *%2" : "=a"(result) : "a"(argument), "r"(&PatchedHandlerTarget) : "ecx", "edx", "memory", "cc");
  return result;
}

// A handler that removes its two stack arguments on return (the first +
// the second; its first instructions are 5 bytes long).
asm(".text\n"
    "_StackArgumentsTarget:\n"
    "  movl 4(%esp), %eax\n"
    "  addl 8(%esp), %eax\n"
    "  ret $8\n");
extern "C" void StackArgumentsTarget();

// Calls it with the arguments 3 and 4; `moved` is how far ESP ends from
// where it was before they were pushed (0 when the callee removed them).
std::uint32_t CallStackArgumentsTarget(std::int32_t& moved) {
  std::uint32_t result;
  std::uint32_t before, after;
  asm volatile(
      "movl %%esp, %1\n"
      "pushl $4\n"
      "pushl $3\n"
      "call *%3\n"
      "movl %%esp, %2\n"
      "movl %1, %%esp\n"
      : "=&a"(result), "=&S"(before), "=&D"(after)
      : "b"(&StackArgumentsTarget)
      : "ecx", "edx", "memory", "cc");
  moved = static_cast<std::int32_t>(before - after);
  return result;
}
#endif

void* TestSymbol(std::uint8_t id) {
#if defined(__i386__)
  if (id == 4) return reinterpret_cast<void*>(&PatchedHandlerTarget);
#else
  if (id == 4) return reinterpret_cast<void*>(&TestSymbol);
#endif
  return nullptr;
}

#if defined(__i386__)
// Symbol 5 is a handler that removes 8 bytes of arguments; symbol 4's value
// names no argument size (6 bytes), so it is not patched.
void* ArgumentSymbol(std::uint8_t id) {
  if (id == 5) return reinterpret_cast<void*>(&StackArgumentsTarget);
  if (id == 4) return reinterpret_cast<void*>(&PatchedHandlerTarget);
  return nullptr;
}
bool ArgumentSymbolValue(std::uint8_t id, std::uint32_t& value) {
  value = id == 5 ? 8 : id == 4 ? 6 : 0;
  return true;
}
#endif

TEST(ImportHooks, BlockSymbolHandlersReportWithModeTwoAndAnswerForTheHandler) {
  HookClassLibraryHandlers(&TestSymbol);
  // The test block carries no web, service or network handler symbols.
  for (int id : {5, 6, 7, 8, 9, 10}) EXPECT_EQ(ClassLibraryTarget(id).Address, nullptr) << id;
  EXPECT_FALSE(NetworkThreadHookInstalled());
  ASSERT_NE(ClassLibraryTarget(4).Address, nullptr);
#if defined(__i386__)
  ASSERT_TRUE(ClassLibraryTarget(4).Patched);
  ClearProcessExceptionCalls();
  std::uint32_t result = 0;
  try {
    throw EConvertError("'y' is not a valid date");
  } catch (const EConvertError&) {
    result = CallTarget(0x100);
  }
  // The report dealt with the exception (answer 0): the answer is returned
  // in EAX and the original does not run.
  EXPECT_EQ(result, 0u);
  std::vector<TProcessExceptionCall> calls = ProcessExceptionCalls();
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_EQ(calls[0].Mode, kModeWeb);
  ASSERT_NE(calls[0].Object, nullptr);
  EXPECT_EQ(calls[0].Object->ClassName(), "EConvertError");
  // Outside an exception (none current) nothing more is reported and the
  // original runs with the caller's registers.
  ClearCurrentExceptionInfo();
  EXPECT_EQ(CallTarget(1), 0x78u);
  EXPECT_EQ(ProcessExceptionCalls().size(), 1u);
  EXPECT_TRUE(UnhookProcedureCode(reinterpret_cast<void*>(&PatchedHandlerTarget)));
  EXPECT_EQ(CallTarget(2), 0x79u);
#else
  // Code patches need the 32-bit build: the target is found and left alone.
  EXPECT_FALSE(ClassLibraryTarget(4).Patched);
#endif
  HookClassLibraryHandlers(nullptr);
}

#if defined(__i386__)
// A report that answers for a handler returns as the handler itself would:
// with its stack arguments removed, the caller's stack balanced.
TEST(ImportHooks, PatchedEntriesRemoveTheHandlersStackArguments) {
  EXPECT_TRUE(IsHandlerArgumentSize(0));
  EXPECT_TRUE(IsHandlerArgumentSize(1020));
  EXPECT_FALSE(IsHandlerArgumentSize(6));
  EXPECT_FALSE(IsHandlerArgumentSize(1024));
  HookClassLibraryHandlers(&ArgumentSymbol, &ArgumentSymbolValue);
  EXPECT_FALSE(ClassLibraryTarget(4).Patched);
  ASSERT_TRUE(ClassLibraryTarget(5).Patched);
  ClearProcessExceptionCalls();
  std::int32_t moved = -1;
  std::uint32_t result = 1;
  try {
    throw EConvertError("'z' is not a valid time");
  } catch (const EConvertError&) {
    result = CallStackArgumentsTarget(moved);
  }
  EXPECT_EQ(result, 0u);  // answered by the report
  EXPECT_EQ(moved, 0);
  EXPECT_EQ(ProcessExceptionCalls().size(), 1u);
  // Outside an exception the original runs and removes them itself.
  ClearCurrentExceptionInfo();
  EXPECT_EQ(CallStackArgumentsTarget(moved), 7u);
  EXPECT_EQ(moved, 0);
  EXPECT_TRUE(UnhookProcedureCode(reinterpret_cast<void*>(&StackArgumentsTarget)));
  HookClassLibraryHandlers(nullptr);
}
#endif

// --- A server extension's replies -----------------------------------------------------------------
std::string g_clientGot;

[[maybe_unused]] BOOL WINAPI FakeWriteClient(HCONN, LPVOID buffer, LPDWORD bytes, DWORD) {
  g_clientGot.assign(static_cast<const char*>(buffer), *bytes);
  return TRUE;
}

[[gnu::noinline]] DWORD WINAPI TestExtensionProc(EXTENSION_CONTROL_BLOCK* block) {
  char page[] = "<p>reply</p>";
  DWORD bytes = sizeof page - 1;
  block->WriteClient(block->ConnID, page, &bytes, 0);
  return HSE_STATUS_SUCCESS;
}

TEST(ImportHooks, AServerExtensionsRepliesBecomeTheLastPage) {
#if defined(__i386__)
  ASSERT_TRUE(HookHttpExtensionProc(reinterpret_cast<void*>(&TestExtensionProc)));
  EXTENSION_CONTROL_BLOCK block{};
  block.cbSize = sizeof block;
  block.WriteClient = &FakeWriteClient;
  SetLastHtmlPage("");
  EXPECT_EQ(TestExtensionProc(&block), static_cast<DWORD>(HSE_STATUS_SUCCESS));
  EXPECT_EQ(g_clientGot, "<p>reply</p>");
  EXPECT_EQ(LastHtmlPage(), "<p>reply</p>");
  // The library's own error page reaches the client and is not kept.
  char error[] = "<p>error</p>";
  DWORD bytes = sizeof error - 1;
  SetSendingErrorPage(true);
  EXPECT_TRUE(block.WriteClient(block.ConnID, error, &bytes, 0));
  SetSendingErrorPage(false);
  EXPECT_EQ(g_clientGot, "<p>error</p>");
  EXPECT_EQ(LastHtmlPage(), "<p>reply</p>");
  EXPECT_TRUE(UnhookProcedureCode(reinterpret_cast<void*>(&TestExtensionProc)));
#else
  // Code patches need the 32-bit build.
  EXPECT_FALSE(HookHttpExtensionProc(reinterpret_cast<void*>(&TestExtensionProc)));
#endif
}

// --- RaiseException ---------------------------------------------------------------------------------
DWORD g_seenCode = 0;
int g_seenCount = 0;

LONG CALLBACK CountRaises(EXCEPTION_POINTERS* info) {
  DWORD code = info->ExceptionRecord->ExceptionCode;
  if (code != kThreadNamingCode && code != kDebuggerNotificationCode && (code & 0xFFFFFF00u) != 0xE0001200u)
    return EXCEPTION_CONTINUE_SEARCH;
  g_seenCode = code;
  ++g_seenCount;
  return EXCEPTION_CONTINUE_EXECUTION;
}

TEST(ImportHooks, RaiseExceptionPassesThreadNamesAndSwallowsTheContextNotification) {
  ASSERT_FALSE(IsDebuggerAttached());
  void* handler = AddVectoredExceptionHandler(1, &CountRaises);
  std::uint32_t contextBlock[20] = {kFullContextFlags};
  std::uint32_t otherBlock[20] = {0x10007u};
  const char* threadName = "worker";
  const struct {
    const char* what;
    DWORD code;
    DWORD count;
    ULONG_PTR arguments[4];
    int seen;
  } cases[] = {
      {"thread name", kThreadNamingCode, 4, {0x1000, reinterpret_cast<ULONG_PTR>(threadName), 0xFFFFFFFF, 0}, 1},
      {"context notification", kDebuggerNotificationCode, 2, {reinterpret_cast<ULONG_PTR>(contextBlock), 0}, 0},
      {"other block", kDebuggerNotificationCode, 2, {reinterpret_cast<ULONG_PTR>(otherBlock), 0}, 1},
      {"unreadable block", kDebuggerNotificationCode, 2, {0x10, 0}, 1},
      {"three arguments", kDebuggerNotificationCode, 3, {reinterpret_cast<ULONG_PTR>(contextBlock), 0, 0}, 1},
      {"other code", 0xE0001234u, 1, {1}, 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    g_seenCount = 0;
    g_seenCode = 0;
    CurrentThreadBlock().RaiseStackPosition = nullptr;
    RaiseException(c.code, 0, c.count, c.arguments);
    EXPECT_EQ(g_seenCount, c.seen);
    if (c.seen) {
      EXPECT_EQ(g_seenCode, c.code);
    }
    // The caller's stack pointer at the raise lies in this thread's stack, above this frame.
    auto position = reinterpret_cast<std::uintptr_t>(CurrentThreadBlock().RaiseStackPosition);
    EXPECT_GT(position, reinterpret_cast<std::uintptr_t>(__builtin_frame_address(0)) - 4096);
    EXPECT_LT(position, OwnStackTop());
  }
  // The name the raise gave this thread is kept for its group rows; one given
  // for another thread with an unreadable name leaves that thread unnamed.
  EXPECT_EQ(ThreadNameOf(GetCurrentThreadId()), "worker");
  const ULONG_PTR unreadable[4] = {0x1000, 0x10, 4242, 0};
  RaiseException(kThreadNamingCode, 0, 4, unreadable);
  EXPECT_EQ(ThreadNameOf(4242), "");
  const ULONG_PTR other[4] = {0x1000, reinterpret_cast<ULONG_PTR>("port reader"), 4243, 0};
  RaiseException(kThreadNamingCode, 0, 4, other);
  EXPECT_EQ(ThreadNameOf(4243), "port reader");
  ClearThreadNames();
#if defined(__i386__)
  // The caller's ECX is kept.
  void* raise = reinterpret_cast<void*>(&RaiseException);
  g_seenCount = 0;
  asm volatile(
      "pushl $0\n\t"
      "pushl $0\n\t"
      "pushl $0\n\t"
      "pushl $0xE0001235\n\t"
      "movl $0x12345678, %%ecx\n\t"
      "call *%0\n\t"
      :
      : "b"(raise)
      : "eax", "ecx", "edx", "memory", "cc");
  EXPECT_EQ(g_seenCount, 1);
  EXPECT_EQ(CurrentThreadBlock().RaiseEcx, 0x12345678u);
#endif
  RemoveVectoredExceptionHandler(handler);
}

TEST(ImportHooks, ACgiProgramsOutputBecomesTheLastPage) {
  const char page[] = "<html><body>answer</body></html>\n";
  const char other[] = "not a request\n";
  DWORD written = 0;
  SetLastHtmlPage("");
  ASSERT_TRUE(SetEnvironmentVariableA("REQUEST_METHOD", "GET"));
  EXPECT_TRUE(WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), page, sizeof page - 1, &written, nullptr));
  EXPECT_EQ(LastHtmlPage(), page);
  SetEnvironmentVariableA("REQUEST_METHOD", nullptr);
  WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), other, sizeof other - 1, &written, nullptr);
  EXPECT_EQ(LastHtmlPage(), page);
}

}  // namespace
