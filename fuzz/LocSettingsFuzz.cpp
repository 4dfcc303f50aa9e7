// Arbitrary bytes as a settings resource: the settings reader and the
// library builder's template reader. Bad input must end in the engine's
// exceptions, never a read past the data.
#include <cstddef>
#include <cstdint>
#include <string>

#include "LFProc.h"
#include "LocUtils.h"
#include "ResProc.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string bytes(reinterpret_cast<const char*>(data), size);
  TOwned<TMemoryStream> stream(New<TMemoryStream>());
  stream->WriteBytes(bytes);
  TOwned<TDLLInfoItem> item(New<TDLLInfoItem>());
  try {
    ReadModuleSettings(*stream, *item, "fuzz.dll");
  } catch (const ELocUtilsError&) {
  }

  TOwned<TResProcessor> resources(New<TResProcessor>());
  TResRCData* rcdata = New<TResRCData>(resources.get());
  resources->AddBlock(rcdata);
  rcdata->AddItem(kLibSettingsName, false)->SetData(bytes);
  TOwned<TLangFile> file(New<TLangFile>());
  file->LangID = 0x0407;
  file->EnglishName = "German";
  file->LocalizedName = u"Deutsch";
  try {
    std::uint16_t kind = kDefaultLibraryKind;
    if (file->ReadLibSettingsTemplate(resources.get(), kind)) file->WriteLibSettings(resources.get(), kind);
  } catch (const ELFProcError&) {
  }
  return 0;
}
