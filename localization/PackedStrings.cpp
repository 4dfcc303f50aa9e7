#include "PackedStrings.h"

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
  if (format < 6) {
    if (length > kMaxShortPackedLength) RaisePackedWriteError(length);
    out.push_back(static_cast<char>(length & 0xFF));
    out.push_back(static_cast<char>(length >> 8));
  } else if (length < 0x80) {
    out.push_back(static_cast<char>(length));
  } else if (length < 0x4000) {
    out.push_back(static_cast<char>((length & 0x7F) | 0x80));
    out.push_back(static_cast<char>(length >> 7));
  } else {
    if (length > kMaxPackedLength) RaisePackedWriteError(length);
    out.push_back(static_cast<char>((length & 0x7F) | 0x80));
    out.push_back(static_cast<char>(((length >> 7) & 0x7F) | 0x80));
    std::uint64_t w = length >> 14;
    out.push_back(static_cast<char>(w & 0xFF));
    out.push_back(static_cast<char>(w >> 8));
  }
}

void WritePackedAnsiString(std::string& out, std::string_view text, int format) {
  WritePackedLength(out, text.size(), format);
  out.append(text);
}

void WritePackedWideString(std::string& out, std::u16string_view text, int format) {
  WritePackedLength(out, text.size(), format);
  for (char16_t c : text) {
    out.push_back(static_cast<char>(c & 0xFF));
    out.push_back(static_cast<char>(c >> 8));
  }
}
