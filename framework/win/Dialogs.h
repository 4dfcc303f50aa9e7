// Message dialogs on the system's message box. The box's own modal loop
// keeps dispatching the main thread's messages, so synchronous calls from
// other threads are served while it is open. The Help button calls
// Application->HelpContext with the dialog's help context.
#pragma once

#include <string>

#include "DialogCaptions.h"
#include "Forms.h"

FW_ENUM(TMsgDlgType, mtWarning, mtError, mtInformation, mtConfirmation, mtCustom);
FW_ENUM(TMsgDlgBtn, mbYes, mbNo, mbOK, mbCancel, mbAbort, mbRetry, mbIgnore, mbAll, mbNoToAll, mbYesToAll, mbHelp);
using TMsgDlgButtons = Set<TMsgDlgBtn>;

// The results (mrOk ...) are the modal results of Forms.h, equal to the message box's IDOK ...
static_assert(mrOk == IDOK && mrCancel == IDCANCEL && mrAbort == IDABORT && mrRetry == IDRETRY &&
              mrIgnore == IDIGNORE && mrYes == IDYES && mrNo == IDNO);

// The box has the type's icon and caption (SMsgDlgWarning ... SMsgDlgConfirm;
// the application's title for mtCustom) and the system's buttons
// closest to `buttons`: OK, OK+Cancel, Yes+No, Yes+No+Cancel,
// Abort+Retry+Ignore or Retry+Cancel, with Help when mbHelp is included.
// It is owned by the active form's window, else by the application window.
// Returns the mr* value of the button pressed.
// The box is a wide one: its text and caption show the same characters in any
// language, whatever the system's ANSI code page.
int MessageDlgW(const std::u16string& text, TMsgDlgType type, TMsgDlgButtons buttons, int helpContext);
// The same with the text in the system's ANSI code page.
int MessageDlg(const std::string& text, TMsgDlgType type, TMsgDlgButtons buttons, int helpContext);

// The caption MessageDlgW uses for a dialog type; MessageDlgCaption in the
// system's ANSI code page.
std::u16string MessageDlgCaptionW(TMsgDlgType type);
std::string MessageDlgCaption(TMsgDlgType type);
