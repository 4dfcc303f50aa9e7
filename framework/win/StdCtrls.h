// Standard controls that wrap the system's own window classes (so their text
// is read and written with WM_GETTEXT / WM_SETTEXT): TButton, TRadioButton,
// TGroupBox; and TLabel, which paints on its parent.
#pragma once

#include "Controls.h"
#include "Forms.h"

class TButtonControl : public TWinControl {
  FW_CLASS(TButtonControl, TWinControl)
 public:
  explicit TButtonControl(TComponent* owner);
  TBasicActionLinkClass GetActionLinkClass() override;
  // Buttons that can be checked (radio buttons) follow the action's Checked.
  virtual bool GetCheckedState() const { return false; }
  virtual void SetCheckedState(bool) {}
};

// The link of a button: the checked state follows the action too.
class TButtonActionLink : public TWinControlActionLink {
  FW_CLASS(TButtonActionLink, TWinControlActionLink)
 public:
  TButtonActionLink() = default;
  bool IsCheckedLinked() override;
  void SetChecked(bool value) override;
};

// A push button. Enter clicks the focused button, else the Default one; Esc
// clicks the Cancel button.
class TButton : public TButtonControl {
  FW_CLASS(TButton, TButtonControl)
 public:
  explicit TButton(TComponent* owner);
  bool GetDefault() const { return default_; }
  void SetDefault(bool v);
  bool GetCancel() const { return cancel_; }
  void SetCancel(bool v) { cancel_ = v; }
  int GetModalResult() const { return modalResult_; }
  void SetModalResult(int v) { modalResult_ = v; }
  void Dispatch(TMessage& msg) override;
  void Click() override;  // hands its ModalResult to its form first

 protected:
  void CreateParams(TCreateParams& params) override;

 private:
  bool default_ = false;
  bool cancel_ = false;
  int modalResult_ = 0;
};

// An automatic radio button: checking one clears its siblings.
class TRadioButton : public TButtonControl {
  FW_CLASS(TRadioButton, TButtonControl)
 public:
  explicit TRadioButton(TComponent* owner);
  bool GetChecked() const;
  void SetChecked(bool v);
  bool GetCheckedState() const override { return GetChecked(); }
  void SetCheckedState(bool v) override { SetChecked(v); }
  void Dispatch(TMessage& msg) override;

 protected:
  void CreateParams(TCreateParams& params) override;
  void CreateWnd() override;

 private:
  bool checked_ = false;
};

FW_ENUM(TAlignment, taLeftJustify, taRightJustify, taCenter);

FW_ENUM(TTextLayout, tlTop, tlCenter, tlBottom);

// A caption painted on the parent's window (no window of its own): the base
// of the framework's label and of labels that draw their text themselves.
class TCustomLabel : public TGraphicControl {
  FW_CLASS(TCustomLabel, TGraphicControl)
 public:
  explicit TCustomLabel(TComponent* owner);
  bool GetAutoSize() const { return autoSize_; }
  void SetAutoSize(bool v);
  TAlignment GetAlignment() const { return alignment_; }
  void SetAlignment(TAlignment v);
  bool GetWordWrap() const { return wordWrap_; }
  void SetWordWrap(bool v);
  TTextLayout GetLayout() const { return layout_; }
  void SetLayout(TTextLayout v);
  // Without ShowAccelChar "&" is drawn as it is instead of underlining the next letter.
  bool GetShowAccelChar() const { return showAccelChar_; }
  void SetShowAccelChar(bool v);
  // A transparent label leaves its background to the parent; else it fills it with Color.
  bool GetTransparent() const { return transparent_; }
  void SetTransparent(bool v);
  void Paint(HDC dc) override;
  void Loaded() override;
  void Dispatch(TMessage& msg) override;

 protected:
  // Draws the caption into `rect` with DrawText `flags` (DT_CALCRECT measures).
  virtual void DoDrawText(HDC dc, RECT& rect, UINT flags);
  void AdjustBounds();

 private:
  bool autoSize_ = true;
  bool wordWrap_ = false;
  bool showAccelChar_ = true;
  bool transparent_ = false;
  TAlignment alignment_ = taLeftJustify;
  TTextLayout layout_ = tlTop;
};

class TLabel : public TCustomLabel {
  FW_CLASS(TLabel, TCustomLabel)
 public:
  explicit TLabel(TComponent* owner) : TCustomLabel(owner) {}
};

class TGroupBox : public TWinControl {
  FW_CLASS(TGroupBox, TWinControl)
 public:
  explicit TGroupBox(TComponent* owner);
  void Dispatch(TMessage& msg) override;

 protected:
  void CreateParams(TCreateParams& params) override;
  void AdjustClientRect(RECT& rect) override;  // inside the frame, below the caption
};

// --- Edit boxes --------------------------------------------------------------------------------

// An edit box has a border (bsSingle) or none (bsNone); the form's border styles name both.
using TBorderStyle = TFormBorderStyle;

// A one-line edit box over the system EDIT class. Its text is the control's
// caption. A descendant may extend CreateParams and handle the edit's own
// messages (keys, WM_GETDLGCODE, the reflected EN_CHANGE / EN_UPDATE as CN_COMMAND).
class TCustomEdit : public TWinControl {
  FW_CLASS(TCustomEdit, TWinControl)
 public:
  explicit TCustomEdit(TComponent* owner);
  bool GetModified() const;
  void SetModified(bool v);
  void SelectAll();
  int GetSelStart();
  void SetSelStart(int v);
  int GetSelLength();
  void SetSelLength(int v);
  std::string GetSelText();
  void SetSelText(const std::string& v);
  char GetPasswordChar() const { return passwordChar_; }
  void SetPasswordChar(char v);
  bool GetReadOnly() const { return readOnly_; }
  void SetReadOnly(bool v);
  int GetMaxLength() const { return maxLength_; }
  void SetMaxLength(int v);
  TBorderStyle GetBorderStyle() const { return borderStyle_; }
  void SetBorderStyle(TBorderStyle v);
  // Fits the height to the font when set.
  bool GetAutoSize() const { return autoSize_; }
  void SetAutoSize(bool v);
  TNotifyEvent OnChange;
  void Dispatch(TMessage& msg) override;

 protected:
  void CreateParams(TCreateParams& params) override;
  void CreateWnd() override;
  virtual void Change();
  void AdjustHeight();

 private:
  char passwordChar_ = 0;
  bool readOnly_ = false;
  int maxLength_ = 0;
  TBorderStyle borderStyle_ = bsSingle;
  bool autoSize_ = true;
  bool modified_ = false;  // kept while there is no window
};

class TEdit : public TCustomEdit {
  FW_CLASS(TEdit, TCustomEdit)
 public:
  explicit TEdit(TComponent* owner) : TCustomEdit(owner) {}
};
