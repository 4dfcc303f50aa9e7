// A recording host and tree for the core's tests, and the structural
// invariant checker they share.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "VirtualTreeCore.h"

// Records what the core asks of its window; timers run only when the test fires them.
class RecordingHost : public TVirtualTreeHost {
 public:
  void Invalidate() override { ++invalidations; }
  void InvalidateToBottom(TVTNode*) override { ++invalidations; }
  void InvalidateNode(TVTNode*) override { ++invalidations; }
  void UpdateScrollBars(bool) override { ++scrollBarUpdates; }
  bool HandleAllocated() const override { return handle; }
  bool Loading() const override { return loading; }
  bool Designing() const override { return designing; }
  bool Destroying() const override { return false; }
  void StartTimer(int id, unsigned ms) override { timers[id] = ms; }
  void StopTimer(int id) override { timers.erase(id); }
  // The clock moves by `tick` at every reading (the pacing loops poll it).
  std::uint64_t Milliseconds() const override { return clock += tick; }
  bool TimerRunning(int id) const { return timers.count(id) != 0; }
  void RecreateWindow() override { ++recreations; }
  void ThemeChanged() override { ++themeChanges; }
  void SetDropTargetRegistered(bool registered) override { dropTarget = registered; }
  int recreations = 0;
  int themeChanges = 0;
  bool dropTarget = false;

  int ClientWidth() const override { return clientWidth; }
  int ClientHeight() const override { return clientHeight; }
  void SetRedraw(bool on) override { redraw.push_back(on); }
  int SetScrollBar(bool horizontal, bool show, const TVTScrollBarInfo& info, bool) override {
    ScrollBar& bar = horizontal ? horizontalBar : verticalBar;
    bar.shown = show;
    if (show) bar.info = info;
    // The bar keeps its position within the range, as the system's does.
    const int top = std::max(0, info.Max - std::max(info.Page, 1) + 1);
    return show ? std::clamp(info.Position, 0, top) : 0;
  }
  bool SetClipboard(bool empty) override {
    clipboardCalls.push_back(empty);
    return empty || clipboardWorks;
  }
  struct ScrollBar {
    bool shown = false;
    TVTScrollBarInfo info;
  } horizontalBar, verticalBar;
  int clientWidth = 0, clientHeight = 0;
  std::vector<bool> redraw;
  std::vector<bool> clipboardCalls;
  bool clipboardWorks = true;

  int invalidations = 0;
  int scrollBarUpdates = 0;
  bool handle = true;
  bool loading = false;
  bool designing = false;
  std::map<int, unsigned> timers;
  mutable std::uint64_t clock = 0;
  std::uint64_t tick = 0;

  bool HeaderInAction() const override { return headerInAction; }
  bool IsCurrentDropTarget() const override { return currentDropTarget; }
  bool WindowAtPointIsTree(int, int) const override { return windowIsTree; }
  bool Terminating() const override { return terminating; }
  void ScrollClientArea(int dx, int dy, const TVTRect*, bool moveChildren) override {
    scrolls.push_back({dx, dy, moveChildren});
  }
  bool Enabled() const override { return enabled; }
  void FocusTree() override { ++focusRequests; }
  void PostReleaseEditLink() override { ++releasePosts; }
  bool enabled = true;
  int focusRequests = 0, releasePosts = 0;
  bool headerInAction = false, currentDropTarget = false, windowIsTree = true, terminating = false;
  struct Scroll {
    int dx, dy;
    bool moveChildren;
    bool operator==(const Scroll&) const = default;
  };
  std::vector<Scroll> scrolls;
};

// A tree whose events are recorded as text lines and whose init handlers
// are plain functions. A class derived from it calls Shutdown in its own
// destructor, so the worker never calls into a half-destroyed tree.
class RecordingTree : public TVirtualTreeCore {
 public:
  explicit RecordingTree(TObject* owner = nullptr, RecordingHost* host = nullptr)
      : TVirtualTreeCore(owner, host ? host : &ownHost) {
    SetFreeNodeVirtual(true);
  }
  ~RecordingTree() override { Shutdown(); }

  std::function<void(TVTNode* parent, TVTNode* node, std::uint8_t& states)> initNode;
  std::function<void(TVTNode* node, std::uint32_t& count)> initChildren;
  std::function<void(TVTNode* node)> freeNode;
  std::function<bool(TVTNode* node, std::uint8_t& state)> checking;
  bool record = true;
  std::vector<std::string> events;
  std::vector<TVTNode*> freed;
  std::vector<TVTNode*> focusChanges;
  std::vector<std::pair<TVTNode*, std::uint8_t>> structureChanges;
  std::vector<TVTNode*> changes;
  RecordingHost ownHost;

 protected:
  void DoInitNode(TVTNode* parent, TVTNode* node, std::uint8_t& states) override {
    if (initNode) initNode(parent, node, states);
  }
  void DoInitChildren(TVTNode* node, std::uint32_t& count) override {
    if (initChildren) initChildren(node, count);
  }
  void DoFreeNode(TVTNode* node) override {
    if (record) freed.push_back(node);
    if (freeNode) freeNode(node);
  }
  void DoFocusChange(TVTNode* node, int) override {
    if (record) focusChanges.push_back(node);
  }
  void DoStructureChange(TVTNode* node, std::uint8_t reason) override {
    if (record) structureChanges.push_back({node, reason});
  }
  void DoChange(TVTNode* node) override {
    if (record) changes.push_back(node);
  }
  bool DoChecking(TVTNode* node, std::uint8_t& state) override {
    if (record) events.push_back("checking");
    return checking ? checking(node, state) : true;
  }
  void DoChecked(TVTNode*) override {
    if (record) events.push_back("checked");
  }
};

// Builds a tree from levels in tree order ("0 1 1 0" = two top-level nodes,
// the first with two children), every node initialised and `rowHeight` pixels high.
inline std::vector<TVTNode*> BuildTreeFromLevels(RecordingTree& tree, const std::vector<int>& levels,
                                                 int rowHeight = 18) {
  std::vector<TVTNode*> nodes;
  std::vector<TVTNode*> parents;  // the last node of each level
  for (int level : levels) {
    TVTNode* n = tree.AllocateNode();
    n->States |= vsInitialized;
    n->NodeHeight = rowHeight;
    n->TotalHeight = rowHeight;
    parents.resize(std::size_t(level));
    tree.LinkNode(n, level ? parents.back() : nullptr, 4);
    if (level) parents.back()->States |= vsHasChildren;
    parents.push_back(n);
    nodes.push_back(n);
  }
  return nodes;
}

inline std::set<TVTNode*> SelectedNodes(const TVirtualTreeCore& tree) {
  const std::vector<TVTNode*> s = tree.Selection();
  return {s.begin(), s.end()};
}

// Walks the whole tree and checks indexes, links, counts, heights, the
// visible count and that the selection bits equal the selection array.
// Returns the number of nodes below the root.
inline TVTNode* RootOf(const TVirtualTreeCore& tree);
inline std::uint32_t CheckTreeInvariants(const TVirtualTreeCore& tree) {
  TVTNode* root = RootOf(tree);
  if (!root) {
    EXPECT_EQ(tree.TotalNodeCount(), 0u);
    EXPECT_EQ(tree.VisibleCount(), 0u);
    EXPECT_EQ(tree.TotalHeight(), 0u);
    EXPECT_TRUE(tree.Selection().empty());
    return 0;
  }
  std::uint32_t visible = 0;
  std::uint32_t selectedBits = 0;
  std::string fault;  // the first broken invariant
  auto expect = [&fault](bool ok, const char* what, const TVTNode* node) {
    if (!ok && fault.empty()) fault = std::string(what) + " at node index " + std::to_string(node->Index);
  };
  std::function<std::pair<std::uint32_t, std::uint32_t>(TVTNode*, bool)> visit =
      [&](TVTNode* node, bool shown) -> std::pair<std::uint32_t, std::uint32_t> {
    std::uint32_t count = 1, height = node->NodeHeight, children = 0;
    const bool expanded = node->States & vsExpanded;
    TVTNode* previous = nullptr;
    for (TVTNode* c = node->FirstChild; c; c = c->NextSibling) {
      expect(c->Parent == node, "Parent link", c);
      expect(c->PrevSibling == previous, "PrevSibling link", c);
      expect(c->Index == children, "Index", c);
      expect((c->States & (vsDeleting | vsClearing)) == 0, "left-over removal bits", c);
      const bool childShown = shown && expanded && (c->States & vsVisible);
      if (childShown) ++visible;
      if (c->States & vsSelected) ++selectedBits;
      auto [cc, ch] = visit(c, childShown);
      count += cc;
      if (expanded && (c->States & vsVisible)) height += ch;
      previous = c;
      ++children;
    }
    expect(node->LastChild == previous, "LastChild link", node);
    expect(node->ChildCount == children, "ChildCount", node);
    expect(node->TotalCount == count, "TotalCount", node);
    expect(node->TotalHeight == height, "TotalHeight", node);
    return {count, height};
  };
  auto [count, height] = visit(root, true);
  (void)height;
  EXPECT_EQ(fault, "");
  EXPECT_EQ(tree.VisibleCount(), visible);
  const std::vector<TVTNode*> selection = tree.Selection();
  EXPECT_EQ(selection.size(), selectedBits);
  for (std::size_t i = 0; i < selection.size(); ++i) {
    EXPECT_TRUE(selection[i]->States & vsSelected);
    if (i) {
      EXPECT_LT(reinterpret_cast<std::uintptr_t>(selection[i - 1]), reinterpret_cast<std::uintptr_t>(selection[i]));
    }
  }
  return count - 1;
}

// The root, found by climbing from a node (null without nodes).
inline TVTNode* RootOf(const TVirtualTreeCore& tree) {
  TVTNode* n = tree.FirstNodeRaw();
  if (!n) return nullptr;
  return n->Parent;
}
