#include "UcxStdCtrls.h"

FW_IMPLEMENT_CLASS(TUcxLabel)

void InitUcxStdCtrls() {
  RegisterClasses({&TUcxLabel::StaticClass()});
}
