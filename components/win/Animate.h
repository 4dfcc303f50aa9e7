// Animate: TQvImageControl, a graphic control that paints through an
// off-screen bitmap and guards its drawing state with a lock of its own, and
// TAnimatedImage, which shows one frame of a strip held in one bitmap and
// steps through the frames on a TQvTimer.
//
// Locks: the image lock (the control's own, re-entrant) guards the frame
// state against the property writers; the canvas lock serialises drawing.
// They are always taken in that order, by the main thread's painting too, and
// neither is held while a step waits for the main thread. With AsyncDrawing
// the frames are stepped and drawn on the timer thread; OnFrameChanged still
// runs on the main thread.
#pragma once

#include <windows.h>

#include "AnimateFrames.h"
#include "Controls.h"
#include "DrawUtils.h"
#include "Graphics.h"
#include "QvTimer.h"
#include "Thread.h"

class TQvImageControl : public TGraphicControl {
  FW_CLASS(TQvImageControl, TGraphicControl)
 public:
  explicit TQvImageControl(TComponent* owner);
  void Destroy() override;
  void Dispatch(TMessage& msg) override;
  void SetParent(TWinControl* parent) override;

  void EnterImageLock() { lock_->Acquire(); }
  void LeaveImageLock() { lock_->Release(); }

 protected:
  virtual void DrawCurrentFrame() = 0;
  virtual HPALETTE GetPalette() { return nullptr; }
  // Fills the client area with Color and draws the current frame.
  void PaintBackgroundAndFrame();
  // On the main thread a repaint; elsewhere the control paints itself into its parent's window.
  void PaintFromAnyThread();
  // After a change of picture or drawing option: re-sizes and repaints.
  void ImageUpdated();
  bool RealizeImagePalette();
  bool Drawing() const { return drawing_; }
  TBitmap* picture_ = nullptr;  // not owned

 private:
  // The off-screen context of the client size with its bitmap, made on the
  // first paint and kept for the next ones (a frame step paints ten times a
  // second); made again when the size changes. Used under both locks.
  HDC OffScreen(int width, int height);
  void FreeOffScreen() noexcept;

  TCriticalSection* lock_ = nullptr;
  bool drawing_ = false;
  bool bufferedPaint_ = false;
  HDC offScreenDc_ = nullptr;
  HBITMAP offScreenBitmap_ = nullptr;
  HGDIOBJ offScreenOld_ = nullptr;
  int offScreenWidth_ = 0, offScreenHeight_ = 0;
};

FW_ENUM(TGlyphOrientation, goHorizontal, goVertical);

class TAnimatedImage : public TQvImageControl {
  FW_CLASS(TAnimatedImage, TQvImageControl)
 public:
  explicit TAnimatedImage(TComponent* owner);
  void Destroy() override;
  void Loaded() override;
  bool CanAutoSize(int& newWidth, int& newHeight) override;
  void AdjustSize() override;
  void Paint(HDC dc) override;

  bool GetActive() const { return active_; }
  void SetActive(bool v);
  bool GetAsyncDrawing() const { return asyncDrawing_; }
  void SetAsyncDrawing(bool v);
  bool GetCenter() const { return center_; }
  void SetCenter(bool v);
  bool GetStretch() const { return stretch_; }
  void SetStretch(bool v);
  bool GetOpaque() const { return opaque_; }
  void SetOpaque(bool v);
  TGlyphOrientation GetOrientation() const { return state_.Vertical ? goVertical : goHorizontal; }
  void SetOrientation(TGlyphOrientation v);
  TBitmap* GetGlyph() const { return glyph_; }
  void SetGlyph(TBitmap* v);  // copies it
  int GetGlyphNum() const { return state_.GlyphNum; }
  void SetGlyphNum(int v);
  int GetNumGlyphs() const { return state_.NumGlyphs; }
  void SetNumGlyphs(int v);
  int GetInactiveGlyph() const { return state_.InactiveGlyph; }
  void SetInactiveGlyph(int v);
  unsigned GetInterval() const { return timer_ ? timer_->GetInterval() : 0; }
  void SetInterval(unsigned v) { timer_->SetInterval(v); }
  TColor GetTransparentColor() const { return transparentColor_; }
  void SetTransparentColor(TColor v);
  bool IsTransparentColorStored() const;
  int FrameWidth() const { return state_.FrameWidth; }
  int FrameHeight() const { return state_.FrameHeight; }
  TQvTimer* Timer() const { return timer_; }

  TNotifyEvent OnFrameChanged, OnStart, OnStop;

 protected:
  void DrawCurrentFrame() override;
  HPALETTE GetPalette() override;
  virtual void NotifyFrameChanged();
  virtual void NotifyStart();
  virtual void NotifyStop();

 private:
  void StepFrame(TObject*);  // the timer's event
  void GlyphChanged(TObject*);
  void ApplyStrip();  // CountFramesFromStrip for the current strip
  void ShowInactive() { ShowInactiveFrame(state_, active_); }

  TFrameState state_;
  TMaskScratch maskScratch_;  // the transparent drawing's work contexts, kept from frame to frame
  TBitmap* glyph_ = nullptr;
  TQvTimer* timer_ = nullptr;
  bool active_ = false, asyncDrawing_ = false, center_ = false, stretch_ = true, opaque_ = false;
  bool timerRepaint_ = false;
  TColor transparentColor_ = clNone;
};

// Makes every drawing of a plain TBitmap hold the bitmap's canvas lock (for
// strips drawn from a timer thread); once per process, never undone.
void PatchBitmapDraw();

void RegisterAnimateClasses();
