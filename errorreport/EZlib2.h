// The library's layer over zlib: inflating a whole buffer.
#pragma once

#include <cstddef>
#include <string>

#include "Exceptions.h"

// Raised with zlib's message for a failed call.
FW_EXCEPTION(EZLibError, Exception);

// The most that InflateBuffer produces before it gives up (the input comes
// from outside the program).
constexpr std::size_t kMaxInflatedSize = 256u * 1024u * 1024u;

// Inflates one zlib stream into `output`; 0 on success. The output grows in
// steps of the input size rounded up to 256. A broken, truncated or oversized
// stream raises EZLibError and leaves `output` empty.
int InflateBuffer(const void* input, std::size_t inputSize, std::string& output,
                  std::size_t maxOutput = kMaxInflatedSize);
