// The hang detector: TFreezeThread sends the program's main window WM_NULL
// every 350 ms while it answers; when it stays silent for FreezeSeconds the
// detector suspends the main thread, copies its registers and stack, resumes
// it, reports an EFrozenApplication at the main thread's instruction through
// the pipeline and watches again.
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

// The detector's report: the main thread's registers and stack copied while it
// is suspended (nothing that allocates or takes a lock runs meanwhile), then
// the report built from the copies after it goes on.
void ReportFreeze();

void StartFreezeDetection();
void StopFreezeDetection();
// The running detector (null when none runs).
TFreezeThread* FreezeDetector();
// Connects the options' switches to the detector.
void InstallFreezeDetectionApi();
