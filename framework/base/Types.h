// Basic value types shared by the framework: byte and UTF-16 strings, the
// floating day-count date, and Set<E>, a bit set over an enumeration.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>

using AnsiString = std::string;
using WideString = std::u16string;
using TDateTime = double;  // days since 1899-12-30, fraction = time of day

// A set of up to 64 elements of the enumeration E (elements 0..63).
template <class E>
class Set {
 public:
  constexpr Set() = default;
  constexpr Set(std::initializer_list<E> items) {
    for (E e : items) bits_ |= Bit(e);
  }
  static constexpr Set FromBits(std::uint64_t bits) {
    Set s;
    s.bits_ = bits;
    return s;
  }
  constexpr std::uint64_t Bits() const { return bits_; }
  constexpr bool Contains(E e) const { return (bits_ & Bit(e)) != 0; }
  constexpr bool Empty() const { return bits_ == 0; }
  constexpr Set& Include(E e) {
    bits_ |= Bit(e);
    return *this;
  }
  constexpr Set& Exclude(E e) {
    bits_ &= ~Bit(e);
    return *this;
  }
  constexpr Set operator+(Set o) const { return FromBits(bits_ | o.bits_); }
  constexpr Set operator-(Set o) const { return FromBits(bits_ & ~o.bits_); }
  constexpr Set operator*(Set o) const { return FromBits(bits_ & o.bits_); }
  constexpr Set& operator+=(Set o) {
    bits_ |= o.bits_;
    return *this;
  }
  constexpr Set& operator-=(Set o) {
    bits_ &= ~o.bits_;
    return *this;
  }
  friend constexpr bool operator==(Set a, Set b) { return a.bits_ == b.bits_; }

 private:
  static constexpr std::uint64_t Bit(E e) {
    auto v = static_cast<unsigned>(e);
    return v < 64 ? (std::uint64_t{1} << v) : 0;
  }
  std::uint64_t bits_ = 0;
};
