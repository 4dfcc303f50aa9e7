#include "Dialogs.h"

#include <exception>

#include "Win32Platform.h"

namespace {

void CALLBACK MessageBoxHelp(LPHELPINFO info) {
  try {
    if (Application && info) Application->HelpContext(static_cast<int>(info->dwContextId));
  } catch (...) {
    HandleCallbackException(std::current_exception());
  }
}

// The box's Help button is routed by us: some systems leave it unhandled.
// A CBT hook on the calling thread subclasses the box when it is activated;
// the subclass turns the Help button's command into the help call and passes
// everything else on. State is per call (a message box may open inside a
// synchronous call while another one is open).
struct BoxState {
  int helpContext = 0;
  HWND box = nullptr;
  WNDPROC original = nullptr;
  HHOOK hook = nullptr;
  BoxState* outer = nullptr;
};
thread_local BoxState* t_box = nullptr;

BoxState* StateOf(HWND wnd) {
  for (BoxState* s = t_box; s; s = s->outer)
    if (s->box == wnd) return s;
  return nullptr;
}

LRESULT CALLBACK BoxProc(HWND wnd, UINT msg, WPARAM wp, LPARAM lp) {
  BoxState* s = StateOf(wnd);
  if (!s) return DefDlgProcA(wnd, msg, wp, lp);
  WNDPROC original = s->original;
  if (msg == WM_COMMAND && LOWORD(wp) == IDHELP) {
    try {
      if (Application) Application->HelpContext(s->helpContext);
    } catch (...) {
      HandleCallbackException(std::current_exception());
    }
    return 0;
  }
  if (msg == WM_NCDESTROY) {
    SetWindowLongPtrA(wnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(original));
    s->box = nullptr;
  }
  return CallWindowProcA(original, wnd, msg, wp, lp);
}

LRESULT CALLBACK BoxHook(int code, WPARAM wp, LPARAM lp) {
  BoxState* s = t_box;
  if (code == HCBT_ACTIVATE && s && !s->box && !s->original) {
    auto wnd = reinterpret_cast<HWND>(wp);
    char cls[16] = {};
    GetClassNameA(wnd, cls, sizeof cls);
    if (lstrcmpA(cls, "#32770") == 0) {
      s->box = wnd;
      s->original =
          reinterpret_cast<WNDPROC>(SetWindowLongPtrA(wnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&BoxProc)));
    }
  }
  return CallNextHookEx(s ? s->hook : nullptr, code, wp, lp);
}

UINT ButtonStyle(TMsgDlgButtons b) {
  UINT style = MB_OK;
  if (b.Contains(mbYes) && b.Contains(mbNo))
    style = b.Contains(mbCancel) ? MB_YESNOCANCEL : MB_YESNO;
  else if (b.Contains(mbAbort) || b.Contains(mbIgnore))
    style = MB_ABORTRETRYIGNORE;
  else if (b.Contains(mbRetry))
    style = MB_RETRYCANCEL;
  else if (b.Contains(mbCancel))
    style = MB_OKCANCEL;
  if (b.Contains(mbHelp)) style |= MB_HELP;
  return style;
}

UINT IconStyle(TMsgDlgType type) {
  switch (type) {
    case mtWarning:
      return MB_ICONWARNING;
    case mtError:
      return MB_ICONERROR;
    case mtInformation:
      return MB_ICONINFORMATION;
    case mtConfirmation:
      return MB_ICONQUESTION;
    default:
      return 0;
  }
}

}  // namespace

std::string MessageDlgCaption(TMsgDlgType type) {
  switch (type) {
    case mtWarning:
      return "Warning";
    case mtError:
      return "Error";
    case mtInformation:
      return "Information";
    case mtConfirmation:
      return "Confirm";
    default:
      return Application ? Application->Title() : std::string();
  }
}

int MessageDlg(const std::string& text, TMsgDlgType type, TMsgDlgButtons buttons, int helpContext) {
  const std::string caption = MessageDlgCaption(type);
  HWND owner = nullptr;
  if (Screen && Screen->ActiveForm() && Screen->ActiveForm()->HandleAllocated())
    owner = Screen->ActiveForm()->WindowHandle();
  else if (Application)
    owner = Application->Handle();
  MSGBOXPARAMSA params = {};
  params.cbSize = sizeof params;
  params.hwndOwner = owner;
  params.hInstance = MainHInstance();
  params.lpszText = text.c_str();
  params.lpszCaption = caption.c_str();
  params.dwStyle = ButtonStyle(buttons) | IconStyle(type) | MB_SETFOREGROUND;
  params.dwContextHelpId = static_cast<DWORD_PTR>(helpContext);
  params.lpfnMsgBoxCallback = &MessageBoxHelp;
  params.dwLanguageId = MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT);
  BoxState state;
  state.helpContext = helpContext;
  state.outer = t_box;
  state.hook = buttons.Contains(mbHelp) ? SetWindowsHookExA(WH_CBT, &BoxHook, nullptr, GetCurrentThreadId()) : nullptr;
  t_box = &state;
  const int result = MessageBoxIndirectA(&params);
  t_box = state.outer;
  if (state.hook) UnhookWindowsHookEx(state.hook);
  return result;
}
