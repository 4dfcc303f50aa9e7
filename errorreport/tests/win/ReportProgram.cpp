// An active program whose worker thread writes to address 0. Its
// exception-notify callback copies the report text ("_BugReport") into the
// file named by REPORT_FILE; the program prints "key=value" lines: the
// address of the faulting function. On 32-bit the fault comes with known
// values in the six general registers. With "--failing-text" the text step
// fails inside a section of the builder, and the library's debugger lines
// go to standard output.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <string>
#include <vector>

#include "ECore.h"
#include "ECoreWin.h"
#include "EDebugWin.h"
#include "EPipelineWin.h"
#include "EReportBuilder.h"
#include "ExceptionLogCapture.h"
#include "ExceptionLogWin.h"
#include "Units.h"

namespace {

void ExceptionNotify(const TVantorExceptionRecord&, bool&) {
  const char* path = std::getenv("REPORT_FILE");
  if (!path) return;
  std::vector<char> text(32768);
  const DWORD n = GetEnvironmentVariableA("_BugReport", text.data(), static_cast<DWORD>(text.size()));
  HANDLE f = CreateFileA(path, GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (f == INVALID_HANDLE_VALUE) return;
  DWORD written = 0;
  if (n < text.size()) WriteFile(f, text.data(), n, &written, nullptr);
  CloseHandle(f);
}

class PrintedOutput : public LibraryOutput {
 public:
  void DebugLine(const std::string& line) override {
    std::printf("debug=%s\n", line.c_str());
    std::fflush(stdout);
  }
  void WarningBox(const std::string&, const std::string&) override {}
  bool ErrorDisplayEnabled() override { return false; }
};

}  // namespace

// Read at run time, so the compiler cannot see the write to address 0 coming.
int* volatile g_nowhere = nullptr;

extern "C" __attribute__((noinline)) void FaultWithKnownRegisters() {
#if defined(__i386__)
  asm volatile(
      "movl $0x11111111, %%eax\n\t"
      "movl $0x22222222, %%ebx\n\t"
      "movl $0x33333333, %%ecx\n\t"
      "movl $0x44444444, %%edx\n\t"
      "movl $0x55555555, %%esi\n\t"
      "movl $0x66666666, %%edi\n\t"
      "movl %%eax, 0\n\t" ::
          : "eax", "ebx", "ecx", "edx", "esi", "edi", "memory");
#else
  *g_nowhere = 1;
#endif
}

extern "C" __attribute__((noinline)) DWORD WINAPI FaultingThread(void*) {
  FaultWithKnownRegisters();
  return 0;
}

namespace {

UnitEntry g_units[] = {
    {"ECore", InitECoreWin, DoneECoreWin},
    {"EDebug", InitEDebug, DoneEDebug},
    {"ExceptionLog", InitExceptionLog, DoneExceptionLog},
};

}  // namespace

int main(int argc, char** argv) {
  SetUnitTable(g_units, std::size(g_units));
  RunUnitInitializations();
  std::printf("initialized=%u\n", static_cast<unsigned>(VantorLogFlags().Initialized));
  std::printf("fault-function=%llX\n",
              static_cast<unsigned long long>(reinterpret_cast<std::uintptr_t>(&FaultWithKnownRegisters)));
  std::fflush(stdout);
  if (VantorLogFlags().Initialized != 1) return 2;
  TVantorModuleOptionsEx* options = CurrentVantorLogOptions();
  options->SetDialogKind(0);
  options->SetWriteLogFile(false);
  VantorLogCallbacks().ExceptionNotify = &ExceptionNotify;
  ReportSteps().ShowDialog = [](TReportRun&, bool) { return true; };
  static PrintedOutput printed;
  if (argc >= 2 && std::strcmp(argv[1], "--failing-text") == 0) {
    SetLibraryOutput(&printed);
    SetHostedByIde(true);
    ReportSteps().BuildReportText = [](TReportRun&) -> std::string {
      ReportStepMarker() = 7035;
      throw Exception("a cell that cannot be written");
    };
  }
  HANDLE worker = CreateThread(nullptr, 0, &FaultingThread, nullptr, 0, nullptr);
  if (worker) WaitForSingleObject(worker, 30000);
  std::printf("fault-survived=1\n");  // not reached: the fault ends the program
  return 0;
}
