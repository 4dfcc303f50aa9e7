// The tree's portable core: a million top-level nodes made, initialised and
// cleared, the position cache, row look-ups, sorting, full expansion,
// selecting and deleting, each beside a reference measured in the same run.
#include "TreeBenchBody.h"

int main() {
  TVirtualTreeCore tree(nullptr, nullptr);
  treebench::Run(tree, "core (native)", nullptr);
  tree.Shutdown();
  return 0;
}
