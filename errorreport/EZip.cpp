#include "EZip.h"

#include <minizip/zip.h>

#include <sys/stat.h>

#include <ctime>

#include "EHash.h"
#include "FileApi.h"
#include "Streams.h"
#include "SysUtils.h"

FW_IMPLEMENT_CLASS(TZipWriter)

struct TZipArchive {
  zipFile zip = nullptr;
  bool entryOpen = false;
};

namespace {

bool ReadWholeFile(const std::string& fileName, std::string& data) {
  try {
    TOwned<TFileStream> f(New<TFileStream>(fileName, fmOpenRead | fmShareDenyNone));
    std::int64_t size = f->Size();
    if (size < 0 || size > 0xFFFFFFFFll) return false;
    data.resize(static_cast<std::size_t>(size));
    if (size > 0 && f->Read(data.data(), size) != size) return false;
    return true;
  } catch (...) {
    return false;
  }
}

// The file's last-write time in local time; now when it cannot be read.
// (The C library's stat, which takes the name in the code page of the
// program's other file calls; <filesystem> would bring the C++ library's
// locale machinery along.)
std::tm LocalWriteTime(const std::string& fileName) {
  std::time_t t = std::time(nullptr);
#if defined(_WIN32)
  // (The 64-bit size answers for files over 2 GB too; the C runtime of every
  // Windows has this call.)
  struct _stati64 st;
  if (::_stati64(fileName.c_str(), &st) == 0) t = static_cast<std::time_t>(st.st_mtime);
#else
  struct stat st;
  if (::stat(fileName.c_str(), &st) == 0) t = st.st_mtime;
#endif
  return LocalTime(t);
}

}  // namespace

TZipArchive* CreateZipArchive(const std::string& fileName) {
  DeleteFile(fileName);
  zipFile zip = zipOpen(fileName.c_str(), APPEND_STATUS_CREATE);
  if (!zip) return nullptr;
  auto* archive = new TZipArchive;
  archive->zip = zip;
  return archive;
}

bool AddFileToZip(TZipArchive* archive, const std::string& fileName, const std::string& nameInZip,
                  const std::string& password) {
  if (!archive || !archive->zip) return false;
  std::string data;
  if (!ReadWholeFile(fileName, data)) return false;
  std::tm local = LocalWriteTime(fileName);
  zip_fileinfo info{};
  info.tmz_date.tm_sec = static_cast<uInt>(local.tm_sec);
  info.tmz_date.tm_min = static_cast<uInt>(local.tm_min);
  info.tmz_date.tm_hour = static_cast<uInt>(local.tm_hour);
  info.tmz_date.tm_mday = static_cast<uInt>(local.tm_mday);
  info.tmz_date.tm_mon = static_cast<uInt>(local.tm_mon);
  info.tmz_date.tm_year = static_cast<uInt>(local.tm_year + 1900);
  const char* pass = password.empty() ? nullptr : password.c_str();
  unsigned long crc = pass ? Crc32OfBuffer(data.data(), data.size()) : 0;
  int rc = zipOpenNewFileInZip3(archive->zip, nameInZip.c_str(), &info, nullptr, 0, nullptr, 0, nullptr, Z_DEFLATED, 9,
                                0, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY, pass, crc);
  if (rc != ZIP_OK) return false;
  archive->entryOpen = true;
  if (data.empty()) return true;
  return zipWriteInFileInZip(archive->zip, data.data(), static_cast<unsigned>(data.size())) == ZIP_OK;
}

bool CloseZipArchive(TZipArchive* archive) {
  if (!archive) return false;
  bool ok = true;
  if (archive->entryOpen) ok = zipCloseFileInZip(archive->zip) == ZIP_OK;
  ok = zipClose(archive->zip, nullptr) == ZIP_OK && ok;
  delete archive;
  return ok;
}

TZipWriter::TZipWriter(const std::string& zipFile, const std::string& password)
    : archive_(CreateZipArchive(zipFile)), password_(password) {}

void TZipWriter::Destroy() {
  if (archive_) CloseZipArchive(archive_);
  archive_ = nullptr;
  inherited::Destroy();
}

bool TZipWriter::AddFileEntry(const std::string& fileName, const std::string& nameInZip) {
  return AddFileToZip(archive_, fileName, nameInZip, password_);
}
