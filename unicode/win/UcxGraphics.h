// Measuring wide text on a device context or a canvas.
#pragma once

#include <windows.h>

#include "Types.h"

class TFont;

// The size (0 x 0 first) GetTextExtentPoint32W gives for the text's UTF-16 length.
bool WideDCTextExtent(HDC dc, const WideString& text, SIZE& size);
// The same with `font` selected into the device context for the measurement.
bool WideCanvasTextExtent(HDC dc, TFont* font, const WideString& text, SIZE& size);
int WideCanvasTextWidth(HDC dc, TFont* font, const WideString& text);
int WideCanvasTextHeight(HDC dc, TFont* font, const WideString& text);
