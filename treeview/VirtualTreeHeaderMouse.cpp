#include "VirtualTreeHeaderMouse.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

// --- Header ---------------------------------------------------------------------------------------

TVTResizeZone FindResizeZone(const std::vector<int>& positionToIndex, TVTColumnSpan columns, int startEdge, int x) {
  TVTResizeZone zone;
  int edge = startEdge;
  for (auto it = positionToIndex.rbegin(); it != positionToIndex.rend(); ++it) {
    const int index = *it;
    if (index < 0 || static_cast<std::size_t>(index) >= columns.size() || !columns[std::size_t(index)]) continue;
    const TVTColumnMetrics& column = *columns[std::size_t(index)];
    if (!column.Visible()) continue;
    if (edge - 3 < x && x < edge + 5) {
      if (column.Options & kColumnResizable) {
        zone.Column = index;
        zone.TrackStart = edge - column.Width;
      }
      return zone;
    }
    edge -= column.Width;
  }
  return zone;
}

std::uint32_t ColumnDropPosition(std::uint32_t dragged, std::uint32_t target, bool before) {
  if (before) return dragged < target ? (target > 0 ? target - 1 : 0) : target;
  return dragged < target ? target : target + 1;
}

bool BeyondDragThreshold(int startX, int startY, int x, int y, int threshold) {
  return std::abs(x - startX) > threshold || std::abs(y - startY) > threshold;
}

TVTHeaderStep TVTHeaderMouseMachine::Press(bool resizeZone, bool draggableColumn) {
  if (resizeZone) {
    states_ |= kHeaderTrackPending;
    return TVTHeaderStep::Capture;
  }
  if (draggableColumn) {
    states_ |= kHeaderDragPending;
    return TVTHeaderStep::Capture;
  }
  return TVTHeaderStep::None;
}

TVTHeaderMouseMachine::Ended TVTHeaderMouseMachine::End() {
  Ended ended;
  ended.Any = Busy();
  ended.Dragging = (states_ & kHeaderDragging) != 0;
  ended.Tracking = (states_ & kHeaderTracking) != 0;
  states_ &= std::uint8_t(~kMouseStates);
  return ended;
}

// --- Hint window ----------------------------------------------------------------------------------

int HintShadowSize(bool mmx) {
  return mmx ? 5 : 0;
}

TVTRect TooltipHintRect(const TVTRect& text, bool horzGridLines, int shadow) {
  const int width = text.Width() + 2;
  const int height = text.Height() + (horzGridLines ? 1 : 0) + 2;
  return TVTRect{-1, -1, -1 + width + shadow, -1 + height + shadow};
}

TVTRect MeasuredHintRect(const TVTRect& measured, int textMargin, int shadow) {
  TVTRect r = measured;
  r.Bottom += 6 + shadow;
  r.Right += 2 * textMargin + 2 + shadow;
  return r;
}

TVTRect ClampRectToDesktop(const TVTRect& rect, const TVTRect& desktop) {
  TVTRect r = rect;
  auto shift = [&r](int dx, int dy) {
    r.Left += dx;
    r.Right += dx;
    r.Top += dy;
    r.Bottom += dy;
  };
  if (r.Bottom > desktop.Bottom) shift(0, desktop.Bottom - r.Bottom);
  if (r.Top < desktop.Top) shift(0, desktop.Top - r.Top);
  if (r.Right > desktop.Right) shift(desktop.Right - r.Right, 0);
  if (r.Left < desktop.Left) shift(desktop.Left - r.Left, 0);
  return r;
}

std::vector<TVTShadowPass> HintShadowPasses(int width, int height, int size) {
  std::vector<TVTShadowPass> passes;
  if (size <= 0 || width <= 0 || height <= 0) return passes;
  static constexpr int kAlphas[] = {5, 10, 20, 35, 50};
  TVTRect bottom{size, height - size, width, height};
  for (int i = 0; i < 5; ++i) {
    passes.push_back({bottom, kAlphas[i]});
    ++bottom.Left;
    --bottom.Right;
    --bottom.Bottom;
  }
  TVTRect right{width - size, size, width, height - size};
  for (int i = 0; i < 5; ++i) {
    passes.push_back({right, kAlphas[i]});
    ++right.Top;
    --right.Right;
  }
  return passes;
}

int HintFadeAlpha(int position) {
  position = std::clamp(position, 0, 255);
  return (position * 256 + 127) / 255;
}

// --- Drag image -----------------------------------------------------------------------------------

std::uint8_t DragImageAlpha(int x, int y, int width, int height) {
  const int side = std::max(width, height);
  if (side <= 0) return 0;
  const double dx = x - width / 2, dy = y - height / 2;
  const double r = std::sqrt(dx * dx + dy * dy) / side;
  return static_cast<std::uint8_t>(std::lround(255.0 * std::exp(-8.0 * r)));
}

void BuildDragImageAlpha(std::uint32_t* pixels, const std::uint32_t* source, int width, int height,
                         std::uint32_t colorKey) {
  if (!pixels || !source || width <= 0 || height <= 0) return;
  // The key is 0x00BBGGRR; a pixel reads 0xAARRGGBB.
  const bool keyed = colorKey != kDragColorKeyNone;
  const std::uint32_t key = ((colorKey & 0xFF) << 16) | (colorKey & 0xFF00) | ((colorKey >> 16) & 0xFF);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      const std::size_t i = std::size_t(y) * std::size_t(width) + std::size_t(x);
      const std::uint32_t alpha = keyed && (source[i] & 0xFFFFFF) == key ? 0 : DragImageAlpha(x, y, width, height);
      pixels[i] = (pixels[i] & 0xFFFFFF) | (alpha << 24);
    }
  }
}

void TVTDragImageModel::Prepare(int width, int height, int left, int top, int hotX, int hotY) {
  Width = width;
  Height = height;
  Left = left;
  Top = top;
  LastX = hotX;
  LastY = hotY;
  States = std::uint8_t((States & kDragImageSystemSupport) | kDragImageHidden | kDragImageInDrag | kDragImagePrepared);
}

bool TVTDragImageModel::Show() {
  const std::uint8_t mask = kDragImageHidden | kDragImageInDrag | kDragImagePrepared | kDragImageSystemSupport;
  if ((States & mask) != (kDragImageHidden | kDragImageInDrag | kDragImagePrepared)) return false;
  States &= std::uint8_t(~kDragImageHidden);
  return true;
}

bool TVTDragImageModel::Hide() {
  if (!Visible()) return false;
  States |= kDragImageHidden;
  return true;
}

void TVTDragImageModel::Offsets(int x, int y, int& dx, int& dy) const {
  dx = LastX - x;
  dy = LastY - y;
  if (Restriction == kDragMoveHorizontal) dy = 0;
  if (Restriction == kDragMoveVertical) dx = 0;
}

bool TVTDragImageModel::WillMove(int x, int y) const {
  if (!Visible()) return false;
  int dx, dy;
  Offsets(x, y, dx, dy);
  return dx != 0 || dy != 0;
}

TVTDragStep TVTDragImageModel::DragTo(int x, int y, bool force) {
  TVTDragStep step;
  Offsets(x, y, step.Dx, step.Dy);
  step.Moved = step.Dx != 0 || step.Dy != 0 || force;
  step.OldLeft = step.NewLeft = Left;
  step.OldTop = step.NewTop = Top;
  if (step.Moved && Visible()) {
    step.Redraw = true;
    step.Full = force || std::abs(step.Dx) >= Width || std::abs(step.Dy) >= Height;
    if (!step.Full) step.Rects = ComputeDragMoveRects(Width, Height, -step.Dx, -step.Dy);
    Left -= step.Dx;
    Top -= step.Dy;
    step.NewLeft = Left;
    step.NewTop = Top;
  }
  if (step.Moved) {
    LastX = x;
    LastY = y;
  }
  return step;
}

void TVTDragImageModel::Finish() {
  States &= std::uint8_t(~(kDragImageInDrag | kDragImagePrepared));
  States |= kDragImageHidden;
}

TVTRect TVTDragImageModel::ScreenRect() const {
  if (!Visible()) return TVTRect{};
  return TVTRect{Left, Top, Left + Width, Top + Height};
}
