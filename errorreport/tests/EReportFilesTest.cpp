// The report's files: their names in the temporary folder and when sent,
// the attachment list and the duplicate test.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "ELogManager.h"
#include "EReportFiles.h"

namespace {

TReportFileFacts Facts() {
  TReportFileFacts facts;
  facts.TempFolder = "C:\\TEMP\\";
  facts.LogFileName = "C:\\Logs\\app.vlf";
  facts.ProcessId = 0x1A2B;
  facts.ModuleHandle = 0x00400000;
  return facts;
}

std::vector<std::string> Items(const TStrings& list) {
  std::vector<std::string> items;
  for (int i = 0; i < list.GetCount(); ++i) items.push_back(list.Get(i));
  return items;
}

TEST(ReportFiles, ArtefactPaths) {
  TReportFileFacts facts = Facts();
  EXPECT_EQ(GetScreenshotFilePath(facts), "");
  EXPECT_EQ(GetLastHtmlPageFilePath(facts), "");
  EXPECT_EQ(GetXmlLogFilePath(facts), "");
  EXPECT_EQ(GetLogCopyFilePath(facts), "C:\\TEMP\\app.vlf");
  EXPECT_EQ(GetZipFilePath(facts), "C:\\TEMP\\BugReport.zip");
  EXPECT_EQ(GetDebugDataTempFilePath(facts), "C:\\TEMP\\00001A2B00400000.bin");
  facts.SendFlags = 0x10 | 0x40 | 8;
  EXPECT_EQ(GetScreenshotFilePath(facts), "C:\\TEMP\\Screenshot.png");
  EXPECT_EQ(GetTakenScreenshotFilePath(facts), "");
  EXPECT_EQ(GetLastHtmlPageFilePath(facts), "C:\\TEMP\\LastHTMLPage.html");
  EXPECT_EQ(GetCapturedHtmlPageFilePath(facts), "");
  EXPECT_EQ(GetXmlLogFilePath(facts), "C:\\TEMP\\app.xml");
  facts.ScreenshotTaken = facts.PageCaptured = true;
  EXPECT_EQ(GetTakenScreenshotFilePath(facts), "C:\\TEMP\\Screenshot.png");
  EXPECT_EQ(GetCapturedHtmlPageFilePath(facts), "C:\\TEMP\\LastHTMLPage.html");
}

TEST(ReportFiles, DecorateSendFileName) {
  const TDateTime time = EncodeDate(2024, 1, 1) + EncodeTime(12, 0, 0, 0);
  struct Case {
    std::uint16_t flags;
    const char* file;
    const char* name;
  } cases[] = {
      {0x300, "C:\\Logs\\log.vlf", "log__PC1__20240101120000.vlf"},
      {0x200, "C:\\Logs\\log.vlf", "log__PC1.vlf"},
      {0x100, "log.vlf", "log__20240101120000.vlf"},
      {0, "C:\\Logs\\log.vlf", "log.vlf"},
      {0x300, "C:\\Logs\\README", "README__PC1__20240101120000"},
  };
  for (const Case& c : cases) EXPECT_EQ(DecorateSendFileName(c.file, c.flags, "PC1", time), c.name) << c.flags;
}

TEST(ReportFiles, CollectAttachedFiles) {
  struct Case {
    const char* name;
    bool forMail, inBody, taken;
    std::uint16_t flags;
    std::vector<std::string> files;
  } cases[] = {
      {"extra files, blanks and an empty entry", false, false, false, 0, {"a.txt", "C:\\b c.ini", "C:\\TEMP\\app.vlf"}},
      {"a screenshot enabled but not taken", true, false, false, 0x10, {"a.txt", "C:\\b c.ini", "C:\\TEMP\\app.vlf"}},
      {"a taken screenshot and the XML log",
       true,
       false,
       true,
       0x18,
       {"a.txt", "C:\\b c.ini", "C:\\TEMP\\app.vlf", "C:\\TEMP\\Screenshot.png", "C:\\TEMP\\app.xml"}},
      {"the report in the mail body", true, true, false, 0, {"a.txt", "C:\\b c.ini"}},
      {"not for mail: the log copy always", false, true, false, 0, {"a.txt", "C:\\b c.ini", "C:\\TEMP\\app.vlf"}},
  };
  for (const Case& c : cases) {
    TReportFileFacts facts = Facts();
    facts.SendFlags = c.flags;
    facts.ScreenshotTaken = c.taken;
    TOwned<TStringList> list(New<TStringList>());
    list->Add("stale");
    CollectAttachedFiles(c.forMail, *list, facts, "  a.txt ; ;C:\\b c.ini  ;", c.inBody);
    EXPECT_EQ(Items(*list), c.files) << c.name;
  }
}

const std::string kSep = "\r\n\r\n\r\n\r\n";
std::string Entry(const std::string& id, const std::string& count) {
  return "VantorLog 6.0.22\r\n\r\nException:\r\n---\r\n  2.7 ID   : " + id + "\r\n  2.8 Count: " + count +
         "\r\n\r\nCall Stack Information:\r\n-\r\n|x|\r\n-";
}

TEST(ReportFiles, DuplicatesAreFoundAndCounted) {
  struct Case {
    const char* name;
    std::string log, id;
    bool count, duplicate, changed;
    std::string countAfter;  // of the last entry
  } cases[] = {
      {"another identifier", Entry("AAAA", "1"), "BBBB", true, false, false, "1"},
      {"the same identifier, counted", Entry("AAAA", "1"), "AAAA", true, true, true, "2"},
      {"the same identifier, not counted", Entry("AAAA", "1"), "AAAA", false, true, false, "1"},
      {"a count that is no number", Entry("AAAA", "many"), "AAAA", true, true, true, "2"},
      {"the last matching entry is counted", Entry("AAAA", "4") + kSep + Entry("AAAA", "7"), "AAAA", true, true, true,
       "8"},
      {"an empty identifier", Entry("", "1"), "", true, false, false, "1"},
  };
  for (const Case& c : cases) {
    TOwned<TLogFile> log(New<TLogFile>());
    log->LoadText(c.log);
    bool changed = true;
    EXPECT_EQ(FindDuplicateError(*log, c.id, c.count, changed), c.duplicate) << c.name;
    EXPECT_EQ(changed, c.changed) << c.name;
    std::string count;
    log->GetEntryField("2.8", log->GetEntryCount() - 1, count);
    EXPECT_EQ(count, c.countAfter) << c.name;
  }
}

TEST(ReportFiles, DuplicateTestOnTheLogFile) {
  const std::filesystem::path file = std::filesystem::temp_directory_path() / "report-files-duplicate.vlf";
  const std::string text = Entry("AAAA", "1") + kSep + Entry("BBBB", "1") + "\r\n\r\n\r\n";
  std::ofstream(file, std::ios::binary) << text;
  const auto read = [&] {
    std::ifstream in(file, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  };
  EXPECT_FALSE(CheckDuplicateInLogFile(file.string(), "CCCC", true));
  EXPECT_EQ(read(), text);
  EXPECT_TRUE(CheckDuplicateInLogFile(file.string(), "BBBB", false));
  EXPECT_EQ(read(), text);
  EXPECT_TRUE(CheckDuplicateInLogFile(file.string(), "BBBB", true));
  EXPECT_EQ(read(), Entry("AAAA", "1") + kSep + Entry("BBBB", "2") + "\r\n\r\n\r\n");
  std::filesystem::remove(file);
  EXPECT_FALSE(CheckDuplicateInLogFile(file.string(), "BBBB", true));
  EXPECT_FALSE(std::filesystem::exists(file));
}

TEST(ReportFiles, ReadTextFile) {
  // A folder of this run's own (test programs of several trees may run at once).
  const std::filesystem::path folder =
      std::filesystem::temp_directory_path() /
      ("report-files-read-" + std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()));
  std::filesystem::create_directories(folder);
  // Every byte value, line ends kept as they are, and more than any one read buffer.
  std::string whole;
  for (int i = 0; i < 300000; ++i) whole += static_cast<char>(i % 256);
  whole += "\r\nlast line\n";
  const struct {
    const char* name;
    const std::string* content;  // null: nothing is read (an empty or a missing file)
  } cases[] = {{"whole.txt", &whole}, {"empty.txt", nullptr}, {"missing.txt", nullptr}};
  std::ofstream(folder / "whole.txt", std::ios::binary) << whole;
  std::ofstream(folder / "empty.txt", std::ios::binary).flush();
  for (const auto& c : cases) {
    const std::string got = ReadTextFile((folder / c.name).string());
    EXPECT_EQ(got.size(), c.content ? c.content->size() : 0u) << c.name;
    EXPECT_TRUE(got == (c.content ? *c.content : std::string())) << c.name;
  }
  EXPECT_EQ(ReadTextFile(""), "");
  EXPECT_EQ(ReadTextFile(folder.string()), "");  // a folder is no file
  std::filesystem::remove_all(folder);
}

}  // namespace
