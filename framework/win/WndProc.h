// Window procedures for framework objects.
//
// AllocateHWnd gives an object a hidden utility window whose messages go to a
// method of the object (timers, the application's helpers). The window
// belongs to the calling thread. The method answers in msg.Result; for
// messages it does not handle it calls DefWindowProc itself (HandleDefault).
// An exception thrown by the method never leaves the window procedure: it is
// handed to HandleCallbackException.
#pragma once

#include <windows.h>

#include "Messages.h"
#include "Method.h"

using TWndMethod = Method<void(TMessage&)>;

HWND AllocateHWnd(TWndMethod method);
// Destroys a window made by AllocateHWnd (on the thread that made it).
void DeallocateHWnd(HWND wnd);

// Object instances: a window procedure made for one method. The thunk puts
// its record in place of the window handle and jumps to a shared procedure
// that calls the method (exceptions are handed to HandleCallbackException).
// Written for i686 (stdcall) and x86_64; the records live in executable
// blocks that are reused.
WNDPROC MakeObjectInstance(TWndMethod method);
void FreeObjectInstance(WNDPROC instance);

// DefWindowProc for a message received by an AllocateHWnd method.
inline void HandleDefault(HWND wnd, TMessage& msg) {
  msg.Result = DefWindowProcA(wnd, msg.Msg, msg.WParam, msg.LParam);
}
