#include "VirtualTreeDragImage.h"

#include <shlobj.h>

#include <algorithm>
#include <vector>

#include "VirtualTreesWin.h"

namespace {

// The system's drag-image service: its class and the source-side interface.
constexpr CLSID kDragDropHelperClass = {0x4657278A, 0x411B, 0x11D2, {0x83, 0x9A, 0x00, 0xC0, 0x4F, 0xD9, 0x18, 0xD0}};
constexpr IID kDragSourceHelperInterface = {
    0xDE5BF786, 0x477A, 0x11D2, {0x83, 0x9D, 0x00, 0xC0, 0x4F, 0xD9, 0x18, 0xD0}};

// The screen's DC for one drawing, released however the drawing ends.
class ScreenDC {
 public:
  ScreenDC() : dc_(GetDC(nullptr)) {}
  ~ScreenDC() {
    if (dc_) ReleaseDC(nullptr, dc_);
  }
  ScreenDC(const ScreenDC&) = delete;
  ScreenDC& operator=(const ScreenDC&) = delete;
  HDC Get() const { return dc_; }

 private:
  HDC dc_;
};

}  // namespace

FW_IMPLEMENT_CLASS(TVTDragImage)

bool TVTDragImage::Surface::Create(int width, int height) {
  Free();
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof info.bmiHeader;
  info.bmiHeader.biWidth = width;
  info.bmiHeader.biHeight = -height;
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  DC = CreateCompatibleDC(nullptr);
  if (!DC) return false;
  void* bits = nullptr;
  Bitmap = CreateDIBSection(DC, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  if (!Bitmap) {
    Free();
    return false;
  }
  Bits = static_cast<std::uint32_t*>(bits);
  Old = SelectObject(DC, Bitmap);
  return true;
}

void TVTDragImage::Surface::Free() {
  if (DC && Old) SelectObject(DC, Old);
  if (Bitmap) DeleteObject(Bitmap);
  if (DC) DeleteDC(DC);
  *this = Surface{};
}

TVTDragImage::TVTDragImage(TBaseVirtualTree* owner) : owner_(owner) {}

TVTDragImage::~TVTDragImage() {
  FreeSurfaces();
}

void TVTDragImage::Destroy() {
  FinishDrag();
  inherited::Destroy();
}

void TVTDragImage::FreeSurfaces() {
  drag_.Free();
  alpha_.Free();
  back_.Free();
}

bool TVTDragImage::TrySystemService(HBITMAP picture, int width, int height, IDataObject* dataObject) {
  IDragSourceHelper* helper = nullptr;
  if (FAILED(CoCreateInstance(kDragDropHelperClass, nullptr, CLSCTX_INPROC_SERVER, kDragSourceHelperInterface,
                              reinterpret_cast<void**>(&helper))) ||
      !helper)
    return false;
  SHDRAGIMAGE image{};
  image.sizeDragImage = SIZE{width, height};
  image.ptOffset = POINT{width / 2, height / 2};
  image.hbmpDragImage = static_cast<HBITMAP>(CopyImage(picture, IMAGE_BITMAP, 0, 0, 0));
  image.crColorKey = ColorKey == clNone ? CLR_NONE : ColorToRGB(ColorKey);
  const bool taken = image.hbmpDragImage && SUCCEEDED(helper->InitializeFromBitmap(&image, dataObject));
  if (!taken && image.hbmpDragImage) DeleteObject(image.hbmpDragImage);
  helper->Release();
  return taken;
}

void TVTDragImage::PrepareDrag(HBITMAP picture, POINT imagePosition, IDataObject* dataObject, POINT hotSpot) {
  FinishDrag();
  BITMAP info{};
  if (!picture || !GetObject(picture, sizeof info, &info) || info.bmWidth <= 0 || info.bmHeight <= 0) return;
  const int width = info.bmWidth, height = info.bmHeight;
  model_.States &= std::uint8_t(~kDragImageSystemSupport);
  if (dataObject && TrySystemService(picture, width, height, dataObject)) model_.States |= kDragImageSystemSupport;
  if (!MMXAvailable() || (model_.States & kDragImageSystemSupport)) return;

  if (!drag_.Create(width, height) || !alpha_.Create(width, height) || !back_.Create(width, height)) {
    FreeSurfaces();
    return;
  }
  // The picture as it is (its own pixels decide the colour key), then on the drag surface.
  HDC pictureDC = CreateCompatibleDC(nullptr);
  HGDIOBJ old = SelectObject(pictureDC, picture);
  BitBlt(alpha_.DC, 0, 0, width, height, pictureDC, 0, 0, SRCCOPY);
  SelectObject(pictureDC, old);
  DeleteDC(pictureDC);
  GdiFlush();
  const std::size_t count = std::size_t(width) * std::size_t(height);
  std::vector<std::uint32_t> source(alpha_.Bits, alpha_.Bits + count);
  if (PreBlendBias != 0) {
    PatBlt(drag_.DC, 0, 0, width, height, BLACKNESS);
    AlphaBlendRect(alpha_.DC, drag_.DC, RECT{0, 0, width, height}, POINT{0, 0}, 0, 255, PreBlendBias);
  } else {
    BitBlt(drag_.DC, 0, 0, width, height, alpha_.DC, 0, 0, SRCCOPY);
  }
  GdiFlush();
  BuildDragImageAlpha(drag_.Bits, source.data(), width, height,
                      ColorKey == clNone ? kDragColorKeyNone : std::uint32_t(ColorToRGB(ColorKey)));
  model_.Restriction = MoveRestriction;
  model_.Prepare(width, height, imagePosition.x, imagePosition.y, hotSpot.x, hotSpot.y);
}

void TVTDragImage::Blend(HDC screen) {
  const int w = model_.Width, h = model_.Height;
  BitBlt(alpha_.DC, 0, 0, w, h, back_.DC, 0, 0, SRCCOPY);
  const int mode = Fade || ColorKey != clNone ? 2 : 0;
  AlphaBlendRect(drag_.DC, alpha_.DC, RECT{0, 0, w, h}, POINT{0, 0}, mode, Transparency, PostBlendBias);
  BitBlt(screen, model_.Left, model_.Top, w, h, alpha_.DC, 0, 0, SRCCOPY);
}

void TVTDragImage::ShowImage() {
  if (!model_.Show()) return;
  GdiFlush();
  ScreenDC screen;
  BitBlt(back_.DC, 0, 0, model_.Width, model_.Height, screen.Get(), model_.Left, model_.Top, SRCCOPY);
  Blend(screen.Get());
}

void TVTDragImage::HideImage() {
  if (!model_.Hide()) return;
  ScreenDC screen;
  BitBlt(screen.Get(), model_.Left, model_.Top, model_.Width, model_.Height, back_.DC, 0, 0, SRCCOPY);
}

bool TVTDragImage::DragTo(POINT screenPoint, bool force) {
  const int w = model_.Width, h = model_.Height;
  const TVTDragStep step = model_.DragTo(screenPoint.x, screenPoint.y, force);
  if (!step.Redraw) return step.Moved;
  ScreenDC screen;
  HDC dc = screen.Get();
  if (step.Full) {
    BitBlt(dc, step.OldLeft, step.OldTop, w, h, back_.DC, 0, 0, SRCCOPY);
    if (force && owner_ && owner_->HandleAllocated()) UpdateWindow(owner_->WindowHandle());
    BitBlt(back_.DC, 0, 0, w, h, dc, step.NewLeft, step.NewTop, SRCCOPY);
  } else {
    // The image moves by (mx, my); a point at old coordinates p is at p - (mx, my) in the new picture.
    const int mx = -step.Dx, my = -step.Dy;
    for (const TVTRect& r : step.Rects.Uncovered)
      if (!r.IsEmpty())
        BitBlt(dc, step.OldLeft + r.Left, step.OldTop + r.Top, r.Width(), r.Height(), back_.DC, r.Left, r.Top, SRCCOPY);
    const TVTRect& s = step.Rects.Scroll;
    if (!s.IsEmpty()) {
      BitBlt(alpha_.DC, 0, 0, w, h, back_.DC, 0, 0, SRCCOPY);
      BitBlt(back_.DC, s.Left - mx, s.Top - my, s.Width(), s.Height(), alpha_.DC, s.Left, s.Top, SRCCOPY);
    }
    for (const TVTRect& r : step.Rects.Covered)
      if (!r.IsEmpty())
        BitBlt(back_.DC, r.Left - mx, r.Top - my, r.Width(), r.Height(), dc, step.OldLeft + r.Left, step.OldTop + r.Top,
               SRCCOPY);
  }
  Blend(dc);
  return step.Moved;
}

void TVTDragImage::RecaptureBackground(TBaseVirtualTree* tree, const RECT& clientRect, HRGN clip, bool redraw,
                                       bool nonClient) {
  if (!Visible() || !tree || !tree->HandleAllocated()) return;
  HWND window = tree->WindowHandle();
  const RECT image = ScreenRect();
  // The part of the client area under the picture, in screen coordinates.
  RECT area = clientRect;
  MapWindowPoints(window, nullptr, reinterpret_cast<POINT*>(&area), 2);
  RECT part;
  if (IntersectRect(&part, &area, &image)) {
    HRGN region = nullptr;
    if (clip) {
      region = CreateRectRgn(0, 0, 0, 0);
      CombineRgn(region, clip, nullptr, RGN_COPY);
      POINT origin{0, 0};
      ClientToScreen(window, &origin);
      OffsetRgn(region, origin.x - image.left, origin.y - image.top);
      SelectClipRgn(back_.DC, region);
    }
    // The client rectangle in tree coordinates (the scrolled virtual area).
    RECT client = part;
    MapWindowPoints(nullptr, window, reinterpret_cast<POINT*>(&client), 2);
    OffsetRect(&client, -tree->GetOffsetX(), -tree->GetOffsetY());
    tree->RenderTreeToCanvas(back_.DC, client, 0x3F, POINT{part.left - image.left, part.top - image.top});
    if (region) {
      SelectClipRgn(back_.DC, nullptr);
      DeleteObject(region);
    }
  }
  if (nonClient) {
    // The frame and the header band, printed with the window's top-left at its place in the picture.
    RECT frame;
    GetWindowRect(window, &frame);
    POINT previous{};
    SetWindowOrgEx(back_.DC, image.left - frame.left, image.top - frame.top, &previous);
    SendMessageW(window, WM_PRINT, WPARAM(back_.DC), PRF_NONCLIENT);
    SetWindowOrgEx(back_.DC, previous.x, previous.y, nullptr);
  }
  if (redraw) {
    GdiFlush();
    ScreenDC screen;
    Blend(screen.Get());
  }
}

RECT TVTDragImage::ScreenRect() const {
  const TVTRect r = model_.ScreenRect();
  return RECT{r.Left, r.Top, r.Right, r.Bottom};
}

void TVTDragImage::FinishDrag() {
  HideImage();
  model_.Finish();
  FreeSurfaces();
}

// --- The tree's node drags ------------------------------------------------------------------------

TVTDragImage* TBaseVirtualTree::NodeDragImage() {
  if (!nodeDragImage_) {
    nodeDragImage_ = New<TVTDragImage>(this);
    nodeDragImage_->Fade = true;
    nodeDragImage_->Transparency = 200;
  }
  return nodeDragImage_;
}

HBITMAP TBaseVirtualTree::RenderDragImage(POINT clientPoint, POINT& screenPosition) {
  if (DragImageKind == 2 || !HandleAllocated()) return nullptr;
  RECT client;
  GetClientRect(WindowHandle(), &client);
  const int width = std::min<int>(DragWidth, client.right), height = std::min<int>(DragHeight, client.bottom);
  if (width <= 0 || height <= 0) return nullptr;
  // Centred on the point, moved back inside the client area.
  const TVTRect placed =
      ClampRectToDesktop(TVTRect{clientPoint.x - width / 2, clientPoint.y - height / 2,
                                 clientPoint.x - width / 2 + width, clientPoint.y - height / 2 + height},
                         TVTRect{0, 0, client.right, client.bottom});
  HDC screen = GetDC(nullptr);
  HBITMAP picture = CreateCompatibleBitmap(screen, width, height);
  ReleaseDC(nullptr, screen);
  if (!picture) return nullptr;
  HDC dc = CreateCompatibleDC(nullptr);
  HGDIOBJ old = SelectObject(dc, picture);
  FillRectColor(dc, RECT{0, 0, width, height}, GetColor());
  RECT window{placed.Left, placed.Top, placed.Right, placed.Bottom};
  OffsetRect(&window, -GetOffsetX(), -GetOffsetY());
  const std::uint8_t flags = std::uint8_t(kRenderSelectedOnly | kRenderSelection | kRenderColumnColors |
                                          (DragImageKind == 1 ? kRenderMainColumnOnly : 0));
  RenderTreeToCanvas(dc, window, flags, POINT{0, 0});
  SelectObject(dc, old);
  DeleteDC(dc);
  screenPosition = POINT{placed.Left, placed.Top};
  ::ClientToScreen(WindowHandle(), &screenPosition);
  return picture;
}

void TBaseVirtualTree::BeginNodeDragImage(POINT clientPoint, IDataObject* dataObject) {
  POINT position{};
  HBITMAP picture = RenderDragImage(clientPoint, position);
  if (!picture) return;
  POINT hot = clientPoint;
  ::ClientToScreen(WindowHandle(), &hot);
  TVTDragImage* image = NodeDragImage();
  image->ColorKey = GetColor();
  image->PrepareDrag(picture, position, dataObject, hot);
  DeleteObject(picture);
  image->ShowImage();
}
