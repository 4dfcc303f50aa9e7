// Test helpers: seeding an in-memory registry, a backend that refuses what a
// standard user may not do, and a platform-line switch for one test.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <string_view>

#include "ForwardingRegistry.h"
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
class StandardUserRegistry : public TForwardingRegistry {
 public:
  long OpenKey(RegKey parent, std::string_view subKey, std::uint32_t access, bool create, RegKey& out) override {
    ++opens;
    if (parent == RegLocalMachine && (access & ~RegKeyRead) != 0) {
      ++refused;
      out = 0;
      return RegAccessDenied;
    }
    return TForwardingRegistry::OpenKey(parent, subKey, access, create, out);
  }

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
