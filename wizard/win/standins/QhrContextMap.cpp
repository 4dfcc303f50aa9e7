#include "QhrContextMap.h"

FW_BEGIN_CLASS(THelpContextMap)
  FW_PROP(FileName, FileName, FileName)
FW_END_CLASS

void InitQhrContextMap() {
  RegisterClasses({&THelpContextMap::StaticClass()});
}
