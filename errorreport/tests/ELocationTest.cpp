// Source locations: the walk of the compact line table (every entry form,
// names of every version, the last range, procedures and classes, hidden
// units, lying tables), the line table writer of tools/vldata against a model
// of its rows, export names, the fallbacks of LocateAddress and the special
// symbols of blocks with either header size.
#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "EBase64.h"
#include "ECore.h"
#include "EEncrypt.h"
#include "ELocation.h"
#include "ExceptionLog.h"
#include "VLDataWriter.h"
#include "VLDebugWriter.h"

namespace {

constexpr ModuleHandle kBase = 0x10000000;

std::uint64_t At(std::uint32_t offset) {
  return CodeAddressFromOffset(kBase, offset);
}

void Put32(std::string& s, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) s += static_cast<char>((v >> (8 * i)) & 0xFF);
}
void Put16(std::string& s, std::uint32_t v) {
  s += static_cast<char>(v & 0xFF);
  s += static_cast<char>((v >> 8) & 0xFF);
}

// A name part as a table of `version` stores it.
std::string Stored(const std::string& text, std::uint16_t version, const std::string& password) {
  std::string bytes = text;
  if (version < 500) {
    for (char& c : bytes) c = static_cast<char>(static_cast<std::uint8_t>(c) ^ kOptionKey);
  } else {
    SetCipherPassword(password);
    auto* p = reinterpret_cast<std::uint8_t*>(bytes.data());
    EncryptBufferCbc(p, p, bytes.size());
  }
  return bytes;
}

std::string Name(const std::string& text, std::uint16_t version, const std::string& password = "pw",
                 bool qualifiedMore = false) {
  return std::string(1, static_cast<char>(text.size() | (qualifiedMore ? 0x80 : 0))) + Stored(text, version, password);
}

std::string Unit(const std::string& storedName, std::int32_t firstLine, std::uint32_t start, std::uint32_t size,
                 const std::string& entries) {
  std::string s = storedName;
  Put32(s, static_cast<std::uint32_t>(firstLine));
  Put32(s, start);
  Put32(s, size);
  Put32(s, static_cast<std::uint32_t>(entries.size()));
  return s + entries;
}

std::string Table(std::uint16_t version, const std::vector<std::string>& units) {
  std::string s;
  if (version > 404 && version < 500) {
    Put32(s, 3);
    s += "xyz";
  }
  Put32(s, static_cast<std::uint32_t>(units.size()));
  for (const std::string& u : units) s += u;
  return s;
}

// A module entry carrying a line table.
struct Module {
  TVantorModuleInfo info;
  Module(const std::string& table, std::uint16_t version, bool accepted = true, const std::string& password = "pw") {
    info.Handle = kBase;
    info.DataVersion = version;
    info.PasswordAccepted = accepted ? 1 : 0;
    info.Password = password;
    info.DebugData = New<TMemoryStream>();
    info.DebugData->WriteBuffer(table.data(), static_cast<std::int64_t>(table.size()));
  }
  ~Module() {
    FreeAndNil(info.DebugData);
    FreeAndNil(info.Exports);
  }
  bool Locate(std::uint32_t offset, TVLLocationInfo& location) {
    location = TVLLocationInfo{};
    location.Module = &info;
    return LocateInOwnDebugData(At(offset), location);
  }
};

// Code bytes at fixed addresses, and the rest of the environment.
class FakeProcess : public LocationEnvironment, public MemoryReader {
 public:
  FakeProcess() { SetLocationEnvironment(this); }
  ~FakeProcess() override { SetLocationEnvironment(nullptr); }
  TVantorModuleInfo* ModuleEntryOf(std::uint64_t address) override {
    return module && address >= module->Handle && address < module->Handle + 0x100000 ? module : nullptr;
  }
  bool IsOwnUnit(const std::string& unitName) override { return unitName == ownUnit; }
  bool ReportingOwnFailure() override { return ownFailure; }
  MemoryReader* Memory() override { return this; }
  bool IsReadable(std::uint64_t address, std::size_t length) override {
    for (std::size_t i = 0; i < length; ++i)
      if (!code.count(address + i)) return false;
    return true;
  }
  bool Read(std::uint64_t address, void* buffer, std::size_t length) override {
    if (!IsReadable(address, length)) return false;
    for (std::size_t i = 0; i < length; ++i) static_cast<std::uint8_t*>(buffer)[i] = code[address + i];
    return true;
  }
  void Code(std::uint64_t address, std::initializer_list<std::uint8_t> bytes) {
    for (std::uint8_t b : bytes) code[address++] = b;
  }
  std::map<std::uint64_t, std::uint8_t> code;
  TVantorModuleInfo* module = nullptr;
  std::string ownUnit;
  bool ownFailure = false;
};

TEST(LineTable, EveryEntryForm) {
  struct Case {
    const char* what;
    std::uint16_t version;
    std::string entry;
    bool opens;
    std::uint32_t lineDelta, codeDelta;
  };
  auto word = [](std::uint32_t w) {
    std::string s;
    Put16(s, w);
    return s;
  };
  auto dword = [](std::uint32_t d) {
    std::string s;
    Put32(s, d);
    return s;
  };
  const Case cases[] = {
      {"0x00", 6022, std::string(1, '\0'), false, 1, 1},
      {"0xFE", 6022, "\xFE", false, 4, 32},
      {"0x01", 6022, "\x01", true, 1, 1},
      {"0xFD (largest opening byte)", 6022, "\xFD", true, 8, 8},
      {"2 bytes", 6022, word((19u << 11) | (99u << 4) | 3u), false, 20, 100},
      {"2 bytes, opening", 6022, word((31u << 11) | (127u << 4) | 7u), true, 32, 128},
      {"4 bytes", 6022, dword((((2999u << 16) | 999u) << 4) | 0xBu), false, 1000, 3000},
      {"4 bytes, opening", 6022, dword((((0u << 16) | 0xFFFFu) << 4) | 0xFu), true, 0x10000, 1},
      {"4 bytes, code delta 0", 6022, dword((((0xFFFu << 16) | 4u) << 4) | 0xBu), false, 5, 0},
      {"escape", 6022, dword((0x0FFEFFFEu << 4) | 0xBu) + word(39999) + word(49999), false, 40000, 50000},
      {"escape, opening", 450, dword((0x0FFEFFFEu << 4) | 0xFu) + word(0) + word(65535), true, 1, 65536},
      {"no escape up to 422", 422, dword((0x0FFEFFFEu << 4) | 0xBu), false, 0xFFFF, 0xFFF},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.what) + " at version " + std::to_string(c.version));
    std::string entries = "\x01" + Name("Proc", c.version);  // line 11 from 0x101
    entries += c.entry;
    if (c.opens) entries += Name("Next", c.version);
    entries += std::string(1, '\0');
    Module m(Table(c.version, {Unit(Name("u.cpp", c.version), 10, 0x100, 0x200000, entries)}), c.version);
    TVLLocationInfo l;
    const std::uint32_t after = 0x101 + c.codeDelta;
    ASSERT_TRUE(m.Locate(after, l));
    EXPECT_EQ(l.Kind, 4);
    EXPECT_EQ(l.UnitName, "u.cpp");
    EXPECT_EQ(l.Line, static_cast<std::int32_t>(11 + c.lineDelta));
    EXPECT_EQ(l.ProcedureName, c.opens ? "Next" : "Proc");
    if (c.codeDelta > 0) {
      ASSERT_TRUE(m.Locate(after - 1, l));
      EXPECT_EQ(l.Line, 11);
      EXPECT_EQ(l.ProcedureName, "Proc");
    }
  }
}

TEST(LineTable, TheLastRangeOfAUnitHasItsLastLine) {
  const std::string entries = "\x01" + Name("P", 6022) + std::string(1, '\0');  // 11 at 0x101, 12 at 0x102
  Module m(Table(6022, {Unit(Name("a.cpp", 6022), 10, 0x100, 0x200, entries),
                        Unit(Name("b.cpp", 6022), 50, 0x300, 0x10, "\x01" + Name("Q", 6022))}),
           6022);
  TVLLocationInfo l;
  ASSERT_TRUE(m.Locate(0x2FF, l));
  EXPECT_EQ(l.UnitName, "a.cpp");
  EXPECT_EQ(l.Line, 12);
  EXPECT_EQ(l.LineInProcedure, 1);
  ASSERT_TRUE(m.Locate(0x30F, l));
  EXPECT_EQ(l.UnitName, "b.cpp");
  EXPECT_EQ(l.Line, 51);
  EXPECT_FALSE(m.Locate(0x310, l));  // past the last unit
  EXPECT_FALSE(m.Locate(0x0FF, l));  // before the first
}

TEST(LineTable, OverlappingUnitsAnswerInTableOrder) {
  const std::uint16_t v = 6022;
  Module m(Table(v, {Unit(Name("outer.cpp", v), 10, 0x100, 0x100, "\x01" + Name("Outer", v)),
                     Unit(Name("inner.cpp", v), 50, 0x150, 0x10, "\x01" + Name("Inner", v)),
                     Unit(Name("late.cpp", v), 70, 0x1F0, 0x100, "\x01" + Name("Late", v))}),
           v);
  struct {
    std::uint32_t offset;
    const char* unit;
  } cases[] = {{0x155, "outer.cpp"}, {0x1F5, "outer.cpp"}, {0x200, "late.cpp"}, {0x2EF, "late.cpp"}};
  for (const auto& c : cases) {
    TVLLocationInfo l;
    ASSERT_TRUE(m.Locate(c.offset, l)) << c.offset;
    EXPECT_EQ(l.UnitName, c.unit) << c.offset;
  }
  // A changed table is read anew.
  Module other(Table(v, {Unit(Name("only.cpp", v), 1, 0x150, 0x10, "\x01" + Name("Only", v))}), v);
  other.info.DebugDataIndex = m.info.DebugDataIndex;
  TVLLocationInfo l;
  ASSERT_TRUE(other.Locate(0x155, l));
  EXPECT_EQ(l.UnitName, "only.cpp");
}

TEST(LineTable, NamesOfEveryVersionAndPassword) {
  auto b64 = [](const std::string& bytes) {
    std::string out;
    Base64EncodeBuffer(bytes.data(), bytes.size(), out);
    return out;
  };
  const std::string unitCipher = Stored("Unit1", 6022, "right"), procCipher = Stored("TFoo.Bar", 6022, "right");
  struct Case {
    const char* what;
    std::uint16_t version;
    std::string unit, procedure;
    bool accepted;
    std::string wantUnit, wantClass, wantProcedure;
  };
  const Case cases[] = {
      {"cipher, right password", 6022, Name("Unit1", 6022, "right"), Name("TFoo.Bar", 6022, "right"), true, "Unit1.pas",
       "TFoo", "Bar"},
      {"cipher, file name", 6022, Name("main.cpp", 6022, "right"), Name("Bar", 6022, "right"), true, "main.cpp", "",
       "Bar"},
      {"cipher, wrong password", 6022, Name("Unit1", 6022, "right"), Name("TFoo.Bar", 6022, "right"), false,
       "?p" + b64(unitCipher), "", "?" + b64(procCipher)},
      {"qualified", 6022, Name("Vantor", 6022, "right", true) + Name("Core", 6022, "right"),
       Name("TFoo", 6022, "right", true) + Name("Bar", 6022, "right"), true, "Vantor.Core", "TFoo", "Bar"},
      {"XOR", 450, Name("Unit1", 450), Name("TFoo.Bar", 450), true, "Unit1", "TFoo", "Bar"},
      {"XOR, oldest", 300, Name("Unit1", 300), Name("@Bar", 300), true, "Unit1", "", "_Bar"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Module m(Table(c.version, {Unit(c.unit, 10, 0x100, 0x10, "\x01" + c.procedure)}), c.version, c.accepted, "right");
    TVLLocationInfo l;
    ASSERT_TRUE(m.Locate(0x105, l));
    EXPECT_EQ(l.UnitName, c.wantUnit);
    EXPECT_EQ(l.ClassName, c.wantClass);
    EXPECT_EQ(l.ProcedureName, c.wantProcedure);
  }
}

TEST(LineTable, ProceduresClassesAndLinesInProcedure) {
  const std::uint16_t v = 6022;
  std::string e;
  e += "\x01" + Name("TA.First", v) + std::string(1, '\0');  // 11 at 0x101, 12 at 0x102
  e += "\x01" + Name(".Second", v) + std::string(1, '\0');   // 13 at 0x103, 14 at 0x104
  e += "\x01" + Name("@Free", v) + std::string(1, '\0');     // 15 at 0x105, 16 at 0x106
  e += "\x01" + Name(".Third", v);                           // 17 at 0x107: the class is gone
  Module m(Table(v, {Unit(Name("a.cpp", v), 10, 0x100, 0x10, e)}), v);
  struct {
    std::uint32_t offset;
    const char *cls, *procedure;
    std::int32_t line, inProcedure;
  } cases[] = {
      {0x100, "TA", "First", 10, 0},  // before the first procedure: it is taken, not below 0
      {0x101, "TA", "First", 11, 0},  {0x102, "TA", "First", 12, 1}, {0x103, "TA", "Second", 13, 0},
      {0x104, "TA", "Second", 14, 1}, {0x106, "", "_Free", 16, 1},   {0x108, "", "Third", 17, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.offset);
    TVLLocationInfo l;
    ASSERT_TRUE(m.Locate(c.offset, l));
    EXPECT_EQ(l.ClassName, c.cls);
    EXPECT_EQ(l.ProcedureName, c.procedure);
    EXPECT_EQ(l.Line, c.line);
    EXPECT_EQ(l.LineInProcedure, c.inProcedure);
  }
}

TEST(LineTable, InitializationAndFinalizationStartALineEarlier) {
  const std::uint16_t v = 6022;
  std::string e;
  e += "\x01" + Name("Initialization", v) + std::string(2, '\0');  // 11 at 0x101 .. 13 at 0x103
  e += "\x01" + Name("Finalization", v) + std::string(1, '\0');    // 14 at 0x104, 15 at 0x105
  Module m(Table(v, {Unit(Name("Unit1", v), 10, 0x100, 0x10, e)}), v);
  struct {
    std::initializer_list<std::uint8_t> prologue;
    std::int32_t inProcedure;
  } cases[] = {{{0x55, 0x8B, 0xEC}, 2}, {{0x53}, 2}, {{0x55, 0x89, 0xE5}, 3}, {{0x90}, 3}, {{}, 2}};
  for (const auto& c : cases) {
    FakeProcess process;
    process.Code(At(0x101), c.prologue);
    TVLLocationInfo l;
    ASSERT_TRUE(m.Locate(0x103, l));
    EXPECT_EQ(l.ProcedureName, "Initialization");
    EXPECT_EQ(l.LineInProcedure, c.inProcedure);
    ASSERT_TRUE(m.Locate(0x105, l));
    EXPECT_EQ(l.ProcedureName, "Finalization");
    EXPECT_EQ(l.LineInProcedure, 2);
  }
}

// Line numbers near the ends of 32 bits wrap as the walk adds them up; the
// distance into the procedure is the count of lines walked.
TEST(LineTable, LinesInProcedureAcrossTheLargestLineNumber) {
  const std::uint16_t v = 6022;
  struct {
    const char* what;
    std::int32_t firstLine;
    std::string entries;
    std::uint32_t offset;
    std::int32_t line, inProcedure;
  } cases[] = {
      // before the first procedure, whose first line wrapped to the smallest number
      {"before", INT32_MAX, "\x01" + Name("P", v), 0x100, INT32_MAX, 0},
      {"wrapped within", INT32_MAX - 2, "\x01" + Name("P", v) + std::string(2, '\0'), 0x103, INT32_MIN, 2},
      // the one-line-earlier start of a finalization section, taken from the smallest number
      {"finalization", INT32_MAX, "\x01" + Name("Finalization", v) + std::string(1, '\0'), 0x102, INT32_MIN + 1, 2},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Module m(Table(v, {Unit(Name("w.cpp", v), c.firstLine, 0x100, 0x10, c.entries)}), v);
    TVLLocationInfo l;
    ASSERT_TRUE(m.Locate(c.offset, l));
    EXPECT_EQ(l.Line, c.line);
    EXPECT_EQ(l.LineInProcedure, c.inProcedure);
  }
}

TEST(LineTable, TheLibrarysOwnUnitsAreHidden) {
  Module m(Table(6022, {Unit(Name("ELocation.cpp", 6022), 10, 0x100, 0x10, "\x01" + Name("Walk", 6022))}), 6022);
  FakeProcess process;
  process.ownUnit = "ELocation.cpp";
  TVLLocationInfo l;
  ASSERT_TRUE(m.Locate(0x105, l));
  EXPECT_EQ(l.Kind, 1);
  EXPECT_EQ(l.ProcedureName, "");
  EXPECT_EQ(l.Line, 0);
  process.ownFailure = true;  // while the library reports its own failure it names its frames
  ASSERT_TRUE(m.Locate(0x105, l));
  EXPECT_EQ(l.Kind, 4);
  EXPECT_EQ(l.ProcedureName, "Walk");
}

TEST(LineTable, LyingTablesGiveNoInformation) {
  const std::uint16_t v = 6022;
  const std::string good = Table(v, {Unit(Name("a.cpp", v), 10, 0x100, 0x100, "\x01" + Name("P", v) + "\xFE\xFE"),
                                     Unit(Name("b.cpp", v), 10, 0x200, 0x100, "\x01" + Name("Q", v) + "\xFE")});
  for (std::size_t cut = 0; cut < good.size(); ++cut) {
    Module m(good.substr(0, cut), v);
    TVLLocationInfo l;
    m.Locate(0x250, l);  // must neither read past the data nor hang
  }
  std::string hugeCount = good;
  hugeCount[0] = hugeCount[1] = hugeCount[2] = hugeCount[3] = '\xFF';
  std::string hugeEntries = good;
  const std::size_t entriesSizeAt = 4 + 1 + 5 + 12;
  std::memset(&hugeEntries[entriesSizeAt], 0xFF, 4);
  std::string hugeName = good;
  hugeName[4] = '\x7F';
  for (const std::string* t : {&hugeCount, &hugeEntries, &hugeName}) {
    Module m(*t, v);
    TVLLocationInfo l;
    EXPECT_FALSE(m.Locate(0x350, l));  // beyond the units present: the count's lie ends the walk
  }
}

TEST(ExportNames, SplitByForm) {
  struct {
    const char* name;
    std::uint8_t kind;
    const char *unit, *cls, *procedure;
  } cases[] = {
      {"@Classes@TList@Add$qqrpv", 3, "Classes.pas", "TList", "Add"},
      {"@Sysutils@Trim$qqrx17System@AnsiString", 3, "Sysutils.pas", "", "Trim"},
      {"@Unit1@@Init$qqrv", 3, "Unit1.pas", "", "_Init"},
      {"@Unit1@Proc@", 3, "Unit1.pas", "", "Proc"},
      {"@$xp$5TList", 0, "", "", ""},  // left alone: one part
      {"@A@B@C@D$qv", 0, "", "", ""},  // four parts
      {"Unit1.Helper@8", 3, "Unit1.pas", "", "Helper"},
      {"CreateWidget", 2, "", "", "CreateWidget"},
      {"@Unit1@@Free", 3, "Unit1.pas", "", "_Free"},
      {"?Cpp@@Mangled", 0, "", "", ""},
  };
  for (const auto& c : cases) {
    TVLLocationInfo l;
    SplitExportName(c.name, l);
    EXPECT_EQ(l.Kind, c.kind) << c.name;
    EXPECT_EQ(l.UnitName, c.unit) << c.name;
    EXPECT_EQ(l.ClassName, c.cls) << c.name;
    EXPECT_EQ(l.ProcedureName, c.procedure) << c.name;
  }
}

TEST(LocateAddress, FallsBackToExportsThenToTheModule) {
  FakeProcess process;
  TVantorModuleInfo module;
  module.Handle = kBase;
  module.Exports = New<TVantorFunctionsList>();
  module.Exports->AddFunction("@Unit1@Helper$qqrv", kBase + 0x1100, 0);
  module.Exports->AddFunction("CreateWidget", kBase + 0x1000, 0);
  module.Exports->SortByAddress();
  process.module = &module;
  process.Code(kBase + 0x1000, {0x55, 0x8B, 0xEC, 0x5D, 0xC3});  // 5 bytes to its return
  process.Code(kBase + 0x1100, {0x90, 0xC2, 0x04, 0x00});        // 4 bytes
  struct {
    std::uint64_t address;
    std::uint8_t kind;
    const char* procedure;
  } cases[] = {
      {kBase + 0x1003, 2, "CreateWidget"},
      {kBase + 0x1004, 2, "CreateWidget"},
      {kBase + 0x1005, 1, ""},
      {kBase + 0x1103, 3, "Helper"},
      {kBase + 0x1104, 1, ""},
      {kBase + 0x0F00, 1, ""},
      {0x1000, 0, ""},
  };
  for (const auto& c : cases) {
    TVLLocationInfo l;
    LocateAddress(c.address, 7, l, 1, 0);
    EXPECT_EQ(l.Kind, c.kind) << std::hex << c.address;
    EXPECT_EQ(l.ProcedureName, c.procedure) << std::hex << c.address;
    EXPECT_EQ(l.Address, c.address);
    EXPECT_EQ(l.ThreadId, 7);
    EXPECT_EQ(l.FaultingThread, 1);
  }
  EXPECT_EQ(module.Exports->Items(0)->Length, 5u);  // measured once and kept
  FreeAndNil(module.Exports);
  // Neither debug data, nor a debug-information source, nor exports: the module only.
  TVLLocationInfo l;
  LocateAddress(kBase + 0x1003, 0, l);
  EXPECT_EQ(l.Kind, 1);
  EXPECT_EQ(l.Module, &module);
  EXPECT_EQ(l.ProcedureName, "");
}

// Blocks below 6000 have a 14-byte header, from 6000 on 16 bytes: the symbol
// table is found after either.
TEST(DataBlockSymbols, FoundAfterEitherHeaderSize) {
  struct {
    std::uint16_t version;
    bool hasTable;
  } cases[] = {{6022, true}, {6000, true}, {601, true}, {5999, true}, {550, true}, {500, true}, {450, false}};
  for (const auto& c : cases) {
    TVLDataInput in;
    in.version = c.version;
    TOwned<TVantorModuleOptions> o(New<TVantorModuleOptions>(""));
    TOwned<TStringStream> s(New<TStringStream>());
    o->SaveToStream(*s);
    in.options = s->DataString();
    in.symbols = {{4, 0x1234, 0xAAAAAAAA}, {5, 0x10FAB10, 0}, {4, 0x9999, 0}};
    const std::string block = MakeResourceBlock(in);
    TDataBlockHeader header;
    ASSERT_TRUE(ReadDataBlockHeader(block, header));
    EXPECT_EQ(header.BodyStart, NormalizeDataVersion(c.version) >= 6000 ? 16u : 14u) << c.version;
    std::uint32_t offset = 0;
    EXPECT_EQ(FindDataBlockSymbol(block, 4, offset), c.hasTable) << c.version;
    if (c.hasTable) {
      EXPECT_EQ(offset, 0x1234u) << c.version;  // the first entry with the id
      ASSERT_TRUE(FindDataBlockSymbol(block, 5, offset));
      EXPECT_EQ(offset, 0x10FAB10u);
    }
    EXPECT_FALSE(FindDataBlockSymbol(block, 9, offset));
    EXPECT_FALSE(FindDataBlockSymbol(block.substr(0, 20), 4, offset));
  }
}

// --- The writer -------------------------------------------------------------------------------------
struct Model {
  std::map<std::uint32_t, TVLLineRow> rows;
  std::map<std::uint32_t, TVLFunctionSymbol> functions;
};

// Runs of rows as a compiler leaves them: lines that go back and repeat,
// several rows at one address, functions starting at rows, big gaps.
TVLLineTableInput RandomRows(std::mt19937& rng, Model& model, std::uint16_t version) {
  TVLLineTableInput in;
  in.Version = version;
  in.Password = "secret";
  std::uint32_t at = 0x10;
  const char* files[] = {"main.cpp", "widget.cpp", "vector.h", "util.cpp"};
  const char* classes[] = {"", "Widget", "ns::Holder<int, char>", "Widget"};
  int fn = 0;
  for (int run = 0; run < 40; ++run) {
    const std::string file = files[rng() % 4];
    std::uint32_t line = 1 + rng() % 500;
    const int rows = 1 + static_cast<int>(rng() % 60);
    for (int r = 0; r < rows; ++r) {
      TVLLineRow row{file, line, at, false};
      in.Rows.push_back(row);
      model.rows[at] = row;
      if (r == 0 || rng() % 6 == 0) {
        TVLFunctionSymbol f{at, classes[rng() % 4], "f" + std::to_string(fn++)};
        in.Functions.push_back(f);
        model.functions.emplace(at, f);  // at one address the first symbol names it
      }
      const int step = static_cast<int>(rng() % 10);
      if (step == 0) {
        line = line > 5 ? line - 1 - rng() % 5 : line + 1;  // backwards
      } else if (step == 1) {
        // the same line again
      } else if (step == 2) {
        line += 20000 + rng() % 60000;  // beyond the short forms
      } else {
        line += 1 + rng() % 40;
      }
      const int gap = static_cast<int>(rng() % 12);
      at += gap == 0 ? 0 : gap == 1 ? 0x9000 + rng() % 0x20000 : 1 + rng() % 300;
    }
    TVLLineRow end{file, 0, at, true};
    in.Rows.push_back(end);
    if (!model.rows.count(at)) model.rows[at] = end;
    at += rng() % 3 == 0 ? 0 : 16 + rng() % 64;
  }
  return in;
}

TEST(LineTableWriter, TheWalkGivesBackEveryRowAndFunction) {
  for (std::uint16_t version : {6022, 502, 450, 300}) {
    SCOPED_TRACE(version);
    std::mt19937 rng(version);
    Model model;
    const TVLLineTableInput in = RandomRows(rng, model, version);
    Module m(MakeLineTable(in), version, true, "secret");
    std::vector<std::uint32_t> probes;
    for (const auto& [offset, row] : model.rows) {
      probes.push_back(offset);
      if (offset > 0) probes.push_back(offset - 1);
    }
    const std::uint32_t last = model.rows.rbegin()->first;
    for (int i = 0; i < 300; ++i) probes.push_back(rng() % (last + 10));
    for (std::uint32_t p : probes) {
      auto row = model.rows.upper_bound(p);
      TVLLocationInfo l;
      const bool found = m.Locate(p, l);
      if (row == model.rows.begin() || std::prev(row)->second.End) {
        EXPECT_FALSE(found) << p;
        continue;
      }
      const TVLLineRow& want = std::prev(row)->second;
      ASSERT_TRUE(found) << p;
      EXPECT_EQ(l.UnitName, want.File) << p;
      EXPECT_EQ(l.Line, static_cast<std::int32_t>(want.Line)) << p;
      const TVLFunctionSymbol& f = std::prev(model.functions.upper_bound(p))->second;
      EXPECT_EQ(l.ClassName, f.ClassName) << p;
      EXPECT_EQ(l.ProcedureName, f.Name) << p;
    }
  }
}

TEST(LineTableWriter, DemangledNames) {
  struct {
    const char *demangled, *cls, *name;
  } cases[] = {
      {"ns::Foo::bar(int) const", "ns::Foo", "bar"},
      {"main", "", "main"},
      {"Widget::~Widget()", "Widget", "~Widget"},
      {"std::vector<int, std::allocator<int> >::push_back(int const&)", "std::vector<int, std::allocator<int> >",
       "push_back"},
      {"Stream::operator<<(Stream&, std::pair<int, int> const&)", "Stream", "operator<<"},
      {"(anonymous namespace)::helper(void (*)(int))", "(anonymous namespace)", "helper"},
      {"Map<a::b>::find(a::b)", "Map<a::b>", "find"},
  };
  for (const auto& c : cases) {
    std::string cls, name;
    SplitDemangledName(c.demangled, cls, name);
    EXPECT_EQ(cls, c.cls) << c.demangled;
    EXPECT_EQ(name, c.name) << c.demangled;
  }
}

TEST(LineTableWriter, BinutilsOutputIsRead) {
  const std::string decoded =
      "a.cpp:\nFile name                            Line number    Starting address    View    Stmt\n"
      "a.cpp                                          2            0x401010               x\n"
      "/src/dir/b.cpp                                 7            0x401020       1\n"
      "a.cpp                                          -            0x401030\n"
      "crt.c                                        118            0x400800               x\n";
  const auto rows = ParseDecodedLines(decoded, 0x401000);
  ASSERT_EQ(rows.size(), 3u);
  EXPECT_EQ(rows[0].Offset, 0x10u);
  EXPECT_EQ(rows[1].File, "b.cpp");
  EXPECT_TRUE(rows[2].End);
  const std::string nm =
      "004015b0 T ns::Foo::bar(int)\n004015de T _cfunc\n00402000 D _data\n004015e5 t _local.part.0\n"
      "00401600 T Foo::baz() [clone .constprop.0]\n";
  const auto f = ParseNmSymbols(nm, 0x401000, true);
  ASSERT_EQ(f.size(), 4u);
  EXPECT_EQ(f[0].ClassName, "ns::Foo");
  EXPECT_EQ(f[1].Name, "cfunc");
  EXPECT_EQ(f[2].Name, "local");
  EXPECT_EQ(f[3].Name, "baz");
}

}  // namespace
