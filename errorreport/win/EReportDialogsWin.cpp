#include "EReportDialogsWin.h"

#include <commctrl.h>

#include <algorithm>
#include <atomic>
#include <vector>

#include "ECore.h"
#include "ECoreWin.h"
#include "EEvents.h"
#include "EListViewWin.h"
#include "ESendReportWin.h"
#include "ESystemWin.h"
#include "ExceptionLogWin.h"
#include "SysUtils.h"
#include "Thread.h"

// The detailed dialog's procedure (EDetailedDialogWin.cpp).
INT_PTR CALLBACK DetailedDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

namespace {

TReportRun* g_run = nullptr;
void (*g_beep)(UINT) = nullptr;
std::atomic<bool> g_sendingFocused{false};
HWND g_foreground = nullptr;

constexpr UINT kMessageBoxFlags = 0x00242010;  // MB_ICONHAND | MB_TASKMODAL | MB_TOPMOST | 0x00200000
constexpr int kShortClientWidth = 413;

// The top-level windows of this process when a dialog opened (keep in front).
std::vector<HWND> g_knownWindows;

BOOL CALLBACK CollectProcessWindow(HWND window, LPARAM) {
  DWORD pid = 0;
  GetWindowThreadProcessId(window, &pid);
  if (pid == GetCurrentProcessId()) g_knownWindows.push_back(window);
  return TRUE;
}

bool UsesAnsiCharset() {
  CHARSETINFO info{};
  if (!TranslateCharsetInfo(reinterpret_cast<DWORD*>(static_cast<std::uintptr_t>(GetACP())), &info, TCI_SRCCODEPAGE))
    return true;
  return info.ciCharset == ANSI_CHARSET;
}

std::string ToCrLf(const std::string& text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\n' && (i == 0 || text[i - 1] != '\r')) out += '\r';
    out += text[i];
  }
  return out;
}

void Beep(UINT type) {
  if (g_beep)
    g_beep(type);
  else
    MessageBeep(type);
}

// The report's message box. A system that refuses the service-notification
// bit (no box at all) gets the box without it, so that the user still sees the error.
void ShowReportMessageBox(HWND owner, const std::string& text, const std::string& caption) {
  if (MessageBoxA(owner, text.c_str(), caption.c_str(), kMessageBoxFlags) == 0)
    MessageBoxA(owner, text.c_str(), caption.c_str(), kMessageBoxFlags & ~0x00200000u);
}

void ShowFallbackBox() {
  ShowReportMessageBox(nullptr, GetShownExceptionMessage(), DialogText(3));
}

// The own look's caption and frame (WM_NCPAINT, WM_NCACTIVATE); true when handled.
bool HandleOwnLook(HWND dialog, UINT message, WPARAM wParam, bool ownLook, HFONT captionFont) {
  if (!ownLook || (message != WM_NCPAINT && message != WM_NCACTIVATE)) return false;
  PaintOwnCaption(dialog, message == WM_NCACTIVATE ? wParam != 0 : GetForegroundWindow() == dialog, captionFont);
  SetWindowLongPtrA(dialog, DWLP_MSGRESULT, message == WM_NCACTIVATE ? TRUE : 0);
  return true;
}

// The exception-action notification with action 8, on the faulting thread.
bool g_execute = true;
void RunTerminateAction() {
  TVantorEventState& events = VantorEventState();
  bool execute = g_execute;
  CallExceptionActionNotifyExports(events.Current, 8, execute);  // the other modules' exports, then the handlers
  g_execute = execute;
}

// --- Short dialog ---------------------------------------------------------------------------------------
struct TShortDialog {
  TDialogFonts Fonts;
  HBITMAP Error = nullptr;
  int AutoCloseCount = 0;
  RECT Link{};
  bool LinkShown = false;
};
TShortDialog* g_short = nullptr;

void PlaceItem(HWND dialog, int id, int x, int y, int w, int h, bool show) {
  HWND item = GetDlgItem(dialog, id);
  if (!item) return;
  MoveWindow(item, x, y, w, h, FALSE);
  ShowWindow(item, show ? SW_SHOW : SW_HIDE);
  if (!show) EnableWindow(item, FALSE);
}

void InitShortDialog(HWND dialog) {
  TReportDialogState& s = ReportDialogState();
  TVantorModuleOptions* o = DialogOptions();
  TShortDialog& d = *g_short;
  s.Current = dialog;
  SetForegroundWindow(dialog);
  d.Fonts.Create();
  d.Error = static_cast<HBITMAP>(LoadImageA(ReportDialogModule(), "VL_Error", IMAGE_BITMAP, 0, 0, 0));
  const int caption = PrepareReportWindowLook(dialog, false);  // the short dialog keeps the standard look
  if (o->DialogFlags() & 0x0020) SetWindowPos(dialog, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
  StartKeepInFront(dialog);
  if (o->DialogAutoCloseSeconds() > 0) SetTimer(dialog, 2, 1000, nullptr);
  SetTimer(dialog, 1, 1, nullptr);
  SetWindowTextA(dialog, DialogText(3).c_str());
  for (int id : {102, 103, 104, 105, 106, 107, 108, 109, 110, 111, 1000, 1001, 1002})
    SendDlgItemMessageA(dialog, id, WM_SETFONT, reinterpret_cast<WPARAM>(d.Fonts.Dialog), FALSE);
  SendDlgItemMessageA(dialog, 102, WM_SETFONT, reinterpret_cast<WPARAM>(d.Fonts.Bold), FALSE);
  SendDlgItemMessageA(dialog, 105, WM_SETFONT, reinterpret_cast<WPARAM>(d.Fonts.Bold), FALSE);
  SendDlgItemMessageA(dialog, 109, WM_SETFONT, reinterpret_cast<WPARAM>(d.Fonts.Mono), FALSE);

  const int border = GetSystemMetrics(SM_CYBORDER);
  const int line = FontLineHeight(dialog, d.Fonts.Dialog);
  // 1. The header band's title.
  SetItemText(dialog, 102, DialogText(26));
  const int titleHeight = MeasureTextHeightIn(dialog, d.Fonts.Bold, DialogText(26), 356);
  PlaceItem(dialog, 102, 8, (51 - titleHeight) / 2, 356, titleHeight, true);
  // 2. The items from y 59 down.
  int y = 59;
  const std::string message = ToCrLf(GetShownExceptionMessage());
  SetItemText(dialog, 103, message);
  int h = MeasureTextHeightIn(dialog, d.Fonts.Dialog, message, 397);
  PlaceItem(dialog, 103, 8, y, 397, h, true);
  y += h;
  const bool terminate = o->TerminateAction() != 0 && ReportedErrorsCount() > o->TerminateButtonAfter();
  if (terminate) {
    y += 10;
    SetItemText(dialog, 104, DialogText(o->TerminateAction() == 1 ? 28 : 27));
    PlaceItem(dialog, 104, 8, y, 397, line + 2, true);
    y += line + 2;
  } else {
    PlaceItem(dialog, 104, 0, 0, 0, 0, false);
  }
  const bool duplicate = DialogReport() && DialogReport()->Duplicate;
  s.SendOffered = (o->MailMode() != 0 || o->WebMode() != 0) && !duplicate && (o->DialogFlags() & 0x0080);
  if (s.SendOffered) {
    y += 10;
    SetItemText(dialog, 105, DialogText(29));
    h = MeasureTextHeightIn(dialog, d.Fonts.Bold, DialogText(29), 397);
    PlaceItem(dialog, 105, 8, y, 397, h, true);
    y += h + 2;
    SetItemText(dialog, 106, DialogText(30));
    h = MeasureTextHeightIn(dialog, d.Fonts.Dialog, DialogText(30), 397);
    PlaceItem(dialog, 106, 8, y, 397, h, true);
    y += h;
  } else {
    PlaceItem(dialog, 105, 0, 0, 0, 0, false);
    PlaceItem(dialog, 106, 0, 0, 0, 0, false);
  }
  d.LinkShown = (o->DialogFlags() & 0x0008) != 0;
  if (d.LinkShown) {
    y += 12;
    const std::string lead = DialogText(31) + " ";
    SetItemText(dialog, 107, lead);
    const int leadWidth = TextWidthIn(dialog, d.Fonts.Dialog, lead);
    PlaceItem(dialog, 107, 8, y, leadWidth + 2, line, true);
    const int linkWidth = TextWidthIn(dialog, d.Fonts.DetailsLink, DialogText(32));
    d.Link = RECT{8 + leadWidth, y, 8 + leadWidth + linkWidth, y + line};
    y += line;
  } else {
    PlaceItem(dialog, 107, 0, 0, 0, 0, false);
  }
  if (o->LogFlags() & 0x02) {
    y += 12;
    SetItemText(dialog, 108, DialogText(33));
    h = MeasureTextHeightIn(dialog, d.Fonts.Dialog, DialogText(33), 397);
    PlaceItem(dialog, 108, 8, y, 397, h, true);
    y += h + 2;
    const int editHeight = 8 * border + 4 * FontLineHeight(dialog, d.Fonts.Mono);
    SetItemText(dialog, 109, ToCrLf(o->ReproduceSteps()));
    PlaceItem(dialog, 109, 8, y, 397, editHeight, true);
    y += editHeight;
  } else {
    PlaceItem(dialog, 108, 0, 0, 0, 0, false);
    PlaceItem(dialog, 109, 0, 0, 0, 0, false);
  }
  if (s.SendOffered && (o->MailMode() != 1 || o->WebMode() != 0)) {
    y += 12;
    const std::string label = DialogText(34);
    SetItemText(dialog, 110, label);
    const int labelWidth = TextWidthIn(dialog, d.Fonts.Dialog, label) + 4;
    const int editHeight = line + 4 * border + 2;
    PlaceItem(dialog, 110, 8, y + 2, labelWidth, line, true);
    std::string email;
    ReadIniValue(kDialogIniFile, "User", "Email", email, "");
    SetItemText(dialog, 111, email);
    PlaceItem(dialog, 111, 8 + labelWidth + 4, y, 397 - labelWidth - 4, editHeight, true);
    y += editHeight;
  } else {
    PlaceItem(dialog, 110, 0, 0, 0, 0, false);
    PlaceItem(dialog, 111, 0, 0, 0, 0, false);
  }
  // 3. Buttons.
  y += 12;
  const int buttonHeight = 4 * border + line + 6;
  auto width = [&](const std::string& text) {
    return ReportButtonWidth(TextWidthIn(dialog, d.Fonts.Dialog, StripAccelerator(text)), border);
  };
  const std::string helpText = DialogText(21);
  if (o->DialogFlags() & 0x0200) {
    SetItemText(dialog, 1002, helpText);
    PlaceItem(dialog, 1002, 8, y, width(helpText), buttonHeight, true);
  } else {
    PlaceItem(dialog, 1002, 0, 0, 0, 0, false);
  }
  const std::string closeText = DialogText(s.SendOffered && s.SendChosen ? 36 : 17);
  const int closeWidth = width(closeText);
  SetItemText(dialog, 1001, closeText);
  PlaceItem(dialog, 1001, 405 - closeWidth, y, closeWidth, buttonHeight, true);
  const std::string sendText = DialogText(35);
  const int sendWidth = width(sendText);
  SetItemText(dialog, 1000, sendText);
  if (s.SendOffered) {
    PlaceItem(dialog, 1000, 397 - closeWidth - sendWidth, y, sendWidth, buttonHeight, true);
    SendMessageA(dialog, DM_SETDEFID, 1000, 0);
  } else {
    PlaceItem(dialog, 1000, 0, 0, 0, 0, false);
    SendMessageA(dialog, DM_SETDEFID, 1001, 0);
    SetFocus(GetDlgItem(dialog, 1001));
  }
  // 4. The window's size, centred.
  const int frameX = GetSystemMetrics(SM_CXFIXEDFRAME);
  const int frameY = GetSystemMetrics(SM_CYFIXEDFRAME);
  const int windowHeight = y + buttonHeight + 2 * frameY + caption + 10;
  SetWindowPos(dialog, nullptr, 0, 0, kShortClientWidth + 2 * frameX, windowHeight, SWP_NOMOVE | SWP_NOZORDER);
  CentreWindowOnWorkArea(dialog);
}

void FinishShortDialog(HWND dialog, bool toDetailed) {
  TReportDialogState& s = ReportDialogState();
  TVantorModuleOptions* o = DialogOptions();
  const std::string email = Trim(GetItemText(dialog, 111));
  if (IsWindowVisible(GetDlgItem(dialog, 111)) && !email.empty()) {
    if (!IsAcceptableEmail(email)) {
      ShowReportMessageBox(dialog, DialogText(157), DialogText(2));
      s.Cancelled = false;
      return;  // the dialog stays open
    }
    if (TVantorModuleOptionsEx* ex = dynamic_cast<TVantorModuleOptionsEx*>(o)) ex->SetMailFrom(email);
    if (TReportRun* run = DialogReport()) run->ReportText = ReplaceSenderLine(run->ReportText, email);
    WriteIniValue(kDialogIniFile, "User", "Email", email);
  }
  if (IsWindowVisible(GetDlgItem(dialog, 109))) {
    if (TVantorModuleOptionsEx* ex = dynamic_cast<TVantorModuleOptionsEx*>(o))
      ex->SetReproduceSteps(Trim(GetItemText(dialog, 109)));
  }
  const bool checked = IsWindowVisible(GetDlgItem(dialog, 104)) && IsDlgButtonChecked(dialog, 104) == BST_CHECKED;
  s.TerminateChosen = (s.TerminateChosen || checked) && !s.Cancelled;
  s.Kind = toDetailed ? 3 : 0;
  EndDialog(dialog, 1);
}

void CancelShortDialog(HWND dialog) {
  TReportDialogState& s = ReportDialogState();
  s.SendChosen = false;
  s.Cancelled = true;
  PostMessageA(dialog, WM_CLOSE, 0, 0);
}

INT_PTR ShortDialogMessage(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  TReportDialogState& s = ReportDialogState();
  TShortDialog* d = g_short;
  switch (message) {
    case WM_INITDIALOG:
      InitShortDialog(dialog);
      return FALSE;
    case WM_NOTIFY:
    case WM_NCLBUTTONDOWN:
      if (d) d->AutoCloseCount = 0;
      return FALSE;
    case WM_TIMER:
      if (wParam == 1) {
        KillTimer(dialog, 1);
        if (!s.Painted) {
          s.Kind = 0;
          EndDialog(dialog, 0);
        }
      } else if (wParam == 2 && d) {
        if (++d->AutoCloseCount >= DialogOptions()->DialogAutoCloseSeconds()) {
          KillTimer(dialog, 2);
          PostMessageA(dialog, WM_CLOSE, 0, 0);
        }
      } else if (wParam == 3) {
        KeepInFrontTick(dialog, (DialogOptions()->DialogFlags() & 0x0020) != 0);
      }
      return TRUE;
    case WM_PAINT: {
      s.Painted = true;
      PAINTSTRUCT ps;
      HDC dc = BeginPaint(dialog, &ps);
      RECT band{0, 0, kShortClientWidth, 51};
      FillRect(dc, &band, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
      FrameRect(dc, &band, static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH)));
      if (d && d->Error) PaintMaskedBitmap(dc, 372, 9, 32, 32, d->Error);
      if (d && d->LinkShown) PaintLinkText(dc, d->Fonts.DetailsLink, RGB(0, 0, 255), d->Link, DialogText(32));
      EndPaint(dialog, &ps);
      return TRUE;
    }
    case WM_CTLCOLORSTATIC:
      if (GetDlgCtrlID(reinterpret_cast<HWND>(lParam)) == 102) {
        SetBkMode(reinterpret_cast<HDC>(wParam), TRANSPARENT);
        return reinterpret_cast<INT_PTR>(GetStockObject(WHITE_BRUSH));
      }
      return FALSE;
    case WM_SETCURSOR:
      return d && d->LinkShown && SetLinkCursor(dialog, d->Link) ? TRUE : FALSE;
    case WM_LBUTTONDOWN:
      if (d) {
        d->AutoCloseCount = 0;
        const POINT p{static_cast<short>(LOWORD(lParam)), static_cast<short>(HIWORD(lParam))};
        if (d->LinkShown && PtInRect(&d->Link, p)) FinishShortDialog(dialog, true);
      }
      return TRUE;
    case WM_COMMAND:
      if (d) d->AutoCloseCount = 0;
      switch (LOWORD(wParam)) {
        case 1000:
          s.SendChosen = true;
          FinishShortDialog(dialog, false);
          return TRUE;
        case 1001:
          s.SendChosen = s.SendChosen && !s.SendOffered;
          FinishShortDialog(dialog, false);
          return TRUE;
        case 1002:
          if (RunCustomButtonEvent()) FinishShortDialog(dialog, false);
          return TRUE;
        case IDCANCEL:
          CancelShortDialog(dialog);
          return TRUE;
        default:
          if (HIWORD(wParam) == EN_KILLFOCUS && GetAsyncKeyState(VK_ESCAPE) < 0) CancelShortDialog(dialog);
          return FALSE;
      }
    case WM_CLOSE:
      FinishShortDialog(dialog, false);
      return TRUE;
    case WM_DESTROY:
      if (d) {
        d->Fonts.Delete();
        if (d->Error) DeleteObject(d->Error);
        d->Error = nullptr;
      }
      s.Current = nullptr;
      return FALSE;
  }
  return FALSE;
}

// --- Request dialog -------------------------------------------------------------------------------------
struct TRequestDialog {
  TDialogFonts Fonts;
  int AutoCloseCount = 0;
};
TRequestDialog* g_request = nullptr;

INT_PTR RequestDialogMessage(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
  TVantorModuleOptions* o = DialogOptions();
  TRequestDialog* d = g_request;
  if (d && HandleOwnLook(dialog, message, wParam, (o->DialogFlags() & 0x0040) != 0, d->Fonts.Caption)) return TRUE;
  switch (message) {
    case WM_INITDIALOG: {
      ReportDialogState().Current = dialog;
      d->Fonts.Create();
      const int caption = PrepareReportWindowLook(dialog, (o->DialogFlags() & 0x0040) != 0);
      if (o->DialogFlags() & 0x0020) SetWindowPos(dialog, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
      RECT wr;
      GetWindowRect(dialog, &wr);
      int windowHeight = wr.bottom - wr.top + caption - 18;
      const int windowWidth = wr.right - wr.left;
      StartKeepInFront(dialog);
      if (o->DialogAutoCloseSeconds() > 0) SetTimer(dialog, 2, 1000, nullptr);
      SetWindowTextA(dialog, DialogText(123).c_str());
      for (int id : {100, 101, 2})
        SendDlgItemMessageA(dialog, id, WM_SETFONT, reinterpret_cast<WPARAM>(d->Fonts.Dialog), FALSE);
      SendDlgItemMessageA(dialog, 101, WM_SETFONT, reinterpret_cast<WPARAM>(d->Fonts.Mono), FALSE);
      const int w = windowWidth - 27;
      const int h = MeasureTextHeightIn(dialog, d->Fonts.Dialog, DialogText(124), w);
      SetItemText(dialog, 100, DialogText(124));
      MoveWindow(GetDlgItem(dialog, 100), 10, 10, w, h, FALSE);
      const int editHeight = std::max(40, windowHeight - h - 83);
      SetItemText(dialog, 101, ToCrLf(o->ReproduceSteps()));
      MoveWindow(GetDlgItem(dialog, 101), 10, h + 14, w, editHeight, FALSE);
      SetItemText(dialog, 2, DialogText(125));
      MoveWindow(GetDlgItem(dialog, 2), w - 65, h + editHeight + 20, 75, 23, FALSE);
      windowHeight += h - 10;
      SetWindowPos(dialog, nullptr, 0, 0, windowWidth, windowHeight, SWP_NOMOVE | SWP_NOZORDER);
      CentreWindowOnWorkArea(dialog);
      return TRUE;
    }
    case WM_TIMER:
      if (wParam == 2 && d && ++d->AutoCloseCount >= o->DialogAutoCloseSeconds()) {
        KillTimer(dialog, 2);
        PostMessageA(dialog, WM_COMMAND, IDOK, 0);
      } else if (wParam == 3) {
        KeepInFrontTick(dialog, (o->DialogFlags() & 0x0020) != 0);
      }
      return TRUE;
    case WM_COMMAND:
      if (d) d->AutoCloseCount = 0;
      if (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL) {
        if (TVantorModuleOptionsEx* ex = dynamic_cast<TVantorModuleOptionsEx*>(o))
          ex->SetReproduceSteps(Trim(GetItemText(dialog, 101)));
        EndDialog(dialog, 1);
        return TRUE;
      }
      return FALSE;
    case WM_CLOSE:
      PostMessageA(dialog, WM_COMMAND, IDOK, 0);
      return TRUE;
    case WM_DESTROY:
      if (d) d->Fonts.Delete();
      ReportDialogState().Current = nullptr;
      return FALSE;
    default:
      if (d && ((message >= WM_LBUTTONDOWN && message <= WM_MBUTTONDBLCLK) ||
                (message >= WM_NCLBUTTONDOWN && message <= WM_NCMBUTTONDBLCLK) || message == WM_MOUSEWHEEL ||
                message == WM_NOTIFY))
        d->AutoCloseCount = 0;
      return FALSE;
  }
}

// --- Sending window -------------------------------------------------------------------------------------
struct TSendingWindow {
  TDialogFonts Fonts;
  HBITMAP Picture = nullptr;
  bool Modal = false;
};
TSendingWindow* g_sending = nullptr;
std::mutex g_sendingLock;

INT_PTR SendingWindowMessage(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
  TVantorModuleOptions* o = DialogOptions();
  TSendingWindow* d = g_sending;
  if (d && HandleOwnLook(dialog, message, wParam, !d->Modal || (o->DialogFlags() & 0x0040) != 0, d->Fonts.Caption))
    return TRUE;
  switch (message) {
    case WM_INITDIALOG: {
      ReportDialogState().Sending = dialog;
      d->Fonts.Create();
      d->Picture = static_cast<HBITMAP>(LoadImageA(ReportDialogModule(), "VL_Send", IMAGE_BITMAP, 0, 0, 0));
      const bool ownLook = !d->Modal || (o->DialogFlags() & 0x0040) != 0;
      const int caption = PrepareReportWindowLook(dialog, ownLook);
      RECT wr;
      GetWindowRect(dialog, &wr);
      const int width = wr.right - wr.left;
      const int height = wr.bottom - wr.top + caption - 18;
      SetWindowTextA(dialog, DialogText(110).c_str());
      SendDlgItemMessageA(dialog, 100, WM_SETFONT, reinterpret_cast<WPARAM>(d->Fonts.Dialog), FALSE);
      SendDlgItemMessageA(dialog, 101, PBM_SETRANGE32, 0, 100);
      if (d->Modal) {
        SetWindowPos(dialog, nullptr, 0, 0, width, height, SWP_NOMOVE | SWP_NOZORDER);
        CentreWindowOnWorkArea(dialog);
        StartKeepInFront(dialog);
      } else {
        const TDialogRect work = ReportWorkArea();
        SetWindowPos(dialog, HWND_TOP, work.Right - width, work.Bottom - height, width, height, SWP_SHOWWINDOW);
      }
      ShowWindow(dialog, SW_SHOW);
      return TRUE;
    }
    case WM_SETFOCUS:
      g_sendingFocused = true;
      return FALSE;
    case WM_ACTIVATE:
      g_sendingFocused = true;
      return FALSE;
    case WM_TIMER:
      if (wParam == 3) KeepInFrontTick(dialog, (o->DialogFlags() & 0x0020) != 0);
      return TRUE;
    case WM_PAINT: {
      PAINTSTRUCT ps;
      HDC dc = BeginPaint(dialog, &ps);
      if (d && d->Picture) PaintMaskedBitmap(dc, 8, 8, 32, 32, d->Picture);
      EndPaint(dialog, &ps);
      return TRUE;
    }
    case kCloseSendingWindowMessage:
      if (d && d->Modal)
        EndDialog(dialog, 1);
      else
        DestroyWindow(dialog);
      return TRUE;
    case WM_DESTROY: {
      std::lock_guard<std::mutex> guard(g_sendingLock);
      ReportDialogState().Sending = nullptr;
      if (d) {
        d->Fonts.Delete();
        if (d->Picture) DeleteObject(d->Picture);
        d->Picture = nullptr;
      }
      return FALSE;
    }
  }
  return FALSE;
}

}  // namespace

// --- State ------------------------------------------------------------------------------------------------
TReportDialogState& ReportDialogState() {
  static TReportDialogState state;
  return state;
}

void SetDialogReport(TReportRun* run) {
  g_run = run;
}

TReportRun* DialogReport() {
  return g_run;
}

TVantorModuleOptions* DialogOptions() {
  if (g_run && g_run->Options) return g_run->Options;
  return DefaultVantorLogOptions();
}

void SetReportDialogBeep(void (*beep)(UINT)) {
  g_beep = beep;
}

HINSTANCE ReportDialogModule() {
  HMODULE module = nullptr;
  GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                     reinterpret_cast<LPCSTR>(&ReportDialogModule), &module);
  return module;
}

// --- Shared services ----------------------------------------------------------------------------------------
void TDialogFonts::Create() {
  NONCLIENTMETRICSA metrics{};
  metrics.cbSize = sizeof metrics;
  SystemParametersInfoA(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0);
  const bool ansi = UsesAnsiCharset();
  Caption =
      CreateFontA(metrics.lfCaptionFont.lfHeight, 0, 0, 0, 700, 0, 0, 0, DEFAULT_CHARSET, OUT_TT_PRECIS,
                  CLIP_DEFAULT_PRECIS, DRAFT_QUALITY, VARIABLE_PITCH | FF_SWISS, ansi ? "Verdana" : "MS Sans Serif");
  Dialog = CreateFontIndirectA(&metrics.lfMessageFont);
  LOGFONTA f = metrics.lfMessageFont;
  f.lfWeight = FW_BOLD;
  f.lfUnderline = TRUE;
  SupportLink = CreateFontIndirectA(&f);
  f.lfWeight = 0;
  DetailsLink = CreateFontIndirectA(&f);
  f = metrics.lfMessageFont;
  f.lfWeight = FW_BOLD;
  Bold = CreateFontIndirectA(&f);
  HDC screen = GetDC(nullptr);
  const int dpi = GetDeviceCaps(screen, LOGPIXELSY);
  ReleaseDC(nullptr, screen);
  const int height = -MulDiv(ansi ? 8 : 10, dpi, 72);
  Mono = CreateFontA(height, 0, 0, 0, 400, 0, 0, 0, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS,
                     DEFAULT_QUALITY, FIXED_PITCH | FF_MODERN, ansi ? "Lucida Console" : "Courier New");
  List = CreateFontA(height, 0, 0, 0, 400, 0, 0, 0, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS,
                     DEFAULT_QUALITY, FIXED_PITCH | FF_MODERN, ansi ? "Tahoma" : "Courier New");
}

void TDialogFonts::Delete() {
  for (HFONT* font : {&Caption, &Dialog, &SupportLink, &DetailsLink, &Bold, &Mono, &List}) {
    if (*font) DeleteObject(*font);
    *font = nullptr;
  }
}

int PrepareReportWindowLook(HWND dialog, bool ownLook) {
  if (ownLook) return GetSystemMetrics(SM_CYSMCAPTION);
  const LONG_PTR ex = GetWindowLongPtrA(dialog, GWL_EXSTYLE);
  SetWindowLongPtrA(dialog, GWL_EXSTYLE, ex & ~static_cast<LONG_PTR>(WS_EX_TOOLWINDOW));
  SetWindowPos(dialog, nullptr, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOZORDER | SWP_FRAMECHANGED);
  return GetSystemMetrics(SM_CYCAPTION);
}

void StartKeepInFront(HWND dialog) {
  g_knownWindows.clear();
  EnumWindows(&CollectProcessWindow, 0);
  SetTimer(dialog, 3, 10, nullptr);
}

void KeepInFrontTick(HWND dialog, bool topMost) {
  if (topMost) return;
  HWND fg = GetForegroundWindow();
  if (!fg || fg == dialog) return;
  DWORD pid = 0;
  GetWindowThreadProcessId(fg, &pid);
  if (pid != GetCurrentProcessId()) return;
  if (std::find(g_knownWindows.begin(), g_knownWindows.end(), fg) == g_knownWindows.end()) return;
  SetForegroundWindow(dialog);
}

bool SetLinkCursor(HWND dialog, const RECT& link) {
  POINT p;
  GetCursorPos(&p);
  ScreenToClient(dialog, &p);
  if (!PtInRect(&link, p)) return false;
  SetCursor(LoadCursorA(nullptr, MAKEINTRESOURCEA(VantorHandCursorId())));
  SetWindowLongPtrA(dialog, DWLP_MSGRESULT, TRUE);
  return true;
}

void PaintLinkText(HDC dc, HFONT font, COLORREF colour, const RECT& at, const std::string& text) {
  HGDIOBJ old = SelectObject(dc, font);
  SetBkMode(dc, TRANSPARENT);
  SetTextColor(dc, colour);
  TextOutA(dc, at.left, at.top, text.c_str(), static_cast<int>(text.size()));
  SelectObject(dc, old);
}

void PaintOwnCaption(HWND dialog, bool active, HFONT captionFont) {
  HDC dc = GetWindowDC(dialog);
  if (!dc) return;
  RECT window;
  GetWindowRect(dialog, &window);
  OffsetRect(&window, -window.left, -window.top);
  const int frame = GetSystemMetrics(SM_CXFIXEDFRAME);
  const int captionHeight = GetSystemMetrics(SM_CYSMCAPTION);
  HBRUSH outer = CreateSolidBrush(active ? RGB(64, 64, 64) : RGB(48, 48, 48));
  HBRUSH strips = CreateSolidBrush(active ? RGB(128, 128, 128) : RGB(96, 96, 96));
  FrameRect(dc, &window, outer);
  for (int i = 1; i < frame; ++i) {
    RECT r = window;
    InflateRect(&r, -i, -i);
    FrameRect(dc, &r, strips);
  }
  RECT caption{window.left + frame - 1, window.top + frame - 1, window.right - frame + 1,
               window.top + frame + captionHeight};
  std::uint32_t colour = active ? 0x00C29B82u : 0x00979797u;
  RECT band = caption;
  for (int i = 0; i < captionHeight / 5 && band.top < band.bottom; ++i) {
    HBRUSH b = CreateSolidBrush(colour);
    FillRect(dc, &band, b);
    DeleteObject(b);
    band.top += 2;
    band.bottom -= 2;
    colour = NextBandColour(colour);
  }
  char text[256] = {};
  GetWindowTextA(dialog, text, sizeof text);
  HGDIOBJ old = SelectObject(dc, captionFont ? static_cast<HGDIOBJ>(captionFont) : GetStockObject(DEFAULT_GUI_FONT));
  SetBkMode(dc, TRANSPARENT);
  RECT t = caption;
  t.left += 4;
  if (active) {
    RECT shadow = t;
    OffsetRect(&shadow, 1, 0);
    SetTextColor(dc, RGB(34, 34, 34));
    DrawTextA(dc, text, -1, &shadow, DT_SINGLELINE | DT_VCENTER | DT_NOPREFIX);
    SetTextColor(dc, RGB(255, 255, 255));
  } else {
    SetTextColor(dc, RGB(224, 224, 224));
  }
  DrawTextA(dc, text, -1, &t, DT_SINGLELINE | DT_VCENTER | DT_NOPREFIX);
  SelectObject(dc, old);
  DeleteObject(outer);
  DeleteObject(strips);
  ReleaseDC(dialog, dc);
}

int TextWidthIn(HWND window, HFONT font, const std::string& text) {
  HDC dc = GetDC(window);
  HGDIOBJ old = SelectObject(dc, font);
  SIZE size{};
  GetTextExtentPoint32A(dc, text.data(), static_cast<int>(text.size()), &size);
  SelectObject(dc, old);
  ReleaseDC(window, dc);
  return size.cx;
}

int FontLineHeight(HWND window, HFONT font) {
  HDC dc = GetDC(window);
  HGDIOBJ old = SelectObject(dc, font);
  TEXTMETRICA tm{};
  GetTextMetricsA(dc, &tm);
  SelectObject(dc, old);
  ReleaseDC(window, dc);
  return tm.tmHeight;
}

int MeasureTextHeightIn(HWND window, HFONT font, const std::string& text, int width) {
  HDC dc = GetDC(window);
  HGDIOBJ old = SelectObject(dc, font);
  TEXTMETRICA tm{};
  GetTextMetricsA(dc, &tm);
  const int height = MeasureTextHeight(text, width, tm.tmHeight, [dc](std::string_view word) {
    SIZE size{};
    GetTextExtentPoint32A(dc, word.data(), static_cast<int>(word.size()), &size);
    return static_cast<int>(size.cx);
  });
  SelectObject(dc, old);
  ReleaseDC(window, dc);
  return height;
}

TDialogRect ReportWorkArea() {
  RECT r{};
  if (g_run && g_run->WorkArea.right > g_run->WorkArea.left)
    r = g_run->WorkArea;
  else
    r = GetWindowMonitorWorkArea(GetForegroundWindow());
  if (r.right <= r.left) SystemParametersInfoA(SPI_GETWORKAREA, 0, &r, 0);
  return TDialogRect{r.left, r.top, r.right, r.bottom};
}

void CentreWindowOnWorkArea(HWND window) {
  RECT wr;
  GetWindowRect(window, &wr);
  const TDialogRect c = CentredRect(ReportWorkArea(), wr.right - wr.left, wr.bottom - wr.top);
  SetWindowPos(window, nullptr, c.Left, c.Top, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
}

std::string DialogText(int number) {
  return DialogOptions() ? DialogOptions()->GetCustomText(number) : std::string();
}

void SetItemText(HWND dialog, int id, const std::string& text) {
  SetDlgItemTextA(dialog, id, text.c_str());
}

std::string GetItemText(HWND dialog, int id) {
  HWND item = GetDlgItem(dialog, id);
  if (!item) return std::string();
  const int length = GetWindowTextLengthA(item);
  std::string text(static_cast<std::size_t>(length) + 1, '\0');
  const int got = GetWindowTextA(item, text.data(), length + 1);
  text.resize(static_cast<std::size_t>(std::max(0, got)));
  return text;
}

bool RunCustomButtonEvent() {
  VantorEventState().CustomButtonClose = false;
  RunEventOnFaultingThread(&FireCustomButtonClick);
  return VantorEventState().CustomButtonClose;
}

// --- The dialog loop ---------------------------------------------------------------------------------------
void ShowExceptionDialog(bool beep) {
  TReportDialogState& s = ReportDialogState();
  s.DialogFailed = false;
  HMODULE richEdit = LoadLibraryA("RICHED20.DLL");
  INITCOMMONCONTROLSEX controls{sizeof controls, ICC_LISTVIEW_CLASSES | ICC_TAB_CLASSES | ICC_PROGRESS_CLASS};
  InitCommonControlsEx(&controls);
  g_foreground = GetForegroundWindow();
  if (beep && s.Kind != 1) Beep(MB_ICONHAND);
  for (;;) {
    const std::uint8_t shown = s.Kind;
    s.Painted = false;
    if (s.Kind == 3) {
      DialogBoxParamA(ReportDialogModule(), "VL_Dialog", nullptr, &DetailedDialogProc, 0);
    } else if (s.Kind == 2) {
      TShortDialog d;
      g_short = &d;
      DialogBoxParamA(ReportDialogModule(), "VL_MS_Dialog", nullptr, &GuardedDialogProc<ShortDialogMessage>, 0);
      g_short = nullptr;
    } else if (s.Kind == 1) {
      s.Painted = true;
      ShowReportMessageBox(nullptr, GetShownExceptionMessage(), DialogText(3));
      s.Kind = 0;
    } else {
      s.Painted = true;
    }
    if (!s.Painted && (GetVersion() & 0x80000000u) == 0) ShowFallbackBox();
    bool cleared = false;
    if (s.TerminateChosen) {
      ClearLibraryWarning();
      g_execute = true;
      RunEventOnFaultingThread(&RunTerminateAction);
      if (!g_execute) {
        s.TerminateChosen = false;
        cleared = true;
      }
    }
    if (!s.Painted) {
      ReportLibraryWarning(eeShowError, "Cannot show the DialogBox window.");
      s.Kind = 0;
      s.DialogFailed = true;
    }
    if (!cleared || s.DialogFailed) break;
    s.Kind = shown;  // a handler kept the program alive: the same dialog again
  }
  if (g_foreground && IsWindow(g_foreground)) SetForegroundWindow(g_foreground);
  if (richEdit) FreeLibrary(richEdit);
}

bool ShowReportDialogStep(TReportRun& run, bool firstShowing) {
  TReportDialogState& s = ReportDialogState();
  TDialogReportScope report(&run);
  if (firstShowing) {
    s.TerminateChosen = false;
    s.Cancelled = false;
    s.CopyChosen = false;
  }
  s.ForcedDetailed = !firstShowing;
  s.Kind = run.DialogType;
  s.SendChosen = run.SendChosen;
  s.ScreenshotChosen = run.AttachScreenshot;
  ShowExceptionDialog(firstShowing);
  run.DialogType = s.Kind;
  run.SendChosen = s.SendChosen;
  run.AttachScreenshot = s.ScreenshotChosen;
  run.CopyToClipboard = s.CopyChosen;
  if (s.TerminateChosen && run.Options) SetCloseAction(run.Options->TerminateAction());
  return !s.DialogFailed;
}

void AskReproduceText() {
  TVantorModuleOptions* o = DialogOptions();
  TReportDialogState& s = ReportDialogState();
  const bool duplicate = g_run && g_run->Duplicate;
  if (!(o->LogFlags() & 0x02) || IsConsoleApp() || duplicate || !(s.SendChosen || o->WriteLogFile()) || s.DialogFailed)
    return;
  TRequestDialog d;
  g_request = &d;
  DialogBoxParamA(ReportDialogModule(), "VL_Request", nullptr, &GuardedDialogProc<RequestDialogMessage>, 0);
  g_request = nullptr;
}

void AskReproduceStep(TReportRun& run) {
  TDialogReportScope report(&run);
  ReportDialogState().SendChosen = run.SendChosen;
  AskReproduceText();
}

bool ReportDialogShowing() {
  return ReportDialogState().Current != nullptr || ReportDialogState().Sending != nullptr;
}

// --- Sending window -----------------------------------------------------------------------------------------
void RunSendingWindowLoop() {
  MSG msg;
  while (HWND window = ReportDialogState().Sending) {
    if (GetWindowThreadProcessId(window, nullptr) != GetCurrentThreadId()) return;
    const BOOL got = GetMessageA(&msg, nullptr, 0, 0);
    if (got == 0) {
      PostQuitMessage(static_cast<int>(msg.wParam));  // kept for the thread's owner
      return;
    }
    if (got < 0) return;
    if (!IsDialogMessageA(window, &msg)) {
      TranslateMessage(&msg);
      DispatchMessageA(&msg);
    }
  }
}

void ShowSendingWindow(bool modal) {
  static TSendingWindow window;
  window = TSendingWindow{};
  window.Modal = modal;
  g_sending = &window;
  if (modal) {
    DialogBoxParamA(ReportDialogModule(), "VL_Server", nullptr, &GuardedDialogProc<SendingWindowMessage>, 0);
  } else {
    CreateDialogParamA(ReportDialogModule(), "VL_Server", nullptr, &GuardedDialogProc<SendingWindowMessage>, 0);
  }
}

void OpenSendingWindow(bool modal) {
  TReportDialogState& s = ReportDialogState();
  TVantorModuleOptions* o = DialogOptions();
  g_sendingFocused = false;
  s.Painted = false;
  if (!(o->SendFlags() & 0x01) || (o->MailMode() == 0 && o->WebMode() == 0) || IsConsoleApp() || s.DialogFailed) {
    s.Painted = true;
    return;
  }
  if (VantorLogFlags().ReportOnFaultingThread) {
    ShowSendingWindow(false);
  } else {
    // The sending window's own thread (frees itself when done), at the highest priority.
    TSendDialogThread* thread = New<TSendDialogThread>(modal);
    thread->FreeOnTerminate = true;
    thread->SetPriority(tpHighest);
    thread->Resume();
    for (int i = 0; i < 200 && !g_sendingFocused; ++i) Sleep(50);
  }
}

void TSendingProgress::Status(const std::string& text) {
  std::lock_guard<std::mutex> guard(g_sendingLock);
  if (HWND w = ReportDialogState().Sending)
    SendDlgItemMessageA(w, 100, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()));
}

void TSendingProgress::Progress(int position, int total) {
  std::lock_guard<std::mutex> guard(g_sendingLock);
  if (HWND w = ReportDialogState().Sending) {
    SendDlgItemMessageA(w, 101, PBM_SETRANGE32, 0, std::max(1, total));
    SendDlgItemMessageA(w, 101, PBM_SETPOS, static_cast<WPARAM>(position), 0);
  }
}

void TSendingProgress::Close() {
  std::lock_guard<std::mutex> guard(g_sendingLock);
  if (HWND w = ReportDialogState().Sending) PostMessageA(w, kCloseSendingWindowMessage, 0, 0);
}

// --- Restore ------------------------------------------------------------------------------------------------
void RestoreMinimizedMainWindow() {
  HWND main = FindProcessMainWindow(GetCurrentProcessId());
  if (!main || !IsIconic(main)) return;
  PostMessageA(main, WM_SYSCOMMAND, SC_RESTORE, 0);
  if (GetWindowThreadProcessId(main, nullptr) == GetCurrentThreadId()) {
    MSG msg;
    if (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
      if (msg.message == WM_QUIT) {
        PostQuitMessage(static_cast<int>(msg.wParam));  // kept for the program's own loop
      } else {
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
      }
    }
    ShowWindow(main, SW_SHOWNORMAL);
  } else {
    // Another thread owns the window (it may be suspended for the report): nothing here waits on it.
    ShowWindowAsync(main, SW_SHOWNORMAL);
  }
  SetForegroundWindow(main);
}
