#include "QVCtrls.h"

#include <algorithm>

#include "DrawUtils.h"
#include "Scope.h"

// clang-format off
FW_IMPLEMENT_CLASS(TQvCustomLabel)

FW_BEGIN_CLASS(TQvLabel)
  FW_PROP(Alignment, GetAlignment, SetAlignment)
  FW_DEFAULT(taLeftJustify)
  FW_PROP(AutoSize, GetAutoSize, SetAutoSize)
  FW_DEFAULT(1)
  FW_PROP(ParentBiDiMode, GetParentBiDiMode, SetParentBiDiMode)
  FW_DEFAULT(1)
  FW_PROP(FocusControl, GetFocusControl, SetFocusControl)
  FW_PROP(Layout, GetLayout, SetLayout)
  FW_DEFAULT(tlTop)
  FW_PROP(ShadowColor, GetShadowColor, SetShadowColor)
  FW_DEFAULT(clBtnHighlight)
  FW_PROP(ShadowSize, GetShadowSize, SetShadowSize)
  FW_DEFAULT(1)
  FW_PROP(ShadowPos, GetShadowPos, SetShadowPos)
  FW_DEFAULT(spLeftTop)
  FW_PROP(ShowAccelChar, GetShowAccelChar, SetShowAccelChar)
  FW_DEFAULT(1)
  FW_PROP(ShowFocus, GetShowFocus, SetShowFocus)
  FW_DEFAULT(0)
  FW_PROP(Transparent, GetTransparent, SetTransparent)
  FW_DEFAULT(0)
  FW_PROP(WordWrap, GetWordWrap, SetWordWrap)
  FW_DEFAULT(0)
FW_END_CLASS
// clang-format on

int DrawTextWithShadow(HDC dc, const std::string& text, TShadowPosition pos, COLORREF shadow, int size, UINT flags,
                       RECT& rect) {
  RECT shifted = rect, plain = rect;
  const COLORREF old = SetTextColor(dc, shadow);
  switch (pos) {
    case spLeftTop:
      OffsetRect(&shifted, -size, -size);
      break;
    case spLeftBottom:
      OffsetRect(&shifted, -size, size);
      break;
    case spRightBottom:
      OffsetRect(&shifted, size, size);
      break;
    case spRightTop:
      OffsetRect(&shifted, size, -size);
      break;
  }
  const int n = static_cast<int>(text.size());
  int result = DrawTextA(dc, text.c_str(), n, &shifted, flags);
  if (result > 0) result += size;
  SetTextColor(dc, old);
  DrawTextA(dc, text.c_str(), n, &plain, flags);
  UnionRect(&rect, &shifted, &plain);
  return result;
}

TQvCustomLabel::TQvCustomLabel(TComponent* owner) : TGraphicControl(owner) {
  ControlStyle.Include(csOpaque);
  ControlStyle.Include(csReplicatable);
  SetBounds(GetLeft(), GetTop(), 65, 17);
}

void TQvCustomLabel::Loaded() {
  inherited::Loaded();
  AdjustLabelBounds();
}

namespace {
UINT AlignmentFlag(TAlignment a) {
  return a == taRightJustify ? DT_RIGHT : a == taCenter ? DT_CENTER : DT_LEFT;
}
}  // namespace

void TQvCustomLabel::DrawLabelText(RECT& rect, UINT flags) {
  std::string text = LabelCaptionText();
  if ((flags & DT_CALCRECT) && (text.empty() || (showAccelChar_ && text == "&"))) text += ' ';
  if (!showAccelChar_) flags |= DT_NOPREFIX;
  flags = DrawTextBiDiModeFlags(flags);
  TCanvas* c = Canvas();
  c->Font()->Assign(GetFont());
  c->Font()->SetColor(LabelFontColor());
  TShadowPosition pos = shadowPos_;
  int size = shadowSize_;
  TColor shadow = shadowColor_;
  if (!GetEnabled()) {
    if (size == 0 && LOBYTE(LOWORD(GetVersion())) >= 4) {
      pos = spRightBottom;
      size = 1;
    }
    c->Font()->SetColor(clGrayText);
    shadow = clBtnHighlight;
  }
  DrawTextWithShadow(c->Handle(), text, pos, ColorToRGB(shadow), size, flags, rect);
}

void TQvCustomLabel::Paint(HDC) {
  TCanvas* c = Canvas();
  if (!GetEnabled()) dragging_ = false;
  RECT client = ClientRect();
  if (!GetTransparent()) {
    c->Brush()->SetColor(GetColor());
    c->Brush()->SetStyle(bsSolid);
    c->FillRect(client);
  }
  c->Brush()->SetStyle(bsClear);
  RECT r{client.left + 1, client.top, client.right - 1, client.bottom};
  const UINT flags = (wordWrap_ ? DT_WORDBREAK : 0) | DT_EXPANDTABS | AlignmentFlag(alignment_);
  if (layout_ != tlTop) {
    DrawLabelText(r, flags | DT_CALCRECT);
    r.left = client.left;
    r.right = client.right;
    const int dy = layout_ == tlBottom ? GetHeight() - r.bottom : (GetHeight() - r.bottom) / 2;
    OffsetRect(&r, 0, dy);
  }
  DrawLabelText(r, flags);
  if (showFocus_ && focusControl_ && (focused_ || focusControl_->Focused())) {
    InflateRect(&r, 1, 0);
    c->Brush()->SetColor(GetColor());
    c->DrawFocusRect(r);
  }
}

void TQvCustomLabel::AdjustLabelBounds() {
  if (!autoSize_ || IsLoading()) return;
  RECT r = ClientRect();
  InflateRect(&r, -1, -1);
  TCanvas* c = Canvas();
  c->Lock();
  HDC dc = GetDC(nullptr);
  {
    TScopeExit release([c, dc]() noexcept {
      c->SetHandle(nullptr);
      ReleaseDC(nullptr, dc);
      c->Unlock();
    });
    c->SetHandle(dc);
    DrawLabelText(r, (wordWrap_ ? DT_WORDBREAK : 0) | DT_EXPANDTABS | DT_CALCRECT);
  }
  InflateRect(&r, 1, 1);
  TAlignment a = alignment_;
  if (UseRightToLeftAlignment() && a != taCenter) a = a == taLeftJustify ? taRightJustify : taLeftJustify;
  int left = GetLeft();
  if (a == taRightJustify) left += GetWidth() - r.right;
  SetBounds(left, GetTop(), r.right, r.bottom);
}

void TQvCustomLabel::UpdateMouseTracking() {
  POINT p;
  const bool over = GetEnabled() && GetCursorPos(&p) && FindDragTarget(p, true) == this && IsActiveWindowOwnThread();
  if (over == mouseInControl_) return;
  mouseInControl_ = over;
  if (over)
    NotifyMouseEnter();
  else
    NotifyMouseLeave();
}

void TQvCustomLabel::NotifyMouseEnter() {
  if (OnMouseEnter) OnMouseEnter(this);
}
void TQvCustomLabel::NotifyMouseLeave() {
  if (OnMouseLeave) OnMouseLeave(this);
}

void TQvCustomLabel::MouseDown(TMouseButton button, TShiftState shift, int x, int y) {
  inherited::MouseDown(button, shift, x, y);
  if (button == mbLeft && GetEnabled()) dragging_ = true;
}

void TQvCustomLabel::MouseUp(TMouseButton button, TShiftState shift, int x, int y) {
  inherited::MouseUp(button, shift, x, y);
  if (button == mbLeft) dragging_ = false;
  UpdateMouseTracking();
}

void TQvCustomLabel::Notification(TComponent* component, TOperation operation) {
  inherited::Notification(component, operation);
  if (operation == opRemove && component == focusControl_) SetFocusControl(nullptr);
}

void TQvCustomLabel::Dispatch(TMessage& msg) {
  switch (msg.Msg) {
    case CM_DIALOGCHAR:
      if (focusControl_ && GetEnabled() && showAccelChar_ && IsAccel(static_cast<unsigned>(msg.WParam), GetCaption()) &&
          focusControl_->CanFocus()) {
        focusControl_->SetFocus();
        msg.Result = 1;
        return;
      }
      break;
    case CM_FOCUSCHANGED: {
      const bool now = focusControl_ && reinterpret_cast<TWinControl*>(msg.LParam) == focusControl_;
      if (now != focused_) {
        focused_ = now;
        if (showFocus_) Invalidate();
      }
      break;
    }
    case CM_TEXTCHANGED:
      Invalidate();
      AdjustLabelBounds();
      return;
    case CM_FONTCHANGED:
      inherited::Dispatch(msg);
      AdjustLabelBounds();
      return;
    case CM_ENABLEDCHANGED:
    case WM_RBUTTONDOWN:
    case WM_RBUTTONUP:
      inherited::Dispatch(msg);
      UpdateMouseTracking();
      return;
    case CM_VISIBLECHANGED:
      inherited::Dispatch(msg);
      if (GetVisible()) UpdateMouseTracking();
      return;
    case CM_MOUSEENTER:
      inherited::Dispatch(msg);
      if (!mouseInControl_ && GetEnabled() && IsActiveWindowOwnThread()) {
        mouseInControl_ = true;
        NotifyMouseEnter();
      }
      return;
    case CM_MOUSELEAVE:
      inherited::Dispatch(msg);
      if (mouseInControl_ && GetEnabled() && !dragging_) {
        mouseInControl_ = false;
        NotifyMouseLeave();
      }
      return;
    default:
      break;
  }
  inherited::Dispatch(msg);
}

void TQvCustomLabel::SetAlignment(TAlignment v) {
  if (alignment_ == v) return;
  alignment_ = v;
  Invalidate();
}
void TQvCustomLabel::SetAutoSize(bool v) {
  if (autoSize_ == v) return;
  autoSize_ = v;
  AdjustLabelBounds();
}
void TQvCustomLabel::SetFocusControl(TWinControl* v) {
  if (focusControl_ == v) return;
  focusControl_ = v;
  if (v) v->FreeNotification(this);
  if (showFocus_) Invalidate();
}
void TQvCustomLabel::SetLayout(TTextLayout v) {
  if (layout_ == v) return;
  layout_ = v;
  Invalidate();
}
void TQvCustomLabel::SetShadowColor(TColor v) {
  if (shadowColor_ == v) return;
  shadowColor_ = v;
  Invalidate();
}
void TQvCustomLabel::SetShadowSize(int v) {
  v = std::clamp(v, 0, 255);  // a byte
  if (shadowSize_ == v) return;
  shadowSize_ = v;
  AdjustLabelBounds();
  Invalidate();
}
void TQvCustomLabel::SetShadowPos(TShadowPosition v) {
  if (shadowPos_ == v) return;
  shadowPos_ = v;
  Invalidate();
}
void TQvCustomLabel::SetShowAccelChar(bool v) {
  if (showAccelChar_ == v) return;
  showAccelChar_ = v;
  Invalidate();
}
void TQvCustomLabel::SetShowFocus(bool v) {
  if (showFocus_ == v) return;
  showFocus_ = v;
  Invalidate();
}
void TQvCustomLabel::SetTransparent(bool v) {
  if (GetTransparent() == v) return;
  if (v)
    ControlStyle.Exclude(csOpaque);
  else
    ControlStyle.Include(csOpaque);
  Invalidate();
}
void TQvCustomLabel::SetWordWrap(bool v) {
  if (wordWrap_ == v) return;
  wordWrap_ = v;
  AdjustLabelBounds();
}

void RegisterQvCtrlsClasses() {
  RegisterClasses({&TQvLabel::StaticClass()});
}
