// Arbitrary bytes as a GIF picture's form data (and clipboard data): a 32-bit
// length, then that many bytes of GIF file. A length that does not fit must
// fail before it is allocated; a file read from it loads or raises one of the
// container's errors; what loads without damage is written back with its
// length and reads again to the same frames.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "Exceptions.h"
#include "QvGIF.h"
#include "Streams.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  TOwned<TReadOnlyMemoryStream> stream(New<TReadOnlyMemoryStream>(data, size));
  std::string file;
  try {
    file = ReadLengthPrefixedGif(*stream);
  } catch (const EReadError&) {
    return 0;
  }
  if (file.size() + 4 > size) std::abort();  // more than the data held
  TGifContainer gif;
  try {
    LoadGifData(file, true, gif);
  } catch (const Exception&) {
    return 0;
  }
  bool damaged = false;
  for (TGifFrameData& frame : gif.Frames) {
    damaged = damaged || frame.DamagedData;
    if (std::int64_t{frame.Width} * frame.Height > (1 << 20)) continue;
    try {
      DecodeGifFrameToDIB(frame, nullptr, true);
    } catch (const Exception&) {
    }
  }
  if (damaged || gif.Frames.empty()) return 0;
  const std::string written = LengthPrefixed(StoreGifData(gif));
  TOwned<TReadOnlyMemoryStream> again(New<TReadOnlyMemoryStream>(written.data(), written.size()));
  TGifContainer back;
  LoadGifData(ReadLengthPrefixedGif(*again), false, back);
  if (again->Position() != again->Size() || back.Frames.size() != gif.Frames.size()) std::abort();
  return 0;
}
