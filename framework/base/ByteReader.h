// Bounds-checked reads of little- and big-endian integers and byte runs from
// untrusted data (frames from a phone, pictures, language files, PE files,
// form data). Every read checks the remaining length first and raises
// EByteRange instead of reading past the data.
#pragma once

#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>

class EByteRange : public std::out_of_range {
 public:
  using std::out_of_range::out_of_range;
};

class ByteReader {
 public:
  ByteReader() = default;
  ByteReader(const void* data, std::size_t size) : data_(static_cast<const std::uint8_t*>(data)), size_(size) {}
  explicit ByteReader(std::string_view bytes) : ByteReader(bytes.data(), bytes.size()) {}

  std::size_t Size() const { return size_; }
  std::size_t Position() const { return pos_; }
  std::size_t Remaining() const { return size_ - pos_; }
  bool AtEnd() const { return pos_ == size_; }

  // Moves to an absolute offset; the end of the data is a valid position.
  void Seek(std::size_t offset) {
    if (offset > size_) Fail(offset, 0);
    pos_ = offset;
  }
  void Skip(std::size_t count) {
    Need(count);
    pos_ += count;
  }

  std::uint8_t U8() {
    Need(1);
    return data_[pos_++];
  }
  std::uint16_t U16LE() { return static_cast<std::uint16_t>(Le(2)); }
  std::uint32_t U32LE() { return static_cast<std::uint32_t>(Le(4)); }
  std::uint64_t U64LE() { return Le(8); }
  std::uint16_t U16BE() { return static_cast<std::uint16_t>(Be(2)); }
  std::uint32_t U32BE() { return static_cast<std::uint32_t>(Be(4)); }
  std::int8_t I8() { return static_cast<std::int8_t>(U8()); }
  std::int16_t I16LE() { return static_cast<std::int16_t>(U16LE()); }
  std::int32_t I32LE() { return static_cast<std::int32_t>(U32LE()); }
  std::int64_t I64LE() { return static_cast<std::int64_t>(U64LE()); }

  // Copies `count` bytes into a byte string.
  std::string Bytes(std::size_t count) {
    Need(count);
    std::string out(reinterpret_cast<const char*>(data_ + pos_), count);
    pos_ += count;
    return out;
  }
  // A view of `count` bytes without copying; valid as long as the data is.
  std::string_view View(std::size_t count) {
    Need(count);
    std::string_view out(reinterpret_cast<const char*>(data_ + pos_), count);
    pos_ += count;
    return out;
  }

  // Reads at an absolute offset without moving the position.
  std::uint8_t U8At(std::size_t offset) const {
    CheckAt(offset, 1);
    return data_[offset];
  }
  std::uint16_t U16LEAt(std::size_t offset) const {
    CheckAt(offset, 2);
    return static_cast<std::uint16_t>(data_[offset] | (data_[offset + 1] << 8));
  }
  std::uint32_t U32LEAt(std::size_t offset) const {
    CheckAt(offset, 4);
    return static_cast<std::uint32_t>(data_[offset]) | (static_cast<std::uint32_t>(data_[offset + 1]) << 8) |
           (static_cast<std::uint32_t>(data_[offset + 2]) << 16) |
           (static_cast<std::uint32_t>(data_[offset + 3]) << 24);
  }
  std::uint16_t U16BEAt(std::size_t offset) const {
    CheckAt(offset, 2);
    return static_cast<std::uint16_t>((data_[offset] << 8) | data_[offset + 1]);
  }
  // True when `count` bytes starting at `offset` lie inside the data.
  bool Fits(std::size_t offset, std::size_t count) const { return offset <= size_ && count <= size_ - offset; }

 private:
  void Need(std::size_t count) const {
    if (count > size_ - pos_) Fail(pos_, count);
  }
  void CheckAt(std::size_t offset, std::size_t count) const {
    if (!Fits(offset, count)) Fail(offset, count);
  }
  [[noreturn]] void Fail(std::size_t offset, std::size_t count) const {
    throw EByteRange("read of " + std::to_string(count) + " bytes at offset " + std::to_string(offset) +
                     " past the end of " + std::to_string(size_) + " bytes");
  }
  std::uint64_t Le(int n) {
    Need(static_cast<std::size_t>(n));
    std::uint64_t v = 0;
    for (int i = n - 1; i >= 0; --i) v = (v << 8) | data_[pos_ + static_cast<std::size_t>(i)];
    pos_ += static_cast<std::size_t>(n);
    return v;
  }
  std::uint64_t Be(int n) {
    Need(static_cast<std::size_t>(n));
    std::uint64_t v = 0;
    for (int i = 0; i < n; ++i) v = (v << 8) | data_[pos_ + static_cast<std::size_t>(i)];
    pos_ += static_cast<std::size_t>(n);
    return v;
  }

  const std::uint8_t* data_ = nullptr;
  std::size_t size_ = 0;
  std::size_t pos_ = 0;
};
