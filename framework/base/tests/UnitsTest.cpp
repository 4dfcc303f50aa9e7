#include "Units.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

namespace {

std::string g_log;
bool g_failInit = false;

void InitA() {
  g_log += "+A";
}
void FiniA() {
  g_log += "-A";
}
void InitB() {
  if (g_failInit) throw std::runtime_error("B failed");
  g_log += "+B";
}
void FiniB() {
  g_log += "-B";
  throw std::runtime_error("fini B");
}
void InitC() {
  g_log += "+C";
}
void FiniC() {
  g_log += "-C";
}

struct UnitTableTest : ::testing::Test {
  UnitEntry table[4] = {{"A", InitA, FiniA}, {"NoOps", nullptr, nullptr}, {"B", InitB, FiniB}, {"C", InitC, FiniC}};
  void SetUp() override {
    g_log.clear();
    g_failInit = false;
    SetUnitTable(table, 4);
  }
  void TearDown() override {
    try {
      RunUnitFinalizations();
    } catch (...) {
    }
    SetUnitTable(nullptr, 0);
  }
};

TEST_F(UnitTableTest, InitializesInOrderAndFinalizesInReverseEvenWhenAFiniThrows) {
  RunUnitInitializations();
  RunUnitInitializations();  // a second run does nothing
  EXPECT_EQ(g_log, "+A+B+C");
  EXPECT_EQ(InitializedUnitCount(), 4u);
  EXPECT_THROW(RunUnitFinalizations(), std::runtime_error);
  EXPECT_EQ(g_log, "+A+B+C-C-B-A");
  EXPECT_EQ(InitializedUnitCount(), 0u);
}

TEST_F(UnitTableTest, FailedInitializationFinalizesOnlyTheUnitsBeforeIt) {
  g_failInit = true;
  EXPECT_THROW(RunUnitInitializations(), std::runtime_error);
  EXPECT_EQ(InitializedUnitCount(), 2u);
  RunUnitFinalizations();
  EXPECT_EQ(g_log, "+A-A");
}

TEST_F(UnitTableTest, TheUnitExceptionHookHearsEachEscapingException) {
  static std::string heard;
  heard.clear();
  UnitExceptionHook = [](const UnitEntry& unit, bool initialization, std::exception_ptr error) {
    try {
      std::rethrow_exception(error);
    } catch (const std::exception& e) {
      heard += std::string(initialization ? "init " : "fini ") + unit.name + ": " + e.what() + ";";
    }
    throw std::logic_error("dropped");  // a failing hook changes nothing
  };
  g_failInit = true;
  EXPECT_THROW(RunUnitInitializations(), std::runtime_error);
  EXPECT_EQ(heard, "init B: B failed;");
  RunUnitFinalizations();
  g_failInit = false;
  RunUnitInitializations();
  EXPECT_THROW(RunUnitFinalizations(), std::runtime_error);
  UnitExceptionHook = nullptr;
  EXPECT_EQ(heard, "init B: B failed;fini B: fini B;");
}

TEST_F(UnitTableTest, EntriesCanBeWrappedBySwappingPointers) {
  static void (*savedInit)() = nullptr;
  savedInit = table[3].init;
  table[3].init = [] {
    g_log += "[";
    savedInit();
    g_log += "]";
  };
  RunUnitInitializations();
  EXPECT_EQ(g_log, "+A+B[+C]");
}

}  // namespace
