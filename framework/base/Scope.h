// Scope objects: work that must happen when a block is left, however it is
// left (normally, by return or by an exception).
//
//   TScopeExit restore([&] { Delimiter = saved; });   // runs the action at the end of the block
//   TUpdateScope update(*strings);                    // BeginUpdate now, EndUpdate at the end
#pragma once

#include <exception>
#include <type_traits>
#include <utility>

#include "Swallow.h"

// Runs an action when the block ends, unless Release() was called first.
// The action must not throw (it may run while an exception unwinds).
template <class F>
class TScopeExit {
 public:
  explicit TScopeExit(F action) noexcept(std::is_nothrow_move_constructible_v<F>) : action_(std::move(action)) {}
  ~TScopeExit() {
    if (active_) action_();
  }
  TScopeExit(const TScopeExit&) = delete;
  TScopeExit& operator=(const TScopeExit&) = delete;

  // Keeps the action from running (the block's work is to stand).
  void Release() noexcept { active_ = false; }

 private:
  F action_;
  bool active_ = true;
};

// Brackets a block with target.BeginUpdate() and target.EndUpdate(). An error
// raised by EndUpdate (a change handler) reaches the caller when the block
// ends normally; while another error unwinds, that first error goes on and the
// second one is swallowed.
template <class T>
class TUpdateScope {
 public:
  explicit TUpdateScope(T& target) : target_(target), unwinding_(std::uncaught_exceptions()) { target_.BeginUpdate(); }
  ~TUpdateScope() noexcept(false) {
    if (std::uncaught_exceptions() <= unwinding_) {
      target_.EndUpdate();
      return;
    }
    try {
      target_.EndUpdate();
    } catch (...) {
      SwallowException("TUpdateScope: ending an update while an earlier error unwinds");
    }
  }
  TUpdateScope(const TUpdateScope&) = delete;
  TUpdateScope& operator=(const TUpdateScope&) = delete;

 private:
  T& target_;
  int unwinding_;
};
