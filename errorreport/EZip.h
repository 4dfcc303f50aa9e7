// Writing the report archive through minizip: entries deflated at level 9,
// optionally with the traditional ZIP encryption.
#pragma once

#include <string>

#include "Object.h"

struct TZipArchive;

// Deletes the file, then creates an empty archive there; null on failure.
TZipArchive* CreateZipArchive(const std::string& fileName);
// Adds the whole file as `nameInZip`, stamped with its last-write time; an
// empty password stores it unencrypted. False on any failure.
bool AddFileToZip(TZipArchive* archive, const std::string& fileName, const std::string& nameInZip,
                  const std::string& password);
// Closes the open entry and the archive, and frees the handle; true when both succeed.
bool CloseZipArchive(TZipArchive* archive);

class TZipWriter : public TObject {
  FW_CLASS(TZipWriter, TObject)
 public:
  TZipWriter(const std::string& zipFile, const std::string& password);
  void Destroy() override;
  bool AddFileEntry(const std::string& fileName, const std::string& nameInZip);
  bool IsOpen() const { return archive_ != nullptr; }

 private:
  TZipArchive* archive_ = nullptr;
  std::string password_;
};
