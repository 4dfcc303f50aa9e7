// The log step of a report: the report text stored in the log file between
// the before- and after-logging notifications, retried while an error
// handler asks for it. The system parts come in through TLogStepHooks.
#pragma once

#include <exception>
#include <functional>
#include <string>

class TLogFile;

struct TLogStepHooks {
  bool LogSaving = false;         // WriteLogFile
  bool Duplicate = false;         // the report is already in the log
  int MaxEntries = -1;            // MaxLoggedErrors
  bool WholeLogAsReport = false;  // SendFlags 4: the report becomes the whole log
  // The open log file object (OpenLogFile); may raise.
  std::function<TLogFile&()> OpenLog;
  std::function<void()> CloseLog;
  std::function<void()> ClearWarning;
  // Actions 2 (before logging) and 3 (after logging) on the faulting thread.
  std::function<void(int action, bool& execute)> NotifyAction;
  // The error notification (action 3) that may ask for a retry.
  std::function<void(bool& retry)> NotifyError;
  // Library warning eeLogError with the context "Log".
  std::function<void(const std::exception_ptr& error)> Warn;
};

// Runs the log step; `reportText` becomes the whole log with WholeLogAsReport.
// `cont` ends false when a handler cleared it or the step failed. Never raises.
void SaveReportToLogFile(std::string& reportText, const TLogStepHooks& hooks, bool& cont);

// The "Ok" button of the web error page, which goes back one page.
constexpr const char* kWebErrorPageButton =
    "<br><input type=button value=\"Ok\" OnClick=\"history.go(-1)\" "
    "style=\"width:75;height:25;z-index:100;font-style:normal;font-size:10pt;text-decoration:none;\">";
// The page with the "Ok" button appended, unless it already holds it (compared without regard to case).
std::string WithWebErrorPageButton(const std::string& page);
