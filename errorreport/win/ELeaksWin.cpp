#include "ELeaksWin.h"

#include <windows.h>

#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <string_view>

#include "ECore.h"
#include "ECoreWin.h"
#include "EHookWin.h"
#include "ESystemWin.h"
#include "MemoryManager.h"

extern "C" IMAGE_DOS_HEADER __ImageBase;

namespace {
constexpr UINT kLeaksBoxStyle = 0x242010;  // MB_ICONERROR | MB_TASKMODAL | MB_TOPMOST | MB_SERVICE_NOTIFICATION
constexpr const char* kLeaksInitializationError = "Error in ELeaks Initialization.";

HMODULE ThisModule() {
  return reinterpret_cast<HMODULE>(&__ImageBase);
}

void ShowLeaksBox(const std::string& text, const char* caption) {
  MessageBoxA(nullptr, text.c_str(), caption, kLeaksBoxStyle);
}

// The manager the catcher found, called underneath it.
class SavedManager : public LeakBaseAllocator {
 public:
  TMemoryManager Manager{};
  void* Allocate(std::size_t size) override { return Manager.Allocate(size); }
  void Free(void* block) override { Manager.Free(block); }
  void* Reallocate(void* block, std::size_t size) override { return Manager.Reallocate(block, size); }
};

// The caller's stack from the site the catcher's entries pass: on i686 the
// frame of the framework routine that called the entry, on x86_64 the 35
// return addresses captured in the entry.
class CallSiteRecorder : public LeakStackRecorder {
 public:
  void Record(bool, std::uintptr_t*, std::uintptr_t*) override {}
  void RecordAt(const void* site, bool, std::uintptr_t* rawStack, std::uintptr_t* frames) override {
    if (!site) return;
#if defined(__i386__)
    const void* top = reinterpret_cast<const void*>(GetThreadStackTop());
    CaptureLeakStack(site, site, top, rawStack, frames);
#else
    std::memcpy(rawStack, site, kLeakStackEntries * sizeof(std::uintptr_t));
    std::memcpy(frames, site, kLeakStackEntries * sizeof(std::uintptr_t));
#endif
  }
};

SavedManager g_saved;
CallSiteRecorder g_recorder;
alignas(TLeakCatcher) unsigned char g_catcherStorage[sizeof(TLeakCatcher)];
TLeakCatcher* g_catcher = nullptr;
std::uint8_t g_options = 0;
bool g_installed = false;

// --- The catcher's memory-manager entries --------------------------------------------------------
// Each is called directly by one framework routine; the stack is taken from that routine's caller.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wframe-address"
// `routines`: the framework routines between the entry and the call site.
#if defined(__i386__)
#define LEAK_CALL_SITE(name, routines)           \
  const void* name = __builtin_frame_address(1); \
  for (int skip = 1; skip < (routines) && name; ++skip) name = *static_cast<void* const*>(name)
#else
#define LEAK_CALL_SITE(name, routines)                                                                            \
  std::uintptr_t name##Frames[kLeakStackEntries] = {};                                                            \
  if (g_catcher->IsLeakCatcherActive())                                                                           \
    RtlCaptureStackBackTrace(1 + (routines), kLeakStackEntries, reinterpret_cast<void**>(name##Frames), nullptr); \
  const void* name = name##Frames
#endif

[[gnu::noinline]] void* LeakAllocate(std::size_t size) {
  LEAK_CALL_SITE(site, 1);
  return g_catcher->Allocate(size, site);
}

[[gnu::noinline]] void* LeakAllocateInstance(std::size_t size, const ClassInfo* cls) {
  LEAK_CALL_SITE(site, 2);
  return g_catcher->AllocateInstance(size, cls, site);
}

[[gnu::noinline]] void* LeakReallocate(void* block, std::size_t size) {
  LEAK_CALL_SITE(site, 1);
  return g_catcher->Reallocate(block, size, site);
}
#pragma GCC diagnostic pop

void LeakFree(void* block) {
  g_catcher->Free(block);
}

// The leak options of a module's block ("" without one).
std::string_view ModuleBlockBytes(HMODULE module) {
  if (!module) return {};
  HRSRC res = FindResourceA(module, "VLDATA", MAKEINTRESOURCEA(10));
  if (!res) return {};
  const DWORD size = SizeofResource(module, res);
  HGLOBAL loaded = LoadResource(module, res);
  const void* data = loaded ? LockResource(loaded) : nullptr;
  return data ? std::string_view(static_cast<const char*>(data), size) : std::string_view();
}

// The report runs among the process's exit handlers: after the unit
// finalizations and after the static objects made since start-up were
// destroyed (their exit handlers were registered later than this one).
void ReportLeaksAtExit() {
  if (!g_catcher) return;
  g_catcher->Finalize();
  // Blocks the catcher handed out may still be released later (by static
  // objects made before start-up, or left after the report): its entries stay
  // in place, inactive, and pass every other block to the saved manager.
}

void StartCatcher() {
  // The development environment runs the catcher in none of its modules.
  if (IsIdeHostExecutable()) return;
  HMODULE self = ThisModule();
  HMODULE main = GetModuleHandleA(nullptr);
  const bool isDll = self != main;
  g_options = ChooseLeakOptions(ModuleBlockBytes(self), isDll ? ModuleBlockBytes(main) : std::string_view(), isDll);
  if ((g_options & kLeakCatcherOn) == 0) return;
  // Our modules never use run-time packages: the framework's classes are always this module's own.
  if (!g_catcher) {
    GetMemoryManager(g_saved.Manager);
    g_catcher = new (g_catcherStorage) TLeakCatcher(g_saved, ProcessMemory(), &g_recorder);
#if !defined(__i386__)
    g_catcher->DirectCallsOnly = true;
#endif
  }
  g_catcher->Handlers() = TLeakHandlers{};
  g_catcher->Handlers().Message = [](const std::string& text, const std::string& caption) {
    ShowLeaksBox(text, caption.c_str());
  };
  g_catcher->UnderDebugger = IsDebuggerPresent() != FALSE;
  g_catcher->Start(g_options);
  SetMemoryManager({&LeakAllocate, &LeakFree, &LeakReallocate, &LeakAllocateInstance});
  if (!g_installed) std::atexit(&ReportLeaksAtExit);
  g_installed = true;
}

// --- The shared allocator ---
// The record other modules install: the manager this module had before any catcher.
TMemoryManager g_sharedRecord{};
bool g_sharedClassRegistered = false;

void UnregisterSharedClass() {
  if (!g_sharedClassRegistered) return;
  UnregisterClassA(kSharedAllocatorClassName, ThisModule());
  g_sharedClassRegistered = false;
}
}  // namespace

void SetupSharedMemoryAllocator() {
  WNDCLASSA found{};
  if (GetClassInfoA(ThisModule(), kSharedAllocatorClassName, &found) && found.lpfnWndProc) {
    // Registered by an earlier module (or by this one: its own record again).
    const auto* record = reinterpret_cast<const TMemoryManager*>(found.lpfnWndProc);
    if (record != &g_sharedRecord) SetMemoryManager(*record);
    return;
  }
  if (g_catcher)
    g_sharedRecord = g_saved.Manager;
  else
    GetMemoryManager(g_sharedRecord);
  WNDCLASSA wc{};
  wc.style = CS_GLOBALCLASS;
  wc.lpfnWndProc = reinterpret_cast<WNDPROC>(&g_sharedRecord);
  wc.hInstance = ThisModule();
  wc.lpszClassName = kSharedAllocatorClassName;
  if (!RegisterClassA(&wc)) {
    ShowLeaksBox("Shared Memory Allocator setup failed: Cannot register class.", "ELeaks unit Error");
    ExitProcess(1);
  }
  g_sharedClassRegistered = true;
  std::atexit(&UnregisterSharedClass);
}

void InitELeaks() {
  static_assert(BlockOverHead % 8 == 0 && BlockOverFoot % 8 == 0 && (BlockOverHead + BlockOverFoot) % 8 == 0);
  // Once per module: a second call would drop the handlers the library installed.
  if (g_installed) return;
  try {
    StartCatcher();
  } catch (...) {
    ShowLeaksBox(kLeaksInitializationError, kLeaksErrorCaption);
  }
}

TLeakCatcher* ProcessLeakCatcher() {
  return g_installed ? g_catcher : nullptr;
}

bool IsLeakCatcherActive() {
  return g_catcher && g_catcher->IsLeakCatcherActive();
}

std::uint8_t ProcessLeakOptions() {
  return g_options;
}
