// A throw caught three calls up, in a program linked with the library's
// throw and end-of-catch wrappers, with the library active (a data block with
// the default options: handled exceptions are not reported) beside the same
// with the library dormant, timed in turns in one run. The goal: a catch
// clause costs no rethrow and no allocation while handled exceptions are not
// reported, so the active figure stays within a small factor of the dormant one.
#include <windows.h>

#include <cstdio>

#include "ECoreWin.h"
#include "EDebugWin.h"
#include "ExceptionLogWin.h"
#include "PairedTimes.h"
#include "SysUtils.h"
#include "Units.h"

namespace {

volatile int g_depth = 0;

[[gnu::noinline]] void Raise(int depth) {
  if (depth >= 0) throw EConvertError("not a number");
}
[[gnu::noinline]] void Middle(int depth) {
  Raise(depth + 1);
  g_depth = depth;  // the call is not followed by the epilogue
}
[[gnu::noinline]] void Outer(int depth) {
  Middle(depth + 1);
  g_depth = depth;
}

constexpr int kPairsPerRun = 2000;

int ThrowAndCatch() {
  int caught = 0;
  for (int i = 0; i < kPairsPerRun; ++i) {
    try {
      Outer(0);
      g_depth = -1;
    } catch (const EConvertError&) {
      ++caught;
    }
  }
  return caught;
}

UnitEntry g_units[] = {
    {"ECore", InitECoreWin, DoneECoreWin},
    {"EDebug", InitEDebug, DoneEDebug},
    {"ExceptionLog", InitExceptionLog, DoneExceptionLog},
};

}  // namespace

int main() {
  SetUnitTable(g_units, sizeof g_units / sizeof g_units[0]);
  RunUnitInitializations();
  TVantorLogFlags& flags = VantorLogFlags();
  if (flags.Initialized != 1) {
    std::printf("the library did not start (initialized=%d)\n", flags.Initialized);
    return 1;
  }
  int caught = 0;
  TPairedTimes t = TimePaired(
      15, [] { VantorLogFlags().Initialized = 1; }, [&] { caught += ThrowAndCatch(); },
      [] { VantorLogFlags().Initialized = 0; }, [&] { caught += ThrowAndCatch(); });
  flags.Initialized = 1;
  const double active = t.first / kPairsPerRun * 1e6, dormant = t.second / kPairsPerRun * 1e6;
  std::printf("throw caught three calls up (%d pairs a run, %d runs in turns, %d caught):\n", kPairsPerRun, t.pairs,
              caught);
  std::printf("  library active : %8.2f us per throw and catch\n", active);
  std::printf("  library dormant: %8.2f us per throw and catch\n", dormant);
  std::printf("  active / dormant: %.2f (median of the pairs' ratios: %.2f)\n", dormant > 0 ? active / dormant : 0.0,
              t.ratio > 0 ? 1.0 / t.ratio : 0.0);
  RunUnitFinalizations();
  return 0;
}
