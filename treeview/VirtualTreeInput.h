// The tree's input and row-painting decisions that need no window: the
// keyboard controller, scroll-bar codes and wheel arithmetic, the line kinds
// of a row and their band variant, the check image table, and the selection
// that follows a click or a rubber band. The window half (win/) feeds these
// with messages and draws what they decide.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "VirtualTreeCore.h"

// Modifier keys as the input decisions see them.
constexpr std::uint8_t kKeyShift = 0x01, kKeyAlt = 0x02, kKeyCtrl = 0x04;

// Virtual key codes the keyboard controller knows.
namespace vtkey {
constexpr int Back = 8, Tab = 9, Escape = 27, Space = 32, Prior = 33, Next = 34, End = 35, Home = 36, Left = 37,
              Up = 38, Right = 39, Down = 40, KeyA = 65, KeyALower = 97, Apps = 93, Multiply = 106, Add = 107,
              Subtract = 109, Divide = 111, F1 = 112, F2 = 113, OemPlus = 187, OemMinus = 189;
}

// Tree states of the window's input handling.
constexpr int tsDrawSelPending = 6;  // a rubber band may start
constexpr int tsIncrementalSearchPending = 15;
constexpr int tsLeftButtonDown = 17, tsMiddleButtonDown = 18, tsRightButtonDown = 23;
constexpr int tsThumbTracking = 30;
constexpr int tsIncrementalSearching = 14;
constexpr int tsHintPreparing = 12;
constexpr int tsFrameworkDragOver = 36;  // a framework drag is over the tree
constexpr int tsSizing = 26;             // a resize is being handled
constexpr int tsWindowCreating = 40;     // the window is being made

// Scroll-bar request codes.
constexpr int kSbLineUp = 0, kSbLineDown = 1, kSbPageUp = 2, kSbPageDown = 3, kSbThumbPosition = 4, kSbThumbTrack = 5,
              kSbTop = 6, kSbBottom = 7, kSbEndScroll = 8;

// The offset a scroll code asks for (offsets are 0 or negative); none for
// SB_ENDSCROLL and unknown codes. `page` is the client width (height),
// `virtualSize` the virtual width (height), `trackPos` the bar's tracking
// position.
std::optional<int> ScrollCodeOffset(int code, int current, int increment, int page, int virtualSize, int trackPos);

// What one wheel message scrolls by, in pixels (positive toward the top or left).
struct TVTWheelScroll {
  int DeltaX = 0;
  int DeltaY = 0;
};
TVTWheelScroll WheelScrollAmount(int wheelDelta, bool ctrl, int clientWidth, int clientHeight, int virtualWidth,
                                 int virtualHeight, int defaultNodeHeight, int indent);

// The check image of a node: its index in the check image list, -1 for none.
int CheckImageIndex(std::uint8_t checkType, std::uint8_t checkState, bool enabled, bool pressed);
// The next state a click or the space key gives a check.
std::uint8_t NextCheckStateFor(std::uint8_t checkType, std::uint8_t checkState);
// The pressed look of a check state (0 -> 1, 2 -> 3, 4 -> 5; pressed states stay).
std::uint8_t PressedCheckState(std::uint8_t checkState);

// The "button" theme part and state that draw a check image index; part 0
// draws nothing. Push buttons also get the utility list's image 4 on top.
constexpr int kThemePushButton = 1, kThemeRadioButton = 2, kThemeCheckBox = 3;
struct TVTThemedCheck {
  int Part = 0;
  int State = 0;
  bool UtilityOverlay = false;
};
TVTThemedCheck ThemedCheckPart(int checkImageIndex);

// Line kinds, one per indentation level.
constexpr std::uint8_t ltNone = 0, ltTopDown = 1, ltTopDownRight = 2, ltRight = 4, ltTopRight = 5, ltLeft = 6,
                       ltLeftBottom = 7;
constexpr std::uint8_t ltTopDownRightStub = 3;
// The line kinds of a node's row; the result is the number of its selected
// ancestors. The array has one entry per level (one more with the root shown)
// and is all ltNone without tree lines.
int ComputeLineImages(TVirtualTreeCore& tree, TVTNode* node, std::vector<std::uint8_t>& kinds);
// Turns line kinds into band kinds (band line mode), last level first.
void ToBandLineKinds(std::vector<std::uint8_t>& kinds, bool nodeExpanded);

// --- Click and band selection ----------------------------------------------------------------------

// The selection a click on `target` gives, with the modifier keys held.
void HandleClickSelection(TVirtualTreeCore& tree, TVTNode* target, std::uint8_t shift);

// The horizontal extent of a node's label in client coordinates, as the
// painter lays it out (the window half measures it).
struct TVTLabelExtent {
  int Left = 0;
  int Right = 0;
};
using TVTLabelExtentFunc = std::function<TVTLabelExtent(TVTNode* node)>;

// The rubber band moved from `oldRect` to `newRect` (client coordinates,
// either corner order): nodes whose label and row meet exactly one of the two
// change. With `toggle` (Ctrl was held at the mouse-down) they toggle;
// otherwise those in the new band join and those only in the old one leave.
// Whether the selection changed.
bool UpdateRectangleSelection(TVirtualTreeCore& tree, const TVTRect& oldRect, const TVTRect& newRect, bool toggle,
                              const TVTLabelExtentFunc& labelExtent);

// --- Mouse -----------------------------------------------------------------------------------------

// Mouse buttons as the mouse decisions see them.
constexpr int kMouseLeft = 0, kMouseRight = 1, kMouseMiddle = 2;

// Feeds button presses, moves and releases to the tree: the expand button,
// the pressed check box, focus and click selection, and the rubber band.
// Points are client coordinates; the window hit-tests them first. The hooks
// are the window's; their base versions do nothing.
class TVTMouseController {
 public:
  explicit TVTMouseController(TVirtualTreeCore& tree) : tree_(tree) {}
  virtual ~TVTMouseController() = default;

  // A button went down at (x, y) with the modifiers (kKeyShift, kKeyCtrl) held.
  void ButtonDown(int button, const TVTHitInfo& hit, int x, int y, std::uint8_t shift);
  // A button came up; `hit` is the hit test at the release point.
  void ButtonUp(int button, const TVTHitInfo& hit);
  // A double click: the check box is pressed again, and with toggle on
  // double click the node under the button, label or images expands or collapses.
  void DoubleClick(int button, const TVTHitInfo& hit);
  // The mouse moved to (x, y). While a band is pending or drawn its end
  // follows; otherwise the hot node follows (`hit` is the hit test there).
  void Move(const TVTHitInfo& hit, int x, int y);

  // The rubber band in tree coordinates, start corner first; whether it shows
  // (pending bands do not).
  TVTRect BandRect() const { return band_; }
  bool BandShown() const;
  // The node whose check box the mouse holds down, and the state it will get.
  TVTNode* PressedCheckNode() const { return tree_.MouseCheckNode; }
  std::uint8_t PressedCheckState() const { return pressedCheckState_; }

  // The system's drag threshold: a band shows once it is wider or higher.
  int DragThresholdX = 4;
  int DragThresholdY = 4;
  // The label extents the band meets, in tree coordinates.
  TVTLabelExtentFunc LabelExtent;
  // The framework's drag mode: automatic drags start on a press; manual ones
  // when the drag-allowed event agrees.
  bool AutomaticDrag = false;
  // The delay between a release on the focused caption and the edit, in ms (timer 2).
  unsigned EditDelay = 1000;

  // The column of the last press (the header's clicked column), and the
  // point of the last press in client coordinates.
  int ClickedColumn() const { return clickedColumn_; }
  int MouseDownX() const { return downX_; }
  int MouseDownY() const { return downY_; }

 protected:
  // Wheel panning ends (the window's popup goes); the base clears the
  // panning states and stops timer 4.
  virtual void EndWheelPanning();
  // While panning the cursor follows the mouse.
  virtual void UpdatePanningCursor(int /*x*/, int /*y*/) {}
  // The drag-allowed event (manual drag mode), asked for a press on a node.
  virtual bool AskDragAllowed(TVTNode* /*node*/, int /*column*/) { return false; }
  // Whether the tree has the keyboard focus (an edit waits only then).
  virtual bool Focused() const { return true; }
  // The column-click event, for a release on the column that was pressed.
  virtual void ColumnClick(int /*column*/) {}
  // The column double-click event.
  virtual void ColumnDblClick(int /*column*/) {}
  // The tree takes the keyboard focus.
  virtual void TakeFocus() {}
  // Repaints a rectangle in client coordinates (the window is updated after).
  virtual void RepaintRect(const TVTRect& /*rect*/) {}
  // Whether a right-button press on a node opens a popup (then the
  // selection stays as it is).
  virtual bool PopupApplies(TVTNode* /*node*/, int /*column*/, int /*x*/, int /*y*/) { return false; }

 private:
  void PressCheck(TVTNode* node);

  TVirtualTreeCore& tree_;
  TVTRect band_{};
  bool bandToggle_ = false;
  std::uint8_t pressedCheckState_ = 0;
  int clickedColumn_ = InvalidColumn;
  int downX_ = 0, downY_ = 0;
};

// The hot node follows a hit: a node counts under its caption or check box,
// or anywhere on its row with full-row selection.
void UpdateHotNode(TVirtualTreeCore& tree, const TVTHitInfo& hit);

// --- Wheel panning -----------------------------------------------------------------------------------

// The panning cursor's resource name for the mouse at (dx, dy) from the
// panning anchor, by the directions that can scroll.
const char* PanningCursorName(int dx, int dy, bool horizontal, bool vertical);
// The panning window's picture: "VT_MOVEALL" when both ranges exceed the
// client area, "VT_MOVEEW" when only the width does, else "VT_MOVENS".
const char* PanningBitmapName(bool horizontal, bool vertical);

// --- Incremental search ----------------------------------------------------------------------------

constexpr int kIncrementalSearchTimer = 7;
// Which nodes a search visits: every node, none (off), initialised ones, shown ones.
constexpr int isAll = 0, isNone = 1, isInitializedOnly = 2, isVisibleOnly = 3;
// Where a search starts: the first node, the last found node, the focused node.
constexpr int ssAlwaysStartOver = 0, ssLastHit = 1, ssFocusedNode = 2;
// The search direction.
constexpr int sdForward = 0, sdBackward = 1;

// Finds a node as the user types: each character extends the search text
// (the same letter again steps to the next match), the search wraps at the
// tree's end, and timer 7 ends the search after the timeout. The last found
// node is the core's `SearchNode`, forgotten when it is freed.
class TVTIncrementalSearch {
 public:
  explicit TVTIncrementalSearch(TVirtualTreeCore& tree) : tree_(tree) {}
  virtual ~TVTIncrementalSearch() = default;

  int Mode = isNone;
  int Direction = sdForward;
  int Start = ssFocusedNode;
  unsigned Timeout = 1000;

  // A typed character (0: only restarts the timeout).
  void ProcessSearchKeystroke(char16_t ch);
  // Timer 7 expired: the search text empties and the search ends.
  void TimeoutExpired();
  const std::u16string& SearchText() const { return text_; }

 protected:
  // The incremental-search event: 0 when the node matches the text.
  virtual int FireIncrementalSearch(TVTNode* /*node*/, const std::u16string& /*text*/) { return 0; }
  // A search that found nothing.
  virtual void Beep() {}

 private:
  TVTNode* Step(TVTNode* node, bool wrap);
  bool Counts(TVTNode* node) const;

  TVirtualTreeCore& tree_;
  std::u16string text_;
};

// --- Hints -----------------------------------------------------------------------------------------

// What a hint over the tree's client area shows.
enum class TVTHintShow { Refused, ControlHint, NodeHint, NodeText };

// The facts the window gathers when the framework asks for a hint.
struct TVTHintQuestion {
  // The tree, its form or the program's active form has the focus, or an edit runs.
  bool FocusNearby = false;
  bool MouseCaptured = false;
  bool ShowHint = true;
  bool HeaderBusy = false;
  // 0 the control's hint, 1 the node's hint, 2 the node's hint or else the
  // control's, 3 the node's text when it is cut off.
  int HintMode = 0;
  TVTHitInfo Hit;
  // Mode 3: the node's text, measured unclipped, does not fit its cell.
  bool TextTruncated = false;
};

// Decides the hint: refused without the focus nearby, while the mouse is
// captured, hints are off, a drag, a rubber band or the header is busy, or
// auto-scrolling waits; else by the hint mode. Tree state 12 (preparing) is
// set while a hint is to be shown, tree state 11 (shown) follows the outcome.
TVTHintShow DecideHint(TVirtualTreeCore& tree, const TVTHintQuestion& question);

// What a hint over the header band shows (header hints on): the hint text of
// the column under the mouse, else its caption when the caption is cut off.
enum class TVTHeaderHintShow { Refused, ColumnHint, Caption };
struct TVTHeaderHintColumn {
  int Column = -1;  // under the mouse; below 0: none
  bool HasHint = false;
  bool CaptionCutOff = false;
};
// Refused for the reasons DecideHint refuses (the hint mode aside), and for no
// column or nothing to show; the tree states follow as with DecideHint.
TVTHeaderHintShow DecideHeaderHint(TVirtualTreeCore& tree, const TVTHintQuestion& question,
                                   const TVTHeaderHintColumn& column);

// --- Keyboard --------------------------------------------------------------------------------------

// Feeds WM_KEYDOWN and WM_KEYUP to the tree. The hooks are the parts that
// live with the window or the header; their base versions do nothing.
class TVTKeyboardController {
 public:
  explicit TVTKeyboardController(TVirtualTreeCore& tree) : tree_(tree) {}
  virtual ~TVTKeyboardController() = default;

  // A key went down (`repeat`: an auto-repeat of a held key). True when the
  // tree acted on it.
  bool KeyDown(int key, std::uint8_t shift, bool repeat = false);
  // A key came up.
  void KeyUp(int key);

  // The node whose check the space key holds, and the state it will get.
  TVTNode* PendingCheckNode() const { return tree_.SpaceCheckNode; }
  std::uint8_t PendingCheckState() const { return pendingCheckState_; }

  // Whether the tree takes the Tab key (never set by the tree itself).
  bool WantTabs = false;

 protected:
  // The key-action event: may change the key and the modifiers, or veto it.
  virtual bool KeyAction(int& /*key*/, std::uint8_t& /*shift*/) { return true; }
  // The popup menu for a node at a client point.
  virtual void Popup(TVTNode* /*node*/, int /*column*/, int /*x*/, int /*y*/) {}
  // The header fits every column to its content, or restores the remembered widths.
  virtual void FitColumns() {}
  virtual void RestoreColumns() {}
  // F1: the help for the focused node (the window asks the event and its parents).
  virtual void Help(TVTNode* /*node*/) {}
  // The rubber band was cancelled (Escape).
  virtual void BandCancelled() {}
  // The node's text rectangle in client coordinates (for the popup point).
  virtual TVTRect TextRect(TVTNode* node, int column);

 private:
  bool NavigationKey(int key, std::uint8_t shift);
  bool OtherKey(int key, std::uint8_t shift);
  void Focus(TVTNode* node);
  bool FocusColumn(int column);
  int NextAllowedColumn(TVTNode* node, int from, bool forward);

  TVirtualTreeCore& tree_;
  std::uint8_t pendingCheckState_ = 0;
};
