// The small socket layer the library's own clients (SMTP, the DNS query) talk
// through: Windows Sockets in the Win32 half, BSD sockets natively.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace net {

using TSocketHandle = std::intptr_t;
constexpr TSocketHandle kInvalidSocket = -1;

class TSocketApi {
 public:
  virtual ~TSocketApi() = default;
  // Starts and ends the socket service (version 1.1 under Windows); true on success.
  virtual bool Startup() = 0;
  virtual void Cleanup() = 0;
  // An IPv4 socket: stream (TCP) or datagram (UDP); kInvalidSocket on failure.
  virtual TSocketHandle Open(bool stream) = 0;
  // No asynchronous notifications, blocking mode.
  virtual void SetBlocking(TSocketHandle socket) = 0;
  // `address` in network byte order (as it lies in memory), `port` in host order.
  virtual bool Connect(TSocketHandle socket, std::uint32_t address, std::uint16_t port) = 0;
  // One send / recv call: the count, or -1 on error.
  virtual int Send(TSocketHandle socket, const void* data, int length) = 0;
  virtual int Receive(TSocketHandle socket, void* buffer, int size) = 0;
  // The number of bytes waiting, or -1 on error.
  virtual int Available(TSocketHandle socket) = 0;
  virtual bool Close(TSocketHandle socket) = 0;
  // The error of the last failed call (0: none).
  virtual int LastError() = 0;
  // Whether the error only says that the call would have blocked.
  virtual bool IsWouldBlock(int error) = 0;
  virtual std::string ErrorText(int error) = 0;
  // The first IPv4 address of the name (network order), 0 when unknown.
  virtual std::uint32_t ResolveHost(const std::string& host) = 0;
  virtual std::string LocalHostName() = 0;
  // The machine's own DNS servers as dotted addresses.
  virtual std::vector<std::string> SystemDnsServers() = 0;
};

// The layer in use; the Win32 half installs Windows Sockets, natively BSD
// sockets are the default. Null restores the default.
void SetSocketApi(TSocketApi* api);
TSocketApi& SocketApi();

}  // namespace net
