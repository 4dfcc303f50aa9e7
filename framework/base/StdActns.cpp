#include "StdActns.h"

FW_BEGIN_CLASS(THintAction)
FW_PROP(Hint, GetHint, SetHint)
FW_END_CLASS
