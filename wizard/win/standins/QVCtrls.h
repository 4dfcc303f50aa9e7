// TQvLabel: a label whose caption can carry a one-colour shadow. This plain
// version draws the caption as the framework's label does (the wizard's title
// uses no shadow) and keeps the shadow settings.
#pragma once

#include <cstdint>

#include "StdCtrls.h"

FW_ENUM(TShadowPosition, spLeftTop, spLeftBottom, spRightBottom, spRightTop);

class TQvLabel : public TLabel {
  FW_CLASS(TQvLabel, TLabel)
 public:
  explicit TQvLabel(TComponent* owner) : TLabel(owner) {}

  TColor ShadowColor = static_cast<TColor>(0x80000014u);  // clBtnHighlight
  std::uint8_t ShadowSize = 1;
  TShadowPosition ShadowPos = spLeftTop;
};

// The unit's initialization: registers the class for form streaming.
void InitQVCtrls();
