#include "TimersWin.h"

#include <mmsystem.h>

#include <algorithm>

#include "PumpingWait.h"

namespace {

std::uint32_t MultimediaMilliseconds() {
  return timeGetTime();
}

// Longest single block of a wait: a deadline across the millisecond counter's
// wrap, or a clock that a test replaced, is looked at again this often.
constexpr DWORD kLongestBlockMs = 1000;

// Milliseconds from now until the tick after `timer.Stop` begins (when the
// deadline expires), between 1 and kLongestBlockMs.
DWORD MillisecondsToExpiry(const TTickTimer& timer) {
  const std::uint32_t end = static_cast<std::uint32_t>(timer.Stop + 1) * 55u;
  const std::uint32_t left = end - CurrentMilliseconds();
  return std::clamp<DWORD>(left, 1, kLongestBlockMs);
}

}  // namespace

void UseMultimediaClock() {
  SetMillisecondClock(&MultimediaMilliseconds);
}

bool WaitWithMessages(const std::function<bool()>& done, const TTickTimer& timer, HANDLE wake) {
  for (;;) {
    if (done()) return true;
    if (TickTimerExpired(timer)) return false;
    const DWORD block = MillisecondsToExpiry(timer);
    if (wake) {
      PumpingWaitForObjects(&wake, 1, block);
    } else {
      PumpingWaitUntil(block, done);
    }
  }
}

void DelayWithMessages(std::int32_t ms) {
  TTickTimer timer;
  StartTickTimer(timer, MillisecondsToTicks(ms));
  ProcessThreadMessages();  // at least once, even for a deadline already past
  WaitWithMessages([] { return false; }, timer, nullptr);
}
