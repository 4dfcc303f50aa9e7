// The core unit's shared routines: the exception records, the version names, the text
// routines, the library's warnings, the current-exception state and the
// raise-time stack snapshot.
#include <gtest/gtest.h>

#include <cstring>

#include "ECallStack.h"
#include "ECore.h"
#include "EReportBuilder.h"
#include "ExceptionLog.h"
#include "SysUtils.h"

namespace {

// --- Exception records ----------------------------------------------------------------------------

TEST(ExceptionRecords, NamesMessagesAndKinds) {
  TExceptionObjectRecord conv = MakeExceptionObjectRecord(std::make_exception_ptr(EConvertError("bad")), 0x401000);
  EXPECT_EQ(conv.ClassName(), "EConvertError");
  EXPECT_EQ(conv.Message, "bad");
  EXPECT_EQ(conv.Address, 0x401000u);
  EXPECT_TRUE(IsReportableException(&conv));
  EXPECT_TRUE(IsLanguageException(&conv));

  TExceptionObjectRecord abort = MakeExceptionObjectRecord(std::make_exception_ptr(EAbort("x")), 0);
  EXPECT_FALSE(IsReportableException(&abort));
  EXPECT_FALSE(IsReportableException(nullptr));
  TExceptionObjectRecord av = MakeExceptionObjectRecord(std::make_exception_ptr(EAccessViolation("av")), 0);
  EXPECT_FALSE(IsLanguageException(&av));
  EXPECT_EQ(av.ClassChain, (std::vector<std::string>{"EAccessViolation", "EExternal", "Exception"}));
  EExternal fault("Access violation", {0xC0000005u, 0, 0x401000, {1, 0}});
  EXPECT_EQ(fault.ExceptionRecord.ExceptionCode, 0xC0000005u);
  TExceptionObjectRecord so = MakeExceptionObjectRecord(std::make_exception_ptr(EStackOverflow("so")), 0);
  EXPECT_FALSE(IsLanguageException(&so));
  TExceptionObjectRecord std = MakeExceptionObjectRecord(std::make_exception_ptr(std::runtime_error("rt")), 0);
  EXPECT_EQ(std.ClassName(), "std::runtime_error");
  EXPECT_EQ(std.Message, "rt");

  TExceptionObjectRecord ax = MakeExceptionObjectRecord(
      std::make_exception_ptr(TActiveXException("remote", "EOleSysError", {"EOleError", "Exception"})), 0);
  EXPECT_EQ(ax.ClassName(), "TActiveXException");
  EXPECT_TRUE(ax.IsActiveX);
  EXPECT_EQ(ax.ActiveXClassNames, (std::vector<std::string>{"EOleSysError", "EOleError", "Exception"}));

  // A thrown object described from its type, before it is in flight.
  EConvertError thrown("not a number");
  TExceptionObjectRecord d = DescribeThrownObject(&thrown, &typeid(EConvertError), 0x401005);
  EXPECT_EQ(d.ClassChain, (std::vector<std::string>{"EConvertError", "Exception"}));
  EXPECT_EQ(d.Message, "not a number");
  EXPECT_EQ(d.Address, 0x401005u);
  std::out_of_range range("index");
  d = DescribeThrownObject(&range, &typeid(std::out_of_range), 0);
  EXPECT_EQ(d.ClassName(), "std::out_of_range");
  EXPECT_EQ(d.Message, "index");
  int code = 3;
  d = DescribeThrownObject(&code, &typeid(int), 0);
  EXPECT_EQ(d.ClassName(), "int");
  EXPECT_EQ(d.Message, "");
  EXPECT_TRUE(DescribeThrownObject(nullptr, nullptr, 0).ClassChain.empty());

  TExceptionObjectRecord* clone = CloneObjectMemory(&conv);
  ASSERT_NE(clone, nullptr);
  EXPECT_EQ(clone->ClassChain, conv.ClassChain);
  FreeObjectClone(clone);
  EXPECT_EQ(clone, nullptr);
  EXPECT_EQ(CloneObjectMemory(nullptr), nullptr);

  char block[65];
  StoreClassNameText(block, std::string(80, 'E'));
  EXPECT_EQ(std::strlen(block), 64u);
}

// --- System facts -----------------------------------------------------------------------------------

TEST(SystemFacts, WindowsVersionNames) {
  struct Case {
    TOsVersionFacts os;
    const char* name;
  } cases[] = {
      {{1, 4, 0, 950, "", 0, false}, "Microsoft Windows 95"},
      {{1, 4, 0, 0x04000457, " B", 0, false}, "Microsoft Windows 95 OSR 2"},
      {{1, 4, 10, 1998, "", 0, false}, "Microsoft Windows 98"},
      {{1, 4, 10, 2222, "A", 0, false}, "Microsoft Windows 98 SE"},
      {{1, 4, 90, 3000, "", 0, true}, "Microsoft Windows ME"},
      {{2, 4, 0, 1381, "Service Pack 6", 1, false}, "Microsoft Windows NT 4.0"},
      {{2, 5, 0, 2195, "", 1, false}, "Microsoft Windows 2000"},
      {{2, 5, 1, 2600, "Service Pack 3", 1, false}, "Microsoft Windows XP"},
      {{2, 5, 2, 3790, "", 1, true}, "Microsoft Windows XP (64 bit)"},
      {{2, 5, 2, 3790, "", 3, false}, "Microsoft Windows 2003"},
      {{2, 6, 0, 6002, "", 1, false}, "Microsoft Windows Vista"},
      {{2, 6, 0, 6002, "", 2, false}, "Microsoft Windows Server 2008"},
      {{2, 6, 1, 7601, "", 1, true}, "Microsoft Windows 7 (64 bit)"},
      {{2, 6, 1, 7601, "", 3, false}, "Microsoft Windows Server 2008 R2"},
      {{2, 10, 0, 19045, "", 1, false}, "Microsoft Windows 10.0"},
      {{1, 5, 5, 1, "", 0, false}, "Microsoft Windows 5.5"},
  };
  for (const Case& c : cases) EXPECT_EQ(GetWindowsVersionName(c.os), c.name) << c.name;

  TOsVersionFacts w95{1, 4, 0, 0x04000457, "", 0, false};
  EXPECT_EQ(GetWindowsBuildText(w95), "1111");
  EXPECT_TRUE(RunningOnWindows95(w95));
  TOsVersionFacts nt4{2, 4, 0, 1381, "", 1, false}, vista{2, 6, 0, 6002, "", 1, false};
  EXPECT_EQ(GetWindowsBuildText(vista), "6002");
  EXPECT_TRUE(RunningOnWindowsNT4(nt4));
  EXPECT_FALSE(RunningOnWindowsNT4(vista));
  EXPECT_TRUE(RunningOnVistaOrLater(vista));
  EXPECT_FALSE(RunningOnVistaOrLater(nt4));
  EXPECT_FALSE(RunningOnWindows95(vista));

  EXPECT_FALSE(IsVersionCompatible(5999));
  EXPECT_TRUE(IsVersionCompatible(6000));
  EXPECT_TRUE(IsVersionCompatible(6022));
  EXPECT_TRUE(IsVersionCompatible(6100));
  EXPECT_FALSE(IsVersionCompatible(6101));
}

// --- Text routines ----------------------------------------------------------------------------------

TEST(TextRoutines, ElapsedTimes) {
  const std::pair<double, const char*> cases[] = {
      {1.5, "1 day, 12 hours, 0 second"},
      {0, "0 second"},
      {1.0 / 86400, "1 second"},
      {2 + (3 * 3600 + 1 * 60 + 59) / 86400.0, "2 days, 3 hours, 1 minute, 59 seconds"},
      {(2 * 60 + 1) / 86400.0, "2 minutes, 1 second"},
      {-1, "0 second"},
  };
  for (auto [days, text] : cases) EXPECT_EQ(FormatElapsedTime(days), text) << days;
}

TEST(TextRoutines, HtmlAndRtfEscapingAndSmallHelpers) {
  EXPECT_EQ(EscapeHtmlText("a<b & c>d"), "a&lt;b &amp; c&gt;d");
  EXPECT_EQ(EscapeHtmlText("x  y"), "x&nbsp;&nbsp;y");
  EXPECT_EQ(EscapeHtmlText("\"it's\"\r\nnext"), "&quot;it&#039;s&quot;<br>\r\nnext");
  EXPECT_EQ(EscapeHtmlText("&lt;"), "&amp;lt;");  // the ampersand goes first
  EXPECT_EQ(EscapeRtfText("C:\\{x}\r\ny"), "C:\\\\\\{x\\}\\par\r\ny");
  EXPECT_EQ(EscapeRtfText("\\par"), "\\\\par");

  EXPECT_EQ(TextIfFlag(true, "on"), "on");
  EXPECT_EQ(TextIfFlag(false, "on"), "");
  EXPECT_EQ(CollapseControlChars("a\r\n\tb\x01z\x7f"), "a b z\x7f");
  EXPECT_EQ(CollapseControlChars("\n"), " ");
  EXPECT_EQ(PadRightToWidth("ab", 5), "ab   ");
  EXPECT_EQ(PadRightToWidth("abcdef", 3), "abcdef");
}

TEST(TextRoutines, MailAndReportDates) {
  double t = EncodeDate(2026, 12, 10) + EncodeTime(12, 6, 1, 0);
  EXPECT_EQ(FormatMailDate(t, 330), "Thu, 10 Dec 2026 12:06:01 +0530");
  EXPECT_EQ(FormatMailDate(t, -480), "Thu, 10 Dec 2026 12:06:01 -0800");
  EXPECT_EQ(FormatMailDate(t, 0), "Thu, 10 Dec 2026 12:06:01 +0000");
  EXPECT_EQ(FormatMailDate(t, -210), "Thu, 10 Dec 2026 12:06:01 -0330");
  EXPECT_EQ(FormatMailDate(EncodeDate(1899, 12, 30), 60), "Sat, 30 Dec 1899 00:00:00 +0100");
  EXPECT_EQ(FormatMailDate(EncodeDate(2000, 1, 2) + EncodeTime(23, 59, 59, 700), 0), "Mon, 3 Jan 2000 00:00:00 +0000");
  EXPECT_EQ(FormatReportDateTime(t), "2026-12-10 12:06:01");
  EXPECT_EQ(FormatReportDateTime(EncodeDate(1999, 1, 2) + EncodeTime(3, 4, 5, 0)), "1999-01-02 03:04:05");
  EXPECT_EQ(FormatMailDate(1e12, 0), "");
}

// --- Warnings ---------------------------------------------------------------------------------------

struct RecordingOutput : LibraryOutput {
  std::vector<std::string> lines, boxes;
  bool display = true;
  void DebugLine(const std::string& line) override { lines.push_back(line); }
  void WarningBox(const std::string& message, const std::string& caption) override {
    boxes.push_back(caption + "|" + message);
  }
  bool ErrorDisplayEnabled() override { return display; }
};

TEST(LibraryWarnings, LinesCodesAndBoxes) {
  RecordingOutput out;
  SetLibraryOutput(&out);
  SetCurrentExceptionInfo(nullptr, 0x00401234, false);
  ReportLibraryWarning(eeEmailSMTPError, "no server");
  EXPECT_EQ(LastLibraryErrorCode(), eeEmailSMTPError);
  EXPECT_EQ(LastLibraryErrorMessage(), "no server");
  ASSERT_EQ(out.lines.size(), 1u);
  EXPECT_EQ(out.lines[0], "[WARNING] - Code: eeEmailSMTPError - Address: 00401234 - Message: \"no server\"");
  EXPECT_TRUE(out.boxes.empty());  // the library-wide switch is off

  SetWarningBoxesEnabled(true);
  for (TVantorLogErrorCode code : {eeShowError, eeEmailShellError, eeEmailSMTPError, eeWebTrakerError})
    ReportLibraryWarning(code, "m");
  EXPECT_EQ(out.boxes, (std::vector<std::string>{"Error.|m", "Error.|m"}));
  out.display = false;
  ReportLibraryWarning(eeWebHTTPError, "m");
  EXPECT_EQ(out.boxes.size(), 2u);
  SetWarningBoxesEnabled(false);

  ReportExceptionWarning(eeLogError, "Log", std::make_exception_ptr(EFCreateError("cannot create")));
  EXPECT_EQ(LastLibraryErrorMessage(), "[Log] cannot create");
  ReportExceptionWarning(eeLogError, "Log", std::make_exception_ptr(42));
  EXPECT_EQ(LastLibraryErrorMessage(), "General 'Log' error.");
  ClearLibraryWarning();
  EXPECT_EQ(LastLibraryErrorCode(), eeNone);
  EXPECT_EQ(LastLibraryErrorMessage(), "");

  // Internal failures reach the debugger output only in IDE mode or under a debugger.
  out.lines.clear();
  SetHostedByIde(false);
  ReportInternalFailure("EHook.Done", std::make_exception_ptr(EConvertError("x")), false);
  EXPECT_TRUE(out.lines.empty());
  ReportInternalFailure("EHook.Done", std::make_exception_ptr(EAbort("x")), true);
  EXPECT_TRUE(out.lines.empty());
  ReportInternalFailure("EHook.Done", std::make_exception_ptr(EConvertError("x")), true);
  ReportInternalFailure("ECore.Init", std::make_exception_ptr(7), true);
  ReportInternalFailure("EDebug.Init", std::make_exception_ptr(EAccessViolation("fault")), true);
  ASSERT_EQ(out.lines.size(), 3u);
  EXPECT_EQ(out.lines[0], "[ERROR] - Section: EHook.Done - Address: 0040122F - Message: \"x\"");
  EXPECT_EQ(out.lines[1], "[ERROR] - Section: ECore.Init - Address: 00401234 - Message: \"General internal error.\"");
  // A fault's address is the faulting instruction itself.
  EXPECT_EQ(out.lines[2], "[ERROR] - Section: EDebug.Init - Address: 00401234 - Message: \"fault\"");
  EXPECT_FALSE(InternalFailureRunning());
  SetLibraryOutput(nullptr);
  ClearCurrentExceptionInfo();
}

TEST(LibraryWarnings, InternalFailureDetails) {
  TInternalFailureFacts f;
  f.DateText = "Thu, 10 Dec 2026 12:06:01 +0530";
  f.OsName = "Microsoft Windows XP";
  f.Dump = {0x55, 0x8B, 0xEC};
  f.Section = "EHook.Done";
  f.LastExceptionClass = "EConvertError";
  f.Where = {0x0040122F, 0x00400000, "C:\\App\\App.exe", false, "", "", "", 0, 0};
  f.ExceptionClass = "EReadError";
  f.Message = "Stream read error";
  f.CallStack = {{0x00401230, 0x00400000, "C:\\App\\App.exe", true, "Main", "TForm1", "Button1Click", 3, 42},
                 {0x7C801234, 0x7C800000, "C:\\WINDOWS\\kernel32.dll", false, "", "", "", 0, 0}};
  EXPECT_EQ(FormatInternalFailureText(f),
            "Version   : 6.0.22\r\n"
            "Date      : Thu, 10 Dec 2026 12:06:01 +0530\r\n"
            "OS        : Microsoft Windows XP\r\n"
            "RAD       : Lunder 5.0\r\n"
            "Dump      : $55 $8B $EC \r\n"
            "Section   : EHook.Done\r\n"
            "LastExcept: EConvertError\r\n"
            "Address   : $0040122F - [00400000] C:\\App\\App.exe -  -  -  - 0[0]\r\n"
            "Exception : EReadError\r\n"
            "Message   : Stream read error\r\n"
            "Call Stack: 00 $00401230 - [00400000] C:\\App\\App.exe - Main - TForm1 - Button1Click - 3[42]\r\n"
            "            01 $7C801234 - [7C800000] C:\\WINDOWS\\kernel32.dll \r\n");

  // The platform's part runs after the debugger line, with what the library knows.
  static TInternalFailureFacts seen;
  static int calls = 0;
  calls = 0;
  SetInternalFailureDetailsProc([](TInternalFailureFacts& facts) {
    seen = facts;
    ++calls;
    throw EConvertError("the platform's part failed");  // swallowed
  });
  auto last = std::make_shared<const TExceptionObjectRecord>(
      MakeExceptionObjectRecord(std::make_exception_ptr(EConvertError("earlier")), 0x00401234));
  SetCurrentExceptionInfo(last, 0x00401234, false);
  SetHostedByIde(false);
  ReportInternalFailure("ECore.Init", std::make_exception_ptr(EReadError("bad")), false);
  EXPECT_EQ(calls, 0);  // neither IDE mode nor a debugger
  ReportInternalFailure("ECore.Init", std::make_exception_ptr(EReadError("bad")), true);
  ASSERT_EQ(calls, 1);
  EXPECT_EQ(seen.Section, "ECore.Init");
  EXPECT_EQ(seen.LastExceptionClass, "EConvertError");
  EXPECT_EQ(seen.ExceptionClass, "EReadError");
  EXPECT_EQ(seen.Message, "bad");
  EXPECT_EQ(seen.Where.Address, 0x0040122Fu);
  EXPECT_FALSE(InternalFailureRunning());
  SetInternalFailureDetailsProc(nullptr);
  ClearCurrentExceptionInfo();

  EXPECT_NE(InternalFailureQuestion("x").find("Error: 'x'\r\n\r\n"), std::string::npos);
  EXPECT_EQ(InternalFailureSendManually("C:\\App.log")
                .rfind("Cannot connect with your email client.\r\nSend manually "
                       "the \"C:\\App.log\" file to the ",
                       0),
            0u);
}

TEST(SystemFacts, ModuleFileNamePrefixes) {
  const struct {
    const char* given;
    const char* expected;
  } cases[] = {
      {"\\??\\C:\\App\\App.exe", "C:\\App\\App.exe"},
      {"\\\\?\\D:\\x.dll", "D:\\x.dll"},
      {"C:\\App\\App.exe", "C:\\App\\App.exe"},
      {"\\??\\UNC-no-drive", "\\??\\UNC-no-drive"},
      {"", ""},
  };
  for (const auto& c : cases) EXPECT_EQ(CutNtPathPrefix(c.given), c.expected) << c.given;
}

// --- Current exception and message override ---------------------------------------------------------

TEST(CurrentException, KeepsTheLastNonNullValues) {
  ClearCurrentExceptionInfo();
  auto first = std::make_shared<const TExceptionObjectRecord>(
      MakeExceptionObjectRecord(std::make_exception_ptr(EConvertError("a")), 0x1000));
  EXPECT_EQ(NoteExceptionObject(first, 0x1000, true), first);
  SetCurrentExceptionInfo(nullptr, 0, false);
  TCurrentExceptionInfo info = CurrentExceptionInfo();
  EXPECT_EQ(info.Object, nullptr);
  EXPECT_EQ(info.Address, 0u);
  EXPECT_FALSE(info.Flag);
  EXPECT_EQ(info.LastObject, first);
  EXPECT_EQ(info.LastAddress, 0x1000u);
  SetCurrentExceptionInfo(nullptr, 0x2000, true);
  info = CurrentExceptionInfo();
  EXPECT_EQ(info.LastObject, first);
  EXPECT_EQ(info.LastAddress, 0x2000u);
  EXPECT_TRUE(info.Flag);
  ClearCurrentExceptionInfo();

  SetLastExceptionMessage("from the pipeline");
  EXPECT_EQ(GetShownExceptionMessage(), "from the pipeline");
  SetMessageOverride("from a filter");
  EXPECT_EQ(GetShownExceptionMessage(), "from a filter");
  SetMessageOverride("");
  EXPECT_EQ(GetShownExceptionMessage(), "from the pipeline");
  SetLastExceptionMessage("");
}

// --- The stack snapshot -----------------------------------------------------------------------------

TEST(StackSnapshot, BoundsStartAndUnreadableStacks) {
  RegionMemoryReader memory;
  const std::uint64_t limit = 0x100000, top = limit + 200000;
  std::vector<std::uint8_t> stack(200000);
  for (std::size_t i = 0; i < stack.size(); ++i) stack[i] = static_cast<std::uint8_t>(i * 7);
  memory.AddRegion(limit, stack);

  // A 200000-byte stack gives its lowest 102400 bytes from the start upward.
  SnapshotRaisingThreadStack(memory, {limit, limit, top, limit + 64, 77}, 0x401005, true);
  TStackSnapshot s = CurrentStackSnapshot();
  EXPECT_EQ(s.Size, kMaxStackSnapshot);
  EXPECT_EQ(s.Start, limit);
  EXPECT_EQ(s.ThreadId, 77u);
  EXPECT_EQ(s.Address, 0x401000u);
  ASSERT_EQ(s.Bytes.size(), kMaxStackSnapshot);
  EXPECT_TRUE(std::equal(s.Bytes.begin(), s.Bytes.end(), stack.begin()));

  struct Case {
    const char* what;
    std::uint64_t saved, current, expectStart;
  } cases[] = {
      {"saved inside", top - 100, limit, top - 100},
      {"saved below the limit", limit - 4, top - 300, top - 300},
      {"saved above the top", top + 4, top - 300, top - 300},
      {"saved null", 0, top - 8, top - 8},
  };
  for (const Case& c : cases) {
    SnapshotRaisingThreadStack(memory, {c.saved, limit, top, c.current, 1}, 0, true);
    s = CurrentStackSnapshot();
    EXPECT_EQ(s.Start, c.expectStart) << c.what;
    EXPECT_EQ(s.Size, top - c.expectStart) << c.what;
    EXPECT_EQ(s.Address, 0u) << c.what;  // a null address stays null
    ASSERT_EQ(s.Bytes.size(), s.Size) << c.what;
    EXPECT_EQ(s.Bytes.front(), stack[c.expectStart - limit]) << c.what;
  }

  // A stack that cannot be read gives an empty snapshot; a raise address stays as given.
  SnapshotRaisingThreadStack(memory, {0x900000, 0x900000, 0x900100, 0x900000, 2}, 0x402000, false);
  s = CurrentStackSnapshot();
  EXPECT_EQ(s.Size, 0u);
  EXPECT_TRUE(s.Bytes.empty());
  EXPECT_EQ(s.Address, 0x402000u);
}

// --- Group rows -----------------------------------------------------------------------------------

struct FakeGroupFacts : StackGroupFacts {
  int priorityReads = 0;
  std::int32_t ThreadPriority(const TVantorThreadInfo&) override {
    ++priorityReads;
    return 2;
  }
  std::string ThreadClassName(const TObject* object) override { return object ? "TWorkerThread" : ""; }
};

TEST(StackGroupHeader, ThreadAndLeakRows) {
  TOwned<TVantorModuleOptions> texts(New<TVantorModuleOptions>(""));
  TOwned<TVantorThreadsList> threads(New<TVantorThreadsList>());
  TObject* someThread = reinterpret_cast<TObject*>(std::uintptr_t{0x1000});
  std::uint32_t savedMain = VantorLogFlags().MainThreadId;
  VantorLogFlags().MainThreadId = 1;
  TVantorThreadInfo* main = threads->NewThreadInfo(true);
  main->ThreadId = 1;
  main->Priority = 0;
  TVantorThreadInfo* worker = threads->NewThreadInfo(true);
  worker->ThreadId = 7;
  worker->ThreadObject = someThread;  // priority unknown: read live
  TVantorThreadInfo* plain = threads->NewThreadInfo(true);
  plain->ThreadId = 9;
  plain->Priority = static_cast<std::uint32_t>(-1);
  FakeGroupFacts facts;

  struct Case {
    TStackGroupEntry entry;
    bool marked;
    const char* text;
  } cases[] = {
      {{9, true, false, false, "", "", 0, 0}, false, "Running Thread: ID=9; Priority=-1"},
      {{9, false, false, false, "", "", 0, 0}, false, "Calling Thread: ID=9; Priority=-1"},
      {{7, true, true, false, "", "", 0, 0}, true, "*Exception Thread: ID=7; Priority=2; Class=TWorkerThread"},
      {{7, true, true, false, "", "", 0, 0}, false, "Exception Thread: ID=7; Priority=2; Class=TWorkerThread"},
      {{9, true, true, false, "", "", 0, 0}, true, "*Exception Thread: ID=9; Priority=-1; Class="},
      {{1, true, false, false, "ui", "", 0, 0}, false, "Running Thread: ID=1; Priority=0; [Main] (ui)"},
      {{44, true, false, false, "", "", 0, 0}, false, "Running Thread: ID=44; Priority=??"},
      {{-3, false, false, false, "", "", 0, 0}, false, "Calling Thread: ID=0; Priority=??"},
      {{0, false, false, true, "", "TStringList", 4096, 3},
       false,
       "Memory Leak: Type=TStringList; Total size=4096; Count=3"},
      {{0, false, false, true, "", "Data", 12, 1}, true, "+Memory Leak: Type=Data; Total size=12; Count=1"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(FormatStackGroupHeader(c.entry, c.marked, *texts, threads.get(), facts), c.text) << c.text;
  // The live priority was read once and kept in the record.
  EXPECT_EQ(facts.priorityReads, 1);
  EXPECT_EQ(threads->GetThreadInfo(1)->Priority, 2u);
  // Texts come from the options.
  texts->SetCustomText(106, "Raw memory");
  texts->SetCustomText(100, "Thread");
  EXPECT_EQ(FormatStackGroupHeader({0, false, false, true, "", "Data", 1, 1}, false, *texts, nullptr, facts),
            "Memory Leak: Type=Raw memory; Total size=1; Count=1");
  EXPECT_EQ(FormatStackGroupHeader({1, true, false, false, "", "", 0, 0}, false, *texts, nullptr, facts),
            "Thread: ID=1; Priority=??; [Main]");
  VantorLogFlags().MainThreadId = savedMain;
}

}  // namespace
