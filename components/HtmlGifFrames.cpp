#include "HtmlGifFrames.h"

#include "ByteReader.h"

namespace {

// The descriptor's last byte is at p + 16.
bool FrameStartsAt(std::string_view data, std::size_t p) {
  return p + 16 < data.size() && static_cast<std::uint8_t>(data[p]) == 0x21 &&
         static_cast<std::uint8_t>(data[p + 1]) == 0xF9 && data[p + 2] == 4 &&
         static_cast<std::uint8_t>(data[p + 8]) == 0x2C;
}

}  // namespace

bool HasGifSignature(std::string_view data) {
  return data.size() > 4 && data.substr(0, 4) == "GIF8";
}

int CountGifFrames(std::string_view data) {
  if (!HasGifSignature(data)) return -1;
  int count = 0;
  for (std::size_t p = 0; p < data.size(); ++p)
    if (FrameStartsAt(data, p)) ++count;
  return count;
}

GifFrameSelection SelectGifFrame(std::string_view data, int frame) {
  GifFrameSelection out;
  ByteReader reader(data);
  if (data.size() >= 10) {
    reader.Seek(6);
    out.screenWidth = reader.U16LE();
    out.screenHeight = reader.U16LE();
  }
  out.bytes.reserve(data.size());
  int i = 1;
  bool skipping = false;
  for (std::size_t p = 0; p < data.size(); ++p) {
    if (FrameStartsAt(data, p)) {
      if (i == frame) {
        reader.Seek(p + 9);
        out.left = reader.U16LE();
        out.top = reader.U16LE();
        out.width = reader.U16LE();
        out.height = reader.U16LE();
      }
      ++i;
      skipping = frame >= i;
    }
    if (!skipping) out.bytes += data[p];
  }
  return out;
}
