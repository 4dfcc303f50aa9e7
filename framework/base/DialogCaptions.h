// The captions of the message dialogs (MessageDlg in win/Dialogs.h): resource
// strings, so a language library translates them. Portable, so checks of the
// program's string table know them.
#pragma once

#include "ResStrings.h"

inline constexpr ResString SMsgDlgWarning{65216, 0, "Warning"};
inline constexpr ResString SMsgDlgError{65217, 0, "Error"};
inline constexpr ResString SMsgDlgInformation{65218, 0, "Information"};
inline constexpr ResString SMsgDlgConfirm{65219, 0, "Confirm"};

// All four, for checks of the string table.
inline constexpr ResString kMsgDlgCaptions[] = {SMsgDlgWarning, SMsgDlgError, SMsgDlgInformation, SMsgDlgConfirm};
