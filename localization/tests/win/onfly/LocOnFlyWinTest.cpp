// The on-the-fly localizer in a program with resources of its own, in the
// program's layout: a form, a string table, both settings resources and an
// embedded list with English, German and Russian. The program's files live
// in a temporary folder with its own Languages folder; one live form is
// streamed from the resources and switched between the languages.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "Forms.h"
#include "JLocales.h"
#include "LFProc.h"
#include "LocOnFly.h"
#include "LocUtils.h"
#include "ModuleResources.h"
#include "ResStrings.h"
#include "StdCtrls.h"
#include "SysUtils.h"
#include "UcxStdCtrls.h"
#include "UcxSysUtils.h"
#include "UcxSystem.h"
#include "WidePlatform.h"
#include "Win32Platform.h"
#include "Win32WidePlatform.h"
#include "WinLocOnFly.h"
#include "WinLocUtils.h"
#include "WinLocaleServices.h"

namespace {

class TOnFlyForm : public TForm {
  FW_CLASS(TOnFlyForm, TForm)
 public:
  explicit TOnFlyForm(TComponent* owner) : TForm(owner) {}
  TLabel* Label1 = nullptr;
  TUcxLabel* UcxLabel1 = nullptr;
};

}  // namespace

FW_BEGIN_CLASS(TOnFlyForm)
  FW_FIELD(Label1)
  FW_FIELD(UcxLabel1)
FW_END_CLASS

namespace {

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

FILETIME WriteTime(const std::string& path) {
  FILETIME t{};
  HANDLE h = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                         OPEN_EXISTING, 0, nullptr);
  if (h != INVALID_HANDLE_VALUE) {
    GetFileTime(h, nullptr, nullptr, &t);
    CloseHandle(h);
  }
  return t;
}

std::string CurrentDirectory() {
  char buffer[MAX_PATH];
  DWORD n = GetCurrentDirectoryA(MAX_PATH, buffer);
  return std::string(buffer, n);
}

// Boxes are counted, not shown.
class TCountingPlatform : public TWinLocOnFlyPlatform {
 public:
  void ShowErrorBox(const std::string& message, const std::string&) override { boxes.push_back(message); }
  std::vector<std::string> boxes;
};

class LocOnFlyWin : public ::testing::Test {
 protected:
  void SetUp() override {
    InitWin32Platform();
    InstallWinLocaleServices();
    InstallModuleResourceReader();
    InitForms();
    // The Unicode label of the form, on the NT line.
    oldWide = SetWidePlatform(&widePlatform);
    savedUnicode = IsUnicodePlatform;
    IsUnicodePlatform = true;
    InitUcxSysUtils();
    InitUcxSystem();
    RegisterClasses({&TUcxLabel::StaticClass()});
    InitWinLocUtils();
    utils = JLocUtils();
    self = reinterpret_cast<ModuleHandle>(GetModuleHandleA(nullptr));
    char temp[MAX_PATH];
    GetTempPathA(MAX_PATH, temp);
    folder = std::string(temp) + "pellory-onfly";
    languages = folder + "\\Languages";
    Clean();
    CreateDirectoryA(folder.c_str(), nullptr);
    CreateDirectoryA(languages.c_str(), nullptr);
    savedName = utils->AppFileName;
    utils->AppFileName = folder + "\\OnFly.exe";
    InitWinLocOnFly();
    SetLocOnFlyPlatform(&platform);
    localizer = LocalizerOnFly();
    localizer->OnSwitched = TSwitchedEvent::Bind<&LocOnFlyWin::Switched>(this);
    form = New<TOnFlyForm>(Application);
    form->HandleNeeded();
  }
  void TearDown() override {
    FreeObject(form);
    DoneLocOnFly();
    SetLocOnFlyPlatform(nullptr);
    DoneUcxSystem();
    IsUnicodePlatform = savedUnicode;
    SetWidePlatform(oldWide);
    utils->RestoreAllModules();
    utils->AppFileName = savedName;
    Clean();
  }
  void Clean() {
    for (const char* name :
         {"\\Languages\\OnFly.DEU.lng", "\\Languages\\OnFly.DEU", "\\Languages\\OnFly.RUS", "\\OnFly.DEU",
          "\\OnFly.RUS", "\\User\\OnFly.DEU", "\\User\\OnFly.RUS", "\\Languages\\OnFly.BIG.lng"}) {
      SetFileAttributesA((folder + name).c_str(), FILE_ATTRIBUTE_NORMAL);
      DeleteFileA((folder + name).c_str());
    }
    RemoveDirectoryA((folder + "\\User").c_str());
    RemoveDirectoryA(languages.c_str());
    RemoveDirectoryA(folder.c_str());
  }
  void Switched(TObject*, TLFInfo* info) { switched.push_back(info->Locale); }
  std::string Caption() { return form->GetCaption(); }
  std::string Label() { return form->Label1->GetCaption(); }
  std::string Ansi(const std::u16string& text, std::uint16_t locale) { return WideToAnsiForLocale(text, locale); }

  Win32WidePlatform widePlatform;
  WidePlatform* oldWide = nullptr;
  bool savedUnicode = false;
  TJLocUtils* utils = nullptr;
  ModuleHandle self = 0;
  std::string folder, languages, savedName;
  TCountingPlatform platform;
  TJLocalizerOnFly* localizer = nullptr;
  TOnFlyForm* form = nullptr;
  std::vector<std::uint32_t> switched;
};

TEST_F(LocOnFlyWin, GermanRussianAndBack) {
  // As the program sets it up: languages and libraries in one folder.
  localizer->Initialize(languages);
  localizer->SetDLLFolder(languages);
  EXPECT_TRUE(localizer->Initialized);
  EXPECT_TRUE(switched.empty());
  localizer->ErrorMode = 2;
  EXPECT_EQ(Caption(), "Settings");

  localizer->SwitchToLocale(0x0407);
  const std::string library = languages + "\\OnFly.DEU";
  ASSERT_NE(GetFileAttributesA(library.c_str()), INVALID_FILE_ATTRIBUTES);
  EXPECT_NE(FindResourceHInstance(self), self);
  EXPECT_EQ(LoadStr(65264), "Hallo");
  EXPECT_EQ(Caption(), "Einstellungen");
  EXPECT_EQ(Label(), "Kabeltyp:");
  EXPECT_EQ(form->UcxLabel1->GetWideCaption(), u"Bitte warten");
  EXPECT_EQ(switched, (std::vector<std::uint32_t>{0x0407}));

  localizer->SwitchToLocale(0x0419);
  EXPECT_EQ(Caption(), Ansi(u"Настройки", 0x0419));
  EXPECT_EQ(Label(), Ansi(u"Тип кабеля:", 0x0419));
  EXPECT_EQ(form->UcxLabel1->GetWideCaption(), u"Подождите");  // a wide property takes the wide text exactly
  EXPECT_EQ(LoadStrW(0, 65295), u"До свидания");
  for (TFont* font : {Screen->IconFont(), Screen->HintFont(), Screen->MenuFont()}) EXPECT_EQ(font->GetCharset(), 204);

  localizer->SwitchToLocale(9);
  EXPECT_EQ(FindResourceHInstance(self), self);
  EXPECT_EQ(LoadStr(65264), "Hello");
  EXPECT_EQ(Caption(), "Settings");
  EXPECT_EQ(Label(), "Cable type:");
  EXPECT_EQ(form->UcxLabel1->GetWideCaption(), u"Please wait");
  EXPECT_EQ(switched.size(), 3u);

  // German again: the library is reused as it is.
  const std::string bytes = ReadFile(library);
  const FILETIME written = WriteTime(library);
  Sleep(20);
  localizer->SwitchToLocale(0x0407);
  EXPECT_EQ(ReadFile(library), bytes);
  FILETIME now = WriteTime(library);
  EXPECT_EQ(CompareFileTime(&written, &now), 0);
  EXPECT_EQ(LoadStr(65264), "Hallo");

  // A German file with another build wins over the embedded block and has the library rebuilt.
  localizer->SwitchToLocale(9);
  TOwned<TMemoryStream> image(New<TMemoryStream>());
  ASSERT_TRUE(localizer->ExtractEmbeddedLanguage(self, 0x0407, 0, image.get()));
  std::string german = image->DataString();
  german[8] = 7;  // the build, after the signature, format and version
  std::ofstream(languages + "\\OnFly.DEU.lng", std::ios::binary) << german;
  localizer->SwitchToLocale(0x0407);
  EXPECT_EQ(utils->GetCurrentDLLInfo()->Build, 7u);
  EXPECT_NE(ReadFile(library), bytes);
  EXPECT_EQ(Caption(), "Einstellungen");
  EXPECT_TRUE(platform.boxes.empty());
}

// A library folder no one may write (the process file system, read-only even
// for the Unix super-user that runs Wine here): with a folder of the user's the
// libraries go there; without one a switch fails whole, back in English.
TEST_F(LocOnFlyWin, AReadOnlyLibraryFolder) {
  const std::string readOnly = "Z:\\proc";
  const DWORD attributes = GetFileAttributesA(readOnly.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY))
    GTEST_SKIP() << "no read-only folder " << readOnly;
  ASSERT_EQ(CreateFileA((readOnly + "\\OnFly.DEU").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr),
            INVALID_HANDLE_VALUE);
  const std::string user = folder + "\\User";
  ASSERT_TRUE(CreateDirectoryA(user.c_str(), nullptr));
  localizer->Initialize(languages);
  localizer->SetDLLFolder(readOnly);
  localizer->UserLibraryPath = user;
  localizer->ErrorMode = 2;

  localizer->SwitchToLocale(0x0407);  // as the wizard does at start-up
  EXPECT_NE(GetFileAttributesA((user + "\\OnFly.DEU").c_str()), INVALID_FILE_ATTRIBUTES);
  EXPECT_NE(FindResourceHInstance(self), self);
  EXPECT_EQ(localizer->CurrentLocale, 0x0407u);
  EXPECT_EQ(LoadStr(65264), "Hallo");
  EXPECT_EQ(Caption(), "Einstellungen");
  EXPECT_EQ(Label(), "Kabeltyp:");

  localizer->SwitchToLocale(0x0419);
  EXPECT_EQ(localizer->CurrentLocale, 0x0419u);
  EXPECT_EQ(LoadStrW(0, 65295), u"До свидания");
  EXPECT_EQ(Caption(), Ansi(u"Настройки", 0x0419));
  EXPECT_EQ(form->UcxLabel1->GetWideCaption(), u"Подождите");

  localizer->SwitchToLocale(9);
  EXPECT_EQ(localizer->CurrentLocale, 9u);
  EXPECT_EQ(FindResourceHInstance(self), self);
  EXPECT_EQ(LoadStr(65264), "Hello");
  EXPECT_EQ(Caption(), "Settings");

  // German again: the library in the user's folder is found and reused.
  const FILETIME written = WriteTime(user + "\\OnFly.DEU");
  Sleep(20);
  localizer->SwitchToLocale(0x0407);
  FILETIME now = WriteTime(user + "\\OnFly.DEU");
  EXPECT_EQ(CompareFileTime(&written, &now), 0);
  EXPECT_EQ(Caption(), "Einstellungen");

  // No folder to write to: the failed switch to Russian leaves English whole.
  localizer->UserLibraryPath.clear();
  localizer->SwitchToLocale(0x0419);
  EXPECT_EQ(localizer->CurrentLocale, 9u);
  EXPECT_EQ(FindResourceHInstance(self), self);
  EXPECT_EQ(LoadStr(65264), "Hello");
  EXPECT_EQ(Caption(), "Settings");
  EXPECT_EQ(Label(), "Cable type:");
  EXPECT_EQ(form->UcxLabel1->GetWideCaption(), u"Please wait");
  EXPECT_TRUE(platform.boxes.empty());
}

// A file of gigabytes in the Languages folder, with a language file's header:
// refused unread, it is not listed, and the start-up and switches go on.
TEST_F(LocOnFlyWin, AHugeFileInTheLanguagesFolder) {
  TOwned<TMemoryStream> image(New<TMemoryStream>());
  ASSERT_TRUE(localizer->ExtractEmbeddedLanguage(self, 0x0407, 0, image.get()));
  const std::string huge = languages + "\\OnFly.BIG.lng";
  std::ofstream(huge, std::ios::binary) << image->DataString();
  HANDLE file = CreateFileA(huge.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  LARGE_INTEGER size;
  size.QuadPart = std::int64_t{3} << 30;
  const bool grown = SetFilePointerEx(file, size, nullptr, FILE_BEGIN) && SetEndOfFile(file);
  CloseHandle(file);
  ASSERT_TRUE(grown);

  localizer->Initialize(languages);
  EXPECT_TRUE(localizer->Initialized);
  for (int i = 0; i < localizer->Languages()->Count(); ++i)
    EXPECT_NE(localizer->Languages()->GetInfo(i)->FileName, "OnFly.BIG.lng");
  localizer->ErrorMode = 2;
  localizer->SwitchToLocale(0x0407);
  EXPECT_EQ(Caption(), "Einstellungen");
  EXPECT_TRUE(platform.boxes.empty());
}

TEST_F(LocOnFlyWin, Failures) {
  localizer->Initialize(languages);
  localizer->ErrorMode = 2;
  switched.clear();
  localizer->SwitchToLocale(1033);
  EXPECT_TRUE(switched.empty());
  EXPECT_EQ(Caption(), "Settings");
  EXPECT_EQ(FindResourceHInstance(self), self);
  EXPECT_TRUE(platform.boxes.empty());
  localizer->ErrorMode = 1;
  localizer->SwitchToLocale(1033);
  EXPECT_EQ(platform.boxes, (std::vector<std::string>{"Language \"English (United States)\" is not found"}));

  // A relative folder is the program's, and the current directory stays: it
  // is not the program's folder, so a change to it would show.
  const std::string cwd = CurrentDirectory();
  ASSERT_NE(ExcludeTrailingPathDelimiter(cwd), folder);
  localizer->SetLanguagesFolder("Languages");
  EXPECT_EQ(localizer->GetLanguagesPath(), languages);
  EXPECT_EQ(CurrentDirectory(), cwd);

  // A stale library that cannot be deleted.
  localizer->SwitchToLocale(0x0407);
  localizer->SwitchToLocale(9);
  const std::string library = folder + "\\OnFly.DEU";
  TOwned<TMemoryStream> image(New<TMemoryStream>());
  ASSERT_TRUE(localizer->ExtractEmbeddedLanguage(self, 0x0407, 0, image.get()));
  std::string german = image->DataString();
  german[8] = 9;
  std::ofstream(languages + "\\OnFly.DEU.lng", std::ios::binary) << german;
  ASSERT_TRUE(SetFileAttributesA(library.c_str(), FILE_ATTRIBUTE_READONLY));
  localizer->ErrorMode = 0;
  try {
    localizer->SwitchToLocale(0x0407);
    ADD_FAILURE() << "no error";
  } catch (const ELocOnFlyError& e) {
    EXPECT_EQ(e.Message, "Can not delete file \"" + library + "\"");
  }
  EXPECT_EQ(FindResourceHInstance(self), self);
}

TEST_F(LocOnFlyWin, ModuleWalkFindsTheProgramOnBothRoads) {
  const std::vector<ModuleHandle> snapshot = TWinLocOnFlyPlatform::SnapshotModules();
  const std::vector<ModuleHandle> status = TWinLocOnFlyPlatform::ProcessStatusModules();
  EXPECT_NE(std::find(snapshot.begin(), snapshot.end(), self), snapshot.end());
  EXPECT_NE(std::find(status.begin(), status.end(), self), status.end());
  const ModuleHandle kernel = reinterpret_cast<ModuleHandle>(GetModuleHandleA("kernel32.dll"));
  EXPECT_NE(std::find(snapshot.begin(), snapshot.end(), kernel), snapshot.end());
  EXPECT_TRUE(TWinLocOnFlyPlatform().HasExport(kernel, "GetProcAddress"));
  EXPECT_FALSE(TWinLocOnFlyPlatform().HasExport(self, "SwitchToFile"));
}

// A module that switches itself through its exports: the localizer walks the
// process's modules, calls "SwitchToFile" with the module's library and, with
// no language file for the module, gives it its own resources back.
TEST_F(LocOnFlyWin, ModulesWithExportsSwitchThemselves) {
  HMODULE plugin = LoadLibraryA("onfly_plugin.dll");
  ASSERT_NE(plugin, nullptr) << GetLastError();
  using TCalls = int(WINAPI*)(int, char*);
  auto calls = reinterpret_cast<TCalls>(reinterpret_cast<void*>(GetProcAddress(plugin, "PluginCalls")));
  ASSERT_NE(calls, nullptr);
  char path[MAX_PATH];
  GetModuleFileNameA(plugin, path, MAX_PATH);
  const std::string library = std::string(path).substr(0, std::string(path).find_last_of('.')) + ".DEU";
  std::ofstream(library, std::ios::binary) << "a library";
  localizer->Initialize(languages);
  localizer->ErrorMode = 0;
  localizer->SwitchModules = true;
  localizer->SwitchToLocale(0x0407);
  char last[MAX_PATH] = {};
  EXPECT_EQ(calls(0, last), 1);
  EXPECT_EQ(std::string(last), library);
  EXPECT_EQ(calls(1, nullptr), 1);
  EXPECT_EQ(LoadStr(65264), "Hallo");
  localizer->SwitchModules = false;
  DeleteFileA(library.c_str());
  FreeLibrary(plugin);
}

// The walk takes its road by the system's version: run as NT 4.0 (Wine's
// per-program version setting) this program's modules come from the
// process-status enumeration. The test runs itself again in that setting.
TEST_F(LocOnFlyWin, ModuleWalkRoadFollowsTheSystemVersion) {
  char expectNt4[8] = {};
  const bool child = GetEnvironmentVariableA("PELLORY_ONFLY_NT40", expectNt4, sizeof expectNt4) > 0;
  EXPECT_EQ(TWinLocOnFlyPlatform::UsesProcessStatus(), child);
  const std::vector<ModuleHandle> modules = TWinLocOnFlyPlatform().ProcessModules();
  EXPECT_NE(std::find(modules.begin(), modules.end(), self), modules.end());
  if (child) return;

  char exe[MAX_PATH];
  GetModuleFileNameA(nullptr, exe, MAX_PATH);
  std::string name = exe;
  name = name.substr(name.find_last_of("\\/") + 1);
  const std::string key = "Software\\Wine\\AppDefaults\\" + name;
  HKEY h = nullptr;
  ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, key.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &h, nullptr),
            ERROR_SUCCESS);
  RegSetValueExA(h, "Version", 0, REG_SZ, reinterpret_cast<const BYTE*>("nt40"), 5);
  RegCloseKey(h);
  SetEnvironmentVariableA("PELLORY_ONFLY_NT40", "1");
  std::string command = "\"" + std::string(exe) + "\" --gtest_filter=LocOnFlyWin.ModuleWalkRoadFollowsTheSystemVersion";
  STARTUPINFOA si{};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi{};
  const BOOL started = CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi);
  DWORD exitCode = 1;
  if (started) {
    WaitForSingleObject(pi.hProcess, 60000);
    GetExitCodeProcess(pi.hProcess, &exitCode);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
  }
  SetEnvironmentVariableA("PELLORY_ONFLY_NT40", nullptr);
  RegDeleteKeyA(HKEY_CURRENT_USER, key.c_str());
  ASSERT_TRUE(started) << GetLastError();
  EXPECT_EQ(exitCode, 0u);
}

}  // namespace
