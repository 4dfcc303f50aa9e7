#include "ECallStack.h"

#include <algorithm>
#include <cstring>
#include <mutex>
#include <utility>
#include <vector>

#include "ECore.h"
#include "ExceptionLog.h"

FW_IMPLEMENT_CLASS(TVantorStackList)

void TVantorStackList::Destroy() {
  Clear();
  inherited::Destroy();
}

void TVantorStackList::Clear() {
  for (int i = 0; i < Count(); ++i) delete Items(i);
  TList::Clear();
}

void TVantorStackList::DeleteEntry(int index) {
  TVLLocationInfo* entry = Items(index);
  TList::Delete(index);
  delete entry;
}

std::size_t CallLengthBefore(MemoryReader& memory, std::uint64_t returnAddress, bool disp8NeedsLoad) {
  const std::uint64_t v = returnAddress;
  if (v < 7) return 0;
  std::uint8_t b[7];
  if (!memory.Read(v - 7u, b, sizeof b)) return 0;
  auto at = [&](int k) { return b[7 - k]; };  // the byte k below V
  std::uint32_t operand;                      // the last four bytes: rel32, disp32 or abs32
  std::memcpy(&operand, b + 3, 4);
  // The forms in the order they are tested; the first whose bytes match decides.
  if (at(5) == 0xE8) {
    // A 32-bit address wraps around; above 4 GB the displacement is signed.
    const std::uint64_t target = v <= 0xFFFFFFFFu ? std::uint64_t{static_cast<std::uint32_t>(v + operand)}
                                                  : v + static_cast<std::int64_t>(static_cast<std::int32_t>(operand));
    return memory.IsReadable(target, 1) ? 5 : 0;
  }
  if (at(2) == 0xFF && at(1) >= 0xD0 && at(1) <= 0xD7) return 2;
  if (at(2) == 0xFF && ((at(1) >= 0x10 && at(1) <= 0x13) || at(1) == 0x16 || at(1) == 0x17)) return 2;
  if (at(3) == 0xFF && ((at(2) >= 0x50 && at(2) <= 0x53) || (at(2) >= 0x55 && at(2) <= 0x57)))
    return !disp8NeedsLoad || at(5) == 0x8B || at(6) == 0x8B ? 3 : 0;
  if (at(6) == 0xFF && ((at(5) >= 0x90 && at(5) <= 0x93) || (at(5) >= 0x95 && at(5) <= 0x97))) return 6;
  if (at(3) == 0xFF && at(2) == 0x14 && at(1) == 0x24) return 3;
  if (at(4) == 0xFF && at(3) == 0x54 && at(2) == 0x24) return 4;
  if (at(7) == 0xFF && at(6) == 0x94 && at(5) == 0x24) return 7;
  if (at(6) == 0xFF && at(5) == 0x15) return memory.IsReadable(operand, 4) ? 6 : 0;
  return 0;
}

namespace {

class Scanner {
 public:
  Scanner(TVantorStackList& list, MemoryReader& memory, StackEntryMaker* maker, const TStackScan& scan)
      : list_(list), memory_(memory), maker_(maker), scan_(scan) {}

  void Add(std::uint64_t address, bool first) {
    if (list_.Count() >= kMaxStackEntries) return;
    auto* entry = new TVLLocationInfo;
    if (maker_) {
      maker_->Make(address, scan_.Details, *entry);
    } else {
      entry->Kind = 1;
    }
    entry->Address = address;
    entry->ThreadId = scan_.ThreadId;
    entry->FaultingThread = scan_.FaultingThread ? 1 : 0;
    entry->FirstEntry = first ? 1 : 0;
    const bool listed = entry->Kind <= 7 && ((scan_.Kinds >> entry->Kind) & 1) != 0;
    if (listed) {
      const bool allowed =
          (scan_.SkipCount < 0 || candidates_ >= scan_.SkipCount) && (scan_.MaxCount < 0 || added_ < scan_.MaxCount);
      ++candidates_;
      if (allowed) {
        list_.AddEntry(entry);
        ++added_;
        return;
      }
    }
    delete entry;
  }

  void TestDword(std::uint32_t v) {
    const std::size_t length = CallLengthBefore(memory_, v, true);
    if (length == 0) return;
    if (length == 5 && scan_.FollowCalls) {
      std::uint32_t rel = 0;
      memory_.Read(v - 4u, &rel, sizeof rel);
      const std::uint32_t real = FollowImportJumpIn(memory_, v + rel);
      std::uint8_t head[5];
      if (memory_.Read(real, head, sizeof head) && head[0] != 0xE8) Add(real, false);
    }
    Add(v - length, false);
  }

  void Walk() {
    if (scan_.StartAddress) Add(scan_.StartAddress, true);
    std::uint64_t top = scan_.StackTop;
    if (top > std::uint64_t{scan_.StackStart} + kMaxScannedStack)
      top = std::uint64_t{scan_.StackStart} + kMaxScannedStack;
    std::size_t blockLeft = 0;
    for (std::uint64_t address = scan_.StackStart; address + 4 <= top; address += 4) {
      if (blockLeft == 0) {
        if (memory_.IsReadable(address, 400))
          blockLeft = 400;
        else if (memory_.IsReadable(address, 4))
          blockLeft = 4;
        else
          continue;
      }
      blockLeft -= 4;
      std::uint32_t value;
      if (!memory_.Read(address, &value, 4)) {
        blockLeft = 0;
        continue;
      }
      TestDword(value);
    }
  }

 private:
  TVantorStackList& list_;
  MemoryReader& memory_;
  StackEntryMaker* maker_;
  const TStackScan& scan_;
  int candidates_ = 0;
  int added_ = 0;
};

bool IsNamed(const TVLLocationInfo* e) {
  return e->Kind >= 2 && e->Kind <= 4;
}

// Whether F stands for the same line-level place as E (names alike, F with a line).
bool SamePlace(const TVLLocationInfo* f, const TVLLocationInfo* e) {
  return f->Kind == 4 && f->UnitName == e->UnitName && f->ClassName == e->ClassName &&
         f->ProcedureName == e->ProcedureName;
}

}  // namespace

void ScanStackForCalls(TVantorStackList& list, MemoryReader& memory, StackEntryMaker* maker, const TStackScan& scan) {
  const int first = list.Count();
  Scanner(list, memory, maker, scan).Walk();
  PruneStackEntries(list, first, scan.Details);
}

TVantorStackList* CollectCallStack(MemoryReader& memory, StackEntryMaker* maker, TStackScan scan) {
  TVantorStackList* list = New<TVantorStackList>();
  scan.FollowCalls = true;
  try {
    ScanStackForCalls(*list, memory, maker, scan);
  } catch (...) {
    list->Free();
    throw;
  }
  return list;
}

void PruneStackEntries(TVantorStackList& list, int first, bool details) {
  if (first < 0) first = 0;
  if (IsHostedByIde() && details) {
    for (int i = list.Count() - 1; i >= first; --i) {
      const TVLLocationInfo* e = list.Items(i);
      if (!IsNamed(e) || e->ProcedureName.find("HandleException") != std::string::npos) list.DeleteEntry(i);
    }
  }
  const int count = list.Count();
  // Duplicates: an entry whose address comes again at the next or the one
  // after the next named entry of its module.
  for (int j = count - 2; j >= first; --j) {
    TVLLocationInfo* e = list.Items(j);
    if (!IsNamed(e)) continue;
    auto nextOfModule = [&](int from) {
      for (int k = from + 1; k < count; ++k)
        if (IsNamed(list.Items(k)) && list.Items(k)->Module == e->Module) return k;
      return -1;
    };
    const int k = nextOfModule(j);
    if (k < 0) continue;
    if (list.Items(k)->Address == e->Address) {
      e->Kind = 0;
      continue;
    }
    const int k2 = nextOfModule(k);
    if (k2 >= 0 && list.Items(k2)->Address == e->Address) e->Kind = 0;
  }
  // Loops and recursion: the frames between two entries of one place.
  for (int i = count - 1; i >= first + 1; --i) {
    const TVLLocationInfo* e = list.Items(i);
    if (e->Kind != 4 || e->Line != 0) continue;
    for (int f = i - 1; f >= first; --f) {
      const TVLLocationInfo* candidate = list.Items(f);
      if (candidate->ThreadId != e->ThreadId || candidate->FaultingThread != e->FaultingThread) break;
      if (SamePlace(candidate, e)) {
        if (f != first)
          for (int h = f + 1; h < i; ++h) list.Items(h)->Kind = 0;
        break;
      }
    }
  }
}

std::uint8_t GetListedStackEntryKinds(const TVantorModuleOptions& options) {
  std::uint8_t kinds = 1u << 4;
  if (options.StackFlags() & 0x01) kinds |= 1u << 2;
  if (options.StackFlags() & 0x02) kinds |= 1u << 3;
  return kinds;
}

// --- Group rows ------------------------------------------------------------------------------------
namespace {

std::mutex& ThreadNamesLock() {
  static std::mutex lock;
  return lock;
}
// In the order the threads were first named.
std::vector<std::pair<std::uint32_t, std::string>>& ThreadNames() {
  static std::vector<std::pair<std::uint32_t, std::string>> names;
  return names;
}

}  // namespace

void RecordThreadName(std::uint32_t threadId, const std::string& name) {
  std::lock_guard<std::mutex> guard(ThreadNamesLock());
  auto& names = ThreadNames();
  auto it = std::find_if(names.begin(), names.end(), [&](const auto& n) { return n.first == threadId; });
  if (name.empty()) {
    if (it != names.end()) names.erase(it);
    return;
  }
  const std::string kept = name.substr(0, 255);
  if (it != names.end()) {
    it->second = kept;
    return;
  }
  if (names.size() >= kMaxNamedThreads) names.erase(names.begin());
  names.emplace_back(threadId, kept);
}

std::string ThreadNameOf(std::uint32_t threadId) {
  std::lock_guard<std::mutex> guard(ThreadNamesLock());
  for (const auto& n : ThreadNames())
    if (n.first == threadId) return n.second;
  return std::string();
}

void ClearThreadNames() {
  std::lock_guard<std::mutex> guard(ThreadNamesLock());
  ThreadNames().clear();
}

std::string FormatStackGroupHeader(const TStackGroupEntry& entry, bool marked, const TVantorModuleOptions& texts,
                                   TVantorThreadsList* threads, StackGroupFacts& facts) {
  if (entry.IsLeakGroup) {
    std::string type = entry.LeakTypeName == "Data" ? texts.GetCustomText(106) : entry.LeakTypeName;
    std::string text = texts.GetCustomText(105) + ": " + texts.GetCustomText(107) + "=" + type + "; " +
                       texts.GetCustomText(108) + "=" + std::to_string(entry.LeakTotalSize) + "; " +
                       texts.GetCustomText(109) + "=" + std::to_string(entry.LeakCount);
    return marked ? "+" + text : text;
  }
  std::string text;
  if (!entry.HasRole)
    text = texts.GetCustomText(101);
  else if (entry.IsExceptionThread)
    text = (marked ? "*" : "") + texts.GetCustomText(99);
  else
    text = texts.GetCustomText(100);
  text += ": ";

  // A copy of the thread's record, taken under the list's lock.
  bool found = false;
  TVantorThreadInfo record;
  if (threads) {
    threads->LockForWrite();
    int i = threads->IndexOfThreadId(static_cast<std::uint32_t>(entry.ThreadId));
    if (i >= 0) {
      TVantorThreadInfo* live = threads->GetThreadInfo(i);
      if (live->Priority == kThreadPriorityUnknown)
        live->Priority = static_cast<std::uint32_t>(facts.ThreadPriority(*live));
      record = *live;
      found = true;
    }
    threads->UnlockWrite();
  }
  std::string className = found && record.ThreadObject ? facts.ThreadClassName(record.ThreadObject) : std::string();

  text += texts.GetCustomText(102) + "=" + std::to_string(entry.ThreadId < 0 ? 0 : entry.ThreadId) + "; " +
          texts.GetCustomText(103) + "=" +
          (found ? std::to_string(static_cast<std::int32_t>(record.Priority)) : std::string("??"));
  if (marked || !className.empty()) text += "; " + texts.GetCustomText(104) + "=" + className;
  bool isMain = found
                    ? IsMainThreadRecord(record)
                    : entry.ThreadId > 0 && static_cast<std::uint32_t>(entry.ThreadId) == VantorLogFlags().MainThreadId;
  if (isMain) text += "; [" + texts.GetCustomText(98) + "]";
  if (!entry.ThreadName.empty()) text += " (" + entry.ThreadName + ")";
  return text;
}
