// The tree's core with a million top-level nodes: making them, initialising
// them by a walk, clearing them with a free-node handler, and rebuilding the
// position cache, each beside a reference measured in the same run.
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <vector>

#include "VirtualTreeCore.h"

namespace {

constexpr std::uint32_t kNodes = 1000000;

double Seconds(std::chrono::steady_clock::time_point since) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

class BenchTree : public TVirtualTreeCore {
 public:
  BenchTree() : TVirtualTreeCore(nullptr, nullptr) { SetFreeNodeVirtual(true); }
  ~BenchTree() override { Shutdown(); }
  std::uint64_t inits = 0, frees = 0;

 protected:
  void DoInitNode(TVTNode*, TVTNode*, std::uint8_t&) override { ++inits; }
  void DoFreeNode(TVTNode*) override { ++frees; }
};

struct Record {
  unsigned char bytes[sizeof(TVTNode)];
};

volatile std::uint64_t g_sink;

__attribute__((noinline)) void Touch(Record& r) {
  r.bytes[0] = 1;
}

}  // namespace

int main() {
  using clock = std::chrono::steady_clock;
  BenchTree tree;

  auto t = clock::now();
  std::vector<Record> records(kNodes);
  const double vectorTime = Seconds(t);
  t = clock::now();
  tree.SetRootChildCount(kNodes);
  const double makeTime = Seconds(t);
  tree.WaitForBackgroundValidation();

  t = clock::now();
  for (Record& r : records) Touch(r);
  const double walkReference = Seconds(t);
  t = clock::now();
  for (TVTNode* n = tree.FirstNodeRaw(); n; n = n->NextSibling) tree.InitializeNodeOnDemand(n);
  const double initTime = Seconds(t);
  g_sink = tree.inits;

  t = clock::now();
  tree.StopBackgroundValidation();
  tree.RebuildPositionCache();
  const double cacheTime = Seconds(t);

  std::vector<std::unique_ptr<Record>> blocks;
  blocks.reserve(kNodes);
  for (std::uint32_t i = 0; i < kNodes; ++i) blocks.push_back(std::make_unique<Record>());
  t = clock::now();
  blocks.clear();
  const double freeReference = Seconds(t);
  t = clock::now();
  tree.SetRootChildCount(0);
  const double clearTime = Seconds(t);
  g_sink = tree.frees;

  std::printf("tree core, %u top-level nodes (%zu bytes a node, no user data):\n", kNodes, tree.NodeBlockSize());
  std::printf("  SetRootChildCount: %.3f s beside a vector of node-sized records %.3f s (ratio %.1f; goal <= 0.1 s)\n",
              makeTime, vectorTime, makeTime / vectorTime);
  std::printf(
      "  initialising all by a walk: %.3f s beside a walk calling a function %.3f s (ratio %.1f; goal <= 0.3 s)\n",
      initTime, walkReference, initTime / walkReference);
  std::printf(
      "  SetRootChildCount(0) with a free handler: %.3f s beside freeing separate blocks %.3f s"
      " (ratio %.1f; goal <= 0.1 s)\n",
      clearTime, freeReference, clearTime / freeReference);
  std::printf("  position cache rebuild for %u visible rows: %.3f s\n", kNodes, cacheTime);
  return 0;
}
