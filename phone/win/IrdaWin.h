// Infrared sockets on Winsock: the few names of the IrDA socket family that the
// link needs, and the discovery provider that finds phones with them.
#pragma once

#include <winsock2.h>

#include <cstdint>

#include "IrDiscovery.h"

// The IrDA address family, the IrLMP option level and its device-list option.
inline constexpr int kAfIrda = 26;
inline constexpr int kSolIrlmp = 0xFF;
inline constexpr int kIrlmpEnumDevices = 0x10;

// An IrDA socket address: family, the device id as the stack reported it and
// the service name (zero-terminated).
struct TIrdaSockAddr {
  std::uint16_t family = kAfIrda;
  std::uint8_t deviceId[4] = {};
  char serviceName[25] = {};
};
static_assert(sizeof(TIrdaSockAddr) == 32, "the stack takes a 32-byte IrDA address");

// The address of `service` on the device `deviceId`; a service name too long
// for the field is cut to fit, still zero-terminated.
TIrdaSockAddr MakeIrdaAddress(const std::array<std::uint8_t, 4>& deviceId, const std::string& service);

// Discovery on Winsock 1.1 and the infrared stack (AF_IRDA stream sockets).
class TWinsockIrProvider : public TIrProvider {
 public:
  bool Startup() override;
  void Cleanup() override;
  TIrSocket OpenSocket() override;
  bool EnumerateDevices(TIrSocket socket, std::string& list) override;
  int Connect(TIrSocket socket, const std::array<std::uint8_t, 4>& deviceId, const std::string& service) override;
  void CloseSocket(TIrSocket socket) override;
  int LastError() override;

 protected:
  // Connects `socket` to `address`: 0, or the socket error.
  static int ConnectTo(TIrSocket socket, const sockaddr* address, int length);
};

// A socket value as the provider seam carries it, and back.
inline TIrSocket IrSocketOf(SOCKET s) {
  return s == INVALID_SOCKET ? kNoIrSocket : static_cast<TIrSocket>(s);
}
inline SOCKET WinSocketOf(TIrSocket s) {
  return s == kNoIrSocket ? INVALID_SOCKET : static_cast<SOCKET>(s);
}
