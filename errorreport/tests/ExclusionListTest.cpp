// The list of threads the library does not report for.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <thread>
#include <vector>

#include "ExceptionLog.h"

namespace {

TEST(ExclusionList, ExcludingIncludingAndClearing) {
  ClearExcludedThreads();
  EXPECT_TRUE(IsThreadNotExcluded(7));
  ExcludeThreadFromReports(7);
  ExcludeThreadFromReports(7);  // listed once
  ExcludeThreadFromReports(9);
  const struct {
    std::uint32_t id;
    bool notExcluded;
  } cases[] = {{7, false}, {9, false}, {8, true}, {0, true}};
  for (const auto& c : cases) EXPECT_EQ(IsThreadNotExcluded(c.id), c.notExcluded) << c.id;
  IncludeThreadInReports(7);  // once is enough although it was excluded twice
  EXPECT_TRUE(IsThreadNotExcluded(7));
  EXPECT_FALSE(IsThreadNotExcluded(9));
  IncludeThreadInReports(5);  // never listed: nothing changes
  EXPECT_FALSE(IsThreadNotExcluded(9));
  ClearExcludedThreads();
  EXPECT_TRUE(IsThreadNotExcluded(9));
}

// Threads change the list while others ask it: every answer about a thread
// whose state does not change stays right.
TEST(ExclusionList, ChangedAndAskedFromManyThreads) {
  ClearExcludedThreads();
  ExcludeThreadFromReports(1000);  // stays excluded throughout
  std::atomic<int> wrong{0};
  std::vector<std::thread> threads;
  for (std::uint32_t t = 0; t < 8; ++t) {
    threads.emplace_back([t, &wrong] {
      const std::uint32_t own = 2000 + t;
      for (int i = 0; i < 2000; ++i) {
        ExcludeThreadFromReports(own);
        if (IsThreadNotExcluded(own) || IsThreadNotExcluded(1000)) ++wrong;
        IncludeThreadInReports(own);
        if (!IsThreadNotExcluded(own) || !IsThreadNotExcluded(1)) ++wrong;
      }
    });
  }
  for (std::thread& t : threads) t.join();
  EXPECT_EQ(wrong.load(), 0);
  EXPECT_FALSE(IsThreadNotExcluded(1000));
  ClearExcludedThreads();
}

}  // namespace
