// A module that takes the program's allocator: it sets up the shared
// allocator (finding the class the program registered), then hands out a
// block of its own allocation and the allocate entry it now uses. Its data
// block asks for the main module's leak options: LeakOptionsOfDll starts its
// leak catcher and gives the options it took.
#include <windows.h>

#include "ELeaksWin.h"
#include "MemoryManager.h"

extern "C" __declspec(dllexport) void* SharedAllocatorBlock(void** allocateEntry) {
  SetupSharedMemoryAllocator();
  TMemoryManager manager{};
  GetMemoryManager(manager);
  *allocateEntry = reinterpret_cast<void*>(manager.Allocate);
  return new char[32]{'s', 'h', 'a', 'r', 'e', 'd'};
}

extern "C" __declspec(dllexport) int LeakOptionsOfDll() {
  InitELeaks();
  return ProcessLeakOptions() | (IsLeakCatcherActive() ? 0x100 : 0);
}
