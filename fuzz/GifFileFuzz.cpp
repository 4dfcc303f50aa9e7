// Arbitrary bytes as a GIF file. The first byte chooses whether damaged
// raster data is accepted; the rest is the file. The container must load it
// or raise one of its errors, never read outside the data; every frame of a
// bounded size is decoded to a BMP file; a file loaded without damage stores
// and loads again with the same frames and raster data (raster data that
// ended with the file gets its terminator).
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "Exceptions.h"
#include "QvGIF.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  const bool loadCorrupted = data[0] & 1;
  const std::string_view file(reinterpret_cast<const char*>(data + 1), size - 1);
  TGifContainer gif;
  try {
    LoadGifData(file, loadCorrupted, gif);
  } catch (const Exception&) {
    return 0;
  }
  bool damaged = false;
  for (TGifFrameData& frame : gif.Frames) {
    damaged = damaged || frame.DamagedData;
    if (std::int64_t{frame.Width} * frame.Height > (1 << 20)) continue;
    try {
      DecodeGifFrameToDIB(frame, nullptr, loadCorrupted);
    } catch (const Exception&) {
    }
  }
  if (damaged || gif.Frames.empty()) return 0;
  TGifContainer again;
  LoadGifData(StoreGifData(gif), false, again);
  if (again.Frames.size() != gif.Frames.size()) std::abort();
  for (std::size_t i = 0; i < gif.Frames.size(); ++i)
    if (again.Frames[i].RasterData.substr(0, gif.Frames[i].RasterData.size()) != gif.Frames[i].RasterData) std::abort();
  return 0;
}
