// clang-format off
#include <winsock2.h>
#include <windows.h>
#include <iphlpapi.h>
// clang-format on

#include "ESocketsWin.h"

#include <cstring>
#include <memory>

#include "ESockets.h"
#include "Win32Platform.h"

namespace {

template <typename F>
F LookUp(HMODULE module, const char* name) {
  return reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

SOCKET AsSocket(net::TSocketHandle handle) {
  return static_cast<SOCKET>(handle);
}

class TWinsockApi : public net::TSocketApi {
 public:
  bool Startup() override {
    WSADATA data;
    return WSAStartup(MAKEWORD(1, 1), &data) == 0;
  }
  void Cleanup() override { WSACleanup(); }
  net::TSocketHandle Open(bool stream) override {
    const SOCKET s = socket(AF_INET, stream ? SOCK_STREAM : SOCK_DGRAM, 0);
    return s == INVALID_SOCKET ? net::kInvalidSocket : static_cast<net::TSocketHandle>(s);
  }
  void SetBlocking(net::TSocketHandle socket) override {
    WSAAsyncSelect(AsSocket(socket), nullptr, 0, 0);
    u_long off = 0;
    ioctlsocket(AsSocket(socket), FIONBIO, &off);
  }
  bool Connect(net::TSocketHandle socket, std::uint32_t address, std::uint16_t port) override {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = address;
    return connect(AsSocket(socket), reinterpret_cast<const sockaddr*>(&a), sizeof a) == 0;
  }
  int Send(net::TSocketHandle socket, const void* data, int length) override {
    return send(AsSocket(socket), static_cast<const char*>(data), length, 0);
  }
  int Receive(net::TSocketHandle socket, void* buffer, int size) override {
    return recv(AsSocket(socket), static_cast<char*>(buffer), size, 0);
  }
  int Available(net::TSocketHandle socket) override {
    u_long count = 0;
    if (ioctlsocket(AsSocket(socket), FIONREAD, &count) != 0) return -1;
    return static_cast<int>(count);
  }
  bool Close(net::TSocketHandle socket) override { return closesocket(AsSocket(socket)) == 0; }
  int LastError() override { return WSAGetLastError(); }
  bool IsWouldBlock(int error) override { return error == WSAEWOULDBLOCK; }
  std::string ErrorText(int error) override { return SysErrorMessage(static_cast<DWORD>(error)); }
  std::uint32_t ResolveHost(const std::string& host) override {
    if (host.empty()) return 0;  // gethostbyname("") names this machine
    const unsigned long dotted = inet_addr(host.c_str());
    if (dotted != INADDR_NONE) return static_cast<std::uint32_t>(dotted);
    const hostent* entry = gethostbyname(host.c_str());
    if (!entry || entry->h_addrtype != AF_INET || entry->h_length != 4 || !entry->h_addr_list[0]) return 0;
    std::uint32_t address;
    std::memcpy(&address, entry->h_addr_list[0], sizeof address);
    return address;
  }
  std::string LocalHostName() override {
    char name[250] = {};
    if (gethostname(name, sizeof name - 1) != 0) return std::string();
    return name;
  }
  std::vector<std::string> SystemDnsServers() override {
    std::vector<std::string> servers;
    HMODULE helper = LoadLibraryA("IPHLPAPI.DLL");
    if (!helper) return servers;
    using GetNetworkParamsFn = DWORD(WINAPI*)(PFIXED_INFO, PULONG);
    const auto getParams = LookUp<GetNetworkParamsFn>(helper, "GetNetworkParams");
    ULONG size = 0;
    if (getParams && getParams(nullptr, &size) == ERROR_BUFFER_OVERFLOW && size >= sizeof(FIXED_INFO) &&
        size < (1u << 20)) {
      std::unique_ptr<std::uint8_t[]> buffer(new std::uint8_t[size]);
      auto* info = reinterpret_cast<FIXED_INFO*>(buffer.get());
      if (getParams(info, &size) == NO_ERROR) {
        for (const IP_ADDR_STRING* dns = &info->DnsServerList; dns && servers.size() < 64; dns = dns->Next) {
          const std::string text(dns->IpAddress.String, strnlen(dns->IpAddress.String, sizeof dns->IpAddress.String));
          servers.push_back(text);
        }
      }
    }
    FreeLibrary(helper);
    return servers;
  }
};

}  // namespace

net::TSocketApi& WinsockApi() {
  static TWinsockApi api;
  return api;
}

void InitESocketsWin() {
  net::SetSocketApi(&WinsockApi());
  InitESockets();
}

void DoneESocketsWin() {
  DoneESockets();
}
