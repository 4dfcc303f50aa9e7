// JPEG files to and from the portable pixel store, through libjpeg. Every
// error libjpeg raises becomes EInvalidGraphic "JPEG error #<n>", n being
// libjpeg's message number; its warnings (damaged entropy data, for one) are
// dropped and the picture is decoded as well as it goes. A file whose scan
// data ends too soon is an error (JpegEndOfInputError), never a picture
// filled in with grey; a missing end-of-image marker alone is forgiven.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "Dib.h"

struct JpegInfo {
  int Width = 0;
  int Height = 0;
  bool Grayscale = false;
  bool Progressive = false;
};

// libjpeg's message number for input that ends too soon.
int JpegEndOfInputError();

// The picture as a 24-bit bottom-up DIB (grey pictures as grey RGB). Pictures
// of more than maxPixels pixels are refused.
TDib DecodeJpeg(std::string_view file, JpegInfo* info = nullptr, std::int64_t maxPixels = TDib::kMaxPixels);

// A baseline JPEG file of the picture (of any bit count) at quality 1..100,
// in colour or as a grey picture. An empty picture raises EInvalidGraphic.
std::string EncodeJpeg(const TDib& dib, int quality, bool grayscale = false);
