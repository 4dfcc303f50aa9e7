// Byte-string helpers shared by the tests: literal bytes in, hex text in and
// out. Written apart from the product's own hex code so that a fault there is
// not mirrored here.
#pragma once

#include <initializer_list>
#include <stdexcept>
#include <string>
#include <string_view>

// The bytes given as numbers 0-255, as a byte string.
inline std::string Bytes(std::initializer_list<int> values) {
  std::string out;
  for (int v : values) out.push_back(static_cast<char>(v));
  return out;
}

// Upper-case hex, one space between bytes: "06 61 62".
inline std::string ToHex(std::string_view bytes) {
  static const char digits[] = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : bytes) {
    if (!out.empty()) out.push_back(' ');
    out.push_back(digits[c >> 4]);
    out.push_back(digits[c & 15]);
  }
  return out;
}

// The bytes written as hex pairs, either case, spaces anywhere: "1E 00 10" or
// "1e0010". Anything else, or a lone digit at the end, is a fault of the test.
inline std::string FromHex(std::string_view text) {
  std::string out;
  int high = -1;
  for (char c : text) {
    int v;
    if (c >= '0' && c <= '9') {
      v = c - '0';
    } else if (c >= 'A' && c <= 'F') {
      v = c - 'A' + 10;
    } else if (c >= 'a' && c <= 'f') {
      v = c - 'a' + 10;
    } else if (c == ' ' || c == '\n' || c == '\t') {
      continue;
    } else {
      throw std::invalid_argument("FromHex: not a hex digit in \"" + std::string(text) + "\"");
    }
    if (high < 0) {
      high = v;
    } else {
      out.push_back(static_cast<char>(high * 16 + v));
      high = -1;
    }
  }
  if (high >= 0) throw std::invalid_argument("FromHex: odd number of hex digits in \"" + std::string(text) + "\"");
  return out;
}
