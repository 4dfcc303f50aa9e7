// Arbitrary bytes as GIF raster data. The first five bytes choose the picture:
// byte 0 bit 0 interlaced, bit 1 damaged data accepted, bits 2-3 the pixel
// bits (1, 4, 8, 8), bits 4-6 the colour bits less one; bytes 1-2 and 3-4 the
// width and height (little-endian, each modulo 513). The rest is the raster
// stream. The decoder must decode it or raise one of its errors, never touch
// memory outside its buffers; whatever it decoded must encode and decode
// back to the same pixels.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "GifLzw.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 5) return 0;
  const bool interlaced = data[0] & 1;
  const bool acceptDamage = data[0] & 2;
  static const std::uint16_t kBits[] = {1, 4, 8, 8};
  TBitmapInfoHeader header;
  header.biBitCount = kBits[(data[0] >> 2) & 3];
  const int colorBits = ((data[0] >> 4) & 7) + 1;
  header.biWidth = (data[1] | (data[2] << 8)) % 513;
  header.biHeight = (data[3] | (data[4] << 8)) % 513;

  std::vector<std::uint8_t> pixels(LzwPixelBufferSize(header));
  bool corrupt = false;
  try {
    TOwned<TReadOnlyMemoryStream> source(New<TReadOnlyMemoryStream>(data + 5, size - 5));
    LZWDecode(*source, header, interlaced, nullptr, corrupt, pixels, colorBits, acceptDamage);
  } catch (const EInvalidGraphicOperation&) {
    if (acceptDamage) std::abort();  // accepted damage raises no codec error
    return 0;
  } catch (const EReadError&) {
    if (acceptDamage && size > 5) std::abort();
    return 0;
  }

  // Padding bits past each row's pixels stay zero, so the round trip compares whole buffers.
  TOwned<TMemoryStream> encoded(New<TMemoryStream>());
  LZWEncode(*encoded, header, interlaced, nullptr, pixels);
  std::vector<std::uint8_t> back(pixels.size());
  TOwned<TReadOnlyMemoryStream> again(
      New<TReadOnlyMemoryStream>(encoded->Memory(), static_cast<std::size_t>(encoded->Size())));
  bool corruptAgain = true;
  LZWDecode(*again, header, interlaced, nullptr, corruptAgain, back, header.biBitCount, false);
  if (corruptAgain || back != pixels) std::abort();
  return 0;
}
