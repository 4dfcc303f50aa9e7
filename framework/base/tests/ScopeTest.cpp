#include "Scope.h"

#include <gtest/gtest.h>

#include <string>
#include <type_traits>
#include <vector>

#include "Exceptions.h"

namespace {

// Records the calls it gets; EndUpdate raises when asked to.
struct TUpdatable {
  std::vector<std::string> calls;
  int depth = 0;
  bool endRaises = false;
  void BeginUpdate() {
    ++depth;
    calls.push_back("begin");
  }
  void EndUpdate() {
    --depth;
    calls.push_back("end");
    if (endRaises) throw EListError("change handler failed");
  }
};

std::vector<std::string> g_swallowed;
void RecordSwallowed(const char* where, const std::exception_ptr&) {
  g_swallowed.push_back(where);
}

}  // namespace

static_assert(!std::is_copy_constructible_v<TUpdateScope<TUpdatable>>);
static_assert(!std::is_copy_assignable_v<TUpdateScope<TUpdatable>>);

TEST(ScopeExit, RunsOnEveryWayOutUnlessReleased) {
  int runs = 0;
  {
    TScopeExit count([&] { ++runs; });
  }
  EXPECT_EQ(runs, 1);
  try {
    TScopeExit count([&] { ++runs; });
    throw EAbort("leaving");
  } catch (const EAbort&) {
  }
  EXPECT_EQ(runs, 2) << "an exception leaving the block runs the action";
  auto early = [&](bool leave) {
    TScopeExit count([&] { ++runs; });
    if (leave) return;
    count.Release();
  };
  early(true);
  EXPECT_EQ(runs, 3) << "a return runs the action";
  early(false);
  EXPECT_EQ(runs, 3) << "a released action does not run";
  auto action = [&] { ++runs; };
  static_assert(!std::is_copy_constructible_v<TScopeExit<decltype(action)>>);
}

TEST(UpdateScope, EndsTheUpdateOnEveryWayOut) {
  TUpdatable t;
  {
    TUpdateScope update(t);
    EXPECT_EQ(t.depth, 1);
  }
  EXPECT_EQ(t.depth, 0);
  EXPECT_THROW(
      {
        TUpdateScope update(t);
        throw EStreamError("failed in the middle");
      },
      EStreamError);
  EXPECT_EQ(t.depth, 0);
  EXPECT_EQ(t.calls, (std::vector<std::string>{"begin", "end", "begin", "end"}));
}

TEST(UpdateScope, AnErrorOfEndUpdateReachesTheCallerUnlessAnotherIsUnwinding) {
  const TSwallowedExceptionHook previous = SetSwallowedExceptionHook(&RecordSwallowed);
  g_swallowed.clear();
  TUpdatable t;
  t.endRaises = true;
  EXPECT_THROW({ TUpdateScope update(t); }, EListError) << "a normal end passes the change handler's error on";
  EXPECT_TRUE(g_swallowed.empty());

  // The first error is the one the caller gets; the second one is named.
  EXPECT_THROW(
      {
        TUpdateScope update(t);
        throw EStreamError("first");
      },
      EStreamError);
  EXPECT_EQ(t.depth, 0);
  ASSERT_EQ(g_swallowed.size(), 1u);
  EXPECT_EQ(g_swallowed[0], "TUpdateScope: ending an update while an earlier error unwinds");

  // A scope opened inside a handler (one error already in flight) still passes its own error on.
  g_swallowed.clear();
  try {
    throw EAbort("outer");
  } catch (const EAbort&) {
    EXPECT_THROW({ TUpdateScope update(t); }, EListError);
  }
  EXPECT_TRUE(g_swallowed.empty());
  SetSwallowedExceptionHook(previous);
}
