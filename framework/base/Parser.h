// The tokenizer of the form text. Tokens: toEOF, toSymbol (identifiers),
// toString / toWString (quoted runs and #n codes; a code above 255 makes the
// string wide), toInteger (decimal, or hexadecimal after $), toFloat (with
// "." or an exponent, and an optional suffix c, d or s; without a suffix the
// value must fit an extended float), and any other character as itself.
// Errors raise EParserError "<message> on line <n>".
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "Extended.h"
#include "Object.h"
#include "Types.h"

class TStream;

constexpr char toEOF = 0;
constexpr char toSymbol = 1;
constexpr char toString = 2;
constexpr char toInteger = 3;
constexpr char toFloat = 4;
constexpr char toWString = 5;

class TParser : public TObject {
  FW_CLASS(TParser, TObject)
 public:
  explicit TParser(TStream& stream);  // reads the stream from its position to the end
  explicit TParser(std::string text);

  char Token() const { return token_; }
  char NextToken();
  int SourceLine() const { return tokenLine_; }

  std::string TokenString() const;     // a symbol's or number's text, or a string's ANSI value
  WideString TokenWideString() const;  // a string's value as UTF-16
  std::int64_t TokenInt() const { return int_; }
  double TokenFloat() const { return float_; }  // the nearest double (an infinity beyond its range)
  // A float without suffix as the extended value nearest to its text.
  const TExtended& TokenExtended() const { return extended_; }
  char FloatType() const { return floatType_; }  // 'c', 'd', 's' (lower case) or 0
  bool TokenSymbolIs(std::string_view s) const;
  // The symbol with any ".Name" parts that follow; leaves the last part as the token.
  std::string TokenComponentIdent();

  void CheckToken(char t);
  void CheckTokenSymbol(std::string_view s);
  [[noreturn]] void Error(const std::string& message) const;
  // After a '{' token: reads hexadecimal digit pairs (blanks allowed) up to '}', which becomes the token.
  std::string HexToBinary();
  // Gives up the rest of the line the reading stands on (also after an error): the next token is
  // the first one on a later line, or toEOF. Always moves forward.
  char SkipLine();

 private:
  void Start();
  std::string text_;
  std::size_t pos_ = 0;
  int line_ = 1;
  int tokenLine_ = 1;
  char token_ = toEOF;
  std::string raw_;       // symbol/number text
  std::u16string units_;  // string value: units; raw quoted bytes stay bytes
  std::string rawMask_;   // per unit: 1 when it is a raw byte from a quoted run
  std::int64_t int_ = 0;
  double float_ = 0;
  TExtended extended_;
  char floatType_ = 0;
};
