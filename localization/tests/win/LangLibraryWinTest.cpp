// A German library built from a module loaded by the system and from its file,
// loaded as a data file and installed as the module's resource source.
#include <windows.h>

#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <sstream>
#include <string>

#include "../LocFixtures.h"
#include "LFProc.h"
#include "LangFileWriter.h"
#include "LangRes.h"
#include "LocUtils.h"
#include "ModuleResources.h"
#include "ObjectConvert.h"
#include "ResProc.h"
#include "Win32Platform.h"
#include "WinLocUtils.h"
#include "WinLocaleServices.h"

namespace {

std::string TempPath(const char* name) {
  char dir[MAX_PATH];
  DWORD n = GetTempPathA(MAX_PATH, dir);
  return std::string(dir, n) + name;
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

std::string Settings(const char* signature, std::uint32_t version) {
  return WriteSettingsResource(signature, version, 9, "English", u"English", 6, 0);
}

// A native library like the program's resources: strings, a form, both settings and the language list.
std::string NativeImage(std::uint32_t libVersion) {
  TOwned<TResProcessor> p(New<TResProcessor>());
  p->LoadFromPEImage(LocFixture32());
  p->RCData()
      ->FindItem("TWIZARDFORM")
      ->SetData(ObjectTextToBinary("object WizardForm: TWizardForm\r\n  Caption = 'Pellory'\r\nend\r\n"));
  p->RCData()->FindItem(kLibSettingsName)->SetData(Settings("LDLL", libVersion));
  p->RCData()->AddItem(kExeSettingsName, false)->SetData(Settings("JEXE", 92));
  p->RCData()->AddItem(kLocLangsName, false)->SetData("languages");
  return p->ResourceDLLImage();
}

void SetValue(TLResItem* item, int index, const std::u16string& text) {
  item->GetValue(index)->SetWideText(text);
  item->GetValue(index)->SetStamp(5);
}

TOwned<TLangResource> GermanStore() {
  TOwned<TLangResource> s(New<TLangResource>());
  s->SetNativeLocale(9);
  TLResUnitItem* main = s->Units()->FindOrAdd("Main");
  TLResConstantItem* imei = main->Constants()->FindOrAdd(1, "SIMEI", 65264);
  TLResConstantItem* next = main->Constants()->FindOrAdd(2, "SNext", 65295);
  TLResPropertyItem* caption = s->Forms()->FindOrAdd("WizardForm")->AddProperty("", 3, "Caption", lvkWideString);
  SetValue(imei, 0, u"IMEI:");
  SetValue(next, 0, u"Next >");
  SetValue(caption, 0, u"Pellory");
  s->AddLanguage(0, 0x0407);
  SetValue(imei, 1, u"IMEI-Nr.:");
  SetValue(next, 1, u"Weiter >");
  SetValue(caption, 1, u"Pellory DE");
  return s;
}

TOwned<TLangFile> GermanFile() {
  TOwned<TLangFile> f(New<TLangFile>());
  f->LangID = 0x0407;
  f->Version = 93;
  f->Build = 7;
  f->EnglishName = "German";
  f->LocalizedName = u"Deutsch";
  f->LangIndex = 1;
  f->LibraryTimeStamp = 0x2A2A2A2A;
  return f;
}

std::wstring LoadWide(ModuleHandle m, UINT id) {
  wchar_t buffer[256];
  int n = LoadStringW(reinterpret_cast<HMODULE>(m), id, buffer, 256);
  return std::wstring(buffer, static_cast<std::size_t>(n > 0 ? n : 0));
}

class LangLibraryWin : public ::testing::Test {
 protected:
  void SetUp() override {
    InitWin32Platform();
    InstallWinLocaleServices();
    InstallModuleResourceReader();
    InitWinLocUtils();
    for (const char* name : {"native", "old", "german", "german-file", "bad"})
      paths[name] = TempPath((std::string("pellory-langlib-") + name + ".dll").c_str());
    std::ofstream(paths["native"], std::ios::binary) << NativeImage(92);
    std::ofstream(paths["old"], std::ios::binary) << NativeImage(91);
    native = reinterpret_cast<ModuleHandle>(LoadLibraryExA(paths["native"].c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE));
    ASSERT_NE(native, 0u) << GetLastError();
    // The loaded native library plays the program: its own resources and its settings.
    RegisterModule(native);
    utils = JLocUtils();
    ASSERT_NE(utils, nullptr);
    savedApp = utils->AppInstance;
    utils->AppInstance = native;
  }
  void TearDown() override {
    if (utils) {
      utils->RestoreAllModules();
      utils->AppInstance = savedApp;
    }
    UnregisterModule(native);
    if (native) FreeLibrary(reinterpret_cast<HMODULE>(native));
    for (auto& p : paths) DeleteFileA(p.second.c_str());
  }

  std::map<std::string, std::string> paths;
  ModuleHandle native = 0;
  ModuleHandle savedApp = 0;
  TJLocUtils* utils = nullptr;
};

TEST_F(LangLibraryWin, BuiltLibraryLoadsAsDataFileAndSuppliesTheModulesStrings) {
  TOwned<TLangResource> store = GermanStore();
  GermanFile()->SaveLanguageDLL(reinterpret_cast<void*>(native), paths["german"], true, store.get(), "");
  GermanFile()->SaveLanguageDLL(nullptr, paths["german-file"], true, store.get(), paths["native"]);
  const std::string fromModule = ReadFile(paths["german"]);
  ASSERT_FALSE(fromModule.empty());
  EXPECT_EQ(fromModule, ReadFile(paths["german-file"]));  // the module road and the file road agree

  utils->UseResourceFile(paths["german"]);
  const ModuleHandle res = FindResourceHInstance(native);
  ASSERT_NE(res, native);
  EXPECT_EQ(LoadWide(res, 65264), L"IMEI-Nr.:");
  EXPECT_EQ(LoadWide(res, 65295), L"Weiter >");
  EXPECT_EQ(LoadWide(res, 17), L"seventeen");
  auto form = FindResourceData(res, rtRcData, "TWIZARDFORM");
  ASSERT_TRUE(form.has_value());
  EXPECT_NE(ObjectBinaryToText(std::string(*form)).find("Pellory DE"), std::string::npos);
  EXPECT_FALSE(FindResourceData(res, rtRcData, kExeSettingsName).has_value());
  TDLLInfoItem* info = utils->GetCurrentDLLInfo();
  EXPECT_EQ(info->Locale, 0x407u);
  EXPECT_EQ(info->EnglishName, "German");
  EXPECT_EQ(info->Build, 7u);

  utils->RestoreAllModules();
  EXPECT_EQ(FindResourceHInstance(native), native);
  EXPECT_EQ(LoadWide(FindResourceHInstance(native), 65264), L"IMEI:");
  EXPECT_EQ(utils->GetCurrentDLLInfo()->Locale, 9u);
}

TEST_F(LangLibraryWin, OutOfStepLibraryLeavesTheModuleItsOwnResources) {
  TOwned<TLangResource> store = GermanStore();
  GermanFile()->SaveLanguageDLL(nullptr, paths["german"], true, store.get(), paths["old"]);
  bool saved = utils->OnTheFly;
  utils->OnTheFly = false;
  EXPECT_THROW(utils->UseResourceFile(paths["german"]), ELUOutOfVersion);
  utils->OnTheFly = true;
  utils->UseResourceFile(paths["german"]);
  utils->OnTheFly = saved;
  EXPECT_EQ(FindResourceHInstance(native), native);
  EXPECT_EQ(LoadWide(native, 65264), L"IMEI:");
  // The refused library was freed: the file can be replaced.
  EXPECT_TRUE(DeleteFileA(paths["german"].c_str()));
}

// A library with settings the engine can't read is named by its file in the
// error, though the system knows no name for a library loaded as a data file;
// it is freed again, so the file can be replaced.
TEST_F(LangLibraryWin, AnInvalidLibraryIsNamedByItsFile) {
  const std::string truncated = Settings("LDLL", 92).substr(0, 9);
  for (const std::string& settings : {truncated, std::string("JEXE") + Settings("LDLL", 92).substr(4)}) {
    TOwned<TResProcessor> p(New<TResProcessor>());
    p->LoadFromPEImage(LocFixture32());
    p->RCData()->FindItem(kLibSettingsName)->SetData(settings);
    std::ofstream(paths["bad"], std::ios::binary | std::ios::trunc) << p->ResourceDLLImage();
    try {
      utils->UseResourceFile(paths["bad"]);
      ADD_FAILURE() << "no error";
    } catch (const ELUInvalidResLibrary& e) {
      EXPECT_EQ(e.Message, "Invalid resource file format \"" + paths["bad"] + "\"");
    }
    EXPECT_EQ(FindResourceHInstance(native), native);
    EXPECT_TRUE(DeleteFileA(paths["bad"].c_str()));
  }
}

}  // namespace
