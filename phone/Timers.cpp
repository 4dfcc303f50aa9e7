#include "Timers.h"

#include <atomic>
#include <chrono>

namespace {

std::uint32_t DefaultClock() {
  const auto ms =
      std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch());
  return static_cast<std::uint32_t>(static_cast<std::uint64_t>(ms.count()));
}

std::atomic<TMillisecondClock> gClock{&DefaultClock};

}  // namespace

std::int32_t SecondsToTicks(std::int32_t seconds) {
  // The product is formed in 32 bits as the clock's callers expect; wrap it
  // explicitly instead of overflowing a signed value.
  const auto product = static_cast<std::int32_t>(static_cast<std::uint32_t>(seconds) * 1675u);
  return product / 92;
}

std::int32_t MillisecondsToTicks(std::int32_t ms) {
  const auto product = static_cast<std::int32_t>(static_cast<std::uint32_t>(ms) * 1675u);
  return product / 92000;
}

void SetMillisecondClock(TMillisecondClock clock) {
  gClock.store(clock ? clock : &DefaultClock);
}

std::uint32_t CurrentMilliseconds() {
  return gClock.load()();
}

std::int32_t CurrentTick() {
  return TickOfMilliseconds(CurrentMilliseconds());
}

void StartTickTimerAt(TTickTimer& timer, std::int32_t ticks, std::int32_t now) {
  if (ticks > kTickDeadlineCap) ticks = kTickDeadlineCap;
  timer.Start = now;
  timer.Stop = now + ticks;  // both at most 2^31 / 55 * 3: no overflow
}

bool TickTimerExpiredAt(const TTickTimer& timer, std::int32_t now) {
  if (now > timer.Stop) return true;
  if (now >= timer.Start) return false;
  // The tick count wrapped since the start: count the ticks past the wrap on top
  // of a whole wrap period, so the deadline ends when it should.
  return now + kTickWrapPeriod > timer.Stop;
}

void StartTickTimer(TTickTimer& timer, std::int32_t ticks) {
  StartTickTimerAt(timer, ticks, CurrentTick());
}

void StartSecondsTimer(TTickTimer& timer, std::int32_t seconds) {
  StartTickTimer(timer, SecondsToTicks(seconds));
}

bool TickTimerExpired(const TTickTimer& timer) {
  return TickTimerExpiredAt(timer, CurrentTick());
}
