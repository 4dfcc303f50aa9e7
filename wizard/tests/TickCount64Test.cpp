#include "TickCount64.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <vector>

namespace {

struct TickCase {
  const char* what;
  std::vector<std::uint32_t> readings;
  std::vector<std::uint64_t> expected;
};

TEST(TickCount64, ExtendsReadingsAcrossTheWrap) {
  constexpr std::uint64_t k32 = std::uint64_t{1} << 32;
  const TickCase cases[] = {
      {"counts on from the first reading", {1000, 1500, 1500, 90000}, {1000, 1500, 1500, 90000}},
      {"a first reading past 24.8 days", {0xF0000000u, 0xF0000010u}, {0xF0000000u, 0xF0000010u}},
      {"wraps once", {0xFFFFFF00u, 0x00000100u}, {0xFFFFFF00u, k32 + 0x100}},
      {"wraps twice",
       {0x10u, 0x80000000u, 0xFFFFFFFFu, 0x7FFFFFFEu, 0xF0000000u, 5u},
       {0x10u, 0x80000000u, 0xFFFFFFFFu, k32 + 0x7FFFFFFE, k32 + 0xF0000000u, 2 * k32 + 5}},
      {"a reading behind the kept one never runs back",
       {0x00000200u, 0x00000100u, 0x00000300u},
       {0x200u, 0x200u, 0x300u}},
      {"a stale reading from just before the wrap", {0x00000010u, 0xFFFFFFF0u}, {0x10u, 0x10u}},
      {"a first reading of 0", {0u, 0u, 7u}, {0u, 0u, 7u}},
  };
  for (const TickCase& c : cases) {
    SCOPED_TRACE(c.what);
    std::atomic<std::uint64_t> kept{0};
    ASSERT_EQ(c.readings.size(), c.expected.size());
    for (std::size_t i = 0; i < c.readings.size(); ++i)
      EXPECT_EQ(ExtendTickCount(kept, c.readings[i]), c.expected[i]) << "reading " << i;
  }
}

}  // namespace
