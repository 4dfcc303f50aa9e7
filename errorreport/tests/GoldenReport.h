// The fixtures of the report builder's checks and benchmark: a fake code
// image of two procedures (and Main, in the golden report's image), their
// locations by procedure, and the golden report's whole input: exception,
// registers, stack, two threads, three modules, two processes, fixed
// probes and clock.
#pragma once

#include <cstdint>
#include <cstring>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include "ECallStack.h"
#include "EHook.h"
#include "EReportBuilder.h"
#include "ExceptionLog.h"
#include "Scope.h"

namespace report_fixtures {

using Bytes = std::vector<std::uint8_t>;

constexpr std::uint32_t kImage = 0x00401000;

struct Procedure {
  std::uint32_t start, end;
  const char* unit;
  const char* className;
  const char* name;
  int firstLine;
};

// Locations by procedure; each instruction's line is the procedure's first line plus its index.
struct FakeDebug {
  std::vector<Procedure> procedures;
  std::map<std::uint32_t, int> lines;  // address -> line offset within the procedure
  bool Locate(std::uint32_t address, TVLLocationInfo& location) const {
    for (const Procedure& p : procedures) {
      if (address < p.start || address >= p.end) continue;
      location.Kind = 4;
      location.UnitName = p.unit;
      location.ClassName = p.className;
      location.ProcedureName = p.name;
      auto it = lines.upper_bound(address);
      const int offset = it == lines.begin() ? 0 : std::prev(it)->second;
      location.Line = p.firstLine + offset;
      location.LineInProcedure = offset;
      return true;
    }
    return false;
  }
};

inline Bytes TwoProcedures() {
  return {
      0x55,                                // 401000 push ebp            Helper
      0x8B, 0xEC,                          // 401001 mov ebp, esp
      0x33, 0xC0,                          // 401003 xor eax, eax
      0x5D,                                // 401005 pop ebp
      0xC3,                                // 401006 ret
      0x90,                                // 401007 nop
      0x55,                                // 401008 push ebp            Button1Click
      0x8B, 0xEC,                          // 401009 mov ebp, esp
      0xE8, 0xF0, 0xFF, 0xFF, 0xFF,        // 40100B call 401000
      0xB8, 0x00, 0x20, 0x40, 0x00,        // 401010 mov eax, $00402000 (a string)
      0xC7, 0x00, 0x00, 0x00, 0x00, 0x00,  // 401015 mov dword ptr [eax], 0   <- fault
      0x5D,                                // 40101B pop ebp
      0xC3,                                // 40101C ret
      0x90, 0x90, 0x90,                    // 40101D
  };
}

class FixedProbes : public ReportProbes {
 public:
  TReportHeaderFacts facts;
  void Collect(TReportHeaderFacts& out) override { out = facts; }
};

class FixedClock : public ReportClock {
 public:
  double Now() override { return 46001.5 + 3723.0 / 86400.0; }  // 2025-12-10 13:02:03
  std::int32_t BiasMinutes() override { return 60; }
};

class FixedGroupFacts : public StackGroupFacts {
 public:
  std::int32_t ThreadPriority(const TVantorThreadInfo& record) override { return record.ThreadId == 100 ? 0 : 2; }
  std::string ThreadClassName(const TObject*) override { return std::string(); }
};

inline TReportHeaderFacts GoldenFacts() {
  TReportHeaderFacts f;
  f.StartTime = 46001.5;  // 2025-12-10 12:00:00
  f.ApplicationTitle = "Sample Application";
  f.ApplicationVersion = "1.2.3.4";
  f.Parameters = "/debug";
  f.CompilationDate = "Wed, 10 Dec 2025 09:00:00 +0100";
  f.ExceptionModuleTitle = "sample.exe";
  f.ExceptionModuleVersion = "1.2.3.4";
  f.ExceptionClassText = "EAccessViolation";
  f.ExceptionMessageText = "Access violation at address 00401015 in module 'sample.exe'. Write of address 00000000.";
  f.UserId = "alice";
  f.UserName = "Alice Example";
  f.UserEmail = "alice@example.org";
  f.Company = "Example Ltd";
  f.Privileges = "SeShutdownPrivilege\r\nSeChangeNotifyPrivilege";
  f.FormClass = "TForm1";
  f.FormText = "Main\tWindow";
  f.ComputerName = "WORKSTATION";
  f.TotalMemory = 4096ull * 1048576;
  f.FreeMemory = 1234ull * 1048576 + 5;
  f.TotalDisk = 250ull * 1073741824 + 1073741824 / 4;
  f.FreeDisk = 1073741824ull * 3;
  f.TickCount = 90061000;  // 1 day, 1 hour, 1 minute, 1 second
  f.Processor = "Example CPU 3.0 GHz";
  f.ScreenWidth = 1920;
  f.ScreenHeight = 1080;
  f.BitsPerPixel = 32;
  f.DisplayDpi = 96;
  f.VideoCard = "Example Graphics";
  f.Printer = "Office Printer";
  f.OsType = "Windows XP";
  f.OsBuild = "2600";
  f.OsUpdate = " Service Pack 3 ";
  f.Language = "English";
  f.Charset = 0;
  f.IpAddress = "192.168.1.10";
  f.Submask = "255.255.255.0";
  f.Gateway = "192.168.1.1";
  f.Dns1 = "192.168.1.1";
  f.Dns2 = "";
  f.Dhcp = "On";
  return f;
}

// The code image: Helper and TForm1.Button1Click (as above), then Main at
// 0x401020, which calls Button1Click; padded to 512 bytes with int3.
inline Bytes GoldenImage() {
  Bytes code = TwoProcedures();
  const Bytes main = {
      0x55,                          // 401020 push ebp                 Main
      0x8B, 0xEC,                    // 401021 mov ebp, esp
      0xE8, 0xE0, 0xFF, 0xFF, 0xFF,  // 401023 call 401008
      0x5D,                          // 401028 pop ebp
      0xC3,                          // 401029 ret
  };
  code.insert(code.end(), main.begin(), main.end());
  code.resize(512, 0xCC);
  return code;
}

struct GoldenReport {
  RegionMemoryReader memory;
  FakeDebug debug;
  FixedProbes probes;
  FixedClock clock;
  FixedGroupFacts groupFacts;
  TReportRegisters registers{0x00000000, 0x0012FFB0, 0x7FFDF000, 0x00000001,
                             0x0012FF60, 0x0012FF00, 0x00402000, 0x00401015};
  TOwned<TVantorModuleOptions> options{New<TVantorModuleOptions>("")};
  TOwned<TVantorStackList> stack{New<TVantorStackList>()};
  TOwned<TVantorThreadsList> threads{New<TVantorThreadsList>()};
  TOwned<TVantorModulesList> modules{New<TVantorModulesList>()};
  TOwned<TVantorProcessesList> processes{New<TVantorProcessesList>()};
  TTextReportFrame frame;

  GoldenReport() {
    memory.AddRegion(kImage, GoldenImage());
    memory.AddRegion(0x402000, {'H', 'e', 'l', 'l', 'o', '\n', 0});
    // The stack: Button1Click's saved frame and its return into Main, then Main's.
    Bytes stackBytes(128, 0);
    const std::uint32_t dwords[] = {0x0012FF10, 0x00401028, 0x0012FF20, 0x00401050, 0x00000001, 0x0012FF60};
    std::memcpy(stackBytes.data(), dwords, sizeof dwords);
    memory.AddRegion(0x0012FF00, stackBytes);
    debug.procedures = {{0x401000, 0x401008, "Unit1.pas", "", "Helper", 20},
                        {0x401008, 0x40101D, "Unit1.pas", "TForm1", "Button1Click", 30},
                        {0x401020, 0x40102A, "Sample.dpr", "", "Main", 10}};
    debug.lines = {{0x401000, 0}, {0x401003, 1}, {0x401005, 2}, {0x401008, 0}, {0x40100B, 1},
                   {0x401015, 2}, {0x40101B, 3}, {0x401020, 0}, {0x401023, 1}, {0x401028, 2}};
    probes.facts = GoldenFacts();

    auto* exe = new TVantorModuleInfo;
    exe->Handle = 0x00400000;
    exe->FileName = "C:\\Program Files\\Sample\\sample.exe";
    exe->Description = "Sample Application";
    exe->Version = "1.2.3.4";
    exe->FileSize = 524288;
    exe->FileTime = 46000.375;
    modules->AddModule(exe);
    auto* kernel = new TVantorModuleInfo;
    kernel->Handle = 0x7C800000;
    kernel->FileName = "C:\\WINDOWS\\system32\\kernel32.dll";
    kernel->Description = "Windows NT BASE API Client DLL";
    kernel->Version = "5.1.2600.5781";
    kernel->FileSize = 989696;
    kernel->FileTime = 39904.5;
    modules->AddModule(kernel);
    auto* user = new TVantorModuleInfo;
    user->Handle = 0x7E410000;
    user->FileName = "C:\\WINDOWS\\system32\\user32.dll";
    user->Description = "Windows XP USER API Client DLL";
    user->Version = "5.1.2600.5512";
    user->FileSize = 580096;
    user->FileTime = 39553.25;
    modules->AddModule(user);

    auto* self = new TVantorProcessInfo;
    self->ProcessId = 1234;
    self->FileName = "C:\\Program Files\\Sample\\sample.exe";
    self->Description = "Sample Application";
    self->Version = "1.2.3.4";
    self->PriorityClass = 0x20;
    self->Memory = 8192000;
    self->Threads = 2;
    processes->AddProcess(self);
    auto* shell = new TVantorProcessInfo;
    shell->ProcessId = 1580;
    shell->FileName = "C:\\WINDOWS\\explorer.exe";
    shell->Description = "Windows Explorer";
    shell->Version = "6.0.2900.5512";
    shell->PriorityClass = 0x20;
    shell->Memory = 20480000;
    shell->Threads = 14;
    processes->AddProcess(shell);

    for (std::uint32_t id : {100u, 200u}) threads->NewThreadInfo(true)->ThreadId = id;

    // The exception thread: the fault in Button1Click, the return into Main;
    // the running thread: in Helper.
    AddEntry(0x401015, 100, true, true);
    AddEntry(0x401028, 100, true, false);
    AddEntry(0x401003, 200, false, true);

    frame.Options = options.get();
    frame.Sources.Memory = &memory;
    frame.Sources.Locate = [this](std::uint32_t a, TVLLocationInfo& l) { return debug.Locate(a, l); };
    frame.Address = 0x401015;
    frame.Registers = &registers;
    frame.StackPointer = 0x0012FF00;
    frame.CallStack = stack.get();
    frame.Threads = threads.get();
    frame.GroupFacts = &groupFacts;
    frame.Modules = modules.get();
    frame.Processes = processes.get();
    frame.Probes = &probes;
    frame.Clock = &clock;
    frame.FocusClass = "TButton";
    frame.FocusText = "&Crash\r\nnow";
    frame.BugId = "4F2A";
  }

  void AddEntry(std::uint32_t address, std::int32_t thread, bool faulting, bool first) {
    auto* e = new TVLLocationInfo;
    debug.Locate(address, *e);
    e->Module = modules->Items(0);
    e->Address = address;
    e->ThreadId = thread;
    e->FaultingThread = faulting ? 1 : 0;
    e->FirstEntry = first ? 1 : 0;
    stack->AddEntry(e);
  }

  // The threads are no process's: none of them is taken for the main thread,
  // whatever an earlier test left as the library's main thread.
  std::string Build() {
    const std::uint32_t savedMain = VantorLogFlags().MainThreadId;
    VantorLogFlags().MainThreadId = 0;
    TScopeExit restore([&] { VantorLogFlags().MainThreadId = savedMain; });
    TReportTexts texts;
    return BuildTextReport(frame, texts);
  }
};

}  // namespace report_fixtures
