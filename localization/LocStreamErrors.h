// The read and write errors raised by the packed-string routines.
#pragma once

#include <cstdint>

[[noreturn]] void RaisePackedReadError();
[[noreturn]] void RaisePackedWriteError(std::uint64_t length);
