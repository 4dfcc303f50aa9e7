// The platform line (GetPlatformId) from the operating-system version query.
#pragma once

// Reads the framework's platform and version variables from the system (1 on
// the Windows 9x line, 2 on the NT line), which GetPlatformId reports; called
// once at start-up. Leaves them unchanged when the query fails.
void InitPlatformId();
