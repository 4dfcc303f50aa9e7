// VantorLogPipeline.exe: an active program (an RCDATA block) whose reports
// go through the whole pipeline with no dialog. Its exception-notify callback
// writes what it sees to the file named by PIPELINE_NOTES, one line each; the
// program prints "key=value" lines and ends with "end". Modes:
//   --worker             an uncaught exception on a plain worker thread
//   --callback-raises    the same, the callback raising; then an EAbort
//   --wait-fails         the faulting thread's wait fails, then another report
//   --abort              an uncaught EAbort on a worker thread
//   --filters            the four filter roads through the application handler's entry
//   --terminate          a filter whose after-action ends the program
//   --fault              a write to address 0 on a worker thread
//   --dll-events A B     reports at addresses of two DLLs with blocks of their own
//   --application-options A  a report at an address of a DLL with a block of its own, the
//                        application module's options switch off and on
//   --freeze             a visible window whose click handler blocks the main thread
//   --freeze-minimised   a freeze and a report with a dialog due while the main window is minimised
//   --freeze-no-window   the main thread blocks in a program without a window
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <string>

#include "ECoreWin.h"
#include "EEventsWin.h"
#include "EFreezeWin.h"
#include "EPipelineWin.h"
#include "ExceptionLogCapture.h"
#include "ExceptionLogWin.h"
#include "ProbeLines.h"
#include "SysUtils.h"
#include "Units.h"

namespace {

// Appends a line to the notes file (opened and closed each time: the process may end at any point).
void Note(const std::string& line) {
  const char* path = std::getenv("PIPELINE_NOTES");
  if (!path) return;
  HANDLE f = CreateFileA(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
  if (f == INVALID_HANDLE_VALUE) return;
  const std::string text = line + "\n";
  DWORD written = 0;
  WriteFile(f, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
  CloseHandle(f);
}

std::string Variable(const char* name) {
  char buffer[1024] = {};
  DWORD n = GetEnvironmentVariableA(name, buffer, sizeof buffer);
  return n < sizeof buffer ? std::string(buffer, n) : std::string();
}

std::string Hex(const std::string& text) {
  std::string out;
  char b[3];
  for (unsigned char c : text) {
    std::snprintf(b, sizeof b, "%02X", c);
    out += b;
  }
  return out;
}

std::atomic<int> g_notifications{0};
bool g_callbackRaises = false;

void ExceptionNotify(const TVantorExceptionRecord& record, bool&) {
  ++g_notifications;
  const std::string className = record.ExceptionObject ? record.ExceptionObject->ClassName() : std::string();
  char line[1200];
  std::snprintf(line, sizeof line, "notify thread=%lu faulting=%lu report=%lu class=%s msg=%s lb=%s rva=%llx",
                GetCurrentThreadId(), static_cast<unsigned long>(record.ThreadId), ReportThreadId(), className.c_str(),
                Variable("_ExceptMsg").c_str(), Hex(Variable("_LineBreak")).c_str(),
                static_cast<unsigned long long>(record.ExceptionAddress -
                                                reinterpret_cast<std::uintptr_t>(GetModuleHandleA(nullptr))));
  Note(line);
  if (g_callbackRaises) throw EConvertError("raised in the callback");
}

int g_dialogs = 0;
int g_xmlWrites = 0;
bool CountDialog(TReportRun&, bool) {
  ++g_dialogs;
  return true;
}

[[gnu::noinline]] void ThrowFromWorker() {
  throw EConvertError("worker failure");
}

DWORD WINAPI RaisingWorker(void*) {
  Note("worker thread=" + std::to_string(GetCurrentThreadId()));
  ThrowFromWorker();
  return 0;
}

DWORD WINAPI AbortingWorker(void*) {
  throw EAbort("Operation aborted");
  return 0;
}

DWORD WINAPI WriteToAddressZero(void*) {
  Note("worker thread=" + std::to_string(GetCurrentThreadId()));
  *static_cast<volatile int*>(nullptr) = 1;
  return 0;
}

DWORD RunWorker(LPTHREAD_START_ROUTINE body) {
  HANDLE worker = CreateThread(nullptr, 0, body, nullptr, 0, nullptr);
  if (!worker) return 0xFFFFFFFFu;
  WaitForSingleObject(worker, 20000);
  DWORD code = 0;
  GetExitCodeThread(worker, &code);
  CloseHandle(worker);
  return code;
}

std::shared_ptr<const TExceptionObjectRecord> ConvertError(const char* message, std::uintptr_t address) {
  return std::make_shared<const TExceptionObjectRecord>(
      MakeExceptionObjectRecord(std::make_exception_ptr(EConvertError(message)), address));
}

TVantorExceptionFilter* Filter(std::uint8_t dialogChoice, std::uint8_t handlerKind, std::uint8_t actionAfter) {
  auto* f = new TVantorExceptionFilter;
  f->ExceptionClass = "EConvertError";
  f->DialogChoice = dialogChoice;
  f->HandlerKind = handlerKind;
  f->ActionAfter = actionAfter;
  return f;
}

// One report through the application handler's entry with a single filter: the answer, notifications and dialogs.
void FilterRoad(const char* name, std::uint8_t dialogChoice, std::uint8_t handlerKind) {
  TVantorModuleOptionsEx* options = CurrentVantorLogOptions();
  options->FilterList()->ClearFilters();
  options->FilterList()->AddFilter(Filter(dialogChoice, handlerKind, 0));
  const int notes = g_notifications, dialogs = g_dialogs;
  const std::uintptr_t address = reinterpret_cast<std::uintptr_t>(&FilterRoad);
  const std::uint8_t result =
      ExceptionManagerCall(ConvertError(name, address), address, kModeApplication, GetModuleHandleA(nullptr));
  const std::string prefix = name;
  Line((prefix + "-result").c_str(), std::to_string(result));
  Line((prefix + "-notifications").c_str(), std::to_string(g_notifications - notes));
  Line((prefix + "-dialogs").c_str(), std::to_string(g_dialogs - dialogs));
}

// --- Freeze ------------------------------------------------------------------------------------------
[[gnu::noinline]] void BlockingClick(DWORD ms) {
  const DWORD start = GetTickCount();
  while (GetTickCount() - start < ms) {
    volatile int spin = 0;
    for (int i = 0; i < 200000; ++i) spin = spin + i;
  }
}

DWORD g_blockMs = 0;
LRESULT CALLBACK ProbeWindowProc(HWND window, UINT message, WPARAM w, LPARAM l) {
  if (message == WM_COMMAND && HIWORD(w) == BN_CLICKED) {
    BlockingClick(g_blockMs);
    return 0;
  }
  return DefWindowProcA(window, message, w, l);
}

void PumpFor(DWORD ms) {
  const DWORD start = GetTickCount();
  MSG msg;
  while (GetTickCount() - start < ms) {
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
      TranslateMessage(&msg);
      DispatchMessageA(&msg);
    }
    Sleep(10);
  }
}

// A minimised main window: a freeze report leaves it alone (its thread is
// suspended), an ordinary report with a dialog due restores it without waiting.
void MinimisedWindowRoads() {
  TVantorModuleOptionsEx* options = CurrentVantorLogOptions();
  WNDCLASSA wc{};
  wc.lpfnWndProc = ProbeWindowProc;
  wc.hInstance = GetModuleHandleA(nullptr);
  wc.lpszClassName = "PipelineProbeWindow";
  RegisterClassA(&wc);
  HWND main = CreateWindowA("PipelineProbeWindow", "Pipeline probe", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 50, 50, 300, 200,
                            nullptr, nullptr, wc.hInstance, nullptr);
  ShowWindow(main, SW_MINIMIZE);
  PumpFor(300);
  Line("iconic-before", IsIconic(main) ? "1" : "0");
  options->SetDialogKind(2);
  options->SetFreezeSeconds(1);
  options->SetFreezeCheck(true);
  PumpFor(700);
  BlockingClick(1700);
  PumpFor(700);
  Line("freeze-reports", std::to_string(g_notifications.load()));
  Line("iconic-after-freeze", IsIconic(main) ? "1" : "0");
  options->SetFreezeCheck(false);
  const std::uintptr_t address = reinterpret_cast<std::uintptr_t>(&BlockingClick);
  ExceptionManagerCall(ConvertError("a dialog is due", address), address, kModeApplication, GetModuleHandleA(nullptr));
  PumpFor(700);
  Line("iconic-after-report", IsIconic(main) ? "1" : "0");
}

void FreezeRoads(bool withWindow) {
  TVantorModuleOptionsEx* options = CurrentVantorLogOptions();
  Line("text-156", options->GetCustomText(156));
  HWND button = nullptr;
  if (withWindow) {
    WNDCLASSA wc{};
    wc.lpfnWndProc = ProbeWindowProc;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.lpszClassName = "PipelineProbeWindow";
    RegisterClassA(&wc);
    HWND main = CreateWindowA("PipelineProbeWindow", "Pipeline probe", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 50, 50, 300,
                              200, nullptr, nullptr, wc.hInstance, nullptr);
    button = CreateWindowA("BUTTON", "Block", WS_CHILD | WS_VISIBLE | BS_PUSHBUTTON, 10, 10, 100, 30, main, nullptr,
                           wc.hInstance, nullptr);
    Line("window", main && button ? "1" : "0");
  }
  auto click = [&](DWORD ms) {
    g_blockMs = ms;
    if (button)
      SendMessageA(button, BM_CLICK, 0, 0);
    else
      BlockingClick(ms);
  };
  options->SetFreezeSeconds(1);
  options->SetFreezeCheck(true);
  Line("detector-running", FreezeDetector() ? "1" : "0");
  PumpFor(1200);
  Line("reports-idle", std::to_string(g_notifications.load()));
  click(2500);
  PumpFor(1500);
  Line("reports-first", std::to_string(g_notifications.load()));
  click(1800);
  PumpFor(1500);
  Line("reports-second", std::to_string(g_notifications.load()));
  options->SetFreezeCheck(false);
  Line("detector-after-off", FreezeDetector() ? "1" : "0");
  click(1800);
  PumpFor(500);
  Line("reports-after-off", std::to_string(g_notifications.load()));
}

UnitEntry g_units[] = {
    {"ECore", InitECoreWin, DoneECoreWin},
    {"ExceptionLog", InitExceptionLog, DoneExceptionLog},
};

}  // namespace

int main(int argc, char** argv) {
  if (!StartUnits(g_units)) return 2;
  TVantorModuleOptionsEx* options = CurrentVantorLogOptions();
  options->SetDialogKind(0);
  options->SetWriteLogFile(false);
  VantorLogCallbacks().ExceptionNotify = &ExceptionNotify;
  ReportSteps().ShowDialog = &CountDialog;
  const std::string mode = argc >= 2 ? argv[1] : "";

  if (mode == "--worker") {
    // The XML step of the log writes and deletes nothing of the user's: the log named by the options stays.
    options->SetLogFlags(static_cast<std::uint8_t>(options->LogFlags() | 0x04));
    const std::string log = std::string(std::getenv("PIPELINE_NOTES")) + ".log";
    options->SetLogLocation(log);
    HANDLE kept = CreateFileA(log.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    CloseHandle(kept);
    ReportSteps().WriteXmlLog = [](TReportRun&) { ++g_xmlWrites; };
    Line("worker-exit", std::to_string(RunWorker(&RaisingWorker)));
    Line("xml-writes", std::to_string(g_xmlWrites));
    Line("log-kept", GetFileAttributesA(log.c_str()) != INVALID_FILE_ATTRIBUTES ? "1" : "0");
    DeleteFileA(log.c_str());
    Line("notifications", std::to_string(g_notifications.load()));
  } else if (mode == "--callback-raises") {
    options->SetBehaviourFlags(static_cast<std::uint16_t>(options->BehaviourFlags() | 0x100));
    g_callbackRaises = true;
    Line("worker-exit", std::to_string(RunWorker(&RaisingWorker)));
    Line("notifications", std::to_string(g_notifications.load()));
    Line("reports", std::to_string(ReportedErrorsCount()));
    for (const TProcessExceptionCall& call : ProcessExceptionCalls())
      Line("call", (call.Object ? call.Object->Message : std::string()) + " handled=" + std::to_string(call.Handled) +
                       " thread=" + std::to_string(call.ThreadId));
    g_callbackRaises = false;
    Line("abort-exit", std::to_string(RunWorker(&AbortingWorker)));
    Line("notifications-after-abort", std::to_string(g_notifications.load()));
    Line("reports-after-abort", std::to_string(ReportedErrorsCount()));
  } else if (mode == "--wait-fails") {
    // The main thread's wait fails while the report thread waits for its
    // parked event: the report thread is ended, and the next report runs.
    ReportSteps().DialogShowing = []() -> bool {
      if (EventIsParked()) throw EConvertError("the wait fails");
      return false;
    };
    const std::uintptr_t address = reinterpret_cast<std::uintptr_t>(&FilterRoad);
    Line("failed-wait-result", std::to_string(ExceptionManagerCall(ConvertError("first", address), address,
                                                                   kModeApplication, GetModuleHandleA(nullptr))));
    ReportSteps().DialogShowing = nullptr;
    Line("notifications-after-failure", std::to_string(g_notifications.load()));
    Line("next-result", std::to_string(ExceptionManagerCall(ConvertError("second", address), address, kModeApplication,
                                                            GetModuleHandleA(nullptr))));
    Line("notifications", std::to_string(g_notifications.load()));
  } else if (mode == "--abort") {
    Line("abort-exit", std::to_string(RunWorker(&AbortingWorker)));
    Line("notifications", std::to_string(g_notifications.load()));
  } else if (mode == "--filters") {
    options->SetDialogKind(2);
    FilterRoad("kind1", 1, 1);
    FilterRoad("kind0", 1, 0);
    FilterRoad("nodialog", 0, 2);
    FilterRoad("detailed", 4, 2);
  } else if (mode == "--terminate") {
    options->FilterList()->AddFilter(Filter(0, 2, 1));
    const std::uintptr_t address = reinterpret_cast<std::uintptr_t>(&FilterRoad);
    ExceptionManagerCall(ConvertError("ends the program", address), address, kModeApplication,
                         GetModuleHandleA(nullptr));
    Line("after-terminating-report", "1");  // not reached
  } else if (mode == "--fault") {
    RunWorker(&WriteToAddressZero);
    Line("fault-survived", "1");  // not reached
  } else if (mode == "--dll-events" && argc >= 4) {
    TVantorLogHandler handler;
    Note("start");
    handler.OnExceptionNotify = TExceptionNotifyEvent::FromFunction(
        nullptr, [](void*, const TVantorExceptionRecord&, bool&) { Note("program-handler"); });
    RegisterVantorLogHandler(&handler);
    VantorLogCallbacks().ExceptionNotify = [](const TVantorExceptionRecord&, bool&) { Note("program-callback"); };
    for (int i = 2; i < 4; ++i) {
      HMODULE dll = LoadLibraryA(argv[i]);
      auto function = dll ? reinterpret_cast<std::uintptr_t>(GetProcAddress(dll, "DllFunction")) : 0;
      Line(i == 2 ? "peer-loaded" : "old-loaded", function ? "1" : "0");
      Note(i == 2 ? "report peer" : "report old");
      ExceptionManagerCall(ConvertError("raised in a DLL", function), function, kModeServer, GetModuleHandleA(nullptr));
      if (i == 2) {
        Line("peer-password-length", std::to_string(CallPasswordRequestExport(dll, "start").size()));
        std::uint8_t buffer[256];
        PasswordToShortText("start", buffer);
        auto plain = reinterpret_cast<TPasswordEventExport>(
            reinterpret_cast<void*>(GetProcAddress(dll, "VantorLog_PasswordRequestEvent")));
        if (plain) plain(buffer, 40);
        Line("peer-password-cut", std::to_string(buffer[0]));
      }
    }
    UnregisterVantorLogHandler(&handler);
  } else if (mode == "--application-options" && argc >= 3) {
    // Which module's options a report takes: noted by the exception event.
    static std::string chosen;
    TVantorLogHandler handler;
    handler.OnExceptionNotify =
        TExceptionNotifyEvent::FromFunction(nullptr, [](void*, const TVantorExceptionRecord&, bool&) {
          TVantorModuleOptionsEx* options = DefaultVantorLogOptions();
          chosen = options ? ExtractFileName(options->OwnerModuleName()) : "-";
        });
    RegisterVantorLogHandler(&handler);
    HMODULE dll = LoadLibraryA(argv[2]);
    auto function = dll ? reinterpret_cast<std::uintptr_t>(GetProcAddress(dll, "DllFunction")) : 0;
    for (std::uint8_t on : {0, 1}) {
      VantorLogFlags().UseApplicationModuleOptions = on;
      chosen.clear();
      ExceptionManagerCall(ConvertError("raised in a DLL", function), function, kModeServer, GetModuleHandleA(nullptr));
      Line(on ? "options-switch-on" : "options-switch-off", chosen);
    }
    VantorLogFlags().UseApplicationModuleOptions = 0;
    UnregisterVantorLogHandler(&handler);
  } else if (mode == "--freeze") {
    FreezeRoads(true);
  } else if (mode == "--freeze-minimised") {
    MinimisedWindowRoads();
  } else if (mode == "--freeze-no-window") {
    FreezeRoads(false);
  }
  RunUnitFinalizations();
  std::printf("end\n");
  return 0;
}
