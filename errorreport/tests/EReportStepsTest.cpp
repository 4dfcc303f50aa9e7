// The log step of a report with its notifications, and the filter step.
#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "ECore.h"
#include "ELogManager.h"
#include "EReportSteps.h"
#include "SysUtils.h"

namespace {

const std::string kReport = "VantorLog 6.0.22\r\n\r\n  2.7 ID: AAAA\r\nCall Stack Information:\r\n-\r\n|x|\r\n-";

// A log step whose log file is in memory; `failures` opens fail that many times.
struct StepFixture {
  TOwned<TLogFile> log{New<TLogFile>()};
  std::vector<std::string> calls;
  int failures = 0;
  int writes = 0;
  bool retryAnswer = false;
  TLogStepHooks hooks;

  StepFixture() {
    hooks.LogSaving = true;
    hooks.MaxEntries = 3;
    hooks.OpenLog = [this]() -> TLogFile& {
      calls.push_back("open");
      if (failures > 0) {
        --failures;
        throw std::runtime_error("cannot open");
      }
      return *log;
    };
    hooks.CloseLog = [this] { calls.push_back("close"); };
    hooks.ClearWarning = [this] { calls.push_back("clear"); };
    hooks.NotifyAction = [this](int action, bool&) { calls.push_back("action " + std::to_string(action)); };
    hooks.NotifyError = [this](bool& retry) {
      calls.push_back("error");
      retry = retryAnswer;
    };
    hooks.Warn = [this](const std::exception_ptr&) { calls.push_back("warn Log"); };
  }
};

TEST(LogStep, AppendsBetweenTheNotifications) {
  StepFixture f;
  std::string report = kReport;
  bool cont = false;
  SaveReportToLogFile(report, f.hooks, cont);
  EXPECT_TRUE(cont);
  EXPECT_EQ(f.log->GetEntryCount(), 1);
  EXPECT_EQ(f.calls, (std::vector<std::string>{"clear", "action 2", "open", "close", "action 3"}));
}

TEST(LogStep, AHandlerThatClearsTheFlagKeepsTheFileAsItIs) {
  StepFixture f;
  f.hooks.NotifyAction = [&](int action, bool& execute) {
    f.calls.push_back("action " + std::to_string(action));
    if (action == 2) execute = false;
  };
  std::string report = kReport;
  bool cont = true;
  SaveReportToLogFile(report, f.hooks, cont);
  EXPECT_FALSE(cont);
  EXPECT_EQ(f.log->GetEntryCount(), 1);
}

TEST(LogStep, ADuplicateIsNotAppended) {
  StepFixture f;
  f.hooks.Duplicate = true;
  std::string report = kReport;
  bool cont = false;
  SaveReportToLogFile(report, f.hooks, cont);
  EXPECT_EQ(f.log->GetEntryCount(), 0);
  EXPECT_TRUE(cont);
}

TEST(LogStep, AnErrorHandlerThatSetsRetryRunsTheStepAgain) {
  StepFixture f;
  f.failures = 2;
  f.retryAnswer = true;
  std::string report = kReport;
  bool cont = true;
  SaveReportToLogFile(report, f.hooks, cont);
  // Two failed opens, each warned and followed by the error notification, then one that works.
  EXPECT_EQ(f.calls, (std::vector<std::string>{"clear", "action 2", "open", "warn Log", "error", "open", "warn Log",
                                               "error", "open", "close", "action 3"}));
  EXPECT_EQ(f.log->GetEntryCount(), 1);
  EXPECT_TRUE(cont);  // the retry that worked wrote the log back
}

TEST(LogStep, WithoutRetryAFailureEndsTheStepQuietly) {
  StepFixture f;
  f.failures = 5;
  std::string report = kReport;
  bool cont = true;
  EXPECT_NO_THROW(SaveReportToLogFile(report, f.hooks, cont));
  EXPECT_FALSE(cont);
  EXPECT_EQ(f.calls, (std::vector<std::string>{"clear", "action 2", "open", "warn Log", "error", "close", "action 3"}));
  // Log saving off: no notifications at all, and no error notification.
  StepFixture off;
  off.hooks.LogSaving = false;
  off.failures = 1;
  SaveReportToLogFile(report, off.hooks, cont);
  EXPECT_EQ(off.calls, (std::vector<std::string>{"clear", "open", "warn Log", "close"}));
}

TEST(LogStep, TheWholeLogBecomesTheReport) {
  StepFixture f;
  f.log->LoadText(kReport + "\r\n\r\n\r\n\r\n" + kReport);
  f.hooks.WholeLogAsReport = true;
  std::string report = kReport;
  bool cont = false;
  SaveReportToLogFile(report, f.hooks, cont);
  std::string all;
  f.log->GetAllText(all);
  EXPECT_EQ(report, all);
  EXPECT_EQ(f.log->GetEntryCount(), 3);
}

TEST(FilterStep, NoActiveFilterGivesMinusOne) {
  TOwned<TVantorModuleOptions> options(New<TVantorModuleOptions>(""));
  TVantorExceptionsFilters& list = *options->FilterList();
  TExceptionIdentity identity;
  identity.ClassChain = {"EAccessViolation", "Exception"};
  EXPECT_EQ(list.FindMatchingExceptionFilter(identity, false), -1);
  auto* filter = new TVantorExceptionFilter;
  filter->Enabled = false;
  filter->ExceptionClass = "EAccessViolation";
  list.AddFilter(filter);
  EXPECT_EQ(list.FindMatchingExceptionFilter(identity, false), -1);
  list.GetFilter(0)->Enabled = true;
  EXPECT_EQ(list.FindMatchingExceptionFilter(identity, false), 0);
}

}  // namespace

namespace {

TEST(WebErrorPage, TheOkButtonIsAddedOnce) {
  const std::string button = kWebErrorPageButton;
  EXPECT_EQ(WithWebErrorPageButton("<p>Error</p>"), "<p>Error</p>" + button);
  EXPECT_EQ(WithWebErrorPageButton("<p>Error</p>" + button), "<p>Error</p>" + button);
  const std::string upper = "<P>ERROR</P>" + UpperCase(button);
  EXPECT_EQ(WithWebErrorPageButton(upper), upper);
  EXPECT_EQ(WithWebErrorPageButton(""), button);
}

}  // namespace
