#include <gtest/gtest.h>

#include "PlatformIdWin.h"
#include "SerialPorts.h"

TEST(PlatformIdWin, TheNtLineIsReported) {
  SetPlatformId(PlatformWin9x);
  InitPlatformId();
  EXPECT_EQ(GetPlatformId(), PlatformNT);
}
