// Makes the calling thread the main thread for the life of the scope, and
// gives the role back to the thread that held it before.
#pragma once

#include "Thread.h"

class TMainThreadScope {
 public:
  TMainThreadScope() : saved_(MainThreadID()) { SetMainThreadID(CurrentThreadID()); }
  ~TMainThreadScope() { SetMainThreadID(saved_); }
  TMainThreadScope(const TMainThreadScope&) = delete;
  TMainThreadScope& operator=(const TMainThreadScope&) = delete;

 private:
  ThreadId saved_;
};
