// Arbitrary bytes as an animated cursor file. The icons come from a factory
// that accepts an icon file with at least one directory entry (its first
// entry giving the size) and raises for a first entry of width 255, so both
// the kept and the dropped icon roads run. The parser must load the file or
// raise its read error, never read outside the data, and keep only frames
// with an icon.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string_view>

#include "AniFile.h"
#include "ByteReader.h"
#include "Exceptions.h"

namespace {

class SizedIcon : public AniIcon {
 public:
  SizedIcon(int w, int h) : w_(w), h_(h) {}
  int Width() const override { return w_; }
  int Height() const override { return h_; }

 private:
  int w_, h_;
};

class Factory : public AniIconFactory {
 public:
  std::shared_ptr<AniIcon> LoadIcon(std::string_view file) override {
    ByteReader r(file);
    if (file.size() < 22 || r.U16LEAt(2) != 1 || r.U16LEAt(4) == 0) return nullptr;
    if (r.U8At(6) == 255) throw EInvalidGraphic("Bitmap image is not valid");
    return std::make_shared<SizedIcon>(r.U8At(6), r.U8At(7));
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  Factory icons;
  TAniCursor cursor;
  try {
    LoadAniCursor(std::string_view(reinterpret_cast<const char*>(data), size), icons, cursor);
  } catch (const EReadError&) {
    return 0;
  }
  if (size > 0 && cursor.Frames.empty()) std::abort();
  for (const TAniFrame& f : cursor.Frames)
    if (!f.Icon) std::abort();
  if (cursor.Header.Steps != cursor.Frames.size() || cursor.NameText.size() > 255 || cursor.ArtistText.size() > 255)
    std::abort();
  return 0;
}
