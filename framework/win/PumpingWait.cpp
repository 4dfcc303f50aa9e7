#include "PumpingWait.h"

#include <atomic>

#include "Thread.h"
#include "Win32Platform.h"

namespace {

std::atomic<ThreadMessageProcessor> g_processor{nullptr};
std::atomic<QuitMessageHandler> g_quitHandler{nullptr};

struct PendingQuit {
  bool seen = false;
  int code = 0;
};

// Empties the queue; on the main thread also the synchronous calls.
bool PumpPending(bool mainThread, PendingQuit& quit) {
  bool any = false;
  MSG msg;
  while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
    any = true;
    if (msg.message == WM_QUIT) {
      QuitMessageHandler h = mainThread ? g_quitHandler.load() : nullptr;
      if (h) {
        h(static_cast<int>(msg.wParam));
      } else {
        quit.seen = true;
        quit.code = static_cast<int>(msg.wParam);
      }
      continue;
    }
    if (ThreadMessageProcessor p = mainThread ? g_processor.load() : nullptr) {
      p(msg);
    } else {
      TranslateMessage(&msg);
      DispatchMessageA(&msg);
    }
  }
  if (mainThread && CheckSynchronize()) any = true;
  return any;
}

void Requeue(const PendingQuit& quit) {
  if (quit.seen) PostQuitMessage(quit.code);
}

// The common loop: pump, test, block until input, a handle, or the deadline.
int PumpLoop(std::uint32_t timeoutMs, const std::function<bool()>* done, const HANDLE* handles, unsigned count) {
  const bool mainThread = IsMainThread();
  HANDLE waitSet[MAXIMUM_WAIT_OBJECTS];
  unsigned n = 0;
  for (unsigned i = 0; i < count && n < MAXIMUM_WAIT_OBJECTS - 1; ++i) waitSet[n++] = handles[i];
  const unsigned userCount = n;
  HANDLE syncEvent = mainThread ? SynchronizeEvent() : nullptr;
  if (syncEvent) waitSet[n++] = syncEvent;

  const std::uint64_t end = MonotonicMilliseconds() + timeoutMs;
  PendingQuit quit;
  int result = -1;
  for (;;) {
    PumpPending(mainThread, quit);
    if (done && (*done)()) {
      result = 0;
      break;
    }
    if (userCount > 0) {
      // A handle that became signalled while messages were handled.
      DWORD r = WaitForMultipleObjects(userCount, waitSet, FALSE, 0);
      if (r < WAIT_OBJECT_0 + userCount) {
        result = static_cast<int>(r - WAIT_OBJECT_0);
        break;
      }
      if (r == WAIT_FAILED) break;
    }
    const std::uint64_t now = MonotonicMilliseconds();
    if (now >= end) break;
    const std::uint64_t left = end - now;
    const DWORD wait = left > 0x7FFFFFFFu ? 0x7FFFFFFFu : static_cast<DWORD>(left);
    DWORD r = MsgWaitForMultipleObjectsEx(n, n ? waitSet : nullptr, wait, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
    if (r < WAIT_OBJECT_0 + userCount) {
      result = static_cast<int>(r - WAIT_OBJECT_0);
      break;
    }
    if (r == WAIT_FAILED) {
      if (userCount > 0) break;  // an invalid handle
      Sleep(1);                  // should not happen; never spin
    }
  }
  Requeue(quit);
  return result;
}

}  // namespace

bool ProcessThreadMessages() {
  PendingQuit quit;
  bool any = PumpPending(IsMainThread(), quit);
  Requeue(quit);
  return any;
}

void PumpingWait(std::uint32_t timeoutMs) {
  PumpLoop(timeoutMs, nullptr, nullptr, 0);
}

bool PumpingWaitUntil(std::uint32_t timeoutMs, const std::function<bool()>& done) {
  return PumpLoop(timeoutMs, &done, nullptr, 0) == 0;
}

int PumpingWaitForObjects(const HANDLE* handles, unsigned count, std::uint32_t timeoutMs) {
  if (count == 0 || count > MAXIMUM_WAIT_OBJECTS - 1) return -1;
  return PumpLoop(timeoutMs, nullptr, handles, count);
}

namespace {

class TPumpingMainThreadWaiter : public MainThreadWaiter {
 public:
  void WaitUntil(const std::function<bool()>& done) override {
    // Every queued call and every SignalSyncWaiters sets the synchronize
    // event, which ends the block; the condition is looked at after each.
    while (!PumpingWaitUntil(0x7FFFFFFFu, done)) {
    }
  }
};

}  // namespace

MainThreadWaiter& PumpingMainThreadWaiter() {
  static TPumpingMainThreadWaiter waiter;
  return waiter;
}

void SetThreadMessageProcessor(ThreadMessageProcessor processor) {
  g_processor = processor;
}
QuitMessageHandler SetQuitMessageHandler(QuitMessageHandler handler) {
  return g_quitHandler.exchange(handler);
}
