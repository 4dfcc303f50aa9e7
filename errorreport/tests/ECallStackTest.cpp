// The stack scanner on fake images (the call forms, the bounds of a scan,
// unreadable pages, limits and kinds) and the pruning of its entries.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <vector>

#include "ECallStack.h"
#include "ECore.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

constexpr std::uint32_t kCode = 0x00401000;
constexpr std::uint32_t kStack = 0x0012F000;

Bytes Dwords(const std::vector<std::uint32_t>& values) {
  Bytes b(values.size() * 4);
  std::memcpy(b.data(), values.data(), b.size());
  return b;
}

std::vector<std::uint64_t> Addresses(const TVantorStackList& list) {
  std::vector<std::uint64_t> out;
  for (int i = 0; i < list.Count(); ++i) out.push_back(list.Items(i)->Address);
  return out;
}

struct CallForm {
  const char* name;
  Bytes call;  // the bytes that end at the return address
  int callAt;  // where the call instruction starts in them (-1: not listed)
};

TEST(StackScanner, TheNineCallForms) {
  const std::uint32_t target = kCode + 0x800;  // readable code, not a call
  const std::uint32_t slot = kCode + 0x900;    // a readable pointer
  auto rel = [](std::uint32_t from, std::uint32_t to) { return to - from; };
  const CallForm forms[] = {
      {"call rel32", {0xE8, 0, 0, 0, 0}, 0},
      {"call rel32 to unreadable memory", {0xE8, 0, 0, 0, 0}, -1},
      {"call reg", {0xFF, 0xD3}, 0},
      {"call [reg]", {0xFF, 0x16}, 0},
      {"mov then call [reg+disp8]", {0x8B, 0x45, 0x08, 0xFF, 0x50, 0x04}, 3},
      {"mov reg, reg then call [reg+disp8]", {0x8B, 0xC8, 0x90, 0xFF, 0x51, 0x10}, 3},
      {"call [reg+disp8] with no mov", {0x90, 0x90, 0x90, 0xFF, 0x50, 0x04}, -1},
      {"call [reg+disp32]", {0xFF, 0x97, 0x10, 0x20, 0, 0}, 0},
      {"call [esp]", {0xFF, 0x14, 0x24}, 0},
      {"call [esp+disp8]", {0xFF, 0x54, 0x24, 0x08}, 0},
      {"call [esp+disp32]", {0xFF, 0x94, 0x24, 0x00, 0x01, 0, 0}, 0},
      {"call [abs32]", {0xFF, 0x15, 0, 0, 0, 0}, 0},
      {"call [abs32] through an unreadable pointer", {0xFF, 0x15, 0, 0, 0x99, 0}, -1},
      {"no call", {0x90, 0x90, 0x90, 0x90, 0x90}, -1},
  };
  for (const CallForm& form : forms) {
    RegionMemoryReader memory;
    Bytes code(0x1000, 0x90);
    const std::uint32_t site = kCode + 0x100;
    std::memcpy(code.data() + 0x100, form.call.data(), form.call.size());
    const std::uint32_t v = site + static_cast<std::uint32_t>(form.call.size());
    if (form.call[0] == 0xE8) {
      const std::uint32_t to = std::string(form.name).find("unreadable") != std::string::npos ? 0x00990000 : target;
      const std::uint32_t r = rel(v, to);
      std::memcpy(code.data() + 0x101, &r, 4);
    }
    if (std::string(form.name) == "call [abs32]") std::memcpy(code.data() + 0x102, &slot, 4);
    memory.AddRegion(kCode, code);
    memory.AddRegion(kStack, Dwords({0, v, 0}));
    TVantorStackList* list = New<TVantorStackList>();
    TStackScan scan;
    scan.StackStart = kStack;
    scan.StackTop = kStack + 12;
    ScanStackForCalls(*list, memory, nullptr, scan);
    if (form.callAt < 0) {
      EXPECT_EQ(list->Count(), 0) << form.name;
    } else {
      EXPECT_EQ(Addresses(*list), (std::vector<std::uint64_t>{site + static_cast<std::uint32_t>(form.callAt)}))
          << form.name;
    }
    list->Free();
  }
}

TEST(StackScanner, FollowedCallsAndTheStartAddress) {
  RegionMemoryReader memory;
  Bytes code(0x1000, 0x90);
  // call rel32 at +0x100 to an import jump at +0x800 that leads to +0xA00.
  const std::uint32_t v = kCode + 0x105, jump = kCode + 0x800, slot = kCode + 0x900, real = kCode + 0xA00;
  code[0x100] = 0xE8;
  const std::uint32_t r = jump - v;
  std::memcpy(code.data() + 0x101, &r, 4);
  code[0x800] = 0xFF;
  code[0x801] = 0x25;
  std::memcpy(code.data() + 0x802, &slot, 4);
  std::memcpy(code.data() + 0x900, &real, 4);
  memory.AddRegion(kCode, code);
  memory.AddRegion(kStack, Dwords({v}));
  TStackScan scan;
  scan.StartAddress = kCode + 0x50;
  scan.StackStart = kStack;
  scan.StackTop = kStack + 4;
  scan.FaultingThread = true;
  scan.ThreadId = 77;
  TVantorStackList* list = CollectCallStack(memory, nullptr, scan);
  EXPECT_EQ(Addresses(*list), (std::vector<std::uint64_t>{kCode + 0x50, real, kCode + 0x100}));
  EXPECT_EQ(list->Items(0)->FirstEntry, 1);
  EXPECT_EQ(list->Items(1)->FirstEntry, 0);
  EXPECT_EQ(list->Items(2)->FaultingThread, 1);
  EXPECT_EQ(list->Items(2)->ThreadId, 77);
  list->Free();
}

// A code region with one "call eax" whose return address is `v`.
struct CallSite {
  RegionMemoryReader memory;
  std::uint32_t v = kCode + 0x102;
  CallSite() {
    Bytes code(0x200, 0x90);
    code[0x100] = 0xFF;
    code[0x101] = 0xD0;
    memory.AddRegion(kCode, code);
  }
};

TEST(StackScanner, BoundsOfAScan) {
  {  // A stack of 200000 bytes is scanned over its lowest 102400.
    CallSite s;
    std::vector<std::uint32_t> stack(200000 / 4, 0);
    stack[1000 / 4] = s.v;
    stack[102396 / 4] = s.v;
    stack[102400 / 4] = s.v;
    stack[150000 / 4] = s.v;
    s.memory.AddRegion(kStack, Dwords(stack));
    TVantorStackList* list = New<TVantorStackList>();
    TStackScan scan;
    scan.StackStart = kStack;
    scan.StackTop = kStack + 200000;
    ScanStackForCalls(*list, s.memory, nullptr, scan);
    EXPECT_EQ(list->Count(), 2);
    list->Free();
  }
  {  // 1500 return addresses give 1024 entries.
    CallSite s;
    s.memory.AddRegion(kStack, Dwords(std::vector<std::uint32_t>(1500, s.v)));
    TVantorStackList* list = New<TVantorStackList>();
    TStackScan scan;
    scan.StackStart = kStack;
    scan.StackTop = kStack + 6000;
    ScanStackForCalls(*list, s.memory, nullptr, scan);
    EXPECT_EQ(list->Count(), kMaxStackEntries);
    list->Free();
  }
  {  // Unreadable pages are skipped; a short readable piece is probed 4 bytes at a time.
    CallSite s;
    s.memory.AddRegion(kStack, Dwords({s.v, 0}));  // 8 bytes, then a gap
    s.memory.AddRegion(kStack + 0x1000, Dwords(std::vector<std::uint32_t>(256, 0)));
    s.memory.AddRegion(kStack + 0x2000, Dwords({0, 0, s.v}));
    TVantorStackList* list = New<TVantorStackList>();
    TStackScan scan;
    scan.StackStart = kStack;
    scan.StackTop = kStack + 0x2000 + 12;
    ScanStackForCalls(*list, s.memory, nullptr, scan);
    EXPECT_EQ(list->Count(), 2);
    list->Free();
  }
}

// Gives each address a kind from a table (for the kinds and limits).
class KindByAddress : public StackEntryMaker {
 public:
  void Make(std::uint64_t address, bool, TVLLocationInfo& entry) override {
    entry.Kind = static_cast<std::uint8_t>(address & 7);
  }
};

TEST(StackScanner, KindsAndLimits) {
  RegionMemoryReader memory;
  Bytes code(0x200, 0x90);
  // Four "call eax" sites whose call addresses end in 1, 2, 4 and 3 (the kinds).
  const std::uint32_t sites[] = {kCode + 0x101, kCode + 0x112, kCode + 0x124, kCode + 0x133};
  std::vector<std::uint32_t> stack;
  for (std::uint32_t site : sites) {
    code[site - kCode] = 0xFF;
    code[site - kCode + 1] = 0xD0;
    stack.push_back(site + 2);
  }
  memory.AddRegion(kCode, code);
  memory.AddRegion(kStack, Dwords(stack));
  KindByAddress maker;
  struct Case {
    std::uint8_t kinds;
    int skip, max;
    std::vector<std::uint64_t> expected;
  } cases[] = {
      {31, -1, -1, {sites[0], sites[1], sites[2], sites[3]}},
      {1u << 4, -1, -1, {sites[2]}},
      {(1u << 2) | (1u << 3), -1, -1, {sites[1], sites[3]}},
      {31, 1, 2, {sites[1], sites[2]}},
      {31, 3, -1, {sites[3]}},
      {31, -1, 0, {}},
  };
  for (const Case& c : cases) {
    TVantorStackList* list = New<TVantorStackList>();
    TStackScan scan;
    scan.StackStart = kStack;
    scan.StackTop = kStack + 16;
    scan.Kinds = c.kinds;
    scan.SkipCount = c.skip;
    scan.MaxCount = c.max;
    scan.Details = true;
    ScanStackForCalls(*list, memory, &maker, scan);
    EXPECT_EQ(Addresses(*list), c.expected) << int(c.kinds) << " " << c.skip << " " << c.max;
    list->Free();
  }
}

// --- Pruning ---
TVLLocationInfo* Entry(std::uint8_t kind, std::uint64_t address, TVantorModuleInfo* module, const char* proc,
                       int line = 1, int thread = 1) {
  auto* e = new TVLLocationInfo;
  e->Kind = kind;
  e->Address = address;
  e->Module = module;
  e->UnitName = "Unit1.pas";
  e->ProcedureName = proc;
  e->Line = line;
  e->ThreadId = thread;
  return e;
}

std::vector<int> Kinds(const TVantorStackList& list) {
  std::vector<int> out;
  for (int i = 0; i < list.Count(); ++i) out.push_back(list.Items(i)->Kind);
  return out;
}

TEST(StackPruning, DuplicatesOfOneModule) {
  auto* m1 = reinterpret_cast<TVantorModuleInfo*>(0x1000);
  auto* m2 = reinterpret_cast<TVantorModuleInfo*>(0x2000);
  TVantorStackList* list = New<TVantorStackList>();
  list->AddEntry(Entry(3, 10, m1, "A"));  // 0: same address next in its module: hidden
  list->AddEntry(Entry(3, 10, m1, "A"));  // 1: kept (the later one)
  list->AddEntry(Entry(3, 30, m2, "B"));  // 2: another module in between does not count
  list->AddEntry(Entry(3, 20, m1, "C"));  // 3
  list->AddEntry(Entry(3, 10, m1, "A"));  // 4
  list->AddEntry(Entry(1, 20, m1, ""));   // 5: bare entries are not pruned
  list->AddEntry(Entry(1, 20, m1, ""));   // 6
  PruneStackEntries(*list, 0, false);
  // Entry 1 (address 10): next of m1 is 3 (20), the one after it is 4 (10): hidden.
  EXPECT_EQ(Kinds(*list), (std::vector<int>{0, 0, 3, 3, 3, 1, 1}));
  list->Free();

  // Entries before the scan's first one are left alone.
  list = New<TVantorStackList>();
  list->AddEntry(Entry(3, 10, m1, "A"));
  list->AddEntry(Entry(3, 10, m1, "A"));
  PruneStackEntries(*list, 1, false);
  EXPECT_EQ(Kinds(*list), (std::vector<int>{3, 3}));
  list->Free();
}

TEST(StackPruning, LoopFramesAsWritten) {
  auto* m = reinterpret_cast<TVantorModuleInfo*>(0x1000);
  auto build = [&](bool recursionAtFirst, int otherThread) {
    TVantorStackList* list = New<TVantorStackList>();
    if (!recursionAtFirst) list->AddEntry(Entry(4, 100, m, "Main", 5));
    list->AddEntry(Entry(4, 200, m, "Rec", 12));                 // F
    list->AddEntry(Entry(4, 300, m, "Helper", 3, otherThread));  // between
    list->AddEntry(Entry(2, 400, m, "Other"));                   // between
    list->AddEntry(Entry(4, 500, m, "Rec", 0));                  // E: kind 4, line 0
    return list;
  };
  TVantorStackList* list = build(false, 1);
  PruneStackEntries(*list, 0, false);
  EXPECT_EQ(Kinds(*list), (std::vector<int>{4, 4, 0, 0, 4}));
  list->Free();

  list = build(true, 1);  // F is the first entry: nothing hidden
  PruneStackEntries(*list, 0, false);
  EXPECT_EQ(Kinds(*list), (std::vector<int>{4, 4, 2, 4}));
  list->Free();

  list = build(false, 2);  // another thread's entry ends the walk back
  PruneStackEntries(*list, 0, false);
  EXPECT_EQ(Kinds(*list), (std::vector<int>{4, 4, 4, 2, 4}));
  list->Free();
}

TEST(StackPruning, IdeModeDropsUnnamedEntriesAndHandlers) {
  SetHostedByIde(true);
  auto* m = reinterpret_cast<TVantorModuleInfo*>(0x1000);
  TVantorStackList* list = New<TVantorStackList>();
  list->AddEntry(Entry(1, 10, m, ""));
  list->AddEntry(Entry(4, 20, m, "TApplication.HandleException", 3));
  list->AddEntry(Entry(4, 30, m, "Run", 7));
  PruneStackEntries(*list, 0, true);
  EXPECT_EQ(Addresses(*list), (std::vector<std::uint64_t>{30}));
  list->Free();
  SetHostedByIde(false);
}

TEST(StackPruning, ListedKindsFromTheOptions) {
  TVantorModuleOptions* options = New<TVantorModuleOptions>("");
  EXPECT_EQ(GetListedStackEntryKinds(*options) & ~0x1C, 0);
  options->SetStackFlags(0);
  EXPECT_EQ(GetListedStackEntryKinds(*options), 1 << 4);
  options->SetStackFlags(1);
  EXPECT_EQ(GetListedStackEntryKinds(*options), (1 << 4) | (1 << 2));
  options->SetStackFlags(3);
  EXPECT_EQ(GetListedStackEntryKinds(*options), (1 << 4) | (1 << 3) | (1 << 2));
  options->Free();
}

}  // namespace
