#include "QhrHelpRouter.h"

FW_BEGIN_CLASS(THelpRouter)
  FW_PROP(HelpType, HelpType, HelpType)
  FW_PROP(ShowType, ShowType, ShowType)
  FW_DEFAULT(stDefault)
  FW_PROP(Helpfile, Helpfile, Helpfile)
  FW_PROP(CHMPopupTopics, CHMPopupTopics, CHMPopupTopics)
  FW_PROP(ValidateID, ValidateID, ValidateID)
FW_END_CLASS

void InitQhrHelpRouter() {
  RegisterClasses({&THelpRouter::StaticClass()});
}
