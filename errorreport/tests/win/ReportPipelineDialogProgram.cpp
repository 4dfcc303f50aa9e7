// The report dialog at the end of the pipeline: a GUI program whose data block
// (made by vldata, text 3 "Probe error") makes the library active shows the
// report of an exception in the message box of DialogKind 1; a driver thread
// clicks it away as a user would.
#include <gtest/gtest.h>
#include <windows.h>

#include <iterator>
#include <string>
#include <thread>

#include "ECoreWin.h"
#include "EPipelineWin.h"
#include "EReportDialogsWin.h"
#include "ExceptionLogCapture.h"
#include "ExceptionLogWin.h"
#include "SysUtils.h"
#include "Units.h"

namespace {

UnitEntry g_units[] = {
    {"ECore", InitECoreWin, DoneECoreWin},
    {"ExceptionLog", InitExceptionLog, DoneExceptionLog},
};

struct TFind {
  std::string Caption;
  HWND Window = nullptr;
};
BOOL CALLBACK FindBox(HWND window, LPARAM lParam) {
  auto* find = reinterpret_cast<TFind*>(lParam);
  DWORD pid = 0;
  GetWindowThreadProcessId(window, &pid);
  char cls[64] = {}, text[256] = {};
  GetClassNameA(window, cls, sizeof cls);
  GetWindowTextA(window, text, sizeof text);
  if (pid == GetCurrentProcessId() && std::string(cls) == "#32770" && IsWindowVisible(window) &&
      find->Caption == text) {
    find->Window = window;
    return FALSE;
  }
  return TRUE;
}

[[gnu::noinline]] void ReportedPlace() {
  asm volatile("");
}

TEST(ReportPipelineDialog, TheReportShowsTheMessageBoxOfDialogKindOne) {
  SetUnitTable(g_units, std::size(g_units));
  RunUnitInitializations();
  ASSERT_EQ(VantorLogFlags().Initialized, 1);
  TVantorModuleOptionsEx* options = CurrentVantorLogOptions();
  ASSERT_NE(options, nullptr);
  options->SetDialogKind(1);
  options->SetWriteLogFile(false);
  options->SetMailMode(0);
  options->SetWebMode(0);
  std::string text;
  bool found = false;
  std::thread driver([&] {
    TFind find{"Probe error"};
    for (int i = 0; i < 500 && !find.Window; ++i) {
      EnumWindows(&FindBox, reinterpret_cast<LPARAM>(&find));
      if (!find.Window) Sleep(20);
    }
    if (!find.Window) return;
    found = true;
    Sleep(200);
    HWND child = nullptr;
    char buffer[256] = {};
    while ((child = FindWindowExA(find.Window, child, "Static", nullptr)) && !buffer[0])
      GetWindowTextA(child, buffer, sizeof buffer);
    text = buffer;
    PostMessageA(find.Window, WM_COMMAND, IDOK, 0);
  });
  const std::uintptr_t address = reinterpret_cast<std::uintptr_t>(&ReportedPlace);
  ExceptionManagerCall(std::make_shared<const TExceptionObjectRecord>(MakeExceptionObjectRecord(
                           std::make_exception_ptr(EConvertError("The dialog road.")), address)),
                       address, kModeApplication, GetModuleHandleA(nullptr));
  driver.join();
  EXPECT_TRUE(found);
  EXPECT_EQ(text, "The dialog road.");
  EXPECT_EQ(ReportDialogState().Kind, 0);
  EXPECT_FALSE(ReportDialogState().DialogFailed);
  EXPECT_EQ(ReportedErrorsCount(), 1);
}

}  // namespace
