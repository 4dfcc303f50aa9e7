// The small interface through which the portable code reaches files. The
// default implementation uses the C library; the Windows build may install
// one with the system's share modes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

// File open modes (the access in the low bits, the sharing in bits 4-6).
constexpr unsigned fmOpenRead = 0x0000;
constexpr unsigned fmOpenWrite = 0x0001;
constexpr unsigned fmOpenReadWrite = 0x0002;
constexpr unsigned fmShareCompat = 0x0000;
constexpr unsigned fmShareExclusive = 0x0010;
constexpr unsigned fmShareDenyWrite = 0x0020;
constexpr unsigned fmShareDenyRead = 0x0030;
constexpr unsigned fmShareDenyNone = 0x0040;
constexpr unsigned fmCreate = 0xFF00;

enum class SeekOrigin { Beginning = 0, Current = 1, End = 2 };

// File attributes of a search; faAnyFile (63) finds every entry.
constexpr unsigned faReadOnly = 0x01;
constexpr unsigned faHidden = 0x02;
constexpr unsigned faSysFile = 0x04;
constexpr unsigned faVolumeID = 0x08;
constexpr unsigned faDirectory = 0x10;
constexpr unsigned faArchive = 0x20;
constexpr unsigned faAnyFile = 0x3F;

// One entry found by a search: its bare name and attributes.
struct TSearchEntry {
  std::string Name;
  unsigned Attributes = 0;
};

class FileApi {
 public:
  using Handle = void*;  // null = invalid
  virtual ~FileApi() = default;
  // Opens (or with fmCreate creates/truncates) a file; on failure returns null and sets `error`.
  virtual Handle Open(const std::string& name, unsigned mode, std::string& error) = 0;
  virtual void Close(Handle h) = 0;
  // Bytes moved, or -1 on an error.
  virtual std::int64_t Read(Handle h, void* buffer, std::size_t count) = 0;
  virtual std::int64_t Write(Handle h, const void* buffer, std::size_t count) = 0;
  // The new position, or -1 on an error.
  virtual std::int64_t Seek(Handle h, std::int64_t offset, SeekOrigin origin) = 0;
  virtual bool SetSize(Handle h, std::int64_t size) = 0;
  virtual bool FileExists(const std::string& name) = 0;
  virtual bool DeleteFile(const std::string& name) = 0;
  // True when the name is an existing directory.
  virtual bool DirectoryExists(const std::string& name);
  // The entries of a folder whose names match the mask ("*" and "?", without
  // regard to case) given as the pattern's last part; hidden, system and
  // directory entries only when the attribute mask has their bits. "." and
  // ".." are not entries. Nothing when the folder cannot be read.
  virtual std::vector<TSearchEntry> FindFiles(const std::string& pattern, unsigned attributes);
  // The name made absolute against the current directory, "." and ".."
  // parts resolved; the name itself when that cannot be done.
  virtual std::string FullPathName(const std::string& name);
};

FileApi& GetFileApi();
// Installs another implementation (null restores the default); the caller keeps ownership.
void SetFileApi(FileApi* api);

bool FileExists(const std::string& name);
bool DeleteFile(const std::string& name);
bool DirectoryExists(const std::string& name);
std::vector<TSearchEntry> FindFiles(const std::string& pattern, unsigned attributes);
std::string FullPathName(const std::string& name);
// A file name matches a search mask: "*" any run, "?" any one character,
// ASCII letters compared without regard to case.
bool MatchesFileMask(std::string_view name, std::string_view mask);

// Read-only files held in memory, for tests and fuzz targets that feed a
// reader of files without touching the disk. Names match exactly.
class MemoryFileApi : public FileApi {
 public:
  void Add(const std::string& name, std::string bytes);
  Handle Open(const std::string& name, unsigned mode, std::string& error) override;
  void Close(Handle h) override;
  std::int64_t Read(Handle h, void* buffer, std::size_t count) override;
  std::int64_t Write(Handle h, const void* buffer, std::size_t count) override;
  std::int64_t Seek(Handle h, std::int64_t offset, SeekOrigin origin) override;
  bool SetSize(Handle h, std::int64_t size) override;
  bool FileExists(const std::string& name) override;
  bool DeleteFile(const std::string& name) override;

 private:
  struct OpenFile {
    std::string bytes;
    std::size_t position = 0;
  };
  std::mutex lock_;
  std::map<std::string, std::string> files_;
};
