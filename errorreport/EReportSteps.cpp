#include "EReportSteps.h"

#include "ELogManager.h"
#include "SysUtils.h"

void SaveReportToLogFile(std::string& reportText, const TLogStepHooks& hooks, bool& cont) {
  const auto guarded = [&](const auto& step) {
    try {
      step();
      return true;
    } catch (...) {
      if (hooks.Warn) {
        try {
          hooks.Warn(std::current_exception());
        } catch (...) {
        }
      }
      return false;
    }
  };
  if (hooks.ClearWarning) guarded(hooks.ClearWarning);
  cont = true;
  if (hooks.LogSaving && hooks.NotifyAction) guarded([&] { hooks.NotifyAction(2, cont); });
  // A handler may clear the flag to keep the log file as it is; a failed
  // attempt clears it only until a retry succeeds, and a retry on the same log
  // object does not add the report a second time.
  const bool writeBack = cont;
  const TLogFile* appendedTo = nullptr;
  bool retry = false;
  do {
    const bool done = guarded([&] {
      TLogFile& log = hooks.OpenLog();
      if (!hooks.Duplicate && appendedTo != &log) {
        log.AppendEntry(reportText, hooks.MaxEntries);
        appendedTo = &log;
      }
      if (hooks.WholeLogAsReport) log.GetAllText(reportText);
      if (writeBack && hooks.LogSaving) log.WriteBack();
    });
    cont = done && writeBack;
    retry = false;
    if (hooks.LogSaving && !done && hooks.NotifyError) guarded([&] { hooks.NotifyError(retry); });
  } while (retry);
  if (hooks.CloseLog) guarded(hooks.CloseLog);
  if (hooks.LogSaving && hooks.NotifyAction) guarded([&] { hooks.NotifyAction(3, cont); });
}

std::string WithWebErrorPageButton(const std::string& page) {
  if (LowerCase(page).find(LowerCase(kWebErrorPageButton)) != std::string::npos) return page;
  return page + kWebErrorPageButton;
}
