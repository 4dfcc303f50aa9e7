#include "Filer.h"

#include <cmath>
#include <cstring>

FW_IMPLEMENT_CLASS(TFiler)

const char kFilerSignature[4] = {'T', 'P', 'F', '0'};

void DoubleToExtended(double value, std::uint8_t out[10]) {
  std::uint64_t bits;
  std::memcpy(&bits, &value, 8);
  std::uint16_t sign = static_cast<std::uint16_t>((bits >> 63) << 15);
  int exp = static_cast<int>((bits >> 52) & 0x7FF);
  std::uint64_t frac = bits & ((std::uint64_t{1} << 52) - 1);
  std::uint64_t mant = 0;
  std::uint16_t e = 0;
  if (exp == 0x7FF) {  // infinity or NaN
    e = 0x7FFF;
    mant = (std::uint64_t{1} << 63) | (frac << 11);
  } else if (exp == 0) {
    if (frac != 0) {  // subnormal double: normal in extended
      int shift = 0;
      while (!(frac & (std::uint64_t{1} << 52))) frac <<= 1, ++shift;
      e = static_cast<std::uint16_t>(16383 - 1022 - shift);
      mant = frac << 11;
    }
  } else {
    e = static_cast<std::uint16_t>(exp - 1023 + 16383);
    mant = (std::uint64_t{1} << 63) | (frac << 11);
  }
  e |= sign;
  for (int i = 0; i < 8; ++i) out[i] = static_cast<std::uint8_t>(mant >> (8 * i));
  out[8] = static_cast<std::uint8_t>(e);
  out[9] = static_cast<std::uint8_t>(e >> 8);
}

double ExtendedToDouble(const std::uint8_t in[10]) {
  std::uint64_t mant = 0;
  for (int i = 7; i >= 0; --i) mant = (mant << 8) | in[i];
  std::uint16_t se = static_cast<std::uint16_t>(in[8] | (in[9] << 8));
  bool negative = (se & 0x8000) != 0;
  int exp = se & 0x7FFF;
  double v;
  if (exp == 0x7FFF) {
    v = (mant << 1) == 0 ? HUGE_VAL : std::nan("");
  } else if (mant == 0) {
    v = 0.0;
  } else {
    v = std::ldexp(static_cast<double>(mant), exp - 16383 - 63);
  }
  return negative ? -v : v;
}
