// The arithmetic behind the header's mouse handling, the tree's hint window
// and the drag image, without a window: the resize zone, where a dragged
// column lands, the hint's size and its place on the desktop, the hint's
// shadow, the drag picture's alpha channel and the bookkeeping of its moves.
// The window half (win/) does the capturing, the cursors and the blits.
#pragma once

#include <cstdint>
#include <vector>

#include "VirtualTreeHeader.h"
#include "VirtualTrees.h"

// --- Header ---------------------------------------------------------------------------------------

// The column whose right edge a client x is near (from 2 pixels left to 4
// pixels right of the edge, both ends open), walking the visible columns from
// the last position to the first. The edges start at `startEdge` (the
// horizontal offset plus the width of the visible columns) and step left by
// each width. A zone of a column that is not resizable answers no column.
struct TVTResizeZone {
  int Column = NoColumn;
  int TrackStart = 0;  // the column's left edge: x - TrackStart is the new width while tracking
  bool Hit() const { return Column != NoColumn; }
};
TVTResizeZone FindResizeZone(const std::vector<int>& positionToIndex, TVTColumnSpan columns, int startEdge, int x);

// Whether a point over a column with the scrolled extent [left, right) drops before it.
inline bool DropsBeforeColumn(int x, int left, int right) {
  return x < (left + right) / 2;
}
// The position a dragged column (now at `dragged`) gets when dropped before
// or after the column at `target`.
std::uint32_t ColumnDropPosition(std::uint32_t dragged, std::uint32_t target, bool before);
// Whether the mouse left the drag threshold around the press (in x or in y).
bool BeyondDragThreshold(int startX, int startY, int x, int y, int threshold);

// The header's mouse states between a left press on the band and its
// release, fed the messages as plain values; the window half carries out what
// each step answers (capture, the drag image, redraws, the events).
enum class TVTHeaderStep {
  None,           // nothing for the header: the tree handles the message
  Capture,        // a press began a pending track or drag: capture the mouse
  BeginTracking,  // the first move of a track
  Track,          // a width for the resize column
  Wait,           // a pending drag within the threshold (or not allowed)
  BeginDrag,      // past the threshold: start the column drag
  DragOver,       // a move while dragging
};
class TVTHeaderMouseMachine {
 public:
  explicit TVTHeaderMouseMachine(std::uint8_t& states) : states_(states) {}
  bool Busy() const { return (states_ & kMouseStates) != 0; }
  // A left press on the band: over a resize zone (with resizing on) a pending
  // track, over a draggable column (with dragging on) a pending drag.
  TVTHeaderStep Press(bool resizeZone, bool draggableColumn);
  // A move to client x (and the screen point); `trackStart` the resize
  // column's left edge, `dragStart` the press's screen point. `dragAllowed`
  // is asked only for a pending drag. `width` gets the tracked width.
  template <class Allowed>
  TVTHeaderStep Move(int clientX, int screenX, int screenY, int trackStart, int dragStartX, int dragStartY,
                     int threshold, Allowed&& dragAllowed, int& width) {
    if (states_ & kHeaderTrackPending) {
      states_ = std::uint8_t((states_ & ~kHeaderTrackPending) | kHeaderTracking);
      return TVTHeaderStep::BeginTracking;
    }
    if (states_ & kHeaderTracking) {
      width = clientX - trackStart;
      return TVTHeaderStep::Track;
    }
    if (states_ & kHeaderDragPending) {
      if (!dragAllowed() || !BeyondDragThreshold(dragStartX, dragStartY, screenX, screenY, threshold))
        return TVTHeaderStep::Wait;
      states_ = std::uint8_t((states_ & ~kHeaderDragPending) | kHeaderDragging);
      return TVTHeaderStep::BeginDrag;
    }
    if (states_ & kHeaderDragging) return TVTHeaderStep::DragOver;
    return TVTHeaderStep::None;
  }
  // The left release (or a cancel): every state goes. What was running.
  struct Ended {
    bool Any = false, Dragging = false, Tracking = false;
  };
  Ended End();

  static constexpr std::uint8_t kMouseStates =
      kHeaderDragging | kHeaderDragPending | kHeaderTracking | kHeaderTrackPending;

 private:
  std::uint8_t& states_;
};

// --- Hint window ----------------------------------------------------------------------------------

// The shadow the hint casts at its right and bottom (5 with MMX, else 0).
int HintShadowSize(bool mmx);
// The hint of a cell in tooltip mode: the cell's unclipped text rectangle, one
// pixel lower with horizontal grid lines, inflated by one pixel and moved so
// that its top-left corner is (-1, -1); then the shadow at the right and bottom.
TVTRect TooltipHintRect(const TVTRect& text, bool horzGridLines, int shadow);
// A measured hint text (the rectangle the text needs from (0, 0)): room for
// the frame and the text margin at both sides, 6 pixels below, then the shadow.
TVTRect MeasuredHintRect(const TVTRect& measured, int textMargin, int shadow);
// The hint window's rectangle held on the desktop: moved up when it reaches
// below the desktop, down when above it, then left and right the same way.
TVTRect ClampRectToDesktop(const TVTRect& rect, const TVTRect& desktop);

// One darkening pass of the shadow: blend mode 3 towards black at `Alpha`.
struct TVTShadowPass {
  TVTRect Rect;
  int Alpha = 0;
};
// The passes over a width x height window whose shadow is `size` wide: the
// bottom strip, then the right strip, each five times (alpha 5, 10, 20, 35,
// 50), shrinking after each pass but the last. None without a shadow.
std::vector<TVTShadowPass> HintShadowPasses(int width, int height, int size);

// A fade step's constant alpha for an animation position 0..255.
int HintFadeAlpha(int position);

// --- Drag image -----------------------------------------------------------------------------------

// Image states.
constexpr std::uint8_t kDragImageHidden = 0x01, kDragImageInDrag = 0x02, kDragImagePrepared = 0x04,
                       kDragImageSystemSupport = 0x08;
// Move restrictions.
constexpr std::uint8_t kDragMoveFree = 0, kDragMoveHorizontal = 1, kDragMoveVertical = 2;
// The colour key's "none" (every pixel takes part).
constexpr std::uint32_t kDragColorKeyNone = 0x1FFFFFFF;

// The alpha of the pixel (x, y) of a width x height picture: 255 e^(-8 r), r
// the distance from the centre over the larger side, to the nearest integer.
std::uint8_t DragImageAlpha(int x, int y, int width, int height);
// Writes the alpha byte of every pixel of `pixels` (32-bit B, G, R, A, rows
// of `width`): 0 where the picture's pixel in `source` has the colour key
// (a 0x00BBGGRR colour; kDragColorKeyNone: no key), else DragImageAlpha.
void BuildDragImageAlpha(std::uint32_t* pixels, const std::uint32_t* source, int width, int height,
                         std::uint32_t colorKey);

// What the picture does on a move, in screen coordinates.
struct TVTDragStep {
  bool Moved = false;   // DragTo's answer
  bool Redraw = false;  // the picture is visible: the screen changes
  bool Full = false;    // restore the whole old area and grab the whole new one
  int Dx = 0, Dy = 0;   // last position - new position (after the restriction)
  int OldLeft = 0, OldTop = 0, NewLeft = 0, NewTop = 0;
  TDragMoveRects Rects;  // an incremental move by (-Dx, -Dy), in the old area's coordinates
};

// The drag image's states and positions, and the plan of each move; the
// window half carries the plans out on the screen.
class TVTDragImageModel {
 public:
  std::uint8_t States = 0;
  std::uint8_t Restriction = kDragMoveFree;
  int Width = 0, Height = 0;
  int Left = 0, Top = 0;     // the picture's top-left on the screen
  int LastX = 0, LastY = 0;  // the last mouse position
  // In drag and prepared, neither hidden nor drawn by the system.
  bool Visible() const {
    return (States & (kDragImageHidden | kDragImageInDrag | kDragImagePrepared | kDragImageSystemSupport)) ==
           (kDragImageInDrag | kDragImagePrepared);
  }
  // A self-drawn picture is ready at (left, top); the mouse is at the hot spot.
  void Prepare(int width, int height, int left, int top, int hotX, int hotY);
  // ShowImage's condition: prepared and hidden (then hidden goes).
  bool Show();
  // HideImage's condition: visible (then hidden is set).
  bool Hide();
  // The offsets under the restriction are not both 0 (false while not visible).
  bool WillMove(int x, int y) const;
  // DragTo: plans the move and takes the new positions.
  TVTDragStep DragTo(int x, int y, bool force);
  // FinishDrag: in drag and prepared go; the caller frees the bitmaps.
  void Finish();
  // The screen rectangle of a visible picture; empty otherwise.
  TVTRect ScreenRect() const;

 private:
  void Offsets(int x, int y, int& dx, int& dy) const;
};
