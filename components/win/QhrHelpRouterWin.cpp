#include "QhrHelpRouterWin.h"

#include <windows.h>

#include "Dialogs.h"
#include "Forms.h"
#include "QhrContextMap.h"
#include "QhrHelpRouter.h"

namespace {

class Win32HelpHost : public HelpHost {
 public:
  THelpEvent& ApplicationOnHelp() override { return Application ? Application->OnHelp : none_; }
  std::string ApplicationHelpFile() override { return Application ? Application->HelpFile : std::string(); }
  HelpWindow ApplicationWindow() override {
    return Application ? reinterpret_cast<HelpWindow>(Application->Handle()) : 0;
  }
  TComponent* ActiveForm() override { return Screen ? Screen->ActiveForm() : nullptr; }
  bool IsForm(TComponent* component) override { return component->InheritsFrom(TCustomForm::StaticClass()); }
  HelpWindow FormWindow(TComponent* form, bool create) override {
    auto* f = static_cast<TCustomForm*>(form);
    if (!f->HandleAllocated() && !create) return 0;
    return reinterpret_cast<HelpWindow>(f->Handle());
  }
  std::string FormHelpFile(TComponent* form) override { return static_cast<TCustomForm*>(form)->GetHelpFile(); }

 private:
  THelpEvent none_;  // the slot while there is no application
};

Win32HelpHost g_host;

bool WinHelp(HelpWindow window, const std::string& file, unsigned command, std::intptr_t data) {
  return WinHelpA(reinterpret_cast<HWND>(window), file.c_str(), command, static_cast<ULONG_PTR>(data)) != 0;
}

bool CursorPos(std::int32_t& x, std::int32_t& y) {
  POINT p;
  if (!GetCursorPos(&p)) return false;
  x = p.x;
  y = p.y;
  return true;
}

void MapMessage(HelpMapMessageKind kind, const std::string& text) {
  MessageDlg(text, kind == HelpMapMessageKind::Information ? mtInformation : mtError, {mbOK}, 0);
}

}  // namespace

void InitQhrHelpRouterWin() {
  SetHelpHost(&g_host);
  HelpRouterWinHelp = &WinHelp;
  HelpRouterCursorPos = &CursorPos;
  HelpMapMessage = &MapMessage;
}

void DoneQhrHelpRouterWin() {
  if (GetHelpHost() == &g_host) SetHelpHost(nullptr);
}
