#include "Animate.h"

#include <algorithm>

FW_BEGIN_CLASS(TAnimatedImage)
  FW_PROP(Active, GetActive, SetActive)
  FW_DEFAULT(0)
  FW_PROP(Glyph, GetGlyph, SetGlyph)
  FW_PROP(GlyphNum, GetGlyphNum, SetGlyphNum)
  FW_DEFAULT(0)
  FW_PROP(NumGlyphs, GetNumGlyphs, SetNumGlyphs)
  FW_DEFAULT(1)
  FW_PROP(Interval, GetInterval, SetInterval)
  FW_DEFAULT(100)
  FW_PROP(Orientation, Orientation, Orientation)
  FW_DEFAULT(goHorizontal)
  FW_PROP(InactiveGlyph, InactiveGlyph, InactiveGlyph)
  FW_DEFAULT(-1)
FW_END_CLASS

TAnimatedImage::TAnimatedImage(TComponent* owner) : TGraphicControl(owner) {
  glyph_ = New<TBitmap>();
  timer_ = New<TTimer>(static_cast<TComponent*>(nullptr));
  timer_->SetEnabled(false);
  timer_->SetInterval(100);
  timer_->SetOnTimer(TNotifyEvent::Bind<&TAnimatedImage::Step>(this));
  SetBounds(GetLeft(), GetTop(), 32, 32);
}

void TAnimatedImage::Destroy() {
  FreeAndNil(timer_);
  FreeAndNil(glyph_);
  inherited::Destroy();
}

void TAnimatedImage::SetActive(bool v) {
  active_ = v;
  UpdateTimer();
  Invalidate();
}

void TAnimatedImage::SetGlyph(TBitmap* v) {
  glyph_->Assign(v);
  Invalidate();
}

void TAnimatedImage::SetGlyphNum(int v) {
  glyphNum_ = std::clamp(v, 0, numGlyphs_ - 1);
  Invalidate();
}

void TAnimatedImage::SetNumGlyphs(int v) {
  numGlyphs_ = std::max(v, 1);
  if (!IsLoading()) glyphNum_ = std::min(glyphNum_, numGlyphs_ - 1);
  Invalidate();
}

unsigned TAnimatedImage::GetInterval() const {
  return timer_->GetInterval();
}

void TAnimatedImage::SetInterval(unsigned v) {
  timer_->SetInterval(v);
}

void TAnimatedImage::Loaded() {
  inherited::Loaded();
  glyphNum_ = std::clamp(glyphNum_, 0, numGlyphs_ - 1);
  UpdateTimer();
}

void TAnimatedImage::UpdateTimer() {
  if (!IsLoading()) timer_->SetEnabled(active_ && numGlyphs_ > 1);
}

void TAnimatedImage::Step(TObject*) {
  glyphNum_ = (glyphNum_ + 1) % numGlyphs_;
  if (GetVisible()) Invalidate();
}

void TAnimatedImage::Paint(HDC dc) {
  if (glyph_->Empty()) return;
  const int frame = active_ || InactiveGlyph < 0 ? glyphNum_ : InactiveGlyph;
  const bool across = Orientation == goHorizontal;
  const int fw = across ? glyph_->GetWidth() / numGlyphs_ : glyph_->GetWidth();
  const int fh = across ? glyph_->GetHeight() : glyph_->GetHeight() / numGlyphs_;
  if (fw <= 0 || fh <= 0 || frame < 0 || frame >= numGlyphs_) return;
  HDC mem = CreateCompatibleDC(dc);
  HGDIOBJ old = SelectObject(mem, glyph_->Handle());
  const int w = std::min(fw, GetWidth()), h = std::min(fh, GetHeight());
  GdiTransparentBlt(dc, 0, 0, w, h, mem, across ? frame * fw : 0, across ? 0 : frame * fh, w, h, RGB(255, 0, 255));
  SelectObject(mem, old);
  DeleteDC(mem);
}

void InitAnimate() {
  RegisterClasses({&TAnimatedImage::StaticClass()});
}
