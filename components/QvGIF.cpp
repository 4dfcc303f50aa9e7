#include "QvGIF.h"

#include <algorithm>
#include <cctype>
#include <cstring>

#include "ByteWriter.h"
#include "Exceptions.h"
#include "Streams.h"
#include "SysUtils.h"

namespace {

[[noreturn]] void ShortData() {
  throw EReadError("Stream read error");
}

[[noreturn]] void GifError(const ResString& text) {
  throw EInvalidGraphicOperation(LoadResString(text));
}

// The file as a stream: exact reads fail with the read error; the other
// reads take what there is.
class GifReader {
 public:
  explicit GifReader(std::string_view data) : data_(data) {}
  bool AtEnd() const { return pos_ >= data_.size(); }
  std::size_t Left() const { return data_.size() - pos_; }
  std::string_view Take(std::size_t n) {
    n = std::min(n, Left());
    std::string_view v = data_.substr(pos_, n);
    pos_ += n;
    return v;
  }
  std::string_view Exact(std::size_t n) {
    if (n > Left()) ShortData();
    return Take(n);
  }
  std::uint8_t Byte() { return static_cast<std::uint8_t>(Exact(1)[0]); }
  // The next byte, or `atEnd` when the data is used up.
  std::uint8_t NextOr(std::uint8_t atEnd) { return AtEnd() ? atEnd : Byte(); }
  std::uint16_t U16() {
    std::string_view b = Exact(2);
    return static_cast<std::uint16_t>(static_cast<std::uint8_t>(b[0]) | (static_cast<std::uint8_t>(b[1]) << 8));
  }

 private:
  std::string_view data_;
  std::size_t pos_ = 0;
};

bool SameText(std::string_view a, const char* b) {
  if (a.size() != std::strlen(b)) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i]))) return false;
  return true;
}

void ReadTable(GifReader& r, TGifColorTable& table, int bits) {
  table = TGifColorTable{};
  table.Count = 1 << bits;
  std::string_view b = r.Exact(static_cast<std::size_t>(table.Count) * 3);
  for (int i = 0; i < table.Count; ++i)
    table.Entries[static_cast<std::size_t>(i)] =
        TGifRgb{static_cast<std::uint8_t>(b[3 * i]), static_cast<std::uint8_t>(b[3 * i + 1]),
                static_cast<std::uint8_t>(b[3 * i + 2])};
}

void ReadSubBlocks(GifReader& r, TGifExtension& block) {
  block.HasData = true;
  while (!r.AtEnd()) {
    const std::uint8_t n = r.Byte();
    if (n == 0) break;
    block.Data.emplace_back(r.Take(n));
  }
}

// The text names the label in two lower-case hex digits.
std::string UnknownExtensionText(std::uint8_t label) {
  static const char kDigits[] = "0123456789abcdef";
  const char hex[] = {kDigits[label >> 4], kDigits[label & 15], 0};
  std::string text = LoadResString(SGIFUnknownExtension);
  const std::size_t at = text.find("%.2x");
  if (at == std::string::npos) return Format(text, static_cast<int>(label));
  return text.replace(at, 4, hex);
}

TGifExtension ReadExtension(GifReader& r) {
  const std::uint8_t label = r.Byte();
  TGifExtension block;
  auto fixed = [&](std::size_t n) {
    std::string_view b = r.Take(n);
    std::memcpy(block.Fixed.data(), b.data(), b.size());
  };
  switch (label) {
    case 0xF9:
      block.Kind = bkControl;
      fixed(6);
      break;
    case 0xFE:
      block.Kind = bkComment;
      ReadSubBlocks(r, block);
      break;
    case 0x01:
      block.Kind = bkPlainText;
      fixed(13);
      ReadSubBlocks(r, block);
      break;
    case 0xFF:
      block.Kind = bkApplication;
      fixed(12);
      ReadSubBlocks(r, block);
      break;
    default:
      throw EInvalidGraphicOperation(UnknownExtensionText(label));
  }
  return block;
}

// An application block that sets the loop count: "NETSCAPE2.0" or
// "ANIMEXTS1.0" over as many of its 11 identifier bytes as its block-size byte
// gives, and a first data string of 3 bytes or more beginning with 1.
bool IsLoopBlock(const TGifExtension& b) {
  if (b.Kind != bkApplication || b.Data.empty()) return false;
  const std::size_t n = std::min<std::size_t>(b.Fixed[0], 11);
  const auto* id = reinterpret_cast<const char*>(b.Fixed.data() + 1);
  if (std::memcmp(id, "NETSCAPE2.0", n) != 0 && std::memcmp(id, "ANIMEXTS1.0", n) != 0) return false;
  return b.Data[0].size() >= 3 && b.Data[0][0] == 1;
}

void ReadFrame(GifReader& r, TGifFrameData& f, TGifContainer& gif, bool loadCorrupted) {
  const std::uint16_t left = r.U16(), top = r.U16(), width = r.U16(), height = r.U16();
  const std::uint8_t packed = r.Byte();
  f.InterlacedRows = packed & 0x40;
  if (packed & 0x80) {
    f.ColorBits = static_cast<std::uint8_t>((packed & 7) + 1);
    f.LocalColorTable = true;
    ReadTable(r, f.FrameColors, f.ColorBits);
  } else {
    f.LocalColorTable = false;
    f.FrameColors = TGifColorTable{};
  }
  f.RasterData.assign(1, static_cast<char>(r.Byte()));
  bool corrupt = false;
  while (!r.AtEnd()) {
    const std::uint8_t n = r.Byte();
    if (n > r.Left()) {
      corrupt = true;
      break;
    }
    f.RasterData.push_back(static_cast<char>(n));
    f.RasterData.append(r.Take(n));
    if (n == 0) break;
  }
  if (corrupt && !loadCorrupted) throw EInvalidGraphicOperation("Stream read error");
  f.DamagedData = corrupt;
  f.Width = width ? width : gif.ScreenWidth;
  f.Height = height ? height : gif.ScreenHeight;
  f.Left = left;
  f.Top = top;
  f.Packed = packed;
  if (!f.LocalColorTable) f.FrameColors = gif.GlobalColors;
  f.DelayTime = 0;
  for (const TGifExtension& b : f.ExtensionBlocks) {
    if (b.Kind != bkControl) continue;
    if (b.Fixed[1] & 1) {
      if (b.Fixed[4] < f.FrameColors.Count) f.TransparentColor = f.FrameColors.ColorOf(b.Fixed[4]);
    } else {
      f.TransparentColor = kGifNoColor;
    }
    const std::uint32_t delay = 10u * (b.Fixed[2] | (b.Fixed[3] << 8));
    f.DelayTime = std::max(delay, f.DelayTime);
    f.DisposalMethod = static_cast<std::uint8_t>((b.Fixed[1] >> 2) & 7);
  }
}

void WriteSubBlocks(ByteWriter& w, const std::vector<std::string>& lines) {
  for (const std::string& line : lines) {
    const std::size_t n = std::min<std::size_t>(line.size(), 255);
    if (n == 0) continue;
    w.U8(static_cast<std::uint8_t>(n));
    w.Bytes(std::string_view(line).substr(0, n));
  }
  w.U8(0);
}

void WriteTable(ByteWriter& w, const TGifColorTable& table, int entries) {
  for (int i = 0; i < entries; ++i) {
    const TGifRgb& c = table.Entries[static_cast<std::size_t>(i)];
    w.U8(c.Red);
    w.U8(c.Green);
    w.U8(c.Blue);
  }
}

// The smallest n of at least 1 with 2^n >= count.
int BitsToHold(int count) {
  int n = 1;
  while (n < 8 && (1 << n) < count) ++n;
  return n;
}

std::uint16_t Clamp16(std::int64_t v) {
  return static_cast<std::uint16_t>(std::clamp<std::int64_t>(v, 0, 0xFFFF));
}

constexpr std::uint8_t kLabels[] = {0xF9, 0x01, 0xFF, 0xFE};

// Raster data whose sub-blocks end with the data rather than with the
// terminator (a file cut short, or damaged data that was accepted) gets the
// terminator when it is written, so that the blocks after it stay blocks.
bool EndsWithTerminator(std::string_view raster) {
  std::size_t at = 1;  // after the minimum code size
  while (at < raster.size()) {
    const std::size_t n = static_cast<std::uint8_t>(raster[at]);
    if (n == 0) return true;
    at += 1 + n;
  }
  return false;
}

}  // namespace

std::uint32_t TGifColorTable::ColorOf(int index) const {
  const TGifRgb& c = Entries[static_cast<std::size_t>(index)];
  return static_cast<std::uint32_t>(c.Red) | (static_cast<std::uint32_t>(c.Green) << 8) |
         (static_cast<std::uint32_t>(c.Blue) << 16);
}

int BitsForColorCount(int count) {
  for (int bits = 1; bits <= 8; ++bits)
    if (count == 1 << bits) return bits;
  GifError(SGIFColorCount);
}

int IndexOfColor(const TGifColorTable& table, std::uint32_t color) {
  if (color == kGifNoColor) return -1;
  for (int i = 0; i < table.Count; ++i)
    if (table.ColorOf(i) == (color & 0xFFFFFF)) return i;
  return -1;
}

void LoadGifData(std::string_view data, bool loadCorrupted, TGifContainer& gif) {
  gif = TGifContainer{};
  if (data.empty()) return;
  GifReader r(data);
  if (!SameText(r.Take(3), "GIF")) GifError(SGIFUnknownVersion);
  const std::string_view version = r.Take(3);
  if (SameText(version, "87a"))
    gif.FileVersion = 1;
  else if (SameText(version, "89a"))
    gif.FileVersion = 2;
  else
    GifError(SGIFUnknownVersion);
  gif.ScreenWidth = r.U16();
  gif.ScreenHeight = r.U16();
  const std::uint8_t packed = r.Byte(), background = r.Byte();
  gif.PixelAspect = r.Byte();
  gif.ColorBits = static_cast<std::uint8_t>((packed & 7) + 1);
  gif.ColorResolution = static_cast<std::uint8_t>(((packed >> 4) & 7) + 1);
  if (packed & 0x80) {
    ReadTable(r, gif.GlobalColors, gif.ColorBits);
    if (background < gif.GlobalColors.Count) gif.BackgroundColor = gif.GlobalColors.ColorOf(background);
  }
  std::uint8_t b = r.NextOr(0);
  while (b != 0 && b != 0x3B && !r.AtEnd()) {
    std::vector<TGifExtension> collected;
    while (b == 0x21) {
      TGifExtension block = ReadExtension(r);
      if (IsLoopBlock(block)) {
        gif.Looping = true;
        const std::string& d = block.Data[0];
        gif.LoopCount = static_cast<std::uint16_t>(
            std::min(static_cast<std::uint8_t>(d[1]) + 256 * static_cast<std::uint8_t>(d[2]), 30000));
      }
      if (block.Kind == bkPlainText) collected.clear();
      if (block.Kind == bkControl || block.Kind == bkComment) collected.push_back(std::move(block));
      b = r.NextOr(0x3B);
    }
    if (b == 0x2C) {
      TGifFrameData frame;
      if (gif.GlobalColors.Count > 0)
        frame.ColorBits = static_cast<std::uint8_t>(BitsForColorCount(gif.GlobalColors.Count));
      frame.ExtensionBlocks = std::move(collected);
      ReadFrame(r, frame, gif, loadCorrupted);
      gif.Frames.push_back(std::move(frame));
      b = r.NextOr(0x3B);
      while (b == 0 && !r.AtEnd()) b = r.Byte();
      if (b != 0x21 && b != 0x2C && b != 0x3B) b = 0;
    } else if (gif.CommentText.empty() && !collected.empty()) {
      bool first = true;
      for (const TGifExtension& block : collected) {
        if (block.Kind != bkComment) continue;
        if (!first) gif.CommentText.push_back("\r\n\r\n");
        first = false;
        gif.CommentText.insert(gif.CommentText.end(), block.Data.begin(), block.Data.end());
      }
    } else if (b != 0 && b != 0x3B) {
      throw EInvalidGraphicOperation("Stream read error");
    }
  }
}

void SyncControlBlock(TGifFrameData& frame, TGifContainer& gif) {
  auto& blocks = frame.ExtensionBlocks;
  auto control =
      std::find_if(blocks.rbegin(), blocks.rend(), [](const TGifExtension& b) { return b.Kind == bkControl; });
  TGifExtension* block = control == blocks.rend() ? nullptr : &*control;
  if (!block && (frame.DelayTime != 0 || frame.TransparentColor != kGifNoColor || frame.DisposalMethod != 0)) {
    TGifExtension made;
    made.Kind = bkControl;
    made.Fixed[0] = 4;
    blocks.push_back(made);
    block = &blocks.back();
  }
  if (block) {
    const std::uint16_t delay = Clamp16(frame.DelayTime / 10);
    block->Fixed[2] = static_cast<std::uint8_t>(delay);
    block->Fixed[3] = static_cast<std::uint8_t>(delay >> 8);
    const int index = IndexOfColor(frame.FrameColors, frame.TransparentColor);
    if (index >= 0) {
      block->Fixed[4] = static_cast<std::uint8_t>(index);
      block->Fixed[1] |= 1;
    } else {
      block->Fixed[1] &= 0xFE;
    }
    block->Fixed[1] = static_cast<std::uint8_t>((block->Fixed[1] & 0xE3) | ((frame.DisposalMethod & 7) << 2));
  }
  std::erase_if(blocks, [](const TGifExtension& b) { return b.Kind == bkComment && (!b.HasData || b.Data.empty()); });
  if (!blocks.empty()) gif.FileVersion = 2;
}

std::string StoreGifData(TGifContainer& gif) {
  if (gif.Frames.empty()) GifError(SGIFNoData);
  for (TGifFrameData& f : gif.Frames) SyncControlBlock(f, gif);
  if (!gif.CommentText.empty()) gif.FileVersion = 2;
  std::string out;
  ByteWriter w(out);
  w.Bytes("GIF");
  w.Bytes(gif.FileVersion == 1   ? std::string_view("87a")
          : gif.FileVersion == 2 ? "89a"
                                 : std::string_view("\0\0\0", 3));
  std::int64_t width = 0, height = 0;
  for (const TGifFrameData& f : gif.Frames) {
    width = std::max<std::int64_t>(width, std::int64_t{f.Left} + f.Width);
    height = std::max<std::int64_t>(height, std::int64_t{f.Top} + f.Height);
  }
  gif.ScreenWidth = Clamp16(width);
  gif.ScreenHeight = Clamp16(height);
  w.U16LE(gif.ScreenWidth);
  w.U16LE(gif.ScreenHeight);
  const bool global = gif.GlobalColors.Count > 0;
  if (global) {
    const int bits = BitsForColorCount(gif.GlobalColors.Count);
    const int index = IndexOfColor(gif.GlobalColors, gif.BackgroundColor);
    w.U8(static_cast<std::uint8_t>(0x80 + (bits - 1) * 16 + ((gif.ColorBits - 1) & 7)));
    w.U8(static_cast<std::uint8_t>(index < 0 ? 0 : index));
  } else {
    w.U8(0);
    w.U8(0);
  }
  w.U8(gif.PixelAspect);
  if (global) WriteTable(w, gif.GlobalColors, gif.GlobalColors.Count);
  if (gif.Looping && gif.Frames.size() >= 2) {
    w.U8(0x21);
    w.U8(0xFF);
    w.U8(0x0B);
    w.Bytes("NETSCAPE2.0");
    w.U8(0x03);
    w.U8(0x01);
    w.U16LE(gif.LoopCount);
    w.U8(0x00);
  }
  for (TGifFrameData& f : gif.Frames) {
    for (const TGifExtension& b : f.ExtensionBlocks) {
      w.U8(0x21);
      w.U8(kLabels[b.Kind]);
      const std::size_t fixed = b.Kind == bkControl ? 6 : b.Kind == bkPlainText ? 13 : b.Kind == bkApplication ? 12 : 0;
      w.Bytes(std::string_view(reinterpret_cast<const char*>(b.Fixed.data()), fixed));
      if (b.Kind != bkControl) WriteSubBlocks(w, b.Data);
    }
    w.U8(0x2C);
    w.U16LE(Clamp16(f.Left));
    w.U16LE(Clamp16(f.Top));
    w.U16LE(Clamp16(f.Width));
    w.U16LE(Clamp16(f.Height));
    std::uint8_t packed = 0;
    int bits = 0;
    if (f.LocalColorTable) {
      bits = BitsToHold(f.FrameColors.Count);
      f.ColorBits = static_cast<std::uint8_t>(bits);
      packed = static_cast<std::uint8_t>(0x80 + bits - 1);
    }
    if (f.InterlacedRows) packed |= 0x40;
    w.U8(packed);
    // The whole table that the descriptor announces.
    if (f.LocalColorTable) WriteTable(w, f.FrameColors, 1 << bits);
    w.Bytes(f.RasterData);
    if (!EndsWithTerminator(f.RasterData)) w.U8(0);
  }
  if (!gif.CommentText.empty()) {
    w.U8(0x21);
    w.U8(0xFE);
    WriteSubBlocks(w, gif.CommentText);
  }
  w.U8(0x3B);
  return out;
}

std::string DecodeGifFrameToDIB(TGifFrameData& frame, const TGifProgressEvent& progress, bool loadCorrupted) {
  unsigned bits;
  if (frame.ColorBits == 1)
    bits = 1;
  else if (frame.ColorBits >= 2 && frame.ColorBits <= 4)
    bits = 4;
  else if (frame.ColorBits >= 5 && frame.ColorBits <= 8)
    bits = 8;
  else
    GifError(SGIFColorCount);
  TBitmapInfoHeader h;
  h.biWidth = frame.Width;
  h.biHeight = frame.Height;
  h.biBitCount = static_cast<std::uint16_t>(bits);
  const std::size_t imageSize = LzwPixelBufferSize(h);  // refuses what passes the codec's limit
  h.biSizeImage = static_cast<std::uint32_t>(imageSize);
  const std::uint32_t colours = 1u << bits;
  const std::uint32_t offset = kBitmapFileHeaderSize + kBitmapInfoHeaderSize + 4 * colours;
  std::string out;
  out.reserve(offset + imageSize);
  ByteWriter w(out);
  w.U8(0x42);
  w.U8(0x4D);
  w.U32LE(static_cast<std::uint32_t>(offset + imageSize));
  w.U32LE(0);
  w.U32LE(offset);
  WriteInfoHeader(w, h);
  const int count = frame.FrameColors.Count;
  for (std::uint32_t i = 0; i < colours; ++i) {
    if (static_cast<int>(i) < count) {
      const TGifRgb& c = frame.FrameColors.Entries[i];
      w.U8(c.Blue);
      w.U8(c.Green);
      w.U8(c.Red);
      w.U8(0);
    } else {
      const std::uint8_t v = count == 0 ? 0 : 128;
      for (int k = 0; k < 4; ++k) w.U8(v);
    }
  }
  out.resize(offset + imageSize, '\0');
  std::span<std::uint8_t> pixels(reinterpret_cast<std::uint8_t*>(out.data()) + offset, imageSize);
  TOwned<TReadOnlyMemoryStream> source(New<TReadOnlyMemoryStream>(frame.RasterData.data(), frame.RasterData.size()));
  bool corrupt = false;
  LZWDecode(*source, h, frame.InterlacedRows, progress, corrupt, pixels, frame.ColorBits, loadCorrupted);
  frame.DamagedData = frame.DamagedData || corrupt;
  return out;
}

void CompressDIBToGifFrame(std::string_view bmp, TGifFrameData& frame, TGifContainer& gif,
                           const TGifProgressEvent& progress) {
  ByteReader r(bmp);
  TBitmapInfoHeader h;
  std::uint32_t offset = 0;
  try {
    offset = r.U32LEAt(10);
    r.Seek(kBitmapFileHeaderSize);
    h = ReadInfoHeader(r);
  } catch (const EByteRange&) {
    GifError(SGIFEncodeError);
  }
  int colours;
  switch (h.biBitCount) {
    case 1:
      colours = 2;
      break;
    case 4:
      colours = 16;
      break;
    case 8:
      colours = 256;
      break;
    default:
      GifError(SGIFEncodeError);
  }
  frame.InterlacedRows = false;
  frame.FrameColors = TGifColorTable{};
  frame.FrameColors.Count = colours;
  for (int i = 0; i < colours; ++i) {
    const std::size_t at = 54 + 4 * static_cast<std::size_t>(i);
    if (at + 3 > bmp.size()) break;  // missing entries stay black
    frame.FrameColors.Entries[static_cast<std::size_t>(i)] = TGifRgb{r.U8At(at + 2), r.U8At(at + 1), r.U8At(at)};
  }
  TBitmapInfoHeader pixelsHeader = h;
  const std::size_t size = LzwPixelBufferSize(pixelsHeader);
  if (offset > bmp.size() || size > bmp.size() - offset) GifError(SGIFEncodeError);
  std::span<const std::uint8_t> pixels(reinterpret_cast<const std::uint8_t*>(bmp.data()) + offset, size);
  TOwned<TMemoryStream> raster(New<TMemoryStream>());
  try {
    LZWEncode(*raster, h, frame.InterlacedRows, progress, pixels);
  } catch (const EAbort&) {
    frame = TGifFrameData{};
    throw;
  }
  frame.RasterData = raster->DataString();
  frame.ColorBits = static_cast<std::uint8_t>(BitsToHold(colours));
  if (gif.GlobalColors.Count != 0) {
    frame.LocalColorTable = true;
  } else {
    gif.GlobalColors = frame.FrameColors;
    gif.ColorBits = frame.ColorBits;
    frame.LocalColorTable = false;
  }
  frame.Width = h.biWidth;
  frame.Height = h.biHeight;
  gif.ScreenWidth = Clamp16(std::max<std::int64_t>(gif.ScreenWidth, std::int64_t{h.biWidth} + frame.Left));
  gif.ScreenHeight = Clamp16(std::max<std::int64_t>(gif.ScreenHeight, std::int64_t{h.biHeight} + frame.Top));
}

std::string ReadLengthPrefixedGif(TStream& stream) {
  const std::int64_t length = static_cast<std::int32_t>(stream.ReadU32());
  if (length < 0 || length > stream.Size() - stream.Position()) throw EReadError("Stream read error");
  return stream.ReadBytes(length);
}

std::string LengthPrefixed(const std::string& gif) {
  std::string out;
  ByteWriter w(out);
  w.U32LE(static_cast<std::uint32_t>(gif.size()));
  out += gif;
  return out;
}
