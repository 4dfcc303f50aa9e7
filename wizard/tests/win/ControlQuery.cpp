#include "ControlQuery.h"

#include <string>

#include "Controls.h"
#include "Forms.h"
#include "HTMLabel.h"
#include "UcxStdCtrls.h"
#include "UcxSysUtils.h"
#include "UcxSystem.h"
#include "Win32Platform.h"

namespace {

// A component owned by `owner` or, below it, by one of its components.
TComponent* FindNamed(const TComponent* owner, const std::string& name) {
  if (TComponent* c = owner->FindComponent(name)) return c;
  for (int i = 0; i < owner->ComponentCount(); ++i)
    if (TComponent* c = FindNamed(owner->Components(i), name)) return c;
  return nullptr;
}

// What the control shows, in UTF-8: a mark-up label's mark-up text, the
// Unicode label's wide caption, else the control's text, both ANSI texts in
// the code page of its font's charset (the system's for one of no code page).
std::string ShownText(const TControl* control) {
  const UINT codePage = CharsetCodePage(control->GetFont()->GetCharset());
  if (auto* html = dynamic_cast<const THTMLabel*>(control))
    return Utf8FromWide(CodePageToWide(codePage, html->GetDisplayText()));
  if (auto* label = dynamic_cast<const TUcxCustomLabel*>(control)) return Utf8FromWide(label->GetWideCaption());
  return Utf8FromWide(CodePageToWide(codePage, control->GetText()));
}

std::string DescribeControl(const TComponent* component) {
  auto* control = dynamic_cast<const TControl*>(component);
  if (!control) return "";
  bool shown = true;
  for (const TControl* c = control; c; c = c->Parent()) shown = shown && c->GetVisible();
  return std::string("visible=") + (shown ? "1" : "0") + ";enabled=" + (control->GetEnabled() ? "1" : "0") +
         ";text=" + ShownText(control);
}

// Stands in front of the form's message handling; answers the query and
// passes every other message on.
struct TControlQueryHook {
  TCustomForm* form = nullptr;
  TWndMethod formProc;

  void WindowProc(TMessage& msg) {
    if (msg.Msg == WM_COPYDATA) {
      const auto* query = reinterpret_cast<const COPYDATASTRUCT*>(msg.LParam);
      if (query && query->dwData == kControlQuery && query->cbData <= 256 && (query->lpData || !query->cbData)) {
        const std::string name(static_cast<const char*>(query->lpData), query->cbData);
        const std::string answer = name.empty() ? "" : DescribeControl(FindNamed(form, name));
        COPYDATASTRUCT reply{kControlAnswer, static_cast<DWORD>(answer.size()), const_cast<char*>(answer.data())};
        HWND to = reinterpret_cast<HWND>(msg.WParam);
        if (IsWindow(to))
          SendMessageA(to, WM_COPYDATA, reinterpret_cast<WPARAM>(form->WindowHandle()),
                       reinterpret_cast<LPARAM>(&reply));
        msg.Result = 1;
        return;
      }
    }
    formProc(msg);
  }
};

// One wizard form per program.
TControlQueryHook g_hook;

}  // namespace

void AnswerControlQueries(TCustomForm* form) {
  if (!form) return;
  g_hook.form = form;
  g_hook.formProc = form->WindowProc;
  form->WindowProc = TWndMethod::Bind<&TControlQueryHook::WindowProc>(&g_hook);
}
