// A 32-bit top-down DIB section that the Windows tests render or print into,
// with its pixels read back as colours.
#pragma once

#include <windows.h>

#include <cstdint>
#include <vector>

struct Canvas {
  HDC dc = nullptr;
  HBITMAP bitmap = nullptr;
  HGDIOBJ old = nullptr;
  std::uint32_t* bits = nullptr;
  int width, height;
  Canvas(int w, int h) : width(w), height(h) {
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = w;
    info.bmiHeader.biHeight = -h;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    dc = CreateCompatibleDC(nullptr);
    bitmap = CreateDIBSection(dc, &info, DIB_RGB_COLORS, reinterpret_cast<void**>(&bits), nullptr, 0);
    old = SelectObject(dc, bitmap);
  }
  ~Canvas() {
    SelectObject(dc, old);
    DeleteObject(bitmap);
    DeleteDC(dc);
  }
  // As a COLORREF.
  COLORREF At(int x, int y) const {
    const std::uint32_t p = bits[std::size_t(y) * std::size_t(width) + std::size_t(x)];
    return RGB((p >> 16) & 0xFF, (p >> 8) & 0xFF, p & 0xFF);
  }
  std::vector<COLORREF> Block(int x, int y, int w, int h) const {
    std::vector<COLORREF> result;
    for (int j = 0; j < h; ++j)
      for (int i = 0; i < w; ++i) result.push_back(At(x + i, y + j));
    return result;
  }
};
