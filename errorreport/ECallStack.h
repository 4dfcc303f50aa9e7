// Call stacks without frame chains: a thread's raw stack is scanned for
// dwords that are return addresses (the bytes before them form a CALL), each
// hit becomes a call-stack entry, and the scan is pruned of duplicates and of
// the repeated frames of loops. Memory is read through MemoryReader (EHook.h),
// so the scanner runs on fake images as well as on a suspended thread's stack.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "EHook.h"
#include "Lists.h"

class TVantorModuleOptions;
struct TVantorModuleInfo;

// The location of one code address.
struct TVLLocationInfo {
  std::uint8_t Kind = 0;  // 0 hidden, 1 module only, 2 procedure, 3 unit and procedure, 4 with line
  TVantorModuleInfo* Module = nullptr;
  std::int32_t ThreadId = 0;
  std::uint8_t FaultingThread = 0;  // the caller's flag: the entry belongs to the faulting thread
  std::uint8_t FirstEntry = 0;      // the entry of the exception address itself
  std::uint8_t LeakEntry = 0;
  std::uint8_t OwnStack = 1;  // clear for the stack of the thread that created the thread
  std::uint64_t Address = 0;
  std::string UnitName;
  std::string ClassName;
  std::string ProcedureName;
  std::int32_t Line = 0;
  std::int32_t LineInProcedure = 0;
  // A leak entry's block: its type ("Data" or the class), the group's total size and count.
  std::string LeakType;
  std::int64_t LeakSize = 0;
  std::int32_t LeakCount = 0;
};

class TVantorStackList : public TList {
  FW_CLASS(TVantorStackList, TList)
 public:
  void Destroy() override;
  void Clear() override;
  TVLLocationInfo* Items(int index) const { return static_cast<TVLLocationInfo*>(Get(index)); }
  // Takes over the entry; its index.
  int AddEntry(TVLLocationInfo* entry) { return Add(entry); }
  void DeleteEntry(int index);
};

// Makes the entry of one code address: with details its location, else a
// bare entry (kind 1) naming the module that holds the address.
class StackEntryMaker {
 public:
  virtual ~StackEntryMaker() = default;
  virtual void Make(std::uint64_t address, bool details, TVLLocationInfo& entry) = 0;
};

// The length (2 to 7) of the call instruction that ends right before
// `returnAddress`, or 0 when the 7 bytes before it cannot be read or form no
// call. A direct call (E8) counts only when its target is readable, a call
// through an absolute pointer (FF 15) only when the pointer is; with
// `disp8NeedsLoad` a call through a register plus disp8 (FF 50-57) counts only
// when a register load (8B) lies just before it.
std::size_t CallLengthBefore(MemoryReader& memory, std::uint64_t returnAddress, bool disp8NeedsLoad);

// The stack bytes scanned at most, and the entries a list takes at most.
constexpr std::uint32_t kMaxScannedStack = 102400;
constexpr int kMaxStackEntries = 1024;

struct TStackScan {
  std::uint32_t StartAddress = 0;  // the exception address, listed first; 0 for none
  std::uint32_t StackStart = 0;
  std::uint32_t StackTop = 0;
  std::uint8_t Kinds = 31;  // bit n: entries of kind n are listed
  int MaxCount = -1;        // -1: no limit
  int SkipCount = -1;       // -1: none skipped
  bool Details = false;
  bool FollowCalls = false;  // for a direct call, list its target too
  bool FaultingThread = false;
  std::int32_t ThreadId = 0;
};

// Appends the return addresses found on the stack to `list`, then prunes
// what this scan appended. `maker` null makes bare entries of kind 1.
void ScanStackForCalls(TVantorStackList& list, MemoryReader& memory, StackEntryMaker* maker, const TStackScan& scan);
// A new list filled by ScanStackForCalls with FollowCalls set.
TVantorStackList* CollectCallStack(MemoryReader& memory, StackEntryMaker* maker, TStackScan scan);
// Hides the duplicates and the frames repeated by loops and recursion among
// the entries from `first` on (and in IDE mode, with details, removes the
// unnamed entries and those of exception handlers).
void PruneStackEntries(TVantorStackList& list, int first, bool details);
// The kinds a report lists: 4 always, 2 and 3 when the options ask for them.
std::uint8_t GetListedStackEntryKinds(const TVantorModuleOptions& options);

// --- Group rows ------------------------------------------------------------------------------------
class TVantorThreadsList;
struct TVantorThreadInfo;
class TObject;

// The fields of a call-stack group row: a thread's group or a memory-leak group.
struct TStackGroupEntry {
  std::int32_t ThreadId = 0;
  bool HasRole = false;            // the entry names a thread role
  bool IsExceptionThread = false;  // the role: the thread that raised
  bool IsLeakGroup = false;
  std::string ThreadName;
  std::string LeakTypeName;
  std::int64_t LeakTotalSize = 0;
  std::int32_t LeakCount = 0;
};

// How a group row learns what the threads list does not keep.
class StackGroupFacts {
 public:
  virtual ~StackGroupFacts() = default;
  // The thread's live priority.
  virtual std::int32_t ThreadPriority(const TVantorThreadInfo& record) = 0;
  // The class name of a sound thread object, else empty.
  virtual std::string ThreadClassName(const TObject* threadObject) = 0;
};

// The names threads were given (by the debugger's thread-naming raise), for
// their group rows: at most 255 characters each, the last name given wins, an
// empty name forgets it. At most kMaxNamedThreads threads are kept (the
// oldest named goes first).
constexpr std::size_t kMaxNamedThreads = 1024;
void RecordThreadName(std::uint32_t threadId, const std::string& name);
std::string ThreadNameOf(std::uint32_t threadId);
void ClearThreadNames();

// "Exception Thread: ID=12; Priority=0; Class=TWorker; [Main] (name)" with
// the options' texts 98-104, or for a leak group "Memory Leak: Type=...;
// Total size=...; Count=..." (texts 105-109). A thread's record is read from
// `threads` (may be null); an unknown stored priority is read live and kept.
std::string FormatStackGroupHeader(const TStackGroupEntry& entry, bool marked, const TVantorModuleOptions& texts,
                                   TVantorThreadsList* threads, StackGroupFacts& facts);
