#include "EReportFilesWin.h"

#include <windows.h>

#include "ECore.h"
#include "ECoreWin.h"
#include "EEvents.h"
#include "ELogManager.h"
#include "EPipelineWin.h"
#include "EReportSteps.h"
#include "EScreenshotWin.h"
#include "EXMLBuilder.h"
#include "ExceptionLog.h"
#include "ExceptionLogImports.h"
#include "ExceptionLogWin.h"
#include "Streams.h"
#include "SysUtils.h"

namespace {
TLogFile* g_logFile = nullptr;
std::string g_logFileName;

void WriteTextFile(const std::string& fileName, const std::string& text) {
  WithFileStream(fileName, fmCreate,
                 [&](TFileStream& file) { file.WriteBuffer(text.data(), static_cast<std::int64_t>(text.size())); });
}
}  // namespace

std::u16string SystemAnsiToUnicode(const std::string& text) {
  std::u16string out;
  if (text.empty() || text.size() > 0x7FFFFFFF) return out;
  const int size = static_cast<int>(text.size());
  const int length = MultiByteToWideChar(CP_ACP, 0, text.data(), size, nullptr, 0);
  if (length <= 0) return std::u16string(text.size(), u'\xFFFD');
  out.resize(static_cast<std::size_t>(length));
  MultiByteToWideChar(CP_ACP, 0, text.data(), size, reinterpret_cast<wchar_t*>(out.data()), length);
  return out;
}

void InitEXMLBuilder() {
  SetXmlAnsiDecoder(&SystemAnsiToUnicode);
}

void DoneEXMLBuilder() {
  SetXmlAnsiDecoder(nullptr);
}

std::string CurrentLogFileName(const TVantorModuleOptions& options) {
  return ExpandPercentVariables(GetLogFilePath(options, ""));
}

TReportFileFacts CurrentReportFileFacts(const TVantorModuleOptions& options) {
  TReportFileFacts facts;
  facts.TempFolder = GetTempFolderPath();
  facts.SendFlags = options.SendFlags();
  facts.LogFileName = CurrentLogFileName(options);
  facts.ProcessId = GetCurrentProcessId();
  facts.ModuleHandle = reinterpret_cast<std::uintptr_t>(GetModuleHandleA(nullptr));
  facts.PageCaptured = !LastHtmlPage().empty();
  facts.ScreenshotTaken = ReportScreenshotSaved();
  return facts;
}

TLogFile& OpenLogFile(const TVantorModuleOptions& options) {
  const std::string name = CurrentLogFileName(options);
  if (g_logFile && name != g_logFileName) CloseLogFile();
  if (!g_logFile) {
    g_logFile = New<TLogFile>(name, false);
    g_logFileName = name;
  }
  return *g_logFile;
}

void CloseLogFile() {
  TLogFile* log = g_logFile;
  g_logFile = nullptr;
  std::string().swap(g_logFileName);  // its memory too: a leak report may follow
  if (log) log->Free();
}

bool CheckDuplicateError(TReportRun& run, bool count) {
  const TVantorModuleOptions* options = run.Options;
  if (!options) return false;
  if (!(options->LogFlags() & 1)) return false;
  bool duplicate = false;
  try {
    TLogFile& log = OpenLogFile(*options);
    bool changed = false;
    duplicate = FindDuplicateError(log, run.BugId, count, changed);
    if (changed) log.WriteBack();
  } catch (...) {
    ReportExceptionWarning(eeLogError, "Log", std::current_exception());
  }
  CloseLogFile();
  return duplicate;
}

void SaveLastHtmlPage(const TReportRun& run, const std::string& html) {
  if (!run.Options || html.empty()) return;
  TReportFileFacts facts = CurrentReportFileFacts(*run.Options);
  facts.PageCaptured = true;
  const std::string file = GetCapturedHtmlPageFilePath(facts);
  if (file.empty()) return;
  try {
    WriteTextFile(file, html);
  } catch (...) {
  }
}

void SaveXmlLogBesideLog(TReportRun& run) {
  if (!run.Options) return;
  SetXmlAnsiDecoder(&SystemAnsiToUnicode);
  try {
    TOwned<TLogFile> log(New<TLogFile>());
    log->LoadText(run.ReportText);
    log->SetPassword(VantorEventState().Password);
    log->ExportXml(ChangeFileExt(CurrentLogFileName(*run.Options), ".xml"));
  } catch (...) {
    ReportExceptionWarning(eeLogError, "Log", std::current_exception());
  }
}

void SaveXmlLog(TReportRun& run) {
  if (!run.Options) return;
  SetXmlAnsiDecoder(&SystemAnsiToUnicode);
  const TReportFileFacts facts = CurrentReportFileFacts(*run.Options);
  const std::string xml = GetXmlLogFilePath(facts);
  if (xml.empty()) return;
  try {
    const std::string copy = GetLogCopyFilePath(facts);
    TOwned<TLogFile> log(copy.empty() || !FileExists(copy) ? New<TLogFile>() : New<TLogFile>(copy, true));
    if (copy.empty() || !FileExists(copy)) log->LoadText(run.ReportText);
    log->SetPassword(VantorEventState().Password);
    log->ExportXml(xml);
  } catch (...) {
    ReportExceptionWarning(eeLogError, "Log", std::current_exception());
  }
}

namespace {
int g_action = 0;
bool g_execute = true;
bool g_retry = false;

void RunActionNotify() {
  TVantorExceptionRecord copy = VantorEventState().Current;
  bool execute = g_execute;
  CallExceptionActionNotifyExports(copy, g_action, execute);  // the other modules' exports, then the handlers
  g_execute = execute;
}

void RunErrorNotify() {
  TVantorExceptionRecord copy = VantorEventState().Current;
  bool retry = g_retry;
  CallExceptionErrorNotifyExports(copy, 3, retry);  // the other modules' exports, then the handlers
  g_retry = retry;
}

void NotifyOnFaultingThread(int action, bool& execute) {
  g_action = action;
  g_execute = execute;
  RunEventOnFaultingThread(&RunActionNotify);
  execute = g_execute;
}
}  // namespace

void FireShowingDialogAction(bool& execute) {
  NotifyOnFaultingThread(0, execute);
}

void FireDialogShownAction(bool& execute) {
  NotifyOnFaultingThread(1, execute);
}

void SaveReportToLogFile(TReportRun& run) {
  const TVantorModuleOptions* options = run.Options;
  if (!options) return;
  TLogStepHooks hooks;
  hooks.LogSaving = options->WriteLogFile();
  hooks.Duplicate = run.Duplicate;
  hooks.MaxEntries = options->MaxLoggedErrors();
  hooks.WholeLogAsReport = (options->SendFlags() & 4) != 0;
  hooks.OpenLog = [options]() -> TLogFile& { return OpenLogFile(*options); };
  hooks.CloseLog = &CloseLogFile;
  hooks.ClearWarning = &ClearLibraryWarning;
  hooks.NotifyAction = &NotifyOnFaultingThread;
  hooks.NotifyError = [](bool& retry) {
    g_retry = false;
    RunEventOnFaultingThread(&RunErrorNotify);
    retry = g_retry;
  };
  hooks.Warn = [](const std::exception_ptr& error) { ReportExceptionWarning(eeLogError, "Log", error); };
  bool cont = true;
  SaveReportToLogFile(run.ReportText, hooks, cont);
}
