#include "ELogManager.h"

#include <algorithm>
#include <vector>

#include "SysUtils.h"

FW_IMPLEMENT_CLASS(TLogItem)

namespace {

constexpr const char* kCrLf = "\r\n";

// Every lone CR and lone LF becomes CRLF.
std::string NormalizeLineBreaks(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '\r') {
      out += kCrLf;
      if (i + 1 < text.size() && text[i + 1] == '\n') ++i;
    } else if (c == '\n') {
      out += kCrLf;
    } else {
      out += c;
    }
  }
  return out;
}

std::vector<std::string> SplitLines(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t at = 0;
  while (true) {
    const std::size_t end = text.find(kCrLf, at);
    if (end == std::string::npos) {
      lines.push_back(text.substr(at));
      return lines;
    }
    lines.push_back(text.substr(at, end - at));
    at = end + 2;
  }
}

bool IsBlank(const std::string& line) {
  return std::all_of(line.begin(), line.end(), [](char c) { return c == ' ' || c == '\t'; });
}

// A title line ends in its first ":"; field and continuation lines start with a blank.
bool IsTitleLine(const std::string& line) {
  return !line.empty() && line[0] != ' ' && line.find(':') == line.size() - 1;
}

}  // namespace

void TLogItem::Clear() {
  fText.clear();
  fSection = fFirstSection;
  fItem = 0;
}

void TLogItem::AddSection(const std::string& title) {
  ++fSection;
  fItem = 0;
  if (!fText.empty()) fText += "\r\n\r\n";
  fText += title + ":" + kCrLf + "-";
}

void TLogItem::AddLine(const std::string& label, const std::string& value, bool shown) {
  ++fItem;
  if (!shown) return;
  std::string text = NormalizeLineBreaks(value);
  if (text.find(kCrLf) != std::string::npos) {
    std::vector<std::string> lines = SplitLines(text);
    while (lines.size() > 1 && lines.back().empty()) lines.pop_back();
    text.clear();
    for (std::size_t i = 0; i < lines.size(); ++i) {
      std::string line = lines[i];
      for (std::size_t at = line.find(": "); at != std::string::npos; at = line.find(": ", at + 2)) line[at + 1] = '_';
      if (IsBlank(line)) line = ".";
      if (i > 0) text += kCrLf + std::string(" ");
      text += line;
    }
  }
  fText += kCrLf + std::string("  ") + IntToStr(fSection) + "." + IntToStr(fItem) + " " + label + ": " + text;
}

void TLogItem::GetFormattedText(std::string& text) const {
  std::vector<std::string> lines = SplitLines(fText);
  if (fText.empty()) lines.clear();
  // 1. Sections without lines drop out with their rule and the blank line after them.
  for (std::size_t i = 0; i < lines.size();) {
    if (IsTitleLine(lines[i]) && (i + 2 >= lines.size() || lines[i + 2].empty())) {
      lines.erase(lines.begin() + static_cast<std::ptrdiff_t>(i),
                  lines.begin() + static_cast<std::ptrdiff_t>(std::min(i + 3, lines.size())));
    } else {
      ++i;
    }
  }
  // A last section that dropped out leaves the blank line before it.
  while (!lines.empty() && lines.back().empty()) lines.pop_back();
  // 2. and 3. The ": " of each section in one column, and its rule as wide as its widest line.
  for (std::size_t i = 0; i < lines.size(); ++i) {
    if (!IsTitleLine(lines[i]) || i + 1 >= lines.size()) continue;
    std::size_t end = i + 2;
    while (end < lines.size() && !lines[end].empty()) ++end;
    std::size_t column = 0;
    for (std::size_t k = i + 2; k < end; ++k) {
      const std::size_t at = lines[k].find(": ");
      if (at != std::string::npos) column = std::max(column, at);
    }
    std::size_t widest = lines[i].size();
    for (std::size_t k = i + 2; k < end; ++k) {
      std::string& line = lines[k];
      const std::size_t at = line.find(": ");
      if (at != std::string::npos)
        line.insert(at, column - at, ' ');
      else
        line.insert(0, column, ' ');
      widest = std::max(widest, line.size());
    }
    lines[i + 1] = std::string(widest, '-');
    i = end - 1;
  }
  text.clear();
  // Every line ends in CRLF, as in a string list's text.
  for (const std::string& line : lines) text += line + kCrLf;
}
