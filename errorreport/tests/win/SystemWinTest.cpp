// System routines in a running program: the library started as under the
// development environment (no data block needed, the modules list refreshed
// at start-up), its modules, processes and threads lists; the main-window
// search and window bounds; the clipboard; long path names.
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "ECore.h"
#include "ECoreWin.h"
#include "ESystemWin.h"
#include "ExceptionLogWin.h"
#include "SysUtils.h"

namespace {

bool EndsText(const std::string& tail, const std::string& text) {
  return text.size() >= tail.size() && SameText(text.substr(text.size() - tail.size()), tail);
}

DWORD WINAPI SleepingThread(void*) {
  Sleep(2000);
  return 0;
}

class ActiveLibrary : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    InitECoreWin();
    SetHostedByIde(true);
    // Left over from before: start-up clears this thread's saved exception state.
    std::memset(&CurrentThreadBlock().SavedContext, 0xAB, sizeof(CONTEXT));
    std::memset(&CurrentThreadBlock().SavedRecord, 0xAB, sizeof(EXCEPTION_RECORD));
    InitExceptionLog();
  }
  static void TearDownTestSuite() {
    DoneExceptionLog();
    SetHostedByIde(false);
    DoneECoreWin();
  }
};

TVantorModuleInfo* Listed(HMODULE module) {
  return VantorModulesList()->FindModule(reinterpret_cast<ModuleHandle>(module));
}

TEST_F(ActiveLibrary, ModulesListHoldsTheProgramKernel32AndNtdll) {
  ASSERT_NE(VantorModulesList(), nullptr);
  HMODULE program = GetModuleHandleA(nullptr), kernel32 = GetModuleHandleA("kernel32.dll"),
          ntdll = GetModuleHandleA("ntdll.dll");
  for (HMODULE m : {program, kernel32, ntdll}) {
    TVantorModuleInfo* entry = Listed(m);
    ASSERT_NE(entry, nullptr);
    EXPECT_FALSE(entry->FileName.empty());
  }
  EXPECT_TRUE(EndsText(".exe", Listed(program)->FileName)) << Listed(program)->FileName;
  EXPECT_TRUE(EndsText("kernel32.dll", Listed(kernel32)->FileName)) << Listed(kernel32)->FileName;
  EXPECT_TRUE(EndsText("ntdll.dll", Listed(ntdll)->FileName)) << Listed(ntdll)->FileName;
  // The system libraries carry version information; the texts come with the entry.
  for (HMODULE m : {kernel32, ntdll}) {
    const std::string& version = Listed(m)->Version;
    EXPECT_FALSE(version.empty()) << Listed(m)->FileName;
    EXPECT_EQ(std::count(version.begin(), version.end(), '.'), 3) << version;
  }
  // Sorted by handle; entries of the refresh are detailed on first use.
  for (int i = 1; i < VantorModulesList()->Count(); ++i)
    EXPECT_LT(VantorModulesList()->Items(i - 1)->Handle, VantorModulesList()->Items(i)->Handle);
  EXPECT_EQ(GetModuleEntry(kernel32)->Kind, 3);
  EXPECT_EQ(GetModuleEntry(program)->Kind, 1);
  EXPECT_EQ(GetModuleEntryOfAddress(reinterpret_cast<void*>(&GetModuleKind))->Handle,
            reinterpret_cast<ModuleHandle>(program));
  EXPECT_FALSE(IsModuleDll(program));
  EXPECT_TRUE(IsModuleDll(kernel32));
  EXPECT_EQ(GetModuleKind(nullptr), 0);
  // The program's code starts where code offsets count from.
  const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(
      reinterpret_cast<const std::uint8_t*>(program) + reinterpret_cast<const IMAGE_DOS_HEADER*>(program)->e_lfanew);
  EXPECT_EQ(nt->OptionalHeader.BaseOfCode, kCodeStartRva);
}

TEST_F(ActiveLibrary, ProcessesListHoldsThisProcessWithItsThreads) {
  ASSERT_NE(VantorProcessesList(), nullptr);
  HANDLE worker = CreateThread(nullptr, 0, SleepingThread, nullptr, 0, nullptr);
  RefreshProcessesList();
  const int i = VantorProcessesList()->IndexOfId(GetCurrentProcessId());
  ASSERT_GE(i, 0);
  TVantorProcessInfo* self = VantorProcessesList()->Items(i);
  EXPECT_GE(self->Threads, 2u);
  EXPECT_TRUE(EndsText(".exe", self->FileName)) << self->FileName;
  EXPECT_NE(GetPriorityClassName(self->PriorityClass), "");
  TerminateThread(worker, 0);
  CloseHandle(worker);
}

TEST_F(ActiveLibrary, ThreadsListHasTheMainThreadsRecord) {
  ASSERT_NE(VantorThreadsList(), nullptr);
  const int i = VantorThreadsList()->IndexOfThreadId(GetCurrentThreadId());
  ASSERT_GE(i, 0);
  TVantorThreadInfo* main = VantorThreadsList()->GetThreadInfo(i);
  EXPECT_TRUE(IsMainThreadRecord(*main));
  EXPECT_EQ(main->ThreadHandle, reinterpret_cast<std::uintptr_t>(MainThreadHandle()));
  // A real handle that names this thread.
  EXPECT_EQ(GetThreadId(reinterpret_cast<HANDLE>(main->ThreadHandle)), GetCurrentThreadId());
  int local = 0;
  EXPECT_GT(main->StackTop, reinterpret_cast<std::uintptr_t>(&local));
  EXPECT_EQ(main->Priority, kThreadPriorityUnknown);
  EXPECT_TRUE(IsOwnUnitName("ExceptionLog.cpp"));
  EXPECT_TRUE(IsOwnUnitName("EHook"));
  EXPECT_FALSE(IsOwnUnitName("Forms.cpp"));
  // The saved exception state of the thread that started the library is clear.
  const auto* context = reinterpret_cast<const std::uint8_t*>(&CurrentThreadBlock().SavedContext);
  const auto* record = reinterpret_cast<const std::uint8_t*>(&CurrentThreadBlock().SavedRecord);
  EXPECT_TRUE(std::all_of(context, context + sizeof(CONTEXT), [](std::uint8_t b) { return b == 0; }));
  EXPECT_TRUE(std::all_of(record, record + sizeof(EXCEPTION_RECORD), [](std::uint8_t b) { return b == 0; }));
  // The runtime's handlers were found.
  EXPECT_NE(RuntimeHandlerAddresses().CatchAll, nullptr);
  EXPECT_NE(RuntimeHandlerAddresses().Typed, nullptr);
  EXPECT_NE(RuntimeHandlerAddresses().EndExcept, nullptr);
  EXPECT_NE(RuntimeHandlerAddresses().SafeCall, nullptr);
  // This test program is a console program that answers no web requests.
  EXPECT_TRUE(IsConsoleApp());
  EXPECT_FALSE(IsWebApp());
  EXPECT_EQ(VantorLogFlags().DebugHook, 1);
}

// --- Windows ---
LRESULT CALLBACK PlainProc(HWND w, UINT m, WPARAM wp, LPARAM lp) {
  return DefWindowProcA(w, m, wp, lp);
}

HWND MakeWindow(const char* cls, DWORD style, DWORD exStyle, HWND owner, int x) {
  WNDCLASSA wc{};
  if (!GetClassInfoA(GetModuleHandleA(nullptr), cls, &wc)) {
    wc.lpfnWndProc = PlainProc;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.lpszClassName = cls;
    RegisterClassA(&wc);
  }
  return CreateWindowExA(exStyle, cls, cls, style, x, 20, 200, 100, owner, nullptr, GetModuleHandleA(nullptr), nullptr);
}

TEST(Windows, MainWindowSearchAndBounds) {
  RECT bounds;
  EXPECT_FALSE(GetProcessWindowsBounds(GetCurrentProcessId(), bounds));  // no window yet
  EXPECT_EQ(bounds.left, -1);
  EXPECT_EQ(bounds.top, -1);
  EXPECT_EQ(bounds.right, -1);
  EXPECT_EQ(bounds.bottom, -1);
  EXPECT_EQ(FindProcessMainWindow(GetCurrentProcessId()), nullptr);

  HWND app = MakeWindow("TApplication", WS_POPUP, 0, nullptr, 0);  // hidden, as the framework's
  HWND form = MakeWindow("TTestForm", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, app, 10);
  HWND tool = MakeWindow("TToolPalette", WS_POPUP | WS_VISIBLE, WS_EX_TOOLWINDOW, nullptr, 300);
  HWND owned = MakeWindow("TOwnedDialog", WS_POPUP | WS_VISIBLE, 0, form, 400);
  ASSERT_TRUE(app && form && tool && owned);
  SetWindowPos(tool, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
  EXPECT_EQ(FindProcessMainWindow(GetCurrentProcessId()), form);
  EXPECT_TRUE(GetProcessWindowsBounds(GetCurrentProcessId(), bounds));
  EXPECT_EQ(bounds.left, 10);
  EXPECT_EQ(bounds.right, 600);
  EXPECT_FALSE(IsIdeProcess(GetCurrentProcessId()));
  EXPECT_FALSE(IsIdeProcess(0));
  HWND ide = MakeWindow(kIdeMainWindowClass, WS_POPUP, 0, nullptr, 0);
  EXPECT_TRUE(IsIdeProcess(GetCurrentProcessId()));
  DestroyWindow(ide);
  SnapshotProcessWindows();
  EXPECT_FALSE(IsWindowNotInSnapshot(form));
  HWND later = MakeWindow("TLater", WS_POPUP, 0, nullptr, 0);
  EXPECT_TRUE(IsWindowNotInSnapshot(later));
  EXPECT_TRUE(IsOwnProcessWindow(later));
  RECT span{10, 10, 20, 20};
  ASSERT_TRUE(SpanMonitorsOfRect(span));
  EXPECT_GT(span.right - span.left, 10);
  for (HWND w : {later, owned, tool, form, app}) DestroyWindow(w);
}

TEST(Clipboard, TextRoundTrip) {
  CopyTextToClipboard("report text \xE4");
  ASSERT_TRUE(OpenClipboard(nullptr));
  HANDLE data = GetClipboardData(CF_TEXT);
  ASSERT_NE(data, nullptr);
  EXPECT_STREQ(static_cast<const char*>(GlobalLock(data)), "report text \xE4");
  GlobalUnlock(data);
  CloseClipboard();
}

TEST(Paths, LongNamesOfShortPaths) {
  UseWin32CoreSystem();
  char temp[MAX_PATH + 1];
  GetTempPathA(sizeof temp, temp);
  const std::string folder = std::string(temp) + "Pellory Long Folder Name";
  CreateDirectoryA(folder.c_str(), nullptr);
  const std::string file = folder + "\\report file name.txt";
  std::ofstream(file) << "x";
  char shortBuf[MAX_PATH + 1];
  const DWORD n = GetShortPathNameA(file.c_str(), shortBuf, sizeof shortBuf);
  ASSERT_GT(n, 0u);
  const std::string shortName(shortBuf, n);
  ASSERT_NE(shortName.find('~'), std::string::npos) << shortName;
  char longBuf[MAX_PATH + 1];
  GetLongPathNameA(file.c_str(), longBuf, sizeof longBuf);
  EXPECT_TRUE(SameText(ExpandLongPathName(shortName), longBuf)) << ExpandLongPathName(shortName);
  EXPECT_EQ(ExpandLongPathName("C:\\no~such\\x"), "C:\\no~such\\x");
  EXPECT_EQ(ExpandLongPathName("plain"), "plain");
  DeleteFileA(file.c_str());
  RemoveDirectoryA(folder.c_str());
  EXPECT_EQ(GetFileSizeByName(file), 0u);
}

}  // namespace
