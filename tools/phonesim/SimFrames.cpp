#include "SimFrames.h"

#include <stdexcept>

std::uint16_t SimFbusChecksum(std::string_view bytes) {
  std::uint8_t even = 0;
  std::uint8_t odd = 0;
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    if (i % 2 == 0)
      even ^= static_cast<std::uint8_t>(bytes[i]);
    else
      odd ^= static_cast<std::uint8_t>(bytes[i]);
  }
  return static_cast<std::uint16_t>((even << 8) | odd);
}

std::string SimBuildFbusFrame(std::uint8_t receiver, std::uint8_t sender, std::uint8_t type, std::string_view block) {
  if (block.size() > 0xFFFF) throw std::length_error("FBUS block longer than 65535 bytes");
  std::string f;
  f.reserve(block.size() + 10);
  f += static_cast<char>(kSimFbusStart);
  f += static_cast<char>(receiver);
  f += static_cast<char>(sender);
  f += static_cast<char>(type);
  f += static_cast<char>(block.size() >> 8);
  f += static_cast<char>(block.size() & 0xFF);
  f.append(block);
  if (block.size() % 2 != 0) f += '\0';
  const std::uint16_t cs = SimFbusChecksum(f);
  f += static_cast<char>(cs >> 8);
  f += static_cast<char>(cs & 0xFF);
  return f;
}

std::string SimBuildFbusAck(std::uint8_t receiver, std::uint8_t sender, std::uint8_t type, std::uint8_t seq) {
  const char block[2] = {static_cast<char>(type), static_cast<char>(seq & 0x0F)};
  return SimBuildFbusFrame(receiver, sender, kSimTypeAck, std::string_view(block, 2));
}

std::string SimBuildPhonetFrame(std::uint8_t media, std::uint8_t receiver, std::uint8_t sender, std::uint8_t type,
                                std::string_view payload) {
  if (payload.size() > 0xFFFF) throw std::length_error("PhoNet payload longer than 65535 bytes");
  std::string f;
  f.reserve(payload.size() + 6);
  f += static_cast<char>(media);
  f += static_cast<char>(receiver);
  f += static_cast<char>(sender);
  f += static_cast<char>(type);
  f += static_cast<char>(payload.size() >> 8);
  f += static_cast<char>(payload.size() & 0xFF);
  f.append(payload);
  return f;
}

std::vector<std::string> SimSplitFbusBlocks(std::string_view payload, std::uint8_t& counter) {
  const std::size_t n = payload.empty() ? 1 : (payload.size() - 1) / kSimFbusChunk + 1;
  if (n > 0xFF) throw std::length_error("FBUS message needs more than 255 blocks");
  std::vector<std::string> blocks;
  blocks.reserve(n);
  for (std::size_t i = 0; i < n; ++i) {
    std::string b(payload.substr(i * kSimFbusChunk, kSimFbusChunk));
    b += static_cast<char>(n - i);
    b += static_cast<char>(i == 0 ? (counter | 0x40) : counter);
    counter = static_cast<std::uint8_t>((counter + 1) & 7);
    blocks.push_back(std::move(b));
  }
  return blocks;
}

namespace {
const char kDigits[] = "0123456789ABCDEF";

void AppendByte(std::string& out, std::uint8_t b) {
  out += kDigits[b >> 4];
  out += kDigits[b & 15];
}

int DigitValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}
}  // namespace

std::string SimHex(std::string_view bytes) {
  std::string out;
  out.reserve(bytes.size() * 3);
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    if (i) out += ' ';
    AppendByte(out, static_cast<std::uint8_t>(bytes[i]));
  }
  return out;
}

std::string SimHexRuns(std::string_view bytes) {
  std::string out;
  std::size_t i = 0;
  while (i < bytes.size()) {
    std::size_t j = i + 1;
    while (j < bytes.size() && bytes[j] == bytes[i]) ++j;
    if (!out.empty()) out += ' ';
    AppendByte(out, static_cast<std::uint8_t>(bytes[i]));
    if (j - i >= 4) {
      out += '*';
      out += std::to_string(j - i);
      i = j;
    } else {
      ++i;
    }
  }
  return out;
}

bool SimParseHex(std::string_view text, std::string& out) {
  out.clear();
  int high = -1;
  for (char c : text) {
    if (c == ' ' || c == ':' || c == ',' || c == '\t') {
      if (high >= 0) return false;
      continue;
    }
    const int v = DigitValue(c);
    if (v < 0) return false;
    if (high < 0) {
      high = v;
    } else {
      out += static_cast<char>((high << 4) | v);
      high = -1;
    }
  }
  return high < 0;
}

std::string SimBytes(std::initializer_list<int> bytes) {
  std::string out;
  out.reserve(bytes.size());
  for (int b : bytes) out += static_cast<char>(b & 0xFF);
  return out;
}
