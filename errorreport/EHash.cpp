#include "EHash.h"

#include <cstring>
#include <mutex>

namespace {

// Built on first use from the exponents of the generator polynomial, reflected.
const std::uint32_t* Crc32Table() {
  static std::uint32_t table[256];
  static std::once_flag built;
  std::call_once(built, [] {
    static const int exponents[] = {0, 1, 2, 4, 5, 7, 8, 10, 11, 12, 16, 22, 23, 26};
    std::uint32_t poly = 0;
    for (int e : exponents) poly |= 1u << (31 - e);
    for (std::uint32_t n = 0; n < 256; ++n) {
      std::uint32_t c = n;
      for (int k = 0; k < 8; ++k) c = (c & 1) ? poly ^ (c >> 1) : c >> 1;
      table[n] = c;
    }
  });
  return table;
}

// CRC-16/XMODEM, generator 0x1021.
struct Crc16Table {
  std::uint16_t entries[256];
  constexpr Crc16Table() : entries() {
    for (unsigned n = 0; n < 256; ++n) {
      unsigned c = n << 8;
      for (int k = 0; k < 8; ++k) c = (c & 0x8000) ? (c << 1) ^ 0x1021 : c << 1;
      entries[n] = static_cast<std::uint16_t>(c);
    }
  }
};
constexpr Crc16Table kCrc16;

std::uint32_t Rotl(std::uint32_t x, int c) {
  return (x << c) | (x >> (32 - c));
}

void Md5Block(std::uint32_t (&h)[4], const std::uint8_t* p) {
  static const std::uint32_t k[64] = {
      0xd76aa478, 0xe8c7b756, 0x242070db, 0xc1bdceee, 0xf57c0faf, 0x4787c62a, 0xa8304613, 0xfd469501,
      0x698098d8, 0x8b44f7af, 0xffff5bb1, 0x895cd7be, 0x6b901122, 0xfd987193, 0xa679438e, 0x49b40821,
      0xf61e2562, 0xc040b340, 0x265e5a51, 0xe9b6c7aa, 0xd62f105d, 0x02441453, 0xd8a1e681, 0xe7d3fbc8,
      0x21e1cde6, 0xc33707d6, 0xf4d50d87, 0x455a14ed, 0xa9e3e905, 0xfcefa3f8, 0x676f02d9, 0x8d2a4c8a,
      0xfffa3942, 0x8771f681, 0x6d9d6122, 0xfde5380c, 0xa4beea44, 0x4bdecfa9, 0xf6bb4b60, 0xbebfbc70,
      0x289b7ec6, 0xeaa127fa, 0xd4ef3085, 0x04881d05, 0xd9d4d039, 0xe6db99e5, 0x1fa27cf8, 0xc4ac5665,
      0xf4292244, 0x432aff97, 0xab9423a7, 0xfc93a039, 0x655b59c3, 0x8f0ccc92, 0xffeff47d, 0x85845dd1,
      0x6fa87e4f, 0xfe2ce6e0, 0xa3014314, 0x4e0811a1, 0xf7537e82, 0xbd3af235, 0x2ad7d2bb, 0xeb86d391};
  static const int r[64] = {7,  12, 17, 22, 7,  12, 17, 22, 7,  12, 17, 22, 7,  12, 17, 22, 5,  9,  14, 20, 5,  9,
                            14, 20, 5,  9,  14, 20, 5,  9,  14, 20, 4,  11, 16, 23, 4,  11, 16, 23, 4,  11, 16, 23,
                            4,  11, 16, 23, 6,  10, 15, 21, 6,  10, 15, 21, 6,  10, 15, 21, 6,  10, 15, 21};
  std::uint32_t w[16];
  for (int i = 0; i < 16; ++i)
    w[i] = static_cast<std::uint32_t>(p[i * 4]) | (static_cast<std::uint32_t>(p[i * 4 + 1]) << 8) |
           (static_cast<std::uint32_t>(p[i * 4 + 2]) << 16) | (static_cast<std::uint32_t>(p[i * 4 + 3]) << 24);
  std::uint32_t a = h[0], b = h[1], c = h[2], d = h[3];
  for (int i = 0; i < 64; ++i) {
    std::uint32_t f;
    int g;
    if (i < 16) {
      f = (b & c) | (~b & d);
      g = i;
    } else if (i < 32) {
      f = (d & b) | (~d & c);
      g = (5 * i + 1) % 16;
    } else if (i < 48) {
      f = b ^ c ^ d;
      g = (3 * i + 5) % 16;
    } else {
      f = c ^ (b | ~d);
      g = (7 * i) % 16;
    }
    std::uint32_t t = d;
    d = c;
    c = b;
    b = b + Rotl(a + f + k[i] + w[g], r[i]);
    a = t;
  }
  h[0] += a;
  h[1] += b;
  h[2] += c;
  h[3] += d;
}

}  // namespace

std::uint32_t Crc32OfBuffer(const void* buffer, std::size_t length) {
  if (!buffer) return 0;
  const std::uint32_t* table = Crc32Table();
  const auto* p = static_cast<const std::uint8_t*>(buffer);
  std::uint32_t crc = 0xFFFFFFFFu;
  for (std::size_t i = 0; i < length; ++i) crc = table[(crc ^ p[i]) & 0xFF] ^ (crc >> 8);
  return ~crc;
}

std::uint16_t Crc16OfText(std::string_view text) {
  std::uint16_t crc = 0;
  for (unsigned char b : text) crc = static_cast<std::uint16_t>(kCrc16.entries[(b ^ (crc >> 8)) & 0xFF] ^ (crc << 8));
  return crc;
}

void Md5OfBuffer(std::uint8_t (&digest)[16], const void* buffer, std::size_t length) {
  std::uint32_t h[4] = {0x67452301, 0xefcdab89, 0x98badcfe, 0x10325476};
  const auto* p = static_cast<const std::uint8_t*>(buffer);
  std::size_t whole = p ? length / 64 : 0;
  for (std::size_t i = 0; i < whole; ++i) Md5Block(h, p + i * 64);
  std::uint8_t tail[128] = {};
  std::size_t rest = p ? length % 64 : 0;
  if (rest) std::memcpy(tail, p + whole * 64, rest);
  tail[rest] = 0x80;
  std::size_t tailLen = rest < 56 ? 64 : 128;
  std::uint64_t bits = static_cast<std::uint64_t>(p ? length : 0) * 8;
  for (int i = 0; i < 8; ++i) tail[tailLen - 8 + i] = static_cast<std::uint8_t>(bits >> (8 * i));
  Md5Block(h, tail);
  if (tailLen == 128) Md5Block(h, tail + 64);
  for (int i = 0; i < 4; ++i)
    for (int j = 0; j < 4; ++j) digest[i * 4 + j] = static_cast<std::uint8_t>(h[i] >> (8 * j));
}

void InitEHash() {
  Crc32Table();
}
