#include "Graphics.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <iterator>
#include <memory>
#include <vector>

#include "ByteReader.h"
#include "ByteWriter.h"
#include "Filer.h"
#include "Modules.h"
#include "PictureRegistry.h"
#include "Scope.h"
#include "Streams.h"
#include "SysUtils.h"
#include "SysUtilsWin.h"

FW_IMPLEMENT_CLASS(TGraphicsObject)
FW_BEGIN_CLASS(TFont)
  FW_PROP(Name, GetName, SetName)
  FW_PROP(Height, GetHeight, SetHeight)
  FW_PROP(Size, GetSize, SetSize)
  FW_NOT_STORED
  FW_PROP(Color, GetColor, SetColor)
  FW_PROP(Style, GetStyle, SetStyle)
  FW_PROP(Charset, GetCharset, SetCharset)
FW_END_CLASS
FW_BEGIN_CLASS(TPen)
  FW_PROP(Color, GetColor, SetColor)
  FW_PROP(Width, GetWidth, SetWidth)
  FW_DEFAULT(1)
  FW_PROP(Style, GetStyle, SetStyle)
  FW_DEFAULT(psSolid)
FW_END_CLASS
FW_BEGIN_CLASS(TBrush)
  FW_PROP(Color, GetColor, SetColor)
  FW_PROP(Style, GetStyle, SetStyle)
  FW_DEFAULT(bsSolid)
FW_END_CLASS
FW_IMPLEMENT_CLASS(TCanvas)
FW_IMPLEMENT_CLASS(TGraphic)
FW_IMPLEMENT_CLASS(TBitmap)
FW_IMPLEMENT_CLASS(TIcon)
FW_IMPLEMENT_CLASS(TPicture)

// --- Colours -----------------------------------------------------------------------------------

COLORREF ColorToRGB(TColor color) {
  if (color < 0) return GetSysColor(color & 0xFF);
  return static_cast<COLORREF>(color);
}

void FillRectColor(HDC dc, const RECT& r, TColor color) {
  if (color < 0) {
    FillRect(dc, &r, GetSysColorBrush(color & 0xFF));
    return;
  }
  HBRUSH brush = CreateSolidBrush(ColorToRGB(color));
  FillRect(dc, &r, brush);
  DeleteObject(brush);
}

namespace {
// The first name of a value is the one written.
const TIdentMapEntry kColorNames[] = {
    {clBlack, "clBlack"},
    {clMaroon, "clMaroon"},
    {clGreen, "clGreen"},
    {clOlive, "clOlive"},
    {clNavy, "clNavy"},
    {clPurple, "clPurple"},
    {clTeal, "clTeal"},
    {clGray, "clGray"},
    {clSilver, "clSilver"},
    {clRed, "clRed"},
    {clLime, "clLime"},
    {clYellow, "clYellow"},
    {clBlue, "clBlue"},
    {clFuchsia, "clFuchsia"},
    {clAqua, "clAqua"},
    {clWhite, "clWhite"},
    {clLtGray, "clLtGray"},
    {clDkGray, "clDkGray"},
    {clMoneyGreen, "clMoneyGreen"},
    {clSkyBlue, "clSkyBlue"},
    {clCream, "clCream"},
    {clMedGray, "clMedGray"},
    {clNone, "clNone"},
    {clDefault, "clDefault"},
    {clScrollBar, "clScrollBar"},
    {clBackground, "clBackground"},
    {clActiveCaption, "clActiveCaption"},
    {clInactiveCaption, "clInactiveCaption"},
    {clMenu, "clMenu"},
    {clWindow, "clWindow"},
    {clWindowFrame, "clWindowFrame"},
    {clMenuText, "clMenuText"},
    {clWindowText, "clWindowText"},
    {clCaptionText, "clCaptionText"},
    {clActiveBorder, "clActiveBorder"},
    {clInactiveBorder, "clInactiveBorder"},
    {clAppWorkSpace, "clAppWorkSpace"},
    {clHighlight, "clHighlight"},
    {clHighlightText, "clHighlightText"},
    {clBtnFace, "clBtnFace"},
    {clBtnShadow, "clBtnShadow"},
    {clGrayText, "clGrayText"},
    {clBtnText, "clBtnText"},
    {clInactiveCaptionText, "clInactiveCaptionText"},
    {clBtnHighlight, "clBtnHighlight"},
    {cl3DDkShadow, "cl3DDkShadow"},
    {cl3DLight, "cl3DLight"},
    {clInfoText, "clInfoText"},
    {clInfoBk, "clInfoBk"},
    {clHotLight, "clHotLight"},
    {clGradientActiveCaption, "clGradientActiveCaption"},
    {clGradientInactiveCaption, "clGradientInactiveCaption"},
    {clMenuHighlight, "clMenuHighlight"},
    {clMenuBar, "clMenuBar"},
};

// The portable charset names (FontCharsets.cpp) carry the system's numbers.
static_assert(ANSI_CHARSET == 0 && DEFAULT_CHARSET == 1 && SYMBOL_CHARSET == 2 && MAC_CHARSET == 77 &&
              SHIFTJIS_CHARSET == 128 && HANGEUL_CHARSET == 129 && JOHAB_CHARSET == 130 && GB2312_CHARSET == 134 &&
              CHINESEBIG5_CHARSET == 136 && GREEK_CHARSET == 161 && TURKISH_CHARSET == 162 &&
              VIETNAMESE_CHARSET == 163 && HEBREW_CHARSET == 177 && ARABIC_CHARSET == 178 && BALTIC_CHARSET == 186 &&
              RUSSIAN_CHARSET == 204 && THAI_CHARSET == 222 && EASTEUROPE_CHARSET == 238 && OEM_CHARSET == 255);

}  // namespace

const TypeInfo* TColorTag::Info() {
  static const TypeInfo info = MakeIntegerTypeInfo("TColor", INT32_MIN, INT32_MAX, kColorNames, std::size(kColorNames));
  return &info;
}

bool ColorToIdent(std::int64_t color, std::string& ident) {
  return IntToIdent(color, ident, kColorNames);
}

bool IdentToColor(const std::string& ident, std::int64_t& color) {
  return IdentToInt(ident, color, kColorNames);
}

// --- GDI objects -------------------------------------------------------------------------------

void TGraphicsObject::Destroy() {
  FreeHandle();
  inherited::Destroy();
}

void TGraphicsObject::Changed() {
  // Users (a canvas) release the handle before it is deleted.
  if (OnChange) OnChange(this);
  FreeHandle();
}

TFont::TFont() = default;

void TFont::Assign(TPersistent* source) {
  if (auto* f = dynamic_cast<TFont*>(source)) {
    name_ = f->name_;
    height_ = f->height_;
    color_ = f->color_;
    style_ = f->style_;
    charset_ = f->charset_;
    Changed();
    return;
  }
  inherited::Assign(source);
}

HFONT TFont::Handle() {
  if (!handle_) {
    LOGFONTA lf = {};
    lf.lfHeight = height_;
    lf.lfWeight = style_.Contains(fsBold) ? FW_BOLD : FW_NORMAL;
    lf.lfItalic = style_.Contains(fsItalic);
    lf.lfUnderline = style_.Contains(fsUnderline);
    lf.lfStrikeOut = style_.Contains(fsStrikeOut);
    lf.lfCharSet = static_cast<BYTE>(charset_);
    lf.lfQuality = DEFAULT_QUALITY;
    lstrcpynA(lf.lfFaceName, name_.c_str(), LF_FACESIZE);
    handle_ = CreateFontIndirectA(&lf);
  }
  return handle_;
}

void TFont::SetHandle(HFONT font) {
  LOGFONTA lf;
  if (font && GetObjectA(font, sizeof lf, &lf)) {
    name_ = lf.lfFaceName;
    height_ = lf.lfHeight;
    charset_ = lf.lfCharSet;
    style_ = {};
    if (lf.lfWeight >= FW_BOLD) style_.Include(fsBold);
    if (lf.lfItalic) style_.Include(fsItalic);
    if (lf.lfUnderline) style_.Include(fsUnderline);
    if (lf.lfStrikeOut) style_.Include(fsStrikeOut);
  }
  Changed();
  handle_ = font;
}

void TFont::FreeHandle() {
  if (handle_) DeleteObject(handle_);
  handle_ = nullptr;
}

namespace {
int ScreenDpi() {
  HDC dc = GetDC(nullptr);
  int dpi = GetDeviceCaps(dc, LOGPIXELSY);
  ReleaseDC(nullptr, dc);
  return dpi > 0 ? dpi : 96;
}
}  // namespace

void TFont::SetName(const std::string& v) {
  name_ = v;
  Changed();
}
void TFont::SetHeight(int v) {
  height_ = v;
  Changed();
}
int TFont::GetSize() const {
  return -MulDiv(height_, 72, ScreenDpi());
}
void TFont::SetSize(int v) {
  SetHeight(-MulDiv(v, ScreenDpi(), 72));
}
void TFont::SetColor(TColor v) {
  color_ = v;
  Changed();
}
void TFont::SetStyle(TFontStyles v) {
  style_ = v;
  Changed();
}
void TFont::SetCharset(TFontCharset v) {
  charset_ = v;
  Changed();
}

void TPen::Assign(TPersistent* source) {
  if (auto* p = dynamic_cast<TPen*>(source)) {
    color_ = p->color_;
    width_ = p->width_;
    style_ = p->style_;
    Changed();
    return;
  }
  inherited::Assign(source);
}

HPEN TPen::Handle() {
  if (!handle_) {
    static const int kStyles[] = {PS_SOLID, PS_DASH, PS_DOT, PS_DASHDOT, PS_DASHDOTDOT, PS_NULL, PS_INSIDEFRAME};
    handle_ = CreatePen(kStyles[style_], width_, ColorToRGB(color_));
  }
  return handle_;
}
void TPen::FreeHandle() {
  if (handle_) DeleteObject(handle_);
  handle_ = nullptr;
}
void TPen::SetColor(TColor v) {
  color_ = v;
  Changed();
}
void TPen::SetWidth(int v) {
  width_ = v;
  Changed();
}
void TPen::SetStyle(TPenStyle v) {
  style_ = v;
  Changed();
}

void TBrush::Assign(TPersistent* source) {
  if (auto* b = dynamic_cast<TBrush*>(source)) {
    color_ = b->color_;
    style_ = b->style_;
    Changed();
    return;
  }
  inherited::Assign(source);
}

HBRUSH TBrush::Handle() {
  if (!handle_) {
    if (style_ == bsSolid) {
      handle_ = CreateSolidBrush(ColorToRGB(color_));
    } else if (style_ == bsClear) {
      handle_ = static_cast<HBRUSH>(GetStockObject(NULL_BRUSH));
      return handle_;
    } else {
      static const int kHatches[] = {0,        0,           HS_HORIZONTAL, HS_VERTICAL, HS_FDIAGONAL, HS_BDIAGONAL,
                                     HS_CROSS, HS_DIAGCROSS};
      handle_ = CreateHatchBrush(kHatches[style_], ColorToRGB(color_));
    }
  }
  return handle_;
}
void TBrush::FreeHandle() {
  if (handle_ && style_ != bsClear) DeleteObject(handle_);
  handle_ = nullptr;
}
void TBrush::SetColor(TColor v) {
  color_ = v;
  if (style_ == bsClear) style_ = bsSolid;
  Changed();
}
void TBrush::SetStyle(TBrushStyle v) {
  FreeHandle();  // the stock null brush must not be deleted: free with the old style
  style_ = v;
  Changed();
}

// --- TCanvas -----------------------------------------------------------------------------------

TCanvas::TCanvas() {
  font_ = New<TFont>();
  pen_ = New<TPen>();
  brush_ = New<TBrush>();
  font_->OnChange = TNotifyEvent::Bind<&TCanvas::ObjectChanged>(this);
  pen_->OnChange = TNotifyEvent::Bind<&TCanvas::ObjectChanged>(this);
  brush_->OnChange = TNotifyEvent::Bind<&TCanvas::ObjectChanged>(this);
}

void TCanvas::Destroy() {
  SetHandle(nullptr);
  FreeAndNil(font_);
  FreeAndNil(pen_);
  FreeAndNil(brush_);
  inherited::Destroy();
}

void TCanvas::ObjectChanged(TObject*) {
  if (dc_ && stateValid_) {
    SelectObject(dc_, oldFont_);
    SelectObject(dc_, oldPen_);
    SelectObject(dc_, oldBrush_);
  }
  stateValid_ = false;
}

void TCanvas::SetHandle(HDC dc) {
  if (dc_ == dc) return;
  ObjectChanged(nullptr);
  dc_ = dc;
}

HDC TCanvas::Handle() {
  if (!dc_) CreateHandle();
  if (!dc_) throw EInvalidOperation("Canvas does not allow drawing");
  RequireState();
  return dc_;
}

void TCanvas::RequireState() {
  if (stateValid_) return;
  oldFont_ = SelectObject(dc_, font_->Handle());
  oldPen_ = SelectObject(dc_, pen_->Handle());
  oldBrush_ = SelectObject(dc_, brush_->Handle());
  SetTextColor(dc_, ColorToRGB(font_->GetColor()));
  SetBkColor(dc_, ColorToRGB(brush_->GetColor()));
  SetBkMode(dc_, brush_->GetStyle() == bsClear ? TRANSPARENT : OPAQUE);
  stateValid_ = true;
}

void TCanvas::Changed() {
  if (OnChange) OnChange(this);
}

void TCanvas::FillRect(const RECT& r) {
  ::FillRect(Handle(), &r, brush_->Handle());
  Changed();
}
void TCanvas::FrameRect(const RECT& r) {
  ::FrameRect(Handle(), &r, brush_->Handle());
  Changed();
}
void TCanvas::Rectangle(int x1, int y1, int x2, int y2) {
  ::Rectangle(Handle(), x1, y1, x2, y2);
  Changed();
}
void TCanvas::MoveTo(int x, int y) {
  MoveToEx(Handle(), x, y, nullptr);
}
void TCanvas::LineTo(int x, int y) {
  ::LineTo(Handle(), x, y);
  Changed();
}
void TCanvas::TextOut(int x, int y, const std::string& text) {
  ::TextOutA(Handle(), x, y, text.c_str(), static_cast<int>(text.size()));
  Changed();
}
void TCanvas::TextRect(const RECT& r, int x, int y, const std::string& text) {
  ExtTextOutA(Handle(), x, y, ETO_CLIPPED | (brush_->GetStyle() == bsClear ? 0 : ETO_OPAQUE), &r, text.c_str(),
              static_cast<UINT>(text.size()), nullptr);
  Changed();
}
SIZE TCanvas::TextExtent(const std::string& text) {
  SIZE s{0, 0};
  GetTextExtentPoint32A(Handle(), text.c_str(), static_cast<int>(text.size()), &s);
  return s;
}
void TCanvas::DrawFocusRect(const RECT& r) {
  ::DrawFocusRect(Handle(), &r);
  Changed();
}
void TCanvas::Draw(int x, int y, TGraphic* graphic) {
  if (!graphic || graphic->Empty()) return;
  RECT r{x, y, x + graphic->GetWidth(), y + graphic->GetHeight()};
  graphic->Draw(*this, r);
  Changed();
}
void TCanvas::StretchDraw(const RECT& r, TGraphic* graphic) {
  if (!graphic || graphic->Empty()) return;
  graphic->Draw(*this, r);
  Changed();
}
TColor TCanvas::Pixel(int x, int y) {
  return static_cast<TColor>(GetPixel(Handle(), x, y));
}
void TCanvas::SetPixel(int x, int y, TColor color) {
  ::SetPixel(Handle(), x, y, ColorToRGB(color));
  Changed();
}

// --- TGraphic ----------------------------------------------------------------------------------

void TGraphic::LoadFromFile(const std::string& fileName) {
  WithFileStream(fileName, fmOpenRead | fmShareDenyWrite, [this](TStream& f) { LoadFromStream(f); });
}

void TGraphic::SaveToFile(const std::string& fileName) {
  WithFileStream(fileName, fmCreate, [this](TStream& f) { SaveToStream(f); });
}

void TGraphic::SetTransparent(bool v) {
  if (transparent_ == v) return;
  transparent_ = v;
  Changed();
}

void TGraphic::Changed() {
  if (OnChange) OnChange(this);
}

void TGraphic::Progress(TObject* sender, TProgressStage stage, std::uint8_t percent, bool redraw, const RECT& r,
                        const std::string& message) {
  if (OnProgress) OnProgress(sender, stage, percent, redraw, r, message);
}

bool TGraphic::Equals(TGraphic* other) {
  if (!other) return false;
  if (other == this) return true;
  if (&other->ClassType() != &ClassType()) return false;
  if (Empty() || other->Empty()) return Empty() && other->Empty();
  TOwned<TMemoryStream> a(New<TMemoryStream>()), b(New<TMemoryStream>());
  SaveToStream(*a);
  other->SaveToStream(*b);
  return a->DataString() == b->DataString();
}

void TGraphic::LoadFromClipboardFormat(std::uint32_t, HANDLE, HPALETTE) {
  throw EInvalidGraphic("Unsupported clipboard format");
}

void TGraphic::SaveToClipboardFormat(std::uint32_t&, HANDLE&, HPALETTE&) {
  throw EInvalidGraphic("Unsupported clipboard format");
}

void TGraphic::ReadData(TStream& stream) {
  LoadFromStream(stream);
}
void TGraphic::WriteData(TStream& stream) {
  SaveToStream(stream);
}

void TGraphic::DefineProperties(TFiler& filer) {
  filer.DefineBinaryProperty(
      "Data", [this](TStream& s) { ReadData(s); }, [this](TStream& s) { WriteData(s); }, !Empty());
}

// --- TBitmap -----------------------------------------------------------------------------------

class TBitmapCanvas : public TCanvas {
 public:
  explicit TBitmapCanvas(TBitmap* bitmap) : bitmap_(bitmap) {}
  void Destroy() override {
    FreeContext();
    inherited::Destroy();
  }
  void FreeContext() {
    if (!memDc_) return;
    SetHandle(nullptr);
    SelectObject(memDc_, oldBitmap_);
    DeleteDC(memDc_);
    memDc_ = nullptr;
  }

 protected:
  void CreateHandle() override {
    HBITMAP bmp = bitmap_->Handle();
    memDc_ = CreateCompatibleDC(nullptr);
    oldBitmap_ = SelectObject(memDc_, bmp);
    SetHandle(memDc_);
  }

 private:
  TBitmap* bitmap_;
  HDC memDc_ = nullptr;
  HGDIOBJ oldBitmap_ = nullptr;
};

TBitmap::TBitmap() = default;

void TBitmap::Destroy() {
  FreeImage();
  FreePalette();
  FreeAndNil(canvas_);
  inherited::Destroy();
}

void TBitmap::FreeImage() {
  if (canvas_) canvas_->FreeContext();
  if (handle_) {
    SyncFromHandle();
    DeleteObject(handle_);
  }
  handle_ = nullptr;
  sectionBits_ = nullptr;
}

void TBitmap::SyncFromHandle() {
  if (!handle_ || !sectionBits_) return;
  GdiFlush();
  const std::size_t stride = dib_.Stride();
  const int h = dib_.Height();
  auto* src = static_cast<const std::uint8_t*>(sectionBits_);
  for (int y = 0; y < h; ++y) std::memcpy(dib_.ScanLine(y), src + static_cast<std::size_t>(h - 1 - y) * stride, stride);
}

const TDib& TBitmap::Dib() {
  SyncFromHandle();
  return dib_;
}

void TBitmap::SetDib(TDib dib) {
  FreeImage();
  dib_ = std::move(dib);
  Changed();
}

HBITMAP TBitmap::Handle() {
  if (handle_) return handle_;
  if (dib_.Empty()) throw EInvalidGraphic("Bitmap image is not valid");
  const std::string packed = dib_.SaveToDibData();
  const std::size_t bitsSize = dib_.Bits().size();
  if (packed.size() < bitsSize + sizeof(BITMAPINFOHEADER)) throw EInvalidGraphic("Bitmap image is not valid");
  std::string info = packed.substr(0, packed.size() - bitsSize);
  void* bits = nullptr;
  HBITMAP bmp =
      CreateDIBSection(nullptr, reinterpret_cast<const BITMAPINFO*>(info.data()), DIB_RGB_COLORS, &bits, nullptr, 0);
  if (!bmp || !bits) throw EOutOfResources("Out of system resources");
  std::memcpy(bits, dib_.Bits().data(), bitsSize);
  handle_ = bmp;
  sectionBits_ = bits;
  return handle_;
}

void TBitmap::SetHandle(HBITMAP bitmap) {
  FreeImage();
  dib_ = TDib();
  BITMAP bm;
  if (bitmap && GetObjectA(bitmap, sizeof bm, &bm) && bm.bmWidth > 0 && bm.bmHeight > 0) {
    TDib dib(bm.bmWidth, bm.bmHeight, 32);
    BITMAPINFOHEADER bih = {};
    bih.biSize = sizeof bih;
    bih.biWidth = bm.bmWidth;
    bih.biHeight = bm.bmHeight;  // bottom-up, as the DIB keeps its rows
    bih.biPlanes = 1;
    bih.biBitCount = 32;
    bih.biCompression = BI_RGB;
    HDC dc = GetDC(nullptr);
    GetDIBits(dc, bitmap, 0, static_cast<UINT>(bm.bmHeight), dib.ScanLine(bm.bmHeight - 1),
              reinterpret_cast<BITMAPINFO*>(&bih), DIB_RGB_COLORS);
    ReleaseDC(nullptr, dc);
    dib_ = std::move(dib);
  }
  if (bitmap) DeleteObject(bitmap);
  Changed();
}

void TBitmap::ReleaseCanvasContext() {
  if (canvas_) canvas_->FreeContext();
}

TCanvas* TBitmap::Canvas() {
  if (!canvas_) canvas_ = new TBitmapCanvas(this);
  return canvas_;
}

void TBitmap::Assign(TPersistent* source) {
  if (!source) {
    SetDib(TDib());
    return;
  }
  if (auto* b = dynamic_cast<TBitmap*>(source)) {
    transparentColor_ = b->transparentColor_;
    SetDib(b->Dib());
    SetTransparent(b->GetTransparent());
    return;
  }
  inherited::Assign(source);
}

namespace {
std::atomic<bool> g_lockedBitmapDraw{false};
}  // namespace

void SetLockedBitmapDraw(bool on) {
  g_lockedBitmapDraw.store(on);
}
bool LockedBitmapDraw() {
  return g_lockedBitmapDraw.load();
}

void TBitmap::Draw(TCanvas& canvas, const RECT& r) {
  if (Empty()) return;
  if (g_lockedBitmapDraw.load() && &ClassType() == &TBitmap::StaticClass()) {
    TCanvas* own = Canvas();
    own->Lock();
    TScopeExit unlock([own]() noexcept { own->Unlock(); });
    DrawUnlocked(canvas, r);
    return;
  }
  DrawUnlocked(canvas, r);
}

void TBitmap::DrawUnlocked(TCanvas& canvas, const RECT& r) {
  if (&canvas == canvas_) throw EInvalidGraphicOperation("A bitmap cannot be drawn on its own canvas");
  ReleaseCanvasContext();
  HDC dst = canvas.Handle();
  HDC src = CreateCompatibleDC(dst);
  HGDIOBJ old = SelectObject(src, Handle());
  const int w = GetWidth(), h = GetHeight();
  bool done = false;
  if (GetTransparent()) {
    using TransparentBltFn = BOOL(WINAPI*)(HDC, int, int, int, int, HDC, int, int, int, int, UINT);
    static TransparentBltFn transparentBlt = [] {
      HMODULE m = LoadSystemLibrary("msimg32.dll");
      return m ? reinterpret_cast<TransparentBltFn>(reinterpret_cast<void*>(GetProcAddress(m, "TransparentBlt")))
               : nullptr;
    }();
    if (transparentBlt)
      done = transparentBlt(dst, r.left, r.top, r.right - r.left, r.bottom - r.top, src, 0, 0, w, h,
                            ColorToRGB(GetTransparentColor())) != 0;
  }
  if (!done) {
    SetStretchBltMode(dst, COLORONCOLOR);
    StretchBlt(dst, r.left, r.top, r.right - r.left, r.bottom - r.top, src, 0, 0, w, h, SRCCOPY);
  }
  SelectObject(src, old);
  DeleteDC(src);
}

bool TBitmap::Empty() const {
  return dib_.Empty();
}
int TBitmap::GetWidth() const {
  return dib_.Width();
}
int TBitmap::GetHeight() const {
  return dib_.Height();
}

void TBitmap::SetSize(int width, int height) {
  SyncFromHandle();
  FreeImage();
  if (dib_.BitCount() == 0)
    dib_ = TDib(width, height, 24);
  else
    dib_.SetSize(width, height);
  Changed();
}
void TBitmap::SetWidth(int v) {
  SetSize(v, GetHeight());
}
void TBitmap::SetHeight(int v) {
  SetSize(GetWidth(), v);
}

TPixelFormat TBitmap::GetPixelFormat() {
  return Dib().PixelFormat();
}

void TBitmap::SetPixelFormat(TPixelFormat f) {
  SyncFromHandle();
  FreeImage();
  dib_.SetPixelFormat(f);
  Changed();
}

void TBitmap::LoadFromStream(TStream& stream) {
  const std::int64_t left = stream.Size() - stream.Position();
  SetDib(TDib::LoadFromBmp(stream.ReadBytes(left < 0 ? 0 : left)));
}

void TBitmap::SaveToStream(TStream& stream) {
  stream.WriteBytes(Dib().SaveToBmp());
}

void TBitmap::ReadData(TStream& stream) {
  const std::uint32_t size = stream.ReadU32();
  SetDib(TDib::LoadFromBmp(stream.ReadBytes(size)));
}

void TBitmap::WriteData(TStream& stream) {
  const std::string bmp = Dib().SaveToBmp();
  stream.WriteU32(static_cast<std::uint32_t>(bmp.size()));
  stream.WriteBytes(bmp);
}

// Pictures are read from the module as given: a language library carries only
// string tables and RCDATA, so following the resource instance would lose them.
void TBitmap::LoadFromResourceName(HINSTANCE module, const std::string& name) {
  auto data = FindResourceData(reinterpret_cast<ModuleHandle>(module), rtBitmap, name);
  if (!data) throw EResNotFound(Format("Resource %s not found", name));
  SetDib(TDib::LoadFromDibData(*data));
}

void TBitmap::LoadFromResourceID(HINSTANCE module, int id) {
  auto data = FindResourceData(reinterpret_cast<ModuleHandle>(module), rtBitmap, static_cast<std::uint16_t>(id));
  if (!data) throw EResNotFound(Format("Resource #%d not found", id));
  SetDib(TDib::LoadFromDibData(*data));
}

void TBitmap::SetTransparentColor(TColor color) {
  if (transparentColor_ == color) return;
  transparentColor_ = color;
  Changed();
}

bool TBitmap::GetMonochrome() const {
  return dib_.BitCount() == 1;
}

void TBitmap::SetMonochrome(bool v) {
  if (Empty() || GetMonochrome() == v) return;
  SetPixelFormat(v ? pf1bit : pf24bit);
}

void TBitmap::FreePalette() {
  if (palette_) DeleteObject(palette_);
  palette_ = nullptr;
}

void TBitmap::Changed() {
  FreePalette();  // made again from the new colour table
  inherited::Changed();
}

HPALETTE TBitmap::Palette() {
  if (palette_) return palette_;
  const TDib& d = Dib();
  if (d.Empty() || d.BitCount() > 8 || d.Palette().empty()) return nullptr;
  const std::size_t n = std::min<std::size_t>(d.Palette().size(), 256);
  std::vector<std::uint8_t> buf(sizeof(LOGPALETTE) + n * sizeof(PALETTEENTRY));
  auto* lp = reinterpret_cast<LOGPALETTE*>(buf.data());
  lp->palVersion = 0x300;
  lp->palNumEntries = static_cast<WORD>(n);
  for (std::size_t i = 0; i < n; ++i) {
    const TRGBQuad& q = d.Palette()[i];
    lp->palPalEntry[i] = PALETTEENTRY{q.rgbRed, q.rgbGreen, q.rgbBlue, 0};
  }
  palette_ = CreatePalette(lp);
  if (palette_) paletteModified_ = true;
  return palette_;
}

void TBitmap::LoadFromClipboardFormat(std::uint32_t format, HANDLE data, HPALETTE palette) {
  if (format != CF_BITMAP || !data) throw EInvalidGraphic("Unsupported clipboard format");
  BITMAP bm = {};
  if (!GetObjectA(data, sizeof bm, &bm) || bm.bmWidth <= 0 || bm.bmHeight <= 0)
    throw EInvalidGraphic("Bitmap image is not valid");
  // The pixels as 24 bits (or 1 bit for a monochrome bitmap), read through the palette.
  const bool mono = bm.bmBitsPixel == 1 && bm.bmPlanes == 1;
  const unsigned bits = mono ? 1 : 24;
  TDib dib(bm.bmWidth, bm.bmHeight, bits);
  struct {
    BITMAPINFOHEADER h;
    RGBQUAD colours[2];
  } info = {};
  info.h.biSize = sizeof(BITMAPINFOHEADER);
  info.h.biWidth = bm.bmWidth;
  info.h.biHeight = bm.bmHeight;
  info.h.biPlanes = 1;
  info.h.biBitCount = static_cast<WORD>(bits);
  HDC dc = GetDC(nullptr);
  HPALETTE old = palette ? SelectPalette(dc, palette, FALSE) : nullptr;
  if (palette) RealizePalette(dc);
  const std::size_t stride = dib.Stride();
  std::string rows(stride * static_cast<std::size_t>(bm.bmHeight), '\0');
  const int got = GetDIBits(dc, static_cast<HBITMAP>(data), 0, static_cast<UINT>(bm.bmHeight), rows.data(),
                            reinterpret_cast<BITMAPINFO*>(&info), DIB_RGB_COLORS);
  if (old) SelectPalette(dc, old, FALSE);
  ReleaseDC(nullptr, dc);
  if (got <= 0) throw EInvalidGraphic("Bitmap image is not valid");
  for (int y = 0; y < bm.bmHeight; ++y)  // the rows come bottom-up
    std::memcpy(dib.ScanLine(bm.bmHeight - 1 - y), rows.data() + stride * static_cast<std::size_t>(y), stride);
  if (mono) {
    std::vector<TRGBQuad> pal(2);
    for (int i = 0; i < 2; ++i)
      pal[i] = TRGBQuad{info.colours[i].rgbBlue, info.colours[i].rgbGreen, info.colours[i].rgbRed, 0};
    dib.Palette() = pal;
  }
  SetDib(std::move(dib));
}

void TBitmap::SaveToClipboardFormat(std::uint32_t& format, HANDLE& data, HPALETTE& palette) {
  format = CF_BITMAP;
  data = CopyImage(Handle(), IMAGE_BITMAP, 0, 0, 0);
  if (!data) RaiseLastOSError();
  palette = nullptr;
  if (HPALETTE own = Palette()) {
    PALETTEENTRY entries[256];
    const UINT n = GetPaletteEntries(own, 0, 256, entries);
    std::vector<std::uint8_t> buf(sizeof(LOGPALETTE) + n * sizeof(PALETTEENTRY));
    auto* lp = reinterpret_cast<LOGPALETTE*>(buf.data());
    lp->palVersion = 0x300;
    lp->palNumEntries = static_cast<WORD>(n);
    std::memcpy(lp->palPalEntry, entries, n * sizeof(PALETTEENTRY));
    palette = CreatePalette(lp);
  }
}

TColor TBitmap::GetTransparentColor() {
  if (transparentColor_ != clDefault) return transparentColor_;
  const TDib& d = Dib();
  return d.Empty() ? clDefault : static_cast<TColor>(d.Pixel(0, d.Height() - 1));
}

// --- TIcon -------------------------------------------------------------------------------------

void TIcon::Destroy() {
  if (handle_) DestroyIcon(handle_);
  handle_ = nullptr;
  inherited::Destroy();
}

void TIcon::SetHandle(HICON icon) {
  if (handle_ && handle_ != icon) DestroyIcon(handle_);
  handle_ = icon;
  data_.clear();
  Changed();
}

void TIcon::Assign(TPersistent* source) {
  if (auto* i = dynamic_cast<TIcon*>(source)) {
    SetHandle(i->handle_ ? CopyIcon(i->handle_) : nullptr);
    data_ = i->data_;
    return;
  }
  inherited::Assign(source);
}

int TIcon::GetWidth() const {
  ICONINFO info;
  if (!handle_ || !GetIconInfo(handle_, &info)) return 0;
  BITMAP bm = {};
  GetObjectA(info.hbmColor ? info.hbmColor : info.hbmMask, sizeof bm, &bm);
  if (info.hbmColor) DeleteObject(info.hbmColor);
  if (info.hbmMask) DeleteObject(info.hbmMask);
  return bm.bmWidth;
}

int TIcon::GetHeight() const {
  ICONINFO info;
  if (!handle_ || !GetIconInfo(handle_, &info)) return 0;
  BITMAP bm = {};
  GetObjectA(info.hbmColor ? info.hbmColor : info.hbmMask, sizeof bm, &bm);
  const int h = info.hbmColor ? bm.bmHeight : bm.bmHeight / 2;
  if (info.hbmColor) DeleteObject(info.hbmColor);
  if (info.hbmMask) DeleteObject(info.hbmMask);
  return h;
}

void TIcon::Draw(TCanvas& canvas, const RECT& r) {
  if (handle_)
    DrawIconEx(canvas.Handle(), r.left, r.top, handle_, r.right - r.left, r.bottom - r.top, 0, nullptr, DI_NORMAL);
}

void TIcon::LoadFromStream(TStream& stream) {
  const std::int64_t left = stream.Size() - stream.Position();
  std::string data = stream.ReadBytes(left < 0 ? 0 : left);
  try {
    // An icon file: ICONDIR, entries, images; the first image is used.
    ByteReader r(data);
    if (r.U16LE() != 0 || r.U16LE() != 1) throw EInvalidGraphic("Icon image is not valid");
    const unsigned count = r.U16LE();
    if (count == 0) throw EInvalidGraphic("Icon image is not valid");
    r.Skip(8);
    const std::uint32_t size = r.U32LE();
    const std::uint32_t offset = r.U32LE();
    if (offset > data.size() || size > data.size() - offset || size < sizeof(BITMAPINFOHEADER))
      throw EInvalidGraphic("Icon image is not valid");
    HICON icon = CreateIconFromResourceEx(reinterpret_cast<PBYTE>(data.data() + offset), size, TRUE, 0x00030000, 0, 0,
                                          LR_DEFAULTCOLOR);
    if (!icon) throw EInvalidGraphic("Icon image is not valid");
    SetHandle(icon);
    data_ = std::move(data);
  } catch (const EByteRange&) {
    throw EInvalidGraphic("Icon image is not valid");
  }
}

namespace {

// The rows of a bitmap as a bottom-up DIB of `bits` per pixel and `height` rows.
std::string BitmapRows(HDC dc, HBITMAP bitmap, int width, int height, unsigned bits) {
  std::vector<std::uint32_t> info((sizeof(BITMAPINFOHEADER) + 2 * sizeof(RGBQUAD) + 3) / 4, 0);
  auto* h = reinterpret_cast<BITMAPINFOHEADER*>(info.data());
  h->biSize = sizeof(BITMAPINFOHEADER);
  h->biWidth = width;
  h->biHeight = height;
  h->biPlanes = 1;
  h->biBitCount = static_cast<WORD>(bits);
  std::string rows(static_cast<std::size_t>(DibRowStride(static_cast<std::uint64_t>(width), bits)) *
                       static_cast<std::size_t>(height),
                   '\0');
  if (GetDIBits(dc, bitmap, 0, static_cast<UINT>(height), rows.data(), reinterpret_cast<BITMAPINFO*>(info.data()),
                DIB_RGB_COLORS) != height)
    throw EInvalidGraphic("Icon image is not valid");
  return rows;
}

// An icon file of one image made from an icon handle: a 32-bit colour image
// and its mask, or a monochrome image (mask and colour halves) when the icon
// has no colour bitmap.
std::string IconFileOf(HICON icon) {
  ICONINFO info{};
  if (!GetIconInfo(icon, &info)) throw EInvalidGraphic("Icon image is not valid");
  TScopeExit freeBitmaps([&]() noexcept {
    if (info.hbmColor) DeleteObject(info.hbmColor);
    if (info.hbmMask) DeleteObject(info.hbmMask);
  });
  BITMAP bm{};
  if (!info.hbmMask || !GetObjectA(info.hbmMask, sizeof bm, &bm)) throw EInvalidGraphic("Icon image is not valid");
  const int width = bm.bmWidth;
  const int height = info.hbmColor ? bm.bmHeight : bm.bmHeight / 2;
  if (width <= 0 || height <= 0 || width > 256 || height > 256) throw EInvalidGraphic("Icon image is not valid");
  HDC dc = CreateCompatibleDC(nullptr);
  if (!dc) throw EOutOfResources("Out of system resources");
  TScopeExit freeDc([&]() noexcept { DeleteDC(dc); });
  const unsigned bits = info.hbmColor ? 32 : 1;
  std::string image;
  if (info.hbmColor) {
    image = BitmapRows(dc, info.hbmColor, width, height, 32) + BitmapRows(dc, info.hbmMask, width, height, 1);
  } else {
    // The mask bitmap holds the AND half on top of the XOR half: bottom-up
    // rows give the XOR half first, as the icon file has it.
    image = BitmapRows(dc, info.hbmMask, width, 2 * height, 1);
  }
  std::string file;
  ByteWriter w(file);
  w.U16LE(0);
  w.U16LE(1);
  w.U16LE(1);
  w.U8(static_cast<std::uint8_t>(width & 0xFF));  // 256 is written as 0
  w.U8(static_cast<std::uint8_t>(height & 0xFF));
  w.U8(bits == 1 ? std::uint8_t{2} : std::uint8_t{0});
  w.U8(0);
  w.U16LE(1);
  w.U16LE(static_cast<std::uint16_t>(bits));
  const std::uint32_t palette = bits == 1 ? 8 : 0;
  w.U32LE(static_cast<std::uint32_t>(40 + palette + image.size()));
  w.U32LE(22);
  w.U32LE(40);
  w.U32LE(static_cast<std::uint32_t>(width));
  w.U32LE(static_cast<std::uint32_t>(2 * height));
  w.U16LE(1);
  w.U16LE(static_cast<std::uint16_t>(bits));
  w.U32LE(0);
  w.U32LE(static_cast<std::uint32_t>(image.size()));
  for (int i = 0; i < 4; ++i) w.U32LE(0);
  if (bits == 1) {
    w.U32LE(0);
    w.U32LE(0x00FFFFFF);
  }
  w.Bytes(image);
  return file;
}

}  // namespace

void TIcon::SaveToStream(TStream& stream) {
  if (!data_.empty()) {
    stream.WriteBytes(data_);
    return;
  }
  if (!handle_) throw EInvalidGraphicOperation("Cannot save an empty icon");
  stream.WriteBytes(IconFileOf(handle_));
}

// --- TPicture ----------------------------------------------------------------------------------

void TPicture::Destroy() {
  FreeAndNil(graphic_);
  inherited::Destroy();
}

void TPicture::GraphicChanged(TObject*) {
  if (OnChange) OnChange(this);
}

void TPicture::Adopt(TGraphic* graphic) {
  FreeAndNil(graphic_);
  graphic_ = graphic;
  if (graphic_) graphic_->OnChange = TNotifyEvent::Bind<&TPicture::GraphicChanged>(this);
  GraphicChanged(this);
}

void TPicture::SetGraphic(TGraphic* graphic) {
  if (!graphic) {
    Adopt(nullptr);
    return;
  }
  const ClassInfo& cls = graphic->ClassType();
  if (!cls.create) throw EInvalidGraphic(Format("Cannot create a %s", cls.Name()));
  auto* copy = static_cast<TGraphic*>(cls.create(nullptr));
  try {
    copy->Assign(graphic);
  } catch (...) {
    copy->Free();
    throw;
  }
  Adopt(copy);
}

TBitmap* TPicture::Bitmap() {
  if (!dynamic_cast<TBitmap*>(graphic_)) Adopt(New<TBitmap>());
  return static_cast<TBitmap*>(graphic_);
}

void TPicture::Assign(TPersistent* source) {
  if (!source) {
    Adopt(nullptr);
  } else if (auto* p = dynamic_cast<TPicture*>(source)) {
    SetGraphic(p->graphic_);
  } else if (auto* g = dynamic_cast<TGraphic*>(source)) {
    SetGraphic(g);
  } else {
    inherited::Assign(source);
  }
}

void TPicture::LoadFromFile(const std::string& fileName) {
  const ClassInfo* cls = FindGraphicClassForExtension(fileName);
  if (!cls || !cls->create)
    throw EInvalidGraphic(Format("Unknown picture file extension (%s)", ExtractFileExt(fileName)));
  auto* g = static_cast<TGraphic*>(cls->create(nullptr));
  try {
    g->LoadFromFile(fileName);
  } catch (...) {
    g->Free();
    throw;
  }
  Adopt(g);
}

void TPicture::SaveToFile(const std::string& fileName) {
  if (graphic_) graphic_->SaveToFile(fileName);
}

void TPicture::DefineProperties(TFiler& filer) {
  filer.DefineBinaryProperty(
      "Data",
      [this](TStream& s) {
        const std::uint8_t len = s.ReadU8();
        const std::string className = s.ReadBytes(len);
        if (className.empty()) {
          Adopt(nullptr);
          return;
        }
        const ClassInfo* cls = GetClass(className);
        if (!cls || !cls->create || !cls->InheritsFrom(TGraphic::StaticClass()))
          throw EReadError("Class " + className + " not found");
        auto* g = static_cast<TGraphic*>(cls->create(nullptr));
        try {
          g->ReadData(s);
        } catch (...) {
          g->Free();
          throw;
        }
        Adopt(g);
      },
      [this](TStream& s) {
        const std::string name = graphic_ ? graphic_->ClassName() : "";
        s.WriteU8(static_cast<std::uint8_t>(name.size()));
        s.WriteBytes(name);
        if (graphic_) graphic_->WriteData(s);
      },
      graphic_ != nullptr && !graphic_->Empty());
}

void RegisterGraphicClasses() {
  RegisterClasses({&TBitmap::StaticClass(), &TIcon::StaticClass()});
  RegisterPictureFileFormat("bmp", "Bitmaps", TBitmap::StaticClass());
  RegisterPictureFileFormat("ico", "Icons", TIcon::StaticClass());
  RegisterPictureClipboardFormat(CF_BITMAP, TBitmap::StaticClass());
}
