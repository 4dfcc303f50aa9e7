// The screenshot's picture as a PNG file: the octree quantizer that reduces a
// 24-bit picture to at most 256 colours, and the PNG writer of an 8-bit
// palette picture (IHDR colour type 3, a PLTE of 256 entries, IDAT chunks of
// the zlib stream, IEND).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "Exceptions.h"

// Raised by the PNG writer for a failed compression or a bad picture.
FW_EXCEPTION(EPngError, Exception);

struct TPngColor {
  std::uint8_t Red = 0;
  std::uint8_t Green = 0;
  std::uint8_t Blue = 0;
  bool operator==(const TPngColor&) const = default;
};

// The most colours the quantizer keeps.
constexpr int kPngPaletteSize = 256;
// The most data bytes of one IDAT chunk.
constexpr std::size_t kPngMaxIdatSize = 0x3FFFF;

// The octree colour quantizer: colours go in one at a time; while more than
// 256 leaves exist, the deepest reducible node folds its children into itself.
class TOctreeQuantizer {
 public:
  TOctreeQuantizer();
  ~TOctreeQuantizer();
  TOctreeQuantizer(const TOctreeQuantizer&) = delete;
  TOctreeQuantizer& operator=(const TOctreeQuantizer&) = delete;

  void AddColor(std::uint8_t red, std::uint8_t green, std::uint8_t blue);
  int LeafCount() const { return leafCount_; }
  // The leaves' colours (sum / count), depth first, children in index order.
  std::vector<TPngColor> Palette() const;

 private:
  struct TNode;
  void Reduce();
  std::unique_ptr<TNode> root_;
  std::array<TNode*, 8> reducible_{};
  int leafCount_ = 0;
};

// The row stride of an 8-bit picture: the width rounded up to 4 bytes.
std::size_t Stride8(std::size_t width);

// Quantizes a 24-bit picture (rows from the top, pixels blue, green, red;
// `rowBytes` bytes a row). Only the first `width` pixels of a row are read:
// the padding past them never adds a colour.
std::vector<TPngColor> QuantizePicture(const std::uint8_t* pixels, std::size_t width, std::size_t height,
                                       std::size_t rowBytes);

// The index of the palette's colour nearest to the given one (the first of equals).
std::uint8_t NearestPaletteIndex(const std::vector<TPngColor>& palette, TPngColor color);

// Maps a 24-bit picture (as QuantizePicture reads it) to 8-bit indexes into
// `palette`, rows of Stride8(width) bytes from the top.
std::vector<std::uint8_t> MapPictureToPalette(const std::uint8_t* pixels, std::size_t width, std::size_t height,
                                              std::size_t rowBytes, const std::vector<TPngColor>& palette);

// CRC-32 of a chunk's type and data, as PNG stores it.
std::uint32_t PngChunkCrc(const std::string& typeAndData);

// The PNG file of an 8-bit picture: `indexes` holds `height` rows of
// `stride` bytes from the top, each row's first `width` bytes being palette
// indexes. The palette is written as 256 entries (missing ones black). Raises
// EPngError for a zero size, a stride below the width or a failed compression.
std::string EncodePng(std::uint32_t width, std::uint32_t height, const std::uint8_t* indexes, std::size_t stride,
                      const std::vector<TPngColor>& palette);
