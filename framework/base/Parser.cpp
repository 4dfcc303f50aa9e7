#include "Parser.h"

#include <cmath>
#include <cstdlib>
#include <limits>

#include "Extended.h"
#include "Streams.h"
#include "SysUtils.h"

FW_IMPLEMENT_CLASS(TParser)

namespace {

bool IsAlpha(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_';
}
bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}
int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

TParser::TParser(TStream& stream) {
  std::int64_t left = stream.Size() - stream.Position();
  text_ = stream.ReadBytes(left < 0 ? 0 : left);
  Start();
}

TParser::TParser(std::string text) : text_(std::move(text)) {
  Start();
}

void TParser::Start() {
  NextToken();
}

void TParser::Error(const std::string& message) const {
  throw EParserError(message + " on line " + std::to_string(tokenLine_));
}

char TParser::NextToken() {
  // blanks and control characters separate tokens; a NUL ends the text
  while (pos_ < text_.size() && text_[pos_] != '\0' && static_cast<unsigned char>(text_[pos_]) <= ' ') {
    if (text_[pos_] == '\n') ++line_;
    ++pos_;
  }
  tokenLine_ = line_;
  raw_.clear();
  units_.clear();
  rawMask_.clear();
  floatType_ = 0;
  if (pos_ >= text_.size() || text_[pos_] == '\0') return token_ = toEOF;
  char c = text_[pos_];
  if (IsAlpha(c)) {
    std::size_t start = pos_;
    while (pos_ < text_.size() && (IsAlpha(text_[pos_]) || IsDigit(text_[pos_]))) ++pos_;
    raw_ = text_.substr(start, pos_ - start);
    return token_ = toSymbol;
  }
  if (c == '#' || c == '\'') {
    bool wide = false;
    for (;;) {
      if (pos_ < text_.size() && text_[pos_] == '#') {
        ++pos_;
        std::uint32_t v = 0;
        std::size_t digits = 0;
        if (pos_ < text_.size() && text_[pos_] == '$') {
          ++pos_;
          while (pos_ < text_.size() && HexValue(text_[pos_]) >= 0) {
            v = v * 16 + static_cast<std::uint32_t>(HexValue(text_[pos_++]));
            if (v > 0xFFFF) Error("Invalid string constant");
            ++digits;
          }
        } else {
          while (pos_ < text_.size() && IsDigit(text_[pos_])) {
            v = v * 10 + static_cast<std::uint32_t>(text_[pos_++] - '0');
            if (v > 0xFFFF) Error("Invalid string constant");
            ++digits;
          }
        }
        if (digits == 0) Error("Invalid string constant");
        if (v > 255) wide = true;
        units_ += static_cast<char16_t>(v);
        rawMask_ += '\0';
      } else if (pos_ < text_.size() && text_[pos_] == '\'') {
        ++pos_;
        for (;;) {
          if (pos_ >= text_.size() || text_[pos_] == '\r' || text_[pos_] == '\n' || text_[pos_] == '\0')
            Error("Unterminated string");
          char ch = text_[pos_++];
          if (ch == '\'') {
            if (pos_ < text_.size() && text_[pos_] == '\'') {
              ++pos_;
            } else {
              break;
            }
          }
          units_ += static_cast<char16_t>(static_cast<unsigned char>(ch));
          rawMask_ += '\1';
        }
      } else {
        break;
      }
    }
    return token_ = wide ? toWString : toString;
  }
  if (c == '$') {
    ++pos_;
    std::size_t start = pos_;
    std::uint64_t v = 0;
    while (pos_ < text_.size() && HexValue(text_[pos_]) >= 0) {
      if (pos_ - start >= 16) Error("Invalid integer value");
      v = v * 16 + static_cast<std::uint64_t>(HexValue(text_[pos_++]));
    }
    if (pos_ == start) Error("Invalid integer value");
    raw_ = text_.substr(start - 1, pos_ - start + 1);
    int_ = static_cast<std::int64_t>(v);
    return token_ = toInteger;
  }
  if (IsDigit(c) || (c == '-' && pos_ + 1 < text_.size() && IsDigit(text_[pos_ + 1]))) {
    std::size_t start = pos_;
    ++pos_;
    while (pos_ < text_.size() && IsDigit(text_[pos_])) ++pos_;
    bool isFloat = false;
    if (pos_ + 1 < text_.size() && text_[pos_] == '.' && IsDigit(text_[pos_ + 1])) {
      isFloat = true;
      ++pos_;
      while (pos_ < text_.size() && IsDigit(text_[pos_])) ++pos_;
    }
    if (pos_ < text_.size() && (text_[pos_] == 'e' || text_[pos_] == 'E')) {
      std::size_t save = pos_;
      ++pos_;
      if (pos_ < text_.size() && (text_[pos_] == '+' || text_[pos_] == '-')) ++pos_;
      if (pos_ < text_.size() && IsDigit(text_[pos_])) {
        isFloat = true;
        while (pos_ < text_.size() && IsDigit(text_[pos_])) ++pos_;
      } else {
        pos_ = save;
      }
    }
    raw_ = text_.substr(start, pos_ - start);
    if (pos_ < text_.size()) {
      char s = text_[pos_];
      if (s == 'c' || s == 'C' || s == 'd' || s == 'D' || s == 's' || s == 'S') {
        floatType_ = static_cast<char>(s | 0x20);
        isFloat = true;
        ++pos_;
      }
    }
    if (isFloat) {
      if (floatType_ == 0) {  // extended: read exactly, to all 64 bits
        if (!TryTextToExtended(raw_, extended_)) Error("Invalid floating point value: " + raw_);
        float_ = ExtendedToDouble(extended_);
      } else {
        float_ = std::strtod(raw_.c_str(), nullptr);
        if (!std::isfinite(float_)) Error("Invalid floating point value: " + raw_);
      }
      return token_ = toFloat;
    }
    std::int64_t v;
    if (!TryStrToInt64(raw_, v)) Error("Invalid integer value: " + raw_);
    int_ = v;
    return token_ = toInteger;
  }
  ++pos_;
  raw_.assign(1, c);
  return token_ = c;
}

std::string TParser::TokenString() const {
  if (token_ != toString && token_ != toWString) return raw_;
  if (token_ == toWString) return WideToAnsi(TokenWideString());
  std::string s;
  s.reserve(units_.size());
  for (char16_t u : units_) s += static_cast<char>(u);
  return s;
}

WideString TParser::TokenWideString() const {
  if (token_ != toString && token_ != toWString) return AnsiToWide(raw_);
  WideString w;
  w.reserve(units_.size());
  for (std::size_t i = 0; i < units_.size(); ++i) {
    if (rawMask_[i] && units_[i] >= 0x80)
      w += AnsiToWide(std::string(1, static_cast<char>(units_[i])));
    else
      w += units_[i];
  }
  return w;
}

bool TParser::TokenSymbolIs(std::string_view s) const {
  return token_ == toSymbol && SameText(raw_, s);
}

std::string TParser::TokenComponentIdent() {
  CheckToken(toSymbol);
  std::string ident = raw_;
  while (pos_ < text_.size() && text_[pos_] == '.') {
    ++pos_;
    NextToken();
    CheckToken(toSymbol);
    ident += "." + raw_;
  }
  return ident;
}

void TParser::CheckToken(char t) {
  if (token_ == t) return;
  switch (t) {
    case toSymbol:
      Error("Identifier expected");
    case toString:
    case toWString:
      Error("String expected");
    case toInteger:
    case toFloat:
      Error("Number expected");
    default:
      Error(std::string("'") + t + "' expected");
  }
}

void TParser::CheckTokenSymbol(std::string_view s) {
  if (!TokenSymbolIs(s)) Error(std::string(s) + " expected");
}

std::string TParser::HexToBinary() {
  std::string out;
  int pending = -1;
  for (;;) {
    if (pos_ >= text_.size() || text_[pos_] == '\0') Error("Invalid binary value");
    char c = text_[pos_++];
    if (c == '}') break;
    if (static_cast<unsigned char>(c) <= ' ') {
      if (c == '\n') ++line_;
      continue;
    }
    int v = HexValue(c);
    if (v < 0) Error("Invalid binary value");
    if (pending < 0) {
      pending = v;
    } else {
      out += static_cast<char>(pending * 16 + v);
      pending = -1;
    }
  }
  if (pending >= 0) Error("Invalid binary value");
  token_ = '}';
  tokenLine_ = line_;
  return out;
}

char TParser::SkipLine() {
  while (pos_ < text_.size() && text_[pos_] != '\0' && text_[pos_] != '\n') ++pos_;
  if (pos_ < text_.size() && text_[pos_] == '\n') {
    ++pos_;
    ++line_;
  }
  return NextToken();
}
