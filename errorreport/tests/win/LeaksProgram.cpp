// The leak catcher in a program: the unit first in the table, its options
// from the block linked in (or none). Each mode prints what the test reads:
//   --status  whether the catcher is on and the memory manager replaced
//   --sites   the cleaned first call address of a data block and of an object, with their lines
//   --faults  an overrun and a double free, each named by the catcher's handlers; exit 0
//   --leaks   three 16-byte blocks from one line, an object and a string buffer left at the end
//   --late    a block of the run released by a static object's destructor, after the leak report
//   --shared DLL  the shared allocator: a DLL takes the program's record, its block is freed here
//   --dll-options DLL  the leak options the DLL's catcher takes (its block asks for the main module's)
//   --report  the same faults and leaks reported by the library: each report's class, message and
//             (for the leak report) its entries, as the report's text step receives them, and
//             the group rows of the report text built from them
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <functional>
#include <string>

#include "ECoreWin.h"
#include "EDebugWin.h"
#include "EHookWin.h"
#include "ELeaksWin.h"
#include "EPipelineWin.h"
#include "EReportBuilderWin.h"
#include "ExceptionLogLeaks.h"
#include "ExceptionLogWin.h"
#include "Lists.h"
#include "MemoryManager.h"
#include "Units.h"

namespace {

UnitEntry g_units[] = {
    {"ELeaks", InitELeaks, nullptr},
    {"ECore", InitECoreWin, DoneECoreWin},
    {"EDebug", InitEDebug, DoneEDebug},
    {"EHook", InitEHook, DoneEHook},
    {"ExceptionLog", InitExceptionLog, DoneExceptionLog},
};

// The report's text step: what the report carries, on the output.
std::string WriteReport(TReportRun& run) {
  std::printf("report class=%s msg=%s\n", run.Object ? run.Object->ClassName().c_str() : "-",
              run.Object ? run.Object->Message.c_str() : "-");
  if (run.Object && run.Object->ClassName() == "EMemoryLeak" && run.CallStack) {
    for (int i = 0; i < run.CallStack->Count(); ++i) {
      const TVLLocationInfo* e = run.CallStack->Items(i);
      std::printf("entry leak=%d first=%d type=%s size=%lld count=%d kind=%d line=%d at=%s:%s address=%llx\n",
                  e->LeakEntry, e->FirstEntry, e->LeakType.c_str(), static_cast<long long>(e->LeakSize), e->LeakCount,
                  e->Kind, e->Line, e->UnitName.c_str(), e->ProcedureName.c_str(),
                  static_cast<unsigned long long>(e->Address));
    }
    // The group rows of the text the report's log and mail carry.
    const std::string text = BuildRunReportText(run);
    for (std::size_t at = 0; at < text.size();) {
      std::size_t end = text.find("\r\n", at);
      if (end == std::string::npos) end = text.size();
      std::string line = text.substr(at, end - at);
      at = end + 2;
      if (line.size() < 2 || line.front() != '|' || line.find("; Count=") == std::string::npos) continue;
      line = line.substr(1, line.find_last_not_of(" |"));
      std::printf("group %s\n", line.c_str());
    }
  }
  std::fflush(stdout);
  return "report";
}

bool NoDialog(TReportRun&, bool) {
  return true;
}

void PrintSite(const char* what, void* data, int line) {
  TLeakCatcher* catcher = ProcessLeakCatcher();
  TLeakBlockHeader* h = catcher ? catcher->RegisteredHeader(data) : nullptr;
  if (!h) {
    std::printf("%s unregistered\n", what);
    return;
  }
  std::uintptr_t frames[kLeakStackEntries];
  std::memcpy(frames, h->Frames, sizeof frames);
  CleanCallAddresses(ProcessMemory(), frames, sizeof(void*) == 8);
  std::printf("%s kind=%d class=%s size=%d site=%llx line=%d\n", what, h->Kind, h->Class ? h->Class->Name() : "-",
              h->Size, static_cast<unsigned long long>(frames[0]), line);
}

[[gnu::noinline]] void Sites() {
  // clang-format off
  char* data = new char[24]; const int dataLine = __LINE__;
  TStringList* list = New<TStringList>(); const int objectLine = __LINE__;
  // clang-format on
  PrintSite("data", data, dataLine);
  PrintSite("object", list, objectLine);
  delete[] data;
  list->Free();
}

[[gnu::noinline]] void Faults() {
  TLeakCatcher* catcher = ProcessLeakCatcher();
  if (!catcher) return;
  catcher->Handlers().Overrun = [](void* data) { std::printf("overrun %p\n", data); };
  catcher->Handlers().MultiFree = [](void* data) { std::printf("multi-free %p\n", data); };
  char* volatile over = new char[16];
  std::printf("block %p\n", static_cast<void*>(over));
  over[16] = 'x';
  delete[] over;
  int* volatile twice = new int(5);
  std::printf("block %p\n", static_cast<void*>(twice));
  delete twice;
  int* again = twice;  // hidden from the compiler's use-after-free check
  delete again;
}

void* volatile g_keep[8];

// Made before main (before the catcher), destroyed after the leak report.
struct LateRelease {
  char* block = nullptr;
  ~LateRelease() {
    if (!block) return;
    delete[] block;
    std::printf("late release done\n");
    std::fflush(stdout);
  }
} g_late;

// The faults of --faults and the blocks of --leaks with the library's handlers in place.
[[gnu::noinline]] void FaultsAndLeaks() {
  char* volatile over = new char[16];
  over[16] = 'x';
  delete[] over;
  int* volatile twice = new int(5);
  delete twice;
  int* again = twice;
  delete again;
  // clang-format off
  for (int i = 0; i < 3; ++i) {
    g_keep[i] = new char[16]; std::printf("line data %d\n", __LINE__);
  }
  g_keep[3] = New<TStringList>(); std::printf("line object %d\n", __LINE__);
  g_keep[4] = new std::string(200, 's'); std::printf("line string %d\n", __LINE__);
  // clang-format on
  std::fflush(stdout);
}

// Handlers without captures: nothing of theirs is left on the heap at the report.
std::function<void()> g_previousEndOfRun;
void ListedAfterReport() {
  std::printf("listed after the report %zu\n", ProcessLeakCatcher()->ListedBlocks());
  std::fflush(stdout);
  if (g_previousEndOfRun) g_previousEndOfRun();
}

[[gnu::noinline]] void Leaks() {
  TLeakCatcher* catcher = ProcessLeakCatcher();
  if (!catcher) return;
  // After the report: how many blocks the list still holds (none when bit 8 freed them).
  g_previousEndOfRun = catcher->Handlers().EndOfRun;
  catcher->Handlers().EndOfRun = &ListedAfterReport;
  catcher->Handlers().Leak = [](const std::string& type, std::int64_t size, int count, const std::uintptr_t* a) {
    std::printf("leak %s size=%lld count=%d first=%llx\n", type.c_str(), static_cast<long long>(size), count,
                static_cast<unsigned long long>(a[0]));
    std::fflush(stdout);
  };
  // clang-format off
  for (int i = 0; i < 3; ++i) {
    g_keep[i] = new char[16]; std::printf("line data %d\n", __LINE__);
  }
  g_keep[3] = New<TStringList>(); std::printf("line object %d\n", __LINE__);
  g_keep[4] = new std::string(200, 's'); std::printf("line string %d\n", __LINE__);
  // clang-format on
  std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
  const std::string mode = argc > 1 ? argv[1] : "--status";
  SetUnitTable(g_units, std::size(g_units));
  RunUnitInitializations();
  if (mode == "--status") {
    std::printf("active=%d replaced=%d options=%d\n", IsLeakCatcherActive() ? 1 : 0, IsDefaultMemoryManager() ? 0 : 1,
                ProcessLeakOptions());
  } else if (mode == "--sites") {
    Sites();
  } else if (mode == "--faults") {
    Faults();
  } else if (mode == "--leaks") {
    Leaks();
  } else if (mode == "--late") {
    TLeakCatcher* catcher = ProcessLeakCatcher();
    if (catcher)
      catcher->Handlers().Leak = [](const std::string& type, std::int64_t size, int count, const std::uintptr_t*) {
        std::printf("leak %s size=%lld count=%d\n", type.c_str(), static_cast<long long>(size), count);
        std::fflush(stdout);
      };
    g_late.block = new char[40];
  } else if (mode == "--shared" && argc > 2) {
    SetupSharedMemoryAllocator();
    HMODULE dll = LoadLibraryA(argv[2]);
    auto take =
        dll ? reinterpret_cast<void* (*)(void**)>(reinterpret_cast<void*>(GetProcAddress(dll, "SharedAllocatorBlock")))
            : nullptr;
    if (take) {
      void* entry = nullptr;
      char* block = static_cast<char*>(take(&entry));
      std::printf("dll allocates with the program's record: %s\n",
                  entry == reinterpret_cast<void*>(DefaultMemoryManager().Allocate) ? "yes" : "no");
      std::printf("block says %s\n", block);
      delete[] block;
      std::printf("freed here\n");
    } else {
      std::printf("no dll\n");
    }
  } else if (mode == "--dll-options" && argc > 2) {
    HMODULE dll = LoadLibraryA(argv[2]);
    auto options =
        dll ? reinterpret_cast<int (*)()>(reinterpret_cast<void*>(GetProcAddress(dll, "LeakOptionsOfDll"))) : nullptr;
    std::printf("dll options %d\n", options ? options() : -1);
  } else if (mode == "--report") {
    // Changed at run time: the leak report's restart takes the options as the program left them.
    CurrentVantorLogOptions()->SetCustomText(105, "Leaks found");
    std::printf("options file %s\n", DebugDataTempFilePath().c_str());
    ReportSteps().BuildReportText = &WriteReport;
    ReportSteps().ShowDialog = &NoDialog;
    FaultsAndLeaks();
  }
  std::fflush(stdout);
  RunUnitFinalizations();
  std::printf("end\n");
  std::fflush(stdout);
  return 0;
}
