// A million allocate/free pairs of 64 bytes through the leak catcher, with
// the catcher off (straight to the base allocator) and on (header, footer,
// list), printed side by side; the goal is under 1 us per pair with it on.
// Then the shut-down report over 100,000 live blocks from 1,000 call sites,
// beside the time their allocation took (goal: under 3 s).
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "PairedTimes.h"
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

// Code memory: 1,000 direct calls, eight bytes apart, into the image itself;
// everything outside the image counts as readable data and is never read.
constexpr std::uint32_t kCode = 0x00401000;
class CodeAndData : public MemoryReader {
 public:
  CodeAndData() {
    std::vector<std::uint8_t> image(4 * 4096, 0x90);
    for (std::uint32_t at = 16; at + 8 <= image.size(); at += 8) {
      const std::uint32_t rel = 0u - (at + 5u);
      image[at] = 0xE8;
      std::memcpy(&image[at + 1], &rel, 4);
    }
    code_.AddRegion(kCode, image);
  }
  bool IsReadable(std::uint64_t address, std::size_t length) override {
    return address >= kCode + 4 * 4096 || address + length <= kCode || code_.IsReadable(address, length);
  }
  bool Read(std::uint64_t address, void* buffer, std::size_t length) override {
    return code_.Read(address, buffer, length);
  }

 private:
  RegionMemoryReader code_;
};

class CallSites : public LeakStackRecorder {
 public:
  void Record(bool, std::uintptr_t* rawStack, std::uintptr_t*) override {
    rawStack[0] = kCode + 16u + 8u * (site % 1000u) + 5u;
    rawStack[1] = kCode + 16u + 8u * ((site + 1) % 1000u) + 5u;
  }
  std::uint32_t site = 0;
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
  // Off and on in turns, a tenth of the pairs each time.
  const TPairedTimes times = TimePaired(
      9, [&] { NanosecondsPerPair(off, kPairs / 10); }, [&] { NanosecondsPerPair(on, kPairs / 10); });
  on.Free(kept);
  const double plain = times.first * 1e9 / (kPairs / 10), caught = times.second * 1e9 / (kPairs / 10);
  std::printf("leak catcher, %d allocate/free pairs of 64 bytes, off and on in turns:\n", kPairs);
  std::printf("  catcher off (reference): %8.1f ns per pair\n", plain);
  std::printf("  catcher on:              %8.1f ns per pair (%.1fx pair by pair; goal: under 1000 ns: %s)\n", caught,
              times.ratio, caught < 1000.0 ? "met" : "MISSED");

  constexpr int kLive = 100000;
  CodeAndData code;
  CallSites sites;
  TLeakCatcher report(base, code, &sites);
  report.Start(kLeakCatcherOn | kLeakFreeAfterReport);
  int reported = 0;
  report.Handlers().Leak = [&](const std::string&, std::int64_t, int, const std::uintptr_t*) { ++reported; };
  auto start = std::chrono::steady_clock::now();
  for (int i = 0; i < kLive; ++i) {
    sites.site = static_cast<std::uint32_t>(i);
    report.Allocate(16 + static_cast<std::size_t>(i % 3) * 8);
  }
  const std::chrono::duration<double> allocated = std::chrono::steady_clock::now() - start;
  start = std::chrono::steady_clock::now();
  report.Finalize();
  const std::chrono::duration<double> reportTook = std::chrono::steady_clock::now() - start;
  std::printf("leak report over %d live blocks from 1000 call sites (%d leaks reported, blocks freed after):\n", kLive,
              reported);
  std::printf("  allocating them (reference): %8.3f s\n", allocated.count());
  std::printf("  the report:                  %8.3f s (goal: under 3 s: %s)\n", reportTook.count(),
              reportTook.count() < 3.0 ? "met" : "MISSED");
  return 0;
}
