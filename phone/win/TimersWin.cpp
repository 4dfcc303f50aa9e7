#include "TimersWin.h"

#include <mmsystem.h>

#include <algorithm>

#include "Thread.h"
#include "Win32Platform.h"

namespace {

std::uint32_t MultimediaMilliseconds() { return timeGetTime(); }

const bool gClockInstalled = (UseMultimediaClock(), true);

// Milliseconds from now until the tick after `timer.Stop` begins, at most
// `cap`; at least 1 so a wait never spins on a boundary.
DWORD MillisecondsToExpiry(const TTickTimer& timer, DWORD cap) {
  const std::uint32_t end = static_cast<std::uint32_t>(timer.Stop + 1) * 55u;
  const std::uint32_t left = end - CurrentMilliseconds();
  // A distance beyond the cap (a deadline across the counter's wrap, or one
  // far away) is waited for in slices.
  return std::clamp<DWORD>(left, 1, cap);
}

}  // namespace

void UseMultimediaClock() { SetMillisecondClock(&MultimediaMilliseconds); }

void ProcessPendingMessages() {
  MSG msg;
  while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
    if (msg.message == WM_QUIT) {
      PostQuitMessage(static_cast<int>(msg.wParam));  // for the loop that owns it
      break;
    }
    TranslateMessage(&msg);
    DispatchMessageA(&msg);
  }
  if (IsMainThread()) CheckSynchronize();
}

bool WaitWithMessages(const std::function<bool()>& done, const TTickTimer& timer, HANDLE wake) {
  (void)gClockInstalled;
  for (;;) {
    ProcessPendingMessages();
    if (done()) return true;
    if (TickTimerExpired(timer)) return false;
    HANDLE handles[2];
    DWORD count = 0;
    if (wake) handles[count++] = wake;
    if (IsMainThread()) {
      // Set when a synchronous call is queued; without the platform's event the
      // queue is looked at every few milliseconds.
      if (HANDLE sync = SynchronizeEvent()) {
        handles[count++] = sync;
      }
    }
    const DWORD cap = IsMainThread() && !SynchronizeEvent() ? 5 : 50;
    MsgWaitForMultipleObjectsEx(count, count ? handles : nullptr, MillisecondsToExpiry(timer, cap), QS_ALLINPUT,
                                MWMO_INPUTAVAILABLE);
  }
}

void DelayWithMessages(std::int32_t ms) {
  TTickTimer timer;
  StartTickTimer(timer, MillisecondsToTicks(ms));
  WaitWithMessages([] { return false; }, timer, nullptr);
}
