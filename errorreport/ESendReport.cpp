#include "ESendReport.h"

#include <cstdio>
#include <vector>

#include "SysUtils.h"

std::string EscapeMailtoText(const std::string& text) {
  static const char digits[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(text.size() * 3);
  for (char ch : text) {
    const auto c = static_cast<unsigned char>(ch);
    if (c == '-' || (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c >= 0x80) {
      out += ch;
    } else {
      out += '%';
      out += digits[c >> 4];
      out += digits[c & 15];
    }
  }
  return out;
}

std::string BuildMailtoUrl(const std::string& addresses, const std::string& subject, const std::string& body) {
  return "mailto:" + EscapeMailtoText(addresses) + "?Subject=" + EscapeMailtoText(subject) +
         "&Body=" + EscapeMailtoText(body);
}

std::string MailtoCommandLine(const std::string& command, const std::string& url) {
  std::string line;
  std::size_t from = 0;
  for (std::size_t at = command.find("%1"); at != std::string::npos; at = command.find("%1", from)) {
    line.append(command, from, at - from);
    line += url;
    from = at + 2;
  }
  line.append(command, from, std::string::npos);
  return line;
}

std::string FitMailtoCommandLine(const std::string& command, const std::string& addresses, const std::string& subject,
                                 const std::string& body, std::size_t limit, bool& cut) {
  cut = false;
  std::string line = MailtoCommandLine(command, BuildMailtoUrl(addresses, subject, body));
  if (line.size() <= limit) return line;
  cut = true;
  // The places the body may be cut: its start and after each line end.
  std::vector<std::size_t> ends{0};
  for (std::size_t at = body.find("\r\n"); at != std::string::npos; at = body.find("\r\n", at + 2))
    ends.push_back(at + 2);
  auto lineCutAt = [&](std::size_t length) {
    return MailtoCommandLine(command, BuildMailtoUrl(addresses, subject, body.substr(0, length) + kMailtoCutLine));
  };
  // The line grows with the kept length: the last cut that fits, found by halving.
  std::size_t fits = 0, tooLong = ends.size();
  std::string best = lineCutAt(0);
  if (best.size() > limit) return best;  // not even the cut line fits: starting the program fails
  while (tooLong - fits > 1) {
    const std::size_t middle = fits + (tooLong - fits) / 2;
    std::string candidate = lineCutAt(ends[middle]);
    if (candidate.size() <= limit) {
      fits = middle;
      best = std::move(candidate);
    } else {
      tooLong = middle;
    }
  }
  return best;
}

std::string LogCopyText(const std::string& text) {
  static const std::string ending = "\r\n\r\n\r\n";
  if (text.size() >= ending.size() && text.compare(text.size() - ending.size(), ending.size(), ending) == 0)
    return text;
  return text + ending;
}

namespace {
bool ParseCrashTime(const std::string& text, TDateTime& time) {
  int y = 0, mo = 0, d = 0, h = 0, mi = 0, s = 0;
  if (std::sscanf(text.c_str(), "%d-%d-%d %d:%d:%d", &y, &mo, &d, &h, &mi, &s) != 6) return false;
  try {
    time = EncodeDate(y, mo, d) + EncodeTime(h, mi, s, 0);
  } catch (...) {
    return false;
  }
  return true;
}
}  // namespace

bool CrashLimitReached(const TStrings& crashTimes, std::int32_t count, std::int32_t minutes) {
  if (count <= 0 || crashTimes.Count() != count) return false;
  TDateTime oldest = 0, newest = 0;
  if (!ParseCrashTime(crashTimes[0], oldest) || !ParseCrashTime(crashTimes[count - 1], newest)) return false;
  // A second's slack for the rounding of the day fractions.
  return newest - oldest <= static_cast<double>(minutes) / 1440.0 + 1.0 / 864000.0;
}
