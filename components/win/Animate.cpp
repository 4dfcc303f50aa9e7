#include "Animate.h"

#include "DrawUtils.h"
#include "Forms.h"
#include "Scope.h"

// clang-format off
FW_IMPLEMENT_CLASS(TQvImageControl)

FW_BEGIN_CLASS(TAnimatedImage)
  FW_PROP(AutoSize, GetAutoSize, SetAutoSize)
  FW_DEFAULT(1)
  FW_PROP(AsyncDrawing, GetAsyncDrawing, SetAsyncDrawing)
  FW_DEFAULT(0)
  FW_PROP(Active, GetActive, SetActive)
  FW_DEFAULT(0)
  FW_PROP(Center, GetCenter, SetCenter)
  FW_DEFAULT(0)
  FW_PROP(Orientation, GetOrientation, SetOrientation)
  FW_DEFAULT(goHorizontal)
  FW_PROP(Glyph, GetGlyph, SetGlyph)
  FW_PROP(GlyphNum, GetGlyphNum, SetGlyphNum)
  FW_DEFAULT(0)
  FW_PROP(Interval, GetInterval, SetInterval)
  FW_DEFAULT(100)
  FW_PROP(NumGlyphs, GetNumGlyphs, SetNumGlyphs)
  FW_DEFAULT(1)
  FW_PROP(InactiveGlyph, GetInactiveGlyph, SetInactiveGlyph)
  FW_DEFAULT(-1)
  FW_PROP(TransparentColor, GetTransparentColor, SetTransparentColor)
  FW_STORED(IsTransparentColorStored)
  FW_PROP(Opaque, GetOpaque, SetOpaque)
  FW_DEFAULT(0)
  FW_PROP(Stretch, GetStretch, SetStretch)
  FW_DEFAULT(1)
  FW_EVENT(OnFrameChanged, OnFrameChanged)
  FW_EVENT(OnStart, OnStart)
  FW_EVENT(OnStop, OnStop)
FW_END_CLASS
// clang-format on

namespace {
// The image lock for a scope.
class TImageLock {
 public:
  explicit TImageLock(TQvImageControl* c) : c_(c) { c_->EnterImageLock(); }
  ~TImageLock() { c_->LeaveImageLock(); }
  TImageLock(const TImageLock&) = delete;
  TImageLock& operator=(const TImageLock&) = delete;

 private:
  TQvImageControl* c_;
};
}  // namespace

// --- TQvImageControl ---------------------------------------------------------------------------

TQvImageControl::TQvImageControl(TComponent* owner) : TGraphicControl(owner), lock_(New<TCriticalSection>()) {
  ControlStyle.Include(csCaptureMouse);
  ControlStyle.Include(csClickEvents);
  ControlStyle.Include(csOpaque);
  ControlStyle.Include(csDoubleClicks);
  ControlStyle.Include(csReplicatable);
  SetBounds(GetLeft(), GetTop(), 105, 105);
  SetParentColor(true);
}

void TQvImageControl::Destroy() {
  inherited::Destroy();
  FreeOffScreen();
  FreeAndNil(lock_);
}

HDC TQvImageControl::OffScreen(int width, int height) {
  if (offScreenDc_ && offScreenWidth_ == width && offScreenHeight_ == height) return offScreenDc_;
  FreeOffScreen();
  HDC screen = GetDC(nullptr);
  if (!screen) return nullptr;
  HBITMAP bmp = CreateCompatibleBitmap(screen, width, height);
  HDC mem = CreateCompatibleDC(screen);
  ReleaseDC(nullptr, screen);
  if (!bmp || !mem) {
    if (mem) DeleteDC(mem);
    if (bmp) DeleteObject(bmp);
    return nullptr;
  }
  offScreenOld_ = SelectObject(mem, bmp);
  offScreenDc_ = mem;
  offScreenBitmap_ = bmp;
  offScreenWidth_ = width;
  offScreenHeight_ = height;
  return mem;
}

void TQvImageControl::FreeOffScreen() noexcept {
  if (!offScreenDc_) return;
  SelectObject(offScreenDc_, offScreenOld_);
  DeleteDC(offScreenDc_);
  DeleteObject(offScreenBitmap_);
  offScreenDc_ = nullptr;
  offScreenBitmap_ = nullptr;
  offScreenOld_ = nullptr;
  offScreenWidth_ = offScreenHeight_ = 0;
}

void TQvImageControl::SetParent(TWinControl* parent) {
  // A step on the timer thread reads the parent under the image lock.
  TImageLock hold(this);
  inherited::SetParent(parent);
}

void TQvImageControl::Dispatch(TMessage& msg) {
  if (msg.Msg != WM_PAINT) {
    inherited::Dispatch(msg);
    return;
  }
  if (bufferedPaint_) {
    inherited::Dispatch(msg);
    return;
  }
  if (!msg.WParam) return;
  // Image lock before canvas lock, as a step takes them.
  TImageLock hold(this);
  Canvas()->Lock();
  TScopeExit unlock([this]() noexcept { Canvas()->Unlock(); });
  const HDC target = reinterpret_cast<HDC>(msg.WParam);
  const int w = ClientWidth(), h = ClientHeight();
  if (w <= 0 || h <= 0) return;
  HDC mem = OffScreen(w, h);
  if (!mem) return;
  // The context is kept for the next paint, as it was made: every change of
  // its state below is undone.
  const int saved = SaveDC(mem);
  TScopeExit restore([mem, saved]() noexcept { RestoreDC(mem, saved); });
  bufferedPaint_ = true;
  {
    TScopeExit done([&]() noexcept {
      bufferedPaint_ = false;
      msg.WParam = reinterpret_cast<WPARAM>(target);
    });
    msg.WParam = reinterpret_cast<WPARAM>(mem);
    Dispatch(msg);
  }
  BitBlt(target, 0, 0, w, h, mem, 0, 0, SRCCOPY);
}

void TQvImageControl::PaintBackgroundAndFrame() {
  RECT r = ClientRect();
  FillRectColor(Canvas()->Handle(), r, GetColor());
  const bool was = drawing_;
  drawing_ = true;
  TScopeExit restore([this, was]() noexcept { drawing_ = was; });
  DrawCurrentFrame();
}

void TQvImageControl::PaintFromAnyThread() {
  if (IsMainThread()) {
    Repaint();
    return;
  }
  TWinControl* parent = Parent();
  if (!parent || !parent->HandleAllocated()) return;
  HWND wnd = parent->WindowHandle();
  HDC dc = GetDC(wnd);
  if (!dc) return;
  TScopeExit release([wnd, dc]() noexcept { ReleaseDC(wnd, dc); });
  IntersectClipRect(dc, GetLeft(), GetTop(), GetLeft() + GetWidth(), GetTop() + GetHeight());
  SetWindowOrgEx(dc, -GetLeft(), -GetTop(), nullptr);
  Perform(WM_PAINT, reinterpret_cast<WPARAM>(dc));
}

bool TQvImageControl::RealizeImagePalette() {
  if (!GetVisible() || IsLoading() || ComponentState().Contains(csReading) || !picture_ ||
      !picture_->GetPaletteModified())
    return false;
  if (!GetPalette()) {
    picture_->SetPaletteModified(false);
    return false;
  }
  TCustomForm* form = GetParentForm(this);
  if (!form || !form->Active() || !form->HandleAllocated()) return false;
  if (drawing_)
    SendMessageA(form->WindowHandle(), WM_QUERYNEWPALETTE, 0, 0);
  else
    PostMessageA(form->WindowHandle(), WM_QUERYNEWPALETTE, 0, 0);
  picture_->SetPaletteModified(false);
  return true;
}

void TQvImageControl::ImageUpdated() {
  if (ComponentState().Contains(csDestroying)) return;
  AdjustSize();
  if (picture_ && RealizeImagePalette() && drawing_) Update();
  if (!drawing_) Invalidate();
}

// --- TAnimatedImage ----------------------------------------------------------------------------

TAnimatedImage::TAnimatedImage(TComponent* owner) : TQvImageControl(owner) {
  timer_ = New<TQvTimer>(this);
  timer_->SetEnabled(false);
  timer_->SetInterval(100);
  SetAutoSize(true);
  glyph_ = New<TBitmap>();
  glyph_->OnChange = TNotifyEvent::Bind<&TAnimatedImage::GlyphChanged>(this);
  picture_ = glyph_;
}

void TAnimatedImage::Destroy() {
  OnFrameChanged = TNotifyEvent();
  OnStart = TNotifyEvent();
  OnStop = TNotifyEvent();
  glyph_->OnChange = TNotifyEvent();
  SetActive(false);
  // The timer's thread ends before anything it may draw with goes away; a
  // step under way still reaches the timer until Free has waited for it.
  timer_->Free();
  timer_ = nullptr;
  picture_ = nullptr;
  FreeAndNil(glyph_);
  maskScratch_.Free();
  inherited::Destroy();
}

void TAnimatedImage::Loaded() {
  inherited::Loaded();
  {
    TImageLock hold(this);
    ComputeFrameSize(state_, glyph_->GetWidth(), glyph_->GetHeight());
    ShowInactive();
  }
  AdjustSize();
}

bool TAnimatedImage::CanAutoSize(int& newWidth, int& newHeight) {
  if (ComponentState().Contains(csDesigning) || state_.FrameWidth <= 0 || state_.FrameHeight <= 0) return true;
  const TAlign a = GetAlign();
  if (a == alNone || a == alLeft || a == alRight) newWidth = state_.FrameWidth;
  if (a == alNone || a == alTop || a == alBottom) newHeight = state_.FrameHeight;
  return true;
}

void TAnimatedImage::AdjustSize() {
  if (ComponentState().Contains(csReading) || IsLoading() || !GetAutoSize()) return;
  if (state_.FrameWidth > 0 && state_.FrameHeight > 0)
    SetBounds(GetLeft(), GetTop(), state_.FrameWidth, state_.FrameHeight);
}

void TAnimatedImage::Paint(HDC) {
  PaintBackgroundAndFrame();
  if (!(opaque_ && !glyph_->Empty()) && ComponentState().Contains(csDesigning)) {
    TCanvas* c = Canvas();
    c->Pen()->SetStyle(psDash);
    c->Brush()->SetStyle(bsClear);
    c->Rectangle(0, 0, GetWidth(), GetHeight());
  }
}

void TAnimatedImage::DrawCurrentFrame() {
  const int index = FrameToDraw(state_, active_);
  if (!opaque_) PaintParentBackground(this, Canvas());
  if (state_.FrameWidth <= 0 || state_.FrameHeight <= 0) return;
  const TFrameRect src = FrameSource(state_, index);
  const TFrameRect dst = FrameDestination(state_, ClientWidth(), ClientHeight(), stretch_, center_);
  const RECT source{src.Left, src.Top, src.Left + src.Width, src.Top + src.Height};
  DrawBitmapRectTransparent(Canvas(), dst.Left, dst.Top, dst.Width, dst.Height, source, glyph_, transparentColor_,
                            &maskScratch_);
}

HPALETTE TAnimatedImage::GetPalette() {
  return glyph_->Empty() ? nullptr : glyph_->Palette();
}

void TAnimatedImage::NotifyFrameChanged() {
  if (OnFrameChanged) OnFrameChanged(this);
}
void TAnimatedImage::NotifyStart() {
  if (OnStart && !ComponentState().Contains(csReading)) OnStart(this);
}
void TAnimatedImage::NotifyStop() {
  if (OnStop && !ComponentState().Contains(csReading)) OnStop(this);
}

void TAnimatedImage::SetActive(bool v) {
  if (active_ == v) return;
  if (v) {
    timer_->SetOnTimer(TNotifyEvent::Bind<&TAnimatedImage::StepFrame>(this));
    timer_->SetEnabled(true);
    active_ = timer_->GetEnabled();
    NotifyStart();
    return;
  }
  timer_->SetEnabled(false);
  timer_->SetOnTimer(TNotifyEvent());
  {
    TImageLock hold(this);
    active_ = false;
    ShowInactive();
  }
  NotifyFrameChanged();
  NotifyStop();
  ImageUpdated();
}

void TAnimatedImage::SetAsyncDrawing(bool v) {
  if (asyncDrawing_ == v) return;
  TImageLock hold(this);
  if (v) PatchBitmapDraw();
  timer_->SetSyncEvent(!v);
  asyncDrawing_ = v;
}

void TAnimatedImage::SetCenter(bool v) {
  if (center_ == v) return;
  {
    TImageLock hold(this);
    center_ = v;
  }
  ImageUpdated();
  if (active_) Repaint();
}

void TAnimatedImage::SetStretch(bool v) {
  if (stretch_ == v) return;
  {
    TImageLock hold(this);
    stretch_ = v;
  }
  ImageUpdated();
  if (active_) Repaint();
}

void TAnimatedImage::SetOpaque(bool v) {
  if (opaque_ == v) return;
  {
    TImageLock hold(this);
    opaque_ = v;
  }
  ImageUpdated();
}

void TAnimatedImage::SetTransparentColor(TColor v) {
  if (transparentColor_ == v) return;
  {
    TImageLock hold(this);
    transparentColor_ = v;
  }
  ImageUpdated();
}

bool TAnimatedImage::IsTransparentColorStored() const {
  if (glyph_->Empty()) return transparentColor_ != clNone;
  return transparentColor_ != (glyph_->GetTransparentColor() & ~0x02000000);
}

void TAnimatedImage::SetOrientation(TGlyphOrientation v) {
  if (GetOrientation() == v) return;
  {
    TImageLock hold(this);
    state_.Vertical = v == goVertical;
  }
  GlyphChanged(nullptr);
}

void TAnimatedImage::SetGlyph(TBitmap* v) {
  TImageLock hold(this);
  glyph_->Assign(v);  // the strip's change event runs GlyphChanged
}

void TAnimatedImage::ApplyStrip() {
  CountFramesFromStrip(state_, glyph_->GetWidth(), glyph_->GetHeight());
}

void TAnimatedImage::GlyphChanged(TObject*) {
  {
    TImageLock hold(this);
    transparentColor_ = glyph_->GetTransparentColor() & ~0x02000000;
    ApplyStrip();
  }
  ImageUpdated();
}

void TAnimatedImage::SetGlyphNum(int v) {
  {
    TImageLock hold(this);
    if (!::SetGlyphNum(state_, v, active_)) return;
  }
  NotifyFrameChanged();
  ImageUpdated();
}

void TAnimatedImage::SetInactiveGlyph(int v) {
  {
    TImageLock hold(this);
    if (!::SetInactiveGlyph(state_, v, active_, IsLoading() || ComponentState().Contains(csReading))) return;
  }
  NotifyFrameChanged();
  ImageUpdated();
}

void TAnimatedImage::SetNumGlyphs(int v) {
  {
    TImageLock hold(this);
    ::SetNumGlyphs(state_, v, active_, glyph_->GetWidth(), glyph_->GetHeight());
  }
  NotifyFrameChanged();
  ImageUpdated();
}

void TAnimatedImage::StepFrame(TObject* sender) {
  auto* timer = static_cast<TQvTimer*>(sender);
  bool notifyOnMainThread;
  {
    TImageLock hold(this);
    TWinControl* parent = Parent();
    if (ControlState.Contains(csPaintCopy) || !GetVisible() || state_.NumGlyphs <= 1 || !parent ||
        !parent->HandleAllocated())
      return;
    state_.GlyphNum = NextFrame(state_);
    notifyOnMainThread = asyncDrawing_ && OnFrameChanged;
  }
  // No lock is held while the main thread is waited for: it may be painting or
  // writing a property, and would wait for this step in turn.
  if (notifyOnMainThread)
    timer->CallSynchronized([this] { NotifyFrameChanged(); });
  else
    NotifyFrameChanged();
  TImageLock hold(this);
  Canvas()->Lock();
  timerRepaint_ = true;
  TScopeExit done([this]() noexcept {
    timerRepaint_ = false;
    Canvas()->Unlock();
  });
  PaintFromAnyThread();
}

// --- Locked bitmap drawing ---------------------------------------------------------------------

void PatchBitmapDraw() {
  SetLockedBitmapDraw(true);
}

void RegisterAnimateClasses() {
  RegisterClasses({&TAnimatedImage::StaticClass()});
}
