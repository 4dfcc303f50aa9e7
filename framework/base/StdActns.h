// Standard actions: the hint action, which carries the application's current
// hint to components that show hints (a status line). The application runs
// one whenever its hint changes and nobody handles OnHint.
#pragma once

#include "ActnList.h"

class THintAction : public TCustomAction {
  FW_CLASS(THintAction, TCustomAction)
 public:
  // Stays enabled without an execute handler, so it reaches the dispatch.
  explicit THintAction(TComponent* owner) : TCustomAction(owner) { DisableIfNoHandler = false; }
};
