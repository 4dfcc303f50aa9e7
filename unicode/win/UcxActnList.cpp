#include "UcxActnList.h"

#include "UcxControls.h"
#include "UcxMenus.h"
#include "UcxMenusCore.h"
#include "UcxSysUtils.h"

FW_IMPLEMENT_CLASS(TUcxControlActionLink)
FW_IMPLEMENT_CLASS(TUcxWinControlActionLink)
FW_IMPLEMENT_CLASS(TUcxButtonActionLink)
FW_IMPLEMENT_CLASS(TUcxMenuActionLink)

namespace {

TCustomAction* CustomOf(TBasicAction* action) {
  return dynamic_cast<TCustomAction*>(action);
}

// The shared rules of the control links.
bool ControlCaptionLinked(TControl* client, TBasicAction* action) {
  TCustomAction* custom = CustomOf(action);
  return custom && GetActionWideCaption(custom) == WideControlGetText(client);
}

bool ControlHintLinked(TControl* client, TBasicAction* action) {
  TCustomAction* custom = CustomOf(action);
  return custom && GetActionWideHint(custom) == WideControlGetHint(client);
}

bool ReadControlTexts(TPersistent* source, WideString& text, WideString& hint) {
  auto* control = dynamic_cast<TControl*>(source);
  if (!control) return false;
  text = WideControlGetText(control);
  hint = WideControlGetHint(control);
  return true;
}

}  // namespace

#define UCX_CONTROL_LINK(Cls)                                                                   \
  bool Cls::IsCaptionLinked() {                                                                 \
    return inherited::IsCaptionLinked() && ControlCaptionLinked(client_, action_);              \
  }                                                                                             \
  bool Cls::IsHintLinked() {                                                                    \
    return inherited::IsHintLinked() && ControlHintLinked(client_, action_);                    \
  }                                                                                             \
  void Cls::SetCaption(const std::string& value) {                                              \
    if (IsCaptionLinked()) WideControlSetText(client_, ActionCaptionForClient(action_, value)); \
  }                                                                                             \
  void Cls::SetHint(const std::string& value) {                                                 \
    if (IsHintLinked()) WideControlSetHint(client_, ActionHintForClient(action_, value));       \
  }

UCX_CONTROL_LINK(TUcxControlActionLink)
UCX_CONTROL_LINK(TUcxWinControlActionLink)
UCX_CONTROL_LINK(TUcxButtonActionLink)

bool TUcxMenuActionLink::IsCaptionLinked() {
  TCustomAction* custom = CustomOf(action_);
  return inherited::IsCaptionLinked() && custom &&
         WideSameCaption(GetActionWideCaption(custom), WideMenuItemGetCaption(client_));
}

bool TUcxMenuActionLink::IsHintLinked() {
  TCustomAction* custom = CustomOf(action_);
  return inherited::IsHintLinked() && custom && GetActionWideHint(custom) == WideGetMenuItemHint(client_);
}

void TUcxMenuActionLink::SetCaption(const std::string& value) {
  if (IsCaptionLinked()) WideMenuItemSetCaption(client_, ActionCaptionForClient(action_, value));
}

void TUcxMenuActionLink::SetHint(const std::string& value) {
  if (IsHintLinked()) WideMenuItemSetHint(client_, ActionHintForClient(action_, value));
}

void ApplyActionToControl(TControl* control, TObject* sender, bool checkDefaults) {
  auto* action = dynamic_cast<TCustomAction*>(sender);
  if (!action || !dynamic_cast<IWideTextAction*>(action)) return;
  const WideString text = WideControlGetText(control);
  if (!checkDefaults || text.empty() || text == WidenFromAnsi(control->Name()))
    WideControlSetText(control, GetActionWideCaption(action));
  if (!checkDefaults || WideControlGetHint(control).empty()) WideControlSetHint(control, GetActionWideHint(action));
}

TBasicActionLinkClass WideActionLinkClassFor(TControl* control, TBasicActionLinkClass frameworkClass) {
  TBasicActionLinkClass chosen;
  if (dynamic_cast<TButtonControl*>(control))
    chosen = &TUcxButtonActionLink::StaticClass();
  else if (dynamic_cast<TWinControl*>(control))
    chosen = &TUcxWinControlActionLink::StaticClass();
  else
    chosen = &TUcxControlActionLink::StaticClass();
  UcxAssert(chosen->parent == frameworkClass, "UcxActnList");
  return chosen;
}

void InitUcxActnList() {
  SetControlWideTextReader(&ReadControlTexts);
}
