// The advapi32 registry backend behind TRegistry and TRegistryIniFile.
#pragma once

#include <windows.h>

#include "Registry.h"

// Makes the advapi32 backend the process's registry backend (or removes it).
// Called by InitWin32Platform.
void InstallWin32RegistryBackend(bool install);

// Key paths and value names are ANSI; predefined roots use their HKEY numbers
// (sign-extended on 64-bit Windows, as the system defines them).
class Win32RegistryBackend : public RegistryBackend {
 public:
  long OpenKey(RegKey parent, std::string_view subKey, std::uint32_t access, bool create, RegKey& out) override;
  void CloseKey(RegKey key) override;
  long DeleteKey(RegKey parent, std::string_view subKey) override;
  long EnumKeys(RegKey key, std::vector<std::string>& names) override;
  long EnumValues(RegKey key, std::vector<std::string>& names) override;
  long QueryValue(RegKey key, std::string_view name, RegValue& out) override;
  long SetValue(RegKey key, std::string_view name, const RegValue& value) override;
  long DeleteValue(RegKey key, std::string_view name) override;
};
