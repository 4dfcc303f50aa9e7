// The debug-information readers on hand-made fixtures (debugdata/, the binary
// ones written by make-debug-fixtures.py): MAP files with and without line
// numbers, binary debug data ("JDBG") and TD32 blocks, lying files, and the
// choice among the three sources beside a module or inside its image.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "EDebug.h"
#include "ELocation.h"

namespace {

namespace fs = std::filesystem;

std::string Fixture(const std::string& name) {
  std::ifstream f(std::string(PELLORY_DEBUGDATA) + "/" + name, std::ios::binary);
  EXPECT_TRUE(f.good()) << name;
  return std::string(std::istreambuf_iterator<char>(f), {});
}

struct MapCase {
  const char* file;
  std::uint32_t offset;
  const char* unit;
  const char* procedure;
  std::int32_t line;
  const char* source;
};

TEST(MapScanner, FixturesByOffset) {
  const MapCase cases[] = {
      // Without "Line numbers for": names, line 0.
      {"nolines.map", 0x215, "Unit1", "Unit1.TForm1.Button1Click", 0, ""},
      {"nolines.map", 0x85, "System", "System.Move", 0, ""},
      {"nolines.map", 0x200, "Unit1", "", 0,
       ""},  // on both segments' bounds: the later one, whose start no procedure has
      {"nolines.map", 0x301, "", "", 0, ""},
      {"lines.map", 0x21C, "Unit1", "Unit1.TForm1.Button1Click", 31, "unit1.pas"},
      {"lines.map", 0x284, "Unit1", "Unit1.Helper", 45, "unit1.pas"},
      {"lines.map", 0x15, "System", "System.@HandleFinally", 11, "sys\\system.pas"},
      {"lines.map", 0x95, "System", "System.Move", 41, "sys\\system.pas"},
      // Inside Unit1's segment, before its first procedure and line: the
      // procedure and line of System below the segment's start are not reported.
      {"lines.map", 0x20A, "Unit1", "", 0, ""},
      // Between the two segments: no unit.
      {"lines.map", 0x204, "", "", 0, ""},
  };
  for (const MapCase& c : cases) {
    SCOPED_TRACE(std::string(c.file) + " at " + std::to_string(c.offset));
    TVLMapScanner s(Fixture(c.file));
    std::uint32_t procOffset = 0, lineOffset = 0;
    EXPECT_EQ(s.UnitNameAt(c.offset), c.unit);
    EXPECT_EQ(s.ProcedureNameAt(c.offset, procOffset), c.procedure);
    EXPECT_EQ(s.LineNumberAt(c.offset, lineOffset), c.line);
    EXPECT_EQ(s.SourceNameAt(c.offset), c.source);
  }
}

TEST(MapScanner, BackwardAndStrayLinesAreDroppedAndCounted) {
  TVLMapScanner s(Fixture("lines.map"));
  // 0x88 after 0x90 goes backwards; 0x900 lies beyond every code segment.
  EXPECT_EQ(s.RejectedLineCount(), 2);
  EXPECT_EQ(s.LinkerBugUnit(), "System");
  std::uint32_t lineOffset;
  EXPECT_EQ(s.LineNumberAt(0x8C, lineOffset), 40);
  EXPECT_EQ(lineOffset, 0xCu);
}

TEST(MapScanner, TextThatIsNoMapGivesNothing) {
  for (const char* text :
       {"", "Start Length Name Class\n1", "Line numbers for\n  1 0001:", "\n\n\n9999999999999999999:"}) {
    TVLMapScanner s(text);
    std::uint32_t o;
    EXPECT_EQ(s.UnitNameAt(0), "");
    EXPECT_EQ(s.LineNumberAt(0, o), 0);
  }
}

TEST(JdbgScanner, NumbersAreSevenBitGroups) {
  struct {
    std::string bytes;
    bool ok;
    std::uint32_t value;
  } cases[] = {
      {std::string("\x85\x01", 2), true, 133},
      {std::string("\x7F", 1), true, 127},
      {std::string("\xFF\xFF\xFF\xFF\x07", 5), true, 0x7FFFFFFF},
      {std::string("\x80", 1), false, 0},                      // ends inside the number
      {std::string("\x80\x80\x80\x80\x80\x01", 6), false, 0},  // more than five bytes
  };
  for (const auto& c : cases) {
    std::size_t pos = 0;
    std::uint32_t v = 0;
    EXPECT_EQ(ReadJdbgNumber(c.bytes, pos, v), c.ok);
    if (c.ok) {
      EXPECT_EQ(v, c.value);
    }
  }
}

TEST(JdbgScanner, FormatCheck) {
  struct {
    const char* file;
    bool valid;
  } cases[] = {
      {"good.jdbg", true},    {"nosum.jdbg", true},      {"badsum.jdbg", false},
      {"size34.jdbg", false}, {"unaligned.jdbg", false}, {"endless.jdbg", true},
  };
  for (const auto& c : cases) {
    TVLBinDebugScanner s(Fixture(c.file), true);
    EXPECT_EQ(s.ValidFormat(), c.valid) << c.file;
  }
  std::string good = Fixture("good.jdbg");
  std::uint32_t stored;
  std::memcpy(&stored, good.data() + 29, 4);
  EXPECT_EQ(JdbgCheckSum(good), stored);
  good[4] = 2;  // version
  EXPECT_FALSE(TVLBinDebugScanner(good, true).ValidFormat());
}

TEST(JdbgScanner, LookupsCachedAndWalked) {
  struct {
    std::uint32_t address;
    const char* unit;
    const char* procedure;
    std::int32_t line;
    const char* source;
  } cases[] = {
      {0x20, "Main", "TForm1.Button1Click", 12, "main.pas"},
      {0x10, "Main", "TForm1.Button1Click", 10, "main.pas"},
      {0x96, "Main", "@Helper", 30, "main.pas"},  // 0x95 = 0x10 + 133
      {0x250, "Other", "Run", 7, "other.pas"},
      {0x05, "", "", 0, ""},
  };
  for (bool cached : {true, false}) {
    TVLBinDebugScanner s(Fixture("nosum.jdbg"), cached);
    for (const auto& c : cases) {
      SCOPED_TRACE(std::to_string(c.address) + (cached ? " cached" : " walked"));
      std::uint32_t po, lo;
      EXPECT_EQ(s.UnitNameAt(c.address), c.unit);
      EXPECT_EQ(s.ProcedureNameAt(c.address, po), c.procedure);
      EXPECT_EQ(s.LineNumberAt(c.address, lo), c.line);
      EXPECT_EQ(s.SourceNameAt(c.address), c.source);
    }
  }
  // A table whose numbers run off the end of the data ends there.
  TVLBinDebugScanner endless(Fixture("endless.jdbg"), true);
  EXPECT_EQ(endless.UnitNameAt(0x20), "");
}

TEST(Td32, BlocksAreFoundByTheirEnd) {
  const std::string fb0a = Fixture("fb0a.tds");
  EXPECT_EQ(FindTd32Block(fb0a).size(), fb0a.size());
  const std::string fb09 = Fixture("fb09.tds");
  EXPECT_EQ(FindTd32Block(fb09).size(), fb09.size() - std::strlen("junk before the block"));
  std::string lying = fb0a;
  lying[lying.size() - 4] = static_cast<char>(0xFF);  // a distance beyond the data
  EXPECT_TRUE(FindTd32Block(lying).empty());
  std::string mixed = fb0a;
  mixed[3] = '9';  // the signatures at the two places differ
  EXPECT_TRUE(FindTd32Block(mixed).empty());
  EXPECT_TRUE(FindTd32Block(std::string("FB0A\x08\0\0\0", 8)).empty());
}

TEST(Td32, ScannerFindsModuleProcedureAndLine) {
  TVLTD32InfoScanner s(Fixture("fb0a.tds"));
  ASSERT_TRUE(s.ValidData());
  EXPECT_EQ(s.Symbols().size(), 3u);  // the unknown record type is skipped
  const TVLModuleInfo* m = s.FindModuleAt(0x10A);
  ASSERT_NE(m, nullptr);
  EXPECT_EQ(s.Name(m->NameIndex), "Unit1");
  const TVLProcSymbolInfo* p = s.FindProcedureAt(0x10A);
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(TVLTD32InfoScanner::CleanProcedureName(s.Name(p->NameIndex), "Unit1"), "TForm1.Button1Click");
  EXPECT_EQ(s.FindProcedureAt(0x160), nullptr);  // past the local procedure's size
  const TVLSourceModuleInfo* src = s.FindSourceModuleAt(0x10A);
  ASSERT_NE(src, nullptr);
  std::int32_t line = 0;
  std::uint32_t lineOffset = 0;
  EXPECT_TRUE(src->LineNumberAt(0x10A, line, lineOffset));
  EXPECT_EQ(line, 31);
  EXPECT_EQ(lineOffset, 2u);
  EXPECT_TRUE(src->LineNumberAt(0x140, line, lineOffset));
  EXPECT_EQ(line, 40);
  EXPECT_FALSE(src->LineNumberAt(0x150, line, lineOffset));  // beyond the last entry
}

TEST(Td32, NameCleaning) {
  struct {
    const char* raw;
    const char* unit;
    const char* clean;
  } cases[] = {
      {"@Unit1@TForm1@Button1Click$qqrp14System@TObject", "Unit1", "TForm1.Button1Click"},
      {"@Unit1@Helper$qqrv", "unit1", "Helper"},
      {"@Classes@TList@Add$qqrpv", "Unit1", "Classes.TList.Add"},
      {"@Unit1@TForm1@$bctr$qqrp", "Unit1", "TForm1"},  // "@$" cuts one earlier
      {"@Sys@@Init$qqrv", "Sys", "@Init"},
      {"PlainName", "Unit1", "PlainName"},
  };
  for (const auto& c : cases) EXPECT_EQ(TVLTD32InfoScanner::CleanProcedureName(c.raw, c.unit), c.clean) << c.raw;
}

TEST(Td32, LyingBlocksGiveNoData) {
  // An entry size other than 12 is the format's assertion failure.
  EXPECT_THROW(TVLTD32InfoScanner(Fixture("entrysize.tds")), EAssertionFailed);
  EXPECT_THROW(TVLTD32InfoScanner(std::string_view()), EAssertionFailed);
  EXPECT_FALSE(TVLTD32InfoScanner(Fixture("names.tds")).ValidData());
  const std::string good = Fixture("fb0a.tds");
  for (std::size_t cut = 1; cut < good.size(); ++cut) {
    try {
      TVLTD32InfoScanner s(std::string_view(good).substr(0, cut));
      s.FindModuleAt(0x100);
    } catch (const EAssertionFailed&) {
    }
  }
}

// A module beside its debug files, or with an image of its own.
class FakeModule : public DebugModuleAccess {
 public:
  FakeModule() {
    dir_ = fs::temp_directory_path() / ("edebug-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) +
                                        "-" + ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir_);
    fs::create_directories(dir_);
    SetDebugModuleAccess(this);
  }
  ~FakeModule() override {
    SetDebugModuleAccess(nullptr);
    fs::remove_all(dir_);
  }
  void Beside(const std::string& fixture, const std::string& extension) {
    std::ofstream f(dir_ / ("module" + extension), std::ios::binary);
    const std::string bytes = Fixture(fixture);
    f.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  }
  std::string ModuleFileName(ModuleHandle) override { return (dir_ / "module.exe").string(); }
  bool ModuleImage(ModuleHandle, const std::uint8_t*& image, std::size_t& size) override {
    if (image_.empty()) return false;
    image = reinterpret_cast<const std::uint8_t*>(image_.data());
    size = image_.size();
    return true;
  }
  std::string image_;

 private:
  fs::path dir_;
};

constexpr ModuleHandle kBase = 0x400000;

TEST(DebugInfoSources, TheFirstValidFormatIsKept) {
  struct {
    std::vector<std::pair<const char*, const char*>> files;
    const char* chosen;  // class name, or null for none
  } cases[] = {
      {{}, nullptr},
      {{{"lines.map", ".map"}, {"fb0a.tds", ".tds"}, {"good.jdbg", ".jdbg"}}, "TVLDebugInfoMap"},
      {{{"fb0a.tds", ".tds"}, {"good.jdbg", ".jdbg"}}, "TVLDebugInfoTD32"},
      {{{"entrysize.tds", ".tds"}, {"good.jdbg", ".jdbg"}}, "TVLDebugInfoJedy"},
      {{{"badsum.jdbg", ".jdbg"}}, nullptr},
  };
  for (const auto& c : cases) {
    FakeModule module;
    for (const auto& [fixture, ext] : c.files) module.Beside(fixture, ext);
    TObject* source = nullptr;
    EXPECT_EQ(OpenDebugInfoSource(kBase, source), c.chosen != nullptr);
    if (c.chosen) {
      ASSERT_NE(source, nullptr);
      EXPECT_STREQ(source->ClassName(), c.chosen);
    }
    FreeAndNil(source);
  }
}

// A mapped image of one section, "JCLDEBUG", holding `data`.
std::string ImageWithSection(const std::string& name, const std::string& data) {
  std::string image(0x200, '\0');
  auto put16 = [&](std::size_t at, std::uint16_t v) { std::memcpy(&image[at], &v, 2); };
  auto put32 = [&](std::size_t at, std::uint32_t v) { std::memcpy(&image[at], &v, 4); };
  image[0] = 'M';
  image[1] = 'Z';
  put32(0x3C, 0x40);
  std::memcpy(&image[0x40], "PE\0\0", 4);
  put16(0x46, 1);     // one section
  put16(0x54, 0xE0);  // optional header size
  put16(0x58, 0x10B);
  const std::size_t section = 0x58 + 0xE0;
  std::memcpy(&image[section], name.data(), std::min<std::size_t>(8, name.size()));
  put32(section + 8, static_cast<std::uint32_t>(data.size()));        // virtual size
  put32(section + 12, 0x200);                                         // address
  put32(section + 16, static_cast<std::uint32_t>(data.size() + 64));  // raw size (the smaller size counts)
  return image + data + std::string(64, '\0');
}

// An image whose debug directory (in a section of its own) names a TD32 block.
std::string ImageWithTd32(const std::string& block, bool directoryInSection) {
  std::string image = ImageWithSection(".debug", std::string(28, '\0') + block);
  auto put32 = [&](std::size_t at, std::uint32_t v) { std::memcpy(&image[at], &v, 4); };
  const std::size_t dirs = 0x58 + 96;
  put32(dirs + 6 * 8, directoryInSection ? 0x200 : 0x204);  // the debug directory's address and size
  put32(dirs + 6 * 8 + 4, 28);
  put32(0x200 + 16, static_cast<std::uint32_t>(block.size()));  // the entry: size, then address of the data
  put32(0x200 + 20, 0x200 + 28);
  return image;
}

TEST(DebugInfoSources, Td32DataNamedByTheImagesDebugDirectory) {
  const std::string block = Fixture("fb0a.tds");
  const std::string image = ImageWithTd32(block, true);
  auto bytes = reinterpret_cast<const std::uint8_t*>(image.data());
  EXPECT_EQ(FindImageTd32Block(bytes, image.size()).size(), block.size());
  // A directory that no section starts at is not followed.
  const std::string stray = ImageWithTd32(block, false);
  EXPECT_TRUE(FindImageTd32Block(reinterpret_cast<const std::uint8_t*>(stray.data()), stray.size()).empty());
  for (std::size_t cut = 0; cut < image.size(); cut += 7) FindImageTd32Block(bytes, cut);
  FakeModule module;
  module.image_ = image;
  TObject* source = nullptr;
  ASSERT_TRUE(OpenDebugInfoSource(kBase, source));
  EXPECT_STREQ(source->ClassName(), "TVLDebugInfoTD32");
  TVLDebugLocation info;
  ASSERT_TRUE(static_cast<TVLDebugInfoSource*>(source)->GetLocation(kBase + 0x1000 + 0x10A, info));
  EXPECT_EQ(info.ProcedureName, "TForm1.Button1Click");
  EXPECT_EQ(info.LineNumber, 31);
  FreeAndNil(source);
}

TEST(DebugInfoSources, BinaryDebugSectionInsideTheImage) {
  FakeModule module;
  module.image_ = ImageWithSection("JCLDEBUG", Fixture("good.jdbg"));
  TObject* source = nullptr;
  ASSERT_TRUE(OpenDebugInfoSource(kBase, source));
  EXPECT_STREQ(source->ClassName(), "TVLDebugInfoJedy");
  TVLDebugLocation info;
  auto* s = static_cast<TVLDebugInfoSource*>(source);
  ASSERT_TRUE(s->GetLocation(kBase + 0x1000 + 0x20, info));
  EXPECT_EQ(info.UnitName, "Main");
  EXPECT_EQ(info.ProcedureName, "TForm1.Button1Click");
  EXPECT_EQ(info.LineNumber, 12);
  EXPECT_EQ(info.LineInProcedure, 2);
  EXPECT_EQ(info.SourceName, "main.pas");
  EXPECT_FALSE(s->GetLocation(kBase + 0x1000 + 0x05, info));
  FreeAndNil(source);
  // A section of another name is not read.
  module.image_ = ImageWithSection("JCLDEBUX", Fixture("good.jdbg"));
  EXPECT_FALSE(OpenDebugInfoSource(kBase, source));
}

// The location lookup through each source: unit from the source file,
// class and procedure split from the source's name.
TEST(DebugInfoSources, LocationsThroughEachSource) {
  struct {
    const char* fixture;
    const char* ext;
    std::uint32_t offset;
    std::uint8_t kind;
    const char* unit;
    const char* cls;
    const char* procedure;
    std::int32_t line, lineInProcedure;
  } cases[] = {
      {"lines.map", ".map", 0x21C, 4, "unit1.pas", "TForm1", "Button1Click", 31, 1},
      {"lines.map", ".map", 0x284, 4, "unit1.pas", "", "Helper", 45, 0},
      {"lines.map", ".map", 0x15, 4, "system.pas", "", "_HandleFinally", 11, 1},
      {"nolines.map", ".map", 0x215, 3, "Unit1", "TForm1", "Button1Click", 0, 0},
      {"fb0a.tds", ".tds", 0x10A, 4, "unit1.pas", "TForm1", "Button1Click", 31, 1},
      {"fb0a.tds", ".tds", 0x140, 4, "unit1.pas", "", "Helper", 40, 0},
      {"fb0a.tds", ".tds", 0x150, 3, "unit1.pas", "", "Helper", 0, 0},  // beyond the last line entry
      {"fb0a.tds", ".tds", 0x190, 3, "Unit1", "", "", 0, 0},
      {"good.jdbg", ".jdbg", 0x96, 4, "main.pas", "", "_Helper", 30, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.fixture) + " at " + std::to_string(c.offset));
    FakeModule module;
    module.Beside(c.fixture, c.ext);
    TVantorModuleInfo entry;
    entry.Handle = kBase;
    ASSERT_TRUE(OpenDebugInfoSource(kBase, entry.DebugSource));
    TVLLocationInfo location;
    location.Module = &entry;
    ASSERT_TRUE(LocateInDebugInfoSource(kBase + 0x1000 + c.offset, location));
    EXPECT_EQ(location.Kind, c.kind);
    EXPECT_EQ(location.UnitName, c.unit);
    EXPECT_EQ(location.ClassName, c.cls);
    EXPECT_EQ(location.ProcedureName, c.procedure);
    EXPECT_EQ(location.Line, c.line);
    EXPECT_EQ(location.LineInProcedure, c.lineInProcedure);
    FreeAndNil(entry.DebugSource);
  }
}

}  // namespace
