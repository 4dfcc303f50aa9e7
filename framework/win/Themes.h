// The binding to the visual-styles library (uxtheme.dll), loaded at run time
// so that the program also runs where the library is missing (the Windows 9x
// line, NT 4 and 2000).
//
// InitThemeLibrary loads the library and binds its entry points; every call
// counts, and the library is unloaded when FreeThemeLibrary has balanced the
// last of them. Main thread only. Each binding is safe to call at any time:
// without the library (or without the entry point) it does nothing and
// answers "no theme" (a null theme, FALSE, E_NOTIMPL); a null theme handle is
// answered with E_HANDLE without a call.
#pragma once

#include <windows.h>

#include <uxtheme.h>

void InitThemeLibrary();
void FreeThemeLibrary();
// True while the library is loaded.
bool ThemeLibraryLoaded();
// True when the library is loaded and the program is drawn with visual
// styles: IsAppThemed and IsThemeActive both hold.
bool UseThemes();

namespace Themes {

HTHEME OpenThemeData(HWND window, LPCWSTR classList);
HRESULT CloseThemeData(HTHEME theme);
HRESULT DrawThemeBackground(HTHEME theme, HDC dc, int part, int state, const RECT* rect, const RECT* clip);
HRESULT DrawThemeEdge(HTHEME theme, HDC dc, int part, int state, const RECT* destination, UINT edge, UINT flags,
                      RECT* content);
BOOL IsThemeActive();
BOOL IsAppThemed();

}  // namespace Themes
