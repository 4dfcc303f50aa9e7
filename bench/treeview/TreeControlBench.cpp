// The tree control under Wine: the same figures as the core's, on the core
// of a TBaseVirtualTree, with the memory per node taken from the process's
// private bytes.
#include <windows.h>

#include "TreeBenchBody.h"
#include "VirtualTreesWin.h"
#include "Win32Platform.h"

namespace {

// The committed private memory of the process, summed over its regions
// (Wine keeps the counters of GetProcessMemoryInfo at 0).
std::int64_t PrivateBytes() {
  std::int64_t total = 0;
  SYSTEM_INFO system;
  GetSystemInfo(&system);
  auto* address = static_cast<char*>(system.lpMinimumApplicationAddress);
  MEMORY_BASIC_INFORMATION region;
  while (address < static_cast<char*>(system.lpMaximumApplicationAddress) &&
         VirtualQuery(address, &region, sizeof region) == sizeof region) {
    if (region.State == MEM_COMMIT && region.Type == MEM_PRIVATE) total += std::int64_t(region.RegionSize);
    address = static_cast<char*>(region.BaseAddress) + region.RegionSize;
  }
  return total;
}

}  // namespace

int main() {
  InitWin32Platform();
  InitVirtualTrees();
  TBaseVirtualTree* tree = New<TBaseVirtualTree>(nullptr);
  treebench::Run(tree->Tree(), sizeof(void*) == 4 ? "control (win32, wine)" : "control (win64, wine)", PrivateBytes);
  tree->Free();
  DoneVirtualTrees();
  return 0;
}
