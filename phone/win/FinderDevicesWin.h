// The finder's devices on Windows: infrared discovery over the installed
// infrared provider (Winsock's IrDA sockets unless a test put another in), the
// DKU-2 device paths of the installed DKU-2 provider (SetupAPI) and the opening
// of a DKU-2 device through the USB phone driver. The program installs them at
// start-up with UseWinFinderDevices().
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "IrDiscovery.h"
#include "PhoneFind.h"

// The finder's infrared discovery over one TIrEnumerator.
class TEnumeratorIrDiscovery : public TIrDiscovery {
 public:
  explicit TEnumeratorIrDiscovery(TIrProvider& provider);
  int ConnectAllDevices() override;
  std::uint16_t ErrorCode() const override;
  TIrEnumerator& Enumerator() { return enumerator_; }

 private:
  void DeviceConnected(const std::string& name, TIrSocket socket);

  TIrProvider& provider_;
  TIrEnumerator enumerator_;
};

class TWinFinderDevices : public TFinderDevices {
 public:
  std::unique_ptr<TIrDiscovery> CreateIrDiscovery() override;
  std::vector<std::string> ListDku2DevicePaths() override;
  std::intptr_t OpenDku2Device(const std::string& path, std::uint32_t& systemError) override;
};

// Installs the Winsock infrared provider, the SetupAPI DKU-2 provider and the
// devices above for the finder. Call once at start-up, before the finder runs.
void UseWinFinderDevices();
// The program's devices (what UseWinFinderDevices installs).
TWinFinderDevices& WinFinderDevices();
