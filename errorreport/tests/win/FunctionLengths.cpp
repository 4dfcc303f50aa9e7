// Loads a DLL, lists its exports and finds, for each exported function, the
// function that holds its first byte and its last byte before the return:
// prints "name<TAB>RVA<TAB>measured length<TAB>covers" ("yes" when the
// function holds every byte up to its return and not the byte after it).
#include <windows.h>

#include <cstdio>

#include "ECoreWin.h"
#include "EDebugWin.h"
#include "ELocation.h"
#include "ExceptionLogWin.h"

int main(int argc, char** argv) {
  if (argc != 2) return 2;
  InitECoreWin();
  InitEDebug();
  HMODULE dll = LoadLibraryA(argv[1]);
  if (!dll) return 3;
  TVantorModuleInfo entry;
  entry.Handle = reinterpret_cast<ModuleHandle>(dll);
  entry.Exports = New<TVantorFunctionsList>();
  ReadExportTable(dll, *entry.Exports);
  for (int i = 0; i < entry.Exports->Count(); ++i) {
    TVantorFunctionInfo* f = entry.Exports->Items(i);
    if (f->Flag != 0 || f->Address < entry.Handle || f->Address - entry.Handle > 0x100000) continue;
    int index = -1;
    if (!FindFunctionAt(entry, f->Address, index) || entry.Exports->Items(index) != f) {
      std::printf("%s\tnot found\n", f->Name.c_str());
      continue;
    }
    int last = -1, after = -1;
    const bool covers = FindFunctionAt(entry, f->Address + f->Length - 1, last) && last == index &&
                        !(FindFunctionAt(entry, f->Address + f->Length, after) && after == index);
    std::printf("%s\t%lX\t%u\t%s\n", f->Name.c_str(), static_cast<unsigned long>(f->Address - entry.Handle), f->Length,
                covers ? "yes" : "no");
  }
  std::printf("end\n");
  std::fflush(stdout);
  FreeAndNil(entry.Exports);
  DoneEDebug();
  return 0;
}
