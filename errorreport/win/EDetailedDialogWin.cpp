// The detailed report dialog "VL_Dialog": the message, the buttons, the
// check-box strip, the support link and, in detailed mode, the tab pages
// (General, Call Stack, Modules, Processes, Assembler, CPU). Its placement
// and list column widths are kept in [Coordinates] of "VantorLog.ini".
#include <windows.h>
// The common-control headers need the types of windows.h first.
#include <commctrl.h>
#include <richedit.h>
#include <shellapi.h>

#include <algorithm>
#include <cstring>
#include <memory>

#include "ECallStack.h"
#include "ECore.h"
#include "ECoreWin.h"
#include "EListViewWin.h"
#include "EReportBuilder.h"
#include "EReportDialogsWin.h"
#include "ESystem.h"
#include "ESystemWin.h"
#include "ExceptionLogWin.h"
#include "SysUtils.h"

INT_PTR CALLBACK DetailedDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

namespace {

constexpr const char* kCoordinates = "Coordinates";
const char* const kPageTemplates[6] = {"VL_TAB_GENERAL",       "VL_TAB_CALLSTACK", "VL_TAB_MODULESLIST",
                                       "VL_TAB_PROCESSESLIST", "VL_TAB_ASSEMBLER", "VL_TAB_CPU"};

struct TDetailedDialog {
  TDialogFonts Fonts;
  HBITMAP Error = nullptr;
  HBRUSH Background = nullptr;
  bool OwnLook = false;
  bool Detailed = false;
  bool Applying = false;
  bool Recorded = false;
  int Strip = 0;
  int Caption = 0;
  int AutoCloseCount = 0;
  HWND Page = nullptr;
  int PageNumber = 0;
  TDialogPlacement Placement;
  RECT Link{};
  bool OverLink = false;
};
TDetailedDialog* g_detailed = nullptr;

TVantorModuleOptions* Options() {
  return DialogOptions();
}

std::string IniText(const std::string& key, const std::string& fallback) {
  std::string value;
  ReadIniValue(kDialogIniFile, kCoordinates, key, value, fallback);
  return value;
}

int IniNumber(const std::string& key, int fallback) {
  return PlacementNumber(IniText(key, std::to_string(fallback)), fallback);
}

bool Checked(HWND dialog, int id) {
  return IsDlgButtonChecked(dialog, id) == BST_CHECKED;
}

bool TerminateButtonShown() {
  TVantorModuleOptions* o = Options();
  return o->TerminateAction() != 0 && ReportedErrorsCount() > o->TerminateButtonAfter();
}

// --- Tab pages ----------------------------------------------------------------------------------------------
struct TPage {
  int Number = 0;
  std::unique_ptr<TListViewItems> Items;
  int AutoCloseCount = 0;
};

struct TListColumns {
  const char* Key;
  int FirstText;
  std::vector<int> Widths;
  std::vector<int> RightAligned;
};
const TListColumns kStackColumns{"Col", 92, {89, 92, 126, 126, 200, 61}, {5}};
const TListColumns kModuleColumns{"ColMod", 126, {80, 96, 175, 50, 54, 712, 80}, {3, 4}};
const TListColumns kProcessColumns{"ColPro", 133, {48, 134, 232, 56, 57, 47, 52, 330}, {3, 4, 5, 6}};

const TListColumns* ColumnsOf(int page) {
  switch (page) {
    case rpCallStackPage:
      return &kStackColumns;
    case rpModulesPage:
      return &kModuleColumns;
    case rpProcessesPage:
      return &kProcessColumns;
    default:
      return nullptr;
  }
}

DWORD CALLBACK StreamRtf(DWORD_PTR cookie, LPBYTE buffer, LONG size, LONG* read) {
  auto* text = reinterpret_cast<std::pair<const std::string*, std::size_t>*>(cookie);
  const std::size_t left = text->first->size() - text->second;
  const std::size_t n = std::min(left, static_cast<std::size_t>(std::max<LONG>(0, size)));
  std::memcpy(buffer, text->first->data() + text->second, n);
  text->second += n;
  *read = static_cast<LONG>(n);
  return 0;
}

void FillRichEdit(HWND edit, int page, HFONT mono) {
  SendMessageA(edit, WM_SETFONT, reinterpret_cast<WPARAM>(mono), FALSE);
  SendMessageA(edit, EM_SETBKGNDCOLOR, 0, RGB(255, 255, 255));
  const TReportTexts& texts = ReportTexts();
  TRtfFont font;
  font.Name = "Lucida Console";
  font.Size = 8;
  std::string rtf;
  if (page == rpGeneralPage) {
    std::string general = texts.General;
    if (general.empty() && DialogReport()) general = DialogReport()->ReportText;
    rtf = BuildGeneralRtf(general, font);
  } else if (page == rpAssemblerPage) {
    rtf = BuildAssemblerRtf(texts.Assembler, font);
  } else {
    rtf = BuildCpuRtf(texts.Cpu, font, TextWidthIn(edit, mono, std::string(21, '-')));
  }
  std::pair<const std::string*, std::size_t> cookie{&rtf, 0};
  EDITSTREAM stream{};
  stream.dwCookie = reinterpret_cast<DWORD_PTR>(&cookie);
  stream.pfnCallback = &StreamRtf;
  SendMessageA(edit, EM_STREAMIN, SF_RTF, reinterpret_cast<LPARAM>(&stream));
}

void AddColumns(HWND list, const TListColumns& columns) {
  for (std::size_t i = 0; i < columns.Widths.size(); ++i) {
    std::string head = DialogText(columns.FirstText + static_cast<int>(i));
    LVCOLUMNA column{};
    column.mask = LVCF_TEXT | LVCF_WIDTH | LVCF_FMT;
    const bool right = std::find(columns.RightAligned.begin(), columns.RightAligned.end(), static_cast<int>(i)) !=
                       columns.RightAligned.end();
    column.fmt = right ? LVCFMT_RIGHT : LVCFMT_LEFT;
    column.cx = IniNumber(columns.Key + std::to_string(i), columns.Widths[i]);
    column.pszText = head.data();
    ListView_InsertColumn(list, static_cast<int>(i), &column);
  }
}

void SaveColumns(HWND list, const TListColumns& columns) {
  for (std::size_t i = 0; i < columns.Widths.size(); ++i)
    WriteIniValue(kDialogIniFile, kCoordinates, columns.Key + std::to_string(i),
                  std::to_string(ListView_GetColumnWidth(list, static_cast<int>(i))));
}

int ImageOfModule(const TVantorModuleInfo* module) {
  if (!module) return 0;
  if (module->Kind == 1) return 2;
  if (module->Kind == 2) return 1;
  return 0;
}

class TPageThreadFacts : public StackGroupFacts {
 public:
  std::int32_t ThreadPriority(const TVantorThreadInfo& record) override {
    HANDLE h = reinterpret_cast<HANDLE>(record.ThreadHandle);
    const int priority = h ? GetThreadPriority(h) : THREAD_PRIORITY_ERROR_RETURN;
    return priority == THREAD_PRIORITY_ERROR_RETURN ? 0 : priority;
  }
  std::string ThreadClassName(const TObject* threadObject) override {
    return threadObject ? threadObject->ClassName() : std::string();
  }
};

void FillCallStack(TListViewItems& items) {
  TReportRun* run = DialogReport();
  const TVantorStackList* list = run ? run->CallStack : nullptr;
  if (!list) return;
  TVantorModuleOptions* o = Options();
  const std::uint8_t kinds = GetListedStackEntryKinds(*o);
  TPageThreadFacts facts;
  const TVLLocationInfo* previous = nullptr;
  bool first = true;
  for (int i = 0; i < list->Count(); ++i) {
    const TVLLocationInfo* e = list->Items(i);
    if (!e || e->Kind > 7 || !(kinds & (1u << e->Kind))) continue;
    if (e->Kind == 3 && e->Module && e->Module->Kind == 1) continue;
    const bool starts = !previous || e->ThreadId != previous->ThreadId || e->OwnStack != previous->OwnStack ||
                        e->FaultingThread != previous->FaultingThread || e->FirstEntry;
    if (starts) {
      if (!first) items.AddRow({"", "", "", "", "", ""}, "", false, 0, -1);
      first = false;
      const std::string title = FormatStackGroupHeader(StackGroupOfEntry(*e), false, *o, VantorThreadsList(), facts);
      items.AddRow({"", "", "", "", "", ""}, title, true, (e->OwnStack ? 1 : 0) + 2 * (e->FaultingThread ? 1 : 0), -1);
    }
    std::vector<std::string> row(6);
    row[0] = IntToHex(static_cast<std::int64_t>(e->Address), 8);
    if (e->Module) row[1] = ExtractFileName(e->Module->FileName);
    row[2] = e->UnitName;
    row[3] = e->ClassName;
    row[4] = e->ProcedureName;
    if (e->Line != 0) row[5] = IntToStr(e->Line) + "[" + IntToStr(e->LineInProcedure) + "]";
    items.AddRow(row, "", false, 0, e->Kind == 4 ? 3 : ImageOfModule(e->Module));
    previous = e;
  }
}

void FillModules(TListViewItems& items) {
  TVantorModulesList* modules = VantorModulesList();
  for (int i = 0; modules && i < modules->Count(); ++i) {
    const TVantorModuleInfo* m = modules->Items(i);
    const std::string ext = UpperCase(ExtractFileExt(m->FileName));
    const int image = ext == ".BPL" || ext == ".DPL" ? 1 : ext == ".EXE" ? 2 : 0;
    items.AddRow(ModulePageRow(*m), "", false, 0, image);
  }
}

void FillProcesses(TListViewItems& items) {
  TVantorProcessesList* processes = VantorProcessesList();
  for (int i = 0; processes && i < processes->Count(); ++i) {
    const TVantorProcessInfo* p = processes->Items(i);
    items.AddRow(ProcessPageRow(*p), "", false, 0, 2);
  }
}

void SendSourceLine(TListViewItems& items, int item) {
  TListViewRow* row = items.RowOfItem(item);
  if (!row || row->Texts.size() < 6) return;
  TSourceLine line;
  if (!ParseLineColumn(row->Texts[5], line.Line, line.SecondLine)) return;
  line.UnitName = row->Texts[2];
  line.ClassName = row->Texts[3];
  line.ProcedureName = row->Texts[4];
  std::int64_t address = 0;
  if (TryStrToInt64("$" + Trim(row->Texts[0]), address)) {
    if (const TVantorModuleInfo* m = GetModuleEntryOfAddress(reinterpret_cast<const void*>(address))) {
      std::uint64_t bits = 0;
      std::memcpy(&bits, &m->BuildTime, sizeof bits);
      line.ModuleValue1 = static_cast<std::uint32_t>(bits);
      line.ModuleValue2 = static_cast<std::uint32_t>(bits >> 32);
    }
  }
  const DWORD parent = GetParentProcessId();
  const bool ide = parent != 0 && IsIdeProcess(parent);
  if (HMODULE user = GetModuleHandleA("user32.dll")) {
    using AllowFn = BOOL(WINAPI*)(DWORD);
    if (auto allow =
            reinterpret_cast<AllowFn>(reinterpret_cast<void*>(GetProcAddress(user, "AllowSetForegroundWindow"))))
      allow(parent);
  }
  const auto record = PackSourceLineRecord(line);
  HANDLE slot = CreateFileA(SourceLineMailslotName(parent, ide).c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (slot == INVALID_HANDLE_VALUE) return;  // no development environment listens
  DWORD written = 0;
  WriteFile(slot, record.data(), static_cast<DWORD>(record.size()), &written, nullptr);
  CloseHandle(slot);
}

void LayoutPageBody(HWND page) {
  RECT r;
  GetClientRect(page, &r);
  MoveWindow(GetDlgItem(page, 102), 3, 3, r.right - 8, 15, TRUE);
  MoveWindow(GetDlgItem(page, 103), 3, 20, r.right - 8, r.bottom - 24, TRUE);
}

INT_PTR PageMessage(HWND page, UINT message, WPARAM, LPARAM lParam) {
  TPage* p = reinterpret_cast<TPage*>(GetWindowLongPtrA(page, DWLP_USER));
  switch (message) {
    case WM_INITDIALOG: {
      p = reinterpret_cast<TPage*>(lParam);
      SetWindowLongPtrA(page, DWLP_USER, lParam);
      TDetailedDialog* d = g_detailed;
      SendDlgItemMessageA(page, 102, WM_SETFONT, reinterpret_cast<WPARAM>(d->Fonts.Dialog), FALSE);
      SetItemText(page, 102, DialogText(6 + 2 * p->Number));
      HWND body = GetDlgItem(page, 103);
      if (const TListColumns* columns = ColumnsOf(p->Number)) {
        SendMessageA(body, WM_SETFONT, reinterpret_cast<WPARAM>(d->Fonts.List), FALSE);
        ListView_SetExtendedListViewStyle(body, LVS_EX_FULLROWSELECT);
        ListView_SetBkColor(body, RGB(255, 255, 255));
        ListView_SetTextColor(body, RGB(0, 0, 0));
        AddColumns(body, *columns);
        p->Items = std::make_unique<TListViewItems>(body);
        if (p->Number == rpCallStackPage) FillCallStack(*p->Items);
        if (p->Number == rpModulesPage) FillModules(*p->Items);
        if (p->Number == rpProcessesPage) FillProcesses(*p->Items);
      } else {
        FillRichEdit(body, p->Number, d->Fonts.Mono);
      }
      LayoutPageBody(page);
      return TRUE;
    }
    case WM_SIZE:
      LayoutPageBody(page);
      return TRUE;
    case WM_DRAWITEM:
      if (p && p->Items) {
        p->Items->HandleDrawItem(*reinterpret_cast<const DRAWITEMSTRUCT*>(lParam));
        SetWindowLongPtrA(page, DWLP_MSGRESULT, TRUE);
      }
      return TRUE;
    case WM_MEASUREITEM:
      return FALSE;
    case WM_NOTIFY: {
      if (g_detailed) g_detailed->AutoCloseCount = 0;
      const NMHDR* hdr = reinterpret_cast<const NMHDR*>(lParam);
      if (!p || !p->Items || hdr->idFrom != 103) return FALSE;
      if (hdr->code == NM_CLICK) {
        const NMITEMACTIVATE* a = reinterpret_cast<const NMITEMACTIVATE*>(lParam);
        if (a->iItem >= 0) p->Items->ToggleGroup(a->iItem, a->ptAction, true);
      } else if (hdr->code == LVN_ITEMACTIVATE && p->Number == rpCallStackPage) {
        const NMITEMACTIVATE* a = reinterpret_cast<const NMITEMACTIVATE*>(lParam);
        TListViewRow* row = p->Items->RowOfItem(a->iItem);
        if (row && !row->IsGroup && row->Texts.size() > 5 && !Trim(row->Texts[5]).empty())
          SendSourceLine(*p->Items, a->iItem);
        else if (row) {
          const int group =
              row->IsGroup ? a->iItem : p->Items->Rows().ListPosition(p->Items->Rows().IndexOf(row->Parent));
          if (row->IsGroup || row->Parent) p->Items->ToggleGroup(group, a->ptAction, false);
        }
      }
      return FALSE;
    }
    case WM_DESTROY:
      if (p) {
        if (const TListColumns* columns = ColumnsOf(p->Number)) SaveColumns(GetDlgItem(page, 103), *columns);
        p->Items.reset();
        delete p;
        SetWindowLongPtrA(page, DWLP_USER, 0);
      }
      return FALSE;
    default:
      if (g_detailed && ((message >= WM_LBUTTONDOWN && message <= WM_MBUTTONDBLCLK) || message == WM_MOUSEWHEEL ||
                         message == WM_KEYDOWN))
        g_detailed->AutoCloseCount = 0;
      return FALSE;
  }
}

void ShowPage(HWND dialog, int tabIndex) {
  TDetailedDialog& d = *g_detailed;
  if (d.Page) DestroyWindow(d.Page);
  d.Page = nullptr;
  HWND tab = GetDlgItem(dialog, 1000);
  auto* page = new TPage;
  page->Number = PageOfTabIndex(tabIndex, Options()->LogFlags());
  d.PageNumber = page->Number;
  d.Page = CreateDialogParamA(ReportDialogModule(), kPageTemplates[page->Number], tab, &GuardedDialogProc<PageMessage>,
                              reinterpret_cast<LPARAM>(page));
  if (!d.Page) {
    delete page;
    return;
  }
  RECT r;
  GetClientRect(tab, &r);
  TabCtrl_AdjustRect(tab, FALSE, &r);
  MoveWindow(d.Page, r.left - 3, r.top - 1, r.right - r.left + 3, r.bottom - r.top + 1, TRUE);
  ShowWindow(d.Page, IsWindowVisible(tab) ? SW_SHOW : SW_HIDE);
}

// --- Layout --------------------------------------------------------------------------------------------------
void Layout(HWND dialog) {
  TDetailedDialog& d = *g_detailed;
  TVantorModuleOptions* o = Options();
  TReportDialogState& s = ReportDialogState();
  RECT client;
  GetClientRect(dialog, &client);
  const int cw = client.right;
  const int ch = client.bottom;
  const int dx = cw - 466;
  if (d.Detailed) {
    MoveWindow(GetDlgItem(dialog, 1000), 4, 52, cw - 8, std::max(0, ch - 90 - d.Strip), TRUE);
    MoveWindow(GetDlgItem(dialog, 101), 48, 8, 410 + dx, 42, TRUE);
    if (d.Page) {
      HWND tab = GetDlgItem(dialog, 1000);
      RECT r;
      GetClientRect(tab, &r);
      TabCtrl_AdjustRect(tab, FALSE, &r);
      MoveWindow(d.Page, r.left - 3, r.top - 1, r.right - r.left + 3, r.bottom - r.top + 1, TRUE);
    }
  } else {
    const int h = MeasureTextHeightIn(dialog, d.Fonts.Dialog, GetItemText(dialog, 101), std::max(1, cw - 56));
    MoveWindow(GetDlgItem(dialog, 101), 48, 8, cw - 56, std::max(42, h), TRUE);
  }
  int buttonWidth = 75;
  for (int t = 17; t <= 21; ++t)
    buttonWidth = std::max(buttonWidth, TextWidthIn(dialog, d.Fonts.Dialog, StripAccelerator(DialogText(t)) + "O"));
  const int y = ch - d.Strip - 32;
  int x = 5;
  const bool terminate = TerminateButtonShown();
  ShowWindow(GetDlgItem(dialog, 103), terminate ? SW_SHOW : SW_HIDE);
  if (terminate) {
    MoveWindow(GetDlgItem(dialog, 103), x, y, buttonWidth, 25, TRUE);
    x += buttonWidth + 13;
  }
  int helpRight = 0;
  if (o->DialogFlags() & 0x0200) {
    MoveWindow(GetDlgItem(dialog, 105), x, y, buttonWidth, 25, TRUE);
    helpRight = x + buttonWidth;
  } else if (terminate) {
    helpRight = x - 13;
  }
  int okX = (cw - buttonWidth) / 2;
  if (okX < helpRight + 8) okX = helpRight + 8;
  MoveWindow(GetDlgItem(dialog, 102), okX, y, buttonWidth, 25, TRUE);
  const bool details = (o->DialogFlags() & 0x0008) && !s.ForcedDetailed;
  ShowWindow(GetDlgItem(dialog, 104), details ? SW_SHOW : SW_HIDE);
  if (details) MoveWindow(GetDlgItem(dialog, 104), cw - 5 - buttonWidth, y, buttonWidth, 25, TRUE);
  MoveWindow(GetDlgItem(dialog, 3000), 4, y + 34, (cw - 8) / 2, 16, TRUE);
  MoveWindow(GetDlgItem(dialog, 5000), cw - 4 - (cw - 8) / 2, y + 34, (cw - 8) / 2, 16, TRUE);
  MoveWindow(GetDlgItem(dialog, 4000), 23, y + 50, cw / 2, 16, TRUE);
  if (s.SupportLinkShown) {
    const int w = TextWidthIn(dialog, d.Fonts.SupportLink, DialogText(25));
    const int linkY = y + 34 + (s.CopyOffered ? 16 : 0);
    d.Link = RECT{cw - 4 - w, linkY, cw - 4, linkY + FontLineHeight(dialog, d.Fonts.SupportLink)};
  }
  InvalidateRect(dialog, nullptr, TRUE);
}

// --- Placement -------------------------------------------------------------------------------------------------
void LoadPlacement(TDetailedDialog& d) {
  const TDialogRect work = ReportWorkArea();
  TDialogPlacement p = DefaultDialogPlacement(work, d.Strip);
  p.Width = IniNumber("Width", p.Width);
  p.Height = IniNumber("Height", p.Height);
  p.Left = IniNumber("Left", work.Left + (work.Width() - p.Width) / 2);
  p.Top = IniNumber("Top", work.Top + (work.Height() - p.Height - d.Strip) / 2);
  p.State = IniNumber("WindowsState", 1);
  KeepPlacementOnWorkArea(p, work);
  d.Placement = p;
}

void SavePlacement(TDetailedDialog& d) {
  if (!d.Recorded) return;
  const TDialogPlacement& p = d.Placement;
  if (p.State == 1) {
    WriteIniValue(kDialogIniFile, kCoordinates, "Width", std::to_string(p.Width));
    WriteIniValue(kDialogIniFile, kCoordinates, "Height", std::to_string(p.Height - d.Strip));
    WriteIniValue(kDialogIniFile, kCoordinates, "Left", std::to_string(p.Left));
    WriteIniValue(kDialogIniFile, kCoordinates, "Top", std::to_string(p.Top));
  }
  WriteIniValue(kDialogIniFile, kCoordinates, "WindowsState", std::to_string(p.State));
}

void SetDetailedMode(HWND dialog, bool on) {
  TDetailedDialog& d = *g_detailed;
  const LONG_PTR added = d.OwnLook ? (WS_THICKFRAME | WS_MAXIMIZEBOX) : (WS_SYSMENU | WS_THICKFRAME | WS_MAXIMIZEBOX);
  if (!on && d.Detailed) SavePlacement(d);
  d.Detailed = on;
  d.Applying = true;
  const std::string detailsText = DialogText(20);
  SetItemText(dialog, 104, on ? "<< " + detailsText : detailsText + " >>");
  LONG_PTR style = GetWindowLongPtrA(dialog, GWL_STYLE);
  if (on) {
    SetItemText(dialog, 101, DialogText(4));
    LoadPlacement(d);
    SetWindowLongPtrA(dialog, GWL_STYLE, style | added);
    ShowWindow(GetDlgItem(dialog, 1000), SW_SHOW);
    if (d.Page) ShowWindow(d.Page, SW_SHOW);
    WINDOWPLACEMENT wp{};
    wp.length = sizeof wp;
    wp.showCmd = d.Placement.State == 3 ? SW_SHOWMAXIMIZED : d.Placement.State == 6 ? SW_SHOWMINIMIZED : SW_SHOWNORMAL;
    wp.rcNormalPosition = RECT{d.Placement.Left, d.Placement.Top, d.Placement.Left + d.Placement.Width,
                               d.Placement.Top + d.Placement.Height + d.Strip};
    SetWindowPos(dialog, nullptr, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOZORDER | SWP_FRAMECHANGED);
    SetWindowPlacement(dialog, &wp);
  } else {
    SetWindowLongPtrA(dialog, GWL_STYLE, style & ~added);
    ShowWindow(GetDlgItem(dialog, 1000), SW_HIDE);
    if (d.Page) ShowWindow(d.Page, SW_HIDE);
    const std::string message = GetShownExceptionMessage();
    SetItemText(dialog, 101, message);
    const int frame = GetSystemMetrics(SM_CXFIXEDFRAME);
    const int cap = 640 - (2 * frame + 58);
    int widest = 0;
    std::string lines = message + "\n" + DialogText(22) + "    " + DialogText(24);
    std::size_t start = 0;
    while (start <= lines.size()) {
      std::size_t end = lines.find('\n', start);
      if (end == std::string::npos) end = lines.size();
      std::string line = lines.substr(start, end - start);
      if (!line.empty() && line.back() == '\r') line.pop_back();
      widest = std::max(widest, TextWidthIn(dialog, d.Fonts.Dialog, line) + 16);
      start = end + 1;
    }
    const int textWidth = std::min(widest, cap);
    const int width = std::max(340, textWidth + 2 * frame + 58);
    const int textHeight = MeasureTextHeightIn(dialog, d.Fonts.Dialog, message, textWidth);
    const int height = std::max(0, textHeight - 39) + 2 * (frame - 1) + d.Caption + 88 + d.Strip;
    SetWindowPos(dialog, nullptr, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOZORDER | SWP_FRAMECHANGED);
    ShowWindow(dialog, SW_SHOWNORMAL);
    const TDialogRect c = CentredRect(ReportWorkArea(), width, height);
    SetWindowPos(dialog, nullptr, c.Left, c.Top, width, height, SWP_NOZORDER);
  }
  d.Applying = false;
  Layout(dialog);
}

// --- The dialog ------------------------------------------------------------------------------------------------
void InitDetailedDialog(HWND dialog) {
  TDetailedDialog& d = *g_detailed;
  TReportDialogState& s = ReportDialogState();
  TVantorModuleOptions* o = Options();
  s.Current = dialog;
  SetForegroundWindow(dialog);
  d.OwnLook = (o->DialogFlags() & 0x0040) != 0;
  d.Caption = PrepareReportWindowLook(dialog, d.OwnLook);
  if (o->DialogFlags() & 0x0020) SetWindowPos(dialog, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
  StartKeepInFront(dialog);
  if (o->DialogAutoCloseSeconds() > 0) SetTimer(dialog, 2, 1000, nullptr);
  SetTimer(dialog, 1, 1, nullptr);
  const bool duplicate = DialogReport() && DialogReport()->Duplicate;
  s.SendOffered = (o->MailMode() != 0 || o->WebMode() != 0) && !duplicate && (o->DialogFlags() & 0x0080);
  s.ScreenshotOffered = (o->SendFlags() & 0x10) && s.SendOffered && (o->DialogFlags() & 0x0100);
  s.CopyOffered = (o->DialogFlags() & 0x0004) != 0;
  s.SupportLinkShown = !Trim(o->SupportPage()).empty();
  d.Strip = CheckBoxStripHeight(s.SendOffered, s.ScreenshotOffered, s.CopyOffered, s.SupportLinkShown);
  const bool detailed = s.ForcedDetailed || (o->DialogFlags() & 0x0010);
  d.Error = static_cast<HBITMAP>(LoadImageA(ReportDialogModule(), "VL_Error", IMAGE_BITMAP, 0, 0, 0));
  d.Fonts.Create();
  d.Background = CreateSolidBrush(d.OwnLook ? RGB(212, 208, 200) : GetSysColor(COLOR_BTNFACE));
  for (int id : {101, 102, 103, 104, 105, 1000, 3000, 4000, 5000})
    SendDlgItemMessageA(dialog, id, WM_SETFONT, reinterpret_cast<WPARAM>(d.Fonts.Dialog), FALSE);
  // Buttons and check boxes.
  SetItemText(dialog, 102, DialogText(17));
  SetItemText(dialog, 103, DialogText(o->TerminateAction() == 1 ? 18 : 19));
  SetItemText(dialog, 105, DialogText(21));
  ShowWindow(GetDlgItem(dialog, 105), (o->DialogFlags() & 0x0200) ? SW_SHOW : SW_HIDE);
  SetItemText(dialog, 3000, DialogText(22));
  SetItemText(dialog, 4000, DialogText(23));
  SetItemText(dialog, 5000, DialogText(24));
  ShowWindow(GetDlgItem(dialog, 3000), s.SendOffered ? SW_SHOW : SW_HIDE);
  ShowWindow(GetDlgItem(dialog, 4000), s.ScreenshotOffered ? SW_SHOW : SW_HIDE);
  ShowWindow(GetDlgItem(dialog, 5000), s.CopyOffered ? SW_SHOW : SW_HIDE);
  s.SendChosen = true;
  s.CopyChosen = true;
  CheckDlgButton(dialog, 3000, (o->DialogFlags() & 0x0001) ? BST_CHECKED : BST_UNCHECKED);
  CheckDlgButton(dialog, 4000, s.ScreenshotChosen && (o->DialogFlags() & 0x0002) ? BST_CHECKED : BST_UNCHECKED);
  CheckDlgButton(dialog, 5000, BST_UNCHECKED);
  EnableWindow(GetDlgItem(dialog, 4000), Checked(dialog, 3000));
  if (!d.OwnLook) {
    for (int id : {102, 103, 104, 105, 3000, 4000, 5000}) {
      HWND item = GetDlgItem(dialog, id);
      SetWindowLongPtrA(item, GWL_STYLE, GetWindowLongPtrA(item, GWL_STYLE) & ~static_cast<LONG_PTR>(BS_FLAT));
    }
  }
  SetWindowTextA(dialog, DialogText(3).c_str());
  SetFocus(GetDlgItem(dialog, 102));
  // Tabs.
  HWND tab = GetDlgItem(dialog, 1000);
  const std::vector<int> pages = ShownReportPages(o->LogFlags());
  for (std::size_t i = 0; i < pages.size(); ++i) {
    std::string text = DialogText(5 + 2 * pages[i]);
    TCITEMA item{};
    item.mask = TCIF_TEXT;
    item.pszText = text.data();
    TabCtrl_InsertItem(tab, static_cast<int>(i), &item);
  }
  const int start = StartTabIndex(o->StartTab(), o->LogFlags());
  TabCtrl_SetCurSel(tab, start);
  ShowWindow(tab, SW_HIDE);
  ShowPage(dialog, start);
  SetDetailedMode(dialog, detailed);
}

void EndDetailed(HWND dialog) {
  ReportDialogState().Kind = 0;
  EndDialog(dialog, 1);
}

INT_PTR DetailedMessage(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  TDetailedDialog* d = g_detailed;
  TReportDialogState& s = ReportDialogState();
  TVantorModuleOptions* o = Options();
  switch (message) {
    case WM_INITDIALOG:
      InitDetailedDialog(dialog);
      return FALSE;
    case WM_TIMER:
      if (wParam == 1) {
        KillTimer(dialog, 1);
        if (!s.Painted) EndDetailed(dialog);
      } else if (wParam == 2 && d) {
        if (++d->AutoCloseCount >= o->DialogAutoCloseSeconds()) {
          KillTimer(dialog, 2);
          PostMessageA(dialog, WM_CLOSE, 0, 0);
        }
      } else if (wParam == 3) {
        KeepInFrontTick(dialog, (o->DialogFlags() & 0x0020) != 0);
      }
      return TRUE;
    case WM_NCPAINT:
    case WM_NCACTIVATE:
      if (d && d->OwnLook) {
        PaintOwnCaption(dialog, message == WM_NCACTIVATE ? wParam != 0 : GetForegroundWindow() == dialog,
                        d->Fonts.Caption);
        SetWindowLongPtrA(dialog, DWLP_MSGRESULT, message == WM_NCACTIVATE ? TRUE : 0);
        return TRUE;
      }
      return FALSE;
    case WM_PAINT: {
      s.Painted = true;
      PAINTSTRUCT ps;
      HDC dc = BeginPaint(dialog, &ps);
      if (d && d->Error) PaintMaskedBitmap(dc, 8, 8, 32, 32, d->Error);
      if (d && s.SupportLinkShown) PaintLinkText(dc, d->Fonts.SupportLink, RGB(0, 0, 128), d->Link, DialogText(25));
      EndPaint(dialog, &ps);
      return TRUE;
    }
    case WM_CTLCOLORDLG:
      return d ? reinterpret_cast<INT_PTR>(d->Background) : FALSE;
    case WM_CTLCOLORSTATIC:
    case WM_CTLCOLORBTN:
      if (d) {
        SetBkMode(reinterpret_cast<HDC>(wParam), TRANSPARENT);
        SetTextColor(reinterpret_cast<HDC>(wParam), RGB(0, 0, 0));
        return reinterpret_cast<INT_PTR>(d->Background);
      }
      return FALSE;
    case WM_SIZE:
      if (d && d->Detailed && !d->Applying) {
        RECT wr;
        GetWindowRect(dialog, &wr);
        if (wParam == SIZE_MAXIMIZED) {
          d->Placement.State = 3;
        } else if (wParam == SIZE_MINIMIZED) {
          d->Placement.State = 6;
        } else {
          d->Placement.State = 1;
          d->Placement.Width = wr.right - wr.left;
          d->Placement.Height = wr.bottom - wr.top;
        }
        d->Recorded = true;
      }
      if (d) Layout(dialog);
      return TRUE;
    case WM_MOVE:
      if (d && d->Detailed && !d->Applying && !IsZoomed(dialog) && !IsIconic(dialog)) {
        RECT wr;
        GetWindowRect(dialog, &wr);
        d->Placement.Left = wr.left;
        d->Placement.Top = wr.top;
      }
      return FALSE;
    case WM_SETCURSOR:
      if (d && s.SupportLinkShown) {
        d->OverLink = SetLinkCursor(dialog, d->Link);
        if (d->OverLink) return TRUE;
      }
      return FALSE;
    case WM_LBUTTONDOWN:
      if (d) {
        d->AutoCloseCount = 0;
        const POINT p{static_cast<short>(LOWORD(lParam)), static_cast<short>(HIWORD(lParam))};
        if (s.SupportLinkShown && PtInRect(&d->Link, p)) {
          SetWindowPos(dialog, HWND_NOTOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
          ShellExecuteA(nullptr, "open", Trim(o->SupportPage()).c_str(), nullptr, nullptr, SW_SHOWMAXIMIZED);
        }
      }
      return TRUE;
    case WM_NOTIFY: {
      if (d) d->AutoCloseCount = 0;
      const NMHDR* hdr = reinterpret_cast<const NMHDR*>(lParam);
      if (hdr->idFrom == 1000 && hdr->code == TCN_SELCHANGE) ShowPage(dialog, TabCtrl_GetCurSel(hdr->hwndFrom));
      return FALSE;
    }
    case WM_KEYDOWN:
    case WM_NCLBUTTONDOWN:
      if (d) d->AutoCloseCount = 0;
      return FALSE;
    case WM_COMMAND:
      if (d) d->AutoCloseCount = 0;
      switch (LOWORD(wParam)) {
        case 102:
          EndDetailed(dialog);
          return TRUE;
        case 103:
          s.TerminateChosen = true;
          EndDetailed(dialog);
          return TRUE;
        case 104:
          if (d) SetDetailedMode(dialog, !d->Detailed);
          return TRUE;
        case 105:
          if (RunCustomButtonEvent()) EndDetailed(dialog);
          return TRUE;
        case 3000:
          EnableWindow(GetDlgItem(dialog, 4000), Checked(dialog, 3000));
          return TRUE;
        case IDCANCEL:
          s.SendChosen = false;
          s.CopyChosen = false;
          s.Cancelled = true;
          EndDetailed(dialog);
          return TRUE;
      }
      return FALSE;
    case WM_CLOSE:
      EndDetailed(dialog);
      return TRUE;
    case WM_DESTROY:
      s.SendChosen = s.SendChosen && Checked(dialog, 3000);
      s.ScreenshotChosen = Checked(dialog, 4000);
      s.CopyChosen = s.CopyChosen && Checked(dialog, 5000);
      if (TVantorModuleOptionsEx* ex = dynamic_cast<TVantorModuleOptionsEx*>(o)) {
        std::uint16_t flags = static_cast<std::uint16_t>(ex->DialogFlags() & ~0x0003);
        if (s.SendChosen) flags |= 0x0001;
        if (s.ScreenshotChosen) flags |= 0x0002;
        ex->SetDialogFlags(flags);
      }
      if (d) {
        if (d->Detailed) SavePlacement(*d);
        if (d->Page) DestroyWindow(d->Page);
        d->Page = nullptr;
        d->Fonts.Delete();
        if (d->Error) DeleteObject(d->Error);
        if (d->Background) DeleteObject(d->Background);
        d->Error = nullptr;
        d->Background = nullptr;
      }
      s.Current = nullptr;
      return FALSE;
  }
  return FALSE;
}

}  // namespace

TListViewItems* DetailedDialogPageRows() {
  if (!g_detailed || !ReportDialogState().Current || !g_detailed->Page || !IsWindow(g_detailed->Page)) return nullptr;
  TPage* p = reinterpret_cast<TPage*>(GetWindowLongPtrA(g_detailed->Page, DWLP_USER));
  return p ? p->Items.get() : nullptr;
}

INT_PTR CALLBACK DetailedDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  try {
    if (message == WM_INITDIALOG) {
      static TDetailedDialog state;
      state = TDetailedDialog{};
      g_detailed = &state;
    }
    return DetailedMessage(dialog, message, wParam, lParam);
  } catch (...) {
    ReportExceptionWarning(eeShowError, "GUI", std::current_exception());
    return FALSE;
  }
}
