// Building the German language library, as the first start in a language
// does: the native library holds the wizard form (resources/WizardForm.form),
// a string table and the settings; the store comes from the language sources.
// Then loading and installing it: the library is read back and its settings
// are checked against the program's before it becomes the resource module.
#include <chrono>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

#include "LFProc.h"
#include "LangFileWriter.h"
#include "LangSource.h"
#include "LocUtils.h"
#include "ObjectConvert.h"
#include "ResProc.h"

namespace {

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

constexpr ModuleHandle kApp = 0x400000;

// Loads a library file into in-memory resources.
class TMemoryLoader : public TLibraryLoader {
 public:
  explicit TMemoryLoader(MemoryResourceSource& source) : source_(source) {}
  ModuleHandle LoadDataFile(const std::string& path) override {
    TOwned<TResProcessor> p(New<TResProcessor>());
    p->LoadFromPEImage(ReadAll(path));
    const ModuleHandle h = 0x10000001 + 0x10000 * static_cast<ModuleHandle>(++loads_ % 256);
    for (int i = 0; i < p->RCData()->GetCount(); ++i)
      source_.Add(h, rtRcData, p->RCData()->GetItem(i)->GetName(), p->RCData()->GetItem(i)->Data());
    return h;
  }
  void FreeLibrary(ModuleHandle module) override { source_.RemoveModule(module); }
  std::string ModuleFileName(ModuleHandle) override { return {}; }

 private:
  MemoryResourceSource& source_;
  int loads_ = 0;
};

}  // namespace

int main() {
  const std::string dir = PELLORY_SOURCE_DIR "/resources/";
  TOwned<TLangResource> store(New<TLangResource>());
  BuildNativeStore(LoadLangSource(dir + "languages/Pellory.ntv.txt"), *store);
  const TLangSource germanSource = LoadLangSource(dir + "languages/Pellory.de.txt");
  const int german = AddTranslation(germanSource, *store);

  // The native library: every constant's native text, the form and the settings template.
  TOwned<TResProcessor> native(New<TResProcessor>());
  TResString* strings = New<TResString>(native.get());
  native->AddBlock(strings);
  TResRCData* rcdata = New<TResRCData>(native.get());
  native->AddBlock(rcdata);
  TOwned<TLinearConstantList> constants(New<TLinearConstantList>());
  store->Units()->CollectConstants(constants.get(), false);
  for (int i = 0; i < constants->Count(); ++i)
    strings->AddString(constants->GetItem(i)->StringID(), constants->GetItem(i)->GetNativeValue()->WideText());
  rcdata->AddItem("TWIZARDFORM", false)->SetData(ObjectTextToBinary(ReadAll(dir + "WizardForm.form")));
  std::string settings = WriteSettingsResource("LDLL", 92, 9, "English", u"English", 6, 0);
  rcdata->AddItem(kLibSettingsName, false)->SetData(settings);
  const std::string nativePath = "/tmp/pellory-bench-native.dll", libraryPath = "/tmp/pellory-bench-german.dll";
  std::ofstream(nativePath, std::ios::binary) << native->ResourceDLLImage();

  TOwned<TLangFile> file(New<TLangFile>());
  file->LangID = germanSource.Header.LangID;
  file->EnglishName = germanSource.Header.EnglishName;
  file->LocalizedName = germanSource.Header.LocalizedName;
  file->LangIndex = german;
  const int repeat = 200;
  // The reference: the native library read and written back unchanged, the
  // floor under any build that starts from it.
  auto start = std::chrono::steady_clock::now();
  for (int i = 0; i < repeat; ++i) {
    TOwned<TResProcessor> copy(New<TResProcessor>());
    copy->LoadFromPEImage(ReadAll(nativePath));
    std::ofstream(libraryPath, std::ios::binary) << copy->ResourceDLLImage();
  }
  const double copyUs =
      std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - start).count() / repeat;

  start = std::chrono::steady_clock::now();
  for (int i = 0; i < repeat; ++i) file->SaveLanguageDLL(nullptr, libraryPath, true, store.get(), nativePath);
  const double buildUs =
      std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - start).count() / repeat;

  MemoryResourceSource source;
  SetResourceSource(&source);
  RegisterModule(kApp);
  source.Add(kApp, rtRcData, kExeSettingsName, settings.replace(0, 4, "JEXE"));
  TMemoryLoader loader(source);
  TOwned<TJLocUtils> utils(New<TJLocUtils>());
  utils->AppInstance = kApp;
  utils->Loader = &loader;
  start = std::chrono::steady_clock::now();
  for (int i = 0; i < repeat; ++i) utils->UseResourceFile(libraryPath);
  const double installUs =
      std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - start).count() / repeat;
  const bool installed = utils->GetCurrentDLLInfo()->Locale == 0x0407;
  utils->RestoreAllModules();
  SetResourceSource(nullptr);
  std::remove(nativePath.c_str());
  std::remove(libraryPath.c_str());
  if (!installed) {
    std::printf("the German library was not installed\n");
    return 1;
  }
  std::printf(
      "building the German language library: %.1f us (reference, the native library read and written "
      "back: %.1f us); loading and installing it: %.1f us\n",
      buildUs, copyUs, installUs);
  return 0;
}
