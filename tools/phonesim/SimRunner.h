// The simulator's event loop: waits on the transport and the signal pipe,
// feeds received bytes to the link, writes what the link queues when it is
// due, follows the host coming and going, and writes the log.
#pragma once

#include <cstdio>
#include <memory>
#include <string>

#include "SimLink.h"
#include "SimOptions.h"
#include "SimPersona.h"
#include "SimTransport.h"

class TSimRunner {
 public:
  // `signalFd` is the read end of a pipe that carries one byte per signal
  // (the signal number); -1 for none.
  TSimRunner(const TSimOptions& options, std::unique_ptr<TSimTransport> transport, int signalFd);
  ~TSimRunner();

  // Runs until a terminating signal or, with --exit-on-close, the host's
  // close. Returns the exit code.
  int Run();

  const TSimTransport& Transport() const { return *transport_; }

 private:
  void Log(const std::string& line);
  void Attach();
  void Detach();
  bool HandleSignals();
  void ReadInput(std::int64_t now);
  void WriteOutput();

  TSimOptions opt_;
  std::unique_ptr<TSimTransport> transport_;
  int signalFd_;
  TSimPersona persona_;
  TSimLink link_;
  std::FILE* log_ = nullptr;
  bool attached_ = false;
  bool everAttached_ = false;
  bool gone_ = false;  // detached for good (a transport that cannot be reopened)
  std::int64_t detachedAt_ = 0;
  std::int64_t lastRx_ = 0;
  std::string pendingOut_;
};

// Milliseconds of a monotonic clock.
std::int64_t SimNowMs();
