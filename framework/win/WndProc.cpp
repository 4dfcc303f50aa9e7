#include "WndProc.h"

#include <exception>

#include "Exceptions.h"
#include "Win32Platform.h"

namespace {

const char kUtilClass[] = "TPUtilWindow";

LRESULT CALLBACK UtilWndProc(HWND wnd, UINT msg, WPARAM wp, LPARAM lp) {
  auto* method = reinterpret_cast<TWndMethod*>(GetWindowLongPtrA(wnd, GWLP_USERDATA));
  if (!method) return DefWindowProcA(wnd, msg, wp, lp);
  TMessage m{msg, wp, lp, 0};
  try {
    (*method)(m);
  } catch (...) {
    HandleCallbackException(std::current_exception());
    return 0;
  }
  return m.Result;
}

void RegisterUtilClass() {
  WNDCLASSA existing;
  if (GetClassInfoA(MainHInstance(), kUtilClass, &existing)) return;
  WNDCLASSA wc = {};
  wc.lpfnWndProc = &UtilWndProc;
  wc.hInstance = MainHInstance();
  wc.lpszClassName = kUtilClass;
  RegisterClassA(&wc);
}

}  // namespace

HWND AllocateHWnd(TWndMethod method) {
  RegisterUtilClass();
  HWND wnd = CreateWindowExA(WS_EX_TOOLWINDOW, kUtilClass, "", WS_POPUP, 0, 0, 0, 0, nullptr, nullptr, MainHInstance(),
                             nullptr);
  if (!wnd) throw EOutOfResources("Cannot create a window: " + SysErrorMessage(GetLastError()));
  if (method) SetWindowLongPtrA(wnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(new TWndMethod(method)));
  return wnd;
}

void DeallocateHWnd(HWND wnd) {
  if (!wnd) return;
  auto* method = reinterpret_cast<TWndMethod*>(GetWindowLongPtrA(wnd, GWLP_USERDATA));
  SetWindowLongPtrA(wnd, GWLP_USERDATA, 0);
  DestroyWindow(wnd);
  delete method;
}
