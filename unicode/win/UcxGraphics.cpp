#include "UcxGraphics.h"

#include "Graphics.h"

bool WideDCTextExtent(HDC dc, const WideString& text, SIZE& size) {
  size = SIZE{0, 0};
  return GetTextExtentPoint32W(dc, reinterpret_cast<LPCWSTR>(text.c_str()), static_cast<int>(text.size()), &size) != 0;
}

bool WideCanvasTextExtent(HDC dc, TFont* font, const WideString& text, SIZE& size) {
  HGDIOBJ old = font ? SelectObject(dc, font->Handle()) : nullptr;
  const bool ok = WideDCTextExtent(dc, text, size);
  if (old) SelectObject(dc, old);
  return ok;
}

int WideCanvasTextWidth(HDC dc, TFont* font, const WideString& text) {
  SIZE s;
  WideCanvasTextExtent(dc, font, text, s);
  return s.cx;
}

int WideCanvasTextHeight(HDC dc, TFont* font, const WideString& text) {
  SIZE s;
  WideCanvasTextExtent(dc, font, text, s);
  return s.cy;
}
