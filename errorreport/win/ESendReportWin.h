// Delivering a finished report: the files packed into one archive, the
// e-mail channel (Simple MAPI, SMTP client or direct mode, the "mailto:"
// command as the last resort) and then the web channel (HTTP, HTTPS, FTP or a
// bug tracker), each bracketed by its before, error and after notifications;
// progress in the sending window; on failure the report on the clipboard and
// the archive kept. Then the steps after sending: the temporary files
// deleted, the repeated-crash rule and the requested termination or restart.
#pragma once

#include <windows.h>

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "EPipelineWin.h"
#include "ESendReport.h"
#include "Thread.h"

// The module-wide send state (one report is sent at a time).
struct TSendState {
  std::uint8_t Proceed = 1;
  std::uint8_t Retry = 0;
  bool BugAlreadyClosed = false;
  std::int32_t CurrentMessage = 0;
  std::int32_t MessageCount = 0;
  std::int32_t Position = 0;
};
TSendState& SendState();
// The files to send (after packing: the archive's path alone) and the web fields (name=value).
TStringList& SendFilesList();
TStringList& SendWebFieldsList();
// The send lock: held for the whole sending step.
std::recursive_mutex& SendLock();

// The pipeline's sending step: in a thread of its own (SendFlags 0x80, report
// not on the faulting thread), else at once.
void StartReportSending(TReportRun& run);
// The sending step; true when every configured channel delivered.
bool SendReport(TReportRun& run);
// The steps after it.
void FinishReport(TReportRun& run);
void FreeCurrentCallStack(TReportRun& run);
void TerminateOrRestartApplication(const TReportRun& run);

bool SendReportByEmail(TReportRun& run);
bool SendReportByWeb(TReportRun& run);

// Simple MAPI through the mail program's library (its own dialog with
// SendFlags bit 1); false with an eeEmailMAPIError warning.
bool SendMapiMessage(const std::string& addresses, const std::string& subject, const std::string& text,
                     const std::vector<std::string>& attachmentNames, const TStrings* attachmentList,
                     std::uint16_t sendFlags);
// The same with file names separated by "," or ";".
bool SendMapiMessageWithFileList(const std::string& addresses, const std::string& subject, const std::string& text,
                                 const std::string& files);
// Starts the registered "mailto:" command; true when it started (it is not waited for).
bool SendMailtoMessage(const std::string& addresses, const std::string& subject, const std::string& message,
                       const std::string& reportText);

// Sending-window operations.
void SetSendingStepText(const std::string& text);
void SetSendingProgress(int percent);
void AdvanceSendingProgress(int step);
void CloseSendingWindow();
void PumpSendingMessages();

// Tests: the port the direct SMTP mode connects to (25 by default).
void SetSmtpDirectPort(std::uint16_t port);

// Runs the sending step, the steps after it and the release of the report's
// copy (frees itself; the highest priority).
class TSendThread : public TThread {
  FW_CLASS(TSendThread, TThread)
 public:
  // Takes over the report copy. The thread starts sending once `creator`
  // (the report's thread, a handle it takes over) has ended and the faulting
  // thread no longer waits for the report: an event parked for it afterwards
  // would never run.
  TSendThread(TReportRun* run, HANDLE creator, DWORD faultingThread);
  ~TSendThread() override;

 protected:
  void Execute() override;

 private:
  TReportRun* run_;
  HANDLE creator_;
  DWORD faultingThread_;
};

// Shows the sending window on a thread of its own.
class TSendDialogThread : public TThread {
  FW_CLASS(TSendDialogThread, TThread)
 public:
  explicit TSendDialogThread(bool modal);

 protected:
  void Execute() override;

 private:
  std::uint8_t modal_;
};
