// When the thread timer (QvTimer) runs, and which changes of its settings
// make it re-arm.
#pragma once

struct TTimerSettings {
  bool Enabled = true;
  unsigned Interval = 1000;  // milliseconds; 0 stops the timer
  bool HasHandler = false;   // OnTimer is assigned
  bool Threaded = true;      // a thread of its own, else a window timer
};

enum class TTimerMode { Off, Thread, Window };

// The mechanism that fires: none unless Interval is not 0, Enabled holds and a handler is set.
TTimerMode ArmedMode(const TTimerSettings& s);
// A new handler re-arms only when it goes from assigned to none or back.
bool HandlerChangeRearms(bool hadHandler, bool hasHandler);
// A new thread priority re-arms only in thread mode.
bool PriorityChangeRearms(const TTimerSettings& s);
