#include "ResStrings.h"

#include <gtest/gtest.h>

#include <string>

namespace {

constexpr ModuleHandle kProgram = 0x400000;
constexpr ModuleHandle kLanguageLib = 0x10000000;
constexpr ModuleHandle kOtherLib = 0x20000000;

std::string Block(std::initializer_list<std::pair<unsigned, std::u16string>> entries) {
  std::u16string s[16];
  for (const auto& e : entries) s[e.first] = e.second;
  return MakeStringBlock(s, 16);
}

struct ResStringsTest : ::testing::Test {
  MemoryResourceSource source;
  void SetUp() override {
    SetResourceSource(&source);
    SetMainInstance(kProgram);
    ClearModuleList();
    RegisterModule(kProgram);
    RegisterModule(kOtherLib);
    // 65264 = 4079 * 16: block 4080, index 0.
    source.Add(kProgram, rtString, StringBlockId(65264), Block({{0, u"IMEI:"}, {2, u"Connection"}}));
    source.Add(kLanguageLib, rtString, StringBlockId(65264),
               Block({{0, u"IMEI (de):"}, {1, u"\u20ACuro \u00E4\u4E2D"}}));
    source.Add(kOtherLib, rtString, StringBlockId(17), Block({{1, u"other"}}));
  }
  void TearDown() override {
    ClearModuleList();
    SetResourceSource(nullptr);
    SetMainInstance(0);
  }
};

TEST_F(ResStringsTest, StringsFollowTheResourceInstanceOfTheirModule) {
  const ResString imei{65264};
  EXPECT_EQ(LoadResString(imei), "IMEI:");
  EXPECT_EQ(LoadResString({65266}), "Connection");
  EXPECT_EQ(LoadResString({65265}), "");  // an unused id in a present block
  EXPECT_EQ(LoadResString({100}), "");    // no block at all
  EXPECT_EQ(LoadResString({17, kOtherLib}), "other");

  ASSERT_EQ(SetModuleResourceInstance(kProgram, kLanguageLib), kProgram);
  EXPECT_EQ(FindResourceHInstance(kProgram), kLanguageLib);
  EXPECT_EQ(LoadResString(imei), "IMEI (de):");
  EXPECT_EQ(LoadResString({65265}), "\x80uro \xE4?");  // converted to ANSI
  EXPECT_EQ(LoadResStringW({65265}), u"\u20ACuro \u00E4\u4E2D");
  EXPECT_EQ(LoadResString({65266}), "");               // the library lacks it
  EXPECT_EQ(LoadResString({17, kOtherLib}), "other");  // other modules keep their own

  SetModuleResourceInstance(kProgram, kProgram);
  EXPECT_EQ(LoadResString(imei), "IMEI:");
  EXPECT_FALSE(SetModuleResourceInstance(0x1234, kLanguageLib).has_value());
  EXPECT_EQ(FindResourceHInstance(0x1234), 0x1234u);
}

// A string written with a native text gives the string table's text when the
// table has one (translated when a language library serves the program), and
// its native text when no table holds it.
TEST_F(ResStringsTest, TheNativeTextServesWhereNoTableHoldsTheString) {
  const struct {
    ResString rs;
    const char* text;
    const char16_t* wide;
  } cases[] = {
      {{65264, 0, "IMEI native"}, "IMEI:", u"IMEI:"},
      {{65265, 0, "Euro native"}, "Euro native", u"Euro native"},  // an unused id in a present block
      {{100, 0, "No block"}, "No block", u"No block"},
      {{18, kOtherLib, "Other native"}, "Other native", u"Other native"},
      {{100}, "", u""},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(LoadResString(c.rs), c.text) << c.rs.id;
    EXPECT_EQ(LoadResStringW(c.rs), c.wide) << c.rs.id;
  }
  SetModuleResourceInstance(kProgram, kLanguageLib);
  EXPECT_EQ(LoadResString({65264, 0, "IMEI native"}), "IMEI (de):");
  EXPECT_EQ(LoadResString({65266, 0, "Connection native"}), "Connection native") << "the library lacks it";
  SetModuleResourceInstance(kProgram, kProgram);
}

TEST_F(ResStringsTest, ResourceStreamReadsThroughTheResourceSource) {
  source.Add(kProgram, rtRcData, "TWIZARDFORM", "TPF0data");
  auto* s = New<TResourceStream>(FindResourceHInstance(kProgram), "twizardform", rtRcData);
  EXPECT_EQ(s->Size(), 8);
  char buf[4];
  s->ReadBuffer(buf, 4);
  EXPECT_EQ(std::string(buf, 4), "TPF0");
  EXPECT_THROW(s->WriteBuffer(buf, 1), EStreamError);
  s->Free();
  try {
    New<TResourceStream>(kProgram, "TMISSING", rtRcData);
    FAIL() << "no exception";
  } catch (const EResNotFound& e) {
    EXPECT_EQ(e.Message, "Resource TMISSING not found");
  }
}

TEST(StringBlockWalk, MalformedBlocksReadAsMissing) {
  const std::u16string two[2] = {u"ab", u"c"};
  const std::string good = MakeStringBlock(two, 2);
  EXPECT_EQ(StringBlockEntry(good, 0), u"ab");
  EXPECT_EQ(StringBlockEntry(good, 1), u"c");
  EXPECT_EQ(StringBlockEntry(good, 15), u"");
  EXPECT_FALSE(StringBlockEntry(good, 16).has_value());

  struct Case {
    const char* what;
    std::string block;
    unsigned index;
  } cases[] = {
      {"empty block", "", 0},
      {"odd length byte", std::string("\x01", 1), 0},
      {"length past the end",
       std::string("\x05\x00"
                   "a\0",
                   4),
       0},
      {"entry after a truncated one",
       std::string("\xFF\xFF"
                   "a\0",
                   4),
       1},
      {"block shorter than the index", std::string("\x00\x00", 2), 3},
  };
  for (const Case& c : cases) EXPECT_FALSE(StringBlockEntry(c.block, c.index).has_value()) << c.what;
}

}  // namespace
