#include "Streams.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <limits>

FW_IMPLEMENT_CLASS(TStream)
FW_IMPLEMENT_CLASS(TCustomMemoryStream)
FW_IMPLEMENT_CLASS(TReadOnlyMemoryStream)
FW_IMPLEMENT_CLASS(TMemoryStream)
FW_IMPLEMENT_CLASS(TStringStream)
FW_IMPLEMENT_CLASS(TFileStream)

namespace {

std::size_t NewPosition(std::int64_t base, std::int64_t offset, std::int64_t& result) {
  if ((offset > 0 && base > std::numeric_limits<std::int64_t>::max() - offset) || base + offset < 0)
    throw EStreamError("Stream seek error");
  result = base + offset;
  if (static_cast<std::uint64_t>(result) > std::numeric_limits<std::size_t>::max())
    throw EStreamError("Stream seek error");
  return static_cast<std::size_t>(result);
}

// The smaller of a requested count and what is available, without truncating on 32-bit builds.
std::size_t Clamp(std::int64_t count, std::size_t available) {
  return static_cast<std::uint64_t>(count) < available ? static_cast<std::size_t>(count) : available;
}

}  // namespace

std::int64_t TStream::Size() {
  std::int64_t pos = Seek(0, SeekOrigin::Current);
  std::int64_t size = Seek(0, SeekOrigin::End);
  Seek(pos, SeekOrigin::Beginning);
  return size;
}

void TStream::SetSize(std::int64_t) {}

void TStream::ReadBuffer(void* buffer, std::int64_t count) {
  if (count < 0 || (count != 0 && Read(buffer, count) != count)) throw EReadError("Stream read error");
}

void TStream::WriteBuffer(const void* buffer, std::int64_t count) {
  if (count < 0 || (count != 0 && Write(buffer, count) != count)) throw EWriteError("Stream write error");
}

std::int64_t TStream::CopyFrom(TStream& source, std::int64_t count) {
  if (count == 0) {
    source.SetPosition(0);
    count = source.Size();
  }
  if (count < 0) throw EReadError("Stream read error");
  std::int64_t total = count;
  std::vector<char> buf(static_cast<std::size_t>(std::min<std::int64_t>(count, 65536)) + 1);
  while (count > 0) {
    std::int64_t n = std::min<std::int64_t>(count, static_cast<std::int64_t>(buf.size()));
    source.ReadBuffer(buf.data(), n);
    WriteBuffer(buf.data(), n);
    count -= n;
  }
  return total;
}

std::uint8_t TStream::ReadU8() {
  std::uint8_t v;
  ReadBuffer(&v, 1);
  return v;
}

std::uint16_t TStream::ReadU16() {
  std::uint8_t b[2];
  ReadBuffer(b, 2);
  return static_cast<std::uint16_t>(b[0] | (b[1] << 8));
}

std::uint32_t TStream::ReadU32() {
  std::uint8_t b[4];
  ReadBuffer(b, 4);
  return static_cast<std::uint32_t>(b[0]) | (static_cast<std::uint32_t>(b[1]) << 8) |
         (static_cast<std::uint32_t>(b[2]) << 16) | (static_cast<std::uint32_t>(b[3]) << 24);
}

void TStream::WriteU16(std::uint16_t v) {
  std::uint8_t b[2] = {static_cast<std::uint8_t>(v), static_cast<std::uint8_t>(v >> 8)};
  WriteBuffer(b, 2);
}

void TStream::WriteU32(std::uint32_t v) {
  std::uint8_t b[4] = {static_cast<std::uint8_t>(v), static_cast<std::uint8_t>(v >> 8),
                       static_cast<std::uint8_t>(v >> 16), static_cast<std::uint8_t>(v >> 24)};
  WriteBuffer(b, 4);
}

std::string TStream::ReadBytes(std::int64_t count) {
  if (count < 0) throw EReadError("Stream read error");
  // never allocate more than the stream can hold
  std::int64_t left = Size() - Position();
  if (count > left || static_cast<std::uint64_t>(count) > SIZE_MAX / 2) throw EReadError("Stream read error");
  std::string s(static_cast<std::size_t>(count), '\0');
  ReadBuffer(s.data(), count);
  return s;
}

// --- memory ----------------------------------------------------------------------------------

void TCustomMemoryStream::SetPointer(const std::uint8_t* data, std::size_t size) {
  data_ = data;
  size_ = size;
}

std::int64_t TCustomMemoryStream::Read(void* buffer, std::int64_t count) {
  if (count <= 0 || pos_ >= size_) return 0;
  std::size_t n = Clamp(count, size_ - pos_);
  std::memcpy(buffer, data_ + pos_, n);
  pos_ += n;
  return static_cast<std::int64_t>(n);
}

std::int64_t TCustomMemoryStream::Seek(std::int64_t offset, SeekOrigin origin) {
  std::int64_t base = origin == SeekOrigin::Beginning ? 0
                      : origin == SeekOrigin::Current ? static_cast<std::int64_t>(pos_)
                                                      : static_cast<std::int64_t>(size_);
  std::int64_t result;
  pos_ = NewPosition(base, offset, result);
  return result;
}

void TCustomMemoryStream::SaveToStream(TStream& stream) {
  if (size_) stream.WriteBuffer(data_, static_cast<std::int64_t>(size_));
}

void TCustomMemoryStream::SaveToFile(const std::string& fileName) {
  WithFileStream(fileName, fmCreate, [this](TStream& f) { SaveToStream(f); });
}

TReadOnlyMemoryStream::TReadOnlyMemoryStream(const void* data, std::size_t size) {
  SetPointer(static_cast<const std::uint8_t*>(data), data ? size : 0);
}

std::int64_t TReadOnlyMemoryStream::Write(const void*, std::int64_t) {
  throw EStreamError("Can't write to a read-only resource stream");
}

void TReadOnlyMemoryStream::SetSize(std::int64_t) {
  throw EStreamError("Can't write to a read-only resource stream");
}

void TMemoryStream::Sync() {
  SetPointer(buffer_.data(), size_);
}

std::int64_t TMemoryStream::Write(const void* buffer, std::int64_t count) {
  if (count <= 0) return 0;
  if (static_cast<std::uint64_t>(count) > SIZE_MAX) throw EWriteError("Stream write error");
  std::size_t n = static_cast<std::size_t>(count);
  if (n > SIZE_MAX - pos_) throw EWriteError("Stream write error");
  std::size_t end = pos_ + n;
  // A write past the end leaves zeros in the gap, not bytes of an earlier, longer content.
  if (pos_ > size_ && buffer_.size() > size_)
    std::memset(buffer_.data() + size_, 0, std::min(pos_, buffer_.size()) - size_);
  if (end > buffer_.size()) {
    try {
      buffer_.resize(std::max(end, buffer_.size() + buffer_.size() / 2));
    } catch (const std::bad_alloc&) {
      throw EOutOfMemory("Out of memory while expanding memory stream");
    }
  }
  std::memcpy(buffer_.data() + pos_, buffer, n);
  pos_ = end;
  size_ = std::max(size_, end);
  Sync();
  return count;
}

void TMemoryStream::SetSize(std::int64_t size) {
  if (size < 0 || static_cast<std::uint64_t>(size) > SIZE_MAX / 2) throw EStreamError("Invalid stream size");
  std::size_t n = static_cast<std::size_t>(size);
  // Shrinking keeps the buffer, so that writing on after a shrink does not
  // grow (and clear) it again; growing clears the new bytes.
  if (n > buffer_.size()) {
    try {
      buffer_.resize(n);
    } catch (const std::bad_alloc&) {
      throw EOutOfMemory("Out of memory while expanding memory stream");
    }
  }
  if (n > size_) std::memset(buffer_.data() + size_, 0, n - size_);
  size_ = n;
  if (pos_ > size_) pos_ = size_;
  Sync();
}

void TMemoryStream::Clear() {
  buffer_.clear();
  buffer_.shrink_to_fit();
  size_ = pos_ = 0;
  Sync();
}

void TMemoryStream::LoadFromStream(TStream& stream) {
  stream.SetPosition(0);
  std::int64_t n = stream.Size();
  SetSize(n);
  if (n) stream.ReadBuffer(buffer_.data(), n);
  pos_ = 0;
}

void TMemoryStream::LoadFromFile(const std::string& fileName) {
  WithFileStream(fileName, fmOpenRead | fmShareDenyWrite, [this](TStream& f) { LoadFromStream(f); });
}

// --- string ----------------------------------------------------------------------------------

std::int64_t TStringStream::Read(void* buffer, std::int64_t count) {
  if (count <= 0 || pos_ >= data_.size()) return 0;
  std::size_t n = Clamp(count, data_.size() - pos_);
  std::memcpy(buffer, data_.data() + pos_, n);
  pos_ += n;
  return static_cast<std::int64_t>(n);
}

std::int64_t TStringStream::Write(const void* buffer, std::int64_t count) {
  if (count <= 0) return 0;
  if (static_cast<std::uint64_t>(count) > SIZE_MAX - pos_) throw EWriteError("Stream write error");
  std::size_t n = static_cast<std::size_t>(count);
  if (pos_ + n > data_.size()) data_.resize(pos_ + n);
  std::memcpy(data_.data() + pos_, buffer, n);
  pos_ += n;
  return count;
}

std::int64_t TStringStream::Seek(std::int64_t offset, SeekOrigin origin) {
  std::int64_t base = origin == SeekOrigin::Beginning ? 0
                      : origin == SeekOrigin::Current ? static_cast<std::int64_t>(pos_)
                                                      : static_cast<std::int64_t>(data_.size());
  std::int64_t result;
  std::size_t p = NewPosition(base, offset, result);
  pos_ = std::min(p, data_.size());
  return static_cast<std::int64_t>(pos_);
}

void TStringStream::SetSize(std::int64_t size) {
  if (size < 0 || static_cast<std::uint64_t>(size) > SIZE_MAX / 2) throw EStreamError("Invalid stream size");
  data_.resize(static_cast<std::size_t>(size));
  pos_ = std::min(pos_, data_.size());
}

std::string TStringStream::ReadString(std::int64_t count) {
  if (count < 0) count = 0;
  std::size_t n = Clamp(count, data_.size() - std::min(pos_, data_.size()));
  std::string s = data_.substr(pos_, n);
  pos_ += n;
  return s;
}

// --- file ------------------------------------------------------------------------------------

TFileStream::TFileStream(const std::string& fileName, unsigned mode) : fileName_(fileName) {
  std::string error;
  handle_ = GetFileApi().Open(fileName, mode, error);
  if (!handle_) {
    if (mode == fmCreate || (mode & 0xFF00) == fmCreate)
      throw EFCreateError("Cannot create file \"" + fileName + "\". " + error);
    throw EFOpenError("Cannot open file \"" + fileName + "\". " + error);
  }
}

TFileStream::~TFileStream() {
  if (handle_) GetFileApi().Close(handle_);
}

std::int64_t TFileStream::Read(void* buffer, std::int64_t count) {
  if (count <= 0) return 0;
  std::int64_t n = GetFileApi().Read(handle_, buffer, Clamp(count, SIZE_MAX));
  return n < 0 ? 0 : n;
}

std::int64_t TFileStream::Write(const void* buffer, std::int64_t count) {
  if (count <= 0) return 0;
  std::int64_t n = GetFileApi().Write(handle_, buffer, Clamp(count, SIZE_MAX));
  return n < 0 ? 0 : n;
}

std::int64_t TFileStream::Seek(std::int64_t offset, SeekOrigin origin) {
  std::int64_t r = GetFileApi().Seek(handle_, offset, origin);
  if (r < 0) throw EStreamError("Stream seek error");
  return r;
}

void TFileStream::SetSize(std::int64_t size) {
  if (size < 0 || !GetFileApi().SetSize(handle_, size)) throw EStreamError("Stream size error");
  if (Position() > size) Seek(size, SeekOrigin::Beginning);
}
