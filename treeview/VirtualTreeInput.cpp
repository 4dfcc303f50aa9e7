#include "VirtualTreeInput.h"

#include <algorithm>
#include <climits>
#include <cstdlib>

#include "VirtualTreeOptions.h"

// --- Scroll bars and the wheel ---------------------------------------------------------------------

std::optional<int> ScrollCodeOffset(int code, int current, int increment, int page, int virtualSize, int trackPos) {
  switch (code) {
    case kSbLineUp:
      return current + increment;
    case kSbLineDown:
      return current - increment;
    case kSbPageUp:
      return current + page;
    case kSbPageDown:
      return current - page;
    case kSbThumbPosition:
    case kSbThumbTrack:
      return -trackPos;
    case kSbTop:
      return 0;
    case kSbBottom:
      return -virtualSize;
    default:
      return std::nullopt;
  }
}

TVTWheelScroll WheelScrollAmount(int wheelDelta, bool ctrl, int clientWidth, int clientHeight, int virtualWidth,
                                 int virtualHeight, int defaultNodeHeight, int indent) {
  TVTWheelScroll result;
  long long notches = wheelDelta / 120;  // truncated toward zero
  if (clientHeight < virtualHeight) {
    if (ctrl && defaultNodeHeight > 0) notches *= clientHeight / defaultNodeHeight;
    result.DeltaY = int(std::clamp(notches * defaultNodeHeight, (long long)INT_MIN / 2, (long long)INT_MAX / 2));
  } else {
    if (ctrl && indent > 0) notches *= clientWidth / indent;
    result.DeltaX = int(std::clamp(notches * indent, (long long)INT_MIN / 2, (long long)INT_MAX / 2));
  }
  (void)virtualWidth;
  return result;
}

// --- Check images ----------------------------------------------------------------------------------

namespace {
// Per check type row (check box, radio, button) and state: the index for a
// node that is not pressed and for the pressed one.
struct CheckPair {
  std::uint8_t normal, pressed;
};
constexpr CheckPair kCheckEnabled[3][6] = {
    {{9, 10}, {11, 11}, {13, 14}, {15, 15}, {17, 18}, {19, 19}},
    {{1, 2}, {3, 3}, {5, 6}, {7, 7}, {17, 18}, {19, 19}},
    {{21, 22}, {23, 23}, {21, 22}, {23, 23}, {17, 18}, {19, 19}},
};
constexpr std::uint8_t kCheckDisabled[3][6] = {
    {12, 12, 16, 16, 20, 20},
    {4, 4, 8, 8, 20, 20},
    {24, 24, 24, 24, 20, 20},
};
}  // namespace

int CheckImageIndex(std::uint8_t checkType, std::uint8_t checkState, bool enabled, bool pressed) {
  int row;
  switch (checkType) {
    case ctTriStateCheckBox:
    case ctCheckBox:
      row = 0;
      break;
    case ctRadioButton:
      row = 1;
      break;
    case ctButton:
      row = 2;
      break;
    default:
      return -1;
  }
  if (checkState > csMixedPressed) return -1;
  if (!enabled) return kCheckDisabled[row][checkState];
  const CheckPair& pair = kCheckEnabled[row][checkState];
  return pressed ? pair.pressed : pair.normal;
}

std::uint8_t NextCheckStateFor(std::uint8_t checkType, std::uint8_t checkState) {
  switch (checkType) {
    case ctTriStateCheckBox:
    case ctCheckBox:
      return checkState == csCheckedNormal ? csUncheckedNormal : csCheckedNormal;
    case ctRadioButton:
      return csCheckedNormal;
    case ctButton:
      return csUncheckedNormal;
    default:
      return csMixedNormal;
  }
}

std::uint8_t PressedCheckState(std::uint8_t checkState) {
  switch (checkState) {
    case csUncheckedNormal:
      return csUncheckedPressed;
    case csCheckedNormal:
      return csCheckedPressed;
    case csMixedNormal:
      return csMixedPressed;
    default:
      return checkState;
  }
}

TVTThemedCheck ThemedCheckPart(int index) {
  if (index >= 1 && index <= 8) return {kThemeRadioButton, index, false};
  if (index >= 9 && index <= 20) return {kThemeCheckBox, index - 8, false};
  if (index >= 21 && index <= 24) return {kThemePushButton, index - 20, true};
  return {};
}

// --- Line kinds ------------------------------------------------------------------------------------

int ComputeLineImages(TVirtualTreeCore& tree, TVTNode* node, std::vector<std::uint8_t>& kinds) {
  kinds.clear();
  if (!node) return 0;
  const bool showRoot = tree.OptionBits.Paint & voShowRoot;
  const int level = tree.NodeLevel(node);  // 0 for a top-level node
  const std::size_t count = std::size_t(level) + (showRoot ? 1 : 0);
  kinds.assign(count, ltNone);
  // The top-level ancestor (the node itself for a top-level node), counting
  // the selected ancestors on the way.
  int selectedAncestors = 0;
  TVTNode* top = node;
  for (int depth = level; depth > 0; --depth) {
    top = top->Parent;
    if (top->States & vsSelected) ++selectedAncestors;
  }
  if (!(tree.OptionBits.Paint & voShowTreeLines) || count == 0) return selectedAncestors;

  // The entry of the node at depth d is d - 1, or d with the root shown.
  const int shift = showRoot ? 0 : -1;
  if (level + shift >= 0)
    kinds[std::size_t(level + shift)] = tree.VisibleSiblingFollows(node) ? ltTopDownRightStub : ltTopRight;
  TVTNode* p = node->Parent;
  for (int depth = level - 1; depth >= 1; --depth, p = p->Parent) {
    kinds[std::size_t(depth + shift)] = tree.VisibleSiblingFollows(p) ? ltTopDownRight : ltNone;
  }
  if (showRoot) {
    if (top == node) {
      const bool first = tree.IsFirstVisibleChild(nullptr, node);
      const bool last = tree.IsLastVisibleChild(nullptr, node);
      kinds[0] = first && last ? ltRight : first ? ltTopDown : last ? ltTopRight : ltTopDownRightStub;
    } else {
      kinds[0] = tree.VisibleSiblingFollows(top) ? ltTopDownRight : ltNone;
    }
  }
  return selectedAncestors;
}

void ToBandLineKinds(std::vector<std::uint8_t>& kinds, bool nodeExpanded) {
  if (!nodeExpanded) {
    std::fill(kinds.begin(), kinds.end(), ltLeft);
    return;
  }
  const std::vector<std::uint8_t> line = kinds;
  for (std::size_t i = kinds.size(); i-- > 0;) {
    const std::uint8_t k = line[i];
    const bool next = i + 1 < line.size();
    if ((k == ltNone || k == ltTopDownRight) && next && (line[i + 1] == ltNone || line[i + 1] == ltTopRight))
      kinds[i] = kinds[i + 1];
    else if (k == ltTopDown || k == ltTopDownRightStub || k == ltRight)
      kinds[i] = ltLeftBottom;
    else
      kinds[i] = ltLeft;
  }
}

// --- Click and band selection ----------------------------------------------------------------------

void HandleClickSelection(TVirtualTreeCore& tree, TVTNode* target, std::uint8_t shift) {
  if (!target) return;
  const bool multi = tree.MultiSelect();
  const bool ctrl = shift & kKeyCtrl;
  // Ranges need multi-select; a single-select tree takes a Shift click as a plain one.
  const bool range = multi && (shift & kKeyShift);
  TVirtualTreeHost* host = tree.Host();
  const bool selected = target->States & vsSelected;
  if (ctrl && range) {
    tree.SelectNodeRange(tree.RangeAnchor(), target, true);
    if (host) host->Invalidate();
  } else if (ctrl) {
    if (!tree.SiblingSelectConstraint()) tree.SetRangeAnchor(target);
    tree.SetNodeSelected(target, !selected);
    if (host) host->InvalidateNode(target);
  } else if (range) {
    if (!tree.RangeAnchor()) tree.SetRangeAnchor(tree.FirstNodeRaw());
    tree.SelectNodeRange(tree.RangeAnchor(), target, false);
    if (host) host->Invalidate();
  } else {
    if (!selected) {
      tree.SetNodeSelected(target, true);
      if (host) host->InvalidateNode(target);
    }
    tree.SetRangeAnchor(target);
  }
}

bool UpdateRectangleSelection(TVirtualTreeCore& tree, const TVTRect& oldRect, const TVTRect& newRect, bool toggle,
                              const TVTLabelExtentFunc& labelExtent) {
  if (tree.VisibleCount() == 0 || !tree.HasTreeState(tsDrawSelecting) || !labelExtent) return false;
  const TVTRect o = NormalizeRect(oldRect);
  const TVTRect n = NormalizeRect(newRect);
  const int top = std::min(o.Top, n.Top);
  const int bottom = std::max(o.Bottom, n.Bottom);
  std::vector<TVTNode*> collected;
  bool changed = false;
  auto meets = [](const TVTRect& r, const TVTLabelExtent& e, int rowTop, int rowBottom) {
    return e.Left < r.Right && r.Left < e.Right && rowTop < r.Bottom && r.Top < rowBottom && !r.IsEmpty();
  };
  int rowTop = 0;
  for (TVTNode* node = tree.NodeAtOffset(std::max(top, 0), false, &rowTop); node && rowTop < bottom;
       node = tree.NextVisibleNodeRaw(node)) {
    const int rowBottom = rowTop + node->NodeHeight;
    const TVTLabelExtent extent = labelExtent(node);
    const bool inOld = meets(o, extent, rowTop, rowBottom);
    const bool inNew = meets(n, extent, rowTop, rowBottom);
    rowTop = rowBottom;
    if (inOld == inNew) continue;
    const bool selected = node->States & vsSelected;
    if (toggle ? selected : !inNew) {
      if (selected) {
        tree.RemoveFromSelectionArray(node);
        changed = true;
      }
    } else if (!selected && !(node->States & vsDisabled)) {
      collected.push_back(node);
      changed = true;
    }
  }
  if (!changed) return false;
  tree.DropMarkedEntries();
  if (!collected.empty()) tree.MergeIntoSelection(collected.data(), collected.size(), false);
  tree.ScheduleChangeEvent(nullptr);
  return true;
}

// --- Mouse -----------------------------------------------------------------------------------------

namespace {
TVTRect UnionOf(const TVTRect& a, const TVTRect& b) {
  const TVTRect x = NormalizeRect(a), y = NormalizeRect(b);
  return {std::min(x.Left, y.Left), std::min(x.Top, y.Top), std::max(x.Right, y.Right), std::max(x.Bottom, y.Bottom)};
}
}  // namespace

bool TVTMouseController::BandShown() const {
  return tree_.HasTreeState(tsDrawSelecting) || tree_.HasTreeState(tsDrawSelPending);
}

void TVTMouseController::PressCheck(TVTNode* node) {
  TVirtualTreeCore& t = tree_;
  if (t.MouseCheckNode || (node->States & vsDisabled)) return;
  std::uint8_t next = NextCheckStateFor(node->CheckType, node->CheckState);
  if (!t.AllowCheckChange(node, next)) return;
  t.MouseCheckNode = node;
  pressedCheckState_ = next;
  node->CheckState = ::PressedCheckState(node->CheckState);
  if (t.Host()) t.Host()->InvalidateNode(node);
}

void TVTMouseController::EndWheelPanning() {
  tree_.SetTreeState(tsWheelPanning, false);
  tree_.SetTreeState(tsWheelScrolling, false);
  if (tree_.Host()) tree_.Host()->StopTimer(kScrollTimer);
}

void TVTMouseController::DoubleClick(int /*button*/, const TVTHitInfo& hit) {
  TVirtualTreeCore& t = tree_;
  t.SetTreeState(tsEditPending, false);
  if (t.Host()) t.Host()->StopTimer(kEditTimer);
  if (!t.EndEditingIfActive()) return;
  if (hit.HitColumn > NoColumn && hit.HitColumn == clickedColumn_) ColumnDblClick(hit.HitColumn);
  TVTNode* node = hit.HitNode;
  if (!node) return;
  if (hit.HitPositions & hiOnItemCheckbox) {
    PressCheck(node);
    return;
  }
  const bool onParts = hit.HitPositions & (hiOnItemButton | hiOnItemLabel | hiOnNormalIcon | hiOnStateIcon);
  if ((t.OptionBits.Misc & voToggleOnDblClick) && (onParts || (t.OptionBits.Selection & voFullRowSelect))) {
    try {
      t.ToggleExpansion(node);
    } catch (...) {
      // A refused or failing toggle leaves the node as it is.
    }
  }
}

void TVTMouseController::ButtonDown(int button, const TVTHitInfo& hit, int x, int y, std::uint8_t shift) {
  TVirtualTreeCore& t = tree_;
  TVirtualTreeHost* host = t.Host();
  // 1. A press while panning only ends the panning.
  if (t.HasTreeState(tsWheelPanning) || t.HasTreeState(tsWheelScrolling)) {
    EndWheelPanning();
    return;
  }
  // 2. A pending edit start goes; a running edit ends (or is cancelled), and
  // a press that cannot end it does nothing else.
  t.SetTreeState(tsEditPending, false);
  if (host) host->StopTimer(kEditTimer);
  const bool editing = (t.OptionBits.Auto & (1u << 9)) ? !t.CancelEditingIfActive() : !t.EndEditingIfActive();
  if (editing) return;

  // 3. The clicked column, and the column the press focuses.
  TVTNode* node = hit.HitNode;
  const bool fullRowSelect = t.OptionBits.Selection & voFullRowSelect;
  const bool grid = t.OptionBits.Misc & voGridExtensions;
  clickedColumn_ = hit.HitColumn;
  int column = t.FocusedColumn();
  if (t.ColumnLayout.HasColumns() && ((hit.HitPositions & hiOnItemLabel) || fullRowSelect || grid))
    column = (t.OptionBits.Selection & voExtendedFocus) ? hit.HitColumn : t.MainColumn();

  // 4. The modifiers and what the press is on.
  shift &= kKeyShift | kKeyCtrl;
  const bool modifier = shift != 0;
  const bool multi = t.MultiSelect();
  const bool onItem = node && (hit.HitPositions & (hiOnItemLabel | hiOnNormalIcon));
  const bool fullRowHit =
      node && !onItem && !(hit.HitPositions & (hiOnItemButton | hiOnItemCheckbox)) && (fullRowSelect || grid);

  // 5. Whether a drag may start from here.
  bool mayDrag = (AutomaticDrag || t.HasTreeState(tsOLEDragPending)) && !fullRowHit;
  if (!AutomaticDrag && node) mayDrag = AskDragAllowed(node, column) && !fullRowHit;

  // 6. The expand button and the check box act at once.
  if (node && (hit.HitPositions & hiOnItemButton) && (node->States & vsHasChildren)) {
    t.ToggleExpansion(node);
    return;
  }
  if (node && (hit.HitPositions & hiOnItemCheckbox)) {
    PressCheck(node);
    return;
  }

  // 7. The selection level.
  if ((t.RootChildCount() > 0 && !modifier) || t.SelectedCount() == 0)
    t.SetLastSelectionLevel(node ? t.NodeLevel(node) : 0);

  // 8. A plain press on a selected node that may be dragged keeps the
  // selection for the drag; the release leaves the node alone selected.
  if (multi && !modifier && onItem && (node->States & vsSelected) && mayDrag) t.SetTreeState(tsClearPending, true);

  // 9. Resetting the selection: a press beside the items clears it in a
  // multi-select tree; a plain press on an item leaves that item alone selected.
  if (!onItem && !fullRowHit) {
    if (multi && !modifier) t.ClearSelectionAndRepaint();
  } else if (!modifier || !multi) {
    if (!(node->States & vsSelected)) {
      t.ClearSelectionAndRepaint();
    } else if (!mayDrag && !(button == kMouseRight && PopupApplies(node, column, x, y)) && t.SelectedCount() > 1) {
      t.DropAllSelected();
      t.AddOneToSelection(node, false);
      if (host) host->Invalidate();
      t.ScheduleChangeEvent(nullptr);
    }
  }

  // 10. A press on the focused column's caption of a selected node edits it on release.
  const bool onCaption = node && ((hit.HitPositions & hiOnItemLabel) || (grid && (hit.HitPositions & hiOnItem)));
  if (Focused() && onCaption && (node->States & vsSelected) && column == t.FocusedColumn() && !modifier)
    t.SetTreeState(tsEditPending, true);

  // 11.
  TakeFocus();

  // 12. A press beside the captions may start a rubber band.
  if (multi && !(t.OptionBits.Selection & voDisableDrawSelection) && !onItem) {
    t.SetTreeState(tsDrawSelPending, true);
    bandToggle_ = shift & kKeyCtrl;
    band_ = TVTRect{x - t.OffsetX(), y - t.OffsetY(), x - t.OffsetX(), y - t.OffsetY()};
    if (!fullRowHit) return;
  }

  // 13. Focus and selection.
  downX_ = x;
  downY_ = y;
  if (!onItem && !fullRowHit) return;
  TVTNode* oldNode = t.FocusedNode();
  const int oldColumn = t.FocusedColumn();
  if (!t.AllowFocusChange(oldNode, node, oldColumn, column)) return;
  if (column != oldColumn) {
    t.SetFocusedColumnRaw(column);
    t.RepaintColumnStrip(oldColumn);
    t.RepaintColumnStrip(column);
  }
  t.SetFocusedNode(node);
  if (multi && modifier && !t.HasTreeState(tsOLEDragPending)) {
    HandleClickSelection(t, node, shift);
  } else {
    if (!modifier) t.SetRangeAnchor(node);
    if (!(node->States & vsSelected)) {
      t.AddToSelectionAndNotify(node);
      if (host) host->InvalidateNode(node);
    }
  }

  // 14. A drag waits for the mouse to move beyond the threshold.
  if (mayDrag && button == kMouseLeft) t.InitiateDrag(false, -1);
}

void TVTMouseController::ButtonUp(int /*button*/, const TVTHitInfo& hit) {
  TVirtualTreeCore& t = tree_;
  TVirtualTreeHost* host = t.Host();
  if (t.HasTreeState(tsOLEDragging) || t.HasTreeState(tsWheelPanning) || t.HasTreeState(tsWheelScrolling)) return;
  // A release ends a drag that never got beyond its threshold.
  t.SetTreeState(tsOLEDragPending, false);
  if (BandShown()) {
    t.SetTreeState(tsDrawSelPending, false);
    t.SetTreeState(tsDrawSelecting, false);
    band_ = TVTRect{};
    if (host) host->Invalidate();
  }
  if (t.HasTreeState(tsClearPending)) {
    t.SetTreeState(tsClearPending, false);
    TVTNode* focused = t.FocusedNode();
    const bool wasSelected = focused && (focused->States & vsSelected);
    if (t.SelectedCount() > (wasSelected ? 1u : 0u)) {
      t.ClearSelectionAndRepaint();
      if (wasSelected) t.AddToSelectionAndNotify(focused);
    }
  }
  t.SetTreeState(tsScrollPending, false);
  t.SetTreeState(tsScrolling, false);
  if (host) host->StopTimer(kScrollTimer);
  if (TVTNode* node = t.MouseCheckNode) {
    t.MouseCheckNode = nullptr;
    if (hit.HitNode == node && (hit.HitPositions & hiOnItemCheckbox)) t.CheckNodeAndNotify(node, pressedCheckState_);
    // Released elsewhere, or the new state was refused (by the node's parent):
    // the box shows its own state again.
    if (node->CheckState == csUncheckedPressed || node->CheckState == csCheckedPressed ||
        node->CheckState == csMixedPressed)
      node->CheckState = std::uint8_t(node->CheckState - 1);
    if (host) host->InvalidateNode(node);
  }
  if (hit.HitColumn > NoColumn && hit.HitColumn == clickedColumn_) ColumnClick(hit.HitColumn);
  if (t.HasTreeState(tsEditPending)) {
    const bool grid = t.OptionBits.Misc & voGridExtensions;
    const bool onItem = (hit.HitPositions & hiOnItemLabel) || (grid && (hit.HitPositions & hiOnItem));
    if (hit.HitNode && hit.HitNode == t.FocusedNode() && onItem && t.CanEditNode(hit.HitNode, t.FocusedColumn())) {
      t.SetEditColumn(t.FocusedColumn());
      if (host) host->StartTimer(kEditTimer, EditDelay);
    } else {
      t.SetTreeState(tsEditPending, false);
    }
  }
}

void TVTMouseController::Move(const TVTHitInfo& hit, int x, int y) {
  TVirtualTreeCore& t = tree_;
  TVirtualTreeHost* host = t.Host();
  if (t.HasTreeState(tsWheelPanning) || t.HasTreeState(tsWheelScrolling)) {
    UpdatePanningCursor(x, y);
    return;
  }
  if (!BandShown() && t.HasTreeState(tsOLEDragPending)) {
    // The drag starts once the mouse has moved far enough from the press.
    const int threshold = t.DragThreshold();
    if (std::abs(x - downX_) >= threshold || std::abs(y - downY_) >= threshold) {
      t.SetTreeState(tsOLEDragPending, false);
      t.SetTreeState(tsClearPending, false);
      t.SetTreeState(tsEditPending, false);
      if (host) host->StartOleDrag();
      return;
    }
  }
  if (BandShown()) {
    const TVTRect old = band_;
    band_.Right = x - t.OffsetX();
    band_.Bottom = y - t.OffsetY();
    if (band_.Right == old.Right && band_.Bottom == old.Bottom) return;
    bool changed = false;
    if (t.HasTreeState(tsDrawSelPending)) {
      if (std::abs(band_.Width()) <= DragThresholdX && std::abs(band_.Height()) <= DragThresholdY) return;
      t.SetTreeState(tsDrawSelPending, false);
      t.SetTreeState(tsDrawSelecting, true);
      if (t.ColumnLayout.HasColumns()) t.SetFocusedColumnRaw(t.MainColumn());
      const TVTRect start{band_.Left, band_.Top, band_.Left, band_.Top};
      changed = UpdateRectangleSelection(t, start, band_, bandToggle_, LabelExtent);
    } else {
      changed = UpdateRectangleSelection(t, old, band_, bandToggle_, LabelExtent);
    }
    if (changed) {
      if (host) host->Invalidate();
    } else {
      TVTRect area = UnionOf(old, band_);
      area = TVTRect{area.Left + t.OffsetX() - 1, area.Top + t.OffsetY() - 1, area.Right + t.OffsetX() + 1,
                     area.Bottom + t.OffsetY() + 1};
      RepaintRect(area);
    }
    if (host) host->UpdateWindow();
    return;
  }
  UpdateHotNode(t, hit);
}

void UpdateHotNode(TVirtualTreeCore& tree, const TVTHitInfo& hit) {
  // A node counts under its caption or check box, or anywhere on its row
  // with full-row selection.
  TVTNode* hot = hit.HitNode;
  if (hot && !(hit.HitPositions & (hiOnItemLabel | hiOnItemCheckbox)) && !(tree.OptionBits.Selection & voFullRowSelect))
    hot = nullptr;
  tree.ChangeHotNode(hot);
}

// --- Wheel panning -----------------------------------------------------------------------------------

const char* PanningCursorName(int dx, int dy, bool horizontal, bool vertical) {
  if (std::abs(dx) <= 7 && std::abs(dy) <= 7) {
    if (!horizontal) return "VT_MOVENS";
    return vertical ? "VT_MOVEALL" : "VT_MOVEEW";
  }
  if (horizontal && vertical) {
    static const char* const west[] = {"VT_MOVENW", "VT_MOVEW", "VT_MOVESW"};
    static const char* const east[] = {"VT_MOVENE", "VT_MOVEE", "VT_MOVESE"};
    const int band = dy < -8 ? 0 : dy < 9 ? 1 : 2;
    if (dx < -8) return west[band];
    if (dx < 9) return dy < 0 ? "VT_MOVEN" : "VT_MOVES";
    return east[band];
  }
  if (horizontal) return dx < 0 ? "VT_MOVEW" : "VT_MOVEE";
  return dy < 0 ? "VT_MOVEN" : "VT_MOVES";
}

const char* PanningBitmapName(bool horizontal, bool vertical) {
  if (horizontal && vertical) return "VT_MOVEALL";
  return horizontal ? "VT_MOVEEW" : "VT_MOVENS";
}

// --- Incremental search ----------------------------------------------------------------------------

bool TVTIncrementalSearch::Counts(TVTNode* node) const {
  if (!node) return false;
  if (Mode == isInitializedOnly) return node->States & vsInitialized;
  if (Mode == isVisibleOnly) return tree_.NodeFullyShown(node);
  return true;
}

TVTNode* TVTIncrementalSearch::Step(TVTNode* node, bool wrap) {
  TVirtualTreeCore& t = tree_;
  const bool forward = Direction == sdForward;
  TVTNode* next = nullptr;
  switch (Mode) {
    case isVisibleOnly:
      if (node) next = forward ? t.NextVisibleNode(node) : t.PreviousVisibleNode(node);
      if (!next && (wrap || !node)) next = forward ? t.FirstVisibleNode() : t.LastVisibleNodeOf(nullptr);
      break;
    case isInitializedOnly:
      // Only the initialised nodes: the raw walks, which initialise nothing.
      next = node;
      do {
        if (next) next = forward ? t.NextNodeRaw(next) : t.PreviousNodeRaw(next);
        if (!next && (wrap || !node)) {
          next = forward ? t.FirstNodeRaw() : t.LastNodeOfRaw(nullptr);
          wrap = false;
          node = next;  // one lap at most
          if (next && !(next->States & vsInitialized)) continue;
        }
      } while (next && !(next->States & vsInitialized));
      break;
    default:
      if (node) next = forward ? t.NextNode(node) : t.PreviousNode(node);
      if (!next && (wrap || !node)) next = forward ? t.FirstNode() : t.LastNodeOf(nullptr);
      break;
  }
  return next;
}

void TVTIncrementalSearch::ProcessSearchKeystroke(char16_t ch) {
  TVirtualTreeCore& t = tree_;
  TVirtualTreeHost* host = t.Host();
  if (host) host->StopTimer(kIncrementalSearchTimer);
  if (Mode == isNone) return;
  if (ch != 0) {
    t.SetTreeState(tsIncrementalSearching, true);
    TVTNode* start = Start == ssFocusedNode ? t.FocusedNode() : Start == ssLastHit ? t.SearchNode : nullptr;
    if (start && !Counts(start)) start = nullptr;
    const bool repeat = text_.size() == 1 && text_[0] == ch;
    if (text_.empty() || !start || repeat) start = Step(start, true);
    if (start) {
      const std::u16string text = repeat ? text_ : text_ + ch;
      TVTNode* found = nullptr;
      TVTNode* run = start;
      do {
        if (FireIncrementalSearch(run, text) == 0) {
          found = run;
          break;
        }
        run = Step(run, true);
      } while (run && run != start);
      if (found) {
        t.ClearSelectionAndRepaint();
        text_ = text;
        t.SearchNode = found;
        if (found != t.FocusedNode() &&
            t.AllowFocusChange(t.FocusedNode(), found, t.FocusedColumn(), t.FocusedColumn())) {
          t.SetFocusedNode(found);
          t.BringNodeIntoView(found, false, false);
        }
        t.AddToSelectionAndNotify(found);
        if (host) host->InvalidateNode(found);
      } else if (text_.empty() || FireIncrementalSearch(start, text_) != 0) {
        // The text typed so far still stands on the start node: no beep.
        Beep();
      }
    }
  }
  if (host) host->StartTimer(kIncrementalSearchTimer, Timeout);
}

void TVTIncrementalSearch::TimeoutExpired() {
  if (tree_.Host()) tree_.Host()->StopTimer(kIncrementalSearchTimer);
  tree_.SetTreeState(tsIncrementalSearching, false);
  text_.clear();
}

// --- Hints -----------------------------------------------------------------------------------------

namespace {
bool HintBlocked(TVirtualTreeCore& tree, const TVTHintQuestion& q) {
  return !q.FocusNearby || q.MouseCaptured || !q.ShowHint || q.HeaderBusy || tree.IsDragInProgress() ||
         tree.HasTreeState(tsDrawSelPending) || tree.HasTreeState(tsDrawSelecting) ||
         tree.HasTreeState(tsScrollPending);
}
}  // namespace

TVTHintShow DecideHint(TVirtualTreeCore& tree, const TVTHintQuestion& q) {
  TVTHintShow show = TVTHintShow::Refused;
  if (!HintBlocked(tree, q)) {
    TVTNode* node = q.Hit.HitNode;
    switch (q.HintMode) {
      case 0:
        show = TVTHintShow::ControlHint;
        break;
      case 1:
        if (node) show = TVTHintShow::NodeHint;
        break;
      case 2:
        show = node ? TVTHintShow::NodeHint : TVTHintShow::ControlHint;
        break;
      case 3:
        if (node && q.TextTruncated) show = TVTHintShow::NodeText;
        break;
      default:
        break;
    }
  }
  const bool shown = show != TVTHintShow::Refused;
  tree.SetTreeState(tsHintPreparing, shown);
  tree.SetTreeState(tsHint, shown);
  return show;
}

TVTHeaderHintShow DecideHeaderHint(TVirtualTreeCore& tree, const TVTHintQuestion& q, const TVTHeaderHintColumn& c) {
  TVTHeaderHintShow show = TVTHeaderHintShow::Refused;
  if (!HintBlocked(tree, q) && c.Column >= 0) {
    if (c.HasHint)
      show = TVTHeaderHintShow::ColumnHint;
    else if (c.CaptionCutOff)
      show = TVTHeaderHintShow::Caption;
  }
  const bool shown = show != TVTHeaderHintShow::Refused;
  tree.SetTreeState(tsHintPreparing, shown);
  tree.SetTreeState(tsHint, shown);
  return show;
}

// --- Keyboard --------------------------------------------------------------------------------------

TVTRect TVTKeyboardController::TextRect(TVTNode* node, int column) {
  return tree_.ComputeNodeCellRect(node, column, true, false);
}

void TVTKeyboardController::Focus(TVTNode* node) {
  if (!node || node == tree_.FocusedNode()) return;
  if (!tree_.AllowFocusChange(tree_.FocusedNode(), node, tree_.FocusedColumn(), tree_.FocusedColumn())) return;
  tree_.SetFocusedNode(node);
  tree_.BringNodeIntoView(node, false, false);
}

bool TVTKeyboardController::FocusColumn(int column) {
  if (column == InvalidColumn || column == tree_.FocusedColumn()) return false;
  tree_.SetFocusedColumn(column);
  return tree_.FocusedColumn() == column;
}

int TVTKeyboardController::NextAllowedColumn(TVTNode* node, int from, bool forward) {
  const auto& columns = tree_.ColumnLayout.Columns;
  if (columns.empty()) return InvalidColumn;
  std::ptrdiff_t i = -1;
  for (std::size_t k = 0; k < columns.size(); ++k) {
    if (columns[k].Index == from) i = std::ptrdiff_t(k);
  }
  const std::ptrdiff_t count = std::ptrdiff_t(columns.size());
  if (i < 0) i = forward ? -1 : count;
  for (std::ptrdiff_t k = forward ? i + 1 : i - 1; k >= 0 && k < count; k += forward ? 1 : -1) {
    const int candidate = columns[std::size_t(k)].Index;
    if (tree_.AllowFocusChange(tree_.FocusedNode(), node, tree_.FocusedColumn(), candidate)) return candidate;
  }
  return InvalidColumn;
}

bool TVTKeyboardController::KeyDown(int key, std::uint8_t shift, bool /*repeat*/) {
  if (!KeyAction(key, shift)) return false;
  switch (key) {
    case vtkey::Back:
    case vtkey::Tab:
    case vtkey::Prior:
    case vtkey::Next:
    case vtkey::End:
    case vtkey::Home:
    case vtkey::Left:
    case vtkey::Up:
    case vtkey::Right:
    case vtkey::Down:
      return NavigationKey(key, shift);
    default:
      return OtherKey(key, shift);
  }
}

bool TVTKeyboardController::NavigationKey(int key, std::uint8_t shift) {
  TVirtualTreeCore& t = tree_;
  TVirtualTreeHost* host = t.Host();
  const bool ctrl = shift & kKeyCtrl;
  const bool modifier = shift & (kKeyShift | kKeyCtrl | kKeyAlt);
  const bool multi = t.MultiSelect();
  const bool grid = t.OptionBits.Misc & voGridExtensions;
  const bool extendedFocus = t.OptionBits.Selection & voExtendedFocus;
  const bool fullRow = t.OptionBits.Selection & voFullRowSelect;
  const bool hasColumns = t.ColumnLayout.HasColumns();

  const bool extend = (shift & kKeyShift) && multi && !t.HasTreeState(tsEditing);
  bool range = extend && (key == vtkey::Prior || key == vtkey::Next || key == vtkey::End || key == vtkey::Home);
  const bool repaintAll = range || t.SelectedCount() > 1;
  // The selection follows the focus for plain moves, for Shift moves that
  // cannot extend (single select) and, with grid extensions, for Ctrl moves
  // (they move the focused node there); Backspace and Tab keep it.
  const std::uint8_t effective = shift & (kKeyCtrl | kKeyAlt | (multi ? kKeyShift : 0));
  const bool resetSelection =
      key != vtkey::Back && key != vtkey::Tab && (effective == 0 || (effective == kKeyCtrl && grid));

  TVTNode* start = t.FocusedNode();
  if (!start && modifier) start = t.FirstVisibleNode();
  if (!t.RangeAnchor()) {
    TVTNode* anchor = t.FirstSelectedNode();
    if (!anchor) anchor = start;
    if (!anchor) anchor = t.FirstVisibleNode();
    t.SetRangeAnchor(anchor);
  }
  TVTNode* anchor = t.RangeAnchor();
  TVTNode* focused = t.FocusedNode();
  const int clientHeight = t.ClientHeight();

  switch (key) {
    case vtkey::Back:
      if (focused && focused->Parent && t.NodeLevel(focused) > 0) Focus(focused->Parent);
      break;
    case vtkey::Tab: {
      if (!extendedFocus || !hasColumns) return false;
      const bool forward = !(shift & kKeyShift);
      const int column = NextAllowedColumn(focused, t.FocusedColumn(), forward);
      if (column != InvalidColumn) {
        FocusColumn(column);
      } else if (focused) {
        TVTNode* next = forward ? t.NextVisibleNode(focused) : t.PreviousVisibleNode(focused);
        if (next) {
          const int first = NextAllowedColumn(next, forward ? InvalidColumn : InvalidColumn, forward);
          Focus(next);
          if (first != InvalidColumn) FocusColumn(first);
        }
      }
      break;
    }
    case vtkey::Prior:
    case vtkey::Next: {
      const bool up = key == vtkey::Prior;
      if (ctrl) {
        t.SetOffsetY(t.OffsetY() + (up ? clientHeight : -clientHeight));
        break;
      }
      TVTNode* target = focused;
      if (!target) {
        target = up ? t.FirstVisibleNode() : t.LastVisibleNodeOf(nullptr);
      } else {
        int covered = 0;
        while (covered < clientHeight) {
          TVTNode* n = up ? t.PreviousVisibleNode(target) : t.NextVisibleNode(target);
          if (!n) break;
          target = n;
          covered += n->NodeHeight;
        }
      }
      Focus(target);
      break;
    }
    case vtkey::Home:
    case vtkey::End: {
      const bool home = key == vtkey::Home;
      TVTNode* target = home ? t.FirstVisibleNode() : t.LastVisibleNodeOf(nullptr);
      int column = NoColumn;
      if (hasColumns) {
        column = NextAllowedColumn(target, InvalidColumn, home);
        if (column == InvalidColumn) return false;
      }
      if (!grid) {
        if ((shift & (kKeyShift | kKeyCtrl | kKeyAlt)) == kKeyCtrl) {
          if (target) t.BringNodeIntoView(target, false, false);
          t.SetOffsetX(home ? 0 : INT_MIN / 2);
        } else {
          Focus(target);
          if (hasColumns) FocusColumn(column);
        }
      } else {
        if (ctrl) Focus(target);
        if (hasColumns && !fullRow) FocusColumn(column);
      }
      break;
    }
    case vtkey::Left:
    case vtkey::Right: {
      const bool left = key == vtkey::Left;
      if (ctrl) {
        t.SetOffsetX(t.OffsetX() + (left ? t.Indent : -t.Indent));
        break;
      }
      if (extendedFocus && grid && hasColumns) {
        const int column = NextAllowedColumn(focused, t.FocusedColumn(), !left);
        if (column != InvalidColumn) FocusColumn(column);
        break;
      }
      if (!focused) {
        Focus(t.FirstVisibleNode());
        break;
      }
      const bool expanded = focused->States & vsExpanded;
      const bool children = focused->States & vsHasChildren;
      if (left) {
        if (expanded && children && !modifier) {
          t.ToggleExpansion(focused);
        } else if (t.NodeLevel(focused) > 0) {
          TVTNode* parent = focused->Parent;
          if (extend) {
            if (focused->Index > 0)
              range = true;
            else if (anchor && t.CompareNodeOrder(parent, anchor) > 0)
              t.RemoveFromSelectionAndNotify(focused);
          }
          Focus(parent);
        }
      } else {
        if (!expanded && children && !modifier) {
          t.ToggleExpansion(focused);
        } else if (expanded) {
          TVTNode* child = t.FirstVisibleChild(focused);
          if (child) {
            if (extend && anchor && t.CompareNodeOrder(child, anchor) < 0) t.RemoveFromSelectionAndNotify(focused);
            Focus(child);
          }
        }
      }
      break;
    }
    case vtkey::Up:
    case vtkey::Down: {
      const bool up = key == vtkey::Up;
      if (ctrl) {
        t.SetOffsetY(t.OffsetY() + (up ? t.DefaultNodeHeight() : -t.DefaultNodeHeight()));
        break;
      }
      TVTNode* target = focused ? (up ? t.PreviousVisibleNode(focused) : t.NextVisibleNode(focused))
                                : (up ? t.LastVisibleNodeOf(nullptr) : t.FirstVisibleNode());
      if (!target) {
        if (focused && host) host->InvalidateNode(focused);
        break;
      }
      t.EndEditingIfActive();
      if (t.FocusedColumn() == NoColumn && hasColumns) t.SetFocusedColumnRaw(t.MainColumn());
      if (extend && focused && anchor) {
        const int side = t.CompareNodeOrder(focused, anchor);
        if ((up && side > 0) || (!up && side < 0)) t.RemoveFromSelectionAndNotify(focused);
      }
      Focus(target);
      break;
    }
    default:
      break;
  }

  TVTNode* now = t.FocusedNode();
  if (resetSelection) {
    if (now != focused || t.SelectedCount() > 1)
      t.ClearSelectionAndRepaint();
    else
      t.DropAllSelected();
  }
  if (!modifier) {
    t.SetRangeAnchor(now);
    t.SetLastSelectionLevel(now ? t.NodeLevel(now) : -1);
  }
  if (range && now) t.ResizeRangeSelection(start, now);
  if (now && !(now->States & vsSelected)) {
    // A single-select tree never holds two nodes.
    if (!multi && t.SelectedCount() > 0) t.DropAllSelected();
    if (t.AddOneToSelection(now, false) && now != start) t.ScheduleChangeEvent(now);
    if (host) host->InvalidateNode(now);
  }
  if (repaintAll && host) host->Invalidate();
  return true;
}

bool TVTKeyboardController::OtherKey(int key, std::uint8_t shift) {
  TVirtualTreeCore& t = tree_;
  TVirtualTreeHost* host = t.Host();
  const bool ctrl = shift & kKeyCtrl;
  const bool shifted = shift & kKeyShift;
  const bool modifier = shift & (kKeyShift | kKeyCtrl | kKeyAlt);
  TVTNode* focused = t.FocusedNode();
  switch (key) {
    case vtkey::Escape:
      if (t.HasTreeState(tsDrawSelecting) || t.HasTreeState(tsDrawSelPending)) {
        t.SetTreeState(tsDrawSelPending, false);
        t.SetTreeState(tsDrawSelecting, false);
        BandCancelled();
        if (host) host->Invalidate();
      } else {
        t.CancelEditingIfActive();
      }
      return true;
    case vtkey::Space:
      if ((t.OptionBits.Misc & voCheckSupport) && focused && focused->CheckType != ctNone) {
        if (t.SpaceCheckNode || (focused->States & vsDisabled)) return true;
        std::uint8_t next = NextCheckStateFor(focused->CheckType, focused->CheckState);
        if (!t.AllowCheckChange(focused, next)) return true;
        t.SpaceCheckNode = focused;
        pendingCheckState_ = next;
        focused->CheckState = PressedCheckState(focused->CheckState);
        t.RedrawNodeNow(focused);
        return true;
      }
      break;
    case vtkey::KeyA:
    case vtkey::KeyALower:
      if (ctrl && !shifted) {
        t.SelectEveryNode(true);
        return true;
      }
      break;
    case vtkey::Apps:
      if (focused) {
        const int column = t.ColumnLayout.HasColumns() ? t.FocusedColumn() : NoColumn;
        TVTRect r = TextRect(focused, column);
        const TVTColumnInfo* info = t.ColumnLayout.Find(column);
        const int limit = info ? info->Width : t.ClientWidth();
        if (r.Width() > limit) r.Right = r.Left + limit;
        Popup(focused, column, (r.Left + r.Right) / 2, (r.Top + r.Bottom) / 2);
      }
      return true;
    case vtkey::Multiply:
      if (focused) t.FullExpand(focused);
      return true;
    case vtkey::Divide:
      if (focused) t.FullCollapse(focused);
      return true;
    case vtkey::Add:
    case vtkey::OemPlus:
      if (ctrl && shifted)
        t.FullExpand(nullptr);
      else if (ctrl)
        FitColumns();
      else if (focused && !(focused->States & vsExpanded) && (focused->States & vsHasChildren))
        t.ToggleExpansion(focused);
      return true;
    case vtkey::Subtract:
    case vtkey::OemMinus:
      if (ctrl && shifted)
        t.FullCollapse(nullptr);
      else if (ctrl)
        RestoreColumns();
      else if (focused && (focused->States & vsExpanded))
        t.ToggleExpansion(focused);
      return true;
    case vtkey::F1:
      Help(focused);
      return true;
    case vtkey::F2:
      if (!modifier && focused) {
        t.EditNode(focused, t.FocusedColumn());
        return true;
      }
      break;
    default:
      break;
  }
  if (!modifier && key >= 32) {
    t.SetTreeState(tsIncrementalSearchPending, true);
    return true;
  }
  return false;
}

void TVTKeyboardController::KeyUp(int key) {
  if (key != vtkey::Space || !tree_.SpaceCheckNode) return;
  TVTNode* node = tree_.SpaceCheckNode;
  tree_.SpaceCheckNode = nullptr;
  if (node == tree_.FocusedNode()) {
    tree_.CheckNodeAndNotify(node, pendingCheckState_);
  } else if (node->CheckState == csUncheckedPressed || node->CheckState == csCheckedPressed ||
             node->CheckState == csMixedPressed) {
    // The press ended elsewhere: the node shows its own state again.
    node->CheckState = std::uint8_t(node->CheckState - 1);
  }
  if (tree_.Host()) tree_.Host()->InvalidateNode(node);
}
