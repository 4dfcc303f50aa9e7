// An active program (an RCDATA block) for the report's outputs outside the
// dialogs. Lines "key=value" go to standard output, or to the file named by
// RESULT_FILE when that is set (the windowed build).
//   report             one report with the message box kind: a console
//                      program writes the report text, a CGI program (with
//                      REQUEST_METHOD) the error page with its status header.
//   screenshot [fg]    a visible window, then a report that attaches the
//                      screenshot (with "fg", of the foreground window only);
//                      prints the temporary folder and the expected size.
// PROBE_MODE, when set, names the mode (the arguments are then the program's).
//   probes             prints the video card and language texts.
//   clipboard          a report whose dialog chooses to copy it to the clipboard
//                      (the windowed build); prints what the clipboard holds.
//   wincgi             prints whether the program was taken for a WinCGI
//                      program and its output file, then reports.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <iterator>
#include <memory>
#include <string>

#include "ECore.h"
#include "ECoreWin.h"
#include "EPipelineWin.h"
#include "EProbesWin.h"
#include "EReportFilesWin.h"
#include "EWebOutputWin.h"
#include "ExceptionLogCapture.h"
#include "ExceptionLogWin.h"
#include "ProbeLines.h"
#include "Units.h"

namespace {

std::exception_ptr Raised() {
  try {
    throw EConvertError("Bad <value> & more");
  } catch (...) {
    return std::current_exception();
  }
}

[[gnu::noinline]] std::uint8_t Report() {
  const std::uintptr_t address = reinterpret_cast<std::uintptr_t>(&Report);
  return ExceptionManagerCall(
      std::make_shared<const TExceptionObjectRecord>(MakeExceptionObjectRecord(Raised(), address)), address,
      kModeServer, GetModuleHandleA(nullptr));
}

LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM w, LPARAM l) {
  return DefWindowProcA(window, message, w, l);
}

HWND g_edit = nullptr;

HWND ShowWindowOfSize(int width, int height) {
  WNDCLASSA wc{};
  wc.lpfnWndProc = &WindowProc;
  wc.hInstance = GetModuleHandleA(nullptr);
  wc.lpszClassName = "WebOutputProbeWindow";
  wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
  RegisterClassA(&wc);
  HWND window = CreateWindowExA(0, wc.lpszClassName, "Probe", WS_POPUP | WS_VISIBLE, 40, 30, width, height, nullptr,
                                nullptr, wc.hInstance, nullptr);
  // A focused control, which the screenshot frames.
  g_edit =
      CreateWindowExA(0, "EDIT", "", WS_CHILD | WS_VISIBLE, 20, 20, 60, 25, window, nullptr, wc.hInstance, nullptr);
  UpdateWindow(window);
  // Other programs' windows on the same display may take the activation back
  // for a while: activate until it holds.
  MSG msg;
  for (int i = 0; i < 300; ++i) {
    if (GetForegroundWindow() != window) SetForegroundWindow(window);
    if (GetFocus() != g_edit) SetFocus(g_edit);
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&msg);
    Sleep(10);
    if (i >= 50 && GetForegroundWindow() == window && GetFocus() == g_edit) break;
  }
  return window;
}

UnitEntry g_units[] = {
    {"ECore", InitECoreWin, DoneECoreWin},
    {"ExceptionLog", InitExceptionLog, DoneExceptionLog},
};

}  // namespace

int main(int argc, char** argv) {
  if (!StartUnits(g_units)) return 2;
  TVantorModuleOptionsEx* options = CurrentVantorLogOptions();
  options->SetWriteLogFile(false);
  options->SetMailMode(0);
  options->SetWebMode(0);
  const char* named = std::getenv("PROBE_MODE");
  const std::string mode = named ? named : argc >= 2 ? argv[1] : "report";
  Line("console", std::to_string(IsConsoleApp()));
  Line("web", std::to_string(IsWebApp()));
  if (mode == "screenshot") {
    const bool foreground = argc >= 3 && std::string(argv[2]) == "fg";
    options->SetDialogKind(0);
    // The file the report wrote stays for the test to decode: the steps after
    // the log, which send and then delete the report's files, do nothing here.
    ReportSteps().StartSending = [](TReportRun&) {};
    ReportSteps().FinishReport = [](TReportRun&) {};
    options->SetSendFlags(static_cast<std::uint16_t>((options->SendFlags() & ~0x30) | 0x10 | (foreground ? 0x20 : 0)));
    HWND window = ShowWindowOfSize(213, 117);
    RECT r{};
    if (foreground)
      GetWindowRect(window, &r);
    else
      r = RECT{0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
    Line("temp-folder", GetTempFolderPath());
    Line("size", std::to_string(r.right - r.left) + "x" + std::to_string(r.bottom - r.top));
    Line("focus", GetFocus() == g_edit ? "20,20,60,25" : "none");
    Line("report", std::to_string(Report()));
  } else if (mode == "probes") {
    // The video card and language probes (the 9x branches when Wine reports Windows 9x).
    const TOsVersionFacts os = GetOsVersionFacts();
    Line("platform", std::to_string(os.Platform) + "." + std::to_string(os.Major) + "." + std::to_string(os.Minor));
    DISPLAY_DEVICEA device{};
    device.cb = sizeof device;
    if (EnumDisplayDevicesA(nullptr, 0, &device, 0)) Line("display-key", device.DeviceKey);
    Line("video", ReadVideoCardText());
    Line("language", ReadLanguageText());
  } else if (mode == "clipboard") {
    // The dialog's copy-to-clipboard choice puts the report text on the clipboard.
    options->SetDialogKind(3);
    ReportSteps().ShowDialog = [](TReportRun& run, bool) {
      run.CopyToClipboard = true;
      run.DialogType = 0;
      return true;
    };
    Line("report", std::to_string(Report()));
    std::string text;
    if (OpenClipboard(nullptr)) {
      if (HANDLE data = GetClipboardData(CF_TEXT)) {
        if (const char* p = static_cast<const char*>(GlobalLock(data))) text = p;
        GlobalUnlock(data);
      }
      CloseClipboard();
    }
    Line("clipboard-has-message", std::to_string(text.find("Bad <value> & more") != std::string::npos));
    Line("clipboard-has-header", std::to_string(text.find("Application") != std::string::npos));
  } else {
    if (mode == "wincgi") {
      Line("wincgi", std::to_string(IsWinCgiApp()));
      Line("output", WinCgiOutputFile());
    }
    options->SetDialogKind(1);
    options->SetSendFlags(static_cast<std::uint16_t>(options->SendFlags() & ~0x10));
    // A program that is not taken for a web program would show its message
    // box: the report only notes that it came to the dialog and goes on.
    ReportSteps().ShowDialog = [](TReportRun& run, bool) {
      Line("dialog", "1");
      run.DialogType = 0;
      return true;
    };
    Line("report", std::to_string(Report()));
  }
  Line("end", "1");
  return 0;
}
