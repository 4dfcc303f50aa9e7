// The coarse protocol clock: ticks of 55 ms taken from the system's 32-bit
// millisecond counter, and deadlines that survive the counter's wrap-around.
// The message-pumping wait that uses these deadlines lives with the Win32 code.
#pragma once

#include <cstdint>

// A deadline: the tick it was started at and the tick after which it has expired.
struct TTickTimer {
  std::int32_t Start;
  std::int32_t Stop;
};

// Longest deadline, in ticks (2^31 div 55).
inline constexpr std::int32_t kTickDeadlineCap = 39045157;
// Largest tick the clock reports before it wraps to 0 (2^32 div 55).
inline constexpr std::int32_t kTickMax = 78090314;
// Number of distinct tick values, the distance by which the tick count jumps back
// when the millisecond counter wraps.
inline constexpr std::int32_t kTickWrapPeriod = kTickMax + 1;

// Seconds x 1675 / 92 (18.2065 ticks a second), truncated toward zero.
std::int32_t SecondsToTicks(std::int32_t seconds);
// Milliseconds x 1675 / 92000, truncated toward zero.
std::int32_t MillisecondsToTicks(std::int32_t ms);

// The tick of a millisecond counter value.
inline std::int32_t TickOfMilliseconds(std::uint32_t ms) {
  return static_cast<std::int32_t>(ms / 55u);
}

// The millisecond counter the clock reads. The default is a monotonic clock taken
// modulo 2^32; the Windows build installs the multimedia timer, tests a fake one.
using TMillisecondClock = std::uint32_t (*)();
void SetMillisecondClock(TMillisecondClock clock);  // nullptr restores the default
std::uint32_t CurrentMilliseconds();
std::int32_t CurrentTick();

// Deadline operations on an explicit "now", for callers that read the clock once.
void StartTickTimerAt(TTickTimer& timer, std::int32_t ticks, std::int32_t now);
bool TickTimerExpiredAt(const TTickTimer& timer, std::int32_t now);

void StartTickTimer(TTickTimer& timer, std::int32_t ticks);
void StartSecondsTimer(TTickTimer& timer, std::int32_t seconds);
bool TickTimerExpired(const TTickTimer& timer);
