// The platform line (GetPlatformId) from the operating-system version query.
#pragma once

// Sets GetPlatformId to the system's platform identifier (1 on the Windows 9x
// line, 2 on the NT line); called once at start-up. Leaves it unchanged when
// the query fails.
void InitPlatformId();
