#include "IrdaWin.h"

#include <algorithm>
#include <cstring>
#include <vector>

TIrdaSockAddr MakeIrdaAddress(const std::array<std::uint8_t, 4>& deviceId, const std::string& service) {
  TIrdaSockAddr addr;
  std::copy(deviceId.begin(), deviceId.end(), addr.deviceId);
  const std::size_t n = std::min(service.size(), sizeof(addr.serviceName) - 1);
  std::memcpy(addr.serviceName, service.data(), n);
  return addr;
}

bool TWinsockIrProvider::Startup() {
  WSADATA data;
  return WSAStartup(MAKEWORD(1, 1), &data) == 0;
}

void TWinsockIrProvider::Cleanup() {
  WSACleanup();
}

TIrSocket TWinsockIrProvider::OpenSocket() {
  return IrSocketOf(socket(kAfIrda, SOCK_STREAM, 0));
}

bool TWinsockIrProvider::EnumerateDevices(TIrSocket s, std::string& list) {
  // One byte more than offered, as the stack may end the list with a zero.
  std::vector<char> buffer(kIrDeviceListLength + 1, 0);
  int length = static_cast<int>(kIrDeviceListLength);
  if (getsockopt(WinSocketOf(s), kSolIrlmp, kIrlmpEnumDevices, buffer.data(), &length) == SOCKET_ERROR) return false;
  // The count says how many records are valid; the parser keeps only those
  // that lie inside the offered length.
  list.assign(buffer.data(), kIrDeviceListLength);
  return true;
}

int TWinsockIrProvider::Connect(TIrSocket s, const std::array<std::uint8_t, 4>& deviceId, const std::string& service) {
  const TIrdaSockAddr addr = MakeIrdaAddress(deviceId, service);
  return ConnectTo(s, reinterpret_cast<const sockaddr*>(&addr), static_cast<int>(sizeof(addr)));
}

int TWinsockIrProvider::ConnectTo(TIrSocket s, const sockaddr* address, int length) {
  if (connect(WinSocketOf(s), address, length) == 0) return 0;
  const int error = WSAGetLastError();
  return error != 0 ? error : WSAECONNREFUSED;
}

void TWinsockIrProvider::CloseSocket(TIrSocket s) {
  if (s != kNoIrSocket) closesocket(WinSocketOf(s));
}

int TWinsockIrProvider::LastError() {
  return WSAGetLastError();
}
