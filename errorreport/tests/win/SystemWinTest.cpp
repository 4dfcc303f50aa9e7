// System routines in a running program: the library started as under the
// development environment (no data block needed, the modules list refreshed
// at start-up), its modules, processes and threads lists; the main-window
// search and window bounds; the clipboard; long path names.
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "ECore.h"
#include "ECoreWin.h"
#include "ESystemWin.h"
#include "ExceptionLogWin.h"
#include "KernelHandles.h"
#include "SysUtils.h"

namespace {

bool EndsText(const std::string& tail, const std::string& text) {
  return text.size() >= tail.size() && SameText(text.substr(text.size() - tail.size()), tail);
}

// A second thread of this process that lives until it is let go: it says when
// it runs, so a check never depends on how soon the system started it, nor on
// how long the checks take while it is meant to be alive.
class TLiveThread {
 public:
  TLiveThread() : thread_(CreateThread(nullptr, 0, &Body, this, 0, nullptr)) {}
  ~TLiveThread() { Finish(); }
  // Waits (at most a minute) until the thread runs.
  bool WaitRunning() const { return thread_.Valid() && WaitForSingleObject(running_, 60000) == WAIT_OBJECT_0; }
  // Lets the thread end and waits for it.
  void Finish() {
    release_.Set();
    if (thread_.Valid()) WaitForSingleObject(thread_, 60000);
  }
  HANDLE Handle() const { return thread_; }

 private:
  static DWORD WINAPI Body(void* self) {
    auto* t = static_cast<TLiveThread*>(self);
    t->running_.Set();
    WaitForSingleObject(t->release_, 120000);
    return 0;
  }
  TManualResetEvent running_;
  TManualResetEvent release_;
  TOwnedHandle thread_;
};

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

TEST_F(ActiveLibrary, ProcessesListHoldsThisProcessWithItsThreadsOnEveryRoad) {
  ASSERT_NE(VantorProcessesList(), nullptr);
  TLiveThread worker;
  ASSERT_TRUE(worker.WaitRunning());
  char exe[MAX_PATH];
  const std::string ownPath(exe, GetModuleFileNameA(nullptr, exe, MAX_PATH));
  const struct {
    TProcessListRoad road;
    const char* name;
    bool memory;  // the working set is read from the opened process
  } roads[] = {{TProcessListRoad::ProcessStatus, "process status", true},
               {TProcessListRoad::SnapshotOpeningEach, "snapshot, opening each", true},
               {TProcessListRoad::Snapshot, "snapshot", false}};
  for (const auto& r : roads) {
    RefreshProcessesList(r.road);
    TVantorProcessesList* list = VantorProcessesList();
    for (int k = 1; k < list->Count(); ++k)
      ASSERT_LT(list->Items(k - 1)->ProcessId, list->Items(k)->ProcessId) << r.name;
    const int i = list->IndexOfId(GetCurrentProcessId());
    ASSERT_GE(i, 0) << r.name;
    TVantorProcessInfo* self = list->Items(i);
    EXPECT_GE(self->Threads, 2u) << r.name;
    EXPECT_TRUE(SameText(self->FileName, ownPath)) << r.name << ": " << self->FileName;
    // An opened process tells its class; the snapshot's base priority maps to one (Wine's
    // snapshot reports a base that maps to Idle for a normal process).
    if (r.memory)
      EXPECT_EQ(self->PriorityClass, static_cast<std::uint32_t>(NORMAL_PRIORITY_CLASS)) << r.name;
    else
      EXPECT_NE(GetPriorityClassName(self->PriorityClass), "") << r.name;
    EXPECT_EQ(self->Memory > 0, r.memory) << r.name;
  }
  RefreshProcessesList();  // this system's own road
  EXPECT_GE(VantorProcessesList()->IndexOfId(GetCurrentProcessId()), 0);
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
  // The dialogs' link cursor: the standard hand on this system's version.
  EXPECT_EQ(VantorHandCursorId(), 32649);
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

// The library's boxes, recorded and answered "Yes".
struct AnsweringOutput : LibraryOutput {
  std::vector<std::string> lines, questions, informations;
  void DebugLine(const std::string& line) override { lines.push_back(line); }
  void WarningBox(const std::string&, const std::string&) override {}
  bool ErrorDisplayEnabled() override { return true; }
  bool AskQuestion(const std::string& message, const std::string& caption) override {
    questions.push_back(caption + "|" + message);
    return true;
  }
  void InformationBox(const std::string& message, const std::string& caption) override {
    informations.push_back(caption + "|" + message);
  }
};

[[gnu::noinline]] int FailingPlace(int x) {
  return x * 3 + 1;
}

TEST_F(ActiveLibrary, InternalFailureDetailsAreSavedBesideTheProgramAndOffered) {
  AnsweringOutput out;
  SetLibraryOutput(&out);
  const std::string logFile = ChangeFileExt(GetExeFileName(), ".log");
  std::filesystem::remove(logFile);
  auto address = reinterpret_cast<std::uintptr_t>(&FailingPlace);
  SetCurrentExceptionInfo(nullptr, address + 5, false);  // a raise's return address; the report moves it back
  ReportInternalFailure("Probe.Step", std::make_exception_ptr(EConvertError("bad value")), false);
  SetLibraryOutput(&Win32LibraryOutputInstance());
  ClearCurrentExceptionInfo();

  ASSERT_EQ(out.lines.size(), 1u);
  std::ifstream in(logFile, std::ios::binary);
  ASSERT_TRUE(in) << "no " << logFile;
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  in.close();
  std::filesystem::remove(logFile);
  EXPECT_EQ(text.rfind("Version   : 6.0.22\r\nDate      : ", 0), 0u) << text;
  EXPECT_NE(text.find("\r\nOS        : Microsoft Windows "), std::string::npos);
  EXPECT_NE(text.find("\r\nSection   : Probe.Step\r\n"), std::string::npos);
  EXPECT_NE(text.find("\r\nException : EConvertError\r\nMessage   : bad value\r\n"), std::string::npos);
  // The dump holds the code at the address, and the address line names this program.
  const auto* code = reinterpret_cast<const std::uint8_t*>(address);
  char dump[16];
  std::snprintf(dump, sizeof dump, "$%02X $%02X ", code[0], code[1]);
  EXPECT_NE(text.find(std::string("\r\nDump      : ") + dump), std::string::npos) << text;
  char where[64];
  std::snprintf(where, sizeof where, "\r\nAddress   : $%08llX - [%08llX] ", static_cast<unsigned long long>(address),
                static_cast<unsigned long long>(reinterpret_cast<std::uintptr_t>(GetModuleHandleA(nullptr))));
  EXPECT_NE(text.find(where + GetModuleFileNameOf(nullptr)), std::string::npos) << text;
#if defined(__i386__)
  EXPECT_NE(text.find("\r\nCall Stack: 00 $"), std::string::npos) << text;
#endif
  ASSERT_EQ(out.questions.size(), 1u);
  EXPECT_EQ(out.questions[0].rfind("Probably internal bug|Error: 'bad value'\r\n\r\nThis is an internal", 0), 0u);
  // "Yes" sends the file through the mail client (Wine's answers the simple
  // mail interface); only when that fails is the user told to send it.
  ASSERT_LE(out.informations.size(), 1u);
  if (!out.informations.empty()) {
    EXPECT_NE(out.informations[0].find("Send manually the \"" + logFile + "\" file"), std::string::npos);
  }
  EXPECT_EQ(FailingPlace(1), 4);
}

TEST(SystemFacts, TheRunningSystem) {
  TOsVersionFacts os = GetOsVersionFacts();
  EXPECT_EQ(os.Platform, 2);
  EXPECT_GE(os.Major, 5u);
  EXPECT_EQ(GetWindowsVersionName(os).rfind("Microsoft Windows ", 0), 0u);
  EXPECT_FALSE(GetComputerNameText().empty());
  EXPECT_FALSE(GetUserNameText().empty());
  EXPECT_FALSE(IsDebuggerAttached());
  std::string temp = GetTempFolderPath();
  ASSERT_FALSE(temp.empty());
  EXPECT_EQ(temp.back(), '\\');
  EXPECT_TRUE(EndsText(".exe", GetModuleFileNameOf(nullptr)));
  EXPECT_EQ(GetOwnModuleFileName(), GetModuleFileNameOf(nullptr));  // the library is linked into the program
  EXPECT_TRUE(IsModuleLoaded(GetModuleHandleA("kernel32.dll")));
  EXPECT_FALSE(IsModuleLoaded(reinterpret_cast<HMODULE>(0x10)));
  EXPECT_NE(GetCommandLineText().find(".exe"), std::string::npos);
  EXPECT_EQ(GetOwnProcessId(), GetCurrentProcessId());
  int local = 0;
  EXPECT_GT(GetThreadStackTop(), reinterpret_cast<std::uintptr_t>(&local));
  EXPECT_LE(std::abs(GetUtcOffsetMinutes() - GetUtcOffsetHours() * 60), 30);

  // A thread is active while it runs, not after it ended, and a closed handle is not.
  {
    TLiveThread thread;
    ASSERT_TRUE(thread.WaitRunning());
    EXPECT_TRUE(IsThreadHandleActive(thread.Handle()));
    thread.Finish();
    EXPECT_FALSE(IsThreadHandleActive(thread.Handle()));
  }
  EXPECT_FALSE(IsThreadHandleActive(nullptr));
}

TEST(Windows, RichEditTextAndBackground) {
  HMODULE library = LoadLibraryA("riched20.dll");
  ASSERT_NE(library, nullptr);
  HWND edit = CreateWindowExA(0, "RichEdit20A", "", WS_POPUP | ES_MULTILINE, 0, 0, 200, 100, nullptr, nullptr,
                              GetModuleHandleA(nullptr), nullptr);
  ASSERT_NE(edit, nullptr);
  RichEditLoadRtf(edit, "{\\rtf1\\ansi{\\fonttbl{\\f0 Courier New;}}\\f0 first {\\b bold} \\{braces\\}\\par second}");
  char text[128] = {};
  GetWindowTextA(edit, text, sizeof text);
  std::string shown = text;
  shown.erase(std::remove(shown.begin(), shown.end(), '\n'), shown.end());
  EXPECT_EQ(shown, "first bold {braces}\rsecond");
  RichEditSetBackColor(edit, 0x00123456);
  EXPECT_EQ(RichEditSetBackColor(edit, static_cast<std::int32_t>(0x8000000F)), 0x00123456u);
  EXPECT_EQ(RichEditSetBackColor(edit, 0), GetSysColor(COLOR_BTNFACE));  // clBtnFace's system colour
  DestroyWindow(edit);
  FreeLibrary(library);
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
