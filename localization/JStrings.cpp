#include "JStrings.h"

#include <charconv>

#include "SysUtils.h"

namespace {

std::string_view TrimView(std::string_view s) {
  std::size_t b = 0, e = s.size();
  while (b < e && static_cast<unsigned char>(s[b]) <= ' ') ++b;
  while (e > b && static_cast<unsigned char>(s[e - 1]) <= ' ') --e;
  return s.substr(b, e - b);
}

bool IsWildcard(char c) {
  return c == '*' || c == '?';
}

std::size_t NextWildcard(std::string_view mask, std::size_t from) {
  while (from < mask.size() && !IsWildcard(mask[from])) ++from;
  return from;
}

}  // namespace

bool ContainsLetters(std::string_view text) {
  for (char ch : text) {
    unsigned char c = static_cast<unsigned char>(ch);
    if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c >= 0x80) return true;
  }
  return false;
}

std::string SpacesString(int count) {
  return count < 1 ? std::string() : std::string(static_cast<std::size_t>(count), ' ');
}

int FindOccurrence(std::string_view sub, std::string_view text, int start, int n) {
  if (start < 1) start = 1;
  if (sub.empty() || text.empty() || text.size() < static_cast<std::size_t>(start)) return 0;
  int found = 0;
  for (std::size_t pos = static_cast<std::size_t>(start) - 1; pos + sub.size() <= text.size(); ++pos) {
    if (text.compare(pos, sub.size(), sub) == 0 && ++found >= n) return static_cast<int>(pos) + 1;
  }
  return 0;
}

int FindTextNoCase(std::string_view sub, std::string_view text) {
  std::string s = AnsiLowerCase(sub), t = AnsiLowerCase(text);
  std::size_t pos = t.find(s);
  return pos == std::string::npos ? 0 : static_cast<int>(pos) + 1;
}

std::string SubstituteAllText(std::string_view text, std::string_view oldText, std::string_view newText) {
  if (oldText.empty()) return std::string(text);
  std::string out;
  std::size_t pos = 0;
  for (;;) {
    std::size_t hit = text.find(oldText, pos);
    if (hit == std::string_view::npos) break;
    out.append(text.substr(pos, hit - pos)).append(newText);
    pos = hit + oldText.size();
  }
  out.append(text.substr(pos));
  return out;
}

std::string TextBeforeDelimiter(std::string_view delimiter, std::string_view text) {
  std::size_t pos = delimiter.empty() ? std::string_view::npos : text.find(delimiter);
  if (pos == std::string_view::npos) return std::string(text);
  return std::string(TrimView(text.substr(0, pos)));
}

int TextToIntOrZero(std::string_view text) {
  std::string_view t = TrimView(text);
  if (!t.empty() && t.front() == '+') t.remove_prefix(1);
  if (t.empty()) return 0;
  int value = 0;
  auto [end, ec] = std::from_chars(t.data(), t.data() + t.size(), value, 10);
  if (ec != std::errc() || end != t.data() + t.size()) return 0;
  return value;
}

int HexDigitValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  throw EJStringsError(std::string(1, c) + " is not a hex digit");
}

std::uint32_t HexTextToInt(std::string_view text) {
  std::string upper = AnsiUpperCase(text);
  std::uint32_t result = 0, weight = 1;
  for (std::size_t i = upper.size(); i-- > 0;) {
    result += static_cast<std::uint32_t>(HexDigitValue(upper[i])) * weight;
    weight *= 16;
  }
  return result;
}

std::string JoinWithSeparator(std::string_view first, std::string_view second, char separator) {
  if (first.empty()) return std::string(second);
  if (second.empty()) return std::string(first);
  bool firstHas = first.back() == separator;
  bool secondHas = second.front() == separator;
  std::string out(first);
  if (firstHas && secondHas)
    out.append(second.substr(1));
  else if (firstHas || secondHas)
    out.append(second);
  else
    out.append(1, separator).append(second);
  return out;
}

std::string ConcatPath(std::string_view first, std::string_view second) {
  return JoinWithSeparator(first, second, '\\');
}

std::string JoinWithDot(std::string_view first, std::string_view second) {
  if (first.empty()) return std::string(second);
  if (second.empty()) return std::string(first);
  std::string out(first);
  out.append(1, '.').append(second);
  return out;
}

std::string QuoteFormString(std::string_view text, char quote) {
  std::string out(1, quote);
  bool inQuote = true;
  for (char ch : text) {
    unsigned char c = static_cast<unsigned char>(ch);
    if (c < 32) {
      if (inQuote) {
        out.push_back(quote);
        inQuote = false;
      }
      out.push_back('#');
      out.append(std::to_string(c));
    } else {
      if (!inQuote) {
        out.push_back(quote);
        inQuote = true;
      }
      out.push_back(ch);
      if (ch == quote) out.push_back(quote);
    }
  }
  if (inQuote) out.push_back(quote);
  return out;
}

int IndexOfTextNoCase(const TStrings& list, std::string_view text) {
  for (int i = 0; i < list.Count(); ++i)
    if (AnsiCompareText(list.Get(i), text) == 0) return i;
  return -1;
}

int IndexOfTextNoCase(const std::vector<std::string>& list, std::string_view text) {
  for (std::size_t i = 0; i < list.size(); ++i)
    if (AnsiCompareText(list[i], text) == 0) return static_cast<int>(i);
  return -1;
}

void SplitAtSeparator(std::string_view separator, std::string_view text, std::string& before, std::string& after) {
  std::size_t pos = separator.empty() ? std::string_view::npos : text.find(separator);
  if (pos == std::string_view::npos) {
    before.clear();
    after.clear();
    return;
  }
  before.assign(text.substr(0, pos));
  after.assign(text.substr(pos + separator.size()));
}

bool TextInList(std::string_view text, const std::vector<std::string>& list) {
  return IndexOfTextNoCase(list, text) >= 0;
}

bool MatchMask(std::string_view text, std::string_view mask) {
  if (text.empty() && mask.empty()) return true;
  if (mask == "*") return true;
  std::size_t ti = 0, mi = 0;
  for (;;) {
    std::size_t w = NextWildcard(mask, mi);
    std::string_view piece = mask.substr(mi, w - mi);
    if (!piece.empty()) {
      if (ti > text.size() || text.substr(ti, piece.size()) != piece) return false;
      ti += piece.size();
    }
    mi = w;
    if (mi == mask.size()) return ti >= text.size();
    if (mask[mi] == '?') {
      ++ti;
      ++mi;
      continue;
    }
    // "*"
    if (mi + 1 == mask.size()) return true;
    std::size_t w2 = NextWildcard(mask, mi + 1);
    std::string_view next = mask.substr(mi + 1, w2 - mi - 1);
    if (next.empty() || ti > text.size()) return false;
    std::string_view restMask = mask.substr(w2);
    for (int n = 1;; ++n) {
      int pos = FindOccurrence(next, text, static_cast<int>(ti) + 1, n);
      if (pos == 0) return false;
      if (MatchMask(text.substr(static_cast<std::size_t>(pos) - 1 + next.size()), restMask)) return true;
    }
  }
}

bool MatchWildcard(std::string_view text, std::string_view mask, bool caseSensitive) {
  if (caseSensitive) return MatchMask(text, mask);
  return MatchMask(AnsiLowerCase(text), AnsiLowerCase(mask));
}
