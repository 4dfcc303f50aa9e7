// Settings resources and the swap of the program's resource module, over
// in-memory modules and a loader that counts loads and frees.
#include <gtest/gtest.h>

#include <functional>
#include <map>

#include "LFProc.h"
#include "LangFileWriter.h"
#include "LocUtils.h"
#include "Modules.h"

namespace {

constexpr ModuleHandle kApp = 0x400000;
constexpr ModuleHandle kOther = 0x500000;

std::string Settings(const char* signature, std::uint32_t version, std::uint16_t langId, const std::string& english,
                     const std::u16string& localized, std::uint32_t build) {
  return WriteSettingsResource(signature, version, langId, english, localized, 6, build);
}

const std::string kProgram = Settings("JEXE", 92, 9, "English", u"English", 0);

class TFakeLoader : public TLibraryLoader {
 public:
  explicit TFakeLoader(MemoryResourceSource& source) : source_(source) {}
  // A library file: its settings (none when empty).
  void AddFile(const std::string& path, const std::string& libSettings) { files_[path] = libSettings; }
  ModuleHandle LoadDataFile(const std::string& path) override {
    auto f = files_.find(path);
    if (f == files_.end()) return 0;
    ModuleHandle h = 0x10000001 + 0x10000 * static_cast<ModuleHandle>(++loads);
    if (!f->second.empty()) source_.Add(h, rtRcData, kLibSettingsName, f->second);
    source_.Add(h, rtString, ResourceId(std::uint16_t{1}), "library strings");
    names_[h] = path;
    return h;
  }
  void FreeLibrary(ModuleHandle module) override {
    ++frees;
    freed.push_back(module);
    source_.RemoveModule(module);
  }
  std::string ModuleFileName(ModuleHandle module) override {
    auto n = names_.find(module);
    return n != names_.end() ? n->second : module == kApp ? "C:\\Pellory\\Pellory.exe" : "";
  }
  int loads = 0;
  int frees = 0;
  std::vector<ModuleHandle> freed;

 private:
  MemoryResourceSource& source_;
  std::map<std::string, std::string> files_;
  std::map<ModuleHandle, std::string> names_;
};

class LocUtilsSwap : public ::testing::Test {
 protected:
  void SetUp() override {
    SetResourceSource(&source);
    ClearModuleList();
    RegisterModule(kApp);
    RegisterModule(kOther);
    source.Add(kApp, rtRcData, kExeSettingsName, kProgram);
    source.Add(kApp, rtRcData, kLibSettingsName, Settings("LDLL", 92, 9, "English", u"English", 0));
    loader.AddFile("de.dll", Settings("LDLL", 92, 0x407, "German", u"Deutsch", 3));
    loader.AddFile("fr.dll", Settings("LDLL", 92, 0x40C, "French", u"Fran\u00E7ais", 4));
    loader.AddFile("old.dll", Settings("LDLL", 91, 0x407, "German", u"Deutsch", 3));
    loader.AddFile("exe.dll", "");
    utils->AppInstance = kApp;
    utils->Loader = &loader;
  }
  void TearDown() override {
    ClearModuleList();
    SetResourceSource(nullptr);
  }
  std::string ErrorOf(const std::function<void()>& f) {
    try {
      f();
    } catch (const ELocUtilsError& e) {
      return e.ClassName() + std::string(": ") + e.Message;
    } catch (const Exception& e) {
      return "(other exception) " + e.Message;
    }
    return "(no error)";
  }

  MemoryResourceSource source;
  TFakeLoader loader{source};
  TOwned<TJLocUtils> utils{New<TJLocUtils>()};
};

TEST(LocUtils, ReadModuleSettingsTakesTheBuildOnlyWhenItFits) {
  const std::string full = Settings("LDLL", 92, 0x407, "German", u"Deutsch", 0x01020304);
  const std::size_t afterNames = 4 + 4 + 2 + 2 + 6 + 2 + 14;
  std::string zeroNames = Settings("LDLL", 92, 9, std::string("Eng\0lish", 8), u"Eng\0lish", 5);
  zeroNames[12 + 3] = '\0';
  struct Case {
    const char* what;
    std::string bytes;
    std::string english;
    std::u16string localized;
    std::uint32_t build;
  } cases[] = {
      {"the program's resource", kProgram, "English", u"English", 0},
      {"a full library resource", full, "German", u"Deutsch", 0x01020304},
      {"nothing after the names", full.substr(0, afterNames), "German", u"Deutsch", 0},
      {"four bytes left", full.substr(0, afterNames + 4), "German", u"Deutsch", 0},
      {"five bytes left", full.substr(0, afterNames + 5), "German", u"Deutsch", 0},
      {"seven bytes left", full.substr(0, afterNames + 7), "German", u"Deutsch", 0},
      {"eight bytes left", full.substr(0, afterNames + 8), "German", u"Deutsch", 0x01020304},
      {"names with a zero", zeroNames, "Eng", u"Eng", 5},
  };
  EXPECT_EQ(kProgram.size(), 44u);
  for (const Case& c : cases) {
    // A heap copy of exactly the case's bytes, so that a read past them shows under ASan.
    TOwned<TMemoryStream> stream(New<TMemoryStream>());
    stream->WriteBytes(c.bytes);
    TOwned<TDLLInfoItem> item(New<TDLLInfoItem>());
    ReadModuleSettings(*stream, *item);
    EXPECT_EQ(item->EnglishName, c.english) << c.what;
    EXPECT_EQ(item->LocalizedName, c.localized) << c.what;
    EXPECT_EQ(item->Build, c.build) << c.what;
    EXPECT_EQ(item->Version, 92u) << c.what;
  }
}

TEST(LocUtils, TruncatedSettingsAreInvalidLibraries) {
  const std::string full = Settings("LDLL", 92, 0x407, "German", u"Deutsch", 1);
  for (std::size_t size : {0, 3, 8, 11, 12, 17, 19, 20, 33}) {
    TOwned<TMemoryStream> stream(New<TMemoryStream>());
    stream->WriteBytes(full.substr(0, size));
    TOwned<TDLLInfoItem> item(New<TDLLInfoItem>());
    try {
      ReadModuleSettings(*stream, *item, "x.dll");
      ADD_FAILURE() << size << " bytes read without error";
    } catch (const ELUInvalidResLibrary& e) {
      EXPECT_EQ(e.Message, "Invalid resource file format \"x.dll\"") << size;
    }
  }
}

TEST_F(LocUtilsSwap, SettingsAreReadByKindAndCheckedBySignature) {
  TOwned<TDLLInfoItem> item(New<TDLLInfoItem>());
  utils->ReadModuleInfo(0, false, *item);
  EXPECT_EQ(item->Locale, 9u);
  source.Add(kOther, rtRcData, kLibSettingsName, kProgram);  // "JEXE" offered as a library
  EXPECT_EQ(ErrorOf([&] { utils->ReadModuleInfo(kOther, true, *item); }),
            "ELUInvalidResLibrary: Invalid resource file format \"\"");
  EXPECT_EQ(ErrorOf([&] { utils->ReadModuleInfo(0x600000, true, *item); }),
            "ELUInvalidResLibrary: Invalid resource file format \"\"");
  EXPECT_EQ(ErrorOf([&] { utils->UseResourceFile("exe.dll"); }),
            "ELUInvalidResLibrary: Invalid resource file format \"exe.dll\"");
  EXPECT_EQ(loader.frees, 1);
}

TEST_F(LocUtilsSwap, ReplacingRestoringAndReinstallingFreeEachLibraryOnce) {
  utils->UseResourceFile("de.dll");
  const ModuleHandle de = FindResourceHInstance(kApp);
  EXPECT_NE(de, kApp);
  EXPECT_EQ(utils->GetCurrentDLLInfo()->Locale, 0x407u);
  EXPECT_EQ(utils->GetCurrentDLLInfo()->Build, 3u);
  EXPECT_EQ(utils->GetCurrentDLLInfo()->LocalizedName, u"Deutsch");

  utils->SetResourceInstance(0, de);  // the same library again
  EXPECT_EQ(loader.frees, 0);
  EXPECT_EQ(FindResourceHInstance(kApp), de);
  EXPECT_EQ(utils->GetCurrentDLLInfo()->Locale, 0x407u);

  utils->UseResourceFile("fr.dll");
  EXPECT_EQ(loader.freed, std::vector<ModuleHandle>{de});
  EXPECT_EQ(utils->GetCurrentDLLInfo()->Locale, 0x40Cu);

  utils->RestoreAllModules();
  EXPECT_EQ(loader.frees, 2);
  EXPECT_EQ(FindResourceHInstance(kApp), kApp);
  EXPECT_EQ(FindResourceHInstance(kOther), kOther);
  EXPECT_EQ(utils->GetCurrentDLLInfo()->Locale, 9u);
  utils->RestoreAllModules();
  EXPECT_EQ(loader.frees, 2);
}

TEST_F(LocUtilsSwap, OutOfStepLibrariesAreRefusedLoudlyOrQuietly) {
  utils->UseResourceFile("de.dll");
  EXPECT_EQ(ErrorOf([&] { utils->UseResourceFile("old.dll"); }),
            "ELUOutOfVersion: Resource file old.dll is not synhronized with executable.\r\nPlease, update the file "
            "(using \"Refresh\" operation in Localizer or \"Create DLL\" command in Orvandel) and try again");
  EXPECT_EQ(utils->GetCurrentDLLInfo()->Locale, 0x407u);
  EXPECT_EQ(ErrorOf([&] { utils->UseResourceFile("missing.dll"); }),
            "ELULoadResLibError: Error loading resource file \"missing.dll\"");

  utils->OnTheFly = true;
  EXPECT_EQ(ErrorOf([&] { utils->UseResourceFile("old.dll"); }), "(no error)");
  EXPECT_EQ(FindResourceHInstance(kApp), kApp);
  EXPECT_EQ(loader.loads, 3);
  EXPECT_EQ(loader.frees, 3);  // both loads of old.dll and the German library it replaced
}

TEST_F(LocUtilsSwap, AnotherModuleChecksAgainstItsOwnLibrarySettings) {
  source.Add(kOther, rtRcData, kLibSettingsName, Settings("LDLL", 91, 9, "English", u"English", 0));
  EXPECT_FALSE(utils->CheckVersion(0, loader.LoadDataFile("old.dll")));
  EXPECT_TRUE(utils->CheckVersion(kOther, loader.LoadDataFile("old.dll")));
  EXPECT_EQ(utils->LoadResourceDLL(0, ""), kApp);
}

}  // namespace
