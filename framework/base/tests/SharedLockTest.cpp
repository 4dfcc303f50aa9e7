#include "SharedLock.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <future>
#include <memory>
#include <thread>
#include <vector>

namespace {

// One round: a new lock whose very first uses come from four threads at once,
// two writers and two readers; no reader ever sees a writer inside, nor a
// writer another thread. Returns the number of such sightings.
long ContendOnANewLock() {
  auto lock = std::make_unique<TSharedLock>();
  std::atomic<int> ready{0};
  std::atomic<int> inside{0};
  std::atomic<long> overlaps{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([&, writer = t < 2] {
      ready.fetch_add(1);
      while (ready.load() < 4) std::this_thread::yield();
      for (int i = 0; i < 40; ++i) {
        if (writer) {
          lock->lock();
          if (inside.fetch_add(100) != 0) overlaps.fetch_add(1);
          std::this_thread::yield();
          inside.fetch_sub(100);
          lock->unlock();
        } else {
          lock->lock_shared();
          if (inside.fetch_add(1) >= 100) overlaps.fetch_add(1);
          std::this_thread::yield();
          if (inside.load() >= 100) overlaps.fetch_add(1);
          inside.fetch_sub(1);
          lock->unlock_shared();
        }
      }
    });
  for (std::thread& t : threads) t.join();
  return overlaps.load();
}

}  // namespace

// A lock that several threads start using at the same moment neither stalls
// them nor lets a reader in beside a writer. (A plain reader-writer lock of the
// Windows builds' thread library stalls here within the first rounds.)
TEST(SharedLock, FirstUsedByManyThreadsAtOnceItExcludesAndNeverStalls) {
  auto rounds = std::async(std::launch::async, [] {
    long overlaps = 0;
    for (int round = 0; round < 200; ++round) overlaps += ContendOnANewLock();
    return overlaps;
  });
  // Bounded: a stalled round would otherwise hold the whole test program.
  if (rounds.wait_for(std::chrono::minutes(3)) != std::future_status::ready) {
    std::fprintf(stderr, "SharedLock: the rounds stalled (threads wait for ever on a new lock)\n");
    std::fflush(stderr);
    std::_Exit(1);
  }
  EXPECT_EQ(rounds.get(), 0);
}
