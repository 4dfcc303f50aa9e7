// DKU-2 (CA-53) USB cables on Windows: the USB phone driver's device paths,
// listed through SetupAPI, and opening a device for overlapped reads and
// writes, primed with the driver's two requests.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "Dku2Devices.h"

// Parses an interface class identifier in registry form ("{8-4-4-4-12}").
// False when the text is not one.
bool ParseGuidText(const std::string& text, GUID& guid);

// One interface class at a time through SetupAPI. The records are the
// platform's own types, sized with sizeof.
class TSetupApiDku2Source : public TDku2DeviceSource {
 public:
  TSetupApiDku2Source() = default;
  ~TSetupApiDku2Source() override;
  TSetupApiDku2Source(const TSetupApiDku2Source&) = delete;
  TSetupApiDku2Source& operator=(const TSetupApiDku2Source&) = delete;

  bool OpenClass(const TDku2InterfaceClass& cls) override;
  TMember Member(std::size_t index, std::string& record, std::size_t& pathOffset) override;
  void CloseClass() override;

 private:
  HANDLE set_ = INVALID_HANDLE_VALUE;  // an HDEVINFO
  GUID class_{};
};

// The provider the program installs: the present devices, through SetupAPI.
class TSetupApiDku2Provider : public TDku2Provider {
 public:
  std::vector<std::string> ListDevicePaths(bool filtered) override;
};

// Opens the device at `path` (read and write, no sharing, overlapped) and sends
// it the driver's two requests, waiting at most 5000 ms for each; their
// results are not looked at. Returns the handle, or INVALID_HANDLE_VALUE with
// `systemError` set (5 access denied, 2 no such device, ...). The caller owns
// the handle.
HANDLE OpenDku2Device(const std::string& path, std::uint32_t& systemError);

// Sends one driver request with no input and a zero-filled output buffer of
// `outputSize` bytes, waiting at most `waitMs` for it. A request the driver
// refuses at once is not waited for; one still running after the wait is
// cancelled and collected, or given up with its buffer when the driver does
// not let go of it (the overlapped I/O policy). True when it completed
// successfully.
bool SendDku2Request(HANDLE device, std::uint32_t code, std::size_t outputSize, std::uint32_t waitMs);
