#include "QvGraph.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "Exceptions.h"

namespace {

struct TColor {
  std::uint8_t r = 0, g = 0, b = 0;
  friend auto operator<=>(const TColor&, const TColor&) = default;
};

TColor ColorOf(const TRGBQuad& q) {
  return TColor{q.rgbRed, q.rgbGreen, q.rgbBlue};
}

// A 24-bit picture; pixel (x, y) is in memory row y (0 = the bottom row).
struct TPicture {
  TBitmapInfoHeader header;
  std::vector<std::uint8_t> pixels;
  std::size_t stride24 = 0, stride8 = 0;

  TPicture(int width, int height, const std::function<TColor(int x, int y)>& color) {
    header.biWidth = width;
    header.biHeight = height;
    header.biBitCount = 24;
    stride24 = static_cast<std::size_t>(DibRowStride(static_cast<std::uint64_t>(width), 24));
    stride8 = static_cast<std::size_t>(DibRowStride(static_cast<std::uint64_t>(width), 8));
    pixels.assign(stride24 * static_cast<std::size_t>(height), 0xEE);  // padding holds garbage
    for (int y = 0; y < height; ++y)
      for (int x = 0; x < width; ++x) {
        TColor c = color(x, y);
        std::uint8_t* p = pixels.data() + static_cast<std::size_t>(y) * stride24 + 3 * static_cast<std::size_t>(x);
        p[0] = c.b;
        p[1] = c.g;
        p[2] = c.r;
      }
  }
  TColor Original(int x, int y) const {
    const std::uint8_t* p = pixels.data() + static_cast<std::size_t>(y) * stride24 + 3 * static_cast<std::size_t>(x);
    return TColor{p[2], p[1], p[0]};
  }
  // The colour of every pixel, in memory order, before a reduction.
  std::vector<TColor> Colors() const {
    std::vector<TColor> out;
    for (int y = 0; y < header.biHeight; ++y)
      for (int x = 0; x < header.biWidth; ++x) out.push_back(Original(x, y));
    return out;
  }
  std::uint8_t Index(int x, int y) const {
    return pixels[static_cast<std::size_t>(y) * stride8 + static_cast<std::size_t>(x)];
  }
};

// Every pixel's palette colour after a reduction, in memory order.
std::vector<TColor> Mapped(const TPicture& p, const TReducedPalette& pal) {
  std::vector<TColor> out;
  for (int y = 0; y < p.header.biHeight; ++y)
    for (int x = 0; x < p.header.biWidth; ++x) out.push_back(ColorOf(pal[p.Index(x, y)]));
  return out;
}

TColor Masked(TColor c, std::uint8_t rm, std::uint8_t gm, std::uint8_t bm) {
  return TColor{static_cast<std::uint8_t>(c.r & rm), static_cast<std::uint8_t>(c.g & gm),
                static_cast<std::uint8_t>(c.b & bm)};
}

int Distance(TColor a, TColor b) {
  int dr = a.r - b.r, dg = a.g - b.g, db = a.b - b.b;
  return dr * dr + dg * dg + db * db;
}

}  // namespace

TEST(QvGraph, HistogramKeepsFewColoursMostFrequentFirst) {
  // One row, counted left to right: C (1 pixel), A (3), B (5), D (3, after A).
  const TColor A{10, 20, 30}, B{200, 100, 0}, C{1, 2, 3}, D{255, 255, 255};
  const std::vector<TColor> row = {C, A, B, A, B, D, B, A, B, D, B, D};
  TPicture p(static_cast<int>(row.size()), 1, [&](int x, int) { return row[static_cast<std::size_t>(x)]; });
  TReducedPalette pal;
  PopularityReduce(p.header, pal, p.pixels, 0xFF, 0xFF, 0xFF, 256);
  EXPECT_EQ(ColorOf(pal[0]), B);
  EXPECT_EQ(ColorOf(pal[1]), A);
  EXPECT_EQ(ColorOf(pal[2]), D);
  EXPECT_EQ(ColorOf(pal[3]), C);
  for (int i = 4; i < 256; ++i) EXPECT_EQ(pal[static_cast<std::size_t>(i)], (TRGBQuad{128, 128, 128, 0}));
  EXPECT_EQ(Mapped(p, pal), row);

  // Exactly 256 colours: every one keeps its own entry.
  TPicture full(16, 16, [](int x, int y) {
    return TColor{static_cast<std::uint8_t>(x * 16), static_cast<std::uint8_t>(y * 16),
                  static_cast<std::uint8_t>(x ^ y)};
  });
  std::vector<TColor> before = full.Colors();
  PopularityReduce(full.header, pal, full.pixels, 0xFF, 0xFF, 0xFF, 256);
  EXPECT_EQ(Mapped(full, pal), before);
  std::set<TColor> entries;
  for (const TRGBQuad& q : pal) entries.insert(ColorOf(q));
  EXPECT_EQ(entries.size(), 256u);
}

TEST(QvGraph, HistogramDropsMaskBitsUntilTheColoursFit) {
  struct Case {
    int bases;                      // distinct colours before the low bits vary
    int variants;                   // 2: blue's low bit varies; 4: red's too; 8: green's too
    std::uint8_t red, green, blue;  // the masks counting ends with
    std::size_t distinct;           // masked colours then
  };
  const Case cases[] = {
      {1100, 2, 0xFF, 0xFF, 0xFE, 1100},  // 2200 colours, 1100 after blue loses a bit
      {1100, 4, 0xFE, 0xFF, 0xFE, 1100},  // 4400, then 2200, then 1100 after red
      {600, 8, 0xFE, 0xFF, 0xFE, 1200},   // 4800, 2400, then 1200 after red: green keeps its bit
      {1000, 1, 0xFF, 0xFF, 0xFF, 1000},  // fits at once
  };
  for (const Case& c : cases) {
    int n = c.bases * c.variants;
    TPicture p(n, 1, [&](int x, int) {
      int base = x / c.variants, v = x % c.variants;
      return TColor{static_cast<std::uint8_t>(((base % 64) << 2) | ((v >> 1) & 1)),
                    static_cast<std::uint8_t>(base / 64 * 8 | (v >> 2)), static_cast<std::uint8_t>(v & 1)};
    });
    std::vector<TColor> before = p.Colors();
    TReducedPalette pal;
    PopularityReduce(p.header, pal, p.pixels, 0xFF, 0xFF, 0xFF, 256);
    std::set<TColor> masked;
    for (TColor col : before) masked.insert(Masked(col, c.red, c.green, c.blue));
    ASSERT_EQ(masked.size(), c.distinct);
    std::vector<TColor> after = Mapped(p, pal);
    for (std::size_t i = 0; i < before.size(); ++i) {
      TColor m = Masked(before[i], c.red, c.green, c.blue);
      // The palette holds masked colours; each pixel gets the nearest entry (its own when chosen).
      int best = 0;
      for (int k = 1; k < 256; ++k)
        if (Distance(m, ColorOf(pal[static_cast<std::size_t>(k)])) <
            Distance(m, ColorOf(pal[static_cast<std::size_t>(best)])))
          best = k;
      ASSERT_EQ(Distance(m, after[i]), Distance(m, ColorOf(pal[static_cast<std::size_t>(best)]))) << "pixel " << i;
    }
    for (const TRGBQuad& q : pal) EXPECT_TRUE(masked.count(ColorOf(q))) << int(q.rgbRed) << "," << int(q.rgbBlue);
  }
}

TEST(QvGraph, MedianCut) {
  TReducedPalette pal;
  // One colour: one entry, the top of its cell; the rest 0.
  TPicture one(5, 3, [](int, int) { return TColor{200, 100, 50}; });
  EXPECT_EQ(MedianCutReduce(one.header, one.pixels, pal), 1);
  EXPECT_EQ(ColorOf(pal[0]), (TColor{207, 111, 63}));
  for (int i = 1; i < 256; ++i) EXPECT_EQ(pal[static_cast<std::size_t>(i)], TRGBQuad{});
  for (int y = 0; y < 3; ++y)
    for (int x = 0; x < 5; ++x) EXPECT_EQ(one.Index(x, y), 0);

  // A dark colour becomes black.
  TPicture dark(2, 2, [](int, int) { return TColor{10, 3, 15}; });
  EXPECT_EQ(MedianCutReduce(dark.header, dark.pixels, pal), 1);
  EXPECT_EQ(ColorOf(pal[0]), (TColor{0, 0, 0}));

  // Sixteen reds of different counts split into a box each: every pixel keeps
  // its own cell's colour, the darkest is black.
  TPicture reds(16, 16, [](int x, int y) {
    return TColor{static_cast<std::uint8_t>((x * 3 + y * y) % 16 * 16 + 3), 7, 9};
  });
  std::vector<TColor> before = reds.Colors();
  EXPECT_EQ(MedianCutReduce(reds.header, reds.pixels, pal), 16);
  std::vector<TColor> after = Mapped(reds, pal);
  std::set<TColor> entries;
  for (std::size_t i = 0; i < before.size(); ++i) {
    int cell = before[i].r >> 4;
    TColor want = cell == 0 ? TColor{0, 0, 0} : TColor{static_cast<std::uint8_t>(cell * 16 + 15), 15, 15};
    ASSERT_EQ(after[i], want) << "pixel " << i;
    entries.insert(after[i]);
  }
  EXPECT_EQ(entries.size(), 16u);

  // Many cells: 256 boxes, every pixel in a box whose colour is near its own.
  TPicture many(64, 64, [](int x, int y) {
    return TColor{static_cast<std::uint8_t>(x * 4), static_cast<std::uint8_t>(y * 4),
                  static_cast<std::uint8_t>((x + y) * 2)};
  });
  before = many.Colors();
  EXPECT_EQ(MedianCutReduce(many.header, many.pixels, pal), 256);
  after = Mapped(many, pal);
  int worst = 0;
  for (std::size_t i = 0; i < before.size(); ++i) worst = std::max(worst, Distance(before[i], after[i]));
  EXPECT_LT(worst, 3 * 32 * 32);
}

TEST(QvGraph, FixedPalettes) {
  struct Case {
    TReductionMethod method;
    TColor color;
    int index;
  };
  const Case cases[] = {
      {rmTrunc666, {255, 255, 255}, 215},
      {rmTrunc666, {0, 0, 0}, 0},
      {rmTrunc666, {51, 102, 153}, 51},
      {rmTrunc666, {25, 26, 77}, 0 * 36 + 1 * 6 + 2},
      {rmTrunc784, {255, 255, 255}, 223},
      {rmTrunc784, {0, 0, 0}, 0},
      {rmTrunc784, {18, 18, 18}, 0},  // a tie takes the lower level
      {rmTrunc784, {22, 19, 43}, 1 * 32 + 1 * 4 + 1},
      {rmLuminance, {255, 255, 255}, 255},
      {rmLuminance, {255, 0, 0}, 76},
      {rmLuminance, {0, 255, 0}, 149},
      {rmLuminance, {0, 0, 255}, 28},
  };
  for (const Case& c : cases) {
    TPicture p(1, 1, [&](int, int) { return c.color; });
    TReducedPalette pal;
    ReduceTo8Bits(c.method, p.header, p.pixels, pal);
    EXPECT_EQ(p.Index(0, 0), c.index) << int(c.method) << ": " << int(c.color.r) << "," << int(c.color.g) << ","
                                      << int(c.color.b);
  }
  TReducedPalette pal;
  TPicture p(1, 1, [](int, int) { return TColor{}; });
  Trunc666Reduce(p.header, p.pixels, pal);
  EXPECT_EQ(pal[215], (TRGBQuad{255, 255, 255, 0}));
  EXPECT_EQ(pal[1 * 36 + 2 * 6 + 3], (TRGBQuad{153, 102, 51, 0}));
  EXPECT_EQ(pal[216], (TRGBQuad{128, 128, 128, 128}));
  EXPECT_EQ(pal[255], (TRGBQuad{128, 128, 128, 128}));
  Trunc784Reduce(p.header, p.pixels, pal);
  EXPECT_EQ(pal[223], (TRGBQuad{255, 255, 255, 0}));
  EXPECT_EQ(pal[3 * 32 + 5 * 4 + 2], (TRGBQuad{170, 182, 128, 0}));
  EXPECT_EQ(pal[224], (TRGBQuad{128, 128, 128, 128}));
  LuminanceReduce(p.header, p.pixels, pal);
  for (int i = 0; i < 256; ++i) {
    auto v = static_cast<std::uint8_t>(i);
    EXPECT_EQ(pal[static_cast<std::size_t>(i)], (TRGBQuad{v, v, v, 0}));
  }
}

TEST(QvGraph, ChannelCycle) {
  TPicture p(7, 5, [](int x, int y) {
    return TColor{static_cast<std::uint8_t>(x * 37 + y), static_cast<std::uint8_t>(y * 51 + x),
                  static_cast<std::uint8_t>(x * y * 9)};
  });
  TPicture orig = p;
  TReducedPalette pal;
  ChannelCycleReduce(p.header, p.pixels, pal);
  for (int y = 0; y < 5; ++y)
    for (int x = 0; x < 7; ++x) {
      TColor c = orig.Original(x, y);
      int want = (x + y) % 3 == 0 ? c.r >> 2 : (x + y) % 3 == 1 ? (c.g >> 2) + 64 : (c.b >> 2) + 128;
      EXPECT_EQ(p.Index(x, y), want) << x << "," << y;
    }
  EXPECT_EQ(ColorOf(pal[10]), (TColor{40, 0, 0}));
  EXPECT_EQ(ColorOf(pal[64 + 63]), (TColor{0, 252, 0}));
  EXPECT_EQ(ColorOf(pal[128 + 1]), (TColor{0, 0, 4}));
  for (int i = 192; i < 256; ++i) EXPECT_EQ(pal[static_cast<std::size_t>(i)], TRGBQuad{});
}

TEST(QvGraph, ReductionsWriteBottomUpRowsInPlaceWithZeroPadding) {
  // Width 3: 12-byte 24-bit rows become 4-byte 8-bit rows at the start of the buffer.
  for (TReductionMethod m : {rmHistogram, rmMedianCut, rmTrunc784, rmTrunc666, rmChannelCycle, rmLuminance}) {
    TPicture p(3, 4, [](int x, int y) {
      return TColor{static_cast<std::uint8_t>(60 * x), static_cast<std::uint8_t>(60 * y), 128};
    });
    TPicture orig = p;
    TReducedPalette pal;
    ReduceTo8Bits(m, p.header, p.pixels, pal);
    for (int y = 0; y < 4; ++y) {
      EXPECT_EQ(p.pixels[static_cast<std::size_t>(y) * 4 + 3], 0) << int(m) << " row " << y;
      // The grey and truncation palettes depend on the pixel alone: compare with a one-pixel picture.
      for (int x = 0; x < 3; ++x) {
        TPicture single(1, 1, [&](int, int) { return orig.Original(x, y); });
        TReducedPalette pal1;
        ReduceTo8Bits(m, single.header, single.pixels, pal1);
        if (m == rmTrunc784 || m == rmTrunc666 || m == rmLuminance) {
          EXPECT_EQ(p.Index(x, y), single.Index(0, 0)) << int(m) << " " << x << "," << y;
        }
        if (m == rmHistogram) {
          EXPECT_EQ(ColorOf(pal[p.Index(x, y)]), orig.Original(x, y));
        }
      }
    }
  }
}

TEST(QvGraph, BadInputIsRefused) {
  TReducedPalette pal;
  TPicture p(4, 4, [](int, int) { return TColor{1, 2, 3}; });
  std::vector<std::uint8_t> shortBuffer(p.pixels.begin(), p.pixels.end() - 1);
  TBitmapInfoHeader not24 = p.header;
  not24.biBitCount = 32;
  TBitmapInfoHeader negative = p.header;
  negative.biHeight = -4;
  for (TReductionMethod m : {rmHistogram, rmMedianCut, rmTrunc784, rmTrunc666, rmChannelCycle, rmLuminance}) {
    EXPECT_THROW(ReduceTo8Bits(m, p.header, shortBuffer, pal), EInvalidGraphic) << int(m);
    EXPECT_THROW(ReduceTo8Bits(m, not24, p.pixels, pal), EInvalidGraphic) << int(m);
    EXPECT_THROW(ReduceTo8Bits(m, negative, p.pixels, pal), EInvalidGraphic) << int(m);
  }
}

TEST(QvGraph, PixelFormatForColors) {
  const std::pair<int, TPixelFormat> cases[] = {{0, pf1bit},  {2, pf1bit},   {3, pf4bit},    {16, pf4bit},
                                                {17, pf8bit}, {256, pf8bit}, {257, pf24bit}, {1 << 24, pf24bit}};
  for (auto [colors, format] : cases) EXPECT_EQ(PixelFormatForColors(colors), format) << colors;
}

TEST(QvGraph, InfoHeaders) {
  TBitmapInfoHeader section8;
  section8.biWidth = 10;
  section8.biHeight = -6;
  section8.biBitCount = 8;
  section8.biSizeImage = 72;
  section8.biClrUsed = 16;
  section8.biXPelsPerMeter = 3780;
  TBitmapInfoHeader rle8 = section8;
  rle8.biCompression = 1;
  rle8.biSizeImage = 20;
  TBitmapInfoHeader small = section8;
  small.biSize = 12;
  struct Case {
    const char* name;
    const TBitmapInfoHeader* dib;
    unsigned planes, bpp;
    TPixelFormat format;
    std::uint16_t bitCount;
    std::uint32_t sizeImage, clrUsed, compression, withPalette;
  };
  const Case cases[] = {
      {"device bitmap, 1 bit", nullptr, 1, 32, pf1bit, 1, 4 * 6, 0, 0, 48},
      {"device bitmap, 4 bits", nullptr, 1, 32, pf4bit, 4, 8 * 6, 0, 0, 104},
      {"device bitmap, 8 bits", nullptr, 1, 32, pf8bit, 8, 12 * 6, 0, 0, 1064},
      {"device bitmap, 24 bits", nullptr, 1, 32, pf24bit, 24, 32 * 6, 0, 0, 40},
      {"device bitmap, own depth", nullptr, 1, 16, pf16bit, 16, 20 * 6, 0, 0, 40},
      {"section, same depth keeps its size", &section8, 1, 8, pf8bit, 8, 72, 16, 0, 1064},
      {"section to 24 bits: size and colours follow the depth", &section8, 1, 8, pf24bit, 24, 32 * 6, 0, 0, 40},
      {"compressed section, same depth", &rle8, 1, 8, pf8bit, 8, 20, 16, 1, 1076},
      {"compressed section to 24 bits", &rle8, 1, 8, pf24bit, 24, 32 * 6, 0, 0, 40},
      {"short header is not copied", &small, 1, 8, pf8bit, 8, 12 * 6, 0, 0, 1064},
  };
  for (const Case& c : cases) {
    TBitmapInfoHeader h = InfoHeaderForFormat(c.dib, 10, 6, c.planes, c.bpp, c.format);
    EXPECT_EQ(h.biBitCount, c.bitCount) << c.name;
    EXPECT_EQ(h.biPlanes, 1) << c.name;
    EXPECT_EQ(h.biSizeImage, c.sizeImage) << c.name;
    EXPECT_EQ(h.biClrUsed, c.clrUsed) << c.name;
    EXPECT_EQ(h.biCompression, c.compression) << c.name;
    EXPECT_EQ(HeaderWithPaletteSize(h), c.withPalette) << c.name;
    EXPECT_EQ(h.biXPelsPerMeter, c.dib && c.dib->biSize >= 40 ? 3780 : 0) << c.name;
  }
  TBitmapInfoHeader fields;
  fields.biBitCount = 16;
  fields.biCompression = 3;
  EXPECT_EQ(HeaderWithPaletteSize(fields), 52u);
}

TEST(QvGraph, ReducedBmpFileLoadsBack) {
  struct Case {
    TReductionMethod method;
    std::uint32_t colorsUsed;
  };
  const Case cases[] = {{rmHistogram, 0},  {rmMedianCut, 6},    {rmTrunc784, 224},
                        {rmTrunc666, 216}, {rmChannelCycle, 0}, {rmLuminance, 0}};
  for (const Case& c : cases) {
    // Six colours in distinct cells, two of them in one row.
    const TColor colors[] = {{255, 0, 0}, {0, 255, 0}, {0, 0, 255}, {255, 255, 255}, {120, 60, 30}, {40, 200, 90}};
    TPicture p(5, 3, [&](int x, int y) { return colors[static_cast<std::size_t>((x + 2 * y) % 6)]; });
    TPicture orig = p;
    TBitmapInfoHeader h8 = InfoHeaderForFormat(nullptr, 5, 3, 1, 32, pf8bit);
    std::string file = ReducedBmpFile(h8, p.header, p.pixels, c.method);
    ASSERT_EQ(file.size(), 1078u + 8 * 3) << int(c.method);
    ByteReader r(file);
    EXPECT_EQ(r.Bytes(2), "BM");
    EXPECT_EQ(r.U32LE(), file.size());
    EXPECT_EQ(r.U32LE(), 0u);
    EXPECT_EQ(r.U32LE(), 1078u);
    TBitmapInfoHeader info = ReadInfoHeader(r);
    EXPECT_EQ(info.biBitCount, 8);
    EXPECT_EQ(info.biSizeImage, 24u);
    EXPECT_EQ(info.biClrUsed, c.colorsUsed) << int(c.method);
    TDib dib = TDib::LoadFromBmp(file);
    ASSERT_EQ(dib.BitCount(), 8);
    ASSERT_EQ(dib.Width(), 5);
    ASSERT_EQ(dib.Height(), 3);
    if (c.method == rmHistogram) {
      // Exact colours: the picture comes back as it was (TDib rows are top first).
      for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 5; ++x) {
          TColor o = orig.Original(x, 2 - y);
          EXPECT_EQ(dib.Pixel(x, y), DibRGB(o.r, o.g, o.b)) << x << "," << y;
        }
    }
  }
}
