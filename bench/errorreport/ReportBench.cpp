// Building the golden report of the builder's checks (header of 47 fields,
// call stack of two threads, three modules, two processes, the listing, the
// registers and the memory dump) 1,000 times. Beside it, in the same run: the
// report's own lines appended one by one into a text of the same size, the
// floor of writing that much text. Goal: under 5 ms per report.
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "GoldenReport.h"

namespace {

template <class F>
double Seconds(F&& f) {
  const auto start = std::chrono::steady_clock::now();
  f();
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

}  // namespace

int main() {
  constexpr int kReports = 1000;
  report_fixtures::GoldenReport golden;
  TReportTexts texts;
  std::size_t total = 0;
  const double building = Seconds([&] {
    for (int i = 0; i < kReports; ++i) total += BuildTextReport(golden.frame, texts).size();
  });

  std::vector<std::string> lines;
  for (std::size_t at = 0; at < texts.Report.size();) {
    const std::size_t end = texts.Report.find("\r\n", at);
    const std::size_t next = end == std::string::npos ? texts.Report.size() : end + 2;
    lines.push_back(texts.Report.substr(at, next - at));
    at = next;
  }
  std::size_t copied = 0;
  const double appending = Seconds([&] {
    for (int i = 0; i < kReports; ++i) {
      std::string text;
      for (const std::string& line : lines) text += line;
      copied += text.size();
    }
  });

  std::printf("golden report: %zu bytes, %zu lines\n", texts.Report.size(), lines.size());
  std::printf("building it %d times: %.1f ms (%.1f us per report)\n", kReports, building * 1e3,
              building * 1e6 / kReports);
  std::printf("reference, appending its lines into one text %d times: %.1f ms (%.1f us per text)\n", kReports,
              appending * 1e3, appending * 1e6 / kReports);
  std::printf("goal: under 5 ms per report: %s\n", building / kReports < 0.005 ? "met" : "NOT met");
  return total == copied ? 0 : 1;
}
