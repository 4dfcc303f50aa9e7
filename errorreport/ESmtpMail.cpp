#include "ESmtpMail.h"

#include <chrono>
#include <ctime>
#include <exception>

#include "EBase64.h"
#include "ECore.h"
#include "EReportFiles.h"
#include "FileApi.h"
#include "Streams.h"
#include "SysUtils.h"

FW_IMPLEMENT_CLASS(TSendObject)

namespace {

constexpr const char* kCrLf = "\r\n";
constexpr std::size_t kBase64LineLength = 80;
constexpr std::int32_t kSmtpTimeoutMs = 30000;
constexpr std::int32_t kMxTimeoutMs = 30000;
constexpr const char* kMessageIdDomain = "errorreport.invalid";

std::string g_smtpHeloHost;

bool ReadWholeFile(const std::string& fileName, std::string& data) {
  try {
    TOwned<TFileStream> f(New<TFileStream>(fileName, fmOpenRead | fmShareDenyNone));
    const std::int64_t size = f->Size();
    if (size < 0) return false;
    data.resize(static_cast<std::size_t>(size));
    return size == 0 || f->Read(data.data(), size) == size;
  } catch (...) {
    return false;
  }
}

// Local time minus UTC, in minutes.
std::int32_t LocalBiasMinutes() {
  const std::time_t now = std::time(nullptr);
  std::tm local = *std::localtime(&now);
  std::tm utc = *std::gmtime(&now);
  utc.tm_isdst = local.tm_isdst;
  return static_cast<std::int32_t>(std::difftime(std::mktime(&local), std::mktime(&utc)) / 60);
}

std::int64_t TickCountMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

std::vector<std::string> SplitRecipients(const std::string& recipients) {
  std::vector<std::string> result;
  std::string piece;
  for (std::size_t i = 0; i <= recipients.size(); ++i) {
    if (i == recipients.size() || recipients[i] == ',' || recipients[i] == ';') {
      piece = Trim(piece);
      if (!piece.empty()) result.push_back(piece);
      piece.clear();
    } else {
      piece += recipients[i];
    }
  }
  return result;
}

TSmtpSendObserver& ObserverOf(const TSmtpMailFacts& facts) {
  static TSmtpSendObserver none;
  return facts.Observer ? *facts.Observer : none;
}

struct TStepContext {
  int current = 1;
  int count = 1;
};

}  // namespace

void SetSmtpHeloHost(const std::string& host) {
  g_smtpHeloHost = host;
}

const std::string& SmtpHeloHost() {
  return g_smtpHeloHost;
}

std::string FormatSendingStepText(std::string_view prefix, int current, int count, std::string_view text) {
  return Format("%s %d/%d: ", std::string(prefix), current, count) + std::string(text);
}

std::string SmtpSenderText(const std::string& from, const std::string& displayName) {
  if (from.find('"') != std::string::npos || from.find('<') != std::string::npos) return CollapseControlChars(from);
  return "\"" + displayName + "\" <" + CollapseControlChars(from) + ">";
}

std::string SmtpEnvelopeAddress(const std::string& senderText) {
  const std::size_t marker = senderText.find("\" <");
  if (marker == std::string::npos) return senderText;
  std::string address = senderText.substr(marker + 3);
  if (!address.empty()) address.pop_back();
  return address;
}

std::string EncodeBase64Lines(std::string_view data) {
  std::string encoded;
  Base64EncodeBuffer(data.data(), data.size(), encoded);
  std::string lines;
  lines.reserve(encoded.size() + encoded.size() / kBase64LineLength * 2);
  for (std::size_t at = 0; at < encoded.size(); at += kBase64LineLength) {
    const std::size_t n = std::min(kBase64LineLength, encoded.size() - at);
    lines.append(encoded, at, n);
    if (n == kBase64LineLength) lines += kCrLf;
  }
  return lines;
}

std::string BuildMimeAttachmentPart(const std::string& nameInMail, std::string_view data) {
  const std::string type = UpperCase(ExtractFileExt(nameInMail)) == ".PNG" ? "image/png" : "application/octet-stream";
  std::string part = kCrLf;
  part += std::string("--") + kMimeBoundary + kCrLf;
  part += "Content-Type: " + type + ";" + kCrLf;
  part += "        name=\"" + nameInMail + "\"" + kCrLf;
  part += std::string("Content-Transfer-Encoding: base64") + kCrLf;
  part += std::string("Content-Disposition: attachment;") + kCrLf;
  part += "        filename=\"" + nameInMail + "\"" + kCrLf + kCrLf;
  part += EncodeBase64Lines(data) + kCrLf;
  return part;
}

std::string BuildMimeAttachments(const std::vector<std::string>& attachmentNames,
                                 const std::vector<std::string>& attachmentList, const TSmtpMailFacts& facts) {
  std::string parts;
  auto add = [&](const std::string& raw) {
    const std::string file = Trim(raw);
    std::string data;
    if (file.empty() || !FileExists(file) || !ReadWholeFile(file, data)) return;
    const std::string name = DecorateSendFileName(file, facts.SendFlags, facts.ComputerName, facts.ExceptionTime);
    parts += BuildMimeAttachmentPart(name, data);
  };
  for (const std::string& f : attachmentList) add(f);
  for (const std::string& f : attachmentNames) add(f);
  return parts;
}

std::string BuildSmtpMessageText(const std::string& senderText, const std::string& recipient,
                                 const std::string& subject, const std::string& body,
                                 const std::vector<std::string>& attachmentNames,
                                 const std::vector<std::string>& attachmentList, const TSmtpMailFacts& facts) {
  const std::string date = facts.DateText.empty() ? FormatMailDate(Now(), LocalBiasMinutes()) : facts.DateText;
  std::string m;
  m += "Date: " + date + kCrLf;
  m += "From: " + senderText + kCrLf;
  m += "Subject: " + CollapseControlChars(subject) + kCrLf;
  m += "To: <" + CollapseControlChars(recipient) + ">" + kCrLf;
  m += std::string("Content-Type: multipart/mixed; boundary=\"") + kMimeBoundary + "\";" + kCrLf;
  m += std::string("MIME-Version: 1.0") + kCrLf;
  m += "Message-ID: <" + std::to_string(TickCountMs()) + "@" + kMessageIdDomain + ">" + kCrLf + kCrLf;
  m += std::string("This is a multi-part message in MIME format") + kCrLf + kCrLf;
  m += std::string("--") + kMimeBoundary + kCrLf;
  m += std::string("Content-Type: text/plain") + kCrLf;
  m += std::string("Content-Transfer-Encoding: 7bit") + kCrLf + kCrLf;
  m += body + kCrLf;
  m += BuildMimeAttachments(attachmentNames, attachmentList, facts);
  m += std::string("--") + kMimeBoundary + "--" + kCrLf;
  return m;
}

std::string SmtpDataText(std::string_view message) {
  std::string out;
  out.reserve(message.size() + message.size() / 64 + 8);
  bool lineStart = true;
  for (std::size_t i = 0; i < message.size(); ++i) {
    const char c = message[i];
    if (c == '\r' || c == '\n') {
      if (c == '\r' && i + 1 < message.size() && message[i + 1] == '\n') ++i;
      out += kCrLf;
      lineStart = true;
      continue;
    }
    // A line starting with "." would otherwise lose it, and a line of "." alone would end the mail.
    if (lineStart && c == '.') out += '.';
    out += c;
    lineStart = false;
  }
  if (!lineStart) out += kCrLf;
  out += '.';
  return out;
}

void TSendObject::SmtpSentProgress(TObject*, int sent, int total) {
  if (observer_ && total > 0) observer_->Progress(static_cast<int>(static_cast<std::int64_t>(sent) * 100 / total));
}

namespace {

bool SendSmtpCommand(TVantorClientSMTP* client, const std::string& command, std::initializer_list<std::uint16_t> codes,
                     TSmtpSendObserver& observer) {
  observer.PumpMessages();
  const bool ok = client->SendCommand(command, codes);
  observer.PumpMessages();
  return ok;
}

bool RunSmtpSession(const std::string& from, const std::string& host, std::uint16_t port, const std::string& user,
                    const std::string& password, const std::string& recipient, const std::string& subject,
                    const std::string& body, const std::vector<std::string>& attachmentNames,
                    const std::vector<std::string>& attachmentList, const TSmtpMailFacts& facts,
                    const TStepContext& step) {
  TSmtpSendObserver& observer = ObserverOf(facts);
  observer.StepText(114, step.current, step.count);
  TOwned<TVantorClientSMTP> client(New<TVantorClientSMTP>(host, port, true, kSmtpTimeoutMs));
  client->Connect();

  const std::string sender = SmtpSenderText(from, facts.SenderDisplayName);
  const std::string envelope = SmtpEnvelopeAddress(sender);
  std::string helo = facts.HeloHost.empty() ? SmtpHeloHost() : facts.HeloHost;
  if (helo.empty()) helo = net::SocketApi().LocalHostName();

  observer.StepText(115, step.current, step.count);
  bool ok;
  if (!user.empty() || !password.empty()) {
    ok = SendSmtpCommand(client.get(), "EHLO " + helo, {250}, observer) &&
         SendSmtpCommand(client.get(), "RSET", {250}, observer) &&
         SendSmtpCommand(client.get(), "AUTH LOGIN", {334, 500, 502}, observer);
    // The credentials go out only while the server asks for them (334); a
    // refused AUTH LOGIN would otherwise read them as commands.
    if (ok && SmtpReplyCode(client->LastReply()) == 334) {
      std::string encoded;
      Base64EncodeText(user, encoded);
      ok = SendSmtpCommand(client.get(), encoded, {334, 500, 502}, observer);
      if (ok && SmtpReplyCode(client->LastReply()) == 334) {
        Base64EncodeText(password, encoded);
        ok = SendSmtpCommand(client.get(), encoded, {235, 500, 502}, observer);
      }
    }
    ok = ok && SendSmtpCommand(client.get(), "MAIL FROM:<" + envelope + ">", {250}, observer);
  } else {
    ok = SendSmtpCommand(client.get(), "HELO " + helo, {250}, observer) &&
         SendSmtpCommand(client.get(), "RSET", {250}, observer) &&
         SendSmtpCommand(client.get(), "MAIL FROM:<" + envelope + ">", {250}, observer);
  }

  observer.StepText(116, step.current, step.count);
  const std::string message =
      SmtpDataText(BuildSmtpMessageText(sender, recipient, subject, body, attachmentNames, attachmentList, facts));
  if (ok) {
    ok = SendSmtpCommand(client.get(), "RCPT TO:<" + recipient + ">", {250, 251}, observer) &&
         SendSmtpCommand(client.get(), "DATA", {354}, observer);
  }
  TOwned<TSendObject> progress(New<TSendObject>(facts.Observer));
  if (observer.WindowOpen()) client->OnSent = TSocketSentEvent::Bind<&TSendObject::SmtpSentProgress>(progress.get());
  if (ok) ok = SendSmtpCommand(client.get(), message, {250}, observer);
  observer.BodySent();
  client->OnSent = TSocketSentEvent();
  return ok;
}

}  // namespace

bool SendSmtpMessage(const std::string& from, const std::string& host, std::uint16_t port, const std::string& user,
                     const std::string& password, const std::string& recipient, const std::string& subject,
                     const std::string& body, const std::vector<std::string>& attachmentNames,
                     const std::vector<std::string>& attachmentList, const TSmtpMailFacts& facts) {
  try {
    return RunSmtpSession(from, host, port, user, password, recipient, subject, body, attachmentNames, attachmentList,
                          facts, TStepContext());
  } catch (...) {
    ReportExceptionWarning(eeEmailSMTPError, "SMTP", std::current_exception());
    return false;
  }
}

bool SendSmtpMail(bool useMx, const std::string& from, const std::string& host, std::uint16_t port,
                  const std::string& user, const std::string& password, const std::string& recipients,
                  const std::string& subject, const std::string& body, const std::vector<std::string>& attachmentNames,
                  const std::vector<std::string>& attachmentList, const TSmtpMailFacts& facts) {
  TSmtpSendObserver& observer = ObserverOf(facts);
  bool result = false;
  try {
    if (useMx) port = facts.DirectPort;
    const std::string expandedSubject = ExpandPercentVariables(subject);
    const std::string expandedBody = ExpandPercentVariables(body);
    const std::vector<std::string> list = SplitRecipients(recipients);
    TStepContext step;
    step.count = static_cast<int>(list.size());
    for (std::size_t i = 0; i < list.size(); ++i) {
      observer.Progress(0);
      step.current = static_cast<int>(i + 1);
      std::string server = host, login = user, pass = password;
      if (useMx) {
        observer.StepText(112, step.current, step.count);
        ResolveMailExchanger(list[i], kMxTimeoutMs, server);
        login.clear();
        pass.clear();
      }
      // A refused session ends only its own recipient; a failed lookup ends the mail.
      bool sent = false;
      try {
        sent = RunSmtpSession(from, server, port, login, pass, list[i], expandedSubject, expandedBody, attachmentNames,
                              attachmentList, facts, step);
      } catch (const EVantorSocketError&) {
        ReportExceptionWarning(eeEmailSMTPError, "SMTP", std::current_exception());
      }
      result = result || sent;
    }
  } catch (...) {
    result = false;
    ReportExceptionWarning(eeEmailSMTPError, "SMTP", std::current_exception());
  }
  observer.Close();
  return result;
}
