// The decisions of the report pipeline that need no system: which module's
// options a report takes, what a matching filter makes of the report, which
// threads are shown and frozen, where the report goes, the bug identifier,
// the crash-times list, the message pump's treatment of each message and the
// sending window's progress. The Win32 half (win/EPipelineWin.h) runs them.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "ECallStack.h"
#include "ECore.h"
#include "ExceptionLog.h"
#include "Strings.h"

// Progress codes of a report; a failure is reported under its code as section name.
enum TReportProgress : int {
  rpStarted = 1,
  rpAddressModule = 101,
  rpGivenModule = 102,
  rpOtherModule = 103,
  rpOptionsChosen = 104,
  rpFilters = 2,
  rpFiltersDone = 201,
  rpSendingDecided = 3,
  rpStacks = 4,
  rpThreadsFrozen = 5,
  rpListsRefreshed = 6,
  rpReportText = 7,
  rpReportTextBuilt = 702,
  rpDuplicate = 703,
  rpDuplicateDone = 704,
  rpWarningCleared = 705,
  rpEnvironment = 706,
  rpEventsFired = 8,
  rpCounted = 9,
  rpLastMessage = 10,
  rpDialogType = 11,
  rpDialog = 12,
  rpOutput = 13,
  rpOutputDone = 14,
  rpLog = 15,
  rpSending = 16,
  rpCleanUp = 17,
  rpTermination = 18,
};

// --- Options of a report ----------------------------------------------------------------------------
struct TOptionsChoice {
  TVantorModuleInfo* Entry = nullptr;
  int Progress = rpAddressModule;
};
// The entry of the module that holds the address when it has debug data;
// else that of the given module; and when that has none either (no entry or
// no debug data), the other module's. A later choice that finds no entry at
// all keeps the last entry found before it.
TOptionsChoice ChooseReportOptionsEntry(TVantorModuleInfo* ofAddress, TVantorModuleInfo* ofModule,
                                        TVantorModuleInfo* ofOther, bool otherModuleExists);

// --- Filters ------------------------------------------------------------------------------------------
// What a report does: 0 nothing and the exception counts as dealt with
// (result 0); 1 nothing and the program's own handling goes on (result 1);
// 2 the report.
enum TReportHandling : std::uint8_t { rhSilent = 0, rhProgramHandles = 1, rhReport = 2 };

struct TFilterDecision {
  std::uint8_t Handling = rhReport;
  std::uint8_t DialogType = 0;
  std::uint8_t TerminateAction = 0;
  bool Matched = false;
};
// Without a filter: report with the options' dialog kind. With one: its
// handling and after-action, and its dialog choice (0 none, 1 the options'
// kind, 2 message box, 3 short dialog, 4 detailed dialog).
TFilterDecision ApplyExceptionFilter(const TVantorExceptionFilter* filter, std::uint8_t dialogKind);

// --- Threads ----------------------------------------------------------------------------------------
// Whether another thread's stack is shown (StackFlags 0x08 plain threads, 0x04 framework threads).
bool ShouldShowThreadStack(const TVantorThreadInfo& record, std::uint8_t stackFlags);
// Whether another thread is frozen while the report runs (BehaviourFlags
// 0x04 plain threads; 0x01 framework threads, the main thread only without 0x02).
bool ShouldFreezeThread(const TVantorThreadInfo& record, std::uint16_t behaviourFlags);
// Whether the faulting thread pumps messages while it waits: not for a stack
// overflow, nor with BehaviourFlags 0x01 set and 0x02 clear.
bool ShouldPumpWhileWaiting(bool stackOverflow, std::uint16_t behaviourFlags);

// --- Output -------------------------------------------------------------------------------------------
enum class TReportOutput { Dialog, Console, WebPage };
TReportOutput ChooseReportOutput(std::uint8_t mode, bool webApplication, bool consoleProgram);
// Whether the exception events fire with the main window restored first:
// mode 1, or mode 0 in a program with windows, and either a dialog shows or
// sending is due with SendFlags 0x01 or 0x10.
bool ShouldRestoreMainWindow(std::uint8_t mode, bool guiProgram, std::uint8_t dialogKind, bool sendDue,
                             std::uint16_t sendFlags);
// The sending test: a send mode is set, the report is no duplicate,
// and the user chose to send or no dialog shows.
bool IsSendingDue(std::uint8_t mailMode, std::uint8_t webMode, bool duplicate, bool userChoseSend,
                  std::uint8_t dialogType);

// --- Report texts -----------------------------------------------------------------------------------
// The text the bug identifier is computed from: the application title, the
// exception module's title and the exception class text, then for each entry
// with a line (kind 4) on the thread of the first entry its unit, class,
// procedure and decimal line.
std::string BugIdentifierText(std::string_view applicationTitle, std::string_view moduleTitle,
                              std::string_view classText, const TVantorStackList* stack);
// The CRC-16 of the text as 4 upper-case hex digits.
std::string BugIdentifier(std::string_view text);
// Adds the time to the crash-times list and drops its first entries while it holds more than `crashCount`.
void AddCrashTime(TStrings& list, const std::string& timeText, std::int32_t crashCount);
// The "[SafeCall Exception]: " prefix, added once.
constexpr const char* kSafeCallPrefix = "[SafeCall Exception]: ";
std::string WithSafeCallPrefix(const std::string& message);

// --- Message pump ---------------------------------------------------------------------------------
enum class TPumpAction { Drop, DropWithBeep, Dispatch };
// WM_QUIT is dropped; non-client mouse, key and mouse-button messages are
// dropped with a beep; everything else is dispatched.
TPumpAction ClassifyPumpedMessage(std::uint32_t message);
constexpr int kMessagesPerPass = 11;

// --- Sending progress -------------------------------------------------------------------------------
struct TSendingProgressStep {
  int TextIndex = -1;  // the custom text shown, -1 for an unknown status
  int Counter = 0;     // the window's counter after the step
  int Bar = -1;        // the bar's new position, -1 when it does not move
};
// One status of a connection (0-9) with its value (the percent sent for 6).
TSendingProgressStep SendingProgressFor(int status, int value, int counter);

// The exception that stands for an operating-system fault: an access
// violation ("Access violation at address 0040100A. Write of address
// 00000000"), a stack overflow, or an external exception with the code
// ("External exception C0000094").
std::exception_ptr MapFaultRecord(const TExternalExceptionRecord& record);

// The sending window as the connection's progress moves it: the status text
// (a text of `texts`) and the bar, which only moves forward.
struct TSendingWindowState {
  int Counter = 0;
  int Bar = 0;
  std::string Text;
};
void ApplySendingProgress(TSendingWindowState& window, const TVantorModuleOptions& texts, int status, int value);

// The exception a hang of the main thread is reported as (text 156).
FW_EXCEPTION(EFrozenApplication, Exception);
// The time-out of the hang detector in milliseconds: FreezeSeconds, at least one second.
std::int32_t FreezeTimeoutMs(std::int32_t freezeSeconds);
