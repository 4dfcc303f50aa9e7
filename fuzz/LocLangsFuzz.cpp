// Arbitrary bytes as the program's embedded language list "WQM_LOC_LANGS_":
// the list is read, a block extracted and loaded into a store. Bad input
// must end in the localizer's or the language files' exceptions, never a
// read past the resource.
#include <cstddef>
#include <cstdint>
#include <string>

#include "JCompress.h"
#include "LFProc.h"
#include "LangRes.h"
#include "LocOnFly.h"
#include "Modules.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  constexpr ModuleHandle kProgram = 0x400000;
  static MemoryResourceSource* source = [] {
    auto* s = new MemoryResourceSource;
    SetResourceSource(s);
    return s;
  }();
  // An exact-size heap copy, so that a read past the resource shows.
  source->Add(kProgram, rtRcData, kLocLangsName, std::string(reinterpret_cast<const char*>(data), size));
  TOwned<TJLocalizerOnFly> localizer(New<TJLocalizerOnFly>());
  for (std::uint32_t locale : {0u, 0x0407u}) {
    TOwned<TLangResource> store(New<TLangResource>());
    TOwned<TLangFile> file(New<TLangFile>());
    try {
      if (locale == 0) {
        TOwned<TMemoryStream> image(New<TMemoryStream>());
        localizer->ExtractEmbeddedLanguage(kProgram, locale, lefAddToList, image.get());
      }
      localizer->ExtractIntoStore(kProgram, 0, 0, store.get(), *file);
      localizer->ExtractIntoStore(kProgram, locale, lefAddToList, store.get(), *file);
    } catch (const ELocOnFlyError&) {
    } catch (const ELFProcError&) {
    } catch (const EJCompressError&) {
    } catch (const ELangResError&) {
    } catch (const EReadError&) {
    }
  }
  return 0;
}
