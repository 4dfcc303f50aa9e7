// BMP files of framework bitmaps in a chosen pixel format: the system's
// conversion for 1 and 4 bits and for 24 bits, a reduction of the 24-bit
// pixels (QvGraph.h) for 8 bits.
#pragma once

#include <windows.h>

#include <string>

#include "Graphics.h"
#include "QvGraph.h"
#include "Streams.h"

// A complete BMP file of the bitmap `handle` in `format` (1, 4, 8 or 24 bits,
// or the bitmap's own depth for the others), its pixels read with `palette`
// selected and realised when one is given. Raises EInvalidGraphic "Bitmap
// image is not valid" for a null handle or one the system does not know.
std::string BitmapToDIBFile(HBITMAP handle, HPALETTE palette, TPixelFormat format);

// A new stream (owned by the caller, rewound) holding a BMP file of the bitmap
// in `format`:
// - the bitmap's own file when it already has that format (except with
//   rmLuminance);
// - 1, 4 and 24 bits: the system's conversion;
// - 8 bits: the 24-bit pixels reduced by `method`.
// Other formats show "Function not yet implemented" and abort silently. A
// bitmap without an image raises EInvalidGraphic "Bitmap image is not valid".
TMemoryStream* BitmapToReducedStream(TBitmap& bitmap, TPixelFormat format, TReductionMethod method);

// BitmapToReducedStream with the format for `colors` colours (1 bit up to 2,
// 4 bits up to 16, 8 bits up to 256, else 24 bits) and DefaultReduction.
TMemoryStream* BitmapToStreamForColors(TBitmap& bitmap, int colors);

// The bitmap's current pixel format.
TPixelFormat PixelFormatOfBitmap(TBitmap& bitmap);
