// The serial-port list and the DKU-5 port list read from the real registry:
// keys seeded with advapi32, read through the framework's registry backend.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "Dku5Ports.h"
#include "PlatformIdWin.h"
#include "Registry.h"
#include "SerialPorts.h"
#include "Strings.h"
#include "Win32Platform.h"

namespace {

const char* const kMap = "HARDWARE\\DEVICEMAP\\SERIALCOMM";
const char* const kEnum = "SYSTEM\\CurrentControlSet\\Enum";
const std::string kTestTree = std::string(kEnum) + "\\PELLORYTEST";
const std::string kVspTree = std::string(kEnum) + "\\USBVSP\\PelloryTest";

void SetSz(const std::string& path, const char* name, const std::string& data) {
  HKEY key = nullptr;
  ASSERT_EQ(::RegCreateKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS,
                              nullptr, &key, nullptr),
            ERROR_SUCCESS)
      << path;
  EXPECT_EQ(::RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(data.c_str()),
                             static_cast<DWORD>(data.size() + 1)),
            ERROR_SUCCESS);
  ::RegCloseKey(key);
}

void SetDword(const std::string& path, const char* name, DWORD value) {
  HKEY key = nullptr;
  ASSERT_EQ(::RegCreateKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS,
                              nullptr, &key, nullptr),
            ERROR_SUCCESS);
  EXPECT_EQ(::RegSetValueExA(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof value),
            ERROR_SUCCESS);
  ::RegCloseKey(key);
}

const char* const kMapValues[] = {"\\Device\\PelloryTest0", "\\Device\\PelloryBth0", "\\Device\\PelloryNokiaSuite0",
                                  "\\Device\\PelloryOdd", "\\Device\\PelloryTest1"};

void RemoveSeeds() {
  HKEY key = nullptr;
  if (::RegOpenKeyExA(HKEY_LOCAL_MACHINE, kMap, 0, KEY_ALL_ACCESS, &key) == ERROR_SUCCESS) {
    for (const char* name : kMapValues) ::RegDeleteValueA(key, name);
    ::RegCloseKey(key);
  }
  TOwned<TRegistry> reg(New<TRegistry>());
  reg->SetRootKey(RegLocalMachine);
  reg->DeleteKey(kTestTree);
  reg->DeleteKey(kVspTree);
}

class SerialPortsWin : public ::testing::Test {
 protected:
  void SetUp() override {
    InitWin32Platform();
    InitPlatformId();
    RemoveSeeds();
    SetSz(kMap, "\\Device\\PelloryTest0", "COM201");
    SetSz(kMap, "\\Device\\PelloryBth0", "COM202");
    SetSz(kMap, "\\Device\\PelloryNokiaSuite0", "COM203");
    SetDword(kMap, "\\Device\\PelloryOdd", 7);
    SetSz(kMap, "\\Device\\PelloryTest1", "COM204");
    SetSz(kTestTree + "\\Serial\\0", "FriendlyName", "Pellory Test Port (COM201)");
    SetSz(kTestTree + "\\Serial\\0\\Device Parameters", "PortName", "COM201");
    SetSz(kTestTree + "\\Bth\\0", "FriendlyName", "Standard Serial over Bluetooth link (COM202)");
    SetSz(kTestTree + "\\Bth\\0\\Device Parameters", "PortName", "COM202");
    SetSz(kTestTree + "\\Suite\\0", "FriendlyName", "Nokia Suite Port (COM203)");
    SetSz(kTestTree + "\\Suite\\0\\Device Parameters", "PortName", "COM203");
    SetSz(kVspTree + "\\1", "FriendlyName", "Nokia 6230 USB Modem");
    SetSz(kVspTree + "\\1\\Device Parameters", "PortName", "COM201");
    SetSz(kVspTree + "\\2", "FriendlyName", "Nokia 6230 USB Modem");
    SetSz(kVspTree + "\\2\\Device Parameters", "PortName", "COM205");  // not in the map
  }
  void TearDown() override { RemoveSeeds(); }
};

TEST_F(SerialPortsWin, RunsOnTheNtLine) {
  EXPECT_EQ(GetPlatformId(), PlatformNT);
}

TEST_F(SerialPortsWin, ListsTheSeededPortsWithFriendlyNames) {
  for (auto list : {ListSerialPorts, EnumSerialPorts}) {
    TStringList* ports = list(nullptr);
    std::vector<std::string> ours;
    for (int i = 0; i < ports->Count(); ++i) {
      const std::string name = ports->Names(i);
      if (name == "201" || name == "202" || name == "203" || name == "204") ours.push_back(ports->Strings(i));
    }
    ports->Free();
    EXPECT_EQ(ours, (std::vector<std::string>{"201=Pellory Test Port (COM201)",
                                              "202=Standard Serial over Bluetooth link (COM202)", "204="}));
  }
}

TEST_F(SerialPortsWin, Dku5PortsOfTheUsbSerialDriver) {
  TPortNumbers ports;
  ReadUsbVspPortsNT(ports, true);
  EXPECT_NE(std::find(ports.begin(), ports.end(), 205), ports.end());
  CollectUsbVspPorts(ports, true);
  EXPECT_EQ(ports, TPortNumbers{201});
}

}  // namespace
