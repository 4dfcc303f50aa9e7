// The system side of the on-the-fly localizer: its error box, owned by the
// main form's window, and the walk over the process's modules with their
// "SwitchToFile" and "BackToModuleRes" exports.
#pragma once

#include "LocOnFly.h"

class TWinLocOnFlyPlatform : public TLocOnFlyPlatform {
 public:
  void ShowErrorBox(const std::string& message, const std::string& caption) override;
  // A tool-help module snapshot of this process, or the process-status
  // enumeration on the NT line before 5.0.
  std::vector<ModuleHandle> ProcessModules() override;
  bool HasExport(ModuleHandle module, const char* name) override;
  bool SwitchToFile(ModuleHandle module, const std::string& path, TSwitchRecord& record) override;
  void BackToModuleRes(ModuleHandle module) override;
  // True on the NT line before 5.0, where the walk uses the process-status
  // enumeration.
  static bool UsesProcessStatus();
  // The walk's two roads, for tests.
  static std::vector<ModuleHandle> SnapshotModules();
  static std::vector<ModuleHandle> ProcessStatusModules();
};

// The unit's initialization: installs the system side and the screen's forms,
// then makes the global localizer (after InitWinLocUtils). DoneLocOnFly is its
// finalization.
void InitWinLocOnFly();
