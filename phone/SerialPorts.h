// The serial ports of the system as the registry lists them: the serial-port
// map under HKEY_LOCAL_MACHINE\hardware\devicemap\serialcomm, with each port's
// friendly name from the device enumeration tree ("Enum" on the Windows 9x
// line, "System\CurrentControlSet\Enum" on the NT line).
//
// A port list holds one "N=Friendly name" line per port, N being the port
// number in decimal (the characters after "COM"); the friendly name is empty
// when the tree has none. Lines come in rising numeric order for port numbers
// of up to three digits, so `Values(N)` answers the friendly name of port N.
#pragma once

#include <string>
#include <string_view>

#include "SysUtils.h"

class RegistryBackend;
class TStringList;

// 1 on the Windows 9x line, 2 on the NT line: the framework's Win32Platform
// (PlatformWin9x, PlatformNT), read by the Win32 layer at start-up; until
// then the NT line is assumed. SetPlatformId sets the framework's value.
int GetPlatformId();
void SetPlatformId(int id);

// The wizard's port list, built once at start-up: a new list the caller owns.
// Never raises; when the map cannot be read the list is empty. A map value
// that is not a string, and one whose name contains "NokiaSuite", gives no
// line. Friendly names are stripped of blanks at both ends.
TStringList* ListSerialPorts(RegistryBackend* backend = nullptr);
// The finder's port list: the same, except that friendly names are stripped
// of blanks and control characters at both ends.
TStringList* EnumSerialPorts(RegistryBackend* backend = nullptr);

// The "FriendlyName" of the first device below HKEY_LOCAL_MACHINE\keyPath
// (searched depth first, the key itself before its subkeys) whose port name
// is exactly `portName`, or empty. On the 9x line the port name is the
// device key's own "PortName" value, on the NT line the "PortName" of its
// "Device Parameters" subkey. Keys that cannot be opened and values that are
// not strings count as absent.
std::string FindPortFriendlyName(std::string_view keyPath, std::string_view portName,
                                 RegistryBackend* backend = nullptr);
// The finder's copy of the same search.
std::string SearchPortFriendlyName(std::string_view keyPath, std::string_view portName,
                                   RegistryBackend* backend = nullptr);
