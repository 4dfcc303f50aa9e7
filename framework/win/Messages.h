// Window messages as the framework passes them around: TMessage, and the
// framework's own message numbers (CM_*), all in one space above 0xB000.
#pragma once

#include <windows.h>
// The portable core has its own DeleteFile (FileApi.h); Win32 code calls DeleteFileA by name.
#undef DeleteFile

struct TMessage {
  UINT Msg;
  WPARAM WParam;
  LPARAM LParam;
  LRESULT Result;
};

constexpr UINT CM_BASE = 0xB000;
constexpr UINT CM_ACTIVATE = CM_BASE + 0;
constexpr UINT CM_DEACTIVATE = CM_BASE + 1;
constexpr UINT CM_DIALOGKEY = CM_BASE + 5;
constexpr UINT CM_DIALOGCHAR = CM_BASE + 6;
constexpr UINT CM_FOCUSCHANGED = CM_BASE + 7;
constexpr UINT CM_ENABLEDCHANGED = CM_BASE + 0x0C;
constexpr UINT CM_COLORCHANGED = CM_BASE + 0x0D;
constexpr UINT CM_FONTCHANGED = CM_BASE + 0x0E;
constexpr UINT CM_CTL3DCHANGED = CM_BASE + 0x10;
constexpr UINT CM_TEXTCHANGED = CM_BASE + 0x12;
constexpr UINT CM_MOUSEENTER = CM_BASE + 0x13;
constexpr UINT CM_MOUSELEAVE = CM_BASE + 0x14;
constexpr UINT CM_VISIBLECHANGED = CM_BASE + 0x17;
constexpr UINT CM_SYSCOLORCHANGE = CM_BASE + 0x24;
constexpr UINT CM_DRAG = CM_BASE + 0x2F;
constexpr UINT CM_HINTSHOW = CM_BASE + 0x30;
constexpr UINT CM_BIDIMODECHANGED = CM_BASE + 0x3C;
constexpr UINT CM_HINTSHOWPAUSE = CM_BASE + 0x41;
constexpr UINT CM_MOUSEWHEEL = CM_BASE + 0x43;
constexpr UINT CM_ACTIONUPDATE = CM_BASE + 0x44;
constexpr UINT CM_ACTIONEXECUTE = CM_BASE + 0x45;
// Private: a synchronous call is waiting (posted to the application window).
constexpr UINT CM_SYNCHRONIZE = CM_BASE + 0x100;
// Private: a timer's settings changed on another thread (posted to the timer's window).
constexpr UINT CM_TIMERUPDATE = CM_BASE + 0x101;
// Private: a request to run on the thread that owns a window (posted with a request record).
constexpr UINT CM_RELEASE = CM_BASE + 0x102;
