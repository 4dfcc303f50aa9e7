#include "EFreezeWin.h"

#include "EPipelineWin.h"
#include "ESystemWin.h"
#include "ExceptionLogWin.h"
#include "Swallow.h"

extern "C" IMAGE_DOS_HEADER __ImageBase;

FW_IMPLEMENT_CLASS(TFreezeThread)

namespace {

HMODULE ThisModule() {
  return reinterpret_cast<HMODULE>(&__ImageBase);
}

TFreezeThread* g_detector = nullptr;

TVantorModuleOptionsEx* CurrentOptionsOrNull() {
  try {
    return VantorModulesList() ? CurrentVantorLogOptions() : nullptr;
  } catch (...) {
    return nullptr;
  }
}

std::uintptr_t MainThreadStackTop() {
  TVantorThreadsList* list = VantorThreadsList();
  if (!list) return 0;
  std::uintptr_t top = 0;
  list->LockForRead();
  const int i = list->IndexOfThreadId(VantorLogFlags().MainThreadId);
  if (i >= 0) top = list->GetThreadInfo(i)->StackTop;
  list->UnlockRead();
  return top;
}

}  // namespace

// The main thread is suspended only while its registers and stack are copied
// into buffers made beforehand: it may have stopped inside the heap, the
// threads list or the system holding their locks, and the report allocates
// and takes locks. It goes on before the report is built from the copies.
void ReportFreeze() {
  HANDLE main = MainThreadHandle();
  if (!main) return;
  TVantorThreadBlock& block = CurrentThreadBlock();
  const std::uintptr_t top = MainThreadStackTop();
  TStackSnapshot stack;
  stack.Bytes.resize(kMaxScannedStack);  // written now: no page of it is first touched while the thread stands still
  stack.ThreadId = VantorLogFlags().MainThreadId;
  block.Reporting = 1;  // the resume hook records nothing for this thread
  CONTEXT context{};
  context.ContextFlags = 0x10003 | (sizeof(void*) == 8 ? 0x100000 : 0);
  bool copied = false;
  if (SuspendThread(main) != static_cast<DWORD>(-1)) {
    if (GetThreadContext(main, &context)) {
#if defined(__i386__)
      const std::uintptr_t sp = context.Esp;
      copied = context.Eip && sp;
#else
      const std::uintptr_t sp = context.Rsp;
      copied = context.Rip && sp;
#endif
      if (copied) {
        stack.Start = sp;
        stack.Size =
            static_cast<std::uint32_t>(CopyStoppedThreadStack(sp, top, stack.Bytes.data(), stack.Bytes.size()));
      }
    }
    ResumeThread(main);
  }
  try {
    if (copied) {
#if defined(__i386__)
      const std::uintptr_t ip = context.Eip, sp = context.Esp;
#else
      const std::uintptr_t ip = context.Rip, sp = context.Rsp;
#endif
      stack.Address = ip;
      TVantorModuleOptionsEx* options = CurrentOptionsOrNull();
      const std::string text = options ? options->GetCustomText(156) : std::string();
      auto object = std::make_shared<const TExceptionObjectRecord>(
          MakeExceptionObjectRecord(std::make_exception_ptr(EFrozenApplication(text)), ip));
      ProcessExceptionEx(object, ip, false, nullptr, false, 0, ThisModule(), kModeApplication, nullptr, &context, sp,
                         stack.Size ? sp + stack.Size : top, true, stack.Size ? &stack : nullptr);
    }
  } catch (...) {
    SwallowException("ReportFreeze");
  }
  block.Reporting = 0;
}

namespace {

// Sleeps up to `ms` in steps of 50 ms; false when told to end.
bool Pause(TThread& thread, int steps) {
  for (int i = 0; i < steps; ++i) {
    if (thread.Terminated()) return false;
    Sleep(50);
  }
  return !thread.Terminated();
}

}  // namespace

void TFreezeThread::Execute() {
  Win32Id = GetCurrentThreadId();
  const DWORD process = GetCurrentProcessId();
  while (!Terminated()) {
    std::int32_t silence = 0;
    std::int32_t limit = 0;
    do {
      HWND window = FindProcessMainWindow(process);
      while (!window && !Terminated()) {
        Sleep(50);
        window = FindProcessMainWindow(process);
      }
      if (Terminated()) break;
      DWORD_PTR answer = 0;
      if (SendMessageTimeoutA(window, WM_NULL, 0, 0, SMTO_BLOCK, 50, &answer)) {
        Pause(*this, 6);
        silence = 0;
      } else {
        silence += 50;
      }
      TVantorModuleOptionsEx* options = CurrentOptionsOrNull();
      limit = FreezeTimeoutMs(options ? options->FreezeSeconds() : 60);
    } while (!Terminated() && silence < limit);
    if (!Terminated() && silence >= limit) ReportFreeze();
  }
}

TFreezeThread* FreezeDetector() {
  return g_detector;
}

void StartFreezeDetection() {
  TVantorLogFlags& flags = VantorLogFlags();
  TVantorModuleOptionsEx* options = CurrentOptionsOrNull();
  if (flags.MainModuleHasLibrary && options && (options->BehaviourFlags() & 0x08)) return;
  if (g_detector && g_detector->Finished()) {  // ended by its own report's request
    g_detector->Free();
    g_detector = nullptr;
  }
  const bool light = flags.LightScan;
  flags.LightScan = true;
  try {
    if (!IsHostedByIde() && !g_detector && options && options->FreezeCheck()) {
      g_detector = New<TFreezeThread>();
      g_detector->SetPriority(tpNormal);
      g_detector->Resume();
    }
  } catch (...) {
    flags.LightScan = light;
    throw;
  }
  flags.LightScan = light;
}

void StopFreezeDetection() {
  if (IsHostedByIde() || !g_detector) return;
  TFreezeThread* detector = g_detector;
  detector->Terminate();
  if (detector->Win32Id.load() == GetCurrentThreadId()) return;  // asked by its own report: it ends by itself
  g_detector = nullptr;
  if (IsModuleDll(ThisModule())) {
    // A library being unloaded cannot wait for a thread: it is ended at once
    // (its object is left, since its end was never recorded).
    DWORD id = detector->Win32Id.load();
    HANDLE h = id ? OpenThread(THREAD_TERMINATE, FALSE, id) : nullptr;
    if (h) {
      TerminateThread(h, 1);
      CloseHandle(h);
    }
    return;
  }
  detector->WaitFor();
  detector->Free();
}

void InstallFreezeDetectionApi() {
  TFreezeDetectionApi api;
  api.IsCurrentOptions = [](const TVantorModuleOptions* options) {
    return options && options == CurrentOptionsOrNull();
  };
  api.Start = &StartFreezeDetection;
  api.Stop = &StopFreezeDetection;
  SetFreezeDetectionApi(api);
}
