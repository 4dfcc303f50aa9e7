#include "UcxActnListCore.h"

#include "UcxClasses.h"
#include "UcxControlsCore.h"
#include "UcxSysUtils.h"

FW_IMPLEMENT_CLASS(TCustomActionHelper)

FW_BEGIN_CLASS(TUcxAction)
  FW_PROP(Caption, ReadCaption, SetWideCaption)
  FW_PROP(Hint, ReadHint, SetWideHint)
FW_END_CLASS

namespace {
ControlWideTextReader g_controlReader = nullptr;
}

void UcxAssert(bool condition, const char* unit) {
  if (!condition) throw EUcxInternalError(std::string("Assertion failed (") + unit + ")");
}

WideString TCustomActionHelper::Read(TextState& state, const std::string& ansi) {
  if (state.setting && ansi != state.ansiBeingSet) return state.previous;
  return GetSyncedWideString(state.synced, ansi);
}

void TCustomActionHelper::Write(TextState& state, const WideString& value, bool caption) {
  state.previous = Read(state, caption ? AnsiCaption() : AnsiHint());
  state.ansiBeingSet = NarrowToAnsi(value);
  state.setting = true;
  try {
    SetSyncedWideString(value, state.synced, caption ? AnsiCaption() : AnsiHint(), [&](const std::string& ansi) {
      if (ansi.empty() && !state.ansiBeingSet.empty()) state.previous.clear();
      if (!Action) return;
      if (caption)
        Action->SetCaption(ansi);
      else
        Action->SetHint(ansi);
    });
  } catch (...) {
    state.setting = false;
    throw;
  }
  state.setting = false;
}

void TCustomActionHelper::SetCaption(const WideString& value) {
  Write(caption_, value, true);
}

void TCustomActionHelper::SetHint(const WideString& value) {
  Write(hint_, value, false);
}

WideString TCustomActionHelper::ForClient(TextState& state, const std::string& ansiValue) {
  if (state.setting && ansiValue == state.ansiBeingSet) return state.synced;
  return WidenFromAnsi(ansiValue);
}

TCustomActionHelper* FindActionHelper(TCustomAction* action) {
  UcxAssert(action != nullptr, "UcxActnList");
  if (!dynamic_cast<IWideTextAction*>(action)) return nullptr;
  for (int i = 0; i < action->ComponentCount(); ++i)
    if (auto* helper = dynamic_cast<TCustomActionHelper*>(action->Components(i))) return helper;
  auto* helper = New<TCustomActionHelper>(action);
  helper->Action = action;
  return helper;
}

WideString GetActionWideCaption(TCustomAction* action) {
  if (TCustomActionHelper* helper = FindActionHelper(action)) return helper->GetCaption();
  return WidenFromAnsi(action->GetCaption());
}

WideString GetActionWideHint(TCustomAction* action) {
  if (TCustomActionHelper* helper = FindActionHelper(action)) return helper->GetHint();
  return WidenFromAnsi(action->GetHint());
}

void SetActionWideCaption(TCustomAction* action, const WideString& value) {
  if (TCustomActionHelper* helper = FindActionHelper(action))
    helper->SetCaption(value);
  else
    action->SetCaption(NarrowToAnsi(value));
}

void SetActionWideHint(TCustomAction* action, const WideString& value) {
  if (TCustomActionHelper* helper = FindActionHelper(action))
    helper->SetHint(value);
  else
    action->SetHint(NarrowToAnsi(value));
}

WideString ActionCaptionForClient(TBasicAction* action, const std::string& ansiValue) {
  if (auto* custom = dynamic_cast<TCustomAction*>(action))
    if (TCustomActionHelper* helper = FindActionHelper(custom)) return helper->CaptionForClient(ansiValue);
  return WidenFromAnsi(ansiValue);
}

WideString ActionHintForClient(TBasicAction* action, const std::string& ansiValue) {
  if (auto* custom = dynamic_cast<TCustomAction*>(action))
    if (TCustomActionHelper* helper = FindActionHelper(custom)) return helper->HintForClient(ansiValue);
  return WidenFromAnsi(ansiValue);
}

void SetControlWideTextReader(ControlWideTextReader reader) {
  g_controlReader = reader;
}

void CopyActionTexts(TCustomAction* action, TPersistent* source) {
  if (auto* from = dynamic_cast<TCustomAction*>(source)) {
    action->SetCaption(NarrowToAnsi(GetActionWideCaption(from)));
    action->SetHint(NarrowToAnsi(GetActionWideHint(from)));
    return;
  }
  WideString text, hint;
  if (g_controlReader && g_controlReader(source, text, hint)) {
    action->SetCaption(NarrowToAnsi(text));
    action->SetHint(NarrowToAnsi(hint));
  }
}

void TUcxAction::DefineProperties(TFiler& filer) {
  inherited::DefineProperties(filer);
  DefineWideProperties(filer, this);
}

void TUcxAction::Assign(TPersistent* source) {
  inherited::Assign(source);
  CopyActionTexts(this, source);
}
