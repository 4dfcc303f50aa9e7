// Controls: TControl (a visual component with a parent), TWinControl (one
// with a window of its own) and TGraphicControl (one that paints on its
// parent's window).
//
// Messages: a control's WindowProc (replaceable, bound to the virtual WndProc
// by default) receives every message. WndProc does the generic work and calls
// the virtual Dispatch, where each class handles its messages in a switch and
// passes the rest to inherited::Dispatch; the last stop is DefaultHandler,
// which for a windowed control is the window class's own procedure
// (DefWndProc) called with CallWindowProc. Perform sends a message through
// WindowProc.
//
// Windows: CreateHandle -> CreateWnd -> CreateParams fills a TCreateParams;
// the class is registered (ANSI) with InitWndProc as its procedure; the
// control is recorded as the creation control; CreateWindowHandle makes the
// window; InitWndProc, on its first message, binds the handle, sets the two
// window properties by which FindControl finds the control, and installs the
// control's object instance (MakeObjectInstance(MainWndProc)) as the window
// procedure. MainWndProc hands any exception to the application.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "ActnList.h"
#include "Component.h"
#include "Graphics.h"
#include "Messages.h"
#include "WndProc.h"

class TControl;
class TWinControl;
class TControlActionLink;

// A cursor: the standard ones are negative (crHandPoint), the program's own
// (Screen->SetCursors) positive. Form data names them ("crHandPoint").
struct TCursorTag {
  static const TypeInfo* Info();
};
using TCursor = TNamedInt<TCursorTag, std::int16_t>;
constexpr TCursor crDefault = 0, crNone = -1, crArrow = -2, crCross = -3, crIBeam = -4, crSizeNESW = -6, crSizeNS = -7,
                  crSizeNWSE = -8, crSizeWE = -9, crUpArrow = -10, crHourGlass = -11, crDrag = -12, crNoDrop = -13,
                  crHSplit = -14, crVSplit = -15, crMultiDrag = -16, crSQLWait = -17, crNo = -18, crAppStart = -19,
                  crHelp = -20, crHandPoint = -21, crSizeAll = -22, crSize = crSizeAll;

// Notifications reflected from a parent to the child control that sent them.
constexpr UINT CN_BASE = 0xBC00;
constexpr UINT CN_COMMAND = CN_BASE + WM_COMMAND;
constexpr UINT CN_NOTIFY = CN_BASE + WM_NOTIFY;

FW_ENUM(TControlStyleItem, csAcceptsControls, csCaptureMouse, csDesignInteractive, csClickEvents, csFramed,
        csSetCaption, csOpaque, csDoubleClicks, csFixedWidth, csFixedHeight, csNoDesignVisible, csReplicatable,
        csNoStdEvents, csDisplayDragImage, csReflector, csActionClient, csMenuEvents);
using TControlStyle = Set<TControlStyleItem>;

FW_ENUM(TControlStateItem, csLButtonDown, csClicked, csPalette, csReadingState, csAlignmentNeeded, csFocusing,
        csCreating, csPaintCopy, csCustomPaint, csDestroyingHandle, csDocking);
using TControlState = Set<TControlStateItem>;

// Where a control sits in its parent: docked to a side (in the order top,
// bottom, left, right, then the client area that is left), or where its
// bounds put it (alNone).
FW_ENUM(TAlign, alNone, alTop, alBottom, alLeft, alRight, alClient, alCustom);

// Reading order and alignment: left to right, or right to left (alignment
// mirrored and text read right to left, or only one of the two).
FW_ENUM(TBiDiMode, bdLeftToRight, bdRightToLeft, bdRightToLeftNoAlign, bdRightToLeftReadingOnly);

// Generic control properties that forms store and components copy; the
// framework keeps them and gives them no effect of its own yet.
FW_ENUM(TAnchorKind, akLeft, akTop, akRight, akBottom);
using TAnchors = Set<TAnchorKind>;
FW_ENUM(TDragKind, dkDrag, dkDock);
FW_ENUM(TDragMode, dmManual, dmAutomatic);

// The size limits of a control (0: no limit).
class TSizeConstraints : public TPersistent {
  FW_CLASS(TSizeConstraints, TPersistent)
 public:
  int MaxHeight = 0;
  int MaxWidth = 0;
  int MinHeight = 0;
  int MinWidth = 0;
  void Assign(TPersistent* source) override;
};

FW_ENUM(TShiftStateItem, ssShift, ssAlt, ssCtrl, ssLeft, ssRight, ssMiddle, ssDouble);
using TShiftState = Set<TShiftStateItem>;
FW_ENUM(TMouseButton, mbLeft, mbRight, mbMiddle);
using TMouseEvent = Method<void(TObject* sender, TMouseButton button, TShiftState shift, int x, int y)>;
using TMouseMoveEvent = Method<void(TObject* sender, TShiftState shift, int x, int y)>;

// The shift state of a mouse message's key flags (and the Alt key's state).
TShiftState MouseShiftState(WPARAM keys);
// The modifier keys held now (Shift, Ctrl, Alt from GetKeyState).
TShiftState KeyboardShiftState();
// The control drag: CM_DRAG goes to the control under the mouse with one of
// these operations in WParam and a TDragRec* in LParam.
FW_ENUM(TDragState, dsDragEnter, dsDragLeave, dsDragMove);
constexpr WPARAM dmDragEnter = 0, dmDragLeave = 1, dmDragMove = 2, dmDragDrop = 3, dmDragCancel = 4, dmFindTarget = 5;
class TDragObject;
struct TDragRec {
  POINT Pos;  // screen coordinates
  TDragObject* Source;
  TControl* Target;
  bool Docking;
};
// What a control drag carries: the dragged control, the mouse position
// (screen coordinates), the control it is over, and whether it was dropped.
class TDragObject : public TObject {
  FW_CLASS(TDragObject, TObject)
 public:
  TDragObject() = default;
  TControl* Control = nullptr;
  POINT DragPos{};
  TControl* DragTarget = nullptr;
  bool Dropped = false;
};
// `source` is the dragged control; x and y are the receiver's client coordinates.
using TDragOverEvent = Method<void(TObject* sender, TObject* source, int x, int y, TDragState state, bool& accept)>;
using TDragDropEvent = Method<void(TObject* sender, TObject* source, int x, int y)>;
using TStartDragEvent = Method<void(TObject* sender, TDragObject*& dragObject)>;
using TEndDragEvent = Method<void(TObject* sender, TObject* target, int x, int y)>;

// The control drag's side of TControl::Destroy and TWinControl::WndProc: a
// freed control leaves the drag; the window holding the drag's mouse hands
// it its mouse and key messages (true: the drag took the message).
void ForgetDragControl(TControl* control);
bool DragMessageTaken(HWND window, TMessage& msg);

// The mouse as the program sees it.
class TMouse {
 public:
  TMouse();
  // How far (pixels, either axis) the mouse must move with a button held
  // before a drag starts: the system's SM_CXDRAG.
  int DragThreshold = 5;
};
extern TMouse* const Mouse;
// A key went down or up (`key` a virtual key code; setting it to 0 swallows
// the key), and a character was typed (0 swallows it).
using TKeyEvent = Method<void(TObject* sender, std::uint16_t& key, TShiftState shift)>;
using TKeyPressEvent = Method<void(TObject* sender, char& key)>;

struct TCreateParams {
  const char* Caption = "";
  DWORD Style = 0;
  DWORD ExStyle = 0;
  int X = 0, Y = 0, Width = 0, Height = 0;
  HWND WndParent = nullptr;
  void* Param = nullptr;
  WNDCLASSA WindowClass{};
  char WinClassName[64] = {};
  // The wide entry of WindowClass.lpfnWndProc when it is known (a copied
  // system class): the window's text in a code page not the system's goes
  // through it.
  WNDPROC WideWindowProc = nullptr;
};

// The code page of a charset's characters (CodePageOfCharset) when this system
// has it, else the system's ANSI code page (CP_ACP).
UINT CharsetCodePage(std::uint8_t charset);

class TControl : public TComponent {
  FW_CLASS(TControl, TComponent)
 public:
  explicit TControl(TComponent* owner);
  void Destroy() override;

  TWinControl* Parent() const { return parent_; }
  virtual void SetParent(TWinControl* parent);
  TComponent* GetParentComponent() const override;
  bool HasParent() const override { return true; }
  void SetParentComponent(TComponent* parent) override;

  int GetLeft() const { return left_; }
  int GetTop() const { return top_; }
  int GetWidth() const { return width_; }
  int GetHeight() const { return height_; }
  void SetLeft(int v) { SetBounds(v, top_, width_, height_); }
  void SetTop(int v) { SetBounds(left_, v, width_, height_); }
  void SetWidth(int v) { SetBounds(left_, top_, v, height_); }
  void SetHeight(int v) { SetBounds(left_, top_, width_, v); }
  virtual void SetBounds(int left, int top, int width, int height);
  RECT BoundsRect() const { return RECT{left_, top_, left_ + width_, top_ + height_}; }
  virtual RECT ClientRect() const { return RECT{0, 0, width_, height_}; }
  int ClientWidth() const { return ClientRect().right; }
  int ClientHeight() const { return ClientRect().bottom; }

  TAlign GetAlign() const { return align_; }
  void SetAlign(TAlign v);

  // Scales position, size and font height (unless the font follows the
  // parent's) by multiplier / divisor; a windowed control scales its children too.
  void ScaleBy(int multiplier, int divisor);

  bool GetVisible() const { return visible_; }
  virtual void SetVisible(bool v);
  void Show() { SetVisible(true); }
  void Hide() { SetVisible(false); }
  bool GetEnabled() const { return enabled_; }
  virtual void SetEnabled(bool v);

  // The caption (windowed controls read and write it through WM_GETTEXT / WM_SETTEXT).
  std::string GetText() const;
  void SetText(const std::string& text);
  std::string GetCaption() const { return GetText(); }
  void SetCaption(const std::string& text) { SetText(text); }

  std::string GetHint() const { return hint_; }
  void SetHint(const std::string& v) { hint_ = v; }
  // Whether the hint shows when the mouse rests on the control; with
  // ParentShowHint (the default) the parent's setting counts, and setting
  // ShowHint clears ParentShowHint.
  bool GetShowHint() const;
  void SetShowHint(bool v);
  bool GetParentShowHint() const { return parentShowHint_; }
  void SetParentShowHint(bool v) { parentShowHint_ = v; }
  bool IsShowHintStored() const { return !parentShowHint_; }
  int GetHelpContext() const { return helpContext_; }
  void SetHelpContext(int v) { helpContext_ = v; }
  TCursor GetCursor() const { return cursor_; }
  virtual void SetCursor(TCursor v);
  // The font; with ParentFont (the default) it follows the parent's, and
  // changing it clears ParentFont.
  TFont* GetFont() const { return font_; }
  void SetFont(TFont* v) { font_->Assign(v); }
  bool GetParentFont() const { return parentFont_; }
  void SetParentFont(bool v);
  TColor GetColor() const { return color_; }
  void SetColor(TColor v);
  // With ParentColor the control takes its parent's colour; setting Color clears it.
  bool GetParentColor() const { return parentColor_; }
  void SetParentColor(bool v);
  bool IsColorStored() const { return !parentColor_; }

  // Kept, without effect yet (see TAnchors).
  TAnchors GetAnchors() const { return anchors_; }
  void SetAnchors(TAnchors v) { anchors_ = v; }
  bool IsAnchorsStored() const { return !(anchors_ == TAnchors{akLeft, akTop}); }
  TSizeConstraints* GetConstraints() const { return constraints_; }
  void SetConstraints(TSizeConstraints* v) { constraints_->Assign(v); }
  TCursor GetDragCursor() const { return dragCursor_; }
  void SetDragCursor(TCursor v) { dragCursor_ = v; }
  TDragKind GetDragKind() const { return dragKind_; }
  void SetDragKind(TDragKind v) { dragKind_ = v; }
  TDragMode GetDragMode() const { return dragMode_; }
  void SetDragMode(TDragMode v) { dragMode_ = v; }

  TControlStyle ControlStyle;
  TControlState ControlState;

  // Auto-sizing: while AutoSize is on, every SetBounds asks CanAutoSize for
  // the size the control wants (it may change either dimension and answers
  // whether it did); alignment sets bounds through SetBounds, so an aligned
  // control keeps the dimension its alignment leaves free to it. AdjustSize
  // applies the wanted size at once.
  bool GetAutoSize() const { return autoSize_; }
  void SetAutoSize(bool v);
  virtual bool CanAutoSize(int& newWidth, int& newHeight);
  virtual void AdjustSize();

  // With ParentBiDiMode (the default) the control reads its parent's mode;
  // setting BiDiMode clears it.
  TBiDiMode GetBiDiMode() const;
  virtual void SetBiDiMode(TBiDiMode v);
  bool GetParentBiDiMode() const { return parentBiDiMode_; }
  void SetParentBiDiMode(bool v);
  bool IsBiDiModeStored() const { return !parentBiDiMode_; }
  bool UseRightToLeftAlignment() const { return GetBiDiMode() == bdRightToLeft; }
  bool UseRightToLeftReading() const { return GetBiDiMode() != bdLeftToRight; }
  // DrawText flags for the mode: left and right alignment swapped when the
  // alignment is mirrored, DT_RTLREADING when reading right to left.
  UINT DrawTextBiDiModeFlags(UINT flags) const;

  // The message entry; replaceable (subclassing keeps the old value and calls it).
  TWndMethod WindowProc;
  LRESULT Perform(UINT msg, WPARAM wp = 0, LPARAM lp = 0);
  virtual void WndProc(TMessage& msg);
  virtual void Dispatch(TMessage& msg);
  virtual void DefaultHandler(TMessage& msg);

  virtual void Invalidate();
  virtual void Update();
  void Repaint();
  void Refresh() { Repaint(); }

  POINT ClientToScreen(POINT p) const;
  POINT ScreenToClient(POINT p) const;

  TNotifyEvent OnClick;
  // A double click of the left button (after its mouse-down).
  TNotifyEvent OnDblClick;
  virtual void DblClick();
  // Whether the control has the mouse: every mouse message comes to it
  // while the capture lasts (a graphic control through its parent's window).
  bool GetMouseCapture() const;
  void SetMouseCapture(bool value);
  TMouseEvent OnMouseDown, OnMouseUp;
  TMouseMoveEvent OnMouseMove;

  // The control drag. BeginDrag starts it at once, or once the mouse has
  // moved `threshold` pixels (negative: Mouse->DragThreshold) with the button
  // held; the mouse is the control's until the release drops it (Escape or a
  // lost capture cancels). DragMode dmAutomatic starts one on a left press.
  void BeginDrag(bool immediate, int threshold = -1);
  void EndDrag(bool drop);
  bool Dragging() const;
  TStartDragEvent OnStartDrag;
  TDragOverEvent OnDragOver;
  TDragDropEvent OnDragDrop;
  TEndDragEvent OnEndDrag;
  // The drag's operations: the start (a handler may give its own drag
  // object), over (accepted only with an OnDragOver handler that agrees),
  // drop, and the end (`target` null: nothing took it).
  virtual void DoStartDrag(TDragObject*& dragObject);
  virtual void DragOver(TObject* source, int x, int y, TDragState state, bool& accept);
  virtual void DragDrop(TObject* source, int x, int y);
  virtual void DoEndDrag(TObject* target, int x, int y);
  // CM_DRAG's find-target operation: the control that takes the drag at a
  // screen point (a windowed control: its graphic child there, or itself).
  virtual TControl* DragTargetAt(POINT screen);
  // The mouse came over the control or left it (CM_MOUSEENTER / CM_MOUSELEAVE).
  TNotifyEvent OnMouseEnter, OnMouseLeave;
  virtual void Click();

  void Loaded() override;

  // The action the control follows (caption, enabled, hint, visible, click);
  // the link is made of GetActionLinkClass. Null clears it.
  TBasicAction* GetAction() const;
  void SetAction(TBasicAction* value);
  TControlActionLink* ActionLink() const { return actionLink_; }
  // Updates the action (the application's idle time calls it on visible controls).
  virtual void InitiateAction();
  // Runs or updates `action` on this control when the action handles it as a target.
  virtual bool ExecuteAction(TBasicAction* action);
  virtual bool UpdateAction(TBasicAction* action);

 protected:
  // The action (or one of its properties) changed. With checkDefaults (the
  // action was set while loading) a value the control already has is kept.
  virtual void ActionChange(TObject* sender, bool checkDefaults);
  virtual TBasicActionLinkClass GetActionLinkClass();
  void Notification(TComponent* component, TOperation operation) override;
  virtual void Changed() {}
  virtual void VisibleChanging() {}
  // Asks the parent to place its aligned controls again (when this one is aligned).
  void RequestAlign();
  virtual void FontChanged();  // the font's attributes changed
  virtual void ChangeScale(int multiplier, int divisor);
  virtual void MouseDown(TMouseButton button, TShiftState shift, int x, int y);
  virtual void MouseUp(TMouseButton button, TShiftState shift, int x, int y);
  virtual void MouseMove(TShiftState shift, int x, int y);
  virtual void MouseEnter();
  virtual void MouseLeave();
  std::string text_;

 private:
  friend class TWinControl;
  TWinControl* parent_ = nullptr;
  int left_ = 0, top_ = 0, width_ = 0, height_ = 0;
  TAlign align_ = alNone;
  bool autoSize_ = false;
  TBiDiMode biDiMode_ = bdLeftToRight;
  bool parentBiDiMode_ = true;
  bool visible_ = true;
  bool enabled_ = true;
  std::string hint_;
  bool showHint_ = false;
  bool parentShowHint_ = true;
  bool parentColor_ = false;
  bool colorFromParent_ = false;
  void TakeParentColor();
  int helpContext_ = 0;
  TCursor cursor_ = crDefault;
  TAnchors anchors_{akLeft, akTop};
  TSizeConstraints* constraints_ = nullptr;
  TCursor dragCursor_ = crDrag;
  TDragKind dragKind_ = dkDrag;
  TDragMode dragMode_ = dmManual;
  TFont* font_ = nullptr;
  bool parentFont_ = true;
  bool fontFromParent_ = false;
  TColor color_ = clBtnFace;
  void FontChange(TObject*);
  void TakeParentFont();
  void DoActionChange(TObject* sender);
  TControlActionLink* actionLink_ = nullptr;
};

// The link of a control: caption, enabled state, hint, visibility and the
// click handler follow the action while the control's value is the action's.
class TControlActionLink : public TActionLink {
  FW_CLASS(TControlActionLink, TActionLink)
 public:
  TControlActionLink() = default;
  void AssignClient(TObject* client) override;
  TControl* Client() const { return client_; }
  bool IsCaptionLinked() override;
  bool IsEnabledLinked() override;
  bool IsHintLinked() override;
  bool IsVisibleLinked() override;
  bool IsOnExecuteLinked() override;
  void SetCaption(const std::string& value) override;
  void SetEnabled(bool value) override;
  void SetHint(const std::string& value) override;
  void SetVisible(bool value) override;
  void SetOnExecute(const TNotifyEvent& value) override;

 protected:
  TCustomAction* CustomAction() const { return dynamic_cast<TCustomAction*>(action_); }
  TControl* client_ = nullptr;
};

// The link of a windowed control: the help context follows too.
class TWinControlActionLink : public TControlActionLink {
  FW_CLASS(TWinControlActionLink, TControlActionLink)
 public:
  TWinControlActionLink() = default;
  bool IsHelpContextLinked() override;
  void SetHelpContext(int value) override;
};

class TWinControl : public TControl {
  FW_CLASS(TWinControl, TControl)
 public:
  explicit TWinControl(TComponent* owner);
  void Destroy() override;

  HWND Handle();  // creates the window when needed
  HWND WindowHandle() const { return handle_; }
  bool HandleAllocated() const { return handle_ != nullptr; }
  void HandleNeeded() { Handle(); }
  // The window of the parent: the parent control's, or the one set for a parentless child.
  HWND ParentWindow() const { return parentWindow_; }
  void SetParentWindow(HWND wnd) { parentWindow_ = wnd; }

  int ControlCount() const { return static_cast<int>(controls_.size()); }
  TControl* Controls(int index) const { return controls_.at(static_cast<std::size_t>(index)); }
  void InsertControl(TControl* control);
  void RemoveControl(TControl* control);

  bool GetTabStop() const { return tabStop_; }
  void SetTabStop(bool v) { tabStop_ = v; }
  // Kept, without effect yet (see TAnchors).
  bool GetCtl3D() const { return ctl3D_; }
  // Tells the control (CM_CTL3DCHANGED) when the look changes.
  void SetCtl3D(bool v);
  bool GetParentCtl3D() const { return parentCtl3D_; }
  void SetParentCtl3D(bool v) { parentCtl3D_ = v; }
  bool IsCtl3DStored() const { return !parentCtl3D_; }
  int GetBorderWidth() const { return borderWidth_; }
  void SetBorderWidth(int v) { borderWidth_ = v < 0 ? 0 : v; }
  int GetTabOrder() const;
  void SetTabOrder(int v);
  virtual bool CanFocus() const;
  virtual void SetFocus();
  bool Focused() const;

  void SetBounds(int left, int top, int width, int height) override;
  void SetVisible(bool v) override;
  void SetEnabled(bool v) override;
  RECT ClientRect() const override;
  void Invalidate() override;
  void Update() override;

  void Dispatch(TMessage& msg) override;
  void DefaultHandler(TMessage& msg) override;
  TKeyEvent OnKeyDown, OnKeyUp;
  TKeyPressEvent OnKeyPress;
  // The object-instance entry: WindowProc with exceptions handed to the application.
  void MainWndProc(TMessage& msg);
  WNDPROC DefWndProc = nullptr;

  // Places the aligned children in the client area (Align); held off while
  // the control is loading or DisableAlign is in force, and done afterwards.
  void Realign();
  void DisableAlign() { ++alignDisabled_; }
  void EnableAlign();
  void Loaded() override;

  void RecreateWnd();
  void DestroyHandle();
  void FontChanged() override;
  // The code page the window's text is given in when its font's charset asks
  // for one the system's ANSI calls do not use (ForeignTextCodePage, on this
  // system), else 0. With one, the control's ANSI text (Text, WM_SETTEXT and
  // WM_GETTEXT through WindowProc) stays in that code page, and the window
  // holds it widened through it, so the system shows and reports (GetWindowTextW)
  // the characters the charset means; the 9x line keeps the font's road.
  UINT TextCodePage() const;
  void WndProc(TMessage& msg) override;
  TBasicActionLinkClass GetActionLinkClass() override;
  void ActionChange(TObject* sender, bool checkDefaults) override;
  // Paints the window itself (not its graphic children) into `dc`; with
  // WM_ERASEBKGND first this gives what the window shows behind its children.
  virtual void PaintWindow(HDC dc);
  // For writing: the child controls that `root` owns.
  void GetChildren(const Method<void(TComponent*)>& proc, TComponent* root) override;
  // The visible, enabled graphic child at a client point (the topmost), or null;
  // with `allowDisabled` disabled ones count too.
  TControl* ControlAtPos(POINT p, bool allowDisabled = false) const;
  TControl* DragTargetAt(POINT screen) override;

 protected:
  void ChangeScale(int multiplier, int divisor) override;
  // The area aligned children share (a group box leaves out its frame and caption).
  virtual void AdjustClientRect(RECT& rect);
  // Places the children with an Align in `rect` (what is left of it is the client part);
  // `control` is the one whose change asked for it, which wins ties of position.
  virtual void AlignControls(TControl* control, RECT& rect);
  virtual void CreateParams(TCreateParams& params);
  // WM_KEYDOWN / WM_SYSKEYDOWN, WM_KEYUP / WM_SYSKEYUP and WM_CHAR (single-byte
  // characters) before the control's own handling; the base versions fire
  // the events.
  virtual void KeyDown(std::uint16_t& key, TShiftState shift);
  virtual void KeyUp(std::uint16_t& key, TShiftState shift);
  virtual void KeyPress(char& key);
  // Sends `msg` to every child control.
  void NotifyControls(UINT msg);
  // Copies a system window class (BUTTON, STATIC, ...) so the control wraps it.
  void CreateSubClass(TCreateParams& params, const char* className);
  virtual void CreateWnd();
  virtual void CreateWindowHandle(const TCreateParams& params);
  virtual void DestroyWnd();
  virtual void DestroyWindowHandle();
  void CreateHandle();
  // Windowed children in tab order.
  std::vector<TWinControl*> TabList() const;
  // Paints the graphic children into a device context.
  void PaintControls(HDC dc);

 private:
  friend LRESULT CALLBACK InitWndProc(HWND wnd, UINT msg, WPARAM wp, LPARAM lp);
  friend LRESULT CALLBACK WideTextFrontProc(HWND wnd, UINT msg, WPARAM wp, LPARAM lp);
  void UpdateShowing();
  // The window's text and the wide entry of its default procedure.
  bool HasWideTextRoad() const;
  void SetWideWindowText(TMessage& msg, UINT codePage);
  void GetWideWindowText(TMessage& msg) const;
  std::u16string WideWindowText() const;
  void UpdateTextCodePage();
  void PutWideTextFront();
  bool WideFrontText(UINT msg, WPARAM wp, LPARAM lp, LRESULT& result);
  HWND handle_ = nullptr;
  bool unicodeWindow_ = false;     // made as a Unicode window: the framework's messages to it are wide
  bool wideFront_ = false;         // the wide-text front procedure is in place
  WNDPROC defWndProcW_ = nullptr;  // the wide entry of the default procedure the window was made with
  WNDPROC defWndProcA_ = nullptr;  // that default procedure (DefWndProc when the window was made)
  UINT textCodePage_ = 0;          // the code page the window's text was given in; 0: the system's
  HWND parentWindow_ = nullptr;
  TControl* mouseCapture_ = nullptr;  // the graphic child that got the button press
  WNDPROC objectInstance_ = nullptr;
  std::vector<TControl*> controls_;  // every child, in insertion order
  std::vector<TWinControl*> tabList_;
  bool tabStop_ = false;
  bool ctl3D_ = true;
  bool parentCtl3D_ = true;
  int borderWidth_ = 0;
  int alignDisabled_ = 0;
  bool aligning_ = false;
  bool trackingLeave_ = false;  // a WM_MOUSELEAVE is asked for
  friend class TControl;
  void AlignFor(TControl* control);
};

class TGraphicControl : public TControl {
  FW_CLASS(TGraphicControl, TControl)
 public:
  explicit TGraphicControl(TComponent* owner);
  void Destroy() override;
  // Paints into `dc`, whose origin is the control's top-left corner.
  virtual void Paint(HDC dc);
  void Dispatch(TMessage& msg) override;
  // Attached to the paint context (and locked) while the control paints; lock
  // it to draw from another thread.
  TCanvas* Canvas() const { return canvas_; }

 private:
  TCanvas* canvas_ = nullptr;
};

// A windowed control that paints itself (Paint) with its graphic children on top.
class TCustomControl : public TWinControl {
  FW_CLASS(TCustomControl, TWinControl)
 public:
  explicit TCustomControl(TComponent* owner);
  void Dispatch(TMessage& msg) override;
  void PaintWindow(HDC dc) override;  // Paint

 protected:
  virtual void Paint(HDC dc);
};

// The control whose window `wnd` is (null for a foreign window).
TWinControl* FindControl(HWND wnd);
// The control at a screen point: the graphic child there (disabled ones too
// with `allowDisabled`), else the window's control; null over foreign windows.
TControl* FindDragTarget(POINT screenPos, bool allowDisabled);
// The framework's control record for window procedures (the creation control).
TWinControl* CreationControl();
// The atoms of the two window properties.
ATOM ControlAtom();
ATOM WindowAtom();
LRESULT CALLBACK InitWndProc(HWND wnd, UINT msg, WPARAM wp, LPARAM lp);

// The cursor forced over every window (Screen.Cursor); set by the screen.
HCURSOR ForcedCursor();
HCURSOR CursorHandle(TCursor cursor);  // the system's cursor for a standard one
// The cursor shown for `cursor`: Screen->Cursors (the program's own cursors too) once the screen exists.
HCURSOR ScreenCursorHandle(TCursor cursor);
// Tells the application (hints) that the mouse control changed; set up by the forms unit.
void MouseControlChanged(TControl* control);
// Tells the application (hints) that a control goes; set up by the forms unit.
void HintControlGoing(TControl* control);
// Cursor identifiers ("crHandPoint") and back.
bool CursorToIdent(std::int64_t cursor, std::string& ident);
bool IdentToCursor(const std::string& ident, std::int64_t& cursor);

// The control the mouse is over (a graphic control, or a windowed one), on
// the main thread; windows track it with TrackMouseEvent. A change sends
// CM_MOUSELEAVE to the old control and CM_MOUSEENTER to the new one.
TControl* MouseControl();
void SetMouseControl(TControl* control);

// The part of a hint before / after the first "|" (the whole hint without one).
std::string GetShortHint(const std::string& hint);
std::string GetLongHint(const std::string& hint);

// True when `caption` marks `ch` as its accelerator ("&Next" for N or n).
bool IsAccel(unsigned ch, const std::string& caption);

// Sets the ModalResult of the form that holds `control` (set up by the forms unit).
void SetParentFormModalResult(TControl* control, int result);

// The help context of a control or its nearest parent that has one.
int FindHelpContext(TControl* control);
