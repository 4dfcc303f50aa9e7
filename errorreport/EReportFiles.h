// The files a report leaves in the temporary folder, their names when sent,
// the list of files to attach, and the duplicate test against the log.
#pragma once

#include <cstdint>
#include <string>

#include "Strings.h"
#include "SysUtils.h"

class TLogFile;

// What the artefact names are made of.
struct TReportFileFacts {
  std::string TempFolder;       // ends in "\"
  std::uint16_t SendFlags = 0;  // 8 XML log, 0x10 screenshot, 0x40 last web page
  std::string LogFileName;      // the module's log file, percent variables expanded
  std::uint32_t ProcessId = 0;
  std::uintptr_t ModuleHandle = 0;
  bool ScreenshotTaken = false;
  bool PageCaptured = false;
};

std::string GetScreenshotFilePath(const TReportFileFacts& facts);
std::string GetTakenScreenshotFilePath(const TReportFileFacts& facts);
std::string GetLogCopyFilePath(const TReportFileFacts& facts);
std::string GetZipFilePath(const TReportFileFacts& facts);
std::string GetDebugDataTempFilePath(const TReportFileFacts& facts);
std::string GetLastHtmlPageFilePath(const TReportFileFacts& facts);
std::string GetCapturedHtmlPageFilePath(const TReportFileFacts& facts);
std::string GetXmlLogFilePath(const TReportFileFacts& facts);

// The file's name without folder, with "__" + computer name (SendFlags 0x200)
// and "__" + the exception time as yyyymmddhhnnss (0x100) before the extension.
std::string DecorateSendFileName(const std::string& file, std::uint16_t sendFlags, const std::string& computerName,
                                 TDateTime exceptionTime);

// The files to attach: the trimmed, non-empty names of `extraFiles` (split at
// ";"), the log copy (always unless for mail; for mail only while the report
// is not in the mail body), then the taken screenshot, the captured page and
// the XML log, each when it has a name.
void CollectAttachedFiles(bool forMail, TStrings& list, const TReportFileFacts& facts, const std::string& extraFiles,
                          bool reportInMailBody);

// The whole text of an existing file; empty when the name is empty, the file
// is missing or cannot be read to its end.
std::string ReadTextFile(const std::string& fileName);

// The duplicate test on an open log: whether an entry's item "2.7" is the bug
// identifier. With `count`, that entry's item "2.8" (1 when it is no number)
// is raised by one under the label "Count", and `changed` is set so that the
// caller writes the log back.
bool FindDuplicateError(TLogFile& log, const std::string& bugId, bool count, bool& changed);
// The same on the log file of that name, written back only when a count changed.
bool CheckDuplicateInLogFile(const std::string& fileName, const std::string& bugId, bool count);
