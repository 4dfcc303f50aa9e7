// The report pipeline: ProcessException serialises reports (the report
// lock, one report per thread at a time), hands the report to a
// TExceptionThread at the highest priority and waits for it, polling every
// 10 ms for events parked for this thread and keeping the user interface
// alive; RunReport chooses the options, applies the filters, collects the
// call stacks of the listed threads, computes the bug identifier, sets the
// environment variables, fires the events and picks the output. The steps
// whose contents other units build (report text, duplicates, dialogs,
// screenshot, logs, clipboard, sending) are entries of TReportSteps.
#pragma once

#include <windows.h>

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "ECallStack.h"
#include "EEvents.h"
#include "EPipeline.h"
#include "ExceptionLogCapture.h"
#include "Thread.h"

// A reader that serves a copied stack from its copy and everything else from the process.
class StackCopyReader : public MemoryReader {
 public:
  StackCopyReader(std::uint64_t base, const std::uint8_t* bytes, std::size_t size)
      : base_(base), bytes_(bytes), size_(size) {}
  bool IsReadable(std::uint64_t address, std::size_t length) override;
  bool Read(std::uint64_t address, void* buffer, std::size_t length) override;

 private:
  bool Inside(std::uint64_t address, std::size_t length) const {
    return address >= base_ && address - base_ <= size_ && length <= size_ - (address - base_);
  }
  std::uint64_t base_;
  const std::uint8_t* bytes_;
  std::size_t size_;
};

// The report job: what the faulting thread hands to the report.
struct TReportJob {
  std::uint8_t Handled = 0;
  const CONTEXT* Context = nullptr;          // none: the thread's saved CONTEXT
  const EXCEPTION_RECORD* Record = nullptr;  // none: the thread's saved record
  TVantorStackList* StackList = nullptr;     // none: scan the stack
  std::uintptr_t StackTop = 0;
  std::uintptr_t StackStart = 0;
  DWORD ThreadId = 0;
  std::string FocusClassName;
  std::string FocusText;
  HWND Focus = nullptr;
  HCURSOR Cursor = nullptr;
  // The faulting thread's saved CONTEXT and record, copied when the job is made.
  CONTEXT SavedContext{};
  EXCEPTION_RECORD SavedRecord{};
  bool HasSavedContext = false;
  bool HasSavedRecord = false;
  // The report runs for the hang detector (the job's thread is the main thread,
  // which does not answer; its registers and stack were copied while it stood still).
  bool Freeze = false;
  // A copy of the job thread's stack from StackCopy->Start up (none: the live
  // stack is scanned): the range the call stack is scanned from is read from it.
  const TStackSnapshot* StackCopy = nullptr;
};

// What a running report knows; the steps of other units read and fill it.
struct TReportRun {
  std::shared_ptr<const TExceptionObjectRecord> Object;
  std::uintptr_t Address = 0;
  bool Language = false;
  std::uint8_t HandlerKind = 0;
  std::uint8_t Mode = 0;
  HMODULE Module = nullptr;
  TReportJob* Job = nullptr;
  TVantorModuleOptionsEx* Options = nullptr;  // the default options, assigned for this report
  TVantorStackList* CallStack = nullptr;
  std::string CustomMessage;
  std::string ReportText;
  std::string BugId;
  std::uint8_t DialogType = 0;
  std::uint8_t Handling = rhReport;
  bool FilterMatched = false;
  bool Duplicate = false;
  bool Send = false;
  bool SendChosen = false;
  bool AttachScreenshot = false;
  bool CopyToClipboard = false;
  bool AskReproduce = false;
  bool Show = false;
  // The work area of the monitor under the active window, for the dialogs.
  RECT WorkArea{};
  std::uint8_t Result = 0;
};

// The steps that other units fill; each may stay empty (the step is skipped).
struct TReportSteps {
  // Builds the text report (the default: the whole report of EReportBuilder).
  std::string (*BuildReportText)(TReportRun& run) = nullptr;
  // The duplicate test; `count` counts the report among the duplicates.
  bool (*CheckDuplicate)(TReportRun& run, bool count) = nullptr;
  void (*TakeScreenshot)(TReportRun& run) = nullptr;
  // Shows the dialog of run.DialogType; false on failure. A showing that
  // leaves another non-zero type in run.DialogType is followed by another.
  bool (*ShowDialog)(TReportRun& run, bool firstShowing) = nullptr;
  void (*AskReproduce)(TReportRun& run) = nullptr;
  void (*InsertSection)(TReportRun& run, int titleText, const std::string& lines) = nullptr;
  // Saves the screenshot when it is to be sent, and frees it.
  void (*SaveAndFreeScreenshot)(TReportRun& run) = nullptr;
  void (*WriteXmlLog)(TReportRun& run) = nullptr;
  void (*AppendLog)(TReportRun& run) = nullptr;
  void (*StartSending)(TReportRun& run) = nullptr;
  void (*FinishReport)(TReportRun& run) = nullptr;
  // The web error page with a text.
  void (*ShowWebPage)(TReportRun& run, const std::string& text) = nullptr;
  // Whether one of the library's dialogs or windows is showing.
  bool (*DialogShowing)() = nullptr;
  // Names stack entries (the default: by their source locations; none: bare entries).
  StackEntryMaker* EntryMaker = nullptr;
};
TReportSteps& ReportSteps();

// The report lock: one report at a time in the process (the owner may enter again).
std::recursive_mutex& VantorReportLock();

// The pipeline's entry. Result 1: the program's handling goes on; 0: dealt with.
std::uint8_t ProcessExceptionEx(std::shared_ptr<const TExceptionObjectRecord> object, std::uintptr_t address,
                                bool language, TVantorStackList* stackList, bool handled, std::uint8_t handlerKind,
                                HMODULE module, std::uint8_t mode, const EXCEPTION_RECORD* record,
                                const CONTEXT* context, std::uintptr_t stackStart, std::uintptr_t stackTop,
                                bool freeze = false, const TStackSnapshot* stackCopy = nullptr);

std::uint8_t RunReport(TReportRun& run);

// Copies the stack of a thread that is suspended, from `sp` up to `top` (at
// most `capacity` bytes), into a buffer made beforehand; the bytes copied.
// It takes no lock the stopped thread may hold and allocates nothing.
std::size_t CopyStoppedThreadStack(std::uintptr_t sp, std::uintptr_t top, std::uint8_t* buffer, std::size_t capacity);

class TExceptionThread : public TThread {
  FW_CLASS(TExceptionThread, TThread)
 public:
  explicit TExceptionThread(TReportRun* run);
  std::atomic<std::uint8_t> Running{1};
  std::uint8_t Result = 0;
  // The thread's own id and a handle that may end it, known once it runs.
  std::atomic<DWORD> Win32Id{0};

 protected:
  void Execute() override;

 private:
  TReportRun* run_;
};

// Facts of the reports so far.
std::uintptr_t LastReportedAddress();
std::string LastReportedMessage();
int ReportedErrorsCount();
// The thread that runs the current report (0 when none runs).
DWORD ReportThreadId();
// The crash-times list.
TStringList& CrashTimes();
// Frees the history of the reports made (the calls kept, the last message, the
// crash times) at the library's shut-down.
void ReleaseReportHistory();

// The code of the system exception that carries a C++ exception of the
// 64-bit run-time ("GCC " in its bytes): an uncaught one reaches the filter.
constexpr DWORD kRuntimeRaiseCode = 0x20474343u;

// The unhandled filter's report: 1 when it reached the pipeline.
std::uint8_t ReportFromUnhandledFilter(std::shared_ptr<const TExceptionObjectRecord> object, std::uintptr_t address,
                                       const EXCEPTION_RECORD* record, const CONTEXT* context);
// The object the unhandled filter reports for a system exception record.
std::shared_ptr<const TExceptionObjectRecord> UnhandledFilterObject(const EXCEPTION_RECORD* record);
// The message text as the filter compares it (control characters other than CR and LF become blanks).
std::string FilterMessageText(const TExceptionObjectRecord* object);
