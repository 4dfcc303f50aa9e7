// The wheel-panning window: a small tool popup centred on the point where
// the middle button went down, shaped by its picture (magenta is
// transparent), and the region builder it uses.
#pragma once

#include <windows.h>

// The class of the panning window.
constexpr const char* kPanningWindowClass = "VTPanningWindow";

// The region of a bitmap's pixels that are not `transparent` (row runs
// joined into rectangles); null for no bitmap or a bitmap the system cannot read.
HRGN RegionFromBitmap(HBITMAP bitmap, COLORREF transparent);

// The panning window and its picture; both go with the object.
class TVTPanningWindow {
 public:
  TVTPanningWindow() = default;
  TVTPanningWindow(const TVTPanningWindow&) = delete;
  TVTPanningWindow& operator=(const TVTPanningWindow&) = delete;
  ~TVTPanningWindow() { Close(); }
  // Makes the 32 x 32 tool popup owned by `owner`, centred on a screen
  // point, with the bitmap resource `picture` of `module`, and shows it
  // without activating it. False when the window cannot be made.
  bool Open(HWND owner, POINT screenCenter, HMODULE module, const char* picture);
  void Close();
  HWND Handle() const { return window_; }

 private:
  static LRESULT CALLBACK WindowProc(HWND window, UINT msg, WPARAM wParam, LPARAM lParam);
  HWND window_ = nullptr;
  HBITMAP bitmap_ = nullptr;
};
