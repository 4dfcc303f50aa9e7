#include "VirtualTreePanning.h"

#include <vector>

#include "Win32Platform.h"

HRGN RegionFromBitmap(HBITMAP bitmap, COLORREF transparent) {
  if (!bitmap) return nullptr;
  BITMAP info{};
  if (!GetObjectA(bitmap, sizeof info, &info) || info.bmWidth <= 0 || info.bmHeight == 0) return nullptr;
  const int width = info.bmWidth;
  const int height = info.bmHeight < 0 ? -info.bmHeight : info.bmHeight;
  // The pixels as top-down 32-bit rows, whatever the bitmap's own format.
  BITMAPINFO format{};
  format.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
  format.bmiHeader.biWidth = width;
  format.bmiHeader.biHeight = -height;
  format.bmiHeader.biPlanes = 1;
  format.bmiHeader.biBitCount = 32;
  format.bmiHeader.biCompression = BI_RGB;
  std::vector<DWORD> pixels(std::size_t(width) * std::size_t(height));
  HDC dc = GetDC(nullptr);
  const int rows = GetDIBits(dc, bitmap, 0, UINT(height), pixels.data(), &format, DIB_RGB_COLORS);
  ReleaseDC(nullptr, dc);
  if (rows != height) return nullptr;
  // DIB pixels are 0x00RRGGBB; COLORREF is 0x00BBGGRR.
  const DWORD key =
      (DWORD(GetRValue(transparent)) << 16) | (DWORD(GetGValue(transparent)) << 8) | DWORD(GetBValue(transparent));
  HRGN region = CreateRectRgn(0, 0, 0, 0);
  for (int y = 0; y < height; ++y) {
    const DWORD* row = pixels.data() + std::size_t(y) * std::size_t(width);
    int x = 0;
    while (x < width) {
      while (x < width && (row[x] & 0xFFFFFF) == key) ++x;
      const int start = x;
      while (x < width && (row[x] & 0xFFFFFF) != key) ++x;
      if (x > start) {
        HRGN run = CreateRectRgn(start, y, x, y + 1);
        CombineRgn(region, region, run, RGN_OR);
        DeleteObject(run);
      }
    }
  }
  return region;
}

LRESULT CALLBACK TVTPanningWindow::WindowProc(HWND window, UINT msg, WPARAM wParam, LPARAM lParam) {
  try {
    if (msg == WM_PAINT) {
      PAINTSTRUCT ps;
      HDC dc = BeginPaint(window, &ps);
      auto* self = reinterpret_cast<TVTPanningWindow*>(GetWindowLongPtrA(window, GWLP_USERDATA));
      if (dc && self && self->bitmap_) {
        HDC memory = CreateCompatibleDC(dc);
        HGDIOBJ old = SelectObject(memory, self->bitmap_);
        BitBlt(dc, 0, 0, 32, 32, memory, 0, 0, SRCCOPY);
        SelectObject(memory, old);
        DeleteDC(memory);
      }
      EndPaint(window, &ps);
      return 0;
    }
  } catch (...) {
    // Nothing leaves a window procedure: the application's handling gets it.
    HandleCallbackException(std::current_exception());
    return 0;
  }
  return DefWindowProcA(window, msg, wParam, lParam);
}

bool TVTPanningWindow::Open(HWND owner, POINT center, HMODULE module, const char* picture) {
  Close();
  HINSTANCE instance = GetModuleHandleA(nullptr);
  // A class of that name with another procedure is made anew with this one.
  WNDCLASSA existing{};
  if (GetClassInfoA(instance, kPanningWindowClass, &existing) && existing.lpfnWndProc != &WindowProc)
    UnregisterClassA(kPanningWindowClass, instance);
  if (!GetClassInfoA(instance, kPanningWindowClass, &existing)) {
    WNDCLASSA wc{};
    wc.lpfnWndProc = &WindowProc;
    wc.hInstance = instance;
    wc.hCursor = LoadCursor(nullptr, IDC_ARROW);
    wc.lpszClassName = kPanningWindowClass;
    if (!RegisterClassA(&wc)) return false;
  }
  window_ = CreateWindowExA(WS_EX_TOOLWINDOW, kPanningWindowClass, nullptr, WS_POPUP, center.x - 16, center.y - 16, 32,
                            32, owner, nullptr, instance, nullptr);
  if (!window_) return false;
  SetWindowLongPtrA(window_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
  bitmap_ = LoadBitmapA(module, picture);
  if (HRGN region = RegionFromBitmap(bitmap_, RGB(255, 0, 255))) {
    // The window owns the region from here on.
    if (!SetWindowRgn(window_, region, FALSE)) DeleteObject(region);
  }
  ShowWindow(window_, SW_SHOWNOACTIVATE);
  return true;
}

void TVTPanningWindow::Close() {
  if (window_) {
    SetWindowLongPtrA(window_, GWLP_USERDATA, 0);
    DestroyWindow(window_);
    window_ = nullptr;
  }
  if (bitmap_) {
    DeleteObject(bitmap_);
    bitmap_ = nullptr;
  }
}
