// The system's loader behind the language-library swap: libraries are loaded
// as data files and freed again.
#pragma once

#include "LocUtils.h"

class TWinLibraryLoader : public TLibraryLoader {
 public:
  ModuleHandle LoadDataFile(const std::string& path) override;
  void FreeLibrary(ModuleHandle module) override;
  std::string ModuleFileName(ModuleHandle module) override;
};

// Installs the system's loader for the global TJLocUtils and makes it (the
// unit's initialization); DoneLocUtils is its finalization.
void InitWinLocUtils();
