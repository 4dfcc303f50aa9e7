#include "QvGraph.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <utility>
#include <vector>

#include "ByteWriter.h"
#include "Exceptions.h"

TReductionMethod DefaultReduction = rmHistogram;

namespace {

[[noreturn]] void InvalidBitmap() {
  throw EInvalidGraphic("Bitmap image is not valid");
}

// ---- Geometry ----------------------------------------------------------------------------------

struct TRows {
  int width = 0;
  int height = 0;
  std::size_t stride24 = 0;
  std::size_t stride8 = 0;
};

TRows RowsOf(const TBitmapInfoHeader& header, std::size_t available) {
  if (header.biWidth < 0 || header.biHeight < 0 || header.biBitCount != 24) InvalidBitmap();
  TRows r;
  r.width = header.biWidth;
  r.height = header.biHeight;
  std::uint64_t stride24 = DibRowStride(static_cast<std::uint64_t>(r.width), 24);
  if (r.height > 0 && stride24 > available / static_cast<std::uint64_t>(r.height)) InvalidBitmap();
  r.stride24 = static_cast<std::size_t>(stride24);
  r.stride8 = static_cast<std::size_t>(DibRowStride(static_cast<std::uint64_t>(r.width), 8));
  return r;
}

// Calls f(input pixel, output byte) for every pixel in memory order, bottom
// row first. Each output byte lies at or before its input, and after the
// inputs already visited, so the rows can be rewritten in place.
template <class F>
void ForEachPixel(const TRows& r, std::uint8_t* pixels, F&& f) {
  for (int y = 0; y < r.height; ++y) {
    const std::uint8_t* in = pixels + static_cast<std::size_t>(y) * r.stride24;
    std::uint8_t* out = pixels + static_cast<std::size_t>(y) * r.stride8;
    for (int x = 0; x < r.width; ++x, in += 3) f(in, out + x, x, y);
  }
}

// The padding bytes of the 8-bit rows are zero.
void ClearRowPadding(const TRows& r, std::uint8_t* pixels) {
  for (int y = 0; y < r.height; ++y)
    std::memset(pixels + static_cast<std::size_t>(y) * r.stride8 + r.width, 0,
                r.stride8 - static_cast<std::size_t>(r.width));
}

constexpr TRGBQuad Quad(std::uint8_t r, std::uint8_t g, std::uint8_t b) {
  return TRGBQuad{b, g, r, 0};
}

// ---- Fixed levels ------------------------------------------------------------------------------

template <std::size_t N>
struct TLevels {
  std::array<std::uint8_t, N> level;
  std::array<std::uint8_t, 256> nearest;  // per byte value: the nearest level (the lower on a tie)
};

template <std::size_t N>
constexpr TLevels<N> MakeLevels(std::array<std::uint8_t, N> level) {
  TLevels<N> t{level, {}};
  for (int v = 0; v < 256; ++v) {
    std::size_t best = 0;
    for (std::size_t i = 1; i < N; ++i) {
      int d = v > level[i] ? v - level[i] : level[i] - v;
      int bd = v > level[best] ? v - level[best] : level[best] - v;
      if (d < bd) best = i;
    }
    t.nearest[static_cast<std::size_t>(v)] = static_cast<std::uint8_t>(best);
  }
  return t;
}

constexpr auto kLevels4 = MakeLevels<4>({0, 85, 170, 255});
constexpr auto kLevels6 = MakeLevels<6>({0, 51, 102, 153, 204, 255});
constexpr auto kLevels7 = MakeLevels<7>({0, 43, 85, 128, 170, 213, 255});
constexpr auto kLevels8 = MakeLevels<8>({0, 36, 73, 109, 146, 182, 219, 255});

// ---- Popularity --------------------------------------------------------------------------------

constexpr unsigned kMaxHistogramColors = 2049;
constexpr unsigned kHistogramSlots = 5191;
constexpr std::uint16_t kEmptySlot = 0xFFFF;

struct THistogramColor {
  std::uint8_t blue, green, red;
  std::uint32_t count;
  std::uint16_t index;
};

struct THistogram {
  std::array<THistogramColor, kMaxHistogramColors> colors;
  std::array<std::uint16_t, kHistogramSlots> slots;
  unsigned count = 0;

  void Clear() {
    slots.fill(kEmptySlot);
    count = 0;
  }
  // The slot of a colour, or of the empty slot where it belongs.
  unsigned Find(std::uint8_t r, std::uint8_t g, std::uint8_t b) const {
    unsigned h =
        (static_cast<unsigned>(r + g) * static_cast<unsigned>(b + g) * static_cast<unsigned>(r + b)) % kHistogramSlots;
    for (;;) {
      std::uint16_t s = slots[h];
      if (s == kEmptySlot) return h;
      const THistogramColor& c = colors[s];
      if (c.red == r && c.green == g && c.blue == b) return h;
      if (++h == kHistogramSlots) h = 0;
    }
  }
  // Counts one pixel; false when a new colour finds the histogram full.
  bool Add(std::uint8_t r, std::uint8_t g, std::uint8_t b) {
    unsigned h = Find(r, g, b);
    std::uint16_t s = slots[h];
    if (s != kEmptySlot) {
      ++colors[s].count;
      return true;
    }
    if (count == kMaxHistogramColors) return false;
    colors[count] = THistogramColor{b, g, r, 1, 0};
    slots[h] = static_cast<std::uint16_t>(count++);
    return true;
  }
};

// The next masks after a failed count: green loses a bit when its mask is
// above red's, else red when red's is above blue's, else blue.
void DropMaskBit(std::uint8_t& red, std::uint8_t& green, std::uint8_t& blue) {
  auto drop = [](std::uint8_t& m) { m = static_cast<std::uint8_t>(m << 1); };
  if (green > red)
    drop(green);
  else if (red > blue)
    drop(red);
  else
    drop(blue);
}

// ---- Median cut --------------------------------------------------------------------------------

constexpr unsigned kCells = 4096;
constexpr std::uint16_t kNoCell = 0xFFFF;

struct TCell {
  std::uint32_t count = 0;
  std::uint16_t index = 0;
  std::uint16_t link = kNoCell;
};

struct TBox {
  std::uint8_t base[3] = {0, 0, 0};  // red, green, blue
  std::uint8_t extent[3] = {255, 255, 255};
  unsigned cellCount = 0;
  std::uint64_t pixelCount = 0;
  std::uint16_t first = kNoCell;
};

// The 4-bit value of a cell on channel 0 (red), 1 (green) or 2 (blue).
inline unsigned CellValue(unsigned cell, unsigned channel) {
  return (cell >> (8 - 4 * channel)) & 0x0F;
}

// Ascending by the channel value: quicksort around the middle element with a
// two-sided exchange, short ranges by insertion.
void SortCells(std::uint16_t* a, int lo, int hi, unsigned channel) {
  while (hi - lo + 1 >= 8) {
    unsigned pivot = CellValue(a[(lo + hi) / 2], channel);
    int i = lo, j = hi;
    do {
      while (CellValue(a[i], channel) < pivot) ++i;
      while (CellValue(a[j], channel) > pivot) --j;
      if (i <= j) std::swap(a[i++], a[j--]);
    } while (i <= j);
    if (j - lo < hi - i) {
      SortCells(a, lo, j, channel);
      lo = i;
    } else {
      SortCells(a, i, hi, channel);
      hi = j;
    }
  }
  for (int i = lo + 1; i <= hi; ++i) {
    std::uint16_t v = a[i];
    int j = i - 1;
    while (j >= lo && CellValue(a[j], channel) > CellValue(v, channel)) {
      a[j + 1] = a[j];
      --j;
    }
    a[j + 1] = v;
  }
}

struct TMedianCut {
  std::array<TCell, kCells> cells;
  std::array<TBox, 256> boxes;
  std::array<std::uint16_t, kCells> order;  // a box's cells while it is split
};

// Links cells[list[0..n-1]] in that order and returns the first.
std::uint16_t LinkCells(std::array<TCell, kCells>& cells, const std::uint16_t* list, unsigned n) {
  for (unsigned i = 0; i + 1 < n; ++i) cells[list[i]].link = list[i + 1];
  if (n > 0) cells[list[n - 1]].link = kNoCell;
  return n > 0 ? list[0] : kNoCell;
}

}  // namespace

// ---- Reductions --------------------------------------------------------------------------------

void PopularityReduce(const TBitmapInfoHeader& header, TReducedPalette& palette, std::span<std::uint8_t> pixels,
                      std::uint8_t redMask, std::uint8_t greenMask, std::uint8_t blueMask, int wanted) {
  TRows rows = RowsOf(header, pixels.size());
  wanted = std::clamp(wanted, 0, 256);
  auto hist = std::make_unique<THistogram>();

  // 1, 2: count, dropping mask bits until the colours fit.
  for (;;) {
    hist->Clear();
    bool fits = true;
    for (int y = 0; y < rows.height && fits; ++y) {
      const std::uint8_t* in = pixels.data() + static_cast<std::size_t>(y) * rows.stride24;
      for (int x = 0; x < rows.width; ++x, in += 3) {
        if (!hist->Add(in[2] & redMask, in[1] & greenMask, in[0] & blueMask)) {
          fits = false;
          break;
        }
      }
    }
    if (fits) break;
    DropMaskBit(redMask, greenMask, blueMask);
  }

  // 3: the most frequent colours take the first entries.
  auto& colors = hist->colors;
  const unsigned n = hist->count;
  int chosen = 0;
  for (; chosen < wanted && static_cast<unsigned>(chosen) < n; ++chosen) {
    unsigned best = 0;
    std::uint32_t bestCount = 0;
    for (unsigned i = 0; i < n; ++i)
      if (colors[i].count > bestCount) {
        bestCount = colors[i].count;
        best = i;
      }
    colors[best].index = static_cast<std::uint16_t>(chosen);
    colors[best].count = 0;
    palette[static_cast<std::size_t>(chosen)] = Quad(colors[best].red, colors[best].green, colors[best].blue);
  }
  for (int i = chosen; i < 256; ++i) palette[static_cast<std::size_t>(i)] = Quad(128, 128, 128);

  // 4: every colour not chosen (its count is still above 0) takes the nearest entry.
  for (unsigned i = 0; i < n; ++i) {
    THistogramColor& c = colors[i];
    if (c.count == 0) continue;
    int best = 0;
    int bestDistance = -1;
    for (int k = 0; k < chosen; ++k) {
      const TRGBQuad& q = palette[static_cast<std::size_t>(k)];
      int dr = c.red - q.rgbRed, dg = c.green - q.rgbGreen, db = c.blue - q.rgbBlue;
      int d = dr * dr + dg * dg + db * db;
      if (bestDistance < 0 || d < bestDistance) {
        bestDistance = d;
        best = k;
      }
    }
    c.index = static_cast<std::uint16_t>(best);
  }

  // 5: every pixel's masked colour gives its index.
  ForEachPixel(rows, pixels.data(), [&](const std::uint8_t* in, std::uint8_t* out, int, int) {
    unsigned h = hist->Find(in[2] & redMask, in[1] & greenMask, in[0] & blueMask);
    *out = static_cast<std::uint8_t>(colors[hist->slots[h]].index);
  });
  ClearRowPadding(rows, pixels.data());
}

int MedianCutReduce(const TBitmapInfoHeader& header, std::span<std::uint8_t> pixels, TReducedPalette& palette,
                    int colors) {
  TRows rows = RowsOf(header, pixels.size());
  colors = std::clamp(colors, 1, 256);
  auto work = std::make_unique<TMedianCut>();
  auto& cells = work->cells;
  auto& boxes = work->boxes;
  std::vector<std::uint16_t> cellOf(static_cast<std::size_t>(rows.width) * static_cast<std::size_t>(rows.height));

  // 1: every pixel, from the picture's top row, goes to its cell.
  std::size_t p = 0;
  for (int y = rows.height - 1; y >= 0; --y) {
    const std::uint8_t* in = pixels.data() + static_cast<std::size_t>(y) * rows.stride24;
    for (int x = 0; x < rows.width; ++x, in += 3) {
      unsigned cell =
          (static_cast<unsigned>(in[2] >> 4) << 8) | (static_cast<unsigned>(in[1] >> 4) << 4) | (in[0] >> 4);
      ++cells[cell].count;
      cellOf[p++] = static_cast<std::uint16_t>(cell);
    }
  }

  // 2: one box holding every cell in use.
  unsigned n = 0;
  for (unsigned c = 0; c < kCells; ++c)
    if (cells[c].count > 0) work->order[n++] = static_cast<std::uint16_t>(c);
  boxes[0].first = LinkCells(cells, work->order.data(), n);
  boxes[0].cellCount = n;
  boxes[0].pixelCount = cellOf.size();
  int used = 1;

  // 3: split the box with the largest extent until there are enough.
  while (used < colors) {
    int box = -1;
    unsigned channel = 0;
    int largest = -1;
    for (int b = 0; b < used; ++b) {
      if (boxes[static_cast<std::size_t>(b)].cellCount < 2) continue;
      for (unsigned ch = 0; ch < 3; ++ch)
        if (boxes[static_cast<std::size_t>(b)].extent[ch] > largest) {
          largest = boxes[static_cast<std::size_t>(b)].extent[ch];
          box = b;
          channel = ch;
        }
    }
    if (box < 0) break;
    TBox& old = boxes[static_cast<std::size_t>(box)];
    std::uint16_t* list = work->order.data();
    unsigned count = 0;
    for (std::uint16_t c = old.first; c != kNoCell; c = cells[c].link) list[count++] = c;
    SortCells(list, 0, static_cast<int>(count) - 1, channel);

    std::uint64_t half = old.pixelCount / 2;
    std::uint64_t lowerPixels = cells[list[0]].count;
    unsigned lower = 1;
    while (lower + 1 < count && lowerPixels + cells[list[lower]].count <= half)
      lowerPixels += cells[list[lower++]].count;

    TBox& fresh = boxes[static_cast<std::size_t>(used)];
    unsigned low = 16 * CellValue(list[lower - 1], channel);
    unsigned high = 16 * CellValue(list[lower], channel);
    std::copy(std::begin(old.base), std::end(old.base), fresh.base);
    std::copy(std::begin(old.extent), std::end(old.extent), fresh.extent);
    fresh.extent[channel] = static_cast<std::uint8_t>(old.base[channel] + old.extent[channel] - high);
    fresh.base[channel] = static_cast<std::uint8_t>(high);
    old.extent[channel] = static_cast<std::uint8_t>(low - old.base[channel]);
    fresh.first = LinkCells(cells, list + lower, count - lower);
    fresh.cellCount = count - lower;
    fresh.pixelCount = old.pixelCount - lowerPixels;
    old.first = LinkCells(cells, list, lower);
    old.cellCount = lower;
    old.pixelCount = lowerPixels;
    ++used;
  }

  // 4, 5: the box colours.
  for (int i = used; i < 256; ++i) palette[static_cast<std::size_t>(i)] = TRGBQuad{};
  for (int b = 0; b < used; ++b) {
    const TBox& box = boxes[static_cast<std::size_t>(b)];
    palette[static_cast<std::size_t>(b)] = TRGBQuad{};
    if (box.cellCount == 0) continue;
    unsigned sum[3] = {0, 0, 0};
    for (std::uint16_t c = box.first; c != kNoCell; c = cells[c].link) {
      cells[c].index = static_cast<std::uint16_t>(b);
      for (unsigned ch = 0; ch < 3; ++ch) sum[ch] += CellValue(c, ch);
    }
    std::uint8_t v[3];
    for (unsigned ch = 0; ch < 3; ++ch) v[ch] = static_cast<std::uint8_t>((sum[ch] * 16 + 15) / box.cellCount);
    if (v[0] <= 16 && v[1] <= 16 && v[2] <= 16) v[0] = v[1] = v[2] = 0;
    palette[static_cast<std::size_t>(b)] = Quad(v[0], v[1], v[2]);
  }

  // 6: the 8-bit rows, bottom-up.
  std::memset(pixels.data(), 0, rows.stride8 * static_cast<std::size_t>(rows.height));
  p = 0;
  for (int y = rows.height - 1; y >= 0; --y) {
    std::uint8_t* out = pixels.data() + static_cast<std::size_t>(y) * rows.stride8;
    for (int x = 0; x < rows.width; ++x) out[x] = static_cast<std::uint8_t>(cells[cellOf[p++]].index);
  }
  return used;
}

namespace {

// A fixed palette of R × G × B levels: entry r × G × B + g × B + b; the
// entries past them are 128 in all four bytes. Each pixel takes the nearest
// level per channel.
template <std::size_t R, std::size_t G, std::size_t B>
void TruncReduce(const TBitmapInfoHeader& header, std::span<std::uint8_t> pixels, TReducedPalette& palette,
                 const TLevels<R>& red, const TLevels<G>& green, const TLevels<B>& blue) {
  TRows rows = RowsOf(header, pixels.size());
  palette.fill(TRGBQuad{128, 128, 128, 128});
  for (unsigned r = 0; r < R; ++r)
    for (unsigned g = 0; g < G; ++g)
      for (unsigned b = 0; b < B; ++b) palette[(r * G + g) * B + b] = Quad(red.level[r], green.level[g], blue.level[b]);
  ForEachPixel(rows, pixels.data(), [&](const std::uint8_t* in, std::uint8_t* out, int, int) {
    *out = static_cast<std::uint8_t>((red.nearest[in[2]] * G + green.nearest[in[1]]) * B + blue.nearest[in[0]]);
  });
  ClearRowPadding(rows, pixels.data());
}

}  // namespace

void Trunc784Reduce(const TBitmapInfoHeader& header, std::span<std::uint8_t> pixels, TReducedPalette& palette) {
  TruncReduce(header, pixels, palette, kLevels7, kLevels8, kLevels4);
}

void Trunc666Reduce(const TBitmapInfoHeader& header, std::span<std::uint8_t> pixels, TReducedPalette& palette) {
  TruncReduce(header, pixels, palette, kLevels6, kLevels6, kLevels6);
}

void ChannelCycleReduce(const TBitmapInfoHeader& header, std::span<std::uint8_t> pixels, TReducedPalette& palette) {
  TRows rows = RowsOf(header, pixels.size());
  palette.fill(TRGBQuad{});
  for (unsigned i = 0; i < 64; ++i) {
    auto v = static_cast<std::uint8_t>(4 * i);
    palette[i] = Quad(v, 0, 0);
    palette[64 + i] = Quad(0, v, 0);
    palette[128 + i] = Quad(0, 0, v);
  }
  ForEachPixel(rows, pixels.data(), [](const std::uint8_t* in, std::uint8_t* out, int x, int y) {
    switch ((static_cast<unsigned>(x) + static_cast<unsigned>(y)) % 3) {
      case 0:
        *out = static_cast<std::uint8_t>(in[2] >> 2);
        break;
      case 1:
        *out = static_cast<std::uint8_t>((in[1] >> 2) + 64);
        break;
      default:
        *out = static_cast<std::uint8_t>((in[0] >> 2) + 128);
        break;
    }
  });
  ClearRowPadding(rows, pixels.data());
}

void LuminanceReduce(const TBitmapInfoHeader& header, std::span<std::uint8_t> pixels, TReducedPalette& palette) {
  TRows rows = RowsOf(header, pixels.size());
  for (unsigned i = 0; i < 256; ++i) {
    auto v = static_cast<std::uint8_t>(i);
    palette[i] = Quad(v, v, v);
  }
  ForEachPixel(rows, pixels.data(), [](const std::uint8_t* in, std::uint8_t* out, int, int) {
    *out = static_cast<std::uint8_t>((77u * in[2] + 150u * in[1] + 29u * in[0]) >> 8);
  });
  ClearRowPadding(rows, pixels.data());
}

std::uint32_t ReduceTo8Bits(TReductionMethod method, const TBitmapInfoHeader& header, std::span<std::uint8_t> pixels,
                            TReducedPalette& palette) {
  switch (method) {
    case rmHistogram:
      PopularityReduce(header, palette, pixels, 0xFF, 0xFF, 0xFF, 256);
      return 0;
    case rmMedianCut:
      return static_cast<std::uint32_t>(MedianCutReduce(header, pixels, palette, 256));
    case rmTrunc784:
      Trunc784Reduce(header, pixels, palette);
      return 224;
    case rmTrunc666:
      Trunc666Reduce(header, pixels, palette);
      return 216;
    case rmChannelCycle:
      ChannelCycleReduce(header, pixels, palette);
      return 0;
    case rmLuminance:
      LuminanceReduce(header, pixels, palette);
      return 0;
  }
  InvalidBitmap();
}

TPixelFormat PixelFormatForColors(int colors) {
  if (colors <= 2) return pf1bit;
  if (colors <= 16) return pf4bit;
  if (colors > 256) return pf24bit;
  return pf8bit;
}

TBitmapInfoHeader InfoHeaderForFormat(const TBitmapInfoHeader* dibHeader, std::int32_t width, std::int32_t height,
                                      unsigned planes, unsigned bitsPerPixel, TPixelFormat format) {
  TBitmapInfoHeader h;
  if (dibHeader && dibHeader->biSize >= kBitmapInfoHeaderSize) {
    h = *dibHeader;
  } else {
    h.biWidth = width;
    h.biHeight = height;
    h.biPlanes = 0;
  }
  unsigned bits;
  switch (format) {
    case pf1bit:
      bits = 1;
      break;
    case pf4bit:
      bits = 4;
      break;
    case pf8bit:
      bits = 8;
      break;
    case pf24bit:
      bits = 24;
      break;
    default:
      bits = planes * bitsPerPixel;
      break;
  }
  if (bits != h.biBitCount) {
    h.biCompression = kBiRgb;
    h.biSizeImage = 0;
    h.biClrUsed = 0;
    h.biClrImportant = 0;
  }
  h.biBitCount = static_cast<std::uint16_t>(bits);
  h.biPlanes = 1;
  if (h.biSizeImage == 0) {
    std::uint64_t absHeight = h.biHeight < 0 ? -static_cast<std::int64_t>(h.biHeight) : h.biHeight;
    std::uint64_t size = DibRowStride(static_cast<std::uint32_t>(std::max(h.biWidth, 0)), bits) * absHeight;
    if (size > 0xFFFFFFFFu) InvalidBitmap();
    h.biSizeImage = static_cast<std::uint32_t>(size);
  }
  return h;
}

std::uint32_t HeaderWithPaletteSize(const TBitmapInfoHeader& header) {
  std::uint32_t size = kBitmapInfoHeaderSize;
  if (header.biBitCount <= 8) size += 4u << header.biBitCount;
  if (header.biCompression & 3) size += 12;
  return size;
}

std::string ReducedBmpFile(const TBitmapInfoHeader& header8, const TBitmapInfoHeader& header24,
                           std::span<std::uint8_t> pixels24, TReductionMethod method) {
  TRows rows = RowsOf(header24, pixels24.size());
  TBitmapInfoHeader info = header8;
  // The rows written are plain 8-bit rows of the 24-bit picture's size.
  info.biWidth = rows.width;
  info.biHeight = rows.height;
  info.biPlanes = 1;
  info.biBitCount = 8;
  info.biCompression = kBiRgb;
  info.biSizeImage = static_cast<std::uint32_t>(rows.stride8 * static_cast<std::size_t>(rows.height));
  info.biClrImportant = 0;
  TReducedPalette palette{};
  info.biClrUsed = ReduceTo8Bits(method, header24, pixels24, palette);

  const std::uint32_t offset = kBitmapFileHeaderSize + HeaderWithPaletteSize(info);
  std::string file;
  file.reserve(offset + info.biSizeImage);
  ByteWriter w(file);
  w.U8(0x42);  // "BM"
  w.U8(0x4D);
  w.U32LE(offset + info.biSizeImage);
  w.U32LE(0);
  w.U32LE(offset);
  WriteInfoHeader(w, info);
  for (const TRGBQuad& q : palette) {
    w.U8(q.rgbBlue);
    w.U8(q.rgbGreen);
    w.U8(q.rgbRed);
    w.U8(q.rgbReserved);
  }
  file.append(reinterpret_cast<const char*>(pixels24.data()), info.biSizeImage);
  return file;
}
