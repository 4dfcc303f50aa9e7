// An active program (an RCDATA block) that logs its reports: no dialog, the
// log file "app.vlf" in the folder named by LOG_DIR, at most three entries,
// the duplicate test and the XML form of each report beside the log.
// The application handler's entry reports five exceptions of different classes,
// then the fifth again.
// With "--notifications" one report is logged while the before- and
// after-logging notifications and the error notification are counted.
// The program prints "key=value" lines and ends with "end".
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <iterator>
#include <memory>
#include <string>

#include "ECore.h"
#include "ECoreWin.h"
#include "EEvents.h"
#include "EPipelineWin.h"
#include "EReportFilesWin.h"
#include "ExceptionLogCapture.h"
#include "ExceptionLogWin.h"
#include "ProbeLines.h"
#include "Units.h"

namespace {

std::exception_ptr Raised(int kind) {
  try {
    switch (kind) {
      case 0:
        throw EConvertError("first failure");
      case 1:
        throw EInvalidOperation("second failure");
      case 2:
        throw EListError("third failure");
      case 3:
        throw EReadError("fourth failure");
      default:
        throw EWriteError("fifth failure");
    }
  } catch (...) {
    return std::current_exception();
  }
}

// The report of an exception that the application framework's handler caught.
[[gnu::noinline]] std::uint8_t Report(int kind) {
  const std::uintptr_t address = reinterpret_cast<std::uintptr_t>(&Report);
  return ExceptionManagerCall(
      std::make_shared<const TExceptionObjectRecord>(MakeExceptionObjectRecord(Raised(kind), address)), address,
      kModeApplication, GetModuleHandleA(nullptr));
}

std::string g_actions;
int g_errors = 0;

void ActionNotify(const TVantorExceptionRecord&, int action, bool&) {
  g_actions += std::to_string(action);
}

void ErrorNotify(const TVantorExceptionRecord&, int, bool&) {
  ++g_errors;
}

class PrintedOutput : public LibraryOutput {
 public:
  void DebugLine(const std::string& line) override { Line("debug", line); }
  void WarningBox(const std::string& message, const std::string&) override { Line("warning", message); }
  bool ErrorDisplayEnabled() override { return false; }
};

UnitEntry g_units[] = {
    {"ECore", InitECoreWin, DoneECoreWin},
    {"ExceptionLog", InitExceptionLog, DoneExceptionLog},
};

}  // namespace

int main(int argc, char** argv) {
  if (!StartUnits(g_units)) return 2;
  const char* dir = std::getenv("LOG_DIR");
  if (!dir) return 3;
  TVantorModuleOptionsEx* options = CurrentVantorLogOptions();
  options->SetDialogKind(0);
  options->SetWriteLogFile(true);
  options->SetLogLocation(std::string(dir) + "\\app.vlf");
  options->SetMaxLoggedErrors(3);
  options->SetLogFlags(static_cast<std::uint8_t>(options->LogFlags() | 0x01 | 0x04));
  options->SetMailMode(0);
  options->SetWebMode(0);
  Line("log-file", CurrentLogFileName(*options));
  Line("temp-folder", GetTempFolderPath());
  if (argc >= 2 && std::string(argv[1]) == "--notifications") {
    static PrintedOutput printed;
    SetLibraryOutput(&printed);
    VantorLogCallbacks().ExceptionActionNotify = &ActionNotify;
    VantorLogCallbacks().ExceptionErrorNotify = &ErrorNotify;
    Line("report", std::to_string(Report(0)));
    Line("actions", g_actions);
    Line("errors", std::to_string(g_errors));
  } else {
    for (int kind : {0, 1, 2, 3, 4, 4}) Line("report", std::to_string(Report(kind)));
  }
  Line("end", "1");
  return 0;
}
