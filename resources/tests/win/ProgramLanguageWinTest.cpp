// A German library built from this program's own resources with the German
// language file, installed as the program's resource module and taken back.
#include <windows.h>

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>

#include "Graphics.h"
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

std::string Folder() {
  char path[MAX_PATH];
  DWORD n = GetModuleFileNameA(nullptr, path, MAX_PATH);
  std::string s(path, n);
  return s.substr(0, s.find_last_of("\\/") + 1);
}

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

std::wstring LoadWide(ModuleHandle m, UINT id) {
  wchar_t buffer[512];
  int n = LoadStringW(reinterpret_cast<HMODULE>(m), id, buffer, 512);
  return std::wstring(buffer, static_cast<std::size_t>(n > 0 ? n : 0));
}

TEST(ProgramLanguage, GermanLibraryFromTheRunningProgram) {
  InitWin32Platform();
  InstallWinLocaleServices();
  InstallModuleResourceReader();
  InitWinLocUtils();
  TJLocUtils* utils = JLocUtils();
  ASSERT_NE(utils, nullptr);
  const ModuleHandle self = reinterpret_cast<ModuleHandle>(GetModuleHandleA(nullptr));
  ASSERT_EQ(utils->AppInstance, self);

  TOwned<TLangResource> store(New<TLangResource>());
  TOwned<TLangFile> native(New<TLangFile>(Folder() + "Pellory.ntv.lng", true));
  native->LoadIntoResource(store.get(), -1, 0);
  TOwned<TLangFile> german(New<TLangFile>(Folder() + "Pellory.deu.lng", true));
  ASSERT_EQ(german->LangID, 0x0407u);
  german->LangIndex = store->AddLanguage(0, 0x0407);
  german->LoadIntoResource(store.get(), german->LangIndex, 0);

  const std::string library = Folder() + "Pellory.deu";
  german->SaveLanguageDLL(reinterpret_cast<void*>(self), library, true, store.get(), "");
  const std::wstring english65264 = LoadWide(self, 65264), english65295 = LoadWide(self, 65295);
  utils->UseResourceFile(library);
  const ModuleHandle res = FindResourceHInstance(self);
  ASSERT_NE(res, self);
  EXPECT_EQ(LoadWide(res, 65264), L"IMEI:");
  EXPECT_EQ(LoadWide(res, 65295), L"Weiter >");
  int present = 0;
  for (UINT id = 65264; id <= 65295; ++id) {
    if (LoadWide(self, id).empty()) continue;
    ++present;
    EXPECT_FALSE(LoadWide(res, id).empty()) << id;
  }
  EXPECT_GE(present, 12);
  EXPECT_NE(LoadWide(res, 65286), LoadWide(self, 65286));
  EXPECT_EQ(LoadWide(res, 65294), L"Fertig stellen");
  auto form = FindResourceData(res, rtRcData, "TWIZARDFORM");
  ASSERT_TRUE(form.has_value());
  EXPECT_NE(ObjectBinaryToText(std::string(*form)).find("Abbrechen"), std::string::npos);
  EXPECT_FALSE(FindResourceData(res, rtRcData, "WQM_EXESETTINGS_").has_value());
  // Pictures stay the program's own: the framework's bitmap reads them from the module as given.
  TOwned<TBitmap> phone(New<TBitmap>());
  EXPECT_NO_THROW(phone->LoadFromResourceName(GetModuleHandleA(nullptr), "PHONE0"));
  EXPECT_EQ(phone->GetWidth(), 48);
  EXPECT_EQ(phone->GetHeight(), 48);
  TDLLInfoItem* info = utils->GetCurrentDLLInfo();
  EXPECT_EQ(info->Locale, 0x0407u);
  EXPECT_EQ(info->EnglishName, "German");
  EXPECT_EQ(info->Build, german->Build);

  utils->RestoreAllModules();
  EXPECT_EQ(FindResourceHInstance(self), self);
  EXPECT_EQ(LoadWide(FindResourceHInstance(self), 65264), english65264);
  EXPECT_EQ(LoadWide(FindResourceHInstance(self), 65295), english65295);
  EXPECT_EQ(utils->GetCurrentDLLInfo()->Locale, 9u);

  // The module road and the file road agree: a native library written from
  // this program's string table and RCDATA gives the same library, byte for byte.
  german->LibraryTimeStamp = 0x2A2A2A2A;
  german->SaveLanguageDLL(reinterpret_cast<void*>(self), library, true, store.get(), "");
  TOwned<TResProcessor> own(New<TResProcessor>());
  own->LoadFromModule(reinterpret_cast<void*>(self));
  own->TimeStamp = 0x2A2A2A2A;
  const std::string nativeFile = Folder() + "Pellory.native-copy.dll";
  std::ofstream(nativeFile, std::ios::binary) << own->ResourceDLLImage();
  const std::string fromFile = Folder() + "Pellory.deu-from-file";
  german->SaveLanguageDLL(nullptr, fromFile, true, store.get(), nativeFile);
  EXPECT_EQ(ReadAll(fromFile), ReadAll(library));
  EXPECT_FALSE(ReadAll(library).empty());

  // A library whose settings carry another version is out of step: the
  // program keeps its own resources.
  TOwned<TResProcessor> stale(New<TResProcessor>());
  stale->LoadFromPEFile(library);
  stale->RCData()
      ->FindItem("WQM_LIBSETTINGS_")
      ->SetData(WriteSettingsResource("LDLL", 91, 0x0407, "German", u"Deutsch", 6, german->Build));
  std::ofstream(fromFile, std::ios::binary | std::ios::trunc) << stale->ResourceDLLImage();
  const bool onTheFly = utils->OnTheFly;
  utils->OnTheFly = true;
  utils->UseResourceFile(fromFile);
  utils->OnTheFly = onTheFly;
  EXPECT_EQ(FindResourceHInstance(self), self);
  EXPECT_EQ(LoadWide(self, 65295), english65295);

  EXPECT_TRUE(DeleteFileA(library.c_str()));
  EXPECT_TRUE(DeleteFileA(fromFile.c_str()));
  EXPECT_TRUE(DeleteFileA(nativeFile.c_str()));
}

}  // namespace
