// Errors dropped on purpose by the framework still reach the swallowed-error
// hook, under the name of the place that dropped them.
#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "Swallow.h"
#include "Thread.h"

namespace {

std::vector<std::string> g_places;
std::vector<std::string> g_messages;

void Record(const char* where, const std::exception_ptr& error) {
  g_places.push_back(where);
  try {
    std::rethrow_exception(error);
  } catch (const std::exception& e) {
    g_messages.push_back(e.what());
  }
}

}  // namespace

TEST(SwallowedPlaces, AFailedQueuedCallIsNamedAndTheQueueGoesOn) {
  SetMainThreadID(CurrentThreadID());
  const TSwallowedExceptionHook previous = SetSwallowedExceptionHook(&Record);
  g_places.clear();
  g_messages.clear();
  bool secondRan = false;
  QueueMainThreadCall([] { throw std::runtime_error("queued call failed"); });
  QueueMainThreadCall([&] { secondRan = true; });
  EXPECT_TRUE(CheckSynchronize(0));
  SetSwallowedExceptionHook(previous);
  EXPECT_TRUE(secondRan);
  EXPECT_EQ(g_places, std::vector<std::string>{"CheckSynchronize: running a queued call"});
  EXPECT_EQ(g_messages, std::vector<std::string>{"queued call failed"});
}
