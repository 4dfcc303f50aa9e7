#include "ResProc.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <memory>

#include "ByteReader.h"
#include "LocFixtures.h"
#include "PEReader.h"
#include "Streams.h"

namespace {

using TProcessorPtr = TOwned<TResProcessor>;
using TReaderPtr = TOwned<TPEReader>;

TProcessorPtr NewProcessor() {
  TProcessorPtr p(New<TResProcessor>());
  p->TimeStamp = 0x12345678;
  return p;
}

TProcessorPtr Load(const std::string& image) {
  TProcessorPtr p = NewProcessor();
  p->LoadFromPEImage(image);
  return p;
}

TResString* AddStrings(TResProcessor* p) {
  TResString* s = New<TResString>(p);
  p->AddBlock(s);
  return s;
}
TResRCData* AddRCData(TResProcessor* p) {
  TResRCData* r = New<TResRCData>(p);
  p->AddBlock(r);
  return r;
}

// The strings of a processor as "id=text" lines, and its RCDATA items as "name[#]=data" lines.
std::string Dump(TResProcessor* p) {
  std::string out;
  if (TResString* s = p->Strings())
    for (int i = 0; i < s->StringCount(); ++i) {
      out += std::to_string(s->GetString(i)->ID) + "=";
      for (char16_t c : s->GetString(i)->Text) out += static_cast<char>(c);
      out += "\n";
    }
  if (TResRCData* r = p->RCData())
    for (int i = 0; i < r->GetCount(); ++i)
      out += r->GetItem(i)->GetName() + (r->GetItem(i)->Numbered() ? "#" : "") + "=" +
             std::to_string(r->GetItem(i)->Data().size()) + "\n";
  return out;
}

std::uint32_t U32(const std::string& image, std::size_t at) {
  return ByteReader(image).U32LEAt(at);
}

TEST(ResProc, AlignUpAndTimeStamps) {
  EXPECT_EQ(AlignUp(0, 512), 0u);
  EXPECT_EQ(AlignUp(512, 512), 512u);
  EXPECT_EQ(AlignUp(513, 512), 1024u);
  EXPECT_EQ(PEUnixTime(1969, 12, 31, 16, 0, 0, 0), 0u);
  EXPECT_EQ(PEUnixTime(1970, 1, 1, 0, 0, 0, 0), 28800u);
  EXPECT_EQ(PEUnixTime(1970, 1, 1, 0, 0, 1, 499), 28801u);
  EXPECT_EQ(PEUnixTime(1970, 1, 1, 0, 0, 1, 500), 28802u);
  EXPECT_EQ(PEUnixTime(2001, 9, 9, 1, 46, 40, 0), 1000000000u + 28800u);
}

TEST(ResProc, EmptyProcessorWritesTheSmallestLibrary) {
  TProcessorPtr p = NewProcessor();
  EXPECT_EQ(p->GetSectionSize(), 16u);
  std::string image = p->ResourceDLLImage();
  ASSERT_EQ(image.size(), 1536u);
  EXPECT_EQ(image.substr(0, 2), "MZ");
  EXPECT_EQ(U32(image, 60), 0x100u);
  EXPECT_EQ(image.substr(80, 36), "This program must be run under Win32");
  EXPECT_EQ(image.substr(256, 4), std::string("PE\0\0", 4));
  EXPECT_EQ(U32(image, 264), 0x12345678u);
  EXPECT_EQ(U32(image, 336), 0x3000u);  // the image covers its section
  EXPECT_EQ(U32(image, 340), 1024u);
  EXPECT_EQ(U32(image, 392), 0x2000u);
  EXPECT_EQ(U32(image, 396), 512u);
  EXPECT_EQ(image.substr(504, 8), std::string(".rsrc\0\0\0", 8));
  EXPECT_EQ(U32(image, 512), 16u);
  EXPECT_EQ(U32(image, 520), 512u);
  EXPECT_EQ(U32(image, 524), 1024u);
  EXPECT_EQ(U32(image, 540), 0x40000000u);
  EXPECT_EQ(U32(image, 1024 + 4), 0x12345678u);
  EXPECT_EQ(U32(image, 1024 + 12), 0u);  // no entries
  TReaderPtr r(TPEReader::FromImage(image));
  EXPECT_EQ(r->GetResources()->Count(), 0);
}

TEST(ResProc, SizeOfImageCoversALargeSection) {
  TProcessorPtr p = NewProcessor();
  AddRCData(p.get())->AddItem("BIG", false)->SetData(std::string(10000, 'x'));
  std::uint32_t s = p->GetSectionSize();
  std::string image = p->ResourceDLLImage();
  EXPECT_EQ(image.size(), 1024u + AlignUp(s, 512));
  EXPECT_EQ(U32(image, 336), 0x2000u + AlignUp(s, 0x1000));
  EXPECT_GE(U32(image, 336), U32(image, 516) + U32(image, 512));
}

TEST(ResProc, SectionOfExactly512BytesIsNotPadded) {
  TProcessorPtr p = NewProcessor();
  // 16 + 8 (root) + 16 + 48 (one numbered item) + data = 512.
  AddRCData(p.get())->AddItem("7", true)->SetData(std::string(424, 'd'));
  EXPECT_EQ(p->GetSectionSize(), 512u);
  EXPECT_EQ(p->ResourceDLLImage().size(), 1536u);
}

TEST(ResProc, StringIdentifiersFallIntoOrderedGroups) {
  TProcessorPtr p = NewProcessor();
  TResString* s = AddStrings(p.get());
  EXPECT_EQ(s->AddString(17, u"seventeen"), 0);
  EXPECT_EQ(s->AddString(0, u"zero"), 0);
  EXPECT_EQ(s->AddString(17, u"again"), -1);
  EXPECT_EQ(s->AddString(-1, u"negative"), -1);
  EXPECT_EQ(s->AddString(65536, u"too large"), -1);
  ASSERT_EQ(s->GetCount(), 2);
  EXPECT_EQ(s->GetGroup(0)->GroupID(), 1);
  EXPECT_EQ(s->GetGroup(0)->Slot(0), 0);
  EXPECT_EQ(s->GetGroup(1)->GroupID(), 2);
  EXPECT_EQ(s->GetGroup(1)->Slot(1), 17);
  EXPECT_EQ(s->GetGroup(1)->Slot(0), -1);
  EXPECT_EQ(s->GetGroup(0)->DataSize(), 2u * 16 + 2 * 4);
  EXPECT_EQ(s->FindString(17)->Text, u"seventeen");
  EXPECT_EQ(s->FindString(5), nullptr);
  EXPECT_EQ(s->IndexOfID(17), 1);
  EXPECT_EQ(s->IndexOfID(3), -1);
  EXPECT_EQ(s->GetString(2), nullptr);
  EXPECT_EQ(s->GetGroup(-1), nullptr);

  std::string image = p->ResourceDLLImage();
  TReaderPtr r(TPEReader::FromImage(image));
  TPEResourceList* groups = r->GetResources()->Item(0)->GetList();
  ASSERT_EQ(groups->Count(), 2);
  EXPECT_EQ(groups->Item(0)->GetName(), "1");
  std::string_view g1 = groups->Item(0)->GetDataView();
  ASSERT_EQ(g1.size(), 40u);
  EXPECT_EQ(g1.substr(0, 2), std::string_view("\x04\x00", 2));
  EXPECT_EQ(g1.substr(10), std::string(30, '\0'));
  EXPECT_EQ(Dump(Load(image).get()), "0=zero\n17=seventeen\n");
}

TEST(ResProc, FixtureLibraryGoesThroughReaderAndWriter) {
  for (const std::string& fixture : {LocFixture32(), LocFixture64()}) {
    TProcessorPtr p = Load(fixture);
    const std::string expected =
        "0=zero\n17=seventeen\n65264=IMEI:\n65265=ESN:\n65295=Next >\n"
        "MIXED_CASE=1\nTWIZARDFORM=29\nWQM_LIBSETTINGS_=44\n300#=8\n";
    EXPECT_EQ(Dump(p.get()), expected);
    std::string written = p->ResourceDLLImage();
    EXPECT_EQ(written.size(), 1024u + AlignUp(p->GetSectionSize(), 512));
    TProcessorPtr again = Load(written);
    EXPECT_EQ(Dump(again.get()), expected);
    EXPECT_EQ(again->RCData()->FindItem("twizardform")->Data(), p->RCData()->FindItem("TWIZARDFORM")->Data());
    EXPECT_EQ(again->ResourceDLLImage(), written);
  }
}

TEST(ResProc, WritesDirectoriesSortedForTheLoadersSearch) {
  TProcessorPtr p = NewProcessor();
  TResRCData* r = AddRCData(p.get());  // added before the strings: the root is still sorted
  for (auto [name, numbered] : std::initializer_list<std::pair<const char*, bool>>{
           {"b", false}, {"300", true}, {"A_", false}, {"AB", false}, {"5", true}, {"WQM_X", false}})
    r->AddItem(name, numbered)->SetData(name);
  AddStrings(p.get())->AddString(100, u"x");
  std::string image = p->ResourceDLLImage();

  TReaderPtr reader(TPEReader::FromImage(image));
  TPEResourceList* root = reader->GetResources();
  ASSERT_EQ(root->Count(), 2);
  EXPECT_EQ(root->Item(0)->GetName(), "String");
  EXPECT_EQ(root->Item(1)->GetName(), "RCData");
  TPEResourceList* items = root->Item(1)->GetList();
  std::string order;
  for (int i = 0; i < items->Count(); ++i)
    order += items->Item(i)->GetName() + "=" + std::string(items->Item(i)->GetDataView()) + " ";
  // Upper-cased UTF-16 order: "AB" < "A_" ('B' 0x42 < '_' 0x5F) < "B" < "WQM_X", then 5 and 300.
  EXPECT_EQ(order, "AB=AB A_=A_ B=b WQM_X=WQM_X 5=5 300=300 ");  // names stored upper-cased
  const ByteReader& rsrc = reader->ResourceSection();
  std::uint32_t dir = root->Item(1)->OffsetField() & 0x7FFFFFFF;
  EXPECT_EQ(rsrc.U16LEAt(dir + 12), 4u);
  EXPECT_EQ(rsrc.U16LEAt(dir + 14), 2u);
  // Names start right after the data entries; data addresses are section offsets plus 0x2000.
  EXPECT_EQ(items->Item(0)->NameField() & 0x7FFFFFFF, dir + 16 + 48 * 6);
  const std::uint32_t names = (2 + 4) + (2 + 4) + (2 + 2) + (2 + 10);
  EXPECT_EQ(items->Item(0)->GetData(), reader->ResourceBase() + dir + 16 + 48 * 6 + names);
  // The item list itself keeps the order of adding.
  EXPECT_EQ(r->GetItem(0)->GetName(), "b");
}

TEST(ResProc, StringWalkStaysInsideTheDataAndSkipsNamedBlocks) {
  TProcessorPtr p = NewProcessor();
  TResString* s = AddStrings(p.get());
  s->AddString(16, u"first");
  s->AddString(17, u"second");
  s->AddString(40, u"other");
  AddRCData(p.get())->AddItem("NAME", false)->SetData("n");
  std::string image = p->ResourceDLLImage();
  TReaderPtr reader(TPEReader::FromImage(image));
  TPEResourceList* groups = reader->GetResources()->Item(0)->GetList();
  const std::uint32_t base = 1024;
  // Cut group 2's data inside its second entry.
  std::uint32_t lang = groups->Item(0)->OffsetField() & 0x7FFFFFFF;
  std::uint32_t dataEntry = reader->ResourceSection().U32LEAt(lang + 20);
  std::string cut = image;
  cut[base + dataEntry + 4] = static_cast<char>(2 + 10 + 2 + 4);
  EXPECT_EQ(Dump(Load(cut).get()), "16=first\n40=other\nNAME=1\n");
  // Group 3 named (its entry now points at the RCDATA name): skipped.
  std::uint32_t nameRef = reader->GetResources()->Item(1)->GetList()->Item(0)->NameField();
  std::uint32_t groupsDir = reader->GetResources()->Item(0)->OffsetField() & 0x7FFFFFFF;
  std::string named = image;
  for (int i = 0; i < 4; ++i)
    named[base + groupsDir + 16 + 8 + static_cast<std::size_t>(i)] = static_cast<char>((nameRef >> (8 * i)) & 0xFF);
  EXPECT_EQ(Dump(Load(named).get()), "16=first\n17=second\nNAME=1\n");
}

TEST(ResProc, RCDataItemsByName) {
  TProcessorPtr p = NewProcessor();
  TResRCData* r = AddRCData(p.get());
  r->AddItem("WQM_EXESETTINGS_", false)->SetData("JEXE");
  r->AddItem("TWizardForm", false)->SetData("TPF0");
  EXPECT_EQ(r->FindItem("twizardform")->Data(), "TPF0");
  EXPECT_EQ(r->FindItem("missing"), nullptr);
  r->RemoveItem("wqm_exesettings_");
  r->RemoveItem("missing");
  ASSERT_EQ(r->GetCount(), 1);
  EXPECT_EQ(r->GetItem(5), nullptr);
  TMemoryStream* m = New<TMemoryStream>();
  m->WriteBytes("new data");
  r->GetItem(0)->LoadData(*m);
  m->Clear();
  r->GetItem(0)->SaveData(*m);
  EXPECT_EQ(m->DataString(), "new data");
  m->Free();
  EXPECT_EQ(p->FindBlock(kRTRCData), r);
  EXPECT_EQ(p->FindBlock(kRTString), nullptr);
}

TEST(ResProc, ModuleResourcesFillStringsFirstAndKeepOnlyNonEmptyBlocks) {
  std::string group(2 + 2 * 3, '\0');
  group[0] = 3;
  group[2] = 'a';
  group[4] = 'b';
  group[6] = 'c';
  std::string cutGroup = "\x05";  // a length cut off by the end of the data
  std::vector<TResListEntry> resources = {
      {kRTRCData, "TWIZARDFORM", false, "form"},
      {kRTString, "2", true, group},
      {kRTString, "3", true, cutGroup},
      {kRTRCData, "12", true, "twelve"},
  };
  TProcessorPtr p = NewProcessor();
  p->LoadFromModuleResources(resources);
  ASSERT_EQ(p->BlockCount(), 2);
  EXPECT_EQ(p->GetBlock(0)->GetResType(), kRTString);
  EXPECT_EQ(Dump(p.get()), "16=abc\nTWIZARDFORM=4\n12#=6\n");
  p->LoadFromModuleResources({{kRTRCData, "X", false, "x"}});
  EXPECT_EQ(p->BlockCount(), 1);

  TResString* s = New<TResString>(p.get());
  s->LoadFromResList(resources);
  EXPECT_EQ(s->StringCount(), 1);
  s->Free();
  TOwned<TResRCData> r(New<TResRCData>(p.get()));
  r->LoadFromResList(resources);
  ASSERT_EQ(r->GetCount(), 2);
  EXPECT_FALSE(r->GetItem(1)->Numbered());
}

TEST(ResProc, ResFileEntriesArePaddedToFourBytes) {
  TProcessorPtr p = NewProcessor();
  TResString* s = AddStrings(p.get());
  s->AddString(1, u"a");
  TResRCData* r = AddRCData(p.get());
  r->AddItem("AB", false)->SetData("xyz");
  TMemoryStream* m = New<TMemoryStream>();
  s->WriteResFile(*m);
  EXPECT_EQ(m->Size(), 32 + 36);
  r->WriteResFile(*m);
  std::string res = m->DataString();
  m->Free();
  ASSERT_EQ(res.size(), 68u + 28 + 8 + 4);
  EXPECT_EQ(U32(res, 68), 3u);
  EXPECT_EQ(U32(res, 72), 36u);
  EXPECT_EQ(res.substr(80, 6), std::string("A\0B\0\0\0", 6));
}

}  // namespace

#ifndef _WIN32
namespace {

// The resource tree as the mingw object dumper lists it: types and names with
// the sizes of their data, without offsets, addresses and languages.
std::string ObjdumpTree(const std::string& image, const std::string& name) {
  std::string path = testing::TempDir() + name;
  {
    TFileStream f(path, fmCreate);
    f.WriteBytes(image);
  }
  std::string out;
  if (FILE* p = popen(("x86_64-w64-mingw32-objdump -p '" + path + "' 2>/dev/null").c_str(), "r")) {
    char line[512];
    while (fgets(line, sizeof line, p)) {
      std::string l = line;
      std::size_t entry = l.find("Entry: ");
      std::size_t leaf = l.find("Leaf: ");
      if (entry != std::string::npos && l.find("Value: 0x8") != std::string::npos) {
        std::size_t colon = l.rfind(": ", l.find(", Value"));
        out += l.substr(colon + 2, l.find(", Value") - colon - 2) + " ";
      } else if (leaf != std::string::npos) {
        out += "size " + l.substr(l.find("Size: ") + 6, 8) + "\n";
      }
    }
    pclose(p);
  }
  std::remove(path.c_str());
  return out;
}

TEST(ResProc, ObjectDumperShowsTheSameTreeInTheWrittenLibrary) {
  std::string fixture = LocFixture32();
  std::string expected = ObjdumpTree(fixture, "resproc-fixture.dll");
  if (expected.empty()) GTEST_FAIL() << "x86_64-w64-mingw32-objdump is not available (scripts/setup installs it)";
  EXPECT_NE(expected.find("TWIZARDFORM size 0x00001d"), std::string::npos) << expected;
  TProcessorPtr p = Load(fixture);
  EXPECT_EQ(ObjdumpTree(p->ResourceDLLImage(), "resproc-written.dll"), expected);
}

}  // namespace
#endif
