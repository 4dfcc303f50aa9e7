// The tree fuzzers' common parts: a host that does nothing, a string tree that
// keeps captions and 8 bytes of user data per node, and the check that the
// tree's links, counts, heights and selection agree after an input.
//
// The worker thread that all trees share lives while any tree does. Each input
// makes and frees its own tree, so without a reference held for the whole run
// every input would start and join a thread (most of an input's time).
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <unordered_map>

#include "Exceptions.h"
#include "Streams.h"
#include "VirtualStringTreeCore.h"
#include "VirtualTrees.h"

namespace {

class NullHost : public TVirtualTreeHost {
 public:
  void Invalidate() override {}
  void InvalidateToBottom(TVTNode*) override {}
  void InvalidateNode(TVTNode*) override {}
  void UpdateScrollBars(bool) override {}
  bool HandleAllocated() const override { return false; }
  bool Loading() const override { return false; }
  bool Designing() const override { return false; }
  bool Destroying() const override { return false; }
  void StartTimer(int, unsigned) override {}
  void StopTimer(int) override {}
  std::uint64_t Milliseconds() const override { return 0; }
  void RecreateWindow() override {}
  void ThemeChanged() override {}
  void SetDropTargetRegistered(bool) override {}
};

class CaptionTree : public TVirtualStringTreeCore {
 public:
  CaptionTree(TVirtualTreeHost* host, bool multiSelect) : TVirtualStringTreeCore(nullptr, host) {
    SetNodeDataSize(8);
    SetMultiSelect(multiSelect);
    SetFreeNodeVirtual(true);
  }
  ~CaptionTree() override { Shutdown(); }
  std::unordered_map<TVTNode*, std::u16string> captions;

 protected:
  void DoFreeNode(TVTNode* node) override { captions.erase(node); }
  void DoNewText(TVTNode* node, int, const std::u16string& text) override { captions[node] = text; }
  void FireLoadNode(TVTNode* node, TStream& stream) override {
    std::uint8_t buffer[8] = {};
    stream.Read(buffer, 8);
    if (node) std::memcpy(NodeData(node), buffer, 8);
  }
};

void Check(bool ok) {
  if (!ok) std::abort();
}

// Walks the tree without recursion, checking every node against its children.
void CheckTree(CaptionTree& tree) {
  TVTNode* first = tree.FirstNodeRaw();
  if (!first) {
    Check(tree.TotalNodeCount() == 0 && tree.VisibleCount() == 0 && tree.TotalHeight() == 0);
    return;
  }
  std::uint32_t selected = 0;
  for (TVTNode* n = first; n; n = tree.NextNodeRaw(n)) {
    std::uint32_t count = 1, height = n->NodeHeight, children = 0;
    TVTNode* previous = nullptr;
    for (TVTNode* c = n->FirstChild; c; c = c->NextSibling) {
      Check(c->Parent == n && c->PrevSibling == previous && c->Index == children);
      count += c->TotalCount;
      if ((n->States & vsExpanded) && (c->States & vsVisible)) height += c->TotalHeight;
      previous = c;
      ++children;
    }
    Check(n->LastChild == previous && n->ChildCount == children && n->TotalCount == count && n->TotalHeight == height);
    Check((n->States & (vsDeleting | vsClearing)) == 0);
    if (n->States & vsSelected) ++selected;
  }
  Check(tree.Selection().size() == selected);
  std::uint32_t visible = 0;
  for (TVTNode* n = tree.FirstVisibleNodeRaw(); n; n = tree.NextVisibleNodeRaw(n)) ++visible;
  Check(tree.VisibleCount() == visible);
  Check(tree.UpdateCount() == 0);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  AcquireWorkerThread();  // held until the process ends
  return 0;
}
