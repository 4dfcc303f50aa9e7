// A registry double that hands every call to an in-memory registry. Tests
// derive from it and override only the calls they make fail or count.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "Registry.h"

class TForwardingRegistry : public RegistryBackend {
 public:
  long OpenKey(RegKey parent, std::string_view subKey, std::uint32_t access, bool create, RegKey& out) override {
    return mem.OpenKey(parent, subKey, access, create, out);
  }
  void CloseKey(RegKey key) override { mem.CloseKey(key); }
  long DeleteKey(RegKey parent, std::string_view subKey) override { return mem.DeleteKey(parent, subKey); }
  long EnumKeys(RegKey key, std::vector<std::string>& names) override { return mem.EnumKeys(key, names); }
  long EnumValues(RegKey key, std::vector<std::string>& names) override { return mem.EnumValues(key, names); }
  long QueryValue(RegKey key, std::string_view name, RegValue& out) override { return mem.QueryValue(key, name, out); }
  long SetValue(RegKey key, std::string_view name, const RegValue& value) override {
    return mem.SetValue(key, name, value);
  }
  long DeleteValue(RegKey key, std::string_view name) override { return mem.DeleteValue(key, name); }

  MemoryRegistryBackend mem;  // the registry behind the double; seed through this one
};
