// The tree's core: node blocks, linking, counts and heights, removal,
// on-demand initialisation, check states, the position cache and the change
// events, with a recording host.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <stdexcept>
#include <vector>

#include "TreeTestSupport.h"

namespace {

TVTNode* Child(RecordingTree& tree, TVTNode* parent, std::uint32_t index) {
  TVTNode* n = parent ? parent->FirstChild : tree.FirstNodeRaw();
  while (n && index--) n = n->NextSibling;
  return n;
}

TEST(TreeNode, HeaderLayoutFollowsTheFieldTable) {
  EXPECT_EQ(sizeof(TVTNode), sizeof(void*) == 4 ? 44u : 64u);
  EXPECT_EQ(offsetof(TVTNode, Index), 0u);
  EXPECT_EQ(offsetof(TVTNode, ChildCount), 4u);
  EXPECT_EQ(offsetof(TVTNode, NodeHeight), 8u);
  EXPECT_EQ(offsetof(TVTNode, States), 10u);
  EXPECT_EQ(offsetof(TVTNode, Align), 12u);
  EXPECT_EQ(offsetof(TVTNode, CheckState), 13u);
  EXPECT_EQ(offsetof(TVTNode, CheckType), 14u);
  EXPECT_EQ(offsetof(TVTNode, TotalCount), 16u);
  EXPECT_EQ(offsetof(TVTNode, TotalHeight), 20u);
  EXPECT_EQ(offsetof(TVTNode, Parent), 24u);
  EXPECT_EQ(offsetof(TVTNode, LastChild), 24u + 4 * sizeof(void*));
}

TEST(TreeNode, NewNodesAndTheRootHaveTheirDefaults) {
  TObject owner;
  RecordingTree tree(&owner);
  EXPECT_EQ(tree.NodeDataSize(), -1);
  tree.SetRootChildCount(3);
  EXPECT_EQ(tree.NodeDataSize(), 0);  // asked once, no handler: 0
  TVTNode* first = tree.FirstNodeRaw();
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(first->States, vsVisible);
  EXPECT_EQ(first->Align, 50);
  EXPECT_EQ(first->NodeHeight, 18);
  EXPECT_EQ(first->TotalCount, 1u);
  TVTNode* root = first->Parent;
  EXPECT_EQ(root->States, 0x00E1);
  EXPECT_EQ(root->NextSibling, root);
  EXPECT_EQ(root->PrevSibling, root);
  EXPECT_EQ(OwnerTreeOfNode(first), &owner);
  EXPECT_EQ(OwnerTreeOfNode(root), &owner);
  // The root is never handed out: nil stands for it.
  tree.SetFocusedNode(root);
  EXPECT_EQ(tree.FocusedNode(), nullptr);
  tree.SetChildCount(nullptr, 5);
  EXPECT_EQ(tree.RootChildCount(), 5u);
  ASSERT_FALSE(tree.structureChanges.empty());
  EXPECT_EQ(tree.structureChanges.back().first, nullptr);
  EXPECT_EQ(tree.structureChanges.back().second, crChildAdded);
  CheckTreeInvariants(tree);
}

TEST(TreeNode, SettersNormaliseTheirValues) {
  RecordingTree tree;
  tree.SetDefaultNodeHeight(30);
  tree.SetDefaultNodeHeight(0);
  EXPECT_EQ(tree.DefaultNodeHeight(), 18);
  tree.SetNodeDataSize(-5);
  EXPECT_EQ(tree.NodeDataSize(), -1);
  tree.SetNodeDataSize(12);
  tree.SetRootChildCount(2);
  EXPECT_EQ(tree.NodeBlockSize(), sizeof(TVTNode) + 12);
  EXPECT_NE(tree.NodeData(tree.FirstNodeRaw()), nullptr);
  // At design time nodes carry no user data.
  RecordingHost host;
  host.designing = true;
  RecordingTree designed(nullptr, &host);
  designed.SetNodeDataSize(12);
  designed.SetRootChildCount(1);
  EXPECT_EQ(designed.NodeBlockSize(), sizeof(TVTNode));
  EXPECT_EQ(designed.NodeData(designed.FirstNodeRaw()), nullptr);
}

TEST(TreeNode, InternalDataIsReservedOnlyWhileTheTreeIsEmpty) {
  RecordingTree tree;
  EXPECT_EQ(tree.ReserveInternalNodeData(5), sizeof(TVTNode));
  EXPECT_EQ(tree.ReserveInternalNodeData(4), sizeof(TVTNode) + 8);
  EXPECT_EQ(tree.InternalDataSize(), 12u);
  tree.SetRootChildCount(2);
  // Top-level Parent links still reach the root after the reallocations.
  EXPECT_EQ(tree.FirstNodeRaw()->Parent->NextSibling, tree.FirstNodeRaw()->Parent);
  EXPECT_THROW(tree.ReserveInternalNodeData(4), EVirtualTreeError);
  EXPECT_EQ(tree.InternalDataSize(), 12u);
  CheckTreeInvariants(tree);
}

// Each mode links a new node relative to the middle one of three children.
TEST(TreeNode, LinkNodePlacesAndCountsByMode) {
  struct Case {
    int mode;
    int destination;  // index of the top-level destination
    int expectIndex;  // where the new node ends among the top level, -1: as a child
  };
  const Case cases[] = {{1, 0, 0}, {1, 1, 1}, {2, 1, 2}, {2, 2, 3}, {3, 1, -1}, {4, 1, -1}, {0, 1, -2}, {5, 1, -2}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.mode);
    RecordingTree tree;
    tree.SetRootChildCount(3);
    TVTNode* destination = Child(tree, nullptr, std::uint32_t(c.destination));
    tree.SetChildCount(destination, 2);
    TVTNode* node = tree.AllocateNode();
    tree.LinkNode(node, destination, c.mode);
    if (c.expectIndex == -2) {
      EXPECT_EQ(tree.RootChildCount(), 3u);
      CheckTreeInvariants(tree);
      tree.LinkNode(node, nullptr, 4);  // hand it to the tree for freeing
      continue;
    }
    if (c.expectIndex >= 0) {
      EXPECT_EQ(Child(tree, nullptr, std::uint32_t(c.expectIndex)), node);
    } else {
      EXPECT_EQ(node->Parent, destination);
      EXPECT_EQ(c.mode == 3 ? destination->FirstChild : destination->LastChild, node);
    }
    EXPECT_EQ(CheckTreeInvariants(tree), 3u + 2 + 1);
  }
}

TEST(TreeNode, HeightsTravelOnlyThroughExpandedParents) {
  RecordingTree tree;
  tree.SetRootChildCount(1);
  TVTNode* top = tree.FirstNodeRaw();
  tree.SetChildCount(top, 4);  // collapsed: its total stays its own row
  EXPECT_EQ(top->TotalHeight, 18u);
  EXPECT_EQ(tree.TotalHeight(), 18u);
  EXPECT_EQ(tree.VisibleCount(), 1u);
  tree.ToggleExpansion(top);
  EXPECT_EQ(tree.TotalHeight(), 5u * 18);
  EXPECT_EQ(tree.VisibleCount(), 5u);
  // More children of an expanded node grow the chain above it.
  tree.SetChildCount(top, 6);
  EXPECT_EQ(tree.TotalHeight(), 7u * 18);
  TVTNode* inner = top->FirstChild;
  tree.SetChildCount(inner, 3);
  EXPECT_EQ(tree.TotalHeight(), 7u * 18);
  tree.ToggleExpansion(top);
  tree.ToggleExpansion(inner);
  EXPECT_EQ(top->TotalHeight, 18u);
  EXPECT_EQ(inner->TotalHeight, 4u * 18);
  CheckTreeInvariants(tree);
}

TEST(TreeNode, NodeOrderComparesAcrossLevels) {
  RecordingTree tree;
  tree.SetRootChildCount(3);
  TVTNode* a = Child(tree, nullptr, 0);
  TVTNode* c = Child(tree, nullptr, 2);
  tree.SetChildCount(a, 2);
  TVTNode* a1 = a->LastChild;
  EXPECT_EQ(tree.CompareNodeOrder(a, a), 0);
  EXPECT_EQ(tree.CompareNodeOrder(a1, a), 1);
  EXPECT_EQ(tree.CompareNodeOrder(a, a1), -1);
  EXPECT_LT(tree.CompareNodeOrder(a1, c), 0);
  EXPECT_GT(tree.CompareNodeOrder(c, a1), 0);
}

TEST(TreeRemoval, ClearingFreesLastChildFirstDepthFirst) {
  RecordingTree tree;
  tree.initNode = [](TVTNode*, TVTNode*, std::uint8_t&) {};
  std::vector<std::uint16_t> statesAtFree;
  tree.freeNode = [&](TVTNode* n) { statesAtFree.push_back(n->States); };
  tree.SetRootChildCount(2);
  TVTNode* a = Child(tree, nullptr, 0);
  TVTNode* b = Child(tree, nullptr, 1);
  tree.SetChildCount(a, 2);
  tree.SetChildCount(b, 2);
  std::vector<TVTNode*> expected = {b->LastChild, b->FirstChild, b, a->LastChild, a->FirstChild, a};
  for (TVTNode* n = tree.FirstNodeRaw(); n; n = tree.NextNodeRaw(n)) tree.InitializeNodeOnDemand(n);
  tree.SetChildCount(nullptr, 0);
  EXPECT_EQ(tree.freed, expected);
  // Every node freed as part of its parent's list carries bit 4.
  for (std::uint16_t states : statesAtFree) EXPECT_TRUE(states & 0x0010);
  EXPECT_EQ(tree.TotalNodeCount(), 0u);
  CheckTreeInvariants(tree);
}

TEST(TreeRemoval, UninitialisedNodesFireNoFreeEvent) {
  RecordingTree tree;
  tree.SetRootChildCount(3);
  tree.InitializeNodeOnDemand(Child(tree, nullptr, 1));
  tree.SetRootChildCount(0);
  EXPECT_EQ(tree.freed.size(), 1u);
}

TEST(TreeRemoval, RemovingTheFocusedNodeReportsNoFocus) {
  RecordingTree tree;
  tree.SetRootChildCount(3);
  TVTNode* middle = Child(tree, nullptr, 1);
  tree.SetFocusedNode(middle);
  tree.SetRangeAnchor(middle);
  tree.focusChanges.clear();
  tree.RemoveNode(middle);
  EXPECT_EQ(tree.FocusedNode(), nullptr);
  EXPECT_EQ(tree.RangeAnchor(), nullptr);
  ASSERT_EQ(tree.focusChanges.size(), 1u);
  EXPECT_EQ(tree.focusChanges[0], nullptr);
  EXPECT_EQ(Child(tree, nullptr, 1)->Index, 1u);
  CheckTreeInvariants(tree);
}

// A node that goes takes every reference to it along: nothing fires or
// points at freed memory afterwards.
TEST(TreeRemoval, ReleasedNodesLeaveNoReferences) {
  RecordingTree tree;
  tree.SetRootChildCount(2);
  TVTNode* a = Child(tree, nullptr, 0);
  tree.SetChildCount(a, 2);
  tree.structureChanges.clear();
  tree.BeginUpdate();
  tree.SetChildCount(a->FirstChild, 3);  // pending structure change names a's child
  TVTNode* x = a->FirstChild;
  EXPECT_EQ(tree.PendingStructureChangeNode(), x);
  tree.SearchNode = tree.DropTargetNode = tree.SpaceCheckNode = x;
  tree.SetHotNode(x);
  tree.RemoveNode(x);
  EXPECT_NE(tree.PendingStructureChangeNode(), x);
  EXPECT_EQ(tree.SearchNode, nullptr);
  EXPECT_EQ(tree.DropTargetNode, nullptr);
  EXPECT_EQ(tree.SpaceCheckNode, nullptr);
  EXPECT_EQ(tree.HotNode(), nullptr);
  tree.EndUpdate();
  ASSERT_EQ(tree.structureChanges.size(), 1u);
  EXPECT_EQ(tree.structureChanges[0].first, a);
  EXPECT_EQ(tree.structureChanges[0].second, crAccumulated);
  CheckTreeInvariants(tree);
}

TEST(TreeRemoval, AFailingFreeHandlerLeavesAWholeStructure) {
  RecordingTree tree;
  tree.initNode = [](TVTNode*, TVTNode*, std::uint8_t&) {};
  int calls = 0;
  tree.freeNode = [&](TVTNode*) {
    if (++calls % 2 == 0) throw std::runtime_error("free failed");
  };
  tree.SetRootChildCount(4);
  for (TVTNode* n = tree.FirstNodeRaw(); n; n = n->NextSibling) {
    tree.SetChildCount(n, 2);
    tree.InitializeNodeOnDemand(n);
    for (TVTNode* c = n->FirstChild; c; c = c->NextSibling) tree.InitializeNodeOnDemand(c);
  }
  EXPECT_THROW(tree.SetChildCount(nullptr, 0), std::runtime_error);
  EXPECT_EQ(calls, 12);
  EXPECT_EQ(tree.TotalNodeCount(), 0u);
  EXPECT_EQ(tree.FirstNodeRaw(), nullptr);
  CheckTreeInvariants(tree);
  // A single removal re-raises as well, after the node is gone.
  tree.SetRootChildCount(2);
  tree.InitializeNodeOnDemand(tree.FirstNodeRaw());
  calls = 1;
  EXPECT_THROW(tree.RemoveNode(tree.FirstNodeRaw()), std::runtime_error);
  EXPECT_EQ(tree.RootChildCount(), 1u);
  CheckTreeInvariants(tree);
}

TEST(TreeInit, InitStatesAreApplied) {
  struct Case {
    std::uint8_t init;
    std::uint32_t children;  // what init-children answers
    std::uint16_t expectSet;
    std::uint16_t expectClear;
  };
  const Case cases[] = {
      {ivsDisabled, 0, vsDisabled | vsInitialized, vsExpanded},
      {ivsSelected, 0, vsSelected, 0},
      {ivsHasChildren, 3, vsHasChildren, vsExpanded},
      {ivsHasChildren | ivsExpanded, 3, vsHasChildren | vsExpanded, 0},
      // Asked to expand but given no children: stays collapsed.
      {ivsHasChildren | ivsExpanded, 0, 0, vsExpanded | vsHasChildren},
      {ivsExpanded, 0, 0, vsExpanded},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(int(c.init));
    RecordingTree tree;
    tree.initNode = [&](TVTNode* parent, TVTNode*, std::uint8_t& states) {
      EXPECT_EQ(parent, nullptr);
      states = c.init;
    };
    tree.initChildren = [&](TVTNode*, std::uint32_t& count) { count = c.children; };
    tree.SetRootChildCount(1);
    TVTNode* node = tree.FirstNodeRaw();
    tree.InitializeNodeOnDemand(node);
    EXPECT_EQ(node->States & c.expectSet, c.expectSet);
    EXPECT_EQ(node->States & c.expectClear, 0);
    if ((c.init & ivsExpanded) && c.children) {
      EXPECT_EQ(tree.VisibleCount(), 1 + c.children);
    }
    CheckTreeInvariants(tree);
  }
}

TEST(TreeChecks, RadioSiblingsClearWithoutEvents) {
  RecordingTree tree;
  tree.SetRootChildCount(3);
  for (TVTNode* n = tree.FirstNodeRaw(); n; n = n->NextSibling) tree.SetCheckType(n, ctRadioButton);
  TVTNode* a = Child(tree, nullptr, 0);
  TVTNode* b = Child(tree, nullptr, 1);
  tree.SetCheckState(a, csCheckedNormal);
  tree.events.clear();
  tree.SetCheckState(b, csCheckedNormal);
  EXPECT_EQ(tree.events, (std::vector<std::string>{"checking", "checked"}));
  EXPECT_EQ(a->CheckState, csUncheckedNormal);
  EXPECT_EQ(b->CheckState, csCheckedNormal);
  // A disabled node keeps its state and asks nothing.
  TVTNode* c = Child(tree, nullptr, 2);
  c->States |= vsDisabled;
  tree.events.clear();
  tree.SetCheckState(c, csCheckedNormal);
  EXPECT_TRUE(tree.events.empty());
  EXPECT_EQ(b->CheckState, csCheckedNormal);
}

TEST(TreeChecks, TriStateParentFollowsItsBoxes) {
  struct Case {
    std::vector<std::uint8_t> children;  // the states to give the children in turn
    std::uint8_t parent;
  };
  const Case cases[] = {
      {{csCheckedNormal, csCheckedNormal, csCheckedNormal}, csCheckedNormal},
      {{csCheckedNormal}, csMixedNormal},
      {{csCheckedNormal, csUncheckedNormal}, csUncheckedNormal},
      {{csUncheckedNormal, csCheckedNormal, csCheckedNormal}, csMixedNormal},
  };
  for (const Case& c : cases) {
    RecordingTree tree;
    tree.SetRootChildCount(1);
    TVTNode* parent = tree.FirstNodeRaw();
    tree.InitializeNodeOnDemand(parent);
    tree.SetCheckType(parent, ctTriStateCheckBox);
    tree.SetChildCount(parent, 3);
    for (TVTNode* n = parent->FirstChild; n; n = n->NextSibling) tree.SetCheckType(n, ctCheckBox);
    for (std::size_t i = 0; i < c.children.size(); ++i) {
      TVTNode* target = Child(tree, parent, std::uint32_t(c.children.size() == 2 ? 0 : i));
      tree.SetCheckState(target, c.children[i]);
    }
    EXPECT_EQ(parent->CheckState, c.parent);
  }
  // Checking the parent checks every box below it.
  RecordingTree tree;
  tree.SetRootChildCount(1);
  TVTNode* parent = tree.FirstNodeRaw();
  tree.SetCheckType(parent, ctTriStateCheckBox);
  tree.SetChildCount(parent, 2);
  for (TVTNode* n = parent->FirstChild; n; n = n->NextSibling) tree.SetCheckType(n, ctCheckBox);
  tree.SetCheckState(parent, csCheckedNormal);
  EXPECT_EQ(parent->FirstChild->CheckState, csCheckedNormal);
  EXPECT_EQ(parent->LastChild->CheckState, csCheckedNormal);
  EXPECT_EQ(parent->CheckState, csCheckedNormal);
}

TEST(TreeCache, OneEntryPerBlockOfVisibleNodes) {
  struct Case {
    std::uint32_t visible;
    std::size_t entries;
  };
  for (const Case& c : {Case{2000, 0}, Case{4000, 2}, Case{4001, 3}}) {
    SCOPED_TRACE(c.visible);
    RecordingTree tree;
    tree.SetRootChildCount(c.visible);
    tree.WaitForBackgroundValidation();
    EXPECT_TRUE(tree.HasTreeState(tsValidated));
    ASSERT_EQ(tree.PositionCache().size(), c.entries);
    for (std::size_t k = 0; k < c.entries; ++k) {
      EXPECT_EQ(tree.PositionCache()[k].Node->Index, k * 2000);
      EXPECT_EQ(tree.PositionCache()[k].AbsoluteTop, k * 2000 * 18);
    }
    TVTNode* entry;
    std::uint32_t top;
    if (c.entries) {
      EXPECT_TRUE(tree.CacheEntryAtPosition(2000 * 18 + 5, entry, top));
      EXPECT_EQ(entry->Index, 2000u);
      EXPECT_TRUE(tree.CacheEntryBeforeNode(tree.PositionCache()[1].Node->PrevSibling, entry, top));
      EXPECT_EQ(entry->Index, 0u);
    } else {
      EXPECT_FALSE(tree.CacheEntryAtPosition(0, entry, top));
    }
  }
}

TEST(TreeEvents, ChangeDelayZeroFiresAtOnceAndADelayFiresOncePerBurst) {
  RecordingHost host;
  RecordingTree tree(nullptr, &host);
  EXPECT_EQ(tree.ChangeDelay(), 0u);
  tree.SetRootChildCount(2);
  EXPECT_EQ(tree.structureChanges.size(), 1u);
  tree.SetChangeDelay(100);
  tree.structureChanges.clear();
  tree.SetChildCount(tree.FirstNodeRaw(), 2);
  tree.SetChildCount(tree.FirstNodeRaw()->NextSibling, 3);
  EXPECT_TRUE(tree.structureChanges.empty());
  ASSERT_TRUE(host.TimerRunning(kStructureChangeTimer));
  tree.TimerFired(kStructureChangeTimer);
  ASSERT_EQ(tree.structureChanges.size(), 1u);
  EXPECT_EQ(tree.structureChanges[0].second, crAccumulated);
  EXPECT_FALSE(host.TimerRunning(kStructureChangeTimer));
  // The synchronous state bypasses the delay.
  tree.SetTreeState(tsSynchMode, true);
  tree.SetChildCount(tree.FirstNodeRaw(), 5);
  EXPECT_EQ(tree.structureChanges.size(), 2u);
}

TEST(TreeStates, WorkerBitsAreKeptApartFromTheOthers) {
  RecordingTree tree;
  for (int bit : {0, 19, 27, 28, 29, 31, 32, 33, 34, 35, 37, 47}) {
    SCOPED_TRACE(bit);
    tree.SetTreeState(bit, true);
    EXPECT_TRUE(tree.HasTreeState(bit));
    tree.SetTreeState(bit, false);
    EXPECT_FALSE(tree.HasTreeState(bit));
  }
}

TEST(TreeLoading, RootCountWaitsForTheLoad) {
  RecordingHost host;
  host.loading = true;
  RecordingTree tree(nullptr, &host);
  tree.SetRootChildCount(7);
  EXPECT_EQ(tree.RootChildCount(), 7u);
  EXPECT_EQ(tree.FirstNodeRaw(), nullptr);
  host.loading = false;
  tree.ApplyLoadedRootCount();
  EXPECT_EQ(CheckTreeInvariants(tree), 7u);
}

}  // namespace

// A small tree takes a small slab; a large one gets slabs that grow to the
// largest size, so the count of slabs stays small; the last block back frees
// them all. Every block comes zero-filled, also after reuse.
TEST(NodePool, SlabsGrowWithTheTree) {
  TVTNodePool pool;
  pool.SetBlockSize(96);
  std::vector<void*> blocks{pool.Allocate()};
  EXPECT_LE(pool.SlabBytes(), 4096u);
  for (int i = 1; i < 40000; ++i) blocks.push_back(pool.Allocate());
  const std::size_t used = blocks.size() * pool.BlockSize();
  EXPECT_GE(pool.SlabBytes(), used);
  EXPECT_LE(pool.SlabBytes(), 2 * used + 4096);
  std::memset(blocks[7], 0xAB, pool.BlockSize());
  pool.Release(blocks[7]);
  blocks[7] = pool.Allocate();
  const auto* bytes = static_cast<const unsigned char*>(blocks[7]);
  EXPECT_TRUE(std::all_of(bytes, bytes + pool.BlockSize(), [](unsigned char b) { return b == 0; }));
  for (void* b : blocks) pool.Release(b);
  EXPECT_EQ(pool.Outstanding(), 0u);
  EXPECT_EQ(pool.SlabBytes(), 0u);
}
