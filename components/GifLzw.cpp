#include "GifLzw.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <exception>
#include <memory>

namespace {

constexpr unsigned kMaxCodeSize = 12;
constexpr unsigned kTableSize = 1u << kMaxCodeSize;  // 4096 codes
constexpr unsigned kStackLimit = 4096;               // a walk ends when the stack holds more
constexpr unsigned kNoCode = 0xFFFF;                 // the bit reader has run out of data

[[noreturn]] void InvalidHeader() {
  throw EInvalidGraphic("Bitmap image is not valid");
}

[[noreturn]] void ReadError() {
  throw EReadError("Stream read error");
}

// Runs `body`, then reports the end of the pass: percent 100, or percent 0
// with the failure's message while the failure propagates.
template <class F>
void WithEndingReport(const TGifProgressEvent& progress, F&& body) {
  try {
    body();
  } catch (const std::exception& e) {
    if (progress) progress(2, 0, e.what());
    throw;
  }
  if (progress) progress(2, 100, std::string());
}

struct TGeometry {
  int width = 0;
  int height = 0;
  unsigned bitCount = 0;
  std::size_t stride = 0;
};

TGeometry GeometryOf(const TBitmapInfoHeader& header, std::size_t available) {
  TGeometry g;
  std::size_t size = LzwPixelBufferSize(header);
  if (available < size) InvalidHeader();
  g.width = header.biWidth;
  g.height = header.biHeight;
  g.bitCount = header.biBitCount;
  g.stride = static_cast<std::size_t>(DibRowStride(static_cast<std::uint64_t>(g.width), g.bitCount));
  return g;
}

// ---- Decoder -----------------------------------------------------------------------------------

// Pulls codes out of the data sub-blocks. A code is taken only when all of its
// bits were read; when the sub-blocks end (the terminator, or the end of the
// source, or a sub-block cut short) before a code is complete, NextCode gives
// kNoCode.
class TLzwBitReader {
 public:
  explicit TLzwBitReader(TStream& source) : source_(source) {}

  unsigned NextCode(unsigned codeSize, unsigned readMask) {
    if (bitIndex_ + codeSize > validBits_ && !Refill(codeSize)) return kNoCode;
    unsigned i = bitIndex_ >> 3;
    std::uint32_t value = buffer_[i] | (static_cast<std::uint32_t>(buffer_[i + 1]) << 8);
    if (codeSize > 8) value |= static_cast<std::uint32_t>(buffer_[i + 2]) << 16;
    value >>= bitIndex_ & 7;
    bitIndex_ += codeSize;
    return value & readMask;
  }

 private:
  bool Refill(unsigned codeSize) {
    while (bitIndex_ + codeSize > validBits_) {
      if (ended_) return false;
      // Drop the whole bytes already consumed; what is left is under three bytes.
      unsigned drop = bitIndex_ >> 3;
      std::memmove(buffer_.data(), buffer_.data() + drop, 3);
      bitIndex_ &= 7;
      validBits_ -= drop * 8;
      std::uint8_t length = 0;
      if (source_.Read(&length, 1) != 1 || length == 0) {
        ended_ = true;
        return false;
      }
      unsigned at = validBits_ >> 3;
      std::int64_t got = source_.Read(buffer_.data() + at, length);
      if (got < 0) got = 0;
      validBits_ += static_cast<unsigned>(got) * 8;
      if (got < length) ended_ = true;
    }
    return true;
  }

  TStream& source_;
  // Up to three bytes kept, 255 read behind them, and room for a code's third byte.
  std::array<std::uint8_t, 264> buffer_{};
  unsigned bitIndex_ = 0;
  unsigned validBits_ = 0;
  bool ended_ = false;
};

// Writes decoded indexes into the rows of a bottom-up DIB, top row first.
template <unsigned Bits>
class TPixelSink {
 public:
  TPixelSink(std::uint8_t* pixels, const TGeometry& g, bool interlaced)
      : pixels_(pixels), stride_(g.stride), width_(g.width), height_(g.height), interlaced_(interlaced) {
    StartRow();
  }

  bool Done() const { return y_ >= height_; }

  void PutPixel(unsigned index) {
    if (y_ >= height_) return;
    index &= (1u << Bits) - 1;
    if constexpr (Bits == 8) {
      row_[x_] = static_cast<std::uint8_t>(index);
    } else if constexpr (Bits == 4) {
      std::uint8_t& b = row_[x_ >> 1];
      if (x_ & 1)
        b = static_cast<std::uint8_t>(b | index);
      else
        b = static_cast<std::uint8_t>(index << 4);
    } else {
      std::uint8_t& b = row_[x_ >> 3];
      unsigned shift = 7 - (x_ & 7);
      if (shift == 7)
        b = static_cast<std::uint8_t>(index << 7);
      else
        b = static_cast<std::uint8_t>(b | (index << shift));
    }
    if (++x_ == width_) NextRow();
  }

  // Puts stack[count - 1] down to stack[0].
  void PutStack(const std::uint16_t* stack, unsigned count) {
    if constexpr (Bits == 8) {
      // The whole string within the current row: no row end to watch for.
      if (row_ && static_cast<unsigned>(width_ - x_) >= count) {
        std::uint8_t* out = row_ + x_;
        for (unsigned i = 0; i < count; ++i) out[i] = static_cast<std::uint8_t>(stack[count - 1 - i]);
        x_ += static_cast<int>(count);
        if (x_ == width_) NextRow();
        return;
      }
    }
    while (count > 0) PutPixel(stack[--count]);
  }

 private:
  void NextRow() {
    x_ = 0;
    y_ = interlaced_ ? NextInterlacedRow(y_, height_, pass_) : y_ + 1;
    StartRow();
  }

  void StartRow() { row_ = y_ < height_ ? pixels_ + static_cast<std::size_t>(height_ - y_ - 1) * stride_ : nullptr; }

  std::uint8_t* pixels_;
  std::size_t stride_;
  int width_, height_;
  bool interlaced_;
  int x_ = 0, y_ = 0, pass_ = 0;
  std::uint8_t* row_ = nullptr;
};

struct TDecoderTables {
  std::array<std::uint16_t, kTableSize> prefix{};
  std::array<std::uint16_t, kTableSize> suffix{};
  std::array<std::uint16_t, kStackLimit + 2> stack{};
};

template <unsigned Bits>
void DecodeCodes(TStream& source, TLzwBitReader& reader, const TGeometry& g, bool interlaced,
                 const TGifProgressEvent& progress, bool& corrupt, std::uint8_t* pixels, unsigned colorMask,
                 unsigned minCodeSize, bool acceptDamage) {
  auto tables = std::make_unique<TDecoderTables>();
  auto& prefix = tables->prefix;
  auto& suffix = tables->suffix;
  auto& stack = tables->stack;
  TPixelSink<Bits> sink(pixels, g, interlaced);

  const unsigned clearCode = 1u << minCodeSize;
  const unsigned endCode = clearCode + 1;
  unsigned codeSize = minCodeSize + 1;
  unsigned capacity = 1u << codeSize;
  unsigned readMask = capacity - 1;
  unsigned nextFree = clearCode + 2;
  unsigned previous = 0, first = 0;
  bool tableFull = false;
  const std::int64_t sourceSize = progress ? source.Size() : 0;

  // The sub-blocks or the codes ended while rows are still missing.
  auto outOfData = [&] {
    if (!acceptDamage) ReadError();
    corrupt = true;
  };

  unsigned code = reader.NextCode(codeSize, readMask);
  while (!sink.Done()) {
    // An end code while rows are still missing leaves a partial picture.
    if (code == endCode) {
      outOfData();
      return;
    }
    if (code == kNoCode) {
      outOfData();
      return;
    }
    if (code == clearCode) {
      codeSize = minCodeSize + 1;
      capacity = 1u << codeSize;
      readMask = capacity - 1;
      nextFree = clearCode + 2;
      code = reader.NextCode(codeSize, readMask);
      if (code == kNoCode) {
        outOfData();
        return;
      }
      previous = code;
      first = code & colorMask;
      sink.PutPixel(first);
      tableFull = false;
    } else {
      unsigned incoming = code;
      unsigned cur = code;
      unsigned count = 0;
      if (cur >= nextFree) {
        cur = previous;
        stack[count++] = static_cast<std::uint16_t>(first);
      }
      // Codes below the clear code are colour indexes; the others are strings of the table.
      while (cur >= clearCode) {
        if (count > kStackLimit) {
          if (!acceptDamage) throw EInvalidGraphicOperation(LoadResString(SGIFDecodeError));
          corrupt = true;
          break;
        }
        stack[count++] = suffix[cur];
        cur = prefix[cur];
      }
      if (corrupt) return;
      // An index beyond the frame's colour table is cut to the table's bits.
      first = cur & colorMask;
      stack[count++] = static_cast<std::uint16_t>(first);
      sink.PutStack(stack.data(), count);
      if (!tableFull) {
        prefix[nextFree] = static_cast<std::uint16_t>(previous);
        suffix[nextFree] = static_cast<std::uint16_t>(first);
        ++nextFree;
        if (nextFree >= capacity) {
          if (codeSize >= kMaxCodeSize) {
            tableFull = true;
          } else {
            ++codeSize;
            capacity <<= 1;
            readMask = capacity - 1;
          }
        }
      }
      previous = incoming;
    }
    code = reader.NextCode(codeSize, readMask);
    if (progress && sourceSize > 0) progress(1, static_cast<int>(source.Position() * 100 / sourceSize), std::string());
  }
}

// ---- Encoder -----------------------------------------------------------------------------------

// Packs codes into 255-byte data sub-blocks.
class TLzwBitWriter {
 public:
  explicit TLzwBitWriter(TStream& dest) : dest_(dest) {}

  unsigned codeSize = 0;

  void PutCode(unsigned code) {
    std::uint32_t v = static_cast<std::uint32_t>(code) << (bitIndex_ & 7);
    unsigned i = bitIndex_ >> 3;
    buffer_[i] = static_cast<std::uint8_t>(buffer_[i] | (v & 0xFF));
    buffer_[i + 1] = static_cast<std::uint8_t>((v >> 8) & 0xFF);
    buffer_[i + 2] = static_cast<std::uint8_t>((v >> 16) & 0xFF);
    bitIndex_ += codeSize;
    if (bitIndex_ >= 255 * 8) {
      WriteBlock(255);
      buffer_[0] = buffer_[255];
      buffer_[1] = buffer_[256];
      std::memset(buffer_.data() + 2, 0, 255);
      bitIndex_ -= 255 * 8;
    }
  }

  void FlushCodes() {
    unsigned n = (bitIndex_ + 7) >> 3;
    if (n > 0) WriteBlock(n);
    dest_.WriteU8(0);
  }

 private:
  void WriteBlock(unsigned n) {
    std::uint8_t block[256];
    block[0] = static_cast<std::uint8_t>(n);
    std::memcpy(block + 1, buffer_.data(), n);
    dest_.WriteBuffer(block, n + 1);
  }

  TStream& dest_;
  std::array<std::uint8_t, 260> buffer_{};
  unsigned bitIndex_ = 0;
};

constexpr unsigned kHashSlots = 17777;
constexpr std::uint16_t kEmptySlot = 0xFFFF;

struct TEncoderEntry {
  std::uint16_t prefix;
  std::uint16_t code;
  std::uint8_t suffix;
};

struct TEncoderTables {
  std::array<TEncoderEntry, kTableSize> entries{};
  std::array<std::uint16_t, kHashSlots> slots{};
  void Clear() { slots.fill(kEmptySlot); }
};

template <unsigned Bits>
unsigned PixelAt(const std::uint8_t* row, int c) {
  if constexpr (Bits == 8) {
    return row[c];
  } else if constexpr (Bits == 4) {
    std::uint8_t b = row[c >> 1];
    return (c & 1) ? (b & 0x0F) : (b >> 4);
  } else {
    return (row[c >> 3] >> (7 - (c & 7))) & 1;
  }
}

template <unsigned Bits>
void EncodeRows(TLzwBitWriter& writer, const TGeometry& g, bool interlaced, const TGifProgressEvent& progress,
                const std::uint8_t* pixels, unsigned startCodeSize) {
  auto tables = std::make_unique<TEncoderTables>();
  auto& entries = tables->entries;
  auto& slots = tables->slots;
  tables->Clear();

  const unsigned clearCode = 1u << (startCodeSize - 1);
  const unsigned endCode = clearCode + 1;
  const unsigned startCapacity = 1u << startCodeSize;
  unsigned lastCode = endCode;
  unsigned capacity = startCapacity;
  unsigned entryCount = 0;
  unsigned length = 0;  // pixels in the current string
  unsigned prefix = 0;
  std::uint32_t hash = 0;

  writer.codeSize = startCodeSize;
  writer.PutCode(clearCode);
  if (progress) progress(0, 0, std::string());

  int pass = 0;
  for (int r = 0; r < g.height;) {
    const std::uint8_t* row = pixels + static_cast<std::size_t>(g.height - r - 1) * g.stride;
    for (int c = 0; c < g.width; ++c) {
      unsigned p = PixelAt<Bits>(row, c);
      if (++length == 1) {
        prefix = p;
        hash = p * 301 + 903;
        continue;
      }
      hash = ((p + length + 4) * hash) % kHashSlots;
      unsigned slot = hash;
      for (;;) {
        std::uint16_t s = slots[slot];
        if (s == kEmptySlot) break;
        const TEncoderEntry& e = entries[s];
        if (e.prefix == prefix && e.suffix == p) break;
        if (++slot == kHashSlots) slot = 0;
      }
      if (slots[slot] != kEmptySlot) {
        prefix = entries[slots[slot]].code;
        continue;
      }
      writer.PutCode(prefix);
      ++lastCode;
      entries[entryCount] = TEncoderEntry{static_cast<std::uint16_t>(prefix), static_cast<std::uint16_t>(lastCode),
                                          static_cast<std::uint8_t>(p)};
      slots[slot] = static_cast<std::uint16_t>(entryCount++);
      prefix = p;
      hash = p * 301 + 903;
      length = 1;
      if (lastCode >= capacity) {
        capacity <<= 1;
        ++writer.codeSize;
      } else if (lastCode >= kTableSize - 2) {
        writer.PutCode(prefix);
        writer.PutCode(clearCode);
        length = 0;
        lastCode = endCode;
        entryCount = 0;
        writer.codeSize = startCodeSize;
        capacity = startCapacity;
        tables->Clear();
      }
    }
    r = interlaced ? NextInterlacedRow(r, g.height, pass) : r + 1;
    if (progress)
      progress(1, static_cast<int>(std::min<std::int64_t>(100, std::int64_t{r} * 100 / g.height)), std::string());
  }
  // A string is open unless the picture is empty or a clear has just written it.
  if (length > 0) writer.PutCode(prefix);
  writer.PutCode(endCode);
  writer.FlushCodes();
}

}  // namespace

std::size_t LzwPixelBufferSize(const TBitmapInfoHeader& header) {
  if (header.biWidth < 0 || header.biHeight < 0) InvalidHeader();
  unsigned bits = header.biBitCount;
  if (bits != 1 && bits != 4 && bits != 8) InvalidHeader();
  std::uint64_t size =
      DibRowStride(static_cast<std::uint64_t>(header.biWidth), bits) * static_cast<std::uint64_t>(header.biHeight);
  if (size > kMaxGifPixelBuffer) InvalidHeader();
  return static_cast<std::size_t>(size);
}

int NextInterlacedRow(int row, int height, int& pass) {
  int step = pass <= 1 ? 8 : pass == 2 ? 4 : pass == 3 ? 2 : 0;
  int r = row + step;
  if (r < height) return r;
  switch (pass) {
    case 0:
      pass = 1;
      if (height > 4) return 4;
      [[fallthrough]];
    case 1:
      pass = 2;
      if (height > 2) return 2;
      [[fallthrough]];
    case 2:
      pass = 3;
      return 1;
    default:
      return r;
  }
}

void LZWDecode(TStream& source, const TBitmapInfoHeader& header, bool interlaced, const TGifProgressEvent& progress,
               bool& corrupt, std::span<std::uint8_t> pixels, int colorBits, bool acceptDamage) {
  corrupt = false;
  WithEndingReport(progress, [&] {
    if (progress) progress(0, 0, std::string());
    TGeometry g = GeometryOf(header, pixels.size());
    if (colorBits < 1 || colorBits > 8) InvalidHeader();
    unsigned minCodeSize = source.ReadU8();
    if (minCodeSize < 2 || minCodeSize > 9) {
      if (!acceptDamage) throw EInvalidGraphicOperation(LoadResString(SGIFCodeSizeError));
      corrupt = true;
      minCodeSize = std::clamp(minCodeSize, 2u, 9u);
    }
    // An empty picture has no pixels to decode.
    if (g.width == 0 || g.height == 0) return;
    TLzwBitReader reader(source);
    unsigned colorMask = (1u << colorBits) - 1;
    switch (g.bitCount) {
      case 1:
        DecodeCodes<1>(source, reader, g, interlaced, progress, corrupt, pixels.data(), colorMask, minCodeSize,
                       acceptDamage);
        break;
      case 4:
        DecodeCodes<4>(source, reader, g, interlaced, progress, corrupt, pixels.data(), colorMask, minCodeSize,
                       acceptDamage);
        break;
      default:
        DecodeCodes<8>(source, reader, g, interlaced, progress, corrupt, pixels.data(), colorMask, minCodeSize,
                       acceptDamage);
        break;
    }
  });
}

void LZWEncode(TStream& dest, const TBitmapInfoHeader& header, bool interlaced, const TGifProgressEvent& progress,
               std::span<const std::uint8_t> pixels) {
  WithEndingReport(progress, [&] {
    TGeometry g = GeometryOf(header, pixels.size());
    unsigned codeSize = g.bitCount + 1;
    if (codeSize == 2) codeSize = 3;
    dest.WriteU8(static_cast<std::uint8_t>(codeSize - 1));
    TLzwBitWriter writer(dest);
    switch (g.bitCount) {
      case 1:
        EncodeRows<1>(writer, g, interlaced, progress, pixels.data(), codeSize);
        break;
      case 4:
        EncodeRows<4>(writer, g, interlaced, progress, pixels.data(), codeSize);
        break;
      default:
        EncodeRows<8>(writer, g, interlaced, progress, pixels.data(), codeSize);
        break;
    }
  });
}
