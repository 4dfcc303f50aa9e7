// The tree benchmarks' body, run natively on the core and under Wine on the
// control's core: each figure printed beside a reference measured in the
// same run.
#pragma once

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <random>
#include <vector>

#include "VirtualTreeCore.h"

namespace treebench {

constexpr std::uint32_t kNodes = 1000000;

inline double Seconds(std::chrono::steady_clock::time_point since) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

struct Record {
  unsigned char bytes[sizeof(TVTNode)];
};

inline volatile std::uint64_t g_sink;

__attribute__((noinline)) inline void Touch(Record& r) {
  r.bytes[0] = 1;
}

// The handlers: counting init and free, lazy children for the expansion,
// and a key comparison for the sort.
struct Handlers {
  TVirtualTreeCore* tree = nullptr;
  std::uint64_t inits = 0, frees = 0;
  bool lazy = false;
  void Init(TObject*, TVTNode* parent, TVTNode*, std::uint8_t& states) {
    ++inits;
    if (lazy && !parent) states |= ivsHasChildren;
  }
  void InitChildren(TObject*, TVTNode*, std::uint32_t& count) { count = 1000; }
  void Free(TObject*, TVTNode*) { ++frees; }
  void Compare(TObject*, TVTNode* a, TVTNode* b, int, int& result) {
    const int ka = *static_cast<int*>(tree->NodeData(a)), kb = *static_cast<int*>(tree->NodeData(b));
    result = ka < kb ? -1 : ka > kb ? 1 : 0;
  }
};

// `privateBytes` gives the process's private bytes (null where not measured).
inline void Run(TVirtualTreeCore& tree, const char* where, const std::function<std::int64_t()>& privateBytes) {
  using clock = std::chrono::steady_clock;
  Handlers h;
  h.tree = &tree;
  tree.OnInitNode = TVTInitNodeEvent::Bind<&Handlers::Init>(&h);
  tree.OnFreeNode = TVTNodeEvent::Bind<&Handlers::Free>(&h);
  tree.OnCompareNodes = TVTCompareEvent::Bind<&Handlers::Compare>(&h);
  tree.SetNodeDataSize(0);

  // --- A million top-level nodes: made, initialised, their cache, cleared ---
  auto t = clock::now();
  std::vector<Record> records(kNodes);
  const double vectorTime = Seconds(t);
  const std::int64_t before = privateBytes ? privateBytes() : 0;
  t = clock::now();
  tree.SetRootChildCount(kNodes);
  const double makeTime = Seconds(t);
  const std::int64_t after = privateBytes ? privateBytes() : 0;
  tree.WaitForBackgroundValidation();

  t = clock::now();
  for (Record& r : records) Touch(r);
  const double walkReference = Seconds(t);
  t = clock::now();
  for (TVTNode* n = tree.FirstNodeRaw(); n; n = n->NextSibling) tree.InitializeNodeOnDemand(n);
  const double initTime = Seconds(t);
  g_sink = h.inits;

  t = clock::now();
  tree.StopBackgroundValidation();
  tree.RebuildPositionCache();
  const double cacheTime = Seconds(t);

  // Rows of a million: node at an offset and cell rectangles, with the cache and without.
  std::mt19937 random(1);
  const int height = int(tree.TotalHeight());
  std::vector<int> ys(10000);
  for (int& y : ys) y = std::uniform_int_distribution<int>(0, height - 1)(random);
  std::vector<TVTNode*> targets;
  for (int y : ys) targets.push_back(tree.NodeAtOffset(y, false));
  t = clock::now();
  for (int y : ys) g_sink = reinterpret_cast<std::uintptr_t>(tree.NodeAtOffset(y, false));
  const double atOffsetCached = Seconds(t) / double(ys.size());
  t = clock::now();
  for (TVTNode* n : targets) g_sink = std::uint64_t(tree.ComputeNodeCellRect(n, NoColumn, false, false).Top);
  const double rectCached = Seconds(t) / double(targets.size());
  // Inside an update block a change leaves the cache stale.
  tree.BeginUpdate();
  tree.SetDefaultNodeHeight(19);
  tree.SetDefaultNodeHeight(18);
  const std::size_t uncachedCalls = 200;
  t = clock::now();
  for (std::size_t i = 0; i < uncachedCalls; ++i)
    g_sink = reinterpret_cast<std::uintptr_t>(tree.NodeAtOffset(ys[i], false));
  const double atOffsetPlain = Seconds(t) / double(uncachedCalls);
  t = clock::now();
  for (std::size_t i = 0; i < uncachedCalls; ++i)
    g_sink = std::uint64_t(tree.ComputeNodeCellRect(targets[i], NoColumn, false, false).Top);
  const double rectPlain = Seconds(t) / double(uncachedCalls);
  tree.EndUpdate();

  std::vector<std::unique_ptr<Record>> blocks;
  blocks.reserve(kNodes);
  for (std::uint32_t i = 0; i < kNodes; ++i) blocks.push_back(std::make_unique<Record>());
  t = clock::now();
  blocks.clear();
  const double freeReference = Seconds(t);
  t = clock::now();
  tree.SetRootChildCount(0);
  const double clearTime = Seconds(t);
  g_sink = h.frees;

  // --- Sorting a million siblings by a key in their data ---
  tree.SetNodeDataSize(sizeof(int));
  tree.SetRootChildCount(kNodes);
  std::vector<TVTNode*> pointers;
  pointers.reserve(kNodes);
  for (TVTNode* n = tree.FirstNodeRaw(); n; n = n->NextSibling) {
    *static_cast<int*>(tree.NodeData(n)) = std::uniform_int_distribution<int>(0, 1 << 30)(random);
    n->States |= vsInitialized;  // the sort does not time the init events
    pointers.push_back(n);
  }
  std::uint64_t referenceComparisons = 0;
  t = clock::now();
  std::stable_sort(pointers.begin(), pointers.end(), [&](TVTNode* a, TVTNode* b) {
    ++referenceComparisons;
    int result;
    h.Compare(nullptr, a, b, 0, result);
    return result < 0;
  });
  const double stableSortTime = Seconds(t);
  const std::uint64_t comparisonsBefore = tree.Comparisons();
  t = clock::now();
  tree.SortChildren(nullptr, 0, sdAscending, false);
  const double sortTime = Seconds(t);
  const std::uint64_t comparisons = tree.Comparisons() - comparisonsBefore;
  const double nLog2N = double(kNodes) * std::log2(double(kNodes));
  tree.SetRootChildCount(0);
  tree.SetNodeDataSize(0);

  // --- Full expansion of a lazily built 1,000 x 1,000 tree ---
  h.lazy = true;
  tree.OnInitChildren = TVTInitChildrenEvent::Bind<&Handlers::InitChildren>(&h);
  tree.SetRootChildCount(1000);
  t = clock::now();
  tree.FullExpand();
  const double expandTime = Seconds(t);
  const std::uint32_t expandedRows = tree.VisibleCount();
  h.lazy = false;
  tree.OnInitChildren = TVTInitChildrenEvent();
  tree.SetRootChildCount(0);

  // --- Selecting and deleting half a million nodes ---
  constexpr std::uint32_t kHalf = 500000;
  tree.SetRootChildCount(kHalf);
  const bool multi = tree.MultiSelect();
  tree.SetMultiSelect(true);
  t = clock::now();
  tree.SelectEveryNode(false);
  const double selectTime = Seconds(t);
  const std::size_t selected = tree.SelectedCount();
  t = clock::now();
  tree.DeleteSelectedNodes();
  const double deleteTime = Seconds(t);
  tree.SetMultiSelect(multi);
  tree.OnInitNode = TVTInitNodeEvent();
  tree.OnFreeNode = TVTNodeEvent();
  tree.OnCompareNodes = TVTCompareEvent();

  std::printf("tree %s, %u top-level nodes (%zu bytes a node block, no user data):\n", where, kNodes,
              tree.NodeBlockSize());
  std::printf("  SetRootChildCount: %.3f s beside a vector of node-sized records %.3f s (ratio %.1f; goal <= 0.1 s)\n",
              makeTime, vectorTime, makeTime / vectorTime);
  std::printf(
      "  initialising all by a walk: %.3f s beside a walk calling a function %.3f s (ratio %.1f; goal <= 0.3 s)\n",
      initTime, walkReference, initTime / walkReference);
  std::printf(
      "  SetRootChildCount(0) with a free handler: %.3f s beside freeing separate blocks %.3f s"
      " (ratio %.1f; goal <= 0.1 s)\n",
      clearTime, freeReference, clearTime / freeReference);
  if (privateBytes)
    std::printf("  memory per node from private bytes: %.1f bytes (goal <= 64 plus user data on the 32-bit build)\n",
                double(after - before) / kNodes);
  std::printf("  position cache rebuild for %u visible rows: %.3f s\n", kNodes, cacheTime);
  std::printf("  NodeAtOffset per call: %.2f us with the cache, %.2f us without\n", atOffsetCached * 1e6,
              atOffsetPlain * 1e6);
  std::printf("  ComputeNodeCellRect per call: %.2f us with the cache, %.2f us without\n", rectCached * 1e6,
              rectPlain * 1e6);
  std::printf(
      "  SortChildren of %u siblings: %.3f s beside std::stable_sort of the pointers %.3f s (ratio %.1f; goal <= 1 s);"
      " %llu comparisons = %.2f x N log2 N (the reference made %.2f x)\n",
      kNodes, sortTime, stableSortTime, sortTime / stableSortTime, static_cast<unsigned long long>(comparisons),
      double(comparisons) / nLog2N, double(referenceComparisons) / nLog2N);
  std::printf("  FullExpand of 1,000 x 1,000 made on demand: %.3f s for %u rows\n", expandTime, expandedRows);
  std::printf("  SelectEveryNode of %zu nodes: %.3f s; DeleteSelectedNodes of them: %.3f s\n", selected, selectTime,
              deleteTime);
}

}  // namespace treebench
