// The clipboard format registry: priorities, class ancestry, descriptions.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "VirtualTrees.h"

namespace {

class TFakeBaseTree : public TObject {
  FW_CLASS(TFakeBaseTree, TObject)
};
class TFakeStringTree : public TFakeBaseTree {
  FW_CLASS(TFakeStringTree, TFakeBaseTree)
};
class TFakeDerivedStringTree : public TFakeStringTree {
  FW_CLASS(TFakeDerivedStringTree, TFakeStringTree)
};
class TFakeOther : public TObject {
  FW_CLASS(TFakeOther, TObject)
};

}  // namespace

FW_IMPLEMENT_CLASS(TFakeBaseTree)
FW_IMPLEMENT_CLASS(TFakeStringTree)
FW_IMPLEMENT_CLASS(TFakeDerivedStringTree)
FW_IMPLEMENT_CLASS(TFakeOther)

namespace {

// Ids from 0xC000 up, as the system gives them; a name listed in `refused` is refused.
class FakeFormatApi : public ClipboardFormatApi {
 public:
  std::uint16_t Register(const std::string& name) override {
    if (name == refused) return 0;
    auto it = ids.find(name);
    if (it != ids.end()) return it->second;
    const auto id = static_cast<std::uint16_t>(0xC000 + ids.size());
    ids[name] = id;
    return id;
  }
  std::string Name(std::uint16_t id) override {
    for (const auto& [name, known] : ids)
      if (known == id) return name;
    return {};
  }
  std::map<std::string, std::uint16_t> ids;
  std::string refused;
};

class ClipboardFormatsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SetClipboardFormatApi(&api);
    CreateClipboardFormats();
  }
  void TearDown() override {
    FreeClipboardFormats();
    ForgetVirtualTreeFormats();
    SetClipboardFormatApi(nullptr);
  }
  std::vector<std::string> Descriptions(const std::vector<TFormatEtc>& formats) {
    std::vector<std::string> out;
    for (const TFormatEtc& f : formats) {
      if (f.cfFormat == 1 || f.cfFormat == 13) {
        out.push_back(f.cfFormat == 1 ? "CF_TEXT" : "CF_UNICODETEXT");
        continue;
      }
      out.push_back(api.Name(f.cfFormat));
    }
    return out;
  }
  FakeFormatApi api;
};

TEST_F(ClipboardFormatsTest, EachClassGetsItsOwnAndItsAncestorsFormatsInPriorityOrder) {
  RegisterVirtualTreeFormats(TFakeBaseTree::StaticClass(), TFakeStringTree::StaticClass());
  const std::vector<std::string> stringTree = {
      "Virtual Tree Data", "HTML Format", "Rich Text Format Without Objects", "Rich Text Format", "CSV",
      "CF_UNICODETEXT",    "CF_TEXT"};
  struct Case {
    const ClassInfo* cls;
    std::vector<std::string> expected;
  } cases[] = {
      {&TFakeStringTree::StaticClass(), stringTree},
      {&TFakeDerivedStringTree::StaticClass(), stringTree},
      {&TFakeBaseTree::StaticClass(), {"Virtual Tree Data"}},
      {&TFakeOther::StaticClass(), {}},
  };
  for (const Case& c : cases)
    EXPECT_EQ(Descriptions(ClipboardFormats()->CollectFormatsForClass(*c.cls)), c.expected) << c.cls->Name();

  // The records: registered ids, content aspect, every index, global memory.
  const std::vector<TFormatEtc> formats = ClipboardFormats()->CollectFormatsForClass(TFakeStringTree::StaticClass());
  ASSERT_EQ(formats.size(), 7u);
  EXPECT_EQ(formats[0], (TFormatEtc{CF_VIRTUALTREE, nullptr, 1, -1, 1}));
  EXPECT_EQ(formats[4].cfFormat, CF_CSV);
  EXPECT_EQ(formats[6], (TFormatEtc{1, nullptr, 1, -1, 1}));
  EXPECT_NE(CF_HTML, 0);
  EXPECT_NE(CF_VRTF, CF_VRTFNOOBJS);
  // The predefined formats carry the table's descriptions.
  EXPECT_EQ(ClipboardFormats()->FindByDescription("unicode text")->FormatEtc.cfFormat, 13);
  EXPECT_EQ(ClipboardFormats()->FindByDescription("Plain Text")->FormatEtc.cfFormat, 1);
}

TEST_F(ClipboardFormatsTest, FindByDescriptionIgnoresCaseAndPrefersTheHigherPriorityValue) {
  RegisterVirtualTreeFormats(TFakeBaseTree::StaticClass(), TFakeStringTree::StaticClass());
  std::uint16_t id = 0;
  EXPECT_EQ(ClipboardFormats()->FindByDescription("csv", id), &TFakeStringTree::StaticClass());
  EXPECT_EQ(id, CF_CSV);

  TClipboardFormatList* list = ClipboardFormats();
  list->Add("Twin", &TFakeOther::StaticClass(), 10, TFormatEtc{0x100});
  list->Add("twin", &TFakeBaseTree::StaticClass(), 200, TFormatEtc{0x200});
  list->Add("TWIN", &TFakeStringTree::StaticClass(), 60, TFormatEtc{0x300});
  id = 0;
  EXPECT_EQ(list->FindByDescription("Twin", id), &TFakeBaseTree::StaticClass());
  EXPECT_EQ(id, 0x200);

  id = 7;
  EXPECT_EQ(list->FindByDescription("No such format", id), nullptr);
  EXPECT_EQ(id, 7) << "a failed search leaves the id alone";
  EXPECT_EQ(list->FindByDescription(""), nullptr);
}

TEST_F(ClipboardFormatsTest, EntriesStaySortedByPriorityWhateverTheOrderOfAdding) {
  TClipboardFormatList* list = ClipboardFormats();
  const int priorities[] = {90, 10, 50, 50, -5, 1000, 0, 49};
  for (int p : priorities) list->Add("P" + std::to_string(p), &TFakeBaseTree::StaticClass(), p, TFormatEtc{});
  ASSERT_EQ(list->Count(), std::size(priorities));
  for (std::size_t i = 1; i < list->Count(); ++i) EXPECT_LE(list->Item(i - 1).Priority, list->Item(i).Priority);
  list->Clear();
  EXPECT_EQ(list->Count(), 0u);
  EXPECT_TRUE(list->CollectFormatsForClass(TFakeBaseTree::StaticClass()).empty());
}

TEST_F(ClipboardFormatsTest, PredefinedFormatsTakeTheTableOrTheSystemsName) {
  const std::uint16_t custom = api.Register("Private Format");
  struct Case {
    std::uint16_t id;
    bool added;
    std::string description;
  } cases[] = {
      {1, true, "Plain text"},
      {2, true, "Windows bitmap"},
      {8, true, "DIB image"},
      {13, true, "Unicode text"},
      {15, true, "File name(s)"},
      {16, true, "Locale descriptor"},
      {0, false, ""},
      {custom, true, "Private Format"},
      {0xC777, true, ""},
  };
  for (const Case& c : cases) {
    const std::size_t before = ClipboardFormats()->Count();
    RegisterPredefinedClipboardFormat(c.id, &TFakeBaseTree::StaticClass(), 100);
    ASSERT_EQ(ClipboardFormats()->Count(), before + (c.added ? 1 : 0)) << c.id;
    if (!c.added) continue;
    const TClipboardFormatEntry* e = nullptr;
    for (std::size_t i = 0; i < ClipboardFormats()->Count(); ++i)
      if (ClipboardFormats()->Item(i).FormatEtc.cfFormat == c.id) e = &ClipboardFormats()->Item(i);
    ASSERT_NE(e, nullptr);
    EXPECT_EQ(e->Description, c.description) << c.id;
    EXPECT_EQ(e->FormatEtc, (TFormatEtc{c.id, nullptr, 1, -1, 1}));
  }
  EXPECT_STREQ(PredefinedFormatDescription(11), "Riff audio data");
  EXPECT_EQ(PredefinedFormatDescription(17), nullptr);
}

TEST_F(ClipboardFormatsTest, ARefusedNameAddsNothingAndNoListOrRegistryRegistersNothing) {
  api.refused = "CSV";
  RegisterVirtualTreeFormats(TFakeBaseTree::StaticClass(), TFakeStringTree::StaticClass());
  EXPECT_EQ(CF_CSV, 0);
  EXPECT_EQ(ClipboardFormats()->FindByDescription("CSV"), nullptr);
  EXPECT_EQ(ClipboardFormats()->Count(), 6u);

  FreeClipboardFormats();
  EXPECT_EQ(RegisterCustomClipboardFormat("Late", &TFakeBaseTree::StaticClass(), 1), 0);
  RegisterPredefinedClipboardFormat(1, &TFakeBaseTree::StaticClass(), 1);
  CreateClipboardFormats();
  SetClipboardFormatApi(nullptr);
  EXPECT_EQ(RegisterCustomClipboardFormat("No registry", &TFakeBaseTree::StaticClass(), 1), 0);
  EXPECT_EQ(ClipboardFormats()->Count(), 0u);
}

}  // namespace
