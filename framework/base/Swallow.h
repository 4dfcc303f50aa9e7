// Errors that are caught and deliberately dropped ("swallowed"): clean-up that
// must not fail its caller, handlers that nothing may escape. Each such place
// names itself with SwallowException inside its catch (...) block, so a hook
// (the debug log on Windows, later the exception report) can still see it.
#pragma once

#include <exception>

// Receives the label of the place and the error being dropped. May run on
// any thread; an exception it raises is dropped in its turn.
using TSwallowedExceptionHook = void (*)(const char* where, const std::exception_ptr& error);

// Reports the exception being handled (std::current_exception()) to the hook
// under `where`, a literal like "TNokiaPhone.Disconnect: releasing the link".
// Does nothing without a hook. Never throws.
void SwallowException(const char* where) noexcept;

// Installs `hook` (nullptr: none) and returns the one it replaces.
TSwallowedExceptionHook SetSwallowedExceptionHook(TSwallowedExceptionHook hook) noexcept;
TSwallowedExceptionHook GetSwallowedExceptionHook() noexcept;
