#include "Exceptions.h"

void Abort() {
  throw EAbort("Operation aborted");
}

void Assert(bool condition, const std::string& message, const char* file, int line) {
  if (condition) return;
  std::string text = message.empty() ? std::string("Assertion failed") : message;
  throw EAssertionFailed(text + " (" + (file ? file : "") + ", line " + std::to_string(line) + ")");
}
