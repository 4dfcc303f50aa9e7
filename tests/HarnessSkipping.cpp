// A binary whose only test skips (as one does when its fixture was not set
// up): the harness must report it as a failure, not as a pass.
#include <gtest/gtest.h>

TEST(Harness, SkipsBecauseItsSetUpIsMissing) {
  GTEST_SKIP() << "no fixture";
}
