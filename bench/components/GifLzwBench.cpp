// GIF raster decoding beside giflib on the same files: the committed GIF
// fixtures (two with minimum code sizes below their colour bits) and two
// generated 2048 × 2048 pictures (8-bit and 1-bit). giflib
// reads a whole file (DGifSlurp: blocks, colour tables, raster into one byte
// per pixel); ours walks the same blocks and decodes each image's raster into
// a zeroed DIB pixel buffer. Goal: ours at least as fast (ratio >= 1.00).
// The encoder's throughput on the generated pictures is printed beside it.
// Then a whole load of a multi-frame GIF: ours reads the container and builds
// every frame's BMP file; giflib slurps the file and expands every frame's
// indexes through its colour map to RGB.
#include <gif_lib.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "ByteReader.h"
#include "ByteWriter.h"
#include "GifLzw.h"
#include "QvGIF.h"
#include "Streams.h"

namespace {

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

template <class F>
double Seconds(F&& f) {
  // Repeats for at least 50 ms; the time of one run.
  int runs = 0;
  auto start = std::chrono::steady_clock::now();
  double elapsed = 0;
  do {
    f();
    ++runs;
    elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  } while (elapsed < 0.05);
  return elapsed / runs;
}

// The two decoders measured in turns, five times each; the fastest turn of
// each counts, so that a busy machine slows neither side alone.
template <class F, class G>
std::pair<double, double> Compare(F&& a, G&& b) {
  double ta = 1e9, tb = 1e9;
  for (int turn = 0; turn < 5; ++turn) {
    ta = std::min(ta, Seconds(a));
    tb = std::min(tb, Seconds(b));
  }
  return {ta, tb};
}

// ---- giflib -------------------------------------------------------------------------------------

struct TMemory {
  const std::string* data;
  std::size_t pos;
};

int ReadMemory(GifFileType* gif, GifByteType* buf, int len) {
  auto* m = static_cast<TMemory*>(gif->UserData);
  std::size_t n = std::min(static_cast<std::size_t>(len), m->data->size() - m->pos);
  std::copy_n(m->data->data() + m->pos, n, buf);
  m->pos += n;
  return static_cast<int>(n);
}

// Pixels decoded (a checksum keeps the work from being optimised away).
std::uint64_t GiflibDecode(const std::string& file) {
  TMemory m{&file, 0};
  int error = 0;
  GifFileType* gif = DGifOpen(&m, ReadMemory, &error);
  if (!gif) return 0;
  std::uint64_t sum = 0;
  if (DGifSlurp(gif) == GIF_OK)
    for (int i = 0; i < gif->ImageCount; ++i) {
      const SavedImage& img = gif->SavedImages[i];
      sum += img.RasterBits[0] + static_cast<std::uint64_t>(img.ImageDesc.Width) * img.ImageDesc.Height;
    }
  DGifCloseFile(gif, &error);
  return sum;
}

// The whole file with every frame's pixels expanded to RGB through its colour map.
std::uint64_t GiflibLoad(const std::string& file, std::vector<std::uint8_t>& rgb) {
  TMemory m{&file, 0};
  int error = 0;
  GifFileType* gif = DGifOpen(&m, ReadMemory, &error);
  if (!gif) return 0;
  std::uint64_t sum = 0;
  if (DGifSlurp(gif) == GIF_OK)
    for (int i = 0; i < gif->ImageCount; ++i) {
      const SavedImage& img = gif->SavedImages[i];
      const ColorMapObject* map = img.ImageDesc.ColorMap ? img.ImageDesc.ColorMap : gif->SColorMap;
      if (!map) continue;
      const std::size_t n = static_cast<std::size_t>(img.ImageDesc.Width) * img.ImageDesc.Height;
      rgb.resize(3 * n);
      for (std::size_t k = 0; k < n; ++k) {
        const GifColorType& c = map->Colors[img.RasterBits[k] % map->ColorCount];
        rgb[3 * k] = c.Red;
        rgb[3 * k + 1] = c.Green;
        rgb[3 * k + 2] = c.Blue;
      }
      sum += rgb[0] + n;
    }
  DGifCloseFile(gif, &error);
  return sum;
}

// ---- ours ---------------------------------------------------------------------------------------

// The container, then every frame's BMP file.
std::uint64_t OurLoad(const std::string& file) {
  TGifContainer gif;
  LoadGifData(file, true, gif);
  std::uint64_t sum = 0;
  for (TGifFrameData& frame : gif.Frames) {
    const std::string bmp = DecodeGifFrameToDIB(frame, nullptr, true);
    sum += static_cast<std::uint8_t>(bmp.back()) + static_cast<std::uint64_t>(frame.Width) * frame.Height;
  }
  return sum;
}

int SkipTable(ByteReader& r, std::uint8_t flags) {
  if (!(flags & 0x80)) return 0;
  int bits = (flags & 7) + 1;
  r.Skip(3u << bits);
  return bits;
}

void SkipSubBlocks(ByteReader& r) {
  for (std::uint8_t n = r.U8(); n != 0; n = r.U8()) r.Skip(n);
}

std::uint64_t OurDecode(const std::string& file, std::vector<std::uint8_t>& pixels) {
  ByteReader r(file);
  r.Skip(10);
  int globalBits = SkipTable(r, [&] {
    std::uint8_t f = r.U8();
    r.Skip(2);
    return f;
  }());
  std::uint64_t sum = 0;
  for (;;) {
    std::uint8_t intro = r.U8();
    if (intro == 0x21) {
      r.Skip(1);
      SkipSubBlocks(r);
    } else if (intro == 0x2C) {
      r.Skip(4);
      TBitmapInfoHeader h;
      h.biWidth = r.U16LE();
      h.biHeight = r.U16LE();
      std::uint8_t flags = r.U8();
      int colorBits = SkipTable(r, flags);
      if (colorBits == 0) colorBits = globalBits;
      h.biBitCount = static_cast<std::uint16_t>(colorBits == 1 ? 1 : colorBits <= 4 ? 4 : 8);
      std::size_t start = r.Position();
      r.Skip(1);
      SkipSubBlocks(r);
      pixels.assign(LzwPixelBufferSize(h), 0);
      TOwned<TReadOnlyMemoryStream> raster(New<TReadOnlyMemoryStream>(file.data() + start, r.Position() - start));
      bool corrupt = false;
      LZWDecode(*raster, h, (flags & 0x40) != 0, nullptr, corrupt, pixels, colorBits, false);
      sum += pixels[0] + static_cast<std::uint64_t>(h.biWidth) * h.biHeight;
    } else {
      return sum;
    }
  }
}

// ---- Generated pictures -------------------------------------------------------------------------

std::string MakeGif(const TBitmapInfoHeader& h, int colorBits, const std::string& raster) {
  std::string out = "GIF89a";
  ByteWriter w(out);
  w.U16LE(static_cast<std::uint16_t>(h.biWidth));
  w.U16LE(static_cast<std::uint16_t>(h.biHeight));
  w.U8(static_cast<std::uint8_t>(0x80 | ((colorBits - 1) << 4) | (colorBits - 1)));
  w.U8(0);
  w.U8(0);
  for (int i = 0; i < (1 << colorBits); ++i) {
    w.U8(static_cast<std::uint8_t>(i * 255 / ((1 << colorBits) - 1)));
    w.U8(static_cast<std::uint8_t>(i));
    w.U8(static_cast<std::uint8_t>(255 - i));
  }
  w.U8(0x2C);
  w.U32LE(0);
  w.U16LE(static_cast<std::uint16_t>(h.biWidth));
  w.U16LE(static_cast<std::uint16_t>(h.biHeight));
  w.U8(0);
  out += raster;
  w.U8(0x3B);
  return out;
}

// Photo-like indexes: smooth shading with a little noise (8 bits), or that
// shading ordered-dithered to two levels (1 bit).
std::vector<std::uint8_t> MakePixels(const TBitmapInfoHeader& h) {
  std::mt19937 rng(7);
  std::size_t stride = static_cast<std::size_t>(DibRowStride(static_cast<std::uint64_t>(h.biWidth), h.biBitCount));
  std::vector<std::uint8_t> px(stride * static_cast<std::size_t>(h.biHeight), 0);
  static const int bayer[4][4] = {{0, 8, 2, 10}, {12, 4, 14, 6}, {3, 11, 1, 9}, {15, 7, 13, 5}};
  for (int y = 0; y < h.biHeight; ++y)
    for (int x = 0; x < h.biWidth; ++x) {
      double v = 128 + 60 * std::sin(x / 97.0) * std::cos(y / 143.0) + 50 * std::sin((x + y) / 311.0);
      int shade = std::clamp(static_cast<int>(v) + static_cast<int>(rng() % 5) - 2, 0, 255);
      std::uint8_t* row = px.data() + static_cast<std::size_t>(y) * stride;
      if (h.biBitCount == 8)
        row[x] = static_cast<std::uint8_t>(shade);
      else if (shade / 16 > bayer[y & 3][x & 3])
        row[x / 8] = static_cast<std::uint8_t>(row[x / 8] | (0x80 >> (x % 8)));
    }
  return px;
}

struct TSample {
  std::string name;
  std::string file;
};

}  // namespace

int main() {
  std::vector<TSample> samples;
  for (const char* name :
       {"tai-ku", "logoMed", "pwrdLogo100", "left", "back", "bomb", "CMakeLogo", "lzw2-g8", "lzw3-l8"})
    samples.push_back(
        {name, ReadFile(std::string(PELLORY_SOURCE_DIR) + "/components/tests/fixtures/gif/" + name + ".gif")});

  std::printf("encoding 2048 x 2048 pictures:\n");
  for (int bits : {8, 1}) {
    TBitmapInfoHeader h;
    h.biWidth = 2048;
    h.biHeight = 2048;
    h.biBitCount = static_cast<std::uint16_t>(bits);
    std::vector<std::uint8_t> px = MakePixels(h);
    std::string raster;
    double t = 1e9;
    for (int turn = 0; turn < 3; ++turn)
      t = std::min(t, Seconds([&] {
                     TOwned<TMemoryStream> out(New<TMemoryStream>());
                     LZWEncode(*out, h, false, nullptr, px);
                     raster = out->DataString();
                   }));
    std::printf("  %d-bit: %8.1f Mpixel/s, %zu bytes of raster data\n", bits, 2048.0 * 2048.0 / t / 1e6, raster.size());
    samples.push_back({"generated " + std::to_string(bits) + "-bit 2048x2048", MakeGif(h, bits, raster)});
  }

  std::printf("decoding (time per file; ratio = giflib time / ours, goal >= 1.00):\n");
  std::vector<std::uint8_t> pixels;
  double oursTotal = 0, giflibTotal = 0, worst = 1e9;
  for (const TSample& s : samples) {
    std::uint64_t a = 0, b = 0;
    auto [ours, theirs] = Compare([&] { a = OurDecode(s.file, pixels); }, [&] { b = GiflibDecode(s.file); });
    if (a == 0 || b == 0) {
      std::printf("  %s: a decoder failed\n", s.name.c_str());
      return 1;
    }
    oursTotal += ours;
    giflibTotal += theirs;
    worst = std::min(worst, theirs / ours);
    std::printf("  %-28s ours %9.1f us  giflib %9.1f us  ratio %.2f\n", s.name.c_str(), ours * 1e6, theirs * 1e6,
                theirs / ours);
  }
  std::printf("GIF decoding, all files: ratio %.2f (lowest %.2f; goal: at least 1.00)\n", giflibTotal / oursTotal,
              worst);

  // A 12-frame animation of 512 x 512 8-bit frames, each with its own table.
  TGifContainer animation;
  animation.FileVersion = 2;
  animation.Looping = true;
  for (int i = 0; i < 12; ++i) {
    TBitmapInfoHeader h;
    h.biWidth = 512;
    h.biHeight = 512;
    h.biBitCount = 8;
    std::vector<std::uint8_t> px = MakePixels(h);
    for (std::uint8_t& p : px) p = static_cast<std::uint8_t>(p + 7 * i);
    std::string bmp = "BM";
    ByteWriter w(bmp);
    w.U32LE(static_cast<std::uint32_t>(54 + 1024 + px.size()));
    w.U32LE(0);
    w.U32LE(54 + 1024);
    h.biSizeImage = static_cast<std::uint32_t>(px.size());
    WriteInfoHeader(w, h);
    for (int c = 0; c < 256; ++c) {
      w.U8(static_cast<std::uint8_t>(c));
      w.U8(static_cast<std::uint8_t>(255 - c));
      w.U8(static_cast<std::uint8_t>(c * 3 + i));
      w.U8(0);
    }
    bmp.append(px.begin(), px.end());
    animation.Frames.emplace_back();
    animation.Frames.back().DelayTime = 100;
    CompressDIBToGifFrame(bmp, animation.Frames.back(), animation, nullptr);
  }
  const std::string animated = StoreGifData(animation);
  std::vector<std::uint8_t> rgb;
  std::uint64_t a = 0, b = 0;
  auto [ours, theirs] = Compare([&] { a = OurLoad(animated); }, [&] { b = GiflibLoad(animated, rgb); });
  if (a == 0 || b == 0) {
    std::printf("whole load: a reader failed\n");
    return 1;
  }
  std::printf(
      "GIF whole load, 12 frames of 512 x 512 (%zu bytes): ours %.1f ms  giflib %.1f ms  ratio %.2f "
      "(giflib time / ours, goal: at least 1.00)\n",
      animated.size(), ours * 1e3, theirs * 1e3, theirs / ours);
  return 0;
}
