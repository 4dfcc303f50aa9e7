// The core routines: percent variables, version texts, splitting, UTF-8,
// file placing and the log file's name over a scripted system, and the
// guarded steps.
#include <gtest/gtest.h>

#include <map>
#include <set>
#include <string>

#include "ECore.h"
#include "Exceptions.h"
#include "Strings.h"
#include "SysUtils.h"

namespace {

// A system whose environment, folders and files the test sets.
class ScriptedSystem : public CoreSystemApi {
 public:
  std::map<std::string, std::string> env;
  std::set<std::string> folders, files, writable, blocked;
  std::string exe = "C:\\Program\\Pellory.exe";
  std::string shellAppData = "C:\\Users\\u\\AppData";
  std::vector<std::string> created;

  bool GetEnvironment(const std::string& name, std::string& value) override {
    for (auto& [k, v] : env)
      if (SameText(k, name)) {
        value = v;
        return true;
      }
    return false;
  }
  std::string CurrentDateText() override { return "10.12.2026"; }
  std::string CurrentTimeText() override { return "08:41:16"; }
  std::string CurrentDirectory() override { return "C:\\Work"; }
  std::string ExeFileName() override { return exe; }
  std::string ShellAppDataFolder() override { return shellAppData; }
  std::string WindowsFolder() override { return "C:\\Windows"; }
  bool IsWin9x() override { return false; }
  bool IsExistingFolder(const std::string& path) override { return folders.count(path) > 0; }
  bool CreateFolder(const std::string& path) override {
    if (blocked.count(path)) return false;
    folders.insert(path);
    created.push_back(path);
    return true;
  }
  bool CanOpenForWriting(const std::string& fileName) override {
    return writable.count(fileName) > 0 || (folders.count(ExtractFileDir(fileName)) > 0 && !blocked.count(fileName));
  }
  bool CanOpenForReading(const std::string& fileName) override { return files.count(fileName) > 0; }
  std::string ComputerName() override { return "PC:1/A"; }
  ModuleHandle ModuleHandleOf(const std::string&) override { return 0; }
};

class Core : public ::testing::Test {
 protected:
  void SetUp() override { SetCoreSystemApi(&system); }
  void TearDown() override {
    SetCoreSystemApi(nullptr);
    SetGuardedStepErrorHook(nullptr);
  }
  ScriptedSystem system;
};

TEST_F(Core, PercentVariables) {
  system.env = {{"TEMP", "C:\\Temp"}, {"LOOP", "%TEMP%"}, {"Date", ""}, {"time", "noon"}};
  struct Case {
    const char* text;
    const char* expanded;
  } cases[] = {
      {"%TEMP%\\file.log", "C:\\Temp\\file.log"},
      {"%temp%", "C:\\Temp"},  // names match without regard to case
      {"100%", "100%"},
      {"a%%b", "ab"},
      {"a%UNDEFINED%b", "ab"},
      {"%LOOP%", "%TEMP%"},      // an inserted value is not expanded again
      {"%date%", "10.12.2026"},  // empty variable: the pseudo-variable
      {"%TIME%", "noon"},
      {"%cd%\\x", "C:\\Work\\x"},
      {"50% off %TEMP%", "50% off C:\\Temp"},
      {"%TEMP", "%TEMP"},
      {"%a-b%TEMP%", "%a-bC:\\Temp"},
      {"", ""},
  };
  for (const Case& c : cases) EXPECT_EQ(ExpandPercentVariables(c.text), c.expanded) << c.text;
}

TEST_F(Core, VersionTexts) {
  EXPECT_EQ(NormalizeVersionText("1.2"), "00001.00002.00000.00000");
  EXPECT_EQ(NormalizeVersionText("1.2 beta"), "00001.00002 beta.00000.00000");
  struct Case {
    const char* a;
    const char* b;
    bool greater;
  } cases[] = {
      {"1.2", "1.10", true}, {"1.10", "1.2", false},       {"1.2", "1.2.0.0", false}, {"", "1.0", false},
      {"1.0", "", false},    {"2.0.0.1", "2.0.0.2", true}, {"1.9.9", "2", true},
  };
  for (const Case& c : cases) EXPECT_EQ(IsVersionGreater(c.a, c.b), c.greater) << c.a << " " << c.b;
}

TEST_F(Core, TextRoutines) {
  EXPECT_EQ(FindTextFrom("ab", "xxabxxab", 1), 3u);
  EXPECT_EQ(FindTextFrom("ab", "xxabxxab", 4), 7u);
  EXPECT_EQ(FindTextFrom("ab", "xxabxxab", 8), 0u);
  EXPECT_EQ(ReplaceAllText("aaa", "a", "aa"), "aaaaaa");
  EXPECT_EQ(StripVsHostSuffix("App.vshost.exe"), "App.exe");
  EXPECT_EQ(AddTrailingBackslash(""), "\\");
  EXPECT_EQ(AddTrailingBackslash("C:\\x\\"), "C:\\x\\");
  EXPECT_EQ(DropTrailingBackslash("C:\\x\\"), "C:\\x");

  struct Split {
    const char* text;
    bool keep, addEmpty;
    const char* joined;
  } splits[] = {
      {" a ; b;;c ", false, false, "a|b|c"},
      {" a ; b;;c ", false, true, "a|b||c"},
      {"a;b;", true, false, "a;|b;"},
      {"a;;b", true, true, "a;|;|b"},
  };
  for (const Split& c : splits) {
    TOwned<TStringList> list(New<TStringList>());
    SplitTextAtChars(c.text, *list, ";", c.keep, c.addEmpty);
    std::string joined;
    for (int i = 0; i < list->Count(); ++i) joined += (i ? "|" : "") + list->Strings(i);
    EXPECT_EQ(joined, c.joined) << c.text;
  }
  TOwned<TStringList> list(New<TStringList>());
  SplitTrimmedAtChars(",", ",, a , ,b, ", *list);
  ASSERT_EQ(list->Count(), 3);
  EXPECT_EQ(list->Strings(0), "a");
  EXPECT_EQ(list->Strings(1), "");
  EXPECT_EQ(list->Strings(2), "b");
}

TEST_F(Core, Utf8Encoding) {
  const char16_t text[] = {u'A', 0x00E9, 0x20AC, 0xD83D};
  char buf[16];
  EXPECT_EQ(EncodeUtf8Buffer(nullptr, 0, text, 4), 1u + 1 + 2 + 3 + 3);
  EXPECT_EQ(EncodeUtf8Buffer(buf, sizeof buf, text, 4), 10u);
  EXPECT_EQ(std::string(buf), "A\xC3\xA9\xE2\x82\xAC\xED\xA0\xBD");
  // Stops before a character that does not fit.
  EXPECT_EQ(EncodeUtf8Buffer(buf, 5, text, 4), 4u);
  EXPECT_EQ(std::string(buf), "A\xC3\xA9");
  EXPECT_EQ(EncodeUtf8Buffer(buf, sizeof buf, nullptr, 4), 0u);
  EXPECT_EQ(EncodeUtf8Text("caf\xE9"), "caf\xC3\xA9");
  EXPECT_EQ(EncodeUtf8Text(""), "");
}

TEST_F(Core, FilesArePlacedInTheDataFolderWhenTheyCannotBeUsedWhereNamed) {
  system.env = {{"LOGS", "C:\\Logs"}};
  system.folders = {"C:\\Program"};
  system.blocked = {"C:\\Program\\Pellory.vlf"};
  std::string name = "C:\\Program\\Pellory.vlf";
  ASSERT_TRUE(ResolveWritableFile(name, true, false));
  EXPECT_EQ(name, "C:\\Users\\u\\AppData\\VantorLog\\Pellory\\Pellory.vlf");
  EXPECT_EQ(system.created, (std::vector<std::string>{"C:\\Users\\u\\AppData\\VantorLog",
                                                      "C:\\Users\\u\\AppData\\VantorLog\\Pellory"}));
  name = "%LOGS%\\a.vlf";
  system.folders.insert("C:\\Logs");
  ASSERT_TRUE(ResolveWritableFile(name, true, false));
  EXPECT_EQ(name, "C:\\Logs\\a.vlf");
  // A data folder that cannot be made: no place.
  system.folders.clear();
  system.blocked.insert("C:\\Users\\u\\AppData\\VantorLog");
  name = "C:\\Nowhere\\b.vlf";
  EXPECT_FALSE(ResolveWritableFile(name, false, false));
  // Read-only use needs an existing file.
  system.blocked.clear();
  system.files = {"C:\\Users\\u\\AppData\\VantorLog\\c.ini"};
  name = "D:\\c.ini";
  ASSERT_TRUE(ResolveWritableFile(name, false, true));
  EXPECT_EQ(name, "C:\\Users\\u\\AppData\\VantorLog\\c.ini");
}

TEST_F(Core, LogFilePath) {
  system.folders = {"C:\\Program", "D:\\Logs"};
  TOwned<TVantorModuleOptions> options(New<TVantorModuleOptions>("C:\\Program\\App.vshost.exe"));
  options->SetLogFlags(0);
  EXPECT_EQ(GetLogFilePath(*options, ""), "C:\\Program\\App.vlf");
  options->SetLogLocation("D:\\Logs");
  EXPECT_EQ(GetLogFilePath(*options, ""), "D:\\Logs\\App.vlf");
  options->SetLogLocation("D:\\Logs\\All.VLF");
  EXPECT_EQ(GetLogFilePath(*options, "other.exe"), "D:\\Logs\\All.VLF");
  options->SetLogLocation("");
  options->SetLogFlags(8);
  EXPECT_EQ(GetLogFilePath(*options, ""), "C:\\Program\\App_PC_1_A.vlf");
  // A folder that does not exist yet is made.
  options->SetLogFlags(0);
  options->SetLogLocation("E:\\New\\Sub");
  EXPECT_EQ(GetLogFilePath(*options, ""), "E:\\New\\Sub\\App.vlf");
  EXPECT_TRUE(system.folders.count("E:\\New\\Sub"));
}

void FailingStep() {
  throw EConvertError("bad value");
}
void IgnoredStep() {
  throw EIgnoreException("pass me on");
}
void ForeignStep() {
  throw 42;
}
void QuietStep() {}
std::string g_hookText;
void Hook(const std::string& text) {
  g_hookText = text;
}

TEST_F(Core, GuardedSteps) {
  RunGuardedStep(QuietStep, "X.Init");
  try {
    RunGuardedStep(FailingStep, "X.Init");
    FAIL();
  } catch (const Exception& e) {
    EXPECT_STREQ(e.ClassName(), "Exception");
    EXPECT_EQ(e.Message, "Critical error at: \"X.Init\"\r\nError: \"bad value\".");
  }
  EXPECT_THROW(RunGuardedStep(IgnoredStep, "X.Init"), EIgnoreException);
  EXPECT_THROW(RunGuardedStep(ForeignStep, "X.Init"), int);

  SetGuardedStepErrorHook(Hook);
  EXPECT_THROW(RunGuardedStep(FailingStep, "X.Done"), EAbort);
  const std::string address = IntToHex(reinterpret_cast<std::uintptr_t>(reinterpret_cast<void*>(&FailingStep)), 8);
  EXPECT_EQ(g_hookText, "X.Done (Address: " + address + ")");
  EXPECT_THROW(RunGuardedStep(IgnoredStep, "X.Done"), EIgnoreException);
}

TEST_F(Core, IdeModeComparesTheExecutableName) {
  system.exe = "C:\\Tools\\vantoride.exe";
  EXPECT_TRUE(IsIdeHostExecutable());
  system.exe = "C:\\Tools\\Pellory.exe";
  EXPECT_FALSE(IsIdeHostExecutable());
}

// Long path names over a scripted directory tree of short -> long names.
TEST(LongPathNames, EachComponentReplacedUntilTheFirstUnknownOne) {
  const std::map<std::string, std::string> tree = {
      {"C:\\PROGRA~1", "Program Files"},
      {"C:\\Program Files\\PELLOR~1", "Pellory Wizard"},
      {"C:\\Program Files\\Pellory Wizard\\README~1.TXT", "readme first.txt"},
      {"\\\\srv\\share\\LONGNA~1", "Long Name"},
  };
  auto absolute = [](const std::string& p) {
    return p.rfind("C:", 0) == 0 || p.rfind("\\\\", 0) == 0 ? p : "C:\\Work\\" + p;
  };
  auto find = [&](const std::string& p, std::string& name) {
    auto it = tree.find(p);
    if (it != tree.end()) {
      name = it->second;
      return true;
    }
    // Components that are long already are found under their own name.
    const std::size_t sep = p.find_last_of('\\');
    if (p.find('~') == std::string::npos &&
        (p == "C:\\Work" || p == "C:\\Program Files" || p == "C:\\Program Files\\Pellory Wizard")) {
      name = p.substr(sep + 1);
      return true;
    }
    return false;
  };
  struct Case {
    const char* in;
    const char* out;
  } cases[] = {
      {"C:\\PROGRA~1\\PELLOR~1\\README~1.TXT", "C:\\Program Files\\Pellory Wizard\\readme first.txt"},
      {"C:\\PROGRA~1\\PELLOR~1\\", "C:\\Program Files\\Pellory Wizard\\"},
      {"C:\\PROGRA~1\\MISSIN~1\\README~1.TXT", "C:\\Program Files\\MISSIN~1\\README~1.TXT"},
      {"C:\\Program Files\\PELLOR~1", "C:\\Program Files\\Pellory Wizard"},
      {"\\\\srv\\share\\LONGNA~1\\x~y", "\\\\srv\\share\\Long Name\\x~y"},
      {"C:\\PLAIN\\NAME.TXT", "C:\\PLAIN\\NAME.TXT"},  // no "~": not even looked up
      {"", ""},
  };
  for (const Case& c : cases) EXPECT_EQ(ExpandLongPathNameWith(c.in, absolute, find), c.out) << c.in;
  // A relative short path is made absolute first.
  EXPECT_EQ(ExpandLongPathNameWith("A~1", absolute, find), "C:\\Work\\A~1");
}

}  // namespace
