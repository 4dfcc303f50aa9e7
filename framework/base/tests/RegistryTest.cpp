#include "Registry.h"

#include <gtest/gtest.h>

#include "BrittleStrings.h"
#include "Strings.h"

namespace {

struct RegistryTest : ::testing::Test {
  MemoryRegistryBackend backend;
  void SetUp() override { SetRegistryBackend(&backend); }
  void TearDown() override {
    EXPECT_EQ(backend.OpenHandleCount(), 0u) << "a key was left open";
    SetRegistryBackend(nullptr);
  }
  RegValue Raw(std::string_view path, std::string_view name) {
    RegKey k = 0;
    RegValue v;
    if (backend.OpenKey(RegCurrentUser, path, RegKeyRead, false, k) == RegOk) {
      backend.QueryValue(k, name, v);
      backend.CloseKey(k);
    }
    return v;
  }
};

constexpr const char* kOptions = "Software\\Talvex\\Corvessa\\Options";

TEST_F(RegistryTest, IniWrapperWritesStringsCreatesSectionsAndDeletesSilently) {
  TOwned<TRegistryIniFile> ini(New<TRegistryIniFile>(kOptions));
  // Deleting from a missing section or a missing value does nothing.
  ini->DeleteKey("Common", "COM1");
  EXPECT_FALSE(ini->SectionExists("Common"));

  ini->WriteBool("Common", "IrDA", false);
  ini->WriteInteger("Common", "COM3", 2);
  ini->WriteString("Common", "Other", "kept");
  ini->WriteBool("Common", "DKU-2", true);
  ini->WriteInteger("Common", "COM3", 3);  // a later write replaces the value
  ini->DeleteKey("Common", "COM4");
  ini->DeleteKey("Common", "dku-2");  // names compare without regard to case

  struct Expect {
    const char* name;
    std::string data;  // empty = absent
  } expected[] = {{"IrDA", std::string("0\0", 2)},
                  {"COM3", std::string("3\0", 2)},
                  {"Other", std::string("kept\0", 5)},
                  {"DKU-2", ""}};
  for (const Expect& e : expected) {
    RegValue v = Raw("Software\\Talvex\\Corvessa\\Options\\Common", e.name);
    EXPECT_EQ(v.data, e.data) << e.name;
    if (!e.data.empty()) {
      EXPECT_EQ(v.type, RegTypeSz) << e.name;
    }
  }
  EXPECT_EQ(ini->ReadInteger("Common", "COM3", -1), 3);
  EXPECT_EQ(ini->ReadInteger("Common", "Other", -1), -1);
  EXPECT_TRUE(ini->ReadBool("Missing", "x", true));
  EXPECT_EQ(ini->ReadString("Common", "Other", "d"), "kept");
  EXPECT_EQ(ini->ReadString("Common", "Nope", "d"), "d");

  TOwned<TStringList> names(New<TStringList>());
  ini->ReadSection("Common", names.get());
  EXPECT_EQ(names->Count(), 3);
  ini->ReadSections(names.get());
  ASSERT_EQ(names->Count(), 1);
  EXPECT_EQ(names->Strings(0), "Common");
  ini->EraseSection("Common");
  EXPECT_FALSE(ini->SectionExists("Common"));
}

TEST_F(RegistryTest, IniWrapperRefusesAKeyItCannotOpenAndReportsFailedWrites) {
  // Read-only access cannot create the key: nothing must be written below the root instead.
  EXPECT_THROW(New<TRegistryIniFile>("Software\\Missing", RegKeyRead), ERegistryException);
  auto* writer = New<TRegistryIniFile>("Software\\Present");
  writer->WriteString("S", "v", "1");
  writer->Free();
  TOwned<TRegistryIniFile> reader(New<TRegistryIniFile>("Software\\Present", RegKeyRead));
  EXPECT_EQ(reader->ReadString("S", "v", ""), "1");
  EXPECT_THROW(reader->WriteString("S", "v", "2"), ERegistryException);
}

TEST_F(RegistryTest, RegistryReadsStringsAndRaisesOnOtherTypes) {
  TOwned<TRegistry> reg(New<TRegistry>(RegKeyAllAccess));
  reg->SetRootKey(RegLocalMachine);
  EXPECT_FALSE(reg->OpenKey("HARDWARE\\DEVICEMAP\\SERIALCOMM", false));
  ASSERT_TRUE(reg->OpenKey("\\HARDWARE\\DEVICEMAP\\SERIALCOMM", true));
  reg->WriteString("\\Device\\Serial0", "COM1");
  reg->WriteInteger("Count", 7);
  reg->CloseKey();

  ASSERT_TRUE(reg->OpenKeyReadOnly("HARDWARE\\DEVICEMAP"));
  ASSERT_TRUE(reg->OpenKeyReadOnly("SERIALCOMM"));  // relative to the current key
  EXPECT_EQ(reg->CurrentPath(), "HARDWARE\\DEVICEMAP\\SERIALCOMM");
  EXPECT_EQ(reg->ReadString("\\Device\\Serial0"), "COM1");
  EXPECT_EQ(reg->ReadString("Missing"), "");
  EXPECT_THROW(reg->ReadString("Count"), ERegistryException);
  EXPECT_EQ(reg->ReadInteger("Count"), 7);
  EXPECT_THROW(reg->ReadInteger("Missing"), ERegistryException);
  EXPECT_THROW(reg->WriteString("x", "y"), ERegistryException);  // opened read-only
  auto* names = New<TStringList>();
  reg->GetValueNames(names);
  EXPECT_EQ(names->Count(), 2);
  names->Free();

  EXPECT_TRUE(reg->DeleteKey("\\HARDWARE"));  // with its subkeys
  EXPECT_FALSE(reg->KeyExists("\\HARDWARE"));
  EXPECT_EQ(reg->ReadString("\\Device\\Serial0"), "");  // the open key was deleted under us
}

TEST_F(RegistryTest, AListThatRefusesAnEntryIsNotLeftInItsUpdate) {
  struct Readers {
    TRegistryIniFile* ini;  // at the options key: sections "Common" and "Other"
    TRegistry* options;     // the same key
    TRegistry* common;      // its section "Common": values COM1 and COM2
  } r{New<TRegistryIniFile>(kOptions), New<TRegistry>(), New<TRegistry>()};
  r.ini->WriteString("Common", "COM1", "1");
  r.ini->WriteString("Common", "COM2", "2");
  r.ini->WriteString("Other", "x", "3");
  ASSERT_TRUE(r.options->OpenKey(kOptions, false));
  ASSERT_TRUE(r.common->OpenKey(std::string(kOptions) + "\\Common", false));
  const std::size_t openKeys = backend.OpenHandleCount();

  struct Case {
    const char* name;
    void (*read)(const Readers& r, TStrings* list);
  } cases[] = {
      {"ReadSection", [](const Readers& r, TStrings* list) { r.ini->ReadSection("Common", list); }},
      {"ReadSectionValues", [](const Readers& r, TStrings* list) { r.ini->ReadSectionValues("Common", list); }},
      {"ReadSections", [](const Readers& r, TStrings* list) { r.ini->ReadSections(list); }},
      {"GetKeyNames", [](const Readers& r, TStrings* list) { r.options->GetKeyNames(list); }},
      {"GetValueNames", [](const Readers& r, TStrings* list) { r.common->GetValueNames(list); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto* list = New<TBrittleTarget>();
    EXPECT_THROW(c.read(r, list), EStringListError);
    EXPECT_EQ(list->UpdateCount(), 0);
    EXPECT_EQ(list->Count(), 1);
    EXPECT_EQ(backend.OpenHandleCount(), openKeys) << "the section key is closed";
    list->room = 10;
    c.read(r, list);
    EXPECT_EQ(list->Count(), 2);
    list->Free();
  }
  r.common->Free();
  r.options->Free();
  r.ini->Free();
}

}  // namespace
