// The Unicode edit box and label. On the NT line the edit is a Unicode EDIT
// window (text, selection and password character in UTF-16) and the label
// draws its wide caption with DrawTextW; on the 9x line both fall back to the
// framework's ANSI behaviour, converting at the boundary.
#pragma once

#include "StdCtrls.h"
#include "UcxActnList.h"
#include "UcxControls.h"

class TUcxCustomEdit : public TCustomEdit {
  FW_CLASS(TUcxCustomEdit, TCustomEdit)
 public:
  explicit TUcxCustomEdit(TComponent* owner) : TCustomEdit(owner) {}
  void DefineProperties(TFiler& filer) override;
  // The wide caption and hint are stored only when no action link supplies them.
  bool IsCaptionStored() const { return !ActionLink() || !ActionLink()->IsCaptionLinked(); }
  bool IsHintStored() const { return !ActionLink() || !ActionLink()->IsHintLinked(); }

  WideString GetWideText() { return WideControlGetText(this); }
  // Positions and lengths in UTF-16 units.
  virtual int GetSelStart();
  virtual void SetSelStart(int v);
  virtual int GetSelLength();
  virtual void SetSelLength(int v);
  virtual WideString GetSelText();
  void SetSelText(const WideString& v);

  // The wide password character (0: none); a character above 255 shows as
  // "*" to the framework. Setting the ANSI PasswordChar replaces it.
  char16_t GetWidePasswordChar();
  void SetWidePasswordChar(char16_t v);
  void ApplyWidePasswordChar();

  WideString GetWideHint() const {
    return WideControlGetHint(const_cast<TControl*>(static_cast<const TControl*>(this)));
  }
  void SetWideHint(const WideString& v) { WideControlSetHint(this, v); }

 protected:
  void CreateWindowHandle(const TCreateParams& params) override;
  void CreateWnd() override;
  // A wide action's texts first, then the framework's handling.
  void ActionChange(TObject* sender, bool checkDefaults) override;
  TBasicActionLinkClass GetActionLinkClass() override;

 private:
  char16_t widePasswordChar_ = 0;
};

class TUcxCustomLabel : public TCustomLabel {
  FW_CLASS(TUcxCustomLabel, TCustomLabel)
 public:
  explicit TUcxCustomLabel(TComponent* owner) : TCustomLabel(owner) {}
  void Destroy() override;
  void DefineProperties(TFiler& filer) override;
  // The wide caption and hint are stored only when no action link supplies them.
  bool IsCaptionStored() const { return !ActionLink() || !ActionLink()->IsCaptionLinked(); }
  bool IsHintStored() const { return !ActionLink() || !ActionLink()->IsHintLinked(); }
  void Dispatch(TMessage& msg) override;

  // The text drawn: the wide caption.
  virtual WideString GetLabelText() { return WideControlGetText(this); }
  WideString GetWideCaption() const {
    return WideControlGetText(const_cast<TControl*>(static_cast<const TControl*>(this)));
  }
  void SetWideCaption(const WideString& v) { WideControlSetText(this, v); }
  WideString GetWideHint() const {
    return WideControlGetHint(const_cast<TControl*>(static_cast<const TControl*>(this)));
  }
  void SetWideHint(const WideString& v) { WideControlSetHint(this, v); }
  // The control its accelerator focuses.
  TWinControl* GetFocusControl() const { return focusControl_; }
  void SetFocusControl(TWinControl* v);

  // Draws (or with DT_CALCRECT measures) the wide text on the NT line and
  // answers true; false on the 9x line, where the ANSI drawing takes over.
  bool DrawWideText(HDC dc, RECT& rect, UINT flags, WideString text);

 protected:
  void DoDrawText(HDC dc, RECT& rect, UINT flags) override;
  void ActionChange(TObject* sender, bool checkDefaults) override;
  TBasicActionLinkClass GetActionLinkClass() override;
  void Notification(TComponent* component, TOperation operation) override;

 private:
  TWinControl* focusControl_ = nullptr;
};

class TUcxLabel : public TUcxCustomLabel {
  FW_CLASS(TUcxLabel, TUcxCustomLabel)
 public:
  explicit TUcxLabel(TComponent* owner) : TUcxCustomLabel(owner) {}
};
