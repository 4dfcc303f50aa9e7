// Waiting while the calling thread's messages keep flowing.
//
// The phone layer's protocol waits run on the main thread (and on the
// finder's search thread). They must keep the user interface, serial-port
// events and synchronous calls alive, and must cost no CPU while idle: between
// messages they block in MsgWaitForMultipleObjectsEx, never spin.
//
// On the main thread the waits also serve synchronous calls (they wake on the
// synchronize event as well as on input). On any other thread they pump only
// that thread's own queue and never run synchronous calls.
#pragma once

#include <windows.h>

#include <cstdint>
#include <functional>

#include "Thread.h"

// Processes every message waiting in the calling thread's queue (translated
// and dispatched), and on the main thread the queued synchronous calls;
// returns at once when nothing is pending. True when anything was processed.
bool ProcessThreadMessages();

// Pumps for `timeoutMs` milliseconds.
void PumpingWait(std::uint32_t timeoutMs);

// Pumps until `done()` is true (checked after every wake-up: a message, a
// synchronous call, or the time-out) or `timeoutMs` has passed. Returns
// done(). Whoever makes `done` true from another thread should wake the
// waiter (post it a message, or queue a synchronous call on the main thread).
bool PumpingWaitUntil(std::uint32_t timeoutMs, const std::function<bool()>& done);

// Pumps until one of `handles` (at most MAXIMUM_WAIT_OBJECTS - 1) is signalled
// or `timeoutMs` has passed: returns the handle's index, or -1 on time-out or
// an invalid handle.
int PumpingWaitForObjects(const HANDLE* handles, unsigned count, std::uint32_t timeoutMs);

// The main thread's wait for other threads (TThread::WaitFor, freeing a
// running thread, ServeSynchronizeUntil): it handles messages and synchronous
// calls until the condition holds, woken by the synchronize event. The Win32
// platform set-up installs it.
MainThreadWaiter& PumpingMainThreadWaiter();

// How a pumping loop hands over one message. The application installs its own
// processing (hooks, dialog keys) here; the default translates and dispatches.
// It is called on the main thread for every message but WM_QUIT; other
// threads always translate and dispatch.
using ThreadMessageProcessor = void (*)(MSG& msg);
void SetThreadMessageProcessor(ThreadMessageProcessor processor);  // null restores the default

// WM_QUIT taken from the queue by a pumping loop on the main thread goes here
// (the application ends its loop). Without a handler the quit message is
// posted again when the wait ends, so an outer loop still sees it.
using QuitMessageHandler = void (*)(int exitCode);
QuitMessageHandler SetQuitMessageHandler(QuitMessageHandler handler);  // returns the one it replaces
