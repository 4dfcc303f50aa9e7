// THelpRouter: routes the application's help requests to the help engine of
// the help file. This plain version keeps its settings and leaves the
// requests to the application (Application->HelpContext and its OnHelp).
#pragma once

#include <string>

#include "Component.h"

FW_ENUM(THelpType, htWinhelp, htHTMLhelp, htMixedMode);
FW_ENUM(TShowType, stDefault, stMain, stPopup);

class THelpRouter : public TComponent {
  FW_CLASS(THelpRouter, TComponent)
 public:
  explicit THelpRouter(TComponent* owner) : TComponent(owner) {}
  THelpType HelpType = htWinhelp;
  TShowType ShowType = stDefault;
  std::string Helpfile;
  std::string CHMPopupTopics = "CSHelp.txt";
  bool ValidateID = false;
};

// The unit's initialization: registers the class for form streaming.
void InitQhrHelpRouter();
