// Packed-length strings of the language file, the settings resources and the
// embedded language list. The length comes first, by format number F:
//   F < 6:  16-bit little-endian;
//   F >= 6: 1 byte (0..0x7F), 2 bytes (..0x3FFF) or 4 bytes (..0x3FFFFFFF).
// Then the characters: bytes of an ANSI string or UTF-16 units (little-endian)
// of a wide string; the length counts units. No terminator.
//
// Lengths come from untrusted files: a length that asks for more bytes than
// remain raises the read error before anything is allocated.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "ByteReader.h"
#include "Streams.h"

inline constexpr std::uint32_t kMaxPackedLength = 0x3FFFFFFF;
inline constexpr std::uint32_t kMaxShortPackedLength = 0xFFFF;
// The header names of a language file and the settings resources always use this format.
inline constexpr int kPackedHeaderFormat = 5;

std::uint32_t ReadPackedLength(ByteReader& reader, int format);
std::string ReadPackedAnsiString(ByteReader& reader, int format);
std::u16string ReadPackedWideString(ByteReader& reader, int format);
// The embedded language list's spelling of the two readers above.
std::string ReadResourceAnsiString(int format, ByteReader& reader);
std::u16string ReadResourceWideString(int format, ByteReader& reader);

// Appends the shortest encoding of `length`; raises the write error when the
// length does not fit the format (over 0xFFFF below 6, over 0x3FFFFFFF from 6).
void WritePackedLength(std::string& out, std::uint64_t length, int format);
void WritePackedAnsiString(std::string& out, std::string_view text, int format);
void WritePackedWideString(std::string& out, std::u16string_view text, int format);

// Encoded size of a length.
std::size_t PackedLengthSize(std::uint64_t length, int format);

// The same on streams, from and at the current position. A length that asks
// for more bytes than remain before the stream's end raises EReadError.
std::uint32_t ReadPackedLength(TStream& stream, int format);
std::string ReadPackedAnsiString(TStream& stream, int format);
std::u16string ReadPackedWideString(TStream& stream, int format);
std::string ReadResourceAnsiString(int format, TStream& stream);
std::u16string ReadResourceWideString(int format, TStream& stream);
void WritePackedAnsiString(TStream& stream, std::string_view text, int format);
void WritePackedWideString(TStream& stream, std::u16string_view text, int format);
