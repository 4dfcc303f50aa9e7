#include "ESendReport.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "Strings.h"

TEST(MailtoUrl, EscapesEveryByteButLettersDigitsDashAndHighBytes) {
  struct Case {
    std::string text, escaped;
  };
  const std::vector<Case> cases = {
      {"Crash report", "Crash%20report"},   {"a-b_c.d~e", "a-b%5Fc%2Ed%7Ee"},       {"x\r\ny", "x%0D%0Ay"},
      {"50%&?=#+", "50%25%26%3F%3D%23%2B"}, {std::string("\x00\x7F", 2), "%00%7F"}, {"\xC3\xA9\xFF", "\xC3\xA9\xFF"},
  };
  for (const Case& c : cases) EXPECT_EQ(EscapeMailtoText(c.text), c.escaped) << c.text;
  EXPECT_EQ(BuildMailtoUrl("a@b.c;d@e.f", "S 1", "B\r\n"), "mailto:a%40b%2Ec%3Bd%40e%2Ef?Subject=S%201&Body=B%0D%0A");
}

TEST(MailtoUrl, CommandLineTakesTheUrlForEveryPlaceholderOnly) {
  EXPECT_EQ(MailtoCommandLine("\"mail.exe\" /m %1", "mailto:x"), "\"mail.exe\" /m mailto:x");
  EXPECT_EQ(MailtoCommandLine("a %1 b %1", "u"), "a u b u");
  // A "%1" that the URL brings along is not replaced again.
  EXPECT_EQ(MailtoCommandLine("m %1", "mailto:%1%1"), "m mailto:%1%1");
  EXPECT_EQ(MailtoCommandLine("m", "u"), "m");
}

namespace {

// The text a "mailto:" URL's part stands for.
std::string Unescape(const std::string& text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '%' && i + 2 < text.size()) {
      out += static_cast<char>(std::stoi(text.substr(i + 1, 2), nullptr, 16));
      i += 2;
    } else {
      out += text[i];
    }
  }
  return out;
}

// A report with a modules table of `count` rows.
std::string ReportOfModules(int count) {
  std::string report = "Application:\r\n------------\r\n  1.1 Start Date : Mon, 7 Dec 2026 10:00:00 +0100\r\n\r\n";
  report += "Modules Information:\r\n";
  for (int i = 0; i < count; ++i)
    report +=
        "|" + std::to_string(0x7C800000 + i * 0x10000) + "|module" + std::to_string(i) +
        ".dll|Windows NT BASE API Client DLL|5.1.2600.5781|966.50 Kb|2009-04-01 12:00:00|C:\\WINDOWS\\system32|\r\n";
  return report;
}

}  // namespace

TEST(MailtoUrl, ALongReportIsCutAtALineEndToFitTheCommandLine) {
  const std::string command = "\"C:\\Program Files\\Mail\\mail.exe\" /compose \"%1\"";
  const std::string body = "Please look at it.\r\n\r\n\r\n" + ReportOfModules(200);
  bool cut = false;
  const std::string line = FitMailtoCommandLine(command, "bugs@example.com", "Crash", body, kMaxCommandLineLength, cut);
  ASSERT_GT(MailtoCommandLine(command, BuildMailtoUrl("bugs@example.com", "Crash", body)).size(),
            kMaxCommandLineLength);
  EXPECT_TRUE(cut);
  EXPECT_LE(line.size(), kMaxCommandLineLength);
  const std::string head =
      "\"C:\\Program Files\\Mail\\mail.exe\" /compose \"mailto:bugs%40example%2Ecom?Subject=Crash&Body=";
  ASSERT_EQ(line.rfind(head, 0), 0u) << line.substr(0, 200);
  ASSERT_EQ(line.back(), '"');
  const std::string sent = Unescape(line.substr(head.size(), line.size() - head.size() - 1));
  // The body's beginning up to a line end, then the line that says it was cut.
  ASSERT_GT(sent.size(), std::string(kMailtoCutLine).size());
  const std::string kept = sent.substr(0, sent.size() - std::string(kMailtoCutLine).size());
  EXPECT_EQ(sent.substr(kept.size()), kMailtoCutLine);
  EXPECT_EQ(body.rfind(kept, 0), 0u);
  EXPECT_EQ(kept.substr(kept.size() - 2), "\r\n");
  EXPECT_GT(kept.size(), 5000u);
  // The next line would not have fitted.
  const std::size_t next = body.find("\r\n", kept.size()) + 2;
  EXPECT_GT(
      MailtoCommandLine(command, BuildMailtoUrl("bugs@example.com", "Crash", body.substr(0, next) + kMailtoCutLine))
          .size(),
      kMaxCommandLineLength);

  // A report that fits goes whole, and a limit that not even the cut line fits gives that line.
  const std::string small = "Hi\r\n" + ReportOfModules(3);
  EXPECT_EQ(FitMailtoCommandLine(command, "a@b.c", "S", small, kMaxCommandLineLength, cut),
            MailtoCommandLine(command, BuildMailtoUrl("a@b.c", "S", small)));
  EXPECT_FALSE(cut);
  EXPECT_EQ(FitMailtoCommandLine("m %1", "", "", small, 20, cut), "m " + BuildMailtoUrl("", "", kMailtoCutLine));
  EXPECT_TRUE(cut);
}

TEST(LogCopy, EndsWithThreeLineBreaksOnce) {
  EXPECT_EQ(LogCopyText("r"), "r\r\n\r\n\r\n");
  EXPECT_EQ(LogCopyText("r\r\n\r\n\r\n"), "r\r\n\r\n\r\n");
  EXPECT_EQ(LogCopyText("r\r\n"), "r\r\n\r\n\r\n\r\n");
  EXPECT_EQ(LogCopyText(""), "\r\n\r\n\r\n");
}

TEST(CrashRule, AppliesWithExactlyCountTimesWithinTheMinutes) {
  struct Case {
    std::vector<std::string> times;
    int count, minutes;
    bool reached;
  };
  const std::vector<Case> cases = {
      {{"2026-12-10 10:00:00", "2026-12-10 10:04:00", "2026-12-10 10:05:00"}, 3, 5, true},
      {{"2026-12-10 10:00:00", "2026-12-10 10:04:00", "2026-12-10 10:05:01"}, 3, 5, false},
      {{"2026-12-10 10:00:00", "2026-12-10 10:01:00"}, 3, 5, false},  // not yet as many as the count
      {{"2026-12-10 23:59:00", "2026-12-11 00:01:00"}, 2, 2, true},   // over midnight
      {{"garbage", "2026-12-10 10:00:00"}, 2, 60, false},
      {{"2026-12-10 10:00:00"}, 0, 60, false},
  };
  for (const Case& c : cases) {
    TStringList list;
    for (const std::string& t : c.times) list.Add(t);
    EXPECT_EQ(CrashLimitReached(list, c.count, c.minutes), c.reached) << c.times.back() << " " << c.count;
  }
}
