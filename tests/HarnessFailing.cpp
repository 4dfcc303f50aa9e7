// A test binary whose only test fails; the harness must report it.
#include <gtest/gtest.h>

TEST(Harness, FailingTestIsReported) {
  EXPECT_EQ(1, 2);
}
