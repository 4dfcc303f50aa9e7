// The parts of report sending that need no system: the "mailto:" URL, the
// text of the log copy, the repeated-crash rule and the mail command line.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "Strings.h"

// Keeps "-", digits, letters and every byte from 0x80 to 0xFF; every other
// byte becomes "%" and two upper-case hexadecimal digits.
std::string EscapeMailtoText(const std::string& text);
// "mailto:" + addresses + "?Subject=" + subject + "&Body=" + body, each escaped.
std::string BuildMailtoUrl(const std::string& addresses, const std::string& subject, const std::string& body);
// Every "%1" of the registered command replaced by the URL (a "%1" inside the URL stays).
std::string MailtoCommandLine(const std::string& command, const std::string& url);
// The longest command line a program can be started with (characters before the terminating zero).
constexpr std::size_t kMaxCommandLineLength = 32766;
// The last line of a mail body that was cut to fit the command line.
constexpr const char* kMailtoCutLine =
    "[The report is cut here: the whole report is on the clipboard and in the kept report archive.]";
// The mail program's command line for a mail of `body`, at most `limit`
// characters long where it can be: a body too long for it is cut after its
// last line that fits, and kMailtoCutLine is added as its last line (`cut`).
std::string FitMailtoCommandLine(const std::string& command, const std::string& addresses, const std::string& subject,
                                 const std::string& body, std::size_t limit, bool& cut);
// The text of the log copy: three CRLF pairs appended unless it already ends with them.
std::string LogCopyText(const std::string& text);
// Whether the repeated-crash rule applies: exactly `count` crash times, the
// newest at most `minutes` after the oldest ("yyyy-mm-dd hh:nn:ss" texts).
bool CrashLimitReached(const TStrings& crashTimes, std::int32_t count, std::int32_t minutes);
