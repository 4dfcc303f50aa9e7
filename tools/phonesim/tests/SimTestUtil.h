// Test helpers: the host's side of the wire, written separately from the
// simulator's code so that a fault on one side is not mirrored on the other.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "TestBytes.h"
#include "TestFrames.h"

inline std::uint8_t U8(std::string_view s, std::size_t i) {
  return static_cast<std::uint8_t>(s.at(i));
}

struct HostFrame {
  std::uint8_t Type = 0;
  std::string Bytes;  // the whole frame
  bool ChecksumOk = false;
};

// Cuts the phone's output (1E 10 00 ... frames) as the host does; stops at
// the first byte that does not start a frame and reports it in `rest`.
inline std::vector<HostFrame> HostCutFbus(std::string_view in, std::string* rest = nullptr) {
  std::vector<HostFrame> out;
  std::size_t i = 0;
  while (i + 6 <= in.size() && U8(in, i) == 0x1E && U8(in, i + 1) == 0x10 && U8(in, i + 2) == 0x00) {
    const std::size_t len = (U8(in, i + 4) << 8) | U8(in, i + 5);
    const std::size_t total = 6 + len + (len % 2) + 2;
    if (i + total > in.size()) break;
    HostFrame f;
    f.Type = U8(in, i + 3);
    f.Bytes = std::string(in.substr(i, total));
    f.ChecksumOk = FbusChecksumOf(f.Bytes.substr(0, total - 2)) == f.Bytes.substr(total - 2);
    out.push_back(f);
    i += total;
  }
  if (rest) *rest = std::string(in.substr(i));
  return out;
}

inline std::vector<HostFrame> HostCutPhonet(std::string_view in, std::uint8_t media = 0x19) {
  std::vector<HostFrame> out;
  std::size_t i = 0;
  while (i + 6 <= in.size() && U8(in, i) == media && U8(in, i + 1) == 0x10 && U8(in, i + 2) == 0x00) {
    const std::size_t len = (U8(in, i + 4) << 8) | U8(in, i + 5);
    if (i + 6 + len > in.size()) break;
    out.push_back({U8(in, i + 3), std::string(in.substr(i, 6 + len)), true});
    i += 6 + len;
  }
  return out;
}

// Reply fields as the host reads them from a whole received frame.
inline std::vector<std::string> ModelLines(const std::string& frame) {
  std::vector<std::string> lines;
  std::string cur;
  for (std::size_t i = 10; i < frame.size(); ++i) {
    if (frame[i] == '\n') {
      lines.push_back(cur);
      cur.clear();
    } else {
      cur += frame[i];
    }
  }
  return lines;  // only complete lines (ended by 0A)
}
