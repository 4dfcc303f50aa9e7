#include "Swallow.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "Exceptions.h"

namespace {

struct Seen {
  std::string where;
  std::string error;  // "<class>: <message>", or "none" without a current exception
};
std::vector<Seen> g_seen;

std::string Describe(const std::exception_ptr& error) {
  if (!error) return "none";
  try {
    std::rethrow_exception(error);
  } catch (const Exception& e) {
    return std::string(e.ClassName()) + ": " + e.Message;
  } catch (const std::exception& e) {
    return std::string("std::exception: ") + e.what();
  } catch (int code) {
    return "int: " + std::to_string(code);
  } catch (...) {
    return "unknown";
  }
}

void Record(const char* where, const std::exception_ptr& error) {
  g_seen.push_back({where, Describe(error)});
}

void Raising(const char*, const std::exception_ptr&) {
  throw std::runtime_error("the hook failed");
}

// Installs a hook for one test and puts the previous one back.
class HookScope {
 public:
  explicit HookScope(TSwallowedExceptionHook hook) : previous_(SetSwallowedExceptionHook(hook)) { g_seen.clear(); }
  ~HookScope() { SetSwallowedExceptionHook(previous_); }

 private:
  TSwallowedExceptionHook previous_;
};

}  // namespace

static_assert(noexcept(SwallowException("x")), "the helper is used in clean-up and must never throw");

TEST(Swallow, TheHookSeesTheLabelAndTheError) {
  HookScope hook(&Record);
  struct Case {
    void (*raise)();
    const char* where;
    const char* error;
  } cases[] = {
      {[] { throw EListError("List index out of bounds (3)"); }, "TList.Get: reading past the end",
       "EListError: List index out of bounds (3)"},
      {[] { throw std::runtime_error("no link"); }, "TNokiaPhone.Request: sending the message",
       "std::exception: no link"},
      {[] { throw 7; }, "Somewhere: throwing a number", "int: 7"},
  };
  for (const Case& c : cases) {
    try {
      c.raise();
    } catch (...) {
      SwallowException(c.where);
    }
  }
  ASSERT_EQ(g_seen.size(), 3u);
  for (std::size_t i = 0; i < g_seen.size(); ++i) {
    EXPECT_EQ(g_seen[i].where, cases[i].where);
    EXPECT_EQ(g_seen[i].error, cases[i].error);
  }
}

TEST(Swallow, SetReturnsThePreviousHookAndNullMeansNone) {
  const TSwallowedExceptionHook original = SetSwallowedExceptionHook(&Record);
  EXPECT_EQ(GetSwallowedExceptionHook(), &Record);
  EXPECT_EQ(SetSwallowedExceptionHook(nullptr), &Record);
  g_seen.clear();
  try {
    throw EAbort("quiet");
  } catch (...) {
    SwallowException("nobody listens");
  }
  EXPECT_TRUE(g_seen.empty());
  EXPECT_EQ(SetSwallowedExceptionHook(original), nullptr);
}

TEST(Swallow, AFailingHookDoesNotEscapeAndOutsideAHandlerTheErrorIsNone) {
  {
    HookScope hook(&Raising);
    try {
      throw EStreamError("first");
    } catch (...) {
      SwallowException("TStream.Free: closing the file");  // must return normally
    }
  }
  HookScope hook(&Record);
  SwallowException("no error is being handled");
  ASSERT_EQ(g_seen.size(), 1u);
  EXPECT_EQ(g_seen[0].error, "none");
}

TEST(Swallow, OtherThreadsReachTheHook) {
  HookScope hook(&Record);
  std::thread worker([] {
    try {
      throw EThread("worker failed");
    } catch (...) {
      SwallowException("TWorker.Execute: ending the loop");
    }
  });
  worker.join();
  ASSERT_EQ(g_seen.size(), 1u);
  EXPECT_EQ(g_seen[0].where, "TWorker.Execute: ending the loop");
  EXPECT_EQ(g_seen[0].error, "EThread: worker failed");
}
