#include "Themes.h"

#include "SysUtilsWin.h"

namespace {

using TOpenThemeData = HTHEME(WINAPI*)(HWND, LPCWSTR);
using TCloseThemeData = HRESULT(WINAPI*)(HTHEME);
using TDrawThemeBackground = HRESULT(WINAPI*)(HTHEME, HDC, int, int, const RECT*, const RECT*);
using TDrawThemeEdge = HRESULT(WINAPI*)(HTHEME, HDC, int, int, const RECT*, UINT, UINT, RECT*);
using TBoolQuery = BOOL(WINAPI*)();

struct ThemeEntries {
  TOpenThemeData open = nullptr;
  TCloseThemeData close = nullptr;
  TDrawThemeBackground background = nullptr;
  TDrawThemeEdge edge = nullptr;
  TBoolQuery isThemeActive = nullptr;
  TBoolQuery isAppThemed = nullptr;
};

HMODULE g_library = nullptr;
int g_references = 0;
ThemeEntries g_entries;

template <class F>
F Bind(const char* name) {
  return reinterpret_cast<F>(reinterpret_cast<void*>(::GetProcAddress(g_library, name)));
}

}  // namespace

void InitThemeLibrary() {
  ++g_references;
  if (g_library || g_references != 1) return;
  g_library = LoadSystemLibrary("uxtheme.dll");
  if (!g_library) return;
  g_entries.open = Bind<TOpenThemeData>("OpenThemeData");
  g_entries.close = Bind<TCloseThemeData>("CloseThemeData");
  g_entries.background = Bind<TDrawThemeBackground>("DrawThemeBackground");
  g_entries.edge = Bind<TDrawThemeEdge>("DrawThemeEdge");
  g_entries.isThemeActive = Bind<TBoolQuery>("IsThemeActive");
  g_entries.isAppThemed = Bind<TBoolQuery>("IsAppThemed");
}

void FreeThemeLibrary() {
  if (g_references == 0) return;
  if (--g_references > 0) return;
  g_entries = ThemeEntries();
  if (g_library) ::FreeLibrary(g_library);
  g_library = nullptr;
}

bool ThemeLibraryLoaded() {
  return g_library != nullptr;
}

bool UseThemes() {
  return g_library && Themes::IsAppThemed() && Themes::IsThemeActive();
}

namespace Themes {

HTHEME OpenThemeData(HWND window, LPCWSTR classList) {
  return g_entries.open ? g_entries.open(window, classList) : nullptr;
}

HRESULT CloseThemeData(HTHEME theme) {
  if (!theme) return E_HANDLE;
  return g_entries.close ? g_entries.close(theme) : E_NOTIMPL;
}

HRESULT DrawThemeBackground(HTHEME theme, HDC dc, int part, int state, const RECT* rect, const RECT* clip) {
  if (!theme) return E_HANDLE;
  return g_entries.background ? g_entries.background(theme, dc, part, state, rect, clip) : E_NOTIMPL;
}

HRESULT DrawThemeEdge(HTHEME theme, HDC dc, int part, int state, const RECT* destination, UINT edge, UINT flags,
                      RECT* content) {
  if (!theme) return E_HANDLE;
  return g_entries.edge ? g_entries.edge(theme, dc, part, state, destination, edge, flags, content) : E_NOTIMPL;
}

BOOL IsThemeActive() {
  return g_entries.isThemeActive ? g_entries.isThemeActive() : FALSE;
}

BOOL IsAppThemed() {
  return g_entries.isAppThemed ? g_entries.isAppThemed() : FALSE;
}

}  // namespace Themes
