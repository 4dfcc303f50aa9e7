#include "Controls.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <iterator>

#include "Scope.h"
#include "Swallow.h"
#include "SysUtils.h"
#include "Thread.h"
#include "Win32Platform.h"

namespace {
const TIdentMapEntry kCursorNames[] = {
    {crDefault, "crDefault"},     {crNone, "crNone"},           {crArrow, "crArrow"},
    {crCross, "crCross"},         {crIBeam, "crIBeam"},         {crSizeNESW, "crSizeNESW"},
    {crSizeNS, "crSizeNS"},       {crSizeNWSE, "crSizeNWSE"},   {crSizeWE, "crSizeWE"},
    {crUpArrow, "crUpArrow"},     {crHourGlass, "crHourGlass"}, {crDrag, "crDrag"},
    {crNoDrop, "crNoDrop"},       {crHSplit, "crHSplit"},       {crVSplit, "crVSplit"},
    {crMultiDrag, "crMultiDrag"}, {crSQLWait, "crSQLWait"},     {crNo, "crNo"},
    {crAppStart, "crAppStart"},   {crHelp, "crHelp"},           {crHandPoint, "crHandPoint"},
    {crSizeAll, "crSizeAll"},     {crSize, "crSize"},
};
}  // namespace

const TypeInfo* TCursorTag::Info() {
  static const TypeInfo info =
      MakeIntegerTypeInfo("TCursor", INT16_MIN, INT16_MAX, kCursorNames, std::size(kCursorNames));
  return &info;
}

bool CursorToIdent(std::int64_t cursor, std::string& ident) {
  return IntToIdent(cursor, ident, kCursorNames);
}
bool IdentToCursor(const std::string& ident, std::int64_t& cursor) {
  return IdentToInt(ident, cursor, kCursorNames);
}

FW_BEGIN_CLASS(TControl)
  FW_PROP(Left, GetLeft, SetLeft)
  FW_PROP(Top, GetTop, SetTop)
  FW_PROP(Width, GetWidth, SetWidth)
  FW_PROP(Height, GetHeight, SetHeight)
  FW_PROP(Caption, GetCaption, SetCaption)
  FW_PROP(Visible, GetVisible, SetVisible)
  FW_DEFAULT(1)
  FW_PROP(Enabled, GetEnabled, SetEnabled)
  FW_DEFAULT(1)
  FW_PROP(Hint, GetHint, SetHint)
  FW_PROP(ParentShowHint, GetParentShowHint, SetParentShowHint)
  FW_DEFAULT(1)
  FW_PROP(ShowHint, GetShowHint, SetShowHint)
  FW_STORED(IsShowHintStored)
  FW_PROP(HelpContext, GetHelpContext, SetHelpContext)
  FW_DEFAULT(0)
  FW_PROP(Cursor, GetCursor, SetCursor)
  FW_DEFAULT(0)
  FW_PROP(Font, GetFont, SetFont)
  FW_PROP(ParentFont, GetParentFont, SetParentFont)
  FW_DEFAULT(1)
  FW_PROP(ParentColor, GetParentColor, SetParentColor)
  FW_DEFAULT(0)
  FW_PROP(Color, GetColor, SetColor)
  FW_STORED(IsColorStored)
  FW_PROP(Align, GetAlign, SetAlign)
  FW_DEFAULT(alNone)
  FW_PROP(BiDiMode, GetBiDiMode, SetBiDiMode)
  FW_STORED(IsBiDiModeStored)
  FW_PROP(Anchors, GetAnchors, SetAnchors)
  FW_STORED(IsAnchorsStored)
  FW_PROP_RO(Constraints, GetConstraints)
  FW_PROP(DragCursor, GetDragCursor, SetDragCursor)
  FW_DEFAULT(crDrag)
  FW_PROP(DragKind, GetDragKind, SetDragKind)
  FW_DEFAULT(dkDrag)
  FW_PROP(DragMode, GetDragMode, SetDragMode)
  FW_DEFAULT(dmManual)
  FW_EVENT(OnClick, OnClick)
  FW_EVENT(OnDblClick, OnDblClick)
  FW_EVENT(OnMouseDown, OnMouseDown)
  FW_EVENT(OnMouseUp, OnMouseUp)
  FW_EVENT(OnMouseMove, OnMouseMove)
  FW_EVENT(OnMouseEnter, OnMouseEnter)
  FW_EVENT(OnMouseLeave, OnMouseLeave)
FW_END_CLASS

FW_BEGIN_CLASS(TWinControl)
  FW_PROP(TabStop, GetTabStop, SetTabStop)
  FW_DEFAULT(0)
  FW_PROP(TabOrder, GetTabOrder, SetTabOrder)
  FW_NOT_STORED
  FW_PROP(BorderWidth, GetBorderWidth, SetBorderWidth)
  FW_DEFAULT(0)
  FW_PROP(Ctl3D, GetCtl3D, SetCtl3D)
  FW_STORED(IsCtl3DStored)
  FW_PROP(ParentCtl3D, GetParentCtl3D, SetParentCtl3D)
  FW_DEFAULT(1)
  FW_EVENT(OnKeyDown, OnKeyDown)
  FW_EVENT(OnKeyPress, OnKeyPress)
  FW_EVENT(OnKeyUp, OnKeyUp)
FW_END_CLASS

FW_BEGIN_CLASS(TSizeConstraints)
  FW_PROP(MaxHeight, MaxHeight, MaxHeight)
  FW_DEFAULT(0)
  FW_PROP(MaxWidth, MaxWidth, MaxWidth)
  FW_DEFAULT(0)
  FW_PROP(MinHeight, MinHeight, MinHeight)
  FW_DEFAULT(0)
  FW_PROP(MinWidth, MinWidth, MinWidth)
  FW_DEFAULT(0)
FW_END_CLASS

void TSizeConstraints::Assign(TPersistent* source) {
  if (auto* other = dynamic_cast<TSizeConstraints*>(source)) {
    MaxHeight = other->MaxHeight;
    MaxWidth = other->MaxWidth;
    MinHeight = other->MinHeight;
    MinWidth = other->MinWidth;
    return;
  }
  inherited::Assign(source);
}

FW_IMPLEMENT_CLASS(TDragObject)
FW_IMPLEMENT_CLASS(TControlActionLink)
FW_IMPLEMENT_CLASS(TWinControlActionLink)
FW_IMPLEMENT_CLASS(TGraphicControl)
FW_IMPLEMENT_CLASS(TCustomControl)

namespace {

thread_local TWinControl* t_creationControl = nullptr;
TControl* g_mouseControl = nullptr;

ATOM g_controlAtom = 0;
ATOM g_windowAtom = 0;

void EnsureAtoms() {
  if (g_controlAtom) return;
  char name[64];
  std::snprintf(name, sizeof name, "Lunder%.8lX", static_cast<unsigned long>(GetCurrentProcessId()));
  g_windowAtom = GlobalAddAtomA(name);
  std::snprintf(name, sizeof name, "ControlOfs%.8lX%.8lX",
                static_cast<unsigned long>(reinterpret_cast<std::uintptr_t>(MainHInstance()) & 0xFFFFFFFFu),
                static_cast<unsigned long>(MainThreadID() ? MainThreadID() : GetCurrentThreadId()));
  g_controlAtom = GlobalAddAtomA(name);
}

}  // namespace

ATOM ControlAtom() {
  EnsureAtoms();
  return g_controlAtom;
}
ATOM WindowAtom() {
  EnsureAtoms();
  return g_windowAtom;
}
TWinControl* CreationControl() {
  return t_creationControl;
}

TControl* MouseControl() {
  return g_mouseControl;
}

void SetMouseControl(TControl* control) {
  if (control == g_mouseControl) return;
  TControl* old = g_mouseControl;
  g_mouseControl = control;
  if (old) old->Perform(CM_MOUSELEAVE);
  // The leave handler may have moved on already (or freed the new control's parent).
  if (control && g_mouseControl == control) control->Perform(CM_MOUSEENTER);
  MouseControlChanged(g_mouseControl);
}

TWinControl* FindControl(HWND wnd) {
  if (!wnd) return nullptr;
  DWORD pid = 0;
  GetWindowThreadProcessId(wnd, &pid);
  if (pid != GetCurrentProcessId()) return nullptr;
  return static_cast<TWinControl*>(GetPropA(wnd, MAKEINTATOM(ControlAtom())));
}

LRESULT CALLBACK InitWndProc(HWND wnd, UINT msg, WPARAM wp, LPARAM lp) {
  TWinControl* control = t_creationControl;
  if (!control) return DefWindowProcA(wnd, msg, wp, lp);
  t_creationControl = nullptr;
  control->handle_ = wnd;
  SetPropA(wnd, MAKEINTATOM(ControlAtom()), control);
  SetPropA(wnd, MAKEINTATOM(WindowAtom()), control);
  // A window of a Unicode class stays Unicode: its procedure is set and called by the wide calls.
  control->unicodeWindow_ = IsWindowUnicode(wnd) != FALSE;
  control->wideFront_ = false;
  if (control->unicodeWindow_) {
    SetWindowLongPtrW(wnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(control->objectInstance_));
    return CallWindowProcW(control->objectInstance_, wnd, msg, wp, lp);
  }
  SetWindowLongPtrA(wnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(control->objectInstance_));
  return CallWindowProcA(control->objectInstance_, wnd, msg, wp, lp);
}

namespace {
const wchar_t kWideFrontProp[] = L"WideTextFront";
}  // namespace

// In front of the procedure of a window whose text goes the wide road (see
// TWinControl::TextCodePage): the window is a Unicode one, so the system's own
// wide text messages (a button's painting asks for its text with them) reach
// it unconverted and are answered with the wide text; every other message goes
// on to the control's procedure as before, converted to ANSI by the system.
LRESULT CALLBACK WideTextFrontProc(HWND wnd, UINT msg, WPARAM wp, LPARAM lp) {
  const auto behind = reinterpret_cast<WNDPROC>(GetPropW(wnd, kWideFrontProp));
  try {
    if (msg == WM_SETTEXT || msg == WM_GETTEXT || msg == WM_GETTEXTLENGTH) {
      LRESULT result = 0;
      if (TWinControl* control = FindControl(wnd); control && control->WideFrontText(msg, wp, lp, result))
        return result;
    }
    if (msg == WM_NCDESTROY) RemovePropW(wnd, kWideFrontProp);
    return behind ? CallWindowProcW(behind, wnd, msg, wp, lp) : DefWindowProcW(wnd, msg, wp, lp);
  } catch (...) {
    HandleCallbackException(std::current_exception());
    return 0;
  }
}

HCURSOR CursorHandle(TCursor cursor) {
  LPCSTR id;
  switch (cursor) {
    case crNone:
      return nullptr;
    case crCross:
      id = IDC_CROSS;
      break;
    case crIBeam:
      id = IDC_IBEAM;
      break;
    case crSizeNESW:
      id = IDC_SIZENESW;
      break;
    case crSizeNS:
    case crVSplit:
      id = IDC_SIZENS;
      break;
    case crSizeNWSE:
      id = IDC_SIZENWSE;
      break;
    case crSizeWE:
    case crHSplit:
      id = IDC_SIZEWE;
      break;
    case crUpArrow:
      id = IDC_UPARROW;
      break;
    case crHourGlass:
    case crSQLWait:
      id = IDC_WAIT;
      break;
    case crNo:
    case crNoDrop:
      id = IDC_NO;
      break;
    case crAppStart:
      id = IDC_APPSTARTING;
      break;
    case crHelp:
      id = IDC_HELP;
      break;
    case crHandPoint:
      id = IDC_HAND;
      break;
    case crSizeAll:
      id = IDC_SIZEALL;
      break;
    default:
      id = IDC_ARROW;
      break;
  }
  return LoadCursorA(nullptr, id);
}

bool IsAccel(unsigned ch, const std::string& caption) {
  for (std::size_t i = 0; i + 1 < caption.size(); ++i) {
    if (caption[i] != '&') continue;
    if (caption[i + 1] == '&') {
      ++i;
      continue;
    }
    return CharUpperA(
               reinterpret_cast<LPSTR>(static_cast<std::uintptr_t>(static_cast<unsigned char>(caption[i + 1])))) ==
           CharUpperA(reinterpret_cast<LPSTR>(static_cast<std::uintptr_t>(ch & 0xFF)));
  }
  return false;
}

std::string GetShortHint(const std::string& hint) {
  const auto bar = hint.find('|');
  return bar == std::string::npos ? hint : hint.substr(0, bar);
}

std::string GetLongHint(const std::string& hint) {
  const auto bar = hint.find('|');
  return bar == std::string::npos ? hint : hint.substr(bar + 1);
}

int FindHelpContext(TControl* control) {
  for (TControl* c = control; c; c = c->Parent())
    if (c->GetHelpContext() != 0) return c->GetHelpContext();
  return 0;
}

// --- TControl ----------------------------------------------------------------------------------

TControl::TControl(TComponent* owner) : TComponent(owner) {
  WindowProc = TWndMethod::Bind<&TControl::WndProc>(this);
  font_ = New<TFont>();
  font_->OnChange = TNotifyEvent::Bind<&TControl::FontChange>(this);
  constraints_ = New<TSizeConstraints>();
  ControlStyle = {csCaptureMouse, csClickEvents, csSetCaption, csDoubleClicks};
}

void TControl::Destroy() {
  FreeAndNil(actionLink_);
  if (g_mouseControl == this) g_mouseControl = nullptr;
  HintControlGoing(this);
  ForgetDragControl(this);
  if (parent_) parent_->RemoveControl(this);
  inherited::Destroy();
  font_->OnChange = nullptr;
  FreeAndNil(font_);
  FreeAndNil(constraints_);
}

void TControl::FontChange(TObject*) {
  if (!fontFromParent_) parentFont_ = false;
  FontChanged();
}

void TControl::FontChanged() {
  Invalidate();
  Perform(CM_FONTCHANGED);
}

void TControl::TakeParentFont() {
  if (!parentFont_ || !parent_) return;
  fontFromParent_ = true;
  try {
    font_->Assign(parent_->GetFont());
  } catch (...) {
    fontFromParent_ = false;
    throw;
  }
  fontFromParent_ = false;
}

void TControl::SetParentFont(bool v) {
  parentFont_ = v;
  if (v) TakeParentFont();
}

void TControl::SetColor(TColor v) {
  if (!colorFromParent_) parentColor_ = false;
  if (color_ == v) return;
  color_ = v;
  Invalidate();
  Perform(CM_COLORCHANGED);
  if (auto* w = dynamic_cast<TWinControl*>(this))
    for (TControl* c : w->controls_) c->TakeParentColor();
}

void TControl::TakeParentColor() {
  if (!parentColor_ || !parent_) return;
  colorFromParent_ = true;
  TScopeExit reset([this]() noexcept { colorFromParent_ = false; });
  SetColor(parent_->GetColor());
}

void TControl::SetParentColor(bool v) {
  parentColor_ = v;
  if (v) TakeParentColor();
}

bool TControl::GetShowHint() const {
  if (parentShowHint_ && parent_) return parent_->GetShowHint();
  return showHint_;
}

void TControl::SetShowHint(bool v) {
  showHint_ = v;
  parentShowHint_ = false;
}

void TControl::SetParent(TWinControl* parent) {
  if (parent_ == parent) return;
  if (parent == this) throw EInvalidOperation("A control cannot have itself as its parent");
  if (parent_) parent_->RemoveControl(this);
  if (parent) parent->InsertControl(this);
}

TComponent* TControl::GetParentComponent() const {
  return parent_;
}

void TControl::SetParentComponent(TComponent* parent) {
  if (!parent) {
    SetParent(nullptr);
    return;
  }
  SetParent(As<TWinControl>(parent));
}

void TControl::SetBounds(int left, int top, int width, int height) {
  if (autoSize_ && !IsLoading()) CanAutoSize(width, height);
  if (left == left_ && top == top_ && width == width_ && height == height_) return;
  if (!Is<TWinControl>()) Invalidate();
  left_ = left;
  top_ = top;
  width_ = width < 0 ? 0 : width;
  height_ = height < 0 ? 0 : height;
  if (!Is<TWinControl>()) Invalidate();
  RequestAlign();
}

void TControl::ScaleBy(int multiplier, int divisor) {
  if (multiplier <= 0 || divisor <= 0 || multiplier == divisor) return;
  ChangeScale(multiplier, divisor);
}

void TControl::ChangeScale(int multiplier, int divisor) {
  SetBounds(MulDiv(left_, multiplier, divisor), MulDiv(top_, multiplier, divisor), MulDiv(width_, multiplier, divisor),
            MulDiv(height_, multiplier, divisor));
  if (!parentFont_) font_->SetHeight(MulDiv(font_->GetHeight(), multiplier, divisor));
}

void TWinControl::ChangeScale(int multiplier, int divisor) {
  DisableAlign();
  try {
    for (TControl* c : controls_) c->ChangeScale(multiplier, divisor);
    TControl::ChangeScale(multiplier, divisor);
  } catch (...) {
    EnableAlign();
    throw;
  }
  EnableAlign();
}

void TControl::SetAutoSize(bool v) {
  if (autoSize_ == v) return;
  autoSize_ = v;
  if (v) AdjustSize();
}

bool TControl::CanAutoSize(int&, int&) {
  return false;
}

void TControl::AdjustSize() {
  if (!autoSize_ || IsLoading()) return;
  SetBounds(left_, top_, width_, height_);
}

TBiDiMode TControl::GetBiDiMode() const {
  return parentBiDiMode_ && parent_ ? parent_->GetBiDiMode() : biDiMode_;
}

void TControl::SetBiDiMode(TBiDiMode v) {
  parentBiDiMode_ = false;
  if (biDiMode_ == v) return;
  biDiMode_ = v;
  Invalidate();
  Perform(CM_BIDIMODECHANGED);
}

void TControl::SetParentBiDiMode(bool v) {
  if (parentBiDiMode_ == v) return;
  const TBiDiMode old = GetBiDiMode();
  if (!v) biDiMode_ = old;  // keeps what it showed
  parentBiDiMode_ = v;
  if (GetBiDiMode() != old) {
    Invalidate();
    Perform(CM_BIDIMODECHANGED);
  }
}

UINT TControl::DrawTextBiDiModeFlags(UINT flags) const {
  if (UseRightToLeftAlignment()) {
    if (flags & DT_RIGHT)
      flags &= ~static_cast<UINT>(DT_RIGHT);
    else if (!(flags & DT_CENTER))
      flags |= DT_RIGHT;
  }
  if (UseRightToLeftReading()) flags |= DT_RTLREADING;
  return flags;
}

void TControl::SetAlign(TAlign v) {
  if (align_ == v) return;
  const bool was = align_ != alNone;
  align_ = v;
  if (was || v != alNone) {
    if (parent_) parent_->AlignFor(this);
  }
}

void TControl::RequestAlign() {
  if (align_ != alNone && parent_) parent_->AlignFor(this);
}

void TControl::Loaded() {
  inherited::Loaded();
  RequestAlign();
}

void TControl::SetVisible(bool v) {
  if (visible_ == v) return;
  VisibleChanging();
  visible_ = v;
  Invalidate();
  Perform(CM_VISIBLECHANGED, v);
  RequestAlign();
}

void TControl::SetEnabled(bool v) {
  if (enabled_ == v) return;
  enabled_ = v;
  Invalidate();
  Perform(CM_ENABLEDCHANGED);
}

void TControl::SetCursor(TCursor v) {
  cursor_ = v;
}

std::string TControl::GetText() const {
  auto* self = const_cast<TControl*>(this);
  if (auto* w = dynamic_cast<TWinControl*>(self); w && w->HandleAllocated()) {
    LRESULT len = self->Perform(WM_GETTEXTLENGTH);
    if (len <= 0) return {};
    std::string buf(static_cast<std::size_t>(len) + 1, '\0');
    LRESULT got = self->Perform(WM_GETTEXT, buf.size(), reinterpret_cast<LPARAM>(buf.data()));
    buf.resize(got < 0 ? 0 : std::min(static_cast<std::size_t>(got), static_cast<std::size_t>(len)));
    return buf;
  }
  return text_;
}

void TControl::SetText(const std::string& text) {
  if (GetText() == text) return;
  text_ = text;
  auto* w = dynamic_cast<TWinControl*>(this);
  if (w && w->HandleAllocated())
    Perform(WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text_.c_str()));
  else
    Invalidate();
  Perform(CM_TEXTCHANGED);
}

LRESULT TControl::Perform(UINT msg, WPARAM wp, LPARAM lp) {
  TMessage m{msg, wp, lp, 0};
  WindowProc(m);
  return m.Result;
}

void TControl::WndProc(TMessage& msg) {
  if ((msg.Msg == WM_LBUTTONDOWN || msg.Msg == WM_LBUTTONDBLCLK) && dragMode_ == dmAutomatic && dragKind_ == dkDrag &&
      !ComponentState().Contains(csDesigning)) {
    BeginDrag(false);
    return;
  }
  if (msg.Msg == WM_LBUTTONDOWN || msg.Msg == WM_LBUTTONDBLCLK) {
    if (ControlStyle.Contains(csClickEvents)) ControlState.Include(csClicked);
  } else if (msg.Msg == WM_LBUTTONUP) {
    if (ControlState.Contains(csClicked)) {
      ControlState.Exclude(csClicked);
      const int x = static_cast<short>(LOWORD(msg.LParam)), y = static_cast<short>(HIWORD(msg.LParam));
      if (x >= 0 && y >= 0 && x < width_ && y < height_) {
        Dispatch(msg);
        Click();
        return;
      }
    }
  }
  Dispatch(msg);
}

TShiftState MouseShiftState(WPARAM keys) {
  TShiftState s;
  if (keys & MK_SHIFT) s.Include(ssShift);
  if (keys & MK_CONTROL) s.Include(ssCtrl);
  if (keys & MK_LBUTTON) s.Include(ssLeft);
  if (keys & MK_RBUTTON) s.Include(ssRight);
  if (keys & MK_MBUTTON) s.Include(ssMiddle);
  if (GetKeyState(VK_MENU) < 0) s.Include(ssAlt);
  return s;
}

// --- The control drag ------------------------------------------------------------------------------

namespace {

// The one control drag of the program (main thread).
struct ControlDrag {
  TControl* control = nullptr;  // the dragged control
  TDragObject* object = nullptr;
  bool ownsObject = false;
  bool started = false;  // past the threshold
  POINT start{};
  int threshold = 0;
  TControl* target = nullptr;
  bool accepted = false;
  HWND window = nullptr;  // the window that holds the mouse
};
ControlDrag g_drag;

TWinControl* ControlAtScreen(POINT p) {
  for (HWND w = WindowFromPoint(p); w; w = GetParent(w))
    if (TWinControl* c = FindControl(w)) return c;
  return nullptr;
}

void DragTo(POINT p) {
  ControlDrag& d = g_drag;
  d.object->DragPos = p;
  if (!d.started) {
    if (std::abs(p.x - d.start.x) < d.threshold && std::abs(p.y - d.start.y) < d.threshold) return;
    d.started = true;
  }
  TDragRec rec{p, d.object, nullptr, false};
  TControl* target = nullptr;
  if (TWinControl* w = ControlAtScreen(p))
    target = reinterpret_cast<TControl*>(w->Perform(CM_DRAG, dmFindTarget, reinterpret_cast<LPARAM>(&rec)));
  if (target != d.target) {
    if (d.target) {
      rec.Target = d.target;
      d.target->Perform(CM_DRAG, dmDragLeave, reinterpret_cast<LPARAM>(&rec));
    }
    d.target = target;
    d.object->DragTarget = target;
    d.accepted = false;
    if (target) {
      rec.Target = target;
      target->Perform(CM_DRAG, dmDragEnter, reinterpret_cast<LPARAM>(&rec));
    }
  }
  if (d.target) {
    rec.Target = d.target;
    d.accepted = d.target->Perform(CM_DRAG, dmDragMove, reinterpret_cast<LPARAM>(&rec)) != 0;
  }
  ::SetCursor(ScreenCursorHandle(d.accepted ? d.control->GetDragCursor() : crNoDrop));
}

void ReleaseDragCapture(const ControlDrag& d) {
  if (d.window && GetCapture() == d.window) ReleaseCapture();
}

void DragDone(bool drop) {
  const ControlDrag d = g_drag;
  g_drag = ControlDrag{};
  if (!d.control) return;
  ReleaseDragCapture(d);
  TDragRec rec{d.object->DragPos, d.object, d.target, false};
  bool dropped = false;
  if (d.target) {
    if (drop && d.started && d.accepted) {
      d.target->Perform(CM_DRAG, dmDragDrop, reinterpret_cast<LPARAM>(&rec));
      dropped = true;
    } else {
      d.target->Perform(CM_DRAG, dmDragCancel, reinterpret_cast<LPARAM>(&rec));
    }
  }
  d.object->Dropped = dropped;
  const POINT client = d.control->ScreenToClient(d.object->DragPos);
  try {
    d.control->DoEndDrag(dropped ? d.target : nullptr, client.x, client.y);
  } catch (...) {
    if (d.ownsObject) d.object->Free();
    throw;
  }
  if (d.ownsObject) d.object->Free();
}

// The mouse and keys while a drag holds the mouse; true when the drag took the message.
bool HandleDragMessage(HWND window, TMessage& msg) {
  switch (msg.Msg) {
    case WM_MOUSEMOVE: {
      POINT p{static_cast<short>(LOWORD(msg.LParam)), static_cast<short>(HIWORD(msg.LParam))};
      ::ClientToScreen(window, &p);
      DragTo(p);
      return true;
    }
    case WM_LBUTTONUP:
    case WM_RBUTTONUP: {
      // A release before the threshold is an ordinary click: it goes on to the control.
      const bool started = g_drag.started;
      DragDone(true);
      return started;
    }
    case WM_KEYDOWN:
      if (msg.WParam != VK_ESCAPE) return false;
      DragDone(false);
      return true;
    case WM_CANCELMODE:
      DragDone(false);
      return false;
    case WM_CAPTURECHANGED:
      if (reinterpret_cast<HWND>(msg.LParam) != window) DragDone(false);
      return false;
    default:
      return false;
  }
}

}  // namespace

void ForgetDragControl(TControl* control) {
  if (g_drag.target == control) g_drag.target = nullptr;
  if (g_drag.object && g_drag.object->DragTarget == control) g_drag.object->DragTarget = nullptr;
  if (g_drag.control != control) return;
  // The dragged control goes: the drag ends without its events.
  const ControlDrag d = g_drag;
  g_drag = ControlDrag{};
  ReleaseDragCapture(d);
  if (d.ownsObject) d.object->Free();
}

bool DragMessageTaken(HWND window, TMessage& msg) {
  return g_drag.control && window && window == g_drag.window && HandleDragMessage(window, msg);
}

void TControl::BeginDrag(bool immediate, int threshold) {
  if (g_drag.control) return;  // one drag at a time
  auto* own = dynamic_cast<TWinControl*>(this);
  HWND window = own ? own->Handle() : (parent_ ? parent_->Handle() : nullptr);
  if (!window) return;
  TDragObject* object = nullptr;
  DoStartDrag(object);
  ControlDrag d;
  d.control = this;
  d.ownsObject = object == nullptr;
  d.object = object ? object : New<TDragObject>();
  d.object->Control = this;
  d.object->Dropped = false;
  GetCursorPos(&d.start);
  d.object->DragPos = d.start;
  d.threshold = threshold < 0 ? Mouse->DragThreshold : threshold;
  d.window = window;
  g_drag = d;
  SetCapture(window);
  if (immediate) {
    g_drag.threshold = 0;
    DragTo(d.start);
  }
}

void TControl::EndDrag(bool drop) {
  if (g_drag.control == this) DragDone(drop);
}

bool TControl::Dragging() const {
  return g_drag.control == this;
}

void TControl::DoStartDrag(TDragObject*& dragObject) {
  if (OnStartDrag) OnStartDrag(this, dragObject);
}

void TControl::DragOver(TObject* source, int x, int y, TDragState state, bool& accept) {
  accept = static_cast<bool>(OnDragOver);
  if (OnDragOver) OnDragOver(this, source, x, y, state, accept);
}

void TControl::DragDrop(TObject* source, int x, int y) {
  if (OnDragDrop) OnDragDrop(this, source, x, y);
}

void TControl::DoEndDrag(TObject* target, int x, int y) {
  if (OnEndDrag) OnEndDrag(this, target, x, y);
}

TControl* TControl::DragTargetAt(POINT) {
  return this;
}

TControl* TWinControl::DragTargetAt(POINT screen) {
  if (TControl* child = ControlAtPos(ScreenToClient(screen))) return child;
  return this;
}

TMouse::TMouse() {
  if (const int threshold = GetSystemMetrics(SM_CXDRAG); threshold > 0) DragThreshold = threshold;
}

namespace {
TMouse g_mouse;
}  // namespace
TMouse* const Mouse = &g_mouse;

TShiftState KeyboardShiftState() {
  TShiftState s;
  if (GetKeyState(VK_SHIFT) < 0) s.Include(ssShift);
  if (GetKeyState(VK_CONTROL) < 0) s.Include(ssCtrl);
  if (GetKeyState(VK_MENU) < 0) s.Include(ssAlt);
  return s;
}

void TControl::DblClick() {
  if (OnDblClick) OnDblClick(this);
}

bool TControl::GetMouseCapture() const {
  if (auto* w = dynamic_cast<const TWinControl*>(this)) return w->handle_ && GetCapture() == w->handle_;
  return parent_ && parent_->mouseCapture_ == this && parent_->handle_ && GetCapture() == parent_->handle_;
}

void TControl::SetMouseCapture(bool value) {
  if (value == GetMouseCapture()) return;
  auto* w = dynamic_cast<TWinControl*>(this);
  HWND window = w ? w->handle_ : (parent_ ? parent_->Handle() : nullptr);
  if (!window) return;
  if (value) {
    if (!w) parent_->mouseCapture_ = this;
    SetCapture(window);
  } else {
    if (!w) parent_->mouseCapture_ = nullptr;
    if (GetCapture() == window) ReleaseCapture();
  }
}

void TControl::MouseDown(TMouseButton button, TShiftState shift, int x, int y) {
  if (OnMouseDown) OnMouseDown(this, button, shift, x, y);
}
void TControl::MouseUp(TMouseButton button, TShiftState shift, int x, int y) {
  if (OnMouseUp) OnMouseUp(this, button, shift, x, y);
}
void TControl::MouseMove(TShiftState shift, int x, int y) {
  if (OnMouseMove) OnMouseMove(this, shift, x, y);
}
void TControl::MouseEnter() {
  if (OnMouseEnter) OnMouseEnter(this);
}
void TControl::MouseLeave() {
  if (OnMouseLeave) OnMouseLeave(this);
}

void TControl::Dispatch(TMessage& msg) {
  const int x = static_cast<short>(LOWORD(msg.LParam)), y = static_cast<short>(HIWORD(msg.LParam));
  switch (msg.Msg) {
    case WM_MOUSEMOVE:
      MouseMove(MouseShiftState(msg.WParam), x, y);
      break;
    case WM_LBUTTONDOWN:
      MouseDown(mbLeft, MouseShiftState(msg.WParam), x, y);
      break;
    case WM_LBUTTONDBLCLK:
      if (ControlStyle.Contains(csClickEvents)) DblClick();
      MouseDown(mbLeft, MouseShiftState(msg.WParam), x, y);
      break;
    case WM_RBUTTONDOWN:
    case WM_RBUTTONDBLCLK:
      MouseDown(mbRight, MouseShiftState(msg.WParam), x, y);
      break;
    case WM_MBUTTONDOWN:
    case WM_MBUTTONDBLCLK:
      MouseDown(mbMiddle, MouseShiftState(msg.WParam), x, y);
      break;
    case WM_LBUTTONUP:
      MouseUp(mbLeft, MouseShiftState(msg.WParam), x, y);
      break;
    case WM_RBUTTONUP:
      MouseUp(mbRight, MouseShiftState(msg.WParam), x, y);
      break;
    case WM_MBUTTONUP:
      MouseUp(mbMiddle, MouseShiftState(msg.WParam), x, y);
      break;
    case CM_MOUSEENTER:
      MouseEnter();
      break;
    case CM_DRAG: {
      auto* rec = reinterpret_cast<TDragRec*>(msg.LParam);
      if (!rec || rec->Docking) break;
      const POINT p = ScreenToClient(rec->Pos);
      TObject* source = rec->Source && rec->Source->Control ? static_cast<TObject*>(rec->Source->Control) : rec->Source;
      msg.Result = 0;
      switch (msg.WParam) {
        case dmFindTarget:
          msg.Result = reinterpret_cast<LRESULT>(DragTargetAt(rec->Pos));
          break;
        case dmDragEnter:
        case dmDragLeave:
        case dmDragMove: {
          bool accept = false;
          DragOver(source, p.x, p.y, static_cast<TDragState>(msg.WParam), accept);
          msg.Result = accept ? 1 : 0;
          break;
        }
        case dmDragDrop:
          DragDrop(source, p.x, p.y);
          break;
        default:
          break;
      }
      return;
    }
    case CM_MOUSELEAVE:
      MouseLeave();
      break;
    default:
      break;
  }
  DefaultHandler(msg);
}

void TControl::DefaultHandler(TMessage& msg) {
  switch (msg.Msg) {
    case WM_GETTEXTLENGTH:
      msg.Result = static_cast<LRESULT>(text_.size());
      break;
    case WM_GETTEXT: {
      auto* buf = reinterpret_cast<char*>(msg.LParam);
      const std::size_t cap = msg.WParam;
      if (!buf || cap == 0) {
        msg.Result = 0;
        break;
      }
      const std::size_t n = std::min(cap - 1, text_.size());
      text_.copy(buf, n);
      buf[n] = '\0';
      msg.Result = static_cast<LRESULT>(n);
      break;
    }
    case WM_SETTEXT:
      text_ = msg.LParam ? reinterpret_cast<const char*>(msg.LParam) : "";
      msg.Result = TRUE;
      break;
    default:
      msg.Result = 0;
  }
}

void TControl::Invalidate() {
  if (parent_ && parent_->HandleAllocated() && visible_) {
    RECT r = BoundsRect();
    // An opaque control covers its area: the parent need not erase it first.
    InvalidateRect(parent_->WindowHandle(), &r, ControlStyle.Contains(csOpaque) ? FALSE : TRUE);
  }
}

void TControl::Update() {
  if (parent_) parent_->Update();
}

void TControl::Repaint() {
  Invalidate();
  Update();
}

POINT TControl::ClientToScreen(POINT p) const {
  if (auto* w = dynamic_cast<const TWinControl*>(this); w && w->HandleAllocated()) {
    ::ClientToScreen(w->WindowHandle(), &p);
    return p;
  }
  p.x += left_;
  p.y += top_;
  return parent_ ? parent_->ClientToScreen(p) : p;
}

POINT TControl::ScreenToClient(POINT p) const {
  if (auto* w = dynamic_cast<const TWinControl*>(this); w && w->HandleAllocated()) {
    ::ScreenToClient(w->WindowHandle(), &p);
    return p;
  }
  if (parent_) p = parent_->ScreenToClient(p);
  p.x -= left_;
  p.y -= top_;
  return p;
}

void TControl::Click() {
  // A handler of its own (not the action's) runs instead of the action.
  if (OnClick && actionLink_ && actionLink_->Action() && !(OnClick == actionLink_->Action()->GetOnExecute()))
    OnClick(this);
  else if (actionLink_ && actionLink_->Action() && !ComponentState().Contains(csDesigning))
    actionLink_->Execute(this);
  else if (OnClick)
    OnClick(this);
}

// --- Actions -----------------------------------------------------------------------------------

TBasicAction* TControl::GetAction() const {
  return actionLink_ ? actionLink_->Action() : nullptr;
}

void TControl::SetAction(TBasicAction* value) {
  if (!value) {
    FreeAndNil(actionLink_);
    return;
  }
  if (!actionLink_) actionLink_ = As<TControlActionLink>(CreateActionLink(GetActionLinkClass(), this));
  actionLink_->SetAction(value);
  actionLink_->OnChange = TNotifyEvent::Bind<&TControl::DoActionChange>(this);
  ActionChange(value, value->ComponentState().Contains(csLoading));
  value->FreeNotification(this);
}

TBasicActionLinkClass TControl::GetActionLinkClass() {
  return &TControlActionLink::StaticClass();
}

void TControl::DoActionChange(TObject* sender) {
  if (actionLink_ && sender == actionLink_->Action()) ActionChange(sender, false);
}

void TControl::ActionChange(TObject* sender, bool checkDefaults) {
  auto* action = dynamic_cast<TCustomAction*>(sender);
  if (!action) return;
  if (!checkDefaults || GetCaption().empty() || GetCaption() == Name()) SetCaption(action->GetCaption());
  if (!checkDefaults || GetEnabled()) SetEnabled(action->GetEnabled());
  if (!checkDefaults || GetHint().empty()) SetHint(action->GetHint());
  if (!checkDefaults || GetVisible()) SetVisible(action->GetVisible());
  if (!checkDefaults || !OnClick) OnClick = action->GetOnExecute();
}

void TControl::InitiateAction() {
  if (actionLink_) actionLink_->Update();
}

bool TControl::ExecuteAction(TBasicAction* action) {
  if (!action || !action->HandlesTarget(this)) return false;
  action->ExecuteTarget(this);
  return true;
}

bool TControl::UpdateAction(TBasicAction* action) {
  if (!action || !action->HandlesTarget(this)) return false;
  action->UpdateTarget(this);
  return true;
}

void TControl::Notification(TComponent* component, TOperation operation) {
  inherited::Notification(component, operation);
  if (operation == opRemove && component && component == GetAction()) SetAction(nullptr);
}

TBasicActionLinkClass TWinControl::GetActionLinkClass() {
  return &TWinControlActionLink::StaticClass();
}

void TWinControl::ActionChange(TObject* sender, bool checkDefaults) {
  inherited::ActionChange(sender, checkDefaults);
  if (auto* action = dynamic_cast<TCustomAction*>(sender))
    if (!checkDefaults || GetHelpContext() == 0) SetHelpContext(action->GetHelpContext());
}

void TControlActionLink::AssignClient(TObject* client) {
  client_ = As<TControl>(client);
}

bool TControlActionLink::IsCaptionLinked() {
  return inherited::IsCaptionLinked() && client_->GetCaption() == CustomAction()->GetCaption();
}
bool TControlActionLink::IsEnabledLinked() {
  return inherited::IsEnabledLinked() && client_->GetEnabled() == CustomAction()->GetEnabled();
}
bool TControlActionLink::IsHintLinked() {
  return inherited::IsHintLinked() && client_->GetHint() == CustomAction()->GetHint();
}
bool TControlActionLink::IsVisibleLinked() {
  return inherited::IsVisibleLinked() && client_->GetVisible() == CustomAction()->GetVisible();
}
bool TControlActionLink::IsOnExecuteLinked() {
  return action_ && client_->OnClick == action_->GetOnExecute();
}
void TControlActionLink::SetCaption(const std::string& value) {
  if (IsCaptionLinked()) client_->SetCaption(value);
}
void TControlActionLink::SetEnabled(bool value) {
  if (IsEnabledLinked()) client_->SetEnabled(value);
}
void TControlActionLink::SetHint(const std::string& value) {
  if (IsHintLinked()) client_->SetHint(value);
}
void TControlActionLink::SetVisible(bool value) {
  if (IsVisibleLinked()) client_->SetVisible(value);
}
void TControlActionLink::SetOnExecute(const TNotifyEvent& value) {
  if (IsOnExecuteLinked()) client_->OnClick = value;
}

bool TWinControlActionLink::IsHelpContextLinked() {
  return inherited::IsHelpContextLinked() && client_->GetHelpContext() == CustomAction()->GetHelpContext();
}
void TWinControlActionLink::SetHelpContext(int value) {
  if (IsHelpContextLinked()) client_->SetHelpContext(value);
}

// --- TWinControl -------------------------------------------------------------------------------

TWinControl::TWinControl(TComponent* owner) : TControl(owner) {
  objectInstance_ = MakeObjectInstance(TWndMethod::Bind<&TWinControl::MainWndProc>(this));
}

void TWinControl::Destroy() {
  DestroyHandle();
  // A parent frees its children, whoever owns them.
  while (!controls_.empty()) {
    TControl* c = controls_.back();
    RemoveControl(c);
    c->Free();
  }
  inherited::Destroy();
  FreeObjectInstance(objectInstance_);
  objectInstance_ = nullptr;
}

HWND TWinControl::Handle() {
  if (!handle_) CreateHandle();
  return handle_;
}

void TWinControl::InsertControl(TControl* control) {
  if (control->parent_) control->parent_->RemoveControl(control);
  controls_.push_back(control);
  control->parent_ = this;
  control->TakeParentFont();
  control->TakeParentColor();
  if (control->align_ != alNone) AlignFor(control);
  if (auto* w = dynamic_cast<TWinControl*>(control)) {
    tabList_.push_back(w);
    if (handle_) w->UpdateShowing();
  } else {
    control->Invalidate();
  }
}

void TWinControl::RemoveControl(TControl* control) {
  auto it = std::find(controls_.begin(), controls_.end(), control);
  if (it == controls_.end()) return;
  // The remaining controls close the gap, also when the removal fails half way.
  const bool aligned = control->align_ != alNone;
  const auto realign = [this, aligned] {
    if (aligned && !ComponentState().Contains(csDestroying)) AlignFor(nullptr);
  };
  TScopeExit realignOnError([&realign]() noexcept {
    try {
      realign();
    } catch (...) {
      SwallowException("TWinControl.RemoveControl: realigning while an earlier error unwinds");
    }
  });
  if (mouseCapture_ == control) mouseCapture_ = nullptr;
  control->Invalidate();
  controls_.erase(it);
  if (auto* w = dynamic_cast<TWinControl*>(control)) {
    tabList_.erase(std::remove(tabList_.begin(), tabList_.end(), w), tabList_.end());
    w->DestroyHandle();
  }
  control->parent_ = nullptr;
  realignOnError.Release();
  realign();  // an error of the realignment itself reaches the caller
}

int TWinControl::GetTabOrder() const {
  if (!Parent()) return -1;
  const auto& list = Parent()->tabList_;
  auto it = std::find(list.begin(), list.end(), this);
  return it == list.end() ? -1 : static_cast<int>(it - list.begin());
}

void TWinControl::SetTabOrder(int v) {
  if (!Parent()) return;
  auto& list = Parent()->tabList_;
  auto it = std::find(list.begin(), list.end(), this);
  if (it == list.end()) return;
  list.erase(it);
  if (v < 0 || v > static_cast<int>(list.size())) v = static_cast<int>(list.size());
  list.insert(list.begin() + v, this);
}

std::vector<TWinControl*> TWinControl::TabList() const {
  return tabList_;
}

bool TWinControl::CanFocus() const {
  for (const TControl* c = this; c; c = c->Parent())
    if (!c->GetVisible() || !c->GetEnabled()) return false;
  return true;
}

void TWinControl::SetFocus() {
  if (!CanFocus()) throw EInvalidOperation("Cannot focus a disabled or invisible window");
  ::SetFocus(Handle());
}

bool TWinControl::Focused() const {
  return handle_ && GetFocus() == handle_;
}

void TWinControl::SetBounds(int left, int top, int width, int height) {
  const int oldWidth = GetWidth(), oldHeight = GetHeight();
  TControl::SetBounds(left, top, width, height);
  if (handle_)
    SetWindowPos(handle_, nullptr, GetLeft(), GetTop(), GetWidth(), GetHeight(), SWP_NOZORDER | SWP_NOACTIVATE);
  if (GetWidth() != oldWidth || GetHeight() != oldHeight) Realign();
}

// --- Alignment ---------------------------------------------------------------------------------

void TWinControl::AlignFor(TControl* control) {
  if (aligning_) return;  // the placing under way sets these bounds
  if (alignDisabled_ > 0 || IsLoading() || ComponentState().Contains(csDestroying)) {
    ControlState.Include(csAlignmentNeeded);
    return;
  }
  ControlState.Exclude(csAlignmentNeeded);
  RECT r = ClientRect();
  AdjustClientRect(r);
  AlignControls(control, r);
}

void TWinControl::Realign() {
  AlignFor(nullptr);
}

void TWinControl::EnableAlign() {
  if (alignDisabled_ > 0 && --alignDisabled_ == 0 && ControlState.Contains(csAlignmentNeeded)) Realign();
}

void TWinControl::Loaded() {
  inherited::Loaded();
  Realign();
}

void TWinControl::AdjustClientRect(RECT&) {}

void TWinControl::AlignControls(TControl* control, RECT& rect) {
  aligning_ = true;
  TScopeExit reset([this]() noexcept { aligning_ = false; });
  for (TAlign align : {alTop, alBottom, alLeft, alRight, alClient}) {
    std::vector<TControl*> list;
    for (TControl* c : controls_)
      if (c->align_ == align && c->GetVisible()) list.push_back(c);
    if (list.empty()) continue;
    // Docked controls stack in the order of their positions; the one that
    // asked goes first among equals, so moving it moves it in the stack.
    auto key = [align](const TControl* c) {
      switch (align) {
        case alTop:
          return c->top_;
        case alBottom:
          return -(c->top_ + c->height_);
        case alLeft:
          return c->left_;
        case alRight:
          return -(c->left_ + c->width_);
        default:
          return 0;
      }
    };
    std::stable_sort(list.begin(), list.end(), [&](const TControl* a, const TControl* b) {
      return key(a) < key(b) || (key(a) == key(b) && a == control && b != control);
    });
    for (TControl* c : list) {
      const int width = std::max(0, static_cast<int>(rect.right - rect.left));
      const int height = std::max(0, static_cast<int>(rect.bottom - rect.top));
      switch (align) {
        case alTop: {
          c->SetBounds(rect.left, rect.top, width, c->height_);
          rect.top += std::min(c->height_, height);
          break;
        }
        case alBottom: {
          int h = c->height_;
          if (int w = width; c->autoSize_) c->CanAutoSize(w, h);
          c->SetBounds(rect.left, rect.bottom - h, width, h);
          rect.bottom -= std::min(c->height_, height);
          break;
        }
        case alLeft: {
          c->SetBounds(rect.left, rect.top, c->width_, height);
          rect.left += std::min(c->width_, width);  // after SetBounds: auto-sizing may change the width
          break;
        }
        case alRight: {
          int w = c->width_;
          if (int h = height; c->autoSize_) c->CanAutoSize(w, h);
          c->SetBounds(rect.right - w, rect.top, w, height);
          rect.right -= std::min(c->width_, width);
          break;
        }
        default:
          c->SetBounds(rect.left, rect.top, width, height);
          break;
      }
    }
  }
}

void TWinControl::SetVisible(bool v) {
  TControl::SetVisible(v);
  UpdateShowing();
}

void TWinControl::SetEnabled(bool v) {
  TControl::SetEnabled(v);
  if (handle_) EnableWindow(handle_, v);
}

RECT TWinControl::ClientRect() const {
  RECT r{0, 0, GetWidth(), GetHeight()};
  if (handle_) GetClientRect(handle_, &r);
  return r;
}

void TWinControl::Invalidate() {
  if (handle_) InvalidateRect(handle_, nullptr, TRUE);
}

void TWinControl::Update() {
  if (handle_) UpdateWindow(handle_);
}

void TWinControl::UpdateShowing() {
  // A child's window exists while its parent's does; it is shown when Visible.
  const bool parentReady = Parent() ? Parent()->HandleAllocated() : true;
  if (!parentReady) return;
  if (GetVisible() || handle_) {
    HWND h = Handle();
    ShowWindow(h, GetVisible() ? (Parent() ? SW_SHOWNOACTIVATE : SW_SHOW) : SW_HIDE);
  }
}

void TWinControl::CreateParams(TCreateParams& params) {
  params = TCreateParams{};
  params.Caption = text_.c_str();
  params.Style = WS_CHILD | WS_CLIPSIBLINGS;
  if (GetTabStop()) params.Style |= WS_TABSTOP;
  if (!GetEnabled()) params.Style |= WS_DISABLED;
  params.X = GetLeft();
  params.Y = GetTop();
  params.Width = GetWidth();
  params.Height = GetHeight();
  if (Parent())
    params.WndParent = Parent()->Handle();
  else
    params.WndParent = parentWindow_;
  params.WindowClass.style = CS_VREDRAW | CS_HREDRAW | CS_DBLCLKS;
  params.WindowClass.lpfnWndProc = &DefWindowProcA;
  params.WindowClass.hCursor = LoadCursorA(nullptr, reinterpret_cast<LPCSTR>(IDC_ARROW));
  params.WindowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
  params.WindowClass.hInstance = MainHInstance();
  std::snprintf(params.WinClassName, sizeof params.WinClassName, "%s", ClassName());
}

void TWinControl::CreateSubClass(TCreateParams& params, const char* className) {
  WNDCLASSA wc;
  if (GetClassInfoA(nullptr, className, &wc)) {
    params.WindowClass = wc;
    params.WindowClass.hInstance = MainHInstance();
    // The class names of the system are ASCII.
    wchar_t wideName[64] = {};
    for (std::size_t i = 0; className[i] && i + 1 < std::size(wideName); ++i)
      wideName[i] = static_cast<unsigned char>(className[i]);
    WNDCLASSW wcw;
    params.WideWindowProc = GetClassInfoW(nullptr, wideName, &wcw) ? wcw.lpfnWndProc : nullptr;
  }
}

void TWinControl::CreateWnd() {
  TCreateParams params;
  CreateParams(params);
  if ((params.Style & WS_CHILD) && !params.WndParent)
    throw EInvalidOperation(Format("Control '%s' has no parent window", Name()));
  DefWndProc = params.WindowClass.lpfnWndProc;
  defWndProcA_ = DefWndProc;
  defWndProcW_ = DefWndProc == &DefWindowProcA ? &DefWindowProcW : params.WideWindowProc;
  textCodePage_ = 0;  // the creation text goes the system's road
  WNDCLASSA existing;
  if (!GetClassInfoA(MainHInstance(), params.WinClassName, &existing) || existing.lpfnWndProc != &InitWndProc) {
    if (existing.lpfnWndProc && existing.lpfnWndProc != &InitWndProc)
      UnregisterClassA(params.WinClassName, MainHInstance());
    WNDCLASSA wc = params.WindowClass;
    wc.lpfnWndProc = &InitWndProc;
    wc.hInstance = MainHInstance();
    wc.lpszClassName = params.WinClassName;
    if (!RegisterClassA(&wc)) throw EOutOfResources("Cannot register window class " + std::string(params.WinClassName));
  }
  t_creationControl = this;
  try {
    CreateWindowHandle(params);
  } catch (...) {
    t_creationControl = nullptr;
    throw;
  }
  t_creationControl = nullptr;
  if (!handle_) {
    const unsigned err = GetLastError();
    throw EOSError("Error creating window: " + SysErrorMessage(err), err);
  }
}

void TWinControl::CreateWindowHandle(const TCreateParams& params) {
  HWND h = CreateWindowExA(params.ExStyle, params.WinClassName, params.Caption, params.Style, params.X, params.Y,
                           params.Width, params.Height, params.WndParent, nullptr, MainHInstance(), params.Param);
  if (h && !handle_) handle_ = h;
}

void TWinControl::CreateHandle() {
  if (handle_) return;
  CreateWnd();
  SendMessageA(handle_, WM_SETFONT, reinterpret_cast<WPARAM>(GetFont()->Handle()), 0);
  UpdateTextCodePage();
  RECT r;
  GetWindowRect(handle_, &r);
  if (Parent()) MapWindowPoints(nullptr, Parent()->handle_, reinterpret_cast<POINT*>(&r), 2);
  TControl::SetBounds(r.left, r.top, r.right - r.left, r.bottom - r.top);
  Realign();  // the client area is known now
  for (TWinControl* w : tabList_) w->UpdateShowing();
  HWND prev = HWND_TOP;
  for (TWinControl* w : tabList_)  // z-order follows the tab order
    if (w->handle_) {
      SetWindowPos(w->handle_, prev, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
      prev = w->handle_;
    }
}

void TWinControl::DestroyWnd() {
  text_ = GetText();
  DestroyWindowHandle();
}

void TWinControl::DestroyWindowHandle() {
  ControlState.Include(csDestroyingHandle);
  if (handle_) DestroyWindow(handle_);
  ControlState.Exclude(csDestroyingHandle);
  handle_ = nullptr;
}

void TWinControl::DestroyHandle() {
  if (!handle_) return;
  for (TWinControl* w : tabList_) w->DestroyHandle();
  DestroyWnd();
}

void TWinControl::RecreateWnd() {
  if (!handle_) return;
  DestroyHandle();
  UpdateShowing();
}

void TWinControl::FontChanged() {
  if (handle_) {
    SendMessageA(handle_, WM_SETFONT, reinterpret_cast<WPARAM>(GetFont()->Handle()), TRUE);
    UpdateTextCodePage();
  }
  TControl::FontChanged();
  for (TControl* c : controls_) c->TakeParentFont();
}

void TWinControl::MainWndProc(TMessage& msg) {
  try {
    WindowProc(msg);
  } catch (...) {
    HandleCallbackException(std::current_exception());
  }
}

void TWinControl::GetChildren(const Method<void(TComponent*)>& proc, TComponent* root) {
  for (TControl* c : controls_)
    if (c->Owner() == root) proc(c);
}

TControl* TWinControl::ControlAtPos(POINT p, bool allowDisabled) const {
  for (auto it = controls_.rbegin(); it != controls_.rend(); ++it) {
    TControl* c = *it;
    if (dynamic_cast<TWinControl*>(c) || !c->GetVisible() || (!allowDisabled && !c->GetEnabled())) continue;
    const RECT r = c->BoundsRect();
    if (PtInRect(&r, p)) return c;
  }
  return nullptr;
}

void TWinControl::WndProc(TMessage& msg) {
  if (DragMessageTaken(handle_, msg)) return;
  // The control under the mouse: a graphic child or this one. The window asks
  // to be told when the mouse leaves it.
  if (msg.Msg == WM_MOUSEMOVE && handle_) {
    POINT p{static_cast<short>(LOWORD(msg.LParam)), static_cast<short>(HIWORD(msg.LParam))};
    TControl* over = mouseCapture_ ? mouseCapture_ : ControlAtPos(p);
    if (!trackingLeave_) {
      TRACKMOUSEEVENT track{sizeof(TRACKMOUSEEVENT), TME_LEAVE, handle_, 0};
      trackingLeave_ = TrackMouseEvent(&track) != 0;
    }
    SetMouseControl(over ? over : this);
    if (ComponentState().Contains(csDestroying)) return;
  } else if (msg.Msg == WM_MOUSELEAVE) {
    trackingLeave_ = false;
    // Only when the mouse control is still this window's (it may be over a child window by now).
    if (TControl* c = MouseControl(); c == this || (c && c->Parent() == this && !dynamic_cast<TWinControl*>(c)))
      SetMouseControl(nullptr);
  }
  // Mouse messages over a graphic child go to that child (in its coordinates);
  // the child that got a button press keeps the mouse until the release.
  if (msg.Msg >= WM_MOUSEFIRST && msg.Msg <= WM_MBUTTONDBLCLK && msg.Msg != WM_MOUSEWHEEL) {
    POINT p{static_cast<short>(LOWORD(msg.LParam)), static_cast<short>(HIWORD(msg.LParam))};
    TControl* target = mouseCapture_ ? mouseCapture_ : ControlAtPos(p);
    if (target) {
      if (msg.Msg == WM_LBUTTONDOWN || msg.Msg == WM_RBUTTONDOWN || msg.Msg == WM_MBUTTONDOWN) {
        mouseCapture_ = target;
        if (handle_) SetCapture(handle_);
      }
      const bool release = msg.Msg == WM_LBUTTONUP || msg.Msg == WM_RBUTTONUP || msg.Msg == WM_MBUTTONUP;
      if (release) {
        mouseCapture_ = nullptr;
        if (handle_ && GetCapture() == handle_) ReleaseCapture();
      }
      msg.Result = target->Perform(msg.Msg, msg.WParam, MAKELPARAM(p.x - target->GetLeft(), p.y - target->GetTop()));
      return;
    }
  }
  if (msg.Msg == WM_CAPTURECHANGED) mouseCapture_ = nullptr;
  TControl::WndProc(msg);
}

void TWinControl::Dispatch(TMessage& msg) {
  switch (msg.Msg) {
    case WM_COMMAND:
    case WM_NOTIFY: {
      HWND from = msg.Msg == WM_COMMAND ? reinterpret_cast<HWND>(msg.LParam)
                                        : (msg.LParam ? reinterpret_cast<NMHDR*>(msg.LParam)->hwndFrom : nullptr);
      TWinControl* child = from && from != handle_ ? FindControl(from) : nullptr;
      if (child) {
        msg.Result = child->Perform(CN_BASE + msg.Msg, msg.WParam, msg.LParam);
        return;
      }
      break;
    }
    case WM_HELP: {
      int ctx = FindHelpContext(this);
      if (ctx != 0) {
        extern void ApplicationHelpContext(int context);
        ApplicationHelpContext(ctx);
        msg.Result = TRUE;
        return;
      }
      if (Parent()) {
        msg.Result = 0;  // the system passes WM_HELP on to the parent
        break;
      }
      msg.Result = TRUE;
      return;
    }
    case WM_SETCURSOR:
      if (HCURSOR forced = ForcedCursor()) {
        ::SetCursor(forced);
        msg.Result = TRUE;
        return;
      }
      if (LOWORD(msg.LParam) == HTCLIENT && reinterpret_cast<HWND>(msg.WParam) == handle_) {
        // The graphic child under the mouse may have its own cursor.
        POINT p;
        GetCursorPos(&p);
        ::ScreenToClient(handle_, &p);
        if (TControl* c = ControlAtPos(p); c && c->GetCursor() != crDefault) {
          ::SetCursor(ScreenCursorHandle(c->GetCursor()));
          msg.Result = TRUE;
          return;
        }
      }
      if (LOWORD(msg.LParam) == HTCLIENT && reinterpret_cast<HWND>(msg.WParam) == handle_ && GetCursor() != crDefault) {
        ::SetCursor(ScreenCursorHandle(GetCursor()));
        msg.Result = TRUE;
        return;
      }
      break;
    case WM_PAINT:
      if (!controls_.empty() && controls_.size() != tabList_.size()) {
        DefaultHandler(msg);  // the window paints itself, then the graphic children on top
        HDC dc = GetDC(handle_);
        PaintControls(dc);
        ReleaseDC(handle_, dc);
        return;
      }
      break;
    case WM_WINDOWPOSCHANGED: {
      // The window moved or changed size (say the user resized a form): the bounds follow it.
      DefaultHandler(msg);
      const auto* pos = reinterpret_cast<const WINDOWPOS*>(msg.LParam);
      if (IsIconic(handle_)) return;  // a minimized form keeps the bounds it is restored to
      if (pos && !(pos->flags & SWP_NOSIZE) && (pos->cx != GetWidth() || pos->cy != GetHeight()))
        SetBounds(pos->flags & SWP_NOMOVE ? GetLeft() : pos->x, pos->flags & SWP_NOMOVE ? GetTop() : pos->y, pos->cx,
                  pos->cy);
      else if (pos && !(pos->flags & SWP_NOMOVE))
        TControl::SetBounds(pos->x, pos->y, GetWidth(), GetHeight());
      return;
    }
    case WM_KEYDOWN:
    case WM_SYSKEYDOWN:
    case WM_KEYUP:
    case WM_SYSKEYUP: {
      std::uint16_t key = static_cast<std::uint16_t>(msg.WParam);
      if (msg.Msg == WM_KEYDOWN || msg.Msg == WM_SYSKEYDOWN)
        KeyDown(key, KeyboardShiftState());
      else
        KeyUp(key, KeyboardShiftState());
      msg.WParam = key;
      if (key == 0) {
        msg.Result = 0;
        return;  // a handler took the key
      }
      break;
    }
    case WM_CHAR:
      if (msg.WParam != 0 && msg.WParam < 0x100) {
        char ch = static_cast<char>(msg.WParam);
        KeyPress(ch);
        msg.WParam = static_cast<unsigned char>(ch);
        if (ch == 0) {
          msg.Result = 0;
          return;
        }
      }
      break;
    case WM_MOUSEWHEEL: {
      // The system gives the wheel to the focus window: its control, then
      // each parent in turn, may take it; else the window's default handling.
      for (TWinControl* c = this; c; c = c->Parent()) {
        if (c->Perform(CM_MOUSEWHEEL, msg.WParam, msg.LParam) != 0) {
          msg.Result = 0;
          return;
        }
      }
      break;
    }
    case WM_SYSCOLORCHANGE:
    case CM_SYSCOLORCHANGE:
      NotifyControls(CM_SYSCOLORCHANGE);
      if (msg.Msg == CM_SYSCOLORCHANGE) return;
      break;
    case WM_NCDESTROY:
      DefaultHandler(msg);
      RemovePropA(handle_, MAKEINTATOM(ControlAtom()));
      RemovePropA(handle_, MAKEINTATOM(WindowAtom()));
      handle_ = nullptr;
      return;
    default:
      break;
  }
  TControl::Dispatch(msg);
}

void TWinControl::KeyDown(std::uint16_t& key, TShiftState shift) {
  if (OnKeyDown) OnKeyDown(this, key, shift);
}

void TWinControl::KeyUp(std::uint16_t& key, TShiftState shift) {
  if (OnKeyUp) OnKeyUp(this, key, shift);
}

void TWinControl::KeyPress(char& key) {
  if (OnKeyPress) OnKeyPress(this, key);
}

void TWinControl::NotifyControls(UINT msg) {
  // A copy: a handler may add or remove children.
  const std::vector<TControl*> children = controls_;
  for (TControl* c : children) c->Perform(msg);
}

void TWinControl::SetCtl3D(bool v) {
  parentCtl3D_ = false;
  if (v == ctl3D_) return;
  ctl3D_ = v;
  Perform(CM_CTL3DCHANGED);
}

UINT CharsetCodePage(std::uint8_t charset) {
  const UINT codePage = CodePageOfCharset(charset);
  return codePage && IsValidCodePage(codePage) ? codePage : CP_ACP;
}

UINT TWinControl::TextCodePage() const {
  const UINT codePage = ForeignTextCodePage(GetFont()->GetCharset(), GetACP(), Win32Platform == VER_PLATFORM_WIN32_NT);
  return codePage && IsValidCodePage(codePage) ? codePage : 0;
}

bool TWinControl::HasWideTextRoad() const {
  // Only while the window's default procedure is the one it was made with: a
  // procedure put in its place later is given the system's road.
  return handle_ && defWndProcW_ && DefWndProc == defWndProcA_ && !unicodeWindow_;
}

void TWinControl::PutWideTextFront() {
  if (wideFront_ || !handle_) return;
  // The procedure before it, as the wide calls see it: called with them, the
  // system converts for the ANSI procedure behind.
  const LONG_PTR behind = SetWindowLongPtrW(handle_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&WideTextFrontProc));
  SetPropW(handle_, kWideFrontProp, reinterpret_cast<HANDLE>(behind));
  wideFront_ = true;
}

bool TWinControl::WideFrontText(UINT msg, WPARAM wp, LPARAM lp, LRESULT& result) {
  if (!textCodePage_ || !HasWideTextRoad()) return false;
  result = CallWindowProcW(defWndProcW_, handle_, msg, wp, lp);
  return true;
}

std::u16string TWinControl::WideWindowText() const {
  const LRESULT length = CallWindowProcW(defWndProcW_, handle_, WM_GETTEXTLENGTH, 0, 0);
  if (length <= 0) return {};
  std::u16string text(static_cast<std::size_t>(length) + 1, u'\0');
  const LRESULT got =
      CallWindowProcW(defWndProcW_, handle_, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()));
  text.resize(got < 0 ? 0 : std::min(static_cast<std::size_t>(got), static_cast<std::size_t>(length)));
  return text;
}

void TWinControl::SetWideWindowText(TMessage& msg, UINT codePage) {
  const std::u16string wide = CodePageToWide(codePage, msg.LParam ? reinterpret_cast<const char*>(msg.LParam) : "");
  PutWideTextFront();
  msg.Result = CallWindowProcW(defWndProcW_, handle_, WM_SETTEXT, msg.WParam, reinterpret_cast<LPARAM>(wide.c_str()));
  textCodePage_ = codePage;
}

void TWinControl::GetWideWindowText(TMessage& msg) const {
  const std::string ansi = WideToCodePage(textCodePage_, WideWindowText());
  if (msg.Msg == WM_GETTEXTLENGTH) {
    msg.Result = static_cast<LRESULT>(ansi.size());
    return;
  }
  auto* buffer = reinterpret_cast<char*>(msg.LParam);
  const std::size_t capacity = msg.WParam;
  if (!buffer || capacity == 0) {
    msg.Result = 0;
    return;
  }
  // What fits, never half a double-byte character.
  std::size_t n = 0;
  while (n < ansi.size()) {
    const std::size_t step = IsDBCSLeadByteEx(textCodePage_, static_cast<BYTE>(ansi[n])) && n + 1 < ansi.size() ? 2 : 1;
    if (n + step > capacity - 1) break;
    n += step;
  }
  ansi.copy(buffer, n);
  buffer[n] = '\0';
  msg.Result = static_cast<LRESULT>(n);
}

void TWinControl::UpdateTextCodePage() {
  if (!HasWideTextRoad()) return;
  const UINT codePage = TextCodePage();
  if (codePage == textCodePage_) return;
  // The text as the window holds it, read in the code page it was given in.
  // Given through the system's, it is the control's own ANSI text when that
  // widens to it (its bytes are then exact, whatever the system's code page
  // makes of them on the way back).
  std::string text = GetText();
  if (textCodePage_ == 0) {
    if (CodePageToWide(CP_ACP, text_) == WideWindowText()) text = text_;
  }
  TMessage set{WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()), 0};
  if (codePage) {
    SetWideWindowText(set, codePage);
  } else {
    CallWindowProcA(DefWndProc, handle_, WM_SETTEXT, 0, set.LParam);
    textCodePage_ = 0;
  }
}

void TWinControl::DefaultHandler(TMessage& msg) {
  if (handle_ && DefWndProc && (msg.Msg == WM_SETTEXT || msg.Msg == WM_GETTEXT || msg.Msg == WM_GETTEXTLENGTH) &&
      HasWideTextRoad()) {
    if (msg.Msg == WM_SETTEXT) {
      if (const UINT codePage = TextCodePage()) {
        SetWideWindowText(msg, codePage);
        return;
      }
      textCodePage_ = 0;
    } else if (textCodePage_) {
      GetWideWindowText(msg);
      return;
    }
  }
  if (handle_ && DefWndProc)
    msg.Result = unicodeWindow_ ? CallWindowProcW(DefWndProc, handle_, msg.Msg, msg.WParam, msg.LParam)
                                : CallWindowProcA(DefWndProc, handle_, msg.Msg, msg.WParam, msg.LParam);
  else
    TControl::DefaultHandler(msg);
}

void TWinControl::PaintWindow(HDC dc) {
  TMessage m{WM_PAINT, reinterpret_cast<WPARAM>(dc), 0, 0};
  DefaultHandler(m);
}

void TWinControl::PaintControls(HDC dc) {
  for (TControl* c : controls_) {
    auto* g = dynamic_cast<TGraphicControl*>(c);
    if (!g || !g->GetVisible()) continue;
    const int saved = SaveDC(dc);
    SetWindowOrgEx(dc, -g->GetLeft(), -g->GetTop(), nullptr);
    IntersectClipRect(dc, 0, 0, g->GetWidth(), g->GetHeight());
    g->Perform(WM_PAINT, reinterpret_cast<WPARAM>(dc));
    RestoreDC(dc, saved);
  }
}

// --- TGraphicControl ---------------------------------------------------------------------------

TGraphicControl::TGraphicControl(TComponent* owner) : TControl(owner), canvas_(New<TCanvas>()) {}

void TGraphicControl::Destroy() {
  FreeAndNil(canvas_);
  inherited::Destroy();
}

void TGraphicControl::Paint(HDC) {}

void TGraphicControl::Dispatch(TMessage& msg) {
  if (msg.Msg == WM_PAINT && msg.WParam) {
    HDC dc = reinterpret_cast<HDC>(msg.WParam);
    canvas_->Lock();
    HDC outer = canvas_->HandleAllocated() ? canvas_->Handle() : nullptr;  // a nested paint into another context
    canvas_->SetHandle(dc);
    TScopeExit detach([this, outer]() noexcept {
      canvas_->SetHandle(outer);
      canvas_->Unlock();
    });
    Paint(dc);
    msg.Result = 0;
    return;
  }
  TControl::Dispatch(msg);
}

// --- TCustomControl ----------------------------------------------------------------------------

TCustomControl::TCustomControl(TComponent* owner) : TWinControl(owner) {}

void TCustomControl::Paint(HDC dc) {
  RECT r = ClientRect();
  FillRectColor(dc, r, GetColor());
}

void TCustomControl::PaintWindow(HDC dc) {
  Paint(dc);
}

void TCustomControl::Dispatch(TMessage& msg) {
  if (msg.Msg == WM_PAINT) {
    PAINTSTRUCT ps;
    HDC dc = msg.WParam ? reinterpret_cast<HDC>(msg.WParam) : BeginPaint(WindowHandle(), &ps);
    Paint(dc);
    PaintControls(dc);
    if (!msg.WParam) EndPaint(WindowHandle(), &ps);
    msg.Result = 0;
    return;
  }
  if (msg.Msg == WM_ERASEBKGND) {
    msg.Result = 1;  // Paint fills the background
    return;
  }
  inherited::Dispatch(msg);
}

TControl* FindDragTarget(POINT screenPos, bool allowDisabled) {
  HWND wnd = WindowFromPoint(screenPos);
  TWinControl* control = nullptr;
  while (wnd && !(control = FindControl(wnd))) wnd = GetParent(wnd);
  if (!control) return nullptr;
  POINT p = screenPos;
  ::ScreenToClient(control->WindowHandle(), &p);
  if (TControl* child = control->ControlAtPos(p, allowDisabled)) return child;
  return control;
}
