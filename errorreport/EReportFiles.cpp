#include "EReportFiles.h"

#include "ECore.h"
#include "ELogManager.h"

namespace {
std::string InTemp(const TReportFileFacts& facts, const std::string& name) {
  return facts.TempFolder + name;
}

// The file part of a Windows or portable path.
std::string FilePart(const std::string& path) {
  const std::size_t slash = path.find_last_of("\\/:");
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string TwoDigits(int value) {
  return (value < 10 ? "0" : "") + IntToStr(value);
}
}  // namespace

std::string ReadTextFile(const std::string& fileName) {
  if (fileName.empty() || !FileExists(fileName)) return std::string();
  try {
    TOwned<TFileStream> f(New<TFileStream>(fileName, fmOpenRead | fmShareDenyNone));
    const std::int64_t size = f->Size();
    std::string text;
    if (size <= 0) return text;
    text.resize(static_cast<std::size_t>(size));
    if (f->Read(text.data(), size) != size) return std::string();
    return text;
  } catch (const Exception&) {
    return std::string();
  }
}

std::string GetScreenshotFilePath(const TReportFileFacts& facts) {
  return (facts.SendFlags & 0x10) ? InTemp(facts, "Screenshot.png") : std::string();
}

std::string GetTakenScreenshotFilePath(const TReportFileFacts& facts) {
  return facts.ScreenshotTaken ? GetScreenshotFilePath(facts) : std::string();
}

std::string GetLogCopyFilePath(const TReportFileFacts& facts) {
  return InTemp(facts, FilePart(facts.LogFileName));
}

std::string GetZipFilePath(const TReportFileFacts& facts) {
  return InTemp(facts, "BugReport.zip");
}

std::string GetDebugDataTempFilePath(const TReportFileFacts& facts) {
  return InTemp(facts,
                IntToHex(facts.ProcessId, 8) + IntToHex(static_cast<std::uint32_t>(facts.ModuleHandle), 8) + ".bin");
}

std::string GetLastHtmlPageFilePath(const TReportFileFacts& facts) {
  return (facts.SendFlags & 0x40) ? InTemp(facts, "LastHTMLPage.html") : std::string();
}

std::string GetCapturedHtmlPageFilePath(const TReportFileFacts& facts) {
  return facts.PageCaptured ? GetLastHtmlPageFilePath(facts) : std::string();
}

std::string GetXmlLogFilePath(const TReportFileFacts& facts) {
  if (!(facts.SendFlags & 8)) return {};
  return InTemp(facts, ChangeFileExt(FilePart(facts.LogFileName), ".xml"));
}

std::string DecorateSendFileName(const std::string& file, std::uint16_t sendFlags, const std::string& computerName,
                                 TDateTime exceptionTime) {
  const std::string name = FilePart(file);
  const std::string ext = ExtractFileExt(name);
  std::string result = name.substr(0, name.size() - ext.size());
  if (sendFlags & 0x200) result += "__" + computerName;
  if (sendFlags & 0x100) {
    int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0, msec = 0;
    DecodeDate(exceptionTime, year, month, day);
    DecodeTime(exceptionTime, hour, minute, second, msec);
    result += "__" + IntToStr(year) + TwoDigits(month) + TwoDigits(day) + TwoDigits(hour) + TwoDigits(minute) +
              TwoDigits(second);
  }
  return result + ext;
}

void CollectAttachedFiles(bool forMail, TStrings& list, const TReportFileFacts& facts, const std::string& extraFiles,
                          bool reportInMailBody) {
  list.Clear();
  SplitTextAtChars(extraFiles, list, ";", false, false);
  const std::string logCopy = GetLogCopyFilePath(facts);
  if (!forMail || (!reportInMailBody && !FilePart(facts.LogFileName).empty())) list.Add(logCopy);
  for (const std::string& file :
       {GetTakenScreenshotFilePath(facts), GetCapturedHtmlPageFilePath(facts), GetXmlLogFilePath(facts)})
    if (!file.empty()) list.Add(file);
}

bool FindDuplicateError(TLogFile& log, const std::string& bugId, bool count, bool& changed) {
  changed = false;
  int entry = -1;
  if (bugId.empty() || log.FindMatchingField({"2.7"}, 0, {bugId}, &entry) < 0) return false;
  if (count) {
    std::string value;
    log.GetEntryField("2.8", entry, value);
    int number = 1;
    if (!TryStrToInt(value, number) || number < 0) number = 1;
    if (number < 0x7FFFFFFF) ++number;
    log.SetEntryField("2.8", IntToStr(number), entry, "Count");
    changed = true;
  }
  return true;
}

bool CheckDuplicateInLogFile(const std::string& fileName, const std::string& bugId, bool count) {
  TOwned<TLogFile> log(New<TLogFile>(fileName, false));
  bool changed = false;
  const bool duplicate = FindDuplicateError(*log, bugId, count, changed);
  if (changed) log->WriteBack();
  return duplicate;
}
