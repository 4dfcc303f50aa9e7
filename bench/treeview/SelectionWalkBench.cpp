// Walking a large selection: 100,000 selected nodes (every other child of
// 200 parents with 1,000 children each) walked with FirstSelectedNode /
// NextSelectedNode, beside walking 100,000 nodes in tree order with
// FirstNode / NextNode; and the selected nodes rendered as tab-separated
// text, beside the same rendering of a tree of 100,000 nodes in tree order.
// The runs alternate (selection, reference, selection, reference); the best
// of each is printed. Goal: the selection within 3x of its reference.
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "VirtualStringTreeCells.h"
#include "VirtualStringTreeCore.h"
#include "VirtualTreeRenderings.h"

namespace {

constexpr std::uint32_t kParents = 200;
constexpr std::uint32_t kChildren = 1000;
constexpr std::size_t kSelected = std::size_t(kParents) * kChildren / 2;
constexpr int kRounds = 15;

volatile std::uintptr_t g_sink;

double Seconds(std::chrono::steady_clock::time_point since) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

struct Captions {
  void Get(TObject*, TVTNode* node, int, int kind, std::u16string& text) {
    if (kind == ttNormal) text = node->Index & 1 ? u"Odd caption" : u"Even caption";
  }
};

// Every node made and initialised, so the timed walks only walk.
void Fill(TVirtualStringTreeCore& tree, std::uint32_t parents, std::uint32_t children) {
  tree.SetRootChildCount(parents);
  for (TVTNode* p = tree.FirstNode(); p; p = tree.NextSiblingOf(p)) tree.SetChildCount(p, children);
  for (TVTNode* n = tree.FirstNode(); n; n = tree.NextNode(n)) {
  }
}

}  // namespace

int main() {
  Captions captions;
  TVirtualStringTreeCore selected(nullptr, nullptr), plain(nullptr, nullptr);
  selected.OnGetText = decltype(selected.OnGetText)::Bind<&Captions::Get>(&captions);
  plain.OnGetText = decltype(plain.OnGetText)::Bind<&Captions::Get>(&captions);
  Fill(selected, kParents, kChildren);
  // The plain tree holds as many nodes as are selected in the other.
  Fill(plain, 100, std::uint32_t(kSelected / 100 - 1));

  selected.SetMultiSelect(true);
  std::vector<TVTNode*> picks;
  for (TVTNode* n = selected.FirstNode(); n; n = selected.NextNode(n)) {
    if (n->Parent != nullptr && selected.NodeLevel(n) == 1 && n->Index % 2 == 0) picks.push_back(n);
  }
  selected.MergeIntoSelection(picks.data(), picks.size(), true);

  double walk = 1e9, walkReference = 1e9, render = 1e9, renderReference = 1e9;
  std::size_t walked = 0, referenceWalked = 0, rendered = 0, referenceRendered = 0;
  for (int round = 0; round < kRounds; ++round) {
    auto t = std::chrono::steady_clock::now();
    walked = 0;
    for (TVTNode* n = selected.FirstSelectedNode(); n; n = selected.NextSelectedNode(n)) {
      g_sink = reinterpret_cast<std::uintptr_t>(n);
      ++walked;
    }
    walk = std::min(walk, Seconds(t));

    t = std::chrono::steady_clock::now();
    referenceWalked = 0;
    for (TVTNode* n = selected.FirstNode(); n && referenceWalked < kSelected; n = selected.NextNode(n)) {
      g_sink = reinterpret_cast<std::uintptr_t>(n);
      ++referenceWalked;
    }
    walkReference = std::min(walkReference, Seconds(t));

    t = std::chrono::steady_clock::now();
    {
      TVTStringTreeCells cells(selected, tstSelected, TVTRenderLooks());
      rendered = cells.RowCount();
      g_sink = WideTextOfRows(cells, u"\t").size();
    }
    render = std::min(render, Seconds(t));

    t = std::chrono::steady_clock::now();
    {
      TVTStringTreeCells cells(plain, tstAll, TVTRenderLooks());
      referenceRendered = cells.RowCount();
      g_sink = WideTextOfRows(cells, u"\t").size();
    }
    renderReference = std::min(renderReference, Seconds(t));
  }

  std::printf("selection walk (native): %zu selected among %u nodes, best of %d alternating runs\n", walked,
              kParents * (kChildren + 1), kRounds);
  std::printf(
      "  FirstSelectedNode/NextSelectedNode %.4f s beside FirstNode/NextNode over %zu nodes %.4f s "
      "(ratio %.2f; goal <= 3)\n",
      walk, referenceWalked, walkReference, walk / walkReference);
  std::printf(
      "  text rendering of the %zu selected nodes %.4f s beside %zu nodes in tree order %.4f s "
      "(ratio %.2f; goal <= 3)\n",
      rendered, render, referenceRendered, renderReference, render / renderReference);
  selected.Shutdown();
  plain.Shutdown();
  const bool counted = walked == kSelected && rendered == kSelected && referenceRendered == kSelected;
  return counted ? 0 : 1;
}
