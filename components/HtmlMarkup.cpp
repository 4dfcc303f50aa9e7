#include "HtmlMarkup.h"

#include <algorithm>
#include <cmath>

namespace {

char Upper(char c) {
  return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}
char Lower(char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

// Replaces every occurrence of `what` (case ignored) by `with`, in one pass
// that copies the text between the occurrences.
std::string ReplaceAllNoCase(std::string_view text, std::string_view what, std::string_view with) {
  if (what.empty()) return std::string(text);
  std::string out;
  out.reserve(text.size());
  std::size_t from = 0;
  for (std::size_t at; (at = FindNoCase(text, what, from)) != std::string_view::npos; from = at + what.size()) {
    out += text.substr(from, at - from);
    out += with;
  }
  out += text.substr(from);
  return out;
}

}  // namespace

std::size_t FindNoCase(std::string_view text, std::string_view what, std::size_t from) {
  if (what.empty()) return from <= text.size() ? from : std::string_view::npos;
  if (text.size() < what.size()) return std::string_view::npos;
  for (std::size_t i = from; i + what.size() <= text.size(); ++i) {
    std::size_t k = 0;
    while (k < what.size() && Upper(text[i + k]) == Upper(what[k])) ++k;
    if (k == what.size()) return i;
  }
  return std::string_view::npos;
}

std::string PrepareHtmlText(std::string_view input) {
  static const struct {
    std::string_view entity, text;
  } kEntities[] = {{"&amp;", "&&"},    {"&quot;", "\""},   {"&sect;", "\xA7"},  {"&permil;", "\x89"}, {"&reg;", "\xAE"},
                   {"&copy;", "\xA9"}, {"&para;", "\xB6"}, {"&trade;", "\x99"}, {"&euro;", "\x80"}};
  std::string text(input);
  if (text.find('&') != std::string::npos) {
    // Every replacement shortens the text, so the passes end.
    for (bool replaced = true; replaced;) {
      replaced = false;
      for (const auto& e : kEntities) {
        const std::size_t at = FindNoCase(text, e.entity);
        if (at == std::string::npos) continue;
        text.replace(at, e.entity.size(), e.text);
        replaced = true;
      }
    }
  }
  const std::size_t hash = text.find("<#");
  if (hash != std::string::npos) {
    const std::size_t close = text.find('>', hash + 2);
    if (close != std::string::npos) text.erase(close, 1);
    text.erase(hash, 1);
  }
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    if (c == '\n') continue;
    if (c == '\r')
      out += "<BR>";
    else
      out += c;
  }
  return out;
}

std::string ApplyRunEntities(std::string_view run) {
  if (run.find('&') == std::string_view::npos) return std::string(run);
  const std::string text = ReplaceAllNoCase(ReplaceAllNoCase(run, "&nbsp;", " "), "&lt;", "<");
  return ReplaceAllNoCase(text, "&gt;", ">");
}

int HexPairValue(std::string_view pair) {
  if (pair.size() < 2) return 0;
  auto digit = [](char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return 0;
  };
  return digit(pair[0]) * 16 + digit(pair[1]);
}

HtmlColor ParseHexColor(std::string_view text) {
  auto pair = [&](std::size_t at) { return at < text.size() ? HexPairValue(text.substr(at, 2)) : 0; };
  return pair(1) + pair(3) * 256 + pair(5) * 65536;
}

HtmlColor ColorFromName(std::string_view input) {
  static const struct {
    std::string_view name;
    std::uint32_t color;
  } kPlain[] = {{"clred", 0x0000FF},  {"clblack", 0x000000},  {"clblue", 0xFF0000},    {"clgreen", 0x008000},
                {"claqua", 0xFFFF00}, {"clyellow", 0x00FFFF}, {"clfuchsia", 0xFF00FF}, {"clwhite", 0xFFFFFF},
                {"cllime", 0x00FF00}, {"clsilver", 0xC0C0C0}, {"clgray", 0x808080},    {"clolive", 0x008080},
                {"clnavy", 0x800000}, {"clpurple", 0x800080}, {"clteal", 0x808000},    {"clmaroon", 0x000080}},
    kSystem[] = {{"clbackground", 0x80000001},
                 {"clactivecaption", 0x80000002},
                 {"clinactivecaption", 0x80000003},
                 {"clmenu", 0x80000004},
                 {"clwindow", 0x80000005},
                 {"clwindowframe", 0x80000006},
                 {"clmenutext", 0x80000007},
                 {"clwindowtext", 0x80000008},
                 {"clcaptiontext", 0x80000009},
                 {"clactiveborder", 0x8000000A},
                 {"clinactiveborder", 0x8000000B},
                 {"clappworkspace", 0x8000000C},
                 {"clhighlight", 0x8000000D},
                 {"clhighlighttext", 0x8000000E},
                 {"clbtnface", 0x8000000F},
                 {"clbtnshadow", 0x80000010},
                 {"clgraytext", 0x80000011},
                 {"clbtntext", 0x80000012},
                 {"clinactivecaptiontext", 0x80000013},
                 {"clbtnhighlight", 0x80000014},
                 {"cl3ddkshadow", 0x80000015},
                 {"cl3dlight", 0x80000016},
                 {"clinfotext", 0x80000017},
                 {"clinfobk", 0x80000018}};
  std::string name;
  for (char c : input) name += Lower(c);
  if (name.compare(0, 2, "cl") != 0) name = "cl" + name;
  for (const auto& e : kPlain)
    if (e.name == name && e.color != 0) return static_cast<HtmlColor>(e.color);
  for (const auto& e : kSystem)
    if (e.name == name) return static_cast<HtmlColor>(e.color);
  return 0;
}

HtmlColor HtmlColorValue(std::string_view value) {
  if (!value.empty() && value[0] == '#') {
    std::string upper;
    for (char c : value) upper += Upper(c);
    return ParseHexColor(upper);
  }
  return ColorFromName(value);
}

namespace {

// Reads a number from the front of `text`; `whole` tells whether it took all of it.
int ReadNumber(std::string_view text, bool& whole) {
  std::size_t i = 0;
  while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '-' || text[i] == '+')) negative = text[i++] == '-';
  bool hex = false;
  if (i < text.size() && (text[i] == '$' || text[i] == 'x' || text[i] == 'X')) {
    hex = true;
    ++i;
  } else if (i + 1 < text.size() && text[i] == '0' && (text[i + 1] == 'x' || text[i + 1] == 'X')) {
    hex = true;
    i += 2;
  }
  std::uint32_t value = 0;
  std::size_t digits = 0;
  for (; i < text.size(); ++i, ++digits) {
    const char c = Upper(text[i]);
    int d;
    if (c >= '0' && c <= '9')
      d = c - '0';
    else if (hex && c >= 'A' && c <= 'F')
      d = c - 'A' + 10;
    else
      break;
    value = value * (hex ? 16u : 10u) + static_cast<std::uint32_t>(d);
  }
  whole = digits > 0 && i == text.size();
  if (whole && negative) value = 0u - value;
  return static_cast<int>(value);
}

}  // namespace

int HtmlNumber(std::string_view text) {
  bool whole;
  return ReadNumber(text, whole);
}

bool HtmlWholeNumber(std::string_view text, int& value) {
  bool whole;
  value = ReadNumber(text, whole);
  return whole;
}

std::string TagAttribute(std::string_view tagText, std::string_view name) {
  const std::size_t at = FindNoCase(tagText, name);
  if (at == std::string_view::npos) return {};
  const std::size_t open = tagText.find('"', at + name.size());
  if (open == std::string_view::npos) return {};
  const std::size_t close = tagText.find('"', open + 1);
  if (close == std::string_view::npos) return {};
  return std::string(tagText.substr(open + 1, close - open - 1));
}

bool TagHasAttribute(std::string_view tagText, std::string_view name) {
  return FindNoCase(tagText, name) != std::string_view::npos;
}

int TagSizeValue(std::string_view tagText) {
  const std::size_t at = FindNoCase(tagText, "SIZE");
  if (at == std::string_view::npos) return 0;
  const std::size_t eq = tagText.find('=', at + 4);
  if (eq == std::string_view::npos) return 0;
  std::size_t from = eq + 1;
  if (from < tagText.size() && tagText[from] == '"') ++from;
  return HtmlNumber(tagText.substr(from));
}

int FontSizePoints(int size) {
  switch (size) {
    case 1:
      return 8;
    case 2:
      return 10;
    case 3:
      return 12;
    case 4:
      return 14;
    case 5:
      return 16;
    default:
      return size;
  }
}

namespace {

// Removes the sections from `open` to `close` (case-sensitive). When a
// closing marker is missing, the rest goes on unchanged.
std::string RemoveSections(std::string_view text, std::string_view open, std::string_view close) {
  std::string out;
  std::size_t pos = 0;
  for (;;) {
    const std::size_t start = text.find(open, pos);
    if (start == std::string_view::npos) break;
    const std::size_t end = text.find(close, start + open.size());
    if (end == std::string_view::npos) break;
    out.append(text.substr(pos, start - pos));
    pos = end + close.size();
  }
  out.append(text.substr(pos));
  return out;
}

}  // namespace

std::string StripHtml(std::string_view input) {
  std::string text = ReplaceAllNoCase(std::string(input), "<BR>", "\r\n");
  text = ReplaceAllNoCase(std::move(text), "<HR>", "\r\n");
  text = RemoveSections(text, "<z>", "</z>");
  text = RemoveSections(text, "<Z>", "</Z>");
  return RemoveSections(text, "<", ">");
}

std::vector<GradientBand> GradientBands(std::uint32_t fromRgb, std::uint32_t toRgb, int first, int last, int steps) {
  if (steps <= 0) steps = 1;
  const double bandSize = static_cast<double>(last - first) / steps;
  auto channel = [](std::uint32_t c, int shift) { return static_cast<int>((c >> shift) & 0xFF); };
  std::vector<GradientBand> bands;
  bands.reserve(static_cast<std::size_t>(steps));
  for (int i = 0; i < steps; ++i) {
    std::uint32_t color = 0;
    for (int shift : {0, 8, 16}) {
      const int from = channel(fromRgb, shift), to = channel(toRgb, shift);
      const int value = from + static_cast<int>(std::nearbyint(static_cast<double>(i) * (to - from) / steps));
      color |= static_cast<std::uint32_t>(value & 0xFF) << shift;
    }
    const long long offset = std::llrint(static_cast<double>(i) * bandSize);
    const int start = static_cast<int>(static_cast<std::uint16_t>(static_cast<long long>(first) + offset));
    const int end = std::min(start + static_cast<int>(bandSize) + 1, last);
    bands.push_back({color, start, end});
  }
  return bands;
}
