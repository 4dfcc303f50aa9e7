// Arbitrary bytes as a JPEG file. The codec must decode it or raise its
// "JPEG error #n", never read outside the data or take unbounded memory; a
// picture it decodes encodes and decodes again to the same size.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "Exceptions.h"
#include "JpegCodec.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view file(reinterpret_cast<const char*>(data), size);
  TDib dib;
  JpegInfo info;
  try {
    dib = DecodeJpeg(file, &info, std::int64_t{1} << 20);
  } catch (const EInvalidGraphic& e) {
    if (e.Message.rfind("JPEG error #", 0) != 0) std::abort();
    return 0;
  }
  if (dib.Width() != info.Width || dib.Height() != info.Height || dib.BitCount() != 24) std::abort();
  const TDib again = DecodeJpeg(EncodeJpeg(dib, 75, info.Grayscale));
  if (again.Width() != dib.Width() || again.Height() != dib.Height()) std::abort();
  return 0;
}
