// TUcxLabel: a label with a wide caption. This plain version draws its caption
// as the framework's label does.
#pragma once

#include "StdCtrls.h"

class TUcxLabel : public TLabel {
  FW_CLASS(TUcxLabel, TLabel)
 public:
  explicit TUcxLabel(TComponent* owner) : TLabel(owner) {}
};

// The unit's initialization: registers the class for form streaming.
void InitUcxStdCtrls();
