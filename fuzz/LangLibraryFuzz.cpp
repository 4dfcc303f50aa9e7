// Arbitrary bytes as the native library of a German language library: the
// PE reader, the settings template, the string translation and the form
// processor all see outside data. Bad input must end in the engine's
// exceptions, never a read past the data.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

#include "LFProc.h"
#include "LangRes.h"
#include "Streams.h"

namespace {

void SetValue(TLResItem* item, int index, const std::u16string& text) {
  item->GetValue(index)->SetWideText(text);
  item->GetValue(index)->SetStamp(5);
}

TLangResource* GermanStore() {
  TLangResource* s = New<TLangResource>();
  s->SetNativeLocale(9);
  TLResUnitItem* main = s->Units()->FindOrAdd("Main");
  TLResConstantItem* imei = main->Constants()->FindOrAdd(1, "SIMEI", 65264);
  TLResConstantItem* next = main->Constants()->FindOrAdd(2, "SNext", 65295);
  TLResFormItem* form = s->Forms()->FindOrAdd("WizardForm");
  TLResPropertyItem* caption = form->AddProperty("", 3, "Caption", lvkWideString);
  TLResPropertyItem* items = form->AddProperty("rgType", 4, "Items.Strings", lvkWideString);
  SetValue(imei, 0, u"IMEI:");
  SetValue(next, 0, u"Next >");
  SetValue(caption, 0, u"Pellory");
  SetValue(items, 0, u"Cable\r\nInfrared");
  s->AddLanguage(0, 0x0407);
  SetValue(imei, 1, u"IMEI-Nr.:");
  SetValue(next, 1, u"Weiter >");
  SetValue(caption, 1, u"Pellory \u00FC");
  SetValue(items, 1, u"Kabel\r\nInfrarot");
  return s;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static TLangResource* store = GermanStore();
  static const std::string path = "/tmp/pellory-fuzz-native-" + std::to_string(getpid()) + ".dll";
  if (FILE* f = std::fopen(path.c_str(), "wb")) {
    std::fwrite(data, 1, size, f);
    std::fclose(f);
  } else {
    return 0;
  }
  TOwned<TLangFile> file(New<TLangFile>());
  file->LangID = 0x0407;
  file->EnglishName = "German";
  file->LocalizedName = u"Deutsch";
  file->Build = 7;
  file->LangIndex = 1;
  file->Attributes = size > 0 ? static_cast<std::uint16_t>(data[0] & 0x03) : 0;
  file->LibraryTimeStamp = 1;
  TOwned<TMemoryStream> out(New<TMemoryStream>());
  try {
    file->BuildLanguageDLL(nullptr, *out, true, store, path);
  } catch (const Exception&) {
  }
  return 0;
}
