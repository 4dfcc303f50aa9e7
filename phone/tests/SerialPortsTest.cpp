#include "SerialPorts.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "RegistrySeed.h"
#include "Strings.h"

namespace {

constexpr std::string_view kMap = "HARDWARE\\DEVICEMAP\\SERIALCOMM";
constexpr std::string_view kNT = "SYSTEM\\CurrentControlSet\\Enum";
constexpr std::string_view kW9x = "Enum";

void SeedMap(RegistryBackend& r) {
  PutValue(r, RegLocalMachine, kMap, "\\Device\\Serial0", Sz("COM1"));
  PutValue(r, RegLocalMachine, kMap, "\\Device\\Serial1", Sz("COM2"));
  PutValue(r, RegLocalMachine, kMap, "\\Device\\UsbSer0", Sz("COM10"));
  PutValue(r, RegLocalMachine, kMap, "\\Device\\BthModem0", Sz("COM12"));
  PutValue(r, RegLocalMachine, kMap, "\\Device\\Multi0", Sz("COM123"));
  PutValue(r, RegLocalMachine, kMap, "\\Device\\NokiaSuiteVcp0", Sz("COM20"));  // never listed
  PutValue(r, RegLocalMachine, kMap, "\\Device\\Odd", Dword(7));                // not a string
  PutValue(r, RegLocalMachine, kMap, "\\Device\\Bare", Sz("COM"));              // no number
}

// The NT line's device tree: the port name sits in "Device Parameters".
void SeedNtTree(RegistryBackend& r) {
  const std::string e(kNT);
  PutValue(r, RegLocalMachine, e + "\\ACPI\\PNP0501\\1", "FriendlyName", Sz("Communications Port (COM1)"));
  PutValue(r, RegLocalMachine, e + "\\ACPI\\PNP0501\\1\\Device Parameters", "PortName", Sz("COM1"));
  // A named key without "Device Parameters" is no match; its device lies below it.
  PutValue(r, RegLocalMachine, e + "\\USB\\VID_0421&PID_0802", "FriendlyName", Sz("Nokia composite device"));
  PutValue(r, RegLocalMachine, e + "\\USB\\VID_0421&PID_0802\\6&1", "FriendlyName", Sz("Nokia USB Serial (COM10)\t "));
  PutValue(r, RegLocalMachine, e + "\\USB\\VID_0421&PID_0802\\6&1\\Device Parameters", "PortName", Sz("COM10"));
  PutValue(r, RegLocalMachine, e + "\\BTHENUM\\{00001101}\\7&2", "FriendlyName",
           Sz("Standard Serial over Bluetooth link (COM12)"));
  PutValue(r, RegLocalMachine, e + "\\BTHENUM\\{00001101}\\7&2\\Device Parameters", "PortName", Sz("COM12"));
  // A friendly name of the wrong type counts as none.
  PutValue(r, RegLocalMachine, e + "\\ROOT\\Odd\\0000", "FriendlyName", Dword(1));
  PutValue(r, RegLocalMachine, e + "\\ROOT\\Odd\\0000\\Device Parameters", "PortName", Sz("COM2"));
  PutValue(r, RegLocalMachine, e + "\\ROOT\\PCVCP\\0000", "FriendlyName", Sz("Nokia Suite Port (COM20)"));
  PutValue(r, RegLocalMachine, e + "\\ROOT\\PCVCP\\0000\\Device Parameters", "PortName", Sz("COM20"));
}

// The 9x line's device tree: the port name sits in the device key itself.
void SeedW9xTree(RegistryBackend& r) {
  const std::string e(kW9x);
  PutValue(r, RegLocalMachine, e + "\\BIOS\\*PNP0501\\0D", "FriendlyName", Sz("Communications Port (COM1)"));
  PutValue(r, RegLocalMachine, e + "\\BIOS\\*PNP0501\\0D", "PortName", Sz("COM1"));
  PutValue(r, RegLocalMachine, e + "\\BIOS\\*PNP0501\\0E", "FriendlyName", Sz("Lower-case port"));
  PutValue(r, RegLocalMachine, e + "\\BIOS\\*PNP0501\\0E", "PortName", Sz("com2"));  // names compare exactly
  PutValue(r, RegLocalMachine, e + "\\USB\\NOKIA\\0001", "FriendlyName", Sz("Nokia USB Serial (COM10)\t "));
  PutValue(r, RegLocalMachine, e + "\\USB\\NOKIA\\0001", "PortName", Sz("COM10"));
  PutValue(r, RegLocalMachine, e + "\\BLUETOOTH\\SERIAL\\0000", "FriendlyName", Sz("Bluetooth Serial Port"));
  PutValue(r, RegLocalMachine, e + "\\BLUETOOTH\\SERIAL\\0000", "PortName", Sz("COM12"));
}

std::vector<std::string> Lines(TStringList* list) {
  std::vector<std::string> lines;
  for (int i = 0; i < list->Count(); ++i) lines.push_back(list->Strings(i));
  list->Free();
  return lines;
}

using Lister = TStringList* (*)(RegistryBackend*);

TEST(SerialPorts, ListsTheMapWithFriendlyNamesOnBothLines) {
  struct Case {
    const char* what;
    int platform;
    Lister list;
    std::vector<std::string> lines;
  };
  const Case cases[] = {
      {"wizard, NT",
       PlatformNT,
       ListSerialPorts,
       {"1=Communications Port (COM1)", "2=", "10=Nokia USB Serial (COM10)\t",
        "12=Standard Serial over Bluetooth link (COM12)", "123="}},
      {"finder, NT",
       PlatformNT,
       EnumSerialPorts,
       {"1=Communications Port (COM1)", "2=", "10=Nokia USB Serial (COM10)",
        "12=Standard Serial over Bluetooth link (COM12)", "123="}},
      {"wizard, 9x",
       PlatformWin9x,
       ListSerialPorts,
       {"1=Communications Port (COM1)", "2=", "10=Nokia USB Serial (COM10)\t", "12=Bluetooth Serial Port", "123="}},
      {"finder, 9x",
       PlatformWin9x,
       EnumSerialPorts,
       {"1=Communications Port (COM1)", "2=", "10=Nokia USB Serial (COM10)", "12=Bluetooth Serial Port", "123="}},
  };
  for (const Case& c : cases) {
    PlatformScope line(c.platform);
    StandardUserRegistry reg;  // the map must be readable without administrative rights
    SeedMap(reg.mem);
    SeedNtTree(reg.mem);
    SeedW9xTree(reg.mem);
    EXPECT_EQ(Lines(c.list(&reg)), c.lines) << c.what;
    EXPECT_EQ(reg.refused, 0) << c.what;
    EXPECT_EQ(reg.mem.OpenHandleCount(), 0u) << c.what;
  }
}

TEST(SerialPorts, ValueLookupByPortNumber) {
  MemoryRegistryBackend reg;
  SeedMap(reg);
  SeedNtTree(reg);
  PlatformScope line(PlatformNT);
  std::unique_ptr<TStringList, void (*)(TStringList*)> list(ListSerialPorts(&reg), [](TStringList* l) { l->Free(); });
  EXPECT_EQ(list->Values("12"), "Standard Serial over Bluetooth link (COM12)");
  EXPECT_EQ(list->Values("1"), "Communications Port (COM1)");
  EXPECT_EQ(list->IndexOfName("20"), -1);  // the "NokiaSuite" entry
  EXPECT_EQ(list->IndexOfName("123"), 4);
}

TEST(SerialPorts, UnreadableRegistryGivesAnEmptyList) {
  PlatformScope line(PlatformNT);
  MemoryRegistryBackend empty;
  EXPECT_TRUE(Lines(ListSerialPorts(&empty)).empty());
  EXPECT_TRUE(Lines(EnumSerialPorts(&empty)).empty());

  // Only values that are not strings: nothing to list, and no error.
  MemoryRegistryBackend odd;
  PutValue(odd, RegLocalMachine, kMap, "\\Device\\Odd", Dword(3));
  PutValue(odd, RegLocalMachine, kMap, "\\Device\\Raw", RegValue{RegTypeBinary, "COM4"});
  EXPECT_TRUE(Lines(ListSerialPorts(&odd)).empty());

  // No registry at all (no backend given or set).
  ASSERT_EQ(GetRegistryBackend(), nullptr);
  EXPECT_TRUE(Lines(ListSerialPorts()).empty());
  EXPECT_EQ(FindPortFriendlyName(kNT, "COM1"), "");
}

TEST(SerialPorts, SameLineTwiceIsListedOnce) {
  PlatformScope line(PlatformNT);
  MemoryRegistryBackend reg;
  PutValue(reg, RegLocalMachine, kMap, "\\Device\\A", Sz("COM5"));
  PutValue(reg, RegLocalMachine, kMap, "\\Device\\B", Sz("COM5"));
  PutValue(reg, RegLocalMachine, kMap, "\\Device\\C", Sz("COM4"));
  EXPECT_EQ(Lines(ListSerialPorts(&reg)), (std::vector<std::string>{"4=", "5="}));
}

TEST(SerialPorts, FindPortFriendlyName) {
  struct Case {
    int platform;
    std::string_view tree;
    const char* port;
    const char* friendly;
  };
  const Case cases[] = {
      {PlatformNT, kNT, "COM1", "Communications Port (COM1)"},
      {PlatformNT, kNT, "COM10", "Nokia USB Serial (COM10)\t "},  // found below the key without parameters
      {PlatformNT, kNT, "COM2", ""},                              // only a friendly name of the wrong type
      {PlatformNT, kNT, "com1", ""},                              // port names compare exactly
      {PlatformNT, kNT, "COM99", ""},
      {PlatformNT, "SYSTEM\\CurrentControlSet\\Enum\\BTHENUM", "COM12", "Standard Serial over Bluetooth link (COM12)"},
      {PlatformNT, "SYSTEM\\Missing", "COM1", ""},
      {PlatformNT, kW9x, "COM1", ""},  // the 9x tree has no "Device Parameters"
      {PlatformWin9x, kW9x, "COM1", "Communications Port (COM1)"},
      {PlatformWin9x, kW9x, "COM2", ""},
      {PlatformWin9x, kW9x, "com2", "Lower-case port"},
      {PlatformWin9x, kW9x, "COM12", "Bluetooth Serial Port"},
  };
  MemoryRegistryBackend reg;
  SeedNtTree(reg);
  SeedW9xTree(reg);
  for (const Case& c : cases) {
    PlatformScope line(c.platform);
    EXPECT_EQ(FindPortFriendlyName(c.tree, c.port, &reg), c.friendly) << c.tree << " " << c.port;
    EXPECT_EQ(SearchPortFriendlyName(c.tree, c.port, &reg), c.friendly) << c.tree << " " << c.port;
  }
  EXPECT_EQ(reg.OpenHandleCount(), 0u);
}

}  // namespace
