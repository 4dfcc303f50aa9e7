#include "Swallow.h"

#include <atomic>

namespace {

std::atomic<TSwallowedExceptionHook> g_hook{nullptr};

}  // namespace

void SwallowException(const char* where) noexcept {
  const TSwallowedExceptionHook hook = g_hook.load();
  if (!hook) return;
  try {
    hook(where ? where : "", std::current_exception());
  } catch (...) {
    // the hook's own failure has nowhere left to go
  }
}

TSwallowedExceptionHook SetSwallowedExceptionHook(TSwallowedExceptionHook hook) noexcept {
  return g_hook.exchange(hook);
}

TSwallowedExceptionHook GetSwallowedExceptionHook() noexcept {
  return g_hook.load();
}
