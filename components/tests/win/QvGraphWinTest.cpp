// BMP files of framework bitmaps in a chosen pixel format: the system's
// conversion for 1, 4 and 24 bits, the reductions for 8 bits, and the files
// of plain system bitmaps.
#include "QvGraphWin.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "ByteReader.h"
#include "Exceptions.h"
#include "Forms.h"

namespace {

// A 24-bit bitmap of `w` x `h` whose pixel (x, y) is colours[(x + y * w) % n].
TOwned<TBitmap> MakeBitmap(int w, int h, int bitCount, const std::vector<std::uint32_t>& colours) {
  TDib dib(w, h, bitCount);
  if (bitCount <= 8) {
    dib.Palette().assign(std::size_t{1} << bitCount, TRGBQuad{});
    for (std::size_t i = 0; i < colours.size(); ++i) {
      std::uint32_t c = colours[i];
      dib.Palette()[i] = TRGBQuad{static_cast<std::uint8_t>(c >> 16), static_cast<std::uint8_t>(c >> 8),
                                  static_cast<std::uint8_t>(c), 0};
    }
  }
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      std::size_t i = static_cast<std::size_t>(x + y * w) % colours.size();
      if (bitCount <= 8)
        dib.SetPixelIndex(x, y, static_cast<unsigned>(i));
      else
        dib.SetPixel(x, y, colours[i]);
    }
  TOwned<TBitmap> b(New<TBitmap>());
  b->SetDib(std::move(dib));
  return b;
}

// `n` distinct colours.
std::vector<std::uint32_t> DistinctColours(int n) {
  std::vector<std::uint32_t> c;
  for (int i = 0; i < n; ++i)
    c.push_back(DibRGB(static_cast<std::uint8_t>(i * 37), static_cast<std::uint8_t>(255 - i),
                       static_cast<std::uint8_t>(i * 11 + 3)));
  return c;
}

// The 16 colours of the system's 4-bit table.
const std::vector<std::uint32_t> kVga = {
    DibRGB(0, 0, 0),       DibRGB(128, 0, 0),   DibRGB(0, 128, 0),   DibRGB(128, 128, 0),
    DibRGB(0, 0, 128),     DibRGB(128, 0, 128), DibRGB(0, 128, 128), DibRGB(192, 192, 192),
    DibRGB(128, 128, 128), DibRGB(255, 0, 0),   DibRGB(0, 255, 0),   DibRGB(255, 255, 0),
    DibRGB(0, 0, 255),     DibRGB(255, 0, 255), DibRGB(0, 255, 255), DibRGB(255, 255, 255)};

std::string Contents(TMemoryStream* s) {
  EXPECT_EQ(s->Position(), 0);
  return s->DataString();
}

// The info header of a BMP file whose file header is checked: "BM", the
// file's size, the pixels' offset after the header and its colour table.
TBitmapInfoHeader HeaderOf(const std::string& file) {
  ByteReader r(file);
  EXPECT_EQ(r.Bytes(2), "BM");
  EXPECT_EQ(r.U32LE(), file.size());
  EXPECT_EQ(r.U32LE(), 0u);
  const std::uint32_t offset = r.U32LE();
  TBitmapInfoHeader h = ReadInfoHeader(r);
  EXPECT_EQ(offset, kBitmapFileHeaderSize + HeaderWithPaletteSize(h));
  EXPECT_EQ(file.size(), std::size_t{offset} + h.biSizeImage);
  return h;
}

std::uint16_t BitCountOf(const std::string& file) {
  return HeaderOf(file).biBitCount;
}

// Loads a BMP file back into a bitmap.
TOwned<TBitmap> LoadBack(const std::string& file) {
  TOwned<TStringStream> s(New<TStringStream>(file));
  TOwned<TBitmap> b(New<TBitmap>());
  b->LoadFromStream(*s);
  return b;
}

void ExpectSamePixels(TBitmap* expected, TBitmap* actual) {
  ASSERT_EQ(actual->GetWidth(), expected->GetWidth());
  ASSERT_EQ(actual->GetHeight(), expected->GetHeight());
  for (int y = 0; y < expected->GetHeight(); ++y)
    for (int x = 0; x < expected->GetWidth(); ++x)
      ASSERT_EQ(actual->Dib().Pixel(x, y), expected->Dib().Pixel(x, y)) << x << "," << y;
}

TEST(BitmapToStreamForColors, PicksTheDepthAndKeepsColoursThatFit) {
  struct Case {
    int colors;
    std::vector<std::uint32_t> used;
    std::uint16_t bits;
    TPixelFormat format;
  };
  const Case cases[] = {
      {2, {DibRGB(0, 0, 0), DibRGB(255, 255, 255)}, 1, pf1bit},
      {16, kVga, 4, pf4bit},
      {17, DistinctColours(17), 8, pf8bit},
      {256, DistinctColours(256), 8, pf8bit},
      {257, DistinctColours(300), 24, pf24bit},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.colors);
    // Odd widths so every row carries padding.
    TOwned<TBitmap> source = MakeBitmap(37, 19, 24, c.used);
    TOwned<TMemoryStream> s(BitmapToStreamForColors(*source, c.colors));
    std::string file = Contents(s.get());
    EXPECT_EQ(BitCountOf(file), c.bits);
    TOwned<TBitmap> back = LoadBack(file);
    EXPECT_EQ(PixelFormatOfBitmap(*back), c.format);
    ExpectSamePixels(source.get(), back.get());
  }
}

TEST(BitmapToReducedStream, EightBitBitmapIsSavedUnchangedButForLuminance) {
  TOwned<TBitmap> source = MakeBitmap(13, 7, 8, DistinctColours(40));
  ASSERT_EQ(PixelFormatOfBitmap(*source), pf8bit);
  TOwned<TMemoryStream> own(New<TMemoryStream>());
  source->SaveToStream(*own);
  const std::string saved = own->DataString();
  for (TReductionMethod m : {rmHistogram, rmMedianCut, rmTrunc784, rmTrunc666, rmChannelCycle}) {
    SCOPED_TRACE(static_cast<int>(m));
    TOwned<TMemoryStream> s(BitmapToReducedStream(*source, pf8bit, m));
    EXPECT_EQ(Contents(s.get()), saved);
  }
  TOwned<TMemoryStream> s(BitmapToReducedStream(*source, pf8bit, rmLuminance));
  std::string grey = Contents(s.get());
  EXPECT_NE(grey, saved);
  EXPECT_EQ(BitCountOf(grey), 8);
  TOwned<TBitmap> back = LoadBack(grey);
  EXPECT_EQ(PixelFormatOfBitmap(*back), pf8bit);
  for (int y = 0; y < 7; ++y)
    for (int x = 0; x < 13; ++x) {
      std::uint32_t c = source->Dib().Pixel(x, y);
      unsigned r = c & 0xFF, g = (c >> 8) & 0xFF, b = (c >> 16) & 0xFF;
      std::uint8_t l = static_cast<std::uint8_t>((77 * r + 150 * g + 29 * b) >> 8);
      ASSERT_EQ(back->Dib().Pixel(x, y), DibRGB(l, l, l)) << x << "," << y;
    }
}

TEST(BitmapToReducedStream, EveryMethodGivesALoadableEightBitFile) {
  TOwned<TBitmap> source = MakeBitmap(29, 11, 24, DistinctColours(300));
  for (TReductionMethod m : {rmHistogram, rmMedianCut, rmTrunc784, rmTrunc666, rmChannelCycle, rmLuminance}) {
    SCOPED_TRACE(static_cast<int>(m));
    TOwned<TMemoryStream> s(BitmapToReducedStream(*source, pf8bit, m));
    std::string file = Contents(s.get());
    EXPECT_EQ(BitCountOf(file), 8);
    TOwned<TBitmap> back = LoadBack(file);
    EXPECT_EQ(PixelFormatOfBitmap(*back), pf8bit);
    EXPECT_EQ(back->GetWidth(), 29);
    EXPECT_EQ(back->GetHeight(), 11);
  }
}

TEST(BitmapToReducedStream, TwentyFourBitTargetIsACompleteFile) {
  // A palettised bitmap, and a 24-bit one with rmLuminance: no reduction applies.
  TOwned<TBitmap> eight = MakeBitmap(9, 5, 8, DistinctColours(20));
  TOwned<TBitmap> full = MakeBitmap(9, 5, 24, DistinctColours(45));
  for (auto [bitmap, method] : {std::pair{eight.get(), rmHistogram}, std::pair{full.get(), rmLuminance}}) {
    TOwned<TMemoryStream> s(BitmapToReducedStream(*bitmap, pf24bit, method));
    std::string file = Contents(s.get());
    EXPECT_EQ(BitCountOf(file), 24);
    TOwned<TBitmap> back = LoadBack(file);
    EXPECT_EQ(PixelFormatOfBitmap(*back), pf24bit);
    ExpectSamePixels(bitmap, back.get());
  }
}

TEST(BitmapToReducedStream, BitmapWithoutImageIsInvalid) {
  TOwned<TBitmap> empty(New<TBitmap>());
  for (int colors : {2, 16, 256, 1000}) {
    try {
      TOwned<TMemoryStream> s(BitmapToStreamForColors(*empty, colors));
      ADD_FAILURE() << "no exception for " << colors;
    } catch (const EInvalidGraphic& e) {
      EXPECT_STREQ(e.what(), "Bitmap image is not valid");
    }
  }
}

BOOL CALLBACK FindNotImplementedBox(HWND w, LPARAM p) {
  char cls[32] = {}, text[64] = {};
  GetClassNameA(w, cls, sizeof cls);
  GetWindowTextA(w, text, sizeof text);
  if (std::string(cls) != "#32770" || std::string(text) != "Information") return TRUE;
  *reinterpret_cast<HWND*>(p) = w;
  return FALSE;
}

BOOL CALLBACK FindBoxText(HWND child, LPARAM p) {
  char text[128] = {};
  GetWindowTextA(child, text, sizeof text);
  if (std::string(text).find("implemented") != std::string::npos) *reinterpret_cast<std::string*>(p) = text;
  return TRUE;
}

// Runs `call` on this thread while another closes the information box it
// shows; gives the box's text ("" when none came).
template <typename F>
std::string WithBoxClosed(F call) {
  const DWORD thread = GetCurrentThreadId();
  std::atomic<bool> done{false};
  std::string shown;
  std::thread closer([&] {
    while (!done) {
      HWND box = nullptr;
      EnumThreadWindows(thread, &FindNotImplementedBox, reinterpret_cast<LPARAM>(&box));
      if (box) {
        EnumChildWindows(box, &FindBoxText, reinterpret_cast<LPARAM>(&shown));
        SendMessageA(GetDlgItem(box, IDOK), BM_CLICK, 0, 0);
        return;
      }
      Sleep(10);
    }
  });
  try {
    call();
  } catch (...) {
    done = true;
    closer.join();
    throw;
  }
  done = true;
  closer.join();
  return shown;
}

TEST(BitmapToReducedStream, OtherFormatsAreNotImplemented) {
  InitForms();
  TOwned<TBitmap> source = MakeBitmap(4, 4, 24, DistinctColours(3));
  for (TPixelFormat f : {pfDevice, pf15bit, pf16bit, pf32bit, pfCustom}) {
    SCOPED_TRACE(static_cast<int>(f));
    std::string shown = WithBoxClosed(
        [&] { EXPECT_THROW(TOwned<TMemoryStream>(BitmapToReducedStream(*source, f, rmHistogram)), EAbort); });
    EXPECT_EQ(shown, "Function not yet implemented");
  }
}

TEST(BitmapToReducedStream, EightBitFilesCarryTheMethodsColourCount) {
  // 300 colours: the popularity method keeps the 256 most frequent, the
  // others build their own palettes.
  TOwned<TBitmap> source = MakeBitmap(23, 17, 24, DistinctColours(300));
  struct Case {
    TReductionMethod method;
    std::uint32_t used;  // 0 for the median cut: any count from 1 to 256
  };
  const Case cases[] = {{rmHistogram, 0},  {rmMedianCut, 0},    {rmTrunc784, 224},
                        {rmTrunc666, 216}, {rmChannelCycle, 0}, {rmLuminance, 0}};
  for (const Case& c : cases) {
    SCOPED_TRACE(static_cast<int>(c.method));
    TOwned<TMemoryStream> s(BitmapToReducedStream(*source, pf8bit, c.method));
    const std::string file = Contents(s.get());
    const TBitmapInfoHeader h = HeaderOf(file);
    EXPECT_EQ(h.biSize, 40u);
    EXPECT_EQ(h.biWidth, 23);
    EXPECT_EQ(h.biHeight, 17);
    EXPECT_EQ(h.biPlanes, 1);
    EXPECT_EQ(h.biBitCount, 8);
    EXPECT_EQ(h.biCompression, 0u);
    EXPECT_EQ(h.biSizeImage, 24u * 17u);
    if (c.method == rmMedianCut) {
      EXPECT_GE(h.biClrUsed, 1u);
      EXPECT_LE(h.biClrUsed, 256u);
      TOwned<TBitmap> back = LoadBack(file);
      for (int y = 0; y < 17; ++y)
        for (int x = 0; x < 23; ++x) ASSERT_LT(back->Dib().PixelIndex(x, y), h.biClrUsed);
    } else {
      EXPECT_EQ(h.biClrUsed, c.used);
    }
  }
  // The fixed palettes: white is their last entry, black their first.
  TOwned<TBitmap> bw = MakeBitmap(2, 1, 24, {DibRGB(255, 255, 255), DibRGB(0, 0, 0)});
  for (auto [method, white] :
       {std::pair{rmTrunc666, 215u}, std::pair{rmTrunc784, 223u}, std::pair{rmLuminance, 255u}}) {
    TOwned<TMemoryStream> s(BitmapToReducedStream(*bw, pf8bit, method));
    TOwned<TBitmap> back = LoadBack(Contents(s.get()));
    EXPECT_EQ(back->Dib().PixelIndex(0, 0), white);
    EXPECT_EQ(back->Dib().PixelIndex(1, 0), 0u);
    EXPECT_EQ(back->Dib().Pixel(0, 0), DibRGB(255, 255, 255));
    EXPECT_EQ(back->Dib().Pixel(1, 0), DibRGB(0, 0, 0));
  }
}

// A system bitmap compatible with the screen, filled with `top` in its top
// row and `rest` below.
HBITMAP ScreenBitmap(int w, int h, COLORREF top, COLORREF rest) {
  HDC screen = GetDC(nullptr);
  HBITMAP bmp = CreateCompatibleBitmap(screen, w, h);
  HDC dc = CreateCompatibleDC(screen);
  ReleaseDC(nullptr, screen);
  HGDIOBJ old = SelectObject(dc, bmp);
  HBRUSH b1 = CreateSolidBrush(top), b2 = CreateSolidBrush(rest);
  RECT r1{0, 0, w, 1}, r2{0, 1, w, h};
  FillRect(dc, &r1, b1);
  FillRect(dc, &r2, b2);
  DeleteObject(b1);
  DeleteObject(b2);
  SelectObject(dc, old);
  DeleteDC(dc);
  return bmp;
}

// A 24-bit DIB section whose rows are stored top first (negative height).
HBITMAP TopDownSection(int w, int h, std::uint32_t top, std::uint32_t rest) {
  BITMAPINFO bi{};
  bi.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
  bi.bmiHeader.biWidth = w;
  bi.bmiHeader.biHeight = -h;
  bi.bmiHeader.biPlanes = 1;
  bi.bmiHeader.biBitCount = 24;
  void* bits = nullptr;
  HBITMAP bmp = CreateDIBSection(nullptr, &bi, DIB_RGB_COLORS, &bits, nullptr, 0);
  if (!bmp) return nullptr;
  const std::size_t stride = static_cast<std::size_t>((w * 24 + 31) / 32 * 4);
  auto* p = static_cast<std::uint8_t*>(bits);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      std::uint32_t c = y == 0 ? top : rest;
      std::uint8_t* px = p + static_cast<std::size_t>(y) * stride + 3 * static_cast<std::size_t>(x);
      px[0] = static_cast<std::uint8_t>(c >> 16);  // blue
      px[1] = static_cast<std::uint8_t>(c >> 8);
      px[2] = static_cast<std::uint8_t>(c);
    }
  GdiFlush();
  return bmp;
}

TEST(BitmapToDIBFile, FilesOfSystemBitmaps) {
  const std::uint32_t red = DibRGB(255, 0, 0), blue = DibRGB(0, 0, 255);
  struct Case {
    const char* name;
    HBITMAP handle;
  };
  const Case cases[] = {{"screen-compatible", ScreenBitmap(5, 3, RGB(255, 0, 0), RGB(0, 0, 255))},
                        {"top-down section", TopDownSection(5, 3, red, blue)}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_NE(c.handle, nullptr);
    for (auto [format, bits] :
         {std::pair{pf24bit, 24}, std::pair{pf8bit, 8}, std::pair{pf4bit, 4}, std::pair{pf1bit, 1}}) {
      SCOPED_TRACE(bits);
      const std::string file = BitmapToDIBFile(c.handle, nullptr, format);
      const TBitmapInfoHeader h = HeaderOf(file);
      EXPECT_EQ(h.biSize, 40u);
      EXPECT_EQ(h.biWidth, 5);
      EXPECT_EQ(h.biHeight, 3) << "the height is positive: the rows are stored bottom-up";
      EXPECT_EQ(h.biPlanes, 1);
      EXPECT_EQ(h.biBitCount, bits);
      EXPECT_EQ(h.biSizeImage, DibRowStride(5, static_cast<unsigned>(bits)) * 3);
      TOwned<TBitmap> back = LoadBack(file);
      if (bits >= 4) {
        // Red and blue are colours of the system's 4- and 8-bit tables.
        EXPECT_EQ(back->Dib().Pixel(0, 0), red);
        EXPECT_EQ(back->Dib().Pixel(4, 0), red);
        EXPECT_EQ(back->Dib().Pixel(0, 1), blue);
        EXPECT_EQ(back->Dib().Pixel(4, 2), blue);
      } else {
        EXPECT_EQ(PixelFormatOfBitmap(*back), pf1bit);
      }
    }
    DeleteObject(c.handle);
  }
  // The screen's own depth for a format that is not converted.
  HBITMAP device = ScreenBitmap(4, 2, RGB(0, 255, 0), RGB(0, 255, 0));
  HDC screen = GetDC(nullptr);
  const int depth = GetDeviceCaps(screen, PLANES) * GetDeviceCaps(screen, BITSPIXEL);
  ReleaseDC(nullptr, screen);
  const TBitmapInfoHeader h = HeaderOf(BitmapToDIBFile(device, nullptr, pfDevice));
  EXPECT_EQ(h.biBitCount, depth);
  EXPECT_EQ(h.biSizeImage, DibRowStride(4, static_cast<unsigned>(depth)) * 2);
  DeleteObject(device);
}

TEST(BitmapToDIBFile, PalettisedBitmapKeepsItsColours) {
  // A 4-bit bitmap of four colours that are not in the system's table, read
  // at 4 bits with its own palette selected: the file's table holds them.
  const std::vector<std::uint32_t> colours = {DibRGB(12, 34, 56), DibRGB(200, 100, 50), DibRGB(7, 250, 9),
                                              DibRGB(90, 90, 180)};
  TOwned<TBitmap> source = MakeBitmap(6, 4, 4, colours);
  HBITMAP handle = source->Handle();
  HPALETTE palette = source->Palette();
  ASSERT_NE(palette, nullptr);
  source->ReleaseCanvasContext();
  TOwned<TBitmap> back = LoadBack(BitmapToDIBFile(handle, palette, pf4bit));
  EXPECT_EQ(PixelFormatOfBitmap(*back), pf4bit);
  ExpectSamePixels(source.get(), back.get());
}

TEST(BitmapToDIBFile, WhatIsNoBitmapIsRefused) {
  HBRUSH brush = CreateSolidBrush(RGB(1, 2, 3));
  for (HBITMAP h : {static_cast<HBITMAP>(nullptr), reinterpret_cast<HBITMAP>(brush)}) {
    try {
      BitmapToDIBFile(h, nullptr, pf24bit);
      ADD_FAILURE() << "no exception";
    } catch (const EInvalidGraphic& e) {
      EXPECT_STREQ(e.what(), "Bitmap image is not valid");
    }
  }
  DeleteObject(brush);
}

}  // namespace
