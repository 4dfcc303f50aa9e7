#include "EEncrypt.h"

#include <cstring>
#include <string>

#include "EHash.h"

namespace {

constexpr std::uint32_t kDelta = 0x9E3779B9u;
std::uint32_t g_key[4] = {};

std::uint32_t ReadBE(const std::uint8_t* p) {
  return (static_cast<std::uint32_t>(p[0]) << 24) | (static_cast<std::uint32_t>(p[1]) << 16) |
         (static_cast<std::uint32_t>(p[2]) << 8) | p[3];
}

void WriteBE(std::uint8_t* p, std::uint32_t v) {
  p[0] = static_cast<std::uint8_t>(v >> 24);
  p[1] = static_cast<std::uint8_t>(v >> 16);
  p[2] = static_cast<std::uint8_t>(v >> 8);
  p[3] = static_cast<std::uint8_t>(v);
}

// The chaining value that every CBC run starts from; made here rather than
// kept as a table in the data.
void InitialChain(std::uint8_t (&chain)[8]) {
  std::uint32_t x = 0x5F3A91C7u;
  for (auto& b : chain) {
    x = x * 1103515245u + 12345u;
    b = static_cast<std::uint8_t>(x >> 16);
  }
}

}  // namespace

void SetCipherPassword(std::string_view password) {
  // Readers of many short enciphered texts set the same password again and again.
  static std::string last;
  static bool set = false;
  if (set && password == last) return;
  last.assign(password);
  set = true;
  std::uint8_t digest[16];
  Md5OfBuffer(digest, password.data(), password.size());
  for (int i = 0; i < 4; ++i) g_key[i] = ReadBE(digest + 4 * i);
}

void EncryptBlock(const std::uint8_t* source, std::uint8_t* target) {
  std::uint32_t y = ReadBE(source), z = ReadBE(source + 4), sum = 0;
  for (int i = 0; i < 32; ++i) {
    sum += kDelta;
    y += (z << 4) + (z ^ g_key[0]) + ((z >> 5) ^ sum) + g_key[1];
    z += (y << 4) + (y ^ g_key[2]) + ((y >> 5) ^ sum) + g_key[3];
  }
  WriteBE(target, y);
  WriteBE(target + 4, z);
}

void DecryptBlock(const std::uint8_t* source, std::uint8_t* target) {
  std::uint32_t y = ReadBE(source), z = ReadBE(source + 4), sum = 0xC6EF3720u;
  for (int i = 0; i < 32; ++i) {
    z -= (y << 4) + (y ^ g_key[2]) + ((y >> 5) ^ sum) + g_key[3];
    y -= (z << 4) + (z ^ g_key[0]) + ((z >> 5) ^ sum) + g_key[1];
    sum -= kDelta;
  }
  WriteBE(target, y);
  WriteBE(target + 4, z);
}

void DecryptBufferCbc(const std::uint8_t* source, std::uint8_t* target, std::size_t length) {
  std::uint8_t chain[8];
  InitialChain(chain);
  std::size_t whole = length / 8 * 8;
  for (std::size_t at = 0; at < whole; at += 8) {
    std::uint8_t cipher[8], plain[8];
    std::memcpy(cipher, source + at, 8);
    DecryptBlock(cipher, plain);
    for (int i = 0; i < 8; ++i) target[at + i] = plain[i] ^ chain[i];
    std::memcpy(chain, cipher, 8);
  }
  if (length > whole) {
    EncryptBlock(chain, chain);
    for (std::size_t i = whole; i < length; ++i) target[i] = source[i] ^ chain[i - whole];
  }
}

void EncryptBufferCbc(const std::uint8_t* source, std::uint8_t* target, std::size_t length) {
  std::uint8_t chain[8];
  InitialChain(chain);
  std::size_t whole = length / 8 * 8;
  for (std::size_t at = 0; at < whole; at += 8) {
    std::uint8_t block[8];
    for (int i = 0; i < 8; ++i) block[i] = source[at + i] ^ chain[i];
    EncryptBlock(block, chain);
    std::memcpy(target + at, chain, 8);
  }
  if (length > whole) {
    EncryptBlock(chain, chain);
    for (std::size_t i = whole; i < length; ++i) target[i] = source[i] ^ chain[i - whole];
  }
}
