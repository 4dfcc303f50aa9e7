#include "Debug.h"

#include <cstdio>

namespace {

TDebugEngine gDebugEngine;

// Clears the global pointer when the program shuts down, so late callers see null
// instead of a destroyed object.
struct TDebugEngineLifetime {
  ~TDebugEngineLifetime() { DebugEngine = nullptr; }
} gDebugEngineLifetime;

}  // namespace

TDebugEngine* DebugEngine = &gDebugEngine;

void TDebugEngine::LogEvent(const std::string& /*msg*/, int /*kind*/, int /*code*/) {}

void TDebugEngine::HexDump(std::string_view data, std::string& text) const {
  text = HexDumpText(data);
}

std::string HexDumpText(std::string_view data) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string text;
  text.reserve(data.size() * 4);
  for (char c : data) {
    const auto b = static_cast<unsigned char>(c);
    text += '[';
    text += kDigits[b >> 4];
    text += kDigits[b & 0x0F];
    text += ']';
  }
  return text;
}

std::string LinkLogLine(std::string_view timeText, TLinkLogDirection direction, std::string_view frame) {
  std::string line(timeText);
  line += direction == TLinkLogDirection::ldSent ? ">> " : "-- ";
  line += HexDumpText(frame);
  return line;
}

bool AppendLinkLogLine(const std::string& path, std::string_view line) {
  std::FILE* f = std::fopen(path.c_str(), "ab");
  if (!f) return false;
  bool ok = std::fwrite(line.data(), 1, line.size(), f) == line.size();
  ok = std::fwrite("\r\n", 1, 2, f) == 2 && ok;
  return std::fclose(f) == 0 && ok;
}

bool TouchLinkLog(const std::string& path) {
  std::FILE* f = std::fopen(path.c_str(), "ab");
  if (!f) return false;
  return std::fclose(f) == 0;
}
