#include "EPngImage.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <set>

#include "EHash.h"

namespace {

// A 24-bit picture (blue, green, red) whose rows carry padding past the width.
struct TPicture {
  std::size_t Width = 0, Height = 0, RowBytes = 0;
  std::vector<std::uint8_t> Bytes;
  TPicture(std::size_t w, std::size_t h, std::size_t padBytes) : Width(w), Height(h), RowBytes(w * 3 + padBytes) {
    Bytes.assign(RowBytes * h, 0);
  }
  void Set(std::size_t x, std::size_t y, TPngColor c) {
    std::uint8_t* p = &Bytes[y * RowBytes + x * 3];
    p[0] = c.Blue;
    p[1] = c.Green;
    p[2] = c.Red;
  }
};

TPngColor ColorNo(unsigned i) {
  return {static_cast<std::uint8_t>(i * 37), static_cast<std::uint8_t>(i * 11 + 5), static_cast<std::uint8_t>(i)};
}

std::uint32_t BigEndian(const std::string& s, std::size_t at) {
  return (std::uint32_t(std::uint8_t(s[at])) << 24) | (std::uint32_t(std::uint8_t(s[at + 1])) << 16) |
         (std::uint32_t(std::uint8_t(s[at + 2])) << 8) | std::uint8_t(s[at + 3]);
}

struct TChunk {
  std::string Type;
  std::size_t Size;
};

// The chunks of a PNG file; every CRC is checked on the way.
std::vector<TChunk> Chunks(const std::string& png) {
  std::vector<TChunk> out;
  EXPECT_EQ(png.substr(0, 8), std::string("\x89PNG\r\n\x1a\n", 8));
  for (std::size_t at = 8; at + 12 <= png.size();) {
    const std::uint32_t size = BigEndian(png, at);
    const std::string typeAndData = png.substr(at + 4, 4 + size);
    EXPECT_EQ(BigEndian(png, at + 8 + size), Crc32OfBuffer(typeAndData.data(), typeAndData.size()));
    out.push_back({typeAndData.substr(0, 4), size});
    at += 12 + size;
  }
  return out;
}

#if !defined(_WIN32)
// Decodes a PNG of colour type 3 with Python's zlib and struct and prints
// "width height" and then one line of hexadecimal RGB pixels per row.
const char* kDecoder = R"PY(
import struct, sys, zlib
d = open(sys.argv[1], 'rb').read()
assert d[:8] == b'\x89PNG\r\n\x1a\n'
at, idat, plte = 8, b'', None
while at < len(d):
    n, t = struct.unpack('>I4s', d[at:at + 8])
    body = d[at + 8:at + 8 + n]
    assert struct.unpack('>I', d[at + 8 + n:at + 12 + n])[0] == zlib.crc32(t + body)
    if t == b'IHDR':
        w, h, depth, kind, comp, filt, lace = struct.unpack('>IIBBBBB', body)
        assert (depth, kind, comp, filt, lace) == (8, 3, 0, 0, 0)
    elif t == b'PLTE':
        plte = body
    elif t == b'IDAT':
        idat += body
    at += 12 + n
assert len(plte) == 768
raw = zlib.decompress(idat)
assert len(raw) == h * (w + 1), (len(raw), w, h)
print(w, h)
for y in range(h):
    row = raw[y * (w + 1):(y + 1) * (w + 1)]
    assert row[0] == 0
    print(''.join(plte[i * 3:i * 3 + 3].hex() for i in row[1:]))
)PY";

std::string DecodeWithPython(const std::string& png) {
  const auto dir = std::filesystem::temp_directory_path() / ("png-test-" + std::to_string(::getpid()));
  std::filesystem::create_directories(dir);
  std::ofstream((dir / "decode.py").string()) << kDecoder;
  std::ofstream((dir / "p.png").string(), std::ios::binary) << png;
  const std::string command = "python3 '" + (dir / "decode.py").string() + "' '" + (dir / "p.png").string() + "'";
  std::string out;
  if (FILE* pipe = popen(command.c_str(), "r")) {
    char buf[4096];
    for (std::size_t n; (n = fread(buf, 1, sizeof buf, pipe)) > 0;) out.append(buf, n);
    EXPECT_EQ(pclose(pipe), 0) << command;
  }
  std::filesystem::remove_all(dir);
  return out;
}

std::string Expected(const TPicture& p) {
  std::string out = std::to_string(p.Width) + " " + std::to_string(p.Height) + "\n";
  char hex[8];
  for (std::size_t y = 0; y < p.Height; ++y) {
    for (std::size_t x = 0; x < p.Width; ++x) {
      const std::uint8_t* px = &p.Bytes[y * p.RowBytes + x * 3];
      std::snprintf(hex, sizeof hex, "%02x%02x%02x", px[2], px[1], px[0]);
      out += hex;
    }
    out += "\n";
  }
  return out;
}
#endif

// A picture of 200 colours, 13 wide: the padding past the width holds other
// colours, which must neither enter the palette nor the file.
TEST(PngImage, TwoHundredColoursComeBackExactly) {
  TPicture picture(13, 20, 7);
  for (std::size_t y = 0; y < picture.Height; ++y) {
    for (std::size_t x = 0; x < picture.Width; ++x) picture.Set(x, y, ColorNo((y * 13 + x) % 200));
    for (std::size_t b = 0; b < 7; ++b) picture.Bytes[y * picture.RowBytes + 39 + b] = std::uint8_t(0x81 + y * 7 + b);
  }
  const std::vector<TPngColor> palette =
      QuantizePicture(picture.Bytes.data(), picture.Width, picture.Height, picture.RowBytes);
  ASSERT_EQ(palette.size(), 200u);
  const std::set<unsigned> colours = [&] {
    std::set<unsigned> s;
    for (const TPngColor& c : palette) s.insert(c.Red << 16 | c.Green << 8 | c.Blue);
    return s;
  }();
  for (unsigned i = 0; i < 200; ++i) {
    const TPngColor c = ColorNo(i);
    EXPECT_TRUE(colours.count(unsigned(c.Red) << 16 | unsigned(c.Green) << 8 | c.Blue)) << i;
  }
  const std::vector<std::uint8_t> indexes =
      MapPictureToPalette(picture.Bytes.data(), picture.Width, picture.Height, picture.RowBytes, palette);
  ASSERT_EQ(indexes.size(), Stride8(13) * 20);
  const std::string png = EncodePng(13, 20, indexes.data(), Stride8(13), palette);
  const std::vector<TChunk> chunks = Chunks(png);
  ASSERT_EQ(chunks.size(), 4u);
  EXPECT_EQ(chunks[0].Type, "IHDR");
  EXPECT_EQ(chunks[0].Size, 13u);
  EXPECT_EQ(BigEndian(png, 16), 13u);
  EXPECT_EQ(BigEndian(png, 20), 20u);
  EXPECT_EQ(chunks[1].Type, "PLTE");
  EXPECT_EQ(chunks[1].Size, 768u);
  EXPECT_EQ(chunks[2].Type, "IDAT");
  EXPECT_EQ(chunks[3].Type, "IEND");
  EXPECT_EQ(png.substr(png.size() - 12), std::string("\0\0\0\0IEND\xAE\x42\x60\x82", 12));
#if !defined(_WIN32)
  EXPECT_EQ(DecodeWithPython(png), Expected(picture));
#endif
}

// 256 colours in the picture and others in the row padding: every picture
// colour is kept exactly.
TEST(PngImage, PaddingColumnsAddNoColour) {
  TPicture picture(16, 16, 16 * 3);
  for (std::size_t y = 0; y < 16; ++y)
    for (std::size_t x = 0; x < 32; ++x) {
      std::uint8_t* p = &picture.Bytes[y * picture.RowBytes + x * 3];
      const unsigned i = x < 16 ? unsigned(y * 16 + x) : 1000 + unsigned(y * 16 + x);
      p[0] = std::uint8_t(i), p[1] = std::uint8_t(i >> 2 ^ 0x55), p[2] = std::uint8_t(x < 16 ? 3 : 200 + y);
    }
  const std::vector<TPngColor> palette = QuantizePicture(picture.Bytes.data(), 16, 16, picture.RowBytes);
  ASSERT_EQ(palette.size(), 256u);
  const std::vector<std::uint8_t> indexes =
      MapPictureToPalette(picture.Bytes.data(), 16, 16, picture.RowBytes, palette);
  for (std::size_t y = 0; y < 16; ++y)
    for (std::size_t x = 0; x < 16; ++x) {
      const std::uint8_t* p = &picture.Bytes[y * picture.RowBytes + x * 3];
      const TPngColor c = palette[indexes[y * Stride8(16) + x]];
      EXPECT_EQ(c, (TPngColor{p[2], p[1], p[0]})) << x << "," << y;
    }
}

// More than 256 colours fold into at most 256 leaves.
TEST(PngImage, ManyColoursFoldToTheLimit) {
  TOctreeQuantizer quantizer;
  std::mt19937 random(7);
  for (int i = 0; i < 20000; ++i) {
    const std::uint32_t v = random();
    quantizer.AddColor(std::uint8_t(v), std::uint8_t(v >> 8), std::uint8_t(v >> 16));
    ASSERT_LE(quantizer.LeafCount(), kPngPaletteSize);
  }
  const std::vector<TPngColor> palette = quantizer.Palette();
  EXPECT_GT(palette.size(), 64u);
  EXPECT_LE(palette.size(), 256u);
  EXPECT_EQ(int(palette.size()), quantizer.LeafCount());
}

// The 257th leaf folds the newest node of the deepest level: its two reds
// become their average, every other colour stays.
TEST(PngImage, FoldTakesTheNewestDeepestNode) {
  TOctreeQuantizer quantizer;
  for (unsigned r = 0; r < 256; ++r) quantizer.AddColor(std::uint8_t(r), 0, 0);
  EXPECT_EQ(quantizer.LeafCount(), 256);
  quantizer.AddColor(0, 0, 1);
  EXPECT_EQ(quantizer.LeafCount(), 256);
  const std::vector<TPngColor> palette = quantizer.Palette();
  ASSERT_EQ(palette.size(), 256u);
  EXPECT_EQ(palette.front(), (TPngColor{0, 0, 0}));
  EXPECT_EQ(palette[1], (TPngColor{0, 0, 1}));
  EXPECT_EQ(palette.back(), (TPngColor{254, 0, 0}));  // 254 and 255 folded
  EXPECT_EQ(palette[palette.size() - 2], (TPngColor{253, 0, 0}));
}

// Incompressible data splits into IDAT chunks of exactly 262143 bytes and one shorter.
TEST(PngImage, LargeDataSplitsIntoFullIdatChunks) {
  const std::uint32_t width = 1001, height = 700;
  std::vector<std::uint8_t> indexes(Stride8(width) * height);
  std::mt19937 random(11);
  for (std::uint8_t& b : indexes) b = std::uint8_t(random());
  std::vector<TPngColor> palette(256);
  for (unsigned i = 0; i < 256; ++i) palette[i] = ColorNo(i);
  const std::string png = EncodePng(width, height, indexes.data(), Stride8(width), palette);
  const std::vector<TChunk> chunks = Chunks(png);
  ASSERT_GE(chunks.size(), 6u);
  for (std::size_t i = 2; i + 2 < chunks.size(); ++i) {
    EXPECT_EQ(chunks[i].Type, "IDAT");
    EXPECT_EQ(chunks[i].Size, kPngMaxIdatSize);
  }
  EXPECT_EQ(chunks[chunks.size() - 2].Type, "IDAT");
  EXPECT_LT(chunks[chunks.size() - 2].Size, kPngMaxIdatSize);
  EXPECT_GT(chunks[chunks.size() - 2].Size, 0u);
#if !defined(_WIN32)
  const std::string decoded = DecodeWithPython(png);
  EXPECT_EQ(decoded.substr(0, 9), "1001 700\n");
  EXPECT_EQ(std::count(decoded.begin(), decoded.end(), '\n'), 701);
#endif
}

TEST(PngImage, BadPictureIsRefused) {
  const std::uint8_t pixel = 0;
  const std::vector<TPngColor> palette(1);
  EXPECT_THROW(EncodePng(0, 1, &pixel, 4, palette), EPngError);
  EXPECT_THROW(EncodePng(1, 0, &pixel, 4, palette), EPngError);
  EXPECT_THROW(EncodePng(8, 1, &pixel, 4, palette), EPngError);
  EXPECT_THROW(EncodePng(1, 1, nullptr, 4, palette), EPngError);
}

}  // namespace
