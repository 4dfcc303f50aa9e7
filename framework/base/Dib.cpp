#include "Dib.h"

#include <algorithm>
#include <bit>
#include <climits>
#include <cstring>

#include "ByteReader.h"
#include "ByteWriter.h"
#include "Exceptions.h"

namespace {

constexpr std::uint32_t kBiRgb = 0, kBiRle8 = 1, kBiRle4 = 2, kBiBitfields = 3;
constexpr std::uint32_t kMask555[3] = {0x7C00, 0x03E0, 0x001F};
constexpr std::uint32_t kMask565[3] = {0xF800, 0x07E0, 0x001F};
constexpr std::uint32_t kMask888[3] = {0x00FF0000, 0x0000FF00, 0x000000FF};

[[noreturn]] void Invalid() {
  throw EInvalidGraphic("Bitmap image is not valid");
}

bool ValidBitCount(int b) {
  return b == 1 || b == 4 || b == 8 || b == 16 || b == 24 || b == 32;
}

std::uint8_t Extract(std::uint32_t v, std::uint32_t mask) {
  if (mask == 0) return 0;
  const int shift = std::countr_zero(mask);
  const std::uint32_t field = mask >> shift;
  const int bits = std::bit_width(field);
  const std::uint32_t c = (v & mask) >> shift;
  if (bits >= 8) return static_cast<std::uint8_t>(c >> (bits - 8));
  return static_cast<std::uint8_t>((c * 255 + field / 2) / field);
}

std::uint32_t Insert(std::uint8_t c, std::uint32_t mask) {
  if (mask == 0) return 0;
  const int shift = std::countr_zero(mask);
  const std::uint32_t field = mask >> shift;
  const int bits = std::bit_width(field);
  std::uint32_t v = bits >= 8 ? (static_cast<std::uint32_t>(c) << (bits - 8)) : (c * field + 127) / 255;
  return (v << shift) & mask;
}

}  // namespace

std::vector<TRGBQuad> DefaultPalette(int bitCount) {
  auto q = [](int r, int g, int b) {
    return TRGBQuad{static_cast<std::uint8_t>(b), static_cast<std::uint8_t>(g), static_cast<std::uint8_t>(r), 0};
  };
  static const int vga[16][3] = {{0, 0, 0},       {128, 0, 0},   {0, 128, 0},   {128, 128, 0},
                                 {0, 0, 128},     {128, 0, 128}, {0, 128, 128}, {192, 192, 192},
                                 {128, 128, 128}, {255, 0, 0},   {0, 255, 0},   {255, 255, 0},
                                 {0, 0, 255},     {255, 0, 255}, {0, 255, 255}, {255, 255, 255}};
  std::vector<TRGBQuad> p;
  if (bitCount == 1) return {q(0, 0, 0), q(255, 255, 255)};
  if (bitCount != 4 && bitCount != 8) return p;
  for (const auto& c : vga) p.push_back(q(c[0], c[1], c[2]));
  if (bitCount == 4) return p;
  for (int r = 0; r < 6; ++r)
    for (int g = 0; g < 6; ++g)
      for (int b = 0; b < 6; ++b) p.push_back(q(r * 51, g * 51, b * 51));
  for (int i = 0; p.size() < 256; ++i) {
    const int v = 8 + i * 10;
    p.push_back(q(v, v, v));
  }
  return p;
}

TDib::TDib(int width, int height, int bitCount) {
  Allocate(width, height, bitCount);
  palette_ = DefaultPalette(bitCount);
}

TDib TDib::WithFormat(int width, int height, TPixelFormat format) {
  switch (format) {
    case pf1bit:
      return TDib(width, height, 1);
    case pf4bit:
      return TDib(width, height, 4);
    case pf8bit:
      return TDib(width, height, 8);
    case pf15bit:
      return TDib(width, height, 16);
    case pf16bit: {
      TDib d(width, height, 16);
      std::copy(kMask565, kMask565 + 3, d.masks_);
      return d;
    }
    case pf32bit:
      return TDib(width, height, 32);
    default:
      return TDib(width, height, 24);
  }
}

void TDib::Allocate(int width, int height, int bitCount) {
  if (width < 0 || height < 0 || !ValidBitCount(bitCount)) Invalid();
  if (static_cast<std::int64_t>(width) * height > kMaxPixels) Invalid();
  width_ = width;
  height_ = height;
  bitCount_ = bitCount;
  stride_ = ((static_cast<std::size_t>(width) * static_cast<std::size_t>(bitCount) + 31) / 32) * 4;
  bits_.assign(stride_ * static_cast<std::size_t>(height), 0);
  if (bitCount == 16)
    std::copy(kMask555, kMask555 + 3, masks_);
  else if (bitCount == 32)
    std::copy(kMask888, kMask888 + 3, masks_);
  else
    std::fill(masks_, masks_ + 3, 0u);
}

bool TDib::HasMasks() const {
  if (bitCount_ == 16) return !std::equal(masks_, masks_ + 3, kMask555);
  if (bitCount_ == 32) return !std::equal(masks_, masks_ + 3, kMask888);
  return false;
}

TPixelFormat TDib::PixelFormat() const {
  switch (bitCount_) {
    case 1:
      return pf1bit;
    case 4:
      return pf4bit;
    case 8:
      return pf8bit;
    case 16:
      if (std::equal(masks_, masks_ + 3, kMask555)) return pf15bit;
      if (std::equal(masks_, masks_ + 3, kMask565)) return pf16bit;
      return pfCustom;
    case 24:
      return pf24bit;
    case 32:
      return HasMasks() ? pfCustom : pf32bit;
    default:
      return pfDevice;
  }
}

void TDib::SetPixelFormat(TPixelFormat format) {
  if (format == PixelFormat() && !Empty()) return;
  TDib target = WithFormat(width_, height_, format);
  for (int y = 0; y < height_; ++y)
    for (int x = 0; x < width_; ++x) target.SetPixel(x, y, Pixel(x, y));
  target.XPelsPerMeter = XPelsPerMeter;
  target.YPelsPerMeter = YPelsPerMeter;
  *this = std::move(target);
}

void TDib::SetSize(int width, int height) {
  if (width == width_ && height == height_) return;
  TDib target(width, height, bitCount_ ? bitCount_ : 24);
  if (bitCount_) {
    target.palette_ = palette_;
    std::copy(masks_, masks_ + 3, target.masks_);
    const std::size_t rowBytes = std::min(target.stride_, stride_);
    for (int y = 0; y < std::min(height, height_); ++y) std::memcpy(target.ScanLine(y), ScanLine(y), rowBytes);
    // Clear what the narrower copy brought in beyond the new width.
    if (width < width_) {
      const std::size_t used = (static_cast<std::size_t>(width) * static_cast<std::size_t>(bitCount_) + 7) / 8;
      const unsigned tailBits = static_cast<unsigned>(width * bitCount_) % 8;
      for (int y = 0; y < target.height_; ++y) {
        std::uint8_t* row = target.ScanLine(y);
        std::fill(row + used, row + target.stride_, std::uint8_t{0});
        if (tailBits) row[used - 1] &= static_cast<std::uint8_t>(0xFF << (8 - tailBits));
      }
    }
  }
  target.XPelsPerMeter = XPelsPerMeter;
  target.YPelsPerMeter = YPelsPerMeter;
  *this = std::move(target);
}

std::size_t TDib::RowOffset(int y) const {
  return static_cast<std::size_t>(height_ - 1 - y) * stride_;
}

std::uint8_t* TDib::ScanLine(int y) {
  if (y < 0 || y >= height_) throw EInvalidGraphicOperation("Scan line index out of range");
  return bits_.data() + RowOffset(y);
}

const std::uint8_t* TDib::ScanLine(int y) const {
  if (y < 0 || y >= height_) throw EInvalidGraphicOperation("Scan line index out of range");
  return bits_.data() + RowOffset(y);
}

unsigned TDib::PixelIndex(int x, int y) const {
  if (x < 0 || y < 0 || x >= width_ || y >= height_ || bitCount_ > 8) return 0;
  const std::uint8_t* row = bits_.data() + RowOffset(y);
  switch (bitCount_) {
    case 1:
      return (row[x / 8] >> (7 - x % 8)) & 1u;
    case 4:
      return (row[x / 2] >> (x % 2 ? 0 : 4)) & 0xFu;
    default:
      return row[x];
  }
}

void TDib::SetPixelIndex(int x, int y, unsigned index) {
  if (x < 0 || y < 0 || x >= width_ || y >= height_ || bitCount_ > 8) return;
  std::uint8_t* row = bits_.data() + RowOffset(y);
  switch (bitCount_) {
    case 1: {
      const std::uint8_t bit = static_cast<std::uint8_t>(0x80 >> (x % 8));
      row[x / 8] = static_cast<std::uint8_t>((index & 1) ? (row[x / 8] | bit) : (row[x / 8] & ~bit));
      break;
    }
    case 4: {
      std::uint8_t& b = row[x / 2];
      b = (x % 2) ? static_cast<std::uint8_t>((b & 0xF0) | (index & 0xF))
                  : static_cast<std::uint8_t>((b & 0x0F) | ((index & 0xF) << 4));
      break;
    }
    default:
      row[x] = static_cast<std::uint8_t>(index);
      break;
  }
}

std::uint32_t TDib::Pixel(int x, int y) const {
  if (x < 0 || y < 0 || x >= width_ || y >= height_) return 0;
  const std::uint8_t* row = bits_.data() + RowOffset(y);
  if (bitCount_ <= 8) {
    const unsigned i = PixelIndex(x, y);
    if (i >= palette_.size()) return 0;
    const TRGBQuad& q = palette_[i];
    return DibRGB(q.rgbRed, q.rgbGreen, q.rgbBlue);
  }
  if (bitCount_ == 24) {
    const std::uint8_t* p = row + static_cast<std::size_t>(x) * 3;
    return DibRGB(p[2], p[1], p[0]);
  }
  std::uint32_t v = 0;
  if (bitCount_ == 16) {
    const std::uint8_t* p = row + static_cast<std::size_t>(x) * 2;
    v = static_cast<std::uint32_t>(p[0] | (p[1] << 8));
  } else {
    const std::uint8_t* p = row + static_cast<std::size_t>(x) * 4;
    v = static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
        (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
  }
  return DibRGB(Extract(v, masks_[0]), Extract(v, masks_[1]), Extract(v, masks_[2]));
}

void TDib::SetPixel(int x, int y, std::uint32_t color) {
  if (x < 0 || y < 0 || x >= width_ || y >= height_) return;
  const std::uint8_t r = color & 0xFF, g = (color >> 8) & 0xFF, b = (color >> 16) & 0xFF;
  std::uint8_t* row = bits_.data() + RowOffset(y);
  if (bitCount_ <= 8) {
    unsigned best = 0;
    long bestDist = LONG_MAX;
    for (std::size_t i = 0; i < palette_.size() && i < (1u << bitCount_); ++i) {
      const long dr = long{palette_[i].rgbRed} - r, dg = long{palette_[i].rgbGreen} - g,
                 db = long{palette_[i].rgbBlue} - b;
      const long d = dr * dr + dg * dg + db * db;
      if (d < bestDist) {
        bestDist = d;
        best = static_cast<unsigned>(i);
        if (d == 0) break;
      }
    }
    SetPixelIndex(x, y, best);
    return;
  }
  if (bitCount_ == 24) {
    std::uint8_t* p = row + static_cast<std::size_t>(x) * 3;
    p[0] = b;
    p[1] = g;
    p[2] = r;
    return;
  }
  const std::uint32_t v = Insert(r, masks_[0]) | Insert(g, masks_[1]) | Insert(b, masks_[2]);
  const std::size_t bytes = static_cast<std::size_t>(bitCount_ / 8);
  std::uint8_t* p = row + static_cast<std::size_t>(x) * bytes;
  for (std::size_t i = 0; i < bytes; ++i) p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}

// --- BMP codec ---------------------------------------------------------------------------------

TDib TDib::LoadFromBmp(std::string_view file) {
  try {
    ByteReader r(file);
    if (r.U8() != 'B' || r.U8() != 'M') Invalid();
    r.U32LE();  // file size: often wrong in the wild, not relied on
    r.U32LE();  // reserved
    const std::uint32_t offBits = r.U32LE();
    const std::size_t dibOffset = 14;
    std::size_t bitsOffset = 0;
    if (offBits > dibOffset && offBits <= file.size()) bitsOffset = offBits - dibOffset;
    return LoadFromDibData(file.substr(dibOffset), bitsOffset);
  } catch (const EByteRange&) {
    Invalid();
  }
}

TDib TDib::LoadFromDibData(std::string_view data, std::size_t bitsOffset) {
  try {
    ByteReader r(data);
    const std::uint32_t headerSize = r.U32LE();
    std::int64_t width = 0, height = 0;
    int planes = 0, bitCount = 0;
    std::uint32_t compression = kBiRgb, clrUsed = 0;
    std::int32_t xppm = 0, yppm = 0;
    std::size_t entrySize = 4;
    std::uint32_t masks[3] = {0, 0, 0};
    if (headerSize == 12) {
      width = r.U16LE();
      height = r.U16LE();
      planes = r.U16LE();
      bitCount = r.U16LE();
      entrySize = 3;
    } else if (headerSize >= 40 && headerSize <= 1024) {
      width = r.I32LE();
      height = r.I32LE();
      planes = r.U16LE();
      bitCount = r.U16LE();
      compression = r.U32LE();
      r.U32LE();  // image size
      xppm = r.I32LE();
      yppm = r.I32LE();
      clrUsed = r.U32LE();
      r.U32LE();  // important colours
      if (compression == kBiBitfields) {
        // The masks sit in the larger headers, or follow the 40-byte one.
        r.Seek(40);
        for (auto& m : masks) m = r.U32LE();
      }
      r.Seek(std::max<std::size_t>(headerSize, compression == kBiBitfields ? 52 : 0));
    } else {
      Invalid();
    }
    const bool topDown = height < 0;
    if (topDown) height = -height;
    if (planes != 1 || !ValidBitCount(bitCount) || width <= 0 || height <= 0 || width > INT_MAX || height > INT_MAX)
      Invalid();
    switch (compression) {
      case kBiRgb:
        break;
      case kBiRle8:
        if (bitCount != 8 || topDown) Invalid();
        break;
      case kBiRle4:
        if (bitCount != 4 || topDown) Invalid();
        break;
      case kBiBitfields:
        if ((bitCount != 16 && bitCount != 32) || (masks[0] | masks[1] | masks[2]) == 0) Invalid();
        break;
      default:
        Invalid();
    }

    // The palette.
    std::vector<TRGBQuad> palette;
    std::size_t colours = clrUsed;
    if (bitCount <= 8) {
      if (colours == 0) colours = std::size_t{1} << bitCount;
      if (colours > 256) Invalid();
      palette.resize(colours);
      for (TRGBQuad& q : palette) {
        q.rgbBlue = r.U8();
        q.rgbGreen = r.U8();
        q.rgbRed = r.U8();
        if (entrySize == 4) r.U8();
      }
    } else if (!bitsOffset && colours) {
      if (colours > 65536) Invalid();
      r.Skip(colours * entrySize);  // an optional palette for palettised devices
    }
    if (bitsOffset) r.Seek(bitsOffset);

    // Uncompressed rows must all be there before anything is allocated for them.
    const std::size_t stride = ((static_cast<std::size_t>(width) * static_cast<std::size_t>(bitCount) + 31) / 32) * 4;
    if ((compression == kBiRgb || compression == kBiBitfields) &&
        static_cast<std::size_t>(height) > r.Remaining() / stride)
      Invalid();

    TDib dib;
    dib.Allocate(static_cast<int>(width), static_cast<int>(height), bitCount);
    dib.XPelsPerMeter = xppm;
    dib.YPelsPerMeter = yppm;
    dib.palette_ = std::move(palette);
    if (compression == kBiBitfields) std::copy(masks, masks + 3, dib.masks_);

    const std::size_t rows = static_cast<std::size_t>(height);
    if (compression == kBiRgb || compression == kBiBitfields) {
      for (std::size_t y = 0; y < rows; ++y) {
        std::string_view src = r.View(dib.stride_);
        const std::size_t dst = (topDown ? rows - 1 - y : y) * dib.stride_;
        std::memcpy(dib.bits_.data() + dst, src.data(), dib.stride_);
      }
    } else {
      // Run-length encoded, bottom-up: runs, end of line (0 0), end of bitmap
      // (0 1), a move (0 2 dx dy) and absolute runs (0 n, padded to 16 bits).
      const bool rle4 = compression == kBiRle4;
      std::size_t x = 0, y = 0;
      auto put = [&](unsigned index) {
        if (x < static_cast<std::size_t>(width) && y < rows) {
          std::uint8_t* row = dib.bits_.data() + y * dib.stride_;
          if (rle4) {
            std::uint8_t& b = row[x / 2];
            b = (x % 2) ? static_cast<std::uint8_t>((b & 0xF0) | (index & 0xF))
                        : static_cast<std::uint8_t>((b & 0x0F) | ((index & 0xF) << 4));
          } else {
            row[x] = static_cast<std::uint8_t>(index);
          }
        }
        ++x;
      };
      for (;;) {
        const unsigned count = r.U8(), value = r.U8();
        if (count) {
          for (unsigned i = 0; i < count; ++i) put(rle4 ? ((i % 2) ? value & 0xF : value >> 4) : value);
        } else if (value == 0) {
          x = 0;
          ++y;
        } else if (value == 1) {
          break;
        } else if (value == 2) {
          x += r.U8();
          y += r.U8();
        } else {
          const std::size_t bytes = rle4 ? (value + 1) / 2 : value;
          std::string_view run = r.View(bytes);
          for (unsigned i = 0; i < value; ++i) {
            const unsigned char c = static_cast<unsigned char>(run[rle4 ? i / 2 : i]);
            put(rle4 ? ((i % 2) ? c & 0xF : c >> 4) : c);
          }
          if (bytes % 2) r.Skip(1);
        }
        if (y > rows) break;  // past the top: nothing more can land in the image
      }
    }
    // Clear the row padding, so equal images compare equal whatever the file held there.
    const std::size_t used = (static_cast<std::size_t>(width) * static_cast<std::size_t>(bitCount) + 7) / 8;
    const unsigned tailBits = static_cast<unsigned>((width * bitCount) % 8);
    for (std::size_t y = 0; y < rows; ++y) {
      std::uint8_t* row = dib.bits_.data() + y * dib.stride_;
      std::fill(row + used, row + dib.stride_, std::uint8_t{0});
      if (tailBits) row[used - 1] &= static_cast<std::uint8_t>(0xFF << (8 - tailBits));
    }
    return dib;
  } catch (const EByteRange&) {
    Invalid();
  }
}

std::string TDib::SaveToDibData() const {
  std::string out;
  if (Empty()) return out;
  ByteWriter w(out);
  const bool masked = HasMasks();
  const std::size_t colours = bitCount_ <= 8 ? palette_.size() : 0;
  w.U32LE(40);
  w.U32LE(static_cast<std::uint32_t>(width_));
  w.U32LE(static_cast<std::uint32_t>(height_));
  w.U16LE(1);
  w.U16LE(static_cast<std::uint16_t>(bitCount_));
  w.U32LE(masked ? kBiBitfields : kBiRgb);
  w.U32LE(static_cast<std::uint32_t>(bits_.size()));
  w.U32LE(static_cast<std::uint32_t>(XPelsPerMeter));
  w.U32LE(static_cast<std::uint32_t>(YPelsPerMeter));
  w.U32LE(static_cast<std::uint32_t>(colours));
  w.U32LE(0);
  if (masked)
    for (std::uint32_t m : masks_) w.U32LE(m);
  for (std::size_t i = 0; i < colours; ++i) {
    w.U8(palette_[i].rgbBlue);
    w.U8(palette_[i].rgbGreen);
    w.U8(palette_[i].rgbRed);
    w.U8(0);
  }
  w.Bytes(bits_.data(), bits_.size());
  return out;
}

std::string TDib::SaveToBmp() const {
  if (Empty()) return {};
  const std::string dib = SaveToDibData();
  const std::size_t headerBytes = dib.size() - bits_.size();
  std::string out = "BM";
  ByteWriter w(out);
  w.U32LE(static_cast<std::uint32_t>(14 + dib.size()));
  w.U32LE(0);
  w.U32LE(static_cast<std::uint32_t>(14 + headerBytes));
  w.Bytes(dib);
  return out;
}

bool operator==(const TDib& a, const TDib& b) {
  if (a.width_ != b.width_ || a.height_ != b.height_ || a.bitCount_ != b.bitCount_ || a.bits_ != b.bits_) return false;
  if (a.bitCount_ <= 8) return a.palette_ == b.palette_;
  return std::equal(a.masks_, a.masks_ + 3, b.masks_);
}
