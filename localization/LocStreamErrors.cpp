#include "LocStreamErrors.h"

#include <string>

#include "Exceptions.h"
#include "SysUtils.h"

[[noreturn]] void RaisePackedReadError() {
  throw EReadError(LoadResString(SStreamReadError));
}

[[noreturn]] void RaisePackedWriteError(std::uint64_t length) {
  throw EWriteError(Format(LoadResString(SPackedLengthTooLarge), length));
}
