// Arbitrary bytes as a module option stream: the first two bytes give the data
// version, the rest is the stream. Bad input ends in a read error, never a
// read past the stream or an allocation the stream cannot back.
#include <cstddef>
#include <cstdint>

#include "ECore.h"
#include "Streams.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 2) return 0;
  SetOptionStreamVersion(static_cast<std::uint16_t>(data[0] | (data[1] << 8)));
  TOwned<TVantorModuleOptions> options(New<TVantorModuleOptions>(""));
  TOwned<TReadOnlyMemoryStream> s(New<TReadOnlyMemoryStream>(data + 2, size - 2));
  try {
    options->LoadFromStream(*s);
  } catch (const Exception&) {
  }
  return 0;
}
