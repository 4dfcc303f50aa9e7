// Arbitrary bytes as a server's replies, in pieces: the first byte of each
// piece gives its length. The SMTP client reads them through a socket layer
// that hands the pieces out, checks the codes and raises only its own error.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "ESockets.h"

namespace {

class PieceSocketApi : public net::TSocketApi {
 public:
  std::vector<std::string> pieces;
  std::size_t next = 0;
  bool Startup() override { return true; }
  void Cleanup() override {}
  net::TSocketHandle Open(bool) override { return 3; }
  void SetBlocking(net::TSocketHandle) override {}
  bool Connect(net::TSocketHandle, std::uint32_t, std::uint16_t) override { return true; }
  int Send(net::TSocketHandle, const void*, int length) override { return length; }
  int Receive(net::TSocketHandle, void* buffer, int size) override {
    if (next >= pieces.size()) return 0;
    const int n = std::min<int>(size, static_cast<int>(pieces[next].size()));
    std::memcpy(buffer, pieces[next].data(), static_cast<std::size_t>(n));
    pieces[next].erase(0, static_cast<std::size_t>(n));
    if (pieces[next].empty()) ++next;
    return n;
  }
  int Available(net::TSocketHandle) override {
    return next < pieces.size() ? static_cast<int>(pieces[next].size()) : 0;
  }
  bool Close(net::TSocketHandle) override { return true; }
  int LastError() override { return 0; }
  bool IsWouldBlock(int) override { return false; }
  std::string ErrorText(int) override { return "error"; }
  std::uint32_t ResolveHost(const std::string&) override { return 0x0100007F; }
  std::string LocalHostName() override { return "fuzz"; }
  std::vector<std::string> SystemDnsServers() override { return {}; }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  PieceSocketApi api;
  for (std::size_t at = 0; at < size;) {
    const std::size_t n = std::min<std::size_t>(data[at] + 1u, size - at - 1);
    api.pieces.emplace_back(reinterpret_cast<const char*>(data + at + 1), n);
    at += 1 + n;
    if (api.pieces.back().empty()) api.pieces.pop_back();
  }
  net::SetSocketApi(&api);
  SetSocketReplySilence(1);
  TVantorClientSMTP* client = New<TVantorClientSMTP>("fuzz", 25, true, 0);
  try {
    client->Connect();
    client->SendCommand("EHLO fuzz", {250});
    client->SendCommand("DATA", {354});
  } catch (const EVantorSocketError& e) {
    if (std::strlen(e.what()) > 1027) std::abort();
  }
  client->Free();
  net::SetSocketApi(nullptr);
  const int code = SmtpReplyCode(std::string_view(reinterpret_cast<const char*>(data), size));
  if (code < -1 || code > 1000000) std::abort();
  return 0;
}
