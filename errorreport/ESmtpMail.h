// Mail by SMTP: the MIME message with its attachments and one session per
// recipient, either through the configured server or straight to each
// recipient domain's mail exchanger.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "ESockets.h"
#include "Object.h"

// The sending window as the mail sees it. The default does nothing.
class TSmtpSendObserver {
 public:
  virtual ~TSmtpSendObserver() = default;
  // The option text `textIndex` (112 resolving, 114 connecting, 115 connected,
  // 116 sending) for message `current` of `count`.
  virtual void StepText(int /*textIndex*/, int /*current*/, int /*count*/) {}
  virtual void Progress(int /*percent*/) {}
  // Between window updates and commands (the modeless window's message pump).
  virtual void PumpMessages() {}
  // The message body has been sent (the modeless window goes away here).
  virtual void BodySent() {}
  virtual void Close() {}
  // Whether the window is open (progress of the body is reported only then).
  virtual bool WindowOpen() { return false; }
};

// What the mail takes from the report besides its arguments.
struct TSmtpMailFacts {
  // The name after HELO / EHLO; empty: SmtpHeloHost, then the computer's host name.
  std::string HeloHost;
  // The display name put before a plain sender address (registered owner or user).
  std::string SenderDisplayName;
  // The attachments' names (DecorateSendFileName).
  std::uint16_t SendFlags = 0;
  std::string ComputerName;
  double ExceptionTime = 0;
  // The "Date:" value; empty: the current local time.
  std::string DateText;
  // The port of the mail exchangers in direct mode.
  std::uint16_t DirectPort = 25;
  TSmtpSendObserver* Observer = nullptr;
};

// The host name HELO and EHLO announce when set (empty by default).
void SetSmtpHeloHost(const std::string& host);
const std::string& SmtpHeloHost();

constexpr const char* kMimeBoundary = "=_xcjvnxkbhvfkxzhfdbvzldjhfv";

// "Message 1/2: text".
std::string FormatSendingStepText(std::string_view prefix, int current, int count, std::string_view text);
// The sender as it goes into "From:" and the address for "MAIL FROM:<...>".
std::string SmtpSenderText(const std::string& from, const std::string& displayName);
std::string SmtpEnvelopeAddress(const std::string& senderText);
// Base64 in lines of 80 characters, every full line ended by CRLF.
std::string EncodeBase64Lines(std::string_view data);
// One attachment part; "image/png" for a ".png" name.
std::string BuildMimeAttachmentPart(const std::string& nameInMail, std::string_view data);
// The parts of the files that exist: the list first, then the names.
std::string BuildMimeAttachments(const std::vector<std::string>& attachmentNames,
                                 const std::vector<std::string>& attachmentList, const TSmtpMailFacts& facts);
// The whole message up to and including the MIME body's closing boundary.
std::string BuildSmtpMessageText(const std::string& senderText, const std::string& recipient,
                                 const std::string& subject, const std::string& body,
                                 const std::vector<std::string>& attachmentNames,
                                 const std::vector<std::string>& attachmentList, const TSmtpMailFacts& facts);
// The DATA text of a message: every bare CR or LF becomes CRLF, a leading "."
// of a line is doubled, and the text ends with CRLF "." (the command adds the last CRLF).
std::string SmtpDataText(std::string_view message);

// One session for one recipient; false (and the library's SMTP warning) on any failure.
bool SendSmtpMessage(const std::string& from, const std::string& host, std::uint16_t port, const std::string& user,
                     const std::string& password, const std::string& recipient, const std::string& subject,
                     const std::string& body, const std::vector<std::string>& attachmentNames,
                     const std::vector<std::string>& attachmentList, const TSmtpMailFacts& facts);
// The mail to every recipient (separated by "," or ";"); `useMx` delivers to
// each domain's mail exchanger. True when any session succeeded.
bool SendSmtpMail(bool useMx, const std::string& from, const std::string& host, std::uint16_t port,
                  const std::string& user, const std::string& password, const std::string& recipients,
                  const std::string& subject, const std::string& body, const std::vector<std::string>& attachmentNames,
                  const std::vector<std::string>& attachmentList, const TSmtpMailFacts& facts);

// The receiver of the socket's sent-progress event.
class TSendObject : public TObject {
  FW_CLASS(TSendObject, TObject)
 public:
  explicit TSendObject(TSmtpSendObserver* observer) : observer_(observer) {}
  void SmtpSentProgress(TObject* sender, int sent, int total);

 private:
  TSmtpSendObserver* observer_;
};
