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
