#include "ComObject.h"

#include "Forms.h"

namespace {
std::atomic<long> g_liveObjects{0};
}

namespace comobject_detail {
void CountObject(long delta) {
  g_liveObjects += delta;
}
}  // namespace comobject_detail

long LiveComObjects() {
  return g_liveObjects;
}

void HandleComException(std::exception_ptr error) {
  try {
    if (Application) Application->HandleException(nullptr, error);
  } catch (...) {
    // Nothing more can be done inside a system callback.
  }
}
