// Little- and big-endian integers and byte runs appended to a byte string:
// the writing half beside ByteReader (file headers, resource sections, frames).
//
// Each field takes a value of its own width. An unsigned value no wider than
// the field and an integer constant that fits are accepted as they are; a wider
// or signed value known only at run time does not compile, so the caller
// narrows it on purpose (after checking it fits, where it may not).
//
// The patch forms (U16LEAt, ...) overwrite bytes written earlier, for sizes
// and offsets known only later; a patch past the written bytes raises
// EByteRange.
#pragma once

#include <concepts>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <string>
#include <string_view>
#include <type_traits>

#include "ByteReader.h"

// A value for a field of the width of `U`.
template <class U>
class FieldValue {
 public:
  constexpr FieldValue(U v) : value_(v) {}  // NOLINT: converts implicitly
  // Unsigned values no wider than the field (char16_t for a 16-bit one) go in whole.
  template <class V>
  requires(std::unsigned_integral<V> && !std::same_as<V, bool> && sizeof(V) <= sizeof(U)) constexpr FieldValue(V v)
      : value_(v) {}  // NOLINT: converts implicitly
  // An int constant must fit the field; checked when compiling.
  consteval FieldValue(int v) : value_(static_cast<U>(v)) {  // NOLINT: converts implicitly
    if (v < 0 || static_cast<unsigned long long>(v) > std::numeric_limits<U>::max())
      throw "the constant does not fit the field";
  }
  // Anything else (a wider or signed run-time value) must be narrowed by the caller.
  template <class V>
  FieldValue(V) = delete;

  constexpr U Value() const { return value_; }

 private:
  U value_;
};

class ByteWriter {
 public:
  // Appends to `out`, which must outlive the writer.
  explicit ByteWriter(std::string& out) : out_(out) {}

  std::string& Data() const { return out_; }
  std::size_t Size() const { return out_.size(); }

  void U8(FieldValue<std::uint8_t> v) { out_.push_back(static_cast<char>(v.Value())); }
  void U16LE(FieldValue<std::uint16_t> v) { Le(v.Value(), 2); }
  void U32LE(FieldValue<std::uint32_t> v) { Le(v.Value(), 4); }
  void U64LE(FieldValue<std::uint64_t> v) { Le(v.Value(), 8); }
  void U16BE(FieldValue<std::uint16_t> v) { Be(v.Value(), 2); }
  void U32BE(FieldValue<std::uint32_t> v) { Be(v.Value(), 4); }

  void Bytes(std::string_view bytes) { out_.append(bytes); }
  void Bytes(const void* data, std::size_t count) { out_.append(static_cast<const char*>(data), count); }
  void Zeros(std::size_t count) { out_.append(count, '\0'); }
  // UTF-16 code units, little-endian, without a terminator.
  void WideLE(std::u16string_view text) {
    for (char16_t c : text) U16LE(c);
  }

  // Overwrite bytes already written at an absolute offset.
  void U8At(std::size_t offset, FieldValue<std::uint8_t> v) {
    CheckAt(offset, 1);
    out_[offset] = static_cast<char>(v.Value());
  }
  void U16LEAt(std::size_t offset, FieldValue<std::uint16_t> v) { LeAt(offset, v.Value(), 2); }
  void U32LEAt(std::size_t offset, FieldValue<std::uint32_t> v) { LeAt(offset, v.Value(), 4); }
  void U16BEAt(std::size_t offset, FieldValue<std::uint16_t> v) { BeAt(offset, v.Value(), 2); }
  void U32BEAt(std::size_t offset, FieldValue<std::uint32_t> v) { BeAt(offset, v.Value(), 4); }
  void BytesAt(std::size_t offset, std::string_view bytes) {
    CheckAt(offset, bytes.size());
    out_.replace(offset, bytes.size(), bytes);
  }

 private:
  void Le(std::uint64_t v, int n) {
    char b[8];
    for (int i = 0; i < n; ++i) b[i] = static_cast<char>((v >> (8 * i)) & 0xFF);
    out_.append(b, static_cast<std::size_t>(n));
  }
  void Be(std::uint64_t v, int n) {
    char b[8];
    for (int i = 0; i < n; ++i) b[i] = static_cast<char>((v >> (8 * (n - 1 - i))) & 0xFF);
    out_.append(b, static_cast<std::size_t>(n));
  }
  void LeAt(std::size_t offset, std::uint64_t v, int n) {
    CheckAt(offset, static_cast<std::size_t>(n));
    for (int i = 0; i < n; ++i) out_[offset + static_cast<std::size_t>(i)] = static_cast<char>((v >> (8 * i)) & 0xFF);
  }
  void BeAt(std::size_t offset, std::uint64_t v, int n) {
    CheckAt(offset, static_cast<std::size_t>(n));
    for (int i = 0; i < n; ++i)
      out_[offset + static_cast<std::size_t>(i)] = static_cast<char>((v >> (8 * (n - 1 - i))) & 0xFF);
  }
  void CheckAt(std::size_t offset, std::size_t count) const {
    if (offset > out_.size() || count > out_.size() - offset)
      throw EByteRange("write of " + std::to_string(count) + " bytes at offset " + std::to_string(offset) +
                       " past the end of " + std::to_string(out_.size()) + " bytes");
  }

  std::string& out_;
};
