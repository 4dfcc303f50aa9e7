#include "ENetBsd.h"

#if !defined(_WIN32)

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <sstream>

namespace net {
namespace {

class TBsdSocketApi : public TSocketApi {
 public:
  bool Startup() override { return true; }
  void Cleanup() override {}
  TSocketHandle Open(bool stream) override {
    const int s = ::socket(AF_INET, stream ? SOCK_STREAM : SOCK_DGRAM, 0);
    Remember(s);
    return s < 0 ? kInvalidSocket : s;
  }
  void SetBlocking(TSocketHandle socket) override {
    int off = 0;
    ::ioctl(static_cast<int>(socket), FIONBIO, &off);
  }
  bool Connect(TSocketHandle socket, std::uint32_t address, std::uint16_t port) override {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = address;
    const int r = ::connect(static_cast<int>(socket), reinterpret_cast<const sockaddr*>(&a), sizeof a);
    Remember(r);
    return r == 0;
  }
  int Send(TSocketHandle socket, const void* data, int length) override {
    const ssize_t r = ::send(static_cast<int>(socket), data, static_cast<std::size_t>(length), MSG_NOSIGNAL);
    Remember(static_cast<int>(r));
    return static_cast<int>(r);
  }
  int Receive(TSocketHandle socket, void* buffer, int size) override {
    const ssize_t r = ::recv(static_cast<int>(socket), buffer, static_cast<std::size_t>(size), 0);
    Remember(static_cast<int>(r));
    return static_cast<int>(r);
  }
  int Available(TSocketHandle socket) override {
    int count = 0;
    const int r = ::ioctl(static_cast<int>(socket), FIONREAD, &count);
    Remember(r);
    return r < 0 ? -1 : count;
  }
  bool Close(TSocketHandle socket) override {
    const int r = ::close(static_cast<int>(socket));
    Remember(r);
    return r == 0;
  }
  int LastError() override { return error_; }
  bool IsWouldBlock(int error) override { return error == EWOULDBLOCK || error == EAGAIN; }
  std::string ErrorText(int error) override { return std::strerror(error); }
  std::uint32_t ResolveHost(const std::string& host) override {
    if (host.empty()) return 0;
    in_addr a{};
    if (::inet_pton(AF_INET, host.c_str(), &a) == 1) return a.s_addr;
    addrinfo hints{};
    hints.ai_family = AF_INET;
    addrinfo* list = nullptr;
    if (::getaddrinfo(host.c_str(), nullptr, &hints, &list) != 0 || !list) return 0;
    const std::uint32_t result = reinterpret_cast<const sockaddr_in*>(list->ai_addr)->sin_addr.s_addr;
    ::freeaddrinfo(list);
    return result;
  }
  std::string LocalHostName() override {
    char name[250] = {};
    if (::gethostname(name, sizeof name - 1) != 0) return std::string();
    return name;
  }
  std::vector<std::string> SystemDnsServers() override {
    std::vector<std::string> servers;
    std::ifstream in("/etc/resolv.conf");
    std::string line;
    while (std::getline(in, line)) {
      std::istringstream words(line);
      std::string key, value;
      in_addr a{};
      if (words >> key >> value && key == "nameserver" && ::inet_pton(AF_INET, value.c_str(), &a) == 1)
        servers.push_back(value);
    }
    return servers;
  }

 private:
  void Remember(int result) { error_ = result < 0 ? errno : 0; }
  int error_ = 0;
};

}  // namespace

TSocketApi& BsdSocketApi() {
  static TBsdSocketApi api;
  return api;
}

}  // namespace net

#endif
