// The hang detector: TFreezeThread sends the program's main window WM_NULL
// every 350 ms while it answers; when it stays silent for FreezeSeconds the
// detector suspends the main thread, reads its registers and reports an
// EFrozenApplication at the main thread's instruction through the pipeline,
// then resumes it and watches again.
#pragma once

#include <windows.h>

#include <atomic>

#include "Thread.h"

class TFreezeThread : public TThread {
  FW_CLASS(TFreezeThread, TThread)
 public:
  TFreezeThread() : TThread(true) {}
  std::atomic<DWORD> Win32Id{0};

 protected:
  void Execute() override;
};

void StartFreezeDetection();
void StopFreezeDetection();
// The running detector (null when none runs).
TFreezeThread* FreezeDetector();
// Connects the options' switches to the detector.
void InstallFreezeDetectionApi();
