#include "ESockets.h"

#include <algorithm>
#include <chrono>
#include <thread>

#include "ByteReader.h"
#include "ECore.h"
#include "ENetBsd.h"
#include "ESmtpMail.h"
#include "SysUtils.h"

FW_IMPLEMENT_CLASS(TVantorClientSocket)
FW_IMPLEMENT_CLASS(TVantorClientSMTP)

namespace net {
namespace {

// Without an installed layer (a Windows build before its unit start-up) every call fails.
class TNoSocketApi : public TSocketApi {
 public:
  bool Startup() override { return false; }
  void Cleanup() override {}
  TSocketHandle Open(bool) override { return kInvalidSocket; }
  void SetBlocking(TSocketHandle) override {}
  bool Connect(TSocketHandle, std::uint32_t, std::uint16_t) override { return false; }
  int Send(TSocketHandle, const void*, int) override { return -1; }
  int Receive(TSocketHandle, void*, int) override { return -1; }
  int Available(TSocketHandle) override { return -1; }
  bool Close(TSocketHandle) override { return false; }
  int LastError() override { return 1; }
  bool IsWouldBlock(int) override { return false; }
  std::string ErrorText(int) override { return "No socket service."; }
  std::uint32_t ResolveHost(const std::string&) override { return 0; }
  std::string LocalHostName() override { return std::string(); }
  std::vector<std::string> SystemDnsServers() override { return {}; }
};

TSocketApi* g_api = nullptr;

}  // namespace

void SetSocketApi(TSocketApi* api) {
  g_api = api;
}

TSocketApi& SocketApi() {
  if (g_api) return *g_api;
#if !defined(_WIN32)
  return BsdSocketApi();
#else
  static TNoSocketApi none;
  return none;
#endif
}

}  // namespace net

namespace {

constexpr std::size_t kSendPiece = 1024;
constexpr std::size_t kErrorTextLimit = 1024;
int g_replySilenceMs = 1000;

using Clock = std::chrono::steady_clock;

void SleepMs(int ms) {
  std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

std::int64_t ElapsedMs(Clock::time_point since) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - since).count();
}

}  // namespace

void SetSocketReplySilence(int milliseconds) {
  g_replySilenceMs = std::max(1, milliseconds);
}

int SocketReplySilence() {
  return g_replySilenceMs;
}

// --- TVantorClientSocket ----------------------------------------------------------------------------
TVantorClientSocket::TVantorClientSocket(const std::string& host, std::uint16_t port, bool tcp, std::int32_t timeoutMs)
    : host_(host), port_(port), type_(tcp ? 1 : 2), timeoutMs_(timeoutMs) {}

void TVantorClientSocket::Destroy() {
  if (connected_) {
    try {
      Close();
    } catch (...) {
      // A socket that cannot be closed is gone with its object all the same.
    }
  }
  inherited::Destroy();
}

std::uint32_t TVantorClientSocket::ResolveHostAddress(const std::string& host) {
  return net::SocketApi().ResolveHost(host);
}

void TVantorClientSocket::Connect() {
  if (connected_) return;
  net::TSocketApi& api = net::SocketApi();
  SocketStartup();
  handle_ = api.Open(type_ == 1);
  if (handle_ == net::kInvalidSocket)
    RaiseSocketError(Format("Invalid socket: \"%s\".", api.ErrorText(api.LastError())));
  address_ = TSocketAddressRecord();
  address_.Address = ResolveHostAddress(host_);
  address_.Port = static_cast<std::uint16_t>((port_ >> 8) | (port_ << 8));
  api.SetBlocking(handle_);
  // An unknown name must not become address 0, which some systems take for this machine.
  const bool known = address_.Address != 0;
  if (!known || !api.Connect(handle_, address_.Address, port_)) {
    const std::string text = known ? api.ErrorText(api.LastError()) : "Unknown host \"" + host_ + "\".";
    api.Close(handle_);
    handle_ = net::kInvalidSocket;
    RaiseSocketError(Format("Connection error: \"%s\"", text));
  }
  connected_ = handle_ != net::kInvalidSocket;
  const auto* b = reinterpret_cast<const std::uint8_t*>(&address_.Address);
  sessionLog_ = Format("Connected to %d.%d.%d.%d port %d\r\n", b[0], b[1], b[2], b[3], port_);
  lastReply_.clear();
}

void TVantorClientSocket::Close() {
  const bool ok = handle_ == net::kInvalidSocket || net::SocketApi().Close(handle_);
  const int error = ok ? 0 : net::SocketApi().LastError();
  handle_ = net::kInvalidSocket;
  address_ = TSocketAddressRecord();
  connected_ = false;
  sessionLog_.clear();
  lastReply_.clear();
  if (!ok) RaiseSocketError(Format("Cannot close the socket: \"%s\"", net::SocketApi().ErrorText(error)));
}

void TVantorClientSocket::RaiseTransferError(const char* call, int error) {
  // The text is made before the socket is closed: closing empties the logs it carries.
  const std::string message = Format("Error into \"%s\": \"%s\"", call, net::SocketApi().ErrorText(error));
  try {
    RaiseSocketError(message);
  } catch (...) {
    if (handle_ != net::kInvalidSocket) net::SocketApi().Close(handle_);
    handle_ = net::kInvalidSocket;
    connected_ = false;
    throw;
  }
}

int TVantorClientSocket::SendBuffer(const void* data, int length) {
  net::TSocketApi& api = net::SocketApi();
  const int count = api.Send(handle_, data, length);
  if (count < 0) {
    const int error = api.LastError();
    if (error != 0 && !api.IsWouldBlock(error)) RaiseTransferError("send", error);
  }
  lastReply_.clear();
  return count;
}

int TVantorClientSocket::SendText(const std::string& text) {
  int total = 0;
  std::size_t sent = 0;
  while (sent < text.size()) {
    const std::size_t piece = std::min(kSendPiece, text.size() - sent);
    const int count = SendBuffer(text.data() + sent, static_cast<int>(piece));
    if (count <= 0) break;
    total += count;
    sent += static_cast<std::size_t>(count);
    if (OnSent) OnSent(this, static_cast<int>(sent + 1), static_cast<int>(text.size()));
  }
  return total;
}

int TVantorClientSocket::Receive(void* buffer, int size) {
  net::TSocketApi& api = net::SocketApi();
  const int count = size == -1 ? api.Available(handle_) : api.Receive(handle_, buffer, size);
  if (count < 0) {
    const int error = api.LastError();
    if (error != 0 && !api.IsWouldBlock(error)) RaiseTransferError("recv", error);
  }
  return count;
}

void TVantorClientSocket::ReadAvailable(std::string& text) {
  text.clear();
  if (handle_ == net::kInvalidSocket) return;
  int waiting = Receive(nullptr, -1);
  while (waiting > 0) {
    std::string chunk(static_cast<std::size_t>(waiting), '\0');
    const int count = Receive(chunk.data(), waiting);
    if (count <= 0) break;
    chunk.resize(static_cast<std::size_t>(count));
    text += chunk;
    sessionLog_ += chunk;
    lastReply_ += chunk;
    const auto start = Clock::now();
    waiting = 0;
    while (ElapsedMs(start) < g_replySilenceMs) {
      waiting = Receive(nullptr, -1);
      if (waiting > 0) break;
      SleepMs(1);
    }
  }
}

void TVantorClientSocket::ReadWithTimeout(std::string& text) {
  const auto start = Clock::now();
  for (;;) {
    ReadAvailable(text);
    if (!text.empty() || ElapsedMs(start) >= timeoutMs_) return;
    SleepMs(1);
  }
}

void TVantorClientSocket::ReadReplyOrTimeout(std::string& text) {
  ReadWithTimeout(text);
  if (text.empty()) RaiseSocketError("Socket timeout.");
}

void TVantorClientSocket::RaiseSocketError(const std::string& message) {
  std::string text;
  const std::size_t at = sessionLog_.empty() ? std::string::npos : message.find(sessionLog_);
  if (at == std::string::npos)
    text = message + "\r\n\r\nError log:\r\n" + lastReply_ + "\r\n\r\nSocket log:\r\n" + sessionLog_;
  else if (at == 0)
    text = "Error log:\r\n" + lastReply_ + "\r\n\r\nSocket log:\r\n" + message;
  else
    text = message + "\r\n\r\nError log:\r\n" + lastReply_;
  if (OnError) OnError(this, -1, text);
  if (text.size() > kErrorTextLimit) text = text.substr(0, kErrorTextLimit) + "...";
  if (QuietErrors) Abort();
  throw EVantorSocketError(text);
}

// --- TVantorClientSMTP ------------------------------------------------------------------------------
int SmtpReplyCode(std::string_view reply) {
  int code = -1;
  for (char c : reply) {
    if (c < '0' || c > '9') break;
    // Longer runs of digits than a code has saturate instead of overflowing.
    code = code < 0 ? c - '0' : std::min(code * 10 + (c - '0'), 1000000);
  }
  return code;
}

void TVantorClientSMTP::Connect() {
  TVantorClientSocket::Connect();
  if (!ReadReply({220})) RaiseSocketError(sessionLog_);
}

bool TVantorClientSMTP::ReadReply(std::initializer_list<std::uint16_t> codes) {
  std::string reply;
  ReadReplyOrTimeout(reply);
  const int code = SmtpReplyCode(reply);
  return code >= 0 && std::find(codes.begin(), codes.end(), code) != codes.end();
}

bool TVantorClientSMTP::SendCommand(const std::string& command, std::initializer_list<std::uint16_t> codes) {
  if (command.empty()) return false;
  std::string line = command;
  if (line.size() < 2 || line.compare(line.size() - 2, 2, "\r\n") != 0) line += "\r\n";
  const int sent = SendText(line);
  bool ok = false;
  if (sent == static_cast<int>(line.size())) {
    sessionLog_ += line;
    lastReply_.clear();
    ok = ReadReply(codes);
  }
  if (!ok) RaiseSocketError(sessionLog_);
  return true;
}

// --- MX lookup --------------------------------------------------------------------------------------
const char* const kFallbackDnsServer = "8.8.8.8";

namespace {

constexpr int kMaxNamePointers = 64;
std::vector<std::string> g_dnsServers;
std::uint16_t g_dnsPort = 53;

void PutU16(std::string& out, std::uint16_t value) {
  out += static_cast<char>(value >> 8);
  out += static_cast<char>(value & 0xFF);
}

}  // namespace

std::string BuildMxQuery(std::string_view domain) {
  std::string q;
  PutU16(q, kMxQueryId);
  PutU16(q, 0x0100);
  PutU16(q, 1);
  PutU16(q, 0);
  PutU16(q, 0);
  PutU16(q, 0);
  std::size_t start = 0;
  while (start <= domain.size()) {
    std::size_t dot = domain.find('.', start);
    if (dot == std::string_view::npos) dot = domain.size();
    // A label has at most 63 bytes: a longer length byte would read as a pointer.
    std::string_view label = domain.substr(start, std::min<std::size_t>(dot - start, 63));
    if (!label.empty()) {
      q += static_cast<char>(label.size());
      q.append(label.data(), label.size());
    }
    start = dot + 1;
  }
  q += '\0';
  PutU16(q, 15);
  PutU16(q, 1);
  return q;
}

bool ReadDnsName(std::string_view packet, std::size_t& position, std::string& name) {
  name.clear();
  std::size_t at = position;
  std::size_t after = std::string_view::npos;
  int pointers = 0;
  for (;;) {
    if (at >= packet.size()) break;
    const auto b = static_cast<std::uint8_t>(packet[at]);
    if (b >= 0xC0) {
      if (at + 1 >= packet.size()) break;
      const std::size_t target = (static_cast<std::size_t>(b & 0x3F) << 8) | static_cast<std::uint8_t>(packet[at + 1]);
      if (target >= at || ++pointers > kMaxNamePointers) break;
      if (after == std::string_view::npos) after = at + 2;
      at = target;
      continue;
    }
    if (b == 0) {
      if (!name.empty()) name.pop_back();
      position = after != std::string_view::npos ? after : at + 1;
      return true;
    }
    if (b > 63 || at + 1 + b > packet.size() || name.size() + b + 1 > 255) break;
    name.append(packet.substr(at + 1, b));
    name += '.';
    at += 1 + static_cast<std::size_t>(b);
  }
  name.clear();
  return false;
}

bool ParseMxAnswer(std::string_view packet, std::string& host) {
  host.clear();
  try {
    ByteReader r(packet);
    const std::uint16_t id = r.U16BE();
    const std::uint16_t flags = r.U16BE();
    if (id != kMxQueryId || !(flags & 0x8000) || (flags & 0x000F) != 0) return false;
    const std::uint16_t questions = r.U16BE();
    const std::uint16_t answers = r.U16BE();
    r.Skip(4);  // authority and additional counts
    std::string name;
    std::size_t at = r.Position();
    for (std::uint16_t i = 0; i < questions; ++i) {
      if (!ReadDnsName(packet, at, name)) return false;
      r.Seek(at);
      r.Skip(4);  // type and class
      at = r.Position();
    }
    for (std::uint16_t i = 0; i < answers; ++i) {
      if (!ReadDnsName(packet, at, name)) return false;
      r.Seek(at);
      const std::uint16_t type = r.U16BE();
      r.Skip(6);  // class and time to live
      const std::uint16_t length = r.U16BE();
      const std::size_t data = r.Position();
      r.Skip(length);
      if (type == 15 && length >= 3) {
        // The exchange follows the 16-bit preference; it may point back into the packet but not past its record.
        std::size_t exchange = data + 2;
        if (ReadDnsName(packet.substr(0, data + length), exchange, name) && !name.empty()) {
          host = name;
          return true;
        }
      }
      at = r.Position();
    }
  } catch (const EByteRange&) {
    // A packet cut inside a field.
  }
  return false;
}

std::vector<std::string> GetDnsServers() {
  std::vector<std::string> servers;
  for (const std::string& s : net::SocketApi().SystemDnsServers()) {
    const std::string trimmed = Trim(s);
    if (!trimmed.empty() && trimmed != "0.0.0.0") servers.push_back(trimmed);
  }
  servers.push_back(kFallbackDnsServer);
  return servers;
}

void SetDnsLookupTarget(const std::vector<std::string>& servers, std::uint16_t port) {
  g_dnsServers = servers;
  g_dnsPort = servers.empty() ? 53 : port;
}

std::int32_t MxTryTimeout(std::int32_t timeoutMs, int tryIndex) {
  return (timeoutMs + 150) / 3 + tryIndex * 100;
}

void ResolveMailExchanger(const std::string& address, std::int32_t timeoutMs, std::string& host) {
  host.clear();
  const std::size_t at = address.find('@');
  const std::string domain = at == std::string::npos ? address : address.substr(at + 1);
  const std::vector<std::string> servers = g_dnsServers.empty() ? GetDnsServers() : g_dnsServers;
  const std::string query = BuildMxQuery(domain);
  for (const std::string& server : servers) {
    for (int attempt = 0; attempt < 3 && host.empty(); ++attempt) {
      TVantorClientSocket* s = New<TVantorClientSocket>(server, g_dnsPort, false, MxTryTimeout(timeoutMs, attempt));
      try {
        s->Connect();
        if (s->SendText(query) == static_cast<int>(query.size())) {
          std::string answer;
          s->ReadWithTimeout(answer);
          if (!answer.empty()) ParseMxAnswer(answer, host);
        }
      } catch (const EVantorSocketError&) {
        // A server that cannot be reached counts as one that does not answer.
      } catch (...) {
        s->Free();
        throw;
      }
      s->Free();
    }
    if (!host.empty()) return;
  }
  throw EVantorSocketError(Format("Cannot resolve the \"%s\" MX record.", domain));
}

// --- The unit ---------------------------------------------------------------------------------------
namespace {

bool g_socketsStarted = false;
int g_socketInits = 0;

void ESocketsInitStep() {
  SocketStartup();
}

void ESocketsDoneStep() {
  SocketCleanup();
}

}  // namespace

bool SocketStartup() {
  if (!g_socketsStarted) g_socketsStarted = net::SocketApi().Startup();
  return g_socketsStarted;
}

void SocketCleanup() {
  if (!g_socketsStarted) return;
  net::SocketApi().Cleanup();
  g_socketsStarted = false;
}

void InitESockets() {
  if (g_socketInits++ == 0) RunGuardedStep(ESocketsInitStep, "ESockets.Init");
}

void DoneESockets() {
  if (g_socketInits == 0 || --g_socketInits > 0) return;
  SetSmtpHeloHost(std::string());
  RunGuardedStep(ESocketsDoneStep, "ESockets.Done");
}
