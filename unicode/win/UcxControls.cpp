#include "UcxControls.h"

#include <algorithm>
#include <exception>
#include <vector>

#include "Scope.h"
#include "Swallow.h"
#include "UcxGraphics.h"
#include "UcxSysUtils.h"
#include "UcxWindows.h"
#include "Win32Platform.h"
#include "WndProc.h"

namespace {

TWinControl* g_unicodeCreationControl = nullptr;
THintInfo* g_hintMarker = nullptr;  // the last hint PrepareWideHint marked
bool g_finalized = false;

constexpr char16_t kUnicodeClassSuffix[] = u".UnicodeClass";

LPCWSTR W(const WideString& s) {
  return reinterpret_cast<LPCWSTR>(s.c_str());
}

WideString ReadWindowTextW(HWND wnd) {
  const int length = GetWindowTextLengthW(wnd);
  if (length <= 0) return {};
  WideString buffer(static_cast<std::size_t>(length) + 1, u'\0');
  const int got = GetWindowTextW(wnd, reinterpret_cast<LPWSTR>(buffer.data()), length + 1);
  buffer.resize(static_cast<std::size_t>(std::clamp(got, 0, length)));
  return buffer;
}

// Subclasses one control's Unicode window; kept (parked) while the control
// has no window, freed with the control.
class TWinControlTrap : public TComponent {
  FW_CLASS(TWinControlTrap, TComponent)
 public:
  explicit TWinControlTrap(TWinControl* control);
  void Destroy() override;
  TWinControl* Control() const { return control_; }
  void SubClass();

 protected:
  void Notification(TComponent* component, TOperation operation) override;

 private:
  void Win32Proc(TMessage& msg);
  void TrapWindowProc(TMessage& msg);
  void DefaultProc(TMessage& msg);
  void UnSubClass();
  LRESULT PassOn(const TMessage& msg) const {
    return CallWindowProcW(oldDefWndProc_, wnd_, msg.Msg, msg.WParam, msg.LParam);
  }

  WNDPROC win32Instance_ = nullptr;
  WNDPROC defaultInstance_ = nullptr;
  TWinControl* control_;
  HWND wnd_ = nullptr;
  WNDPROC oldWndProc_ = nullptr;
  WNDPROC oldDefWndProc_ = nullptr;
  TWndMethod oldWindowProc_;
  UINT lastMsg_ = 0;
  int depth_ = 0;
  bool freePending_ = false;
  bool inChain_ = false;  // the trap's method is somewhere in the control's WindowProc chain
};

std::vector<TWinControlTrap*>& Traps() {
  static auto* traps = new std::vector<TWinControlTrap*>;
  return *traps;
}

TWinControlTrap* FindOrCreateWinControlTrap(TWinControl* control) {
  for (TWinControlTrap* t : Traps())
    if (t->Control() == control) return t;
  auto* trap = New<TWinControlTrap>(control);
  Traps().push_back(trap);
  return trap;
}

}  // namespace

FW_IMPLEMENT_CLASS(TWinControlTrap)

TWinControlTrap::TWinControlTrap(TWinControl* control) : TComponent(nullptr), control_(control) {
  win32Instance_ = MakeObjectInstance(TWndMethod::Bind<&TWinControlTrap::Win32Proc>(this));
  defaultInstance_ = MakeObjectInstance(TWndMethod::Bind<&TWinControlTrap::DefaultProc>(this));
  control_->FreeNotification(this);
}

void TWinControlTrap::Destroy() {
  auto& traps = Traps();
  traps.erase(std::remove(traps.begin(), traps.end(), this), traps.end());
  if (control_ && wnd_) UnSubClass();
  inherited::Destroy();
  FreeObjectInstance(win32Instance_);
  FreeObjectInstance(defaultInstance_);
}

void TWinControlTrap::Notification(TComponent* component, TOperation operation) {
  inherited::Notification(component, operation);
  if (operation != opRemove || component != control_) return;
  auto& traps = Traps();
  traps.erase(std::remove(traps.begin(), traps.end(), this), traps.end());
  if (wnd_) UnSubClass();
  control_ = nullptr;
  if (depth_ > 0)
    freePending_ = true;  // freed when the message that is running returns
  else
    Free();
}

void TWinControlTrap::SubClass() {
  wnd_ = control_->WindowHandle();
  oldWndProc_ = reinterpret_cast<WNDPROC>(GetWindowLongPtrW(wnd_, GWLP_WNDPROC));
  oldDefWndProc_ = control_->DefWndProc;
  SetWindowLongPtrW(wnd_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(win32Instance_));
  control_->DefWndProc = defaultInstance_;
  if (!inChain_) {
    oldWindowProc_ = control_->WindowProc;
    control_->WindowProc = TWndMethod::Bind<&TWinControlTrap::TrapWindowProc>(this);
    inChain_ = true;
  }
}

void TWinControlTrap::UnSubClass() {
  if (!control_->ComponentState().Contains(csDestroying)) {
    // The text outlives the window: wide in the holder, and as the control's
    // own ANSI text, which the framework creates the next window with. Set
    // without the window, which is going away.
    const WideString text = ReadWindowTextW(wnd_);
    FindWideCaptionHolder(control_, true)->Caption = text;
    const std::string ansi = NarrowToAnsi(text);
    TMessage set{WM_SETTEXT, 0, reinterpret_cast<LPARAM>(ansi.c_str()), 0};
    control_->TControl::DefaultHandler(set);
  }
  // Someone who subclassed the control after the trap keeps the trap in the
  // chain; it then passes every message on unchanged while there is no window.
  if (control_->WindowProc == TWndMethod::Bind<&TWinControlTrap::TrapWindowProc>(this)) {
    control_->WindowProc = oldWindowProc_;
    inChain_ = false;
  }
  control_->DefWndProc = oldDefWndProc_;
  if (reinterpret_cast<WNDPROC>(GetWindowLongPtrW(wnd_, GWLP_WNDPROC)) == win32Instance_)
    SetWindowLongPtrW(wnd_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(oldWndProc_));
  wnd_ = nullptr;
}

void TWinControlTrap::Win32Proc(TMessage& msg) {
  HWND wnd = wnd_;
  WNDPROC previous = oldWndProc_;
  if (g_finalized || !control_) {
    if (previous) msg.Result = CallWindowProcW(previous, wnd, msg.Msg, msg.WParam, msg.LParam);
    return;
  }
  ++depth_;
  lastMsg_ = msg.Msg;
  try {
    msg.Result = CallWindowProcW(previous, wnd, msg.Msg, msg.WParam, msg.LParam);
  } catch (...) {
    --depth_;
    throw;
  }
  if (--depth_ == 0 && freePending_) Free();
}

void TWinControlTrap::TrapWindowProc(TMessage& msg) {
  if (!wnd_ || !control_ || !control_->HandleAllocated()) {
    oldWindowProc_(msg);
    return;
  }
  const UINT recorded = lastMsg_;
  lastMsg_ = 0;
  if (msg.Msg == CM_HINTSHOW) PrepareWideHint(reinterpret_cast<THintInfo*>(msg.LParam));
  const bool textMessage = msg.Msg == WM_SETTEXT || msg.Msg == WM_GETTEXT || msg.Msg == WM_GETTEXTLENGTH;
  if (recorded != 0 || !textMessage) {
    if (msg.Msg == WM_CHAR) msg.WParam = PackWideCharParam(msg.WParam);
    oldWindowProc_(msg);
    return;
  }
  // Raised by the framework with ANSI text: the system converts for the Unicode window.
  msg.Result = SendMessageA(wnd_, msg.Msg, msg.WParam, msg.LParam);
}

void TWinControlTrap::DefaultProc(TMessage& msg) {
  switch (msg.Msg) {
    case WM_NOTIFYFORMAT: {
      HWND other = reinterpret_cast<HWND>(msg.WParam);
      const bool unicode =
          IsUnicodePlatform && other &&
          (IsWindowUnicode(other) || (g_unicodeCreationControl && g_unicodeCreationControl->WindowHandle() == other));
      msg.Result = unicode ? NFR_UNICODE : NFR_ANSI;
      return;
    }
    case WM_CHAR:
      msg.WParam = UnpackWideCharParam(msg.WParam);
      break;
    case WM_IME_CHAR:
      if (!IsXPOrLater) {
        msg.Result = SendMessageW(wnd_, WM_CHAR, msg.WParam, msg.LParam);
        return;
      }
      break;
    case WM_DESTROY: {
      const TMessage pass = msg;
      const WNDPROC def = oldDefWndProc_;
      HWND wnd = wnd_;
      UnSubClass();
      msg.Result = CallWindowProcW(def, wnd, pass.Msg, pass.WParam, pass.LParam);
      return;
    }
    default:
      break;
  }
  msg.Result = PassOn(msg);
}

WPARAM PackWideCharParam(WPARAM wp) {
  // Only the low word is a character: whatever came in the high word is dropped.
  const auto ch = static_cast<unsigned>(wp & 0xFFFFu);
  return ch >= 256 ? static_cast<WPARAM>((ch << 16) | 0xFFu) : static_cast<WPARAM>(ch);
}

WPARAM UnpackWideCharParam(WPARAM wp) {
  const auto low = static_cast<unsigned>(wp & 0xFFFFu);
  const auto high = static_cast<unsigned>((wp >> 16) & 0xFFFFu);
  return static_cast<WPARAM>(high != 0 && low == 0xFFu ? high : low);
}

// --- Wide caption and hint ---------------------------------------------------------------------

WideString WideControlGetText(TControl* control) {
  auto* w = dynamic_cast<TWinControl*>(control);
  if (!IsUnicodePlatform || (w && w->HandleAllocated() && !IsWindowUnicode(w->WindowHandle())))
    return WidenFromAnsi(control->GetText());
  if (w && w->HandleAllocated()) return ReadWindowTextW(w->WindowHandle());
  // Without a window (or for a control that has none) the holder keeps the wide text.
  if (TWideCaptionHolder* holder = FindWideCaptionHolder(control, false))
    return GetSyncedWideString(holder->Caption, control->GetText());
  return WidenFromAnsi(control->GetText());
}

void WideControlSetText(TControl* control, const WideString& text) {
  auto* w = dynamic_cast<TWinControl*>(control);
  if (!IsUnicodePlatform || (w && w->HandleAllocated() && !IsWindowUnicode(w->WindowHandle()))) {
    control->SetText(NarrowToAnsi(text));
  } else if (!w) {
    SetSyncedWideString(text, FindWideCaptionHolder(control, true)->Caption, control->GetText(),
                        [control](const std::string& s) { control->SetText(s); });
  } else if (w->HandleAllocated()) {
    if (text != WideControlGetText(control)) {
      SetWindowTextWide(w->WindowHandle(), text.c_str());
      control->Perform(CM_TEXTCHANGED);
    }
  } else {
    FindWideCaptionHolder(control, true)->Caption = text;
    control->SetText(NarrowToAnsi(text));
  }
}

WideString WideControlGetHint(TControl* control) {
  if (IsUnicodePlatform)
    if (TWideCaptionHolder* holder = FindWideCaptionHolder(control, false))
      return GetSyncedWideString(holder->Hint, control->GetHint());
  return WidenFromAnsi(control->GetHint());
}

void WideControlSetHint(TControl* control, const WideString& hint) {
  if (!IsUnicodePlatform) {
    control->SetHint(NarrowToAnsi(hint));
    return;
  }
  SetSyncedWideString(hint, FindWideCaptionHolder(control, true)->Hint, control->GetHint(),
                      [control](const std::string& s) { control->SetHint(s); });
}

WideString WideControlGetInheritedHint(TControl* control) {
  for (TControl* c = control; c; c = c->Parent()) {
    WideString hint = WideControlGetHint(c);
    if (!hint.empty()) return hint;
  }
  return {};
}

// --- Unicode windows ---------------------------------------------------------------------------

TWinControl* UnicodeCreationControl() {
  return g_unicodeCreationControl;
}

void RegisterUnicodeClass(const TCreateParams& params, WideString& wideClassName) {
  wideClassName = WidenFromAnsi(params.WinClassName) + kUnicodeClassSuffix;
  HINSTANCE module = MainHInstance();
  WNDCLASSW existing{};
  if (GetClassInfoW(module, W(wideClassName), &existing)) {
    if (existing.lpfnWndProc == &InitWndProc) return;
    CheckWin32Result(UnregisterClassW(W(wideClassName), module));
  }
  WNDCLASSW wc{};
  wc.style = params.WindowClass.style;
  wc.cbClsExtra = params.WindowClass.cbClsExtra;
  wc.cbWndExtra = params.WindowClass.cbWndExtra;
  wc.hIcon = params.WindowClass.hIcon;
  wc.hCursor = params.WindowClass.hCursor;
  wc.hbrBackground = params.WindowClass.hbrBackground;
  wc.hInstance = module;
  wc.lpfnWndProc = &InitWndProc;
  WideString menuName;
  if (params.WindowClass.lpszMenuName) {
    if (IsIntResourceValue(params.WindowClass.lpszMenuName)) {
      wc.lpszMenuName = reinterpret_cast<LPCWSTR>(params.WindowClass.lpszMenuName);
    } else {
      menuName = WidenFromAnsi(params.WindowClass.lpszMenuName);
      wc.lpszMenuName = W(menuName);
    }
  }
  wc.lpszClassName = W(wideClassName);
  CheckWin32Result(RegisterClassW(&wc));
}

void CreateUnicodeHandle(TWinControl* control, const TCreateParams& params, const char16_t* className) {
  if (!IsUnicodePlatform) {
    CreateWindowExA(params.ExStyle, params.WinClassName, params.Caption, params.Style, params.X, params.Y, params.Width,
                    params.Height, params.WndParent, nullptr, params.WindowClass.hInstance, params.Param);
    return;  // the framework binds the window and checks for failure
  }
  WNDCLASSW system{};
  if (className && GetClassInfoW(nullptr, reinterpret_cast<LPCWSTR>(className), &system))
    control->DefWndProc = system.lpfnWndProc;
  else
    control->DefWndProc = &DefWindowProcW;
  WideString wideClassName;
  RegisterUnicodeClass(params, wideClassName);
  g_unicodeCreationControl = control;
  HWND wnd = nullptr;
  try {
    wnd = CreateWindowExW(params.ExStyle, W(wideClassName), nullptr, params.Style, params.X, params.Y, params.Width,
                          params.Height, params.WndParent, nullptr, MainHInstance(), params.Param);
  } catch (...) {
    g_unicodeCreationControl = nullptr;
    throw;
  }
  g_unicodeCreationControl = nullptr;
  if (!wnd || control->WindowHandle() != wnd) RaiseLastWin32Failure();
  // A child window without an identifier takes its own handle as one.
  if ((params.Style & WS_CHILD) && GetWindowLongPtrW(wnd, GWLP_ID) == 0)
    SetWindowLongPtrW(wnd, GWLP_ID, reinterpret_cast<LONG_PTR>(wnd));
  SubClassUnicodeControl(control, params.Caption);
}

void SubClassUnicodeControl(TWinControl* control, const char* ansiCaption) {
  if (!control->HandleAllocated() || !IsWindowUnicode(control->WindowHandle()))
    throw EUcxInternalError("Internal Error: SubClassUnicodeControl.Control is not Unicode.");
  FindOrCreateWinControlTrap(control)->SubClass();
  // The holder's caption, unless the framework changed the ANSI caption while there was no window.
  const std::string ansi = ansiCaption ? ansiCaption : "";
  TWideCaptionHolder* holder = FindWideCaptionHolder(control, false);
  const WideString caption = holder ? GetSyncedWideString(holder->Caption, ansi) : WidenFromAnsi(ansi);
  WideControlSetText(control, caption);
}

void DoneUcxControls() noexcept {
  g_finalized = true;
  g_hintMarker = nullptr;
  auto& traps = Traps();
  while (!traps.empty()) {
    TWinControlTrap* trap = traps.back();
    traps.pop_back();
    try {
      trap->Free();
    } catch (...) {
      SwallowException("DoneUcxControls: freeing a window trap");
    }
  }
  FreeWideCaptionHolders();
}

// --- Wide hints --------------------------------------------------------------------------------

FW_IMPLEMENT_CLASS(TUcxCustomHintWindow)

void PrepareWideHint(THintInfo* info) {
  if (!IsUnicodePlatform || !info) return;
  if (info->HintWindowClass == &THintWindow::StaticClass())
    info->HintWindowClass = &TUcxCustomHintWindow::StaticClass();
  if (!info->HintWindowClass || !info->HintWindowClass->InheritsFrom(TUcxCustomHintWindow::StaticClass())) return;
  info->HintData = info;
  g_hintMarker = info;
  info->HintStr = NarrowToAnsi(WideGetShortHint(WideControlGetInheritedHint(info->HintControl)));
}

bool IsLayerHintMarker(void* data) {
  return data && data == g_hintMarker && g_hintMarker->HintData == data && g_hintMarker->HintWindowClass &&
         g_hintMarker->HintWindowClass->InheritsFrom(TUcxCustomHintWindow::StaticClass());
}

namespace {

// The wide text of a marked hint: the control's wide short hint when the ANSI
// hint still is its ANSI form, else the ANSI hint widened.
WideString MarkedHintText(const THintInfo& info) {
  if (!info.HintStr.empty() && info.HintControl) {
    const WideString shortHint = WideGetShortHint(WideControlGetInheritedHint(info.HintControl));
    if (NarrowToAnsi(shortHint) == info.HintStr) return shortHint;
  }
  return WidenFromAnsi(info.HintStr);
}

constexpr UINT kHintTextFlags = DT_NOPREFIX | DT_WORDBREAK;

}  // namespace

void TUcxCustomHintWindow::CreateParams(TCreateParams& params) {
  inherited::CreateParams(params);
  if (IsXPOrLater) params.WindowClass.style |= CS_DROPSHADOW;
}

void TUcxCustomHintWindow::CreateWindowHandle(const TCreateParams& params) {
  CreateUnicodeHandle(this, params, nullptr);
}

void TUcxCustomHintWindow::Paint(HDC dc) {
  if (!IsUnicodePlatform) {
    inherited::Paint(dc);
    return;
  }
  if (paintSuppressed_) return;
  RECT r = ClientRect();
  FillRectColor(dc, r, GetColor());
  r.left += 2;
  r.top += 2;
  SetBkMode(dc, TRANSPARENT);
  // The colour of the screen's hint font; right-to-left text in its reading order.
  SetTextColor(dc, ColorToRGB(Screen ? Screen->HintFont()->GetColor() : GetFont()->GetColor()));
  HGDIOBJ old = SelectObject(dc, GetFont()->Handle());
  const WideString text = WideControlGetText(this);
  DrawTextWide(dc, text.c_str(), static_cast<int>(text.size()), &r, ReadingFlags(kHintTextFlags));
  SelectObject(dc, old);
}

void TUcxCustomHintWindow::Dispatch(TMessage& msg) {
  if (msg.Msg == CM_TEXTCHANGED && !activating_) {
    HDC dc = GetDC(nullptr);
    const WideString text = WideControlGetText(this);
    SIZE size;
    WideCanvasTextExtent(dc, GetFont(), text, size);
    ReleaseDC(nullptr, dc);
    SetWidth(size.cx + 6);
    SetHeight(size.cy + 6);
  }
  inherited::Dispatch(msg);
}

void TUcxCustomHintWindow::ActivateHint(RECT rect, const std::string& text) {
  activating_ = true;
  TScopeExit reset([this]() noexcept { activating_ = false; });
  inherited::ActivateHint(rect, text);
}

void TUcxCustomHintWindow::ActivateHintData(RECT rect, const std::string& text, void* data) {
  if (!IsUnicodePlatform || !IsLayerHintMarker(data)) {
    inherited::ActivateHintData(rect, text, data);
    return;
  }
  const WideString wide = MarkedHintText(*static_cast<THintInfo*>(data));
  g_hintMarker = nullptr;  // used up: the record lives only while the hint is being shown
  paintSuppressed_ = true;
  activating_ = true;
  {
    TScopeExit reset([this]() noexcept {
      paintSuppressed_ = false;
      activating_ = false;
    });
    WideControlSetText(this, wide);
    THintWindow::ActivateHint(rect, text);
  }
  Invalidate();
}

RECT TUcxCustomHintWindow::CalcHintRect(int maxWidth, const std::string& text, void* data) {
  if (!IsUnicodePlatform || !IsLayerHintMarker(data)) return inherited::CalcHintRect(maxWidth, text, data);
  const WideString wide = MarkedHintText(*static_cast<THintInfo*>(data));
  RECT r{0, 0, maxWidth, 0};
  HDC dc = GetDC(nullptr);
  HGDIOBJ old = SelectObject(dc, GetFont()->Handle());
  DrawTextWide(dc, wide.c_str(), static_cast<int>(wide.size()), &r, DT_CALCRECT | ReadingFlags(kHintTextFlags));
  SelectObject(dc, old);
  ReleaseDC(nullptr, dc);
  r.right += 6;
  r.bottom += 2;
  return r;
}
