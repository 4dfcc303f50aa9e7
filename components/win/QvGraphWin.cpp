#include "QvGraphWin.h"

#include <cstring>
#include <span>
#include <vector>

#include "ByteWriter.h"
#include "DrawUtils.h"
#include "Exceptions.h"
#include "Object.h"

namespace {

[[noreturn]] void InvalidBitmap() {
  throw EInvalidGraphic("Bitmap image is not valid");
}

// The info header of the bitmap written in `format`, with a positive height.
TBitmapInfoHeader InfoHeaderOf(HBITMAP handle, TPixelFormat format) {
  DIBSECTION ds{};
  int got = GetObjectW(handle, sizeof(ds), &ds);
  if (got < static_cast<int>(sizeof(BITMAP))) InvalidBitmap();
  TBitmapInfoHeader own;
  const TBitmapInfoHeader* dibHeader = nullptr;
  if (got >= static_cast<int>(sizeof(DIBSECTION)) && ds.dsBmih.biSize >= kBitmapInfoHeaderSize) {
    const BITMAPINFOHEADER& b = ds.dsBmih;
    own.biSize = b.biSize;
    own.biWidth = b.biWidth;
    own.biHeight = b.biHeight;
    own.biPlanes = b.biPlanes;
    own.biBitCount = b.biBitCount;
    own.biCompression = b.biCompression;
    own.biSizeImage = b.biSizeImage;
    own.biXPelsPerMeter = b.biXPelsPerMeter;
    own.biYPelsPerMeter = b.biYPelsPerMeter;
    own.biClrUsed = b.biClrUsed;
    own.biClrImportant = b.biClrImportant;
    dibHeader = &own;
  }
  TBitmapInfoHeader h =
      InfoHeaderForFormat(dibHeader, ds.dsBm.bmWidth, ds.dsBm.bmHeight, ds.dsBm.bmPlanes, ds.dsBm.bmBitsPixel, format);
  h.biSize = kBitmapInfoHeaderSize;
  if (h.biHeight < 0) h.biHeight = -h.biHeight;
  return h;
}

// Puts the memory context's old palette back and deletes the context on
// every path.
class TMemoryContext {
 public:
  TMemoryContext() : dc_(CreateCompatibleDC(nullptr)) {
    if (!dc_) throw EOutOfResources("Out of system resources");
  }
  ~TMemoryContext() {
    if (oldPalette_) SelectPalette(dc_, oldPalette_, FALSE);
    DeleteDC(dc_);
  }
  TMemoryContext(const TMemoryContext&) = delete;
  TMemoryContext& operator=(const TMemoryContext&) = delete;
  void UsePalette(HPALETTE palette) {
    oldPalette_ = SelectPalette(dc_, palette, FALSE);
    RealizePalette(dc_);
  }
  HDC Get() const { return dc_; }

 private:
  HDC dc_;
  HPALETTE oldPalette_ = nullptr;
};

// A BMP file of the bitmap in `format` and the info header it was laid out with.
struct TDibFile {
  TBitmapInfoHeader header;
  std::string bytes;
};

TDibFile ReadDibFile(HBITMAP handle, HPALETTE palette, TPixelFormat format) {
  if (!handle) InvalidBitmap();
  TDibFile file{InfoHeaderOf(handle, format), {}};
  const TBitmapInfoHeader& h = file.header;
  const std::uint32_t headerSize = HeaderWithPaletteSize(h);
  const std::uint64_t total = std::uint64_t{kBitmapFileHeaderSize} + headerSize + h.biSizeImage;
  if (total > 0xFFFFFFFFu) InvalidBitmap();
  file.bytes.reserve(static_cast<std::size_t>(total));
  ByteWriter w(file.bytes);
  w.U8(0x42);  // "BM"
  w.U8(0x4D);
  w.U32LE(static_cast<std::uint32_t>(total));
  w.U32LE(0);
  w.U32LE(kBitmapFileHeaderSize + headerSize);
  WriteInfoHeader(w, h);
  file.bytes.resize(static_cast<std::size_t>(total), '\0');

  TMemoryContext dc;
  if (palette) dc.UsePalette(palette);
  // The query fills an aligned copy of the header and its colour table, and the pixels in place.
  std::vector<std::uint32_t> bitmapInfo((headerSize + 3) / 4);
  char* info = file.bytes.data() + kBitmapFileHeaderSize;
  std::memcpy(bitmapInfo.data(), info, headerSize);
  char* pixels = info + headerSize;
  const int rows = GetDIBits(dc.Get(), handle, 0, static_cast<UINT>(h.biHeight), h.biSizeImage ? pixels : nullptr,
                             reinterpret_cast<BITMAPINFO*>(bitmapInfo.data()), DIB_RGB_COLORS);
  if (h.biHeight > 0 && rows != h.biHeight) InvalidBitmap();
  // The query may rewrite the header's sizes; the file keeps the ones it was laid out with.
  std::memcpy(info + kBitmapInfoHeaderSize, reinterpret_cast<const char*>(bitmapInfo.data()) + kBitmapInfoHeaderSize,
              headerSize - kBitmapInfoHeaderSize);
  return file;
}

}  // namespace

std::string BitmapToDIBFile(HBITMAP handle, HPALETTE palette, TPixelFormat format) {
  return ReadDibFile(handle, palette, format).bytes;
}

TMemoryStream* BitmapToReducedStream(TBitmap& bitmap, TPixelFormat format, TReductionMethod method) {
  if (bitmap.Empty()) InvalidBitmap();
  TOwned<TMemoryStream> stream(New<TMemoryStream>());
  if (bitmap.GetPixelFormat() == format && method != rmLuminance) {
    bitmap.SaveToStream(*stream);
  } else {
    HBITMAP handle = bitmap.Handle();
    HPALETTE palette = bitmap.Palette();
    // The bits are read in a context of their own.
    bitmap.ReleaseCanvasContext();
    switch (format) {
      case pf1bit:
      case pf4bit:
      case pf24bit:
        stream->WriteBytes(BitmapToDIBFile(handle, palette, format));
        break;
      case pf8bit: {
        TDibFile file24 = ReadDibFile(handle, palette, pf24bit);
        if (file24.header.biBitCount != 24) ReportNotImplemented();
        const std::size_t offset = kBitmapFileHeaderSize + HeaderWithPaletteSize(file24.header);
        std::span<std::uint8_t> pixels24(reinterpret_cast<std::uint8_t*>(file24.bytes.data()) + offset,
                                         file24.bytes.size() - offset);
        stream->WriteBytes(ReducedBmpFile(InfoHeaderOf(handle, pf8bit), file24.header, pixels24, method));
        break;
      }
      default:
        ReportNotImplemented();
    }
  }
  stream->SetPosition(0);
  return stream.release();
}

TMemoryStream* BitmapToStreamForColors(TBitmap& bitmap, int colors) {
  return BitmapToReducedStream(bitmap, PixelFormatForColors(colors), DefaultReduction);
}

TPixelFormat PixelFormatOfBitmap(TBitmap& bitmap) {
  return bitmap.GetPixelFormat();
}
