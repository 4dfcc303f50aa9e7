#include "QVCtrls.h"

FW_BEGIN_CLASS(TQvLabel)
  FW_PROP(ShadowColor, ShadowColor, ShadowColor)
  FW_PROP(ShadowSize, ShadowSize, ShadowSize)
  FW_DEFAULT(1)
  FW_PROP(ShadowPos, ShadowPos, ShadowPos)
  FW_DEFAULT(spLeftTop)
FW_END_CLASS

void InitQVCtrls() {
  RegisterClasses({&TQvLabel::StaticClass()});
}
