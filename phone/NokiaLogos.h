// Monochrome phone-logo files: operator logos (.nol), group graphics (.ngg),
// logo-manager files (.nlm), over-the-air bitmaps (.ota) and start-up logos
// (.nsl). The codecs here are portable: bytes in, 1-bit pixels out, and back.
// The picture class that the picture registry knows wraps them: it picks the
// codec by the file's extension (FindLogoFormat), reads the file's bytes and
// hands them to ReadLogo, or hands WriteLogo's bytes to the file.
//
// Every reader checks the data against the sizes it announces and raises
// ENokiaLogoError instead of reading past the end; every writer raises
// ENokiaLogoError for a picture that its format cannot hold instead of writing
// a damaged file. The file routines at the end do the same on files.
//
// NOL and NGG files keep the width and height in 16 bits, but only the low
// byte counts: the writers put 0 in the high byte and the readers ignore it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

// The picture error of the logo codecs: a file that cannot be decoded, or a
// picture that does not fit the format it is to be written in.
class ENokiaLogoError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// A black-and-white picture, one bit per pixel; a set pixel is black. A new
// picture is all clear (white). Pixel access outside the picture raises
// std::out_of_range.
class TMonoBitmap {
 public:
  TMonoBitmap() = default;
  // Raises std::invalid_argument for a negative width or height and
  // std::length_error for a picture too large to hold.
  TMonoBitmap(int width, int height);

  int Width() const { return width_; }
  int Height() const { return height_; }
  bool Empty() const { return width_ == 0 || height_ == 0; }

  bool Pixel(int x, int y) const { return pixels_[Index(x, y)] != 0; }
  void SetPixel(int x, int y, bool set) { pixels_[Index(x, y)] = set ? 1 : 0; }

  bool operator==(const TMonoBitmap& other) const = default;

 private:
  std::size_t Index(int x, int y) const;

  int width_ = 0;
  int height_ = 0;
  std::vector<std::uint8_t> pixels_;
};

// Colours of the picture class (framework colours, $00BBGGRR): a set pixel
// reads as black, a clear one as white; on writing only pure black is set.
inline constexpr std::uint32_t kLogoSetColour = 0x000000;
inline constexpr std::uint32_t kLogoClearColour = 0xFFFFFF;
inline constexpr std::uint32_t LogoColour(bool set) {
  return set ? kLogoSetColour : kLogoClearColour;
}
inline constexpr bool LogoPixelSet(std::uint32_t colour) {
  return colour == kLogoSetColour;
}

enum class TLogoFormat { Nol, Ngg, Nlm, Ota, Nsl };

struct TLogoFormatInfo {
  TLogoFormat format;
  const char* extension;    // lower case, without the dot, as registered
  const char* description;  // shown by the picture dialogs
};

// The five formats in the order they are registered with the picture registry.
std::span<const TLogoFormatInfo> LogoFormats();

// The format that a file extension chooses: dots are dropped and case is
// ignored, so "nol", ".NOL" and ".Nol" all choose NOL. Null for any other
// extension (the picture class then loads and saves an ordinary bitmap).
const TLogoFormatInfo* FindLogoFormat(std::string_view extension);

// Reads a logo file of the given format; raises ENokiaLogoError.
TMonoBitmap ReadLogo(TLogoFormat format, std::string_view data);
// Writes a picture in the given format (an NLM file with picture kind 1);
// raises ENokiaLogoError when the picture does not fit the format.
std::string WriteLogo(TLogoFormat format, const TMonoBitmap& picture);

// The largest width and height the NOL, NGG, NLM and OTA files hold.
inline constexpr int kLogoMaxSide = 255;
// The one size of a start-up logo.
inline constexpr int kStartupLogoWidth = 84;
inline constexpr int kStartupLogoHeight = 48;
// The comment that ends every NOL and NGG file written here.
inline constexpr std::string_view kLogoComment = "Picture saved by Pellory, the phone connection wizard.";

// The formats one by one. A NOL or NGG reader takes the low byte of each size
// and ignores the high one.
TMonoBitmap ReadNolLogo(std::string_view data);
TMonoBitmap ReadNggLogo(std::string_view data);
TMonoBitmap ReadNlmLogo(std::string_view data);
TMonoBitmap ReadOtaLogo(std::string_view data);
TMonoBitmap ReadNslLogo(std::string_view data);  // always 84 x 48
std::string WriteNolLogo(const TMonoBitmap& picture);
std::string WriteNggLogo(const TMonoBitmap& picture);
std::string WriteNlmLogo(const TMonoBitmap& picture, std::uint8_t kind);
std::string WriteOtaLogo(const TMonoBitmap& picture);
std::string WriteNslLogo(const TMonoBitmap& picture);  // only 84 x 48

// Bit routines. The unpackers raise ENokiaLogoError when `data` is too short
// for the picture; bytes after the picture's bits are ignored.
//   UnpackRowBits: all pixels row after row as one bit stream, most
//     significant bit first, rows not padded.
//   UnpackPaddedRowBits: likewise, each row padded with zero bits to whole bytes.
//   UnpackBandBits: bands of eight rows from the top, one byte per column from
//     the left; bit 0 is the band's top row.
TMonoBitmap UnpackRowBits(int width, int height, std::string_view data);
TMonoBitmap UnpackPaddedRowBits(int width, int height, std::string_view data);
TMonoBitmap UnpackBandBits(int width, int height, std::string_view data);
// The packers are the inverses; the last byte of PackRowBits and the last band
// of PackBandBits are filled with zero bits.
std::string PackRowBits(const TMonoBitmap& picture);
std::string PackPaddedRowBits(const TMonoBitmap& picture);
std::string PackBandBits(const TMonoBitmap& picture);

// --- Files -----------------------------------------------------------------------------------------
// Files are reached through the framework's file streams, so a file that
// cannot be opened or written raises the stream errors (EFOpenError,
// EFCreateError, EWriteError).

// The whole file as bytes, opened for reading (others may read it meanwhile);
// empty when the file does not exist.
std::string ReadFileBytes(const std::string& fileName);

// Reads a logo file: nothing when the file does not exist; ENokiaLogoError
// when its bytes cannot be decoded.
std::optional<TMonoBitmap> LoadLogoFile(TLogoFormat format, const std::string& fileName);
std::optional<TMonoBitmap> LoadNolFile(const std::string& fileName);
std::optional<TMonoBitmap> LoadNggFile(const std::string& fileName);
std::optional<TMonoBitmap> LoadNlmFile(const std::string& fileName);
std::optional<TMonoBitmap> LoadOtaFile(const std::string& fileName);
std::optional<TMonoBitmap> LoadNslFile(const std::string& fileName);  // always 84 x 48

// Writes a picture to a new file, replacing any old one (an NLM file of
// SaveLogoFile with picture kind 1). The picture is encoded first: one that
// its format cannot hold raises ENokiaLogoError and leaves the file alone.
void SaveLogoFile(TLogoFormat format, const std::string& fileName, const TMonoBitmap& picture);
void SaveNolFile(const std::string& fileName, const TMonoBitmap& picture);
void SaveNggFile(const std::string& fileName, const TMonoBitmap& picture);
void SaveNlmFile(const std::string& fileName, const TMonoBitmap& picture, std::uint8_t kind);
void SaveOtaFile(const std::string& fileName, const TMonoBitmap& picture);
void SaveNslFile(const std::string& fileName, const TMonoBitmap& picture);  // only 84 x 48
