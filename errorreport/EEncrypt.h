// The library's 64-bit block cipher (32 rounds, 128-bit key from the MD5 of a
// password) and its CBC mode, used for the password-protected parts of data
// blocks and logs. The key and the chaining value are module-wide.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

// Sets the key: the MD5 digest of the password read as four big-endian words.
void SetCipherPassword(std::string_view password);
// One 8-byte block; source and target may be the same.
void EncryptBlock(const std::uint8_t* source, std::uint8_t* target);
void DecryptBlock(const std::uint8_t* source, std::uint8_t* target);
// CBC over whole blocks from the fixed chaining value; the last length % 8
// bytes are XORed with the encrypted chaining value.
void DecryptBufferCbc(const std::uint8_t* source, std::uint8_t* target, std::size_t length);
// The inverse of DecryptBufferCbc, for the writer of protected data.
void EncryptBufferCbc(const std::uint8_t* source, std::uint8_t* target, std::size_t length);
