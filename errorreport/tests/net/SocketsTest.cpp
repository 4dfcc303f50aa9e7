// The client socket, the SMTP dialogue, the MIME mail and the MX lookup over
// BSD sockets, against servers these tests start on 127.0.0.1: scripted TCP
// peers in a thread, and the Python fakes beside this file.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <thread>

#include "ECore.h"
#include "ESendFiles.h"
#include "ESmtpMail.h"
#include "ESockets.h"
#include "EZip.h"
#include "Strings.h"
#include "VantorLogConsts.h"

namespace fs = std::filesystem;

namespace {

const std::string kNetDir = std::string(PELLORY_SOURCE_DIR) + "/errorreport/tests/net";

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

void WriteFile(const fs::path& path, std::string_view data) {
  std::ofstream(path, std::ios::binary).write(data.data(), static_cast<std::streamsize>(data.size()));
}

struct TempDir {
  fs::path path;
  TempDir() {
    char name[] = "/tmp/pellory-net-XXXXXX";
    path = ::mkdtemp(name);
  }
  ~TempDir() {
    std::error_code ec;
    fs::remove_all(path, ec);
  }
};

// A Python fake started with its arguments; it writes its port to a file and is stopped at the end.
class PythonFake {
 public:
  PythonFake(const std::string& script, const fs::path& dir, std::vector<std::string> extra) {
    const fs::path portFile = dir / (script + ".port");
    std::vector<std::string> argv = {"python3", kNetDir + "/" + script, "--port-file", portFile.string()};
    argv.insert(argv.end(), extra.begin(), extra.end());
    pid_ = ::fork();
    if (pid_ == 0) {
      std::vector<char*> raw;
      for (std::string& a : argv) raw.push_back(a.data());
      raw.push_back(nullptr);
      ::execvp("python3", raw.data());
      ::_exit(127);
    }
    for (int i = 0; i < 1000 && !fs::exists(portFile); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    port_ = static_cast<std::uint16_t>(std::atoi(ReadFile(portFile).c_str()));
  }
  ~PythonFake() {
    if (pid_ > 0) {
      ::kill(pid_, SIGTERM);
      ::waitpid(pid_, nullptr, 0);
    }
  }
  std::uint16_t Port() const { return port_; }

 private:
  pid_t pid_ = -1;
  std::uint16_t port_ = 0;
};

// One TCP connection on 127.0.0.1 served by `script` in a thread.
class ScriptedPeer {
 public:
  explicit ScriptedPeer(std::function<void(int)> script) {
    listener_ = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(listener_, reinterpret_cast<sockaddr*>(&a), sizeof a);
    ::listen(listener_, 1);
    socklen_t len = sizeof a;
    ::getsockname(listener_, reinterpret_cast<sockaddr*>(&a), &len);
    port_ = ntohs(a.sin_port);
    thread_ = std::thread([this, script] {
      const int c = ::accept(listener_, nullptr, nullptr);
      script(c);
      ::close(c);
    });
  }
  ~ScriptedPeer() {
    thread_.join();
    ::close(listener_);
  }
  std::uint16_t Port() const { return port_; }

 private:
  int listener_ = -1;
  std::uint16_t port_ = 0;
  std::thread thread_;
};

void Put(int fd, std::string_view text) {
  ::send(fd, text.data(), text.size(), MSG_NOSIGNAL);
}

void Pause(int ms) {
  std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

// Reads until `end` has arrived (or the peer closed).
std::string GetUntil(int fd, std::string_view end) {
  std::string got;
  char c;
  while (got.size() < end.size() || got.compare(got.size() - end.size(), end.size(), end) != 0) {
    if (::recv(fd, &c, 1, 0) != 1) break;
    got += c;
  }
  return got;
}

std::string ErrorOf(const std::function<void()>& f) {
  try {
    f();
  } catch (const EVantorSocketError& e) {
    return e.what();
  }
  return "(no error)";
}

class SilenceScope {
 public:
  explicit SilenceScope(int ms) { SetSocketReplySilence(ms); }
  ~SilenceScope() { SetSocketReplySilence(1000); }
};

// --- Replies -------------------------------------------------------------------------------------------
TEST(SmtpReplyCode, LeadingDigits) {
  const struct {
    const char* reply;
    int code;
  } cases[] = {
      {"250 ok\r\n", 250}, {"250-first\r\n250 last\r\n", 250}, {"354 go\r\n", 354}, {"ok 250\r\n", -1}, {"", -1},
      {"2\r\n", 2},        {"99999999999999999 x", 1000000}};
  for (const auto& c : cases) EXPECT_EQ(SmtpReplyCode(c.reply), c.code) << c.reply;
}

TEST(ClientSocket, TwoPartsWithinTheSilenceAreOneReply) {
  ScriptedPeer peer([](int fd) {
    Put(fd, "220 first half");
    Pause(300);
    Put(fd, " and second half\r\n");
    GetUntil(fd, "\r\n");
  });
  TOwned<TVantorClientSMTP> s(New<TVantorClientSMTP>("127.0.0.1", peer.Port(), true, 5000));
  s->Connect();
  EXPECT_EQ(s->LastReply(), "220 first half and second half\r\n");
  EXPECT_EQ(s->SessionLog(),
            "Connected to 127.0.0.1 port " + std::to_string(peer.Port()) + "\r\n220 first half and second half\r\n");
  s->SendText("QUIT\r\n");
}

TEST(ClientSocket, AReplyAfterTheTimeOutIsASocketTimeout) {
  ScriptedPeer peer([](int fd) { Pause(800), Put(fd, "220 late\r\n"); });
  TOwned<TVantorClientSMTP> s(New<TVantorClientSMTP>("127.0.0.1", peer.Port(), true, 200));
  const std::string text = ErrorOf([&] { s->Connect(); });
  EXPECT_EQ(text.rfind("Socket timeout.\r\n\r\nError log:\r\n\r\n\r\nSocket log:\r\nConnected to 127.0.0.1", 0), 0u)
      << text;
}

TEST(ClientSocket, CommandsMultiLineRepliesAndRefusals) {
  SilenceScope quick(100);
  std::string received;
  ScriptedPeer peer([&](int fd) {
    Put(fd, "220 hi\r\n");
    received += GetUntil(fd, "\r\n");
    Put(fd, "250-one\r\n250 two\r\n");
    received += GetUntil(fd, "\r\n");
    Put(fd, "250 ok\r\n");
    received += GetUntil(fd, "\r\n");
    Put(fd, "550 no such user\r\n");
  });
  TOwned<TVantorClientSMTP> s(New<TVantorClientSMTP>("127.0.0.1", peer.Port(), true, 5000));
  s->Connect();
  EXPECT_TRUE(s->SendCommand("EHLO me", {250}));
  EXPECT_TRUE(s->SendCommand("RSET\r\n", {250}));
  EXPECT_FALSE(s->SendCommand("", {250}));
  const std::string text = ErrorOf([&] { s->SendCommand("RCPT TO:<x@y>", {250, 251}); });
  EXPECT_EQ(received, "EHLO me\r\nRSET\r\nRCPT TO:<x@y>\r\n");
  // The reply arrives before the command is logged: the session log is the reply's echo of the dialogue.
  EXPECT_EQ(text.rfind("Error log:\r\n550 no such user\r\n\r\n\r\nSocket log:\r\n", 0), 0u) << text;
  EXPECT_NE(text.find("RCPT TO:<x@y>\r\n"), std::string::npos) << text;
}

TEST(ClientSocket, UnknownHostsAndRefusedConnectionsAreConnectionErrors) {
  TOwned<TVantorClientSocket> unknown(New<TVantorClientSocket>("", 25, true, 10));
  EXPECT_EQ(ErrorOf([&] { unknown->Connect(); }).rfind("Connection error: \"Unknown host \"\".\"", 0), 0u);
  EXPECT_FALSE(unknown->Connected());
  int port;
  {
    ScriptedPeer once([](int) {});
    port = once.Port();
    TOwned<TVantorClientSocket> first(New<TVantorClientSocket>("127.0.0.1", once.Port(), true, 10));
    first->Connect();
  }
  TOwned<TVantorClientSocket> refused(New<TVantorClientSocket>("127.0.0.1", port, true, 10));
  EXPECT_EQ(ErrorOf([&] { refused->Connect(); }).rfind("Connection error: \"", 0), 0u);
}

TEST(ClientSocket, ErrorTextsAreCutAt1024Characters) {
  TOwned<TVantorClientSocket> s(New<TVantorClientSocket>("127.0.0.1", 1, true, 10));
  std::string told;
  struct Sink {
    std::string* out;
    void Seen(TObject*, int code, const std::string& m) { *out = std::to_string(code) + ":" + m; }
  } sink{&told};
  s->OnError = TSocketErrorEvent::Bind<&Sink::Seen>(&sink);
  const std::string text = ErrorOf([&] { s->RaiseSocketError(std::string(2000, 'x')); });
  EXPECT_EQ(text, std::string(1024, 'x') + "...");
  EXPECT_EQ(told, "-1:" + std::string(2000, 'x') + "\r\n\r\nError log:\r\n\r\n\r\nSocket log:\r\n");
  s->QuietErrors = true;
  EXPECT_THROW(s->RaiseSocketError("quiet"), EAbort);
}

// --- DNS ---------------------------------------------------------------------------------------------
std::string Bytes(std::initializer_list<int> list) {
  std::string s;
  for (int b : list) s += static_cast<char>(b);
  return s;
}

TEST(MxQuery, PacketLayoutAndTryTimeOuts) {
  EXPECT_EQ(BuildMxQuery("ab.cde"),
            Bytes({0x41, 0x41, 1, 0, 0, 1, 0, 0, 0, 0, 0, 0, 2, 'a', 'b', 3, 'c', 'd', 'e', 0, 0, 15, 0, 1}));
  EXPECT_EQ(MxTryTimeout(30000, 0), 10050);
  EXPECT_EQ(MxTryTimeout(30000, 1), 10150);
  EXPECT_EQ(MxTryTimeout(30000, 2), 10250);
}

TEST(ReadDnsName, NamesPointersAndMalformedInput) {
  const struct {
    const char* what;
    std::string packet;
    std::size_t start;
    bool ok;
    const char* name;
    std::size_t end;
  } cases[] = {
      {"plain", Bytes({2, 'a', 'b', 1, 'c', 0, 9}), 0, true, "ab.c", 6},
      {"pointer back", Bytes({1, 'x', 0, 1, 'y', 0xC0, 0}), 3, true, "y.x", 7},
      {"pointer first", Bytes({1, 'x', 0, 0xC0, 0, 7}), 3, true, "x", 5},
      {"self pointer", Bytes({0, 0, 0xC0, 2}), 2, false, "", 2},
      {"forward pointer", Bytes({0xC0, 2, 1, 'a', 0}), 0, false, "", 0},
      {"pointer loop", Bytes({0xC0, 2, 0xC0, 0}), 2, false, "", 2},
      {"label past end", Bytes({5, 'a', 'b'}), 0, false, "", 0},
      {"no terminator", Bytes({1, 'a'}), 0, false, "", 0},
      {"reserved length", Bytes({0x45, 'a', 0}), 0, false, "", 0},
      {"cut pointer", Bytes({0xC0}), 0, false, "", 0},
      {"start past end", Bytes({0}), 4, false, "", 4},
  };
  for (const auto& c : cases) {
    std::size_t at = c.start;
    std::string name = "old";
    EXPECT_EQ(ReadDnsName(c.packet, at, name), c.ok) << c.what;
    EXPECT_EQ(name, c.name) << c.what;
    EXPECT_EQ(at, c.end) << c.what;
  }
}

std::string Answer(int id, int flags, const std::string& records, int count) {
  std::string q = BuildMxQuery("example.test");
  q[0] = static_cast<char>(id >> 8);
  q[1] = static_cast<char>(id & 0xFF);
  q[2] = static_cast<char>(flags >> 8);
  q[3] = static_cast<char>(flags & 0xFF);
  q[7] = static_cast<char>(count);
  return q + records;
}

std::string Record(int type, const std::string& data) {
  return Bytes({0xC0, 12, 0, type, 0, 1, 0, 0, 0, 60, static_cast<int>(data.size() >> 8),
                static_cast<int>(data.size() & 0xFF)}) +
         data;
}

TEST(ParseMxAnswer, TakesTheFirstExchangeOfAGoodAnswerOnly) {
  const std::string mx = Record(15, Bytes({0, 10, 2, 'm', 'x', 0xC0, 12}));
  const std::string cname = Record(5, Bytes({5, 'a', 'l', 'i', 'a', 's', 0xC0, 12}));
  const struct {
    const char* what;
    std::string packet;
    const char* host;
  } cases[] = {
      {"mx", Answer(0x4141, 0x8180, mx, 1), "mx.example.test"},
      {"two mx", Answer(0x4141, 0x8180, mx + Record(15, Bytes({0, 5, 1, 'b', 0})), 2), "mx.example.test"},
      {"cname then mx", Answer(0x4141, 0x8180, cname + mx, 2), "mx.example.test"},
      {"cname only", Answer(0x4141, 0x8180, cname, 1), ""},
      {"wrong id", Answer(0x4242, 0x8180, mx, 1), ""},
      {"server failure", Answer(0x4141, 0x8182, mx, 1), ""},
      {"a query", Answer(0x4141, 0x0100, mx, 1), ""},
      {"truncated", Answer(0x4141, 0x8180, mx, 1).substr(0, 40), ""},
      {"no answer", Answer(0x4141, 0x8180, "", 0), ""},
      {"header only", Bytes({0x41, 0x41, 0x81}), ""},
      {"self-pointing exchange", Answer(0x4141, 0x8180, Record(15, Bytes({0, 10, 0xC0, 44})), 1), ""},
  };
  for (const auto& c : cases) {
    std::string host = "old";
    EXPECT_EQ(ParseMxAnswer(c.packet, host), *c.host != 0) << c.what;
    EXPECT_EQ(host, c.host) << c.what;
  }
}

class DnsLookup : public ::testing::Test {
 protected:
  void TearDown() override { SetDnsLookupTarget({}, 53); }
  TempDir dir;
};

TEST_F(DnsLookup, TheFakeServersExchangeAndTheQueryItGot) {
  SilenceScope quick(50);
  PythonFake dns("fake_dns.py", dir.path, {"--log", (dir.path / "queries").string(), "--exchange", "mx.local.test"});
  SetDnsLookupTarget({"127.0.0.1"}, dns.Port());
  std::string host;
  ResolveMailExchanger("someone@example.test", 600, host);
  EXPECT_EQ(host, "mx.local.test");
  ResolveMailExchanger("other.test", 600, host);
  EXPECT_EQ(host, "mx.local.test");
  EXPECT_EQ(ReadFile(dir.path / "queries"),
            "414101000001000000000000076578616d706c65047465737400000f0001\n"
            "41410100000100000000000005"
            "6f74686572047465737400000f0001\n");
}

TEST_F(DnsLookup, BadAnswersFailInsteadOfHangingOrGivingGarbage) {
  SilenceScope quick(50);
  for (const char* mode : {"selfpointer", "truncated", "wrongid", "cname", "servfail"}) {
    TempDir d;
    PythonFake dns("fake_dns.py", d.path, {"--log", (d.path / "queries").string(), "--mode", mode});
    SetDnsLookupTarget({"127.0.0.1"}, dns.Port());
    std::string host = "old";
    EXPECT_EQ(ErrorOf([&] { ResolveMailExchanger("a@example.test", 300, host); }),
              "Cannot resolve the \"example.test\" MX record.")
        << mode;
    EXPECT_EQ(host, "") << mode;
    // Three tries, each answered.
    std::string queries = ReadFile(d.path / "queries");
    EXPECT_EQ(std::count(queries.begin(), queries.end(), '\n'), 3) << mode;
  }
}

TEST(DnsServers, TheFallbackComesLast) {
  const std::vector<std::string> servers = GetDnsServers();
  ASSERT_FALSE(servers.empty());
  EXPECT_EQ(servers.back(), kFallbackDnsServer);
  for (const std::string& s : servers) EXPECT_NE(s, "0.0.0.0");
}

// --- The MIME message ----------------------------------------------------------------------------------
TEST(SmtpDataText, DotStuffingAndLineEnds) {
  const struct {
    const char* in;
    const char* out;
  } cases[] = {
      {"a\r\n.\r\nb\r\n", "a\r\n..\r\nb\r\n."},
      {".x\r\n", "..x\r\n."},
      {"a\nb\rc\r\n", "a\r\nb\r\nc\r\n."},
      {"no end", "no end\r\n."},
      {"x.y\r\n", "x.y\r\n."},
      {"", "."},
  };
  for (const auto& c : cases) EXPECT_EQ(SmtpDataText(c.in), c.out) << c.in;
}

TEST(MimeMessage, SenderEnvelopeAndBase64Lines) {
  EXPECT_EQ(SmtpSenderText("me@here.test", "Ann"), "\"Ann\" <me@here.test>");
  EXPECT_EQ(SmtpEnvelopeAddress("\"Ann\" <me@here.test>"), "me@here.test");
  EXPECT_EQ(SmtpSenderText("Ann <me@here.test>", "x"), "Ann <me@here.test>");
  EXPECT_EQ(SmtpEnvelopeAddress("Ann <me@here.test>"), "Ann <me@here.test>");
  std::string eighty;
  for (int i = 0; i < 20; ++i) eighty += "YWFh";
  EXPECT_EQ(EncodeBase64Lines(std::string(60, 'a')), eighty + "\r\n");
  EXPECT_EQ(EncodeBase64Lines(std::string(61, 'a')).substr(80), "\r\nYQ==");
  const std::string part = BuildMimeAttachmentPart("Shot.png", "x");
  EXPECT_NE(part.find("Content-Type: image/png;\r\n        name=\"Shot.png\"\r\n"), std::string::npos);
  EXPECT_NE(BuildMimeAttachmentPart("a.zip", "x").find("application/octet-stream"), std::string::npos);
}

// --- SMTP sessions against the fake server ---------------------------------------------------------------
class RecordingObserver : public TSmtpSendObserver {
 public:
  void StepText(int textIndex, int current, int count) override {
    steps.push_back(FormatSendingStepText(kDefaultCustomTexts[111], current, count, kDefaultCustomTexts[textIndex]));
  }
  std::vector<std::string> steps;
};

class SmtpMail : public ::testing::Test {
 protected:
  void SetUp() override {
    SetSocketReplySilence(50);
    ClearLibraryWarning();
    facts.HeloHost = "client.test";
    facts.SenderDisplayName = "Report Sender";
    facts.DateText = "Thu, 10 Dec 2026 12:00:00 +0000";
    facts.Observer = &observer;
    // A small PNG signature with some bytes, and the archive with a password.
    std::string png = "\x89PNG\r\n\x1a\n";
    for (int i = 0; i < 500; ++i) png += static_cast<char>(i * 7);
    WriteFile(dir.path / "Screenshot.png", png);
    WriteFile(dir.path / "report.txt", report);
    {
      TOwned<TZipWriter> zip(New<TZipWriter>((dir.path / "BugReport.zip").string(), "secret"));
      ASSERT_TRUE(zip->AddFileEntry((dir.path / "report.txt").string(), "report.txt"));
    }
    files = {(dir.path / "BugReport.zip").string(), (dir.path / "Screenshot.png").string()};
  }
  void TearDown() override {
    SetSocketReplySilence(1000);
    SetDnsLookupTarget({}, 53);
  }
  std::string Session(int n) { return ReadFile(dir.path / "mail" / ("session-" + std::to_string(n) + ".txt")); }
  fs::path Mail(int n) { return dir.path / "mail" / ("mail-" + std::to_string(n) + ".eml"); }

  TempDir dir;
  RecordingObserver observer;
  TSmtpMailFacts facts;
  std::vector<std::string> files;
  const std::string report = "Exception report: access violation\r\n.\r\n.x\r\nend";
};

TEST_F(SmtpMail, ClientModeSendsOneMimeMailWithItsAttachments) {
  fs::create_directory(dir.path / "mail");
  PythonFake smtp("fake_smtp.py", dir.path, {"--dir", (dir.path / "mail").string()});
  ASSERT_TRUE(SendSmtpMail(false, "me@here.test", "127.0.0.1", smtp.Port(), "user", "pass", "dev@there.test",
                           "Bug report", report, {""}, files, facts));
  EXPECT_EQ(Session(1),
            "EHLO client.test\r\nRSET\r\nAUTH LOGIN\r\ndXNlcg==\r\ncGFzcw==\r\nMAIL FROM:<me@here.test>\r\n"
            "RCPT TO:<dev@there.test>\r\nDATA\r\n<message>\r\n");
  const std::string mail = ReadFile(Mail(1));
  EXPECT_NE(mail.find("\r\n.\r\n.x\r\nend\r\n"), std::string::npos);
  EXPECT_NE(mail.find("From: \"Report Sender\" <me@here.test>\r\n"), std::string::npos);
  const std::string check = "python3 " + kNetDir + "/check_mail.py " + Mail(1).string() + " '" +
                            "Exception report: access violation\r\n.\r\n.x\r\nend' " +
                            (dir.path / "BugReport.zip").string();
  EXPECT_EQ(std::system(check.c_str()), 0);
  EXPECT_EQ(observer.steps,
            (std::vector<std::string>{"Message 1/1: Connecting with server...", "Message 1/1: Connected with server.",
                                      "Message 1/1: Sending message..."}));
}

TEST_F(SmtpMail, ARefusedAuthLoginSendsNoCredentials) {
  fs::create_directory(dir.path / "mail");
  PythonFake smtp("fake_smtp.py", dir.path, {"--dir", (dir.path / "mail").string(), "--refuse-auth"});
  EXPECT_TRUE(SendSmtpMail(false, "me@here.test", "127.0.0.1", smtp.Port(), "user", "pass", "dev@there.test",
                           "Bug report", "body", {""}, {}, facts));
  EXPECT_EQ(Session(1),
            "EHLO client.test\r\nRSET\r\nAUTH LOGIN\r\nMAIL FROM:<me@here.test>\r\nRCPT TO:<dev@there.test>\r\n"
            "DATA\r\n<message>\r\n");
}

TEST_F(SmtpMail, DirectModeLooksUpEachRecipientsExchange) {
  fs::create_directory(dir.path / "mail");
  PythonFake smtp("fake_smtp.py", dir.path, {"--dir", (dir.path / "mail").string()});
  PythonFake dns("fake_dns.py", dir.path, {"--log", (dir.path / "queries").string()});
  SetDnsLookupTarget({"127.0.0.1"}, dns.Port());
  facts.DirectPort = smtp.Port();
  ASSERT_TRUE(SendSmtpMail(true, "me@here.test", "unused.host", 1, "user", "pass", " a@one.test ; b@two.test,", "Bug",
                           "body", {""}, files, facts));
  // No AUTH in direct mode, one session and one lookup per recipient.
  EXPECT_EQ(Session(1).substr(0, 23), "HELO client.test\r\nRSET\r");
  EXPECT_NE(Session(2).find("RCPT TO:<b@two.test>"), std::string::npos);
  const std::string queries = ReadFile(dir.path / "queries");
  EXPECT_NE(queries.find("036f6e65"), std::string::npos);  // "one"
  EXPECT_NE(queries.find("0374776f"), std::string::npos);  // "two"
  ASSERT_EQ(observer.steps.size(), 8u);
  EXPECT_EQ(observer.steps[0], "Message 1/2: Resolving DNS...");
  EXPECT_EQ(observer.steps[4], "Message 2/2: Resolving DNS...");
  EXPECT_EQ(observer.steps[7], "Message 2/2: Sending message...");
}

TEST_F(SmtpMail, FailuresBecomeTheLibrarysSmtpWarning) {
  // Nothing listens on the port: the session fails and leaves the warning.
  ScriptedPeer closed([](int fd) { Put(fd, "554 go away\r\n"); });
  EXPECT_FALSE(SendSmtpMail(false, "me@here.test", "127.0.0.1", closed.Port(), "", "", "dev@there.test", "s", "b", {""},
                            {}, facts));
  EXPECT_EQ(LastLibraryErrorCode(), eeEmailSMTPError);
  EXPECT_EQ(LastLibraryErrorMessage().rfind("[SMTP] Error log:\r\n554 go away\r\n", 0), 0u)
      << LastLibraryErrorMessage();
}

// --- Kept archives and the files to send ---------------------------------------------------------------
TEST(KeptZipFiles, OnlyTheReportArchivesArePruned) {
  const struct {
    const char* name;
    bool kept;
  } cases[] = {{"BugReport.zip", true},      {"bugreport.ZIP", true},
               {"BugReport__PC.zip", true},  {"BugReport__PC__20261210120000.zip", true},
               {"BugReportX.zip", false},    {"notes.zip", false},
               {"BugReport.zip.txt", false}, {"BugReport_.zip", false}};
  for (const auto& c : cases) EXPECT_EQ(IsKeptZipFileName(c.name), c.kept) << c.name;

  TempDir dir;
  for (int i = 0; i < 12; ++i)
    WriteFile(dir.path / ("BugReport__PC__202612101200" + std::to_string(10 + i) + ".zip"), "z");
  for (const char* other : {"notes.zip", "BugReportX.zip", "readme.txt"}) WriteFile(dir.path / other, "u");
  PruneKeptZipFiles(dir.path.string());
  std::vector<std::string> left;
  for (const auto& e : fs::directory_iterator(dir.path)) left.push_back(e.path().filename().string());
  std::sort(left.begin(), left.end());
  ASSERT_EQ(left.size(), 13u);
  EXPECT_EQ(left[0], "BugReportX.zip");
  EXPECT_EQ(left[1], "BugReport__PC__20261210120012.zip");
  EXPECT_EQ(left[10], "BugReport__PC__20261210120021.zip");
  EXPECT_EQ(left[11], "notes.zip");
  EXPECT_EQ(left[12], "readme.txt");
}

struct AddsAFile {
  std::string file;
  void Request(TStrings& files) { files.Add(file); }
};

TEST(PrepareSendFiles, PacksTheExistingFilesAndLeavesTheArchiveAlone) {
  TempDir dir;
  WriteFile(dir.path / "a.txt", "first");
  WriteFile(dir.path / "b.txt", "second");
  TReportFileFacts facts;
  facts.TempFolder = dir.path.string() + "/";
  TOwned<TStringList> files(New<TStringList>());
  AddsAFile adds{(dir.path / "b.txt").string()};
  PrepareSendFiles(true, *files, facts, (dir.path / "a.txt").string() + ";" + (dir.path / "gone.txt").string(), false,
                   "secret", TAttachedFilesRequest::Bind<&AddsAFile::Request>(&adds));
  ASSERT_EQ(files->Count(), 1);
  EXPECT_EQ((*files)[0], GetZipFilePath(facts));
  const std::string check =
      "python3 -c \"import zipfile,sys; z=zipfile.ZipFile(sys.argv[1]); "
      "assert sorted(z.namelist()) == ['a.txt', 'b.txt'], z.namelist(); "
      "assert all(i.flag_bits & 1 for i in z.infolist())\" " +
      (*files)[0];
  EXPECT_EQ(std::system(check.c_str()), 0);

  // Nothing to pack: no archive, but its path all the same.
  fs::remove(GetZipFilePath(facts));
  files->Clear();
  PrepareSendFiles(false, *files, facts, "", false, "", TAttachedFilesRequest());
  ASSERT_EQ(files->Count(), 1);
  EXPECT_EQ((*files)[0], GetZipFilePath(facts));
  EXPECT_FALSE(fs::exists(GetZipFilePath(facts)));
}

}  // namespace

TEST(SocketsUnit, TheHeloHostIsClearedWhenTheLastStartUpEnds) {
  InitESockets();
  InitESockets();
  SetSmtpHeloHost("relay.example.com");
  DoneESockets();
  EXPECT_EQ(SmtpHeloHost(), "relay.example.com") << "one start-up still stands";
  DoneESockets();
  EXPECT_EQ(SmtpHeloHost(), "");
}
