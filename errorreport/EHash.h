// Checksums and the digest of the library: CRC-32 (as zlib and PNG have it),
// the 16-bit CRC that names a bug (CRC-16/XMODEM) and MD5.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

// The unit's start-up: the CRC-32 table built once.
void InitEHash();
// CRC-32 of a buffer; a null buffer gives 0.
std::uint32_t Crc32OfBuffer(const void* buffer, std::size_t length);
// CRC-16/XMODEM of the text's bytes (initial 0, no final XOR).
std::uint16_t Crc16OfText(std::string_view text);
// The MD5 digest of a buffer, in its standard byte order.
void Md5OfBuffer(std::uint8_t (&digest)[16], const void* buffer, std::size_t length);
