// RenderHtml: lays a mark-up text out in a rectangle line by line and, in one
// call, paints it, measures it and finds the anchor or picture under a point.
// Every line is handled twice: a measuring pass decides where the line ends
// and how tall it is, then a second pass over exactly the text the first one
// took paints it (or, for hit-testing only, measures it again and records
// hits). The drawing goes through HtmlSurface, so the layout runs anywhere;
// the GDI canvas implements it for the label.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "HtmlMarkup.h"

struct HtmlRect {
  int left = 0, top = 0, right = 0, bottom = 0;
  friend bool operator==(const HtmlRect&, const HtmlRect&) = default;
};

struct HtmlSize {
  int cx = 0, cy = 0;
};

enum : unsigned { kHtmlBold = 1, kHtmlItalic = 2, kHtmlUnderline = 4, kHtmlStrikeOut = 8 };

struct HtmlFont {
  std::string name;
  int size = 8;  // points
  HtmlColor color = 0;
  unsigned style = 0;  // kHtmlBold and the others
  int angle = 0;       // escapement in tenths of a degree; 0 for upright text
  friend bool operator==(const HtmlFont&, const HtmlFont&) = default;
};

// The system's text-drawing flags as the renderer passes them.
inline constexpr unsigned kDtBottom = 0x8, kDtSingleLine = 0x20, kDtExpandTabs = 0x40, kDtExternalLeading = 0x200,
                          kDtCalcRect = 0x400, kDtEndEllipsis = 0x8000;
// Runs: single line, bottom-aligned, tabs expanded, external leading.
inline constexpr unsigned kHtmlRunFlags = kDtSingleLine | kDtBottom | kDtExpandTabs | kDtExternalLeading;

// A picture the surface found: `handle` is the surface's own reference.
struct HtmlPicture {
  void* handle = nullptr;
  bool empty = true;
  int width = 0, height = 0;        // its display size at 96 dots per inch
  int frameLeft = 0, frameTop = 0;  // the shown frame's offset
};

class HtmlSurface {
 public:
  virtual ~HtmlSurface() = default;
  virtual HtmlFont Font() = 0;
  virtual void SetFont(const HtmlFont& font) = 0;
  // The brush colour; kHtmlClNone is a clear brush.
  virtual HtmlColor BrushColor() = 0;
  virtual void SetBrushColor(HtmlColor color) = 0;
  virtual void SetTransparentBackground() = 0;
  // The part of the surface that drawing can reach.
  virtual HtmlRect ClipBounds() = 0;
  // Text size without prefix processing.
  virtual HtmlSize TextExtent(std::string_view text) = 0;
  // The system's DrawText with prefix processing: with kDtCalcRect the size
  // of `text` laid into `rect`, otherwise the text is drawn into it.
  virtual HtmlSize MeasureText(std::string_view text, const HtmlRect& rect, unsigned flags) = 0;
  virtual void DrawRun(std::string_view text, const HtmlRect& rect, unsigned flags) = 0;
  // Fills with the colour (brush and pen); nothing for kHtmlClNone.
  virtual void FillRect(const HtmlRect& rect, HtmlColor color) = 0;
  // A 1-pixel line from (x0, y0) to (x1, y1), the end point left out.
  virtual void DrawLine(int x0, int y0, int x1, int y1, HtmlColor color) = 0;
  virtual std::uint32_t ColorToRGB(HtmlColor color) = 0;
  virtual int PixelsPerInchX() = 0;
  virtual int PixelsPerInchY() = 0;
  // Pictures: by name from the picture container, by location from the
  // picture cache (added and loaded when missing).
  virtual HtmlPicture NamedPicture(std::string_view name) = 0;
  virtual HtmlPicture LocatedPicture(std::string_view location) = 0;
  // At its natural size at dest's top-left, or stretched into dest; clipped to `clip`.
  virtual void DrawPicture(const HtmlPicture& picture, const HtmlRect& dest, bool stretch, const HtmlRect& clip) = 0;
  // The image list: false when there is none.
  virtual bool ImageListSize(int& count, int& width, int& height) = 0;
  virtual void DrawListImage(int index, int x, int y) = 0;
  // The shell's system image lists (small or large).
  virtual bool ShellIconSize(bool large, int& width, int& height) = 0;
  virtual void DrawShellIcon(std::string_view source, bool large, int x, int y) = 0;
};

struct HtmlRenderOptions {
  HtmlColor shadowColor = 0x808080;
  int shadowOffset = 2;
  HtmlColor urlColor = 0xFF0000;
  HtmlColor hoverColor = kHtmlClNone, hoverFontColor = kHtmlClNone;
  bool hover = false;
  int hoveredAnchor = -1;
  bool wordWrap = true;
  bool hitTestOnly = false;
  int x = -1, y = -1;  // the point to test
};

struct HtmlRenderResult {
  bool hit = false;  // the point lies on an anchor's text or on a picture inside an anchor
  std::string anchor;
  int anchorNumber = -1;
  HtmlRect anchorRect{-1, -1, -1, -1};
  int width = 0, height = 0;
};

HtmlRenderResult RenderHtml(HtmlSurface& surface, std::string_view text, const HtmlRect& rect,
                            const HtmlRenderOptions& options);
