// QVCtrls: TQvLabel, a label drawn with a one-colour shadow offset
// diagonally, sizing itself to its caption, with a disabled look, a focus
// rectangle for its focus control, and mouse-enter and mouse-leave events
// that wait for the end of a left-button drag.
#pragma once

#include <windows.h>

#include <string>

#include "Controls.h"
#include "StdCtrls.h"

FW_ENUM(TShadowPosition, spLeftTop, spLeftBottom, spRightBottom, spRightTop);

// Draws `text` twice: in the shadow colour offset by `size` towards `pos`,
// then in the context's text colour in place. The rectangle becomes the union
// of both (with DT_CALCRECT the extent including the shadow). Gives DrawText's
// result for the shadow, plus `size` when that is above 0.
int DrawTextWithShadow(HDC dc, const std::string& text, TShadowPosition pos, COLORREF shadow, int size, UINT flags,
                       RECT& rect);

class TQvCustomLabel : public TGraphicControl {
  FW_CLASS(TQvCustomLabel, TGraphicControl)
 public:
  explicit TQvCustomLabel(TComponent* owner);
  void Paint(HDC dc) override;
  void Dispatch(TMessage& msg) override;
  void Loaded() override;

  TAlignment GetAlignment() const { return alignment_; }
  void SetAlignment(TAlignment v);
  bool GetAutoSize() const { return autoSize_; }
  void SetAutoSize(bool v);
  TWinControl* GetFocusControl() const { return focusControl_; }
  void SetFocusControl(TWinControl* v);
  TTextLayout GetLayout() const { return layout_; }
  void SetLayout(TTextLayout v);
  TColor GetShadowColor() const { return shadowColor_; }
  void SetShadowColor(TColor v);
  int GetShadowSize() const { return shadowSize_; }
  void SetShadowSize(int v);
  TShadowPosition GetShadowPos() const { return shadowPos_; }
  void SetShadowPos(TShadowPosition v);
  bool GetShowAccelChar() const { return showAccelChar_; }
  void SetShowAccelChar(bool v);
  bool GetShowFocus() const { return showFocus_; }
  void SetShowFocus(bool v);
  bool GetTransparent() const { return !ControlStyle.Contains(csOpaque); }
  void SetTransparent(bool v);
  bool GetWordWrap() const { return wordWrap_; }
  void SetWordWrap(bool v);
  bool MouseInControl() const { return mouseInControl_; }

 protected:
  void Notification(TComponent* component, TOperation operation) override;
  virtual TColor LabelFontColor() { return GetFont()->GetColor(); }
  virtual std::string LabelCaptionText() { return GetCaption(); }
  virtual void NotifyMouseEnter();
  virtual void NotifyMouseLeave();
  // The framework's own enter/leave events are fired by the tracking here.
  void MouseEnter() override {}
  void MouseLeave() override {}
  void MouseDown(TMouseButton button, TShiftState shift, int x, int y) override;
  void MouseUp(TMouseButton button, TShiftState shift, int x, int y) override;
  void DrawLabelText(RECT& rect, UINT flags);
  void AdjustLabelBounds();
  void UpdateMouseTracking();

 private:
  TAlignment alignment_ = taLeftJustify;
  bool autoSize_ = true;
  TWinControl* focusControl_ = nullptr;
  TTextLayout layout_ = tlTop;
  TColor shadowColor_ = clBtnHighlight;
  int shadowSize_ = 1;
  TShadowPosition shadowPos_ = spLeftTop;
  bool showAccelChar_ = true, showFocus_ = false, wordWrap_ = false;
  bool mouseInControl_ = false, dragging_ = false, focused_ = false;
};

class TQvLabel : public TQvCustomLabel {
  FW_CLASS(TQvLabel, TQvCustomLabel)
 public:
  explicit TQvLabel(TComponent* owner) : TQvCustomLabel(owner) {}
};

void RegisterQvCtrlsClasses();
