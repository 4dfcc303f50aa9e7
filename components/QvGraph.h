// Colour reduction of 24-bit device-independent bitmaps to 8-bit palette
// pictures, and the BMP file that carries the result.
//
// 24-bit pixels are three bytes per pixel (blue, green, red), rows padded to a
// multiple of four bytes and stored bottom-up. Every reduction works in place:
// the 8-bit rows (padded to four bytes as well, same row order) are written
// over the start of the 24-bit buffer, and a 256-entry palette is filled.
//
// The six methods:
// - rmHistogram: the most frequent colours, counted with channel masks that
//   drop low bits until at most 2049 distinct colours remain;
// - rmMedianCut: boxes of 4-bit colour cells split at the median pixel count;
// - rmTrunc784 and rmTrunc666: fixed palettes of 7 × 8 × 4 and 6 × 6 × 6 levels;
// - rmChannelCycle: 64 reds, 64 greens and 64 blues, the channel chosen by
//   the pixel's position;
// - rmLuminance: 256 greys.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

#include "Dib.h"

enum TReductionMethod : std::uint8_t { rmHistogram, rmMedianCut, rmTrunc784, rmTrunc666, rmChannelCycle, rmLuminance };

// The reduction used when a picture must be brought to 256 colours.
extern TReductionMethod DefaultReduction;

using TReducedPalette = std::array<TRGBQuad, 256>;

// Compression values of the info header.
inline constexpr std::uint32_t kBiRgb = 0;

// Each reduction takes the 24-bit picture's info header (width, positive
// height) and its rows; a buffer shorter than the header's rows raises
// EInvalidGraphic "Bitmap image is not valid".

// Popularity of masked colours. The pixels' masked colours are counted; when
// more than 2049 distinct ones turn up, one channel mask loses its lowest bit
// (blue, red, green, blue, ... from three masks of 0xFF) and counting starts
// again. The `wanted` most frequent colours (the earliest counted among equal
// counts) take palette entries 0, 1, ...; the entries after them are grey
// (128, 128, 128); every other colour takes the nearest chosen entry.
void PopularityReduce(const TBitmapInfoHeader& header, TReducedPalette& palette, std::span<std::uint8_t> pixels,
                      std::uint8_t redMask, std::uint8_t greenMask, std::uint8_t blueMask, int wanted);

// Median cut over the 4096 cells of 4-bit red, green and blue values. Returns
// the number of palette entries made (at most `colors`, at most 256).
int MedianCutReduce(const TBitmapInfoHeader& header, std::span<std::uint8_t> pixels, TReducedPalette& palette,
                    int colors = 256);

void Trunc784Reduce(const TBitmapInfoHeader& header, std::span<std::uint8_t> pixels, TReducedPalette& palette);
void Trunc666Reduce(const TBitmapInfoHeader& header, std::span<std::uint8_t> pixels, TReducedPalette& palette);
void ChannelCycleReduce(const TBitmapInfoHeader& header, std::span<std::uint8_t> pixels, TReducedPalette& palette);
void LuminanceReduce(const TBitmapInfoHeader& header, std::span<std::uint8_t> pixels, TReducedPalette& palette);

// Runs the reduction `method` (all masks 0xFF and 256 colours for the
// popularity and median-cut methods) and gives the colours-used value of the
// result's info header: the number of colours made for rmMedianCut, 224 for
// rmTrunc784, 216 for rmTrunc666, else 0.
std::uint32_t ReduceTo8Bits(TReductionMethod method, const TBitmapInfoHeader& header, std::span<std::uint8_t> pixels,
                            TReducedPalette& palette);

// The pixel format that a picture of `colors` colours is brought to: 1 bit up
// to 2 colours, 4 bits up to 16, 24 bits above 256, else 8 bits.
TPixelFormat PixelFormatForColors(int colors);

// The info header of a bitmap written in `format`. `dibHeader` is the
// bitmap's own header when it is a DIB section (used when its size is at
// least 40 bytes), else null: then the header holds the width and height and
// zeros. The bit count becomes 1, 4, 8 or 24 for those formats, otherwise
// planes × bits per pixel; planes become 1. When the bit count changes, the
// copied compression, image size and colour counts no longer describe the
// rows and are reset. An image size of 0 becomes the padded row size × the
// absolute height.
TBitmapInfoHeader InfoHeaderForFormat(const TBitmapInfoHeader* dibHeader, std::int32_t width, std::int32_t height,
                                      unsigned planes, unsigned bitsPerPixel, TPixelFormat format);

// Bytes of the info header and its colour table: 40 + 4 × 2^bits up to 8
// bits per pixel, else 40; plus 12 for colour masks when the compression has
// bit 0 or bit 1 set.
std::uint32_t HeaderWithPaletteSize(const TBitmapInfoHeader& header);

// A complete 8-bit BMP file of the 24-bit picture (`header24`, `pixels24`)
// reduced by `method`. `header8` is the info header built for the 8-bit
// format (InfoHeaderForFormat); it gets the colours-used value of the method.
// The reduction runs over `pixels24` in place.
std::string ReducedBmpFile(const TBitmapInfoHeader& header8, const TBitmapInfoHeader& header24,
                           std::span<std::uint8_t> pixels24, TReductionMethod method);
