#include "QhrHelpRouter.h"

#include "SysUtils.h"

FW_BEGIN_CLASS(THelpRouter)
  FW_PROP(HelpType, GetHelpType, SetHelpType)
  FW_PROP(ShowType, ShowType, ShowType)
  FW_DEFAULT(stDefault)
  FW_PROP(Helpfile, Helpfile, Helpfile)
  FW_PROP(CHMPopupTopics, CHMPopupTopics, CHMPopupTopics)
  FW_EVENT(OnHelp, OnHelp)
  FW_PROP(ValidateID, ValidateID, ValidateID)
FW_END_CLASS

namespace {

HelpHost* g_host = nullptr;
THelpRouter* g_live = nullptr;
std::string g_lastFile;
HelpWindow g_lastWindow = 0;

bool NoWinHelp(HelpWindow, const std::string&, unsigned, std::intptr_t) {
  return false;
}

bool NoCursorPos(std::int32_t&, std::int32_t&) {
  return false;
}

}  // namespace

HelpWinHelpFunc HelpRouterWinHelp = &NoWinHelp;
HelpCursorPosFunc HelpRouterCursorPos = &NoCursorPos;

HelpHost* GetHelpHost() {
  return g_host;
}

void SetHelpHost(HelpHost* host) {
  g_host = host;
}

THelpRouter* LiveHelpRouter() {
  return g_live;
}

std::string LastResolvedHelpFile() {
  return g_lastFile;
}

HelpWindow LastResolvedHelpWindow() {
  return g_lastWindow;
}

THelpRouter::THelpRouter(TComponent* owner) : TComponent(owner) {}

void THelpRouter::AfterConstruction() {
  inherited::AfterConstruction();
  if (g_live) throw Exception("Multiple instances of THelpRouter are not allowed");
  if (ComponentState().Contains(csDesigning)) return;
  if (g_host) {
    THelpEvent& slot = g_host->ApplicationOnHelp();
    previous_ = slot;
    slot = THelpEvent::Bind<&THelpRouter::RouteHelp>(this);
    hooked_ = true;
  }
  g_live = this;
}

void THelpRouter::Destroy() {
  if (g_live == this) g_live = nullptr;
  if (hooked_ && g_host) {
    THelpEvent& slot = g_host->ApplicationOnHelp();
    if (slot == THelpEvent::Bind<&THelpRouter::RouteHelp>(this)) slot = previous_;
    hooked_ = false;
  }
  inherited::Destroy();
}

void THelpRouter::SetHelpType(THelpType value) {
  if (value == helpType_) return;
  helpType_ = value;
  if ((value == htHTMLhelp || value == htMixedMode) && !ComponentState().Contains(csDesigning)) EnsureHtmlHelp();
}

TComponent* THelpRouter::HelpTargetForm() {
  if (!g_host) return nullptr;
  if (TComponent* active = g_host->ActiveForm()) return active;
  TComponent* owner = Owner();
  if (owner && !g_host->IsForm(owner)) throw EInvalidCast("Invalid class typecast");
  return owner;
}

HelpWindow THelpRouter::ResolveHelpFile(std::string& file) {
  file = g_host ? g_host->ApplicationHelpFile() : std::string();
  HelpWindow window = g_host ? g_host->ApplicationWindow() : 0;
  if (TComponent* form = HelpTargetForm()) {
    HelpWindow formWindow = g_host->FormWindow(form, false);
    std::string formFile = g_host->FormHelpFile(form);
    if (formWindow && !formFile.empty()) {
      file = formFile;
      window = formWindow;
    }
  }
  if (!Helpfile.empty()) {
    file = Helpfile;
    window = g_host ? g_host->ApplicationWindow() : 0;
  }
  return window;
}

bool THelpRouter::RouteHelp(std::uint16_t command, std::intptr_t data, bool& callHelp) {
  bool result = false;
  if (OnHelp) result = OnHelp(command, data, callHelp);
  if (callHelp && previous_) result = previous_(command, data, callHelp);
  if (!callHelp) return result;

  if (ShowType == stMain) {
    if (command == HelpContextPopupCommand)
      command = HelpContextCommand;
    else if (command == HelpSetPopupPosCommand)
      command = 0;
  }
  g_lastWindow = ResolveHelpFile(g_lastFile);
  bool popupCommand = command == HelpContextPopupCommand || command == HelpSetPopupPosCommand;
  if (helpType_ == htHTMLhelp || (helpType_ == htMixedMode && !popupCommand))
    return RouteToHtmlHelp(command, data, callHelp, result);
  return RouteToWinHelp(command, data, callHelp);
}

bool THelpRouter::RouteToWinHelp(std::uint16_t command, std::intptr_t data, bool& callHelp) {
  callHelp = false;
  if (command == 0) return true;
  return HelpRouterWinHelp(g_lastWindow, ChangeFileExt(g_lastFile, ".hlp"), command, data);
}

bool THelpRouter::RouteToHtmlHelp(std::uint16_t command, std::intptr_t data, bool& callHelp, bool result) {
  if (!EnsureHtmlHelp()) return result;  // the application performs the request itself
  g_lastFile = ChangeFileExt(g_lastFile, ".chm");
  callHelp = false;
  const char* file = g_lastFile.c_str();
  auto call = [&](const char* target, unsigned hhCommand, std::uintptr_t hhData) {
    return CallHtmlHelp(g_lastWindow, target, hhCommand, hhData) != 0;
  };
  switch (command) {
    case HelpContextCommand:
      return call(file, HhHelpContext, static_cast<std::uintptr_t>(data));
    case HelpQuitCommand:
      return call(nullptr, HhCloseAll, 0);
    case HelpContentsCommand:
    case HelpFinderCommand:
      return call(file, HhDisplayToc, 0);
    case HelpTabCommand:
      return data == 0 ? call(file, HhDisplayToc, 0) : call(file, HhDisplayIndex, 0);
    case HelpKeyCommand:
    case HelpPartialKeyCommand:
      return call(file, HhDisplayIndex, static_cast<std::uintptr_t>(data));
    case HelpContextPopupCommand:
      if (popupX_ == 0 && popupY_ == 0) HelpRouterCursorPos(popupX_, popupY_);
      ShowTextPopup(popupX_, popupY_, std::string(), data);
      popupX_ = popupY_ = 0;
      return true;
    case HelpSetPopupPosCommand: {
      auto bits = static_cast<std::uint32_t>(data);
      popupX_ = static_cast<std::int16_t>(bits & 0xFFFF);
      popupY_ = static_cast<std::int16_t>(bits >> 16);
      return false;
    }
    default:
      return false;
  }
}

bool THelpRouter::ShowTextPopup(std::int32_t x, std::int32_t y, const std::string& text, std::intptr_t data) {
  if (!EnsureHtmlHelp()) return false;
  TComponent* target = HelpTargetForm();
  HhPopup popup;
  popup.idString = text.empty() ? static_cast<std::uint32_t>(data) : 0;
  popup.pszText = text.c_str();
  popup.pt = {x, y};
  popup.pszFont = "MS Sans Serif, 8";
  if (popup.idString != 0) {
    if (CHMPopupTopics.empty()) CHMPopupTopics = "CSHelp.txt";
    g_lastWindow = ResolveHelpFile(g_lastFile);
    std::string topic = ChangeFileExt(g_lastFile, ".chm") + "::/" + CHMPopupTopics;
    return CallHtmlHelp(g_lastWindow, topic.c_str(), HhDisplayTextPopup, reinterpret_cast<std::uintptr_t>(&popup)) != 0;
  }
  HelpWindow window = target ? g_host->FormWindow(target, true) : 0;
  return CallHtmlHelp(window, nullptr, HhDisplayTextPopup, reinterpret_cast<std::uintptr_t>(&popup)) != 0;
}

void InitQhrHelpRouter() {
  RegisterClasses({&THelpRouter::StaticClass()});
}
