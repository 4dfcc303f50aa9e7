// ListExports.exe DLL: loads the DLL and prints what ReadExportTable lists, one
// export a line: "name rva flag", with the address of a forwarded export
// checked against GetProcAddress of its target and printed as "forwarded".
#include <windows.h>

#include <cstdio>

#include "ECoreWin.h"
#include "ExceptionLogWin.h"

int main(int argc, char** argv) {
  if (argc != 2) return 2;
  UseWin32CoreSystem();
  HMODULE dll = LoadLibraryA(argv[1]);
  if (!dll) return 3;
  TOwned<TVantorFunctionsList> list(New<TVantorFunctionsList>());
  if (!ReadExportTable(dll, *list)) {
    std::printf("no exports\n");
    return 1;
  }
  const auto base = reinterpret_cast<std::uintptr_t>(dll);
  const auto ticks = reinterpret_cast<std::uintptr_t>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("kernel32.dll"), "GetTickCount")));
  std::uintptr_t last = 0;
  for (int i = 0; i < list->Count(); ++i) {
    const TVantorFunctionInfo* f = list->Items(i);
    if (f->Address < last) std::printf("not sorted\n");
    last = f->Address;
    if (f->Address == ticks)
      std::printf("%s forwarded\n", f->Name.c_str());
    else
      std::printf("%s %lx %u\n", f->Name.c_str(), static_cast<unsigned long>(f->Address - base), f->Flag);
  }
  std::printf("end\n");
  return 0;
}
