// Drives the phonesim program itself over its pseudo-terminal, as the host
// program under Wine will: golden frames in, acknowledgements and replies
// out, the log, the fault modes, reopening the line and the ways it ends.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <thread>

#include <gtest/gtest.h>

#include "SimFrames.h"
#include "SimTestUtil.h"

extern char** environ;

namespace {
const std::string kPreamble = std::string(200, 'U') + "\xC1";
const std::string kSysGet = FromHex("1E 00 10 D1 00 07 00 01 00 03 00 01 60 00 6E D5");
const std::string kAckD2 = FromHex("1E 00 10 7F 00 02 D2 01 DC 7C");

std::string TempPath(const std::string& name) {
  const char* dir = std::getenv("TMPDIR");
  return std::string(dir && *dir ? dir : "/tmp") + "/phonesim-" + std::to_string(getpid()) + "-" + name;
}

std::vector<std::string> ReadLines(const std::string& path) {
  std::vector<std::string> lines;
  std::ifstream in(path);
  for (std::string l; std::getline(in, l);) lines.push_back(l);
  return lines;
}

// A running simulator.
class Sim {
 public:
  explicit Sim(std::vector<std::string> args) {
    int out[2];
    if (pipe2(out, O_CLOEXEC) != 0) throw std::runtime_error("pipe");
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_adddup2(&fa, out[1], 1);
    posix_spawn_file_actions_addclose(&fa, out[0]);
    std::vector<char*> argv;
    std::string exe = PHONESIM_EXE;
    argv.push_back(exe.data());
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    if (posix_spawn(&pid_, exe.c_str(), &fa, nullptr, argv.data(), environ) != 0) pid_ = -1;
    posix_spawn_file_actions_destroy(&fa);
    close(out[1]);
    out_ = out[0];
  }
  ~Sim() {
    if (fd_ >= 0) close(fd_);
    if (pid_ > 0 && !exited_) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
    close(out_);
  }

  // The line the program prints first: the path to open.
  std::string Path(int timeoutMs = 5000) {
    std::string line;
    char c;
    while (true) {
      pollfd p{out_, POLLIN, 0};
      if (poll(&p, 1, timeoutMs) <= 0) return "";
      if (read(out_, &c, 1) != 1) return "";
      if (c == '\n') return line;
      line += c;
    }
  }
  bool Open() {
    path_ = Path();
    if (path_.empty()) return false;
    fd_ = open(path_.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    return fd_ >= 0;
  }
  // Connects to the "127.0.0.1:PORT" the program printed (or `address` again).
  bool Connect(const std::string& address = "") {
    if (address.empty()) path_ = Path();
    const std::string prefix = "127.0.0.1:";
    if (path_.compare(0, prefix.size(), prefix) != 0) return false;
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(static_cast<std::uint16_t>(std::stoi(path_.substr(prefix.size()))));
    fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    return fd_ >= 0 && connect(fd_, reinterpret_cast<const sockaddr*>(&a), sizeof a) == 0;
  }
  void CloseLine() {
    close(fd_);
    fd_ = -1;
  }
  void Write(const std::string& bytes) { ASSERT_EQ(write(fd_, bytes.data(), bytes.size()), ssize_t(bytes.size())); }
  // Reads until `want` bytes came or the line was quiet for `quietMs`.
  std::string Read(std::size_t want, int quietMs = 1000) {
    std::string got;
    char buf[512];
    while (got.size() < want) {
      pollfd p{fd_, POLLIN, 0};
      if (poll(&p, 1, quietMs) <= 0) break;
      const ssize_t n = read(fd_, buf, sizeof buf);
      if (n <= 0) break;
      got.append(buf, static_cast<std::size_t>(n));
    }
    return got;
  }
  // Reads whole FBUS frames until `count` came.
  std::vector<HostFrame> Frames(std::size_t count, int quietMs = 1000) {
    std::string got;
    std::vector<HostFrame> frames;
    while (frames.size() < count) {
      const std::string more = Read(1, quietMs);
      if (more.empty()) break;
      got += more;
      frames = HostCutFbus(got);
    }
    return frames;
  }
  // Reads whole PhoNet frames of this media byte until `count` came.
  std::vector<HostFrame> PhonetFrames(std::size_t count, std::uint8_t media, int quietMs = 1000) {
    std::string got;
    std::vector<HostFrame> frames;
    while (frames.size() < count) {
      const std::string more = Read(1, quietMs);
      if (more.empty()) break;
      got += more;
      frames = HostCutPhonet(got, media);
    }
    return frames;
  }
  void Signal(int sig) { kill(pid_, sig); }
  // Waits for the exit; -1 on a time-out or a death by signal.
  int Wait(int timeoutMs = 3000) {
    for (int waited = 0; waited <= timeoutMs; waited += 10) {
      int status = 0;
      if (waitpid(pid_, &status, WNOHANG) == pid_) {
        exited_ = true;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return -1;
  }
  int fd() const { return fd_; }
  const std::string& path() const { return path_; }

 private:
  pid_t pid_ = -1;
  int out_ = -1;
  int fd_ = -1;
  bool exited_ = false;
  std::string path_;
};

bool WaitForLine(const std::string& log, const std::string& line, int timeoutMs = 3000) {
  for (int waited = 0; waited <= timeoutMs; waited += 10) {
    for (const std::string& l : ReadLines(log)) {
      if (l == line) return true;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return false;
}
}  // namespace

TEST(PhoneSim, MethodZeroGoldenExchangeAndLog) {
  const std::string log = TempPath("golden.log");
  std::remove(log.c_str());
  Sim sim({"--persona", "NPE-4", "--log", log});
  ASSERT_TRUE(sim.Open());
  termios t{};
  ASSERT_EQ(tcgetattr(sim.fd(), &t), 0);
  EXPECT_EQ(t.c_lflag & (ECHO | ICANON), 0u) << "the line must be raw: no echo of the phone's own bytes";

  sim.Write(kPreamble);
  sim.Write(kSysGet);
  const auto frames = sim.Frames(2);
  ASSERT_EQ(frames.size(), 2u);
  EXPECT_EQ(SimHex(frames[0].Bytes), "1E 10 00 7F 00 02 D1 00 CF 6D");
  EXPECT_EQ(frames[1].Type, 0xD2);
  EXPECT_TRUE(frames[1].ChecksumOk);
  EXPECT_EQ(ModelLines(frames[1].Bytes), (std::vector<std::string>{"V 05.10", "12-03-02", "NPE-4"}));
  sim.Write(kAckD2);
  sim.Write(HostFbusMessage(0x1B, FromHex("00 01 00 00 41"), 0x41));
  const auto imei = sim.Frames(2);
  ASSERT_EQ(imei.size(), 2u);
  EXPECT_EQ(imei[1].Bytes.substr(16, 15), "350612345678901");
  sim.CloseLine();
  ASSERT_TRUE(WaitForLine(log, "CLOSE"));
  sim.Signal(SIGTERM);
  EXPECT_EQ(sim.Wait(), 0);
  EXPECT_EQ(ReadLines(log),
            (std::vector<std::string>{"OPEN", "SKIP 55*200 C1", SimHex(kSysGet), SimHex(kAckD2),
                                      SimHex(HostFbusMessage(0x1B, FromHex("00 01 00 00 41"), 0x41)), "CLOSE"}));
  std::remove(log.c_str());
}

TEST(PhoneSim, ReopenedLineStartsAFreshSession) {
  Sim sim({"--link", "at", "--reply-delay", "300"});
  ASSERT_TRUE(sim.Open());
  sim.Write(std::string("at&f\r\n\0", 7));
  EXPECT_EQ(sim.Read(6), "\r\nOK\r\n");
  sim.Write(std::string("at*nokiafbus\r\n\0", 15));
  EXPECT_EQ(sim.Read(6), "\r\nOK\r\n");
  sim.Write("UUUUUUUU" + kSysGet);
  ASSERT_EQ(sim.Frames(1).size(), 1u);  // the ack; the reply is still 300 ms away
  sim.CloseLine();
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  // The same path again: no stale reply from the last session, and the AT switch is needed again.
  const int fd = open(sim.path().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  ASSERT_GE(fd, 0);
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  char buf[64];
  EXPECT_EQ(read(fd, buf, sizeof buf), -1);
  EXPECT_EQ(errno, EAGAIN);
  ASSERT_EQ(write(fd, kSysGet.data(), kSysGet.size()), ssize_t(kSysGet.size()));
  std::this_thread::sleep_for(std::chrono::milliseconds(400));
  EXPECT_EQ(read(fd, buf, sizeof buf), -1) << "FBUS before the AT switch is not answered";
  const std::string sw("at*nokiafbus\r\n\0", 15);
  ASSERT_EQ(write(fd, sw.data(), sw.size()), ssize_t(sw.size()));
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  EXPECT_EQ(read(fd, buf, sizeof buf), 6);
  close(fd);
}

TEST(PhoneSim, BluetoothPhonet) {
  Sim sim({"--persona", "NPW-2", "--link", "phonet", "--imei", "A1234567890"});
  ASSERT_TRUE(sim.Open());
  sim.Write(FromHex("19 00 10 D0 00 01 04"));
  EXPECT_EQ(sim.Read(7), FromHex("19 10 00 D0 00 01 05"));
  sim.Write(HostPhonetFrame(0x19, 0x1B, FromHex("00 01 00 00 44")));
  const auto frames = HostCutPhonet(sim.Read(6 + 16 + 11 + 1));
  ASSERT_EQ(frames.size(), 1u);
  EXPECT_EQ(frames[0].Bytes.substr(16, 11), "A1234567890");
}

TEST(PhoneSim, InfraredPhonetOverLoopbackTcp) {
  const std::string log = TempPath("tcp.log");
  std::remove(log.c_str());
  Sim sim({"--tcp", "0", "--persona", "NPE-4", "--log", log});
  ASSERT_TRUE(sim.Connect()) << sim.path();
  const std::string modelRead = HostPhonetFrame(0x14, 0xD1, FromHex("00 01 00 03 00"));
  const std::string imeiRead = HostPhonetFrame(0x14, 0x1B, FromHex("00 01 00 00 41"));
  // No set-up frame on infrared: the first request is answered, with media 0x14.
  sim.Write(modelRead);
  auto frames = sim.PhonetFrames(1, 0x14);
  ASSERT_EQ(frames.size(), 1u);
  EXPECT_EQ(frames[0].Type, 0xD2);
  EXPECT_EQ(ModelLines(frames[0].Bytes), (std::vector<std::string>{"V 05.10", "12-03-02", "NPE-4"}));
  // A request split over two writes.
  sim.Write(imeiRead.substr(0, 4));
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  sim.Write(imeiRead.substr(4));
  frames = sim.PhonetFrames(1, 0x14);
  ASSERT_EQ(frames.size(), 1u);
  EXPECT_EQ(frames[0].Bytes.substr(16, 15), "350612345678901");
  sim.CloseLine();
  ASSERT_TRUE(WaitForLine(log, "CLOSE"));

  // The next connection is a fresh session on the same port.
  ASSERT_TRUE(sim.Connect(sim.path()));
  sim.Write(modelRead);
  EXPECT_EQ(sim.PhonetFrames(1, 0x14).size(), 1u);
  sim.Signal(SIGTERM);
  EXPECT_EQ(sim.Wait(), 0);
  EXPECT_EQ(ReadLines(log), (std::vector<std::string>{"OPEN", SimHex(modelRead), SimHex(imeiRead), "CLOSE", "OPEN",
                                                      SimHex(modelRead)}));
  std::remove(log.c_str());
}

TEST(PhoneSim, MuteAndCorruptModesAndTheirSignals) {
  const std::string log = TempPath("mute.log");
  std::remove(log.c_str());
  {
    Sim sim({"--mute", "--log", log});
    ASSERT_TRUE(sim.Open());
    sim.Write(kPreamble + kSysGet);
    EXPECT_EQ(sim.Read(1, 300), "");
    EXPECT_TRUE(WaitForLine(log, SimHex(kSysGet)));
    sim.Signal(SIGUSR1);
    ASSERT_TRUE(WaitForLine(log, "MUTE off"));
    sim.Write(kSysGet);
    EXPECT_EQ(sim.Frames(2).size(), 2u);
  }
  {
    Sim sim({"--corrupt"});
    ASSERT_TRUE(sim.Open());
    sim.Write(kSysGet);
    auto frames = sim.Frames(2);
    ASSERT_EQ(frames.size(), 2u);
    EXPECT_FALSE(frames[0].ChecksumOk);
    EXPECT_FALSE(frames[1].ChecksumOk);
    sim.Signal(SIGUSR2);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    sim.Write(kSysGet);
    frames = sim.Frames(2);
    ASSERT_EQ(frames.size(), 2u);
    EXPECT_TRUE(frames[0].ChecksumOk);
    EXPECT_TRUE(frames[1].ChecksumOk);
  }
  std::remove(log.c_str());
}

TEST(PhoneSim, ResynchronisesOnGarbageAndStalledFrames) {
  const std::string log = TempPath("resync.log");
  std::remove(log.c_str());
  Sim sim({"--resync-ms", "100", "--log", log});
  ASSERT_TRUE(sim.Open());
  std::string bad = kSysGet;
  bad[8] ^= 0x40;
  // Noise, a damaged frame, a frame that stops half-way (its length is
  // larger than what follows), then, after a quiet spell, a good frame.
  sim.Write(FromHex("00 1E 1E 00 FF 55") + bad + FromHex("1E 00 10 D1 00 20 00 01"));
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  sim.Write(kSysGet);
  EXPECT_EQ(sim.Frames(2).size(), 2u);
  EXPECT_TRUE(WaitForLine(log, "BAD " + SimHex(bad)));
  EXPECT_TRUE(WaitForLine(log, "SKIP 1E 00 10 D1 00 20 00 01"));
  std::remove(log.c_str());
}

TEST(PhoneSim, EndsOnSignalsAndOnTheHostsCloseWhenAsked) {
  {
    const std::string link = TempPath("com21");
    Sim sim({"--symlink", link});
    const std::string path = sim.Path();
    ASSERT_FALSE(path.empty());
    char target[256] = {};
    ASSERT_GT(readlink(link.c_str(), target, sizeof target - 1), 0);
    EXPECT_EQ(path, target);
    sim.Signal(SIGINT);
    EXPECT_EQ(sim.Wait(), 0);
    struct stat st {};
    EXPECT_NE(lstat(link.c_str(), &st), 0) << "the symlink is removed at exit";
  }
  {
    Sim sim({"--exit-on-close"});
    ASSERT_TRUE(sim.Open());
    EXPECT_EQ(sim.Wait(200), -1) << "still running while the line is open";
    sim.CloseLine();
    EXPECT_EQ(sim.Wait(), 0);
  }
  {
    // A descriptor handed over: a socket pair; the peer's close ends the run.
    int sv[2];
    ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, sv), 0);
    ASSERT_EQ(fcntl(sv[1], F_SETFD, 0), 0);  // only the simulator's end is inherited
    Sim sim({"--fd", std::to_string(sv[1]), "--exit-on-close"});
    close(sv[1]);
    EXPECT_EQ(sim.Path(), "fd:" + std::to_string(sv[1]));
    ASSERT_EQ(write(sv[0], kSysGet.data(), kSysGet.size()), ssize_t(kSysGet.size()));
    char buf[128];
    pollfd p{sv[0], POLLIN, 0};
    ASSERT_EQ(poll(&p, 1, 2000), 1);
    EXPECT_GT(read(sv[0], buf, sizeof buf), 0);
    close(sv[0]);
    EXPECT_EQ(sim.Wait(), 0);
  }
}

TEST(PhoneSim, LifetimeEndsARunThatNobodyEnds) {
  Sim sim({"--lifetime", "1", "--die-with-parent"});
  ASSERT_FALSE(sim.Path().empty());
  EXPECT_EQ(sim.Wait(3000), 3);
}

TEST(PhoneSim, RejectsBadOptions) {
  for (std::vector<std::string> args : std::vector<std::vector<std::string>>{{"--persona", "NXX-1"},
                                                                             {"--family", "9"},
                                                                             {"--link", "usb"},
                                                                             {"--ignore", "zz"},
                                                                             {"--bogus"},
                                                                             {"--imei"},
                                                                             {"--path", "/nonexistent/tty"}}) {
    SCOPED_TRACE(args[0]);
    Sim sim(args);
    EXPECT_NE(sim.Wait(), 0);
  }
}
