// Builds a registry from arbitrary text (one value per line: the serial-port
// map's data, device friendly names and port names, the DKU-5 drivers' port
// names) and lists the serial ports and DKU-5 ports on both platform lines:
// nothing may crash, every port line is a name=value line, and every
// DKU-5 port is a positive number listed in the map.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "Dku5Ports.h"
#include "Registry.h"
#include "SerialPorts.h"
#include "Strings.h"
#include "SysUtils.h"

namespace {

void Check(bool ok) {
  if (!ok) std::abort();
}

RegValue Sz(std::string_view s) {
  std::string d(s);
  d.push_back('\0');
  return RegValue{RegTypeSz, d};
}

void Put(RegistryBackend& r, const std::string& path, std::string_view name, const RegValue& v) {
  RegKey k = 0;
  if (r.OpenKey(RegLocalMachine, path, RegKeyAllAccess, true, k) != RegOk) return;
  r.SetValue(k, name, v);
  r.CloseKey(k);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view text(reinterpret_cast<const char*>(data), size);
  std::vector<std::string_view> lines;
  while (!text.empty() && lines.size() < 8) {
    std::size_t end = text.find('\n');
    if (end == std::string_view::npos) end = text.size();
    lines.push_back(text.substr(0, end));
    text.remove_prefix(end < text.size() ? end + 1 : end);
  }

  MemoryRegistryBackend reg;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    const std::string n = std::to_string(i);
    const std::string_view line = lines[i];
    // Lines take turns as map data, a device in each tree and a driver instance.
    Put(reg, "hardware\\devicemap\\serialcomm", "V" + n,
        i % 5 == 4 ? RegValue{RegTypeBinary, std::string(line)} : Sz(line));
    Put(reg, "System\\CurrentControlSet\\Enum\\X\\" + n, "FriendlyName", Sz(line));
    Put(reg, "System\\CurrentControlSet\\Enum\\X\\" + n + "\\Device Parameters", "PortName", Sz(line));
    Put(reg, "Enum\\X\\" + n, "FriendlyName", Sz(line));
    Put(reg, "Enum\\X\\" + n, "PortName", Sz(line));
    Put(reg, "SYSTEM\\CurrentControlSet\\Enum\\USBVSP\\D\\" + n, "FriendlyName", Sz("Nokia"));
    Put(reg, "SYSTEM\\CurrentControlSet\\Enum\\USBVSP\\D\\" + n + "\\Device Parameters", "PortName", Sz(line));
    Put(reg, "Enum\\USBVSP\\ATMELPORT\\" + n, "PortName", Sz(line));
    ParseComPortNumber(line);
  }

  for (int platform : {PlatformWin9x, PlatformNT}) {
    SetPlatformId(platform);
    for (TStringList* list : {ListSerialPorts(&reg), EnumSerialPorts(&reg)}) {
      for (int i = 0; i < list->Count(); ++i) {
        const std::string line = list->Strings(i);
        Check(line.find('=') != std::string::npos);
      }
      list->Free();
    }
    TPortNumbers ports;
    CollectUsbVspPorts(ports, true, &reg);
    CollectCa42Ports(ports, false, &reg);
    TStringList* listed = EnumSerialPorts(&reg);
    for (std::int32_t p : ports) Check(p > 0 && !listed->Values(IntToStr(p)).empty());
    listed->Free();
  }
  Check(reg.OpenHandleCount() == 0);
  return 0;
}
