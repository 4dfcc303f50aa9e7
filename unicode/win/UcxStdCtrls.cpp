#include "UcxStdCtrls.h"

#include "UcxClasses.h"
#include "UcxStdCtrlsCore.h"
#include "UcxSysUtils.h"
#include "UcxWindows.h"

FW_BEGIN_CLASS(TUcxCustomEdit)
  FW_PROP(Hint, GetWideHint, SetWideHint)
  FW_STORED(IsHintStored)
FW_END_CLASS
FW_BEGIN_CLASS(TUcxCustomLabel)
  FW_PROP(Hint, GetWideHint, SetWideHint)
  FW_STORED(IsHintStored)
FW_END_CLASS
FW_BEGIN_CLASS(TUcxLabel)
  FW_PROP(Caption, GetWideCaption, SetWideCaption)
  FW_STORED(IsCaptionStored)
  FW_PROP(ParentBiDiMode, GetParentBiDiMode, SetParentBiDiMode)
  FW_DEFAULT(1)
  FW_PROP(FocusControl, GetFocusControl, SetFocusControl)
FW_END_CLASS

// --- TUcxCustomEdit ----------------------------------------------------------------------------

void TUcxCustomEdit::DefineProperties(TFiler& filer) {
  inherited::DefineProperties(filer);
  DefineWideProperties(filer, this);
}

void TUcxCustomEdit::CreateWindowHandle(const TCreateParams& params) {
  CreateUnicodeHandle(this, params, u"EDIT");
}

void TUcxCustomEdit::CreateWnd() {
  inherited::CreateWnd();
  ApplyWidePasswordChar();
}

int TUcxCustomEdit::GetSelStart() {
  if (IsUnicodePlatform) return TCustomEdit::GetSelStart();
  return static_cast<int>(WideSelStartFromAnsi(GetText(), static_cast<std::size_t>(TCustomEdit::GetSelStart())));
}

void TUcxCustomEdit::SetSelStart(int v) {
  if (IsUnicodePlatform || v < 0) {
    TCustomEdit::SetSelStart(v);
    return;
  }
  TCustomEdit::SetSelStart(static_cast<int>(AnsiSelStartFromWide(GetWideText(), static_cast<std::size_t>(v))));
}

int TUcxCustomEdit::GetSelLength() {
  if (IsUnicodePlatform) return TCustomEdit::GetSelLength();
  return static_cast<int>(GetSelText().size());
}

void TUcxCustomEdit::SetSelLength(int v) {
  if (IsUnicodePlatform || v < 0) {
    TCustomEdit::SetSelLength(v);
    return;
  }
  const auto start = static_cast<std::size_t>(GetSelStart());
  TCustomEdit::SetSelLength(static_cast<int>(AnsiSelLengthFromWide(GetWideText(), start, static_cast<std::size_t>(v))));
}

WideString TUcxCustomEdit::GetSelText() {
  if (!IsUnicodePlatform) return WidenFromAnsi(TCustomEdit::GetSelText());
  const WideString text = GetWideText();
  const auto start = static_cast<std::size_t>(GetSelStart());
  if (start >= text.size()) return {};
  return text.substr(start, static_cast<std::size_t>(GetSelLength()));
}

void TUcxCustomEdit::SetSelText(const WideString& v) {
  if (!IsUnicodePlatform) {
    TCustomEdit::SetSelText(NarrowToAnsi(v));
    return;
  }
  SendMessageW(Handle(), EM_REPLACESEL, TRUE, reinterpret_cast<LPARAM>(v.c_str()));
}

char16_t TUcxCustomEdit::GetWidePasswordChar() {
  const char ansi = GetPasswordChar();
  if (AnsiPasswordChar(widePasswordChar_) != ansi) widePasswordChar_ = static_cast<unsigned char>(ansi);
  return widePasswordChar_;
}

void TUcxCustomEdit::SetWidePasswordChar(char16_t v) {
  widePasswordChar_ = v;
  SetPasswordChar(AnsiPasswordChar(v));
  ApplyWidePasswordChar();
}

void TUcxCustomEdit::ApplyWidePasswordChar() {
  if (IsUnicodePlatform && WindowHandle()) {
    SendMessageW(WindowHandle(), EM_SETPASSWORDCHAR, GetWidePasswordChar(), 0);
    Invalidate();
  }
}

// --- TUcxCustomLabel ---------------------------------------------------------------------------

void TUcxCustomLabel::Destroy() {
  SetFocusControl(nullptr);
  inherited::Destroy();
}

void TUcxCustomLabel::DefineProperties(TFiler& filer) {
  inherited::DefineProperties(filer);
  DefineWideProperties(filer, this);
}

void TUcxCustomLabel::SetFocusControl(TWinControl* v) {
  if (focusControl_ == v) return;
  if (focusControl_) focusControl_->RemoveFreeNotification(this);
  focusControl_ = v;
  if (v) v->FreeNotification(this);
}

void TUcxCustomLabel::Notification(TComponent* component, TOperation operation) {
  inherited::Notification(component, operation);
  if (operation == opRemove && component == focusControl_) focusControl_ = nullptr;
}

bool TUcxCustomLabel::DrawWideText(HDC dc, RECT& rect, UINT flags, WideString text) {
  if (!IsUnicodePlatform) return false;
  // An empty caption still measures one line.
  if ((flags & DT_CALCRECT) && (text.empty() || (GetShowAccelChar() && text == u"&"))) text += u' ';
  if (!GetShowAccelChar()) flags |= DT_NOPREFIX;
  HGDIOBJ oldFont = SelectObject(dc, GetFont()->Handle());
  const int count = static_cast<int>(text.size());
  if (GetEnabled()) {
    DrawTextWide(dc, text.c_str(), count, &rect, flags);
  } else {
    OffsetRect(&rect, 1, 1);
    SetTextColor(dc, ColorToRGB(clBtnHighlight));
    DrawTextWide(dc, text.c_str(), count, &rect, flags);
    OffsetRect(&rect, -1, -1);
    SetTextColor(dc, ColorToRGB(clBtnShadow));
    DrawTextWide(dc, text.c_str(), count, &rect, flags);
  }
  SelectObject(dc, oldFont);
  return true;
}

void TUcxCustomLabel::DoDrawText(HDC dc, RECT& rect, UINT flags) {
  if (!DrawWideText(dc, rect, flags, GetLabelText())) inherited::DoDrawText(dc, rect, flags);
}

void TUcxCustomLabel::Dispatch(TMessage& msg) {
  if (msg.Msg == CM_HINTSHOW) PrepareWideHint(reinterpret_cast<THintInfo*>(msg.LParam));
  if (msg.Msg == CM_DIALOGCHAR && focusControl_ && GetEnabled() && GetShowAccelChar() &&
      IsWideCharAccel(static_cast<unsigned>(msg.WParam & 0xFFFFFFFFu), GetLabelText()) && focusControl_->CanFocus()) {
    focusControl_->SetFocus();
    msg.Result = 1;
    return;
  }
  inherited::Dispatch(msg);
}

// --- Actions -----------------------------------------------------------------------------------

void TUcxCustomEdit::ActionChange(TObject* sender, bool checkDefaults) {
  ApplyActionToControl(this, sender, checkDefaults);
  inherited::ActionChange(sender, checkDefaults);
}

TBasicActionLinkClass TUcxCustomEdit::GetActionLinkClass() {
  return WideActionLinkClassFor(this, inherited::GetActionLinkClass());
}

void TUcxCustomLabel::ActionChange(TObject* sender, bool checkDefaults) {
  ApplyActionToControl(this, sender, checkDefaults);
  inherited::ActionChange(sender, checkDefaults);
}

TBasicActionLinkClass TUcxCustomLabel::GetActionLinkClass() {
  return WideActionLinkClassFor(this, inherited::GetActionLinkClass());
}
