// The tree view unit's start-up and shut-down, timed in this process: the
// first pair (it initialises OLE and loads the libraries behind it), then the
// median of further pairs. Goal: a few milliseconds for the first pair.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <vector>

#include "VirtualTreesWin.h"
#include "Win32Platform.h"

namespace {

double Now() {
  static LARGE_INTEGER freq{};
  if (!freq.QuadPart) QueryPerformanceFrequency(&freq);
  LARGE_INTEGER t;
  QueryPerformanceCounter(&t);
  return 1000.0 * static_cast<double>(t.QuadPart) / static_cast<double>(freq.QuadPart);
}

}  // namespace

int main() {
  InitWin32Platform();
  double t0 = Now();
  InitVirtualTrees();
  const double firstStart = Now() - t0;
  t0 = Now();
  DoneVirtualTrees();
  const double firstStop = Now() - t0;
  std::vector<double> pairs;
  for (int i = 0; i < 20; ++i) {
    t0 = Now();
    InitVirtualTrees();
    DoneVirtualTrees();
    pairs.push_back(Now() - t0);
  }
  std::sort(pairs.begin(), pairs.end());
  std::printf(
      "tree view unit: first start-up %.1f ms, its shut-down %.1f ms; later start-up and shut-down pairs median"
      " %.1f ms (goal: a few ms)\n",
      firstStart, firstStop, pairs[pairs.size() / 2]);
  return 0;
}
