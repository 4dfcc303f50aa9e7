// The help-context map: map files parsed into the sorted table, includes, the
// FileName writer and the "FileData" property in form data.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "FileApi.h"
#include "Filer.h"
#include "ObjectConvert.h"
#include "QhrContextMap.h"
#include "QhrHshTb.h"

namespace fs = std::filesystem;
using namespace std::string_literals;

namespace {

std::vector<std::pair<HelpMapMessageKind, std::string>> g_messages;

void RecordMessage(HelpMapMessageKind kind, const std::string& text) {
  g_messages.emplace_back(kind, text);
}

// Opens files through the default file interface and notes the current
// directory at every open.
class WatchingFileApi : public FileApi {
 public:
  explicit WatchingFileApi(FileApi& inner) : inner_(inner) {}
  std::vector<fs::path> cwdAtOpen;
  std::vector<std::string> opened;
  Handle Open(const std::string& name, unsigned mode, std::string& error) override {
    cwdAtOpen.push_back(fs::current_path());
    opened.push_back(name);
    return inner_.Open(name, mode, error);
  }
  void Close(Handle h) override { inner_.Close(h); }
  std::int64_t Read(Handle h, void* b, std::size_t n) override { return inner_.Read(h, b, n); }
  std::int64_t Write(Handle h, const void* b, std::size_t n) override { return inner_.Write(h, b, n); }
  std::int64_t Seek(Handle h, std::int64_t o, SeekOrigin s) override { return inner_.Seek(h, o, s); }
  bool SetSize(Handle h, std::int64_t s) override { return inner_.SetSize(h, s); }
  bool FileExists(const std::string& name) override { return inner_.FileExists(name); }
  bool DeleteFile(const std::string& name) override { return inner_.DeleteFile(name); }

 private:
  FileApi& inner_;
};

// A root that writes the components it owns.
class TMapForm : public TComponent {
  FW_CLASS(TMapForm, TComponent)
 public:
  using TComponent::TComponent;
  THelpContextMap* Map = nullptr;
  void GetChildren(const Method<void(TComponent*)>& proc, TComponent* root) override {
    if (root == this)
      for (int i = 0; i < ComponentCount(); ++i) proc(Components(i));
  }
};

using Records = std::vector<std::pair<std::string, std::int32_t>>;

// The records as the table must hold them: hashed and sorted by hash.
std::vector<THelpMapEntry> Expected(const Records& records) {
  std::vector<THelpMapEntry> out;
  for (const auto& [name, context] : records) out.push_back({HashHelpName(name), context});
  std::stable_sort(out.begin(), out.end(), [](auto& a, auto& b) { return a.Hash < b.Hash; });
  return out;
}

std::vector<THelpMapEntry> TableOf(const THelpContextMap& map) {
  std::vector<THelpMapEntry> out;
  for (int i = 0; i < map.Count(); ++i) out.push_back(map.Entry(i));
  return out;
}

}  // namespace

FW_BEGIN_CLASS(TMapForm)
  FW_FIELD(Map)
FW_END_CLASS

class HelpContextMap : public ::testing::Test {
 protected:
  void SetUp() override {
    InitQhrContextMap();
    RegisterClass(TMapForm::StaticClass());
    dir_ = fs::temp_directory_path() / ("qhrmap-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) +
                                        "-" + ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir_);
    fs::create_directories(dir_);
    g_messages.clear();
    HelpMapMessage = &RecordMessage;
  }
  void TearDown() override {
    HelpMapMessage = previousMessage_;
    SetFileApi(nullptr);
    UnRegisterClass(TMapForm::StaticClass());
    std::error_code ec;
    fs::remove_all(dir_, ec);
  }
  std::string Write(const std::string& name, const std::string& bytes) {
    fs::path p = dir_ / name;
    fs::create_directories(p.parent_path());
    std::ofstream(p, std::ios::binary) << bytes;
    return p.string();
  }
  std::vector<THelpMapEntry> Parse(const std::string& path) {
    TOwned<THelpContextMap> map(New<THelpContextMap>(nullptr));
    map->SetFileName(path);
    EXPECT_EQ(map->GetFileName(), path);
    return TableOf(*map);
  }
  fs::path dir_;
  HelpMapMessageFunc previousMessage_ = HelpMapMessage;
};

TEST_F(HelpContextMap, MapSectionsAndLines) {
  struct Case {
    const char* what;
    std::string text;
    Records records;
  } cases[] = {
      {"the example project",
       "[MAP]\r\n#define IDH_A 10\r\nIDH_B=1a\r\nIDH_C $14\r\n; a comment\r\n[END]\r\nIDH_D 4\r\n",
       {{"IDH_A", 10}, {"IDH_C", 20}}},
      {"lines before [MAP] and a blank line ending it",
       "IDH_X 1\n[MAP]\nIDH_A 1\n\nIDH_B 2\n[MAP]\nIDH_C 3\n",
       {{"IDH_A", 1}, {"IDH_C", 3}}},
      {"[MAP] is case-sensitive", "[map]\nIDH_A 1\n", {}},
      {"blanks never kept",
       "[MAP]\nIDH_A 1 2\n  IDH_B\t\t7  \nIDH_C = 3 0\n",
       {{"IDH_A", 12}, {"IDH_B", 7}, {"IDH_C", 30}}},
      {"comments and dropped lines",
       "[MAP]\nIDH_A 5 ; five\nIDH_B 6#six\n#if X\nIDH_C\nIDH_D x\n=4\nIDH_E 99999999999\n",
       {{"IDH_A", 5}, {"IDH_B", 6}}},
      {"#define with blanks and a name of NUL bytes",
       "[MAP]\n#define    IDH_A  0x10\n#define \0\0 7\nIDH_\0B 8\n"s,
       {{"IDH_A", 16}, {"IDH_\0B"s, 8}}},
      {"line ends CR, LF, CR LF and none at the end",
       "[MAP]\rIDH_A 1\nIDH_B 2\r\nIDH_C 3",
       {{"IDH_A", 1}, {"IDH_B", 2}, {"IDH_C", 3}}},
      {"negative and hexadecimal values", "[MAP]\nIDH_A -3\nIDH_B $FFFFFFFF\n", {{"IDH_A", -3}, {"IDH_B", -1}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(Parse(Write("map.h", c.text)), Expected(c.records));
  }
  EXPECT_TRUE(g_messages.empty());
}

TEST_F(HelpContextMap, TheTableIsSortedBySignedHash) {
  std::string text = "[MAP]\n";
  Records records;
  for (const char* name : {"ZZZZZZZZZ", "A", "_ZZZZZZ", "abc", "IDH_Z", "IDH_A"}) {
    text += std::string(name) + " " + std::to_string(records.size()) + "\n";
    records.emplace_back(name, static_cast<std::int32_t>(records.size()));
  }
  std::vector<THelpMapEntry> table = Parse(Write("map.h", text));
  ASSERT_EQ(table.size(), records.size());
  EXPECT_LT(table.front().Hash, 0) << "negative hashes come first";
  EXPECT_TRUE(std::is_sorted(table.begin(), table.end(), [](auto& a, auto& b) { return a.Hash < b.Hash; }));
  EXPECT_EQ(CompareMapEntries({-5, 0}, {3, 0}), -1);
  EXPECT_EQ(CompareMapEntries({3, 0}, {-5, 0}), 1);
  EXPECT_EQ(CompareMapEntries({3, 1}, {3, 2}), 0);
}

TEST_F(HelpContextMap, IncludesAreReadBesideTheIncludingFileWithoutChangingTheDirectory) {
  Write("sub/inner.h", "IDH_INNER 2\n[END]\nIDH_AFTER_END 3\n");
  Write("sub/deeper/last.h", "#define IDH_LAST 4\n");
  Write("sub/middle.h", "#include inner.h\n#include deeper/last.h\nIDH_MIDDLE 5\n");
  std::string main = Write("help/main.hhp", "[MAP]\nIDH_MAIN 1\n#include ../sub/middle.h\nIDH_TAIL 6\n");
  fs::path cwd = fs::current_path();
  WatchingFileApi watching(GetFileApi());
  SetFileApi(&watching);
  EXPECT_EQ(Parse(main),
            Expected({{"IDH_MAIN", 1}, {"IDH_INNER", 2}, {"IDH_LAST", 4}, {"IDH_MIDDLE", 5}, {"IDH_TAIL", 6}}));
  EXPECT_EQ(fs::current_path(), cwd);
  ASSERT_EQ(watching.opened.size(), 4u);
  for (const fs::path& p : watching.cwdAtOpen)
    EXPECT_EQ(p, cwd) << "the directory never changes, not even while reading";
  EXPECT_EQ(fs::path(watching.opened[1]), dir_ / "sub" / "middle.h");
  EXPECT_TRUE(g_messages.empty());
}

TEST_F(HelpContextMap, IncludesThatAreMissingCyclicOrTooDeepAreSkippedWithOneMessageEach) {
  struct Case {
    const char* what;
    std::vector<std::pair<std::string, std::string>> files;  // the first is the main file
    std::vector<std::string> messages;
    Records records;
  } cases[] = {
      {"missing",
       {{"a.h", "[MAP]\n#include nothere.h\nIDH_A 1\n"}},
       {"Include file \"@/nothere.h\" not found!"},
       {{"IDH_A", 1}}},
      {"self",
       {{"a.h", "[MAP]\nIDH_A 1\n#include a.h\nIDH_B 2\n"}},
       {"Include file \"@/a.h\" is already being read!"},
       {{"IDH_A", 1}, {"IDH_B", 2}}},
      {"two files",
       {{"a.h", "[MAP]\n#include b.h\nIDH_A 1\n"}, {"b.h", "IDH_B 2\n#include ./a.h\n"}},
       {"Include file \"@/a.h\" is already being read!"},
       {{"IDH_B", 2}, {"IDH_A", 1}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    g_messages.clear();
    std::string main;
    for (const auto& [name, text] : c.files) {
      std::string path = Write(name, text);
      if (main.empty()) main = path;
    }
    EXPECT_EQ(Parse(main), Expected(c.records));
    std::vector<std::string> texts;
    for (const auto& [kind, text] : g_messages) {
      EXPECT_EQ(kind, HelpMapMessageKind::Error);
      std::string t = text;
      std::string folder = dir_.string();
      if (auto at = t.find(folder); at != std::string::npos) t.replace(at, folder.size(), "@");
      std::replace(t.begin(), t.end(), '\\', '/');
      texts.push_back(t);
    }
    EXPECT_EQ(texts, c.messages);
  }

  // A chain of distinct files stops at the depth limit.
  g_messages.clear();
  const int files = MaxMapIncludeDepth + 4;
  for (int i = 0; i < files; ++i)
    Write("n" + std::to_string(i) + ".h", (i == 0 ? "[MAP]\n" : "") + std::string("IDH_N") + std::to_string(i) + " " +
                                              std::to_string(i) + "\n#include n" + std::to_string(i + 1) + ".h\n");
  std::vector<THelpMapEntry> table = Parse((dir_ / "n0.h").string());
  EXPECT_EQ(table.size(), static_cast<std::size_t>(MaxMapIncludeDepth + 1));
  ASSERT_EQ(g_messages.size(), 1u);
  EXPECT_NE(g_messages[0].second.find("nested too deeply"), std::string::npos) << g_messages[0].second;

  // Files that include one another many times over stop at the limit of include files read.
  g_messages.clear();
  std::string includeC, includeB;
  for (int i = 0; i < 70; ++i) {
    includeC += "#include c.h\n";
    includeB += "#include b.h\n";
  }
  Write("c.h", "IDH_C 3\n");
  Write("b.h", includeC + "IDH_B 2\n");
  table = Parse(Write("a.h", "[MAP]\nIDH_A 1\n" + includeB));
  EXPECT_EQ(table.size(), static_cast<std::size_t>(MaxMapIncludeFiles + 1));
  ASSERT_EQ(g_messages.size(), 1u);
  EXPECT_NE(g_messages[0].second.find("one too many"), std::string::npos) << g_messages[0].second;
}

TEST_F(HelpContextMap, TheFileNameWriter) {
  TOwned<THelpContextMap> map(New<THelpContextMap>(nullptr));
  std::string good = Write("good.h", "[MAP]\nIDH_A 1\nIDH_B 2\n");
  map->SetFileName(good);
  ASSERT_EQ(map->Count(), 2);
  EXPECT_TRUE(g_messages.empty()) << "the information box is shown at design time only";

  // A missing file raises, keeps the table and the old name.
  std::string missing = (dir_ / "missing.h").string();
  try {
    map->SetFileName(missing);
    ADD_FAILURE() << "no error";
  } catch (const Exception& e) {
    EXPECT_EQ(e.Message, "File " + missing + " not found.");
  }
  EXPECT_EQ(map->GetFileName(), good);
  EXPECT_EQ(map->Count(), 2);

  // An empty name is kept and leaves the table.
  map->SetFileName("");
  EXPECT_EQ(map->GetFileName(), "");
  EXPECT_EQ(map->Count(), 2);

  // While loading or reading nothing is parsed, not even a missing file.
  for (TComponentStateItem state : {csLoading, csReading}) {
    map->SetState(state, true);
    map->SetFileName(missing);
    EXPECT_EQ(map->GetFileName(), missing);
    EXPECT_EQ(map->Count(), 2);
    map->SetState(state, false);
  }

  // A file that fails while it is read raises the I/O error; the table stays.
  struct FailingRead : WatchingFileApi {
    using WatchingFileApi::WatchingFileApi;
    std::int64_t Read(Handle, void*, std::size_t) override { return -1; }
  } failing(GetFileApi());
  SetFileApi(&failing);
  EXPECT_THROW(map->SetFileName(good), EInOutError);
  SetFileApi(nullptr);
  EXPECT_EQ(map->Count(), 2);
  EXPECT_EQ(map->GetFileName(), missing) << "the name of the failed file is not kept";

  // A folder is no file.
  EXPECT_THROW(map->SetFileName(dir_.string()), Exception);
  EXPECT_EQ(map->Count(), 2);

  // At design time the count is told.
  map->SetDesigning(true);
  map->SetFileName(Write("three.h", "[MAP]\nIDH_A 1\nIDH_B 2\nIDH_C 3\n"));
  EXPECT_EQ(map->Count(), 3);
  ASSERT_EQ(g_messages.size(), 1u);
  EXPECT_EQ(g_messages[0].first, HelpMapMessageKind::Information);
  EXPECT_EQ(g_messages[0].second, "Help context list updated. 3 items stored.");
}

TEST_F(HelpContextMap, FileDataRoundTripsThroughFormData) {
  auto writeForm = [](TMapForm* form) {
    TOwned<TMemoryStream> m(New<TMemoryStream>());
    TOwned<TWriter> w(New<TWriter>(*m));
    w->WriteRootComponent(form);
    w.reset();
    return m->DataString();
  };

  TOwned<TMapForm> form(New<TMapForm>(nullptr));
  form->SetName("Form1");
  THelpContextMap* map = New<THelpContextMap>(form.get());
  map->SetName("Map");
  std::string empty = writeForm(form.get());
  EXPECT_EQ(ObjectBinaryToText(empty).find("FileData"), std::string::npos) << "an empty table writes no FileData";

  map->SetFileName(Write("map.h", "[MAP]\nIDH_A 10\nIDH_C $14\n"));
  std::string full = writeForm(form.get());
  std::string text = ObjectBinaryToText(full);
  EXPECT_NE(text.find("FileData"), std::string::npos) << text;

  TOwned<TMapForm> copy(New<TMapForm>(nullptr));
  ReadComponentData(full.data(), full.size(), copy.get());
  ASSERT_NE(copy->Map, nullptr);
  EXPECT_EQ(TableOf(*copy->Map), Expected({{"IDH_A", 10}, {"IDH_C", 20}}));
  EXPECT_EQ(copy->Map->GetFileName(), map->GetFileName()) << "the name is kept, the file not read again";
  EXPECT_EQ(writeForm(copy.get()), full);

  TOwned<TMapForm> none(New<TMapForm>(nullptr));
  ReadComponentData(empty.data(), empty.size(), none.get());
  ASSERT_NE(none->Map, nullptr);
  EXPECT_EQ(none->Map->Count(), 0);
}

TEST_F(HelpContextMap, FileDataOfBadLength) {
  TOwned<THelpContextMap> map(New<THelpContextMap>(nullptr));
  struct Case {
    std::string bytes;
    bool ok;
    int count;
  } cases[] = {
      {"\x08\0\0\0\x01\0\0\0\x02\0\0\0"s, true, 1},
      {"\0\0\0\0"s, true, 0},
      {"\0\0\0\0trailing"s, true, 0},
      {"\x08\0\0\0\x01\0\0\0\x02\0\0"s, false, 0},
      {"\xFF\xFF\xFF\xFF\x01"s, false, 0},
      {"\x01\0"s, false, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.bytes));
    TOwned<TStringStream> s(New<TStringStream>(c.bytes));
    if (c.ok)
      EXPECT_NO_THROW(map->LoadFileData(*s));
    else
      EXPECT_THROW(map->LoadFileData(*s), EReadError);
    EXPECT_EQ(map->Count(), c.count);
  }

  // Stored: the byte length, then the records as they are.
  const std::string records = "\xF0\xFF\xFF\xFF\x0A\0\0\0\x11\0\0\0\x14\0\0\0"s;
  TOwned<TStringStream> in(New<TStringStream>("\x10\0\0\0"s + records));
  map->LoadFileData(*in);
  EXPECT_EQ(TableOf(*map), (std::vector<THelpMapEntry>{{-16, 10}, {17, 20}}));
  TOwned<TStringStream> out(New<TStringStream>());
  map->StoreFileData(*out);
  EXPECT_EQ(out->DataString(), "\x10\0\0\0"s + records);
}

TEST_F(HelpContextMap, BinaryFilesGiveAnEmptyTable) {
  std::mt19937 random(7);
  std::string noise(2 << 20, '\0');
  for (char& b : noise) b = static_cast<char>(random());
  struct Case {
    const char* what;
    std::string bytes;
  } cases[] = {
      {"NUL bytes", std::string(1 << 20, '\0')},
      {"one long line", std::string(4 << 20, 'x')},
      {"random bytes", noise},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_TRUE(Parse(Write("data.bin", c.bytes)).empty());
  }
#ifdef PELLORY_TEST_CHM
  EXPECT_TRUE(Parse(PELLORY_TEST_CHM).empty()) << "the compiled help file parsed as a map";
#endif
  EXPECT_TRUE(g_messages.empty());
}
