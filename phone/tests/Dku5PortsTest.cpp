#include "Dku5Ports.h"

#include <gtest/gtest.h>

#include <string>

#include "RegistrySeed.h"

namespace {

constexpr std::string_view kMap = "HARDWARE\\DEVICEMAP\\SERIALCOMM";
const std::string kVspNT = "SYSTEM\\CurrentControlSet\\Enum\\USBVSP";
const std::string kCa42NT = "SYSTEM\\CurrentControlSet\\Enum\\NMWCD";
const std::string kEnumNT = "SYSTEM\\CurrentControlSet\\Enum";

TEST(Dku5Ports, ParseComPortNumber) {
  struct Case {
    const char* portName;
    std::int32_t port;
  };
  const Case cases[] = {
      {"COM7", 7},     {"COM12", 12}, {"COM99", 99},         {"COM123", 123},
      {"COM255", 255}, {"COM007", 7}, {"\\\\.\\COM5", 5},    {"COM5 ", 5},
      {"COM", 0},      {"COMx", 0},   {"COM0", 0},           {"com3", 0},
      {"LPT1", 0},     {"", 0},       {"COM99999999999", 0}, {"CNCA0 COM4", 4},
  };
  for (const Case& c : cases) EXPECT_EQ(ParseComPortNumber(c.portName), c.port) << c.portName;
}

// Drivers' keys on both lines, and the serial-port map with its device tree.
void Seed(RegistryBackend& r) {
  // NT: USB serial driver.
  PutValue(r, RegLocalMachine, kVspNT + "\\Vid_0421&Pid_0802\\5&1", "FriendlyName", Sz("Nokia 6230 USB Modem"));
  PutValue(r, RegLocalMachine, kVspNT + "\\Vid_0421&Pid_0802\\5&1\\Device Parameters", "PortName", Sz("COM5"));
  PutValue(r, RegLocalMachine, kVspNT + "\\Vid_0421&Pid_0802\\5&2", "FriendlyName", Sz("Other modem"));
  PutValue(r, RegLocalMachine, kVspNT + "\\Vid_0421&Pid_0802\\5&2\\Device Parameters", "PortName", Sz("COM6"));
  PutValue(r, RegLocalMachine, kVspNT + "\\Vid_0421&Pid_0803\\6&1", "FriendlyName", Sz("Nokia USB Serial"));
  PutValue(r, RegLocalMachine, kVspNT + "\\Vid_0421&Pid_0803\\6&1\\Device Parameters", "PortName", Sz("COM123"));
  PutValue(r, RegLocalMachine, kVspNT + "\\Vid_0421&Pid_0803\\6&2", "FriendlyName", Dword(1));  // passed over
  PutValue(r, RegLocalMachine, kVspNT + "\\Vid_0421&Pid_0803\\6&3", "FriendlyName", Sz("nokia lower case"));
  PutValue(r, RegLocalMachine, kVspNT + "\\Vid_0421&Pid_0803\\6&3\\Device Parameters", "PortName", Sz("COM8"));
  PutValue(r, RegLocalMachine, kVspNT + "\\Vid_0421&Pid_0803\\6&4", "FriendlyName", Sz("Nokia, bad port name"));
  PutValue(r, RegLocalMachine, kVspNT + "\\Vid_0421&Pid_0803\\6&4\\Device Parameters", "PortName", Dword(9));
  // NT: CA-42 driver.
  PutValue(r, RegLocalMachine, kCa42NT + "\\Dev\\1", "FriendlyName", Sz("Nokia CA-42 USB (COM14)"));
  PutValue(r, RegLocalMachine, kCa42NT + "\\Dev\\1\\Device Parameters", "PortName", Sz("COM14"));
  PutValue(r, RegLocalMachine, kCa42NT + "\\Dev\\2", "FriendlyName", Sz("Nokia CA-42 USB (COM15)"));
  PutValue(r, RegLocalMachine, kCa42NT + "\\Dev\\2\\Device Parameters", "PortName", Sz("COM15"));
  // 9x: the port name in the instance key; ATMELPORT keys have no friendly name.
  PutValue(r, RegLocalMachine, "Enum\\USBVSP\\NOKIA\\0000", "FriendlyName", Sz("Nokia USB Modem"));
  PutValue(r, RegLocalMachine, "Enum\\USBVSP\\NOKIA\\0000", "PortName", Sz("COM5"));
  PutValue(r, RegLocalMachine, "Enum\\USBVSP\\NOKIA\\0001", "FriendlyName", Sz("Nokia USB Modem"));
  PutValue(r, RegLocalMachine, "Enum\\USBVSP\\NOKIA\\0001", "PortName", Sz("COM5"));  // listed twice
  PutValue(r, RegLocalMachine, "Enum\\USBVSP\\ATMELPORT\\0000", "PortName", Sz("COM14"));
  PutValue(r, RegLocalMachine, "Enum\\USBVSP\\ATMELPORT\\0001", "PortName", Dword(3));
  PutValue(r, RegLocalMachine, "Enum\\USBVSP\\ATMELPORT\\0002", "PortName", Sz("COM123"));
  PutKey(r, RegLocalMachine, "Enum\\USBVSP\\ATMELPORT\\0003");

  // The serial-port map: COM5, COM14 and COM123; COM15 is absent.
  PutValue(r, RegLocalMachine, kMap, "\\Device\\UsbSer0", Sz("COM5"));
  PutValue(r, RegLocalMachine, kMap, "\\Device\\UsbSer1", Sz("COM14"));
  PutValue(r, RegLocalMachine, kMap, "\\Device\\UsbSer2", Sz("COM123"));
  PutValue(r, RegLocalMachine, kEnumNT + "\\USB\\A\\1", "FriendlyName", Sz("Nokia 6230 USB Modem (COM5)"));
  PutValue(r, RegLocalMachine, kEnumNT + "\\USB\\A\\1\\Device Parameters", "PortName", Sz("COM5"));
  PutValue(r, RegLocalMachine, kEnumNT + "\\USB\\B\\1", "FriendlyName", Sz("Nokia CA-42 USB (COM14)"));
  PutValue(r, RegLocalMachine, kEnumNT + "\\USB\\B\\1\\Device Parameters", "PortName", Sz("COM14"));
  PutValue(r, RegLocalMachine, "Enum\\USB\\A\\1", "FriendlyName", Sz("Nokia USB Modem (COM5)"));
  PutValue(r, RegLocalMachine, "Enum\\USB\\A\\1", "PortName", Sz("COM5"));
  PutValue(r, RegLocalMachine, "Enum\\USB\\B\\1", "FriendlyName", Sz("Nokia CA-42 USB (COM14)"));
  PutValue(r, RegLocalMachine, "Enum\\USB\\B\\1", "PortName", Sz("COM14"));
}

using Reader = void (*)(TPortNumbers&, bool, RegistryBackend*);

TEST(Dku5Ports, ReadersListTheDriversPorts) {
  struct Case {
    const char* what;
    Reader read;
    TPortNumbers ports;
  };
  const Case cases[] = {
      {"USB serial driver, NT", ReadUsbVspPortsNT, {5, 123}},
      {"CA-42 driver, NT", ReadCa42PortsNT, {14, 15}},
      {"USB serial driver, 9x", ReadUsbVspPorts9x, {5, 5}},
      {"ATMEL ports, 9x", ReadAtmelPorts9x, {14, 123}},
  };
  StandardUserRegistry reg;
  Seed(reg.mem);
  for (const Case& c : cases) {
    TPortNumbers ports{77};
    c.read(ports, true, &reg);
    EXPECT_EQ(ports, c.ports) << c.what;
    ports = {77};
    c.read(ports, false, &reg);
    TPortNumbers appended{77};
    appended.insert(appended.end(), c.ports.begin(), c.ports.end());
    EXPECT_EQ(ports, appended) << c.what;
  }
  EXPECT_EQ(reg.refused, 0);
  EXPECT_EQ(reg.mem.OpenHandleCount(), 0u);
}

TEST(Dku5Ports, CollectKeepsOnlyPortsNamedInTheMap) {
  struct Case {
    int platform;
    TPortNumbers ports;
  };
  // NT: 5 and 123 (USB serial; the driver's own key names COM123 in the tree), 14 (CA-42); 15 is not in
  // the map. 9x: 5 twice, 14; COM123 has no friendly name in the 9x tree.
  const Case cases[] = {{PlatformNT, {5, 123, 14}}, {PlatformWin9x, {5, 5, 14}}, {0, {}}};
  StandardUserRegistry reg;
  Seed(reg.mem);
  for (const Case& c : cases) {
    PlatformScope line(c.platform);
    TPortNumbers ports{3, 5};  // an old list: cleared by the first step
    CollectUsbVspPorts(ports, true, &reg);
    CollectCa42Ports(ports, false, &reg);
    if (c.platform == 0) {
      EXPECT_EQ(ports, (TPortNumbers{5})) << "no reader on an unknown platform; the filter still runs";
      continue;
    }
    EXPECT_EQ(ports, c.ports) << c.platform;
  }
}

TEST(Dku5Ports, NoRegistryListsNothing) {
  PlatformScope line(PlatformNT);
  MemoryRegistryBackend empty;
  TPortNumbers ports{4};
  CollectUsbVspPorts(ports, true, &empty);
  EXPECT_TRUE(ports.empty());
  ports = {4};
  FilterListedPorts(ports, &empty);
  EXPECT_TRUE(ports.empty());
  ASSERT_EQ(GetRegistryBackend(), nullptr);
  ReadCa42PortsNT(ports, false);  // no backend at all: nothing, no error
  EXPECT_TRUE(ports.empty());
}

}  // namespace
