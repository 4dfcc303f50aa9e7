#include "ESendFiles.h"

#include <algorithm>
#include <filesystem>
#include <system_error>
#include <vector>

#include "EZip.h"
#include "FileApi.h"
#include "SysUtils.h"

namespace fs = std::filesystem;

namespace {

std::string Utf8Of(const fs::path& path) {
  const std::u8string text = path.u8string();
  return std::string(text.begin(), text.end());
}

}  // namespace

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
  std::vector<std::string> names;
  std::error_code ec;
  for (fs::directory_iterator it(fs::u8path(folder), ec), end; !ec && it != end; it.increment(ec)) {
    std::error_code typeError;
    if (!it->is_regular_file(typeError)) continue;
    const std::string name = Utf8Of(it->path().filename());
    if (IsKeptZipFileName(name)) names.push_back(name);
  }
  if (static_cast<int>(names.size()) <= kKeptZipFileLimit) return;
  std::sort(names.begin(), names.end());
  const std::size_t extra = names.size() - static_cast<std::size_t>(kKeptZipFileLimit);
  for (std::size_t i = 0; i < extra; ++i) DeleteFile(Utf8Of(fs::u8path(folder) / fs::u8path(names[i])));
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
