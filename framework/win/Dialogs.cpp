#include "Dialogs.h"

#include <exception>

#include "SysUtils.h"
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
  bool wide = false;  // the box is a wide window, subclassed by the wide calls: its texts pass unchanged
};
thread_local BoxState* t_box = nullptr;

BoxState* StateOf(HWND wnd) {
  for (BoxState* s = t_box; s; s = s->outer)
    if (s->box == wnd) return s;
  return nullptr;
}

LRESULT CALLBACK BoxProc(HWND wnd, UINT msg, WPARAM wp, LPARAM lp) {
  BoxState* s = StateOf(wnd);
  if (!s) return IsWindowUnicode(wnd) ? DefDlgProcW(wnd, msg, wp, lp) : DefDlgProcA(wnd, msg, wp, lp);
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
    const bool wide = s->wide;
    if (wide)
      SetWindowLongPtrW(wnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(original));
    else
      SetWindowLongPtrA(wnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(original));
    s->box = nullptr;
    return wide ? CallWindowProcW(original, wnd, msg, wp, lp) : CallWindowProcA(original, wnd, msg, wp, lp);
  }
  return s->wide ? CallWindowProcW(original, wnd, msg, wp, lp) : CallWindowProcA(original, wnd, msg, wp, lp);
}

LRESULT CALLBACK BoxHook(int code, WPARAM wp, LPARAM lp) {
  BoxState* s = t_box;
  if (code == HCBT_ACTIVATE && s && !s->box && !s->original) {
    auto wnd = reinterpret_cast<HWND>(wp);
    char cls[16] = {};
    GetClassNameA(wnd, cls, sizeof cls);
    if (lstrcmpA(cls, "#32770") == 0) {
      s->box = wnd;
      s->wide = IsWindowUnicode(wnd) != FALSE;
      const auto proc = reinterpret_cast<LONG_PTR>(&BoxProc);
      s->original = reinterpret_cast<WNDPROC>(s->wide ? SetWindowLongPtrW(wnd, GWLP_WNDPROC, proc)
                                                      : SetWindowLongPtrA(wnd, GWLP_WNDPROC, proc));
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

std::u16string MessageDlgCaptionW(TMsgDlgType type) {
  switch (type) {
    case mtWarning:
      return LoadResStringW(SMsgDlgWarning);
    case mtError:
      return LoadResStringW(SMsgDlgError);
    case mtInformation:
      return LoadResStringW(SMsgDlgInformation);
    case mtConfirmation:
      return LoadResStringW(SMsgDlgConfirm);
    default:
      return Application ? CodePageToWide(CP_ACP, Application->Title()) : std::u16string();
  }
}

std::string MessageDlgCaption(TMsgDlgType type) {
  return WideToCodePage(CP_ACP, MessageDlgCaptionW(type));
}

int MessageDlgW(const std::u16string& text, TMsgDlgType type, TMsgDlgButtons buttons, int helpContext) {
  const std::u16string caption = MessageDlgCaptionW(type);
  HWND owner = nullptr;
  if (Screen && Screen->ActiveForm() && Screen->ActiveForm()->HandleAllocated())
    owner = Screen->ActiveForm()->WindowHandle();
  else if (Application)
    owner = Application->Handle();
  const DWORD style = ButtonStyle(buttons) | IconStyle(type) | MB_SETFOREGROUND;
  BoxState state;
  state.helpContext = helpContext;
  state.outer = t_box;
  state.hook = buttons.Contains(mbHelp) ? SetWindowsHookExA(WH_CBT, &BoxHook, nullptr, GetCurrentThreadId()) : nullptr;
  t_box = &state;
  int result;
  if (Win32Platform == VER_PLATFORM_WIN32_NT) {
    MSGBOXPARAMSW params = {};
    params.cbSize = sizeof params;
    params.hwndOwner = owner;
    params.hInstance = MainHInstance();
    params.lpszText = reinterpret_cast<LPCWSTR>(text.c_str());
    params.lpszCaption = reinterpret_cast<LPCWSTR>(caption.c_str());
    params.dwStyle = style;
    params.dwContextHelpId = static_cast<DWORD_PTR>(helpContext);
    params.lpfnMsgBoxCallback = &MessageBoxHelp;
    params.dwLanguageId = MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT);
    result = MessageBoxIndirectW(&params);
  } else {
    // The 9x line has no wide message box: the texts in the system's code page.
    const std::string ansiText = WideToCodePage(CP_ACP, text), ansiCaption = WideToCodePage(CP_ACP, caption);
    MSGBOXPARAMSA params = {};
    params.cbSize = sizeof params;
    params.hwndOwner = owner;
    params.hInstance = MainHInstance();
    params.lpszText = ansiText.c_str();
    params.lpszCaption = ansiCaption.c_str();
    params.dwStyle = style;
    params.dwContextHelpId = static_cast<DWORD_PTR>(helpContext);
    params.lpfnMsgBoxCallback = &MessageBoxHelp;
    params.dwLanguageId = MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT);
    result = MessageBoxIndirectA(&params);
  }
  t_box = state.outer;
  if (state.hook) UnhookWindowsHookEx(state.hook);
  return result;
}

int MessageDlg(const std::string& text, TMsgDlgType type, TMsgDlgButtons buttons, int helpContext) {
  return MessageDlgW(CodePageToWide(CP_ACP, text), type, buttons, helpContext);
}
