// The wide hint action: the framework's hint action with a wide Hint, which
// the application companion runs in place of the plain one.
#pragma once

#include "StdActns.h"
#include "UcxActnListCore.h"

class TUcxHintAction : public THintAction, public IWideTextAction {
  FW_CLASS(TUcxHintAction, THintAction)
 public:
  explicit TUcxHintAction(TComponent* owner) : THintAction(owner) {}
  void DefineProperties(TFiler& filer) override;
  // The framework's assignment, then the source's wide caption and hint narrowed.
  void Assign(TPersistent* source) override;
  WideString GetWideHint() { return GetActionWideHint(this); }
  void SetWideHint(const WideString& v) { SetActionWideHint(this, v); }
  WideString ReadHint() const { return const_cast<TUcxHintAction*>(this)->GetWideHint(); }
};
