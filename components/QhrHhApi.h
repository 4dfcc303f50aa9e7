// The HTML Help binding: the library that serves HTML Help is loaded on first
// use and its "HtmlHelpA" entry looked up; a load that fails is tried again at
// the next use. The library itself is reached through HtmlHelpLibraryApi,
// which the Windows build fills and tests replace.
#pragma once

#include <cstdint>

// A window handle (0: none).
using HelpWindow = std::uintptr_t;

// HTML Help commands.
constexpr unsigned HhDisplayToc = 1;
constexpr unsigned HhDisplayIndex = 2;
constexpr unsigned HhDisplayTextPopup = 14;
constexpr unsigned HhHelpContext = 15;
constexpr unsigned HhCloseAll = 18;

// The popup record of HhDisplayTextPopup, laid out as the HTML Help API
// defines it (the Windows build checks it against the system's record).
struct HhPoint {
  std::int32_t x = 0;
  std::int32_t y = 0;
};
struct HhRect {
  std::int32_t left = 0;
  std::int32_t top = 0;
  std::int32_t right = 0;
  std::int32_t bottom = 0;
};
struct HhPopup {
  std::int32_t cbStruct = sizeof(HhPopup);
  void* hinst = nullptr;
  std::uint32_t idString = 0;
  const char* pszText = nullptr;
  HhPoint pt;
  std::uint32_t clrForeground = 0xFFFFFFFF;  // the defaults
  std::uint32_t clrBackground = 0xFFFFFFFF;
  HhRect rcMargins{-1, -1, -1, -1};
  const char* pszFont = nullptr;
};

struct HtmlHelpLibraryApi {
  // The library, or null when it cannot be loaded.
  void* (*Load)();
  // The library's "HtmlHelpA" entry, or null when it has none.
  void* (*Find)(void* library);
  void (*Free)(void* library);
  // Calls the entry: the window it opened (0 when none, or on failure).
  HelpWindow (*Call)(void* entry, HelpWindow caller, const char* file, unsigned command, std::uintptr_t data);
};

// Installs the library's functions (the caller keeps them; null: none, every
// load fails). A library already loaded through the previous ones is freed.
void SetHtmlHelpLibraryApi(const HtmlHelpLibraryApi* api);

// Loads the library when none is held (errors swallowed) and looks up the
// entry. True when a library is held.
bool LoadHtmlHelpLibrary();
// Loads the library when none is held; true when the entry is known.
bool EnsureHtmlHelp();
// Calls the entry (0 when it is not known).
HelpWindow CallHtmlHelp(HelpWindow caller, const char* file, unsigned command, std::uintptr_t data);
// The unit's finalization: frees the library when one is held.
void FreeHtmlHelpLibrary();
