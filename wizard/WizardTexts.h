// Resource strings of the wizard that carry their native text, so they read
// the same where no string table holds them.
#pragma once

#include "ResStrings.h"

// Shown when the found phones' connection settings could not be saved as the
// wizard closes; the error's own message may follow after an empty line.
inline constexpr ResString SConnectionsNotSaved{65267, 0, "The connection settings could not be saved for Corvessa."};
