#include "ESendReportWin.h"

#include <windows.h>
// after <windows.h>, whose types it uses
#include <mapi.h>

#include <cmath>
#include <cstring>
#include <memory>

#include "ECore.h"
#include "ECoreWin.h"
#include "EEvents.h"
#include "EPipeline.h"
#include "EReportDialogsWin.h"
#include "EReportFiles.h"
#include "EReportFilesWin.h"
#include "ESendFiles.h"
#include "ESendReport.h"
#include "ESmtpMail.h"
#include "ESystemWin.h"
#include "EWebOutputWin.h"
#include "EWebTools.h"
#include "EWebToolsWin.h"
#include "ExceptionLog.h"
#include "ExceptionLogImports.h"
#include "ExceptionLogWin.h"
#include "Streams.h"
#include "SysUtils.h"

FW_IMPLEMENT_CLASS(TSendThread)
FW_IMPLEMENT_CLASS(TSendDialogThread)

namespace {

// Exception-action notifications of the channels, and the error notifications' actions.
constexpr int kBeforeEmailSend = 4;
constexpr int kAfterEmailSend = 5;
constexpr int kBeforeWebSend = 6;
constexpr int kAfterWebSend = 7;
constexpr int kEmailSendError = 5;
constexpr int kWebSendError = 7;
constexpr DWORD kMailtoIdleWaitMs = 10000;
// Set when the "mailto:" mail carried a cut report (read by SendReport).
bool g_mailBodyCut = false;

std::uint16_t g_directPort = 25;
TStringList* g_files = nullptr;
TStringList* g_webFields = nullptr;

TVantorModuleOptions& OptionsOf(const TReportRun& run) {
  if (run.Options) return *run.Options;
  return *DefaultVantorLogOptions();
}

// --- Notifications on the faulting thread ------------------------------------------------------------
int g_action = 0;
bool g_flag = false;

void RunActionNotify() {
  TVantorExceptionRecord copy = VantorEventState().Current;
  bool flag = g_flag;
  CallExceptionActionNotifyExports(copy, g_action, flag);
  g_flag = flag;
}

void RunErrorNotify() {
  TVantorExceptionRecord copy = VantorEventState().Current;
  bool flag = g_flag;
  CallExceptionErrorNotifyExports(copy, g_action, flag);
  g_flag = flag;
}

// The proceed flag goes in and comes back through the handlers.
void FireActionNotify(int action) {
  g_action = action;
  g_flag = SendState().Proceed != 0;
  RunEventOnFaultingThread(&RunActionNotify);
  SendState().Proceed = g_flag ? 1 : 0;
}

// The retry flag is cleared first; a handler that sets it repeats the channel.
void FireErrorNotify(int action) {
  SendState().Retry = 0;
  g_action = action;
  g_flag = false;
  RunEventOnFaultingThread(&RunErrorNotify);
  SendState().Retry = g_flag ? 1 : 0;
}

// The program's files: the attached-files request on the faulting thread.
class TAttachedFilesAsker {
 public:
  void Ask(TStrings& files) {
    TStringList& lines = AttachedFileLines();
    lines.Clear();
    lines.AddStrings(files);
    RunEventOnFaultingThread(&FireAttachedFilesRequest);
    files.Clear();
    files.AddStrings(lines);
  }
};

void FillWebFields() {
  TStringList& lines = CustomWebFieldLines();
  lines.Clear();
  RunEventOnFaultingThread(&FireCustomWebFieldsRequest);
  SendWebFieldsList().Clear();
  SendWebFieldsList().AddStrings(lines);
}

std::vector<std::string> ListOf(const TStrings& list) {
  std::vector<std::string> out;
  for (int i = 0; i < list.Count(); ++i) out.push_back(list[i]);
  return out;
}

TDateTime g_exceptionTime = 0;

std::string DecoratedName(const TReportRun& run, const std::string& file) {
  return DecorateSendFileName(file, OptionsOf(run).SendFlags(), GetComputerNameText(), g_exceptionTime);
}

bool OnFaultingThread() {
  return VantorLogFlags().ReportOnFaultingThread != 0;
}

// --- The sending window as the mail sees it ----------------------------------------------------------
class TWindowObserver : public TSmtpSendObserver {
 public:
  explicit TWindowObserver(const TVantorModuleOptions& options) : options_(options) {}
  void StepText(int textIndex, int current, int count) override {
    SendState().CurrentMessage = current;
    SendState().MessageCount = count;
    SetSendingStepText(options_.GetCustomText(textIndex));
  }
  void Progress(int percent) override {
    if (percent == 0) SendState().Position = 0;
    SetSendingProgress(percent);
  }
  void PumpMessages() override { PumpSendingMessages(); }
  void BodySent() override {
    // The modeless window of a report on the faulting thread goes away after the first body.
    if (WindowOpen() && OnFaultingThread()) {
      if (HWND w = ReportDialogState().Sending) DestroyWindow(w);
      ReportDialogState().Sending = nullptr;
    }
  }
  void Close() override { CloseSendingWindow(); }
  bool WindowOpen() override { return ReportDialogState().Sending != nullptr; }

 private:
  const TVantorModuleOptions& options_;
};

std::string AppendedLogText(const TReportRun& run) {
  return OptionsOf(run).ReportInMailBody() ? "\r\n\r\n\r\n" + run.ReportText : std::string();
}

std::string SenderDisplayName() {
  std::string name = GetRegisteredOwnerText();
  if (name.empty()) name = GetUserNameText();
  return name;
}

// --- Web ---------------------------------------------------------------------------------------------
void ReportWebSendError(TVantorLogErrorCode code, const std::string& channel, std::int32_t result,
                        const std::string& errorText) {
  if (result == 0) {
    SendState().Proceed = 1;
    return;
  }
  std::string suffix;
  if (result == -1)
    suffix = " - Cannot find the \"wininet.dll\" library.";
  else if (!errorText.empty())
    suffix = " (" + errorText + ")";
  ReportLibraryWarning(code, Format("%s error code: %d%s", channel, result, suffix));
}

void UploadProgress(const TVantorModuleOptions& options, int stage, std::size_t total, std::size_t done) {
  switch (stage) {
    case 0:
      SendState().Position = 0;
      SetSendingProgress(0);
      SetSendingStepText(options.GetCustomText(114));
      break;
    case 1:
      SetSendingStepText(options.GetCustomText(115));
      break;
    default:
      SetSendingStepText(options.GetCustomText(116));
      if (total > 0)
        SetSendingProgress(static_cast<int>(std::lround(static_cast<double>(done) / static_cast<double>(total) * 100)));
      break;
  }
}

struct TWebTarget {
  std::string Host, Path, User, Password;
  std::uint16_t Port = 0;
};

TWebTarget SplitWebAddress(const TVantorModuleOptions& options) {
  TWebTarget t;
  std::string scheme, user, password;
  std::uint16_t port = 0;
  SplitUrl(options.WebAddress(), scheme, user, port, t.Path, t.Host, password);
  t.Port = static_cast<std::uint16_t>(options.WebHostPort());
  t.User = options.WebUser();
  t.Password = options.WebPass();
  return t;
}

std::vector<std::string> RemoteNames(const TReportRun& run) {
  std::vector<std::string> names;
  for (int i = 0; i < SendFilesList().Count(); ++i) names.push_back(DecoratedName(run, SendFilesList()[i]));
  return names;
}

TNameValueList WebFieldPairs() {
  TNameValueList pairs;
  for (int i = 0; i < SendWebFieldsList().Count(); ++i) {
    const std::string line = SendWebFieldsList()[i];
    const std::size_t eq = line.find('=');
    if (eq == std::string::npos)
      pairs.emplace_back(line, std::string());
    else
      pairs.emplace_back(line.substr(0, eq), line.substr(eq + 1));
  }
  return pairs;
}

void SetProxyOf(const TVantorModuleOptions& options) {
  SetUploadProxy(options.ProxyHost(), options.ProxyHostPort());
  SetUploadProxyLogin(options.ProxyUser(), options.ProxyPass());
}

bool SendReportByHttp(TReportRun& run) {
  const TVantorModuleOptions& options = OptionsOf(run);
  FillWebFields();
  SetProxyOf(options);
  const bool https = options.WebMode() == 2;
  const TWebTarget target = SplitWebAddress(options);
  const std::vector<std::string> files = ListOf(SendFilesList());
  std::int32_t result = 0;
  std::string errorText;
  if (!files.empty()) {
    result = UploadFilesByHttp(
        target.Host, target.Path, target.User, target.Password, target.Port, https, files, RemoteNames(run),
        WebFieldPairs(),
        [&options](int stage, std::size_t total, std::size_t done) { UploadProgress(options, stage, total, done); },
        errorText);
  }
  CloseSendingWindow();
  ReportWebSendError(https ? eeWebHTTPSError : eeWebHTTPError, https ? "HTTPS" : "HTTP", result, errorText);
  return result == 0;
}

bool SendReportByFtp(TReportRun& run) {
  const TVantorModuleOptions& options = OptionsOf(run);
  SetProxyOf(options);
  const TWebTarget target = SplitWebAddress(options);
  std::string errorText;
  const std::int32_t result = UploadFilesByFtp(
      target.Host, target.Path, target.User, target.Password, target.Port, ListOf(SendFilesList()), RemoteNames(run),
      [&options](int stage, std::size_t total, std::size_t done) { UploadProgress(options, stage, total, done); },
      errorText);
  CloseSendingWindow();
  ReportWebSendError(eeWebFTPError, "FTP", result, errorText);
  return result == 0;
}

bool SendReportToTracker(TReportRun& run) {
  const TVantorModuleOptions& options = OptionsOf(run);
  TTrackerReport report;
  if (SendFilesList().Count() > 0) report.Attachment = SendFilesList()[0];
  report.WebUrl = options.WebAddress();
  InsertUrlLogin(report.WebUrl, options.WebUser(), options.WebPass(),
                 static_cast<std::uint16_t>(options.WebHostPort()));
  if (!options.ProxyHost().empty()) {
    report.ProxyUrl = options.ProxyHost();
    InsertUrlLogin(report.ProxyUrl, options.ProxyUser(), options.ProxyPass(), options.ProxyHostPort());
  }
  THTTPSendReportClass sender;
  switch (options.WebMode()) {
    case 4:
      sender = SenderClassOf<THTTPBugzillaSendReport>();
      break;
    case 5:
      sender = SenderClassOf<THTTPFogBugzSendReport>();
      break;
    default:
      sender = SenderClassOf<THTTPMantisSendReport>();
      break;
  }
  FillWebFields();
  report.Fields = ListOf(SendWebFieldsList());
  const TOsVersionFacts os = GetOsVersionFacts();
  report.Fields.push_back("FogBugzTrialID=" + options.TrackerTrialCode());
  report.Fields.push_back("VL_OSType=" + GetWindowsVersionName(os));
  report.Fields.push_back("VL_OSBuild=" + GetWindowsBuildText(os));
  report.Fields.push_back("VL_ReproduceText=" + options.ReproduceSteps());
  report.BugId = run.BugId;
  report.Message = run.Object ? run.Object->Message : std::string();
  report.ClassName = run.Object ? run.Object->ClassName() : std::string();
  report.User = options.TrackerUser();
  report.Password = options.TrackerPass();
  report.Project = ExpandPercentVariables(options.TrackerProjectName());
  report.Category = ExpandPercentVariables(options.TrackerCategoryName());
  report.AssignTo = ExpandPercentVariables(options.TrackerAssignee());
  report.Version = GetExeFileVersion();
  THTTPResponse response;
  int result = trUnknown;
  // The tracker's requests move the sending window through the connection's progress.
  TSendingWindowState window;
  THTTPConnection::SetProgressTarget(&window, &options, [](const TSendingWindowState& state) {
    SetSendingStepText(state.Text);
    SetSendingProgress(state.Bar);
  });
  try {
    result = SendBugTrackerReport(ConnectionClassOf<THTTPConnection>(), sender, report, response);
  } catch (const std::exception& e) {
    response.StatusText = e.what();
  }
  THTTPConnection::SetProgressTarget(nullptr, nullptr, nullptr);
  const bool windowOpen = ReportDialogState().Sending != nullptr;
  CloseSendingWindow();
  if (result == trBugClosed) {
    if (windowOpen)
      MessageBoxA(nullptr, options.GetCustomText(146).c_str(), options.GetCustomText(0).c_str(), 0x242040);
    SendState().BugAlreadyClosed = true;
  }
  if (result < 2) {
    SendState().Proceed = 1;
    return true;
  }
  const int index = TrackerResultTextIndex(result);
  std::string text = options.GetCustomText(index >= 0 ? index : 147);
  text += "\r\n\r\n" + Format("Error Code: %d\r\nError Message: \"%s\"", response.StatusCode, response.StatusText);
  ReportLibraryWarning(eeWebTrakerError, text);
  return false;
}

// --- Files of the step -------------------------------------------------------------------------------
void SaveLogCopy(const std::string& file, const std::string& text) {
  if (file.empty()) return;
  const std::string lines = LogCopyText(text);
  try {
    WithFileStream(file, fmCreate,
                   [&](TFileStream& f) { f.WriteBuffer(lines.data(), static_cast<std::int64_t>(lines.size())); });
  } catch (...) {
  }
}

void DeleteIfNamed(const std::string& file) {
  if (!file.empty()) ForceDeleteFile(file);
}

void PrepareFiles(TReportRun& run, bool forEmail) {
  const TVantorModuleOptions& options = OptionsOf(run);
  TAttachedFilesAsker asker;
  PrepareSendFiles(forEmail, SendFilesList(), CurrentReportFileFacts(options), options.ExtraFiles(),
                   options.ReportInMailBody(), options.ZipPass(),
                   TAttachedFilesRequest::Bind<&TAttachedFilesAsker::Ask>(&asker));
}

// --- MAPI --------------------------------------------------------------------------------------------
std::string MapiLibraryPath() {
  for (HKEY root : {HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE}) {
    const std::string client = ReadRegistryText(root, "SOFTWARE\\Clients\\Mail", "");
    if (client.empty()) continue;
    const std::string path = ReadRegistryText(root, "SOFTWARE\\Clients\\Mail\\" + client, "DLLPath");
    if (!path.empty()) return ExpandPercentVariables(path);
  }
  return std::string();
}

void ReportMapiWarning(const std::string& text) {
  ReportLibraryWarning(eeEmailMAPIError, text);
}

std::string SystemErrorText(DWORD error) {
  char* buffer = nullptr;
  const DWORD n =
      FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                     nullptr, error, 0, reinterpret_cast<char*>(&buffer), 0, nullptr);
  std::string text = n && buffer ? std::string(buffer, n) : "System error " + std::to_string(error) + ".";
  if (buffer) LocalFree(buffer);
  while (!text.empty() && (text.back() == '\r' || text.back() == '\n' || text.back() == ' ')) text.pop_back();
  return text;
}

std::string FullPathOf(const std::string& file) {
  char buffer[MAX_PATH * 4];
  char* part = nullptr;
  const DWORD n = GetFullPathNameA(file.c_str(), sizeof buffer, buffer, &part);
  if (n == 0 || n >= sizeof buffer) return file;
  return std::string(buffer, n);
}

}  // namespace

// --- State -------------------------------------------------------------------------------------------------
TSendState& SendState() {
  static TSendState state;
  return state;
}

TStringList& SendFilesList() {
  if (!g_files) g_files = New<TStringList>();
  return *g_files;
}

TStringList& SendWebFieldsList() {
  if (!g_webFields) g_webFields = New<TStringList>();
  return *g_webFields;
}

std::recursive_mutex& SendLock() {
  static std::recursive_mutex lock;
  return lock;
}

void SetSmtpDirectPort(std::uint16_t port) {
  g_directPort = port;
}

// --- Sending window ----------------------------------------------------------------------------------------
void PumpSendingMessages() {
  if (!OnFaultingThread()) return;
  try {
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
      if (msg.message == WM_QUIT) continue;
      TranslateMessage(&msg);
      DispatchMessageA(&msg);
    }
  } catch (...) {
  }
}

void SetSendingStepText(const std::string& text) {
  if (!ReportDialogState().Sending) return;
  const TVantorModuleOptions* options = DialogOptions();
  PumpSendingMessages();
  TSendingProgress::Status(FormatSendingStepText(options ? options->GetCustomText(111) : "Message",
                                                 SendState().CurrentMessage, SendState().MessageCount, text));
  PumpSendingMessages();
}

void SetSendingProgress(int percent) {
  // The bar only moves forward.
  if (percent < SendState().Position || !ReportDialogState().Sending) return;
  SendState().Position = percent;
  PumpSendingMessages();
  TSendingProgress::Progress(percent, 100);
  PumpSendingMessages();
}

void AdvanceSendingProgress(int step) {
  SetSendingProgress(SendState().Position + step);
}

void CloseSendingWindow() {
  TSendingProgress::Close();
}

// --- E-mail ------------------------------------------------------------------------------------------------
bool SendReportByEmail(TReportRun& run) {
  const TVantorModuleOptions& options = OptionsOf(run);
  TSendState& state = SendState();
  state.Proceed = 1;
  FireActionNotify(kBeforeEmailSend);
  if (!state.Proceed) return false;
  bool success = false;
  do {
    state.Proceed = 0;
    const std::string addresses = options.MailRecipients();
    const std::string subject = options.MailSubject();
    const std::string message = options.MailBody();
    const std::uint8_t mode = options.MailMode();
    if (mode == 2 || mode == 3) {
      OpenSendingWindow(!(options.SendFlags() & 0x80));
      TWindowObserver observer(options);
      TSmtpMailFacts facts;
      facts.SenderDisplayName = SenderDisplayName();
      facts.SendFlags = options.SendFlags();
      facts.ComputerName = GetComputerNameText();
      facts.ExceptionTime = g_exceptionTime;
      facts.DirectPort = g_directPort;
      facts.Observer = &observer;
      state.Position = 0;
      success = SendSmtpMail(mode == 3, options.MailFrom(), options.MailHost(),
                             static_cast<std::uint16_t>(options.MailHostPort()), options.MailUser(), options.MailPass(),
                             addresses, subject, message + AppendedLogText(run), {""}, ListOf(SendFilesList()), facts);
    } else {
      success = SendMapiMessage(addresses, subject, message + AppendedLogText(run), {""}, &SendFilesList(),
                                options.SendFlags());
      if (!success) success = SendMailtoMessage(addresses, subject, message, run.ReportText);
    }
    state.Retry = 0;
    if (!success) FireErrorNotify(kEmailSendError);
  } while (state.Retry);
  FireActionNotify(kAfterEmailSend);
  return success;
}

// --- Web ---------------------------------------------------------------------------------------------------
bool SendReportByWeb(TReportRun& run) {
  const TVantorModuleOptions& options = OptionsOf(run);
  const std::uint8_t mode = options.WebMode();
  if (mode < 1 || mode > 6) return true;
  TSendState& state = SendState();
  state.Proceed = 1;
  FireActionNotify(kBeforeWebSend);
  if (!state.Proceed) return false;
  do {
    state.Proceed = 0;
    state.CurrentMessage = 1;
    state.MessageCount = 1;
    state.Position = 0;
    OpenSendingWindow(!(options.SendFlags() & 0x80));
    try {
      if (mode <= 2)
        SendReportByHttp(run);
      else if (mode == 3)
        SendReportByFtp(run);
      else
        SendReportToTracker(run);
    } catch (...) {
      CloseSendingWindow();
      ReportExceptionWarning(mode == 2   ? eeWebHTTPSError
                             : mode == 3 ? eeWebFTPError
                                         : eeWebHTTPError,
                             "Web", std::current_exception());
    }
    state.Retry = 0;
    if (!state.Proceed) FireErrorNotify(kWebSendError);
  } while (state.Retry);
  const bool success = state.Proceed != 0;
  FireActionNotify(kAfterWebSend);
  return success;
}

// --- The sending step --------------------------------------------------------------------------------------
bool SendReport(TReportRun& run) {
  std::lock_guard<std::recursive_mutex> lock(SendLock());
  // The sending window reads this report's options.
  TDialogReportScope dialogReport(&run);
  TVantorModuleOptions& options = OptionsOf(run);
  TSendState& state = SendState();
  state.Proceed = 1;
  state.BugAlreadyClosed = false;
  state.Position = 0;
  SendFilesList().Clear();
  SendWebFieldsList().Clear();
  ClearLibraryWarning();
  g_mailBodyCut = false;
  if (g_exceptionTime == 0) g_exceptionTime = Now();

  const TReportFileFacts facts = CurrentReportFileFacts(options);
  const std::string logCopy = GetLogCopyFilePath(facts);
  std::string page, xml;
  // How far the step came: the files made so far are deleted also when a step raises.
  int made = 0;
  bool ok = true;
  try {
    SaveLogCopy(logCopy, run.ReportText);
    made = 1;
    if (!LastHtmlPage().empty()) {
      SaveLastHtmlPage(run, LastHtmlPage());
      TReportFileFacts pageFacts = facts;
      pageFacts.PageCaptured = true;
      page = GetCapturedHtmlPageFilePath(pageFacts);
    }
    made = 2;
    SaveXmlLog(run);
    xml = GetXmlLogFilePath(facts);
    made = 3;
    if (options.MailMode() != 0) {
      PrepareFiles(run, true);
      ok = SendReportByEmail(run);
    }
    if (options.WebMode() != 0) {
      if (options.MailMode() == 0 || options.ReportInMailBody()) PrepareFiles(run, false);
      ok = SendReportByWeb(run) && ok;
    }
    // A mail that carries only the report's beginning leaves the whole report
    // on the clipboard and in the kept archive, as a failed sending does.
    const bool partly = g_mailBodyCut;
    if ((!ok && (options.BehaviourFlags() & 0x10)) || partly) CopyTextToClipboard(run.ReportText);
    if ((options.SendFlags() & 2) && !state.BugAlreadyClosed) {
      const std::string caption = options.GetCustomText(0);
      if (ok)
        MessageBoxA(nullptr, options.GetCustomText(144).c_str(), caption.c_str(), 0x242040);
      else
        MessageBoxA(nullptr, options.GetCustomText(145).c_str(), caption.c_str(), 0x242010);
    }
    if (((options.BehaviourFlags() & 0x20) && !ok) || partly) {
      const std::string archive = GetZipFilePath(facts);
      const std::string folder = ExtractFilePath(CurrentLogFileName(options));
      const std::string kept = folder + DecoratedName(run, archive);
      if (FileExists(archive)) MoveFileA(archive.c_str(), kept.c_str());  // an existing file stays
      PruneKeptZipFiles(folder);
    }
  } catch (...) {
    if (made >= 3) DeleteIfNamed(xml);
    if (made >= 2 && !IsCgiApp()) DeleteIfNamed(page);
    if (made >= 1) DeleteIfNamed(logCopy);
    g_exceptionTime = 0;
    throw;
  }
  DeleteIfNamed(GetZipFilePath(facts));
  DeleteIfNamed(xml);
  if (!IsCgiApp()) DeleteIfNamed(page);
  DeleteIfNamed(logCopy);
  g_exceptionTime = 0;
  return ok;
}

// --- After sending -----------------------------------------------------------------------------------------
void FinishReport(TReportRun& run) {
  const TVantorModuleOptions& options = OptionsOf(run);
  TReportFileFacts facts = CurrentReportFileFacts(options);
  if (run.AttachScreenshot) facts.SendFlags |= 0x10;  // saved by the report's own choice too
  DeleteIfNamed(GetScreenshotFilePath(facts));
  if (!IsHostedByIde() && options.CrashAction() != 0 &&
      CrashLimitReached(CrashTimes(), options.CrashCount(), options.CrashMinutes()))
    SetCloseAction(options.CrashAction());
}

void FreeCurrentCallStack(TReportRun& run) {
  if (run.CallStack && (!run.Job || run.CallStack != run.Job->StackList)) FreeAndNil(run.CallStack);
  run.CallStack = nullptr;
}

void TerminateOrRestartApplication(const TReportRun& run) {
  if (VantorLogFlags().TerminationRequested) RestartApplication(OptionsOf(run).TerminateAction() == 2);
}

// --- Starting ----------------------------------------------------------------------------------------------
void StartReportSending(TReportRun& run) {
  const TVantorModuleOptions& options = OptionsOf(run);
  g_exceptionTime = Now();
  if (!OnFaultingThread() && (options.SendFlags() & 0x80)) {
    // The thread works on its own copy of the report; the call stack goes with it.
    auto* copy = new TReportRun(run);
    const DWORD faulting = run.Job ? run.Job->ThreadId : 0;
    HANDLE creator = nullptr;
    DuplicateHandle(GetCurrentProcess(), GetCurrentThread(), GetCurrentProcess(), &creator, SYNCHRONIZE, FALSE, 0);
    copy->Job = nullptr;
    if (run.Job && run.CallStack == run.Job->StackList) copy->CallStack = nullptr;
    run.CallStack = run.Job ? run.Job->StackList : nullptr;
    TSendThread* thread = nullptr;
    try {
      thread = New<TSendThread>(copy, creator, faulting);
    } catch (...) {
      if (creator) CloseHandle(creator);
      FreeCurrentCallStack(*copy);
      delete copy;
      throw;
    }
    thread->FreeOnTerminate = true;
    thread->SetPriority(tpHighest);
    thread->Resume();
    return;
  }
  SendReport(run);
  // With SendFlags 0x80 the pipeline leaves the steps after sending to the sender.
  if (options.SendFlags() & 0x80) {
    FinishReport(run);
    FreeCurrentCallStack(run);
    if (run.HandlerKind != 2) TerminateOrRestartApplication(run);
  }
}

TSendThread::TSendThread(TReportRun* run, HANDLE creator, DWORD faultingThread)
    : TThread(true), run_(run), creator_(creator), faultingThread_(faultingThread) {}

TSendThread::~TSendThread() {
  if (creator_) CloseHandle(creator_);
}

void TSendThread::Execute() {
  std::unique_ptr<TReportRun> run(run_);
  run_ = nullptr;
  if (creator_) WaitForSingleObject(creator_, INFINITE);
  // The faulting thread stops polling right after the report's thread has ended.
  for (int i = 0; i < 500 && faultingThread_ != 0 && PollingThreadId() == faultingThread_; ++i) Sleep(10);
  std::lock_guard<std::recursive_mutex> lock(SendLock());
  try {
    SendReport(*run);
    FinishReport(*run);
    FreeCurrentCallStack(*run);
    if (run->HandlerKind != 2) TerminateOrRestartApplication(*run);
  } catch (...) {
    FreeCurrentCallStack(*run);
    ReportInternalFailure("Send", std::current_exception(), IsDebuggerPresent() != 0);
  }
}

TSendDialogThread::TSendDialogThread(bool modal) : TThread(true), modal_(modal ? 1 : 0) {}

void TSendDialogThread::Execute() {
  try {
    ShowSendingWindow(modal_ != 0);
    // A modeless window lives as long as this thread runs its messages.
    if (!modal_) RunSendingWindowLoop();
  } catch (...) {
    ReportExceptionWarning(eeShowError, "GUI", std::current_exception());
  }
}

// --- Simple MAPI -------------------------------------------------------------------------------------------
bool SendMapiMessage(const std::string& addresses, const std::string& subject, const std::string& text,
                     const std::vector<std::string>& attachmentNames, const TStrings* attachmentList,
                     std::uint16_t sendFlags) {
  const std::string expandedSubject = CollapseControlChars(ExpandPercentVariables(subject));
  std::string note = ExpandPercentVariables(text);
  TStringList recipients;
  SplitTextAtChars(addresses, recipients, ",;", false, false);

  HMODULE library = nullptr;
  const std::string path = MapiLibraryPath();
  if (!path.empty()) library = LoadLibraryA(path.c_str());
  if (!library) library = LoadLibraryA("mapi32.dll");
  if (!library) {
    ReportMapiWarning("Cannot open the MAPI dll.");
    return false;
  }
  auto logon = reinterpret_cast<LPMAPILOGON>(reinterpret_cast<void*>(GetProcAddress(library, "MAPILogon")));
  auto logoff = reinterpret_cast<LPMAPILOGOFF>(reinterpret_cast<void*>(GetProcAddress(library, "MAPILogoff")));
  auto send = reinterpret_cast<LPMAPISENDMAIL>(reinterpret_cast<void*>(GetProcAddress(library, "MAPISendMail")));
  if (!logon || !logoff || !send) {
    FreeLibrary(library);
    ReportMapiWarning("Cannot found the MAPI functions.");
    return false;
  }
  HWND parent = nullptr;
  if (GetCurrentThreadId() == VantorLogFlags().MainThreadId) parent = FindProcessMainWindow(GetCurrentProcessId());
  LHANDLE session = 0;
  if (logon(reinterpret_cast<ULONG_PTR>(parent), nullptr, nullptr, MAPI_LOGON_UI, 0, &session) != 0) {
    FreeLibrary(library);
    ReportMapiWarning("Cannot LogOn into the MAPI service.");
    return false;
  }
  // Every buffer is sized from its data: any number of files and addresses of any length.
  std::vector<std::string> filePaths, fileNames;
  auto addFile = [&](const std::string& file) {
    if (Trim(file).empty() || !FileExists(file)) return;
    filePaths.push_back(FullPathOf(file));
    fileNames.push_back(DecorateSendFileName(file, sendFlags, GetComputerNameText(), g_exceptionTime));
  };
  for (const std::string& name : attachmentNames) addFile(name);
  if (attachmentList)
    for (int i = 0; i < attachmentList->Count(); ++i) addFile((*attachmentList)[i]);
  std::vector<MapiFileDesc> files(filePaths.size());
  for (std::size_t i = 0; i < files.size(); ++i) {
    files[i] = MapiFileDesc{};
    files[i].nPosition = 0xFFFFFFFFu;
    files[i].lpszPathName = filePaths[i].data();
    files[i].lpszFileName = fileNames[i].data();
  }
  std::vector<std::string> names, smtpAddresses;
  for (int i = 0; i < recipients.Count(); ++i) {
    const std::string address = Trim(recipients[i]);
    if (address.empty()) continue;
    names.push_back(address);
    smtpAddresses.push_back("SMTP:" + address);
  }
  std::vector<MapiRecipDesc> recips(names.size());
  for (std::size_t i = 0; i < recips.size(); ++i) {
    recips[i] = MapiRecipDesc{};
    recips[i].ulRecipClass = MAPI_TO;
    recips[i].lpszName = names[i].data();
    recips[i].lpszAddress = smtpAddresses[i].data();
  }
  std::string subjectText = expandedSubject;
  MapiMessage message{};
  message.lpszSubject = subjectText.data();
  message.lpszNoteText = note.data();
  message.nRecipCount = static_cast<ULONG>(recips.size());
  message.lpRecips = recips.empty() ? nullptr : recips.data();
  message.nFileCount = static_cast<ULONG>(files.size());
  message.lpFiles = files.empty() ? nullptr : files.data();
  FLAGS flags = MAPI_LOGON_UI;
  if (sendFlags & 1) flags |= MAPI_DIALOG;
  const ULONG result = send(session, reinterpret_cast<ULONG_PTR>(parent), &message, flags, 0);
  logoff(session, reinterpret_cast<ULONG_PTR>(parent), 0, 0);
  FreeLibrary(library);
  if (result == SUCCESS_SUCCESS || result == MAPI_USER_ABORT) return true;
  ReportMapiWarning("Cannot send the MAPI message.");
  return false;
}

bool SendMapiMessageWithFileList(const std::string& addresses, const std::string& subject, const std::string& text,
                                 const std::string& files) {
  TStringList list;
  SplitTextAtChars(files, list, ",;", false, false);
  return SendMapiMessage(addresses, subject, text, {}, &list, 0);
}

// --- "mailto:" ---------------------------------------------------------------------------------------------
bool SendMailtoMessage(const std::string& addresses, const std::string& subject, const std::string& message,
                       const std::string& reportText) {
  const std::string expandedSubject = ExpandPercentVariables(subject);
  const std::string expandedMessage = ExpandPercentVariables(message);
  const std::string command =
      ExpandPercentVariables(ReadRegistryText(HKEY_CLASSES_ROOT, "\\mailto\\shell\\open\\command", ""));
  bool cut = false;
  const std::string line = FitMailtoCommandLine(
      command, addresses, expandedSubject, expandedMessage + "\r\n\r\n\r\n" + reportText, kMaxCommandLineLength, cut);
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESHOWWINDOW;
  startup.wShowWindow = 3;
  PROCESS_INFORMATION process{};
  std::vector<char> commandLine(line.begin(), line.end());
  commandLine.push_back('\0');
  if (line.empty() || !CreateProcessA(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0x04000020, nullptr,
                                      nullptr, &startup, &process)) {
    const DWORD error = line.empty() ? ERROR_FILE_NOT_FOUND : GetLastError();
    ReportLibraryWarning(eeEmailShellError, SystemErrorText(error));
    return false;
  }
  // The mail carries the report's beginning: the sending keeps the whole of it.
  if (cut) g_mailBodyCut = true;
  // The mail program stays open as long as the user likes: the report goes on
  // once it has started (and is ready for input, for at most 10 s).
  WaitForInputIdle(process.hProcess, kMailtoIdleWaitMs);
  Sleep(2000);
  if (HWND window = FindProcessMainWindow(process.dwProcessId))
    SetWindowPos(window, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return true;
}
