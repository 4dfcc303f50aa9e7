// Arbitrary bytes as a language file (plain or LZJ-compressed): the header
// reader, a native load (create mode) and a translation load by IDs and by
// names. Bad input must end in a framework exception, never a read past the
// data; what a native load accepted must write back and load again.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "LFProc.h"
#include "LangFileWriter.h"

namespace {}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string bytes(reinterpret_cast<const char*>(data), size);
  TLangResource* store = New<TLangResource>();
  TLangFile* file = New<TLangFile>();
  try {
    file->ReadHeader(bytes, true);
    file->LoadFromBytes(bytes, store, lfoRenumberUsedIDs, -1);
    TLangFileHeader h;
    h.Format = file->FormatVersion;
    h.LangID = static_cast<std::uint16_t>(file->LangID);
    std::string again = WriteLangFileImage(h, *store, 0);
    int index = store->AddLanguage(0, 0x0407);
    file->LoadFromBytes(again, store, 0, index);
    file->LoadFromBytes(bytes, store, lfoMatchByName, index);
  } catch (const Exception&) {
  }
  file->Free();
  store->Free();
  return 0;
}
