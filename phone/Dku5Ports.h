// The DKU-5 (CA-42) virtual COM ports: the ports that the USB serial drivers
// list in the registry below HKEY_LOCAL_MACHINE and that also stand, with a
// friendly name, in the serial-port map. The finder rebuilds its list of them
// in every pass while it looks for DKU-5 phones.
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

class RegistryBackend;

using TPortNumbers = std::vector<std::int32_t>;

// The port number of a "PortName" value: all the decimal digits right after
// the first "COM" ("COM7" gives 7, "COM123" gives 123); 0 when there are none
// or the number does not fit.
std::int32_t ParseComPortNumber(std::string_view portName);

// The readers append the port numbers that one driver lists, in registry
// order (a port listed twice is added twice); with `clear` the list is emptied
// first. Keys are opened read-only; a key or value that cannot be read is
// passed over.
//   NT line, "SYSTEM\CurrentControlSet\Enum\USBVSP": every instance key two
//   levels down whose "FriendlyName" contains "Nokia", "PortName" read from its
//   "Device Parameters" subkey.
void ReadUsbVspPortsNT(TPortNumbers& ports, bool clear, RegistryBackend* backend = nullptr);
//   NT line, "SYSTEM\CurrentControlSet\Enum\NMWCD": the same with "CA-42".
void ReadCa42PortsNT(TPortNumbers& ports, bool clear, RegistryBackend* backend = nullptr);
//   9x line, "Enum\USBVSP": the same with "Nokia", "PortName" of the instance key itself.
void ReadUsbVspPorts9x(TPortNumbers& ports, bool clear, RegistryBackend* backend = nullptr);
//   9x line, "Enum\USBVSP\ATMELPORT": the "PortName" of every key below it.
void ReadAtmelPorts9x(TPortNumbers& ports, bool clear, RegistryBackend* backend = nullptr);

// Drops, from the last entry to the first, every port that has no friendly
// name in the serial-port map (EnumSerialPorts).
void FilterListedPorts(TPortNumbers& ports, RegistryBackend* backend = nullptr);

// The USB serial driver's ports (ReadUsbVspPorts9x or ReadUsbVspPortsNT by
// GetPlatformId, nothing on another platform), then the filter.
void CollectUsbVspPorts(TPortNumbers& ports, bool clear, RegistryBackend* backend = nullptr);
// The CA-42 driver's ports (ReadAtmelPorts9x or ReadCa42PortsNT), then the filter.
void CollectCa42Ports(TPortNumbers& ports, bool clear, RegistryBackend* backend = nullptr);
