// CPU cost of waiting on the link: a 2-second DelayWithMessages on the main
// thread, and 2 seconds of an open serial port with nothing arriving (its event
// thread waiting, or polling where the driver cannot wait for line events).
// Goal: under 2 % of one core. The port part needs a COM port with a peer:
// PELLORY_PHONESIM_PORT names one (phone/tests/win/with-phonesim sets it up);
// without it that part is skipped.
#include <windows.h>

#include <cstdio>
#include <cstdlib>

#include "CommP.h"
#include "TimersWin.h"
#include "Win32Platform.h"

namespace {

// User plus kernel time of the whole process, in milliseconds.
double ProcessCpuMs() {
  FILETIME created, exited, kernel, user;
  GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user);
  const auto ms = [](const FILETIME& t) {
    ULARGE_INTEGER v;
    v.LowPart = t.dwLowDateTime;
    v.HighPart = t.dwHighDateTime;
    return static_cast<double>(v.QuadPart) / 10000.0;
  };
  return ms(kernel) + ms(user);
}

double MeasureDelay(const char* label) {
  const double cpu0 = ProcessCpuMs();
  const std::uint64_t t0 = MonotonicMilliseconds();
  DelayWithMessages(2000);
  const double wall = static_cast<double>(MonotonicMilliseconds() - t0);
  const double cpu = ProcessCpuMs() - cpu0;
  const double share = 100.0 * cpu / wall;
  std::printf("%-40s wall %.0f ms, CPU %.1f ms (%.2f%% of one core)\n", label, wall, cpu, share);
  return share;
}

}  // namespace

int main() {
  InitWin32Platform();
  const double goal = 2.0;
  bool met = MeasureDelay("DelayWithMessages(2000)") < goal;
  const char* port = std::getenv("PELLORY_PHONESIM_PORT");
  if (port && std::atoi(port) > 0) {
    TCustComPort* com = New<TCustComPort>(nullptr);
    com->Port = static_cast<std::uint8_t>(std::atoi(port));
    com->BaudRate = br115200;
    com->Events = TEvents{evRxChar, evCTS};
    try {
      com->OpenPort();
      DelayWithMessages(200);  // the event thread has settled on its way of waiting
      const char* how = com->EventThread()->Polling() ? "idle open port (polling the queue)"
                                                      : "idle open port (waiting for line events)";
      met = MeasureDelay(how) < goal && met;
    } catch (const std::exception& e) {
      std::printf("idle open port: cannot open COM%s: %s\n", port, e.what());
      met = false;
    }
    com->Free();
  } else {
    std::printf("idle open port: skipped (no PELLORY_PHONESIM_PORT)\n");
  }
  std::printf("goal: CPU below %.1f%% of one core -> %s\n", goal, met ? "met" : "MISSED");
  return met ? 0 : 1;
}
