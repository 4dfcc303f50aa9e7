// A switch of the running program to German, as the wizard's start-up makes
// it: once when the language library must be built (the first start in the
// language) and once when the library beside the program is reused. The
// program is in-memory resources with the wizard's string table, form,
// settings and embedded language list; the library is a real file, loaded
// back by reading it. The reference is loading the German language data
// alone into a store, measured in the same run.
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>

#include "FileApi.h"
#include "JCompress.h"
#include "LFProc.h"
#include "LangFileWriter.h"
#include "LangSource.h"
#include "LocOnFly.h"
#include "LocUtils.h"
#include "ObjectConvert.h"
#include "ResProc.h"
#include "ResStrings.h"

namespace {

constexpr ModuleHandle kApp = 0x400000;

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

// Loads a library file into in-memory resources, as the system's loader does for a data file.
class TFileLoader : public TLibraryLoader {
 public:
  explicit TFileLoader(MemoryResourceSource& source) : source_(source) {}
  ModuleHandle LoadDataFile(const std::string& path) override {
    if (!FileExists(path)) return 0;
    TOwned<TResProcessor> p(New<TResProcessor>());
    p->LoadFromPEImage(ReadAll(path));
    const ModuleHandle h = 0x10000001 + 0x10000 * static_cast<ModuleHandle>(++loads_ % 256);
    std::map<std::uint16_t, std::u16string[16]> blocks;
    for (int i = 0; i < p->Strings()->StringCount(); ++i) {
      const TResStringItem* s = p->Strings()->GetString(i);
      blocks[StringBlockId(static_cast<std::uint16_t>(s->ID))][StringBlockIndex(static_cast<std::uint16_t>(s->ID))] =
          s->GetText();
    }
    for (const auto& [block, strings] : blocks) source_.Add(h, rtString, block, MakeStringBlock(strings, 16));
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

template <class F>
double MicrosecondsPer(int repeat, F&& f) {
  const auto start = std::chrono::steady_clock::now();
  for (int i = 0; i < repeat; ++i) f();
  return std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - start).count() / repeat;
}

}  // namespace

int main() {
  namespace fs = std::filesystem;
  const std::string dir = PELLORY_SOURCE_DIR "/resources/";
  TOwned<TLangResource> data(New<TLangResource>());
  const TLangSource nativeSource = LoadLangSource(dir + "languages/Pellory.ntv.txt");
  const TLangSource germanSource = LoadLangSource(dir + "languages/Pellory.de.txt");
  BuildNativeStore(nativeSource, *data);
  const int german = AddTranslation(germanSource, *data);
  const std::string nativeImage = WriteLangFileImage(nativeSource.Header, *data, 0);
  const std::string germanImage = WriteLangFileImage(germanSource.Header, *data, german);

  // The program: its string table, the wizard form, the settings and the embedded list.
  MemoryResourceSource source;
  SetResourceSource(&source);
  SetMainInstance(kApp);
  RegisterModule(kApp);
  std::map<std::uint16_t, std::u16string[16]> blocks;
  data->ForEachItem([&](TLResItem* item) {
    if (auto* c = dynamic_cast<TLResConstantItem*>(item)) {
      const auto id = static_cast<std::uint16_t>(c->StringID());
      blocks[StringBlockId(id)][StringBlockIndex(id)] = c->GetNativeValue()->WideText();
    }
  });
  for (const auto& [block, strings] : blocks) source.Add(kApp, rtString, block, MakeStringBlock(strings, 16));
  source.Add(kApp, rtRcData, "TWIZARDFORM", ObjectTextToBinary(ReadAll(dir + "WizardForm.form")));
  source.Add(kApp, rtRcData, kExeSettingsName, WriteSettingsResource("JEXE", 92, 9, "English", u"English", 6, 0));
  source.Add(kApp, rtRcData, kLibSettingsName, WriteSettingsResource("LDLL", 92, 9, "English", u"English", 6, 0));
  source.Add(kApp, rtRcData, kLocLangsName,
             WriteEmbeddedLanguageList({{9, "English", u"English", LzjCompress(nativeImage)},
                                        {0x0407, "German", u"Deutsch", LzjCompress(germanImage)}},
                                       4, 92));
  TResProcessor::SetModuleResourceReader([&source](void* module) {
    std::vector<TResListEntry> out;
    const auto m = reinterpret_cast<ModuleHandle>(module);
    for (std::uint16_t type : {rtString, rtRcData})
      for (const ResourceId& name : source.EnumNames(m, type)) {
        TResListEntry e;
        e.Type = type;
        e.Numbered = name.isId;
        e.Name = name.isId ? std::to_string(name.id) : name.name;
        e.Data = *source.Find(m, type, name);
        out.push_back(e);
      }
    return out;
  });

  const fs::path folder = fs::temp_directory_path() / "pellory-bench-onfly";
  fs::remove_all(folder);
  fs::create_directories(folder / "Languages");
  TFileLoader loader(source);
  SetLocUtilsLoader(&loader);
  InitLocUtils();
  JLocUtils()->AppFileName = (folder / "Pellory.exe").string();
  const std::string library = (folder / "Pellory.DEU").string();
  InitLocOnFly();
  TJLocalizerOnFly* localizer = LocalizerOnFly();
  localizer->ErrorMode = 0;
  localizer->Initialize((folder / "Languages").string());

  const int repeat = 100;
  double buildUs = 0, reuseUs = 0;
  for (int i = 0; i < repeat; ++i) {
    localizer->SwitchToLocale(9);
    fs::remove(library);
    buildUs += MicrosecondsPer(1, [&] { localizer->SwitchToLocale(0x0407); });
  }
  for (int i = 0; i < repeat; ++i) {
    localizer->SwitchToLocale(9);
    reuseUs += MicrosecondsPer(1, [&] { localizer->SwitchToLocale(0x0407); });
  }
  const bool switched = LoadStr(65295) == "Weiter >";
  const double dataUs = MicrosecondsPer(repeat, [&] {
    TOwned<TLangResource> store(New<TLangResource>());
    TOwned<TLangFile> file(New<TLangFile>());
    file->LoadFromBytes(nativeImage, store.get(), 0, -1);
    file->LoadFromBytes(germanImage, store.get(), 0, store->AddLanguage(0, 0x0407));
  });

  DoneLocOnFly();
  JLocUtils()->RestoreAllModules();
  DoneLocUtils();
  SetLocUtilsLoader(nullptr);
  TResProcessor::SetModuleResourceReader(nullptr);
  SetResourceSource(nullptr);
  fs::remove_all(folder);
  if (!switched) {
    std::printf("the switch to German did not take\n");
    return 1;
  }
  std::printf(
      "switching to German: %.1f us building the library, %.1f us reusing it "
      "(reference: loading the English and German data alone, %.1f us)\n",
      buildUs / repeat, reuseUs / repeat, dataUs);
  return 0;
}
