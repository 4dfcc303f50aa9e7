// The header's column arithmetic, without a window: the position-to-index
// map, the left edges, width clamping, auto-sizing, the hit tests, the layout
// of a header cell and the colours and frames of the header styles. The
// column classes (win/) keep one TVTColumnMetrics each and call these.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "VirtualTreeCore.h"
#include "VirtualTrees.h"

// Column options (bit = 1 shl ordinal).
constexpr std::uint8_t kColumnAllowClick = 0x01, kColumnDraggable = 0x02, kColumnEnabled = 0x04,
                       kColumnParentBidiMode = 0x08, kColumnParentColor = 0x10, kColumnResizable = 0x20,
                       kColumnShowDropMark = 0x40, kColumnVisible = 0x80;
constexpr std::uint8_t kDefaultColumnOptions = 0xFF;

// Header options (bit = 1 shl ordinal).
constexpr std::uint16_t kHeaderAutoResize = 0x001, kHeaderColumnResize = 0x002, kHeaderDblClickResize = 0x004,
                        kHeaderDrag = 0x008, kHeaderHotTrack = 0x010, kHeaderOwnerDraw = 0x020,
                        kHeaderRestrictDrag = 0x040, kHeaderShowHint = 0x080, kHeaderShowImages = 0x100,
                        kHeaderShowSortGlyphs = 0x200, kHeaderVisible = 0x400;
// A new header's options, and the value a form stream leaves out.
constexpr std::uint16_t kHeaderOptionsOnCreate = 0x000A, kHeaderOptionsStreamDefault = 0x020A;

// Header states.
constexpr std::uint8_t kHeaderAutoSizing = 0x01, kHeaderDragging = 0x02, kHeaderDragPending = 0x04,
                       kHeaderNoUpdate = 0x08, kHeaderTracking = 0x10, kHeaderTrackPending = 0x20;

// Header styles and image layouts (ordinals of the published enumerations).
constexpr int kHeaderThickButtons = 0, kHeaderFlatButtons = 1, kHeaderPlates = 2, kHeaderXPStyle = 3;
constexpr int kGlyphLeft = 0, kGlyphRight = 1, kGlyphTop = 2, kGlyphBottom = 3;

constexpr int kMaxColumnWidth = 10000;

// What the arithmetic needs of one column.
struct TVTColumnMetrics {
  int Width = 50;
  int LastWidth = 50;
  int MinWidth = 10;
  int MaxWidth = kMaxColumnWidth;
  int Left = 0;  // unscrolled left edge
  std::uint32_t Position = 0;
  std::uint8_t Options = kDefaultColumnOptions;
  int Alignment = kAlignLeft;
  bool RightToLeft = false;
  bool Visible() const { return (Options & kColumnVisible) != 0; }
};

// The columns in index order.
using TVTColumnSpan = std::span<TVTColumnMetrics* const>;

// Width requests: raised to MinWidth, then lowered to MaxWidth.
int ClampColumnWidth(const TVTColumnMetrics& column, int width);
// MaxWidth requests: at least MinWidth, at most 10000.
int ClampMaxWidth(int value, int minWidth);
// MinWidth requests: at least 0, at most MaxWidth.
int ClampMinWidth(int value, int maxWidth);
// Margin requests: a negative value becomes 4.
int ClampMargin(int value);

// The position-to-index map: entry p is the index of the column shown at position p.
class TVTColumnPositions {
 public:
  std::vector<int> Entries;

  // Sets each column's Position from the map and its left edge to the sum
  // of the widths of the visible columns before it (an invisible column
  // takes the next visible one's edge).
  void ComputeEdges(TVTColumnSpan columns) const;
  // Rebuilds the map from the columns' Position values: the columns ranked
  // by Position (equal values by index), so the map is always a permutation
  // whatever positions a stream held; then the edges.
  void Rebuild(TVTColumnSpan columns);
  // Brings the map in line after columns came or went or changed their
  // index: the surviving and new columns keep the order of their Position
  // values. True when the map changed. Edges are left to the caller.
  bool Adjust(TVTColumnSpan columns);
  // Moves `column` to `position`; the entries between shift by one.
  void MoveEntry(TVTColumnSpan columns, int column, int position);
  // Whether the map is a permutation of 0 .. count - 1 that agrees with the
  // columns' Position values.
  bool Consistent(TVTColumnSpan columns) const;

  int Count() const { return static_cast<int>(Entries.size()); }
  int IndexAt(int position) const;  // -2 outside
};

// Walks by position; -2 when there is none (and for a negative argument).
int FirstVisibleColumn(const TVTColumnPositions& map, TVTColumnSpan columns);
int LastVisibleColumn(const TVTColumnPositions& map, TVTColumnSpan columns);
int NextColumn(const TVTColumnPositions& map, TVTColumnSpan columns, int column);
int PreviousColumn(const TVTColumnPositions& map, TVTColumnSpan columns, int column);
int NextVisibleColumn(const TVTColumnPositions& map, TVTColumnSpan columns, int column);
int PreviousVisibleColumn(const TVTColumnPositions& map, TVTColumnSpan columns, int column);
// Left edge + width of the visible column furthest right; 0 without one.
int TotalVisibleWidth(const TVTColumnPositions& map, TVTColumnSpan columns);
// The visible columns in position order, as the tree's hit tests and cell
// rectangles read them.
void FillColumnLayout(const TVTColumnPositions& map, TVTColumnSpan columns, TVTColumnLayout& layout);

// Auto-sizing: the column that takes the room (AutoSizeIndex when valid,
// else the highest index; after a resize of `changed` at or right of it, the
// next visible column after `changed`); -2 for none.
int AutoSizeTarget(const TVTColumnPositions& map, TVTColumnSpan columns, int autoSizeIndex, int changed);
// The target's width: the room less every other visible column's width,
// lowered to MaxWidth, then raised to MinWidth.
int AutoSizeWidth(TVTColumnSpan columns, int target, int room);

// The per-step shift of the animated resize: (new - old) div 32, toward zero.
constexpr int kAnimatedResizeSteps = 32;
int AnimatedResizeStep(int oldWidth, int newWidth);

// The display name of a column: the caption as 8-bit text when every unit
// is below 256, else "Column <index>".
std::string ColumnDisplayName(const std::u16string& caption, int index);

// --- Header cell layout ---------------------------------------------------------------------------

struct TVTHeaderLayoutInput {
  int Width = 0, Height = 0;          // the cell (already shrunk)
  int TextWidth = 0, TextHeight = 0;  // the caption's extent (0 x 0 for none)
  bool HasCaption = false;
  int ImageWidth = 0, ImageHeight = 0;  // 0 x 0 without an image
  int GlyphWidth = 0, GlyphHeight = 0;  // 0 x 0 without a sort glyph
  bool ShowImage = false, ShowGlyph = false;
  int Alignment = kAlignLeft;
  int Layout = kGlyphLeft;
  int Margin = 4, Spacing = 4;
  bool RightToLeft = false;
};
struct TVTHeaderLayout {
  bool Computed = false;
  int ImageX = 0, ImageY = 0;
  int GlyphX = 0, GlyphY = 0;
  TVTRect Caption;
};
// Places image, caption and sort glyph in a cell at (left, top). The caption
// width given is the text's extent; the layout adds 2 to it.
TVTHeaderLayout ComputeHeaderLayout(const TVTHeaderLayoutInput& in, int left, int top);

// --- Header looks ---------------------------------------------------------------------------------

// The system's edge kinds and border flags for the framed styles.
struct TVTHeaderFrame {
  unsigned Edge = 0;
  unsigned Flags = 0;
};
constexpr unsigned kBorderRight = 0x0004;
// The frame of a cell: `state` 0 normal, 1 pressed, 2 hover (plates only:
// the other styles answer their normal frame for it). The right border flag
// is not included.
TVTHeaderFrame HeaderFrame(int style, int state);

// Colours as 0xRRGGBB.
constexpr std::uint32_t Rgb(int r, int g, int b) {
  return (std::uint32_t(r) << 16) | (std::uint32_t(g) << 8) | std::uint32_t(b);
}
namespace xpheader {
constexpr std::uint32_t kFillNormal = Rgb(235, 234, 219), kFillHot = Rgb(250, 248, 243),
                        kFillPressed = Rgb(222, 223, 216), kGradientEnd = Rgb(203, 199, 184),
                        kSeparatorDark = Rgb(199, 197, 178), kSeparatorLight = Rgb(255, 255, 255),
                        kPressedOuter = Rgb(165, 165, 151), kPressedMiddle = Rgb(193, 194, 184),
                        kPressedInner = Rgb(208, 209, 201);
}  // namespace xpheader
// The three bottom lines of a normal cell, from the fill toward the end
// colour: two steps that lower every channel by (fill - end) / 3, rounded,
// then the end colour.
void XPStyleGradient(std::uint32_t fill, std::uint32_t end, std::uint32_t lines[3]);
// The hot bar's pieces (16 x 3 each, images 6, 7 and 8 of the utilities
// list) across a cell: image index, x and drawn width.
struct TVTBarPiece {
  int Image, X, Width;
};
std::vector<TVTBarPiece> XPStyleHotBar(int left, int right);

// The utilities list's images for the sort glyph and the drop mark.
int SortGlyphImage(int direction, bool themed);
constexpr int kDropMarkBeforeImage = 0, kDropMarkAfterImage = 1;
