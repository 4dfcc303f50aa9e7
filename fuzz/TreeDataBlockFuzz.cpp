// Arbitrary bytes as a transfer block from the clipboard ({u32 size, then a
// node stream without header}), inserted into a string tree that keeps
// captions and 8 bytes of user data per node, at the root and after a node.
// Bad input ends in the tree's stream error; afterwards the tree's links,
// counts, heights and selection must agree.
#include "TreeFuzzSupport.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  NullHost host;
  CaptionTree tree(&host, size > 0 && (data[0] & 1));
  TVTNode* first = tree.AllocateNode();
  tree.LinkNode(first, nullptr, 4);
  for (TVTNode* target : {static_cast<TVTNode*>(nullptr), first}) {
    try {
      tree.InsertTransferBlock(data, size, target, target ? 2 : 4);
    } catch (const EVirtualTreeError&) {
    } catch (const EReadError&) {
    }
    CheckTree(tree);
  }
  return 0;
}
