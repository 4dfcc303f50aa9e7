// The 80-bit extended float that form streams store (value code vaExtended):
// ten bytes, little-endian, holding a 64-bit significand with an explicit
// integer bit (bytes 0-7), then a 15-bit exponent biased by 16383 and the sign
// (bytes 8-9). Exponent field 0 holds zero and the denormals, whose value is
// significand * 2^-16445; 0x7FFF holds infinities and NaNs.
//
// The value is handled as bits, never through the host's long double: decimal
// text is converted with integer arithmetic of its own, so every build reads
// and writes the same bytes.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

struct TExtended {
  std::uint64_t mantissa = 0;  // the significand, integer bit (bit 63) included
  std::uint16_t signExp = 0;   // sign (bit 15) and biased exponent

  static TExtended FromBytes(const std::uint8_t in[10]);
  void ToBytes(std::uint8_t out[10]) const;
  bool IsFinite() const { return (signExp & 0x7FFF) != 0x7FFF; }
  bool IsNegative() const { return (signExp & 0x8000) != 0; }
  bool operator==(const TExtended& other) const { return mantissa == other.mantissa && signExp == other.signExp; }
  bool operator!=(const TExtended& other) const { return !(*this == other); }
};

// Exact: every double is an extended value.
TExtended DoubleToExtended(double value);
// The nearest double, ties to even; beyond the double range, an infinity of the same sign.
double ExtendedToDouble(const TExtended& value);

// Decimal text to the nearest extended value, ties to even. The text is
// "[+|-]digits[.digits][(E|e)[+|-]digits]" (digits may stand on one side of
// the point only) with nothing around it. Returns false for other text and for
// a magnitude that rounds beyond the largest finite value; a magnitude below
// half the smallest denormal gives a zero of the text's sign.
bool TryTextToExtended(std::string_view text, TExtended& out);

// The shortest decimal text that TryTextToExtended reads back as this value
// (the form text's float notation: "0.1", "-2.0", "1E20", "3.6451995318824746E-4951").
// Up to 18 integer digits and from 0.00001 on it is written with a point and at
// least one digit after it, else as one digit, the other digits after a point,
// and a decimal exponent. Raises EConvertError for an infinity or a NaN.
std::string ExtendedToText(const TExtended& value);
