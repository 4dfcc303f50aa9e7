#include "QhrHhApiWin.h"

#include <windows.h>

#include <htmlhelp.h>

#include <cstddef>

#include "QhrHhApi.h"
#include "SysUtilsWin.h"

// The portable popup record is the system's, field for field.
static_assert(sizeof(HhPopup) == sizeof(HH_POPUP));
static_assert(offsetof(HhPopup, cbStruct) == offsetof(HH_POPUP, cbStruct));
static_assert(offsetof(HhPopup, hinst) == offsetof(HH_POPUP, hinst));
static_assert(offsetof(HhPopup, idString) == offsetof(HH_POPUP, idString));
static_assert(offsetof(HhPopup, pszText) == offsetof(HH_POPUP, pszText));
static_assert(offsetof(HhPopup, pt) == offsetof(HH_POPUP, pt));
static_assert(offsetof(HhPopup, clrForeground) == offsetof(HH_POPUP, clrForeground));
static_assert(offsetof(HhPopup, clrBackground) == offsetof(HH_POPUP, clrBackground));
static_assert(offsetof(HhPopup, rcMargins) == offsetof(HH_POPUP, rcMargins));
static_assert(offsetof(HhPopup, pszFont) == offsetof(HH_POPUP, pszFont));
static_assert(sizeof(HhPoint) == sizeof(POINT) && sizeof(HhRect) == sizeof(RECT));
static_assert(HhDisplayToc == HH_DISPLAY_TOC && HhDisplayIndex == HH_DISPLAY_INDEX &&
              HhDisplayTextPopup == HH_DISPLAY_TEXT_POPUP && HhHelpContext == HH_HELP_CONTEXT &&
              HhCloseAll == HH_CLOSE_ALL);

namespace {

using HtmlHelpProc = HWND(WINAPI*)(HWND caller, LPCSTR file, UINT command, DWORD_PTR data);

void* Load() {
  std::string path = HtmlHelpLibraryPath();
  return path.empty() ? nullptr : LoadLibraryA(path.c_str());
}

void* Find(void* library) {
  return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(library), "HtmlHelpA"));
}

void Free(void* library) {
  FreeLibrary(static_cast<HMODULE>(library));
}

HelpWindow Call(void* entry, HelpWindow caller, const char* file, unsigned command, std::uintptr_t data) {
  HWND window = reinterpret_cast<HtmlHelpProc>(entry)(reinterpret_cast<HWND>(caller), file, command, data);
  return reinterpret_cast<HelpWindow>(window);
}

const HtmlHelpLibraryApi g_library = {&Load, &Find, &Free, &Call};

}  // namespace

std::string HtmlHelpLibraryPath() {
  return SystemLibraryPath("HHCTRL.OCX");
}

void InitQhrHhApiWin() {
  SetHtmlHelpLibraryApi(&g_library);
}

void DoneQhrHhApiWin() {
  // No help window may outlive the code that runs it (nothing is loaded for this).
  CallHtmlHelp(0, nullptr, HhCloseAll, 0);
  SetHtmlHelpLibraryApi(nullptr);
}
