// Wide actions, their portable half: an action that carries a wide caption and
// hint to its clients unchanged (TUcxAction), the helper component that keeps
// those texts beside the framework's ANSI ones, and the routines the Unicode
// controls and menu items use to read, write and hand on an action's texts.
//
// An action marked with IWideTextAction keeps its wide texts in a
// TCustomActionHelper it owns; any other action falls back to its ANSI texts.
//
// The helper's caption (the hint works alike): while a new caption is being
// set, the framework tells the action's links before it stores the new ANSI
// caption, so a link asking then (ActionCaptionForClient) gets the new wide
// text, while a reader of the action's caption still gets the previous one.
#pragma once

#include <string>

#include "ActnList.h"
#include "StdActns.h"
#include "Types.h"

// The marker of actions whose texts are wide. It has no operations of its own;
// the helper is an owned component, so nothing is reference-counted.
class IWideTextAction {
 public:
  virtual ~IWideTextAction() = default;
};
inline constexpr const char* IID_IWideTextAction = "{59D0AE37-8161-4AD6-9102-14B28E5761EB}";

// The wide caption and hint of one action, owned by it (never streamed).
class TCustomActionHelper : public TComponent {
  FW_CLASS(TCustomActionHelper, TComponent)
 public:
  explicit TCustomActionHelper(TComponent* owner) : TComponent(owner) {}
  TCustomAction* Action = nullptr;

  WideString GetCaption() { return Read(caption_, AnsiCaption()); }
  void SetCaption(const WideString& value);
  WideString GetHint() { return Read(hint_, AnsiHint()); }
  void SetHint(const WideString& value);
  // The text a link hands its client for the ANSI value it was told.
  WideString CaptionForClient(const std::string& ansiValue) { return ForClient(caption_, ansiValue); }
  WideString HintForClient(const std::string& ansiValue) { return ForClient(hint_, ansiValue); }

 private:
  struct TextState {
    WideString synced;     // paired with the action's ANSI value
    bool setting = false;  // a new value is being set
    WideString previous;   // what readers get meanwhile
    std::string ansiBeingSet;
  };
  std::string AnsiCaption() const { return Action ? Action->GetCaption() : std::string(); }
  std::string AnsiHint() const { return Action ? Action->GetHint() : std::string(); }
  static WideString Read(TextState& state, const std::string& ansi);
  void Write(TextState& state, const WideString& value, bool caption);
  static WideString ForClient(TextState& state, const std::string& ansiValue);
  TextState caption_, hint_;
};

// The action's helper: null for an action without IWideTextAction (nothing is
// made then); else the first helper it owns, or a new one. A null action is a
// caller's fault (EUcxInternalError).
TCustomActionHelper* FindActionHelper(TCustomAction* action);

WideString GetActionWideCaption(TCustomAction* action);
WideString GetActionWideHint(TCustomAction* action);
void SetActionWideCaption(TCustomAction* action, const WideString& value);
void SetActionWideHint(TCustomAction* action, const WideString& value);

// The caption / hint a link gives its client for `ansiValue`: widened, or, while
// the action's helper is setting exactly that text, the helper's wide text.
WideString ActionCaptionForClient(TBasicAction* action, const std::string& ansiValue);
WideString ActionHintForClient(TBasicAction* action, const std::string& ansiValue);

// After an Assign: the action's ANSI caption and hint become the narrowed wide
// texts of `source` (a custom action, or a control through the installed reader).
void CopyActionTexts(TCustomAction* action, TPersistent* source);
// The wide text and hint of a control (installed by the Windows half); false
// when `source` is not a control.
using ControlWideTextReader = bool (*)(TPersistent* source, WideString& text, WideString& hint);
void SetControlWideTextReader(ControlWideTextReader reader);

// Raises EUcxInternalError "Assertion failed (<unit>)" unless `condition` holds.
void UcxAssert(bool condition, const char* unit);

class TUcxAction : public TAction, public IWideTextAction {
  FW_CLASS(TUcxAction, TAction)
 public:
  explicit TUcxAction(TComponent* owner) : TAction(owner) {}
  void DefineProperties(TFiler& filer) override;
  void Assign(TPersistent* source) override;
  WideString GetWideCaption() { return GetActionWideCaption(this); }
  void SetWideCaption(const WideString& v) { SetActionWideCaption(this, v); }
  WideString GetWideHint() { return GetActionWideHint(this); }
  void SetWideHint(const WideString& v) { SetActionWideHint(this, v); }
  // For the property table (the getters make the helper on their first use).
  WideString ReadCaption() const { return const_cast<TUcxAction*>(this)->GetWideCaption(); }
  WideString ReadHint() const { return const_cast<TUcxAction*>(this)->GetWideHint(); }
};
