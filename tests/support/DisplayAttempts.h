// Input checks that need the display's foreground and its one pointer.
//
// Every program on the display shares both: a test set running beside this
// one may take the foreground at any moment (which ends this program's
// captures, pans and drags, as it must) or put the pointer somewhere else.
// RunHoldingTheDisplay runs a checked scenario up to `attempts` times. Each
// attempt first makes the window's top-level window the foreground one
// (waiting for it with a bound). An attempt whose checks failed while another
// program took the foreground, or while the pointer left the place the
// scenario put it (TDisplayAttempt::MovePointer), is thrown away and run
// again; the checks of an undisturbed attempt, or of the last one, are
// reported as usual. A fault of the code under test fails every attempt and
// so still shows.
#pragma once

#include <gtest/gtest-spi.h>
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdio>
#include <string>

class TDisplayAttempt {
 public:
  // Puts the pointer at a screen point and remembers it as the place it must stay.
  void MovePointer(POINT screen) {
    SetCursorPos(screen.x, screen.y);
    pointer_ = screen;
    placed_ = true;
  }
  // Whether another program took the foreground or the pointer left its place.
  bool Disturbed() {
    Check();
    return !disturbance_.empty();
  }
  const std::string& Disturbance() const { return disturbance_; }

  // Used by RunHoldingTheDisplay.
  void Check() {
    if (!disturbance_.empty() || !placed_) return;
    POINT now{};
    if (GetCursorPos(&now) && (now.x != pointer_.x || now.y != pointer_.y))
      disturbance_ = "the pointer moved to " + std::to_string(now.x) + "," + std::to_string(now.y) +
                     " from where the check put it";
  }
  void Deactivated() {
    if (disturbance_.empty()) disturbance_ = "another program took the foreground";
  }

 private:
  POINT pointer_{};
  bool placed_ = false;
  std::string disturbance_;
};

namespace display_attempts {

inline TDisplayAttempt*& Current() {
  static thread_local TDisplayAttempt* current = nullptr;
  return current;
}

// This thread's windows hear of a deactivation in favour of another thread.
inline LRESULT CALLBACK SentHook(int code, WPARAM wParam, LPARAM lParam) {
  if (code >= 0 && Current()) {
    const auto* sent = reinterpret_cast<const CWPSTRUCT*>(lParam);
    if (sent->message == WM_ACTIVATEAPP && !sent->wParam) Current()->Deactivated();
  }
  return CallNextHookEx(nullptr, code, wParam, lParam);
}

// Every message this thread takes from its queue: the pointer is looked at.
inline LRESULT CALLBACK QueueHook(int code, WPARAM wParam, LPARAM lParam) {
  if (code >= 0 && Current()) Current()->Check();
  return CallNextHookEx(nullptr, code, wParam, lParam);
}

// Makes the window's top-level window the foreground one; false if it did not
// become so within about five seconds.
inline bool TakeTheForeground(HWND window) {
  HWND top = GetAncestor(window, GA_ROOT);
  for (int i = 0; i < 500; ++i) {
    if (GetForegroundWindow() == top && GetActiveWindow() == top) return true;
    SetForegroundWindow(top);
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
      TranslateMessage(&msg);
      DispatchMessageW(&msg);
    }
    Sleep(10);
  }
  return GetForegroundWindow() == top;
}

}  // namespace display_attempts

// `scenario(TDisplayAttempt&)` runs its checks as any test body does; see above.
template <class F>
void RunHoldingTheDisplay(HWND window, int attempts, F scenario) {
  using namespace display_attempts;
  std::string disturbances;
  for (int attempt = 1;; ++attempt) {
    ::testing::TestPartResultArray results;
    TDisplayAttempt watch;
    {
      ::testing::ScopedFakeTestPartResultReporter intercept(
          ::testing::ScopedFakeTestPartResultReporter::INTERCEPT_ONLY_CURRENT_THREAD, &results);
      if (!TakeTheForeground(window)) watch.Deactivated();
      HHOOK sent = SetWindowsHookExW(WH_CALLWNDPROC, &SentHook, nullptr, GetCurrentThreadId());
      HHOOK queue = SetWindowsHookExW(WH_GETMESSAGE, &QueueHook, nullptr, GetCurrentThreadId());
      TDisplayAttempt* saved = Current();
      Current() = &watch;
      scenario(watch);
      watch.Check();
      Current() = saved;
      if (queue) UnhookWindowsHookEx(queue);
      if (sent) UnhookWindowsHookEx(sent);
    }
    bool failed = false;
    for (int i = 0; i < results.size(); ++i) failed |= results.GetTestPartResult(i).failed();
    if (failed && !watch.Disturbance().empty() && attempt < attempts) {
      disturbances += "\n  attempt " + std::to_string(attempt) + ": " + watch.Disturbance();
      std::printf("note: attempt %d failed while %s; it runs again\n", attempt, watch.Disturbance().c_str());
      std::fflush(stdout);
      // Programs that each want the foreground back would take it from each
      // other in step: the wait before the next attempt grows and differs.
      const DWORD pause = 50u * DWORD(attempt) + (GetCurrentProcessId() * 7919u + GetTickCount()) % 100u;
      for (const DWORD start = GetTickCount(); GetTickCount() - start < pause;) {
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
          TranslateMessage(&msg);
          DispatchMessageW(&msg);
        }
        Sleep(10);
      }
      continue;
    }
    for (int i = 0; i < results.size(); ++i) {
      const ::testing::TestPartResult& r = results.GetTestPartResult(i);
      std::string message = r.message();
      if (r.failed() && !disturbances.empty()) message += "\nEarlier attempts were disturbed:" + disturbances;
      if (r.failed() && !watch.Disturbance().empty()) message += "\nThis attempt: " + watch.Disturbance();
      ::testing::internal::AssertHelper(r.type(), r.file_name() ? r.file_name() : "", r.line_number(),
                                        message.c_str()) = ::testing::Message();
    }
    return;
  }
}
