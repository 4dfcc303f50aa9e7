// The report dialogs under Wine (Xvfb): the message box, the short dialog's
// auto-close, Esc and e-mail check, and the detailed dialog's pages, start
// page, placement, group rows and source-line record. A driver thread acts
// on each dialog as a user would (posted clicks and keys) while the test's
// main thread runs the dialog loop; it also saves a PNG picture of each
// dialog in the build's screenshot folder.
#include <windows.h>
// The common-control headers need the types of windows.h first.
#include <commctrl.h>
#include <gtest/gtest.h>
#include <zlib.h>

#include <atomic>
#include <cstring>
#include <fstream>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "ECallStack.h"
#include "ECore.h"
#include "ECoreWin.h"
#include "EEvents.h"
#include "EListViewWin.h"
#include "EReportDialogsWin.h"
#include "ESystemWin.h"
#include "ExceptionLogWin.h"
#include "SysUtils.h"

namespace {

int g_beeps = 0;
void CountBeep(UINT) {
  ++g_beeps;
}

// --- PNG pictures of the dialogs --------------------------------------------------------------------------
void PutBe32(std::string& out, std::uint32_t v) {
  for (int i = 3; i >= 0; --i) out += static_cast<char>((v >> (8 * i)) & 0xFF);
}
void Chunk(std::string& out, const char* type, const std::string& data) {
  PutBe32(out, static_cast<std::uint32_t>(data.size()));
  std::string body = std::string(type, 4) + data;
  out += body;
  PutBe32(out, static_cast<std::uint32_t>(
                   crc32(0, reinterpret_cast<const Bytef*>(body.data()), static_cast<uInt>(body.size()))));
}

void SaveShot(HWND window, const std::string& name) {
  RECT r;
  if (!GetWindowRect(window, &r)) return;
  const int w = r.right - r.left, h = r.bottom - r.top;
  if (w <= 0 || h <= 0) return;
  HDC screen = GetDC(nullptr);
  HDC memory = CreateCompatibleDC(screen);
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof info.bmiHeader;
  info.bmiHeader.biWidth = w;
  info.bmiHeader.biHeight = -h;
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 24;
  void* bits = nullptr;
  HBITMAP bitmap = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  HGDIOBJ old = SelectObject(memory, bitmap);
  BitBlt(memory, 0, 0, w, h, screen, r.left, r.top, SRCCOPY);
  GdiFlush();
  const int stride = (w * 3 + 3) & ~3;
  std::string raw;
  for (int y = 0; y < h; ++y) {
    raw += '\0';
    const auto* row = static_cast<const unsigned char*>(bits) + static_cast<std::size_t>(y) * stride;
    for (int x = 0; x < w; ++x) {
      raw += static_cast<char>(row[3 * x + 2]);
      raw += static_cast<char>(row[3 * x + 1]);
      raw += static_cast<char>(row[3 * x]);
    }
  }
  SelectObject(memory, old);
  DeleteObject(bitmap);
  DeleteDC(memory);
  ReleaseDC(nullptr, screen);
  uLongf size = compressBound(static_cast<uLong>(raw.size()));
  std::string packed(size, '\0');
  compress2(reinterpret_cast<Bytef*>(packed.data()), &size, reinterpret_cast<const Bytef*>(raw.data()),
            static_cast<uLong>(raw.size()), 9);
  packed.resize(size);
  std::string png("\x89PNG\r\n\x1A\n", 8), header;
  PutBe32(header, static_cast<std::uint32_t>(w));
  PutBe32(header, static_cast<std::uint32_t>(h));
  header += std::string("\x08\x02\x00\x00\x00", 5);
  Chunk(png, "IHDR", header);
  Chunk(png, "IDAT", packed);
  Chunk(png, "IEND", std::string());
  CreateDirectoryA(PELLORY_SHOT_DIR, nullptr);
  std::ofstream(std::string(PELLORY_SHOT_DIR) + "\\" + name + ".png", std::ios::binary) << png;
}

// --- Driving ---------------------------------------------------------------------------------------------------
template <typename F>
bool WaitFor(F condition, int milliseconds = 10000) {
  for (int waited = 0; waited < milliseconds; waited += 20) {
    if (condition()) return true;
    Sleep(20);
  }
  return condition();
}

struct FoundBox {
  DWORD thread;
  std::string caption;
  HWND window = nullptr;
};
BOOL CALLBACK FindBox(HWND window, LPARAM lParam) {
  auto* find = reinterpret_cast<FoundBox*>(lParam);
  char cls[64] = {}, text[256] = {};
  GetClassNameA(window, cls, sizeof cls);
  GetWindowTextA(window, text, sizeof text);
  if (std::string(cls) == "#32770" && IsWindowVisible(window) && find->caption == text &&
      window != ReportDialogState().Current) {
    find->window = window;
    return FALSE;
  }
  return TRUE;
}
HWND WaitForBox(DWORD thread, const std::string& caption) {
  FoundBox find{thread, caption};
  WaitFor([&] {
    EnumThreadWindows(thread, &FindBox, reinterpret_cast<LPARAM>(&find));
    return find.window != nullptr;
  });
  return find.window;
}

std::string BoxText(HWND box) {
  char text[256] = {};
  GetDlgItemTextA(box, 0xFFFF, text, sizeof text);
  if (!text[0]) {
    HWND child = nullptr;
    while ((child = FindWindowExA(box, child, "Static", nullptr))) {
      GetWindowTextA(child, text, sizeof text);
      if (text[0]) break;
    }
  }
  return text;
}

HWND WaitForDialog() {
  WaitFor([] { return ReportDialogState().Current != nullptr && IsWindowVisible(ReportDialogState().Current); });
  Sleep(300);  // let it paint before the picture
  return ReportDialogState().Current;
}

// Runs the dialog loop on this thread while `drive` acts from another.
void RunLoop(std::function<void(HWND)> drive, bool beep = true) {
  std::thread driver([&] {
    HWND dialog = WaitForDialog();
    if (dialog) drive(dialog);
  });
  ShowExceptionDialog(beep);
  driver.join();
}

class ReportDialogs : public ::testing::Test {
 protected:
  void SetUp() override {
    // The library is not started here: the dialogs read the options of the report they show.
    static TVantorModuleOptionsEx* options = New<TVantorModuleOptionsEx>(std::string());
    options_ = options;
    options_->SetCustomText(3, "Probe error");
    options_->SetDialogAutoCloseSeconds(0);
    options_->SetMailMode(0);
    options_->SetWebMode(0);
    options_->SetLogFlags(0);
    options_->SetStartTab(0);
    options_->SetDialogFlags(399);
    options_->SetTerminateAction(0);
    options_->SetSupportPage("");
    run_ = TReportRun{};
    run_.Options = options_;
    SetDialogReport(&run_);
    SetMessageOverride("Access violation at address 00401234. Write of address 00000000.");
    SetReportDialogBeep(&CountBeep);
    g_beeps = 0;
    TReportDialogState& s = ReportDialogState();
    s = TReportDialogState{};
    s.SendChosen = true;
    WriteIniValue(kDialogIniFile, "User", "Email", "");
  }
  void TearDown() override {
    SetDialogReport(nullptr);
    SetReportDialogBeep(nullptr);
  }
  TVantorModuleOptionsEx* options_ = nullptr;
  TReportRun run_;
};

TEST_F(ReportDialogs, MessageBoxIsCaptionedWithTextThreeAndEndsTheLoop) {
  ReportDialogState().Kind = 1;
  const DWORD self = GetCurrentThreadId();
  std::string text;
  bool found = false;
  std::thread driver([&] {
    HWND box = WaitForBox(self, "Probe error");
    found = box != nullptr;
    if (!box) return;
    Sleep(300);
    text = BoxText(box);
    SaveShot(box, "report-message-box");
    PostMessageA(box, WM_COMMAND, IDOK, 0);
  });
  ShowExceptionDialog(true);
  driver.join();
  EXPECT_TRUE(found);
  EXPECT_EQ(text, "Access violation at address 00401234. Write of address 00000000.");
  EXPECT_EQ(g_beeps, 0);
  EXPECT_EQ(ReportDialogState().Kind, 0);
  EXPECT_FALSE(ReportDialogState().DialogFailed);
}

TEST_F(ReportDialogs, ShortDialogClosesItselfOnTheThirdTick) {
  options_->SetDialogAutoCloseSeconds(3);
  ReportDialogState().Kind = 2;
  bool shown = false;
  RunLoop([&](HWND dialog) {
    shown = true;
    SaveShot(dialog, "report-short-dialog");
  });
  EXPECT_TRUE(shown);
  EXPECT_EQ(g_beeps, 1);  // the first showing of a dialog beeps
  EXPECT_EQ(ReportDialogState().Kind, 0);
  EXPECT_TRUE(ReportDialogState().SendChosen);  // unchanged
  EXPECT_FALSE(ReportDialogState().Cancelled);
  EXPECT_FALSE(ReportDialogState().DialogFailed);
}

TEST_F(ReportDialogs, EscTurnsSendOffAndCancels) {
  ReportDialogState().Kind = 2;
  RunLoop([](HWND dialog) { PostMessageA(dialog, WM_COMMAND, IDCANCEL, 0); });
  EXPECT_EQ(ReportDialogState().Kind, 0);
  EXPECT_FALSE(ReportDialogState().SendChosen);
  EXPECT_TRUE(ReportDialogState().Cancelled);
}

TEST_F(ReportDialogs, ShortDialogChecksTheEmail) {
  options_->SetMailMode(2);
  options_->SetLogFlags(0x02);
  options_->SetReproduceSteps("Click Connect.");
  run_.ReportText = "Head\r\n  3.3 Email      : old@x.y\r\n  3.4 Next : z\r\n";
  ReportDialogState().Kind = 2;
  const DWORD self = GetCurrentThreadId();
  std::string refusal;
  bool stayedOpen = false;
  RunLoop([&](HWND dialog) {
    SaveShot(dialog, "report-short-dialog-send");
    SetDlgItemTextA(dialog, 111, "a@b");
    PostMessageA(dialog, WM_COMMAND, 1000, 0);
    HWND box = WaitForBox(self, options_->GetCustomText(2));
    if (box) {
      refusal = BoxText(box);
      PostMessageA(box, WM_COMMAND, IDOK, 0);
      WaitFor([&] { return !IsWindow(box); });
    }
    stayedOpen = IsWindow(dialog) && ReportDialogState().Current == dialog;
    SetDlgItemTextA(dialog, 111, "  me@there.org ");
    SetDlgItemTextA(dialog, 109, "Click Connect twice. ");
    PostMessageA(dialog, WM_COMMAND, 1000, 0);
  });
  EXPECT_EQ(refusal, "Invalid email.");
  EXPECT_TRUE(stayedOpen);
  EXPECT_TRUE(ReportDialogState().SendChosen);
  EXPECT_EQ(options_->MailFrom(), "me@there.org");
  EXPECT_EQ(options_->ReproduceSteps(), "Click Connect twice.");
  EXPECT_EQ(run_.ReportText, "Head\r\n  3.3 Email      : me@there.org\r\n  3.4 Next : z\r\n");
  std::string stored;
  ReadIniValue(kDialogIniFile, "User", "Email", stored, "");
  EXPECT_EQ(stored, "me@there.org");

  // An empty address is accepted and stores nothing.
  ReportDialogState().Kind = 2;
  RunLoop([](HWND dialog) {
    SetDlgItemTextA(dialog, 111, "");
    PostMessageA(dialog, WM_COMMAND, 1001, 0);
  });
  EXPECT_EQ(ReportDialogState().Kind, 0);
  ReadIniValue(kDialogIniFile, "User", "Email", stored, "");
  EXPECT_EQ(stored, "me@there.org");
}

int g_terminateActions = 0;
void KeepAliveOnce(const TVantorExceptionRecord&, int action, bool& execute) {
  if (action == 8 && g_terminateActions++ == 0) execute = false;
}

TEST_F(ReportDialogs, HandlerThatKeepsTheProgramShowsTheDialogAgain) {
  options_->SetTerminateAction(1);
  options_->SetTerminateButtonAfter(-1);
  VantorLogCallbacks().ExceptionActionNotify = &KeepAliveOnce;
  g_terminateActions = 0;
  ReportDialogState().Kind = 2;
  int showings = 0;
  bool checkBoxShown = false;
  std::thread driver([&] {
    HWND first = WaitForDialog();
    if (!first) return;
    ++showings;
    checkBoxShown = IsWindowVisible(GetDlgItem(first, 104)) != 0;
    SaveShot(first, "report-short-dialog-terminate");
    SendDlgItemMessageA(first, 104, BM_SETCHECK, BST_CHECKED, 0);
    PostMessageA(first, WM_COMMAND, 1001, 0);
    WaitFor([&] { return ReportDialogState().Current != nullptr && ReportDialogState().Current != first; });
    HWND second = WaitForDialog();
    if (!second || second == first) return;
    ++showings;
    PostMessageA(second, WM_COMMAND, 1001, 0);
  });
  ShowExceptionDialog(true);
  driver.join();
  VantorLogCallbacks().ExceptionActionNotify = nullptr;
  EXPECT_TRUE(checkBoxShown);
  EXPECT_EQ(showings, 2);
  EXPECT_EQ(g_terminateActions, 1);
  EXPECT_FALSE(ReportDialogState().TerminateChosen);
  EXPECT_EQ(ReportDialogState().Kind, 0);
}

int TabCount(HWND dialog) {
  return TabCtrl_GetItemCount(GetDlgItem(dialog, 1000));
}

TEST_F(ReportDialogs, DetailedDialogShowsPagesByLogFlags) {
  struct Case {
    std::uint8_t logFlags;
    int startTab;
    int tabs;
    int selected;
  };
  const Case cases[] = {{0x00, 3, 2, 0}, {0x30, 3, 6, 3}, {0x20, 4, 4, 2}};
  for (const Case& c : cases) {
    options_->SetLogFlags(c.logFlags);
    options_->SetStartTab(static_cast<std::uint8_t>(c.startTab));
    options_->SetDialogFlags(399 | 0x10);
    ReportDialogState().Kind = 3;
    int tabs = -1, selected = -1;
    RunLoop([&](HWND dialog) {
      tabs = TabCount(dialog);
      selected = TabCtrl_GetCurSel(GetDlgItem(dialog, 1000));
      if (c.logFlags == 0x30) SaveShot(dialog, "report-detailed-dialog");
      PostMessageA(dialog, WM_COMMAND, 102, 0);
    });
    EXPECT_EQ(tabs, c.tabs) << int(c.logFlags);
    EXPECT_EQ(selected, c.selected) << int(c.logFlags);
    EXPECT_EQ(ReportDialogState().Kind, 0);
  }
}

TEST_F(ReportDialogs, DetailedDialogKeepsPlacementAndChoices) {
  options_->SetMailMode(2);
  options_->SetDialogFlags(static_cast<std::uint16_t>((399 | 0x10) & ~0x0001));
  // A rectangle left from a monitor that is gone.
  WriteIniValue(kDialogIniFile, "Coordinates", "Width", "600");
  WriteIniValue(kDialogIniFile, "Coordinates", "Height", "400");
  WriteIniValue(kDialogIniFile, "Coordinates", "Left", "5000");
  WriteIniValue(kDialogIniFile, "Coordinates", "Top", "-3000");
  WriteIniValue(kDialogIniFile, "Coordinates", "WindowsState", "1");
  ReportDialogState().Kind = 3;
  RECT placed{};
  RECT work{};
  RunLoop([&](HWND dialog) {
    GetWindowRect(dialog, &placed);
    work = GetWindowMonitorWorkArea(dialog);
    SendDlgItemMessageA(dialog, 3000, BM_SETCHECK, BST_CHECKED, 0);
    SetWindowPos(dialog, nullptr, 40, 30, 700, 450, SWP_NOZORDER);
    Sleep(100);
    PostMessageA(dialog, WM_COMMAND, 102, 0);
  });
  const int strip = CheckBoxStripHeight(true, true, true, false);
  EXPECT_EQ(placed.right - placed.left, 600);
  EXPECT_EQ(placed.bottom - placed.top, 400 + strip);
  EXPECT_EQ(placed.left, work.left + (work.right - work.left - 600) / 2);
  EXPECT_EQ(placed.top, work.top + (work.bottom - work.top - 400) / 2);
  std::string v;
  ReadIniValue(kDialogIniFile, "Coordinates", "Width", v, "");
  EXPECT_EQ(v, "700");
  ReadIniValue(kDialogIniFile, "Coordinates", "Height", v, "");
  EXPECT_EQ(v, std::to_string(450 - strip));
  ReadIniValue(kDialogIniFile, "Coordinates", "Left", v, "");
  EXPECT_EQ(v, "40");
  EXPECT_TRUE(ReportDialogState().SendChosen);
  EXPECT_EQ(options_->DialogFlags() & 0x0001, 0x0001);  // the send box written back
}

TEST_F(ReportDialogs, DetailsOnAndOffWithoutSizingWritesNoPlacement) {
  options_->SetDialogFlags(399);  // collapsed, with the Details button
  WriteIniValue(kDialogIniFile, "Coordinates", "Width", "kept");
  ReportDialogState().Kind = 3;
  bool tabHidden = false, tabShown = false;
  RunLoop([&](HWND dialog) {
    tabHidden = !IsWindowVisible(GetDlgItem(dialog, 1000));
    SaveShot(dialog, "report-detailed-dialog-collapsed");
    SendMessageA(dialog, WM_COMMAND, 104, 0);
    tabShown = IsWindowVisible(GetDlgItem(dialog, 1000)) != 0;
    SendMessageA(dialog, WM_COMMAND, 104, 0);
    PostMessageA(dialog, WM_COMMAND, 102, 0);
  });
  EXPECT_TRUE(tabHidden);
  EXPECT_TRUE(tabShown);
  std::string v;
  ReadIniValue(kDialogIniFile, "Coordinates", "Width", v, "");
  EXPECT_EQ(v, "kept");
}

TVLLocationInfo* Entry(std::int32_t thread, bool faulting, std::uint64_t address, const char* unit, int line) {
  auto* e = new TVLLocationInfo;
  e->Kind = 4;
  e->ThreadId = thread;
  e->FaultingThread = faulting ? 1 : 0;
  e->Address = address;
  e->UnitName = unit;
  e->ClassName = "TShape";
  e->ProcedureName = "Draw";
  e->Line = line;
  e->LineInProcedure = line ? 3 : 0;
  return e;
}

std::vector<std::string> ListAddresses(HWND list) {
  std::vector<std::string> out;
  for (int i = 0; i < ListView_GetItemCount(list); ++i) {
    char text[64] = {};
    ListView_GetItemText(list, i, 0, text, sizeof text);
    out.push_back(Trim(text));
  }
  return out;
}

TEST_F(ReportDialogs, CallStackGroupsToggleAndSendTheSourceLine) {
  TVantorStackList* stack = New<TVantorStackList>();
  stack->AddEntry(Entry(10, true, 0x401000, "Shapes", 120));
  stack->AddEntry(Entry(10, true, 0x401100, "Shapes", 0));
  stack->AddEntry(Entry(11, false, 0x402000, "Worker", 7));
  run_.CallStack = stack;
  options_->SetStartTab(1);
  options_->SetDialogFlags(399 | 0x10);
  HANDLE slot = CreateMailslotA("\\\\.\\mailslot\\VantorLog0", 0, 5000, nullptr);
  ASSERT_NE(slot, INVALID_HANDLE_VALUE);
  ReportDialogState().Kind = 3;
  std::vector<std::string> before, closed, reopened;
  RunLoop([&](HWND dialog) {
    HWND tab = GetDlgItem(dialog, 1000);
    HWND page = GetWindow(tab, GW_CHILD);
    while (page && !GetDlgItem(page, 103)) page = GetWindow(page, GW_HWNDNEXT);
    HWND list = page ? GetDlgItem(page, 103) : nullptr;
    if (!list) {
      PostMessageA(dialog, WM_COMMAND, 102, 0);
      return;
    }
    SaveShot(dialog, "report-detailed-call-stack");
    before = ListAddresses(list);
    auto notify = [&](UINT code, int item, POINT at) {
      NMITEMACTIVATE n{};
      n.hdr.hwndFrom = list;
      n.hdr.idFrom = 103;
      n.hdr.code = code;
      n.iItem = item;
      n.ptAction = at;
      SendMessageA(page, WM_NOTIFY, 103, reinterpret_cast<LPARAM>(&n));
    };
    RECT r{};
    ListView_GetItemRect(list, 0, &r, LVIR_BOUNDS);
    notify(NM_CLICK, 0, POINT{r.left + 40, r.top + 5});  // off the sign: nothing
    notify(NM_CLICK, 0, POINT{r.left + 6, r.top + 5});   // on the sign (a group without parent)
    closed = ListAddresses(list);
    notify(LVN_ITEMACTIVATE, 0, POINT{r.left + 40, r.top + 5});  // activating the row toggles from anywhere
    reopened = ListAddresses(list);
    notify(LVN_ITEMACTIVATE, 1, POINT{0, 0});  // a row with a line: the record
    PostMessageA(dialog, WM_COMMAND, 102, 0);
  });
  // Group, 2 rows, separator, group, 1 row.
  EXPECT_EQ(before, (std::vector<std::string>{"", "00401000", "00401100", "", "", "00402000"}));
  EXPECT_EQ(closed, (std::vector<std::string>{"", "", "", "00402000"}));
  EXPECT_EQ(reopened, before);
  unsigned char record[512] = {};
  DWORD read = 0;
  ASSERT_TRUE(ReadFile(slot, record, sizeof record, &read, nullptr));
  EXPECT_EQ(read, 376u);
  EXPECT_EQ(record[0], 0);
  EXPECT_STREQ(reinterpret_cast<const char*>(record + 90), "Shapes");
  EXPECT_STREQ(reinterpret_cast<const char*>(record + 180), "TShape");
  EXPECT_STREQ(reinterpret_cast<const char*>(record + 270), "Draw");
  std::int32_t line = 0, second = 0;
  std::memcpy(&line, record + 360, 4);
  std::memcpy(&second, record + 364, 4);
  EXPECT_EQ(line, 120);
  EXPECT_EQ(second, 3);
  CloseHandle(slot);
  run_.CallStack = nullptr;
  stack->Free();
}

#if defined(PELLORY_GUI_PROGRAM)
// The request and the sending window appear only in a GUI program: this copy of the tests is one.
// The titles of the group rows of the list page showing.
std::vector<std::string> GroupTitles() {
  std::vector<std::string> titles;
  TListViewItems* items = DetailedDialogPageRows();
  for (int i = 0; items && i < items->Rows().Count(); ++i)
    if (items->Rows().Row(i).IsGroup) titles.push_back(items->Rows().Row(i).Title);
  return titles;
}

TEST_F(ReportDialogs, CallStackPageLeakGroupsSayWhatLeaked) {
  TVantorStackList* stack = New<TVantorStackList>();
  auto leak = [&](std::uint64_t address, bool first, const char* type, std::int64_t size, std::int32_t count) {
    TVLLocationInfo* e = Entry(10, false, address, "Shapes", 12);
    e->FirstEntry = first ? 1 : 0;
    e->LeakEntry = 1;
    e->LeakType = type;
    e->LeakSize = size;
    e->LeakCount = count;
    stack->AddEntry(e);
  };
  leak(0x401000, true, "Data", 48, 3);
  leak(0x401100, false, "Data", 48, 3);
  leak(0x402000, true, "TStringList", 52, 1);
  run_.CallStack = stack;
  options_->SetStartTab(1);
  options_->SetDialogFlags(399 | 0x10);
  ReportDialogState().Kind = 3;
  std::vector<std::string> titles;
  RunLoop([&](HWND dialog) {
    WaitFor([] { return DetailedDialogPageRows() != nullptr; });
    titles = GroupTitles();
    PostMessageA(dialog, WM_COMMAND, 102, 0);
  });
  EXPECT_EQ(titles, (std::vector<std::string>{"Memory Leak: Type=Data; Total size=48; Count=3",
                                              "Memory Leak: Type=TStringList; Total size=52; Count=1"}));
  run_.CallStack = nullptr;
  stack->Free();
}

TEST_F(ReportDialogs, RequestDialogStoresTheSteps) {
  ASSERT_FALSE(IsConsoleApp());
  options_->SetLogFlags(0x02);
  options_->SetWriteLogFile(true);
  options_->SetReproduceSteps("Open the port.");
  std::string prefilled;
  std::thread driver([&] {
    HWND dialog = WaitForDialog();
    if (!dialog) return;
    prefilled = GetItemText(dialog, 101);
    SaveShot(dialog, "report-request-dialog");
    SetDlgItemTextA(dialog, 101, " Open the port.\r\nPull the cable. ");
    PostMessageA(dialog, WM_COMMAND, IDOK, 0);
  });
  AskReproduceText();
  driver.join();
  EXPECT_EQ(prefilled, "Open the port.");
  EXPECT_EQ(options_->ReproduceSteps(), "Open the port.\r\nPull the cable.");

  // Not asked after a dialog that could not be shown.
  ReportDialogState().DialogFailed = true;
  AskReproduceText();
  EXPECT_EQ(options_->ReproduceSteps(), "Open the port.\r\nPull the cable.");
}

TEST_F(ReportDialogs, SendingWindowOpensOnItsOwnThread) {
  options_->SetSendFlags(0x01);
  options_->SetMailMode(2);
  OpenSendingWindow(true);  // returns once the window is up
  const HWND window = ReportDialogState().Sending;
  EXPECT_NE(window, nullptr);
  EXPECT_NE(GetWindowThreadProcessId(window, nullptr), GetCurrentThreadId());
  TSendingProgress::Close();
  EXPECT_TRUE(WaitFor([] { return ReportDialogState().Sending == nullptr; }));
}

TEST_F(ReportDialogs, AModelessSendingWindowLivesOnItsOwnThreadUntilClosed) {
  options_->SetSendFlags(0x01 | 0x80);
  options_->SetMailMode(2);
  OpenSendingWindow(false);
  ASSERT_TRUE(WaitFor([] { return ReportDialogState().Sending != nullptr; }));
  const HWND window = ReportDialogState().Sending;
  EXPECT_NE(GetWindowThreadProcessId(window, nullptr), GetCurrentThreadId());
  // Modeless: at the bottom-right corner of the work area, and still there a while later.
  RECT r{};
  GetWindowRect(window, &r);
  const TDialogRect work = ReportWorkArea();
  EXPECT_EQ(r.right, work.Right);
  EXPECT_EQ(r.bottom, work.Bottom);
  Sleep(500);
  EXPECT_TRUE(IsWindow(window));
  EXPECT_EQ(ReportDialogState().Sending, window);
  TSendingProgress::Status("Sending message...");
  char text[64] = {};
  GetDlgItemTextA(window, 100, text, sizeof text);
  EXPECT_STREQ(text, "Sending message...");
  TSendingProgress::Close();
  EXPECT_TRUE(WaitFor([] { return ReportDialogState().Sending == nullptr; }));
  EXPECT_TRUE(WaitFor([&] { return !IsWindow(window); }));  // gone with its thread's loop
}
#endif

TEST_F(ReportDialogs, SendingWindowFollowsTheSender) {
  options_->SetSendFlags(0x01);
  options_->SetMailMode(2);
  std::thread sender([] {
    WaitFor([] { return ReportDialogState().Sending != nullptr; });
    TSendingProgress::Status("Connecting to the server...");
    TSendingProgress::Progress(40, 100);
    Sleep(300);
    SaveShot(ReportDialogState().Sending, "report-sending-window");
    TSendingProgress::Close();
  });
  ShowSendingWindow(true);
  sender.join();
  EXPECT_EQ(ReportDialogState().Sending, nullptr);
}

}  // namespace
