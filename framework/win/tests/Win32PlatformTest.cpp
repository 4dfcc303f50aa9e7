// The Win32 platform layer: threads, the waker, files, resources, locale and registry.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <string>
#include <vector>

#include "FileApi.h"
#include "Modules.h"
#include "PumpingWait.h"
#include "ResStrings.h"
#include "SysUtils.h"
#include "SysUtilsWin.h"
#include "Thread.h"
#include "Win32Platform.h"
#include "Win32Registry.h"
#include "WndProc.h"

namespace {

class Win32PlatformTest : public ::testing::Test {
 protected:
  void SetUp() override { InitWin32Platform(); }
};

std::atomic<int> g_handled{0};
std::atomic<DWORD> g_handledOn{0};
std::string g_lastMessage;

void RecordException(std::exception_ptr e) {
  char buf[256];
  g_lastMessage = ExceptionMessage(e, buf, sizeof buf);
  g_handledOn = GetCurrentThreadId();
  ++g_handled;
}

class SyncThread : public TThread {
 public:
  SyncThread() : TThread(false) {}
  std::atomic<DWORD> ranOn{0};
  std::atomic<DWORD> executeOn{0};

 protected:
  void Execute() override {
    executeOn = GetCurrentThreadId();
    Synchronize([this] { ranOn = GetCurrentThreadId(); });
    PostMessageA(ApplicationWindow(), WM_NULL, 0, 0);  // let the plain loop below look at its condition
  }
};

TEST_F(Win32PlatformTest, SynchronousCallIsServedByAPlainMessageLoop) {
  ASSERT_NE(ApplicationWindow(), nullptr);
  char cls[64] = {};
  GetClassNameA(ApplicationWindow(), cls, sizeof cls);
  EXPECT_STREQ(cls, "TApplication");
  TOwned<SyncThread> t(New<SyncThread>());
  // Nothing here calls CheckSynchronize: the posted wake message must do it.
  MSG msg;
  while (t->ranOn == 0 && GetMessageA(&msg, nullptr, 0, 0) > 0) DispatchMessageA(&msg);
  EXPECT_EQ(t->ranOn.load(), GetCurrentThreadId());
  EXPECT_NE(t->executeOn.load(), GetCurrentThreadId());
  EXPECT_EQ(t->ThreadID(), t->executeOn.load());
  EXPECT_NE(t->Handle(), 0u);
  t->WaitFor();
}

TEST_F(Win32PlatformTest, ThreadEntryCatchesAnEscapingExceptionAndTheMainThreadHandlesIt) {
  CallbackExceptionHandler saved = SetCallbackExceptionHandler(&RecordException);
  g_handled = 0;
  auto thread = GetThreadApi().Start([](void*) { throw EConvertError("bad value"); }, nullptr);
  thread->Join();
  EXPECT_EQ(g_handled.load(), 0) << "handled on the worker thread";
  EXPECT_TRUE(PumpingWaitUntil(5000, [] { return g_handled.load() > 0; }));
  SetCallbackExceptionHandler(saved);
  EXPECT_EQ(g_handled.load(), 1);
  EXPECT_EQ(g_handledOn.load(), GetCurrentThreadId());
  EXPECT_EQ(g_lastMessage, "bad value");
}

// A worker that sends a message to a main-thread window (as a driver call or
// a window operation of a worker does) while the main thread waits for it.
class SendingThread : public TThread {
 public:
  SendingThread(HWND target, bool untilTerminated, std::atomic<bool>& running, std::atomic<bool>& answered)
      : TThread(false), target_(target), untilTerminated_(untilTerminated), running_(running), answered_(answered) {}

 protected:
  void Execute() override {
    running_ = true;
    while (untilTerminated_ && !Terminated()) Sleep(1);
    DWORD_PTR result = 0;
    answered_ = SendMessageTimeoutA(target_, WM_APP, 0, 0, SMTO_NORMAL, 5000, &result) != 0 && result == 42;
  }

 private:
  HWND target_;
  bool untilTerminated_;
  std::atomic<bool>& running_;
  std::atomic<bool>& answered_;
};

struct AnsweringWindow {
  HWND wnd = nullptr;
  AnsweringWindow() { wnd = AllocateHWnd(TWndMethod::Bind<&AnsweringWindow::WndProc>(this)); }
  ~AnsweringWindow() { DeallocateHWnd(wnd); }
  void WndProc(TMessage& msg) {
    if (msg.Msg == WM_APP)
      msg.Result = 42;
    else
      HandleDefault(wnd, msg);
  }
};

TEST_F(Win32PlatformTest, TheMainThreadsWaitForAThreadAnswersItsMessages) {
  AnsweringWindow window;
  ASSERT_NE(window.wnd, nullptr);
  for (const bool byFree : {false, true}) {
    SCOPED_TRACE(byFree ? "freeing a running thread" : "WaitFor");
    std::atomic<bool> running{false}, answered{false};
    SendingThread* t = New<SendingThread>(window.wnd, byFree, running, answered);
    while (!running) Sleep(1);
    if (!byFree) t->WaitFor();
    t->Free();  // a running thread is terminated and waited for
    EXPECT_TRUE(answered.load()) << "the main thread's window did not answer while it waited";
  }
}

TEST_F(Win32PlatformTest, FilesHonourShareModes) {
  char dir[MAX_PATH];
  GetTempPathA(sizeof dir, dir);
  std::string name = std::string(dir) + "pellory-fileapi.tmp";
  FileApi& api = GetFileApi();
  std::string error;
  FileApi::Handle h = api.Open(name, fmCreate, error);
  ASSERT_NE(h, nullptr) << error;
  EXPECT_EQ(api.Write(h, "hello world", 11), 11);
  EXPECT_EQ(api.Seek(h, 6, SeekOrigin::Beginning), 6);
  char buf[16] = {};
  EXPECT_EQ(api.Read(h, buf, sizeof buf), 5);
  EXPECT_STREQ(buf, "world");
  EXPECT_TRUE(api.SetSize(h, 5));
  EXPECT_EQ(api.Seek(h, 0, SeekOrigin::End), 5);
  api.Close(h);

  h = api.Open(name, fmOpenRead | fmShareDenyWrite, error);
  ASSERT_NE(h, nullptr) << error;
  std::string error2;
  EXPECT_EQ(api.Open(name, fmOpenWrite | fmShareDenyNone, error2), nullptr);
  EXPECT_FALSE(error2.empty());
  FileApi::Handle reader = api.Open(name, fmOpenRead | fmShareDenyNone, error2);
  EXPECT_NE(reader, nullptr);
  if (reader) api.Close(reader);
  api.Close(h);

  EXPECT_TRUE(FileExists(name));
  EXPECT_TRUE(DeleteFile(name));
  EXPECT_FALSE(FileExists(name));
  EXPECT_EQ(api.Open(name, fmOpenRead, error), nullptr);
}

TEST_F(Win32PlatformTest, FoldersAreSearchedByMaskAndNamesMadeFull) {
  char temp[MAX_PATH];
  GetTempPathA(sizeof temp, temp);
  const std::string dir = std::string(temp) + "pellory-search";
  CreateDirectoryA(dir.c_str(), nullptr);
  CreateDirectoryA((dir + "\\Pellory.sub.lng").c_str(), nullptr);
  for (const char* name : {"Pellory.DEU.lng", "Pellory.ntv.lng", "Pellory.exe"}) {
    HANDLE f = CreateFileA((dir + "\\" + name).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(f, INVALID_HANDLE_VALUE);
    CloseHandle(f);
  }
  EXPECT_TRUE(DirectoryExists(dir));
  EXPECT_FALSE(DirectoryExists(dir + "\\Pellory.exe"));
  EXPECT_FALSE(DirectoryExists(dir + "\\none"));
  std::vector<std::string> all, files;
  for (const TSearchEntry& e : FindFiles(dir + "\\Pellory.*.lng", faAnyFile))
    all.push_back(e.Name + ((e.Attributes & faDirectory) ? "/" : ""));
  for (const TSearchEntry& e : FindFiles(dir + "\\Pellory.*.lng", 0)) files.push_back(e.Name);
  std::sort(all.begin(), all.end());
  std::sort(files.begin(), files.end());
  EXPECT_EQ(all, (std::vector<std::string>{"Pellory.DEU.lng", "Pellory.ntv.lng", "Pellory.sub.lng/"}));
  EXPECT_EQ(files, (std::vector<std::string>{"Pellory.DEU.lng", "Pellory.ntv.lng"}));
  EXPECT_TRUE(FindFiles(dir + "\\none\\*", faAnyFile).empty());
  EXPECT_EQ(FullPathName(dir + "\\a\\..\\.\\Pellory.exe"), dir + "\\Pellory.exe");

  for (const char* name : {"Pellory.DEU.lng", "Pellory.ntv.lng", "Pellory.exe"})
    DeleteFileA((dir + "\\" + name).c_str());
  RemoveDirectoryA((dir + "\\Pellory.sub.lng").c_str());
  RemoveDirectoryA(dir.c_str());
}

TEST_F(Win32PlatformTest, ResourceStringsAreReadThroughTheResourceSection) {
  // user32 carries string tables; our own block walk must agree with the system's loader.
  HMODULE user32 = GetModuleHandleA("user32.dll");
  ASSERT_NE(user32, nullptr);
  auto module = reinterpret_cast<ModuleHandle>(user32);
  std::vector<ResourceId> blocks = GetResourceSource()->EnumNames(module, rtString);
  ASSERT_FALSE(blocks.empty());
  int compared = 0;
  for (const ResourceId& block : blocks) {
    if (!block.isId) continue;
    for (unsigned i = 0; i < 16; ++i) {
      auto id = static_cast<std::uint16_t>((block.id - 1) * 16 + i);
      wchar_t* text = nullptr;
      int n = LoadStringW(user32, id, reinterpret_cast<LPWSTR>(&text), 0);
      std::u16string expected = n > 0 ? std::u16string(reinterpret_cast<const char16_t*>(text), n) : u"";
      EXPECT_EQ(LoadStrW(module, id), expected) << id;
      ++compared;
    }
    if (compared > 64) break;
  }
  EXPECT_FALSE(FindResourceData(module, rtRcData, "NO-SUCH-RESOURCE").has_value());
}

TEST_F(Win32PlatformTest, LocaleComparisonFoldsAccentedLetters) {
  EXPECT_LT(AnsiCompareText("abc", "ABD"), 0);
  EXPECT_EQ(AnsiCompareText("Straße", "STRASSE") == 0,
            CompareStringA(LOCALE_USER_DEFAULT, NORM_IGNORECASE, "Straße", -1, "STRASSE", -1) == CSTR_EQUAL);
  EXPECT_TRUE(AnsiSameText("\xC9t\xE9", "\xE9T\xC9"));  // Windows-1252 E acute in both cases
  EXPECT_NE(AnsiCompareStr("a", "A"), 0);
}

TEST_F(Win32PlatformTest, TimeFormatFollowsTheUserLocale) {
  char buf[64] = {};
  SYSTEMTIME st = {};
  st.wYear = 2026;
  st.wMonth = 12;
  st.wDay = 9;
  st.wHour = 14;
  st.wMinute = 5;
  st.wSecond = 7;
  GetTimeFormatA(LOCALE_USER_DEFAULT, 0, &st, nullptr, buf, sizeof buf);
  EXPECT_EQ(TimeToStr(EncodeTime(14, 5, 7, 0)), buf);
}

TEST_F(Win32PlatformTest, RegistryBackendCreatesWritesReadsAndDeletes) {
  RegistryBackend* reg = GetRegistryBackend();
  ASSERT_NE(reg, nullptr);
  RegKey key = 0;
  ASSERT_EQ(reg->OpenKey(RegCurrentUser, "Software\\Pellory\\BackendTest", RegKeyAllAccess, true, key), RegOk);
  RegValue v;
  v.type = RegTypeSz;
  v.data = std::string("COM21\0", 6);
  EXPECT_EQ(reg->SetValue(key, "Port", v), RegOk);
  RegValue got;
  ASSERT_EQ(reg->QueryValue(key, "Port", got), RegOk);
  EXPECT_EQ(got.type, RegTypeSz);
  EXPECT_EQ(got.data, v.data);
  std::vector<std::string> names;
  EXPECT_EQ(reg->EnumValues(key, names), RegOk);
  EXPECT_EQ(names, std::vector<std::string>{"Port"});
  EXPECT_EQ(reg->DeleteValue(key, "Port"), RegOk);
  EXPECT_EQ(reg->QueryValue(key, "Port", got), RegNotFound);
  reg->CloseKey(key);

  RegKey parent = 0;
  ASSERT_EQ(reg->OpenKey(RegCurrentUser, "Software\\Pellory", RegKeyAllAccess, false, parent), RegOk);
  EXPECT_EQ(reg->EnumKeys(parent, names), RegOk);
  EXPECT_NE(std::find(names.begin(), names.end(), "BackendTest"), names.end());
  EXPECT_EQ(reg->DeleteKey(parent, "BackendTest"), RegOk);
  reg->CloseKey(parent);
  EXPECT_EQ(reg->OpenKey(RegCurrentUser, "Software\\Pellory\\BackendTest", RegKeyRead, false, key), RegNotFound);
}

TEST_F(Win32PlatformTest, RegistryIniFileWritesStringValues) {
  TRegistryIniFile* ini = new TRegistryIniFile("Software\\Pellory\\IniTest");
  ini->WriteInteger("Common", "Count", 3);
  ini->WriteBool("Common", "On", true);
  ini->WriteString("Common", "COM1", "6110");
  EXPECT_EQ(ini->ReadString("Common", "Count", ""), "3");
  EXPECT_EQ(ini->ReadString("Common", "On", ""), "1");
  EXPECT_EQ(ini->ReadString("Common", "COM1", ""), "6110");
  ini->DeleteKey("Common", "COM1");
  ini->DeleteKey("Common", "COM1");  // silent when missing
  ini->DeleteKey("Missing", "COM1");
  EXPECT_FALSE(ini->ValueExists("Common", "COM1"));
  ini->Free();
  HKEY key;
  ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\Pellory\\IniTest\\Common", 0, KEY_READ, &key), ERROR_SUCCESS);
  DWORD type = 0;
  EXPECT_EQ(RegQueryValueExA(key, "Count", nullptr, &type, nullptr, nullptr), ERROR_SUCCESS);
  EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
  RegCloseKey(key);
  RegDeleteKeyA(HKEY_CURRENT_USER, "Software\\Pellory\\IniTest\\Common");
  RegDeleteKeyA(HKEY_CURRENT_USER, "Software\\Pellory\\IniTest");
}

TEST_F(Win32PlatformTest, SystemLibrariesAreLoadedFromTheSystemFolderByFullName) {
  char folder[MAX_PATH];
  const UINT n = GetSystemDirectoryA(folder, MAX_PATH);
  ASSERT_GT(n, 0u);
  const std::string path = SystemLibraryPath("msimg32.dll");
  EXPECT_EQ(path, std::string(folder, n) + "\\msimg32.dll");
  for (const char* name : {"msimg32.dll", "uxtheme.dll", "PSAPI.dll"}) {
    HMODULE m = LoadSystemLibrary(name);
    ASSERT_NE(m, nullptr) << name;
    char loaded[MAX_PATH];
    const DWORD len = GetModuleFileNameA(m, loaded, MAX_PATH);
    EXPECT_TRUE(SameText(std::string(loaded, len), SystemLibraryPath(name))) << loaded;
    FreeLibrary(m);
  }
  EXPECT_EQ(LoadSystemLibrary("no-such-library.dll"), nullptr);
}

}  // namespace
