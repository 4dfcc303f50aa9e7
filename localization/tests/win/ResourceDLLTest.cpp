// The written resource-only libraries load in the system's loader as data
// files, and their strings and RCDATA items are found by the system's own
// resource search.
#include <windows.h>

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "../LocFixtures.h"
#include "ModuleResources.h"
#include "ResProc.h"
#include "Streams.h"

namespace {

using TProcessorPtr = TOwned<TResProcessor>;

std::string TempPath(const char* name) {
  char dir[MAX_PATH];
  DWORD n = GetTempPathA(MAX_PATH, dir);
  return std::string(dir, n) + name;
}

// Writes the processor's library to a temporary file and loads it as a data file.
class TLoadedLibrary {
 public:
  TLoadedLibrary(const TResProcessor& p, const char* name) : path_(TempPath(name)) {
    {
      TFileStream f(path_, fmCreate);
      p.WriteResourceDLL(f);
    }
    module_ = LoadLibraryExA(path_.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    error_ = GetLastError();
  }
  ~TLoadedLibrary() {
    if (module_) FreeLibrary(module_);
    DeleteFileA(path_.c_str());
  }
  HMODULE Module() const { return module_; }
  DWORD Error() const { return error_; }

 private:
  std::string path_;
  HMODULE module_ = nullptr;
  DWORD error_ = 0;
};

std::wstring LoadWide(HMODULE m, UINT id) {
  wchar_t buffer[512];
  int n = LoadStringW(m, id, buffer, 512);
  return std::wstring(buffer, static_cast<std::size_t>(n > 0 ? n : 0));
}

DWORD RCDataSize(HMODULE m, LPCWSTR name) {
  HRSRC r = FindResourceW(m, name, MAKEINTRESOURCEW(10));
  return r ? SizeofResource(m, r) : 0xFFFFFFFF;
}

TEST(ResourceDLL, WrittenLibraryLoadsAsDataFileWithItsStringsAndItems) {
  TProcessorPtr p(New<TResProcessor>());
  p->LoadFromPEImage(LocFixture32());
  TLoadedLibrary lib(*p, "pellory-resdll-test.dll");
  ASSERT_NE(lib.Module(), nullptr) << "LoadLibraryEx failed with error " << lib.Error();
  EXPECT_EQ(LoadWide(lib.Module(), 65264), L"IMEI:");
  EXPECT_EQ(LoadWide(lib.Module(), 65265), L"ESN:");
  EXPECT_EQ(LoadWide(lib.Module(), 65295), L"Next >");
  EXPECT_EQ(LoadWide(lib.Module(), 0), L"zero");
  EXPECT_EQ(LoadWide(lib.Module(), 17), L"seventeen");
  EXPECT_EQ(LoadWide(lib.Module(), 18), L"");
  EXPECT_EQ(RCDataSize(lib.Module(), L"TWIZARDFORM"), 29u);
  EXPECT_EQ(RCDataSize(lib.Module(), L"TWizardForm"), 29u);
  EXPECT_EQ(RCDataSize(lib.Module(), L"WQM_LIBSETTINGS_"), 44u);
  EXPECT_EQ(RCDataSize(lib.Module(), L"MIXED_CASE"), 1u);
  EXPECT_EQ(RCDataSize(lib.Module(), MAKEINTRESOURCEW(300)), 8u);
  EXPECT_EQ(RCDataSize(lib.Module(), L"MISSING"), 0xFFFFFFFFu);

  // The module reader sees what the file reader saw.
  InstallModuleResourceReader();
  TProcessorPtr fromModule(New<TResProcessor>());
  fromModule->LoadFromModule(lib.Module());
  ASSERT_NE(fromModule->Strings(), nullptr);
  EXPECT_EQ(fromModule->Strings()->StringCount(), 5);
  EXPECT_EQ(fromModule->Strings()->FindString(65264)->Text, u"IMEI:");
  ASSERT_NE(fromModule->RCData(), nullptr);
  EXPECT_EQ(fromModule->RCData()->GetCount(), 4);
  EXPECT_EQ(fromModule->RCData()->FindItem("TWIZARDFORM")->Data(), p->RCData()->FindItem("TWIZARDFORM")->Data());
  EXPECT_TRUE(fromModule->RCData()->FindItem("300")->Numbered());
}

TEST(ResourceDLL, EveryNameAndNumberIsFoundWhateverTheOrderOfAdding) {
  TProcessorPtr p(New<TResProcessor>());
  TResRCData* r = New<TResRCData>(p.get());
  p->AddBlock(r);
  // Sorted by their upper-cased text ("AB" before "A_B", "_X" after every letter) and stored upper-cased,
  // as the system's search expects; a name added in lower case is found too.
  const char* names[] = {"ZULU",        "M_N", "ab2", "A_B", "_X", "WQM_LOC_LANGS_", "A", "AB", "WQM_EXESETTINGS_",
                         "TWIZARDFORM", "Q1"};
  for (const char* n : names) r->AddItem(n, false)->SetData(std::string(n) + "!");
  for (int id : {900, 7, 65535, 42})
    r->AddItem(std::to_string(id), true)->SetData(std::string(static_cast<std::size_t>(id % 50 + 1), 'n'));
  TResString* s = New<TResString>(p.get());
  p->AddBlock(s);
  for (int id : {4000, 12, 65534, 300, 1})
    s->AddString(id, u"s" + std::u16string(1, static_cast<char16_t>(u'0' + id % 10)));
  // A section large enough to span several pages.
  r->AddItem("BIG", false)->SetData(std::string(20000, 'b'));

  TLoadedLibrary lib(*p, "pellory-resdll-sorted.dll");
  ASSERT_NE(lib.Module(), nullptr) << "LoadLibraryEx failed with error " << lib.Error();
  for (const char* n : names) {
    std::wstring wide(n, n + strlen(n));
    EXPECT_EQ(RCDataSize(lib.Module(), wide.c_str()), strlen(n) + 1) << n;
  }
  for (int id : {900, 7, 65535, 42})
    EXPECT_EQ(RCDataSize(lib.Module(), MAKEINTRESOURCEW(id)), static_cast<DWORD>(id % 50 + 1)) << id;
  EXPECT_EQ(RCDataSize(lib.Module(), L"BIG"), 20000u);
  for (int id : {4000, 12, 65534, 300, 1})
    EXPECT_EQ(LoadWide(lib.Module(), static_cast<UINT>(id)),
              L"s" + std::wstring(1, static_cast<wchar_t>(L'0' + id % 10)))
        << id;
}

TEST(ResourceDLL, EmptyLibraryLoads) {
  TProcessorPtr p(New<TResProcessor>());
  TLoadedLibrary lib(*p, "pellory-resdll-empty.dll");
  ASSERT_NE(lib.Module(), nullptr) << "LoadLibraryEx failed with error " << lib.Error();
  EXPECT_EQ(LoadWide(lib.Module(), 65264), L"");
}

}  // namespace
