#include "FileApi.h"

// Plain C library and POSIX calls only, no <filesystem>: its path conversions
// bring the C++ library's whole locale and stream machinery into every
// program, a sixth of the size of the shipped one.
#include <dirent.h>
#include <sys/stat.h>
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <utility>
#if defined(_WIN32)
#include <io.h>
#else
#include <unistd.h>
#endif

namespace {

class StdioFileApi : public FileApi {
 public:
  Handle Open(const std::string& name, unsigned mode, std::string& error) override {
    const char* how;
    if (mode == fmCreate || (mode & 0xFF00) == fmCreate)
      how = "w+b";
    else if ((mode & 3) == fmOpenRead)
      how = "rb";
    else
      how = "r+b";
    std::FILE* f = std::fopen(name.c_str(), how);
    if (!f) {
      error = std::strerror(errno);
      return nullptr;
    }
    return f;
  }
  void Close(Handle h) override { std::fclose(static_cast<std::FILE*>(h)); }
  std::int64_t Read(Handle h, void* buffer, std::size_t count) override {
    auto* f = static_cast<std::FILE*>(h);
    std::fseek(f, 0, SEEK_CUR);  // switching from writing to reading
    std::size_t n = std::fread(buffer, 1, count, f);
    if (n < count && std::ferror(f)) return -1;
    return static_cast<std::int64_t>(n);
  }
  std::int64_t Write(Handle h, const void* buffer, std::size_t count) override {
    auto* f = static_cast<std::FILE*>(h);
    std::fseek(f, 0, SEEK_CUR);
    std::size_t n = std::fwrite(buffer, 1, count, f);
    if (n < count && std::ferror(f)) return n == 0 ? -1 : static_cast<std::int64_t>(n);
    // The bytes reach the file now: a write the system refuses (a full disk, a
    // region another handle has locked) fails here instead of being lost
    // silently when the file is closed.
    if (std::fflush(f) != 0) return -1;
    return static_cast<std::int64_t>(n);
  }
  std::int64_t Seek(Handle h, std::int64_t offset, SeekOrigin origin) override {
    auto* f = static_cast<std::FILE*>(h);
    int whence = origin == SeekOrigin::Beginning ? SEEK_SET : origin == SeekOrigin::Current ? SEEK_CUR : SEEK_END;
#if defined(_WIN32)
    if (_fseeki64(f, offset, whence) != 0) return -1;
    return _ftelli64(f);
#else
    if (fseeko(f, static_cast<off_t>(offset), whence) != 0) return -1;
    return static_cast<std::int64_t>(ftello(f));
#endif
  }
  bool SetSize(Handle h, std::int64_t size) override {
    auto* f = static_cast<std::FILE*>(h);
    std::fflush(f);
#if defined(_WIN32)
    return _chsize_s(_fileno(f), size) == 0;
#else
    return ftruncate(fileno(f), static_cast<off_t>(size)) == 0;
#endif
  }
  bool FileExists(const std::string& name) override {
    struct stat st;
    return ::stat(name.c_str(), &st) == 0 && (st.st_mode & S_IFMT) == S_IFREG;
  }
  bool DeleteFile(const std::string& name) override {
    return std::remove(name.c_str()) == 0;
  }
  bool DirectoryExists(const std::string& name) override {
    struct stat st;
    return ::stat(name.c_str(), &st) == 0 && (st.st_mode & S_IFMT) == S_IFDIR;
  }
  std::vector<TSearchEntry> FindFiles(const std::string& pattern, unsigned attributes) override {
    std::vector<TSearchEntry> out;
    std::size_t cut = pattern.find_last_of("/\\");
    const std::string folder = cut == std::string::npos ? "." : pattern.substr(0, cut + 1);
    const std::string mask = cut == std::string::npos ? pattern : pattern.substr(cut + 1);
    DIR* dir = ::opendir(folder.c_str());
    if (!dir) return out;
    const std::string prefix = cut == std::string::npos ? std::string() : folder;
    while (const dirent* entry = ::readdir(dir)) {
      const std::string name = entry->d_name;
      if (name == "." || name == ".." || !MatchesFileMask(name, mask)) continue;
      const bool directory = DirectoryExists(prefix + name);
      unsigned attr = directory ? faDirectory : faArchive;
      if (!name.empty() && name[0] == '.') attr |= faHidden;
      if ((attr & (faHidden | faSysFile | faDirectory)) & ~attributes) continue;
      out.push_back({name, attr});
    }
    ::closedir(dir);
    std::sort(out.begin(), out.end(), [](const TSearchEntry& a, const TSearchEntry& b) { return a.Name < b.Name; });
    return out;
  }
  std::string FullPathName(const std::string& name) override {
    if (name.empty()) return name;
    std::string out;
#if defined(_WIN32)
    // The system's own resolution (GetFullPathName): drive, current folder, "." and "..".
    char* full = _fullpath(nullptr, name.c_str(), 0);
    if (!full) return name;
    out = full;
    std::free(full);
#else
    std::string path = name;
    if (path[0] != '/') {
      char* cwd = ::getcwd(nullptr, 0);
      if (!cwd) return name;
      std::string joined = cwd;
      std::free(cwd);
      joined += '/';
      joined += path;
      path = std::move(joined);
    }
    // "." and empty parts dropped, ".." takes the part before it (none above the root).
    std::vector<std::string> parts;
    for (std::size_t at = 0; at <= path.size();) {
      std::size_t end = path.find('/', at);
      if (end == std::string::npos) end = path.size();
      const std::string part = path.substr(at, end - at);
      if (part == "..") {
        if (!parts.empty()) parts.pop_back();
      } else if (!part.empty() && part != ".") {
        parts.push_back(part);
      }
      at = end + 1;
    }
    for (const std::string& part : parts) {
      out += '/';
      out += part;
    }
    if (out.empty()) out.push_back('/');
#endif
    // No trailing separator, except for a root ("/", "C:\\").
    while (out.size() > 1 && (out.back() == '/' || out.back() == '\\') && !(out.size() == 3 && out[1] == ':'))
      out.pop_back();
    return out;
  }
};

StdioFileApi g_stdio;
FileApi* g_api = nullptr;

}  // namespace

FileApi& GetFileApi() {
  return g_api ? *g_api : g_stdio;
}
void SetFileApi(FileApi* api) {
  g_api = api;
}

bool FileExists(const std::string& name) {
  return GetFileApi().FileExists(name);
}
bool DeleteFile(const std::string& name) {
  return GetFileApi().DeleteFile(name);
}
bool DirectoryExists(const std::string& name) {
  return GetFileApi().DirectoryExists(name);
}
std::vector<TSearchEntry> FindFiles(const std::string& pattern, unsigned attributes) {
  return GetFileApi().FindFiles(pattern, attributes);
}
std::string FullPathName(const std::string& name) {
  return GetFileApi().FullPathName(name);
}

bool FileApi::DirectoryExists(const std::string&) {
  return false;
}
std::vector<TSearchEntry> FileApi::FindFiles(const std::string&, unsigned) {
  return {};
}
std::string FileApi::FullPathName(const std::string& name) {
  return name;
}

bool MatchesFileMask(std::string_view name, std::string_view mask) {
  auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
  // Greedy matching with one back-track point: the last "*" seen.
  std::size_t n = 0, m = 0, starMask = std::string_view::npos, starName = 0;
  while (n < name.size()) {
    if (m < mask.size() && (mask[m] == '?' || lower(mask[m]) == lower(name[n]))) {
      ++n;
      ++m;
    } else if (m < mask.size() && mask[m] == '*') {
      starMask = m++;
      starName = n;
    } else if (starMask != std::string_view::npos) {
      m = starMask + 1;
      n = ++starName;
    } else {
      return false;
    }
  }
  while (m < mask.size() && mask[m] == '*') ++m;
  return m == mask.size();
}

void MemoryFileApi::Add(const std::string& name, std::string bytes) {
  std::lock_guard<std::mutex> guard(lock_);
  files_[name] = std::move(bytes);
}

FileApi::Handle MemoryFileApi::Open(const std::string& name, unsigned mode, std::string& error) {
  std::lock_guard<std::mutex> guard(lock_);
  auto it = files_.find(name);
  if ((mode & 0xFF00) == fmCreate || (mode & 3) != fmOpenRead) {
    error = "Access denied";
    return nullptr;
  }
  if (it == files_.end()) {
    error = "File not found";
    return nullptr;
  }
  return new OpenFile{it->second, 0};  // a copy: the file may be replaced while open
}

void MemoryFileApi::Close(Handle h) {
  delete static_cast<OpenFile*>(h);
}

std::int64_t MemoryFileApi::Read(Handle h, void* buffer, std::size_t count) {
  auto* f = static_cast<OpenFile*>(h);
  std::size_t n = f->position < f->bytes.size() ? std::min(count, f->bytes.size() - f->position) : 0;
  if (n) std::memcpy(buffer, f->bytes.data() + f->position, n);
  f->position += n;
  return static_cast<std::int64_t>(n);
}

std::int64_t MemoryFileApi::Write(Handle, const void*, std::size_t) {
  return -1;
}

std::int64_t MemoryFileApi::Seek(Handle h, std::int64_t offset, SeekOrigin origin) {
  auto* f = static_cast<OpenFile*>(h);
  std::int64_t base = origin == SeekOrigin::Beginning ? 0
                      : origin == SeekOrigin::Current ? static_cast<std::int64_t>(f->position)
                                                      : static_cast<std::int64_t>(f->bytes.size());
  if (offset < -base || offset > INT64_MAX - base) return -1;
  f->position = static_cast<std::size_t>(base + offset);
  return base + offset;
}

bool MemoryFileApi::SetSize(Handle, std::int64_t) {
  return false;
}

bool MemoryFileApi::FileExists(const std::string& name) {
  std::lock_guard<std::mutex> guard(lock_);
  return files_.count(name) != 0;
}

bool MemoryFileApi::DeleteFile(const std::string& name) {
  std::lock_guard<std::mutex> guard(lock_);
  return files_.erase(name) != 0;
}
