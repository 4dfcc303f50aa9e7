// Wide actions on Win32: the link classes that carry an action's wide caption
// and hint to menu items, buttons, windowed controls and plain controls, and
// the action handling of the Unicode controls. (The layer has no tool bar, so
// no tool-button link.)
#pragma once

#include "Controls.h"
#include "Menus.h"
#include "StdCtrls.h"
#include "UcxActnListCore.h"

// Each link is linked for a caption while the framework's test holds and the
// wide texts agree; a linked client gets the wide text meant for it.
class TUcxControlActionLink : public TControlActionLink {
  FW_CLASS(TUcxControlActionLink, TControlActionLink)
 public:
  TUcxControlActionLink() = default;
  bool IsCaptionLinked() override;
  bool IsHintLinked() override;
  void SetCaption(const std::string& value) override;
  void SetHint(const std::string& value) override;
};

class TUcxWinControlActionLink : public TWinControlActionLink {
  FW_CLASS(TUcxWinControlActionLink, TWinControlActionLink)
 public:
  TUcxWinControlActionLink() = default;
  bool IsCaptionLinked() override;
  bool IsHintLinked() override;
  void SetCaption(const std::string& value) override;
  void SetHint(const std::string& value) override;
};

class TUcxButtonActionLink : public TButtonActionLink {
  FW_CLASS(TUcxButtonActionLink, TButtonActionLink)
 public:
  TUcxButtonActionLink() = default;
  bool IsCaptionLinked() override;
  bool IsHintLinked() override;
  void SetCaption(const std::string& value) override;
  void SetHint(const std::string& value) override;
};

// A menu item's caption stays linked while it differs from the action's only
// in its hot key and letter case; the hints must be equal.
class TUcxMenuActionLink : public TMenuActionLink {
  FW_CLASS(TUcxMenuActionLink, TMenuActionLink)
 public:
  TUcxMenuActionLink() = default;
  bool IsCaptionLinked() override;
  bool IsHintLinked() override;
  void SetCaption(const std::string& value) override;
  void SetHint(const std::string& value) override;
};

// A wide action's caption and hint become the control's wide text and hint;
// with checkDefaults a text of its own (not empty, not its Name) and a hint of
// its own are kept. Nothing happens for other actions.
void ApplyActionToControl(TControl* control, TObject* sender, bool checkDefaults);
// The wide link class for `control`: a button's, a windowed control's or a
// plain control's. Its parent must be `frameworkClass` (EUcxInternalError otherwise).
TBasicActionLinkClass WideActionLinkClassFor(TControl* control, TBasicActionLinkClass frameworkClass);

// The unit's start: controls become a source of wide texts for CopyActionTexts.
void InitUcxActnList();
