#include "UcxStdActns.h"

#include "UcxClasses.h"

FW_BEGIN_CLASS(TUcxHintAction)
  FW_PROP(Hint, ReadHint, SetWideHint)
FW_END_CLASS

void TUcxHintAction::DefineProperties(TFiler& filer) {
  inherited::DefineProperties(filer);
  DefineWideProperties(filer, this);
}

void TUcxHintAction::Assign(TPersistent* source) {
  inherited::Assign(source);
  CopyActionTexts(this, source);
}
