// Moving nodes within a tree and between trees, the tree ids that name live
// trees, and the deletion after a drag that moved the nodes.
#include <gtest/gtest.h>

#include <memory>

#include "TreeTestSupport.h"
#include "VirtualTreeOptions.h"

namespace {

// Records the node-moving questions and node-moved notes.
class MovingTree : public RecordingTree {
 public:
  ~MovingTree() override { Shutdown(); }
  bool allowMoves = true;
  int asked = 0;
  std::vector<TVTNode*> moved;

 protected:
  bool DoNodeMoving(TVTNode*, TVTNode*) override {
    ++asked;
    return allowMoves;
  }
  void DoNodeMoved(TVTNode* node) override { moved.push_back(node); }
};

// The levels of the tree in tree order.
std::vector<int> Levels(RecordingTree& tree) {
  std::vector<int> levels;
  for (TVTNode* n = tree.FirstNodeRaw(); n; n = tree.NextNodeRaw(n)) levels.push_back(tree.NodeLevel(n));
  return levels;
}

TEST(MoveNodes, WithinTheTreeRelinksPerMode) {
  struct Case {
    int source, target, mode;
    bool childrenOnly;
    std::vector<int> order;  // the original positions in the new tree order
  };
  // Tree: 0 (1, 2), 3, 4.
  const Case cases[] = {
      {3, 0, 1, false, {3, 0, 1, 2, 4}}, {3, 1, 2, false, {0, 1, 3, 2, 4}},  {4, 0, 3, false, {0, 4, 1, 2, 3}},
      {3, 0, 4, false, {0, 1, 2, 3, 4}}, {3, -1, 2, false, {3, 0, 1, 2, 4}},  // no target: first child of the root
      {0, 4, 3, true, {0, 3, 4, 2, 1}},                                       // children one by one as first children
      {0, 4, 4, true, {0, 3, 4, 1, 2}},
  };
  for (const Case& c : cases) {
    RecordingTree tree;
    std::vector<TVTNode*> n = BuildTreeFromLevels(tree, {0, 1, 1, 0, 0});
    tree.MoveNodesTo(n[c.source], c.target < 0 ? nullptr : n[c.target], c.mode, c.childrenOnly);
    std::vector<int> order;
    for (TVTNode* x = tree.FirstNodeRaw(); x; x = tree.NextNodeRaw(x))
      order.push_back(int(std::find(n.begin(), n.end(), x) - n.begin()));
    EXPECT_EQ(order, c.order) << c.source << " -> " << c.target << " mode " << c.mode;
    EXPECT_EQ(CheckTreeInvariants(tree), 5u);
    EXPECT_TRUE(tree.freed.empty());
  }
}

TEST(MoveNodes, ToOwnDescendantRaises2001AndChangesNothing) {
  RecordingTree tree;
  std::vector<TVTNode*> n = BuildTreeFromLevels(tree, {0, 1, 2, 0});
  try {
    tree.MoveNodesTo(n[0], n[2], 4, false);
    FAIL() << "no error";
  } catch (const EVirtualTreeError& error) {
    EXPECT_NE(std::string(error.what()).find("Target node cannot be a child node of the node to be moved."),
              std::string::npos);
  }
  EXPECT_EQ(Levels(tree), (std::vector<int>{0, 1, 2, 0}));
  EXPECT_EQ(CheckTreeInvariants(tree), 4u);
}

TEST(MoveNodes, NothingWithoutModeSourceOrWhenRefused) {
  MovingTree tree;
  std::vector<TVTNode*> n = BuildTreeFromLevels(tree, {0, 0});
  tree.MoveNodesTo(n[0], n[1], 0, false);
  tree.MoveNodesTo(nullptr, n[1], 2, false);
  tree.MoveNodesTo(n[0], n[0], 2, false);
  tree.allowMoves = false;
  tree.MoveNodesTo(n[0], n[1], 2, false);
  EXPECT_EQ(tree.asked, 1);
  EXPECT_EQ(tree.FirstNodeRaw(), n[0]);
  EXPECT_TRUE(tree.structureChanges.empty());
}

TEST(MoveNodes, ToAnotherTreeTravelsAsAStreamAndLeavesTheSource) {
  RecordingTree a;
  MovingTree b;
  std::vector<TVTNode*> na = BuildTreeFromLevels(a, {0, 1, 2, 1, 0});
  std::vector<TVTNode*> nb = BuildTreeFromLevels(b, {0, 0});
  const std::vector<TVTNode*>& moved = b.moved;
  a.SetMultiSelect(true);
  b.SetMultiSelect(true);
  a.SetNodeSelected(na[2], true);
  a.MoveNodesTo(na[0], nb[0], 2, false);
  EXPECT_EQ(Levels(a), (std::vector<int>{0}));
  EXPECT_EQ(Levels(b), (std::vector<int>{0, 0, 1, 2, 1, 0}));
  ASSERT_EQ(moved.size(), 1u);
  EXPECT_EQ(TVirtualTreeCore::CoreOfNode(moved[0]), &b);
  EXPECT_EQ(a.freed.size(), 4u);
  EXPECT_TRUE(a.Selection().empty());
  EXPECT_EQ(b.Selection().size(), 1u) << "the selection travels with the stream";
  EXPECT_EQ(CheckTreeInvariants(a), 1u);
  EXPECT_EQ(CheckTreeInvariants(b), 6u);
  // The change is reported for the place the node left, never for the freed node.
  ASSERT_FALSE(a.structureChanges.empty());
  EXPECT_EQ(a.structureChanges.back().second, crNodeMoved);
  for (const auto& change : a.structureChanges)
    EXPECT_TRUE(std::find(a.freed.begin(), a.freed.end(), change.first) == a.freed.end());

  // Only the children, to the end of the other tree's root.
  RecordingTree c;
  std::vector<TVTNode*> nc = BuildTreeFromLevels(c, {0, 1, 1});
  c.MoveNodesTo(nc[0], b.FirstNodeRaw(), 2, true);  // after b's first node
  EXPECT_EQ(Levels(c), (std::vector<int>{0}));
  EXPECT_EQ(b.TotalNodeCount(), 8u);
  EXPECT_EQ(CheckTreeInvariants(b), 8u);
}

TEST(MoveNodes, TreeIdsNameOnlyLiveTrees) {
  auto a = std::make_unique<RecordingTree>();
  RecordingTree b;
  const std::uint32_t id = a->TreeId();
  EXPECT_NE(id, 0u);
  EXPECT_NE(id, b.TreeId());
  EXPECT_EQ(TVirtualTreeCore::FindTreeById(id), a.get());
  EXPECT_EQ(TVirtualTreeCore::FindTreeById(b.TreeId()), &b);
  a.reset();
  EXPECT_EQ(TVirtualTreeCore::FindTreeById(id), nullptr);
  EXPECT_EQ(TVirtualTreeCore::FindTreeById(0), nullptr);
  EXPECT_EQ(TVirtualTreeCore::FindTreeById(0xDEADBEEF), nullptr);
  static_assert(sizeof(std::declval<RecordingTree&>().TreeId()) == 4);
}

TEST(MoveNodes, SeveralNodesArriveInTheirOrderInEveryMode) {
  // A, B and C carry one, two and three children, so their copies in
  // another tree are told apart too; D and the other tree's nodes have none.
  for (bool otherTree : {false, true}) {
    for (bool atRoot : {false, true}) {
      for (int mode = 1; mode <= 4; ++mode) {
        SCOPED_TRACE(testing::Message() << (otherTree ? "other tree" : "same tree") << (atRoot ? ", root" : "")
                                        << ", mode " << mode);
        RecordingTree source, other;
        std::vector<TVTNode*> n = BuildTreeFromLevels(source, {0, 1, 0, 1, 1, 0, 1, 1, 1, 0, 0});
        std::vector<TVTNode*> o = BuildTreeFromLevels(other, {0, 0, 0});
        RecordingTree& into = otherTree ? other : source;
        TVTNode* target = atRoot ? nullptr : otherTree ? o[1] : n[9];
        source.MoveNodeListTo({n[0], n[2], n[5]}, &into, target, mode);
        // The siblings among which the moved nodes now lie.
        const int placed = atRoot ? (mode <= 2 ? mode + 2 : mode) : mode;
        TVTNode* first = placed >= 3 ? (target ? target->FirstChild : into.FirstNodeRaw())
                                     : (target->Parent ? target->Parent->FirstChild : into.FirstNodeRaw());
        std::vector<std::uint32_t> counts;
        for (TVTNode* x = first; x; x = x->NextSibling)
          if (x->ChildCount > 0) counts.push_back(x->ChildCount);
        EXPECT_EQ(counts, (std::vector<std::uint32_t>{1, 2, 3}));
        EXPECT_EQ(CheckTreeInvariants(source), otherTree ? 2u : 11u);
        EXPECT_EQ(CheckTreeInvariants(other), otherTree ? 12u : 3u);
      }
    }
  }
}

TEST(MoveNodes, MoveDropInTheSameTreeIsNotDeletedAgain) {
  // The drop target (this tree) moves the dragged nodes, ancestor and
  // descendant both selected, then the drag reports "move".
  RecordingTree tree;
  tree.OptionBits.Auto |= voAutoDeleteMovedNodes;
  std::vector<TVTNode*> n = BuildTreeFromLevels(tree, {0, 1, 0, 0});
  tree.SetMultiSelect(true);
  tree.SetNodeSelected(n[0], true);
  tree.SetNodeSelected(n[1], true);
  tree.StartOleDrag([&](std::uint32_t) {
    std::vector<TVTNode*> nodes = tree.DragSelection();
    for (auto it = nodes.rbegin(); it != nodes.rend(); ++it)
      if (!tree.NodeHasAncestor(n[3], *it)) tree.MoveNodesTo(*it, n[3], 4, false);
    tree.NoteDragMovedInProcess();
    return std::uint32_t(2);
  });
  EXPECT_TRUE(tree.freed.empty());
  EXPECT_EQ(tree.TotalNodeCount(), 4u);
  EXPECT_EQ(CheckTreeInvariants(tree), 4u);
}

TEST(MoveNodes, MoveDropOnAnotherTreeDeletesNothingTwice) {
  RecordingTree a, b;
  a.OptionBits.Auto |= voAutoDeleteMovedNodes;
  std::vector<TVTNode*> n = BuildTreeFromLevels(a, {0, 1, 2, 0, 0});
  BuildTreeFromLevels(b, {0});
  a.SetMultiSelect(true);
  for (int i : {0, 2, 3}) a.SetNodeSelected(n[std::size_t(i)], true);
  a.StartOleDrag([&](std::uint32_t) {
    std::vector<TVTNode*> nodes = a.DragSelection();
    for (auto it = nodes.rbegin(); it != nodes.rend(); ++it) a.MoveNodesTo(*it, b.FirstNodeRaw(), 2, false);
    a.NoteDragMovedInProcess();
    return std::uint32_t(2);
  });
  EXPECT_EQ(Levels(a), (std::vector<int>{0}));
  EXPECT_EQ(b.TotalNodeCount(), 5u);
  std::set<TVTNode*> unique(a.freed.begin(), a.freed.end());
  EXPECT_EQ(unique.size(), a.freed.size()) << "a node freed twice";
  EXPECT_EQ(CheckTreeInvariants(a), 1u);
  EXPECT_EQ(CheckTreeInvariants(b), 5u);
}

TEST(MoveNodes, MoveToAnotherProgramStillDeletesAncestorOnce) {
  RecordingTree tree;
  tree.OptionBits.Auto |= voAutoDeleteMovedNodes;
  std::vector<TVTNode*> n = BuildTreeFromLevels(tree, {0, 1, 2, 0});
  tree.SetMultiSelect(true);
  for (int i : {0, 2}) tree.SetNodeSelected(n[std::size_t(i)], true);
  tree.StartOleDrag([](std::uint32_t) { return std::uint32_t(2); });
  EXPECT_EQ(Levels(tree), (std::vector<int>{0}));
  std::set<TVTNode*> unique(tree.freed.begin(), tree.freed.end());
  EXPECT_EQ(unique.size(), 3u);
  EXPECT_EQ(tree.freed.size(), 3u);
}

}  // namespace

namespace {

std::vector<std::uint8_t> TransferBlockOf(RecordingTree& tree) {
  TMemoryStream stream;
  tree.SaveTransferStream(stream);
  const auto size = std::uint32_t(stream.Size());
  std::vector<std::uint8_t> block(4 + size);
  for (int i = 0; i < 4; ++i) block[std::size_t(i)] = std::uint8_t(size >> (8 * i));
  stream.SetPosition(0);
  stream.Read(block.data() + 4, size);
  return block;
}

TEST(TransferBlock, CopiedNodesArriveWithTheirSubtreesInOrder) {
  RecordingTree a, b;
  std::vector<TVTNode*> n = BuildTreeFromLevels(a, {0, 1, 2, 0, 0});
  BuildTreeFromLevels(b, {0});
  for (int i : {0, 2, 4}) n[std::size_t(i)]->States |= vsCutOrCopy;
  a.SetTreeState(tsCopyPending, true);
  std::vector<std::uint8_t> block = TransferBlockOf(a);
  b.InsertTransferBlock(block.data(), block.size(), b.FirstNodeRaw(), 2);  // after b's node, one by one
  // Node 2 is a descendant of node 0 and travels with it; each insertion goes right after the target.
  EXPECT_EQ(Levels(b), (std::vector<int>{0, 0, 0, 1, 2}));
  EXPECT_EQ(CheckTreeInvariants(b), 5u);
  EXPECT_EQ(a.TotalNodeCount(), 5u);
}

TEST(TransferBlock, SizeBeyondTheBlockIsRefused) {
  RecordingTree a, b;
  std::vector<TVTNode*> n = BuildTreeFromLevels(a, {0, 1});
  n[0]->States |= vsCutOrCopy;
  std::vector<std::uint8_t> block = TransferBlockOf(a);
  const std::size_t streamSize = block.size() - 4;
  struct Case {
    std::uint32_t prefix;
    std::size_t blockSize;
    bool accepted;
  };
  const Case cases[] = {{std::uint32_t(streamSize), block.size(), true},
                        {std::uint32_t(streamSize + 1), block.size(), false},
                        {0xFFFFFFFFu, block.size(), false},
                        {0, 3, false},
                        {0, 4, true}};
  for (const Case& c : cases) {
    for (int i = 0; i < 4; ++i) block[std::size_t(i)] = std::uint8_t(c.prefix >> (8 * i));
    const std::uint32_t before = b.TotalNodeCount();
    if (c.accepted) {
      EXPECT_NO_THROW(b.InsertTransferBlock(block.data(), c.blockSize, nullptr, 4));
    } else {
      EXPECT_THROW(b.InsertTransferBlock(block.data(), c.blockSize, nullptr, 4), EVirtualTreeError);
      EXPECT_EQ(b.TotalNodeCount(), before);
    }
    EXPECT_EQ(b.UpdateCount(), 0);
  }
  EXPECT_EQ(CheckTreeInvariants(b), 2u);
}

}  // namespace
