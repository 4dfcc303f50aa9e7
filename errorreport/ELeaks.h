// The memory-leak catcher: allocate, free and reallocate wrappers over a base
// allocator that give every block a header and a footer, keep the live blocks
// in a list, catch writes past a block's end and blocks freed twice, and at
// the end of the run report the blocks never freed, grouped by call site.
// The base allocator, the memory reader and the call-stack recorder are
// handed in, so the catcher runs on fakes as well as in a process.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "EHook.h"
#include "Exceptions.h"

struct ClassInfo;

// --- Options --------------------------------------------------------------------------------------
constexpr std::uint8_t kLeakCatcherOn = 1;        // catch leaks at all
constexpr std::uint8_t kLeakMergeSons = 2;        // blocks allocated while an object was built join its leak
constexpr std::uint8_t kLeakSetAsideKnown = 4;    // known leftovers are not reported
constexpr std::uint8_t kLeakFreeAfterReport = 8;  // the leaked blocks are freed after the report
constexpr std::uint8_t kLeakReportFaults = 0x10;  // overruns and multi-frees are reported at release

// The leak bytes of a module's data block: the options (offset 14) and the
// flag (offset 15) that tells a DLL to take the main module's options.
struct TLeakBlockOptions {
  std::uint8_t Options = 0;
  bool UseMainModuleBlock = false;
};
// False when the bytes are not a block of version 6000 or later (600-602 count as 6000-6002).
bool ReadLeakBlockOptions(std::string_view block, TLeakBlockOptions& out);
// The options a module runs with: its own block's, or, for a DLL whose block
// asks for it, the main module's; 0 (catcher off) without a block.
std::uint8_t ChooseLeakOptions(std::string_view ownBlock, std::string_view mainBlock, bool isDll);

// --- Blocks ---------------------------------------------------------------------------------------
constexpr std::uint32_t kLeakBlockMagic = 0x100FAB10u;
constexpr int kLeakStackEntries = 35;

enum : std::uint8_t { lbsLive = 0, lbsFreed = 1, lbsHandled = 2 };
enum : std::uint8_t { lbkData = 0, lbkObject = 1 };

// The header in front of every registered block. The magic is its last
// field, directly before the caller's data.
struct TLeakBlockHeader {
  TLeakBlockHeader* Previous;
  TLeakBlockHeader* Next;
  const ClassInfo* Class;  // the object's class (kind lbkObject)
  std::uint8_t State;
  std::uint8_t Kind;
  std::int32_t Size;   // the caller's size; at report time the leak group's total
  std::int32_t Count;  // at report time the leak group's count
  std::uintptr_t RawStack[kLeakStackEntries];
  std::uintptr_t Frames[kLeakStackEntries];
  std::uint32_t Reserved;
  std::uint32_t Magic;
};

constexpr std::size_t BlockOverHead = sizeof(TLeakBlockHeader);
constexpr std::size_t BlockOverFoot = 8;  // its first dword holds the magic
static_assert(BlockOverHead % 8 == 0, "the header keeps the caller's data 8-aligned");
static_assert(BlockOverFoot % 8 == 0 && (BlockOverHead + BlockOverFoot) % 8 == 0);

// --- What the catcher works over ------------------------------------------------------------------
// The memory manager underneath (the one saved when the catcher was installed).
class LeakBaseAllocator {
 public:
  virtual ~LeakBaseAllocator() = default;
  virtual void* Allocate(std::size_t size) = 0;
  virtual void Free(void* block) = 0;
  virtual void* Reallocate(void* block, std::size_t size) = 0;
};

// Records where an allocation comes from: up to 35 return addresses copied
// from the caller's stack and up to 35 found along its frame chain (both
// arrays arrive zero-filled).
class LeakStackRecorder {
 public:
  virtual ~LeakStackRecorder() = default;
  virtual void Record(bool object, std::uintptr_t* rawStack, std::uintptr_t* frames) = 0;
  // The same for an allocation whose entry knows its call site (what `site`
  // is belongs to the recorder and the entries that pass it).
  virtual void RecordAt(const void* site, bool object, std::uintptr_t* rawStack, std::uintptr_t* frames) {
    (void)site;
    Record(object, rawStack, frames);
  }
};

// What a recorder of the running thread fills in: up to 35 stack entries
// copied from `position` on, never from `top` on, and the return addresses
// along the frame chain from `frame` (each frame: the caller's frame pointer,
// then the return address), up to 35, stopping at a frame that is not above
// the previous one (the first: not below `position`), is misaligned, or does
// not lie wholly below `top`. Both arrays are zero-filled behind.
void CaptureLeakStack(const void* position, const void* frame, const void* top, std::uintptr_t* rawStack,
                      std::uintptr_t* frames);

struct TLeakHandlers {
  std::function<void(void* data)> Overrun;    // called after the block was released
  std::function<void(void* data)> MultiFree;  // the block is left alone
  std::function<void()> LeaksBegin;
  // The class name (or "Data"), the group's total size and count, its 35 call addresses.
  std::function<void(const std::string& typeName, std::int64_t size, int count, const std::uintptr_t* addresses)> Leak;
  std::function<void()> LeaksEnd;
  std::function<void()> EndOfRun;
  // A message box: text and caption.
  std::function<void(const std::string& text, const std::string& caption)> Message;
};

// Readability answered per 4 KB page of the 32-bit address space from a cache
// filled on first use; ranges that span pages, and addresses above 4 GB, go
// to the reader underneath.
class TLeakPageCache : public MemoryReader {
 public:
  explicit TLeakPageCache(MemoryReader& memory);
  bool IsReadable(std::uint64_t address, std::size_t length) override;
  bool Read(std::uint64_t address, void* buffer, std::size_t length) override;

 private:
  MemoryReader& memory_;
  std::vector<std::uint8_t> pages_;  // 0 unknown, 1 readable, 2 not readable
};

// Keeps of each address only those that return from a call: the entry becomes
// the address of the call instruction, the others 0, and the zeros move to the
// end. `directCallsOnly` keeps only E8 calls (64-bit code).
void CleanCallAddresses(MemoryReader& memory, std::uintptr_t* addresses, bool directCallsOnly);

// What the library reports: the leaks at the end of the run, and the faults
// the catcher finds at a block's release.
FW_EXCEPTION(EMemoryLeak, Exception);
FW_EXCEPTION(EMemoryOverrun, Exception);
FW_EXCEPTION(EMultiFree, Exception);
constexpr const char* kMemoryOverrunMessage = "Memory Overrun leak";
constexpr const char* kMultiFreeMessage = "Multi Free memory leak";

// The catcher's message texts.
constexpr const char* kLeaksErrorCaption = "Error";
constexpr const char* kForeignManagerMessage =
    "The application contains some memory leaks but it's impossible to show them because another Memory Manager "
    "has already freed them.\r\nInstall the leak catcher's memory manager before any other one.";
constexpr const char* kLeaksFinalizationError = "Error in ELeaks Finalization.";

class TLeakCatcher {
 public:
  TLeakCatcher(LeakBaseAllocator& base, MemoryReader& memory, LeakStackRecorder* recorder = nullptr);
  TLeakCatcher(const TLeakCatcher&) = delete;
  TLeakCatcher& operator=(const TLeakCatcher&) = delete;

  TLeakHandlers& Handlers() { return handlers_; }
  // Keep only direct calls when call addresses are cleaned (64-bit code).
  bool DirectCallsOnly = false;
  // A debugger watches: the foreign-manager message is shown.
  bool UnderDebugger = false;

  // Takes the options; the catcher runs when bit kLeakCatcherOn is set.
  void Start(std::uint8_t options);
  bool IsLeakCatcherActive() const { return active_.load(std::memory_order_relaxed); }
  std::uint8_t Options() const { return options_; }

  // The memory-manager entries.
  // `site` goes to the recorder's RecordAt.
  void* Allocate(std::size_t size, const void* site = nullptr);
  void* AllocateInstance(std::size_t size, const ClassInfo* cls, const void* site = nullptr);
  void Free(void* data);
  void* Reallocate(void* data, std::size_t size, const void* site = nullptr);

  // The leak report; does nothing unless the catcher was started.
  void Finalize();

  // The report steps, in the order Finalize runs them under the list lock.
  void PurgeInvalidLeaks();
  void RemoveExtraLeaks();
  void PurgeCallStacks();
  void CountAllLeaks();
  void RemoveLeaksSons();
  void HandleAnyLeak();
  void FreeAllLeaks();

  // The list as it stands (for checks): its head and the blocks in it.
  TLeakBlockHeader* Head() const { return head_; }
  std::size_t ListedBlocks() const;
  // The header of a data address when the block carries the catcher's magic, else null.
  TLeakBlockHeader* RegisteredHeader(void* data);

  // The list lock: a one-byte spin lock, not re-entrant.
  void Lock();
  void Unlock() { lock_.store(0, std::memory_order_release); }

 private:
  bool TryLock();
  void* AllocateBlock(std::size_t size, std::uint8_t kind, const ClassInfo* cls, const void* site);
  void Register(void* raw, std::size_t size, std::uint8_t kind, const ClassInfo* cls, const void* site);
  void Link(TLeakBlockHeader* h);
  void Unlink(TLeakBlockHeader* h);
  bool OwnsReport() const;
  bool FooterIntact(const TLeakBlockHeader* h) const;
  void ReportFault(const std::function<void(void*)>& handler, void* data);
  void RunReport();
  void MergeSons(TLeakBlockHeader* top, const TLeakBlockHeader* parent, int depth);
  TLeakBlockHeader* FirstLiveOfClass(std::string_view name);
  void SetAsideData(std::int32_t size, int count);

  LeakBaseAllocator& base_;
  MemoryReader& memory_;
  MemoryReader* reader_;  // the page cache while the report runs
  LeakStackRecorder* recorder_;
  TLeakHandlers handlers_;
  std::uint8_t options_ = 0;
  bool started_ = false;
  std::atomic<bool> active_{false};
  std::atomic<std::uint8_t> lock_{0};
  std::atomic<std::thread::id> reportThread_{};
  TLeakBlockHeader* head_ = nullptr;
  TLeakBlockHeader* tail_ = nullptr;
  TLeakBlockHeader* scanEnd_ = nullptr;  // where the report's later steps stop (null: the list's end)
};
