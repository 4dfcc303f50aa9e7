#include "SimTransport.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>
#include <cerrno>
#include <cstring>
#include <stdexcept>

namespace {
std::string ErrorText(const std::string& what) {
  return what + ": " + std::strerror(errno);
}

void MakeRaw(int fd) {
  termios t{};
  if (tcgetattr(fd, &t) != 0) return;  // not a terminal: nothing to set
  cfmakeraw(&t);
  t.c_cflag |= CLOCAL | CREAD;
  t.c_cc[VMIN] = 1;
  t.c_cc[VTIME] = 0;
  tcsetattr(fd, TCSANOW, &t);
}

void SetNonBlocking(int fd) {
  const int flags = fcntl(fd, F_GETFL);
  if (flags < 0 || fcntl(fd, F_SETFL, flags | O_NONBLOCK) != 0) throw ESimTransport(ErrorText("fcntl"));
}

// A descriptor we read and write; EIO, EOF and hang-up mean the host is gone.
class TFdTransport : public TSimTransport {
 public:
  TFdTransport(int fd, std::string name, bool owned) : fd_(fd), name_(std::move(name)), owned_(owned) {}
  ~TFdTransport() override {
    if (owned_ && fd_ >= 0) close(fd_);
  }
  std::string Describe() const override { return name_; }
  int Fd() const override { return fd_; }
  bool PeerPresent() override { return !gone_; }
  bool CanReattach() const override { return false; }
  ssize_t Read(char* buf, std::size_t size) override {
    const ssize_t n = read(fd_, buf, size);
    if (n > 0) return n;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) return 0;
    gone_ = true;
    return -1;
  }
  ssize_t Write(const char* buf, std::size_t size) override {
    const ssize_t n = write(fd_, buf, size);
    if (n >= 0) return n;
    if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) return 0;
    gone_ = true;
    return -1;
  }
  void DiscardQueued() override {
    if (isatty(fd_)) tcflush(fd_, TCIOFLUSH);
  }

 protected:
  int fd_;
  std::string name_;
  bool owned_;
  bool gone_ = false;
};

// The master side of a pty pair. With no slave open the master reports
// POLLHUP and reads fail with EIO; an open slave clears both. Terminal
// settings made on the master apply to the slave, so raw mode is kept even
// when a host left the line in another mode.
class TPtyTransport : public TFdTransport {
 public:
  TPtyTransport(int master, std::string slaveName) : TFdTransport(master, std::move(slaveName), true) {}
  bool CanReattach() const override { return true; }
  bool PeerPresent() override {
    pollfd p{fd_, POLLIN, 0};
    if (poll(&p, 1, 0) < 0) return false;
    gone_ = (p.revents & POLLHUP) != 0 && (p.revents & POLLIN) == 0;
    return !gone_;
  }
  void DiscardQueued() override {
    tcflush(fd_, TCIOFLUSH);
    MakeRaw(fd_);
  }
};

// A listening socket on the loopback address and the one connection it serves.
// The host's close (end of stream, reset) ends the session; closing our side
// on DiscardQueued tells the host that the link is gone, and the listener
// then takes the next connection.
class TTcpTransport : public TSimTransport {
 public:
  TTcpTransport(int listener, int port) : listener_(listener), port_(port) {}
  ~TTcpTransport() override {
    CloseConnection();
    close(listener_);
  }
  std::string Describe() const override { return "127.0.0.1:" + std::to_string(port_); }
  int Fd() const override { return conn_; }
  bool CanReattach() const override { return true; }
  bool PeerPresent() override {
    if (conn_ >= 0 && !gone_) return true;
    CloseConnection();
    const int fd = accept4(listener_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (fd < 0) return false;
    conn_ = fd;
    gone_ = false;
    return true;
  }
  ssize_t Read(char* buf, std::size_t size) override {
    if (conn_ < 0) return -1;
    const ssize_t n = recv(conn_, buf, size, 0);
    if (n > 0) return n;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) return 0;
    gone_ = true;
    return -1;
  }
  ssize_t Write(const char* buf, std::size_t size) override {
    if (conn_ < 0) return -1;
    const ssize_t n = send(conn_, buf, size, MSG_NOSIGNAL);
    if (n >= 0) return n;
    if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) return 0;
    gone_ = true;
    return -1;
  }
  void DiscardQueued() override { CloseConnection(); }

 private:
  void CloseConnection() {
    if (conn_ >= 0) close(conn_);
    conn_ = -1;
  }

  int listener_;
  int port_;
  int conn_ = -1;
  bool gone_ = false;
};
}  // namespace

std::unique_ptr<TSimTransport> SimListenTcp(int port) {
  if (port < 0 || port > 65535) throw ESimTransport("TCP port out of range: " + std::to_string(port));
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (fd < 0) throw ESimTransport(ErrorText("socket"));
  const int on = 1;
  setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);  // never reachable from another machine
  addr.sin_port = htons(static_cast<std::uint16_t>(port));
  socklen_t len = sizeof addr;
  if (bind(fd, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) != 0 || listen(fd, 4) != 0 ||
      getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
    const std::string msg = ErrorText("cannot listen on 127.0.0.1:" + std::to_string(port));
    close(fd);
    throw ESimTransport(msg);
  }
  return std::make_unique<TTcpTransport>(fd, ntohs(addr.sin_port));
}

std::unique_ptr<TSimTransport> SimOpenPty() {
  const int master = posix_openpt(O_RDWR | O_NOCTTY);
  if (master < 0) throw ESimTransport(ErrorText("posix_openpt"));
  if (grantpt(master) != 0 || unlockpt(master) != 0) {
    const std::string msg = ErrorText("grantpt/unlockpt");
    close(master);
    throw ESimTransport(msg);
  }
  char name[256];
  if (ptsname_r(master, name, sizeof name) != 0) {
    const std::string msg = ErrorText("ptsname");
    close(master);
    throw ESimTransport(msg);
  }
  MakeRaw(master);
  SetNonBlocking(master);
  return std::make_unique<TPtyTransport>(master, name);
}

std::unique_ptr<TSimTransport> SimOpenPath(const std::string& path) {
  const int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
  if (fd < 0) throw ESimTransport(ErrorText("cannot open " + path));
  MakeRaw(fd);
  return std::make_unique<TFdTransport>(fd, path, true);
}

std::unique_ptr<TSimTransport> SimAdoptFd(int fd) {
  if (fcntl(fd, F_GETFD) < 0) throw ESimTransport(ErrorText("descriptor " + std::to_string(fd)));
  SetNonBlocking(fd);
  MakeRaw(fd);
  char name[256];
  std::string shown = "fd:" + std::to_string(fd);
  if (isatty(fd) && ttyname_r(fd, name, sizeof name) == 0) shown = name;
  return std::make_unique<TFdTransport>(fd, shown, false);
}
