// LZJ compression: a sliding-window LZ77 variant with a 2048-byte window,
// 2-byte copy tokens (distance 1..2047, length 3..18) and literal runs of up
// to 127 bytes. A stream is the magic "LZJ00", a 32-bit little-endian size
// field and the tokens.
//
// The decoder checks every token against the bytes decoded so far: a copy
// whose distance is 0 or reaches before the first decoded byte, and a token
// cut off by the end of the input, raise EJCompressError "Wrong stream
// format". In prefix mode (used when only the first bytes of a stream are
// at hand) a cut final token ends decoding cleanly instead: the bytes of a
// cut literal run that are present are delivered, a lone first byte of a
// copy token is dropped.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "Exceptions.h"
#include "Method.h"
#include "Object.h"
#include "ResStrings.h"
#include "Streams.h"

FW_EXCEPTION(EJCompressError, Exception);

// The compressor's error texts, resource strings of the program.
inline constexpr ResString SWrongStreamFormat{65232, 0, "Wrong stream format"};
inline constexpr ResString SSourceStreamNotDefined{65233, 0, "Source stream is not defined"};
inline constexpr ResString SDestinationStreamNotDefined{65234, 0, "Destination stream is not defined"};

inline constexpr char kLzjMagic[] = "LZJ00";
inline constexpr std::size_t kLzjMagicSize = 5;
inline constexpr std::size_t kLzjHeaderSize = 9;
inline constexpr std::size_t kLzjWindowSize = 2048;
inline constexpr std::size_t kLzjMaxLookAhead = 127;
inline constexpr std::size_t kLzjMaxMatch = 18;
inline constexpr std::size_t kLzjMinMatch = 3;
inline constexpr std::size_t kLzjPositionsPerByte = 40;

// Progress: bytes of the source consumed, source size.
using TLzjProgress = std::function<void(std::uint64_t position, std::uint64_t size)>;

// Encodes `data` as LZJ tokens (no header).
std::string LzjEncodeTokens(std::string_view data, const TLzjProgress& progress = {});
// Decodes LZJ tokens (no header).
std::string LzjDecodeTokens(std::string_view tokens, bool prefix = false, const TLzjProgress& progress = {});

// Decodes LZJ tokens (no header) into `out`, replacing what it held; its storage
// is reused when large enough, so a caller decoding again and again touches no
// fresh memory. After an error `out` is empty.
void LzjDecodeTokensInto(std::string_view tokens, std::string& out, bool prefix = false);

// Whole streams with header.
std::string LzjCompress(std::string_view data, std::uint32_t sizeField = 0);
std::string LzjDecompress(std::string_view stream, bool prefix = false);
void LzjDecompressInto(std::string_view stream, std::string& out, bool prefix = false);
// True when the bytes start with the magic "LZJ00".
bool IsLzjData(std::string_view bytes);

// ---- Building blocks shared by the byte-string and the stream interfaces ----

// Pulls token bytes from somewhere; Read returns the count it got (less only at the end).
class TLzjSource {
 public:
  virtual ~TLzjSource() = default;
  virtual std::size_t Read(std::uint8_t* buffer, std::size_t count) = 0;
  virtual std::uint64_t Position() const = 0;
  virtual std::uint64_t Size() const = 0;
};

class TLzjSink {
 public:
  virtual ~TLzjSink() = default;
  virtual void Write(const std::uint8_t* data, std::size_t count) = 0;
};

void LzjDecodeCore(TLzjSource& source, TLzjSink& sink, bool prefix, const TLzjProgress& progress);
void LzjEncodeCore(TLzjSource& source, TLzjSink& sink, const TLzjProgress& progress);

// ---- Streams ----

// Progress of a run: the sender, the source position and the source size.
using TJProgressEvent = Method<void(TObject* sender, std::int64_t position, std::int64_t size)>;

// A compressor between two streams (not owned). The decoded bytes are
// appended to the destination at its current position.
class TJCompressor : public TObject {
  FW_CLASS(TJCompressor, TObject)
 public:
  TJCompressor(TStream* source, TStream* destination, TJProgressEvent onProgress = nullptr)
      : Source(source), Destination(destination), OnProgress(onProgress) {}

  TStream* Source;
  TStream* Destination;
  TJProgressEvent OnProgress;
  // The header's size field: written as held, read and kept, never needed for decoding.
  std::uint32_t SizeField = 0;
  // Stops cleanly at a token cut off by the end of the source.
  bool Prefix = false;

  void CompressStreams();
  void DecompressStreams();

  virtual void ReadHeader() = 0;
  virtual void WriteHeader() = 0;
  virtual void Compress() = 0;
  virtual void Decompress() = 0;

 protected:
  void DoProgress(std::int64_t position, std::int64_t size);
  void CheckStreams();
};

class TLZJCompressor : public TJCompressor {
  FW_CLASS(TLZJCompressor, TJCompressor)
 public:
  using TJCompressor::TJCompressor;
  void ReadHeader() override;
  void WriteHeader() override;
  void Compress() override;
  void Decompress() override;
};

// True when the stream holds "LZJ00" at its position; the position is kept.
bool IsCompressedStream(TStream& stream);
// Decompresses the whole source (from position 0) into the destination.
void DecompressStream(TStream* source, TStream* destination, TJProgressEvent onProgress = nullptr, bool prefix = false);
// Decompresses from the source's current position.
void DecompressFromPosition(TStream* source, TStream* destination, TJProgressEvent onProgress = nullptr,
                            bool prefix = false);
// Compresses the source from its current position to its end, header first.
void CompressStream(TStream* source, TStream* destination, TJProgressEvent onProgress = nullptr,
                    std::uint32_t sizeField = 0);
