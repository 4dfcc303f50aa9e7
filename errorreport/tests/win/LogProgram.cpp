// An active program (an RCDATA block) that logs its reports: no dialog, the
// log file "app.vlf" in the folder named by LOG_DIR, at most three entries,
// the duplicate test and the XML form of each report beside the log. Worker
// threads raise five exceptions of different classes, then the fifth again.
// The program prints "key=value" lines and ends with "end".
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <iterator>
#include <string>

#include "ECoreWin.h"
#include "EPipelineWin.h"
#include "EReportFilesWin.h"
#include "ExceptionLogCapture.h"
#include "ExceptionLogWin.h"
#include "Units.h"

namespace {

void Line(const char* key, const std::string& value) {
  std::printf("%s=%s\n", key, value.c_str());
  std::fflush(stdout);
}

int g_kind = 0;

DWORD WINAPI RaisingWorker(void*) {
  switch (g_kind) {
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
}

DWORD RunWorker(int kind) {
  g_kind = kind;
  HANDLE worker = CreateThread(nullptr, 0, &RaisingWorker, nullptr, 0, nullptr);
  if (!worker) return 0xFFFFFFFFu;
  WaitForSingleObject(worker, 20000);
  DWORD code = 0;
  GetExitCodeThread(worker, &code);
  CloseHandle(worker);
  return code;
}

UnitEntry g_units[] = {
    {"ECore", InitECoreWin, DoneECoreWin},
    {"ExceptionLog", InitExceptionLog, DoneExceptionLog},
};

}  // namespace

int main() {
  SetUnitTable(g_units, std::size(g_units));
  RunUnitInitializations();
  Line("initialized", std::to_string(VantorLogFlags().Initialized));
  if (VantorLogFlags().Initialized != 1) return 2;
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
  for (int kind : {0, 1, 2, 3, 4, 4}) Line("worker-exit", std::to_string(RunWorker(kind)));
  Line("end", "1");
  return 0;
}
