// Standard actions: the hint action, which carries the application's current
// hint to components that show hints (a status line). The application runs
// one whenever its hint changes and nobody handles OnHint. The edit actions
// (cut, copy, paste, delete, select all) are carried out by the focused
// control that knows them, through its ExecuteAction and UpdateAction.
#pragma once

#include "ActnList.h"

class THintAction : public TCustomAction {
  FW_CLASS(THintAction, TCustomAction)
 public:
  // Stays enabled without an execute handler, so it reaches the dispatch.
  explicit THintAction(TComponent* owner) : TCustomAction(owner) { DisableIfNoHandler = false; }
};

// The edit actions stay enabled without an execute handler, so they reach the
// controls; each control decides what they do to it.
class TEditAction : public TCustomAction {
  FW_CLASS(TEditAction, TCustomAction)
 public:
  explicit TEditAction(TComponent* owner) : TCustomAction(owner) { DisableIfNoHandler = false; }
};

class TEditCut : public TEditAction {
  FW_CLASS(TEditCut, TEditAction)
 public:
  using TEditAction::TEditAction;
};

class TEditCopy : public TEditAction {
  FW_CLASS(TEditCopy, TEditAction)
 public:
  using TEditAction::TEditAction;
};

class TEditPaste : public TEditAction {
  FW_CLASS(TEditPaste, TEditAction)
 public:
  using TEditAction::TEditAction;
};

class TEditDelete : public TEditAction {
  FW_CLASS(TEditDelete, TEditAction)
 public:
  using TEditAction::TEditAction;
};

class TEditSelectAll : public TEditAction {
  FW_CLASS(TEditSelectAll, TEditAction)
 public:
  using TEditAction::TEditAction;
};
