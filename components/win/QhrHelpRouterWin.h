// The Windows side of the help router and the help-context map: the
// application, its screen and forms as the router's host, WinHelp, the cursor
// position, and the map's messages as message boxes with an OK button.
#pragma once

// The unit's initialization installs them (after the forms unit); its
// finalization takes the host away again.
void InitQhrHelpRouterWin();
void DoneQhrHelpRouterWin();
