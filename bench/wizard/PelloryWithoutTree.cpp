// The program without the tree view's unit, for the start-up benchmark: the
// same unit table with the tree view's entry emptied before it runs.
#include <windows.h>

#include <cstring>

#include "Pellory.h"
#include "Units.h"

namespace {

// Runs as part of the unit initializations, before the tree view's entry.
void DropTreeViewUnit() {
  UnitEntry* units = UnitTableEntries();
  for (std::size_t i = 0; i < UnitTableCount(); ++i)
    if (std::strcmp(units[i].name, "VirtualTrees") == 0) units[i].init = units[i].fini = nullptr;
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  return RunPellory(DropTreeViewUnit);
}
