// Test helpers: seeding an in-memory registry, a backend that refuses what a
// standard user may not do, and a platform-line switch for one test.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <string_view>

#include "Registry.h"
#include "SerialPorts.h"

inline RegValue Sz(std::string s) {
  s.push_back('\0');
  return RegValue{RegTypeSz, s};
}

inline RegValue Dword(std::uint32_t v) {
  std::string d(4, '\0');
  for (std::size_t i = 0; i < 4; ++i) d[i] = static_cast<char>((v >> (8 * i)) & 0xFF);
  return RegValue{RegTypeDword, d};
}

inline void PutValue(RegistryBackend& reg, RegKey root, std::string_view path, std::string_view name,
                     const RegValue& value) {
  RegKey key = 0;
  ASSERT_EQ(reg.OpenKey(root, path, RegKeyAllAccess, true, key), RegOk) << path;
  EXPECT_EQ(reg.SetValue(key, name, value), RegOk) << path << "\\" << name;
  reg.CloseKey(key);
}

inline void PutKey(RegistryBackend& reg, RegKey root, std::string_view path) {
  RegKey key = 0;
  ASSERT_EQ(reg.OpenKey(root, path, RegKeyAllAccess, true, key), RegOk) << path;
  reg.CloseKey(key);
}

// A registry as a standard user sees HKEY_LOCAL_MACHINE: keys there open for
// reading only; asking for more is refused with access denied.
class StandardUserRegistry : public RegistryBackend {
 public:
  long OpenKey(RegKey parent, std::string_view subKey, std::uint32_t access, bool create, RegKey& out) override {
    ++opens;
    if (parent == RegLocalMachine && (access & ~RegKeyRead) != 0) {
      ++refused;
      out = 0;
      return RegAccessDenied;
    }
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

  MemoryRegistryBackend mem;  // seed through this one
  int opens = 0;
  int refused = 0;
};

// Runs one test on the given platform line.
class PlatformScope {
 public:
  explicit PlatformScope(int id) : old_(GetPlatformId()) { SetPlatformId(id); }
  ~PlatformScope() { SetPlatformId(old_); }
  PlatformScope(const PlatformScope&) = delete;
  PlatformScope& operator=(const PlatformScope&) = delete;

 private:
  int old_;
};
