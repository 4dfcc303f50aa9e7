#include "PhoneList.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "ForwardingRegistry.h"
#include "Registry.h"
#include "Strings.h"

namespace {

const std::string kCommon = std::string(CorvessaOptionsKey) + "\\" + std::string(CorvessaCommonSection);

RegValue Sz(std::string s) {
  s.push_back('\0');
  return RegValue{RegTypeSz, s};
}

RegValue Dword(std::uint32_t v) {
  std::string d(4, '\0');
  for (std::size_t i = 0; i < 4; ++i) d[i] = static_cast<char>((v >> (8 * i)) & 0xFF);
  return RegValue{RegTypeDword, d};
}

// A registry whose n-th value write or delete fails (0: none fails); it also
// counts the changes it let through.
class FaultyRegistry : public TForwardingRegistry {
 public:
  long SetValue(RegKey key, std::string_view name, const RegValue& value) override {
    if (++changes == failAt) return RegAccessDenied;
    return TForwardingRegistry::SetValue(key, name, value);
  }
  long DeleteValue(RegKey key, std::string_view name) override {
    if (++changes == failAt) return RegAccessDenied;
    return TForwardingRegistry::DeleteValue(key, name);
  }

  int failAt = 0;
  int changes = 0;
};

void Put(RegistryBackend& reg, const std::string& path, std::string_view name, const RegValue& value) {
  RegKey key = 0;
  ASSERT_EQ(reg.OpenKey(RegCurrentUser, path, RegKeyAllAccess, true, key), RegOk);
  EXPECT_EQ(reg.SetValue(key, name, value), RegOk);
  reg.CloseKey(key);
}

// The values of a key as name -> text; a value that is not REG_SZ shows its type.
std::map<std::string, std::string> Values(RegistryBackend& reg, const std::string& path = kCommon) {
  std::map<std::string, std::string> result;
  RegKey key = 0;
  if (reg.OpenKey(RegCurrentUser, path, RegKeyRead, false, key) != RegOk) return result;
  std::vector<std::string> names;
  reg.EnumValues(key, names);
  for (const std::string& n : names) {
    RegValue v;
    reg.QueryValue(key, n, v);
    if (v.type == RegTypeSz && !v.data.empty() && v.data.back() == '\0')
      result[n] = v.data.substr(0, v.data.size() - 1);
    else
      result[n] = "<type " + std::to_string(v.type) + ">";
  }
  reg.CloseKey(key);
  return result;
}

TPhone* NewPhone(std::uint8_t kind, std::int32_t port, const char* model = "6310") {
  TPhone* p = New<TPhone>();
  p->Model = model;
  p->IMEI = "350000000000001";
  p->SWVersion = "V 5.10";
  p->Kind = kind;
  p->Port = port;
  return p;
}

struct PhoneSpec {
  std::uint8_t kind;
  std::int32_t port;
};

TMobilePhones* NewList(const std::vector<PhoneSpec>& specs) {
  TMobilePhones* list = New<TMobilePhones>();
  for (const PhoneSpec& s : specs) list->AddPhone(NewPhone(s.kind, s.port));
  return list;
}

// What an earlier wizard run and other programs left in "Common".
void SeedOldSettings(RegistryBackend& reg) {
  Put(reg, kCommon, "COM1", Sz("1"));
  Put(reg, kCommon, "COM7", Sz("3"));
  Put(reg, kCommon, "com9", Sz("2"));     // names compare without case
  Put(reg, kCommon, "COM255", Dword(1));  // any type goes
  Put(reg, kCommon, "COM256", Sz("1"));   // beyond the cleared range
  Put(reg, kCommon, "COM09", Sz("1"));    // not a name the wizard writes
  Put(reg, kCommon, "IrDA", Sz("1"));
  Put(reg, kCommon, "DKU-2", Sz("0"));
  Put(reg, kCommon, "DKU-5", Sz("1"));
  Put(reg, kCommon, "Language", Sz("ENU"));
  Put(reg, kCommon, "AutoConnect", Dword(1));
  Put(reg, std::string(CorvessaOptionsKey) + "\\Sync", "COM3", Sz("9"));  // another section
}

TEST(MobilePhones, AddAndRead) {
  TMobilePhones* list = New<TMobilePhones>();
  EXPECT_EQ(list->PhoneCount(), 0);
  EXPECT_EQ(list->AddPhone(nullptr), -1);
  EXPECT_EQ(list->PhoneCount(), 0);
  TPhone* a = NewPhone(ConnDlr3Cable, 3);
  TPhone* b = NewPhone(ConnIrDA, 0, "6230");
  EXPECT_EQ(list->AddPhone(a), 0);
  EXPECT_EQ(list->AddPhone(b), 1);
  EXPECT_EQ(list->AddPhone(a), 2);  // the same phone again is a second entry
  EXPECT_EQ(list->AddPhone(nullptr), -1);
  EXPECT_EQ(list->PhoneCount(), 3);
  EXPECT_EQ(list->PhoneAt(0), a);
  EXPECT_EQ(list->PhoneAt(1), b);
  EXPECT_EQ(list->PhoneAt(2), a);
  EXPECT_THROW(list->PhoneAt(3), EListError);
  EXPECT_THROW(list->PhoneAt(-1), EListError);
  list->Free();  // frees each phone once
}

TEST(SaveConnections, WritesExactlyTheFoundConnections) {
  using Map = std::map<std::string, std::string>;
  struct Case {
    const char* what;
    std::vector<PhoneSpec> phones;
    Map expected;  // "Common" on an empty registry
  };
  const Case cases[] = {
      {"one DLR-3 phone on COM3", {{ConnDlr3Cable, 3}}, {{"COM3", "2"}, {"IrDA", "0"}, {"DKU-2", "0"}, {"DKU-5", "0"}}},
      {"IrDA and DKU-2", {{ConnIrDA, 0}, {ConnDku2, 0}}, {{"IrDA", "1"}, {"DKU-2", "1"}, {"DKU-5", "0"}}},
      {"Bluetooth on COM12", {{ConnBluetooth, 12}}, {{"COM12", "3"}, {"IrDA", "0"}, {"DKU-2", "0"}, {"DKU-5", "0"}}},
      {"DKU-5 and an FBUS cable",
       {{ConnDku5, 5}, {ConnFbusCable, 1}},
       {{"COM1", "1"}, {"IrDA", "0"}, {"DKU-2", "0"}, {"DKU-5", "1"}}},
      {"a later phone on the same port wins",
       {{ConnFbusCable, 4}, {ConnBluetooth, 4}},
       {{"COM4", "3"}, {"IrDA", "0"}, {"DKU-2", "0"}, {"DKU-5", "0"}}},
      {"unknown kinds write nothing of their own",
       {{ConnNone, 2}, {7, 3}},
       {{"IrDA", "0"}, {"DKU-2", "0"}, {"DKU-5", "0"}}},
  };
  for (const Case& c : cases) {
    MemoryRegistryBackend reg;
    TMobilePhones* list = NewList(c.phones);
    SaveConnections(*list, &reg);
    list->Free();
    EXPECT_EQ(Values(reg), c.expected) << c.what;
    EXPECT_EQ(reg.OpenHandleCount(), 0u) << c.what;
  }
}

TEST(SaveConnections, ReplacesOnlyThePortValuesAndFlags) {
  MemoryRegistryBackend reg;
  SeedOldSettings(reg);
  TMobilePhones* list = NewList({{ConnDlr3Cable, 7}, {ConnBluetooth, 12}});
  SaveConnections(*list, &reg);
  list->Free();
  const std::map<std::string, std::string> expected = {
      {"COM7", "2"},  {"COM12", "3"},      {"COM256", "1"},
      {"COM09", "1"}, {"IrDA", "0"},       {"DKU-2", "0"},
      {"DKU-5", "0"}, {"Language", "ENU"}, {"AutoConnect", "<type 4>"},
  };
  EXPECT_EQ(Values(reg), expected);
  EXPECT_EQ(Values(reg, std::string(CorvessaOptionsKey) + "\\Sync"),
            (std::map<std::string, std::string>{{"COM3", "9"}}));
  EXPECT_EQ(reg.OpenHandleCount(), 0u);
}

TEST(SaveConnections, FailureAnywhereLosesNoEarlierValue) {
  TOwned<TMobilePhones> list(NewList({{ConnDlr3Cable, 3}, {ConnIrDA, 0}, {ConnBluetooth, 7}}));
  MemoryRegistryBackend ref;
  SeedOldSettings(ref);
  const auto before = Values(ref);
  SaveConnections(*list, &ref);
  const auto after = Values(ref);

  // Fail each change in turn: writes first, then the removal of stale values.
  int failures = 0;
  for (int failAt = 1;; ++failAt) {
    FaultyRegistry reg;
    SeedOldSettings(reg.mem);
    reg.failAt = failAt;
    bool failed = false;
    try {
      SaveConnections(*list, &reg);
    } catch (const ERegistryException&) {
      failed = true;
    }
    if (!failed) {
      EXPECT_EQ(Values(reg.mem), after);
      break;
    }
    ++failures;
    const auto now = Values(reg.mem);
    // Stale port values may go only once every new value is in place.
    bool allWritten = true;
    for (const auto& [name, value] : after) allWritten = allWritten && now.count(name) && now.at(name) == value;
    for (const auto& [name, old] : before) {
      auto it = now.find(name);
      if (it == now.end()) {
        EXPECT_TRUE(allWritten && !after.count(name)) << name << " lost when change " << failAt << " failed";
        continue;
      }
      auto wanted = after.find(name);
      EXPECT_TRUE(it->second == old || (wanted != after.end() && it->second == wanted->second))
          << name << " = " << it->second << " when change " << failAt << " failed";
    }
    // Nothing appears that the finished save would not hold.
    for (const auto& [name, value] : now)
      EXPECT_TRUE(before.count(name) || (after.count(name) && after.at(name) == value)) << name;
    EXPECT_EQ(reg.mem.OpenHandleCount(), 0u);
    if (failAt > 100) break;
  }
  // Five writes (IrDA, DKU-2, DKU-5, COM3, COM7), then three removals (COM1, com9, COM255).
  EXPECT_EQ(failures, 8);
}

TEST(SaveConnections, KeyThatCannotBeOpenedRaises) {
  // A registry that refuses every write: the options key cannot be created.
  class ReadOnlyRegistry : public FaultyRegistry {
   public:
    long OpenKey(RegKey parent, std::string_view subKey, std::uint32_t access, bool create, RegKey& out) override {
      if (create || (access & RegKeySetValue)) return RegAccessDenied;
      return mem.OpenKey(parent, subKey, access, create, out);
    }
  } reg;
  SeedOldSettings(reg.mem);
  const auto before = Values(reg.mem);
  TMobilePhones* list = NewList({{ConnFbusCable, 2}});
  EXPECT_THROW(SaveConnections(*list, &reg), ERegistryException);
  list->Free();
  EXPECT_EQ(Values(reg.mem), before);
}

TEST(ClearSavedConnections, ClearsPortsAndFlags) {
  ClearSavedConnections(nullptr);  // nothing to do

  MemoryRegistryBackend reg;
  SeedOldSettings(reg);
  TRegistryIniFile* ini = New<TRegistryIniFile>(std::string(CorvessaOptionsKey), RegKeyAllAccess, RegCurrentUser, &reg);
  ClearSavedConnections(ini);
  ini->Free();
  const std::map<std::string, std::string> expected = {
      {"COM256", "1"},
      {"COM09", "1"},
      {"IrDA", "0"},
      {"DKU-2", "0"},
      {"DKU-5", "0"},
      {"Language", "ENU"},
      {"AutoConnect", "<type 4>"},
  };
  EXPECT_EQ(Values(reg), expected);
}

}  // namespace
