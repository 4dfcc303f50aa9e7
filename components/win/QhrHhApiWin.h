// The Windows side of the HTML Help binding: HHCTRL.OCX, loaded by its full
// path in the system folder (never through the library search order), and its
// HtmlHelpA entry.
#pragma once

#include <string>

// The library's full path: the system folder followed by "HHCTRL.OCX"
// (empty when the system folder is not known).
std::string HtmlHelpLibraryPath();

// The unit's initialization installs the binding; its finalization closes the
// help windows and frees the library when it was loaded.
void InitQhrHhApiWin();
void DoneQhrHhApiWin();
