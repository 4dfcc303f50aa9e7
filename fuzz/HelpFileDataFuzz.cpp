// Arbitrary bytes as the help-context map's "FileData" value: either the
// stated length fits the data and exactly those bytes become the table (and
// are stored back unchanged), or the read raises EReadError.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "QhrContextMap.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  TOwned<THelpContextMap> map(New<THelpContextMap>(nullptr));
  TOwned<TReadOnlyMemoryStream> in(New<TReadOnlyMemoryStream>(data, size));
  try {
    map->LoadFileData(*in);
  } catch (const EReadError&) {
    return 0;
  }
  const std::string consumed(reinterpret_cast<const char*>(data), static_cast<std::size_t>(in->Position()));
  TOwned<TStringStream> out(New<TStringStream>());
  map->StoreFileData(*out);
  if (out->DataString() != consumed) std::abort();
  return 0;
}
