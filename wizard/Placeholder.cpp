// A stand-in for the wizard until the wizard form exists: one window with the
// program's name. `/autoclose MS` closes it after MS milliseconds.
#include <windows.h>

#include <cstdlib>
#include <cstring>

namespace {

LRESULT CALLBACK WndProc(HWND wnd, UINT msg, WPARAM wp, LPARAM lp) {
  switch (msg) {
    case WM_PAINT: {
      PAINTSTRUCT ps;
      HDC dc = BeginPaint(wnd, &ps);
      RECT rc;
      GetClientRect(wnd, &rc);
      DrawTextA(dc, "Pellory - phone connection wizard", -1, &rc, DT_CENTER | DT_VCENTER | DT_SINGLELINE);
      EndPaint(wnd, &ps);
      return 0;
    }
    case WM_TIMER:
      DestroyWindow(wnd);
      return 0;
    case WM_DESTROY:
      PostQuitMessage(0);
      return 0;
  }
  return DefWindowProcA(wnd, msg, wp, lp);
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR cmdLine, int show) {
  WNDCLASSA wc = {};
  wc.lpfnWndProc = WndProc;
  wc.hInstance = instance;
  wc.hCursor = LoadCursor(nullptr, IDC_ARROW);
  wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
  wc.lpszClassName = "TPelloryPlaceholder";
  if (!RegisterClassA(&wc)) return 1;
  HWND wnd = CreateWindowExA(0, wc.lpszClassName, "Pellory", WS_OVERLAPPEDWINDOW, CW_USEDEFAULT, CW_USEDEFAULT, 500,
                             360, nullptr, nullptr, instance, nullptr);
  if (!wnd) return 1;
  if (const char* p = std::strstr(cmdLine, "/autoclose ")) SetTimer(wnd, 1, std::atoi(p + 11), nullptr);
  ShowWindow(wnd, show);
  MSG msg;
  while (GetMessageA(&msg, nullptr, 0, 0) > 0) {
    TranslateMessage(&msg);
    DispatchMessageA(&msg);
  }
  return 0;
}
