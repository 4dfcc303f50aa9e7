#include "ControlQuery.h"

#include <algorithm>
#include <exception>
#include <string>

#include "Controls.h"
#include "ExtCtrls.h"
#include "Forms.h"
#include "HTMLabel.h"
#include "QVCtrls.h"
#include "StdCtrls.h"
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

// --- Texts that fit ------------------------------------------------------------------------------

// The text a control draws, as the system draws it: a window's own text, the
// Unicode label's wide caption, else the control's text in the ANSI code page
// (which the ANSI drawing calls convert with).
WideString DrawnText(TControl* control) {
  if (auto* label = dynamic_cast<TUcxCustomLabel*>(control)) return label->GetWideCaption();
  if (auto* wnd = dynamic_cast<TWinControl*>(control); wnd && wnd->HandleAllocated()) {
    const int n = GetWindowTextLengthW(wnd->WindowHandle());
    WideString text(static_cast<std::size_t>(n > 0 ? n : 0) + 1, u'\0');
    const int got = GetWindowTextW(wnd->WindowHandle(), reinterpret_cast<wchar_t*>(text.data()), n + 1);
    text.resize(static_cast<std::size_t>(got > 0 ? got : 0));
    return text;
  }
  return WidenFromAnsi(control->GetText());
}

// The size DrawText gives the text in the control's font (DT_CALCRECT); with
// DT_WORDBREAK the lines are broken at `width`.
SIZE Measure(TControl* control, const WideString& text, UINT flags, int width) {
  HDC dc = GetDC(nullptr);
  HGDIOBJ old = SelectObject(dc, control->GetFont()->Handle());
  RECT r{0, 0, width, 0};
  DrawTextW(dc, reinterpret_cast<const wchar_t*>(text.c_str()), static_cast<int>(text.size()), &r,
            flags | DT_CALCRECT | DT_EXPANDTABS);
  SelectObject(dc, old);
  ReleaseDC(nullptr, dc);
  return SIZE{r.right - r.left, r.bottom - r.top};
}

// The size the mark-up label's text takes laid out at the label's width, however high it is.
SIZE MeasureHtml(THTMLabel* label, RECT room) {
  HDC dc = GetDC(nullptr);
  TOwned<TCanvas> canvas(New<TCanvas>());
  canvas->SetHandle(dc);
  canvas->Font()->Assign(label->GetFont());
  room.bottom += 65535;
  HtmlRenderResult out;
  try {
    out = label->DrawHtmlText(canvas.get(), label->GetDisplayText(), room, POINT{-1, -1}, -1, true);
  } catch (...) {
    canvas->SetHandle(nullptr);
    ReleaseDC(nullptr, dc);
    throw;
  }
  canvas->SetHandle(nullptr);
  ReleaseDC(nullptr, dc);
  return SIZE{out.width, out.height};
}

std::string NameOf(TControl* control) {
  if (!control->Name().empty()) return control->Name();
  TWinControl* parent = control->Parent();
  if (!parent) return "?";
  for (int i = 0; i < parent->ControlCount(); ++i)
    if (parent->Controls(i) == control) return NameOf(parent) + "[" + std::to_string(i) + "]";
  return NameOf(parent) + "[?]";
}

std::string Size(const SIZE& s) {
  return std::to_string(s.cx) + "x" + std::to_string(s.cy);
}

// Where the control's painting puts its text, in the control's coordinates
// (an empty rectangle for a control that draws no text), and the size the
// text needs there.
bool TextRoom(TControl* control, const WideString& text, RECT& room, SIZE& need) {
  const RECT client{0, 0, control->GetWidth(), control->GetHeight()};
  room = client;
  if (auto* html = dynamic_cast<THTMLabel*>(control)) {
    if (html->GetBevelOuter() != bvNone || html->GetBevelInner() != bvNone)
      InflateRect(&room, -html->GetBevelWidth(), -html->GetBevelWidth());
    if (html->GetBorderStyle() == bsSingle) InflateRect(&room, -html->GetBorderWidth(), -html->GetBorderWidth());
    if (html->GetDisplayText().empty()) return false;
    need = MeasureHtml(html, room);
    return true;
  }
  if (text.empty()) return false;
  if (auto* label = dynamic_cast<TCustomLabel*>(control)) {
    const UINT flags = (label->GetWordWrap() ? DT_WORDBREAK : 0) | (label->GetShowAccelChar() ? 0 : DT_NOPREFIX);
    need = Measure(control, text, flags, room.right);
    return true;
  }
  if (auto* label = dynamic_cast<TQvCustomLabel*>(control)) {
    const UINT flags = (label->GetWordWrap() ? DT_WORDBREAK : 0) | (label->GetShowAccelChar() ? 0 : DT_NOPREFIX);
    need = Measure(control, text, flags, room.right);
    return true;
  }
  if (dynamic_cast<TRadioButton*>(control)) {
    // The round box and its gap, then the text, in one line.
    const int box = GetSystemMetrics(SM_CXMENUCHECK);
    room.left += box + 4;
    need = Measure(control, text, DT_SINGLELINE, 0);
    return true;
  }
  if (dynamic_cast<TButton*>(control)) {
    // Inside the button's frame.
    InflateRect(&room, -3, -3);
    need = Measure(control, text, DT_SINGLELINE, 0);
    return true;
  }
  if (auto* panel = dynamic_cast<TPanel*>(control)) {
    const int bevels = (panel->GetBevelOuter() != bvNone ? 1 : 0) + (panel->GetBevelInner() != bvNone ? 1 : 0);
    InflateRect(&room, -bevels - 2, -bevels);
    need = Measure(control, text, DT_SINGLELINE | DT_NOPREFIX, 0);
    return true;
  }
  if (dynamic_cast<TGroupBox*>(control)) {
    // The caption sits in the top frame line, indented from both corners.
    room.left += 8;
    room.right -= 8;
    need = Measure(control, text, DT_SINGLELINE, 0);
    room.bottom = room.top + need.cy;
    return true;
  }
  return false;  // a page's caption, a form's title: not drawn in the client area
}

void CheckFits(TControl* control, std::string& cuts) {
  const WideString text = DrawnText(control);
  RECT room{};
  SIZE need{};
  if (TextRoom(control, text, room, need)) {
    const std::string name = NameOf(control);
    const SIZE has{room.right - room.left, room.bottom - room.top};
    if (need.cx > has.cx || need.cy > has.cy)
      cuts += name + ": the text needs " + Size(need) + ", it has " + Size(has) + " (\"" + Utf8FromWide(text) + "\")\n";
    // What the text takes of its room, held against every parent's client area.
    RECT used{room.left, room.top, room.left + std::min(need.cx, has.cx), room.top + std::min(need.cy, has.cy)};
    OffsetRect(&used, control->GetLeft(), control->GetTop());
    // A window beside it (shown or not: it may be shown later) covers the part it lies over.
    if (TWinControl* parent = control->Parent())
      for (int i = 0; i < parent->ControlCount(); ++i) {
        auto* sibling = dynamic_cast<TWinControl*>(parent->Controls(i));
        if (!sibling || sibling == control || dynamic_cast<TPage*>(sibling)) continue;
        const RECT bounds = sibling->BoundsRect();
        RECT common;
        if (IntersectRect(&common, &used, &bounds)) cuts += name + ": " + NameOf(sibling) + " lies over its text\n";
      }
    for (TWinControl* parent = control->Parent(); parent; parent = parent->Parent()) {
      const RECT area = parent->ClientRect();
      if (used.left < area.left || used.top < area.top || used.right > area.right || used.bottom > area.bottom) {
        cuts += name + ": its text reaches out of " + NameOf(parent) + "\n";
        break;
      }
      if (!parent->Parent()) break;
      OffsetRect(&used, parent->GetLeft(), parent->GetTop());
    }
  }
  if (auto* wnd = dynamic_cast<TWinControl*>(control))
    for (int i = 0; i < wnd->ControlCount(); ++i) CheckFits(wnd->Controls(i), cuts);
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
      if (query && query->dwData == kFitQuery) {
        std::string answer;
        try {
          CheckFits(form, answer);
        } catch (const std::exception& e) {
          answer = std::string("the check failed: ") + e.what() + "\n";
        }
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
