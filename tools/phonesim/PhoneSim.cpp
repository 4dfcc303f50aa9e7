// phonesim: a simulated Nokia phone on a pseudo-terminal (or a loopback TCP
// port for infrared), for tests of the link layer and the phone engine. See README.md for the options.
#include <fcntl.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "SimOptions.h"
#include "SimRunner.h"
#include "SimTransport.h"

namespace {
int gSignalPipe[2] = {-1, -1};

void OnSignal(int sig) {
  const int saved = errno;
  const unsigned char b = static_cast<unsigned char>(sig);
  (void)!write(gSignalPipe[1], &b, 1);
  errno = saved;
}

bool InstallSignals() {
  if (pipe2(gSignalPipe, O_CLOEXEC | O_NONBLOCK) != 0) return false;
  struct sigaction sa {};
  sa.sa_handler = OnSignal;
  sigemptyset(&sa.sa_mask);
  for (int sig : {SIGTERM, SIGINT, SIGHUP, SIGUSR1, SIGUSR2}) {
    if (sigaction(sig, &sa, nullptr) != 0) return false;
  }
  signal(SIGPIPE, SIG_IGN);
  return true;
}

// Points `link` at `target`, replacing an existing symlink (not a file).
bool MakeSymlink(const std::string& link, const std::string& target, std::string& error) {
  struct stat st {};
  if (lstat(link.c_str(), &st) == 0) {
    if (!S_ISLNK(st.st_mode)) {
      error = link + " exists and is not a symlink";
      return false;
    }
    unlink(link.c_str());
  }
  if (symlink(target.c_str(), link.c_str()) != 0) {
    error = "cannot create " + link + ": " + std::strerror(errno);
    return false;
  }
  return true;
}

void RemoveSymlink(const std::string& link, const std::string& target) {
  char buf[4096];
  const ssize_t n = readlink(link.c_str(), buf, sizeof buf - 1);
  if (n > 0 && std::string(buf, static_cast<std::size_t>(n)) == target) unlink(link.c_str());
}
}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  TSimOptions options;
  std::string error;
  if (!SimParseOptions(args, options, error)) {
    std::fprintf(stderr, "phonesim: %s (see --help)\n", error.c_str());
    return 2;
  }
  if (options.Help) {
    std::fputs(SimUsage().c_str(), stdout);
    return 0;
  }
  if (options.ListPersonas) {
    std::fputs(SimPersonaList().c_str(), stdout);
    return 0;
  }
  if (options.DieWithParent) {
    const pid_t parent = getppid();
    if (prctl(PR_SET_PDEATHSIG, SIGTERM) != 0 || getppid() != parent) return 0;
  }
  if (!InstallSignals()) {
    std::fprintf(stderr, "phonesim: cannot install signal handlers: %s\n", std::strerror(errno));
    return 1;
  }
  int rc = 1;
  std::string linked;
  try {
    std::unique_ptr<TSimTransport> transport;
    if (options.TcpPort >= 0)
      transport = SimListenTcp(options.TcpPort);
    else if (options.Fd >= 0)
      transport = SimAdoptFd(options.Fd);
    else if (!options.Path.empty())
      transport = SimOpenPath(options.Path);
    else
      transport = SimOpenPty();
    const std::string name = transport->Describe();
    TSimRunner runner(options, std::move(transport), gSignalPipe[0]);
    if (!options.Symlink.empty()) {
      if (!MakeSymlink(options.Symlink, name, error)) {
        std::fprintf(stderr, "phonesim: %s\n", error.c_str());
        return 1;
      }
      linked = name;
    }
    std::printf("%s\n", name.c_str());
    std::fflush(stdout);
    rc = runner.Run();
  } catch (const std::exception& e) {
    std::fprintf(stderr, "phonesim: %s\n", e.what());
    rc = 1;
  }
  if (!linked.empty()) RemoveSymlink(options.Symlink, linked);
  return rc;
}
