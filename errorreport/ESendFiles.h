// The files that go with a sent report: the archive they are packed into,
// and the archives kept in the log folder after a failed send.
#pragma once

#include <string>

#include "EReportFiles.h"
#include "Method.h"
#include "Strings.h"

// At most this many kept archives stay in a folder.
constexpr int kKeptZipFileLimit = 10;

// Whether a file name is one of the kept report archives: "BugReport.zip",
// or "BugReport" decorated with "__..." parts before ".zip" (case ignored).
bool IsKeptZipFileName(const std::string& name);
// Deletes the oldest-named kept archives of the folder beyond kKeptZipFileLimit.
// Other ZIP files of the folder (the user's) are left alone.
void PruneKeptZipFiles(const std::string& folder);

// Lets the program add files to the list before it is packed.
using TAttachedFilesRequest = Method<void(TStrings& files)>;

// The attachments (CollectAttachedFiles, then the program's request), those
// that exist packed into the archive at GetZipFilePath with `zipPassword`
// under their names without folder; the list then holds the archive's path
// alone (also when there was nothing to pack).
void PrepareSendFiles(bool forEmail, TStrings& files, const TReportFileFacts& facts, const std::string& extraFiles,
                      bool reportInMailBody, const std::string& zipPassword, TAttachedFilesRequest request);
