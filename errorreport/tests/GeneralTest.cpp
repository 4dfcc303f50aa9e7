// The core unit's shared routines: validation of objects and classes on a
// fake memory image, the handler-scan cache, the version names, the text
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

// --- Validation ---------------------------------------------------------------------------------

// A 32-bit class record: self, name, instance size, parent below the class pointer.
TClassRecordLayout Layout32() {
  TClassRecordLayout l;
  l.PointerSize = 4;
  l.SpanBelow = 16;
  l.SpanAbove = 8;
  l.SelfOffset = -16;
  l.NameOffset = -12;
  l.InstanceSizeOffset = -8;
  l.ParentOffset = -4;
  l.ObjectClassOffset = 4;  // after the table pointer
  return l;
}

void Put32(std::vector<std::uint8_t>& bytes, std::size_t at, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) bytes.at(at + i) = static_cast<std::uint8_t>(v >> (8 * i));
}

// Lays out classes at 0x10000 + 0x100 * k (record 0x40 below), names at
// 0x20000, objects at 0x30000 on.
struct FakeImage {
  RegionMemoryReader memory;
  std::vector<std::uint8_t>* classes = nullptr;
  std::vector<std::uint8_t>* names = nullptr;
  std::vector<std::uint8_t>* objects = nullptr;
  std::size_t nextName = 0;

  FakeImage() {
    classes = &memory.AddRegion(0x10000, std::vector<std::uint8_t>(0x1000));
    names = &memory.AddRegion(0x20000, std::vector<std::uint8_t>(0x1000));
    objects = &memory.AddRegion(0x30000, std::vector<std::uint8_t>(0x1000));
  }
  static std::uint32_t ClassAt(int k) { return 0x10040 + 0x100 * static_cast<std::uint32_t>(k); }
  std::uint32_t AddName(const std::string& name) {
    std::uint32_t at = 0x20000 + static_cast<std::uint32_t>(nextName);
    std::memcpy(names->data() + nextName, name.c_str(), name.size() + 1);
    nextName += name.size() + 1;
    return at;
  }
  std::uint32_t AddClass(int k, const std::string& name, std::uint32_t parent, std::uint32_t size = 16) {
    std::uint32_t cls = ClassAt(k);
    std::size_t off = cls - 0x10000;
    Put32(*classes, off - 16, cls);
    Put32(*classes, off - 12, AddName(name));
    Put32(*classes, off - 8, size);
    Put32(*classes, off - 4, parent);
    return cls;
  }
  std::uint32_t AddObject(int k, std::uint32_t cls) {
    std::uint32_t obj = 0x30000 + 0x40 * static_cast<std::uint32_t>(k);
    Put32(*objects, obj - 0x30000 + 4, cls);
    return obj;
  }
};

TEST(LibraryCode, TheCoreUnitsProceduresLieInItAndOthersDoNot) {
  ASSERT_LT(LibraryCodeStart(), LibraryCodeEnd());
  for (std::uintptr_t inside :
       {reinterpret_cast<std::uintptr_t>(&IsValidObject), reinterpret_cast<std::uintptr_t>(&FormatReportDateTime),
        reinterpret_cast<std::uintptr_t>(&CutNtPathPrefix), LibraryCodeStart(), LibraryCodeEnd()})
    EXPECT_TRUE(IsLibraryCodeAddress(inside)) << std::hex << inside;
  for (std::uintptr_t outside :
       {reinterpret_cast<std::uintptr_t>(&BuildTextReport), reinterpret_cast<std::uintptr_t>(&StrToIntDef),
        LibraryCodeStart() - 1, LibraryCodeEnd() + 1, std::uintptr_t{0}})
    EXPECT_FALSE(IsLibraryCodeAddress(outside)) << std::hex << outside;
}

TEST(Validation, SoundObjectsAndTheirAncestors) {
  FakeImage img;
  TClassRecordLayout l = Layout32();
  std::uint32_t root = img.AddClass(0, "TObject", 0);
  std::uint32_t mid = img.AddClass(1, "Exception", root);
  std::uint32_t leaf = img.AddClass(2, "EConvertError", mid);
  std::uint32_t other = img.AddClass(3, " econverterror ", root);  // another module's class of that name
  std::uint32_t obj = img.AddObject(0, leaf);

  EXPECT_TRUE(IsValidClassPointer(img.memory, l, leaf));
  EXPECT_TRUE(IsValidObject(img.memory, l, obj));
  EXPECT_EQ(GetSafeClassName(img.memory, l, obj), "EConvertError");
  EXPECT_EQ(GetInstanceSize(img.memory, l, obj), 16u);
  EXPECT_TRUE(InheritsFromClassName(img.memory, l, obj, "  exception "));
  EXPECT_TRUE(InheritsFromClassName(img.memory, l, obj, "TObject"));
  EXPECT_FALSE(InheritsFromClassName(img.memory, l, obj, "EAbort"));
  EXPECT_TRUE(InheritsFromClass(img.memory, l, obj, other));
  const std::uint64_t list[] = {0x7777, root};
  EXPECT_FALSE(InheritsFromAnyClass(img.memory, l, obj, list, 0));
  EXPECT_TRUE(InheritsFromAnyClass(img.memory, l, obj, list, 1));
}

TEST(Validation, DamagedPointersAnswerFalseWithoutFault) {
  FakeImage img;
  TClassRecordLayout l = Layout32();
  std::uint32_t root = img.AddClass(0, "TObject", 0);
  std::uint32_t good = img.AddClass(1, "TGood", root);

  // The self pointer names another record.
  std::uint32_t wrongSelf = img.AddClass(2, "TWrongSelf", root);
  Put32(*img.classes, wrongSelf - 0x10000 - 16, good);
  // A control byte in the name.
  std::uint32_t badName = img.AddClass(3, "TBad\x07Name", root);
  // The name runs off the end of readable memory.
  std::uint32_t unreadableName = img.AddClass(4, "TX", root);
  Put32(*img.classes, unreadableName - 0x10000 - 12, 0x20FFF);
  img.names->back() = 'Q';
  // An empty name.
  std::uint32_t emptyName = img.AddClass(5, "", root);
  // A record whose lower part lies outside readable memory.
  std::uint32_t atEdge = 0x10004;
  // A big instance whose tail is not readable.
  std::uint32_t big = img.AddClass(6, "TBig", root, 0x2000);
  // Freed memory: the class field holds an allocator's link into the object area.
  std::uint32_t freed = img.AddObject(1, 0x30100);

  struct Case {
    const char* what;
    std::uint32_t object;
  } cases[] = {
      {"null", 0},
      {"unmapped", 0x50000},
      {"class pointer unmapped", img.AddObject(2, 0x90000)},
      {"wrong self pointer", img.AddObject(3, wrongSelf)},
      {"control byte in name", img.AddObject(4, badName)},
      {"name unreadable", img.AddObject(5, unreadableName)},
      {"empty name", img.AddObject(6, emptyName)},
      {"record below readable memory", img.AddObject(7, atEdge)},
      {"big instance unreadable", img.AddObject(8, big)},
      {"freed", freed},
      {"object at the region's last bytes", 0x30FFE},
  };
  for (const Case& c : cases) {
    EXPECT_FALSE(IsValidObject(img.memory, l, c.object)) << c.what;
    EXPECT_EQ(GetSafeClassName(img.memory, l, c.object), "") << c.what;
    EXPECT_FALSE(InheritsFromClassName(img.memory, l, c.object, "TObject")) << c.what;
  }
  // A big instance inside readable memory is valid.
  std::vector<std::uint8_t>& bigArea = img.memory.AddRegion(0x40000, std::vector<std::uint8_t>(0x2000));
  Put32(bigArea, 4, big);
  EXPECT_TRUE(IsValidObject(img.memory, l, 0x40000));
}

TEST(Validation, AncestorWalkStopsAtDamageAndCycles) {
  FakeImage img;
  TClassRecordLayout l = Layout32();
  std::uint32_t a = img.AddClass(0, "TA", 0);
  std::uint32_t b = img.AddClass(1, "TB", a);
  Put32(*img.classes, a - 0x10000 - 4, b);           // a cycle
  std::uint32_t c = img.AddClass(2, "TC", 0x12345);  // a damaged parent
  std::uint32_t d = img.AddClass(3, "TD", c);
  EXPECT_FALSE(InheritsFromClassName(img.memory, l, img.AddObject(0, b), "TRoot"));
  EXPECT_TRUE(InheritsFromClassName(img.memory, l, img.AddObject(1, b), "TA"));
  EXPECT_TRUE(InheritsFromClassName(img.memory, l, img.AddObject(2, d), "TC"));
  EXPECT_FALSE(InheritsFromClassName(img.memory, l, img.AddObject(3, d), "TRoot"));
}

TEST(Validation, SixtyFourBitRecords) {
  TClassRecordLayout l;
  l.PointerSize = 8;
  l.SpanBelow = 0;
  l.SpanAbove = 32;
  l.SelfOffset = 0;
  l.NameOffset = 8;
  l.InstanceSizeOffset = 16;
  l.ParentOffset = 24;
  l.ObjectClassOffset = 8;
  RegionMemoryReader memory;
  const std::uint64_t cls = 0x1'0000'1000ull, name = 0x1'0000'2000ull, obj = 0x1'0000'3000ull;
  std::vector<std::uint8_t> rec(32), nm{'T', 'W', 'i', 'd', 'e', 0}, o(16);
  for (int i = 0; i < 8; ++i) {
    rec[i] = static_cast<std::uint8_t>(cls >> (8 * i));
    rec[8 + i] = static_cast<std::uint8_t>(name >> (8 * i));
    o[8 + i] = static_cast<std::uint8_t>(cls >> (8 * i));
  }
  rec[16] = 16;
  memory.AddRegion(cls, rec);
  memory.AddRegion(name, nm);
  memory.AddRegion(obj, o);
  EXPECT_EQ(GetSafeClassName(memory, l, obj), "TWide");
  EXPECT_FALSE(IsValidObject(memory, l, obj + 4));
}

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

// --- The scan cache ---------------------------------------------------------------------------------

TEST(HandlerScanCache, KeysAndTheEleventhEntryPushesOutTheFirst) {
  ClearHandlerScanCache();
  TExceptionObjectRecord a = MakeExceptionObjectRecord(std::make_exception_ptr(EConvertError("")), 0);
  TExceptionObjectRecord b = MakeExceptionObjectRecord(std::make_exception_ptr(EListError("")), 0);
  THandlerScanAnswer got;
  EXPECT_FALSE(LookupHandlerScanCache(&a, 0x1000, 0, got));
  for (std::uint32_t i = 0; i < 10; ++i) {
    THandlerScanAnswer ans{static_cast<std::uint8_t>(i % 2), i, 2, static_cast<std::uint8_t>(i)};
    StoreHandlerScanCache(&a, 0x1000 + i, 0, ans);
  }
  EXPECT_EQ(HandlerScanCacheCount(), 10);
  ASSERT_TRUE(LookupHandlerScanCache(&a, 0x1003, 0, got));
  EXPECT_EQ(got.HandlerCount, 3u);
  EXPECT_EQ(got.Answer, 1);
  EXPECT_EQ(got.HandlerKind, 2);
  EXPECT_EQ(got.FirstHandlerClass, 3);
  EXPECT_FALSE(LookupHandlerScanCache(&b, 0x1003, 0, got));  // another class
  EXPECT_FALSE(LookupHandlerScanCache(&a, 0x1003, 4, got));  // another frame
  EXPECT_FALSE(LookupHandlerScanCache(nullptr, 0x1003, 0, got));

  StoreHandlerScanCache(&b, 0x2000, 0, {1, 99, 0, 0});
  EXPECT_EQ(HandlerScanCacheCount(), 10);
  EXPECT_FALSE(LookupHandlerScanCache(&a, 0x1000, 0, got));
  EXPECT_TRUE(LookupHandlerScanCache(&a, 0x1001, 0, got));
  ASSERT_TRUE(LookupHandlerScanCache(&b, 0x2000, 0, got));
  EXPECT_EQ(got.HandlerCount, 99u);
  ClearHandlerScanCache();
  EXPECT_EQ(HandlerScanCacheCount(), 0);
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

class TEventHolder : public TObject {
  FW_CLASS(TEventHolder, TObject)
 public:
  TNotifyEvent OnChange;
  int Count = 0;
  void Changed(TObject*) { ++Count; }
};
FW_BEGIN_CLASS(TEventHolder)
  FW_EVENT(OnChange, OnChange)
  FW_PROP(Count, Count, Count)
FW_END_CLASS

int g_swappedCalls = 0;
void SwappedHandler(void* data, TObject*) {
  g_swappedCalls += data ? 1 : 100;
}

TEST(EventSwap, CodeReplacedDataKept) {
  TOwned<TEventHolder> holder(New<TEventHolder>());
  holder->OnChange = TNotifyEvent::Bind<&TEventHolder::Changed>(holder.get());
  const MethodRef original = holder->OnChange.Ref();
  const auto code = reinterpret_cast<MethodRef::Code>(&SwappedHandler);
  MethodRef old;
  ASSERT_TRUE(SwapMethodProperty(holder.get(), "OnChange", code, old));
  EXPECT_EQ(old, original);
  EXPECT_EQ(holder->OnChange.Data(), holder.get());
  g_swappedCalls = 0;
  holder->OnChange(holder.get());
  EXPECT_EQ(g_swappedCalls, 1);
  EXPECT_EQ(holder->Count, 0);
  // Already swapped, no such event, not an event, no object: nothing changes.
  MethodRef again;
  EXPECT_FALSE(SwapMethodProperty(holder.get(), "OnChange", code, again));
  EXPECT_FALSE(again);
  EXPECT_FALSE(SwapMethodProperty(holder.get(), "OnMissing", nullptr, again));
  EXPECT_FALSE(SwapMethodProperty(holder.get(), "Count", code, again));
  EXPECT_FALSE(SwapMethodProperty(nullptr, "OnChange", code, again));
  EXPECT_EQ(holder->OnChange.Data(), holder.get());
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
