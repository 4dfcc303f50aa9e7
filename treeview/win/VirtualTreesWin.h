// The tree view's unit, Win32 half: the tree classes, the unit's start-up and
// shut-down with the process-wide resources (OLE, the timer resolution, the
// seven image lists, the clipboard formats, the visual-styles library), and
// the routines that draw through GDI.
#pragma once

#include <windows.h>

#include <ole2.h>

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "Controls.h"
#include "ExtCtrls.h"
#include "Graphics.h"
#include "ImgList.h"
#include "Menus.h"
#include "StdCtrls.h"
#include "Themes.h"
#include "VirtualTreeCore.h"
#include "VirtualTreeInput.h"
#include "VirtualTreeOptions.h"
#include "VirtualTreePanning.h"
#include "VirtualTrees.h"

class TBaseVirtualTree;
class TVTTransferTree;
class TVTDragManager;
class TVTTreeDropHandler;
class TVTHeader;
class TVirtualTreeColumn;
class TVTDragImage;

FW_ENUM(TScrollStyle, ssNone, ssHorizontal, ssVertical, ssBoth);
// The bevel around a tree's client area.
FW_ENUM(TBevelEdge, beLeft, beTop, beRight, beBottom);
using TBevelEdges = Set<TBevelEdge>;
FW_ENUM(TBevelKind, bkNone, bkTile, bkSoft, bkFlat);
FW_ENUM(TScrollBarStyle, sbmRegular, sbmFlat);

// The scroll bars of a tree. AlwaysVisible and ScrollBars rebuild the tree's
// window when they change (not while loading, nor without a window).
class TScrollBarOptions : public TPersistent {
  FW_CLASS(TScrollBarOptions, TPersistent)

 public:
  explicit TScrollBarOptions(TBaseVirtualTree* owner) : owner_(owner) {}
  bool GetAlwaysVisible() const { return alwaysVisible_; }
  void SetAlwaysVisible(bool value);
  TScrollStyle GetScrollBars() const { return scrollBars_; }
  void SetScrollBars(TScrollStyle value);
  TScrollBarStyle ScrollBarStyle = sbmRegular;
  int HorizontalIncrement = 20;  // 1..10000
  int VerticalIncrement = 20;
  TPersistent* GetOwner() override;
  void Assign(TPersistent* source) override;

 private:
  void Rebuild();
  TBaseVirtualTree* owner_;
  bool alwaysVisible_ = false;
  TScrollStyle scrollBars_ = ssBoth;
};

// The tree's fourteen colours. A change repaints the tree (unless it is
// loading or has no window); the border colour also redraws the frame.
class TVTColors : public TPersistent {
  FW_CLASS(TVTColors, TPersistent)

 public:
  static constexpr int kCount = 14;
  enum Index {
    DisabledColor,
    DropMarkColor,
    DropTargetColor,
    FocusedSelectionColor,
    GridLineColor,
    TreeLineColor,
    UnfocusedSelectionColor,
    BorderColor,
    HotColor,
    FocusedSelectionBorderColor,
    UnfocusedSelectionBorderColor,
    DropTargetBorderColor,
    SelectionRectangleBlendColor,
    SelectionRectangleBorderColor
  };
  static const TColor kDefaults[kCount];

  explicit TVTColors(TBaseVirtualTree* owner);
  TColor ColorAt(int index) const { return colors_[index]; }
  void SetColorAt(int index, TColor color);
  template <int I>
  TColor Get() const {
    return colors_[I];
  }
  template <int I>
  void Set(TColor color) {
    SetColorAt(I, color);
  }
  // From another TVTColors: all fourteen, then a repaint outside update blocks.
  void Assign(TPersistent* source) override;

 private:
  TBaseVirtualTree* owner_;
  TColor colors_[kCount];
};

// The base of every virtual tree: a windowed control that paints itself. The
// nodes, their events and the selection live in the portable core (Tree());
// the control is its host.
// A character of an ANSI window message as UTF-16, through the ANSI code
// page of the current keyboard layout's language (the system's when that
// cannot be read), with glyph characters for control codes.
char16_t KeyboardCharToWide(char ch);

class TBaseVirtualTree : public TCustomControl {
  FW_CLASS(TBaseVirtualTree, TCustomControl)
 public:
  explicit TBaseVirtualTree(TComponent* owner);
  ~TBaseVirtualTree() override;
  // Stops background validation, clears the nodes, then the window, the root
  // and the worker reference go.
  void Destroy() override;
  void Loaded() override;
  // The framework's handling first, then the edit actions the tree carries out.
  bool ExecuteAction(TBasicAction* action) override;
  bool UpdateAction(TBasicAction* action) override;

  TVirtualTreeCore& Tree() { return *core_; }
  const TVirtualTreeCore& Tree() const { return *core_; }
  int GetDefaultNodeHeight() const { return core_->DefaultNodeHeight(); }
  void SetDefaultNodeHeight(int height) { core_->SetDefaultNodeHeight(height); }
  int GetIndent() const { return indent_; }
  // Refreshes the scroll bars and repaints outside loading and update blocks.
  void SetIndent(int indent);
  int GetOffsetX() const { return core_->OffsetX(); }
  void SetOffsetX(int x) { core_->SetOffsetX(x); }
  int GetOffsetY() const { return core_->OffsetY(); }
  void SetOffsetY(int y) { core_->SetOffsetY(y); }
  void ShowNodeAtTop(TVTNode* node) { core_->ShowNodeAtTop(node); }
  int GetFocusedColumn() const { return core_->FocusedColumn(); }
  void SetFocusedColumn(int column) { core_->SetFocusedColumn(column); }
  // The data object that copy and cut put on the clipboard (the transfer
  // part makes it); null: nothing goes on the clipboard.
  virtual IDataObject* CreateClipboardDataObject();
  // Copies the settings of another tree through the writers.
  void Assign(TPersistent* source) override;
  std::uint32_t GetRootNodeCount() const { return core_->RootChildCount(); }
  void SetRootNodeCount(std::uint32_t count) { core_->SetRootChildCount(count); }

  // Construction defaults of the parts that later pieces use.
  int Margin = 4;
  int TextMargin = 4;
  unsigned IncrementalSearchTimeout = 1000;
  // The timing settings, in milliseconds, held where they are used: the drop
  // handler's expand delay (timer 1), the core's auto-scroll delay and
  // interval (timer 4) and toggle animation, the mouse's edit delay (timer 2).
  unsigned GetAutoExpandDelay() const { return autoExpandDelay_; }
  void SetAutoExpandDelay(unsigned ms);
  unsigned GetAutoScrollDelay() const;
  void SetAutoScrollDelay(unsigned ms);
  unsigned GetAutoScrollInterval() const;
  void SetAutoScrollInterval(unsigned ms);
  unsigned GetEditDelay() const;
  void SetEditDelay(unsigned ms);
  unsigned GetAnimationDuration() const;
  void SetAnimationDuration(unsigned ms);
  int DragWidth = 200;
  int DragHeight = 350;
  int NodeAlignment = 2;           // proportional
  int IncrementalSearchStart = 2;  // from the focused node
  int IncrementalSearch = 1;       // typed characters do not search
  int LineStyle = 1;               // dotted
  int ClipboardPasteMode = 4;      // as the focused node's last child
  int DragType = 0;                // OLE
  int CheckImageKind = 0;          // light check marks
  int ButtonStyle = 0;
  int ButtonFillMode = 0;
  int DragImageKind = 0;
  // The rubber band's look: 0 a dotted focus rectangle, 1 blended and framed.
  int DrawSelectionMode = 0;
  bool DoubleBuffered = false;
  // The check images: kinds 0 to 5 pick the unit's lists 0 to 5, any other
  // kind the custom check images.
  TCustomImageList* CheckImages() const;
  int GetCheckImageKind() const { return CheckImageKind; }
  void SetCheckImageKind(int kind);

  // The image lists; each is followed through a change link whose changes
  // repaint the tree, and forgotten when it is freed.
  TCustomImageList* GetImages() const { return images_; }
  void SetImages(TCustomImageList* list);
  TCustomImageList* GetStateImages() const { return stateImages_; }
  void SetStateImages(TCustomImageList* list);
  TCustomImageList* GetCustomCheckImages() const { return customCheckImages_; }
  void SetCustomCheckImages(TCustomImageList* list);

  int GetMargin() const { return Margin; }
  void SetMargin(int margin);
  int GetSelectionCornerRadius() const { return selectionCornerRadius_; }
  void SetSelectionCornerRadius(int radius);
  int GetNodeAlignment() const { return NodeAlignment; }
  void SetNodeAlignment(int mode);
  TBorderStyle GetBorderStyle() const { return borderStyle_; }
  // Rebuilds the window (the frame is a window style).
  void SetBorderStyle(TBorderStyle style);
  // The bevel (drawn with the frame later); it narrows the header's area.
  TBevelEdges BevelEdges{beLeft, beTop, beRight, beBottom};
  TBevelCut BevelInner = bvRaised;
  TBevelCut BevelOuter = bvLowered;
  TBevelKind BevelKind = bkNone;
  int BevelWidth = 1;
  bool IsBevelEdgesStored() const { return !(BevelEdges == TBevelEdges{beLeft, beTop, beRight, beBottom}); }
  // The cursor over a hot node (0: the default).
  TCursor HotCursor = crDefault;
  TPicture* GetBackgroundPicture() const { return background_; }
  void SetBackgroundPicture(TPicture* picture);
  // WM_SETREDRAW with the inverse of `lock`, for a visible control with a window.
  void LockWindowRedraw(bool lock);
  void KillTreeTimer(int id);

  // The popup menu; a node's popup applies when one is assigned or the
  // get-popup event gives one.
  TComponent* PopupMenu = nullptr;
  Method<void(TObject*, TVTNode*, int, POINT, bool&, TComponent*&)> OnGetPopupMenu;
  virtual bool PopupApplies(TVTNode* node, int column, POINT point);

  // The header's rectangle in window coordinates: empty while no header is
  // shown. The window rectangle less the frame: 1 for a border style, 3 for
  // a thick frame, 2 for a client edge (then the header height below the top).
  RECT ComputeHeaderArea() const;
  // Whether the header band is shown (header option hoVisible) and its height.
  virtual bool HeaderVisible() const;
  virtual int HeaderHeight() const;

  // --- Header ---
  TVTHeader* GetHeader() const { return header_; }
  void SetHeader(TVTHeader* header);
  // The classes of the header and its columns (descendants give their own).
  virtual TVTHeader* CreateHeader();
  virtual const ClassInfo& ColumnClass() const;
  // A column's width changed: the scroll bar, the rows right of the column
  // and its header cell are repainted, then the column-resize event fires.
  virtual void NotifyColumnResized(int column);
  Method<void(TVTHeader*, int)> OnColumnResize;
  // Owner-drawn header cells: canvas, column, cell, hover, pressed, drop
  // mark (0 none, 1 before, 2 after).
  Method<void(TVTHeader*, TCanvas*, TVirtualTreeColumn*, const RECT&, bool, bool, int)> OnHeaderDraw;
  virtual void DrawHeaderCellByEvent(TCanvas* canvas, TVirtualTreeColumn* column, int dropMark, bool pressed,
                                     bool hover, const RECT& cell);
  // Paints the header band into a DC whose origin is the window's top-left.
  void PaintHeaderInWindow(HDC dc);

  void SetBiDiMode(TBiDiMode mode) override;
  void Notification(TComponent* component, TOperation operation) override;

  // The option sets; made after construction through OptionsClass, so that
  // descendants give their own.
  TCustomVirtualTreeOptions* TreeOptions() const { return options_; }
  void SetTreeOptions(TCustomVirtualTreeOptions* options) {
    if (options_ && options) options_->Assign(options);
  }
  TVTColors* Colors() const { return colors_; }
  TScrollBarOptions* ScrollBarOptions() const { return scrollBarOptions_; }
  TClipboardFormats* ClipboardFormatNames() const { return clipboardFormats_; }
  void AfterConstruction() override;
  // Reads the legacy "Options" property of older forms.
  void DefineProperties(TFiler& filer) override;
  // The class of the option sets (virtual class-of-options).
  virtual TCustomVirtualTreeOptions* CreateOptions();

  // --- Painting ---
  // Render flags: background picture, column colours, focus rectangle,
  // selection, drop mark, grid lines, main column only, selected rows only.
  static constexpr std::uint8_t kRenderBackground = 0x01, kRenderColumnColors = 0x02, kRenderFocusRect = 0x04,
                                kRenderSelection = 0x08, kRenderDropMark = 0x10, kRenderGridLines = 0x20,
                                kRenderMainColumnOnly = 0x40, kRenderSelectedOnly = 0x80;
  // Paints `window` (tree coordinates: the scrolled virtual area) into
  // `target` with its top-left at `targetPoint`, row by row through one
  // off-screen 32-bit bitmap.
  void RenderTreeToCanvas(HDC target, const RECT& window, std::uint8_t flags, POINT targetPoint);
  // The plus and minus bitmaps and the tree lines' pattern brush.
  void RebuildPaintResources(bool buttons, bool lineBrush);
  // One step of the expand or collapse animation: scrolls `area` (client
  // coordinates) down (expanding) or up by `step` and fills the strip it
  // uncovers with the tree's colour. Always true: the animation goes on.
  bool ToggleAnimationStep(HDC dc, const RECT& area, bool expanding, int step);
  // The number of rows the last render visited.
  std::uint32_t RowsPainted() const { return rowsPainted_; }
  // The paint events: around the whole render (the target DC), before a row
  // (setting `handled` skips the row's own painting) and after it, before
  // and after each cell, and for the area below the last row (`handled`:
  // the tree does not fill it). Rectangles are in the row bitmap's
  // coordinates (tree x, the row's own y).
  Method<void(TObject*, HDC)> OnBeforePaint;
  Method<void(TObject*, HDC)> OnAfterPaint;
  Method<void(TObject*, HDC, TVTNode*, RECT, bool& handled)> OnBeforeItemPaint;
  Method<void(TObject*, HDC, TVTNode*, RECT)> OnAfterItemPaint;
  Method<void(TObject*, HDC, TVTNode*, int column, RECT)> OnBeforeCellPaint;
  Method<void(TObject*, HDC, TVTNode*, int column, RECT)> OnAfterCellPaint;
  Method<void(TObject*, HDC, RECT, bool& handled)> OnPaintBackground;
  // Around a row's background (the row bitmap's coordinates).
  Method<void(TObject*, HDC, TVTNode*, RECT, TColor& color, bool& defaultErase)> OnBeforeItemErase;
  Method<void(TObject*, HDC, TVTNode*, RECT)> OnAfterItemErase;
  // The pattern of a custom tree-line style (8 rows, the low 8 bits of each).
  Method<void(TObject*, std::uint16_t* pattern)> OnGetLineStyle;
  // The image index event: kind 0 normal, 1 selected, 2 state.
  Method<void(TObject*, TVTNode*, int kind, int column, bool& ghosted, int& index)> OnGetImageIndex;

  // --- Mouse, search and panning events ---
  // The incremental-search event: `result` 0 when the node matches the text.
  Method<void(TObject*, TVTNode*, const std::u16string&, int&)> OnIncrementalSearch;
  // A release (double click) on the column the press was on.
  Method<void(TObject*, int column, std::uint8_t shift)> OnColumnClick;
  Method<void(TObject*, int column, std::uint8_t shift)> OnColumnDblClick;
  // Manual drag mode: whether a press on a node may start a drag.
  Method<void(TObject*, TVTNode*, int column, bool& allowed)> OnDragAllowed;
  int IncrementalSearchDirection = 0;  // forward
  // The incremental search (typed characters, timer 7).
  TVTIncrementalSearch& Search() { return *search_; }
  // Wheel panning: the panning window centred on a client point, the mouse
  // captured and timer 4 at 20 ms; ended by any button press.
  void BeginWheelPanning(POINT clientPoint);
  void EndWheelPanning();
  HWND PanningWindow() const;
  // The panning cursor for the mouse at a client point ("VT_MOVE..." resources).
  void UpdatePanningCursor(int x, int y);
  HCURSOR PanningCursor() const { return panningCursor_; }
  // The popup menu for a node (null: the control's area): the popup event,
  // asked for the node and then its parents while it allows; or none.
  virtual TPopupMenu* GetNodePopupMenu(TVTNode* node, int column, POINT clientPoint);
  // Pops the node's menu up at a client point, the tree as its popup component.
  virtual void ShowNodePopupMenu(TVTNode* node, int column, POINT clientPoint);
  // Starts an OLE drag of the selection now (the core's StartOleDrag around
  // DoDragDrop with the drag data object and the drop source).
  void StartOleDrag();
  // The data object and the drop source of an OLE drag (the drag manager
  // gives them; null: no OLE drag takes place). The caller releases both.
  virtual IDataObject* CreateDragDataObject();
  virtual IDropSource* ObtainDropSource();
  // The tree's side of transfers (made on first use through CreateTransferTree).
  TVTTransferTree& Transfer();
  // The drag manager, made on first use (the create-drag-manager event may
  // give one); the tree holds one reference until it goes.
  TVTDragManager* ObtainDragManager();
  // The drop-target handling (drop node and mode, the drag-over and drag-drop events).
  TVTTreeDropHandler& DropHandler();
  // Pastes the clipboard's nodes at the focused node with ClipboardPasteMode
  // ("Clipboard operation failed.", 2007, when the clipboard gives no data).
  bool PasteFromClipboard();
  // Transfer events: more formats to offer; rendering a format that is not
  // the tree's own (the result by reference, E_FAIL when unhandled); a data
  // object or drag manager of the application's; OLE drag over (source tree or
  // null, shift, state 0 enter / 1 leave / 2 over or drop, client point,
  // drop mode, effect, accept) and drag drop (source, data object, its
  // formats, shift, client point, effect, drop mode).
  Method<void(TObject*, std::vector<FORMATETC>&)> OnGetUserClipboardFormats;
  Method<void(TObject*, const FORMATETC&, STGMEDIUM&, bool, HRESULT&)> OnRenderOLEData;
  Method<void(TObject*, IDataObject*&)> OnCreateDataObject;
  Method<void(TObject*, TVTDragManager*&)> OnCreateDragManager;
  Method<void(TObject*, TObject*, std::uint8_t, int, POINT, int, DWORD&, bool&)> OnOleDragOver;
  Method<void(TObject*, TObject*, IDataObject*, const std::vector<CLIPFORMAT>&, std::uint8_t, POINT, DWORD&, int)>
      OnOleDragDrop;
  virtual void FireGetUserClipboardFormats(std::vector<FORMATETC>& formats);
  virtual HRESULT FireRenderOleData(const FORMATETC& format, STGMEDIUM& medium, bool forClipboard);
  // The create-data-object event's object (null: none; one reference, the caller's).
  virtual IDataObject* AskDataObject();
  virtual TVTDragManager* FireCreateDragManager();
  virtual bool FireDragOver(TObject* source, std::uint8_t shift, int state, POINT point, int mode, DWORD& effect);
  virtual void FireDragDrop(TObject* source, IDataObject* data, const std::vector<CLIPFORMAT>& formats,
                            std::uint8_t shift, POINT point, DWORD& effect, int mode);
  // The node moves' events: asked before a node moves (the node, the target
  // or null for the root; the node-moving event, true by default) and fired
  // for each node a move brought into this tree (the node-moved event).
  virtual bool AskStreamEvent(TVTNode* node, TVTNode* target);
  virtual void FireStreamEvent(TVTNode* node);
  // Ends a drag that did not end with a button release here: the release of
  // the button that started it (WM_RBUTTONUP, WM_MBUTTONUP, else
  // WM_LBUTTONUP) at the cursor, and no drag pending any more.
  void SimulateMouseButtonUp();
  // The hint animation: 0 none, 1 fade, 2 slide, 3 the system's setting.
  int HintAnimation = 3;
  int GetHintAnimationKind() const;

  // The keyboard interface (WM_KEYDOWN, WM_KEYUP).
  TVTKeyboardController& Keyboard() { return *keys_; }
  // The mouse interface (button presses, moves and releases, the rubber band).
  TVTMouseController& MouseInput() { return *mouse_; }
  // Where a drag would drop on the drop-target node: 0 nowhere, 1 above it,
  // 2 on it, 3 below it (the drag manager sets it).
  int DropMode = 0;
  // The cursor event: may change the cursor shown over the client area.
  Method<void(TObject*, TCursor&)> OnGetCursor;
  // Registers the drop target for the window, or revokes it.
  void RegisterDropTarget(bool on);
  // Gives the drop handler and the drag manager the window they serve (null: none).
  void AttachDropTargetWindow(HWND window);
  bool DropTargetRegistered() const { return dropTargetRegistered_; }
  // Hints (CM_HINTSHOW): 0 the control's hint, 1 the node's hint, 2 the
  // node's hint or else the control's, 3 the node's text when it is cut off.
  int HintMode = 0;
  // The node's hint text (modes 1 to 3) for a column.
  Method<void(TObject*, TVTNode*, int column, std::u16string& hint)> OnGetHint;
  // What the tree hands its hint window with the hint (the node is forgotten when it is freed).
  struct TVTHintData {
    TBaseVirtualTree* Tree = nullptr;
    TVTNode* Node = nullptr;
    int Column = NoColumn;
    // The text in full (a node's or a header hint's, which may not survive the 8-bit hint string); empty: the
    // hint string's.
    std::u16string Text;
  };
  const TVTHintData& HintData() const { return hintData_; }
  // The horizontal extent of a node's label (tree coordinates), laid out as painted.
  TVTLabelExtent LabelExtentOf(TVTNode* node);
  // The "treeview" and "button" themes while the tree paints themed (tree state 33).
  HTHEME TreeTheme() const { return treeTheme_; }
  HTHEME ButtonTheme() const { return buttonTheme_; }

  // --- The header's mouse events (the sender is the header) ---
  // A click (shift with ssDouble for a double click) on a clickable column.
  Method<void(TVTHeader*, int column, TMouseButton, TShiftState, int x, int y)> OnHeaderClick;
  Method<void(TVTHeader*, int column, TMouseButton, TShiftState, int x, int y)> OnHeaderDblClick;
  Method<void(TVTHeader*, TMouseButton, TShiftState, int x, int y)> OnHeaderMouseDown;
  Method<void(TVTHeader*, TMouseButton, TShiftState, int x, int y)> OnHeaderMouseUp;
  Method<void(TVTHeader*, TShiftState, int x, int y)> OnHeaderMouseMove;
  // A column was dropped at a new position (its old one given).
  Method<void(TVTHeader*, int column, int oldPosition)> OnHeaderDragged;
  // Whether a column may be dragged (true unless the handler says no).
  Method<void(TVTHeader*, int column, bool& allowed)> OnHeaderDragging;
  // The cursor over the band (crHSplit over a resize zone, else crDefault).
  Method<void(TVTHeader*, TCursor& cursor)> OnGetHeaderCursor;
  virtual void NotifyHeaderClick(int column, TMouseButton button, TShiftState shift, int x, int y);
  virtual void NotifyHeaderDblClick(int column, TMouseButton button, TShiftState shift, int x, int y);
  virtual void NotifyColumnDragged(int column, int oldPosition);
  virtual bool AskColumnDragAllowed(int column);
  virtual void NotifyHeaderMouseDown(TMouseButton button, TShiftState shift, int x, int y);
  virtual void NotifyHeaderMouseMove(TShiftState shift, int x, int y);
  virtual void NotifyHeaderMouseUp(TMouseButton button, TShiftState shift, int x, int y);
  virtual void AskHeaderCursor(TCursor& cursor);

  // --- The picture of node drags ---
  // The drag image of node drags (made on first use: fading, transparency 200).
  TVTDragImage* NodeDragImage();
  // The dragged rows around a client point as a picture for the drag image:
  // at most DragWidth x DragHeight, centred on the point and held inside the
  // client area; the selected rows (only their main column with drag image
  // kind 1) on the tree's colour, which becomes the picture's colour key.
  // `screenPosition` gets the picture's top-left on the screen. Null with
  // drag image kind 2 or without a window. The caller deletes the bitmap.
  HBITMAP RenderDragImage(POINT clientPoint, POINT& screenPosition);
  // Prepares and shows NodeDragImage for a drag from a client point (the data
  // object goes to the system's service when it takes the picture).
  void BeginNodeDragImage(POINT clientPoint, IDataObject* dataObject);
  // Over this tree during an OLE drag: shows and moves the source tree's
  // picture (state 0 enter, 2 over or drop) or hides the one shown (1 leave);
  // `shown` remembers the tree whose picture is out.
  void MoveSourceDragImage(TBaseVirtualTree*& shown, TBaseVirtualTree* source, int state, POINT clientPoint);

 private:
  TVTDragImage* nodeDragImage_ = nullptr;

 public:
 protected:
  // The window's side of a core (image widths, the hint data's node), on
  // the core class a descendant needs; defined in VirtualTreeWindowCore.h.
  template <class CoreBase>
  class WindowCore;
  // Makes the tree's core; a descendant whose core extends the portable
  // core passes its own maker to the protected constructor.
  using CoreFactory = std::unique_ptr<TVirtualTreeCore> (*)(TBaseVirtualTree& tree, TVirtualTreeHost* host);
  TBaseVirtualTree(TComponent* owner, CoreFactory makeCore);
  TVirtualTreeHost* TreeHost() { return &host_; }
  // Dispatches the core's timers (change and structure-change events).
  void Dispatch(TMessage& msg) override;
  // The front of the window procedure: the header's turn (while it tracks or
  // drags, and otherwise after the tree's own handling), the tree's own
  // start of an automatic drag, and focus on non-client button presses.
  void WndProc(TMessage& msg) override;
  // The header's turn at a message; true when it handled it. Timer 3 and
  // the header's cursor come to the header this way. With `tracking` it
  // takes the message only while a header state is set, without it only
  // while none is (so that no message reaches it twice).
  virtual bool HeaderHandlesMessage(TMessage& msg, bool tracking);
  // Paints the header band (window coordinates) into a window DC: the header's columns paint it.
  virtual void PaintHeaderBand(HDC dc, const RECT& band);
  // Whether the header is tracking or dragging a column (mouse presses are ignored then).
  virtual bool HeaderBusy() const;
  // Gives up the edit link once no edit is active (the editor fills it).
  virtual void ReleaseEditLink() { core_->ReleaseEditLink(); }
  // The non-client part around the client area: the client edge (themed
  // with the "treeview" theme), the bevel and the band of the border width
  // in BorderColor. `dc` is a window DC.
  void PaintBorder(HDC dc);
  // Clip styles, the scroll bars, the class's redraw-on-size styles, the
  // frame (a client edge with Ctl3D, else a border) and right-to-left layout.
  void CreateParams(TCreateParams& params) override;
  // Makes the window, then the themes, the drop target (outside design
  // time with misc option bit 0) and the scroll bars.
  void CreateWnd() override;
  // The window's OLE drop target: the drag manager, which the transfer part
  // brings (null: the window takes no drops).
  virtual IDropTarget* ObtainDropTarget();
  // The transfer side of this tree class (the string tree renders its texts too).
  virtual TVTTransferTree* CreateTransferTree();
  // Lets the data objects and the drag manager go and empties the clipboard
  // of this tree's object (the tree's destruction).
  void ReleaseTransfer();

  // One cell of one row as the row pieces see it (tree coordinates of the row bitmap).
  struct TVTImageInfo {
    int Index = -1;
    int X = 0, Y = 0;
    bool Ghosted = false;
    TCustomImageList* Images = nullptr;
  };
  struct TVTPaintInfo {
    HDC DC = nullptr;
    TVTNode* Node = nullptr;
    int Column = NoColumn;
    std::uint8_t Flags = 0;
    RECT CellRect{}, ContentRect{};
    int NodeWidth = 0;
    int Alignment = kAlignLeft;
    int AlignLine = 0;  // y of the row's alignment line
    int ButtonY = 0;
    POINT BrushOrigin{};
    TVTImageInfo Check, State, Normal;
  };
  // The paint handler: the clip box with flags 0x3F.
  void Paint(HDC dc) override;
  // The framework drag ended: the tree's drag states go.
  void DoEndDrag(TObject* target, int x, int y) override;
  // The paint events' operations; the base versions call the handlers.
  virtual void FireBeforeTreePaint(HDC dc) {
    if (OnBeforePaint) OnBeforePaint(this, dc);
  }
  virtual void FireAfterTreePaint(HDC dc) {
    if (OnAfterPaint) OnAfterPaint(this, dc);
  }
  virtual bool FireBeforeRowPaint(HDC dc, TVTNode* node, const RECT& row) {
    bool handled = false;
    if (OnBeforeItemPaint) OnBeforeItemPaint(this, dc, node, row, handled);
    return handled;
  }
  virtual void FireAfterRowPaint(HDC dc, TVTNode* node, const RECT& row) {
    if (OnAfterItemPaint) OnAfterItemPaint(this, dc, node, row);
  }
  virtual void FireBeforeCellPaint(HDC dc, TVTNode* node, int column, const RECT& cell) {
    if (OnBeforeCellPaint) OnBeforeCellPaint(this, dc, node, column, cell);
  }
  virtual void FireAfterCellPaint(HDC dc, TVTNode* node, int column, const RECT& cell) {
    if (OnAfterCellPaint) OnAfterCellPaint(this, dc, node, column, cell);
  }
  virtual bool FirePaintBackground(HDC dc, const RECT& area) {
    bool handled = false;
    if (OnPaintBackground) OnPaintBackground(this, dc, area, handled);
    return handled;
  }
  // The cell's content (the base tree draws nothing; the string tree draws text).
  virtual void PaintNodeContent(TVTPaintInfo& /*info*/) {}
  // The position (an index into the column layout) painted after the cell
  // at `position`; the string tree lets a text run over the empty cells
  // after it, growing info.CellRect.
  virtual std::size_t AdvancePaintColumn(TVTPaintInfo& /*info*/, std::size_t position) { return position + 1; }
  // Before a row's background: the handler may erase it itself (clearing
  // `defaultErase`; the tree then fills the row with `color`). After it: the
  // after-erase event, once per painted row.
  virtual void FireBeforeItemErase(HDC dc, TVTNode* node, const RECT& rect, TColor& color, bool& defaultErase) {
    if (OnBeforeItemErase) OnBeforeItemErase(this, dc, node, rect, color, defaultErase);
  }
  virtual void FireAfterItemErase(HDC dc, TVTNode* node, const RECT& rect) {
    if (OnAfterItemErase) OnAfterItemErase(this, dc, node, rect);
  }
  // The tree lines' pattern of a line style other than dotted (1) and solid
  // (2): eight rows of 8 pixels, which the handler may replace.
  virtual void FirePaintResourcesEvent(std::uint16_t* pattern) {
    if (OnGetLineStyle) OnGetLineStyle(this, pattern);
  }
  // The hint text of a node in a column (`text`: hint mode 3, the node's own
  // text, which the string tree gives); the base asks the hint event.
  virtual std::u16string GetNodeHint(TVTNode* node, int column, bool text);
  // The node's width in a column (the base tree: 0).
  virtual int MeasureNodeWidth(TVTNode* /*node*/, int /*column*/) { return 0; }
  // The image index event's answer (-1: none).
  virtual int QueryImageIndex(TVTNode* node, int kind, int column, bool& ghosted);
  void PaintRowBackground(HDC dc, const RECT& rect, bool usePicture, POINT origin, TVTNode* node = nullptr);
  void PaintCheckImage(TVTPaintInfo& info);
  void PaintNodeImage(TVTPaintInfo& info, const TVTImageInfo& image);
  void PaintExpandButton(TVTPaintInfo& info, int x);
  void PaintTreeLines(TVTPaintInfo& info, const std::vector<std::uint8_t>& kinds);
  void DrawLineImage(TVTPaintInfo& info, int x, std::uint8_t kind, int height);
  void PaintSelectionAndFocus(TVTPaintInfo& info);
  void FillDottedHorzLine(TVTPaintInfo& info, int left, int right, int y);
  void FillDottedVertLine(TVTPaintInfo& info, int top, int bottom, int x);
  // Tiles the background picture over `rect`, the phase following `origin`.
  void BlitTiledBitmap(HDC dc, const RECT& rect, POINT origin);
  // The drop mark of drop mode 1 (above) or 3 (below) in a row rectangle.
  void DrawDropMark(HDC dc, const RECT& row);
  // The rubber band `band` where it meets `clip` (both in the DC's device
  // coordinates): blended and framed with the selection rectangle colours.
  void PaintRubberBand(HDC dc, const RECT& clip, const RECT& band);

 private:
  void OpenThemes();
  void CloseThemes();
  // A column's colour for painting (the tree's while the column follows it).
  TColor ColumnColor(int column) const;
  bool HeaderAutoResizes() const;
  void ScrollMessage(TMessage& msg, bool vertical);
  void MouseWheel(TMessage& msg);
  void ClearPendingStates(bool withBand);
  bool MouseMessage(TMessage& msg);
  TVTHitInfo HitAt(LPARAM point);
  void NonClientPaint(TMessage& msg);
  void SetTreeCursor(TMessage& msg);
  void HintShow(TMessage& msg);
  // CM_HINTSHOW over the header band; false when the point is not in the band or header hints are off.
  bool HeaderHintShow(TMessage& msg, THintInfo& info);
  void FrameworkDrag(TMessage& msg);
  TVTHintData hintData_;
  std::unique_ptr<TVTMouseController> mouse_;
  using Core = WindowCore<TVirtualTreeCore>;
  class Keys;
  class Mouse;
  class Searcher;
  std::unique_ptr<TVTIncrementalSearch> search_;
  std::unique_ptr<TVTPanningWindow> panning_;
  HCURSOR panningCursor_ = nullptr;
  void SearchCharacter(WPARAM code);
  HBITMAP plusBitmap_ = nullptr;
  HBITMAP minusBitmap_ = nullptr;
  HBRUSH dottedBrush_ = nullptr;
  std::uint32_t rowsPainted_ = 0;
  HTHEME treeTheme_ = nullptr;
  HTHEME buttonTheme_ = nullptr;
  std::unique_ptr<TVTKeyboardController> keys_;
  static TImageList* LightCheckImages();
  // The host: what the core asks of the window.
  class Host : public TVirtualTreeHost {
   public:
    explicit Host(TBaseVirtualTree& tree) : tree_(tree) {}
    void Invalidate() override;
    void InvalidateToBottom(TVTNode*) override { Invalidate(); }
    void InvalidateNode(TVTNode*) override { Invalidate(); }
    void UpdateScrollBars(bool) override {}  // the core has set the bars already
    bool HandleAllocated() const override { return tree_.HandleAllocated(); }
    bool Loading() const override { return tree_.IsLoading(); }
    bool Designing() const override { return tree_.ComponentState().Contains(csDesigning); }
    bool Destroying() const override { return tree_.IsDestroying(); }
    void StartTimer(int id, unsigned milliseconds) override;
    void StopTimer(int id) override;
    std::uint64_t Milliseconds() const override;
    void RecreateWindow() override { tree_.RecreateWnd(); }
    void ThemeChanged() override;
    void SetDropTargetRegistered(bool registered) override { tree_.RegisterDropTarget(registered); }
    int ClientWidth() const override;
    int ClientHeight() const override;
    void SetRedraw(bool on) override { tree_.LockWindowRedraw(!on); }
    int SetScrollBar(bool horizontal, bool show, const TVTScrollBarInfo& info, bool redraw) override;
    int HorizontalScrollBarHeight() const override { return GetSystemMetrics(SM_CYHSCROLL); }
    void InvalidateRect(const TVTRect& rect) override;
    void RedrawRect(const TVTRect& rect) override;
    void UpdateWindow() override;
    void AnimateToggle(int top, int pixels, bool expanding, unsigned duration) override;
    bool SetClipboard(bool empty) override;
    bool CursorPos(int& x, int& y) const override;
    int ScrollIncrement(bool horizontal) const override;
    void BeginFrameworkDrag(bool immediately, int threshold) override { tree_.BeginDrag(immediately, threshold); }
    int SystemDragThreshold() const override { return ::Mouse->DragThreshold; }
    int NodeWidth(TVTNode* node, int column) override { return tree_.MeasureNodeWidth(node, column); }
    int SortColumn() const override;
    int SortDirection() const override;
    void StartOleDrag() override { tree_.StartOleDrag(); }
    bool HeaderInAction() const override { return tree_.HeaderBusy(); }
    bool WindowAtPointIsTree(int x, int y) const override;
    bool Terminating() const override;
    void ScrollClientArea(int dx, int dy, const TVTRect* clip, bool moveChildren) override;
    void RepaintHeader() override;
    bool HasBackgroundPicture() const override;
    bool HeaderShown() const override { return tree_.HeaderVisible(); }
    bool Enabled() const override { return tree_.GetEnabled(); }
    void FocusTree() override;
    void PostReleaseEditLink() override;

   private:
    TBaseVirtualTree& tree_;
  };

  void ImageListChange(TObject* sender);
  void LinkImages(TCustomImageList*& field, TChangeLink* link, TCustomImageList* list);

  Host host_{*this};
  TCustomImageList* images_ = nullptr;
  TCustomImageList* stateImages_ = nullptr;
  TCustomImageList* customCheckImages_ = nullptr;
  TChangeLink* imageLink_ = nullptr;
  TChangeLink* stateImageLink_ = nullptr;
  TChangeLink* customCheckLink_ = nullptr;
  TPicture* background_ = nullptr;
  int selectionCornerRadius_ = 0;
  bool dropTargetRegistered_ = false;
  TVTTransferTree* transfer_ = nullptr;
  TVTDragManager* dragManager_ = nullptr;
  unsigned autoExpandDelay_ = 1000;
  TVTTreeDropHandler* dropHandler_ = nullptr;
  TBorderStyle borderStyle_ = bsSingle;
  std::unique_ptr<TVirtualTreeCore> core_;
  int indent_ = 18;
  TCustomVirtualTreeOptions* options_ = nullptr;
  TVTColors* colors_ = nullptr;
  TScrollBarOptions* scrollBarOptions_ = nullptr;
  TClipboardFormats* clipboardFormats_ = nullptr;
  TVTHeader* header_ = nullptr;
};

// --- The unit --------------------------------------------------------------------------------------

// Start-up, in this order: the global lock, the MMX flag, the platform flags,
// OleInitialize (a failure raises EOSError), the "Virtual Tree Reference"
// format, the seven image lists, timeBeginPeriod(1), the format list, the
// visual-styles library (on NT from version 5.1 on), the tree formats. Counted:
// only the first of several calls does the work. A failing step undoes the
// steps before it and passes the error on.
void InitVirtualTrees();
// Shut-down, reversing start-up; the last of the counted calls does the work.
void DoneVirtualTrees();
bool VirtualTreesInitialized();

// The platform flags: the NT line; NT from version 5; NT from version 5.1 (XP
// or later, Vista and 10 included).
extern bool IsWinNT;
extern bool IsWin2K;
extern bool IsWinXP;

// The seven 16 x 16 image lists, in this order (null outside start-up and
// shut-down): light check marks, dark check marks, light ticks, dark ticks,
// flat, themed look (no colour remapping), utilities.
constexpr int kTreeImageListCount = 7;
extern TImageList* LightCheckImages;
extern TImageList* DarkCheckImages;
extern TImageList* LightTickImages;
extern TImageList* DarkTickImages;
extern TImageList* FlatImages;
extern TImageList* XPImages;
extern TImageList* UtilityImages;
TImageList* TreeImageList(int index);          // 0..6, else null
const char* TreeImageListResource(int index);  // "VT_CHECK_LIGHT" ... "VT_UTILITIES"

// Fills `list` from the bitmap strip resource `name` of the module that
// holds the tree classes: cells as wide as the bitmap is high, cut from left
// to right, masked with the colour of the top-left pixel. With `remap`, a
// strip of 8 bits per pixel or less gets the system's colours for white,
// silver, grey and black. A missing resource leaves the list empty.
void LoadImageListStrip(TCustomImageList* list, const char* name, bool remap);
// Refills lists 0 to 4 and 6 with remapping (after the system colours changed).
void ReloadTreeImageLists();

// The colour for an image list: clNone gives CLR_NONE (0xFFFFFFFF), clDefault
// CLR_DEFAULT (0xFF000000), others their RGB value.
std::uint32_t ColorToImageListRGB(TColor color);

// --- Drawing ---------------------------------------------------------------------------------------

// Draws wide text with ExtTextOutW, line by line (or as one line with
// DT_SINGLELINE), one font height apart. Honours DT_CENTER, DT_RIGHT,
// DT_VCENTER, DT_NOCLIP, DT_RTLREADING and DT_CALCRECT; with DT_CALCRECT
// nothing is drawn: the bottom becomes the y below the last line and, with
// `measureWidth`, the right edge left plus the widest line.
void DrawWideTextLines(HDC dc, std::u16string_view text, bool measureWidth, UINT flags, RECT& bounds);
// ShortenWideText measured in the DC's font; "..." goes in front for
// right-to-left text on systems before NT 5.
std::u16string ShortenWideText(HDC dc, std::u16string_view text, int width, int ellipsisWidth, bool rightToLeft);
// Blends `bounds` of the 32-bit DIB section selected into `source` onto the
// one in `destination` at `target` (mode 3 needs no source), with the line
// modes of AlphaBlendLine. Nothing for an empty rectangle, a context without
// a 32-bit DIB section, or a rectangle outside the bitmaps (it is clipped).
void AlphaBlendRect(HDC source, HDC destination, const RECT& bounds, POINT target, int mode, int constantAlpha,
                    int bias);

// The system's clipboard format names (RegisterClipboardFormatA, GetClipboardFormatNameA).
class Win32ClipboardFormatApi : public ClipboardFormatApi {
 public:
  std::uint16_t Register(const std::string& name) override;
  std::string Name(std::uint16_t id) override;
};

// The string tree and the owner-draw tree.
#include "VirtualStringTreesWin.h"
