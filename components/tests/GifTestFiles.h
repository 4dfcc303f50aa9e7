// Test helpers around the raster codec: a walk over the blocks of a GIF file
// to its first image, a GIF file around a raster stream, pictures of random
// indexes, and file access below the source tree.
#pragma once

#include <cstdint>
#include <fstream>
#include <random>
#include <sstream>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "ByteReader.h"
#include "ByteWriter.h"
#include "Dib.h"
#include "GifLzw.h"
#include "Streams.h"

namespace giftest {

inline std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + path);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

inline void WriteFile(const std::string& path, std::string_view bytes) {
  std::ofstream out(path, std::ios::binary);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!out) throw std::runtime_error("cannot write " + path);
}

inline std::string FixturePath(const std::string& name) {
  return std::string(PELLORY_SOURCE_DIR) + "/components/tests/fixtures/gif/" + name;
}

struct TRgb {
  std::uint8_t r = 0, g = 0, b = 0;
};

// The first image of a GIF file: its size, flags, colour table (local, else
// global), the transparent index of the control block before it (-1 when
// none) and its raster stream (the minimum code size byte, the sub-blocks and
// the terminator, as they stand in the file).
struct TGifImage {
  int width = 0, height = 0;
  bool interlaced = false;
  int colorBits = 0;
  std::vector<TRgb> table;
  int transparent = -1;
  std::string raster;
};

inline std::vector<TRgb> ReadTable(ByteReader& r, int bits) {
  std::vector<TRgb> t(std::size_t{1} << bits);
  for (TRgb& c : t) {
    c.r = r.U8();
    c.g = r.U8();
    c.b = r.U8();
  }
  return t;
}

// Skips data sub-blocks up to and including the terminator; gives their bytes.
inline std::string SubBlocks(ByteReader& r) {
  std::string data;
  for (std::uint8_t n = r.U8(); n != 0; n = r.U8()) data += r.Bytes(n);
  return data;
}

inline TGifImage FirstImage(std::string_view file) {
  ByteReader r(file);
  std::string sig = r.Bytes(6);
  if (sig != "GIF87a" && sig != "GIF89a") throw std::runtime_error("not a GIF file");
  TGifImage img;
  r.Skip(4);
  std::uint8_t screen = r.U8();
  r.Skip(2);
  std::vector<TRgb> global;
  int globalBits = 0;
  if (screen & 0x80) global = ReadTable(r, globalBits = (screen & 7) + 1);
  for (;;) {
    std::uint8_t intro = r.U8();
    if (intro == 0x21) {
      std::uint8_t label = r.U8();
      std::string data = SubBlocks(r);
      if (label == 0xF9 && data.size() >= 4) img.transparent = (data[0] & 1) ? static_cast<std::uint8_t>(data[3]) : -1;
    } else if (intro == 0x2C) {
      r.Skip(4);
      img.width = r.U16LE();
      img.height = r.U16LE();
      std::uint8_t flags = r.U8();
      img.interlaced = (flags & 0x40) != 0;
      if (flags & 0x80) {
        img.colorBits = (flags & 7) + 1;
        img.table = ReadTable(r, img.colorBits);
      } else {
        img.colorBits = globalBits;
        img.table = global;
      }
      std::size_t start = r.Position();
      r.Skip(1);
      SubBlocks(r);
      img.raster = std::string(file.substr(start, r.Position() - start));
      return img;
    } else {
      throw std::runtime_error("no image in the GIF file");
    }
  }
}

// The DIB bit count that holds indexes of `colorBits` bits.
inline int BufferBits(int colorBits) {
  return colorBits == 1 ? 1 : colorBits <= 4 ? 4 : 8;
}

inline TBitmapInfoHeader Header(int width, int height, int bits) {
  TBitmapInfoHeader h;
  h.biWidth = width;
  h.biHeight = height;
  h.biBitCount = static_cast<std::uint16_t>(bits);
  return h;
}

// A GIF89a file of one image around a raster stream, with a global colour
// table of 2^colorBits entries.
inline std::string MakeGif(int width, int height, int colorBits, const std::vector<TRgb>& table,
                           std::string_view raster, bool interlaced) {
  std::string out = "GIF89a";
  ByteWriter w(out);
  w.U16LE(static_cast<std::uint16_t>(width));
  w.U16LE(static_cast<std::uint16_t>(height));
  w.U8(static_cast<std::uint8_t>(0x80 | ((colorBits - 1) << 4) | (colorBits - 1)));
  w.U8(0);
  w.U8(0);
  for (std::size_t i = 0; i < (std::size_t{1} << colorBits); ++i) {
    TRgb c = i < table.size() ? table[i] : TRgb{};
    w.U8(c.r);
    w.U8(c.g);
    w.U8(c.b);
  }
  w.U8(0x2C);
  w.U32LE(0);
  w.U16LE(static_cast<std::uint16_t>(width));
  w.U16LE(static_cast<std::uint16_t>(height));
  w.U8(static_cast<std::uint8_t>(interlaced ? 0x40 : 0x00));
  out.append(raster);
  w.U8(0x3B);
  return out;
}

// A zeroed pixel buffer for `h` with random indexes below 2^colorBits in
// every pixel (the row padding stays 0).
inline std::vector<std::uint8_t> RandomPixels(const TBitmapInfoHeader& h, int colorBits, std::mt19937& rng) {
  std::vector<std::uint8_t> px(LzwPixelBufferSize(h));
  std::size_t stride = static_cast<std::size_t>(DibRowStride(static_cast<std::uint64_t>(h.biWidth), h.biBitCount));
  std::uniform_int_distribution<int> pick(0, (1 << colorBits) - 1);
  for (int y = 0; y < h.biHeight; ++y)
    for (int x = 0; x < h.biWidth; ++x) {
      unsigned v = static_cast<unsigned>(pick(rng));
      std::uint8_t* row = px.data() + static_cast<std::size_t>(y) * stride;
      if (h.biBitCount == 8)
        row[x] = static_cast<std::uint8_t>(v);
      else if (h.biBitCount == 4)
        row[x / 2] = static_cast<std::uint8_t>(row[x / 2] | (v << ((x & 1) ? 0 : 4)));
      else
        row[x / 8] = static_cast<std::uint8_t>(row[x / 8] | (v << (7 - x % 8)));
    }
  return px;
}

// The index of pixel (x, y), y counted from the picture's top.
inline unsigned IndexAt(const std::vector<std::uint8_t>& px, const TBitmapInfoHeader& h, int x, int y) {
  std::size_t stride = static_cast<std::size_t>(DibRowStride(static_cast<std::uint64_t>(h.biWidth), h.biBitCount));
  const std::uint8_t* row = px.data() + static_cast<std::size_t>(h.biHeight - 1 - y) * stride;
  if (h.biBitCount == 8) return row[x];
  if (h.biBitCount == 4) return (x & 1) ? row[x / 2] & 0x0F : row[x / 2] >> 4;
  return (row[x / 8] >> (7 - x % 8)) & 1;
}

inline std::string Encode(const TBitmapInfoHeader& h, const std::vector<std::uint8_t>& px, bool interlaced) {
  TOwned<TMemoryStream> out(New<TMemoryStream>());
  LZWEncode(*out, h, interlaced, nullptr, px);
  return out->DataString();
}

inline std::vector<std::uint8_t> Decode(const TBitmapInfoHeader& h, std::string_view raster, bool interlaced,
                                        int colorBits, bool* corrupt = nullptr, bool acceptDamage = false) {
  std::vector<std::uint8_t> px(LzwPixelBufferSize(h));
  TOwned<TReadOnlyMemoryStream> in(New<TReadOnlyMemoryStream>(raster.data(), raster.size()));
  bool damaged = false;
  LZWDecode(*in, h, interlaced, nullptr, damaged, px, colorBits, acceptDamage);
  if (corrupt) *corrupt = damaged;
  return px;
}

}  // namespace giftest
