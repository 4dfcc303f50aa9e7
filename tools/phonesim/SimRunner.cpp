#include "SimRunner.h"

#include <poll.h>
#include <unistd.h>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>

#include "SimFrames.h"

namespace {
// Bytes held for a host that does not read; beyond this, output is dropped.
constexpr std::size_t kMaxPendingOut = 64 * 1024;
// How often a detached pty is checked for a new host.
constexpr int kAttachPollMs = 20;
}  // namespace

std::int64_t SimNowMs() {
  using namespace std::chrono;
  return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

TSimRunner::TSimRunner(const TSimOptions& options, std::unique_ptr<TSimTransport> transport, int signalFd)
    : opt_(options),
      transport_(std::move(transport)),
      signalFd_(signalFd),
      persona_(options.Persona),
      link_(persona_, options.Link, [this](const std::string& line) { Log(line); }) {
  persona_.SetDaTimeout(options.DaTimeoutMs);
  if (!opt_.LogFile.empty()) {
    log_ = std::fopen(opt_.LogFile.c_str(), "a");
    if (!log_) throw ESimTransport("cannot open log " + opt_.LogFile + ": " + std::strerror(errno));
  }
}

TSimRunner::~TSimRunner() {
  if (log_) std::fclose(log_);
}

void TSimRunner::Log(const std::string& line) {
  if (log_) {
    std::fputs(line.c_str(), log_);
    std::fputc('\n', log_);
    std::fflush(log_);
  }
  if (opt_.Verbose) std::fprintf(stderr, "phonesim: %s\n", line.c_str());
}

void TSimRunner::Attach() {
  attached_ = true;
  everAttached_ = true;
  lastRx_ = SimNowMs();
  Log("OPEN");
}

void TSimRunner::Detach() {
  if (!attached_) return;
  attached_ = false;
  detachedAt_ = SimNowMs();
  // Whatever was half received is reported before the session ends.
  link_.Idle(detachedAt_, std::time(nullptr));
  link_.Reset();
  pendingOut_.clear();
  transport_->DiscardQueued();
  if (!transport_->CanReattach()) gone_ = true;
  Log("CLOSE");
}

bool TSimRunner::HandleSignals() {
  unsigned char sigs[32];
  const ssize_t n = read(signalFd_, sigs, sizeof sigs);
  for (ssize_t i = 0; i < n; ++i) {
    switch (sigs[i]) {
      case SIGUSR1:
        link_.SetMute(!link_.Mute());
        Log(link_.Mute() ? "MUTE on" : "MUTE off");
        break;
      case SIGUSR2:
        link_.SetCorrupt(!link_.Corrupt());
        Log(link_.Corrupt() ? "CORRUPT on" : "CORRUPT off");
        break;
      default:
        return false;  // SIGTERM, SIGINT, SIGHUP: stop
    }
  }
  return true;
}

void TSimRunner::ReadInput(std::int64_t now) {
  char buf[4096];
  for (int rounds = 0; rounds < 64; ++rounds) {
    const ssize_t n = transport_->Read(buf, sizeof buf);
    if (n < 0) {
      Detach();
      return;
    }
    if (n == 0) return;
    lastRx_ = now;
    link_.Receive(std::string_view(buf, static_cast<std::size_t>(n)), now, std::time(nullptr));
  }
}

void TSimRunner::WriteOutput() {
  while (attached_ && !pendingOut_.empty()) {
    const ssize_t n = transport_->Write(pendingOut_.data(), pendingOut_.size());
    if (n < 0) {
      Detach();
      return;
    }
    if (n == 0) return;
    pendingOut_.erase(0, static_cast<std::size_t>(n));
  }
}

int TSimRunner::Run() {
  const std::int64_t end = opt_.LifetimeMs > 0 ? SimNowMs() + opt_.LifetimeMs : -1;
  if (transport_->PeerPresent()) Attach();
  while (true) {
    const std::int64_t now = SimNowMs();
    if (end >= 0 && now >= end) {
      Log("LIFETIME over");
      return 3;
    }
    if (!attached_ && !gone_ && transport_->PeerPresent()) Attach();
    if (opt_.ExitOnClose && everAttached_ && !attached_ && now - detachedAt_ >= opt_.CloseGraceMs) return 0;

    // Line quiet for long enough: a partial frame will not complete.
    if (attached_ && link_.HasPartial() && now - lastRx_ >= opt_.ResyncMs) link_.Idle(now, std::time(nullptr));
    for (TSimOutput& o : link_.TakeDue(now)) {
      if (opt_.LogSent) Log("TX " + (o.Bytes[0] == '\r' ? o.What : SimHex(o.Bytes)));
      if (pendingOut_.size() + o.Bytes.size() > kMaxPendingOut) {
        Log("DROP " + std::to_string(o.Bytes.size()) + " bytes: the host does not read");
        continue;
      }
      pendingOut_ += o.Bytes;
    }
    WriteOutput();

    // How long to sleep.
    std::int64_t wait = -1;
    auto atMost = [&](std::int64_t ms) {
      if (ms < 0) ms = 0;
      if (wait < 0 || ms < wait) wait = ms;
    };
    if (!attached_ && !gone_) atMost(kAttachPollMs);
    if (attached_ && link_.NextDue() >= 0) atMost(link_.NextDue() - now);
    if (attached_ && link_.HasPartial()) atMost(lastRx_ + opt_.ResyncMs - now);
    if (opt_.ExitOnClose && everAttached_ && !attached_) atMost(detachedAt_ + opt_.CloseGraceMs - now);
    if (end >= 0) atMost(end - now);

    pollfd fds[2];
    nfds_t nfds = 0;
    if (signalFd_ >= 0) fds[nfds++] = {signalFd_, POLLIN, 0};
    const nfds_t lineIndex = nfds;
    if (attached_) {
      fds[nfds++] = {transport_->Fd(), static_cast<short>(POLLIN | (pendingOut_.empty() ? 0 : POLLOUT)), 0};
    }
    const int rc = poll(fds, nfds, static_cast<int>(wait));
    if (rc < 0) {
      if (errno == EINTR) continue;
      Log(std::string("poll failed: ") + std::strerror(errno));
      return 1;
    }
    if (signalFd_ >= 0 && (fds[0].revents & POLLIN) && !HandleSignals()) return 0;
    if (attached_ && nfds > lineIndex) {
      const short ev = fds[lineIndex].revents;
      if (ev & (POLLIN | POLLERR | POLLHUP)) ReadInput(SimNowMs());
      // A hang-up without data: the host has closed the line.
      if (attached_ && (ev & (POLLHUP | POLLERR | POLLNVAL)) && !(ev & POLLIN) && !transport_->PeerPresent()) Detach();
      if (attached_ && (ev & POLLNVAL)) Detach();
    }
  }
}
