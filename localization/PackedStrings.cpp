#include "PackedStrings.h"

#include "ByteWriter.h"
#include "LocStreamErrors.h"

std::uint32_t ReadPackedLength(ByteReader& reader, int format) {
  try {
    if (format < 6) return reader.U16LE();
    std::uint32_t b1 = reader.U8();
    if (b1 < 0x80) return b1;
    std::uint32_t b2 = reader.U8();
    if (b2 < 0x80) return (b1 & 0x7F) + b2 * 128;
    std::uint32_t w = reader.U16LE();
    return (b1 & 0x7F) + (b2 & 0x7F) * 128 + w * 16384;
  } catch (const EByteRange&) {
    RaisePackedReadError();
  }
}

std::string ReadPackedAnsiString(ByteReader& reader, int format) {
  std::uint32_t n = ReadPackedLength(reader, format);
  if (n > reader.Remaining()) RaisePackedReadError();
  return reader.Bytes(n);
}

std::u16string ReadPackedWideString(ByteReader& reader, int format) {
  std::uint64_t n = ReadPackedLength(reader, format);
  if (n * 2 > reader.Remaining()) RaisePackedReadError();
  std::u16string out(static_cast<std::size_t>(n), u'\0');
  for (auto& c : out) c = reader.U16LE();
  return out;
}

std::string ReadResourceAnsiString(int format, ByteReader& reader) {
  return ReadPackedAnsiString(reader, format);
}
std::u16string ReadResourceWideString(int format, ByteReader& reader) {
  return ReadPackedWideString(reader, format);
}

std::size_t PackedLengthSize(std::uint64_t length, int format) {
  if (format < 6) return 2;
  if (length < 0x80) return 1;
  if (length < 0x4000) return 2;
  return 4;
}

void WritePackedLength(std::string& out, std::uint64_t length, int format) {
  ByteWriter w(out);
  if (format < 6) {
    if (length > kMaxShortPackedLength) RaisePackedWriteError(length);
    w.U16LE(static_cast<std::uint16_t>(length));
  } else if (length < 0x80) {
    w.U8(static_cast<std::uint8_t>(length));
  } else if (length < 0x4000) {
    w.U8(static_cast<std::uint8_t>((length & 0x7F) | 0x80));
    w.U8(static_cast<std::uint8_t>(length >> 7));
  } else {
    if (length > kMaxPackedLength) RaisePackedWriteError(length);
    w.U8(static_cast<std::uint8_t>((length & 0x7F) | 0x80));
    w.U8(static_cast<std::uint8_t>(((length >> 7) & 0x7F) | 0x80));
    w.U16LE(static_cast<std::uint16_t>(length >> 14));
  }
}

void WritePackedAnsiString(std::string& out, std::string_view text, int format) {
  WritePackedLength(out, text.size(), format);
  out.append(text);
}

void WritePackedWideString(std::string& out, std::u16string_view text, int format) {
  WritePackedLength(out, text.size(), format);
  ByteWriter(out).WideLE(text);
}

namespace {

std::uint8_t StreamU8(TStream& stream) {
  std::uint8_t b = 0;
  if (stream.Read(&b, 1) != 1) RaisePackedReadError();
  return b;
}

std::uint16_t StreamU16(TStream& stream) {
  std::uint8_t b[2] = {};
  if (stream.Read(b, 2) != 2) RaisePackedReadError();
  return static_cast<std::uint16_t>(b[0] | (b[1] << 8));
}

std::uint64_t StreamRemaining(TStream& stream) {
  std::int64_t left = stream.Size() - stream.Position();
  return left > 0 ? static_cast<std::uint64_t>(left) : 0;
}

}  // namespace

std::uint32_t ReadPackedLength(TStream& stream, int format) {
  if (format < 6) return StreamU16(stream);
  std::uint32_t b1 = StreamU8(stream);
  if (b1 < 0x80) return b1;
  std::uint32_t b2 = StreamU8(stream);
  if (b2 < 0x80) return (b1 & 0x7F) + b2 * 128;
  std::uint32_t w = StreamU16(stream);
  return (b1 & 0x7F) + (b2 & 0x7F) * 128 + w * 16384;
}

std::string ReadPackedAnsiString(TStream& stream, int format) {
  std::uint64_t n = ReadPackedLength(stream, format);
  if (n > StreamRemaining(stream)) RaisePackedReadError();
  std::string out(static_cast<std::size_t>(n), '\0');
  if (n && stream.Read(out.data(), static_cast<std::int64_t>(n)) != static_cast<std::int64_t>(n))
    RaisePackedReadError();
  return out;
}

std::u16string ReadPackedWideString(TStream& stream, int format) {
  std::uint64_t n = ReadPackedLength(stream, format);
  if (n * 2 > StreamRemaining(stream)) RaisePackedReadError();
  std::string bytes(static_cast<std::size_t>(n * 2), '\0');
  if (n && stream.Read(bytes.data(), static_cast<std::int64_t>(n * 2)) != static_cast<std::int64_t>(n * 2))
    RaisePackedReadError();
  std::u16string out(static_cast<std::size_t>(n), u'\0');
  for (std::size_t i = 0; i < out.size(); ++i)
    out[i] = static_cast<char16_t>(static_cast<unsigned char>(bytes[2 * i]) |
                                   (static_cast<unsigned char>(bytes[2 * i + 1]) << 8));
  return out;
}

std::string ReadResourceAnsiString(int format, TStream& stream) {
  return ReadPackedAnsiString(stream, format);
}
std::u16string ReadResourceWideString(int format, TStream& stream) {
  return ReadPackedWideString(stream, format);
}

void WritePackedAnsiString(TStream& stream, std::string_view text, int format) {
  std::string out;
  WritePackedAnsiString(out, text, format);
  stream.WriteBuffer(out.data(), static_cast<std::int64_t>(out.size()));
}

void WritePackedWideString(TStream& stream, std::u16string_view text, int format) {
  std::string out;
  WritePackedWideString(out, text, format);
  stream.WriteBuffer(out.data(), static_cast<std::int64_t>(out.size()));
}
