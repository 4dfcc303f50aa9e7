#include "Timers.h"

#include <gtest/gtest.h>

#include <cstdint>

TEST(Timers, ConvertsSecondsAndMilliseconds) {
  struct Case {
    std::int32_t in;
    std::int32_t seconds;
    std::int32_t ms;
  };
  const Case cases[] = {
      {0, 0, 0},      {1, 18, 0},        {2, 36, 0},   {15, 273, 0},      {50, 910, 0},
      {200, 3641, 3}, {1000, 18206, 18}, {-1, -18, 0}, {-200, -3641, -3},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(SecondsToTicks(c.in), c.seconds) << c.in;
    EXPECT_EQ(MillisecondsToTicks(c.in), c.ms) << c.in;
  }
}

TEST(Timers, TickOfMillisecondCounter) {
  EXPECT_EQ(TickOfMilliseconds(0), 0);
  EXPECT_EQ(TickOfMilliseconds(54), 0);
  EXPECT_EQ(TickOfMilliseconds(55), 1);
  EXPECT_EQ(TickOfMilliseconds(0xFFFFFFFFu), kTickMax);
  EXPECT_EQ(kTickWrapPeriod, 78090315);
}

TEST(Timers, StartCapsTheLength) {
  TTickTimer t{};
  StartTickTimerAt(t, 100000000, 500);
  EXPECT_EQ(t.Start, 500);
  EXPECT_EQ(t.Stop, 500 + kTickDeadlineCap);
  StartTickTimerAt(t, 5, 500);
  EXPECT_EQ(t.Stop, 505);
}

TEST(Timers, ExpiryWithAndWithoutWrap) {
  struct Case {
    std::int32_t start, stop, now;
    bool expired;
  };
  const std::int32_t nearEnd = kTickMax - 20;  // a deadline of 100 ticks started 20 ticks before the wrap
  const Case cases[] = {
      {100, 100, 100, false},
      {100, 100, 101, true},
      {100, 105, 99, true},  // before the start: read as a whole wrap period elapsed
      {100, 200, 150, false},
      {100, 200, 201, true},
      // Wrapped: 20 + 30 + 1 = 51 ticks elapsed of 100.
      {nearEnd, nearEnd + 100, 30, false},
      // Wrapped: 20 + 79 + 1 = 100 ticks elapsed, the stop tick itself.
      {nearEnd, nearEnd + 100, 79, false},
      {nearEnd, nearEnd + 100, 80, true},
      // A capped deadline started just before the wrap runs for its full length.
      {nearEnd, nearEnd + kTickDeadlineCap, kTickDeadlineCap - 22, false},
      {nearEnd, nearEnd + kTickDeadlineCap, kTickDeadlineCap - 20, true},
      // Stop above now + wrap period: not yet; below it: expired.
      {kTickMax, kTickMax + 1000, 10, false},
      {kTickMax, kTickMax + 10, 10, true},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(TickTimerExpiredAt(TTickTimer{c.start, c.stop}, c.now), c.expired)
        << c.start << " " << c.stop << " " << c.now;
  }
}

namespace {
std::uint32_t gFakeMs = 0;
std::uint32_t FakeClock() {
  return gFakeMs;
}
}  // namespace

TEST(Timers, DeadlineAcrossTheCounterWrap) {
  SetMillisecondClock(&FakeClock);
  gFakeMs = 0xFFFFFFFFu - 55 * 10;  // ten ticks before the wrap
  TTickTimer t{};
  StartSecondsTimer(t, 1);  // 18 ticks
  EXPECT_EQ(t.Stop - t.Start, 18);
  EXPECT_FALSE(TickTimerExpired(t));
  gFakeMs = 55 * 5;  // wrapped: about 16 ticks elapsed
  EXPECT_FALSE(TickTimerExpired(t));
  gFakeMs = 55 * 8;  // about 19 ticks elapsed
  EXPECT_TRUE(TickTimerExpired(t));
  SetMillisecondClock(nullptr);
  StartTickTimer(t, 1000);
  EXPECT_FALSE(TickTimerExpired(t));
}
