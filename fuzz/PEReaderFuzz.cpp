// Arbitrary bytes as a PE file: the header checks, the resource tree walk
// with every name and data item, and the resource processor's load, write
// and read-back. Bad input must end in a framework exception, never a read
// outside the image.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "PEReader.h"
#include "ResProc.h"

namespace {

volatile std::uint8_t sink;

void Walk(TPEResourceList* list) {
  for (int i = 0; i < list->Count(); ++i) {
    TPEResourceItem* item = list->Item(i);
    std::string name = item->GetName();
    (void)item->IsNumbered();
    if (item->IsList()) {
      Walk(item->GetList());
      continue;
    }
    std::string_view view = item->GetDataView();
    if (item->GetDataSize() != view.size()) std::abort();
    if (!view.empty()) sink = static_cast<std::uint8_t>(view.front() ^ view.back());
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string image(reinterpret_cast<const char*>(data), size);
  try {
    TPEReader* reader = TPEReader::FromImage(image);
    try {
      TPESection s;
      reader->FindSection(".text", s);
      Walk(reader->GetResources());
    } catch (const Exception&) {
    }
    reader->Free();
  } catch (const Exception&) {
  }
  TResProcessor* processor = New<TResProcessor>();
  try {
    processor->LoadFromPEImage(image);
    std::string written = processor->ResourceDLLImage();
    TResProcessor* again = New<TResProcessor>();
    try {
      again->LoadFromPEImage(written);  // what the writer makes must read back
    } catch (...) {
      std::abort();
    }
    again->Free();
  } catch (const Exception&) {
  }
  processor->Free();
  return 0;
}
