#include "VirtualTreeHeader.h"

#include <algorithm>
#include <cmath>
#include <numeric>

int ClampColumnWidth(const TVTColumnMetrics& column, int width) {
  if (width < column.MinWidth) width = column.MinWidth;
  if (width > column.MaxWidth) width = column.MaxWidth;
  return width;
}

int ClampMaxWidth(int value, int minWidth) {
  return std::min(std::max(value, minWidth), kMaxColumnWidth);
}

int ClampMinWidth(int value, int maxWidth) {
  return std::min(std::max(value, 0), maxWidth);
}

int ClampMargin(int value) {
  return value < 0 ? 4 : value;
}

// --- Positions --------------------------------------------------------------------------------------

void TVTColumnPositions::ComputeEdges(TVTColumnSpan columns) const {
  int sum = 0;
  for (std::size_t p = 0; p < Entries.size(); ++p) {
    const int index = Entries[p];
    if (index < 0 || index >= static_cast<int>(columns.size())) continue;
    TVTColumnMetrics& c = *columns[static_cast<std::size_t>(index)];
    c.Position = static_cast<std::uint32_t>(p);
    c.Left = sum;
    if (c.Visible()) sum += c.Width;
  }
}

void TVTColumnPositions::Rebuild(TVTColumnSpan columns) {
  Entries.resize(columns.size());
  std::iota(Entries.begin(), Entries.end(), 0);
  std::stable_sort(Entries.begin(), Entries.end(), [&](int a, int b) {
    return columns[static_cast<std::size_t>(a)]->Position < columns[static_cast<std::size_t>(b)]->Position;
  });
  ComputeEdges(columns);
}

bool TVTColumnPositions::Adjust(TVTColumnSpan columns) {
  if (Consistent(columns)) return false;
  // Ranking by the stored positions keeps the order the user sees: the
  // columns that remain keep their places relative to each other, a new one
  // goes where its Position puts it (last, for a fresh column), and every
  // position from 0 to count - 1 names exactly one column.
  Entries.resize(columns.size());
  std::iota(Entries.begin(), Entries.end(), 0);
  std::stable_sort(Entries.begin(), Entries.end(), [&](int a, int b) {
    return columns[static_cast<std::size_t>(a)]->Position < columns[static_cast<std::size_t>(b)]->Position;
  });
  for (std::size_t p = 0; p < Entries.size(); ++p)
    columns[static_cast<std::size_t>(Entries[p])]->Position = static_cast<std::uint32_t>(p);
  return true;
}

bool TVTColumnPositions::Consistent(TVTColumnSpan columns) const {
  if (Entries.size() != columns.size()) return false;
  for (std::size_t p = 0; p < Entries.size(); ++p) {
    const int index = Entries[p];
    if (index < 0 || index >= static_cast<int>(columns.size())) return false;
    if (columns[static_cast<std::size_t>(index)]->Position != p) return false;
  }
  return true;  // each column's Position names one entry, so no index repeats
}

void TVTColumnPositions::MoveEntry(TVTColumnSpan columns, int column, int position) {
  if (column < 0 || column >= static_cast<int>(columns.size()) || position < 0 || position >= Count()) return;
  auto at = std::find(Entries.begin(), Entries.end(), column);
  if (at == Entries.end()) return;
  const int old = static_cast<int>(at - Entries.begin());
  if (old == position) return;
  if (old < position)
    std::rotate(Entries.begin() + old, Entries.begin() + old + 1, Entries.begin() + position + 1);
  else
    std::rotate(Entries.begin() + position, Entries.begin() + old, Entries.begin() + old + 1);
}

int TVTColumnPositions::IndexAt(int position) const {
  return position >= 0 && position < Count() ? Entries[static_cast<std::size_t>(position)] : InvalidColumn;
}

// --- Walks ----------------------------------------------------------------------------------------------

namespace {

bool ValidIndex(TVTColumnSpan columns, int column) {
  return column >= 0 && column < static_cast<int>(columns.size());
}

}  // namespace

int FirstVisibleColumn(const TVTColumnPositions& map, TVTColumnSpan columns) {
  for (int index : map.Entries)
    if (ValidIndex(columns, index) && columns[static_cast<std::size_t>(index)]->Visible()) return index;
  return InvalidColumn;
}

int LastVisibleColumn(const TVTColumnPositions& map, TVTColumnSpan columns) {
  for (auto it = map.Entries.rbegin(); it != map.Entries.rend(); ++it)
    if (ValidIndex(columns, *it) && columns[static_cast<std::size_t>(*it)]->Visible()) return *it;
  return InvalidColumn;
}

int NextColumn(const TVTColumnPositions& map, TVTColumnSpan columns, int column) {
  if (!ValidIndex(columns, column)) return InvalidColumn;
  return map.IndexAt(static_cast<int>(columns[static_cast<std::size_t>(column)]->Position) + 1);
}

int PreviousColumn(const TVTColumnPositions& map, TVTColumnSpan columns, int column) {
  if (!ValidIndex(columns, column)) return InvalidColumn;
  return map.IndexAt(static_cast<int>(columns[static_cast<std::size_t>(column)]->Position) - 1);
}

int NextVisibleColumn(const TVTColumnPositions& map, TVTColumnSpan columns, int column) {
  do column = NextColumn(map, columns, column);
  while (column != InvalidColumn && !columns[static_cast<std::size_t>(column)]->Visible());
  return column;
}

int PreviousVisibleColumn(const TVTColumnPositions& map, TVTColumnSpan columns, int column) {
  do column = PreviousColumn(map, columns, column);
  while (column != InvalidColumn && !columns[static_cast<std::size_t>(column)]->Visible());
  return column;
}

int TotalVisibleWidth(const TVTColumnPositions& map, TVTColumnSpan columns) {
  const int last = LastVisibleColumn(map, columns);
  if (last == InvalidColumn) return 0;
  const TVTColumnMetrics& c = *columns[static_cast<std::size_t>(last)];
  return c.Left + c.Width;
}

void FillColumnLayout(const TVTColumnPositions& map, TVTColumnSpan columns, TVTColumnLayout& layout) {
  layout.Columns.clear();
  for (int index : map.Entries) {
    if (!ValidIndex(columns, index)) continue;
    const TVTColumnMetrics& c = *columns[static_cast<std::size_t>(index)];
    if (!c.Visible()) continue;
    layout.Columns.push_back(TVTColumnInfo{index, c.Left, c.Width, c.Alignment, c.RightToLeft});
  }
}

// --- Auto-sizing ----------------------------------------------------------------------------------------

int AutoSizeTarget(const TVTColumnPositions& map, TVTColumnSpan columns, int autoSizeIndex, int changed) {
  const int count = static_cast<int>(columns.size());
  if (count == 0) return InvalidColumn;
  int target = autoSizeIndex >= 0 && autoSizeIndex < count ? autoSizeIndex : count - 1;
  if (ValidIndex(columns, changed) &&
      columns[static_cast<std::size_t>(changed)]->Position >= columns[static_cast<std::size_t>(target)]->Position)
    target = NextVisibleColumn(map, columns, changed);
  return target;
}

int AutoSizeWidth(TVTColumnSpan columns, int target, int room) {
  for (int i = 0; i < static_cast<int>(columns.size()); ++i) {
    if (i != target && columns[static_cast<std::size_t>(i)]->Visible())
      room -= columns[static_cast<std::size_t>(i)]->Width;
  }
  const TVTColumnMetrics& t = *columns[static_cast<std::size_t>(target)];
  room = std::min(room, t.MaxWidth);
  return std::max(room, t.MinWidth);
}

int AnimatedResizeStep(int oldWidth, int newWidth) {
  return (newWidth - oldWidth) / kAnimatedResizeSteps;
}

std::string ColumnDisplayName(const std::u16string& caption, int index) {
  std::string name;
  for (char16_t c : caption) {
    if (c >= 256) return "Column " + std::to_string(index);
    name.push_back(static_cast<char>(c));
  }
  return name;
}

// --- Cell layout -----------------------------------------------------------------------------------------

TVTHeaderLayout ComputeHeaderLayout(const TVTHeaderLayoutInput& in, int left, int top) {
  TVTHeaderLayout out;
  if (!in.HasCaption && !in.ShowGlyph && !in.ShowImage) return out;
  out.Computed = true;
  const int W = in.Width, H = in.Height;
  const int tw = in.HasCaption ? in.TextWidth + 2 : 0;
  const int th = in.HasCaption ? in.TextHeight : 0;
  const int s = in.HasCaption ? in.Spacing : 0;
  const int iw = in.ShowImage ? in.ImageWidth : 0, ih = in.ShowImage ? in.ImageHeight : 0;
  const int gw = in.ShowGlyph ? in.GlyphWidth : 0, gh = in.ShowGlyph ? in.GlyphHeight : 0;
  const int m = in.Margin, sp = in.Spacing;
  const bool rtl = in.RightToLeft;
  const bool beside = in.Layout == kGlyphLeft || in.Layout == kGlyphRight;
  int alignment = in.Alignment;
  if (rtl && alignment == kAlignLeft)
    alignment = kAlignRight;
  else if (rtl && alignment == kAlignRight)
    alignment = kAlignLeft;

  // Vertical.
  out.GlyphY = (H - gh) / 2;
  int captionY = (H - th) / 2;
  if (beside || !in.ShowImage) {
    out.ImageY = (H - ih) / 2;
  } else {
    const int c = (H - ih - th - s) / 2;
    if (in.Layout == kGlyphTop) {
      out.ImageY = c;
      captionY = c + ih + s;
    } else {
      captionY = c;
      out.ImageY = c + th + s;
    }
  }

  // Horizontal.
  int captionLeft = 0;
  if (!in.HasCaption && !in.ShowImage) {
    out.GlyphX = (W - gw) / 2;
  } else if (alignment == kAlignLeft) {
    int L = m;
    if (rtl) {
      out.GlyphX = L;
      L += gw + sp;
    }
    if (beside) {
      if (in.Layout == kGlyphLeft) {
        out.ImageX = L;
        L += iw + sp;
      }
      captionLeft = L;
      L += tw + s;
      if (in.Layout == kGlyphRight) {
        out.ImageX = L;
        L += iw + sp;
      }
    } else {
      captionLeft = L;
      if (!in.ShowImage) {
        L += tw + s;
      } else {
        out.ImageX = std::max((W - iw) / 2, L);
        L = std::max(captionLeft + tw + s, out.ImageX + iw + sp);
      }
    }
    if (!rtl) out.GlyphX = L;
  } else if (alignment == kAlignCenter) {
    if (beside) {
      int L = (W - iw - s - tw) / 2;
      if (in.Layout == kGlyphLeft) {
        out.ImageX = L;
        L += iw + s;
      }
      captionLeft = L;
      L += tw + s;
      if (in.Layout == kGlyphRight) out.ImageX = L;
    } else {
      out.ImageX = (W - iw) / 2;
      captionLeft = (W - tw) / 2 - (in.ShowGlyph ? gw / 2 : 0);
    }
    int L, R;
    if (!in.ShowImage) {
      L = captionLeft;
      R = captionLeft + tw;
    } else {
      L = std::min(out.ImageX, captionLeft);
      R = std::max(out.ImageX + iw, captionLeft + tw);
    }
    out.GlyphX = rtl ? L - sp - gw : R + sp;
  } else {
    int R = W - m;
    if (!rtl) {
      out.GlyphX = W - m - gw;
      R = out.GlyphX - sp;
    }
    if (beside) {
      if (in.Layout == kGlyphRight) {
        out.ImageX = R - iw;
        R = out.ImageX - sp;
      }
      captionLeft = R - tw;
      R -= tw + s;
      if (in.Layout == kGlyphLeft) {
        out.ImageX = R - iw;
        R = out.ImageX - sp;
      }
    } else {
      captionLeft = R - tw;
      if (!in.ShowImage) {
        R = captionLeft - s;
      } else {
        out.ImageX = (W - iw) / 2;
        if (out.ImageX + iw > R - sp) out.ImageX = R - iw - sp;
        R = std::min(captionLeft - s, out.ImageX - sp);
      }
    }
    if (rtl) out.GlyphX = R - gw;
  }

  // Clamping to the cell.
  int L = m, R = W - m;
  if (in.ShowGlyph) {
    if (!rtl) {
      if (out.GlyphX + gw > R) out.GlyphX = R - gw;
      R = out.GlyphX - sp;
    }
    out.GlyphX = std::max(out.GlyphX, L);
    if (rtl) L = out.GlyphX + gw + sp;
  }
  if (in.ShowImage) {
    if (out.ImageX + iw > R) out.ImageX = R - iw;
    if (in.Layout == kGlyphRight) R = out.ImageX - sp;
    out.ImageX = std::max(out.ImageX, L);
    if (in.Layout == kGlyphLeft) L = out.ImageX + iw + sp;
  }
  const int captionX = std::max(captionLeft, L);
  out.Caption = TVTRect{captionX, captionY, std::min(captionX + tw, R), captionY + th};

  out.ImageX += left;
  out.ImageY += top;
  out.GlyphX += left;
  out.GlyphY += top;
  out.Caption.Left += left;
  out.Caption.Right += left;
  out.Caption.Top += top;
  out.Caption.Bottom += top;
  return out;
}

// --- Looks ----------------------------------------------------------------------------------------------

TVTHeaderFrame HeaderFrame(int style, int state) {
  switch (style) {
    case kHeaderThickButtons:
      return state == 1 ? TVTHeaderFrame{5, 0x780F} : TVTHeaderFrame{5, 0x380B};
    case kHeaderFlatButtons:
      return state == 1 ? TVTHeaderFrame{2, 0x280F} : TVTHeaderFrame{4, 0x280B};
    case kHeaderPlates:
      if (state == 1) return {2, 0x280F};
      if (state == 2) return {4, 0x280B};
      return {4, 0x380F};
    default:
      return {};
  }
}

void XPStyleGradient(std::uint32_t fill, std::uint32_t end, std::uint32_t lines[3]) {
  int channel[3], step[3];
  for (int k = 0; k < 3; ++k) {
    const int shift = 16 - 8 * k;
    channel[k] = int((fill >> shift) & 0xFF);
    const int target = int((end >> shift) & 0xFF);
    step[k] = static_cast<int>(std::lround((channel[k] - target) / 3.0));
  }
  // Two steps, then the end colour itself.
  for (int line = 0; line < 2; ++line) {
    for (int k = 0; k < 3; ++k) channel[k] -= step[k];
    lines[line] = Rgb(channel[0], channel[1], channel[2]);
  }
  lines[2] = end;
}

std::vector<TVTBarPiece> XPStyleHotBar(int left, int right) {
  std::vector<TVTBarPiece> pieces;
  const int width = right - left;
  if (width > 32) {
    pieces.push_back({6, left, 16});
    for (int x = left + 16; x + 16 < right; x += 16) pieces.push_back({7, x, 16});
    pieces.push_back({8, right - 16, 16});
  } else {
    pieces.push_back({8, right - 16, 16});
    pieces.push_back({6, left, width / 2});
  }
  return pieces;
}

int SortGlyphImage(int direction, bool themed) {
  const bool ascending = direction == sdAscending;
  if (themed) return ascending ? 5 : 4;
  return ascending ? 3 : 2;
}
