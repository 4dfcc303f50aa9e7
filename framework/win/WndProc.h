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

// DefWindowProc for a message received by an AllocateHWnd method.
inline void HandleDefault(HWND wnd, TMessage& msg) {
  msg.Result = DefWindowProcA(wnd, msg.Msg, msg.WParam, msg.LParam);
}
