#include "FinderDevicesWin.h"

#include "Dku2.h"
#include "IrdaWin.h"

// --- TEnumeratorIrDiscovery ----------------------------------------------------------------------

TEnumeratorIrDiscovery::TEnumeratorIrDiscovery(TIrProvider& provider) : provider_(provider), enumerator_(provider) {
  enumerator_.OnDeviceConnected = ::TIrDeviceConnectedEvent::Bind<&TEnumeratorIrDiscovery::DeviceConnected>(this);
}

int TEnumeratorIrDiscovery::ConnectAllDevices() {
  return enumerator_.ConnectAllDevices();
}

std::uint16_t TEnumeratorIrDiscovery::ErrorCode() const {
  return static_cast<std::uint16_t>(enumerator_.ErrorCode());
}

void TEnumeratorIrDiscovery::DeviceConnected(const std::string& name, TIrSocket socket) {
  if (OnDeviceConnected) {
    OnDeviceConnected(name, socket);
  } else {
    provider_.CloseSocket(socket);  // nobody takes it
  }
}

// --- TWinFinderDevices ---------------------------------------------------------------------------

std::unique_ptr<TIrDiscovery> TWinFinderDevices::CreateIrDiscovery() {
  return std::make_unique<TEnumeratorIrDiscovery>(GetIrProvider());
}

std::vector<std::string> TWinFinderDevices::ListDku2DevicePaths() {
  return ::ListDku2DevicePaths(true);
}

std::intptr_t TWinFinderDevices::OpenDku2Device(const std::string& path, std::uint32_t& systemError) {
  HANDLE device = ::OpenDku2Device(path, systemError);
  return device == INVALID_HANDLE_VALUE ? -1 : reinterpret_cast<std::intptr_t>(device);
}

TWinFinderDevices& WinFinderDevices() {
  static TWinFinderDevices devices;
  return devices;
}

void UseWinFinderDevices() {
  static TWinsockIrProvider ir;
  static TSetupApiDku2Provider dku2;
  SetIrProvider(&ir);
  SetDku2Provider(&dku2);
  SetFinderDevices(&WinFinderDevices());
}
