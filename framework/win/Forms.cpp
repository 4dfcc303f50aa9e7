#include "Forms.h"

#include <algorithm>

#include "ExtCtrls.h"
#include "Filer.h"
#include "ImgList.h"
#include "Menus.h"
#include "Modules.h"
#include "PumpingWait.h"
#include "ShortCuts.h"
#include "StdActns.h"
#include "StdCtrls.h"
#include "Streams.h"
#include "SysUtils.h"
#include "Thread.h"
#include "Win32Platform.h"

FW_BEGIN_CLASS(TCustomForm)
  FW_PROP(BorderIcons, GetBorderIcons, SetBorderIcons)
  FW_DEFAULT(7)
  FW_PROP(BorderStyle, GetBorderStyle, SetBorderStyle)
  FW_DEFAULT(bsSizeable)
  FW_PROP(Position, GetPosition, SetPosition)
  FW_DEFAULT(poDesigned)
  FW_PROP(WindowState, GetWindowState, SetWindowState)
  FW_DEFAULT(wsNormal)
  FW_PROP(KeyPreview, KeyPreview, KeyPreview)
  FW_DEFAULT(0)
  FW_PROP(OldCreateOrder, OldCreateOrder, OldCreateOrder)
  FW_PROP(Scaled, Scaled, Scaled)
  FW_DEFAULT(1)
  FW_PROP(PixelsPerInch, GetPixelsPerInch, SetPixelsPerInch)
  FW_PROP(TextHeight, TextHeight, TextHeight)
  FW_PROP(ClientWidth, GetClientWidth, SetClientWidth)
  FW_NOT_STORED
  FW_PROP(ClientHeight, GetClientHeight, SetClientHeight)
  FW_NOT_STORED
  FW_PROP(HelpFile, GetHelpFile, SetHelpFile)
  FW_PROP(Menu, GetMenu, SetMenu)
  FW_EVENT(OnCreate, OnCreate)
  FW_EVENT(OnShow, OnShow)
  FW_EVENT(OnDestroy, OnDestroy)
  FW_EVENT(OnClose, OnClose)
  FW_EVENT(OnCloseQuery, OnCloseQuery)
FW_END_CLASS
FW_IMPLEMENT_CLASS(TForm)
FW_IMPLEMENT_CLASS(TApplication)
FW_IMPLEMENT_CLASS(TScreen)
FW_IMPLEMENT_CLASS(THintWindow)
FW_IMPLEMENT_CLASS(TDataModule)
FW_IMPLEMENT_CLASS(TCustomFrame)

TApplication* Application = nullptr;
TScreen* Screen = nullptr;

void ApplicationHelpContext(int context) {
  if (Application) Application->HelpContext(context);
}

HCURSOR ScreenCursorHandle(TCursor cursor) {
  return Screen ? Screen->Cursors(cursor) : CursorHandle(cursor);
}

void MouseControlChanged(TControl* control) {
  if (Application) Application->HintMouseChanged(control);
}

void HintControlGoing(TControl* control) {
  if (Application) Application->HintControlGoing(control);
}

HCURSOR ForcedCursor() {
  if (!Screen || Screen->Cursor() == crDefault) return nullptr;
  return Screen->Cursors(Screen->Cursor());
}

void SetParentFormModalResult(TControl* control, int result) {
  if (TCustomForm* form = GetParentForm(control)) form->SetModalResult(result);
}

TCustomForm* GetParentForm(TControl* control) {
  if (!control) return nullptr;
  while (control->Parent()) control = control->Parent();
  return dynamic_cast<TCustomForm*>(control);
}

// --- TCustomForm -------------------------------------------------------------------------------

namespace {
thread_local bool t_skipResource = false;
}

void SkipNextFormResource() {
  t_skipResource = true;
}

bool InitInheritedComponent(TComponent* instance, const ClassInfo& stopClass) {
  std::vector<const ClassInfo*> chain;
  for (const ClassInfo* c = &instance->ClassType(); c && c != &stopClass; c = c->parent) chain.push_back(c);
  bool found = false;
  for (auto it = chain.rbegin(); it != chain.rend(); ++it) {
    const ClassInfo* cls = *it;
    ModuleHandle module = cls->module ? reinterpret_cast<ModuleHandle>(cls->module) : MainInstance();
    auto data = FindResourceData(FindResourceHInstance(module), rtRcData, UpperCase(cls->name));
    if (!data) continue;
    ReadComponentData(data->data(), data->size(), instance);
    found = true;
  }
  return found;
}

TCustomForm::TCustomForm(TComponent* owner) : TWinControl(owner) {
  createNew_ = t_skipResource;
  t_skipResource = false;
  TControl::SetVisible(false);
  SetBounds(0, 0, 320, 240);
  if (Screen) Screen->AddForm(this);
}

const ClassInfo& TCustomForm::InheritedResourceStop() const {
  return TForm::StaticClass();
}

void TCustomForm::AfterConstruction() {
  inherited::AfterConstruction();
  const ClassInfo& stop = InheritedResourceStop();
  if (!createNew_ && !ComponentState().Contains(csDesigning) && &ClassType() != &stop &&
      &ClassType() != &TForm::StaticClass() && &ClassType() != &TCustomForm::StaticClass()) {
    std::unique_lock<std::shared_mutex> lock(GlobalNameSpace());
    FormState.Include(fsCreating);
    try {
      if (!InitInheritedComponent(this, stop)) throw EResNotFound(Format("Resource %s not found", ClassName()));
    } catch (...) {
      FormState.Exclude(fsCreating);
      throw;
    }
    FormState.Exclude(fsCreating);
  }
  DoCreate();
}

void TCustomForm::ChangeScale(int multiplier, int divisor) {
  const int left = GetLeft(), top = GetTop();
  const int clientWidth = ClientWidth(), clientHeight = ClientHeight();
  DisableAlign();
  try {
    for (int i = 0; i < ControlCount(); ++i) Controls(i)->ScaleBy(multiplier, divisor);
    if (!GetParentFont()) GetFont()->SetHeight(MulDiv(GetFont()->GetHeight(), multiplier, divisor));
    SetLeft(left);
    SetTop(top);
    SetClientWidth(MulDiv(clientWidth, multiplier, divisor));
    SetClientHeight(MulDiv(clientHeight, multiplier, divisor));
  } catch (...) {
    EnableAlign();
    throw;
  }
  EnableAlign();
}

void TCustomForm::SetBiDiMode(TBiDiMode v) {
  if (v == GetBiDiMode()) return;
  inherited::SetBiDiMode(v);
  if (!HandleAllocated()) return;
  LONG_PTR ex = GetWindowLongPtrA(WindowHandle(), GWL_EXSTYLE);
  constexpr LONG_PTR rtl = WS_EX_RTLREADING | WS_EX_LAYOUTRTL;
  ex = v == bdRightToLeft ? (ex | rtl) : (ex & ~rtl);
  SetWindowLongPtrA(WindowHandle(), GWL_EXSTYLE, ex);
  InvalidateRect(WindowHandle(), nullptr, TRUE);
}

TDataModule::TDataModule(TComponent* owner) : TComponent(owner) {
  if (Screen) Screen->AddDataModule(this);
}

void TDataModule::Destroy() {
  if (Screen) Screen->RemoveDataModule(this);
  inherited::Destroy();
}

TCustomFrame::TCustomFrame(TComponent* owner) : TWinControl(owner) {
  ControlStyle.Include(csAcceptsControls);
  SetBounds(0, 0, 320, 240);
}

void TCustomForm::DoCreate() {
  if (OnCreate) OnCreate(this);
}

void TCustomForm::BeforeDestruction() {
  inherited::BeforeDestruction();
  if (OnDestroy) {
    try {
      OnDestroy(this);
    } catch (...) {
      if (Application) Application->HandleException(this);
    }
  }
}

void TCustomForm::Destroy() {
  if (Screen) {
    Screen->RemoveForm(this);
    if (Screen->ActiveForm() == this) Screen->SetActiveForm(nullptr);
  }
  if (Application && Application->MainForm() == this) Application->SetMainForm(nullptr);
  inherited::Destroy();
}

SIZE TCustomForm::FrameSize() const {
  TCreateParams params;
  const_cast<TCustomForm*>(this)->CreateParams(params);
  RECT r{0, 0, 0, 0};
  AdjustWindowRectEx(&r, params.Style, FALSE, params.ExStyle);
  return SIZE{r.right - r.left, r.bottom - r.top};
}

RECT TCustomForm::ClientRect() const {
  if (HandleAllocated()) return inherited::ClientRect();
  const SIZE frame = FrameSize();
  return RECT{0, 0, std::max(0, GetWidth() - static_cast<int>(frame.cx)),
              std::max(0, GetHeight() - static_cast<int>(frame.cy))};
}

void TCustomForm::ApplyClientSize() {
  // The window's size follows from the client size asked for and the frame of the style in force.
  if (HandleAllocated()) return;
  const SIZE frame = FrameSize();
  SetBounds(GetLeft(), GetTop(), clientWidth_ >= 0 ? clientWidth_ + static_cast<int>(frame.cx) : GetWidth(),
            clientHeight_ >= 0 ? clientHeight_ + static_cast<int>(frame.cy) : GetHeight());
}

void TCustomForm::SetClientWidth(int v) {
  if (HandleAllocated()) {
    SetWidth(GetWidth() - ClientWidth() + v);
  } else {
    clientWidth_ = v;
    ApplyClientSize();
  }
}

void TCustomForm::SetClientHeight(int v) {
  if (HandleAllocated()) {
    SetHeight(GetHeight() - ClientHeight() + v);
  } else {
    clientHeight_ = v;
    ApplyClientSize();
  }
}

void TCustomForm::SetBorderStyle(TFormBorderStyle v) {
  if (borderStyle_ == v) return;
  borderStyle_ = v;
  ApplyClientSize();
  RecreateWnd();
}

void TCustomForm::SetBorderIcons(TBorderIcons v) {
  if (borderIcons_ == v) return;
  borderIcons_ = v;
  ApplyClientSize();
  RecreateWnd();
}

TWindowState TCustomForm::GetWindowState() const {
  if (HandleAllocated()) {
    if (IsIconic(WindowHandle())) return wsMinimized;
    if (IsZoomed(WindowHandle())) return wsMaximized;
    return wsNormal;
  }
  return windowState_;
}

void TCustomForm::SetWindowState(TWindowState v) {
  windowState_ = v;
  if (HandleAllocated() && GetVisible())
    ShowWindow(WindowHandle(), v == wsMinimized ? SW_MINIMIZE : v == wsMaximized ? SW_MAXIMIZE : SW_RESTORE);
}

bool TCustomForm::Active() const {
  return WindowHandle() && GetActiveWindow() == WindowHandle();
}

void TCustomForm::SetActiveControl(TWinControl* control) {
  activeControl_ = control;
  if (control && HandleAllocated() && Active() && control->CanFocus()) control->SetFocus();
}

void TCustomForm::CreateParams(TCreateParams& params) {
  inherited::CreateParams(params);
  params.Style &= ~(WS_CHILD | WS_TABSTOP);
  params.Style |= WS_CLIPCHILDREN;
  params.WndParent = nullptr;
  if (GetBiDiMode() == bdRightToLeft) params.ExStyle |= WS_EX_RTLREADING | WS_EX_LAYOUTRTL;
  switch (borderStyle_) {
    case bsNone:
      params.Style |= WS_POPUP;
      break;
    case bsSingle:
      params.Style |= WS_CAPTION | WS_BORDER;
      break;
    case bsDialog:
      params.Style |= WS_POPUP | WS_CAPTION | DS_MODALFRAME;
      params.ExStyle |= WS_EX_DLGMODALFRAME | WS_EX_WINDOWEDGE;
      break;
    case bsToolWindow:
      params.Style |= WS_CAPTION;
      params.ExStyle |= WS_EX_TOOLWINDOW;
      break;
    case bsSizeToolWin:
      params.Style |= WS_CAPTION | WS_THICKFRAME;
      params.ExStyle |= WS_EX_TOOLWINDOW;
      break;
    default:
      params.Style |= WS_CAPTION | WS_THICKFRAME;
      break;
  }
  // The caption's buttons: a dialog has no minimize or maximize box, but may have a help button.
  if (borderStyle_ != bsNone && borderIcons_.Contains(biSystemMenu)) {
    params.Style |= WS_SYSMENU;
    if (borderStyle_ == bsSingle || borderStyle_ == bsSizeable) {
      if (borderIcons_.Contains(biMinimize)) params.Style |= WS_MINIMIZEBOX;
      if (borderIcons_.Contains(biMaximize)) params.Style |= WS_MAXIMIZEBOX;
    }
    if (borderIcons_.Contains(biHelp) &&
        (borderStyle_ == bsDialog || (!borderIcons_.Contains(biMinimize) && !borderIcons_.Contains(biMaximize))))
      params.ExStyle |= WS_EX_CONTEXTHELP;
  }
  if (position_ == poScreenCenter || position_ == poDesktopCenter || position_ == poMainFormCenter ||
      position_ == poOwnerFormCenter) {
    params.X = (GetSystemMetrics(SM_CXSCREEN) - params.Width) / 2;
    params.Y = (GetSystemMetrics(SM_CYSCREEN) - params.Height) / 2;
  } else if (position_ == poDefault || position_ == poDefaultPosOnly) {
    params.X = CW_USEDEFAULT;
    params.Y = CW_USEDEFAULT;
  }
}

void TCustomForm::CreateWnd() {
  inherited::CreateWnd();
  if (menu_) ::SetMenu(WindowHandle(), menu_->Handle());
}

void TCustomForm::SetMenu(TMainMenu* value) {
  if (value == menu_) return;
  if (menu_) {
    menu_->RemoveFreeNotification(this);
    menu_->SetForm(nullptr);
  }
  menu_ = value;
  if (menu_) {
    menu_->FreeNotification(this);
    menu_->SetForm(this);
  }
  if (HandleAllocated()) {
    ::SetMenu(WindowHandle(), menu_ ? menu_->Handle() : nullptr);
    DrawMenuBar(WindowHandle());
  }
}

void TCustomForm::Notification(TComponent* component, TOperation operation) {
  inherited::Notification(component, operation);
  if (operation == opRemove && component && component == menu_) {
    menu_ = nullptr;
    if (HandleAllocated() && !IsDestroying()) ::SetMenu(WindowHandle(), nullptr);
  }
}

void TCustomForm::Show() {
  SetVisible(true);
  if (HandleAllocated() && windowState_ != wsNormal) SetWindowState(windowState_);
  if (HandleAllocated()) {
    if (OnShow) OnShow(this);
  }
}

bool TCustomForm::CloseQuery() {
  bool canClose = true;
  if (OnCloseQuery) OnCloseQuery(this, canClose);
  return canClose;
}

void TCustomForm::DoClose(TCloseAction& action) {
  if (OnClose) OnClose(this, action);
}

void TCustomForm::Close() {
  if (FormState.Contains(fsModal)) {
    modalResult_ = mrCancel;  // the modal loop runs the close protocol
    return;
  }
  if (!CloseQuery()) return;
  TCloseAction action = caHide;
  DoClose(action);
  if (action == caNone) return;
  if (Application && Application->MainForm() == this) {
    Application->Terminate();
    return;
  }
  switch (action) {
    case caHide:
      Hide();
      break;
    case caMinimize:
      if (HandleAllocated()) ShowWindow(WindowHandle(), SW_MINIMIZE);
      break;
    default:
      Release();
      break;
  }
}

namespace {

// The thread's enabled, visible top-level windows (but `except`), disabled
// while a modal form runs and enabled again afterwards.
struct TaskWindows {
  HWND except;
  std::vector<HWND> disabled;
  static BOOL CALLBACK Disable(HWND wnd, LPARAM data) {
    auto* self = reinterpret_cast<TaskWindows*>(data);
    if (wnd == self->except || !IsWindowVisible(wnd) || !IsWindowEnabled(wnd)) return TRUE;
    try {
      self->disabled.push_back(wnd);  // recorded first, so it is enabled again whatever happens
    } catch (...) {
      return FALSE;  // out of memory: the rest stay enabled
    }
    EnableWindow(wnd, FALSE);
    return TRUE;
  }
  void DisableAll() { EnumThreadWindows(GetCurrentThreadId(), &TaskWindows::Disable, reinterpret_cast<LPARAM>(this)); }
  void EnableAll() {
    for (HWND wnd : disabled)
      if (IsWindow(wnd)) EnableWindow(wnd, TRUE);
    disabled.clear();
  }
};

}  // namespace

TModalResult TCustomForm::ShowModal() {
  if (GetVisible() || FormState.Contains(fsModal) || !GetEnabled())
    throw EInvalidOperation("Cannot make a visible window modal");
  if (!IsMainThread()) throw EInvalidOperation("A modal form runs on the main thread");
  if (GetCapture()) SendMessageA(GetCapture(), WM_CANCELMODE, 0, 0);
  ReleaseCapture();
  HWND previous = GetActiveWindow();
  FormState.Include(fsModal);
  modalResult_ = mrNone;
  TaskWindows others{nullptr, {}};
  // The form stays above the window it was called from.
  auto restore = [&] {
    others.EnableAll();
    FormState.Exclude(fsModal);
    if (previous && IsWindow(previous)) SetActiveWindow(previous);
  };
  try {
    HandleNeeded();
    if (previous && previous != WindowHandle())
      SetWindowLongPtrA(WindowHandle(), GWLP_HWNDPARENT, reinterpret_cast<LONG_PTR>(previous));
    others.except = WindowHandle();
    others.DisableAll();
    Show();
    SetActiveWindow(WindowHandle());
    for (;;) {
      try {
        Application->HandleMessage();
      } catch (...) {
        Application->HandleException(this);
      }
      if (Application->Terminated()) {
        modalResult_ = mrCancel;
        break;
      }
      if (modalResult_ != mrNone) {
        CloseModal();
        if (modalResult_ != mrNone) break;
      }
    }
  } catch (...) {
    restore();
    if (HandleAllocated()) Hide();
    throw;
  }
  const TModalResult result = modalResult_;
  restore();
  return result;
}

void TCustomForm::CloseModal() {
  TCloseAction action = caNone;
  if (CloseQuery()) {
    action = caHide;
    DoClose(action);
  }
  switch (action) {
    case caNone:
      modalResult_ = mrNone;
      return;
    case caFree:
      Hide();
      Release();
      return;
    default:
      Hide();
      return;
  }
}

void TCustomForm::Release() {
  if (HandleAllocated())
    PostMessageA(WindowHandle(), CM_RELEASE, 0, 0);
  else
    Free();
}

namespace {

void CollectTabStops(TWinControl* parent, std::vector<TWinControl*>& out) {
  for (TWinControl* w : [&] {
         std::vector<TWinControl*> list;
         for (int i = 0; i < parent->ControlCount(); ++i)
           if (auto* c = dynamic_cast<TWinControl*>(parent->Controls(i))) list.push_back(c);
         std::stable_sort(list.begin(), list.end(),
                          [](TWinControl* a, TWinControl* b) { return a->GetTabOrder() < b->GetTabOrder(); });
         return list;
       }()) {
    if (!w->GetVisible() || !w->GetEnabled()) continue;
    if (w->GetTabStop()) out.push_back(w);
    CollectTabStops(w, out);
  }
}

}  // namespace

void TCustomForm::SelectNext(bool forward) {
  std::vector<TWinControl*> stops;
  CollectTabStops(this, stops);
  if (stops.empty()) return;
  HWND focus = GetFocus();
  std::size_t at = stops.size();
  for (std::size_t i = 0; i < stops.size(); ++i)
    if (stops[i]->WindowHandle() == focus) at = i;
  std::size_t next;
  if (at == stops.size())
    next = forward ? 0 : stops.size() - 1;
  else
    next = forward ? (at + 1) % stops.size() : (at + stops.size() - 1) % stops.size();
  activeControl_ = stops[next];
  stops[next]->SetFocus();
}

bool TCustomForm::HandleDialogKey(MSG& msg) {
  if (msg.message != WM_KEYDOWN) return false;
  const WPARAM key = msg.wParam;
  // A window that asks for the key in its dialog code gets it: Tab with
  // DLGC_WANTTAB, Enter and Escape with DLGC_WANTALLKEYS.
  const LRESULT wanted = key == VK_TAB ? DLGC_WANTTAB : (key == VK_RETURN || key == VK_ESCAPE) ? DLGC_WANTALLKEYS : 0;
  if (wanted && msg.hwnd && (SendMessageA(msg.hwnd, WM_GETDLGCODE, 0, 0) & wanted)) return false;
  if (key == VK_TAB) {
    if (GetKeyState(VK_CONTROL) < 0) return false;
    SelectNext(GetKeyState(VK_SHIFT) >= 0);
    return true;
  }
  if (key == VK_RETURN || key == VK_ESCAPE) {
    // The focused control may want the key itself (a button takes Enter as its click).
    if (TWinControl* focused = FindControl(msg.hwnd))
      if (focused->Perform(CM_DIALOGKEY, key, msg.lParam) != 0) return true;
    std::vector<TWinControl*> all;
    std::vector<TWinControl*> pending{this};
    while (!pending.empty()) {
      TWinControl* w = pending.back();
      pending.pop_back();
      for (int i = 0; i < w->ControlCount(); ++i)
        if (auto* c = dynamic_cast<TWinControl*>(w->Controls(i))) {
          all.push_back(c);
          pending.push_back(c);
        }
    }
    for (TWinControl* w : all)
      if (w->GetVisible() && w->GetEnabled() && w->Perform(CM_DIALOGKEY, key, msg.lParam) != 0) return true;
  }
  return false;
}

void TCustomForm::GetChildren(const Method<void(TComponent*)>& proc, TComponent* root) {
  inherited::GetChildren(proc, root);
  if (root != this) return;
  for (int i = 0; i < ComponentCount(); ++i)
    if (!Components(i)->HasParent()) proc(Components(i));
}

bool TCustomForm::HandleDialogChar(MSG& msg) {
  // Alt+letter anywhere; a plain letter while a button has the focus.
  if (msg.message == WM_CHAR) {
    TWinControl* focused = FindControl(msg.hwnd);
    if (!dynamic_cast<TButtonControl*>(focused)) return false;
  } else if (msg.message != WM_SYSCHAR) {
    return false;
  }
  std::vector<TWinControl*> pending{this};
  while (!pending.empty()) {
    TWinControl* w = pending.back();
    pending.pop_back();
    if (!w->GetVisible() || !w->GetEnabled()) continue;
    if (w != this && w->Perform(CM_DIALOGCHAR, msg.wParam, msg.lParam) != 0) return true;
    for (int i = w->ControlCount() - 1; i >= 0; --i)
      if (auto* c = dynamic_cast<TWinControl*>(w->Controls(i))) pending.push_back(c);
  }
  return false;
}

bool TCustomForm::DispatchAction(UINT msg, TBasicAction* action) {
  auto process = [&](TControl* control) {
    if (!control) return false;
    return msg == CM_ACTIONEXECUTE ? control->ExecuteAction(action) : control->UpdateAction(action);
  };
  struct Walk {
    static bool Clients(TWinControl* container, const decltype(process)& p) {
      for (int i = 0; i < container->ControlCount(); ++i) {
        TControl* c = container->Controls(i);
        if (!c->GetVisible()) continue;
        if (p(c)) return true;
        if (auto* w = dynamic_cast<TWinControl*>(c); w && Clients(w, p)) return true;
      }
      return false;
    }
  };
  return process(activeControl_) || process(this) || Walk::Clients(this, process);
}

void TCustomForm::UpdateActions() {
  if (ComponentState().Contains(csDesigning)) return;
  InitiateAction();
  if (menu_) menu_->Items()->InitiateAction();
  struct Walk {
    static void Clients(TWinControl* container) {
      for (int i = 0; i < container->ControlCount(); ++i) {
        TControl* c = container->Controls(i);
        if (!c->GetVisible()) continue;
        c->InitiateAction();
        if (auto* w = dynamic_cast<TWinControl*>(c)) Clients(w);
      }
    }
  };
  Walk::Clients(this);
}

void TCustomForm::Dispatch(TMessage& msg) {
  switch (msg.Msg) {
    case CM_ACTIONEXECUTE:
    case CM_ACTIONUPDATE:
      msg.Result = DispatchAction(msg.Msg, reinterpret_cast<TBasicAction*>(msg.LParam)) ? 1 : 0;
      return;
    case WM_COMMAND:
      if (msg.LParam == 0 && HIWORD(msg.WParam) == 0 && menu_ && menu_->DispatchCommand(LOWORD(msg.WParam))) {
        msg.Result = 0;
        return;
      }
      break;
    case WM_INITMENUPOPUP:
      if (menu_) menu_->DispatchPopup(reinterpret_cast<HMENU>(msg.WParam));
      break;
    case WM_MENUSELECT:
      if (menu_) {
        const UINT flags = HIWORD(msg.WParam);
        TMenuItem* item = nullptr;
        if (!(flags == 0xFFFF && msg.LParam == 0)) {
          if (flags & MF_POPUP) {
            HMENU sub = GetSubMenu(reinterpret_cast<HMENU>(msg.LParam), LOWORD(msg.WParam));
            if (sub)
              item = menu_->FindItem(static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(sub)), fkHandle);
          } else {
            item = menu_->FindItem(LOWORD(msg.WParam), fkCommand);
          }
        }
        if (Application) Application->SetHint(item ? GetLongHint(item->GetHint()) : std::string());
        msg.Result = 0;
        return;
      }
      break;
    case WM_MEASUREITEM:
    case WM_DRAWITEM: {
      const bool isMenu = msg.Msg == WM_MEASUREITEM
                              ? reinterpret_cast<MEASUREITEMSTRUCT*>(msg.LParam)->CtlType == ODT_MENU
                              : reinterpret_cast<DRAWITEMSTRUCT*>(msg.LParam)->CtlType == ODT_MENU;
      if (isMenu && menu_) {
        const UINT id = msg.Msg == WM_MEASUREITEM ? reinterpret_cast<MEASUREITEMSTRUCT*>(msg.LParam)->itemID
                                                  : reinterpret_cast<DRAWITEMSTRUCT*>(msg.LParam)->itemID;
        if (TMenuItem* item = menu_->FindItem(id, fkCommand)) {
          HandleMenuOwnerDraw(item, msg);
          return;
        }
      }
      break;
    }
    case WM_CLOSE:
      Close();
      msg.Result = 0;
      return;
    case CM_RELEASE:
      Free();
      return;
    case WM_ERASEBKGND:
      if (msg.WParam && GetColor() != clBtnFace) {  // the window class paints clBtnFace itself
        FillRectColor(reinterpret_cast<HDC>(msg.WParam), ClientRect(), GetColor());
        msg.Result = 1;
        return;
      }
      break;
    case WM_ACTIVATE:
      if (LOWORD(msg.WParam) != WA_INACTIVE) {
        if (Screen) Screen->SetActiveForm(this);
        if (activeControl_ && activeControl_->CanFocus()) {
          activeControl_->SetFocus();
          msg.Result = 0;
          return;
        }
      }
      break;
    case WM_SETFOCUS:
      if (activeControl_ && activeControl_->CanFocus() && activeControl_ != this) {
        activeControl_->SetFocus();
        return;
      }
      break;
    default:
      break;
  }
  inherited::Dispatch(msg);
}

// --- TApplication ------------------------------------------------------------------------------

THandleExceptionProc HandleExceptionHook = &DefaultHandleException;
TShowExceptionProc ShowExceptionHook = &DefaultShowException;

void DefaultHandleException(TApplication* app, TObject* sender, std::exception_ptr error) {
  if (!error) return;
  try {
    std::rethrow_exception(error);
  } catch (const EAbort&) {
    return;
  } catch (const Exception& e) {
    if (app->OnException) {
      app->OnException(sender, e);
      return;
    }
  } catch (const std::exception& e) {
    if (app->OnException) {
      app->OnException(sender, Exception(e.what()));
      return;
    }
  } catch (...) {
    if (app->OnException) {
      app->OnException(sender, Exception("Unknown exception"));
      return;
    }
  }
  app->ShowException(error);
}

void DefaultShowException(TApplication* app, std::exception_ptr error) {
  char text[2048];
  const char* msg = ExceptionMessage(error, text, sizeof text);
  if (!*msg) return;
  std::string title = app ? app->Title() : std::string();
  MessageBoxA(nullptr, msg, title.c_str(), MB_OK | MB_ICONSTOP | MB_TASKMODAL);
}

namespace {

void RouteCallbackException(std::exception_ptr error) {
  if (Application)
    Application->HandleException(nullptr, error);
  else
    DefaultShowException(nullptr, error);
}

void RouteMessage(MSG& msg) {
  if (Application)
    Application->DispatchOne(msg);
  else {
    TranslateMessage(&msg);
    DispatchMessageA(&msg);
  }
}

void RouteQuit(int) {
  if (Application) Application->Terminate();
}

}  // namespace

// --- Hints -------------------------------------------------------------------------------------

THintWindow::THintWindow(TComponent* owner) : TCustomControl(owner) {
  TControl::SetVisible(false);
  SetColor(Application ? Application->HintColor : clInfoBk);
  GetFont()->SetColor(clInfoText);
}

TFont* THintWindow::TextFont() const {
  return Screen ? Screen->HintFont() : GetFont();
}

void THintWindow::CreateParams(TCreateParams& params) {
  inherited::CreateParams(params);
  params.Style = WS_POPUP | WS_BORDER;
  params.ExStyle = WS_EX_TOOLWINDOW | WS_EX_TOPMOST;
  params.WndParent = nullptr;
  params.WindowClass.style |= CS_SAVEBITS;
}

RECT THintWindow::CalcHintRect(int maxWidth, const std::string& text, void*) {
  RECT r{0, 0, maxWidth, 0};
  HDC dc = GetDC(nullptr);
  HGDIOBJ old = SelectObject(dc, TextFont()->Handle());
  DrawTextA(dc, text.c_str(), static_cast<int>(text.size()), &r, DT_CALCRECT | DT_LEFT | DT_WORDBREAK | DT_NOPREFIX);
  SelectObject(dc, old);
  ReleaseDC(nullptr, dc);
  r.right += 6;
  r.bottom += 2;
  return r;
}

void THintWindow::ActivateHint(RECT rect, const std::string& text) {
  SetCaption(text);
  // Kept on the screen.
  const int sw = GetSystemMetrics(SM_CXSCREEN), sh = GetSystemMetrics(SM_CYSCREEN);
  if (rect.right > sw) OffsetRect(&rect, sw - rect.right, 0);
  if (rect.bottom > sh) OffsetRect(&rect, 0, sh - rect.bottom);
  if (rect.left < 0) OffsetRect(&rect, -rect.left, 0);
  if (rect.top < 0) OffsetRect(&rect, 0, -rect.top);
  SetBounds(rect.left, rect.top, rect.right - rect.left, rect.bottom - rect.top);
  SetWindowPos(Handle(), HWND_TOPMOST, rect.left, rect.top, rect.right - rect.left, rect.bottom - rect.top,
               SWP_SHOWWINDOW | SWP_NOACTIVATE);
  TControl::SetVisible(true);
  Invalidate();
}

void THintWindow::ActivateHintData(RECT rect, const std::string& text, void*) {
  ActivateHint(rect, text);
}

void THintWindow::ReleaseHint() {
  if (HandleAllocated()) ShowWindow(WindowHandle(), SW_HIDE);
  TControl::SetVisible(false);
}

bool THintWindow::IsHintEndingPress(UINT message) {
  switch (message) {
    case WM_KEYDOWN:
    case WM_SYSKEYDOWN:
    case WM_LBUTTONDOWN:
    case WM_RBUTTONDOWN:
    case WM_MBUTTONDOWN:
    case WM_NCLBUTTONDOWN:
    case WM_NCRBUTTONDOWN:
      return true;
    default:
      return false;
  }
}

bool THintWindow::IsHintMsg(const MSG& msg) {
  return IsHintEndingPress(msg.message) || msg.message == WM_NCMOUSEMOVE;
}

void THintWindow::Paint(HDC dc) {
  RECT r = ClientRect();
  FillRectColor(dc, r, GetColor());
  InflateRect(&r, -2, -1);
  SetBkMode(dc, TRANSPARENT);
  TFont* font = TextFont();
  SetTextColor(dc, ColorToRGB(font->GetColor()));
  HGDIOBJ old = SelectObject(dc, font->Handle());
  const std::string text = GetCaption();
  DrawTextA(dc, text.c_str(), static_cast<int>(text.size()), &r, DT_LEFT | DT_WORDBREAK | DT_NOPREFIX);
  SelectObject(dc, old);
}

namespace {
constexpr UINT_PTR kHintShowTimer = 1, kHintHideTimer = 2;
}

void TApplication::HintMouseChanged(TControl* control) {
  // Leaving a client area for a control's non-client part keeps that part's hint.
  if (nonClientHint_ && !control) return;
  nonClientHint_ = false;
  CancelHint();
  hintControl_ = control;
  const std::string text = control ? control->GetHint() : std::string();
  SetHint(text);
  if (!control || !ShowHint || !control->GetShowHint() || text.empty() || !hintTimerWnd_) return;
  SetTimer(hintTimerWnd_, kHintShowTimer, HintPause ? HintPause : 1, nullptr);
}

void TApplication::NonClientHintMouseMove(TControl* control, POINT clientPos) {
  CancelHint();
  hintControl_ = control;
  nonClientHint_ = control != nullptr;
  nonClientHintPos_ = clientPos;
  if (!control || !ShowHint || !control->GetShowHint() || !hintTimerWnd_) return;
  SetTimer(hintTimerWnd_, kHintShowTimer, HintPause ? HintPause : 1, nullptr);
}

void TApplication::EndNonClientHint(TControl* control) {
  if (!nonClientHint_ || hintControl_ != control) return;
  nonClientHint_ = false;
  hintControl_ = nullptr;
  CancelHint();
}

void TApplication::HintControlGoing(TControl* control) {
  if (hintControl_ != control) return;
  CancelHint();
  hintControl_ = nullptr;
  nonClientHint_ = false;
}

void TApplication::SetHint(const std::string& value) {
  if (hint_ == value) return;
  hint_ = value;
  if (OnHint) {
    OnHint(this);
    return;
  }
  THintAction* action = New<THintAction>(this);
  try {
    action->SetHint(value);
    action->Execute();
  } catch (...) {
    action->Free();
    throw;
  }
  action->Free();
}

void TApplication::CancelHint() {
  if (hintTimerWnd_) {
    KillTimer(hintTimerWnd_, kHintShowTimer);
    KillTimer(hintTimerWnd_, kHintHideTimer);
  }
  if (hintWindow_) hintWindow_->ReleaseHint();
}

void TApplication::ActivateHint() {
  TControl* control = hintControl_;
  if (!control || (!nonClientHint_ && control != MouseControl())) return;
  POINT cursor;
  GetCursorPos(&cursor);
  if (nonClientHint_) cursor = control->ClientToScreen(nonClientHintPos_);
  THintInfo info{control, control->ScreenToClient(cursor), control->GetHint(), POINT{cursor.x, cursor.y + 20},
                 GetSystemMetrics(SM_CXSCREEN) / 2};
  info.HintWindowClass = &THintWindow::StaticClass();
  if (TControlActionLink* link = control->ActionLink())
    if (!link->DoShowHint(info.HintStr)) return;
  if (control->Perform(CM_HINTSHOW, 0, reinterpret_cast<LPARAM>(&info)) != 0 || info.HintStr.empty()) return;
  // The window is of the class the control asked for (a THintWindow descendant).
  const ClassInfo* cls = info.HintWindowClass && info.HintWindowClass->InheritsFrom(THintWindow::StaticClass()) &&
                                 info.HintWindowClass->create
                             ? info.HintWindowClass
                             : &THintWindow::StaticClass();
  if (hintWindow_ && &hintWindow_->ClassType() != cls) FreeAndNil(hintWindow_);
  if (!hintWindow_) hintWindow_ = As<THintWindow>(cls->create(this));
  hintWindow_->SetColor(HintColor);
  RECT r = hintWindow_->CalcHintRect(info.HintMaxWidth > 0 ? info.HintMaxWidth : 300, info.HintStr, info.HintData);
  OffsetRect(&r, info.HintPos.x, info.HintPos.y);
  hintWindow_->ActivateHintData(r, info.HintStr, info.HintData);
  if (HintHidePause) SetTimer(hintTimerWnd_, kHintHideTimer, HintHidePause, nullptr);
}

void TApplication::HintTimerProc(TMessage& msg) {
  if (msg.Msg != WM_TIMER) {
    HandleDefault(hintTimerWnd_, msg);
    return;
  }
  KillTimer(hintTimerWnd_, msg.WParam);
  if (msg.WParam == kHintShowTimer)
    ActivateHint();
  else if (msg.WParam == kHintHideTimer && hintWindow_)
    hintWindow_->ReleaseHint();
}

namespace {
// The application's part in running actions, installed while it exists.
class FormsActionApplication : public ActionApplication {
 public:
  bool ExecuteAction(TBasicAction* action) override { return Application && Application->ExecuteAction(action); }
  bool UpdateAction(TBasicAction* action) override { return Application && Application->UpdateAction(action); }
  bool DispatchExecute(TBasicAction* action) override { return Send(CM_ACTIONEXECUTE, action); }
  bool DispatchUpdate(TBasicAction* action) override { return Send(CM_ACTIONUPDATE, action); }

 private:
  static bool Send(UINT msg, TBasicAction* action) {
    return Application && Application->Handle() &&
           SendMessageA(Application->Handle(), msg, 0, reinterpret_cast<LPARAM>(action)) == 1;
  }
};
FormsActionApplication g_formsActions;

std::string ActionShortCutText(TShortCut shortCut) {
  return ShortCutToText(shortCut);
}
}  // namespace

TApplication::TApplication(TComponent* owner) : TComponent(owner) {
  SetActionApplication(&g_formsActions);
  SetActionShortCutText(&ActionShortCutText);
  hintTimerWnd_ = AllocateHWnd(TWndMethod::Bind<&TApplication::HintTimerProc>(this));
  SetApplicationWindowHandler(&TApplication::AppWindowHandler, this);
  SetCallbackExceptionHandler(&RouteCallbackException);
  SetThreadMessageProcessor(&RouteMessage);
  SetQuitMessageHandler(&RouteQuit);
}

void TApplication::Destroy() {
  CancelHint();
  hintControl_ = nullptr;
  nonClientHint_ = false;
  if (hintTimerWnd_) DeallocateHWnd(hintTimerWnd_);
  hintTimerWnd_ = nullptr;
  SetQuitMessageHandler(nullptr);
  SetThreadMessageProcessor(nullptr);
  SetApplicationWindowHandler(nullptr, nullptr);
  hooks_.clear();
  inherited::Destroy();
  SetActionShortCutText(nullptr);
  if (CurrentActionApplication() == &g_formsActions) SetActionApplication(nullptr);
  SetCallbackExceptionHandler(nullptr);
}

HWND TApplication::Handle() const {
  return ApplicationWindow();
}

std::string TApplication::Title() const {
  if (!Handle()) return title_;
  char buf[512] = {};
  GetWindowTextA(Handle(), buf, sizeof buf);
  return buf;
}

void TApplication::SetTitle(const std::string& title) {
  title_ = title;
  if (Handle()) SetWindowTextA(Handle(), title.c_str());
}

void TApplication::HookMainWindow(const TWindowHook& hook) {
  if (std::find(hooks_.begin(), hooks_.end(), hook) == hooks_.end()) hooks_.push_back(hook);
}

void TApplication::UnhookMainWindow(const TWindowHook& hook) {
  hooks_.erase(std::remove(hooks_.begin(), hooks_.end(), hook), hooks_.end());
}

bool TApplication::ExecuteAction(TBasicAction* action) {
  bool handled = false;
  if (OnActionExecute) OnActionExecute(action, handled);
  return handled;
}

bool TApplication::UpdateAction(TBasicAction* action) {
  bool handled = false;
  if (OnActionUpdate) OnActionUpdate(action, handled);
  return handled;
}

bool TApplication::DispatchAction(UINT msg, TBasicAction* action) {
  TCustomForm* form = Screen ? Screen->ActiveForm() : nullptr;
  if (form && form->Perform(msg, 0, reinterpret_cast<LPARAM>(action)) == 1) return true;
  return mainForm_ && mainForm_ != form && mainForm_->Perform(msg, 0, reinterpret_cast<LPARAM>(action)) == 1;
}

void TApplication::UpdateFormActions() {
  if (!Screen) return;
  for (int i = 0; i < Screen->FormCount(); ++i) {
    TCustomForm* form = Screen->Forms(i);
    if (form->HandleAllocated() && IsWindowVisible(form->WindowHandle()) && IsWindowEnabled(form->WindowHandle()))
      form->UpdateActions();
  }
}

bool TApplication::AppWindowHandler(void* data, TMessage& msg) {
  auto* app = static_cast<TApplication*>(data);
  // A hook may unhook itself (or others) while it is asked.
  for (const TWindowHook& hook : std::vector<TWindowHook>(app->hooks_))
    if (std::find(app->hooks_.begin(), app->hooks_.end(), hook) != app->hooks_.end() && hook(msg)) return true;
  if (msg.Msg == CM_ACTIONEXECUTE || msg.Msg == CM_ACTIONUPDATE) {
    msg.Result = app->DispatchAction(msg.Msg, reinterpret_cast<TBasicAction*>(msg.LParam)) ? 1 : 0;
    return true;
  }
  if (msg.Msg == WM_CLOSE) {
    if (app->mainForm_) app->mainForm_->Close();
    msg.Result = 0;
    return true;
  }
  return false;
}

void TApplication::Run() {
  if (mainForm_ && !mainForm_->GetVisible()) mainForm_->Show();
  while (!terminated_) HandleMessage();
}

bool TApplication::ProcessMessage(MSG& msg) {
  if (!PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) return false;
  if (msg.message == WM_QUIT)
    terminated_ = true;
  else
    DispatchOne(msg);
  return true;
}

void TApplication::DispatchOne(MSG& msg) {
  bool handled = false;
  if (OnMessage) OnMessage(msg, handled);
  if (handled) return;
  if (DialogHandle && IsDialogMessageA(DialogHandle, &msg)) return;
  // A shown hint decides which messages end it; a press also stops one that waits to show.
  const bool hintShown = hintWindow_ && hintWindow_->HandleAllocated() && IsWindowVisible(hintWindow_->WindowHandle());
  if (hintShown ? hintWindow_->IsHintMsg(msg) : THintWindow::IsHintEndingPress(msg.message)) CancelHint();
  if (msg.message == WM_KEYDOWN) {
    // F1 needs nothing here: the system turns it into WM_HELP for the focused
    // window, and each control answers with its (or its parents') help context.
    TWinControl* target = FindControl(msg.hwnd);
    if (TCustomForm* form = GetParentForm(target ? target : nullptr))
      if (form->HandleDialogKey(msg)) return;
  } else if (msg.message == WM_SYSCHAR || msg.message == WM_CHAR) {
    TWinControl* target = FindControl(msg.hwnd);
    if (TCustomForm* form = GetParentForm(target ? target : nullptr))
      if (form->HandleDialogChar(msg)) return;
  }
  TranslateMessage(&msg);
  DispatchMessageA(&msg);
}

void TApplication::HandleMessage() {
  MSG msg;
  if (!ProcessMessage(msg)) Idle();
}

void TApplication::Idle() {
  if (OnIdle) OnIdle(this);
  UpdateFormActions();
  if (CheckSynchronize()) return;
  if (terminated_) return;
  HANDLE ev = SynchronizeEvent();
  MsgWaitForMultipleObjectsEx(ev ? 1 : 0, ev ? &ev : nullptr, INFINITE, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
}

void TApplication::ProcessMessages() {
  if (IsMainThread()) {
    MSG msg;
    while (ProcessMessage(msg)) {
    }
    CheckSynchronize();
  } else {
    ProcessThreadMessages();
  }
}

void TApplication::Terminate() {
  terminated_ = true;
  if (Handle()) PostMessageA(Handle(), WM_NULL, 0, 0);  // wakes an idle loop
}

void TApplication::HandleException(TObject* sender) {
  HandleException(sender, std::current_exception());
}

void TApplication::HandleException(TObject* sender, std::exception_ptr error) {
  HandleExceptionHook(this, sender, error);
}

void TApplication::ShowException(std::exception_ptr error) {
  ShowExceptionHook(this, error);
}

std::string TApplication::CurrentHelpFile() const {
  if (Screen && Screen->ActiveForm() && !Screen->ActiveForm()->GetHelpFile().empty())
    return Screen->ActiveForm()->GetHelpFile();
  return HelpFile;
}

bool TApplication::HelpContext(int context) {
  return HelpCommand(HELP_CONTEXT, context);
}

bool TApplication::HelpCommand(std::uint16_t command, std::intptr_t data) {
  bool callHelp = true;
  bool result = false;
  if (OnHelp) result = OnHelp(command, data, callHelp);
  if (callHelp) {
    std::string file = CurrentHelpFile();
    if (!file.empty()) result = WinHelpA(Handle(), file.c_str(), command, static_cast<ULONG_PTR>(data)) != 0;
  }
  return result;
}

// --- TScreen -----------------------------------------------------------------------------------

namespace {
TFont* FontFromLog(const LOGFONTA& log) {
  TFont* font = New<TFont>();
  if (HFONT handle = CreateFontIndirectA(&log)) font->SetHandle(handle);
  return font;
}
}  // namespace

RECT TScreen::DesktopRect() const {
  return RECT{0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
}

RECT TScreen::WorkAreaRect() const {
  RECT area{};
  if (!SystemParametersInfoA(SPI_GETWORKAREA, 0, &area, 0) || area.right <= area.left || area.bottom <= area.top)
    return DesktopRect();
  return area;
}

TScreen::TScreen(TComponent* owner) : TComponent(owner) {
  NONCLIENTMETRICSA metrics{};
  metrics.cbSize = sizeof(metrics);
  LOGFONTA icon{};
  const bool haveMetrics = SystemParametersInfoA(SPI_GETNONCLIENTMETRICS, sizeof(metrics), &metrics, 0);
  const bool haveIcon = SystemParametersInfoA(SPI_GETICONTITLELOGFONT, sizeof(icon), &icon, 0);
  iconFont_ = haveIcon ? FontFromLog(icon) : New<TFont>();
  hintFont_ = haveMetrics ? FontFromLog(metrics.lfStatusFont) : New<TFont>();
  menuFont_ = haveMetrics ? FontFromLog(metrics.lfMenuFont) : New<TFont>();
  hintFont_->SetColor(clInfoText);
}

void TScreen::Destroy() {
  FreeAndNil(iconFont_);
  FreeAndNil(hintFont_);
  FreeAndNil(menuFont_);
  inherited::Destroy();
}

void TScreen::AddDataModule(TDataModule* module) {
  if (std::find(dataModules_.begin(), dataModules_.end(), module) == dataModules_.end()) dataModules_.push_back(module);
}

void TScreen::RemoveDataModule(TDataModule* module) {
  dataModules_.erase(std::remove(dataModules_.begin(), dataModules_.end(), module), dataModules_.end());
}

void TScreen::SetCursor(TCursor cursor) {
  cursor_ = cursor;
  ::SetCursor(Cursors(cursor == crDefault ? crArrow : cursor));
  POINT p;
  if (GetCursorPos(&p)) SetCursorPos(p.x, p.y);  // lets the window under the mouse set its own
}

HCURSOR TScreen::Cursors(TCursor id) const {
  auto it = cursors_.find(id);
  return it != cursors_.end() ? it->second : CursorHandle(id);
}

void TScreen::SetCursors(TCursor id, HCURSOR cursor) {
  cursors_[id] = cursor;
}

int TScreen::PixelsPerInch() const {
  HDC dc = GetDC(nullptr);
  int dpi = GetDeviceCaps(dc, LOGPIXELSY);
  ReleaseDC(nullptr, dc);
  return dpi;
}

void TScreen::AddForm(TCustomForm* form) {
  if (std::find(forms_.begin(), forms_.end(), form) == forms_.end()) forms_.push_back(form);
}

void TScreen::RemoveForm(TCustomForm* form) {
  forms_.erase(std::remove(forms_.begin(), forms_.end(), form), forms_.end());
}

// --- The unit ----------------------------------------------------------------------------------

namespace {
// The keyboard's own name of a key without a fixed shortcut text.
std::string KeyboardKeyName(std::uint8_t key) {
  const UINT scan = MapVirtualKeyA(key, 0);
  if (!scan) return {};
  char name[256] = {};
  const int len = GetKeyNameTextA(static_cast<LONG>(scan << 16), name, sizeof name);
  return len > 0 ? std::string(name, static_cast<std::size_t>(len)) : std::string();
}
}  // namespace

void InitForms() {
  InitWin32Platform();
  SetShortCutKeyNames(&KeyboardKeyName);
  RegisterClasses({&TForm::StaticClass(), &TButton::StaticClass(), &TRadioButton::StaticClass(),
                   &TGroupBox::StaticClass(), &TLabel::StaticClass(), &TPanel::StaticClass(),
                   &TRadioGroup::StaticClass(), &TNotebook::StaticClass(), &TPage::StaticClass(),
                   &TTimer::StaticClass(), &TImage::StaticClass(), &TImageList::StaticClass()});
  RegisterGraphicClasses();
  InitCommonControls();
  if (!Screen) Screen = New<TScreen>(nullptr);
  if (!Application) Application = New<TApplication>(nullptr);
  InitMenus();
}

void DoneForms() {
  DoneMenus();
  FreeAndNil(Application);
  FreeAndNil(Screen);
}
