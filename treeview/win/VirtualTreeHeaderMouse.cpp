// The header's share of the tree's window messages: hot tracking, presses
// and clicks, double clicks, resizing a column by its edge and dragging a
// column to a new position; and the tree's header events.
#include <windowsx.h>

#include <algorithm>

#include "Forms.h"
#include "VirtualTreeColumns.h"
#include "VirtualTreeDragImage.h"
#include "VirtualTreeHeaderMouse.h"
#include "VirtualTreeInput.h"
#include "VirtualTreesWin.h"

namespace {

constexpr UINT_PTR kHeaderTimer = 3;
constexpr std::uint8_t kMouseStates = TVTHeaderMouseMachine::kMouseStates;

POINT MessagePoint(LPARAM lParam) {
  return POINT{GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)};
}

TShiftState ShiftOf(std::uint8_t bits) {
  return TShiftState::FromBits(bits);
}

// The shift state of a client mouse message's key flags.
std::uint8_t KeyFlagsShift(WPARAM keys) {
  std::uint8_t bits = 0;
  if (keys & MK_SHIFT) bits |= 0x01;
  if (GetKeyState(VK_MENU) < 0) bits |= 0x02;
  if (keys & MK_CONTROL) bits |= 0x04;
  if (keys & MK_LBUTTON) bits |= 0x08;
  if (keys & MK_RBUTTON) bits |= 0x10;
  if (keys & MK_MBUTTON) bits |= 0x20;
  return bits;
}

}  // namespace

// --- The columns --------------------------------------------------------------------------------

bool TVirtualTreeColumns::DetermineHoverColumn(POINT point) {
  const int column = ColumnAtPoint(point, true);
  if (column == HoverColumn) return false;
  if (HoverColumn >= 0) header_->RedrawHeaderArea(HoverColumn, false);
  HoverColumn = column;
  if (HoverColumn >= 0) header_->RedrawHeaderArea(HoverColumn, false);
  return true;
}

int TVirtualTreeColumns::DetermineDownColumn(POINT point) {
  const int column = ColumnAtPoint(point, true);
  TVirtualTreeColumn* c = ColumnAt(column);
  if (column == InvalidColumn || column == DownColumn || !c || !c->HasOption(kColumnAllowClick) ||
      !c->HasOption(kColumnEnabled))
    return column;
  if (DownColumn >= 0) header_->RedrawHeaderArea(DownColumn, false);
  DownColumn = column;
  header_->RedrawHeaderArea(DownColumn, false);
  return column;
}

void TVirtualTreeColumns::HandleClick(POINT point, TMouseButton button, bool force, bool dblClick) {
  const int column = ColumnAtPoint(point, true);
  TVirtualTreeColumn* c = ColumnAt(column);
  if (c && c->HasOption(kColumnAllowClick) && (force || column == DownColumn)) {
    ClickedColumn = column;
    const std::uint8_t shift = std::uint8_t(TVTHeader::CurrentShiftState() | (dblClick ? 0x40 : 0));
    if (TBaseVirtualTree* tree = header_->Tree())
      tree->NotifyHeaderClick(column, button, ShiftOf(shift), point.x, point.y);
    header_->RedrawHeaderArea(column, false);
  } else {
    ClickedColumn = NoColumn;
  }
}

// --- The header ---------------------------------------------------------------------------------

TVTDragImage* TVTHeader::DragImage() {
  if (!dragImage_) {
    dragImage_ = New<TVTDragImage>(tree_);
    dragImage_->Fade = false;
    dragImage_->PostBlendBias = 0;
    dragImage_->PreBlendBias = 206;
    dragImage_->Transparency = 140;
  }
  return dragImage_;
}

bool TVTHeader::IsPointInHeader(POINT clientPoint) const {
  if (!tree_ || !tree_->HandleAllocated() || !HasOption(kHeaderVisible)) return false;
  HWND window = tree_->WindowHandle();
  RECT area = tree_->ComputeHeaderArea();
  RECT frame;
  GetWindowRect(window, &frame);
  POINT origin{frame.left, frame.top};
  ScreenToClient(window, &origin);
  OffsetRect(&area, origin.x, origin.y);
  return PtInRect(&area, clientPoint) != FALSE;
}

bool TVTHeader::InResizeZone(int clientX) {
  columns_->ResizeColumn = NoColumn;
  if (!HasColumns()) return false;
  std::vector<TVTColumnMetrics*> metrics;
  for (int i = 0; i < columns_->Count(); ++i) metrics.push_back(&columns_->ColumnAt(i)->Metrics());
  const TVTResizeZone zone = FindResizeZone(columns_->PositionToIndex(), metrics,
                                            tree_->GetOffsetX() + columns_->TotalVisibleWidth(), clientX);
  if (!zone.Hit()) return false;
  columns_->ResizeColumn = zone.Column;
  TrackStart = zone.TrackStart;
  return true;
}

bool TVTHeader::CancelMouseAction() {
  // The states go first: releasing the capture reports back here.
  const TVTHeaderMouseMachine::Ended ended = TVTHeaderMouseMachine(States).End();
  if (!ended.Any) return false;
  const bool dragging = ended.Dragging, tracking = ended.Tracking;
  if (tree_ && tree_->HandleAllocated() && GetCapture() == tree_->WindowHandle()) ReleaseCapture();
  if (dragging) {
    if (dragImage_) dragImage_->FinishDrag();
    columns_->DropTarget = NoColumn;
  }
  if (tracking) {
    if (TVirtualTreeColumn* c = columns_->ColumnAt(columns_->ResizeColumn)) c->SetWidth(trackedWidth_);
  }
  columns_->ResizeColumn = NoColumn;
  columns_->DownColumn = NoColumn;
  Redraw();
  return true;
}

void TVTHeader::StartColumnDrag(POINT screenPoint, POINT dragStart) {
  HWND window = tree_->WindowHandle();
  columns_->DropTarget = NoColumn;
  POINT start = dragStart;
  ScreenToClient(window, &start);
  columns_->DragColumn = columns_->ColumnAtPoint(POINT{start.x, start.y + LONG(height_)}, true);
  if (!columns_->ColumnAt(columns_->DragColumn)) return;
  int left = 0, right = 0;
  columns_->ColumnExtent(columns_->DragColumn, left, right);
  const int width = right - left, height = int(height_);
  if (width <= 0 || height <= 0) return;

  // The cell alone, painted into a picture of its size.
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof info.bmiHeader;
  info.bmiHeader.biWidth = width;
  info.bmiHeader.biHeight = -height;
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  HDC dc = CreateCompatibleDC(nullptr);
  void* bits = nullptr;
  HBITMAP picture = CreateDIBSection(dc, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  if (!picture) {
    DeleteDC(dc);
    return;
  }
  HGDIOBJ old = SelectObject(dc, picture);
  FillRectColor(dc, RECT{0, 0, width, height}, clBtnFace);
  columns_->PaintHeader(dc, RECT{0, 0, width, height}, -(left - tree_->GetOffsetX()));
  SelectObject(dc, old);
  DeleteDC(dc);

  POINT position{left, -height};
  ClientToScreen(window, &position);
  // The band shows the released look before the screen under the picture is saved.
  RedrawWindow(window, nullptr, nullptr, RDW_UPDATENOW | RDW_NOCHILDREN);
  TVTDragImage* image = DragImage();
  image->MoveRestriction = HasOption(kHeaderRestrictDrag) ? kDragMoveHorizontal : kDragMoveFree;
  image->PrepareDrag(picture, position, nullptr, screenPoint);
  DeleteObject(picture);
  image->ShowImage();
}

bool TVTHeader::DragOverColumn(POINT screenPoint) {
  HWND window = tree_->WindowHandle();
  POINT client = screenPoint;
  ScreenToClient(window, &client);
  const int target = columns_->ColumnAtPoint(POINT{client.x, client.y + LONG(height_)}, true);
  bool changed = target != InvalidColumn && target != columns_->DropTarget;
  if (target >= 0) {
    int left = 0, right = 0;
    columns_->ColumnExtent(target, left, right);
    const bool before = DropsBeforeColumn(client.x, left, right);
    if (before != columns_->DropBefore) {
      columns_->DropBefore = before;
      changed = true;
    }
  }
  if (changed) {
    if (columns_->DropTarget >= 0) RedrawHeaderArea(columns_->DropTarget, false);
    columns_->DropTarget = NoColumn;
    // A flip between the halves of the same column keeps it the target.
    if (target >= 0) {
      RedrawHeaderArea(target, false);
      columns_->DropTarget = target;
    }
  }
  return DragImage()->DragTo(screenPoint, changed);
}

void TVTHeader::CompleteColumnDrop(POINT screenPoint) {
  DragImage()->FinishDrag();
  RECT frame;
  GetWindowRect(tree_->WindowHandle(), &frame);
  TVirtualTreeColumn* dragged = columns_->ColumnAt(columns_->DragColumn);
  TVirtualTreeColumn* target = columns_->ColumnAt(columns_->DropTarget);
  if (dragged && target && dragged != target && PtInRect(&frame, screenPoint)) {
    const std::uint32_t old = dragged->GetPosition();
    dragged->SetPosition(ColumnDropPosition(old, target->GetPosition(), columns_->DropBefore));
    tree_->NotifyColumnDragged(columns_->DragColumn, int(old));
  }
  columns_->DropTarget = NoColumn;
  Redraw();
}

bool TVTHeader::HandleMouseMove(TMessage& msg) {
  HWND window = tree_->WindowHandle();
  const POINT p = MessagePoint(msg.LParam);
  POINT screen = p;
  ClientToScreen(window, &screen);
  int width = 0;
  auto dragAllowed = [this] { return HasOption(kHeaderDrag) && tree_->AskColumnDragAllowed(columns_->DownColumn); };
  switch (TVTHeaderMouseMachine(States).Move(p.x, screen.x, screen.y, TrackStart, DragStart.x, DragStart.y,
                                             ::Mouse->DragThreshold, dragAllowed, width)) {
    case TVTHeaderStep::BeginTracking:
      KillTimer(window, kHeaderTimer);
      if (TVirtualTreeColumn* c = columns_->ColumnAt(columns_->ResizeColumn)) trackedWidth_ = c->GetWidth();
      break;
    case TVTHeaderStep::Track:
      if (TVirtualTreeColumn* c = columns_->ColumnAt(columns_->ResizeColumn)) c->SetWidth(width);
      break;
    case TVTHeaderStep::BeginDrag: {
      KillTimer(window, kHeaderTimer);
      const int down = columns_->DownColumn;
      columns_->DownColumn = NoColumn;
      columns_->HoverColumn = NoColumn;
      if (down >= 0) RedrawHeaderArea(down, false);
      StartColumnDrag(screen, DragStart);
      break;
    }
    case TVTHeaderStep::DragOver:
      DragOverColumn(screen);
      break;
    default:
      return false;
  }
  msg.Result = 0;
  return true;
}

bool TVTHeader::HandleHeaderMessage(TMessage& msg) {
  if (!tree_ || !tree_->HandleAllocated()) return false;
  HWND window = tree_->WindowHandle();
  TVirtualTreeCore& core = tree_->Tree();
  auto clientOf = [window](LPARAM lParam) {
    POINT p = MessagePoint(lParam);
    ScreenToClient(window, &p);
    return p;
  };
  auto headerPoint = [this](POINT client) { return POINT{client.x, client.y + LONG(height_)}; };
  bool result = false;
  switch (msg.Msg) {
    case WM_SIZE:
      if (HasOption(kHeaderAutoResize) && !core.HasTreeState(tsWindowCreating)) {
        columns_->FitAutoSizeColumn(-2, false);
        Redraw();
      }
      break;
    case WM_KEYDOWN:
      if (msg.WParam == VK_ESCAPE && CancelMouseAction()) {
        msg.Result = 0;
        result = true;
      }
      break;
    case WM_KILLFOCUS:
    case WM_CANCELMODE:
      // The drag or track ends; the tree still does its own clean-up.
      CancelMouseAction();
      break;
    case WM_CAPTURECHANGED:
      // Another window took the mouse (our own release names no window).
      if (msg.LParam != 0 && HWND(msg.LParam) != window) CancelMouseAction();
      break;
    case WM_SETCURSOR: {
      if (States) {
        msg.Result = 1;
        return true;
      }
      POINT p;
      GetCursorPos(&p);
      ScreenToClient(window, &p);
      if (!IsPointInHeader(p)) break;
      TCursor cursor = crDefault;
      if (HasOption(kHeaderColumnResize) && InResizeZone(p.x)) cursor = crHSplit;
      tree_->AskHeaderCursor(cursor);
      if (cursor != crDefault) {
        ::SetCursor(Screen->Cursors(cursor));
        msg.Result = 1;
        result = true;
      }
      break;
    }
    case WM_NCMOUSEMOVE: {
      const POINT p = clientOf(msg.LParam);
      tree_->NotifyHeaderMouseMove(ShiftOf(CurrentShiftState()), p.x, p.y);
      if (!IsPointInHeader(p)) break;
      const bool changed = columns_->DetermineHoverColumn(headerPoint(p));
      if ((!changed && columns_->DownColumn == NoColumn) || columns_->DownColumn == columns_->HoverColumn) break;
      SetTimer(window, kHeaderTimer, 50, nullptr);
      // A new column under the mouse: its hint starts over (the tree's CM_HINTSHOW answers for the band).
      if (HasOption(kHeaderShowHint) && Application) Application->NonClientHintMouseMove(tree_, p);
      break;
    }
    case WM_NCLBUTTONDOWN: {
      if (Application) Application->CancelHint();
      KillTimer(window, kScrollTimer);
      core.SetTreeState(tsScrollPending, false);
      core.SetTreeState(tsScrolling, false);
      KillTimer(window, kEditTimer);
      core.SetTreeState(tsEditPending, false);
      DragStart = MessagePoint(msg.LParam);
      const POINT p = clientOf(msg.LParam);
      if (!IsPointInHeader(p)) break;
      tree_->NotifyHeaderMouseDown(mbLeft, ShiftOf(CurrentShiftState()), p.x, p.y);
      const bool zone = HasOption(kHeaderColumnResize) && InResizeZone(p.x);
      bool draggable = false;
      if (zone) {
        columns_->HoverColumn = NoColumn;
        LeftTrackPoint = p;
      } else {
        TVirtualTreeColumn* c = columns_->ColumnAt(columns_->DetermineDownColumn(headerPoint(p)));
        draggable = HasOption(kHeaderDrag) && c && c->HasOption(kColumnDraggable);
      }
      if (TVTHeaderMouseMachine(States).Press(zone, draggable) != TVTHeaderStep::Capture) break;
      SetCapture(window);
      msg.Result = 0;
      result = true;
      break;
    }
    case WM_NCLBUTTONUP:
    case WM_LBUTTONUP: {
      if (Application) Application->CancelHint();
      POINT screen = MessagePoint(msg.LParam);
      if (msg.Msg == WM_LBUTTONUP) ClientToScreen(window, &screen);
      // The states go before the release, which reports back here.
      const TVTHeaderMouseMachine::Ended ended = TVTHeaderMouseMachine(States).End();
      const bool hadStates = ended.Any;
      if (hadStates) {
        if (GetCapture() == window) ReleaseCapture();
        if (ended.Dragging) CompleteColumnDrop(screen);
        msg.Result = 0;
        result = true;
      }
      if (msg.Msg == WM_NCLBUTTONUP) {
        const POINT p = clientOf(msg.LParam);
        if (IsPointInHeader(p)) {
          columns_->HandleClick(headerPoint(p), mbLeft, false, false);
          tree_->NotifyHeaderMouseUp(mbLeft, ShiftOf(CurrentShiftState()), p.x, p.y);
        }
      } else {
        const POINT p = MessagePoint(msg.LParam);
        if (columns_->DownColumn != NoColumn) columns_->HandleClick(headerPoint(p), mbLeft, false, false);
        if (hadStates) tree_->NotifyHeaderMouseUp(mbLeft, ShiftOf(KeyFlagsShift(msg.WParam)), p.x, p.y);
      }
      if (columns_->ResizeColumn != NoColumn) {
        RedrawHeaderArea(columns_->ResizeColumn, false);
        columns_->ResizeColumn = NoColumn;
      }
      if (columns_->DownColumn != NoColumn) {
        RedrawHeaderArea(columns_->DownColumn, false);
        columns_->DownColumn = NoColumn;
      }
      break;
    }
    case WM_NCLBUTTONDBLCLK:
    case WM_NCRBUTTONDBLCLK:
    case WM_NCMBUTTONDBLCLK: {
      const POINT p = clientOf(msg.LParam);
      if (!IsPointInHeader(p)) break;
      const TMouseButton button = msg.Msg == WM_NCLBUTTONDBLCLK   ? mbLeft
                                  : msg.Msg == WM_NCRBUTTONDBLCLK ? mbRight
                                                                  : mbMiddle;
      // The zone under this very click decides, not one left from an earlier test.
      const bool onEdge = HasOption(kHeaderColumnResize) ? InResizeZone(p.x) : false;
      if (HasOption(kHeaderDblClickResize) && onEdge && columns_->ResizeColumn != NoColumn) {
        const int column = columns_->ResizeColumn;
        TVirtualTreeColumn* c = columns_->ColumnAt(column);
        columns_->AnimatedResize(column, std::max(c->GetMinWidth(), core.MeasureColumnContentWidth(column)));
      } else {
        columns_->HandleClick(headerPoint(p), button, true, true);
      }
      tree_->NotifyHeaderDblClick(columns_->ClickedColumn, button, ShiftOf(std::uint8_t(CurrentShiftState() | 0x40)),
                                  p.x, p.y);
      break;
    }
    case WM_NCRBUTTONDOWN:
    case WM_NCMBUTTONDOWN: {
      const POINT p = clientOf(msg.LParam);
      if (IsPointInHeader(p))
        tree_->NotifyHeaderMouseDown(msg.Msg == WM_NCRBUTTONDOWN ? mbRight : mbMiddle, ShiftOf(CurrentShiftState()),
                                     p.x, p.y);
      break;
    }
    case WM_NCRBUTTONUP: {
      if (tree_->ComponentState().Contains(csDesigning)) break;
      if (Application) Application->CancelHint();
      const POINT p = clientOf(msg.LParam);
      if (!IsPointInHeader(p)) break;
      columns_->HandleClick(headerPoint(p), mbRight, true, false);
      tree_->NotifyHeaderMouseUp(mbRight, ShiftOf(CurrentShiftState()), p.x, p.y);
      columns_->DownColumn = NoColumn;
      columns_->ResizeColumn = NoColumn;
      if (popupMenu_) {
        KillTimer(window, kScrollTimer);
        KillTimer(window, kHeaderTimer);
        columns_->HoverColumn = NoColumn;
        core.SetTreeState(tsScrollPending, false);
        core.SetTreeState(tsScrolling, false);
        popupMenu_->SetPopupComponent(tree_);
        const POINT screen = MessagePoint(msg.LParam);
        popupMenu_->Popup(screen.x, screen.y);
        msg.Result = 0;
        result = true;
      }
      break;
    }
    case WM_NCMBUTTONUP: {
      const POINT p = clientOf(msg.LParam);
      if (!IsPointInHeader(p)) break;
      columns_->HandleClick(headerPoint(p), mbMiddle, true, false);
      tree_->NotifyHeaderMouseUp(mbMiddle, ShiftOf(CurrentShiftState()), p.x, p.y);
      columns_->DownColumn = NoColumn;
      break;
    }
    case WM_TIMER:
      if (msg.WParam == kHeaderTimer) {
        POINT p;
        GetCursorPos(&p);
        ScreenToClient(window, &p);
        if (!IsPointInHeader(p) ||
            (columns_->DownColumn != NoColumn && columns_->DownColumn != columns_->HoverColumn)) {
          KillTimer(window, kHeaderTimer);
          // The mouse left the band (or pressed elsewhere): a hint the band asked for goes.
          if (Application) Application->EndNonClientHint(tree_);
          columns_->HoverColumn = NoColumn;
          columns_->ClickedColumn = NoColumn;
          columns_->DownColumn = NoColumn;
          msg.Result = 0;
          result = true;
          Redraw();
        }
      }
      break;
    case WM_MOUSEMOVE:
      result = HandleMouseMove(msg);
      break;
    case CM_BIDIMODECHANGED:
      for (int i = 0; i < columns_->Count(); ++i)
        if (TVirtualTreeColumn* c = columns_->ColumnAt(i); c->HasOption(kColumnParentBidiMode)) c->TakeParentBiDiMode();
      break;
    default:
      break;
  }
  return result;
}

// --- The tree's side ----------------------------------------------------------------------------

bool TBaseVirtualTree::HeaderHandlesMessage(TMessage& msg, bool tracking) {
  if (!header_) return false;
  const bool busy = (header_->States & kMouseStates) != 0;
  if (busy != tracking) return false;
  try {
    return header_->HandleHeaderMessage(msg);
  } catch (...) {
    // A header event that raises ends the header's action; the message stays handled.
    header_->CancelMouseAction();
    if (Application) Application->HandleException(this);
    return true;
  }
}

void TBaseVirtualTree::NotifyHeaderClick(int column, TMouseButton button, TShiftState shift, int x, int y) {
  if (OnHeaderClick) OnHeaderClick(header_, column, button, shift, x, y);
}

void TBaseVirtualTree::NotifyHeaderDblClick(int column, TMouseButton button, TShiftState shift, int x, int y) {
  if (OnHeaderDblClick) OnHeaderDblClick(header_, column, button, shift, x, y);
}

void TBaseVirtualTree::NotifyColumnDragged(int column, int oldPosition) {
  if (OnHeaderDragged) OnHeaderDragged(header_, column, oldPosition);
}

bool TBaseVirtualTree::AskColumnDragAllowed(int column) {
  bool allowed = true;
  if (OnHeaderDragging) OnHeaderDragging(header_, column, allowed);
  return allowed;
}

void TBaseVirtualTree::NotifyHeaderMouseDown(TMouseButton button, TShiftState shift, int x, int y) {
  if (OnHeaderMouseDown) OnHeaderMouseDown(header_, button, shift, x, y);
}

void TBaseVirtualTree::NotifyHeaderMouseMove(TShiftState shift, int x, int y) {
  if (OnHeaderMouseMove) OnHeaderMouseMove(header_, shift, x, y);
}

void TBaseVirtualTree::NotifyHeaderMouseUp(TMouseButton button, TShiftState shift, int x, int y) {
  if (OnHeaderMouseUp) OnHeaderMouseUp(header_, button, shift, x, y);
}

void TBaseVirtualTree::AskHeaderCursor(TCursor& cursor) {
  if (OnGetHeaderCursor) OnGetHeaderCursor(header_, cursor);
}
