// The memory manager's fast path: 10,000,000 allocate/free pairs of 64 bytes
// through the global operator new and delete (the default manager: one load
// and one indirect call over the C runtime), beside the same pairs straight
// through malloc/free. Goal: the manager adds under 5 ns per pair.
#include <cstdio>
#include <cstdlib>
#include <new>

#include "MemoryManager.h"
#include "PairedTimes.h"

namespace {

constexpr int kPairs = 10'000'000;  // in all, over the turns
void* volatile g_sink;

template <class Alloc, class Release>
void AllocateAndFree(Alloc alloc, Release release) {
  for (int i = 0; i < kPairs / 10; ++i) {
    g_sink = alloc();
    release(g_sink);
  }
}

}  // namespace

int main() {
  if (!IsDefaultMemoryManager()) {
    std::printf("the default memory manager is not installed\n");
    return 1;
  }
  // The two in turns, a tenth of the pairs each time; the overhead is taken pair by pair.
  const TPairedTimes times = TimePaired(
      9, [] { AllocateAndFree([] { return std::malloc(64); }, [](void* p) { std::free(p); }); },
      [] { AllocateAndFree([] { return ::operator new(64); }, [](void* p) { ::operator delete(p); }); });
  const double perPair = 1e9 / (kPairs / 10);
  std::printf("64-byte allocate/free pairs: malloc/free %.1f ns, operator new/delete through the manager %.1f ns\n",
              times.first * perPair, times.second * perPair);
  std::printf("manager overhead %.1f ns per pair, pair by pair (goal: under 5 ns)\n", times.difference * perPair);
  return 0;
}
