#include "Extended.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include "Exceptions.h"

namespace {

// Exponent of the last significand bit of the denormals (and of the smallest normals).
constexpr int kMinExp2 = -16445;
// value = significand * 2^(field - kFieldBias) for a normal exponent field.
constexpr int kFieldBias = 16383 + 63;
// Significant digits kept from decimal text. Every point halfway between two
// extended values has fewer, so later digits only tell whether the value lies
// above the kept ones, and stand in as one more nonzero digit.
constexpr std::size_t kMaxDigits = 12000;
constexpr std::uint64_t kTopBit = std::uint64_t{1} << 63;

// An unsigned integer of any size: 32-bit limbs, least significant first, no
// leading zero limbs.
class BigNum {
 public:
  BigNum() = default;
  explicit BigNum(std::uint64_t v) {
    for (; v; v >>= 32) limbs_.push_back(static_cast<std::uint32_t>(v));
  }

  bool IsZero() const { return limbs_.empty(); }

  int BitLength() const {
    if (limbs_.empty()) return 0;
    int bits = static_cast<int>(limbs_.size() - 1) * 32;
    for (std::uint32_t top = limbs_.back(); top; top >>= 1) ++bits;
    return bits;
  }

  void MulAdd(std::uint32_t mul, std::uint32_t add) {
    std::uint64_t carry = add;
    for (std::uint32_t& limb : limbs_) {
      std::uint64_t t = std::uint64_t{limb} * mul + carry;
      limb = static_cast<std::uint32_t>(t);
      carry = t >> 32;
    }
    if (carry) limbs_.push_back(static_cast<std::uint32_t>(carry));
    Trim();
  }

  void MulPow10(int n) {
    static const std::uint32_t kPow10[] = {1, 10, 100, 1000, 10000, 100000, 1000000, 10000000, 100000000};
    for (; n >= 9; n -= 9) MulAdd(1000000000, 0);
    if (n > 0) MulAdd(kPow10[n], 0);
  }

  void ShiftLeft(int bits) {
    if (limbs_.empty() || bits == 0) return;
    int whole = bits / 32, part = bits % 32;
    if (part) {
      std::uint32_t carry = 0;
      for (std::uint32_t& limb : limbs_) {
        std::uint32_t next = limb >> (32 - part);
        limb = (limb << part) | carry;
        carry = next;
      }
      if (carry) limbs_.push_back(carry);
    }
    limbs_.insert(limbs_.begin(), static_cast<std::size_t>(whole), 0u);
  }

  void Add(const BigNum& b) {
    if (limbs_.size() < b.limbs_.size()) limbs_.resize(b.limbs_.size(), 0);
    std::uint64_t carry = 0;
    for (std::size_t i = 0; i < limbs_.size(); ++i) {
      std::uint64_t t = std::uint64_t{limbs_[i]} + (i < b.limbs_.size() ? b.limbs_[i] : 0) + carry;
      limbs_[i] = static_cast<std::uint32_t>(t);
      carry = t >> 32;
    }
    if (carry) limbs_.push_back(static_cast<std::uint32_t>(carry));
  }

  // *this -= b; b must not be larger.
  void Sub(const BigNum& b) {
    std::int64_t borrow = 0;
    for (std::size_t i = 0; i < limbs_.size(); ++i) {
      std::int64_t t = std::int64_t{limbs_[i]} - (i < b.limbs_.size() ? b.limbs_[i] : 0) - borrow;
      borrow = t < 0;
      limbs_[i] = static_cast<std::uint32_t>(t + (borrow << 32));
    }
    Trim();
  }

  friend int Compare(const BigNum& a, const BigNum& b) {
    if (a.limbs_.size() != b.limbs_.size()) return a.limbs_.size() < b.limbs_.size() ? -1 : 1;
    for (std::size_t i = a.limbs_.size(); i-- > 0;)
      if (a.limbs_[i] != b.limbs_[i]) return a.limbs_[i] < b.limbs_[i] ? -1 : 1;
    return 0;
  }

 private:
  void Trim() {
    while (!limbs_.empty() && limbs_.back() == 0) limbs_.pop_back();
  }
  std::vector<std::uint32_t> limbs_;
};

int BitLength64(std::uint64_t v) {
  int n = 0;
  for (; v; v >>= 1) ++n;
  return n;
}

// Rounds num/den (both nonzero) to q * 2^e2 with q below 2^bits and e2 not
// below minExp2, ties to even; q has its top bit set unless e2 == minExp2.
void RoundQuotient(const BigNum& num, const BigNum& den, int bits, int minExp2, std::uint64_t& q, int& e2) {
  // num/den lies between 2^(b-1) and 2^(b+1)
  int b = num.BitLength() - den.BitLength();
  e2 = std::max(b - bits + 1, minExp2);
  const std::uint64_t top = std::uint64_t{1} << (bits - 1);
  for (;;) {
    BigNum n = num, d = den;
    if (e2 >= 0)
      d.ShiftLeft(e2);
    else
      n.ShiftLeft(-e2);
    q = 0;
    BigNum shifted;
    for (int i = bits - 1; i >= 0; --i) {
      shifted = d;
      shifted.ShiftLeft(i);
      if (Compare(n, shifted) >= 0) {
        n.Sub(shifted);
        q |= std::uint64_t{1} << i;
      }
    }
    if (q < top && e2 > minExp2) {
      --e2;  // one more bit fits: the quotient was below 2^(bits-1)
      continue;
    }
    n.ShiftLeft(1);
    int c = Compare(n, d);
    if (c > 0 || (c == 0 && (q & 1))) {
      ++q;
      if (q == (top << 1)) {  // carried out of the significand (for 64 bits both sides wrap to zero)
        q = top;
        ++e2;
      }
    }
    return;
  }
}

// The significand and exponent of a finite value with the significand's top
// bit set, except for zero and the denormals (e2 == kMinExp2).
void Canonical(const TExtended& v, std::uint64_t& q, int& e2) {
  int field = v.signExp & 0x7FFF;
  q = v.mantissa;
  e2 = std::max(field, 1) - kFieldBias;
  while (q && !(q & kTopBit) && e2 > kMinExp2) {
    q <<= 1;
    --e2;
  }
}

// The shortest digits d1 d2 ... dn and exponent k with 0.d1d2...dn * 10^k read
// back as q * 2^e2 (q normalized for `bits` significand bits and minExp2).
void ShortestDigits(std::uint64_t q, int e2, int bits, int minExp2, std::string& digits, int& k) {
  bool lowHalf = q == (std::uint64_t{1} << (bits - 1)) && e2 > minExp2;  // the gap below is half the gap above
  bool inclusive = (q & 1) == 0;                                         // a tie rounds to an even significand
  // value = r/s, half the gap above = mPlus/s, half the gap below = mMinus/s
  BigNum r(q), s(1), mPlus(1), mMinus(1);
  if (e2 >= 0) {
    r.ShiftLeft(e2 + 2);
    s.ShiftLeft(2);
    mPlus.ShiftLeft(e2 + 1);
    mMinus.ShiftLeft(lowHalf ? e2 : e2 + 1);
  } else {
    r.ShiftLeft(2);
    s.ShiftLeft(2 - e2);
    mPlus.ShiftLeft(1);
    mMinus.ShiftLeft(lowHalf ? 0 : 1);
  }
  // a k no larger than the decimal exponent of the value; raised below until the high end is under 10^k
  k = static_cast<int>(std::floor((BitLength64(q) - 1 + e2) * 0.30102999566398120 - 1e-9));
  if (k >= 0) {
    s.MulPow10(k);
  } else {
    r.MulPow10(-k);
    mPlus.MulPow10(-k);
    mMinus.MulPow10(-k);
  }
  for (;;) {
    BigNum high = r;
    high.Add(mPlus);
    int c = Compare(high, s);
    if (inclusive ? c < 0 : c <= 0) break;
    s.MulAdd(10, 0);
    ++k;
  }
  digits.clear();
  for (;;) {
    r.MulAdd(10, 0);
    mPlus.MulAdd(10, 0);
    mMinus.MulAdd(10, 0);
    int d = 0;
    while (Compare(r, s) >= 0) {
      r.Sub(s);
      ++d;
    }
    int cl = Compare(r, mMinus);
    bool low = inclusive ? cl <= 0 : cl < 0;
    BigNum high = r;
    high.Add(mPlus);
    int ch = Compare(high, s);
    bool up = inclusive ? ch >= 0 : ch > 0;
    if (!low && !up) {
      digits += static_cast<char>('0' + d);
      continue;
    }
    if (low && up) {  // both d and d + 1 read back: take the nearer
      BigNum twice = r;
      twice.ShiftLeft(1);
      int c = Compare(twice, s);
      if (c > 0 || (c == 0 && (d & 1))) ++d;
    } else if (up) {
      ++d;
    }
    digits += static_cast<char>('0' + d);
    return;
  }
}

}  // namespace

TExtended TExtended::FromBytes(const std::uint8_t in[10]) {
  TExtended v;
  for (int i = 7; i >= 0; --i) v.mantissa = (v.mantissa << 8) | in[i];
  v.signExp = static_cast<std::uint16_t>(in[8] | (in[9] << 8));
  return v;
}

void TExtended::ToBytes(std::uint8_t out[10]) const {
  for (int i = 0; i < 8; ++i) out[i] = static_cast<std::uint8_t>(mantissa >> (8 * i));
  out[8] = static_cast<std::uint8_t>(signExp);
  out[9] = static_cast<std::uint8_t>(signExp >> 8);
}

TExtended DoubleToExtended(double value) {
  std::uint64_t bits;
  std::memcpy(&bits, &value, 8);
  std::uint16_t sign = static_cast<std::uint16_t>((bits >> 63) << 15);
  int exp = static_cast<int>((bits >> 52) & 0x7FF);
  std::uint64_t frac = bits & ((std::uint64_t{1} << 52) - 1);
  TExtended v;
  std::uint16_t e = 0;
  if (exp == 0x7FF) {  // infinity or NaN
    e = 0x7FFF;
    v.mantissa = kTopBit | (frac << 11);
  } else if (exp == 0) {
    if (frac != 0) {  // a denormal double is a normal extended value
      int shift = 0;
      while (!(frac & (std::uint64_t{1} << 52))) frac <<= 1, ++shift;
      e = static_cast<std::uint16_t>(16383 - 1022 - shift);
      v.mantissa = frac << 11;
    }
  } else {
    e = static_cast<std::uint16_t>(exp - 1023 + 16383);
    v.mantissa = kTopBit | (frac << 11);
  }
  v.signExp = static_cast<std::uint16_t>(e | sign);
  return v;
}

double ExtendedToDouble(const TExtended& value) {
  double result;
  if (!value.IsFinite()) {
    result = (value.mantissa << 1) == 0 ? HUGE_VAL : std::nan("");
  } else {
    std::uint64_t q;
    int e2;
    Canonical(value, q, e2);
    // round q * 2^e2 to 53 bits, no finer than the smallest denormal double (2^-1074)
    int target = std::max(e2 + BitLength64(q) - 53, -1074);
    int shift = target - e2;
    std::uint64_t m;
    if (q == 0) {
      m = 0;
    } else if (shift <= 0) {
      m = q << -shift;
    } else if (shift > 64) {
      m = 0;
    } else if (shift == 64) {
      m = q > kTopBit ? 1 : 0;
    } else {
      m = q >> shift;
      std::uint64_t rest = q & ((std::uint64_t{1} << shift) - 1);
      std::uint64_t half = std::uint64_t{1} << (shift - 1);
      if (rest > half || (rest == half && (m & 1))) ++m;
    }
    // Overflow is decided here, not left to ldexp: on the x87 the call's result
    // keeps the extended exponent range and would not become infinity.
    if (m != 0 && BitLength64(m) + target > 1024) {
      result = HUGE_VAL;
    } else {
      result = std::ldexp(static_cast<double>(m), target);  // exact
    }
  }
  return value.IsNegative() ? -result : result;
}

bool TryTextToExtended(std::string_view text, TExtended& out) {
  std::size_t i = 0, n = text.size();
  bool negative = false;
  if (i < n && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  std::string digits;      // significant digits kept, without leading zeros
  bool sticky = false;     // a nonzero digit beyond those kept
  std::int64_t exp10 = 0;  // value = digits * 10^exp10
  std::size_t mantissaDigits = 0;
  auto takeDigit = [&](char c, bool fraction) {
    ++mantissaDigits;
    if (digits.empty() && c == '0') {
      if (fraction) --exp10;
      return;
    }
    if (digits.size() < kMaxDigits) {
      digits += c;
      if (fraction) --exp10;
    } else {
      if (c != '0') sticky = true;
      if (!fraction) ++exp10;
    }
  };
  for (; i < n && text[i] >= '0' && text[i] <= '9'; ++i) takeDigit(text[i], false);
  if (i < n && text[i] == '.')
    for (++i; i < n && text[i] >= '0' && text[i] <= '9'; ++i) takeDigit(text[i], true);
  if (mantissaDigits == 0) return false;
  if (i < n && (text[i] == 'e' || text[i] == 'E')) {
    ++i;
    bool expNegative = false;
    if (i < n && (text[i] == '+' || text[i] == '-')) expNegative = text[i++] == '-';
    std::size_t start = i;
    std::int64_t e = 0;
    for (; i < n && text[i] >= '0' && text[i] <= '9'; ++i)
      e = std::min<std::int64_t>(e * 10 + (text[i] - '0'), 1000000000);  // far beyond any finite value
    if (i == start) return false;
    exp10 += expNegative ? -e : e;
  }
  if (i != n) return false;

  out = TExtended{};
  if (negative) out.signExp = 0x8000;
  if (digits.empty()) return true;  // zero
  while (digits.back() == '0') {
    digits.pop_back();
    ++exp10;
  }
  std::int64_t count = static_cast<std::int64_t>(digits.size());
  // digits * 10^exp10 lies in [10^(count - 1 + exp10), 10^(count + exp10))
  if (count - 1 + exp10 >= 4933) return false;  // above 1.19e4932, the largest finite value
  if (count + exp10 <= -4952) return true;      // below half the smallest denormal (1.8e-4951): zero
  if (sticky) {
    digits += '1';
    --exp10;
  }
  BigNum num, den(1);
  std::size_t at = 0;
  while (at < digits.size()) {
    std::size_t take = std::min<std::size_t>(9, digits.size() - at);
    std::uint32_t chunk = 0, scale = 1;
    for (std::size_t j = 0; j < take; ++j) {
      chunk = chunk * 10 + static_cast<std::uint32_t>(digits[at + j] - '0');
      scale *= 10;
    }
    num.MulAdd(scale, chunk);
    at += take;
  }
  if (exp10 >= 0)
    num.MulPow10(static_cast<int>(exp10));
  else
    den.MulPow10(static_cast<int>(-exp10));
  std::uint64_t q;
  int e2;
  RoundQuotient(num, den, 64, kMinExp2, q, e2);
  int field = 0;
  if (q & kTopBit) {
    field = e2 + kFieldBias;
    if (field >= 0x7FFF) return false;
  }
  out.mantissa = q;
  out.signExp = static_cast<std::uint16_t>(out.signExp | field);
  return true;
}

std::string ExtendedToText(const TExtended& value) {
  if (!value.IsFinite()) throw EConvertError("Invalid floating point value");
  std::string text;
  if (value.IsNegative()) text.push_back('-');
  std::uint64_t q;
  int e2;
  Canonical(value, q, e2);
  if (q == 0) {
    text.append("0.0");
    return text;
  }
  std::string digits;
  int k;
  ShortestDigits(q, e2, 64, kMinExp2, digits, k);
  int point = k - 1;  // the decimal exponent of the first digit
  std::size_t count = digits.size();
  if (point >= -5 && point < 18) {
    if (point < 0) {
      text.append("0.");
      text.append(static_cast<std::size_t>(-point - 1), '0');
      text.append(digits);
    } else {
      std::size_t whole = static_cast<std::size_t>(point) + 1;
      text.append(digits, 0, std::min(whole, count));
      if (count < whole) text.append(whole - count, '0');
      text.push_back('.');
      if (count > whole)
        text.append(digits, whole, std::string::npos);
      else
        text.push_back('0');
    }
  } else {
    text.push_back(digits[0]);
    if (count > 1) {
      text.push_back('.');
      text.append(digits, 1, std::string::npos);
    }
    text.push_back('E');
    text.append(std::to_string(point));
  }
  return text;
}
