#pragma once
// TSharedLock: the reader-writer lock to use wherever threads share one.
//
// The Windows builds' thread library finishes setting up a reader-writer lock
// on its first use, and when several threads make that first use at the same
// moment it can stall them for good (or let a reader in beside a writer). A
// TSharedLock is taken and let go once while it is made, by the one thread
// that makes it, so every later use finds it set up. Elsewhere that costs two
// uncontended calls. Use it as a std::shared_mutex (std::shared_lock,
// std::unique_lock).
#include <shared_mutex>

class TSharedLock : public std::shared_mutex {
 public:
  TSharedLock() {
    lock();
    unlock();
  }
  TSharedLock(const TSharedLock&) = delete;
  TSharedLock& operator=(const TSharedLock&) = delete;
};
