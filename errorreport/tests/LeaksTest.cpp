// The leak catcher over a fake base allocator and fake memory: fault checks
// at release, the shut-down report's grouping, limits and options, call
// address cleaning, and the list lock under contention.
#include "ELeaks.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <stdexcept>
#include <thread>
#include <utility>
#include <vector>

#include "ExceptionLog.h"
#include "Object.h"
#include "VLDataWriter.h"

namespace {

// Every block gets a zeroed lead-in, so that a look before a foreign block reads defined bytes.
constexpr std::size_t kLeadIn = 16;
constexpr std::size_t kPage = 4096;

// Readable: the code images of the test and the ranges added (the base
// allocator's arena); nothing else.
class LiveReader : public MemoryReader {
 public:
  bool IsReadable(std::uint64_t address, std::size_t length) override {
    ++probes;
    std::lock_guard<std::mutex> g(m_);  // the image reader counts its probes
    if (code.IsReadable(address, length)) return true;
    auto it = live_.upper_bound(address);
    if (it == live_.begin()) return false;
    --it;
    return address + length <= it->first + it->second;
  }
  bool Read(std::uint64_t address, void* buffer, std::size_t length) override {
    {
      std::lock_guard<std::mutex> g(m_);
      if (code.Read(address, buffer, length)) return true;
    }
    if (!IsReadable(address, length)) return false;
    std::memcpy(buffer, reinterpret_cast<const void*>(static_cast<std::uintptr_t>(address)), length);
    return true;
  }
  void AddLive(const void* p, std::size_t size) {
    std::lock_guard<std::mutex> g(m_);
    live_[reinterpret_cast<std::uintptr_t>(p)] = size;
  }

  RegionMemoryReader code;
  std::atomic<std::size_t> probes{0};

 private:
  std::mutex m_;
  std::map<std::uint64_t, std::size_t> live_;
};

// The base allocator: blocks come from one page-aligned arena and are never
// reused, so a block released twice can still be looked at.
class FakeBase : public LeakBaseAllocator {
 public:
  explicit FakeBase(LiveReader& reader) {
    raw_ = static_cast<std::uint8_t*>(std::calloc(1, kArena + kPage));
    arena_ = raw_ + (kPage - reinterpret_cast<std::uintptr_t>(raw_) % kPage);
    reader.AddLive(arena_, kArena);
  }
  ~FakeBase() override { std::free(raw_); }
  void* Allocate(std::size_t size) override {
    std::lock_guard<std::mutex> g(m_);
    used_ += kLeadIn;
    if (used_ + size > kArena) std::abort();
    void* block = arena_ + used_;
    used_ += (size + 15) / 16 * 16;
    all_[block] = size;
    live_.insert(block);
    return block;
  }
  void Free(void* block) override {
    std::lock_guard<std::mutex> g(m_);
    if (!all_.count(block)) {
      foreign.push_back(block);
      return;
    }
    if (!live_.erase(block)) ++doubleFrees;
    freed.push_back(block);
  }
  void* Reallocate(void* block, std::size_t size) override {
    std::size_t old = 0;
    {
      std::lock_guard<std::mutex> g(m_);
      if (!all_.count(block)) {
        foreignReallocated.push_back(block);
        return nullptr;
      }
      old = all_[block];
    }
    void* fresh = Allocate(size);
    std::memcpy(fresh, block, std::min(old, size));
    Free(block);
    return fresh;
  }
  std::size_t Live() {
    std::lock_guard<std::mutex> g(m_);
    return live_.size();
  }
  bool IsLive(void* block) {
    std::lock_guard<std::mutex> g(m_);
    return live_.count(block) != 0;
  }

  std::vector<void*> freed, foreign, foreignReallocated;
  int doubleFrees = 0;

 private:
  static constexpr std::size_t kArena = std::size_t{32} << 20;
  std::uint8_t* raw_ = nullptr;
  std::uint8_t* arena_ = nullptr;
  std::size_t used_ = 0;
  std::mutex m_;
  std::map<void*, std::size_t> all_;
  std::set<void*> live_;
};

// Hands out the stacks a test sets for the next allocations.
class FakeRecorder : public LeakStackRecorder {
 public:
  void Record(bool, std::uintptr_t* rawStack, std::uintptr_t* frames) override {
    for (std::size_t i = 0; i < raw.size() && i < kLeakStackEntries; ++i) rawStack[i] = raw[i];
    for (std::size_t i = 0; i < chain.size() && i < kLeakStackEntries; ++i) frames[i] = chain[i];
  }
  void RecordAt(const void* site, bool object, std::uintptr_t* rawStack, std::uintptr_t* frames) override {
    sites.push_back({site, object});
    Record(object, rawStack, frames);
  }
  std::vector<std::uintptr_t> raw, chain;
  std::vector<std::pair<const void*, bool>> sites;
};

// A code image of five pages with 2048 call sites from offset 16 on, each
// "E8 rel32" to the image's start, eight bytes apart; ReturnAt(i) is the
// address after site i.
constexpr std::uint32_t kCode = 0x00401000;
std::uintptr_t SiteAt(int i) {
  return kCode + 16u + 8u * static_cast<std::uint32_t>(i);
}
std::uintptr_t ReturnAt(int i) {
  return SiteAt(i) + 5u;
}

struct Leak {
  std::string type;
  std::int64_t size;
  int count;
  std::uintptr_t first;
};

class LeaksTest : public ::testing::Test {
 protected:
  LeaksTest() : base(reader), catcher(base, reader, &recorder) {
    std::vector<std::uint8_t> image(5 * 4096, 0x90);
    for (int i = 0; i < 2048; ++i) {
      const std::uint32_t at = 16u + 8u * static_cast<std::uint32_t>(i);
      const std::uint32_t rel = 0u - (at + 5u);
      image[at] = 0xE8;
      std::memcpy(&image[at + 1], &rel, 4);
    }
    reader.code.AddRegion(kCode, image);
    auto& h = catcher.Handlers();
    h.Overrun = [this](void* p) { overruns.push_back(p); };
    h.MultiFree = [this](void* p) { multiFrees.push_back(p); };
    h.LeaksBegin = [this] { ++begins; };
    h.LeaksEnd = [this] { ++ends; };
    h.Leak = [this](const std::string& type, std::int64_t size, int count, const std::uintptr_t* a) {
      leaks.push_back({type, size, count, a[0]});
    };
    h.EndOfRun = [this] { ++endOfRun; };
    h.Message = [this](const std::string& text, const std::string&) { messages.push_back(text); };
  }

  const ClassInfo* Class(const std::string& name, const ClassInfo* parent = nullptr) {
    auto c = std::make_unique<ClassInfo>();
    c->name = name;
    c->parent = parent;
    classes.push_back(std::move(c));
    return classes.back().get();
  }
  // A block whose recorded stack starts at the return address after call site `site`.
  void* LeakFrom(int site, std::size_t size, const ClassInfo* cls = nullptr) {
    recorder.raw = {ReturnAt(site), ReturnAt(site + 1)};
    return cls ? catcher.AllocateInstance(size, cls) : catcher.Allocate(size);
  }

  LiveReader reader;
  FakeBase base;
  FakeRecorder recorder;
  TLeakCatcher catcher;
  std::deque<std::unique_ptr<ClassInfo>> classes;
  std::vector<void*> overruns, multiFrees;
  std::vector<Leak> leaks;
  std::vector<std::string> messages;
  int begins = 0, ends = 0, endOfRun = 0;
};

// Every entry hands the caller's site to the recorder with the block's kind.
TEST_F(LeaksTest, EntriesPassTheirCallSiteToTheRecorder) {
  catcher.Start(1);
  int a = 0, b = 0, c = 0;
  void* data = catcher.Allocate(8, &a);
  void* object = catcher.AllocateInstance(8, Class("TThing"), &b);
  data = catcher.Reallocate(data, 64, &c);
  using Site = std::pair<const void*, bool>;
  EXPECT_EQ(recorder.sites, (std::vector<Site>{{&a, false}, {&b, true}, {&c, false}}));
  catcher.Free(data);
  catcher.Free(object);
}

TEST_F(LeaksTest, WritesPastTheEndAreReportedAtReleaseWhenAsked) {
  struct Case {
    std::uint8_t options;
    std::size_t writeAt;  // 0: nothing written past the end
    std::size_t overruns;
  } cases[] = {
      {1 | kLeakReportFaults, 16, 1}, {1 | kLeakReportFaults, 19, 1}, {1 | kLeakReportFaults, 0, 0}, {1, 16, 0}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.writeAt);
    overruns.clear();
    catcher.Start(c.options);
    auto* p = static_cast<std::uint8_t*>(catcher.Allocate(16));
    std::memset(p, 0xAB, 16);
    if (c.writeAt) p[c.writeAt] ^= 0xFF;
    const std::size_t before = base.freed.size();
    catcher.Free(p);
    EXPECT_EQ(overruns.size(), c.overruns);
    if (c.overruns) {
      EXPECT_EQ(overruns[0], p);
    }
    ASSERT_EQ(base.freed.size(), before + 1);
    EXPECT_EQ(base.freed.back(), p - BlockOverHead);
    EXPECT_EQ(catcher.Head(), nullptr);
  }
}

TEST_F(LeaksTest, ASecondReleaseIsReportedAndNotPassedOn) {
  catcher.Start(1 | kLeakReportFaults);
  void* p = catcher.Allocate(24);
  void* keep = catcher.Allocate(8);
  catcher.Free(p);
  catcher.Free(p);
  EXPECT_EQ(catcher.Reallocate(p, 100), nullptr);
  ASSERT_EQ(multiFrees.size(), 2u);
  EXPECT_EQ(multiFrees[0], p);
  EXPECT_EQ(base.doubleFrees, 0);
  EXPECT_EQ(base.freed.size(), 1u);
  EXPECT_EQ(catcher.ListedBlocks(), 1u);
  EXPECT_EQ(catcher.Head(), catcher.RegisteredHeader(keep));
}

TEST_F(LeaksTest, LeaksFromOneCallSiteMakeOneReport) {
  catcher.Start(1);
  for (int i = 0; i < 3; ++i) LeakFrom(7, 16);
  LeakFrom(7, 20);  // another size: its own group
  catcher.Free(LeakFrom(9, 16));
  catcher.Finalize();
  ASSERT_EQ(leaks.size(), 2u);
  EXPECT_EQ(leaks[0].type, "Data");
  EXPECT_EQ(leaks[0].size, 48);
  EXPECT_EQ(leaks[0].count, 3);
  EXPECT_EQ(leaks[0].first, SiteAt(7));  // the call instruction itself
  EXPECT_EQ(leaks[1].size, 20);
  EXPECT_EQ(leaks[1].count, 1);
  EXPECT_EQ(begins, 1);
  EXPECT_EQ(ends, 1);
  EXPECT_EQ(endOfRun, 1);
  EXPECT_TRUE(messages.empty());
}

TEST_F(LeaksTest, AtMost1025LeaksAreReported) {
  catcher.Start(1);
  for (int i = 0; i < 2000; ++i) LeakFrom(i, 16);
  reader.probes = 0;
  catcher.Finalize();
  EXPECT_EQ(leaks.size(), 1025u);
  EXPECT_EQ(leaks.back().first, SiteAt(1024));
  EXPECT_EQ(begins, 1);
  EXPECT_EQ(ends, 1);
  // The page cache answers the readability of thousands of call sites from a few looks.
  EXPECT_LT(reader.probes.load(), 50u);
}

TEST_F(LeaksTest, LeakedBlocksAreFreedAfterTheReportOnlyWhenAsked) {
  for (std::uint8_t options : {std::uint8_t{1}, std::uint8_t{1 | kLeakFreeAfterReport}}) {
    SCOPED_TRACE(int{options});
    TLeakCatcher c(base, reader, &recorder);
    c.Start(options);
    std::vector<void*> blocks;
    for (int i = 0; i < 3; ++i) blocks.push_back(c.Allocate(16));  // no stack: not reported, still leaked
    recorder.raw = {ReturnAt(3)};
    blocks.push_back(c.Allocate(16));
    c.Finalize();
    const bool freed = options & kLeakFreeAfterReport;
    for (void* b : blocks) EXPECT_EQ(base.IsLive(static_cast<std::uint8_t*>(b) - BlockOverHead), !freed);
    EXPECT_EQ(c.Head() == nullptr, freed);
  }
}

TEST_F(LeaksTest, BlocksAllocatedWhileAnObjectIsBuiltJoinItsLeak) {
  const std::uintptr_t a = ReturnAt(10), b = ReturnAt(11), c = ReturnAt(12), d = ReturnAt(13), e = ReturnAt(14);
  for (bool merge : {false, true}) {
    SCOPED_TRACE(merge);
    leaks.clear();
    TLeakCatcher catcher2(base, reader, &recorder);
    catcher2.Handlers() = catcher.Handlers();
    catcher2.Start(merge ? 1 | kLeakMergeSons : 1);
    recorder.raw = {a, b};
    catcher2.AllocateInstance(40, Class("TWidget"));
    recorder.raw = {c, a, b};  // allocated by the constructor
    catcher2.Allocate(16);
    recorder.raw = {d, c, a};  // allocated by that son: joins through it
    catcher2.Allocate(8);
    recorder.raw = {e, b, a};  // the pair in the wrong order: its own leak
    catcher2.Allocate(4);
    catcher2.Finalize();
    if (merge) {
      ASSERT_EQ(leaks.size(), 2u);
      EXPECT_EQ(leaks[0].type, "TWidget");
      EXPECT_EQ(leaks[0].size, 40 + 16 + 8);
      EXPECT_EQ(leaks[0].count, 1);
      EXPECT_EQ(leaks[1].size, 4);
    } else {
      EXPECT_EQ(leaks.size(), 4u);
    }
  }
}

TEST_F(LeaksTest, NamedLeftoversAreSetAsideWhenAsked) {
  const ClassInfo* object = Class("TObject");
  const ClassInfo* section = Class("TCriticalSection", object);
  const ClassInfo* idSection = Class("TIdCriticalSection", section);
  const ClassInfo* counter = Class("TIdThreadSafeInteger", object);
  const ClassInfo* intConst = Class("TIntConst", object);
  const ClassInfo* ownConst = Class("TOwnIntConst", intConst);
  const ClassInfo* other = Class("TOther", object);
  struct Made {
    const ClassInfo* cls;
    bool reportedWithOption;
  } made[] = {{idSection, false}, {idSection, true}, {section, true},   {counter, false}, {counter, true},
              {intConst, false},  {ownConst, false}, {intConst, false}, {other, true}};
  for (bool option : {false, true}) {
    SCOPED_TRACE(option);
    leaks.clear();
    TLeakCatcher c(base, reader, &recorder);
    c.Handlers() = catcher.Handlers();
    c.Start(option ? 1 | kLeakSetAsideKnown : 1);
    int site = 100;
    std::vector<std::uintptr_t> expected;
    for (const Made& m : made) {
      recorder.raw = {ReturnAt(site)};
      c.AllocateInstance(12, m.cls);
      if (!option || m.reportedWithOption) expected.push_back(SiteAt(site));
      ++site;
    }
    c.Finalize();
    std::vector<std::uintptr_t> got;
    for (const Leak& l : leaks) got.push_back(l.first);
    EXPECT_EQ(got, expected);
  }
}

TEST_F(LeaksTest, AFormsOwnDataBlocksAreSetAsideWhatever) {
  const ClassInfo* form = Class("TForm");
  catcher.Start(1);
  LeakFrom(1, 32);  // the first of three
  LeakFrom(3, 60);
  LeakFrom(5, 60);
  for (int i = 0; i < 4; ++i) LeakFrom(10 + 2 * i, 32);
  LeakFrom(30, 100, Class("TMainForm", form));
  catcher.Finalize();
  std::vector<std::uintptr_t> got;
  for (const Leak& l : leaks) got.push_back(l.first);
  EXPECT_EQ(got, (std::vector<std::uintptr_t>{SiteAt(5), SiteAt(14), SiteAt(16), SiteAt(30)}));
}

// --- Call addresses ---------------------------------------------------------------------------------
TEST(LeakCallAddresses, OnlyReturnsFromCallsAreKept) {
  RegionMemoryReader memory;
  constexpr std::uint32_t kBase = 0x00500000;
  std::vector<std::uint8_t> image(0x1000, 0x90);
  // A readable pointer slot at kBase + 0x800.
  struct Row {
    std::vector<std::uint8_t> bytes;  // the bytes ending right before the return address
    int callLength;                   // 0: dropped
  } rows[] = {
      {{0xE8, 0xC0, 0xFF, 0xFF, 0xFF}, 5},              // direct call back into the image
      {{0xE8, 0x00, 0x00, 0x00, 0x40}, 0},              // direct call to unreadable code
      {{0xFF, 0xD3}, 2},                                // call ebx
      {{0xFF, 0x12}, 2},                                // call [edx]
      {{0xFF, 0x17}, 2},                                // call [edi]
      {{0xFF, 0x14, 0x24}, 3},                          // call [esp]
      {{0xFF, 0x55, 0x08}, 3},                          // call [ebp+8], with no load before
      {{0xFF, 0x54, 0x24, 0x04}, 4},                    // call [esp+4]
      {{0xFF, 0x96, 0x00, 0x01, 0x00, 0x00}, 6},        // call [esi+256]
      {{0xFF, 0x94, 0x24, 0x00, 0x01, 0x00, 0x00}, 7},  // call [esp+256]
      {{0xFF, 0x15, 0x00, 0x08, 0x50, 0x00}, 6},        // call [abs], readable slot
      {{0xFF, 0x15, 0x00, 0x00, 0x00, 0x70}, 0},        // call [abs], unreadable slot
      {{0xFF, 0x54, 0x00}, 0},                          // FF 54 without the SIB form
      {{0x89, 0xC0}, 0},                                // no call
  };
  std::uintptr_t addresses[kLeakStackEntries] = {};
  std::vector<std::uintptr_t> expected;
  std::uint32_t at = 0x40;
  int n = 0;
  for (const Row& row : rows) {
    std::memcpy(&image[at - row.bytes.size()], row.bytes.data(), row.bytes.size());
    // The direct call's displacement counts from its return address.
    addresses[n++] = kBase + at;
    if (row.callLength) expected.push_back(kBase + at - static_cast<std::uint32_t>(row.callLength));
    at += 0x40;
  }
  addresses[n++] = 0x00300000;  // unreadable
  addresses[n++] = kBase + 3;   // the 7 bytes before it are not all readable
  memory.AddRegion(kBase, image);
  expected.resize(kLeakStackEntries, 0);
  std::uintptr_t copy[kLeakStackEntries];
  std::memcpy(copy, addresses, sizeof copy);
  CleanCallAddresses(memory, addresses, false);
  EXPECT_EQ(std::vector<std::uintptr_t>(addresses, addresses + kLeakStackEntries), expected);
  // 64-bit code keeps only the direct calls.
  CleanCallAddresses(memory, copy, true);
  EXPECT_EQ(copy[0], kBase + 0x40 - 5);
  EXPECT_EQ(copy[1], 0u);
}

// --- Recording the stack ----------------------------------------------------------------------------
TEST(LeakStackCapture, TheCopyAndTheFrameWalkStopAtTheStacksEnds) {
  // A stack of 64 words; frames at words 4, 10 and 20, each holding the next
  // frame's address and a return address 0x1000 + its index.
  std::uintptr_t stack[64] = {};
  for (int i = 0; i < 64; ++i) stack[i] = 0x5000u + static_cast<std::uintptr_t>(i);
  auto at = [&](int i) { return reinterpret_cast<std::uintptr_t>(&stack[i]); };
  auto chain = [&](std::initializer_list<std::pair<int, std::uintptr_t>> links) {
    for (auto [index, next] : links) {
      stack[index] = next;
      stack[index + 1] = 0x1000u + static_cast<std::uintptr_t>(index);
    }
  };
  struct Case {
    const char* name;
    int position, frame, top;
    std::uintptr_t lastLink;  // what the frame at word 20 points to
    std::size_t copied;
    std::vector<std::uintptr_t> frames;
  } cases[] = {
      {"the chain ends at a null link", 2, 4, 64, 0, 35, {0x1004, 0x100A, 0x1014}},
      {"a link back down ends it", 2, 4, 64, 1, 35, {0x1004, 0x100A, 0x1014}},
      {"the top cuts the copy and the walk", 2, 4, 21, 2, 19, {0x1004, 0x100A}},
      {"a frame below the position is not walked", 6, 4, 64, 0, 35, {}},
      {"a misaligned link ends it", 2, 4, 64, 3, 35, {0x1004, 0x100A, 0x1014}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::uintptr_t last = c.lastLink == 0 ? 0 : c.lastLink == 1 ? at(4) : c.lastLink == 2 ? at(40) : at(30) + 1;
    chain({{4, at(10)}, {10, at(20)}, {20, last}});
    std::uintptr_t raw[kLeakStackEntries], frames[kLeakStackEntries];
    std::memset(raw, 0xCC, sizeof raw);
    std::memset(frames, 0xCC, sizeof frames);
    CaptureLeakStack(&stack[c.position], &stack[c.frame], &stack[0] + c.top, raw, frames);
    for (std::size_t i = 0; i < kLeakStackEntries; ++i)
      EXPECT_EQ(raw[i], i < c.copied ? stack[c.position + static_cast<int>(i)] : 0u) << i;
    std::vector<std::uintptr_t> expected = c.frames;
    expected.resize(kLeakStackEntries, 0);
    EXPECT_EQ(std::vector<std::uintptr_t>(frames, frames + kLeakStackEntries), expected);
  }
}

// --- Faults of the plain design, built soundly -------------------------------------------------------
TEST_F(LeaksTest, ACatcherThatNeverStartedOrHasNoLeaksReportsNothing) {
  catcher.UnderDebugger = true;
  catcher.Start(kLeakFreeAfterReport | kLeakReportFaults);  // options without the catcher itself
  void* plain = catcher.Allocate(16);
  EXPECT_EQ(catcher.Head(), nullptr);
  catcher.Free(plain);
  EXPECT_EQ(base.freed.back(), plain);
  catcher.Finalize();
  EXPECT_TRUE(messages.empty());
  EXPECT_EQ(begins + ends + endOfRun, 0);

  TLeakCatcher empty(base, reader, &recorder);
  empty.Handlers() = catcher.Handlers();
  empty.UnderDebugger = true;
  empty.Start(1);
  empty.Free(empty.Allocate(8));
  empty.Finalize();
  EXPECT_TRUE(messages.empty());
  EXPECT_TRUE(leaks.empty());
  EXPECT_EQ(begins + ends, 0);
  EXPECT_EQ(endOfRun, 1);
}

TEST_F(LeaksTest, AForeignBlockAfterAnUnreadablePageIsNotLookedInto) {
  catcher.Start(1 | kLeakReportFaults);
  // Two pages; only the second is readable, and the first ends in what looks like the magic.
  std::vector<std::uint8_t> buffer(3 * kPage, 0);
  std::uint8_t* pages = buffer.data() + (kPage - reinterpret_cast<std::uintptr_t>(buffer.data()) % kPage);
  std::memcpy(pages + 4096 - 4, &kLeakBlockMagic, 4);
  reader.AddLive(pages + 4096, 4096);
  void* foreign = pages + 4096;
  EXPECT_EQ(catcher.RegisteredHeader(foreign), nullptr);
  catcher.Free(foreign);
  catcher.Reallocate(foreign, 32);
  EXPECT_EQ(base.foreign, std::vector<void*>{foreign});
  EXPECT_EQ(base.foreignReallocated, std::vector<void*>{foreign});
  EXPECT_TRUE(multiFrees.empty());
}

TEST_F(LeaksTest, ARegisteredBlockKeepsItsHeaderWhenReallocatedAfterSwitchOff) {
  catcher.Start(1 | kLeakReportFaults);
  recorder.raw = {ReturnAt(1)};
  auto* p = static_cast<char*>(catcher.Allocate(16));
  std::strcpy(p, "kept data");
  catcher.Finalize();
  ASSERT_FALSE(catcher.IsLeakCatcherActive());
  auto* q = static_cast<char*>(catcher.Reallocate(p, 64));
  ASSERT_NE(catcher.RegisteredHeader(q), nullptr);
  EXPECT_STREQ(q, "kept data");
  std::memset(q, 1, 64);
  catcher.Free(q);
  EXPECT_TRUE(overruns.empty());
  EXPECT_TRUE(multiFrees.empty());
  EXPECT_TRUE(base.foreign.empty());
  EXPECT_EQ(base.freed.back(), q - BlockOverHead);
  EXPECT_EQ(base.Live(), 0u);
  // What is allocated after the switch-off is the base allocator's own.
  void* plain = catcher.Allocate(8);
  EXPECT_EQ(catcher.RegisteredHeader(plain), nullptr);
  catcher.Free(plain);
}

TEST_F(LeaksTest, BlocksReleasedByTheReportsHandlersAreFreedAfterIt) {
  catcher.Start(1);
  void* held = LeakFrom(1, 16);
  void* grown = LeakFrom(3, 16);
  LeakFrom(5, 16);
  void* regrown = nullptr;
  catcher.Handlers().Leak = [&](const std::string&, std::int64_t, int, const std::uintptr_t*) {
    if (held) catcher.Free(std::exchange(held, nullptr));
    if (grown) regrown = catcher.Reallocate(std::exchange(grown, nullptr), 32);
  };
  catcher.Finalize();
  EXPECT_EQ(base.Live(), 2u);  // the third leak and the regrown block
  EXPECT_EQ(catcher.ListedBlocks(), 2u);
  catcher.Free(regrown);
  EXPECT_EQ(catcher.ListedBlocks(), 1u);
}

TEST_F(LeaksTest, AFailingStepIsNamedAndALeakHandlerFailureIsSwallowed) {
  catcher.Start(1);
  LeakFrom(1, 16);
  LeakFrom(3, 16);
  int calls = 0;
  catcher.Handlers().Leak = [&](const std::string&, std::int64_t, int, const std::uintptr_t*) {
    ++calls;
    throw std::runtime_error("handler");
  };
  catcher.Handlers().LeaksEnd = [] { throw std::runtime_error("end"); };
  catcher.Finalize();
  EXPECT_EQ(calls, 2);
  EXPECT_EQ(messages, std::vector<std::string>{"Error in ELeaks \"HandleAnyLeak\" section."});
  EXPECT_EQ(endOfRun, 1);
}

// --- The list lock ------------------------------------------------------------------------------------
TEST(LeaksThreads, EightThreadsAllocatingAndFreeingLoseNoBlock) {
  LiveReader reader;
  FakeBase base(reader);
  TLeakCatcher catcher(base, reader);
  catcher.Start(1 | kLeakReportFaults);
  int faults = 0;
  catcher.Handlers().Overrun = [&](void*) { ++faults; };
  catcher.Handlers().MultiFree = [&](void*) { ++faults; };
  constexpr int kThreads = 8, kBlocks = 1500;
  std::vector<std::vector<void*>> kept(kThreads);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      std::vector<void*> mine;
      for (int i = 0; i < kBlocks; ++i) {
        mine.push_back(catcher.Allocate(static_cast<std::size_t>(8 + i % 40)));
        if (i % 3 == 2) {
          catcher.Free(mine[mine.size() - 2]);
          mine.erase(mine.end() - 2);
        }
        if (i % 7 == 0) mine.back() = catcher.Reallocate(mine.back(), 64);
      }
      kept[t] = mine;
    });
  }
  for (auto& th : threads) th.join();
  std::set<void*> expected;
  for (auto& v : kept)
    for (void* p : v) expected.insert(static_cast<std::uint8_t*>(p) - BlockOverHead);
  // Every block kept is listed once, the links agree both ways, and nothing else is live.
  std::set<void*> listed;
  const TLeakBlockHeader* previous = nullptr;
  for (const TLeakBlockHeader* h = catcher.Head(); h; previous = h, h = h->Next) {
    EXPECT_EQ(h->Previous, previous);
    listed.insert(const_cast<TLeakBlockHeader*>(h));
  }
  EXPECT_EQ(listed, expected);
  EXPECT_EQ(base.Live(), expected.size());
  EXPECT_EQ(faults, 0);
  EXPECT_EQ(base.doubleFrees, 0);
}

// --- Options from the data block ---------------------------------------------------------------------
TEST(LeakOptions, TheLeakBytesOfTheDataBlockChooseTheOptions) {
  auto block = [](std::uint16_t version, std::uint8_t leak, std::uint8_t useMain, std::uint32_t magic = 0x100FAB10u) {
    TVLDataInput in;
    in.version = version;
    in.leakOptions = leak;
    in.leakUseMainBlock = useMain;
    in.magic = magic;
    return MakeResourceBlock(in);
  };
  const std::string exeBlock = block(6022, 0x1B, 0);
  const std::string dllOwn = block(6022, 0x03, 1);
  const std::string dllSelf = block(6022, 0x05, 0);
  struct Case {
    std::string own, main;
    bool dll;
    int options;
  } cases[] = {
      {exeBlock, "", false, 0x1B},
      {block(6022, 0x11, 1), "", false, 0x11},               // a program ignores the flag
      {block(601, 0x09, 0), "", false, 0x09},                // the old numbering
      {block(6022, 0x07, 0, 0x000FAB10u), "", false, 0x07},  // the old magic
      {dllOwn, exeBlock, true, 0x1B},
      {dllOwn, "", true, 0},  // asks for a main block that is missing
      {dllSelf, exeBlock, true, 0x05},
      {"", exeBlock, false, 0},
      {exeBlock.substr(0, 15), "", false, 0},             // cut before the flag
      {block(6022, 0x1F, 0, 0x12345678u), "", false, 0},  // not a block
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.options);
    EXPECT_EQ(ChooseLeakOptions(c.own, c.main, c.dll), c.options);
  }
  TLeakBlockOptions read;
  std::string old = exeBlock;
  old[4] = static_cast<char>(0xF4);  // version 500
  old[5] = 0x01;
  EXPECT_FALSE(ReadLeakBlockOptions(old, read));
}

}  // namespace
