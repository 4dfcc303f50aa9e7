// Two pieces of work timed side by side in one run, the way every benchmark
// here sets a figure beside its reference: in turns, A B, then B A, then A B
// and so on, after one run of each that is not counted. A slow spell of the
// machine, or a cache left warm by the run before, then falls on both alike;
// each pair gives its own ratio, and the medians over the pairs are reported.
#pragma once

#include <algorithm>
#include <chrono>
#include <vector>

struct TPairedTimes {
  double first = 0;   // median seconds of one run of the first piece
  double second = 0;  // and of the second
  double ratio = 0;       // median over the pairs of second / first
  double difference = 0;  // median over the pairs of second - first, in seconds
  int pairs = 0;
};

inline double MedianOf(std::vector<double> v) {
  if (v.empty()) return 0;
  std::sort(v.begin(), v.end());
  const std::size_t n = v.size();
  return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

// `prepareX` runs before each run of `runX`, outside the time (pass [] {} when there is nothing to prepare).
template <class PrepareA, class RunA, class PrepareB, class RunB>
TPairedTimes TimePaired(int pairs, PrepareA&& prepareA, RunA&& runA, PrepareB&& prepareB, RunB&& runB) {
  auto once = [](auto& prepare, auto& run) {
    prepare();
    const auto start = std::chrono::steady_clock::now();
    run();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  };
  once(prepareA, runA);
  once(prepareB, runB);
  std::vector<double> a, b, ratio, difference;
  for (int i = 0; i < pairs; ++i) {
    double x, y;
    if (i % 2 == 0) {
      x = once(prepareA, runA);
      y = once(prepareB, runB);
    } else {
      y = once(prepareB, runB);
      x = once(prepareA, runA);
    }
    a.push_back(x);
    b.push_back(y);
    if (x > 0) ratio.push_back(y / x);
    difference.push_back(y - x);
  }
  return {MedianOf(a), MedianOf(b), MedianOf(ratio), MedianOf(difference), pairs};
}

template <class RunA, class RunB>
TPairedTimes TimePaired(int pairs, RunA&& runA, RunB&& runB) {
  auto nothing = [] {};
  return TimePaired(pairs, nothing, runA, nothing, runB);
}
