#include "TimerArming.h"

TTimerMode ArmedMode(const TTimerSettings& s) {
  if (s.Interval == 0 || !s.Enabled || !s.HasHandler) return TTimerMode::Off;
  return s.Threaded ? TTimerMode::Thread : TTimerMode::Window;
}

bool HandlerChangeRearms(bool hadHandler, bool hasHandler) {
  return hadHandler != hasHandler;
}

bool PriorityChangeRearms(const TTimerSettings& s) {
  return s.Threaded;
}
