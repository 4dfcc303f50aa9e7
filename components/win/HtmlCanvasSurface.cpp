#include "HtmlCanvasSurface.h"

#include <commctrl.h>

#include <algorithm>
#include <cstring>

namespace {

HtmlPicture Describe(THTMLPicture* p) {
  if (!p) return {};
  return HtmlPicture{p, p->Empty(), p->DisplayWidth(), p->DisplayHeight(), p->FrameLeft(), p->FrameTop()};
}

RECT ToRect(const HtmlRect& r) {
  return RECT{r.left, r.top, r.right, r.bottom};
}

// The shell's system image list for a source and its index there: a path on
// disk by its attributes, a number as the index itself, any other text by its
// name alone.
HIMAGELIST SystemIcon(std::string_view source, bool large, int& index) {
  HtmlShellApi& shell = GetHtmlShellApi();
  const UINT size = large ? SHGFI_LARGEICON : SHGFI_SMALLICON;
  SHFILEINFOA info{};
  const std::string text(source);
  int number = 0;
  if (!text.empty() && HtmlWholeNumber(text, number)) {
    index = number;
    return reinterpret_cast<HIMAGELIST>(shell.GetFileInfo("", FILE_ATTRIBUTE_NORMAL, &info, sizeof info,
                                                          SHGFI_SYSICONINDEX | SHGFI_USEFILEATTRIBUTES | size));
  }
  const bool onDisk = !text.empty() && GetFileAttributesA(text.c_str()) != INVALID_FILE_ATTRIBUTES;
  const DWORD_PTR list = shell.GetFileInfo(text.c_str(), onDisk ? 0 : FILE_ATTRIBUTE_NORMAL, &info, sizeof info,
                                           SHGFI_SYSICONINDEX | size | (onDisk ? 0 : SHGFI_USEFILEATTRIBUTES));
  index = info.iIcon;
  return reinterpret_cast<HIMAGELIST>(list);
}

}  // namespace

HtmlShellApi& GetHtmlShellApi() {
  static HtmlShellApi api{&SHGetFileInfoA, &ShellExecuteA};
  return api;
}

HtmlCanvasSurface::HtmlCanvasSurface(TCanvas* canvas, TPictureContainer* container, THTMLPictureCache* cache,
                                     TCustomImageList* images)
    : canvas_(canvas), container_(container), cache_(cache), images_(images) {}

HtmlCanvasSurface::~HtmlCanvasSurface() {
  if (rotated_) EndRotation();
}

HtmlFont HtmlCanvasSurface::Font() {
  TFont* f = canvas_->Font();
  HtmlFont out;
  out.name = f->GetName();
  out.size = f->GetSize();
  out.color = f->GetColor();
  const TFontStyles s = f->GetStyle();
  out.style = (s.Contains(fsBold) ? kHtmlBold : 0u) | (s.Contains(fsItalic) ? kHtmlItalic : 0u) |
              (s.Contains(fsUnderline) ? kHtmlUnderline : 0u) | (s.Contains(fsStrikeOut) ? kHtmlStrikeOut : 0u);
  out.angle = rotated_ ? angle_ : 0;
  return out;
}

void HtmlCanvasSurface::SetFont(const HtmlFont& font) {
  TFont* f = canvas_->Font();
  if (f->GetName() != font.name) f->SetName(font.name);
  if (f->GetSize() != font.size) f->SetSize(font.size);
  if (f->GetColor() != font.color) f->SetColor(font.color);
  TFontStyles s;
  if (font.style & kHtmlBold) s.Include(fsBold);
  if (font.style & kHtmlItalic) s.Include(fsItalic);
  if (font.style & kHtmlUnderline) s.Include(fsUnderline);
  if (font.style & kHtmlStrikeOut) s.Include(fsStrikeOut);
  if (!(f->GetStyle() == s)) f->SetStyle(s);
  if (font.angle != 0)
    Rotate(font.angle);
  else
    EndRotation();
}

HtmlColor HtmlCanvasSurface::BrushColor() {
  TBrush* b = canvas_->Brush();
  return b->GetStyle() == bsClear ? kHtmlClNone : static_cast<HtmlColor>(b->GetColor());
}

void HtmlCanvasSurface::SetBrushColor(HtmlColor color) {
  TBrush* b = canvas_->Brush();
  if (color == kHtmlClNone) {
    b->SetStyle(bsClear);
  } else {
    b->SetColor(color);
    b->SetStyle(bsSolid);
  }
}

void HtmlCanvasSurface::SetTransparentBackground() {
  SetBkMode(canvas_->Handle(), TRANSPARENT);
}

HtmlRect HtmlCanvasSurface::ClipBounds() {
  RECT r;
  if (GetClipBox(canvas_->Handle(), &r) == ERROR) return HtmlRect{-32768, -32768, 32767, 32767};
  return HtmlRect{r.left, r.top, r.right, r.bottom};
}

HDC HtmlCanvasSurface::PrepareText() {
  HDC dc = canvas_->Handle();
  if (rotated_) SelectObject(dc, rotated_);
  return dc;
}

HtmlSize HtmlCanvasSurface::TextExtent(std::string_view text) {
  HDC dc = PrepareText();
  SIZE s{0, 0};
  GetTextExtentPoint32A(dc, text.data(), static_cast<int>(text.size()), &s);
  return {s.cx, s.cy};
}

HtmlSize HtmlCanvasSurface::MeasureText(std::string_view text, const HtmlRect& rect, unsigned flags) {
  HDC dc = PrepareText();
  RECT r = ToRect(rect);
  std::string copy(text);
  DrawTextA(dc, copy.c_str(), static_cast<int>(copy.size()), &r, flags | DT_CALCRECT);
  return {r.right - r.left, r.bottom - r.top};
}

void HtmlCanvasSurface::DrawRun(std::string_view text, const HtmlRect& rect, unsigned flags) {
  HDC dc = PrepareText();
  RECT r = ToRect(rect);
  std::string copy(text);
  DrawTextA(dc, copy.c_str(), static_cast<int>(copy.size()), &r, flags);
}

void HtmlCanvasSurface::FillRect(const HtmlRect& rect, HtmlColor color) {
  if (color == kHtmlClNone) return;
  FillRectColor(canvas_->Handle(), ToRect(rect), color);
}

void HtmlCanvasSurface::DrawLine(int x0, int y0, int x1, int y1, HtmlColor color) {
  canvas_->Pen()->SetColor(color);
  canvas_->Pen()->SetWidth(1);
  canvas_->MoveTo(x0, y0);
  canvas_->LineTo(x1, y1);
}

std::uint32_t HtmlCanvasSurface::ColorToRGB(HtmlColor color) {
  return ::ColorToRGB(color) & 0xFFFFFF;
}

int HtmlCanvasSurface::PixelsPerInchX() {
  return GetDeviceCaps(canvas_->Handle(), LOGPIXELSX);
}

int HtmlCanvasSurface::PixelsPerInchY() {
  return GetDeviceCaps(canvas_->Handle(), LOGPIXELSY);
}

void HtmlCanvasSurface::Rotate(int tenthsOfDegree) {
  HDC dc = canvas_->Handle();
  LOGFONTA from{};
  if (!GetObjectA(canvas_->Font()->Handle(), sizeof from, &from)) return;
  if (rotated_ && angle_ == tenthsOfDegree && std::memcmp(&rotatedFrom_, &from, sizeof from) == 0) {
    SelectObject(dc, rotated_);
    return;
  }
  LOGFONTA lf = from;
  lf.lfEscapement = lf.lfOrientation = tenthsOfDegree;
  HFONT font = CreateFontIndirectA(&lf);
  if (!font) return;
  EndRotation();
  rotated_ = font;
  rotatedFrom_ = from;
  angle_ = tenthsOfDegree;
  SelectObject(dc, rotated_);
}

void HtmlCanvasSurface::EndRotation() {
  if (!rotated_) return;
  HDC dc = canvas_->Handle();
  if (GetCurrentObject(dc, OBJ_FONT) == rotated_) SelectObject(dc, canvas_->Font()->Handle());
  DeleteObject(rotated_);
  rotated_ = nullptr;
  rotatedFrom_ = LOGFONTA{};
  angle_ = 0;
}

HtmlPicture HtmlCanvasSurface::NamedPicture(std::string_view name) {
  return container_ ? Describe(container_->PictureByName(std::string(name))) : HtmlPicture{};
}

HtmlPicture HtmlCanvasSurface::LocatedPicture(std::string_view location) {
  if (!cache_) return {};
  const std::string id(location);
  THTMLPicture* p = cache_->CachePictureById(id);
  if (!p) {
    p = cache_->NewCachePicture();
    p->SetBackgroundLoading(false);
    p->LoadFromLocation(id);
  }
  return Describe(p);
}

void HtmlCanvasSurface::DrawPicture(const HtmlPicture& picture, const HtmlRect& dest, bool stretch,
                                    const HtmlRect& clip) {
  auto* p = static_cast<THTMLPicture*>(picture.handle);
  if (!p) return;
  HDC dc = canvas_->Handle();
  const int saved = SaveDC(dc);
  IntersectClipRect(dc, clip.left, clip.top, clip.right, clip.bottom);
  const bool was = p->GetStretch();
  p->SetStretch(stretch);
  try {
    p->Draw(*canvas_, ToRect(dest));
  } catch (...) {
    p->SetStretch(was);
    RestoreDC(dc, saved);
    throw;
  }
  p->SetStretch(was);
  RestoreDC(dc, saved);
}

bool HtmlCanvasSurface::ImageListSize(int& count, int& width, int& height) {
  if (!images_) return false;
  count = images_->Count();
  width = images_->GetWidth();
  height = images_->GetHeight();
  return true;
}

void HtmlCanvasSurface::DrawListImage(int index, int x, int y) {
  if (images_) images_->Draw(canvas_, x, y, index, true);
}

bool HtmlCanvasSurface::ShellIconSize(bool large, int& width, int& height) {
  int index = 0;
  HIMAGELIST list = SystemIcon("", large, index);
  if (!list) return false;
  return ImageList_GetIconSize(list, &width, &height) != FALSE;
}

void HtmlCanvasSurface::DrawShellIcon(std::string_view source, bool large, int x, int y) {
  int index = 0;
  HIMAGELIST list = SystemIcon(source, large, index);
  if (list) ImageList_Draw(list, index, canvas_->Handle(), x, y, ILD_TRANSPARENT);
}
