// The read and write errors raised by the packed-string routines and the
// language-file reader.
#pragma once

#include <cstdint>

#include "ResStrings.h"

// Their texts, resource strings of the program; the write error's takes the
// length that does not fit.
inline constexpr ResString SStreamReadError{65235, 0, "Stream read error"};
inline constexpr ResString SPackedLengthTooLarge{65236, 0, "Stream write error: a packed length of %d does not fit"};

[[noreturn]] void RaisePackedReadError();
[[noreturn]] void RaisePackedWriteError(std::uint64_t length);
