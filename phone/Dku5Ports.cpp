#include "Dku5Ports.h"

#include <exception>
#include <limits>
#include <memory>
#include <string>

#include "Registry.h"
#include "SerialPorts.h"
#include "Strings.h"
#include "SysUtils.h"

namespace {

struct FreeObjectDeleter {
  void operator()(TObject* obj) const { FreeObject(obj); }
};
template <class T>
using Owned = std::unique_ptr<T, FreeObjectDeleter>;

Owned<TRegistry> OpenMachineRegistry(RegistryBackend* backend) {
  Owned<TRegistry> reg(New<TRegistry>(RegKeyRead, backend));
  reg->SetRootKey(RegLocalMachine);
  return reg;
}

// The subkey names of HKEY_LOCAL_MACHINE\path; empty when it cannot be opened.
std::vector<std::string> SubKeys(TRegistry& reg, const std::string& path) {
  std::vector<std::string> names;
  if (reg.OpenKeyReadOnly("\\" + path)) reg.Backend().EnumKeys(reg.CurrentKey(), names);
  reg.CloseKey();
  return names;
}

// A string value of HKEY_LOCAL_MACHINE\path; empty when the key or the value
// is missing or the value is not a string.
std::string ReadText(TRegistry& reg, const std::string& path, std::string_view name) {
  std::string text;
  if (reg.OpenKeyReadOnly("\\" + path)) {
    const TRegDataType type = reg.GetDataType(name);
    if (type == rdString || type == rdExpandString) text = reg.ReadString(name);
  }
  reg.CloseKey();
  return text;
}

void AddPort(TPortNumbers& ports, std::string_view portName) {
  if (std::int32_t n = ParseComPortNumber(portName)) ports.push_back(n);
}

// Device keys below `root`, their instance keys, the instance's friendly name
// checked for `mark`, then "PortName" from the instance key or its `portKey` subkey.
void ReadDriverPorts(TPortNumbers& ports, bool clear, RegistryBackend* backend, const std::string& root,
                     std::string_view mark, std::string_view portKey) {
  if (clear) ports.clear();
  try {
    Owned<TRegistry> reg = OpenMachineRegistry(backend);
    for (const std::string& device : SubKeys(*reg, root)) {
      const std::string devicePath = root + "\\" + device;
      for (const std::string& instance : SubKeys(*reg, devicePath)) {
        const std::string path = devicePath + "\\" + instance;
        if (ReadText(*reg, path, "FriendlyName").find(mark) == std::string::npos) continue;
        AddPort(ports, ReadText(*reg, portKey.empty() ? path : path + "\\" + std::string(portKey), "PortName"));
      }
    }
  } catch (const std::exception&) {
    // Without a registry the driver lists nothing.
  }
}

}  // namespace

std::int32_t ParseComPortNumber(std::string_view portName) {
  const std::size_t at = portName.find("COM");
  if (at == std::string_view::npos) return 0;
  std::int64_t n = 0;
  std::size_t i = at + 3;
  if (i >= portName.size() || portName[i] < '0' || portName[i] > '9') return 0;
  for (; i < portName.size() && portName[i] >= '0' && portName[i] <= '9'; ++i) {
    n = n * 10 + (portName[i] - '0');
    if (n > std::numeric_limits<std::int32_t>::max()) return 0;
  }
  return static_cast<std::int32_t>(n);
}

void ReadUsbVspPortsNT(TPortNumbers& ports, bool clear, RegistryBackend* backend) {
  ReadDriverPorts(ports, clear, backend, "SYSTEM\\CurrentControlSet\\Enum\\USBVSP", "Nokia", "Device Parameters");
}

void ReadCa42PortsNT(TPortNumbers& ports, bool clear, RegistryBackend* backend) {
  ReadDriverPorts(ports, clear, backend, "SYSTEM\\CurrentControlSet\\Enum\\NMWCD", "CA-42", "Device Parameters");
}

void ReadUsbVspPorts9x(TPortNumbers& ports, bool clear, RegistryBackend* backend) {
  ReadDriverPorts(ports, clear, backend, "Enum\\USBVSP", "Nokia", "");
}

void ReadAtmelPorts9x(TPortNumbers& ports, bool clear, RegistryBackend* backend) {
  if (clear) ports.clear();
  try {
    Owned<TRegistry> reg = OpenMachineRegistry(backend);
    const std::string root = "Enum\\USBVSP\\ATMELPORT";
    // No friendly-name test here: the driver's keys are its ports.
    for (const std::string& key : SubKeys(*reg, root)) AddPort(ports, ReadText(*reg, root + "\\" + key, "PortName"));
  } catch (const std::exception&) {
    // Without a registry the driver lists nothing.
  }
}

void FilterListedPorts(TPortNumbers& ports, RegistryBackend* backend) {
  Owned<TStringList> listed(EnumSerialPorts(backend));
  for (std::size_t i = ports.size(); i-- > 0;)
    if (listed->Values(IntToStr(ports[i])).empty()) ports.erase(ports.begin() + static_cast<std::ptrdiff_t>(i));
}

void CollectUsbVspPorts(TPortNumbers& ports, bool clear, RegistryBackend* backend) {
  switch (GetPlatformId()) {
    case PlatformWin9x:
      ReadUsbVspPorts9x(ports, clear, backend);
      break;
    case PlatformNT:
      ReadUsbVspPortsNT(ports, clear, backend);
      break;
    default:
      break;
  }
  FilterListedPorts(ports, backend);
}

void CollectCa42Ports(TPortNumbers& ports, bool clear, RegistryBackend* backend) {
  switch (GetPlatformId()) {
    case PlatformWin9x:
      ReadAtmelPorts9x(ports, clear, backend);
      break;
    case PlatformNT:
      ReadCa42PortsNT(ports, clear, backend);
      break;
    default:
      break;
  }
  FilterListedPorts(ports, backend);
}
