// Byte-string helpers shared by the tests: literal bytes in, readable hex out.
#pragma once

#include <initializer_list>
#include <string>
#include <string_view>

// The bytes given as numbers 0-255, as a byte string.
inline std::string Bytes(std::initializer_list<int> values) {
  std::string out;
  for (int v : values) out.push_back(static_cast<char>(v));
  return out;
}

// Upper-case hex, one space between bytes: "06 61 62".
inline std::string Hex(std::string_view bytes) {
  static const char digits[] = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : bytes) {
    if (!out.empty()) out.push_back(' ');
    out.push_back(digits[c >> 4]);
    out.push_back(digits[c & 15]);
  }
  return out;
}
