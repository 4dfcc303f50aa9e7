// Shared helpers of the Windows tests of the link layer: the simulated phone
// that the test driver (with-phonesim) maps to a COM port of the Wine prefix,
// and waits that handle messages.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "TestBytes.h"
#include "TimersWin.h"

// Waits (handling messages) up to `ms` for `done()`.
template <class F>
bool WaitUntil(F done, int ms = 3000) {
  for (int waited = 0; waited < ms; waited += 20) {
    if (done()) return true;
    DelayWithMessages(20);
  }
  return done();
}

// The simulators the test driver starts: one that answers, and one that
// corrupts the checksum of every frame it sends.
enum class TSim { Answering, Corrupting };

// The COM number a simulator is mapped to, 0 when the tests run without it.
inline int SimulatorPort(TSim sim = TSim::Answering) {
  const char* port = std::getenv(sim == TSim::Answering ? "PELLORY_PHONESIM_PORT" : "PELLORY_PHONESIM_CORRUPT_PORT");
  return port ? std::atoi(port) : 0;
}

// Every line so far of the log of the simulator whose log path is in the
// environment variable `logVariable`.
inline std::vector<std::string> SimulatorLogIn(const char* logVariable) {
  std::vector<std::string> lines;
  const char* path = std::getenv(logVariable);
  if (!path) return lines;
  std::string windowsPath = std::string("Z:") + path;
  for (char& ch : windowsPath) {
    if (ch == '/') ch = '\\';
  }
  std::ifstream in(windowsPath);
  std::string line;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(line);
  }
  return lines;
}

// Every line of a simulator's log so far.
inline std::vector<std::string> SimulatorLog(TSim sim = TSim::Answering) {
  return SimulatorLogIn(sim == TSim::Answering ? "PELLORY_PHONESIM_LOG" : "PELLORY_PHONESIM_CORRUPT_LOG");
}

// Waits up to `ms` for a log line equal to `line` among the lines from `from`
// on; its index, or -1.
inline int WaitForLogLine(std::size_t from, const std::string& line, int ms = 3000, TSim sim = TSim::Answering) {
  int found = -1;
  WaitUntil(
      [&] {
        const auto lines = SimulatorLog(sim);
        for (std::size_t i = from; i < lines.size(); ++i) {
          if (lines[i] == line) {
            found = static_cast<int>(i);
            return true;
          }
        }
        return false;
      },
      ms);
  return found;
}
