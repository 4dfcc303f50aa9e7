// The report dialogs: the dialog loop (message box, short dialog "VL_MS_Dialog",
// detailed dialog "VL_Dialog"), the steps-to-reproduce request, the sending
// window, and the services every report window shares (fonts, timers, the
// library's own caption look, centring, text measuring). Plain Win32 dialogs
// from the templates of res/ReportDialogs.rc, so that they work while the
// application framework itself may be broken.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

#include "ECore.h"
#include "EPipelineWin.h"
#include "EReportDialogs.h"

// A dialog procedure around `Handler` that lets no exception out into the
// system: one that comes is noted as the library's warning instead.
template <INT_PTR (*Handler)(HWND, UINT, WPARAM, LPARAM)>
INT_PTR CALLBACK GuardedDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  try {
    return Handler(dialog, message, wParam, lParam);
  } catch (...) {
    ReportExceptionWarning(eeShowError, "GUI", std::current_exception());
    return FALSE;
  }
}

// The report flags the dialogs read and leave behind (module-wide).
struct TReportDialogState {
  std::uint8_t Kind = 0;  // 0 none, 1 message box, 2 short dialog, 3 detailed dialog
  bool SendChosen = false;
  bool ScreenshotChosen = false;
  bool CopyChosen = false;
  bool TerminateChosen = false;
  bool Cancelled = false;
  bool DialogFailed = false;
  bool Painted = false;
  bool ForcedDetailed = false;
  bool SendOffered = false;
  bool ScreenshotOffered = false;
  bool CopyOffered = false;
  bool SupportLinkShown = false;
  HWND Current = nullptr;  // the report window showing
  HWND Sending = nullptr;  // the sending window
};
TReportDialogState& ReportDialogState();

class TListViewItems;
// The rows of the detailed dialog's list page now showing (Call Stack, Modules
// or Processes); null while no such page shows.
TListViewItems* DetailedDialogPageRows();

// The report the dialogs show (set by the pipeline's dialog step; tests set it directly).
void SetDialogReport(TReportRun* run);
TReportRun* DialogReport();
// Names `run` as the dialogs' report for the scope's life, then the one before
// again: the dialogs never keep a report that has ended.
class TDialogReportScope {
 public:
  explicit TDialogReportScope(TReportRun* run) : before_(DialogReport()) { SetDialogReport(run); }
  ~TDialogReportScope() { SetDialogReport(before_); }
  TDialogReportScope(const TDialogReportScope&) = delete;
  TDialogReportScope& operator=(const TDialogReportScope&) = delete;

 private:
  TReportRun* before_;
};
TVantorModuleOptions* DialogOptions();

// Runs the dialog loop for ReportDialogState().Kind.
void ShowExceptionDialog(bool beep);
// Shows "VL_Request" when the options ask for the steps to reproduce.
void AskReproduceText();
// Opens the sending window when configured; returns once it is up.
void OpenSendingWindow(bool modal);
void ShowSendingWindow(bool modal);
// Runs this thread's messages while its modeless sending window is open.
void RunSendingWindowLoop();
// Restores this process's main window when it is minimised.
void RestoreMinimizedMainWindow();

// What the sending code drives while it sends: the sending window's status
// text and progress bar, and its end (message 2258). Safe from any thread;
// does nothing while no sending window shows.
class TSendingProgress {
 public:
  static void Status(const std::string& text);
  static void Progress(int position, int total);
  static void Close();
};
constexpr UINT kCloseSendingWindowMessage = WM_USER + 1234;

// The pipeline's dialog step: shows the dialog of run.DialogType (the
// loop), carrying the run's choices in and out; false when no dialog could be shown.
bool ShowReportDialogStep(TReportRun& run, bool firstShowing);
void AskReproduceStep(TReportRun& run);
bool ReportDialogShowing();

// Tests: the beep of the first showing goes here instead of MessageBeep.
void SetReportDialogBeep(void (*beep)(UINT type));

// --- Services shared by the report windows ---------------------------------------------------------------
struct TDialogFonts {
  HFONT Caption = nullptr;
  HFONT Dialog = nullptr;
  HFONT SupportLink = nullptr;
  HFONT DetailsLink = nullptr;
  HFONT Bold = nullptr;
  HFONT Mono = nullptr;
  HFONT List = nullptr;
  void Create();
  void Delete();
};
HINSTANCE ReportDialogModule();
// Removes WS_EX_TOOLWINDOW unless the own look is kept; returns the caption height for layout.
int PrepareReportWindowLook(HWND dialog, bool ownLook);
// The timers: keep in front (3), auto-close (2), paint guard (1).
void StartKeepInFront(HWND dialog);
void KeepInFrontTick(HWND dialog, bool topMost);
// Paints the own look's caption and frame (WM_NCPAINT / WM_NCACTIVATE).
void PaintOwnCaption(HWND dialog, bool active, HFONT captionFont);
// Paints a link's text at `at` in its font and colour, on a transparent background.
void PaintLinkText(HDC dc, HFONT font, COLORREF colour, const RECT& at, const std::string& text);
// WM_SETCURSOR over a dialog's link: the hand while the pointer is inside `link` (client
// coordinates), the dialog's answer set; false elsewhere (the default cursor stays).
bool SetLinkCursor(HWND dialog, const RECT& link);
int MeasureTextHeightIn(HWND window, HFONT font, const std::string& text, int width);
int TextWidthIn(HWND window, HFONT font, const std::string& text);
int FontLineHeight(HWND window, HFONT font);
TDialogRect ReportWorkArea();
void CentreWindowOnWorkArea(HWND window);
std::string DialogText(int number);
void SetItemText(HWND dialog, int id, const std::string& text);
std::string GetItemText(HWND dialog, int id);
// Runs the custom-button event on the faulting thread; true when a handler asks to close.
bool RunCustomButtonEvent();
// "VantorLog.ini" in the library's data folder.
constexpr const char* kDialogIniFile = "VantorLog.ini";
