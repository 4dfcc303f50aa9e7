// Graphics: colours, GDI object wrappers (TFont, TPen, TBrush), the canvas,
// and the picture classes (TGraphic, TBitmap on the portable DIB, TIcon,
// TPicture). GDI handles are made on demand and remade after a change.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

#include "Dib.h"
#include "FontCharsets.h"
#include "IdentMaps.h"
#include "Persistent.h"
#include "Thread.h"
#include "Types.h"

class TStream;

// $00BBGGRR; system colours are $80000000 + the COLOR_* index. A TColor is
// an integer with the colour identifiers ("clBtnFace") as its names in form data.
struct TColorTag {
  static const TypeInfo* Info();
};
using TColor = TNamedInt<TColorTag, std::int32_t>;
constexpr TColor clSystemColor = static_cast<std::int32_t>(0x80000000u);
constexpr TColor clBlack = 0x000000, clMaroon = 0x000080, clGreen = 0x008000, clOlive = 0x008080, clNavy = 0x800000,
                 clPurple = 0x800080, clTeal = 0x808000, clGray = 0x808080, clSilver = 0xC0C0C0, clRed = 0x0000FF,
                 clLime = 0x00FF00, clYellow = 0x00FFFF, clBlue = 0xFF0000, clFuchsia = 0xFF00FF, clAqua = 0xFFFF00,
                 clWhite = 0xFFFFFF, clLtGray = clSilver, clDkGray = clGray, clMoneyGreen = 0xC0DCC0,
                 clSkyBlue = 0xF0CAA6, clCream = 0xF0FBFF, clMedGray = 0xA4A0A0;
constexpr TColor clNone = 0x1FFFFFFF, clDefault = 0x20000000;
constexpr TColor clScrollBar = clSystemColor | COLOR_SCROLLBAR, clBackground = clSystemColor | COLOR_BACKGROUND,
                 clActiveCaption = clSystemColor | COLOR_ACTIVECAPTION,
                 clInactiveCaption = clSystemColor | COLOR_INACTIVECAPTION, clMenu = clSystemColor | COLOR_MENU,
                 clWindow = clSystemColor | COLOR_WINDOW, clWindowFrame = clSystemColor | COLOR_WINDOWFRAME,
                 clMenuText = clSystemColor | COLOR_MENUTEXT, clWindowText = clSystemColor | COLOR_WINDOWTEXT,
                 clCaptionText = clSystemColor | COLOR_CAPTIONTEXT, clActiveBorder = clSystemColor | COLOR_ACTIVEBORDER,
                 clInactiveBorder = clSystemColor | COLOR_INACTIVEBORDER,
                 clAppWorkSpace = clSystemColor | COLOR_APPWORKSPACE, clHighlight = clSystemColor | COLOR_HIGHLIGHT,
                 clHighlightText = clSystemColor | COLOR_HIGHLIGHTTEXT, clBtnFace = clSystemColor | COLOR_BTNFACE,
                 clBtnShadow = clSystemColor | COLOR_BTNSHADOW, clGrayText = clSystemColor | COLOR_GRAYTEXT,
                 clBtnText = clSystemColor | COLOR_BTNTEXT,
                 clInactiveCaptionText = clSystemColor | COLOR_INACTIVECAPTIONTEXT,
                 clBtnHighlight = clSystemColor | COLOR_BTNHIGHLIGHT, cl3DDkShadow = clSystemColor | COLOR_3DDKSHADOW,
                 cl3DLight = clSystemColor | COLOR_3DLIGHT, clInfoText = clSystemColor | COLOR_INFOTEXT,
                 clInfoBk = clSystemColor | COLOR_INFOBK, clHotLight = clSystemColor | 26,
                 clGradientActiveCaption = clSystemColor | 27, clGradientInactiveCaption = clSystemColor | 28,
                 clMenuHighlight = clSystemColor | 29, clMenuBar = clSystemColor | 30;

// A font's character set: TFontCharset (FontCharsets.h), named by the system's identifiers in form data.

// System colours through the system; others as they are.
COLORREF ColorToRGB(TColor color);
// Fills `r` with a colour (a system colour with the system's brush).
void FillRectColor(HDC dc, const RECT& r, TColor color);
// Colour identifiers ("clBlue") for form text.
bool ColorToIdent(std::int64_t color, std::string& ident);
bool IdentToColor(const std::string& ident, std::int64_t& color);

FW_ENUM(TFontStyle, fsBold, fsItalic, fsUnderline, fsStrikeOut);
using TFontStyles = Set<TFontStyle>;
FW_ENUM(TPenStyle, psSolid, psDash, psDot, psDashDot, psDashDotDot, psClear, psInsideFrame);
FW_ENUM(TBrushStyle, bsSolid, bsClear, bsHorizontal, bsVertical, bsFDiagonal, bsBDiagonal, bsCross, bsDiagCross);

class TGraphicsObject : public TPersistent {
  FW_CLASS(TGraphicsObject, TPersistent)
 public:
  void Destroy() override;
  TNotifyEvent OnChange;

 protected:
  void Changed();  // drops the handle and reports the change
  virtual void FreeHandle() {}
};

class TFont : public TGraphicsObject {
  FW_CLASS(TFont, TGraphicsObject)
 public:
  TFont();
  void Assign(TPersistent* source) override;
  HFONT Handle();
  // Adopts a font handle (its attributes become the font's); the font owns it.
  void SetHandle(HFONT font);

  std::string GetName() const { return name_; }
  void SetName(const std::string& v);
  int GetHeight() const { return height_; }  // negative: character height in pixels
  void SetHeight(int v);
  int GetSize() const;  // points
  void SetSize(int v);
  TColor GetColor() const { return color_; }
  void SetColor(TColor v);
  TFontStyles GetStyle() const { return style_; }
  void SetStyle(TFontStyles v);
  TFontCharset GetCharset() const { return charset_; }
  void SetCharset(TFontCharset v);

 protected:
  void FreeHandle() override;

 private:
  std::string name_ = "MS Sans Serif";
  int height_ = -11;
  TColor color_ = clWindowText;
  TFontStyles style_;
  TFontCharset charset_ = DEFAULT_CHARSET;
  HFONT handle_ = nullptr;
};

class TPen : public TGraphicsObject {
  FW_CLASS(TPen, TGraphicsObject)
 public:
  void Assign(TPersistent* source) override;
  HPEN Handle();
  TColor GetColor() const { return color_; }
  void SetColor(TColor v);
  int GetWidth() const { return width_; }
  void SetWidth(int v);
  TPenStyle GetStyle() const { return style_; }
  void SetStyle(TPenStyle v);

 protected:
  void FreeHandle() override;

 private:
  TColor color_ = clBlack;
  int width_ = 1;
  TPenStyle style_ = psSolid;
  HPEN handle_ = nullptr;
};

class TBrush : public TGraphicsObject {
  FW_CLASS(TBrush, TGraphicsObject)
 public:
  void Assign(TPersistent* source) override;
  HBRUSH Handle();
  TColor GetColor() const { return color_; }
  void SetColor(TColor v);
  TBrushStyle GetStyle() const { return style_; }
  void SetStyle(TBrushStyle v);

 protected:
  void FreeHandle() override;

 private:
  TColor color_ = clWhite;
  TBrushStyle style_ = bsSolid;
  HBRUSH handle_ = nullptr;
};

class TGraphic;

// Drawing on a device context. The font, pen and brush are selected into the
// context when it is used; Lock/Unlock serialise drawing between threads.
class TCanvas : public TPersistent {
  FW_CLASS(TCanvas, TPersistent)
 public:
  TCanvas();
  void Destroy() override;

  // The context. Setting one (say a DC given for one call) attaches the canvas to it; null detaches.
  HDC Handle();
  void SetHandle(HDC dc);
  bool HandleAllocated() const { return dc_ != nullptr; }

  TFont* Font() const { return font_; }
  TPen* Pen() const { return pen_; }
  TBrush* Brush() const { return brush_; }

  void FillRect(const RECT& r);
  void FrameRect(const RECT& r);
  void Rectangle(int x1, int y1, int x2, int y2);
  void MoveTo(int x, int y);
  void LineTo(int x, int y);
  void TextOut(int x, int y, const std::string& text);
  void TextRect(const RECT& r, int x, int y, const std::string& text);
  SIZE TextExtent(const std::string& text);
  int TextWidth(const std::string& text) { return TextExtent(text).cx; }
  int TextHeight(const std::string& text) { return TextExtent(text).cy; }
  void DrawFocusRect(const RECT& r);
  void Draw(int x, int y, TGraphic* graphic);
  void StretchDraw(const RECT& r, TGraphic* graphic);
  TColor Pixel(int x, int y);
  void SetPixel(int x, int y, TColor color);

  void Lock() { lock_.Acquire(); }
  void Unlock() { lock_.Release(); }
  bool TryLock() { return lock_.TryEnter(); }
  TNotifyEvent OnChange;

 protected:
  // Descendants make a context on demand (a memory DC for a bitmap).
  virtual void CreateHandle() {}
  void Changed();
  void RequireState();  // selects the font, pen and brush

 private:
  void ObjectChanged(TObject*);
  HDC dc_ = nullptr;
  TFont* font_;
  TPen* pen_;
  TBrush* brush_;
  HGDIOBJ oldFont_ = nullptr, oldPen_ = nullptr, oldBrush_ = nullptr;
  bool stateValid_ = false;
  TCriticalSection lock_;
};

// A picture kind. Data streaming ("Data" in form resources) writes the
// graphic's own file format.
FW_ENUM(TProgressStage, psStarting, psRunning, psEnding);
// Progress of a long load or save: the stage, percent done, whether the
// rectangle of the picture already made may be drawn, and a message.
using TProgressEvent = Method<void(TObject* sender, TProgressStage stage, std::uint8_t percent, bool redraw,
                                   const RECT& r, const std::string& message)>;

class TGraphic : public TPersistent {
  FW_CLASS(TGraphic, TPersistent)
 public:
  virtual void Draw(TCanvas& canvas, const RECT& r) = 0;
  virtual bool Empty() const = 0;
  virtual int GetWidth() const = 0;
  virtual int GetHeight() const = 0;
  virtual void SetWidth(int) {}
  virtual void SetHeight(int) {}
  virtual void LoadFromStream(TStream& stream) = 0;
  virtual void SaveToStream(TStream& stream) = 0;
  virtual void LoadFromFile(const std::string& fileName);
  virtual void SaveToFile(const std::string& fileName);
  // Whether the graphic is drawn leaving a colour out; by default the flag set.
  virtual bool GetTransparent() const { return transparent_; }
  virtual void SetTransparent(bool v);
  // The logical palette its pixels need (null for none); the graphic owns it.
  virtual HPALETTE GetPalette() { return nullptr; }
  // Set when the palette was made anew; its user clears it once realized.
  bool GetPaletteModified() const { return paletteModified_; }
  void SetPaletteModified(bool v) { paletteModified_ = v; }
  // The same picture: by default the same class and the same saved bytes.
  virtual bool Equals(TGraphic* other);
  // A clipboard handle of `format` (with its palette) into the graphic, and
  // the graphic into a new handle for the clipboard. The base class knows no
  // format: EInvalidGraphic "Unsupported clipboard format".
  virtual void LoadFromClipboardFormat(std::uint32_t format, HANDLE data, HPALETTE palette);
  virtual void SaveToClipboardFormat(std::uint32_t& format, HANDLE& data, HPALETTE& palette);
  void DefineProperties(TFiler& filer) override;
  TNotifyEvent OnChange;
  TProgressEvent OnProgress;

 protected:
  friend class TPicture;
  virtual void Changed();
  void Progress(TObject* sender, TProgressStage stage, std::uint8_t percent, bool redraw, const RECT& r,
                const std::string& message);
  bool paletteModified_ = false;
  // The graphic's form data (its part of the "Data" value); by default its file format.
  virtual void ReadData(TStream& stream);
  virtual void WriteData(TStream& stream);

 private:
  bool transparent_ = false;
};

class TBitmapCanvas;

// A bitmap kept as a portable DIB; the GDI handle (a DIB section) and the
// canvas are made on demand. While a handle exists it holds the pixels.
class TBitmap : public TGraphic {
  FW_CLASS(TBitmap, TGraphic)
 public:
  TBitmap();
  void Destroy() override;
  void Assign(TPersistent* source) override;

  void Draw(TCanvas& canvas, const RECT& r) override;
  bool Empty() const override;
  int GetWidth() const override;
  int GetHeight() const override;
  void SetWidth(int v) override;
  void SetHeight(int v) override;
  void SetSize(int width, int height);
  TPixelFormat GetPixelFormat();
  void SetPixelFormat(TPixelFormat f);
  void LoadFromStream(TStream& stream) override;  // a BMP file
  void SaveToStream(TStream& stream) override;
  // An RT_BITMAP resource of the module as given (not of its language
  // library); raises EResNotFound when missing.
  void LoadFromResourceName(HINSTANCE module, const std::string& name);
  void LoadFromResourceID(HINSTANCE module, int id);

  // A DIB section with the pixels (made on demand); raises EInvalidGraphic
  // "Bitmap image is not valid" for an empty bitmap.
  HBITMAP Handle();
  // Adopts a bitmap (for instance one from LoadBitmap); the bitmap owns it.
  void SetHandle(HBITMAP bitmap);
  bool HandleAllocated() const { return handle_ != nullptr; }
  // A GDI bitmap is selected into one context at a time: this releases the
  // canvas's context so the handle can be selected elsewhere (the canvas
  // makes a new one when drawn on again).
  void ReleaseCanvasContext();
  TCanvas* Canvas();
  // The pixels (brought up to date from the handle).
  const TDib& Dib();
  void SetDib(TDib dib);

  // The colour left out by transparent drawing: the one set, or with
  // clDefault (the default) the colour of the bottom-left pixel.
  TColor GetTransparentColor();
  void SetTransparentColor(TColor color);

  // A monochrome bitmap has one bit a pixel (black and white); setting it
  // converts the pixels (to 1 bit, or back to 24).
  bool GetMonochrome() const;
  void SetMonochrome(bool v);

  // A logical palette made from the colour table of a palettised bitmap (null
  // for the others and for an empty one); the bitmap owns it. A new palette
  // (new pixels) sets the palette-modified mark, which its user clears once it
  // has realized the palette.
  HPALETTE Palette();
  HPALETTE GetPalette() override { return Palette(); }
  // CF_BITMAP: a copy of the system bitmap, its colours read through `palette` when given.
  void LoadFromClipboardFormat(std::uint32_t format, HANDLE data, HPALETTE palette) override;
  // CF_BITMAP: a new system bitmap of the pixels and a copy of the palette (or null).
  void SaveToClipboardFormat(std::uint32_t& format, HANDLE& data, HPALETTE& palette) override;

 protected:
  // Form data: a u32 size, then a BMP file.
  void ReadData(TStream& stream) override;
  void WriteData(TStream& stream) override;
  void Changed() override;

 private:
  void FreePalette();
  void DrawUnlocked(TCanvas& canvas, const RECT& r);
  void FreeImage();
  void SyncFromHandle();
  TDib dib_;
  HBITMAP handle_ = nullptr;
  void* sectionBits_ = nullptr;
  TBitmapCanvas* canvas_ = nullptr;
  TColor transparentColor_ = clDefault;
  HPALETTE palette_ = nullptr;
};

// A process-wide switch (off at start): while it is on, every Draw of a plain
// TBitmap (not of a descendant class) holds the bitmap's own canvas lock, so
// that two threads drawing one bitmap take turns.
void SetLockedBitmapDraw(bool on);
bool LockedBitmapDraw();

// An icon; its stream format is the icon file. An icon loaded from a file
// saves that file; one made from a handle (LoadIcon and the like) saves an
// icon file of its image: 32 bits and a mask, or 1 bit for a monochrome icon.
class TIcon : public TGraphic {
  FW_CLASS(TIcon, TGraphic)
 public:
  void Destroy() override;
  void Assign(TPersistent* source) override;
  void Draw(TCanvas& canvas, const RECT& r) override;
  bool Empty() const override { return handle_ == nullptr; }
  bool GetTransparent() const override { return true; }  // an icon has its mask
  int GetWidth() const override;
  int GetHeight() const override;
  void LoadFromStream(TStream& stream) override;
  void SaveToStream(TStream& stream) override;
  HICON Handle() const { return handle_; }
  void SetHandle(HICON icon);  // the icon owns it

 private:
  HICON handle_ = nullptr;
  std::string data_;  // the icon file it was loaded from
};

// Holds one graphic of any registered kind.
class TPicture : public TPersistent {
  FW_CLASS(TPicture, TPersistent)
 public:
  void Destroy() override;
  void Assign(TPersistent* source) override;
  TGraphic* Graphic() const { return graphic_; }
  void SetGraphic(TGraphic* graphic);  // copies it
  // The graphic as a bitmap (replacing another kind with an empty bitmap).
  TBitmap* Bitmap();
  // By the registered class of the file's extension; raises EInvalidGraphic for an unknown one.
  void LoadFromFile(const std::string& fileName);
  void SaveToFile(const std::string& fileName);
  int Width() const { return graphic_ ? graphic_->GetWidth() : 0; }
  int Height() const { return graphic_ ? graphic_->GetHeight() : 0; }
  void DefineProperties(TFiler& filer) override;  // "Data": class name, then the graphic's data
  TNotifyEvent OnChange;

 private:
  void GraphicChanged(TObject*);
  void Adopt(TGraphic* graphic);
  TGraphic* graphic_ = nullptr;
};

// Registers the graphic classes (bmp, ico) with the picture registry and the class registry.
void RegisterGraphicClasses();
