// Arbitrary bytes as a saved tree, loaded into a string tree that keeps captions and
// 8 bytes of user data per node. Bad input ends in the tree's stream error;
// afterwards the tree's links, counts, heights and selection must agree.
#include "TreeFuzzSupport.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  NullHost host;
  CaptionTree tree(&host, size > 0 && (data[0] & 1));
  TOwned<TReadOnlyMemoryStream> stream(New<TReadOnlyMemoryStream>(data, size));
  try {
    tree.LoadTreeFromStream(*stream);
  } catch (const EVirtualTreeError&) {
  } catch (const EReadError&) {
  }
  CheckTree(tree);
  return 0;
}
