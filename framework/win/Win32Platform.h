// The Win32 side of the portable core's platform interfaces: threads on
// CreateThread, the main-thread waker, files with the system's share modes,
// resources through FindResource/LoadResource, the locale's comparison and
// code page, and the advapi32 registry backend.
//
// InitWin32Platform() is called once on the main thread at start-up (the
// framework's first unit, or a test's set-up). It records the main thread,
// installs every implementation and creates the application's hidden window
// (class "TApplication"), to which the waker posts CM_SYNCHRONIZE so that any
// message loop, modal ones included, serves synchronous calls.
//
// No C++ exception may leave a Win32 callback or a thread entry. Every such
// entry point catches and passes the exception to HandleCallbackException,
// which hands it to the application's handler on the main thread (TApplication
// installs itself; until then the message is written to the debug output).
//
// The main thread's waits for other threads handle its messages too
// (PumpingMainThreadWaiter, installed here).
#pragma once

#include <windows.h>

#include <cstdint>
#include <exception>
#include <string>
#include <string_view>

#include "Messages.h"

// Installs everything (idempotent; later calls from the same thread do nothing).
void InitWin32Platform();
// Restores the portable defaults and destroys the application window.
void DoneWin32Platform();
bool Win32PlatformActive();

// The program's instance.
HINSTANCE MainHInstance();

// The application's hidden top-level window (class "TApplication"), owned by
// the main thread; null before InitWin32Platform.
HWND ApplicationWindow();
// Messages reaching the application window are passed to this handler first
// (TApplication installs it). It returns true when it handled the message
// (msg.Result then holds the answer). CM_SYNCHRONIZE is always served by the
// window itself.
using AppWindowHandler = bool (*)(void* data, TMessage& msg);
void SetApplicationWindowHandler(AppWindowHandler handler, void* data);

// A kernel event (auto-reset) that is set whenever a synchronous call is
// queued: waits on the main thread include it so they wake for requests even
// when nothing looks at the window's queue.
HANDLE SynchronizeEvent();

// --- Threads ----------------------------------------------------------------------------------

// Every thread the ThreadApi starts is created by CreateThread with this start
// routine; its parameter is a TThreadStartPair (made with new) that the
// routine reads and deletes before it runs entry(arg). A framework thread's
// entry is TThread's thread procedure and its argument the TThread
// (TThread::FromThreadEntry). Until the routine has read the pair, a hook
// around CreateThread may replace `entry`.
struct TThreadStartPair {
  void (*entry)(void*);
  void* arg;
};
LPTHREAD_START_ROUTINE FrameworkThreadStartRoutine();

// --- Exceptions at callback boundaries ---------------------------------------------------------

using CallbackExceptionHandler = void (*)(std::exception_ptr error);
// Installs the handler (null restores the default: the message goes to the debug output).
CallbackExceptionHandler SetCallbackExceptionHandler(CallbackExceptionHandler handler);  // returns the one it replaces
// Hands an exception caught at a callback boundary to the handler, on the main
// thread: from another thread it is queued for the main thread (served with
// the synchronous calls) and this returns at once. Never throws.
void HandleCallbackException(std::exception_ptr error) noexcept;
// The text of an exception for displays and logs ("" for EAbort).
const char* ExceptionMessage(const std::exception_ptr& error, char* buffer, std::size_t size) noexcept;

// The text of a system error code (FormatMessage), without the trailing line break.
std::string SysErrorMessage(DWORD code);

// Text in an ANSI code page (CP_ACP: the system's) and UTF-16, through the
// system's conversion; characters the code page lacks become its default one.
std::u16string CodePageToWide(UINT codePage, std::string_view text);
std::string WideToCodePage(UINT codePage, std::u16string_view text);

// The high-resolution monotonic clock in milliseconds.
std::uint64_t MonotonicMilliseconds();
