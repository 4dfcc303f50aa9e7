// Randomised runs against the structural invariants, the worker's cache and
// a set model of the selection.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <set>
#include <unordered_map>

#include "TreeTestSupport.h"

namespace {

// The live nodes, for picking one at random.
class NodeBag {
 public:
  void Add(TVTNode* n) {
    position_[n] = nodes_.size();
    nodes_.push_back(n);
  }
  void Remove(TVTNode* n) {
    auto it = position_.find(n);
    if (it == position_.end()) return;
    const std::size_t at = it->second;
    position_.erase(it);
    TVTNode* last = nodes_.back();
    nodes_.pop_back();
    if (last != n) {
      nodes_[at] = last;
      position_[last] = at;
    }
  }
  void RemoveSubtree(const RecordingTree& tree, TVTNode* n) {
    std::vector<TVTNode*> stack{n};
    while (!stack.empty()) {
      TVTNode* x = stack.back();
      stack.pop_back();
      Remove(x);
      for (TVTNode* c = x->FirstChild; c; c = c->NextSibling) stack.push_back(c);
    }
    (void)tree;
  }
  TVTNode* Pick(std::mt19937& random) const {
    if (nodes_.empty()) return nullptr;
    return nodes_[std::uniform_int_distribution<std::size_t>(0, nodes_.size() - 1)(random)];
  }
  bool Contains(TVTNode* n) const { return position_.count(n) != 0; }
  std::size_t Size() const { return nodes_.size(); }

 private:
  std::vector<TVTNode*> nodes_;
  std::unordered_map<TVTNode*, std::size_t> position_;
};

void CheckCache(RecordingTree& tree) {
  tree.WaitForBackgroundValidation();
  if (!tree.HasTreeState(tsValidated)) {
    tree.QueueCacheValidation();
    tree.WaitForBackgroundValidation();
  }
  ASSERT_TRUE(tree.HasTreeState(tsValidated));
  const std::vector<TVTCacheEntry> expected = tree.ComputePositionCache();
  const std::vector<TVTCacheEntry>& actual = tree.PositionCache();
  ASSERT_EQ(actual.size(), expected.size());
  for (std::size_t i = 0; i < expected.size(); ++i) {
    EXPECT_EQ(actual[i].Node, expected[i].Node);
    EXPECT_EQ(actual[i].AbsoluteTop, expected[i].AbsoluteTop);
  }
}

// Builds `topLevel` nodes, every 10th of which gets 5 children when it is
// initialised, then runs `operations` random changes. The full invariant
// check runs every `checkEvery` operations and at the end.
void RunModel(std::uint32_t topLevel, int operations, int checkEvery, unsigned seed) {
  RecordingTree tree;
  tree.record = false;
  NodeBag bag;
  tree.initNode = [](TVTNode* parent, TVTNode* node, std::uint8_t& states) {
    if (!parent && node->Index % 10 == 0) states |= ivsHasChildren;
  };
  tree.initChildren = [&](TVTNode*, std::uint32_t& count) { count = 5; };
  tree.SetMultiSelect(true);
  // Expanding does not scroll here (that has tests of its own): the tree
  // stays at its top, where finding the topmost row needs no valid cache.
  tree.OptionBits.Auto &= std::uint16_t(~(1u << 3));
  tree.SetRootChildCount(topLevel);
  for (TVTNode* n = tree.FirstNodeRaw(); n; n = n->NextSibling) bag.Add(n);
  EXPECT_EQ(CheckTreeInvariants(tree), topLevel);
  CheckCache(tree);

  std::mt19937 random(seed);
  auto addChildrenToBag = [&](TVTNode* n) {
    for (TVTNode* c = n->FirstChild; c; c = c->NextSibling) {
      if (!bag.Contains(c)) bag.Add(c);
    }
  };
  for (int op = 0; op < operations; ++op) {
    TVTNode* node = bag.Pick(random);
    if (!node) break;
    if (!(node->States & vsInitialized)) {
      tree.InitializeNodeOnDemand(node);
      addChildrenToBag(node);
    }
    switch (std::uniform_int_distribution<int>(0, 7)(random)) {
      case 0:  // expand
        tree.SetExpanded(node, true);
        addChildrenToBag(node);
        break;
      case 1:  // collapse
        tree.SetExpanded(node, false);
        break;
      case 2: {  // add by linking
        TVTNode* n = tree.AllocateNode();
        tree.LinkNode(n, node, std::uniform_int_distribution<int>(1, 4)(random));
        bag.Add(n);
        break;
      }
      case 3:  // add by count
        tree.SetChildCount(node, node->ChildCount + 2);
        addChildrenToBag(node);
        break;
      case 4:  // remove
        bag.RemoveSubtree(tree, node);
        tree.RemoveNode(node);
        break;
      case 5:  // check
        if (node->CheckType == ctNone) tree.SetCheckType(node, ctCheckBox);
        tree.SetCheckState(node, node->CheckState == csCheckedNormal ? csUncheckedNormal : csCheckedNormal);
        break;
      case 6:  // select
        if (node->States & vsSelected)
          tree.RemoveFromSelectionAndNotify(node);
        else
          tree.AddOneToSelection(node, false);
        break;
      default: {  // select a short range
        if (!tree.NodeFullyShown(node)) break;
        TVTNode* to = node;
        for (int i = 0; i < 5 && tree.NextVisibleNodeRaw(to); ++i) to = tree.NextVisibleNodeRaw(to);
        tree.SelectNodeRange(node, to, true);
        break;
      }
    }
    if ((op + 1) % checkEvery == 0) {
      SCOPED_TRACE(op);
      EXPECT_EQ(CheckTreeInvariants(tree), bag.Size());
      CheckCache(tree);
      if (::testing::Test::HasFailure()) return;
    }
  }
  EXPECT_EQ(CheckTreeInvariants(tree), bag.Size());
  CheckCache(tree);
}

TEST(TreeModel, AMillionNodesStayConsistentUnderRandomChanges) {
  RunModel(1000000, 10000, 1000, 43);
}

TEST(TreeModel, EveryOperationKeepsTheInvariants) {
  RunModel(3000, 3000, 1, 7);
}

// MergeIntoSelection against a set model, with both constraints.
TEST(TreeSelection, MergeAgreesWithASetModel) {
  struct Case {
    bool level, sibling, forced;
  };
  for (const Case& c : {Case{false, false, false}, Case{true, false, false}, Case{false, true, false},
                        Case{true, true, false}, Case{true, true, true}}) {
    SCOPED_TRACE(c.level * 4 + c.sibling * 2 + c.forced);
    RecordingTree tree;
    tree.record = false;
    tree.SetLevelSelectConstraint(c.level);
    tree.SetSiblingSelectConstraint(c.sibling);
    tree.SetRootChildCount(20);
    std::vector<TVTNode*> all;
    for (TVTNode* n = tree.FirstNodeRaw(); n; n = n->NextSibling) {
      tree.SetChildCount(n, 4);
      tree.SetExpanded(n, true);
    }
    for (TVTNode* n = tree.FirstNodeRaw(); n; n = tree.NextNodeRaw(n)) all.push_back(n);
    for (std::size_t i = 0; i < all.size(); i += 7) all[i]->States |= vsDisabled;
    std::set<TVTNode*> model;
    int modelLevel = -1;
    TVTNode* modelAnchor = nullptr;
    std::mt19937 random(11);
    for (int op = 0; op < 400; ++op) {
      const int kind = std::uniform_int_distribution<int>(0, 9)(random);
      if (kind == 0) {
        tree.DropAllSelected();
        model.clear();
        modelLevel = -1;
        modelAnchor = tree.RangeAnchor();
        continue;
      }
      if (kind == 1) {
        TVTNode* n = all[std::uniform_int_distribution<std::size_t>(0, all.size() - 1)(random)];
        tree.RemoveFromSelectionAndNotify(n);
        model.erase(n);
        if (model.empty()) {
          modelLevel = -1;
          modelAnchor = tree.RangeAnchor();
        }
        continue;
      }
      std::vector<TVTNode*> batch;
      const int size = std::uniform_int_distribution<int>(1, 12)(random);
      for (int i = 0; i < size; ++i)
        batch.push_back(all[std::uniform_int_distribution<std::size_t>(0, all.size() - 1)(random)]);
      bool expectAdded = false;
      for (TVTNode* n : batch) {
        if (model.count(n)) continue;
        if (!c.forced) {
          if (c.level && modelLevel < 0) modelLevel = tree.NodeLevel(n);
          if (c.sibling && !modelAnchor) modelAnchor = n;
          if (n->States & vsDisabled) continue;
          if (c.level && tree.NodeLevel(n) != modelLevel) continue;
          if (c.sibling && n->Parent != modelAnchor->Parent) continue;
        }
        model.insert(n);
        expectAdded = true;
      }
      EXPECT_EQ(tree.MergeIntoSelection(batch.data(), batch.size(), c.forced), expectAdded);
      const std::vector<TVTNode*> selection = tree.Selection();
      ASSERT_EQ(std::set<TVTNode*>(selection.begin(), selection.end()), model);
      CheckTreeInvariants(tree);
    }
  }
}

TEST(TreeSelection, LazyRemovalAndRanges) {
  RecordingTree tree;
  tree.SetRootChildCount(10);
  std::vector<TVTNode*> nodes;
  for (TVTNode* n = tree.FirstNodeRaw(); n; n = n->NextSibling) nodes.push_back(n);
  tree.SetFocusedNode(nodes[2]);
  // Already selected or disabled: nothing changes.
  EXPECT_TRUE(tree.AddOneToSelection(nodes[1], false));
  EXPECT_FALSE(tree.AddOneToSelection(nodes[1], false));
  nodes[3]->States |= vsDisabled;
  EXPECT_FALSE(tree.AddOneToSelection(nodes[3], false));
  // Tagged entries stay until the array is packed, but are no selection.
  tree.BeginUpdate();
  tree.RemoveFromSelectionArray(nodes[1]);
  EXPECT_EQ(tree.SelectedCount(), 1u);
  EXPECT_TRUE(tree.Selection().empty());
  EXPECT_FALSE(tree.HasSelection());
  EXPECT_EQ(tree.FirstSelectedNode(), nullptr);
  // The only entry is tagged: a newly selected node becomes the anchor.
  tree.SetRangeAnchor(nullptr);
  tree.SetNodeSelected(nodes[6], true);
  EXPECT_EQ(tree.RangeAnchor(), nodes[6]);
  EXPECT_EQ(tree.FirstSelectedNode(), nodes[6]);
  EXPECT_EQ(tree.NextSelectedNode(nodes[6]), nullptr);
  tree.SetNodeSelected(nodes[6], false);
  tree.EndUpdate();
  EXPECT_EQ(tree.SelectedCount(), 0u);
  // Removing the last selected node re-anchors at the focus.
  tree.AddOneToSelection(nodes[5], false);
  tree.SetRangeAnchor(nodes[5]);
  tree.changes.clear();
  tree.RemoveFromSelectionAndNotify(nodes[5]);
  EXPECT_EQ(tree.RangeAnchor(), nodes[2]);
  EXPECT_EQ(tree.changes, std::vector<TVTNode*>{nodes[5]});
  // A range takes every visible node between its ends except disabled ones.
  tree.SelectNodeRange(nodes[7], nodes[2], false);
  EXPECT_EQ(tree.Selection().size(), 5u);
  EXPECT_FALSE(nodes[3]->States & vsSelected);
  // Resizing from the anchor shrinks and grows the range.
  tree.SetRangeAnchor(nodes[2]);
  tree.ResizeRangeSelection(nodes[7], nodes[4]);
  std::vector<TVTNode*> selected = tree.Selection();
  EXPECT_EQ(std::set<TVTNode*>(selected.begin(), selected.end()), (std::set<TVTNode*>{nodes[2], nodes[4]}));
  tree.ResizeRangeSelection(nodes[4], nodes[6]);
  selected = tree.Selection();
  EXPECT_EQ(std::set<TVTNode*>(selected.begin(), selected.end()),
            (std::set<TVTNode*>{nodes[2], nodes[4], nodes[5], nodes[6]}));
  tree.MarkSelectionForClipboard();
  EXPECT_TRUE(nodes[5]->States & vsCutOrCopy);
  EXPECT_FALSE(nodes[3]->States & vsCutOrCopy);
  // One node at a time: without multi-select a new one replaces the old.
  tree.DropAllSelected();
  tree.changes.clear();
  tree.SetMultiSelect(true);
  tree.SetNodeSelected(nodes[0], true);
  tree.SetNodeSelected(nodes[1], true);
  EXPECT_EQ(tree.Selection().size(), 2u);
  tree.SetMultiSelect(false);
  tree.SetNodeSelected(nodes[4], true);
  EXPECT_EQ(tree.Selection(), std::vector<TVTNode*>{nodes[4]});
  tree.SetNodeSelected(nodes[4], false);
  EXPECT_TRUE(tree.Selection().empty());
  EXPECT_EQ(tree.RangeAnchor(), tree.FocusedNode());
  EXPECT_EQ(tree.changes.back(), nodes[4]);
  tree.SetMultiSelect(true);
  tree.SetNodeSelected(nodes[5], true);
  // Removing a selected node inside an update only tags it.
  tree.BeginUpdate();
  tree.RemoveNode(nodes[5]);
  tree.EndUpdate();
  CheckTreeInvariants(tree);
}

}  // namespace
