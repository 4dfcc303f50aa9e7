// The data block reader on blocks from the writer of tools/vldata: both forms,
// every body layout, the password check, and blocks that lie about their lengths.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "ECore.h"
#include "EZlib2.h"
#include "ExceptionLog.h"
#include "Streams.h"
#include "VLDataWriter.h"

namespace {
#include "ErrorReportVectors.inc"

std::string CurrentOptions(const std::string& host) {
  TOwned<TVantorModuleOptions> o(New<TVantorModuleOptions>(""));
  o->SetMailHost(host);
  o->SetFreezeSeconds(33);
  TOwned<TStringStream> s(New<TStringStream>());
  o->SaveToStream(*s);
  return s->DataString();
}

std::string OldOptions(std::uint16_t version) {
  for (const OldStream& s : kOldStreams)
    if (s.version == version) return std::string(s.bytes, s.size);
  return {};
}

TVLDataInput Input(std::uint16_t version, const std::string& options) {
  TVLDataInput in;
  in.version = version;
  in.options = options;
  in.buildTime = 46000.25;
  in.debugData = "DEBUG-DATA-" + std::to_string(version);
  in.symbols = {{0, 0x1234, 7}, {1, 0x5678, 0}};
  in.leakOptions = 0x5A;
  in.leakUseMainBlock = 1;
  return in;
}

struct Entry {
  TVantorModuleInfo info;
  Entry() { info.FileName = "module.dll"; }
  ~Entry() {
    FreeAndNil(info.Options);
    FreeAndNil(info.DebugData);
  }
  std::string Debug() const { return info.DebugData ? info.DebugData->DataString() : std::string("<none>"); }
};

TEST(DataBlock, ResourceFormByVersion) {
  struct Case {
    std::uint16_t written, read;
    std::string options;
    std::size_t headerSize;
    const char* mailHost;
  } cases[] = {
      {6022, 6022, CurrentOptions("mx6022"), 16, "mx6022"},
      {6010, 6010, CurrentOptions("mx6010"), 16, "mx6010"},
      {601, 6001, CurrentOptions("mx601"), 16, "mx601"},
      {550, 550, OldOptions(550), 14, "smtp.example.com"},
      {450, 450, OldOptions(450), 14, "smtp.example.com"},
      {421, 421, OldOptions(421), 14, "smtp.example.com"},
      {401, 401, OldOptions(401), 14, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.written);
    const std::string block = MakeResourceBlock(Input(c.written, c.options));
    // The header: 16 bytes (with the leak catcher's two) from 6000 on, else 14.
    if (c.headerSize == 16) {
      EXPECT_EQ(block[14], 0x5A);
      EXPECT_EQ(block[15], 1);
    }
    if (c.read >= 500) {
      EXPECT_EQ(static_cast<std::uint8_t>(block[c.headerSize]), 18);  // two 9-byte symbols
    }
    Entry e;
    ASSERT_TRUE(ReadResourceDataBlock(block, e.info, {}));
    EXPECT_EQ(e.info.DataVersion, c.read);
    EXPECT_EQ(e.info.BuildTime, 46000.25);
    EXPECT_EQ(e.info.Options->MailHost(), c.mailHost);
    EXPECT_EQ(e.Debug(), "DEBUG-DATA-" + std::to_string(c.written));
    EXPECT_EQ(e.info.PasswordAccepted, 1);
    // A light scan reads the options and leaves the debug data.
    Entry light;
    TDataBlockReading how;
    how.LightScan = true;
    ASSERT_TRUE(ReadResourceDataBlock(block, light.info, how));
    EXPECT_EQ(light.info.Options->MailHost(), c.mailHost);
    EXPECT_EQ(light.info.DebugData, nullptr);
  }
  // The raw word 601 is not current; the library's own version is.
  EXPECT_FALSE(DataBlockVersionIsCurrent(601));
  EXPECT_FALSE(DataBlockVersionIsCurrent(6021));
  EXPECT_TRUE(DataBlockVersionIsCurrent(6022));
  // A block of a newer library is refused.
  Entry newer;
  EXPECT_FALSE(ReadResourceDataBlock(MakeResourceBlock(Input(6023, CurrentOptions("x"))), newer.info, {}));
}

TEST(DataBlock, PasswordCheck) {
  TVLDataInput in = Input(6022, CurrentOptions("mx"));
  in.password = "secret";
  const std::string block = MakeResourceBlock(in);
  struct Case {
    const char* first;
    const char* second;
    bool ownModule;
    std::uint8_t accepted;
    const char* password;
  } cases[] = {
      {"secret", "", true, 1, "secret"},
      {"wrong", "secret", true, 0, "wrong"},  // this module asks only once
      {"wrong", "secret", false, 1, "secret"},
      {"", "", false, 0, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.first) + "/" + c.second);
    TDataBlockReading how;
    how.IsOwnModule = c.ownModule;
    how.FirstPasswordSource = [&] { return std::string(c.first); };
    how.SecondPasswordSource = [&] { return std::string(c.second); };
    Entry e;
    ASSERT_TRUE(ReadResourceDataBlock(block, e.info, how));
    EXPECT_EQ(e.info.PasswordAccepted, c.accepted);
    EXPECT_EQ(e.info.Password, c.password);
    // A wrong password only marks the entry; the reading goes on.
    EXPECT_EQ(e.Debug(), "DEBUG-DATA-6022");
    EXPECT_EQ(e.info.Options->MailHost(), "mx");
  }
}

TEST(DataBlock, TrailerForm) {
  const std::string module = std::string("MZ\x90\x00", 4) + std::string(5000, 'c');
  for (std::uint16_t version : {6022, 421}) {
    SCOPED_TRACE(version);
    TVLDataInput in = Input(version, version == 6022 ? CurrentOptions("trailer") : OldOptions(421));
    in.password = "ignored";
    TOwned<TStringStream> file(New<TStringStream>(module + MakeTrailerBlock(in)));
    std::uint16_t found = 0;
    ASSERT_TRUE(FindTrailerDataBlock(*file, found));
    EXPECT_EQ(found, version);
    Entry e;
    ASSERT_TRUE(ReadTrailerDataBlock(*file, e.info, {}));
    EXPECT_EQ(e.info.DataVersion, version);
    EXPECT_EQ(e.info.Options->MailHost(), version == 6022 ? "trailer" : "smtp.example.com");
    EXPECT_EQ(e.Debug(), "DEBUG-DATA-" + std::to_string(version));
  }
  TOwned<TStringStream> plain(New<TStringStream>(module));
  std::uint16_t found;
  EXPECT_FALSE(FindTrailerDataBlock(*plain, found));
}

void PatchU32(std::string& s, std::size_t at, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) s[at + i] = static_cast<char>(v >> (8 * i));
}

TEST(DataBlock, LyingBlocksCountAsNoBlock) {
  const std::string good = MakeResourceBlock(Input(6022, CurrentOptions("mx")));
  const std::uint32_t symbols = 18;
  struct Case {
    const char* what;
    std::string block;
  } cases[] = {
      {"symbol table longer than the block",
       [&] {
         std::string b = good;
         PatchU32(b, 16, 0xFFFFFFF0u);
         return b;
       }()},
      {"options longer than the block",
       [&] {
         std::string b = good;
         PatchU32(b, 16 + 4 + symbols, 0x7FFFFFFFu);
         return b;
       }()},
      {"options that do not inflate",
       [&] {
         std::string b = good;
         b[16 + 4 + symbols + 4 + 3] ^= 0x40;
         return b;
       }()},
      {"cut in the header", good.substr(0, 10)},
      {"cut in the options", good.substr(0, 40)},
      {"cut before the debug part", good.substr(0, good.size() - 8)},
      {"empty", std::string()},
  };
  for (const Case& c : cases) {
    Entry e;
    EXPECT_FALSE(ReadResourceDataBlock(c.block, e.info, {})) << c.what;
  }
  // Debug data that claims more bytes than it holds.
  TVLDataInput in = Input(401, OldOptions(401));
  std::string plain = MakeResourceBlock(in);
  PatchU32(plain, plain.size() - in.debugData.size() - 4, 0x10000000u);
  Entry e;
  EXPECT_FALSE(ReadResourceDataBlock(plain, e.info, {}));

  // A trailer whose length points before the file, or past its data.
  std::string trailer = MakeTrailerBlock(Input(6022, CurrentOptions("t")));
  std::string lying = "MZ";
  lying += trailer;
  PatchU32(lying, lying.size() - 8, 0xFFFFFF00u);
  TOwned<TStringStream> f1(New<TStringStream>(lying));
  std::uint16_t found;
  EXPECT_FALSE(FindTrailerDataBlock(*f1, found));
  Entry t;
  EXPECT_FALSE(ReadTrailerDataBlock(*f1, t.info, {}));
  std::string shortT = "MZ";
  shortT += trailer;
  PatchU32(shortT, shortT.size() - 8, 12);
  TOwned<TStringStream> f2(New<TStringStream>(shortT));
  Entry t2;
  EXPECT_FALSE(ReadTrailerDataBlock(*f2, t2.info, {}));
}

TEST(DataBlock, SpecialSymbols) {
  TVLDataInput in = Input(6022, CurrentOptions("mx"));
  in.symbols = {{5, 0x2000, 1}, {4, 0x10, 0}, {5, 0x3000, 0}};
  const struct {
    const char* what;
    std::uint16_t version;
    std::uint8_t id;
    bool found;
    std::uint32_t offset;
  } cases[] = {
      {"the first entry of an id", 6022, 5, true, 0x2000},
      {"another id", 6022, 4, true, 0x10},
      {"an absent id", 6022, 9, false, 0},
      {"a block of the 5xx layout", 550, 4, true, 0x10},
      {"a block without a table", 499, 4, false, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    TVLDataInput v = in;
    v.version = c.version;
    if (c.version < 6000) v.options = OldOptions(c.version < 500 ? 450 : 550);
    std::uint32_t offset = 0;
    EXPECT_EQ(FindDataBlockSymbol(MakeResourceBlock(v), c.id, offset), c.found);
    if (c.found) {
      EXPECT_EQ(offset, c.offset);
    }
  }
  // A table longer than the block, and a block that is not one.
  std::string block = MakeResourceBlock(in);
  std::uint32_t offset = 0;
  EXPECT_FALSE(FindDataBlockSymbol(block.substr(0, 16 + 4 + 9 + 2), 5, offset));
  EXPECT_FALSE(FindDataBlockSymbol(block.substr(0, 12), 5, offset));
  block[0] ^= 0x55;
  EXPECT_FALSE(FindDataBlockSymbol(block, 5, offset));
}

// A small mapped image with one section and an export directory of three
// names, listed out of address order.
struct ExportImage {
  std::vector<std::uint8_t> bytes = std::vector<std::uint8_t>(0x1000);
  void U16(std::size_t at, std::uint16_t v) { std::memcpy(&bytes[at], &v, 2); }
  void U32(std::size_t at, std::uint32_t v) { std::memcpy(&bytes[at], &v, 4); }
  static constexpr std::size_t kExports = 0x200, kFunctions = 0x240, kNames = 0x260, kOrdinals = 0x280;
  ExportImage() {
    U16(0, 0x5A4D);
    U32(0x3C, 0x80);
    U32(0x80, 0x00004550);
    U16(0x84 + 2, 1);     // one section
    U16(0x84 + 16, 224);  // optional header size
    const std::size_t opt = 0x98;
    U16(opt, 0x10B);
    U32(opt + 20, 0x100);  // code start
    U32(opt + 92, 16);     // directory count
    U32(opt + 96, kExports);
    U32(opt + 100, 0x100);
    const std::size_t section = opt + 224;
    U32(section + 8, 0x1000);  // virtual size
    U32(section + 12, 0);      // virtual address
    U32(kExports + 20, 3);     // functions
    U32(kExports + 24, 3);     // names
    U32(kExports + 28, kFunctions);
    U32(kExports + 32, kNames);
    U32(kExports + 36, kOrdinals);
    const std::uint32_t rvas[] = {0x900, 0x700, 0x800};
    const char* names[] = {"Third", "First", "Second"};
    for (std::uint32_t i = 0; i < 3; ++i) {
      U32(kFunctions + 4 * i, rvas[i]);
      U32(kNames + 4 * i, 0x300 + 0x10 * i);
      std::strcpy(reinterpret_cast<char*>(&bytes[0x300 + 0x10 * i]), names[i]);
      U16(kOrdinals + 2 * i, static_cast<std::uint16_t>(i));
    }
  }
};

// A sound table is listed sorted by address (the lookups search it in halves);
// a table with a lying entry lists nothing, not the entries before it unsorted.
TEST(ExportTable, SortedOrEmpty) {
  {
    ExportImage image;
    TOwned<TVantorFunctionsList> list(New<TVantorFunctionsList>());
    ASSERT_TRUE(ReadExportTableFromImage(image.bytes.data(), image.bytes.size(), 0x400000, *list, nullptr));
    ASSERT_EQ(list->Count(), 3);
    EXPECT_EQ(list->Items(0)->Name, "First");
    EXPECT_EQ(list->Items(1)->Name, "Second");
    EXPECT_EQ(list->Items(2)->Address, 0x400900u);
  }
  struct Lie {
    const char* what;
    std::size_t at;
    std::uint32_t value;
    bool word;
  };
  const Lie lies[] = {
      {"last name outside the image", ExportImage::kNames + 8, 0x5000, false},
      {"last ordinal past the functions", ExportImage::kOrdinals + 4, 7, true},
      {"functions table outside the image", ExportImage::kExports + 28, 0xFFFF0, false},
      {"Characteristics set", ExportImage::kExports, 1, false},
  };
  for (const Lie& lie : lies) {
    ExportImage image;
    if (lie.word)
      image.U16(lie.at, static_cast<std::uint16_t>(lie.value));
    else
      image.U32(lie.at, lie.value);
    TOwned<TVantorFunctionsList> list(New<TVantorFunctionsList>());
    EXPECT_FALSE(ReadExportTableFromImage(image.bytes.data(), image.bytes.size(), 0x400000, *list, nullptr))
        << lie.what;
    EXPECT_EQ(list->Count(), 0) << lie.what;
  }
}

}  // namespace
