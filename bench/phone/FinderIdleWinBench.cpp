// CPU used by the phone finder's idle search thread on Windows, started as the
// program starts it (the start-up hooks, then the finder unit's
// initialization) while the main thread handles its messages and synchronous
// calls. Nothing is marked; each pass is two 100 ms pauses and a scan of the
// marks. Measured for 10 s each: with the end-of-pass report unhooked (the
// wizard between searches) and hooked (a search waiting for its first pass);
// then, for comparison only, a DKU-5 search that finds no DKU-5 port.
// The search thread's user + kernel time (GetThreadTimes) is held against the
// goal; the whole process's (GetProcessTimes) is shown beside it.
// Goal: under 1 % of a core for the search thread.
#include <windows.h>

#include <cstdio>

#include "Forms.h"
#include "PhoneFind.h"
#include "PhonePlatformWin.h"
#include "PlatformIdWin.h"
#include "TimersWin.h"
#include "Win32Platform.h"

namespace {

constexpr int kMeasureMs = 10000;
constexpr double kGoalPercent = 1.0;

double Ms(const FILETIME& t) {
  ULARGE_INTEGER v;
  v.LowPart = t.dwLowDateTime;
  v.HighPart = t.dwHighDateTime;
  return static_cast<double>(v.QuadPart) / 10000.0;
}

double ProcessCpuMs() {
  FILETIME created, exited, kernel, user;
  if (!GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user)) return -1;
  return Ms(kernel) + Ms(user);
}

double ThreadCpuMs(HANDLE thread) {
  FILETIME created, exited, kernel, user;
  if (!GetThreadTimes(thread, &created, &exited, &kernel, &user)) return -1;
  return Ms(kernel) + Ms(user);
}

struct TPassCounter {
  int passes = 0;
  void Pass(const TFinderPass&) { ++passes; }
};

// The search thread's CPU share in percent of the wall time; -1 when it cannot be measured.
double Measure(const char* label, bool hookPass, bool dku5 = false) {
  TPassCounter counter;
  PhoneFinder->ScanDku5 = dku5;
  PhoneFinder->OnPass = nullptr;
  if (hookPass) PhoneFinder->OnPass = TFinderPassEvent::Bind<&TPassCounter::Pass>(&counter);
  HANDLE thread = OpenThread(THREAD_QUERY_INFORMATION, FALSE, PhoneFinder->SearchThreadID());
  if (!thread) {
    std::printf("%-36s cannot open the search thread (error %lu)\n", label, GetLastError());
    return -1;
  }
  DelayWithMessages(300);  // the change has reached the thread
  counter.passes = 0;
  const double thread0 = ThreadCpuMs(thread);
  const double process0 = ProcessCpuMs();
  const std::uint64_t t0 = MonotonicMilliseconds();
  DelayWithMessages(kMeasureMs);
  const double wall = static_cast<double>(MonotonicMilliseconds() - t0);
  const double threadCpu = ThreadCpuMs(thread) - thread0;
  const double processCpu = ProcessCpuMs() - process0;
  CloseHandle(thread);
  PhoneFinder->OnPass = nullptr;
  if (thread0 < 0 || threadCpu < 0) {
    std::printf("%-36s cannot read the search thread's times\n", label);
    return -1;
  }
  const double share = 100.0 * threadCpu / wall;
  std::printf("%-36s wall %.0f ms: search thread %.1f ms CPU (%.3f%% of a core), process %.1f ms (%.3f%%)", label, wall,
              threadCpu, share, processCpu, 100.0 * processCpu / wall);
  if (hookPass) std::printf(", passes reported %d", counter.passes);
  std::printf("\n");
  return share;
}

}  // namespace

int main() {
  // The start-up block's hooks, then the finder unit.
  InitForms();
  InitPlatformId();
  UseMultimediaClock();
  UseWinPhonePlatform();
  PhoneFindInitialization();
  bool met = PhoneFinder != nullptr;
  if (met) {
    PhoneFinder->SetActive(true);
    for (bool hookPass : {false, true}) {
      const double share = Measure(hookPass ? "idle search, pass reports" : "idle search, no pass report", hookPass);
      met = met && share >= 0 && share < kGoalPercent;
    }
    // For comparison, not held against the goal: a DKU-5 search rebuilds its
    // port list from the registry (driver trees and serial-port map) every pass.
    Measure("DKU-5 search (no goal)", true, true);
  }
  PhoneFindFinalization();
  DoneForms();
  std::printf("goal: search thread CPU below %.1f%% of a core -> %s\n", kGoalPercent, met ? "met" : "MISSED");
  return met ? 0 : 1;
}
