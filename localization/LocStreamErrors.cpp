#include "LocStreamErrors.h"

#include <string>

#include "ByteReader.h"

[[noreturn]] void RaisePackedReadError() {
  throw EByteRange("Stream read error");
}

[[noreturn]] void RaisePackedWriteError(std::uint64_t length) {
  throw std::length_error("Stream write error: a packed length of " + std::to_string(length) + " does not fit");
}
