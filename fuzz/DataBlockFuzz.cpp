// Arbitrary bytes as the exception-reporting library's data block: the first
// byte chooses the resource form or the file-trailer form (the rest is the
// block, or a module file that ends in one); each is read fully and in a light
// scan. A lying block must read as no block, never past its bytes.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "ExceptionLog.h"
#include "Streams.h"

namespace {
void ReadAs(std::string_view bytes, bool trailer, bool light) {
  TVantorModuleInfo entry;
  entry.FileName = "fuzz.dll";
  TDataBlockReading how;
  how.LightScan = light;
  how.IsOwnModule = false;
  how.FirstPasswordSource = [] { return std::string("pw"); };
  if (trailer) {
    TOwned<TReadOnlyMemoryStream> s(New<TReadOnlyMemoryStream>(bytes.data(), bytes.size()));
    ReadTrailerDataBlock(*s, entry, how);
  } else {
    ReadResourceDataBlock(bytes, entry, how);
  }
  FreeAndNil(entry.Options);
  FreeAndNil(entry.DebugData);
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  const bool trailer = data[0] & 1;
  std::string_view bytes(reinterpret_cast<const char*>(data + 1), size - 1);
  ReadAs(bytes, trailer, false);
  ReadAs(bytes, trailer, true);
  return 0;
}
