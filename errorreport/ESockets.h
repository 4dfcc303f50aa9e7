// A small blocking client socket with a session log, the SMTP reply layer on
// it, and the mail-exchanger (MX) lookup of a recipient's domain over UDP.
#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

#include "ENetApi.h"
#include "Exceptions.h"
#include "Method.h"
#include "Object.h"

FW_EXCEPTION(EVantorSocketError, Exception);

using TSocketErrorEvent = Method<void(TObject* sender, int code, const std::string& message)>;
using TSocketSentEvent = Method<void(TObject* sender, int position, int total)>;

// The IPv4 address record of a socket (family, port and address in network order).
struct TSocketAddressRecord {
  std::uint16_t Family = 2;
  std::uint16_t Port = 0;
  std::uint32_t Address = 0;
  std::uint8_t Zero[8] = {};
};

class TVantorClientSocket : public TObject {
  FW_CLASS(TVantorClientSocket, TObject)
 public:
  TVantorClientSocket(const std::string& host, std::uint16_t port, bool tcp, std::int32_t timeoutMs);
  void Destroy() override;

  virtual void Connect();
  virtual void Close();

  std::uint32_t ResolveHostAddress(const std::string& host);
  int SendBuffer(const void* data, int length);
  // Sends in pieces of at most 1024 bytes, telling OnSent after each; the sum of the counts.
  int SendText(const std::string& text);
  // size -1: the number of bytes waiting; else one receive call.
  int Receive(void* buffer, int size);
  // Everything that arrives until the line has been silent for the reply silence (1000 ms).
  void ReadAvailable(std::string& text);
  // ReadAvailable until something arrived or the time-out has passed.
  void ReadWithTimeout(std::string& text);
  // ReadWithTimeout; nothing arrived: "Socket timeout.".
  void ReadReplyOrTimeout(std::string& text);
  // The error text (message, last reply, session log; at most 1024 characters
  // plus "...") to OnError, then raised.
  [[noreturn]] void RaiseSocketError(const std::string& message);

  bool Connected() const { return connected_; }
  const std::string& SessionLog() const { return sessionLog_; }
  const std::string& LastReply() const { return lastReply_; }
  const TSocketAddressRecord& AddressRecord() const { return address_; }
  std::int32_t Timeout() const { return timeoutMs_; }

  TSocketErrorEvent OnError;
  TSocketSentEvent OnSent;
  bool QuietErrors = false;

 protected:
  TSocketAddressRecord address_;
  std::string host_;
  std::uint16_t port_ = 0;
  std::int32_t type_ = 1;
  std::int32_t timeoutMs_ = 0;
  bool connected_ = false;
  net::TSocketHandle handle_ = net::kInvalidSocket;
  std::string sessionLog_;
  std::string lastReply_;

 private:
  [[noreturn]] void RaiseTransferError(const char* call, int error);
};

class TVantorClientSMTP : public TVantorClientSocket {
  FW_CLASS(TVantorClientSMTP, TVantorClientSocket)
 public:
  using TVantorClientSocket::TVantorClientSocket;
  // Connects, then reads the greeting (220).
  void Connect() override;
  bool ReadReply(std::initializer_list<std::uint16_t> codes);
  // Sends the command (CRLF added unless present) and checks the reply's code;
  // raises when not every byte went out or the code is not accepted.
  bool SendCommand(const std::string& command, std::initializer_list<std::uint16_t> codes);
};

// The reply code: the number formed by the reply's leading decimal digits
// (the first line's for a multi-line reply), -1 when it starts with no digit.
int SmtpReplyCode(std::string_view reply);

// How long a reply may pause before it counts as complete (1000 ms; shorter for tests).
void SetSocketReplySilence(int milliseconds);
int SocketReplySilence();

// --- MX lookup ------------------------------------------------------------------------------------
constexpr std::uint16_t kMxQueryId = 0x4141;
// The fixed resolver asked after the machine's own DNS servers.
extern const char* const kFallbackDnsServer;

std::string BuildMxQuery(std::string_view domain);
// Reads the (possibly compressed) name at the 0-based `position` of the
// packet. Only pointers that go backwards are followed, at most 64. On
// success `position` is after the name (after the first pointer when one was
// followed). False, with an empty name, for a name that is cut off or malformed.
bool ReadDnsName(std::string_view packet, std::size_t& position, std::string& name);
// The exchange host of the first MX record of an answer to BuildMxQuery; empty
// when the id, the response flag, the result code or the records do not fit.
bool ParseMxAnswer(std::string_view packet, std::string& host);

// The machine's DNS servers (none "0.0.0.0") and then kFallbackDnsServer.
std::vector<std::string> GetDnsServers();
// Replaces the servers (and port 53) the MX lookup asks; an empty list restores them.
void SetDnsLookupTarget(const std::vector<std::string>& servers, std::uint16_t port);
// The exchange of the domain after the first "@" (the whole text without one):
// three tries per server, each waiting (timeoutMs + 150) / 3 ms plus 100 ms per try.
// Raises "Cannot resolve the \"%s\" MX record." when no server gives one.
void ResolveMailExchanger(const std::string& address, std::int32_t timeoutMs, std::string& host);
// The time-outs of the three tries.
std::int32_t MxTryTimeout(std::int32_t timeoutMs, int tryIndex);

// --- The unit ------------------------------------------------------------------------------------
bool SocketStartup();
void SocketCleanup();
// "ESockets.Init" / "ESockets.Done"; nested calls count.
void InitESockets();
void DoneESockets();
