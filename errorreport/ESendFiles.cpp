#include "ESendFiles.h"

#include <algorithm>
#include <vector>

#include "EZip.h"
#include "FileApi.h"
#include "SysUtils.h"

bool IsKeptZipFileName(const std::string& name) {
  const std::string upper = UpperCase(name);
  const std::string base = "BUGREPORT", ext = ".ZIP";
  if (upper.size() < base.size() + ext.size() || upper.compare(0, base.size(), base) != 0 ||
      upper.compare(upper.size() - ext.size(), ext.size(), ext) != 0)
    return false;
  const std::string middle = upper.substr(base.size(), upper.size() - base.size() - ext.size());
  return middle.empty() || middle.compare(0, 2, "__") == 0;
}

void PruneKeptZipFiles(const std::string& folder) {
  // The folder is read through the file layer (the program's own, or the C
  // library's), not <filesystem>, which brings the C++ library's locale
  // machinery along.
#if defined(_WIN32)
  const char separator = '\\';
#else
  const char separator = '/';
#endif
  if (folder.empty()) return;
  std::string prefix = folder;
  if (prefix.back() != '/' && prefix.back() != '\\') prefix += separator;
  std::vector<std::string> names;
  for (const TSearchEntry& entry : FindFiles(prefix + "*", faAnyFile & ~faDirectory))
    if (!(entry.Attributes & faDirectory) && IsKeptZipFileName(entry.Name)) names.push_back(entry.Name);
  if (static_cast<int>(names.size()) <= kKeptZipFileLimit) return;
  std::sort(names.begin(), names.end());
  const std::size_t extra = names.size() - static_cast<std::size_t>(kKeptZipFileLimit);
  for (std::size_t i = 0; i < extra; ++i) DeleteFile(prefix + names[i]);
}

void PrepareSendFiles(bool forEmail, TStrings& files, const TReportFileFacts& facts, const std::string& extraFiles,
                      bool reportInMailBody, const std::string& zipPassword, TAttachedFilesRequest request) {
  CollectAttachedFiles(forEmail, files, facts, extraFiles, reportInMailBody);
  if (request) request(files);
  for (int i = files.Count() - 1; i >= 0; --i)
    if (!FileExists(files[i])) files.Delete(i);
  const std::string archive = GetZipFilePath(facts);
  if (files.Count() > 0) {
    TOwned<TZipWriter> zip(New<TZipWriter>(archive, zipPassword));
    for (int i = 0; i < files.Count(); ++i) zip->AddFileEntry(files[i], ExtractFileName(files[i]));
  }
  files.Clear();
  files.Add(archive);
}
