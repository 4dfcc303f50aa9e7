#include "PEReader.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <memory>

#include "ByteWriter.h"
#include "JCompress.h"
#include "LocFixtures.h"
#include "Streams.h"

namespace {

using TReaderPtr = TOwned<TPEReader>;

TReaderPtr Open(std::string image) {
  return TReaderPtr(TPEReader::FromImage(std::move(image)));
}

TPEResourceItem* FindItem(TPEResourceList* list, const std::string& name) {
  for (int i = 0; i < list->Count(); ++i)
    if (list->Item(i)->GetName() == name) return list->Item(i);
  return nullptr;
}

std::uint32_t RsrcPointer(const std::string& image) {
  TReaderPtr r = Open(image);
  TPESection s;
  EXPECT_TRUE(r->FindSection(".RSRC", s));
  return s.PointerToRawData;
}

std::string ErrorOf(const std::function<void()>& f) {
  try {
    f();
  } catch (const EExeError& e) {
    return e.Message;
  }
  return "(no error)";
}

// Walks the fixture's tree the way the resource processor does.
void ExpectFixtureTree(TPEReader* reader) {
  TPEResourceList* root = reader->GetResources();
  ASSERT_EQ(root->Count(), 2);
  TPEResourceItem* strings = root->Item(0);
  TPEResourceItem* rcdata = root->Item(1);
  EXPECT_EQ(strings->GetName(), "String");
  EXPECT_EQ(rcdata->GetName(), "RCData");
  EXPECT_TRUE(strings->IsList());
  EXPECT_EQ(strings->GetDataSize(), 0u);

  TPEResourceList* blocks = strings->GetList();
  ASSERT_EQ(blocks->Count(), 4);
  EXPECT_EQ(blocks->Item(0)->GetName(), "1");
  EXPECT_EQ(blocks->Item(3)->GetName(), "4081");
  EXPECT_EQ(blocks->ResType(), 6u);
  EXPECT_FALSE(blocks->Item(0)->IsList());
  EXPECT_EQ(ErrorOf([&] { blocks->Item(0)->GetList(); }), SExeNotAList.native);

  TPEResourceList* items = rcdata->GetList();
  ASSERT_EQ(items->Count(), 4);
  TPEResourceItem* form = FindItem(items, "TWIZARDFORM");
  ASSERT_NE(form, nullptr);
  EXPECT_FALSE(form->IsNumbered());
  ASSERT_EQ(form->GetDataSize(), 29u);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(form->GetData()), 4), "TPF0");
  TPEResourceItem* numbered = FindItem(items, "300");
  ASSERT_NE(numbered, nullptr);
  EXPECT_TRUE(numbered->IsNumbered());
  EXPECT_EQ(numbered->GetDataView(), "numbered");
  EXPECT_NE(FindItem(items, "MIXED_CASE"), nullptr);
  EXPECT_EQ(FindItem(items, "WQM_LIBSETTINGS_")->GetDataSize(), 44u);
}

TEST(PEReader, ReadsTheFixtureLibraryTree) {
  TReaderPtr r = Open(LocFixture32());
  ExpectFixtureTree(r.get());
}

TEST(PEReader, FindsTheSectionTableAfterA64BitOptionalHeader) {
  TReaderPtr r = Open(LocFixture64());
  ExpectFixtureTree(r.get());
}

TEST(PEReader, ReadsAnLzjCompressedCopyLikeTheFile) {
  TReaderPtr r = Open(LzjCompress(LocFixture32()));
  ExpectFixtureTree(r.get());
}

TEST(PEReader, OpensFilesAndReportsMissingOnes) {
  std::string path = testing::TempDir() + "pereader-fixture.dll";
  {
    TFileStream f(path, fmCreate);
    f.WriteBytes(LocFixture32());
  }
  TReaderPtr r(New<TPEReader>(path));
  EXPECT_EQ(r->FileName(), path);
  ExpectFixtureTree(r.get());
  std::remove(path.c_str());
  std::string missing = testing::TempDir() + "no-such-library.dll";
  EXPECT_EQ(ErrorOf([&] { New<TPEReader>(missing)->Free(); }), "Couldn't open file: " + missing);
}

TEST(PEReader, RefusesBrokenHeaders) {
  std::string fixture = LocFixture32();
  std::string badLfanew = fixture;
  ByteWriter(badLfanew).U32LEAt(60, static_cast<std::uint32_t>(fixture.size() - 100));
  std::string hugeLfanew = fixture;
  ByteWriter(hugeLfanew).U32LEAt(60, 0xFFFFFFF0u);
  std::string badSignature = fixture;
  std::uint32_t nt = static_cast<std::uint32_t>(static_cast<unsigned char>(fixture[60]) |
                                                (static_cast<unsigned char>(fixture[61]) << 8));
  badSignature[nt + 2] = 'X';
  std::string manySections = fixture;
  ByteWriter(manySections).U16LEAt(nt + 6, 0xFFFF);
  struct Case {
    const char* what;
    std::string image;
    const char* error;
  } cases[] = {
      {"empty", "", SExeEmptyImage.native},
      {"not MZ", "ZM" + fixture.substr(2), SExeUnrecognized.native},
      {"MZ only", "MZ", SExeNotPE.native},
      {"NT headers past the end", badLfanew, SExeNotPE.native},
      {"NT headers offset wraps", hugeLfanew, SExeNotPE.native},
      {"signature", badSignature, SExeNotPE.native},
      {"section table past the end", manySections, SExeNotPE.native},
  };
  for (const Case& c : cases) EXPECT_EQ(ErrorOf([&] { Open(c.image); }), c.error) << c.what;
}

TEST(PEReader, ASectionOutsideTheFileOrNoResourcesFailOnlyWhenAsked) {
  std::string fixture = LocFixture32();
  TReaderPtr r = Open(fixture);
  int rsrc = -1;
  for (int i = 0; i < r->SectionCount(); ++i)
    if (r->Section(i).Name == ".rsrc") rsrc = i;
  ASSERT_GE(rsrc, 0);
  std::uint32_t nt = static_cast<std::uint32_t>(r->NtHeaders());
  std::uint16_t optional = static_cast<std::uint16_t>(static_cast<unsigned char>(fixture[nt + 20]) |
                                                      (static_cast<unsigned char>(fixture[nt + 21]) << 8));
  std::size_t header = nt + 24 + optional + 40 * static_cast<std::size_t>(rsrc);

  std::string renamed = fixture;
  renamed[header + 1] = 'x';  // ".xsrc"
  TReaderPtr noRes = Open(renamed);
  EXPECT_EQ(ErrorOf([&] { noRes->GetResources(); }), SExeNoResources.native);

  std::string outside = fixture;
  ByteWriter(outside).U32LEAt(header + 20, static_cast<std::uint32_t>(fixture.size()) - 16);
  TReaderPtr bad = Open(outside);
  EXPECT_EQ(ErrorOf([&] { bad->GetResources(); }), SExeNotPE.native);
}

TEST(PEReader, BoundsEveryDirectoryNameAndDataEntry) {
  const std::string fixture = LocFixture32();
  const std::uint32_t base = RsrcPointer(fixture);
  // The RCData type's name directory (root entry 1) and its first item's entry.
  TReaderPtr probe = Open(fixture);
  std::uint32_t rcdataDir = probe->GetResources()->Item(1)->OffsetField() & 0x7FFFFFFF;
  std::uint32_t firstEntry = rcdataDir + 16;

  std::string hugeRoot = fixture;
  ByteWriter(hugeRoot).U16LEAt(base + 14, 0xFFFF);
  EXPECT_EQ(ErrorOf([&] { Open(hugeRoot)->GetResources()->Count(); }), SExeBadResources.native);

  std::string badName = fixture;
  ByteWriter(badName).U32LEAt(base + firstEntry, 0x80000000u | 0x7FFFFFF0u);
  EXPECT_EQ(ErrorOf([&] { Open(badName)->GetResources()->Item(1)->GetList()->Item(0)->GetName(); }),
            SExeBadResources.native);

  std::string badChild = fixture;
  ByteWriter(badChild).U32LEAt(base + firstEntry + 4, 0x80000000u | 0x00FFFFF0u);
  EXPECT_EQ(ErrorOf([&] { Open(badChild)->GetResources()->Item(1)->GetList()->Item(0)->GetData(); }),
            SExeBadResources.native);

  // Data that runs past the section.
  TPEResourceItem* item = probe->GetResources()->Item(1)->GetList()->Item(0);
  std::uint32_t langDir = item->OffsetField() & 0x7FFFFFFF;
  std::uint32_t dataEntry = static_cast<std::uint32_t>(probe->ResourceSection().U32LEAt(langDir + 16 + 4));
  std::string longData = fixture;
  ByteWriter(longData).U32LEAt(base + dataEntry + 4, 0x7FFFFFFF);
  EXPECT_EQ(ErrorOf([&] { Open(longData)->GetResources()->Item(1)->GetList()->Item(0)->GetData(); }),
            SExeBadResources.native);
  std::string lowRva = fixture;
  ByteWriter(lowRva).U32LEAt(base + dataEntry, 0x10);
  EXPECT_EQ(ErrorOf([&] { Open(lowRva)->GetResources()->Item(1)->GetList()->Item(0)->GetDataSize(); }),
            SExeBadResources.native);

  // An empty language directory: neither a list nor data.
  std::string empty = fixture;
  ByteWriter(empty).U16LEAt(base + langDir + 14, 0);
  TReaderPtr r = Open(empty);
  TPEResourceItem* leaf = r->GetResources()->Item(1)->GetList()->Item(0);
  EXPECT_FALSE(leaf->IsList());
  EXPECT_EQ(leaf->GetData(), nullptr);
  EXPECT_EQ(leaf->GetDataSize(), 0u);
  // An empty type directory is no list either.
  std::string emptyType = fixture;
  ByteWriter(emptyType).U16LEAt(base + rcdataDir + 12, 0);
  ByteWriter(emptyType).U16LEAt(base + rcdataDir + 14, 0);
  TReaderPtr r2 = Open(emptyType);
  EXPECT_FALSE(r2->GetResources()->Item(1)->IsList());
  EXPECT_EQ(ErrorOf([&] { r2->GetResources()->Item(1)->GetList(); }), SExeNotAList.native);
}

TEST(PEReader, NamesTypesByTheStandardTableOrByNumber) {
  std::string fixture = LocFixture32();
  std::uint32_t base = RsrcPointer(fixture);
  ByteWriter(fixture).U32LEAt(base + 24, 24);  // the RCData type entry becomes type 24
  TReaderPtr r = Open(fixture);
  EXPECT_EQ(r->GetResources()->Item(1)->GetName(), "24");
  EXPECT_EQ(r->GetResources()->Item(1)->GetList()->ResType(), 24u);
  EXPECT_EQ(ResourceTypeName(14), "Icon");
  EXPECT_EQ(ResourceTypeName(16), "Version");
}

}  // namespace
