// CPU cost of the wizard's waiting animation: a 32 x 32 image stepping
// through a 15-frame strip every 100 ms on a shown form, for 5 seconds. The
// goal is under 1 % of one core (the process's user and kernel time, the
// timer thread included, against the wall time).
//
// Beside it, measured in the same run: the same frames shown the plainest way
// (a window timer of a plain window blitting each frame from a memory
// context), and what one frame costs by its parts: the timer thread's
// wake-up, the synchronous hand-over to the main thread and the buffered
// paint, each repeated often enough for the process clock's resolution
// (10 ms under Wine: one tick is 0.2 % of the 5 seconds; an argument of N
// measures N seconds instead, for a finer figure).
#include <windows.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <thread>

#include "Animate.h"
#include "ExtCtrls.h"
#include "Forms.h"
#include "PumpingWait.h"
#include "Thread.h"
#include "Win32Platform.h"

namespace {

constexpr int kFrame = 32, kFrames = 15, kIntervalMs = 100;
int kSpanMs = 5000;  // the goal's span; a longer one may be given (seconds) for a finer figure

double ProcessCpuMs() {
  FILETIME created, exited, kernel, user;
  GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user);
  auto ms = [](const FILETIME& f) {
    ULARGE_INTEGER u;
    u.LowPart = f.dwLowDateTime;
    u.HighPart = f.dwHighDateTime;
    return static_cast<double>(u.QuadPart) / 10000.0;
  };
  return ms(kernel) + ms(user);
}

struct Counter {
  int frames = 0;
  void Changed(TObject*) { ++frames; }
};

TDib MakeStrip() {
  TDib strip(kFrames * kFrame, kFrame, 24);
  for (int y = 0; y < kFrame; ++y)
    for (int x = 0; x < kFrames * kFrame; ++x)
      strip.SetPixel(x, y, (x % kFrame < 3 || y < 3) ? 0xFF00FFu : 0x102030u * (x / kFrame));
  return strip;
}

struct Share {
  double wall, cpu;
  int frames;
  double Percent() const { return 100.0 * cpu / wall; }
};

// CPU of `run` in microseconds per repetition.
template <class F>
double MicrosEach(int repetitions, F&& run) {
  const double cpu0 = ProcessCpuMs();
  run();
  return 1000.0 * (ProcessCpuMs() - cpu0) / repetitions;
}

// --- The reference: a plain window timer and a blit per frame ---------------------------------

struct Plain {
  HDC strip = nullptr;
  int frame = 0, shown = 0;
};
Plain g_plain;

LRESULT CALLBACK PlainProc(HWND wnd, UINT msg, WPARAM wp, LPARAM lp) {
  switch (msg) {
    case WM_TIMER:
      g_plain.frame = (g_plain.frame + 1) % kFrames;
      InvalidateRect(wnd, nullptr, FALSE);
      UpdateWindow(wnd);
      return 0;
    case WM_PAINT: {
      PAINTSTRUCT ps;
      HDC dc = BeginPaint(wnd, &ps);
      BitBlt(dc, 0, 0, kFrame, kFrame, g_plain.strip, g_plain.frame * kFrame, 0, SRCCOPY);
      EndPaint(wnd, &ps);
      ++g_plain.shown;
      return 0;
    }
    default:
      return DefWindowProcA(wnd, msg, wp, lp);
  }
}

Share PlainReference(TBitmap* strip) {
  WNDCLASSA wc{};
  wc.lpfnWndProc = &PlainProc;
  wc.hInstance = GetModuleHandleA(nullptr);
  wc.lpszClassName = "AnimationBenchPlain";
  RegisterClassA(&wc);
  HWND wnd = CreateWindowExA(0, wc.lpszClassName, "plain", WS_POPUP | WS_VISIBLE, 400, 50, kFrame, kFrame, nullptr,
                             nullptr, wc.hInstance, nullptr);
  HDC screen = GetDC(nullptr);
  g_plain.strip = CreateCompatibleDC(screen);
  HGDIOBJ old = SelectObject(g_plain.strip, CreateCompatibleBitmap(screen, kFrames * kFrame, kFrame));
  ReleaseDC(nullptr, screen);
  BitBlt(g_plain.strip, 0, 0, kFrames * kFrame, kFrame, strip->Canvas()->Handle(), 0, 0, SRCCOPY);
  SetTimer(wnd, 1, kIntervalMs, nullptr);
  PumpingWait(300);
  const double cpu0 = ProcessCpuMs();
  const std::uint64_t t0 = MonotonicMilliseconds();
  const int shown0 = g_plain.shown;
  PumpingWait(kSpanMs);
  Share s{static_cast<double>(MonotonicMilliseconds() - t0), ProcessCpuMs() - cpu0, g_plain.shown - shown0};
  KillTimer(wnd, 1);
  DeleteObject(SelectObject(g_plain.strip, old));
  DeleteDC(g_plain.strip);
  DestroyWindow(wnd);
  return s;
}

// --- The parts of a frame ----------------------------------------------------------------------

// The timer thread's wait: a condition waited for with the period as timeout,
// woken by the timeout (as TQvTimer's thread is), 1 ms periods.
double TimerWakeMicros() {
  constexpr int kWakes = 300;
  std::mutex m;
  std::condition_variable cv;
  return MicrosEach(kWakes, [&] {
    std::thread t([&] {
      std::unique_lock<std::mutex> lk(m);
      for (int i = 0; i < kWakes; ++i) cv.wait_for(lk, std::chrono::milliseconds(1), [] { return false; });
    });
    t.join();
  });
}

// A synchronous call from another thread served by the main thread's message loop.
double HandOverMicros() {
  constexpr int kCalls = 500;
  return MicrosEach(kCalls, [&] {
    std::atomic<bool> finished{false};
    int served = 0;
    std::thread t([&] {
      for (int i = 0; i < kCalls; ++i) SynchronizeCall([&] { ++served; });
      finished = true;
      SignalSyncWaiters();
    });
    PumpingWaitUntil(60000, [&] { return finished.load(); });
    t.join();
  });
}

}  // namespace

int main(int argc, char** argv) {
  if (argc > 1 && std::atoi(argv[1]) > 0) kSpanMs = 1000 * std::atoi(argv[1]);
  InitForms();
  TForm* form = TCustomForm::CreateNew<TForm>(Application);
  form->SetBounds(50, 50, 300, 200);
  auto* panel = New<TPanel>(form);
  panel->SetParent(form);
  panel->SetBounds(10, 10, 200, 100);
  auto* anim = New<TAnimatedImage>(form);
  anim->SetParent(panel);
  const TDib strip = MakeStrip();
  TBitmap* glyph = New<TBitmap>();
  glyph->SetDib(strip);
  anim->SetGlyph(glyph);
  Counter counter;
  anim->OnFrameChanged = TNotifyEvent::Bind<&Counter::Changed>(&counter);
  anim->SetInterval(kIntervalMs);
  anim->SetActive(true);
  form->Show();
  PumpingWait(300);  // settle: the first paints

  const double cpu0 = ProcessCpuMs();
  const std::uint64_t t0 = MonotonicMilliseconds();
  const int frames0 = counter.frames;
  PumpingWait(kSpanMs);
  const Share animated{static_cast<double>(MonotonicMilliseconds() - t0), ProcessCpuMs() - cpu0,
                       counter.frames - frames0};
  anim->SetActive(false);

  // The parts, on the same shown image.
  constexpr int kPaints = 3000;
  const double paint = MicrosEach(kPaints, [&] {
    for (int i = 0; i < kPaints; ++i) anim->Repaint();
  });
  const double handOver = HandOverMicros();
  const double wake = TimerWakeMicros();

  const Share plain = PlainReference(glyph);
  glyph->Free();

  std::printf(
      "animation %d x %d, %d frames, %d ms: wall %.0f ms, CPU %.1f ms (%.2f%% of one core), frames %d"
      " (goal: under 1%%)\n",
      kFrame, kFrame, kFrames, kIntervalMs, animated.wall, animated.cpu, animated.Percent(), animated.frames);
  std::printf(
      "  reference, a window timer blitting the same frames: wall %.0f ms, CPU %.1f ms (%.2f%% of one core),"
      " frames %d\n",
      plain.wall, plain.cpu, plain.Percent(), plain.frames);
  std::printf("  per frame: timer thread wake-up %.0f us, synchronous hand-over %.0f us, buffered paint %.0f us\n",
              wake, handOver, paint);
  form->Free();
  DoneForms();
  return animated.Percent() < 1.0 ? 0 : 1;
}
