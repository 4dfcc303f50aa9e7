// Bitmaps loaded from resources with their standard colours mapped to the
// current system colours, so glyph strips follow the user's colour scheme.
#pragma once

#include <windows.h>

#include <cstddef>

// The RT_BITMAP resource `name` of `module` as a new device-dependent bitmap
// (the caller deletes it). For bitmaps of 8 bits per pixel or less the palette
// colours white, silver (0xC0C0C0), grey (0x808080) and black become the
// current system colours of the window background, button face, button
// shadow and button text; deeper bitmaps load unchanged. Null when the
// resource is missing or not a valid bitmap.
HBITMAP CreateMappedRes(HINSTANCE module, const char* name);
// The same for a packed bitmap in memory (BITMAPINFOHEADER, colour table,
// pixels: the layout of a bitmap resource). Deeper bitmaps come back as they
// are; null for data that is not a valid uncompressed bitmap.
HBITMAP CreateMappedDib(const void* data, std::size_t size);
