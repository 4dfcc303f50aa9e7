// The hand-over to the phone manager written to the real registry.
#include <windows.h>

#include <gtest/gtest.h>

#include <map>
#include <string>

#include "PhoneList.h"
#include "Registry.h"
#include "Win32Platform.h"

namespace {

const std::string kCommon = std::string(CorvessaOptionsKey) + "\\" + std::string(CorvessaCommonSection);

void SetValue(const char* name, DWORD type, const void* data, DWORD size) {
  HKEY key = nullptr;
  ASSERT_EQ(::RegCreateKeyExA(HKEY_CURRENT_USER, kCommon.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS,
                              nullptr, &key, nullptr),
            ERROR_SUCCESS);
  EXPECT_EQ(::RegSetValueExA(key, name, 0, type, static_cast<const BYTE*>(data), size), ERROR_SUCCESS);
  ::RegCloseKey(key);
}

void SetSz(const char* name, const std::string& text) {
  SetValue(name, REG_SZ, text.c_str(), static_cast<DWORD>(text.size() + 1));
}

// Every value of "Common": name -> text for REG_SZ, "<type N>" for the others.
std::map<std::string, std::string> CommonValues() {
  std::map<std::string, std::string> values;
  HKEY key = nullptr;
  if (::RegOpenKeyExA(HKEY_CURRENT_USER, kCommon.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return values;
  for (DWORD i = 0;; ++i) {
    char name[256];
    BYTE data[256];
    DWORD nameLen = sizeof name, dataLen = sizeof data, type = 0;
    if (::RegEnumValueA(key, i, name, &nameLen, nullptr, &type, data, &dataLen) != ERROR_SUCCESS) break;
    if (type == REG_SZ && dataLen > 0 && data[dataLen - 1] == 0)
      values[std::string(name, nameLen)] = std::string(reinterpret_cast<char*>(data), dataLen - 1);
    else
      values[std::string(name, nameLen)] = "<type " + std::to_string(type) + ">";
  }
  ::RegCloseKey(key);
  return values;
}

void RemoveKey() {
  TOwned<TRegistry> reg(New<TRegistry>());
  reg->DeleteKey("Software\\Talvex");
}

TEST(PhoneListWin, SaveConnectionsLeavesExactlyTheStringValues) {
  InitWin32Platform();
  RemoveKey();
  SetSz("COM1", "1");
  SetSz("COM9", "2");
  SetSz("IrDA", "1");
  SetSz("Language", "ENU");
  const DWORD one = 1;
  SetValue("AutoConnect", REG_DWORD, &one, sizeof one);

  TMobilePhones* phones = New<TMobilePhones>();
  const struct {
    std::uint8_t kind;
    std::int32_t port;
  } found[] = {{ConnDlr3Cable, 3}, {ConnBluetooth, 12}, {ConnDku2, 0}};
  for (const auto& f : found) {
    TPhone* p = New<TPhone>();
    p->Model = "6310i";
    p->Kind = f.kind;
    p->Port = f.port;
    phones->AddPhone(p);
  }
  SaveConnections(*phones);
  phones->Free();

  const std::map<std::string, std::string> expected = {
      {"COM3", "2"},
      {"COM12", "3"},
      {"IrDA", "0"},
      {"DKU-2", "1"},
      {"DKU-5", "0"},
      {"Language", "ENU"},
      {"AutoConnect", "<type 4>"},
  };
  EXPECT_EQ(CommonValues(), expected);
  RemoveKey();
}

}  // namespace
