// A 64-bit millisecond tick count made from the 32-bit one, which wraps after
// 49.7 days: the value last handed out is kept, and each new reading moves it
// on by the (wrapping) distance from that value. A reading that lies behind
// the kept value (one taken just before another thread's newer one was
// stored) returns the kept value, so the count never runs backwards. It stays
// right as long as it is read at least once every 24.8 days.
#pragma once

#include <atomic>
#include <cstdint>

inline std::uint64_t ExtendTickCount(std::atomic<std::uint64_t>& kept, std::uint32_t now) {
  std::uint64_t last = kept.load(std::memory_order_acquire);
  for (;;) {
    std::uint64_t next;
    if (last == 0) {
      next = now;  // the first reading
    } else {
      const std::uint32_t ahead = now - static_cast<std::uint32_t>(last);
      if (ahead >= 0x80000000u) return last;  // an older reading
      next = last + ahead;
    }
    if (next == last || kept.compare_exchange_weak(last, next, std::memory_order_acq_rel)) return next;
  }
}
