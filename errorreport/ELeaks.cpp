#include "ELeaks.h"

#include <algorithm>
#include <chrono>
#include <climits>
#include <cstring>

#include "ByteReader.h"
#include "ECallStack.h"
#include "ExceptionLog.h"
#include "Object.h"
#include "SysUtils.h"

// --- Options --------------------------------------------------------------------------------------
bool ReadLeakBlockOptions(std::string_view block, TLeakBlockOptions& out) {
  try {
    ByteReader r(block);
    if (!IsDataBlockMagic(r.U32LE())) return false;
    if (NormalizeDataVersion(r.U16LE()) < 6000) return false;
    r.Seek(14);
    out.Options = r.U8();
    out.UseMainModuleBlock = r.U8() != 0;
    return true;
  } catch (const EByteRange&) {
    return false;
  }
}

std::uint8_t ChooseLeakOptions(std::string_view ownBlock, std::string_view mainBlock, bool isDll) {
  TLeakBlockOptions own;
  if (!ReadLeakBlockOptions(ownBlock, own)) return 0;
  if (!isDll || !own.UseMainModuleBlock) return own.Options;
  TLeakBlockOptions main;
  return ReadLeakBlockOptions(mainBlock, main) ? main.Options : 0;
}

// --- Page cache and call addresses ----------------------------------------------------------------
namespace {
constexpr std::uint64_t kPageSize = 4096;
constexpr std::uint64_t kCachedPages = (std::uint64_t{1} << 32) / kPageSize;
}  // namespace

TLeakPageCache::TLeakPageCache(MemoryReader& memory) : memory_(memory), pages_(kCachedPages, 0) {}

bool TLeakPageCache::IsReadable(std::uint64_t address, std::size_t length) {
  if (length == 0) return memory_.IsReadable(address, length);
  const std::uint64_t page = address / kPageSize;
  if (page >= kCachedPages || (address + length - 1) / kPageSize != page) return memory_.IsReadable(address, length);
  std::uint8_t& known = pages_[page];
  if (known == 0) known = memory_.IsReadable(page * kPageSize, kPageSize) ? 1 : 2;
  return known == 1;
}

bool TLeakPageCache::Read(std::uint64_t address, void* buffer, std::size_t length) {
  return IsReadable(address, length) && memory_.Read(address, buffer, length);
}

void CleanCallAddresses(MemoryReader& memory, std::uintptr_t* addresses, bool directCallsOnly) {
  int kept = 0;
  for (int i = 0; i < kLeakStackEntries; ++i) {
    const std::uintptr_t a = addresses[i];
    const std::size_t length = a ? CallLengthBefore(memory, a, false) : 0;
    if (length != 0 && (!directCallsOnly || length == 5)) addresses[kept++] = a - length;
  }
  std::fill(addresses + kept, addresses + kLeakStackEntries, std::uintptr_t{0});
}

void CaptureLeakStack(const void* position, const void* frame, const void* top, std::uintptr_t* rawStack,
                      std::uintptr_t* frames) {
  constexpr std::uintptr_t kWord = sizeof(std::uintptr_t);
  const auto low = reinterpret_cast<std::uintptr_t>(position);
  const auto high = reinterpret_cast<std::uintptr_t>(top);
  std::size_t copied = low < high ? std::min<std::size_t>(kLeakStackEntries, (high - low) / kWord) : 0;
  if (copied) std::memcpy(rawStack, position, copied * kWord);
  std::fill(rawStack + copied, rawStack + kLeakStackEntries, std::uintptr_t{0});
  int n = 0;
  std::uintptr_t fp = reinterpret_cast<std::uintptr_t>(frame), previous = low;
  for (bool first = true; n < kLeakStackEntries; first = false) {
    if (fp < previous || (!first && fp == previous) || fp % kWord != 0 || fp >= high || high - fp < 2 * kWord) break;
    const auto* words = reinterpret_cast<const std::uintptr_t*>(fp);
    frames[n++] = words[1];
    previous = fp;
    fp = words[0];
  }
  std::fill(frames + n, frames + kLeakStackEntries, std::uintptr_t{0});
}

// --- The catcher ----------------------------------------------------------------------------------
namespace {
TLeakBlockHeader* HeaderOf(void* data) {
  return reinterpret_cast<TLeakBlockHeader*>(static_cast<std::uint8_t*>(data) - BlockOverHead);
}

bool ClassBears(const ClassInfo* cls, std::string_view name) {
  for (int depth = 0; cls && depth < 256; ++depth, cls = cls->parent)
    if (SameText(cls->name, name)) return true;
  return false;
}

// Whether `son` holds parent[0], parent[1] in a row at some depth from 1 to 33.
bool HoldsPair(const std::uintptr_t* son, const std::uintptr_t* parent) {
  if (parent[0] == 0) return false;
  for (int d = 1; d <= kLeakStackEntries - 2; ++d)
    if (son[d] == parent[0] && son[d + 1] == parent[1]) return true;
  return false;
}

std::int32_t AddSizes(std::int32_t a, std::int32_t b) {
  const std::int64_t sum = std::int64_t{a} + b;
  return sum > INT32_MAX ? INT32_MAX : static_cast<std::int32_t>(sum);
}
}  // namespace

TLeakCatcher::TLeakCatcher(LeakBaseAllocator& base, MemoryReader& memory, LeakStackRecorder* recorder)
    : base_(base), memory_(memory), reader_(&memory), recorder_(recorder) {}

void TLeakCatcher::Start(std::uint8_t options) {
  options_ = options;
  if ((options & kLeakCatcherOn) == 0) return;
  if (!started_) head_ = tail_ = nullptr;
  started_ = true;
  active_.store(true, std::memory_order_relaxed);
}

bool TLeakCatcher::TryLock() {
  std::uint8_t expected = 0;
  return lock_.compare_exchange_strong(expected, 1, std::memory_order_acquire, std::memory_order_relaxed);
}

void TLeakCatcher::Lock() {
  for (;;) {
    if (TryLock()) return;
    std::this_thread::yield();
    if (TryLock()) return;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
}

bool TLeakCatcher::OwnsReport() const {
  return reportThread_.load(std::memory_order_relaxed) == std::this_thread::get_id();
}

void TLeakCatcher::Link(TLeakBlockHeader* h) {
  // The report's own thread already holds the lock.
  const bool owned = OwnsReport();
  if (!owned) Lock();
  h->Previous = tail_;
  h->Next = nullptr;
  if (tail_)
    tail_->Next = h;
  else
    head_ = h;
  tail_ = h;
  if (!owned) Unlock();
}

void TLeakCatcher::Unlink(TLeakBlockHeader* h) {
  const bool owned = OwnsReport();
  if (!owned) Lock();
  if (h->Previous)
    h->Previous->Next = h->Next;
  else
    head_ = h->Next;
  if (h->Next)
    h->Next->Previous = h->Previous;
  else
    tail_ = h->Previous;
  h->Previous = h->Next = nullptr;
  if (!owned) Unlock();
}

std::size_t TLeakCatcher::ListedBlocks() const {
  std::size_t n = 0;
  for (const TLeakBlockHeader* h = head_; h; h = h->Next) ++n;
  return n;
}

TLeakBlockHeader* TLeakCatcher::RegisteredHeader(void* data) {
  const auto address = reinterpret_cast<std::uintptr_t>(data);
  if (address < BlockOverHead) return nullptr;
  const std::uintptr_t header = address - BlockOverHead;
  // A block the runtime took from a fresh mapping may have nothing before it:
  // the bytes are tested before they are read, unless they lie in the data's own page.
  if (header / kPageSize != address / kPageSize && !memory_.IsReadable(header, BlockOverHead)) return nullptr;
  std::uint32_t magic;
  std::memcpy(&magic, reinterpret_cast<const void*>(address - sizeof magic), sizeof magic);
  return magic == kLeakBlockMagic ? HeaderOf(data) : nullptr;
}

bool TLeakCatcher::FooterIntact(const TLeakBlockHeader* h) const {
  std::uint32_t magic;
  std::memcpy(&magic, reinterpret_cast<const std::uint8_t*>(h) + BlockOverHead + h->Size, sizeof magic);
  return magic == kLeakBlockMagic;
}

void TLeakCatcher::ReportFault(const std::function<void(void*)>& handler, void* data) {
  if ((options_ & kLeakReportFaults) && handler) handler(data);
}

void TLeakCatcher::Register(void* raw, std::size_t size, std::uint8_t kind, const ClassInfo* cls, const void* site) {
  auto* h = static_cast<TLeakBlockHeader*>(raw);
  std::memset(h, 0, BlockOverHead);
  h->State = lbsLive;
  h->Kind = kind;
  h->Class = cls;
  h->Size = static_cast<std::int32_t>(size);
  h->Count = 1;
  if (recorder_) recorder_->RecordAt(site, kind == lbkObject, h->RawStack, h->Frames);
  h->Magic = kLeakBlockMagic;
  std::memcpy(static_cast<std::uint8_t*>(raw) + BlockOverHead + size, &kLeakBlockMagic, sizeof kLeakBlockMagic);
  Link(h);
}

void* TLeakCatcher::AllocateBlock(std::size_t size, std::uint8_t kind, const ClassInfo* cls, const void* site) {
  // A size the header cannot hold stays a plain block of the base allocator.
  if (!IsLeakCatcherActive() || size > static_cast<std::size_t>(INT32_MAX) - BlockOverHead - BlockOverFoot)
    return base_.Allocate(size);
  void* raw = base_.Allocate(size + BlockOverHead + BlockOverFoot);
  if (!raw) return nullptr;
  Register(raw, size, kind, cls, site);
  return static_cast<std::uint8_t*>(raw) + BlockOverHead;
}

void* TLeakCatcher::Allocate(std::size_t size, const void* site) {
  return AllocateBlock(size, lbkData, nullptr, site);
}

void* TLeakCatcher::AllocateInstance(std::size_t size, const ClassInfo* cls, const void* site) {
  return AllocateBlock(size, lbkObject, cls, site);
}

void TLeakCatcher::Free(void* data) {
  if (!data) return;
  TLeakBlockHeader* h = RegisteredHeader(data);
  if (!h) return base_.Free(data);
  if (h->State == lbsFreed) return ReportFault(handlers_.MultiFree, data);
  h->State = lbsFreed;
  const bool overrun = !FooterIntact(h);
  // Released during the report by the report's own handlers: the block stays
  // listed (marked freed) and is released when the report's steps are done.
  if (OwnsReport()) {
    if (overrun) ReportFault(handlers_.Overrun, data);
    return;
  }
  Unlink(h);
  base_.Free(h);
  if (overrun) ReportFault(handlers_.Overrun, data);
}

void* TLeakCatcher::Reallocate(void* data, std::size_t size, const void* site) {
  if (!data) return Allocate(size, site);
  // A registered block keeps its header whether or not the catcher is still active.
  TLeakBlockHeader* h = RegisteredHeader(data);
  if (!h) return base_.Reallocate(data, size);
  if (h->State == lbsFreed) {
    ReportFault(handlers_.MultiFree, data);
    return nullptr;
  }
  if (size > static_cast<std::size_t>(INT32_MAX) - BlockOverHead - BlockOverFoot) return nullptr;
  const bool overrun = !FooterIntact(h);
  void* result;
  if (OwnsReport()) {
    // The list is being walked: a new block, the old one released after the report.
    void* raw = base_.Allocate(size + BlockOverHead + BlockOverFoot);
    if (!raw) return nullptr;
    result = static_cast<std::uint8_t*>(raw) + BlockOverHead;
    std::memcpy(result, data, std::min<std::size_t>(size, static_cast<std::size_t>(h->Size)));
    Register(raw, size, lbkData, nullptr, site);
    h->State = lbsFreed;
  } else {
    h->State = lbsFreed;
    Unlink(h);
    void* raw = base_.Reallocate(h, size + BlockOverHead + BlockOverFoot);
    if (!raw) {
      // The old block is still the caller's.
      h->State = lbsLive;
      Link(h);
      return nullptr;
    }
    Register(raw, size, lbkData, nullptr, site);
    result = static_cast<std::uint8_t*>(raw) + BlockOverHead;
  }
  if (overrun) ReportFault(handlers_.Overrun, data);
  return result;
}

// --- The report -----------------------------------------------------------------------------------
TLeakBlockHeader* TLeakCatcher::FirstLiveOfClass(std::string_view name) {
  for (TLeakBlockHeader* h = head_; h; h = h->Next)
    if (h->State == lbsLive && h->Kind == lbkObject && ClassBears(h->Class, name)) return h;
  return nullptr;
}

void TLeakCatcher::PurgeInvalidLeaks() {
  if (options_ & kLeakSetAsideKnown) {
    TLeakBlockHeader* section = FirstLiveOfClass("TIdCriticalSection");
    if (!section) section = FirstLiveOfClass("TCriticalSection");
    if (section) section->State = lbsHandled;
    if (TLeakBlockHeader* integer = FirstLiveOfClass("TIdThreadSafeInteger")) integer->State = lbsHandled;
    for (TLeakBlockHeader* h = head_; h; h = h->Next)
      if (h->State == lbsLive && h->Kind == lbkObject && ClassBears(h->Class, "TIntConst")) h->State = lbsHandled;
  }
  // A form leaves data blocks of its own behind: one of 60 bytes, three of 32.
  if (!FirstLiveOfClass("TForm")) return;
  SetAsideData(60, 1);
  SetAsideData(32, 3);
}

void TLeakCatcher::SetAsideData(std::int32_t size, int count) {
  for (TLeakBlockHeader* h = head_; h && count > 0; h = h->Next) {
    if (h->State != lbsLive || h->Kind != lbkData || h->Size != size) continue;
    h->State = lbsHandled;
    --count;
  }
}

void TLeakCatcher::RemoveExtraLeaks() {
  int counted = 0;
  for (TLeakBlockHeader* h = head_; h; h = h->Next) {
    if (h->State != lbsLive) continue;
    if (++counted <= 1025) continue;
    h->State = lbsHandled;
    // Nothing from here on is live: the later steps stop here.
    if (counted == 1026) scanEnd_ = h;
  }
}

void TLeakCatcher::PurgeCallStacks() {
  for (TLeakBlockHeader* h = head_; h != scanEnd_; h = h->Next) {
    if (h->State != lbsLive) continue;
    CleanCallAddresses(*reader_, h->RawStack, DirectCallsOnly);
    CleanCallAddresses(*reader_, h->Frames, DirectCallsOnly);
    // The recording skipped the allocation routines' own frames, so the first
    // entry that returns from a call is the call site.
    if (h->RawStack[0] != 0) continue;
    std::memcpy(h->RawStack, h->Frames, sizeof h->RawStack);
    if (h->RawStack[0] == 0) std::memset(h->Frames, 0, sizeof h->Frames);
  }
}

void TLeakCatcher::CountAllLeaks() {
  for (TLeakBlockHeader* h = head_; h != scanEnd_; h = h->Next) {
    if (h->State != lbsLive) continue;
    h->Count = 1;
    const std::int32_t size = h->Size;  // one block's size: the group's total grows below
    for (TLeakBlockHeader* later = h->Next; later != scanEnd_; later = later->Next) {
      if (later->State != lbsLive || later->Size != size || later->RawStack[0] != h->RawStack[0]) continue;
      later->State = lbsHandled;
      h->Size = AddSizes(h->Size, later->Size);
      ++h->Count;
    }
  }
}

void TLeakCatcher::MergeSons(TLeakBlockHeader* top, const TLeakBlockHeader* parent, int depth) {
  const bool byFrames = parent->RawStack[0] != 0 && parent->RawStack[0] == parent->Frames[0];
  for (TLeakBlockHeader* son = parent->Next; son != scanEnd_; son = son->Next) {
    if (son->State != lbsLive) continue;
    if (!HoldsPair(son->RawStack, parent->RawStack) && !(byFrames && HoldsPair(son->Frames, parent->Frames))) continue;
    son->State = lbsHandled;
    top->Size = AddSizes(top->Size, son->Size);
    // A chain of nested allocations no deeper than the list can be.
    if (depth < 1100) MergeSons(top, son, depth + 1);
  }
}

void TLeakCatcher::RemoveLeaksSons() {
  if ((options_ & kLeakMergeSons) == 0) return;
  for (TLeakBlockHeader* h = head_; h != scanEnd_; h = h->Next)
    if (h->State == lbsLive && h->Kind == lbkObject) MergeSons(h, h, 0);
}

void TLeakCatcher::HandleAnyLeak() {
  bool any = false;
  for (TLeakBlockHeader* h = head_; h != scanEnd_; h = h->Next) {
    if (h->State != lbsLive || h->RawStack[0] == 0) continue;
    if (!any && handlers_.LeaksBegin) handlers_.LeaksBegin();
    any = true;
    if (!handlers_.Leak) continue;
    try {
      const std::string name = h->Kind == lbkObject && h->Class ? h->Class->name : std::string("Data");
      handlers_.Leak(name, h->Size, h->Count, h->RawStack);
    } catch (...) {
      // One leak that cannot be reported does not stop the others.
    }
  }
  if (any && handlers_.LeaksEnd) handlers_.LeaksEnd();
}

void TLeakCatcher::FreeAllLeaks() {
  if ((options_ & kLeakFreeAfterReport) == 0) return;
  TLeakBlockHeader* h = head_;
  head_ = tail_ = nullptr;
  while (h) {
    TLeakBlockHeader* next = h->Next;
    base_.Free(h);
    h = next;
  }
}

void TLeakCatcher::RunReport() {
  TLeakPageCache cache(memory_);
  Lock();
  reportThread_.store(std::this_thread::get_id(), std::memory_order_relaxed);
  reader_ = &cache;
  scanEnd_ = nullptr;
  // An empty list has nothing to report.
  if (head_ && !cache.IsReadable(reinterpret_cast<std::uintptr_t>(head_), BlockOverHead)) {
    if (UnderDebugger && handlers_.Message) handlers_.Message(kForeignManagerMessage, kLeaksErrorCaption);
  } else if (head_) {
    struct Step {
      const char* name;
      void (TLeakCatcher::*run)();
    };
    static constexpr Step kSteps[] = {{"PurgeInvalidLeaks", &TLeakCatcher::PurgeInvalidLeaks},
                                      {"RemoveExtraLeaks", &TLeakCatcher::RemoveExtraLeaks},
                                      {"PurgeCallStacks", &TLeakCatcher::PurgeCallStacks},
                                      {"CountAllLeaks", &TLeakCatcher::CountAllLeaks},
                                      {"RemoveLeaksSons", &TLeakCatcher::RemoveLeaksSons},
                                      {"HandleAnyLeak", &TLeakCatcher::HandleAnyLeak},
                                      {"FreeAllLeaks", &TLeakCatcher::FreeAllLeaks}};
    for (const Step& step : kSteps) {
      try {
        (this->*step.run)();
      } catch (...) {
        if (handlers_.Message)
          handlers_.Message(std::string("Error in ELeaks \"") + step.name + "\" section.", kLeaksErrorCaption);
        break;
      }
    }
  }
  // The blocks the report's handlers released.
  for (TLeakBlockHeader* h = head_; h;) {
    TLeakBlockHeader* next = h->Next;
    if (h->State == lbsFreed) {
      Unlink(h);
      base_.Free(h);
    }
    h = next;
  }
  reader_ = &memory_;
  scanEnd_ = nullptr;
  reportThread_.store(std::thread::id(), std::memory_order_relaxed);
  Unlock();
}

void TLeakCatcher::Finalize() {
  // A catcher that never started has no list and nothing to report.
  if (!started_) return;
  started_ = false;
  active_.store(false, std::memory_order_relaxed);
  RunReport();
  try {
    if (handlers_.EndOfRun) handlers_.EndOfRun();
  } catch (...) {
    if (handlers_.Message) handlers_.Message(kLeaksFinalizationError, kLeaksErrorCaption);
  }
}
