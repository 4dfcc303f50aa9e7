// The wide names of the message-box buttons, in their fixed order: Yes, No, OK,
// Cancel, Abort, Retry, Ignore, All, NoToAll, YesToAll, Help. The table is
// filled by the unit's start and released by its end.
#pragma once

#include "Types.h"

inline constexpr int UcxButtonNameCount = 11;
// The name at `index` (0-based); empty outside the table or while it is not filled.
WideString UcxButtonName(int index);

void InitUcxButtonNames();
void DoneUcxButtonNames() noexcept;
