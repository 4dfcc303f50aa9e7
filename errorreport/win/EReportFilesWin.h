// The report's files and steps in a running program: the process's log file
// object, the duplicate test with counting, the last web page and XML log
// files in the temporary folder, and the log step with its notifications.
#pragma once

#include <string>

#include "EReportFiles.h"

class TLogFile;
class TVantorModuleOptions;
struct TReportRun;

// The artefact facts of the current options (temporary folder, send flags, log name).
TReportFileFacts CurrentReportFileFacts(const TVantorModuleOptions& options);
// The expanded log file name of the options.
std::string CurrentLogFileName(const TVantorModuleOptions& options);

// The process's log file object, opened anew when the options name another file.
TLogFile& OpenLogFile(const TVantorModuleOptions& options);
void CloseLogFile();

// Whether the run's bug identifier is in the log (LogFlags bit 1 set); with
// `count` its count is raised and the log saved. Never raises.
bool CheckDuplicateError(TReportRun& run, bool count);
// The last web page of a CGI program saved to the last-page file (SendFlags 0x40).
void SaveLastHtmlPage(const TReportRun& run, const std::string& html);
// A byte text read in the system's ANSI code page (the XML log's characters).
std::u16string SystemAnsiToUnicode(const std::string& text);
// The XML builder's unit: its start-up reads bytes in the system's code page, its end restores the default.
void InitEXMLBuilder();
void DoneEXMLBuilder();
// The XML form of the log's last entry (the current report) beside the log file.
void SaveXmlLogBesideLog(TReportRun& run);
// The XML log artefact in the temporary folder (SendFlags 8), from the log copy or the report.
void SaveXmlLog(TReportRun& run);
// The log step.
void SaveReportToLogFile(TReportRun& run);
// Action notifications 0 and 1 around the dialog.
void FireShowingDialogAction(bool& execute);
void FireDialogShownAction(bool& execute);
