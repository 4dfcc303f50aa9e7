#include "LocStreamErrors.h"

#include <string>

#include "Exceptions.h"

[[noreturn]] void RaisePackedReadError() {
  throw EReadError("Stream read error");
}

[[noreturn]] void RaisePackedWriteError(std::uint64_t length) {
  throw EWriteError("Stream write error: a packed length of " + std::to_string(length) + " does not fit");
}
