#include "EBase64.h"

#include <cstdint>

namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

struct DecodeTable {
  std::uint8_t values[256];
  constexpr DecodeTable() : values() {
    for (int i = 0; i < 64; ++i) values[static_cast<unsigned char>(kAlphabet[i])] = static_cast<std::uint8_t>(i);
  }
};
constexpr DecodeTable kDecode;

}  // namespace

std::size_t Base64EncodedSize(std::size_t size) {
  return (size + 2) / 3 * 4;
}

std::size_t Base64DecodedSize(const char* text, std::size_t length) {
  if (!text || length == 0 || length % 4 != 0) return 0;
  std::size_t size = length / 4 * 3;
  if (text[length - 2] == '=')
    size -= 2;
  else if (text[length - 1] == '=')
    size -= 1;
  return size;
}

void Base64EncodeBuffer(const void* buffer, std::size_t size, std::string& result) {
  result.clear();
  if (!buffer) return;
  const auto* p = static_cast<const std::uint8_t*>(buffer);
  result.reserve(Base64EncodedSize(size));
  std::size_t i = 0;
  for (; i + 3 <= size; i += 3) {
    std::uint32_t v = (p[i] << 16) | (p[i + 1] << 8) | p[i + 2];
    result += kAlphabet[v >> 18];
    result += kAlphabet[(v >> 12) & 63];
    result += kAlphabet[(v >> 6) & 63];
    result += kAlphabet[v & 63];
  }
  if (size - i == 1) {
    std::uint32_t v = p[i] << 16;
    result += kAlphabet[v >> 18];
    result += kAlphabet[(v >> 12) & 63];
    result += "==";
  } else if (size - i == 2) {
    std::uint32_t v = (p[i] << 16) | (p[i + 1] << 8);
    result += kAlphabet[v >> 18];
    result += kAlphabet[(v >> 12) & 63];
    result += kAlphabet[(v >> 6) & 63];
    result += '=';
  }
}

void Base64EncodeText(std::string_view text, std::string& result) {
  Base64EncodeBuffer(text.data(), text.size(), result);
}

void Base64DecodeText(std::string_view text, std::string& result) {
  std::size_t size = Base64DecodedSize(text.data(), text.size());
  result.assign(size, '.');
  if (size == 0) return;
  std::size_t out = 0;
  for (std::size_t g = 0; g < text.size(); g += 4) {
    bool last = g + 4 == text.size();
    int chars = 4;
    if (last) {
      chars = 0;
      while (chars < 4 && text[g + chars] != '=') ++chars;
    }
    std::uint32_t v = 0;
    for (int k = 0; k < 4; ++k)
      v = (v << 6) | (k < chars ? kDecode.values[static_cast<unsigned char>(text[g + k])] : 0);
    const int bytes = chars == 4 ? 3 : chars - 1;
    for (int k = 0; k < bytes && out < size; ++k) result[out++] = static_cast<char>(v >> (16 - 8 * k));
  }
}
