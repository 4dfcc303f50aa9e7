#include "DrawUtils.h"

#include "Dialogs.h"
#include "Forms.h"
#include "ResStrings.h"
#include "Scope.h"

namespace {

// Saves the context's state and moves its origin to (x, y), clipped to a
// width x height area there; restored when it goes out of scope.
class TPaintOrigin {
 public:
  TPaintOrigin(HDC dc, int x, int y, int width, int height) : dc_(dc), saved_(SaveDC(dc)) {
    POINT org;
    GetViewportOrgEx(dc, &org);
    SetViewportOrgEx(dc, org.x + x, org.y + y, nullptr);
    IntersectClipRect(dc, 0, 0, width, height);
  }
  ~TPaintOrigin() { RestoreDC(dc_, saved_); }
  TPaintOrigin(const TPaintOrigin&) = delete;
  TPaintOrigin& operator=(const TPaintOrigin&) = delete;

 private:
  HDC dc_;
  int saved_;
};

}  // namespace

void PaintParentBackground(TControl* control, TCanvas* canvas) {
  if (!control || !canvas) return;
  TWinControl* parent = control->Parent();
  if (!parent) return;
  HDC dc = canvas->Handle();
  parent->ControlState.Include(csPaintCopy);
  TScopeExit clear([parent]() noexcept { parent->ControlState.Exclude(csPaintCopy); });
  const RECT bounds = control->BoundsRect();
  const int dx = -bounds.left, dy = -bounds.top;
  {
    TPaintOrigin origin(dc, dx, dy, parent->ClientWidth(), parent->ClientHeight());
    parent->Perform(WM_ERASEBKGND, reinterpret_cast<WPARAM>(dc));
    parent->PaintWindow(dc);
  }
  for (int i = 0; i < parent->ControlCount(); ++i) {
    TControl* sibling = parent->Controls(i);
    if (sibling == control) break;
    if (!sibling->Is<TGraphicControl>() || !sibling->GetVisible()) continue;
    RECT r = sibling->BoundsRect(), overlap;
    if (!IntersectRect(&overlap, &r, &bounds)) continue;
    sibling->ControlState.Include(csPaintCopy);
    TScopeExit clearSibling([sibling]() noexcept { sibling->ControlState.Exclude(csPaintCopy); });
    TPaintOrigin origin(dc, r.left + dx, r.top + dy, sibling->GetWidth(), sibling->GetHeight());
    sibling->Perform(WM_PAINT, reinterpret_cast<WPARAM>(dc));
  }
}

COLORREF MaskBackgroundColor(TColor color) {
  return ColorToRGB(color) | 0x02000000;
}

namespace {

// The bits a pixel of the bitmap selected into `dc` (a memory context), else of its device.
int DestinationBits(HDC dc) {
  BITMAP bm{};
  if (HGDIOBJ bitmap = GetCurrentObject(dc, OBJ_BITMAP); bitmap && GetObjectA(bitmap, sizeof bm, &bm) == sizeof bm)
    return bm.bmBitsPixel * bm.bmPlanes;
  return GetDeviceCaps(dc, BITSPIXEL) * GetDeviceCaps(dc, PLANES);
}

}  // namespace

void TMaskScratch::Free() noexcept {
  for (Context* c : {&invMask_, &mask_, &work_, &copy_}) {
    if (c->dc) {
      SelectObject(c->dc, c->old);
      DeleteDC(c->dc);
    }
    if (c->bitmap) DeleteObject(c->bitmap);
    *c = Context{};
  }
  width_ = height_ = srcWidth_ = srcHeight_ = destBits_ = 0;
}

void TMaskScratch::Fit(HDC dest, int width, int height, int srcWidth, int srcHeight) {
  const int bits = DestinationBits(dest);
  if (work_.dc && width == width_ && height == height_ && srcWidth == srcWidth_ && srcHeight == srcHeight_ &&
      bits == destBits_)
    return;
  Free();
  auto make = [dest](Context& c, HBITMAP bitmap) {
    c.dc = CreateCompatibleDC(dest);
    c.bitmap = bitmap;
    c.old = SelectObject(c.dc, c.bitmap);
  };
  make(invMask_, CreateBitmap(srcWidth, srcHeight, 1, 1, nullptr));
  make(mask_, CreateBitmap(srcWidth, srcHeight, 1, 1, nullptr));
  make(work_, CreateCompatibleBitmap(dest, width, height));
  make(copy_, CreateCompatibleBitmap(dest, srcWidth, srcHeight));
  width_ = width;
  height_ = height;
  srcWidth_ = srcWidth;
  srcHeight_ = srcHeight;
  destBits_ = bits;
}

void MaskedStretchBlt(HDC dest, int left, int top, int width, int height, HDC source, int srcLeft, int srcTop,
                      int srcWidth, int srcHeight, HPALETTE palette, TColor maskColor, TMaskScratch* scratch) {
  TMaskScratch own;
  TMaskScratch& set = scratch ? *scratch : own;
  set.Fit(dest, width, height, srcWidth, srcHeight);
  HDC invMaskDc = set.invMask_.dc, maskDc = set.mask_.dc, workDc = set.work_.dc, copyDc = set.copy_.dc;
  // Each context goes back to the state it was made in.
  const int savedInv = SaveDC(invMaskDc), savedMask = SaveDC(maskDc);
  const int savedWork = SaveDC(workDc), savedCopy = SaveDC(copyDc);
  HPALETTE oldDestPal = nullptr;
  TScopeExit cleanup([&]() noexcept {
    if (palette) SelectPalette(dest, oldDestPal, TRUE);
    RestoreDC(invMaskDc, savedInv);
    RestoreDC(maskDc, savedMask);
    RestoreDC(workDc, savedWork);
    RestoreDC(copyDc, savedCopy);
  });
  if (palette) {
    oldDestPal = SelectPalette(dest, palette, TRUE);
    RealizePalette(dest);
    SelectPalette(copyDc, palette, FALSE);
    RealizePalette(copyDc);
    SelectPalette(maskDc, palette, FALSE);
    RealizePalette(maskDc);
    SelectPalette(workDc, palette, TRUE);
    RealizePalette(workDc);
  }
  SetMapMode(source, GetMapMode(dest));
  SetMapMode(copyDc, GetMapMode(dest));
  BitBlt(copyDc, 0, 0, srcWidth, srcHeight, source, srcLeft, srcTop, SRCCOPY);
  // Pixels of the mask colour become white in the mask, all others black.
  const COLORREF oldBack = SetBkColor(copyDc, MaskBackgroundColor(maskColor));
  BitBlt(maskDc, 0, 0, srcWidth, srcHeight, copyDc, 0, 0, SRCCOPY);
  SetBkColor(copyDc, oldBack);
  BitBlt(invMaskDc, 0, 0, srcWidth, srcHeight, maskDc, 0, 0, NOTSRCCOPY);
  // Monochrome sources take the contexts' text (black) and background (white) colours.
  SetTextColor(workDc, RGB(0, 0, 0));
  SetBkColor(workDc, RGB(255, 255, 255));
  SetTextColor(copyDc, RGB(0, 0, 0));
  SetBkColor(copyDc, RGB(255, 255, 255));
  BitBlt(workDc, 0, 0, width, height, dest, left, top, SRCCOPY);
  StretchBlt(workDc, 0, 0, width, height, maskDc, 0, 0, srcWidth, srcHeight, SRCAND);
  BitBlt(copyDc, 0, 0, srcWidth, srcHeight, invMaskDc, 0, 0, SRCAND);
  StretchBlt(workDc, 0, 0, width, height, copyDc, 0, 0, srcWidth, srcHeight, SRCPAINT);
  BitBlt(dest, left, top, width, height, workDc, 0, 0, SRCCOPY);
}

void DrawBitmapTransparent(TCanvas* dest, TBitmap* bitmap, TColor transparentColor, int left, int top, int width,
                           int height, int srcLeft, int srcTop, int srcWidth, int srcHeight, TMaskScratch* scratch) {
  if (!dest || !bitmap || bitmap->Empty()) return;
  if (width < 1) width = bitmap->GetWidth();
  if (height < 1) height = bitmap->GetHeight();
  if (srcWidth < 1 || srcHeight < 1) {
    srcLeft = srcTop = 0;
    srcWidth = bitmap->GetWidth();
    srcHeight = bitmap->GetHeight();
  }
  HDC dc = dest->Handle();
  const bool mono = bitmap->GetMonochrome();
  if (!mono) SetStretchBltMode(dc, STRETCH_DELETESCANS);
  TCanvas* source = bitmap->Canvas();
  source->Lock();
  const TNotifyEvent onChange = bitmap->OnChange;
  bitmap->OnChange = TNotifyEvent();
  TScopeExit restore([&]() noexcept {
    bitmap->OnChange = onChange;
    source->Unlock();
  });
  // Read before the bitmap's context is made: it may bring the pixels up to date.
  TColor mask = transparentColor;
  if (mask != clNone) {
    if (mask == clDefault) mask = bitmap->GetTransparentColor();
    if (mono) mask = clWhite;
  }
  HPALETTE palette = bitmap->Palette();
  HDC src = source->Handle();
  if (mask == clNone) {
    StretchBlt(dc, left, top, width, height, src, srcLeft, srcTop, srcWidth, srcHeight, SRCCOPY);
    return;
  }
  MaskedStretchBlt(dc, left, top, width, height, src, srcLeft, srcTop, srcWidth, srcHeight, palette, mask, scratch);
}

void DrawBitmapRectTransparent(TCanvas* dest, int left, int top, int width, int height, const RECT& source,
                               TBitmap* bitmap, TColor transparentColor, TMaskScratch* scratch) {
  DrawBitmapTransparent(dest, bitmap, transparentColor, left, top, width, height, source.left, source.top,
                        source.right - source.left, source.bottom - source.top, scratch);
}

namespace {
struct TActiveSearch {
  HWND active;
  bool found;
};

BOOL CALLBACK FindActiveWindow(HWND wnd, LPARAM param) {
  auto* search = reinterpret_cast<TActiveSearch*>(param);
  if (wnd != search->active) return TRUE;
  search->found = true;
  return FALSE;
}
}  // namespace

bool IsActiveWindowOwnThread() {
  TActiveSearch search{GetActiveWindow(), false};
  if (!search.active) return false;
  EnumThreadWindows(GetCurrentThreadId(), &FindActiveWindow, reinterpret_cast<LPARAM>(&search));
  return search.found;
}

void ReportNotImplemented() {
  if (Screen) Screen->SetCursor(crDefault);
  MessageDlg(LoadResString(SFunctionNotImplemented), mtInformation, TMsgDlgButtons{mbOK}, 0);
  Abort();
}

void* AllocZeroedBlock(std::ptrdiff_t size) {
  if (size <= 0) return nullptr;
  HGLOBAL h = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, static_cast<SIZE_T>(size));
  if (!h) return nullptr;
  return GlobalLock(h);
}

void ReleaseBlock(void*& block) {
  if (!block) return;
  HGLOBAL h = GlobalHandle(block);
  block = nullptr;
  if (!h) return;
  GlobalUnlock(h);
  GlobalFree(h);
}
