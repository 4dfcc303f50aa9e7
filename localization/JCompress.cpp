#include "JCompress.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <vector>

#include "ByteWriter.h"

namespace {

constexpr std::size_t kIoChunk = 64 * 1024;

[[noreturn]] void RaiseWrongStreamFormat() {
  throw EJCompressError(LoadResString(SWrongStreamFormat));
}

// Buffered reads over a token source.
class TInBuffer {
 public:
  explicit TInBuffer(TLzjSource& source) : source_(source), buffer_(kIoChunk) {}

  bool More() { return pos_ < end_ || Refill(); }
  std::uint8_t Byte() { return buffer_[pos_++]; }  // only after More()
  // Copies up to `count` bytes; returns how many there were.
  std::size_t Take(std::uint8_t* out, std::size_t count) {
    std::size_t got = 0;
    while (got < count && More()) {
      std::size_t n = std::min(count - got, end_ - pos_);
      std::memcpy(out + got, buffer_.data() + pos_, n);
      pos_ += n;
      got += n;
    }
    return got;
  }
  std::uint64_t Position() const { return source_.Position() - (end_ - pos_); }
  std::uint64_t Size() const { return source_.Size(); }

 private:
  bool Refill() {
    pos_ = 0;
    end_ = source_.Read(buffer_.data(), buffer_.size());
    return end_ > 0;
  }
  TLzjSource& source_;
  std::vector<std::uint8_t> buffer_;
  std::size_t pos_ = 0, end_ = 0;
};

class TOutBuffer {
 public:
  explicit TOutBuffer(TLzjSink& sink) : sink_(sink) { buffer_.reserve(kIoChunk); }
  ~TOutBuffer() = default;
  void Put(const std::uint8_t* data, std::size_t count) {
    if (buffer_.size() + count > kIoChunk) Flush();
    if (count >= kIoChunk) {
      sink_.Write(data, count);
      return;
    }
    buffer_.insert(buffer_.end(), data, data + count);
  }
  void Flush() {
    if (!buffer_.empty()) sink_.Write(buffer_.data(), buffer_.size());
    buffer_.clear();
  }

 private:
  TLzjSink& sink_;
  std::vector<std::uint8_t> buffer_;
};

class TStringSource : public TLzjSource {
 public:
  explicit TStringSource(std::string_view data) : data_(data) {}
  std::size_t Read(std::uint8_t* buffer, std::size_t count) override {
    std::size_t n = std::min(count, data_.size() - pos_);
    std::memcpy(buffer, data_.data() + pos_, n);
    pos_ += n;
    return n;
  }
  std::uint64_t Position() const override { return pos_; }
  std::uint64_t Size() const override { return data_.size(); }

 private:
  std::string_view data_;
  std::size_t pos_ = 0;
};

class TStringSink : public TLzjSink {
 public:
  explicit TStringSink(std::string& out) : out_(out) {}
  void Write(const std::uint8_t* data, std::size_t count) override {
    out_.append(reinterpret_cast<const char*>(data), count);
  }

 private:
  std::string& out_;
};

// The newest positions of each byte value, oldest dropped first.
class TLzDictionary {
 public:
  void Add(std::uint8_t value, std::uint64_t position) {
    auto& l = lists_[value];
    if (l.count == kLzjPositionsPerByte) {
      l.start = (l.start + 1) % kLzjPositionsPerByte;
      --l.count;
    }
    l.entries[(l.start + l.count) % kLzjPositionsPerByte] = position;
    ++l.count;
  }
  std::size_t Count(std::uint8_t value) const { return lists_[value].count; }
  // i = 0 is the newest entry.
  std::uint64_t Newest(std::uint8_t value, std::size_t i) const {
    const auto& l = lists_[value];
    return l.entries[(l.start + l.count - 1 - i) % kLzjPositionsPerByte];
  }
  void DropOldest(std::uint8_t value, std::size_t n) {
    auto& l = lists_[value];
    if (n > l.count) return;
    l.start = (l.start + n) % kLzjPositionsPerByte;
    l.count -= n;
  }

 private:
  struct TList {
    std::array<std::uint64_t, kLzjPositionsPerByte> entries{};
    std::size_t start = 0, count = 0;
  };
  std::array<TList, 256> lists_{};
};

}  // namespace

void LzjDecodeCore(TLzjSource& source, TLzjSink& sink, bool prefix, const TLzjProgress& progress) {
  TInBuffer in(source);
  TOutBuffer out(sink);
  std::array<std::uint8_t, kLzjWindowSize> window{};
  std::size_t end = 0;      // ring index of the next byte
  std::uint64_t total = 0;  // bytes decoded so far
  std::uint8_t run[128];
  while (in.More()) {
    std::uint8_t t = in.Byte();
    if (t & 1) {
      if (!in.More()) {
        if (prefix) break;
        RaiseWrongStreamFormat();
      }
      unsigned w = static_cast<unsigned>(in.Byte()) << 8 | t;
      std::size_t d = (w & 0x0FFF) >> 1;
      std::size_t len = (w >> 12) + kLzjMinMatch;
      if (d == 0 || d > total) RaiseWrongStreamFormat();
      for (std::size_t i = 0; i < len; ++i) {
        std::uint8_t b = window[(end - d) & (kLzjWindowSize - 1)];
        window[end] = b;
        end = (end + 1) & (kLzjWindowSize - 1);
        run[i] = b;
      }
      out.Put(run, len);
      total += len;
    } else {
      std::size_t n = t >> 1;
      std::size_t got = in.Take(run, n);
      for (std::size_t i = 0; i < got; ++i) {
        window[end] = run[i];
        end = (end + 1) & (kLzjWindowSize - 1);
      }
      out.Put(run, got);
      total += got;
      if (got < n) {
        if (prefix) break;
        out.Flush();
        RaiseWrongStreamFormat();
      }
    }
    if (progress) progress(in.Position(), in.Size());
  }
  out.Flush();
}

void LzjEncodeCore(TLzjSource& source, TLzjSink& sink, const TLzjProgress& progress) {
  TInBuffer in(source);
  TOutBuffer out(sink);
  TLzDictionary dict;
  // A linear buffer holding at least the window and the look-ahead; it is
  // shifted down when it runs full.
  std::vector<std::uint8_t> buf(kIoChunk + kLzjWindowSize + kLzjMaxLookAhead);
  std::uint64_t base = 0;     // absolute offset of buf[0]
  std::uint64_t readPos = 0;  // absolute offset of the next byte to read
  std::uint64_t encPos = 0;   // absolute offset of the next byte to encode
  std::uint8_t pending[kLzjMaxLookAhead + 1];
  std::size_t pendingCount = 0;
  bool exhausted = false;

  auto flushLiterals = [&] {
    if (pendingCount == 0) return;
    std::uint8_t head = static_cast<std::uint8_t>(pendingCount << 1);
    out.Put(&head, 1);
    out.Put(pending, pendingCount);
    pendingCount = 0;
  };
  auto advance = [&](std::size_t k) {
    for (std::size_t i = 0; i < k; ++i) dict.Add(buf[encPos + i - base], encPos + i);
    encPos += k;
  };

  for (;;) {
    std::size_t held = static_cast<std::size_t>(readPos - encPos);
    if (!exhausted && held < kLzjMaxLookAhead) {
      std::size_t want = kLzjMaxLookAhead - held;
      if (readPos - base + want > buf.size()) {
        std::uint64_t keep = encPos > kLzjWindowSize ? encPos - kLzjWindowSize : 0;
        if (keep < base) keep = base;
        std::memmove(buf.data(), buf.data() + (keep - base), static_cast<std::size_t>(readPos - keep));
        base = keep;
      }
      std::size_t got = in.Take(buf.data() + (readPos - base), want);
      if (got < want) exhausted = true;
      readPos += got;
      held += got;
    }
    if (held == 0) break;

    // Longest match among the newest positions of the byte at the encoding position.
    std::size_t bestLen = 0;
    std::uint64_t bestDist = 0;
    if (held >= kLzjMinMatch) {
      const std::uint8_t* cur = buf.data() + (encPos - base);
      std::uint8_t value = *cur;
      std::uint64_t oldest = readPos > kLzjWindowSize ? readPos - kLzjWindowSize : 0;
      std::size_t maxLen = std::min(held, kLzjMaxMatch);
      std::size_t count = dict.Count(value);
      for (std::size_t i = 0; i < count; ++i) {
        std::uint64_t cand = dict.Newest(value, i);
        if (cand < oldest) {
          dict.DropOldest(value, count - i);
          break;
        }
        const std::uint8_t* c = buf.data() + (cand - base);
        std::size_t len = 1;
        while (len < maxLen && c[len] == cur[len]) ++len;
        if (len >= kLzjMinMatch && len > bestLen) {
          bestLen = len;
          bestDist = encPos - cand;
          if (bestLen > 8) break;
        }
      }
    }

    if (bestLen) {
      flushLiterals();
      unsigned w = static_cast<unsigned>(bestDist * 2 + 1) + static_cast<unsigned>((bestLen - kLzjMinMatch) << 12);
      std::uint8_t token[2] = {static_cast<std::uint8_t>(w & 0xFF), static_cast<std::uint8_t>(w >> 8)};
      out.Put(token, 2);
      advance(bestLen);
    } else {
      if (pendingCount == kLzjMaxLookAhead) flushLiterals();
      pending[pendingCount++] = buf[encPos - base];
      advance(1);
    }
    if (progress) progress(in.Position(), in.Size());
  }
  flushLiterals();
  out.Flush();
}

std::string LzjEncodeTokens(std::string_view data, const TLzjProgress& progress) {
  std::string out;
  TStringSource source(data);
  TStringSink sink(out);
  LzjEncodeCore(source, sink, progress);
  return out;
}

namespace {

// Room kept free at the end of the output before each token: a literal run is
// copied in 16-byte pieces (at most 128 bytes) and a copy in 8-byte pieces (at
// most 24 bytes). The bytes written past a token's end are overwritten by the
// next token or cut off at the end.
constexpr std::size_t kDecodeSlack = 128;

// The bytes the tokens would decode to, counted without checking them: a cut
// final token counts with what is present of it.
std::size_t DecodedSize(const std::uint8_t* p, const std::uint8_t* end) {
  std::size_t size = 0;
  while (p < end) {
    const std::uint8_t t = *p++;
    if (t & 1) {
      if (p == end) break;
      size += (*p++ >> 4) + kLzjMinMatch;
    } else {
      const std::size_t n = std::min<std::size_t>(t >> 1, static_cast<std::size_t>(end - p));
      p += n;
      size += n;
    }
  }
  return size;
}

// The byte-string decoder: the output itself is the window. The same checks as
// LzjDecodeCore; only the way the bytes are moved differs. `out` is sized once
// (its storage is reused when large enough): no token can write past the
// counted size and the slack.
void DecodeTokens(std::string_view tokens, bool prefix, std::string& out) {
  const auto* p = reinterpret_cast<const std::uint8_t*>(tokens.data());
  const std::uint8_t* const end = p + tokens.size();
  out.resize(DecodedSize(p, end) + kDecodeSlack);
  char* const base = out.data();
  std::size_t size = 0;
  while (p < end) {
    char* o = base + size;
    const std::uint8_t t = *p++;
    if (t & 1) {
      if (p == end) {
        if (prefix) break;
        RaiseWrongStreamFormat();
      }
      const unsigned w = static_cast<unsigned>(*p++) << 8 | t;
      const std::size_t d = (w & 0x0FFF) >> 1;
      const std::size_t len = (w >> 12) + kLzjMinMatch;
      if (d == 0 || d > size) RaiseWrongStreamFormat();
      const char* from = o - d;
      if (d >= 8) {
        // Each piece reads only bytes written before it.
        std::memcpy(o, from, 8);
        std::memcpy(o + 8, from + 8, 8);
        if (len > 16) std::memcpy(o + 16, from + 16, 8);
      } else {
        for (std::size_t i = 0; i < len; ++i) o[i] = from[i];  // a repeating pattern
      }
      size += len;
    } else {
      const std::size_t n = t >> 1;
      const std::size_t left = static_cast<std::size_t>(end - p);
      if (left >= kDecodeSlack) {
        for (std::size_t i = 0; i < n; i += 16) std::memcpy(o + i, p + i, 16);
      } else if (n <= left) {
        std::memcpy(o, p, n);
      } else {
        std::memcpy(o, p, left);
        size += left;
        if (prefix) break;
        RaiseWrongStreamFormat();
      }
      p += n;
      size += n;
    }
  }
  out.resize(size);
}

}  // namespace

void LzjDecodeTokensInto(std::string_view tokens, std::string& out, bool prefix) {
  try {
    DecodeTokens(tokens, prefix, out);
  } catch (...) {
    out.clear();
    throw;
  }
}

std::string LzjDecodeTokens(std::string_view tokens, bool prefix, const TLzjProgress& progress) {
  std::string out;
  if (!progress) {
    DecodeTokens(tokens, prefix, out);
    return out;
  }
  TStringSource source(tokens);
  TStringSink sink(out);
  LzjDecodeCore(source, sink, prefix, progress);
  return out;
}

bool IsLzjData(std::string_view bytes) {
  return bytes.substr(0, kLzjMagicSize) == std::string_view(kLzjMagic, kLzjMagicSize);
}

std::string LzjCompress(std::string_view data, std::uint32_t sizeField) {
  std::string out(kLzjMagic, kLzjMagicSize);
  ByteWriter(out).U32LE(sizeField);
  out += LzjEncodeTokens(data);
  return out;
}

std::string LzjDecompress(std::string_view stream, bool prefix) {
  std::string out;
  LzjDecompressInto(stream, out, prefix);
  return out;
}

void LzjDecompressInto(std::string_view stream, std::string& out, bool prefix) {
  out.clear();
  if (!IsLzjData(stream)) RaiseWrongStreamFormat();
  if (stream.size() < kLzjHeaderSize) {
    if (prefix) return;
    RaiseWrongStreamFormat();
  }
  LzjDecodeTokensInto(stream.substr(kLzjHeaderSize), out, prefix);
}

// ---- Streams ----

namespace {

class TStreamSource : public TLzjSource {
 public:
  explicit TStreamSource(TStream& stream) : stream_(stream), size_(stream.Size()) {}
  std::size_t Read(std::uint8_t* buffer, std::size_t count) override {
    std::int64_t got = stream_.Read(buffer, static_cast<std::int64_t>(count));
    return got > 0 ? static_cast<std::size_t>(got) : 0;
  }
  std::uint64_t Position() const override { return static_cast<std::uint64_t>(stream_.Position()); }
  std::uint64_t Size() const override { return static_cast<std::uint64_t>(size_); }

 private:
  TStream& stream_;
  std::int64_t size_;
};

class TStreamSink : public TLzjSink {
 public:
  explicit TStreamSink(TStream& stream) : stream_(stream) {}
  void Write(const std::uint8_t* data, std::size_t count) override {
    stream_.WriteBuffer(data, static_cast<std::int64_t>(count));
  }

 private:
  TStream& stream_;
};

}  // namespace

FW_IMPLEMENT_CLASS(TJCompressor)
FW_IMPLEMENT_CLASS(TLZJCompressor)

void TJCompressor::CheckStreams() {
  if (!Source) throw EJCompressError(LoadResString(SSourceStreamNotDefined));
  if (!Destination) throw EJCompressError(LoadResString(SDestinationStreamNotDefined));
}

void TJCompressor::CompressStreams() {
  CheckStreams();
  WriteHeader();
  Compress();
}

void TJCompressor::DecompressStreams() {
  CheckStreams();
  ReadHeader();
  Decompress();
}

void TJCompressor::DoProgress(std::int64_t position, std::int64_t size) {
  if (OnProgress) OnProgress(this, position, size);
}

void TLZJCompressor::ReadHeader() {
  char magic[kLzjMagicSize];
  if (Source->Read(magic, kLzjMagicSize) != static_cast<std::int64_t>(kLzjMagicSize) ||
      std::string_view(magic, kLzjMagicSize) != std::string_view(kLzjMagic, kLzjMagicSize))
    RaiseWrongStreamFormat();
  std::uint8_t size[4];
  std::int64_t got = Source->Read(size, 4);
  if (got != 4) {
    if (Prefix) return;
    RaiseWrongStreamFormat();
  }
  SizeField = static_cast<std::uint32_t>(size[0]) | static_cast<std::uint32_t>(size[1]) << 8 |
              static_cast<std::uint32_t>(size[2]) << 16 | static_cast<std::uint32_t>(size[3]) << 24;
}

void TLZJCompressor::WriteHeader() {
  Destination->WriteBuffer(kLzjMagic, kLzjMagicSize);
  Destination->WriteU32(SizeField);
}

void TLZJCompressor::Compress() {
  TStreamSource source(*Source);
  TStreamSink sink(*Destination);
  TLzjProgress progress;
  if (OnProgress)
    progress = [this](std::uint64_t p, std::uint64_t s) {
      DoProgress(static_cast<std::int64_t>(p), static_cast<std::int64_t>(s));
    };
  LzjEncodeCore(source, sink, progress);
}

void TLZJCompressor::Decompress() {
  TStreamSource source(*Source);
  TStreamSink sink(*Destination);
  TLzjProgress progress;
  if (OnProgress)
    progress = [this](std::uint64_t p, std::uint64_t s) {
      DoProgress(static_cast<std::int64_t>(p), static_cast<std::int64_t>(s));
    };
  LzjDecodeCore(source, sink, Prefix, progress);
}

bool IsCompressedStream(TStream& stream) {
  std::int64_t position = stream.Position();
  char magic[kLzjMagicSize];
  bool match = stream.Read(magic, kLzjMagicSize) == static_cast<std::int64_t>(kLzjMagicSize) &&
               std::string_view(magic, kLzjMagicSize) == std::string_view(kLzjMagic, kLzjMagicSize);
  stream.SetPosition(position);
  return match;
}

void DecompressStream(TStream* source, TStream* destination, TJProgressEvent onProgress, bool prefix) {
  if (source) source->SetPosition(0);
  DecompressFromPosition(source, destination, onProgress, prefix);
}

void DecompressFromPosition(TStream* source, TStream* destination, TJProgressEvent onProgress, bool prefix) {
  TOwned<TLZJCompressor> compressor(New<TLZJCompressor>(source, destination, onProgress));
  compressor->Prefix = prefix;
  compressor->DecompressStreams();
}

void CompressStream(TStream* source, TStream* destination, TJProgressEvent onProgress, std::uint32_t sizeField) {
  TOwned<TLZJCompressor> compressor(New<TLZJCompressor>(source, destination, onProgress));
  compressor->SizeField = sizeField;
  compressor->CompressStreams();
}
