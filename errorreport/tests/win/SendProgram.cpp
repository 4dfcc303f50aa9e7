// An active program (an RCDATA block, no dialog) whose report is sent:
//   SendProgram smtp PORT      the SMTP client mode to 127.0.0.1:PORT
//   SendProgram web URL PORT   an HTTP upload of the archive to URL at PORT
//   SendProgram fail PORT      the SMTP client mode to a port nobody serves,
//                              the report kept on the clipboard and as an archive
//   SendProgram mailto         the mail program mode (MAPI, then "mailto:")
//   SendProgram crash          nothing sent; the repeated-crash rule (two within an
//                              hour end the program) over two reports
//   SendProgram mapi FOLDER    the mail program mode through the registered MAPI
//                              library, then a message of 40 files of FOLDER to a
//                              300-character address
//   SendProgram thread PORT    the SMTP mode with SendFlags 0x80 (a thread of its own)
// The log file and the kept archives go to the folder named by LOG_DIR. The
// program prints "key=value" lines: the artefacts that exist while the channel
// runs (before and after notifications) and after the report, the library's
// last warning, the clipboard text's first line, and "end=1".
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
#include "EReportFiles.h"
#include "EReportFilesWin.h"
#include "ESendReportWin.h"
#include "ESockets.h"
#include "ESocketsWin.h"
#include "EWebToolsWin.h"
#include "ExceptionLogCapture.h"
#include "ExceptionLogImports.h"
#include "ExceptionLogWin.h"
#include "ProbeLines.h"
#include "SysUtils.h"
#include "Units.h"

namespace {

std::exception_ptr Raised() {
  try {
    throw EConvertError("sent failure");
  } catch (...) {
    return std::current_exception();
  }
}

[[gnu::noinline]] std::uint8_t Report() {
  const std::uintptr_t address = reinterpret_cast<std::uintptr_t>(&Report);
  return ExceptionManagerCall(
      std::make_shared<const TExceptionObjectRecord>(MakeExceptionObjectRecord(Raised(), address)), address,
      kModeApplication, GetModuleHandleA(nullptr));
}

// The report's artefacts: "name:1" when the file exists, "name:0" when not.
std::string Artefacts() {
  const TReportFileFacts facts = CurrentReportFileFacts(*CurrentVantorLogOptions());
  std::string out;
  auto add = [&](const char* name, const std::string& file) {
    if (!out.empty()) out += ' ';
    out += std::string(name) + ":" + (!file.empty() && FileExists(file) ? "1" : "0");
  };
  add("log", GetLogCopyFilePath(facts));
  add("page", GetCapturedHtmlPageFilePath(facts));
  add("xml", GetXmlLogFilePath(facts));
  add("screenshot", GetScreenshotFilePath(facts));
  add("archive", GetZipFilePath(facts));
  return out;
}

void ActionNotify(const TVantorExceptionRecord&, int action, bool&) {
  if (action >= 4 && action <= 7)
    Line("action" + std::to_string(action) + "-thread",
         GetCurrentThreadId() == VantorLogFlags().MainThreadId ? "main" : "other");
  if (action >= 4 && action <= 7) Line("action" + std::to_string(action), Artefacts());
}

void ErrorNotify(const TVantorExceptionRecord&, int action, bool&) {
  Line("error", std::to_string(action));
}

std::string ClipboardText() {
  std::string text;
  if (!OpenClipboard(nullptr)) return text;
  if (HANDLE h = GetClipboardData(CF_TEXT)) {
    if (const char* p = static_cast<const char*>(GlobalLock(h))) {
      text = p;
      GlobalUnlock(h);
    }
  }
  CloseClipboard();
  return text;
}

UnitEntry g_units[] = {
    {"ECore", InitECoreWin, DoneECoreWin},
    {"ESockets", InitESocketsWin, DoneESocketsWin},
    {"ExceptionLog", InitExceptionLog, DoneExceptionLog},
};

}  // namespace

int main(int argc, char** argv) {
  if (!StartUnits(g_units) || argc < 2) return 2;
  const char* dir = std::getenv("LOG_DIR");
  if (!dir) return 3;
  // The report's files go to a temporary folder of this run's own: other
  // programs under the same Wine prefix make and delete reports of theirs,
  // with the same file names, in the shared one meanwhile.
  const std::string temp = std::string(dir) + "\\tmp";
  CreateDirectoryA(temp.c_str(), nullptr);
  SetEnvironmentVariableA("TMP", temp.c_str());
  SetEnvironmentVariableA("TEMP", temp.c_str());
  const std::string mode = argv[1];
  InstallWinInetTransport();
  SetSocketReplySilence(100);
  TVantorModuleOptionsEx* options = CurrentVantorLogOptions();
  options->SetDialogKind(0);
  options->SetWriteLogFile(true);
  options->SetLogLocation(std::string(dir) + "\\app.vlf");
  options->SetMailMode(0);
  options->SetWebMode(0);
  options->SetMailFrom("probe@here.test");
  options->SetMailRecipients("dev@there.test");
  options->SetMailSubject("Crash report");
  options->SetMailBody("Body line\r\n.\r\n.x");
  options->SetMailUser("");
  options->SetMailPass("");
  options->SetMailHost("127.0.0.1");
  // The log copy, the XML log, the screenshot and the program's last web page go with the report.
  options->SetSendFlags(static_cast<std::uint16_t>(0x08 | 0x10 | 0x40));
  SetLastHtmlPage("<html><body>probe page</body></html>");
  options->SetBehaviourFlags(static_cast<std::uint16_t>(options->BehaviourFlags() & ~0x30));
  if ((mode == "smtp" || mode == "fail" || mode == "thread") && argc >= 3) {
    options->SetMailMode(2);
    options->SetMailHostPort(static_cast<std::int16_t>(std::atoi(argv[2])));
    if (mode == "fail") options->SetBehaviourFlags(static_cast<std::uint16_t>(options->BehaviourFlags() | 0x30));
    if (mode == "thread") options->SetSendFlags(static_cast<std::uint16_t>(options->SendFlags() | 0x80));
  } else if (mode == "web" && argc >= 3) {
    options->SetWebMode(1);
    options->SetWebAddress(argv[2]);
    if (argc >= 4) options->SetWebHostPort(std::atoi(argv[3]));
    options->SetWebUser("webuser");
    options->SetWebPass("webpass");
  } else if (mode == "crash") {
    options->SetCrashAction(1);
    options->SetCrashCount(2);
    options->SetCrashMinutes(60);
  } else if (mode == "mailto" || (mode == "mapi" && argc >= 3)) {
    options->SetMailMode(1);
  } else {
    return 4;
  }
  VantorLogCallbacks().ExceptionActionNotify = &ActionNotify;
  VantorLogCallbacks().ExceptionErrorNotify = &ErrorNotify;
  Line("report", std::to_string(Report()));
  if (mode == "crash") {
    Line("first", Artefacts());
    Line("report", std::to_string(Report()));  // the second crash within the hour ends the program
  }
  if (mode == "thread") {
    // The sender runs on: wait for its end (the send lock) before looking.
    for (int i = 0; i < 3000; ++i) {
      Sleep(10);
      std::unique_lock<std::recursive_mutex> lock(SendLock(), std::try_to_lock);
      if (lock.owns_lock() && SendFilesList().Count() > 0) break;
    }
  }
  if (mode == "mapi") {
    std::string files;
    for (int i = 0; i < 40; ++i) files += std::string(argv[2]) + "\\file" + std::to_string(i) + ".txt;";
    const std::string longAddress = std::string(300, 'a') + "@there.test";
    Line("mapi-many",
         std::to_string(SendMapiMessageWithFileList("one@there.test," + longAddress, "Many", "Text", files)));
  }
  Line("after", Artefacts());
  Line("warning", LastLibraryErrorMessage());
  const std::string clip = ClipboardText();
  Line("clipboard", clip.substr(0, clip.find('\r')));
  Line("end", "1");
  return 0;
}
