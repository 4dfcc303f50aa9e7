// Where the simulated phone's bytes travel. A transport hands the runner a
// file descriptor to wait on while a host is attached, reads and writes
// bytes, and tells when the host comes and goes. The pseudo-terminal
// transport is the serial line a Wine COM port maps to (also the DKU-2 link);
// the TCP transport stands in for an infrared socket.
#pragma once

#include <sys/types.h>
#include <cstddef>
#include <memory>
#include <stdexcept>
#include <string>

class ESimTransport : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

class TSimTransport {
 public:
  virtual ~TSimTransport() = default;

  // The name to print: the path the host opens.
  virtual std::string Describe() const = 0;
  // The descriptor to poll for input while a host is attached.
  virtual int Fd() const = 0;
  // Looks, without blocking, whether a host is attached now.
  virtual bool PeerPresent() = 0;
  // Whether a host that went away can come back (a pty can be reopened).
  virtual bool CanReattach() const = 0;
  // Reads what is there: the byte count, 0 when nothing is waiting, -1 when
  // the host has gone.
  virtual ssize_t Read(char* buf, std::size_t size) = 0;
  // Writes what the line takes now: the byte count (maybe 0), -1 when the
  // host has gone.
  virtual ssize_t Write(const char* buf, std::size_t size) = 0;
  // The host went away: drop bytes still queued in either direction so that
  // the next host does not see them.
  virtual void DiscardQueued() = 0;
};

// A new pseudo-terminal pair in raw mode; the host opens the slave side.
std::unique_ptr<TSimTransport> SimOpenPty();
// An existing serial device or pty slave, opened by path.
std::unique_ptr<TSimTransport> SimOpenPath(const std::string& path);
// A descriptor the simulator inherited (a socketpair, a pty master, a tty).
std::unique_ptr<TSimTransport> SimAdoptFd(int fd);
// A TCP listener on 127.0.0.1 only (port 0: any free port). One host at a time
// is served; when it disconnects the next connection is taken. Describe()
// gives "127.0.0.1:PORT" with the port actually bound.
std::unique_ptr<TSimTransport> SimListenTcp(int port);
