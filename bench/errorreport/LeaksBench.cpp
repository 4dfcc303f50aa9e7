// A million allocate/free pairs of 64 bytes through the leak catcher, with
// the catcher off (straight to the base allocator) and on (header, footer,
// list), printed side by side; the goal is under 1 us per pair with it on.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "ELeaks.h"

namespace {

class MallocBase : public LeakBaseAllocator {
 public:
  void* Allocate(std::size_t size) override { return std::malloc(size); }
  void Free(void* block) override { std::free(block); }
  void* Reallocate(void* block, std::size_t size) override { return std::realloc(block, size); }
};

// The benchmark frees only blocks it allocated, so every header is readable.
class OwnMemory : public MemoryReader {
 public:
  bool IsReadable(std::uint64_t, std::size_t) override { return true; }
  bool Read(std::uint64_t address, void* buffer, std::size_t length) override {
    std::memcpy(buffer, reinterpret_cast<const void*>(static_cast<std::uintptr_t>(address)), length);
    return true;
  }
};

// A recorder that fills what a frame walk of a few frames would.
class FewFrames : public LeakStackRecorder {
 public:
  void Record(bool, std::uintptr_t* rawStack, std::uintptr_t* frames) override {
    for (int i = 0; i < 8; ++i) rawStack[i] = frames[i] = 0x401000u + 16u * static_cast<unsigned>(i);
  }
};

double NanosecondsPerPair(TLeakCatcher& catcher, int pairs) {
  void* volatile sink = nullptr;
  const auto start = std::chrono::steady_clock::now();
  for (int i = 0; i < pairs; ++i) {
    void* p = catcher.Allocate(64);
    static_cast<char*>(p)[0] = static_cast<char>(i);
    sink = p;
    catcher.Free(sink);
  }
  const std::chrono::duration<double, std::nano> took = std::chrono::steady_clock::now() - start;
  return took.count() / pairs;
}

}  // namespace

int main() {
  constexpr int kPairs = 1000000;
  MallocBase base;
  OwnMemory memory;
  FewFrames recorder;
  TLeakCatcher off(base, memory, &recorder);
  off.Start(0);
  TLeakCatcher on(base, memory, &recorder);
  on.Start(kLeakCatcherOn | kLeakReportFaults);
  // A kept block makes the list non-empty, as in a running program.
  void* kept = on.Allocate(16);
  NanosecondsPerPair(off, kPairs / 10);  // warm-up
  const double plain = NanosecondsPerPair(off, kPairs);
  const double caught = NanosecondsPerPair(on, kPairs);
  on.Free(kept);
  std::printf("leak catcher, %d allocate/free pairs of 64 bytes:\n", kPairs);
  std::printf("  catcher off (reference): %8.1f ns per pair\n", plain);
  std::printf("  catcher on:              %8.1f ns per pair (%.1fx; goal: under 1000 ns: %s)\n", caught,
              plain > 0 ? caught / plain : 0.0, caught < 1000.0 ? "met" : "MISSED");
  return 0;
}
