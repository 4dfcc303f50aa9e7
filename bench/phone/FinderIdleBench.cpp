// CPU used by the phone finder's idle search thread: nothing marked, the
// thread runs its passes (two 100 ms pauses and a scan of the marks each) for
// a few seconds while the main thread serves its synchronous calls. Measured
// as the process's user + system time over the wall time, with and without
// the end-of-pass report hooked. Also the CPU of a shut-down that waits about
// a second for a search thread held up in a device call. Goal: under 1 % of a
// core.
#include <sys/resource.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <thread>

#include "PhoneFind.h"
#include "Registry.h"

namespace {

double ProcessCpuMs() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  const auto ms = [](const timeval& t) { return t.tv_sec * 1000.0 + t.tv_usec / 1000.0; };
  return ms(u.ru_utime) + ms(u.ru_stime);
}

struct TPassCounter {
  int passes = 0;
  void Pass(const TFinderPass&) { ++passes; }
};

double Measure(const char* label, bool hookPass, int seconds) {
  MemoryRegistryBackend registry;
  TFinderSetup setup;
  setup.registry = &registry;
  TPassCounter counter;
  TPhoneFinder* finder = New<TPhoneFinder>(true, setup);
  if (hookPass) finder->OnPass = TFinderPassEvent::Bind<&TPassCounter::Pass>(&counter);
  // Let the start settle, then measure.
  CheckSynchronize(300);
  const double cpu0 = ProcessCpuMs();
  const auto t0 = std::chrono::steady_clock::now();
  const auto end = t0 + std::chrono::seconds(seconds);
  while (std::chrono::steady_clock::now() < end) CheckSynchronize(50);
  const double wall = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
  const double cpu = ProcessCpuMs() - cpu0;
  finder->Free();
  const double share = 100.0 * cpu / wall;
  std::printf("%-32s wall %.0f ms, CPU %.1f ms (%.3f%% of a core), passes reported %d  (goal: under 1%%)\n", label,
              wall, cpu, share, counter.passes);
  return share;
}

// DKU-2 devices whose listing takes a second (a slow driver).
class TSlowDevices : public TFinderDevices {
 public:
  std::atomic<bool> listing{false};
  std::unique_ptr<TIrDiscovery> CreateIrDiscovery() override { return GetFinderDevices().CreateIrDiscovery(); }
  std::vector<std::string> ListDku2DevicePaths() override {
    listing = true;
    std::this_thread::sleep_for(std::chrono::seconds(1));
    return {};
  }
  std::intptr_t OpenDku2Device(const std::string&, std::uint32_t& systemError) override {
    systemError = 2;
    return 0;
  }
};

double MeasureShutdown() {
  MemoryRegistryBackend registry;
  TSlowDevices devices;
  TFinderSetup setup;
  setup.registry = &registry;
  setup.devices = &devices;
  TPhoneFinder* finder = New<TPhoneFinder>(true, setup);
  finder->ScanDku2 = true;
  while (!devices.listing) CheckSynchronize(5);
  const double cpu0 = ProcessCpuMs();
  const auto t0 = std::chrono::steady_clock::now();
  finder->Free();
  const double wall = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
  const double cpu = ProcessCpuMs() - cpu0;
  const double share = 100.0 * cpu / wall;
  std::printf("%-32s wall %.0f ms, CPU %.1f ms (%.3f%% of a core)  (goal: under 1%%)\n",
              "shut-down waiting for a device", wall, cpu, share);
  return share;
}

}  // namespace

int main() {
  SetMainThreadID(CurrentThreadID());
  const double quiet = Measure("idle search, no pass report", false, 4);
  const double reporting = Measure("idle search, pass reports", true, 4);
  const double shutdown = MeasureShutdown();
  return quiet < 1.0 && reporting < 1.0 && shutdown < 1.0 ? 0 : 1;
}
