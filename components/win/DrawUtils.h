// The component library's drawing routines: painting what lies behind a
// non-windowed control into a canvas, stretching a bitmap (or a rectangle of
// it) while leaving one colour out, the active-window check, the report for
// functions not yet implemented, and zero-filled global memory blocks.
#pragma once

#include <windows.h>

#include "Controls.h"
#include "Graphics.h"
#include "MemoryBlocks.h"
#include "ResStrings.h"

// Paints the control's parent (its background and its own painting) and the
// earlier visible graphic siblings that overlap the control into `canvas`, in
// the control's coordinates. Nothing without a control or a parent.
void PaintParentBackground(TControl* control, TCanvas* canvas);

// The four work contexts of MaskedStretchBlt with their bitmaps (the mask,
// the inverted mask, the destination's area and the source's copy), kept from
// one call to the next by a caller that draws the same sizes again and again
// (an animation's frames): they are made again only when a size or the
// destination's format changes. Every call leaves them in the state they were
// made in, and overwrites their pixels before reading them, so a kept set
// draws exactly as a new one. One user at a time.
class TMaskScratch {
 public:
  TMaskScratch() = default;
  ~TMaskScratch() { Free(); }
  TMaskScratch(const TMaskScratch&) = delete;
  TMaskScratch& operator=(const TMaskScratch&) = delete;
  void Free() noexcept;

 private:
  friend void MaskedStretchBlt(HDC, int, int, int, int, HDC, int, int, int, int, HPALETTE, TColor, TMaskScratch*);
  // Makes (or keeps) the set for these sizes and this destination.
  void Fit(HDC dest, int width, int height, int srcWidth, int srcHeight);

  struct Context {
    HDC dc = nullptr;
    HBITMAP bitmap = nullptr;
    HGDIOBJ old = nullptr;
  };
  Context invMask_, mask_, work_, copy_;
  int width_ = 0, height_ = 0, srcWidth_ = 0, srcHeight_ = 0, destBits_ = 0;
};

// Draws the source rectangle of `bitmap` stretched to the destination,
// leaving out `transparentColor` (clNone: opaque; clDefault: the bitmap's
// bottom-left pixel; a monochrome bitmap leaves out white). A destination
// size below 1 takes the bitmap's; a source size below 1 takes the whole bitmap.
// With `scratch` the work contexts are kept there between calls.
void DrawBitmapTransparent(TCanvas* dest, TBitmap* bitmap, TColor transparentColor, int left, int top, int width,
                           int height, int srcLeft, int srcTop, int srcWidth, int srcHeight,
                           TMaskScratch* scratch = nullptr);
void DrawBitmapRectTransparent(TCanvas* dest, int left, int top, int width, int height, const RECT& source,
                               TBitmap* bitmap, TColor transparentColor, TMaskScratch* scratch = nullptr);
// Stretches the source rectangle onto the destination, leaving out the pixels of `maskColor`.
void MaskedStretchBlt(HDC dest, int left, int top, int width, int height, HDC source, int srcLeft, int srcTop,
                      int srcWidth, int srcHeight, HPALETTE palette, TColor maskColor, TMaskScratch* scratch = nullptr);
// The colour as the mask is made from it: RGB with the palette-relative bit.
COLORREF MaskBackgroundColor(TColor color);

// True when the active window is a top-level window of the calling thread.
bool IsActiveWindowOwnThread();

// Shows "Function not yet implemented" (resource string 61257) and aborts silently (EAbort).
[[noreturn]] void ReportNotImplemented();
constexpr ResString SFunctionNotImplemented{61257, 0, "Function not yet implemented"};

// A zero-filled global memory block; null for a size of 0 or less (or when memory is short).
void* AllocZeroedBlock(std::ptrdiff_t size);
// Frees the block when set and clears the variable.
void ReleaseBlock(void*& block);
