// Streams. Read/Write move up to `count` bytes and return how many moved;
// ReadBuffer/WriteBuffer move exactly `count` bytes or raise EReadError
// "Stream read error" / EWriteError "Stream write error".
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "FileApi.h"
#include "Object.h"

class TStream : public TObject {
  FW_CLASS(TStream, TObject)
 public:
  virtual std::int64_t Read(void* buffer, std::int64_t count) = 0;
  virtual std::int64_t Write(const void* buffer, std::int64_t count) = 0;
  virtual std::int64_t Seek(std::int64_t offset, SeekOrigin origin) = 0;

  std::int64_t Position() { return Seek(0, SeekOrigin::Current); }
  void SetPosition(std::int64_t pos) { Seek(pos, SeekOrigin::Beginning); }
  virtual std::int64_t Size();
  virtual void SetSize(std::int64_t size);

  void ReadBuffer(void* buffer, std::int64_t count);
  void WriteBuffer(const void* buffer, std::int64_t count);
  // Copies `count` bytes from `source`'s position; 0 copies the whole source from its start.
  std::int64_t CopyFrom(TStream& source, std::int64_t count);

  std::uint8_t ReadU8();
  std::uint16_t ReadU16();  // little-endian
  std::uint32_t ReadU32();
  void WriteU8(std::uint8_t v) { WriteBuffer(&v, 1); }
  void WriteU16(std::uint16_t v);
  void WriteU32(std::uint32_t v);
  std::string ReadBytes(std::int64_t count);  // exactly `count` bytes
  void WriteBytes(const std::string& bytes) { WriteBuffer(bytes.data(), static_cast<std::int64_t>(bytes.size())); }
};

// A stream over memory that it does not own; the base of memory streams.
class TCustomMemoryStream : public TStream {
  FW_CLASS(TCustomMemoryStream, TStream)
 public:
  std::int64_t Read(void* buffer, std::int64_t count) override;
  std::int64_t Seek(std::int64_t offset, SeekOrigin origin) override;
  std::int64_t Size() override { return static_cast<std::int64_t>(size_); }
  const std::uint8_t* Memory() const { return data_; }
  void SaveToStream(TStream& stream);
  void SaveToFile(const std::string& fileName);

 protected:
  void SetPointer(const std::uint8_t* data, std::size_t size);
  const std::uint8_t* data_ = nullptr;
  std::size_t size_ = 0;
  std::size_t pos_ = 0;
};

// Reads memory owned by someone else (a resource, a mapped image); writes raise EStreamError.
class TReadOnlyMemoryStream : public TCustomMemoryStream {
  FW_CLASS(TReadOnlyMemoryStream, TCustomMemoryStream)
 public:
  TReadOnlyMemoryStream(const void* data, std::size_t size);
  std::int64_t Write(const void* buffer, std::int64_t count) override;
  void SetSize(std::int64_t size) override;
};

class TMemoryStream : public TCustomMemoryStream {
  FW_CLASS(TMemoryStream, TCustomMemoryStream)
 public:
  TMemoryStream() = default;
  std::int64_t Write(const void* buffer, std::int64_t count) override;
  void SetSize(std::int64_t size) override;
  void Clear();
  void LoadFromStream(TStream& stream);
  void LoadFromFile(const std::string& fileName);
  std::uint8_t* Memory() { return buffer_.data(); }
  std::string DataString() const { return std::string(reinterpret_cast<const char*>(data_), size_); }

 private:
  void Sync();
  std::vector<std::uint8_t> buffer_;
};

// A stream over a byte string.
class TStringStream : public TStream {
  FW_CLASS(TStringStream, TStream)
 public:
  explicit TStringStream(std::string data = {}) : data_(std::move(data)) {}
  std::int64_t Read(void* buffer, std::int64_t count) override;
  std::int64_t Write(const void* buffer, std::int64_t count) override;
  std::int64_t Seek(std::int64_t offset, SeekOrigin origin) override;
  void SetSize(std::int64_t size) override;
  std::string ReadString(std::int64_t count);
  void WriteString(const std::string& s) { Write(s.data(), static_cast<std::int64_t>(s.size())); }
  const std::string& DataString() const { return data_; }

 private:
  std::string data_;
  std::size_t pos_ = 0;
};

// A file opened through FileApi. Failures raise EFOpenError / EFCreateError
// "Cannot open file \"%s\". <reason>" / "Cannot create file \"%s\". <reason>".
class TFileStream : public TStream {
  FW_CLASS(TFileStream, TStream)
 public:
  TFileStream(const std::string& fileName, unsigned mode);
  ~TFileStream() override;
  std::int64_t Read(void* buffer, std::int64_t count) override;
  std::int64_t Write(const void* buffer, std::int64_t count) override;
  std::int64_t Seek(std::int64_t offset, SeekOrigin origin) override;
  void SetSize(std::int64_t size) override;
  const std::string& FileName() const { return fileName_; }

 private:
  std::string fileName_;
  FileApi::Handle handle_ = nullptr;
};

// Opens `fileName` as a file stream in `mode`, hands it to `use` and frees the
// stream again, also when `use` throws.
template <class F>
void WithFileStream(const std::string& fileName, unsigned mode, F&& use) {
  TOwned<TFileStream> f(New<TFileStream>(fileName, mode));
  use(*f);
}
