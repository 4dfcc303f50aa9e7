#include "Dib.h"

#include <gtest/gtest.h>

#include <string>

#include "Exceptions.h"

namespace {

// A pattern that uses every palette entry / colour channel.
void Fill(TDib& d) {
  for (int y = 0; y < d.Height(); ++y)
    for (int x = 0; x < d.Width(); ++x) {
      if (d.BitCount() <= 8)
        d.SetPixelIndex(x, y, static_cast<unsigned>(x * 7 + y * 3) % (1u << d.BitCount()));
      else
        d.SetPixel(x, y,
                   DibRGB(static_cast<std::uint8_t>(x * 40), static_cast<std::uint8_t>(y * 50),
                          static_cast<std::uint8_t>(255 - x * 10)));
    }
}

TEST(Dib, BmpRoundTripPerPixelFormat) {
  const TPixelFormat formats[] = {pf1bit, pf4bit, pf8bit, pf15bit, pf16bit, pf24bit, pf32bit};
  for (TPixelFormat f : formats) {
    TDib d = TDib::WithFormat(5, 3, f);  // an odd width exercises the row padding
    d.XPelsPerMeter = 3780;
    Fill(d);
    const std::string bmp = d.SaveToBmp();
    TDib back = TDib::LoadFromBmp(bmp);
    EXPECT_EQ(back.PixelFormat(), f) << f;
    EXPECT_TRUE(back == d) << f;
    EXPECT_EQ(back.XPelsPerMeter, 3780);
    EXPECT_EQ(back.Pixel(4, 2), d.Pixel(4, 2)) << f;
  }
  // Colours survive exactly at 24 bits, and to 5 bits a channel at 15.
  TDib d = TDib::WithFormat(2, 2, pf24bit);
  d.SetPixel(1, 0, DibRGB(1, 2, 3));
  EXPECT_EQ(TDib::LoadFromBmp(d.SaveToBmp()).Pixel(1, 0), DibRGB(1, 2, 3));
  d.SetPixelFormat(pf15bit);
  EXPECT_EQ(d.Pixel(1, 0), DibRGB(0, 0, 0));
  d.SetPixel(0, 1, DibRGB(255, 0, 255));
  EXPECT_EQ(d.Pixel(0, 1), DibRGB(255, 0, 255));
}

std::string Le32(std::uint32_t v) {
  std::string s;
  for (int i = 0; i < 4; ++i) s.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
  return s;
}
std::string Le16(std::uint16_t v) {
  return std::string{static_cast<char>(v & 0xFF), static_cast<char>(v >> 8)};
}

// A BITMAPINFOHEADER for hand-made images.
std::string InfoHeader(std::int32_t w, std::int32_t h, std::uint16_t bpp, std::uint32_t compression,
                       std::uint32_t colours = 0, std::uint16_t planes = 1) {
  return Le32(40) + Le32(static_cast<std::uint32_t>(w)) + Le32(static_cast<std::uint32_t>(h)) + Le16(planes) +
         Le16(bpp) + Le32(compression) + Le32(0) + Le32(0) + Le32(0) + Le32(colours) + Le32(0);
}
std::string Grey2() {
  return std::string("\0\0\0\0\xFF\xFF\xFF\0", 8);
}

TEST(Dib, ReadsTopDownCoreAndRunLengthImages) {
  // 2x2 top-down 8 bit, two palette entries: top row 0 1, bottom row 1 0.
  TDib td = TDib::LoadFromDibData(InfoHeader(2, -2, 8, 0, 2) + Grey2() + std::string("\0\1\0\0\1\0\0\0", 8));
  EXPECT_EQ(td.Pixel(1, 0), DibRGB(255, 255, 255));
  EXPECT_EQ(td.Pixel(0, 1), DibRGB(255, 255, 255));
  EXPECT_EQ(td.Pixel(0, 0), 0u);

  // The same picture bottom-up with a BITMAPCOREHEADER (RGB triples), 1 bit.
  std::string core = Le32(12) + Le16(2) + Le16(2) + Le16(1) + Le16(1) + std::string("\0\0\0\xFF\xFF\xFF", 6) +
                     std::string("\x80\0\0\0\x40\0\0\0", 8);
  TDib c = TDib::LoadFromDibData(core);
  EXPECT_EQ(c.Pixel(0, 1), DibRGB(255, 255, 255));
  EXPECT_EQ(c.Pixel(1, 0), DibRGB(255, 255, 255));

  // RLE8 3x2: bottom row a run of three 1s; top row absolute 0 1 1 (padded), end of bitmap.
  std::string rle = std::string("\x03\x01\x00\x00\x00\x03\x00\x01\x01\x00\x00\x01", 12);
  TDib r8 = TDib::LoadFromDibData(InfoHeader(3, 2, 8, 1, 2) + Grey2() + rle);
  EXPECT_EQ(r8.PixelIndex(0, 1), 1u);
  EXPECT_EQ(r8.PixelIndex(2, 1), 1u);
  EXPECT_EQ(r8.PixelIndex(0, 0), 0u);
  EXPECT_EQ(r8.PixelIndex(1, 0), 1u);
  EXPECT_EQ(r8.BitCount(), 8);
}

TEST(Dib, BadInputRaisesInvalidGraphic) {
  const std::string good = TDib::WithFormat(4, 4, pf8bit).SaveToBmp();
  const std::string bits24(12 * 2, '\0');
  struct Case {
    const char* what;
    std::string data;
    bool file;
  } cases[] = {
      {"empty", "", true},
      {"not BM", "XM" + good.substr(2), true},
      {"truncated header", good.substr(0, 30), true},
      {"truncated palette", good.substr(0, 14 + 40 + 100), true},
      {"truncated bits", good.substr(0, good.size() - 1), true},
      {"unknown header size", Le32(20) + std::string(40, '\0'), false},
      {"zero planes", InfoHeader(2, 2, 24, 0, 0, 0) + bits24, false},
      {"bit count 3", InfoHeader(2, 2, 3, 0) + bits24, false},
      {"zero width", InfoHeader(0, 2, 24, 0) + bits24, false},
      {"zero height", InfoHeader(2, 0, 24, 0) + bits24, false},
      {"huge size, no data", InfoHeader(65535, 65535, 24, 0) + bits24, false},
      {"too many colours", InfoHeader(2, 2, 8, 0, 300) + std::string(300 * 4 + 8, '\0'), false},
      {"unknown compression", InfoHeader(2, 2, 24, 9) + bits24, false},
      {"RLE8 on 24 bits", InfoHeader(2, 2, 24, 1) + bits24, false},
      {"top-down RLE", InfoHeader(2, -2, 8, 1, 2) + Grey2() + std::string("\0\1", 2), false},
      {"RLE without end", InfoHeader(2, 2, 8, 1, 2) + Grey2() + std::string("\x02\x01", 2), false},
      {"RLE absolute run past the end", InfoHeader(2, 2, 8, 1, 2) + Grey2() + std::string("\x00\x09\x01", 3), false},
      {"bitfields without masks", InfoHeader(2, 2, 16, 3) + std::string(12 + 8, '\0'), false},
  };
  for (const Case& c : cases) {
    if (c.file)
      EXPECT_THROW(TDib::LoadFromBmp(c.data), EInvalidGraphic) << c.what;
    else
      EXPECT_THROW(TDib::LoadFromDibData(c.data), EInvalidGraphic) << c.what;
  }
}

TEST(Dib, ResizeKeepsTheTopLeftAndPixelAccessOutsideIsHarmless) {
  TDib d = TDib::WithFormat(4, 4, pf4bit);
  Fill(d);
  const unsigned kept = d.PixelIndex(2, 1);
  d.SetSize(3, 2);
  EXPECT_EQ(d.Width(), 3);
  EXPECT_EQ(d.PixelIndex(2, 1), kept);
  EXPECT_TRUE(TDib::LoadFromBmp(d.SaveToBmp()) == d);  // no stale pixels in the padding
  d.SetPixel(-1, 0, 0xFFFFFF);
  d.SetPixel(3, 0, 0xFFFFFF);
  EXPECT_EQ(d.Pixel(99, 99), 0u);
  EXPECT_THROW(d.ScanLine(2), EInvalidGraphicOperation);
  EXPECT_EQ(TDib().SaveToBmp(), "");
}

}  // namespace
