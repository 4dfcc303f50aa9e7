#include "VirtualTreeHeaderPaint.h"

#include <commctrl.h>

#include <algorithm>

#include "VirtualTreeColumns.h"
#include "VirtualTreeHeader.h"
#include "VirtualTreesWin.h"

namespace {

COLORREF ToColorRef(std::uint32_t rgb) {
  return RGB((rgb >> 16) & 0xFF, (rgb >> 8) & 0xFF, rgb & 0xFF);
}

void Fill(HDC dc, const RECT& r, std::uint32_t rgb) {
  const COLORREF old = SetBkColor(dc, ToColorRef(rgb));
  ExtTextOutW(dc, 0, 0, ETO_OPAQUE, &r, nullptr, 0, nullptr);
  SetBkColor(dc, old);
}

// A polyline in one colour.
void Lines(HDC dc, std::uint32_t rgb, std::initializer_list<POINT> points) {
  HPEN pen = CreatePen(PS_SOLID, 1, ToColorRef(rgb));
  HGDIOBJ old = SelectObject(dc, pen);
  auto it = points.begin();
  MoveToEx(dc, it->x, it->y, nullptr);
  for (++it; it != points.end(); ++it) LineTo(dc, it->x, it->y);
  SelectObject(dc, old);
  DeleteObject(pen);
}

void DrawListImage(TCustomImageList* list, HDC dc, int index, int x, int y, bool enabled) {
  if (!list || index < 0 || index >= list->Count()) return;
  ImageList_DrawEx(list->Handle(), index, dc, x, y, 0, 0, CLR_NONE, CLR_NONE, ILD_NORMAL | (enabled ? 0 : ILD_BLEND50));
}

// Clips `dc` to `r` while it lives.
struct ClipTo {
  HDC dc;
  ClipTo(HDC d, const RECT& r) : dc(d) {
    HRGN region = CreateRectRgnIndirect(&r);
    SelectClipRgn(dc, region);
    DeleteObject(region);
  }
  ~ClipTo() { SelectClipRgn(dc, nullptr); }
};

}  // namespace

void DrawXPStyleHeaderButton(HDC dc, const RECT& cell, bool separator, bool hot, bool pressed) {
  using namespace xpheader;
  const std::uint32_t fill = pressed ? kFillPressed : hot ? kFillHot : kFillNormal;
  Fill(dc, cell, fill);
  if (separator && !pressed && !hot) {
    Fill(dc, RECT{cell.right - 2, cell.top + 3, cell.right - 1, cell.bottom - 5}, kSeparatorDark);
    Fill(dc, RECT{cell.right - 1, cell.top + 3, cell.right, cell.bottom - 5}, kSeparatorLight);
  }
  if (hot && !pressed) {
    if (UtilityImages) {
      for (const TVTBarPiece& piece : XPStyleHotBar(cell.left, cell.right))
        ImageList_DrawEx(UtilityImages->Handle(), piece.Image, dc, piece.X, cell.bottom - 3, piece.Width, 3, CLR_NONE,
                         CLR_NONE, ILD_NORMAL);
    }
  } else if (!pressed) {
    std::uint32_t lines[3];
    XPStyleGradient(fill, kGradientEnd, lines);
    for (int i = 0; i < 3; ++i)
      Fill(dc, RECT{cell.left, cell.bottom - 3 + i, cell.right, cell.bottom - 2 + i}, lines[i]);
  } else {
    Lines(dc, kPressedOuter,
          {{cell.left, cell.top},
           {cell.left, cell.bottom - 1},
           {cell.right - 1, cell.bottom - 1},
           {cell.right - 1, cell.top - 1}});
    Lines(dc, kPressedMiddle,
          {{cell.left + 1, cell.bottom - 2}, {cell.left + 1, cell.top}, {cell.right - 1, cell.top}});
    Lines(dc, kPressedInner,
          {{cell.left + 2, cell.bottom - 2}, {cell.left + 2, cell.top + 1}, {cell.right - 1, cell.top + 1}});
  }
}

void DrawButtonText(HDC dc, const std::u16string& caption, const RECT& cell, bool hot, bool enabled, UINT format,
                    TColor fontColor) {
  std::u16string text = caption;
  SIZE size{};
  GetTextExtentPoint32W(dc, reinterpret_cast<LPCWSTR>(text.c_str()), static_cast<int>(text.size()), &size);
  const int width = cell.right - cell.left;
  if (size.cx > width) {
    SIZE dots{};
    GetTextExtentPoint32W(dc, L"...", 3, &dots);
    text = ShortenWideText(dc, text, width, dots.cx, (format & DT_RTLREADING) != 0);
  }
  const int oldMode = SetBkMode(dc, TRANSPARENT);
  RECT r = cell;
  if (enabled) {
    SetTextColor(dc, ColorToRGB(hot ? clBtnShadow : fontColor));
    DrawWideTextLines(dc, text, false, format, r);
  } else {
    OffsetRect(&r, 1, 1);
    SetTextColor(dc, ColorToRGB(clBtnHighlight));
    DrawWideTextLines(dc, text, false, format, r);
    r = cell;
    SetTextColor(dc, ColorToRGB(clBtnShadow));
    DrawWideTextLines(dc, text, false, format, r);
  }
  SetBkMode(dc, oldMode);
}

void PaintHeaderBand(TVirtualTreeColumns& columns, HDC dc, const RECT& target, int shift) {
  TVTHeader& header = *columns.Header();
  TBaseVirtualTree* tree = header.Tree();
  if (!tree || target.right <= target.left || target.bottom <= target.top) return;
  HDC band = columns.HeaderBitmapDC(target.right, target.bottom);
  if (!band) return;
  const bool themed = tree->Tree().HasTreeState(tsUseThemes) && columns.HeaderTheme();
  const bool ownerDrawing = header.HasOption(kHeaderOwnerDraw) && tree->OnHeaderDraw.Assigned() &&
                            !tree->ComponentState().Contains(csDesigning);
  HGDIOBJ oldFont = SelectObject(band, header.GetFont()->Handle());
  const int style = static_cast<int>(header.GetStyle());
  const bool lastWithoutBorder =
      style != kHeaderThickButtons && header.HasOption(kHeaderAutoResize) && tree->BevelKind != bkNone;
  const int lastPosition = columns.Count() - 1;
  TCustomImageList* images = header.GetImages();

  int x = shift + target.left;
  const std::vector<int> order = columns.PositionToIndex();
  for (std::size_t position = 0; position < order.size(); ++position) {
    TVirtualTreeColumn* column = columns.ColumnAt(order[position]);
    if (!column || !column->HasOption(kColumnVisible)) continue;
    const int index = column->Index();
    const RECT cell{x, target.top, x + column->GetWidth(), target.bottom};
    x = cell.right;
    if (cell.right <= target.left) continue;
    if (cell.left > target.right) break;

    const bool hover =
        columns.HoverColumn == index && header.HasOption(kHeaderHotTrack) && column->HasOption(kColumnEnabled);
    const bool pressed = columns.DownColumn == index;
    int dropMark = 0;
    if (column->HasOption(kColumnShowDropMark) && columns.DropTarget == index && columns.DragColumn != index)
      dropMark = columns.DropBefore ? 1 : 2;
    const bool enabled = column->HasOption(kColumnEnabled) && tree->GetEnabled();
    const bool showImage = header.HasOption(kHeaderShowImages) && images && column->GetImageIndex() >= 0;
    const bool showGlyph = header.GetSortColumn() == index && header.HasOption(kHeaderShowSortGlyphs);
    const bool ownerDrawn = column->GetStyle() == vsOwnerDraw && ownerDrawing;
    const bool rightBorder = !(lastWithoutBorder && static_cast<int>(position) == lastPosition);

    if (!ownerDrawn) {
      RECT frame = cell;
      if (themed) {
        const int part = rightBorder ? 1 : 2;
        const int state = pressed ? 3 : hover ? 2 : 1;
        Themes::DrawThemeBackground(columns.HeaderTheme(), band, part, state, &frame, nullptr);
      } else if (style == kHeaderXPStyle) {
        DrawXPStyleHeaderButton(band, cell, rightBorder, hover, pressed);
      } else {
        TVTHeaderFrame f;
        if (pressed)
          f = HeaderFrame(style, 1);
        else if (hover && style == kHeaderPlates && column->HasOption(kColumnAllowClick) &&
                 column->HasOption(kColumnEnabled))
          f = HeaderFrame(style, 2);
        else {
          f = HeaderFrame(style, 0);
          if (rightBorder) f.Flags |= kBorderRight;
        }
        DrawEdge(band, &frame, f.Edge, f.Flags);
      }
    }

    RECT clip;
    IntersectRect(&clip, &cell, &target);
    ClipTo clipping(band, clip);
    if (ownerDrawn) {
      {
        TOwned<TCanvas> canvas(New<TCanvas>());
        canvas->SetHandle(band);
        struct Detach {
          TCanvas* canvas;
          ~Detach() { canvas->SetHandle(nullptr); }
        } detach{canvas.get()};
        tree->DrawHeaderCellByEvent(canvas.get(), column, dropMark, pressed, hover, cell);
      }
      SelectObject(band, header.GetFont()->Handle());
      continue;
    }
    RECT inner = cell;
    InflateRect(&inner, -2, -2);
    const UINT format = column->IsRightToLeft() ? DT_RTLREADING : 0;
    TVTHeaderLayout layout = column->ComputeHeaderLayout(band, inner, showGlyph, showImage);
    if (pressed) {
      OffsetRect(reinterpret_cast<RECT*>(&layout.Caption), 1, 1);
      ++layout.ImageX, ++layout.ImageY, ++layout.GlyphX, ++layout.GlyphY;
    }
    if (showImage && layout.Computed) {
      const bool glyphClear =
          !showGlyph || column->IsRightToLeft() || layout.GlyphX >= layout.ImageX + images->GetWidth();
      if (glyphClear) DrawListImage(images, band, column->GetImageIndex(), layout.ImageX, layout.ImageY, enabled);
    }
    if (!column->GetText().empty() && layout.Computed) {
      const RECT caption{layout.Caption.Left, layout.Caption.Top, layout.Caption.Right, layout.Caption.Bottom};
      DrawButtonText(band, column->GetText(), caption, hover && header.HasOption(kHeaderHotTrack) && !themed, enabled,
                     format, header.GetFont()->GetColor());
    }
    if (showGlyph && layout.Computed)
      DrawListImage(UtilityImages, band, SortGlyphImage(header.GetSortDirection(), themed), layout.GlyphX,
                    layout.GlyphY, true);
    if (dropMark && UtilityImages) {
      const int y = (cell.top + cell.bottom - UtilityImages->GetHeight()) / 2;
      if (dropMark == 1)
        DrawListImage(UtilityImages, band, kDropMarkBeforeImage, cell.left, y, true);
      else
        DrawListImage(UtilityImages, band, kDropMarkAfterImage, cell.right - 16, y, true);
    }
  }

  if (x < target.right) {
    const RECT rest{std::max(x, static_cast<int>(target.left)), target.top, target.right, target.bottom};
    ClipTo clipping(band, rest);
    RECT frame = rest;
    if (themed)
      Themes::DrawThemeBackground(columns.HeaderTheme(), band, 3, 1, &frame, nullptr);
    else if (style == kHeaderXPStyle)
      DrawXPStyleHeaderButton(band, rest, false, false, false);
    else
      FillRectColor(band, rest, header.GetBackground());
  }
  SelectObject(band, oldFont);
  BitBlt(dc, target.left, target.top, target.right - target.left, target.bottom - target.top, band, target.left,
         target.top, SRCCOPY);
}
