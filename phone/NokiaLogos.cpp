#include "NokiaLogos.h"

#include <array>
#include <cctype>

#include "ByteReader.h"
#include "ByteWriter.h"
#include "FileApi.h"
#include "Streams.h"

// --- TMonoBitmap ----------------------------------------------------------------------------------

TMonoBitmap::TMonoBitmap(int width, int height) : width_(width), height_(height) {
  if (width < 0 || height < 0) {
    throw std::invalid_argument("picture size " + std::to_string(width) + " x " + std::to_string(height) +
                                " is negative");
  }
  std::uint64_t count = static_cast<std::uint64_t>(width) * static_cast<std::uint64_t>(height);
  if (count > pixels_.max_size()) {
    throw std::length_error("picture size " + std::to_string(width) + " x " + std::to_string(height) + " is too large");
  }
  pixels_.assign(static_cast<std::size_t>(count), 0);
}

std::size_t TMonoBitmap::Index(int x, int y) const {
  if (x < 0 || y < 0 || x >= width_ || y >= height_) {
    throw std::out_of_range("pixel (" + std::to_string(x) + ", " + std::to_string(y) + ") outside a " +
                            std::to_string(width_) + " x " + std::to_string(height_) + " picture");
  }
  return static_cast<std::size_t>(y) * static_cast<std::size_t>(width_) + static_cast<std::size_t>(x);
}

// --- Helpers --------------------------------------------------------------------------------------

namespace {

constexpr std::array<TLogoFormatInfo, 5> kFormats{{
    {TLogoFormat::Nol, "nol", "Nokia Operator Logo"},
    {TLogoFormat::Ngg, "ngg", "Nokia Group Graphic"},
    {TLogoFormat::Nlm, "nlm", "NLM graphic"},
    {TLogoFormat::Ota, "ota", "Over The Air graphic"},
    {TLogoFormat::Nsl, "nsl", "Nokia Startup Logo"},
}};

static_assert(kLogoComment.size() == 54);

std::string SizeText(long long width, long long height) {
  return std::to_string(width) + " x " + std::to_string(height);
}

[[noreturn]] void Fail(const char* what, const std::string& why) {
  throw ENokiaLogoError(std::string("Invalid ") + what + ": " + why);
}

// Runs a reader; a read past the data that the reader's own checks did not
// catch still ends as the picture error.
template <typename Read>
TMonoBitmap Guarded(const char* what, Read read) {
  try {
    return read();
  } catch (const EByteRange& e) {
    Fail(what, std::string("the data ends too early (") + e.what() + ")");
  }
}

void CheckSize(const char* what, int width, int height) {
  if (width < 0 || height < 0) Fail(what, "picture size " + SizeText(width, height) + " is negative");
}

// Raises the picture error unless `data` holds `need` bytes.
void NeedBytes(const char* what, int width, int height, std::uint64_t need, std::size_t have) {
  if (need > have) {
    Fail(what, "a " + SizeText(width, height) + " picture needs " + std::to_string(need) +
                   " data bytes, the file holds " + std::to_string(have));
  }
}

// Pictures stored with one-byte sizes.
void CheckFitsByteSizes(const char* what, const TMonoBitmap& picture) {
  if (picture.Width() > kLogoMaxSide || picture.Height() > kLogoMaxSide) {
    Fail(what, "a " + SizeText(picture.Width(), picture.Height()) +
                   " picture is too large; this format holds at most " + std::to_string(kLogoMaxSide) + " x " +
                   std::to_string(kLogoMaxSide) + " pixels");
  }
}

std::uint64_t Bytes(std::uint64_t bits) {
  return (bits + 7) / 8;
}

// NOL and NGG: a 16-bit size of which only the low byte counts.
int ReadTextSize(const ByteReader& r, std::size_t offset) {
  return r.U8At(offset);
}

TMonoBitmap ReadTextPixels(const char* what, std::string_view data, std::size_t sizeOffset, std::size_t pixelOffset) {
  return Guarded(what, [&] {
    ByteReader r(data);
    if (data.size() < pixelOffset) {
      Fail(what, "the file holds " + std::to_string(data.size()) + " bytes, shorter than its " +
                     std::to_string(pixelOffset) + "-byte header");
    }
    int width = ReadTextSize(r, sizeOffset);
    int height = ReadTextSize(r, sizeOffset + 2);
    std::uint64_t count = static_cast<std::uint64_t>(width) * static_cast<std::uint64_t>(height);
    r.Seek(pixelOffset);
    NeedBytes(what, width, height, count, r.Remaining());
    std::string_view chars = r.View(static_cast<std::size_t>(count));
    TMonoBitmap picture(width, height);
    std::size_t k = 0;
    for (int y = 0; y < height; ++y) {
      for (int x = 0; x < width; ++x) picture.SetPixel(x, y, chars[k++] == '1');
    }
    return picture;
  });
}

void PutTextPixels(std::string& out, const TMonoBitmap& picture) {
  for (int y = 0; y < picture.Height(); ++y) {
    for (int x = 0; x < picture.Width(); ++x) out.push_back(picture.Pixel(x, y) ? '1' : '0');
  }
}

// Bit k of a most-significant-bit-first stream.
bool MsbBit(const ByteReader& r, std::uint64_t k) {
  return (r.U8At(static_cast<std::size_t>(k / 8)) >> (7 - k % 8)) & 1;
}

// Rows of bits, most significant first; `padded` starts every row on a whole byte.
TMonoBitmap UnpackRows(const char* what, int width, int height, std::string_view data, bool padded) {
  CheckSize(what, width, height);
  std::uint64_t w = static_cast<std::uint64_t>(width);
  std::uint64_t stride = padded ? Bytes(w) * 8 : w;  // in bits
  NeedBytes(what, width, height, Bytes(stride * static_cast<std::uint64_t>(height)), data.size());
  return Guarded(what, [&] {
    ByteReader r(data);
    TMonoBitmap picture(width, height);
    for (int y = 0; y < height; ++y) {
      std::uint64_t row = stride * static_cast<std::uint64_t>(y);
      for (int x = 0; x < width; ++x) picture.SetPixel(x, y, MsbBit(r, row + static_cast<std::uint64_t>(x)));
    }
    return picture;
  });
}

// Bands of eight rows, one byte per column, bit 0 the band's top row.
TMonoBitmap UnpackBands(const char* what, int width, int height, std::string_view data) {
  CheckSize(what, width, height);
  std::uint64_t bands = Bytes(static_cast<std::uint64_t>(height));
  NeedBytes(what, width, height, bands * static_cast<std::uint64_t>(width), data.size());
  return Guarded(what, [&] {
    ByteReader r(data);
    TMonoBitmap picture(width, height);
    for (int y = 0; y < height; ++y) {
      std::size_t band = static_cast<std::size_t>(y / 8) * static_cast<std::size_t>(width);
      for (int x = 0; x < width; ++x) {
        picture.SetPixel(x, y, (r.U8At(band + static_cast<std::size_t>(x)) >> (y % 8)) & 1);
      }
    }
    return picture;
  });
}

}  // namespace

// --- Format table ---------------------------------------------------------------------------------

std::span<const TLogoFormatInfo> LogoFormats() {
  return kFormats;
}

const TLogoFormatInfo* FindLogoFormat(std::string_view extension) {
  std::string name;
  for (char c : extension) {
    if (c != '.') name.push_back(static_cast<char>(std::tolower(static_cast<unsigned char>(c))));
  }
  for (const TLogoFormatInfo& info : kFormats) {
    if (name == info.extension) return &info;
  }
  return nullptr;
}

TMonoBitmap ReadLogo(TLogoFormat format, std::string_view data) {
  switch (format) {
    case TLogoFormat::Nol:
      return ReadNolLogo(data);
    case TLogoFormat::Ngg:
      return ReadNggLogo(data);
    case TLogoFormat::Nlm:
      return ReadNlmLogo(data);
    case TLogoFormat::Ota:
      return ReadOtaLogo(data);
    case TLogoFormat::Nsl:
      return ReadNslLogo(data);
  }
  throw ENokiaLogoError("Invalid picture: unknown logo format");
}

std::string WriteLogo(TLogoFormat format, const TMonoBitmap& picture) {
  switch (format) {
    case TLogoFormat::Nol:
      return WriteNolLogo(picture);
    case TLogoFormat::Ngg:
      return WriteNggLogo(picture);
    case TLogoFormat::Nlm:
      return WriteNlmLogo(picture, 1);
    case TLogoFormat::Ota:
      return WriteOtaLogo(picture);
    case TLogoFormat::Nsl:
      return WriteNslLogo(picture);
  }
  throw ENokiaLogoError("Invalid picture: unknown logo format");
}

// --- Bit routines ---------------------------------------------------------------------------------

TMonoBitmap UnpackRowBits(int width, int height, std::string_view data) {
  return UnpackRows("packed picture", width, height, data, false);
}

TMonoBitmap UnpackPaddedRowBits(int width, int height, std::string_view data) {
  return UnpackRows("packed picture", width, height, data, true);
}

TMonoBitmap UnpackBandBits(int width, int height, std::string_view data) {
  return UnpackBands("banded picture", width, height, data);
}

std::string PackRowBits(const TMonoBitmap& picture) {
  std::string out;
  unsigned acc = 0;
  std::uint64_t count = 0;
  for (int y = 0; y < picture.Height(); ++y) {
    for (int x = 0; x < picture.Width(); ++x) {
      acc = (acc << 1) | (picture.Pixel(x, y) ? 1u : 0u);
      if (++count % 8 == 0) {
        ByteWriter(out).U8(static_cast<std::uint8_t>(acc));
        acc = 0;
      }
    }
  }
  if (count % 8 != 0) ByteWriter(out).U8(static_cast<std::uint8_t>(acc << (8 - count % 8)));
  return out;
}

std::string PackPaddedRowBits(const TMonoBitmap& picture) {
  std::string out;
  for (int y = 0; y < picture.Height(); ++y) {
    unsigned acc = 0;
    int count = 0;
    for (int x = 0; x < picture.Width(); ++x) {
      acc = (acc << 1) | (picture.Pixel(x, y) ? 1u : 0u);
      if (++count == 8) {
        ByteWriter(out).U8(static_cast<std::uint8_t>(acc));
        acc = 0;
        count = 0;
      }
    }
    if (count != 0) ByteWriter(out).U8(static_cast<std::uint8_t>(acc << (8 - count)));
  }
  return out;
}

std::string PackBandBits(const TMonoBitmap& picture) {
  std::string out;
  for (int top = 0; top < picture.Height(); top += 8) {
    for (int x = 0; x < picture.Width(); ++x) {
      unsigned byte = 0;
      for (int bit = 0; bit < 8 && top + bit < picture.Height(); ++bit) {
        if (picture.Pixel(x, top + bit)) byte |= 1u << bit;
      }
      ByteWriter(out).U8(static_cast<std::uint8_t>(byte));
    }
  }
  return out;
}

// --- NOL and NGG ----------------------------------------------------------------------------------
//   NOL: "NOL" 00 01 00, country code, network code, W, H (16-bit little-endian), 01 00 01 00 3B 00,
//        one character per pixel ('1' set, '0' clear), the comment.
//   NGG: "NGG" 00 01 00, W, H, 01 00 01 00 49 00, the pixel characters, the comment.

TMonoBitmap ReadNolLogo(std::string_view data) {
  return ReadTextPixels("NOL file", data, 10, 20);
}

TMonoBitmap ReadNggLogo(std::string_view data) {
  return ReadTextPixels("NGG file", data, 6, 16);
}

std::string WriteNolLogo(const TMonoBitmap& picture) {
  CheckFitsByteSizes("NOL file", picture);
  std::string out("NOL\x00\x01\x00", 6);
  ByteWriter w(out);
  w.U16LE(250);  // mobile country code
  w.U16LE(1);    // network code
  w.U16LE(static_cast<std::uint16_t>(picture.Width()));
  w.U16LE(static_cast<std::uint16_t>(picture.Height()));
  out.append("\x01\x00\x01\x00\x3B\x00", 6);
  PutTextPixels(out, picture);
  out.append(kLogoComment);
  return out;
}

std::string WriteNggLogo(const TMonoBitmap& picture) {
  CheckFitsByteSizes("NGG file", picture);
  std::string out("NGG\x00\x01\x00", 6);
  ByteWriter w(out);
  w.U16LE(static_cast<std::uint16_t>(picture.Width()));
  w.U16LE(static_cast<std::uint16_t>(picture.Height()));
  out.append("\x01\x00\x01\x00\x49\x00", 6);
  PutTextPixels(out, picture);
  out.append(kLogoComment);
  return out;
}

// --- NLM ------------------------------------------------------------------------------------------
//   "NLM " 01, picture kind, 00, W, H, 01, rows most significant bit first, each padded to whole bytes.

TMonoBitmap ReadNlmLogo(std::string_view data) {
  const char* what = "NLM file";
  return Guarded(what, [&] {
    ByteReader r(data);
    if (data.size() < 10)
      Fail(what, "the file holds " + std::to_string(data.size()) + " bytes, shorter than its header");
    int width = r.U8At(7);
    int height = r.U8At(8);
    r.Seek(10);
    return UnpackRows(what, width, height, r.View(r.Remaining()), true);
  });
}

std::string WriteNlmLogo(const TMonoBitmap& picture, std::uint8_t kind) {
  CheckFitsByteSizes("NLM file", picture);
  std::string out("NLM \x01", 5);
  ByteWriter w(out);
  w.U8(kind);
  w.U8(0);
  w.U8(static_cast<std::uint8_t>(picture.Width()));
  w.U8(static_cast<std::uint8_t>(picture.Height()));
  w.U8(1);
  out.append(PackPaddedRowBits(picture));
  return out;
}

// --- OTA ------------------------------------------------------------------------------------------
//   00, W, H, 01, all pixels as one bit stream, most significant bit first, rows not padded.

TMonoBitmap ReadOtaLogo(std::string_view data) {
  const char* what = "OTA file";
  return Guarded(what, [&] {
    ByteReader r(data);
    if (data.size() < 4)
      Fail(what, "the file holds " + std::to_string(data.size()) + " bytes, shorter than its header");
    int width = r.U8At(1);
    int height = r.U8At(2);
    r.Seek(4);
    return UnpackRows(what, width, height, r.View(r.Remaining()), false);
  });
}

std::string WriteOtaLogo(const TMonoBitmap& picture) {
  CheckFitsByteSizes("OTA file", picture);
  std::string out;
  ByteWriter w(out);
  w.U8(0);
  w.U8(static_cast<std::uint8_t>(picture.Width()));
  w.U8(static_cast<std::uint8_t>(picture.Height()));
  w.U8(1);
  out.append(PackRowBits(picture));
  return out;
}

// --- NSL ------------------------------------------------------------------------------------------
//   "FORM", body length (16-bit big-endian), then the body: "VERS" 00 08 "Corvessa", "MODL" 00 04 "6310",
//   "NSLD" 01 F8 and the 84 x 48 picture in 8-row bands, "COMM" 00 00.
// The reader takes the picture from six bytes after the first "NSLD" up to the file's last six bytes.

TMonoBitmap ReadNslLogo(std::string_view data) {
  const char* what = "NSL file";
  return Guarded(what, [&] {
    ByteReader r(data);
    std::string_view all = r.View(r.Remaining());
    std::size_t tag = all.find("NSLD");
    if (tag == std::string_view::npos) Fail(what, "the file has no NSLD chunk");
    std::size_t start = tag + 6;
    if (data.size() < 6 || start > data.size() - 6) Fail(what, "the file ends inside its NSLD chunk");
    r.Seek(start);
    std::string_view bands = r.View(data.size() - 6 - start);
    return UnpackBands(what, kStartupLogoWidth, kStartupLogoHeight, bands);
  });
}

std::string WriteNslLogo(const TMonoBitmap& picture) {
  const char* what = "NSL file";
  if (picture.Width() != kStartupLogoWidth || picture.Height() != kStartupLogoHeight) {
    Fail(what, "a start-up logo is " + SizeText(kStartupLogoWidth, kStartupLogoHeight) + " pixels, this picture " +
                   SizeText(picture.Width(), picture.Height()));
  }
  std::string bands = PackBandBits(picture);
  std::string body;
  ByteWriter w(body);
  body.append("VERS");
  w.U16BE(8);
  body.append("Corvessa");
  body.append("MODL");
  w.U16BE(4);
  body.append("6310");
  body.append("NSLD");
  w.U16BE(static_cast<std::uint16_t>(bands.size()));
  body.append(bands);
  body.append("COMM");
  w.U16BE(0);
  std::string out("FORM");
  ByteWriter(out).U16BE(static_cast<std::uint16_t>(body.size()));
  out.append(body);
  return out;
}

// --- Files ----------------------------------------------------------------------------------------

std::string ReadFileBytes(const std::string& fileName) {
  std::string data;
  if (!FileExists(fileName)) return data;
  WithFileStream(fileName, fmOpenRead | fmShareDenyWrite,
                 [&data](TStream& f) { data = f.ReadBytes(f.Size() - f.Position()); });
  return data;
}

std::optional<TMonoBitmap> LoadLogoFile(TLogoFormat format, const std::string& fileName) {
  if (!FileExists(fileName)) return std::nullopt;
  return ReadLogo(format, ReadFileBytes(fileName));
}

std::optional<TMonoBitmap> LoadNolFile(const std::string& fileName) {
  return LoadLogoFile(TLogoFormat::Nol, fileName);
}

std::optional<TMonoBitmap> LoadNggFile(const std::string& fileName) {
  return LoadLogoFile(TLogoFormat::Ngg, fileName);
}

std::optional<TMonoBitmap> LoadNlmFile(const std::string& fileName) {
  return LoadLogoFile(TLogoFormat::Nlm, fileName);
}

std::optional<TMonoBitmap> LoadOtaFile(const std::string& fileName) {
  return LoadLogoFile(TLogoFormat::Ota, fileName);
}

std::optional<TMonoBitmap> LoadNslFile(const std::string& fileName) {
  return LoadLogoFile(TLogoFormat::Nsl, fileName);
}

namespace {

void WriteFileBytes(const std::string& fileName, const std::string& bytes) {
  WithFileStream(fileName, fmCreate, [&bytes](TStream& f) { f.WriteBytes(bytes); });
}

}  // namespace

void SaveLogoFile(TLogoFormat format, const std::string& fileName, const TMonoBitmap& picture) {
  WriteFileBytes(fileName, WriteLogo(format, picture));
}

void SaveNolFile(const std::string& fileName, const TMonoBitmap& picture) {
  WriteFileBytes(fileName, WriteNolLogo(picture));
}

void SaveNggFile(const std::string& fileName, const TMonoBitmap& picture) {
  WriteFileBytes(fileName, WriteNggLogo(picture));
}

void SaveNlmFile(const std::string& fileName, const TMonoBitmap& picture, std::uint8_t kind) {
  WriteFileBytes(fileName, WriteNlmLogo(picture, kind));
}

void SaveOtaFile(const std::string& fileName, const TMonoBitmap& picture) {
  WriteFileBytes(fileName, WriteOtaLogo(picture));
}

void SaveNslFile(const std::string& fileName, const TMonoBitmap& picture) {
  WriteFileBytes(fileName, WriteNslLogo(picture));
}
