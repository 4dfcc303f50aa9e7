// Wide captions and hints of framework controls, and real Unicode windows for
// the layer's windowed controls on the NT line.
//
// A windowed control of the layer makes its window through CreateUnicodeHandle:
// a Unicode copy of its window class ("<class>.UnicodeClass"), then a trap
// (TWinControlTrap) that sits between the ANSI framework and the Unicode
// window. The trap lets the window's own messages through as they are, sends
// the text messages the framework raises itself to the window with the ANSI
// call (so the system converts), packs a character above 255 into the high
// word of WM_CHAR for the framework's 8-bit key handling and unpacks it on the
// way to the window's default procedure, and keeps the wide text in the
// control's holder while the control has no window.
#pragma once

#include <windows.h>

#include "Controls.h"
#include "Forms.h"
#include "Types.h"
#include "UcxControlsCore.h"

using TWideCaption = WideString;

WideString WideControlGetText(TControl* control);
void WideControlSetText(TControl* control, const WideString& text);
WideString WideControlGetHint(TControl* control);
void WideControlSetHint(TControl* control, const WideString& hint);
// The first non-empty wide hint of the control and then of its parents.
WideString WideControlGetInheritedHint(TControl* control);

// Makes the control's window: on the 9x line the framework's ANSI window; on
// the NT line a Unicode window of the wide copy of the parameters' class, whose
// default procedure is that of the system class `className` (null: DefWindowProcW).
void CreateUnicodeHandle(TWinControl* control, const TCreateParams& params, const char16_t* className);
// Registers the wide copy of the parameters' class; `wideClassName` gets its name.
void RegisterUnicodeClass(const TCreateParams& params, WideString& wideClassName);
// Puts the control's Unicode window behind a trap and gives it the wide caption
// (the holder's, else `ansiCaption` widened). Raises EUcxInternalError for an ANSI window.
void SubClassUnicodeControl(TWinControl* control, const char* ansiCaption);
// The control whose window CreateUnicodeHandle is making (null otherwise).
TWinControl* UnicodeCreationControl();

// WM_CHAR and the framework's 8-bit characters: a character of 256 or more
// travels in the high word with 255 in the low word.
WPARAM PackWideCharParam(WPARAM wp);
WPARAM UnpackWideCharParam(WPARAM wp);

// CM_HINTSHOW on the NT line: the framework's hint window becomes a
// TUcxCustomHintWindow, and a hint for such a window is marked as the layer's
// (its data is the record itself) and gets the ANSI form of the control's
// inherited wide short hint.
void PrepareWideHint(THintInfo* info);
// The data is the mark PrepareWideHint made for the hint now showing. Only the
// mark the layer made itself is recognised; other data is never read.
bool IsLayerHintMarker(void* data);

// A hint window of a Unicode window that shows the wide hint of a marked hint.
class TUcxCustomHintWindow : public THintWindow {
  FW_CLASS(TUcxCustomHintWindow, THintWindow)
 public:
  explicit TUcxCustomHintWindow(TComponent* owner) : THintWindow(owner) {}
  void ActivateHint(RECT rect, const std::string& text) override;
  void ActivateHintData(RECT rect, const std::string& text, void* data) override;
  RECT CalcHintRect(int maxWidth, const std::string& text, void* data) override;
  using THintWindow::CalcHintRect;
  void Dispatch(TMessage& msg) override;

 protected:
  void CreateParams(TCreateParams& params) override;
  void CreateWindowHandle(const TCreateParams& params) override;
  void Paint(HDC dc) override;

 private:
  // The text flags with the window's reading order (right to left under a right-to-left BiDiMode).
  UINT ReadingFlags(UINT flags) const { return UseRightToLeftReading() ? flags | DT_RTLREADING : flags; }
  bool paintSuppressed_ = false;
  bool activating_ = false;
};

// The layer's finalization: frees the holders and traps; never raises.
void DoneUcxControls() noexcept;
