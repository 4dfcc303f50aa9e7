// The portable pixel store behind TBitmap: a device-independent bitmap
// (header values, palette, pixel rows) with pixel access and the BMP file
// codec. Rows are kept as a Windows DIB keeps them: bottom-up, each padded to
// a multiple of four bytes, so the Win32 side can hand Bits() to GDI as is.
//
// BMP data comes from outside (files, resources, clipboard, form data), so
// reading is bounds-checked and every malformed input raises
// EInvalidGraphic "Bitmap image is not valid".
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "ByteReader.h"
#include "ByteWriter.h"

struct TRGBQuad {
  std::uint8_t rgbBlue = 0, rgbGreen = 0, rgbRed = 0, rgbReserved = 0;
  friend bool operator==(const TRGBQuad&, const TRGBQuad&) = default;
};

// The 40-byte info header of a device-independent bitmap, as the codecs that
// fill or read DIB rows pass it around.
struct TBitmapInfoHeader {
  std::uint32_t biSize = 40;
  std::int32_t biWidth = 0;
  std::int32_t biHeight = 0;
  std::uint16_t biPlanes = 1;
  std::uint16_t biBitCount = 0;
  std::uint32_t biCompression = 0;
  std::uint32_t biSizeImage = 0;
  std::int32_t biXPelsPerMeter = 0;
  std::int32_t biYPelsPerMeter = 0;
  std::uint32_t biClrUsed = 0;
  std::uint32_t biClrImportant = 0;
  friend bool operator==(const TBitmapInfoHeader&, const TBitmapInfoHeader&) = default;
};
inline constexpr std::uint32_t kBitmapInfoHeaderSize = 40;
inline constexpr std::uint32_t kBitmapFileHeaderSize = 14;

// Bytes per row of a device-independent bitmap: width × bits rounded up to 32 bits.
constexpr std::uint64_t DibRowStride(std::uint64_t width, unsigned bitCount) {
  return (width * bitCount + 31) / 32 * 4;
}

// The header's 40 bytes, little-endian, whatever its biSize says.
inline void WriteInfoHeader(ByteWriter& w, const TBitmapInfoHeader& h) {
  w.U32LE(h.biSize);
  w.U32LE(static_cast<std::uint32_t>(h.biWidth));
  w.U32LE(static_cast<std::uint32_t>(h.biHeight));
  w.U16LE(h.biPlanes);
  w.U16LE(h.biBitCount);
  w.U32LE(h.biCompression);
  w.U32LE(h.biSizeImage);
  w.U32LE(static_cast<std::uint32_t>(h.biXPelsPerMeter));
  w.U32LE(static_cast<std::uint32_t>(h.biYPelsPerMeter));
  w.U32LE(h.biClrUsed);
  w.U32LE(h.biClrImportant);
}
inline TBitmapInfoHeader ReadInfoHeader(ByteReader& r) {
  TBitmapInfoHeader h;
  h.biSize = r.U32LE();
  h.biWidth = r.I32LE();
  h.biHeight = r.I32LE();
  h.biPlanes = r.U16LE();
  h.biBitCount = r.U16LE();
  h.biCompression = r.U32LE();
  h.biSizeImage = r.U32LE();
  h.biXPelsPerMeter = r.I32LE();
  h.biYPelsPerMeter = r.I32LE();
  h.biClrUsed = r.U32LE();
  h.biClrImportant = r.U32LE();
  return h;
}

enum TPixelFormat { pfDevice, pf1bit, pf4bit, pf8bit, pf15bit, pf16bit, pf24bit, pf32bit, pfCustom };

// Colours are $00BBGGRR values (a TColor without the system-colour bit).
constexpr std::uint32_t DibRGB(std::uint8_t r, std::uint8_t g, std::uint8_t b) {
  return static_cast<std::uint32_t>(r) | (static_cast<std::uint32_t>(g) << 8) | (static_cast<std::uint32_t>(b) << 16);
}

class TDib {
 public:
  static constexpr std::int64_t kMaxPixels = std::int64_t{1} << 26;  // refuses absurd sizes

  TDib() = default;
  // A zeroed image. bitCount is 1, 4, 8, 16 (5-5-5), 24 or 32; palettised
  // images get the default palette of their size.
  TDib(int width, int height, int bitCount);
  // An image in a pixel format (pf15bit and pf16bit are 16-bit with 5-5-5 and
  // 5-6-5 masks; pfDevice and pfCustom give 24 bits).
  static TDib WithFormat(int width, int height, TPixelFormat format);

  int Width() const { return width_; }
  int Height() const { return height_; }
  int BitCount() const { return bitCount_; }
  bool Empty() const { return width_ == 0 || height_ == 0; }
  TPixelFormat PixelFormat() const;
  // Converts the pixels to another format; palettised targets get the default palette.
  void SetPixelFormat(TPixelFormat format);
  // Resizes, keeping the pixels of the common top-left area.
  void SetSize(int width, int height);

  std::vector<TRGBQuad>& Palette() { return palette_; }
  const std::vector<TRGBQuad>& Palette() const { return palette_; }
  // Colour masks of a 16- or 32-bit image (red, green, blue); zero for 32-bit BGRX.
  const std::uint32_t* Masks() const { return masks_; }
  bool HasMasks() const;  // the masks are not the plain layout of the bit count

  std::size_t Stride() const { return stride_; }
  // Row y counted from the top.
  std::uint8_t* ScanLine(int y);
  const std::uint8_t* ScanLine(int y) const;
  // All rows, bottom-up, as a DIB stores them.
  const std::vector<std::uint8_t>& Bits() const { return bits_; }

  // The palette index of a pixel (palettised images only; others give 0).
  unsigned PixelIndex(int x, int y) const;
  void SetPixelIndex(int x, int y, unsigned index);
  // The colour of a pixel; out-of-range coordinates read black and write nothing.
  std::uint32_t Pixel(int x, int y) const;
  void SetPixel(int x, int y, std::uint32_t color);  // palettised: the nearest palette entry

  int XPelsPerMeter = 0;
  int YPelsPerMeter = 0;

  // A BMP file: BITMAPFILEHEADER, then packed DIB data.
  static TDib LoadFromBmp(std::string_view file);
  // Packed DIB data (a BITMAPINFOHEADER or one of its successors, or a
  // BITMAPCOREHEADER, then the palette and bits) as in RT_BITMAP resources
  // and on the clipboard. `bitsOffset` (from the start of `data`) is used when
  // not 0.
  static TDib LoadFromDibData(std::string_view data, std::size_t bitsOffset = 0);
  std::string SaveToBmp() const;
  std::string SaveToDibData() const;  // BITMAPINFOHEADER, masks when needed, palette, bits

  friend bool operator==(const TDib& a, const TDib& b);

 private:
  void Allocate(int width, int height, int bitCount);
  std::size_t RowOffset(int y) const;

  int width_ = 0, height_ = 0, bitCount_ = 0;
  std::size_t stride_ = 0;
  std::vector<TRGBQuad> palette_;
  std::uint32_t masks_[3] = {0, 0, 0};
  std::vector<std::uint8_t> bits_;
};

// The default palettes: 2 (black, white), 16 (the VGA colours) and 256 (the
// 16 VGA colours, a 6x6x6 colour cube, then greys).
std::vector<TRGBQuad> DefaultPalette(int bitCount);
