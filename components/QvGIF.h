// The GIF file container: the logical screen, the global colour table and
// comment, the loop block, and the frames with the extension blocks before
// them, each frame's raster data kept exactly as it stands in the file.
// Frames are turned into BMP files (DecodeGifFrameToDIB) and BMP files of 1,
// 4 or 8 bits into frames (CompressDIBToGifFrame) with the LZW codec of
// GifLzw.h. The picture class built on it lives in win/.
//
// GIF files come from outside: every read is checked against the data, and
// a frame's bitmap is refused beyond the codec's buffer limit. Errors use
// EInvalidGraphicOperation with the texts below, and EReadError "Stream read
// error" where data runs short.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "GifLzw.h"
#include "ResStrings.h"

class TStream;

inline constexpr ResString SGIFUnknownVersion{61092, 0, "Unknown GIF version"};
inline constexpr ResString SGIFEncodeError{61093, 0, "GIF image encoding error"};
inline constexpr ResString SGIFColorCount{61096, 0, "Wrong number of colors; must be a power of 2"};
inline constexpr ResString SGIFUnknownExtension{61097, 0, "Unrecognized extension block: %.2x"};
inline constexpr ResString SGIFNoData{61098, 0, "No GIF Data to write"};
inline constexpr ResString SGIFCannotResize{61099, 0, "Cannot change the Size of a GIF image"};
inline constexpr ResString SGIFDescription{61100, 0, "CompuServe GIF Image"};

// Colours as $00BBGGRR; kGifNoColor (the framework's clNone) is "none".
inline constexpr std::uint32_t kGifNoColor = 0x1FFFFFFF;

struct TGifRgb {
  std::uint8_t Red = 0, Green = 0, Blue = 0;
  friend bool operator==(const TGifRgb&, const TGifRgb&) = default;
};

// Up to 256 entries in file order; a count of 0 is no table.
struct TGifColorTable {
  int Count = 0;
  std::array<TGifRgb, 256> Entries{};
  std::uint32_t ColorOf(int index) const;  // $00BBGGRR
  friend bool operator==(const TGifColorTable&, const TGifColorTable&) = default;
};

enum TGIFBlockKind : std::uint8_t { bkControl, bkPlainText, bkApplication, bkComment };

// One extension block: for a control block the fixed part is block size 4,
// packed fields (bit 0 transparency, bits 2-4 disposal), delay (16-bit, in
// hundredths), transparent index and the terminator.
struct TGifExtension {
  TGIFBlockKind Kind = bkComment;
  bool HasData = false;
  std::vector<std::string> Data;  // one string per data sub-block
  std::array<std::uint8_t, 13> Fixed{};
  friend bool operator==(const TGifExtension&, const TGifExtension&) = default;
};

struct TGifFrameData {
  std::string RasterData;  // the minimum code size, the sub-blocks and the terminator
  std::int32_t Width = 0, Height = 0;
  std::uint8_t Packed = 0;  // of the image descriptor, as read
  std::uint8_t ColorBits = 0;
  TGifColorTable FrameColors;  // the local table, or a copy of the global one
  std::vector<TGifExtension> ExtensionBlocks;
  std::int32_t Left = 0, Top = 0;
  bool InterlacedRows = false;
  bool DamagedData = false;
  bool GrayReduction = false;
  std::uint32_t TransparentColor = kGifNoColor;
  // Milliseconds. Held in 32 bits, so a file's delay in hundredths comes back
  // unchanged however long it is.
  std::uint32_t DelayTime = 0;
  std::uint8_t DisposalMethod = 0;
  bool LocalColorTable = false;
};

struct TGifContainer {
  std::vector<std::string> CommentText;  // the global comment's lines
  std::uint8_t PixelAspect = 0;
  std::uint8_t ColorBits = 1;
  std::uint8_t ColorResolution = 1;
  TGifColorTable GlobalColors;
  std::uint8_t FileVersion = 0;  // 0 none, 1 "87a", 2 "89a"
  std::uint16_t ScreenWidth = 0, ScreenHeight = 0;
  std::uint32_t BackgroundColor = kGifNoColor;
  bool Looping = false;
  std::uint16_t LoopCount = 1;
  std::vector<TGifFrameData> Frames;
};

// 2, 4, ... 256 give 1 to 8; any other count raises "Wrong number of colors; must be a power of 2".
int BitsForColorCount(int count);
// The first index whose entry is the colour; -1 for none or kGifNoColor.
int IndexOfColor(const TGifColorTable& table, std::uint32_t color);

// Reads a GIF file into `gif` (reset first). A frame whose raster data is cut
// short is marked DamagedData with `loadCorrupted`, else "Stream read error".
// The frames read before a failure stay.
void LoadGifData(std::string_view data, bool loadCorrupted, TGifContainer& gif);

// Brings the frame's last control block in line with its delay, transparent
// colour and disposal (making one when they need it), drops empty comment
// blocks, and raises the file version to 89a when blocks remain.
void SyncControlBlock(TGifFrameData& frame, TGifContainer& gif);

// The GIF file of `gif`, whose frames all hold raster data (SyncControlBlock
// runs for each first). Without frames: "No GIF Data to write".
std::string StoreGifData(TGifContainer& gif);

// A BMP file of the frame's pixels (1, 4 or 8 bits per pixel, bottom-up).
// A decoder that met damaged data marks the frame DamagedData.
std::string DecodeGifFrameToDIB(TGifFrameData& frame, const TGifProgressEvent& progress, bool loadCorrupted);

// Makes the frame's raster data and colour table from a BMP file of 1, 4 or 8
// bits per pixel (else "GIF image encoding error"), and gives its table to
// the container when that has none yet. Palette entries missing from the file
// are black.
void CompressDIBToGifFrame(std::string_view bmp, TGifFrameData& frame, TGifContainer& gif,
                           const TGifProgressEvent& progress);

// The GIF file of form data and of the clipboard's "GIF Image" data: a 32-bit
// little-endian length L, then L bytes. L comes from outside: below 0 or
// beyond the bytes left it raises EReadError "Stream read error" before
// anything is allocated for it.
std::string ReadLengthPrefixedGif(TStream& stream);
// The GIF file with its length before it.
std::string LengthPrefixed(const std::string& gif);
