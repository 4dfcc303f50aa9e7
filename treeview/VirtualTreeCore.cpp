#include "VirtualTreeCore.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <exception>
#include <map>
#include <mutex>
#include <new>
#include <set>
#include <thread>

#include "ByteReader.h"
#include "StdActns.h"
#include "Streams.h"

namespace {
// Tree states of the window's input handling that the scrolling reads.
constexpr int tsDrawSelPendingBit = 6;    // a rubber band may start
constexpr int tsSizingBit = 26;           // a resize is being handled
constexpr int tsThumbTrackingBit = 30;    // a scroll-bar thumb is dragged
constexpr int tsFrameworkDragImage = 36;  // a framework drag image shows over the tree
}  // namespace

namespace {

constexpr std::uint64_t kWorkerStateMask =
    (1ull << tsStopValidation) | (1ull << tsValidated) | (1ull << tsValidating) | (1ull << tsValidationNeeded);

// The worker-owned states live in a 32-bit atomic word: bit 27 stays bit 27,
// bits 32, 34 and 35 move to 28, 29 and 30.
std::uint32_t WorkerBit(int bit) {
  switch (bit) {
    case tsStopValidation:
      return 1u << 27;
    case tsValidated:
      return 1u << 28;
    case tsValidating:
      return 1u << 29;
    default:
      return 1u << 30;  // tsValidationNeeded
  }
}

bool IsWorkerState(int bit) {
  return bit >= 0 && bit < 64 && (kWorkerStateMask >> bit) & 1;
}

// Slabs grow with the tree: the first is small, each next one as large as
// all before it, up to the largest size. A tree of a few nodes takes a few
// kilobytes, a large one still comes in few large slabs.
constexpr std::size_t kFirstSlabBytes = 4u << 10;
constexpr std::size_t kSlabBytes = 1u << 20;

std::size_t RoundUp(std::size_t value, std::size_t to) {
  return (value + to - 1) / to * to;
}

std::uintptr_t Addr(const void* p) {
  return reinterpret_cast<std::uintptr_t>(p);
}
bool Tagged(const TVTNode* p) {
  return Addr(p) & 1;
}
TVTNode* Tag(TVTNode* p) {
  return reinterpret_cast<TVTNode*>(Addr(p) | 1);
}

// Counts a removal's nesting; the outermost one re-raises the first error a
// free-node handler raised once the structure is whole again.
class RemovalScope {
 public:
  RemovalScope(int& depth, std::exception_ptr& error) : depth_(depth), error_(error) { ++depth_; }
  ~RemovalScope() { --depth_; }
  void Finish() {
    if (depth_ == 1 && error_) {
      std::exception_ptr e = error_;
      error_ = nullptr;
      std::rethrow_exception(e);
    }
  }

 private:
  int& depth_;
  std::exception_ptr& error_;
};

}  // namespace

// Brackets every change to the nodes: the outermost one first takes the tree
// away from the worker (the worker reads links, states and heights), and at
// its end hands the tree back when the cache needs validation.
class TVirtualTreeCore::WorkScope {
 public:
  explicit WorkScope(TVirtualTreeCore& tree) : tree_(tree) {
    if (tree_.busy_++ == 0) tree_.StopBackgroundValidation();
  }
  ~WorkScope() {
    if (--tree_.busy_ != 0 || tree_.updateCount_ != 0 || tree_.shutDown_) return;
    if (!tree_.HasTreeState(tsValidationNeeded)) return;
    try {
      tree_.QueueCacheValidation();
    } catch (...) {
      // Without the worker the cache stays invalid and lookups walk the tree.
    }
  }
  WorkScope(const WorkScope&) = delete;
  WorkScope& operator=(const WorkScope&) = delete;

 private:
  TVirtualTreeCore& tree_;
};

// --- The pool --------------------------------------------------------------------------------------

TVTNodePool::~TVTNodePool() {
  FreeSlabs();
}

void TVTNodePool::FreeSlabs() {
  for (char* slab : slabs_) ::operator delete(slab, std::align_val_t(alignof(TVTNode)));
  slabs_.clear();
  cursor_ = slabEnd_ = nullptr;
  freeList_ = nullptr;
  slabBytes_ = 0;
}

void TVTNodePool::SetBlockSize(std::size_t size) {
  size = RoundUp(std::max(size, sizeof(void*)), alignof(TVTNode));
  if (size == blockSize_) return;
  if (outstanding_ != 0) RaiseTreeError(u"Node blocks cannot change size while nodes exist.", 2000);
  FreeSlabs();
  blockSize_ = size;
}

void* TVTNodePool::Allocate() {
  void* block;
  if (freeList_) {
    block = freeList_;
    freeList_ = *static_cast<void**>(freeList_);
  } else {
    if (cursor_ == slabEnd_) {
      const std::size_t want = std::min(kSlabBytes, std::max(kFirstSlabBytes, slabBytes_));
      const std::size_t bytes = std::max(want, blockSize_) / blockSize_ * blockSize_;
      char* slab = static_cast<char*>(::operator new(bytes, std::align_val_t(alignof(TVTNode))));
      slabs_.push_back(slab);
      slabBytes_ += bytes;
      cursor_ = slab;
      slabEnd_ = slab + bytes;
    }
    block = cursor_;
    cursor_ += blockSize_;
  }
  std::memset(block, 0, blockSize_);
  ++outstanding_;
  return block;
}

void TVTNodePool::Release(void* block) {
  if (!block) return;
  *static_cast<void**>(block) = freeList_;
  freeList_ = block;
  // The last block back: the slabs go too, so clearing a large tree returns its memory.
  if (--outstanding_ == 0) FreeSlabs();
}

// --- Construction ----------------------------------------------------------------------------------

namespace {

// The live trees of the process by their ids.
struct TreeRegistry {
  std::mutex lock;
  std::map<std::uint32_t, TVirtualTreeCore*> trees;
  std::uint32_t lastId = 0;
};

TreeRegistry& Registry() {
  static TreeRegistry* registry = new TreeRegistry;  // outlives every tree, also static ones
  return *registry;
}

}  // namespace

void TVirtualTreeCore::RegisterTree(TVirtualTreeCore* tree) {
  TreeRegistry& registry = Registry();
  std::lock_guard<std::mutex> guard(registry.lock);
  do {
    ++registry.lastId;
  } while (registry.lastId == 0 || registry.trees.count(registry.lastId));
  tree->treeId_ = registry.lastId;
  registry.trees[tree->treeId_] = tree;
}

void TVirtualTreeCore::UnregisterTree(TVirtualTreeCore* tree) {
  TreeRegistry& registry = Registry();
  std::lock_guard<std::mutex> guard(registry.lock);
  registry.trees.erase(tree->treeId_);
}

TVirtualTreeCore* TVirtualTreeCore::FindTreeById(std::uint32_t id) {
  TreeRegistry& registry = Registry();
  std::lock_guard<std::mutex> guard(registry.lock);
  auto it = registry.trees.find(id);
  return it == registry.trees.end() ? nullptr : it->second;
}

TVirtualTreeCore::TVirtualTreeCore(TObject* owner, TVirtualTreeHost* host) : owner_(owner), host_(host) {
  AllocateRootNode();
  AcquireWorkerThread();
  RegisterTree(this);
}

TVirtualTreeCore::~TVirtualTreeCore() {
  UnregisterTree(this);
  try {
    Shutdown();
  } catch (...) {
    // A free-node handler failing at destruction: the memory is given back regardless.
  }
  FreeRootNode();
}

void TVirtualTreeCore::Shutdown() {
  if (shutDown_) return;
  shutDown_ = true;
  StopBackgroundValidation();
  std::exception_ptr error;
  try {
    RemoveAllChildren(nullptr, true);
  } catch (...) {
    error = std::current_exception();
  }
  ReleaseWorkerThread(this);
  if (error) std::rethrow_exception(error);
}

// The block in front of the root's header names the tree.
void TVirtualTreeCore::AllocateRootNode() {
  const std::size_t size = sizeof(TVTRootPrefix) + sizeof(TVTNode) + internalDataSize_;
  void* block = ::operator new(size, std::align_val_t(alignof(TVTNode)));
  std::memset(block, 0, size);
  if (rootBlock_) {
    std::memcpy(block, rootBlock_, sizeof(TVTRootPrefix) + sizeof(TVTNode));
    FreeRootNode();
  }
  rootBlock_ = block;
  static_cast<TVTRootPrefix*>(block)->Tree = owner_;
  static_cast<TVTRootPrefix*>(block)->Core = this;
  root_ = reinterpret_cast<TVTNode*>(static_cast<char*>(block) + sizeof(TVTRootPrefix));
  root_->Parent = nullptr;
  root_->PrevSibling = root_->NextSibling = root_;
  root_->States = vsInitialized | vsExpanded | vsHasChildren | vsVisible;
  if (root_->TotalCount == 0) root_->TotalCount = 1;
  root_->NodeHeight = static_cast<std::uint16_t>(defaultNodeHeight_);
  if (root_->TotalHeight == 0) root_->TotalHeight = root_->NodeHeight;
  root_->Align = 50;
}

void TVirtualTreeCore::FreeRootNode() {
  ::operator delete(rootBlock_, std::align_val_t(alignof(TVTNode)));
  rootBlock_ = nullptr;
  root_ = nullptr;
}

std::size_t TVirtualTreeCore::NodeBlockSize() const {
  const std::size_t user = (host_ && host_->Designing()) || nodeDataSize_ < 0 ? 0 : std::size_t(nodeDataSize_);
  return sizeof(TVTNode) + internalDataSize_ + user;
}

std::size_t TVirtualTreeCore::ReserveInternalNodeData(std::size_t bytes) {
  if (root_->FirstChild || pool_.Outstanding() != 0)
    RaiseTreeError(u"Internal node data can only be reserved while the tree has no nodes.", 2000);
  const std::size_t offset = sizeof(TVTNode) + internalDataSize_;
  internalDataSize_ += RoundUp(bytes, 4);
  AllocateRootNode();
  return offset;
}

void* TVirtualTreeCore::NodeData(TVTNode* node) const {
  if (!node || node == root_ || nodeDataSize_ <= 0 || (host_ && host_->Designing())) return nullptr;
  return reinterpret_cast<char*>(node) + sizeof(TVTNode) + internalDataSize_;
}

TVTNode* TVirtualTreeCore::AllocateNode() {
  if (nodeDataSize_ < 0) {
    const int size = DoGetNodeDataSize();
    nodeDataSize_ = size < 0 ? 0 : size;
  }
  if (pool_.Outstanding() == 0) pool_.SetBlockSize(NodeBlockSize());
  auto* node = static_cast<TVTNode*>(pool_.Allocate());
  node->TotalCount = 1;
  node->NodeHeight = static_cast<std::uint16_t>(defaultNodeHeight_);
  node->TotalHeight = node->NodeHeight;
  node->States = vsVisible;
  node->Align = 50;
  return node;
}

// --- Linking ---------------------------------------------------------------------------------------

void TVirtualTreeCore::LinkNode(TVTNode* node, TVTNode* destination, int mode) {
  WorkScope work(*this);
  if (!node || mode < 1 || mode > 4) return;
  destination = Real(destination);
  if ((mode == 1 || mode == 2) && destination == root_) return;
  StopBackgroundValidation();
  TVTNode* parent;
  switch (mode) {
    case 1: {
      parent = destination->Parent;
      node->Parent = parent;
      node->PrevSibling = destination->PrevSibling;
      node->NextSibling = destination;
      node->Index = destination->Index;
      if (destination->PrevSibling)
        destination->PrevSibling->NextSibling = node;
      else
        parent->FirstChild = node;
      destination->PrevSibling = node;
      for (TVTNode* n = destination; n; n = n->NextSibling) ++n->Index;
      break;
    }
    case 2: {
      parent = destination->Parent;
      node->Parent = parent;
      node->NextSibling = destination->NextSibling;
      node->PrevSibling = destination;
      if (destination->NextSibling)
        destination->NextSibling->PrevSibling = node;
      else
        parent->LastChild = node;
      destination->NextSibling = node;
      node->Index = destination->Index;
      for (TVTNode* n = node; n; n = n->NextSibling) ++n->Index;
      break;
    }
    case 3: {
      parent = destination;
      node->Parent = parent;
      node->PrevSibling = nullptr;
      node->NextSibling = parent->FirstChild;
      if (parent->FirstChild)
        parent->FirstChild->PrevSibling = node;
      else
        parent->LastChild = node;
      parent->FirstChild = node;
      node->Index = 0;
      for (TVTNode* n = node->NextSibling; n; n = n->NextSibling) ++n->Index;
      break;
    }
    default: {
      parent = destination;
      node->Parent = parent;
      node->NextSibling = nullptr;
      node->PrevSibling = parent->LastChild;
      if (parent->LastChild)
        parent->LastChild->NextSibling = node;
      else
        parent->FirstChild = node;
      parent->LastChild = node;
      node->Index = node->PrevSibling ? node->PrevSibling->Index + 1 : 0;
      break;
    }
  }
  ++parent->ChildCount;
  parent->States |= vsHasChildren;
  PropagateTotalCount(parent, node->TotalCount, true);
  // An invisible node adds no height: the parent's total counts visible children only.
  if ((parent->States & vsExpanded) && (node->States & vsVisible))
    PropagateTotalHeight(parent, node->TotalHeight, true);
  if (NodeFullyShown(node)) visibleCount_ += CountVisibleDescendants(node) + 1;
  MarkCacheStale();
}

void TVirtualTreeCore::UnlinkNode(TVTNode* node, bool keepFocus) {
  WorkScope work(*this);
  if (!node || node == root_) return;
  StopBackgroundValidation();
  if (node == focusedNode_ && !keepFocus) {
    focusedNode_ = nullptr;
    DoFocusChange(nullptr, focusedColumn_);
  }
  if (node == rangeAnchor_) ReanchorRangeAtFocus();
  if (node->States & vsDeleting) return;
  node->States &= ~vsChecking;
  TVTNode* parent = node->Parent;
  if (--parent->ChildCount == 0) parent->States &= ~vsHasChildren;
  PropagateTotalCount(parent, -std::int64_t(node->TotalCount), true);
  if ((parent->States & vsExpanded) && (node->States & vsVisible))
    PropagateTotalHeight(parent, -std::int64_t(node->TotalHeight), true);
  if (NodeFullyShown(node)) visibleCount_ -= CountVisibleDescendants(node) + 1;
  if (node->PrevSibling)
    node->PrevSibling->NextSibling = node->NextSibling;
  else
    parent->FirstChild = node->NextSibling;
  if (node->NextSibling)
    node->NextSibling->PrevSibling = node->PrevSibling;
  else
    parent->LastChild = node->PrevSibling;
  for (TVTNode* n = node->NextSibling; n; n = n->NextSibling) --n->Index;
  node->PrevSibling = node->NextSibling = nullptr;
  MarkCacheStale();
}

void TVirtualTreeCore::PropagateTotalCount(TVTNode* node, std::int64_t value, bool relative) {
  WorkScope work(*this);
  if (!node) return;
  const std::int64_t difference = relative ? value : value - std::int64_t(node->TotalCount);
  if (difference == 0) return;
  for (TVTNode* n = node; n; n = n->Parent) n->TotalCount = std::uint32_t(std::int64_t(n->TotalCount) + difference);
}

void TVirtualTreeCore::PropagateTotalHeight(TVTNode* node, std::int64_t value, bool relative) {
  WorkScope work(*this);
  if (!node) return;
  const std::int64_t difference = relative ? value : value - std::int64_t(node->TotalHeight);
  if (difference == 0) return;
  for (TVTNode* n = node;;) {
    n->TotalHeight = std::uint32_t(std::int64_t(n->TotalHeight) + difference);
    if (!(n->States & vsVisible) || n == root_) break;
    n = n->Parent;
    if (!n || !(n->States & vsExpanded)) break;
  }
}

bool TVirtualTreeCore::NodeFullyShown(const TVTNode* node) const {
  if (!node) return false;
  if (node == root_) return node->States & vsVisible;
  if (!(node->States & vsVisible)) return false;
  for (const TVTNode* p = node->Parent; p; p = p == root_ ? nullptr : p->Parent) {
    if ((p->States & (vsVisible | vsExpanded)) != (vsVisible | vsExpanded)) return false;
  }
  return true;
}

std::uint32_t TVirtualTreeCore::CountVisibleDescendants(const TVTNode* node) const {
  if (!node || !(node->States & vsExpanded)) return 0;
  std::uint32_t count = 0;
  for (const TVTNode* c = node->FirstChild; c; c = c->NextSibling) {
    if (c->States & vsVisible) count += 1 + CountVisibleDescendants(c);
  }
  return count;
}

int TVirtualTreeCore::CompareNodeLevels(const TVTNode* a, const TVTNode* b) const {
  const TVTNode* target = b && b != root_ ? b->Parent : nullptr;
  const TVTNode* p = a ? a : root_;
  if (p == target) return 1;
  int result = 0;
  // Unrelated nodes never meet `b`'s parent: the walk ends at the root.
  while (p != target && p != root_) {
    p = p->Parent;
    --result;
  }
  return result;
}

bool TVirtualTreeCore::VisibleSiblingFollows(const TVTNode* node) const {
  if (!node) return false;
  for (const TVTNode* n = node->NextSibling; n; n = n->NextSibling) {
    if (n->States & vsVisible) return true;
  }
  return false;
}

bool TVirtualTreeCore::IsFirstVisibleChild(const TVTNode* parent, const TVTNode* node) const {
  const TVTNode* p = parent ? parent : root_;
  for (const TVTNode* c = p->FirstChild; c; c = c->NextSibling) {
    if (c->States & vsVisible) return c == node;
  }
  return false;
}

bool TVirtualTreeCore::IsLastVisibleChild(const TVTNode* parent, const TVTNode* node) const {
  const TVTNode* p = parent ? parent : root_;
  for (const TVTNode* c = p->LastChild; c; c = c->PrevSibling) {
    if (c->States & vsVisible) return c == node;
  }
  return false;
}

int TVirtualTreeCore::NodeLevel(const TVTNode* node) const {
  int level = 0;
  if (!node || node == root_) return 0;
  for (const TVTNode* p = node->Parent; p && p != root_; p = p->Parent) ++level;
  return level;
}

int TVirtualTreeCore::CompareNodeOrder(const TVTNode* a, const TVTNode* b) const {
  if (a == b) return 0;
  if (!a) return -1;
  if (!b) return 1;
  int levelA = NodeLevel(a), levelB = NodeLevel(b);
  const TVTNode* x = a;
  const TVTNode* y = b;
  while (levelA > levelB) {
    x = x->Parent;
    --levelA;
  }
  if (x == b) return 1;
  while (levelB > levelA) {
    y = y->Parent;
    --levelB;
  }
  if (y == a) return -1;
  while (x->Parent != y->Parent) {
    x = x->Parent;
    y = y->Parent;
  }
  return int(std::int64_t(x->Index) - std::int64_t(y->Index));
}

// --- Counts and sizes ------------------------------------------------------------------------------

std::uint32_t TVirtualTreeCore::ChildCount(const TVTNode* node) const {
  return (node ? node : root_)->ChildCount;
}

void TVirtualTreeCore::SetChildCount(TVTNode* node, std::uint32_t count) {
  WorkScope work(*this);
  TVTNode* n = Real(node);
  RemovalScope scope(removalDepth_, freeNodeError_);
  if (count == 0) {
    RemoveAllChildren(node, false);
    scope.Finish();
    return;
  }
  if (count == n->ChildCount) return;
  StopBackgroundValidation();
  const int oldX = offsetX_, oldY = offsetY_;
  while (n->ChildCount > count) RemoveNode(n->LastChild);
  if (count > n->ChildCount) {
    const std::uint32_t added = count - n->ChildCount;
    std::uint32_t index = n->LastChild ? n->LastChild->Index + 1 : 0;
    if (!n->LastChild) n->States |= vsHasChildren;
    std::int64_t heights = 0;
    TVTNode* last = n->LastChild;
    for (std::uint32_t i = 0; i < added; ++i) {
      TVTNode* child = AllocateNode();
      child->Index = index++;
      child->Parent = n;
      child->PrevSibling = last;
      if (last)
        last->NextSibling = child;
      else
        n->FirstChild = child;
      last = child;
      heights += child->NodeHeight;
    }
    n->LastChild = last;
    if (n->States & vsExpanded) {
      PropagateTotalHeight(n, heights, true);
      if (NodeFullyShown(n)) visibleCount_ += added;
    }
    PropagateTotalCount(n, added, true);
    n->ChildCount = count;
    MarkCacheStale();
  }
  AfterStructureChange(oldX, oldY);
  ScheduleStructureChangeEvent(Public(n), crChildAdded);
  scope.Finish();
}

// While loading, the count waits beside the root (whose ChildCount keeps
// counting the nodes that exist) until ApplyLoadedRootCount.
void TVirtualTreeCore::SetRootChildCount(std::uint32_t count) {
  if (host_ && host_->Loading()) {
    pendingRootCount_ = count;
    SetTreeState(tsNeedRootCountUpdate, true);
    return;
  }
  if (count == root_->ChildCount) return;
  BeginUpdate();
  try {
    StopBackgroundValidation();
    SetChildCount(nullptr, count);
  } catch (...) {
    EndUpdate();
    throw;
  }
  EndUpdate();
}

void TVirtualTreeCore::ApplyLoadedRootCount() {
  if (!HasTreeState(tsNeedRootCountUpdate)) return;
  SetTreeState(tsNeedRootCountUpdate, false);
  SetRootChildCount(pendingRootCount_);
}

void TVirtualTreeCore::SetDefaultNodeHeight(int height) {
  WorkScope work(*this);
  if (height == 0) height = 18;
  if (height < 0 || height > 0xFFFF || height == defaultNodeHeight_) return;
  StopBackgroundValidation();
  const int difference = height - defaultNodeHeight_;
  root_->TotalHeight = std::uint32_t(std::int64_t(root_->TotalHeight) + difference);
  root_->NodeHeight = std::uint16_t(root_->NodeHeight + difference);
  defaultNodeHeight_ = height;
  MarkCacheStale();
  if (updateCount_ == 0 && host_ && host_->HandleAllocated() && !host_->Loading()) {
    QueueCacheValidation();
    RefreshScrollBars(true);
    if (focusedNode_) BringNodeIntoView(focusedNode_, true, false);
    host_->Invalidate();
  }
}

void TVirtualTreeCore::SetNodeDataSize(int size) {
  WorkScope work(*this);
  if (size < -1) size = -1;
  if (size == nodeDataSize_) return;
  nodeDataSize_ = size;
  if (host_ && (host_->Loading() || host_->Designing())) return;
  const std::uint32_t count = root_->ChildCount;
  BeginUpdate();
  try {
    RemoveAllChildren(nullptr, true);
    pool_.SetBlockSize(NodeBlockSize());
    SetChildCount(nullptr, count);
  } catch (...) {
    EndUpdate();
    throw;
  }
  EndUpdate();
}

// --- On-demand initialisation ----------------------------------------------------------------------

void TVirtualTreeCore::InitializeNodeOnDemand(TVTNode* node) {
  WorkScope work(*this);
  if (!node || node == root_) return;
  std::uint8_t initStates = 0;
  DoInitNode(Public(node->Parent), node, initStates);
  node->States |= vsInitialized;
  if (initStates & ivsDisabled) node->States |= vsDisabled;
  if (initStates & ivsHasChildren) node->States |= vsHasChildren;
  if (initStates & ivsSelected) {
    TVTNode* single[1] = {node};
    MergeIntoSelection(single, 1, false);
  }
  const bool wantExpanded = initStates & ivsExpanded;
  if (wantExpanded != bool(node->States & vsExpanded)) {
    if (wantExpanded)
      ToggleExpansion(node);
    else if (node->States & vsHasChildren)
      QueryChildCount(node);
  }
}

void TVirtualTreeCore::QueryChildCount(TVTNode* node) {
  WorkScope work(*this);
  if (!node || node == root_ || !(node->States & vsHasChildren)) return;
  std::uint32_t count = node->ChildCount;
  DoInitChildren(node, count);
  if (count != 0) {
    SetChildCount(node, count);
  } else {
    RemoveAllChildren(node, true);
    node->States &= ~vsHasChildren;
  }
}

void TVirtualTreeCore::SetExpanded(TVTNode* node, bool expanded) {
  if (node && node != root_ && bool(node->States & vsExpanded) != expanded) ToggleExpansion(node);
}

void TVirtualTreeCore::ToggleExpansion(TVTNode* node) {
  // The scope stops a running validation before any link or height changes.
  WorkScope work(*this);
  if (!node || node == root_ || (node->States & vsDeleting)) return;
  StopBackgroundValidation();
  const bool outside = updateCount_ == 0;
  TVTNode* topNode = outside && host_ ? TopmostNode() : nullptr;
  const bool animate = (OptionBits.Animation & 1) && outside && host_ && host_->HandleAllocated() &&
                       !HasTreeState(tsCollapsing) && !HasTreeState(tsExpanding);
  if (node->States & vsExpanded) {
    if (!DoCollapsing(node)) return;
    if (animate && NodeFullyShown(node)) {
      const TVTRect row = ComputeNodeCellRect(node, NoColumn, false, false);
      const int pixels = std::min<int>(int(node->TotalHeight) - node->NodeHeight, ClientHeight() - row.Bottom + 1);
      if (pixels > 0) {
        SetTreeState(tsHint, false);
        host_->UpdateWindow();
        host_->AnimateToggle(row.Bottom, pixels, false, AnimationDuration);
      }
    }
    if (NodeFullyShown(node)) visibleCount_ -= CountVisibleDescendants(node);
    node->States &= ~vsExpanded;
    PropagateTotalHeight(node, node->NodeHeight, false);
    MarkCacheStale();
    DoCollapsed(node);
  } else {
    if (!DoExpanding(node)) return;
    InitIfNeeded(node);
    CreateChildrenIfNeeded(node);
    if (node->ChildCount == 0) {
      // A node without children stays collapsed until it gets some.
      if (outside) InvalidateNodeArea(node);
      return;
    }
    std::int64_t sum = 0;
    for (TVTNode* c = node->FirstChild; c; c = c->NextSibling) {
      if (c->States & vsVisible) sum += c->TotalHeight;
    }
    if (animate && NodeFullyShown(node)) {
      const TVTRect row = ComputeNodeCellRect(node, NoColumn, false, false);
      if (row.Bottom < ClientHeight() && NextVisibleNodeRaw(node)) {
        const int pixels = int(std::min<std::int64_t>(ClientHeight() - row.Bottom + 1, sum));
        SetTreeState(tsHint, false);
        host_->UpdateWindow();
        host_->AnimateToggle(row.Bottom, pixels, true, AnimationDuration);
      }
    }
    node->States |= vsExpanded;
    PropagateTotalHeight(node, sum, true);
    if (NodeFullyShown(node)) visibleCount_ += CountVisibleDescendants(node);
    MarkCacheStale();
    DoExpanded(node);
  }
  if (!outside || !host_) return;
  QueueCacheValidation();
  RefreshScrollBars(true);
  // Scrolling the opened subtree into view is for a node that is shown; a
  // hidden one does not open its ancestors.
  if ((OptionBits.Auto & (1u << 3)) && (node->States & vsExpanded) && NodeFullyShown(node)) {
    if (int(node->TotalHeight) > ClientHeight())
      ShowNodeAtTop(node);
    else if (TVTNode* last = LastVisibleChildOfRaw(node))
      BringNodeIntoView(last, false, false);
  }
  if (TopmostNode() == topNode)
    host_->InvalidateToBottom(node);
  else
    host_->Invalidate();
}

// --- Removal ---------------------------------------------------------------------------------------

void TVirtualTreeCore::RemoveAllChildren(TVTNode* node, bool clearHasChildren) {
  WorkScope work(*this);
  TVTNode* n = Real(node);
  if (n->ChildCount == 0 && !n->FirstChild) {
    if (clearHasChildren && n != root_) n->States &= ~vsHasChildren;
    return;
  }
  RemovalScope scope(removalDepth_, freeNodeError_);
  StopBackgroundValidation();
  const int oldX = offsetX_, oldY = offsetY_;
  const bool shown = n == root_ || (NodeFullyShown(n) && (n->States & vsExpanded));
  n->States |= vsClearing;
  for (TVTNode* child = n->LastChild; child;) {
    TVTNode* previous = child->PrevSibling;
    if (shown && (child->States & vsVisible)) --visibleCount_;
    child->States |= vsDeleting;
    if (previous) previous->NextSibling = nullptr;
    RemoveNode(child);
    child = previous;
  }
  n->States &= ~vsClearing;
  if (clearHasChildren && n != root_) n->States &= ~vsHasChildren;
  if (n != root_) n->States &= ~vsExpanded;
  n->ChildCount = 0;
  if (n == root_ || (n->States & vsDeleting)) {
    n->TotalHeight = n->NodeHeight;
    n->TotalCount = 1;
  } else {
    PropagateTotalHeight(n, n->NodeHeight, false);
    PropagateTotalCount(n, 1, false);
  }
  n->FirstChild = n->LastChild = nullptr;
  MarkCacheStale();
  AfterStructureChange(oldX, oldY);
  ScheduleStructureChangeEvent(Public(n), crChildDeleted);
  scope.Finish();
}

void TVirtualTreeCore::RemoveNode(TVTNode* node) {
  WorkScope work(*this);
  if (!node || node == root_) return;
  RemovalScope scope(removalDepth_, freeNodeError_);
  RemoveNodeBody(node);
  scope.Finish();
}

void TVirtualTreeCore::RemoveNodeBody(TVTNode* node) {
  TVTNode* parent = node->Parent;
  if (!(parent->States & vsClearing)) ScheduleStructureChangeEvent(Public(parent), crChildDeleted);
  const int oldX = offsetX_, oldY = offsetY_;
  if (node->States & vsSelected) {
    if (updateCount_ > 0) {
      RemoveFromSelectionArray(node);
    } else {
      const bool synch = HasTreeState(tsSynchMode);
      SetTreeState(tsSynchMode, true);
      try {
        RemoveFromSelectionAndNotify(node);
      } catch (...) {
        SetTreeState(tsSynchMode, synch);
        throw;
      }
      SetTreeState(tsSynchMode, synch);
    }
  }
  InvalidateFromNode(Public(parent));
  SetTreeState(tsHint, false);
  RemoveAllChildren(node, false);
  UnlinkNode(node, false);
  ReleaseNode(node);
  MarkCacheStale();
  AfterStructureChange(oldX, oldY);
}

void TVirtualTreeCore::ReleaseNode(TVTNode* node) {
  ForgetReleasedNode(node);
  if (HasFreeNodeHandler() && (node->States & (vsInitialized | vsReleaseCall))) {
    try {
      DoFreeNode(node);
    } catch (...) {
      // The removal finishes first; its outermost call re-raises this.
      if (!freeNodeError_) freeNodeError_ = std::current_exception();
      if (removalDepth_ == 0) {
        pool_.Release(node);
        std::exception_ptr e = freeNodeError_;
        freeNodeError_ = nullptr;
        std::rethrow_exception(e);
      }
    }
  }
  pool_.Release(node);
}

void TVirtualTreeCore::ForgetReleasedNode(TVTNode* node) {
  if (hotNode_ == node) hotNode_ = nullptr;
  if (focusedNode_ == node) focusedNode_ = nullptr;
  if (rangeAnchor_ == node) rangeAnchor_ = nullptr;
  // A pending structure change for a node that goes is one of its parent's.
  if (pendingStructureNode_ == node) pendingStructureNode_ = Public(node->Parent);
  if (pendingChangeNode_ == node) pendingChangeNode_ = nullptr;
  if (SearchNode == node) SearchNode = nullptr;
  if (DropTargetNode == node) DropTargetNode = nullptr;
  dragSelection_.erase(std::remove(dragSelection_.begin(), dragSelection_.end(), node), dragSelection_.end());
  if (SpaceCheckNode == node) SpaceCheckNode = nullptr;
  if (MouseCheckNode == node) MouseCheckNode = nullptr;
  if (EditedNode == node) {
    // The edit goes with its node, even when the edit link refuses to cancel.
    CancelEditNode();
    if (EditedNode == node) {
      EditedNode = nullptr;
      SetTreeState(tsEditing, false);
      if (host_) host_->PostReleaseEditLink();
    }
  }
  for (TVTNode*& entry : tempNodes_) {
    if (entry == node) entry = Tag(node);
  }
}

void TVirtualTreeCore::AfterStructureChange(int oldOffsetX, int oldOffsetY) {
  // Inside a larger change (a removal of many nodes) the structure is not
  // whole yet: the outermost change does this once it is.
  if (updateCount_ != 0 || busy_ > 1) return;
  QueueCacheValidation();
  if (host_) {
    RefreshScrollBars(true);
    if (oldOffsetX != offsetX_ || oldOffsetY != offsetY_) host_->Invalidate();
  }
}

// --- Check states ----------------------------------------------------------------------------------

bool TVirtualTreeCore::ApplyCheckState(TVTNode* node, std::uint8_t newState) {
  WorkScope work(*this);
  if (!node || node == root_) return false;
  node->States |= vsChecking;
  bool result = true;
  try {
    if (node->CheckType == ctTriStateCheckBox && autoTriState_ &&
        (newState == csUncheckedNormal || newState == csCheckedNormal)) {
      if (node->ChildCount == 0 && (node->States & vsHasChildren)) QueryChildCount(node);
      for (TVTNode* c = node->FirstChild; c; c = c->NextSibling) {
        if (c->CheckType == ctTriStateCheckBox || c->CheckType == ctCheckBox) SetCheckState(c, newState);
      }
    }
    if (node->CheckType == ctRadioButton && newState == csCheckedNormal) {
      for (TVTNode* s = node->Parent->FirstChild; s; s = s->NextSibling) {
        if (s->CheckType == ctRadioButton) s->CheckState = csUncheckedNormal;
      }
      if (host_) host_->Invalidate();
    }
    TVTNode* parent = node->Parent;
    if (parent != root_ && !(parent->States & vsInitialized)) InitializeNodeOnDemand(parent);
    if (autoTriState_ && !(parent->States & (vsDisabled | vsChecking)) &&
        (node->CheckType == ctTriStateCheckBox || node->CheckType == ctCheckBox) && parent != root_ &&
        parent->CheckType == ctTriStateCheckBox) {
      // The parent's state follows from its children with this node's new state.
      const std::uint8_t old = node->CheckState;
      node->CheckState = newState;
      int boxes = 0, checked = 0, mixed = 0;
      for (TVTNode* c = parent->FirstChild; c; c = c->NextSibling) {
        if (c->CheckType != ctTriStateCheckBox && c->CheckType != ctCheckBox) continue;
        ++boxes;
        if (c->CheckState == csCheckedNormal || c->CheckState == csCheckedPressed) ++checked;
        if (c->CheckState == csMixedNormal || c->CheckState == csMixedPressed) ++mixed;
      }
      node->CheckState = old;
      std::uint8_t parentState = csUncheckedNormal;
      if (boxes > 0 && checked == boxes)
        parentState = csCheckedNormal;
      else if (checked > 0 || mixed > 0)
        parentState = csMixedNormal;
      if (parentState != parent->CheckState) {
        std::uint8_t asked = parentState;
        result = DoChecking(parent, asked);
        if (result) result = ApplyCheckState(parent, parentState);
        if (result) DoChecked(parent);
      }
    }
    if (result) {
      node->CheckState = newState;
      if (host_) host_->InvalidateNode(node);
    }
  } catch (...) {
    node->States &= ~vsChecking;
    throw;
  }
  node->States &= ~vsChecking;
  return result;
}

void TVirtualTreeCore::SetCheckState(TVTNode* node, std::uint8_t newState) {
  WorkScope work(*this);
  if (!node || node == root_ || node->CheckState == newState || (node->States & vsDisabled)) return;
  std::uint8_t state = newState;
  if (!DoChecking(node, state)) return;
  if (ApplyCheckState(node, state)) DoChecked(node);
}

void TVirtualTreeCore::SetCheckType(TVTNode* node, std::uint8_t type) {
  if (!node || node == root_ || node->CheckType == type) return;
  node->CheckType = type;
  node->CheckState = csUncheckedNormal;
  if (host_) host_->InvalidateNode(node);
}

// --- Focus -----------------------------------------------------------------------------------------

void TVirtualTreeCore::SetFocusedNode(TVTNode* node) {
  node = Public(node);
  if (node == focusedNode_) return;
  focusedNode_ = node;
  DoFocusChange(node, focusedColumn_);
}

// --- Position cache --------------------------------------------------------------------------------

std::uint32_t TVirtualTreeCore::CacheEntryCount() const {
  if (visibleCount_ <= 1) return 0;
  return (visibleCount_ + kCacheThreshold - 1) / kCacheThreshold;
}

void TVirtualTreeCore::MarkCacheStale() {
  workerStates_.fetch_and(~WorkerBit(tsValidated));
  workerStates_.fetch_or(WorkerBit(tsValidationNeeded));
}

std::vector<TVTCacheEntry> TVirtualTreeCore::ComputePositionCache() const {
  std::vector<TVTCacheEntry> cache;
  if (visibleCount_ <= kCacheThreshold) return cache;
  std::uint32_t y = 0, counter = 0;
  for (TVTNode* n = FirstVisibleNodeRaw(); n; n = NextVisibleNodeRaw(n), ++counter) {
    if (counter % kCacheThreshold == 0) cache.push_back({n, y});
    y += n->NodeHeight;
  }
  return cache;
}

void TVirtualTreeCore::RebuildPositionCache() {
  workerStates_.fetch_or(WorkerBit(tsValidating));
  workerStates_.fetch_and(~(WorkerBit(tsStopValidation) | WorkerBit(tsValidated) | WorkerBit(tsValidationNeeded)));
  auto stopped = [this] { return workerStates_.load() & WorkerBit(tsStopValidation); };
  positionCache_.clear();
  validCacheEntries_ = 0;
  bool wasStopped = false;
  if (visibleCount_ > kCacheThreshold) {
    positionCache_.resize(CacheEntryCount());
    std::uint32_t y = 0, counter = 0, filled = 0;
    for (TVTNode* n = FirstVisibleNodeRaw(); n && filled < positionCache_.size(); n = NextVisibleNodeRaw(n)) {
      if ((counter & 1023) == 0 && stopped()) {
        wasStopped = true;
        break;
      }
      if (counter % kCacheThreshold == 0) positionCache_[filled++] = {n, y};
      y += n->NodeHeight;
      ++counter;
    }
    if (wasStopped) {
      positionCache_.clear();
    } else {
      positionCache_.resize(filled);
      validCacheEntries_ = filled;
    }
  }
  if (!wasStopped) workerStates_.fetch_or(WorkerBit(tsValidated));
  workerStates_.fetch_and(~(WorkerBit(tsStopValidation) | WorkerBit(tsValidating)));
}

void TVirtualTreeCore::QueueCacheValidation() {
  StopBackgroundValidation();
  // A cache that is valid and needs no validation stays as it is.
  if (!(workerStates_.load() & WorkerBit(tsValidationNeeded))) return;
  // Lookups walk the nodes from here until the rebuild is done: a validation
  // that ended while the nodes were being marked stale may have left its mark,
  // and the worker rewrites the cache while this thread would read it.
  workerStates_.fetch_and(~WorkerBit(tsValidated));
  validCacheEntries_ = 0;
  // In the middle of a change the outermost WorkScope queues the tree once the nodes are whole.
  if (busy_ != 0) return;
  if (WorkerThread())
    QueueWithWorker(this);
  else
    RebuildPositionCache();
}

void TVirtualTreeCore::StopBackgroundValidation() {
  // Inside a change the outermost WorkScope has taken the tree away already,
  // and nothing hands it back before that scope ends.
  if (busy_ > 1) return;
  TWorkerThread* worker = WorkerThread();
  if (!worker) return;
  bool wasValidating = false;
  worker->TakeTreeAway(this, [&] {
    wasValidating = true;
    workerStates_.fetch_or(WorkerBit(tsStopValidation));
  });
  if (wasValidating) {
    workerStates_.fetch_and(~(WorkerBit(tsStopValidation) | WorkerBit(tsValidating) | WorkerBit(tsValidated)));
    workerStates_.fetch_or(WorkerBit(tsValidationNeeded));
  }
}

void TVirtualTreeCore::WaitForBackgroundValidation() {
  TWorkerThread* worker = WorkerThread();
  if (!worker) return;
  while (worker->IsWaiting(this)) std::this_thread::yield();
  worker->WaitWhileValidating(this);
}

bool TVirtualTreeCore::CacheEntryBeforeNode(const TVTNode* node, TVTNode*& entryNode, std::uint32_t& entryTop) const {
  entryNode = nullptr;
  entryTop = 0;
  if (!HasTreeState(tsValidated) || validCacheEntries_ == 0 || !node) return false;
  std::size_t low = 0, high = validCacheEntries_;
  while (low < high) {
    const std::size_t mid = (low + high) / 2;
    if (CompareNodeOrder(positionCache_[mid].Node, node) <= 0)
      low = mid + 1;
    else
      high = mid;
  }
  if (low == 0) return false;
  entryNode = positionCache_[low - 1].Node;
  entryTop = positionCache_[low - 1].AbsoluteTop;
  return true;
}

bool TVirtualTreeCore::CacheEntryAtPosition(std::uint32_t y, TVTNode*& entryNode, std::uint32_t& entryTop) const {
  entryNode = nullptr;
  entryTop = 0;
  if (!HasTreeState(tsValidated) || validCacheEntries_ == 0) return false;
  std::size_t low = 0, high = validCacheEntries_;
  while (low < high) {
    const std::size_t mid = (low + high) / 2;
    if (positionCache_[mid].AbsoluteTop <= y)
      low = mid + 1;
    else
      high = mid;
  }
  if (low == 0) return false;
  entryNode = positionCache_[low - 1].Node;
  entryTop = positionCache_[low - 1].AbsoluteTop;
  return true;
}

// --- Tree states -----------------------------------------------------------------------------------

bool TVirtualTreeCore::HasTreeState(int bit) const {
  if (IsWorkerState(bit)) return workerStates_.load() & WorkerBit(bit);
  return bit >= 0 && bit < 48 && ((states_ >> bit) & 1);
}

void TVirtualTreeCore::SetTreeState(int bit, bool on) {
  if (IsWorkerState(bit)) {
    if (on)
      workerStates_.fetch_or(WorkerBit(bit));
    else
      workerStates_.fetch_and(~WorkerBit(bit));
    return;
  }
  if (bit < 0 || bit >= 48) return;
  if (on)
    states_ |= 1ull << bit;
  else
    states_ &= ~(1ull << bit);
}

// --- Update blocks ---------------------------------------------------------------------------------
// The plain nesting; sorting and the repaint bookkeeping come with navigation.

void TVirtualTreeCore::BeginUpdate() {
  if (!host_ || !host_->Destroying()) {
    if (updateCount_ == 0) {
      FireUpdating(usBegin);
      if (host_) host_->SetRedraw(false);
    } else {
      FireUpdating(usUpdate);
    }
  }
  ++updateCount_;
  SetTreeState(tsUpdating, true);
}

void TVirtualTreeCore::EndUpdate() {
  if (updateCount_ == 0) return;
  --updateCount_;
  if (host_ && host_->Destroying()) return;
  if (updateCount_ == 0 && HasTreeState(tsUpdating)) {
    SetTreeState(tsUpdating, false);
    DropMarkedEntries();
    QueueCacheValidation();
    if (host_ && host_->HandleAllocated()) RefreshScrollBars(false);
    if (HasTreeState(tsStructureChangePending)) FireStructureChange(pendingStructureNode_, pendingStructureReason_);
    if (HasTreeState(tsChangePending)) FireChange(pendingChangeNode_);
    if (OptionBits.Auto & (1u << 4)) SortAllLevels(SortColumn(), SortDirection(), true);
    if (host_) {
      host_->SetRedraw(true);
      if (host_->HandleAllocated()) host_->Invalidate();
    }
  }
  FireUpdating(updateCount_ == 0 ? usEnd : usUpdate);
}

// --- Change events ---------------------------------------------------------------------------------

void TVirtualTreeCore::NotePendingChange(bool structure, TVTNode* node, std::uint8_t reason) {
  node = Public(node);
  if (structure) {
    if (HasTreeState(tsStructureChangePending)) {
      if (host_) host_->StopTimer(kStructureChangeTimer);
      if (pendingStructureReason_ == crIgnore)
        pendingStructureReason_ = reason;
      else if (reason != crIgnore)
        pendingStructureReason_ = crAccumulated;
    } else {
      SetTreeState(tsStructureChangePending, true);
      pendingStructureReason_ = reason;
    }
    pendingStructureNode_ = node;
  } else {
    if (HasTreeState(tsChangePending)) {
      if (host_) host_->StopTimer(kChangeTimer);
    } else {
      SetTreeState(tsChangePending, true);
    }
    pendingChangeNode_ = node;
  }
}

void TVirtualTreeCore::ScheduleStructureChangeEvent(TVTNode* node, std::uint8_t reason) {
  NotePendingChange(true, node, reason);
  if (updateCount_ > 0) return;
  if (changeDelay_ == 0 || HasTreeState(tsSynchMode) || !host_)
    FireStructureChange(pendingStructureNode_, pendingStructureReason_);
  else
    host_->StartTimer(kStructureChangeTimer, changeDelay_);
}

void TVirtualTreeCore::FireStructureChange(TVTNode* node, std::uint8_t reason) {
  if (host_) host_->StopTimer(kStructureChangeTimer);
  SetTreeState(tsStructureChangePending, false);
  pendingStructureNode_ = nullptr;
  pendingStructureReason_ = crIgnore;
  DoStructureChange(Public(node), reason);
}

void TVirtualTreeCore::ScheduleChangeEvent(TVTNode* node) {
  NotePendingChange(false, node);
  if (updateCount_ > 0) return;
  if (changeDelay_ == 0 || HasTreeState(tsSynchMode) || !host_)
    FireChange(pendingChangeNode_);
  else
    host_->StartTimer(kChangeTimer, changeDelay_);
}

void TVirtualTreeCore::FireChange(TVTNode* node) {
  if (host_) host_->StopTimer(kChangeTimer);
  SetTreeState(tsChangePending, false);
  pendingChangeNode_ = nullptr;
  DoChange(Public(node));
}

void TVirtualTreeCore::FireUpdating(int state) {
  if (OnUpdating) OnUpdating(owner_, state);
}

void TVirtualTreeCore::TimerFired(int id) {
  if (id == kStructureChangeTimer && HasTreeState(tsStructureChangePending))
    FireStructureChange(pendingStructureNode_, pendingStructureReason_);
  else if (id == kChangeTimer && HasTreeState(tsChangePending))
    FireChange(pendingChangeNode_);
  else if (host_)
    host_->StopTimer(id);
}

// --- Events ----------------------------------------------------------------------------------------

void TVirtualTreeCore::DoInitNode(TVTNode* parent, TVTNode* node, std::uint8_t& initStates) {
  if (OnInitNode) OnInitNode(owner_, parent, node, initStates);
}

void TVirtualTreeCore::DoInitChildren(TVTNode* node, std::uint32_t& childCount) {
  if (OnInitChildren) OnInitChildren(owner_, node, childCount);
}

void TVirtualTreeCore::DoFreeNode(TVTNode* node) {
  if (OnFreeNode) OnFreeNode(owner_, node);
}

void TVirtualTreeCore::DoFocusChange(TVTNode* node, int column) {
  if (OnFocusChanged) OnFocusChanged(owner_, node, column);
}

void TVirtualTreeCore::DoStructureChange(TVTNode* node, std::uint8_t reason) {
  if (OnStructureChange) OnStructureChange(owner_, node, reason);
}

void TVirtualTreeCore::DoChange(TVTNode* node) {
  if (OnChange) OnChange(owner_, node);
}

bool TVirtualTreeCore::DoChecking(TVTNode* node, std::uint8_t& newState) {
  bool allowed = true;
  if (OnChecking) OnChecking(owner_, node, newState, allowed);
  return allowed;
}

void TVirtualTreeCore::DoChecked(TVTNode* node) {
  if (OnChecked) OnChecked(owner_, node);
}

int TVirtualTreeCore::DoGetNodeDataSize() {
  int size = 0;
  if (OnGetNodeDataSize) OnGetNodeDataSize(owner_, size);
  return size;
}

// --- Selection -------------------------------------------------------------------------------------

bool TVirtualTreeCore::FindInSelection(const TVTNode* node, std::ptrdiff_t& index, std::ptrdiff_t high,
                                       std::ptrdiff_t low) const {
  index = 0;
  if (!node) return false;
  if (low < 0) low = 0;
  if (high < 0) high = std::ptrdiff_t(selectionCount_) - 1;
  const std::uintptr_t key = Addr(node);
  while (low <= high) {
    const std::ptrdiff_t mid = low + (high - low) / 2;
    const std::uintptr_t value = Addr(selection_[std::size_t(mid)]);
    if (value == key) {
      index = mid;
      return true;
    }
    if (value < key)
      low = mid + 1;
    else
      high = mid - 1;
  }
  index = low;
  return false;
}

bool TVirtualTreeCore::MergeIntoSelection(TVTNode** nodes, std::size_t count, bool forced) {
  WorkScope work(*this);
  if (!nodes || count == 0) return false;
  std::vector<TVTNode*> batch;
  batch.reserve(count);
  for (std::size_t i = 0; i < count; ++i) {
    TVTNode* node = nodes[i];
    if (!node || Tagged(node) || node == root_) continue;
    if (node->States & vsSelected) continue;  // already in the array, forced or not
    if (!forced) {
      if (levelConstraint_ && lastSelectionLevel_ < 0) lastSelectionLevel_ = NodeLevel(node);
      if (siblingConstraint_ && !rangeAnchor_) rangeAnchor_ = node;
      if (node->States & vsDisabled) continue;
      if (levelConstraint_ && NodeLevel(node) != lastSelectionLevel_) continue;
      if (siblingConstraint_ && node->Parent != rangeAnchor_->Parent) continue;
    }
    node->States |= vsSelected;
    batch.push_back(node);
  }
  if (batch.empty()) return false;
  if (batch.size() > 1) QuickSortPointers(reinterpret_cast<void**>(batch.data()), 0, std::ptrdiff_t(batch.size()) - 1);
  const std::size_t total = selectionCount_ + batch.size();
  if (selection_.size() < total) selection_.resize(total);
  std::ptrdiff_t i = std::ptrdiff_t(selectionCount_) - 1;
  std::ptrdiff_t j = std::ptrdiff_t(batch.size()) - 1;
  std::ptrdiff_t k = std::ptrdiff_t(total) - 1;
  while (j >= 0) {
    if (i >= 0 && Addr(selection_[std::size_t(i)]) > Addr(batch[std::size_t(j)]))
      selection_[std::size_t(k--)] = selection_[std::size_t(i--)];
    else
      selection_[std::size_t(k--)] = batch[std::size_t(j--)];
  }
  selectionCount_ = total;
  return true;
}

void TVirtualTreeCore::AddToSelectionAndNotify(TVTNode* node) {
  TVTNode* one[1] = {node};
  if (MergeIntoSelection(one, 1, false)) ScheduleChangeEvent(node);
}

void TVirtualTreeCore::AddManyToSelectionAndNotify(TVTNode** nodes, std::size_t count, bool newSelection) {
  if (count == 0) return;
  TVTNode* single = count == 1 ? nodes[0] : nullptr;
  if (MergeIntoSelection(nodes, count, newSelection)) ScheduleChangeEvent(single);
}

bool TVirtualTreeCore::AddOneToSelection(TVTNode* node, bool forced) {
  TVTNode* one[1] = {node};
  return MergeIntoSelection(one, 1, forced);
}

void TVirtualTreeCore::AppendToTempNodeArray(TVTNode* node) {
  if (tempNodes_.size() == tempNodes_.capacity()) {
    const std::size_t capacity = tempNodes_.capacity();
    tempNodes_.reserve(capacity < 100 ? 100 : capacity + capacity / 10);
  }
  tempNodes_.push_back(node);
}

std::ptrdiff_t TVirtualTreeCore::DropMarkedEntries(TVTNode** nodes, std::ptrdiff_t count) {
  if (!nodes || count <= 0) return -1;
  std::ptrdiff_t kept = 0;
  for (std::ptrdiff_t i = 0; i < count; ++i) {
    if (!Tagged(nodes[i])) nodes[kept++] = nodes[i];
  }
  return kept;
}

void TVirtualTreeCore::DropMarkedEntries() {
  const std::ptrdiff_t kept = DropMarkedEntries(selection_.data(), std::ptrdiff_t(selectionCount_));
  selectionCount_ = kept < 0 ? 0 : std::size_t(kept);
  selection_.resize(selectionCount_);
}

void TVirtualTreeCore::DropAllSelected() {
  WorkScope work(*this);
  if (updateCount_ > 0) DropMarkedEntries();
  for (std::size_t i = 0; i < selectionCount_; ++i) {
    if (!Tagged(selection_[i])) selection_[i]->States &= ~vsSelected;
  }
  ReanchorRangeAtFocus();
  selection_.clear();
  selection_.shrink_to_fit();
  selectionCount_ = 0;
}

void TVirtualTreeCore::RemoveFromSelectionArray(TVTNode* node) {
  WorkScope work(*this);
  std::ptrdiff_t index;
  if (!FindInSelection(node, index, -1, -1)) return;
  node->States &= ~vsSelected;
  selection_[std::size_t(index)] = Tag(node);
}

void TVirtualTreeCore::RemoveFromSelectionAndNotify(TVTNode* node) {
  WorkScope work(*this);
  if (!node || !(node->States & vsSelected)) return;
  node->States &= ~vsSelected;
  std::ptrdiff_t index;
  if (FindInSelection(node, index, -1, -1)) {
    selection_.erase(selection_.begin() + index);
    --selectionCount_;
  }
  if (selectionCount_ == 0) ReanchorRangeAtFocus();
  ScheduleChangeEvent(node);
}

void TVirtualTreeCore::ReanchorRangeAtFocus() {
  rangeAnchor_ = focusedNode_;
  lastSelectionLevel_ = -1;
}

bool TVirtualTreeCore::HasSelection() const {
  for (std::size_t i = 0; i < selectionCount_; ++i) {
    if (!Tagged(selection_[i])) return true;
  }
  return false;
}

std::vector<TVTNode*> TVirtualTreeCore::Selection() const {
  std::vector<TVTNode*> result;
  for (std::size_t i = 0; i < selectionCount_; ++i) {
    if (!Tagged(selection_[i])) result.push_back(selection_[i]);
  }
  return result;
}

void TVirtualTreeCore::SelectNodeRange(TVTNode* from, TVTNode* to, bool keepSelection) {
  WorkScope work(*this);
  tempNodes_.clear();
  if (!from || !NodeFullyShown(from)) from = PreviousVisibleNodeRaw(from);
  if (!from) from = FirstNodeRaw();
  if (!from || !to) return;
  if (CompareNodeOrder(from, to) > 0) std::swap(from, to);
  TVTNode* anchor = rangeAnchor_;
  if (!keepSelection) DropAllSelected();
  for (TVTNode* n = from; n; n = NextVisibleNodeRaw(n)) {
    AppendToTempNodeArray(n);
    if (n == to) break;
  }
  MergeIntoSelection(tempNodes_.data(), tempNodes_.size(), false);
  tempNodes_.clear();
  if (anchor && (anchor->States & vsSelected)) rangeAnchor_ = anchor;
}

void TVirtualTreeCore::ResizeRangeSelection(TVTNode* oldEnd, TVTNode* newEnd) {
  WorkScope work(*this);
  if (!oldEnd)
    oldEnd = FirstNodeRaw();
  else if (!NodeFullyShown(oldEnd))
    oldEnd = PreviousVisibleNodeRaw(oldEnd);
  if (!oldEnd || !newEnd) return;
  const int order = CompareNodeOrder(oldEnd, newEnd);
  if (order == 0) return;
  tempNodes_.clear();
  TVTNode* first = order < 0 ? oldEnd : newEnd;
  TVTNode* last = order < 0 ? newEnd : oldEnd;
  auto toggle = [this](TVTNode* n) {
    if (n->States & vsSelected)
      RemoveFromSelectionArray(n);
    else
      AppendToTempNodeArray(n);
  };
  for (TVTNode* n = first; n; n = NextVisibleNodeRaw(n)) {
    if (n == first) {
      if (rangeAnchor_ && CompareNodeOrder(n, rangeAnchor_) < 0) toggle(n);
    } else if (n == last) {
      if (rangeAnchor_ && CompareNodeOrder(n, rangeAnchor_) > 0) toggle(n);
      break;
    } else {
      toggle(n);
    }
  }
  DropMarkedEntries();
  if (rangeAnchor_ && !(rangeAnchor_->States & vsSelected)) AppendToTempNodeArray(rangeAnchor_);
  MergeIntoSelection(tempNodes_.data(), tempNodes_.size(), false);
  tempNodes_.clear();
}

void TVirtualTreeCore::SetNodeSelected(TVTNode* node, bool selected) {
  if (!node || node == root_ || bool(node->States & vsSelected) == selected) return;
  WorkScope work(*this);
  if (selected) {
    if (!HasSelection())
      rangeAnchor_ = node;
    else if (!multiSelect_)
      DropAllSelected();
    // Moving the focused column to a visible column comes with the header.
    if (AddOneToSelection(node, false)) ScheduleChangeEvent(node);
    if (!rangeAnchor_) rangeAnchor_ = node;
  } else {
    RemoveFromSelectionAndNotify(node);
    if (!HasSelection()) rangeAnchor_ = focusedNode_;
  }
  if (host_ && NodeFullyShown(node)) host_->InvalidateNode(node);
}

void TVirtualTreeCore::MarkSelectionForClipboard() {
  WorkScope work(*this);
  for (std::size_t i = 0; i < selectionCount_; ++i) {
    TVTNode* node = selection_[i];
    if (!Tagged(node) && !(node->States & vsDisabled)) node->States |= vsCutOrCopy;
  }
}

// --- Columns ---------------------------------------------------------------------------------------

const TVTColumnInfo* TVTColumnLayout::Find(int index) const {
  for (const TVTColumnInfo& c : Columns) {
    if (c.Index == index) return &c;
  }
  return nullptr;
}

int TVTColumnLayout::TotalWidth() const {
  return Columns.empty() ? 0 : Columns.back().Left + Columns.back().Width;
}

int TVTColumnLayout::ColumnAtPoint(int x, int y, bool scrolled, int offsetX) const {
  // The point is in header coordinates: below the header's own height it
  // lies in no column.
  if (x < 0 || y < 0 || y > HeaderHeight) return InvalidColumn;
  int left, right;
  return ColumnAndBoundsAtX(x, scrolled, offsetX, left, right);
}

int TVTColumnLayout::ColumnAndBoundsAtX(int x, bool scrolled, int offsetX, int& left, int& right) const {
  left = right = 0;
  if (x < 0) return InvalidColumn;
  int edge = scrolled ? offsetX : 0;
  for (const TVTColumnInfo& c : Columns) {
    const int next = edge + c.Width;
    if (x < next) {
      left = edge;
      right = next;
      return c.Index;
    }
    edge = next;
  }
  return InvalidColumn;
}

// --- Events of this part ---------------------------------------------------------------------------

bool TVirtualTreeCore::DoExpanding(TVTNode* node) {
  bool allowed = true;
  if (OnExpanding) OnExpanding(owner_, node, allowed);
  return allowed;
}

bool TVirtualTreeCore::DoCollapsing(TVTNode* node) {
  bool allowed = true;
  if (OnCollapsing) OnCollapsing(owner_, node, allowed);
  return allowed;
}

void TVirtualTreeCore::DoExpanded(TVTNode* node) {
  if (OnExpanded) OnExpanded(owner_, node);
}

void TVirtualTreeCore::DoCollapsed(TVTNode* node) {
  if (OnCollapsed) OnCollapsed(owner_, node);
}

void TVirtualTreeCore::FireHotChange(TVTNode* oldNode, TVTNode* newNode) {
  if (OnHotChange) OnHotChange(owner_, oldNode, newNode);
}

void TVirtualTreeCore::FireScroll(int dx, int dy) {
  if (OnScroll) OnScroll(owner_, dx, dy);
}

void TVirtualTreeCore::ChangeHotNode(TVTNode* node) {
  node = Public(node);
  if (node == hotNode_) return;
  TVTNode* old = hotNode_;
  FireHotChange(old, node);
  if (host_) {
    if (old) host_->InvalidateNode(old);
    if (node) host_->InvalidateNode(node);
  }
  hotNode_ = node;
}

int TVirtualTreeCore::DoCompare(TVTNode* a, TVTNode* b, int column) {
  int result = 0;
  if (OnCompareNodes) OnCompareNodes(owner_, a, b, column, result);
  return result;
}

// --- Navigation ------------------------------------------------------------------------------------

TVTNode* TVirtualTreeCore::FirstNode() {
  TVTNode* n = root_->FirstChild;
  InitIfNeeded(n);
  return n;
}

TVTNode* TVirtualTreeCore::FirstNodeRaw() const {
  return root_->FirstChild;
}

TVTNode* TVirtualTreeCore::FirstChildOf(TVTNode* node) {
  TVTNode* n = Real(node);
  InitIfNeeded(n);
  CreateChildrenIfNeeded(n);
  TVTNode* c = n->FirstChild;
  InitIfNeeded(c);
  return c;
}

TVTNode* TVirtualTreeCore::LastChildOf(TVTNode* node) {
  TVTNode* n = Real(node);
  InitIfNeeded(n);
  CreateChildrenIfNeeded(n);
  TVTNode* c = n->LastChild;
  InitIfNeeded(c);
  return c;
}

TVTNode* TVirtualTreeCore::LastChildOfRaw(const TVTNode* node) const {
  return (node ? node : root_)->LastChild;
}

TVTNode* TVirtualTreeCore::LastNodeOf(TVTNode* node) {
  TVTNode* n = Real(node);
  TVTNode* result = nullptr;
  for (;;) {
    CreateChildrenIfNeeded(n);
    if (!n->LastChild) break;
    n = n->LastChild;
    InitIfNeeded(n);
    result = n;
  }
  return result;
}

TVTNode* TVirtualTreeCore::LastNodeOfRaw(const TVTNode* node) const {
  const TVTNode* n = node ? node : root_;
  TVTNode* result = nullptr;
  while (n->LastChild) {
    result = n->LastChild;
    n = result;
  }
  return result;
}

TVTNode* TVirtualTreeCore::NextNode(TVTNode* node) {
  if (!node || node == root_) return nullptr;
  CreateChildrenIfNeeded(node);
  TVTNode* result = node->FirstChild;
  if (!result) result = NextNodeRaw(node);
  InitIfNeeded(result);
  return result;
}

TVTNode* TVirtualTreeCore::NextNodeRaw(const TVTNode* node) const {
  if (!node || node == root_) return nullptr;
  if (node->FirstChild) return node->FirstChild;
  for (const TVTNode* n = node; n && n != root_; n = n->Parent) {
    if (n->NextSibling) return n->NextSibling;
  }
  return nullptr;
}

TVTNode* TVirtualTreeCore::PreviousNode(TVTNode* node) {
  if (!node || node == root_) return nullptr;
  TVTNode* result = node->PrevSibling;
  if (!result) return Public(node->Parent);
  InitIfNeeded(result);
  for (;;) {
    CreateChildrenIfNeeded(result);
    if (!result->LastChild) break;
    result = result->LastChild;
    InitIfNeeded(result);
  }
  return result;
}

TVTNode* TVirtualTreeCore::PreviousNodeRaw(const TVTNode* node) const {
  if (!node || node == root_) return nullptr;
  TVTNode* result = node->PrevSibling;
  if (!result) return Public(node->Parent);
  while (result->LastChild) result = result->LastChild;
  return result;
}

TVTNode* TVirtualTreeCore::FirstVisibleNode() {
  if (root_->ChildCount == 0) return nullptr;
  for (TVTNode* c = root_->FirstChild; c; c = c->NextSibling) {
    InitIfNeeded(c);
    if (c->States & vsVisible) return c;
  }
  return nullptr;
}

TVTNode* TVirtualTreeCore::FirstVisibleNodeRaw() const {
  for (TVTNode* c = root_->FirstChild; c; c = c->NextSibling) {
    if (c->States & vsVisible) return c;
  }
  return nullptr;
}

TVTNode* TVirtualTreeCore::FirstVisibleChild(TVTNode* node) {
  TVTNode* n = Real(node);
  CreateChildrenIfNeeded(n);
  for (TVTNode* c = n->FirstChild; c; c = c->NextSibling) {
    InitIfNeeded(c);
    if (c->States & vsVisible) return c;
  }
  return nullptr;
}

TVTNode* TVirtualTreeCore::LastVisibleChildOf(TVTNode* node) {
  TVTNode* n = Real(node);
  if (n != root_ && (!NodeFullyShown(n) || !(n->States & vsExpanded))) return nullptr;
  CreateChildrenIfNeeded(n);
  for (TVTNode* c = n->LastChild; c; c = c->PrevSibling) {
    InitIfNeeded(c);
    if (c->States & vsVisible) return c;
  }
  return nullptr;
}

TVTNode* TVirtualTreeCore::LastVisibleChildOfRaw(const TVTNode* node) const {
  const TVTNode* n = node ? node : root_;
  if (n != root_ && (!NodeFullyShown(n) || !(n->States & vsExpanded))) return nullptr;
  for (TVTNode* c = n->LastChild; c; c = c->PrevSibling) {
    if (c->States & vsVisible) return c;
  }
  return nullptr;
}

TVTNode* TVirtualTreeCore::LastVisibleNodeOf(TVTNode* node) {
  TVTNode* result = nullptr;
  for (TVTNode* c = LastVisibleChildOf(node); c; c = LastVisibleChildOf(c)) result = c;
  return result;
}

TVTNode* TVirtualTreeCore::LastVisibleNodeOfRaw(const TVTNode* node) const {
  TVTNode* result = nullptr;
  for (TVTNode* c = LastVisibleChildOfRaw(node); c; c = LastVisibleChildOfRaw(c)) result = c;
  return result;
}

TVTNode* TVirtualTreeCore::VisibleAncestorOf(const TVTNode* node) const {
  if (!node || node == root_) return nullptr;
  for (TVTNode* p = node->Parent; p && p != root_; p = p->Parent) {
    if (NodeFullyShown(p)) return p;
  }
  return nullptr;
}

// The next shown node after `node` in tree order. A hidden start counts
// from its place: behind its collapsed shown ancestor, or behind the hidden
// node on its path below an expanded one.
TVTNode* TVirtualTreeCore::NextVisibleAfter(const TVTNode* node, bool init) {
  if (!node || node == root_) return nullptr;
  const TVTNode* from = node;
  if (!NodeFullyShown(node)) {
    TVTNode* ancestor = VisibleAncestorOf(node);
    TVTNode* a = Real(ancestor);
    const TVTNode* onPath = node;
    while (onPath->Parent != a) onPath = onPath->Parent;
    from = (a != root_ && !(a->States & vsExpanded)) ? a : onPath;
  } else {
    TVTNode* n = const_cast<TVTNode*>(node);
    if (init && (n->States & vsExpanded)) CreateChildrenIfNeeded(n);
    if ((n->States & vsExpanded) && n->FirstChild) {
      TVTNode* c = n->FirstChild;
      if (init) InitIfNeeded(c);
      if (c->States & vsVisible) return c;
      from = c;
    }
  }
  for (const TVTNode* x = from; x && x != root_; x = x->Parent) {
    for (TVTNode* s = x->NextSibling; s; s = s->NextSibling) {
      if (init) InitIfNeeded(s);
      if (s->States & vsVisible) return s;
    }
  }
  return nullptr;
}

TVTNode* TVirtualTreeCore::PreviousVisibleBefore(const TVTNode* node, bool init) {
  if (!node || node == root_) return nullptr;
  const TVTNode* x = node;
  if (!NodeFullyShown(node)) {
    TVTNode* ancestor = VisibleAncestorOf(node);
    TVTNode* a = Real(ancestor);
    if (a != root_ && !(a->States & vsExpanded)) return a;
    while (x->Parent != a) x = x->Parent;
  }
  for (TVTNode* s = x->PrevSibling; s; s = s->PrevSibling) {
    if (init) InitIfNeeded(s);
    if (s->States & vsVisible) {
      TVTNode* deepest = init ? LastVisibleNodeOf(s) : LastVisibleNodeOfRaw(s);
      return deepest ? deepest : s;
    }
  }
  return Public(x->Parent);
}

TVTNode* TVirtualTreeCore::NextVisibleNode(TVTNode* node) {
  return NextVisibleAfter(node, true);
}

TVTNode* TVirtualTreeCore::NextVisibleNodeRaw(const TVTNode* node) const {
  return const_cast<TVirtualTreeCore*>(this)->NextVisibleAfter(node, false);
}

TVTNode* TVirtualTreeCore::PreviousVisibleNode(TVTNode* node) {
  return PreviousVisibleBefore(node, true);
}

TVTNode* TVirtualTreeCore::PreviousVisibleNodeRaw(const TVTNode* node) const {
  return const_cast<TVirtualTreeCore*>(this)->PreviousVisibleBefore(node, false);
}

TVTNode* TVirtualTreeCore::NextSiblingOf(TVTNode* node) {
  if (!node || node == root_) return nullptr;
  TVTNode* s = node->NextSibling;
  InitIfNeeded(s);
  return s;
}

TVTNode* TVirtualTreeCore::PreviousSiblingOf(TVTNode* node) {
  if (!node || node == root_) return nullptr;
  TVTNode* s = node->PrevSibling;
  InitIfNeeded(s);
  return s;
}

TVTNode* TVirtualTreeCore::NextVisibleSibling(TVTNode* node) {
  if (!node || node == root_) return nullptr;
  for (TVTNode* s = node->NextSibling; s; s = s->NextSibling) {
    InitIfNeeded(s);
    if (s->States & vsVisible) return s;
  }
  return nullptr;
}

TVTNode* TVirtualTreeCore::PreviousVisibleSibling(TVTNode* node) {
  if (!node || node == root_) return nullptr;
  for (TVTNode* s = node->PrevSibling; s; s = s->PrevSibling) {
    InitIfNeeded(s);
    if (s->States & vsVisible) return s;
  }
  return nullptr;
}

TVTNode* TVirtualTreeCore::PreviousVisibleSiblingRaw(const TVTNode* node) const {
  if (!node || node == root_) return nullptr;
  for (TVTNode* s = node->PrevSibling; s; s = s->PrevSibling) {
    if (s->States & vsVisible) return s;
  }
  return nullptr;
}

// A tagged entry has already lost its selected state, so the node states
// decide; the count only answers an empty selection at once.
TVTNode* TVirtualTreeCore::FirstSelectedNode() {
  if (selectionCount_ == 0) return nullptr;
  for (TVTNode* n = FirstNodeRaw(); n; n = NextNodeRaw(n)) {
    if (n->States & vsSelected) {
      InitIfNeeded(n);
      return n;
    }
  }
  return nullptr;
}

TVTNode* TVirtualTreeCore::NextSelectedNode(TVTNode* node) {
  if (selectionCount_ == 0 || !node) return nullptr;
  for (TVTNode* n = NextNodeRaw(node); n; n = NextNodeRaw(n)) {
    if (n->States & vsSelected) {
      InitIfNeeded(n);
      return n;
    }
  }
  return nullptr;
}

TVTNode* TVirtualTreeCore::FirstClipboardMarkedNode() {
  if (!HasTreeState(tsCopyPending) && !HasTreeState(tsCutPending)) return nullptr;
  for (TVTNode* n = FirstNodeRaw(); n; n = NextNodeRaw(n)) {
    if (n->States & vsCutOrCopy) {
      InitIfNeeded(n);
      return n;
    }
  }
  return nullptr;
}

TVTNode* TVirtualTreeCore::NextClipboardMarkedNode(TVTNode* node) {
  if (!HasTreeState(tsCopyPending) && !HasTreeState(tsCutPending)) return nullptr;
  for (TVTNode* n = NextNodeRaw(node); n; n = NextNodeRaw(n)) {
    if (n->States & vsCutOrCopy) {
      InitIfNeeded(n);
      return n;
    }
  }
  return nullptr;
}

TVTNode* TVirtualTreeCore::FirstInitializedNode() const {
  TVTNode* n = FirstNodeRaw();
  while (n && !(n->States & vsInitialized)) n = NextNodeRaw(n);
  return n;
}

TVTNode* TVirtualTreeCore::NextInitializedNode(const TVTNode* node) const {
  TVTNode* n = NextNodeRaw(node);
  while (n && !(n->States & vsInitialized)) n = NextNodeRaw(n);
  return n;
}

bool TVirtualTreeCore::NodeHasAncestor(const TVTNode* node, const TVTNode* ancestor) const {
  if (!node || !ancestor || node == ancestor || node == root_) return false;
  for (const TVTNode* p = node->Parent; p; p = p == root_ ? nullptr : p->Parent) {
    if (p == ancestor) return true;
  }
  return false;
}

// --- Geometry --------------------------------------------------------------------------------------

// The top of a shown node's row in tree coordinates: from the cache entry
// before it, or summed up over its ancestors and their earlier siblings.
int TVirtualTreeCore::NodeTop(TVTNode* node) {
  TVTNode* entry;
  std::uint32_t entryTop;
  if (CacheEntryBeforeNode(node, entry, entryTop)) {
    std::int64_t y = entryTop;
    for (TVTNode* n = entry; n && n != node; n = NextVisibleNodeRaw(n)) y += n->NodeHeight;
    return int(y);
  }
  std::int64_t y = 0;
  for (const TVTNode* n = node; n && n != root_; n = n->Parent) {
    for (const TVTNode* s = n->PrevSibling; s; s = s->PrevSibling) {
      if (s->States & vsVisible) y += s->TotalHeight;
    }
    if (n->Parent != root_) y += n->Parent->NodeHeight;
  }
  return int(y);
}

TVTNode* TVirtualTreeCore::NodeAtOffset(int y, bool relative, int* nodeTop) {
  if (relative) y -= offsetY_;
  if (y < 0) y = 0;
  TVTNode* n = nullptr;
  std::uint32_t entryTop = 0;
  if (!CacheEntryAtPosition(std::uint32_t(y), n, entryTop)) {
    n = FirstVisibleNodeRaw();
    entryTop = 0;
  }
  std::int64_t top = entryTop;
  while (n) {
    if (y < top + std::int64_t(n->TotalHeight)) {
      if (y < top + n->NodeHeight || !n->FirstChild || !(n->States & vsExpanded)) break;
      TVTNode* child = n->FirstChild;
      while (child && !(child->States & vsVisible)) child = child->NextSibling;
      if (!child) break;
      top += n->NodeHeight;
      n = child;
      continue;
    }
    top += n->TotalHeight;
    // The next shown node behind n's subtree.
    const TVTNode* x = n;
    n = nullptr;
    for (; x && x != root_ && !n; x = x->Parent) {
      for (TVTNode* s = x->NextSibling; s; s = s->NextSibling) {
        if (s->States & vsVisible) {
          n = s;
          break;
        }
      }
    }
  }
  if (nodeTop) *nodeTop = n ? int(top) + (relative ? offsetY_ : 0) : 0;
  return n;
}

TVTRect TVirtualTreeCore::ComputeNodeCellRect(TVTNode* node, int column, bool textOnly, bool unclipped) {
  TVTRect r;
  if (!node || node == root_) return r;
  InitIfNeeded(node);
  if (!NodeFullyShown(node)) return r;
  const bool hasColumns = ColumnLayout.HasColumns();
  if (!hasColumns) column = NoColumn;
  const bool main = column == NoColumn || column == ColumnLayout.MainColumn;
  const int indent = main ? NodeLevel(node) * Indent : 0;
  const int top = NodeTop(node);
  r = {0, top, std::max(ClientWidth(), rangeX_), top + node->NodeHeight};
  bool rightToLeft = RightToLeft;
  int alignment = Alignment;
  if (column == NoColumn) {
    r.Left += offsetX_;
    r.Right += offsetX_;
  } else {
    const TVTColumnInfo* info = ColumnLayout.Find(column);
    if (!info) return TVTRect{};
    // Column bounds are unscrolled; the cell lies where the header shows it.
    r.Left = info->Left + offsetX_;
    r.Right = info->Left + info->Width - 1 + offsetX_;
    rightToLeft = info->RightToLeft;
    alignment = info->Alignment;
  }
  r.Top += offsetY_;
  r.Bottom += offsetY_;
  if (!textOnly) return r;
  int inner = Margin;
  if (main) {
    inner += indent;
    if (OptionBits.Paint & (1u << 8)) inner += Indent;
    if ((OptionBits.Misc & (1u << 1)) && CheckImageWidth() > 0 && node->CheckType != ctNone)
      inner += CheckImageWidth() + 2;
  }
  if (const int w = NodeImageWidth(node, column, true); w > 0) inner += w + 2;
  if (const int w = NodeImageWidth(node, column, false); w > 0) inner += w + 2;
  if (rightToLeft)
    r.Right -= inner;
  else
    r.Left += inner;
  const int text = DoGetNodeWidth(node, column);
  if (rightToLeft && alignment != kAlignCenter) alignment = alignment == kAlignLeft ? kAlignRight : kAlignLeft;
  const int space = r.Width();
  if (text < space) {
    switch (alignment) {
      case kAlignRight:
        r.Left = r.Right - text;
        break;
      case kAlignCenter:
        r.Left += (space - text) / 2;
        r.Right = r.Left + text;
        break;
      default:
        r.Right = r.Left + text;
        break;
    }
  } else if (unclipped) {
    if (rightToLeft)
      r.Left = r.Right - text;
    else
      r.Right = r.Left + text;
  }
  return r;
}

TVTHitInfo TVirtualTreeCore::HitTestPoint(int x, int y, bool relative) {
  TVTHitInfo hit;
  if (relative) {
    x -= offsetX_;
    y -= offsetY_;
  }
  if (x < 0)
    hit.HitPositions |= hiToLeft;
  else if (x > std::max(ClientWidth(), rangeX_))
    hit.HitPositions |= hiToRight;
  if (y < 0)
    hit.HitPositions |= hiAbove;
  else if (y > std::max(ClientHeight(), rangeY_))
    hit.HitPositions |= hiBelow;
  if (hit.HitPositions) return hit;
  int top = 0;
  hit.HitNode = NodeAtOffset(y, false, &top);
  if (!hit.HitNode) {
    hit.HitPositions = hiNowhere;
    return hit;
  }
  int width = std::max(ClientWidth(), rangeX_);
  bool rightToLeft = RightToLeft;
  int alignment = Alignment;
  if (ColumnLayout.HasColumns()) {
    int left, right;
    hit.HitColumn = ColumnLayout.ColumnAndBoundsAtX(x, false, 0, left, right);
    if (hit.HitColumn == InvalidColumn) {
      hit.HitPositions = hiNowhere;
      return hit;
    }
    if (OptionBits.Auto & (1u << 5)) {
      // Widen over the neighbours the cell's text spans into.
      std::size_t at = 0;
      while (ColumnLayout.Columns[at].Index != hit.HitColumn) ++at;
      std::size_t first = at, last = at;
      while (first > 0 && ColumnIsEmpty(hit.HitNode, ColumnLayout.Columns[first].Index)) --first;
      while (last + 1 < ColumnLayout.Columns.size() && ColumnIsEmpty(hit.HitNode, ColumnLayout.Columns[last + 1].Index))
        ++last;
      if (first != at) hit.HitColumn = ColumnLayout.Columns[first].Index;
      left = ColumnLayout.Columns[first].Left;
      right = ColumnLayout.Columns[last].Left + ColumnLayout.Columns[last].Width;
    }
    const TVTColumnInfo* info = ColumnLayout.Find(hit.HitColumn);
    rightToLeft = info->RightToLeft;
    alignment = info->Alignment;
    x -= left;
    width = right - left;
  }
  hit.HitPositions = hiOnItem;
  ClassifyRowHit(hit, x, width, hit.HitColumn, rightToLeft, alignment);
  return hit;
}

void TVirtualTreeCore::ClassifyRowHit(TVTHitInfo& hit, int x, int width, int column, bool rightToLeft, int alignment) {
  TVTNode* node = hit.HitNode;
  if (!node) return;
  // Right to left the row is classified as its mirror image, measured from
  // the cell's right edge (the mirror exchanges left and right alignment on
  // its own, as the painter places the caption), and left and right of the
  // caption are exchanged at the end.
  if (rightToLeft) {
    x = width - 1 - x;
    const std::uint16_t before = hit.HitPositions;
    ClassifyRowHit(hit, x, width, column, false, alignment);
    if ((hit.HitPositions ^ before) & (hiOnItemLeft | hiOnItemRight)) hit.HitPositions ^= hiOnItemLeft | hiOnItemRight;
    return;
  }
  const bool main = column == NoColumn || column == ColumnLayout.MainColumn;
  int indentEnd = 0;
  if (main) indentEnd = NodeLevel(node) * Indent + ((OptionBits.Paint & (1u << 8)) ? Indent : 0);
  if (x < indentEnd) {
    if ((OptionBits.Paint & (1u << 5)) && (node->States & vsHasChildren) && x >= indentEnd - Indent)
      hit.HitPositions |= hiOnItemButton;
    // On an item is set already, so a hit in the indentation adds nothing more.
    if (hit.HitPositions == 0) hit.HitPositions |= hiOnItemIndent;
    return;
  }
  if (!main && (OptionBits.Misc & (1u << 6))) return;
  int p = indentEnd;
  if (main && (OptionBits.Misc & (1u << 1)) && CheckImageWidth() > 0 && node->CheckType != ctNone) {
    p += CheckImageWidth() + 2;
    if (x < p) {
      hit.HitPositions = hiOnItem | hiOnItemCheckbox;
      return;
    }
  }
  if (const int w = NodeImageWidth(node, column, true); w > 0) {
    p += w + 2;
    if (x < p) {
      hit.HitPositions |= hiOnStateIcon;
      return;
    }
  }
  if (const int w = NodeImageWidth(node, column, false); w > 0) {
    p += w + 2;
    if (x < p) {
      hit.HitPositions |= hiOnNormalIcon;
      return;
    }
  }
  const int text = DoGetNodeWidth(node, column);
  if (width - p < text) {
    hit.HitPositions |= hiOnItemLabel;
    return;
  }
  switch (alignment) {
    case kAlignRight:
      hit.HitPositions |= x < width - text ? hiOnItemLeft : hiOnItemLabel;
      break;
    case kAlignCenter: {
      const int left = (width + p - text) / 2;
      hit.HitPositions |= x < left ? hiOnItemLeft : x < left + text ? hiOnItemLabel : hiOnItemRight;
      break;
    }
    default:
      hit.HitPositions |= x < p + text ? hiOnItemLabel : hiOnItemRight;
      break;
  }
}

int TVirtualTreeCore::MeasureColumnContentWidth(int column) {
  if (!ColumnLayout.HasColumns()) column = NoColumn;
  const bool main = column == NoColumn || column == ColumnLayout.MainColumn;
  const bool checks = (OptionBits.Misc & (1u << 1)) && CheckImageWidth() > 0;
  const int showRoot = (OptionBits.Paint & (1u << 8)) ? 1 : 0;
  int result = 0;
  for (TVTNode* n = FirstVisibleNode(); n; n = NextVisibleNode(n)) {
    int x = main ? (NodeLevel(n) + showRoot) * Indent : 0;
    if (main && checks && n->CheckType != ctNone) x += CheckImageWidth() + 2;
    x += 2 * Margin;
    if (const int w = NodeImageWidth(n, column, true); w > 0) x += w + 2;
    if (const int w = NodeImageWidth(n, column, false); w > 0) x += w + 2;
    x += DoGetNodeWidth(n, column);
    result = std::max(result, x);
  }
  return result;
}

int TVirtualTreeCore::MeasureVisibleContentWidth() {
  const bool checks = (OptionBits.Misc & (1u << 1)) && CheckImageWidth() > 0;
  const int showRoot = (OptionBits.Paint & (1u << 8)) ? 1 : 0;
  int top = 0;
  TVTNode* n = NodeAtOffset(0, true, &top);
  int widest = 0;
  while (n && top < ClientHeight()) {
    InitIfNeeded(n);
    int x = (NodeLevel(n) + showRoot) * Indent;
    if (const int w = NodeImageWidth(n, NoColumn, true); w > 0) x += w + 2;
    if (const int w = NodeImageWidth(n, NoColumn, false); w > 0) x += w + 2;
    if (checks && n->CheckType != ctNone) x += CheckImageWidth() + 2;
    x += DoGetNodeWidth(n, NoColumn);
    widest = std::max(widest, x);
    top += n->NodeHeight;
    n = NextVisibleNode(n);
  }
  return widest + 2 * Margin;
}

// --- Scrolling -------------------------------------------------------------------------------------

bool TVirtualTreeCore::SetOffsetXY(int x, int y) {
  return ApplyScrollOffset(x, y, suoRepaintHeader | suoRepaintScrollBars | suoScrollClientArea | suoUpdateNCArea);
}

void TVirtualTreeCore::RefreshScrollBars(bool redraw) {
  RefreshHorzScrollBar(redraw);
  RefreshVertScrollBar(redraw);
  if (host_) host_->UpdateScrollBars(redraw);
}

void TVirtualTreeCore::RefreshHorzScrollBar(bool redraw) {
  rangeX_ = ColumnLayout.HasColumns() ? ColumnLayout.TotalWidth() : MeasureVisibleContentWidth();
  const int client = ClientWidth();
  int position = -offsetX_;
  if (ScrollBars != 1 && ScrollBars != 3) {
    if (host_) host_->SetScrollBar(true, false, TVTScrollBarInfo{}, false);
  } else if (client < rangeX_ || ScrollBarsAlwaysVisible) {
    TVTScrollBarInfo info{0, rangeX_, std::max(0, client + 1), -offsetX_, ScrollBarsAlwaysVisible};
    if (host_) position = host_->SetScrollBar(true, true, info, redraw);
  } else {
    if (host_) host_->SetScrollBar(true, false, TVTScrollBarInfo{}, false);
    position = 0;
  }
  offsetX_ = std::max(std::min(-position, 0), std::min(0, client - rangeX_));
}

void TVirtualTreeCore::RefreshVertScrollBar(bool redraw) {
  rangeY_ = int(std::max<std::uint32_t>(root_->TotalHeight, std::uint32_t(defaultNodeHeight_)) - root_->NodeHeight);
  const int client = ClientHeight();
  int position = -offsetY_;
  if (ScrollBars != 2 && ScrollBars != 3) {
    if (host_) host_->SetScrollBar(false, false, TVTScrollBarInfo{}, false);
  } else if (client < rangeY_ || ScrollBarsAlwaysVisible) {
    TVTScrollBarInfo info{0, rangeY_, std::max(0, client + 1), -offsetY_, ScrollBarsAlwaysVisible};
    if (host_) position = host_->SetScrollBar(false, true, info, redraw);
  } else {
    if (host_) host_->SetScrollBar(false, false, TVTScrollBarInfo{}, false);
    position = 0;
  }
  offsetY_ = std::max(std::min(-position, 0), std::min(0, client - rangeY_));
}

bool TVirtualTreeCore::BringNodeIntoView(TVTNode* node, bool center, bool horizontally) {
  if (!node || node == root_) return false;
  std::vector<TVTNode*> collapsed;
  for (TVTNode* p = node->Parent; p && p != root_; p = p->Parent) {
    if (!(p->States & vsExpanded)) collapsed.push_back(p);
  }
  for (auto it = collapsed.rbegin(); it != collapsed.rend(); ++it) ToggleExpansion(*it);
  if (!NodeFullyShown(node)) return false;
  const bool hasColumns = ColumnLayout.HasColumns();
  const int column = hasColumns ? focusedColumn_ : NoColumn;
  const TVTRect r = ComputeNodeCellRect(node, column, false, false);
  const int clientHeight = ClientHeight();
  const bool horizontalBarBefore = rangeX_ > ClientWidth();
  bool result = false;
  if (r.Top < 0) {
    SetOffsetY(offsetY_ - r.Top + (center ? clientHeight / 2 : 0));
    result = true;
  } else if (r.Bottom > clientHeight) {
    int y = (center ? clientHeight / 2 : clientHeight) + offsetY_ - r.Bottom;
    if (!hasColumns && !horizontalBarBefore && rangeX_ > ClientWidth() && host_)
      y -= host_->HorizontalScrollBarHeight();
    SetOffsetY(y);
    result = true;
  }
  if (horizontally) {
    const TVTRect text = ComputeNodeCellRect(node, column, true, true);
    if (text.Right > ClientWidth()) {
      SetOffsetX(ClientWidth() + offsetX_ - text.Right);
      result = true;
    } else if (text.Left < 0) {
      SetOffsetX(offsetX_ - text.Left);
      result = true;
    }
  }
  return result;
}

void TVirtualTreeCore::ShowNodeAtTop(TVTNode* node) {
  if (!node || node == root_) return;
  std::vector<TVTNode*> collapsed;
  for (TVTNode* p = node->Parent; p && p != root_; p = p->Parent) {
    if (!(p->States & vsExpanded)) collapsed.push_back(p);
  }
  for (auto it = collapsed.rbegin(); it != collapsed.rend(); ++it) ToggleExpansion(*it);
  if (NodeFullyShown(node)) SetOffsetY(-NodeTop(node));
}

// --- Invalidation ----------------------------------------------------------------------------------

void TVirtualTreeCore::InvalidateNodeArea(TVTNode* node) {
  if (node && host_ && updateCount_ == 0 && host_->HandleAllocated()) host_->InvalidateNode(node);
}

void TVirtualTreeCore::InvalidateFromNode(TVTNode* node) {
  if (!host_) return;
  if (!node || node == root_) {
    host_->Invalidate();
  } else if ((node->States & (vsVisible | vsInitialized)) == (vsVisible | vsInitialized)) {
    host_->InvalidateToBottom(node);
  }
}

void TVirtualTreeCore::RedrawNodeNow(TVTNode* node) {
  if (!host_ || !node) return;
  const TVTRect r = ComputeNodeCellRect(node, NoColumn, false, false);
  if (!r.IsEmpty()) host_->RedrawRect(r);
}

void TVirtualTreeCore::RepaintColumnStrip(int column) {
  if (!host_ || updateCount_ != 0) return;
  const TVTColumnInfo* info = ColumnLayout.Find(column);
  if (!info) return;
  host_->InvalidateRect(TVTRect{info->Left + offsetX_, 0, info->Left + info->Width + offsetX_, ClientHeight()});
}

// --- Sorting ---------------------------------------------------------------------------------------

// A top-down merge sort of `count` siblings from `list` (linked by
// NextSibling); equal nodes keep their order. The sorted chain's head.
TVTNode* TVirtualTreeCore::SortSiblings(TVTNode* list, std::uint32_t count, int column, int direction) {
  struct Sorter {
    TVirtualTreeCore& tree;
    int column, direction;
    TVTNode* head;
    TVTNode* Sort(std::uint32_t n) {
      if (n == 1) {
        TVTNode* one = head;
        head = head->NextSibling;
        one->NextSibling = nullptr;
        return one;
      }
      TVTNode* a = Sort(n / 2);
      TVTNode* b = Sort((n + 1) / 2);
      return Merge(a, b);
    }
    TVTNode* Merge(TVTNode* a, TVTNode* b) {
      TVTNode first{};
      TVTNode* tail = &first;
      while (a && b) {
        const int order = tree.DoCompare(a, b, column);
        ++tree.comparisons_;
        const bool takeB = direction == sdAscending ? order > 0 : order < 0;
        if (takeB) {
          tail->NextSibling = b;
          b = b->NextSibling;
        } else {
          tail->NextSibling = a;
          a = a->NextSibling;
        }
        tail = tail->NextSibling;
      }
      tail->NextSibling = a ? a : b;
      return first.NextSibling;
    }
  } sorter{*this, column, direction, list};
  return sorter.Sort(count);
}

void TVirtualTreeCore::SortChildren(TVTNode* node, int column, int direction, bool doInit) {
  // The merge rewrites sibling links: the worker must be off the tree first.
  WorkScope work(*this);
  if (HasTreeState(tsEditPending)) {
    if (host_) host_->StopTimer(2);
    SetTreeState(tsEditPending, false);
  }
  if (HasTreeState(tsEditing) && !EndEditNode()) return;
  TVTNode* n = Real(node);
  if (n != root_ && !(n->States & vsHasChildren)) return;
  if (doInit) {
    if (n->ChildCount == 0) QueryChildCount(n);
    if (n->ChildCount > 1) {
      for (TVTNode* c = n->FirstChild; c; c = c->NextSibling) InitIfNeeded(c);
    }
  }
  if (n->ChildCount <= 1) return;
  StopBackgroundValidation();
  // The merge leaves the chain in pieces when the compare handler throws:
  // the siblings are then linked again in their old order before the
  // exception goes on, so links, indexes and counts stay whole.
  std::vector<TVTNode*> before;
  before.reserve(n->ChildCount);
  for (TVTNode* c = n->FirstChild; c; c = c->NextSibling) before.push_back(c);
  TVTNode* first = nullptr;
  try {
    first = SortSiblings(n->FirstChild, std::uint32_t(before.size()), column, direction);
  } catch (...) {
    for (std::size_t i = 0; i < before.size(); ++i)
      before[i]->NextSibling = i + 1 < before.size() ? before[i + 1] : nullptr;
    MarkCacheStale();
    if (updateCount_ == 0 && host_) host_->Invalidate();
    throw;
  }
  TVTNode* previous = nullptr;
  std::uint32_t index = 0;
  for (TVTNode* c = first; c; c = c->NextSibling) {
    c->PrevSibling = previous;
    c->Index = index++;
    previous = c;
  }
  n->FirstChild = first;
  n->LastChild = previous;
  MarkCacheStale();
  if (updateCount_ == 0 && host_) host_->Invalidate();
}

void TVirtualTreeCore::SortLevel(TVTNode* node, int column, int direction, bool doInit) {
  std::vector<TVTNode*> pending{node};
  while (!pending.empty()) {
    TVTNode* n = pending.back();
    pending.pop_back();
    SortChildren(n, column, direction, doInit);
    for (TVTNode* c = Real(n)->LastChild; c; c = c->PrevSibling) {
      if (doInit) InitIfNeeded(c);
      if ((c->States & vsInitialized) && c->FirstChild) pending.push_back(c);
    }
  }
}

void TVirtualTreeCore::SortAllLevels(int column, int direction, bool doInit) {
  WorkScope work(*this);
  ++updateCount_;
  auto finish = [this] {
    MarkCacheStale();
    if (--updateCount_ == 0) {
      QueueCacheValidation();
      if (host_) host_->Invalidate();
    }
  };
  try {
    if (column >= NoColumn) SortLevel(nullptr, column, direction, doInit);
  } catch (...) {
    finish();
    throw;
  }
  finish();
}

// --- Initialisation again --------------------------------------------------------------------------

void TVirtualTreeCore::InitChildren(TVTNode* node, bool recursive) {
  TVTNode* n = Real(node);
  CreateChildrenIfNeeded(n);
  for (TVTNode* c = n->FirstChild; c; c = c->NextSibling) {
    InitIfNeeded(c);
    if (recursive) InitChildren(c, true);
  }
}

void TVirtualTreeCore::RedoNodeInitialization(TVTNode* node, bool recursive) {
  if (node && node != root_) {
    node->States &= std::uint16_t(~(vsChecking | vsCutOrCopy | vsDeleting));
    InitializeNodeOnDemand(node);
  }
  if (recursive) ReinitChildren(node, true);
}

void TVirtualTreeCore::ReinitChildren(TVTNode* node, bool recursive) {
  TVTNode* n = Real(node);
  if (n != root_ && (n->States & vsHasChildren)) QueryChildCount(n);
  for (TVTNode* c = n->FirstChild; c;) {
    TVTNode* next = c->NextSibling;
    RedoNodeInitialization(c, recursive);
    c = next;
  }
}

void TVirtualTreeCore::ResetNode(TVTNode* node) {
  CancelEditNode();
  if (!node || node == root_) {
    Clear();
    return;
  }
  WorkScope work(*this);
  if (HasFreeNodeHandler() && (node->States & (vsInitialized | vsReleaseCall))) DoFreeNode(node);
  RemoveAllChildren(node, false);
  node->States &= std::uint16_t(~0x77);
  InvalidateNodeArea(node);
}

// --- Whole-tree operations -------------------------------------------------------------------------

void TVirtualTreeCore::ClearSelectionAndRepaint() {
  const std::vector<TVTNode*> selected = Selection();
  if (selected.empty() || (host_ && host_->Destroying())) return;
  if (updateCount_ == 0 && host_ && host_->HandleAllocated() && visibleCount_ > 0) {
    std::size_t done = 0;
    int top = 0;
    for (TVTNode* n = NodeAtOffset(0, true, &top); n && done < selected.size() && top < ClientHeight();
         n = NextVisibleNodeRaw(n)) {
      if (n->States & vsSelected) {
        host_->InvalidateNode(n);
        ++done;
      }
      top += n->NodeHeight;
    }
  }
  DropAllSelected();
  ScheduleChangeEvent(nullptr);
}

void TVirtualTreeCore::Clear() {
  WorkScope work(*this);
  BeginUpdate();
  try {
    StopBackgroundValidation();
    if (HasTreeState(tsEditing)) CancelEditNode();
    if (HasTreeState(tsCopyPending) || HasTreeState(tsCutPending)) {
      if (host_) host_->SetClipboard(true);
      SetTreeState(tsCopyPending, false);
      SetTreeState(tsCutPending, false);
    }
    ClearSelectionAndRepaint();
    focusedNode_ = nullptr;
    hotNode_ = nullptr;
    RemoveAllChildren(nullptr, true);
    root_->FirstChild = root_->LastChild = nullptr;
    visibleCount_ = 0;
    offsetX_ = offsetY_ = 0;
  } catch (...) {
    EndUpdate();
    throw;
  }
  EndUpdate();
}

std::vector<TVTNode*> TVirtualTreeCore::CollectSelectedNodes(bool skipDescendants) const {
  std::vector<TVTNode*> nodes = Selection();
  std::stable_sort(nodes.begin(), nodes.end(),
                   [this](const TVTNode* a, const TVTNode* b) { return CompareNodeOrder(a, b) < 0; });
  if (!skipDescendants) return nodes;
  // In tree order a node's descendants follow it directly.
  std::vector<TVTNode*> kept;
  kept.reserve(nodes.size());
  for (TVTNode* n : nodes) {
    if (kept.empty() || !NodeHasAncestor(n, kept.back())) kept.push_back(n);
  }
  return kept;
}

std::vector<TVTNode*> TVirtualTreeCore::CollectClipboardMarkedNodes(bool skipDescendants) const {
  std::vector<TVTNode*> nodes;
  for (TVTNode* n = FirstNodeRaw(); n;) {
    if (n->States & vsCutOrCopy) {
      if (nodes.size() == nodes.capacity()) nodes.reserve(nodes.size() < 100 ? 100 : nodes.size() + nodes.size() / 10);
      nodes.push_back(n);
      if (skipDescendants) {
        // Behind the subtree.
        const TVTNode* x = n;
        n = nullptr;
        for (; x && x != root_ && !n; x = x->Parent) n = x->NextSibling;
        continue;
      }
    }
    n = NextNodeRaw(n);
  }
  return nodes;
}

// Removes nodes of which none is another's descendant, last first.
void TVirtualTreeCore::RemoveNodes(std::vector<TVTNode*>& nodes) {
  BeginUpdate();
  try {
    for (auto it = nodes.rbegin(); it != nodes.rend(); ++it) RemoveNode(*it);
  } catch (...) {
    EndUpdate();
    throw;
  }
  EndUpdate();
}

void TVirtualTreeCore::DeleteSelectedNodes() {
  WorkScope work(*this);
  // Descendants of selected nodes go with their ancestor: none is freed twice.
  std::vector<TVTNode*> nodes = CollectSelectedNodes(true);
  RemoveNodes(nodes);
}

void TVirtualTreeCore::CancelClipboardMarks() {
  if (!HasTreeState(tsCopyPending) && !HasTreeState(tsCutPending)) return;
  for (TVTNode* n = FirstNodeRaw(); n; n = NextNodeRaw(n)) n->States &= std::uint16_t(~vsCutOrCopy);
  SetTreeState(tsCopyPending, false);
  SetTreeState(tsCutPending, false);
}

void TVirtualTreeCore::DeleteCutNodes() {
  if (!HasTreeState(tsCutPending)) return;
  WorkScope work(*this);
  // Collected first (descendants of marked nodes go with them), removed last to first.
  std::vector<TVTNode*> nodes = CollectClipboardMarkedNodes(true);
  RemoveNodes(nodes);
  SetTreeState(tsCutPending, false);
}

void TVirtualTreeCore::CopyToClipboard() {
  if (!HasSelection() || !host_) return;
  if (!host_->SetClipboard(false)) return;
  CancelClipboardMarks();
  MarkSelectionForClipboard();
  SetTreeState(tsCopyPending, true);
  host_->Invalidate();
}

void TVirtualTreeCore::CutToClipboard() {
  if (!HasSelection() || !host_) return;
  if (!host_->SetClipboard(false)) return;
  CancelClipboardMarks();
  MarkSelectionForClipboard();
  SetTreeState(tsCutPending, true);
  host_->Invalidate();
}

void TVirtualTreeCore::FullExpand(TVTNode* node) {
  if (root_->TotalCount < 2) return;
  WorkScope work(*this);
  SetTreeState(tsExpanding, true);
  BeginUpdate();
  auto finish = [this] {
    EndUpdate();
    SetTreeState(tsExpanding, false);
  };
  try {
    TVTNode* stop = nullptr;
    for (TVTNode* x = node; x && x != root_ && !stop; x = x->Parent) stop = x->NextSibling;
    TVTNode* n = node && node != root_ ? node : FirstNode();
    InitIfNeeded(n);
    for (; n && n != stop; n = NextNode(n)) {
      if (!(n->States & vsExpanded)) ToggleExpansion(n);
    }
  } catch (...) {
    finish();
    throw;
  }
  finish();
}

void TVirtualTreeCore::FullCollapse(TVTNode* node) {
  if (root_->TotalCount < 2) return;
  WorkScope work(*this);
  SetTreeState(tsCollapsing, true);
  BeginUpdate();
  auto finish = [this] {
    EndUpdate();
    SetTreeState(tsCollapsing, false);
  };
  try {
    TVTNode* start = node == root_ ? nullptr : node;
    TVTNode* n = LastNodeOfRaw(start);
    if (!n) n = start;
    while (n) {
      if ((n->States & vsExpanded) && n->ChildCount > 0) ToggleExpansion(n);
      if (n == start) break;
      n = PreviousNodeRaw(n);
    }
  } catch (...) {
    finish();
    throw;
  }
  finish();
}

bool TVirtualTreeCore::ExecuteEditAction(TBasicAction* action) {
  if (dynamic_cast<TEditCut*>(action))
    CutToClipboard();
  else if (dynamic_cast<TEditCopy*>(action))
    CopyToClipboard();
  else if (dynamic_cast<TEditPaste*>(action))
    PasteFromClipboard();
  else if (dynamic_cast<TEditDelete*>(action))
    DeleteSelectedNodes();
  else if (dynamic_cast<TEditSelectAll*>(action))
    SelectEveryNode(false);
  else
    return false;
  return true;
}

bool TVirtualTreeCore::UpdateEditAction(TBasicAction* action) {
  auto* edit = dynamic_cast<TEditAction*>(action);
  if (!edit) return false;
  if (dynamic_cast<TEditCut*>(edit) || dynamic_cast<TEditCopy*>(edit) || dynamic_cast<TEditDelete*>(edit))
    edit->SetEnabled(SelectedCount() > 0);
  else if (dynamic_cast<TEditPaste*>(edit))
    edit->SetEnabled(true);
  else if (dynamic_cast<TEditSelectAll*>(edit))
    edit->SetEnabled(multiSelect_ && VisibleCount() > 0);
  else
    return false;
  return true;
}

void TVirtualTreeCore::SelectEveryNode(bool visibleOnly) {
  if (!multiSelect_) return;
  WorkScope work(*this);
  tempNodes_.clear();
  if (visibleOnly) {
    for (TVTNode* n = FirstVisibleNodeRaw(); n; n = NextVisibleNodeRaw(n)) {
      if (!(n->States & vsSelected)) AppendToTempNodeArray(n);
    }
  } else {
    for (TVTNode* n = FirstNodeRaw(); n; n = NextNodeRaw(n)) {
      if (!(n->States & vsSelected)) AppendToTempNodeArray(n);
    }
  }
  const bool added = MergeIntoSelection(tempNodes_.data(), tempNodes_.size(), false);
  tempNodes_.clear();
  if (added) ScheduleChangeEvent(nullptr);
  if (host_ && updateCount_ == 0) host_->Invalidate();
}

bool TVirtualTreeCore::EditNode(TVTNode* node, int column) {
  if (HasTreeState(tsEditing)) return true;
  SetFocusedNode(node);
  if (node && node == focusedNode_ && DoCanEdit(node, column)) {
    editColumn_ = column;
    InitIfNeeded(node);
    DoEdit();
  }
  return HasTreeState(tsEditing);
}

// --- Focus and editing -----------------------------------------------------------------------------

bool TVirtualTreeCore::DoFocusChanging(TVTNode* oldNode, TVTNode* newNode, int oldColumn, int newColumn) {
  bool allowed = true;
  if (OnFocusChanging) OnFocusChanging(owner_, oldNode, newNode, oldColumn, newColumn, allowed);
  return allowed;
}

void TVirtualTreeCore::SetFocusedColumn(int column) {
  if (column == focusedColumn_) return;
  if (!DoFocusChanging(focusedNode_, focusedNode_, focusedColumn_, column)) return;
  CancelEditingIfActive();
  focusedColumn_ = column;
  if (focusedNode_) {
    BringNodeIntoView(focusedNode_, true, false);
    InvalidateNodeArea(focusedNode_);
  }
  DoFocusChange(focusedNode_, column);
}

bool TVirtualTreeCore::CancelEditingIfActive() {
  if (HasTreeState(tsEditPending)) {
    if (host_) host_->StopTimer(2);
    SetTreeState(tsEditPending, false);
  }
  if (HasTreeState(tsEditing)) CancelEditNode();
  return !HasTreeState(tsEditing);
}

bool TVirtualTreeCore::EndEditingIfActive() {
  if (HasTreeState(tsEditPending)) {
    if (host_) host_->StopTimer(2);
    SetTreeState(tsEditPending, false);
  }
  if (HasTreeState(tsEditing)) return EndEditNode();
  return true;
}

// --- Dragging --------------------------------------------------------------------------------------

void TVirtualTreeCore::InitiateDrag(bool immediately, int threshold) {
  if (DragType == 1) {
    SetTreeState(tsFrameworkDragging, true);
    if (host_) host_->BeginFrameworkDrag(immediately, threshold);
    return;
  }
  if (HasTreeState(tsOLEDragPending) || HasTreeState(tsOLEDragging)) return;
  dragThreshold_ = threshold >= 0 ? threshold : (host_ ? host_->SystemDragThreshold() : 5);
  if (immediately) {
    if (host_) host_->StartOleDrag();
  } else {
    SetTreeState(tsOLEDragPending, true);
  }
}

// --- Auto-scrolling --------------------------------------------------------------------------------

void TVirtualTreeCore::AutoScrollTick() {
  if (!host_) return;
  int x = 0, y = 0;
  if (!host_->CursorPos(x, y)) return;
  const int width = ClientWidth(), height = ClientHeight();
  const bool inside = x >= 0 && y >= 0 && x < width && y < height;
  const bool panning = HasTreeState(tsWheelPanning) || HasTreeState(tsWheelScrolling);
  const bool selecting = HasTreeState(tsDrawSelecting);
  if (!selecting && !inside && !panning) AutoScrollDirections = 0;
  const int vertical = std::min(host_->ScrollIncrement(false), height);
  const int horizontal = host_->ScrollIncrement(true);
  int dx = 0, dy = 0;
  // A direction whose end is reached is dropped.
  if ((AutoScrollDirections & 2) && offsetY_ >= 0) AutoScrollDirections &= std::uint8_t(~2);
  if ((AutoScrollDirections & 8) && offsetY_ <= std::min(0, height - rangeY_)) AutoScrollDirections &= std::uint8_t(~8);
  if ((AutoScrollDirections & 1) && offsetX_ >= 0) AutoScrollDirections &= std::uint8_t(~1);
  if ((AutoScrollDirections & 4) && offsetX_ <= std::min(0, width - rangeX_)) AutoScrollDirections &= std::uint8_t(~4);
  if (AutoScrollDirections & 2) dy = panning ? PanningAnchorY - y - 8 : inside ? vertical : vertical * -y;
  if (AutoScrollDirections & 8) dy = panning ? PanningAnchorY - y + 8 : inside ? -vertical : -vertical * (y - height);
  if (AutoScrollDirections & 1) dx = panning ? PanningAnchorX - x - 8 : inside ? horizontal : horizontal * -x;
  if (AutoScrollDirections & 4)
    dx = panning ? PanningAnchorX - x + 8 : inside ? -horizontal : -horizontal * (x - width);
  if (selecting) {
    if (dx || dy) {
      SetOffsetXY(offsetX_ + dx, offsetY_ + dy);
      host_->Invalidate();
    }
  } else if ((dx || dy) && !host_->DropTargetHelperScrolls()) {
    SetOffsetXY(offsetX_ + dx, offsetY_ + dy);
  }
  host_->UpdateWindow();
  if (AutoScrollDirections == 0 && !panning) {
    host_->StopTimer(kScrollTimer);
    SetTreeState(tsScrollPending, false);
    SetTreeState(tsScrolling, false);
  }
}

void TVirtualTreeCore::ScrollTimerFired() {
  if (HasTreeState(tsScrolling)) {
    SetTreeState(tsScrolling, false);
    SetTreeState(tsScrollPending, true);
    if (host_) host_->StartTimer(kScrollTimer, AutoScrollInterval);
  }
  AutoScrollTick();
}

bool TVirtualTreeCore::CanAutoScroll() const {
  if ((OptionBits.Auto & (1u << 2)) && !(host_ && host_->HeaderInAction())) {
    if (HasTreeState(tsDrawSelPendingBit) || HasTreeState(tsDrawSelecting)) return true;
    if (host_ && host_->IsCurrentDropTarget()) return true;
  }
  return HasTreeState(tsFrameworkDragImage) || HasTreeState(tsWheelPanning) || HasTreeState(tsWheelScrolling);
}

std::uint8_t TVirtualTreeCore::GetAutoScrollDirections(int x, int y) {
  if (!CanAutoScroll()) return 0;
  std::uint8_t result = 0;
  if (HasTreeState(tsWheelPanning) || HasTreeState(tsWheelScrolling)) {
    if (x < PanningAnchorX - 8) result |= 1;
    if (x > PanningAnchorX + 8) result |= 4;
    if (y < PanningAnchorY - 8) result |= 2;
    if (y > PanningAnchorY + 8) result |= 8;
  } else {
    const int band = defaultNodeHeight_;
    const int width = ClientWidth(), height = ClientHeight();
    if (x < band && offsetX_ != 0) result |= 1;
    if (width - offsetX_ < rangeX_ && x > width - band) result |= 4;
    if (y < band && offsetY_ != 0) result |= 2;
    if (height - offsetY_ < rangeY_ && y > height - band) result |= 8;
  }
  // Out of the bands: the next request waits for the delay again.
  if (result == 0) autoScrollRequested_ = false;
  if (result != 0 && host_ && (host_->IsCurrentDropTarget() || host_->WindowAtPointIsTree(x, y))) {
    const std::uint64_t now = host_->Milliseconds();
    if (!autoScrollRequested_) {
      autoScrollRequested_ = true;
      autoScrollRequest_ = now;
    }
    if (now - autoScrollRequest_ < AutoScrollDelay) result = 0;
  }
  return result;
}

void TVirtualTreeCore::UpdateAutoScroll(int x, int y) {
  AutoScrollDirections = GetAutoScrollDirections(x, y);
  if (HasTreeState(tsWheelPanning) || HasTreeState(tsWheelScrolling)) return;
  const bool running = HasTreeState(tsScrollPending) || HasTreeState(tsScrolling);
  if (AutoScrollDirections != 0) {
    if (!running) {
      SetTreeState(tsScrolling, true);
      if (host_) host_->StartTimer(kScrollTimer, AutoScrollDelay);
    }
  } else {
    if (running) {
      if (host_) host_->StopTimer(kScrollTimer);
      SetTreeState(tsScrollPending, false);
      SetTreeState(tsScrolling, false);
    }
  }
}

bool TVirtualTreeCore::ApplyScrollOffset(int x, int y, unsigned options, const TVTRect* clip) {
  x = std::max(std::min(x, 0), std::min(0, ClientWidth() - rangeX_));
  y = std::max(std::min(y, 0), std::min(0, ClientHeight() - rangeY_));
  const int dx = x - offsetX_, dy = y - offsetY_;
  if (dx == 0 && dy == 0) return false;
  offsetX_ = x;
  offsetY_ = y;
  if (host_ && updateCount_ == 0) {
    const bool dragImage = HasTreeState(tsFrameworkDragImage);
    if (dragImage) host_->ShowFrameworkDragImage(false);
    try {
      if (options & suoScrollClientArea) {
        const bool moveChildren = (OptionBits.Paint & (1u << 4)) && host_->HasBackgroundPicture();
        host_->ScrollClientArea(dx, dy, clip, moveChildren);
      }
      if (options & suoUpdateNCArea) {
        if (dx != 0) {
          if ((options & suoRepaintHeader) && host_->HeaderShown()) host_->RepaintHeader();
          if (!HasTreeState(tsSizingBit) && (ScrollBars == 1 || ScrollBars == 3))
            RefreshHorzScrollBar(options & suoRepaintScrollBars);
        }
        if (dy != 0 && !HasTreeState(tsSizingBit) && !HasTreeState(tsThumbTrackingBit)) {
          RefreshVertScrollBar(options & suoRepaintScrollBars);
          if (!ColumnLayout.HasColumns() && !HasTreeState(tsDrawSelecting) && (ScrollBars == 1 || ScrollBars == 3))
            RefreshHorzScrollBar(options & suoRepaintScrollBars);
        }
        host_->UpdateScrollBars(options & suoRepaintScrollBars);
      }
    } catch (...) {
      if (dragImage) host_->ShowFrameworkDragImage(true);
      throw;
    }
    if (dragImage) host_->ShowFrameworkDragImage(true);
  }
  FireScroll(dx, dy);
  return true;
}

void TVirtualTreeCore::RunTimedAnimation(int distance, int duration, const std::function<bool(int, int)>& step) {
  if (HasTreeState(tsAnimating) || duration <= 0 || !step) return;
  SetTreeState(tsAnimating, true);
  auto terminating = [this] { return host_ && host_->Terminating(); };
  auto now = [this] { return host_ ? host_->Milliseconds() : 0; };
  try {
    int stepSize = std::max(1, int(std::lround(double(distance) / duration)));
    int steps = distance / stepSize;
    int position = 0;
    std::int64_t remaining = duration;
    while (steps > 0 && remaining > 0 && !terminating()) {
      const std::uint64_t start = now();
      if (!step(position, stepSize)) break;
      const std::uint64_t wait = std::uint64_t(remaining / steps);
      std::uint64_t spent = now() - start;
      // Paced by polling the clock: without a clock that moves nothing would end.
      while (spent < wait && host_ && !terminating()) spent = now() - start;
      remaining -= std::int64_t(spent);
      --steps;
      if (steps > 0 && remaining / steps == 0) {
        while (steps > 0 && remaining > 0 && remaining / steps < 1) {
          ++stepSize;
          steps = int(remaining / stepSize);
        }
      }
      // The position is the distance covered: what the remaining steps leave.
      position = distance - steps * stepSize;
    }
    if (!terminating()) step(0, 0);
  } catch (...) {
    SetTreeState(tsAnimating, false);
    throw;
  }
  SetTreeState(tsAnimating, false);
}

// --- Editing ---------------------------------------------------------------------------------------

bool TVirtualTreeCore::DoCanEdit(TVTNode* node, int column) {
  bool allowed = (OptionBits.Misc & (1u << 2)) && (!host_ || host_->Enabled());
  FireCanEdit(node, column, allowed);
  return allowed;
}

void TVirtualTreeCore::FireCanEdit(TVTNode* node, int column, bool& allowed) {
  if (OnEditing) OnEditing(owner_, node, column, allowed);
}

std::shared_ptr<IVTEditLink> TVirtualTreeCore::RequestEditLink(TVTNode* node, int column) {
  std::shared_ptr<IVTEditLink> link;
  if (OnCreateEditor) {
    OnCreateEditor(owner_, node, column, link);
    if (!link) RaiseTreeError(u"Edit link must not be nil.", 2000);
  }
  return link;
}

void TVirtualTreeCore::StartEditNode() {
  if (host_) {
    host_->StopTimer(kScrollTimer);
    host_->StopTimer(kEditTimer);
  }
  SetTreeState(tsEditPending, false);
  TVTNode* node = focusedNode_;
  if (!node || (node->States & vsDisabled)) return;
  editLink_ = RequestEditLink(node, focusedColumn_);
  if (!editLink_) return;
  std::shared_ptr<IVTEditLink> link = editLink_;  // held while it works
  editColumn_ = focusedColumn_;
  BringNodeIntoView(node, true, false);
  SetTreeState(tsEditing, true);
  EditedNode = node;
  bool begun = false;
  if (link->PrepareEditing(owner_, node, focusedColumn_)) {
    RepositionEditor();
    InvalidateNodeArea(node);
    begun = link->StartEditing();
  }
  if (!begun) {
    SetTreeState(tsEditing, false);
    EditedNode = nullptr;
  }
}

bool TVirtualTreeCore::CancelEditNode() {
  if (host_) host_->StopTimer(kEditTimer);
  SetTreeState(tsEditPending, false);
  if (HasTreeState(tsEditing)) {
    std::shared_ptr<IVTEditLink> link = editLink_;
    if (link && !link->AbandonEditing()) return false;
    // The link may have cancelled through this operation itself.
    if (HasTreeState(tsEditing)) {
      SetTreeState(tsEditing, false);
      EditedNode = nullptr;
      if (OnEditCancelled) OnEditCancelled(owner_, focusedColumn_);
    }
    if (host_ && !host_->Destroying()) {
      host_->FocusTree();
      host_->PostReleaseEditLink();
    }
  }
  return !HasTreeState(tsEditing);
}

bool TVirtualTreeCore::EndEditNode() {
  bool ended = !HasTreeState(tsEditing);
  if (!ended) {
    std::shared_ptr<IVTEditLink> link = editLink_;
    if (!link || link->FinishEditing()) {
      ended = true;
      if (HasTreeState(tsEditing)) {
        SetTreeState(tsEditing, false);
        EditedNode = nullptr;
        if (host_) {
          host_->FocusTree();
          host_->PostReleaseEditLink();
        }
        if (OnEdited) OnEdited(owner_, focusedNode_, focusedColumn_);
      }
    }
  }
  SetTreeState(tsEditPending, false);
  return ended;
}

void TVirtualTreeCore::RepositionEditor() {
  if (!HasTreeState(tsEditing) || !editLink_ || !EditedNode) return;
  editLink_->PlaceEditor(ComputeNodeCellRect(EditedNode, editColumn_, true, false));
}

void TVirtualTreeCore::ReleaseEditLink() {
  if (!HasTreeState(tsEditing)) editLink_.reset();
}

// --- Focus -----------------------------------------------------------------------------------------

void TVirtualTreeCore::ChangeFocusedNode(TVTNode* node, bool ask) {
  if (HasTreeState(tsEditing) && !EndEditingIfActive()) return;
  node = Public(node);
  const bool autoExpand = OptionBits.Auto & (1u << 1);
  if (node != focusedNode_ && (!ask || DoFocusChanging(focusedNode_, node, focusedColumn_, focusedColumn_))) {
    TVTNode* old = focusedNode_;
    if (old) {
      if (autoExpand && node && node->Parent == old->Parent && (old->States & vsExpanded))
        ToggleExpansion(old);
      else
        InvalidateNodeArea(old);
    }
    focusedNode_ = node;
    hotNode_ = nullptr;
  }
  if (focusedNode_) {
    if (ColumnLayout.HasColumns() && focusedColumn_ < 0) focusedColumn_ = 0;
    if (autoExpand && !(focusedNode_->States & vsExpanded)) ToggleExpansion(focusedNode_);
    InvalidateNodeArea(focusedNode_);
    if (updateCount_ == 0) BringNodeIntoView(focusedNode_, OptionBits.Selection & (1u << 8), false);
  }
  if (selectionCount_ == 0) ReanchorRangeAtFocus();
}

// --- OLE drag --------------------------------------------------------------------------------------

std::uint32_t TVirtualTreeCore::AllowedDragEffects(std::uint8_t operations) {
  const std::uint32_t effects = operations & 0x07u;  // copy 1, move 2, link 4: the same bits
  return effects ? effects : 0x07u;
}

std::uint32_t TVirtualTreeCore::StartOleDrag(const std::function<std::uint32_t(std::uint32_t)>& run) {
  CancelEditNode();
  if (hotNode_) {
    InvalidateNodeArea(hotNode_);
    hotNode_ = nullptr;
  }
  if (focusedNode_ && !(focusedNode_->States & vsSelected)) {
    AddToSelectionAndNotify(focusedNode_);
    InvalidateNodeArea(focusedNode_);
  }
  if (host_) host_->UpdateWindow();
  dragSelection_ = CollectSelectedNodes(false);
  dragMovedInProcess_ = false;
  SetTreeState(tsOLEDragging, true);
  SetTreeState(tsClearPending, false);
  SetTreeState(tsOLEDragPending, false);
  std::uint32_t effect = 0;
  try {
    effect = run ? run(AllowedDragEffects(DragOperations)) : 0;
    // A drop target of this process that moved the nodes already leaves nothing to delete.
    if (effect == 2 && (OptionBits.Auto & (1u << 8)) && !dragSelection_.empty() && !dragMovedInProcess_) {
      // What is left of the drag selection (freed nodes left it); descendants go with their ancestor.
      const std::set<TVTNode*> listed(dragSelection_.begin(), dragSelection_.end());
      std::vector<TVTNode*> nodes;
      for (TVTNode* n : dragSelection_) {
        bool underListed = false;
        for (TVTNode* p = n->Parent; p && p != root_ && !underListed; p = p->Parent) underListed = listed.count(p) != 0;
        if (!underListed) nodes.push_back(n);
      }
      dragSelection_.clear();
      WorkScope work(*this);
      RemoveNodes(nodes);
    }
  } catch (...) {
    SetTreeState(tsOLEDragging, false);
    dragSelection_.clear();
    throw;
  }
  SetTreeState(tsOLEDragging, false);
  dragSelection_.clear();
  dragMovedInProcess_ = false;
  return effect;
}

// --- Node streams ----------------------------------------------------------------------------------

namespace {

[[noreturn]] void StreamError(const ResString& text, int code) {
  RaiseTreeError(LoadResStringW(text), code);
}

// Reads exactly `count` bytes; a short stream is "not enough data" (2004).
void ReadStreamExact(TStream& stream, void* buffer, std::int64_t count) {
  if (stream.Read(buffer, count) != count) StreamError(SStreamTooSmall, 2004);
}

struct TChunkHeader {
  std::int32_t Type;
  std::int32_t Size;
};

TChunkHeader ReadChunkHeader(TStream& stream) {
  std::uint8_t bytes[kChunkHeaderSize];
  ReadStreamExact(stream, bytes, sizeof bytes);
  ByteReader reader(bytes, sizeof bytes);
  TChunkHeader header;
  header.Type = std::int32_t(reader.U32LE());
  header.Size = std::int32_t(reader.U32LE());
  return header;
}

// The end of a chunk whose header ended at `bodyStart`, checked against the
// stream's end (2004) and the enclosing chunk's end (2006).
std::int64_t CheckedChunkEnd(std::int64_t bodyStart, std::int32_t size, std::int64_t enclosingEnd,
                             std::int64_t streamSize) {
  if (size < 0) StreamError(SStreamTooSmall, 2004);
  const std::int64_t end = bodyStart + size;
  if (end > streamSize) StreamError(SStreamTooSmall, 2004);
  if (end > enclosingEnd) StreamError(SCorruptStream2, 2006);
  return end;
}

void PutU16(std::uint8_t*& p, std::uint32_t v) {
  *p++ = std::uint8_t(v);
  *p++ = std::uint8_t(v >> 8);
}
void PutU32(std::uint8_t*& p, std::uint32_t v) {
  PutU16(p, v & 0xFFFF);
  PutU16(p, v >> 16);
}

void WriteChunkHeader(TStream& stream, std::int32_t type, std::int32_t size) {
  std::uint8_t bytes[kChunkHeaderSize];
  std::uint8_t* p = bytes;
  PutU32(p, std::uint32_t(type));
  PutU32(p, std::uint32_t(size));
  stream.WriteBuffer(bytes, sizeof bytes);
}

}  // namespace

void TVirtualTreeCore::FireSaveNode(TVTNode* node, TStream& stream) {
  if (OnSaveNode) OnSaveNode(owner_, node, stream);
}

void TVirtualTreeCore::FireLoadNode(TVTNode* node, TStream& stream) {
  if (OnLoadNode) OnLoadNode(owner_, node, stream);
}

void TVirtualTreeCore::FireStreamLoaded(TVTNode* node) {
  if (OnStreamLoaded) OnStreamLoaded(owner_, node);
}

void TVirtualTreeCore::PatchChunkSize(TStream& stream, std::int64_t start, std::int64_t end) {
  stream.Seek(start + 4, SeekOrigin::Beginning);
  std::uint8_t bytes[4];
  std::uint8_t* p = bytes;
  PutU32(p, std::uint32_t(std::int32_t(end - start - std::int64_t(kChunkHeaderSize))));
  stream.WriteBuffer(bytes, sizeof bytes);
  stream.Seek(end, SeekOrigin::Beginning);
}

void TVirtualTreeCore::SaveTreeToStream(TStream& stream, TVTNode* node) {
  std::uint8_t header[kStreamHeaderSize + 4];
  std::uint8_t* p = header;
  for (std::uint32_t unit : {0x2045u, 0x0056u, 0x0054u, std::uint32_t(kStreamVersion), 0x0020u, 0x2046u})
    PutU16(p, unit);
  if (node && node != root_) {
    PutU32(p, 1);
    stream.WriteBuffer(header, sizeof header);
    SaveNodeToStream(stream, node);
    return;
  }
  PutU32(p, root_->ChildCount);
  stream.WriteBuffer(header, sizeof header);
  for (TVTNode* child = root_->FirstChild; child; child = child->NextSibling) SaveNodeToStream(stream, child);
}

void TVirtualTreeCore::SaveNodeToStream(TStream& stream, TVTNode* node) {
  node = Real(node);
  if ((OptionBits.Misc & (1u << 5)) && node != root_) {
    InitIfNeeded(node);
    CreateChildrenIfNeeded(node);
  }
  const std::int64_t start = stream.Position();
  WriteChunkHeader(stream, kAnchorChunk, 0);
  SaveNodeChunks(stream, node);
  PatchChunkSize(stream, start, stream.Position());
}

void TVirtualTreeCore::SaveNodeChunks(TStream& stream, TVTNode* node) {
  node = Real(node);
  const bool initialized = node->States & vsInitialized;
  const std::int64_t start = stream.Position();
  std::uint8_t base[kChunkHeaderSize + kBaseChunkSize];
  std::uint8_t* p = base;
  PutU32(p, std::uint32_t(kBaseChunk));
  PutU32(p, 0);
  // The children of a node that is not initialised are not written, so its count is 0.
  PutU32(p, initialized ? node->ChildCount : 0);
  PutU32(p, node->NodeHeight);
  PutU16(p, node->States & ~kUnsavedStates);
  *p++ = node->Align;
  *p++ = node->CheckState;
  *p++ = node->CheckType;
  PutU32(p, 0);
  stream.WriteBuffer(base, sizeof base);
  if (initialized) {
    for (TVTNode* child = node->FirstChild; child; child = child->NextSibling) SaveNodeToStream(stream, child);
  }
  PatchChunkSize(stream, start, stream.Position());

  const std::int64_t userStart = stream.Position();
  WriteChunkHeader(stream, kUserChunk, 0);
  FireSaveNode(Public(node), stream);
  const std::int64_t userEnd = stream.Position();
  if (userEnd == userStart + std::int64_t(kChunkHeaderSize)) {
    stream.Seek(userStart, SeekOrigin::Beginning);
    if (stream.Size() == userEnd) stream.SetSize(userStart);
  } else {
    PatchChunkSize(stream, userStart, userEnd);
  }
}

void TVirtualTreeCore::SkipNodeInStream(TStream& stream) {
  const TChunkHeader header = ReadChunkHeader(stream);
  if (header.Type != kAnchorChunk) StreamError(SCorruptStream1, 2005);
  const std::int64_t size = stream.Size();
  const std::int64_t end = CheckedChunkEnd(stream.Position(), header.Size, size, size);
  stream.Seek(end, SeekOrigin::Beginning);
}

void TVirtualTreeCore::ApplyLoadedNode(TVTNode* node, std::uint32_t height, std::uint16_t states, std::uint8_t align,
                                       std::uint8_t checkState, std::uint8_t checkType) {
  WorkScope work(*this);
  TVTNode* parent = node->Parent;
  // What the node added to its parent's height and to the shown rows before.
  const bool countedBefore = parent && (parent->States & vsExpanded) && (node->States & vsVisible);
  const std::int64_t heightBefore = countedBefore ? node->TotalHeight : 0;
  const std::uint32_t shownBefore = NodeFullyShown(node) ? CountVisibleDescendants(node) + 1 : 0;

  // Bits of a running removal or check never come from outside; the
  // selection bit is settled against the selection array afterwards.
  states &= std::uint16_t(~(kUnsavedStates | vsClearing));
  states = std::uint16_t(states | (node->States & vsSelected));
  if (node->ChildCount) states |= vsHasChildren;
  node->States = states;
  node->NodeHeight = std::uint16_t(std::min<std::uint32_t>(height, 0xFFFF));
  std::uint32_t total = node->NodeHeight;
  if (node->States & vsExpanded) {
    for (TVTNode* c = node->FirstChild; c; c = c->NextSibling)
      if (c->States & vsVisible) total += c->TotalHeight;
  }
  node->TotalHeight = total;
  node->Align = align;
  node->CheckState = checkState <= csMixedPressed ? checkState : csUncheckedNormal;
  node->CheckType = checkType <= ctButton ? checkType : ctNone;

  const bool countedAfter = parent && (parent->States & vsExpanded) && (node->States & vsVisible);
  const std::int64_t heightAfter = countedAfter ? node->TotalHeight : 0;
  if (parent && heightAfter != heightBefore) PropagateTotalHeight(parent, heightAfter - heightBefore, true);
  const std::uint32_t shownAfter = NodeFullyShown(node) ? CountVisibleDescendants(node) + 1 : 0;
  visibleCount_ = visibleCount_ - shownBefore + shownAfter;
  MarkCacheStale();
}

void TVirtualTreeCore::ReadBaseChunk(TStream& stream, int version, std::int32_t size, TVTNode* node,
                                     std::uint32_t& childCount) {
  const std::size_t bodySize = version >= 2 ? kBaseChunkSize : kBaseChunkSizeOld;
  if (size < std::int32_t(bodySize)) StreamError(SStreamTooSmall, 2004);
  std::uint8_t body[kBaseChunkSize];
  ReadStreamExact(stream, body, std::int64_t(bodySize));
  ByteReader reader(body, bodySize);
  childCount = reader.U32LE();
  const std::uint32_t height = reader.U32LE();
  std::uint16_t states;
  if (version >= 2) {
    states = reader.U16LE();
  } else {
    const std::uint8_t old = reader.U8();
    states = std::uint16_t(old | ((old & 0x80) ? vsSelected : vsVisible));
  }
  const std::uint8_t align = reader.U8();
  const std::uint8_t checkState = reader.U8();
  const std::uint8_t checkType = reader.U8();
  // The root keeps its own states; only its children come from the stream.
  if (node != root_) ApplyLoadedNode(node, height, states, align, checkState, checkType);
  // Every child is at least an anchor chunk's header: a count the chunk cannot hold is refused before any child is
  // made.
  const std::int64_t left = std::int64_t(size) - std::int64_t(bodySize);
  if (std::int64_t(childCount) > left / std::int64_t(kChunkHeaderSize)) StreamError(SStreamTooSmall, 2004);
}

struct TVirtualTreeCore::StreamFrame {
  TVTNode* Node;
  std::int64_t AnchorEnd;
  std::int64_t BaseEnd;
  std::uint32_t ChildrenLeft;
  bool InChildren;
};

void TVirtualTreeCore::ReadNodeTree(TStream& stream, int version, TVTNode* node, std::int64_t limit) {
  WorkScope work(*this);
  const std::int64_t streamSize = stream.Size();
  std::vector<StreamFrame> stack;
  auto openAnchor = [&](TVTNode* n, std::int64_t enclosingEnd) {
    if (stack.size() >= kMaxStreamDepth) StreamError(SStreamTooSmall, 2004);
    const std::int64_t start = stream.Position();
    if (start + std::int64_t(kChunkHeaderSize) > streamSize) StreamError(SStreamTooSmall, 2004);
    if (start + std::int64_t(kChunkHeaderSize) > enclosingEnd) StreamError(SCorruptStream2, 2006);
    const TChunkHeader header = ReadChunkHeader(stream);
    if (header.Type != kAnchorChunk) StreamError(SCorruptStream1, 2005);
    const std::int64_t end = CheckedChunkEnd(stream.Position(), header.Size, enclosingEnd, streamSize);
    stack.push_back({n, end, 0, 0, false});
  };
  openAnchor(node, limit);
  while (!stack.empty()) {
    StreamFrame& frame = stack.back();
    const std::int64_t position = stream.Position();
    if (frame.InChildren) {
      if (frame.ChildrenLeft > 0) {
        if (frame.BaseEnd - position < std::int64_t(kChunkHeaderSize)) StreamError(SStreamTooSmall, 2004);
        if (stack.size() >= kMaxStreamDepth) StreamError(SStreamTooSmall, 2004);
        --frame.ChildrenLeft;
        TVTNode* parent = frame.Node;
        const std::int64_t baseEnd = frame.BaseEnd;
        TVTNode* child = AllocateNode();
        LinkNode(child, parent, 4);
        openAnchor(child, baseEnd);  // `frame` may move
        continue;
      }
      if (position != frame.BaseEnd) StreamError(SCorruptStream2, 2006);
      frame.InChildren = false;
      continue;
    }
    if (position >= frame.AnchorEnd) {
      stack.pop_back();
      continue;
    }
    if (frame.AnchorEnd - position < std::int64_t(kChunkHeaderSize)) StreamError(SCorruptStream2, 2006);
    const TChunkHeader header = ReadChunkHeader(stream);
    const std::int64_t chunkEnd = CheckedChunkEnd(stream.Position(), header.Size, frame.AnchorEnd, streamSize);
    if (header.Type == kBaseChunk) {
      std::uint32_t childCount = 0;
      ReadBaseChunk(stream, version, header.Size, frame.Node, childCount);
      frame.BaseEnd = chunkEnd;
      frame.ChildrenLeft = childCount;
      frame.InChildren = true;
      continue;
    }
    LoadChunkFromStream(stream, version, header.Size, header.Type, Public(frame.Node));
    // Whatever the chunk's reader took, the next chunk starts at this one's end.
    if (stream.Position() != chunkEnd) stream.Seek(chunkEnd, SeekOrigin::Beginning);
  }
}

void TVirtualTreeCore::ReadNodeFromStream(TStream& stream, int version, TVTNode* node) {
  ReadNodeTree(stream, version, Real(node), stream.Size());
}

bool TVirtualTreeCore::LoadChunkFromStream(TStream& stream, int version, std::int32_t size, std::int32_t type,
                                           TVTNode* node) {
  node = Real(node);
  const std::int64_t bodyStart = stream.Position();
  const std::int64_t streamSize = stream.Size();
  const std::int64_t end = CheckedChunkEnd(bodyStart, size, streamSize, streamSize);
  switch (type) {
    case kBaseChunk: {
      WorkScope work(*this);
      std::uint32_t childCount = 0;
      ReadBaseChunk(stream, version, size, node, childCount);
      for (; childCount > 0; --childCount) {
        if (end - stream.Position() < std::int64_t(kChunkHeaderSize)) StreamError(SStreamTooSmall, 2004);
        TVTNode* child = AllocateNode();
        LinkNode(child, node, 4);
        ReadNodeTree(stream, version, child, end);
      }
      if (stream.Position() != end) StreamError(SCorruptStream2, 2006);
      return true;
    }
    case kUserChunk: {
      if (size < 1) return true;
      FireLoadNode(Public(node), stream);
      const bool taken = stream.Position() != bodyStart;
      if (stream.Position() != end) stream.Seek(end, SeekOrigin::Beginning);
      return taken;
    }
    default:
      stream.Seek(end, SeekOrigin::Beginning);
      return false;
  }
}

void TVirtualTreeCore::InsertNodesFromStream(TStream& stream, int version, TVTNode* target) {
  WorkScope work(*this);
  TVTNode* top = Real(target);
  // The rows shown are counted as the nodes come (linking and the base chunk keep the count).
  auto settleSelection = [this, top] {
    // Only the subtree just read: from Target to the node after its last descendant.
    TVTNode* stop = nullptr;
    if (top != root_) {
      const TVTNode* n = top;
      while (n != root_ && !n->NextSibling) n = n->Parent;
      stop = n == root_ ? nullptr : n->NextSibling;
    }
    tempNodes_.clear();
    for (TVTNode* n = top == root_ ? FirstNodeRaw() : top; n && n != stop; n = NextNodeRaw(n)) {
      if (!(n->States & vsSelected)) continue;
      std::ptrdiff_t index;
      if (FindInSelection(n, index, -1, -1)) continue;
      // The merge takes only nodes without the bit.
      n->States &= ~vsSelected;
      if (multiSelect_) tempNodes_.push_back(n);
    }
    if (!tempNodes_.empty()) {
      const std::size_t added = tempNodes_.size();
      MergeIntoSelection(tempNodes_.data(), added, true);
      ScheduleChangeEvent(added == 1 ? tempNodes_[0] : nullptr);
      tempNodes_.clear();
    }
  };
  try {
    ReadNodeFromStream(stream, version, Public(top));
  } catch (...) {
    settleSelection();
    throw;
  }
  settleSelection();
}

void TVirtualTreeCore::LoadTreeFromFile(const std::string& fileName) {
  WithFileStream(fileName, fmOpenRead | fmShareDenyWrite, [this](TFileStream& stream) { LoadTreeFromStream(stream); });
}

void TVirtualTreeCore::LoadTreeFromStream(TStream& stream) {
  Clear();
  std::uint8_t header[kStreamHeaderSize];
  ReadStreamExact(stream, header, sizeof header);
  ByteReader reader(header, sizeof header);
  std::uint16_t units[6];
  for (auto& unit : units) unit = reader.U16LE();
  if (units[0] != 0x2045 || units[1] != 0x0056 || units[2] != 0x0054 || units[5] != 0x2046)
    StreamError(SWrongFormat, 2002);
  const int version = units[3];
  if (version > kStreamVersion) StreamError(SWrongStreamVersion, 2003);
  BeginUpdate();
  try {
    WorkScope work(*this);
    bool counted = version >= 2;
    std::uint32_t count = 0;
    if (counted) {
      std::uint8_t bytes[4];
      ReadStreamExact(stream, bytes, sizeof bytes);
      count = ByteReader(bytes, sizeof bytes).U32LE();
    }
    const std::int64_t size = stream.Size();
    while (stream.Position() < size && (!counted || count > 0)) {
      if (size - stream.Position() < std::int64_t(kChunkHeaderSize)) StreamError(SStreamTooSmall, 2004);
      if (counted) --count;
      TVTNode* node = AllocateNode();
      LinkNode(node, root_, 4);
      InsertNodesFromStream(stream, version, node);
    }
    FireStreamLoaded(nullptr);
  } catch (...) {
    EndUpdate();
    throw;
  }
  EndUpdate();
}

// --- Moving nodes ----------------------------------------------------------------------------------

TVirtualTreeCore* TVirtualTreeCore::CoreOfNode(const TVTNode* node) {
  if (!node) return nullptr;
  while (node->NextSibling != node) node = node->Parent;
  return reinterpret_cast<const TVTRootPrefix*>(reinterpret_cast<const char*>(node) - sizeof(TVTRootPrefix))->Core;
}

bool TVirtualTreeCore::DoNodeMoving(TVTNode* node, TVTNode* target) {
  bool allowed = true;
  if (OnNodeMoving) OnNodeMoving(owner_, node, target, allowed);
  return allowed;
}

void TVirtualTreeCore::DoNodeMoved(TVTNode* node) {
  if (OnNodeMoved) OnNodeMoved(owner_, node);
}

void TVirtualTreeCore::MoveNodeListTo(const std::vector<TVTNode*>& nodes, TVirtualTreeCore* targetTree, TVTNode* target,
                                      int mode) {
  TVirtualTreeCore* owner = target ? CoreOfNode(target) : targetTree ? targetTree : this;
  if (!owner) return;
  // At the root modes 1 and 2 become 3 and 4.
  const int placed = !target && mode == 1 ? 3 : !target && mode == 2 ? 4 : mode;
  // Each node lands at the same place: before the target or as its last
  // child it goes after the ones moved already, so those go first; after
  // the target or as its first child it goes in front of them, so those go last.
  const bool forward = placed == 1 || placed == 4;
  auto move = [&](TVTNode* node) {
    if (node != target && !owner->NodeHasAncestor(target, node)) MoveNodesTo(node, targetTree, target, mode, false);
  };
  if (forward) {
    for (TVTNode* node : nodes) move(node);
  } else {
    for (auto it = nodes.rbegin(); it != nodes.rend(); ++it) move(*it);
  }
}

void TVirtualTreeCore::MoveNodesTo(TVTNode* source, TVTNode* target, int mode, bool childrenOnly) {
  MoveNodesTo(source, nullptr, target, mode, childrenOnly);
}

void TVirtualTreeCore::MoveNodesTo(TVTNode* source, TVirtualTreeCore* targetTree, TVTNode* target, int mode,
                                   bool childrenOnly) {
  if (mode == 0 || !source || source == root_ || source == target) return;
  if (!target && targetTree) {
    target = targetTree->root_;
  } else if (!target) {
    targetTree = this;
    target = root_;
    mode = 3;
  } else {
    targetTree = CoreOfNode(target);
    if (!targetTree) return;
  }
  if (target == targetTree->root_) {
    if (mode == 1) mode = 3;
    if (mode == 2) mode = 4;
  }
  TVTNode* const publicTarget = target == targetTree->root_ ? nullptr : target;
  // Where the structure change is reported: the source, or its parent when it goes.
  TVTNode* reported = source;
  bool moved = false;
  if (targetTree == this) {
    if (DoNodeMoving(source, publicTarget)) {
      if (NodeHasAncestor(target, source))
        RaiseTreeError(u"Target node cannot be a child node of the node to be moved.", 2001);
      WorkScope work(*this);
      if (childrenOnly) {
        for (TVTNode* child = source->FirstChild; child;) {
          TVTNode* next = child->NextSibling;
          UnlinkNode(child, true);
          LinkNode(child, target, mode);
          child = next;
        }
      } else {
        UnlinkNode(source, true);
        LinkNode(source, target, mode);
      }
      moved = true;
    }
  } else if (DoNodeMoving(source, publicTarget)) {
    TMemoryStream stream;
    if (childrenOnly) {
      for (TVTNode* child = source->FirstChild; child; child = child->NextSibling) SaveNodeToStream(stream, child);
    } else {
      SaveNodeToStream(stream, source);
    }
    stream.SetPosition(0);
    targetTree->BeginUpdate();
    try {
      while (stream.Position() < stream.Size()) {
        TVTNode* node = targetTree->AllocateNode();
        targetTree->LinkNode(node, publicTarget, mode);
        targetTree->InsertNodesFromStream(stream, 2, node);
        targetTree->DoNodeMoved(node);
      }
    } catch (...) {
      targetTree->EndUpdate();
      throw;
    }
    targetTree->EndUpdate();
    BeginUpdate();
    try {
      if (childrenOnly) {
        RemoveAllChildren(source, true);
      } else {
        reported = Public(source->Parent);
        RemoveNode(source);
      }
    } catch (...) {
      EndUpdate();
      throw;
    }
    EndUpdate();
    moved = true;
  }
  MarkCacheStale();
  if (moved && updateCount_ == 0) {
    QueueCacheValidation();
    RefreshScrollBars(true);
    if (host_) host_->Invalidate();
    if (targetTree != this && targetTree->host_) targetTree->host_->Invalidate();
  }
  if (moved) ScheduleStructureChangeEvent(reported, crNodeMoved);
}

// --- Transfer streams ------------------------------------------------------------------------------

bool TVirtualTreeCore::DoPasteAllowed(TVTNode*) {
  return true;
}

void TVirtualTreeCore::InsertTransferStream(TStream& stream, TVTNode* target, int mode) {
  target = Real(target);
  if (target == root_) {
    if (mode == 1) mode = 3;
    if (mode == 2) mode = 4;
  }
  TVTNode* const publicTarget = Public(target);
  BeginUpdate();
  try {
    while (stream.Position() < stream.Size()) {
      TVTNode* node = AllocateNode();
      LinkNode(node, publicTarget, mode);
      InsertNodesFromStream(stream, 2, node);
      if (DoPasteAllowed(node))
        FireStreamLoaded(node);
      else
        RemoveNode(node);
    }
  } catch (...) {
    EndUpdate();
    throw;
  }
  EndUpdate();
}

void TVirtualTreeCore::InsertTransferBlock(const std::uint8_t* block, std::size_t blockSize, TVTNode* target,
                                           int mode) {
  if (!block || blockSize < 4) RaiseTreeError(LoadResStringW(SStreamTooSmall), 2004);
  const std::uint32_t size = std::uint32_t(block[0]) | std::uint32_t(block[1]) << 8 | std::uint32_t(block[2]) << 16 |
                             std::uint32_t(block[3]) << 24;
  if (size > blockSize - 4) RaiseTreeError(LoadResStringW(SStreamTooSmall), 2004);
  TOwned<TReadOnlyMemoryStream> stream(New<TReadOnlyMemoryStream>(block + 4, size));
  InsertTransferStream(*stream, target, mode);
}

std::vector<TVTNode*> TVirtualTreeCore::TransferNodes() const {
  if (HasTreeState(tsOLEDragging)) {
    std::vector<TVTNode*> nodes;
    const std::set<TVTNode*> listed(dragSelection_.begin(), dragSelection_.end());
    for (TVTNode* n : dragSelection_) {
      bool underListed = false;
      for (TVTNode* p = n->Parent; p && p != root_ && !underListed; p = p->Parent) underListed = listed.count(p) != 0;
      if (!underListed) nodes.push_back(n);
    }
    std::sort(nodes.begin(), nodes.end(), [this](TVTNode* a, TVTNode* b) { return CompareNodeOrder(a, b) < 0; });
    return nodes;
  }
  return CollectClipboardMarkedNodes(true);
}

void TVirtualTreeCore::SaveTransferStream(TStream& stream) {
  for (TVTNode* node : TransferNodes()) SaveNodeToStream(stream, node);
}
