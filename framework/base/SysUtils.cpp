#include "SysUtils.h"

#include <cerrno>
#include <charconv>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

char DecimalSeparator = '.';

namespace {

[[noreturn]] void BadFormat(std::string_view format) {
  throw EConvertError("Format '" + std::string(format) + "' invalid or incompatible with argument");
}

std::string Pad(std::string body, std::size_t width, bool left) {
  if (body.size() >= width) return body;
  std::string fill(width - body.size(), ' ');
  return left ? body + fill : fill + body;
}

std::string WithThousands(const std::string& digits) {
  // digits: optional '-' then integer part, optional fraction
  std::size_t start = digits[0] == '-' ? 1 : 0;
  std::size_t dot = digits.find('.');
  std::size_t intEnd = dot == std::string::npos ? digits.size() : dot;
  std::string out = digits.substr(0, start);
  for (std::size_t i = start; i < intEnd; ++i) {
    out += digits[i];
    std::size_t rest = intEnd - i - 1;
    if (rest > 0 && rest % 3 == 0) out += ',';
  }
  out += digits.substr(intEnd);
  return out;
}

std::string LocalDecimal(std::string s) {
  if (DecimalSeparator != '.')
    for (char& c : s)
      if (c == '.') c = DecimalSeparator;
  return s;
}

const char16_t kCp1252High[32] = {0x20AC, 0xFFFD, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                                  0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0xFFFD, 0x017D, 0xFFFD,
                                  0xFFFD, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                                  0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0xFFFD, 0x017E, 0x0178};

unsigned char FoldAnsi(unsigned char c) {
  if (c >= 'a' && c <= 'z') return static_cast<unsigned char>(c - 32);
  if (c >= 0xE0 && c <= 0xFE && c != 0xF7) return static_cast<unsigned char>(c - 32);
  if (c == 0x9A || c == 0x9C || c == 0x9E) return static_cast<unsigned char>(c - 16);
  if (c == 0xFF) return 0x9F;
  return c;
}

// Like the system's locale comparison: letters compare without case first;
// only when the texts are otherwise equal does case decide (lower case first).
int DefaultLocaleCompare(std::string_view a, std::string_view b, bool ignoreCase) {
  std::size_t n = std::min(a.size(), b.size());
  for (std::size_t i = 0; i < n; ++i) {
    unsigned char x = FoldAnsi(static_cast<unsigned char>(a[i])), y = FoldAnsi(static_cast<unsigned char>(b[i]));
    if (x != y) return x < y ? -1 : 1;
  }
  if (a.size() != b.size()) return a.size() < b.size() ? -1 : 1;
  if (ignoreCase) return 0;
  for (std::size_t i = 0; i < n; ++i) {
    unsigned char x = static_cast<unsigned char>(a[i]), y = static_cast<unsigned char>(b[i]);
    if (x != y) return x > y ? -1 : 1;  // the lower-case letter has the higher code and sorts first
  }
  return 0;
}

bool IsDelimiter(char c) {
  return c == '\\' || c == '/' || c == ':';
}

std::size_t LastDelimiter(std::string_view name) {
  for (std::size_t i = name.size(); i > 0; --i)
    if (IsDelimiter(name[i - 1])) return i - 1;
  return std::string_view::npos;
}

}  // namespace

LocaleCompareFunc AnsiCompareHook = DefaultLocaleCompare;

std::string FormatV(std::string_view format, const std::vector<TVarRec>& args) {
  std::string out;
  std::size_t next = 0;
  std::size_t i = 0;
  auto takeInt = [&]() -> int {
    if (next >= args.size() || args[next].kind != TVarRec::Kind::Int) BadFormat(format);
    return static_cast<int>(args[next++].i);
  };
  while (i < format.size()) {
    char c = format[i++];
    if (c != '%') {
      out += c;
      continue;
    }
    if (i >= format.size()) BadFormat(format);
    if (format[i] == '%') {
      out += '%';
      ++i;
      continue;
    }
    // [index:]
    std::size_t j = i;
    int number = -1;
    auto readNumber = [&](std::size_t& k) -> int {
      if (k < format.size() && format[k] == '*') {
        ++k;
        return takeInt();
      }
      if (k >= format.size() || format[k] < '0' || format[k] > '9') return -1;
      int v = 0;
      while (k < format.size() && format[k] >= '0' && format[k] <= '9') {
        v = v * 10 + (format[k++] - '0');
        if (v > 100000) BadFormat(format);
      }
      return v;
    };
    std::size_t k = j;
    if (k < format.size() && format[k] >= '0' && format[k] <= '9') {
      std::size_t save = k;
      number = readNumber(k);
      if (k < format.size() && format[k] == ':') {
        if (static_cast<std::size_t>(number) >= args.size()) BadFormat(format);
        next = static_cast<std::size_t>(number);
        ++k;
      } else {
        k = save;
      }
    }
    bool left = false;
    if (k < format.size() && format[k] == '-') {
      left = true;
      ++k;
    }
    int width = readNumber(k);
    int prec = -1;
    if (k < format.size() && format[k] == '.') {
      ++k;
      prec = readNumber(k);
      if (prec < 0) prec = 0;
    }
    if (k >= format.size()) BadFormat(format);
    char type = format[k++];
    i = k;
    if (next >= args.size()) BadFormat(format);
    const TVarRec& a = args[next++];
    std::string body;
    char buf[512];
    switch (type) {
      case 'd':
      case 'D':
        if (a.kind != TVarRec::Kind::Int && a.kind != TVarRec::Kind::UInt) BadFormat(format);
        body = a.kind == TVarRec::Kind::UInt ? std::to_string(static_cast<std::uint64_t>(a.i)) : std::to_string(a.i);
        if (prec > 0) {
          bool neg = body[0] == '-';
          std::string digits = neg ? body.substr(1) : body;
          if (digits.size() < static_cast<std::size_t>(prec)) digits.insert(0, prec - digits.size(), '0');
          body = (neg ? "-" : "") + digits;
        }
        break;
      case 'u':
      case 'U':
        if (a.kind != TVarRec::Kind::Int && a.kind != TVarRec::Kind::UInt) BadFormat(format);
        body = std::to_string(a.kind == TVarRec::Kind::Int ? static_cast<std::uint32_t>(a.i)
                                                           : static_cast<std::uint64_t>(a.i));
        if (prec > 0 && body.size() < static_cast<std::size_t>(prec)) body.insert(0, prec - body.size(), '0');
        break;
      case 'x':
      case 'X': {
        if (a.kind != TVarRec::Kind::Int && a.kind != TVarRec::Kind::UInt) BadFormat(format);
        std::uint64_t v = static_cast<std::uint64_t>(a.i);
        if (a.kind == TVarRec::Kind::Int && a.i < 0 && a.i >= INT32_MIN) v &= 0xFFFFFFFFu;
        std::snprintf(buf, sizeof buf, "%llX", static_cast<unsigned long long>(v));
        body = buf;
        if (prec > 0 && body.size() < static_cast<std::size_t>(prec)) body.insert(0, prec - body.size(), '0');
        break;
      }
      case 'e':
      case 'E':
      case 'f':
      case 'F':
      case 'g':
      case 'G':
      case 'n':
      case 'N':
      case 'm':
      case 'M': {
        double v;
        if (a.kind == TVarRec::Kind::Float)
          v = a.f;
        else if (a.kind == TVarRec::Kind::Int)
          v = static_cast<double>(a.i);
        else
          BadFormat(format);
        char t = static_cast<char>(type | 0x20);
        if (t == 'e') {
          std::snprintf(buf, sizeof buf, "%.*E", prec < 0 ? 14 : std::max(prec - 1, 0), v);
        } else if (t == 'g') {
          std::snprintf(buf, sizeof buf, "%.*G", prec < 0 ? 15 : std::max(prec, 1), v);
        } else {
          std::snprintf(buf, sizeof buf, "%.*f", prec < 0 ? 2 : std::min(prec, 18), v);
        }
        body = buf;
        if (t == 'n' || t == 'm') body = WithThousands(body);
        body = LocalDecimal(body);
        break;
      }
      case 'p':
      case 'P':
        if (a.kind != TVarRec::Kind::Ptr) BadFormat(format);
        std::snprintf(buf, sizeof buf, "%0*llX", static_cast<int>(sizeof(void*) * 2),
                      static_cast<unsigned long long>(reinterpret_cast<std::uintptr_t>(a.p)));
        body = buf;
        break;
      case 's':
      case 'S':
        if (a.kind != TVarRec::Kind::Str && a.kind != TVarRec::Kind::Char) BadFormat(format);
        body = a.s;
        if (prec >= 0 && body.size() > static_cast<std::size_t>(prec)) body.resize(prec);
        break;
      case 'c':
      case 'C':
        if (a.kind != TVarRec::Kind::Char && a.kind != TVarRec::Kind::Int) BadFormat(format);
        body = a.kind == TVarRec::Kind::Char ? a.s : std::string(1, static_cast<char>(a.i));
        break;
      default:
        BadFormat(format);
    }
    out += Pad(std::move(body), width < 0 ? 0 : static_cast<std::size_t>(width), left);
  }
  return out;
}

std::string IntToStr(std::int64_t value) {
  return std::to_string(value);
}

std::string IntToHex(std::uint64_t value, int digits) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%0*llX", std::max(0, std::min(digits, 16)), static_cast<unsigned long long>(value));
  return buf;
}

bool TryStrToInt64(std::string_view text, std::int64_t& value) {
  std::size_t i = 0, n = text.size();
  while (i < n && (text[i] == ' ' || text[i] == '\t')) ++i;
  while (n > i && (text[n - 1] == ' ' || text[n - 1] == '\t')) --n;
  bool neg = false;
  if (i < n && (text[i] == '+' || text[i] == '-')) neg = text[i++] == '-';
  int base = 10;
  if (i < n && text[i] == '$') {
    base = 16;
    ++i;
  } else if (n - i > 2 && text[i] == '0' && (text[i + 1] == 'x' || text[i + 1] == 'X')) {
    base = 16;
    i += 2;
  }
  if (i >= n) return false;
  std::uint64_t v = 0;
  auto [ptr, ec] = std::from_chars(text.data() + i, text.data() + n, v, base);
  if (ec != std::errc() || ptr != text.data() + n) return false;
  if (base == 16) {
    // hexadecimal text may spell the bit pattern of a negative number
    // (negated in 64 bits without sign, so "-$8000000000000000" is the smallest number, not an overflow)
    value = static_cast<std::int64_t>(neg ? 0 - v : v);
    return true;
  }
  if (neg) {
    if (v > static_cast<std::uint64_t>(INT64_MAX) + 1) return false;
    value = static_cast<std::int64_t>(0 - v);
  } else {
    if (v > static_cast<std::uint64_t>(INT64_MAX)) return false;
    value = static_cast<std::int64_t>(v);
  }
  return true;
}

bool TryStrToInt(std::string_view text, int& value) {
  std::int64_t v;
  if (!TryStrToInt64(text, v)) return false;
  bool hex = text.find('$') != std::string_view::npos || text.find("0x") != std::string_view::npos ||
             text.find("0X") != std::string_view::npos;
  if (hex && v >= 0 && v <= 0xFFFFFFFFLL) {
    value = static_cast<int>(static_cast<std::uint32_t>(v));
    return true;
  }
  if (v < INT32_MIN || v > INT32_MAX) return false;
  value = static_cast<int>(v);
  return true;
}

int StrToInt(std::string_view text) {
  int v;
  if (!TryStrToInt(text, v)) throw EConvertError("'" + std::string(text) + "' is not a valid integer value");
  return v;
}

std::int64_t StrToInt64(std::string_view text) {
  std::int64_t v;
  if (!TryStrToInt64(text, v)) throw EConvertError("'" + std::string(text) + "' is not a valid integer value");
  return v;
}

int StrToIntDef(std::string_view text, int fallback) {
  int v;
  return TryStrToInt(text, v) ? v : fallback;
}

std::string FloatToStr(double value) {
  if (std::isnan(value)) return "NAN";
  if (std::isinf(value)) return value < 0 ? "-INF" : "INF";
  char buf[64];
  for (int prec = 15; prec <= 17; ++prec) {
    std::snprintf(buf, sizeof buf, "%.*G", prec, value);
    if (std::strtod(buf, nullptr) == value) break;
  }
  return LocalDecimal(buf);
}

bool TryStrToFloat(std::string_view text, double& value) {
  std::string s = Trim(text);
  if (s.empty()) return false;
  for (char& c : s)
    if (c == DecimalSeparator) c = '.';
  for (char c : s)
    if (!((c >= '0' && c <= '9') || c == '.' || c == '+' || c == '-' || c == 'e' || c == 'E')) return false;
  char* end = nullptr;
  errno = 0;
  double v = std::strtod(s.c_str(), &end);
  if (end != s.c_str() + s.size() || errno == ERANGE) return false;
  value = v;
  return true;
}

double StrToFloat(std::string_view text) {
  double v;
  if (!TryStrToFloat(text, v)) throw EConvertError("'" + std::string(text) + "' is not a valid floating point value");
  return v;
}

std::string UpperCase(std::string_view s) {
  std::string r(s);
  for (char& c : r)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 32);
  return r;
}

std::string LowerCase(std::string_view s) {
  std::string r(s);
  for (char& c : r)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
  return r;
}

int CompareStr(std::string_view a, std::string_view b) {
  int r = a.compare(b);
  return r < 0 ? -1 : r > 0 ? 1 : 0;
}

int CompareText(std::string_view a, std::string_view b) {
  std::size_t n = std::min(a.size(), b.size());
  for (std::size_t i = 0; i < n; ++i) {
    unsigned char x = static_cast<unsigned char>(a[i]), y = static_cast<unsigned char>(b[i]);
    if (x >= 'a' && x <= 'z') x = static_cast<unsigned char>(x - 32);
    if (y >= 'a' && y <= 'z') y = static_cast<unsigned char>(y - 32);
    if (x != y) return x < y ? -1 : 1;
  }
  return a.size() < b.size() ? -1 : a.size() > b.size() ? 1 : 0;
}

bool SameText(std::string_view a, std::string_view b) {
  return a.size() == b.size() && CompareText(a, b) == 0;
}

int AnsiCompareText(std::string_view a, std::string_view b) {
  return AnsiCompareHook(a, b, true);
}
int AnsiCompareStr(std::string_view a, std::string_view b) {
  return AnsiCompareHook(a, b, false);
}
bool AnsiSameText(std::string_view a, std::string_view b) {
  return AnsiCompareText(a, b) == 0;
}

std::string AnsiUpperCase(std::string_view s) {
  std::string r(s);
  for (char& c : r) c = static_cast<char>(FoldAnsi(static_cast<unsigned char>(c)));
  return r;
}

std::string AnsiLowerCase(std::string_view s) {
  std::string r(s);
  for (char& c : r) {
    unsigned char u = static_cast<unsigned char>(c);
    if ((u >= 'A' && u <= 'Z') || (u >= 0xC0 && u <= 0xDE && u != 0xD7))
      u = static_cast<unsigned char>(u + 32);
    else if (u == 0x8A || u == 0x8C || u == 0x8E)
      u = static_cast<unsigned char>(u + 16);
    else if (u == 0x9F)
      u = 0xFF;
    c = static_cast<char>(u);
  }
  return r;
}

std::string Trim(std::string_view s) {
  return TrimLeft(TrimRight(s));
}

std::string TrimLeft(std::string_view s) {
  std::size_t i = 0;
  while (i < s.size() && static_cast<unsigned char>(s[i]) <= ' ') ++i;
  return std::string(s.substr(i));
}

std::string TrimRight(std::string_view s) {
  std::size_t n = s.size();
  while (n > 0 && static_cast<unsigned char>(s[n - 1]) <= ' ') --n;
  return std::string(s.substr(0, n));
}

std::string QuotedStr(std::string_view s) {
  std::string r = "'";
  for (char c : s) {
    r += c;
    if (c == '\'') r += '\'';
  }
  return r + "'";
}

std::string StringReplaceAll(std::string_view s, std::string_view from, std::string_view to) {
  if (from.empty()) return std::string(s);
  std::string r;
  std::size_t pos = 0;
  for (;;) {
    std::size_t hit = s.find(from, pos);
    if (hit == std::string_view::npos) break;
    r.append(s.substr(pos, hit - pos));
    r.append(to);
    pos = hit + from.size();
  }
  r.append(s.substr(pos));
  return r;
}

std::string ExtractFilePath(std::string_view name) {
  std::size_t d = LastDelimiter(name);
  return d == std::string_view::npos ? std::string() : std::string(name.substr(0, d + 1));
}

std::string ExtractFileDir(std::string_view name) {
  std::size_t d = LastDelimiter(name);
  if (d == std::string_view::npos) return {};
  if (d > 0 && name[d] != ':' && !IsDelimiter(name[d - 1])) return std::string(name.substr(0, d));
  return std::string(name.substr(0, d + 1));
}

std::string ExtractFileName(std::string_view name) {
  std::size_t d = LastDelimiter(name);
  return std::string(d == std::string_view::npos ? name : name.substr(d + 1));
}

std::string ExtractFileExt(std::string_view name) {
  for (std::size_t i = name.size(); i > 0; --i) {
    char c = name[i - 1];
    if (c == '.') return std::string(name.substr(i - 1));
    if (IsDelimiter(c)) break;
  }
  return {};
}

std::string ChangeFileExt(std::string_view name, std::string_view ext) {
  std::size_t extLen = ExtractFileExt(name).size();
  return std::string(name.substr(0, name.size() - extLen)) + std::string(ext);
}

std::string IncludeTrailingPathDelimiter(std::string_view path) {
  std::string r(path);
  if (r.empty() || (r.back() != '\\' && r.back() != '/')) r += '\\';
  return r;
}

std::string ExcludeTrailingPathDelimiter(std::string_view path) {
  std::string r(path);
  if (!r.empty() && (r.back() == '\\' || r.back() == '/')) r.pop_back();
  return r;
}

WideString Utf8ToWide(std::string_view s) {
  WideString out;
  std::size_t i = 0;
  while (i < s.size()) {
    unsigned char c = static_cast<unsigned char>(s[i]);
    std::uint32_t cp;
    std::size_t len;
    if (c < 0x80)
      cp = c, len = 1;
    else if ((c & 0xE0) == 0xC0)
      cp = c & 0x1F, len = 2;
    else if ((c & 0xF0) == 0xE0)
      cp = c & 0x0F, len = 3;
    else if ((c & 0xF8) == 0xF0)
      cp = c & 0x07, len = 4;
    else {
      out += u'\xFFFD';
      ++i;
      continue;
    }
    bool ok = i + len <= s.size();
    for (std::size_t k = 1; ok && k < len; ++k) {
      unsigned char d = static_cast<unsigned char>(s[i + k]);
      if ((d & 0xC0) != 0x80)
        ok = false;
      else
        cp = (cp << 6) | (d & 0x3F);
    }
    static const std::uint32_t kMin[] = {0, 0, 0x80, 0x800, 0x10000};
    if (!ok || cp < kMin[len] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
      out += u'\xFFFD';
      ++i;
      continue;
    }
    if (cp >= 0x10000) {
      cp -= 0x10000;
      out += static_cast<char16_t>(0xD800 + (cp >> 10));
      out += static_cast<char16_t>(0xDC00 + (cp & 0x3FF));
    } else {
      out += static_cast<char16_t>(cp);
    }
    i += len;
  }
  return out;
}

std::string WideToUtf8(const WideString& s) {
  std::string out;
  for (std::size_t i = 0; i < s.size(); ++i) {
    std::uint32_t cp = s[i];
    if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < s.size() && s[i + 1] >= 0xDC00 && s[i + 1] <= 0xDFFF) {
      cp = 0x10000 + ((cp - 0xD800) << 10) + (s[i + 1] - 0xDC00);
      ++i;
    } else if (cp >= 0xD800 && cp <= 0xDFFF) {
      cp = 0xFFFD;
    }
    if (cp < 0x80) {
      out += static_cast<char>(cp);
    } else if (cp < 0x800) {
      out += static_cast<char>(0xC0 | (cp >> 6));
      out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
      out += static_cast<char>(0xE0 | (cp >> 12));
      out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | (cp >> 18));
      out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
      out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (cp & 0x3F));
    }
  }
  return out;
}

WideString AnsiToWide(std::string_view s) {
  WideString out;
  out.reserve(s.size());
  for (char ch : s) {
    unsigned char c = static_cast<unsigned char>(ch);
    out += (c >= 0x80 && c < 0xA0) ? kCp1252High[c - 0x80] : static_cast<char16_t>(c);
  }
  return out;
}

std::string WideToAnsi(const WideString& s) {
  std::string out;
  out.reserve(s.size());
  for (char16_t w : s) {
    if (w < 0x80 || (w >= 0xA0 && w <= 0xFF)) {
      out += static_cast<char>(w);
      continue;
    }
    char mapped = '?';
    for (int k = 0; k < 32; ++k)
      if (kCp1252High[k] == w && w != 0xFFFD) mapped = static_cast<char>(0x80 + k);
    out += mapped;
  }
  return out;
}

// --- dates and times ---------------------------------------------------------------------------

std::string LongTimeFormat = "hh:nn:ss";

namespace {

bool IsLeap(int y) {
  return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
}

// Days from 0001-01-01 to the given date (proleptic Gregorian).
long long DaysFromCivil(int y, int m, int d) {
  static const int before[] = {0, 31, 59, 90, 120, 151, 181, 212, 243, 273, 304, 334};
  long long yy = y - 1;
  long long days = yy * 365 + yy / 4 - yy / 100 + yy / 400 + before[m - 1] + (d - 1);
  if (m > 2 && IsLeap(y)) ++days;
  return days;
}

// Day 0 of TDateTime: the OLE Automation date's day zero, 30 December 1899.
const long long kOleDateDayZero = DaysFromCivil(1899, 12, 30);

}  // namespace

TDateTime EncodeDate(int year, int month, int day) {
  static const int len[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (year < 1 || year > 9999 || month < 1 || month > 12 || day < 1 ||
      day > len[month - 1] + (month == 2 && IsLeap(year) ? 1 : 0))
    throw EConvertError("Invalid argument to date encode");
  return static_cast<double>(DaysFromCivil(year, month, day) - kOleDateDayZero);
}

TDateTime EncodeTime(int hour, int minute, int second, int msec) {
  if (hour < 0 || hour > 23 || minute < 0 || minute > 59 || second < 0 || second > 59 || msec < 0 || msec > 999)
    throw EConvertError("Invalid argument to time encode");
  return (hour * 3600000.0 + minute * 60000.0 + second * 1000.0 + msec) / 86400000.0;
}

void DecodeDate(TDateTime value, int& year, int& month, int& day) {
  long long days = static_cast<long long>(std::floor(value)) + kOleDateDayZero;
  if (days < 0 || days >= DaysFromCivil(10000, 1, 1)) {
    year = month = day = 0;
    return;
  }
  int y = static_cast<int>(days / 366) + 1;
  while (DaysFromCivil(y + 1, 1, 1) <= days) ++y;
  int m = 1;
  while (m < 12 && DaysFromCivil(y, m + 1, 1) <= days) ++m;
  year = y;
  month = m;
  day = static_cast<int>(days - DaysFromCivil(y, m, 1)) + 1;
}

void DecodeTime(TDateTime value, int& hour, int& minute, int& second, int& msec) {
  double frac = value - std::floor(value);
  long long ms = static_cast<long long>(std::llround(frac * 86400000.0));
  if (ms >= 86400000) ms = 86399999;
  hour = static_cast<int>(ms / 3600000);
  minute = static_cast<int>(ms / 60000 % 60);
  second = static_cast<int>(ms / 1000 % 60);
  msec = static_cast<int>(ms % 1000);
}

std::tm LocalTime(std::time_t t) {
  std::tm local{};
#if defined(_WIN32)
  localtime_s(&local, &t);
#else
  localtime_r(&t, &local);
#endif
  return local;
}

TDateTime Now() {
  auto now = std::chrono::system_clock::now();
  std::time_t t = std::chrono::system_clock::to_time_t(now);
  int millis =
      static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000);
  if (millis < 0) millis += 1000;
  const std::tm local = LocalTime(t);
  return EncodeDate(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday) +
         EncodeTime(local.tm_hour, local.tm_min, std::min(local.tm_sec, 59), millis);
}

std::string FormatTime(std::string_view format, TDateTime value) {
  int h, n, sec, ms;
  DecodeTime(value, h, n, sec, ms);
  bool twelve = false;
  for (std::size_t i = 0; i + 1 < format.size(); ++i)
    if ((format[i] == 'A' || format[i] == 'a') && (format.substr(i, 5) == "AM/PM" || format.substr(i, 5) == "am/pm"))
      twelve = true;
  auto two = [](int v) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "%02d", v);
    return std::string(buf);
  };
  std::string out;
  std::size_t i = 0;
  while (i < format.size()) {
    char c = format[i];
    auto run = [&](char ch) {
      std::size_t k = i;
      while (k < format.size() && (format[k] | 0x20) == ch) ++k;
      std::size_t len = k - i;
      i = k;
      return len;
    };
    switch (c | 0x20) {
      case 'h': {
        int hh = twelve ? (h % 12 == 0 ? 12 : h % 12) : h;
        out += run('h') >= 2 ? two(hh) : std::to_string(hh);
        break;
      }
      case 'n':
        out += run('n') >= 2 ? two(n) : std::to_string(n);
        break;
      case 's':
        out += run('s') >= 2 ? two(sec) : std::to_string(sec);
        break;
      case 'z': {
        std::size_t len = run('z');
        std::string z = std::to_string(ms);
        if (len >= 3) z.insert(0, 3 - z.size(), '0');
        out += z;
        break;
      }
      case 'a':
        if (format.substr(i, 5) == "AM/PM" || format.substr(i, 5) == "am/pm") {
          bool upper = format[i] == 'A';
          out += h < 12 ? (upper ? "AM" : "am") : (upper ? "PM" : "pm");
          i += 5;
        } else {
          out += c;
          ++i;
        }
        break;
      case '\'':
      case '"': {
        char quote = c;
        std::size_t end = format.find(quote, i + 1);
        if (end == std::string_view::npos) end = format.size();
        out += std::string(format.substr(i + 1, end - i - 1));
        i = end + 1;
        break;
      }
      default:
        out += c;
        ++i;
        break;
    }
  }
  return out;
}

std::string TimeToStr(TDateTime value) {
  return FormatTime(LongTimeFormat, value);
}

int Win32Platform = 0;
int Win32MajorVersion = 0;
int Win32MinorVersion = 0;

bool IsNTVersionAtLeast(int major, int minor) {
  if (Win32Platform != PlatformNT) return false;
  return Win32MajorVersion > major || (Win32MajorVersion == major && Win32MinorVersion >= minor);
}
