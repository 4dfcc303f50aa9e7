// The variable-length-code LZW of GIF raster data. A raster stream is the
// minimum code size byte followed by data sub-blocks (a length byte, then
// that many bytes) and a zero-length terminator. LZWDecode turns it into the
// rows of a bottom-up device-independent bitmap of 1, 4 or 8 bits per pixel;
// LZWEncode turns such rows back into a raster stream. Both walk the picture's
// rows either top to bottom or in the four-pass interlaced order.
//
// Raster data comes from outside (files, the clipboard), so the decoder reads
// only the bytes the sub-blocks hold, never writes outside the pixel buffer
// and bounds its string walks. Errors:
// - the minimum code size is outside 2..9: EInvalidGraphicOperation "GIF code
//   size not in range 2 to 9";
// - a string walk longer than the decoder's stack: EInvalidGraphicOperation
//   "GIF encoded data is corrupt";
// - the sub-blocks end, or the end code comes, while rows are still missing:
//   EReadError "Stream read error".
// Codes below the clear code are colour indexes whatever the frame's colour
// bits; an index beyond the frame's colour table is cut to its bits.
// With damaged data accepted, the decoder raises none of these: it marks the
// picture corrupt and stops, keeping the pixels decoded so far.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

#include "Dib.h"
#include "Exceptions.h"
#include "Method.h"
#include "ResStrings.h"
#include "Streams.h"

inline constexpr ResString SGIFDecodeError{61094, 0, "GIF encoded data is corrupt"};
inline constexpr ResString SGIFCodeSizeError{61095, 0, "GIF code size not in range 2 to 9"};

// A coding pass reports its progress: stage 0 starting, 1 running, 2 ending;
// percent 0 to 100; the message is the failure's text on the ending report of
// a pass that failed, else empty.
using TGifProgressEvent = Method<void(int stage, int percent, const std::string& message)>;

// The largest pixel buffer a raster stream is decoded into.
inline constexpr std::uint64_t kMaxGifPixelBuffer = std::uint64_t{256} << 20;

// The size of the pixel buffer that the codec reads or fills for `header`
// (height × stride). A header with a negative width or height, a bit count
// other than 1, 4 or 8, or a buffer larger than kMaxGifPixelBuffer raises
// EInvalidGraphic "Bitmap image is not valid".
std::size_t LzwPixelBufferSize(const TBitmapInfoHeader& header);

// The row after `row` in the interlaced order (rows 0, 8, 16, ... then 4, 12,
// ... then 2, 6, ... then 1, 3, ...); `pass` (0 to 3) is carried between
// calls. An answer not below `height` ends the picture.
int NextInterlacedRow(int row, int height, int& pass);

// Decodes the raster stream at `source`'s position into `pixels` (zeroed by
// the caller, LzwPixelBufferSize(header) bytes or more). `colorBits` (1 to 8)
// is the frame's bits per colour index. `corrupt` tells whether damaged data
// was accepted.
void LZWDecode(TStream& source, const TBitmapInfoHeader& header, bool interlaced, const TGifProgressEvent& progress,
               bool& corrupt, std::span<std::uint8_t> pixels, int colorBits, bool acceptDamage);

// Appends the raster stream of `pixels` (LzwPixelBufferSize(header) bytes or
// more) to `dest`: the minimum code size (2 for 1-bit pixels, 4 and 8 for the
// others), the sub-blocks of at most 255 bytes and the terminator.
void LZWEncode(TStream& dest, const TBitmapInfoHeader& header, bool interlaced, const TGifProgressEvent& progress,
               std::span<const std::uint8_t> pixels);
