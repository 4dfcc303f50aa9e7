#include "UcxForms.h"

#include <vector>

#include "Swallow.h"
#include "UcxClasses.h"
#include "UcxControlsCore.h"
#include "UcxSysUtils.h"

FW_BEGIN_CLASS(TUcxForm)
  FW_PROP(Caption, GetWideCaption, SetWideCaption)
  FW_STORED(IsCaptionStored)
  FW_PROP(Hint, GetWideHint, SetWideHint)
  FW_STORED(IsHintStored)
FW_END_CLASS

FW_IMPLEMENT_CLASS(TUcxApplication)
FW_IMPLEMENT_CLASS(TUcxAppIdleEventControl)

TUcxApplication* UcxApplication = nullptr;

namespace {

HHOOK g_hook = nullptr;

void SinkWideHint(const WideString& hint) {
  if (UcxApplication)
    UcxApplication->SetHint(hint);
  else if (Application)
    Application->SetHint(NarrowToAnsi(hint));
}

LRESULT CALLBACK GetMessageHook(int code, WPARAM wp, LPARAM lp) {
  try {
    if (code >= 0 && wp == PM_REMOVE && UcxApplication) UcxApplication->HookMessage(*reinterpret_cast<MSG*>(lp));
  } catch (...) {
    if (Application) Application->HandleException(nullptr);
  }
  return CallNextHookEx(g_hook, code, wp, lp);
}

// The hint of one menu item of `menu` for a WM_MENUSELECT: by command, or by
// the sub-menu at the item's index with MF_POPUP; null when the menu closes or
// has no such item.
TMenuItem* SelectedMenuItem(TMenu* menu, const TMessage& msg) {
  const UINT flags = HIWORD(msg.WParam);
  if (flags == 0xFFFF && msg.LParam == 0) return nullptr;
  if (flags & MF_POPUP) {
    HMENU sub = msg.LParam ? GetSubMenu(reinterpret_cast<HMENU>(msg.LParam), LOWORD(msg.WParam)) : nullptr;
    return sub ? menu->FindItem(static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(sub)), fkHandle) : nullptr;
  }
  return menu->FindItem(LOWORD(msg.WParam), fkCommand);
}

}  // namespace

// --- TUcxForm ----------------------------------------------------------------------------------

const ClassInfo& TUcxForm::InheritedResourceStop() const {
  return TUcxForm::StaticClass();
}

void TUcxForm::DefineProperties(TFiler& filer) {
  inherited::DefineProperties(filer);
  DefineWideProperties(filer, this);
}

void TUcxForm::CreateWindowHandle(const TCreateParams& params) {
  if (!IsUnicodePlatform) {
    inherited::CreateWindowHandle(params);
    return;
  }
  TCreateParams copy = params;
  copy.ExStyle &= ~static_cast<DWORD>(0x80000);  // WS_EX_LAYERED
  CreateUnicodeHandle(this, copy, nullptr);
}

void TUcxForm::DestroyWindowHandle() {
  if (IsUnicodePlatform && HandleAllocated()) {
    // Looked up at run time: not every import library of the common controls carries it.
    using UninitializeFlatSBProc = HRESULT(WINAPI*)(HWND);
    if (HMODULE comctl = GetModuleHandleA("comctl32.dll"))
      if (auto proc = reinterpret_cast<UninitializeFlatSBProc>(
              reinterpret_cast<void*>(GetProcAddress(comctl, "UninitializeFlatSB"))))
        proc(WindowHandle());
  }
  inherited::DestroyWindowHandle();
}

void TUcxForm::ActionChange(TObject* sender, bool checkDefaults) {
  ApplyActionToControl(this, sender, checkDefaults);
  inherited::ActionChange(sender, checkDefaults);
}

TBasicActionLinkClass TUcxForm::GetActionLinkClass() {
  return WideActionLinkClassFor(this, inherited::GetActionLinkClass());
}

void TUcxForm::UpdateActions() {
  inherited::UpdateActions();
  if (UcxApplication) UcxApplication->DoIdle();
}

void TUcxForm::Dispatch(TMessage& msg) {
  switch (msg.Msg) {
    case WM_MENUSELECT:
      if (TMainMenu* menu = GetMenu()) {
        TMenuItem* item = SelectedMenuItem(menu, msg);
        SinkWideHint(item ? WideGetLongHint(WideGetMenuItemHint(item)) : WideString());
        msg.Result = 0;
        return;
      }
      break;
    case CM_BIDIMODECHANGED:
      inherited::Dispatch(msg);
      for (int i = 0; i < ComponentCount(); ++i)
        if (auto* menu = dynamic_cast<TMenu*>(Components(i))) RefreshMenuForMiddleEast(menu);
      return;
    case WM_WINDOWPOSCHANGING:
      inherited::Dispatch(msg);
      RefreshMenuForMiddleEast(GetMenu());
      return;
    default:
      break;
  }
  inherited::Dispatch(msg);
}

// --- TUcxApplication ---------------------------------------------------------------------------

TUcxApplication::TUcxApplication(TComponent* owner) : TComponent(owner) {
  if (Application) Application->HookMainWindow(TWindowHook::Bind<&TUcxApplication::AppWindowHook>(this));
}

void TUcxApplication::Destroy() {
  if (Application) Application->UnhookMainWindow(TWindowHook::Bind<&TUcxApplication::AppWindowHook>(this));
  if (idleControl_) {
    TUcxAppIdleEventControl* control = idleControl_;
    idleControl_ = nullptr;
    control->Free();
  }
  inherited::Destroy();
}

WideString TUcxApplication::GetHint() {
  return GetSyncedWideString(hint_, Application ? Application->GetHint() : std::string());
}

void TUcxApplication::SetHint(const WideString& value) {
  SetSyncedWideString(value, hint_, Application ? Application->GetHint() : std::string(), [](const std::string& s) {
    if (Application) Application->SetHint(s);
  });
}

WideString TUcxApplication::GetTitle() {
  HWND wnd = Application ? Application->Handle() : nullptr;
  if (IsUnicodePlatform && wnd) {
    const LRESULT len = DefWindowProcW(wnd, WM_GETTEXTLENGTH, 0, 0);
    std::vector<wchar_t> buf(static_cast<std::size_t>(len > 0 ? len : 0) + 1);
    const LRESULT got = DefWindowProcW(wnd, WM_GETTEXT, buf.size(), reinterpret_cast<LPARAM>(buf.data()));
    const auto n = static_cast<std::size_t>(got < 0 ? 0 : std::min<LRESULT>(got, len));
    return WideString(reinterpret_cast<const char16_t*>(buf.data()), n);
  }
  return GetSyncedWideString(pendingTitle_, Application ? Application->Title() : std::string());
}

void TUcxApplication::SetTitle(const WideString& value) {
  HWND wnd = Application ? Application->Handle() : nullptr;
  if (IsUnicodePlatform && wnd) {
    if (value != GetTitle() || !pendingTitle_.empty()) {
      DefWindowProcW(wnd, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(value.c_str()));
      pendingTitle_.clear();
    }
    return;
  }
  SetSyncedWideString(value, pendingTitle_, Application ? Application->Title() : std::string(),
                      [](const std::string& s) {
                        if (Application) Application->SetTitle(s);
                      });
}

void TUcxApplication::DoIdle() {
  SetHint(WideGetLongHint(WideControlGetInheritedHint(MouseControl())));
}

bool TUcxApplication::IsDialogMessageFor(MSG& msg) {
  HWND dialog = Application ? Application->DialogHandle : nullptr;
  return dialog && IsDialogMessageA(dialog, &msg);
}

bool TUcxApplication::AppWindowHook(TMessage& msg) {
  if (msg.Msg == WM_CREATE) {
    if (!pendingTitle_.empty()) {
      const WideString title = pendingTitle_;
      SetTitle(title);
      pendingTitle_.clear();
    }
    return false;
  }
  if (msg.Msg == CM_ACTIONEXECUTE) {
    auto* action = reinterpret_cast<TBasicAction*>(msg.LParam);
    if (!action || &action->ClassType() != &THintAction::StaticClass()) return false;
    const WideString hint = GetHint();
    if (static_cast<THintAction*>(action)->GetHint() != NarrowToAnsi(hint)) return false;
    msg.Result = 1;
    auto* wide = New<TUcxHintAction>(this);
    try {
      wide->SetWideHint(hint);
      wide->Execute();
    } catch (...) {
      wide->Free();
      throw;
    }
    wide->Free();
    return true;
  }
  return false;
}

void TUcxApplication::HookMessage(MSG& msg) {
  if (!mainFormChecked_ && Application && Application->MainForm()) {
    TCustomForm* main = Application->MainForm();
    if (!dynamic_cast<TUcxForm*>(main) && !idleControl_) {
      idleControl_ = New<TUcxAppIdleEventControl>(main);
    }
    mainFormChecked_ = true;
  }
  if (msg.message != WM_CHAR || msg.wParam < 256 || !msg.hwnd || !IsWindowUnicode(msg.hwnd)) return;
  HWND dialog = Application ? Application->DialogHandle : nullptr;
  if (dialog && !IsWindowUnicode(dialog) && (dialog == msg.hwnd || IsChild(dialog, msg.hwnd))) return;
  bool handled = false;
  if (Application && Application->OnMessage) Application->OnMessage(msg, handled);
  if (Application) Application->CancelHint();
  if (!handled && !IsDialogMessageFor(msg)) DispatchMessageW(&msg);
  msg.message = WM_NULL;
}

// --- TUcxAppIdleEventControl -------------------------------------------------------------------

TUcxAppIdleEventControl::TUcxAppIdleEventControl(TComponent* owner) : TControl(owner) {}

void TUcxAppIdleEventControl::AfterConstruction() {
  inherited::AfterConstruction();
  SetParentFont(false);
  if (Application && Application->MainForm()) SetParent(Application->MainForm());
  SetVisible(true);
  auto* action = New<TUcxAction>(this);
  if (UcxApplication) {
    action->SetOnExecute(TNotifyEvent::Bind<&TUcxApplication::IdleEvent>(UcxApplication));
    action->OnUpdate = TNotifyEvent::Bind<&TUcxApplication::IdleEvent>(UcxApplication);
    UcxApplication->idleControl_ = this;
  }
  SetAction(action);
}

void TUcxAppIdleEventControl::Destroy() {
  if (UcxApplication && UcxApplication->idleControl_ == this) UcxApplication->idleControl_ = nullptr;
  inherited::Destroy();
}

// --- The unit ----------------------------------------------------------------------------------

HHOOK UcxMessageHook() {
  return g_hook;
}

void InitUcxForms() {
  RegisterClasses({&TUcxForm::StaticClass(), &TUcxAction::StaticClass(), &TUcxHintAction::StaticClass()});
  if (!UcxApplication) UcxApplication = New<TUcxApplication>(nullptr);
  SetWideHintSink(&SinkWideHint);
  if (IsUnicodePlatform && !g_hook) {
    g_hook = SetWindowsHookExW(WH_GETMESSAGE, &GetMessageHook, nullptr, GetCurrentThreadId());
    if (!g_hook) RaiseLastWin32Failure();
  }
}

void DoneUcxForms() noexcept {
  if (g_hook) {
    HHOOK hook = g_hook;
    g_hook = nullptr;
    // A failure here harms nothing more at the end of the run: it is logged, and the rest goes on.
    if (!UnhookWindowsHookEx(hook)) {
      try {
        RaiseLastWin32Failure();
      } catch (...) {
        SwallowException("DoneUcxForms: removing the message hook");
      }
    }
  }
  SetWideHintSink(nullptr);
  try {
    FreeAndNil(UcxApplication);
  } catch (...) {
    SwallowException("DoneUcxForms: freeing the application companion");
  }
}
