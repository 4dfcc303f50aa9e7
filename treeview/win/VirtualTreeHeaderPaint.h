// Painting the tree's header band: the cells in the header styles (thick,
// flat, plates, the XP look without themes, the themed header parts), their
// images, captions, sort glyphs and drop marks, through one off-screen
// bitmap copied in a single transfer.
#pragma once

#include <windows.h>

#include <string>

#include "Graphics.h"

class TVirtualTreeColumns;

// Paints the band's part in `target` (coordinates of `dc`); the first cell
// starts at target.left + shift.
void PaintHeaderBand(TVirtualTreeColumns& columns, HDC dc, const RECT& target, int shift);

// The XP look of a header cell without a theme: the fill, the separator, the
// hot bar or the bottom gradient, or the pressed frame.
void DrawXPStyleHeaderButton(HDC dc, const RECT& cell, bool separator, bool hot, bool pressed);

// A caption in a cell: shortened with "..." when too wide (in front for
// right-to-left reading), transparent; enabled in the font colour (the
// button shadow colour when hot), disabled engraved.
void DrawButtonText(HDC dc, const std::u16string& caption, const RECT& cell, bool hot, bool enabled, UINT format,
                    TColor fontColor);
