#include "TimerArming.h"

#include <gtest/gtest.h>

namespace {

TEST(TimerArmingTest, FiresOnlyWithAnIntervalEnabledAndAHandlerInTheModeThreadedSelects) {
  struct Case {
    bool enabled;
    unsigned interval;
    bool handler, threaded;
    TTimerMode mode;
  };
  const Case cases[] = {
      {true, 50, true, true, TTimerMode::Thread}, {true, 50, true, false, TTimerMode::Window},
      {true, 0, true, true, TTimerMode::Off},     {true, 0, true, false, TTimerMode::Off},
      {false, 50, true, true, TTimerMode::Off},   {true, 50, false, false, TTimerMode::Off},
  };
  for (const Case& c : cases) {
    const TTimerSettings s{c.enabled, c.interval, c.handler, c.threaded};
    EXPECT_EQ(ArmedMode(s), c.mode) << c.enabled << " " << c.interval << " " << c.handler << " " << c.threaded;
  }
}

TEST(TimerArmingTest, HandlerAndPriorityChangesRearmOnlyWhenTheyMatter) {
  EXPECT_FALSE(HandlerChangeRearms(true, true)) << "one handler to another";
  EXPECT_TRUE(HandlerChangeRearms(true, false));
  EXPECT_TRUE(HandlerChangeRearms(false, true));
  EXPECT_FALSE(HandlerChangeRearms(false, false));
  EXPECT_TRUE(PriorityChangeRearms(TTimerSettings{true, 50, true, true}));
  EXPECT_FALSE(PriorityChangeRearms(TTimerSettings{true, 50, true, false})) << "window mode";
}

}  // namespace
