// Icons on the clipboard: a clipboard format of their own, "Lunder Icon",
// which the picture registry maps to the framework's icon.
#pragma once

#include <cstdint>

// The unit's start-up: registers the format with the system and with the
// picture registry for TIcon. Running it again is harmless.
void InitClipIcon();
// The format's number (0 before start-up).
std::uint32_t IconClipboardFormat();
