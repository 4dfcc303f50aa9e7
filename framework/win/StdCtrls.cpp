#include "StdCtrls.h"

FW_IMPLEMENT_CLASS(TButtonControl)
FW_BEGIN_CLASS(TButton)
  FW_PROP(Default, GetDefault, SetDefault)
  FW_DEFAULT(0)
  FW_PROP(Cancel, GetCancel, SetCancel)
  FW_DEFAULT(0)
  FW_PROP(ModalResult, GetModalResult, SetModalResult)
  FW_DEFAULT(0)
FW_END_CLASS
FW_BEGIN_CLASS(TRadioButton)
  FW_PROP(Checked, GetChecked, SetChecked)
  FW_DEFAULT(0)
FW_END_CLASS
FW_IMPLEMENT_CLASS(TGroupBox)
FW_BEGIN_CLASS(TCustomLabel)
  FW_PROP(AutoSize, GetAutoSize, SetAutoSize)
  FW_DEFAULT(1)
  FW_PROP(Alignment, GetAlignment, SetAlignment)
  FW_DEFAULT(taLeftJustify)
  FW_PROP(WordWrap, GetWordWrap, SetWordWrap)
  FW_DEFAULT(0)
  FW_PROP(Layout, GetLayout, SetLayout)
  FW_DEFAULT(tlTop)
  FW_PROP(ShowAccelChar, GetShowAccelChar, SetShowAccelChar)
  FW_DEFAULT(1)
  FW_PROP(Transparent, GetTransparent, SetTransparent)
  FW_DEFAULT(0)
FW_END_CLASS
FW_IMPLEMENT_CLASS(TLabel)
FW_BEGIN_CLASS(TCustomEdit)
  FW_PROP(AutoSize, GetAutoSize, SetAutoSize)
  FW_DEFAULT(1)
  FW_PROP(BorderStyle, GetBorderStyle, SetBorderStyle)
  FW_DEFAULT(bsSingle)
  FW_PROP(MaxLength, GetMaxLength, SetMaxLength)
  FW_DEFAULT(0)
  FW_PROP(PasswordChar, GetPasswordChar, SetPasswordChar)
  FW_DEFAULT(0)
  FW_PROP(ReadOnly, GetReadOnly, SetReadOnly)
  FW_DEFAULT(0)
  FW_PROP(Text, GetText, SetText)
  FW_EVENT(OnChange, OnChange)
FW_END_CLASS
FW_IMPLEMENT_CLASS(TEdit)

FW_IMPLEMENT_CLASS(TButtonActionLink)

TBasicActionLinkClass TButtonControl::GetActionLinkClass() {
  return &TButtonActionLink::StaticClass();
}

bool TButtonActionLink::IsCheckedLinked() {
  auto* button = dynamic_cast<TButtonControl*>(client_);
  return inherited::IsCheckedLinked() && button && button->GetCheckedState() == CustomAction()->GetChecked();
}

void TButtonActionLink::SetChecked(bool value) {
  if (IsCheckedLinked()) static_cast<TButtonControl*>(client_)->SetCheckedState(value);
}

TButtonControl::TButtonControl(TComponent* owner) : TWinControl(owner) {
  SetTabStop(true);
  ControlStyle.Exclude(csClickEvents);  // the system control reports its clicks (BN_CLICKED)
}

// --- TButton -----------------------------------------------------------------------------------

TButton::TButton(TComponent* owner) : TButtonControl(owner) {
  SetBounds(0, 0, 75, 25);
}

void TButton::SetDefault(bool v) {
  default_ = v;
  if (HandleAllocated()) SendMessageA(WindowHandle(), BM_SETSTYLE, v ? BS_DEFPUSHBUTTON : BS_PUSHBUTTON, TRUE);
}

void TButton::Click() {
  if (modalResult_ != 0) SetParentFormModalResult(this, modalResult_);
  inherited::Click();
}

void TButton::CreateParams(TCreateParams& params) {
  inherited::CreateParams(params);
  CreateSubClass(params, "BUTTON");
  params.Style |= default_ ? BS_DEFPUSHBUTTON : BS_PUSHBUTTON;
}

void TButton::Dispatch(TMessage& msg) {
  switch (msg.Msg) {
    case CN_COMMAND:
      if (HIWORD(msg.WParam) == BN_CLICKED) {
        Click();
        msg.Result = 0;
        return;
      }
      break;
    case CM_DIALOGCHAR:
      if (IsAccel(static_cast<unsigned>(msg.WParam), GetCaption()) && CanFocus()) {
        SetFocus();
        Click();
        msg.Result = 1;
      } else {
        msg.Result = 0;
      }
      return;
    case CM_DIALOGKEY: {
      const bool mine = (msg.WParam == VK_RETURN && (Focused() || default_)) || (msg.WParam == VK_ESCAPE && cancel_);
      if (mine && GetVisible() && GetEnabled()) {
        Click();
        msg.Result = 1;
        return;
      }
      msg.Result = 0;
      return;
    }
    default:
      break;
  }
  inherited::Dispatch(msg);
}

// --- TRadioButton ------------------------------------------------------------------------------

TRadioButton::TRadioButton(TComponent* owner) : TButtonControl(owner) {
  SetBounds(0, 0, 113, 17);
}

void TRadioButton::CreateParams(TCreateParams& params) {
  inherited::CreateParams(params);
  CreateSubClass(params, "BUTTON");
  params.Style |= BS_AUTORADIOBUTTON;
}

void TRadioButton::CreateWnd() {
  inherited::CreateWnd();
  SendMessageA(WindowHandle(), BM_SETCHECK, checked_ ? BST_CHECKED : BST_UNCHECKED, 0);
}

bool TRadioButton::GetChecked() const {
  if (WindowHandle()) return SendMessageA(WindowHandle(), BM_GETCHECK, 0, 0) == BST_CHECKED;
  return checked_;
}

void TRadioButton::SetChecked(bool v) {
  if (GetChecked() == v) return;
  checked_ = v;
  if (WindowHandle()) SendMessageA(WindowHandle(), BM_SETCHECK, v ? BST_CHECKED : BST_UNCHECKED, 0);
  if (v && Parent()) {
    for (int i = 0; i < Parent()->ControlCount(); ++i)
      if (auto* other = dynamic_cast<TRadioButton*>(Parent()->Controls(i)); other && other != this)
        other->SetChecked(false);
  }
  Click();
}

void TRadioButton::Dispatch(TMessage& msg) {
  if (msg.Msg == CM_DIALOGCHAR) {
    msg.Result = 0;
    if (IsAccel(static_cast<unsigned>(msg.WParam), GetCaption()) && CanFocus()) {
      SetFocus();
      SendMessageA(WindowHandle(), BM_CLICK, 0, 0);
      msg.Result = 1;
    }
    return;
  }
  if (msg.Msg == CN_COMMAND) {
    if (HIWORD(msg.WParam) == BN_CLICKED) {
      const bool now = SendMessageA(WindowHandle(), BM_GETCHECK, 0, 0) == BST_CHECKED;
      if (now != checked_ || now) {
        checked_ = now;
        if (now && Parent())
          for (int i = 0; i < Parent()->ControlCount(); ++i)
            if (auto* other = dynamic_cast<TRadioButton*>(Parent()->Controls(i)); other && other != this)
              other->checked_ = false;
        Click();
      }
    }
    msg.Result = 0;
    return;
  }
  inherited::Dispatch(msg);
}

// --- TGroupBox ---------------------------------------------------------------------------------

TGroupBox::TGroupBox(TComponent* owner) : TWinControl(owner) {
  SetBounds(0, 0, 185, 105);
  ControlStyle.Exclude(csClickEvents);
}

void TGroupBox::CreateParams(TCreateParams& params) {
  inherited::CreateParams(params);
  CreateSubClass(params, "BUTTON");
  params.Style |= BS_GROUPBOX | WS_CLIPCHILDREN;
}

void TGroupBox::AdjustClientRect(RECT& rect) {
  inherited::AdjustClientRect(rect);
  // A copy of the font: while the font reports a change its handle is still the old one.
  TOwned<TFont> font(New<TFont>());
  font->Assign(GetFont());
  HDC dc = GetDC(nullptr);
  HGDIOBJ old = SelectObject(dc, font->Handle());
  TEXTMETRICA tm{};
  GetTextMetricsA(dc, &tm);
  SelectObject(dc, old);
  ReleaseDC(nullptr, dc);
  rect.top += tm.tmHeight;
  InflateRect(&rect, -2, -2);
}

void TGroupBox::Dispatch(TMessage& msg) {
  // A group box passes its children's notifications on like any container.
  inherited::Dispatch(msg);
}

// --- TCustomLabel ------------------------------------------------------------------------------------------

TCustomLabel::TCustomLabel(TComponent* owner) : TGraphicControl(owner) {
  SetBounds(0, 0, 65, 13);
}

void TCustomLabel::SetAutoSize(bool v) {
  autoSize_ = v;
  AdjustBounds();
}

void TCustomLabel::SetAlignment(TAlignment v) {
  alignment_ = v;
  Invalidate();
}

void TCustomLabel::SetWordWrap(bool v) {
  wordWrap_ = v;
  AdjustBounds();
}

void TCustomLabel::SetLayout(TTextLayout v) {
  layout_ = v;
  Invalidate();
}

void TCustomLabel::SetShowAccelChar(bool v) {
  showAccelChar_ = v;
  AdjustBounds();
  Invalidate();
}

void TCustomLabel::SetTransparent(bool v) {
  transparent_ = v;
  Invalidate();
}

void TCustomLabel::Loaded() {
  inherited::Loaded();
  AdjustBounds();
}

void TCustomLabel::DoDrawText(HDC dc, RECT& rect, UINT flags) {
  std::string text = GetCaption();
  if ((flags & DT_CALCRECT) && text.empty()) text = " ";
  if (!showAccelChar_) flags |= DT_NOPREFIX;
  HGDIOBJ oldFont = SelectObject(dc, GetFont()->Handle());
  if (!GetEnabled()) SetTextColor(dc, GetSysColor(COLOR_GRAYTEXT));
  DrawTextA(dc, text.c_str(), static_cast<int>(text.size()), &rect, flags);
  SelectObject(dc, oldFont);
}

void TCustomLabel::Paint(HDC dc) {
  RECT r = ClientRect();
  if (!transparent_) FillRectColor(dc, r, GetColor());
  SetBkMode(dc, TRANSPARENT);
  SetTextColor(dc, ColorToRGB(GetFont()->GetColor()));
  UINT flags = DT_EXPANDTABS | (wordWrap_ ? DT_WORDBREAK : 0);
  flags |= alignment_ == taCenter ? DT_CENTER : alignment_ == taRightJustify ? DT_RIGHT : DT_LEFT;
  flags = DrawTextBiDiModeFlags(flags);  // right to left: alignment mirrored, text read right to left
  if (layout_ != tlTop) {
    // Measure the text, then move it down to the middle or the bottom.
    RECT calc = r;
    DoDrawText(dc, calc, flags | DT_CALCRECT);
    const int room = (r.bottom - r.top) - (calc.bottom - calc.top);
    if (room > 0) r.top += layout_ == tlCenter ? room / 2 : room;
  }
  DoDrawText(dc, r, flags);
}

void TCustomLabel::AdjustBounds() {
  if (!autoSize_ || IsLoading()) return;
  HDC dc = GetDC(nullptr);
  RECT r{0, 0, wordWrap_ ? GetWidth() : 0, 0};
  DoDrawText(dc, r, DT_CALCRECT | DT_EXPANDTABS | (wordWrap_ ? DT_WORDBREAK : 0));
  ReleaseDC(nullptr, dc);
  int left = GetLeft();
  if (alignment_ == taRightJustify) left += GetWidth() - r.right;
  SetBounds(left, GetTop(), r.right, r.bottom);
}

void TCustomLabel::Dispatch(TMessage& msg) {
  if (msg.Msg == CM_TEXTCHANGED || msg.Msg == CM_FONTCHANGED) {
    AdjustBounds();
    Invalidate();
  }
  inherited::Dispatch(msg);
}

// --- TCustomEdit -------------------------------------------------------------------------------

TCustomEdit::TCustomEdit(TComponent* owner) : TWinControl(owner) {
  SetBounds(0, 0, 121, 25);
  SetTabStop(true);
  SetColor(clWindow);
  ControlStyle.Exclude(csSetCaption);
}

void TCustomEdit::CreateParams(TCreateParams& params) {
  inherited::CreateParams(params);
  CreateSubClass(params, "EDIT");
  params.Style |= ES_AUTOHSCROLL | ES_AUTOVSCROLL;
  if (passwordChar_) params.Style |= ES_PASSWORD;
  if (readOnly_) params.Style |= ES_READONLY;
  if (borderStyle_ == bsSingle) params.ExStyle |= WS_EX_CLIENTEDGE;
}

void TCustomEdit::CreateWnd() {
  inherited::CreateWnd();
  HWND h = WindowHandle();
  SendMessageA(h, EM_LIMITTEXT, static_cast<WPARAM>(maxLength_), 0);
  SendMessageA(h, EM_SETMODIFY, modified_, 0);
  if (passwordChar_) SendMessageA(h, EM_SETPASSWORDCHAR, static_cast<unsigned char>(passwordChar_), 0);
  AdjustHeight();
}

void TCustomEdit::AdjustHeight() {
  if (!autoSize_ || IsLoading()) return;
  // A copy of the font: while the font reports a change its handle is still the old one.
  TOwned<TFont> font(New<TFont>());
  font->Assign(GetFont());
  HDC dc = GetDC(nullptr);
  HGDIOBJ old = SelectObject(dc, font->Handle());
  TEXTMETRICA tm{};
  GetTextMetricsA(dc, &tm);
  SelectObject(dc, old);
  ReleaseDC(nullptr, dc);
  const int frame = borderStyle_ == bsSingle ? GetSystemMetrics(SM_CYEDGE) * 4 : 4;
  SetHeight(tm.tmHeight + frame);
}

bool TCustomEdit::GetModified() const {
  if (WindowHandle()) return SendMessageA(WindowHandle(), EM_GETMODIFY, 0, 0) != 0;
  return modified_;
}

void TCustomEdit::SetModified(bool v) {
  modified_ = v;
  if (WindowHandle()) SendMessageA(WindowHandle(), EM_SETMODIFY, v, 0);
}

void TCustomEdit::SelectAll() {
  if (WindowHandle()) SendMessageA(WindowHandle(), EM_SETSEL, 0, -1);
}

int TCustomEdit::GetSelStart() {
  DWORD start = 0;
  SendMessageA(Handle(), EM_GETSEL, reinterpret_cast<WPARAM>(&start), 0);
  return static_cast<int>(start);
}

void TCustomEdit::SetSelStart(int v) {
  SendMessageA(Handle(), EM_SETSEL, static_cast<WPARAM>(v), v);
}

int TCustomEdit::GetSelLength() {
  DWORD start = 0, end = 0;
  SendMessageA(Handle(), EM_GETSEL, reinterpret_cast<WPARAM>(&start), reinterpret_cast<LPARAM>(&end));
  return end > start ? static_cast<int>(end - start) : 0;
}

void TCustomEdit::SetSelLength(int v) {
  const int start = GetSelStart();
  SendMessageA(Handle(), EM_SETSEL, static_cast<WPARAM>(start), start + (v < 0 ? 0 : v));
}

std::string TCustomEdit::GetSelText() {
  const std::string text = GetText();
  const auto start = static_cast<std::size_t>(GetSelStart());
  if (start >= text.size()) return {};
  return text.substr(start, static_cast<std::size_t>(GetSelLength()));
}

void TCustomEdit::SetSelText(const std::string& v) {
  SendMessageA(Handle(), EM_REPLACESEL, TRUE, reinterpret_cast<LPARAM>(v.c_str()));
}

void TCustomEdit::SetPasswordChar(char v) {
  if (passwordChar_ == v) return;
  passwordChar_ = v;
  if (WindowHandle()) {
    SendMessageA(WindowHandle(), EM_SETPASSWORDCHAR, static_cast<unsigned char>(v), 0);
    Invalidate();
  }
}

void TCustomEdit::SetReadOnly(bool v) {
  readOnly_ = v;
  if (WindowHandle()) SendMessageA(WindowHandle(), EM_SETREADONLY, v, 0);
}

void TCustomEdit::SetMaxLength(int v) {
  maxLength_ = v < 0 ? 0 : v;
  if (WindowHandle()) SendMessageA(WindowHandle(), EM_LIMITTEXT, static_cast<WPARAM>(maxLength_), 0);
}

void TCustomEdit::SetBorderStyle(TBorderStyle v) {
  if (borderStyle_ == v) return;
  borderStyle_ = v;
  AdjustHeight();
  RecreateWnd();
}

void TCustomEdit::SetAutoSize(bool v) {
  autoSize_ = v;
  AdjustHeight();
}

void TCustomEdit::Change() {
  if (OnChange) OnChange(this);
}

void TCustomEdit::Dispatch(TMessage& msg) {
  if (msg.Msg == CN_COMMAND && HIWORD(msg.WParam) == EN_CHANGE) {
    Change();
    msg.Result = 0;
    return;
  }
  if (msg.Msg == CM_FONTCHANGED) AdjustHeight();
  inherited::Dispatch(msg);
}
