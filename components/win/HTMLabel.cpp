#include "HTMLabel.h"

#include <algorithm>
#include <cstring>

#include "HtmlCanvasSurface.h"
#include "HtmlMarkup.h"
#include "Messages.h"
#include "SysUtils.h"

// clang-format off
FW_BEGIN_CLASS(THTMLabel)
  FW_PROP(ParentBiDiMode, GetParentBiDiMode, SetParentBiDiMode)
  FW_DEFAULT(1)
  FW_PROP(AnchorHint, GetAnchorHint, SetAnchorHint)
  FW_DEFAULT(0)
  FW_PROP(AutoSizing, GetAutoSizing, SetAutoSizing)
  FW_DEFAULT(0)
  FW_PROP(AutoSizeType, GetAutoSizeType, SetAutoSizeType)
  FW_DEFAULT(asVertical)
  FW_PROP(BevelInner, GetBevelInner, SetBevelInner)
  FW_DEFAULT(bvNone)
  FW_PROP(BevelOuter, GetBevelOuter, SetBevelOuter)
  FW_DEFAULT(bvNone)
  FW_PROP(BevelWidth, GetBevelWidth, SetBevelWidth)
  FW_DEFAULT(1)
  FW_PROP(BorderWidth, GetBorderWidth, SetBorderWidth)
  FW_DEFAULT(0)
  FW_PROP(BorderStyle, GetBorderStyle, SetBorderStyle)
  FW_DEFAULT(bsNone)
  FW_PROP(ColorTo, GetColorTo, SetColorTo)
  FW_DEFAULT(clNone)
  FW_PROP(Ellipsis, GetEllipsis, SetEllipsis)
  FW_DEFAULT(0)
  FW_PROP(GradientType, GetGradientType, SetGradientType)
  FW_DEFAULT(gtFullHorizontal)
  FW_PROP(HintShowFull, GetHintShowFull, SetHintShowFull)
  FW_DEFAULT(0)
  FW_PROP(Hover, GetHover, SetHover)
  FW_DEFAULT(0)
  FW_PROP(HoverColor, GetHoverColor, SetHoverColor)
  FW_DEFAULT(clNone)
  FW_PROP(HoverFontColor, GetHoverFontColor, SetHoverFontColor)
  FW_DEFAULT(clNone)
  FW_PROP(HTMLText, GetHTMLText, SetHTMLText)
  FW_PROP(HTMLHint, GetHTMLHint, SetHTMLHint)
  FW_DEFAULT(0)
  FW_PROP(Images, GetImages, SetImages)
  FW_PROP(LineWidth, GetLineWidth, SetLineWidth)
  FW_DEFAULT(0)
  FW_PROP(PictureContainer, GetPictureContainer, SetPictureContainer)
  FW_PROP(ShadowColor, GetShadowColor, SetShadowColor)
  FW_DEFAULT(clGray)
  FW_PROP(ShadowOffset, GetShadowOffset, SetShadowOffset)
  FW_DEFAULT(2)
  FW_PROP(URLColor, GetURLColor, SetURLColor)
  FW_DEFAULT(clBlue)
  FW_PROP(VAlignment, GetVAlignment, SetVAlignment)
  FW_DEFAULT(tvaTop)
  FW_PROP(Version, GetVersion, SetVersion)
  FW_EVENT(OnAnchorClick, OnAnchorClick)
  FW_EVENT(OnAnchorEnter, OnAnchorEnter)
  FW_EVENT(OnAnchorExit, OnAnchorExit)
  FW_EVENT(OnAnchorHint, OnAnchorHint)
FW_END_CLASS
// clang-format on

void DrawGradient(TCanvas* canvas, TColor from, TColor to, bool horizontal, const RECT& r, int steps) {
  const auto bands = GradientBands(ColorToRGB(from) & 0xFFFFFF, static_cast<std::uint32_t>(ColorToRGB(to)) & 0xFFFFFF,
                                   horizontal ? r.left : r.top, horizontal ? r.right : r.bottom, steps);
  for (const auto& b : bands) {
    const TColor c = static_cast<std::int32_t>(b.color);
    canvas->Pen()->SetColor(c);
    canvas->Brush()->SetColor(c);
    canvas->Brush()->SetStyle(bsSolid);
    const RECT band = horizontal ? RECT{b.start, r.top, b.end, r.bottom} : RECT{r.left, b.start, r.right, b.end};
    canvas->FillRect(band);
  }
}

namespace {

// One 3-D frame per pixel of width: top and left edges in `top`, bottom and
// right in `bottom`; the rectangle shrinks by 1 on every side per pixel.
void Frame3D(TCanvas* canvas, RECT& r, TColor top, TColor bottom, int width) {
  HDC dc = canvas->Handle();
  for (int i = 0; i < width && r.right > r.left && r.bottom > r.top; ++i) {
    FillRectColor(dc, RECT{r.left, r.top, r.right, r.top + 1}, top);
    FillRectColor(dc, RECT{r.left, r.top, r.left + 1, r.bottom}, top);
    FillRectColor(dc, RECT{r.left, r.bottom - 1, r.right, r.bottom}, bottom);
    FillRectColor(dc, RECT{r.right - 1, r.top, r.right, r.bottom}, bottom);
    InflateRect(&r, -1, -1);
  }
}

void Bevel(TCanvas* canvas, RECT& r, TBevelCut cut, int width) {
  if (cut == bvLowered)
    Frame3D(canvas, r, clBtnShadow, clBtnHighlight, width);
  else
    Frame3D(canvas, r, clBtnHighlight, clBtnShadow, width);
}

// Targets the shell opens: web, file transfer and mail addresses only, so a
// translated text can never start a program or open a file.
bool ShellTarget(const std::string& target) {
  for (const char* scheme : {"http://", "https://", "ftp://", "mailto:"}) {
    const std::size_t n = std::strlen(scheme);
    if (target.size() >= n && SameText(std::string_view(target).substr(0, n), scheme)) return true;
  }
  return false;
}

RECT FromHtml(const HtmlRect& r) {
  return RECT{r.left, r.top, r.right, r.bottom};
}

}  // namespace

THTMLabel::THTMLabel(TComponent* owner)
    : TCustomLabel(owner),
      htmlText_(New<TStringList>()),
      cache_(New<THTMLPictureCache>()),
      imageLink_(New<TChangeLink>()) {
  htmlText_->OnChange = TNotifyEvent::Bind<&THTMLabel::TextChanged>(this);
  imageLink_->OnChange = TNotifyEvent::Bind<&THTMLabel::ImagesChanged>(this);
  SetCaption("");
  SetAutoSize(false);
}

void THTMLabel::Destroy() {
  cache_->FreeCachePictures();
  FreeAndNil(cache_);
  FreeAndNil(htmlText_);
  FreeAndNil(imageLink_);
  inherited::Destroy();
}

void THTMLabel::Loaded() {
  inherited::Loaded();
  SetCaption("");
}

std::string THTMLabel::GetVersion() const {
  const std::uint32_t v = VersionNumber();
  return std::to_string(v >> 24) + "." + std::to_string((v >> 16) & 0xFF) + "." + std::to_string((v >> 8) & 0xFF) +
         "." + std::to_string(v & 0xFF);
}

std::string THTMLabel::GetDisplayText() const {
  std::string text;
  for (int i = 0; i < htmlText_->Count(); ++i) text += htmlText_->Strings(i);
  return text;
}

void THTMLabel::HtmlChanged() {
  Invalidate();
}

void THTMLabel::SetHTMLText(TStrings* lines) {
  std::string joined;
  if (lines)
    for (int i = 0; i < lines->Count(); ++i)
      for (char c : lines->Strings(i))
        if (c != '\r' && c != '\n') joined += c;
  htmlText_->BeginUpdate();
  htmlText_->Clear();
  htmlText_->Add(joined);
  htmlText_->EndUpdate();
  HtmlChanged();
}

void THTMLabel::TextChanged(TObject*) {
  cache_->FreeCachePictures();
  Invalidate();
}

void THTMLabel::ImagesChanged(TObject*) {
  Invalidate();
}

void THTMLabel::SetAutoSizing(bool v) {
  autoSizing_ = v;
  if (v) {
    if (GetAlign() == alLeft || GetAlign() == alRight) SetWidth(6);
    if (GetAlign() == alTop || GetAlign() == alBottom) SetHeight(6);
  }
  Invalidate();
}

void THTMLabel::SetAutoSizeType(TAutoSizeType v) {
  autoSizeType_ = v;
  SetAutoSizing(autoSizing_);
}

#define HTML_LABEL_STORE(Setter, field, Type) \
  void THTMLabel::Setter(Type v) {            \
    field = v;                                \
    Invalidate();                             \
  }
HTML_LABEL_STORE(SetBevelInner, bevelInner_, TBevelCut)
HTML_LABEL_STORE(SetBevelOuter, bevelOuter_, TBevelCut)
HTML_LABEL_STORE(SetBevelWidth, bevelWidth_, int)
HTML_LABEL_STORE(SetBorderWidth, borderWidth_, int)
HTML_LABEL_STORE(SetBorderStyle, borderStyle_, TFormBorderStyle)
HTML_LABEL_STORE(SetShadowColor, shadowColor_, TColor)
HTML_LABEL_STORE(SetShadowOffset, shadowOffset_, int)
HTML_LABEL_STORE(SetHover, hover_, bool)
HTML_LABEL_STORE(SetHoverColor, hoverColor_, TColor)
HTML_LABEL_STORE(SetHoverFontColor, hoverFontColor_, TColor)
HTML_LABEL_STORE(SetColorTo, colorTo_, TColor)
HTML_LABEL_STORE(SetGradientType, gradientType_, TGradientType)
HTML_LABEL_STORE(SetLineWidth, lineWidth_, int)
#undef HTML_LABEL_STORE

void THTMLabel::SetURLColor(TColor v) {
  if (v == urlColor_) return;
  urlColor_ = v;
  Invalidate();
}

void THTMLabel::SetVAlignment(TVAlignment v) {
  if (v == vAlignment_) return;
  vAlignment_ = v;
  Invalidate();
}

void THTMLabel::SetEllipsis(bool v) {
  if (v == ellipsis_) return;
  ellipsis_ = v;
  Invalidate();
}

void THTMLabel::SetImages(TCustomImageList* v) {
  if (images_) images_->UnRegisterChanges(imageLink_);
  images_ = v;
  if (images_) {
    images_->RegisterChanges(imageLink_);
    images_->FreeNotification(this);
  }
  Invalidate();
}

void THTMLabel::SetPictureContainer(TPictureContainer* v) {
  container_ = v;
  if (v) v->FreeNotification(this);
}

void THTMLabel::Notification(TComponent* component, TOperation operation) {
  if (operation == opRemove) {
    if (component == images_) {
      images_->UnRegisterChanges(imageLink_);
      images_ = nullptr;
    }
    if (component == container_) container_ = nullptr;
  }
  inherited::Notification(component, operation);
}

HtmlRenderResult THTMLabel::DrawHtmlText(TCanvas* canvas, const std::string& text, const RECT& r, POINT p,
                                         int hoveredAnchor, bool hitTestOnly) {
  HtmlCanvasSurface surface(canvas, container_, cache_, images_);
  HtmlRenderOptions o;
  o.shadowColor = shadowColor_;
  o.shadowOffset = shadowOffset_;
  o.urlColor = urlColor_;
  o.hoverColor = hoverColor_;
  o.hoverFontColor = hoverFontColor_;
  o.hover = hover_;
  o.hoveredAnchor = hoveredAnchor;
  o.wordWrap = !ellipsis_;
  o.hitTestOnly = hitTestOnly;
  o.x = p.x;
  o.y = p.y;
  return RenderHtml(surface, text, HtmlRect{r.left, r.top, r.right, r.bottom}, o);
}

void THTMLabel::Paint(HDC) {
  try {
    PaintLabel();
  } catch (...) {
    if (Application) Application->HandleException(this);
  }
}

void THTMLabel::PaintLabel() {
  TCanvas* canvas = Canvas();
  SetCaption("");
  RECT r = ClientRect();
  const int steps = (r.right - r.left) / 4;
  if (!GetTransparent()) {
    if (colorTo_ == clNone || gradientType_ > gtFullVertical) {
      canvas->Brush()->SetStyle(bsSolid);
      canvas->Brush()->SetColor(GetColor());
      canvas->Pen()->SetColor(GetColor());
      canvas->FillRect(r);
    } else {
      DrawGradient(canvas, GetColor(), colorTo_, gradientType_ == gtFullHorizontal, r, steps);
    }
  }
  if (gradientType_ == gtBottomLine || gradientType_ == gtCenterLine || gradientType_ == gtTopLine) {
    RECT band = r;
    if (gradientType_ == gtBottomLine) band.top = band.bottom - 2;
    if (gradientType_ == gtCenterLine) {
      band.top = band.top + (band.bottom - band.top) / 2;
      band.bottom = band.top + 2;
    }
    if (gradientType_ == gtTopLine) band.bottom = band.top + 2;
    DrawGradient(canvas, GetColor(), colorTo_, true, band, steps);
  }
  canvas->Font()->Assign(GetFont());

  r = ClientRect();
  if (bevelOuter_ != bvNone) Bevel(canvas, r, bevelOuter_, bevelWidth_);
  Frame3D(canvas, r, GetColor(), GetColor(), borderWidth_);
  if (bevelInner_ != bvNone) Bevel(canvas, r, bevelInner_, bevelWidth_);
  if (borderStyle_ == bsSingle && borderWidth_ > 0) {
    canvas->Pen()->SetWidth(borderWidth_);
    canvas->Pen()->SetColor(clBlack);
    canvas->Brush()->SetStyle(bsSolid);
    canvas->Brush()->SetColor(clBlack);
    canvas->Rectangle(r.left, r.top, r.right, r.bottom);
    canvas->Pen()->SetWidth(1);
  }
  r = TextRect();

  const std::string text = GetDisplayText();
  canvas->Brush()->SetStyle(bsSolid);
  canvas->Brush()->SetColor(GetColor());
  if (autoSizing_) {
    const TAlign a = GetAlign();
    if ((a == alLeft || a == alRight || a == alNone) && (autoSizeType_ == asHorizontal || autoSizeType_ == asBoth))
      r.right += 65535;
    if ((a == alTop || a == alBottom || a == alNone) && (autoSizeType_ == asVertical || autoSizeType_ == asBoth))
      r.bottom += 65535;
  }
  POINT p{-1, -1};
  if (GetCursorPos(&p)) p = ScreenToClient(p);
  if (vAlignment_ != tvaTop) {
    const int h = DrawHtmlText(canvas, text, r, p, hoveredAnchor_, true).height;
    if (h < GetHeight()) {
      // A text rectangle lower than the text moves nothing.
      if (vAlignment_ == tvaCenter) r.top += std::max(0, static_cast<int>(r.bottom - r.top - h) / 2);
      if (vAlignment_ == tvaBottom) r.top = std::max(r.top, static_cast<LONG>(r.bottom - h));
    }
  }
  const HtmlRenderResult out = DrawHtmlText(canvas, text, r, p, hoveredAnchor_, false);
  painted_ = SIZE{out.width, out.height};
  if (autoSizing_) {
    const TAlign a = GetAlign();
    if ((a == alTop || a == alBottom || a == alNone) && (autoSizeType_ == asVertical || autoSizeType_ == asBoth) &&
        out.height + 6 != GetHeight())
      SetHeight(out.height + 6);
    if ((a == alLeft || a == alRight || a == alNone) && (autoSizeType_ == asHorizontal || autoSizeType_ == asBoth) &&
        out.width + 6 != GetWidth())
      SetWidth(out.width + 6);
  }
}

RECT THTMLabel::TextRect() {
  RECT r = ClientRect();
  if (bevelOuter_ != bvNone || bevelInner_ != bvNone) InflateRect(&r, -bevelWidth_, -bevelWidth_);
  if (borderStyle_ == bsSingle) InflateRect(&r, -borderWidth_, -borderWidth_);
  return r;
}

std::string THTMLabel::AnchorAt(int x, int y, RECT& anchorRect) {
  anchorRect = RECT{-1, -1, -1, -1};
  HDC screen = GetDC(nullptr);
  TOwned<TCanvas> canvas(New<TCanvas>());
  canvas->SetHandle(screen);
  std::string target;
  try {
    canvas->Font()->Assign(GetFont());
    RECT r = TextRect();
    const std::string text = GetDisplayText();
    const POINT p{x, y};
    if (vAlignment_ != tvaTop) {
      const int h = DrawHtmlText(canvas.get(), text, r, p, -1, true).height;
      if (h < GetHeight()) {
        if (vAlignment_ == tvaCenter) r.top += std::max(0, static_cast<int>(r.bottom - r.top - h) / 2);
        if (vAlignment_ == tvaBottom) r.top = std::max(r.top, static_cast<LONG>(r.bottom - h));
      }
    }
    const HtmlRenderResult out = DrawHtmlText(canvas.get(), text, r, p, -1, true);
    if (out.hit && !out.anchor.empty()) {
      target = out.anchor;
      anchorRect = FromHtml(out.anchorRect);
      hoveredAnchor_ = out.anchorNumber;
    } else {
      hoveredAnchor_ = -1;
    }
  } catch (...) {
    canvas->SetHandle(nullptr);
    ReleaseDC(nullptr, screen);
    throw;
  }
  canvas->SetHandle(nullptr);
  ReleaseDC(nullptr, screen);
  return target;
}

void THTMLabel::InvalidateAnchor(const RECT& r) {
  TWinControl* parent = Parent();
  if (!parent || !parent->HandleAllocated()) return;
  RECT moved = r;
  OffsetRect(&moved, GetLeft(), GetTop());
  InvalidateRect(parent->Handle(), &moved, TRUE);
}

void THTMLabel::MouseMove(TShiftState shift, int x, int y) {
  inherited::MouseMove(shift, x, y);
  RECT a;
  const std::string target = AnchorAt(x, y, a);
  if (!target.empty()) {
    if (target != lastAnchor_ || !EqualRect(&a, &hoveredRect_) || hoveredAnchor_ == -1)
      if (hover_ && a.left != -1) InvalidateAnchor(hoveredRect_);
    if (GetCursor() == crDefault || target != lastAnchor_ || lastAnchorNumber_ != hoveredAnchor_) {
      if (anchorHint_ && Application) Application->CancelHint();
      SetCursor(crHandPoint);
      if (OnAnchorEnter) OnAnchorEnter(this, target);
      if (hover_) {
        if (a.left != -1)
          InvalidateAnchor(hoveredRect_);
        else
          Invalidate();
      }
    }
    lastAnchor_ = target;
    lastAnchorNumber_ = hoveredAnchor_;
    hoveredRect_ = a;
    if (hover_) InvalidateAnchor(hoveredRect_);
  } else if (GetCursor() == crHandPoint) {
    SetCursor(crDefault);
    if (OnAnchorExit) OnAnchorExit(this, target);
    if (hover_) {
      if (hoveredRect_.left != -1)
        InvalidateAnchor(hoveredRect_);
      else
        Invalidate();
    }
    hoveredRect_ = a;
    if (hover_) InvalidateAnchor(hoveredRect_);
  }
}

void THTMLabel::MouseDown(TMouseButton button, TShiftState shift, int x, int y) {
  inherited::MouseDown(button, shift, x, y);
  RECT a;
  const std::string target = AnchorAt(x, y, a);
  if (target.empty()) return;
  if (target.find("://") != std::string::npos || target.find("mailto:") != std::string::npos) {
    if (ShellTarget(target))
      GetHtmlShellApi().Execute(nullptr, "open", target.c_str(), nullptr, nullptr, SW_SHOWNORMAL);
  } else if (OnAnchorClick) {
    OnAnchorClick(this, target);
  }
}

void THTMLabel::MouseLeave() {
  if (hover_ && hoveredAnchor_ != -1) InvalidateAnchor(hoveredRect_);
  hoveredAnchor_ = -1;
  inherited::MouseLeave();
}

void THTMLabel::HintShow(THintInfo* info) {
  bool found = false;
  if (anchorHint_) {
    RECT a;
    std::string target = AnchorAt(info->CursorPos.x, info->CursorPos.y, a);
    if (!target.empty()) {
      found = true;
      if (OnAnchorHint) OnAnchorHint(this, target);
      POINT at = ClientToScreen(info->CursorPos);
      info->HintPos = POINT{at.x + 10, at.y - 10};
      info->HintStr = target;
    }
  }
  if (hintShowFull_ && !found) info->HintStr = htmlHint_ ? GetDisplayText() : StripHtml(GetDisplayText());
}

void THTMLabel::Dispatch(TMessage& msg) {
  if (msg.Msg == CM_HINTSHOW) {
    if (auto* info = reinterpret_cast<THintInfo*>(msg.LParam)) HintShow(info);
    msg.Result = 0;
    return;
  }
  inherited::Dispatch(msg);
}

void RegisterHTMLabelClasses() {
  RegisterPictureContainerClasses();
  RegisterClasses({&THTMLabel::StaticClass()});
}
