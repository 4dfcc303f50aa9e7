// Names the return addresses of its own calls in-process: each function of
// LocationShapes.cpp and LocationMath.cpp calls ReportCaller, which prints
// the location that LocateAddress gives for its return address, as
// "at=RVA<TAB>kind<TAB>unit<TAB>Class::Procedure<TAB>line<TAB>caller" ("-" for
// an empty name); the test compares
// each with addr2line on the program file. "--symbol ID" prints the address
// of a special symbol of the program's own data block and of the function it
// should name. "--password PW" makes the program's password-request
// callback answer PW when the library reads the block.
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "ECoreWin.h"
#include "EDebugWin.h"
#include "EEvents.h"
#include "ELocation.h"
#include "ExceptionLogWin.h"
#include "LocationProbe.h"

extern "C" IMAGE_DOS_HEADER __ImageBase;

static const char* Field(const std::string& s) {
  return s.empty() ? "-" : s.c_str();
}

__attribute__((noinline)) void ReportCaller(const char* tag) {
  const auto address = reinterpret_cast<std::uintptr_t>(__builtin_return_address(0));
  TVLLocationInfo l;
  LocateAddress(address, static_cast<std::int32_t>(GetCurrentThreadId()), l);
  const std::string name = l.ClassName.empty() ? l.ProcedureName : l.ClassName + "::" + l.ProcedureName;
  std::printf("at=%llX\t%d\t%s\t%s\t%d\t%s\n",
              static_cast<unsigned long long>(address - reinterpret_cast<std::uintptr_t>(&__ImageBase)), l.Kind,
              Field(l.UnitName), Field(name), l.Line, tag);
}

static std::string g_password;

static void AnswerPassword(const TVantorExceptionRecord&, std::string& password) {
  password = g_password;
}

int main(int argc, char** argv) {
  if (argc == 3 && std::strcmp(argv[1], "--password") == 0) {
    g_password = argv[2];
    VantorLogCallbacks().PasswordRequest = &AnswerPassword;
  }
  InitECoreWin();
  InitEDebug();
  HMODULE self = reinterpret_cast<HMODULE>(&__ImageBase);
  char file[MAX_PATH];
  GetModuleFileNameA(self, file, MAX_PATH);
  BuildModuleEntry(self, file, true);
  TVantorModuleInfo* entry =
      VantorModulesList() ? VantorModulesList()->FindModule(reinterpret_cast<ModuleHandle>(self)) : nullptr;
  std::printf("block=%s version=%u\n", entry && entry->DebugData ? "yes" : "no", entry ? entry->DataVersion : 0u);
  if (argc == 3 && std::strcmp(argv[1], "--symbol") == 0) {
    const void* symbol = GetDataBlockSymbolAddress(static_cast<std::uint8_t>(std::atoi(argv[2])));
    std::printf("symbol=%p scale=%p report=%p\n", symbol, reinterpret_cast<const void*>(&mathx::Scale),
                reinterpret_cast<const void*>(&ReportCaller));
  }
  shapes::Circle c(3);
  shapes::Square s;
  int total = c.Area() + c.Grow(1) + s.Area() + mathx::SumTo(7) + mathx::Scale(4, 5);
  std::printf("total=%d\nend\n", total);
  std::fflush(stdout);
  DoneEDebug();
  return 0;
}
