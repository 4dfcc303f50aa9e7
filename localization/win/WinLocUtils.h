// The system's loader behind the language-library swap: libraries are loaded
// as data files and freed again.
#pragma once

#include <map>
#include <mutex>
#include <string>

#include "LocUtils.h"

class TWinLibraryLoader : public TLibraryLoader {
 public:
  ModuleHandle LoadDataFile(const std::string& path) override;
  void FreeLibrary(ModuleHandle module) override;
  // The system's name of the module; for a library this loader loaded as a
  // data file (the system knows no name for those) the path it was loaded from.
  std::string ModuleFileName(ModuleHandle module) override;

 private:
  std::mutex lock_;
  std::map<ModuleHandle, std::string> dataFiles_;
};

// Installs the system's loader for the global TJLocUtils and makes it (the
// unit's initialization); DoneLocUtils is its finalization.
void InitWinLocUtils();
